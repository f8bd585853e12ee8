#include "hosted_engine_control.h"

#include "link/hosted_engine_device.h"
#include "vh/enginehost/engine_host.h"

namespace kelm::link {

namespace {
vh::enginehost::EngineHost* hosted = nullptr;
}

void SetHostedEngine(vh::enginehost::EngineHost* host) { hosted = host; }
vh::enginehost::EngineHost* HostedEngine() { return hosted; }

namespace detail {

bool HostedEnginePresent() { return hosted != nullptr; }

bool HostedDeviceControl(const std::u16string& device, uint32_t code, void* in, uint32_t inLen,
                         void* out, uint32_t outLen, int32_t* status, uint32_t* bytesReturned) {
  if (hosted == nullptr) return false;
  const hk::UserIoResult result = hosted->Control(code, in, inLen, out, outLen, device);
  *status = result.status;
  *bytesReturned = result.bytesReturned;
  return true;
}

}  // namespace detail
}  // namespace kelm::link

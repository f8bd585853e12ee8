// The in-process engine device (see hosted_engine_device.h).
// The second needs <windows.h> first.
// clang-format off
#include <windows.h>
#include <winternl.h>
// clang-format on

#include <memory>
#include <set>

#include "hosted_engine_control.h"
#include "link/engine_device.h"
#include "link/hosted_engine_device.h"

namespace kelm::link {

namespace {

THostedAnswerHook g_answerHook = nullptr;

struct OpenedDevice {
  std::u16string name;
};

class THostedEngineDevice final : public TEngineDevice {
 public:
  EngineHandle Open(const std::u16string& name, uint32_t* error) override {
    // The device exists while an engine is hosted (its control device is
    // made by the entry routine and lives until the engine is torn down).
    if (!detail::HostedEnginePresent()) {
      *error = ERROR_FILE_NOT_FOUND;
      return InvalidEngineHandle();
    }
    auto* opened = new OpenedDevice{name};
    handles_.insert(opened);
    return opened;
  }

  bool Control(EngineHandle handle, uint32_t code, void* in, uint32_t inLen, void* out,
               uint32_t outLen, uint32_t* bytesReturned, uint32_t* error) override {
    *bytesReturned = 0;
    auto* opened = static_cast<OpenedDevice*>(handle);
    if (handles_.count(opened) == 0) {
      *error = ERROR_INVALID_HANDLE;
      return false;
    }
    int32_t status = 0;
    uint32_t returned = 0;
    if (!detail::HostedDeviceControl(opened->name, code, in, inLen, out, outLen, &status,
                                     &returned)) {
      *error = ERROR_FILE_NOT_FOUND;  // the engine went away under the handle
      return false;
    }
    *bytesReturned = returned;
    // DeviceIoControl succeeds only on a success status; warnings fail too.
    if (status < 0) {
      *error = RtlNtStatusToDosError(status);
      return false;
    }
    if (g_answerHook) g_answerHook(code, out, returned);
    return true;
  }

  void Close(EngineHandle handle) override {
    auto* opened = static_cast<OpenedDevice*>(handle);
    if (handles_.erase(opened) != 0) delete opened;
  }

 private:
  std::set<OpenedDevice*> handles_;
};

}  // namespace

void SetHostedAnswerHook(THostedAnswerHook hook) { g_answerHook = hook; }

TEngineDevice& EngineDevice() {
  static THostedEngineDevice device;
  return device;
}

}  // namespace kelm::link

#include "vh/enginehost/engine_host.h"

#include <utility>

#include "hostkernel/control.h"

namespace vh::enginehost {

NTSTATUS EngineHost::Start(const storage::MachineOptions& options,
                           std::unique_ptr<EngineHost>* out) {
  hk::ResetKernel();
  std::unique_ptr<EngineHost> host(new EngineHost);
  NTSTATUS status = storage::InstalledMachine::Build(options, &host->machine_);
  if (NT_SUCCESS(status)) status = host->boot_.Boot(*host->machine_);
  if (!NT_SUCCESS(status)) return status;  // the destructor gives back what was taken
  *out = std::move(host);
  return STATUS_SUCCESS;
}

NTSTATUS EngineHost::Start(std::unique_ptr<EngineHost>* out) {
  return Start(storage::MachineOptions{}, out);
}

hk::UserIoResult EngineHost::Control(ULONG code, const void* in, ULONG inLen, void* out,
                                     ULONG outLen, std::u16string_view device) {
  return hk::UserDeviceIoControl(device, code, in, inLen, out, outLen);
}

NTSTATUS EngineHost::ReadHeaderOnImage(EngineHeader* header) const {
  return machine_->Installed().ReadEngineSectors(0, kEngineHeaderSectors, header);
}

void EngineHost::TearDown() {
  if (stopped_) return;
  stopped_ = true;
  boot_.TearDown(machine_.get());
  machine_.reset();
}

std::string EngineHost::Stop() {
  TearDown();
  return hk::LeakReport();
}

EngineHost::~EngineHost() {
  TearDown();
  hk::ResetKernel();
}

}  // namespace vh::enginehost

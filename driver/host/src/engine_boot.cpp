#include "vh/enginehost/engine_boot.h"

#include "driver_entry.h"
#include "engine.h"
#include "engine_state.h"
#include "hostkernel/call_and_wait.h"
#include "hostkernel/control.h"

namespace vh::enginehost {

namespace {

// A request without buffers (or an IOCTL when `code` is set), awaited at
// PASSIVE_LEVEL when it pends.
NTSTATUS Send(PDEVICE_OBJECT target, UCHAR major, UCHAR minor, ULONG code = 0) {
  KEVENT event;
  KeInitializeEvent(&event, NotificationEvent, FALSE);
  IO_STATUS_BLOCK ioStatus{};
  PIRP irp =
      major == IRP_MJ_DEVICE_CONTROL
          ? IoBuildDeviceIoControlRequest(code, target, nullptr, 0, nullptr, 0, FALSE, &event,
                                          &ioStatus)
          : IoBuildSynchronousFsdRequest(major, target, nullptr, 0, nullptr, &event, &ioStatus);
  if (irp == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  IoGetNextIrpStackLocation(irp)->MinorFunction = minor;
  NTSTATUS status = hk::CallDriverAndWait(target, irp, &event, &ioStatus);
  return status;
}

}  // namespace

// hk::LoadDriver does the same but keeps its copy of the key past the
// kernel's reset, which the leak sanitizer reports.
NTSTATUS EngineBoot::Load(std::u16string_view serviceKey) {
  driver_ = hk::CreateTestDriver(u"\\Driver\\Varnholt");
  if (driver_ == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  serviceKey_ = serviceKey;
  UNICODE_STRING key;
  key.Buffer = &serviceKey_[0];
  key.Length = static_cast<USHORT>(serviceKey_.size() * sizeof(char16_t));
  key.MaximumLength = key.Length;
  return DriverEntry(driver_, &key);
}

NTSTATUS EngineBoot::Attach(PDEVICE_OBJECT volume) {
  if (volume == nullptr || driver_ == nullptr || driver_->DriverExtension->AddDevice == nullptr)
    return STATUS_NO_SUCH_DEVICE;
  NTSTATUS status = driver_->DriverExtension->AddDevice(driver_, volume);
  if (!NT_SUCCESS(status)) return status;
  return Send(IoGetAttachedDevice(volume), IRP_MJ_PNP, IRP_MN_START_DEVICE);
}

NTSTATUS EngineBoot::Online(PDEVICE_OBJECT volume) {
  return Send(IoGetAttachedDevice(volume), IRP_MJ_DEVICE_CONTROL, 0, IOCTL_VOLUME_ONLINE);
}

NTSTATUS EngineBoot::Arrive(PDEVICE_OBJECT volume) {
  NTSTATUS status = Attach(volume);
  return NT_SUCCESS(status) ? Online(volume) : status;
}

NTSTATUS EngineBoot::Arrive(storage::InstalledMachine& machine, uint32_t partition) {
  return Arrive(machine.Storage().VolumeDevice(partition));
}

void EngineBoot::Reinitialise() { hk::RunReinitialization(); }

NTSTATUS EngineBoot::Boot(storage::InstalledMachine& machine) {
  NTSTATUS status = Load(machine.ServiceKey());
  if (NT_SUCCESS(status)) status = Arrive(machine, 1);
  for (const storage::OtherVolume& other : machine.Installed().others) {
    if (!NT_SUCCESS(status)) break;
    status = Arrive(machine, other.volume->PartitionInfo().number);
  }
  if (NT_SUCCESS(status)) Reinitialise();
  return status;
}

void EngineBoot::TearDown(const std::vector<PDEVICE_OBJECT>& volumes) {
  if (driver_ != nullptr) {
    if (EngineControlDevice != nullptr) Send(EngineControlDevice, IRP_MJ_SHUTDOWN, 0);
    for (PDEVICE_OBJECT volume : volumes) {
      if (volume == nullptr) continue;
      PDEVICE_OBJECT top = IoGetAttachedDevice(volume);
      if (top != volume) Send(top, IRP_MJ_PNP, IRP_MN_REMOVE_DEVICE);
    }
    EngineTeardown(driver_);
    driver_ = nullptr;
  }
  ResetEngineGlobals();
}

void EngineBoot::TearDown(storage::InstalledMachine* machine) {
  std::vector<PDEVICE_OBJECT> volumes;
  for (uint32_t partition = 1; machine != nullptr && partition <= 4; ++partition)
    volumes.push_back(machine->Storage().VolumeDevice(partition));
  TearDown(volumes);
}

}  // namespace vh::enginehost

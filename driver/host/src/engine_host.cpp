#include "vh/enginehost/engine_host.h"

#include <utility>

#include "engine.h"
#include "hostkernel/control.h"

namespace vh::enginehost {

namespace {

// Waits for a request that may pend; PASSIVE_LEVEL, woken by its completion.
NTSTATUS Await(PIRP irp, PDEVICE_OBJECT target, KEVENT* event, IO_STATUS_BLOCK* ioStatus) {
  NTSTATUS status = IoCallDriver(target, irp);
  if (status == STATUS_PENDING) {
    KeWaitForSingleObject(event, Executive, KernelMode, FALSE, nullptr);
    status = ioStatus->Status;
  }
  return status;
}

NTSTATUS SendRequest(PDEVICE_OBJECT target, UCHAR major, UCHAR minor = 0) {
  KEVENT event;
  KeInitializeEvent(&event, NotificationEvent, FALSE);
  IO_STATUS_BLOCK ioStatus{};
  PIRP irp = IoBuildSynchronousFsdRequest(major, target, nullptr, 0, nullptr, &event, &ioStatus);
  if (irp == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  IoGetNextIrpStackLocation(irp)->MinorFunction = minor;
  return Await(irp, target, &event, &ioStatus);
}

NTSTATUS SendIoctl(PDEVICE_OBJECT target, ULONG code) {
  KEVENT event;
  KeInitializeEvent(&event, NotificationEvent, FALSE);
  IO_STATUS_BLOCK ioStatus{};
  PIRP irp =
      IoBuildDeviceIoControlRequest(code, target, nullptr, 0, nullptr, 0, FALSE, &event, &ioStatus);
  if (irp == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  return Await(irp, target, &event, &ioStatus);
}

// The engine's filter on a volume, or none.
PDEVICE_OBJECT FilterOf(PDEVICE_OBJECT volume) {
  if (volume == nullptr) return nullptr;
  PDEVICE_OBJECT top = IoGetAttachedDevice(volume);
  return top == volume ? nullptr : top;
}

}  // namespace

NTSTATUS EngineHost::Start(const storage::MachineOptions& options,
                           std::unique_ptr<EngineHost>* out) {
  hk::ResetKernel();
  std::unique_ptr<EngineHost> host(new EngineHost);
  NTSTATUS status = storage::InstalledMachine::Build(options, &host->machine_);
  if (NT_SUCCESS(status)) status = host->Boot();
  if (!NT_SUCCESS(status)) return status;  // the destructor gives back what was taken
  *out = std::move(host);
  return STATUS_SUCCESS;
}

NTSTATUS EngineHost::Start(std::unique_ptr<EngineHost>* out) {
  return Start(storage::MachineOptions{}, out);
}

// The boot loader's order: the entry routine at PASSIVE_LEVEL with the
// service key, then PnP brings each volume up, then the reinitialisation
// round that finds \SystemRoot.
NTSTATUS EngineHost::Boot() {
  driver_ = hk::CreateTestDriver(u"\\Driver\\Varnholt");
  if (driver_ == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  serviceKey_ = machine_->ServiceKey();
  UNICODE_STRING key;
  key.Buffer = &serviceKey_[0];
  key.Length = static_cast<USHORT>(serviceKey_.size() * sizeof(char16_t));
  key.MaximumLength = key.Length;
  NTSTATUS status = DriverEntry(driver_, &key);
  if (NT_SUCCESS(status)) status = ArriveVolume(1);
  for (const storage::OtherVolume& other : machine_->Installed().others) {
    if (!NT_SUCCESS(status)) break;
    status = ArriveVolume(other.volume->PartitionInfo().number);
  }
  if (NT_SUCCESS(status)) hk::RunReinitialization();
  return status;
}

NTSTATUS EngineHost::ArriveVolume(uint32_t partition) {
  PDEVICE_OBJECT volume = machine_->Storage().VolumeDevice(partition);
  if (volume == nullptr || driver_->DriverExtension->AddDevice == nullptr)
    return STATUS_NO_SUCH_DEVICE;
  NTSTATUS status = driver_->DriverExtension->AddDevice(driver_, volume);
  if (!NT_SUCCESS(status)) return status;
  PDEVICE_OBJECT top = IoGetAttachedDevice(volume);
  status = SendRequest(top, IRP_MJ_PNP, IRP_MN_START_DEVICE);
  if (NT_SUCCESS(status)) status = SendIoctl(top, IOCTL_VOLUME_ONLINE);
  return status;
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
  if (driver_ != nullptr) {
    if (EngineControlDevice != nullptr) SendRequest(EngineControlDevice, IRP_MJ_SHUTDOWN);
    if (machine_) {
      for (uint32_t partition = 1; partition <= 4; ++partition) {
        PDEVICE_OBJECT filter = FilterOf(machine_->Storage().VolumeDevice(partition));
        if (filter != nullptr) SendRequest(filter, IRP_MJ_PNP, IRP_MN_REMOVE_DEVICE);
      }
    }
    EngineTeardown(driver_);
  }
  machine_.reset();
  EngineDriverObject = nullptr;
  EngineControlDevice = nullptr;
  EngineRawDiskFilter = nullptr;
  EnginePrimaryVolume = nullptr;
  driver_ = nullptr;
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

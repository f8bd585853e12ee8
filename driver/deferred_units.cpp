// Entry points of the engine units that are built separately (the
// copy-on-write path, the control protocol, temporary mode, snapshot
// drives, block release, the boot-area check). Start-up, dispatch and
// shutdown call them; until each unit lands, each does the least that is
// true: nothing here claims work it did not do.
#include "engine.h"

namespace {

NTSTATUS CompleteRequest(PIRP irp, NTSTATUS status) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = 0;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

}  // namespace

// The control protocol: no request code is handled yet.
NTSTATUS EngineControlIoctl(PDEVICE_OBJECT, PIRP irp) {
  return CompleteRequest(irp, STATUS_NOT_IMPLEMENTED);
}

// Temporary mode redirects reads and writes; nothing enters that mode until
// its unit can start it, so a request here goes down unchanged.
NTSTATUS SplitRedirectedIo(PDEVICE_OBJECT device, PIRP irp) {
  return EngineDispatchPassThrough(device, irp);
}

// Snapshot drives: none can be created yet, so no request reaches one.
NTSTATUS MountDeviceDispatch(PDEVICE_OBJECT, PIRP irp) {
  return CompleteRequest(irp, STATUS_INVALID_DEVICE_REQUEST);
}

NTSTATUS DeleteMountDevice(PDEVICE_OBJECT mountDevice) {
  return mountDevice == nullptr ? STATUS_INVALID_PARAMETER : STATUS_NOT_IMPLEMENTED;
}

// The boot-area check at shutdown reads and rewrites disk 0 through the
// raw-disk filter and cannot run without it. The protected volume on NTFS
// needs no check; the FAT32 check itself lives in the rollback unit.
NTSTATUS RecheckBootRestorer(PDEVICE_OBJECT volume) {
  if (EngineRawDiskFilter == nullptr) {
    DbgPrint("ERROR:%s (%d): VOL %08x\n", EngineLogTag, __LINE__, STATUS_NO_SUCH_DEVICE);
    return STATUS_NO_SUCH_DEVICE;
  }
  auto* extension = static_cast<PVolumeFilterExtension>(volume->DeviceExtension);
  return extension->FileSystemKind == vh::kFileSystemNtfs ? STATUS_SUCCESS : STATUS_NOT_IMPLEMENTED;
}

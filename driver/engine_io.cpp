// The engine's synchronous I/O helpers, the engine lock and the pause
// handshake with a volume's worker. Everything here blocks on kernel events
// and runs at PASSIVE_LEVEL, in system threads or the control device's
// dispatch path.
#include "engine.h"

namespace {

constexpr ULONG SectorBytes = vh::kSectorBytes;

// The control device, the raw-disk filter and snapshot drives are never
// volumes for the lookups and the engine transfers.
bool IsEngineVolume(PDEVICE_OBJECT device) {
  PVolumeFilterExtension volume = VolumeOf(device);
  return volume != nullptr && device != EngineControlDevice && device != EngineRawDiskFilter &&
         volume->Kind != KindMount;
}

NTSTATUS WaitForever(PKEVENT event) {
  // PASSIVE_LEVEL; the completion of the request below sets the event.
  return KeWaitForSingleObject(event, Executive, KernelMode, FALSE, nullptr);
}

}  // namespace

NTSTATUS GetDriverExtension(DriverExtension** extension) {
  *extension = nullptr;
  if (EngineDriverObject == nullptr) return STATUS_UNSUCCESSFUL;
  auto* found = static_cast<DriverExtension*>(
      IoGetDriverObjectExtension(EngineDriverObject, EngineDriverObject));
  if (found == nullptr) return STATUS_UNSUCCESSFUL;
  *extension = found;
  return STATUS_SUCCESS;
}

void EngineLock() {
  DriverExtension* driver;
  NTSTATUS status = GetDriverExtension(&driver);
  if (!NT_SUCCESS(status)) {
    LogFailure("UTIL %08x\n", status);
    return;
  }
  // PASSIVE_LEVEL, caller's thread; released by EngineUnlock of the holder.
  KeWaitForSingleObject(&driver->EngineLock, Executive, KernelMode, FALSE, nullptr);
}

void EngineUnlock() {
  DriverExtension* driver;
  // Without an extension EngineLock took nothing, so there is nothing to give back.
  if (NT_SUCCESS(GetDriverExtension(&driver))) KeReleaseMutex(&driver->EngineLock, FALSE);
}

NTSTATUS PauseVolumeWorker(PVolumeFilterExtension volume, UCHAR pause) {
  if (pause == 0) {
    WriteShared(volume->PauseFlag, static_cast<UCHAR>(0));
    KeSetEvent(&volume->ResumeEvent, IO_NO_INCREMENT, FALSE);
    return STATUS_SUCCESS;
  }
  WriteShared(volume->PauseFlag, pause);
  // An idle worker parks at once rather than at its tick.
  KeSetEvent(&volume->WakeEvent, IO_NO_INCREMENT, FALSE);
  // PASSIVE_LEVEL, with the engine lock held; the worker sets PausedEvent
  // between two requests or at its one-second tick. A worker that has ended
  // parks no more: its thread object ends the wait (status 1) instead of a
  // wait for ever.
  NTSTATUS status;
  if (volume->WorkerThread != nullptr) {
    PVOID objects[2] = {&volume->PausedEvent, volume->WorkerThread};
    status = KeWaitForMultipleObjects(2, objects, WaitAny, Executive, KernelMode, FALSE, nullptr,
                                      nullptr);
  } else {
    status = KeWaitForSingleObject(&volume->PausedEvent, Executive, KernelMode, FALSE, nullptr);
  }
  KeClearEvent(&volume->PausedEvent);
  return status;
}

void QueueForWorker(PVolumeFilterExtension volume, PIRP irp) {
  ExInterlockedInsertTailList(&volume->WriteQueue, &irp->Tail.Overlay.ListEntry,
                              &volume->WriteQueueLock);
  KeSetEvent(&volume->WakeEvent, IO_NO_INCREMENT, FALSE);
}

NTSTATUS CallDriverAndWait(PDEVICE_OBJECT device, PIRP irp, PKEVENT event,
                           PIO_STATUS_BLOCK ioStatus) {
  if (irp == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  NTSTATUS status = IoCallDriver(device, irp);
  if (status != STATUS_PENDING) return status;
  NTSTATUS wait = WaitForever(event);
  if (!NT_SUCCESS(wait)) {
    LogFailure("UTIL %08x\n", wait);
    return wait;
  }
  return ioStatus->Status;
}

NTSTATUS SendDeviceIoctl(PDEVICE_OBJECT device, ULONG code, PVOID input, ULONG inputLength,
                         PVOID output, ULONG outputLength, ULONG_PTR* bytesReturned) {
  if (bytesReturned) *bytesReturned = 0;
  KEVENT event;
  KeInitializeEvent(&event, NotificationEvent, FALSE);
  IO_STATUS_BLOCK ioStatus;
  ioStatus.Status = STATUS_SUCCESS;
  ioStatus.Information = 0;
  PIRP irp = IoBuildDeviceIoControlRequest(code, device, input, inputLength, output, outputLength,
                                           FALSE, &event, &ioStatus);
  if (irp == nullptr) {
    LogFailure("UTIL %08x\n", STATUS_INSUFFICIENT_RESOURCES);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  NTSTATUS status = CallDriverAndWait(device, irp, &event, &ioStatus);
  if (bytesReturned) *bytesReturned = ioStatus.Information;
  return status;
}

NTSTATUS CompleteRequest(PIRP irp, NTSTATUS status, ULONG_PTR information, CCHAR boost) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, boost);
  return status;
}

NTSTATUS EngineDispatchPassThrough(PDEVICE_OBJECT device, PIRP irp) {
  PVolumeFilterExtension volume = VolumeOf(device);
  if (device == EngineControlDevice || volume == nullptr || volume->LowerDevice == nullptr) {
    // Nothing lies below the control device; a filter that lost its lower
    // device cannot pass anything on either.
    NTSTATUS status =
        device == EngineControlDevice ? STATUS_SUCCESS : STATUS_INVALID_DEVICE_REQUEST;
    return CompleteRequest(irp, status);
  }
  IoSkipCurrentIrpStackLocation(irp);
  return IoCallDriver(volume->LowerDevice, irp);
}

NTSTATUS ForwardCompletion(PDEVICE_OBJECT, PIRP irp, PVOID context) {
  // Only an IRP that went pending has a waiter; the IRP stays with the
  // forwarder either way.
  if (irp->PendingReturned) KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
  return STATUS_MORE_PROCESSING_REQUIRED;
}

NTSTATUS ForwardIrpAndWait(PDEVICE_OBJECT device, PIRP irp) {
  PVolumeFilterExtension volume = VolumeOf(device);
  KEVENT event;
  KeInitializeEvent(&event, NotificationEvent, FALSE);
  IoCopyCurrentIrpStackLocationToNext(irp);
  IoSetCompletionRoutine(irp, ForwardCompletion, &event, TRUE, TRUE, TRUE);
  NTSTATUS status = IoCallDriver(volume->LowerDevice, irp);
  if (status == STATUS_PENDING) {
    NTSTATUS wait = WaitForever(&event);
    if (!NT_SUCCESS(wait)) {
      LogFailure("UTIL %08x\n", STATUS_PENDING);
      irp->IoStatus.Status = wait;
      IoCompleteRequest(irp, IO_NO_INCREMENT);
      return wait;
    }
    status = irp->IoStatus.Status;
  }
  return status;
}

NTSTATUS ReadWriteDiskSectors(UCHAR read, PDEVICE_OBJECT device, ULONGLONG byteOffset, ULONG length,
                              PVOID buffer, PIO_STATUS_BLOCK ioStatus) {
  if (length == 0) {
    LogFailure("UTIL %08x\n", STATUS_UNSUCCESSFUL);
    return STATUS_SUCCESS;
  }
  if (device == nullptr || buffer == nullptr || ioStatus == nullptr) {
    LogFailure("UTIL %08x\n", STATUS_INVALID_PARAMETER);
    return STATUS_INVALID_PARAMETER;
  }
  KEVENT event;
  KeInitializeEvent(&event, NotificationEvent, FALSE);
  LARGE_INTEGER offset;
  offset.QuadPart = static_cast<LONGLONG>(byteOffset);
  ioStatus->Status = STATUS_SUCCESS;
  ioStatus->Information = 0;
  PIRP irp = IoBuildSynchronousFsdRequest(read ? IRP_MJ_READ : IRP_MJ_WRITE, device, buffer, length,
                                          &offset, &event, ioStatus);
  if (irp == nullptr) {
    LogFailure("UTIL %08x\n", STATUS_INSUFFICIENT_RESOURCES);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  NTSTATUS status = CallDriverAndWait(device, irp, &event, ioStatus);
  // A transfer that moved fewer bytes than asked is a failure however the
  // lower driver answered, inline or pending.
  if (NT_SUCCESS(status) && ioStatus->Information != length) {
    LogFailure("UTIL %08x\n", STATUS_UNSUCCESSFUL);
    return STATUS_UNSUCCESSFUL;
  }
  return status;
}

NTSTATUS FlushLowerDevice(PDEVICE_OBJECT device) {
  PVolumeFilterExtension volume = VolumeOf(device);
  if (volume == nullptr || volume->LowerDevice == nullptr) {
    LogFailure("UTIL %08x\n", STATUS_INVALID_PARAMETER);
    return STATUS_INVALID_PARAMETER;
  }
  KEVENT event;
  KeInitializeEvent(&event, NotificationEvent, FALSE);
  IO_STATUS_BLOCK ioStatus;
  ioStatus.Status = STATUS_SUCCESS;
  ioStatus.Information = 0;
  PIRP irp = IoBuildSynchronousFsdRequest(IRP_MJ_FLUSH_BUFFERS, volume->LowerDevice, nullptr, 0,
                                          nullptr, &event, &ioStatus);
  if (irp == nullptr) {
    LogFailure("UTIL %08x\n", STATUS_INSUFFICIENT_RESOURCES);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  NTSTATUS status = CallDriverAndWait(volume->LowerDevice, irp, &event, &ioStatus);
  if (!NT_SUCCESS(status)) LogFailure("UTIL %08x\n", status);
  return status;
}

NTSTATUS ReadWriteVolumeSectors(UCHAR read, PDEVICE_OBJECT device, LONGLONG engineByteOffset,
                                ULONG length, PVOID buffer, PIO_STATUS_BLOCK ioStatus) {
  PVolumeFilterExtension volume = VolumeOf(device);
  if (!IsEngineVolume(device) || length == 0 || buffer == nullptr || ioStatus == nullptr ||
      volume->Header == nullptr || engineByteOffset < 0) {
    LogFailure("UTIL %08x\n", STATUS_INVALID_PARAMETER);
    return STATUS_INVALID_PARAMETER;
  }
  const vh::AreaExtent* extents = volume->Header->AreaExtents;
  ULONGLONG sector = static_cast<ULONGLONG>(engineByteOffset) / SectorBytes;
  // The extent that holds the first engine sector.
  ULONG index = 0;
  ULONGLONG before = 0;
  while (index < vh::kAreaExtentCount && sector >= before + extents[index].SectorCount) {
    before += extents[index].SectorCount;
    ++index;
  }
  if (index == vh::kAreaExtentCount) {
    LogFailure("UTIL %08x\n", STATUS_INVALID_PARAMETER);
    return STATUS_INVALID_PARAMETER;
  }
  if (length < SectorBytes) return STATUS_UNSUCCESSFUL;
  if (length % SectorBytes != 0) {
    // Whole sectors only: a tail would silently stay untransferred.
    LogFailure("UTIL %08x\n", STATUS_INVALID_PARAMETER);
    return STATUS_INVALID_PARAMETER;
  }
  ULONG remaining = length / SectorBytes;
  auto* position = static_cast<PUCHAR>(buffer);
  ULONGLONG into = sector - before;
  for (; index < vh::kAreaExtentCount && remaining != 0; ++index, into = 0) {
    ULONGLONG available = extents[index].SectorCount - into;
    ULONG piece = available < remaining ? static_cast<ULONG>(available) : remaining;
    if (piece == 0) continue;  // an unused extent
    NTSTATUS status = ReadWriteDiskSectors(read, volume->LowerDevice,
                                           (extents[index].StartSector + into) * SectorBytes,
                                           piece * SectorBytes, position, ioStatus);
    if (!NT_SUCCESS(status)) {
      LogFailure("UTIL %08x\n", status);
      return status;
    }
    position += static_cast<SIZE_T>(piece) * SectorBytes;
    remaining -= piece;
  }
  if (remaining != 0) {
    LogFailure("UTIL %08x\n", STATUS_UNSUCCESSFUL);
    return STATUS_UNSUCCESSFUL;
  }
  ioStatus->Information = length;
  return STATUS_SUCCESS;
}

namespace {
NTSTATUS FindVolume(PCUNICODE_STRING name, BOOLEAN caseInsensitive, bool byDosName,
                    PDEVICE_OBJECT* found) {
  *found = nullptr;
  // Newest device first; the first match wins.
  for (PDEVICE_OBJECT device = EngineDriverObject->DeviceObject; device != nullptr;
       device = device->NextDevice) {
    if (!IsEngineVolume(device)) continue;
    PVolumeFilterExtension volume = VolumeOf(device);
    if (RtlEqualUnicodeString(byDosName ? &volume->DosName : &volume->DeviceName, name,
                              caseInsensitive)) {
      *found = device;
      return STATUS_SUCCESS;
    }
  }
  LogFailure("UTIL %08x\n", STATUS_UNSUCCESSFUL);
  return STATUS_UNSUCCESSFUL;
}
}  // namespace

NTSTATUS FindVolumeByDeviceName(PCUNICODE_STRING name, PDEVICE_OBJECT* device) {
  *device = nullptr;
  if (EngineDriverObject == nullptr) {
    LogFailure("UTIL %08x\n", STATUS_UNSUCCESSFUL);
    return STATUS_UNSUCCESSFUL;
  }
  if (name == nullptr) {
    LogFailure("UTIL %08x\n", STATUS_INVALID_PARAMETER);
    return STATUS_INVALID_PARAMETER;
  }
  return FindVolume(name, TRUE, false, device);
}

NTSTATUS FindVolumeByDosName(PCUNICODE_STRING name, PDEVICE_OBJECT* device) {
  *device = nullptr;
  if (name == nullptr) {
    LogFailure("UTIL %08x\n", STATUS_INVALID_PARAMETER);
    return STATUS_INVALID_PARAMETER;
  }
  if (EngineDriverObject == nullptr) {
    LogFailure("UTIL %08x\n", STATUS_UNSUCCESSFUL);
    return STATUS_UNSUCCESSFUL;
  }
  return FindVolume(name, FALSE, true, device);
}

// The bounds are compared without 32-bit wrap-around: an index of
// 0xFFFFFFFF or a range that wraps must not reach the bitmap.
namespace {
NTSTATUS CheckBitIndex(PRTL_BITMAP bitmap, ULONG index) {
  if (bitmap == nullptr) return STATUS_INVALID_PARAMETER;
  if (index >= bitmap->SizeOfBitMap) {
    LogFailure("UTIL %08x %08x\n", index, STATUS_UNSUCCESSFUL);
    return STATUS_INVALID_PARAMETER;
  }
  return STATUS_SUCCESS;
}
}  // namespace

NTSTATUS SetBitmapBit(PRTL_BITMAP bitmap, ULONG index) {
  NTSTATUS status = CheckBitIndex(bitmap, index);
  if (NT_SUCCESS(status)) RtlSetBits(bitmap, index, 1);
  return status;
}

NTSTATUS ClearBitmapBit(PRTL_BITMAP bitmap, ULONG index) {
  NTSTATUS status = CheckBitIndex(bitmap, index);
  if (NT_SUCCESS(status)) RtlClearBits(bitmap, index, 1);
  return status;
}

NTSTATUS TestBitmapBitsSet(PRTL_BITMAP bitmap, ULONG first, ULONG count, UCHAR* allSet) {
  if (bitmap == nullptr || allSet == nullptr) return STATUS_INVALID_PARAMETER;
  if (static_cast<ULONGLONG>(first) + count > bitmap->SizeOfBitMap) return STATUS_INVALID_PARAMETER;
  *allSet = RtlAreBitsSet(bitmap, first, count) ? 1 : 0;
  return STATUS_SUCCESS;
}

NTSTATUS QueryTargetDeviceName(PVolumeFilterExtension volume) {
  PDEVICE_OBJECT target = volume->TargetDevice;
  if (target == nullptr || target->DeviceType != FILE_DEVICE_DISK) {
    LogFailure("UTIL %08x\n", STATUS_UNSUCCESSFUL);
    return STATUS_UNSUCCESSFUL;
  }
  ULONG needed = 0;
  NTSTATUS status = ObQueryNameString(target, nullptr, 0, &needed);
  if (status != STATUS_INFO_LENGTH_MISMATCH) {
    LogFailure("UTIL %08x\n", status);
    return status;
  }
  auto* info = static_cast<POBJECT_NAME_INFORMATION>(
      ExAllocatePoolWithTag(PagedPool, needed, EnginePoolTag));
  if (info == nullptr) {
    LogFailure("UTIL %08x\n", STATUS_INSUFFICIENT_RESOURCES);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  status = ObQueryNameString(target, info, needed, &needed);
  if (NT_SUCCESS(status) && info->Name.Length == 0)
    status = STATUS_UNSUCCESSFUL;  // an unnamed device
  if (NT_SUCCESS(status)) {
    // Refused rather than truncated when it does not fit the inline buffer.
    status = RtlUpcaseUnicodeString(&volume->DeviceName, &info->Name, FALSE);
    if (NT_SUCCESS(status) &&
        volume->DeviceName.Length + sizeof(WCHAR) <= volume->DeviceName.MaximumLength) {
      volume->DeviceName.Buffer[volume->DeviceName.Length / sizeof(WCHAR)] = 0;
    }
  }
  if (!NT_SUCCESS(status)) LogFailure("UTIL %08x\n", status);
  ExFreePoolWithTag(info, EnginePoolTag);
  return status;
}

NTSTATUS QueryVolumeDeviceName(PVolumeFilterExtension volume) {
  if (volume->TargetDevice == nullptr) {
    LogFailure("UTIL %08x\n", STATUS_UNSUCCESSFUL);
    return STATUS_UNSUCCESSFUL;
  }
  MOUNTDEV_NAME head;
  head.NameLength = 0;
  PMOUNTDEV_NAME name = &head;
  ULONG size = sizeof head;
  NTSTATUS status = SendDeviceIoctl(volume->TargetDevice, IOCTL_MOUNTDEV_QUERY_DEVICE_NAME, nullptr,
                                    0, name, size);
  if (status == STATUS_BUFFER_OVERFLOW) {
    size = static_cast<ULONG>(head.NameLength) + sizeof head;
    name = static_cast<PMOUNTDEV_NAME>(ExAllocatePoolWithTag(NonPagedPool, size, EnginePoolTag));
    if (name == nullptr) {
      LogFailure("UTIL %08x\n", STATUS_INSUFFICIENT_RESOURCES);
      return STATUS_INSUFFICIENT_RESOURCES;
    }
    status = SendDeviceIoctl(volume->TargetDevice, IOCTL_MOUNTDEV_QUERY_DEVICE_NAME, nullptr, 0,
                             name, size);
  }
  if (NT_SUCCESS(status)) {
    // The answer's length comes from another driver: it must lie inside
    // the buffer it was written to and fit the name buffer with its
    // terminator.
    ULONG bytes = name->NameLength;
    if (bytes + sizeof(USHORT) > size || bytes + sizeof(WCHAR) > volume->DeviceName.MaximumLength) {
      status = STATUS_INVALID_PARAMETER;
    } else {
      RtlCopyMemory(volume->DeviceName.Buffer, name->Name, bytes);
      volume->DeviceName.Length = static_cast<USHORT>(bytes);
      volume->DeviceName.Buffer[bytes / sizeof(WCHAR)] = 0;
      RtlUpcaseUnicodeString(&volume->DeviceName, &volume->DeviceName, FALSE);
    }
  }
  if (!NT_SUCCESS(status)) LogFailure("UTIL %08x\n", status);
  if (name != &head) ExFreePoolWithTag(name, EnginePoolTag);
  return status;
}

NTSTATUS GetPartitionInfo(PDEVICE_OBJECT device, PARTITION_INFORMATION* info) {
  ULONG_PTR bytes = 0;
  NTSTATUS status = SendDeviceIoctl(device, IOCTL_DISK_GET_PARTITION_INFO, nullptr, 0, info,
                                    sizeof *info, &bytes);
  // A short answer would leave the starting offset undefined.
  if (NT_SUCCESS(status) && bytes < sizeof *info) status = STATUS_UNSUCCESSFUL;
  if (!NT_SUCCESS(status)) LogFailure("UTIL %08x\n", status);
  return status;
}

NTSTATUS SendMountManagerIoctl(ULONG code, PVOID input, ULONG inputLength, PVOID output,
                               ULONG outputLength) {
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, VH_WIDE("\\Device\\MountPointManager"));
  PFILE_OBJECT file;
  PDEVICE_OBJECT device;
  NTSTATUS status = IoGetDeviceObjectPointer(&name, FILE_READ_ATTRIBUTES, &file, &device);
  if (!NT_SUCCESS(status)) {
    LogFailure("UTIL %08x\n", status);
    return status;
  }
  status = SendDeviceIoctl(device, code, input, inputLength, output, outputLength);
  ObDereferenceObject(file);
  if (!NT_SUCCESS(status)) LogFailure("UTIL %08x\n", status);
  return status;
}

NTSTATUS NotifyVolumeArrival(PVolumeFilterExtension volume) {
  ULONG size = FIELD_OFFSET(MOUNTMGR_TARGET_NAME, DeviceName) + volume->DeviceName.Length;
  auto* target =
      static_cast<PMOUNTMGR_TARGET_NAME>(ExAllocatePoolWithTag(NonPagedPool, size, EnginePoolTag));
  if (target == nullptr) {
    LogFailure("UTIL %08x\n", STATUS_INSUFFICIENT_RESOURCES);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  target->DeviceNameLength = volume->DeviceName.Length;
  RtlCopyMemory(target->DeviceName, volume->DeviceName.Buffer, volume->DeviceName.Length);
  NTSTATUS status =
      SendMountManagerIoctl(IOCTL_MOUNTMGR_VOLUME_ARRIVAL_NOTIFICATION, target, size, nullptr, 0);
  ExFreePoolWithTag(target, EnginePoolTag);
  return status;
}

NTSTATUS CreateMountPoint(PVolumeFilterExtension volume) {
  ULONG head = sizeof(MOUNTMGR_CREATE_POINT_INPUT);
  ULONG size = head + volume->DosName.Length + volume->DeviceName.Length;
  auto* input = static_cast<PMOUNTMGR_CREATE_POINT_INPUT>(
      ExAllocatePoolWithTag(NonPagedPool, size, EnginePoolTag));
  if (input == nullptr) {
    LogFailure("UTIL :%08x\n", STATUS_INSUFFICIENT_RESOURCES);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  input->SymbolicLinkNameOffset = static_cast<USHORT>(head);
  input->SymbolicLinkNameLength = volume->DosName.Length;
  input->DeviceNameOffset = static_cast<USHORT>(head + volume->DosName.Length);
  input->DeviceNameLength = volume->DeviceName.Length;
  auto* bytes = reinterpret_cast<PUCHAR>(input);
  RtlCopyMemory(bytes + input->SymbolicLinkNameOffset, volume->DosName.Buffer,
                volume->DosName.Length);
  RtlCopyMemory(bytes + input->DeviceNameOffset, volume->DeviceName.Buffer,
                volume->DeviceName.Length);
  NTSTATUS status = SendMountManagerIoctl(IOCTL_MOUNTMGR_CREATE_POINT, input, size, nullptr, 0);
  if (!NT_SUCCESS(status)) LogFailure("UTIL :%08x\n", status);
  ExFreePoolWithTag(input, EnginePoolTag);
  return status;
}

NTSTATUS DeleteMountPoints(PVolumeFilterExtension volume) {
  constexpr ULONG OutputBytes = 4096;
  ULONG head = sizeof(MOUNTMGR_MOUNT_POINT);
  ULONG size = head + volume->DosName.Length;
  auto* point =
      static_cast<PMOUNTMGR_MOUNT_POINT>(ExAllocatePoolWithTag(NonPagedPool, size, EnginePoolTag));
  auto* output = ExAllocatePoolWithTag(NonPagedPool, OutputBytes, EnginePoolTag);
  NTSTATUS status = STATUS_INSUFFICIENT_RESOURCES;
  if (point != nullptr && output != nullptr) {
    RtlZeroMemory(point, head);
    point->SymbolicLinkNameOffset = head;
    point->SymbolicLinkNameLength = volume->DosName.Length;
    RtlCopyMemory(reinterpret_cast<PUCHAR>(point) + head, volume->DosName.Buffer,
                  volume->DosName.Length);
    status = SendMountManagerIoctl(IOCTL_MOUNTMGR_DELETE_POINTS, point, size, output, OutputBytes);
  }
  if (!NT_SUCCESS(status)) LogFailure("UTIL %08x\n", status);
  if (point != nullptr) ExFreePoolWithTag(point, EnginePoolTag);
  if (output != nullptr) ExFreePoolWithTag(output, EnginePoolTag);
  return status;
}

NTSTATUS CreateDosLink(PVolumeFilterExtension volume) {
  NTSTATUS status = IoCreateSymbolicLink(&volume->DosName, &volume->DeviceName);
  if (!NT_SUCCESS(status)) LogFailure("UTIL %08x\n", status);
  return status;
}

NTSTATUS OpenAndReferenceFile(PUNICODE_STRING path, PHANDLE handle, PFILE_OBJECT* file) {
  *handle = nullptr;
  *file = nullptr;
  OBJECT_ATTRIBUTES attributes;
  // A kernel handle: this runs on the caller's thread, and a handle in the
  // caller's process could be closed or replaced from user mode meanwhile.
  InitializeObjectAttributes(&attributes, path, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr,
                             nullptr);
  IO_STATUS_BLOCK ioStatus;
  HANDLE opened;
  NTSTATUS status = ZwCreateFile(&opened, GENERIC_READ | SYNCHRONIZE, &attributes, &ioStatus,
                                 nullptr, FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                 FILE_OPEN, FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
  if (!NT_SUCCESS(status)) {
    LogFailure("UTIL %08x\n", status);
    return status;
  }
  PVOID object;
  status = ObReferenceObjectByHandle(opened, 0, *IoFileObjectType, KernelMode, &object, nullptr);
  if (!NT_SUCCESS(status)) {
    LogFailure("UTIL %08x\n", status);
    ZwClose(opened);
    return status;
  }
  *handle = opened;
  *file = static_cast<PFILE_OBJECT>(object);
  return STATUS_SUCCESS;
}

NTSTATUS SendFileSystemControl(PFILE_OBJECT file, ULONG code) {
  PDEVICE_OBJECT device = IoGetRelatedDeviceObject(file);
  KEVENT event;
  KeInitializeEvent(&event, NotificationEvent, FALSE);
  IO_STATUS_BLOCK ioStatus;
  ioStatus.Status = STATUS_SUCCESS;
  ioStatus.Information = 0;
  PIRP irp =
      IoBuildDeviceIoControlRequest(code, device, nullptr, 0, nullptr, 0, FALSE, &event, &ioStatus);
  if (irp == nullptr) {
    LogFailure("UTIL %08x\n", STATUS_INSUFFICIENT_RESOURCES);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  // The device-control parameters overlay the file-system-control ones.
  PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
  next->MajorFunction = IRP_MJ_FILE_SYSTEM_CONTROL;
  next->MinorFunction = IRP_MN_USER_FS_REQUEST;
  next->FileObject = file;
  return CallDriverAndWait(device, irp, &event, &ioStatus);
}

// The engine's synchronous requests to other drivers, its sector transfers
// and the worker's queue. Everything that waits here blocks on kernel
// events at PASSIVE_LEVEL, in system threads or the control device's
// dispatch path.
#include "engine.h"
#include "engine_io.h"
#include "engine_state.h"

bool IsEngineVolume(PDEVICE_OBJECT device) {
  PVolumeFilterExtension volume = VolumeOf(device);
  return volume != nullptr && device != EngineControlDevice && device != EngineRawDiskFilter &&
         volume->Kind != KindMount;
}

namespace {

constexpr ULONG SectorBytes = vh::kSectorBytes;

NTSTATUS WaitForever(PKEVENT event) {
  // PASSIVE_LEVEL; the completion of the request below sets the event.
  return KeWaitForSingleObject(event, Executive, KernelMode, FALSE, nullptr);
}

}  // namespace

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

NTSTATUS SendFlushAndWait(PDEVICE_OBJECT target, PFILE_OBJECT file) {
  KEVENT event;
  KeInitializeEvent(&event, NotificationEvent, FALSE);
  IO_STATUS_BLOCK ioStatus;
  ioStatus.Status = STATUS_SUCCESS;
  ioStatus.Information = 0;
  PIRP irp = IoBuildSynchronousFsdRequest(IRP_MJ_FLUSH_BUFFERS, target, nullptr, 0, nullptr, &event,
                                          &ioStatus);
  if (irp == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  IoGetNextIrpStackLocation(irp)->FileObject = file;
  return CallDriverAndWait(target, irp, &event, &ioStatus);
}

NTSTATUS FlushLowerDevice(PDEVICE_OBJECT device) {
  PVolumeFilterExtension volume = VolumeOf(device);
  if (volume == nullptr || volume->LowerDevice == nullptr) {
    LogFailure("UTIL %08x\n", STATUS_INVALID_PARAMETER);
    return STATUS_INVALID_PARAMETER;
  }
  NTSTATUS status = SendFlushAndWait(volume->LowerDevice, nullptr);
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

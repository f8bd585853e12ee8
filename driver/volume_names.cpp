// Volumes by name and the names a volume has: look-ups among the engine's
// filters, device and link names, the partition, and the mount manager's
// points and links. PASSIVE_LEVEL.
#include "engine.h"
#include "engine_io.h"
#include "engine_state.h"
#include "volume_names.h"

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

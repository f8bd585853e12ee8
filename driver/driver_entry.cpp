// Start-up of the engine: the entry routine (driver-wide state, the
// "Parameter" record, the dispatch table, the control device), the boot
// reinitialisation that finishes once the system drive opens (pinned system
// files, protection on, the raw-disk filter, the space-file guard), and
// AddDevice, which puts a filter with its worker on every fixed volume.
// Everything here runs at PASSIVE_LEVEL.
#include "copy_on_write.h"
#include "device_security.h"
#include "dispatch.h"
#include "driver_entry.h"
#include "engine.h"
#include "engine_header.h"
#include "engine_io.h"
#include "engine_lock.h"
#include "engine_state.h"
#include "passthrough.h"
#include "rollback.h"
#include "space_guard.h"
#include "volume_names.h"

namespace {

bool g_lookasideReady = false;

const WCHAR ControlDeviceName[] = VH_WIDE("\\Device\\QuorvelVH");
const WCHAR ControlLinkName[] = VH_WIDE("\\DosDevices\\QuorvelVH");
const WCHAR RawDiskName[] = VH_WIDE("\\Device\\Harddisk0\\Partition0");
// Characteristics of media the engine never filters.
constexpr ULONG UnfilteredMedia =
    FILE_REMOVABLE_MEDIA | FILE_READ_ONLY_DEVICE | FILE_FLOPPY_DISKETTE | FILE_WRITE_ONCE_MEDIA;
// Flags a filter takes over from the device below it.
constexpr ULONG InheritedFlags = DO_DIRECT_IO | DO_BUFFERED_IO | DO_POWER_PAGABLE;
// The remove lock: held at most one minute, at most 100 holders.
constexpr ULONG RemoveLockMinutes = 1;
constexpr ULONG RemoveLockHighWater = 100;

ControlExtension* ControlOf(PDEVICE_OBJECT device) {
  return device ? static_cast<ControlExtension*>(device->DeviceExtension) : nullptr;
}

void InitializeNameBuffers(PVolumeFilterExtension volume) {
  volume->DeviceName.Buffer = volume->DeviceNameBuffer;
  volume->DeviceName.Length = 0;
  volume->DeviceName.MaximumLength = EngineNameBytes;
  volume->DosName.Buffer = volume->DosNameBuffer;
  volume->DosName.Length = 0;
  volume->DosName.MaximumLength = EngineNameBytes;
}

// The control device and its link; on failure nothing of it is left.
NTSTATUS CreateControlDevice(PDRIVER_OBJECT driverObject) {
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, ControlDeviceName);
  PDEVICE_OBJECT device = nullptr;
  NTSTATUS status = CreateAdministratorsOnlyDevice(driverObject, sizeof(ControlExtension), &name,
                                                   FILE_DEVICE_UNKNOWN, &device);
  if (!NT_SUCCESS(status)) {
    LogFailure("UTIL %08x\n", status);
    return status;
  }
  device->Flags |= DO_DIRECT_IO;
  ControlExtension* control = ControlOf(device);
  RtlZeroMemory(control, sizeof *control);
  UNICODE_STRING link;
  RtlInitUnicodeString(&link, ControlLinkName);
  status = IoCreateSymbolicLink(&link, &name);
  bool linked = NT_SUCCESS(status);
  if (NT_SUCCESS(status)) {
    control->Kind = KindControl;
    control->Size = sizeof *control;
    control->Flags = 1;
    control->DriverObject = driverObject;
    control->ControlDevice = device;
    KeInitializeEvent(&control->GuardEvent, NotificationEvent, FALSE);
    control->MountTable = static_cast<vh::MountTable*>(
        ExAllocatePoolWithTag(NonPagedPool, sizeof(vh::MountTable), EnginePoolTag));
    status = control->MountTable ? STATUS_SUCCESS : STATUS_INSUFFICIENT_RESOURCES;
  }
  if (NT_SUCCESS(status)) {
    RtlZeroMemory(control->MountTable, sizeof(vh::MountTable));
    status = IoRegisterLastChanceShutdownNotification(device);
  }
  if (!NT_SUCCESS(status)) {
    LogFailure("UTIL %08x\n", status);
    if (control->MountTable != nullptr) ExFreePoolWithTag(control->MountTable, EnginePoolTag);
    control->MountTable = nullptr;
    if (linked) IoDeleteSymbolicLink(&link);
    IoDeleteDevice(device);
    return status;
  }
  EngineControlDevice = device;
  device->Flags &= ~static_cast<ULONG>(DO_DEVICE_INITIALIZING);
  return STATUS_SUCCESS;
}

// "\??\" and a path of at most `limit` characters of the record (which
// need not be terminated) into `name`.
void BuildRecordPath(PUNICODE_STRING name, const vh::RecordWChar* path, ULONG limit) {
  name->Length = 0;
  RtlAppendUnicodeToString(name, VH_WIDE("\\??\\"));
  ULONG count = 0;
  while (count < limit && path[count] != 0) ++count;
  UNICODE_STRING part;
  part.Buffer = const_cast<PWCHAR>(reinterpret_cast<const WCHAR*>(path));
  part.Length = static_cast<USHORT>(count * sizeof(WCHAR));
  part.MaximumLength = part.Length;
  RtlAppendUnicodeStringToString(name, &part);
}

// Disk 0's boot sectors as a power cut during a rollback's schedule or
// cancel may have left them, brought back in line with each engine
// volume's header before anything else changes either.
void SettleBootAreas(PDRIVER_OBJECT driverObject) {
  for (PDEVICE_OBJECT device = driverObject->DeviceObject; device != nullptr;
       device = device->NextDevice) {
    if (device == EngineControlDevice || device == EngineRawDiskFilter) continue;
    PVolumeFilterExtension volume = VolumeOf(device);
    if (volume == nullptr || (volume->Kind != KindPrimaryVolume && volume->Kind != KindOtherVolume))
      continue;
    EngineLockedWorkerPaused locked(volume);
    if (volume->Header != nullptr) SettleBootArea(device);
  }
}

void StartSpaceFileGuard(ControlExtension* control) {
  HANDLE thread = nullptr;
  NTSTATUS status = PsCreateSystemThread(&thread, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr,
                                         SpaceFileGuardThread, nullptr);
  if (!NT_SUCCESS(status)) {
    LogFailure("UTIL %08x\n", status);
    return;
  }
  PVOID object = nullptr;
  status = ObReferenceObjectByHandle(thread, THREAD_ALL_ACCESS, *PsThreadType, KernelMode, &object,
                                     nullptr);
  if (!NT_SUCCESS(status)) LogFailure("UTIL %08x\n", status);
  control->GuardThreadHandle = thread;
  control->GuardThread = static_cast<PKTHREAD>(object);
}

}  // namespace

void EngineUnload(PDRIVER_OBJECT) {}

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath) {
  // Every failure is logged and ends start-up here; the entry routine still
  // reports success, leaving the driver loaded with what is set up so far.
  PVOID allocated = nullptr;
  NTSTATUS status = IoAllocateDriverObjectExtension(driverObject, driverObject,
                                                    sizeof(DriverExtension), &allocated);
  if (!NT_SUCCESS(status)) {
    LogFailure("UTIL %08x\n", status);
    return STATUS_SUCCESS;
  }
  auto* driver = static_cast<DriverExtension*>(allocated);
  RtlZeroMemory(driver, sizeof *driver);
  UNICODE_STRING path;
  path.Buffer = driver->RegistryPath;
  path.Length = 0;
  path.MaximumLength = sizeof driver->RegistryPath - sizeof(WCHAR);  // keeps a terminator
  if (registryPath != nullptr) RtlCopyUnicodeString(&path, registryPath);
  KeInitializeMutex(&driver->EngineLock, 1);
  ExInitializeNPagedLookasideList(&EngineLookaside, nullptr, nullptr, 0, EngineLookasideEntryBytes,
                                  EnginePoolTag, 0);
  g_lookasideReady = true;

  status = ReadRegistryValue(&path, &driver->EngineParameters);
  if (!NT_SUCCESS(status)) {
    LogFailure("UTIL %08x\n", status);
    return STATUS_SUCCESS;
  }

  for (auto& routine : driverObject->MajorFunction) routine = EngineDispatchPassThrough;
  driverObject->MajorFunction[IRP_MJ_CREATE] = EngineDispatchCreateClose;
  driverObject->MajorFunction[IRP_MJ_CLOSE] = EngineDispatchCreateClose;
  driverObject->MajorFunction[IRP_MJ_READ] = EngineDispatchRead;
  driverObject->MajorFunction[IRP_MJ_WRITE] = EngineDispatchWrite;
  driverObject->MajorFunction[IRP_MJ_DEVICE_CONTROL] = EngineDispatchDeviceControl;
  driverObject->MajorFunction[IRP_MJ_SHUTDOWN] = EngineDispatchShutdown;
  driverObject->MajorFunction[IRP_MJ_POWER] = EngineDispatchPower;
  driverObject->MajorFunction[IRP_MJ_PNP] = EngineDispatchPnp;
  driverObject->DriverExtension->AddDevice = EngineAddDevice;
  driverObject->DriverUnload = EngineUnload;

  if (!NT_SUCCESS(CreateControlDevice(driverObject))) return STATUS_SUCCESS;
  EngineDriverObject = driverObject;
  IoRegisterBootDriverReinitialization(driverObject, EngineBootReinit, nullptr);
  return STATUS_SUCCESS;
}

void EngineBootReinit(PDRIVER_OBJECT driverObject, PVOID context, ULONG) {
  UNICODE_STRING root;
  RtlInitUnicodeString(&root, VH_WIDE("\\SystemRoot"));
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &root, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr,
                             nullptr);
  IO_STATUS_BLOCK ioStatus;
  HANDLE handle = nullptr;
  NTSTATUS status = ZwCreateFile(&handle, SYNCHRONIZE | FILE_READ_ATTRIBUTES, &attributes,
                                 &ioStatus, nullptr, 0, FILE_SHARE_READ, FILE_OPEN,
                                 FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
  if (!NT_SUCCESS(status)) {
    // The file systems are not ready yet: try again at the next round.
    LogFailure("UTIL %08x\n", status);
    IoRegisterDriverReinitialization(driverObject, EngineBootReinit, context);
    return;
  }
  ZwClose(handle);

  // Set first: a primary volume arriving meanwhile protects itself, and
  // the lock lets only one of the two do it.
  DriverExtension* driver;
  if (NT_SUCCESS(GetDriverExtension(&driver)))
    WriteShared(driver->BootFinished, static_cast<UCHAR>(1));
  if (EnginePrimaryVolume != nullptr) ProtectPrimaryVolume(EnginePrimaryVolume);
  const bool attaching = EngineRawDiskFilter == nullptr;
  status = AttachRawDiskFilter();
  if (!NT_SUCCESS(status)) LogFailure("UTIL %08x\n", status);
  if (NT_SUCCESS(status) && attaching) SettleBootAreas(driverObject);
  ControlExtension* control = ControlOf(EngineControlDevice);
  if (control != nullptr && control->GuardThread == nullptr) StartSpaceFileGuard(control);
}

void ProtectPrimaryVolume(PDEVICE_OBJECT device) {
  PVolumeFilterExtension volume = VolumeOf(device);
  EngineLock();
  if (!ReadShared(volume->ProtectionActive)) {
    NTSTATUS status = PinSystemFiles(device);
    if (!NT_SUCCESS(status)) LogFailure("UTIL %08x\n", status);
    WriteShared(volume->ProtectionActive, static_cast<UCHAR>(1));
  }
  EngineUnlock();
}

NTSTATUS PinSystemFiles(PDEVICE_OBJECT device) {
  DriverExtension* driver;
  NTSTATUS status = GetDriverExtension(&driver);
  if (!NT_SUCCESS(status)) return status;
  PVolumeFilterExtension volume = VolumeOf(device);
  auto* buffer =
      static_cast<PWCHAR>(ExAllocatePoolWithTag(PagedPool, EngineNameBytes, EnginePoolTag));
  if (buffer == nullptr) {
    LogFailure("UTIL %08x\n", STATUS_INSUFFICIENT_RESOURCES);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  UNICODE_STRING name;
  name.Buffer = buffer;
  name.Length = 0;
  name.MaximumLength = EngineNameBytes;
  const vh::EngineParameters& parameters = driver->EngineParameters;
  // The files the system itself rewrites: their writes are never copied or
  // redirected, so a rollback keeps their newest contents.
  for (int which = 0; which < 4; ++which) {
    switch (which) {
      case 0:
        BuildRecordPath(&name, parameters.PinnedPath1, 59);
        break;
      case 1:
        name.Length = 0;
        RtlAppendUnicodeToString(&name, VH_WIDE("\\??\\C:\\boot\\bcd"));
        break;
      case 2:
        BuildRecordPath(&name, parameters.PinnedPath2, 27);
        break;
      default:
        name.Length = 0;
        RtlAppendUnicodeToString(&name, VH_WIDE("\\??\\C:\\hiberfil.sys"));
        break;
    }
    status = which < 2 ? GetFileExtents(volume, &volume->PassThroughList, &name)
                       : GetPagingFileExtents(volume, &volume->PassThroughList, &name);
    if (!NT_SUCCESS(status)) LogFailure("UTIL %08x\n", status);
  }
  ExFreePoolWithTag(buffer, EnginePoolTag);
  return STATUS_SUCCESS;
}

NTSTATUS AttachRawDiskFilter() {
  if (EngineRawDiskFilter != nullptr) return STATUS_SUCCESS;  // attached at an earlier round
  PDEVICE_OBJECT device = nullptr;
  NTSTATUS status = IoCreateDevice(EngineDriverObject, sizeof(VolumeFilterExtension), nullptr,
                                   FILE_DEVICE_DISK, 0, FALSE, &device);
  if (!NT_SUCCESS(status)) {
    LogFailure("UTIL %08x\n", status);
    return status;
  }
  PVolumeFilterExtension filter = VolumeOf(device);
  RtlZeroMemory(filter, sizeof *filter);
  InitializeNameBuffers(filter);
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, RawDiskName);
  PDEVICE_OBJECT lower = nullptr;
  status = IoAttachDevice(device, &name, &lower);
  if (!NT_SUCCESS(status) || lower == nullptr) {
    LogFailure("UTIL %08x\n", status);
    IoDeleteDevice(device);
    return STATUS_NO_SUCH_DEVICE;
  }
  filter->Kind = KindRawDisk;
  filter->LowerDevice = lower;
  WriteShared(filter->PnpState, static_cast<ULONG>(PnpStarted));
  device->AlignmentRequirement = lower->AlignmentRequirement;
  device->Flags |= lower->Flags & InheritedFlags;
  IoInitializeRemoveLock(&filter->RemoveLock, EnginePoolTag, RemoveLockMinutes,
                         RemoveLockHighWater);
  device->Flags &= ~static_cast<ULONG>(DO_DEVICE_INITIALIZING);
  EngineRawDiskFilter = device;
  return STATUS_SUCCESS;
}

NTSTATUS EngineAddDevice(PDRIVER_OBJECT driverObject, PDEVICE_OBJECT physicalDevice) {
  if (physicalDevice->DeviceType != FILE_DEVICE_DISK ||
      (physicalDevice->Characteristics & UnfilteredMedia) != 0) {
    LogFailure("VOL Device need to be passed.\n");
    return STATUS_SUCCESS;
  }
  PDEVICE_OBJECT device = nullptr;
  NTSTATUS status = IoCreateDevice(driverObject, sizeof(VolumeFilterExtension), nullptr,
                                   FILE_DEVICE_DISK, FILE_DEVICE_SECURE_OPEN, FALSE, &device);
  if (!NT_SUCCESS(status)) {
    LogFailure("VOL %08x\n", status);
    return status;
  }
  PVolumeFilterExtension volume = VolumeOf(device);
  RtlZeroMemory(volume, sizeof *volume);
  volume->LowerDevice = IoAttachDeviceToDeviceStack(device, physicalDevice);
  if (volume->LowerDevice == nullptr) {
    LogFailure("VOL %08x\n", STATUS_NO_SUCH_DEVICE);
    IoDeleteDevice(device);
    return STATUS_NO_SUCH_DEVICE;
  }
  volume->Kind = KindVolumeUnset;
  WriteShared(volume->EngineMode, static_cast<ULONG>(EngineModeOff));
  InitializeNameBuffers(volume);
  volume->TargetDevice = physicalDevice;
  status = QueryTargetDeviceName(volume);
  if (!NT_SUCCESS(status)) LogFailure("VOL %08x\n", status);
  device->AlignmentRequirement = volume->LowerDevice->AlignmentRequirement;
  device->Flags |= volume->LowerDevice->Flags & InheritedFlags;
  device->Flags &= ~static_cast<ULONG>(DO_DEVICE_INITIALIZING);

  KeInitializeEvent(&volume->PagingEvent, SynchronizationEvent, TRUE);
  IoInitializeRemoveLock(&volume->RemoveLock, EnginePoolTag, RemoveLockMinutes,
                         RemoveLockHighWater);
  InitializeListHead(&volume->WriteQueue);
  KeInitializeSpinLock(&volume->WriteQueueLock);
  KeInitializeEvent(&volume->WakeEvent, SynchronizationEvent, FALSE);
  KeInitializeEvent(&volume->ResumeEvent, NotificationEvent, FALSE);
  KeInitializeEvent(&volume->PausedEvent, NotificationEvent, FALSE);
  KeInitializeSpinLock(&volume->RewriteLock);
  KeInitializeEvent(&volume->DirectRewritesDrained, NotificationEvent, TRUE);

  HANDLE thread = nullptr;
  status = PsCreateSystemThread(&thread, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr,
                                VolumeWorkerThread, device);
  if (!NT_SUCCESS(status)) {
    LogFailure("VOL %08x\n", status);
    IoDetachDevice(volume->LowerDevice);
    IoDeleteDevice(device);
    return status;
  }
  PVOID object = nullptr;
  status = ObReferenceObjectByHandle(thread, THREAD_ALL_ACCESS, *PsThreadType, KernelMode, &object,
                                     nullptr);
  ZwClose(thread);
  if (!NT_SUCCESS(status)) {
    // The worker runs but cannot be waited for, so the device must not be
    // deleted under it: it is told to end and the filter stays as a plain
    // pass-through (a stopped worker's writes always go straight down).
    LogFailure("VOL %08x\n", status);
    WriteShared(volume->StopFlag, static_cast<UCHAR>(StopDiscard));
    KeSetEvent(&volume->WakeEvent, IO_NO_INCREMENT, FALSE);
    return STATUS_SUCCESS;
  }
  volume->WorkerThread = static_cast<PKTHREAD>(object);
  return STATUS_SUCCESS;
}

void StopSpaceFileGuard() {
  ControlExtension* control = ControlOf(EngineControlDevice);
  if (control == nullptr || control->GuardThread == nullptr) return;
  KeSetEvent(&control->GuardEvent, IO_NO_INCREMENT, FALSE);
  // PASSIVE_LEVEL; the guard's thread object is signalled when it returns.
  KeWaitForSingleObject(control->GuardThread, Executive, KernelMode, FALSE, nullptr);
  ObDereferenceObject(control->GuardThread);
  control->GuardThread = nullptr;
  if (control->GuardThreadHandle != nullptr) ZwClose(control->GuardThreadHandle);
  control->GuardThreadHandle = nullptr;
}

void EngineTeardown(PDRIVER_OBJECT driverObject) {
  StopSpaceFileGuard();
  if (EngineControlDevice != nullptr) {
    ControlExtension* control = ControlOf(EngineControlDevice);
    IoUnregisterShutdownNotification(EngineControlDevice);
    UNICODE_STRING link;
    RtlInitUnicodeString(&link, ControlLinkName);
    IoDeleteSymbolicLink(&link);
    if (control->MountTable != nullptr) ExFreePoolWithTag(control->MountTable, EnginePoolTag);
    control->MountTable = nullptr;
    IoDeleteDevice(EngineControlDevice);
    EngineControlDevice = nullptr;
  }
  if (g_lookasideReady) ExDeleteNPagedLookasideList(&EngineLookaside);
  g_lookasideReady = false;
  EnginePrimaryVolume = nullptr;
  if (EngineDriverObject == driverObject) EngineDriverObject = nullptr;
}

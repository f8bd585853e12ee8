// Volume arrival and engine state: when a filtered volume comes online the
// engine learns its drive letter and geometry, decides whether it is the
// primary protected volume, and loads its engine header from one of the
// locations of the "Parameter" record. Also the two services the control
// protocol uses on every request: finding a volume by name and preparing a
// volume for an engine change. All of it runs at PASSIVE_LEVEL.
#include "driver_entry.h"
#include "engine.h"
#include "engine_header.h"
#include "engine_io.h"
#include "engine_lock.h"
#include "engine_state.h"
#include "snapshot_delete.h"
#include "snapshot_drive.h"
#include "volume.h"
#include "volume_names.h"

namespace {

constexpr ULONG SectorBytes = vh::kSectorBytes;

WCHAR UpperLetter(WCHAR c) {
  return (c >= 'a' && c <= 'z') ? static_cast<WCHAR>(c - ('a' - 'A')) : c;
}

bool IsLetter(WCHAR c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

void SetDosName(PUNICODE_STRING dosName, WCHAR letter) {
  dosName->Length = 0;
  RtlAppendUnicodeToString(dosName, VH_WIDE("\\??\\"));
  WCHAR tail[3] = {letter, ':', 0};
  RtlAppendUnicodeToString(dosName, tail);
}

// The drive letter of the volume from the I/O manager's DOS name. Only a
// plain "X:" names a drive of its own: a volume mounted on a folder is
// reported by that folder's path, whose first letter is another volume's.
NTSTATUS LearnDriveLetter(PVolumeFilterExtension volume) {
  UNICODE_STRING dos;
  dos.Buffer = nullptr;
  dos.Length = 0;
  NTSTATUS status = IoVolumeDeviceToDosName(volume->TargetDevice, &dos);
  if (!NT_SUCCESS(status)) return status;
  if (dos.Length == 2 * sizeof(WCHAR) && IsLetter(dos.Buffer[0]) && dos.Buffer[1] == ':') {
    volume->DriveLetter = UpperLetter(dos.Buffer[0]);
    SetDosName(&volume->DosName, volume->DriveLetter);
  } else {
    status = STATUS_OBJECT_NAME_INVALID;
  }
  ExFreePool(dos.Buffer);
  return status;
}

// The kind of an online volume with a letter; the first volume with the
// protected letter becomes the primary protected volume.
NTSTATUS DecideKind(PVolumeFilterExtension volume, PDEVICE_OBJECT device,
                    const vh::EngineParameters& parameters) {
  if (volume->DriveLetter != static_cast<WCHAR>(parameters.ProtectedDrive)) {
    volume->Kind = KindOtherVolume;
    return STATUS_SUCCESS;
  }
  if (EnginePrimaryVolume == nullptr) {
    if (volume->LowerDevice == nullptr) {
      LogFailure("UTIL %08x\n", STATUS_UNSUCCESSFUL);
      return STATUS_UNSUCCESSFUL;
    }
    STORAGE_DEVICE_NUMBER number;
    RtlZeroMemory(&number, sizeof number);
    ULONG_PTR bytes = 0;
    NTSTATUS status = SendDeviceIoctl(volume->LowerDevice, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr,
                                      0, &number, sizeof number, &bytes);
    if (NT_SUCCESS(status) && bytes < sizeof number)
      status = STATUS_UNSUCCESSFUL;  // fields left unset
    if (!NT_SUCCESS(status)) {
      LogFailure("VOL %08x\n", status);
      return status;
    }
    volume->DeviceNumber = number.DeviceNumber;
    volume->PartitionNumber = number.PartitionNumber;
    EnginePrimaryVolume = device;
  }
  volume->Kind = KindPrimaryVolume;
  return STATUS_SUCCESS;
}

// The header found at a location becomes the volume's engine, with its
// bitmaps; a failure leaves no engine.
NTSTATUS LoadFoundHeader(PDEVICE_OBJECT device, const vh::EngineHeader* found) {
  PVolumeFilterExtension volume = VolumeOf(device);
  auto* header = static_cast<vh::EngineHeader*>(
      ExAllocatePoolWithTag(NonPagedPool, sizeof(vh::EngineHeader), EnginePoolTag));
  if (header == nullptr) {
    LogFailure("VOL %08x\n", STATUS_INSUFFICIENT_RESOURCES);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  RtlCopyMemory(header, found, sizeof *header);
  volume->Header = header;
  // What a cut left half written goes back to the last commit before the
  // bitmaps are built from it; a failed repair write is retried by the
  // next header write.
  CheckLoadedHeader(device);
  NTSTATUS status = LoadSpaceBitmap(device);
  if (NT_SUCCESS(status)) status = BuildRedirectBitmaps(device);
  if (NT_SUCCESS(status)) {
    // A middle delete the cut undid leaves no merged entry behind.
    UndoUnfinishedMerges(device);
    ReclaimUnnamedBlocks(device);
  }
  if (!NT_SUCCESS(status)) {
    LogFailure("VOL %08x\n", status);
    FreeVolumeEngineState(volume);
    WriteShared(volume->EngineMode, static_cast<ULONG>(EngineModeOff));
    return status;
  }
  WriteShared(volume->EngineMode, static_cast<ULONG>(EngineModeTracking));
  return STATUS_SUCCESS;
}

}  // namespace

BOOLEAN EngineParametersUsable(const vh::EngineParameters& parameters) {
  return parameters.Magic == vh::kEngineMagic && parameters.Word004 != 0 &&
                 parameters.Signature == vh::kRecordSignature
             ? TRUE
             : FALSE;
}

void VolumeOnlineCompletion(PDEVICE_OBJECT device) {
  PVolumeFilterExtension volume = VolumeOf(device);
  STORAGE_HOTPLUG_INFO hotplug;
  RtlZeroMemory(&hotplug, sizeof hotplug);
  NTSTATUS status = SendDeviceIoctl(volume->LowerDevice, IOCTL_STORAGE_GET_HOTPLUG_INFO, nullptr, 0,
                                    &hotplug, sizeof hotplug);
  if (!NT_SUCCESS(status)) {
    LogFailure("VOL %08x\n", status);
    return;
  }
  if (hotplug.DeviceHotplug) {
    // A device that can leave at any time keeps no letter and no engine.
    volume->Hotplug = 1;
    LogFailure("VOL DeviceHotplug\n");
    return;
  }
  status = LearnDriveLetter(volume);
  if (NT_SUCCESS(status)) status = ReadBootSectorGeometry(device);
  if (NT_SUCCESS(status)) status = VolumeLoadEngineState(device);
  if (!NT_SUCCESS(status)) LogFailure("VOL %08x\n", status);
  // The primary volume arriving after the boot reinitialisation (it was
  // removed and came back) is protected now, as that round protects it at
  // boot: otherwise its writes would go down uncopied under snapshots that
  // are still listed.
  DriverExtension* driver;
  if (device == EnginePrimaryVolume && NT_SUCCESS(GetDriverExtension(&driver)) &&
      ReadShared(driver->BootFinished))
    ProtectPrimaryVolume(device);
}

NTSTATUS VolumeLoadEngineState(PDEVICE_OBJECT device) {
  PVolumeFilterExtension volume = VolumeOf(device);
  DriverExtension* driver;
  NTSTATUS status = GetDriverExtension(&driver);
  if (!NT_SUCCESS(status)) return status;
  const vh::EngineParameters& parameters = driver->EngineParameters;
  status = DecideKind(volume, device, parameters);
  if (!NT_SUCCESS(status)) return status;
  // A volume that comes online again keeps the engine it has: the worker
  // may be using that header and its bitmaps right now.
  if (volume->Header != nullptr) return STATUS_SUCCESS;

  auto* buffer = static_cast<vh::EngineHeader*>(
      ExAllocatePoolWithTag(NonPagedPool, sizeof(vh::EngineHeader), EnginePoolTag));
  if (buffer == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  if (!EngineParametersUsable(parameters)) {
    ExFreePoolWithTag(buffer, EnginePoolTag);
    return STATUS_INVALID_PARAMETER;
  }
  status = STATUS_UNSUCCESSFUL;  // found nowhere
  for (ULONG i = 0; i < vh::kHeaderLocationCount; ++i) {
    const vh::HeaderLocation& location = parameters.HeaderLocations[i];
    if (location.Valid == 0 || location.VolumeId == 0 ||
        location.Sector > (0x7FFFFFFFFFFFFFFFull - vh::kEngineHeaderBytes) / SectorBytes) {
      LogFailure("VOL %d\n", i);
      status = STATUS_INVALID_PARAMETER;
      continue;
    }
    IO_STATUS_BLOCK ioStatus;
    status = ReadWriteDiskSectors(1, volume->LowerDevice, location.Sector * SectorBytes,
                                  vh::kEngineHeaderBytes, buffer, &ioStatus);
    if (!NT_SUCCESS(status)) {
      LogFailure("VOL %d - %08x - %I64d\n", i, status, location.Sector);
      continue;
    }
    if (buffer->Magic != vh::kEngineMagic || buffer->VolumeId != location.VolumeId) {
      status = STATUS_UNSUCCESSFUL;
      continue;
    }
    // The header names this volume; it decides, once it passes the same
    // checks as every other header the engine loads.
    if (!ValidateEngineHeader(buffer)) {
      status = STATUS_INVALID_PARAMETER;
    } else if (buffer->SnapshotCount == 0) {
      status = STATUS_UNSUCCESSFUL;  // installed, but nothing to track yet
    } else {
      status = LoadFoundHeader(device, buffer);
    }
    break;
  }
  ExFreePoolWithTag(buffer, EnginePoolTag);
  return status;
}

NTSTATUS FindVolumeByName(PCUNICODE_STRING name, ULONG kind, PDEVICE_OBJECT* device) {
  *device = nullptr;
  NTSTATUS status = STATUS_UNSUCCESSFUL;
  if (name != nullptr && name->Buffer != nullptr && name->Length >= sizeof(WCHAR)) {
    if (kind == vh::kVolumeNameIsDriveLetter) {
      WCHAR buffer[8];
      UNICODE_STRING dos;
      dos.Buffer = buffer;
      dos.Length = 0;
      dos.MaximumLength = sizeof buffer;
      SetDosName(&dos, name->Buffer[0]);
      status = FindVolumeByDosName(&dos, device);
    } else {
      status = FindVolumeByDeviceName(name, device);
    }
  }
  if (!NT_SUCCESS(status)) {
    LogFailure("VOL 0x%08x\n", STATUS_UNSUCCESSFUL);
    return STATUS_UNSUCCESSFUL;
  }
  return STATUS_SUCCESS;
}

NTSTATUS PrepareEngineChange(PDEVICE_OBJECT device) {
  PVolumeFilterExtension volume = VolumeOf(device);
  if (volume->Header == nullptr) return STATUS_INVALID_PARAMETER;
  auto* control = EngineControlDevice
                      ? static_cast<ControlExtension*>(EngineControlDevice->DeviceExtension)
                      : nullptr;
  if (control != nullptr && control->MountTable != nullptr) {
    vh::MountEntry& entry = control->MountTable->Entries[vh::kCurrentStateEntry];
    if (entry.InUse) {
      // The current-state drive shows the live maps about to change.
      NTSTATUS status = DeleteMountDevice(
          reinterpret_cast<PDEVICE_OBJECT>(static_cast<ULONG_PTR>(entry.MountDevice)));
      if (!NT_SUCCESS(status)) LogFailure("VOL %08x\n", status);
      entry.InUse = 0;
      entry.VolumeDevice = 0;
      entry.MountDevice = 0;
      RtlZeroMemory(entry.DeviceName, MountNameClearBytes);
    }
  }
  // The caller holds the engine lock with the worker paused.
  if (volume->Header->ReclaimPending == 1) {
    NTSTATUS status = FreeReleasedBlocks(device);
    if (!NT_SUCCESS(status)) LogFailure("VOL %08x\n", status);
  }
  return STATUS_SUCCESS;
}

// The space-file guard: one system thread that keeps the five space files
// of every engine volume open and marked against relocation for the life of
// the system, and turns a volume's engine off when a space file is
// compressed (its clusters would no longer hold the engine area as laid
// out). Runs at PASSIVE_LEVEL.
#include "engine.h"
#include "engine_io.h"
#include "engine_lock.h"
#include "engine_state.h"
#include "passthrough.h"
#include "space_guard.h"
#include "volume.h"

namespace {

constexpr ULONG SectorBytes = vh::kSectorBytes;
constexpr ULONG GuardSlots = 20;
constexpr ULONG SpaceFiles = 5;  // the header file, then the same name + "1".."4"
constexpr ULONG HeaderFileNameChars =
    sizeof(vh::EngineParameters::HeaderFileName) / sizeof(vh::RecordWChar);

// A volume filter proper (protected or other), never the unset kind.
bool IsFilteredVolume(PDEVICE_OBJECT device) {
  if (device == EngineControlDevice || device == EngineRawDiskFilter ||
      device->DeviceExtension == nullptr) {
    return false;
  }
  PVolumeFilterExtension volume = VolumeOf(device);
  return volume->Kind == KindPrimaryVolume || volume->Kind == KindOtherVolume;
}

// "\??\X:\" + the header file name, and the digit for files 1..4.
void BuildSpaceFileName(PUNICODE_STRING name, WCHAR letter, const vh::EngineParameters& parameters,
                        ULONG index) {
  name->Length = 0;
  WCHAR head[] = {'\\', '?', '?', '\\', letter, ':', '\\', 0};
  RtlAppendUnicodeToString(name, head);
  ULONG count = 0;
  while (count < HeaderFileNameChars && parameters.HeaderFileName[count] != 0) ++count;
  UNICODE_STRING file;
  file.Buffer = const_cast<PWCHAR>(reinterpret_cast<const WCHAR*>(parameters.HeaderFileName));
  file.Length = static_cast<USHORT>(count * sizeof(WCHAR));
  file.MaximumLength = file.Length;
  RtlAppendUnicodeStringToString(name, &file);
  if (index != 0) {
    WCHAR digit[] = {static_cast<WCHAR>('0' + index), 0};
    RtlAppendUnicodeToString(name, digit);
  }
}

NTSTATUS OpenSpaceFile(PCUNICODE_STRING name, PHANDLE handle) {
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, const_cast<PUNICODE_STRING>(name),
                             OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr, nullptr);
  IO_STATUS_BLOCK ioStatus;
  return ZwCreateFile(handle, GENERIC_READ | SYNCHRONIZE, &attributes, &ioStatus, nullptr,
                      FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN,
                      FILE_SYNCHRONOUS_IO_NONALERT | FILE_NO_INTERMEDIATE_BUFFERING, nullptr, 0);
}

// A compressed space file on NTFS switches the volume's engine off; every
// opened file is marked so the file system never moves its clusters.
void GuardOpenedFile(PDEVICE_OBJECT device, HANDLE handle) {
  PVolumeFilterExtension volume = VolumeOf(device);
  if (volume->FileSystemKind != vh::kFileSystemNtfs) return;
  FILE_BASIC_INFORMATION basic;
  IO_STATUS_BLOCK ioStatus;
  NTSTATUS status =
      ZwQueryInformationFile(handle, &ioStatus, &basic, sizeof basic, FileBasicInformation);
  if (NT_SUCCESS(status) && (basic.FileAttributes & FILE_ATTRIBUTE_COMPRESSED) != 0) {
    WriteShared(volume->EngineMode, static_cast<ULONG>(EngineModeOff));
    WriteShared(volume->ProtectionRefused, static_cast<UCHAR>(1));
    LogFailure("VOL NONE_PROTECT\n");
  }
  status = MarkSpaceFileHandle(device, handle);
  if (!NT_SUCCESS(status)) LogFailure("VOL %08x\n", status);
}

// Opens the space files of every engine volume whose header sits at one of
// the record's locations, into the free slots; `used` counts them.
void OpenSpaceFiles(const vh::EngineParameters& parameters, vh::EngineHeader* buffer, HANDLE* slots,
                    ULONG* used) {
  WCHAR nameBuffer[EngineNameBytes / sizeof(WCHAR)];
  UNICODE_STRING name;
  name.Buffer = nameBuffer;
  name.MaximumLength = sizeof nameBuffer;
  for (PDEVICE_OBJECT device = EngineDriverObject->DeviceObject; device != nullptr;
       device = device->NextDevice) {
    if (!IsFilteredVolume(device)) continue;
    PVolumeFilterExtension volume = VolumeOf(device);
    if (volume->Hotplug) continue;
    for (ULONG i = 0; i < vh::kHeaderLocationCount; ++i) {
      const vh::HeaderLocation& location = parameters.HeaderLocations[i];
      if (location.Valid == 0 || location.VolumeId == 0 ||
          location.Sector > (0x7FFFFFFFFFFFFFFFull - vh::kEngineHeaderBytes) / SectorBytes) {
        LogFailure("VOL %d\n", i);
        continue;
      }
      IO_STATUS_BLOCK ioStatus;
      NTSTATUS status = ReadWriteDiskSectors(1, volume->LowerDevice, location.Sector * SectorBytes,
                                             vh::kEngineHeaderBytes, buffer, &ioStatus);
      if (!NT_SUCCESS(status) || buffer->Magic != vh::kEngineMagic ||
          buffer->VolumeId != location.VolumeId) {
        continue;
      }
      for (ULONG file = 0; file < SpaceFiles; ++file) {
        // Several volumes can match several locations: the slots never
        // overflow, the files beyond them stay unguarded (logged).
        if (*used == GuardSlots) {
          LogFailure("VOL %08x\n", STATUS_INSUFFICIENT_RESOURCES);
          return;
        }
        BuildSpaceFileName(&name, volume->DriveLetter, parameters, file);
        HANDLE handle = nullptr;
        status = OpenSpaceFile(&name, &handle);
        if (!NT_SUCCESS(status)) {
          LogFailure("VOL %08x\n", status);
          continue;
        }
        slots[(*used)++] = handle;
        GuardOpenedFile(device, handle);
      }
    }
  }
}

}  // namespace

void SpaceFileGuardThread(PVOID) {
  DriverExtension* driver;
  NTSTATUS status = GetDriverExtension(&driver);
  if (!NT_SUCCESS(status) || !EngineParametersUsable(driver->EngineParameters)) {
    LogFailure("VOL %08x\n", STATUS_INVALID_PARAMETER);
    return;
  }
  auto* control = static_cast<ControlExtension*>(EngineControlDevice->DeviceExtension);
  HANDLE slots[GuardSlots] = {};
  ULONG used = 0;
  auto* buffer = static_cast<vh::EngineHeader*>(
      ExAllocatePoolWithTag(NonPagedPool, sizeof(vh::EngineHeader), EnginePoolTag));
  if (buffer == nullptr) {
    LogFailure("VOL %08x\n", STATUS_INSUFFICIENT_RESOURCES);
    return;
  }
  // The scan walks the driver's volumes: a PnP removal deletes a filter
  // only under the engine lock, so none goes away mid-scan.
  EngineLock();
  OpenSpaceFiles(driver->EngineParameters, buffer, slots, &used);
  EngineUnlock();
  ExFreePoolWithTag(buffer, EnginePoolTag);

  KeSetPriorityThread(KeGetCurrentThread(), 16);
  LARGE_INTEGER second;
  second.QuadPart = -10000000;
  for (;;) {
    // PASSIVE_LEVEL; nothing sets the event while the system runs, so the
    // thread wakes once a second for ever.
    status = KeWaitForSingleObject(&control->GuardEvent, Executive, KernelMode, FALSE, &second);
    if (status != STATUS_TIMEOUT) {
      LogFailure("VOL %08x\n", status);
      break;
    }
  }
  for (ULONG i = 0; i < used; ++i) ZwClose(slots[i]);
}

// Rollback scheduling and the boot-area check at shutdown.
//
// Disk 0's sectors 0-4 are reached through the raw-disk filter's lower
// device. Order of a schedule: the loader image's parameters, the backup of
// sectors 0-4, the pre-boot program over sectors 0-4, then the header (the
// commit point). A header write that fails puts the saved sectors back, so
// the disk never boots into a restore the header does not record.
#include "engine_header.h"
#include "engine_io.h"
#include "engine_state.h"
#include "rollback.h"
#include "volume_names.h"

namespace {

using namespace rollback_layout;

constexpr ULONG ImageBytes = vh::kBootImageBytes;
constexpr ULONG SectorSize = vh::kSectorBytes;

ULONG ReadU32(const UCHAR* bytes, ULONG at) {
  ULONG value;
  RtlCopyMemory(&value, bytes + at, sizeof value);
  return value;
}
USHORT ReadU16(const UCHAR* bytes, ULONG at) {
  USHORT value;
  RtlCopyMemory(&value, bytes + at, sizeof value);
  return value;
}
void WriteU32(UCHAR* bytes, ULONG at, ULONG value) {
  RtlCopyMemory(bytes + at, &value, sizeof value);
}
void WriteU16(UCHAR* bytes, ULONG at, USHORT value) {
  RtlCopyMemory(bytes + at, &value, sizeof value);
}

PDEVICE_OBJECT DiskZero() {
  if (EngineRawDiskFilter == nullptr) return nullptr;
  return VolumeOf(EngineRawDiskFilter)->LowerDevice;
}

NTSTATUS DiskSectors(UCHAR read, PVOID buffer) {
  IO_STATUS_BLOCK ioStatus;
  return ReadWriteDiskSectors(read, DiskZero(), 0, ImageBytes, buffer, &ioStatus);
}

// Sector 0 must carry an MBR whose partition table the pre-boot program
// can keep: the boot signature, and no GPT protective entry (a GPT disk's
// tables lie beyond the sectors the program would replace).
bool IsMbrDisk(const UCHAR* sector0) {
  if (sector0[510] != 0x55 || sector0[511] != 0xAA) return false;
  for (ULONG entry = 0; entry < 4; ++entry) {
    if (sector0[446 + entry * 16 + 4] == 0xEE) return false;
  }
  return true;
}

// Where the pre-boot program finds things: the partition's first disk
// sector, the area's first volume sector, and the loader image's disk
// sector (all 32-bit in the images).
struct BootPlaces {
  ULONG PartitionStart;
  ULONG AreaStart;
  ULONG LoaderSector;
};

NTSTATUS FindBootPlaces(PDEVICE_OBJECT device, BootPlaces* places) {
  PVolumeFilterExtension volume = VolumeOf(device);
  const vh::EngineHeader* header = volume->Header;
  PARTITION_INFORMATION info;
  NTSTATUS status = GetPartitionInfo(volume->LowerDevice, &info);
  if (!NT_SUCCESS(status)) return status;
  const ULONGLONG partition = static_cast<ULONGLONG>(info.StartingOffset.QuadPart) / SectorSize;
  ULONGLONG areaStart;
  ULONGLONG loaderVolumeSector;
  if (header->AreaBaseSector != 0) {
    areaStart = header->AreaBaseSector;
    loaderVolumeSector = areaStart + header->LoaderImageSector;
  } else {
    // The loader image's five sectors must lie in one piece of the area:
    // the pre-boot program reads them as one run from one disk sector.
    areaStart = header->AreaExtents[0].StartSector;
    loaderVolumeSector = 0;
    ULONGLONG engineFirst = 0;
    bool found = false;
    for (const vh::AreaExtent& extent : header->AreaExtents) {
      if (extent.SectorCount == 0) break;
      const ULONGLONG engineEnd = engineFirst + extent.SectorCount;
      if (header->LoaderImageSector >= engineFirst && header->LoaderImageSector < engineEnd) {
        found = header->LoaderImageSector + vh::kBootImageSectors <= engineEnd;
        loaderVolumeSector = extent.StartSector + (header->LoaderImageSector - engineFirst);
        break;
      }
      engineFirst = engineEnd;
    }
    if (!found) return STATUS_INVALID_PARAMETER;
  }
  const ULONGLONG loader = partition + loaderVolumeSector;
  if (partition > 0xFFFFFFFFull || areaStart > 0xFFFFFFFFull || loader > 0xFFFFFFFFull ||
      loaderVolumeSector < areaStart) {
    return STATUS_INVALID_PARAMETER;
  }
  places->PartitionStart = static_cast<ULONG>(partition);
  places->AreaStart = static_cast<ULONG>(areaStart);
  places->LoaderSector = static_cast<ULONG>(loader);
  return STATUS_SUCCESS;
}

// Installs the pre-boot program: `current` holds disk 0's sectors 0-4 as
// they are now; they become the backup. On success `current` still holds
// them (for undoing).
NTSTATUS InstallPreBoot(PDEVICE_OBJECT device, const BootPlaces& places, UCHAR* current,
                        UCHAR* image) {
  const vh::EngineHeader* header = VolumeOf(device)->Header;
  if (!IsMbrDisk(current)) return STATUS_NOT_SUPPORTED;
  NTSTATUS status = ReadEngineSectors(device, header->LoaderImageSector, ImageBytes, image);
  if (!NT_SUCCESS(status)) return status;
  WriteU32(image, LoaderAreaStart, places.AreaStart);
  WriteU32(image, LoaderPartitionStart, places.PartitionStart);
  status = WriteEngineSectors(device, header->LoaderImageSector, ImageBytes, image);
  if (!NT_SUCCESS(status)) return status;
  status = WriteEngineSectors(device, header->BootBackupSector, ImageBytes, current);
  if (!NT_SUCCESS(status)) return status;
  status = ReadEngineSectors(device, header->BootImageSector, ImageBytes, image);
  if (!NT_SUCCESS(status)) return status;
  WriteU32(image, BootZeroWord, 0);
  WriteU16(image, BootStageWord, 4);
  WriteU32(image, BootModeWord, 1);
  WriteU32(image, BootLoaderSector, places.LoaderSector);
  RtlCopyMemory(image + KeptFirst, current + KeptFirst, KeptBytes);
  return DiskSectors(0, image);
}

bool PreBootInPlace(const UCHAR* sectors, const BootPlaces& places) {
  return ReadU16(sectors, BootStageWord) == 4 && ReadU32(sectors, BootZeroWord) == 0 &&
         ReadU32(sectors, BootModeWord) == 1 &&
         ReadU32(sectors, BootLoaderSector) == places.LoaderSector;
}

// Two image buffers for one operation; both or neither.
bool AllocateImages(UCHAR** first, UCHAR** second) {
  *first = static_cast<UCHAR*>(ExAllocatePoolWithTag(NonPagedPool, ImageBytes, EnginePoolTag));
  *second = static_cast<UCHAR*>(ExAllocatePoolWithTag(NonPagedPool, ImageBytes, EnginePoolTag));
  if (*first != nullptr && *second != nullptr) return true;
  if (*first) ExFreePoolWithTag(*first, EnginePoolTag);
  if (*second) ExFreePoolWithTag(*second, EnginePoolTag);
  *first = *second = nullptr;
  return false;
}

void FreeImages(UCHAR* first, UCHAR* second) {
  ExFreePoolWithTag(first, EnginePoolTag);
  ExFreePoolWithTag(second, EnginePoolTag);
}

NTSTATUS WriteHeader(PDEVICE_OBJECT device) {
  const vh::EngineHeader* header = VolumeOf(device)->Header;
  return WriteEngineSectors(device, header->HeaderSector, vh::kEngineHeaderBytes,
                            VolumeOf(device)->Header);
}

// The disk side of a schedule or cancel; *installed tells whether sectors
// 0-4 now hold a freshly installed program (saved holds what they held).
NTSTATUS ChangeBootSectors(PDEVICE_OBJECT device, bool schedule, UCHAR* saved, UCHAR* image,
                           bool* installed) {
  const vh::EngineHeader* header = VolumeOf(device)->Header;
  *installed = false;
  if (schedule && header->RollbackPending == 0) {
    BootPlaces places;
    NTSTATUS status = FindBootPlaces(device, &places);
    if (NT_SUCCESS(status)) status = DiskSectors(1, saved);
    if (NT_SUCCESS(status)) status = InstallPreBoot(device, places, saved, image);
    *installed = NT_SUCCESS(status);
    return status;
  }
  if (!schedule && header->RollbackPending != 0) {
    NTSTATUS status = ReadEngineSectors(device, header->BootBackupSector, ImageBytes, image);
    if (!NT_SUCCESS(status)) return status;
    // A backup that is no boot sector would leave the disk unbootable.
    if (image[510] != 0x55 || image[511] != 0xAA) return STATUS_INVALID_PARAMETER;
    return DiskSectors(0, image);
  }
  return STATUS_SUCCESS;
}

}  // namespace

NTSTATUS ScheduleRollback(PDEVICE_OBJECT device, const vh::RollbackRequest* request) {
  PVolumeFilterExtension volume = VolumeOf(device);
  if (volume == nullptr || volume->Header == nullptr || request == nullptr) {
    LogFailure("SNAP %08x\n", STATUS_INVALID_PARAMETER);
    return STATUS_INVALID_PARAMETER;
  }
  UCHAR* saved;
  UCHAR* image;
  if (!AllocateImages(&saved, &image)) {
    LogFailure("SNAP %08x\n", STATUS_INSUFFICIENT_RESOURCES);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  if (DiskZero() == nullptr) {
    FreeImages(saved, image);
    LogFailure("SNAP %08x\n", STATUS_INVALID_PARAMETER);
    return STATUS_INVALID_PARAMETER;
  }
  const bool schedule = request->Schedule != 0;
  bool installed = false;
  NTSTATUS status = ChangeBootSectors(device, schedule, saved, image, &installed);
  if (NT_SUCCESS(status)) {
    vh::EngineHeader* header = volume->Header;
    const UCHAR before[4] = {header->RollbackPending, header->ReclaimPending, header->SpareFlag,
                             header->RollbackTarget};
    // Other units test the flag against 1: any nonzero Schedule is 1.
    header->RollbackPending = schedule ? 1 : 0;
    header->ReclaimPending = request->ReclaimFlag;
    header->SpareFlag = request->SpareFlag;
    header->RollbackTarget = request->TargetNumber;
    status = WriteHeader(device);
    if (!NT_SUCCESS(status)) {
      header->RollbackPending = before[0];
      header->ReclaimPending = before[1];
      header->SpareFlag = before[2];
      header->RollbackTarget = before[3];
      if (installed) {
        NTSTATUS undo = DiskSectors(0, saved);
        if (!NT_SUCCESS(undo)) LogFailure("SNAP %08x\n", undo);
      }
    }
  }
  if (!NT_SUCCESS(status)) LogFailure("SNAP %08x\n", status);
  FreeImages(saved, image);
  return status;
}

NTSTATUS RecheckBootRestorer(PDEVICE_OBJECT device) {
  PVolumeFilterExtension volume = VolumeOf(device);
  if (DiskZero() == nullptr || volume == nullptr || volume->Header == nullptr) {
    LogFailure("SNAP %08x\n", STATUS_INVALID_PARAMETER);
    return STATUS_INVALID_PARAMETER;
  }
  // Only a FAT32 system volume can lose the program before the restart.
  if (volume->FileSystemKind != vh::kFileSystemFat32) {
    LogFailure("SNAP %08x\n", 0);
    return STATUS_SUCCESS;
  }
  UCHAR* current;
  UCHAR* image;
  if (!AllocateImages(&current, &image)) {
    LogFailure("SNAP %08x\n", STATUS_INSUFFICIENT_RESOURCES);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  BootPlaces places;
  NTSTATUS status = FindBootPlaces(device, &places);
  if (NT_SUCCESS(status)) status = DiskSectors(1, current);
  if (NT_SUCCESS(status) && !PreBootInPlace(current, places)) {
    status = InstallPreBoot(device, places, current, image);
  }
  if (!NT_SUCCESS(status)) LogFailure("SNAP %08x\n", status);
  FreeImages(current, image);
  return status;
}

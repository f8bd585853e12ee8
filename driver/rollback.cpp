// Rollback scheduling and cancel, the boot-area check at shutdown, and the
// settling at start-up of what a power cut left half done.
//
// Disk 0's sectors 0-4 are reached through the raw-disk filter's lower
// device. Sector 0 decides what the machine starts: the pre-boot program
// is on disk when sector 0 holds it. A disk lands one sector whole or not
// at all, five of them in any order, and with a write cache only what a
// flush made durable; so each change goes in steps, every step flushed
// before the next begins (the states each cut leaves: driver/README.md):
// - schedule: the loader image's parameters and the backup of the
//   machine's own sectors; the header recording the rollback (the commit);
//   the program's sectors 1-4; its sector 0.
// - cancel: the backup's sector 0 over the program's; its sectors 1-4;
//   the header.
// A header that records a rollback whose program is not in sector 0 is
// settled at start-up: the program's sectors go, and so does the record.
// The program's own sectors are never saved as the machine's.
#include "engine_header.h"
#include "engine_io.h"
#include "engine_state.h"
#include "rollback.h"
#include "snapshot_maps.h"
#include "volume_names.h"

namespace {

using namespace rollback_layout;

constexpr ULONG ImageBytes = vh::kBootImageBytes;
constexpr ULONG ImageSectors = vh::kBootImageSectors;
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

// Sectors first .. first + count - 1 of disk 0.
NTSTATUS DiskSectors(UCHAR read, ULONG first, ULONG count, UCHAR* buffer) {
  IO_STATUS_BLOCK ioStatus;
  return ReadWriteDiskSectors(read, DiskZero(), static_cast<ULONGLONG>(first) * SectorSize,
                              count * SectorSize, buffer, &ioStatus);
}

// One step on disk 0: sectors first .. first + count - 1 of `image` written
// and made durable (a failed flush is sent once more: the next step
// depends on it).
NTSTATUS WriteDiskStep(UCHAR* image, ULONG first, ULONG count) {
  NTSTATUS status = DiskSectors(0, first, count, image + first * SectorSize);
  if (!NT_SUCCESS(status)) return status;
  status = SendFlushAndWait(DiskZero(), nullptr);
  return NT_SUCCESS(status) ? status : SendFlushAndWait(DiskZero(), nullptr);
}

bool SameSector(const UCHAR* a, const UCHAR* b, ULONG sector) {
  return RtlCompareMemory(a + sector * SectorSize, b + sector * SectorSize, SectorSize) ==
         SectorSize;
}

void CopySector(UCHAR* to, const UCHAR* from, ULONG sector) {
  RtlCopyMemory(to + sector * SectorSize, from + sector * SectorSize, SectorSize);
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

// What one change of the boot area works on: disk 0's sectors 0-4 as they
// are (kept up to date by the steps below), the backup, the program as it
// goes over these sectors, and room for the loader image.
struct BootArea {
  UCHAR Disk[ImageBytes];
  UCHAR Backup[ImageBytes];
  UCHAR Program[ImageBytes];
  UCHAR Loader[ImageBytes];
};

BootArea* AllocateBootArea() {
  return static_cast<BootArea*>(
      ExAllocatePoolWithTag(NonPagedPool, sizeof(BootArea), EnginePoolTag));
}

// Reads the disk's sectors, the backup and the boot image; the program
// gets its parameters and keeps the disk signature and partition table of
// the disk's sector 0.
NTSTATUS ReadBootArea(PDEVICE_OBJECT device, const BootPlaces& places, BootArea* area) {
  const vh::EngineHeader* header = VolumeOf(device)->Header;
  NTSTATUS status = DiskSectors(1, 0, ImageSectors, area->Disk);
  if (NT_SUCCESS(status))
    status = ReadEngineSectors(device, header->BootBackupSector, ImageBytes, area->Backup);
  if (NT_SUCCESS(status))
    status = ReadEngineSectors(device, header->BootImageSector, ImageBytes, area->Program);
  if (!NT_SUCCESS(status)) return status;
  UCHAR* program = area->Program;
  WriteU32(program, BootZeroWord, 0);
  WriteU16(program, BootStageWord, 4);
  WriteU32(program, BootModeWord, 1);
  WriteU32(program, BootLoaderSector, places.LoaderSector);
  RtlCopyMemory(program + KeptFirst, area->Disk + KeptFirst, KeptBytes);
  return STATUS_SUCCESS;
}

bool ProgramOnDisk(const BootArea* area) { return SameSector(area->Disk, area->Program, 0); }

// The backup made the machine's own sectors, in memory; true when it
// changed. A sector that holds the program's keeps the backup's when
// `backupHoldsOwn` (the backup was saved when the program went there), so
// the program is never saved as the machine's; every other sector is taken
// as the disk holds it.
bool TakeOwnSectors(BootArea* area, bool backupHoldsOwn) {
  bool changed = false;
  for (ULONG sector = 0; sector < ImageSectors; ++sector) {
    if (backupHoldsOwn && SameSector(area->Disk, area->Program, sector)) continue;
    if (SameSector(area->Disk, area->Backup, sector)) continue;
    CopySector(area->Backup, area->Disk, sector);
    changed = true;
  }
  return changed;
}

// What an installation needs before disk 0 changes: the loader image's
// parameters and (when `backupChanged`) the backup, both durable.
NTSTATUS PrepareInstall(PDEVICE_OBJECT device, const BootPlaces& places, BootArea* area,
                        bool backupChanged) {
  const vh::EngineHeader* header = VolumeOf(device)->Header;
  NTSTATUS status = ReadEngineSectors(device, header->LoaderImageSector, ImageBytes, area->Loader);
  if (!NT_SUCCESS(status)) return status;
  WriteU32(area->Loader, LoaderAreaStart, places.AreaStart);
  WriteU32(area->Loader, LoaderPartitionStart, places.PartitionStart);
  status = WriteEngineSectors(device, header->LoaderImageSector, ImageBytes, area->Loader);
  if (NT_SUCCESS(status) && backupChanged)
    status = WriteEngineSectors(device, header->BootBackupSector, ImageBytes, area->Backup);
  if (NT_SUCCESS(status)) status = snapshot_maps::FlushForCommit(device);
  return status;
}

// The program onto disk 0: sectors 1-4 first (the machine still starts as
// before), then sector 0.
NTSTATUS PutProgramOn(BootArea* area) {
  bool rest = false;
  for (ULONG sector = 1; sector < ImageSectors; ++sector)
    rest = rest || !SameSector(area->Disk, area->Program, sector);
  NTSTATUS status = STATUS_SUCCESS;
  if (rest) {
    RtlCopyMemory(area->Disk + SectorSize, area->Program + SectorSize, ImageBytes - SectorSize);
    status = WriteDiskStep(area->Disk, 1, ImageSectors - 1);
  }
  if (NT_SUCCESS(status) && !ProgramOnDisk(area)) {
    CopySector(area->Disk, area->Program, 0);
    status = WriteDiskStep(area->Disk, 0, 1);
  }
  return status;
}

// The program off disk 0: the backup goes back, sector 0 first (from then
// on the machine starts as before), then sectors 1-4. `onlyProgram`
// restores only the sectors that hold the program's (the backup is known
// to belong to them alone); otherwise every sector that differs.
NTSTATUS TakeProgramOff(BootArea* area, bool onlyProgram) {
  const auto goesBack = [area, onlyProgram](ULONG sector) {
    return !SameSector(area->Disk, area->Backup, sector) &&
           (!onlyProgram || SameSector(area->Disk, area->Program, sector));
  };
  NTSTATUS status = STATUS_SUCCESS;
  if (goesBack(0)) {
    CopySector(area->Disk, area->Backup, 0);
    status = WriteDiskStep(area->Disk, 0, 1);
  }
  bool rest = false;
  for (ULONG sector = 1; sector < ImageSectors && NT_SUCCESS(status); ++sector) {
    if (!goesBack(sector)) continue;
    CopySector(area->Disk, area->Backup, sector);
    rest = true;
  }
  if (NT_SUCCESS(status) && rest) status = WriteDiskStep(area->Disk, 1, ImageSectors - 1);
  return status;
}

bool PreBootInPlace(const UCHAR* sectors, const BootPlaces& places) {
  return ReadU16(sectors, BootStageWord) == 4 && ReadU32(sectors, BootZeroWord) == 0 &&
         ReadU32(sectors, BootModeWord) == 1 &&
         ReadU32(sectors, BootLoaderSector) == places.LoaderSector;
}

// The boot area of `device` read for a change; null (with *status) when it
// cannot be.
BootArea* OpenBootArea(PDEVICE_OBJECT device, BootPlaces* places, NTSTATUS* status) {
  BootArea* area = AllocateBootArea();
  if (area == nullptr) {
    *status = STATUS_INSUFFICIENT_RESOURCES;
    return nullptr;
  }
  *status = FindBootPlaces(device, places);
  if (NT_SUCCESS(*status)) *status = ReadBootArea(device, *places, area);
  if (NT_SUCCESS(*status)) return area;
  ExFreePoolWithTag(area, EnginePoolTag);
  return nullptr;
}

struct RollbackFields {
  UCHAR Pending, Reclaim, Spare, Target;
};

RollbackFields FieldsOf(const vh::EngineHeader* header) {
  return {header->RollbackPending, header->ReclaimPending, header->SpareFlag,
          header->RollbackTarget};
}

void SetFields(vh::EngineHeader* header, const RollbackFields& fields) {
  header->RollbackPending = fields.Pending;
  header->ReclaimPending = fields.Reclaim;
  header->SpareFlag = fields.Spare;
  header->RollbackTarget = fields.Target;
}

// Records `fields` in the header (the commit); a failed write leaves the
// header in memory as it was.
NTSTATUS CommitFields(PDEVICE_OBJECT device, const RollbackFields& fields) {
  vh::EngineHeader* header = VolumeOf(device)->Header;
  const RollbackFields before = FieldsOf(header);
  SetFields(header, fields);
  NTSTATUS status = snapshot_maps::WriteHeader(device);
  if (!NT_SUCCESS(status)) SetFields(header, before);
  return status;
}

// A schedule with nothing pending: the backup and the loader, the record,
// then the program. A failure after the record takes the program off again
// and the record with it; where even that fails, the record stays with
// whatever reached disk 0 (start-up settles it).
NTSTATUS Install(PDEVICE_OBJECT device, const BootPlaces& places, BootArea* area,
                 const RollbackFields& fields) {
  // A program in sector 0 that nothing records (one start-up could not
  // take off) is never saved as the machine's: its sectors keep the backup.
  const bool changed = TakeOwnSectors(area, ProgramOnDisk(area));
  if (!IsMbrDisk(area->Backup)) return STATUS_NOT_SUPPORTED;
  const RollbackFields before = FieldsOf(VolumeOf(device)->Header);
  NTSTATUS status = PrepareInstall(device, places, area, changed);
  if (NT_SUCCESS(status)) status = CommitFields(device, fields);
  if (!NT_SUCCESS(status)) return status;
  status = PutProgramOn(area);
  if (NT_SUCCESS(status)) return status;
  NTSTATUS undo = TakeProgramOff(area, false);
  if (NT_SUCCESS(undo)) undo = CommitFields(device, before);
  if (!NT_SUCCESS(undo)) LogFailure("SNAP %08x\n", undo);
  return status;
}

}  // namespace

NTSTATUS ScheduleRollback(PDEVICE_OBJECT device, const vh::RollbackRequest* request) {
  PVolumeFilterExtension volume = VolumeOf(device);
  if (volume == nullptr || volume->Header == nullptr || request == nullptr ||
      DiskZero() == nullptr) {
    LogFailure("SNAP %08x\n", STATUS_INVALID_PARAMETER);
    return STATUS_INVALID_PARAMETER;
  }
  const bool schedule = request->Schedule != 0;
  // Other units test the flag against 1: any nonzero Schedule is 1.
  const RollbackFields fields = {static_cast<UCHAR>(schedule ? 1 : 0), request->ReclaimFlag,
                                 request->SpareFlag, request->TargetNumber};
  const bool pending = volume->Header->RollbackPending != 0;
  if (schedule == pending) {
    // A new target, or a cancel with nothing pending: the header alone.
    NTSTATUS status = CommitFields(device, fields);
    if (!NT_SUCCESS(status)) LogFailure("SNAP %08x\n", status);
    return status;
  }
  BootPlaces places;
  NTSTATUS status;
  BootArea* area = OpenBootArea(device, &places, &status);
  if (area != nullptr) {
    if (schedule) {
      status = Install(device, places, area, fields);
    } else {
      // The program goes first, so the record never outlives a program
      // that starts.
      status = TakeProgramOff(area, false);
      if (NT_SUCCESS(status)) status = CommitFields(device, fields);
    }
    ExFreePoolWithTag(area, EnginePoolTag);
  }
  if (!NT_SUCCESS(status)) LogFailure("SNAP %08x\n", status);
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
  BootPlaces places;
  NTSTATUS status;
  BootArea* area = OpenBootArea(device, &places, &status);
  if (area != nullptr) {
    if (!PreBootInPlace(area->Disk, places)) {
      // What replaced sector 0 is saved; sectors still the program's keep
      // the backup's, which a pending rollback's schedule saved.
      const bool changed = TakeOwnSectors(area, true);
      status = IsMbrDisk(area->Backup) ? PrepareInstall(device, places, area, changed)
                                       : STATUS_NOT_SUPPORTED;
      if (NT_SUCCESS(status)) status = PutProgramOn(area);
    }
    ExFreePoolWithTag(area, EnginePoolTag);
  }
  if (!NT_SUCCESS(status)) LogFailure("SNAP %08x\n", status);
  return status;
}

NTSTATUS RemovePreBoot(PDEVICE_OBJECT device) {
  PVolumeFilterExtension volume = VolumeOf(device);
  if (DiskZero() == nullptr || volume == nullptr || volume->Header == nullptr)
    return STATUS_INVALID_PARAMETER;
  BootPlaces places;
  NTSTATUS status;
  BootArea* area = OpenBootArea(device, &places, &status);
  if (area != nullptr) {
    status = TakeProgramOff(area, false);
    ExFreePoolWithTag(area, EnginePoolTag);
  }
  return status;
}

NTSTATUS SettleBootArea(PDEVICE_OBJECT device) {
  PVolumeFilterExtension volume = VolumeOf(device);
  if (DiskZero() == nullptr || volume == nullptr || volume->Header == nullptr) {
    LogFailure("SNAP %08x\n", STATUS_INVALID_PARAMETER);
    return STATUS_INVALID_PARAMETER;
  }
  BootPlaces places;
  NTSTATUS status;
  BootArea* area = OpenBootArea(device, &places, &status);
  if (area == nullptr) {
    LogFailure("SNAP %08x\n", status);
    return status;
  }
  const vh::EngineHeader* header = volume->Header;
  if (header->RollbackPending != 0 && ProgramOnDisk(area)) {
    // Scheduled: the program whole (sectors 1-4 land before sector 0, so
    // only a hand other than the engine's leaves them short).
    status = PutProgramOn(area);
  } else if (header->RollbackPending != 0) {
    // A schedule or cancel cut between its record and sector 0: the
    // machine started as before, and goes on so.
    LogFailure("SNAP %08x %08x\n", header->RollbackPending, header->RollbackTarget);
    status = TakeProgramOff(area, true);
    if (NT_SUCCESS(status)) {
      status = CommitFields(device, {0, header->ReclaimPending, header->SpareFlag, 0});
    }
  } else if (header->RollbackPending == 0 && ProgramOnDisk(area)) {
    // The program without its record (a removal of the target whose disk
    // transfer failed, or an engine that wrote the header last): it goes
    // when its backup holds a boot sector of the machine's own; otherwise
    // the machine's sectors are lost and it stays.
    LogFailure("SNAP %08x %08x\n", 0, 1);
    status = !SameSector(area->Backup, area->Program, 0) && IsMbrDisk(area->Backup)
                 ? TakeProgramOff(area, true)
                 : STATUS_UNSUCCESSFUL;
  }
  ExFreePoolWithTag(area, EnginePoolTag);
  if (!NT_SUCCESS(status)) LogFailure("SNAP %08x\n", status);
  return status;
}

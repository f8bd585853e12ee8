// The engine header and the "Parameter" record: reading the record from the
// service key, the volume's boot-sector geometry, the header validator, the
// search of the header locations, and the loaders of the space bitmap and the
// two in-memory block bitmaps. Everything runs at PASSIVE_LEVEL (volume
// arrival, the control device's dispatch path, the snapshot code).
#include "bitmap_bits.h"
#include "copy_on_write.h"
#include "engine_header.h"
#include "engine_io.h"
#include "engine_lock.h"
#include "snapshot_delete.h"
#include "snapshot_maps.h"

namespace {

constexpr ULONG SectorBytes = vh::kSectorBytes;
constexpr ULONG PartialHeadBytes = FIELD_OFFSET(KEY_VALUE_PARTIAL_INFORMATION, Data);
constexpr ULONG RegistryQueryBytes = 2048;
// Bytes of a block bitmap per sector of the block map: a sector holds 128
// entries, one bit each.
constexpr ULONG RedirectBytesPerMapSector = SectorBytes / 32;
// The block bitmaps are RTL bitmaps: their bit count must fit in a ULONG.
constexpr ULONGLONG MaxRedirectBytes = 0xFFFFFFFFull / 8;

bool HasLetters(const UCHAR* bytes, const char* letters, ULONG count) {
  for (ULONG i = 0; i < count; ++i) {
    if (bytes[i] != static_cast<UCHAR>(letters[i])) return false;
  }
  return true;
}

USHORT ReadU16(const UCHAR* p) { return static_cast<USHORT>(p[0] | (p[1] << 8)); }
ULONG ReadU32(const UCHAR* p) {
  return static_cast<ULONG>(p[0]) | (static_cast<ULONG>(p[1]) << 8) |
         (static_cast<ULONG>(p[2]) << 16) | (static_cast<ULONG>(p[3]) << 24);
}

bool ParametersAreValid(const vh::EngineParameters& parameters) {
  return parameters.Magic == vh::kEngineMagic && parameters.Word008 != 0 &&
         parameters.Signature == vh::kRecordSignature;
}

// Blocks of the space area; a map entry may name only these.
ULONGLONG SpaceBlocks(const vh::EngineHeader* header) {
  if (header->SpaceLast < header->SpaceFirst) return 0;
  ULONGLONG span = header->SpaceLast - header->SpaceFirst;
  return span / vh::kBlockSectors + ((span % vh::kBlockSectors) + 1) / vh::kBlockSectors;
}

void FreeBitmap(PULONG* buffer, ULONG* bytes, PRTL_BITMAP bitmap) {
  if (*buffer != nullptr) ExFreePoolWithTag(*buffer, EnginePoolTag);
  *buffer = nullptr;
  *bytes = 0;
  RtlInitializeBitMap(bitmap, nullptr, 0);
}

// Keeps a buffer of exactly `bytes` (freeing one of another size), zeroed
// and described as bytes x 8 bits.
NTSTATUS PrepareBitmap(PULONG* buffer, ULONG* size, PRTL_BITMAP bitmap, ULONG bytes) {
  if (*buffer != nullptr && *size != bytes) FreeBitmap(buffer, size, bitmap);
  if (*buffer == nullptr) {
    *buffer = static_cast<PULONG>(ExAllocatePoolWithTag(NonPagedPool, bytes, EnginePoolTag));
    if (*buffer == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    *size = bytes;
  }
  RtlZeroMemory(*buffer, bytes);
  RtlInitializeBitMap(bitmap, *buffer, bytes * 8);
  return STATUS_SUCCESS;
}

void FreeRedirectBitmaps(PVolumeFilterExtension volume) {
  FreeBitmap(&volume->MarkedBlocksBuffer, &volume->MarkedBlocksBytes, &volume->MarkedBlocks);
  FreeBitmap(&volume->SavedBlocksBuffer, &volume->SavedBlocksBytes, &volume->SavedBlocks);
}

void FreeSpaceBitmap(PVolumeFilterExtension volume) {
  FreeBitmap(&volume->SpaceBitmapBuffer, &volume->SpaceBitmapBytes, &volume->SpaceBitmap);
  WriteShared(volume->FreeSectors, static_cast<ULONG>(0));
  WriteShared(volume->TotalSectors, static_cast<ULONG>(0));
}

// Sets the block bits of one page of the live map; `entries` of it are
// inside the map. Ends the scan (without failing it) at an invalid entry.
NTSTATUS MarkPageEntries(PVolumeFilterExtension volume, const ULONG* page, ULONG entries,
                         ULONG firstBlock, bool* stop) {
  for (ULONG j = 0; j < entries; ++j) {
    ULONG entry = page[j];
    if (!IsValidMapEntry(volume, entry)) {
      LogFailure("SNAP %08x\n", entry);
      *stop = true;
      return STATUS_SUCCESS;
    }
    NTSTATUS status = STATUS_SUCCESS;
    if (entry == vh::kMapEntryFree) {
      status = SetBitmapBit(&volume->MarkedBlocks, firstBlock + j);
    } else if (entry >= vh::kBlockSectors) {
      status = SetBitmapBit(&volume->SavedBlocks, firstBlock + j);
    }
    if (!NT_SUCCESS(status)) return status;
  }
  return STATUS_SUCCESS;
}

}  // namespace

NTSTATUS ReadRegistryValue(PUNICODE_STRING registryPath, vh::EngineParameters* destination) {
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, registryPath, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE,
                             nullptr, nullptr);
  HANDLE key;
  NTSTATUS status = ZwOpenKey(&key, KEY_READ, &attributes);
  if (!NT_SUCCESS(status)) {
    LogFailure("SNAP %08x\n", status);
    return status;
  }
  auto* answer = static_cast<PKEY_VALUE_PARTIAL_INFORMATION>(
      ExAllocatePoolWithTag(PagedPool, RegistryQueryBytes, EnginePoolTag));
  if (answer == nullptr) {
    ZwClose(key);
    LogFailure("SNAP %08x\n", STATUS_INSUFFICIENT_RESOURCES);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  UNICODE_STRING valueName;
  RtlInitUnicodeString(&valueName, VH_WIDE("Parameter"));
  ULONG resultLength = 0;
  status = ZwQueryValueKey(key, &valueName, KeyValuePartialInformation, answer, RegistryQueryBytes,
                           &resultLength);
  if (NT_SUCCESS(status)) {
    // The data length comes from the registry: never copy more than the
    // answer holds or the record has room for.
    ULONG bytes = answer->DataLength;
    if (bytes > RegistryQueryBytes - PartialHeadBytes)
      bytes = RegistryQueryBytes - PartialHeadBytes;
    if (bytes > sizeof *destination) bytes = sizeof *destination;
    RtlCopyMemory(destination, answer->Data, bytes);
  } else {
    LogFailure("SNAP %08x\n", status);
  }
  ExFreePoolWithTag(answer, EnginePoolTag);
  ZwClose(key);
  return status;
}

NTSTATUS ReadBootSectorGeometry(PDEVICE_OBJECT device) {
  PVolumeFilterExtension volume = VolumeOf(device);
  if (volume == nullptr || volume->LowerDevice == nullptr) {
    LogFailure("SNAP %08x\n", STATUS_INVALID_PARAMETER);
    return STATUS_INVALID_PARAMETER;
  }
  auto* boot = static_cast<PUCHAR>(ExAllocatePoolWithTag(NonPagedPool, SectorBytes, EnginePoolTag));
  if (boot == nullptr) {
    LogFailure("SNAP %08x\n", STATUS_INSUFFICIENT_RESOURCES);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  IO_STATUS_BLOCK ioStatus;
  NTSTATUS status = ReadWriteDiskSectors(1, volume->LowerDevice, 0, SectorBytes, boot, &ioStatus);
  ULONG kind = 0;
  ULONG dataStart = 0;
  ULONGLONG totalSectors = 0;
  if (NT_SUCCESS(status)) {
    // NTFS wins when both names are present: its name sits at byte 3.
    if (HasLetters(boot + 3, "NTFS", 4)) {
      kind = vh::kFileSystemNtfs;
      totalSectors = ReadU32(boot + 0x28);
    } else if (HasLetters(boot + 0x52, "FAT32", 5)) {
      kind = vh::kFileSystemFat32;
      dataStart = ReadU16(boot + 0x0E) + static_cast<ULONG>(boot[0x10]) * ReadU32(boot + 0x24);
      totalSectors = static_cast<ULONGLONG>(ReadU16(boot + 0x13)) + ReadU32(boot + 0x20);
    } else {
      status = STATUS_UNSUCCESSFUL;
    }
  }
  const USHORT bytesPerSector = NT_SUCCESS(status) ? ReadU16(boot + 0x0B) : 0;
  const UCHAR sectorsPerCluster = NT_SUCCESS(status) ? boot[0x0D] : 0;
  if (NT_SUCCESS(status) && bytesPerSector != SectorBytes) {
    // Every engine offset is counted in 512-byte sectors; a volume with
    // other sectors would be misread rather than tracked.
    status = STATUS_NOT_SUPPORTED;
  }
  if (NT_SUCCESS(status) && sectorsPerCluster == 0) {
    // Clusters of no sectors describe no file system the engine can map.
    status = STATUS_UNSUCCESSFUL;
  }
  if (NT_SUCCESS(status)) {
    volume->FileSystemKind = kind;
    volume->BytesPerSector = bytesPerSector;
    volume->SectorsPerCluster = sectorsPerCluster;
    volume->DataStartSector = dataStart;
    volume->TotalVolumeSectors = totalSectors;
  } else {
    LogFailure("SNAP %08x\n", status);
  }
  ExFreePoolWithTag(boot, EnginePoolTag);
  return status;
}

BOOLEAN ValidateEngineHeader(const vh::EngineHeader* header) {
  struct Region {
    ULONGLONG first;
    ULONGLONG last;
  };
  bool valid = header->Version == vh::kEngineVersion && header->Magic == vh::kEngineMagic &&
               header->VolumeId != 0 && header->Signature == vh::kRecordSignature &&
               header->SnapshotCount <= header->MaxSnapshots;
  if (valid) {
    const Region regions[] = {
        {header->BootBackupSector, header->BootBackupLastSector},
        {header->BootImageSector, header->BootImageLastSector},
        {header->SpaceBitmapSector, header->SpaceBitmapLastSector},
        {header->SpaceFirst, header->SpaceLast},
        {header->AreaBaseSector, header->AreaLastSector},
        {header->LoaderImageSector, header->LoaderImageLastSector},
        {header->HeaderSector, header->HeaderLastSector},
        {header->BlockMapFirst, header->BlockMapLast},
    };
    for (const Region& region : regions) {
      if (region.first > region.last) {
        valid = false;
        break;
      }
    }
  }
  valid = valid && header->OldestNumber <= header->MaxSnapshots &&
          header->CountCopy <= header->SnapshotCount;
  if (!valid) LogFailure("Error %08x\n", 0);
  return valid ? TRUE : FALSE;
}

NTSTATUS LocateEngineHeader(PDEVICE_OBJECT device, vh::EngineHeader* buffer) {
  PVolumeFilterExtension volume = VolumeOf(device);
  DriverExtension* driver;
  NTSTATUS status = GetDriverExtension(&driver);
  if (!NT_SUCCESS(status)) {
    LogFailure("SNAP %08x\n", status);
    return status;
  }
  const vh::EngineParameters& parameters = driver->EngineParameters;
  if (volume == nullptr || volume->LowerDevice == nullptr || buffer == nullptr ||
      !ParametersAreValid(parameters)) {
    LogFailure("SNAP %08x\n", STATUS_INVALID_PARAMETER);
    return STATUS_INVALID_PARAMETER;
  }
  for (ULONG i = 0; i < vh::kHeaderLocationCount; ++i) {
    const vh::HeaderLocation& location = parameters.HeaderLocations[i];
    // A sector whose byte offset does not fit is no place on any volume.
    if (location.Sector > (0x7FFFFFFFFFFFFFFFull - vh::kEngineHeaderBytes) / SectorBytes) {
      LogFailure("SNAP %08x\n", STATUS_INVALID_PARAMETER);
      continue;
    }
    IO_STATUS_BLOCK ioStatus;
    status = ReadWriteDiskSectors(1, volume->LowerDevice, location.Sector * SectorBytes,
                                  vh::kEngineHeaderBytes, buffer, &ioStatus);
    if (!NT_SUCCESS(status)) {
      LogFailure("SNAP %08x\n", status);
      continue;
    }
    if (buffer->Magic != vh::kEngineMagic || buffer->Version == 0 ||
        buffer->Signature != vh::kRecordSignature || buffer->VolumeId != location.VolumeId) {
      continue;
    }
    // The first header that names this volume decides.
    if (!ValidateEngineHeader(buffer)) {
      LogFailure("SNAP %08x\n", STATUS_INVALID_PARAMETER);
      return STATUS_INVALID_PARAMETER;
    }
    return STATUS_SUCCESS;
  }
  LogFailure("SNAP %08x\n", STATUS_INVALID_PARAMETER);
  return STATUS_INVALID_PARAMETER;
}

NTSTATUS LoadEngineHeader(PDEVICE_OBJECT device) {
  PVolumeFilterExtension volume = VolumeOf(device);
  if (volume == nullptr) return STATUS_INVALID_PARAMETER;
  // Callers load only a volume without header; one already loaded may be in
  // use by the worker and is kept.
  if (volume->Header != nullptr) return STATUS_SUCCESS;
  auto* header = static_cast<vh::EngineHeader*>(
      ExAllocatePoolWithTag(NonPagedPool, sizeof(vh::EngineHeader), EnginePoolTag));
  if (header == nullptr) {
    LogFailure("SNAP %08x\n", STATUS_INSUFFICIENT_RESOURCES);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  RtlZeroMemory(header, sizeof *header);
  NTSTATUS status = LocateEngineHeader(device, header);
  if (!NT_SUCCESS(status)) {
    LogFailure("SNAP %08x\n", status);
    ExFreePoolWithTag(header, EnginePoolTag);
    return status;
  }
  volume->Header = header;
  CheckLoadedHeader(device);
  return STATUS_SUCCESS;
}

NTSTATUS ReadWriteEngineSectors(UCHAR read, PDEVICE_OBJECT device, ULONGLONG engineSector,
                                ULONG length, PVOID buffer) {
  PVolumeFilterExtension volume = VolumeOf(device);
  if (volume == nullptr || volume->Header == nullptr || volume->LowerDevice == nullptr) {
    LogFailure("SNAP %08x\n", STATUS_INVALID_PARAMETER);
    return STATUS_INVALID_PARAMETER;
  }
  IO_STATUS_BLOCK ioStatus;
  const ULONGLONG base = volume->Header->AreaBaseSector;
  // Sector numbers come from the header: their byte offsets must not wrap.
  const ULONGLONG limit = 0x7FFFFFFFFFFFFFFFull / SectorBytes;
  if (engineSector > limit || base > limit - engineSector) {
    LogFailure("SNAP %08x\n", STATUS_INVALID_PARAMETER);
    return STATUS_INVALID_PARAMETER;
  }
  if (base != 0) {
    return ReadWriteDiskSectors(read, volume->LowerDevice, (base + engineSector) * SectorBytes,
                                length, buffer, &ioStatus);
  }
  return ReadWriteVolumeSectors(read, device, static_cast<LONGLONG>(engineSector * SectorBytes),
                                length, buffer, &ioStatus);
}

BOOLEAN IsValidMapEntry(PVolumeFilterExtension volume, ULONG entry) {
  if (volume == nullptr || volume->Header == nullptr) return FALSE;
  if (entry == 0 || entry == vh::kMapEntryFree) return TRUE;
  const LONG value = static_cast<LONG>(entry);
  if (value < static_cast<LONG>(vh::kBlockSectors) ||
      value % static_cast<LONG>(vh::kBlockSectors) != 0)
    return FALSE;
  // Entry E names space block (E - 64) / 64: it must be one of the space's
  // blocks, never the one just past the space's end.
  return static_cast<ULONGLONG>(value) <= SpaceBlocks(volume->Header) * vh::kBlockSectors ? TRUE
                                                                                          : FALSE;
}

NTSTATUS LoadSpaceBitmap(PDEVICE_OBJECT device) {
  PVolumeFilterExtension volume = VolumeOf(device);
  if (volume == nullptr || volume->Header == nullptr) {
    LogFailure("SNAP %08x\n", STATUS_INVALID_PARAMETER);
    return STATUS_INVALID_PARAMETER;
  }
  const vh::EngineHeader* header = volume->Header;
  const ULONGLONG size = vh::SpaceBitmapBytes(header->SpaceFirst, header->SpaceLast);
  if (size < vh::kSpaceBitmapMinBytes || size > vh::kSpaceBitmapMaxBytes) {
    LogFailure("SNAP %08x-%I64d-%I64d-%I64d\n\n", STATUS_INVALID_PARAMETER, size, header->SpaceLast,
               header->SpaceFirst);
    FreeSpaceBitmap(volume);
    return STATUS_INVALID_PARAMETER;
  }
  // The bitmap is read and later written whole: a region shorter than the
  // bitmap would let those writes run over the table after it.
  if (header->SpaceBitmapLastSector < header->SpaceBitmapSector ||
      header->SpaceBitmapLastSector - header->SpaceBitmapSector < size / SectorBytes - 1) {
    LogFailure("SNAP %08x-%I64d-%I64d-%I64d\n\n", STATUS_INVALID_PARAMETER, size,
               header->SpaceBitmapLastSector, header->SpaceBitmapSector);
    FreeSpaceBitmap(volume);
    return STATUS_INVALID_PARAMETER;
  }
  const ULONG bytes = static_cast<ULONG>(size);
  NTSTATUS status = PrepareBitmap(&volume->SpaceBitmapBuffer, &volume->SpaceBitmapBytes,
                                  &volume->SpaceBitmap, bytes);
  if (!NT_SUCCESS(status)) {
    LogFailure("SNAP %08x %08x\n", status, bytes);
    FreeSpaceBitmap(volume);
    return status;
  }
  WriteShared(volume->TotalSectors, static_cast<ULONG>(bytes * SectorBytes));
  WriteShared(volume->FreeSectors, static_cast<ULONG>(volume->TotalSectors));
  if (header->SnapshotCount == 0) return STATUS_SUCCESS;  // nothing in use yet
  status = ReadEngineSectors(device, header->SpaceBitmapSector, bytes, volume->SpaceBitmapBuffer);
  if (!NT_SUCCESS(status)) {
    LogFailure("SNAP %08x\n", status);
    FreeSpaceBitmap(volume);
    return status;
  }
  WriteShared(volume->FreeSectors,
              static_cast<ULONG>(RtlNumberOfClearBits(&volume->SpaceBitmap) * vh::kBlockSectors));
  return STATUS_SUCCESS;
}

NTSTATUS BuildRedirectBitmaps(PDEVICE_OBJECT device) {
  PVolumeFilterExtension volume = VolumeOf(device);
  if (volume == nullptr || volume->Header == nullptr) {
    LogFailure("SNAP %08x\n", STATUS_INVALID_PARAMETER);
    return STATUS_INVALID_PARAMETER;
  }
  // The bitmaps are rebuilt, perhaps reallocated: no rewrite trusts them
  // meanwhile.
  CloseDirectRewrites(volume);
  const vh::EngineHeader* header = volume->Header;
  // The map's sector count; a pair that spans every sector wraps to 0.
  const ULONGLONG mapSectors = header->BlockMapLast < header->BlockMapFirst
                                   ? 0
                                   : header->BlockMapLast - header->BlockMapFirst + 1;
  if (mapSectors == 0 || mapSectors > MaxRedirectBytes / RedirectBytesPerMapSector) {
    LogFailure("SNAP %08x\n", STATUS_INVALID_PARAMETER);
    FreeRedirectBitmaps(volume);
    return STATUS_INVALID_PARAMETER;
  }
  const ULONG bytes = static_cast<ULONG>(mapSectors * RedirectBytesPerMapSector);
  NTSTATUS status = PrepareBitmap(&volume->MarkedBlocksBuffer, &volume->MarkedBlocksBytes,
                                  &volume->MarkedBlocks, bytes);
  if (NT_SUCCESS(status)) {
    status = PrepareBitmap(&volume->SavedBlocksBuffer, &volume->SavedBlocksBytes,
                           &volume->SavedBlocks, bytes);
  }
  if (!NT_SUCCESS(status)) {
    LogFailure("SNAP %08x\n", status);
    FreeRedirectBitmaps(volume);
    return status;
  }
  if (header->SnapshotCount == 0) return STATUS_SUCCESS;  // the live map is all zero

  auto* page =
      static_cast<PULONG>(ExAllocatePoolWithTag(NonPagedPool, vh::kBlockBytes, EnginePoolTag));
  if (page == nullptr) {
    LogFailure("SNAP %08x\n", STATUS_INSUFFICIENT_RESOURCES);
    FreeRedirectBitmaps(volume);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  bool stop = false;
  for (ULONGLONG first = 0; first < mapSectors && !stop && NT_SUCCESS(status);
       first += vh::kMapPageSectors) {
    // A map that ends inside a page is read only as far as it goes.
    ULONGLONG left = mapSectors - first;
    ULONG sectors = left < vh::kMapPageSectors ? static_cast<ULONG>(left) : vh::kMapPageSectors;
    status = ReadEngineSectors(device, header->BlockMapFirst + first, sectors * SectorBytes, page);
    if (NT_SUCCESS(status)) {
      ULONG firstBlock = static_cast<ULONG>(first / vh::kMapPageSectors * vh::kMapPageEntries);
      status =
          MarkPageEntries(volume, page, sectors * (SectorBytes / sizeof(ULONG)), firstBlock, &stop);
    }
  }
  ExFreePoolWithTag(page, EnginePoolTag);
  if (!NT_SUCCESS(status)) {
    LogFailure("SNAP %08x\n", status);
    FreeRedirectBitmaps(volume);
  }
  return status;
}

void FreeVolumeEngineState(PVolumeFilterExtension volume) {
  CloseDirectRewrites(volume);
  FreeRedirectBitmaps(volume);
  FreeSpaceBitmap(volume);
  if (volume->Header != nullptr) ExFreePoolWithTag(volume->Header, EnginePoolTag);
  volume->Header = nullptr;
}

BOOLEAN RepairHeaderInvariants(vh::EngineHeader* header) {
  bool changed = false;
  const ULONG count = header->SnapshotCount;
  // Used slots the commit sector does not count (a create cut before its
  // count landed, or everything discarded), and second claims on a number.
  ULONG seen = 0;  // bit n: number n has its slot
  for (vh::SnapshotSlot& slot : header->Slots) {
    if (slot.Used != 1) continue;
    const ULONG number = slot.Number;
    if (number == 0 || number >= count || number > vh::kSlotCount || (seen >> number) & 1) {
      snapshot_maps::FreeSlot(&slot);
      changed = true;
      continue;
    }
    seen |= 1u << number;
  }
  // Numbers without their slot (a removal cut after its commit): the slots
  // above each gap move down, and the count with them.
  // A record still on disk names a snapshot that stays (a removal of its
  // target drops it before the commit) by its number before the removal,
  // or, once that snapshot moved down, by its new number. A gap at or
  // below the record's number therefore moves it down one.
  ULONG next = 1;
  ULONG target = header->RollbackTarget;
  for (ULONG number = 1; number < count && number <= vh::kSlotCount; ++number) {
    if (((seen >> number) & 1) == 0) {
      if (header->RollbackPending != 0 && number <= header->RollbackTarget && target > 1) --target;
      continue;
    }
    if (number != next) {
      ULONG index;
      if (NT_SUCCESS(FindSlotByNumber(header, number, &index))) {
        header->Slots[index].Number = static_cast<UCHAR>(next);
        changed = true;
      }
    }
    ++next;
  }
  const ULONG repaired = count == 0 ? 0 : next;
  if (repaired != count) {
    if (header->RollbackPending != 0) header->RollbackTarget = static_cast<UCHAR>(target);
    header->CountCopy = header->CountCopy >= count ? static_cast<UCHAR>(repaired)
                                                   : static_cast<UCHAR>(repaired - 1);
    header->SnapshotCount = static_cast<UCHAR>(repaired);
    changed = true;
  } else if (header->CountCopy > count) {
    header->CountCopy = static_cast<UCHAR>(count);
    changed = true;
  }
  return changed ? TRUE : FALSE;
}

NTSTATUS CheckLoadedHeader(PDEVICE_OBJECT device) {
  PVolumeFilterExtension volume = VolumeOf(device);
  if (volume == nullptr || volume->Header == nullptr) return STATUS_INVALID_PARAMETER;
  const UCHAR count = volume->Header->SnapshotCount;
  if (!RepairHeaderInvariants(volume->Header)) return STATUS_SUCCESS;
  LogFailure("SNAP %08x %08x\n", count, volume->Header->SnapshotCount);
  NTSTATUS status = snapshot_maps::WriteHeader(device);
  if (!NT_SUCCESS(status)) LogFailure("SNAP %08x\n", status);
  return status;
}

NTSTATUS ReclaimUnnamedBlocks(PDEVICE_OBJECT device) {
  PVolumeFilterExtension volume = VolumeOf(device);
  if (volume == nullptr || volume->Header == nullptr || volume->SpaceBitmapBuffer == nullptr ||
      volume->Header->SnapshotCount == 0) {
    return STATUS_SUCCESS;
  }
  const ULONG before = volume->FreeSectors;
  NTSTATUS status = RebuildSpaceBitmap(device);
  if (NT_SUCCESS(status) && volume->FreeSectors != before) {
    LogFailure("FREE %08x\n", volume->FreeSectors - before);
    status = snapshot_maps::WriteSpaceBitmap(device);
    if (NT_SUCCESS(status)) status = FlushLowerDevice(device);
  }
  if (!NT_SUCCESS(status)) LogFailure("SNAP %08x\n", status);
  return status;
}

// Small helpers shared by the snapshot units (creation, copy-on-write,
// deletion): the geometry of the map tables and the whole-header write.
#pragma once

#include "engine.h"
#include "engine_header.h"
#include "engine_io.h"

namespace snapshot_maps {

constexpr ULONG PageBytes = vh::kBlockBytes;  // one 32 KB map page
constexpr ULONG PageSectors = vh::kMapPageSectors;
constexpr ULONG PageEntries = vh::kMapPageEntries;

// Sectors of the live map; 0 when its pair is out of order.
inline ULONGLONG MapSectors(const vh::EngineHeader* header) {
  return header->BlockMapLast < header->BlockMapFirst
             ? 0
             : header->BlockMapLast - header->BlockMapFirst + 1;
}

// Pages of every map table; a map that ends inside a page counts that page.
inline ULONG MapPages(const vh::EngineHeader* header) {
  const ULONGLONG pages = (MapSectors(header) + PageSectors - 1) / PageSectors;
  return pages > 0xFFFFFull ? 0 : static_cast<ULONG>(pages);
}

// Bytes of page p that lie inside the map (a whole page but for the last).
inline ULONG PageLength(const vh::EngineHeader* header, ULONG page) {
  const ULONGLONG left = MapSectors(header) - static_cast<ULONGLONG>(page) * PageSectors;
  return (left < PageSectors ? static_cast<ULONG>(left) : PageSectors) * vh::kSectorBytes;
}

// An entry naming a saved copy (neither unchanged nor free-at-snapshot).
inline bool IsSavedCopy(ULONG entry) { return entry != 0 && entry < vh::kMapEntryFree; }
inline ULONG SpaceBlockOf(ULONG entry) { return (entry - vh::kBlockSectors) / vh::kBlockSectors; }

inline PVOID AllocatePage() {
  return ExAllocatePoolWithTag(NonPagedPool, PageBytes, EnginePoolTag);
}
inline void FreePool(PVOID buffer) {
  if (buffer != nullptr) ExFreePoolWithTag(buffer, EnginePoolTag);
}

// The header's first sector holds SnapshotCount, CountCopy and the newest
// descriptor: it is the commit sector. One sector lands whole or not at
// all; the header's 128 do not, and a disk cache may persist them in any
// order, so each part is flushed before the next goes down.
// A flush that fails is sent once more (a passing fault is worth a retry;
// the commit steps below depend on each flush).
inline NTSTATUS FlushForCommit(PDEVICE_OBJECT device) {
  NTSTATUS status = FlushLowerDevice(device);
  return NT_SUCCESS(status) ? status : FlushLowerDevice(device);
}

// A part that fails is written once more: a commit left half done stays
// on disk until the next header write, so a passing fault is worth a retry.
inline NTSTATUS WriteHeaderPart(PDEVICE_OBJECT device, ULONG firstSector, ULONG sectors) {
  PVolumeFilterExtension volume = VolumeOf(device);
  NTSTATUS status = STATUS_UNSUCCESSFUL;
  for (int attempt = 0; attempt < 2 && !NT_SUCCESS(status); ++attempt) {
    status = WriteEngineSectors(
        device, volume->Header->HeaderSector + firstSector, sectors * vh::kSectorBytes,
        reinterpret_cast<PUCHAR>(volume->Header) + firstSector * vh::kSectorBytes);
    if (NT_SUCCESS(status)) status = FlushLowerDevice(device);
  }
  return status;
}

constexpr ULONG HeaderSectors = vh::kEngineHeaderBytes / vh::kSectorBytes;

// A header commit: everything it names made durable, then the rest of the
// header (the slots: never live before the commit sector counts them),
// then the commit sector alone. A cut anywhere leaves the previous count
// with slots the load-time check can tell apart (CheckLoadedHeader).
inline NTSTATUS WriteHeader(PDEVICE_OBJECT device) {
  NTSTATUS status = FlushForCommit(device);
  if (NT_SUCCESS(status)) status = WriteHeaderPart(device, 1, HeaderSectors - 1);
  if (NT_SUCCESS(status)) status = WriteHeaderPart(device, 0, 1);
  return status;
}

// A commit that only takes away (every snapshot discarded): the commit
// sector first, so the count drops before any slot is freed.
inline NTSTATUS WriteHeaderCountFirst(PDEVICE_OBJECT device) {
  NTSTATUS status = FlushForCommit(device);
  if (NT_SUCCESS(status)) status = WriteHeaderPart(device, 0, 1);
  if (NT_SUCCESS(status)) status = WriteHeaderPart(device, 1, HeaderSectors - 1);
  return status;
}

// The commit sector alone (count, CountCopy, the newest descriptor, the
// rollback record), after what it names.
inline NTSTATUS WriteCommitSector(PDEVICE_OBJECT device) {
  NTSTATUS status = FlushForCommit(device);
  return NT_SUCCESS(status) ? WriteHeaderPart(device, 0, 1) : status;
}

static_assert(offsetof(vh::EngineHeader, Slots) % vh::kSectorBytes == 0 &&
                  vh::kSectorBytes % sizeof(vh::SnapshotSlot) == 0,
              "a slot never straddles two sectors");
// The one sector that holds slot `index`.
inline NTSTATUS WriteSlotSector(PDEVICE_OBJECT device, ULONG index) {
  constexpr ULONG slotsOffset = offsetof(vh::EngineHeader, Slots);
  const ULONG sector =
      (slotsOffset + index * static_cast<ULONG>(sizeof(vh::SnapshotSlot))) / vh::kSectorBytes;
  NTSTATUS status = FlushForCommit(device);
  return NT_SUCCESS(status) ? WriteHeaderPart(device, sector, 1) : status;
}

inline NTSTATUS WriteSpaceBitmap(PDEVICE_OBJECT device) {
  PVolumeFilterExtension volume = VolumeOf(device);
  if (volume->SpaceBitmapBuffer == nullptr) return STATUS_INVALID_PARAMETER;
  return WriteEngineSectors(device, volume->Header->SpaceBitmapSector, volume->SpaceBitmapBytes,
                            volume->SpaceBitmapBuffer);
}

// The free count the status reports, from the space bitmap; in temporary
// mode the count (and the total beside it) is the redirect space's, which
// the snapshot space must not overwrite.
inline void CountFreeSpace(PVolumeFilterExtension volume) {
  if (ReadShared(volume->EngineMode) == EngineModeTemporary) return;
  WriteShared(volume->FreeSectors,
              static_cast<ULONG>(RtlNumberOfClearBits(&volume->SpaceBitmap) * vh::kBlockSectors));
}

inline void FreeSlot(vh::SnapshotSlot* slot) {
  slot->Number = vh::kFreedSlotNumber;
  slot->Used = 0;
  slot->Signature = 0;
}

}  // namespace snapshot_maps

// Small helpers shared by the snapshot units (creation, copy-on-write,
// deletion): the geometry of the map tables and the whole-header write.
#pragma once

#include "engine.h"

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

inline NTSTATUS WriteHeader(PDEVICE_OBJECT device) {
  PVolumeFilterExtension volume = VolumeOf(device);
  return WriteEngineSectors(device, volume->Header->HeaderSector, vh::kEngineHeaderBytes,
                            volume->Header);
}

inline NTSTATUS WriteSpaceBitmap(PDEVICE_OBJECT device) {
  PVolumeFilterExtension volume = VolumeOf(device);
  if (volume->SpaceBitmapBuffer == nullptr) return STATUS_INVALID_PARAMETER;
  return WriteEngineSectors(device, volume->Header->SpaceBitmapSector, volume->SpaceBitmapBytes,
                            volume->SpaceBitmapBuffer);
}

inline void FreeSlot(vh::SnapshotSlot* slot) {
  slot->Number = vh::kFreedSlotNumber;
  slot->Used = 0;
  slot->Signature = 0;
}

}  // namespace snapshot_maps

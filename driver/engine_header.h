// The engine header, the "Parameter" record and the bitmaps loaded from the
// engine area.
#pragma once

#include "engine.h"

NTSTATUS ReadRegistryValue(PUNICODE_STRING registryPath, vh::EngineParameters* destination);
NTSTATUS ReadBootSectorGeometry(PDEVICE_OBJECT volume);
BOOLEAN ValidateEngineHeader(const vh::EngineHeader* header);
NTSTATUS LocateEngineHeader(PDEVICE_OBJECT volume, vh::EngineHeader* buffer);
NTSTATUS LoadEngineHeader(PDEVICE_OBJECT volume);
// The header's invariants (used slots numbered densely 1 .. count - 1, one
// slot per number, none at or above the count) restored in memory: slots
// the commit sector does not count are freed, gaps a cut removal left are
// closed. True when anything changed.
BOOLEAN RepairHeaderInvariants(vh::EngineHeader* header);
// The same on a loaded header, written back when repaired.
NTSTATUS CheckLoadedHeader(PDEVICE_OBJECT volume);
// Space blocks marked in use that no listed map names (a cut between the
// bitmap and the map) go back to the free pool, on disk too.
NTSTATUS ReclaimUnnamedBlocks(PDEVICE_OBJECT volume);
NTSTATUS LoadSpaceBitmap(PDEVICE_OBJECT volume);
NTSTATUS BuildRedirectBitmaps(PDEVICE_OBJECT volume);
BOOLEAN IsValidMapEntry(PVolumeFilterExtension volume, ULONG entry);
// Engine sectors in either form of the area: at AreaBaseSector + n on the
// lower device, or through the header's extents when the base is 0.
NTSTATUS ReadWriteEngineSectors(UCHAR read, PDEVICE_OBJECT volume, ULONGLONG engineSector,
                                ULONG length, PVOID buffer);
inline NTSTATUS ReadEngineSectors(PDEVICE_OBJECT volume, ULONGLONG engineSector, ULONG length,
                                  PVOID buffer) {
  return ReadWriteEngineSectors(1, volume, engineSector, length, buffer);
}
inline NTSTATUS WriteEngineSectors(PDEVICE_OBJECT volume, ULONGLONG engineSector, ULONG length,
                                   PVOID buffer) {
  return ReadWriteEngineSectors(0, volume, engineSector, length, buffer);
}
// Frees the header and every bitmap of the volume (no engine afterwards).
void FreeVolumeEngineState(PVolumeFilterExtension volume);

// Snapshot deletion, the oldest-drop, the reset and block release.
#pragma once

#include "engine.h"

NTSTATUS FreeReleasedBlocks(PDEVICE_OBJECT volume);
NTSTATUS FindSlotByNumber(const vh::EngineHeader* header, ULONG number, ULONG* index);
NTSTATUS DropOldestSnapshot(PDEVICE_OBJECT volume);
NTSTATUS DeleteSnapshotSlot(PDEVICE_OBJECT volume, ULONG number);
NTSTATUS ResetEngine(PDEVICE_OBJECT volume);
// A middle delete cut before its commit leaves the snapshot listed and the
// next older map naming copies merged from it: each such entry goes back
// to 0 (both maps naming one copy happens in no other state). At load.
NTSTATUS UndoUnfinishedMerges(PDEVICE_OBJECT volume);
// Sets the space bitmap to exactly the saved copies the listed snapshots'
// maps reference, and FreeSectors from it; does not write it.
NTSTATUS RebuildSpaceBitmap(PDEVICE_OBJECT volume);

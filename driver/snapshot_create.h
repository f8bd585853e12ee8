// Taking a snapshot and marking the blocks free at it.
#pragma once

#include "engine.h"

// Snapshot creation and free-block marking. TakeSnapshot and the map
// helpers run under EngineLock with the worker paused.
NTSTATUS CollectFreeRuns(PDEVICE_OBJECT volume);
NTSTATUS TakeSnapshot(PDEVICE_OBJECT volume, const vh::VolumeRequest* request);
// Copies the live map into the first free slot; with `unchanged`, sets the
// bit of each page that already holds exactly the stamps of MarkedBlocks.
NTSTATUS SaveSnapshotMapCopy(PDEVICE_OBJECT volume, ULONG* slotIndex, PRTL_BITMAP unchanged);
NTSTATUS MarkFreeRuns(PDEVICE_OBJECT volume, PRTL_BITMAP previousMarks);
NTSTATUS MarkFreeRunBlocks(PDEVICE_OBJECT volume, PRTL_BITMAP previousMarks, ULONGLONG firstCluster,
                           ULONG clusterCount);
NTSTATUS SaveBlockMap(PDEVICE_OBJECT volume);
// The free-at-snapshot stamps of MarkedBlocks as a whole map at `mapSector`,
// but for the pages whose bit is set in `skip` (which hold them already).
NTSTATUS WriteStampedMap(PDEVICE_OBJECT volume, ULONGLONG mapSector, PRTL_BITMAP skip);
// The first slot not in use other than `taken`: where a create keeps its
// stamps until its commit is finished (kSlotCount: none).
ULONG SpareSlot(const vh::EngineHeader* header, ULONG taken);
// A create cut short between its two header writes leaves the live map
// unknown; this writes the stamps the create kept as the live map (nothing
// where they are missing) and finishes the header. No-op otherwise.
NTSTATUS CompleteInterruptedSnapshot(PDEVICE_OBJECT volume);

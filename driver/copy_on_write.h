// The volume worker and the copy-on-write write path.
#pragma once

#include "engine.h"

void VolumeWorkerThread(PVOID context);
// A write of a tracked volume whose every block is saved (durably) or free
// at the newest snapshot goes down at once, without the worker: true, with
// the status of the call below. False when the worker must take it. Up to
// DISPATCH_LEVEL.
bool SendRewriteDown(PDEVICE_OBJECT volume, PIRP irp, NTSTATUS* status);
// No more rewrites go down directly until the worker opens the path again,
// and every one already sent has completed. PASSIVE_LEVEL.
void CloseDirectRewrites(PVolumeFilterExtension volume);
NTSTATUS SkipSavedBlocks(PDEVICE_OBJECT volume, ULONG* firstBlock, ULONG* blockCount);
NTSTATUS WritePinnedSectors(PDEVICE_OBJECT volume, ULONGLONG firstSector, ULONGLONG lastSector,
                            const UCHAR* data);
NTSTATUS AllocateSpaceBlock(const vh::EngineHeader* header, PRTL_BITMAP spaceBitmap,
                            ULONG volumeBlock, ULONG* spaceBlock);

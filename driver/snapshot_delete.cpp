// Snapshots leaving the engine: a requested deletion, the oldest dropped
// under space pressure, everything discarded, and the blocks of the release
// list given back. Numbering stays dense (1 .. SnapshotCount) on every path.
// Requested deletions run under the engine lock with the worker paused; the
// oldest-drop also runs inside the worker during a write. PASSIVE_LEVEL.
//
// Order on disk: maps first, then the header (the commit point, written a
// sector at a time: CommitRemoval), then the space bitmap. The bitmap is rebuilt from the maps of
// the snapshots that remain, so a cut before it only leaves blocks in use that nothing needs, and
// the next rebuild gives them back; a block some listed map still names is never given away.
#include "bitmap_bits.h"
#include "copy_on_write.h"
#include "engine_header.h"
#include "engine_io.h"
#include "engine_state.h"
#include "rollback.h"
#include "snapshot_create.h"
#include "snapshot_delete.h"
#include "snapshot_maps.h"

using namespace snapshot_maps;

namespace {

// A pending rollback follows its snapshot through a renumbering, and is
// cancelled when its snapshot goes (removed 0: all of them go).
void FollowRollback(PDEVICE_OBJECT device, ULONG removed) {
  vh::EngineHeader* header = VolumeOf(device)->Header;
  if (header->RollbackPending == 0) return;
  if (removed == 0 || header->RollbackTarget == removed) {
    NTSTATUS status = RemovePreBoot(device);
    if (!NT_SUCCESS(status)) LogFailure("SNAP %08x\n", status);
    header->RollbackPending = 0;
    header->RollbackTarget = 0;
  } else if (header->RollbackTarget > removed) {
    --header->RollbackTarget;
  }
}

// Sets the bits of the saved copies one map names.
NTSTATUS CollectReferences(PDEVICE_OBJECT device, ULONGLONG mapSector, PULONG page,
                           PRTL_BITMAP references) {
  PVolumeFilterExtension volume = VolumeOf(device);
  const vh::EngineHeader* header = volume->Header;
  const ULONG pages = MapPages(header);
  for (ULONG p = 0; p < pages; ++p) {
    const ULONG length = PageLength(header, p);
    NTSTATUS status = ReadEngineSectors(device, mapSector + static_cast<ULONGLONG>(p) * PageSectors,
                                        length, page);
    if (!NT_SUCCESS(status)) return status;
    for (ULONG j = 0; j < length / sizeof(ULONG); ++j) {
      if (!IsSavedCopy(page[j]) || !IsValidMapEntry(volume, page[j])) continue;
      const ULONG block = SpaceBlockOf(page[j]);
      if (block < references->SizeOfBitMap) RtlSetBit(references, block);
    }
  }
  return STATUS_SUCCESS;
}

// Renumbers the unused slots above a removed number (their numbers mean
// nothing; they follow as they always did).
void CloseUnusedNumberGap(vh::EngineHeader* header, ULONG removed) {
  for (vh::SnapshotSlot& slot : header->Slots) {
    if (slot.Used == 1 || slot.Number == vh::kFreedSlotNumber || slot.Number <= removed) continue;
    --slot.Number;
  }
}

// The commit of a removal, one sector at a time so that a cut between any
// two writes leaves a header the load-time check completes: the removed
// slot freed first (the commit: from then on the listing has one gap),
// then each slot above it moved down one number in turn (the gap moves up
// by one), then the count. Last, the bitmap rebuilt for the snapshots
// that remain.
NTSTATUS CommitRemoval(PDEVICE_OBJECT device, ULONG slot, ULONG number, bool usedOnly) {
  vh::EngineHeader* header = VolumeOf(device)->Header;
  const ULONG target = header->RollbackPending != 0 ? header->RollbackTarget : 0;
  // A rollback to the removed snapshot gives the boot sectors back before
  // the commit, so no restore of a snapshot that is gone can follow.
  FollowRollback(device, number);
  NTSTATUS status = STATUS_SUCCESS;
  // Its record goes before the commit too (the count is as it was): no
  // cut leaves a record naming the removed number, which the next
  // snapshot moves into.
  if (target != 0 && header->RollbackPending == 0) status = WriteCommitSector(device);
  if (!NT_SUCCESS(status)) {
    LogFailure("SNAP %08x\n", status);
    return status;
  }
  FreeSlot(&header->Slots[slot]);
  status = WriteSlotSector(device, slot);
  for (ULONG above = number + 1; above < header->SnapshotCount && NT_SUCCESS(status); ++above) {
    ULONG index;
    if (!NT_SUCCESS(FindSlotByNumber(header, above, &index))) continue;
    header->Slots[index].Number = static_cast<UCHAR>(above - 1);
    status = WriteSlotSector(device, index);
    // The record follows its snapshot's new number at once: until it
    // lands, the number it names is the gap (no slot), never another
    // snapshot.
    if (NT_SUCCESS(status) && above == target) status = WriteCommitSector(device);
  }
  if (!usedOnly) CloseUnusedNumberGap(header, number);
  --header->SnapshotCount;
  header->CountCopy = header->SnapshotCount;
  // Written even after a failed step: the whole header, slots first, ends
  // any gap a failed slot write left on disk.
  const NTSTATUS whole = WriteHeader(device);
  if (NT_SUCCESS(status)) status = whole;
  if (!NT_SUCCESS(status)) {
    // The header in memory stays changed; the next header write persists it.
    LogFailure("SNAP %08x\n", status);
    return status;
  }
  status = RebuildSpaceBitmap(device);
  if (NT_SUCCESS(status)) status = WriteSpaceBitmap(device);
  if (!NT_SUCCESS(status)) LogFailure("SNAP %08x\n", status);
  return status;
}

// Merges page p of snapshot `number`'s map into the next older map where
// that one has no entry. Fails on an entry the check refuses.
NTSTATUS MergePage(PDEVICE_OBJECT device, ULONG p, const vh::SnapshotSlot& removed,
                   const vh::SnapshotSlot& older, PULONG removedPage, PULONG olderPage) {
  PVolumeFilterExtension volume = VolumeOf(device);
  const ULONG length = PageLength(volume->Header, p);
  const ULONGLONG removedSector = removed.SavedMapSector + static_cast<ULONGLONG>(p) * PageSectors;
  const ULONGLONG olderSector = older.SavedMapSector + static_cast<ULONGLONG>(p) * PageSectors;
  NTSTATUS status = ReadEngineSectors(device, removedSector, length, removedPage);
  if (NT_SUCCESS(status)) status = ReadEngineSectors(device, olderSector, length, olderPage);
  if (!NT_SUCCESS(status)) return status;
  bool merged = false;
  for (ULONG j = 0; j < length / sizeof(ULONG); ++j) {
    const ULONG mine = removedPage[j];
    const ULONG theirs = olderPage[j];
    if (!IsValidMapEntry(volume, mine) || !IsValidMapEntry(volume, theirs)) {
      LogFailure("SNAP %08x %08x\n", mine, theirs);
      LogFailure("SNAP %08x %08x %I64d %I64d\n", p, j, removedSector * vh::kSectorBytes,
                 olderSector * vh::kSectorBytes);
      return STATUS_UNSUCCESSFUL;
    }
    // The older snapshot saw the block unchanged until this one: this
    // one's copy is its content too. Where the older map has its own entry,
    // that entry stands and this copy is no longer needed.
    if (IsSavedCopy(mine) && theirs == 0) {
      olderPage[j] = mine;
      merged = true;
    }
  }
  return merged ? WriteEngineSectors(device, olderSector, length, olderPage) : STATUS_SUCCESS;
}

// Takes back what a merge put into the older page: entries naming the copy
// the newer page names for the same block. Restores read the same either
// way (the newer map names that copy); the older map keeps only its own.
bool UnmergeEntries(PULONG olderPage, const ULONG* newerPage, ULONG entries) {
  bool changed = false;
  for (ULONG j = 0; j < entries; ++j) {
    if (IsSavedCopy(newerPage[j]) && olderPage[j] == newerPage[j]) {
      olderPage[j] = 0;
      changed = true;
    }
  }
  return changed;
}

// Page p of the older map without the entries merged from the newer one.
NTSTATUS UnmergePage(PDEVICE_OBJECT device, ULONG p, ULONGLONG newerMap, ULONGLONG olderMap,
                     PULONG newerPage, PULONG olderPage) {
  const ULONG length = PageLength(VolumeOf(device)->Header, p);
  const ULONGLONG olderSector = olderMap + static_cast<ULONGLONG>(p) * PageSectors;
  NTSTATUS status = ReadEngineSectors(device, newerMap + static_cast<ULONGLONG>(p) * PageSectors,
                                      length, newerPage);
  if (NT_SUCCESS(status)) status = ReadEngineSectors(device, olderSector, length, olderPage);
  if (!NT_SUCCESS(status) || !UnmergeEntries(olderPage, newerPage, length / sizeof(ULONG)))
    return status;
  return WriteEngineSectors(device, olderSector, length, olderPage);
}

void FreeBitmapBuffer(PULONG* buffer, ULONG* bytes, PRTL_BITMAP bitmap) {
  FreePool(*buffer);
  *buffer = nullptr;
  *bytes = 0;
  RtlInitializeBitMap(bitmap, nullptr, 0);
}

}  // namespace

NTSTATUS FindSlotByNumber(const vh::EngineHeader* header, ULONG number, ULONG* index) {
  if (header == nullptr || index == nullptr || number > 32) return STATUS_INVALID_PARAMETER;
  for (ULONG i = 0; i < vh::kSlotCount; ++i) {
    if (header->Slots[i].Number == number && header->Slots[i].Used == 1) {
      *index = i;
      return STATUS_SUCCESS;
    }
  }
  return STATUS_UNSUCCESSFUL;
}

NTSTATUS RebuildSpaceBitmap(PDEVICE_OBJECT device) {
  PVolumeFilterExtension volume = VolumeOf(device);
  const vh::EngineHeader* header = volume->Header;
  if (header == nullptr || volume->SpaceBitmapBuffer == nullptr) return STATUS_INVALID_PARAMETER;
  auto* buffer = static_cast<PULONG>(
      ExAllocatePoolWithTag(NonPagedPool, volume->SpaceBitmapBytes, EnginePoolTag));
  auto* page = static_cast<PULONG>(AllocatePage());
  NTSTATUS status = STATUS_SUCCESS;
  if (buffer == nullptr || page == nullptr) status = STATUS_INSUFFICIENT_RESOURCES;
  RTL_BITMAP references;
  if (NT_SUCCESS(status)) {
    RtlZeroMemory(buffer, volume->SpaceBitmapBytes);
    RtlInitializeBitMap(&references, buffer, volume->SpaceBitmapBytes * 8);
    if (header->SnapshotCount != 0)
      status = CollectReferences(device, header->BlockMapFirst, page, &references);
  }
  for (ULONG i = 0; i < vh::kSlotCount && NT_SUCCESS(status); ++i) {
    const vh::SnapshotSlot& slot = header->Slots[i];
    if (slot.Used != 1 || slot.Number == 0 || slot.Number >= header->SnapshotCount) continue;
    status = CollectReferences(device, slot.SavedMapSector, page, &references);
  }
  // Only a complete scan replaces the bitmap: a partial one would give
  // away blocks the unread maps still name.
  if (NT_SUCCESS(status)) {
    RtlCopyMemory(volume->SpaceBitmapBuffer, buffer, volume->SpaceBitmapBytes);
    CountFreeSpace(volume);
  } else {
    LogFailure("SNAP %08x\n", status);
  }
  FreePool(buffer);
  FreePool(page);
  return status;
}

NTSTATUS UndoUnfinishedMerges(PDEVICE_OBJECT device) {
  PVolumeFilterExtension volume = VolumeOf(device);
  const vh::EngineHeader* header = volume != nullptr ? volume->Header : nullptr;
  // A merge goes from a slot into the slot one number below it.
  if (header == nullptr || header->SnapshotCount < 3) return STATUS_SUCCESS;
  auto* newerPage = static_cast<PULONG>(AllocatePage());
  auto* olderPage = static_cast<PULONG>(AllocatePage());
  NTSTATUS status = STATUS_SUCCESS;
  if (newerPage == nullptr || olderPage == nullptr) status = STATUS_INSUFFICIENT_RESOURCES;
  const ULONG pages = MapPages(header);
  for (ULONG number = header->SnapshotCount - 2; number >= 1 && NT_SUCCESS(status); --number) {
    ULONG newer;
    ULONG older;
    status = FindSlotByNumber(header, number + 1, &newer);
    if (NT_SUCCESS(status)) status = FindSlotByNumber(header, number, &older);
    for (ULONG p = 0; p < pages && NT_SUCCESS(status); ++p) {
      status = UnmergePage(device, p, header->Slots[newer].SavedMapSector,
                           header->Slots[older].SavedMapSector, newerPage, olderPage);
    }
  }
  FreePool(newerPage);
  FreePool(olderPage);
  if (!NT_SUCCESS(status)) LogFailure("SNAP %08x\n", status);
  return status;
}

NTSTATUS DropOldestSnapshot(PDEVICE_OBJECT device) {
  PVolumeFilterExtension volume = VolumeOf(device);
  if (volume == nullptr || volume->Header == nullptr) {
    LogFailure("SNAP %08x\n", STATUS_INVALID_PARAMETER);
    return STATUS_INVALID_PARAMETER;
  }
  NTSTATUS status = CompleteInterruptedSnapshot(device);
  if (!NT_SUCCESS(status)) return status;
  if (volume->Header->SnapshotCount <= 1) return ResetEngine(device);
  ULONG slot;
  status = FindSlotByNumber(volume->Header, 1, &slot);
  if (!NT_SUCCESS(status)) {
    LogFailure("SNAP %08x\n", status);
    return status;
  }
  // Nothing is older than snapshot 1: its copies served it alone.
  return CommitRemoval(device, slot, 1, false);
}

NTSTATUS DeleteSnapshotSlot(PDEVICE_OBJECT device, ULONG number) {
  PVolumeFilterExtension volume = VolumeOf(device);
  if (volume == nullptr || volume->Header == nullptr) {
    LogFailure("SNAP %08x\n", STATUS_INVALID_PARAMETER);
    return STATUS_INVALID_PARAMETER;
  }
  NTSTATUS status = CompleteInterruptedSnapshot(device);
  if (!NT_SUCCESS(status)) return status;
  if (number == 1) return DropOldestSnapshot(device);
  ULONG slot;
  ULONG olderSlot = 0;
  status = FindSlotByNumber(volume->Header, number, &slot);
  if (NT_SUCCESS(status)) status = FindSlotByNumber(volume->Header, number - 1, &olderSlot);
  if (!NT_SUCCESS(status)) {
    LogFailure("SNAP %08x\n", status);
    return status;
  }
  auto* removedPage = static_cast<PULONG>(AllocatePage());
  auto* olderPage = static_cast<PULONG>(AllocatePage());
  if (removedPage == nullptr || olderPage == nullptr) status = STATUS_INSUFFICIENT_RESOURCES;
  // Merged pages name copies the removed map names too until the header
  // commits: both views stay exact if the power goes in between.
  const ULONG pages = MapPages(volume->Header);
  ULONG merging = 0;
  if (NT_SUCCESS(status)) {
    for (; merging < pages && NT_SUCCESS(status); ++merging) {
      status = MergePage(device, merging, volume->Header->Slots[slot],
                         volume->Header->Slots[olderSlot], removedPage, olderPage);
    }
  }
  if (!NT_SUCCESS(status)) {
    LogFailure("SNAP %08x\n", status);
    // The snapshot stays: the older map gets back to its own entries (the
    // page that failed too, in case part of it landed). What cannot be
    // taken back now the next load does (UndoUnfinishedMerges).
    for (ULONG p = 0; p < merging && removedPage != nullptr && olderPage != nullptr; ++p) {
      NTSTATUS undone =
          UnmergePage(device, p, volume->Header->Slots[slot].SavedMapSector,
                      volume->Header->Slots[olderSlot].SavedMapSector, removedPage, olderPage);
      if (!NT_SUCCESS(undone)) LogFailure("SNAP %08x\n", undone);
    }
  }
  FreePool(removedPage);
  FreePool(olderPage);
  if (!NT_SUCCESS(status)) return status;
  return CommitRemoval(device, slot, number, true);
}

NTSTATUS ResetEngine(PDEVICE_OBJECT device) {
  PVolumeFilterExtension volume = VolumeOf(device);
  if (volume == nullptr || volume->Header == nullptr) {
    LogFailure("SNAP %08x\n", STATUS_UNSUCCESSFUL);
    return STATUS_UNSUCCESSFUL;
  }
  // The bitmaps are cleared or freed: no rewrite trusts them meanwhile.
  CloseDirectRewrites(volume);
  vh::EngineHeader* header = volume->Header;
  if (header->SnapshotCount == 0) {
    FreeBitmapBuffer(&volume->SpaceBitmapBuffer, &volume->SpaceBitmapBytes, &volume->SpaceBitmap);
    FreeBitmapBuffer(&volume->MarkedBlocksBuffer, &volume->MarkedBlocksBytes,
                     &volume->MarkedBlocks);
    FreeBitmapBuffer(&volume->SavedBlocksBuffer, &volume->SavedBlocksBytes, &volume->SavedBlocks);
    return STATUS_SUCCESS;
  }
  // The header first: once it lists no snapshot, whatever the maps and the
  // bitmap still hold is never read (the next first snapshot rewrites the
  // live map whole and starts from a clear bitmap).
  for (vh::SnapshotSlot& slot : header->Slots) FreeSlot(&slot);
  header->SnapshotCount = 0;
  header->CountCopy = 0;
  FollowRollback(device, 0);
  const NTSTATUS result = WriteHeaderCountFirst(device);
  if (!NT_SUCCESS(result)) LogFailure("SNAP %08x\n", result);
  if (volume->SpaceBitmapBuffer != nullptr) RtlClearAllBits(&volume->SpaceBitmap);
  if (volume->MarkedBlocksBuffer != nullptr) RtlClearAllBits(&volume->MarkedBlocks);
  if (volume->SavedBlocksBuffer != nullptr) RtlClearAllBits(&volume->SavedBlocks);
  NTSTATUS status = WriteSpaceBitmap(device);
  if (!NT_SUCCESS(status)) LogFailure("SNAP %08x\n", status);
  PVOID page = AllocatePage();
  if (page == nullptr) {
    LogFailure("SNAP %08x\n", STATUS_INSUFFICIENT_RESOURCES);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  RtlZeroMemory(page, PageBytes);
  const ULONG pages = MapPages(header);
  for (ULONG p = 0; p < pages; ++p) {
    status =
        WriteEngineSectors(device, header->BlockMapFirst + static_cast<ULONGLONG>(p) * PageSectors,
                           PageLength(header, p), page);
    if (!NT_SUCCESS(status)) LogFailure("SNAP %08x\n", status);
  }
  FreePool(page);
  return result;
}

NTSTATUS FreeReleasedBlocks(PDEVICE_OBJECT device) {
  PVolumeFilterExtension volume = VolumeOf(device);
  if (volume == nullptr || volume->Header == nullptr) {
    LogFailure("SNAP %08x\n", STATUS_INVALID_PARAMETER);
    return STATUS_INVALID_PARAMETER;
  }
  vh::EngineHeader* header = volume->Header;
  if (header->ReinitPending == 0) {
    LogFailure("SNAP %08x\n", 0);
    return STATUS_SUCCESS;
  }
  if (volume->SpaceBitmapBuffer == nullptr) {
    NTSTATUS status = LoadSpaceBitmap(device);
    if (!NT_SUCCESS(status)) return status;
  }
  auto* page = static_cast<PULONG>(AllocatePage());
  if (page == nullptr) {
    LogFailure("SNAP %08x\n", STATUS_INSUFFICIENT_RESOURCES);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  NTSTATUS status = STATUS_SUCCESS;
  ULONG released = 0;
  const ULONG pages = MapPages(header);
  for (ULONG p = 0; p < pages && NT_SUCCESS(status); ++p) {
    const ULONG length = PageLength(header, p);
    const ULONGLONG sector = header->ReleaseListSector + static_cast<ULONGLONG>(p) * PageSectors;
    status = ReadEngineSectors(device, sector, length, page);
    for (ULONG j = 0; j < length / sizeof(ULONG) && NT_SUCCESS(status); ++j) {
      if (!IsValidMapEntry(volume, page[j])) {
        LogFailure("SNAP %08x\n", page[j]);
        status = STATUS_UNSUCCESSFUL;
      } else if (IsSavedCopy(page[j])) {
        status = ClearBitmapBit(&volume->SpaceBitmap, SpaceBlockOf(page[j]));
        released += vh::kBlockSectors;
      }
    }
    if (NT_SUCCESS(status)) {
      RtlZeroMemory(page, length);
      status = WriteEngineSectors(device, sector, length, page);
    }
  }
  FreePool(page);
  if (!NT_SUCCESS(status)) {
    LogFailure("SNAP %08x\n", status);
    return status;
  }
  LogFailure("FREE %08x\n", released);
  status = WriteSpaceBitmap(device);
  if (NT_SUCCESS(status)) {
    header->ReinitPending = 0;
    header->ReclaimPending = 0;
    status = WriteHeader(device);
  }
  CountFreeSpace(volume);
  if (!NT_SUCCESS(status)) LogFailure("SNAP %08x\n", status);
  return status;
}

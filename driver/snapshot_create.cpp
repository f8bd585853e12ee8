// Taking a snapshot: the free clusters collected from the file system, the
// live map moved into a free slot, the free blocks stamped into the fresh
// live map, and the new descriptor. Collection runs in the create request's
// thread before the engine lock; the rest under the lock with the worker
// paused. All at PASSIVE_LEVEL.
//
// Commit order (each step durable before the next begins):
//   1. the live map is copied into the slot's saved-map area (unreferenced
//      until the header names the slot);
//   2. header A: the slot in use, the new count, CountCopy one below it:
//      "the live map may still hold the previous snapshot's entries";
//   3. the fresh live map (only the free-at-snapshot stamps);
//   4. header B: CountCopy equal to the count.
// Before 2, the new live map (its free-at-snapshot stamps) is also written
// into the saved-map area of the first free slot after 1's, which nothing
// references. A cut between 2 and 4 is finished by
// CompleteInterruptedSnapshot, which writes that copy as the live map:
// nothing was written after the snapshot, so the map is exact for it and
// keeps its stamps (so the next snapshots are stamped as after any create).
#include "bitmap_bits.h"
#include "copy_on_write.h"
#include "engine_header.h"
#include "free_clusters.h"
#include "run_table.h"
#include "snapshot_create.h"
#include "snapshot_delete.h"
#include "snapshot_maps.h"

using namespace snapshot_maps;

namespace {

// Clusters of one block: a shorter free run cannot hold a whole block.
ULONG ClustersPerBlock(PVolumeFilterExtension volume) {
  return volume->SectorsPerCluster == 0 ? vh::kBlockSectors
                                        : vh::kBlockSectors / volume->SectorsPerCluster;
}

// Page p of a stamped map: the free-at-snapshot stamp for each marked
// block, 0 elsewhere; a word of the marks at a time where the word lies
// wholly inside them.
void FillStampedPage(RTL_BITMAP* marks, ULONG p, PULONG page) {
  const ULONG size = marks->SizeOfBitMap;
  for (ULONG j = 0; j < snapshot_maps::PageEntries; j += 32) {
    const ULONG block = p * snapshot_maps::PageEntries + j;
    if (block < size && size - block >= 32) {
      const ULONG word = marks->Buffer[block / 32];
      for (ULONG k = 0; k < 32; ++k) page[j + k] = (word >> k) & 1 ? vh::kMapEntryFree : 0;
    } else {
      for (ULONG k = 0; k < 32; ++k) {
        page[j + k] = block + k < size && RtlTestBit(marks, block + k) ? vh::kMapEntryFree : 0;
      }
    }
  }
}

NTSTATUS CloseRun(RunTableChunk** table, ULONGLONG first, ULONGLONG count, ULONG minimum) {
  if (count == 0 || count < minimum) return STATUS_SUCCESS;
  // A window holds 32,768 clusters, so a run always fits a ULONG.
  return AppendRun(table, first, static_cast<ULONG>(count));
}

NTSTATUS OpenVolume(PVolumeFilterExtension volume, PHANDLE handle) {
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &volume->DosName,
                             OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr, nullptr);
  IO_STATUS_BLOCK ioStatus;
  return ZwCreateFile(handle, GENERIC_READ | SYNCHRONIZE, &attributes, &ioStatus, nullptr,
                      FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN,
                      FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0);
}

// Runs are cut at each window's end and each piece is judged alone.
NTSTATUS CollectFromVolume(PVolumeFilterExtension volume, HANDLE handle,
                           VolumeBitmapWindow* window) {
  const ULONG minimum = ClustersPerBlock(volume);
  NTSTATUS answer = STATUS_SUCCESS;
  NTSTATUS status = ScanFreeClusters(
      handle, window,
      [&](ULONGLONG first, ULONGLONG count) {
        return CloseRun(&volume->FreeRuns, first, count, minimum);
      },
      &answer);
  if (!NT_SUCCESS(status) && !BitmapQueryFailed(answer)) return status;
  // However the scan ended, the runs found so far stand.
  LogFailure("UIL %08x\n", answer);
  return STATUS_SUCCESS;
}

// Copies the descriptor of the snapshot that stops being the newest.
void FillSlotFromNewest(vh::EngineHeader* header, vh::SnapshotSlot* slot) {
  const vh::SnapshotSlot& newest = header->NewestSnapshot;
  RtlCopyMemory(slot->ClientTag, newest.ClientTag, sizeof slot->ClientTag);
  slot->CreateTime = newest.CreateTime;
  slot->Signature = newest.Signature;
  RtlCopyMemory(slot->Name, newest.Name, sizeof slot->Name);
  slot->Guid = newest.Guid;
  RtlCopyMemory(slot->Remark, newest.Remark, sizeof slot->Remark);
  slot->Number = header->SnapshotCount;
  slot->Used = 1;
}

void FillNewest(vh::EngineHeader* header, const vh::VolumeRequest* request) {
  vh::SnapshotSlot& newest = header->NewestSnapshot;
  RtlCopyMemory(newest.ClientTag, request->ClientTag, sizeof newest.ClientTag);
  newest.CreateTime = request->CreateTime;
  RtlCopyMemory(newest.Name, request->SnapshotName, sizeof newest.Name);
  newest.Guid = request->SnapshotGuid;
  RtlCopyMemory(newest.Remark, request->SnapshotRemark, sizeof newest.Remark);
  newest.Signature = vh::kRecordSignature;
  newest.SavedMapSector = header->BlockMapFirst;
  newest.SavedMapLastSector = header->BlockMapLast;
  newest.Number = header->SnapshotCount;
}

// A copy of the marks of the newest snapshot: a block is marked again only
// when it stayed free since then.
NTSTATUS CopyPreviousMarks(PVolumeFilterExtension volume, PULONG* buffer, RTL_BITMAP* marks) {
  *buffer = nullptr;
  if (volume->MarkedBlocksBuffer == nullptr || volume->MarkedBlocksBytes == 0)
    return STATUS_SUCCESS;
  *buffer = static_cast<PULONG>(
      ExAllocatePoolWithTag(NonPagedPool, volume->MarkedBlocksBytes, EnginePoolTag));
  if (*buffer == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  RtlCopyMemory(*buffer, volume->MarkedBlocksBuffer, volume->MarkedBlocksBytes);
  RtlInitializeBitMap(marks, *buffer, volume->MarkedBlocksBytes * 8);
  return STATUS_SUCCESS;
}

// Steps after the previous marks were taken. `unchanged` has a clear bit
// for each map page. `committed` is set once
// header A is on disk: from then on the snapshot exists, and a later
// failure leaves a create cut short that CompleteInterruptedSnapshot ends.
NTSTATUS TakeSnapshotSteps(PDEVICE_OBJECT device, const vh::VolumeRequest* request,
                           PRTL_BITMAP previous, PRTL_BITMAP unchanged, bool* committed) {
  PVolumeFilterExtension volume = VolumeOf(device);
  vh::EngineHeader* header = volume->Header;
  const UCHAR count = header->SnapshotCount;
  NTSTATUS status = STATUS_SUCCESS;
  if (count == 0) {
    status = LoadSpaceBitmap(device);
    if (NT_SUCCESS(status)) status = BuildRedirectBitmaps(device);
    if (!NT_SUCCESS(status)) return status;
  }
  if (volume->MarkedBlocksBuffer == nullptr || volume->SavedBlocksBuffer == nullptr)
    return STATUS_INVALID_PARAMETER;
  RtlClearAllBits(&volume->MarkedBlocks);
  RtlClearAllBits(&volume->SavedBlocks);
  if (volume->FreeRuns == nullptr) return STATUS_INVALID_PARAMETER;
  // The stamps first: the copy below reads every live page anyway and notes
  // which already hold exactly the new live map's, so step 3 skips them.
  status = MarkFreeRuns(device, previous);
  if (!NT_SUCCESS(status)) return status;
  ULONG slot = vh::kSlotCount;
  if (count > 0) {
    status = SaveSnapshotMapCopy(device, &slot, unchanged);
    if (!NT_SUCCESS(status)) return status;
  }
  // The stamps where a repair finds them (durable before header A, which
  // flushes first).
  const ULONG spare = SpareSlot(header, slot);
  if (spare < vh::kSlotCount) {
    status = WriteStampedMap(device, header->Slots[spare].SavedMapSector, nullptr);
    if (!NT_SUCCESS(status)) return status;
  }

  // Header A: the slot holds the previous newest snapshot; the live map is
  // not yet the new snapshot's.
  if (slot < vh::kSlotCount) FillSlotFromNewest(header, &header->Slots[slot]);
  header->SnapshotCount = static_cast<UCHAR>(count + 1);
  header->CountCopy = count;
  FillNewest(header, request);
  status = WriteHeader(device);
  if (!NT_SUCCESS(status)) return status;
  *committed = true;
  status = WriteStampedMap(device, header->BlockMapFirst, unchanged);
  if (!NT_SUCCESS(status)) return status;
  header->CountCopy = header->SnapshotCount;  // header B
  return WriteHeader(device);
}

// From here until the snapshot is taken, the worker records every block
// written: the collection may see such a block free although it holds data
// when the snapshot freezes. The worker must see the writes, so a volume
// that does not track yet starts tracking now (temporary mode is left alone).
NTSTATUS WatchWrites(PVolumeFilterExtension volume) {
  const ULONGLONG mapSectors = MapSectors(volume->Header);
  const ULONGLONG bytes = mapSectors * (vh::kSectorBytes / 32);
  if (bytes == 0 || bytes > 0x1FFFFFFFull) return STATUS_INVALID_PARAMETER;
  if (volume->WrittenBlocksBuffer != nullptr && volume->WrittenBlocksBytes != bytes) {
    // The worker records nothing into a buffer of the wrong size: it is idle
    // between watches or reads this flag first.
    WriteShared(volume->WatchWrites, static_cast<UCHAR>(0));
    FreePool(volume->WrittenBlocksBuffer);
    volume->WrittenBlocksBuffer = nullptr;
  }
  if (volume->WrittenBlocksBuffer == nullptr) {
    auto* buffer = static_cast<PULONG>(
        ExAllocatePoolWithTag(NonPagedPool, static_cast<SIZE_T>(bytes), EnginePoolTag));
    if (buffer == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    RtlZeroMemory(buffer, static_cast<SIZE_T>(bytes));
    RtlInitializeBitMap(&volume->WrittenBlocks, buffer, static_cast<ULONG>(bytes) * 8);
    volume->WrittenBlocksBytes = static_cast<ULONG>(bytes);
    volume->WrittenBlocksBuffer = buffer;
  } else if (ReadShared(volume->WatchWrites) == 0) {
    RtlClearAllBits(&volume->WrittenBlocks);
  }
  WriteShared(volume->WatchWrites, static_cast<UCHAR>(1));
  // Every write is recorded from here, so every write goes to the worker;
  // rewrites already sent down land before the collection starts.
  CloseDirectRewrites(volume);
  if (ReadShared(volume->EngineMode) == EngineModeOff)
    WriteShared(volume->EngineMode, static_cast<ULONG>(EngineModeTracking));
  return STATUS_SUCCESS;
}

}  // namespace

NTSTATUS CollectFreeRuns(PDEVICE_OBJECT device) {
  PVolumeFilterExtension volume = VolumeOf(device);
  if (volume == nullptr || volume->Header == nullptr || volume->FreeRuns != nullptr) {
    LogFailure("SNAP %08x\n", STATUS_INVALID_PARAMETER);
    return STATUS_INVALID_PARAMETER;
  }
  auto* window = static_cast<VolumeBitmapWindow*>(
      ExAllocatePoolWithTag(NonPagedPool, sizeof(VolumeBitmapWindow), EnginePoolTag));
  auto* first = static_cast<RunTableChunk*>(
      ExAllocatePoolWithTag(NonPagedPool, sizeof(RunTableChunk), EnginePoolTag));
  if (window == nullptr || first == nullptr) {
    FreePool(window);
    FreePool(first);
    LogFailure("SNAP %08x\n", STATUS_INSUFFICIENT_RESOURCES);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  RtlZeroMemory(first, sizeof *first);
  first->ChunkCount = 1;
  volume->FreeRuns = first;
  const ULONG mode = ReadShared(volume->EngineMode);
  NTSTATUS status = WatchWrites(volume);
  if (!NT_SUCCESS(status)) {
    LogFailure("SNAP %08x\n", status);
    FreeRunTable(&volume->FreeRuns);
    ExFreePoolWithTag(window, EnginePoolTag);
    return status;
  }
  HANDLE handle = nullptr;
  status = OpenVolume(volume, &handle);
  if (!NT_SUCCESS(status)) {
    LogFailure("VOL %08x\n", status);
  } else {
    status = CollectFromVolume(volume, handle, window);
    ZwClose(handle);
  }
  if (!NT_SUCCESS(status)) {
    LogFailure("SNAP %08x\n", status);
    FreeRunTable(&volume->FreeRuns);
    WriteShared(volume->WatchWrites, static_cast<UCHAR>(0));
    WriteShared(volume->EngineMode, mode);
  }
  ExFreePoolWithTag(window, EnginePoolTag);
  return status;
}

NTSTATUS TakeSnapshot(PDEVICE_OBJECT device, const vh::VolumeRequest* request) {
  PVolumeFilterExtension volume = VolumeOf(device);
  if (volume == nullptr || volume->Header == nullptr || request == nullptr) {
    LogFailure("SNAP %08x\n", STATUS_INVALID_PARAMETER);
    return STATUS_INVALID_PARAMETER;
  }
  NTSTATUS status = CompleteInterruptedSnapshot(device);
  if (!NT_SUCCESS(status)) {
    LogFailure("SNAP %08x\n", status);
    return status;
  }
  PULONG previousBuffer;
  RTL_BITMAP previous;
  status = CopyPreviousMarks(volume, &previousBuffer, &previous);
  if (!NT_SUCCESS(status)) {
    LogFailure("SNAP %08x\n", status);
    return status;
  }
  // A failed create never discards the snapshots there are: until header A
  // is on disk nothing listed changed, so the header in memory goes back
  // and the block bitmaps are built again from the untouched live map.
  auto* before = static_cast<vh::EngineHeader*>(
      ExAllocatePoolWithTag(NonPagedPool, vh::kEngineHeaderBytes, EnginePoolTag));
  // One bit per map page (a page holds 8,192 blocks: 512 bytes at 1 TiB).
  const ULONG unchangedBytes = (MapPages(volume->Header) + 31) / 32 * 4 + 4;
  auto* unchangedBuffer =
      static_cast<PULONG>(ExAllocatePoolWithTag(NonPagedPool, unchangedBytes, EnginePoolTag));
  RTL_BITMAP unchanged;
  bool committed = false;
  if (before == nullptr || unchangedBuffer == nullptr) {
    status = STATUS_INSUFFICIENT_RESOURCES;
  } else {
    RtlZeroMemory(unchangedBuffer, unchangedBytes);
    RtlInitializeBitMap(&unchanged, unchangedBuffer, unchangedBytes * 8);
    RtlCopyMemory(before, volume->Header, vh::kEngineHeaderBytes);
    status = TakeSnapshotSteps(device, request, previousBuffer ? &previous : nullptr, &unchanged,
                               &committed);
  }
  if (!NT_SUCCESS(status)) {
    LogFailure("SNAP %08x\n", status);
    if (before != nullptr && !committed) {
      RtlCopyMemory(volume->Header, before, vh::kEngineHeaderBytes);
      NTSTATUS rebuilt = BuildRedirectBitmaps(device);
      if (!NT_SUCCESS(rebuilt)) LogFailure("SNAP %08x\n", rebuilt);
    }
  }
  FreePool(before);
  FreePool(unchangedBuffer);
  FreePool(previousBuffer);
  // The snapshot is frozen (or gone): from now on writes are copied or
  // need no copy.
  WriteShared(volume->WatchWrites, static_cast<UCHAR>(0));
  return status;
}

NTSTATUS SaveSnapshotMapCopy(PDEVICE_OBJECT device, ULONG* slotIndex, PRTL_BITMAP unchanged) {
  PVolumeFilterExtension volume = VolumeOf(device);
  if (volume == nullptr || volume->Header == nullptr) {
    LogFailure("SNAP %08x\n", STATUS_INVALID_PARAMETER);
    return STATUS_INVALID_PARAMETER;
  }
  const vh::EngineHeader* header = volume->Header;
  if (volume->MarkedBlocksBuffer == nullptr) return STATUS_INVALID_PARAMETER;
  ULONG slot = 0;
  while (slot < vh::kSlotCount && header->Slots[slot].Used != 0) ++slot;
  if (slot == vh::kSlotCount) {
    LogFailure("SNAP %08x\n", STATUS_UNSUCCESSFUL);
    return STATUS_UNSUCCESSFUL;
  }
  PVOID page = AllocatePage();
  auto* stamped = static_cast<PULONG>(AllocatePage());
  if (page == nullptr || stamped == nullptr) {
    FreePool(page);
    FreePool(stamped);
    LogFailure("SNAP %08x\n", STATUS_INSUFFICIENT_RESOURCES);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  // Copied only: the live map is replaced after the header names the slot,
  // so a cut at any point leaves every snapshot's entries somewhere listed.
  NTSTATUS status = STATUS_SUCCESS;
  const ULONG pages = MapPages(header);
  for (ULONG p = 0; p < pages && NT_SUCCESS(status); ++p) {
    const ULONG length = PageLength(header, p);
    status = ReadEngineSectors(
        device, header->BlockMapFirst + static_cast<ULONGLONG>(p) * PageSectors, length, page);
    if (NT_SUCCESS(status)) {
      status = WriteEngineSectors(
          device, header->Slots[slot].SavedMapSector + static_cast<ULONGLONG>(p) * PageSectors,
          length, page);
    }
    if (NT_SUCCESS(status) && unchanged != nullptr && p < unchanged->SizeOfBitMap) {
      FillStampedPage(&volume->MarkedBlocks, p, stamped);
      if (RtlCompareMemory(page, stamped, length) == length) RtlSetBit(unchanged, p);
    }
  }
  if (!NT_SUCCESS(status)) LogFailure("SNAP %08x\n", status);
  FreePool(page);
  FreePool(stamped);
  if (NT_SUCCESS(status)) *slotIndex = slot;
  return status;
}

NTSTATUS MarkFreeRuns(PDEVICE_OBJECT device, PRTL_BITMAP previousMarks) {
  PVolumeFilterExtension volume = VolumeOf(device);
  for (RunTableChunk* chunk = volume->FreeRuns; chunk != nullptr; chunk = chunk->Next) {
    for (ULONG i = 0; i < chunk->Used; ++i) {
      NTSTATUS status = MarkFreeRunBlocks(device, previousMarks, chunk->Runs[i].FirstCluster,
                                          chunk->Runs[i].ClusterCount);
      if (!NT_SUCCESS(status)) return status;
    }
  }
  return STATUS_SUCCESS;
}

namespace {

// Whether block b may be stamped: free at the previous snapshot too (when
// `previous` is given), not saved, not written since the collection saw it
// free.
bool MayMark(PVolumeFilterExtension volume, PRTL_BITMAP previous, ULONG b) {
  if (previous != nullptr && (b >= previous->SizeOfBitMap || !RtlTestBit(previous, b)))
    return false;
  if (b < volume->SavedBlocks.SizeOfBitMap && RtlTestBit(&volume->SavedBlocks, b)) return false;
  return volume->WrittenBlocksBuffer == nullptr || b >= volume->WrittenBlocks.SizeOfBitMap ||
         !RtlTestBit(&volume->WrittenBlocks, b);
}

// Whether the 32 bits from b (a multiple of 32) lie inside `bitmap`.
bool HoldsWord(const RTL_BITMAP* bitmap, ULONG b) {
  return bitmap->SizeOfBitMap >= 32 && b <= bitmap->SizeOfBitMap - 32;
}

// Marks blocks first .. first + count - 1 (all inside MarkedBlocks) that
// MayMark allows; 32 at a time where a whole word of every bitmap lies in
// the range, as a scan of a large volume is mostly long free runs.
void MarkBlockRange(PVolumeFilterExtension volume, PRTL_BITMAP previous, ULONG first, ULONG count) {
  const bool written = volume->WrittenBlocksBuffer != nullptr;
  const ULONG end = first + count;
  for (ULONG b = first; b < end;) {
    if (b % 32 == 0 && end - b >= 32 && HoldsWord(&volume->MarkedBlocks, b) &&
        HoldsWord(&volume->SavedBlocks, b) && (previous == nullptr || HoldsWord(previous, b)) &&
        (!written || HoldsWord(&volume->WrittenBlocks, b))) {
      ULONG word = ~volume->SavedBlocks.Buffer[b / 32];
      if (previous != nullptr) word &= previous->Buffer[b / 32];
      if (written) word &= ~volume->WrittenBlocks.Buffer[b / 32];
      volume->MarkedBlocks.Buffer[b / 32] |= word;
      b += 32;
      continue;
    }
    if (MayMark(volume, previous, b)) RtlSetBit(&volume->MarkedBlocks, b);
    ++b;
  }
}

}  // namespace

NTSTATUS MarkFreeRunBlocks(PDEVICE_OBJECT device, PRTL_BITMAP previousMarks, ULONGLONG firstCluster,
                           ULONG clusterCount) {
  PVolumeFilterExtension volume = VolumeOf(device);
  const vh::EngineHeader* header = volume->Header;
  const ULONG perCluster = header->SectorsPerCluster;
  if (perCluster == 0 || perCluster != volume->SectorsPerCluster ||
      header->DataStartSector != static_cast<ULONGLONG>(volume->DataStartSector)) {
    LogFailure("SNAP %08x  %08x  %08x  %08x\n", perCluster,
               static_cast<ULONG>(header->DataStartSector), volume->SectorsPerCluster,
               volume->DataStartSector);
    return STATUS_UNSUCCESSFUL;
  }
  if (clusterCount < vh::kBlockSectors / perCluster) {
    LogFailure("SNAP %08x\n", 0);
    return STATUS_SUCCESS;
  }
  // A cluster number past any volume cannot name a block.
  if (firstCluster > (0xFFFFFFFFFFFFFFFFull - header->DataStartSector) / perCluster)
    return STATUS_SUCCESS;
  ULONGLONG first = firstCluster * perCluster + header->DataStartSector;
  ULONGLONG sectors = static_cast<ULONGLONG>(clusterCount) * perCluster;
  if (first % vh::kBlockSectors != 0) {
    const ULONGLONG skip = vh::kBlockSectors - first % vh::kBlockSectors;
    if (sectors < skip) return STATUS_SUCCESS;
    first += skip;
    sectors -= skip;
  }
  const ULONGLONG firstBlock = first / vh::kBlockSectors;
  // Blocks past the map are not tracked at all.
  const ULONG size = volume->MarkedBlocks.SizeOfBitMap;
  if (firstBlock >= size) return STATUS_SUCCESS;
  const ULONGLONG blocks = sectors / vh::kBlockSectors;
  const ULONG b = static_cast<ULONG>(firstBlock);
  const ULONG count = blocks < size - b ? static_cast<ULONG>(blocks) : size - b;
  const bool anyBlock = previousMarks == nullptr || header->SnapshotCount == 0;
  MarkBlockRange(volume, anyBlock ? nullptr : previousMarks, b, count);
  return STATUS_SUCCESS;
}

ULONG SpareSlot(const vh::EngineHeader* header, ULONG taken) {
  ULONG slot = 0;
  while (slot < vh::kSlotCount && (header->Slots[slot].Used != 0 || slot == taken)) ++slot;
  return slot;
}

// Writes the new snapshot's live map: its free-at-snapshot stamps and
// nothing else. The previous live map is in a slot by now (or there was no
// snapshot, and whatever a reset left behind must not survive), so no
// entry of it is kept.
NTSTATUS SaveBlockMap(PDEVICE_OBJECT device) {
  return WriteStampedMap(device, VolumeOf(device)->Header->BlockMapFirst, nullptr);
}

NTSTATUS WriteStampedMap(PDEVICE_OBJECT device, ULONGLONG mapSector, PRTL_BITMAP skip) {
  PVolumeFilterExtension volume = VolumeOf(device);
  const vh::EngineHeader* header = volume->Header;
  auto* page = static_cast<PULONG>(AllocatePage());
  if (page == nullptr) {
    LogFailure("SNAP %08x\n", STATUS_INSUFFICIENT_RESOURCES);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  NTSTATUS status = STATUS_SUCCESS;
  const ULONG pages = MapPages(header);
  for (ULONG p = 0; p < pages && NT_SUCCESS(status); ++p) {
    if (skip != nullptr && p < skip->SizeOfBitMap && RtlTestBit(skip, p)) continue;
    FillStampedPage(&volume->MarkedBlocks, p, page);
    status = WriteEngineSectors(device, mapSector + static_cast<ULONGLONG>(p) * PageSectors,
                                PageLength(header, p), page);
  }
  if (!NT_SUCCESS(status)) LogFailure("SNAP %08x\n", status);
  FreePool(page);
  return status;
}

namespace {

// Page p of the live map of a create cut short: the stamps the create left
// in the spare slot's area (header A names the same spare: the first free
// slot), or nothing where that page holds anything else. A create stamps
// only blocks the previous newest snapshot stamped too, so with that map
// (`previous`, in its slot now) a stamp it lacks is not this create's and
// goes: a block wrongly stamped would lose its content at its next write.
// The marks go into MarkedBlocks.
NTSTATUS RestampPage(PDEVICE_OBJECT device, ULONG spare, const vh::SnapshotSlot* previous, ULONG p,
                     PULONG page, PULONG previousPage) {
  PVolumeFilterExtension volume = VolumeOf(device);
  const vh::EngineHeader* header = volume->Header;
  const ULONG length = PageLength(header, p);
  const ULONG entries = length / sizeof(ULONG);
  const ULONGLONG offset = static_cast<ULONGLONG>(p) * PageSectors;
  NTSTATUS status = STATUS_UNSUCCESSFUL;
  if (spare < vh::kSlotCount)
    status = ReadEngineSectors(device, header->Slots[spare].SavedMapSector + offset, length, page);
  if (NT_SUCCESS(status) && previous != nullptr)
    status = ReadEngineSectors(device, previous->SavedMapSector + offset, length, previousPage);
  bool stamps = NT_SUCCESS(status);
  for (ULONG j = 0; j < entries && stamps; ++j) {
    stamps = page[j] == 0 || page[j] == vh::kMapEntryFree;
    if (previous != nullptr && previousPage[j] != vh::kMapEntryFree) page[j] = 0;
  }
  if (!stamps) RtlZeroMemory(page, length);
  for (ULONG j = 0; j < entries && stamps; ++j) {
    const ULONG block = p * PageEntries + j;
    if (page[j] == vh::kMapEntryFree && block < volume->MarkedBlocks.SizeOfBitMap)
      RtlSetBit(&volume->MarkedBlocks, block);
  }
  return WriteEngineSectors(device, header->BlockMapFirst + static_cast<ULONGLONG>(p) * PageSectors,
                            length, page);
}

}  // namespace

NTSTATUS CompleteInterruptedSnapshot(PDEVICE_OBJECT device) {
  PVolumeFilterExtension volume = VolumeOf(device);
  vh::EngineHeader* header = volume ? volume->Header : nullptr;
  if (header == nullptr || header->SnapshotCount == 0 ||
      header->CountCopy >= header->SnapshotCount) {
    return STATUS_SUCCESS;
  }
  auto* page = static_cast<PULONG>(AllocatePage());
  auto* previousPage = static_cast<PULONG>(AllocatePage());
  if (page == nullptr || previousPage == nullptr) {
    FreePool(page);
    FreePool(previousPage);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  // The bitmaps were built from the entries about to be replaced.
  if (volume->MarkedBlocksBuffer != nullptr) RtlClearAllBits(&volume->MarkedBlocks);
  if (volume->SavedBlocksBuffer != nullptr) RtlClearAllBits(&volume->SavedBlocks);
  // The slot of the snapshot that stopped being the newest is in use in
  // header A, so the spare is the first free slot.
  const ULONG spare = SpareSlot(header, vh::kSlotCount);
  // The first snapshot may stamp any free block: nothing to check it by.
  ULONG previousSlot = vh::kSlotCount;
  const vh::SnapshotSlot* previous = nullptr;
  if (header->SnapshotCount > 1 &&
      NT_SUCCESS(FindSlotByNumber(header, header->SnapshotCount - 1, &previousSlot)))
    previous = &header->Slots[previousSlot];
  NTSTATUS status = STATUS_SUCCESS;
  const ULONG pages = MapPages(header);
  for (ULONG p = 0; p < pages && NT_SUCCESS(status); ++p)
    status = RestampPage(device, spare, previous, p, page, previousPage);
  FreePool(page);
  FreePool(previousPage);
  if (NT_SUCCESS(status)) {
    header->CountCopy = header->SnapshotCount;
    status = WriteHeader(device);
  }
  if (!NT_SUCCESS(status)) LogFailure("SNAP %08x\n", status);
  return status;
}

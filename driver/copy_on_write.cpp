// The copy-on-write write path: each volume's worker takes the queued
// writes in order and saves the old contents of every block not yet saved
// since the newest snapshot before the write reaches the volume. The engine
// never refuses a write: whatever fails, the request goes down. Everything
// runs in the worker thread at PASSIVE_LEVEL.
//
// First writes the worker finds waiting together form one batch, and one
// commit covers them all: every copy and the sectors of the space bitmap
// that hold their bits, a flush of the lower device, the changed sectors of
// the live map, one more flush, and only then the writes themselves, in
// queue order (a disk with a write cache keeps that order only through the
// flushes). A cut anywhere leaves either the old block (with or without a
// recorded copy of it) or a recorded copy: never a new block whose old
// content no map names. A cut between bitmap and map only leaks blocks,
// which the next load's rebuild of the bitmap gives back. A block's
// SavedBlocks bit is set only once its map entry is durable: rewrites that
// skip the worker (SendRewriteDown) need test nothing else.
#include "bitmap_bits.h"
#include "copy_on_write.h"
#include "engine_header.h"
#include "engine_io.h"
#include "engine_state.h"
#include "passthrough.h"
#include "snapshot_create.h"
#include "snapshot_delete.h"
#include "snapshot_maps.h"
#include "temporary_mode.h"

using namespace snapshot_maps;

namespace {

constexpr ULONG EntriesPerSector = vh::kSectorBytes / sizeof(ULONG);
constexpr ULONG BitsPerSector = vh::kSectorBytes * 8;
constexpr ULONG ReadGroupBlocks = 8;  // old contents are read 256 KB at a time at most
// A batch takes at most this many queued writes, and no more blocks than
// this unless its one write alone is larger: a pause waits for the batch.
constexpr ULONG BatchWrites = 16;
constexpr ULONG BatchBlocks = 256;
constexpr ULONG NoSlot = 0xFFFFFFFF;
// Live map sectors the worker keeps between batches (2 MB at most).
constexpr ULONG KnownSectors = 4096;
constexpr ULONGLONG NoSector = ~0ull;

// The pause handshake between two requests or at the tick: park until
// resumed unless told to stop.
NTSTATUS ParkIfPaused(PVolumeFilterExtension volume, NTSTATUS status, bool* parked) {
  if (!ReadShared(volume->PauseFlag) || ReadShared(volume->StopFlag)) return status;
  *parked = true;
  KeSetEvent(&volume->PausedEvent, IO_NO_INCREMENT, FALSE);
  // PASSIVE_LEVEL; PauseVolumeWorker(volume, 0) sets it.
  status = KeWaitForSingleObject(&volume->ResumeEvent, Executive, KernelMode, FALSE, nullptr);
  KeClearEvent(&volume->ResumeEvent);
  return status;
}

// The worker ends and discards every snapshot of the volume.
bool ResetRequested(PVolumeFilterExtension volume) {
  auto* control = EngineControlDevice
                      ? static_cast<ControlExtension*>(EngineControlDevice->DeviceExtension)
                      : nullptr;
  return ReadShared(volume->StopFlag) == StopDiscard ||
         (control != nullptr && control->ResetEngine == 1);
}

// The worker ends; after a removal (StopKeep) the snapshots stay on disk.
bool StopRequested(PVolumeFilterExtension volume) {
  return ReadShared(volume->StopFlag) != StopNone || ResetRequested(volume);
}

// A queued write the worker protects.
struct QueuedWrite {
  PIRP irp;
  PUCHAR data;
  ULONGLONG firstSector;
  ULONGLONG lastSector;
  ULONG firstBlock;  // the first block not saved when the write was taken
  ULONG blockCount;  // 0: every block saved or free at the newest snapshot
};

// First writes served together, in queue order.
struct CopyBatch {
  PDEVICE_OBJECT device;
  PVolumeFilterExtension volume;
  QueuedWrite writes[BatchWrites];
  ULONG count;
  ULONG blocks;  // sum of the writes' block counts
  // The live map sectors the batch has read: where each lies in the map,
  // its entries as they will be written, and whether they changed.
  ULONGLONG* mapSector;
  PULONG entries;
  PUCHAR changed;
  ULONG sectors;
  ULONG sectorRoom;
  // The space blocks taken so far, and the volume block each one saves.
  PULONG taken;
  PULONG savedBlock;
  ULONG takenCount;
  PUCHAR bitmapChanged;  // one byte per sector of the space bitmap
  ULONG bitmapSectors;
  PUCHAR old;  // old contents of up to ReadGroupBlocks blocks
  PVOID buffers;
  bool engineReset;  // an oldest-drop discarded every snapshot
  // Live map sectors as the worker's own commits left them on disk, kept
  // from batch to batch so a first write reads no map: slot = map sector
  // modulo knownSlots. Forgotten whenever anything else may have changed
  // the live map: the worker parks (every create, delete, reset and header
  // change happens then), drops or resets, finishes an interrupted create,
  // or a batch fails.
  ULONGLONG* knownSector;
  PULONG known;
  ULONG knownSlots;
};

void ForgetKnown(CopyBatch& b) {
  for (ULONG i = 0; i < b.knownSlots; ++i) b.knownSector[i] = NoSector;
}

// The entries of map sector `mapSector` if the worker knows them.
const ULONG* KnownEntries(const CopyBatch& b, ULONGLONG mapSector) {
  if (b.knownSlots == 0) return nullptr;
  const auto slot = static_cast<ULONG>(mapSector % b.knownSlots);
  if (b.knownSector[slot] != mapSector) return nullptr;
  return b.known + static_cast<SIZE_T>(slot) * EntriesPerSector;
}

// Keeps the batch's map sectors, now durable as they stand.
void RememberSectors(CopyBatch& b) {
  for (ULONG i = 0; i < b.sectors && b.knownSlots != 0; ++i) {
    const auto slot = static_cast<ULONG>(b.mapSector[i] % b.knownSlots);
    b.knownSector[slot] = b.mapSector[i];
    RtlCopyMemory(b.known + static_cast<SIZE_T>(slot) * EntriesPerSector,
                  b.entries + static_cast<SIZE_T>(i) * EntriesPerSector, vh::kSectorBytes);
  }
}

// The copies of these blocks and their map entries are durable: rewrites
// of them may skip the worker. Set under the lock the direct path tests
// them under.
void MarkSaved(PVolumeFilterExtension volume, const ULONG* blocks, ULONG count) {
  KIRQL irql;
  KeAcquireSpinLock(&volume->RewriteLock, &irql);
  for (ULONG i = 0; i < count; ++i) SetBitmapBit(&volume->SavedBlocks, blocks[i]);
  KeReleaseSpinLock(&volume->RewriteLock, irql);
}

// The worker has checked that the volume tracks with snapshots and its
// bitmaps loaded: rewrites of saved blocks may skip it again.
void OpenDirectRewrites(PVolumeFilterExtension volume) {
  KIRQL irql;
  KeAcquireSpinLock(&volume->RewriteLock, &irql);
  volume->DirectRewritesOpen = 1;
  KeReleaseSpinLock(&volume->RewriteLock, irql);
}

NTSTATUS DirectRewriteCompletion(PDEVICE_OBJECT, PIRP irp, PVOID context) {
  if (irp->PendingReturned) IoMarkIrpPending(irp);
  auto* volume = static_cast<PVolumeFilterExtension>(context);
  KIRQL irql;
  KeAcquireSpinLock(&volume->RewriteLock, &irql);
  // Set under the lock: a closer that takes the lock after this knows the
  // routine touches the extension no more.
  if (--volume->DirectRewritesInFlight == 0)
    KeSetEvent(&volume->DirectRewritesDrained, IO_NO_INCREMENT, FALSE);
  KeReleaseSpinLock(&volume->RewriteLock, irql);
  return STATUS_SUCCESS;  // completion goes on up
}

// Gives back the space blocks the batch took. (A bit cleared here may stay
// set on disk: a leak the load-time rebuild gives back, never a block two
// maps share.)
void UndoTaken(CopyBatch& b) {
  PVolumeFilterExtension volume = b.volume;
  for (ULONG i = 0; i < b.takenCount; ++i) {
    if (NT_SUCCESS(ClearBitmapBit(&volume->SpaceBitmap, b.taken[i])))
      WriteShared(volume->FreeSectors, volume->FreeSectors + vh::kBlockSectors);
  }
  b.takenCount = 0;
}

// The free count follows the bitmap bit by bit: recounting a space of
// millions of blocks on every copy costs more than the copy.
void TakeFreeBlock(PVolumeFilterExtension volume) {
  const ULONG free = volume->FreeSectors;
  WriteShared(volume->FreeSectors, free >= vh::kBlockSectors ? free - vh::kBlockSectors : 0);
}

// A space block for volume block `block`; when the space is full the
// oldest snapshot goes and the search runs once more.
NTSTATUS TakeSpaceBlock(CopyBatch& b, ULONG block, ULONG* spaceBlock) {
  PVolumeFilterExtension volume = b.volume;
  NTSTATUS status = AllocateSpaceBlock(volume->Header, &volume->SpaceBitmap, block, spaceBlock);
  if (NT_SUCCESS(status)) {
    TakeFreeBlock(volume);
    return status;
  }
  LogFailure("SNAP1 %08x\n", status);
  NTSTATUS drop = DropOldestSnapshot(b.device);
  if (!NT_SUCCESS(drop)) LogFailure("SNAP %08x\n", drop);
  ForgetKnown(b);
  if (volume->Header->SnapshotCount == 0) {
    b.engineReset = true;  // nothing left to protect
    return STATUS_UNSUCCESSFUL;
  }
  // The drop rebuilt the bitmap from the maps on disk, which do not yet
  // name the batch's copies.
  for (ULONG i = 0; i < b.takenCount; ++i) SetBitmapBit(&volume->SpaceBitmap, b.taken[i]);
  // Rare enough to count again rather than follow every path of the drop.
  WriteShared(volume->FreeSectors,
              static_cast<ULONG>(RtlNumberOfClearBits(&volume->SpaceBitmap) * vh::kBlockSectors));
  status = AllocateSpaceBlock(volume->Header, &volume->SpaceBitmap, block, spaceBlock);
  if (NT_SUCCESS(status)) {
    TakeFreeBlock(volume);
  } else {
    LogFailure("SNAP2 %08x\n", status);
  }
  return status;
}

// Reads the old contents of `count` blocks from `first` (zeros past the
// volume's end).
NTSTATUS ReadOldContents(CopyBatch& b, ULONG first, ULONG count) {
  PVolumeFilterExtension volume = b.volume;
  RtlZeroMemory(b.old, static_cast<SIZE_T>(count) * vh::kBlockBytes);
  const ULONGLONG firstSector = static_cast<ULONGLONG>(first) * vh::kBlockSectors;
  if (firstSector >= volume->TotalVolumeSectors) return STATUS_SUCCESS;
  ULONGLONG sectors = static_cast<ULONGLONG>(count) * vh::kBlockSectors;
  if (firstSector + sectors > volume->TotalVolumeSectors)
    sectors = volume->TotalVolumeSectors - firstSector;
  IO_STATUS_BLOCK ioStatus;
  return ReadWriteDiskSectors(1, volume->LowerDevice, firstSector * vh::kSectorBytes,
                              static_cast<ULONG>(sectors * vh::kSectorBytes), b.old, &ioStatus);
}

PVOID Allocate(SIZE_T bytes) { return ExAllocatePoolWithTag(NonPagedPool, bytes, EnginePoolTag); }

// The batch's working arrays, in one allocation: a write of n blocks
// touches at most n / EntriesPerSector + 2 map sectors.
NTSTATUS AllocateBatchBuffers(CopyBatch& b) {
  ULONG room = 0;
  ULONG largest = 0;
  for (ULONG i = 0; i < b.count; ++i) {
    room += b.writes[i].blockCount / EntriesPerSector + 2;
    largest = b.writes[i].blockCount > largest ? b.writes[i].blockCount : largest;
  }
  const ULONG groupBlocks = largest < ReadGroupBlocks ? largest : ReadGroupBlocks;
  b.bitmapSectors = (b.volume->SpaceBitmapBytes + vh::kSectorBytes - 1) / vh::kSectorBytes;
  // Widest alignment first.
  const SIZE_T sectorsAt = 0;
  const SIZE_T entriesAt = sectorsAt + static_cast<SIZE_T>(room) * sizeof(ULONGLONG);
  const SIZE_T takenAt = entriesAt + static_cast<SIZE_T>(room) * vh::kSectorBytes;
  const SIZE_T savedAt = takenAt + static_cast<SIZE_T>(b.blocks) * sizeof(ULONG);
  const SIZE_T oldAt = savedAt + static_cast<SIZE_T>(b.blocks) * sizeof(ULONG);
  const SIZE_T changedAt = oldAt + static_cast<SIZE_T>(groupBlocks) * vh::kBlockBytes;
  const SIZE_T bitmapAt = changedAt + room;
  auto* base = static_cast<PUCHAR>(Allocate(bitmapAt + b.bitmapSectors));
  b.buffers = base;
  if (base == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  b.mapSector = reinterpret_cast<ULONGLONG*>(base + sectorsAt);
  b.entries = reinterpret_cast<PULONG>(base + entriesAt);
  b.taken = reinterpret_cast<PULONG>(base + takenAt);
  b.savedBlock = reinterpret_cast<PULONG>(base + savedAt);
  b.old = base + oldAt;
  b.changed = base + changedAt;
  b.bitmapChanged = base + bitmapAt;
  RtlZeroMemory(b.bitmapChanged, b.bitmapSectors);
  b.sectorRoom = room;
  return STATUS_SUCCESS;
}

ULONG SlotOf(const CopyBatch& b, ULONGLONG mapSector) {
  for (ULONG i = 0; i < b.sectors; ++i) {
    if (b.mapSector[i] == mapSector) return i;
  }
  return NoSlot;
}

// Reads the map sectors holding the entries of blocks first .. first +
// count - 1 that no earlier write of the batch read: a later write sees the
// entries the earlier ones changed.
NTSTATUS LoadMapSectors(CopyBatch& b, ULONG first, ULONG count) {
  const ULONGLONG high = (static_cast<ULONGLONG>(first) + count - 1) / EntriesPerSector;
  auto unread = [&b](ULONGLONG sector) {
    return SlotOf(b, sector) == NoSlot && KnownEntries(b, sector) == nullptr;
  };
  for (ULONGLONG s = first / EntriesPerSector; s <= high;) {
    if (SlotOf(b, s) != NoSlot) {
      ++s;
      continue;
    }
    if (b.sectors == b.sectorRoom) return STATUS_UNSUCCESSFUL;
    const ULONG* known = KnownEntries(b, s);
    if (known != nullptr) {
      RtlCopyMemory(b.entries + static_cast<SIZE_T>(b.sectors) * EntriesPerSector, known,
                    vh::kSectorBytes);
      b.mapSector[b.sectors] = s;
      b.changed[b.sectors] = 0;
      ++b.sectors;
      ++s;
      continue;
    }
    ULONGLONG end = s;
    while (end < high && unread(end + 1)) ++end;
    const auto run = static_cast<ULONG>(end - s + 1);
    if (run > b.sectorRoom - b.sectors) return STATUS_UNSUCCESSFUL;
    NTSTATUS status =
        ReadEngineSectors(b.device, b.volume->Header->BlockMapFirst + s, run * vh::kSectorBytes,
                          b.entries + static_cast<SIZE_T>(b.sectors) * EntriesPerSector);
    if (!NT_SUCCESS(status)) return status;
    for (ULONG k = 0; k < run; ++k) {
      b.mapSector[b.sectors + k] = s + k;
      b.changed[b.sectors + k] = 0;
    }
    b.sectors += run;
    s = end + 1;
  }
  return STATUS_SUCCESS;
}

// Copies the blocks of one write that neither a snapshot's free space nor
// an earlier copy covers, and notes them in the batch's map sectors.
NTSTATUS SaveWriteBlocks(CopyBatch& b, const QueuedWrite& w) {
  PVolumeFilterExtension volume = b.volume;
  const vh::EngineHeader* header = volume->Header;
  const ULONGLONG mapBlocks = MapSectors(header) * EntriesPerSector;
  if (w.firstBlock >= mapBlocks) return STATUS_SUCCESS;  // blocks past the map are not tracked
  const ULONG count = mapBlocks - w.firstBlock < w.blockCount
                          ? static_cast<ULONG>(mapBlocks - w.firstBlock)
                          : w.blockCount;
  NTSTATUS status = LoadMapSectors(b, w.firstBlock, count);
  for (ULONG group = 0; group < count && NT_SUCCESS(status); group += ReadGroupBlocks) {
    const ULONG inGroup = count - group < ReadGroupBlocks ? count - group : ReadGroupBlocks;
    PULONG entry[ReadGroupBlocks];
    ULONG slot[ReadGroupBlocks];
    bool needed = false;
    for (ULONG i = 0; i < inGroup; ++i) {
      const ULONG block = w.firstBlock + group + i;
      slot[i] = SlotOf(b, block / EntriesPerSector);
      entry[i] =
          b.entries + static_cast<SIZE_T>(slot[i]) * EntriesPerSector + block % EntriesPerSector;
      needed = needed || *entry[i] == 0;
    }
    if (!needed) continue;
    status = ReadOldContents(b, w.firstBlock + group, inGroup);
    for (ULONG i = 0; i < inGroup && NT_SUCCESS(status); ++i) {
      const ULONG block = w.firstBlock + group + i;
      if (!IsValidMapEntry(volume, *entry[i])) {
        LogFailure("SNAP %08x\n", *entry[i]);
        status = STATUS_UNSUCCESSFUL;
        break;
      }
      if (*entry[i] != 0) continue;  // free at the snapshot, or saved already
      ULONG space = 0;
      status = TakeSpaceBlock(b, block, &space);
      if (!NT_SUCCESS(status)) break;
      b.taken[b.takenCount] = space;
      b.savedBlock[b.takenCount] = block;
      ++b.takenCount;
      if (space / BitsPerSector < b.bitmapSectors) b.bitmapChanged[space / BitsPerSector] = 1;
      status = WriteEngineSectors(
          b.device, header->SpaceFirst + static_cast<ULONGLONG>(space) * vh::kBlockSectors,
          vh::kBlockBytes, b.old + static_cast<SIZE_T>(i) * vh::kBlockBytes);
      if (!NT_SUCCESS(status)) break;
      *entry[i] = space * vh::kBlockSectors + vh::kBlockSectors;
      b.changed[slot[i]] = 1;
    }
  }
  return status;
}

// Writes the sectors of the space bitmap that hold the batch's new bits,
// each run of neighbours in one transfer: the rest on disk is unchanged.
NTSTATUS WriteTakenBitmapSectors(const CopyBatch& b) {
  PVolumeFilterExtension volume = b.volume;
  if (volume->SpaceBitmapBuffer == nullptr) return STATUS_INVALID_PARAMETER;
  for (ULONG s = 0; s < b.bitmapSectors;) {
    if (b.bitmapChanged[s] == 0) {
      ++s;
      continue;
    }
    ULONG end = s;
    while (end + 1 < b.bitmapSectors && b.bitmapChanged[end + 1] != 0) ++end;
    const ULONG offset = s * vh::kSectorBytes;
    ULONG length = (end - s + 1) * vh::kSectorBytes;
    if (length > volume->SpaceBitmapBytes - offset) length = volume->SpaceBitmapBytes - offset;
    NTSTATUS status =
        WriteEngineSectors(b.device, volume->Header->SpaceBitmapSector + s, length,
                           reinterpret_cast<PUCHAR>(volume->SpaceBitmapBuffer) + offset);
    if (!NT_SUCCESS(status)) return status;
    s = end + 1;
  }
  return STATUS_SUCCESS;
}

// Writes the map sectors whose entries changed, neighbours read together
// in one transfer.
NTSTATUS WriteChangedMapSectors(const CopyBatch& b) {
  for (ULONG i = 0; i < b.sectors;) {
    if (b.changed[i] == 0) {
      ++i;
      continue;
    }
    ULONG end = i;
    while (end + 1 < b.sectors && b.changed[end + 1] != 0 &&
           b.mapSector[end + 1] == b.mapSector[end] + 1) {
      ++end;
    }
    NTSTATUS status = WriteEngineSectors(b.device, b.volume->Header->BlockMapFirst + b.mapSector[i],
                                         (end - i + 1) * vh::kSectorBytes,
                                         b.entries + static_cast<SIZE_T>(i) * EntriesPerSector);
    if (!NT_SUCCESS(status)) return status;
    i = end + 1;
  }
  return STATUS_SUCCESS;
}

// The sectors of a write that lie in pass-through files go to the volume
// at once, from a copy of the caller's data.
NTSTATUS WritePinnedPart(PDEVICE_OBJECT device, const QueuedWrite& w) {
  const ULONG length = IoGetCurrentIrpStackLocation(w.irp)->Parameters.Write.Length;
  auto* copy = static_cast<PUCHAR>(Allocate(length));
  if (copy == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  RtlCopyMemory(copy, w.data, length);
  NTSTATUS status = WritePinnedSectors(device, w.firstSector, w.lastSector, copy);
  if (!NT_SUCCESS(status)) {
    LogFailure("SNAP %08x - %08x - %I64d\n", status, length, w.firstSector);
  }
  FreePool(copy);
  return status;
}

// Every copy of the batch, then its commit: the copies and their bitmap
// sectors durable before the map names them, the map durable before any
// write of the batch goes down.
// The kept map sectors, made on first use; without memory for them every
// batch reads its map sectors.
void PrepareKnown(CopyBatch& b) {
  if (b.known != nullptr) return;
  const ULONGLONG mapSectors = MapSectors(b.volume->Header);
  const ULONG slots = mapSectors < KnownSectors ? static_cast<ULONG>(mapSectors) : KnownSectors;
  if (slots == 0) return;
  b.known = static_cast<PULONG>(
      Allocate(static_cast<SIZE_T>(slots) * (vh::kSectorBytes + sizeof(ULONGLONG))));
  if (b.known == nullptr) return;
  b.knownSector =
      reinterpret_cast<ULONGLONG*>(b.known + static_cast<SIZE_T>(slots) * EntriesPerSector);
  b.knownSlots = slots;
  ForgetKnown(b);
}

NTSTATUS SaveBatch(CopyBatch& b) {
  PrepareKnown(b);
  NTSTATUS status = AllocateBatchBuffers(b);
  if (!NT_SUCCESS(status)) LogFailure("SNAP %08x\n", status);
  for (ULONG i = 0; i < b.count && NT_SUCCESS(status); ++i) {
    const QueuedWrite& w = b.writes[i];
    if (w.blockCount == 0) continue;
    status = WritePinnedPart(b.device, w);
    if (NT_SUCCESS(status)) status = SaveWriteBlocks(b, w);
  }
  if (b.engineReset) return STATUS_UNSUCCESSFUL;
  if (NT_SUCCESS(status) && b.takenCount != 0) {
    status = WriteTakenBitmapSectors(b);
    if (NT_SUCCESS(status)) status = FlushLowerDevice(b.device);
    if (NT_SUCCESS(status)) status = WriteChangedMapSectors(b);
    if (NT_SUCCESS(status)) status = FlushLowerDevice(b.device);
  }
  if (!NT_SUCCESS(status)) LogFailure("SNAP %08x\n", status);
  return status;
}

// A snapshot is being taken: the blocks of this write hold data from now
// on, whatever the free-cluster collection saw.
void NoteWrittenBlocks(PVolumeFilterExtension volume, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  const LONGLONG offset = stack->Parameters.Write.ByteOffset.QuadPart;
  const ULONG length = stack->Parameters.Write.Length;
  if (offset < 0 || length == 0) return;
  const ULONGLONG first = static_cast<ULONGLONG>(offset) / vh::kBlockBytes;
  ULONGLONG last = (static_cast<ULONGLONG>(offset) + length - 1) / vh::kBlockBytes;
  const ULONG size = volume->WrittenBlocks.SizeOfBitMap;
  if (first >= size) return;
  if (last >= size) last = size - 1;
  RtlSetBits(&volume->WrittenBlocks, static_cast<ULONG>(first),
             static_cast<ULONG>(last - first + 1));
}

enum class Route { Protect, PassThrough, Redirect };

// What the worker does with a queued write, decided before anything of it
// is done; Protect fills `w`.
Route RouteWrite(CopyBatch& b, PIRP irp, QueuedWrite* w) {
  PDEVICE_OBJECT device = b.device;
  PVolumeFilterExtension volume = b.volume;
  // The mode is read once, before anything else: a write taken from the
  // queue just before the switch to temporary mode goes where every later
  // write goes, never in place without its copy. One read as tracking keeps
  // its copy-on-write to the end; the switch waits for it.
  KIRQL irql;
  KeAcquireSpinLock(&volume->WriteQueueLock, &irql);
  const ULONG mode = ReadShared(volume->EngineMode);
  KeReleaseSpinLock(&volume->WriteQueueLock, irql);
  if (mode == EngineModeTemporary) {
    return IsPassThroughWrite(device, irp) ? Route::PassThrough : Route::Redirect;
  }
  // Once told to discard, every snapshot is about to go: nothing to save.
  // A removal keeps them, so its last writes are still saved.
  if (ResetRequested(volume)) return Route::PassThrough;
  if (ReadShared(volume->WatchWrites)) NoteWrittenBlocks(volume, irp);
  const vh::EngineHeader* header = volume->Header;
  // Writes queued before a removal are still saved: the snapshots outlive it.
  const bool started =
      ReadShared(volume->PnpState) == PnpStarted || ReadShared(volume->StopFlag) == StopKeep;
  if (mode != EngineModeTracking || !started || header == nullptr || header->SnapshotCount == 0 ||
      volume->SavedBlocksBuffer == nullptr || volume->SpaceBitmapBuffer == nullptr) {
    // Two lines, not one: this refusal is told apart in the log by its
    // doubled line.
    LogFailure("SNAP %08x\n", STATUS_UNSUCCESSFUL);
    LogFailure("SNAP %08x\n", STATUS_UNSUCCESSFUL);
    return Route::PassThrough;
  }
  // Finishing an interrupted create rewrites the live map.
  if (header->CountCopy < header->SnapshotCount) ForgetKnown(b);
  if (!NT_SUCCESS(CompleteInterruptedSnapshot(device))) return Route::PassThrough;
  OpenDirectRewrites(volume);
  if (IsPassThroughWrite(device, irp)) return Route::PassThrough;
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  const LONGLONG offset = stack->Parameters.Write.ByteOffset.QuadPart;
  const ULONG length = stack->Parameters.Write.Length;
  if (offset < 0 || length < vh::kSectorBytes || irp->MdlAddress == nullptr) {
    return Route::PassThrough;
  }
  const ULONGLONG firstSector = static_cast<ULONGLONG>(offset) / vh::kSectorBytes;
  const ULONGLONG lastSector = firstSector + length / vh::kSectorBytes - 1;
  const ULONGLONG mapBlocks = volume->SavedBlocks.SizeOfBitMap;
  ULONGLONG lastBlock = lastSector / vh::kBlockSectors;
  if (firstSector / vh::kBlockSectors >= mapBlocks) return Route::PassThrough;
  if (lastBlock >= mapBlocks) lastBlock = mapBlocks - 1;
  auto* data =
      static_cast<PUCHAR>(MmGetSystemAddressForMdlSafe(irp->MdlAddress, NormalPagePriority));
  if (data == nullptr) return Route::PassThrough;
  ULONG firstBlock = static_cast<ULONG>(firstSector / vh::kBlockSectors);
  ULONG blockCount = static_cast<ULONG>(lastBlock) - firstBlock + 1;
  if (!NT_SUCCESS(SkipSavedBlocks(device, &firstBlock, &blockCount))) return Route::PassThrough;
  // A write with nothing left to save still joins the batch: an earlier
  // write of it may be copying one of its blocks, and it lands after that.
  w->irp = irp;
  w->data = data;
  w->firstSector = firstSector;
  w->lastSector = lastSector;
  w->firstBlock = firstBlock;
  w->blockCount = blockCount;
  return Route::Protect;
}

// Serves the batch and empties it. Every write of it goes down, after the
// commit, unless a copy failed and even discarding the snapshots did.
void RunBatch(CopyBatch& b) {
  if (b.count == 0) return;
  PDEVICE_OBJECT device = b.device;
  PVolumeFilterExtension volume = b.volume;
  b.sectors = 0;
  b.takenCount = 0;
  b.buffers = nullptr;
  b.engineReset = false;
  NTSTATUS status = b.blocks == 0 ? STATUS_SUCCESS : SaveBatch(b);
  const ULONG copies = b.takenCount;
  if (NT_SUCCESS(status) && copies != 0) MarkSaved(volume, b.savedBlock, copies);
  if (NT_SUCCESS(status)) {
    RememberSectors(b);
  } else {
    ForgetKnown(b);
  }
  if (!NT_SUCCESS(status) && !b.engineReset) UndoTaken(b);
  FreePool(b.buffers);
  b.buffers = nullptr;
  const ULONG count = b.count;
  b.count = 0;
  b.blocks = 0;
  if (!NT_SUCCESS(status) && !b.engineReset && volume->Header->SnapshotCount != 0) {
    // A block of the batch could not be saved: every snapshot that reads
    // it through the live map would restore the new bytes. The engine
    // cannot remove the newest snapshot alone, so all of them go, before
    // the writes; when even that fails, no write that needed a copy goes
    // down (one that needed none may).
    LogFailure("SNAP %08x %08x\n", status, volume->Header->SnapshotCount);
    NTSTATUS reset = ResetEngine(device);
    if (!NT_SUCCESS(reset)) {
      LogFailure("SNAP %08x\n", reset);
      for (ULONG i = 0; i < count; ++i) {
        if (b.writes[i].blockCount != 0) {
          CompleteRequest(b.writes[i].irp, reset);
        } else {
          EngineDispatchPassThrough(device, b.writes[i].irp);
        }
      }
      return;
    }
  }
  // Nothing was saved: the writes go down as they are.
  if (!NT_SUCCESS(status) || copies == 0) {
    for (ULONG i = 0; i < count; ++i) EngineDispatchPassThrough(device, b.writes[i].irp);
    return;
  }
  // In queue order, each after the one before it has completed: two writes
  // of one block land as they were queued. They are answered once the
  // low-water drop they may bring is done.
  NTSTATUS forwarded[BatchWrites];
  for (ULONG i = 0; i < count; ++i) {
    forwarded[i] = ForwardIrpAndWait(device, b.writes[i].irp);
    if (!NT_SUCCESS(forwarded[i])) LogFailure("SNAP %08x\n", forwarded[i]);
  }
  const vh::EngineHeader* header = volume->Header;
  if (header->SnapshotCount != 0 && volume->FreeSectors <= header->LowWaterSectors) {
    NTSTATUS drop = DropOldestSnapshot(device);
    if (!NT_SUCCESS(drop)) LogFailure("SNAP %08x\n", drop);
    ForgetKnown(b);
  }
  for (ULONG i = 0; i < count; ++i) {
    PIRP irp = b.writes[i].irp;
    CompleteRequest(irp, forwarded[i], irp->IoStatus.Information, IO_DISK_INCREMENT);
  }
}

// Serves the queue in order. First writes found waiting together share one
// batch; any other request ends the batch before it is served, so every
// request reaches the volume in the order it was queued. The worker parks
// for a pause only between batches.
void ServeQueue(CopyBatch& b) {
  PDEVICE_OBJECT device = b.device;
  PVolumeFilterExtension volume = b.volume;
  for (PLIST_ENTRY entry =
           ExInterlockedRemoveHeadList(&volume->WriteQueue, &volume->WriteQueueLock);
       entry != nullptr;
       entry = ExInterlockedRemoveHeadList(&volume->WriteQueue, &volume->WriteQueueLock)) {
    bool parked = false;
    if (b.count == 0) ParkIfPaused(volume, STATUS_SUCCESS, &parked);
    if (parked) ForgetKnown(b);
    PIRP irp = IrpOfQueueEntry(entry);
    QueuedWrite w;
    Route route = Route::PassThrough;
    if (IoGetCurrentIrpStackLocation(irp)->MajorFunction == IRP_MJ_WRITE)
      route = RouteWrite(b, irp, &w);
    if (route == Route::Protect) {
      if (b.count == BatchWrites || (b.count != 0 && b.blocks + w.blockCount > BatchBlocks))
        RunBatch(b);
      b.writes[b.count++] = w;
      b.blocks += w.blockCount;
      continue;
    }
    RunBatch(b);
    if (route == Route::Redirect) {
      SplitRedirectedIo(device, irp);
    } else {
      EngineDispatchPassThrough(device, irp);
    }
  }
  RunBatch(b);
}

}  // namespace

void VolumeWorkerThread(PVOID context) {
  auto* device = static_cast<PDEVICE_OBJECT>(context);
  PVolumeFilterExtension volume = VolumeOf(device);
  KeSetPriorityThread(KeGetCurrentThread(), 16);
  LARGE_INTEGER second;
  second.QuadPart = -10000000;
  CopyBatch batch;
  RtlZeroMemory(&batch, sizeof batch);
  batch.device = device;
  batch.volume = volume;
  for (;;) {
    // PASSIVE_LEVEL; the write dispatch sets it for each queued write.
    NTSTATUS status =
        KeWaitForSingleObject(&volume->WakeEvent, Executive, KernelMode, FALSE, &second);
    bool parked = false;
    status = ParkIfPaused(volume, status, &parked);
    if (parked) ForgetKnown(batch);
    const bool stopping = StopRequested(volume);
    if (status != STATUS_TIMEOUT || stopping) ServeQueue(batch);
    if (StopRequested(volume)) break;
  }
  FreePool(batch.known);
  if (volume->Header != nullptr && ResetRequested(volume)) {
    NTSTATUS status = ResetEngine(device);
    if (!NT_SUCCESS(status)) LogFailure("SNAP %08x \n\n", status);
  }
  // No snapshot is taken on this volume any more.
  WriteShared(volume->WatchWrites, static_cast<UCHAR>(0));
  FreePool(volume->WrittenBlocksBuffer);
  volume->WrittenBlocksBuffer = nullptr;
  volume->WrittenBlocksBytes = 0;
}

bool SendRewriteDown(PDEVICE_OBJECT device, PIRP irp, NTSTATUS* status) {
  PVolumeFilterExtension volume = VolumeOf(device);
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  const LONGLONG offset = stack->Parameters.Write.ByteOffset.QuadPart;
  const ULONG length = stack->Parameters.Write.Length;
  if (offset < 0 || length < vh::kSectorBytes || volume->LowerDevice == nullptr) return false;
  // The blocks as the worker counts them: whole sectors from the offset.
  const ULONGLONG firstSector = static_cast<ULONGLONG>(offset) / vh::kSectorBytes;
  const ULONGLONG first = firstSector / vh::kBlockSectors;
  const ULONGLONG last = (firstSector + length / vh::kSectorBytes - 1) / vh::kBlockSectors;
  KIRQL irql;
  KeAcquireSpinLock(&volume->RewriteLock, &irql);
  // While a create watches writes, every write is recorded by the worker;
  // the mode, stop and PnP state are tested again here, under the lock the
  // closers take after changing them.
  bool direct = volume->DirectRewritesOpen != 0 && ReadShared(volume->WatchWrites) == 0 &&
                ReadShared(volume->EngineMode) == EngineModeTracking &&
                ReadShared(volume->StopFlag) == StopNone &&
                ReadShared(volume->PnpState) == PnpStarted &&
                volume->SavedBlocksBuffer != nullptr && volume->MarkedBlocksBuffer != nullptr &&
                last < volume->SavedBlocks.SizeOfBitMap && last < volume->MarkedBlocks.SizeOfBitMap;
  for (ULONGLONG b = first; direct && b <= last; ++b) {
    const auto block = static_cast<ULONG>(b);
    direct = RtlTestBit(&volume->SavedBlocks, block) || RtlTestBit(&volume->MarkedBlocks, block);
  }
  if (direct) ++volume->DirectRewritesInFlight;
  KeReleaseSpinLock(&volume->RewriteLock, irql);
  if (!direct) return false;
  IoCopyCurrentIrpStackLocationToNext(irp);
  IoSetCompletionRoutine(irp, DirectRewriteCompletion, volume, TRUE, TRUE, TRUE);
  *status = IoCallDriver(volume->LowerDevice, irp);
  return true;
}

void CloseDirectRewrites(PVolumeFilterExtension volume) {
  for (;;) {
    KIRQL irql;
    KeAcquireSpinLock(&volume->RewriteLock, &irql);
    volume->DirectRewritesOpen = 0;
    const bool idle = volume->DirectRewritesInFlight == 0;
    if (!idle) KeClearEvent(&volume->DirectRewritesDrained);
    KeReleaseSpinLock(&volume->RewriteLock, irql);
    if (idle) return;
    // PASSIVE_LEVEL; the completion of the last rewrite in flight sets it.
    KeWaitForSingleObject(&volume->DirectRewritesDrained, Executive, KernelMode, FALSE, nullptr);
  }
}

NTSTATUS SkipSavedBlocks(PDEVICE_OBJECT device, ULONG* firstBlock, ULONG* blockCount) {
  PVolumeFilterExtension volume = VolumeOf(device);
  UCHAR allMarked = 0;
  UCHAR allSaved = 0;
  NTSTATUS status = TestBitmapBitsSet(&volume->MarkedBlocks, *firstBlock, *blockCount, &allMarked);
  if (NT_SUCCESS(status))
    status = TestBitmapBitsSet(&volume->SavedBlocks, *firstBlock, *blockCount, &allSaved);
  if (!NT_SUCCESS(status)) return status;
  if (allMarked || allSaved) {
    *firstBlock += *blockCount;
    *blockCount = 0;
    return STATUS_SUCCESS;
  }
  while (*blockCount != 0 && (RtlTestBit(&volume->MarkedBlocks, *firstBlock) ||
                              RtlTestBit(&volume->SavedBlocks, *firstBlock))) {
    ++*firstBlock;
    --*blockCount;
  }
  return STATUS_SUCCESS;
}

NTSTATUS WritePinnedSectors(PDEVICE_OBJECT device, ULONGLONG firstSector, ULONGLONG lastSector,
                            const UCHAR* data) {
  PVolumeFilterExtension volume = VolumeOf(device);
  if (firstSector > volume->Header->VolumeSectors) {
    LogFailure("SNAP %08x - %08x\n", static_cast<ULONG>(firstSector),
               volume->Header->VolumeSectors);
    return STATUS_UNSUCCESSFUL;
  }
  for (PassThroughChunk* chunk = volume->PassThroughList; chunk != nullptr; chunk = chunk->Next) {
    for (ULONG i = 0; i < chunk->Count; ++i) {
      const ULONGLONG lo = firstSector > chunk->First[i] ? firstSector : chunk->First[i];
      const ULONGLONG hi = lastSector < chunk->Last[i] ? lastSector : chunk->Last[i];
      if (hi < lo) continue;
      const ULONG bytes = static_cast<ULONG>(hi - lo + 1) * vh::kSectorBytes;
      IO_STATUS_BLOCK ioStatus;
      NTSTATUS status = ReadWriteDiskSectors(
          0, volume->LowerDevice, lo * vh::kSectorBytes, bytes,
          const_cast<PUCHAR>(data) + (lo - firstSector) * vh::kSectorBytes, &ioStatus);
      if (!NT_SUCCESS(status)) {
        LogFailure("AFZ 0x%08x - 0x%08x\n", status, bytes);
        return status;
      }
    }
  }
  return STATUS_SUCCESS;
}

NTSTATUS AllocateSpaceBlock(const vh::EngineHeader* header, PRTL_BITMAP spaceBitmap,
                            ULONG volumeBlock, ULONG* spaceBlock) {
  if (header == nullptr || spaceBitmap == nullptr || spaceBitmap->Buffer == nullptr ||
      spaceBlock == nullptr) {
    LogFailure("SNAP %08x\n", STATUS_INVALID_PARAMETER);
    return STATUS_INVALID_PARAMETER;
  }
  const ULONGLONG spaceBlocks =
      header->SpaceLast < header->SpaceFirst
          ? 0
          : (header->SpaceLast - header->SpaceFirst + 1) / vh::kBlockSectors;
  ULONGLONG volumeBlocks = header->VolumeBytes / vh::kBlockBytes;
  if (volumeBlocks == 0) volumeBlocks = 1;
  // Both factors are below 2^32, so the product fits.
  ULONGLONG start = (spaceBlocks & 0xFFFFFFFFull) * volumeBlock / volumeBlocks;
  if (start >= spaceBitmap->SizeOfBitMap) start = 0;
  const ULONG found = RtlFindClearBitsAndSet(spaceBitmap, 1, static_cast<ULONG>(start));
  if (found == 0xFFFFFFFF) {
    LogFailure("UTIL %08x\n", STATUS_UNSUCCESSFUL);
    return STATUS_UNSUCCESSFUL;
  }
  *spaceBlock = found;
  return STATUS_SUCCESS;
}

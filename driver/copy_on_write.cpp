// The copy-on-write write path: each volume's worker takes the queued
// writes one at a time and saves the old contents of every block not yet
// saved since the newest snapshot before the write reaches the volume. The
// engine never refuses a write: whatever fails, the request goes down.
// Everything runs in the worker thread at PASSIVE_LEVEL.
//
// Order on disk for each map piece a request touches: the saved copies,
// then the space bitmap, a flush of the lower device, then the map piece;
// one more flush, and only then the write itself (a disk with a write
// cache keeps that order only through the flushes). Rewrites of blocks whose
// copy is durable skip the worker (SendRewriteDown): they need no copy, and
// the blocks of the request in hand count as not yet saved until the last
// flush. A cut anywhere leaves either the old block
// (with or without a recorded copy of it) or a recorded copy: never a new block whose old content
// no map names. A cut between bitmap and piece only leaks blocks, which the next deletion's rebuild
// of the bitmap gives back.
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

constexpr ULONG PieceSectors = 32;  // 16 KB of the live map
constexpr ULONG PieceEntries = 4096;
constexpr ULONG EntriesPerSector = vh::kSectorBytes / sizeof(ULONG);
constexpr ULONG ReadGroupBlocks = 8;  // old contents are read 256 KB at a time at most

// The pause handshake between two requests or at the tick: park until
// resumed unless told to stop.
NTSTATUS ParkIfPaused(PVolumeFilterExtension volume, NTSTATUS status) {
  if (!ReadShared(volume->PauseFlag) || ReadShared(volume->StopFlag)) return status;
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

// One map piece of a request: the blocks first .. first + count - 1, all
// inside the piece that starts at map sector `pieceSector`.
struct Piece {
  ULONGLONG pieceSector;  // engine sector
  ULONG firstEntry;       // the request's first block within the piece
  ULONG first;            // volume block
  ULONG count;
};

// Working state of one request.
struct Request {
  PDEVICE_OBJECT device;
  PVolumeFilterExtension volume;
  PULONG piece;      // the piece as it will be written
  PULONG kept;       // the piece as read
  PUCHAR old;        // old contents of up to ReadGroupBlocks blocks
  PULONG allocated;  // space blocks taken for the current piece
  ULONG allocatedCount;
  bool engineReset;  // an oldest-drop discarded every snapshot
  ULONG saved;       // blocks saved by the whole request
};

// SavedBlocks changes under the lock the direct rewrites test it under.
void SetSavedBit(PVolumeFilterExtension volume, ULONG block, bool saved) {
  KIRQL irql;
  KeAcquireSpinLock(&volume->RewriteLock, &irql);
  if (saved) {
    SetBitmapBit(&volume->SavedBlocks, block);
  } else {
    ClearBitmapBit(&volume->SavedBlocks, block);
  }
  KeReleaseSpinLock(&volume->RewriteLock, irql);
}

// The blocks whose copies the worker is making (count 0: none): a rewrite
// of any of them waits in the queue behind the request until its copies
// and map are durable.
void SetCopying(PVolumeFilterExtension volume, ULONG first, ULONG count) {
  KIRQL irql;
  KeAcquireSpinLock(&volume->RewriteLock, &irql);
  volume->CopyingFirst = first;
  volume->CopyingCount = count;
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

// Gives back what the current piece took: its space blocks and its
// SavedBlocks bits. Blocks of other pieces and of other requests stay.
void UndoPiece(Request& r, const Piece& p) {
  PVolumeFilterExtension volume = r.volume;
  for (ULONG i = 0; i < r.allocatedCount; ++i) {
    if (NT_SUCCESS(ClearBitmapBit(&volume->SpaceBitmap, r.allocated[i])))
      WriteShared(volume->FreeSectors, volume->FreeSectors + vh::kBlockSectors);
  }
  for (ULONG i = 0; i < p.count; ++i) {
    const ULONG index = p.firstEntry + i;
    if (!IsSavedCopy(r.kept[index]) && IsSavedCopy(r.piece[index]))
      SetSavedBit(volume, p.first + i, false);
  }
  r.allocatedCount = 0;
}

// The free count follows the bitmap bit by bit: recounting a space of
// millions of blocks on every copy costs more than the copy.
void TakeFreeBlock(PVolumeFilterExtension volume) {
  const ULONG free = volume->FreeSectors;
  WriteShared(volume->FreeSectors, free >= vh::kBlockSectors ? free - vh::kBlockSectors : 0);
}

// Writes only the sectors of the space bitmap that hold the piece's new
// space blocks: the rest on disk is unchanged by this piece. (A bit an
// undone piece cleared in memory may stay set on disk: a leak the load-time
// rebuild gives back, never a block two maps share.)
NTSTATUS WriteAllocatedBitmapSectors(const Request& r) {
  PVolumeFilterExtension volume = r.volume;
  if (volume->SpaceBitmapBuffer == nullptr) return STATUS_INVALID_PARAMETER;
  constexpr ULONG bitsPerSector = vh::kSectorBytes * 8;
  ULONG low = 0xFFFFFFFF;
  ULONG high = 0;
  for (ULONG i = 0; i < r.allocatedCount; ++i) {
    const ULONG sector = r.allocated[i] / bitsPerSector;
    low = sector < low ? sector : low;
    high = sector > high ? sector : high;
  }
  if (low > high) return STATUS_SUCCESS;
  const ULONG offset = low * vh::kSectorBytes;
  if (offset >= volume->SpaceBitmapBytes) return STATUS_INVALID_PARAMETER;
  ULONG length = (high - low + 1) * vh::kSectorBytes;
  if (length > volume->SpaceBitmapBytes - offset) length = volume->SpaceBitmapBytes - offset;
  return WriteEngineSectors(r.device, volume->Header->SpaceBitmapSector + low, length,
                            reinterpret_cast<PUCHAR>(volume->SpaceBitmapBuffer) + offset);
}

// A space block for volume block b; when the space is full the oldest
// snapshot goes and the search runs once more.
NTSTATUS TakeSpaceBlock(Request& r, ULONG block, ULONG* spaceBlock) {
  PVolumeFilterExtension volume = r.volume;
  NTSTATUS status = AllocateSpaceBlock(volume->Header, &volume->SpaceBitmap, block, spaceBlock);
  if (NT_SUCCESS(status)) {
    TakeFreeBlock(volume);
    return status;
  }
  LogFailure("SNAP1 %08x\n", status);
  NTSTATUS drop = DropOldestSnapshot(r.device);
  if (!NT_SUCCESS(drop)) LogFailure("SNAP %08x\n", drop);
  if (volume->Header->SnapshotCount == 0) {
    r.engineReset = true;  // nothing left to protect
    return STATUS_UNSUCCESSFUL;
  }
  // The drop rebuilt the bitmap from the maps on disk, which do not yet
  // name this piece's copies.
  for (ULONG i = 0; i < r.allocatedCount; ++i) SetBitmapBit(&volume->SpaceBitmap, r.allocated[i]);
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
NTSTATUS ReadOldContents(Request& r, ULONG first, ULONG count) {
  PVolumeFilterExtension volume = r.volume;
  RtlZeroMemory(r.old, static_cast<SIZE_T>(count) * vh::kBlockBytes);
  const ULONGLONG firstSector = static_cast<ULONGLONG>(first) * vh::kBlockSectors;
  if (firstSector >= volume->TotalVolumeSectors) return STATUS_SUCCESS;
  ULONGLONG sectors = static_cast<ULONGLONG>(count) * vh::kBlockSectors;
  if (firstSector + sectors > volume->TotalVolumeSectors)
    sectors = volume->TotalVolumeSectors - firstSector;
  IO_STATUS_BLOCK ioStatus;
  return ReadWriteDiskSectors(1, volume->LowerDevice, firstSector * vh::kSectorBytes,
                              static_cast<ULONG>(sectors * vh::kSectorBytes), r.old, &ioStatus);
}

// Saves the unsaved blocks of one piece and records them on disk.
NTSTATUS SavePiece(Request& r, const Piece& p) {
  PVolumeFilterExtension volume = r.volume;
  const vh::EngineHeader* header = volume->Header;
  r.allocatedCount = 0;
  // Only the map sectors holding the request's entries are read, and only
  // those that change are written: the rest of the piece is not touched.
  const ULONG lowSector = p.firstEntry / EntriesPerSector;
  const ULONG highSector = (p.firstEntry + p.count - 1) / EntriesPerSector;
  const ULONG spanEntries = (highSector - lowSector + 1) * EntriesPerSector;
  NTSTATUS status =
      ReadEngineSectors(r.device, p.pieceSector + lowSector, spanEntries * sizeof(ULONG),
                        r.kept + static_cast<SIZE_T>(lowSector) * EntriesPerSector);
  if (!NT_SUCCESS(status)) return status;
  RtlCopyMemory(r.piece + static_cast<SIZE_T>(lowSector) * EntriesPerSector,
                r.kept + static_cast<SIZE_T>(lowSector) * EntriesPerSector,
                spanEntries * sizeof(ULONG));
  ULONG savedHere = 0;
  ULONG lowChanged = 0xFFFFFFFF;
  ULONG highChanged = 0;
  for (ULONG group = 0; group < p.count && NT_SUCCESS(status); group += ReadGroupBlocks) {
    const ULONG inGroup = p.count - group < ReadGroupBlocks ? p.count - group : ReadGroupBlocks;
    bool needed = false;
    for (ULONG i = 0; i < inGroup; ++i) needed = needed || r.piece[p.firstEntry + group + i] == 0;
    if (!needed) continue;
    status = ReadOldContents(r, p.first + group, inGroup);
    for (ULONG i = 0; i < inGroup && NT_SUCCESS(status); ++i) {
      const ULONG index = p.firstEntry + group + i;
      const ULONG block = p.first + group + i;
      const ULONG entry = r.piece[index];
      if (!IsValidMapEntry(volume, entry)) {
        LogFailure("SNAP %08x\n", entry);
        status = STATUS_UNSUCCESSFUL;
        break;
      }
      if (entry != 0) continue;  // free at the snapshot, or saved already
      ULONG space = 0;
      status = TakeSpaceBlock(r, block, &space);
      if (!NT_SUCCESS(status)) break;
      r.allocated[r.allocatedCount++] = space;
      status = WriteEngineSectors(
          r.device, header->SpaceFirst + static_cast<ULONGLONG>(space) * vh::kBlockSectors,
          vh::kBlockBytes, r.old + static_cast<SIZE_T>(i) * vh::kBlockBytes);
      if (!NT_SUCCESS(status)) break;
      r.piece[index] = space * vh::kBlockSectors + vh::kBlockSectors;
      lowChanged = index < lowChanged ? index : lowChanged;
      highChanged = index > highChanged ? index : highChanged;
      SetSavedBit(volume, block, true);
      ++savedHere;
    }
  }
  if (r.engineReset) return STATUS_UNSUCCESSFUL;
  if (NT_SUCCESS(status) && savedHere != 0) {
    // The copies and the bitmap are durable before the piece names them.
    status = WriteAllocatedBitmapSectors(r);
    if (NT_SUCCESS(status)) status = FlushLowerDevice(r.device);
    const ULONG from = lowChanged / EntriesPerSector;
    const ULONG to = highChanged / EntriesPerSector;
    if (NT_SUCCESS(status))
      status =
          WriteEngineSectors(r.device, p.pieceSector + from, (to - from + 1) * vh::kSectorBytes,
                             r.piece + static_cast<SIZE_T>(from) * EntriesPerSector);
  }
  if (!NT_SUCCESS(status)) {
    LogFailure("SNAP %08x\n", status);
    UndoPiece(r, p);
    return status;
  }
  r.saved += savedHere;
  return STATUS_SUCCESS;
}

// Saves the blocks first .. first + count - 1 piece by piece.
NTSTATUS SaveBlocks(Request& r, ULONG first, ULONG count) {
  const vh::EngineHeader* header = r.volume->Header;
  const ULONGLONG mapSectors = MapSectors(header);
  while (count != 0) {
    Piece p;
    const ULONGLONG mapSector = first / EntriesPerSector;
    if (mapSector >= mapSectors) return STATUS_SUCCESS;  // blocks past the map are not tracked
    const ULONGLONG sectors =
        mapSectors - mapSector < PieceSectors ? mapSectors - mapSector : PieceSectors;
    p.pieceSector = header->BlockMapFirst + mapSector;
    p.firstEntry = first % EntriesPerSector;
    const ULONG room = static_cast<ULONG>(sectors) * EntriesPerSector - p.firstEntry;
    p.first = first;
    p.count = count < room ? count : room;
    NTSTATUS status = SavePiece(r, p);
    if (!NT_SUCCESS(status)) return status;
    first += p.count;
    count -= p.count;
  }
  return STATUS_SUCCESS;
}

PVOID Allocate(SIZE_T bytes) { return ExAllocatePoolWithTag(NonPagedPool, bytes, EnginePoolTag); }

// Everything after the tracking checks; the request goes down in every case.
NTSTATUS ProtectAndForward(PDEVICE_OBJECT device, PIRP irp, PUCHAR data, ULONGLONG firstSector,
                           ULONGLONG lastSector, ULONG firstBlock, ULONG blockCount) {
  PVolumeFilterExtension volume = VolumeOf(device);
  const ULONG length = IoGetCurrentIrpStackLocation(irp)->Parameters.Write.Length;
  Request r;
  RtlZeroMemory(&r, sizeof r);
  r.device = device;
  r.volume = volume;
  auto* copy = static_cast<PUCHAR>(Allocate(length));
  r.piece = static_cast<PULONG>(Allocate(PieceEntries * sizeof(ULONG)));
  r.kept = static_cast<PULONG>(Allocate(PieceEntries * sizeof(ULONG)));
  r.allocated = static_cast<PULONG>(Allocate(PieceEntries * sizeof(ULONG)));
  // Most writes touch one or two blocks: no larger buffer than they need.
  const ULONG groupBlocks = blockCount < ReadGroupBlocks ? blockCount : ReadGroupBlocks;
  r.old = static_cast<PUCHAR>(Allocate(static_cast<SIZE_T>(groupBlocks) * vh::kBlockBytes));
  NTSTATUS status = STATUS_SUCCESS;
  if (copy == nullptr || r.piece == nullptr || r.kept == nullptr || r.allocated == nullptr ||
      r.old == nullptr) {
    status = STATUS_INSUFFICIENT_RESOURCES;
    LogFailure("SNAP %08x\n", status);
  }
  if (NT_SUCCESS(status)) {
    RtlCopyMemory(copy, data, length);
    status = WritePinnedSectors(device, firstSector, lastSector, copy);
    if (!NT_SUCCESS(status)) {
      LogFailure("SNAP %08x - %08x - %I64d\n", status, length, firstSector);
    }
  }
  SetCopying(volume, firstBlock, blockCount);
  if (NT_SUCCESS(status)) status = SaveBlocks(r, firstBlock, blockCount);
  FreePool(copy);
  FreePool(r.piece);
  FreePool(r.kept);
  FreePool(r.allocated);
  FreePool(r.old);
  // One flush puts every piece of the request on stable storage before the
  // write they protect goes down.
  if (NT_SUCCESS(status) && r.saved != 0) status = FlushLowerDevice(device);
  if (!NT_SUCCESS(status)) {
    // Maps of earlier pieces may not be durable: no rewrite trusts their
    // bits before the worker has looked again.
    CloseDirectRewrites(volume);
  }
  SetCopying(volume, 0, 0);
  if (!NT_SUCCESS(status) && !r.engineReset && volume->Header->SnapshotCount != 0) {
    // A block of this write could not be saved: every snapshot that reads
    // it through the live map would restore the new bytes. The engine
    // cannot remove the newest snapshot alone, so all of them go, before
    // the write; when even that fails, the write does not go down.
    LogFailure("SNAP %08x %08x\n", status, volume->Header->SnapshotCount);
    NTSTATUS reset = ResetEngine(device);
    if (!NT_SUCCESS(reset)) {
      LogFailure("SNAP %08x\n", reset);
      return CompleteRequest(irp, reset);
    }
    return EngineDispatchPassThrough(device, irp);
  }
  // Nothing needed saving: the write goes down as it is.
  if (r.saved == 0) return EngineDispatchPassThrough(device, irp);
  NTSTATUS forwarded = ForwardIrpAndWait(device, irp);
  if (!NT_SUCCESS(forwarded)) LogFailure("SNAP %08x\n", forwarded);
  const vh::EngineHeader* header = volume->Header;
  if (header->SnapshotCount != 0 && volume->FreeSectors <= header->LowWaterSectors) {
    NTSTATUS drop = DropOldestSnapshot(device);
    if (!NT_SUCCESS(drop)) LogFailure("SNAP %08x\n", drop);
  }
  return CompleteRequest(irp, forwarded, irp->IoStatus.Information, IO_DISK_INCREMENT);
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

}  // namespace

void VolumeWorkerThread(PVOID context) {
  auto* device = static_cast<PDEVICE_OBJECT>(context);
  PVolumeFilterExtension volume = VolumeOf(device);
  KeSetPriorityThread(KeGetCurrentThread(), 16);
  LARGE_INTEGER second;
  second.QuadPart = -10000000;
  for (;;) {
    // PASSIVE_LEVEL; the write dispatch sets it for each queued write.
    NTSTATUS status =
        KeWaitForSingleObject(&volume->WakeEvent, Executive, KernelMode, FALSE, &second);
    status = ParkIfPaused(volume, status);
    const bool stopping = StopRequested(volume);
    if (status != STATUS_TIMEOUT || stopping) {
      for (PLIST_ENTRY entry =
               ExInterlockedRemoveHeadList(&volume->WriteQueue, &volume->WriteQueueLock);
           entry != nullptr;
           entry = ExInterlockedRemoveHeadList(&volume->WriteQueue, &volume->WriteQueueLock)) {
        ParkIfPaused(volume, STATUS_SUCCESS);
        PIRP irp = IrpOfQueueEntry(entry);
        if (IoGetCurrentIrpStackLocation(irp)->MajorFunction == IRP_MJ_WRITE) {
          CopyOnWrite(device, irp);
        } else {
          EngineDispatchPassThrough(device, irp);
        }
      }
    }
    if (StopRequested(volume)) break;
  }
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

NTSTATUS CopyOnWrite(PDEVICE_OBJECT device, PIRP irp) {
  PVolumeFilterExtension volume = VolumeOf(device);
  // The mode is read once, before anything else: a write taken from the
  // queue just before the switch to temporary mode goes where every later
  // write goes, never in place without its copy. One read as tracking keeps
  // its copy-on-write to the end; the switch waits for it.
  KIRQL irql;
  KeAcquireSpinLock(&volume->WriteQueueLock, &irql);
  const ULONG mode = ReadShared(volume->EngineMode);
  KeReleaseSpinLock(&volume->WriteQueueLock, irql);
  if (mode == EngineModeTemporary) {
    if (IsPassThroughWrite(device, irp)) return EngineDispatchPassThrough(device, irp);
    return SplitRedirectedIo(device, irp);
  }
  // Once told to discard, every snapshot is about to go: nothing to save.
  // A removal keeps them, so its last writes are still saved.
  if (ResetRequested(volume)) return EngineDispatchPassThrough(device, irp);
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
    return EngineDispatchPassThrough(device, irp);
  }
  NTSTATUS status = CompleteInterruptedSnapshot(device);
  if (!NT_SUCCESS(status)) return EngineDispatchPassThrough(device, irp);
  OpenDirectRewrites(volume);
  if (IsPassThroughWrite(device, irp)) return EngineDispatchPassThrough(device, irp);
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  const LONGLONG offset = stack->Parameters.Write.ByteOffset.QuadPart;
  const ULONG length = stack->Parameters.Write.Length;
  if (offset < 0 || length < vh::kSectorBytes || irp->MdlAddress == nullptr) {
    return EngineDispatchPassThrough(device, irp);
  }
  const ULONGLONG firstSector = static_cast<ULONGLONG>(offset) / vh::kSectorBytes;
  const ULONGLONG lastSector = firstSector + length / vh::kSectorBytes - 1;
  const ULONGLONG mapBlocks = volume->SavedBlocks.SizeOfBitMap;
  ULONGLONG lastBlock = lastSector / vh::kBlockSectors;
  if (firstSector / vh::kBlockSectors >= mapBlocks) return EngineDispatchPassThrough(device, irp);
  if (lastBlock >= mapBlocks) lastBlock = mapBlocks - 1;
  auto* data =
      static_cast<PUCHAR>(MmGetSystemAddressForMdlSafe(irp->MdlAddress, NormalPagePriority));
  if (data == nullptr) return EngineDispatchPassThrough(device, irp);
  ULONG firstBlock = static_cast<ULONG>(firstSector / vh::kBlockSectors);
  ULONG blockCount = static_cast<ULONG>(lastBlock) - firstBlock + 1;
  status = SkipSavedBlocks(device, &firstBlock, &blockCount);
  if (!NT_SUCCESS(status) || blockCount == 0) return EngineDispatchPassThrough(device, irp);
  return ProtectAndForward(device, irp, data, firstSector, lastSector, firstBlock, blockCount);
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
  if (direct && volume->CopyingCount != 0) {
    const ULONGLONG copyingLast =
        static_cast<ULONGLONG>(volume->CopyingFirst) + volume->CopyingCount - 1;
    direct = last < volume->CopyingFirst || first > copyingLast;
  }
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

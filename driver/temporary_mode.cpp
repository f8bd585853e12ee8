// Temporary mode: until the next restart every write of the protected
// volume goes to sectors the file system holds free, and reads of written
// sectors follow a translation table to their new place. Nothing of it is
// stored, so a restart brings back the volume as it was at the switch.
//
// The switch runs at PASSIVE_LEVEL under EngineLock. Translation runs in
// the dispatch path at up to DISPATCH_LEVEL under the volume's spin lock;
// the child completions run at any level up to DISPATCH_LEVEL.
#include "temporary_mode.h"

#include "copy_on_write.h"
#include "driver_entry.h"
#include "engine_io.h"
#include "engine_state.h"
#include "free_clusters.h"
#include "passthrough.h"

namespace {

constexpr ULONG SectorBytes = vh::kSectorBytes;
constexpr ULONG BlockSectors = vh::kBlockSectors;

template <typename T>
T* AllocateZeroed(SIZE_T bytes) {
  auto* memory = static_cast<T*>(ExAllocatePoolWithTag(NonPagedPool, bytes, EnginePoolTag));
  if (memory != nullptr) RtlZeroMemory(memory, bytes);
  return memory;
}

void FreeRunList(FreeRunChunk** list) {
  for (FreeRunChunk* chunk = *list; chunk != nullptr;) {
    FreeRunChunk* next = chunk->Next;
    ExFreePoolWithTag(chunk, EnginePoolTag);
    chunk = next;
  }
  *list = nullptr;
}

// ---- The free-space scan ----------------------------------------------------

NTSTATUS AddClusterRun(PVolumeFilterExtension volume, FreeRunChunk** list, ULONGLONG lcn,
                       ULONGLONG clusters) {
  const ULONGLONG first = lcn * volume->SectorsPerCluster + volume->DataStartSector;
  const ULONGLONG last = first + clusters * volume->SectorsPerCluster - 1;
  // Sector numbers of the tables are 32 bits; nothing beyond is redirected.
  if (first > 0xFFFFFFFFull) return STATUS_SUCCESS;
  NTSTATUS status = AddFreeRun(list, static_cast<ULONG>(first),
                               last > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<ULONG>(last));
  return NT_SUCCESS(status) ? STATUS_SUCCESS : status;
}

// One pass over the file system's volume bitmap into `list`.
NTSTATUS ScanVolumeBitmap(PVolumeFilterExtension volume, FreeRunChunk** list) {
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &volume->DosName,
                             OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr, nullptr);
  IO_STATUS_BLOCK ioStatus;
  HANDLE handle = nullptr;
  NTSTATUS status =
      ZwCreateFile(&handle, GENERIC_READ | SYNCHRONIZE, &attributes, &ioStatus, nullptr,
                   FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN,
                   FILE_SYNCHRONOUS_IO_NONALERT | FILE_NO_INTERMEDIATE_BUFFERING, nullptr, 0);
  if (!NT_SUCCESS(status)) {
    LogFailure("VSS %08x\n", status);
    return status;
  }
  auto* window = static_cast<VolumeBitmapWindow*>(
      ExAllocatePoolWithTag(NonPagedPool, sizeof(VolumeBitmapWindow), EnginePoolTag));
  if (window == nullptr) {
    ZwClose(handle);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  NTSTATUS answer = STATUS_SUCCESS;
  status = ScanFreeClusters(
      handle, window,
      [&](ULONGLONG lcn, ULONGLONG clusters) { return AddClusterRun(volume, list, lcn, clusters); },
      &answer);
  if (BitmapQueryFailed(answer)) LogFailure("VSS %08x\n", answer);
  ExFreePoolWithTag(window, EnginePoolTag);
  ZwClose(handle);
  return status;
}

// Walks a run list in order.
struct RunCursor {
  FreeRunChunk* chunk;
  ULONG index;
  bool Next(ULONG* first, ULONG* last) {
    while (chunk != nullptr && index >= chunk->Count) {
      chunk = chunk->Next;
      index = 0;
    }
    if (chunk == nullptr) return false;
    *first = chunk->Start[index];
    *last = chunk->End[index];
    ++index;
    return true;
  }
};

// A block may receive redirected data only when no snapshot needs its
// content: free at the newest snapshot (marked), or saved since.
bool BlockExpendable(PVolumeFilterExtension volume, ULONG block) {
  if (volume->Header == nullptr || volume->Header->SnapshotCount == 0) return true;
  if (volume->MarkedBlocksBuffer == nullptr || volume->SavedBlocksBuffer == nullptr) return false;
  if (block >= volume->MarkedBlocks.SizeOfBitMap || block >= volume->SavedBlocks.SizeOfBitMap)
    return false;
  return RtlTestBit(&volume->MarkedBlocks, block) || RtlTestBit(&volume->SavedBlocks, block);
}

bool SnapshotsNeedGuard(PVolumeFilterExtension volume) {
  return volume->Header != nullptr && volume->Header->SnapshotCount != 0;
}

// Adds first .. last to the final list; with snapshots, only its whole
// expendable blocks.
NTSTATUS AddUsableRun(PVolumeFilterExtension volume, FreeRunChunk** list, ULONG first, ULONG last,
                      ULONGLONG* sectors) {
  if (!SnapshotsNeedGuard(volume)) {
    *sectors += static_cast<ULONGLONG>(last) - first + 1;
    NTSTATUS status = AddFreeRun(list, first, last);
    return NT_SUCCESS(status) ? STATUS_SUCCESS : status;
  }
  ULONGLONG block = (static_cast<ULONGLONG>(first) + BlockSectors - 1) / BlockSectors;
  const ULONGLONG endBlock = (static_cast<ULONGLONG>(last) + 1) / BlockSectors;  // exclusive
  for (; block < endBlock; ++block) {
    if (!BlockExpendable(volume, static_cast<ULONG>(block))) continue;
    const ULONG from = static_cast<ULONG>(block * BlockSectors);
    *sectors += BlockSectors;
    NTSTATUS status = AddFreeRun(list, from, from + BlockSectors - 1);
    if (!NT_SUCCESS(status)) return status;
  }
  return STATUS_SUCCESS;
}

// ---- The switch -------------------------------------------------------------

// Every write the worker holds in its queue now has been served (with its
// copy-on-write) once this returns: a flush queued behind them comes out
// last. PASSIVE_LEVEL; the flush's completion sets the event.
NTSTATUS DrainVolumeWorker(PDEVICE_OBJECT device) {
  PVolumeFilterExtension volume = VolumeOf(device);
  if (volume->WorkerThread == nullptr || ReadShared(volume->StopFlag)) return STATUS_SUCCESS;
  KEVENT event;
  KeInitializeEvent(&event, NotificationEvent, FALSE);
  IO_STATUS_BLOCK ioStatus;
  ioStatus.Status = STATUS_SUCCESS;
  ioStatus.Information = 0;
  PIRP irp = IoBuildSynchronousFsdRequest(IRP_MJ_FLUSH_BUFFERS, device, nullptr, 0, nullptr, &event,
                                          &ioStatus);
  if (irp == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  // The flush arrives as if dispatched to the filter: its stack location is
  // the current one when the worker passes it down.
  IoSetNextIrpStackLocation(irp);
  IoGetCurrentIrpStackLocation(irp)->DeviceObject = device;
  QueueForWorker(volume, irp);
  // A worker that ends meanwhile hands what is left down on its way out or
  // at the filter's removal; both complete the flush.
  KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
  return STATUS_SUCCESS;
}

}  // namespace

NTSTATUS AddFreeRun(FreeRunChunk** list, ULONG first, ULONG last) {
  FreeRunChunk* tail = *list;
  while (tail != nullptr && tail->Next != nullptr) tail = tail->Next;
  // The bitmap is scanned in ascending order: a run beyond the last one can
  // only join that one, so the walk over every run (quadratic on a volume
  // with many free runs) is left for runs that arrive out of order.
  if (tail != nullptr && tail->Count != 0 && tail->Count > tail->Cursor &&
      tail->End[tail->Count - 1] >= tail->Start[tail->Count - 1] &&
      tail->End[tail->Count - 1] != 0xFFFFFFFFu && first >= tail->End[tail->Count - 1] + 1) {
    if (first == tail->End[tail->Count - 1] + 1) {
      tail->End[tail->Count - 1] = last;
      return RangeMerged;
    }
  } else {
    tail = nullptr;
    for (FreeRunChunk* chunk = *list; chunk != nullptr; chunk = chunk->Next) {
      for (ULONG i = chunk->Cursor; i < chunk->Count; ++i) {
        if (chunk->End[i] < chunk->Start[i]) continue;  // used up: nothing to join
        if (chunk->End[i] != 0xFFFFFFFFu && first == chunk->End[i] + 1) {
          chunk->End[i] = last;
          return RangeMerged;
        }
        if (chunk->Start[i] != 0 && last == chunk->Start[i] - 1) {
          chunk->Start[i] = first;
          return RangeMerged;
        }
      }
      tail = chunk;
    }
  }
  if (tail == nullptr || tail->Count == FreeRunChunkRuns) {
    auto* chunk = AllocateZeroed<FreeRunChunk>(sizeof(FreeRunChunk));
    if (chunk == nullptr) {
      LogFailure("SPCE %08x\n", STATUS_INSUFFICIENT_RESOURCES);
      return STATUS_INSUFFICIENT_RESOURCES;
    }
    if (tail == nullptr) {
      *list = chunk;
    } else {
      tail->Next = chunk;
    }
    tail = chunk;
  }
  tail->Start[tail->Count] = first;
  tail->End[tail->Count] = last;
  ++tail->Count;
  return RangeAppended;
}

namespace {

// The runs free in both lists, restricted to what redirection may use.
NTSTATUS IntersectRuns(PVolumeFilterExtension volume, FreeRunChunk* first, FreeRunChunk* second,
                       FreeRunChunk** usable, ULONGLONG* sectors) {
  RunCursor a{first, 0};
  RunCursor b{second, 0};
  ULONG af = 0, al = 0, bf = 0, bl = 0;
  bool haveA = a.Next(&af, &al);
  bool haveB = b.Next(&bf, &bl);
  NTSTATUS status = STATUS_SUCCESS;
  while (haveA && haveB && NT_SUCCESS(status)) {
    const ULONG lo = af > bf ? af : bf;
    const ULONG hi = al < bl ? al : bl;
    if (lo <= hi) status = AddUsableRun(volume, usable, lo, hi, sectors);
    if (al < bl) {
      haveA = a.Next(&af, &al);
    } else {
      haveB = b.Next(&bf, &bl);
    }
  }
  return status;
}

// Installs the free runs (a missing list: none) and gives back the old.
void InstallFreeRuns(PVolumeFilterExtension volume, FreeRunChunk* list, ULONGLONG sectors) {
  const ULONG total = sectors > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<ULONG>(sectors);
  KIRQL irql;
  KeAcquireSpinLock(&volume->WriteQueueLock, &irql);
  FreeRunChunk* old = volume->FreeRunList;
  volume->FreeRunList = list;
  WriteShared(volume->FreeSectors, static_cast<ULONG>(total));
  WriteShared(volume->TotalSectors, static_cast<ULONG>(total));
  KeReleaseSpinLock(&volume->WriteQueueLock, irql);
  FreeRunList(&old);
}

// A second look at the volume bitmap: only clusters free at both looks stay
// (a cluster allocated meanwhile may carry data written in place).
NTSTATUS ExcludeAllocatedSince(PVolumeFilterExtension volume, FreeRunChunk** first) {
  FreeRunChunk* second = nullptr;
  FreeRunChunk* usable = nullptr;
  ULONGLONG sectors = 0;
  NTSTATUS status = ScanVolumeBitmap(volume, &second);
  if (NT_SUCCESS(status)) status = IntersectRuns(volume, *first, second, &usable, &sectors);
  FreeRunList(&second);
  FreeRunList(first);
  if (!NT_SUCCESS(status)) {
    FreeRunList(&usable);
    return status;
  }
  InstallFreeRuns(volume, usable, sectors);
  return STATUS_SUCCESS;
}

}  // namespace

NTSTATUS BuildFreeSpaceList(PDEVICE_OBJECT device) {
  PVolumeFilterExtension volume = VolumeOf(device);
  if (volume == nullptr || volume->SectorsPerCluster == 0) return STATUS_INVALID_PARAMETER;
  FreeRunChunk* first = nullptr;
  NTSTATUS status = ScanVolumeBitmap(volume, &first);
  if (NT_SUCCESS(status)) return ExcludeAllocatedSince(volume, &first);
  FreeRunList(&first);
  return status;
}

NTSTATUS StartTemporaryMode(PDEVICE_OBJECT device) {
  PVolumeFilterExtension volume = VolumeOf(device);
  if (volume == nullptr || device != EnginePrimaryVolume) return STATUS_NO_SUCH_DEVICE;
  if (ReadShared(volume->EngineMode) == EngineModeTemporary) return STATUS_SUCCESS;
  // Writes already queued for copy-on-write are served while the engine
  // still tracks; the free clusters are read after them.
  FreeRunChunk* first = nullptr;
  NTSTATUS status = DrainVolumeWorker(device);
  if (NT_SUCCESS(status)) status = ScanVolumeBitmap(volume, &first);
  if (NT_SUCCESS(status)) status = PinSystemFiles(device);
  if (!NT_SUCCESS(status)) {
    LogFailure("VOL %08x\n", status);
    FreeRunList(&first);
    return status;
  }
  // Writes queued during the scan are served with copy-on-write as well.
  DrainVolumeWorker(device);
  // The switch. Redirected requests are held until the free runs are
  // final, and a write queued in the moment before is held with them
  // rather than written in place unprotected.
  KIRQL irql;
  KeAcquireSpinLock(&volume->WriteQueueLock, &irql);
  InitializeListHead(&volume->TemporaryHeld);
  volume->TemporaryHolding = 1;
  WriteShared(volume->EngineMode, static_cast<ULONG>(EngineModeTemporary));
  while (!IsListEmpty(&volume->WriteQueue)) {
    PLIST_ENTRY entry = RemoveHeadList(&volume->WriteQueue);
    IoMarkIrpPending(IrpOfQueueEntry(entry));
    InsertTailList(&volume->TemporaryHeld, entry);
  }
  KeReleaseSpinLock(&volume->WriteQueueLock, irql);
  // Rewrites sent down directly before the switch land before the second
  // look at the bitmap, as the worker's writes do.
  CloseDirectRewrites(volume);
  // Whatever the worker still had in hand is on the volume after this, so
  // the second look at the bitmap sees every cluster written in place.
  DrainVolumeWorker(device);
  status = ExcludeAllocatedSince(volume, &first);
  if (!NT_SUCCESS(status)) {
    // The mode is on already; without free runs writes fail rather than
    // land in place.
    LogFailure("VSS %08x\n", status);
  }
  LIST_ENTRY held;
  InitializeListHead(&held);
  KeAcquireSpinLock(&volume->WriteQueueLock, &irql);
  volume->TemporaryHolding = 0;
  while (!IsListEmpty(&volume->TemporaryHeld))
    InsertTailList(&held, RemoveHeadList(&volume->TemporaryHeld));
  KeReleaseSpinLock(&volume->WriteQueueLock, irql);
  while (!IsListEmpty(&held)) {
    PIRP irp = IrpOfQueueEntry(RemoveHeadList(&held));
    if (IoGetCurrentIrpStackLocation(irp)->MajorFunction == IRP_MJ_WRITE &&
        IsPassThroughWrite(device, irp)) {
      EngineDispatchPassThrough(device, irp);
    } else {
      SplitRedirectedIo(device, irp);
    }
  }
  return STATUS_SUCCESS;
}

void FreeTemporaryTables(PVolumeFilterExtension volume) {
  FreeRunList(&volume->FreeRunList);
  for (TranslationChunk* chunk = volume->TranslationList; chunk != nullptr;) {
    TranslationChunk* next = chunk->Next;
    ExFreePoolWithTag(chunk, EnginePoolTag);
    chunk = next;
  }
  volume->TranslationList = nullptr;
}

// ---- The translation table (callers hold the spin lock) ---------------------

namespace {

void RefreshBounds(TranslationChunk* chunk) {
  if (chunk->Count == 0) {
    chunk->FirstHome = 0;
    chunk->LastHome = 0;
    return;
  }
  const TranslationEntry& last = chunk->Entries[chunk->Count - 1];
  chunk->FirstHome = chunk->Entries[0].HomeSector;
  chunk->LastHome = last.HomeSector + last.SectorCount - 1;
}

inline ULONG LastOf(const TranslationEntry& e) { return e.HomeSector + e.SectorCount - 1; }

// The lowest entry of a chunk whose last sector is >= f, or Count.
ULONG LowerBound(const TranslationChunk* chunk, ULONG f) {
  ULONG lo = 0;
  ULONG hi = chunk->Count;
  while (lo < hi) {
    const ULONG mid = lo + (hi - lo) / 2;
    if (LastOf(chunk->Entries[mid]) < f) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

// Inserts {home, new, count} into the head chunk (room checked by caller).
void InsertSorted(TranslationChunk* chunk, ULONG home, ULONG newSector, ULONG count) {
  ULONG at = chunk->Count;
  while (at > 0 && chunk->Entries[at - 1].HomeSector > home) --at;
  RtlMoveMemory(&chunk->Entries[at + 1], &chunk->Entries[at],
                (chunk->Count - at) * sizeof(TranslationEntry));
  chunk->Entries[at] = TranslationEntry{home, newSector, count};
  chunk->LastInsert = at + 1;
  ++chunk->Count;
}

// The entry covering f, or the nearest one above it: the chunk and index.
bool FindCandidate(PVolumeFilterExtension volume, ULONG f, TranslationChunk** found, ULONG* index) {
  *found = nullptr;
  for (TranslationChunk* chunk = volume->TranslationList; chunk != nullptr; chunk = chunk->Next) {
    if (chunk->Count == 0 || chunk->LastHome < f) continue;
    const ULONG i = LowerBound(chunk, f);
    if (i == chunk->Count) continue;
    if (*found == nullptr || chunk->Entries[i].HomeSector < (*found)->Entries[*index].HomeSector) {
      *found = chunk;
      *index = i;
    }
  }
  return *found != nullptr;
}

// Takes up to `wanted` sectors from the free runs: the first sector taken
// and how many (0 when none are left).
ULONG TakeFreeSectors(PVolumeFilterExtension volume, ULONG wanted, ULONG* taken) {
  *taken = 0;
  while (volume->FreeRunList != nullptr) {
    FreeRunChunk* head = volume->FreeRunList;
    if (head->Cursor >= head->Count) {
      volume->FreeRunList = head->Next;
      // Spin lock held: pool frees are allowed at DISPATCH_LEVEL.
      ExFreePoolWithTag(head, EnginePoolTag);
      continue;
    }
    ULONG& start = head->Start[head->Cursor];
    ULONG& end = head->End[head->Cursor];
    if (end < start) {
      ++head->Cursor;
      continue;
    }
    const ULONGLONG left = static_cast<ULONGLONG>(end) - start + 1;
    const ULONG u = left < wanted ? static_cast<ULONG>(left) : wanted;
    const ULONG from = start;
    if (static_cast<ULONGLONG>(start) + u > 0xFFFFFFFFull) {
      end = 0;  // the run ended at the last sector number
      start = 1;
    } else {
      start += u;
    }
    WriteShared(volume->FreeSectors,
                static_cast<ULONG>(volume->FreeSectors >= u ? volume->FreeSectors - u : 0));
    *taken = u;
    return from;
  }
  return 0;
}

}  // namespace

LONG RecordTranslation(ULONG home, ULONG newSector, ULONG count, PVolumeFilterExtension volume) {
  TranslationChunk* head = volume->TranslationList;
  if (head != nullptr && head->LastInsert != 0) {
    TranslationEntry& last = head->Entries[head->LastInsert - 1];
    // Extending is exact only when nothing lies between it and the next
    // entry (the table never holds overlapping home ranges).
    const bool nextClear = head->LastInsert == head->Count ||
                           head->Entries[head->LastInsert].HomeSector > home + count - 1;
    if (home == last.HomeSector + last.SectorCount &&
        newSector == last.NewSector + last.SectorCount && nextClear) {
      last.SectorCount += count;
      RefreshBounds(head);
      return TranslationDone;
    }
  }
  LONG started = TranslationDone;
  if (head == nullptr || head->Count == TranslationChunkEntries) {
    auto* chunk = AllocateZeroed<TranslationChunk>(sizeof(TranslationChunk));
    if (chunk == nullptr) {
      LogFailure("SPCE %08x\n", STATUS_INSUFFICIENT_RESOURCES);
      return TranslationFailed;
    }
    chunk->Next = head;
    volume->TranslationList = chunk;
    head = chunk;
    started = TranslationChunkStarted;
  }
  InsertSorted(head, home, newSector, count);
  RefreshBounds(head);
  return started;
}

LONG RemoveTranslation(ULONG home, ULONG newSector, ULONG count, PVolumeFilterExtension volume) {
  const ULONG last = home + count - 1;
  for (TranslationChunk* chunk = volume->TranslationList; chunk != nullptr; chunk = chunk->Next) {
    if (chunk->Count == 0 || chunk->LastHome < home || chunk->FirstHome > last) continue;
    ULONG i = LowerBound(chunk, home);
    if (i == chunk->Count) continue;
    TranslationEntry e = chunk->Entries[i];
    if (e.HomeSector > home || LastOf(e) < last || e.NewSector + (home - e.HomeSector) != newSector)
      continue;
    // Trim the entry to what lies before and after the removed stretch.
    const ULONG before = home - e.HomeSector;
    const ULONG after = LastOf(e) - last;
    if (before == 0 && after == 0) {
      RtlMoveMemory(&chunk->Entries[i], &chunk->Entries[i + 1],
                    (chunk->Count - i - 1) * sizeof(TranslationEntry));
      --chunk->Count;
    } else if (before == 0) {
      chunk->Entries[i] =
          TranslationEntry{last + 1, e.NewSector + (last + 1 - e.HomeSector), after};
    } else {
      chunk->Entries[i].SectorCount = before;
      if (after != 0) {
        const ULONG tailHome = last + 1;
        const ULONG tailNew = e.NewSector + (tailHome - e.HomeSector);
        if (chunk->Count < TranslationChunkEntries) {
          InsertSorted(chunk, tailHome, tailNew, after);
        } else {
          // Full chunk: the tail goes to the head chunk (or a new one).
          chunk->LastInsert = 0;
          if (RecordTranslation(tailHome, tailNew, after, volume) == TranslationFailed) {
            chunk->Entries[i].SectorCount =
                e.SectorCount;  // keep it whole rather than lose the tail
            return TranslationFailed;
          }
        }
      }
    }
    chunk->LastInsert = 0;  // no extension across an edited entry
    RefreshBounds(chunk);
    return TranslationDone;
  }
  return TranslationDone;
}

NTSTATUS TranslateRange(BOOLEAN isRead, ULONG f, ULONG e, Fragment* fragments, ULONG capacity,
                        PVolumeFilterExtension volume, ULONG* count, ULONG* next, PULONG fresh) {
  *count = 0;
  NTSTATUS status = STATUS_SUCCESS;
  KIRQL irql;
  KeAcquireSpinLock(&volume->WriteQueueLock, &irql);
  while (f <= e && *count < capacity) {
    TranslationChunk* chunk;
    ULONG index = 0;
    bool found = FindCandidate(volume, f, &chunk, &index);
    if (found && chunk->Entries[index].HomeSector <= f) {
      const TranslationEntry& t = chunk->Entries[index];
      const ULONG end = LastOf(t) < e ? LastOf(t) : e;
      fragments[*count] = Fragment{{nullptr}, t.NewSector + (f - t.HomeSector), end - f + 1};
      ++*count;
      if (end == 0xFFFFFFFFu) {
        f = end;
        break;
      }
      f = end + 1;
      continue;
    }
    const ULONG stretchEnd = found && chunk->Entries[index].HomeSector - 1 < e
                                 ? chunk->Entries[index].HomeSector - 1
                                 : e;
    if (isRead) {
      fragments[*count] = Fragment{{nullptr}, f, stretchEnd - f + 1};
      ++*count;
      f = stretchEnd + 1;
      continue;
    }
    // A write: the stretch gets sectors from the free runs, piece by piece.
    while (f <= stretchEnd && *count < capacity) {
      ULONG taken = 0;
      const ULONG at = TakeFreeSectors(volume, stretchEnd - f + 1, &taken);
      if (taken == 0) {
        status = STATUS_INSUFFICIENT_RESOURCES;
        break;
      }
      if (RecordTranslation(f, at, taken, volume) == TranslationFailed) {
        status = STATUS_INSUFFICIENT_RESOURCES;
        break;
      }
      fragments[*count] = Fragment{{nullptr}, at, taken};
      if (fresh != nullptr) fresh[*count / 32] |= 1u << (*count % 32);
      ++*count;
      f += taken;
    }
    if (!NT_SUCCESS(status)) break;
  }
  KeReleaseSpinLock(&volume->WriteQueueLock, irql);
  *next = f;
  if (*count < capacity) fragments[*count].SectorCount = 0;
  return status;
}

// ---- Splitting a request into its redirected pieces -------------------------

namespace {

// Shared by the children of one request. The count holds one extra
// reference for the splitting thread until every child is sent.
struct SplitContext {
  PIRP Parent;
  PVolumeFilterExtension Volume;
  ULONG Length;
  volatile LONG Outstanding;
  volatile LONG Status;  // the first failure, else 0
};

void RecordFailure(SplitContext* context, NTSTATUS status) {
  if (!NT_SUCCESS(status)) InterlockedCompareExchange(&context->Status, status, STATUS_SUCCESS);
}

void ReleaseSplit(SplitContext* context) {
  if (InterlockedDecrement(&context->Outstanding) != 0) return;
  PIRP parent = context->Parent;
  const NTSTATUS status = context->Status;
  parent->IoStatus.Status = status;
  parent->IoStatus.Information = NT_SUCCESS(status) ? context->Length : 0;
  ExFreePoolWithTag(context, EnginePoolTag);
  IoCompleteRequest(parent, IO_DISK_INCREMENT);
}

// Under the spin lock: the translations made for pieces that will never
// be written go again, so their home sectors read as before.
void ForgetFresh(SplitContext* context, ULONG home, ULONG newSector, ULONG count) {
  KIRQL irql;
  KeAcquireSpinLock(&context->Volume->WriteQueueLock, &irql);
  if (RemoveTranslation(home, newSector, count, context->Volume) == TranslationFailed) {
    LogFailure("SPCE %08x\n", STATUS_INSUFFICIENT_RESOURCES);
  }
  KeReleaseSpinLock(&context->Volume->WriteQueueLock, irql);
}

// Per round of a split: the home sector of each fragment and which of them
// took new sectors for this request.
struct RoundState {
  ULONG Homes[FragmentCapacity];
  ULONG Fresh[(FragmentCapacity + 31) / 32];
};

constexpr ULONG_PTR FreshFlag = static_cast<ULONG_PTR>(1) << 31;

NTSTATUS SplitIrpCompletion(PDEVICE_OBJECT, PIRP child, PVOID) {
  // The child's first stack location is ours: context, home, new sector,
  // sector count with the fresh flag.
  PIO_STACK_LOCATION own = IoGetCurrentIrpStackLocation(child);
  auto* context = static_cast<SplitContext*>(own->Parameters.Others.Argument1);
  const ULONG home =
      static_cast<ULONG>(reinterpret_cast<ULONG_PTR>(own->Parameters.Others.Argument2));
  const ULONG newSector =
      static_cast<ULONG>(reinterpret_cast<ULONG_PTR>(own->Parameters.Others.Argument3));
  const ULONG_PTR packed = reinterpret_cast<ULONG_PTR>(own->Parameters.Others.Argument4);
  const NTSTATUS status = child->IoStatus.Status;
  if (!NT_SUCCESS(status)) {
    LogFailure("SPCE %08x\n", status);
    if (packed & FreshFlag)
      ForgetFresh(context, home, newSector, static_cast<ULONG>(packed & ~FreshFlag));
  } else if (child->IoStatus.Information !=
             static_cast<ULONG_PTR>(packed & ~FreshFlag) * SectorBytes) {
    // A short transfer is a failure whatever the status says.
    if (packed & FreshFlag)
      ForgetFresh(context, home, newSector, static_cast<ULONG>(packed & ~FreshFlag));
    RecordFailure(context, STATUS_UNSUCCESSFUL);
  }
  RecordFailure(context, status);
  if (child->MdlAddress != nullptr) IoFreeMdl(child->MdlAddress);
  child->MdlAddress = nullptr;
  IoFreeIrp(child);
  ReleaseSplit(context);
  return STATUS_MORE_PROCESSING_REQUIRED;
}

// Frees what the children of a round not sent took, forgetting their fresh
// translations.
void DropUnsent(SplitContext* context, Fragment* fragments, ULONG from, ULONG count,
                const PULONG fresh, const ULONG* homes) {
  for (ULONG i = from; i < count; ++i) {
    if (fragments[i].Child != nullptr) {
      if (fragments[i].Child->MdlAddress != nullptr) IoFreeMdl(fragments[i].Child->MdlAddress);
      fragments[i].Child->MdlAddress = nullptr;
      IoFreeIrp(fragments[i].Child);
      fragments[i].Child = nullptr;
    }
    if (fresh[i / 32] & (1u << (i % 32)))
      ForgetFresh(context, homes[i], fragments[i].Sector, fragments[i].SectorCount);
  }
}

}  // namespace

NTSTATUS SplitRedirectedIo(PDEVICE_OBJECT device, PIRP irp) {
  PVolumeFilterExtension volume = VolumeOf(device);
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  const bool isRead = stack->MajorFunction == IRP_MJ_READ;
  const LONGLONG offset = stack->Parameters.Read.ByteOffset.QuadPart;
  const ULONG length = stack->Parameters.Read.Length;
  if (length == 0) return EngineDispatchPassThrough(device, irp);
  // Whole sectors inside the 32-bit sector numbers of the tables only.
  if (offset < 0 || offset % SectorBytes != 0 || length % SectorBytes != 0 ||
      irp->MdlAddress == nullptr ||
      static_cast<ULONGLONG>(offset) / SectorBytes + length / SectorBytes > 0xFFFFFFFFull) {
    LogFailure("SPCE %08x\n", STATUS_INVALID_PARAMETER);
    CompleteRequest(irp, STATUS_INVALID_PARAMETER);
    return STATUS_INVALID_PARAMETER;
  }
  {
    // Held while the switch finishes its free runs; it sends them on.
    KIRQL irql;
    KeAcquireSpinLock(&volume->WriteQueueLock, &irql);
    if (volume->TemporaryHolding) {
      IoMarkIrpPending(irp);
      InsertTailList(&volume->TemporaryHeld, &irp->Tail.Overlay.ListEntry);
      KeReleaseSpinLock(&volume->WriteQueueLock, irql);
      return STATUS_PENDING;
    }
    KeReleaseSpinLock(&volume->WriteQueueLock, irql);
  }
  auto* fragments = static_cast<Fragment*>(ExAllocateFromNPagedLookasideList(&EngineLookaside));
  auto* context = static_cast<SplitContext*>(
      ExAllocatePoolWithTag(NonPagedPool, sizeof(SplitContext), EnginePoolTag));
  // Fresh bits and the home sector of every fragment of one round.
  auto* round = static_cast<RoundState*>(
      ExAllocatePoolWithTag(NonPagedPool, sizeof(RoundState), EnginePoolTag));
  if (fragments == nullptr || context == nullptr || round == nullptr) {
    LogFailure("SPCE %08x\n", STATUS_INSUFFICIENT_RESOURCES);
    if (fragments != nullptr) ExFreeToNPagedLookasideList(&EngineLookaside, fragments);
    if (context != nullptr) ExFreePoolWithTag(context, EnginePoolTag);
    if (round != nullptr) ExFreePoolWithTag(round, EnginePoolTag);
    CompleteRequest(irp, STATUS_INSUFFICIENT_RESOURCES);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  PULONG homes = round->Homes;
  PULONG fresh = round->Fresh;
  context->Parent = irp;
  context->Volume = volume;
  context->Length = length;
  context->Outstanding = 1;
  context->Status = STATUS_SUCCESS;
  IoMarkIrpPending(irp);

  PUCHAR base = static_cast<PUCHAR>(MmGetMdlVirtualAddress(irp->MdlAddress));
  PDEVICE_OBJECT lower = volume->LowerDevice;
  ULONG f = static_cast<ULONG>(static_cast<ULONGLONG>(offset) / SectorBytes);
  const ULONG e = f + length / SectorBytes - 1;
  const ULONG firstSector = f;
  // Rounds of at most one fragment buffer each: a request with more pieces
  // than the buffer holds goes out as further rounds, never past its end.
  while (f <= e) {
    RtlZeroMemory(fragments, EngineLookasideEntryBytes);
    RtlZeroMemory(fresh, sizeof round->Fresh);
    ULONG count = 0;
    ULONG next = f;
    NTSTATUS status =
        TranslateRange(isRead, f, e, fragments, FragmentCapacity, volume, &count, &next, fresh);
    // Home sectors of the fragments, in order.
    ULONG home = f;
    for (ULONG i = 0; i < count; ++i) {
      homes[i] = home;
      home += fragments[i].SectorCount;
    }
    ULONG built = 0;
    NTSTATUS failure = status;
    for (; built < count && NT_SUCCESS(failure); ++built) {
      Fragment& piece = fragments[built];
      const ULONG bytes = piece.SectorCount * SectorBytes;
      PUCHAR at = base + static_cast<SIZE_T>(homes[built] - firstSector) * SectorBytes;
      if (irp->Cancel) {
        failure = STATUS_CANCELLED;
        break;
      }
      PIRP child = IoAllocateIrp(static_cast<CCHAR>(lower->StackSize + 1), FALSE);
      PMDL mdl = child ? IoAllocateMdl(at, bytes, FALSE, FALSE, nullptr) : nullptr;
      if (child == nullptr || mdl == nullptr) {
        if (child != nullptr) IoFreeIrp(child);
        failure = STATUS_INSUFFICIENT_RESOURCES;
        break;
      }
      IoBuildPartialMdl(irp->MdlAddress, mdl, at, bytes);
      child->MdlAddress = mdl;
      piece.Child = child;
      IoSetNextIrpStackLocation(child);
      PIO_STACK_LOCATION own = IoGetCurrentIrpStackLocation(child);
      own->DeviceObject = device;
      own->Parameters.Others.Argument1 = context;
      own->Parameters.Others.Argument2 =
          reinterpret_cast<PVOID>(static_cast<ULONG_PTR>(homes[built]));
      own->Parameters.Others.Argument3 =
          reinterpret_cast<PVOID>(static_cast<ULONG_PTR>(piece.Sector));
      ULONG_PTR packed = piece.SectorCount;
      if (fresh[built / 32] & (1u << (built % 32))) packed |= FreshFlag;
      own->Parameters.Others.Argument4 = reinterpret_cast<PVOID>(packed);
      PIO_STACK_LOCATION below = IoGetNextIrpStackLocation(child);
      below->MajorFunction = stack->MajorFunction;
      below->Flags = stack->Flags;
      below->Parameters.Read.Length = bytes;
      below->Parameters.Read.ByteOffset.QuadPart =
          static_cast<LONGLONG>(piece.Sector) * SectorBytes;
      IoSetCompletionRoutine(child, SplitIrpCompletion, context, TRUE, TRUE, TRUE);
    }
    if (!NT_SUCCESS(failure)) {
      if (failure == STATUS_CANCELLED || failure == STATUS_INSUFFICIENT_RESOURCES) {
        LogFailure("SPCE %08x\n", failure);
      }
      RecordFailure(context, failure);
      // Nothing of this round is sent: its children are freed and its
      // fresh translations forgotten (earlier rounds are already out).
      DropUnsent(context, fragments, 0, count, fresh, homes);
      break;
    }
    for (ULONG i = 0; i < count; ++i) {
      PIRP child = fragments[i].Child;
      fragments[i].Child = nullptr;
      InterlockedIncrement(&context->Outstanding);
      IoCallDriver(lower, child);
    }
    f = next;
    if (count == 0) break;
  }
  ExFreeToNPagedLookasideList(&EngineLookaside, fragments);
  ExFreePoolWithTag(round, EnginePoolTag);
  ReleaseSplit(context);
  return STATUS_PENDING;
}

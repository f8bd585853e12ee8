// Files whose writes pass through untouched (the boot configuration, the
// hibernation file, the pinned paths, excluded files): their clusters as a
// per-volume list of sector ranges. Also the header file read and written
// whole when no header is loaded, the protection of a space file against
// relocation, and the flush of a volume. All at PASSIVE_LEVEL.
#include "engine.h"
#include "engine_io.h"
#include "passthrough.h"
#include "run_table.h"

namespace {

constexpr ULONG SectorBytes = vh::kSectorBytes;
constexpr ULONG RetrievalExtents = 256;
constexpr LONGLONG Unallocated = -1;

// FSCTL_GET_RETRIEVAL_POINTERS answer: 4,112 bytes, 256 extents.
struct RetrievalPointers {
  ULONG ExtentCount;
  ULONG Pad;
  LONGLONG StartingVcn;
  struct {
    LONGLONG NextVcn;
    LONGLONG Lcn;
  } Extents[RetrievalExtents];
};
static_assert(sizeof(RetrievalPointers) == 4112, "a 16-byte head and 256 extents");

// MARK_HANDLE_INFO in the caller's word size.
struct MarkHandleRecord {
  ULONG UsnSourceInfo;
  HANDLE VolumeHandle;
  ULONG HandleInfo;
};
static_assert(sizeof(void*) != 8 || sizeof(MarkHandleRecord) == 24, "24 bytes on x64");
constexpr ULONG MarkUsnSource = 4;
constexpr ULONG MarkProtectClusters = 1;

// The sectors of `clusters` clusters from `lcn` on, or false when they do
// not fit the list's 32-bit sector numbers.
bool ClusterSectors(PVolumeFilterExtension volume, LONGLONG lcn, ULONGLONG clusters, ULONG* first,
                    ULONG* last) {
  const ULONGLONG perCluster = volume->SectorsPerCluster;
  if (lcn < 0 || clusters == 0 || perCluster == 0) return false;
  const ULONGLONG limit = 0xFFFFFFFFull;
  if (static_cast<ULONGLONG>(lcn) > (limit - volume->DataStartSector) / perCluster) return false;
  const ULONGLONG start = perCluster * static_cast<ULONGLONG>(lcn) + volume->DataStartSector;
  if (clusters > (limit - start) / perCluster + 1) return false;
  const ULONGLONG end = start + clusters * perCluster - 1;
  if (end > limit) return false;
  *first = static_cast<ULONG>(start);
  *last = static_cast<ULONG>(end);
  return true;
}

bool BeginsWithDosName(PVolumeFilterExtension volume, PCUNICODE_STRING path) {
  // A volume without a letter has an empty DOS name, which every path
  // would begin with.
  if (volume->DosName.Length == 0 || path == nullptr || path->Length < volume->DosName.Length)
    return false;
  return RtlCompareMemory(path->Buffer, volume->DosName.Buffer, volume->DosName.Length) ==
         volume->DosName.Length;
}

NTSTATUS OpenForExtents(PCUNICODE_STRING path, bool paging, PHANDLE handle) {
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, const_cast<PUNICODE_STRING>(path),
                             OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr, nullptr);
  IO_STATUS_BLOCK ioStatus;
  if (paging) {
    // The system holds these open exclusively; only a paging-file open
    // reaches them.
    return IoCreateFile(handle, SYNCHRONIZE | WRITE_DAC | FILE_READ_DATA | FILE_WRITE_DATA,
                        &attributes, &ioStatus, nullptr, FILE_ATTRIBUTE_NORMAL, 0, FILE_OPEN,
                        FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0, CreateFileTypeNone, nullptr,
                        IO_OPEN_PAGING_FILE | IO_NO_PARAMETER_CHECKING);
  }
  return ZwCreateFile(
      handle, FILE_READ_ATTRIBUTES, &attributes, &ioStatus, nullptr, FILE_ATTRIBUTE_NORMAL,
      FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN,
      FILE_RANDOM_ACCESS | FILE_SYNCHRONOUS_IO_ALERT | FILE_NO_INTERMEDIATE_BUFFERING, nullptr, 0);
}

// Calls `take(lcn, clusters)` for every allocated extent of the open file,
// in file order; unallocated runs call `hole()`. Ends at the end of the
// file (success) or the first other failure, which is returned.
template <class Take, class Hole>
NTSTATUS WalkExtents(HANDLE file, Take take, Hole hole) {
  auto* answer = static_cast<RetrievalPointers*>(
      ExAllocatePoolWithTag(NonPagedPool, sizeof(RetrievalPointers), EnginePoolTag));
  if (answer == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  LONGLONG vcn = 0;
  NTSTATUS status;
  for (;;) {
    IO_STATUS_BLOCK ioStatus;
    ioStatus.Information = 0;
    status =
        ZwFsControlFile(file, nullptr, nullptr, nullptr, &ioStatus, FSCTL_GET_RETRIEVAL_POINTERS,
                        &vcn, sizeof vcn, answer, sizeof *answer);
    if (!NT_SUCCESS(status) && status != STATUS_BUFFER_OVERFLOW) break;
    // The count comes from the file system: only the extents it really
    // returned are read.
    ULONG count = answer->ExtentCount;
    const ULONG_PTR returned = ioStatus.Information > 16 ? (ioStatus.Information - 16) / 16 : 0;
    if (count > returned) count = static_cast<ULONG>(returned);
    if (count > RetrievalExtents) count = RetrievalExtents;
    LONGLONG previous = answer->StartingVcn;
    NTSTATUS taken = STATUS_SUCCESS;
    for (ULONG i = 0; i < count && NT_SUCCESS(taken); ++i) {
      const LONGLONG next = answer->Extents[i].NextVcn;
      if (next <= previous) break;  // not a run of this file
      if (answer->Extents[i].Lcn == Unallocated) {
        hole();
      } else {
        taken = take(answer->Extents[i].Lcn, static_cast<ULONGLONG>(next - previous));
      }
      previous = next;
    }
    if (!NT_SUCCESS(taken)) {
      status = taken;
      break;
    }
    // No progress would ask the same question for ever.
    if (count == 0 || previous <= vcn) {
      status = STATUS_SUCCESS;
      break;
    }
    vcn = previous;
  }
  if (status == STATUS_END_OF_FILE) status = STATUS_SUCCESS;
  ExFreePoolWithTag(answer, EnginePoolTag);
  return status;
}

NTSTATUS CollectExtents(PVolumeFilterExtension volume, PassThroughChunk** list,
                        PCUNICODE_STRING path, bool paging) {
  if (volume == nullptr || list == nullptr || !BeginsWithDosName(volume, path))
    return STATUS_UNSUCCESSFUL;
  HANDLE file = nullptr;
  NTSTATUS status = OpenForExtents(path, paging, &file);
  if (!NT_SUCCESS(status)) {
    LogFailure("SPAC %08x\n", status);
    return paging ? STATUS_UNSUCCESSFUL : status;
  }
  status = WalkExtents(
      file,
      [&](LONGLONG lcn, ULONGLONG clusters) -> NTSTATUS {
        ULONG first, last;
        if (!ClusterSectors(volume, lcn, clusters, &first, &last)) {
          LogFailure("SPAC %08x\n", STATUS_INVALID_PARAMETER);
          return STATUS_SUCCESS;
        }
        NTSTATUS added = AddPassThroughRange(list, first, last);
        return added == STATUS_INSUFFICIENT_RESOURCES ? added : STATUS_SUCCESS;
      },
      [] { LogFailure("SPAC\n"); });
  if (!NT_SUCCESS(status)) LogFailure("SPAC %08x\n", status);
  ZwClose(file);
  return status;
}

NTSTATUS OpenHeaderFile(PCUNICODE_STRING path, bool write, PHANDLE handle) {
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, const_cast<PUNICODE_STRING>(path),
                             OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr, nullptr);
  IO_STATUS_BLOCK ioStatus;
  ULONG options = FILE_SYNCHRONOUS_IO_NONALERT | FILE_NO_INTERMEDIATE_BUFFERING |
                  (write ? FILE_WRITE_THROUGH : 0);
  return ZwCreateFile(handle, GENERIC_READ | (write ? GENERIC_WRITE : 0) | SYNCHRONIZE, &attributes,
                      &ioStatus, nullptr, FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE,
                      FILE_OPEN, options, nullptr, 0);
}

NTSTATUS TransferWholeFile(PCUNICODE_STRING path, PVOID buffer, bool write) {
  if (path == nullptr || buffer == nullptr) return STATUS_INVALID_PARAMETER;
  HANDLE file = nullptr;
  NTSTATUS status = OpenHeaderFile(path, write, &file);
  if (!NT_SUCCESS(status)) {
    LogFailure("SPAC %08x\n", status);
    return status;
  }
  IO_STATUS_BLOCK ioStatus;
  if (!write) {
    FILE_STANDARD_INFORMATION standard;
    status = ZwQueryInformationFile(file, &ioStatus, &standard, sizeof standard,
                                    FileStandardInformation);
    if (!NT_SUCCESS(status)) LogFailure("SPAC %08x\n", status);
  }
  if (NT_SUCCESS(status)) {
    LARGE_INTEGER offset;
    offset.QuadPart = 0;
    ioStatus.Information = 0;
    status = write ? ZwWriteFile(file, nullptr, nullptr, nullptr, &ioStatus, buffer,
                                 vh::kEngineHeaderBytes, &offset, nullptr)
                   : ZwReadFile(file, nullptr, nullptr, nullptr, &ioStatus, buffer,
                                vh::kEngineHeaderBytes, &offset, nullptr);
    if (!NT_SUCCESS(status)) {
      LogFailure("SPAC %08x\n", status);
    } else if (ioStatus.Information != vh::kEngineHeaderBytes) {
      // Part of a header is no header: a short transfer fails.
      LogFailure("SPAC %08x\n", status);
      status = STATUS_UNSUCCESSFUL;
    }
  }
  ZwClose(file);
  return status;
}

}  // namespace

NTSTATUS AddPassThroughRange(PassThroughChunk** list, ULONG first, ULONG last) {
  PassThroughChunk* tail = nullptr;
  for (PassThroughChunk* chunk = *list; chunk != nullptr; chunk = chunk->Next) {
    for (ULONG i = 0; i < chunk->Count; ++i) {
      // Ranges that touch end to end are merged; overlapping ones are not.
      if (chunk->Last[i] != 0xFFFFFFFFu && first == chunk->Last[i] + 1) {
        chunk->Last[i] = last;
        return RangeMerged;
      }
      if (chunk->First[i] != 0 && last == chunk->First[i] - 1) {
        chunk->First[i] = first;
        return RangeMerged;
      }
    }
    tail = chunk;
  }
  if (tail == nullptr || tail->Count >= PassThroughChunkRanges) {
    auto* chunk = static_cast<PassThroughChunk*>(
        ExAllocatePoolWithTag(NonPagedPool, sizeof(PassThroughChunk), EnginePoolTag));
    if (chunk == nullptr) {
      LogFailure("UTIL %08x\n", STATUS_INSUFFICIENT_RESOURCES);
      return STATUS_INSUFFICIENT_RESOURCES;
    }
    RtlZeroMemory(chunk, sizeof *chunk);
    if (tail == nullptr) {
      *list = chunk;
    } else {
      tail->Next = chunk;
    }
    tail = chunk;
  }
  tail->First[tail->Count] = first;
  tail->Last[tail->Count] = last;
  ++tail->Count;
  return RangeAppended;
}

void FreePassThroughList(PassThroughChunk** list) {
  PassThroughChunk* chunk = *list;
  *list = nullptr;
  while (chunk != nullptr) {
    PassThroughChunk* next = chunk->Next;
    ExFreePoolWithTag(chunk, EnginePoolTag);
    chunk = next;
  }
}

NTSTATUS GetFileExtents(PVolumeFilterExtension volume, PassThroughChunk** list,
                        PCUNICODE_STRING path) {
  return CollectExtents(volume, list, path, false);
}

NTSTATUS GetPagingFileExtents(PVolumeFilterExtension volume, PassThroughChunk** list,
                              PCUNICODE_STRING path) {
  return CollectExtents(volume, list, path, true);
}

NTSTATUS AddExcludedFile(PDEVICE_OBJECT device, PCUNICODE_STRING path) {
  PVolumeFilterExtension volume = VolumeOf(device);
  if (volume == nullptr || path == nullptr || path->Buffer == nullptr ||
      volume->ExcludedRuns != nullptr) {
    LogFailure("UIL %08x\n", STATUS_INVALID_PARAMETER);
    return STATUS_INVALID_PARAMETER;
  }
  // Clusters of a file on another volume would leave this volume's blocks
  // unprotected.
  if (!BeginsWithDosName(volume, path)) {
    LogFailure("UIL %08x\n", STATUS_UNSUCCESSFUL);
    return STATUS_UNSUCCESSFUL;
  }
  RunTableChunk* table = nullptr;
  auto* first = static_cast<RunTableChunk*>(
      ExAllocatePoolWithTag(NonPagedPool, sizeof(RunTableChunk), EnginePoolTag));
  if (first == nullptr) {
    LogFailure("UIL %08x\n", STATUS_INSUFFICIENT_RESOURCES);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  RtlZeroMemory(first, sizeof *first);
  first->ChunkCount = 1;
  table = first;
  HANDLE file = nullptr;
  NTSTATUS status = OpenForExtents(path, false, &file);
  if (!NT_SUCCESS(status)) {
    LogFailure("UIL %08x\n", status);
    FreeRunTable(&table);
    return status;
  }
  status = WalkExtents(
      file,
      [&](LONGLONG lcn, ULONGLONG clusters) -> NTSTATUS {
        // Runs longer than a count holds are split.
        while (clusters != 0) {
          ULONG piece = clusters > 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<ULONG>(clusters);
          NTSTATUS appended = AppendRun(&table, static_cast<ULONGLONG>(lcn), piece);
          if (!NT_SUCCESS(appended)) LogFailure("UIL %08x \n", appended);
          lcn += piece;
          clusters -= piece;
        }
        return STATUS_SUCCESS;
      },
      [] { LogFailure("UIL\n"); });
  ZwClose(file);
  if (!NT_SUCCESS(status)) {
    LogFailure("UIL %08x\n", status);
    FreeRunTable(&table);
    return status;
  }
  volume->ExcludedRuns = table;
  return STATUS_SUCCESS;
}

NTSTATUS AppendPassThroughRuns(PDEVICE_OBJECT device, RunTableChunk* table) {
  PVolumeFilterExtension volume = VolumeOf(device);
  if (volume == nullptr || table == nullptr) return STATUS_INVALID_PARAMETER;
  for (RunTableChunk* chunk = table; chunk != nullptr; chunk = chunk->Next) {
    for (ULONG i = 0; i < chunk->Used && i < RunTableChunkRuns; ++i) {
      const ClusterRun& run = chunk->Runs[i];
      ULONG first, last;
      if (run.FirstCluster > 0x7FFFFFFFFFFFFFFFull ||
          !ClusterSectors(volume, static_cast<LONGLONG>(run.FirstCluster), run.ClusterCount, &first,
                          &last)) {
        LogFailure("UIL %08x\n", STATUS_INVALID_PARAMETER);
        continue;
      }
      // A range that cannot be kept would leave the file's writes tracked.
      if (AddPassThroughRange(&volume->PassThroughList, first, last) ==
          STATUS_INSUFFICIENT_RESOURCES) {
        return STATUS_INSUFFICIENT_RESOURCES;
      }
    }
  }
  return STATUS_SUCCESS;
}

NTSTATUS ReadWholeFile(PCUNICODE_STRING path, PVOID buffer) {
  return TransferWholeFile(path, buffer, false);
}

NTSTATUS WriteWholeFile(PCUNICODE_STRING path, PVOID buffer) {
  return TransferWholeFile(path, buffer, true);
}

NTSTATUS MarkSpaceFileHandle(PDEVICE_OBJECT device, HANDLE file) {
  PVolumeFilterExtension volume = VolumeOf(device);
  if (volume == nullptr) return STATUS_INVALID_PARAMETER;
  HANDLE volumeHandle = nullptr;
  NTSTATUS status = OpenHeaderFile(&volume->DosName, false, &volumeHandle);
  if (!NT_SUCCESS(status)) {
    LogFailure("UIL %08x\n", status);
    return status;
  }
  MarkHandleRecord record;
  RtlZeroMemory(&record, sizeof record);
  record.UsnSourceInfo = MarkUsnSource;
  record.VolumeHandle = volumeHandle;
  record.HandleInfo = MarkProtectClusters;
  IO_STATUS_BLOCK ioStatus;
  status = ZwFsControlFile(file, nullptr, nullptr, nullptr, &ioStatus, FSCTL_MARK_HANDLE, &record,
                           sizeof record, nullptr, 0);
  ZwClose(volumeHandle);
  return status;
}

NTSTATUS FlushVolumeBuffers(PVolumeFilterExtension volume) {
  PFILE_OBJECT file = nullptr;
  PDEVICE_OBJECT target = nullptr;
  NTSTATUS status =
      IoGetDeviceObjectPointer(&volume->DosName, FILE_READ_ATTRIBUTES, &file, &target);
  if (!NT_SUCCESS(status)) {
    LogFailure("UIL %08x\n", status);
    return status;
  }
  // A file system flushes a volume through a volume open; without a file
  // object it has nothing to flush.
  status = SendFlushAndWait(target, file);
  if (!NT_SUCCESS(status)) LogFailure("UIL %08x\n", status);
  ObDereferenceObject(file);
  return status;
}

bool IsPassThroughWrite(PDEVICE_OBJECT device, PIRP irp) {
  PVolumeFilterExtension volume = VolumeOf(device);
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  const ULONGLONG first =
      static_cast<ULONGLONG>(stack->Parameters.Write.ByteOffset.QuadPart) / SectorBytes;
  const ULONG sectors = stack->Parameters.Write.Length / SectorBytes;
  const ULONGLONG last = first + (sectors ? sectors : 1) - 1;
  constexpr ULONG LargeVolumeSectors = 1048576;
  if (volume->Header != nullptr && volume->Header->VolumeSectors > LargeVolumeSectors &&
      first > volume->Header->VolumeSectors) {
    LogFailure("UIL %08x\n", static_cast<ULONG>(first));
    return true;
  }
  // Ranges are compared in whole blocks: a write inside the blocks of a
  // pass-through range is not copied. The list itself keeps the exact
  // sectors: the sectors written through at once must be those of the file.
  for (PassThroughChunk* chunk = volume->PassThroughList; chunk != nullptr; chunk = chunk->Next) {
    for (ULONG i = 0; i < chunk->Count; ++i) {
      const ULONGLONG blockFirst = chunk->First[i] & ~(vh::kBlockSectors - 1);
      const ULONGLONG blockLast = chunk->Last[i] & ~(vh::kBlockSectors - 1);
      if (first >= blockFirst && last < blockLast + vh::kBlockSectors) return true;
    }
  }
  return false;
}

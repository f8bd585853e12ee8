// The file system's bitmap of used clusters, read window by window. Both
// snapshot creation (free blocks need no copy) and temporary mode (free
// sectors take the redirected writes) build their tables from it.
// PASSIVE_LEVEL: the reads are file-system controls on a volume handle.
#pragma once

#include "engine.h"

// FSCTL_GET_VOLUME_BITMAP's answer: a 16-byte head and 4,096 bytes of bits.
constexpr ULONG VolumeBitmapWindowBits = 32768;
#pragma pack(push, 1)
struct VolumeBitmapWindow {
  LONGLONG StartingLcn;
  LONGLONG BitmapSize;  // clusters from StartingLcn to the volume's end
  UCHAR Bits[VolumeBitmapWindowBits / 8];
};
#pragma pack(pop)
static_assert(sizeof(VolumeBitmapWindow) == 4112, "a 16-byte head and 4,096 bytes of bits");

// True when the bitmap query itself failed (more data is no failure).
inline bool BitmapQueryFailed(NTSTATUS answer) {
  return answer != STATUS_BUFFER_OVERFLOW && !NT_SUCCESS(answer);
}

// Hands each run of free clusters of the volume open as `handle` to
// `run(firstLcn, clusters)`, in ascending order, reading through `window`.
// A run still open at a window's end is handed on there; the next window's
// continuation arrives as a run of its own. Answers the first failure of
// `run` or of the query (BitmapQueryFailed on *lastAnswer tells which), else
// STATUS_SUCCESS once the bitmap's end was reached. *lastAnswer is the last
// query's own answer, for the caller's log.
template <typename Run>
NTSTATUS ScanFreeClusters(HANDLE handle, VolumeBitmapWindow* window, Run run,
                          NTSTATUS* lastAnswer) {
  LARGE_INTEGER start;
  start.QuadPart = 0;
  for (;;) {
    RtlZeroMemory(window, sizeof *window);
    IO_STATUS_BLOCK ioStatus;
    *lastAnswer =
        ZwFsControlFile(handle, nullptr, nullptr, nullptr, &ioStatus, FSCTL_GET_VOLUME_BITMAP,
                        &start, sizeof start, window, sizeof *window);
    if (BitmapQueryFailed(*lastAnswer)) return *lastAnswer;
    ULONG bits = 0;
    if (window->BitmapSize > 0) {
      bits = window->BitmapSize < static_cast<LONGLONG>(VolumeBitmapWindowBits)
                 ? static_cast<ULONG>(window->BitmapSize)
                 : VolumeBitmapWindowBits;
    }
    ULONGLONG runFirst = 0;
    ULONGLONG runCount = 0;
    for (ULONG i = 0; i <= bits;) {
      // 64 clusters at a time where they are all free or all used: a large
      // volume is mostly long runs of either.
      if (i % 64 == 0 && bits - i >= 64) {
        ULONGLONG word;
        RtlCopyMemory(&word, &window->Bits[i / 8], sizeof word);
        if (word == 0 || word == ~0ull) {
          if (word == 0) {
            if (runCount == 0) runFirst = static_cast<ULONGLONG>(window->StartingLcn) + i;
            runCount += 64;
          } else if (runCount != 0) {
            NTSTATUS status = run(runFirst, runCount);
            if (!NT_SUCCESS(status)) return status;
            runCount = 0;
          }
          i += 64;
          continue;
        }
      }
      const bool used = i == bits || ((window->Bits[i / 8] >> (i % 8)) & 1);
      if (!used) {
        if (runCount == 0) runFirst = static_cast<ULONGLONG>(window->StartingLcn) + i;
        ++runCount;
      } else if (runCount != 0) {
        NTSTATUS status = run(runFirst, runCount);
        if (!NT_SUCCESS(status)) return status;
        runCount = 0;
      }
      ++i;
    }
    // "More data" after an empty window means the scan can go no further.
    if (*lastAnswer != STATUS_BUFFER_OVERFLOW || bits == 0) return STATUS_SUCCESS;
    start.QuadPart = window->StartingLcn + bits;
  }
}

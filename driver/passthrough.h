// Pass-through extents (sectors whose writes go down untracked), the header
// file and exclusions.
#pragma once

#include "engine.h"

// Adding a range to a range list answers, besides a failure status,
// whether it joined a neighbour or took a new slot.
enum RangeAdded : NTSTATUS { RangeAppended = 0, RangeMerged = 1 };
NTSTATUS AddPassThroughRange(PassThroughChunk** list, ULONG first, ULONG last);
void FreePassThroughList(PassThroughChunk** list);
NTSTATUS GetFileExtents(PVolumeFilterExtension volume, PassThroughChunk** list,
                        PCUNICODE_STRING path);
NTSTATUS GetPagingFileExtents(PVolumeFilterExtension volume, PassThroughChunk** list,
                              PCUNICODE_STRING path);
NTSTATUS AddExcludedFile(PDEVICE_OBJECT volume, PCUNICODE_STRING path);
NTSTATUS AppendPassThroughRuns(PDEVICE_OBJECT volume, RunTableChunk* table);
NTSTATUS ReadWholeFile(PCUNICODE_STRING path, PVOID buffer);
NTSTATUS WriteWholeFile(PCUNICODE_STRING path, PVOID buffer);
NTSTATUS MarkSpaceFileHandle(PDEVICE_OBJECT volume, HANDLE file);
NTSTATUS FlushVolumeBuffers(PVolumeFilterExtension volume);
// True when the write goes down untracked (a pass-through range, or past the
// end of a large volume).
bool IsPassThroughWrite(PDEVICE_OBJECT volume, PIRP irp);

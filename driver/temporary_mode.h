// Temporary mode's tables: the free runs that redirected writes take their
// sectors from, and the translation of redirected home sectors. Both hang
// off the volume filter and are guarded by its WriteQueueLock.
#pragma once

#include "engine.h"
#include "passthrough.h"

constexpr ULONG FreeRunChunkRuns = 1022;
struct FreeRunChunk {
  FreeRunChunk* Next;
  ULONG Count;   // runs in this chunk
  ULONG Cursor;  // the run sectors are taken from next
  ULONG Start[FreeRunChunkRuns];
  ULONG End[FreeRunChunkRuns];  // inclusive; End < Start = used up
};

struct TranslationEntry {
  ULONG HomeSector;
  ULONG NewSector;
  ULONG SectorCount;
};
constexpr ULONG TranslationChunkEntries = 200000;
struct TranslationChunk {
  TranslationChunk* Next;
  ULONG Count;
  ULONG LastInsert;  // one past the entry inserted or extended last
  ULONG FirstHome;
  ULONG LastHome;
  TranslationEntry Entries[TranslationChunkEntries];  // sorted by HomeSector
};

// One piece of a split request (16 bytes; a zero count ends the list).
struct Fragment {
  union {
    PIRP Child;
    ULONGLONG ChildSlot;  // the same 8 bytes in a 32-bit build
  };
  ULONG Sector;
  ULONG SectorCount;
};
static_assert(sizeof(Fragment) == 16, "fragments are 16 bytes");
constexpr ULONG FragmentCapacity =
    EngineLookasideEntryBytes / sizeof(Fragment) - 1;  // room for the end mark

// RangeMerged, RangeAppended, or STATUS_INSUFFICIENT_RESOURCES.
NTSTATUS AddFreeRun(FreeRunChunk** list, ULONG first, ULONG last);
enum TranslationRecorded : LONG {
  TranslationFailed = -1,       // no chunk could be allocated
  TranslationDone = 0,          // recorded (or removed) in place
  TranslationChunkStarted = 1,  // recorded in a newly started chunk
};
LONG RecordTranslation(ULONG home, ULONG newSector, ULONG count, PVolumeFilterExtension volume);
// Removes the translation of home .. home + count - 1 where it still leads
// to newSector onwards (a failed redirected write); TranslationDone or
// TranslationFailed.
LONG RemoveTranslation(ULONG home, ULONG newSector, ULONG count, PVolumeFilterExtension volume);
// Translates sectors first .. last into at most `capacity` fragments under
// the volume's spin lock. *count receives the fragments; *next the first
// sector not covered (last + 1 when all were). A write takes free sectors
// for untranslated stretches; a fragment whose sectors were taken for this
// call has its bit set in *fresh (bit i = fragment i, up to capacity bits).
// Fails with STATUS_INSUFFICIENT_RESOURCES when free runs or table room
// run out (the sectors translated so far stay translated).
NTSTATUS TranslateRange(BOOLEAN isRead, ULONG first, ULONG last, Fragment* fragments,
                        ULONG capacity, PVolumeFilterExtension volume, ULONG* count, ULONG* next,
                        PULONG fresh);

// Requests of a volume in temporary mode, split by the translation table.
NTSTATUS SplitRedirectedIo(PDEVICE_OBJECT device, PIRP irp);
// Temporary mode. StartTemporaryMode is IOCTL_ENGINE_START_TEMPORARY's work
// once the primary volume is found started and flushed; the caller holds
// EngineLock. It drains the volume worker, builds the free-space list
// (BuildFreeSpaceList, clusters allocated meanwhile excluded), pins the
// system files and switches EngineMode to 2. On failure the mode stays.
NTSTATUS StartTemporaryMode(PDEVICE_OBJECT volume);
NTSTATUS BuildFreeSpaceList(PDEVICE_OBJECT volume);
// Gives back the tables when the volume filter goes (system stop).
void FreeTemporaryTables(PVolumeFilterExtension volume);

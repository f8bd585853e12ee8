// The engine's shared state: its device extensions, the records that hang
// off them, the constants and the failure log. Private to the engine: each
// unit declares what it offers in its own header (dispatch.h, engine_io.h,
// ...); hosts see only vh/engine/engine_entry.h.
#pragma once

#include "vh_kernel.h"
#include "vh/records.h"

// One pool tag for all of the engine's memory and remove locks: "qvrl".
constexpr ULONG EnginePoolTag = 0x6C727671;
// Every failure line reads "ERROR:QVR (<line>): <module> ...".
#define EngineLogTag "QVR"
// Logs a failure: the fixed prefix, the tag and the line of the call, then
// the module tag and values that `format` gives ("SNAP %08x\n", status).
#define LogFailure(format, ...) \
  DbgPrint("ERROR:%s (%d): " format, EngineLogTag, __LINE__, ##__VA_ARGS__)
// The same for a helper that logs on its caller's behalf and is given the
// caller's line.
#define LogFailureAt(line, format, ...) \
  DbgPrint("ERROR:%s (%d): " format, EngineLogTag, (line), ##__VA_ARGS__)

// Device kinds, the first field of every extension.
enum EngineDeviceKind : ULONG {
  KindVolumeUnset = 0,
  KindControl = 1,
  KindMount = 3,
  KindPrimaryVolume = 4,
  KindOtherVolume = 6,
  KindRawDisk = 7,
};

// Counted wide strings with room for 260 bytes inside the extension.
constexpr USHORT EngineNameBytes = 260;

struct DriverExtension {
  WCHAR RegistryPath[128];
  vh::EngineParameters EngineParameters;
  KMUTEX EngineLock;  // level 1; the one engine lock
  // Its holder (ReadShared/WriteShared: others only ask whether they hold
  // it) and how often the holder took it.
  PKTHREAD EngineLockOwner;
  ULONG EngineLockDepth;
  // The boot reinitialisation has pinned the system files and switched the
  // primary volume's protection on; a primary volume that arrives later is
  // protected at its arrival. ReadShared/WriteShared.
  UCHAR BootFinished;
};

struct VolumeFilterExtension {
  ULONG Kind;
  UCHAR Hotplug;
  PDEVICE_OBJECT LowerDevice;   // the device this filter is attached to
  PDEVICE_OBJECT TargetDevice;  // the physical device handed to AddDevice
  UNICODE_STRING DeviceName;    // upper case
  WCHAR DeviceNameBuffer[EngineNameBytes / sizeof(WCHAR)];
  UNICODE_STRING DosName;  // "\??\X:"
  WCHAR DosNameBuffer[EngineNameBytes / sizeof(WCHAR)];
  WCHAR DriveLetter;
  vh::EngineHeader* Header;  // the live 64 KB header, or none
  // Boot-sector geometry (ReadBootSectorGeometry).
  ULONG FileSystemKind;  // vh::kFileSystemNtfs or vh::kFileSystemFat32
  ULONG BytesPerSector;
  ULONG SectorsPerCluster;
  ULONG DataStartSector;  // volume sector of cluster 0
  ULONGLONG TotalVolumeSectors;
  // Space bitmap (one bit per space block) and the block bitmaps built from
  // the live map (one bit per volume block); each buffer with its bytes.
  PULONG SpaceBitmapBuffer;
  ULONG SpaceBitmapBytes;
  RTL_BITMAP SpaceBitmap;
  PULONG MarkedBlocksBuffer;
  ULONG MarkedBlocksBytes;
  RTL_BITMAP MarkedBlocks;
  PULONG SavedBlocksBuffer;
  ULONG SavedBlocksBytes;
  RTL_BITMAP SavedBlocks;
  ULONG FreeSectors;  // space sectors, in whole blocks; ReadShared/WriteShared (status reads it
                      // unlocked)
  ULONG TotalSectors;
  // Worker handshake (the worker parks between requests while PauseFlag is
  // set; both events are notification events, each cleared by its waiter).
  PKTHREAD WorkerThread;  // referenced thread object
  UCHAR StopFlag;         // StopDiscard: end and discard every snapshot; StopKeep: end only
  UCHAR PauseFlag;
  KEVENT ResumeEvent;
  KEVENT PausedEvent;
  // Start-up, PnP and the write path.
  IO_REMOVE_LOCK RemoveLock;  // tag "qvrl"; PnP, power and device control
  ULONG PnpState;             // EnginePnpState
  ULONG EngineMode;           // EngineModeOff, ...Tracking, ...Temporary
  KEVENT PagingEvent;         // synchronisation; serialises paging notifications
  LONG PagingCount;           // paging files on the volume
  UCHAR ProtectionActive;     // writes are intercepted only while set; ReadShared/WriteShared
  ULONG DeviceNumber;         // primary protected volume only
  ULONG PartitionNumber;
  KEVENT WakeEvent;                          // synchronisation; set when a write is queued
  LIST_ENTRY WriteQueue;                     // IRPs through Tail.Overlay.ListEntry
  KSPIN_LOCK WriteQueueLock;                 // taken alone, only to insert and remove
  struct PassThroughChunk* PassThroughList;  // null = empty; only grows
  struct RunTableChunk* ExcludedRuns;        // while an exclusion request runs
  struct RunTableChunk* FreeRuns;            // while a create request runs
  // Blocks written between the start of the free-cluster collection and the
  // snapshot: the collection saw them free, but they hold data by then.
  // The worker sets bits while WatchWrites is 1; TakeSnapshot reads them.
  PULONG WrittenBlocksBuffer;
  ULONG WrittenBlocksBytes;
  RTL_BITMAP WrittenBlocks;
  UCHAR WatchWrites;  // read and written through ReadShared/WriteShared
  // Temporary mode (under WriteQueueLock): free runs left for redirection
  // and the translation of redirected home sectors.
  struct FreeRunChunk* FreeRunList;
  struct TranslationChunk* TranslationList;
  LIST_ENTRY TemporaryHeld;  // requests held while the switch finishes
  UCHAR TemporaryHolding;
  // Snapshot drives (Kind 3) only: the drive's own state.
  struct MountDrive* Mount;
  // A create runs (from its first check to its end, outside the lock for
  // the free-space collection): another create, a delete or a stop is
  // refused busy. Set and cleared under EngineLock.
  UCHAR ChangeInProgress;
  // The space-file guard switched the engine off: no create switches it on.
  UCHAR ProtectionRefused;
  // Rewrites of blocks whose copy is durable go down in the writer's thread
  // (SendRewriteDown). RewriteLock (a spin lock, taken alone) guards the
  // SavedBlocks bits against the worker's changes (it sets a bit only once
  // the block's map entry is durable) and the direct path's state. Only the worker
  // opens the path, in a state it has checked; everything that changes the
  // maps, the bitmaps or the mode closes it first (CloseDirectRewrites)
  // and waits for the rewrites already sent.
  KSPIN_LOCK RewriteLock;
  UCHAR DirectRewritesOpen;
  LONG DirectRewritesInFlight;
  KEVENT DirectRewritesDrained;  // notification; set when none is in flight
};
using PVolumeFilterExtension = VolumeFilterExtension*;

// Values of StopFlag. A volume that leaves (PnP removal) keeps its
// snapshots on disk for the next boot; only a stop request discards them.
enum EngineStop : UCHAR { StopNone = 0, StopDiscard = 1, StopKeep = 2 };

enum EngineMode : ULONG { EngineModeOff = 0, EngineModeTracking = 1, EngineModeTemporary = 2 };
enum EnginePnpState : ULONG {
  PnpStopped = 0,
  PnpStarted = 1,
  PnpStopPending = 2,
  PnpRemovePending = 3,
  PnpSurpriseRemoved = 4,
  PnpRemoved = 5,
};

// The control device's extension.
struct ControlExtension {
  ULONG Kind;  // KindControl
  ULONG Size;
  ULONG Flags;  // bit 0 set
  PDRIVER_OBJECT DriverObject;
  PDEVICE_OBJECT ControlDevice;
  vh::MountTable* MountTable;  // non-paged, zero-filled
  HANDLE GuardThreadHandle;    // the space-file guard
  PKTHREAD GuardThread;        // referenced thread object
  KEVENT GuardEvent;           // notification; set only to end the guard
  UCHAR ResetEngine;           // 1 = every worker resets its engine and ends
};

// Pass-through range list: chunks of inclusive volume-sector ranges.
constexpr ULONG PassThroughChunkRanges = 1022;
struct PassThroughChunk {
  PassThroughChunk* Next;
  ULONG Count;
  ULONG First[PassThroughChunkRanges];
  ULONG Last[PassThroughChunkRanges];
};

// Chunked run table {first cluster, cluster count} (free clusters of a
// snapshot, clusters of an excluded file).
#pragma pack(push, 1)
struct ClusterRun {
  ULONGLONG FirstCluster;
  ULONG ClusterCount;
};
#pragma pack(pop)
static_assert(sizeof(ClusterRun) == 12, "runs are 12 bytes");
constexpr ULONG RunTableChunkRuns = 10240;
struct RunTableChunk {
  RunTableChunk* Next;
  ULONG ChunkCount;  // chunks in the chain, the same in every chunk
  ULONG Used;
  ClusterRun Runs[RunTableChunkRuns];
};

// Driver-wide lookaside list of 16,384-byte entries (temporary-mode splits).
constexpr ULONG EngineLookasideEntryBytes = 16384;

// A device's volume-filter extension (none for a null device). Every engine
// device's extension starts with the same kind field, so callers check Kind.
inline PVolumeFilterExtension VolumeOf(PDEVICE_OBJECT device) {
  return device ? static_cast<PVolumeFilterExtension>(device->DeviceExtension) : nullptr;
}

// Flags and the mode that one thread sets while others test them between
// waits or at DISPATCH_LEVEL (stop, pause, the engine mode): whole-value
// atomic reads and writes, never torn and never cached.
template <typename T>
inline T ReadShared(const T& value) {
  return __atomic_load_n(&value, __ATOMIC_ACQUIRE);
}
template <typename T>
inline void WriteShared(T& value, T newValue) {
  __atomic_store_n(&value, newValue, __ATOMIC_RELEASE);
}

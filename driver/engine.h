// The engine's driver-wide state, its device extensions and the I/O and lock
// utilities every other part of the engine builds on.
//
// The extensions carry the fields the utilities use; the parts that own the
// other fields add them here as they arrive.
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
  UCHAR ProtectionActive;     // writes are intercepted only while set
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

// Driver-wide references (set by start-up and the raw-disk attachment).
extern PDRIVER_OBJECT EngineDriverObject;
extern PDEVICE_OBJECT EngineControlDevice;
extern PDEVICE_OBJECT EngineRawDiskFilter;
extern PDEVICE_OBJECT
    EnginePrimaryVolume;  // set once at volume arrival; cleared only when its filter is removed
// Driver-wide lookaside list of 16,384-byte entries (temporary-mode splits).
constexpr ULONG EngineLookasideEntryBytes = 16384;
extern NPAGED_LOOKASIDE_LIST EngineLookaside;

// Start-up (the entry routine, the boot reinitialisation, AddDevice).
extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath);
void EngineUnload(PDRIVER_OBJECT driverObject);
void EngineBootReinit(PDRIVER_OBJECT driverObject, PVOID context, ULONG count);
NTSTATUS EngineAddDevice(PDRIVER_OBJECT driverObject, PDEVICE_OBJECT physicalDevice);
NTSTATUS PinSystemFiles(PDEVICE_OBJECT volume);
NTSTATUS AttachRawDiskFilter();
void SpaceFileGuardThread(PVOID context);
// Gives back what start-up took (guard thread, control device, link, pool).
// The system never calls it: the unload routine does nothing. A host that
// switches the machine off calls it after shutdown and PnP removal.
void EngineTeardown(PDRIVER_OBJECT driverObject);
// Forgets the driver-wide references, for a host that boots another machine.
void ResetEngineGlobals();
// Ends the space-file guard and waits for it (closes its handles).
void StopSpaceFileGuard();

// Dispatch routines, one per major function, routing by device kind.
NTSTATUS EngineDispatchCreateClose(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS EngineDispatchRead(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS EngineDispatchWrite(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS EngineDispatchDeviceControl(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS EngineDispatchShutdown(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS EngineDispatchPower(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS EngineDispatchPnp(PDEVICE_OBJECT device, PIRP irp);
// Detaches a volume filter and frees what it holds, once its worker ended.
void ReleaseVolumeFilter(PDEVICE_OBJECT device);

// Volume arrival and engine state.
void VolumeOnlineCompletion(PDEVICE_OBJECT device);
NTSTATUS VolumeLoadEngineState(PDEVICE_OBJECT device);
NTSTATUS FindVolumeByName(PCUNICODE_STRING name, ULONG kind, PDEVICE_OBJECT* device);
// Before a create or a rollback change: the current-state drive goes and a
// pending reclaim runs. The caller holds EngineLock with the worker paused.
NTSTATUS PrepareEngineChange(PDEVICE_OBJECT device);
BOOLEAN EngineParametersUsable(const vh::EngineParameters& parameters);

// Pass-through extents, the header file and exclusions.
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
// Chunked run tables.
NTSTATUS AppendRun(RunTableChunk** table, ULONGLONG firstCluster, ULONG clusterCount);
NTSTATUS FreeRunTable(RunTableChunk** table);

// Entry points of the engine's other units, called from start-up, dispatch
// and shutdown.
void VolumeWorkerThread(PVOID context);                         // copy-on-write worker
NTSTATUS EngineControlIoctl(PDEVICE_OBJECT device, PIRP irp);   // control protocol
NTSTATUS SplitRedirectedIo(PDEVICE_OBJECT device, PIRP irp);    // temporary mode
NTSTATUS MountDeviceDispatch(PDEVICE_OBJECT device, PIRP irp);  // snapshot drives
NTSTATUS DeleteMountDevice(PDEVICE_OBJECT mountDevice);

// Temporary mode. StartTemporaryMode is IOCTL_ENGINE_START_TEMPORARY's work
// once the primary volume is found started and flushed; the caller holds
// EngineLock. It drains the volume worker, builds the free-space list
// (BuildFreeSpaceList, clusters allocated meanwhile excluded), pins the
// system files and switches EngineMode to 2. On failure the mode stays.
NTSTATUS StartTemporaryMode(PDEVICE_OBJECT volume);
NTSTATUS BuildFreeSpaceList(PDEVICE_OBJECT volume);
// Gives back the tables when the volume filter goes (system stop).
void FreeTemporaryTables(PVolumeFilterExtension volume);

// Snapshot drives. The control protocol builds a MountRequest from the
// VolumeRequest and calls MountSnapshot / UnmountSnapshot with the volume
// filter; entry k-1 of the MountTable belongs to snapshot k, the last to
// the current state (ViewKind nonzero).
struct MountRequest {
  ULONG Result;          // out: 1 when the drive index is refused
  ULONG DriveIndex;      // 0 = "A"
  ULONG ReadOnly;        // always 1 from the protocol
  ULONG NoLetter;        // no letter, no mount point, no mount-manager answers
  ULONG SnapshotNumber;  // view kind 0
  ULONG ViewKind;        // 0 snapshot, 1 current state, 2 the volume unfiltered
};
NTSTATUS MountSnapshot(PDEVICE_OBJECT volume, MountRequest* request);
NTSTATUS UnmountSnapshot(PDEVICE_OBJECT volume, MountRequest* request);
NTSTATUS MountQueueIrp(PDEVICE_OBJECT mountDevice, PIRP irp);
// After snapshot `removedNumber` of `volume` was deleted (under EngineLock):
// drives of newer snapshots follow the renumbering (device and MountTable
// entry move down by one); the drive of the removed snapshot is deleted.
void RenumberSnapshotDrives(PDEVICE_OBJECT volume, ULONG removedNumber);
// Deletes every snapshot drive of `volume` and empties their MountTable
// entries (under EngineLock): the volume is leaving.
void DeleteVolumeDrives(PDEVICE_OBJECT volume);
NTSTATUS FreeReleasedBlocks(PDEVICE_OBJECT volume);   // block release
NTSTATUS RecheckBootRestorer(PDEVICE_OBJECT volume);  // boot-area check

// Snapshot creation and free-block marking. TakeSnapshot and the map
// helpers run under EngineLock with the worker paused.
NTSTATUS CollectFreeRuns(PDEVICE_OBJECT volume);
NTSTATUS TakeSnapshot(PDEVICE_OBJECT volume, const vh::VolumeRequest* request);
NTSTATUS SaveSnapshotMapCopy(PDEVICE_OBJECT volume, ULONG* slotIndex);
NTSTATUS MarkFreeRuns(PDEVICE_OBJECT volume, PRTL_BITMAP previousMarks);
NTSTATUS MarkFreeRunBlocks(PDEVICE_OBJECT volume, PRTL_BITMAP previousMarks, ULONGLONG firstCluster,
                           ULONG clusterCount);
NTSTATUS SaveBlockMap(PDEVICE_OBJECT volume);
// A create cut short between its two header writes leaves the live map
// unknown; this empties it and finishes the header. No-op otherwise.
NTSTATUS CompleteInterruptedSnapshot(PDEVICE_OBJECT volume);

// A write of a tracked volume whose every block is saved (durably) or free
// at the newest snapshot goes down at once, without the worker: true, with
// the status of the call below. False when the worker must take it. Up to
// DISPATCH_LEVEL.
bool SendRewriteDown(PDEVICE_OBJECT volume, PIRP irp, NTSTATUS* status);
// No more rewrites go down directly until the worker opens the path again,
// and every one already sent has completed. PASSIVE_LEVEL.
void CloseDirectRewrites(PVolumeFilterExtension volume);
NTSTATUS SkipSavedBlocks(PDEVICE_OBJECT volume, ULONG* firstBlock, ULONG* blockCount);
NTSTATUS WritePinnedSectors(PDEVICE_OBJECT volume, ULONGLONG firstSector, ULONGLONG lastSector,
                            const UCHAR* data);
NTSTATUS AllocateSpaceBlock(const vh::EngineHeader* header, PRTL_BITMAP spaceBitmap,
                            ULONG volumeBlock, ULONG* spaceBlock);

// Snapshot deletion, oldest-drop and block release.
NTSTATUS FindSlotByNumber(const vh::EngineHeader* header, ULONG number, ULONG* index);
NTSTATUS DropOldestSnapshot(PDEVICE_OBJECT volume);
NTSTATUS DeleteSnapshotSlot(PDEVICE_OBJECT volume, ULONG number);
NTSTATUS ResetEngine(PDEVICE_OBJECT volume);
// Sets the space bitmap to exactly the saved copies the listed snapshots'
// maps reference, and FreeSectors from it; does not write it.
NTSTATUS RebuildSpaceBitmap(PDEVICE_OBJECT volume);

// A device's volume-filter extension (none for a null device). Every engine
// device's extension starts with the same kind field, so callers check Kind.
inline PVolumeFilterExtension VolumeOf(PDEVICE_OBJECT device) {
  return device ? static_cast<PVolumeFilterExtension>(device->DeviceExtension) : nullptr;
}

// Clearing an unmounted drive's entry zeroes the first 76 bytes of its
// 94-byte name: every name the engine writes (29 characters and the
// terminator) lies within them, and the rest of the field is always zero.
constexpr ULONG MountNameClearBytes = 76;

// A queued IRP waits on its Tail.Overlay.ListEntry.
inline PIRP IrpOfQueueEntry(PLIST_ENTRY entry) {
  return reinterpret_cast<PIRP>(reinterpret_cast<PUCHAR>(entry) -
                                offsetof(IRP, Tail.Overlay.ListEntry));
}
// Hands `irp` to the volume's worker and wakes it; the queue's spin lock is
// taken alone. The caller has marked it pending (or owns it).
void QueueForWorker(PVolumeFilterExtension volume, PIRP irp);

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

// Lock and worker handshake. Lock order: EngineLock, then PauseVolumeWorker;
// resume before unlock.
void EngineLock();
void EngineUnlock();
NTSTATUS PauseVolumeWorker(PVolumeFilterExtension volume, UCHAR pause);

// Completes a request: its status, the bytes it moved, and the priority
// boost its waiter gets. Returns the status, for `return CompleteRequest(...)`.
NTSTATUS CompleteRequest(PIRP irp, NTSTATUS status, ULONG_PTR information = 0,
                         CCHAR boost = IO_NO_INCREMENT);

// The engine lock held and the volume's worker parked for one scope, taken
// and given back in the lock order. For changes to the header and the maps
// that the worker must not see half done.
class EngineLockedWorkerPaused {
 public:
  explicit EngineLockedWorkerPaused(PVolumeFilterExtension volume) : volume_(volume) {
    EngineLock();
    PauseVolumeWorker(volume_, 1);
  }
  ~EngineLockedWorkerPaused() {
    PauseVolumeWorker(volume_, 0);
    EngineUnlock();
  }
  EngineLockedWorkerPaused(const EngineLockedWorkerPaused&) = delete;
  EngineLockedWorkerPaused& operator=(const EngineLockedWorkerPaused&) = delete;

 private:
  PVolumeFilterExtension volume_;
};
NTSTATUS GetDriverExtension(DriverExtension** extension);
// The control device, the raw-disk filter and snapshot drives are never
// volumes for the look-ups and the engine transfers.
bool IsEngineVolume(PDEVICE_OBJECT device);

// Requests to other drivers, all synchronous, all at PASSIVE_LEVEL.
// Sends `irp`, built with `event` and `ioStatus` as its completion event and
// status block, and waits for it when it pends. A null `irp` (a failed
// build) answers STATUS_INSUFFICIENT_RESOURCES. The host-side twin is
// hk::CallDriverAndWait: engine sources also build against the DDK.
NTSTATUS CallDriverAndWait(PDEVICE_OBJECT device, PIRP irp, PKEVENT event,
                           PIO_STATUS_BLOCK ioStatus);
NTSTATUS SendDeviceIoctl(PDEVICE_OBJECT device, ULONG code, PVOID input, ULONG inputLength,
                         PVOID output, ULONG outputLength, ULONG_PTR* bytesReturned = nullptr);
NTSTATUS EngineDispatchPassThrough(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS ForwardIrpAndWait(PDEVICE_OBJECT device, PIRP irp);
NTSTATUS ForwardCompletion(PDEVICE_OBJECT device, PIRP irp, PVOID context);
NTSTATUS ReadWriteDiskSectors(UCHAR read, PDEVICE_OBJECT device, ULONGLONG byteOffset, ULONG length,
                              PVOID buffer, PIO_STATUS_BLOCK ioStatus);
NTSTATUS ReadWriteVolumeSectors(UCHAR read, PDEVICE_OBJECT volume, LONGLONG engineByteOffset,
                                ULONG length, PVOID buffer, PIO_STATUS_BLOCK ioStatus);
// Puts every write the volume's lower device completed so far on stable
// storage (a disk with a write cache may otherwise persist them in any
// order, or not at all): the engine's ordering points.
// One flush request to `target`, waited for; `file` (may be null) is the
// open a file system flushes through.
NTSTATUS SendFlushAndWait(PDEVICE_OBJECT target, PFILE_OBJECT file);
NTSTATUS FlushLowerDevice(PDEVICE_OBJECT device);
NTSTATUS GetPartitionInfo(PDEVICE_OBJECT device, PARTITION_INFORMATION* info);
NTSTATUS SendFileSystemControl(PFILE_OBJECT file, ULONG code);
NTSTATUS OpenAndReferenceFile(PUNICODE_STRING path, PHANDLE handle, PFILE_OBJECT* file);

// The engine header, the "Parameter" record and the bitmaps loaded from the
// engine area.
NTSTATUS ReadRegistryValue(PUNICODE_STRING registryPath, vh::EngineParameters* destination);
NTSTATUS ReadBootSectorGeometry(PDEVICE_OBJECT volume);
BOOLEAN ValidateEngineHeader(const vh::EngineHeader* header);
NTSTATUS LocateEngineHeader(PDEVICE_OBJECT volume, vh::EngineHeader* buffer);
NTSTATUS LoadEngineHeader(PDEVICE_OBJECT volume);
// The header's invariants (used slots numbered densely 1 .. count - 1, one
// slot per number, none at or above the count) restored in memory: slots
// the commit sector does not count are freed, gaps a cut removal left are
// closed. True when anything changed.
BOOLEAN RepairHeaderInvariants(vh::EngineHeader* header);
// The same on a loaded header, written back when repaired.
NTSTATUS CheckLoadedHeader(PDEVICE_OBJECT volume);
// Space blocks marked in use that no listed map names (a cut between the
// bitmap and the map) go back to the free pool, on disk too.
NTSTATUS ReclaimUnnamedBlocks(PDEVICE_OBJECT volume);
NTSTATUS LoadSpaceBitmap(PDEVICE_OBJECT volume);
NTSTATUS BuildRedirectBitmaps(PDEVICE_OBJECT volume);
BOOLEAN IsValidMapEntry(PVolumeFilterExtension volume, ULONG entry);
// Engine sectors in either form of the area: at AreaBaseSector + n on the
// lower device, or through the header's extents when the base is 0.
NTSTATUS ReadWriteEngineSectors(UCHAR read, PDEVICE_OBJECT volume, ULONGLONG engineSector,
                                ULONG length, PVOID buffer);
inline NTSTATUS ReadEngineSectors(PDEVICE_OBJECT volume, ULONGLONG engineSector, ULONG length,
                                  PVOID buffer) {
  return ReadWriteEngineSectors(1, volume, engineSector, length, buffer);
}
inline NTSTATUS WriteEngineSectors(PDEVICE_OBJECT volume, ULONGLONG engineSector, ULONG length,
                                   PVOID buffer) {
  return ReadWriteEngineSectors(0, volume, engineSector, length, buffer);
}
// Frees the header and every bitmap of the volume (no engine afterwards).
void FreeVolumeEngineState(PVolumeFilterExtension volume);

// Finding volumes.
NTSTATUS FindVolumeByDeviceName(PCUNICODE_STRING name, PDEVICE_OBJECT* device);
NTSTATUS FindVolumeByDosName(PCUNICODE_STRING name, PDEVICE_OBJECT* device);
NTSTATUS QueryTargetDeviceName(PVolumeFilterExtension volume);
NTSTATUS QueryVolumeDeviceName(PVolumeFilterExtension volume);

// Checked bitmaps.
NTSTATUS SetBitmapBit(PRTL_BITMAP bitmap, ULONG index);
NTSTATUS ClearBitmapBit(PRTL_BITMAP bitmap, ULONG index);
NTSTATUS TestBitmapBitsSet(PRTL_BITMAP bitmap, ULONG first, ULONG count, UCHAR* allSet);

// The mount manager and the snapshot drives' names.
NTSTATUS SendMountManagerIoctl(ULONG code, PVOID input, ULONG inputLength, PVOID output,
                               ULONG outputLength);
NTSTATUS NotifyVolumeArrival(PVolumeFilterExtension volume);
NTSTATUS CreateMountPoint(PVolumeFilterExtension volume);
NTSTATUS DeleteMountPoints(PVolumeFilterExtension volume);
NTSTATUS CreateDosLink(PVolumeFilterExtension volume);

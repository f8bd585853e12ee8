// The control device's request handler: fifteen buffered control codes,
// each with its length rules, its refusals and its lock discipline.
//
// Order of checks for every request: control state present; code known;
// buffer lengths; volume found; header present where needed; the code's
// own rules; then the work. A refused, too-small or at-once request
// changes nothing. Locks: EngineLock, then the worker pause; resume before
// unlock. Everything here runs at PASSIVE_LEVEL on the caller's thread.
#include "control.h"
#include "engine.h"
#include "engine_header.h"
#include "engine_io.h"
#include "engine_lock.h"
#include "engine_state.h"
#include "passthrough.h"
#include "rollback.h"
#include "run_table.h"
#include "snapshot_create.h"
#include "snapshot_delete.h"
#include "snapshot_drive.h"
#include "temporary_mode.h"
#include "volume.h"

namespace {

constexpr ULONG RequestBytes = vh::kRequestBytes;
constexpr ULONG StatusBytes = vh::kStatusBytes;
constexpr ULONG HeaderBytes = vh::kEngineHeaderBytes;
constexpr ULONG HeaderWriteBytes = vh::kHeaderWriteBytes;
constexpr ULONG MountTableBytes = sizeof(vh::MountTable);
constexpr ULONG VolumeNameChars = 260;
// Longest path a UNICODE_STRING can carry, in characters.
constexpr ULONG MaxPathChars = 0x7FFE;

// One request in flight: its buffer and lengths, and what it answers.
struct Request {
  PIRP Irp;
  ULONG Code;
  PUCHAR Buffer;  // the system buffer: max(input, output) bytes
  ULONG Input;
  ULONG Output;
  ULONG_PTR Information;
  // The volume the request names, found before the handler runs (where
  // its row asks for one).
  PDEVICE_OBJECT Device;
  PVolumeFilterExtension Volume;
  // The volume's remove lock, held from the lookup to the completion: the
  // volume's removal waits for the request instead of freeing it beneath.
  bool HoldsVolume;
};

void LogRefused(int line, ULONG a, ULONG b) {
  LogFailureAt(line, "VOL %08x - %08x - %08x\n", STATUS_INVALID_PARAMETER, a, b);
}

NTSTATUS TooSmall(int line, const Request& r) {
  LogFailureAt(line, "VOL %08x - %08x - %08x\n", STATUS_BUFFER_OVERFLOW, r.Input, r.Output);
  return STATUS_BUFFER_OVERFLOW;
}

// Success answers that echo the request: never more than the caller's
// output buffer can take.
void AnswerBytes(Request& r, ULONG bytes) { r.Information = bytes < r.Output ? bytes : r.Output; }

ControlExtension* Control() {
  return EngineControlDevice ? static_cast<ControlExtension*>(EngineControlDevice->DeviceExtension)
                             : nullptr;
}

// Copies a NUL-terminated UTF-16 string of at most maxChars characters out
// of the (byte-packed, possibly unaligned) request into `storage`, which
// holds maxChars + 1 characters. False when no NUL ends it inside the field.
bool TakeString(const UCHAR* field, ULONG maxChars, PWCHAR storage, UNICODE_STRING* out) {
  ULONG length = 0;
  for (;; ++length) {
    if (length == maxChars) return false;
    WCHAR c;
    RtlCopyMemory(&c, field + length * sizeof(WCHAR), sizeof c);
    storage[length] = c;
    if (c == 0) break;
  }
  out->Buffer = storage;
  out->Length = static_cast<USHORT>(length * sizeof(WCHAR));
  out->MaximumLength = static_cast<USHORT>((length + 1) * sizeof(WCHAR));
  return true;
}

bool CharFieldEnds(const char* field, ULONG bytes) {
  for (ULONG i = 0; i < bytes; ++i) {
    if (field[i] == 0) return true;
  }
  return false;
}

// The volume a request names (VolumeNameKind at `kindOffset`, VolumeName
// right after it). A name without its NUL inside the field is refused.
NTSTATUS FindRequestVolume(const Request& r, ULONG kindOffset, PDEVICE_OBJECT* device) {
  *device = nullptr;
  ULONG kind;
  RtlCopyMemory(&kind, r.Buffer + kindOffset, sizeof kind);
  WCHAR storage[VolumeNameChars + 1];
  UNICODE_STRING name;
  if (!TakeString(r.Buffer + kindOffset + sizeof kind, VolumeNameChars, storage, &name)) {
    LogRefused(__LINE__, kind, VolumeNameChars);
    return STATUS_INVALID_PARAMETER;
  }
  NTSTATUS status = FindVolumeByName(&name, kind, device);
  if (!NT_SUCCESS(status)) LogFailure("VOL %08x\n", status);
  return status;
}

const vh::VolumeRequest* VolumeRequestOf(const Request& r) {
  return reinterpret_cast<const vh::VolumeRequest*>(r.Buffer);
}

// Takes the volume's remove lock for the request, under the engine lock:
// the removal deletes the filter under that lock, so a device found under
// it is still there, and a removal already under way refuses the request.
NTSTATUS HoldVolume(Request& r, PDEVICE_OBJECT device) {
  NTSTATUS status = IoAcquireRemoveLock(&VolumeOf(device)->RemoveLock, r.Irp);
  if (!NT_SUCCESS(status)) {
    LogFailure("VOL %08x\n", status);
    return status;
  }
  r.Device = device;
  r.Volume = VolumeOf(device);
  r.HoldsVolume = true;
  return STATUS_SUCCESS;
}

// The primary protected volume, held for the request.
NTSTATUS HoldPrimaryVolume(Request& r) {
  EngineLock();
  PDEVICE_OBJECT device = EnginePrimaryVolume;
  NTSTATUS status = STATUS_NO_SUCH_DEVICE;
  if (device != nullptr) {
    status = HoldVolume(r, device);
  } else {
    LogFailure("VOL %08x\n", status);
  }
  EngineUnlock();
  return status;
}

// ---------------------------------------------------------------- status

NTSTATUS QueryStatus(Request& r) {
  PVolumeFilterExtension volume = r.Volume;
  vh::EngineStatus answer;
  RtlZeroMemory(&answer, sizeof answer);
  answer.InterfaceVersion = vh::kStatusInterfaceVersion;
  answer.EngineMode = ReadShared(volume->EngineMode);
  answer.PnpState = ReadShared(volume->PnpState);
  answer.FreeSectors = ReadShared(volume->FreeSectors);
  answer.TotalSectors = ReadShared(volume->TotalSectors);
  WCHAR letter = volume->DriveLetter;
  if (letter >= VH_WIDE('a') && letter <= VH_WIDE('z')) letter = static_cast<WCHAR>(letter - 0x20);
  answer.DriveLetter = letter;
  RtlCopyMemory(r.Buffer, &answer, sizeof answer);
  r.Information = StatusBytes;
  return STATUS_SUCCESS;
}

// ---------------------------------------------------------------- temporary mode

NTSTATUS StartTemporary(Request& r) {
  NTSTATUS status = HoldPrimaryVolume(r);
  if (!NT_SUCCESS(status)) return status;
  PDEVICE_OBJECT device = r.Device;
  PVolumeFilterExtension volume = r.Volume;
  if (ReadShared(volume->EngineMode) == EngineModeTemporary) return STATUS_SUCCESS;
  if (ReadShared(volume->PnpState) != PnpStarted) {
    LogFailure("VOL\n");
    return STATUS_DEVICE_NOT_READY;
  }
  status = FlushVolumeBuffers(volume);
  if (!NT_SUCCESS(status)) LogFailure("VOL %08x\n", status);
  EngineLock();
  status = StartTemporaryMode(device);
  EngineUnlock();
  if (!NT_SUCCESS(status)) LogFailure("VOL %08x\n", status);
  return status;
}

// ---------------------------------------------------------------- create

bool SameIdentity(const vh::SnapshotSlot& a, const vh::SnapshotSlot& b) {
  return RtlCompareMemory(&a.Guid, &b.Guid, sizeof a.Guid) == sizeof a.Guid &&
         RtlCompareMemory(&a.CreateTime, &b.CreateTime, sizeof a.CreateTime) == sizeof a.CreateTime;
}

// The listed descriptor (the newest or a used slot) with `slot`'s identity,
// or none.
const vh::SnapshotSlot* ListedWithIdentity(const vh::EngineHeader* header,
                                           const vh::SnapshotSlot& slot) {
  if (header->SnapshotCount > 0 && SameIdentity(header->NewestSnapshot, slot))
    return &header->NewestSnapshot;
  for (const vh::SnapshotSlot& listed : header->Slots) {
    if (listed.Used == 1 && listed.Number < header->SnapshotCount && SameIdentity(listed, slot))
      return &listed;
  }
  return nullptr;
}

// Whether a listed snapshot already carries `guid`.
bool GuidListed(const vh::EngineHeader* header, const vh::RecordGuid& guid) {
  if (header->SnapshotCount > 0 &&
      RtlCompareMemory(&header->NewestSnapshot.Guid, &guid, sizeof guid) == sizeof guid)
    return true;
  for (const vh::SnapshotSlot& listed : header->Slots) {
    if (listed.Used == 1 && listed.Number < header->SnapshotCount &&
        RtlCompareMemory(&listed.Guid, &guid, sizeof guid) == sizeof guid)
      return true;
  }
  return false;
}

// The rules a create must pass against a loaded header. A snapshot is its
// GUID (with its creation time): drives and rollbacks find it by that, so
// a create may not give it one that another listed snapshot has.
bool CreateAllowed(PVolumeFilterExtension volume, const vh::VolumeRequest* request) {
  const vh::EngineHeader* header = volume->Header;
  if (GuidListed(header, request->SnapshotGuid)) {
    LogRefused(__LINE__, header->SnapshotCount, header->OldestNumber);
    return false;
  }
  // Temporary mode redirects writes that a create would stop redirecting.
  if (header->SnapshotCount > 31 || header->SnapshotCount >= header->MaxSnapshots ||
      header->RollbackPending == 1 || ReadShared(volume->StopFlag) ||
      ReadShared(volume->EngineMode) == EngineModeTemporary) {
    LogFailure("VOL %08x - %08x - %08x\n", STATUS_INVALID_PARAMETER, header->SnapshotCount,
               header->OldestNumber);
    return false;
  }
  return true;
}

// A header loaded for this request alone goes again when the request is
// refused or fails before it used it.
void DropLoadedHeader(PVolumeFilterExtension volume) {
  if (volume->SpaceBitmapBuffer == nullptr && volume->MarkedBlocksBuffer == nullptr &&
      volume->SavedBlocksBuffer == nullptr && volume->Header != nullptr) {
    ExFreePoolWithTag(volume->Header, EnginePoolTag);
    volume->Header = nullptr;
  } else {
    FreeVolumeEngineState(volume);
  }
}

// Loads the header a create needs when the volume has none yet. The
// snapshots it lists stay intact: their bitmaps are loaded with it, and the
// same rules apply as to a header loaded at start-up.
NTSTATUS LoadHeaderForCreate(PDEVICE_OBJECT device, const vh::VolumeRequest* request) {
  PVolumeFilterExtension volume = VolumeOf(device);
  NTSTATUS status = LoadEngineHeader(device);
  if (!NT_SUCCESS(status)) {
    LogFailure("VOL %08x\n", status);
    return status;
  }
  if (!CreateAllowed(volume, request)) {
    DropLoadedHeader(volume);
    return STATUS_INVALID_PARAMETER;
  }
  if (volume->Header->SnapshotCount > 0 &&
      (volume->SpaceBitmapBuffer == nullptr || volume->MarkedBlocksBuffer == nullptr)) {
    status = LoadSpaceBitmap(device);
    if (NT_SUCCESS(status)) status = BuildRedirectBitmaps(device);
    if (!NT_SUCCESS(status)) {
      LogFailure("VOL %08x\n", status);
      DropLoadedHeader(volume);
      return status;
    }
  }
  return STATUS_SUCCESS;
}

// Marks a create as running on the volume, or refuses it: one create,
// delete or stop at a time (busy), and every rule checked before anything
// changes.
NTSTATUS BeginCreate(PVolumeFilterExtension volume, const vh::VolumeRequest* request) {
  EngineLockedWorkerPaused locked(volume);
  if (volume->ChangeInProgress) {
    LogFailure("VOL %08x\n", STATUS_DEVICE_BUSY);
    return STATUS_DEVICE_BUSY;
  }
  if (ReadShared(volume->EngineMode) == EngineModeTemporary || ReadShared(volume->StopFlag) ||
      ReadShared(volume->ProtectionRefused)) {
    LogRefused(__LINE__, ReadShared(volume->EngineMode), ReadShared(volume->StopFlag));
    return STATUS_INVALID_PARAMETER;
  }
  if (volume->Header != nullptr) {
    if (!CreateAllowed(volume, request)) return STATUS_INVALID_PARAMETER;
    if (Control()->MountTable->Entries[vh::kCurrentStateEntry].InUse) {
      LogFailure("VOL %08x\n", STATUS_UNSUCCESSFUL);
      return STATUS_UNSUCCESSFUL;
    }
  }
  volume->ChangeInProgress = 1;
  return STATUS_SUCCESS;
}

// The create once it holds the volume: the collection outside the lock
// (the file system writes meanwhile), the snapshot under it.
NTSTATUS CreateSteps(Request& r) {
  PDEVICE_OBJECT device = r.Device;
  PVolumeFilterExtension volume = r.Volume;
  const vh::VolumeRequest* request = VolumeRequestOf(r);
  NTSTATUS status = FlushVolumeBuffers(volume);
  if (!NT_SUCCESS(status)) LogFailure("VOL %08x\n", status);

  if (volume->Header != nullptr) {
    EngineLockedWorkerPaused locked(volume);
    if (volume->Header->ReinitPending == 1) {
      status = PrepareEngineChange(device);
      if (!NT_SUCCESS(status)) {
        LogFailure("VOL %08x\n", status);
        return status;
      }
    }
  } else {
    // Loaded and, when refused, dropped again under the lock with the
    // worker parked: a mount or reclaim that saw no header waits for it.
    EngineLockedWorkerPaused locked(volume);
    status = LoadHeaderForCreate(device, request);
    if (!NT_SUCCESS(status)) return status;
  }

  const ULONG mode = ReadShared(volume->EngineMode);
  status = CollectFreeRuns(device);
  if (!NT_SUCCESS(status)) {
    LogFailure("VOL %08x\n", status);
    return status;
  }
  {
    EngineLockedWorkerPaused locked(volume);
    // The space-file guard may have switched the engine off meanwhile: it
    // stays off, and no snapshot is taken.
    if (ReadShared(volume->ProtectionRefused) || !CreateAllowed(volume, request)) {
      WriteShared(volume->WatchWrites, static_cast<UCHAR>(0));
      WriteShared(volume->EngineMode,
                  ReadShared(volume->ProtectionRefused) ? static_cast<ULONG>(EngineModeOff) : mode);
      status = STATUS_INVALID_PARAMETER;
    } else {
      WriteShared(volume->EngineMode, static_cast<ULONG>(EngineModeTracking));
      status = TakeSnapshot(device, request);
    }
  }
  if (!NT_SUCCESS(status)) LogFailure("VOL %08x\n", status);
  FreeRunTable(&volume->FreeRuns);
  return status;
}

NTSTATUS CreateSnapshot(Request& r) {
  PVolumeFilterExtension volume = r.Volume;
  const vh::VolumeRequest* request = VolumeRequestOf(r);
  // A snapshot without a GUID would share its identity with every other
  // one sent without: the client makes a fresh one for each create.
  const vh::RecordGuid none{};
  if (!CharFieldEnds(request->SnapshotName, sizeof request->SnapshotName) ||
      !CharFieldEnds(request->SnapshotRemark, sizeof request->SnapshotRemark) ||
      RtlCompareMemory(&request->SnapshotGuid, &none, sizeof none) == sizeof none) {
    LogRefused(__LINE__, sizeof request->SnapshotName, sizeof request->SnapshotRemark);
    return STATUS_INVALID_PARAMETER;
  }
  NTSTATUS status = BeginCreate(volume, request);
  if (!NT_SUCCESS(status)) return status;
  status = CreateSteps(r);
  EngineLock();
  volume->ChangeInProgress = 0;
  EngineUnlock();
  if (NT_SUCCESS(status)) AnswerBytes(r, r.Input);
  return status;
}

// ---------------------------------------------------------------- delete

NTSTATUS DeleteSnapshot(Request& r) {
  PDEVICE_OBJECT device = r.Device;
  PVolumeFilterExtension volume = r.Volume;
  NTSTATUS status = STATUS_SUCCESS;
  const ULONG number = VolumeRequestOf(r)->SnapshotNumber;
  // Everything is checked under the lock with the worker parked: an
  // oldest-drop renumbers, and a create in progress holds the volume.
  EngineLock();
  PauseVolumeWorker(volume, 1);
  const vh::EngineHeader* header = volume->Header;
  if (volume->ChangeInProgress) {
    LogFailure("VOL %08x\n", STATUS_DEVICE_BUSY);
    status = STATUS_DEVICE_BUSY;
  } else if (header == nullptr) {
    LogFailure("VOL %08x\n", STATUS_NO_SUCH_DEVICE);
    status = STATUS_NO_SUCH_DEVICE;
  } else {
    const LONG count = header->SnapshotCount;
    const LONG oldest = header->OldestNumber;
    if (!(count - 1 >= oldest && number < static_cast<ULONG>(count) && count > 1 &&
          header->RollbackPending != 1 && !ReadShared(volume->StopFlag))) {
      LogRefused(__LINE__, static_cast<ULONG>(count), static_cast<ULONG>(oldest));
      status = STATUS_INVALID_PARAMETER;
    }
  }
  if (NT_SUCCESS(status)) {
    // The engine traces which snapshot a delete takes, in its own words (not a
    // failure line, so not through LogFailure).
    DbgPrint("node = %d \n", number);
    status = number == 1 ? DropOldestSnapshot(device) : DeleteSnapshotSlot(device, number);
    if (!NT_SUCCESS(status)) LogFailure("VOL %08x\n", status);
  }
  // Drives of newer snapshots follow the renumbering; the deleted one's goes.
  if (NT_SUCCESS(status)) SyncSnapshotDrives(device);
  PauseVolumeWorker(volume, 0);
  EngineUnlock();
  if (!NT_SUCCESS(status)) return status;
  AnswerBytes(r, r.Input);
  return STATUS_SUCCESS;
}

// ---------------------------------------------------------------- rollback

// The number the request's target has now: by its identity when the
// request carries one, else the number it gives. 0 when no listed snapshot
// has that identity.
ULONG RollbackTargetNow(const vh::EngineHeader* header, const vh::RollbackRequest& request) {
  const vh::RecordGuid none{};
  if (RtlCompareMemory(&request.TargetGuid, &none, sizeof none) == sizeof none)
    return request.TargetNumber;
  for (ULONG n = 1; n <= header->SnapshotCount; ++n) {
    const vh::SnapshotSlot* slot = nullptr;
    ULONG index = 0;
    if (n == header->SnapshotCount) {
      slot = &header->NewestSnapshot;
    } else if (NT_SUCCESS(FindSlotByNumber(header, n, &index))) {
      slot = &header->Slots[index];
    }
    if (slot != nullptr &&
        RtlCompareMemory(&slot->Guid, &request.TargetGuid, sizeof slot->Guid) ==
            sizeof slot->Guid &&
        RtlCompareMemory(&slot->CreateTime, &request.TargetCreateTime, sizeof slot->CreateTime) ==
            sizeof slot->CreateTime) {
      return n;
    }
  }
  return 0;
}

NTSTATUS SetRollback(Request& r) {
  PDEVICE_OBJECT device = r.Device;
  PVolumeFilterExtension volume = r.Volume;
  vh::RollbackRequest request;
  RtlCopyMemory(&request, r.Buffer, sizeof request);
  // Checked and done under the lock with the worker parked: an oldest-drop
  // in between would make the number name the next newer snapshot.
  EngineLockedWorkerPaused locked(volume);
  const vh::EngineHeader* header = volume->Header;
  if (header == nullptr) {
    LogFailure("VOL %08x\n", STATUS_NO_SUCH_DEVICE);
    return STATUS_NO_SUCH_DEVICE;
  }
  if (request.Schedule != 0) {
    request.TargetNumber = static_cast<UCHAR>(RollbackTargetNow(header, request));
    if (header->RollbackPending != 0 && request.TargetNumber != 0 &&
        request.TargetNumber == header->RollbackTarget) {
      AnswerBytes(r, r.Input);
      return STATUS_SUCCESS;
    }
    if (request.TargetNumber == 0 || request.TargetNumber > header->SnapshotCount ||
        request.TargetNumber < header->OldestNumber ||
        request.TargetNumber > header->MaxSnapshots || ReadShared(volume->StopFlag)) {
      LogRefused(__LINE__, header->SnapshotCount, header->OldestNumber);
      return STATUS_INVALID_PARAMETER;
    }
  } else if (header->RollbackPending == 0) {
    AnswerBytes(r, r.Input);
    return STATUS_SUCCESS;
  }
  NTSTATUS status = PrepareEngineChange(device);
  if (NT_SUCCESS(status)) status = ScheduleRollback(device, &request);
  if (!NT_SUCCESS(status)) {
    LogFailure("VOL %08x\n", status);
    return status;
  }
  AnswerBytes(r, r.Input);
  return STATUS_SUCCESS;
}

// ---------------------------------------------------------------- header

// "\??\X:\" + the header file's name from the "Parameter" record.
NTSTATUS HeaderFileName(PVolumeFilterExtension volume, PWCHAR storage, ULONG storageChars,
                        UNICODE_STRING* out) {
  DriverExtension* driver;
  NTSTATUS status = GetDriverExtension(&driver);
  if (!NT_SUCCESS(status)) return status;
  const ULONG nameChars = sizeof driver->EngineParameters.HeaderFileName / sizeof(WCHAR);
  if (storageChars < nameChars + 8) return STATUS_INVALID_PARAMETER;
  const WCHAR prefix[] = {VH_WIDE('\\'),       VH_WIDE('?'), VH_WIDE('?'), VH_WIDE('\\'),
                          volume->DriveLetter, VH_WIDE(':'), VH_WIDE('\\')};
  const ULONG prefixChars = sizeof prefix / sizeof prefix[0];
  RtlCopyMemory(storage, prefix, sizeof prefix);
  UNICODE_STRING name;
  if (volume->DriveLetter == 0 ||
      !TakeString(reinterpret_cast<const UCHAR*>(driver->EngineParameters.HeaderFileName),
                  nameChars, storage + prefixChars, &name) ||
      name.Length == 0) {
    return STATUS_OBJECT_NAME_INVALID;
  }
  out->Buffer = storage;
  out->Length = static_cast<USHORT>(prefixChars * sizeof(WCHAR) + name.Length);
  out->MaximumLength = static_cast<USHORT>(out->Length + sizeof(WCHAR));
  return STATUS_SUCCESS;
}

NTSTATUS ReadHeader(Request& r) {
  PVolumeFilterExtension volume = r.Volume;
  NTSTATUS status = STATUS_SUCCESS;
  // Under the lock with the worker parked the copy is never one of a
  // create's or an oldest-drop's half-written states.
  {
    EngineLockedWorkerPaused locked(volume);
    if (volume->Header != nullptr) {
      RtlCopyMemory(r.Buffer, volume->Header, HeaderBytes);
      r.Information = HeaderBytes;
      return STATUS_SUCCESS;
    }
  }
  auto* buffer =
      static_cast<PUCHAR>(ExAllocatePoolWithTag(NonPagedPool, HeaderBytes, EnginePoolTag));
  if (buffer == nullptr) {
    LogFailure("VOL %08x\n", STATUS_INSUFFICIENT_RESOURCES);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  // An unreadable header file answers zeros: the request still succeeds.
  RtlZeroMemory(buffer, HeaderBytes);
  WCHAR storage[96];
  UNICODE_STRING name;
  status = HeaderFileName(volume, storage, sizeof storage / sizeof storage[0], &name);
  if (NT_SUCCESS(status)) status = ReadWholeFile(&name, buffer);
  if (!NT_SUCCESS(status)) {
    LogFailure("VOL %08x\n", status);
    RtlZeroMemory(buffer, HeaderBytes);
  }
  RtlCopyMemory(r.Buffer, buffer, HeaderBytes);
  ExFreePoolWithTag(buffer, EnginePoolTag);
  r.Information = HeaderBytes;
  return STATUS_SUCCESS;
}

// The fields of a header a client may set; everything else (counts, region
// sectors, extents, maps, rollback state) stays the engine's.
bool ClientFieldsFit(const vh::EngineHeader* from) {
  if (!CharFieldEnds(from->NewestSnapshot.Name, sizeof from->NewestSnapshot.Name) ||
      !CharFieldEnds(from->NewestSnapshot.Remark, sizeof from->NewestSnapshot.Remark)) {
    return false;
  }
  for (const vh::SnapshotSlot& slot : from->Slots) {
    if (!CharFieldEnds(slot.Name, sizeof slot.Name) ||
        !CharFieldEnds(slot.Remark, sizeof slot.Remark))
      return false;
  }
  return true;
}

// A client's name and remark land on the snapshot they were read with, by
// its identity: a header read before a create, a drop or a delete still
// describes the snapshots it listed, whatever their numbers and slots now.
// A listed snapshot it does not describe keeps its own.
void TakeClientFields(vh::EngineHeader* into, const vh::EngineHeader* from) {
  const auto take = [from](vh::SnapshotSlot* slot) {
    const vh::SnapshotSlot* described = ListedWithIdentity(from, *slot);
    if (described == nullptr) return;
    RtlCopyMemory(slot->Name, described->Name, sizeof slot->Name);
    RtlCopyMemory(slot->Remark, described->Remark, sizeof slot->Remark);
  };
  if (into->SnapshotCount > 0) take(&into->NewestSnapshot);
  for (vh::SnapshotSlot& slot : into->Slots) {
    if (slot.Used == 1 && slot.Number < into->SnapshotCount) take(&slot);
  }
  into->HourlySchedule = from->HourlySchedule;
}

// With a loaded header: the client's fields are merged into a copy of the
// live header, the copy is written, and only then does it become live.
NTSTATUS WriteLoadedHeader(PDEVICE_OBJECT device, const vh::EngineHeader* incoming,
                           vh::EngineHeader* merged) {
  PVolumeFilterExtension volume = VolumeOf(device);
  // The worker parked: an oldest-drop between the copy and its write would
  // be undone by it (the dropped snapshot listed again, its blocks free).
  EngineLockedWorkerPaused locked(volume);
  if (volume->Header == nullptr) return STATUS_NO_SUCH_DEVICE;
  RtlCopyMemory(merged, volume->Header, HeaderBytes);
  TakeClientFields(merged, incoming);
  NTSTATUS status = WriteEngineSectors(device, volume->Header->HeaderSector, HeaderBytes, merged);
  // Only the client's fields change: a create reads the geometry unlocked
  // while it collects free clusters, and the rest is equal anyway.
  if (NT_SUCCESS(status)) TakeClientFields(volume->Header, merged);
  return status;
}

// Without one: a header file that already holds a valid header keeps its
// engine fields the same way; one that does not (a fresh installation)
// takes the client's whole.
NTSTATUS WriteHeaderFile(PVolumeFilterExtension volume, const vh::EngineHeader* incoming,
                         vh::EngineHeader* merged) {
  WCHAR storage[96];
  UNICODE_STRING name;
  NTSTATUS status = HeaderFileName(volume, storage, sizeof storage / sizeof storage[0], &name);
  if (!NT_SUCCESS(status)) return status;
  EngineLock();
  if (NT_SUCCESS(ReadWholeFile(&name, merged)) && ValidateEngineHeader(merged)) {
    TakeClientFields(merged, incoming);
  } else {
    RtlCopyMemory(merged, incoming, HeaderBytes);
  }
  status = WriteWholeFile(&name, merged);
  EngineUnlock();
  return status;
}

NTSTATUS WriteHeader(Request& r) {
  PDEVICE_OBJECT device = r.Device;
  PVolumeFilterExtension volume = r.Volume;
  NTSTATUS status = STATUS_SUCCESS;
  auto* incoming = static_cast<vh::EngineHeader*>(
      ExAllocatePoolWithTag(NonPagedPool, HeaderBytes, EnginePoolTag));
  auto* merged = static_cast<vh::EngineHeader*>(
      ExAllocatePoolWithTag(NonPagedPool, HeaderBytes, EnginePoolTag));
  if (incoming == nullptr || merged == nullptr) {
    if (incoming) ExFreePoolWithTag(incoming, EnginePoolTag);
    if (merged) ExFreePoolWithTag(merged, EnginePoolTag);
    LogFailure("VOL %08x\n", STATUS_INSUFFICIENT_RESOURCES);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  RtlCopyMemory(incoming, r.Buffer + RequestBytes, HeaderBytes);
  if (volume->Header != nullptr) {
    if (!ValidateEngineHeader(incoming) || !ClientFieldsFit(incoming)) {
      LogRefused(__LINE__, incoming->SnapshotCount, incoming->OldestNumber);
      status = STATUS_INVALID_PARAMETER;
    } else {
      status = WriteLoadedHeader(device, incoming, merged);
    }
  } else if (!ClientFieldsFit(incoming)) {
    LogRefused(__LINE__, incoming->SnapshotCount, incoming->OldestNumber);
    status = STATUS_INVALID_PARAMETER;
  } else {
    status = WriteHeaderFile(volume, incoming, merged);
  }
  ExFreePoolWithTag(incoming, EnginePoolTag);
  ExFreePoolWithTag(merged, EnginePoolTag);
  if (!NT_SUCCESS(status)) {
    LogFailure("VOL %08x\n", status);
    return status;
  }
  AnswerBytes(r, HeaderBytes);
  return STATUS_SUCCESS;
}

// ---------------------------------------------------------------- snapshot drives

// The MountTable entry a mount or unmount request names, or refused.
NTSTATUS MountEntryOf(const Request& r, PVolumeFilterExtension volume, vh::MountEntry** entry) {
  const vh::VolumeRequest* request = VolumeRequestOf(r);
  ControlExtension* control = Control();
  if (request->MountCurrentState != 0) {
    *entry = &control->MountTable->Entries[vh::kCurrentStateEntry];
    return STATUS_SUCCESS;
  }
  const ULONG number = request->SnapshotNumber;
  if (number < 1 || number > vh::kCurrentStateEntry || number > volume->Header->SnapshotCount) {
    LogRefused(__LINE__, number, volume->Header->SnapshotCount);
    return STATUS_INVALID_PARAMETER;
  }
  *entry = &control->MountTable->Entries[number - 1];
  return STATUS_SUCCESS;
}

MountRequest MountRequestOf(const Request& r) {
  const vh::VolumeRequest* request = VolumeRequestOf(r);
  MountRequest mount;
  RtlZeroMemory(&mount, sizeof mount);
  mount.DriveIndex = request->MountDriveIndex;
  mount.ReadOnly = 1;
  mount.NoLetter = request->MountNoLetter;
  mount.SnapshotNumber = request->SnapshotNumber;
  mount.ViewKind = request->MountCurrentState;
  return mount;
}

// What mount and unmount check first: the volume with its header, not
// stopping, and the entry the request names.
NTSTATUS MountTarget(const Request& r, PDEVICE_OBJECT* device, vh::MountEntry** entry) {
  *device = r.Device;
  PVolumeFilterExtension volume = r.Volume;
  // Seen at the lookup, but a create that loaded it for itself may have
  // dropped it again since.
  if (volume->Header == nullptr) {
    LogFailure("VOL %08x\n", STATUS_NO_SUCH_DEVICE);
    return STATUS_NO_SUCH_DEVICE;
  }
  if (ReadShared(volume->StopFlag)) {
    LogRefused(__LINE__, ReadShared(volume->StopFlag), 0);
    return STATUS_INVALID_PARAMETER;
  }
  // The worker's oldest-drop renumbers without the lock: the entries follow
  // here, before a number is looked up.
  SyncSnapshotDrives(*device);
  return MountEntryOf(r, volume, entry);
}

NTSTATUS MountDrive(Request& r) {
  PDEVICE_OBJECT device;
  vh::MountEntry* entry;
  // Mounts and unmounts one at a time, and none while the worker changes
  // the slots the drive's identity is taken from.
  EngineLockedWorkerPaused locked(r.Volume);
  NTSTATUS status = MountTarget(r, &device, &entry);
  if (!NT_SUCCESS(status)) return status;
  MountRequest mount = MountRequestOf(r);
  if (entry->InUse || entry->VolumeDevice != 0 || entry->MountDevice != 0) {
    AnswerBytes(r, r.Input);
    return STATUS_SUCCESS;
  }
  status = MountSnapshot(device, &mount);
  if (!NT_SUCCESS(status)) {
    LogFailure("VOL %08x\n", status);
    return status;
  }
  entry->InUse = 1;
  entry->VolumeDevice = reinterpret_cast<ULONG_PTR>(device);
  static constexpr char kName[] = "\\Device\\5E27-B4%c9-4A1F-9C63\\";
  static_assert(sizeof kName <= MountNameClearBytes / sizeof(WCHAR),
                "an unmount's clear covers the whole name");
  WCHAR name[sizeof entry->DeviceName / sizeof(WCHAR)];
  RtlZeroMemory(name, sizeof name);
  for (ULONG i = 0, o = 0; kName[i] != 0 && o + 1 < sizeof name / sizeof name[0]; ++i) {
    if (kName[i] == '%' && kName[i + 1] == 'c') {
      name[o++] = static_cast<WCHAR>(VH_WIDE('A') + mount.DriveIndex);
      ++i;
    } else {
      name[o++] = static_cast<WCHAR>(kName[i]);
    }
  }
  RtlCopyMemory(entry->DeviceName, name, sizeof name);
  AnswerBytes(r, r.Input);
  return STATUS_SUCCESS;
}

NTSTATUS UnmountDrive(Request& r) {
  PDEVICE_OBJECT device;
  vh::MountEntry* entry;
  EngineLockedWorkerPaused locked(r.Volume);
  NTSTATUS status = MountTarget(r, &device, &entry);
  if (!NT_SUCCESS(status)) return status;
  if (!entry->InUse || entry->VolumeDevice == 0 || entry->MountDevice == 0) {
    AnswerBytes(r, r.Input);
    return STATUS_SUCCESS;
  }
  MountRequest mount = MountRequestOf(r);
  status = UnmountSnapshot(device, &mount);
  if (!NT_SUCCESS(status)) {
    LogFailure("VOL %08x\n", status);
    return status;
  }
  entry->InUse = 0;
  entry->VolumeDevice = 0;
  entry->MountDevice = 0;
  RtlZeroMemory(entry->DeviceName, MountNameClearBytes);
  AnswerBytes(r, r.Input);
  return STATUS_SUCCESS;
}

NTSTATUS GetMountTable(Request& r) {
  if (ReadShared(r.Volume->StopFlag)) {
    LogRefused(__LINE__, 1, 0);
    return STATUS_INVALID_PARAMETER;
  }
  {
    EngineLockedWorkerPaused locked(r.Volume);
    SyncSnapshotDrives(r.Device);
    RtlCopyMemory(r.Buffer, Control()->MountTable, MountTableBytes);
  }
  r.Information = MountTableBytes;
  return STATUS_SUCCESS;
}

// ---------------------------------------------------------------- maintenance

NTSTATUS ReclaimSpace(Request& r) {
  PDEVICE_OBJECT device = r.Device;
  PVolumeFilterExtension volume = r.Volume;
  NTSTATUS status = STATUS_SUCCESS;
  // The lock keeps the release away from a create or delete in progress.
  {
    EngineLockedWorkerPaused locked(volume);
    if (volume->Header == nullptr) {
      LogFailure("VOL %08x\n", STATUS_NO_SUCH_DEVICE);
      status = STATUS_NO_SUCH_DEVICE;
    } else if (volume->Header->ReclaimPending == 1) {
      status = FreeReleasedBlocks(device);
      if (!NT_SUCCESS(status)) LogFailure("VOL %08x\n", status);
    }
  }
  if (!NT_SUCCESS(status)) return status;
  AnswerBytes(r, r.Input);
  return STATUS_SUCCESS;
}

// Whether the NUL-terminated path at `offset` of the request opens.
// A path without its NUL inside the input is refused.
NTSTATUS OpenTest(const Request& r, ULONG offset, BOOLEAN* opened) {
  *opened = FALSE;
  ULONG maxChars = (r.Input - offset) / sizeof(WCHAR);
  if (maxChars > MaxPathChars) maxChars = MaxPathChars;
  auto* storage = static_cast<PWCHAR>(
      ExAllocatePoolWithTag(PagedPool, (maxChars + 1) * sizeof(WCHAR), EnginePoolTag));
  if (storage == nullptr) {
    LogFailure("VOL %08x\n", STATUS_INSUFFICIENT_RESOURCES);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  UNICODE_STRING path;
  if (!TakeString(r.Buffer + offset, maxChars, storage, &path)) {
    ExFreePoolWithTag(storage, EnginePoolTag);
    LogRefused(__LINE__, r.Input, offset);
    return STATUS_INVALID_PARAMETER;
  }
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &path, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr,
                             nullptr);
  IO_STATUS_BLOCK ioStatus;
  HANDLE handle = nullptr;
  NTSTATUS status = path.Length == 0 ? STATUS_OBJECT_NAME_INVALID
                                     : ZwCreateFile(&handle, FILE_READ_ATTRIBUTES, &attributes,
                                                    &ioStatus, nullptr, FILE_ATTRIBUTE_NORMAL,
                                                    FILE_SHARE_READ, FILE_OPEN, 0, nullptr, 0);
  ExFreePoolWithTag(storage, EnginePoolTag);
  if (NT_SUCCESS(status)) {
    ZwClose(handle);
    *opened = TRUE;
  } else {
    LogFailure("Vol status = %08x\n", status);
  }
  return STATUS_SUCCESS;
}

void SetFirstWord(Request& r, ULONG value) { RtlCopyMemory(r.Buffer, &value, sizeof value); }

// Sets StopFlag on a volume with an engine: its worker resets the engine
// (every snapshot goes) and ends.
NTSTATUS StopEngine(PVolumeFilterExtension volume) {
  EngineLock();
  NTSTATUS status = STATUS_SUCCESS;
  if (volume->ChangeInProgress) {
    LogFailure("VOL %08x\n", STATUS_DEVICE_BUSY);
    status = STATUS_DEVICE_BUSY;
  } else if (ReadShared(volume->StopFlag) ||
             ReadShared(volume->EngineMode) == EngineModeTemporary) {
    LogRefused(__LINE__, ReadShared(volume->StopFlag), ReadShared(volume->EngineMode));
    status = STATUS_INVALID_PARAMETER;
  } else {
    WriteShared(volume->StopFlag, static_cast<UCHAR>(StopDiscard));
  }
  EngineUnlock();
  return status;
}

NTSTATUS SystemControl(Request& r) {
  ULONG selector;
  RtlCopyMemory(&selector, r.Buffer, sizeof selector);
  if (selector == 1) {
    BOOLEAN opened;
    NTSTATUS status = OpenTest(r, sizeof selector, &opened);
    if (!NT_SUCCESS(status)) return status;
    if (opened) {
      LogFailure("Vol 1\n");
    } else {
      LogFailure("Vol 0\n");
    }
    SetFirstWord(r, opened ? 1 : 0);
    r.Information = r.Output;
    return STATUS_SUCCESS;
  }
  if (selector != 3) return STATUS_SUCCESS;
  NTSTATUS status = HoldPrimaryVolume(r);
  if (!NT_SUCCESS(status)) return status;
  if (r.Volume->Header == nullptr) {
    LogFailure("VOL %08x\n", STATUS_NO_SUCH_DEVICE);
    return STATUS_NO_SUCH_DEVICE;
  }
  return StopEngine(r.Volume);
}

NTSTATUS ProbeFile(Request& r) {
  BOOLEAN opened;
  NTSTATUS status = OpenTest(r, sizeof(ULONG), &opened);
  if (!NT_SUCCESS(status)) return status;
  if (!opened) LogFailure("0\n");
  SetFirstWord(r, opened ? 1 : 0);
  r.Information = r.Output;
  return STATUS_SUCCESS;
}

NTSTATUS StopVolume(Request& r) {
  PVolumeFilterExtension volume = r.Volume;
  if (volume == nullptr || volume->Header == nullptr) {
    LogFailure("VOL %08x\n", STATUS_SUCCESS);
    return STATUS_SUCCESS;
  }
  return StopEngine(volume);
}

NTSTATUS AddExcluded(Request& r) {
  PDEVICE_OBJECT device = r.Device;
  PVolumeFilterExtension volume = r.Volume;
  NTSTATUS status = STATUS_SUCCESS;
  const ULONG offset = offsetof(vh::VolumeRequest, ExcludePath);
  ULONG maxChars = (r.Input - offset) / sizeof(WCHAR);
  if (maxChars > MaxPathChars) maxChars = MaxPathChars;
  auto* storage = static_cast<PWCHAR>(
      ExAllocatePoolWithTag(PagedPool, (maxChars + 1) * sizeof(WCHAR), EnginePoolTag));
  if (storage == nullptr) {
    LogFailure("VOL %08x\n", STATUS_INSUFFICIENT_RESOURCES);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  UNICODE_STRING path;
  if (!TakeString(r.Buffer + offset, maxChars, storage, &path) || path.Length == 0) {
    ExFreePoolWithTag(storage, EnginePoolTag);
    LogRefused(__LINE__, r.Input, offset);
    return STATUS_INVALID_PARAMETER;
  }
  // One exclusion at a time: the run table is the volume's. The worker is
  // parked only while the pass-through list grows.
  EngineLock();
  status = AddExcludedFile(device, &path);
  if (NT_SUCCESS(status)) {
    PauseVolumeWorker(volume, 1);
    status = AppendPassThroughRuns(device, volume->ExcludedRuns);
    PauseVolumeWorker(volume, 0);
  }
  FreeRunTable(&volume->ExcludedRuns);
  EngineUnlock();
  ExFreePoolWithTag(storage, EnginePoolTag);
  if (!NT_SUCCESS(status)) {
    LogFailure("VOL %08x\n", status);
    return status;
  }
  AnswerBytes(r, r.Input);
  return STATUS_SUCCESS;
}

// ---------------------------------------------------------------- the table

// Which volume a request needs before its own rules run.
enum Needs : ULONG {
  NoVolume,
  Volume,            // named by the VolumeRequest
  VolumeWithHeader,  // the same, with its header loaded
  RollbackVolume,    // named by the RollbackRequest, with its header loaded
};

struct Handler {
  ULONG Code;
  ULONG MinInput;
  ULONG MinOutput;
  Needs Lookup;
  NTSTATUS (*Run)(Request& r);
};

const Handler Handlers[] = {
    {vh::IOCTL_ENGINE_QUERY_STATUS, RequestBytes, StatusBytes, Volume, QueryStatus},
    {vh::IOCTL_ENGINE_START_TEMPORARY, 512, 0, NoVolume, StartTemporary},
    {vh::IOCTL_ENGINE_CREATE_SNAPSHOT, RequestBytes, 0, Volume, CreateSnapshot},
    {vh::IOCTL_ENGINE_DELETE_SNAPSHOT, RequestBytes, 0, VolumeWithHeader, DeleteSnapshot},
    {vh::IOCTL_ENGINE_SET_ROLLBACK, RequestBytes, 0, RollbackVolume, SetRollback},
    {vh::IOCTL_ENGINE_READ_HEADER, RequestBytes, HeaderBytes, Volume, ReadHeader},
    {vh::IOCTL_ENGINE_WRITE_HEADER, HeaderWriteBytes, 0, Volume, WriteHeader},
    {vh::IOCTL_ENGINE_MOUNT_SNAPSHOT, RequestBytes, 0, VolumeWithHeader, MountDrive},
    {vh::IOCTL_ENGINE_UNMOUNT_SNAPSHOT, RequestBytes, 0, VolumeWithHeader, UnmountDrive},
    {vh::IOCTL_ENGINE_GET_MOUNT_TABLE, RequestBytes, MountTableBytes, VolumeWithHeader,
     GetMountTable},
    {vh::IOCTL_ENGINE_RECLAIM_SPACE, RequestBytes, 0, VolumeWithHeader, ReclaimSpace},
    {vh::IOCTL_ENGINE_SYSTEM_CONTROL, RequestBytes, StatusBytes, NoVolume, SystemControl},
    {vh::IOCTL_ENGINE_PROBE_FILE, RequestBytes, StatusBytes, NoVolume, ProbeFile},
    {vh::IOCTL_ENGINE_STOP_VOLUME, RequestBytes, 0, Volume, StopVolume},
    {vh::IOCTL_ENGINE_ADD_EXCLUDED_FILE, RequestBytes, 0, Volume, AddExcluded},
};

// The volume the request names and, where needed, the answer for a missing
// header.
NTSTATUS FindNeededVolume(Needs needs, Request& r) {
  if (needs == NoVolume) return STATUS_SUCCESS;
  const ULONG kindOffset = needs == RollbackVolume ? offsetof(vh::RollbackRequest, VolumeNameKind)
                                                   : offsetof(vh::VolumeRequest, VolumeNameKind);
  PDEVICE_OBJECT device = nullptr;
  EngineLock();
  NTSTATUS status = FindRequestVolume(r, kindOffset, &device);
  if (NT_SUCCESS(status)) status = HoldVolume(r, device);
  EngineUnlock();
  if (!NT_SUCCESS(status)) return status;
  if (needs != Volume && r.Volume->Header == nullptr) {
    LogFailure("VOL %08x\n", STATUS_NO_SUCH_DEVICE);
    return STATUS_NO_SUCH_DEVICE;
  }
  return STATUS_SUCCESS;
}

// A failed request moves no bytes back to the caller.
NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
  return CompleteRequest(irp, status, NT_SUCCESS(status) ? information : 0, IO_DISK_INCREMENT);
}

}  // namespace

NTSTATUS EngineControlIoctl(PDEVICE_OBJECT, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  ControlExtension* control = Control();
  if (control == nullptr || control->MountTable == nullptr) {
    LogFailure("VOL %08x\n", STATUS_NO_SUCH_DEVICE);
    return Complete(irp, STATUS_NO_SUCH_DEVICE, 0);
  }
  Request r;
  r.Irp = irp;
  r.Code = stack->Parameters.DeviceIoControl.IoControlCode;
  r.Buffer = static_cast<PUCHAR>(irp->AssociatedIrp.SystemBuffer);
  r.Input = stack->Parameters.DeviceIoControl.InputBufferLength;
  r.Output = stack->Parameters.DeviceIoControl.OutputBufferLength;
  r.Information = 0;
  r.Device = nullptr;
  r.Volume = nullptr;
  r.HoldsVolume = false;
  const Handler* handler = nullptr;
  for (const Handler& h : Handlers) {
    if (h.Code == r.Code) handler = &h;
  }
  if (handler == nullptr) {
    LogFailure("VOL %08x\n", STATUS_NOT_IMPLEMENTED);
    return Complete(irp, STATUS_NOT_IMPLEMENTED, 0);
  }
  if (r.Input < handler->MinInput || r.Output < handler->MinOutput || r.Buffer == nullptr) {
    return Complete(irp, TooSmall(__LINE__, r), 0);
  }
  NTSTATUS status = FindNeededVolume(handler->Lookup, r);
  if (NT_SUCCESS(status)) status = handler->Run(r);
  PVolumeFilterExtension held = r.HoldsVolume ? r.Volume : nullptr;
  status = Complete(irp, status, r.Information);
  if (held != nullptr) IoReleaseRemoveLock(&held->RemoveLock, irp);
  return status;
}

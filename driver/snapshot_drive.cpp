// Snapshot drives: read-only disk devices that show a snapshot of a volume
// (view kind 0), its current state (1) or the protected volume's own blocks
// unfiltered (2). A read sent at PASSIVE_LEVEL is served in the sender's
// thread; every other request, and a read at raised IRQL, is queued to the
// drive's worker thread, which serves them in arrival order. Mount and
// unmount run on the control request's thread at PASSIVE_LEVEL.
#include "engine.h"
#include "engine_header.h"
#include "engine_io.h"
#include "engine_lock.h"
#include "engine_state.h"
#include "snapshot_delete.h"
#include "snapshot_drive.h"
#include "device_security.h"
#include "volume_names.h"

namespace {

constexpr ULONG SectorBytes = vh::kSectorBytes;
constexpr ULONG BlockBytes = vh::kBlockBytes;
constexpr ULONG BlockSectors = vh::kBlockSectors;
constexpr ULONG EntriesPerSector = SectorBytes / sizeof(ULONG);
constexpr ULONG ChunkBlocks = 64;  // a read is assembled 2 MB at a time

// Control codes answered to the storage stack, by number (the DDK and the
// host layer spell some of them differently).
constexpr ULONG CodeGeometry = 0x70000;
constexpr ULONG CodeMediaTypes = 0x70C00;
constexpr ULONG CodeVerify = 0x70014;
constexpr ULONG CodeIsWritable = 0x70024;
constexpr ULONG CodePartitionInfoEx = 0x70048;
constexpr ULONG CodeLayoutEx = 0x70050;
constexpr ULONG CodePartitionInfo = 0x74004;
constexpr ULONG CodeLayout = 0x7400C;
constexpr ULONG CodeLengthInfo = 0x7405C;
constexpr ULONG CodeDiskCheckVerify = 0x74800;
constexpr ULONG CodeStorageCheckVerify = 0x2D4800;
constexpr ULONG CodeUniqueId = 0x4D0000;
constexpr ULONG CodeDeviceName = 0x4D0008;
constexpr ULONG CodeSuggestedLink = 0x4D000C;

}  // namespace

// The drive's own state, behind its VolumeFilterExtension in the same
// device extension.
struct MountDrive {
  ULONG DriveIndex;
  ULONG ReadOnly;
  ULONG NoLetter;
  ULONG SnapshotNumber;  // follows the renumbering of older deletions
  ULONG ViewKind;
  UCHAR Removing;  // set while the drive goes: new I/O is refused
  // The drive's letter as the engine made it (only those links go again).
  UCHAR MadeMountPoint;  // the mount manager's point
  UCHAR MadeDosLink;     // the engine's own link
  // The snapshot shown, by its descriptor: numbers move, descriptors not.
  vh::SnapshotSlot Identity;
  // Geometry answered to the storage stack.
  ULONGLONG PartitionLength;
  ULONG HiddenSectors;
  UCHAR PartitionType;
  ULONGLONG Cylinders;
  ULONG TracksPerCylinder;
  ULONG SectorsPerTrack;
  ULONG BytesPerSector;
  // The worker.
  PKTHREAD Thread;
  KEVENT StartEvent;
  NTSTATUS StartStatus;
  KSEMAPHORE QueueSemaphore;
  LIST_ENTRY Queue;
  KSPIN_LOCK QueueLock;
  UCHAR StopFlag;
  // Reads served in their senders' threads (under QueueLock): the removal
  // waits for them before the device goes.
  LONG InlineReads;
  KEVENT InlineReadsDrained;  // notification; set when none runs
  // A file object kept while the drive is dismounted for removal.
  HANDLE RemovalHandle;
  PFILE_OBJECT RemovalFile;
};

namespace {

MountDrive* DriveOf(PDEVICE_OBJECT device) {
  PVolumeFilterExtension extension = VolumeOf(device);
  return extension != nullptr && extension->Kind == KindMount ? extension->Mount : nullptr;
}

vh::MountTable* Table() {
  if (EngineControlDevice == nullptr) return nullptr;
  return static_cast<ControlExtension*>(EngineControlDevice->DeviceExtension)->MountTable;
}

// The entry of a request: the current-state entry for a view, else the
// snapshot's own (numbers 1..32).
vh::MountEntry* EntryOf(const MountRequest* request) {
  vh::MountTable* table = Table();
  if (table == nullptr) return nullptr;
  if (request->ViewKind != 0) return &table->Entries[vh::kCurrentStateEntry];
  if (request->SnapshotNumber == 0 || request->SnapshotNumber > vh::kCurrentStateEntry)
    return nullptr;
  return &table->Entries[request->SnapshotNumber - 1];
}

PDEVICE_OBJECT DeviceOfEntry(const vh::MountEntry* entry) {
  return reinterpret_cast<PDEVICE_OBJECT>(static_cast<ULONG_PTR>(entry->MountDevice));
}

NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
  return CompleteRequest(irp, status, information, IO_DISK_INCREMENT);
}

// ---- Which snapshot a drive shows ------------------------------------------------

// A snapshot is its GUID and creation time: a client may rename it or
// change its tag while its drive is mounted.
bool SameSnapshot(const vh::SnapshotSlot& a, const vh::SnapshotSlot& b) {
  return RtlCompareMemory(&a.CreateTime, &b.CreateTime, sizeof a.CreateTime) ==
             sizeof a.CreateTime &&
         RtlCompareMemory(&a.Guid, &b.Guid, sizeof a.Guid) == sizeof a.Guid;
}

const vh::SnapshotSlot* DescriptorOf(const vh::EngineHeader* header, ULONG number) {
  if (number == 0 || number > header->SnapshotCount) return nullptr;
  if (number == header->SnapshotCount) return &header->NewestSnapshot;
  ULONG index = 0;
  return NT_SUCCESS(FindSlotByNumber(header, number, &index)) ? &header->Slots[index] : nullptr;
}

// The number the drive's snapshot has now; 0 when it is gone.
ULONG CurrentNumber(const vh::EngineHeader* header, const MountDrive* drive) {
  for (ULONG n = header->SnapshotCount; n >= 1; --n) {
    const vh::SnapshotSlot* slot = DescriptorOf(header, n);
    if (slot != nullptr && SameSnapshot(*slot, drive->Identity)) return n;
  }
  return 0;
}

// ---- Reading views ---------------------------------------------------------------

struct ReadPlan {
  PDEVICE_OBJECT volumeDevice;  // the volume filter
  PVolumeFilterExtension volume;
  ULONG firstBlock;
  ULONG blocks;
  PULONG entries;  // one per block: the entry that decides it
  PUCHAR data;     // blocks x 32 KB
};

// Map entries of the plan's blocks from the table at engine sector `table`.
NTSTATUS ReadEntries(const ReadPlan& plan, ULONGLONG table, PULONG out, PULONG scratch) {
  const ULONG firstSector = plan.firstBlock / EntriesPerSector;
  const ULONG lastSector = (plan.firstBlock + plan.blocks - 1) / EntriesPerSector;
  const ULONG bytes = (lastSector - firstSector + 1) * SectorBytes;
  NTSTATUS status = ReadEngineSectors(plan.volumeDevice, table + firstSector, bytes, scratch);
  if (!NT_SUCCESS(status)) return status;
  RtlCopyMemory(out, scratch + plan.firstBlock % EntriesPerSector, plan.blocks * sizeof(ULONG));
  return STATUS_SUCCESS;
}

bool NamesSavedCopy(ULONG entry) { return entry != 0 && entry < vh::kMapEntryFree; }

// Reads live blocks (in runs) and saved copies as the entries say. A block
// whose entry names no copy is read from the volume below the filter.
NTSTATUS ReadBlocks(const ReadPlan& plan, const PULONG entries, ULONG from, ULONG to) {
  const vh::EngineHeader* header = plan.volume->Header;
  const ULONGLONG volumeBytes = plan.volume->TotalVolumeSectors != 0
                                    ? plan.volume->TotalVolumeSectors * SectorBytes
                                    : header->VolumeBytes;
  ULONG i = from;
  while (i < to) {
    PUCHAR at = plan.data + static_cast<SIZE_T>(i) * BlockBytes;
    NTSTATUS status;
    if (NamesSavedCopy(entries[i])) {
      status = ReadEngineSectors(plan.volumeDevice, header->SpaceFirst + entries[i] - BlockSectors,
                                 BlockBytes, at);
      ++i;
    } else {
      ULONG run = 1;
      while (i + run < to && !NamesSavedCopy(entries[i + run])) ++run;
      const ULONGLONG offset = static_cast<ULONGLONG>(plan.firstBlock + i) * BlockBytes;
      ULONGLONG length = static_cast<ULONGLONG>(run) * BlockBytes;
      // The last block of a volume that ends inside it reads zeros beyond.
      if (offset >= volumeBytes) {
        length = 0;
      } else if (offset + length > volumeBytes) {
        length = (volumeBytes - offset) / SectorBytes * SectorBytes;
      }
      RtlZeroMemory(at, static_cast<SIZE_T>(run) * BlockBytes);
      IO_STATUS_BLOCK ioStatus;
      status = length == 0 ? STATUS_SUCCESS
                           : ReadWriteDiskSectors(1, plan.volume->LowerDevice, offset,
                                                  static_cast<ULONG>(length), at, &ioStatus);
      i += run;
    }
    if (!NT_SUCCESS(status)) return status;
  }
  return STATUS_SUCCESS;
}

// Fills plan.entries for snapshot `number` (view kind 0) or the current
// state (view kind 1), with the live map's entries in `live`.
NTSTATUS ResolveEntries(const ReadPlan& plan, ULONG viewKind, ULONG number, PULONG live,
                        PULONG scratch) {
  const vh::EngineHeader* header = plan.volume->Header;
  NTSTATUS status = ReadEntries(plan, header->BlockMapFirst, live, scratch);
  if (!NT_SUCCESS(status)) return status;
  RtlCopyMemory(plan.entries, live, plan.blocks * sizeof(ULONG));
  if (viewKind == 1) {
    PULONG released = plan.entries;  // reused below
    status = ReadEntries(plan, header->ReleaseListSector, released, scratch);
    if (!NT_SUCCESS(status)) return status;
    for (ULONG j = 0; j < plan.blocks; ++j) {
      const ULONG e = released[j] != 0 ? released[j] : live[j];
      plan.entries[j] = static_cast<LONG>(e) > 0 ? e : 0;
    }
    return STATUS_SUCCESS;
  }
  // Older maps win: snapshot `number`'s own map decides first.
  PULONG older = static_cast<PULONG>(
      ExAllocatePoolWithTag(NonPagedPool, plan.blocks * sizeof(ULONG), EnginePoolTag));
  if (older == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  for (ULONG k = static_cast<ULONG>(header->SnapshotCount) - 1;
       k >= number && k >= 1 && NT_SUCCESS(status); --k) {
    ULONG index = 0;
    status = FindSlotByNumber(header, k, &index);
    if (NT_SUCCESS(status))
      status = ReadEntries(plan, header->Slots[index].SavedMapSector, older, scratch);
    if (NT_SUCCESS(status)) {
      for (ULONG j = 0; j < plan.blocks; ++j) {
        if (older[j] != 0) plan.entries[j] = older[j];
      }
    }
  }
  ExFreePoolWithTag(older, EnginePoolTag);
  if (!NT_SUCCESS(status)) return status;
  for (ULONG j = 0; j < plan.blocks; ++j) {
    if (plan.entries[j] == vh::kMapEntryFree) plan.entries[j] = 0;
    // An entry the space cannot hold is never followed.
    if (NamesSavedCopy(plan.entries[j]) && !IsValidMapEntry(plan.volume, plan.entries[j]))
      return STATUS_INVALID_PARAMETER;
  }
  return STATUS_SUCCESS;
}

// One chunk of a view read. Copy-on-write may save a block between the
// map read and the live read; its map piece is written before the write
// itself, so a live entry that changed meanwhile is read again from its
// saved copy.
NTSTATUS ReadViewChunk(const ReadPlan& plan, ULONG viewKind, ULONG number) {
  const SIZE_T entryBytes = plan.blocks * sizeof(ULONG);
  auto* live =
      static_cast<PULONG>(ExAllocatePoolWithTag(NonPagedPool, entryBytes * 2, EnginePoolTag));
  auto* scratch = static_cast<PULONG>(
      ExAllocatePoolWithTag(NonPagedPool, 2 * SectorBytes + ChunkBlocks * 4, EnginePoolTag));
  NTSTATUS status = live && scratch ? STATUS_SUCCESS : STATUS_INSUFFICIENT_RESOURCES;
  if (NT_SUCCESS(status)) status = ResolveEntries(plan, viewKind, number, live, scratch);
  if (NT_SUCCESS(status)) status = ReadBlocks(plan, plan.entries, 0, plan.blocks);
  for (int round = 0; round < 8 && NT_SUCCESS(status); ++round) {
    PULONG again = live + plan.blocks;
    status = ReadEntries(plan, plan.volume->Header->BlockMapFirst, again, scratch);
    if (!NT_SUCCESS(status)) break;
    bool changed = false;
    for (ULONG j = 0; j < plan.blocks; ++j) {
      if (again[j] == live[j]) continue;
      changed = true;
      live[j] = again[j];
      // Only a block that was read live can have changed under the read.
      if (!NamesSavedCopy(plan.entries[j]) && NamesSavedCopy(again[j]) && viewKind == 0) {
        plan.entries[j] = again[j];
        status = ReadBlocks(plan, plan.entries, j, j + 1);
      } else if (viewKind == 1 && NamesSavedCopy(again[j]) && !NamesSavedCopy(plan.entries[j])) {
        plan.entries[j] = again[j];
        status = ReadBlocks(plan, plan.entries, j, j + 1);
      }
    }
    if (!changed) break;
  }
  if (live != nullptr) ExFreePoolWithTag(live, EnginePoolTag);
  if (scratch != nullptr) ExFreePoolWithTag(scratch, EnginePoolTag);
  return status;
}

// The engine lock for a view read. The drive's removal may run under that
// lock and waits for this worker, so the wait gives up once the drive is
// being removed. PASSIVE_LEVEL, in the drive's worker or the reader's thread.
bool LockForView(const MountDrive* drive) {
  LARGE_INTEGER step;
  step.QuadPart = -500000;  // 50 ms
  for (;;) {
    const NTSTATUS status = EngineLockWithin(&step);
    if (status == STATUS_SUCCESS) return true;
    if (status != STATUS_TIMEOUT || ReadShared(drive->Removing)) return false;
  }
}

NTSTATUS ReadView(PDEVICE_OBJECT device, PIRP irp) {
  PVolumeFilterExtension self = VolumeOf(device);
  MountDrive* drive = self->Mount;
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  const LONGLONG offset = stack->Parameters.Read.ByteOffset.QuadPart;
  const ULONG length = stack->Parameters.Read.Length;
  if (length == 0 || length % SectorBytes != 0 || offset < 0 || offset % SectorBytes != 0 ||
      static_cast<ULONGLONG>(offset) + length > drive->PartitionLength ||
      irp->MdlAddress == nullptr) {
    return STATUS_INVALID_PARAMETER;
  }
  auto* out =
      static_cast<PUCHAR>(MmGetSystemAddressForMdlSafe(irp->MdlAddress, NormalPagePriority));
  if (out == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  ReadPlan plan{};
  plan.volumeDevice = self->LowerDevice;
  plan.volume = VolumeOf(plan.volumeDevice);
  const ULONGLONG firstSector = static_cast<ULONGLONG>(offset) / SectorBytes;
  ULONGLONG block = firstSector / BlockSectors;
  const ULONGLONG lastBlock = (firstSector + length / SectorBytes - 1) / BlockSectors;
  // Buffers for one chunk, no larger than the read needs.
  const ULONG chunk =
      lastBlock - block + 1 < ChunkBlocks ? static_cast<ULONG>(lastBlock - block + 1) : ChunkBlocks;
  plan.entries = static_cast<PULONG>(
      ExAllocatePoolWithTag(NonPagedPool, chunk * sizeof(ULONG), EnginePoolTag));
  plan.data =
      static_cast<PUCHAR>(ExAllocatePoolWithTag(NonPagedPool, chunk * BlockBytes, EnginePoolTag));
  NTSTATUS status = plan.entries && plan.data ? STATUS_SUCCESS : STATUS_INSUFFICIENT_RESOURCES;
  // The engine lock keeps snapshot creation and deletion (and with them
  // the slots and their numbers) still while the maps are read.
  if (NT_SUCCESS(status) && !LockForView(drive)) status = STATUS_IO_DEVICE_ERROR;
  // The volume's worker parked too: its copy-on-write and oldest-drop change
  // the maps and reuse the space blocks this read follows.
  if (NT_SUCCESS(status)) PauseVolumeWorker(plan.volume, 1);
  if (!NT_SUCCESS(status)) {
    if (plan.entries) ExFreePoolWithTag(plan.entries, EnginePoolTag);
    if (plan.data) ExFreePoolWithTag(plan.data, EnginePoolTag);
    return status;
  }
  const vh::EngineHeader* header = plan.volume->Header;
  ULONG number = 0;
  if (header == nullptr || header->SnapshotCount == 0) status = STATUS_INVALID_PARAMETER;
  if (NT_SUCCESS(status) && drive->ViewKind == 0) {
    number = CurrentNumber(header, drive);
    if (number == 0) {
      status = STATUS_NO_SUCH_DEVICE;  // its snapshot was deleted
    } else {
      drive->SnapshotNumber = number;
    }
  }
  ULONG copied = 0;
  ULONG skip = static_cast<ULONG>(firstSector % BlockSectors) * SectorBytes;
  while (NT_SUCCESS(status) && block <= lastBlock) {
    plan.firstBlock = static_cast<ULONG>(block);
    plan.blocks = static_cast<ULONG>(lastBlock - block + 1 < chunk ? lastBlock - block + 1 : chunk);
    status = ReadViewChunk(plan, drive->ViewKind, number);
    if (!NT_SUCCESS(status)) break;
    ULONG take = plan.blocks * BlockBytes - skip;
    if (take > length - copied) take = length - copied;
    RtlCopyMemory(out + copied, plan.data + skip, take);
    copied += take;
    skip = 0;
    block += plan.blocks;
  }
  PauseVolumeWorker(plan.volume, 0);
  EngineUnlock();
  if (plan.entries) ExFreePoolWithTag(plan.entries, EnginePoolTag);
  if (plan.data) ExFreePoolWithTag(plan.data, EnginePoolTag);
  if (NT_SUCCESS(status)) irp->IoStatus.Information = length;
  return status;
}

// View kind 2: the protected volume's own sectors at the same offset.
NTSTATUS RawVolumeIo(PDEVICE_OBJECT device, PIRP irp) {
  MountDrive* drive = DriveOf(device);
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  const bool read = stack->MajorFunction == IRP_MJ_READ;
  const LONGLONG offset = stack->Parameters.Read.ByteOffset.QuadPart;
  const ULONG length = stack->Parameters.Read.Length;
  if (length == 0 || length % SectorBytes != 0 || offset < 0 ||
      static_cast<ULONGLONG>(offset) + length > drive->PartitionLength ||
      irp->MdlAddress == nullptr) {
    return STATUS_INVALID_PARAMETER;
  }
  if (EnginePrimaryVolume == nullptr) return STATUS_NO_SUCH_DEVICE;
  if (!read && drive->ReadOnly) return STATUS_MEDIA_WRITE_PROTECTED;
  auto* user =
      static_cast<PUCHAR>(MmGetSystemAddressForMdlSafe(irp->MdlAddress, NormalPagePriority));
  auto* buffer = static_cast<PUCHAR>(ExAllocatePoolWithTag(NonPagedPool, length, EnginePoolTag));
  if (user == nullptr || buffer == nullptr) {
    if (buffer) ExFreePoolWithTag(buffer, EnginePoolTag);
    return STATUS_INSUFFICIENT_RESOURCES;
  }
  if (!read) RtlCopyMemory(buffer, user, length);
  IO_STATUS_BLOCK ioStatus;
  NTSTATUS status = ReadWriteDiskSectors(read ? 1 : 0, VolumeOf(EnginePrimaryVolume)->LowerDevice,
                                         static_cast<ULONGLONG>(offset), length, buffer, &ioStatus);
  if (NT_SUCCESS(status)) {
    if (read) RtlCopyMemory(user, buffer, length);
    irp->IoStatus.Information = length;
  }
  ExFreePoolWithTag(buffer, EnginePoolTag);
  return status;
}

// ---- Device control -------------------------------------------------------------

void FillPartition(const MountDrive* drive, PARTITION_INFORMATION* entry) {
  RtlZeroMemory(entry, sizeof *entry);
  entry->StartingOffset.QuadPart = 0;
  entry->PartitionLength.QuadPart = static_cast<LONGLONG>(drive->PartitionLength);
  entry->HiddenSectors = drive->HiddenSectors;
  entry->PartitionNumber = 1;
  entry->PartitionType = drive->PartitionType;
  entry->BootIndicator = FALSE;
  entry->RecognizedPartition = TRUE;
  entry->RewritePartition = FALSE;
}

void FillPartitionEx(const MountDrive* drive, PARTITION_INFORMATION_EX* entry) {
  RtlZeroMemory(entry, sizeof *entry);
  entry->PartitionStyle = PARTITION_STYLE_MBR;
  entry->PartitionLength.QuadPart = static_cast<LONGLONG>(drive->PartitionLength);
  entry->PartitionNumber = 1;
  entry->Mbr.PartitionType = drive->PartitionType;
  entry->Mbr.RecognizedPartition = TRUE;
  entry->Mbr.HiddenSectors = drive->HiddenSectors;
}

// Writes a counted name {u16 length, name} (with `lead` bytes before it),
// or its needed size. Information never exceeds the output buffer.
NTSTATUS AnswerName(PUCHAR out, ULONG outLength, ULONG lead, const void* name, USHORT nameBytes,
                    ULONG_PTR* information) {
  const ULONG head = lead + sizeof(USHORT);
  *information = 0;
  if (outLength < head) return STATUS_BUFFER_OVERFLOW;
  RtlZeroMemory(out, head);
  RtlCopyMemory(out + lead, &nameBytes, sizeof nameBytes);
  if (outLength < head + nameBytes) {
    // The caller learns the length and asks again with room for it.
    *information = head;
    return STATUS_BUFFER_OVERFLOW;
  }
  RtlCopyMemory(out + head, name, nameBytes);
  *information = head + nameBytes;
  return STATUS_SUCCESS;
}

// A fixed-size answer, filled when the output holds it. A reply that does
// not fit is answered without bytes: a byte count beyond the caller's
// buffer would be copied past it.
template <typename T, typename Fill>
NTSTATUS AnswerFixed(PUCHAR out, ULONG outLength, NTSTATUS tooSmall, ULONG_PTR* information,
                     Fill fill) {
  *information = 0;
  if (out == nullptr || outLength < sizeof(T)) return tooSmall;
  auto* answer = reinterpret_cast<T*>(out);
  RtlZeroMemory(answer, sizeof *answer);
  fill(answer);
  *information = sizeof(T);
  return STATUS_SUCCESS;
}

NTSTATUS MountDeviceControl(PVolumeFilterExtension self, PIRP irp) {
  const MountDrive* drive = self->Mount;
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
  const ULONG outLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
  auto* out = static_cast<PUCHAR>(irp->AssociatedIrp.SystemBuffer);
  ULONG_PTR information = 0;
  NTSTATUS status = STATUS_INVALID_DEVICE_REQUEST;
  if (drive->NoLetter &&
      (code == CodeUniqueId || code == CodeDeviceName || code == CodeSuggestedLink)) {
    LogFailure("SHAP %08x\n", status);
    return Complete(irp, status, 0);
  }
  switch (code) {
    case CodeGeometry:
    case CodeMediaTypes:
      status = AnswerFixed<DISK_GEOMETRY>(
          out, outLength, STATUS_BUFFER_OVERFLOW, &information, [&](DISK_GEOMETRY* g) {
            g->Cylinders.QuadPart = static_cast<LONGLONG>(drive->Cylinders);
            g->MediaType = FixedMedia;
            g->TracksPerCylinder = drive->TracksPerCylinder;
            g->SectorsPerTrack = drive->SectorsPerTrack;
            g->BytesPerSector = drive->BytesPerSector;
          });
      break;
    case CodeVerify:
      // Nothing is copied back for a verify; its length is not echoed into
      // an output buffer that may have none.
      status = stack->Parameters.DeviceIoControl.InputBufferLength < sizeof(VERIFY_INFORMATION)
                   ? STATUS_INVALID_PARAMETER
                   : STATUS_SUCCESS;
      break;
    case CodeIsWritable:
      status = drive->ReadOnly ? STATUS_MEDIA_WRITE_PROTECTED : STATUS_SUCCESS;
      break;
    case CodePartitionInfoEx:
      status = AnswerFixed<PARTITION_INFORMATION_EX>(
          out, outLength, STATUS_BUFFER_TOO_SMALL, &information,
          [&](PARTITION_INFORMATION_EX* p) { FillPartitionEx(drive, p); });
      break;
    case CodeLayoutEx:
      status = AnswerFixed<DRIVE_LAYOUT_INFORMATION_EX>(
          out, outLength, STATUS_BUFFER_TOO_SMALL, &information,
          [&](DRIVE_LAYOUT_INFORMATION_EX* layout) {
            layout->PartitionStyle = PARTITION_STYLE_MBR;
            layout->PartitionCount = 1;
            FillPartitionEx(drive, &layout->PartitionEntry[0]);
          });
      break;
    case CodePartitionInfo:
      status = AnswerFixed<PARTITION_INFORMATION>(
          out, outLength, STATUS_BUFFER_TOO_SMALL, &information,
          [&](PARTITION_INFORMATION* p) { FillPartition(drive, p); });
      break;
    case CodeLayout:
      status = AnswerFixed<DRIVE_LAYOUT_INFORMATION>(
          out, outLength, STATUS_BUFFER_TOO_SMALL, &information,
          [&](DRIVE_LAYOUT_INFORMATION* layout) {
            layout->PartitionCount = 1;
            FillPartition(drive, &layout->PartitionEntry[0]);
          });
      break;
    case CodeLengthInfo:
      status = AnswerFixed<GET_LENGTH_INFORMATION>(
          out, outLength, STATUS_BUFFER_OVERFLOW, &information, [&](GET_LENGTH_INFORMATION* l) {
            l->Length.QuadPart = static_cast<LONGLONG>(drive->PartitionLength);
          });
      break;
    case CodeDiskCheckVerify:
    case CodeStorageCheckVerify:
      status = STATUS_SUCCESS;
      break;
    case CodeUniqueId: {
      // "QVRDisk" and the drive letter: 8 bytes.
      const UCHAR id[8] = {'Q', 'V', 'R', 'D',
                           'i', 's', 'k', static_cast<UCHAR>('A' + drive->DriveIndex)};
      status =
          out ? AnswerName(out, outLength, 0, id, sizeof id, &information) : STATUS_BUFFER_OVERFLOW;
      break;
    }
    case CodeDeviceName:
      status = out ? AnswerName(out, outLength, 0, self->DeviceName.Buffer, self->DeviceName.Length,
                                &information)
                   : STATUS_BUFFER_OVERFLOW;
      break;
    case CodeSuggestedLink:
      // {u8 use-only-without-other-links, u16 length, name}, laid out as the
      // record is (the length at its natural offset 2).
      status =
          out == nullptr || outLength < 6
              ? STATUS_INVALID_PARAMETER
              : AnswerName(out, outLength, FIELD_OFFSET(MOUNTDEV_SUGGESTED_LINK_NAME, NameLength),
                           self->DosName.Buffer, self->DosName.Length, &information);
      break;
    default:
      break;
  }
  if (!NT_SUCCESS(status)) LogFailure("SHAP %08x\n", status);
  return Complete(irp, status, information);
}

// ---- The worker -----------------------------------------------------------------

PIRP IrpOfEntry(PLIST_ENTRY entry) {
  return reinterpret_cast<PIRP>(reinterpret_cast<PUCHAR>(entry) -
                                offsetof(IRP, Tail.Overlay.ListEntry));
}

// A drive's request holds its volume's remove lock from its dispatch to
// its answer: the volume's removal waits for it rather than stopping the
// worker or freeing the filter under a read.
NTSTATUS HoldVolume(PDEVICE_OBJECT device, PIRP irp) {
  return IoAcquireRemoveLock(&VolumeOf(VolumeOf(device)->LowerDevice)->RemoveLock, irp);
}
void ReleaseVolume(PDEVICE_OBJECT device, PIRP irp) {
  IoReleaseRemoveLock(&VolumeOf(VolumeOf(device)->LowerDevice)->RemoveLock, irp);
}

NTSTATUS Serve(PDEVICE_OBJECT device, PIRP irp) {
  PVolumeFilterExtension self = VolumeOf(device);
  MountDrive* drive = self->Mount;
  switch (IoGetCurrentIrpStackLocation(irp)->MajorFunction) {
    case IRP_MJ_READ: {
      irp->IoStatus.Information = 0;
      NTSTATUS status = drive->ViewKind == 2 ? RawVolumeIo(device, irp) : ReadView(device, irp);
      if (!NT_SUCCESS(status)) {
        LogFailure("SHAP %08x\n", status);
        irp->IoStatus.Information = 0;
      }
      return Complete(irp, status, irp->IoStatus.Information);
    }
    case IRP_MJ_WRITE: {
      irp->IoStatus.Information = 0;
      NTSTATUS status =
          drive->ViewKind == 2 ? RawVolumeIo(device, irp) : STATUS_MEDIA_WRITE_PROTECTED;
      if (!NT_SUCCESS(status)) irp->IoStatus.Information = 0;
      return Complete(irp, status, irp->IoStatus.Information);
    }
    case IRP_MJ_DEVICE_CONTROL:
      return MountDeviceControl(self, irp);
    default:  // flush
      return Complete(irp, STATUS_SUCCESS, 0);
  }
}

NTSTATUS MountDeviceStart(PDEVICE_OBJECT device) {
  PVolumeFilterExtension self = VolumeOf(device);
  MountDrive* drive = self->Mount;
  PVolumeFilterExtension volume = VolumeOf(self->LowerDevice);
  if (volume == nullptr || volume->LowerDevice == nullptr) return STATUS_NO_SUCH_DEVICE;
  PARTITION_INFORMATION partition;
  NTSTATUS status = GetPartitionInfo(volume->LowerDevice, &partition);
  if (!NT_SUCCESS(status)) return status;
  drive->PartitionLength = static_cast<ULONGLONG>(partition.PartitionLength.QuadPart);
  drive->PartitionType = 0;
  drive->HiddenSectors = 1;
  DISK_GEOMETRY geometry;
  ULONG_PTR bytes = 0;
  status = SendDeviceIoctl(volume->LowerDevice, CodeGeometry, nullptr, 0, &geometry,
                           sizeof geometry, &bytes);
  if (NT_SUCCESS(status) && bytes < sizeof geometry) status = STATUS_UNSUCCESSFUL;
  if (!NT_SUCCESS(status)) return status;
  drive->Cylinders = static_cast<ULONGLONG>(geometry.Cylinders.QuadPart);
  drive->TracksPerCylinder = geometry.TracksPerCylinder;
  drive->SectorsPerTrack = geometry.SectorsPerTrack;
  drive->BytesPerSector = geometry.BytesPerSector;
  LogFailure("MountNode %08x\n", drive->SnapshotNumber);
  device->StackSize = static_cast<CCHAR>(self->LowerDevice->StackSize + 1);
  device->AlignmentRequirement = self->LowerDevice->AlignmentRequirement;
  return STATUS_SUCCESS;
}

void MountWorkerThread(PVOID context) {
  auto* device = static_cast<PDEVICE_OBJECT>(context);
  MountDrive* drive = DriveOf(device);
  KeSetPriorityThread(KeGetCurrentThread(), 16);
  drive->StartStatus = MountDeviceStart(device);
  const bool started = NT_SUCCESS(drive->StartStatus);
  KeSetEvent(&drive->StartEvent, IO_NO_INCREMENT, FALSE);
  if (!started) return;
  LARGE_INTEGER second;
  second.QuadPart = -10000000;
  for (;;) {
    // PASSIVE_LEVEL; MountQueueIrp and StopMountWorker release it.
    NTSTATUS status =
        KeWaitForSingleObject(&drive->QueueSemaphore, Executive, KernelMode, FALSE, &second);
    if (status == STATUS_SUCCESS) {
      for (PLIST_ENTRY entry = ExInterlockedRemoveHeadList(&drive->Queue, &drive->QueueLock);
           entry != nullptr;
           entry = ExInterlockedRemoveHeadList(&drive->Queue, &drive->QueueLock)) {
        PIRP irp = IrpOfEntry(entry);
        Serve(device, irp);
        ReleaseVolume(device, irp);
      }
    }
    if (ReadShared(drive->StopFlag)) break;
  }
}

NTSTATUS StartMountWorker(PDEVICE_OBJECT device) {
  MountDrive* drive = DriveOf(device);
  WriteShared(drive->StopFlag, static_cast<UCHAR>(0));
  HANDLE handle = nullptr;
  NTSTATUS status = PsCreateSystemThread(&handle, THREAD_ALL_ACCESS, nullptr, nullptr, nullptr,
                                         MountWorkerThread, device);
  if (!NT_SUCCESS(status)) return status;
  PVOID object = nullptr;
  status = ObReferenceObjectByHandle(handle, THREAD_ALL_ACCESS, *PsThreadType, KernelMode, &object,
                                     nullptr);
  ZwClose(handle);
  if (!NT_SUCCESS(status)) {
    // The thread still runs: it must not outlive the device. Wait for its
    // start, then tell it to end; it ends within a second.
    KeWaitForSingleObject(&drive->StartEvent, Executive, KernelMode, FALSE, nullptr);
    WriteShared(drive->StopFlag, static_cast<UCHAR>(1));
    KeReleaseSemaphore(&drive->QueueSemaphore, IO_NO_INCREMENT, 1, FALSE);
    return status;
  }
  drive->Thread = static_cast<PKTHREAD>(object);
  // PASSIVE_LEVEL; the worker sets it once MountDeviceStart has answered.
  KeWaitForSingleObject(&drive->StartEvent, Executive, KernelMode, FALSE, nullptr);
  return drive->StartStatus;
}

void StopMountWorker(MountDrive* drive) {
  WriteShared(drive->StopFlag, static_cast<UCHAR>(1));
  KeReleaseSemaphore(&drive->QueueSemaphore, IO_NO_INCREMENT, 1, FALSE);
  if (drive->Thread == nullptr) return;
  // PASSIVE_LEVEL; the thread object is signalled when the worker returns.
  NTSTATUS status = KeWaitForSingleObject(drive->Thread, Executive, KernelMode, FALSE, nullptr);
  if (status != STATUS_SUCCESS) LogFailure("SHAP %08x\n", status);
  ObDereferenceObject(drive->Thread);
  drive->Thread = nullptr;
}

void SetName(UNICODE_STRING* name, WCHAR* buffer, const WCHAR* text, ULONG letterAt, WCHAR letter) {
  ULONG n = 0;
  for (; text[n] != 0; ++n) buffer[n] = text[n];
  buffer[n] = 0;
  buffer[letterAt] = letter;
  name->Buffer = buffer;
  name->Length = static_cast<USHORT>(n * sizeof(WCHAR));
  name->MaximumLength = EngineNameBytes;
}

// Answers every request still queued once the worker has ended.
void FailQueued(PDEVICE_OBJECT device, MountDrive* drive) {
  for (PLIST_ENTRY entry = ExInterlockedRemoveHeadList(&drive->Queue, &drive->QueueLock);
       entry != nullptr; entry = ExInterlockedRemoveHeadList(&drive->Queue, &drive->QueueLock)) {
    PIRP irp = IrpOfEntry(entry);
    Complete(irp, STATUS_IO_DEVICE_ERROR, 0);
    ReleaseVolume(device, irp);
  }
}

// Whether "\DosDevices\X:" names something already (a volume, another
// drive, a link someone else made): a name that opens, or one that exists
// but does not open, is in use.
bool LetterInUse(WCHAR letter) {
  WCHAR buffer[16];
  UNICODE_STRING name;
  SetName(&name, buffer, VH_WIDE("\\DosDevices\\%:"), 12, letter);
  name.MaximumLength = sizeof buffer;
  PFILE_OBJECT file = nullptr;
  PDEVICE_OBJECT device = nullptr;
  NTSTATUS status = IoGetDeviceObjectPointer(&name, FILE_READ_ATTRIBUTES, &file, &device);
  if (NT_SUCCESS(status)) {
    ObDereferenceObject(file);
    return true;
  }
  return status != STATUS_OBJECT_NAME_NOT_FOUND && status != STATUS_OBJECT_PATH_NOT_FOUND;
}

// Serves a read in the sender's thread, already counted in InlineReads
// (the drive's removal waits for it), and counts it out. PASSIVE_LEVEL.
NTSTATUS ReadInline(PDEVICE_OBJECT device, MountDrive* drive, PIRP irp) {
  const NTSTATUS status = Serve(device, irp);
  ReleaseVolume(device, irp);
  KIRQL irql;
  KeAcquireSpinLock(&drive->QueueLock, &irql);
  // Set under the lock: a removal that takes the lock after this knows the
  // read touches the drive no more.
  if (--drive->InlineReads == 0) KeSetEvent(&drive->InlineReadsDrained, IO_NO_INCREMENT, FALSE);
  KeReleaseSpinLock(&drive->QueueLock, irql);
  return status;
}

}  // namespace

PKEVENT InlineReadsDrained(PDEVICE_OBJECT mountDevice) {
  MountDrive* drive = DriveOf(mountDevice);
  return drive != nullptr ? &drive->InlineReadsDrained : nullptr;
}

NTSTATUS MountSnapshot(PDEVICE_OBJECT volumeDevice, MountRequest* request) {
  PVolumeFilterExtension volume = VolumeOf(volumeDevice);
  request->Result = 0;
  if ((request->NoLetter == 0 && request->DriveIndex > 25) || request->DriveIndex > 0xFF) {
    request->Result = 1;
    LogFailure("SHAP %08x\n", STATUS_UNSUCCESSFUL);
    return STATUS_UNSUCCESSFUL;
  }
  // No view serves a kind above 2; a view of a snapshot needs its header.
  vh::MountEntry* entry = EntryOf(request);
  if (request->ViewKind > 2 || entry == nullptr || volume == nullptr ||
      EngineDriverObject == nullptr ||
      (request->ViewKind == 0 &&
       (volume->Header == nullptr ||
        DescriptorOf(volume->Header, request->SnapshotNumber) == nullptr))) {
    LogFailure("SHAP %08x\n", STATUS_INVALID_PARAMETER);
    return STATUS_INVALID_PARAMETER;
  }
  const WCHAR letter = static_cast<WCHAR>('A' + request->DriveIndex);
  if (!request->NoLetter && LetterInUse(letter)) {
    request->Result = 1;
    LogFailure("SHAP %08x\n", STATUS_OBJECT_NAME_COLLISION);
    return STATUS_OBJECT_NAME_COLLISION;
  }
  WCHAR nameBuffer[48];
  UNICODE_STRING name;
  SetName(&name, nameBuffer, VH_WIDE("\\Device\\5E27-B4%9-4A1F-9C63"), 15, letter);
  PDEVICE_OBJECT device = nullptr;
  // A raw open of the drive reads the snapshot past every file permission:
  // SYSTEM and the administrators only, as the control device.
  NTSTATUS status = CreateAdministratorsOnlyDevice(
      EngineDriverObject, sizeof(VolumeFilterExtension) + sizeof(MountDrive), &name,
      FILE_DEVICE_DISK, &device);
  if (!NT_SUCCESS(status)) {
    LogFailure("SHAP %08x\n", status);
    return status;
  }
  device->Flags |= DO_DIRECT_IO;
  PVolumeFilterExtension self = VolumeOf(device);
  RtlZeroMemory(self, sizeof(VolumeFilterExtension) + sizeof(MountDrive));
  self->Kind = KindMount;
  self->Mount = reinterpret_cast<MountDrive*>(self + 1);
  MountDrive* drive = self->Mount;
  drive->DriveIndex = request->DriveIndex;
  drive->ReadOnly = request->ReadOnly;
  drive->NoLetter = request->NoLetter;
  drive->SnapshotNumber = request->SnapshotNumber;
  drive->ViewKind = request->ViewKind;
  if (request->ViewKind == 0)
    drive->Identity = *DescriptorOf(volume->Header, request->SnapshotNumber);
  SetName(&self->DeviceName, self->DeviceNameBuffer, VH_WIDE("\\Device\\5E27-B4%9-4A1F-9C63"), 15,
          letter);
  SetName(&self->DosName, self->DosNameBuffer, VH_WIDE("\\DosDevices\\%:"), 12, letter);
  self->DriveLetter = letter;
  KeInitializeEvent(&drive->StartEvent, SynchronizationEvent, FALSE);
  KeInitializeSemaphore(&drive->QueueSemaphore, 0, 0x7FFFFFFF);
  InitializeListHead(&drive->Queue);
  KeInitializeSpinLock(&drive->QueueLock);
  KeInitializeEvent(&drive->InlineReadsDrained, NotificationEvent, TRUE);
  self->LowerDevice = volumeDevice;
  entry->MountDevice = reinterpret_cast<ULONG_PTR>(device);

  status = StartMountWorker(device);
  if (!NT_SUCCESS(status)) {
    LogFailure("SHAP %08x\n", status);
    StopMountWorker(drive);
    IoDeleteDevice(device);
    entry->MountDevice = 0;
    return status;
  }
  if (drive->ReadOnly) device->Characteristics |= FILE_READ_ONLY_DEVICE;
  device->Flags &= ~static_cast<ULONG>(DO_DEVICE_INITIALIZING);
  status = NotifyVolumeArrival(self);
  if (!NT_SUCCESS(status)) LogFailure("SHAP %08x\n", status);
  if (!drive->NoLetter) {
    status = CreateMountPoint(self);
    if (!NT_SUCCESS(status)) LogFailure("SHAP %08x\n", status);
    drive->MadeMountPoint = NT_SUCCESS(status) ? 1 : 0;
    // The mount manager's point is the link; one made here only when it
    // made none.
    if (!NT_SUCCESS(status)) {
      status = CreateDosLink(self);
      if (!NT_SUCCESS(status)) LogFailure("SHAP %08x\n", status);
      drive->MadeDosLink = NT_SUCCESS(status) ? 1 : 0;
    }
  }
  return STATUS_SUCCESS;
}

NTSTATUS UnmountSnapshot(PDEVICE_OBJECT, MountRequest* request) {
  vh::MountEntry* entry = EntryOf(request);
  if (entry == nullptr || entry->MountDevice == 0) {
    LogFailure("SHAP %08x\n", STATUS_UNSUCCESSFUL);
    return STATUS_UNSUCCESSFUL;
  }
  NTSTATUS status = DeleteMountDevice(DeviceOfEntry(entry));
  if (!NT_SUCCESS(status)) LogFailure("SHAP %08x\n", status);
  entry->MountDevice = 0;
  return status;
}

NTSTATUS DeleteMountDevice(PDEVICE_OBJECT device) {
  MountDrive* drive = DriveOf(device);
  if (drive == nullptr) return STATUS_INVALID_PARAMETER;
  PVolumeFilterExtension self = VolumeOf(device);
  // A file system mounted on the drive is locked and dismounted first.
  HANDLE handle = nullptr;
  PFILE_OBJECT file = nullptr;
  const bool mounted = device->Vpb != nullptr && (device->Vpb->Flags & VPB_MOUNTED) != 0;
  if (mounted) {
    NTSTATUS status = OpenAndReferenceFile(&self->DosName, &handle, &file);
    if (!NT_SUCCESS(status) && !self->Mount->NoLetter && !drive->MadeMountPoint &&
        !drive->MadeDosLink && !LetterInUse(self->DriveLetter)) {
      drive->MadeDosLink = NT_SUCCESS(CreateDosLink(self)) ? 1 : 0;
      status = OpenAndReferenceFile(&self->DosName, &handle, &file);
    }
    if (NT_SUCCESS(status)) {
      SendFileSystemControl(file, FSCTL_LOCK_VOLUME);
      SendFileSystemControl(file, FSCTL_DISMOUNT_VOLUME);
    }
    device->Flags |= DO_VERIFY_VOLUME;
  }
  KIRQL irql;
  KeAcquireSpinLock(&drive->QueueLock, &irql);
  WriteShared(drive->Removing, static_cast<UCHAR>(1));
  KeReleaseSpinLock(&drive->QueueLock, irql);
  // Only the links this drive made go: the letter may be another volume's.
  if (drive->MadeMountPoint) {
    NTSTATUS status = DeleteMountPoints(self);
    if (!NT_SUCCESS(status)) LogFailure("SHAP %08x\n", status);
  }
  if (drive->MadeMountPoint || drive->MadeDosLink) {
    NTSTATUS status = IoDeleteSymbolicLink(&self->DosName);
    if (!NT_SUCCESS(status) && status != STATUS_OBJECT_NAME_NOT_FOUND)
      LogFailure("SHAP %08x\n", status);
  }
  if (file != nullptr) ObDereferenceObject(file);
  if (handle != nullptr) ZwClose(handle);
  // No read starts in its sender's thread any more (Removing was set under
  // QueueLock); one still running uses the drive until it has answered. It
  // holds no lock the removal may hold: one waiting for the engine lock
  // gives up on Removing. PASSIVE_LEVEL; the last such read sets it.
  KeWaitForSingleObject(&drive->InlineReadsDrained, Executive, KernelMode, FALSE, nullptr);
  // The reference count is the I/O manager's: opens still held keep the
  // device (and its extension) until they close.
  StopMountWorker(drive);
  FailQueued(device, drive);
  IoDeleteDevice(device);
  return STATUS_SUCCESS;
}

NTSTATUS MountQueueIrp(PDEVICE_OBJECT device, PIRP irp) {
  MountDrive* drive = DriveOf(device);
  const UCHAR major = IoGetCurrentIrpStackLocation(irp)->MajorFunction;
  const bool queued = major == IRP_MJ_READ || major == IRP_MJ_WRITE ||
                      major == IRP_MJ_FLUSH_BUFFERS || major == IRP_MJ_DEVICE_CONTROL;
  if (major == IRP_MJ_SHUTDOWN || (queued && (drive == nullptr || ReadShared(drive->Removing)))) {
    LogFailure("SHAP %08x\n", STATUS_IO_DEVICE_ERROR);
    return Complete(irp, STATUS_IO_DEVICE_ERROR, 0);
  }
  if (!queued) return Complete(irp, STATUS_DRIVER_INTERNAL_ERROR, 0);
  // A read needs no hop to the worker where its sender may wait: the same
  // view read, under the same locks, runs here. Not in a thread holding
  // the engine lock: the read takes it and parks the volume's worker itself.
  const bool here =
      major == IRP_MJ_READ && KeGetCurrentIrql() == PASSIVE_LEVEL && !EngineLockHeldHere();
  // Tested again under the queue's lock: the removal sets it under the same
  // lock, so a request is either refused here or answered by the removal
  // (queued) or waited for (served here).
  KIRQL irql;
  KeAcquireSpinLock(&drive->QueueLock, &irql);
  if (drive->Removing) {
    KeReleaseSpinLock(&drive->QueueLock, irql);
    LogFailure("SHAP %08x\n", STATUS_IO_DEVICE_ERROR);
    return Complete(irp, STATUS_IO_DEVICE_ERROR, 0);
  }
  // The volume outlives a drive that is not being removed, so its lock is
  // there; a volume already leaving refuses the request.
  const NTSTATUS held = HoldVolume(device, irp);
  if (!NT_SUCCESS(held)) {
    KeReleaseSpinLock(&drive->QueueLock, irql);
    LogFailure("SHAP %08x\n", held);
    return Complete(irp, held, 0);
  }
  if (here) {
    if (drive->InlineReads++ == 0) KeClearEvent(&drive->InlineReadsDrained);
    KeReleaseSpinLock(&drive->QueueLock, irql);
    return ReadInline(device, drive, irp);
  }
  IoMarkIrpPending(irp);
  InsertTailList(&drive->Queue, &irp->Tail.Overlay.ListEntry);
  KeReleaseSpinLock(&drive->QueueLock, irql);
  KeReleaseSemaphore(&drive->QueueSemaphore, IO_NO_INCREMENT, 1, FALSE);
  return STATUS_PENDING;
}

NTSTATUS MountDeviceDispatch(PDEVICE_OBJECT device, PIRP irp) { return MountQueueIrp(device, irp); }

void DeleteVolumeDrives(PDEVICE_OBJECT volume) {
  vh::MountTable* table = Table();
  if (table == nullptr) return;
  for (vh::MountEntry& entry : table->Entries) {
    if (entry.VolumeDevice != reinterpret_cast<ULONG_PTR>(volume)) continue;
    // A drive still open keeps its device after the deletion; it refuses
    // its I/O, and what it passed down (cleanup, close of the open file)
    // finds no lower device rather than the filter that is about to go.
    PDEVICE_OBJECT drive = entry.MountDevice != 0 ? DeviceOfEntry(&entry) : nullptr;
    if (drive != nullptr) {
      ObReferenceObject(drive);
      DeleteMountDevice(drive);
      VolumeOf(drive)->LowerDevice = nullptr;
      ObDereferenceObject(drive);
    }
    RtlZeroMemory(&entry, sizeof entry);
  }
}

void SyncSnapshotDrives(PDEVICE_OBJECT volume) {
  vh::MountTable* table = Table();
  if (table == nullptr) return;
  const vh::EngineHeader* header = VolumeOf(volume)->Header;
  // Numbers only ever move down (a delete, an oldest-drop), so walking up
  // the table moves each entry onto one already settled.
  for (ULONG index = 0; index < vh::kCurrentStateEntry; ++index) {
    vh::MountEntry& entry = table->Entries[index];
    if (entry.VolumeDevice != reinterpret_cast<ULONG_PTR>(volume) || entry.MountDevice == 0)
      continue;
    PDEVICE_OBJECT device = DeviceOfEntry(&entry);
    MountDrive* drive = DriveOf(device);
    const ULONG number = header != nullptr && drive != nullptr ? CurrentNumber(header, drive) : 0;
    if (number == index + 1) continue;
    if (number == 0) {
      // Its snapshot is gone: so is the drive.
      DeleteMountDevice(device);
      RtlZeroMemory(&entry, sizeof entry);
      continue;
    }
    vh::MountEntry& target = table->Entries[number - 1];
    if (target.InUse || target.MountDevice != 0) continue;  // another volume's drive holds it
    RtlCopyMemory(&target, &entry, sizeof entry);
    RtlZeroMemory(&entry, sizeof entry);
    drive->SnapshotNumber = number;
  }
}

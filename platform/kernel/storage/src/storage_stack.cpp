#include "vh/storage/storage_stack.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <thread>

#include "hostkernel/call_and_wait.h"
#include "hostkernel/control.h"
#include "vh/storage/byte_order.h"

namespace vh::storage {

namespace {

constexpr ULONG kFsctlUnlockVolume = 0x0009001Cu;
constexpr ULONG kMountDevUniqueIdBytes = 12;  // MBR signature, then the partition's byte offset
constexpr NTSTATUS kStatusFileDeleted = static_cast<NTSTATUS>(0xC0000123);
constexpr NTSTATUS kStatusDiskFullNt = static_cast<NTSTATUS>(kStatusDiskFull);
constexpr NTSTATUS kStatusFileIsADirectory = static_cast<NTSTATUS>(0xC00000BA);
constexpr NTSTATUS kStatusNotADirectory = static_cast<NTSTATUS>(0xC0000103);

// FILE_OBJECT context of the file-system device: what the open named.
struct FileContext {
  enum Kind { kVolumeOpen, kDirectory, kFile } kind;
  std::u16string path;  // model path; files are found again on each request
  StorageStack::DeviceContext* owner;
};

// Contexts handed out, so that a handle named in a request (MARK_HANDLE) is
// recognised without trusting another driver's FsContext.
std::mutex g_contextLock;
std::set<const FileContext*> g_liveContexts;

NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

NTSTATUS Complete(PIRP irp, const IoAnswer& answer) {
  return Complete(irp, static_cast<NTSTATUS>(answer.status), answer.information);
}

std::u16string NumberedName(const char16_t* prefix, uint32_t number) {
  std::u16string name = prefix;
  std::string digits = std::to_string(number);
  name.append(digits.begin(), digits.end());
  return name;
}

}  // namespace

struct StorageStack::DeviceContext {
  enum Kind { kDisk, kVolume, kFileSystem, kMountManager } kind = kDisk;
  Disk* disk = nullptr;
  Volume* volume = nullptr;
  FileSystemModel* fs = nullptr;
  Partition partition;  // number 0 for the whole disk
  std::u16string name;
  PDEVICE_OBJECT device = nullptr;
  PDEVICE_OBJECT volumeDevice = nullptr;   // the file system's volume
  DeviceContext* volumeContext = nullptr;  // the file system's volume's context
  VolumeKnobs knobs;
  mutable std::mutex recordLock;  // also guards completions
  VolumeRecords records;
  std::vector<std::thread> completions;  // joined before the device goes
  // The mount manager's.
  std::map<std::u16string, char16_t> lettersOnArrival;  // upper-case device names
  std::map<std::u16string, std::u16string> points;      // link (PointKey) -> device name
  MountManagerRecords mountManager;
};

namespace {

using DeviceContext = StorageStack::DeviceContext;

DeviceContext* ContextOfDevice(PDEVICE_OBJECT device) {
  return *static_cast<DeviceContext**>(device->DeviceExtension);
}

// ------------------------------------------------------------ disk and volumes

IoAnswer Transfer(DeviceContext* c, bool write, uint64_t offset, uint32_t length, void* buffer) {
  if (c->kind == DeviceContext::kDisk) {
    return write ? c->disk->Write(offset, length, buffer) : c->disk->Read(offset, length, buffer);
  }
  return c->volume->Transfer(write, offset, length, buffer);
}

IoAnswer DispatchTransfer(DeviceContext* c, PIO_STACK_LOCATION stack, PIRP irp) {
  const bool write = stack->MajorFunction == IRP_MJ_WRITE;
  const ULONG length = stack->Parameters.Read.Length;
  const LONGLONG offset = stack->Parameters.Read.ByteOffset.QuadPart;
  if (offset < 0) return IoAnswer{STATUS_INVALID_PARAMETER, 0};
  if (length == 0) return IoAnswer{STATUS_SUCCESS, 0};
  void* buffer =
      irp->MdlAddress ? MmGetSystemAddressForMdlSafe(irp->MdlAddress, NormalPagePriority) : nullptr;
  if (buffer == nullptr) return IoAnswer{STATUS_INSUFFICIENT_RESOURCES, 0};
  // The MDL describes the caller's buffer: never move more than it holds.
  if (MmGetMdlByteCount(irp->MdlAddress) < length) return IoAnswer{STATUS_INVALID_PARAMETER, 0};
  return Transfer(c, write, static_cast<uint64_t>(offset), length, buffer);
}

IoAnswer AnswerLengthInfo(uint64_t bytes, void* out, uint32_t outLength) {
  if (out == nullptr || outLength < sizeof(GET_LENGTH_INFORMATION))
    return {kStatusBufferTooSmall, 0};
  PutLe64(static_cast<uint8_t*>(out), bytes);
  return {kStatusSuccess, sizeof(GET_LENGTH_INFORMATION)};
}

// MOUNTDEV_UNIQUE_ID as a basic disk's volume gives it: the disk signature
// and the partition's starting offset.
IoAnswer AnswerUniqueId(const DeviceContext* c, void* out, uint32_t outLength) {
  if (out == nullptr || outLength < sizeof(MOUNTDEV_UNIQUE_ID)) return {kStatusInvalidParameter, 0};
  auto* p = static_cast<uint8_t*>(out);
  PutLe16(p, static_cast<uint16_t>(kMountDevUniqueIdBytes));
  if (outLength < 2 + kMountDevUniqueIdBytes)
    return {kStatusBufferOverflow, sizeof(MOUNTDEV_UNIQUE_ID)};
  PutLe32(p + 2, c->disk->Signature());
  PutLe64(p + 6, c->partition.StartByte());
  return {kStatusSuccess, 2 + kMountDevUniqueIdBytes};
}

IoAnswer DispatchDeviceControl(DeviceContext* c, PIO_STACK_LOCATION stack, PIRP irp) {
  const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
  const ULONG outLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
  if (METHOD_FROM_CTL_CODE(code) != METHOD_BUFFERED)
    return IoAnswer{STATUS_INVALID_DEVICE_REQUEST, 0};
  void* out = irp->AssociatedIrp.SystemBuffer;
  const VolumeKnobs& knobs = c->knobs;
  switch (code) {
    case IOCTL_DISK_GET_PARTITION_INFO:
      if (knobs.partitionInfoStatus != 0) return IoAnswer{knobs.partitionInfoStatus, 0};
      return AnswerPartitionInfo(c->partition, out, outLength);
    case IOCTL_STORAGE_GET_HOTPLUG_INFO:
      if (knobs.hotplugStatus != 0) return IoAnswer{knobs.hotplugStatus, 0};
      return AnswerHotplugInfo(knobs.hotplug, out, outLength);
    case IOCTL_STORAGE_GET_DEVICE_NUMBER:
      if (knobs.deviceNumberStatus != 0) return IoAnswer{knobs.deviceNumberStatus, 0};
      return AnswerDeviceNumber(0, c->partition.number, out, outLength);
    case IOCTL_DISK_GET_DRIVE_GEOMETRY:
      return AnswerDriveGeometry(*c->disk, knobs.geometryBytesPerSector, out, outLength);
    case IOCTL_DISK_GET_LENGTH_INFO:
      return AnswerLengthInfo(c->partition.ByteLength(), out, outLength);
    case IOCTL_DISK_IS_WRITABLE:
    case IOCTL_VOLUME_ONLINE:
      return IoAnswer{STATUS_SUCCESS, 0};
    case IOCTL_MOUNTDEV_QUERY_DEVICE_NAME:
      return AnswerMountDevName(c->name, out, outLength);
    case IOCTL_MOUNTDEV_QUERY_UNIQUE_ID:
      if (c->kind != DeviceContext::kVolume) break;
      return AnswerUniqueId(c, out, outLength);
    default:
      break;
  }
  return IoAnswer{STATUS_INVALID_DEVICE_REQUEST, 0};
}

// Completes a disk or volume request in the way the device's knob names,
// as real disk drivers do (inline, or pending and from another thread).
NTSTATUS Finish(DeviceContext* c, PIRP irp, const IoAnswer& answer) {
  irp->IoStatus.Status = answer.status;
  irp->IoStatus.Information = answer.information;
  const StorageCompletion mode = c->knobs.completion;
  if (mode == StorageCompletion::kInline) {
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return answer.status;
  }
  IoMarkIrpPending(irp);
  if (mode == StorageCompletion::kPendingInline) {
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_PENDING;
  }
  const bool raise = mode == StorageCompletion::kOtherThreadAtDispatch;
  std::lock_guard<std::mutex> guard(c->recordLock);
  c->completions.emplace_back([irp, raise] {
    try {
      KIRQL old = PASSIVE_LEVEL;
      if (raise) KeRaiseIrql(DISPATCH_LEVEL, &old);
      IoCompleteRequest(irp, IO_NO_INCREMENT);
      if (raise) KeLowerIrql(old);
    } catch (const hk::KernelFault& fault) {
      hk::ReportThreadFault(fault.what());
    }
  });
  return STATUS_PENDING;
}

NTSTATUS StorageDispatch(PDEVICE_OBJECT device, PIRP irp) {
  DeviceContext* c = ContextOfDevice(device);
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  switch (stack->MajorFunction) {
    case IRP_MJ_CREATE:
    case IRP_MJ_CLEANUP:
    case IRP_MJ_CLOSE:
      return Complete(irp, STATUS_SUCCESS, 0);
    case IRP_MJ_READ:
    case IRP_MJ_WRITE:
      return Finish(c, irp, DispatchTransfer(c, stack, irp));
    case IRP_MJ_FLUSH_BUFFERS:
      return Finish(c, irp, c->disk->Flush());
    case IRP_MJ_DEVICE_CONTROL:
      return Finish(c, irp, DispatchDeviceControl(c, stack, irp));
    case IRP_MJ_FILE_SYSTEM_CONTROL: {
      // Only a file system answers these; one reached the volume itself
      // with a file object its stack never opened.
      std::lock_guard<std::mutex> guard(c->recordLock);
      ++c->records.foreignFileSystemControls;
      break;
    }
    case IRP_MJ_PNP:
      if (c->knobs.pnpReached) c->knobs.pnpReached(stack->MinorFunction);
      return Complete(irp, STATUS_SUCCESS, 0);
    case IRP_MJ_POWER:
      PoStartNextPowerIrp(irp);
      return Complete(irp, STATUS_SUCCESS, 0);
    default:
      break;
  }
  return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
}

// ------------------------------------------------------------ the file system

// One synchronous request to the top of the volume's stack, so that it
// passes every filter attached there. PASSIVE_LEVEL, the caller's thread.
NTSTATUS SendDown(DeviceContext* c, UCHAR major, uint64_t offset, ULONG length, void* buffer) {
  PDEVICE_OBJECT top = IoGetAttachedDeviceReference(c->volumeDevice);
  KEVENT event;
  KeInitializeEvent(&event, NotificationEvent, FALSE);
  IO_STATUS_BLOCK ioStatus{};
  LARGE_INTEGER position;
  position.QuadPart = static_cast<LONGLONG>(offset);
  PIRP irp = IoBuildSynchronousFsdRequest(major, top, buffer, length, &position, &event, &ioStatus);
  NTSTATUS status = STATUS_INSUFFICIENT_RESOURCES;
  if (irp != nullptr) {
    status = hk::CallDriverAndWait(top, irp, &event, &ioStatus);
    if (NT_SUCCESS(status) && major != IRP_MJ_FLUSH_BUFFERS && ioStatus.Information != length) {
      status = STATUS_IO_DEVICE_ERROR;  // a short transfer below is an I/O error to the file system
    }
  }
  ObDereferenceObject(top);
  return status;
}

NTSTATUS SendRuns(DeviceContext* c, bool write, const std::vector<SectorRun>& runs,
                  uint8_t* buffer) {
  for (const SectorRun& run : runs) {
    uint64_t bytes = run.sectors * kDiskSectorBytes;
    NTSTATUS status =
        SendDown(c, write ? IRP_MJ_WRITE : IRP_MJ_READ, run.volumeSector * kDiskSectorBytes,
                 static_cast<ULONG>(bytes), buffer);
    if (!NT_SUCCESS(status)) return status;
    buffer += bytes;
  }
  return STATUS_SUCCESS;
}

// File data through the volume stack. Cached handles may use any offset and
// length (partial sectors go through a bounce buffer, read-modify-write);
// non-cached ones need whole sectors, as NT requires.
NTSTATUS TransferFile(DeviceContext* c, const FileContext* file, PFILE_OBJECT fileObject,
                      bool write, uint64_t offset, ULONG length, uint8_t* buffer, ULONG* moved) {
  *moved = 0;
  const bool noBuffering = (fileObject->Flags & FO_NO_INTERMEDIATE_BUFFERING) != 0;
  if (noBuffering && (offset % kDiskSectorBytes != 0 || length % kDiskSectorBytes != 0)) {
    return STATUS_INVALID_PARAMETER;
  }
  if (file->kind == FileContext::kDirectory) return STATUS_INVALID_DEVICE_REQUEST;
  if (file->kind == FileContext::kVolumeOpen) {
    if (offset % kDiskSectorBytes != 0 || length % kDiskSectorBytes != 0)
      return STATUS_INVALID_PARAMETER;
    NTSTATUS status = SendDown(c, write ? IRP_MJ_WRITE : IRP_MJ_READ, offset, length, buffer);
    if (NT_SUCCESS(status)) *moved = length;
    return status;
  }
  FileRecord* record = c->fs->Find(file->path);
  if (record == nullptr) return kStatusFileDeleted;
  const uint64_t allocated =
      record->AllocatedClusters() * c->fs->GetGeometry().sectorsPerCluster * kDiskSectorBytes;
  uint64_t count = length;
  if (write) {
    // The model never grows a file's allocation.
    if (offset > allocated || count > allocated - offset) return kStatusDiskFullNt;
  } else {
    if (offset >= record->size) return STATUS_END_OF_FILE;
    count = std::min<uint64_t>(count, record->size - offset);  // a read across the end is short
  }
  if (count == 0) return STATUS_SUCCESS;
  const uint64_t first = offset / kDiskSectorBytes * kDiskSectorBytes;
  const uint64_t end =
      (offset + count + kDiskSectorBytes - 1) / kDiskSectorBytes * kDiskSectorBytes;
  std::vector<SectorRun> runs;
  Status mapped = c->fs->MapFileRange(*record, first, end - first, &runs);
  if (!IsSuccess(mapped)) return static_cast<NTSTATUS>(mapped);
  NTSTATUS status;
  if (first == offset && end == offset + count) {
    status = SendRuns(c, write, runs, buffer);
  } else {
    std::vector<uint8_t> bounce(end - first);
    status = SendRuns(c, false, runs, bounce.data());
    if (NT_SUCCESS(status)) {
      if (write) {
        std::memcpy(bounce.data() + (offset - first), buffer, count);
        status = SendRuns(c, true, runs, bounce.data());
      } else {
        std::memcpy(buffer, bounce.data() + (offset - first), count);
      }
    }
  }
  if (!NT_SUCCESS(status)) return status;
  if (write && offset + count > record->size) record->size = offset + count;
  *moved = static_cast<ULONG>(count);
  return STATUS_SUCCESS;
}

FileContext* FileContextOf(PIO_STACK_LOCATION stack) {
  if (stack->FileObject == nullptr) return nullptr;
  return static_cast<FileContext*>(stack->FileObject->FsContext);
}

NTSTATUS FsCreate(DeviceContext* c, PIO_STACK_LOCATION stack, PIRP irp) {
  PFILE_OBJECT fileObject = stack->FileObject;
  const ULONG disposition = stack->Parameters.Create.Options >> 24;
  const ULONG options = stack->Parameters.Create.Options & 0x00FFFFFF;
  std::u16string path =
      fileObject ? std::u16string(fileObject->FileName.Buffer ? fileObject->FileName.Buffer : u"",
                                  fileObject->FileName.Length / sizeof(WCHAR))
                 : std::u16string();
  while (path.size() > 1 && path.back() == u'\\') path.pop_back();
  FileContext::Kind kind;
  if (path.empty()) {
    kind = FileContext::kVolumeOpen;
  } else if (path == u"\\") {
    kind = FileContext::kDirectory;
  } else {
    const FileRecord* record = c->fs->Find(path);
    if (record == nullptr) {
      // The model makes files only through its own calls.
      return Complete(irp,
                      disposition == FILE_OPEN || disposition == FILE_OVERWRITE
                          ? STATUS_OBJECT_NAME_NOT_FOUND
                          : STATUS_NOT_SUPPORTED,
                      0);
    }
    if (disposition != FILE_OPEN && disposition != FILE_OPEN_IF)
      return Complete(irp, STATUS_NOT_SUPPORTED, 0);
    kind = (record->attributes & kFileAttributeDirectory) ? FileContext::kDirectory
                                                          : FileContext::kFile;
  }
  if (kind == FileContext::kDirectory && (options & FILE_NON_DIRECTORY_FILE)) {
    return Complete(irp, kStatusFileIsADirectory, 0);
  }
  if (kind != FileContext::kDirectory && (options & FILE_DIRECTORY_FILE)) {
    return Complete(irp, kStatusNotADirectory, 0);
  }
  auto* context = new FileContext{kind, path, c};
  {
    std::lock_guard<std::mutex> guard(g_contextLock);
    g_liveContexts.insert(context);
  }
  fileObject->FsContext = context;
  {
    std::lock_guard<std::mutex> guard(c->volumeContext->recordLock);
    ++c->volumeContext->records.creates;
  }
  return Complete(irp, STATUS_SUCCESS, FILE_OPENED);
}

NTSTATUS FsClose(PIO_STACK_LOCATION stack, PIRP irp) {
  FileContext* context = FileContextOf(stack);
  if (context != nullptr) {
    std::lock_guard<std::mutex> guard(g_contextLock);
    g_liveContexts.erase(context);
    delete context;
    stack->FileObject->FsContext = nullptr;
  }
  return Complete(irp, STATUS_SUCCESS, 0);
}

NTSTATUS FsTransfer(DeviceContext* c, PIO_STACK_LOCATION stack, PIRP irp) {
  const FileContext* file = FileContextOf(stack);
  if (file == nullptr) return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  const ULONG length = stack->Parameters.Read.Length;
  const LONGLONG offset = stack->Parameters.Read.ByteOffset.QuadPart;
  if (offset < 0) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
  if (length == 0) return Complete(irp, STATUS_SUCCESS, 0);
  void* buffer =
      irp->MdlAddress ? MmGetSystemAddressForMdlSafe(irp->MdlAddress, NormalPagePriority) : nullptr;
  if (buffer == nullptr) return Complete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
  if (MmGetMdlByteCount(irp->MdlAddress) < length)
    return Complete(irp, STATUS_INVALID_PARAMETER, 0);
  ULONG moved = 0;
  NTSTATUS status =
      TransferFile(c, file, stack->FileObject, stack->MajorFunction == IRP_MJ_WRITE,
                   static_cast<uint64_t>(offset), length, static_cast<uint8_t*>(buffer), &moved);
  return Complete(irp, status, NT_SUCCESS(status) ? moved : 0);
}

NTSTATUS FsQueryInformation(DeviceContext* c, PIO_STACK_LOCATION stack, PIRP irp) {
  const FileContext* file = FileContextOf(stack);
  if (file == nullptr) return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  const ULONG length = stack->Parameters.QueryFile.Length;
  void* out = irp->AssociatedIrp.SystemBuffer;
  uint32_t attributes = 0;
  uint64_t size = 0;
  uint64_t allocation = 0;
  if (file->kind == FileContext::kVolumeOpen) {
    size = allocation = c->volume->ByteLength();
  } else if (file->path == u"\\") {
    attributes = kFileAttributeDirectory;
  } else {
    const FileRecord* record = c->fs->Find(file->path);
    if (record == nullptr) return Complete(irp, kStatusFileDeleted, 0);
    attributes = record->attributes;
    size = record->size;
    allocation =
        record->AllocatedClusters() * c->fs->GetGeometry().sectorsPerCluster * kDiskSectorBytes;
  }
  switch (stack->Parameters.QueryFile.FileInformationClass) {
    case FileBasicInformation: {
      if (out == nullptr || length < sizeof(FILE_BASIC_INFORMATION)) {
        return Complete(irp, STATUS_INFO_LENGTH_MISMATCH, 0);
      }
      auto* basic = static_cast<FILE_BASIC_INFORMATION*>(out);
      std::memset(basic, 0, sizeof *basic);
      basic->FileAttributes = attributes ? attributes : FILE_ATTRIBUTE_NORMAL;
      return Complete(irp, STATUS_SUCCESS, sizeof *basic);
    }
    case FileStandardInformation: {
      if (out == nullptr || length < sizeof(FILE_STANDARD_INFORMATION)) {
        return Complete(irp, STATUS_INFO_LENGTH_MISMATCH, 0);
      }
      auto* standard = static_cast<FILE_STANDARD_INFORMATION*>(out);
      std::memset(standard, 0, sizeof *standard);
      standard->AllocationSize.QuadPart = static_cast<LONGLONG>(allocation);
      standard->EndOfFile.QuadPart = static_cast<LONGLONG>(size);
      standard->NumberOfLinks = 1;
      standard->Directory = (attributes & kFileAttributeDirectory) ? TRUE : FALSE;
      return Complete(irp, STATUS_SUCCESS, sizeof *standard);
    }
    default:
      return Complete(irp, STATUS_INVALID_PARAMETER, 0);
  }
}

// MARK_HANDLE_INFO in the caller's word size: {u32, HANDLE, u32}.
struct MarkHandleInfo {
  ULONG UsnSourceInfo;
  HANDLE VolumeHandle;
  ULONG HandleInfo;
};

// True when the handle is a volume open of this file system's volume.
bool IsVolumeHandleOf(DeviceContext* c, HANDLE handle) {
  PVOID object = nullptr;
  if (!NT_SUCCESS(
          ObReferenceObjectByHandle(handle, 0, *IoFileObjectType, KernelMode, &object, nullptr))) {
    return false;
  }
  const auto* context =
      static_cast<const FileContext*>(static_cast<PFILE_OBJECT>(object)->FsContext);
  bool same;
  {
    std::lock_guard<std::mutex> guard(g_contextLock);
    same = g_liveContexts.count(context) != 0 && context->owner == c &&
           context->kind == FileContext::kVolumeOpen;
  }
  ObDereferenceObject(object);
  return same;
}

NTSTATUS FsControl(DeviceContext* c, PIO_STACK_LOCATION stack, PIRP irp) {
  const FileContext* file = FileContextOf(stack);
  if (file == nullptr) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
  const ULONG code = stack->Parameters.FileSystemControl.FsControlCode;
  const ULONG inLength = stack->Parameters.FileSystemControl.InputBufferLength;
  const ULONG outLength = stack->Parameters.FileSystemControl.OutputBufferLength;
  const bool neither = METHOD_FROM_CTL_CODE(code) == METHOD_NEITHER;
  const void* in = neither ? stack->Parameters.FileSystemControl.Type3InputBuffer
                           : irp->AssociatedIrp.SystemBuffer;
  void* out = neither ? irp->UserBuffer : irp->AssociatedIrp.SystemBuffer;
  const bool volumeOpen = file->kind == FileContext::kVolumeOpen;
  switch (code) {
    case FSCTL_GET_VOLUME_BITMAP:
      if (!volumeOpen) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
      return Complete(irp, c->fs->GetVolumeBitmap(in, in ? inLength : 0, out, out ? outLength : 0));
    case FSCTL_GET_RETRIEVAL_POINTERS: {
      if (file->kind != FileContext::kFile) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
      const FileRecord* record = c->fs->Find(file->path);
      if (record == nullptr) return Complete(irp, kStatusFileDeleted, 0);
      return Complete(irp, c->fs->GetRetrievalPointers(*record, in, in ? inLength : 0, out,
                                                       out ? outLength : 0));
    }
    case FSCTL_MARK_HANDLE: {
      if (file->kind != FileContext::kFile) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
      if (in == nullptr || inLength < sizeof(MarkHandleInfo))
        return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
      MarkHandleInfo info;
      std::memcpy(&info, in, sizeof info);
      FileRecord* record = c->fs->Find(file->path);
      if (record == nullptr) return Complete(irp, kStatusFileDeleted, 0);
      return Complete(
          irp, c->fs->MarkHandle(*record, IsVolumeHandleOf(c, info.VolumeHandle), info.HandleInfo),
          0);
    }
    case FSCTL_LOCK_VOLUME:
      if (!volumeOpen) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
      return Complete(irp, c->fs->LockVolume(), 0);
    case kFsctlUnlockVolume:
      if (!volumeOpen) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
      return Complete(irp, c->fs->UnlockVolume(), 0);
    case FSCTL_DISMOUNT_VOLUME:
      if (!volumeOpen) return Complete(irp, STATUS_INVALID_PARAMETER, 0);
      return Complete(irp, c->fs->DismountVolume(), 0);
    default:
      return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  }
}

// Device controls on a volume handle are the volume's: they go down the
// volume's stack as a new request and its answer is copied back.
NTSTATUS FsDeviceControl(DeviceContext* c, PIO_STACK_LOCATION stack, PIRP irp) {
  const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
  if (METHOD_FROM_CTL_CODE(code) != METHOD_BUFFERED)
    return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  const ULONG inLength = stack->Parameters.DeviceIoControl.InputBufferLength;
  const ULONG outLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
  std::vector<uint8_t> input(inLength);
  if (inLength) std::memcpy(input.data(), irp->AssociatedIrp.SystemBuffer, inLength);
  PDEVICE_OBJECT top = IoGetAttachedDeviceReference(c->volumeDevice);
  KEVENT event;
  KeInitializeEvent(&event, NotificationEvent, FALSE);
  IO_STATUS_BLOCK ioStatus{};
  PIRP down = IoBuildDeviceIoControlRequest(code, top, inLength ? input.data() : nullptr, inLength,
                                            outLength ? irp->AssociatedIrp.SystemBuffer : nullptr,
                                            outLength, FALSE, &event, &ioStatus);
  NTSTATUS status = STATUS_INSUFFICIENT_RESOURCES;
  if (down != nullptr) {
    status = hk::CallDriverAndWait(top, down, &event, &ioStatus);
  }
  ObDereferenceObject(top);
  return Complete(irp, status, NT_ERROR(status) ? 0 : ioStatus.Information);
}

NTSTATUS FsFlush(DeviceContext* c, PIO_STACK_LOCATION stack, PIRP irp) {
  if (stack->FileObject == nullptr) {
    // NT's file systems expect the file object of the handle being flushed.
    std::lock_guard<std::mutex> guard(c->volumeContext->recordLock);
    ++c->volumeContext->records.flushesWithoutFileObject;
    return Complete(irp, STATUS_INVALID_PARAMETER, 0);
  }
  return Complete(irp, SendDown(c, IRP_MJ_FLUSH_BUFFERS, 0, 0, nullptr), 0);
}

NTSTATUS FileSystemDispatch(PDEVICE_OBJECT device, PIRP irp) {
  DeviceContext* c = ContextOfDevice(device);
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  switch (stack->MajorFunction) {
    case IRP_MJ_CREATE:
      return FsCreate(c, stack, irp);
    case IRP_MJ_CLEANUP:
      return Complete(irp, STATUS_SUCCESS, 0);
    case IRP_MJ_CLOSE:
      return FsClose(stack, irp);
    case IRP_MJ_READ:
    case IRP_MJ_WRITE:
      return FsTransfer(c, stack, irp);
    case IRP_MJ_QUERY_INFORMATION:
      return FsQueryInformation(c, stack, irp);
    case IRP_MJ_FILE_SYSTEM_CONTROL:
      return FsControl(c, stack, irp);
    case IRP_MJ_DEVICE_CONTROL:
      return FsDeviceControl(c, stack, irp);
    case IRP_MJ_FLUSH_BUFFERS:
      return FsFlush(c, stack, irp);
    default:
      return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  }
}

// ------------------------------------------------------------ the mount manager

std::u16string Upper(std::u16string text) {
  for (char16_t& c : text) c = RtlUpcaseUnicodeChar(c);
  return text;
}

// "\DosDevices\X:" and "\??\X:" name one link.
std::u16string PointKey(const std::u16string& link) {
  static const std::u16string dos = u"\\DOSDEVICES\\";
  std::u16string key = Upper(link);
  if (key.compare(0, dos.size(), dos) == 0) key = u"\\??\\" + key.substr(dos.size());
  return key;
}

// A name inside a request's input: offset and length must lie within it.
bool NameInside(const uint8_t* input, ULONG inLength, ULONG offset, ULONG length,
                std::u16string* name) {
  if (offset > inLength || length > inLength - offset || length % 2 != 0) return false;
  name->resize(length / 2);
  std::memcpy(&(*name)[0], input + offset, length);
  return true;
}

NTSTATUS CreateLink(const std::u16string& link, const std::u16string& target) {
  UNICODE_STRING linkName;
  UNICODE_STRING targetName;
  RtlInitUnicodeString(&linkName, link.c_str());
  RtlInitUnicodeString(&targetName, target.c_str());
  return IoCreateSymbolicLink(&linkName, &targetName);
}

// Asks the arriving device for its name as NT's mount manager does: the
// length first, then the whole name. PASSIVE_LEVEL, the caller's thread.
NTSTATUS QueryArrivingName(const std::u16string& deviceName, std::u16string* answered) {
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, deviceName.c_str());
  PFILE_OBJECT file;
  PDEVICE_OBJECT device;
  NTSTATUS status = IoGetDeviceObjectPointer(&name, FILE_READ_ATTRIBUTES, &file, &device);
  if (!NT_SUCCESS(status)) return status;
  std::vector<uint8_t> out(sizeof(MOUNTDEV_NAME));
  for (int round = 0; round < 2; ++round) {
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    IO_STATUS_BLOCK ioStatus{};
    PIRP irp = IoBuildDeviceIoControlRequest(IOCTL_MOUNTDEV_QUERY_DEVICE_NAME, device, nullptr, 0,
                                             out.data(), static_cast<ULONG>(out.size()), FALSE,
                                             &event, &ioStatus);
    if (irp == nullptr) {
      status = STATUS_INSUFFICIENT_RESOURCES;
      break;
    }
    status = hk::CallDriverAndWait(device, irp, &event, &ioStatus);
    if (status != STATUS_BUFFER_OVERFLOW || round == 1) break;
    out.resize(2 + GetLe16(out.data()));
  }
  if (NT_SUCCESS(status)) {
    const ULONG length = GetLe16(out.data());
    if (2 + length > out.size()) {
      status = STATUS_INVALID_PARAMETER;
    } else {
      answered->assign(length / 2, u'\0');
      std::memcpy(&(*answered)[0], out.data() + 2, length);
    }
  }
  ObDereferenceObject(file);
  return status;
}

NTSTATUS MountArrival(DeviceContext* c, const uint8_t* in, ULONG inLength) {
  std::u16string name;
  if (in == nullptr || inLength < 2 || !NameInside(in, inLength, 2, GetLe16(in), &name)) {
    return STATUS_INVALID_PARAMETER;
  }
  std::u16string answered;
  NTSTATUS status = QueryArrivingName(name, &answered);
  std::lock_guard<std::mutex> guard(c->recordLock);
  c->mountManager.arrivals.push_back(name);
  if (!NT_SUCCESS(status)) return status;
  c->mountManager.queriedNames.push_back(answered);
  auto letter = c->lettersOnArrival.find(Upper(name));
  if (letter != c->lettersOnArrival.end()) {
    const std::u16string link = u"\\DosDevices\\" + std::u16string{letter->second, u':'};
    if (NT_SUCCESS(CreateLink(link, name))) {
      c->mountManager.createdLinks.push_back(link);
      c->points[PointKey(link)] = name;
    }
  }
  return STATUS_SUCCESS;
}

NTSTATUS MountCreatePoint(DeviceContext* c, const uint8_t* in, ULONG inLength) {
  std::u16string link;
  std::u16string device;
  if (in == nullptr || inLength < sizeof(MOUNTMGR_CREATE_POINT_INPUT) ||
      !NameInside(in, inLength, GetLe16(in), GetLe16(in + 2), &link) ||
      !NameInside(in, inLength, GetLe16(in + 4), GetLe16(in + 6), &device) || link.empty() ||
      device.empty()) {
    return STATUS_INVALID_PARAMETER;
  }
  NTSTATUS status = CreateLink(link, device);
  if (NT_SUCCESS(status)) {
    std::lock_guard<std::mutex> guard(c->recordLock);
    c->mountManager.createdLinks.push_back(link);
    c->points[PointKey(link)] = device;
  }
  return status;
}

// Deletes the point whose link the input names and answers it as
// MOUNTMGR_MOUNT_POINTS {Size, Count, one MOUNTMGR_MOUNT_POINT, link, device}.
IoAnswer MountDeletePoints(DeviceContext* c, const uint8_t* in, ULONG inLength, uint8_t* out,
                           ULONG outLength) {
  std::u16string link;
  if (in == nullptr || inLength < sizeof(MOUNTMGR_MOUNT_POINT) ||
      !NameInside(in, inLength, GetLe32(in), GetLe16(in + 4), &link) || link.empty() ||
      out == nullptr || outLength < sizeof(MOUNTMGR_MOUNT_POINTS)) {
    return {kStatusInvalidParameter, 0};
  }
  // Only points of its own database: a link made by someone else is unknown.
  std::u16string deviceName;
  {
    std::lock_guard<std::mutex> guard(c->recordLock);
    auto point = c->points.find(PointKey(link));
    if (point == c->points.end()) return {kStatusObjectNameNotFound, 0};
    deviceName = point->second;
    c->points.erase(point);
  }
  UNICODE_STRING linkName;
  RtlInitUnicodeString(&linkName, link.c_str());
  IoDeleteSymbolicLink(&linkName);
  {
    std::lock_guard<std::mutex> guard(c->recordLock);
    c->mountManager.deletedLinks.push_back(link);
  }
  const ULONG head = sizeof(MOUNTMGR_MOUNT_POINTS);
  const ULONG linkBytes = static_cast<ULONG>(link.size() * 2);
  const ULONG deviceBytes = static_cast<ULONG>(deviceName.size() * 2);
  const ULONG size = head + linkBytes + deviceBytes;
  std::memset(out, 0, head);
  PutLe32(out, size);
  PutLe32(out + 4, 1);
  if (outLength < size) return {kStatusBufferOverflow, head};
  uint8_t* point = out + 8;
  PutLe32(point, head);
  PutLe16(point + 4, static_cast<uint16_t>(linkBytes));
  PutLe32(point + 16, head + linkBytes);
  PutLe16(point + 20, static_cast<uint16_t>(deviceBytes));
  std::memcpy(out + head, link.data(), linkBytes);
  std::memcpy(out + head + linkBytes, deviceName.data(), deviceBytes);
  return {kStatusSuccess, size};
}

NTSTATUS MountManagerDispatch(PDEVICE_OBJECT device, PIRP irp) {
  DeviceContext* c = ContextOfDevice(device);
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  switch (stack->MajorFunction) {
    case IRP_MJ_CREATE:
    case IRP_MJ_CLEANUP:
    case IRP_MJ_CLOSE:
      return Complete(irp, STATUS_SUCCESS, 0);
    case IRP_MJ_DEVICE_CONTROL:
      break;
    default:
      return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  }
  const ULONG inLength = stack->Parameters.DeviceIoControl.InputBufferLength;
  const ULONG outLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
  // Input and output share the system buffer: take the input first.
  std::vector<uint8_t> input(inLength);
  if (inLength) std::memcpy(input.data(), irp->AssociatedIrp.SystemBuffer, inLength);
  const uint8_t* in = inLength ? input.data() : nullptr;
  switch (stack->Parameters.DeviceIoControl.IoControlCode) {
    case IOCTL_MOUNTMGR_VOLUME_ARRIVAL_NOTIFICATION:
      return Complete(irp, MountArrival(c, in, inLength), 0);
    case IOCTL_MOUNTMGR_CREATE_POINT:
      return Complete(irp, MountCreatePoint(c, in, inLength), 0);
    case IOCTL_MOUNTMGR_DELETE_POINTS:
      return Complete(irp, MountDeletePoints(c, in, inLength,
                                             static_cast<uint8_t*>(irp->AssociatedIrp.SystemBuffer),
                                             outLength));
    default:
      return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  }
}

PDRIVER_OBJECT NewDriver(const std::u16string& name, PDRIVER_DISPATCH dispatch) {
  PDRIVER_OBJECT driver = hk::CreateTestDriver(name);
  for (auto& routine : driver->MajorFunction) routine = dispatch;
  return driver;
}

NTSTATUS NewDevice(PDRIVER_OBJECT driver, const std::u16string& name, DEVICE_TYPE type,
                   DeviceContext* context, PDEVICE_OBJECT* out) {
  UNICODE_STRING unicode;
  RtlInitUnicodeString(&unicode, name.empty() ? nullptr : name.c_str());
  NTSTATUS status = IoCreateDevice(driver, sizeof(DeviceContext*),
                                   name.empty() ? nullptr : &unicode, type, 0, FALSE, out);
  if (!NT_SUCCESS(status)) return status;
  *static_cast<DeviceContext**>((*out)->DeviceExtension) = context;
  (*out)->Flags |= DO_DIRECT_IO;
  (*out)->Flags &= ~static_cast<ULONG>(DO_DEVICE_INITIALIZING);
  context->device = *out;
  return STATUS_SUCCESS;
}

}  // namespace

NTSTATUS StorageStack::Create(Disk& disk, std::unique_ptr<StorageStack>* out) {
  std::unique_ptr<StorageStack> stack(new StorageStack);
  stack->diskDriver_ = NewDriver(u"\\Driver\\Disk", StorageDispatch);
  stack->fileSystemDriver_ = NewDriver(u"\\FileSystem\\Model", FileSystemDispatch);
  auto context = std::make_unique<DeviceContext>();
  context->kind = DeviceContext::kDisk;
  context->disk = &disk;
  context->partition.number = 0;
  context->partition.startSector = 0;
  context->partition.sectorCount = disk.SectorCount();
  context->name = u"\\Device\\Harddisk0\\Partition0";
  NTSTATUS status = NewDevice(stack->diskDriver_, context->name, FILE_DEVICE_DISK, context.get(),
                              &stack->diskDevice_);
  if (!NT_SUCCESS(status)) return status;
  stack->devices_.push_back(stack->diskDevice_);
  stack->contexts_.push_back(std::move(context));
  *out = std::move(stack);
  return STATUS_SUCCESS;
}

NTSTATUS StorageStack::AddMountManager() {
  for (const auto& context : contexts_) {
    if (context->kind == DeviceContext::kMountManager) return STATUS_OBJECT_NAME_COLLISION;
  }
  auto context = std::make_unique<DeviceContext>();
  context->kind = DeviceContext::kMountManager;
  context->name = MOUNTMGR_DEVICE_NAME;
  PDRIVER_OBJECT driver = NewDriver(u"\\Driver\\MountMgr", MountManagerDispatch);
  PDEVICE_OBJECT device;
  NTSTATUS status = NewDevice(driver, context->name, FILE_DEVICE_UNKNOWN, context.get(), &device);
  if (!NT_SUCCESS(status)) return status;
  device->Flags = (device->Flags & ~static_cast<ULONG>(DO_DIRECT_IO)) | DO_BUFFERED_IO;
  devices_.push_back(device);
  contexts_.push_back(std::move(context));
  return STATUS_SUCCESS;
}

StorageStack::DeviceContext* StorageStack::MountManagerContext() const {
  for (const auto& context : contexts_) {
    if (context->kind == DeviceContext::kMountManager) return context.get();
  }
  hk::Fault("the storage stack has no mount manager");
}

void StorageStack::GiveLetterOnArrival(const std::u16string& deviceName, char16_t letter) {
  DeviceContext* context = MountManagerContext();
  std::lock_guard<std::mutex> guard(context->recordLock);
  context->lettersOnArrival[Upper(deviceName)] = letter;
}

StorageStack::MountManagerRecords StorageStack::MountManagerSeen() const {
  DeviceContext* context = MountManagerContext();
  std::lock_guard<std::mutex> guard(context->recordLock);
  return context->mountManager;
}

StorageStack::~StorageStack() {
  for (const auto& context : contexts_) {
    if (context->kind != DeviceContext::kMountManager) continue;
    // Points the engine left behind.
    for (const auto& point : context->points) links_.push_back(point.first);
  }
  for (const std::u16string& link : links_) {
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, link.c_str());
    IoDeleteSymbolicLink(&name);
  }
  // Requests completed from other threads have ended by now (their callers
  // waited for them); the threads are joined before their devices go.
  for (const auto& context : contexts_) {
    for (std::thread& thread : context->completions) thread.join();
  }
  // Newest first: file systems before the volumes they are mounted on.
  for (auto it = devices_.rbegin(); it != devices_.rend(); ++it) IoDeleteDevice(*it);
}

NTSTATUS StorageStack::AddVolume(Volume& volume, FileSystemModel* fs, const HotplugFlags& hotplug,
                                 PDEVICE_OBJECT* device) {
  *device = nullptr;
  const Partition& partition = volume.PartitionInfo();
  if (partition.number == 0 || ContextOf(partition.number) != nullptr)
    return STATUS_OBJECT_NAME_COLLISION;
  auto context = std::make_unique<DeviceContext>();
  context->kind = DeviceContext::kVolume;
  context->disk = &volume.OwningDisk();
  context->volume = &volume;
  context->fs = fs;
  context->partition = partition;
  context->knobs.hotplug = hotplug;
  context->name = NumberedName(u"\\Device\\HarddiskVolume", partition.number);
  PDEVICE_OBJECT volumeDevice;
  NTSTATUS status =
      NewDevice(diskDriver_, context->name, FILE_DEVICE_DISK, context.get(), &volumeDevice);
  if (!NT_SUCCESS(status)) return status;
  devices_.push_back(volumeDevice);
  DeviceContext* volumeContext = context.get();
  contexts_.push_back(std::move(context));
  if (fs != nullptr) {
    auto fsContext = std::make_unique<DeviceContext>();
    fsContext->kind = DeviceContext::kFileSystem;
    fsContext->disk = &volume.OwningDisk();
    fsContext->volume = &volume;
    fsContext->fs = fs;
    fsContext->partition = partition;
    fsContext->volumeDevice = volumeDevice;
    fsContext->volumeContext = volumeContext;
    PDEVICE_OBJECT fsDevice;
    status =
        NewDevice(fileSystemDriver_, u"", FILE_DEVICE_DISK_FILE_SYSTEM, fsContext.get(), &fsDevice);
    if (!NT_SUCCESS(status)) return status;
    devices_.push_back(fsDevice);
    contexts_.push_back(std::move(fsContext));
    hk::MountFileSystem(volumeDevice, fsDevice);
  }
  *device = volumeDevice;
  return STATUS_SUCCESS;
}

NTSTATUS StorageStack::AssignDriveLetter(uint32_t partitionNumber, char16_t letter) {
  DeviceContext* context = ContextOf(partitionNumber);
  if (context == nullptr || context->kind != DeviceContext::kVolume) return STATUS_NO_SUCH_DEVICE;
  std::u16string dos = {letter, u':'};
  std::u16string link = u"\\??\\" + dos;
  UNICODE_STRING linkName;
  UNICODE_STRING target;
  RtlInitUnicodeString(&linkName, link.c_str());
  RtlInitUnicodeString(&target, context->name.c_str());
  NTSTATUS status = IoCreateSymbolicLink(&linkName, &target);
  if (!NT_SUCCESS(status)) return status;
  links_.push_back(link);
  hk::SetVolumeDosName(context->device, dos);
  return STATUS_SUCCESS;
}

NTSTATUS StorageStack::LinkFolder(const std::u16string& linkName, uint32_t partitionNumber,
                                  const std::u16string& folder) {
  DeviceContext* context = ContextOf(partitionNumber);
  if (context == nullptr || context->kind != DeviceContext::kVolume) return STATUS_NO_SUCH_DEVICE;
  std::u16string targetText = context->name + folder;
  UNICODE_STRING link;
  UNICODE_STRING target;
  RtlInitUnicodeString(&link, linkName.c_str());
  RtlInitUnicodeString(&target, targetText.c_str());
  NTSTATUS status = IoCreateSymbolicLink(&link, &target);
  if (NT_SUCCESS(status)) links_.push_back(linkName);
  return status;
}

StorageStack::DeviceContext* StorageStack::ContextOf(uint32_t partitionNumber) const {
  for (const auto& context : contexts_) {
    bool device = context->kind == DeviceContext::kVolume ||
                  (context->kind == DeviceContext::kDisk && partitionNumber == 0);
    if (device && context->partition.number == partitionNumber) return context.get();
  }
  return nullptr;
}

PDEVICE_OBJECT StorageStack::VolumeDevice(uint32_t partitionNumber) const {
  DeviceContext* context = ContextOf(partitionNumber);
  return context ? context->device : nullptr;
}

PDEVICE_OBJECT StorageStack::FileSystemDevice(uint32_t partitionNumber) const {
  for (const auto& context : contexts_) {
    if (context->kind == DeviceContext::kFileSystem &&
        context->partition.number == partitionNumber) {
      return context->device;
    }
  }
  return nullptr;
}

std::u16string StorageStack::VolumeDeviceName(uint32_t partitionNumber) const {
  DeviceContext* context = ContextOf(partitionNumber);
  return context ? context->name : std::u16string();
}

VolumeKnobs& StorageStack::Knobs(uint32_t partitionNumber) {
  DeviceContext* context = ContextOf(partitionNumber);
  if (context == nullptr) hk::Fault("no storage device for partition %u", partitionNumber);
  return context->knobs;
}

VolumeRecords StorageStack::Records(uint32_t partitionNumber) const {
  DeviceContext* context = ContextOf(partitionNumber);
  if (context == nullptr) hk::Fault("no storage device for partition %u", partitionNumber);
  std::lock_guard<std::mutex> guard(context->recordLock);
  return context->records;
}

}  // namespace vh::storage

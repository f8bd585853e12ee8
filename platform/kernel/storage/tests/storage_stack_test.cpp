// The emulated storage as the engine meets it: devices answering IRPs with
// NT's statuses and buffered copy-back, Zw opens of names on a volume served
// by the file-system model, and file I/O that leaves the file system through
// the top of the volume's stack.
#include "vh/storage/storage_stack.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "hostkernel/call_and_wait.h"
#include "kernel_test.h"
#include "vh/storage/byte_order.h"
#include "vh/storage/installed_machine.h"

namespace vh::storage {
namespace {

constexpr NTSTATUS kInvalidDeviceRequest = STATUS_INVALID_DEVICE_REQUEST;

struct Answer {
  NTSTATUS status;
  ULONG_PTR information;
};

Answer Ioctl(PDEVICE_OBJECT device, ULONG code, void* out, ULONG outLength, void* in = nullptr,
             ULONG inLength = 0) {
  KEVENT event;
  KeInitializeEvent(&event, NotificationEvent, FALSE);
  IO_STATUS_BLOCK ioStatus{};
  PIRP irp = IoBuildDeviceIoControlRequest(code, device, in, inLength, out, outLength, FALSE,
                                           &event, &ioStatus);
  NTSTATUS status = hk::CallDriverAndWait(device, irp, &event, &ioStatus);
  return {status, ioStatus.Information};
}

Answer Transfer(PDEVICE_OBJECT device, UCHAR major, LONGLONG offset, ULONG length, void* buffer) {
  KEVENT event;
  KeInitializeEvent(&event, NotificationEvent, FALSE);
  IO_STATUS_BLOCK ioStatus{};
  LARGE_INTEGER position;
  position.QuadPart = offset;
  PIRP irp =
      IoBuildSynchronousFsdRequest(major, device, buffer, length, &position, &event, &ioStatus);
  NTSTATUS status = hk::CallDriverAndWait(device, irp, &event, &ioStatus);
  return {status, ioStatus.Information};
}

// A filter on the volume that records what passes and sends it on.
struct SeenTransfer {
  UCHAR major;
  LONGLONG offset;
  ULONG length;
};
std::vector<SeenTransfer> g_seen;

NTSTATUS CountingFilter(PDEVICE_OBJECT device, PIRP irp) {
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  if (stack->MajorFunction == IRP_MJ_READ || stack->MajorFunction == IRP_MJ_WRITE) {
    g_seen.push_back({stack->MajorFunction, stack->Parameters.Read.ByteOffset.QuadPart,
                      stack->Parameters.Read.Length});
  }
  IoSkipCurrentIrpStackLocation(irp);
  return IoCallDriver(*static_cast<PDEVICE_OBJECT*>(device->DeviceExtension), irp);
}

class StorageStackTest : public hk::testing::KernelTest {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    g_seen.clear();
    ASSERT_EQ(InstalledMachine::Build(MachineOptions{}, &machine_), STATUS_SUCCESS);
  }
  void TearDown() override {
    for (HANDLE handle : handles_) ZwClose(handle);
    if (filter_ != nullptr) {
      IoDetachDevice(*static_cast<PDEVICE_OBJECT*>(filter_->DeviceExtension));
      IoDeleteDevice(filter_);
    }
    machine_.reset();
    KernelTest::TearDown();
  }

  NTSTATUS Open(const std::u16string& path, ULONG options, HANDLE* handle,
                ACCESS_MASK access = GENERIC_READ) {
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, path.c_str());
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE,
                               nullptr, nullptr);
    IO_STATUS_BLOCK ioStatus{};
    NTSTATUS status =
        ZwCreateFile(handle, access | SYNCHRONIZE, &attributes, &ioStatus, nullptr, 0,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN, options, nullptr, 0);
    if (NT_SUCCESS(status)) handles_.push_back(*handle);
    return status;
  }

  HANDLE OpenOrFail(const std::u16string& path, ULONG options = FILE_SYNCHRONOUS_IO_NONALERT) {
    HANDLE handle = nullptr;
    EXPECT_EQ(Open(path, options, &handle), STATUS_SUCCESS) << hk::Narrow(path);
    return handle;
  }

  Answer FsControl(HANDLE handle, ULONG code, void* in, ULONG inLength, void* out,
                   ULONG outLength) {
    IO_STATUS_BLOCK ioStatus{};
    NTSTATUS status = ZwFsControlFile(handle, nullptr, nullptr, nullptr, &ioStatus, code, in,
                                      inLength, out, outLength);
    return {status, ioStatus.Information};
  }

  void AttachCountingFilter() {
    PDRIVER_OBJECT driver = hk::CreateTestDriver(u"\\Driver\\Counting");
    for (auto& routine : driver->MajorFunction) routine = CountingFilter;
    // The extension holds one pointer.  NOLINTNEXTLINE(bugprone-sizeof-expression)
    ASSERT_EQ(IoCreateDevice(driver, sizeof(PDEVICE_OBJECT), nullptr, FILE_DEVICE_DISK, 0, FALSE,
                             &filter_),
              STATUS_SUCCESS);
    *static_cast<PDEVICE_OBJECT*>(filter_->DeviceExtension) =
        IoAttachDeviceToDeviceStack(filter_, machine_->ProtectedVolume());
    filter_->Flags |= DO_DIRECT_IO;
    filter_->Flags &= ~static_cast<ULONG>(DO_DEVICE_INITIALIZING);
  }

  Installation& Installed() { return machine_->Installed(); }
  // The installer's default header-file name.
  static constexpr const char16_t* kHeaderFile = u"\\??\\C:\\qvspace.sys";

  std::unique_ptr<InstalledMachine> machine_;
  std::vector<HANDLE> handles_;
  PDEVICE_OBJECT filter_ = nullptr;
};

// ------------------------------------------------------------ control codes

TEST_F(StorageStackTest, VolumeAndDiskAnswerTheStorageCodesAsWindowsDoes) {
  PDEVICE_OBJECT volume = machine_->ProtectedVolume();
  const Partition& partition = Installed().volume->PartitionInfo();

  PARTITION_INFORMATION info{};
  Answer a = Ioctl(volume, IOCTL_DISK_GET_PARTITION_INFO, &info, sizeof info);
  ASSERT_EQ(a.status, STATUS_SUCCESS);
  EXPECT_EQ(a.information, sizeof info);
  EXPECT_EQ(info.StartingOffset.QuadPart, 2048 * 512);
  EXPECT_EQ(static_cast<uint64_t>(info.PartitionLength.QuadPart), partition.ByteLength());
  EXPECT_EQ(info.PartitionNumber, 1u);

  STORAGE_DEVICE_NUMBER number{};
  a = Ioctl(volume, IOCTL_STORAGE_GET_DEVICE_NUMBER, &number, sizeof number);
  ASSERT_EQ(a.status, STATUS_SUCCESS);
  EXPECT_EQ(a.information, 12u);
  EXPECT_EQ(number.DeviceType, static_cast<ULONG>(FILE_DEVICE_DISK));
  EXPECT_EQ(number.DeviceNumber, 0u);
  EXPECT_EQ(number.PartitionNumber, 1u);

  STORAGE_HOTPLUG_INFO hotplug{};
  a = Ioctl(volume, IOCTL_STORAGE_GET_HOTPLUG_INFO, &hotplug, sizeof hotplug);
  ASSERT_EQ(a.status, STATUS_SUCCESS);
  EXPECT_EQ(hotplug.Size, 8u);
  EXPECT_FALSE(hotplug.DeviceHotplug);

  DISK_GEOMETRY geometry{};
  a = Ioctl(volume, IOCTL_DISK_GET_DRIVE_GEOMETRY, &geometry, sizeof geometry);
  ASSERT_EQ(a.status, STATUS_SUCCESS);
  EXPECT_EQ(geometry.BytesPerSector, 512u);
  EXPECT_EQ(geometry.MediaType, FixedMedia);

  GET_LENGTH_INFORMATION length{};
  a = Ioctl(volume, IOCTL_DISK_GET_LENGTH_INFO, &length, sizeof length);
  ASSERT_EQ(a.status, STATUS_SUCCESS);
  EXPECT_EQ(static_cast<uint64_t>(length.Length.QuadPart), partition.ByteLength());

  EXPECT_EQ(Ioctl(volume, IOCTL_VOLUME_ONLINE, nullptr, 0).status, STATUS_SUCCESS);
  EXPECT_EQ(Ioctl(volume, IOCTL_DISK_VERIFY, nullptr, 0).status, kInvalidDeviceRequest);

  // Partition0 is the whole disk.
  a = Ioctl(machine_->Disk0(), IOCTL_DISK_GET_PARTITION_INFO, &info, sizeof info);
  ASSERT_EQ(a.status, STATUS_SUCCESS);
  EXPECT_EQ(info.StartingOffset.QuadPart, 0);
  EXPECT_EQ(static_cast<uint64_t>(info.PartitionLength.QuadPart), Installed().disk->ByteLength());
  EXPECT_EQ(info.PartitionNumber, 0u);
}

TEST_F(StorageStackTest, ShortOutputBuffersNeverReceiveMoreThanTheyHold) {
  PDEVICE_OBJECT volume = machine_->ProtectedVolume();
  struct Case {
    ULONG code;
    ULONG shortLength;
  };
  const Case cases[] = {{IOCTL_DISK_GET_PARTITION_INFO, 31},
                        {IOCTL_STORAGE_GET_DEVICE_NUMBER, 11},
                        {IOCTL_STORAGE_GET_HOTPLUG_INFO, 7},
                        {IOCTL_DISK_GET_DRIVE_GEOMETRY, 23},
                        {IOCTL_DISK_GET_LENGTH_INFO, 7}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    std::vector<uint8_t> out(c.shortLength + 8, 0xCC);
    Answer a = Ioctl(volume, c.code, out.data(), c.shortLength);
    EXPECT_EQ(a.status, STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(a.information, 0u);
    EXPECT_EQ(out, std::vector<uint8_t>(c.shortLength + 8, 0xCC));
  }
}

TEST_F(StorageStackTest, MountDeviceNameIsAskedForInTwoSteps) {
  PDEVICE_OBJECT volume = machine_->ProtectedVolume();
  const std::u16string name = u"\\Device\\HarddiskVolume1";
  uint8_t head[4] = {};
  Answer a = Ioctl(volume, IOCTL_MOUNTDEV_QUERY_DEVICE_NAME, head, sizeof head);
  EXPECT_EQ(a.status, STATUS_BUFFER_OVERFLOW);
  EXPECT_EQ(a.information, 4u);
  EXPECT_EQ(GetLe16(head), name.size() * 2) << "the warning's copy-back carries the length";

  std::vector<uint8_t> full(2 + name.size() * 2);
  a = Ioctl(volume, IOCTL_MOUNTDEV_QUERY_DEVICE_NAME, full.data(), static_cast<ULONG>(full.size()));
  ASSERT_EQ(a.status, STATUS_SUCCESS);
  EXPECT_EQ(a.information, full.size());
  EXPECT_EQ(std::memcmp(full.data() + 2, name.data(), name.size() * 2), 0);
  EXPECT_EQ(Ioctl(volume, IOCTL_MOUNTDEV_QUERY_DEVICE_NAME, head, 1).status,
            STATUS_INVALID_PARAMETER);
}

TEST_F(StorageStackTest, KnobsFailTheirCodes) {
  VolumeKnobs& knobs = machine_->Storage().Knobs(1);
  knobs.deviceNumberStatus =
      static_cast<int32_t>(kInvalidDeviceRequest);  // a volume over several disks
  knobs.partitionInfoStatus = static_cast<int32_t>(kInvalidDeviceRequest);  // a GPT disk
  knobs.hotplug.deviceHotplug = true;
  uint8_t out[32];
  EXPECT_EQ(Ioctl(machine_->ProtectedVolume(), IOCTL_STORAGE_GET_DEVICE_NUMBER, out, 12).status,
            kInvalidDeviceRequest);
  EXPECT_EQ(Ioctl(machine_->ProtectedVolume(), IOCTL_DISK_GET_PARTITION_INFO, out, 32).status,
            kInvalidDeviceRequest);
  STORAGE_HOTPLUG_INFO hotplug{};
  ASSERT_EQ(Ioctl(machine_->ProtectedVolume(), IOCTL_STORAGE_GET_HOTPLUG_INFO, &hotplug, 8).status,
            STATUS_SUCCESS);
  EXPECT_TRUE(hotplug.DeviceHotplug);
}

// ------------------------------------------------------------ transfers

TEST_F(StorageStackTest, VolumeSectorIsDiskSectorPlusThePartitionStart) {
  std::vector<uint8_t> data(1024);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 13);
  ASSERT_EQ(Transfer(machine_->ProtectedVolume(), IRP_MJ_WRITE, 7 * 512, 1024, data.data()).status,
            STATUS_SUCCESS);
  std::vector<uint8_t> back(1024);
  Answer a = Transfer(machine_->Disk0(), IRP_MJ_READ, (2048 + 7) * 512, 1024, back.data());
  ASSERT_EQ(a.status, STATUS_SUCCESS);
  EXPECT_EQ(a.information, 1024u);
  EXPECT_EQ(back, data);
}

TEST_F(StorageStackTest, BadTransfersMoveNothing) {
  const LONGLONG volumeBytes = static_cast<LONGLONG>(Installed().volume->ByteLength());
  struct Case {
    const char* name;
    LONGLONG offset;
    ULONG length;
  };
  const Case cases[] = {
      {"offset inside a sector", 100, 512}, {"length not whole sectors", 512, 700},
      {"past the end", volumeBytes, 512},   {"block across the end", volumeBytes - 16384, 32768},
      {"negative offset", -512, 512},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> buffer(32768 + 512, 0x77);
    for (UCHAR major : {UCHAR{IRP_MJ_READ}, UCHAR{IRP_MJ_WRITE}}) {
      Answer a = Transfer(machine_->ProtectedVolume(), major, c.offset, c.length, buffer.data());
      EXPECT_EQ(a.status, STATUS_INVALID_PARAMETER);
      EXPECT_EQ(a.information, 0u);
    }
    EXPECT_EQ(buffer, std::vector<uint8_t>(32768 + 512, 0x77));
  }
  std::vector<uint8_t> last(512);
  EXPECT_EQ(Transfer(machine_->ProtectedVolume(), IRP_MJ_READ, volumeBytes - 512, 512, last.data())
                .status,
            STATUS_SUCCESS);
}

TEST_F(StorageStackTest, InjectedFaultsReachTheCaller) {
  std::vector<uint8_t> buffer(4096);
  Installed().disk->FailTransfer(1, kStatusDeviceDataError);
  EXPECT_EQ(Transfer(machine_->ProtectedVolume(), IRP_MJ_READ, 0, 4096, buffer.data()).status,
            static_cast<NTSTATUS>(kStatusDeviceDataError));
  Installed().disk->ShortenTransfer(1, 1024);
  Answer a = Transfer(machine_->ProtectedVolume(), IRP_MJ_READ, 0, 4096, buffer.data());
  EXPECT_EQ(a.status, STATUS_SUCCESS);
  EXPECT_EQ(a.information, 1024u) << "the short transfer a caller must catch";
}

// ------------------------------------------------------------ names and files

TEST_F(StorageStackTest, NamesOnTheVolumeOpenTheModelsFiles) {
  HANDLE handle;
  EXPECT_EQ(Open(u"\\SystemRoot", FILE_DIRECTORY_FILE | FILE_SYNCHRONOUS_IO_NONALERT, &handle,
                 FILE_READ_ATTRIBUTES),
            STATUS_SUCCESS);
  EXPECT_EQ(Open(u"\\??\\C:\\boot\\bcd", FILE_SYNCHRONOUS_IO_NONALERT, &handle), STATUS_SUCCESS);
  EXPECT_EQ(Open(u"\\DosDevices\\c:\\HIBERFIL.SYS", FILE_SYNCHRONOUS_IO_NONALERT, &handle),
            STATUS_SUCCESS);
  EXPECT_EQ(Open(u"\\??\\C:\\nothing.txt", FILE_SYNCHRONOUS_IO_NONALERT, &handle),
            STATUS_OBJECT_NAME_NOT_FOUND);
  EXPECT_EQ(Open(u"\\??\\C:\\boot\\bcd", FILE_DIRECTORY_FILE, &handle),
            static_cast<NTSTATUS>(0xC0000103));
  EXPECT_EQ(Open(u"\\??\\C:\\Windows", FILE_NON_DIRECTORY_FILE, &handle),
            static_cast<NTSTATUS>(0xC00000BA));
  EXPECT_EQ(machine_->Storage().Records(1).creates, 3u);
}

TEST_F(StorageStackTest, FileReadsFollowNtRules) {
  const EngineHeader& header = *Installed().header;
  const auto* headerBytes = reinterpret_cast<const uint8_t*>(&header);
  HANDLE raw =
      OpenOrFail(kHeaderFile, FILE_SYNCHRONOUS_IO_NONALERT | FILE_NO_INTERMEDIATE_BUFFERING);
  std::vector<uint8_t> buffer(65536);
  IO_STATUS_BLOCK ioStatus{};
  LARGE_INTEGER offset{};
  ASSERT_EQ(
      ZwReadFile(raw, nullptr, nullptr, nullptr, &ioStatus, buffer.data(), 65536, &offset, nullptr),
      STATUS_SUCCESS);
  EXPECT_EQ(ioStatus.Information, 65536u);
  EXPECT_EQ(std::memcmp(buffer.data(), headerBytes, 65536), 0)
      << "the header file begins with the header";
  offset.QuadPart = 100;
  EXPECT_EQ(
      ZwReadFile(raw, nullptr, nullptr, nullptr, &ioStatus, buffer.data(), 512, &offset, nullptr),
      STATUS_INVALID_PARAMETER);

  HANDLE cached = OpenOrFail(kHeaderFile);
  offset.QuadPart = 3;
  std::vector<uint8_t> small(10);
  ASSERT_EQ(
      ZwReadFile(cached, nullptr, nullptr, nullptr, &ioStatus, small.data(), 10, &offset, nullptr),
      STATUS_SUCCESS);
  EXPECT_EQ(std::memcmp(small.data(), headerBytes + 3, 10), 0);

  FILE_STANDARD_INFORMATION standard{};
  ASSERT_EQ(ZwQueryInformationFile(cached, &ioStatus, &standard, sizeof standard,
                                   FileStandardInformation),
            STATUS_SUCCESS);
  const LONGLONG size = standard.EndOfFile.QuadPart;
  ASSERT_GE(size, 65536);
  EXPECT_GE(standard.AllocationSize.QuadPart, size);
  offset.QuadPart = size - 4;
  ASSERT_EQ(
      ZwReadFile(cached, nullptr, nullptr, nullptr, &ioStatus, small.data(), 10, &offset, nullptr),
      STATUS_SUCCESS);
  EXPECT_EQ(ioStatus.Information, 4u) << "a read across the end is short";
  offset.QuadPart = size;
  EXPECT_EQ(
      ZwReadFile(cached, nullptr, nullptr, nullptr, &ioStatus, small.data(), 10, &offset, nullptr),
      STATUS_END_OF_FILE);
  FILE_BASIC_INFORMATION basic{};
  EXPECT_EQ(
      ZwQueryInformationFile(cached, &ioStatus, &basic, sizeof basic - 1, FileBasicInformation),
      STATUS_INFO_LENGTH_MISMATCH);
}

TEST_F(StorageStackTest, FileWritesGoDownThroughTheVolumesFilters) {
  AttachCountingFilter();
  HANDLE file = OpenOrFail(u"\\??\\C:\\boot\\bcd", FILE_SYNCHRONOUS_IO_NONALERT);
  const FileRecord* record = Installed().fs->Find(u"\\boot\\bcd");
  ASSERT_NE(record, nullptr);
  std::vector<uint8_t> before(1024, 0x11);
  ASSERT_EQ(Installed().fs->WriteFileData(*record, 0, before.data(), before.size()),
            kStatusSuccess);
  g_seen.clear();

  // Five bytes inside the first sector: the sector is read, patched, written.
  IO_STATUS_BLOCK ioStatus{};
  LARGE_INTEGER offset;
  offset.QuadPart = 510;
  uint8_t bytes[5] = {1, 2, 3, 4, 5};
  ASSERT_EQ(ZwWriteFile(file, nullptr, nullptr, nullptr, &ioStatus, bytes, 5, &offset, nullptr),
            STATUS_SUCCESS);
  EXPECT_EQ(ioStatus.Information, 5u);
  const LONGLONG fileStart = static_cast<LONGLONG>(Installed().fs->ClusterToSector(
                                 static_cast<uint64_t>(record->runs[0].lcn))) *
                             512;
  ASSERT_EQ(g_seen.size(), 2u);
  EXPECT_EQ(g_seen[0].major, IRP_MJ_READ);
  EXPECT_EQ(g_seen[1].major, IRP_MJ_WRITE);
  EXPECT_EQ(g_seen[1].offset, fileStart);
  EXPECT_EQ(g_seen[1].length, 1024u);

  std::vector<uint8_t> after(1024);
  ASSERT_EQ(Installed().fs->ReadFileData(*record, 0, after.data(), after.size()), kStatusSuccess);
  std::vector<uint8_t> expected = before;
  std::memcpy(&expected[510], bytes, 5);
  EXPECT_EQ(after, expected);
}

TEST_F(StorageStackTest, FileIoWaitsForVolumeRequestsCompletedElsewhere) {
  for (StorageCompletion mode : {StorageCompletion::kPendingInline, StorageCompletion::kOtherThread,
                                 StorageCompletion::kOtherThreadAtDispatch}) {
    machine_->Storage().Knobs(1).completion = mode;
    HANDLE file = OpenOrFail(kHeaderFile);
    std::vector<uint8_t> buffer(1000);
    IO_STATUS_BLOCK ioStatus{};
    LARGE_INTEGER offset;
    offset.QuadPart = 7;
    ASSERT_EQ(ZwReadFile(file, nullptr, nullptr, nullptr, &ioStatus, buffer.data(), 1000, &offset,
                         nullptr),
              STATUS_SUCCESS);
    EXPECT_EQ(ioStatus.Information, 1000u);
    EXPECT_EQ(std::memcmp(buffer.data(),
                          reinterpret_cast<const uint8_t*>(Installed().header.get()) + 7, 1000),
              0);
  }
  EXPECT_TRUE(hk::TakeThreadFaults().empty());
}

// ------------------------------------------------------------ file-system controls

TEST_F(StorageStackTest, RetrievalPointersWalkEndsWithEndOfFile) {
  HANDLE file = OpenOrFail(kHeaderFile);
  const FileRecord* record = Installed().fs->Find(u"\\qvspace.sys");
  ASSERT_NE(record, nullptr);
  LONGLONG vcn = 0;
  std::vector<ClusterRun> runs;
  for (int guard = 0; guard < 100; ++guard) {
    uint8_t out[32];
    Answer a = FsControl(file, FSCTL_GET_RETRIEVAL_POINTERS, &vcn, sizeof vcn, out, sizeof out);
    if (a.status == STATUS_END_OF_FILE) break;
    ASSERT_TRUE(a.status == STATUS_SUCCESS || a.status == STATUS_BUFFER_OVERFLOW)
        << std::hex << a.status;
    ASSERT_EQ(a.information, 32u);
    const LONGLONG start = static_cast<LONGLONG>(GetLe64(out + 8));
    const LONGLONG next = static_cast<LONGLONG>(GetLe64(out + 16));
    runs.push_back({static_cast<int64_t>(GetLe64(out + 24)), static_cast<uint64_t>(next - start)});
    vcn = next;
  }
  ASSERT_EQ(runs.size(), record->runs.size());
  for (std::size_t i = 0; i < runs.size(); ++i) {
    EXPECT_EQ(runs[i].lcn, record->runs[i].lcn);
    EXPECT_EQ(runs[i].clusters, record->runs[i].clusters);
  }
  uint8_t tooSmall[31];
  vcn = 0;
  EXPECT_EQ(
      FsControl(file, FSCTL_GET_RETRIEVAL_POINTERS, &vcn, sizeof vcn, tooSmall, sizeof tooSmall)
          .status,
      STATUS_BUFFER_TOO_SMALL);
}

TEST_F(StorageStackTest, VolumeBitmapAnswersOnVolumeHandlesOnly) {
  HANDLE volume = OpenOrFail(u"\\??\\C:");
  HANDLE file = OpenOrFail(kHeaderFile);
  LONGLONG start = 13;
  std::vector<uint8_t> out(16 + 64);
  Answer a = FsControl(volume, FSCTL_GET_VOLUME_BITMAP, &start, sizeof start, out.data(),
                       static_cast<ULONG>(out.size()));
  EXPECT_EQ(a.status, STATUS_BUFFER_OVERFLOW) << "more clusters than 512 bits remain";
  EXPECT_EQ(a.information, out.size());
  EXPECT_EQ(GetLe64(out.data()), 8u) << "the start is rounded down to a multiple of 8";
  EXPECT_EQ(GetLe64(out.data() + 8), Installed().fs->GetGeometry().clusterCount - 8);
  EXPECT_EQ(FsControl(file, FSCTL_GET_VOLUME_BITMAP, &start, sizeof start, out.data(),
                      static_cast<ULONG>(out.size()))
                .status,
            STATUS_INVALID_PARAMETER);
}

TEST_F(StorageStackTest, MarkHandleNeedsAVolumeHandleOfTheSameVolume) {
  HANDLE volume = OpenOrFail(u"\\??\\C:");
  HANDLE file = OpenOrFail(kHeaderFile);
  HANDLE other = OpenOrFail(u"\\??\\C:\\boot\\bcd");
  struct {
    ULONG UsnSourceInfo;
    HANDLE VolumeHandle;
    ULONG HandleInfo;
  } info{4, other, 1};
  EXPECT_EQ(FsControl(file, FSCTL_MARK_HANDLE, &info, sizeof info, nullptr, 0).status,
            STATUS_INVALID_PARAMETER);
  EXPECT_FALSE(Installed().fs->Find(u"\\qvspace.sys")->pinned);
  info.VolumeHandle = volume;
  EXPECT_EQ(FsControl(file, FSCTL_MARK_HANDLE, &info, sizeof info, nullptr, 0).status,
            STATUS_SUCCESS);
  EXPECT_TRUE(Installed().fs->Find(u"\\qvspace.sys")->pinned);
  EXPECT_EQ(FsControl(file, FSCTL_MARK_HANDLE, &info, 4, nullptr, 0).status,
            STATUS_BUFFER_TOO_SMALL);
}

TEST_F(StorageStackTest, LockAndDismountAreVolumeState) {
  HANDLE volume = OpenOrFail(u"\\??\\C:");
  EXPECT_EQ(FsControl(volume, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0).status, STATUS_SUCCESS);
  EXPECT_EQ(FsControl(volume, FSCTL_LOCK_VOLUME, nullptr, 0, nullptr, 0).status,
            STATUS_ACCESS_DENIED);
  EXPECT_EQ(FsControl(volume, FSCTL_DISMOUNT_VOLUME, nullptr, 0, nullptr, 0).status,
            STATUS_SUCCESS);
  EXPECT_TRUE(Installed().fs->IsLocked());
  EXPECT_TRUE(Installed().fs->IsDismounted());
}

TEST_F(StorageStackTest, RequestsAFileSystemCannotServeAreRecorded) {
  // A file-system control that reaches the volume device itself.
  KEVENT event;
  KeInitializeEvent(&event, NotificationEvent, FALSE);
  IO_STATUS_BLOCK ioStatus{};
  PIRP irp = IoBuildDeviceIoControlRequest(FSCTL_LOCK_VOLUME, machine_->ProtectedVolume(), nullptr,
                                           0, nullptr, 0, FALSE, &event, &ioStatus);
  IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_FILE_SYSTEM_CONTROL;
  EXPECT_EQ(IoCallDriver(machine_->ProtectedVolume(), irp), kInvalidDeviceRequest);
  // A flush without a file object, sent to the file system.
  PDEVICE_OBJECT fs = machine_->Storage().FileSystemDevice(1);
  EXPECT_EQ(Transfer(fs, IRP_MJ_FLUSH_BUFFERS, 0, 0, nullptr).status, STATUS_INVALID_PARAMETER);
  const VolumeRecords records = machine_->Storage().Records(1);
  EXPECT_EQ(records.foreignFileSystemControls, 1u);
  EXPECT_EQ(records.flushesWithoutFileObject, 1u);
}

TEST_F(StorageStackTest, RegistryHoldsTheInstalledParameterRecord) {
  UNICODE_STRING key;
  RtlInitUnicodeString(&key, machine_->ServiceKey().c_str());
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &key, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr,
                             nullptr);
  HANDLE handle;
  ASSERT_EQ(ZwOpenKey(&handle, KEY_READ, &attributes), STATUS_SUCCESS);
  UNICODE_STRING value;
  RtlInitUnicodeString(&value, u"Parameter");
  std::vector<uint8_t> answer(2048);
  ULONG length = 0;
  EXPECT_EQ(
      ZwQueryValueKey(handle, &value, KeyValuePartialInformation, answer.data(), 2048, &length),
      STATUS_SUCCESS);
  ZwClose(handle);
  const auto* partial = reinterpret_cast<const KEY_VALUE_PARTIAL_INFORMATION*>(answer.data());
  ASSERT_EQ(partial->DataLength, 1024u);
  EXPECT_EQ(std::memcmp(partial->Data, &Installed().parameters, 1024), 0);
  EXPECT_EQ(Installed().parameters.ProtectedDrive, u'C');
}

// ------------------------------------------------------------ the mount manager

std::vector<uint8_t> CreatePointInput(const std::u16string& link, const std::u16string& device) {
  std::vector<uint8_t> in(8 + (link.size() + device.size()) * 2);
  PutLe16(&in[0], 8);
  PutLe16(&in[2], static_cast<uint16_t>(link.size() * 2));
  PutLe16(&in[4], static_cast<uint16_t>(8 + link.size() * 2));
  PutLe16(&in[6], static_cast<uint16_t>(device.size() * 2));
  std::memcpy(&in[8], link.data(), link.size() * 2);
  std::memcpy(&in[8 + link.size() * 2], device.data(), device.size() * 2);
  return in;
}

std::vector<uint8_t> DeletePointsInput(const std::u16string& link) {
  std::vector<uint8_t> in(24 + link.size() * 2, 0);
  PutLe32(&in[0], 24);
  PutLe16(&in[4], static_cast<uint16_t>(link.size() * 2));
  std::memcpy(&in[24], link.data(), link.size() * 2);
  return in;
}

class MountManagerTest : public StorageStackTest {
 protected:
  void SetUp() override {
    StorageStackTest::SetUp();
    ASSERT_EQ(machine_->Storage().AddMountManager(), STATUS_OBJECT_NAME_COLLISION)
        << "the machine has one";
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, MOUNTMGR_DEVICE_NAME);
    ASSERT_EQ(IoGetDeviceObjectPointer(&name, FILE_READ_ATTRIBUTES, &file_, &manager_),
              STATUS_SUCCESS);
  }
  void TearDown() override {
    if (file_ != nullptr) ObDereferenceObject(file_);
    StorageStackTest::TearDown();
  }
  Answer Send(ULONG code, std::vector<uint8_t> in, void* out = nullptr, ULONG outLength = 0) {
    return Ioctl(manager_, code, out, outLength, in.data(), static_cast<ULONG>(in.size()));
  }
  PFILE_OBJECT file_ = nullptr;
  PDEVICE_OBJECT manager_ = nullptr;
};

TEST_F(MountManagerTest, CreatePointLinksTheNameItselfAndRefusesASecond) {
  const std::u16string device = u"\\Device\\HarddiskVolume1";
  EXPECT_EQ(Send(IOCTL_MOUNTMGR_CREATE_POINT, CreatePointInput(u"\\DosDevices\\E:", device)).status,
            STATUS_SUCCESS);
  HANDLE handle;
  EXPECT_EQ(Open(u"\\??\\E:\\boot\\bcd", FILE_SYNCHRONOUS_IO_NONALERT, &handle), STATUS_SUCCESS);
  EXPECT_EQ(Send(IOCTL_MOUNTMGR_CREATE_POINT, CreatePointInput(u"\\DosDevices\\E:", device)).status,
            STATUS_OBJECT_NAME_COLLISION);
  // Names that reach past the input.
  std::vector<uint8_t> in = CreatePointInput(u"\\DosDevices\\G:", device);
  PutLe16(&in[6], static_cast<uint16_t>(device.size() * 2 + 2));
  EXPECT_EQ(Send(IOCTL_MOUNTMGR_CREATE_POINT, in).status, STATUS_INVALID_PARAMETER);
  EXPECT_EQ(Send(IOCTL_MOUNTMGR_CREATE_POINT, std::vector<uint8_t>(7)).status,
            STATUS_INVALID_PARAMETER);
}

TEST_F(MountManagerTest, DeletePointsRemovesTheLinkAndAnswersThePoint) {
  const std::u16string link = u"\\DosDevices\\E:";
  const std::u16string device = u"\\Device\\HarddiskVolume1";
  ASSERT_EQ(Send(IOCTL_MOUNTMGR_CREATE_POINT, CreatePointInput(link, device)).status,
            STATUS_SUCCESS);
  std::vector<uint8_t> out(4096, 0xCC);
  Answer a = Send(IOCTL_MOUNTMGR_DELETE_POINTS, DeletePointsInput(u"\\??\\E:"), out.data(), 4096);
  ASSERT_EQ(a.status, STATUS_SUCCESS);
  const uint32_t size = GetLe32(out.data());
  EXPECT_EQ(size, 32 + (6 + device.size()) * 2);
  EXPECT_EQ(a.information, size);
  EXPECT_EQ(GetLe32(out.data() + 4), 1u);
  EXPECT_EQ(
      std::memcmp(out.data() + GetLe32(out.data() + 8 + 16), device.data(), device.size() * 2), 0);
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, link.c_str());
  EXPECT_EQ(IoDeleteSymbolicLink(&name), STATUS_OBJECT_NAME_NOT_FOUND)
      << "the manager removed it already";
  EXPECT_EQ(Send(IOCTL_MOUNTMGR_DELETE_POINTS, DeletePointsInput(link), out.data(), 4096).status,
            STATUS_OBJECT_NAME_NOT_FOUND);

  // Too small for the answer: its size, and the warning.
  ASSERT_EQ(Send(IOCTL_MOUNTMGR_CREATE_POINT, CreatePointInput(link, device)).status,
            STATUS_SUCCESS);
  std::vector<uint8_t> small(40, 0xCC);
  a = Send(IOCTL_MOUNTMGR_DELETE_POINTS, DeletePointsInput(link), small.data(), 40);
  EXPECT_EQ(a.status, STATUS_BUFFER_OVERFLOW);
  EXPECT_EQ(a.information, 32u);
  EXPECT_EQ(GetLe32(small.data()), 32 + (link.size() + device.size()) * 2)
      << "the point as this request named it";
  EXPECT_EQ(small[32], 0xCC) << "nothing past the copied head";
}

TEST_F(MountManagerTest, ArrivalQueriesTheDeviceAndGivesOnlyAskedForLetters) {
  const std::u16string device = u"\\Device\\HarddiskVolume1";
  std::vector<uint8_t> in(2 + device.size() * 2);
  PutLe16(in.data(), static_cast<uint16_t>(device.size() * 2));
  std::memcpy(&in[2], device.data(), device.size() * 2);
  ASSERT_EQ(Send(IOCTL_MOUNTMGR_VOLUME_ARRIVAL_NOTIFICATION, in).status, STATUS_SUCCESS);
  machine_->Storage().GiveLetterOnArrival(device, u'F');
  ASSERT_EQ(Send(IOCTL_MOUNTMGR_VOLUME_ARRIVAL_NOTIFICATION, in).status, STATUS_SUCCESS);
  const StorageStack::MountManagerRecords seen = machine_->Storage().MountManagerSeen();
  ASSERT_EQ(seen.queriedNames.size(), 2u);
  EXPECT_EQ(seen.queriedNames[0], device);
  ASSERT_EQ(seen.createdLinks.size(), 1u);
  HANDLE handle;
  EXPECT_EQ(Open(u"\\??\\F:\\boot\\bcd", FILE_SYNCHRONOUS_IO_NONALERT, &handle), STATUS_SUCCESS);
  PutLe16(in.data(), static_cast<uint16_t>(in.size()));  // past the input
  EXPECT_EQ(Send(IOCTL_MOUNTMGR_VOLUME_ARRIVAL_NOTIFICATION, in).status, STATUS_INVALID_PARAMETER);
}

}  // namespace
}  // namespace vh::storage

// The engine's synchronous transfers, extent walks, look-ups, checked
// bitmaps, name queries and mount-manager requests.
#include <algorithm>

#include "bitmap_bits.h"
#include "engine_fixture.h"
#include "engine_io.h"
#include "engine_state.h"
#include "volume_names.h"

namespace vh::test {
namespace {

class TransferTest : public EngineTest, public ::testing::WithParamInterface<Completion> {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    disk->scripted().SetCompletion(GetParam());
    volume =
        AddFilter(disk->device(), KindPrimaryVolume, u"\\DEVICE\\HARDDISKVOLUME1", u"\\??\\C:");
    volume->Header = new vh::EngineHeader{};
    // Eight extents of 10, 40, 30, 40 ... 80 sectors, each starting 200
    // sectors after the previous one, so pieces land in recognisable places.
    for (ULONG i = 0; i < vh::kAreaExtentCount; ++i) {
      volume->Header->AreaExtents[i].StartSector = 100 + 200 * i;
      volume->Header->AreaExtents[i].SectorCount = i == 1 ? 40 : 10 * (i + 1);
    }
    for (std::size_t i = 0; i < disk->image().size(); ++i)
      disk->image()[i] = static_cast<unsigned char>(i / 512);
  }
  PVolumeFilterExtension volume = nullptr;
};

TEST_P(TransferTest, SixteenKilobytesAcrossTheEndOfTheFirstExtentAreSplitInTwo) {
  std::vector<unsigned char> data(16384);
  for (std::size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<unsigned char>(0x80 + i / 512);
  IO_STATUS_BLOCK iosb{};
  // Engine sector 7 is three sectors before the end of extent 0 (10 sectors).
  ASSERT_EQ(ReadWriteVolumeSectors(0, DeviceOf(volume), 7 * 512, 16384, data.data(), &iosb),
            STATUS_SUCCESS);
  auto seen = disk->scripted().Seen();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].offset, (100 + 7) * 512);
  EXPECT_EQ(seen[0].length, 3u * 512);
  EXPECT_EQ(seen[1].offset, 300 * 512);
  EXPECT_EQ(seen[1].length, 29u * 512);
  EXPECT_EQ(disk->image()[107 * 512], 0x80);
  EXPECT_EQ(disk->image()[109 * 512 + 511], 0x82);
  EXPECT_EQ(disk->image()[300 * 512], 0x83);
  EXPECT_EQ(disk->image()[328 * 512 + 511], 0x9F);
  EXPECT_EQ(disk->image()[329 * 512], static_cast<unsigned char>(329))
      << "nothing beyond the 29 sectors";

  std::vector<unsigned char> back(16384);
  ASSERT_EQ(ReadWriteVolumeSectors(1, DeviceOf(volume), 7 * 512, 16384, back.data(), &iosb),
            STATUS_SUCCESS);
  EXPECT_EQ(back, data);
}

TEST_P(TransferTest, TransferThatRunsPastTheLastExtentFailsAfterWritingWhatFits) {
  // The extents hold 380 sectors; engine sector 370 lies in extent 7.
  std::vector<unsigned char> data(20 * 512, 0xEE);
  IO_STATUS_BLOCK iosb{};
  EXPECT_EQ(ReadWriteVolumeSectors(0, DeviceOf(volume), 370LL * 512, 20 * 512, data.data(), &iosb),
            STATUS_UNSUCCESSFUL);
  // Extent 7 starts at volume sector 1500 and holds 80 sectors: engine
  // sector 370 is its 70th, so ten sectors fit.
  EXPECT_EQ(disk->image()[1570 * 512], 0xEE);
  EXPECT_EQ(disk->image()[1579 * 512 + 511], 0xEE);
  EXPECT_EQ(disk->image()[1580 * 512], static_cast<unsigned char>(1580));
  EXPECT_FALSE(ErrorLines().empty());
}

TEST_P(TransferTest, ShortTransferIsAFailureOnEveryCompletionPath) {
  disk->ShortenTransfersBy(512);
  std::vector<unsigned char> data(4096);
  IO_STATUS_BLOCK iosb{};
  EXPECT_EQ(ReadWriteDiskSectors(1, disk->device(), 0, 4096, data.data(), &iosb),
            STATUS_UNSUCCESSFUL);
  EXPECT_EQ(iosb.Information, 3584u);
  EXPECT_EQ(ReadWriteVolumeSectors(1, DeviceOf(volume), 0, 4096, data.data(), &iosb),
            STATUS_UNSUCCESSFUL);
}

TEST_P(TransferTest, LowerFailureIsReturnedUnchanged) {
  disk->FailTransfersWith(STATUS_IO_DEVICE_ERROR);
  std::vector<unsigned char> data(1024);
  IO_STATUS_BLOCK iosb{};
  EXPECT_EQ(ReadWriteDiskSectors(1, disk->device(), 512, 1024, data.data(), &iosb),
            STATUS_IO_DEVICE_ERROR);
  EXPECT_EQ(ReadWriteVolumeSectors(0, DeviceOf(volume), 512, 1024, data.data(), &iosb),
            STATUS_IO_DEVICE_ERROR);
}

TEST_P(TransferTest, DeviceControlRequestAnswersWithTheFinalStatusAndBytes) {
  disk->scripted().SetHandler([](PIO_STACK_LOCATION stack, PIRP irp) {
    if (stack->Parameters.DeviceIoControl.IoControlCode != IOCTL_DISK_GET_PARTITION_INFO) return;
    auto* info = static_cast<PARTITION_INFORMATION*>(irp->AssociatedIrp.SystemBuffer);
    std::memset(info, 0, sizeof *info);
    info->StartingOffset.QuadPart = 0x100000;
    irp->IoStatus.Information = sizeof *info;
  });
  PARTITION_INFORMATION info{};
  ASSERT_EQ(GetPartitionInfo(disk->device(), &info), STATUS_SUCCESS);
  EXPECT_EQ(info.StartingOffset.QuadPart, 0x100000);
  disk->scripted().SetHandler([](PIO_STACK_LOCATION, PIRP irp) { irp->IoStatus.Information = 8; });
  EXPECT_EQ(GetPartitionInfo(disk->device(), &info), STATUS_UNSUCCESSFUL)
      << "a short answer is no answer";
  disk->scripted().SetHandler(
      [](PIO_STACK_LOCATION, PIRP irp) { irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST; });
  EXPECT_EQ(SendDeviceIoctl(disk->device(), 0x70000, nullptr, 0, nullptr, 0),
            STATUS_INVALID_DEVICE_REQUEST);
}

// A dispatch routine of the engine that forwards and waits, then completes.
NTSTATUS ForwardingDispatch(PDEVICE_OBJECT device, PIRP irp) {
  NTSTATUS status = ForwardIrpAndWait(device, irp);
  irp->IoStatus.Status = status;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

TEST_P(TransferTest, ForwardedIrpComesBackToItsForwarder) {
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = ForwardingDispatch;
  disk->scripted().SetHandler([](PIO_STACK_LOCATION, PIRP irp) {
    irp->IoStatus.Status = STATUS_BUFFER_OVERFLOW;
    irp->IoStatus.Information = 4;
    std::memset(irp->AssociatedIrp.SystemBuffer, 0x3C, 4);
  });
  unsigned char out[8] = {};
  ULONG_PTR bytes = 0;
  EXPECT_EQ(SendDeviceIoctl(DeviceOf(volume), 0x4D0008, nullptr, 0, out, sizeof out, &bytes),
            STATUS_BUFFER_OVERFLOW);
  EXPECT_EQ(bytes, 4u);
  EXPECT_EQ(out[3], 0x3C);
  EXPECT_EQ(out[4], 0);
}

INSTANTIATE_TEST_SUITE_P(AllModes, TransferTest, ::testing::ValuesIn(hk::testing::kAllCompletions),
                         [](const ::testing::TestParamInfo<Completion>& param) {
                           std::string name = hk::testing::CompletionName(param.param);
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

class UtilityTest : public EngineTest {
 protected:
  void SetUp() override {
    EngineTest::SetUp();
    volume =
        AddFilter(disk->device(), KindPrimaryVolume, u"\\DEVICE\\HARDDISKVOLUME1", u"\\??\\C:");
    volume->Header = new vh::EngineHeader{};
    volume->Header->AreaExtents[0] = {100, 64};
  }
  PVolumeFilterExtension volume = nullptr;
};

TEST_F(UtilityTest, VolumeTransfersRefuseWhatIsNoEngineVolume) {
  unsigned char data[512] = {};
  IO_STATUS_BLOCK iosb{};
  PDEVICE_OBJECT device = DeviceOf(volume);
  PVolumeFilterExtension mount =
      AddFilter(disk->device(), KindMount, u"\\DEVICE\\M", nullptr, false);
  mount->Header = new vh::EngineHeader{};
  mount->Header->AreaExtents[0] = {100, 64};
  PVolumeFilterExtension raw = AddFilter(disk->device(), KindRawDisk, nullptr, nullptr, false);
  raw->Header = new vh::EngineHeader{};
  EngineRawDiskFilter = DeviceOf(raw);
  PVolumeFilterExtension bare =
      AddFilter(disk->device(), KindOtherVolume, u"\\DEVICE\\B", u"\\??\\D:", false);

  struct Case {
    const char* what;
    PDEVICE_OBJECT device;
    LONGLONG offset;
    ULONG length;
    void* buffer;
    PIO_STATUS_BLOCK iosb;
    NTSTATUS expected;
  } cases[] = {
      {"mount device", DeviceOf(mount), 0, 512, data, &iosb, STATUS_INVALID_PARAMETER},
      {"raw-disk filter", EngineRawDiskFilter, 0, 512, data, &iosb, STATUS_INVALID_PARAMETER},
      {"no header", DeviceOf(bare), 0, 512, data, &iosb, STATUS_INVALID_PARAMETER},
      {"zero length", device, 0, 0, data, &iosb, STATUS_INVALID_PARAMETER},
      {"no buffer", device, 0, 512, nullptr, &iosb, STATUS_INVALID_PARAMETER},
      {"no status block", device, 0, 512, data, nullptr, STATUS_INVALID_PARAMETER},
      {"offset in no extent", device, 64 * 512, 512, data, &iosb, STATUS_INVALID_PARAMETER},
      {"negative offset", device, -512, 512, data, &iosb, STATUS_INVALID_PARAMETER},
      {"below one sector", device, 0, 511, data, &iosb, STATUS_UNSUCCESSFUL},
      {"partial sector", device, 0, 700, data, &iosb, STATUS_INVALID_PARAMETER},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReadWriteVolumeSectors(1, c.device, c.offset, c.length, c.buffer, c.iosb), c.expected)
        << c.what;
  }
  EngineControlDevice = device;  // the control device is refused as well
  EXPECT_EQ(ReadWriteVolumeSectors(1, device, 0, 512, data, &iosb), STATUS_INVALID_PARAMETER);
  EXPECT_TRUE(disk->scripted().Seen().empty()) << "no refused transfer reaches the disk";
}

TEST_F(UtilityTest, ShortLengthFailsWithoutIoAndWithoutLog) {
  unsigned char data[512] = {};
  IO_STATUS_BLOCK iosb{};
  hk::ClearDbgLog();
  EXPECT_EQ(ReadWriteVolumeSectors(1, DeviceOf(volume), 512, 100, data, &iosb),
            STATUS_UNSUCCESSFUL);
  EXPECT_TRUE(ErrorLines().empty());
  EXPECT_TRUE(disk->scripted().Seen().empty());
}

TEST_F(UtilityTest, ZeroLengthDiskTransferSucceedsWithoutIo) {
  IO_STATUS_BLOCK iosb{};
  hk::ClearDbgLog();
  EXPECT_EQ(ReadWriteDiskSectors(1, disk->device(), 0, 0, nullptr, &iosb), STATUS_SUCCESS);
  EXPECT_TRUE(disk->scripted().Seen().empty());
  ASSERT_EQ(ErrorLines().size(), 1u);
  EXPECT_NE(ErrorLines()[0].find("UTIL c0000001"), std::string::npos) << ErrorLines()[0];
}

TEST_F(UtilityTest, RequestsThatCannotBeBuiltAnswerNoMemory) {
  unsigned char data[512];
  IO_STATUS_BLOCK iosb{};
  hk::FailIrpAllocation(1);
  EXPECT_EQ(ReadWriteDiskSectors(1, disk->device(), 0, 512, data, &iosb),
            STATUS_INSUFFICIENT_RESOURCES);
  hk::FailIrpAllocation(1);
  EXPECT_EQ(SendDeviceIoctl(disk->device(), 0x70000, nullptr, 0, nullptr, 0),
            STATUS_INSUFFICIENT_RESOURCES);
}

TEST_F(UtilityTest, PassThroughCompletesOnTheControlDeviceAndForwardsElsewhere) {
  PDEVICE_OBJECT control;
  ASSERT_EQ(IoCreateDevice(driver, sizeof(VolumeFilterExtension), nullptr, FILE_DEVICE_UNKNOWN, 0,
                           FALSE, &control),
            STATUS_SUCCESS);
  EngineControlDevice = control;
  unsigned char data[512];
  IO_STATUS_BLOCK iosb{};
  iosb.Information = 99;
  EXPECT_EQ(ReadWriteDiskSectors(1, control, 0, 512, data, &iosb), STATUS_UNSUCCESSFUL)
      << "success with no bytes is a short read";
  EXPECT_EQ(iosb.Information, 0u);
  EXPECT_TRUE(disk->scripted().Seen().empty());
  EXPECT_EQ(ReadWriteDiskSectors(1, DeviceOf(volume), 0, 512, data, &iosb), STATUS_SUCCESS);
  ASSERT_EQ(disk->scripted().Seen().size(), 1u);
  EXPECT_EQ(disk->scripted().Seen()[0].major, IRP_MJ_READ);
  IoDeleteDevice(control);
}

TEST_F(UtilityTest, PassThroughOnAFilterWithoutLowerDeviceFailsTheRequestInsteadOfCrashing) {
  PVolumeFilterExtension detached =
      AddFilter(disk->device(), KindOtherVolume, u"\\DEVICE\\D", u"\\??\\D:", false);
  ULONG_PTR bytes = 1;
  EXPECT_EQ(SendDeviceIoctl(DeviceOf(detached), 0x70000, nullptr, 0, nullptr, 0, &bytes),
            STATUS_INVALID_DEVICE_REQUEST);
  EXPECT_EQ(bytes, 0u);
}

TEST_F(UtilityTest, LookupsSkipNonVolumesAndTheNewestMatchWins) {
  PVolumeFilterExtension older = volume;
  PVolumeFilterExtension newer =
      AddFilter(disk->device(), KindOtherVolume, u"\\DEVICE\\HARDDISKVOLUME1", u"\\??\\C:");
  PVolumeFilterExtension mount =
      AddFilter(disk->device(), KindMount, u"\\DEVICE\\HARDDISKVOLUME9", u"\\??\\Z:", false);
  (void)mount;
  UNICODE_STRING mixed, dos, lowerDos, mountName;
  RtlInitUnicodeString(&mixed, u"\\Device\\HarddiskVolume1");
  RtlInitUnicodeString(&dos, u"\\??\\C:");
  RtlInitUnicodeString(&lowerDos, u"\\??\\c:");
  RtlInitUnicodeString(&mountName, u"\\DEVICE\\HARDDISKVOLUME9");
  PDEVICE_OBJECT found = nullptr;
  EXPECT_EQ(FindVolumeByDeviceName(&mixed, &found), STATUS_SUCCESS);
  EXPECT_EQ(found, DeviceOf(newer));
  EXPECT_EQ(FindVolumeByDosName(&dos, &found), STATUS_SUCCESS);
  EXPECT_EQ(found, DeviceOf(newer));
  EXPECT_EQ(FindVolumeByDosName(&lowerDos, &found), STATUS_UNSUCCESSFUL)
      << "DOS names match case-sensitively";
  EXPECT_EQ(FindVolumeByDeviceName(&mountName, &found), STATUS_UNSUCCESSFUL)
      << "snapshot drives are skipped";
  EngineControlDevice = DeviceOf(newer);
  EXPECT_EQ(FindVolumeByDeviceName(&mixed, &found), STATUS_SUCCESS);
  EXPECT_EQ(found, DeviceOf(older));
  EXPECT_EQ(FindVolumeByDosName(nullptr, &found), STATUS_INVALID_PARAMETER);
  EngineDriverObject = nullptr;
  EXPECT_EQ(FindVolumeByDeviceName(&mixed, &found), STATUS_UNSUCCESSFUL);
  EngineDriverObject = driver;
}

TEST_F(UtilityTest, CheckedBitmapsRefuseIndexesOutsideAndWrappingRanges) {
  ULONG words[2] = {0, 0};
  RTL_BITMAP bitmap;
  RtlInitializeBitMap(&bitmap, words, 40);
  EXPECT_EQ(SetBitmapBit(&bitmap, 39), STATUS_SUCCESS);
  EXPECT_EQ(SetBitmapBit(&bitmap, 40), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(SetBitmapBit(&bitmap, 0xFFFFFFFFu), STATUS_INVALID_PARAMETER) << "index + 1 wraps to 0";
  EXPECT_EQ(ClearBitmapBit(&bitmap, 0xFFFFFFFFu), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(SetBitmapBit(nullptr, 0), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(words[1], 0x80u);
  UCHAR all = 7;
  EXPECT_EQ(TestBitmapBitsSet(&bitmap, 39, 1, &all), STATUS_SUCCESS);
  EXPECT_EQ(all, 1);
  EXPECT_EQ(TestBitmapBitsSet(&bitmap, 38, 2, &all), STATUS_SUCCESS);
  EXPECT_EQ(all, 0);
  EXPECT_EQ(TestBitmapBitsSet(&bitmap, 39, 2, &all), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(TestBitmapBitsSet(&bitmap, 2, 0xFFFFFFFFu, &all), STATUS_INVALID_PARAMETER)
      << "first + count wraps";
  EXPECT_EQ(ClearBitmapBit(&bitmap, 39), STATUS_SUCCESS);
  EXPECT_EQ(words[1], 0u);
  bool logged = false;
  for (const std::string& line : ErrorLines())
    logged = logged || line.find("UTIL 00000028 c0000001") != std::string::npos;
  EXPECT_TRUE(logged);
}

TEST_F(UtilityTest, TargetNameIsQueriedUpperCasedAndRefusedForNonDisks) {
  volume->DeviceName.Length = 0;
  ASSERT_EQ(QueryTargetDeviceName(volume), STATUS_SUCCESS);
  EXPECT_EQ(hk::Narrow(&volume->DeviceName), "\\DEVICE\\HARDDISKVOLUME1");
  EXPECT_EQ(volume->DeviceName.Buffer[volume->DeviceName.Length / 2], 0);
  hk::FailPoolAllocation(1);
  EXPECT_EQ(QueryTargetDeviceName(volume), STATUS_INSUFFICIENT_RESOURCES);
  ScriptedDevice other(u"\\Device\\Thing", FILE_DEVICE_UNKNOWN, 0);
  volume->TargetDevice = other.device();
  EXPECT_EQ(QueryTargetDeviceName(volume), STATUS_UNSUCCESSFUL);
  ScriptedDevice unnamed(u"", FILE_DEVICE_DISK, 0);
  volume->TargetDevice = unnamed.device();
  EXPECT_EQ(QueryTargetDeviceName(volume), STATUS_UNSUCCESSFUL);
  volume->TargetDevice = nullptr;
  EXPECT_EQ(QueryTargetDeviceName(volume), STATUS_UNSUCCESSFUL);
  volume->TargetDevice = disk->device();
}

// Answers IOCTL_MOUNTDEV_QUERY_DEVICE_NAME as a volume does.
void AnswerDeviceName(const std::u16string& name, PIO_STACK_LOCATION stack, PIRP irp) {
  if (stack->Parameters.DeviceIoControl.IoControlCode != IOCTL_MOUNTDEV_QUERY_DEVICE_NAME) return;
  ULONG out = stack->Parameters.DeviceIoControl.OutputBufferLength;
  auto* answer = static_cast<PMOUNTDEV_NAME>(irp->AssociatedIrp.SystemBuffer);
  if (out < sizeof(MOUNTDEV_NAME)) {
    irp->IoStatus.Status = STATUS_INVALID_PARAMETER;
    return;
  }
  answer->NameLength = static_cast<USHORT>(name.size() * 2);
  if (out < 2 + name.size() * 2) {
    irp->IoStatus.Status = STATUS_BUFFER_OVERFLOW;
    irp->IoStatus.Information = sizeof(MOUNTDEV_NAME);
    return;
  }
  std::memcpy(answer->Name, name.data(), name.size() * 2);
  irp->IoStatus.Information = 2 + name.size() * 2;
}

class VolumeNameTest : public UtilityTest, public ::testing::WithParamInterface<Completion> {};

TEST_P(VolumeNameTest, NameIsAskedTwiceAndStoredUpperCasedAndTerminated) {
  disk->scripted().SetCompletion(GetParam());
  disk->scripted().SetHandler([](PIO_STACK_LOCATION stack, PIRP irp) {
    AnswerDeviceName(u"\\Device\\HarddiskVolume12", stack, irp);
  });
  volume->DeviceName.Length = 0;
  ASSERT_EQ(QueryVolumeDeviceName(volume), STATUS_SUCCESS);
  EXPECT_EQ(hk::Narrow(&volume->DeviceName), "\\DEVICE\\HARDDISKVOLUME12");
  EXPECT_EQ(volume->DeviceName.Buffer[volume->DeviceName.Length / 2], 0);
  auto seen = disk->scripted().Seen();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0].length, 4u);
  EXPECT_EQ(seen[1].length, 4u + 24 * 2);
}

INSTANTIATE_TEST_SUITE_P(AllModes, VolumeNameTest,
                         ::testing::ValuesIn(hk::testing::kAllCompletions),
                         [](const ::testing::TestParamInfo<Completion>& param) {
                           std::string name = hk::testing::CompletionName(param.param);
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

TEST_F(UtilityTest, VolumeNameLongerThanTheNameBufferIsRefused) {
  std::u16string longName = u"\\Device\\" + std::u16string(140, u'v');  // 296 bytes
  disk->scripted().SetHandler(
      [&](PIO_STACK_LOCATION stack, PIRP irp) { AnswerDeviceName(longName, stack, irp); });
  std::memset(volume->DeviceNameBuffer, 0, sizeof volume->DeviceNameBuffer);
  volume->DeviceName.Length = 0;
  UCHAR after = volume->DosNameBuffer[0] & 0xFF;
  EXPECT_EQ(QueryVolumeDeviceName(volume), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(volume->DeviceName.Length, 0);
  EXPECT_EQ(volume->DosNameBuffer[0] & 0xFF, after) << "nothing written past the name buffer";
  volume->TargetDevice = nullptr;
  EXPECT_EQ(QueryVolumeDeviceName(volume), STATUS_UNSUCCESSFUL);
  volume->TargetDevice = disk->device();
}

class MountManagerTest : public UtilityTest {
 protected:
  void SetUp() override {
    UtilityTest::SetUp();
    manager = std::make_unique<ScriptedDevice>(u"\\Device\\MountPointManager", FILE_DEVICE_UNKNOWN,
                                               DO_BUFFERED_IO);
    manager->SetHandler([this](PIO_STACK_LOCATION stack, PIRP irp) {
      if (stack->MajorFunction != IRP_MJ_DEVICE_CONTROL) return;
      auto* bytes = static_cast<unsigned char*>(irp->AssociatedIrp.SystemBuffer);
      lastInput.assign(bytes, bytes + stack->Parameters.DeviceIoControl.InputBufferLength);
    });
  }
  void TearDown() override {
    manager.reset();
    UtilityTest::TearDown();
  }
  std::u16string WideAt(std::size_t offset, std::size_t bytes) const {
    std::u16string s(bytes / 2, 0);
    std::memcpy(&s[0], lastInput.data() + offset, bytes);
    return s;
  }
  std::unique_ptr<ScriptedDevice> manager;
  std::vector<unsigned char> lastInput;
};

TEST_F(MountManagerTest, RequestsCarryTheirRecordsAndNamesWhereTheManagerExpectsThem) {
  ASSERT_EQ(NotifyVolumeArrival(volume), STATUS_SUCCESS);
  ASSERT_EQ(lastInput.size(), 2u + volume->DeviceName.Length);
  EXPECT_EQ(lastInput[0] | lastInput[1] << 8, volume->DeviceName.Length);
  EXPECT_EQ(WideAt(2, volume->DeviceName.Length), u"\\DEVICE\\HARDDISKVOLUME1");

  ASSERT_EQ(CreateMountPoint(volume), STATUS_SUCCESS);
  MOUNTMGR_CREATE_POINT_INPUT point;
  std::memcpy(&point, lastInput.data(), sizeof point);
  EXPECT_EQ(point.SymbolicLinkNameOffset, 8);
  EXPECT_EQ(point.SymbolicLinkNameLength, 12);
  EXPECT_EQ(point.DeviceNameOffset, 20);
  EXPECT_EQ(WideAt(8, 12), u"\\??\\C:");
  EXPECT_EQ(WideAt(20, point.DeviceNameLength), u"\\DEVICE\\HARDDISKVOLUME1");

  ASSERT_EQ(DeleteMountPoints(volume), STATUS_SUCCESS);
  ASSERT_EQ(lastInput.size(), 24u + 12);
  MOUNTMGR_MOUNT_POINT mount;
  std::memcpy(&mount, lastInput.data(), sizeof mount);
  EXPECT_EQ(mount.SymbolicLinkNameOffset, 24u);
  EXPECT_EQ(mount.SymbolicLinkNameLength, 12);
  EXPECT_EQ(mount.DeviceNameLength, 0);
  EXPECT_EQ(mount.UniqueIdLength, 0);
  EXPECT_EQ(WideAt(24, 12), u"\\??\\C:");
  ULONG lastOutput = 0;
  for (const auto& r : manager->Seen()) {
    if (r.major == IRP_MJ_DEVICE_CONTROL) lastOutput = r.length;
  }
  EXPECT_EQ(lastOutput, 4096u);

  // Each request opened the manager and let go of it again.
  EXPECT_EQ(manager->device()->ReferenceCount, 0);
}

TEST_F(MountManagerTest, MissingManagerIsReportedNotCrashedOn) {
  manager.reset();
  EXPECT_EQ(NotifyVolumeArrival(volume), STATUS_OBJECT_NAME_NOT_FOUND);
  EXPECT_FALSE(ErrorLines().empty());
}

TEST_F(UtilityTest, DriveIsOpenedAndSentBufferlessFileSystemControls) {
  ScriptedDevice drive(u"\\Device\\5E27-B4E9-4A1F-9C63", FILE_DEVICE_DISK, DO_DIRECT_IO);
  volume->DosName.Length = 0;
  RtlAppendUnicodeToString(&volume->DosName, u"\\DosDevices\\E:");
  volume->DeviceName.Length = 0;
  RtlAppendUnicodeToString(&volume->DeviceName, u"\\Device\\5E27-B4E9-4A1F-9C63");
  ASSERT_EQ(CreateDosLink(volume), STATUS_SUCCESS);
  EXPECT_EQ(CreateDosLink(volume), STATUS_OBJECT_NAME_COLLISION);

  HANDLE handle;
  PFILE_OBJECT file;
  ASSERT_EQ(OpenAndReferenceFile(&volume->DosName, &handle, &file), STATUS_SUCCESS);
  EXPECT_EQ(SendFileSystemControl(file, FSCTL_LOCK_VOLUME), STATUS_SUCCESS);
  drive.SetHandler(
      [](PIO_STACK_LOCATION, PIRP irp) { irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST; });
  EXPECT_EQ(SendFileSystemControl(file, FSCTL_DISMOUNT_VOLUME), STATUS_INVALID_DEVICE_REQUEST);
  auto seen = drive.Seen();
  ASSERT_EQ(seen.size(), 3u);  // create, lock, dismount
  EXPECT_EQ(seen[1].major, IRP_MJ_FILE_SYSTEM_CONTROL);
  EXPECT_EQ(seen[1].minor, IRP_MN_USER_FS_REQUEST);
  EXPECT_EQ(seen[1].code, FSCTL_LOCK_VOLUME);
  EXPECT_EQ(seen[1].file, file);
  EXPECT_EQ(seen[2].code, FSCTL_DISMOUNT_VOLUME);
  ObDereferenceObject(file);
  ZwClose(handle);
  EXPECT_EQ(drive.device()->ReferenceCount, 0);
  UNICODE_STRING link;
  RtlInitUnicodeString(&link, u"\\DosDevices\\E:");
  EXPECT_EQ(IoDeleteSymbolicLink(&link), STATUS_SUCCESS);

  UNICODE_STRING missing;
  RtlInitUnicodeString(&missing, u"\\??\\Q:");
  EXPECT_EQ(OpenAndReferenceFile(&missing, &handle, &file), STATUS_OBJECT_NAME_NOT_FOUND);
  EXPECT_EQ(handle, nullptr);
}

}  // namespace
}  // namespace vh::test

// The engine booted on an installed machine: start-up, volume arrival, the
// pass-through files, the space-file guard, shutdown, PnP and power.
#include <cstring>
#include <string>
#include <vector>

#include "boot_fixture.h"
#include "dispatch.h"
#include "driver_entry.h"
#include "engine_lock.h"
#include "engine_state.h"
#include "rollback.h"
#include "volume.h"

namespace vh::test {
namespace {

constexpr uint32_t kProtected = 1;
constexpr uint32_t kOther = 2;
constexpr UCHAR kSetPower = 0x02;  // IRP_MN_SET_POWER

std::u16string SpaceFileName(uint32_t index) {
  std::u16string name = u"\\qvspace.sys";
  if (index != 0) name += static_cast<char16_t>(u'0' + index);
  return name;
}

// ------------------------------------------------------------ the whole boot

// Pinned paths of the record differ from the two fixed names, so each of
// the four is seen on its own; the two fixed files are made for the test.
void MakeSystemFiles(Installation& installed) {
  storage::FileSystemModel& fs = *installed.fs;
  ASSERT_EQ(fs.CreateDirectory(u"\\boot"), storage::kStatusSuccess);
  ASSERT_EQ(fs.CreateContiguousFile(u"\\boot\\bcd", 64 * 1024, nullptr), storage::kStatusSuccess);
  ASSERT_EQ(fs.CreateContiguousFile(u"\\hiberfil.sys", 1024 * 1024, nullptr),
            storage::kStatusSuccess);
}

MachineOptions DistinctPinnedPaths() {
  MachineOptions options = BootTest::TwoVolumes();
  options.install.pinnedPath1 = u"C:\\Windows\\System32\\config\\SYSTEM";
  options.install.pinnedPath2 = u"C:\\pagefile.sys";
  return options;
}

TEST_F(BootTest, BootsProtectedVolumeIntoTrackingAndPassesOtherWritesThrough) {
  ASSERT_NO_FATAL_FAILURE(Boot(DistinctPinnedPaths(), [](Installation& installed) {
    WithSnapshots(installed, 1);
    MakeSystemFiles(installed);
  }));

  // Driver-wide state: the control device, registered for last-chance
  // shutdown, and the raw-disk filter on top of disk 0.
  ASSERT_NE(EngineControlDevice, nullptr);
  const std::vector<PDEVICE_OBJECT> lastChance = hk::ShutdownDevices(true);
  EXPECT_NE(std::find(lastChance.begin(), lastChance.end(), EngineControlDevice), lastChance.end());
  ASSERT_NE(EngineRawDiskFilter, nullptr);
  EXPECT_EQ(IoGetAttachedDevice(machine_->Disk0()), EngineRawDiskFilter);

  PVolumeFilterExtension c = Volume(kProtected);
  PVolumeFilterExtension d = Volume(kOther);
  ASSERT_NE(c, nullptr);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(EnginePrimaryVolume, Filter(kProtected));
  EXPECT_EQ(c->Kind, KindPrimaryVolume);
  EXPECT_EQ(hk::Narrow(&c->DosName), "\\??\\C:");
  EXPECT_EQ(c->PartitionNumber, 1u);
  EXPECT_EQ(c->EngineMode, EngineModeTracking);
  ASSERT_NE(c->Header, nullptr);
  EXPECT_EQ(c->Header->VolumeId, Installed().header->VolumeId);
  EXPECT_EQ(c->ProtectionActive, 1);
  EXPECT_EQ(c->PnpState, PnpStarted);
  EXPECT_EQ(d->Kind, KindOtherVolume);
  EXPECT_EQ(hk::Narrow(&d->DosName), "\\??\\D:");
  EXPECT_EQ(d->EngineMode, EngineModeOff);
  EXPECT_EQ(d->Header, nullptr);
  EXPECT_EQ(d->ProtectionActive, 0);

  // The four pass-through files of the protected volume, and nothing else.
  const storage::FileSystemModel& fs = *Installed().fs;
  Ranges expected;
  for (const char16_t* path : {u"\\Windows\\System32\\config\\SYSTEM", u"\\boot\\bcd",
                               u"\\pagefile.sys", u"\\hiberfil.sys"}) {
    Ranges file = FileRanges(fs, path);
    ASSERT_FALSE(file.empty()) << hk::Narrow(path);
    expected.insert(expected.end(), file.begin(), file.end());
  }
  EXPECT_EQ(Normalised(PassThroughRanges(c)), Normalised(expected));
  EXPECT_EQ(d->PassThroughList, nullptr);

  // The guard holds the five space files and has marked each of them.
  ASSERT_TRUE(hk::testing::Eventually([&] {
    for (uint32_t i = 0; i < 5; ++i) {
      const storage::FileRecord* record = fs.Find(SpaceFileName(i));
      if (record == nullptr || !record->pinned) return false;
    }
    return true;
  }));

  // A write to the protected volume goes to its worker (answered pending);
  // one to the other volume goes straight down. Both reach the disk.
  std::vector<uint8_t> data(4096, 0x5C);
  NTSTATUS answered = STATUS_SUCCESS;
  EXPECT_EQ(WriteSectors(Filter(kProtected), 512 * 4096, data, &answered), STATUS_SUCCESS);
  EXPECT_EQ(answered, STATUS_PENDING);
  std::vector<uint8_t> data2(4096, 0xD2);
  EXPECT_EQ(WriteSectors(Filter(kOther), 512 * 2048, data2, &answered), STATUS_SUCCESS);
  EXPECT_EQ(answered, STATUS_SUCCESS);
  std::vector<uint8_t> back(4096);
  ASSERT_EQ(Installed().volume->Read(512 * 4096, 4096, back.data()).status,
            storage::kStatusSuccess);
  EXPECT_EQ(back, data);
  ASSERT_EQ(Installed().others[0].volume->Read(512 * 2048, 4096, back.data()).status,
            storage::kStatusSuccess);
  EXPECT_EQ(back, data2);

  // Shutdown detaches the raw-disk filter; the PnP removals and the
  // teardown (fixture) leave no pool, handle or thread behind.
  EXPECT_EQ(Shutdown(), STATUS_SUCCESS);
  EXPECT_EQ(EngineRawDiskFilter, nullptr);
  EXPECT_EQ(IoGetAttachedDevice(machine_->Disk0()), machine_->Disk0());
}

TEST_F(BootTest, ReinitialisationWaitsForSystemRoot) {
  BuildMachine(TwoVolumes());
  WithSnapshots(Installed(), 1);
  UNICODE_STRING root;
  RtlInitUnicodeString(&root, u"\\SystemRoot");
  ASSERT_EQ(IoDeleteSymbolicLink(&root), STATUS_SUCCESS);
  ASSERT_NO_FATAL_FAILURE(LoadEngine());
  ASSERT_NO_FATAL_FAILURE(ArriveVolume(kProtected));
  enginehost::EngineBoot::Reinitialise();

  // Not yet: nothing of the second stage ran, so even in tracking mode the
  // protected volume's writes pass straight through.
  EXPECT_EQ(EngineRawDiskFilter, nullptr);
  EXPECT_EQ(Volume(kProtected)->EngineMode, EngineModeTracking);
  EXPECT_EQ(Volume(kProtected)->ProtectionActive, 0);
  EXPECT_EQ(Volume(kProtected)->PassThroughList, nullptr);
  std::vector<uint8_t> data(512, 0x11);
  NTSTATUS answered = STATUS_PENDING;
  EXPECT_EQ(WriteSectors(Filter(kProtected), 512 * 100, data, &answered), STATUS_SUCCESS);
  EXPECT_EQ(answered, STATUS_SUCCESS);

  // The routine registered itself again and finishes once the name opens.
  ASSERT_EQ(machine_->Storage().LinkFolder(u"\\SystemRoot", 1, u"\\Windows"), STATUS_SUCCESS);
  enginehost::EngineBoot::Reinitialise();
  EXPECT_NE(EngineRawDiskFilter, nullptr);
  EXPECT_EQ(Volume(kProtected)->ProtectionActive, 1);
  EXPECT_NE(Volume(kProtected)->PassThroughList, nullptr);
  EXPECT_EQ(WriteSectors(Filter(kProtected), 512 * 100, data, &answered), STATUS_SUCCESS);
  EXPECT_EQ(answered, STATUS_PENDING);
}

// ------------------------------------------------------------ volume arrival

struct ArrivalCase {
  const char* name;
  void (*prepare)(Installation&);
  ULONG kind;
  ULONG mode;
  bool header;
};

void NoSnapshots(Installation&) {}
void OneSnapshot(Installation& installed) { BootTest::WithSnapshots(installed, 1); }
// Matches by magic and volume identifier but fails the validator: more
// snapshots than the header allows.
void InvalidHeader(Installation& installed) {
  EngineHeader header = *installed.header;
  header.MaxSnapshots = 2;
  header.SnapshotCount = 3;
  header.CountCopy = 3;
  installed.WriteEngineSectors(0, kEngineHeaderSectors, &header);
}
void LocationNotValid(Installation& installed) {
  OneSnapshot(installed);
  installed.parameters.HeaderLocations[0].Valid = 0;
}
// Decoys first: another volume identifier, then an empty sector; the
// fourth location names the header.
void FourthLocation(Installation& installed) {
  OneSnapshot(installed);
  HeaderLocation real = installed.parameters.HeaderLocations[0];
  installed.parameters.HeaderLocations[0] = {real.Sector, 1, real.VolumeId + 1};
  installed.parameters.HeaderLocations[1] = {8, 1, real.VolumeId};
  installed.parameters.HeaderLocations[3] = real;
}

class ArrivalTest : public BootTest, public ::testing::WithParamInterface<ArrivalCase> {};

TEST_P(ArrivalTest, LoadsTheEngineOnlyFromAValidHeaderWithSnapshots) {
  const ArrivalCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(Boot(TwoVolumes(), c.prepare));
  PVolumeFilterExtension volume = Volume(kProtected);
  ASSERT_NE(volume, nullptr);
  EXPECT_EQ(volume->Kind, c.kind);
  EXPECT_EQ(volume->EngineMode, c.mode);
  EXPECT_EQ(volume->Header != nullptr, c.header);
  EXPECT_EQ(volume->SpaceBitmapBuffer != nullptr, c.header);
  EXPECT_EQ(EnginePrimaryVolume, Filter(kProtected));
}

const ArrivalCase kArrivalCases[] = {
    {"NoSnapshots", NoSnapshots, KindPrimaryVolume, EngineModeOff, false},
    {"OneSnapshot", OneSnapshot, KindPrimaryVolume, EngineModeTracking, true},
    {"InvalidHeader", InvalidHeader, KindPrimaryVolume, EngineModeOff, false},
    {"LocationNotValid", LocationNotValid, KindPrimaryVolume, EngineModeOff, false},
    {"FourthLocation", FourthLocation, KindPrimaryVolume, EngineModeTracking, true},
};
INSTANTIATE_TEST_SUITE_P(Locations, ArrivalTest, ::testing::ValuesIn(kArrivalCases),
                         [](const ::testing::TestParamInfo<ArrivalCase>& param) {
                           return param.param.name;
                         });

TEST_F(BootTest, HotPluggableVolumeGetsNoLetterAndNoEngine) {
  MachineOptions options = TwoVolumes();
  options.install.extraVolumes[0].hotplug.deviceHotplug = true;
  ASSERT_NO_FATAL_FAILURE(Boot(options, OneSnapshot));
  PVolumeFilterExtension d = Volume(kOther);
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(d->Hotplug, 1);
  EXPECT_EQ(d->Kind, KindVolumeUnset);
  EXPECT_EQ(d->DosName.Length, 0);
  EXPECT_TRUE(LogHas("VOL DeviceHotplug"));
}

TEST_F(BootTest, AddDeviceSkipsMediaItMustNotFilter) {
  ASSERT_NO_FATAL_FAILURE(BuildMachine(TwoVolumes()));
  ASSERT_NO_FATAL_FAILURE(LoadEngine());
  PDRIVER_OBJECT other = hk::CreateTestDriver(u"\\Driver\\Removable");
  for (ULONG characteristics :
       {FILE_REMOVABLE_MEDIA, FILE_READ_ONLY_DEVICE, FILE_FLOPPY_DISKETTE, FILE_WRITE_ONCE_MEDIA}) {
    PDEVICE_OBJECT device;
    ASSERT_EQ(IoCreateDevice(other, 0, nullptr, FILE_DEVICE_DISK, characteristics, FALSE, &device),
              STATUS_SUCCESS);
    device->Flags &= ~static_cast<ULONG>(DO_DEVICE_INITIALIZING);
    hk::ClearDbgLog();
    EXPECT_EQ(EngineAddDevice(driver_, device), STATUS_SUCCESS);
    EXPECT_EQ(IoGetAttachedDevice(device), device) << characteristics;
    EXPECT_TRUE(LogHas("VOL Device need to be passed."));
    IoDeleteDevice(device);
  }
}

TEST_F(BootTest, FindsVolumesByLetterCaseSensitivelyAndByDeviceNameNot) {
  ASSERT_NO_FATAL_FAILURE(Boot());
  struct Case {
    const char16_t* name;
    ULONG kind;
    uint32_t partition;  // 0: no match
  };
  const std::u16string dName = machine_->Storage().VolumeDeviceName(kOther);
  std::u16string lowered = dName;
  for (char16_t& ch : lowered)
    ch = (ch >= u'A' && ch <= u'Z') ? static_cast<char16_t>(ch + 32) : ch;
  const Case cases[] = {
      {u"C", kVolumeNameIsDriveLetter, kProtected},
      {u"D:\\whatever", kVolumeNameIsDriveLetter, kOther},
      {u"c", kVolumeNameIsDriveLetter, 0},
      {u"E", kVolumeNameIsDriveLetter, 0},
      {lowered.c_str(), 2, kOther},
      {u"", kVolumeNameIsDriveLetter, 0},
  };
  for (const Case& c : cases) {
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, c.name);
    PDEVICE_OBJECT found = reinterpret_cast<PDEVICE_OBJECT>(1);
    NTSTATUS status = FindVolumeByName(&name, c.kind, &found);
    if (c.partition == 0) {
      EXPECT_EQ(status, STATUS_UNSUCCESSFUL) << hk::Narrow(c.name);
      EXPECT_EQ(found, nullptr);
    } else {
      EXPECT_EQ(status, STATUS_SUCCESS) << hk::Narrow(c.name);
      EXPECT_EQ(found, Filter(c.partition));
    }
  }
}

// ------------------------------------------------------------ the space-file guard

TEST_F(BootTest, CompressedSpaceFileTurnsTheEngineOff) {
  ASSERT_NO_FATAL_FAILURE(Boot(TwoVolumes(), [](Installation& installed) {
    OneSnapshot(installed);
    installed.fs->Find(SpaceFileName(3))->attributes |= storage::kFileAttributeCompressed;
  }));
  ASSERT_TRUE(hk::testing::Eventually([&] { return LogHas("VOL NONE_PROTECT"); }));
  EXPECT_EQ(Volume(kProtected)->EngineMode, EngineModeOff);
}

// Every location names the protected volume's header, and the second
// volume carries a copy of it and space files of its own: 40 files match,
// the guard has 20 slots.
TEST_F(BootTest, GuardKeepsToItsHandleSlotsWhenManyLocationsMatch) {
  MachineOptions options = TwoVolumes();
  options.install.extraVolumes[0].sectors =
      options.install.volumeSectors;  // room for the header copy
  ASSERT_NO_FATAL_FAILURE(Boot(options, [](Installation& installed) {
    OneSnapshot(installed);
    const HeaderLocation real = installed.parameters.HeaderLocations[0];
    for (HeaderLocation& location : installed.parameters.HeaderLocations) location = real;
    std::vector<uint8_t> header(kEngineHeaderBytes);
    ASSERT_EQ(installed.ReadEngineSectors(0, kEngineHeaderSectors, header.data()),
              storage::kStatusSuccess);
    storage::OtherVolume& d = installed.others[0];
    ASSERT_EQ(d.volume->Write(real.Sector * kSectorBytes, kEngineHeaderBytes, header.data()).status,
              storage::kStatusSuccess);
    for (uint32_t i = 0; i < 5; ++i) {
      ASSERT_EQ(d.fs->CreateContiguousFile(SpaceFileName(i), 64 * 1024, nullptr),
                storage::kStatusSuccess);
    }
  }));
  ASSERT_TRUE(hk::testing::Eventually([&] { return LogHas("VOL c000009a"); }));
  // The twenty slots went to the first volume scanned (its four matching
  // locations), whose five files are all marked; the other volume's stay
  // unguarded. The teardown closes exactly what was opened.
  uint32_t pinned = 0;
  for (uint32_t i = 0; i < 5; ++i) {
    pinned += Installed().fs->Find(SpaceFileName(i))->pinned ? 1 : 0;
    pinned += Installed().others[0].fs->Find(SpaceFileName(i))->pinned ? 1 : 0;
  }
  EXPECT_EQ(pinned, 5u);
}

TEST_F(BootTest, VolumeWithoutHeaderAtAnyLocationGetsNoSpaceFileHandles) {
  ASSERT_NO_FATAL_FAILURE(Boot(TwoVolumes(), [](Installation& installed) {
    OneSnapshot(installed);
    installed.parameters.HeaderLocations[0].VolumeId += 7;
  }));
  // The guard is up (it has logged the three empty locations per volume)
  // and has opened nothing.
  // Location 3 is skipped by the arrival and by the guard, once per volume.
  ASSERT_TRUE(hk::testing::Eventually([&] {
    size_t skipped = 0;
    const std::string tail = "): VOL 3";
    for (const std::string& line : EngineErrorLines()) {
      skipped += line.size() > tail.size() &&
                 line.compare(line.size() - tail.size(), tail.size(), tail) == 0;
    }
    return skipped >= 4;
  })) << ::testing::PrintToString(EngineErrorLines());
  for (uint32_t i = 0; i < 5; ++i) EXPECT_FALSE(Installed().fs->Find(SpaceFileName(i))->pinned);
  EXPECT_EQ(Volume(kProtected)->Header, nullptr);
}

// ------------------------------------------------------------ shutdown, PnP, power

TEST_F(BootTest, ShutdownChecksTheBootAreaBeforeTheRawDiskFilterGoes) {
  // A FAT32 system volume with a rollback pending, and disk 0's sectors
  // rewritten by something else after the schedule: the check at shutdown
  // must put the program back, which it can only do while the raw-disk
  // filter is still attached.
  MachineOptions options = TwoVolumes();
  options.install.format.kind = storage::FileSystemKind::kFat32;
  options.install.format.sectorsPerCluster = 8;
  ASSERT_NO_FATAL_FAILURE(Boot(options, [](Installation& installed) {
    EngineHeader header = *installed.header;
    header.SnapshotCount = header.CountCopy = 2;
    header.Slots[0].Number = 1;
    header.Slots[0].Used = 1;
    installed.WriteEngineSectors(0, kEngineHeaderSectors, &header);
  }));
  ASSERT_NE(Volume(kProtected)->Header, nullptr);
  ASSERT_NE(EngineRawDiskFilter, nullptr);
  std::vector<uint8_t> before(kBootImageBytes);
  ASSERT_EQ(Installed().disk->Read(0, kBootImageBytes, before.data()).status,
            storage::kStatusSuccess);
  RollbackRequest request{};
  request.Schedule = 1;
  request.TargetNumber = 1;
  {
    EngineLockedWorkerPaused locked(Volume(kProtected));
    ASSERT_EQ(ScheduleRollback(Filter(kProtected), &request), STATUS_SUCCESS);
  }
  ASSERT_EQ(Volume(kProtected)->Header->RollbackPending, 1);
  ASSERT_EQ(Installed().disk->Write(0, kBootImageBytes, before.data()).status,
            storage::kStatusSuccess);
  hk::ClearDbgLog();
  EXPECT_EQ(Shutdown(), STATUS_SUCCESS);
  // The check ran and found its raw-disk filter: disk 0 now starts with
  // the pre-boot program, and no device was missing.
  std::vector<uint8_t> after(kBootImageBytes);
  ASSERT_EQ(Installed().disk->Read(0, kBootImageBytes, after.data()).status,
            storage::kStatusSuccess);
  EXPECT_NE(after, before);
  std::vector<uint8_t> program(kBootImageBytes);
  ASSERT_TRUE(Installed().ReadEngineSectors(Installed().header->BootImageSector, kBootImageSectors,
                                            program.data()) == storage::kStatusSuccess);
  EXPECT_TRUE(std::equal(after.begin(), after.begin() + 42, program.begin()));
  EXPECT_FALSE(LogHas("VOL c000000e"));
  EXPECT_EQ(EngineRawDiskFilter, nullptr);
}

TEST_F(BootTest, RemovalWaitsForTheWorkerAndAnswersItsQueuedWrites) {
  ASSERT_NO_FATAL_FAILURE(Boot(TwoVolumes(), OneSnapshot));
  PDEVICE_OBJECT filter = Filter(kProtected);
  PVolumeFilterExtension c = Volume(kProtected);
  ASSERT_EQ(c->ProtectionActive, 1);
  // Writes queued just before the removal: the worker ends with them. The
  // worker's commit is held at its first flush, so the block's copy is not
  // yet durable and every later write to it queues behind the first instead
  // of going down in this thread.
  Installed().disk->HoldTransfer([](const storage::Disk::TransferInfo& t) { return t.flush; });
  std::vector<std::vector<uint8_t>> data(8, std::vector<uint8_t>(512));
  std::vector<KEVENT> events(data.size());
  std::vector<IO_STATUS_BLOCK> results(data.size());
  for (size_t i = 0; i < data.size(); ++i) {
    std::memset(data[i].data(), static_cast<int>(0x40 + i), 512);
    KeInitializeEvent(&events[i], NotificationEvent, FALSE);
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(512 * (200 + i));
    PIRP irp = IoBuildSynchronousFsdRequest(IRP_MJ_WRITE, filter, data[i].data(), 512, &at,
                                            &events[i], &results[i]);
    ASSERT_NE(irp, nullptr);
    EXPECT_EQ(IoCallDriver(filter, irp), STATUS_PENDING);
    if (i == 0) {
      ASSERT_TRUE(Installed().disk->WaitHeld());
    }
  }
  Installed().disk->ReleaseHeld();
  EXPECT_EQ(Remove(kProtected), STATUS_SUCCESS);
  EXPECT_EQ(Filter(kProtected), nullptr);
  EXPECT_EQ(EnginePrimaryVolume, nullptr);
  LARGE_INTEGER now;
  now.QuadPart = 0;
  for (size_t i = 0; i < data.size(); ++i) {
    EXPECT_EQ(KeWaitForSingleObject(&events[i], Executive, KernelMode, FALSE, &now), STATUS_SUCCESS)
        << i;
    EXPECT_EQ(results[i].Status, STATUS_SUCCESS);
  }
  std::vector<uint8_t> back(512);
  ASSERT_EQ(Installed().volume->Read(512 * 207, 512, back.data()).status, storage::kStatusSuccess);
  EXPECT_EQ(back, data[7]);
  // The deleted filter is never touched again: the kernel poisons it, and
  // a worker still running would trip the sanitizer within its one-second
  // tick.
  hk::SetTimeScale(20);
  KEVENT idle;
  KeInitializeEvent(&idle, NotificationEvent, FALSE);
  LARGE_INTEGER twoTicks;
  twoTicks.QuadPart = -20000000;
  EXPECT_EQ(KeWaitForSingleObject(&idle, Executive, KernelMode, FALSE, &twoTicks), STATUS_TIMEOUT);
}

struct PnpCase {
  const char* name;
  UCHAR minor;
  ULONG before;
  ULONG after;
};

class PnpStateTest : public BootTest, public ::testing::WithParamInterface<PnpCase> {};

TEST_P(PnpStateTest, FollowsTheMinorFunction) {
  ASSERT_NO_FATAL_FAILURE(Boot());
  const PnpCase& c = GetParam();
  Volume(kOther)->PnpState = c.before;
  EXPECT_EQ(SendRequest(Filter(kOther), IRP_MJ_PNP, c.minor), STATUS_SUCCESS);
  EXPECT_EQ(Volume(kOther)->PnpState, c.after);
}

const PnpCase kPnpCases[] = {
    {"QueryRemove", IRP_MN_QUERY_REMOVE_DEVICE, PnpStarted, PnpRemovePending},
    {"CancelRemove", IRP_MN_CANCEL_REMOVE_DEVICE, PnpRemovePending, PnpStarted},
    {"CancelRemoveNotPending", IRP_MN_CANCEL_REMOVE_DEVICE, PnpStopPending, PnpStopPending},
    {"Stop", IRP_MN_STOP_DEVICE, PnpStarted, PnpStopped},
    {"QueryStop", IRP_MN_QUERY_STOP_DEVICE, PnpStarted, PnpStopPending},
    {"CancelStop", IRP_MN_CANCEL_STOP_DEVICE, PnpStopPending, PnpStarted},
    {"CancelStopNotPending", IRP_MN_CANCEL_STOP_DEVICE, PnpRemovePending, PnpRemovePending},
    {"SurpriseRemoval", IRP_MN_SURPRISE_REMOVAL, PnpStarted, PnpSurpriseRemoved},
};
INSTANTIATE_TEST_SUITE_P(Minors, PnpStateTest, ::testing::ValuesIn(kPnpCases),
                         [](const ::testing::TestParamInfo<PnpCase>& param) {
                           return param.param.name;
                         });

TEST_F(BootTest, PagingFilesSwitchThePowerPageableFlag) {
  ASSERT_NO_FATAL_FAILURE(Boot());
  PDEVICE_OBJECT filter = Filter(kOther);
  auto usage = [&](bool inPath) {
    return SendRequest(filter, IRP_MJ_PNP, IRP_MN_DEVICE_USAGE_NOTIFICATION,
                       [&](PIO_STACK_LOCATION stack) {
                         stack->Parameters.UsageNotification.InPath = inPath ? TRUE : FALSE;
                         stack->Parameters.UsageNotification.Type = DeviceUsageTypePaging;
                       });
  };
  filter->Flags |= DO_POWER_PAGABLE;
  ASSERT_EQ(usage(true), STATUS_SUCCESS);
  EXPECT_EQ(Volume(kOther)->PagingCount, 1);
  EXPECT_EQ(filter->Flags & DO_POWER_PAGABLE, 0u);
  ASSERT_EQ(usage(true), STATUS_SUCCESS);
  ASSERT_EQ(usage(false), STATUS_SUCCESS);
  EXPECT_EQ(filter->Flags & DO_POWER_PAGABLE, 0u);  // one paging file is left
  hk::ClearDbgLog();
  ASSERT_EQ(usage(false), STATUS_SUCCESS);
  EXPECT_EQ(Volume(kOther)->PagingCount, 0);
  EXPECT_NE(filter->Flags & DO_POWER_PAGABLE, 0u);
  EXPECT_TRUE(LogHas("VOL F1"));
  // A device needing in-rush power never becomes pageable.
  filter->Flags = (filter->Flags & ~static_cast<ULONG>(DO_POWER_PAGABLE)) | DO_POWER_INRUSH;
  ASSERT_EQ(usage(true), STATUS_SUCCESS);
  ASSERT_EQ(usage(false), STATUS_SUCCESS);
  EXPECT_EQ(filter->Flags & DO_POWER_PAGABLE, 0u);
}

TEST_F(BootTest, PowerRequestsPassDownAndStartTheNext) {
  ASSERT_NO_FATAL_FAILURE(Boot());
  const unsigned before = hk::PoStartNextPowerIrpCount();
  for (PDEVICE_OBJECT target : {Filter(kProtected), EngineRawDiskFilter, EngineControlDevice}) {
    EXPECT_EQ(SendRequest(target, IRP_MJ_POWER, kSetPower), STATUS_SUCCESS);
  }
  // Each filter starts the next power IRP, and so does the volume below it.
  EXPECT_EQ(hk::PoStartNextPowerIrpCount() - before, 5u);
}

TEST_F(BootTest, ControlDeviceAnswersEveryOtherRequestWithSuccess) {
  ASSERT_NO_FATAL_FAILURE(Boot());
  for (UCHAR major : {IRP_MJ_CREATE, IRP_MJ_CLOSE, IRP_MJ_READ, IRP_MJ_WRITE, IRP_MJ_FLUSH_BUFFERS,
                      IRP_MJ_PNP, IRP_MJ_CLEANUP}) {
    EXPECT_EQ(SendRequest(EngineControlDevice, major), STATUS_SUCCESS) << int(major);
  }
  // Control requests reach the protocol: one without its buffers is too small.
  EXPECT_EQ(SendIoctl(EngineControlDevice, IOCTL_ENGINE_QUERY_STATUS), STATUS_BUFFER_OVERFLOW);
}

TEST_F(BootTest, StartUpStopsEarlyWithoutTheParameterRecord) {
  MachineOptions options = TwoVolumes();
  options.seedParameter = false;
  ASSERT_NO_FATAL_FAILURE(BuildMachine(options));
  ASSERT_NO_FATAL_FAILURE(LoadEngine());
  // Loaded, but with no dispatch table, no AddDevice and no control device.
  EXPECT_EQ(driver_->DriverExtension->AddDevice, nullptr);
  EXPECT_NE(driver_->MajorFunction[IRP_MJ_WRITE], EngineDispatchWrite);
  EXPECT_EQ(EngineControlDevice, nullptr);
}

// The control device cannot be set up: its name is taken, or its mount
// table cannot be allocated. The driver stays loaded with its dispatch
// table, but without control device, link or reinitialisation.
struct ControlFailure {
  const char* name;
  bool nameTaken;
};

class ControlFailureTest : public BootTest, public ::testing::WithParamInterface<ControlFailure> {};

TEST_P(ControlFailureTest, StartUpStopsBeforeTheReinitialisation) {
  ASSERT_NO_FATAL_FAILURE(BuildMachine(TwoVolumes()));
  PDRIVER_OBJECT squatter = hk::CreateTestDriver(u"\\Driver\\Squatter");
  PDEVICE_OBJECT taken = nullptr;
  if (GetParam().nameTaken) {
    UNICODE_STRING name;
    RtlInitUnicodeString(&name, u"\\Device\\QuorvelVH");
    ASSERT_EQ(IoCreateDevice(squatter, 0, &name, FILE_DEVICE_UNKNOWN, 0, FALSE, &taken),
              STATUS_SUCCESS);
  } else {
    hk::FailPoolAllocationsOfSize(sizeof(MountTable));
  }
  ASSERT_NO_FATAL_FAILURE(LoadEngine());
  hk::ClearInjectedFailures();
  EXPECT_EQ(EngineControlDevice, nullptr);
  EXPECT_EQ(driver_->MajorFunction[IRP_MJ_WRITE], EngineDispatchWrite);
  EXPECT_EQ(driver_->DeviceObject, nullptr);  // the control device was deleted again
  UNICODE_STRING link;
  RtlInitUnicodeString(&link, u"\\DosDevices\\QuorvelVH");
  PFILE_OBJECT file = nullptr;
  PDEVICE_OBJECT device = nullptr;
  if (!GetParam().nameTaken) {
    EXPECT_FALSE(NT_SUCCESS(IoGetDeviceObjectPointer(&link, FILE_READ_ATTRIBUTES, &file, &device)));
  }
  enginehost::EngineBoot::Reinitialise();  // nothing registered: no raw-disk filter
  EXPECT_EQ(EngineRawDiskFilter, nullptr);
  if (taken != nullptr) IoDeleteDevice(taken);
}

const ControlFailure kControlFailures[] = {{"NameTaken", true}, {"NoMountTable", false}};
INSTANTIATE_TEST_SUITE_P(Failures, ControlFailureTest, ::testing::ValuesIn(kControlFailures),
                         [](const ::testing::TestParamInfo<ControlFailure>& param) {
                           return param.param.name;
                         });

// The worker parks on a pause between requests and keeps the writes that
// arrive meanwhile queued; resumed, it serves them.
TEST_F(BootTest, PausedWorkerHoldsWritesUntilResumed) {
  hk::SetTimeScale(10);  // the worker parks at its one-second tick
  ASSERT_NO_FATAL_FAILURE(Boot(TwoVolumes(), OneSnapshot));
  PVolumeFilterExtension c = Volume(kProtected);
  PDEVICE_OBJECT filter = Filter(kProtected);
  EngineLock();
  ASSERT_EQ(PauseVolumeWorker(c, 1), STATUS_SUCCESS);
  std::vector<uint8_t> data(512, 0x3E);
  KEVENT done;
  KeInitializeEvent(&done, NotificationEvent, FALSE);
  IO_STATUS_BLOCK ioStatus{};
  LARGE_INTEGER at;
  at.QuadPart = 512 * 300;
  PIRP irp =
      IoBuildSynchronousFsdRequest(IRP_MJ_WRITE, filter, data.data(), 512, &at, &done, &ioStatus);
  ASSERT_NE(irp, nullptr);
  EXPECT_EQ(IoCallDriver(filter, irp), STATUS_PENDING);
  LARGE_INTEGER shortly;
  shortly.QuadPart = -5000000;  // half a tick
  EXPECT_EQ(KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, &shortly), STATUS_TIMEOUT);
  EXPECT_EQ(PauseVolumeWorker(c, 0), STATUS_SUCCESS);
  EngineUnlock();
  EXPECT_EQ(KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr), STATUS_SUCCESS);
  EXPECT_EQ(ioStatus.Status, STATUS_SUCCESS);
}

}  // namespace
}  // namespace vh::test

// Snapshot drives on an installed machine: what a drive of snapshot k reads
// equals what the pre-boot restorer makes of k, also while writes go on
// and after older snapshots are deleted; the unfiltered view; the answers
// to the storage stack; removal with a file still open; a drive whose
// worker cannot start.
#include <atomic>
#include <chrono>
#include <functional>
#include <random>
#include <thread>

#include "engine_lock.h"
#include "engine_state.h"
#include "hostkernel/call_and_wait.h"
#include "hostkernel/control.h"
#include "hostkernel/user_io.h"
#include "snapshot_drive.h"
#include "temporary_fixture.h"

namespace vh::test {
namespace {

class DriveTest : public TemporaryTest {
 protected:
  void TearDown() override {
    if (EngineControlDevice != nullptr) {
      auto* control = static_cast<ControlExtension*>(EngineControlDevice->DeviceExtension);
      for (MountEntry& entry : control->MountTable->Entries) {
        if (entry.MountDevice != 0)
          DeleteMountDevice(reinterpret_cast<PDEVICE_OBJECT>(entry.MountDevice));
        std::memset(&entry, 0, sizeof entry);
      }
    }
    TemporaryTest::TearDown();
  }

  // Packed field: read by value.
  uint64_t DeviceAt(uint32_t index) {
    const uint64_t value = Table().Entries[index].MountDevice;
    return value;
  }

  MountTable& Table() {
    return *static_cast<ControlExtension*>(EngineControlDevice->DeviceExtension)->MountTable;
  }

  // What the mount request does around MountSnapshot.
  NTSTATUS Mount(uint32_t number, uint32_t driveIndex, uint32_t viewKind = 0, uint32_t noLetter = 0,
                 PDEVICE_OBJECT* drive = nullptr) {
    MountRequest request{};
    request.DriveIndex = driveIndex;
    request.ReadOnly = 1;
    request.NoLetter = noLetter;
    request.SnapshotNumber = number;
    request.ViewKind = viewKind;
    NTSTATUS status = MountSnapshot(Device(), &request);
    if (NT_SUCCESS(status)) {
      MountEntry& entry = Table().Entries[viewKind ? kCurrentStateEntry : number - 1];
      entry.InUse = 1;
      entry.VolumeDevice = reinterpret_cast<uint64_t>(Device());
      if (drive) *drive = reinterpret_cast<PDEVICE_OBJECT>(entry.MountDevice);
    }
    return status;
  }

  std::vector<uint8_t> ReadDrive(PDEVICE_OBJECT drive, uint64_t block, uint64_t blocks,
                                 NTSTATUS expect = 0) {
    std::vector<uint8_t> out(blocks * kBlockBytes);
    EXPECT_EQ(ReadSectors(drive, block * kBlockBytes, out), expect);
    return out;
  }

  // Snapshot k's bytes of the blocks as the restorer sees them now.
  std::vector<uint8_t> Restored(uint32_t k, uint64_t block, uint64_t blocks) {
    RestoredWindow window = Restorer(Installed()).Restore(k, block, blocks);
    EXPECT_TRUE(window.fault.empty()) << window.fault;
    return window.bytes;
  }

  void WriteBlocks(uint64_t block, uint64_t blocks, uint32_t generation) {
    std::vector<uint8_t> data(blocks * kBlockBytes);
    FillPattern(data.data(), block * 64, blocks * 64, generation);
    ASSERT_EQ(WriteSectors(Device(), block * kBlockBytes, data), STATUS_SUCCESS);
  }
};

// Three snapshots over a region whose blocks change between them: some once,
// some in every round, one first written after the last snapshot.
TEST_F(DriveTest, ReadsOfEachSnapshotEqualTheRestorersImageAlsoWhileWritesGoOn) {
  constexpr uint64_t kBlocks = 48;
  const uint64_t first = AllocatedRegion(kBlocks) / 64;
  std::mt19937 random(7);
  for (uint32_t k = 1; k <= 3; ++k) {
    ASSERT_EQ(Create(k), STATUS_SUCCESS);
    for (int w = 0; w < 12; ++w) {
      const uint64_t at = first + random() % (kBlocks - 3);
      ASSERT_NO_FATAL_FAILURE(WriteBlocks(at, 1 + random() % 3, k * 100 + w));
    }
    ASSERT_NO_FATAL_FAILURE(WriteBlocks(first, 1, k));  // saved in every snapshot
  }
  PDEVICE_OBJECT drives[3] = {};
  for (uint32_t k = 1; k <= 3; ++k)
    ASSERT_EQ(Mount(k, 4 + k, 0, 0, &drives[k - 1]), STATUS_SUCCESS);
  std::vector<uint8_t> images[3];
  for (uint32_t k = 1; k <= 3; ++k) {
    images[k - 1] = Restored(k, first, kBlocks);
    EXPECT_TRUE(ReadDrive(drives[k - 1], first, kBlocks) == images[k - 1]) << "snapshot " << k;
  }
  EXPECT_NE(images[0], images[2]);  // the snapshots do differ
  // A read that starts and ends inside blocks.
  std::vector<uint8_t> part(3 * 512 + kBlockBytes);
  ASSERT_EQ(ReadSectors(drives[0], first * kBlockBytes + 5 * 512, part), STATUS_SUCCESS);
  EXPECT_TRUE(std::equal(part.begin(), part.end(), images[0].begin() + 5 * 512));

  // Writes go on while the drives are read: a snapshot never changes.
  std::atomic<bool> done{false};
  std::thread writer([&] {
    std::mt19937 r(11);
    for (int w = 0; w < 60; ++w) {
      std::vector<uint8_t> data(2 * kBlockBytes);
      const uint64_t at = first + r() % (kBlocks - 2);
      FillPattern(data.data(), at * 64, 128, 1000 + w);
      EXPECT_EQ(WriteSectors(Device(), at * kBlockBytes, data), STATUS_SUCCESS);
    }
    done = true;
  });
  int reads = 0;
  while (!done || reads < 3) {
    const uint32_t k = 1 + reads % 3;
    EXPECT_TRUE(ReadDrive(drives[k - 1], first, kBlocks) == images[k - 1])
        << "snapshot " << k << " read " << reads;
    ++reads;
  }
  writer.join();
  for (uint32_t k = 1; k <= 3; ++k) EXPECT_TRUE(Restored(k, first, kBlocks) == images[k - 1]);
}

TEST_F(DriveTest, ADriveFollowsItsSnapshotWhenOlderOnesAreDeleted) {
  const uint64_t first = AllocatedRegion(8) / 64;
  for (uint32_t k = 1; k <= 3; ++k) {
    ASSERT_EQ(Create(k), STATUS_SUCCESS);
    ASSERT_NO_FATAL_FAILURE(WriteBlocks(first, 8, k));
  }
  const std::vector<uint8_t> third = Restored(3, first, 8);
  const std::vector<uint8_t> second = Restored(2, first, 8);
  PDEVICE_OBJECT drive = nullptr;
  PDEVICE_OBJECT dropped = nullptr;
  ASSERT_EQ(Mount(3, 5, 0, 0, &drive), STATUS_SUCCESS);
  ASSERT_EQ(Mount(1, 6, 0, 0, &dropped), STATUS_SUCCESS);
  ASSERT_EQ(Delete(1), STATUS_SUCCESS);
  {
    EngineLockedWorkerPaused locked(Ext());
    SyncSnapshotDrives(Device());
  }
  // Once number 3, now number 2: same bytes, same drive, entry moved down.
  EXPECT_TRUE(ReadDrive(drive, first, 8) == third);
  EXPECT_EQ(Ext()->Header->SnapshotCount, 2);
  EXPECT_EQ(static_cast<PVolumeFilterExtension>(drive->DeviceExtension)->Mount != nullptr, true);
  EXPECT_EQ(DeviceAt(1), reinterpret_cast<uint64_t>(drive));
  EXPECT_EQ(DeviceAt(2), 0u);
  EXPECT_EQ(DeviceAt(0), 0u);  // the deleted snapshot's drive went with it
  EXPECT_TRUE(Restored(2, first, 8) == third);
  EXPECT_FALSE(second == third);
  // Deleting the one it shows leaves it nothing to show.
  ASSERT_EQ(Create(4), STATUS_SUCCESS);
  ASSERT_EQ(Delete(2), STATUS_SUCCESS);
  ReadDrive(drive, first, 8, STATUS_NO_SUCH_DEVICE);
}

TEST_F(DriveTest, TheUnfilteredViewShowsTheVolumesOwnBlocksAndNoDriveIsWritable) {
  const uint64_t first = AllocatedRegion(4) / 64;
  ASSERT_EQ(Create(1), STATUS_SUCCESS);
  ASSERT_NO_FATAL_FAILURE(WriteBlocks(first, 4, 9));
  PDEVICE_OBJECT raw = nullptr;
  PDEVICE_OBJECT snap = nullptr;
  ASSERT_EQ(Mount(0, 7, 2, 0, &raw), STATUS_SUCCESS);
  ASSERT_EQ(Mount(1, 8, 0, 0, &snap), STATUS_SUCCESS);
  EXPECT_TRUE(ReadDrive(raw, first, 4) == ImageSectors(first * 64, 4 * 64));
  EXPECT_FALSE(ReadDrive(snap, first, 4) == ImageSectors(first * 64, 4 * 64));
  for (PDEVICE_OBJECT drive : {raw, snap}) {
    std::vector<uint8_t> data(kBlockBytes, 0x5A);
    EXPECT_EQ(WriteSectors(drive, first * kBlockBytes, data), STATUS_MEDIA_WRITE_PROTECTED);
  }
  EXPECT_TRUE(Restored(1, first, 4) == ReadDrive(snap, first, 4));
  // Reads the views cannot serve.
  std::vector<uint8_t> odd(100);
  EXPECT_EQ(ReadSectors(snap, 0, odd), STATUS_INVALID_PARAMETER);
  std::vector<uint8_t> past(kBlockBytes);
  EXPECT_EQ(ReadSectors(raw, kVolumeSectors * 512, past), STATUS_INVALID_PARAMETER);
}

// The road a manager takes: mount, the mount table and unmount through the
// control device, with the drive reading as the restorer does meanwhile.
TEST_F(DriveTest, ControlRequestsMountListAndUnmountADrive) {
  const uint64_t first = AllocatedRegion(4) / 64;
  ASSERT_EQ(Create(1), STATUS_SUCCESS);
  ASSERT_NO_FATAL_FAILURE(WriteBlocks(first, 4, 3));
  VolumeRequest request{};
  request.VolumeNameKind = kVolumeNameIsDriveLetter;
  request.VolumeName[0] = u'C';
  request.SnapshotNumber = 1;
  request.MountDriveIndex = 6;  // "G"
  hk::UserIoResult result =
      hk::UserDeviceIoControl(u"\\\\.\\QuorvelVH", IOCTL_ENGINE_MOUNT_SNAPSHOT, &request,
                              sizeof request, &request, sizeof request);
  ASSERT_EQ(result.status, STATUS_SUCCESS);
  auto table = std::make_unique<MountTable>();
  result = hk::UserDeviceIoControl(u"\\\\.\\QuorvelVH", IOCTL_ENGINE_GET_MOUNT_TABLE, &request,
                                   sizeof request, table.get(), sizeof *table);
  ASSERT_EQ(result.status, STATUS_SUCCESS);
  ASSERT_EQ(result.bytesReturned, sizeof *table);
  EXPECT_EQ(table->Entries[0].InUse, 1);
  const std::u16string shown(table->Entries[0].DeviceName, table->Entries[0].DeviceName + 28);
  EXPECT_EQ(shown, u"\\Device\\5E27-B4G9-4A1F-9C63\\");
  const uint64_t device = table->Entries[0].MountDevice;
  ASSERT_NE(device, 0u);
  PDEVICE_OBJECT drive = reinterpret_cast<PDEVICE_OBJECT>(static_cast<uintptr_t>(device));
  EXPECT_TRUE(ReadDrive(drive, first, 4) == Restored(1, first, 4));
  result = hk::UserDeviceIoControl(u"\\\\.\\QuorvelVH", IOCTL_ENGINE_UNMOUNT_SNAPSHOT, &request,
                                   sizeof request, &request, sizeof request);
  EXPECT_EQ(result.status, STATUS_SUCCESS);
  EXPECT_EQ(Table().Entries[0].InUse, 0);
  EXPECT_EQ(DeviceAt(0), 0u);
}

// A delete through the control device moves the drives of newer snapshots
// down with their numbers and takes the deleted snapshot's drive away.
TEST_F(DriveTest, ADeleteRequestRenumbersTheMountTable) {
  const uint64_t first = AllocatedRegion(4) / 64;
  for (uint32_t k = 1; k <= 3; ++k) {
    ASSERT_EQ(Create(k), STATUS_SUCCESS);
    ASSERT_NO_FATAL_FAILURE(WriteBlocks(first, 4, k));
  }
  const std::vector<uint8_t> third = Restored(3, first, 4);
  auto send = [](ULONG code, uint32_t number, uint32_t letterIndex) {
    VolumeRequest request{};
    request.VolumeNameKind = kVolumeNameIsDriveLetter;
    request.VolumeName[0] = u'C';
    request.SnapshotNumber = number;
    request.MountDriveIndex = letterIndex;
    return hk::UserDeviceIoControl(u"\\\\.\\QuorvelVH", code, &request, sizeof request, &request,
                                   sizeof request)
        .status;
  };
  ASSERT_EQ(send(IOCTL_ENGINE_MOUNT_SNAPSHOT, 3, 6), STATUS_SUCCESS);
  ASSERT_EQ(send(IOCTL_ENGINE_MOUNT_SNAPSHOT, 1, 7), STATUS_SUCCESS);
  const uint64_t drive = DeviceAt(2);
  ASSERT_NE(drive, 0u);
  ASSERT_EQ(send(IOCTL_ENGINE_DELETE_SNAPSHOT, 1, 0), STATUS_SUCCESS);
  EXPECT_EQ(DeviceAt(0), 0u);  // snapshot 1's drive went with it
  EXPECT_EQ(DeviceAt(1), drive);
  EXPECT_EQ(DeviceAt(2), 0u);
  EXPECT_TRUE(ReadDrive(reinterpret_cast<PDEVICE_OBJECT>(static_cast<uintptr_t>(drive)), first,
                        4) == third);
}

// The current-state view: the newest snapshot's blocks as the live map and
// the saved copies give them.
TEST_F(DriveTest, TheCurrentStateViewShowsTheNewestSnapshot) {
  const uint64_t first = AllocatedRegion(6) / 64;
  ASSERT_EQ(Create(1), STATUS_SUCCESS);
  ASSERT_NO_FATAL_FAILURE(WriteBlocks(first, 3, 1));
  ASSERT_EQ(Create(2), STATUS_SUCCESS);
  ASSERT_NO_FATAL_FAILURE(WriteBlocks(first + 2, 3, 2));
  PDEVICE_OBJECT drive = nullptr;
  ASSERT_EQ(Mount(0, 9, 1, 0, &drive), STATUS_SUCCESS);
  EXPECT_EQ(DeviceAt(kCurrentStateEntry), reinterpret_cast<uint64_t>(drive));
  EXPECT_TRUE(ReadDrive(drive, first, 6) == Restored(2, first, 6));
}

// A removal that waits for a drive's worker while holding the engine lock
// (as the engine's own changes do) is not held up by a read of the drive.
TEST_F(DriveTest, RemovalUnderTheEngineLockDoesNotWaitForAReadForEver) {
  ASSERT_EQ(Create(1), STATUS_SUCCESS);
  PDEVICE_OBJECT drive = nullptr;
  ASSERT_EQ(Mount(1, 5, 0, 0, &drive), STATUS_SUCCESS);
  DriverExtension* driver = nullptr;
  ASSERT_EQ(GetDriverExtension(&driver), STATUS_SUCCESS);
  EngineLock();
  NTSTATUS readStatus = STATUS_PENDING;
  std::thread reader([&] {
    std::vector<uint8_t> data(kBlockBytes);
    readStatus = ReadSectors(drive, 0, data);
  });
  // The read is served in the reader's thread and waits for the lock held
  // here; the drive goes only once it is inside (before, it would read a
  // freed device).
  EXPECT_TRUE(hk::WaitForWaiters(&driver->EngineLock, 1));
  EXPECT_EQ(DeleteMountDevice(drive), STATUS_SUCCESS);
  Table().Entries[0] = MountEntry{};
  EngineUnlock();
  reader.join();
  EXPECT_EQ(readStatus, STATUS_IO_DEVICE_ERROR);
}

// Device-control answers of a drive lettered "E".
TEST_F(DriveTest, AnswersTheStorageStackWithoutOverrunningItsBuffers) {
  ASSERT_EQ(Create(1), STATUS_SUCCESS);
  PDEVICE_OBJECT drive = nullptr;
  ASSERT_EQ(Mount(1, 4, 0, 0, &drive), STATUS_SUCCESS);
  EXPECT_NE(drive->Characteristics & FILE_READ_ONLY_DEVICE, 0u);
  struct Case {
    ULONG code;
    ULONG output;
    NTSTATUS status;
    ULONG_PTR information;
  };
  const Case cases[] = {
      {IOCTL_DISK_GET_DRIVE_GEOMETRY, 24, STATUS_SUCCESS, 24},
      {IOCTL_DISK_GET_DRIVE_GEOMETRY, 23, STATUS_BUFFER_OVERFLOW, 0},
      {IOCTL_DISK_IS_WRITABLE, 0, STATUS_MEDIA_WRITE_PROTECTED, 0},
      {IOCTL_DISK_GET_PARTITION_INFO_EX, 144, STATUS_SUCCESS, 144},
      {IOCTL_DISK_GET_PARTITION_INFO_EX, 143, STATUS_BUFFER_TOO_SMALL, 0},
      {IOCTL_DISK_GET_DRIVE_LAYOUT_EX, 192, STATUS_SUCCESS, 192},
      {IOCTL_DISK_GET_PARTITION_INFO, 32, STATUS_SUCCESS, 32},
      {IOCTL_DISK_GET_DRIVE_LAYOUT, 40, STATUS_SUCCESS, 40},
      {IOCTL_DISK_GET_LENGTH_INFO, 8, STATUS_SUCCESS, 8},
      {IOCTL_DISK_GET_LENGTH_INFO, 4, STATUS_BUFFER_OVERFLOW, 0},
      {0x2D4800, 0, STATUS_SUCCESS, 0},
      {IOCTL_MOUNTDEV_QUERY_UNIQUE_ID, 10, STATUS_SUCCESS, 10},
      {IOCTL_MOUNTDEV_QUERY_UNIQUE_ID, 4, STATUS_BUFFER_OVERFLOW, 2},
      {IOCTL_MOUNTDEV_QUERY_DEVICE_NAME, 2, STATUS_BUFFER_OVERFLOW, 2},
      {IOCTL_MOUNTDEV_QUERY_SUGGESTED_LINK_NAME, 5, STATUS_INVALID_PARAMETER, 0},
      {0x12345678, 64, STATUS_INVALID_DEVICE_REQUEST, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.code << " out " << std::dec << c.output);
    std::vector<uint8_t> out(c.output + 1, 0xEE);
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    IO_STATUS_BLOCK io{};
    PIRP irp = IoBuildDeviceIoControlRequest(
        c.code, drive, nullptr, 0, c.output ? out.data() : nullptr, c.output, FALSE, &event, &io);
    ASSERT_NE(irp, nullptr);
    NTSTATUS status = hk::CallDriverAndWait(drive, irp, &event, &io);
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(io.Information, c.information);
    EXPECT_EQ(out[c.output], 0xEE);  // nothing past the buffer
    if (c.code == IOCTL_MOUNTDEV_QUERY_UNIQUE_ID && c.output == 10) {
      EXPECT_EQ(std::string(reinterpret_cast<char*>(out.data()) + 2, 8), "QVRDiskE");
    }
    if (c.code == IOCTL_DISK_GET_LENGTH_INFO && c.output == 8) {
      uint64_t length;
      std::memcpy(&length, out.data(), 8);
      EXPECT_EQ(length, kVolumeSectors * 512);
    }
  }
}

TEST_F(DriveTest, WithoutALetterTheMountManagerQueriesAreRefusedAndIndex26IsAccepted) {
  ASSERT_EQ(Create(1), STATUS_SUCCESS);
  PDEVICE_OBJECT drive = nullptr;
  ASSERT_EQ(Mount(1, 26, 0, 1, &drive), STATUS_SUCCESS);
  std::vector<uint8_t> out(64);
  EXPECT_EQ(SendIoctl(drive, IOCTL_MOUNTDEV_QUERY_UNIQUE_ID, out.data(), 64),
            STATUS_INVALID_DEVICE_REQUEST);
  EXPECT_EQ(SendIoctl(drive, IOCTL_MOUNTDEV_QUERY_SUGGESTED_LINK_NAME, out.data(), 64),
            STATUS_INVALID_DEVICE_REQUEST);
  MountRequest refused{};
  refused.DriveIndex = 26;
  refused.ReadOnly = 1;
  refused.SnapshotNumber = 1;
  EXPECT_EQ(MountSnapshot(Device(), &refused), STATUS_UNSUCCESSFUL);
  EXPECT_EQ(refused.Result, 1u);
}

TEST_F(DriveTest, RemovalWithAFileStillOpenLeavesTheReferenceCountToTheIoManager) {
  ASSERT_EQ(Create(1), STATUS_SUCCESS);
  PDEVICE_OBJECT drive = nullptr;
  ASSERT_EQ(Mount(1, 5, 0, 0, &drive), STATUS_SUCCESS);
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, u"\\DosDevices\\F:");
  OBJECT_ATTRIBUTES attributes;
  InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr,
                             nullptr);
  IO_STATUS_BLOCK io{};
  HANDLE handle = nullptr;
  ASSERT_EQ(ZwCreateFile(&handle, GENERIC_READ | SYNCHRONIZE, &attributes, &io, nullptr,
                         FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN,
                         FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0),
            STATUS_SUCCESS);
  const LONG openReferences = drive->ReferenceCount;
  EXPECT_GE(openReferences, 1);
  EXPECT_EQ(DeleteMountDevice(drive), STATUS_SUCCESS);
  Table().Entries[0] = MountEntry{};
  // The open file still reaches the drive, which refuses its I/O.
  std::vector<uint8_t> buffer(512);
  LARGE_INTEGER at;
  at.QuadPart = 0;
  EXPECT_EQ(ZwReadFile(handle, nullptr, nullptr, nullptr, &io, buffer.data(), 512, &at, nullptr),
            STATUS_IO_DEVICE_ERROR);
  EXPECT_EQ(ZwClose(handle), STATUS_SUCCESS);
}

// PnP removal of the protected volume: its snapshots stay on disk for the
// next boot, a drive of it still open refuses its I/O (nothing reaches the
// freed filter), and writes queued at the removal are saved first.
TEST_F(DriveTest, RemovalKeepsTheSnapshotsForTheNextBoot) {
  enum What { kSnapshots, kMountedDrive, kWritesInFlight };
  const struct {
    const char* name;
    What what;
  } cases[] = {{"with snapshots", kSnapshots},
               {"with a mounted drive", kMountedDrive},
               {"with writes in flight", kWritesInFlight}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    constexpr uint64_t kBlocks = 4;
    const uint64_t first = AllocatedRegion(kBlocks) / 64;
    ASSERT_NO_FATAL_FAILURE(WriteBlocks(first, kBlocks, 1));
    ASSERT_EQ(Create(1), STATUS_SUCCESS);
    const std::vector<uint8_t> atOne = Restored(1, first, kBlocks);
    ASSERT_NO_FATAL_FAILURE(WriteBlocks(first, 2, 2));
    ASSERT_EQ(Create(2), STATUS_SUCCESS);
    const std::vector<uint8_t> atTwo = Restored(2, first, kBlocks);
    HANDLE handle = nullptr;
    if (c.what == kMountedDrive) {
      ASSERT_EQ(Mount(1, 5), STATUS_SUCCESS);
      UNICODE_STRING name;
      RtlInitUnicodeString(&name, u"\\DosDevices\\F:");
      OBJECT_ATTRIBUTES attributes;
      InitializeObjectAttributes(&attributes, &name, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE,
                                 nullptr, nullptr);
      IO_STATUS_BLOCK io{};
      ASSERT_EQ(ZwCreateFile(&handle, GENERIC_READ | SYNCHRONIZE, &attributes, &io, nullptr,
                             FILE_ATTRIBUTE_NORMAL, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN,
                             FILE_SYNCHRONOUS_IO_NONALERT, nullptr, 0),
                STATUS_SUCCESS);
    }
    std::vector<uint8_t> late(kBlocks * kBlockBytes);
    FillPattern(late.data(), first * 64, kBlocks * 64, 3);
    if (c.what == kWritesInFlight) {
      // The worker is held, a write queues behind it, the removal starts
      // and waits for the worker; only then is the worker let go.
      PVolumeFilterExtension volume = Ext();
      ASSERT_EQ(PauseVolumeWorker(volume, 1), STATUS_SUCCESS);
      NTSTATUS written = STATUS_PENDING;
      std::thread writer([&] { written = WriteSectors(Device(), first * kBlockBytes, late); });
      // Both waits read what other threads write: under the queue's lock
      // and atomically, and never past a deadline.
      const auto until = [](const std::function<bool()>& done) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!done()) {
          if (std::chrono::steady_clock::now() > deadline) return false;
          std::this_thread::yield();
        }
        return true;
      };
      const bool queued = until([&] {
        KIRQL irql;
        KeAcquireSpinLock(&volume->WriteQueueLock, &irql);
        const bool empty = IsListEmpty(&volume->WriteQueue);
        KeReleaseSpinLock(&volume->WriteQueueLock, irql);
        return !empty;
      });
      EXPECT_TRUE(queued);
      NTSTATUS removed = STATUS_PENDING;
      std::thread remover([&] { removed = Remove(kProtectedVolume); });
      EXPECT_TRUE(until([&] { return ReadShared(volume->StopFlag) != StopNone; }));
      PauseVolumeWorker(volume, 0);
      writer.join();
      remover.join();
      EXPECT_EQ(written, STATUS_SUCCESS);
      EXPECT_EQ(removed, STATUS_SUCCESS);
    } else {
      ASSERT_EQ(Remove(kProtectedVolume), STATUS_SUCCESS);
    }
    EXPECT_EQ(Filter(kProtectedVolume), nullptr);
    if (handle != nullptr) {
      std::vector<uint8_t> buffer(512);
      LARGE_INTEGER at;
      at.QuadPart = 0;
      IO_STATUS_BLOCK io{};
      EXPECT_EQ(
          ZwReadFile(handle, nullptr, nullptr, nullptr, &io, buffer.data(), 512, &at, nullptr),
          STATUS_IO_DEVICE_ERROR);
      EXPECT_EQ(ZwClose(handle), STATUS_SUCCESS);
      EXPECT_EQ(DeviceAt(0), 0u);
    }
    // A clean restart: everything written reached the image.
    ASSERT_EQ(Disk0().Flush().status, storage::kStatusSuccess);
    ShutDownEngine();
    ASSERT_EQ(Disk0().Reload(), storage::kStatusSuccess);
    ASSERT_NO_FATAL_FAILURE(LoadEngine());
    ASSERT_NO_FATAL_FAILURE(ArriveVolume(kProtectedVolume));
    enginehost::EngineBoot::Reinitialise();
    ASSERT_NE(Ext()->Header, nullptr);
    EXPECT_EQ(Ext()->Header->SnapshotCount, 2);
    EXPECT_EQ(Restored(1, first, kBlocks), atOne);
    EXPECT_EQ(Restored(2, first, kBlocks), atTwo);
    if (c.what == kWritesInFlight) {
      std::vector<uint8_t> now(late.size());
      ASSERT_EQ(
          Installed()
              .volume->Read(first * kBlockBytes, static_cast<uint32_t>(now.size()), now.data())
              .status,
          storage::kStatusSuccess);
      EXPECT_EQ(now, late);
    }
    TearDown();
    SetUp();
  }
}

TEST_F(DriveTest, AMountWhoseWorkerCannotStartLeavesTheEntryFree) {
  ASSERT_EQ(Create(1), STATUS_SUCCESS);
  machine_->Storage().Knobs(kProtectedVolume).partitionInfoStatus =
      static_cast<int32_t>(STATUS_IO_DEVICE_ERROR);
  EXPECT_EQ(Mount(1, 5), STATUS_IO_DEVICE_ERROR);
  EXPECT_EQ(DeviceAt(0), 0u);
  machine_->Storage().Knobs(kProtectedVolume).partitionInfoStatus = 0;
  PDEVICE_OBJECT drive = nullptr;
  ASSERT_EQ(Mount(1, 5, 0, 0, &drive), STATUS_SUCCESS);
  EXPECT_NE(drive, nullptr);
}

// A drive of a snapshot keeps showing it while the volume runs in temporary
// mode: redirected writes never land in blocks the snapshot still needs.
TEST_F(DriveTest, ASnapshotDriveIsUnchangedByTemporaryModeWrites) {
  const uint64_t first = AllocatedRegion(16) / 64;
  ASSERT_EQ(Create(1), STATUS_SUCCESS);
  PDEVICE_OBJECT drive = nullptr;
  ASSERT_EQ(Mount(1, 5, 0, 0, &drive), STATUS_SUCCESS);
  const std::vector<uint8_t> image = Restored(1, first, 16);
  ASSERT_EQ(Switch(), STATUS_SUCCESS);
  for (uint32_t g = 0; g < 4; ++g) ASSERT_NO_FATAL_FAILURE(WriteBlocks(first, 16, 50 + g));
  EXPECT_TRUE(ReadDrive(drive, first, 16) == image);
}

}  // namespace
}  // namespace vh::test

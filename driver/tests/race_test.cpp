// Requests that race the volume worker or each other, replayed the same way
// every run: the emulated disk holds one chosen transfer while a second
// thread acts, and the test waits for definite states (a transfer held, a
// thread blocked on the engine lock, a write queued behind a parked
// worker), never for time. Oracles: the pre-boot restorer, no space block
// named by a map but free in the bitmap, and the kernel's leak report at
// teardown.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "control_fixture.h"
#include "engine_lock.h"
#include "snapshot_drive.h"
#include "temporary_fixture.h"

namespace vh::test {
namespace {

constexpr uint64_t kBase = 28000;

std::vector<uint8_t> Pattern(size_t bytes, uint8_t seed) {
  std::vector<uint8_t> out(bytes);
  for (size_t i = 0; i < bytes; ++i) out[i] = static_cast<uint8_t>(seed * 37 + i / 512 + i % 251);
  return out;
}

// Packed field: read by value.
uint64_t DeviceIn(const MountTable& table, uint32_t index) {
  const uint64_t value = table.Entries[index].MountDevice;
  return value;
}

RecordTime TimeFor(uint32_t serial) {
  RecordTime t{};
  t.Year = 2026;
  t.Month = 12;
  t.Day = 1;
  t.Second = static_cast<uint16_t>(serial);
  return t;
}

// A thread running one request; done once it answered.
class Caller {
 public:
  explicit Caller(const std::function<NTSTATUS()>& run)
      : thread_([this, run] {
          status_ = run();
          done_ = true;
        }) {}
  ~Caller() {
    if (thread_.joinable()) thread_.join();
  }
  Caller(const Caller&) = delete;
  Caller& operator=(const Caller&) = delete;
  bool Done() const { return done_; }
  NTSTATUS Join() {
    thread_.join();
    return status_;
  }

 private:
  std::atomic<bool> done_{false};
  NTSTATUS status_ = STATUS_PENDING;
  std::thread thread_;
};

class RaceTest : public ControlTest {
 protected:
  // Snapshots 1..count over blocks kBase..kBase+7; snapshot 1 saved the
  // first content of kBase and kBase+1 (written after it).
  void Prepare(uint32_t count) {
    ASSERT_NO_FATAL_FAILURE(BootMachine());
    ASSERT_NO_FATAL_FAILURE(AllocateBlocks(kBase, 8));
    first_ = Pattern(2 * kBlockBytes, 1);
    ASSERT_EQ(Installed().volume->Write(kBase * kBlockBytes, 2 * kBlockBytes, first_.data()).status,
              storage::kStatusSuccess);
    for (uint32_t k = 1; k <= count; ++k) {
      ASSERT_EQ(CreateWithIdentity(k), STATUS_SUCCESS);
      if (k == 1) {
        std::vector<uint8_t> second = Pattern(2 * kBlockBytes, 2);
        ASSERT_EQ(Write(kBase * kBlockBytes, second), STATUS_SUCCESS);
      }
    }
  }

  NTSTATUS CreateWithIdentity(uint32_t serial) {
    std::vector<uint8_t> in = VolumeRequestFor();
    std::snprintf(reinterpret_cast<char*>(&in[offsetof(VolumeRequest, SnapshotName)]), 24,
                  "snap %u", serial);
    const RecordGuid guid = GuidFor(serial);
    const RecordTime time = TimeFor(serial);
    std::memcpy(&in[offsetof(VolumeRequest, SnapshotGuid)], &guid, sizeof guid);
    std::memcpy(&in[offsetof(VolumeRequest, CreateTime)], &time, sizeof time);
    return Send(IOCTL_ENGINE_CREATE_SNAPSHOT, in, 0).status;
  }

  void HoldHeaderWrite() {
    const uint64_t at = EngineDiskByte(Installed().header->HeaderSector);
    Disk0().HoldTransfer([at](const storage::Disk::TransferInfo& t) {
      return t.write && !t.flush && t.byteOffset == at;
    });
  }
  // The worker's read of a block's old contents.
  void HoldWorkerRead(uint64_t block) {
    const uint64_t at = VolumeDiskByte(block);
    Disk0().HoldTransfer([at](const storage::Disk::TransferInfo& t) {
      return !t.write && !t.flush && t.byteOffset == at;
    });
  }
  // The read of snapshot 1's saved copy of kBase (a drive's read).
  void HoldSavedCopyRead() {
    Restorer r(Installed());
    std::vector<uint32_t> entry;
    ASSERT_TRUE(r.MapEntries(1, kBase, 1, &entry));
    ASSERT_GE(entry[0], 64u);
    const uint64_t at = EngineDiskByte(r.Header().SpaceFirst + entry[0] - 64);
    Disk0().HoldTransfer([at](const storage::Disk::TransferInfo& t) {
      return !t.write && !t.flush && t.byteOffset == at;
    });
  }
  void HoldFlush() {
    Disk0().HoldTransfer([](const storage::Disk::TransferInfo& t) { return t.flush; });
  }

  // The next save needs a space block and finds none: the worker drops the
  // oldest snapshot inside the write.
  void FillSpace() {
    EngineLockedWorkerPaused locked(Ext());
    RtlSetAllBits(&Ext()->SpaceBitmap);
  }

  KMUTEX* Lock() {
    DriverExtension* driver = nullptr;
    EXPECT_EQ(GetDriverExtension(&driver), STATUS_SUCCESS);
    return &driver->EngineLock;
  }
  // `caller` answered, or waits for the engine lock.
  bool AnsweredOrWaitsForLock(const Caller& caller) {
    return hk::testing::Eventually(
        [&] { return caller.Done() || hk::WaitForWaiters(Lock(), 1, 1); });
  }
  // `writer` answered, or its write waits in the queue of a parked worker.
  bool WrittenOrQueuedBehindPause(const Caller& writer) {
    PVolumeFilterExtension volume = Ext();
    return hk::testing::Eventually([&] {
      if (writer.Done()) return true;
      if (!volume->PauseFlag) return false;
      KIRQL irql;
      KeAcquireSpinLock(&volume->WriteQueueLock, &irql);
      const bool queued = !IsListEmpty(&volume->WriteQueue);
      KeReleaseSpinLock(&volume->WriteQueueLock, irql);
      return queued;
    });
  }
  Caller* WriteBlock(uint64_t block, uint8_t seed) {
    return new Caller([this, block, seed] {
      std::vector<uint8_t> data = Pattern(kBlockBytes, seed);
      return Write(block * kBlockBytes, data);
    });
  }

  // Every space block a listed map names is in use in the bitmap on disk,
  // and the header in memory lists what the header on disk lists.
  void ExpectConsistent() {
    Restorer r(Installed());
    ASSERT_TRUE(r.Loaded());
    const std::set<uint32_t> inUse = r.BitmapInUse();
    for (uint32_t block : r.Referenced())
      EXPECT_TRUE(inUse.count(block)) << "space block " << block << " named but free";
    EXPECT_EQ(r.Count(), Ext()->Header->SnapshotCount);
  }

  // The number snapshot `serial` has now, by its GUID on disk (0: gone).
  uint32_t NumberOf(uint32_t serial) {
    Restorer r(Installed());
    for (uint32_t n = 1; n <= r.Count(); ++n) {
      const SnapshotSlot* slot = r.Descriptor(n);
      if (slot != nullptr && slot->Guid.Data1 == GuidFor(serial).Data1) return n;
    }
    return 0;
  }

  std::vector<uint8_t> MountRequest(uint32_t number, uint32_t driveIndex, uint32_t noLetter) {
    std::vector<uint8_t> in = VolumeRequestFor();
    SetU32(in, offsetof(VolumeRequest, SnapshotNumber), number);
    SetU32(in, offsetof(VolumeRequest, MountDriveIndex), driveIndex);
    SetU32(in, offsetof(VolumeRequest, MountNoLetter), noLetter);
    return in;
  }
  NTSTATUS MountNumber(uint32_t number, uint32_t driveIndex, uint32_t noLetter = 1) {
    return Send(IOCTL_ENGINE_MOUNT_SNAPSHOT, MountRequest(number, driveIndex, noLetter), 0).status;
  }
  NTSTATUS UnmountNumber(uint32_t number) {
    return Send(IOCTL_ENGINE_UNMOUNT_SNAPSHOT, MountRequest(number, 0, 0), 0).status;
  }
  MountTable TableNow() {
    MountTable table;
    ControlAnswer a = Send(IOCTL_ENGINE_GET_MOUNT_TABLE, VolumeRequestFor(), sizeof table);
    EXPECT_EQ(a.status, STATUS_SUCCESS);
    std::memcpy(&table, a.out.data(), sizeof table);
    return table;
  }
  // Snapshot drives that exist, listed in the table or not.
  ULONG Drives() {
    ULONG drives = 0;
    for (PDEVICE_OBJECT d = driver_->DeviceObject; d != nullptr; d = d->NextDevice) {
      if (VolumeOf(d)->Kind == KindMount) ++drives;
    }
    return drives;
  }
  PDEVICE_OBJECT DriveOf(uint32_t number) {
    const uint64_t device = DeviceIn(TableNow(), number - 1);
    return reinterpret_cast<PDEVICE_OBJECT>(device);
  }
  std::vector<uint8_t> RenamedHeader(uint32_t number, const char* name) {
    std::vector<uint8_t> header = HeaderOnDisk();
    auto* h = reinterpret_cast<EngineHeader*>(header.data());
    SnapshotSlot* slot = nullptr;
    if (number == h->SnapshotCount) {
      slot = &h->NewestSnapshot;
    } else {
      for (SnapshotSlot& s : h->Slots) {
        if (s.Used == 1 && s.Number == number) slot = &s;
      }
    }
    EXPECT_NE(slot, nullptr);
    if (slot != nullptr) {
      std::memset(slot->Name, 0, sizeof slot->Name);
      std::snprintf(slot->Name, sizeof slot->Name, "%s", name);
    }
    std::vector<uint8_t> in = VolumeRequestFor(u'C', kHeaderWriteBytes);
    std::memcpy(&in[kRequestBytes], header.data(), header.size());
    return in;
  }

  std::vector<uint8_t> first_;  // blocks kBase, kBase+1 at snapshot 1
};

// ------------------------------------------------------------ a request racing a worker drop

enum class Racer { kHeaderWrite, kRollbackSchedule, kDriveRead };
struct DropCase {
  const char* name;
  Racer racer;
};

class DropRaceTest : public RaceTest, public ::testing::WithParamInterface<DropCase> {};

TEST_P(DropRaceTest, TheRequestSeesTheHeaderBeforeOrAfterTheDropNeverBetween) {
  const DropCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(Prepare(3));
  PDEVICE_OBJECT drive = nullptr;
  if (c.racer == Racer::kDriveRead) {
    ASSERT_EQ(MountNumber(1, 12), STATUS_SUCCESS);
    drive = DriveOf(1);
    ASSERT_NE(drive, nullptr);
  }
  ASSERT_NO_FATAL_FAILURE(FillSpace());
  // Snapshot 3 saves kBase+2 into a full space: snapshot 1 goes, and the
  // copy takes one of the blocks it held.
  std::unique_ptr<Caller> request;
  std::unique_ptr<Caller> writer;
  std::vector<uint8_t> driveBytes(kBlockBytes);
  switch (c.racer) {
    case Racer::kHeaderWrite: {
      // The rename's header write is held; the drop comes meanwhile.
      HoldHeaderWrite();
      std::vector<uint8_t> in = RenamedHeader(2, "renamed");
      request =
          std::make_unique<Caller>([in] { return Send(IOCTL_ENGINE_WRITE_HEADER, in, 0).status; });
      ASSERT_TRUE(Disk0().WaitHeld());
      writer.reset(WriteBlock(kBase + 2, 3));
      ASSERT_TRUE(WrittenOrQueuedBehindPause(*writer));
      break;
    }
    case Racer::kRollbackSchedule: {
      // The drop's header write is held; the rollback to snapshot 2 (by its
      // identity) comes meanwhile.
      HoldHeaderWrite();
      writer.reset(WriteBlock(kBase + 2, 3));
      ASSERT_TRUE(Disk0().WaitHeld());
      std::vector<uint8_t> in = RollbackRequestFor(1, 2);
      const RecordGuid guid = GuidFor(2);
      const RecordTime time = TimeFor(2);
      std::memcpy(&in[offsetof(RollbackRequest, TargetGuid)], &guid, sizeof guid);
      std::memcpy(&in[offsetof(RollbackRequest, TargetCreateTime)], &time, sizeof time);
      request =
          std::make_unique<Caller>([in] { return Send(IOCTL_ENGINE_SET_ROLLBACK, in, 0).status; });
      ASSERT_TRUE(hk::WaitForWaiters(&Ext()->PausedEvent, 1));
      break;
    }
    case Racer::kDriveRead: {
      // The drive's read of snapshot 1's copy of kBase is held; the drop
      // and a copy into the freed block come meanwhile.
      ASSERT_NO_FATAL_FAILURE(HoldSavedCopyRead());
      request = std::make_unique<Caller>(
          [drive, &driveBytes] { return ReadSectors(drive, kBase * kBlockBytes, driveBytes); });
      ASSERT_TRUE(Disk0().WaitHeld());
      writer.reset(WriteBlock(kBase, 3));
      ASSERT_TRUE(WrittenOrQueuedBehindPause(*writer));
      break;
    }
  }
  Disk0().ReleaseHeld();
  EXPECT_EQ(request->Join(), STATUS_SUCCESS);
  EXPECT_EQ(writer->Join(), STATUS_SUCCESS);

  EXPECT_EQ(NumberOf(1), 0u) << "the oldest was dropped";
  EXPECT_EQ(Ext()->Header->SnapshotCount, 2);
  ASSERT_NO_FATAL_FAILURE(ExpectConsistent());
  Restorer r(Installed());
  // Snapshot 2 (now 1) still shows kBase as it was.
  RestoredWindow w = r.Restore(NumberOf(2), kBase, 2);
  EXPECT_EQ(w.fault, "");
  EXPECT_EQ(w.bytes, Pattern(2 * kBlockBytes, 2));
  switch (c.racer) {
    case Racer::kHeaderWrite:
      ASSERT_NE(r.Descriptor(NumberOf(2)), nullptr);
      EXPECT_STREQ(r.Descriptor(NumberOf(2))->Name, "renamed");
      break;
    case Racer::kRollbackSchedule:
      EXPECT_EQ(r.Header().RollbackPending, 1);
      EXPECT_EQ(r.Header().RollbackTarget, NumberOf(2)) << "the rollback names snapshot 2";
      break;
    case Racer::kDriveRead:
      EXPECT_TRUE(std::equal(driveBytes.begin(), driveBytes.end(), first_.begin()))
          << "the drive read snapshot 1's bytes";
      EXPECT_EQ(UnmountNumber(1), STATUS_SUCCESS);
      break;
  }
}

INSTANTIATE_TEST_SUITE_P(RequestRacingAWorkerDrop, DropRaceTest,
                         ::testing::Values(DropCase{"HeaderWrite", Racer::kHeaderWrite},
                                           DropCase{"RollbackSchedule", Racer::kRollbackSchedule},
                                           DropCase{"DriveRead", Racer::kDriveRead}),
                         [](const ::testing::TestParamInfo<DropCase>& p) {
                           return std::string(p.param.name);
                         });

// ------------------------------------------------------------ rewrites beside the worker

class RewriteRaceTest : public RaceTest {
 protected:
  // The write of the map sector that names `block`'s copy.
  void HoldMapWrite(uint64_t block) {
    const uint64_t at = EngineDiskByte(Ext()->Header->BlockMapFirst + block / 128);
    Disk0().HoldTransfer([at](const storage::Disk::TransferInfo& t) {
      return t.write && !t.flush && t.byteOffset == at;
    });
  }
  std::vector<uint8_t> OnDisk(uint64_t block) {
    std::vector<uint8_t> out(kBlockBytes);
    EXPECT_EQ(Disk0().Read(VolumeDiskByte(block), kBlockBytes, out.data()).status,
              storage::kStatusSuccess);
    return out;
  }
  bool Queued() {
    KIRQL irql;
    KeAcquireSpinLock(&Ext()->WriteQueueLock, &irql);
    const bool queued = !IsListEmpty(&Ext()->WriteQueue);
    KeReleaseSpinLock(&Ext()->WriteQueueLock, irql);
    return queued;
  }
};

// A rewrite of a block whose copy is still in flight (its map sector held)
// waits behind it: nothing of it reaches the volume before the copy is
// named, and it lands after the first write.
TEST_F(RewriteRaceTest, ARewriteOfABlockWhoseCopyIsInFlightWaitsForIt) {
  ASSERT_NO_FATAL_FAILURE(Prepare(1));
  const uint64_t block = kBase + 2;
  const std::vector<uint8_t> before = OnDisk(block);
  HoldMapWrite(block);
  std::unique_ptr<Caller> first(WriteBlock(block, 3));
  ASSERT_TRUE(Disk0().WaitHeld());
  std::unique_ptr<Caller> rewrite(WriteBlock(block, 4));
  ASSERT_TRUE(hk::testing::Eventually([&] { return rewrite->Done() || Queued(); }));
  EXPECT_FALSE(rewrite->Done()) << "the rewrite passed a copy not yet named";
  EXPECT_EQ(OnDisk(block), before);
  Disk0().ReleaseHeld();
  EXPECT_EQ(first->Join(), STATUS_SUCCESS);
  EXPECT_EQ(rewrite->Join(), STATUS_SUCCESS);
  EXPECT_EQ(OnDisk(block), Pattern(kBlockBytes, 4)) << "the rewrite lands last";
  Restorer r(Installed());
  RestoredWindow w = r.Restore(1, block, 1);
  EXPECT_EQ(w.fault, "");
  EXPECT_EQ(w.bytes, before);
  ASSERT_NO_FATAL_FAILURE(ExpectConsistent());
}

// A rewrite of a block whose copy is durable goes down while the worker
// is held inside another block's first write.
TEST_F(RewriteRaceTest, ARewriteOfADurableBlockGoesDownWhileTheWorkerIsHeld) {
  ASSERT_NO_FATAL_FAILURE(Prepare(1));  // kBase saved after snapshot 1
  HoldMapWrite(kBase + 2);
  std::unique_ptr<Caller> first(WriteBlock(kBase + 2, 3));
  ASSERT_TRUE(Disk0().WaitHeld());
  std::unique_ptr<Caller> rewrite(WriteBlock(kBase, 5));
  const bool done = hk::testing::Eventually([&] { return rewrite->Done(); });
  EXPECT_TRUE(done) << "the rewrite waited for the worker";
  if (done) {
    EXPECT_EQ(rewrite->Join(), STATUS_SUCCESS);
    EXPECT_EQ(OnDisk(kBase), Pattern(kBlockBytes, 5));
  }
  Disk0().ReleaseHeld();
  EXPECT_EQ(first->Join(), STATUS_SUCCESS);
  if (!done) {
    EXPECT_EQ(rewrite->Join(), STATUS_SUCCESS);
  }
  Restorer r(Installed());
  EXPECT_EQ(r.Restore(1, kBase, 2).bytes, first_);
  ASSERT_NO_FATAL_FAILURE(ExpectConsistent());
}

// A batch of first writes held at its one map write: a rewrite of one of
// its blocks waits behind it, a rewrite of a durable block goes down, and
// a pause returns only once the whole batch is on the volume and its map
// durable.
TEST_F(RewriteRaceTest, ABatchHeldAtItsMapWriteHoldsBackItsBlocksAndThePause) {
  ASSERT_NO_FATAL_FAILURE(Prepare(1));  // kBase saved after snapshot 1
  const uint64_t x = kBase + 2;
  const uint64_t y = kBase + 3;
  const std::vector<uint8_t> before = OnDisk(x);
  const std::vector<uint8_t> beforeY = OnDisk(y);
  HoldMapWrite(x);  // y's entry lies in the same sector
  std::unique_ptr<Caller> first;
  std::unique_ptr<Caller> second;
  {
    // Both queued behind the parked worker: it finds them together.
    EngineLockedWorkerPaused locked(Ext());
    first.reset(WriteBlock(x, 3));
    ASSERT_TRUE(hk::testing::Eventually([&] { return QueuedWrites() == 1; }));
    second.reset(WriteBlock(y, 4));
    ASSERT_TRUE(hk::testing::Eventually([&] { return QueuedWrites() == 2; }));
  }
  ASSERT_TRUE(Disk0().WaitHeld());
  std::unique_ptr<Caller> rewrite(WriteBlock(x, 5));
  std::unique_ptr<Caller> durable(WriteBlock(kBase, 6));
  ASSERT_TRUE(hk::testing::Eventually([&] { return rewrite->Done() || Queued(); }));
  EXPECT_TRUE(hk::testing::Eventually([&] { return durable->Done(); }))
      << "a rewrite of a durable block waited for the batch";
  bool batchDoneAtPause = false;
  std::unique_ptr<Caller> pause = std::make_unique<Caller>([&] {
    EngineLockedWorkerPaused locked(Ext());
    Restorer r(Installed());
    batchDoneAtPause = OnDisk(x) == Pattern(kBlockBytes, 3) &&
                       OnDisk(y) == Pattern(kBlockBytes, 4) && r.Restore(1, x, 1).bytes == before &&
                       r.Restore(1, y, 1).bytes == beforeY;
    return STATUS_SUCCESS;
  });
  EXPECT_TRUE(hk::WaitForWaiters(&Ext()->PausedEvent, 1)) << "the pause waits for the batch";
  EXPECT_FALSE(rewrite->Done()) << "the rewrite passed a copy not yet named";
  EXPECT_FALSE(pause->Done());
  EXPECT_EQ(OnDisk(x), before);
  EXPECT_EQ(OnDisk(y), beforeY);
  Disk0().ReleaseHeld();
  EXPECT_EQ(first->Join(), STATUS_SUCCESS);
  EXPECT_EQ(second->Join(), STATUS_SUCCESS);
  EXPECT_EQ(pause->Join(), STATUS_SUCCESS);
  EXPECT_TRUE(batchDoneAtPause) << "the pause returned inside the batch";
  EXPECT_EQ(rewrite->Join(), STATUS_SUCCESS);
  EXPECT_EQ(durable->Join(), STATUS_SUCCESS);
  EXPECT_EQ(OnDisk(x), Pattern(kBlockBytes, 5)) << "the rewrite lands last";
  Restorer r(Installed());
  EXPECT_EQ(r.Restore(1, x, 1).bytes, before);
  EXPECT_EQ(r.Restore(1, kBase, 2).bytes, first_);
  ASSERT_NO_FATAL_FAILURE(ExpectConsistent());
}

// A block free at the newest snapshot (its writes need no copy) that the
// file system takes and writes while a create collects the free clusters:
// the write is recorded, so the new snapshot keeps what the block held
// when taken although the collection saw it free.
TEST_F(RewriteRaceTest, AWriteWhileACreateCollectsFreeClustersIsRecorded) {
  ASSERT_NO_FATAL_FAILURE(Prepare(1));
  const uint64_t block = kBase + 20;  // free when snapshot 1 was taken
  ASSERT_FALSE(BlockAllocated(block));
  std::vector<uint8_t> during = Pattern(kBlockBytes, 9);
  bool written = false;
  NTSTATUS duringStatus = STATUS_PENDING;
  Fs().OnVolumeBitmapAnswered([&] {
    if (written) return;
    written = true;
    // A first write before it: the worker has served a write since the
    // create parked it.
    std::vector<uint8_t> other = Pattern(kBlockBytes, 11);
    duringStatus = Write((kBase + 5) * kBlockBytes, other);
    if (duringStatus == STATUS_SUCCESS) duringStatus = Write(block * kBlockBytes, during);
  });
  EXPECT_EQ(CreateWithIdentity(2), STATUS_SUCCESS);
  Fs().OnVolumeBitmapAnswered(nullptr);
  ASSERT_TRUE(written);
  EXPECT_EQ(duringStatus, STATUS_SUCCESS);
  std::vector<uint8_t> after = Pattern(kBlockBytes, 10);
  ASSERT_EQ(Write(block * kBlockBytes, after), STATUS_SUCCESS);
  Restorer r(Installed());
  RestoredWindow w = r.Restore(2, block, 1);
  EXPECT_EQ(w.fault, "");
  EXPECT_EQ(w.bytes, during) << "snapshot 2 lost the block written during its collection";
  EXPECT_EQ(r.Restore(1, kBase, 2).bytes, first_);
  ASSERT_NO_FATAL_FAILURE(ExpectConsistent());
}

// A rewrite of a block saved for the newest snapshot racing a change of the
// snapshots: every snapshot still shows the block as it was when taken.
// After a create the block is a first write again, so the rewrite must not
// land before the create has frozen the block.
enum class Change { kCreate, kDelete, kOldestDrop };
struct ChangeCase {
  const char* name;
  Change change;
  bool downWhileHeld;  // the rewrite completes while the change is held
};

class RewriteChangeTest : public RewriteRaceTest,
                          public ::testing::WithParamInterface<ChangeCase> {};

TEST_P(RewriteChangeTest, EverySnapshotKeepsTheBlockAsItWas) {
  const ChangeCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(Prepare(3));
  const uint64_t block = kBase + 3;
  const std::vector<uint8_t> atThree = OnDisk(block);
  std::vector<uint8_t> second = Pattern(kBlockBytes, 7);
  ASSERT_EQ(Write(block * kBlockBytes, second), STATUS_SUCCESS);  // saved for snapshot 3
  std::unique_ptr<Caller> change;
  switch (c.change) {
    case Change::kCreate:
      HoldHeaderWrite();
      change = std::make_unique<Caller>([this] { return CreateWithIdentity(4); });
      break;
    case Change::kDelete:
      HoldHeaderWrite();
      change = std::make_unique<Caller>([] {
        std::vector<uint8_t> in = VolumeRequestFor();
        SetU32(in, offsetof(VolumeRequest, SnapshotNumber), 2);
        return Send(IOCTL_ENGINE_DELETE_SNAPSHOT, in, 0).status;
      });
      break;
    case Change::kOldestDrop:
      // A first write into a full space drops snapshot 1 inside the worker.
      ASSERT_NO_FATAL_FAILURE(FillSpace());
      HoldHeaderWrite();
      change.reset(WriteBlock(kBase + 2, 8));
      break;
  }
  ASSERT_TRUE(Disk0().WaitHeld());
  std::unique_ptr<Caller> rewrite(WriteBlock(block, 9));
  if (c.downWhileHeld) {
    EXPECT_TRUE(hk::testing::Eventually([&] { return rewrite->Done(); }));
  } else {
    ASSERT_TRUE(WrittenOrQueuedBehindPause(*rewrite));
  }
  if (c.change == Change::kCreate) {
    EXPECT_FALSE(rewrite->Done()) << "the rewrite passed the create";
    EXPECT_EQ(OnDisk(block), second);
  }
  Disk0().ReleaseHeld();
  EXPECT_EQ(change->Join(), STATUS_SUCCESS);
  EXPECT_EQ(rewrite->Join(), STATUS_SUCCESS);
  EXPECT_EQ(OnDisk(block), Pattern(kBlockBytes, 9));

  ASSERT_NO_FATAL_FAILURE(ExpectConsistent());
  Restorer r(Installed());
  EXPECT_EQ(r.Restore(NumberOf(3), block, 1).bytes, atThree);
  if (c.change == Change::kCreate) {
    EXPECT_EQ(r.Restore(NumberOf(4), block, 1).bytes, second);
  }
  if (c.change != Change::kOldestDrop) {
    EXPECT_EQ(r.Restore(NumberOf(1), kBase, 2).bytes, first_);
  }
}

INSTANTIATE_TEST_SUITE_P(RewriteRacingAChange, RewriteChangeTest,
                         ::testing::Values(ChangeCase{"Create", Change::kCreate, false},
                                           ChangeCase{"Delete", Change::kDelete, false},
                                           ChangeCase{"OldestDrop", Change::kOldestDrop, true}),
                         [](const ::testing::TestParamInfo<ChangeCase>& p) {
                           return std::string(p.param.name);
                         });

// ------------------------------------------------------------ two callers at once

enum class Pair { kCreateCreate, kCreateDelete, kMountMount, kUnmountUnmount, kExcludeExclude };
struct PairCase {
  const char* name;
  Pair pair;
  NTSTATUS first;   // what the first caller answers
  NTSTATUS second;  // what the second caller answers
};

class TwoCallersTest : public RaceTest, public ::testing::WithParamInterface<PairCase> {
 protected:
  std::vector<uint8_t> ExcludeRequest(const std::u16string& file) {
    std::vector<uint8_t> in = VolumeRequestFor();
    const std::u16string path = u"\\??\\C:\\Windows\\" + file;
    std::memcpy(&in[offsetof(VolumeRequest, ExcludePath)], path.c_str(),
                (path.size() + 1) * sizeof(char16_t));
    return in;
  }
  void MakeFile(const std::u16string& file) {
    uint64_t lcn = 0;
    ASSERT_EQ(Fs().FindFreeRun(4, 100000, &lcn), storage::kStatusSuccess);
    const uint64_t clusterBytes = uint64_t{Fs().GetGeometry().sectorsPerCluster} * 512;
    ASSERT_EQ(
        Fs().CreateFile(u"\\Windows\\" + file, 4 * clusterBytes, {{static_cast<int64_t>(lcn), 4}}),
        storage::kStatusSuccess);
  }
};

TEST_P(TwoCallersTest, OneAtATime) {
  const PairCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(Prepare(3));
  std::function<NTSTATUS()> first;
  std::function<NTSTATUS()> second;
  std::unique_ptr<Caller> writer;
  switch (c.pair) {
    case Pair::kCreateCreate:
    case Pair::kCreateDelete:
      // The first create is held at its flush, before the free-space
      // collection.
      HoldFlush();
      first = [this] { return CreateWithIdentity(4); };
      second = c.pair == Pair::kCreateCreate
                   ? std::function<NTSTATUS()>([this] { return CreateWithIdentity(5); })
                   : std::function<NTSTATUS()>([] {
                       std::vector<uint8_t> in = VolumeRequestFor();
                       SetU32(in, offsetof(VolumeRequest, SnapshotNumber), 2);
                       return Send(IOCTL_ENGINE_DELETE_SNAPSHOT, in, 0).status;
                     });
      break;
    case Pair::kMountMount:
    case Pair::kUnmountUnmount:
    case Pair::kExcludeExclude:
      // The worker is held inside a write: a caller that parks it waits.
      if (c.pair == Pair::kUnmountUnmount) {
        ASSERT_EQ(MountNumber(2, 12), STATUS_SUCCESS);
      }
      if (c.pair == Pair::kExcludeExclude) {
        ASSERT_NO_FATAL_FAILURE(MakeFile(u"one.dat"));
        ASSERT_NO_FATAL_FAILURE(MakeFile(u"two.dat"));
      }
      HoldWorkerRead(kBase + 3);
      writer.reset(WriteBlock(kBase + 3, 4));
      ASSERT_TRUE(Disk0().WaitHeld());
      if (c.pair == Pair::kMountMount) {
        first = [this] { return MountNumber(2, 12); };
        second = [this] { return MountNumber(2, 13); };
      } else if (c.pair == Pair::kUnmountUnmount) {
        first = [this] { return UnmountNumber(2); };
        second = [this] { return UnmountNumber(2); };
      } else {
        first = [this] {
          return Send(IOCTL_ENGINE_ADD_EXCLUDED_FILE, ExcludeRequest(u"one.dat"), 0).status;
        };
        second = [this] {
          return Send(IOCTL_ENGINE_ADD_EXCLUDED_FILE, ExcludeRequest(u"two.dat"), 0).status;
        };
      }
      break;
  }
  Caller a(first);
  if (writer == nullptr) {
    ASSERT_TRUE(Disk0().WaitHeld());
  } else {
    // Either the first caller waits for the held worker, or it has answered.
    ASSERT_TRUE(hk::testing::Eventually(
        [&] { return a.Done() || hk::WaitForWaiters(&Ext()->PausedEvent, 1, 1); }));
  }
  Caller b(second);
  ASSERT_TRUE(AnsweredOrWaitsForLock(b));
  Disk0().ReleaseHeld();
  EXPECT_EQ(a.Join(), c.first);
  EXPECT_EQ(b.Join(), c.second);
  if (writer) {
    EXPECT_EQ(writer->Join(), STATUS_SUCCESS);
  }

  ASSERT_NO_FATAL_FAILURE(ExpectConsistent());
  Restorer r(Installed());
  EXPECT_EQ(r.Restore(1, kBase, 2).bytes, first_) << "snapshot 1 is intact";
  const MountTable table = TableNow();
  switch (c.pair) {
    case Pair::kCreateCreate:
      EXPECT_EQ(r.Count(), 4u);
      EXPECT_EQ(NumberOf(4), 4u);
      EXPECT_EQ(Ext()->WatchWrites, 0);
      break;
    case Pair::kCreateDelete:
      EXPECT_EQ(r.Count(), 4u);
      EXPECT_EQ(NumberOf(2), 2u);
      break;
    case Pair::kMountMount: {
      // One drive, the one the table lists.
      const uint64_t device = DeviceIn(table, 1);
      EXPECT_NE(device, 0u);
      EXPECT_EQ(Drives(), 1u);
      EXPECT_EQ(UnmountNumber(2), STATUS_SUCCESS);
      break;
    }
    case Pair::kUnmountUnmount:
      EXPECT_EQ(table.Entries[1].InUse, 0);
      EXPECT_EQ(DeviceIn(table, 1), 0u);
      break;
    case Pair::kExcludeExclude: {
      // Both files' sectors pass through.
      const Ranges through = Normalised(PassThroughRanges(Ext()));
      for (const char16_t* file : {u"\\Windows\\one.dat", u"\\Windows\\two.dat"}) {
        for (const auto& range : FileRanges(Fs(), file)) {
          bool covered = false;
          for (const auto& t : through)
            covered = covered || (t.first <= range.first && range.second <= t.second);
          EXPECT_TRUE(covered) << hk::Narrow(std::u16string(file));
        }
      }
      EXPECT_EQ(Ext()->ExcludedRuns, nullptr);
      break;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    TwoCallersAtOnce, TwoCallersTest,
    ::testing::Values(
        PairCase{"CreateCreate", Pair::kCreateCreate, STATUS_SUCCESS, STATUS_DEVICE_BUSY},
        PairCase{"CreateDelete", Pair::kCreateDelete, STATUS_SUCCESS, STATUS_DEVICE_BUSY},
        PairCase{"MountMount", Pair::kMountMount, STATUS_SUCCESS, STATUS_SUCCESS},
        PairCase{"UnmountUnmount", Pair::kUnmountUnmount, STATUS_SUCCESS, STATUS_SUCCESS},
        PairCase{"ExcludeExclude", Pair::kExcludeExclude, STATUS_SUCCESS, STATUS_SUCCESS}),
    [](const ::testing::TestParamInfo<PairCase>& p) { return std::string(p.param.name); });

// Two mounts or unmounts of one drive held inside the first one's own work
// (above, the first only waits for a held worker, which a request that
// parks no worker never does).
class DriveTwiceTest : public RaceTest {};

// The second mount is sent once the first one has made its drive's device,
// after it checked the entry and before it records the drive. One drive,
// the one the table lists.
TEST_F(DriveTwiceTest, ASecondMountWhileTheFirstMakesItsDriveMakesNoOtherDrive) {
  ASSERT_NO_FATAL_FAILURE(Prepare(2));
  std::atomic<bool> sent{false};
  std::unique_ptr<Caller> second;
  bool secondInside = false;
  hk::OnDeviceCreated([&](PDEVICE_OBJECT device) {
    if (device->DriverObject != driver_ || sent.exchange(true)) return;
    second = std::make_unique<Caller>([this] { return MountNumber(2, 13); });
    secondInside = AnsweredOrWaitsForLock(*second);
  });
  EXPECT_EQ(MountNumber(2, 12), STATUS_SUCCESS);
  hk::OnDeviceCreated(nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_TRUE(secondInside);
  EXPECT_EQ(second->Join(), STATUS_SUCCESS);
  EXPECT_EQ(Drives(), 1u);
  EXPECT_EQ(DeviceIn(TableNow(), 1), reinterpret_cast<uint64_t>(DriveOf(2)));
  std::vector<uint8_t> bytes(2 * kBlockBytes);
  EXPECT_EQ(ReadSectors(DriveOf(2), kBase * kBlockBytes, bytes), STATUS_SUCCESS);
  EXPECT_EQ(bytes, Pattern(2 * kBlockBytes, 2));
  EXPECT_EQ(UnmountNumber(2), STATUS_SUCCESS);
  EXPECT_EQ(Drives(), 0u);
}

// Two unmounts while the drive's worker is held inside a read: the read
// answers its snapshot's bytes, the drive goes once.
TEST_F(DriveTwiceTest, TwoUnmountsDuringADriveReadDeleteTheDriveOnce) {
  ASSERT_NO_FATAL_FAILURE(Prepare(2));
  ASSERT_EQ(MountNumber(1, 12), STATUS_SUCCESS);
  PDEVICE_OBJECT drive = DriveOf(1);
  ASSERT_NE(drive, nullptr);
  ASSERT_NO_FATAL_FAILURE(HoldSavedCopyRead());
  std::vector<uint8_t> bytes(2 * kBlockBytes);
  Caller read([drive, &bytes] { return ReadSectors(drive, kBase * kBlockBytes, bytes); });
  ASSERT_TRUE(Disk0().WaitHeld());
  Caller a([this] { return UnmountNumber(1); });
  EXPECT_TRUE(AnsweredOrWaitsForLock(a));
  Caller b([this] { return UnmountNumber(1); });
  EXPECT_TRUE(
      hk::testing::Eventually([&] { return b.Done() || hk::WaitForWaiters(Lock(), 2, 1); }));
  Disk0().ReleaseHeld();
  EXPECT_EQ(read.Join(), STATUS_SUCCESS);
  EXPECT_EQ(bytes, first_);
  EXPECT_EQ(a.Join(), STATUS_SUCCESS);
  EXPECT_EQ(b.Join(), STATUS_SUCCESS);
  EXPECT_EQ(Drives(), 0u);
  const MountTable table = TableNow();
  EXPECT_EQ(table.Entries[0].InUse, 0);
  EXPECT_EQ(DeviceIn(table, 0), 0u);
}

// A drive read sent with a completion routine that reports the thread it
// completes in and, when told to, holds there until released: the read has
// answered and let go of the engine lock, but still runs in the drive.
struct HeldCompletion {
  KEVENT entered;
  KEVENT go;
  bool hold = false;
  PKTHREAD thread = nullptr;
  HeldCompletion() {
    KeInitializeEvent(&entered, NotificationEvent, FALSE);
    KeInitializeEvent(&go, NotificationEvent, FALSE);
  }
  // The sender's own routine: no stack location of its own to mark pending.
  static NTSTATUS Routine(PDEVICE_OBJECT, PIRP, PVOID context) {
    auto* self = static_cast<HeldCompletion*>(context);
    self->thread = KeGetCurrentThread();
    KeSetEvent(&self->entered, IO_NO_INCREMENT, FALSE);
    if (self->hold) KeWaitForSingleObject(&self->go, Executive, KernelMode, FALSE, nullptr);
    return STATUS_SUCCESS;
  }
};

// Sends a read of `data.size()` bytes at `offset` to `drive`; `sent` runs
// right after the send (the read may still be pending), then it waits.
NTSTATUS ReadWithCompletion(PDEVICE_OBJECT drive, uint64_t offset, std::vector<uint8_t>& data,
                            HeldCompletion* completion, const std::function<void()>& sent,
                            KIRQL irql = PASSIVE_LEVEL) {
  KEVENT done;
  KeInitializeEvent(&done, NotificationEvent, FALSE);
  IO_STATUS_BLOCK ioStatus{};
  LARGE_INTEGER at;
  at.QuadPart = static_cast<LONGLONG>(offset);
  PIRP irp = IoBuildSynchronousFsdRequest(IRP_MJ_READ, drive, data.data(),
                                          static_cast<ULONG>(data.size()), &at, &done, &ioStatus);
  if (irp == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
  IoSetCompletionRoutine(irp, HeldCompletion::Routine, completion, TRUE, TRUE, TRUE);
  KIRQL old = PASSIVE_LEVEL;
  if (irql != PASSIVE_LEVEL) KeRaiseIrql(irql, &old);
  NTSTATUS status = IoCallDriver(drive, irp);
  if (irql != PASSIVE_LEVEL) KeLowerIrql(old);
  sent();
  if (status == STATUS_PENDING) {
    KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
    status = ioStatus.Status;
  }
  return status;
}

// A read sent at PASSIVE_LEVEL runs in its sender's thread. An unmount
// waits for it first on the engine lock (while a transfer of the read is
// held), then, once the read answered and let go of the lock, until it
// has left the drive: the drive's device stays until then (a removal that
// did not wait freed the drive under the read).
TEST_F(DriveTwiceTest, AnUnmountWaitsForAReadRunningInItsSendersThread) {
  ASSERT_NO_FATAL_FAILURE(Prepare(2));
  ASSERT_EQ(MountNumber(1, 12), STATUS_SUCCESS);
  PDEVICE_OBJECT drive = DriveOf(1);
  ASSERT_NE(drive, nullptr);
  PKEVENT drained = InlineReadsDrained(drive);
  ASSERT_NE(drained, nullptr);
  ASSERT_NO_FATAL_FAILURE(HoldSavedCopyRead());
  HeldCompletion completion;
  completion.hold = true;
  std::atomic<PKTHREAD> reader{nullptr};
  std::vector<uint8_t> bytes(2 * kBlockBytes);
  Caller read([&] {
    reader = KeGetCurrentThread();
    return ReadWithCompletion(drive, kBase * kBlockBytes, bytes, &completion, [] {});
  });
  ASSERT_TRUE(Disk0().WaitHeld());
  Caller unmount([this] { return UnmountNumber(1); });
  EXPECT_TRUE(AnsweredOrWaitsForLock(unmount));
  EXPECT_FALSE(unmount.Done());
  Disk0().ReleaseHeld();
  ASSERT_EQ(KeWaitForSingleObject(&completion.entered, Executive, KernelMode, FALSE, nullptr),
            STATUS_SUCCESS);
  EXPECT_EQ(completion.thread, reader.load()) << "served in the sender's thread";
  EXPECT_TRUE(hk::WaitForWaiters(drained, 1)) << "the unmount waits for the read";
  EXPECT_FALSE(unmount.Done());
  EXPECT_EQ(Drives(), 1u) << "the drive stays while the read runs in it";
  KeSetEvent(&completion.go, IO_NO_INCREMENT, FALSE);
  EXPECT_EQ(read.Join(), STATUS_SUCCESS);
  EXPECT_EQ(bytes, first_);
  EXPECT_EQ(unmount.Join(), STATUS_SUCCESS);
  EXPECT_EQ(Drives(), 0u);
}

// Where a read may not wait (raised IRQL) or would take the engine lock a
// second time in a thread that holds it, it goes to the drive's worker and
// still answers the snapshot's bytes.
struct QueuedReadCase {
  const char* name;
  KIRQL irql;
  bool engineLockHeld;
};

class QueuedReadTest : public RaceTest, public ::testing::WithParamInterface<QueuedReadCase> {};

TEST_P(QueuedReadTest, AReadThatMayNotRunInItsSendersThreadIsServedByTheWorker) {
  const QueuedReadCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(Prepare(2));
  ASSERT_EQ(MountNumber(1, 12), STATUS_SUCCESS);
  PDEVICE_OBJECT drive = DriveOf(1);
  ASSERT_NE(drive, nullptr);
  HeldCompletion completion;
  std::vector<uint8_t> bytes(2 * kBlockBytes);
  if (c.engineLockHeld) EngineLock();
  bool locked = c.engineLockHeld;
  // The worker's read waits for the lock this thread holds: it is given
  // back once the read is sent.
  const NTSTATUS status = ReadWithCompletion(
      drive, kBase * kBlockBytes, bytes, &completion,
      [&] {
        if (locked) EngineUnlock();
        locked = false;
      },
      c.irql);
  EXPECT_EQ(status, STATUS_SUCCESS);
  EXPECT_EQ(bytes, first_);
  EXPECT_NE(completion.thread, KeGetCurrentThread()) << "served by the drive's worker";
  EXPECT_EQ(UnmountNumber(1), STATUS_SUCCESS);
}

INSTANTIATE_TEST_SUITE_P(Cases, QueuedReadTest,
                         ::testing::Values(QueuedReadCase{"DispatchLevel", DISPATCH_LEVEL, false},
                                           QueuedReadCase{"EngineLockHeld", PASSIVE_LEVEL, true}),
                         [](const ::testing::TestParamInfo<QueuedReadCase>& p) {
                           return std::string(p.param.name);
                         });

// ------------------------------------------------------------ drives, letters, the guard

// The letter of a volume is no drive's: the mount is refused and the
// volume keeps its letter.
TEST_F(RaceTest, AMountOnALetterInUseIsRefusedAndTheLetterStays) {
  ASSERT_NO_FATAL_FAILURE(Prepare(2));
  EXPECT_EQ(MountNumber(1, 2, 0), STATUS_OBJECT_NAME_COLLISION);  // C:
  EXPECT_EQ(DeviceIn(TableNow(), 0), 0u);
  EXPECT_EQ(UnmountNumber(1), STATUS_SUCCESS);
  UNICODE_STRING name;
  RtlInitUnicodeString(&name, u"\\DosDevices\\C:");
  PFILE_OBJECT file = nullptr;
  PDEVICE_OBJECT device = nullptr;
  ASSERT_EQ(IoGetDeviceObjectPointer(&name, FILE_READ_ATTRIBUTES, &file, &device), STATUS_SUCCESS);
  ObDereferenceObject(file);
  // A free letter mounts, and its link goes with the drive.
  ASSERT_EQ(MountNumber(1, 12, 0), STATUS_SUCCESS);
  EXPECT_EQ(UnmountNumber(1), STATUS_SUCCESS);
  RtlInitUnicodeString(&name, u"\\DosDevices\\M:");
  EXPECT_NE(IoGetDeviceObjectPointer(&name, FILE_READ_ATTRIBUTES, &file, &device), STATUS_SUCCESS);
}

// A drive shows its snapshot by GUID and creation time: a rename does not
// take it away.
TEST_F(RaceTest, ARenamedSnapshotsDriveStillReads) {
  ASSERT_NO_FATAL_FAILURE(Prepare(2));
  ASSERT_EQ(MountNumber(1, 12), STATUS_SUCCESS);
  ASSERT_EQ(Send(IOCTL_ENGINE_WRITE_HEADER, RenamedHeader(1, "renamed"), 0).status, STATUS_SUCCESS);
  std::vector<uint8_t> bytes(2 * kBlockBytes);
  EXPECT_EQ(ReadSectors(DriveOf(1), kBase * kBlockBytes, bytes), STATUS_SUCCESS);
  EXPECT_EQ(bytes, first_);
  EXPECT_EQ(UnmountNumber(1), STATUS_SUCCESS);
}

// The space-file guard switched the engine off: a create is refused and
// the engine stays off.
TEST_F(RaceTest, ACreateLeavesAnEngineTheGuardSwitchedOffOff) {
  ASSERT_NO_FATAL_FAILURE(Prepare(1));
  {
    EngineLockedWorkerPaused locked(Ext());
    // What the guard does on finding a compressed space file.
    Ext()->EngineMode = EngineModeOff;
    Ext()->ProtectionRefused = 1;
  }
  EXPECT_EQ(CreateWithIdentity(2), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(Ext()->EngineMode, EngineModeOff);
  EXPECT_EQ(Restorer(Installed()).Count(), 1u);
}

// ------------------------------------------------------------ a storm

// Writes and every kind of request from several threads at once. Each
// answer is one the request may give; afterwards the maps, the bitmap and
// the header agree, and the ThreadSanitizer build sees no race.
// A stop with a rollback pending cancels it from the worker, which puts the
// saved boot sectors back through the raw-disk filter; a system shutdown
// meanwhile waits for that before it lets go of the filter (it freed the
// filter under the worker's feet).
TEST_F(RaceTest, AShutdownWaitsForAStopThatPutsTheBootSectorsBack) {
  ASSERT_NO_FATAL_FAILURE(Prepare(1));
  const std::vector<uint8_t> original = BootSectors();
  ASSERT_EQ(Send(IOCTL_ENGINE_SET_ROLLBACK, RollbackRequestFor(1, 1), 0).status, STATUS_SUCCESS);
  ASSERT_NE(BootSectors(), original) << "the pre-boot program is in place";
  const uint64_t at = EngineDiskByte(Ext()->Header->BootBackupSector);
  Disk0().HoldTransfer([at](const storage::Disk::TransferInfo& t) {
    return !t.write && !t.flush && t.byteOffset == at;
  });
  ASSERT_EQ(Send(IOCTL_ENGINE_STOP_VOLUME, VolumeRequestFor(), 0).status, STATUS_SUCCESS);
  ASSERT_TRUE(Disk0().WaitHeld()) << "the worker reads the saved boot sectors";
  Caller shutdown([this] { return Shutdown(); });
  EXPECT_TRUE(hk::WaitForWaiters(&Ext()->PausedEvent, 1)) << "the shutdown waits for the worker";
  EXPECT_FALSE(shutdown.Done());
  Disk0().ReleaseHeld();
  EXPECT_EQ(shutdown.Join(), STATUS_SUCCESS);
  EXPECT_EQ(BootSectors(), original) << "the cancelled rollback left the boot sectors as they were";
}

TEST_F(RaceTest, AStormOfRequestsAndWritesLeavesTheEngineConsistent) {
  ASSERT_NO_FATAL_FAILURE(Prepare(2));
  ASSERT_NO_FATAL_FAILURE(AllocateBlocks(kBase + 8, 24));
  uint64_t lcn = 0;
  ASSERT_EQ(Fs().FindFreeRun(4, 100000, &lcn), storage::kStatusSuccess);
  const uint64_t clusterBytes = uint64_t{Fs().GetGeometry().sectorsPerCluster} * 512;
  ASSERT_EQ(
      Fs().CreateFile(u"\\Windows\\storm.dat", 4 * clusterBytes, {{static_cast<int64_t>(lcn), 4}}),
      storage::kStatusSuccess);
  ASSERT_EQ(MountNumber(1, 12), STATUS_SUCCESS);
  PDEVICE_OBJECT drive = DriveOf(1);
  constexpr int kRounds = 6;
  std::atomic<int> unexpected{0};
  auto expect = [&](NTSTATUS status, std::initializer_list<NTSTATUS> allowed) {
    for (NTSTATUS a : allowed) {
      if (status == a) return;
    }
    ++unexpected;
  };
  std::vector<std::thread> threads;
  threads.emplace_back([&] {  // writes
    for (int w = 0; w < kRounds * 4; ++w) {
      std::vector<uint8_t> data = Pattern(kBlockBytes, static_cast<uint8_t>(10 + w));
      expect(Write((kBase + 2 + (w * 7) % 30) * kBlockBytes, data), {STATUS_SUCCESS});
    }
  });
  threads.emplace_back([&] {  // creates and deletes
    for (int k = 0; k < kRounds; ++k) {
      expect(CreateWithIdentity(10 + k),
             {STATUS_SUCCESS, STATUS_DEVICE_BUSY, STATUS_INVALID_PARAMETER});
      std::vector<uint8_t> in = VolumeRequestFor();
      SetU32(in, offsetof(VolumeRequest, SnapshotNumber), 2);
      expect(Send(IOCTL_ENGINE_DELETE_SNAPSHOT, in, 0).status,
             {STATUS_SUCCESS, STATUS_DEVICE_BUSY, STATUS_INVALID_PARAMETER});
    }
  });
  threads.emplace_back([&] {  // header reads and writes
    for (int k = 0; k < kRounds; ++k) {
      expect(Send(IOCTL_ENGINE_READ_HEADER, VolumeRequestFor(), kEngineHeaderBytes).status,
             {STATUS_SUCCESS});
      std::vector<uint8_t> header = HeaderOnDisk();
      std::vector<uint8_t> in = VolumeRequestFor(u'C', kHeaderWriteBytes);
      auto* h = reinterpret_cast<EngineHeader*>(header.data());
      h->HourlySchedule = static_cast<uint8_t>(k & 1);
      std::memcpy(&in[kRequestBytes], header.data(), header.size());
      expect(Send(IOCTL_ENGINE_WRITE_HEADER, in, 0).status,
             {STATUS_SUCCESS, STATUS_INVALID_PARAMETER});
    }
  });
  threads.emplace_back([&] {  // drive reads, rollback, exclusion, status
    for (int k = 0; k < kRounds; ++k) {
      std::vector<uint8_t> bytes(kBlockBytes);
      expect(ReadSectors(drive, kBase * kBlockBytes, bytes),
             {STATUS_SUCCESS, STATUS_NO_SUCH_DEVICE});
      expect(Send(IOCTL_ENGINE_SET_ROLLBACK, RollbackRequestFor(1, 1), 0).status,
             {STATUS_SUCCESS, STATUS_INVALID_PARAMETER});
      expect(Send(IOCTL_ENGINE_SET_ROLLBACK, RollbackRequestFor(0, 0), 0).status, {STATUS_SUCCESS});
      expect(Send(IOCTL_ENGINE_QUERY_STATUS, VolumeRequestFor(), kStatusBytes).status,
             {STATUS_SUCCESS});
    }
    std::vector<uint8_t> in = VolumeRequestFor();
    const std::u16string path = u"\\??\\C:\\Windows\\storm.dat";
    std::memcpy(&in[offsetof(VolumeRequest, ExcludePath)], path.c_str(),
                (path.size() + 1) * sizeof(char16_t));
    expect(Send(IOCTL_ENGINE_ADD_EXCLUDED_FILE, in, 0).status, {STATUS_SUCCESS});
  });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(unexpected.load(), 0);
  ASSERT_NO_FATAL_FAILURE(ExpectConsistent());
  EXPECT_EQ(Ext()->ChangeInProgress, 0);
  EXPECT_EQ(UnmountNumber(1), STATUS_SUCCESS);
}

// ------------------------------------------------------------ requests against the volume's
// removal

// Where the race is held: the request (a create inside its free-cluster
// collection), or the removal, past its wait for requests and the worker's
// stop, where the volume below answers it ("pass-down"), or waiting for the
// engine lock the test holds while the request waits for it too.
enum class Hold { kCreateCollecting, kRemovalPassingDown, kRemovalAtLock };
enum class Act { kCreate, kUnmount, kHeaderRead, kDriveRead, kMount, kReclaim };
struct RemovalCase {
  const char* name;
  Act act;
  Hold hold;
};

// A gate a held thread waits at until the test opens it.
class Gate {
 public:
  void Arrive() {
    std::unique_lock<std::mutex> lock(mutex_);
    reached_ = true;
    changed_.notify_all();
    changed_.wait(lock, [this] { return open_; });
  }
  bool WaitReached() {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::seconds(10), [this] { return reached_; });
  }
  void Open() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  bool reached_ = false;
  bool open_ = false;
};

class RemovalRaceTest : public RaceTest, public ::testing::WithParamInterface<RemovalCase> {
 protected:
  NTSTATUS Run(Act act, PDEVICE_OBJECT drive, std::vector<uint8_t>* driveBytes) {
    switch (act) {
      case Act::kCreate:
        return CreateWithIdentity(3);
      case Act::kUnmount:
        return UnmountNumber(1);
      case Act::kHeaderRead:
        return Send(IOCTL_ENGINE_READ_HEADER, VolumeRequestFor(), kEngineHeaderBytes).status;
      case Act::kDriveRead:
        return ReadSectors(drive, kBase * kBlockBytes, *driveBytes);
      case Act::kMount:
        return MountNumber(2, 13);
      case Act::kReclaim:
        return Send(IOCTL_ENGINE_RECLAIM_SPACE, VolumeRequestFor(), 0).status;
    }
    return STATUS_UNSUCCESSFUL;
  }
  // A hung request cannot be joined: the run ends here rather than at the
  // test command's time limit.
  static void AnsweredOrEnd(const Caller& caller, const char* who) {
    if (hk::testing::Eventually([&] { return caller.Done(); })) return;
    ADD_FAILURE() << who << " never answered";
    std::fflush(nullptr);
    std::_Exit(1);
  }
};

TEST_P(RemovalRaceTest, NoHangNoUseAfterFreeAndTheSnapshotsStay) {
  const RemovalCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(Prepare(2));
  PDEVICE_OBJECT drive = nullptr;
  if (c.act == Act::kUnmount || c.act == Act::kDriveRead) {
    ASSERT_EQ(MountNumber(1, 12), STATUS_SUCCESS);
    drive = DriveOf(1);
    ASSERT_NE(drive, nullptr);
  }
  std::vector<uint8_t> driveBytes(kBlockBytes);
  PVolumeFilterExtension volume = Ext();
  PKEVENT removalWaits = &volume->RemoveLock.RemoveEvent;
  Gate gate;
  std::unique_ptr<Caller> request;
  std::unique_ptr<Caller> removal;
  const auto remove = [this] { return Remove(kProtectedVolume); };
  switch (c.hold) {
    case Hold::kCreateCollecting: {
      Fs().OnVolumeBitmapAnswered([&gate] { gate.Arrive(); });
      request = std::make_unique<Caller>([&] { return Run(c.act, drive, &driveBytes); });
      ASSERT_TRUE(gate.WaitReached());
      removal = std::make_unique<Caller>(remove);
      // The removal waits for the create (today's code frees the volume
      // under it instead).
      EXPECT_TRUE(hk::testing::Eventually(
          [&] { return removal->Done() || hk::WaitForWaiters(removalWaits, 1, 1); }));
      gate.Open();
      break;
    }
    case Hold::kRemovalPassingDown: {
      machine_->Storage().Knobs(kProtectedVolume).pnpReached = [&gate](uint8_t minor) {
        if (minor == IRP_MN_REMOVE_DEVICE) gate.Arrive();
      };
      removal = std::make_unique<Caller>(remove);
      ASSERT_TRUE(gate.WaitReached());
      request = std::make_unique<Caller>([&] { return Run(c.act, drive, &driveBytes); });
      AnsweredOrEnd(*request, "the request");
      gate.Open();
      break;
    }
    case Hold::kRemovalAtLock: {
      // The space-file guard scans the volumes once under the lock; once it
      // waits for its tick only the request and the removal wait for it.
      auto* control = static_cast<ControlExtension*>(EngineControlDevice->DeviceExtension);
      ASSERT_TRUE(hk::WaitForWaiters(&control->GuardEvent, 1));
      EngineLock();
      request = std::make_unique<Caller>([&] { return Run(c.act, drive, &driveBytes); });
      EXPECT_TRUE(hk::testing::Eventually(
          [&] { return request->Done() || hk::WaitForWaiters(Lock(), 1, 1); }));
      removal = std::make_unique<Caller>(remove);
      // At the lock too, or waiting for a request that holds the volume.
      EXPECT_TRUE(hk::testing::Eventually([&] {
        return removal->Done() || hk::WaitForWaiters(Lock(), 2, 1) ||
               hk::WaitForWaiters(removalWaits, 1, 1);
      }));
      EngineUnlock();
      break;
    }
  }
  AnsweredOrEnd(*request, "the request");
  AnsweredOrEnd(*removal, "the removal");
  const NTSTATUS answered = request->Join();
  EXPECT_EQ(removal->Join(), STATUS_SUCCESS);
  Fs().OnVolumeBitmapAnswered(nullptr);
  machine_->Storage().Knobs(kProtectedVolume).pnpReached = nullptr;
  EXPECT_EQ(Filter(kProtectedVolume), nullptr);

  // A request that held the volume first finishes; one that came after the
  // removal began is refused.
  uint32_t listed = 2;
  if (c.hold == Hold::kCreateCollecting) {
    EXPECT_EQ(answered, STATUS_SUCCESS);
    listed = 3;
  } else if (c.act == Act::kDriveRead && c.hold == Hold::kRemovalAtLock) {
    EXPECT_EQ(answered, STATUS_SUCCESS);
    EXPECT_TRUE(std::equal(driveBytes.begin(), driveBytes.end(), first_.begin()));
  } else {
    EXPECT_FALSE(NT_SUCCESS(answered)) << std::hex << answered;
  }
  // The snapshots on disk are as they were (the removal keeps them).
  Restorer r(Installed());
  ASSERT_TRUE(r.Loaded());
  EXPECT_EQ(r.Count(), listed);
  EXPECT_EQ(r.Restore(1, kBase, 2).bytes, first_);
}

INSTANTIATE_TEST_SUITE_P(
    RequestAgainstRemoval, RemovalRaceTest,
    ::testing::Values(RemovalCase{"CreateCollecting", Act::kCreate, Hold::kCreateCollecting},
                      RemovalCase{"CreatePassDown", Act::kCreate, Hold::kRemovalPassingDown},
                      RemovalCase{"CreateLock", Act::kCreate, Hold::kRemovalAtLock},
                      RemovalCase{"UnmountPassDown", Act::kUnmount, Hold::kRemovalPassingDown},
                      RemovalCase{"UnmountLock", Act::kUnmount, Hold::kRemovalAtLock},
                      RemovalCase{"HeaderReadPassDown", Act::kHeaderRead,
                                  Hold::kRemovalPassingDown},
                      RemovalCase{"HeaderReadLock", Act::kHeaderRead, Hold::kRemovalAtLock},
                      RemovalCase{"DriveReadPassDown", Act::kDriveRead, Hold::kRemovalPassingDown},
                      RemovalCase{"DriveReadLock", Act::kDriveRead, Hold::kRemovalAtLock},
                      RemovalCase{"MountPassDown", Act::kMount, Hold::kRemovalPassingDown},
                      RemovalCase{"MountLock", Act::kMount, Hold::kRemovalAtLock},
                      RemovalCase{"ReclaimPassDown", Act::kReclaim, Hold::kRemovalPassingDown},
                      RemovalCase{"ReclaimLock", Act::kReclaim, Hold::kRemovalAtLock}),
    [](const ::testing::TestParamInfo<RemovalCase>& p) { return std::string(p.param.name); });

// ------------------------------------------------------------ a snapshot's identity

// The worker drops snapshot 1 inside a write while drives of 1, 2 and 3 are
// mounted: the next look at the table finds each drive at its snapshot's
// number now, the dropped one's drive gone, and no second drive made.
TEST_F(RaceTest, AWorkerDropMovesTheDrivesWithTheirSnapshots) {
  ASSERT_NO_FATAL_FAILURE(Prepare(3));
  for (uint32_t n = 1; n <= 3; ++n) ASSERT_EQ(MountNumber(n, 11 + n), STATUS_SUCCESS);
  const PDEVICE_OBJECT two = DriveOf(2);
  const PDEVICE_OBJECT three = DriveOf(3);
  ASSERT_NO_FATAL_FAILURE(FillSpace());
  std::unique_ptr<Caller> writer(WriteBlock(kBase + 2, 3));
  ASSERT_EQ(writer->Join(), STATUS_SUCCESS);
  ASSERT_EQ(NumberOf(1), 0u) << "the worker dropped the oldest";

  const MountTable table = TableNow();
  EXPECT_EQ(DeviceIn(table, 0), reinterpret_cast<uint64_t>(two));
  EXPECT_EQ(DeviceIn(table, 1), reinterpret_cast<uint64_t>(three));
  EXPECT_EQ(DeviceIn(table, 2), 0u);
  EXPECT_EQ(table.Entries[2].InUse, 0);
  EXPECT_EQ(Drives(), 2u) << "the dropped snapshot's drive went";
  EXPECT_EQ(MountNumber(2, 16), STATUS_SUCCESS);
  EXPECT_EQ(Drives(), 2u) << "number 2 already has its drive";
  std::vector<uint8_t> bytes(2 * kBlockBytes);
  ASSERT_EQ(ReadSectors(two, kBase * kBlockBytes, bytes), STATUS_SUCCESS);
  EXPECT_EQ(bytes, Pattern(2 * kBlockBytes, 2)) << "snapshot 2's drive still shows snapshot 2";
  EXPECT_EQ(UnmountNumber(1), STATUS_SUCCESS);
  EXPECT_EQ(UnmountNumber(2), STATUS_SUCCESS);
  EXPECT_EQ(Drives(), 0u) << "an unmount reaches every drive";
}

// A create may not take an identity a listed snapshot has, nor none.
TEST_F(RaceTest, ACreateWithoutAFreshGuidIsRefused) {
  ASSERT_NO_FATAL_FAILURE(Prepare(2));
  const struct {
    const char* name;
    RecordGuid guid;
    uint32_t second;  // creation time
  } cases[] = {
      {"zero", RecordGuid{}, 9},
      {"the oldest's, at another time", GuidFor(1), 9},
      {"the newest's, at its time", GuidFor(2), 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> in = VolumeRequestFor();
    const RecordTime time = TimeFor(c.second);
    std::memcpy(&in[offsetof(VolumeRequest, SnapshotGuid)], &c.guid, sizeof c.guid);
    std::memcpy(&in[offsetof(VolumeRequest, CreateTime)], &time, sizeof time);
    EXPECT_EQ(Send(IOCTL_ENGINE_CREATE_SNAPSHOT, in, 0).status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(Ext()->Header->SnapshotCount, 2);
    EXPECT_EQ(Ext()->ChangeInProgress, 0);
  }
  EXPECT_EQ(CreateWithIdentity(3), STATUS_SUCCESS);
  EXPECT_EQ(Ext()->Header->SnapshotCount, 3);
}

// A header read, then changes the client did not see (a create, or a
// removal and a create that reuses the freed slot), then the client's
// header write with snapshot 3 renamed: the name lands on snapshot 3
// wherever it is now, and every other snapshot keeps its own.
enum class Unseen { kCreate, kWorkerDrop, kDeleteMiddle, kDeleteOldest };
struct StaleCase {
  const char* name;
  Unseen change;
};
class StaleHeaderTest : public RaceTest, public ::testing::WithParamInterface<StaleCase> {};

TEST_P(StaleHeaderTest, TheClientsNamesLandOnTheSnapshotsItRead) {
  ASSERT_NO_FATAL_FAILURE(Prepare(3));
  const std::vector<uint8_t> stale = RenamedHeader(3, "renamed");
  std::set<uint32_t> listed = {1, 2, 3};
  switch (GetParam().change) {
    case Unseen::kCreate:
      ASSERT_EQ(CreateWithIdentity(4), STATUS_SUCCESS);
      listed.insert(4);
      break;
    case Unseen::kWorkerDrop: {
      ASSERT_NO_FATAL_FAILURE(FillSpace());
      std::unique_ptr<Caller> writer(WriteBlock(kBase + 2, 3));
      ASSERT_EQ(writer->Join(), STATUS_SUCCESS);
      listed.erase(1);
      break;
    }
    case Unseen::kDeleteMiddle:
    case Unseen::kDeleteOldest: {
      const uint32_t number = GetParam().change == Unseen::kDeleteMiddle ? 2 : 1;
      std::vector<uint8_t> in = VolumeRequestFor();
      SetU32(in, offsetof(VolumeRequest, SnapshotNumber), number);
      ASSERT_EQ(Send(IOCTL_ENGINE_DELETE_SNAPSHOT, in, 0).status, STATUS_SUCCESS);
      listed.erase(number);
      break;
    }
  }
  if (GetParam().change != Unseen::kCreate) {
    // The slot the removal freed takes the newest's descriptor.
    ASSERT_EQ(CreateWithIdentity(4), STATUS_SUCCESS);
    listed.insert(4);
  }
  ASSERT_EQ(Send(IOCTL_ENGINE_WRITE_HEADER, stale, 0).status, STATUS_SUCCESS);
  Restorer r(Installed());
  ASSERT_EQ(r.Count(), listed.size());
  for (uint32_t serial : listed) {
    SCOPED_TRACE("snapshot " + std::to_string(serial));
    const uint32_t number = NumberOf(serial);
    ASSERT_NE(number, 0u);
    ASSERT_NE(r.Descriptor(number), nullptr);
    const std::string own = "snap " + std::to_string(serial);
    EXPECT_EQ(std::string(r.Descriptor(number)->Name), serial == 3 ? "renamed" : own);
  }
  EXPECT_EQ(std::memcmp(Ext()->Header, HeaderOnDisk().data(), kEngineHeaderBytes), 0)
      << "the live header is the one written";
}

INSTANTIATE_TEST_SUITE_P(
    StaleHeaderWrites, StaleHeaderTest,
    ::testing::Values(StaleCase{"AfterCreate", Unseen::kCreate},
                      StaleCase{"AfterWorkerDropAndCreate", Unseen::kWorkerDrop},
                      StaleCase{"AfterDeleteMiddleAndCreate", Unseen::kDeleteMiddle},
                      StaleCase{"AfterDeleteOldestAndCreate", Unseen::kDeleteOldest}),
    [](const ::testing::TestParamInfo<StaleCase>& p) { return std::string(p.param.name); });

// The rollback names its target by identity: after a drop the client did
// not see, number 2 is snapshot 3, but the target is still snapshot 2.
TEST_F(RaceTest, ARollbackByIdentityAfterADropTargetsTheSnapshotNamed) {
  ASSERT_NO_FATAL_FAILURE(Prepare(3));
  ASSERT_NO_FATAL_FAILURE(FillSpace());
  std::unique_ptr<Caller> writer(WriteBlock(kBase + 2, 3));
  ASSERT_EQ(writer->Join(), STATUS_SUCCESS);
  ASSERT_EQ(NumberOf(2), 1u);
  std::vector<uint8_t> in = RollbackRequestFor(1, 2);
  const RecordGuid guid = GuidFor(2);
  const RecordTime time = TimeFor(2);
  std::memcpy(&in[offsetof(RollbackRequest, TargetGuid)], &guid, sizeof guid);
  std::memcpy(&in[offsetof(RollbackRequest, TargetCreateTime)], &time, sizeof time);
  ASSERT_EQ(Send(IOCTL_ENGINE_SET_ROLLBACK, in, 0).status, STATUS_SUCCESS);
  EXPECT_EQ(HeaderRecord().RollbackPending, 1);
  EXPECT_EQ(HeaderRecord().RollbackTarget, 1u);
  EXPECT_EQ(Send(IOCTL_ENGINE_SET_ROLLBACK, RollbackRequestFor(0, 0), 0).status, STATUS_SUCCESS);
}

}  // namespace
}  // namespace vh::test

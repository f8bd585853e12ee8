// Snapshot creation, copy-on-write and deletion on an installed machine,
// checked through the restorer (the on-disk maps alone) and the engine's
// state.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "bitmap_bits.h"
#include "engine_header.h"
#include "engine_lock.h"
#include "passthrough.h"
#include "run_table.h"
#include "snapshot_create.h"
#include "snapshot_delete.h"
#include "snapshot_fixture.h"

namespace vh::test {
namespace {

// Blocks well past the engine area and the system files, free on the
// installed volume unless a test allocates them.
constexpr uint64_t kBase = 28000;

std::vector<uint8_t> Pattern(size_t bytes, uint8_t seed) {
  std::vector<uint8_t> out(bytes);
  for (size_t i = 0; i < bytes; ++i) out[i] = static_cast<uint8_t>(seed * 31 + i * 7 + (i >> 9));
  return out;
}

std::vector<uint8_t> VolumeBytes(Installation& installed, uint64_t block, uint64_t blocks) {
  std::vector<uint8_t> out(blocks * kBlockBytes);
  installed.volume->Read(block * kBlockBytes, static_cast<uint32_t>(out.size()), out.data());
  return out;
}

uint32_t LiveEntry(Installation& installed, uint64_t block) {
  Restorer r(installed);
  std::vector<uint32_t> e;
  EXPECT_TRUE(r.MapEntries(r.Count(), block, 1, &e));
  return e.empty() ? 0 : e[0];
}

class SnapshotUnitTest : public SnapshotTest {};

TEST_F(SnapshotUnitTest, FirstSnapshotStampsFreeBlocksAndCopiesTheOthersOnce) {
  ASSERT_NO_FATAL_FAILURE(BootMachine());
  ASSERT_NO_FATAL_FAILURE(AllocateBlocks(kBase, 2));  // kBase, kBase+1 in use; kBase+2 free
  std::vector<uint8_t> before = Pattern(3 * kBlockBytes, 1);
  ASSERT_EQ(Installed().volume->Write(kBase * kBlockBytes, 3 * kBlockBytes, before.data()).status,
            storage::kStatusSuccess);
  ASSERT_EQ(Create(1), STATUS_SUCCESS);
  const EngineHeader& h = *Ext()->Header;
  EXPECT_EQ(h.SnapshotCount, 1);
  EXPECT_EQ(h.CountCopy, 1);
  EXPECT_EQ(h.NewestSnapshot.Number, 1);
  EXPECT_EQ(h.NewestSnapshot.Signature, kRecordSignature);
  EXPECT_EQ(h.NewestSnapshot.SavedMapSector, h.BlockMapFirst);
  EXPECT_EQ(LiveEntry(Installed(), kBase), 0u);
  EXPECT_EQ(LiveEntry(Installed(), kBase + 2), kMapEntryFree);

  // One sector into each block: the used block is saved whole, once; the
  // free one is not saved at all.
  const uint32_t freeBefore = Ext()->FreeSectors;
  std::vector<uint8_t> sector = Pattern(512, 9);
  ASSERT_EQ(Write(kBase * kBlockBytes + 512 * 5, sector), STATUS_SUCCESS);
  ASSERT_EQ(Write((kBase + 2) * kBlockBytes, sector), STATUS_SUCCESS);
  EXPECT_EQ(Ext()->FreeSectors, freeBefore - 64);
  const uint32_t entry = LiveEntry(Installed(), kBase);
  EXPECT_GE(entry, 64u);
  EXPECT_EQ(LiveEntry(Installed(), kBase + 2), kMapEntryFree);
  ASSERT_EQ(Write(kBase * kBlockBytes + 512 * 9, sector), STATUS_SUCCESS);
  EXPECT_EQ(LiveEntry(Installed(), kBase), entry);
  EXPECT_EQ(Ext()->FreeSectors, freeBefore - 64);

  Restorer r(Installed());
  RestoredWindow w = r.Restore(1, kBase, 3);
  ASSERT_EQ(w.fault, "");
  EXPECT_TRUE(std::equal(before.begin(), before.begin() + 2 * kBlockBytes, w.bytes.begin()));
  EXPECT_EQ(w.free, (std::vector<bool>{false, false, true}));
  EXPECT_EQ(r.Referenced(), r.BitmapInUse());
}

// A first write costs the copy and one sector each of the space bitmap and
// the live map, not the whole bitmap and a 16 KB piece of the map: both
// grow with the volume. The reads are the map sector and the old block.
TEST_F(SnapshotUnitTest, AFirstWriteWritesOnlyTheChangedBitmapAndMapSectors) {
  ASSERT_NO_FATAL_FAILURE(BootMachine());
  ASSERT_NO_FATAL_FAILURE(AllocateBlocks(kBase, 1));
  ASSERT_EQ(Create(1), STATUS_SUCCESS);
  ASSERT_GT(Ext()->SpaceBitmapBytes, 512u) << "a bitmap of one sector shows nothing";
  std::vector<std::pair<bool, uint32_t>> transfers;  // (write, length), flushes left out
  Disk0().HoldTransfer(
      [&transfers](const storage::Disk::TransferInfo& t) {
        // The space guard's one start-up read of the header runs on its own
        // thread and may land at any time; it is no part of the write.
        const bool guardRead = !t.write && t.length == vh::kEngineHeaderBytes;
        if (!t.flush && !guardRead) transfers.emplace_back(t.write, t.length);
        return false;
      },
      1);
  std::vector<uint8_t> sector = Pattern(512, 3);
  ASSERT_EQ(Write(kBase * kBlockBytes, sector), STATUS_SUCCESS);
  Disk0().HoldTransfer([](const storage::Disk::TransferInfo&) { return false; }, 1);
  std::sort(transfers.begin(), transfers.end());
  const std::vector<std::pair<bool, uint32_t>> expected = {{false, 512}, {false, kBlockBytes},
                                                           {true, 512},  {true, 512},
                                                           {true, 512},  {true, kBlockBytes}};
  EXPECT_EQ(transfers, expected);
  Restorer r(Installed());
  EXPECT_EQ(r.BitmapInUse(), r.Referenced());
}

// ------------------------------------------------------------ queued first writes

class QueuedWritesTest : public SnapshotTest {
 protected:
  // Four blocks in use, snapshot 1 over them.
  void Prepare() {
    ASSERT_NO_FATAL_FAILURE(BootMachine());
    ASSERT_NO_FATAL_FAILURE(AllocateBlocks(kBase, 4));
    ASSERT_EQ(Create(1), STATUS_SUCCESS);
    before_ = VolumeBytes(Installed(), kBase, 4);
  }
  // (block, seed) for each write, queued together in this order.
  std::vector<NTSTATUS> WriteBlocks(const std::vector<std::pair<uint64_t, uint8_t>>& blocks) {
    std::vector<std::pair<uint64_t, std::vector<uint8_t>>> writes;
    writes.reserve(blocks.size());
    for (const auto& [block, seed] : blocks)
      writes.emplace_back(block * kBlockBytes, Pattern(kBlockBytes, seed));
    return WriteQueuedTogether(std::move(writes));
  }

  std::vector<uint8_t> before_;  // blocks kBase .. kBase + 3 at snapshot 1
};

// First writes queued together share one commit: every copy and its bitmap
// sector, one flush, the one map sector they all lie in, one more flush,
// then the writes in queue order. A block written twice is copied once,
// before either write, and holds the later write's data.
TEST_F(QueuedWritesTest, ShareOneCommitAndLandInQueueOrder) {
  ASSERT_NO_FATAL_FAILURE(Prepare());
  const uint64_t mapByte = EngineDiskByte(Ext()->Header->BlockMapFirst + kBase / 128);
  ASSERT_EQ(kBase / 128, (kBase + 3) / 128) << "the four entries share a map sector";
  std::vector<storage::Disk::TransferInfo> transfers;
  Disk0().HoldTransfer(
      [&transfers](const storage::Disk::TransferInfo& t) {
        // The space guard's one start-up read of the header is no part of it.
        if (t.flush || t.write || t.length != vh::kEngineHeaderBytes) transfers.push_back(t);
        return false;
      },
      1);
  const std::vector<std::pair<uint64_t, uint8_t>> order = {
      {kBase, 1}, {kBase + 1, 2}, {kBase + 2, 3}, {kBase, 4}, {kBase + 3, 5}};
  for (NTSTATUS answer : WriteBlocks(order)) EXPECT_EQ(answer, STATUS_SUCCESS);
  Disk0().HoldTransfer([](const storage::Disk::TransferInfo&) { return false; }, 1);

  std::vector<size_t> flushes;
  for (size_t i = 0; i < transfers.size(); ++i) {
    if (transfers[i].flush) flushes.push_back(i);
  }
  ASSERT_EQ(flushes.size(), 2u) << "one flush pair for the whole batch";
  size_t copies = 0;
  for (size_t i = 0; i < flushes[0]; ++i) {
    const storage::Disk::TransferInfo& t = transfers[i];
    if (!t.write) continue;
    EXPECT_NE(t.byteOffset, mapByte) << "the map was written before its copies were durable";
    for (uint64_t b = kBase; b < kBase + 4; ++b)
      EXPECT_NE(t.byteOffset, VolumeDiskByte(b)) << "a write went down before its commit";
    if (t.length == kBlockBytes) ++copies;
  }
  EXPECT_EQ(copies, 4u) << "one copy per block, the block written twice included";
  ASSERT_EQ(flushes[1], flushes[0] + 2) << "the map alone between the flushes";
  EXPECT_TRUE(transfers[flushes[0] + 1].write);
  EXPECT_EQ(transfers[flushes[0] + 1].byteOffset, mapByte);
  EXPECT_EQ(transfers[flushes[0] + 1].length, 512u);
  std::vector<uint64_t> landed;
  for (size_t i = flushes[1] + 1; i < transfers.size(); ++i) {
    if (transfers[i].write) landed.push_back(transfers[i].byteOffset);
  }
  std::vector<uint64_t> queued;
  queued.reserve(order.size());
  for (const auto& write : order) queued.push_back(VolumeDiskByte(write.first));
  EXPECT_EQ(landed, queued);

  EXPECT_EQ(VolumeBytes(Installed(), kBase, 1), Pattern(kBlockBytes, 4));
  EXPECT_EQ(VolumeBytes(Installed(), kBase + 3, 1), Pattern(kBlockBytes, 5));
  Restorer r(Installed());
  EXPECT_EQ(r.Restore(1, kBase, 4).bytes, before_);
  EXPECT_EQ(r.BitmapInUse(), r.Referenced());
  for (uint64_t b = kBase; b < kBase + 4; ++b)
    EXPECT_TRUE(RtlTestBit(&Ext()->SavedBlocks, static_cast<ULONG>(b)));
}

// The worker keeps the live map sectors its commits wrote: a later first
// write in the same sector reads no map. A new snapshot starts a fresh live
// map, so the next first write reads it again and is copied for it.
TEST_F(QueuedWritesTest, KeptMapSectorsSpareTheMapReadUntilTheSnapshotsChange) {
  ASSERT_NO_FATAL_FAILURE(Prepare());
  const uint64_t mapByte = EngineDiskByte(Ext()->Header->BlockMapFirst + kBase / 128);
  auto mapReads = [&](uint64_t block, uint8_t seed) {
    std::atomic<int> reads{0};
    Disk0().HoldTransfer(
        [&reads, mapByte](const storage::Disk::TransferInfo& t) {
          if (!t.flush && !t.write && t.byteOffset == mapByte) ++reads;
          return false;
        },
        1);
    std::vector<uint8_t> data = Pattern(kBlockBytes, seed);
    EXPECT_EQ(Write(block * kBlockBytes, data), STATUS_SUCCESS);
    Disk0().HoldTransfer([](const storage::Disk::TransferInfo&) { return false; }, 1);
    return reads.load();
  };
  EXPECT_EQ(mapReads(kBase, 1), 1) << "the first write reads its map sector";
  EXPECT_EQ(mapReads(kBase + 1, 2), 0) << "the sector the last commit wrote is read again";
  ASSERT_EQ(Create(2), STATUS_SUCCESS);
  EXPECT_EQ(mapReads(kBase + 1, 3), 1) << "the fresh live map is not read";
  Restorer r(Installed());
  EXPECT_EQ(r.Restore(1, kBase, 4).bytes, before_);
  EXPECT_EQ(r.Restore(2, kBase + 1, 1).bytes, Pattern(kBlockBytes, 2));
  EXPECT_EQ(r.BitmapInUse(), r.Referenced());
}

// A copy that fails in the middle of a batch: the newest snapshot needs it
// and cannot go alone, so every snapshot goes, and every write of the batch
// (those whose copies were made too) lands and is answered.
TEST_F(QueuedWritesTest, AFailedCopyInTheMiddleDiscardsEverySnapshotAndEveryWriteLands) {
  ASSERT_NO_FATAL_FAILURE(Prepare());
  // The map sector, then per write its old block and its copy: the fifth
  // transfer is the second write's copy.
  const uint64_t start = Disk0().TransferCount();
  Disk0().FailTransfer(5);
  const std::vector<NTSTATUS> answers = WriteBlocks({{kBase, 1}, {kBase + 1, 2}, {kBase + 2, 3}});
  EXPECT_GE(Disk0().TransferCount() - start, 5u) << "the fault was not reached";
  Disk0().FailTransfer(0);
  for (NTSTATUS answer : answers) EXPECT_EQ(answer, STATUS_SUCCESS);
  EXPECT_EQ(Ext()->Header->SnapshotCount, 0u);
  EXPECT_EQ(Restorer(Installed()).Count(), 0u);
  for (uint8_t i = 0; i < 3; ++i)
    EXPECT_EQ(VolumeBytes(Installed(), kBase + i, 1), Pattern(kBlockBytes, i + 1));
}

TEST_F(SnapshotUnitTest, EngineLoadsItsSnapshotsAgainAfterARestart) {
  ASSERT_NO_FATAL_FAILURE(BootMachine());
  ASSERT_NO_FATAL_FAILURE(AllocateBlocks(kBase, 4));
  std::vector<uint8_t> first = Pattern(kBlockBytes, 3);
  ASSERT_EQ(Write(kBase * kBlockBytes, first), STATUS_SUCCESS);
  ASSERT_EQ(Create(1), STATUS_SUCCESS);
  std::vector<uint8_t> second = Pattern(kBlockBytes, 4);
  ASSERT_EQ(Write(kBase * kBlockBytes, second), STATUS_SUCCESS);
  ASSERT_EQ(Create(2), STATUS_SUCCESS);
  ASSERT_NO_FATAL_FAILURE(Reboot());
  ASSERT_NE(Ext()->Header, nullptr);
  EXPECT_EQ(Ext()->Header->SnapshotCount, 2);
  EXPECT_EQ(Ext()->EngineMode, static_cast<ULONG>(EngineModeTracking));
  std::vector<uint8_t> third = Pattern(kBlockBytes, 5);
  ASSERT_EQ(Write(kBase * kBlockBytes, third), STATUS_SUCCESS);
  Restorer r(Installed());
  EXPECT_EQ(r.Restore(1, kBase, 1).bytes, first);
  EXPECT_EQ(r.Restore(2, kBase, 1).bytes, second);
  EXPECT_EQ(VolumeBytes(Installed(), kBase, 1), third);
}

// ------------------------------------------------------------ marking

struct MarkCase {
  const char* name;
  uint64_t clusterOffset;  // from the first cluster of block kBase
  uint32_t clusters;
  int marked;  // blocks marked from kBase on
};

class MarkFreeRunTest : public SnapshotTest, public ::testing::WithParamInterface<MarkCase> {};

TEST_P(MarkFreeRunTest, MarksOnlyWholeBlocksOfTheRun) {
  const MarkCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(BootMachine());
  ASSERT_NO_FATAL_FAILURE(AllocateBlocks(kBase, 4));
  ASSERT_EQ(Create(1), STATUS_SUCCESS);
  RtlClearAllBits(&Ext()->MarkedBlocks);
  ASSERT_EQ(MarkFreeRunBlocks(Device(), nullptr, kBase * 8 + c.clusterOffset, c.clusters),
            STATUS_SUCCESS);
  int marked = 0;
  for (uint64_t b = kBase; b < kBase + 4; ++b)
    marked += RtlTestBit(&Ext()->MarkedBlocks, static_cast<ULONG>(b));
  EXPECT_EQ(marked, c.marked);
  EXPECT_EQ(RtlNumberOfSetBits(&Ext()->MarkedBlocks), static_cast<ULONG>(c.marked));
}

INSTANTIATE_TEST_SUITE_P(Runs, MarkFreeRunTest,
                         ::testing::Values(MarkCase{"OneBlockOnItsBoundary", 0, 8, 1},
                                           MarkCase{"OneClusterLater", 1, 8, 0},
                                           MarkCase{"TooShort", 0, 7, 0},
                                           MarkCase{"TwoBlocksAndABit", 0, 19, 2},
                                           MarkCase{"UnalignedLongRun", 3, 21, 2}),
                         [](const ::testing::TestParamInfo<MarkCase>& param) {
                           return std::string(param.param.name);
                         });

// A run over several words of the bitmaps, starting and ending inside one:
// every block of it is marked but those not free at the previous snapshot,
// saved, or written since the collection; nothing outside it.
TEST_F(SnapshotUnitTest, ALongRunIsMarkedAcrossWordsButForTheBlocksItMustKeep) {
  ASSERT_NO_FATAL_FAILURE(BootMachine());
  ASSERT_NO_FATAL_FAILURE(AllocateBlocks(kBase, 4));
  ASSERT_EQ(Create(1), STATUS_SUCCESS);
  PVolumeFilterExtension ext = Ext();
  ASSERT_NE(ext->WrittenBlocksBuffer, nullptr);
  RtlClearAllBits(&ext->MarkedBlocks);
  RtlClearAllBits(&ext->SavedBlocks);
  RtlClearAllBits(&ext->WrittenBlocks);
  std::vector<ULONG> previousBits(ext->MarkedBlocksBytes / sizeof(ULONG), ~0u);
  RTL_BITMAP previous;
  RtlInitializeBitMap(&previous, previousBits.data(), ext->MarkedBlocksBytes * 8);
  const auto first = static_cast<ULONG>(kBase + 5);
  const ULONG blocks = 100;
  RtlClearBits(&previous, first + 40, 1);
  RtlSetBits(&ext->SavedBlocks, first + 33, 1);
  RtlSetBits(&ext->WrittenBlocks, first + 70, 1);
  ASSERT_EQ(MarkFreeRunBlocks(Device(), &previous, static_cast<ULONGLONG>(first) * 8, blocks * 8),
            STATUS_SUCCESS);
  EXPECT_EQ(RtlNumberOfSetBits(&ext->MarkedBlocks), blocks - 3);
  for (ULONG kept : {first + 33, first + 40, first + 70, first - 1, first + blocks})
    EXPECT_FALSE(RtlTestBit(&ext->MarkedBlocks, kept)) << kept - first;
  for (ULONG marked : {first, first + 26, first + 27, first + blocks - 1})
    EXPECT_TRUE(RtlTestBit(&ext->MarkedBlocks, marked)) << marked - first;
}

TEST_F(SnapshotUnitTest, ABlockFreedAfterTheFirstSnapshotIsNotMarkedAtTheSecond) {
  ASSERT_NO_FATAL_FAILURE(BootMachine());
  ASSERT_NO_FATAL_FAILURE(AllocateBlocks(kBase, 1));
  ASSERT_EQ(Create(1), STATUS_SUCCESS);
  EXPECT_EQ(LiveEntry(Installed(), kBase), 0u);
  EXPECT_EQ(LiveEntry(Installed(), kBase + 1), kMapEntryFree);
  ASSERT_NO_FATAL_FAILURE(FreeBlocks(kBase, 1));
  ASSERT_EQ(Create(2), STATUS_SUCCESS);
  // Free now, but its content at snapshot 1 is still needed.
  EXPECT_EQ(LiveEntry(Installed(), kBase), 0u);
  EXPECT_EQ(LiveEntry(Installed(), kBase + 1), kMapEntryFree);
  // No saved copy and no map change: the space stays as it was. (Counting
  // disk transfers instead would also count the engine threads' own
  // periodic work on a slow host.)
  const ULONG freeBefore = Ext()->FreeSectors;
  std::vector<uint8_t> data = Pattern(kBlockBytes, 2);
  ASSERT_EQ(Write((kBase + 1) * kBlockBytes, data), STATUS_SUCCESS);
  EXPECT_EQ(Ext()->FreeSectors, freeBefore)
      << "a write into a free-at-snapshot block saves nothing";
  EXPECT_EQ(LiveEntry(Installed(), kBase + 1), kMapEntryFree);
  ASSERT_EQ(Write(kBase * kBlockBytes, data), STATUS_SUCCESS);
  EXPECT_GE(LiveEntry(Installed(), kBase), 64u);
  EXPECT_EQ(Ext()->FreeSectors, freeBefore - 64) << "the block still needed was saved";
}

// The file system may take free clusters and fill them between the free-
// space collection and the freeze (the engine lock is not held while the
// bitmap is read). Those blocks hold data at the snapshot and are kept.
TEST_F(SnapshotUnitTest, BlocksFilledWhileFreeSpaceIsCollectedAreKept) {
  for (const bool first : {true, false}) {
    SCOPED_TRACE(first ? "first snapshot" : "second snapshot");
    ASSERT_NO_FATAL_FAILURE(BootMachine());
    if (!first) {
      ASSERT_EQ(Create(1), STATUS_SUCCESS);
    }
    PVolumeFilterExtension volume = Ext();
    if (volume->Header == nullptr) {
      ASSERT_EQ(LoadEngineHeader(Device()), STATUS_SUCCESS);
    }
    ASSERT_EQ(CollectFreeRuns(Device()), STATUS_SUCCESS);
    // Free when collected; allocated and written before the freeze.
    ASSERT_NO_FATAL_FAILURE(AllocateBlocks(kBase, 1));
    std::vector<uint8_t> filled = Pattern(kBlockBytes, 11);
    ASSERT_EQ(Write(kBase * kBlockBytes, filled), STATUS_SUCCESS);
    VolumeRequest request{};
    request.SnapshotGuid = GuidFor(2);
    EngineLock();
    PauseVolumeWorker(volume, 1);
    ASSERT_EQ(TakeSnapshot(Device(), &request), STATUS_SUCCESS);
    PauseVolumeWorker(volume, 0);
    EngineUnlock();
    FreeRunTable(&volume->FreeRuns);
    EXPECT_EQ(LiveEntry(Installed(), kBase), 0u);
    EXPECT_EQ(LiveEntry(Installed(), kBase + 1),
              kMapEntryFree);  // untouched neighbours still need no copy
    std::vector<uint8_t> later = Pattern(kBlockBytes, 12);
    ASSERT_EQ(Write(kBase * kBlockBytes, later), STATUS_SUCCESS);
    Restorer r(Installed());
    RestoredWindow w = r.Restore(r.Count(), kBase, 1);
    ASSERT_EQ(w.fault, "");
    EXPECT_FALSE(w.free[0]);
    EXPECT_EQ(w.bytes, filled);
    TearDown();
    SetUp();
  }
}

// A create that fails before its header commits changes nothing: the
// snapshots there are stay, in memory and on disk.
TEST_F(SnapshotUnitTest, NoFreeSlotFailsTheCreateAndKeepsEverySnapshot) {
  ASSERT_NO_FATAL_FAILURE(BootMachine());
  ASSERT_NO_FATAL_FAILURE(AllocateBlocks(kBase, 1));
  std::vector<uint8_t> before = Pattern(kBlockBytes, 3);
  ASSERT_EQ(Installed().volume->Write(kBase * kBlockBytes, kBlockBytes, before.data()).status,
            storage::kStatusSuccess);
  ASSERT_EQ(Create(1), STATUS_SUCCESS);
  ASSERT_EQ(Create(2), STATUS_SUCCESS);
  for (SnapshotSlot& slot : Ext()->Header->Slots) {
    if (slot.Used == 0) slot.Used = 2;  // taken, but by nothing listed
  }
  EXPECT_EQ(Create(3), STATUS_UNSUCCESSFUL);
  for (SnapshotSlot& slot : Ext()->Header->Slots) {
    if (slot.Used == 2) slot.Used = 0;
  }
  EXPECT_EQ(Ext()->Header->SnapshotCount, 2);
  Restorer r(Installed());
  EXPECT_EQ(r.Count(), 2u);
  // Snapshot 2 still saves the block before it changes.
  std::vector<uint8_t> after = Pattern(kBlockBytes, 4);
  ASSERT_EQ(Write(kBase * kBlockBytes, after), STATUS_SUCCESS);
  Restorer later(Installed());
  EXPECT_EQ(later.Restore(2, kBase, 1).bytes, before);
  EXPECT_EQ(later.Referenced(), later.BitmapInUse());
}

// ------------------------------------------------------------ copy-on-write

TEST_F(SnapshotUnitTest, PassThroughSectorsKeepTheirNewestDataInTheSavedCopy) {
  ASSERT_NO_FATAL_FAILURE(BootMachine());
  ASSERT_NO_FATAL_FAILURE(AllocateBlocks(kBase, 2));
  std::vector<uint8_t> before = Pattern(2 * kBlockBytes, 6);
  ASSERT_EQ(Installed().volume->Write(kBase * kBlockBytes, 2 * kBlockBytes, before.data()).status,
            storage::kStatusSuccess);
  ASSERT_EQ(Create(1), STATUS_SUCCESS);
  const ULONG pinnedFirst = static_cast<ULONG>(kBase * 64 + 10);
  ASSERT_EQ(AddPassThroughRange(&Ext()->PassThroughList, pinnedFirst, pinnedFirst + 10),
            STATUS_SUCCESS);
  std::vector<uint8_t> after = Pattern(2 * kBlockBytes, 7);
  ASSERT_EQ(Write(kBase * kBlockBytes, after), STATUS_SUCCESS);
  Restorer r(Installed());
  RestoredWindow w = r.Restore(1, kBase, 2);
  ASSERT_EQ(w.fault, "");
  std::vector<uint8_t> expected = before;
  std::copy(after.begin() + 10 * 512, after.begin() + 21 * 512, expected.begin() + 10 * 512);
  EXPECT_EQ(w.bytes, expected);
  EXPECT_EQ(VolumeBytes(Installed(), kBase, 2), after);
}

TEST_F(SnapshotUnitTest, TheLastBlockIsSavedWithZerosPastTheVolumeEnd) {
  ASSERT_NO_FATAL_FAILURE(BootMachine());
  // NTFS counts one sector less than the partition: the engine's volume
  // ends one sector before the last block does.
  const uint64_t last = Installed().volume->SectorCount() / 64 - 1;
  std::vector<uint8_t> before = Pattern(kBlockBytes, 8);
  ASSERT_EQ(Installed().volume->Write(last * kBlockBytes, kBlockBytes, before.data()).status,
            storage::kStatusSuccess);
  ASSERT_EQ(Create(1), STATUS_SUCCESS);
  RtlClearBits(&Ext()->MarkedBlocks, static_cast<ULONG>(last), 1);  // whatever the file system says
  std::vector<uint8_t> sector = Pattern(512, 9);
  ASSERT_EQ(Write(last * kBlockBytes, sector), STATUS_SUCCESS);
  Restorer r(Installed());
  std::vector<uint32_t> entry;
  ASSERT_TRUE(r.MapEntries(1, last, 1, &entry));
  ASSERT_GE(entry[0], 64u);
  std::vector<uint8_t> copy(kBlockBytes);
  ASSERT_TRUE(r.ReadCopy(entry[0], copy.data()));
  const uint64_t kept = (Ext()->TotalVolumeSectors - last * 64) * 512;
  EXPECT_TRUE(std::equal(before.begin(), before.begin() + kept, copy.begin()));
  EXPECT_TRUE(std::all_of(copy.begin() + kept, copy.end(), [](uint8_t v) { return v == 0; }));
}

TEST_F(SnapshotUnitTest, ASaveThatReachesTheLowWaterMarkDropsTheOldest) {
  ASSERT_NO_FATAL_FAILURE(BootMachine(Options(524288 - 64)));
  ASSERT_NO_FATAL_FAILURE(AllocateBlocks(kBase, 2));
  ASSERT_EQ(Create(1), STATUS_SUCCESS);
  ASSERT_EQ(Create(2), STATUS_SUCCESS);
  std::vector<uint8_t> data = Pattern(512, 1);
  ASSERT_EQ(Write(kBase * kBlockBytes, data), STATUS_SUCCESS);
  EXPECT_EQ(Ext()->Header->SnapshotCount, 1);
  EXPECT_EQ(Ext()->Header->Slots[0].Used, 0);
  Restorer r(Installed());
  EXPECT_EQ(r.Descriptor(1)->Guid.Data1, GuidFor(2).Data1);
  EXPECT_EQ(r.Referenced(), r.BitmapInUse());
  EXPECT_EQ(Ext()->FreeSectors, 524288u - 64);
}

// The space runs out inside a write: the oldest snapshot goes, the search
// runs again, and a later failure of the same request gives back only what
// this request took. The bitmap and the free count then describe exactly
// the copies the remaining maps name.
TEST_F(SnapshotUnitTest, ADropInsideAWriteKeepsTheBitmapExact) {
  struct Case {
    const char* name;
    uint64_t failTransfer;  // 0: none
    bool dropMidPiece;      // the first block takes the last free space block
  };
  for (const Case& c : {Case{"retry succeeds", 0, false}, Case{"second copy fails", 17, false},
                        Case{"drop after the piece's first copy", 0, true}}) {
    SCOPED_TRACE(c.name);
    ASSERT_NO_FATAL_FAILURE(BootMachine());
    ASSERT_NO_FATAL_FAILURE(AllocateBlocks(kBase, 4));
    ASSERT_EQ(Create(1), STATUS_SUCCESS);
    std::vector<uint8_t> first = Pattern(2 * kBlockBytes, 1);
    ASSERT_EQ(Write(kBase * kBlockBytes, first), STATUS_SUCCESS);  // snapshot 1 holds two copies
    ASSERT_EQ(Create(2), STATUS_SUCCESS);
    if (c.dropMidPiece) {
      // One block left, where the second block's search starts: the first
      // block takes it, the second finds the space full and drops the
      // oldest. The rebuilt bitmap knows nothing of the piece's own copy
      // until the drop marks it again; without that the second copy lands
      // on the first.
      LeaveOneSpaceBlockFor(kBase + 3);
    } else {
      RtlSetAllBits(&Ext()->SpaceBitmap);  // the space is full
    }
    const std::vector<uint8_t> old = VolumeBytes(Installed(), kBase + 2, 2);
    if (c.failTransfer) Disk0().FailTransfer(c.failTransfer);
    std::vector<uint8_t> second = Pattern(2 * kBlockBytes, 2);
    ASSERT_EQ(Write((kBase + 2) * kBlockBytes, second), STATUS_SUCCESS);
    // A copy that fails leaves no snapshot that needed it: the newest
    // always does, and it cannot go alone, so all of them go.
    EXPECT_EQ(Ext()->Header->SnapshotCount, c.failTransfer ? 0 : 1);
    Restorer r(Installed());
    EXPECT_EQ(r.Count(), c.failTransfer ? 0u : 1u);
    const std::set<uint32_t> referenced = r.Referenced();
    EXPECT_EQ(referenced.size(), c.failTransfer ? 0u : 2u);
    std::set<uint32_t> inMemory;
    for (ULONG i = 0; i < Ext()->SpaceBitmap.SizeOfBitMap; ++i) {
      if (RtlTestBit(&Ext()->SpaceBitmap, i)) inMemory.insert(i);
    }
    EXPECT_EQ(inMemory, referenced);
    if (c.failTransfer == 0) {
      EXPECT_EQ(Ext()->FreeSectors, (Ext()->SpaceBitmap.SizeOfBitMap - referenced.size()) * 64);
      EXPECT_EQ(r.BitmapInUse(), referenced);
      EXPECT_EQ(r.Restore(1, kBase, 2).bytes, first);
      EXPECT_EQ(r.Restore(1, kBase + 2, 2).bytes, old);
    }
    EXPECT_EQ(VolumeBytes(Installed(), kBase + 2, 2), second);
    TearDown();
    SetUp();
  }
}

// ------------------------------------------------------------ deletion

struct DeleteCase {
  const char* name;
  uint32_t count;
  uint32_t deleted;
};

class DeleteMergeTest : public SnapshotTest, public ::testing::WithParamInterface<DeleteCase> {};

// Block X changes before and after snapshot N; block Y only after it. The
// older neighbour keeps its own copy of X and takes N's copy of Y; every
// remaining snapshot still shows what it showed.
TEST_P(DeleteMergeTest, MergesIntoTheOlderMapAndReleasesWhatItCovers) {
  const DeleteCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(BootMachine());
  const uint64_t x = kBase;  // and Y = kBase + 1
  ASSERT_NO_FATAL_FAILURE(AllocateBlocks(kBase, 2));
  std::vector<std::vector<uint8_t>> views;  // the window at each snapshot
  for (uint32_t n = 1; n <= c.count; ++n) {
    if (n == c.deleted) {
      std::vector<uint8_t> d = Pattern(kBlockBytes, static_cast<uint8_t>(40 + n));
      ASSERT_EQ(Write(x * kBlockBytes, d), STATUS_SUCCESS);  // X changed before N
    }
    ASSERT_EQ(Create(n), STATUS_SUCCESS);
    views.push_back(VolumeBytes(Installed(), kBase, 2));
    if (n == c.deleted) {
      std::vector<uint8_t> d = Pattern(2 * kBlockBytes, static_cast<uint8_t>(60 + n));
      ASSERT_EQ(Write(x * kBlockBytes, d), STATUS_SUCCESS);  // X and Y change after N
    }
  }
  const uint32_t freeBefore = Ext()->FreeSectors;
  ASSERT_EQ(Delete(c.deleted), STATUS_SUCCESS);
  views.erase(views.begin() + (c.deleted - 1));
  Restorer r(Installed());
  ASSERT_EQ(r.Count(), c.count - 1);
  for (uint32_t k = 1; k <= r.Count(); ++k) {
    RestoredWindow w = r.Restore(k, kBase, 2);
    ASSERT_EQ(w.fault, "");
    EXPECT_EQ(w.bytes, views[k - 1]) << "snapshot " << k;
  }
  EXPECT_EQ(r.Referenced(), r.BitmapInUse());
  // N's copy of X was needed by N alone.
  EXPECT_EQ(Ext()->FreeSectors, freeBefore + 64);
}

INSTANTIATE_TEST_SUITE_P(Numbers, DeleteMergeTest,
                         ::testing::Values(DeleteCase{"NextToNewest", 3, 2},
                                           DeleteCase{"Middle", 5, 3},
                                           DeleteCase{"SecondOfMany", 6, 2}),
                         [](const ::testing::TestParamInfo<DeleteCase>& param) {
                           return std::string(param.param.name);
                         });

TEST_F(SnapshotUnitTest, NumbersStayDenseThroughDeletionsAndDrops) {
  ASSERT_NO_FATAL_FAILURE(BootMachine());
  for (uint32_t n = 1; n <= 5; ++n) ASSERT_EQ(Create(n), STATUS_SUCCESS);
  const std::vector<uint8_t> header(reinterpret_cast<uint8_t*>(Ext()->Header),
                                    reinterpret_cast<uint8_t*>(Ext()->Header) + kEngineHeaderBytes);
  EXPECT_EQ(Delete(0), STATUS_UNSUCCESSFUL);
  EXPECT_EQ(std::memcmp(header.data(), Ext()->Header, kEngineHeaderBytes), 0)
      << "a refused delete changes nothing";
  ASSERT_EQ(Delete(3), STATUS_SUCCESS);
  const EngineHeader& h = *Ext()->Header;
  EXPECT_EQ(h.SnapshotCount, 4);
  EXPECT_EQ(h.CountCopy, 4);
  EXPECT_EQ(h.NewestSnapshot.Number, 5);  // renumbered only when the next snapshot is taken
  Restorer r(Installed());
  const uint32_t expected[] = {1, 2, 4};
  for (uint32_t k = 1; k <= 3; ++k)
    EXPECT_EQ(r.Descriptor(k)->Guid.Data1, GuidFor(expected[k - 1]).Data1);
  ASSERT_EQ(Delete(1), STATUS_SUCCESS);
  ASSERT_EQ(Delete(1), STATUS_SUCCESS);
  ASSERT_EQ(Delete(1), STATUS_SUCCESS);
  EXPECT_EQ(h.SnapshotCount, 1);
  ASSERT_EQ(DropOldestSnapshot(Device()), STATUS_SUCCESS);  // the last one: everything goes
  EXPECT_EQ(h.SnapshotCount, 0);
  for (const SnapshotSlot& slot : h.Slots) {
    EXPECT_EQ(slot.Number, kFreedSlotNumber);
    EXPECT_EQ(slot.Used, 0);
  }
  ASSERT_EQ(Create(6), STATUS_SUCCESS);
  EXPECT_EQ(h.NewestSnapshot.Number, 1);
}

// A pending rollback keeps pointing at the same snapshot while numbers
// move, and is cancelled (boot sectors put back) when its snapshot goes.
TEST_F(SnapshotUnitTest, APendingRollbackFollowsItsSnapshot) {
  ASSERT_NO_FATAL_FAILURE(BootMachine());
  for (uint32_t n = 1; n <= 4; ++n) ASSERT_EQ(Create(n), STATUS_SUCCESS);
  EngineHeader& h = *Ext()->Header;
  // What a scheduled rollback leaves: the saved boot sectors and the
  // pre-boot program in their place.
  std::vector<uint8_t> original(kBootImageBytes);
  ASSERT_EQ(Disk0().Read(0, kBootImageBytes, original.data()).status, storage::kStatusSuccess);
  ASSERT_EQ(Installed().WriteEngineSectors(h.BootBackupSector, kBootImageSectors, original.data()),
            storage::kStatusSuccess);
  std::vector<uint8_t> program = original;
  std::fill(program.begin(), program.begin() + 432, 0xEB);
  ASSERT_EQ(Disk0().Write(0, kBootImageBytes, program.data()).status, storage::kStatusSuccess);
  h.RollbackPending = 1;
  h.RollbackTarget = 3;

  ASSERT_EQ(Delete(1), STATUS_SUCCESS);  // oldest-drop: 3 becomes 2
  EXPECT_EQ(h.RollbackPending, 1);
  EXPECT_EQ(h.RollbackTarget, 2);
  ASSERT_EQ(Delete(1), STATUS_SUCCESS);  // 2 becomes 1
  EXPECT_EQ(h.RollbackTarget, 1);
  Restorer r(Installed());
  EXPECT_EQ(r.Descriptor(r.Header().RollbackTarget)->Guid.Data1, GuidFor(3).Data1);
  ASSERT_EQ(Create(5), STATUS_SUCCESS);
  ASSERT_EQ(Delete(1), STATUS_SUCCESS);  // the target itself goes
  EXPECT_EQ(h.RollbackPending, 0);
  std::vector<uint8_t> boot(kBootImageBytes);
  ASSERT_EQ(Disk0().Read(0, kBootImageBytes, boot.data()).status, storage::kStatusSuccess);
  EXPECT_EQ(boot, original);

  // A reset cancels it too.
  h.RollbackPending = 1;
  h.RollbackTarget = 1;
  ASSERT_EQ(ResetEngine(Device()), STATUS_SUCCESS);
  EXPECT_EQ(h.RollbackPending, 0);
  EXPECT_EQ(Restorer(Installed()).Header().RollbackPending, 0);
}

TEST_F(SnapshotUnitTest, ReleaseListGivesBackItsBlocksOnlyWhenAsked) {
  ASSERT_NO_FATAL_FAILURE(BootMachine());
  ASSERT_EQ(Create(1), STATUS_SUCCESS);
  EngineHeader& h = *Ext()->Header;
  ASSERT_EQ(SetBitmapBit(&Ext()->SpaceBitmap, 0), STATUS_SUCCESS);
  std::vector<uint32_t> list(8192, 0);
  list[5] = 64;  // space block 0
  ASSERT_EQ(Installed().WriteEngineSectors(h.ReleaseListSector, 64, list.data()),
            storage::kStatusSuccess);
  h.ReclaimPending = 1;
  ASSERT_EQ(FreeReleasedBlocks(Device()), STATUS_SUCCESS);
  EXPECT_TRUE(RtlTestBit(&Ext()->SpaceBitmap, 0)) << "ReinitPending 0: nothing happens";
  h.ReinitPending = 1;
  ASSERT_EQ(FreeReleasedBlocks(Device()), STATUS_SUCCESS);
  EXPECT_FALSE(RtlTestBit(&Ext()->SpaceBitmap, 0));
  EXPECT_EQ(h.ReinitPending, 0);
  EXPECT_EQ(h.ReclaimPending, 0);
  EXPECT_TRUE(LogHasLineEnding("FREE 00000040"));
  ASSERT_EQ(Installed().ReadEngineSectors(h.ReleaseListSector, 64, list.data()),
            storage::kStatusSuccess);
  EXPECT_EQ(list[5], 0u);
}

}  // namespace
}  // namespace vh::test

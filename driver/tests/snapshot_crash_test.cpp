// Power cuts during create, copy-on-write, delete and oldest-drop, at every
// write of the operation, on three kinds of disk: durable on completion with
// whole writes (the image keeps writes 1..N and nothing later); the same
// with the cut write torn (only its first sectors land); and a volatile
// write cache, where any subset of the writes since the last flush may
// land. After the next boot the engine lists exactly the snapshots committed
// before the cut (or those with the operation done), numbered densely;
// every one restores exactly as it was taken, none names a space block the
// bitmap calls free, and the engine goes on protecting the volume.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "control_fixture.h"
#include "copy_on_write.h"
#include "engine_lock.h"

namespace vh::test {
namespace {

constexpr uint64_t kBase = 28000;
constexpr uint64_t kBlocks = 4;

// Sectors of the cut write that land in the torn sweeps: the first sector
// of a header alone, a few slot sectors, part of a map piece or copy.
constexpr uint32_t kTornSectors[] = {1, 9, 40};

enum class DiskKind { kWhole, kTorn, kCached };

// The snapshots (by serial, oldest first) the engine may list after the
// cut: as before the operation, or as after it.
using Listings = std::vector<std::vector<uint32_t>>;

struct Taken {
  std::vector<uint8_t> image;
  std::vector<bool> free;
};

class SnapshotCrashTest : public ControlTest {
 protected:
  std::map<uint32_t, Taken> taken_;  // by serial (the GUID's low word)
  // The most writes a write cache held at a cut so far.
  size_t mostCached_ = 0;
  // Blocks from kBase that each snapshot's check restores.
  uint64_t window_ = kBlocks;
  // Run by the sweeps after each restart's check, and on the image a cut
  // left before the restart, when set.
  std::function<void()> afterRestart_;
  std::function<void()> afterCut_;

  // Blocks snapshot k's map stamps free-at-snapshot, read from the image.
  std::set<uint64_t> Stamped(uint32_t k) {
    Restorer r(Installed());
    const uint64_t entries = (r.Header().BlockMapLast - r.Header().BlockMapFirst + 1) * 128;
    std::vector<uint32_t> map;
    EXPECT_TRUE(r.MapEntries(k, 0, entries, &map)) << "snapshot " << k;
    std::set<uint64_t> out;
    for (uint64_t b = 0; b < map.size(); ++b)
      if (map[b] == kMapEntryFree) out.insert(b);
    return out;
  }

  std::vector<uint8_t> Window() {
    std::vector<uint8_t> out(window_ * kBlockBytes);
    Installed().volume->Read(kBase * kBlockBytes, static_cast<uint32_t>(out.size()), out.data());
    return out;
  }

  void Take(uint32_t serial) {
    Taken t;
    t.image = Window();
    for (uint64_t b = 0; b < window_; ++b) t.free.push_back(!BlockAllocated(kBase + b));
    ASSERT_EQ(Create(serial), STATUS_SUCCESS);
    taken_[serial] = std::move(t);
  }

  // The contents the sweeps write: `blocks` blocks of a pattern by seed.
  static std::vector<uint8_t> Filled(uint64_t blocks, uint8_t seed) {
    std::vector<uint8_t> data(blocks * kBlockBytes);
    for (size_t i = 0; i < data.size(); ++i)
      data[i] = static_cast<uint8_t>(seed + i * 3 + (i >> 10));
    return data;
  }

  void Fill(uint64_t block, uint64_t blocks, uint8_t seed) {
    ASSERT_EQ(TryFill(block, blocks, seed), STATUS_SUCCESS);
  }

  // `restarted`: the engine has loaded the image since the cut, and its
  // load returns blocks a cut left marked but no listed map names.
  // `asStated`: the image a cut left, before any engine loads it, read by
  // the rules stated for readers that do not repair.
  void CheckListed(const std::string& when, const Listings& allowed = {}, bool restarted = false,
                   bool asStated = false) {
    Restorer r(Installed(), asStated, asStated);
    ASSERT_TRUE(r.Loaded()) << when;
    EXPECT_TRUE(ValidateEngineHeader(&r.Header())) << when;
    // Dense numbering: count - 1 used slots, one for each of 1 .. count - 1.
    std::set<uint32_t> numbers;
    uint32_t used = 0;
    for (const SnapshotSlot& slot : r.Header().Slots) {
      if (slot.Used != 1) continue;
      ++used;
      numbers.insert(slot.Number);
    }
    const uint32_t expectedSlots = r.Count() == 0 ? 0 : r.Count() - 1;
    if (!asStated) {
      EXPECT_EQ(used, expectedSlots) << when << ": used slots for " << r.Count() << " snapshots";
      EXPECT_EQ(numbers.size(), expectedSlots) << when << ": slot numbers repeat";
    }
    if (!numbers.empty() && !asStated) {
      EXPECT_EQ(*numbers.begin(), 1u) << when;
      EXPECT_EQ(*numbers.rbegin(), expectedSlots) << when;
    }
    if (!allowed.empty()) {
      std::vector<uint32_t> listed;
      for (uint32_t k = 1; k <= r.Count(); ++k) {
        const SnapshotSlot* d = r.Descriptor(k);
        listed.push_back(d == nullptr ? 0 : d->Guid.Data1 - GuidFor(0).Data1);
      }
      bool matches = false;
      for (const std::vector<uint32_t>& one : allowed) matches = matches || one == listed;
      std::string text;
      for (uint32_t serial : listed) text += " " + std::to_string(serial);
      EXPECT_TRUE(matches) << when << ": listed serials" << text;
    }
    for (uint32_t k = 1; k <= r.Count(); ++k) {
      const SnapshotSlot* d = r.Descriptor(k);
      ASSERT_NE(d, nullptr) << when << ": number " << k;
      auto found = taken_.find(d->Guid.Data1 - GuidFor(0).Data1);
      ASSERT_NE(found, taken_.end())
          << when << ": number " << k << " is no snapshot that was taken";
      RestoredWindow w = r.Restore(k, kBase, window_);
      ASSERT_EQ(w.fault, "") << when;
      for (uint64_t b = 0; b < window_; ++b) {
        if (w.free[b]) {
          EXPECT_TRUE(found->second.free[b]) << when << ": snapshot " << k << " block " << b;
          continue;
        }
        EXPECT_TRUE(std::equal(w.bytes.begin() + b * kBlockBytes,
                               w.bytes.begin() + (b + 1) * kBlockBytes,
                               found->second.image.begin() + b * kBlockBytes))
            << when << ": snapshot " << k << " of " << r.Count() << " block " << b;
      }
    }
    if (r.Count() > 0) {
      const std::set<uint32_t> inUse = r.BitmapInUse();
      std::set<uint32_t> twice;
      const std::set<uint32_t> referenced = r.Referenced(&twice);
      for (uint32_t block : referenced) {
        EXPECT_TRUE(inUse.count(block))
            << when << ": space block " << block << " is named but free";
      }
      if (restarted) {
        // A delete the cut undid took back what it had merged.
        for (uint32_t block : twice)
          ADD_FAILURE() << when << ": space block " << block << " is named by two maps";
        for (uint32_t block : inUse) {
          EXPECT_TRUE(referenced.count(block))
              << when << ": space block " << block << " is in use but no map names it";
        }
      }
    }
  }

  // Sweeps the cut over every write of `operation` run on the state that
  // `prepare` builds, on a disk of the given kind.
  // `cacheSeeds`: the random variants of a cached sweep, when not the
  // default number.
  void Sweep(const MachineOptions& options, const std::function<void()>& prepare,
             const std::function<void()>& operation, const Listings& allowed,
             DiskKind kind = DiskKind::kWhole, uint32_t cacheSeeds = 0) {
    std::vector<uint32_t> variants = {0};
    if (kind == DiskKind::kTorn) variants.assign(std::begin(kTornSectors), std::end(kTornSectors));
    if (kind == DiskKind::kCached) {
      variants.clear();
      const uint32_t seeds = cacheSeeds != 0 ? cacheSeeds : CrashCacheSeeds();
      for (uint32_t seed = 0; seed <= seeds; ++seed) variants.push_back(seed);
    }
    uint64_t writes = 0;
    for (uint32_t variant : variants) {
      for (uint64_t cut = 0;; ++cut) {
        SCOPED_TRACE("cut after write " + std::to_string(cut) + ", variant " +
                     std::to_string(variant));
        ASSERT_NO_FATAL_FAILURE(
            CutOnce(options, prepare, operation, allowed, kind, variant, cut, &writes));
        if (HasFatalFailure()) return;
        if (cut >= writes) break;
      }
    }
    EXPECT_GE(writes, 2u);
  }

  // The sweep on each kind of disk, up to the first fatal failure.
  void SweepAllKinds(const MachineOptions& options, const std::function<void()>& prepare,
                     const std::function<void()>& operation, const Listings& allowed) {
    const DiskKind kinds[] = {DiskKind::kWhole, DiskKind::kTorn, DiskKind::kCached};
    const char* const names[] = {"whole writes", "torn writes", "write cache"};
    for (int k = 0; k < 3 && !HasFatalFailure(); ++k) {
      SCOPED_TRACE(names[k]);
      Sweep(options, prepare, operation, allowed, kinds[k]);
    }
  }

  void CutOnce(const MachineOptions& options, const std::function<void()>& prepare,
               const std::function<void()>& operation, const Listings& allowed, DiskKind kind,
               uint32_t variant, uint64_t cut, uint64_t* writes) {
    taken_.clear();
    ASSERT_NO_FATAL_FAILURE(BootMachine(options));
    ASSERT_NO_FATAL_FAILURE(prepare());
    if (kind == DiskKind::kCached) {
      ASSERT_EQ(Disk0().Flush().status, storage::kStatusSuccess);
      Disk0().EnableWriteCache(true);
    }
    const uint64_t before = Disk0().WriteCount();
    Disk0().CutPowerAfterWrites({cut, kind == DiskKind::kTorn ? variant : 0});
    ASSERT_NO_FATAL_FAILURE(operation());
    if (cut == 0) *writes = Disk0().WriteCount() - before;
    if (kind == DiskKind::kCached) {
      mostCached_ = std::max(mostCached_, Disk0().CachedWriteCount());
      CutCachedPower(variant, cut);
    }
    // Before anything repairs it: the image as a reader that does not
    // repair finds it.
    if (!Disk0().PowerIsCut()) Disk0().CutPowerAfterWrites({0, 0});
    ASSERT_NO_FATAL_FAILURE(CheckListed("on the image the cut left", allowed, false, true));
    if (afterCut_) {
      ASSERT_NO_FATAL_FAILURE(afterCut_());
    }
    ASSERT_NO_FATAL_FAILURE(Reboot());
    ASSERT_NO_FATAL_FAILURE(CheckListed("after the restart", allowed, true));
    if (afterRestart_) {
      ASSERT_NO_FATAL_FAILURE(afterRestart_());
    }
    // The engine goes on: a write over every block, then the same check.
    const uint32_t listed = Restorer(Installed()).Count();
    if (listed > 0) {
      ASSERT_NE(Ext()->Header, nullptr);
      EXPECT_EQ(Ext()->Header->SnapshotCount, listed);
    }
    ASSERT_NO_FATAL_FAILURE(Fill(kBase, kBlocks, static_cast<uint8_t>(0xA0 + cut)));
    ASSERT_NO_FATAL_FAILURE(CheckListed("after a write"));
    TearDown();
    SetUp();
  }

  // Fault sweeps: `operation` runs with the Nth pool allocation (or the Nth
  // transfer of disk 0) failing, N = 1, 2, ... until it runs without
  // reaching the fault. Whatever it answers, every snapshot listed on disk
  // restores exactly, now and after a restart, and the kernel is left
  // clean (the fixture's teardown checks the leak report).
  enum class Fault { kPool, kTransfer };
  void FaultSweep(Fault fault, const std::function<void()>& prepare,
                  const std::function<NTSTATUS()>& operation) {
    for (unsigned n = 1; n < 5000; ++n) {
      SCOPED_TRACE(std::string(fault == Fault::kPool ? "pool allocation " : "transfer ") +
                   std::to_string(n) + " fails");
      taken_.clear();
      ASSERT_NO_FATAL_FAILURE(BootMachine());
      ASSERT_NO_FATAL_FAILURE(prepare());
      const uint64_t before = Disk0().TransferCount();
      if (fault == Fault::kPool) {
        hk::FailPoolAllocation(n);
      } else {
        Disk0().FailTransfer(n);
      }
      const NTSTATUS status = operation();
      bool reached;
      if (fault == Fault::kPool) {
        reached = !hk::PoolAllocationFailurePending();
        hk::FailPoolAllocation(0);
      } else {
        reached = Disk0().TransferCount() - before >= n;
        Disk0().FailTransfer(0);
      }
      if (!reached) {
        EXPECT_EQ(status, STATUS_SUCCESS) << "without a fault";
      }
      ASSERT_NO_FATAL_FAILURE(CheckListed("after the fault"));
      ASSERT_NO_FATAL_FAILURE(Reboot());
      ASSERT_NO_FATAL_FAILURE(CheckListed("after the restart", {}, true));
      ASSERT_NO_FATAL_FAILURE(Fill(kBase, kBlocks, static_cast<uint8_t>(0xC0 + n)));
      ASSERT_NO_FATAL_FAILURE(CheckListed("after a write"));
      TearDown();
      SetUp();
      if (HasFailure() || !reached) return;
    }
    ADD_FAILURE() << "the operation never ran without reaching the fault";
  }

  // What a create about to run will freeze (read before any fault is armed).
  void ExpectTake(uint32_t serial) {
    Taken t;
    t.image = Window();
    for (uint64_t b = 0; b < window_; ++b) t.free.push_back(!BlockAllocated(kBase + b));
    taken_[serial] = std::move(t);
  }

  NTSTATUS TryFill(uint64_t block, uint64_t blocks, uint8_t seed) {
    std::vector<uint8_t> data = Filled(blocks, seed);
    return Write(block * kBlockBytes, data);
  }

  // One single-block write per entry of `blocks`, queued together in this
  // order behind the parked worker.
  void FillQueuedTogether(const std::vector<uint64_t>& blocks, uint8_t seed) {
    std::vector<std::pair<uint64_t, std::vector<uint8_t>>> writes;
    for (size_t i = 0; i < blocks.size(); ++i)
      writes.emplace_back(blocks[i] * kBlockBytes, Filled(1, static_cast<uint8_t>(seed + 16 * i)));
    for (NTSTATUS answer : WriteQueuedTogether(std::move(writes)))
      EXPECT_EQ(answer, STATUS_SUCCESS);
  }

  // Three snapshots; blocks changed before, between and after them.
  void ThreeSnapshots() {
    AllocateBlocks(kBase, kBlocks - 1);  // the last block stays free
    Fill(kBase, kBlocks, 0x10);
    Take(1);
    Fill(kBase, 2, 0x20);
    Take(2);
    Fill(kBase + 1, 2, 0x30);
    Take(3);
    Fill(kBase, 1, 0x40);
  }
};

// Also: a create the restart finishes stamps its free blocks as an uncut
// one does, and so does the next create.
TEST_F(SnapshotCrashTest, Create) {
  ASSERT_NO_FATAL_FAILURE(BootMachine());
  ASSERT_NO_FATAL_FAILURE(ThreeSnapshots());
  ASSERT_NO_FATAL_FAILURE(Take(4));
  ASSERT_NO_FATAL_FAILURE(Take(5));
  const std::set<uint64_t> stamped4 = Stamped(4);
  const std::set<uint64_t> stamped5 = Stamped(5);
  ASSERT_FALSE(stamped5.empty());
  TearDown();
  SetUp();
  afterRestart_ = [&] {
    if (Restorer(Installed()).Count() != 4) return;
    ASSERT_NO_FATAL_FAILURE(Take(5));
    EXPECT_TRUE(Stamped(4) == stamped4) << "the finished create's free blocks";
    EXPECT_TRUE(Stamped(5) == stamped5) << "the next create's free blocks";
  };
  SweepAllKinds(
      Options(), [this] { ThreeSnapshots(); }, [this] { Take(4); }, {{1, 2, 3}, {1, 2, 3, 4}});
}

TEST_F(SnapshotCrashTest, FirstCreate) {
  SweepAllKinds(
      Options(), [this] { AllocateBlocks(kBase, 2); }, [this] { Take(1); }, {{}, {1}});
}

TEST_F(SnapshotCrashTest, CopyOnWrite) {
  SweepAllKinds(
      Options(), [this] { ThreeSnapshots(); }, [this] { Fill(kBase + 1, 3, 0x50); }, {{1, 2, 3}});
}

// Several writes waiting for the worker at once, served as one batch under
// one commit: the cut lands between any two of its writes.
TEST_F(SnapshotCrashTest, QueuedWritesTogether) {
  // In use at every snapshot and never written: its copy's search starts
  // past every copy the window's blocks have.
  constexpr uint64_t kFar = kBase + 1000;
  const struct {
    const char* name;
    std::vector<uint64_t> blocks;
    bool spaceFull;  // one space block left: the oldest goes between the copies
    Listings allowed;
  } batches[] = {
      {"first writes, a rewrite of a block saved for the newest and a block free at it",
       {kBase + 1, kBase, kBase + 2, kBase + 3},
       false,
       {{1, 2, 3}}},
      {"two copies in one map sector, each block written twice",
       {kBase + 1, kBase + 2, kBase + 2, kBase + 1},
       false,
       {{1, 2, 3}}},
      // The window's copy takes the block left, where the far block's
      // search starts; the far block finds the space full and drops the
      // oldest. Unless the batch's copy is marked again in the rebuilt
      // bitmap, the far block's copy lands on it.
      {"the oldest dropped between the copies", {kBase + 1, kFar}, true, {{1, 2, 3}, {2, 3}}},
  };
  for (const auto& batch : batches) {
    SCOPED_TRACE(batch.name);
    SweepAllKinds(
        Options(),
        [this, &batch] {
          AllocateBlocks(kFar, 1);
          ThreeSnapshots();
          if (batch.spaceFull) LeaveOneSpaceBlockFor(kFar);
        },
        [this, &batch] { FillQueuedTogether(batch.blocks, 0x70); }, batch.allowed);
    if (HasFatalFailure()) return;
  }
}

// A create finished after the restart takes from the spare slot's area
// only stamps the previous snapshot has too: what a create cannot have
// written there (here every block stamped) never spares a block its copy.
TEST_F(SnapshotCrashTest, AFinishedCreateTakesOnlyStampsThePreviousSnapshotHas) {
  ASSERT_NO_FATAL_FAILURE(BootMachine());
  ASSERT_NO_FATAL_FAILURE(ThreeSnapshots());
  ASSERT_NO_FATAL_FAILURE(Take(4));
  const std::set<uint64_t> stamped3 = Stamped(3);
  ASSERT_FALSE(stamped3.empty());
  // As if header B never landed, with the spare's area not the create's.
  EngineHeader header = Restorer(Installed()).Header();
  header.CountCopy = 3;
  ASSERT_EQ(Installed().WriteEngineSectors(header.HeaderSector, 1, &header),
            storage::kStatusSuccess);
  uint32_t spare = 0;
  while (header.Slots[spare].Used != 0) ++spare;
  const uint64_t mapSectors = header.BlockMapLast - header.BlockMapFirst + 1;
  const std::vector<uint32_t> everything(mapSectors * 128, kMapEntryFree);
  ASSERT_EQ(Installed().WriteEngineSectors(header.Slots[spare].SavedMapSector, mapSectors,
                                           everything.data()),
            storage::kStatusSuccess);
  ASSERT_NO_FATAL_FAILURE(Reboot());
  ASSERT_NO_FATAL_FAILURE(Fill(kBase, 1, 0x66));  // finishes the create
  EXPECT_TRUE(Stamped(4) == stamped3);
  ASSERT_NO_FATAL_FAILURE(CheckListed("after the create is finished", {{1, 2, 3, 4}}, true));
}

// Sixteen first writes queued together on a disk with a write cache: the
// batch's copies, then its writes, wait unflushed together, so the cut
// finds the cache at its fullest and keeps any part of them.
TEST_F(SnapshotCrashTest, SixteenQueuedFirstWritesOnACachedDisk) {
  constexpr uint64_t kBatch = 16;
  window_ = kBatch;
  std::vector<uint64_t> blocks;
  for (uint64_t b = 0; b < kBatch; ++b) blocks.push_back(kBase + (b * 5) % kBatch);
  Sweep(
      Options(),
      [this] {
        // In use and unchanged since the first snapshot: each first write
        // past the window of ThreeSnapshots needs a copy.
        AllocateBlocks(kBase + kBlocks, kBatch - kBlocks);
        Fill(kBase + kBlocks, kBatch - kBlocks, 0x08);
        ThreeSnapshots();
      },
      [this, &blocks] { FillQueuedTogether(blocks, 0x70); }, {{1, 2, 3}}, DiskKind::kCached,
      // The newest write alone and one random subset (VH_CRASH_SEEDS for more).
      std::getenv("VH_CRASH_SEEDS") != nullptr ? 0 : 1);
  EXPECT_GE(mostCached_, kBatch) << "no cut found the batch's writes in the cache together";
}

TEST_F(SnapshotCrashTest, DeleteMiddle) {
  SweepAllKinds(
      Options(), [this] { ThreeSnapshots(); }, [this] { ASSERT_EQ(Delete(2), STATUS_SUCCESS); },
      {{1, 2, 3}, {1, 3}});
}

TEST_F(SnapshotCrashTest, DeleteOldest) {
  SweepAllKinds(
      Options(), [this] { ThreeSnapshots(); }, [this] { ASSERT_EQ(Delete(1), STATUS_SUCCESS); },
      {{1, 2, 3}, {2, 3}});
}

// A rollback pending while the oldest snapshot goes: at every cut the
// record on the image names its snapshot (or, between the two writes that
// move it down, the number left without a slot: never another snapshot),
// and after the restart it names that snapshot again. Whole writes only:
// the removal writes one sector at a time, each flushed before the next,
// so a torn or cached cut leaves no state a whole one does not.
TEST_F(SnapshotCrashTest, DeleteOldestWithARollbackPending) {
  const auto targetSerial = [](const Restorer& r) -> uint32_t {
    const SnapshotSlot* d = r.Descriptor(r.Header().RollbackTarget);
    return r.Header().RollbackPending == 0 || d == nullptr ? 0 : d->Guid.Data1 - GuidFor(0).Data1;
  };
  afterCut_ = [&] {
    Restorer r(Installed(), true);
    ASSERT_TRUE(r.Loaded());
    EXPECT_EQ(r.Header().RollbackPending, 1);
    const uint32_t serial = targetSerial(r);
    EXPECT_TRUE(serial == 3 || serial == 0) << "the record names snapshot " << serial;
  };
  afterRestart_ = [&] {
    Restorer r(Installed());
    EXPECT_EQ(targetSerial(r), 3u);
    EXPECT_EQ(Ext()->Header->RollbackTarget, r.Header().RollbackTarget);
  };
  Sweep(
      Options(),
      [this] {
        ThreeSnapshots();
        Take(4);
        Take(5);
        ASSERT_EQ(Send(IOCTL_ENGINE_SET_ROLLBACK, RollbackRequestFor(1, 3), 0).status,
                  STATUS_SUCCESS);
      },
      [this] { ASSERT_EQ(Delete(1), STATUS_SUCCESS); }, {{1, 2, 3, 4, 5}, {2, 3, 4, 5}});
}

// The write that saves one more block reaches the low-water mark and the
// oldest snapshot goes inside the same request.
TEST_F(SnapshotCrashTest, OldestDropUnderSpacePressure) {
  // ThreeSnapshots leaves 4 copies in use; the fifth reaches the mark.
  SweepAllKinds(
      Options(524288 - 5 * 64), [this] { ThreeSnapshots(); }, [this] { Fill(kBase + 2, 1, 0x60); },
      {{1, 2, 3}, {2, 3}});
}

// The protected volume leaves (surprise removal, then removal) and arrives
// again, twice: each time it is protected as at boot, so the snapshots it
// kept and those taken since restore exactly after every write.
TEST_F(SnapshotCrashTest, AVolumeThatComesBackIsProtectedAsAtBoot) {
  ASSERT_NO_FATAL_FAILURE(BootMachine());
  ASSERT_NO_FATAL_FAILURE(ThreeSnapshots());
  const Ranges pinned = PassThroughRanges(Ext());
  std::vector<uint32_t> listed = {1, 2, 3};
  for (uint32_t round = 0; round < 2; ++round) {
    SCOPED_TRACE("arrival " + std::to_string(round + 1));
    ASSERT_EQ(SendRequest(Device(), IRP_MJ_PNP, IRP_MN_SURPRISE_REMOVAL), STATUS_SUCCESS);
    ASSERT_EQ(Remove(kProtectedVolume), STATUS_SUCCESS);
    ASSERT_EQ(Device(), nullptr);
    ASSERT_NO_FATAL_FAILURE(CheckListed("after the removal", {listed}));
    ASSERT_NO_FATAL_FAILURE(ArriveVolume(kProtectedVolume));
    ASSERT_NE(Ext(), nullptr);
    EXPECT_EQ(EnginePrimaryVolume, Device());
    EXPECT_EQ(Normalised(PassThroughRanges(Ext())), Normalised(pinned));
    // Blocks saved for the newest before the removal, blocks first written
    // now, and one free at the newest.
    ASSERT_NO_FATAL_FAILURE(Fill(kBase, kBlocks, static_cast<uint8_t>(0x80 + round)));
    ASSERT_NO_FATAL_FAILURE(CheckListed("after writes", {listed}));
    ASSERT_NO_FATAL_FAILURE(Take(4 + round));
    listed.push_back(4 + round);
    ASSERT_NO_FATAL_FAILURE(Fill(kBase + 1, 2, static_cast<uint8_t>(0x90 + round)));
    ASSERT_NO_FATAL_FAILURE(CheckListed("after a create and writes", {listed}));
  }
}

// A middle delete whose merge fails on a later map page (every transfer of
// it failing in turn): while the engine still lists the snapshot, the
// older map on disk holds only its own entries again, at once.
TEST_F(SnapshotCrashTest, AMiddleDeleteThatFailsWhileMergingTakesItsMergeBack) {
  constexpr uint64_t kEarly = 6000;  // in the map's first page; the window is in its fourth
  for (unsigned n = 1;; ++n) {
    SCOPED_TRACE("transfer " + std::to_string(n) + " fails");
    ASSERT_NO_FATAL_FAILURE(BootMachine());
    AllocateBlocks(kEarly, 1);
    ThreeSnapshots();
    // Snapshot 2 gets a copy in the first page that snapshot 1 lacks, so
    // both pages merge.
    ASSERT_NO_FATAL_FAILURE(Take(4));
    ASSERT_NO_FATAL_FAILURE(Fill(kEarly, 1, 0x55));
    ASSERT_NO_FATAL_FAILURE(Take(5));
    std::vector<uint32_t> before;
    const uint64_t mapEntries =
        (Ext()->Header->BlockMapLast - Ext()->Header->BlockMapFirst + 1) * 128;
    ASSERT_TRUE(Restorer(Installed()).MapEntries(3, 0, mapEntries, &before));
    const uint64_t transfers = Disk0().TransferCount();
    Disk0().FailTransfer(n);
    const NTSTATUS status = Delete(4);
    const bool reached = Disk0().TransferCount() - transfers >= n;
    Disk0().FailTransfer(0);
    if (!reached) {
      EXPECT_EQ(status, STATUS_SUCCESS);
      EXPECT_GE(n, 4u) << "the delete merged less than two pages";
      break;
    }
    if (Ext()->Header->SnapshotCount == 5) {
      EXPECT_NE(status, STATUS_SUCCESS);
      std::vector<uint32_t> after;
      ASSERT_TRUE(Restorer(Installed()).MapEntries(3, 0, mapEntries, &after));
      EXPECT_TRUE(after == before) << "snapshot 3's map keeps merged entries";
    }
    ASSERT_NO_FATAL_FAILURE(CheckListed("after the fault"));
    TearDown();
    SetUp();
    if (HasFailure()) return;
  }
}

// The engine steps of the create and delete requests and the write path,
// each under every pool allocation and every transfer failing in turn.
TEST_F(SnapshotCrashTest, FaultSweeps) {
  const struct {
    const char* name;
    std::function<NTSTATUS()> operation;
  } operations[] = {
      {"create", [this] { return Create(4); }},
      {"delete middle", [this] { return Delete(2); }},
      {"delete oldest", [this] { return Delete(1); }},
      {"copy-on-write", [this] { return TryFill(kBase + 1, 3, 0x50); }},
      {"queued first writes",
       [this] {
         std::vector<std::pair<uint64_t, std::vector<uint8_t>>> writes;
         for (uint64_t block : {kBase + 1, kBase + 2, kBase + 1})
           writes.emplace_back(block * kBlockBytes, Filled(1, static_cast<uint8_t>(block)));
         NTSTATUS first = STATUS_SUCCESS;
         for (NTSTATUS answer : WriteQueuedTogether(std::move(writes)))
           if (first == STATUS_SUCCESS) first = answer;
         return first;
       }},
  };
  for (const auto& op : operations) {
    for (Fault fault : {Fault::kPool, Fault::kTransfer}) {
      SCOPED_TRACE(op.name);
      FaultSweep(
          fault,
          [this] {
            ThreeSnapshots();
            ExpectTake(4);
          },
          op.operation);
      if (HasFailure()) return;
    }
  }
}

// Every control request as a user-mode caller sends it, each under every
// pool allocation and every transfer failing in turn: whatever it answers,
// nothing leaks and every listed snapshot restores, also after a restart.
TEST_F(SnapshotCrashTest, ControlRequestFaultSweeps) {
  const auto withNumber = [](uint32_t number) {
    std::vector<uint8_t> in = VolumeRequestFor();
    SetU32(in, offsetof(VolumeRequest, SnapshotNumber), number);
    return in;
  };
  std::vector<uint8_t> create = VolumeRequestFor();
  std::snprintf(reinterpret_cast<char*>(&create[offsetof(VolumeRequest, SnapshotName)]), 24,
                "snap 4");
  const RecordGuid guid = GuidFor(4);
  std::memcpy(&create[offsetof(VolumeRequest, SnapshotGuid)], &guid, sizeof guid);
  std::vector<uint8_t> mount = withNumber(2);
  SetU32(mount, offsetof(VolumeRequest, MountDriveIndex), 5);
  std::vector<uint8_t> exclude = VolumeRequestFor();
  const std::u16string path = u"\\??\\C:\\Windows\\excluded.dat";
  std::memcpy(&exclude[offsetof(VolumeRequest, ExcludePath)], path.c_str(),
              (path.size() + 1) * sizeof(char16_t));
  std::vector<uint8_t> probe = VolumeRequestFor();
  SetU32(probe, 0, 1);
  const char16_t windows[] = u"\\??\\C:\\Windows";
  std::memcpy(&probe[4], windows, sizeof windows);
  std::vector<uint8_t> otherSelector = VolumeRequestFor();
  SetU32(otherSelector, 0, 7);
  std::vector<uint8_t> headerWrite;  // the header as it is, read before the fault is armed
  const std::vector<uint8_t> middle = withNumber(2);
  const std::vector<uint8_t> oldest = withNumber(1);
  const std::vector<uint8_t> schedule = RollbackRequestFor(1, 2);
  const std::vector<uint8_t> cancel = RollbackRequestFor(0, 0);

  const struct {
    const char* name;
    std::function<void()> before;  // more state, built before the fault is armed
    ULONG code;
    const std::vector<uint8_t>* in;
    ULONG out;
  } requests[] = {
      {"query status", nullptr, IOCTL_ENGINE_QUERY_STATUS, &create, kStatusBytes},
      {"start temporary mode", nullptr, IOCTL_ENGINE_START_TEMPORARY, &create, 0},
      {"create", nullptr, IOCTL_ENGINE_CREATE_SNAPSHOT, &create, 0},
      {"delete middle", nullptr, IOCTL_ENGINE_DELETE_SNAPSHOT, &middle, 0},
      {"delete oldest", nullptr, IOCTL_ENGINE_DELETE_SNAPSHOT, &oldest, 0},
      {"schedule rollback", nullptr, IOCTL_ENGINE_SET_ROLLBACK, &schedule, 0},
      {"cancel rollback",
       [&schedule] {
         ASSERT_EQ(Send(IOCTL_ENGINE_SET_ROLLBACK, schedule, 0).status, STATUS_SUCCESS);
       },
       IOCTL_ENGINE_SET_ROLLBACK, &cancel, 0},
      {"read header", nullptr, IOCTL_ENGINE_READ_HEADER, &create, kEngineHeaderBytes},
      {"write header",
       [this, &headerWrite] {
         headerWrite = VolumeRequestFor(u'C', kHeaderWriteBytes);
         const std::vector<uint8_t> header = HeaderOnDisk();
         std::memcpy(&headerWrite[kRequestBytes], header.data(), header.size());
       },
       IOCTL_ENGINE_WRITE_HEADER, &headerWrite, 8},
      {"mount", nullptr, IOCTL_ENGINE_MOUNT_SNAPSHOT, &mount, 0},
      {"unmount",
       [&mount] { ASSERT_EQ(Send(IOCTL_ENGINE_MOUNT_SNAPSHOT, mount, 0).status, STATUS_SUCCESS); },
       IOCTL_ENGINE_UNMOUNT_SNAPSHOT, &middle, 0},
      {"mount table", nullptr, IOCTL_ENGINE_GET_MOUNT_TABLE, &create, sizeof(MountTable)},
      {"reclaim", nullptr, IOCTL_ENGINE_RECLAIM_SPACE, &create, 0},
      {"system control", nullptr, IOCTL_ENGINE_SYSTEM_CONTROL, &otherSelector, kStatusBytes},
      {"probe file", nullptr, IOCTL_ENGINE_PROBE_FILE, &probe, kStatusBytes},
      {"stop", nullptr, IOCTL_ENGINE_STOP_VOLUME, &create, 0},
      {"exclude a file",
       [this] {
         uint64_t lcn = 0;
         ASSERT_EQ(Fs().FindFreeRun(4, 100000, &lcn), storage::kStatusSuccess);
         const uint64_t clusterBytes = uint64_t{Fs().GetGeometry().sectorsPerCluster} * 512;
         ASSERT_EQ(Fs().CreateFile(u"\\Windows\\excluded.dat", 4 * clusterBytes,
                                   {{static_cast<int64_t>(lcn), 4}}),
                   storage::kStatusSuccess);
       },
       IOCTL_ENGINE_ADD_EXCLUDED_FILE, &exclude, 0},
  };
  for (const auto& request : requests) {
    for (Fault fault : {Fault::kPool, Fault::kTransfer}) {
      SCOPED_TRACE(request.name);
      FaultSweep(
          fault,
          [this, &request] {
            ThreeSnapshots();
            ExpectTake(4);
            if (request.before) {
              ASSERT_NO_FATAL_FAILURE(request.before());
            }
          },
          [this, &request] {
            const NTSTATUS status = Send(request.code, *request.in, request.out).status;
            // A stop is carried out by the worker on its way out: the
            // request is done when the thread has ended.
            if (request.code == IOCTL_ENGINE_STOP_VOLUME && NT_SUCCESS(status)) {
              LARGE_INTEGER timeout;
              // An hour of engine time: the fixture runs waits 200 times
              // faster, so some 18 s here.
              timeout.QuadPart = -3600LL * 10000000;
              EXPECT_EQ(KeWaitForSingleObject(Ext()->WorkerThread, Executive, KernelMode, FALSE,
                                              &timeout),
                        STATUS_SUCCESS)
                  << "the worker did not end";
            }
            return status;
          });
      if (HasFailure()) return;
    }
  }
}

}  // namespace
}  // namespace vh::test

// A reference model of the snapshots: the test keeps the volume's content at
// every snapshot it takes and checks, after each step of a seeded random
// sequence, that the restorer rebuilds each listed snapshot from the disk
// exactly as it was taken. Steps: writes of any size and alignment (across
// blocks, into blocks free at the snapshot), creates, deletes of any number,
// file-system allocation changes, restarts, and oldest-drops when the space
// runs short.
#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "snapshot_fixture.h"

namespace vh::test {
namespace {

constexpr uint64_t kWindow = 12;        // blocks under test
constexpr uint64_t kFirst = 28160 - 6;  // crosses a map sector (128 blocks)
constexpr uint64_t kWindowBytes = kWindow * kBlockBytes;

struct ModelSnapshot {
  uint32_t serial;
  std::vector<uint8_t> image;  // the window when it was taken
  std::vector<bool> free;      // blocks wholly free in the file system then
};

struct ModelCase {
  const char* name;
  uint32_t seed;
  uint32_t steps;
  uint32_t budgetBlocks;  // space blocks in use before the oldest goes; 0: no pressure
};

class SnapshotModelTest : public SnapshotTest, public ::testing::WithParamInterface<ModelCase> {
 protected:
  std::vector<uint8_t> current_;
  std::vector<ModelSnapshot> snapshots_;  // index i is snapshot i + 1
  uint32_t serial_ = 0;
  std::mt19937 random_;
  // What the sequence went through, so a seed that stops covering a path
  // fails instead of passing quietly.
  uint32_t drops_ = 0;
  uint32_t deletes_ = 0;
  uint32_t deepest_ = 0;
  uint32_t freeSeen_ = 0;

  uint32_t Pick(uint32_t below) { return static_cast<uint32_t>(random_() % below); }

  void WriteStep() {
    static const uint32_t kSizes[] = {1, 2, 7, 8, 63, 64, 65, 130, 192};
    uint32_t sectors = kSizes[Pick(sizeof kSizes / sizeof kSizes[0])];
    if (Pick(4) == 0) sectors = 1 + Pick(200);
    const uint32_t first = Pick(static_cast<uint32_t>(kWindow * 64 - sectors + 1));
    std::vector<uint8_t> data(sectors * 512);
    const uint8_t seed = static_cast<uint8_t>(random_());
    for (size_t i = 0; i < data.size(); ++i)
      data[i] = static_cast<uint8_t>(seed + i * 13 + (i >> 11));
    const uint32_t before = Ext()->Header ? Ext()->Header->SnapshotCount : 0;
    ASSERT_EQ(Write(kFirst * kBlockBytes + first * 512ull, data), STATUS_SUCCESS);
    std::copy(data.begin(), data.end(), current_.begin() + first * 512ull);
    const uint32_t after = Ext()->Header ? Ext()->Header->SnapshotCount : 0;
    ASSERT_LE(after, before);
    // Oldest-drops under space pressure: snapshot 1 went each time.
    snapshots_.erase(snapshots_.begin(), snapshots_.begin() + (before - after));
    drops_ += before - after;
  }

  void CreateStep() {
    if (snapshots_.size() >= 31) return;
    ModelSnapshot s;
    s.serial = ++serial_;
    s.image = current_;
    for (uint64_t b = 0; b < kWindow; ++b) {
      bool allFree = true;
      for (uint64_t c = 0; c < 8; ++c) allFree = allFree && !Fs().IsAllocated((kFirst + b) * 8 + c);
      s.free.push_back(allFree);
    }
    ASSERT_EQ(Create(s.serial), STATUS_SUCCESS);
    snapshots_.push_back(std::move(s));
    deepest_ = std::max(deepest_, static_cast<uint32_t>(snapshots_.size()));
  }

  void DeleteStep() {
    uint32_t deletes = 1 + (Pick(4) == 0 ? Pick(3) : 0);
    for (; deletes > 0 && snapshots_.size() > 1; --deletes) {
      const uint32_t number = 1 + Pick(static_cast<uint32_t>(snapshots_.size() - 1));
      ASSERT_EQ(Delete(number), STATUS_SUCCESS) << number;
      snapshots_.erase(snapshots_.begin() + (number - 1));
      ++deletes_;
    }
  }

  // Whole blocks or single clusters change hands in the file system, so
  // some blocks are free at one snapshot and in use at the next.
  void AllocationStep() {
    const uint64_t cluster = (kFirst + Pick(kWindow)) * 8 + (Pick(2) ? 0 : Pick(8));
    const uint64_t count = cluster % 8 == 0 && Pick(2) ? 8 : 1;
    bool allFree = true;
    bool allUsed = true;
    for (uint64_t c = 0; c < count; ++c) {
      allFree = allFree && !Fs().IsAllocated(cluster + c);
      allUsed = allUsed && Fs().IsAllocated(cluster + c);
    }
    if (allFree) {
      ASSERT_EQ(Fs().AllocateRun(cluster, count), storage::kStatusSuccess);
    } else if (allUsed) {
      ASSERT_EQ(Fs().FreeRun(cluster, count), storage::kStatusSuccess);
    }
  }

  void Verify(uint32_t step, bool wholeMaps) {
    Restorer r(Installed(), true);
    ASSERT_TRUE(r.Loaded());
    ASSERT_EQ(r.Count(), snapshots_.size()) << "step " << step;
    ASSERT_EQ(r.Header().CountCopy, r.Count());
    std::vector<std::vector<uint32_t>> resolved;
    std::string fault;
    ASSERT_TRUE(r.Resolve(kFirst, kWindow, &resolved, &fault)) << "step " << step << ": " << fault;
    // The volume itself, read only where a snapshot shows it as it is now.
    std::vector<uint8_t> now(kWindowBytes);
    std::vector<bool> read(kWindow, false);
    std::map<uint32_t, std::vector<uint8_t>> copies;
    for (uint32_t k = 1; k <= r.Count(); ++k) {
      const SnapshotSlot* d = r.Descriptor(k);
      ASSERT_NE(d, nullptr) << "step " << step << " number " << k;
      const ModelSnapshot& m = snapshots_[k - 1];
      ASSERT_EQ(d->Guid.Data1, GuidFor(m.serial).Data1) << "step " << step << " number " << k;
      for (uint64_t b = 0; b < kWindow; ++b) {
        const uint32_t e = resolved[k - 1][b];
        if (e == kMapEntryFree) {
          ASSERT_TRUE(m.free[b]) << "step " << step << " snapshot " << k << " block " << b
                                 << " claimed free";
          ++freeSeen_;
          continue;
        }
        const uint8_t* bytes = now.data() + b * kBlockBytes;
        if (e == 0 && !read[b]) {
          ASSERT_TRUE(r.ReadVolume((kFirst + b) * 64, 64, now.data() + b * kBlockBytes));
          ASSERT_TRUE(std::equal(now.begin() + b * kBlockBytes, now.begin() + (b + 1) * kBlockBytes,
                                 current_.begin() + b * kBlockBytes))
              << "step " << step << " block " << b << " is not what was written";
          read[b] = true;
        }
        if (e != 0) {
          std::vector<uint8_t>& copy = copies[e];
          if (copy.empty()) {
            copy.resize(kBlockBytes);
            ASSERT_TRUE(r.ReadCopy(e, copy.data()));
          }
          bytes = copy.data();
        }
        ASSERT_TRUE(std::equal(m.image.begin() + b * kBlockBytes,
                               m.image.begin() + (b + 1) * kBlockBytes, bytes))
            << "step " << step << " snapshot " << k << " of " << r.Count() << " block " << b;
      }
    }
    if (Ext()->SpaceBitmapBuffer != nullptr && r.Count() > 0) {
      ASSERT_EQ(Ext()->FreeSectors, RtlNumberOfClearBits(&Ext()->SpaceBitmap) * 64)
          << "step " << step;
    }
    if (wholeMaps && r.Count() > 0) {
      ASSERT_EQ(r.Referenced(), r.BitmapInUse()) << "step " << step;
    }
  }
};

TEST_P(SnapshotModelTest, EveryListedSnapshotRestoresAsTaken) {
  const ModelCase& c = GetParam();
  const uint32_t total = 524288;  // space sectors of the default installation
  ASSERT_NO_FATAL_FAILURE(BootMachine(Options(c.budgetBlocks ? total - c.budgetBlocks * 64 : 0)));
  random_.seed(c.seed);
  current_.assign(kWindowBytes, 0);
  ASSERT_EQ(Installed().volume->Read(kFirst * kBlockBytes, kWindowBytes, current_.data()).status,
            storage::kStatusSuccess);
  for (uint64_t b = 0; b < kWindow; b += 2) ASSERT_NO_FATAL_FAILURE(AllocateBlocks(kFirst + b, 1));
  for (uint32_t step = 0; step < c.steps; ++step) {
    const uint32_t roll = Pick(100);
    if (roll < 60) {
      ASSERT_NO_FATAL_FAILURE(WriteStep());
    } else if (roll < 72) {
      ASSERT_NO_FATAL_FAILURE(CreateStep());
    } else if (roll < 83) {
      ASSERT_NO_FATAL_FAILURE(DeleteStep());
    } else if (roll < 98) {
      ASSERT_NO_FATAL_FAILURE(AllocationStep());
    } else {
      ASSERT_NO_FATAL_FAILURE(Reboot());
    }
    ASSERT_NO_FATAL_FAILURE(Verify(step, step % 100 == 0));
  }
  ASSERT_NO_FATAL_FAILURE(Verify(c.steps, true));
  EXPECT_GT(deletes_, c.steps / 26);
  EXPECT_GT(freeSeen_, c.steps / 26);
  if (c.budgetBlocks != 0) {
    EXPECT_GT(drops_, c.steps / 130);
  } else {
    EXPECT_EQ(drops_, 0u);
    EXPECT_GE(deepest_, c.steps >= 1000 ? 8u : 3u);
  }
  std::printf("seed %u: %u deletes, %u oldest-drops, deepest %u, %u free-at-snapshot views\n",
              c.seed, deletes_, drops_, deepest_, freeSeen_);
}

// 10,400 steps in all.
constexpr uint32_t kSteps = 2600;

INSTANTIATE_TEST_SUITE_P(
    Seeds, SnapshotModelTest,
    ::testing::Values(ModelCase{"roomy1", 1, kSteps, 0}, ModelCase{"roomy2", 2, kSteps, 0},
                      ModelCase{"tight3", 3, kSteps, 40}, ModelCase{"tight4", 4, kSteps, 24}),
    [](const ::testing::TestParamInfo<ModelCase>& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace vh::test

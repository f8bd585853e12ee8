// Power cuts during create, copy-on-write, delete and oldest-drop, at every
// write of the operation. Variant: durable on completion, whole writes (the
// image keeps writes 1..N and nothing later). After the next boot every
// snapshot the engine lists must restore exactly as it was taken, none may
// name a space block the bitmap calls free, and the engine must go on
// protecting the volume.
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "snapshot_fixture.h"

namespace vh::test {
namespace {

constexpr uint64_t kBase = 28000;
constexpr uint64_t kBlocks = 4;

struct Taken {
  std::vector<uint8_t> image;
  std::vector<bool> free;
};

class SnapshotCrashTest : public SnapshotTest {
 protected:
  std::map<uint32_t, Taken> taken_;  // by serial (the GUID's low word)

  std::vector<uint8_t> Window() {
    std::vector<uint8_t> out(kBlocks * kBlockBytes);
    Installed().volume->Read(kBase * kBlockBytes, static_cast<uint32_t>(out.size()), out.data());
    return out;
  }

  void Take(uint32_t serial) {
    Taken t;
    t.image = Window();
    for (uint64_t b = 0; b < kBlocks; ++b) t.free.push_back(!BlockAllocated(kBase + b));
    ASSERT_EQ(Create(serial), STATUS_SUCCESS);
    taken_[serial] = std::move(t);
  }

  void Fill(uint64_t block, uint64_t blocks, uint8_t seed) {
    std::vector<uint8_t> data(blocks * kBlockBytes);
    for (size_t i = 0; i < data.size(); ++i)
      data[i] = static_cast<uint8_t>(seed + i * 3 + (i >> 10));
    ASSERT_EQ(Write(block * kBlockBytes, data), STATUS_SUCCESS);
  }

  void CheckListed(const std::string& when) {
    Restorer r(Installed());
    ASSERT_TRUE(r.Loaded()) << when;
    for (uint32_t k = 1; k <= r.Count(); ++k) {
      const SnapshotSlot* d = r.Descriptor(k);
      ASSERT_NE(d, nullptr) << when << ": number " << k;
      auto found = taken_.find(d->Guid.Data1 - GuidFor(0).Data1);
      ASSERT_NE(found, taken_.end())
          << when << ": number " << k << " is no snapshot that was taken";
      RestoredWindow w = r.Restore(k, kBase, kBlocks);
      ASSERT_EQ(w.fault, "") << when;
      for (uint64_t b = 0; b < kBlocks; ++b) {
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
      for (uint32_t block : r.Referenced()) {
        EXPECT_TRUE(inUse.count(block))
            << when << ": space block " << block << " is named but free";
      }
    }
  }

  // Sweeps the cut over every write of `operation` run on the state that
  // `prepare` builds.
  void Sweep(const MachineOptions& options, const std::function<void()>& prepare,
             const std::function<void()>& operation) {
    uint64_t writes = 0;
    for (uint64_t cut = 0;; ++cut) {
      SCOPED_TRACE("cut after write " + std::to_string(cut));
      taken_.clear();
      ASSERT_NO_FATAL_FAILURE(BootMachine(options));
      ASSERT_NO_FATAL_FAILURE(prepare());
      const uint64_t before = Disk0().WriteCount();
      Disk0().CutPowerAfterWrites({cut, 0});
      ASSERT_NO_FATAL_FAILURE(operation());
      if (cut == 0) writes = Disk0().WriteCount() - before;
      ASSERT_NO_FATAL_FAILURE(Reboot());
      ASSERT_NO_FATAL_FAILURE(CheckListed("after the restart"));
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
      if (cut >= writes) break;
    }
    EXPECT_GE(writes, 2u);
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

TEST_F(SnapshotCrashTest, Create) {
  Sweep(
      Options(), [this] { ThreeSnapshots(); }, [this] { Take(4); });
}

TEST_F(SnapshotCrashTest, FirstCreate) {
  Sweep(
      Options(), [this] { AllocateBlocks(kBase, 2); }, [this] { Take(1); });
}

TEST_F(SnapshotCrashTest, CopyOnWrite) {
  Sweep(
      Options(), [this] { ThreeSnapshots(); }, [this] { Fill(kBase + 1, 3, 0x50); });
}

TEST_F(SnapshotCrashTest, DeleteMiddle) {
  Sweep(
      Options(), [this] { ThreeSnapshots(); }, [this] { ASSERT_EQ(Delete(2), STATUS_SUCCESS); });
}

TEST_F(SnapshotCrashTest, DeleteOldest) {
  Sweep(
      Options(), [this] { ThreeSnapshots(); }, [this] { ASSERT_EQ(Delete(1), STATUS_SUCCESS); });
}

// The write that saves one more block reaches the low-water mark and the
// oldest snapshot goes inside the same request.
TEST_F(SnapshotCrashTest, OldestDropUnderSpacePressure) {
  // ThreeSnapshots leaves 4 copies in use; the fifth reaches the mark.
  Sweep(
      Options(524288 - 5 * 64), [this] { ThreeSnapshots(); }, [this] { Fill(kBase + 2, 1, 0x60); });
}

}  // namespace
}  // namespace vh::test

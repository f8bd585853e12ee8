// Snapshot creation, copy-on-write and deletion on an installed machine,
// checked through the restorer (the on-disk maps alone) and the engine's
// state.
#include <algorithm>
#include <cstring>
#include <vector>

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

}  // namespace
}  // namespace vh::test

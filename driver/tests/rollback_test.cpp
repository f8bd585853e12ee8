// Rollback through the control device, on the image of disk 0: the pre-boot
// program over sectors 0-4 with the partition table kept, the saved sectors
// in the engine area, cancelling back to the exact bytes, the boot-area
// check at shutdown, and the restore the pre-boot program then does.
#include <cstring>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "rollback_fixture.h"

namespace vh::test {
namespace {

using namespace rollback_layout;

uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
  uint32_t v;
  std::memcpy(&v, &b[at], 4);
  return v;
}

// One area in one piece and one in three: the loader's disk sector and the
// area start follow the pieces.
class RollbackLayoutTest : public RollbackTest, public ::testing::WithParamInterface<uint32_t> {};

TEST_P(RollbackLayoutTest, ScheduleInstallsTheProgramAndCancelPutsTheSectorsBack) {
  ASSERT_NO_FATAL_FAILURE(BootWith(GetParam()));
  ASSERT_EQ(CreateViaControl(1), STATUS_SUCCESS);
  ASSERT_EQ(CreateViaControl(2), STATUS_SUCCESS);
  const std::vector<uint8_t> before = BootSectors();
  ASSERT_EQ(before[510], 0x55);
  ASSERT_EQ(before[511], 0xAA);

  ASSERT_EQ(Rollback(1, 1), STATUS_SUCCESS);
  const EngineHeader* header = Installed().header.get();
  const std::vector<uint8_t> installed = BootSectors();
  EXPECT_EQ(installed, ExpectedPreBoot(before));
  // Disk signature and the whole partition table survive.
  EXPECT_EQ(std::memcmp(&installed[440], &before[440], 70), 0);
  EXPECT_EQ(EngineBytes(header->BootBackupSector, kBootImageSectors), before);
  const std::vector<uint8_t> loader = EngineBytes(header->LoaderImageSector, kBootImageSectors);
  EXPECT_EQ(U32(loader, LoaderAreaStart), AreaStart());
  EXPECT_EQ(U32(loader, LoaderPartitionStart), PartitionStart());
  std::vector<uint8_t> loaderExpected = Installed().loaderImage;
  std::memcpy(&loaderExpected[LoaderAreaStart], &loader[LoaderAreaStart], 8);
  EXPECT_EQ(loader, loaderExpected);  // nothing but the two fields
  EngineHeader onDisk = HeaderRecord();
  EXPECT_EQ(onDisk.RollbackPending, 1);
  EXPECT_EQ(onDisk.RollbackTarget, 1);

  // A second target changes the header only.
  ASSERT_EQ(Rollback(1, 2), STATUS_SUCCESS);
  EXPECT_EQ(BootSectors(), installed);
  EXPECT_EQ(EngineBytes(header->BootBackupSector, kBootImageSectors), before);
  EXPECT_EQ(HeaderRecord().RollbackTarget, 2);

  ASSERT_EQ(Rollback(0, 0), STATUS_SUCCESS);
  EXPECT_EQ(BootSectors(), before);
  EXPECT_EQ(HeaderRecord().RollbackPending, 0);
  EXPECT_EQ(Ext()->Header->RollbackPending, 0);
}

INSTANTIATE_TEST_SUITE_P(AreaPieces, RollbackLayoutTest, ::testing::Values(1u, 3u),
                         [](const ::testing::TestParamInfo<uint32_t>& param) {
                           return std::to_string(param.param) + "pieces";
                         });

// Disks whose sector 0 the pre-boot program cannot stand in for.
struct DiskCase {
  const char* name;
  void (*spoil)(std::vector<uint8_t>& sector0);
};
const DiskCase kNotMbr[] = {
    {"NoBootSignature", [](std::vector<uint8_t>& s) { s[510] = s[511] = 0; }},
    {"GptProtective", [](std::vector<uint8_t>& s) { s[446 + 16 + 4] = 0xEE; }},
};

class RollbackDiskTest : public RollbackTest, public ::testing::WithParamInterface<DiskCase> {};

TEST_P(RollbackDiskTest, ADiskWithoutAnMbrIsRefusedAndNothingChanges) {
  ASSERT_NO_FATAL_FAILURE(BootWith(1));
  ASSERT_EQ(CreateViaControl(1), STATUS_SUCCESS);
  std::vector<uint8_t> sectors = BootSectors();
  GetParam().spoil(sectors);
  ASSERT_EQ(Disk0().Write(0, kBootImageBytes, sectors.data()).status, storage::kStatusSuccess);
  const std::vector<uint8_t> header = HeaderOnDisk();
  const std::vector<uint8_t> backup =
      EngineBytes(Installed().header->BootBackupSector, kBootImageSectors);

  EXPECT_EQ(Rollback(1, 1), STATUS_NOT_SUPPORTED);
  EXPECT_EQ(BootSectors(), sectors);
  EXPECT_EQ(HeaderOnDisk(), header);
  EXPECT_EQ(EngineBytes(Installed().header->BootBackupSector, kBootImageSectors), backup);
  EXPECT_EQ(Ext()->Header->RollbackPending, 0);
}

INSTANTIATE_TEST_SUITE_P(Disks, RollbackDiskTest, ::testing::ValuesIn(kNotMbr),
                         [](const ::testing::TestParamInfo<DiskCase>& param) {
                           return std::string(param.param.name);
                         });

// Any nonzero Schedule byte records a pending rollback as 1, the value the
// create and delete rules test for.
TEST_F(RollbackTest, AnyScheduleByteRecordsPendingAsOne) {
  ASSERT_NO_FATAL_FAILURE(BootWith(1));
  ASSERT_EQ(CreateViaControl(1), STATUS_SUCCESS);
  ASSERT_EQ(CreateViaControl(2), STATUS_SUCCESS);
  ASSERT_EQ(Rollback(0x80, 1), STATUS_SUCCESS);
  EXPECT_EQ(HeaderRecord().RollbackPending, 1);
  EXPECT_EQ(CreateViaControl(3), STATUS_INVALID_PARAMETER);
}

// Whichever disk transfer of a schedule fails, the disk boots into the
// pre-boot program exactly when the header on disk records the rollback.
class RollbackFailureTest : public RollbackTest, public ::testing::WithParamInterface<int> {};

TEST_P(RollbackFailureTest, AFailedTransferNeverLeavesTheProgramWithoutTheRecord) {
  ASSERT_NO_FATAL_FAILURE(BootWith(1));
  ASSERT_EQ(CreateViaControl(1), STATUS_SUCCESS);
  const std::vector<uint8_t> before = BootSectors();
  Disk0().FailTransfer(static_cast<uint64_t>(GetParam()));
  const NTSTATUS status = Rollback(1, 1);
  Disk0().FailTransfer(0);
  const EngineHeader onDisk = HeaderRecord();
  if (NT_SUCCESS(status)) {
    EXPECT_EQ(onDisk.RollbackPending, 1);
    EXPECT_EQ(BootSectors(), ExpectedPreBoot(before));
  } else {
    EXPECT_EQ(onDisk.RollbackPending, 0);
    EXPECT_EQ(Ext()->Header->RollbackPending, 0);
    EXPECT_EQ(BootSectors(), before);
  }
}

INSTANTIATE_TEST_SUITE_P(Transfers, RollbackFailureTest, ::testing::Range(1, 18));

// ---------------------------------------------------------------- shutdown check

struct RecheckCase {
  const char* name;
  storage::FileSystemKind kind;
  bool reinstalled;  // the program is back after the shutdown
};
const RecheckCase kRechecks[] = {
    {"Fat32PutsTheProgramBack", storage::FileSystemKind::kFat32, true},
    {"NtfsLeavesTheDiskAlone", storage::FileSystemKind::kNtfs, false},
};

class RollbackRecheckTest : public RollbackTest,
                            public ::testing::WithParamInterface<RecheckCase> {};

TEST_P(RollbackRecheckTest, ShutdownChecksTheBootSectorsOfAPendingRollback) {
  ASSERT_NO_FATAL_FAILURE(BootWith(1, GetParam().kind));
  ASSERT_EQ(CreateViaControl(1), STATUS_SUCCESS);
  const std::vector<uint8_t> original = BootSectors();
  ASSERT_EQ(Rollback(1, 1), STATUS_SUCCESS);
  const std::vector<uint8_t> program = BootSectors();
  ASSERT_NE(program, original);
  // Something else writes its own boot code meanwhile.
  std::vector<uint8_t> replaced = original;
  replaced[0] ^= 0x5A;
  ASSERT_EQ(Disk0().Write(0, kBootImageBytes, replaced.data()).status, storage::kStatusSuccess);

  ASSERT_EQ(Shutdown(), STATUS_SUCCESS);
  if (GetParam().reinstalled) {
    EXPECT_EQ(BootSectors(), ExpectedPreBoot(replaced));
    EXPECT_EQ(EngineBytes(Installed().header->BootBackupSector, kBootImageSectors), replaced);
  } else {
    EXPECT_EQ(BootSectors(), replaced);
  }
}

INSTANTIATE_TEST_SUITE_P(FileSystems, RollbackRecheckTest, ::testing::ValuesIn(kRechecks),
                         [](const ::testing::TestParamInfo<RecheckCase>& param) {
                           return std::string(param.param.name);
                         });

// ---------------------------------------------------------------- start-up

// What a power cut during an earlier schedule or cancel may have left on
// disk, and what start-up makes of it: a record stays only with the
// program in sector 0, and the program goes only where the backup can
// replace it.
struct SettleCase {
  const char* name;
  bool recorded;            // the header on disk records the rollback
  uint32_t programSectors;  // bit s: sector s holds the program's, else the machine's own
  bool backupEmpty;         // the backup area as the installer left it
  bool pendingAfter;
  uint32_t programAfter;
};
const SettleCase kSettles[] = {
    {"RecordAndProgram", true, 0x1F, false, true, 0x1F},
    {"RecordWithoutProgram", true, 0, false, false, 0},
    {"RecordWithTheProgramBehindSectorZero", true, 0x1E, false, false, 0},
    {"RecordWithTheProgramInSectorsZeroAndTwo", true, 0x05, false, true, 0x1F},
    {"ProgramWithoutRecord", false, 0x1F, false, false, 0},
    {"ProgramWithoutRecordOrBackup", false, 0x1F, true, false, 0x1F},
};

class RollbackSettleTest : public RollbackTest, public ::testing::WithParamInterface<SettleCase> {};

TEST_P(RollbackSettleTest, StartUpBringsTheBootSectorsAndTheHeaderInLine) {
  const SettleCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(BootWith(1));
  ASSERT_EQ(CreateViaControl(1), STATUS_SUCCESS);
  ASSERT_EQ(CreateViaControl(2), STATUS_SUCCESS);
  const std::vector<uint8_t> original = BootSectors();
  const std::vector<uint8_t> program = ExpectedPreBoot(original);
  ASSERT_EQ(Rollback(1, 1), STATUS_SUCCESS);
  const auto mixed = [&](uint32_t mask) {
    std::vector<uint8_t> out = original;
    for (uint32_t s = 0; s < kBootImageSectors; ++s) {
      if ((mask >> s) & 1) std::memcpy(&out[s * 512], &program[s * 512], 512);
    }
    return out;
  };
  const std::vector<uint8_t> left = mixed(c.programSectors);
  ASSERT_EQ(Disk0().Write(0, kBootImageBytes, left.data()).status, storage::kStatusSuccess);
  if (!c.recorded) {
    EngineHeader header = HeaderRecord();
    header.RollbackPending = 0;
    ASSERT_EQ(Installed().WriteEngineSectors(Installed().header->HeaderSector, kEngineHeaderSectors,
                                             &header),
              storage::kStatusSuccess);
  }
  if (c.backupEmpty) {
    const std::vector<uint8_t> zeros(kBootImageBytes, 0);
    ASSERT_EQ(Installed().WriteEngineSectors(Installed().header->BootBackupSector,
                                             kBootImageSectors, zeros.data()),
              storage::kStatusSuccess);
  }
  const std::vector<uint8_t> backup = Backup();

  ASSERT_NO_FATAL_FAILURE(Reboot());
  EXPECT_EQ(BootSectors(), mixed(c.programAfter));
  EXPECT_EQ(HeaderRecord().RollbackPending, c.pendingAfter ? 1 : 0);
  ASSERT_NE(Ext()->Header, nullptr);
  EXPECT_EQ(Ext()->Header->RollbackPending, c.pendingAfter ? 1 : 0);
  EXPECT_EQ(Backup(), backup);
}

INSTANTIATE_TEST_SUITE_P(States, RollbackSettleTest, ::testing::ValuesIn(kSettles),
                         [](const ::testing::TestParamInfo<SettleCase>& param) {
                           return std::string(param.param.name);
                         });

// ---------------------------------------------------------------- the whole road

std::size_t BlockHash(const uint8_t* block) {
  return std::hash<std::string_view>()(
      std::string_view(reinterpret_cast<const char*>(block), kBlockBytes));
}

// Schedule a rollback to snapshot 1, then do what the pre-boot program does
// from the disk alone: every block of the restored volume equals snapshot 1
// (pass-through blocks, which no snapshot keeps, aside).
TEST_F(RollbackTest, RestoringTheScheduledTargetGivesBackTheSnapshotByteForByte) {
  ASSERT_NO_FATAL_FAILURE(BootWith(1));
  const uint64_t blocks = Installed().volume->SectorCount() / 64;
  constexpr uint64_t kFirst = 26000;
  AllocateBlocks(kFirst, 64);
  for (uint64_t b = 0; b < 64; b += 3) {
    std::vector<uint8_t> data(kBlockBytes, static_cast<uint8_t>(b + 1));
    ASSERT_EQ(Write((kFirst + b) * kBlockBytes, data), STATUS_SUCCESS);
  }
  ASSERT_EQ(CreateViaControl(1), STATUS_SUCCESS);

  // Snapshot 1 as the volume held it, block by block.
  std::vector<std::size_t> snapshot(blocks);
  std::vector<uint8_t> window(1024 * kBlockBytes);
  for (uint64_t first = 0; first < blocks; first += 1024) {
    const uint64_t n = std::min<uint64_t>(1024, blocks - first);
    Installed().volume->Read(first * kBlockBytes, static_cast<uint32_t>(n * kBlockBytes),
                             window.data());
    for (uint64_t i = 0; i < n; ++i) snapshot[first + i] = BlockHash(&window[i * kBlockBytes]);
  }

  // Changes after it: rewrites, new data in free blocks, a second snapshot
  // and more rewrites on top.
  for (uint64_t b = 0; b < 64; b += 2) {
    std::vector<uint8_t> data(kBlockBytes, static_cast<uint8_t>(0xA0 + b));
    ASSERT_EQ(Write((kFirst + b) * kBlockBytes, data), STATUS_SUCCESS);
  }
  ASSERT_EQ(CreateViaControl(2), STATUS_SUCCESS);
  for (uint64_t b = 1; b < 64; b += 4) {
    std::vector<uint8_t> data(kBlockBytes, static_cast<uint8_t>(0xC0 + b));
    ASSERT_EQ(Write((kFirst + b) * kBlockBytes, data), STATUS_SUCCESS);
  }
  ASSERT_EQ(Rollback(1, 1), STATUS_SUCCESS);
  // Neither the engine's own area (written below the filter) nor the
  // pass-through files are kept by any snapshot.
  Ranges untracked = PassThroughRanges(Ext());
  for (const AreaExtent& piece : Installed().pieces) {
    untracked.emplace_back(piece.StartSector, piece.StartSector + piece.SectorCount - 1);
  }
  const Ranges passThrough = Normalised(untracked);

  Restorer restorer(Installed());
  ASSERT_TRUE(restorer.Loaded());
  ASSERT_EQ(restorer.Header().RollbackPending, 1);
  const uint32_t target = restorer.Header().RollbackTarget;
  ASSERT_EQ(target, 1u);
  uint64_t compared = 0;
  for (uint64_t first = 0; first < blocks; first += 1024) {
    const uint64_t n = std::min<uint64_t>(1024, blocks - first);
    RestoredWindow w = restorer.Restore(target, first, n);
    ASSERT_EQ(w.fault, "");
    for (uint64_t i = 0; i < n; ++i) {
      const uint64_t block = first + i;
      bool skip = w.free[i];
      for (const auto& range : passThrough) {
        if (range.first <= block * 64 + 63 && range.second >= block * 64) skip = true;
      }
      if (skip) continue;
      ASSERT_EQ(BlockHash(&w.bytes[i * kBlockBytes]), snapshot[block]) << "block " << block;
      if (block >= kFirst && block < kFirst + 64) ++compared;
    }
  }
  EXPECT_EQ(compared, 64u);  // every block the test changed was checked
}

}  // namespace
}  // namespace vh::test

// Power cuts while a rollback is scheduled, retargeted or cancelled, or
// while the check at shutdown puts the program back, at every write: whole writes, the cut write
// torn after 1 or 3 sectors, and a volatile write cache keeping its newest write or a random
// subset. After the next start-up, disk 0's sectors 0-4 are wholly the machine's own or wholly the
// pre-boot program, the header records a rollback exactly when the program is there, the backup
// holds the machine's own sectors whenever one is recorded, and a later cancel or schedule ends
// right.
#include <algorithm>
#include <cctype>
#include <ostream>
#include <string>
#include <vector>

#include "rollback_fixture.h"

namespace vh::test {
namespace {

enum class DiskKind { kWhole, kTorn, kCached };

// The sectors of 0-4 where `a` and `b` differ, for messages.
std::string DifferingSectors(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  std::string out;
  for (size_t s = 0; s < kBootImageSectors; ++s) {
    if (!std::equal(a.begin() + s * 512, a.begin() + (s + 1) * 512, b.begin() + s * 512))
      out += " " + std::to_string(s);
  }
  return out;
}

struct Operation {
  const char* name;
  // Requests sent before the cut is armed ({schedule, target} each).
  std::vector<std::pair<uint8_t, uint8_t>> before;
  std::pair<uint8_t, uint8_t> request;
  // What start-up may find: nothing recorded, or a rollback to one of these.
  bool mayEndCancelled;
  std::vector<uint8_t> targets;
  // Instead of the request: on FAT32, other boot code over sectors 0-4
  // after the requests before, then the check at shutdown, which puts the
  // program back over it and saves it as the machine's own.
  bool shutdownCheck = false;
};

void PrintTo(const Operation& op, std::ostream* out) { *out << op.name; }

const Operation kOperations[] = {
    {"schedule", {}, {1, 1}, true, {1}},
    {"schedule after a cancel", {{1, 2}, {0, 0}}, {1, 1}, true, {1}},
    {"retarget", {{1, 1}}, {1, 2}, false, {1, 2}},
    {"cancel", {{1, 1}}, {0, 0}, true, {1}},
    {"shutdown check", {{1, 1}}, {}, true, {1}, true},
};

class RollbackCrashTest : public RollbackTest {
 protected:
  std::vector<uint8_t> original_;  // disk 0's own sectors 0-4
  std::vector<uint8_t> program_;   // the program as it goes over them

  // One cut; *writes receives the operation's writes when `cut` is 0.
  void CutOnce(const Operation& op, DiskKind kind, uint32_t variant, uint64_t cut,
               uint64_t* writes) {
    ASSERT_NO_FATAL_FAILURE(BootWith(
        1, op.shutdownCheck ? storage::FileSystemKind::kFat32 : storage::FileSystemKind::kNtfs));
    ASSERT_EQ(CreateViaControl(1), STATUS_SUCCESS);
    ASSERT_EQ(CreateViaControl(2), STATUS_SUCCESS);
    original_ = BootSectors();
    for (const auto& [schedule, target] : op.before) {
      ASSERT_EQ(Rollback(schedule, target), STATUS_SUCCESS);
    }
    if (op.shutdownCheck) {
      for (size_t s = 0; s < kBootImageSectors; ++s) original_[s * 512] ^= 0x5A;
      ASSERT_EQ(Disk0().Write(0, kBootImageBytes, original_.data()).status,
                storage::kStatusSuccess);
    }
    program_ = ExpectedPreBoot(original_);
    if (kind == DiskKind::kCached) {
      ASSERT_EQ(Disk0().Flush().status, storage::kStatusSuccess);
      Disk0().EnableWriteCache(true);
    }
    const uint64_t before = Disk0().WriteCount();
    Disk0().CutPowerAfterWrites({cut, kind == DiskKind::kTorn ? variant : 0});
    if (op.shutdownCheck) {
      Shutdown();
    } else {
      Rollback(op.request.first, op.request.second);  // whatever it answers
    }
    if (cut == 0) *writes = Disk0().WriteCount() - before;
    if (kind == DiskKind::kCached) CutCachedPower(variant, cut);
    ASSERT_NO_FATAL_FAILURE(Reboot());
    ASSERT_NO_FATAL_FAILURE(CheckConsistent("after the restart", op));
    // A later request of either kind ends where it should.
    const bool pending = HeaderRecord().RollbackPending != 0;
    for (const bool schedule : {!pending, pending}) {
      SCOPED_TRACE(schedule ? "a later schedule" : "a later cancel");
      ASSERT_EQ(Rollback(schedule ? 1 : 0, schedule ? 2 : 0), STATUS_SUCCESS);
      const std::vector<uint8_t> disk = BootSectors();
      const std::vector<uint8_t>& wanted = schedule ? program_ : original_;
      EXPECT_TRUE(disk == wanted) << "sectors" << DifferingSectors(disk, wanted);
      EXPECT_EQ(HeaderRecord().RollbackPending, schedule ? 1 : 0);
      const std::vector<uint8_t> backup = Backup();
      EXPECT_TRUE(backup == original_) << "backup sectors" << DifferingSectors(backup, original_);
    }
    TearDown();
    SetUp();
  }

  void CheckConsistent(const std::string& when, const Operation& op) {
    const std::vector<uint8_t> disk = BootSectors();
    const bool isProgram = disk == program_;
    ASSERT_TRUE(isProgram || disk == original_)
        << when << ": sectors" << DifferingSectors(disk, original_)
        << " differ from the machine's own and" << DifferingSectors(disk, program_)
        << " from the program";
    const EngineHeader header = HeaderRecord();
    ASSERT_NE(Ext()->Header, nullptr);
    EXPECT_EQ(Ext()->Header->RollbackPending, header.RollbackPending) << when;
    EXPECT_EQ(header.RollbackPending, isProgram ? 1 : 0)
        << when << ": the header disagrees with disk 0";
    if (header.RollbackPending == 0) {
      EXPECT_TRUE(op.mayEndCancelled) << when << ": the rollback was lost";
      return;
    }
    EXPECT_NE(std::find(op.targets.begin(), op.targets.end(), header.RollbackTarget),
              op.targets.end())
        << when << ": target " << int{header.RollbackTarget};
    EXPECT_EQ(Ext()->Header->RollbackTarget, header.RollbackTarget) << when;
    const std::vector<uint8_t> backup = Backup();
    EXPECT_TRUE(backup == original_)
        << when << ": backup sectors" << DifferingSectors(backup, original_);
  }

  void Sweep(const Operation& op, DiskKind kind) {
    std::vector<uint32_t> variants = {0};
    if (kind == DiskKind::kTorn) variants = {1, 3};
    if (kind == DiskKind::kCached) {
      variants.clear();
      for (uint32_t seed = 0; seed <= CrashCacheSeeds(); ++seed) variants.push_back(seed);
    }
    uint64_t writes = 0;
    for (uint32_t variant : variants) {
      for (uint64_t cut = 0;; ++cut) {
        SCOPED_TRACE("cut after write " + std::to_string(cut) + ", variant " +
                     std::to_string(variant));
        ASSERT_NO_FATAL_FAILURE(CutOnce(op, kind, variant, cut, &writes));
        if (cut >= writes) break;
      }
    }
    EXPECT_GE(writes, 1u);
  }
};

class RollbackCrashSweep : public RollbackCrashTest,
                           public ::testing::WithParamInterface<Operation> {};

TEST_P(RollbackCrashSweep, EveryCutLeavesTheBootSectorsWholeAndTheHeaderAgreeing) {
  const DiskKind kinds[] = {DiskKind::kWhole, DiskKind::kTorn, DiskKind::kCached};
  const char* const names[] = {"whole writes", "torn writes", "write cache"};
  for (int k = 0; k < 3 && !HasFatalFailure(); ++k) {
    SCOPED_TRACE(names[k]);
    Sweep(GetParam(), kinds[k]);
  }
}

INSTANTIATE_TEST_SUITE_P(Operations, RollbackCrashSweep, ::testing::ValuesIn(kOperations),
                         [](const ::testing::TestParamInfo<Operation>& param) {
                           std::string name;
                           bool upper = true;
                           for (const char* c = param.param.name; *c != 0; ++c) {
                             if (*c == ' ') {
                               upper = true;
                               continue;
                             }
                             name += upper ? static_cast<char>(std::toupper(*c)) : *c;
                             upper = false;
                           }
                           return name;
                         });

}  // namespace
}  // namespace vh::test

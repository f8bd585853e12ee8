// The engine client against the real engine, hosted in this process over an
// installer-made disk image: every operation sends its request bytes to the
// control device as user mode would, and the image shows the result.
#include "link/engine_client.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "classlib/codepage.h"
#include "classlib/sysutils.h"
#include "link/engine_records.h"
#include "link/hosted_engine_device.h"
#include "link/system_helpers.h"
#include "raised_by.h"
#include "vh/enginehost/engine_host.h"

namespace kelm::link {
namespace {

constexpr uint32_t kErrorFileNotFound = 2;
constexpr uint32_t kErrorInvalidHandle = 6;
constexpr uint32_t kErrorInvalidParameter = 87;

using test::RaisedBy;

std::u16string Expected(std::u16string_view format, uint32_t error) {
  return classlib::Format(format, {SystemMessageText(error)});
}

class EngineClientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(vh::enginehost::EngineHost::Start(&host_), STATUS_SUCCESS);
    SetHostedEngine(host_.get());
    handle_ = OpenEngineDevice();
  }

  void TearDown() override {
    CloseEngineDevice(handle_);
    SetHostedEngine(nullptr);
    if (host_) {
      EXPECT_EQ(host_->Stop(), "") << "the engine or the kernel layer kept something";
    }
    host_.reset();
  }

  std::unique_ptr<EngineHeader> ImageHeader() {
    auto header = std::make_unique<EngineHeader>();
    EXPECT_EQ(host_->ReadHeaderOnImage(header.get()), STATUS_SUCCESS);
    return header;
  }

  // Sectors 0-4 of disk 0 as they stand on the image.
  std::vector<uint8_t> BootSectors() {
    std::vector<uint8_t> bytes(5 * 512);
    const storage::IoAnswer answer =
        host_->Installed().disk->Read(0, static_cast<uint32_t>(bytes.size()), bytes.data());
    EXPECT_EQ(answer.status, storage::kStatusSuccess);
    return bytes;
  }

  // The slot holding the snapshot numbered `number`, or none.
  static const SnapshotSlot* SlotNumbered(const EngineHeader& header, uint8_t number) {
    for (const SnapshotSlot& slot : header.Slots) {
      if (slot.Used == 1 && slot.Number == number) return &slot;
    }
    return nullptr;
  }

  std::unique_ptr<vh::enginehost::EngineHost> host_;
  EngineHandle handle_ = InvalidEngineHandle();
};

TEST_F(EngineClientTest, StatusAnswersTheEngineVersionModeAndSpace) {
  EngineStatus status;
  std::memset(&status, 0xCC, sizeof status);
  ASSERT_TRUE(QueryEngineStatus(handle_, u'C', status));
  EXPECT_EQ(status.InterfaceVersion, kStatusInterfaceVersion);
  EXPECT_EQ(status.EngineMode, static_cast<uint32_t>(kEngineOff)) << "no snapshot yet";
  EXPECT_EQ(status.DriveLetter, u'C');
  // The answer buffer is zeroed before the call: what the engine leaves is 0.
  for (size_t i = 0x16; i < sizeof status; ++i)
    ASSERT_EQ(reinterpret_cast<uint8_t*>(&status)[i], 0) << i;

  ASSERT_TRUE(CreateSnapshot(handle_, u'C', u"", u""));
  ASSERT_TRUE(QueryEngineStatus(handle_, u'C', status));
  EXPECT_EQ(status.EngineMode, static_cast<uint32_t>(kEngineTracking));
  EXPECT_GT(status.TotalSectors, 0u);
  EXPECT_LE(status.FreeSectors, status.TotalSectors);
}

TEST_F(EngineClientTest, CreateRecordsNameRemarkTimeAndANewGuidOnTheImage) {
  ASSERT_TRUE(CreateSnapshot(handle_, u'C', u"", u"first remark"));
  auto first = ImageHeader();
  EXPECT_EQ(first->SnapshotCount, 1);
  EXPECT_STREQ(first->NewestSnapshot.Name, "New Snapshot");
  EXPECT_STREQ(first->NewestSnapshot.Remark, "first remark");
  const RecordTime now = LocalRecordTime();
  EXPECT_EQ(static_cast<int>(first->NewestSnapshot.CreateTime.Year), static_cast<int>(now.Year));
  const RecordGuid firstGuid = first->NewestSnapshot.Guid;
  const RecordGuid zero{};
  EXPECT_NE(std::memcmp(&firstGuid, &zero, sizeof zero), 0);

  ASSERT_TRUE(CreateSnapshot(handle_, u'C', u"Before the update", u""));
  auto second = ImageHeader();
  EXPECT_EQ(second->SnapshotCount, 2);
  EXPECT_STREQ(second->NewestSnapshot.Name, "Before the update");
  EXPECT_NE(std::memcmp(&second->NewestSnapshot.Guid, &firstGuid, sizeof firstGuid), 0)
      << "a new GUID each time";
  const SnapshotSlot* older = SlotNumbered(*second, 1);
  ASSERT_NE(older, nullptr);
  EXPECT_STREQ(older->Name, "New Snapshot");
  EXPECT_EQ(std::memcmp(&older->Guid, &firstGuid, sizeof firstGuid), 0);
}

TEST_F(EngineClientTest, LongNameAndRemarkReachTheImageCutToTheirFields) {
  ASSERT_TRUE(CreateSnapshot(handle_, u'C', std::u16string(30, u'n'), std::u16string(60, u'r')));
  auto header = ImageHeader();
  EXPECT_EQ(std::string(header->NewestSnapshot.Name), std::string(23, 'n'));
  EXPECT_EQ(std::string(header->NewestSnapshot.Remark), std::string(47, 'r'));
}

TEST_F(EngineClientTest, ANonAsciiNameIsCutAfterAWholeCharacterOfTheSystemCodePage) {
  // In a multi-byte code page the accented letter straddles the field's
  // last byte: it must go whole.
  const std::u16string name = std::u16string(22, u'a') + u"\u00E9xyz";
  ASSERT_TRUE(CreateSnapshot(handle_, u'C', name, u""));
  auto header = ImageHeader();
  const std::string stored(header->NewestSnapshot.Name);
  ASSERT_LE(stored.size(), 23u);
  const std::u16string back = classlib::AnsiToWide(stored);
  ASSERT_FALSE(back.empty());
  EXPECT_EQ(name.compare(0, back.size(), back), 0) << "the stored name is a whole-character prefix";
  EXPECT_GT(stored.size() + classlib::WideToAnsi(name.substr(back.size(), 1)).size(), 23u)
      << "the next character would not have fitted";
}

TEST_F(EngineClientTest, DeleteRemovesTheNumberedSnapshot) {
  for (const char16_t* name : {u"one", u"two", u"three"})
    ASSERT_TRUE(CreateSnapshot(handle_, u'C', name, u""));
  auto before = ImageHeader();
  ASSERT_EQ(before->SnapshotCount, 3);
  ASSERT_NE(SlotNumbered(*before, 2), nullptr);
  ASSERT_TRUE(DeleteSnapshot(handle_, u'C', 2));
  auto after = ImageHeader();
  EXPECT_EQ(after->SnapshotCount, 2);
  for (const SnapshotSlot& slot : after->Slots) {
    if (slot.Used == 1) {
      EXPECT_STRNE(slot.Name, "two");
    }
  }
  ASSERT_NE(SlotNumbered(*after, 1), nullptr);
  EXPECT_STREQ(SlotNumbered(*after, 1)->Name, "one");
}

TEST_F(EngineClientTest, RollbackIsScheduledAndCancelled) {
  for (const char16_t* name : {u"one", u"two"})
    ASSERT_TRUE(CreateSnapshot(handle_, u'C', name, u""));
  const std::vector<uint8_t> bootBefore = BootSectors();
  const SnapshotSlot one = *SlotNumbered(*ImageHeader(), 1);
  ASSERT_TRUE(SetRollbackTarget(handle_, u'C', one, false));
  auto scheduled = ImageHeader();
  EXPECT_EQ(scheduled->RollbackPending, 1);
  EXPECT_EQ(scheduled->RollbackTarget, 1);
  const std::vector<uint8_t> bootScheduled = BootSectors();
  EXPECT_NE(bootScheduled, bootBefore) << "the pre-boot program is in the boot sectors";
  EXPECT_TRUE(std::equal(bootBefore.begin() + 0x1BE, bootBefore.begin() + 0x200,
                         bootScheduled.begin() + 0x1BE))
      << "the partition table is kept";
  EXPECT_EQ(
      RaisedBy([&] { CreateSnapshot(handle_, u'C', u"refused", u""); }).rfind(u"Create Error:", 0),
      0u)
      << "no snapshot while a rollback is pending";

  ASSERT_TRUE(SetRollbackTarget(handle_, u'C', one, true));
  auto cancelled = ImageHeader();
  EXPECT_EQ(cancelled->RollbackPending, 0);
  EXPECT_EQ(BootSectors(), bootBefore) << "cancelling writes the saved boot sectors back";
  EXPECT_TRUE(CreateSnapshot(handle_, u'C', u"after", u""));
}

// The caller listed "two" as number 2; the oldest went before its
// rollback arrived, so number 2 is "three" by then: the link sends the
// identity, and the engine schedules "two" under its new number.
TEST_F(EngineClientTest, ARollbackAfterADropTheCallerDidNotSeeTargetsTheSnapshotItListed) {
  for (const char16_t* name : {u"one", u"two", u"three"})
    ASSERT_TRUE(CreateSnapshot(handle_, u'C', name, u""));
  const SnapshotSlot two = *SlotNumbered(*ImageHeader(), 2);
  ASSERT_STREQ(two.Name, "two");
  ASSERT_TRUE(DeleteSnapshot(handle_, u'C', 1));
  ASSERT_TRUE(SetRollbackTarget(handle_, u'C', two, false));
  auto scheduled = ImageHeader();
  EXPECT_EQ(scheduled->RollbackPending, 1);
  ASSERT_NE(SlotNumbered(*scheduled, 1), nullptr);
  EXPECT_STREQ(SlotNumbered(*scheduled, 1)->Name, "two");
  EXPECT_EQ(scheduled->RollbackTarget, 1) << "the snapshot listed, not the one numbered 2 now";
  ASSERT_TRUE(SetRollbackTarget(handle_, u'C', two, true));
}

TEST_F(EngineClientTest, HeaderReadAndWriteRoundTripThroughTheImage) {
  ASSERT_TRUE(CreateSnapshot(handle_, u'C', u"one", u""));
  ASSERT_TRUE(CreateSnapshot(handle_, u'C', u"two", u""));
  auto header = std::make_unique<EngineHeader>();
  ASSERT_TRUE(ReadEngineHeader(handle_, u'C', *header));
  auto image = ImageHeader();
  EXPECT_EQ(std::memcmp(header.get(), image.get(), 0x200 + sizeof header->Slots), 0)
      << "the engine answers the header it keeps on the image";

  // The manager's two edits: a rename and the hourly-schedule flag.
  SnapshotSlot* one = nullptr;
  for (SnapshotSlot& slot : header->Slots) {
    if (slot.Used == 1 && slot.Number == 1) one = &slot;
  }
  ASSERT_NE(one, nullptr);
  std::memset(one->Name, 0, sizeof one->Name);
  std::memcpy(one->Name, "Renamed", 7);
  header->HourlySchedule = 1;
  ASSERT_TRUE(WriteEngineHeader(handle_, u'C', *header));

  auto written = ImageHeader();
  EXPECT_EQ(written->HourlySchedule, 1);
  ASSERT_NE(SlotNumbered(*written, 1), nullptr);
  EXPECT_STREQ(SlotNumbered(*written, 1)->Name, "Renamed");
  auto reread = std::make_unique<EngineHeader>();
  ASSERT_TRUE(ReadEngineHeader(handle_, u'C', *reread));
  EXPECT_EQ(reread->HourlySchedule, 1);
}

TEST_F(EngineClientTest, StartOfTemporaryModeSwitchesTheEngineMode) {
  VolumeRequest request = MakeVolumeRequest(u'C', LocalRecordTime());
  SendEngineRequest(handle_, IOCTL_ENGINE_START_TEMPORARY, &request, sizeof request, &request,
                    sizeof request, u"Control Error:%s");
  EngineStatus status;
  ASSERT_TRUE(QueryEngineStatus(handle_, u'C', status));
  EXPECT_EQ(status.EngineMode, static_cast<uint32_t>(kEngineTemporary));
}

struct FailureCase {
  const char* label;
  const char16_t* format;
  std::function<void(EngineHandle)> operation;
};

const FailureCase kFailures[] = {
    {"status", u"Fail to get the version :%s",
     [](EngineHandle h) {
       EngineStatus s;
       QueryEngineStatus(h, u'C', s);
     }},
    {"create", u"Create Error:%s", [](EngineHandle h) { CreateSnapshot(h, u'C', u"x", u"y"); }},
    {"delete", u"Delete Error:%s", [](EngineHandle h) { DeleteSnapshot(h, u'C', 1); }},
    {"rollback", u"Control Error:%s",
     [](EngineHandle h) {
       SnapshotSlot target{};
       target.Number = 1;
       SetRollbackTarget(h, u'C', target, false);
     }},
    {"read", u"Read Error:%s",
     [](EngineHandle h) {
       auto header = std::make_unique<EngineHeader>();
       ReadEngineHeader(h, u'C', *header);
     }},
    {"write", u"Write Error:%s",
     [](EngineHandle h) {
       auto header = std::make_unique<EngineHeader>();
       std::memset(header.get(), 0, sizeof *header);
       WriteEngineHeader(h, u'C', *header);
     }},
};

TEST_F(EngineClientTest, EveryOperationOnAnInvalidHandleRaisesItsTextWithTheInvalidHandleText) {
  for (const FailureCase& c : kFailures) {
    EXPECT_EQ(RaisedBy([&] { c.operation(InvalidEngineHandle()); }),
              Expected(c.format, kErrorInvalidHandle))
        << c.label;
  }
}

TEST_F(EngineClientTest, RefusedRequestsRaiseTheirTextWithTheSystemsReason) {
  for (const char16_t* name : {u"one", u"two"})
    ASSERT_TRUE(CreateSnapshot(handle_, u'C', name, u""));
  // The engine refuses a delete of a number it does not hold and a header
  // that is not its own (0xC000000D: the system's invalid-parameter text).
  EXPECT_EQ(RaisedBy([&] { DeleteSnapshot(handle_, u'C', 9); }),
            Expected(u"Delete Error:%s", kErrorInvalidParameter));
  auto header = std::make_unique<EngineHeader>();
  std::memset(header.get(), 0, sizeof *header);
  EXPECT_EQ(RaisedBy([&] { WriteEngineHeader(handle_, u'C', *header); }),
            Expected(u"Write Error:%s", kErrorInvalidParameter));
  auto image = ImageHeader();
  EXPECT_EQ(image->Magic, kEngineMagic) << "a refused header write leaves the image alone";
}

TEST_F(EngineClientTest, ANewHandleWorksAfterTheOldOneIsClosed) {
  CloseEngineDevice(handle_);
  EngineStatus status;
  EXPECT_EQ(RaisedBy([&] { QueryEngineStatus(handle_, u'C', status); }),
            Expected(u"Fail to get the version :%s", kErrorInvalidHandle))
      << "a closed handle is invalid";
  handle_ = OpenEngineDevice();
  EXPECT_TRUE(QueryEngineStatus(handle_, u'C', status));
}

TEST(EngineClientWithoutEngine, OpeningFailsWithTheConnectTextAndTheInstallAdvice) {
  SetHostedEngine(nullptr);
  const std::u16string expected =
      u"Connect Error:" + SystemMessageText(kErrorFileNotFound) + u"\r\n" +
      u"If you did not install the product, please install it and restart your "
      u"system first!";
  EXPECT_EQ(RaisedBy([] { OpenEngineDevice(); }), expected);
}

}  // namespace
}  // namespace kelm::link

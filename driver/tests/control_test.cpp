// The control protocol through a user-mode caller's DeviceIoControl: every
// code's length rules, refusals and answers against the engine's state,
// with the bytes the caller sees and what changed on disk.
#include <cstring>
#include <string>
#include <vector>

#include "device_security.h"
#include "control_fixture.h"
#include "engine_header.h"
#include "engine_lock.h"
#include "engine_state.h"

namespace vh::test {
namespace {

enum class State {
  kNoHeader,         // installed, nothing tracked yet: no header loaded
  kThreeSnapshots,   // tracking with snapshots 1..3
  kRollbackPending,  // three snapshots, a rollback to 2 scheduled
  kTemporary,        // three snapshots, temporary mode running
};

using Edit = void (*)(std::vector<uint8_t>& in);

struct Case {
  const char* name;
  State state;
  ULONG code;
  ULONG in;   // input length; the request is a VolumeRequest for C: unless edited
  ULONG out;  // output length
  Edit edit;
  NTSTATUS status;
  ULONG bytes;  // bytes returned
  bool headerChanges;
  bool bootChanges;  // disk 0's sectors 0-4
};

void Number(std::vector<uint8_t>& in, uint32_t n) {
  SetU32(in, offsetof(VolumeRequest, SnapshotNumber), n);
}
void Number0(std::vector<uint8_t>& in) { Number(in, 0); }
void Number2(std::vector<uint8_t>& in) { Number(in, 2); }
void Number3(std::vector<uint8_t>& in) { Number(in, 3); }
void Number33(std::vector<uint8_t>& in) { Number(in, 33); }
void LowerCaseLetter(std::vector<uint8_t>& in) { in[offsetof(VolumeRequest, VolumeName)] = 'c'; }
void UnknownLetter(std::vector<uint8_t>& in) { in[offsetof(VolumeRequest, VolumeName)] = 'Q'; }
void AsRollback(std::vector<uint8_t>& in, uint8_t schedule, uint8_t target) {
  std::vector<uint8_t> r = RollbackRequestFor(schedule, target);
  std::memcpy(in.data(), r.data(), r.size());
}
void Schedule0(std::vector<uint8_t>& in) { AsRollback(in, 1, 0); }
void Schedule2(std::vector<uint8_t>& in) { AsRollback(in, 1, 2); }
void Schedule3(std::vector<uint8_t>& in) { AsRollback(in, 1, 3); }
void Schedule4(std::vector<uint8_t>& in) { AsRollback(in, 1, 4); }
void Cancel(std::vector<uint8_t>& in) { AsRollback(in, 0, 0); }
void Selector(std::vector<uint8_t>& in, uint32_t s) { SetU32(in, 0, s); }
void Selector1Missing(std::vector<uint8_t>& in) {
  Selector(in, 1);
  const char16_t path[] = u"\\??\\C:\\no such file";
  std::memcpy(&in[4], path, sizeof path);
}
void Selector1Windows(std::vector<uint8_t>& in) {
  Selector(in, 1);
  const char16_t path[] = u"\\??\\C:\\Windows";
  std::memcpy(&in[4], path, sizeof path);
}
void Selector7(std::vector<uint8_t>& in) { Selector(in, 7); }
void Selector3(std::vector<uint8_t>& in) { Selector(in, 3); }
void ExcludeNothing(std::vector<uint8_t>&) {}
void WholeHeaderCopy(std::vector<uint8_t>&) {}

constexpr ULONG kIn = kRequestBytes;
constexpr ULONG kHdr = kEngineHeaderBytes;
constexpr NTSTATUS kRefused = STATUS_INVALID_PARAMETER;
constexpr NTSTATUS kSmall = STATUS_BUFFER_OVERFLOW;
constexpr NTSTATUS kNoDevice = STATUS_NO_SUCH_DEVICE;

const Case kCases[] = {
    // Unknown codes, including the undefined functions 0x809-0x80D.
    {"UnknownCode", State::kThreeSnapshots, 0x80002024, kIn, 0, nullptr, STATUS_NOT_IMPLEMENTED, 0,
     false, false},
    {"UnknownCodeLast", State::kThreeSnapshots, 0x80002034, kIn, kIn, nullptr,
     STATUS_NOT_IMPLEMENTED, 0, false, false},
    {"UnknownCodeAfter", State::kThreeSnapshots, 0x80002050, 0, 0, nullptr, STATUS_NOT_IMPLEMENTED,
     0, false, false},
    // Query status.
    {"QueryShortInput", State::kThreeSnapshots, IOCTL_ENGINE_QUERY_STATUS, kIn - 1, 512, nullptr,
     kSmall, 0, false, false},
    {"QueryShortOutput", State::kThreeSnapshots, IOCTL_ENGINE_QUERY_STATUS, kIn, 511, nullptr,
     kSmall, 0, false, false},
    {"Query", State::kThreeSnapshots, IOCTL_ENGINE_QUERY_STATUS, kIn, 600, nullptr, STATUS_SUCCESS,
     512, false, false},
    {"QueryNoHeader", State::kNoHeader, IOCTL_ENGINE_QUERY_STATUS, kIn, 512, nullptr,
     STATUS_SUCCESS, 512, false, false},
    {"QueryLowerCaseLetter", State::kThreeSnapshots, IOCTL_ENGINE_QUERY_STATUS, kIn, 512,
     LowerCaseLetter, STATUS_UNSUCCESSFUL, 0, false, false},
    {"QueryUnknownLetter", State::kThreeSnapshots, IOCTL_ENGINE_QUERY_STATUS, kIn, 512,
     UnknownLetter, STATUS_UNSUCCESSFUL, 0, false, false},
    // Start temporary mode.
    {"TemporaryShortInput", State::kThreeSnapshots, IOCTL_ENGINE_START_TEMPORARY, 511, 0, nullptr,
     kSmall, 0, false, false},
    {"TemporaryAgain", State::kTemporary, IOCTL_ENGINE_START_TEMPORARY, 512, 0, nullptr,
     STATUS_SUCCESS, 0, false, false},
    // Create.
    {"CreateShortInput", State::kThreeSnapshots, IOCTL_ENGINE_CREATE_SNAPSHOT, kIn - 1, 0, nullptr,
     kSmall, 0, false, false},
    {"CreateNoOutput", State::kThreeSnapshots, IOCTL_ENGINE_CREATE_SNAPSHOT, kIn, 0, nullptr,
     STATUS_SUCCESS, 0, true, false},
    {"CreateEchoesAtMostTheOutput", State::kThreeSnapshots, IOCTL_ENGINE_CREATE_SNAPSHOT, kIn, 16,
     nullptr, STATUS_SUCCESS, 16, true, false},
    {"CreateEchoesTheInput", State::kThreeSnapshots, IOCTL_ENGINE_CREATE_SNAPSHOT, kIn, 4096,
     nullptr, STATUS_SUCCESS, kIn, true, false},
    {"CreateFirstLoadsTheHeader", State::kNoHeader, IOCTL_ENGINE_CREATE_SNAPSHOT, kIn, kIn, nullptr,
     STATUS_SUCCESS, kIn, true, false},
    {"CreateRollbackPending", State::kRollbackPending, IOCTL_ENGINE_CREATE_SNAPSHOT, kIn, 0,
     nullptr, kRefused, 0, false, false},
    {"CreateInTemporaryMode", State::kTemporary, IOCTL_ENGINE_CREATE_SNAPSHOT, kIn, 0, nullptr,
     kRefused, 0, false, false},
    // Delete.
    {"DeleteNoHeader", State::kNoHeader, IOCTL_ENGINE_DELETE_SNAPSHOT, kIn, 0, Number2, kNoDevice,
     0, false, false},
    {"DeleteNewest", State::kThreeSnapshots, IOCTL_ENGINE_DELETE_SNAPSHOT, kIn, 0, Number3,
     kRefused, 0, false, false},
    {"DeleteNumberZero", State::kThreeSnapshots, IOCTL_ENGINE_DELETE_SNAPSHOT, kIn, 0, Number0,
     STATUS_UNSUCCESSFUL, 0, false, false},
    {"DeleteMiddle", State::kThreeSnapshots, IOCTL_ENGINE_DELETE_SNAPSHOT, kIn, kIn, Number2,
     STATUS_SUCCESS, kIn, true, false},
    {"DeleteRollbackPending", State::kRollbackPending, IOCTL_ENGINE_DELETE_SNAPSHOT, kIn, 0,
     Number2, kRefused, 0, false, false},
    // Rollback.
    {"RollbackShortInput", State::kThreeSnapshots, IOCTL_ENGINE_SET_ROLLBACK, kIn - 1, 0, Schedule2,
     kSmall, 0, false, false},
    {"RollbackNoHeader", State::kNoHeader, IOCTL_ENGINE_SET_ROLLBACK, kIn, 0, Schedule2, kNoDevice,
     0, false, false},
    {"RollbackTargetZero", State::kThreeSnapshots, IOCTL_ENGINE_SET_ROLLBACK, kIn, 0, Schedule0,
     kRefused, 0, false, false},
    {"RollbackTargetPastNewest", State::kThreeSnapshots, IOCTL_ENGINE_SET_ROLLBACK, kIn, 0,
     Schedule4, kRefused, 0, false, false},
    {"RollbackSchedule", State::kThreeSnapshots, IOCTL_ENGINE_SET_ROLLBACK, kIn, kIn, Schedule2,
     STATUS_SUCCESS, kIn, true, true},
    {"RollbackSameTargetAgain", State::kRollbackPending, IOCTL_ENGINE_SET_ROLLBACK, kIn, 0,
     Schedule2, STATUS_SUCCESS, 0, false, false},
    {"RollbackOtherTarget", State::kRollbackPending, IOCTL_ENGINE_SET_ROLLBACK, kIn, 0, Schedule3,
     STATUS_SUCCESS, 0, true, false},
    {"RollbackCancelNothing", State::kThreeSnapshots, IOCTL_ENGINE_SET_ROLLBACK, kIn, 0, Cancel,
     STATUS_SUCCESS, 0, false, false},
    {"RollbackCancel", State::kRollbackPending, IOCTL_ENGINE_SET_ROLLBACK, kIn, 0, Cancel,
     STATUS_SUCCESS, 0, true, true},
    // Header read and write.
    {"ReadHeaderShortOutput", State::kThreeSnapshots, IOCTL_ENGINE_READ_HEADER, kIn, kHdr - 1,
     nullptr, kSmall, 0, false, false},
    {"ReadHeader", State::kThreeSnapshots, IOCTL_ENGINE_READ_HEADER, kIn, kHdr, nullptr,
     STATUS_SUCCESS, kHdr, false, false},
    {"ReadHeaderFile", State::kNoHeader, IOCTL_ENGINE_READ_HEADER, kIn, kHdr, nullptr,
     STATUS_SUCCESS, kHdr, false, false},
    {"WriteHeaderShortInput", State::kThreeSnapshots, IOCTL_ENGINE_WRITE_HEADER,
     kHeaderWriteBytes - 1, 0, nullptr, kSmall, 0, false, false},
    {"WriteHeaderNotValid", State::kThreeSnapshots, IOCTL_ENGINE_WRITE_HEADER, kHeaderWriteBytes, 0,
     nullptr, kRefused, 0, false, false},
    {"WriteHeaderSame", State::kThreeSnapshots, IOCTL_ENGINE_WRITE_HEADER, kHeaderWriteBytes, 8,
     WholeHeaderCopy, STATUS_SUCCESS, 8, false, false},
    // Snapshot drives.
    {"MountNoHeader", State::kNoHeader, IOCTL_ENGINE_MOUNT_SNAPSHOT, kIn, 0, Number2, kNoDevice, 0,
     false, false},
    {"MountNumberZero", State::kThreeSnapshots, IOCTL_ENGINE_MOUNT_SNAPSHOT, kIn, 0, Number0,
     kRefused, 0, false, false},
    {"MountNumber33", State::kThreeSnapshots, IOCTL_ENGINE_MOUNT_SNAPSHOT, kIn, 0, Number33,
     kRefused, 0, false, false},
    {"UnmountNotMounted", State::kThreeSnapshots, IOCTL_ENGINE_UNMOUNT_SNAPSHOT, kIn, kIn, Number2,
     STATUS_SUCCESS, kIn, false, false},
    {"UnmountNumberZero", State::kThreeSnapshots, IOCTL_ENGINE_UNMOUNT_SNAPSHOT, kIn, 0, Number0,
     kRefused, 0, false, false},
    {"MountTableShortOutput", State::kThreeSnapshots, IOCTL_ENGINE_GET_MOUNT_TABLE, kIn, 3662,
     nullptr, kSmall, 0, false, false},
    {"MountTableNoHeader", State::kNoHeader, IOCTL_ENGINE_GET_MOUNT_TABLE, kIn, 3663, nullptr,
     kNoDevice, 0, false, false},
    {"MountTable", State::kThreeSnapshots, IOCTL_ENGINE_GET_MOUNT_TABLE, kIn, 4000, nullptr,
     STATUS_SUCCESS, 3663, false, false},
    // Maintenance.
    {"ReclaimNoHeader", State::kNoHeader, IOCTL_ENGINE_RECLAIM_SPACE, kIn, 0, nullptr, kNoDevice, 0,
     false, false},
    {"ReclaimNothingPending", State::kThreeSnapshots, IOCTL_ENGINE_RECLAIM_SPACE, kIn, 0, nullptr,
     STATUS_SUCCESS, 0, false, false},
    {"SystemShortOutput", State::kThreeSnapshots, IOCTL_ENGINE_SYSTEM_CONTROL, kIn, 511, Selector7,
     kSmall, 0, false, false},
    {"SystemOtherSelector", State::kThreeSnapshots, IOCTL_ENGINE_SYSTEM_CONTROL, kIn, 512,
     Selector7, STATUS_SUCCESS, 0, false, false},
    {"SystemOpenTestMissing", State::kThreeSnapshots, IOCTL_ENGINE_SYSTEM_CONTROL, kIn, 520,
     Selector1Missing, STATUS_SUCCESS, 520, false, false},
    {"SystemOpenTestFound", State::kThreeSnapshots, IOCTL_ENGINE_SYSTEM_CONTROL, kIn, 512,
     Selector1Windows, STATUS_SUCCESS, 512, false, false},
    {"ProbeShortInput", State::kThreeSnapshots, IOCTL_ENGINE_PROBE_FILE, kIn - 1, 512,
     Selector1Windows, kSmall, 0, false, false},
    {"ProbeFound", State::kThreeSnapshots, IOCTL_ENGINE_PROBE_FILE, kIn, 512, Selector1Windows,
     STATUS_SUCCESS, 512, false, false},
    {"StopNoHeader", State::kNoHeader, IOCTL_ENGINE_STOP_VOLUME, kIn, 0, nullptr, STATUS_SUCCESS, 0,
     false, false},
    {"StopInTemporaryMode", State::kTemporary, IOCTL_ENGINE_STOP_VOLUME, kIn, 0, nullptr, kRefused,
     0, false, false},
    {"SystemStopInTemporaryMode", State::kTemporary, IOCTL_ENGINE_SYSTEM_CONTROL, kIn, 512,
     Selector3, kRefused, 0, false, false},
    {"ExcludeShortInput", State::kThreeSnapshots, IOCTL_ENGINE_ADD_EXCLUDED_FILE, kIn - 1, 0,
     nullptr, kSmall, 0, false, false},
    {"ExcludeEmptyPath", State::kThreeSnapshots, IOCTL_ENGINE_ADD_EXCLUDED_FILE, kIn, 0,
     ExcludeNothing, kRefused, 0, false, false},
};

class ControlConformanceTest : public ControlTest, public ::testing::WithParamInterface<Case> {
 protected:
  void Enter(State state) {
    ASSERT_NO_FATAL_FAILURE(BootMachine());
    if (state == State::kNoHeader) {
      ASSERT_EQ(Ext()->Header, nullptr);
      return;
    }
    for (uint32_t serial = 1; serial <= 3; ++serial)
      ASSERT_EQ(CreateViaControl(serial), STATUS_SUCCESS);
    if (state == State::kRollbackPending) {
      ASSERT_EQ(Send(IOCTL_ENGINE_SET_ROLLBACK, RollbackRequestFor(1, 2), 0).status,
                STATUS_SUCCESS);
    }
    if (state == State::kTemporary) {
      ASSERT_EQ(Send(IOCTL_ENGINE_START_TEMPORARY, std::vector<uint8_t>(512, 0), 0).status,
                STATUS_SUCCESS);
      ASSERT_EQ(Ext()->EngineMode, static_cast<ULONG>(EngineModeTemporary));
    }
  }
};

TEST_P(ControlConformanceTest, AnswersAndChangesAsTheRulesSay) {
  const Case& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(Enter(c.state));
  std::vector<uint8_t> in = VolumeRequestFor(u'C', std::max<size_t>(c.in, kRequestBytes));
  if (c.edit == WholeHeaderCopy) {
    std::vector<uint8_t> header = HeaderOnDisk();
    std::memcpy(&in[kRequestBytes], header.data(), header.size());
  }
  if (c.edit != nullptr) c.edit(in);
  in.resize(c.in);
  const std::vector<uint8_t> headerBefore = HeaderOnDisk();
  const std::vector<uint8_t> bootBefore = BootSectors();

  ControlAnswer a = Send(c.code, in, c.out);

  EXPECT_EQ(a.status, c.status);
  EXPECT_EQ(a.bytes, c.bytes);
  for (ULONG i = a.bytes; i < c.out; ++i) {
    ASSERT_EQ(a.out[i], 0xEE) << "byte " << i << " came back beyond the bytes returned";
  }
  EXPECT_EQ(HeaderOnDisk() != headerBefore, c.headerChanges);
  EXPECT_EQ(BootSectors() != bootBefore, c.bootChanges);
}

INSTANTIATE_TEST_SUITE_P(Codes, ControlConformanceTest, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& param) {
                           return std::string(param.param.name);
                         });

// ---------------------------------------------------------------- answers' contents

class ControlAnswerTest : public ControlTest {};

TEST_F(ControlAnswerTest, StatusAnswerCarriesVersionModeSpaceAndLetterAndNothingElse) {
  ASSERT_NO_FATAL_FAILURE(BootMachine());
  ASSERT_EQ(CreateViaControl(1), STATUS_SUCCESS);
  ControlAnswer a = Send(IOCTL_ENGINE_QUERY_STATUS, VolumeRequestFor(), 512);
  ASSERT_EQ(a.status, STATUS_SUCCESS);
  EngineStatus s;
  std::memcpy(&s, a.out.data(), sizeof s);
  EXPECT_EQ(s.InterfaceVersion, 0x831u);
  EXPECT_EQ(s.EngineMode, 1u);
  EXPECT_EQ(s.PnpState, 1u);
  EXPECT_EQ(s.FreeSectors, Ext()->FreeSectors);
  EXPECT_EQ(s.TotalSectors, Ext()->TotalSectors);
  EXPECT_GT(s.TotalSectors, 0u);
  EXPECT_EQ(s.DriveLetter, u'C');
  for (size_t i = 0x16; i < 512; ++i) ASSERT_EQ(a.out[i], 0) << i;
}

TEST_F(ControlAnswerTest, HeaderReadIsTheLiveHeaderAndTheMountTableIsWhole) {
  ASSERT_NO_FATAL_FAILURE(BootMachine());
  ASSERT_EQ(CreateViaControl(1), STATUS_SUCCESS);
  ASSERT_EQ(CreateViaControl(2), STATUS_SUCCESS);
  ControlAnswer a = Send(IOCTL_ENGINE_READ_HEADER, VolumeRequestFor(), kEngineHeaderBytes);
  ASSERT_EQ(a.status, STATUS_SUCCESS);
  EXPECT_EQ(a.out, HeaderOnDisk());
  EXPECT_EQ(std::memcmp(a.out.data(), Ext()->Header, kEngineHeaderBytes), 0);
  EXPECT_STREQ(Ext()->Header->NewestSnapshot.Name, "snap 2");

  ControlAnswer m = Send(IOCTL_ENGINE_GET_MOUNT_TABLE, VolumeRequestFor(), sizeof(MountTable));
  ASSERT_EQ(m.status, STATUS_SUCCESS);
  auto* control = static_cast<ControlExtension*>(EngineControlDevice->DeviceExtension);
  EXPECT_EQ(std::memcmp(m.out.data(), control->MountTable, sizeof(MountTable)), 0);
}

TEST_F(ControlAnswerTest, OpenTestAnswersInTheFirstWord) {
  ASSERT_NO_FATAL_FAILURE(BootMachine());
  std::vector<uint8_t> in(kRequestBytes, 0);
  Selector1Windows(in);
  ControlAnswer found = Send(IOCTL_ENGINE_SYSTEM_CONTROL, in, 512);
  ASSERT_EQ(found.status, STATUS_SUCCESS);
  uint32_t word;
  std::memcpy(&word, found.out.data(), 4);
  EXPECT_EQ(word, 1u);
  Selector1Missing(in);
  ControlAnswer missing = Send(IOCTL_ENGINE_PROBE_FILE, in, 512);
  ASSERT_EQ(missing.status, STATUS_SUCCESS);
  std::memcpy(&word, missing.out.data(), 4);
  EXPECT_EQ(word, 0u);
}

TEST_F(ControlAnswerTest, StopSetsTheFlagOnceAndRefusesTheSecond) {
  ASSERT_NO_FATAL_FAILURE(BootMachine());
  ASSERT_EQ(CreateViaControl(1), STATUS_SUCCESS);
  EXPECT_EQ(Send(IOCTL_ENGINE_STOP_VOLUME, VolumeRequestFor(), 0).status, STATUS_SUCCESS);
  EXPECT_EQ(Ext()->StopFlag, 1);
  EXPECT_EQ(Send(IOCTL_ENGINE_STOP_VOLUME, VolumeRequestFor(), 0).status, STATUS_INVALID_PARAMETER);
  std::vector<uint8_t> in(kRequestBytes, 0);
  Selector(in, 3);
  EXPECT_EQ(Send(IOCTL_ENGINE_SYSTEM_CONTROL, in, 512).status, STATUS_INVALID_PARAMETER);
  EXPECT_EQ(Send(IOCTL_ENGINE_CREATE_SNAPSHOT, VolumeRequestFor(), 0).status,
            STATUS_INVALID_PARAMETER);
}

TEST_F(ControlAnswerTest, MountRecordsTheDriveOnceAndUnmountClearsItsEntry) {
  ASSERT_NO_FATAL_FAILURE(BootMachine());
  ASSERT_EQ(CreateViaControl(1), STATUS_SUCCESS);
  ASSERT_EQ(CreateViaControl(2), STATUS_SUCCESS);
  std::vector<uint8_t> in = VolumeRequestFor();
  Number(in, 1);
  SetU32(in, offsetof(VolumeRequest, MountDriveIndex), 3);  // "D"
  SetU32(in, offsetof(VolumeRequest, MountNoLetter), 1);
  ControlAnswer a = Send(IOCTL_ENGINE_MOUNT_SNAPSHOT, in, kRequestBytes);
  ASSERT_EQ(a.status, STATUS_SUCCESS);
  EXPECT_EQ(a.bytes, kRequestBytes);
  auto* control = static_cast<ControlExtension*>(EngineControlDevice->DeviceExtension);
  const MountEntry entry = control->MountTable->Entries[0];
  // The record is packed: its fields are read into aligned copies.
  const uint64_t volumeDevice = entry.VolumeDevice, mountDevice = entry.MountDevice;
  EXPECT_EQ(entry.InUse, 1);
  EXPECT_EQ(volumeDevice, reinterpret_cast<ULONG_PTR>(Device()));
  EXPECT_NE(mountDevice, 0u);
  const std::u16string expectedName = u"\\Device\\5E27-B4D9-4A1F-9C63\\";
  std::u16string name(expectedName.size() + 1, u'?');
  std::memcpy(&name[0], entry.DeviceName, name.size() * 2);
  EXPECT_EQ(name, expectedName + u'\0');

  // Again: nothing new is made.
  EXPECT_EQ(Send(IOCTL_ENGINE_MOUNT_SNAPSHOT, in, 0).status, STATUS_SUCCESS);
  const uint64_t mountAgain = control->MountTable->Entries[0].MountDevice;
  EXPECT_EQ(mountAgain, mountDevice);

  ControlAnswer u = Send(IOCTL_ENGINE_UNMOUNT_SNAPSHOT, in, 0);
  ASSERT_EQ(u.status, STATUS_SUCCESS);
  const MountEntry cleared = control->MountTable->Entries[0];
  const uint64_t clearedVolume = cleared.VolumeDevice, clearedMount = cleared.MountDevice;
  EXPECT_EQ(cleared.InUse, 0);
  EXPECT_EQ(clearedVolume, 0u);
  EXPECT_EQ(clearedMount, 0u);
  const std::vector<uint8_t> zeros(76, 0);
  EXPECT_EQ(std::memcmp(cleared.DeviceName, zeros.data(), zeros.size()), 0);
}

// ---------------------------------------------------------------- request strings

// A string that runs to the end of its field, or of the request, is refused
// before anything is looked up with it.
TEST_F(ControlAnswerTest, StringsWithoutTheirEndInsideTheirFieldAreRefused) {
  ASSERT_NO_FATAL_FAILURE(BootMachine());
  ASSERT_EQ(CreateViaControl(1), STATUS_SUCCESS);
  const std::vector<uint8_t> header = HeaderOnDisk();

  std::vector<uint8_t> name = VolumeRequestFor();
  SetU32(name, offsetof(VolumeRequest, VolumeNameKind), 0);  // a device name
  for (size_t i = 0; i < 520; i += 2) name[offsetof(VolumeRequest, VolumeName) + i] = 'X';
  EXPECT_EQ(Send(IOCTL_ENGINE_QUERY_STATUS, name, 512).status, STATUS_INVALID_PARAMETER);

  std::vector<uint8_t> snapName = VolumeRequestFor();
  std::memset(&snapName[offsetof(VolumeRequest, SnapshotName)], 'n', 24);
  EXPECT_EQ(Send(IOCTL_ENGINE_CREATE_SNAPSHOT, snapName, 0).status, STATUS_INVALID_PARAMETER);
  std::vector<uint8_t> remark = VolumeRequestFor();
  std::memset(&remark[offsetof(VolumeRequest, SnapshotRemark)], 'r', 48);
  EXPECT_EQ(Send(IOCTL_ENGINE_CREATE_SNAPSHOT, remark, 0).status, STATUS_INVALID_PARAMETER);

  std::vector<uint8_t> exclude = VolumeRequestFor();
  for (size_t i = offsetof(VolumeRequest, ExcludePath); i + 1 < exclude.size(); i += 2)
    exclude[i] = 'e';
  exclude.back() = 'e';
  EXPECT_EQ(Send(IOCTL_ENGINE_ADD_EXCLUDED_FILE, exclude, 0).status, STATUS_INVALID_PARAMETER);

  std::vector<uint8_t> path(kRequestBytes, 0);
  Selector(path, 1);
  for (size_t i = 4; i < path.size(); i += 2) path[i] = 'p';
  EXPECT_EQ(Send(IOCTL_ENGINE_SYSTEM_CONTROL, path, 512).status, STATUS_INVALID_PARAMETER);
  EXPECT_EQ(Send(IOCTL_ENGINE_PROBE_FILE, path, 512).status, STATUS_INVALID_PARAMETER);

  EXPECT_EQ(HeaderOnDisk(), header);
  EXPECT_EQ(Ext()->Header->SnapshotCount, 1);
}

// A path longer than the 1,024-byte request still counts when the request
// carries it whole.
TEST_F(ControlAnswerTest, PathsMayRunPastTheRequestRecordWhenTheInputHoldsThem) {
  ASSERT_NO_FATAL_FAILURE(BootMachine());
  std::vector<uint8_t> in(4096, 0);
  Selector(in, 1);
  std::u16string path = u"\\??\\C:\\Windows";
  while (path.size() < 700) path += u"\\.";
  std::memcpy(&in[4], path.data(), path.size() * 2);
  ControlAnswer a = Send(IOCTL_ENGINE_SYSTEM_CONTROL, in, 512);
  EXPECT_EQ(a.status, STATUS_SUCCESS);
  EXPECT_EQ(a.bytes, 512u);
}

// ---------------------------------------------------------------- header write

TEST_F(ControlAnswerTest, HeaderWriteTakesOnlyNamesRemarksAndTheHourlyFlag) {
  ASSERT_NO_FATAL_FAILURE(BootMachine());
  ASSERT_EQ(CreateViaControl(1), STATUS_SUCCESS);
  ASSERT_EQ(CreateViaControl(2), STATUS_SUCCESS);
  const EngineHeader before = HeaderRecord();

  EngineHeader client = before;
  std::strcpy(client.NewestSnapshot.Name, "renamed newest");
  std::strcpy(client.NewestSnapshot.Remark, "a remark");
  std::strcpy(client.Slots[0].Name, "renamed older");
  client.HourlySchedule = 1;
  // Engine fields a stale or hostile client might send.
  client.SnapshotCount = 5;
  client.CountCopy = 5;
  client.OldestNumber = 0;
  client.BlockMapFirst += 64;
  client.SpaceBitmapSector += 1;
  client.Slots[0].SavedMapSector += 64;
  client.RollbackPending = 1;
  client.Preserved[0] ^= 0xFF;
  std::vector<uint8_t> in = VolumeRequestFor(u'C', kHeaderWriteBytes);
  std::memcpy(&in[kRequestBytes], &client, sizeof client);

  ControlAnswer a = Send(IOCTL_ENGINE_WRITE_HEADER, in, 0);
  ASSERT_EQ(a.status, STATUS_SUCCESS);

  EngineHeader expected = before;
  std::strcpy(expected.NewestSnapshot.Name, "renamed newest");
  std::strcpy(expected.NewestSnapshot.Remark, "a remark");
  std::strcpy(expected.Slots[0].Name, "renamed older");
  expected.HourlySchedule = 1;
  const EngineHeader after = HeaderRecord();
  EXPECT_EQ(std::memcmp(&after, &expected, sizeof after), 0);
  EXPECT_EQ(std::memcmp(Ext()->Header, &expected, sizeof expected), 0);

  // A name that fills its field leaves both headers as they were.
  std::memset(client.Slots[3].Name, 'z', sizeof client.Slots[3].Name);
  std::memcpy(&in[kRequestBytes], &client, sizeof client);
  EXPECT_EQ(Send(IOCTL_ENGINE_WRITE_HEADER, in, 0).status, STATUS_INVALID_PARAMETER);
  const EngineHeader unchanged = HeaderRecord();
  EXPECT_EQ(std::memcmp(&unchanged, &expected, sizeof expected), 0);
}

// ---------------------------------------------------------------- create without a loaded header

// The engine state of a volume with snapshots goes (as after a failed load);
// a create then loads the header again and keeps every snapshot it lists.
TEST_F(ControlAnswerTest, CreateWithoutALoadedHeaderKeepsTheSnapshotsOnDisk) {
  ASSERT_NO_FATAL_FAILURE(BootMachine());
  constexpr uint64_t kBlock = 28000;
  AllocateBlocks(kBlock, 1);
  std::vector<uint8_t> first(kBlockBytes, 0x11);
  ASSERT_EQ(Write(kBlock * kBlockBytes, first), STATUS_SUCCESS);
  ASSERT_EQ(CreateViaControl(1), STATUS_SUCCESS);
  std::vector<uint8_t> second(kBlockBytes, 0x22);
  ASSERT_EQ(Write(kBlock * kBlockBytes, second), STATUS_SUCCESS);
  ASSERT_EQ(CreateViaControl(2), STATUS_SUCCESS);
  std::vector<uint8_t> third(kBlockBytes, 0x33);
  ASSERT_EQ(Write(kBlock * kBlockBytes, third), STATUS_SUCCESS);

  EngineLock();
  PauseVolumeWorker(Ext(), 1);
  FreeVolumeEngineState(Ext());
  PauseVolumeWorker(Ext(), 0);
  EngineUnlock();
  ASSERT_EQ(Ext()->Header, nullptr);

  ASSERT_EQ(CreateViaControl(3), STATUS_SUCCESS);
  Restorer r(Installed());
  ASSERT_EQ(r.Count(), 3u);
  RestoredWindow one = r.Restore(1, kBlock, 1);
  RestoredWindow two = r.Restore(2, kBlock, 1);
  RestoredWindow three = r.Restore(3, kBlock, 1);
  ASSERT_EQ(one.fault, "");
  EXPECT_EQ(one.bytes, first);
  EXPECT_EQ(two.bytes, second);
  EXPECT_EQ(three.bytes, third);
}

TEST_F(ControlAnswerTest, CreateWithoutALoadedHeaderStillObeysTheCountRule) {
  ASSERT_NO_FATAL_FAILURE(BootMachine());
  ASSERT_EQ(CreateViaControl(1), STATUS_SUCCESS);
  EngineLock();
  PauseVolumeWorker(Ext(), 1);
  Ext()->Header->MaxSnapshots = 1;
  ASSERT_EQ(
      WriteEngineSectors(Device(), Ext()->Header->HeaderSector, kEngineHeaderBytes, Ext()->Header),
      STATUS_SUCCESS);
  FreeVolumeEngineState(Ext());
  PauseVolumeWorker(Ext(), 0);
  EngineUnlock();
  const std::vector<uint8_t> header = HeaderOnDisk();
  EXPECT_EQ(CreateViaControl(2), STATUS_INVALID_PARAMETER);
  EXPECT_EQ(HeaderOnDisk(), header);
  EXPECT_EQ(Ext()->Header, nullptr);
}

// Only SYSTEM and the administrators reach the engine: the control device
// carries that descriptor and checks it for names below it too.
TEST_F(ControlTest, OnlyAdministratorsOpenTheControlDevice) {
  ASSERT_NO_FATAL_FAILURE(BootMachine());
  EXPECT_EQ(hk::Narrow(hk::DeviceSecurity(EngineControlDevice)), "D:P(A;;GA;;;SY)(A;;GA;;;BA)");
  EXPECT_NE(EngineControlDevice->Characteristics & FILE_DEVICE_SECURE_OPEN, 0u);
  const std::vector<uint8_t> in = VolumeRequestFor();
  EXPECT_EQ(Send(IOCTL_ENGINE_QUERY_STATUS, in, kStatusBytes).status, STATUS_SUCCESS);
  hk::SetUserIsAdministrator(false);
  EXPECT_EQ(Send(IOCTL_ENGINE_QUERY_STATUS, in, kStatusBytes).status, STATUS_ACCESS_DENIED);
  hk::UserIoResult below =
      hk::UserDeviceIoControl(u"\\\\.\\QuorvelVH\\below", IOCTL_ENGINE_QUERY_STATUS, in.data(),
                              static_cast<ULONG>(in.size()), nullptr, 0);
  EXPECT_EQ(below.status, STATUS_ACCESS_DENIED);
  hk::SetUserIsAdministrator(true);
}

// A standard user is refused at the control device and at a snapshot drive
// (a drive's raw sectors are an old snapshot's), whatever rights the open
// asks for, and still when an administrator opened the descriptors to
// everyone: the create dispatch checks the caller's token itself.
TEST_F(ControlTest, AStandardUserIsRefusedAtTheControlDeviceAndAtASnapshotDrive) {
  ASSERT_NO_FATAL_FAILURE(BootMachine());
  ASSERT_EQ(CreateViaControl(1), STATUS_SUCCESS);
  std::vector<uint8_t> mount = VolumeRequestFor();
  SetU32(mount, offsetof(VolumeRequest, SnapshotNumber), 1);
  SetU32(mount, offsetof(VolumeRequest, MountDriveIndex), 12);  // M:
  ASSERT_EQ(Send(IOCTL_ENGINE_MOUNT_SNAPSHOT, mount, 0).status, STATUS_SUCCESS);
  auto* control = static_cast<ControlExtension*>(EngineControlDevice->DeviceExtension);
  const uint64_t driveAddress = control->MountTable->Entries[0].MountDevice;
  auto* drive = reinterpret_cast<PDEVICE_OBJECT>(driveAddress);
  ASSERT_NE(drive, nullptr);
  EXPECT_EQ(hk::Narrow(hk::DeviceSecurity(drive)), "D:P(A;;GA;;;SY)(A;;GA;;;BA)");
  EXPECT_NE(drive->Characteristics & FILE_DEVICE_SECURE_OPEN, 0u);

  const std::vector<uint8_t> status = VolumeRequestFor();
  const auto open = [&status](const char16_t* name, ACCESS_MASK access) {
    std::vector<uint8_t> out(kStatusBytes);
    const bool isControl = std::u16string(name) == kControlName;
    return hk::UserDeviceIoControl(name,
                                   isControl ? IOCTL_ENGINE_QUERY_STATUS : 0x7405Cu,  // disk length
                                   isControl ? status.data() : nullptr,
                                   isControl ? static_cast<ULONG>(status.size()) : 0, out.data(),
                                   isControl ? kStatusBytes : 8, access)
        .status;
  };
  const struct {
    const char* name;
    const char16_t* device;
    ACCESS_MASK access;
  } rows[] = {
      {"control device, no rights (the manager's open)", kControlName, 0},
      {"control device, read and write", kControlName, GENERIC_READ | GENERIC_WRITE},
      {"snapshot drive, no rights", u"\\\\.\\M:", 0},
      {"snapshot drive, read", u"\\\\.\\M:", GENERIC_READ},
  };
  for (const bool everyone : {false, true}) {
    if (everyone) {
      hk::SetDeviceSecurity(EngineControlDevice, u"D:P(A;;GA;;;WD)");
      hk::SetDeviceSecurity(drive, u"D:P(A;;GA;;;WD)");
    }
    for (const auto& row : rows) {
      SCOPED_TRACE(std::string(row.name) + (everyone ? ", descriptor open to everyone" : ""));
      EXPECT_EQ(open(row.device, row.access), STATUS_SUCCESS) << "an administrator";
      hk::SetUserIsAdministrator(false);
      EXPECT_EQ(open(row.device, row.access), STATUS_ACCESS_DENIED) << "a standard user";
      hk::SetUserIsAdministrator(true);
    }
  }
  std::vector<uint8_t> unmount = VolumeRequestFor();
  SetU32(unmount, offsetof(VolumeRequest, SnapshotNumber), 1);
  EXPECT_EQ(Send(IOCTL_ENGINE_UNMOUNT_SNAPSHOT, unmount, 0).status, STATUS_SUCCESS);
}

// The descriptor the driver build sets on its devices by hand grants what
// the host's SDDL grants: SYSTEM and the administrators everything, a
// standard user nothing.
TEST_F(ControlTest, TheHandBuiltDescriptorAdmitsOnlySystemAndTheAdministrators) {
  SECURITY_DESCRIPTOR descriptor;
  PACL acl = nullptr;
  ASSERT_EQ(BuildAdministratorsOnlyDescriptor(&descriptor, &acl), STATUS_SUCCESS);
  const std::u16string sddl = hk::SddlOf(&descriptor);
  ExFreePoolWithTag(acl, EnginePoolTag);
  EXPECT_EQ(hk::Narrow(sddl), "D:(A;;0x1f01ff;;;SY)(A;;0x1f01ff;;;BA)");
  constexpr ACCESS_MASK kOpen = SYNCHRONIZE | FILE_READ_ATTRIBUTES;
  for (const bool administrator : {true, false}) {
    for (const ACCESS_MASK access :
         {kOpen, kOpen | GENERIC_READ, kOpen | GENERIC_READ | GENERIC_WRITE,
          kOpen | static_cast<ACCESS_MASK>(WRITE_DAC)}) {
      EXPECT_EQ(hk::DescriptorAllows(sddl, administrator, access), administrator)
          << std::hex << access;
      EXPECT_EQ(hk::DescriptorAllows(u"D:P(A;;GA;;;SY)(A;;GA;;;BA)", administrator, access),
                administrator);
    }
  }
}

}  // namespace
}  // namespace vh::test

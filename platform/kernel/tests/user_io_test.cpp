// A user-mode caller's DeviceIoControl: the open/control/cleanup/close
// sequence and exactly the bytes the I/O manager hands back.
#include <cstring>
#include <memory>
#include <vector>

#include "hostkernel/control.h"
#include "hostkernel/user_io.h"
#include "kernel_test.h"
#include "scripted_device.h"

namespace hk::testing {
namespace {

constexpr ULONG kCode = CTL_CODE(0x22, 7, METHOD_BUFFERED, FILE_ANY_ACCESS);

class UserIoTest : public KernelTest {
 protected:
  void SetUp() override {
    KernelTest::SetUp();
    SetUpDevice();
  }
  void TearDown() override {
    UNICODE_STRING link;
    RtlInitUnicodeString(&link, u"\\DosDevices\\UserIoProbe");
    IoDeleteSymbolicLink(&link);
    device.reset();
    KernelTest::TearDown();
  }
  // After a fault the kernel is abandoned mid-request; start afresh.
  void Recover() {
    device.reset();
    ResetKernel();
    ThrowFaults();
    SetUpDevice();
  }
  void SetUpDevice() {
    device = std::make_unique<ScriptedDevice>(u"\\Device\\UserIoProbe", FILE_DEVICE_UNKNOWN,
                                              DO_BUFFERED_IO);
    UNICODE_STRING link, target;
    RtlInitUnicodeString(&link, u"\\DosDevices\\UserIoProbe");
    RtlInitUnicodeString(&target, u"\\Device\\UserIoProbe");
    ASSERT_EQ(IoCreateSymbolicLink(&link, &target), STATUS_SUCCESS);
  }
  // The device answers with `status`, writing `fill` bytes of 0x5A into the
  // system buffer and reporting `information`.
  void Answer(NTSTATUS status, ULONG fill, ULONG_PTR information) {
    device->SetHandler([=](PIO_STACK_LOCATION stack, PIRP irp) {
      if (stack->MajorFunction == IRP_MJ_DEVICE_CONTROL) {
        seenMode = irp->RequestorMode;
        auto* buffer = static_cast<unsigned char*>(irp->AssociatedIrp.SystemBuffer);
        if (buffer) {
          seenInput.assign(buffer, buffer + stack->Parameters.DeviceIoControl.InputBufferLength);
          std::memset(buffer, 0x5A, fill);
        }
        irp->IoStatus.Status = status;
        irp->IoStatus.Information = information;
      } else {
        irp->IoStatus.Status = STATUS_SUCCESS;
        irp->IoStatus.Information = 0;
      }
    });
  }
  std::unique_ptr<ScriptedDevice> device;
  KPROCESSOR_MODE seenMode = KernelMode;
  std::vector<unsigned char> seenInput;
};

class UserIoCompletionTest : public UserIoTest, public ::testing::WithParamInterface<Completion> {};

TEST_P(UserIoCompletionTest, OpensSendsOneBufferedRequestAndClosesInOrder) {
  device->SetCompletion(GetParam());
  Answer(STATUS_SUCCESS, 8, 6);
  const unsigned char in[4] = {1, 2, 3, 4};
  std::vector<unsigned char> out(8, 0xEE);
  UserIoResult r = UserDeviceIoControl(u"\\\\.\\UserIoProbe", kCode, in, 4, out.data(), 8);
  EXPECT_EQ(r.status, STATUS_SUCCESS);
  EXPECT_EQ(r.bytesReturned, 6u);
  EXPECT_EQ(std::vector<unsigned char>(out.begin(), out.begin() + 6),
            std::vector<unsigned char>(6, 0x5A));
  EXPECT_EQ(out[6], 0xEE);  // only Information bytes come back
  EXPECT_EQ(out[7], 0xEE);
  EXPECT_EQ(seenInput, std::vector<unsigned char>(in, in + 4));
  EXPECT_EQ(seenMode, UserMode);
  std::vector<SeenRequest> seen = device->Seen();
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[0].major, IRP_MJ_CREATE);
  EXPECT_EQ(seen[1].major, IRP_MJ_DEVICE_CONTROL);
  EXPECT_EQ(seen[1].code, kCode);
  EXPECT_EQ(seen[1].inputLength, 4u);
  EXPECT_EQ(seen[1].length, 8u);
  EXPECT_EQ(seen[2].major, IRP_MJ_CLEANUP);
  EXPECT_EQ(seen[3].major, IRP_MJ_CLOSE);
  for (const SeenRequest& s : seen) EXPECT_EQ(s.file, seen[0].file);
}

INSTANTIATE_TEST_SUITE_P(AllCompletions, UserIoCompletionTest, ::testing::ValuesIn(kAllCompletions),
                         [](const ::testing::TestParamInfo<Completion>& param) {
                           std::string name = CompletionName(param.param);
                           for (char& c : name) c = c == '-' ? '_' : c;
                           return name;
                         });

// What comes back for each kind of answer: errors copy nothing and report
// no bytes; warnings copy like successes.
struct AnswerCase {
  const char* name;
  NTSTATUS status;
  ULONG_PTR information;
  ULONG expectedBytes;
};
const AnswerCase kAnswers[] = {
    {"Success", STATUS_SUCCESS, 3, 3},
    {"SuccessNothing", STATUS_SUCCESS, 0, 0},
    {"WarningCopies", STATUS_BUFFER_OVERFLOW, 8, 8},
    {"ErrorCopiesNothing", STATUS_INVALID_PARAMETER, 8, 0},
};

class UserIoAnswerTest : public UserIoTest, public ::testing::WithParamInterface<AnswerCase> {};

TEST_P(UserIoAnswerTest, CopiesBackWhatTheCallerWouldSee) {
  const AnswerCase& c = GetParam();
  Answer(c.status, 8, c.information);
  std::vector<unsigned char> out(8, 0xEE);
  UserIoResult r = UserDeviceIoControl(u"\\\\.\\userioprobe", kCode, nullptr, 0, out.data(), 8);
  EXPECT_EQ(r.status, c.status);
  EXPECT_EQ(r.bytesReturned, c.expectedBytes);
  for (ULONG i = 0; i < 8; ++i) EXPECT_EQ(out[i], i < c.expectedBytes ? 0x5A : 0xEE) << i;
}

INSTANTIATE_TEST_SUITE_P(Answers, UserIoAnswerTest, ::testing::ValuesIn(kAnswers),
                         [](const ::testing::TestParamInfo<AnswerCase>& param) {
                           return std::string(param.param.name);
                         });

TEST_F(UserIoTest, InformationBeyondTheOutputBufferIsAKernelFault) {
  Answer(STATUS_SUCCESS, 4, 5);
  unsigned char out[4] = {};
  EXPECT_TRUE(
      FaultOf([&] { UserDeviceIoControl(u"\\\\.\\UserIoProbe", kCode, nullptr, 0, out, 4); },
              "beyond its 4-byte output buffer"));
  Recover();
  // No output buffer at all: any byte count reported is one too many.
  Answer(STATUS_SUCCESS, 0, 1);
  EXPECT_TRUE(
      FaultOf([&] { UserDeviceIoControl(u"\\\\.\\UserIoProbe", kCode, nullptr, 0, nullptr, 0); },
              "1 bytes returned for a 0-byte output buffer"));
  Recover();
}

TEST_F(UserIoTest, NamesThatDoNotResolveNeverReachADevice) {
  Answer(STATUS_SUCCESS, 0, 0);
  EXPECT_EQ(UserDeviceIoControl(u"\\\\.\\NoSuchDevice", kCode, nullptr, 0, nullptr, 0).status,
            STATUS_OBJECT_NAME_NOT_FOUND);
  EXPECT_EQ(UserDeviceIoControl(u"UserIoProbe", kCode, nullptr, 0, nullptr, 0).status,
            STATUS_OBJECT_NAME_INVALID);
  EXPECT_EQ(UserDeviceIoControl(u"\\\\.\\", kCode, nullptr, 0, nullptr, 0).status,
            STATUS_OBJECT_NAME_INVALID);
  EXPECT_TRUE(device->Seen().empty());
}

TEST_F(UserIoTest, AFailedOpenIsTheAnswerAndNoControlRequestIsSent) {
  device->SetHandler([](PIO_STACK_LOCATION stack, PIRP irp) {
    irp->IoStatus.Status =
        stack->MajorFunction == IRP_MJ_CREATE ? STATUS_ACCESS_DENIED : STATUS_SUCCESS;
    irp->IoStatus.Information = 0;
  });
  unsigned char out[4] = {};
  UserIoResult r = UserDeviceIoControl(u"\\\\.\\UserIoProbe", kCode, nullptr, 0, out, 4);
  EXPECT_EQ(r.status, STATUS_ACCESS_DENIED);
  EXPECT_EQ(r.bytesReturned, 0u);
  std::vector<SeenRequest> seen = device->Seen();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].major, IRP_MJ_CREATE);
}

// Descriptors as the access check evaluates them: ACEs in order, deny
// before a later allow, rights counted, inherit-only ACEs passed over.
TEST(DescriptorTest, TheAcesDecideInOrderWithTheirRights) {
  constexpr ACCESS_MASK kOpen = SYNCHRONIZE | FILE_READ_ATTRIBUTES;  // what every CreateFile asks
  constexpr ACCESS_MASK kReadWrite = kOpen | GENERIC_READ | GENERIC_WRITE;
  const struct {
    const char16_t* sddl;
    bool administrator;
    ACCESS_MASK desired;
    bool allowed;
  } cases[] = {
      {u"D:P(A;;GA;;;SY)(A;;GA;;;BA)", true, kReadWrite, true},
      {u"D:P(A;;GA;;;SY)(A;;GA;;;BA)", false, kOpen, false},
      {u"D:P(A;;GA;;;SY)(A;;GA;;;BA)", false, kReadWrite, false},
      {u"D:P(A;;GA;;;WD)", false, kReadWrite, true},
      // A deny entry refuses, whatever an allow entry after it grants.
      {u"D:P(D;;GA;;;BU)(A;;GA;;;WD)", false, kOpen, false},
      {u"D:P(D;;GA;;;BU)(A;;GA;;;WD)", true, kOpen, false},
      // An allow before the deny has granted the rights already.
      {u"D:P(A;;GA;;;BA)(D;;GA;;;BU)", true, kReadWrite, true},
      {u"D:P(A;;GA;;;BA)(D;;GA;;;BU)", false, kReadWrite, false},
      // A deny of other rights leaves these alone (generic write would
      // deny SYNCHRONIZE too, which every open asks for).
      {u"D:P(D;;0x2;;;WD)(A;;GR;;;WD)", false, kOpen | GENERIC_READ, true},
      {u"D:P(D;;0x2;;;WD)(A;;GA;;;WD)", false, kReadWrite, false},
      {u"D:P(D;;GW;;;WD)(A;;GR;;;WD)", false, kOpen | GENERIC_READ, false},
      // Rights: read only grants no write, a hex mask counts bit by bit.
      {u"D:P(A;;GR;;;WD)", false, kReadWrite, false},
      {u"D:P(A;;0x100080;;;WD)", false, kOpen, true},
      {u"D:P(A;;0x80;;;WD)", false, kOpen, false},
      // Inherit-only entries are not the object's own.
      {u"D:P(A;IO;GA;;;WD)", false, kOpen, false},
      {u"D:P(D;CIIO;GA;;;WD)(A;;GA;;;WD)", false, kOpen, true},
      // Trustees: the users group counts, SYSTEM is no user-mode caller.
      {u"D:P(A;;GA;;;BU)", false, kOpen, true},
      {u"D:P(A;;GA;;;SY)", true, kOpen, false},
      // No DACL lets everyone in; an empty one nobody; a torn one nobody.
      {u"O:BA", false, kReadWrite, true},
      {u"D:NO_ACCESS_CONTROL", false, kReadWrite, true},
      {u"D:P", true, kOpen, false},
      {u"D:P(A;;GA;;;WD", true, kOpen, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(DescriptorAllows(c.sddl, c.administrator, c.desired), c.allowed)
        << Narrow(c.sddl) << (c.administrator ? " administrator " : " user ") << std::hex
        << c.desired;
  }
}

// A secure device: the open asks for what CreateFile asks, the create
// request carries the caller's token and user mode.
TEST_F(UserIoTest, ASecureDeviceOpensOnlyAsItsDescriptorAllowsAndTheCreateNamesTheCaller) {
  const std::u16string sddl = u"D:P(A;;GA;;;SY)(A;;GA;;;BA)";
  SetDeviceSecurity(device->device(), sddl);
  bool sawAdministrator = false;
  KPROCESSOR_MODE sawMode = KernelMode;
  device->SetHandler([&](PIO_STACK_LOCATION stack, PIRP irp) {
    if (stack->MajorFunction == IRP_MJ_CREATE) {
      sawMode = irp->RequestorMode;
      PIO_SECURITY_CONTEXT context = stack->Parameters.Create.SecurityContext;
      sawAdministrator =
          context != nullptr && context->AccessState != nullptr &&
          SeTokenIsAdmin(SeQuerySubjectContextToken(&context->AccessState->SubjectSecurityContext));
    }
    irp->IoStatus.Status = STATUS_SUCCESS;
    irp->IoStatus.Information = 0;
  });
  EXPECT_EQ(UserDeviceIoControl(u"\\\\.\\UserIoProbe", kCode, nullptr, 0, nullptr, 0, 0).status,
            STATUS_SUCCESS);
  EXPECT_EQ(sawMode, UserMode);
  EXPECT_TRUE(sawAdministrator);
  SetUserIsAdministrator(false);
  EXPECT_EQ(UserDeviceIoControl(u"\\\\.\\UserIoProbe", kCode, nullptr, 0, nullptr, 0, 0).status,
            STATUS_ACCESS_DENIED)
      << "even an open asking for no rights asks for SYNCHRONIZE and FILE_READ_ATTRIBUTES";
  SetDeviceSecurity(device->device(), u"D:P(A;;GA;;;WD)");
  EXPECT_EQ(UserDeviceIoControl(u"\\\\.\\UserIoProbe", kCode, nullptr, 0, nullptr, 0).status,
            STATUS_SUCCESS);
  EXPECT_FALSE(sawAdministrator) << "the create names the standard user";
  SetUserIsAdministrator(true);
}

// A hand-built DACL: ACEs go in order while they fit, and read back as
// written.
TEST(DescriptorTest, AHandBuiltAclHoldsWhatFitsInOrder) {
  PSID system = SeExports->SeLocalSystemSid;
  PSID administrators = SeExports->SeAliasAdminsSid;
  EXPECT_EQ(RtlLengthSid(system), 12u);
  EXPECT_EQ(RtlLengthSid(administrators), 16u);
  alignas(4) UCHAR buffer[64];
  auto* acl = reinterpret_cast<PACL>(buffer);
  const ULONG oneAce = 8 + 12 + 8;  // the header, the SYSTEM ACE, half the next
  ASSERT_EQ(RtlCreateAcl(acl, oneAce, ACL_REVISION), STATUS_SUCCESS);
  EXPECT_EQ(RtlAddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, system), STATUS_SUCCESS);
  EXPECT_EQ(RtlAddAccessAllowedAce(acl, ACL_REVISION, GENERIC_READ, administrators),
            STATUS_ALLOTTED_SPACE_EXCEEDED);
  SECURITY_DESCRIPTOR descriptor;
  ASSERT_EQ(RtlCreateSecurityDescriptor(&descriptor, SECURITY_DESCRIPTOR_REVISION), STATUS_SUCCESS);
  EXPECT_EQ(SddlOf(&descriptor), u"") << "no DACL yet";
  ASSERT_EQ(RtlSetDaclSecurityDescriptor(&descriptor, TRUE, acl, FALSE), STATUS_SUCCESS);
  EXPECT_EQ(Narrow(SddlOf(&descriptor)), "D:(A;;0x1f01ff;;;SY)");
  ASSERT_EQ(RtlCreateAcl(acl, sizeof buffer, ACL_REVISION), STATUS_SUCCESS);
  EXPECT_EQ(RtlAddAccessAllowedAce(acl, ACL_REVISION, GENERIC_READ, administrators),
            STATUS_SUCCESS);
  EXPECT_EQ(RtlAddAccessAllowedAce(acl, ACL_REVISION, FILE_ALL_ACCESS, system), STATUS_SUCCESS);
  EXPECT_EQ(Narrow(SddlOf(&descriptor)), "D:(A;;0x80000000;;;BA)(A;;0x1f01ff;;;SY)");
  ASSERT_EQ(RtlSetDaclSecurityDescriptor(&descriptor, TRUE, nullptr, FALSE), STATUS_SUCCESS);
  EXPECT_EQ(Narrow(SddlOf(&descriptor)), "D:NO_ACCESS_CONTROL");
}

}  // namespace
}  // namespace hk::testing

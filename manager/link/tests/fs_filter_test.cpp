// The filter-port client against a stand-in for the filter library (the
// service behind the port is outside this system). The port handles are
// real system handles, so closing them can be checked.
#include "link/fs_filter.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "classlib/dialogs.h"
#include "classlib/sysutils.h"
#include "link/system_helpers.h"
#include "raised_by.h"

namespace kelm::link {
namespace {

// What the stand-in library saw and answers.
struct Service {
  HRESULT connectAnswer = S_OK;
  bool portIsEvent = false;  // a handle no completion port accepts
  HRESULT sendAnswer = S_OK;
  DWORD sendError = 0;
  std::vector<std::wstring> portNames;
  std::vector<HANDLE> ports;
  std::vector<std::vector<uint8_t>> commands;
  std::vector<DWORD> replyBytes;
  std::vector<std::vector<uint16_t>> replyHeads;
} service;

// Whether the handle still names an open port. The ports are temporary
// files, so a value the system reused for another object (the debugger
// output opens some) does not count.
bool IsOpen(HANDLE handle) { return GetFileType(handle) == FILE_TYPE_DISK; }
bool IsOpenEvent(HANDLE handle) {
  DWORD flags = 0;
  return GetHandleInformation(handle, &flags) != FALSE;
}

HRESULT WINAPI FakeConnect(LPCWSTR name, DWORD, LPCVOID, WORD, LPSECURITY_ATTRIBUTES,
                           HANDLE* port) {
  service.portNames.push_back(name);
  if (FAILED(service.connectAnswer)) return service.connectAnswer;
  if (service.portIsEvent) {
    *port = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  } else {
    wchar_t dir[MAX_PATH], file[MAX_PATH];
    GetTempPathW(MAX_PATH, dir);
    GetTempFileNameW(dir, L"prt", 0, file);
    *port = CreateFileW(file, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                        FILE_FLAG_OVERLAPPED | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  }
  service.ports.push_back(*port);
  return S_OK;
}

HRESULT WINAPI FakeSend(HANDLE, LPVOID in, DWORD inBytes, LPVOID out, DWORD outBytes,
                        LPDWORD returned) {
  const auto* bytes = static_cast<const uint8_t*>(in);
  service.commands.emplace_back(bytes, bytes + inBytes);
  service.replyBytes.push_back(outBytes);
  const auto* reply = static_cast<const uint16_t*>(out);
  service.replyHeads.push_back({reply[0], reply[1]});
  if (returned) *returned = 0;
  if (FAILED(service.sendAnswer)) {
    SetLastError(service.sendError);
    return service.sendAnswer;
  }
  return S_OK;
}

const TFltLib kFakeLib{&FakeConnect, &FakeSend};

struct Box {
  std::u16string text, caption;
  UINT flags;
};
std::vector<Box> boxes;
int RecordBox(HWND, const std::u16string& text, const std::u16string& caption, UINT flags) {
  boxes.push_back({text, caption, flags});
  return IDOK;
}

using test::RaisedBy;

class FsFilterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    service = Service{};
    boxes.clear();
    previousLib_ = SetFltLib(&kFakeLib);
    previousBox_ = classlib::SetMessageBoxFunc(&RecordBox);
  }
  void TearDown() override {
    DisconnectFsFilter();
    SetFltLib(previousLib_);
    classlib::SetMessageBoxFunc(previousBox_);
  }

  const TFltLib* previousLib_ = nullptr;
  classlib::TMessageBoxFunc previousBox_ = nullptr;
};

const char16_t kNotConnected[] = u"vexgard:Failed to connect to the service!";

TEST_F(FsFilterTest, ConnectsToThePortAndDisconnectClosesIt) {
  ASSERT_TRUE(ConnectFsFilter());
  ASSERT_EQ(service.portNames.size(), 1u);
  EXPECT_EQ(service.portNames[0], L"\\KRAVENHOLM2011");
  EXPECT_TRUE(FsFilterConnected());
  EXPECT_TRUE(IsOpen(service.ports[0]));
  EXPECT_TRUE(DisconnectFsFilter());
  EXPECT_FALSE(FsFilterConnected());
  EXPECT_FALSE(IsOpen(service.ports[0]));
  EXPECT_TRUE(DisconnectFsFilter()) << "disconnecting again is harmless";
}

TEST_F(FsFilterTest, ConnectingTwiceRaisesTheAlreadyConnectedText) {
  ASSERT_TRUE(ConnectFsFilter());
  EXPECT_EQ(RaisedBy([] { ConnectFsFilter(); }), kNotConnected);
  EXPECT_EQ(service.portNames.size(), 1u) << "the second connect never reaches the library";
}

TEST_F(FsFilterTest, ARefusedConnectionRaisesTheTextOfTheResultsErrorCode) {
  service.connectAnswer = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RaisedBy([] { ConnectFsFilter(); }), u"vexgard#:Failed to connect to the service:" +
                                                     SystemMessageText(ERROR_FILE_NOT_FOUND) +
                                                     u"!");
  EXPECT_FALSE(FsFilterConnected());
}

TEST_F(FsFilterTest, AFailedCompletionPortRaisesAndLeavesNoPortBehind) {
  service.portIsEvent = true;
  const std::u16string message = RaisedBy([] { ConnectFsFilter(); });
  EXPECT_EQ(message.rfind(u"vexgard@:Failed to connect to the service:", 0), 0u)
      << classlib::WideToUtf8(message);
  EXPECT_FALSE(FsFilterConnected());
  ASSERT_EQ(service.ports.size(), 1u);
  EXPECT_FALSE(IsOpenEvent(service.ports[0])) << "the port handle leaked";
  service.portIsEvent = false;
  EXPECT_TRUE(ConnectFsFilter()) << "a later connection is not refused as a duplicate";
}

TEST_F(FsFilterTest, SendsTheEightByteCommandWithAHundredByteReply) {
  ASSERT_TRUE(ConnectFsFilter());
  uint16_t reply[50] = {7, 8};
  ASSERT_TRUE(SendFsFilterCommand(reply));
  ASSERT_EQ(service.commands.size(), 1u);
  EXPECT_EQ(service.commands[0], (std::vector<uint8_t>{1, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(service.replyBytes[0], 100u);
  EXPECT_TRUE(boxes.empty());
}

TEST_F(FsFilterTest, SendingWithoutAConnectionWarnsAndRaises) {
  uint16_t reply[50] = {};
  EXPECT_EQ(RaisedBy([&] { SendFsFilterCommand(reply); }), kNotConnected);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, std::u16string(u"Set Engine 1 FS:") + kNotConnected);
  EXPECT_EQ(boxes[0].caption, u"Warning");
  EXPECT_EQ(boxes[0].flags, static_cast<UINT>(MB_ICONWARNING));
}

TEST_F(FsFilterTest, AFailedSendWarnsAndRaisesTheControlTextWithTheErrorNumber) {
  ASSERT_TRUE(ConnectFsFilter());
  service.sendAnswer = E_FAIL;
  service.sendError = ERROR_ACCESS_DENIED;
  uint16_t reply[50] = {};
  const std::u16string expected = u"fs Error 2025:5, Failed to control the service:" +
                                  SystemMessageText(ERROR_ACCESS_DENIED) + u"!";
  EXPECT_EQ(RaisedBy([&] { SendFsFilterCommand(reply); }), expected);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, u"Set Engine 1 FS:" + expected);
}

TEST_F(FsFilterTest, TheFirstSnapshotNoticeSendsOnceAndDisconnects) {
  NotifyFsFilterOfFirstSnapshot();
  ASSERT_EQ(service.commands.size(), 1u);
  EXPECT_EQ(service.replyHeads[0], (std::vector<uint16_t>{0, 1}));
  EXPECT_FALSE(FsFilterConnected());
  EXPECT_FALSE(IsOpen(service.ports[0]));
}

TEST_F(FsFilterTest, TheFirstSnapshotNoticeDisconnectsAfterAFailedSend) {
  service.sendAnswer = E_FAIL;
  service.sendError = ERROR_GEN_FAILURE;
  EXPECT_NO_THROW(NotifyFsFilterOfFirstSnapshot());
  EXPECT_FALSE(FsFilterConnected());
  ASSERT_EQ(service.ports.size(), 1u);
  EXPECT_FALSE(IsOpen(service.ports[0])) << "the port handle leaked";
  EXPECT_TRUE(boxes.empty()) << "a failed notice goes to the debug output only";
  // The next notice connects afresh instead of failing as already connected.
  service.sendAnswer = S_OK;
  NotifyFsFilterOfFirstSnapshot();
  EXPECT_EQ(service.commands.size(), 2u);
}

TEST_F(FsFilterTest, TheFirstSnapshotNoticeSwallowsARefusedConnection) {
  service.connectAnswer = E_ACCESSDENIED;
  EXPECT_NO_THROW(NotifyFsFilterOfFirstSnapshot());
  EXPECT_TRUE(service.commands.empty());
  EXPECT_TRUE(boxes.empty()) << "the notice never bothers the user about the connection";
}

}  // namespace
}  // namespace kelm::link

// The system helpers on the system itself; the restart and the shell go to
// recording stand-ins, the warning box to the class library's box entry.
#include "link/system_helpers.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "classlib/dialogs.h"
#include "classlib/sysutils.h"
#include "link/system_seams.h"

namespace kelm::link {
namespace {

struct Box {
  HWND owner;
  std::u16string text, caption;
  UINT flags;
};
std::vector<Box> boxes;
int RecordBox(HWND owner, const std::u16string& text, const std::u16string& caption, UINT flags) {
  boxes.push_back({owner, text, caption, flags});
  return IDOK;
}

struct ShellCall {
  std::u16string verb, file;
  ULONG mask;
  int show;
  bool hadParameters, hadDirectory;
};
std::vector<ShellCall> shellCalls;
std::vector<std::string> execs;
BOOL shellAnswer = FALSE;
std::vector<std::pair<UINT, DWORD>> exits;
BOOL exitAnswer = TRUE;

BOOL WINAPI RecordShellExecute(SHELLEXECUTEINFOW* info) {
  shellCalls.push_back({reinterpret_cast<const char16_t*>(info->lpVerb),
                        reinterpret_cast<const char16_t*>(info->lpFile), info->fMask, info->nShow,
                        info->lpParameters != nullptr, info->lpDirectory != nullptr});
  return shellAnswer;
}
UINT WINAPI RecordWinExec(LPCSTR command, UINT show) {
  execs.push_back(std::string(command) + "|" + std::to_string(show));
  return 33;
}
BOOL WINAPI RecordExit(UINT flags, DWORD reason) {
  exits.emplace_back(flags, reason);
  return exitAnswer;
}

class SystemHelpersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = SystemSeams();
    SystemSeams() = TSystemSeams{&RecordExit, &RecordShellExecute, &RecordWinExec};
    previousBox_ = classlib::SetMessageBoxFunc(&RecordBox);
    boxes.clear();
    shellCalls.clear();
    execs.clear();
    exits.clear();
  }
  void TearDown() override {
    SystemSeams() = saved_;
    classlib::SetMessageBoxFunc(previousBox_);
  }

  TSystemSeams saved_{};
  classlib::TMessageBoxFunc previousBox_ = nullptr;
};

TEST(SystemMessageText, IsTheSystemsTextWithoutItsTail) {
  for (DWORD id :
       {ERROR_FILE_NOT_FOUND, ERROR_ACCESS_DENIED, ERROR_INVALID_HANDLE, ERROR_INVALID_PARAMETER}) {
    wchar_t raw[512] = {};
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, id, 0, raw, 512, nullptr);
    ASSERT_GT(n, 0u) << id;
    const std::u16string text = SystemMessageText(id);
    ASSERT_FALSE(text.empty()) << id;
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(raw), n).rfind(text, 0), 0u) << id;
    const char16_t last = text.back();
    EXPECT_TRUE(last >= u'!' && last != u'.') << id;
  }
}

TEST(WindowsVersionCode, IsNineOnWindows7) {
  // The test session pins the prefix to Windows 7 (NT 6.1).
  EXPECT_EQ(GetWindowsVersionCode(), 9);
}

TEST(GetSystemDir, EndsInOneBackslashExactlyWhenAsked) {
  wchar_t raw[MAX_PATH] = {};
  const UINT n = GetSystemDirectoryW(raw, MAX_PATH);
  ASSERT_GT(n, 1u);
  std::u16string plain(reinterpret_cast<const char16_t*>(raw), n);
  if (plain.back() == u'\\') plain.pop_back();
  EXPECT_EQ(GetSystemDir(false), plain);
  EXPECT_EQ(GetSystemDir(true), plain + u"\\");
}

TEST(ShutdownPrivilege, IsEnabledInTheProcessToken) {
  ASSERT_TRUE(EnableShutdownPrivilege());
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
  LUID luid{};
  ASSERT_TRUE(LookupPrivilegeValueW(nullptr, L"SeShutdownPrivilege", &luid));
  PRIVILEGE_SET set{};
  set.PrivilegeCount = 1;
  set.Privilege[0].Luid = luid;
  BOOL held = FALSE;
  ASSERT_TRUE(PrivilegeCheck(token, &set, &held));
  CloseHandle(token);
  EXPECT_TRUE(held);
}

TEST_F(SystemHelpersTest, RebootAsksForARestartAndAnswersWhetherItWasAccepted) {
  for (BOOL answer : {TRUE, FALSE}) {
    exitAnswer = answer;
    exits.clear();
    EXPECT_EQ(RebootSystem(), answer == TRUE);
    ASSERT_EQ(exits.size(), 1u);
    EXPECT_EQ(exits[0].first, static_cast<UINT>(EWX_REBOOT));
    EXPECT_EQ(exits[0].second, 0u);
  }
}

TEST_F(SystemHelpersTest, ShellOpenOfABlankPathDoesNothing) {
  ShellOpen(u"   ");
  ShellOpen(u"");
  EXPECT_TRUE(shellCalls.empty());
  EXPECT_TRUE(execs.empty());
}

TEST_F(SystemHelpersTest, ShellOpenUsesTheOpenVerbWithTheUntrimmedPath) {
  shellAnswer = TRUE;
  ShellOpen(u" C:\\help\\index.html");
  ASSERT_EQ(shellCalls.size(), 1u);
  EXPECT_EQ(shellCalls[0].verb, u"Open");
  EXPECT_EQ(shellCalls[0].file, u" C:\\help\\index.html");
  EXPECT_EQ(shellCalls[0].mask, 0x540u);
  EXPECT_EQ(shellCalls[0].show, SW_SHOWNORMAL);
  EXPECT_FALSE(shellCalls[0].hadParameters);
  EXPECT_FALSE(shellCalls[0].hadDirectory);
  EXPECT_TRUE(execs.empty()) << "nothing more after a successful open";
}

TEST_F(SystemHelpersTest, AFailedOpenOfAWebPageOffersTheProgramChoiceOnlyForHtml) {
  shellAnswer = FALSE;
  const struct {
    const char16_t* path;
    bool offers;
  } cases[] = {{u"C:\\a\\page.html", true},
               {u"C:\\a\\PAGE.HTM", true},
               {u"C:\\a\\notes.txt", false},
               {u"http://example.invalid/", false}};
  for (const auto& c : cases) {
    execs.clear();
    ShellOpen(c.path);
    if (c.offers) {
      ASSERT_EQ(execs.size(), 1u) << classlib::WideToUtf8(c.path);
      EXPECT_EQ(execs[0],
                "RunDLL32.exe Shell32.dll,OpenAs_RunDLL *.htm|" + std::to_string(SW_SHOWNORMAL));
    } else {
      EXPECT_TRUE(execs.empty()) << classlib::WideToUtf8(c.path);
    }
  }
}

TEST_F(SystemHelpersTest, ShowWarningIsAnOwnerlessWarningBox) {
  ShowWarning(u"Something went wrong");
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].owner, nullptr);
  EXPECT_EQ(boxes[0].text, u"Something went wrong");
  EXPECT_EQ(boxes[0].caption, u"Warning");
  EXPECT_EQ(boxes[0].flags, static_cast<UINT>(MB_ICONWARNING));
}

TEST(SystemHelpersStartUp, FindsTheRedirectionSwitchesAndKeepsShell32Loaded) {
  InitSystemHelpers();
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  const bool both = GetProcAddress(kernel, "Wow64DisableWow64FsRedirection") != nullptr &&
                    GetProcAddress(kernel, "Wow64RevertWow64FsRedirection") != nullptr;
  EXPECT_EQ(HasWow64RedirectionSwitches(), both);
  EXPECT_NE(GetModuleHandleW(L"shell32.dll"), nullptr);
}

}  // namespace
}  // namespace kelm::link

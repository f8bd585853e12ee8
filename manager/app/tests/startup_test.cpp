// The start-up in this process: each refusal answers before the
// application initialises (no application window, the hook not run), and
// the last case runs the whole start: the hook boots the engine over a disk
// image, the main window is made hidden with the engine's state, and its
// exit action ends the message loop.
#include "app/kelm_startup.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/unit_snapshot.h"
#include "classlib/actions.h"
#include "classlib/dialogs.h"
#include "classlib/forms.h"
#include "classlib/timers.h"
#include "kit/tray_icon.h"
#include "kit/tray_icon_record.h"
#include "scene/sg_objects.h"
#include "hosted_engine_fixture.h"

namespace kelm::app {
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
BOOL QuietTray(DWORD, kit::TNotifyIconDataA*) { return TRUE; }

int g_version = 9;

// Runs an action from a timer.
class TActionRunner : public classlib::TObject {
 public:
  explicit TActionRunner(classlib::TBasicAction* action) : action_(action) {}
  void Fire(classlib::TObject*) { action_->Execute(); }

 private:
  classlib::TBasicAction* action_;
};
int Version() { return g_version; }

class StartupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    boxes.clear();
    previousBox_ = classlib::SetMessageBoxFunc(RecordBox);
    previousVersion_ = SetVersionCodeFunc(Version);
    g_version = 9;
  }
  void TearDown() override {
    classlib::SetMessageBoxFunc(previousBox_);
    SetVersionCodeFunc(previousVersion_);
  }
  // A refusal answers before the application initialises and before the hook.
  void ExpectNotStarted() {
    EXPECT_EQ(classlib::Application->Handle(), nullptr);
    EXPECT_FALSE(hookRan_);
  }
  // A hook that records whether it ran.
  TStartupHooks Watched() {
    TStartupHooks hooks;
    hooks.AfterInstanceChecks = [this] { hookRan_ = true; };
    return hooks;
  }
  bool hookRan_ = false;

 private:
  classlib::TMessageBoxFunc previousBox_ = nullptr;
  TVersionCodeFunc previousVersion_ = nullptr;
};

// A top-level window with the manager's title that counts wake-up messages.
struct TitledWindow {
  TitledWindow() {
    WNDCLASSA wc{};
    wc.lpfnWndProc = Proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "KelmStartupProbe";
    RegisterClassA(&wc);
    wnd = CreateWindowExA(0, wc.lpszClassName, kInstanceName, WS_POPUP, 0, 0, 10, 10, nullptr,
                          nullptr, wc.hInstance, nullptr);
    wakes = 0;
  }
  ~TitledWindow() { DestroyWindow(wnd); }
  static LRESULT CALLBACK Proc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == kWakeMessage && wp == 1 && lp == 0) ++wakes;
    return DefWindowProcA(w, m, wp, lp);
  }
  void Pump() {
    MSG msg;
    while (PeekMessageA(&msg, wnd, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
  }
  HWND wnd;
  static inline int wakes = 0;
};

TEST_F(StartupTest, WindowsVersionsUpTo2000AreRefusedWithABoxAndNothingElse) {
  for (int code : {1, 4, 5}) {
    boxes.clear();
    g_version = code;
    EXPECT_EQ(RunManager(Watched()), TStartupResult::OldWindows) << code;
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].owner, nullptr);
    EXPECT_EQ(boxes[0].text, u"The product does not support Win9x/2000!");
    EXPECT_EQ(boxes[0].caption, u"Warning");
    EXPECT_EQ(boxes[0].flags, static_cast<UINT>(MB_ICONERROR));
    EXPECT_EQ(InstanceMutex(), nullptr) << "refused before the mutex";
  }
  ExpectNotStarted();
  EXPECT_NE(ExitCode(TStartupResult::OldWindows), 0);
}

TEST_F(StartupTest, ARunningManagersWindowIsWokenAndThisStartEndsSilently) {
  TitledWindow running;
  ASSERT_NE(running.wnd, nullptr);
  // XP, an unknown future version (10) and Windows 7 all get past the
  // version check to the instance check.
  for (int code : {6, 10, 9}) {
    g_version = code;
    EXPECT_EQ(RunManager(Watched()), TStartupResult::OtherInstance) << code;
  }
  running.Pump();
  EXPECT_EQ(TitledWindow::wakes, 3);
  EXPECT_TRUE(boxes.empty());
  ExpectNotStarted();
  EXPECT_EQ(InstanceMutex(), nullptr);
  EXPECT_EQ(ExitCode(TStartupResult::OtherInstance), 0);
}

TEST_F(StartupTest, AMutexWithoutAWindowIsASecondInstanceAndItsHandleIsClosed) {
  // Another manager between making its mutex and its window.
  HANDLE other = CreateMutexA(nullptr, FALSE, kInstanceName);
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(RunManager(Watched()), TStartupResult::SecondInstance);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].owner, nullptr);
  EXPECT_EQ(boxes[0].text, u"You can not run the program for twince!");
  EXPECT_EQ(boxes[0].caption, u"Warning");
  EXPECT_EQ(boxes[0].flags, static_cast<UINT>(MB_ICONERROR));
  EXPECT_EQ(InstanceMutex(), nullptr);
  ExpectNotStarted();
  CloseHandle(other);
  // With the other one gone, the name is free again: no handle of ours
  // kept it.
  HANDLE again = CreateMutexA(nullptr, FALSE, kInstanceName);
  EXPECT_EQ(GetLastError(), 0u) << "our refused start kept the mutex open";
  CloseHandle(again);
}

// Last: the application runs once per process.
TEST_F(StartupTest, ZZTheWholeStartBootsTheEngineInTheHookAndRunsHidden) {
  kit::SetShellNotifyIconFunc(QuietTray);
  bool appStartedInHook = true;
  bool hiddenAtLoop = false, trayVisible = false;
  std::u16string label, title;
  std::unique_ptr<TActionRunner> runner;
  TStartupHooks hooks;
  hooks.AfterInstanceChecks = [&] {
    appStartedInHook = classlib::Application->Handle() != nullptr;
    ASSERT_TRUE(test::StartHostedEngine());
  };
  hooks.BeforeLoop = [&] {
    auto* main = dynamic_cast<TfrmManager*>(classlib::Application->MainForm());
    ASSERT_NE(main, nullptr);
    hiddenAtLoop = !main->Visible() && !classlib::Application->ShowMainForm();
    trayVisible = main->TrayIcon->IconVisible();
    label = main->lblProtectOnOff->Text();
    title = classlib::Application->Title();
    EXPECT_NE(main->State.EngineHandle, link::InvalidEngineHandle());
    EXPECT_NE(InstanceMutex(), nullptr);
    // The exit action ends the loop once it runs.
    auto* exit = dynamic_cast<classlib::TAction*>(main->FindComponent("ActExit"));
    ASSERT_NE(exit, nullptr);
    runner = std::make_unique<TActionRunner>(exit);
    auto* timer = classlib::New<classlib::TTimer>(main);
    timer->SetInterval(50);
    timer->SetOnTimer(classlib::EventOf<&TActionRunner::Fire>(runner.get()));
  };
  EXPECT_EQ(RunManager(hooks), TStartupResult::Ran);
  EXPECT_FALSE(appStartedInHook) << "the hook runs before the application initialises";
  EXPECT_TRUE(hiddenAtLoop);
  EXPECT_TRUE(trayVisible);
  EXPECT_EQ(label, u"Snapshot Engine is not working") << "no snapshot yet: engine off";
  EXPECT_EQ(title, u"Quorvel Varnholt");
  EXPECT_TRUE(boxes.empty()) << "the engine answered: no connect error";
  EXPECT_EQ(LiveNodeStrings(), 0);
  EXPECT_EQ(test::StopHostedEngine(), "") << "the window kept something of the engine";
  test::DropHostedEngine();
  kit::SetShellNotifyIconFunc(nullptr);
}

}  // namespace
}  // namespace kelm::app

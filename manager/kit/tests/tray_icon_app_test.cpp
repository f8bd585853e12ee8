// The tray icon on the program's main form, loaded from its stored form:
// start-up, minimise to the tray and restore, through real messages to the
// form and the application window.
#include <gtest/gtest.h>

#include "classlib/classdef.h"
#include "kit/tray_icon.h"
#include "tray_test_support.h"

namespace kelm::test {

using namespace classlib;
using kit::TTrayIcon;

class TTrayTestForm : public TForm {
  CL_DECLARE_CLASS(TTrayTestForm, TForm)
 public:
  explicit TTrayTestForm(TComponent* AOwner) : TForm(AOwner) {}
  void TrayIconStartup(TObject* sender, bool& showMainForm) {
    ++Startups;
    StartupSender = sender;
    StartupOffered = showMainForm;
  }
  int Startups = 0;
  TObject* StartupSender = nullptr;
  bool StartupOffered = false;
};

CL_CLASS(TTrayTestForm) { c.Method<&TTrayTestForm::TrayIconStartup>("TrayIconStartup"); }

namespace {

// The program's main form, made on first use; what the shell heard while
// it was loaded.
std::vector<NotifyCall> creationCalls;
TTrayTestForm* MainTestForm() {
  static TTrayTestForm* form = [] {
    ShellRecorder::Clear();
    TTrayTestForm* f = nullptr;
    Application->CreateForm(f);
    creationCalls = ShellRecorder::Calls;
    return f;
  }();
  return form;
}

struct MainFormFixture : ::testing::Test {
  TTrayTestForm* form = MainTestForm();
  TTrayIcon* icon = static_cast<TTrayIcon*>(form->FindComponent("TrayIcon"));
  TEventLog* log = New<TEventLog>();
  HWND app = Application->Handle();

  MainFormFixture() {
    ShowAll();
    icon->HideIcon();
    ShellRecorder::Clear();
  }
  ~MainFormFixture() override {
    icon->OnMinimizeToTray = nullptr;
    icon->SetMinimizeToTray(true);
    ShowAll();
    Free(log);
  }
  void ShowAll() {
    if (IsIconic(app)) ShowWindow(app, SW_RESTORE);
    form->SetWindowState(TWindowState::wsNormal);
    form->Show();
    PumpFor(30);
  }
  bool InTray() const {
    return !form->Visible() && !IsWindowVisible(form->Handle()) && !IsWindowVisible(app) &&
           icon->IconVisible();
  }
};

TEST_F(MainFormFixture, LoadingRunsStartupThenAddsTheIconAndSetsVersionZero) {
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(form->Startups, 1);
  EXPECT_EQ(form->StartupSender, icon);
  EXPECT_TRUE(form->StartupOffered);
  EXPECT_TRUE(Application->ShowMainForm());
  EXPECT_EQ(icon->PopupMenu(), form->FindComponent("PopupTop"));
  std::vector<DWORD> messages;
  for (const NotifyCall& c : creationCalls)
    if (c.data.uID == icon->IconId()) messages.push_back(c.message);
  // Nothing is sent while the stored properties are read.
  EXPECT_EQ(messages, (std::vector<DWORD>{kit::kNimModify, kit::kNimAdd, kit::kNimSetVersion}));
  EXPECT_EQ(creationCalls.back().data.uVersion, 0u);
  EXPECT_STREQ(creationCalls.back().data.szTip, "Stored hint");
}

TEST_F(MainFormFixture, MinimiseCommandWithHandlerSendsFormAndButtonToTheTray) {
  icon->OnMinimizeToTray = EventOf<&TEventLog::Minimize>(log);
  ASSERT_TRUE(IsWindowVisible(app));
  EXPECT_EQ(SendMessageW(form->Handle(), WM_SYSCOMMAND, SC_MINIMIZE, 0), 1);
  EXPECT_EQ(log->Lines, std::vector<std::string>{"minimize"});
  EXPECT_TRUE(InTray());
  EXPECT_EQ(ShellRecorder::Of(icon->IconId(), kit::kNimAdd).size(), 1u);
  EXPECT_FALSE(IsIconic(app));  // taken straight to the tray
}

TEST_F(MainFormFixture, MinimiseCommandWithoutHandlerGoesThroughTheMinimisedApplication) {
  SendMessageW(form->Handle(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
  EXPECT_TRUE(PumpUntil([&] { return InTray(); }, 2000));
  EXPECT_TRUE(IsIconic(app));
  EXPECT_EQ(ShellRecorder::Of(icon->IconId(), kit::kNimAdd).size(), 1u);
}

TEST_F(MainFormFixture, MinimisedApplicationWindowGoesToTheTray) {
  ShowWindow(app, SW_MINIMIZE);
  EXPECT_TRUE(PumpUntil([&] { return InTray(); }, 2000));
}

TEST_F(MainFormFixture, WithoutMinimizeToTrayTheFormStays) {
  icon->SetMinimizeToTray(false);
  icon->OnMinimizeToTray = EventOf<&TEventLog::Minimize>(log);
  SendMessageW(form->Handle(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
  PumpFor(50);
  EXPECT_TRUE(log->Lines.empty());
  EXPECT_TRUE(form->Visible());
  EXPECT_FALSE(icon->IconVisible());
  EXPECT_TRUE(ShellRecorder::Calls.empty());
}

TEST_F(MainFormFixture, RestoreCommandBringsTheMainFormBack) {
  ShowWindow(app, SW_MINIMIZE);
  ASSERT_TRUE(PumpUntil([&] { return InTray(); }, 2000));
  SendMessageW(app, WM_SYSCOMMAND, SC_RESTORE, 0);
  PumpFor(30);
  EXPECT_TRUE(form->Visible());
  EXPECT_TRUE(IsWindowVisible(form->Handle()));
  EXPECT_EQ(form->WindowState(), TWindowState::wsNormal);
  EXPECT_TRUE(IsWindowVisible(app));
  EXPECT_FALSE(IsIconic(app));
}

TEST_F(MainFormFixture, DoubleClickRunsTheStoredMenusDefaultItem) {
  auto* show = static_cast<TMenuItem*>(form->FindComponent("Show1"));
  show->OnClick = EventOf<&TEventLog::Click>(log);
  icon->OnDblClick = EventOf<&TEventLog::DblClick>(log);
  for (UINT m : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP})
    PostMessageW(TTrayIcon::HandlerWindow(), 0x800, icon->IconId(), m);
  PumpFor(100);
  EXPECT_EQ(log->Lines, (std::vector<std::string>{"dblclick", "click"}));
  show->OnClick = nullptr;
  icon->OnDblClick = nullptr;
}

}  // namespace
}  // namespace kelm::test

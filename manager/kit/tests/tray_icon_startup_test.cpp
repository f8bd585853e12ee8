// A main form whose tray icon answers False to OnStartup: the program
// starts in the tray and its run never shows the form.
#include <gtest/gtest.h>

#include "classlib/classdef.h"
#include "kit/tray_icon.h"
#include "tray_test_support.h"

namespace kelm::test {

using namespace classlib;

class TTrayStartupForm : public TForm {
  CL_DECLARE_CLASS(TTrayStartupForm, TForm)
 public:
  explicit TTrayStartupForm(TComponent* AOwner) : TForm(AOwner) {}
  void TrayIconStartup(TObject*, bool& showMainForm) { showMainForm = false; }
  void FormShow(TObject*) { ++Shows; }
  int Shows = 0;
};

CL_CLASS(TTrayStartupForm) { c.Method<&TTrayStartupForm::TrayIconStartup>("TrayIconStartup"); }

namespace {

TEST(TrayStartup, StartupAnsweringFalseKeepsTheStoredMainFormHidden) {
  ShellRecorder::Clear();
  TTrayStartupForm* form = nullptr;
  Application->CreateForm(form);
  ASSERT_EQ(Application->MainForm(), form);
  EXPECT_FALSE(Application->ShowMainForm());
  form->OnShow = EventOf<&TTrayStartupForm::FormShow>(form);
  auto* icon = static_cast<kit::TTrayIcon*>(form->FindComponent("TrayIcon"));
  EXPECT_TRUE(icon->IconVisible());
  EXPECT_EQ(ShellRecorder::Of(icon->IconId(), kit::kNimAdd).size(), 1u);
  // The program's run: shows the main form unless switched off.
  PostQuitMessage(0);
  Application->Run();
  EXPECT_EQ(form->Shows, 0);
  EXPECT_FALSE(form->Visible());
  EXPECT_FALSE(form->HandleAllocated() && IsWindowVisible(form->Handle()));
  EXPECT_FALSE(IsWindowVisible(Application->Handle()));
}

}  // namespace
}  // namespace kelm::test

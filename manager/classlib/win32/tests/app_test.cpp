// The application's run: a program of its own, since a terminated
// application stays terminated.
#include <gtest/gtest.h>

#include "test_support.h"

namespace kelm::test {
namespace {

// Steps through the running program on timer ticks and notes what it sees.
struct Driver : TObject {
  TTestMainForm* main = nullptr;
  int step = 0;
  bool hiddenAtStart = false, noButtonAtStart = false, noUpdatesWhileHidden = false;
  bool buttonWithMainForm = false, minimised = false, hookSawMinimise = false, restored = false;
  void Tick(TObject*) {
    HWND app = Application->Handle();
    switch (step++) {
      case 0:
        hiddenAtStart =
            !main->Visible() && !(main->HandleAllocated() && IsWindowVisible(main->Handle()));
        noButtonAtStart = !IsWindowVisible(app);
        noUpdatesWhileHidden = main->GoUpdates == 0;
        main->Show();
        break;
      case 1:
        buttonWithMainForm = IsWindowVisible(app) && IsWindowVisible(main->Handle());
        Application->Minimize();
        break;
      case 2:
        minimised = IsIconic(app) != FALSE;
        Application->Restore();
        break;
      case 3:
        restored = !IsIconic(app) && IsWindowVisible(main->Handle());
        // Closing the main form ends the program.
        main->Close();
        break;
      default:
        break;
    }
  }
};

TEST(ApplicationRun, StartsWithTheMainFormHiddenAndEndsWhenItCloses) {
  Application->SetShowMainForm(false);
  TTestMainForm* main = nullptr;
  Application->CreateForm(main);
  TTestDialog* second = nullptr;
  Application->CreateForm(second);
  EXPECT_EQ(Application->MainForm(), main);  // the first form made
  EXPECT_EQ(second->Owner(), Application);

  Driver driver;
  driver.main = main;
  Application->HookMainWindow(
      [&](TMessage& m) {
        if (m.Msg == WM_SIZE && m.WParam == SIZE_MINIMIZED) driver.hookSawMinimise = true;
        return false;
      },
      &driver);
  TTimer* timer = New<TTimer>(nullptr);
  timer->SetInterval(100);
  timer->SetOnTimer(EventOf<&Driver::Tick>(&driver));
  Application->Run();
  EXPECT_TRUE(Application->Terminated());
  EXPECT_EQ(driver.step, 4);
  EXPECT_TRUE(driver.hiddenAtStart);
  EXPECT_TRUE(driver.noButtonAtStart);
  EXPECT_TRUE(driver.noUpdatesWhileHidden);
  EXPECT_TRUE(driver.buttonWithMainForm);
  EXPECT_TRUE(driver.minimised);
  EXPECT_TRUE(driver.hookSawMinimise);
  EXPECT_TRUE(driver.restored);
  Application->UnhookMainWindow(&driver);
  Free(timer);
}

}  // namespace
}  // namespace kelm::test

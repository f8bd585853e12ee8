// The tab control's input through real window messages: a click selects a
// tab and tells OnTabClick; the arrow keys walk past disabled, hidden and
// refused tabs.
#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

#include "classlib/forms.h"
#include "kit/kt_tab_control.h"
#include "message_pump.h"

namespace kelm::test {
namespace {

using namespace classlib;
using namespace kit;

// Records the control's events.
class TTabLog : public TObject {
 public:
  void TabClick(TObject* sender) {
    clicked.push_back(static_cast<TKtCustomTabControl*>(sender)->TabIndex());
  }
  void Changing(TObject*, int i, bool& allow) {
    allow = !refuseAll && (refuse == 0 || i != refuse);
  }
  std::vector<int> clicked;
  int refuse = 0;
  bool refuseAll = false;
};

struct TabInputTest : ::testing::Test {
  TabInputTest() {
    form = New<TForm>(nullptr, 0);
    form->SetBounds(50, 50, 400, 300);
    tabs = New<TKtCustomTabControl>(form);
    tabs->SetParent(form);
    tabs->SetBounds(10, 10, 300, 120);
    for (const char16_t* c : {u"One", u"Two", u"Three", u"Four"}) tabs->Tabs().Add().Caption = c;
    tabs->TabsChanged();
    tabs->SetTabIndex(0);
    tabs->OnTabClick = EventOf<&TTabLog::TabClick>(&log);
    tabs->OnChanging = EventOf<&TTabLog::Changing>(&log);
    form->Show();
    tabs->UpdateLayout();
  }
  ~TabInputTest() override { Free(form); }
  void Click(int tab) {
    const TKtRect r = tabs->TabRectInControl(tab);
    const LPARAM at = MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    PostMessageW(tabs->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageW(tabs->Handle(), WM_LBUTTONUP, 0, at);
  }
  void Key(WORD vk) {
    PostMessageW(tabs->Handle(), WM_KEYDOWN, vk, 1);
    PostMessageW(tabs->Handle(), WM_KEYUP, vk, 0xC0000001);
  }
  TForm* form = nullptr;
  TKtCustomTabControl* tabs = nullptr;
  TTabLog log;
  std::vector<int>& clicked = log.clicked;
  int& refuse = log.refuse;
};

TEST_F(TabInputTest, ClickSelectsAndTellsTabClick) {
  Click(2);
  ASSERT_TRUE(PumpUntil([&] { return !clicked.empty(); }));
  EXPECT_EQ(2, tabs->TabIndex());
  EXPECT_EQ(std::vector<int>{2}, clicked);
  // A refused tab is not selected and no click is told.
  refuse = 1;
  Click(1);
  Click(3);
  ASSERT_TRUE(PumpUntil([&] { return clicked.size() == 2; }));
  EXPECT_EQ((std::vector<int>{2, 3}), clicked);
  EXPECT_EQ(3, tabs->TabIndex());
  // A disabled tab ignores the click.
  tabs->Tabs().Item(0).Enabled = false;
  tabs->TabsChanged();
  tabs->UpdateLayout();
  Click(0);
  Click(2);
  ASSERT_TRUE(PumpUntil([&] { return clicked.size() == 3; }));
  EXPECT_EQ((std::vector<int>{2, 3, 2}), clicked);
}

TEST_F(TabInputTest, ArrowsSkipDisabledHiddenAndRefusedTabs) {
  tabs->Tabs().Item(1).Enabled = false;
  tabs->Tabs().Item(2).Visible = false;
  tabs->TabsChanged();
  tabs->UpdateLayout();
  Key(VK_RIGHT);
  ASSERT_TRUE(PumpUntil([&] { return !clicked.empty(); }));
  EXPECT_EQ(3, tabs->TabIndex());
  Key(VK_RIGHT);
  ASSERT_TRUE(PumpUntil([&] { return clicked.size() == 2; }));
  EXPECT_EQ(0, tabs->TabIndex());
  // Every other tab refused: the selection stays; the walk ends.
  refuse = 3;
  Key(VK_LEFT);
  Key(VK_END);
  PumpFor(100);
  EXPECT_EQ(0, tabs->TabIndex());
  EXPECT_EQ((std::vector<int>{3, 0}), clicked);
  // The mended case: no tab selected, every tab refused; the walk ends.
  tabs->SetTabIndex(-1);
  log.refuseAll = true;
  Key(VK_RIGHT);
  Key(VK_LEFT);
  PumpFor(100);
  EXPECT_EQ(-1, tabs->TabIndex());
  EXPECT_EQ((std::vector<int>{3, 0}), clicked);
}

// The indicator is combined with what the parent shows; drawn again it
// leaves the parent's pixels as they were.
TEST_F(TabInputTest, DropIndicatorDrawnTwiceRestoresThePixels) {
  PumpFor(100);
  const TKtRect r{20, 40, 36, 48};
  HDC parent = GetDC(form->Handle());
  const int x = tabs->Left() + r.left;
  const int y = tabs->Top() + r.top;
  // (8, 1) lies outside both notches; (1, 7) inside the first.
  const COLORREF open = GetPixel(parent, x + 8, y + 1);
  const COLORREF notch = GetPixel(parent, x + 1, y + 7);
  ASSERT_NE(CLR_INVALID, open);
  tabs->DrawDropIndicator(r);
  EXPECT_NE(open, GetPixel(parent, x + 8, y + 1));
  EXPECT_EQ(notch, GetPixel(parent, x + 1, y + 7));
  tabs->DrawDropIndicator(r);
  EXPECT_EQ(open, GetPixel(parent, x + 8, y + 1));
  ReleaseDC(form->Handle(), parent);
}

}  // namespace
}  // namespace kelm::test

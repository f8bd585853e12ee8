// The tab control's input through real window messages: a click selects a
// tab and tells OnTabClick; the arrow keys walk past disabled, hidden and
// refused tabs.
#include <gtest/gtest.h>
#include <windows.h>

#include <cmath>
#include <vector>

#include "classlib/forms.h"
#include "classlib/menus.h"
#include "classlib/timers.h"
#include "kit/kt_tab_buttons.h"
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

struct TScrollCount : TObject {
  void Scrolled(TObject*) { ++count; }
  int count = 0;
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
  TScrollCount counter;
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

// A row that does not fit: the scroller's half repeats after 400 ms, then
// every 100 ms while held over it, pauses off it, and clicks once more
// when released over it. The timer's ticks are driven here.
TEST_F(TabInputTest, ScrollerRepeatsAfterTheFirstDelayAndPausesOffItsHalf) {
  for (const char16_t* c : {u"Five", u"Six", u"Seven", u"Eight", u"Nine", u"Ten"})
    tabs->Tabs().Add().Caption = c;
  tabs->TabsChanged();
  tabs->SetWidth(160);
  tabs->PlaceButtons();
  ASSERT_TRUE(tabs->TabsDoNotFit());
  TKtTabScroller* scroller = tabs->Scroller();
  ASSERT_NE(nullptr, scroller);
  ASSERT_GT(scroller->Left(), 0);
  EXPECT_EQ(0, tabs->FirstShownIndex());
  EXPECT_FALSE(tabs->CanScroll(false));
  const int w = scroller->Width();
  const int h = scroller->Height();
  const LPARAM right = MAKELPARAM(w - 2, h / 2);
  const LPARAM left = MAKELPARAM(1, h / 2);
  int scrolled = 0;
  tabs->OnScrolledTabs = EventOf<&TScrollCount::Scrolled>(&counter);
  scroller->Perform(WM_LBUTTONDOWN, MK_LBUTTON, right);
  TTimer* timer = scroller->RepeatTimer();
  EXPECT_TRUE(timer->Enabled());
  EXPECT_EQ(400u, timer->Interval());
  EXPECT_EQ(0, tabs->FirstShownIndex());
  const struct {
    LPARAM moveTo;  // 0: no move before the tick
    int first;
    unsigned interval;
  } ticks[] = {
      {0, 1, 100},
      {0, 2, 100},
      {left, 2, 100},   // off its half: paused
      {right, 3, 100},  // back over it
  };
  for (const auto& tick : ticks) {
    if (tick.moveTo != 0) scroller->Perform(WM_MOUSEMOVE, MK_LBUTTON, tick.moveTo);
    scroller->RepeatTick(timer);
    EXPECT_EQ(tick.first, tabs->FirstShownIndex());
    EXPECT_EQ(tick.interval, timer->Interval());
  }
  scroller->Perform(WM_LBUTTONUP, 0, right);
  EXPECT_EQ(4, tabs->FirstShownIndex());
  EXPECT_FALSE(timer->Enabled());
  scrolled = counter.count;
  EXPECT_EQ(4, scrolled);
  EXPECT_TRUE(tabs->CanScroll(false));
  // The other half scrolls back; released off it, only the ticks count.
  scroller->Perform(WM_LBUTTONDOWN, MK_LBUTTON, left);
  scroller->Perform(WM_LBUTTONUP, 0, right);
  EXPECT_EQ(4, tabs->FirstShownIndex());
  scroller->Perform(WM_LBUTTONDOWN, MK_LBUTTON, left);
  scroller->Perform(WM_LBUTTONUP, 0, left);
  EXPECT_EQ(3, tabs->FirstShownIndex());
}

TEST_F(TabInputTest, MenuListsVisibleTabsSortedWithTheSelectedOneChecked) {
  tabs->Tabs().Item(2).Visible = false;
  tabs->Tabs().Item(3).Enabled = false;
  tabs->TabsChanged();
  tabs->SetTabIndex(1);
  tabs->SetShowMenuButton(true);
  tabs->PlaceButtons();
  TKtTabMenuButton* button = tabs->MenuButton();
  ASSERT_NE(nullptr, button);
  const struct {
    bool sorted;
    std::vector<std::u16string> captions;
  } cases[] = {{true, {u"Four", u"One", u"Two"}}, {false, {u"One", u"Two", u"Four"}}};
  for (const auto& c : cases) {
    tabs->SetSortTabMenu(c.sorted);
    button->BuildMenu();
    TMenuItem* items = button->Menu()->Items();
    ASSERT_EQ(3, items->Count());
    std::vector<std::u16string> captions;
    for (int i = 0; i < items->Count(); ++i) {
      captions.push_back(items->Items(i)->Caption());
      EXPECT_EQ(items->Items(i)->Caption() == u"Two", items->Items(i)->Checked());
      EXPECT_EQ(items->Items(i)->Caption() != u"Four", items->Items(i)->Enabled());
    }
    EXPECT_EQ(c.captions, captions);
  }
  // Choosing an item selects its tab.
  button->Menu()->Items()->Items(0)->Click();
  EXPECT_EQ(0, tabs->TabIndex());
  bool right = false;
  const TPoint at = button->PopupPoint(right);
  EXPECT_TRUE(right);
  EXPECT_EQ(button->ClientToScreen(TPoint{button->Width() - 1, button->Height()}).y, at.y);
}

// Without hot tracking, tab hints still follow the mouse: the hint changes
// and the strip is not repainted.
TEST_F(TabInputTest, TabHintsFollowTheMouseAndComeBackOffTheTabs) {
  tabs->SetHint(u"control");
  tabs->Loaded();
  tabs->Tabs().Item(1).Hint = u"second";
  tabs->SetHotTrack(false);
  tabs->SetTabHints(true);
  tabs->UpdateLayout();
  const TKtRect r = tabs->TabRectInControl(1);
  tabs->Perform(WM_MOUSEMOVE, 0, MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2));
  EXPECT_EQ(1, tabs->HotTab());
  EXPECT_EQ(u"second", tabs->Hint());
  EXPECT_TRUE(tabs->HotTrackTimer()->Enabled());
  EXPECT_EQ(60u, tabs->HotTrackTimer()->Interval());
  tabs->Perform(WM_MOUSEMOVE, 0, MAKELPARAM(5, tabs->Height() - 5));
  EXPECT_EQ(-1, tabs->HotTab());
  EXPECT_EQ(u"control", tabs->Hint());
  EXPECT_FALSE(tabs->HotTrackTimer()->Enabled());
}

TEST_F(TabInputTest, AcceleratorSelectsItsTab) {
  tabs->Tabs().Item(2).Caption = u"T&hree";
  tabs->Tabs().Item(3).Caption = u"&Four";
  tabs->Tabs().Item(3).Enabled = false;
  tabs->TabsChanged();
  ASSERT_TRUE(PumpUntil([&] { return IsWindowVisible(form->Handle()) != 0; }));
  EXPECT_NE(0, tabs->Perform(CM_DIALOGCHAR, 'h', 0));
  EXPECT_EQ(2, tabs->TabIndex());
  EXPECT_EQ(std::vector<int>{2}, clicked);
  // A disabled tab's accelerator and an unknown key are not taken.
  EXPECT_EQ(0, tabs->Perform(CM_DIALOGCHAR, 'f', 0));
  EXPECT_EQ(0, tabs->Perform(CM_DIALOGCHAR, 'x', 0));
  EXPECT_EQ(2, tabs->TabIndex());
}

// A dragged tab over no tab scrolls the row towards the side it is on:
// first after 400 ms, then every 300 ms; back over a tab it stops.
TEST_F(TabInputTest, DragOverNoTabScrollsTowardsItsSide) {
  for (const char16_t* c : {u"Five", u"Six", u"Seven", u"Eight", u"Nine", u"Ten"})
    tabs->Tabs().Add().Caption = c;
  tabs->TabsChanged();
  tabs->SetWidth(160);
  tabs->SetAllowTabDragging(true);
  tabs->PlaceButtons();
  ASSERT_TRUE(tabs->TabsDoNotFit());
  TTimer* timer = tabs->DragScrollTimer();
  const TKtRect card = tabs->CardRect(0);
  const int below = (card.top + card.bottom) / 2;
  bool accept = true;
  tabs->DragOver(tabs, tabs->Width() - 3, below, TDragState::dsDragMove, accept);
  EXPECT_FALSE(accept);
  EXPECT_TRUE(timer->Enabled());
  EXPECT_EQ(400u, timer->Interval());
  tabs->DragScrollTick(timer);
  EXPECT_EQ(1, tabs->FirstShownIndex());
  EXPECT_EQ(300u, timer->Interval());
  tabs->DragScrollTick(timer);
  EXPECT_EQ(2, tabs->FirstShownIndex());
  // On the left side it scrolls back.
  tabs->DragOver(tabs, 2, below, TDragState::dsDragMove, accept);
  tabs->DragScrollTick(timer);
  EXPECT_EQ(1, tabs->FirstShownIndex());
  // Over a tab, and after leaving, the timer stops.
  tabs->UpdateLayout();
  const TKtRect r = tabs->TabRectInControl(tabs->FirstShownIndex() + 1);
  tabs->DragOver(tabs, (r.left + r.right) / 2, (r.top + r.bottom) / 2, TDragState::dsDragMove,
                 accept);
  EXPECT_FALSE(timer->Enabled());
  tabs->DragOver(tabs, 2, below, TDragState::dsDragMove, accept);
  EXPECT_TRUE(timer->Enabled());
  tabs->DragOver(tabs, 2, below, TDragState::dsDragLeave, accept);
  EXPECT_FALSE(timer->Enabled());
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

// A move onto a tab repaints only the strip, marked hot-tracking only; the
// paint clears the mark. Should a full repaint join it, the card's shadow
// is painted all the same.
TEST_F(TabInputTest, HotTrackingRepaintsOnlyTheStrip) {
  UpdateWindow(tabs->Handle());
  RECT pending{};
  ASSERT_FALSE(GetUpdateRect(tabs->Handle(), &pending, FALSE));
  const TKtRect r = tabs->TabRectInControl(1);
  SendMessageW(tabs->Handle(), WM_MOUSEMOVE, 0,
               MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2));
  ASSERT_EQ(1, tabs->HotTab());
  EXPECT_TRUE(tabs->HotTrackOnly());
  ASSERT_TRUE(GetUpdateRect(tabs->Handle(), &pending, FALSE));
  const TKtRect strip = tabs->TabStripRect();
  EXPECT_EQ(strip.left, pending.left);
  EXPECT_EQ(strip.top, pending.top);
  EXPECT_EQ(strip.right + 1, pending.right);
  EXPECT_EQ(strip.bottom + 1, pending.bottom);
  UpdateWindow(tabs->Handle());
  EXPECT_FALSE(tabs->HotTrackOnly());

  // Hot again (off the tabs, then on), and the whole control invalidated
  // before the paint.
  SendMessageW(tabs->Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(150, 100));
  ASSERT_EQ(-1, tabs->HotTab());
  UpdateWindow(tabs->Handle());
  form->SetColor(static_cast<TColor>(RGB(200, 120, 40)));
  UpdateWindow(tabs->Handle());
  SendMessageW(tabs->Handle(), WM_MOUSEMOVE, 0,
               MAKELPARAM((r.left + r.right) / 2, (r.top + r.bottom) / 2));
  ASSERT_TRUE(tabs->HotTrackOnly());
  InvalidateRect(tabs->Handle(), nullptr, FALSE);
  UpdateWindow(tabs->Handle());
  const TKtRect card = tabs->CardRect(0);
  HDC dc = GetDC(tabs->Handle());
  const COLORREF outer = GetPixel(dc, card.right, (card.top + card.bottom) / 2);
  ReleaseDC(tabs->Handle(), dc);
  auto ch = [](int v) { return static_cast<BYTE>(std::lround(v * (1.0 - 15 / 255.0))); };
  EXPECT_EQ(RGB(ch(200), ch(120), ch(40)), outer) << std::hex << outer;
}

}  // namespace
}  // namespace kelm::test

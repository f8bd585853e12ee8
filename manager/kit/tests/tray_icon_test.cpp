// The tray icon's record, its callbacks on the shared window (posted as
// the shell posts them), its timers, image list and menu.
#include "kit/tray_icon.h"

#include <gtest/gtest.h>

#include <cstring>

#include "classlib/imglist.h"
#include "classlib/menus.h"
#include "tray_test_support.h"

namespace kelm::test {
namespace {

using namespace classlib;
using kit::TNotifyIconDataA;
using kit::TTrayIcon;

constexpr UINT kCallback = 0x800;

HICON SystemIcon() {
  return CopyIcon(LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION)));
}

// The colour at the middle of an icon's image, as 0xRRGGBB.
uint32_t IconCentre(HICON icon) {
  ICONINFO info{};
  if (!GetIconInfo(icon, &info)) return 0xFFFFFFFF;
  BITMAPINFO bi{};
  bi.bmiHeader.biSize = sizeof bi.bmiHeader;
  bi.bmiHeader.biWidth = 16;
  bi.bmiHeader.biHeight = -16;
  bi.bmiHeader.biPlanes = 1;
  bi.bmiHeader.biBitCount = 32;
  uint32_t pixels[256] = {};
  HDC dc = GetDC(nullptr);
  GetDIBits(dc, info.hbmColor, 0, 16, pixels, &bi, DIB_RGB_COLORS);
  ReleaseDC(nullptr, dc);
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  return pixels[8 * 16 + 8] & 0xFFFFFF;
}

struct TrayFixture : ::testing::Test {
  TEventLog* log = New<TEventLog>();
  TTrayIcon* icon = New<TTrayIcon>(nullptr);
  TrayFixture() {
    ShellRecorder::Clear();
    ShellRecorder::Answer = TRUE;
  }
  ~TrayFixture() override {
    Free(icon);
    Free(log);
    ShellRecorder::Answer = TRUE;
  }
  void Post(UINT notice) { Post(notice, icon->IconId()); }
  static void Post(UINT notice, WPARAM id) {
    PostMessageW(TTrayIcon::HandlerWindow(), kCallback, id, notice);
  }
  void WatchAll() {
    icon->OnClick = EventOf<&TEventLog::Click>(log);
    icon->OnMouseDown = EventOf<&TEventLog::Mouse>(log);
    icon->OnMouseUp = EventOf<&TEventLog::Mouse>(log);
    icon->OnMouseMove = EventOf<&TEventLog::Move>(log);
    icon->OnBalloonHintShow = EventOf<&TEventLog::Click>(log);
    icon->OnBalloonHintHide = EventOf<&TEventLog::Click>(log);
    icon->OnBalloonHintTimeout = EventOf<&TEventLog::Click>(log);
    icon->OnBalloonHintClick = EventOf<&TEventLog::Click>(log);
  }
};

// ---- the record
TEST_F(TrayFixture, ShowModifyAndHideSendTheFullRecordForThisIcon) {
  icon->Icon()->SetHandle(SystemIcon());
  icon->SetHint(u"Quorvel Varnholt");
  ShellRecorder::Clear();
  EXPECT_TRUE(icon->ShowIcon());
  EXPECT_TRUE(icon->IconVisible());
  EXPECT_TRUE(icon->ModifyIcon());
  EXPECT_TRUE(icon->HideIcon());
  EXPECT_FALSE(icon->IconVisible());
  ASSERT_EQ(ShellRecorder::Calls.size(), 3u);
#ifndef _WIN64
  // The 32-bit program's record: 488 bytes, uID the component's address.
  EXPECT_EQ(sizeof(TNotifyIconDataA), 488u);
  EXPECT_EQ(icon->IconId(), reinterpret_cast<UINT_PTR>(icon));
#endif
  const DWORD expected[] = {kit::kNimAdd, kit::kNimModify, kit::kNimDelete};
  for (size_t i = 0; i < 3; ++i) {
    const TNotifyIconDataA& d = ShellRecorder::Calls[i].data;
    SCOPED_TRACE(i);
    EXPECT_EQ(ShellRecorder::Calls[i].message, expected[i]);
    EXPECT_EQ(d.cbSize, sizeof(TNotifyIconDataA));
    EXPECT_EQ(d.hWnd, TTrayIcon::HandlerWindow());
    EXPECT_EQ(d.uID, icon->IconId());
    EXPECT_EQ(d.uFlags, 7u);
    EXPECT_EQ(d.uCallbackMessage, kCallback);
    EXPECT_EQ(d.hIcon, icon->Icon()->Handle());
    EXPECT_STREQ(d.szTip, "Quorvel Varnholt");
  }
}

TEST_F(TrayFixture, TipFollowsHintAndShowHintAndIsCutTo127Bytes) {
  struct Case {
    std::u16string hint;
    bool showHint;
    size_t tipLength;
  } cases[] = {{u"short", true, 5},
               {u"short", false, 0},
               {u"", true, 0},
               {std::u16string(300, u'h'), true, 127}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tipLength);
    icon->SetHint(c.hint);
    icon->SetShowHint(c.showHint);
    ShellRecorder::Clear();
    icon->ModifyIcon();
    ASSERT_EQ(ShellRecorder::Calls.size(), 1u);
    EXPECT_EQ(std::strlen(ShellRecorder::Calls[0].data.szTip), c.tipLength);
  }
}

TEST_F(TrayFixture, SettersSendOneModifyAndNothingForAnEqualValue) {
  icon->SetHint(u"a");
  icon->SetShowHint(false);
  icon->SetHint(u"a");
  icon->SetShowHint(false);
  EXPECT_EQ(ShellRecorder::Of(icon->IconId(), kit::kNimModify).size(), 2u);
  // The owned icon's change is sent too, with its new handle.
  ShellRecorder::Clear();
  icon->Icon()->SetHandle(SystemIcon());
  ASSERT_EQ(ShellRecorder::Calls.size(), 1u);
  EXPECT_EQ(ShellRecorder::Calls[0].data.hIcon, icon->Icon()->Handle());
  TIcon* other = New<TIcon>();
  other->SetHandle(SystemIcon());
  ShellRecorder::Clear();
  icon->SetIcon(other);
  EXPECT_EQ(ShellRecorder::Calls.size(), 1u);
  EXPECT_NE(icon->Icon()->Handle(), other->Handle());  // a copy
  Free(other);
}

TEST_F(TrayFixture, BalloonClearsTheOldOneFirstThenPutsFlagsBack) {
  icon->SetIconVisible(true);
  ShellRecorder::Clear();
  EXPECT_TRUE(icon->ShowBalloonHint(std::u16string(100, u't'), std::u16string(300, u'x'), 2, 10));
  ASSERT_EQ(ShellRecorder::Calls.size(), 2u);
  const TNotifyIconDataA& clear = ShellRecorder::Calls[0].data;
  EXPECT_EQ(ShellRecorder::Calls[0].message, kit::kNimModify);
  EXPECT_EQ(clear.uFlags, 7u | 0x10u);
  EXPECT_STREQ(clear.szInfo, "");
  const TNotifyIconDataA& shown = ShellRecorder::Calls[1].data;
  EXPECT_EQ(ShellRecorder::Calls[1].message, kit::kNimModify);
  EXPECT_EQ(shown.uFlags, 7u | 0x10u);
  EXPECT_EQ(std::strlen(shown.szInfo), 255u);
  EXPECT_EQ(std::strlen(shown.szInfoTitle), 63u);
  EXPECT_EQ(shown.uTimeout, 10000u);
  EXPECT_EQ(shown.dwInfoFlags, 2u);
  EXPECT_EQ(shown.uID, icon->IconId());
  ShellRecorder::Clear();
  icon->ModifyIcon();
  EXPECT_EQ(ShellRecorder::Calls.at(0).data.uFlags, 7u);
}

TEST_F(TrayFixture, BalloonIconTypesMapToInfoFlags) {
  // An unknown type shows no icon.
  const std::pair<uint8_t, DWORD> cases[] = {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}, {9, 0}};
  for (auto [type, flags] : cases) {
    SCOPED_TRACE(type);
    ShellRecorder::Clear();
    icon->ShowBalloonHint(u"Warning", u"text", type, 1);
    EXPECT_EQ(ShellRecorder::Calls.back().data.dwInfoFlags, flags);
  }
}

TEST_F(TrayFixture, ShellFailuresAreReturnedNotRaised) {
  ShellRecorder::Answer = FALSE;
  bool shown = true, modified = true, balloon = true, hidden = true;
  EXPECT_NO_THROW(shown = icon->ShowIcon());
  EXPECT_FALSE(shown);
  EXPECT_TRUE(icon->IconVisible());  // a failed add still counts as shown
  EXPECT_NO_THROW(modified = icon->ModifyIcon());
  EXPECT_NO_THROW(balloon = icon->ShowBalloonHint(u"t", u"x", 1, 1));
  EXPECT_NO_THROW(hidden = icon->HideIcon());
  EXPECT_FALSE(modified);
  EXPECT_FALSE(balloon);
  EXPECT_FALSE(hidden);
}

// The record's texts go to the program's code page: a double-byte one
// keeps whole characters.
TEST_F(TrayFixture, TextsAreCutOnACharacterBoundaryOfTheCodePage) {
  class Cp932 : public TCodePageConverter {
   public:
    std::u16string ToWide(std::string_view) const override { return {}; }
    std::string ToAnsi(std::u16string_view w) const override {
      char out[16] = {};
      int n = WideCharToMultiByte(932, 0, reinterpret_cast<const wchar_t*>(w.data()),
                                  static_cast<int>(w.size()), out, sizeof out, nullptr, nullptr);
      return std::string(out, static_cast<size_t>(n > 0 ? n : 0));
    }
  };
  auto previous = SetCodePage(std::make_unique<Cp932>());
  icon->SetHint(u"a" + std::u16string(100, u'\u3042'));  // hiragana: two bytes each
  icon->ShowBalloonHint(std::u16string(40, u'\u3042'), std::u16string(200, u'\u3042'), 1, 1);
  SetCodePage(std::move(previous));
  const TNotifyIconDataA& d = ShellRecorder::Calls.back().data;
  EXPECT_EQ(std::strlen(d.szTip), 127u);  // "a" and 63 whole characters
  EXPECT_EQ(std::strlen(d.szInfo), 254u);
  EXPECT_EQ(std::strlen(d.szInfoTitle), 62u);
  EXPECT_EQ(static_cast<unsigned char>(d.szTip[125]), 0x82u);  // a lead byte, its trail kept
}

// ---- callbacks
TEST_F(TrayFixture, WithADoubleClickHandlerAClickWaitsForTheDoubleClickTime) {
  WatchAll();
  icon->OnDblClick = EventOf<&TEventLog::DblClick>(log);
  const DWORD wait = GetDoubleClickTime();
  const DWORD start = GetTickCount();
  Post(WM_LBUTTONDOWN);
  Post(WM_LBUTTONUP);
  PumpFor(static_cast<int>(wait / 3));
  EXPECT_FALSE(log->Has("click"));
  DWORD clickedAt = 0;
  log->After = [&](TObject*) {
    if (!clickedAt && log->Lines.back() == "click") clickedAt = GetTickCount();
  };
  ASSERT_TRUE(PumpUntil([&] { return clickedAt != 0; }, static_cast<int>(wait) + 3000));
  // Timers are coarse: allow one period of slack.
  EXPECT_GE(clickedAt - start + 20, wait);
  EXPECT_EQ(log->Count("click"), 1u);
  EXPECT_FALSE(log->Has("dblclick"));
}

TEST_F(TrayFixture, WithoutADoubleClickHandlerAClickComesAtOnceBeforeMouseUp) {
  WatchAll();
  SetCursorPos(40, 50);
  const UINT_PTR id = icon->IconId();
  SendMessageW(TTrayIcon::HandlerWindow(), kCallback, id, WM_LBUTTONDOWN);
  SendMessageW(TTrayIcon::HandlerWindow(), kCallback, id, WM_LBUTTONUP);
  const std::string left = std::to_string(TShiftState{ssLeft}.ToInt());
  EXPECT_EQ(log->Lines, (std::vector<std::string>{"mouse 0 " + left + " 40,50", "click",
                                                  "mouse 0 " + left + " 40,50"}));
}

// A modal menu loop tells its owner (the application window) when it idles:
// the menu is closed then, after noting where it showed.
struct MenuCloser {
  RECT shownAt{};
  int shown = 0;
  MenuCloser() {
    Application->HookMainWindow(
        [this](TMessage& m) {
          if (m.Msg == WM_ENTERIDLE && m.WParam == MSGF_MENU) {
            ++shown;
            GetWindowRect(reinterpret_cast<HWND>(m.LParam), &shownAt);
            EndMenu();
          }
          return false;
        },
        this);
  }
  ~MenuCloser() { Application->UnhookMainWindow(this); }
};

// Should the loop never say it idles, the menu is closed after two seconds
// and the test fails instead of waiting for ever.
void CALLBACK CloseMenu(HWND, UINT, UINT_PTR, DWORD) { EndMenu(); }
struct MenuDeadline {
  UINT_PTR timer = SetTimer(nullptr, 0, 2000, &CloseMenu);
  ~MenuDeadline() { KillTimer(nullptr, timer); }
};

TEST_F(TrayFixture, ADoubleClickFiresOnlyOnDblClickThenTheMenusDefaultItem) {
  WatchAll();
  icon->OnDblClick = EventOf<&TEventLog::DblClick>(log);
  TPopupMenu* menu = New<TPopupMenu>(nullptr);
  for (int i = 0; i < 3; ++i) menu->Items()->Add(New<TMenuItem>(menu));
  menu->Items()->Items(1)->SetDefault(true);
  menu->Items()->Items(1)->OnClick = EventOf<&TEventLog::Enter>(log);
  menu->Items()->Items(2)->OnClick = EventOf<&TEventLog::Exit>(log);
  menu->OnPopup = EventOf<&TEventLog::Tick>(log);
  icon->SetPopupMenu(menu);
  MenuCloser closer;
  MenuDeadline deadline;
  // With LeftPopup the left press opens the menu instead of the default item.
  for (bool leftPopup : {false, true}) {
    SCOPED_TRACE(leftPopup);
    icon->SetLeftPopup(leftPopup);
    log->Lines.clear();
    for (UINT m : {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP}) Post(m);
    PumpFor(static_cast<int>(GetDoubleClickTime()) + 300);
    EXPECT_EQ(log->Count("dblclick"), 1u);
    EXPECT_FALSE(log->Has("click"));
    EXPECT_EQ(log->Count("enter"), leftPopup ? 0u : 1u);  // the default item only
    EXPECT_FALSE(log->Has("exit"));
    EXPECT_EQ(log->Count("tick"), leftPopup ? 1u : 0u);
  }
  // Auto-popup off: neither the menu nor its default item.
  icon->SetLeftPopup(false);
  menu->SetAutoPopup(false);
  log->Lines.clear();
  Post(WM_LBUTTONDBLCLK);
  PumpFor(30);
  EXPECT_EQ(log->Lines, std::vector<std::string>{"dblclick"});
  Free(menu);
  EXPECT_EQ(icon->PopupMenu(), nullptr);
}

TEST_F(TrayFixture, DisabledDropsMouseMessagesButNotBalloonNotices) {
  WatchAll();
  icon->SetEnabled(false);
  for (UINT m : {WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_LBUTTONUP, WM_RBUTTONDOWN, WM_RBUTTONUP,
                 WM_MBUTTONDOWN, WM_MBUTTONUP, WM_LBUTTONDBLCLK})
    Post(m);
  PumpFor(50);
  EXPECT_TRUE(log->Lines.empty());
  std::vector<TObject*> senders;
  log->After = [&](TObject* s) { senders.push_back(s); };
  for (UINT m : {0x402u, 0x403u, 0x404u, 0x405u}) Post(m);
  PumpFor(50);
  EXPECT_EQ(log->Count("click"), 4u);
  EXPECT_EQ(senders, std::vector<TObject*>(4, icon));
}

TEST_F(TrayFixture, EachBalloonNoticeReachesItsOwnEvent) {
  TNotifyEvent TTrayIcon::*events[] = {&TTrayIcon::OnBalloonHintShow, &TTrayIcon::OnBalloonHintHide,
                                       &TTrayIcon::OnBalloonHintTimeout,
                                       &TTrayIcon::OnBalloonHintClick};
  for (UINT i = 0; i < 4; ++i) {
    SCOPED_TRACE(i);
    for (auto e : events) icon->*e = nullptr;
    icon->*events[i] = EventOf<&TEventLog::Click>(log);
    log->Lines.clear();
    for (UINT m : {0x402u, 0x403u, 0x404u, 0x405u}) Post(m);
    PumpFor(30);
    EXPECT_EQ(log->Lines.size(), 1u);
  }
}

TEST_F(TrayFixture, MouseButtonsReportButtonShiftAndCursorPosition) {
  WatchAll();
  SetCursorPos(123, 45);
  const struct {
    UINT message;
    std::string line;
  } cases[] = {
      {WM_RBUTTONDOWN, "mouse 1 " + std::to_string(TShiftState{ssRight}.ToInt()) + " 123,45"},
      {WM_RBUTTONUP, "mouse 1 " + std::to_string(TShiftState{ssRight}.ToInt()) + " 123,45"},
      {WM_MBUTTONDOWN, "mouse 2 " + std::to_string(TShiftState{ssMiddle}.ToInt()) + " 123,45"},
      {WM_MBUTTONUP, "mouse 2 " + std::to_string(TShiftState{ssMiddle}.ToInt()) + " 123,45"},
      {WM_MOUSEMOVE, "move 0 123,45"},
      {WM_USER + 77, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    log->Lines.clear();
    Post(c.message);
    PumpFor(30);
    EXPECT_EQ(log->Lines,
              c.line.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.line});
  }
}

TEST_F(TrayFixture, EnterAndExitFollowTheCursor) {
  icon->OnMouseEnter = EventOf<&TEventLog::Enter>(log);
  icon->OnMouseExit = EventOf<&TEventLog::Exit>(log);
  icon->OnMouseMove = EventOf<&TEventLog::Move>(log);
  icon->SetWantEnterExitEvents(true);
  SetCursorPos(300, 300);
  Post(WM_MOUSEMOVE);
  Post(WM_MOUSEMOVE);
  PumpFor(150);  // several polls with the cursor still
  EXPECT_EQ(log->Lines, (std::vector<std::string>{"enter", "move 0 300,300", "move 0 300,300"}));
  SetCursorPos(310, 300);
  ASSERT_TRUE(PumpUntil([&] { return log->Has("exit"); }, 2000));
  EXPECT_EQ(log->Count("exit"), 1u);
  // Back over the icon: a new enter.
  Post(WM_MOUSEMOVE);
  ASSERT_TRUE(PumpUntil([&] { return log->Count("enter") == 2; }, 2000));
  // Without the option there are no enters, and no polling.
  icon->SetWantEnterExitEvents(false);
  log->Lines.clear();
  SetCursorPos(200, 200);
  PumpFor(100);
  EXPECT_TRUE(log->Lines.empty());
}

// The shared window acts only for live icons: any program may post to it.
TEST_F(TrayFixture, StaleAndForeignCallbacksAreIgnored) {
  WatchAll();
  TEventLog* goneLog = New<TEventLog>();
  TTrayIcon* gone = New<TTrayIcon>(nullptr);
  gone->OnMouseDown = EventOf<&TEventLog::Mouse>(goneLog);
  const WPARAM goneId = gone->IconId();
  Free(gone);
  Post(WM_LBUTTONDOWN, goneId);
  Post(WM_LBUTTONDOWN, 0);
  Post(WM_LBUTTONDOWN, 0x12345678);
  PumpFor(50);
  EXPECT_TRUE(goneLog->Lines.empty());
  EXPECT_TRUE(log->Lines.empty());
  Post(WM_LBUTTONDOWN);
  PumpFor(30);
  EXPECT_EQ(log->Lines.size(), 1u);
  Free(goneLog);
}

TEST_F(TrayFixture, TheSharedWindowRefusesToCloseAndGoesWithTheLastIcon) {
  HWND wnd = TTrayIcon::HandlerWindow();
  for (UINT m : {WM_CLOSE, WM_QUERYENDSESSION, WM_ENDSESSION, WM_DESTROY})
    EXPECT_EQ(SendMessageW(wnd, m, 0, 0), 1);
  EXPECT_TRUE(IsWindow(wnd));
  TTrayIcon* second = New<TTrayIcon>(nullptr);
  EXPECT_EQ(TTrayIcon::HandlerWindow(), wnd);
  Free(second);
  EXPECT_TRUE(IsWindow(wnd));
}

TEST_F(TrayFixture, AnEventThatFreesTheIconEndsTheDispatch) {
  icon->OnMouseEnter = EventOf<&TEventLog::Enter>(log);
  icon->OnMouseMove = EventOf<&TEventLog::Move>(log);
  icon->SetWantEnterExitEvents(true);
  log->After = [&](TObject*) { FreeAndNil(icon); };
  Post(WM_MOUSEMOVE);
  PumpFor(50);
  EXPECT_EQ(log->Lines, std::vector<std::string>{"enter"});
  EXPECT_EQ(icon, nullptr);
  // The click timer's tick may free it too.
  icon = New<TTrayIcon>(nullptr);
  icon->OnClick = EventOf<&TEventLog::Click>(log);
  icon->OnDblClick = EventOf<&TEventLog::DblClick>(log);
  Post(WM_LBUTTONDOWN);
  Post(WM_LBUTTONUP);
  ASSERT_TRUE(
      PumpUntil([&] { return icon == nullptr; }, static_cast<int>(GetDoubleClickTime()) + 3000));
  EXPECT_EQ(log->Lines.back(), "click");
}

// ---- menu
TEST_F(TrayFixture, RightButtonPopsTheMenuUpAtTheCursorForThisIcon) {
  TPopupMenu* menu = New<TPopupMenu>(nullptr);
  TMenuItem* item = New<TMenuItem>(menu);
  item->SetCaption(u"Show Program");
  menu->Items()->Add(item);
  TComponent* popupComponent = nullptr;
  menu->OnPopup = EventOf<&TEventLog::Tick>(log);
  log->After = [&](TObject*) { popupComponent = menu->PopupComponent(); };
  icon->SetPopupMenu(menu);
  MenuCloser closer;
  MenuDeadline deadline;
  SetCursorPos(400, 300);
  Post(WM_RBUTTONDOWN);
  ASSERT_TRUE(PumpUntil([&] { return closer.shown == 1; }, 2000));
  PumpFor(50);
  EXPECT_EQ(log->Count("tick"), 1u);
  EXPECT_EQ(popupComponent, icon);
  EXPECT_EQ(closer.shownAt.left, 400);
  EXPECT_EQ(closer.shownAt.top, 300);
  // Auto-popup off: the press is only reported.
  menu->SetAutoPopup(false);
  Post(WM_RBUTTONDOWN);
  PumpFor(50);
  EXPECT_EQ(log->Count("tick"), 1u);
  EXPECT_EQ(closer.shown, 1);
  Free(menu);
}

// ---- image list and cycling
struct ListFixture : TrayFixture {
  TImageList* list = New<TImageList>(nullptr);
  const uint32_t colours[3] = {0xFF0000, 0x00FF00, 0x0000FF};
  ListFixture() {
    for (uint32_t c : colours) {
      TBitmap* b = New<TBitmap>();
      b->SetWidth(16);
      b->SetHeight(16);
      // TColor is 0x00BBGGRR.
      b->Canvas()->Brush()->SetColor(
          static_cast<TColor>(((c & 0xFF) << 16) | (c & 0xFF00) | (c >> 16)));
      b->Canvas()->FillRect(Rect(0, 0, 16, 16));
      list->Add(b, nullptr);
      Free(b);
    }
  }
  ~ListFixture() override { Free(list); }
};

TEST_F(ListFixture, IconIndexSelectsAnImageAndStopsAtTheLast) {
  icon->SetIconIndex(2);
  EXPECT_EQ(icon->IconIndex(), 0);  // no list yet
  ShellRecorder::Clear();
  icon->SetIconList(list);  // selects the first image
  EXPECT_EQ(IconCentre(icon->Icon()->Handle()), colours[0]);
  EXPECT_EQ(ShellRecorder::Calls.size(), 1u);
  const struct { int index, expected; } cases[] = {{1, 1}, {2, 2}, {7, 2}, {0, 0}, {-3, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.index);
    ShellRecorder::Clear();
    icon->SetIconIndex(c.index);
    EXPECT_EQ(icon->IconIndex(), c.expected);
    EXPECT_EQ(IconCentre(icon->Icon()->Handle()), colours[c.expected]);
    ASSERT_EQ(ShellRecorder::Calls.size(), 1u);
    EXPECT_EQ(ShellRecorder::Calls[0].data.hIcon, icon->Icon()->Handle());
  }
  icon->SetIconIndex(2);
  FreeAndNil(list);
  EXPECT_EQ(icon->IconList(), nullptr);
  EXPECT_EQ(icon->IconIndex(), 0);
}

TEST_F(ListFixture, CyclingWalksTheListAndWrapsAround) {
  icon->SetIconList(list);
  icon->SetIconIndex(2);
  icon->OnCycle = EventOf<&TEventLog::Cycle>(log);
  icon->SetCycleInterval(30);
  icon->SetCycleIcons(true);
  EXPECT_EQ(icon->IconIndex(), 0);
  ASSERT_TRUE(PumpUntil([&] { return log->Lines.size() >= 4; }));
  icon->SetCycleIcons(false);
  EXPECT_EQ(std::vector<std::string>(log->Lines.begin(), log->Lines.begin() + 4),
            (std::vector<std::string>{"cycle 1", "cycle 2", "cycle 0", "cycle 1"}));
  const size_t seen = log->Lines.size();
  PumpFor(120);
  EXPECT_EQ(log->Lines.size(), seen);
}

TEST(TaskbarCreated, WatchedFromCommonControls471) {
  const std::pair<DWORD, bool> cases[] = {
      {0, false}, {0x00040046, false}, {0x00040047, true}, {0x00050050, true}, {0x00060000, true}};
  for (auto [version, wanted] : cases)
    EXPECT_EQ(kit::WantsTaskbarCreated(version), wanted) << version;
  // This system's library is new enough.
  EXPECT_GT(kit::PackedComCtlVersion(), 0x00040046u);
  EXPECT_EQ(kit::TaskbarCreatedMessage(), RegisterWindowMessageW(L"TaskbarCreated"));
}

TEST_F(TrayFixture, TaskbarCreatedAddsAVisibleIconAgain) {
  TTrayIcon* hidden = New<TTrayIcon>(nullptr);
  icon->SetIconVisible(true);
  ShellRecorder::Clear();
  SendMessageW(Application->Handle(), kit::TaskbarCreatedMessage(), 0, 0);
  EXPECT_EQ(ShellRecorder::Of(icon->IconId(), kit::kNimAdd).size(), 1u);
  EXPECT_TRUE(ShellRecorder::Of(hidden->IconId(), kit::kNimAdd).empty());
  Free(hidden);
}

TEST_F(TrayFixture, FreeingDeletesTheIcon) {
  icon->SetIconVisible(true);
  icon->SetMinimizeToTray(true);
  const UINT id = icon->IconId();
  ShellRecorder::Clear();
  FreeAndNil(icon);
  EXPECT_EQ(ShellRecorder::Of(id, kit::kNimDelete).size(), 1u);
  EXPECT_EQ(ShellRecorder::Calls.size(), 1u);
  // Its application hook went with it.
  SendMessageW(Application->Handle(), kit::TaskbarCreatedMessage(), 0, 0);
  EXPECT_TRUE(ShellRecorder::Of(id, kit::kNimAdd).empty());
}

}  // namespace
}  // namespace kelm::test

namespace kelm::test {
namespace {

// An icon owned by a form watches the form's window until the icon goes.
TEST(TrayOwnerForm, MinimiseHandlerThatFreesItsIconLeavesTheFormItsOwnWindow) {
  TForm* form = New<TForm>(nullptr, 0);
  form->SetBounds(50, 50, 200, 100);
  TEventLog* log = New<TEventLog>();
  TTrayIcon* icon = New<TTrayIcon>(form);
  icon->SetMinimizeToTray(true);
  icon->OnMinimizeToTray = EventOf<&TEventLog::Minimize>(log);
  log->After = [&](TObject*) { FreeAndNil(icon); };
  form->Show();
  PumpFor(30);
  struct {
    WPARAM wParam;
    LPARAM lParam;
    UINT message;
  } const taken[] = {{0, SW_PARENTCLOSING, WM_SHOWWINDOW}, {SC_MINIMIZE, 0, WM_SYSCOMMAND}};
  for (const auto& c : taken) {
    SCOPED_TRACE(c.message);
    if (!icon) {
      icon = New<TTrayIcon>(form);
      icon->SetMinimizeToTray(true);
      icon->OnMinimizeToTray = EventOf<&TEventLog::Minimize>(log);
    }
    log->Lines.clear();
    EXPECT_EQ(SendMessageW(form->Handle(), c.message, c.wParam, c.lParam), 1);
    EXPECT_EQ(log->Lines, std::vector<std::string>{"minimize"});
    EXPECT_EQ(icon, nullptr);
    EXPECT_FALSE(IsIconic(form->Handle()));
  }
  // The form's own handling is back: the command minimises it.
  log->Lines.clear();
  SendMessageW(form->Handle(), WM_SYSCOMMAND, SC_MINIMIZE, 0);
  EXPECT_TRUE(log->Lines.empty());
  EXPECT_TRUE(IsIconic(form->Handle()));
  Free(form);
  Free(log);
}

}  // namespace
}  // namespace kelm::test

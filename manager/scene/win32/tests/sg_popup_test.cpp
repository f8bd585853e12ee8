// Popups on real windows under the test desktop: the popup form's window
// (styles, class, place per placement kind, pixels), closing on activation
// elsewhere, Escape and a second Popup, the modal run and its results,
// following a moving owner, and the message popup over its form.
#include <windows.h>

#include <gtest/gtest.h>

#include "scene/sg_control_action.h"  // first: it undoes the Win32 FindResource macro

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "classlib/classdef.h"
#include "classlib/forms.h"
#include "classlib/timers.h"
#include "message_pump.h"
#include "scene/sg_animations.h"
#include "classlib/streams.h"
#include "scene/sg_canvas_gdiplus.h"
#include "scene/sg_classes.h"
#include "scene/sg_popup.h"
#include "scene/sg_scene.h"

namespace kelm::scene {

// An owner form that notes the caption states it is told to draw.
class TOwnerForm : public classlib::TForm {
  CL_DECLARE_CLASS(TOwnerForm, TForm)
 public:
  explicit TOwnerForm(classlib::TComponent* AOwner) : TForm(AOwner, 0) {}
  std::vector<WPARAM> NcActivates;
  void WndProc(classlib::TMessage& m) override {
    if (m.Msg == WM_NCACTIVATE) NcActivates.push_back(m.WParam);
    TForm::WndProc(m);
  }
};
CL_CLASS(TOwnerForm) {}

namespace {

using classlib::New;
using classlib::TForm;

class SceneStart : public ::testing::Environment {
 public:
  void SetUp() override { sgStartupScene(); }
};
const auto* const g_env = ::testing::AddGlobalTestEnvironment(new SceneStart);

// Runs a step once, from a timer tick inside whatever loop is pumping.
class Later : public classlib::TObject {
 public:
  explicit Later(std::function<void()> step) : step_(std::move(step)) {
    timer_ = New<classlib::TTimer>(nullptr);
    timer_->SetInterval(1);
    timer_->SetOnTimer(classlib::EventOf<&Later::Fire>(this));
  }
  ~Later() override { classlib::Free(timer_); }
  bool Fired() const { return fired_; }

 private:
  void Fire(classlib::TObject*) {
    timer_->SetEnabled(false);
    fired_ = true;
    if (auto f = std::move(step_)) f();
  }
  classlib::TTimer* timer_;
  std::function<void()> step_;
  bool fired_ = false;
};

// The popups whose OnClosePopup fired, in order.
class CloseLog : public classlib::TObject {
 public:
  std::vector<classlib::TObject*> Order;
  void Closed(classlib::TObject* sender) { Order.push_back(sender); }
};

RECT WindowRectOf(HWND wnd) {
  RECT r{};
  GetWindowRect(wnd, &r);
  return r;
}

COLORREF ScreenPixel(int x, int y) {
  HDC screen = GetDC(nullptr);
  const COLORREF c = GetPixel(screen, x, y);
  ReleaseDC(nullptr, screen);
  return c;
}

// The popup style's fill (default book).
constexpr COLORREF kPopupFill = RGB(0xF4, 0xF4, 0xF4);

// An owner form at (100, 100), 400 x 300, with a scene over all of it;
// a target object at (50, 40), 100 x 30; popups of 120 x 60 inside the root.
class Popups : public ::testing::Test {
 public:
  // The test frees this popup itself.
  void Forget(TsgPopup* p) { made.erase(std::remove(made.begin(), made.end(), p), made.end()); }

 protected:
  void SetUp() override {
    form = New<TOwnerForm>(nullptr);
    form->SetBorderStyle(classlib::TFormBorderStyle::bsNone);
    form->SetBounds(100, 100, 400, 300);
    scene = New<TsgScene>(form);
    scene->SetParent(form);
    scene->SetBounds(0, 0, 400, 300);
    root = New<TsgVisualObject>(form);
    scene->AddObject(root);
    target = New<TsgVisualObject>(form);
    target->SetParent(root);
    target->SetBounds(50, 40, 100, 30);
    form->Show();
    SetForegroundWindow(form->Handle());
    test::PumpPending();
  }
  void TearDown() override {
    SetUpdateLayeredWindowBinding(savedBinding);
    for (TsgPopup* p : made) classlib::Free(p);
    classlib::Free(form);
    // Released popup forms go with their pending messages.
    test::PumpPending();
    EXPECT_TRUE(OpenPopups().empty());
  }
  template <class T = TsgPopup>
  T* MakePopup(bool staysOpen = false) {
    T* p = New<T>(form);
    p->SetParent(root);
    p->SetBounds(0, 0, 120, 60);
    p->SetPlacementTarget(target);
    p->SetStaysOpen(staysOpen);
    made.push_back(p);
    return p;
  }
  HWND FormWindow(TsgPopup* p) { return p->PopupForm() ? p->PopupForm()->Handle() : nullptr; }

  TOwnerForm* form = nullptr;
  TsgScene* scene = nullptr;
  TsgVisualObject* root = nullptr;
  TsgVisualObject* target = nullptr;
  std::vector<TsgPopup*> made;
  TUpdateLayeredWindowFn savedBinding = UpdateLayeredWindowBinding();
  // Outlives the popups: those still open close in TearDown.
  CloseLog log;
};

TEST_F(Popups, OpensAsALayeredTopmostFormShowingItsStyleOnTheScreen) {
  TsgPopup* p = MakePopup();
  const COLORREF before = ScreenPixel(150 + 20, 170 + 20);
  p->SetIsOpen(true);
  test::PumpPending();
  ASSERT_TRUE(p->IsOpen());
  HWND wnd = FormWindow(p);
  ASSERT_NE(wnd, nullptr);
  EXPECT_EQ(p->PopupForm()->Tag(), 65535);
  EXPECT_EQ(p->PopupForm()->OwnerForm(), form);
  const LONG ex = GetWindowLongW(wnd, GWL_EXSTYLE);
  EXPECT_TRUE(ex & WS_EX_LAYERED);
  EXPECT_TRUE(ex & WS_EX_TOPMOST);
  EXPECT_TRUE(GetClassLongW(wnd, GCL_STYLE) & CS_SAVEBITS);
  EXPECT_TRUE(IsWindowVisible(wnd));
  // Below the target: its bottom left (50, 70) in the scene at (100, 100).
  const RECT r = WindowRectOf(wnd);
  EXPECT_EQ(r.left, 150);
  EXPECT_EQ(r.top, 170);
  EXPECT_EQ(r.right - r.left, 120);
  EXPECT_EQ(r.bottom - r.top, 60);
  // The popup is the root of the form's scene, styled from the default book.
  EXPECT_EQ(p->Scene(), static_cast<IsgScene*>(p->PopupScene()));
  ASSERT_NE(p->StyleObject(), nullptr);
  EXPECT_NE(before, kPopupFill);
  EXPECT_EQ(ScreenPixel(150 + 20, 170 + 20), kPopupFill);
  EXPECT_EQ(ScreenPixel(150 + 100, 170 + 45), kPopupFill);
  EXPECT_EQ(OpenPopups(), std::vector<TsgPopup*>{p});

  p->SetIsOpen(false);
  EXPECT_EQ(p->PopupForm(), nullptr);
  EXPECT_EQ(p->Parent(), root);  // back where it was
  EXPECT_FALSE(p->Visible());
  test::PumpPending();
  EXPECT_FALSE(IsWindow(wnd));  // released
  EXPECT_TRUE(OpenPopups().empty());
}

// The last buffer handed to the layered-window entry, as its premultiplied
// pixels (0xAARRGGBB), before the real entry shows it.
struct LayeredCapture {
  static inline TUpdateLayeredWindowFn real = nullptr;
  static inline std::vector<uint32_t> pixels;
  static inline int width = 0, height = 0;
  static BOOL WINAPI Update(HWND wnd, HDC dst, POINT* at, SIZE* size, HDC src, POINT* from,
                            COLORREF key, BLENDFUNCTION* blend, DWORD flags) {
    DIBSECTION dib{};
    HGDIOBJ bitmap = src ? GetCurrentObject(src, OBJ_BITMAP) : nullptr;
    if (bitmap && GetObjectW(bitmap, sizeof dib, &dib) == sizeof dib && dib.dsBm.bmBits &&
        dib.dsBm.bmBitsPixel == 32) {
      width = dib.dsBm.bmWidth;
      height = dib.dsBm.bmHeight;
      const auto* bits = static_cast<const uint32_t*>(dib.dsBm.bmBits);
      // The canvas's buffer is a top-down DIB.
      pixels.assign(bits, bits + size_t(width) * size_t(height));
    }
    return real(wnd, dst, at, size, src, from, key, blend, flags);
  }
  static uint32_t At(int x, int y) {
    return x >= 0 && y >= 0 && x < width && y < height
               ? pixels[size_t(y) * size_t(width) + size_t(x)]
               : 0xDEADBEEFu;
  }
};

TEST_F(Popups, TheFrameShowsItsLinesAndShadowInsideThePopup) {
  // Both popup styles keep 5 pixels right and below their frame free for
  // its shadow: the frame of a 180 x 70 popup is 175 x 65.
  ASSERT_NE(savedBinding, nullptr);
  LayeredCapture::real = savedBinding;
  SetUpdateLayeredWindowBinding(&LayeredCapture::Update);
  struct Case {
    const char* style;
    uint32_t fill, line;
  } const cases[] = {{"popup", 0xFFF4F4F4u, 0xFF5A5A5Au},
                     {"message popup", 0xFFFFFFFFu, 0xFF4C6A8Cu}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.style);
    TsgPopup* p = k.fill == 0xFFF4F4F4u ? MakePopup() : New<TsgMessagePopup>(form);
    if (p != made.back()) made.push_back(p);
    p->SetBounds(0, 0, 180, 70);
    LayeredCapture::pixels.clear();
    p->SetIsOpen(true);
    test::PumpPending();
    ASSERT_EQ(LayeredCapture::width, 180);
    ASSERT_EQ(LayeredCapture::height, 70);
    auto alpha = [](uint32_t c) { return c >> 24; };
    // Inside, the fill; the right and bottom lines at the frame's last
    // pixel (GDI+ under Wine puts 1-pixel lines 1 pixel right and down).
    const int off = LayeredCapture::At(174, 35) == k.line ? 0 : 1;
    EXPECT_EQ(LayeredCapture::At(20, 20), k.fill);
    EXPECT_EQ(LayeredCapture::At(174 + off, 35), k.line) << std::hex << LayeredCapture::At(175, 35);
    EXPECT_EQ(LayeredCapture::At(90, 64 + off), k.line) << std::hex << LayeredCapture::At(90, 65);
    EXPECT_EQ(LayeredCapture::At(173 + off, 35), k.fill);
    EXPECT_EQ(LayeredCapture::At(90, 63 + off), k.fill);
    // Beyond the frame the shadow shows: translucent and dark, never the fill.
    for (const auto& [x, y] : {std::pair{177, 35}, {90, 67}, {176, 66}}) {
      const uint32_t c = LayeredCapture::At(x, y);
      EXPECT_GT(alpha(c), 0u) << x << "," << y << " " << std::hex << c;
      EXPECT_LT(alpha(c), 255u) << x << "," << y << " " << std::hex << c;
      EXPECT_LT((c >> 8) & 0xFF, alpha(c) / 2) << x << "," << y << " " << std::hex << c;
    }
    p->SetIsOpen(false);
    test::PumpPending();
  }
}

TEST_F(Popups, WithoutTheLayeredEntryTheWindowItselfShowsTheStyle) {
  SetUpdateLayeredWindowBinding(nullptr);
  TsgPopup* p = MakePopup();
  p->SetIsOpen(true);
  ASSERT_NE(p->PopupScene(), nullptr);
  EXPECT_FALSE(GetWindowLongW(FormWindow(p), GWL_EXSTYLE) & WS_EX_LAYERED);
  HWND wnd = p->PopupScene()->Handle();
  UpdateWindow(wnd);
  HDC dc = GetDC(wnd);
  EXPECT_EQ(GetPixel(dc, 20, 20), kPopupFill);
  EXPECT_EQ(GetPixel(dc, 100, 45), kPopupFill);
  ReleaseDC(wnd, dc);
}

TEST_F(Popups, PlacesTheFormAsEachKindSays) {
  struct Case {
    const char* name;
    TsgPlacement placement;
    bool withTarget;
    TsgRect rect;
    float hoff, voff;
    POINT expected;
  } const cases[] = {
      // Target at screen (150, 140), 100 x 30; popup 120 x 60.
      {"bottom", sgPlacementBottom, true, {}, 0, 0, {150, 170}},
      {"top", sgPlacementTop, true, {}, 0, 0, {150, 80}},
      {"left", sgPlacementLeft, true, {}, 0, 0, {30, 140}},
      {"right offsets", sgPlacementRight, true, {}, 5, 7, {255, 147}},
      {"center", sgPlacementCenter, true, {}, 0, 0, {140, 125}},
      {"right centre", sgPlacementRightCenter, true, {}, 0, 0, {250, 125}},
      {"bottom of a rectangle", sgPlacementBottom, true, {10, 5, 30, 15}, 0, 0, {160, 155}},
      {"screen rectangle", sgPlacementBottomCenter, false, {600, 400, 700, 420}, 0, 0, {600, 420}},
      {"absolute", sgPlacementAbsolute, true, {300.6f, 200.4f, 0, 0}, 0, 0, {301, 200}},
      // Kept inside the 1280 x 1024 monitor.
      {"clamped", sgPlacementBottom, false, {1250, 1000, 1260, 1010}, 0, 0, {1160, 964}},
  };
  TsgPopup* p = MakePopup();
  for (const Case& c : cases) {
    p->SetPlacement(c.placement);
    p->SetPlacementTarget(c.withTarget ? target : nullptr);
    p->SetParent(c.withTarget ? root : nullptr);
    p->PlacementRectangle()->SetRect(c.rect);
    p->SetHorizontalOffset(c.hoff);
    p->SetVerticalOffset(c.voff);
    p->SetIsOpen(true);
    ASSERT_NE(p->PopupForm(), nullptr) << c.name;
    const RECT r = WindowRectOf(FormWindow(p));
    EXPECT_EQ(r.left, c.expected.x) << c.name;
    EXPECT_EQ(r.top, c.expected.y) << c.name;
    p->SetIsOpen(false);
    test::PumpPending();
  }
}

TEST_F(Popups, MouseCentredNearTheRightEdgeStaysOnTheMonitorOnlyWithATarget) {
  TsgPopup* p = MakePopup();
  p->SetPlacement(sgPlacementMouseCenter);
  for (const bool withTarget : {true, false}) {
    p->SetPlacementTarget(withTarget ? target : nullptr);
    p->SetParent(withTarget ? root : nullptr);
    ASSERT_TRUE(SetCursorPos(1270, 500));
    p->SetIsOpen(true);
    const RECT r = WindowRectOf(FormWindow(p));
    EXPECT_EQ(r.left, withTarget ? 1160 : 1210) << withTarget;
    EXPECT_EQ(r.top, 500) << withTarget;
    p->SetIsOpen(false);
    test::PumpPending();
  }
}

TEST_F(Popups, TheOwnersCaptionStaysActiveAndClicksDoNotActivate) {
  TsgPopup* p = MakePopup();
  form->NcActivates.clear();
  p->SetIsOpen(true);
  test::PumpPending();
  ASSERT_EQ(GetActiveWindow(), FormWindow(p));
  // The system drew the owner inactive; the popup form told it otherwise.
  ASSERT_FALSE(form->NcActivates.empty());
  EXPECT_EQ(form->NcActivates.back(), static_cast<WPARAM>(TRUE));
  EXPECT_EQ(SendMessageW(FormWindow(p), WM_MOUSEACTIVATE, 0, 0), MA_NOACTIVATE);

  // Without an owner form a click is answered 0.
  auto* loose = New<TsgPopup>(nullptr);
  loose->SetBounds(0, 0, 40, 40);
  loose->SetIsOpen(true);
  ASSERT_NE(loose->PopupForm(), nullptr);
  EXPECT_EQ(loose->PopupForm()->OwnerForm(), nullptr);
  EXPECT_EQ(SendMessageW(FormWindow(loose), WM_MOUSEACTIVATE, 0, 0), 0);
  classlib::Free(loose);
}

TEST_F(Popups, APopupFormShowsAndHidesInPlaceWithoutTakingTheActivation) {
  auto* shown = New<TsgPopupForm>(nullptr);
  shown->SetBounds(500, 400, 50, 40);
  ASSERT_EQ(GetActiveWindow(), form->Handle());
  shown->Show();
  EXPECT_TRUE(IsWindowVisible(shown->Handle()));
  EXPECT_EQ(GetActiveWindow(), form->Handle());
  const RECT r = WindowRectOf(shown->Handle());
  EXPECT_EQ(r.left, 500);
  EXPECT_EQ(r.top, 400);
  shown->Hide();
  EXPECT_FALSE(IsWindowVisible(shown->Handle()));
  EXPECT_EQ(GetActiveWindow(), form->Handle());
  classlib::Free(shown);
}

TEST_F(Popups, ActivatingAnotherWindowClosesTransientPopupsNewestFirst) {
  TsgPopup* staying = MakePopup(true);
  TsgPopup* first = MakePopup();
  TsgPopup* second = MakePopup();
  for (TsgPopup* p : {first, second, staying})
    p->OnClosePopup = classlib::EventOf<&CloseLog::Closed>(&log);
  staying->SetIsOpen(true);
  first->SetIsOpen(true);
  // Opened from the first: the activation moves to it, the first stays.
  second->SetIsOpen(true);
  test::PumpPending();
  EXPECT_EQ(GetActiveWindow(), FormWindow(second));
  EXPECT_TRUE(first->IsOpen());
  EXPECT_EQ(OpenPopups(), (std::vector<TsgPopup*>{first, second}));

  SetForegroundWindow(form->Handle());
  test::PumpPending();
  EXPECT_EQ(log.Order, (std::vector<classlib::TObject*>{second, first}));
  EXPECT_FALSE(first->IsOpen());
  EXPECT_FALSE(second->IsOpen());
  EXPECT_TRUE(staying->IsOpen());
}

TEST_F(Popups, ClosingAllSkipsAPopupFreedByAnotherOnesCloseHandler) {
  TsgPopup* first = MakePopup();
  TsgPopup* second = MakePopup();
  struct Freer : classlib::TObject {
    Popups* fixture = nullptr;
    TsgPopup* victim = nullptr;
    void Closed(classlib::TObject*) {
      fixture->Forget(victim);
      classlib::Free(victim);
    }
  } freer;
  freer.fixture = this;
  freer.victim = first;
  second->OnClosePopup = classlib::EventOf<&Freer::Closed>(&freer);
  first->SetIsOpen(true);
  second->SetIsOpen(true);
  HWND firstWnd = FormWindow(first);
  SetForegroundWindow(form->Handle());
  test::PumpPending();
  EXPECT_FALSE(second->IsOpen());
  EXPECT_TRUE(OpenPopups().empty());
  EXPECT_FALSE(IsWindow(firstWnd));
}

TEST_F(Popups, GoingBackToAnEarlierPopupClosesTheLaterOne) {
  TsgPopup* first = MakePopup();
  TsgPopup* second = MakePopup();
  first->SetIsOpen(true);
  second->SetIsOpen(true);
  SetActiveWindow(FormWindow(first));
  test::PumpPending();
  EXPECT_TRUE(first->IsOpen());
  EXPECT_FALSE(second->IsOpen());
}

TEST_F(Popups, EscapeClosesUnlessThePopupStaysOpen) {
  for (const bool staysOpen : {false, true}) {
    TsgPopup* p = MakePopup(staysOpen);
    p->SetIsOpen(true);
    ASSERT_NE(p->PopupScene(), nullptr);
    SendMessageW(p->PopupScene()->Handle(), WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_EQ(p->IsOpen(), staysOpen) << staysOpen;
    EXPECT_EQ(p->PopupForm() != nullptr, staysOpen) << staysOpen;
    p->SetIsOpen(false);
    test::PumpPending();
  }
}

TEST_F(Popups, PopupTwiceClosesAndReleasesTheForm) {
  TsgPopup* p = MakePopup();
  p->Popup();
  HWND wnd = FormWindow(p);
  ASSERT_TRUE(IsWindow(wnd));
  p->Popup();
  EXPECT_FALSE(p->IsOpen());
  EXPECT_EQ(p->PopupForm(), nullptr);
  EXPECT_TRUE(IsWindow(wnd));  // released, not freed inside the call
  test::PumpPending();
  EXPECT_FALSE(IsWindow(wnd));
}

TEST_F(Popups, ClosingTheFormByItselfClosesThePopup) {
  TsgPopup* p = MakePopup();
  p->SetIsOpen(true);
  HWND wnd = FormWindow(p);
  SendMessageW(wnd, WM_CLOSE, 0, 0);
  EXPECT_FALSE(p->IsOpen());
  EXPECT_EQ(p->PopupForm(), nullptr);
  EXPECT_EQ(p->Parent(), root);
  // The form frees itself later; the popup going first must not be
  // reached from it then.
  ASSERT_TRUE(IsWindow(wnd));
  Forget(p);
  classlib::Free(p);
  test::PumpPending();
  EXPECT_FALSE(IsWindow(wnd));
}

TEST_F(Popups, ModalRunAnswersTheResultSetDuringIt) {
  struct Case {
    const char* name;
    std::function<void(TsgPopup*)> step;
    int expected;
  } const cases[] = {
      {"form result", [](TsgPopup* p) { p->PopupForm()->SetModalResult(7); }, 7},
      {"closed", [](TsgPopup* p) { p->ClosePopup(); }, 2},
      {"escape",
       [](TsgPopup* p) { PostMessageW(p->PopupScene()->Handle(), WM_KEYDOWN, VK_ESCAPE, 0); }, 2},
      {"form closed", [](TsgPopup* p) { PostMessageW(p->PopupForm()->Handle(), WM_CLOSE, 0, 0); },
       2},
      // A second modal call during the run ends it; the popup still closes.
      {"nested", [](TsgPopup* p) { EXPECT_EQ(p->PopupModal(), 0); }, 2},
  };
  TsgPopup* p = MakePopup();
  for (const Case& c : cases) {
    bool wasOpen = false;
    Later later([&] {
      wasOpen = p->IsOpen();
      c.step(p);
    });
    EXPECT_EQ(p->PopupModal(), c.expected) << c.name;
    EXPECT_TRUE(later.Fired()) << c.name;
    EXPECT_TRUE(wasOpen) << c.name;
    EXPECT_FALSE(p->IsOpen()) << c.name;
    EXPECT_EQ(p->PopupForm(), nullptr) << c.name;
    test::PumpPending();
  }
}

TEST_F(Popups, AFollowingPopupMovesWithItsOwner) {
  TsgPopup* still = MakePopup(true);
  still->SetIsOpen(true);
  EXPECT_EQ(still->FollowTimer(), nullptr);  // DragWithParent off
  still->SetIsOpen(false);

  TsgPopup* p = MakePopup(true);
  p->SetDragWithParent(true);
  p->SetIsOpen(true);
  ASSERT_NE(p->FollowTimer(), nullptr);
  EXPECT_EQ(p->FollowTimer()->Interval(), 10u);
  HWND wnd = FormWindow(p);
  EXPECT_EQ(WindowRectOf(wnd).left, 150);
  form->SetBounds(160, 130, 400, 300);
  EXPECT_TRUE(test::PumpUntil(
      [&] {
        const RECT r = WindowRectOf(wnd);
        return r.left == 210 && r.top == 200;
      },
      3000));
  p->SetIsOpen(false);
  EXPECT_EQ(p->FollowTimer(), nullptr);
}

TEST_F(Popups, RequestsDuringTheClosingAnimationAreIgnoredAndThePopupMayBeFreed) {
  TsgPopup* p = MakePopup();
  auto* fade = New<TsgFloatAnimation>(p);
  fade->SetParent(p);
  fade->SetPropertyName("Opacity");
  fade->SetStartValue(1);
  fade->SetStopValue(0.2f);
  fade->SetDuration(0.3f);
  fade->SetTrigger("IsOpen=false");
  p->SetIsOpen(true);
  HWND wnd = FormWindow(p);
  bool reopenIgnored = false;
  Later later([&] {
    ASSERT_TRUE(p->Closing());
    p->Popup();
    EXPECT_EQ(p->PopupModal(), 0);
    reopenIgnored = !p->IsOpen() && p->PopupForm() != nullptr && FormWindow(p) == wnd;
    Forget(p);
    classlib::Free(p);
  });
  p->ClosePopup();  // returns once the popup is gone
  EXPECT_TRUE(later.Fired());
  EXPECT_TRUE(reopenIgnored);
  EXPECT_TRUE(OpenPopups().empty());
  test::PumpPending();
  EXPECT_FALSE(IsWindow(wnd));
}

TEST_F(Popups, FreeingTheFormWhileThePopupIsOpenLeavesThePopupClosedAndAlive) {
  TsgPopup* p = MakePopup();
  p->SetIsOpen(true);
  classlib::Free(p->PopupForm());
  EXPECT_FALSE(p->IsOpen());
  EXPECT_EQ(p->PopupForm(), nullptr);
  EXPECT_EQ(p->Parent(), root);
  EXPECT_TRUE(OpenPopups().empty());
}

TEST_F(Popups, ContextPopupOpensTheObjectsPopupAsTransient) {
  TsgPopup* p = MakePopup(true);
  target->SetPopup(p);
  target->ContextPopup({300, 300});
  EXPECT_TRUE(p->IsOpen());
  EXPECT_FALSE(p->StaysOpen());
  EXPECT_EQ(OpenPopups(), std::vector<TsgPopup*>{p});
}

TEST_F(Popups, MessagePopupCentresAtTheTopOfItsFormAndDisablesTheSceneWhileModal) {
  auto* m = New<TsgMessagePopup>(form);
  made.push_back(m);
  m->SetBounds(0, 0, 200, 80);
  EXPECT_TRUE(m->StaysOpen());
  EXPECT_TRUE(m->DragWithParent());
  EXPECT_TRUE(m->DisableScene());
  m->SetIsOpen(true);
  ASSERT_NE(m->PopupForm(), nullptr);
  EXPECT_FLOAT_EQ(m->HorizontalOffset(), 100);
  RECT r = WindowRectOf(FormWindow(m));
  EXPECT_EQ(r.left, 200);
  EXPECT_EQ(r.top, 100);
  // Its own style: white inside a blue-grey frame.
  test::PumpPending();
  EXPECT_EQ(ScreenPixel(200 + 20, 100 + 20), RGB(255, 255, 255));
  m->SetIsOpen(false);
  test::PumpPending();

  // Inside the scene: its root is disabled for the run and restored after.
  m->SetParent(root);
  bool rootEnabledDuring = true;
  Later later([&] {
    rootEnabledDuring = root->Enabled();
    m->PopupForm()->SetModalResult(1);
  });
  EXPECT_EQ(m->PopupModal(), 1);
  EXPECT_FALSE(rootEnabledDuring);
  EXPECT_TRUE(root->Enabled());
}

TEST_F(Popups, ZeroSizesAndAVanishingScaleOpenWithoutDividingByZero) {
  TsgPopup* p = MakePopup();
  target->SetBounds(50, 40, 0, 0);
  p->SetBounds(0, 0, 0, 0);
  p->SetPlacement(sgPlacementCenter);
  p->SetIsOpen(true);
  ASSERT_NE(p->PopupForm(), nullptr);
  RECT r = WindowRectOf(FormWindow(p));
  EXPECT_EQ(r.left, 150);
  EXPECT_EQ(r.top, 140);
  p->SetIsOpen(false);
  test::PumpPending();

  // Inside an object scaled to nothing: the popup keeps scale 1 and its size.
  auto* flat = New<TsgVisualObject>(form);
  flat->SetParent(root);
  flat->SetBounds(0, 0, 100, 100);
  flat->Scale()->SetPoint({0, 0});
  p->SetParent(flat);
  p->SetPlacementTarget(nullptr);
  p->SetBounds(0, 0, 120, 60);
  p->SetIsOpen(true);
  ASSERT_NE(p->PopupForm(), nullptr);
  r = WindowRectOf(FormWindow(p));
  EXPECT_EQ(r.right - r.left, 120);
  EXPECT_EQ(r.bottom - r.top, 60);
  EXPECT_FLOAT_EQ(p->Scale()->X(), 1);
  EXPECT_FLOAT_EQ(p->Width(), 120);
  p->SetIsOpen(false);
  EXPECT_FLOAT_EQ(p->Scale()->X(), 1);
}

TEST_F(Popups, AScaledParentKeepsThePopupsSizeOnTheScreen) {
  TsgPopup* p = MakePopup();
  root->Scale()->SetPoint({2, 1.5f});
  p->SetIsOpen(true);
  ASSERT_NE(p->PopupForm(), nullptr);
  const RECT r = WindowRectOf(FormWindow(p));
  EXPECT_EQ(r.right - r.left, 240);
  EXPECT_EQ(r.bottom - r.top, 90);
  EXPECT_FLOAT_EQ(p->Scale()->X(), 2);
  EXPECT_FLOAT_EQ(p->Scale()->Y(), 1.5f);
  p->SetIsOpen(false);
  // The scale it had comes back.
  EXPECT_FLOAT_EQ(p->Scale()->X(), 1);
  EXPECT_FLOAT_EQ(p->Scale()->Y(), 1);
}

TEST(PopupDesign, APopupInADesignedSceneNeverOpens) {
  auto* owner = New<TForm>(nullptr, 0);
  owner->SetDesigning(true);
  auto* scene = New<TsgScene>(owner);
  scene->SetParent(owner);
  auto* root = New<TsgVisualObject>(owner);
  scene->AddObject(root);
  auto* p = New<TsgPopup>(owner);
  p->SetParent(root);
  p->SetBounds(0, 0, 50, 50);
  ASSERT_TRUE(scene->GetDesignTime());
  p->SetIsOpen(true);
  EXPECT_FALSE(p->IsOpen());
  EXPECT_EQ(p->PopupForm(), nullptr);
  classlib::Free(owner);
}

TEST(PopupStream, PublishedValuesRoundTripAndDefaultsStayUnwritten) {
  auto* written = New<TsgPopup>(nullptr);
  written->SetPlacement(sgPlacementRightCenter);
  written->SetHorizontalOffset(4.5f);
  written->SetStaysOpen(true);
  written->SetDragWithParent(true);
  written->PlacementRectangle()->SetRect({1, 2, 3, 4});
  classlib::TStringStream text;
  SaveObjectToTextStream(written, text);
  const std::string& form = text.DataString();
  for (const char* present : {"Placement = sgPlacementRightCenter", "HorizontalOffset = 4.5",
                              "StaysOpen = True", "DragWithParent = True"})
    EXPECT_NE(form.find(present), std::string::npos) << present << "\n" << form;
  for (const char* absent : {"IsOpen", "Visible", "VerticalOffset"})
    EXPECT_EQ(form.find(absent), std::string::npos) << absent << "\n" << form;
  text.SetPosition(0);
  auto* read = dynamic_cast<TsgPopup*>(LoadObjectFromTextStream(nullptr, text));
  ASSERT_NE(read, nullptr) << form;
  EXPECT_EQ(read->Placement(), sgPlacementRightCenter);
  EXPECT_FLOAT_EQ(read->HorizontalOffset(), 4.5f);
  EXPECT_TRUE(read->StaysOpen());
  EXPECT_TRUE(read->DragWithParent());
  EXPECT_FALSE(read->Visible());
  EXPECT_FALSE(read->IsOpen());
  EXPECT_FLOAT_EQ(read->PlacementRectangle()->Bottom(), 4);
  classlib::Free(read);
  classlib::Free(written);
}

TEST_F(Popups, PublishedDefaultsAndRegistration) {
  auto* p = MakePopup();
  auto* fresh = New<TsgPopup>(nullptr);
  EXPECT_FALSE(fresh->Visible());
  EXPECT_TRUE(fresh->CanFocused);
  EXPECT_EQ(fresh->Placement(), sgPlacementBottom);
  EXPECT_TRUE(fresh->PlacementRectangle()->IsEmpty());
  // Assigning a whole rectangle does nothing; edges change in place.
  TsgBounds other(TsgRect{1, 2, 3, 4});
  fresh->SetPlacementRectangle(&other);
  EXPECT_TRUE(fresh->PlacementRectangle()->IsEmpty());
  classlib::Free(fresh);
  EXPECT_EQ(classlib::FindClass("TsgPopup"), TsgPopup::StaticClass());
  EXPECT_EQ(classlib::FindClass("TsgMessagePopup"), TsgMessagePopup::StaticClass());
  // The popup is not a writing parent of its own: its children are
  // written as its parent's, or as its own when it has none.
  auto* child = New<TsgVisualObject>(p);
  child->SetParent(p);
  EXPECT_EQ(child->GetParentComponent(), root);
  p->SetParent(nullptr);
  EXPECT_EQ(child->GetParentComponent(), p);
  // A freed target is let go.
  auto* gone = New<TsgVisualObject>(nullptr);
  p->SetPlacementTarget(gone);
  classlib::Free(gone);
  EXPECT_EQ(p->PlacementTarget(), nullptr);
}

}  // namespace
}  // namespace kelm::scene

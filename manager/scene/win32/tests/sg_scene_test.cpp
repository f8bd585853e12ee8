// The scene host window on real windows under the test desktop: dirty
// rectangles snapped and dropped, WM_PAINT drawing only what is dirty, the
// queued layered updates drawn once, the layered and the normal road, keys,
// characters, Tab, the IME, the mouse, drops, and frames.
#include <windows.h>

#include <gtest/gtest.h>
#include <imm.h>
#include <shlobj.h>
#undef FindResource

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "classlib/classdef.h"
#include "classlib/filer.h"
#include "classlib/forms.h"
#include "classlib/menus.h"
#include "classlib/streams.h"
#include "classlib/textform.h"
#include "scene/sg_animation.h"
#include "scene/sg_canvas_gdiplus.h"
#include "scene/sg_scene.h"
#include "scene/sg_selection.h"
#include "scene/sg_style.h"
#include "message_pump.h"

namespace kelm::scene {

// A visual object that fills itself with one colour and notes what reaches
// it.
class TSwatch : public TsgVisualObject {
  CL_DECLARE_CLASS(TSwatch, TsgVisualObject)
 public:
  explicit TSwatch(classlib::TComponent* AOwner) : TsgVisualObject(AOwner) {}
  TsgColor Color = 0xFF0000FF;
  int Paints = 0;
  std::vector<int> RectCountsSeen;
  std::vector<std::string> Keys;  // "down k c" / "up k c"
  int Wheels = 0;
  bool HandlesWheel = false;
  // Runs once, at the end of the next paint.
  std::function<void()> DuringPaint;
  void Paint() override {
    ++Paints;
    if (Scene()) RectCountsSeen.push_back(Scene()->GetUpdateRectsCount());
    Canvas()->Fill()->SetStyle(sgBrushSolid);
    Canvas()->Fill()->SetSolidColor(Color);
    Canvas()->FillRect(GetLocalRect(), 0, 0, sgAllCorners, 1, sgCornerRound);
    if (auto f = std::move(DuringPaint)) {
      DuringPaint = nullptr;
      f();
    }
  }
  void KeyDown(uint16_t& key, char16_t& ch, TShiftState) override {
    Keys.push_back("down " + std::to_string(key) + " " + std::to_string(int(ch)));
  }
  void KeyUp(uint16_t& key, char16_t& ch, TShiftState) override {
    Keys.push_back("up " + std::to_string(key) + " " + std::to_string(int(ch)));
  }
  bool ImeCompositionInfo(TsgFont*&, TsgPoint& caret) override {
    caret = {5, 3};
    return EditsText;
  }
  bool EditsText = false;
  // Dialog keys this object takes (sets to 0).
  std::vector<uint16_t> TakesDialogKeys;
  std::vector<uint16_t> DialogKeysSeen;
  void DialogKey(uint16_t& key, TShiftState shift) override {
    DialogKeysSeen.push_back(key);
    if (std::find(TakesDialogKeys.begin(), TakesDialogKeys.end(), key) != TakesDialogKeys.end())
      key = 0;
    else
      TsgVisualObject::DialogKey(key, shift);
  }
  // Drops: accepted when set; what arrived.
  bool AcceptsDrops = false;
  bool ThrowOnDragEnter = false;
  std::vector<std::u16string> DroppedFiles;
  std::u16string DroppedData;
  void DragOver(const TsgDragObject&, const TsgPoint&, bool& accept) override {
    accept = AcceptsDrops;
  }
  void DragEnter(const TsgDragObject& data, const TsgPoint& point) override {
    if (ThrowOnDragEnter) throw classlib::Exception(u"refused");
    TsgVisualObject::DragEnter(data, point);
  }
  void DragDrop(const TsgDragObject& data, const TsgPoint& point) override {
    DroppedFiles = data.Files;
    DroppedData = data.Data.ToString();
    TsgVisualObject::DragDrop(data, point);
  }
  int DesignClicks = 0;
  void DesignClick() override { ++DesignClicks; }
  void MouseWheel(TShiftState, int, bool& handled) override {
    ++Wheels;
    handled = HandlesWheel;
  }
};
CL_CLASS(TSwatch) {}

namespace {

using classlib::New;
using classlib::TForm;

class SceneStart : public ::testing::Environment {
 public:
  void SetUp() override { sgStartupScene(); }
};
const auto* const g_env = ::testing::AddGlobalTestEnvironment(new SceneStart);

void Pump() { test::PumpPending(); }

// Handles messages as they come until pred holds or timeoutMs passes.
template <typename Pred>
bool PumpUntil(Pred pred, DWORD timeoutMs) {
  const DWORD start = GetTickCount();
  while (!pred()) {
    const DWORD spent = GetTickCount() - start;
    if (spent >= timeoutMs) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, timeoutMs - spent, QS_ALLINPUT);
    Pump();
  }
  return true;
}

// Pixel of the canvas buffer as 0xAARRGGBB.
uint32_t BufferPixel(TsgCustomScene* s, int x, int y) {
  return s->Canvas()
      ->Bits()[static_cast<size_t>(y) * static_cast<size_t>(s->Width()) + static_cast<size_t>(x)];
}

class SceneHost : public ::testing::Test {
 protected:
  void Make(bool transparency, bool show = true) {
    form = New<TForm>(nullptr, 0);
    form->SetBounds(100, 100, 300, 200);
    form->SetBorderStyle(classlib::TFormBorderStyle::bsNone);
    scene = New<TsgScene>(form);
    scene->SetTransparency(transparency);
    scene->SetParent(form);
    scene->SetBounds(0, 0, 200, 100);
    root = New<TSwatch>(form);
    scene->AddObject(root);
    if (show) form->Show();
    ASSERT_NE(scene->Handle(), nullptr);
    UpdateWindow(scene->Handle());
    Pump();
  }
  // Repaints the root in green and reads the window back.
  bool ChangeReachesTheWindow() {
    root->Color = 0xFF00FF00;
    root->Repaint();
    UpdateWindow(scene->Handle());
    HDC dc = GetDC(scene->Handle());
    const COLORREF seen = GetPixel(dc, 40, 40);
    ReleaseDC(scene->Handle(), dc);
    return seen == RGB(0, 255, 0);
  }
  void TearDown() override {
    if (form) classlib::Free(form);
    SetUpdateLayeredWindowBinding(saved);
  }
  TForm* form = nullptr;
  TsgScene* scene = nullptr;
  TSwatch* root = nullptr;
  TUpdateLayeredWindowFn saved = UpdateLayeredWindowBinding();
};

TEST(SceneRects, SnapsAndDropsAsTheHostNeeds) {
  struct Case {
    TsgRect in;
    bool kept;
    RECT out;
  } const cases[] = {
      {{0.6f, 0.6f, 10.4f, 10.4f}, true, {0, 0, 11, 11}},
      {{5, 5, 5, 20}, false, {}},                      // width 0
      {{200, 10, 260, 20}, true, {200, 10, 261, 21}},  // touches the right edge only
      {{201.5f, 10, 260, 20}, false, {}},              // beyond it
      {{-30, -30, -1.5f, -2}, false, {}},              // misses above and left
      {{-1, -1, 0, 0}, true, {-1, -1, 1, 1}},          // not clipped to the client area
  };
  for (const Case& c : cases) {
    RECT r{};
    EXPECT_EQ(SnapUpdateRect(c.in, 200, 100, r), c.kept) << c.in.Left << "," << c.in.Top;
    if (c.kept) {
      EXPECT_EQ(r.left, c.out.left);
      EXPECT_EQ(r.top, c.out.top);
      EXPECT_EQ(r.right, c.out.right);
      EXPECT_EQ(r.bottom, c.out.bottom);
    }
  }
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  RECT r{};
  for (const TsgRect& bad :
       {TsgRect{nan, 0, 10, 10}, TsgRect{0, 0, inf, 10}, TsgRect{-inf, 0, 10, 10},
        TsgRect{0, 0, 10, 3e9f}, TsgRect{-3e9f, -3e9f, 3e9f, 3e9f}})
    EXPECT_FALSE(SnapUpdateRect(bad, 200, 100, r));
}

TEST_F(SceneHost, PaintDrawsOnlyTheDirtyRectangleAndShowsIt) {
  Make(false);
  ASSERT_GT(root->Paints, 0);
  EXPECT_EQ(BufferPixel(scene, 50, 50), 0xFF0000FFu);
  // A sentinel everywhere; only the dirty rectangle is drawn again.
  uint32_t* bits = scene->Canvas()->Bits();
  std::fill(bits, bits + 200 * 100, 0xFF123456u);
  root->Color = 0xFF00FF00;
  scene->AddUpdateRect({10, 10, 29.5f, 29.5f});
  UpdateWindow(scene->Handle());
  EXPECT_EQ(BufferPixel(scene, 15, 15), 0xFF00FF00u);
  EXPECT_EQ(BufferPixel(scene, 29, 29), 0xFF00FF00u);
  EXPECT_EQ(BufferPixel(scene, 31, 15), 0xFF123456u);
  EXPECT_EQ(BufferPixel(scene, 100, 80), 0xFF123456u);
  // The window shows the drawn rectangle.
  HDC dc = GetDC(scene->Handle());
  EXPECT_EQ(GetPixel(dc, 15, 15), RGB(0, 255, 0));
  ReleaseDC(scene->Handle(), dc);
  EXPECT_FALSE(scene->Layered());
}

TEST_F(SceneHost, QueuedLayeredUpdatesDrawOnceAndManyRectsCollapse) {
  Make(true);
  ASSERT_TRUE(scene->Layered());
  EXPECT_TRUE(GetWindowLongW(form->Handle(), GWL_EXSTYLE) & WS_EX_LAYERED);
  const int before = scene->DrawCount();
  for (int i = 0; i < 50; ++i) scene->AddUpdateRect({float(i), 0, float(i) + 2, 2});
  Pump();
  EXPECT_EQ(scene->DrawCount(), before + 1);

  struct Case {
    int rects;
    int seen;
  } const cases[] = {{20, 20}, {21, 1}};
  for (const Case& c : cases) {
    root->RectCountsSeen.clear();
    for (int i = 0; i < c.rects; ++i) scene->AddUpdateRect({i * 9.0f, 5, i * 9.0f + 3, 8});
    Pump();
    ASSERT_EQ(root->RectCountsSeen.size(), 1u) << c.rects;
    EXPECT_EQ(root->RectCountsSeen[0], c.seen) << c.rects;
  }
}

TEST_F(SceneHost, TheLayeredFormShowsAChangeOnTheScreen) {
  Make(true);
  ASSERT_TRUE(scene->Layered());
  HDC screen = GetDC(nullptr);
  EXPECT_EQ(GetPixel(screen, 100 + 50, 100 + 50), RGB(0, 0, 255));
  root->Color = 0xFFFF0000;
  root->Repaint();
  Pump();
  EXPECT_EQ(GetPixel(screen, 100 + 50, 100 + 50), RGB(255, 0, 0));
  // A translucent fill keeps its alpha in the buffer handed over.
  root->Color = 0x80800000;
  root->Repaint();
  Pump();
  EXPECT_EQ(BufferPixel(scene, 50, 50) >> 24, 0x80u);
  ReleaseDC(nullptr, screen);
}

TEST_F(SceneHost, TransparencySetLaterRepaintsOnTheNormalRoad) {
  Make(false);
  const int before = scene->DrawCount();
  scene->SetTransparency(true);
  UpdateWindow(scene->Handle());
  Pump();
  EXPECT_FALSE(GetWindowLongW(form->Handle(), GWL_EXSTYLE) & WS_EX_LAYERED);
  EXPECT_FALSE(scene->Layered());
  EXPECT_GT(scene->DrawCount(), before);
  // The scene keeps updating: a later change reaches the window.
  EXPECT_TRUE(ChangeReachesTheWindow());
}

TEST_F(SceneHost, WithoutTheLayeredEntryTheNormalRoadServes) {
  SetUpdateLayeredWindowBinding(nullptr);
  Make(true);
  EXPECT_FALSE(scene->Layered());
  EXPECT_FALSE(GetWindowLongW(form->Handle(), GWL_EXSTYLE) & WS_EX_LAYERED);
  EXPECT_TRUE(ChangeReachesTheWindow());
}

TEST_F(SceneHost, TheDrainPutsAQuitBack) {
  Make(true);
  Pump();
  const int before = scene->DrawCount();
  scene->AddUpdateRect({0, 0, 5, 5});
  PostQuitMessage(7);
  scene->AddUpdateRect({0, 0, 6, 6});
  SendMessageW(scene->Handle(), WM_SG_UPDATE, 0, 0);
  EXPECT_EQ(scene->DrawCount(), before + 1);
  MSG msg{};
  bool quit = false;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
    if (msg.message == WM_QUIT) {
      quit = true;
      EXPECT_EQ(msg.wParam, 7u);
    }
  EXPECT_TRUE(quit);
}

TEST_F(SceneHost, ChildWindowsOnALayeredSceneKeepTheBufferAlpha) {
  Make(true);
  ASSERT_TRUE(scene->Layered());
  auto* child = New<classlib::TCustomControl>(form);
  child->SetParent(scene);
  child->SetBounds(120, 20, 40, 40);
  child->SetColor(RGB(0, 255, 0));
  root->Color = 0x80000080;
  root->Repaint();
  Pump();
  const uint32_t inChild = BufferPixel(scene, 140, 40);
  EXPECT_EQ(inChild >> 24, 0x80u);
  EXPECT_EQ(inChild & 0x00FFFFFFu, 0x0000FF00u);
  // Beside the child the scene's own translucent blue stays.
  EXPECT_EQ(BufferPixel(scene, 40, 40) >> 24, 0x80u);
  EXPECT_EQ(BufferPixel(scene, 40, 40) & 0x00FFFF00u, 0u);
}

TEST_F(SceneHost, LoadingEndsWithOneFullRepaint) {
  Make(false);
  uint32_t* bits = scene->Canvas()->Bits();
  std::fill(bits, bits + 200 * 100, 0xFF123456u);
  scene->Loaded();
  ASSERT_EQ(scene->ComponentCount(), 1);  // the one-shot timer
  EXPECT_TRUE(PumpUntil([&] { return scene->ComponentCount() == 0; }, 3000));
  UpdateWindow(scene->Handle());
  EXPECT_EQ(std::count(bits, bits + 200 * 100, 0xFF123456u), 0);
}

TEST(SceneStream, SnapFlagsRoundTripAndTheGridShowsOnlyWhileDesigning) {
  struct Case {
    bool designing;
    bool gridShown;
  } const cases[] = {{true, true}, {false, false}};
  for (const Case& c : cases) {
    auto* owner = New<classlib::TComponent>(nullptr);
    owner->SetDesigning(true);
    auto* written = New<TsgScene>(owner);
    written->DesignSnapGridShow = true;
    written->DesignSnapToGrid = true;
    written->DesignSnapToLines = false;
    classlib::TMemoryStream stream;
    classlib::TWriter(stream).WriteRootComponent(written);
    auto* readOwner = New<classlib::TComponent>(nullptr);
    readOwner->SetDesigning(c.designing);
    auto* read = New<TsgScene>(readOwner);
    stream.SetPosition(0);
    classlib::TReader(stream).ReadRootComponent(read);
    EXPECT_EQ(read->DesignSnapGridShow, c.gridShown);
    EXPECT_TRUE(read->DesignSnapToGrid);
    EXPECT_FALSE(read->DesignSnapToLines);
    classlib::Free(owner);
    classlib::Free(readOwner);
  }
}

TEST(SceneStream, AFormFileCarriesTheStyleBookItsSceneNames) {
  const std::string text =
      "object Probe: TForm\n"
      "  object sgResources1: TsgResources\n"
      "  end\n"
      "  object sgSceneTop: TsgScene\n"
      "    Width = 50\n"
      "    Height = 40\n"
      "    Style = sgResources1\n"
      "  end\n"
      "end\n";
  classlib::TMemoryStream textStream, binary;
  textStream.Write(text.data(), static_cast<int64_t>(text.size()));
  textStream.SetPosition(0);
  classlib::ObjectTextToBinary(textStream, binary);
  binary.SetPosition(0);
  auto* form = New<TForm>(nullptr);
  classlib::TReader(binary).ReadRootComponent(form);
  auto* scene = dynamic_cast<TsgScene*>(form->FindComponent("sgSceneTop"));
  ASSERT_NE(scene, nullptr);
  EXPECT_EQ(static_cast<classlib::TComponent*>(scene->Style()),
            form->FindComponent("sgResources1"));
  classlib::TMemoryStream again;
  classlib::TWriter(again).WriteRootComponent(form);
  again.SetPosition(0);
  auto* copy = New<TForm>(nullptr);
  classlib::TReader(again).ReadRootComponent(copy);
  auto* copied = dynamic_cast<TsgScene*>(copy->FindComponent("sgSceneTop"));
  ASSERT_NE(copied, nullptr);
  EXPECT_NE(copy->FindComponent("sgResources1"), nullptr);
  EXPECT_EQ(static_cast<classlib::TComponent*>(copied->Style()),
            copy->FindComponent("sgResources1"));
  classlib::Free(form);
  classlib::Free(copy);
}

TEST_F(SceneHost, ARepaintAskedForDuringAPassIsDrawnOnBothRoads) {
  for (const bool layered : {false, true}) {
    if (form) classlib::Free(form);
    Make(layered);
    ASSERT_EQ(scene->Layered(), layered);
    auto* c = New<TSwatch>(form);
    root->AddObject(c);
    c->SetBounds(150, 50, 20, 20);
    Pump();
    UpdateWindow(scene->Handle());
    // c's paint changes the root, which this pass has painted already.
    c->DuringPaint = [&] {
      root->Color = 0xFFFF0000;
      root->Repaint();
    };
    c->Repaint();
    EXPECT_TRUE(PumpUntil(
        [&] {
          UpdateWindow(scene->Handle());
          return BufferPixel(scene, 5, 5) == 0xFFFF0000u;
        },
        2000))
        << (layered ? "layered" : "normal");
  }
}

TEST_F(SceneHost, APassIgnoresReentryAndErasingCopiesTheBuffer) {
  Make(false);
  const int before = scene->DrawCount();
  root->DuringPaint = [&] {
    scene->Draw();
    SendMessageW(scene->Handle(), WM_SG_UPDATE, 0, 0);
    SendMessageW(scene->Handle(), WM_PAINT, 0, 0);
  };
  scene->AddUpdateRect({0, 0, 200, 100});
  UpdateWindow(scene->Handle());
  EXPECT_EQ(scene->DrawCount(), before + 1);
  // With nothing left to paint, erasing copies the whole buffer and says so.
  HDC screen = GetDC(nullptr);
  HDC mem = CreateCompatibleDC(screen);
  HBITMAP bmp = CreateCompatibleBitmap(screen, 200, 100);
  HGDIOBJ old = SelectObject(mem, bmp);
  EXPECT_EQ(SendMessageW(scene->Handle(), WM_ERASEBKGND, reinterpret_cast<WPARAM>(mem), 0), 1);
  EXPECT_EQ(GetPixel(mem, 50, 50), RGB(0, 0, 255));
  SelectObject(mem, old);
  DeleteObject(bmp);
  DeleteDC(mem);
  ReleaseDC(nullptr, screen);
}

TEST(SceneLife, TheLastSceneFreesTheAnimationClock) {
  ASSERT_EQ(LiveSceneCount(), 0);
  auto* s = New<TsgScene>(nullptr);
  EnsureAniThread();
  ASSERT_NE(AniThread(), nullptr);
  auto* s2 = New<TsgScene>(nullptr);
  classlib::Free(s);
  EXPECT_NE(AniThread(), nullptr);
  classlib::Free(s2);
  EXPECT_EQ(AniThread(), nullptr);
}

// ---- keys

class SceneKeys : public SceneHost {
 protected:
  void SetUp() override {
    Make(false);
    for (int i = 0; i < 3; ++i) {
      auto* s = New<TSwatch>(form);
      s->CanFocused = true;
      root->AddObject(s);
      entries.push_back(s);
    }
  }
  void Key(UINT msg, WPARAM w) { SendMessageW(scene->Handle(), msg, w, 0); }
  void Tab(bool shift) {
    BYTE state[256] = {};
    GetKeyboardState(state);
    state[VK_SHIFT] = shift ? 0x80 : 0;
    SetKeyboardState(state);
    Key(WM_KEYDOWN, VK_TAB);
    state[VK_SHIFT] = 0;
    SetKeyboardState(state);
  }
  std::vector<TSwatch*> entries;
};

TEST_F(SceneKeys, ControlCharactersAndPlainCharacters) {
  scene->SetFocused(entries[0]);
  Key(WM_CHAR, 3);
  Key(WM_CHAR, 13);
  Key(WM_CHAR, 'q');
  const std::vector<std::string> want = {"down 0 99", "up 0 99", "down 0 113"};
  EXPECT_EQ(entries[0]->Keys, want);
}

TEST_F(SceneKeys, TabReachesEveryEntryBothWays) {
  struct Case {
    int entries;  // visible tab entries
    int focused;  // -1: none
    bool shift;
    int want;
  } const cases[] = {
      {3, 2, false, 0},                    // from the last wraps to the first
      {2, 0, false, 1},                    // with two entries Tab reaches the second
      {2, -1, false, 0},                   // nothing focused: the first
      {1, -1, false, 0}, {3, 0, true, 2},  // Shift+Tab from the first wraps to the last
      {3, 2, true, 1},   {2, -1, true, 1},
  };
  for (const Case& c : cases) {
    for (int i = 0; i < 3; ++i) entries[size_t(i)]->SetVisible(i < c.entries);
    scene->SetFocused(c.focused < 0 ? nullptr : entries[size_t(c.focused)]);
    Tab(c.shift);
    EXPECT_EQ(scene->GetFocused(), entries[size_t(c.want)])
        << c.entries << " " << c.focused << " " << c.shift;
  }
}

TEST_F(SceneKeys, AFreedFocusedObjectLeavesNoReference) {
  scene->SetFocused(entries[1]);
  scene->SetCaptured(entries[1]);
  classlib::Free(entries[1]);
  EXPECT_EQ(scene->GetFocused(), nullptr);
  EXPECT_EQ(scene->GetCaptured(), nullptr);
  Key(WM_KEYDOWN, 'A');
  SendMessageW(scene->Handle(), WM_MOUSEMOVE, 0, MAKELPARAM(20, 20));
}

TEST_F(SceneKeys, AComposedStringArrivesOnce) {
  scene->SetFocused(entries[0]);
  SetForegroundWindow(form->Handle());
  SetFocus(scene->Handle());
  HIMC imc = ImmGetContext(scene->Handle());
  ASSERT_NE(imc, nullptr);
  ImmSetOpenStatus(imc, TRUE);
  const wchar_t text[] = L"ab";
  ASSERT_TRUE(ImmSetCompositionStringW(imc, SCS_SETSTR, const_cast<wchar_t*>(text), 4, nullptr, 0));
  ImmNotifyIME(imc, NI_COMPOSITIONSTR, CPS_COMPLETE, 0);
  ImmReleaseContext(scene->Handle(), imc);
  Pump();
  const std::vector<std::string> want = {"down 0 97", "down 0 98"};
  EXPECT_EQ(entries[0]->Keys, want);
}

// ---- the mouse, through the system's input queue

void MouseAt(int x, int y, DWORD flags = 0) {
  const int w = GetSystemMetrics(SM_CXSCREEN), h = GetSystemMetrics(SM_CYSCREEN);
  INPUT in{};
  in.type = INPUT_MOUSE;
  in.mi.dx = (x * 65536 + w - 1) / w;
  in.mi.dy = (y * 65536 + h - 1) / h;
  in.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | flags;
  SendInput(1, &in, sizeof in);
  Pump();
}

TEST_F(SceneHost, DraggingEmptyAreaMovesTheForm) {
  Make(false);
  root->SetHitTest(false);
  MouseAt(150, 150);
  MouseAt(150, 150, MOUSEEVENTF_LEFTDOWN);
  EXPECT_TRUE(scene->WindowMoving());
  MouseAt(170, 160);
  MouseAt(170, 160, MOUSEEVENTF_LEFTUP);
  EXPECT_FALSE(scene->WindowMoving());
  EXPECT_EQ(form->Left(), 120);
  EXPECT_EQ(form->Top(), 110);
}

TEST_F(SceneHost, APopupFormIsNotMovedAndTheWheelReachesTheParent) {
  Make(false);
  form->SetTag(65535);
  root->SetHitTest(false);
  MouseAt(150, 150);
  MouseAt(150, 150, MOUSEEVENTF_LEFTDOWN);
  MouseAt(170, 160);
  MouseAt(170, 160, MOUSEEVENTF_LEFTUP);
  EXPECT_EQ(form->Left(), 100);
  root->SetHitTest(true);
  root->HandlesWheel = true;
  auto* child = New<TSwatch>(form);
  root->AddObject(child);
  child->SetBounds(20, 20, 30, 30);
  MouseAt(100 + 30, 100 + 30);
  INPUT in{};
  in.type = INPUT_MOUSE;
  in.mi.mouseData = static_cast<DWORD>(-WHEEL_DELTA);
  in.mi.dwFlags = MOUSEEVENTF_WHEEL;
  SetFocus(scene->Handle());
  SendInput(1, &in, sizeof in);
  Pump();
  EXPECT_EQ(child->Wheels, 1);
  EXPECT_EQ(root->Wheels, 1);
}

TEST_F(SceneHost, CapturedObjectKeepsHoverAndCursorUnchanged) {
  Make(false);
  auto* a = New<TSwatch>(form);
  root->AddObject(a);
  a->SetBounds(10, 10, 30, 30);
  MouseAt(100 + 20, 100 + 20);
  EXPECT_EQ(scene->Hovered(), a);
  scene->SetCaptured(root);
  MouseAt(100 + 80, 100 + 60);
  EXPECT_EQ(scene->Hovered(), a);
  EXPECT_TRUE(a->IsMouseOver());
  scene->SetCaptured(nullptr);
  // The hovered object freed mid-gesture leaves no reference.
  classlib::Free(a);
  EXPECT_EQ(scene->Hovered(), nullptr);
  MouseAt(100 + 25, 100 + 25);
  EXPECT_EQ(scene->Hovered(), root);
  // Leaving the window ends the hover (the system reports it a little later).
  MouseAt(600, 600);
  EXPECT_TRUE(PumpUntil([&] { return scene->Hovered() == nullptr; }, 3000));
  EXPECT_FALSE(root->IsMouseOver());
}

// Counts a selection's reports.
struct SelectionReports : classlib::TObject {
  int changes = 0, tracks = 0;
  void Change(TObject*) { ++changes; }
  void Track(TObject*) { ++tracks; }
};

TEST_F(SceneHost, ASelectionDraggedByTheMouseMovesOrResizesByTheDrag) {
  Make(false);
  root->SetBounds(0, 0, 200, 100);
  auto* sel = New<TsgSelection>(form);
  root->AddObject(sel);
  sel->SetBounds(40, 20, 60, 40);
  SelectionReports reports;
  sel->OnChange = classlib::EventOf<&SelectionReports::Change>(&reports);
  sel->OnTrack = classlib::EventOf<&SelectionReports::Track>(&reports);
  // Grabbed inside, away from the grips: it follows the mouse.
  MouseAt(100 + 70, 100 + 40);
  MouseAt(100 + 70, 100 + 40, MOUSEEVENTF_LEFTDOWN);
  EXPECT_TRUE(sel->Moving());
  EXPECT_EQ(scene->GetCaptured(), sel);
  MouseAt(100 + 80, 100 + 45);
  MouseAt(100 + 95, 100 + 55);
  MouseAt(100 + 95, 100 + 55, MOUSEEVENTF_LEFTUP);
  EXPECT_EQ(sel->Position()->X(), 40 + 25);
  EXPECT_EQ(sel->Position()->Y(), 20 + 15);
  EXPECT_EQ(sel->Width(), 60);
  EXPECT_FALSE(sel->Moving());
  EXPECT_EQ(scene->GetCaptured(), nullptr);
  EXPECT_EQ(reports.changes, 1);
  EXPECT_GE(reports.tracks, 2);
  // Grabbed at the bottom-right grip: that corner follows, the top-left
  // stays.
  MouseAt(100 + 125, 100 + 75);
  EXPECT_TRUE(sel->Hot(TsgSelection::cnBottomRight));
  MouseAt(100 + 125, 100 + 75, MOUSEEVENTF_LEFTDOWN);
  EXPECT_EQ(sel->Resizing(), TsgSelection::cnBottomRight);
  MouseAt(100 + 140, 100 + 85);
  MouseAt(100 + 140, 100 + 85, MOUSEEVENTF_LEFTUP);
  EXPECT_EQ(sel->Position()->X(), 65);
  EXPECT_EQ(sel->Position()->Y(), 35);
  EXPECT_EQ(sel->Width(), 75);
  EXPECT_EQ(sel->Height(), 50);
  EXPECT_EQ(reports.changes, 2);
}

// ---- design mode

// A scene that notes the designer's menu requests.
class TMenuScene : public TsgScene {
 public:
  using TsgScene::TsgScene;
  std::vector<POINT> Menus;
  void BuildDesignMenu(const classlib::TPoint& at) override { Menus.push_back({at.x, at.y}); }
};

class SceneDesign : public SceneHost {
 protected:
  void SetUp() override {
    form = New<TForm>(nullptr, 0);
    form->SetDesigning(true);
    form->SetBounds(100, 100, 300, 200);
    form->SetBorderStyle(classlib::TFormBorderStyle::bsNone);
    menuScene = New<TMenuScene>(form);
    scene = menuScene;
    scene->SetParent(form);
    scene->SetBounds(0, 0, 200, 100);
    root = New<TSwatch>(form);
    scene->AddObject(root);
    a = New<TSwatch>(form);
    b = New<TSwatch>(form);
    root->AddObject(a);
    root->AddObject(b);
    a->SetBounds(10, 10, 40, 40);
    b->SetBounds(100, 11, 40, 40);
    form->Show();
    Pump();
    ASSERT_TRUE(scene->GetDesignTime());
    scene->SetSelected(a);
  }
  void Click(int x, int y, DWORD down, DWORD up) {
    MouseAt(100 + x, 100 + y);
    MouseAt(100 + x, 100 + y, down);
    MouseAt(100 + x, 100 + y, up);
  }
  TSwatch* a = nullptr;
  TSwatch* b = nullptr;
  TMenuScene* menuScene = nullptr;
};

// A Ctrl+click as the window receives it (the key flag in the message).
void CtrlClick(HWND wnd, int x, int y) {
  SendMessageW(wnd, WM_LBUTTONDOWN, MK_LBUTTON | MK_CONTROL, MAKELPARAM(x, y));
  SendMessageW(wnd, WM_LBUTTONUP, MK_CONTROL, MAKELPARAM(x, y));
}

TEST_F(SceneDesign, ClicksSelectOpenTheMenuAndCtrlCollects) {
  // A click on b selects it; a double click asks it for its design action.
  Click(120, 30, MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP);
  EXPECT_EQ(scene->GetSelected(), b);
  MouseAt(100 + 120, 100 + 30, MOUSEEVENTF_LEFTDOWN);
  MouseAt(100 + 120, 100 + 30, MOUSEEVENTF_LEFTUP);
  EXPECT_EQ(b->DesignClicks, 1);
  // Ctrl adds a to the multi-selection; a second Ctrl+click swaps in b.
  CtrlClick(scene->Handle(), 20, 20);
  EXPECT_EQ(scene->MultiSelection(), (std::vector<TsgVisualObject*>{a}));
  CtrlClick(scene->Handle(), 25, 20);
  EXPECT_EQ(scene->MultiSelection(), (std::vector<TsgVisualObject*>{b}));
  EXPECT_EQ(scene->GetSelected(), b);
  // A right click asks the designer for its menu at the cursor.
  Click(160, 80, MOUSEEVENTF_RIGHTDOWN, MOUSEEVENTF_RIGHTUP);
  ASSERT_EQ(menuScene->Menus.size(), 1u);
  EXPECT_EQ(menuScene->Menus[0].x, 260);
  EXPECT_EQ(scene->InsertPoint().y, 180);
}

TEST_F(SceneDesign, InsertedObjectsLandAtTheMenuPointAndDeleteFreesTheSelection) {
  classlib::RegisterClasses({TSwatch::StaticClass()});
  Click(60, 70, MOUSEEVENTF_RIGHTDOWN, MOUSEEVENTF_RIGHTUP);
  scene->SetSelected(root);
  scene->InsertObject("TSwatch");
  auto* added = dynamic_cast<TSwatch*>(scene->GetSelected());
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(added->Parent(), root);
  EXPECT_FLOAT_EQ(added->Position()->X(), 60);
  EXPECT_FLOAT_EQ(added->Position()->Y(), 70);
  EXPECT_EQ(scene->InsertPoint().x, -1);
  scene->InsertObject("NoSuchClass");
  EXPECT_EQ(scene->GetSelected(), added);
  const int before = root->GetChildrenCount();
  SendMessageW(scene->Handle(), WM_KEYUP, VK_DELETE, 0);
  EXPECT_EQ(root->GetChildrenCount(), before - 1);
  EXPECT_EQ(scene->GetSelected(), nullptr);
}

TEST_F(SceneDesign, MenuCommandsAddHideAndDeleteTheSelection) {
  classlib::RegisterClasses({TSwatch::StaticClass()});
  classlib::TMenuItem* item = New<classlib::TMenuItem>(form);
  // An item with a class name in its hint adds that class to the selection.
  item->SetHint(u"TSwatch");
  scene->AddObjectClick(item);
  auto* added = dynamic_cast<TSwatch*>(scene->GetSelected());
  ASSERT_NE(added, nullptr);
  EXPECT_EQ(added->Parent(), a);
  // Without a hint the caption names the class after "Tsg".
  item->SetHint(u"");
  item->SetCaption(u"&Ellipse");
  scene->SetSelected(root);
  scene->AddObjectClick(item);
  TsgVisualObject* ellipse = scene->GetSelected();
  ASSERT_NE(ellipse, nullptr);
  EXPECT_EQ(std::string(ellipse->ClassName()), "TsgEllipse");
  EXPECT_EQ(ellipse->Parent(), root);

  // Hiding hands the selection to the parent; showing again keeps it.
  scene->SetSelected(added);
  scene->HideInDesignClick(item);
  EXPECT_TRUE(added->DesignHide());
  EXPECT_EQ(scene->GetSelected(), a);
  scene->SetSelected(added);
  scene->HideInDesignClick(item);
  EXPECT_FALSE(added->DesignHide());
  EXPECT_EQ(scene->GetSelected(), added);
  // Deleting frees the object and selects its parent.
  const int before = a->GetChildrenCount();
  scene->DeleteObjectClick(item);
  EXPECT_EQ(a->GetChildrenCount(), before - 1);
  EXPECT_EQ(scene->GetSelected(), a);
  // The root is neither hidden nor deleted.
  scene->SetSelected(root);
  scene->HideInDesignClick(item);
  scene->DeleteObjectClick(item);
  EXPECT_FALSE(root->DesignHide());
  EXPECT_EQ(scene->GetSelected(), root);
  EXPECT_EQ(scene->GetRoot(), root);
}

TEST_F(SceneDesign, TheRotationGripTurnsTheObject) {
  // The rotation grip of a sits 10 above the middle of its top edge.
  MouseAt(100 + 30, 100 + 0);
  MouseAt(100 + 30, 100 + 0, MOUSEEVENTF_LEFTDOWN);
  MouseAt(100 + 50, 100 + 30);  // a quarter turn about the centre (30, 30)
  MouseAt(100 + 50, 100 + 30, MOUSEEVENTF_LEFTUP);
  EXPECT_NEAR(std::fabs(a->RotateAngle()), 90, 1);
}

TEST_F(SceneDesign, AResizePullsToASiblingWithinFour) {
  // The right-middle grip of a sits at (50, 30).
  MouseAt(100 + 50, 100 + 30);
  MouseAt(100 + 50, 100 + 30, MOUSEEVENTF_LEFTDOWN);
  MouseAt(100 + 97, 100 + 30);
  EXPECT_FLOAT_EQ(a->Width(), 90);  // pulled from 87 to b's left edge
  MouseAt(100 + 97, 100 + 30, MOUSEEVENTF_LEFTUP);
  EXPECT_FLOAT_EQ(a->Position()->X(), 10);
}

TEST_F(SceneDesign, AMoveSnapsToASiblingEdgeAndListsIt) {
  MouseAt(100 + 30, 100 + 40);
  MouseAt(100 + 30, 100 + 40, MOUSEEVENTF_LEFTDOWN);
  // Top edge 1 below b's: snapped onto it while moving.
  MouseAt(100 + 35, 100 + 40);
  EXPECT_FLOAT_EQ(a->Position()->X(), 15);
  EXPECT_FLOAT_EQ(a->Position()->Y(), 11);
  ASSERT_EQ(scene->SnapLines().size(), 1u);
  EXPECT_EQ(scene->SnapLines()[0], b);
  MouseAt(100 + 35, 100 + 40, MOUSEEVENTF_LEFTUP);
  EXPECT_TRUE(scene->SnapLines().empty());
}

TEST_F(SceneDesign, FreeingTheSelectedObjectMidMoveLeavesNoReference) {
  MouseAt(100 + 30, 100 + 40);
  MouseAt(100 + 30, 100 + 40, MOUSEEVENTF_LEFTDOWN);
  MouseAt(100 + 35, 100 + 40);
  classlib::Free(a);
  EXPECT_EQ(scene->GetSelected(), nullptr);
  EXPECT_TRUE(scene->SnapLines().empty() || scene->SnapLines()[0] == b);
  MouseAt(100 + 60, 100 + 60);
  MouseAt(100 + 60, 100 + 60, MOUSEEVENTF_LEFTUP);
  classlib::Free(b);
  EXPECT_TRUE(scene->SnapLines().empty());
}

TEST_F(SceneKeys, TheCompositionWindowSitsAtTheFocusedCaret) {
  entries[0]->SetBounds(30, 20, 40, 20);
  entries[0]->EditsText = true;
  scene->SetFocused(entries[0]);
  SendMessageW(scene->Handle(), WM_IME_STARTCOMPOSITION, 0, 0);
  HIMC imc = ImmGetContext(scene->Handle());
  ASSERT_NE(imc, nullptr);
  COMPOSITIONFORM cf{};
  ASSERT_TRUE(ImmGetCompositionWindow(imc, &cf));
  ImmReleaseContext(scene->Handle(), imc);
  EXPECT_EQ(cf.dwStyle, DWORD(CFS_RECT));
  EXPECT_EQ(cf.ptCurrentPos.x, 35);
  EXPECT_EQ(cf.ptCurrentPos.y, 23);
  EXPECT_EQ(cf.rcArea.right, 200);
  EXPECT_EQ(cf.rcArea.bottom, 100);
}

TEST_F(SceneKeys, NavigationKeysReachTheRootFirst) {
  scene->SetFocused(entries[0]);
  root->TakesDialogKeys = {VK_HOME};
  Key(WM_KEYDOWN, VK_HOME);
  Key(WM_KEYDOWN, VK_END);
  Key(WM_KEYDOWN, 'A');
  EXPECT_EQ(root->DialogKeysSeen, (std::vector<uint16_t>{VK_HOME, VK_END}));
  // Home was taken by the root; End and A reach the focused object.
  const std::vector<std::string> want = {"down 35 0", "down 65 0"};
  EXPECT_EQ(entries[0]->Keys, want);
}

// A form shown modally, closed from a posted message inside its loop.
class SceneModal : public SceneHost {
 protected:
  static void CALLBACK SendEscape(HWND wnd, UINT, UINT_PTR id, DWORD) {
    KillTimer(wnd, id);
    auto* self = current;
    SendMessageW(self->scene->Handle(), WM_KEYDOWN, VK_ESCAPE, 0);
    // A root that took Escape leaves the form open: close it another way.
    if (self->form->ModalResult() == 0) {
      self->escapeKept = true;
      self->form->SetModalResult(classlib::mrOk);
    }
  }
  int RunModal() {
    current = this;
    SetTimer(form->Handle(), 1, 10, &SendEscape);
    return form->ShowModal();
  }
  static SceneModal* current;
  bool escapeKept = false;
};
SceneModal* SceneModal::current = nullptr;

TEST_F(SceneModal, EscapeClosesAModalFormUnlessTheRootTakesIt) {
  Make(false, false);
  EXPECT_EQ(RunModal(), classlib::mrCancel);
  EXPECT_FALSE(escapeKept);
  root->TakesDialogKeys = {VK_ESCAPE};
  EXPECT_EQ(RunModal(), classlib::mrOk);
  EXPECT_TRUE(escapeKept);
}

TEST_F(SceneHost, RootRealignsToTheClientAreaAndTurnedRootsSwapSides) {
  Make(false);
  EXPECT_FLOAT_EQ(root->Width(), 200);
  EXPECT_FLOAT_EQ(root->Height(), 100);
  root->SetRotateAngle(90);
  // A resize realigns (a call with the same bounds may do nothing).
  scene->SetBounds(0, 0, 201, 100);
  scene->SetBounds(0, 0, 200, 100);
  EXPECT_FLOAT_EQ(root->Position()->X(), 50);
  EXPECT_FLOAT_EQ(root->Position()->Y(), -50);
  EXPECT_FLOAT_EQ(root->Width(), 100);
  EXPECT_FLOAT_EQ(root->Height(), 200);
}

TEST_F(SceneHost, AFillWithoutAlphaClearsInsteadOfFilling) {
  Make(false);
  root->SetVisible(false);
  auto* fill = classlib::New<TsgBrush>(sgBrushSolid, 0x00FF0000u);
  scene->SetFill(fill);
  UpdateWindow(scene->Handle());
  EXPECT_EQ(BufferPixel(scene, 50, 50), 0x00FF0000u);
  fill->SetSolidColor(0xFF00FF00u);
  scene->SetFill(fill);
  UpdateWindow(scene->Handle());
  EXPECT_EQ(BufferPixel(scene, 50, 50), 0xFF00FF00u);
  delete fill;
}

TEST_F(SceneHost, ATransparentSceneInsideAControlShowsItsParent) {
  Make(false);
  auto* panel = New<classlib::TCustomControl>(form);
  panel->SetParent(form);
  panel->SetBounds(0, 110, 200, 80);
  panel->SetColor(RGB(255, 0, 0));
  auto* inner = New<TsgScene>(form);
  inner->SetTransparency(true);
  inner->SetParent(panel);
  inner->SetBounds(10, 10, 100, 50);
  auto* dot = New<TSwatch>(form);
  inner->AddObject(dot);
  dot->SetAlign(vaNone);
  dot->SetBounds(0, 0, 10, 10);
  Pump();
  UpdateWindow(inner->Handle());
  EXPECT_FALSE(inner->Layered());
  EXPECT_EQ(BufferPixel(inner, 5, 5), 0xFF0000FFu);
  // The panel's red under the rest.
  EXPECT_EQ(BufferPixel(inner, 50, 30) & 0x00FFFFFFu, 0x00FF0000u);
}

// A windowed control that paints itself in its colour.
class TFilledBox : public classlib::TCustomControl {
 public:
  using TCustomControl::TCustomControl;
  void Paint() override {
    Canvas()->Brush()->SetColor(Color());
    Canvas()->FillRect(classlib::Rect(0, 0, Width(), Height()));
  }
};

TEST_F(SceneHost, ATransparentSceneShowsTheControlsBeforeItAndTheirOwnControls) {
  Make(false);
  auto* panel = New<classlib::TCustomControl>(form);
  panel->SetParent(form);
  panel->SetBounds(0, 110, 200, 80);
  panel->SetColor(RGB(255, 0, 0));
  // Before the scene in the panel's order: a green card holding a blue chip.
  auto* card = New<TFilledBox>(form);
  card->SetParent(panel);
  card->SetBounds(0, 0, 60, 60);
  card->SetColor(RGB(0, 255, 0));
  auto* chip = New<TFilledBox>(form);
  chip->SetParent(card);
  chip->SetBounds(20, 20, 20, 20);
  chip->SetColor(RGB(0, 0, 255));
  auto* inner = New<TsgScene>(form);
  inner->SetTransparency(true);
  inner->SetParent(panel);
  inner->SetBounds(10, 10, 100, 50);
  Pump();
  inner->AddUpdateRect({0, 0, 100, 50});
  inner->Draw();
  // Scene points and what lies under them in the panel.
  const struct {
    int x, y;
    uint32_t rgb;
  } table[] = {{5, 5, 0x0000FF00u},   {45, 40, 0x0000FF00u}, {25, 15, 0x000000FFu},
               {29, 29, 0x000000FFu}, {70, 30, 0x00FF0000u}, {55, 45, 0x00FF0000u}};
  for (const auto& t : table)
    EXPECT_EQ(BufferPixel(inner, t.x, t.y) & 0x00FFFFFFu, t.rgb) << t.x << "," << t.y;
}

TEST_F(SceneHost, HintsAndDesignHitTestsAskTheObjectUnderThePoint) {
  Make(false);
  auto* a = New<TSwatch>(form);
  root->AddObject(a);
  a->SetBounds(10, 10, 30, 30);
  a->ShowHint = true;
  a->SetHint(u"swatch");
  classlib::THintInfo info;
  info.CursorPos = {20, 20};
  scene->Perform(classlib::CM_HINTSHOW, 0, reinterpret_cast<LPARAM>(&info));
  EXPECT_EQ(info.HintStr, u"swatch");
  EXPECT_EQ(info.CursorRect.left, 10);
  EXPECT_EQ(info.CursorRect.bottom, 40);
  info.CursorPos = {100, 60};
  scene->Perform(classlib::CM_HINTSHOW, 0, reinterpret_cast<LPARAM>(&info));
  EXPECT_EQ(info.HintStr, u"");
  root->SetHitTest(false);
  EXPECT_EQ(scene->Perform(classlib::CM_DESIGNHITTEST, 0, MAKELPARAM(20, 20)), 1);
  EXPECT_EQ(scene->Perform(classlib::CM_DESIGNHITTEST, 0, MAKELPARAM(100, 60)), 0);
}

// ---- OLE drops, through the window's registered drop target

// COM interfaces have no virtual destructor by design.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class TFileData final : public IDataObject {
 public:
  explicit TFileData(std::vector<uint8_t> drop) : drop_(std::move(drop)) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(const ::GUID& riid, void** obj) override {
    *obj = IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDataObject) ? this : nullptr;
    return *obj ? S_OK : E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
  ULONG STDMETHODCALLTYPE Release() override { return --refs; }
  HRESULT STDMETHODCALLTYPE GetData(FORMATETC* fmt, STGMEDIUM* medium) override {
    if (fmt->cfFormat != CF_HDROP) return DV_E_FORMATETC;
    HGLOBAL g = GlobalAlloc(GMEM_MOVEABLE, drop_.size());
    std::copy(drop_.begin(), drop_.end(), static_cast<uint8_t*>(GlobalLock(g)));
    GlobalUnlock(g);
    medium->tymed = TYMED_HGLOBAL;
    medium->hGlobal = g;
    medium->pUnkForRelease = nullptr;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetDataHere(FORMATETC*, STGMEDIUM*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE QueryGetData(FORMATETC*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE SetData(FORMATETC*, STGMEDIUM*, BOOL) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EnumFormatEtc(DWORD, IEnumFORMATETC**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD*) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE DUnadvise(DWORD) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE EnumDAdvise(IEnumSTATDATA**) override { return E_NOTIMPL; }
  ULONG refs = 1;

 private:
  std::vector<uint8_t> drop_;
};
#pragma GCC diagnostic pop

// ---- drops

HGLOBAL MakeDrop(const std::vector<uint8_t>& bytes) {
  HGLOBAL g = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
  std::copy(bytes.begin(), bytes.end(), static_cast<uint8_t*>(GlobalLock(g)));
  GlobalUnlock(g);
  return g;
}

std::vector<uint8_t> DropBytes(uint32_t offset, const std::u16string& names, bool terminated) {
  std::vector<uint8_t> b(sizeof(DROPFILES), 0);
  auto* h = reinterpret_cast<DROPFILES*>(b.data());
  h->pFiles = offset;
  h->fWide = TRUE;
  for (char16_t c : names) {
    b.push_back(uint8_t(c & 0xFF));
    b.push_back(uint8_t(c >> 8));
  }
  if (terminated) b.insert(b.end(), {0, 0});
  return b;
}

TEST(SceneDrop, FilesAreReadOnlyInsideTheBlock) {
  const std::u16string three(u"a.txt\0b.txt\0c.txt\0", 18);
  struct Case {
    std::vector<uint8_t> bytes;
    std::vector<std::u16string> want;
  } const cases[] = {
      {DropBytes(sizeof(DROPFILES), three, true), {u"a.txt", u"b.txt", u"c.txt"}},
      {DropBytes(4000, three, true), {}},  // offset beyond the block
      {DropBytes(2, three, true), {}},     // offset inside the header
      {DropBytes(sizeof(DROPFILES), std::u16string(u"a.txt\0bbbb", 10), false),
       {u"a.txt"}},                      // unterminated tail
      {std::vector<uint8_t>(6, 0), {}},  // shorter than a header
  };
  for (const Case& c : cases) {
    HGLOBAL g = MakeDrop(c.bytes);
    EXPECT_EQ(ReadDroppedFiles(g), c.want);
    GlobalFree(g);
  }
  std::u16string longName(300, u'x');
  longName.push_back(0);
  HGLOBAL g = MakeDrop(DropBytes(sizeof(DROPFILES), longName, true));
  const auto files = ReadDroppedFiles(g);
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].size(), 260u);
  GlobalFree(g);
}

TEST_F(SceneHost, ThreeDroppedFilesReachTheTargetAndNoExceptionLeaves) {
  Make(false);
  auto* a = New<TSwatch>(form);
  root->AddObject(a);
  a->SetBounds(10, 10, 30, 30);
  a->AcceptsDrops = true;
  TFileData data(DropBytes(sizeof(DROPFILES), std::u16string(u"a.txt\0b.txt\0c.txt\0", 18), true));
  IDropTarget* target = scene->DropTargetInterface();
  ASSERT_NE(target, nullptr);
  POINT in{20, 20};
  ClientToScreen(scene->Handle(), &in);
  const POINTL at{in.x, in.y};
  DWORD effect = DROPEFFECT_COPY;
  EXPECT_EQ(target->DragEnter(&data, MK_LBUTTON, at, &effect), S_OK);
  EXPECT_EQ(target->DragOver(MK_LBUTTON, at, &effect), S_OK);
  EXPECT_EQ(effect, DWORD(DROPEFFECT_LINK));
  EXPECT_EQ(CurrentDragTarget(), a);
  EXPECT_EQ(target->Drop(&data, MK_LBUTTON, at, &effect), S_OK);
  EXPECT_EQ(a->DroppedFiles, (std::vector<std::u16string>{u"a.txt", u"b.txt", u"c.txt"}));
  EXPECT_EQ(a->DroppedData, u"a.txt");
  EXPECT_EQ(CurrentDragTarget(), nullptr);
  EXPECT_EQ(data.refs, 1u);

  // An object that raises: the drag answers E_UNEXPECTED, effect none.
  a->ThrowOnDragEnter = true;
  effect = DROPEFFECT_COPY;
  EXPECT_EQ(target->DragEnter(&data, MK_LBUTTON, at, &effect), S_OK);
  EXPECT_EQ(target->DragOver(MK_LBUTTON, at, &effect), E_UNEXPECTED);
  EXPECT_EQ(effect, DWORD(DROPEFFECT_NONE));
  EXPECT_EQ(target->DragLeave(), S_OK);
  EXPECT_EQ(data.refs, 1u);
  // The drag target freed mid-drag leaves no reference.
  a->ThrowOnDragEnter = false;
  EXPECT_EQ(target->DragEnter(&data, MK_LBUTTON, at, &effect), S_OK);
  EXPECT_EQ(target->DragOver(MK_LBUTTON, at, &effect), S_OK);
  classlib::Free(a);
  EXPECT_EQ(CurrentDragTarget(), nullptr);
  EXPECT_EQ(target->Drop(&data, MK_LBUTTON, at, &effect), S_OK);
}

// ---- frames

class TTwoSceneForm : public TForm {
  CL_DECLARE_CLASS(TTwoSceneForm, TForm)
 public:
  explicit TTwoSceneForm(classlib::TComponent* o) : TForm(o, 0) {
    auto* s = New<TsgScene>(this);
    s->SetName("Shown");
    s->SetParent(this);
    auto* r = New<TSwatch>(this);
    r->SetName("ShownRoot");
    s->AddObject(r);
  }
};
CL_CLASS(TTwoSceneForm) {}

TEST_F(SceneHost, TwoFramesOnOneScene) {
  Make(false);
  auto* other = New<TTwoSceneForm>(nullptr);
  auto* shown = static_cast<TsgCustomScene*>(other->FindComponent("Shown"));
  TsgObject* shownRoot = shown->GetRoot();
  auto* first = New<TsgFrame>(form);
  root->AddObject(first);
  first->SetSceneObject(shown);
  EXPECT_EQ(shown->Frame(), first);
  ASSERT_EQ(first->GetChildrenCount(), 1);
  EXPECT_EQ(first->GetChild(0), shownRoot);
  EXPECT_EQ(shown->GetRoot(), nullptr);

  auto* second = New<TsgFrame>(form);
  root->AddObject(second);
  second->SetSceneObject(shown);
  EXPECT_TRUE(second->Pending());
  scene->AddUpdateRect({0, 0, 200, 100});
  UpdateWindow(scene->Handle());
  EXPECT_FALSE(second->Pending());
  ASSERT_NE(second->InstanceForm(), nullptr);
  ASSERT_EQ(second->GetChildrenCount(), 1);
  EXPECT_NE(second->GetChild(0), shownRoot);
  EXPECT_EQ(second->GetChild(0)->Name(), "ShownRoot");

  // Freeing the frame hands the borrowed root back.
  classlib::Free(first);
  EXPECT_EQ(shown->GetRoot(), shownRoot);
  EXPECT_EQ(shown->Frame(), nullptr);
  classlib::Free(second->InstanceForm());
  classlib::Free(other);
}

TEST_F(SceneDesign, AFrameAtDesignTimeShowsAPictureAndBorrowsNothing) {
  auto* other = New<TTwoSceneForm>(nullptr);
  auto* shown = static_cast<TsgCustomScene*>(other->FindComponent("Shown"));
  auto* shownRoot = static_cast<TSwatch*>(shown->GetRoot());
  shownRoot->Color = 0xFFFF0000;
  shownRoot->SetBounds(0, 0, 10, 10);
  auto* frame = New<TsgFrame>(form);
  root->AddObject(frame);
  frame->SetBounds(150, 50, 40, 40);
  frame->SetSceneObject(shown);
  EXPECT_EQ(shown->GetRoot(), shownRoot);
  EXPECT_EQ(shown->Frame(), nullptr);
  scene->AddUpdateRect({0, 0, 200, 100});
  UpdateWindow(scene->Handle());
  ASSERT_NE(frame->Snapshot(), nullptr);
  EXPECT_EQ(frame->Snapshot()->Width(), 40);
  EXPECT_EQ(BufferPixel(scene, 170, 70), 0xFFFF0000u);
  // The root painted at the frame's size got its own bounds back.
  EXPECT_FLOAT_EQ(shownRoot->Width(), 10);
  classlib::Free(other);
  EXPECT_EQ(frame->SceneObject(), nullptr);
}

}  // namespace
}  // namespace kelm::scene

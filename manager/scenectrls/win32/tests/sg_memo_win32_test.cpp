// The memo in a real scene window with real input: typing, Shift+arrows,
// Ctrl+C and Ctrl+V through the real clipboard, Backspace over CR LF, a
// double click selecting a word, MaxLength, a wheel notch, an input-method
// composition, the real menu's Undo and the selection's colour by focus.
#include <windows.h>

#include <gtest/gtest.h>

#include "scene/sg_control_action.h"  // first: it undoes the Win32 FindResource macro

#include <string>

#include "classlib/classdef.h"
#include "classlib/clipbrd.h"
#include "classlib/forms.h"
#include "classlib/timers.h"
#include "scene/sg_canvas_gdiplus.h"
#include "scene/sg_scene.h"
#include "scenectrls/sg_memo.h"
#include "ctrl_window.h"
#include "message_pump.h"

namespace kelm::scenectrls {
namespace {

using classlib::New;
using test::MouseAt;

void KeyEvent(WORD vk, bool up) {
  INPUT in{};
  in.type = INPUT_KEYBOARD;
  in.ki.wVk = vk;
  in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
  SendInput(1, &in, sizeof in);
}

// A key with modifiers held around it.
void Press(WORD vk, std::initializer_list<WORD> held = {}) {
  for (WORD m : held) KeyEvent(m, false);
  KeyEvent(vk, false);
  KeyEvent(vk, true);
  for (WORD m : held) KeyEvent(m, true);
  test::PumpFor(30);
}

void TypeLetters(const char* s) {
  for (; *s; ++s) Press(*s == ' ' ? VK_SPACE : static_cast<WORD>(*s - 'a' + 'A'));
}

class MemoWindow : public test::SceneWindow {
 protected:
  void SetUp() override {
    MakeWindow(100, 100, 400, 300);
    memo = New<TsgMemo>(form);
    memo->SetBounds(20, 20, 240, 120);
    memo->Font()->SetFamily("DejaVu Sans");
    memo->Animated = false;
    root->AddObject(memo);
  }
  void ShowAndFocus() {
    Show();
    MouseAt(100 + 200, 100 + 100);
    MouseAt(100 + 200, 100 + 100, MOUSEEVENTF_LEFTDOWN);
    MouseAt(100 + 200, 100 + 100, MOUSEEVENTF_LEFTUP);
    ASSERT_TRUE(test::PumpUntil([&] { return memo->IsFocused(); }, 2000));
  }
  TsgMemo* memo = nullptr;
};

TEST_F(MemoWindow, TypingSelectingCopyingPastingAndBackspacingAPair) {
  ShowAndFocus();
  TypeLetters("ab cd");
  EXPECT_TRUE(test::PumpUntil([&] { return memo->Text() == u"ab cd"; }, 2000));
  Press(VK_LEFT, {VK_SHIFT});
  Press(VK_LEFT, {VK_SHIFT});
  EXPECT_EQ(memo->GetSelText(), u"cd");
  Press('C', {VK_CONTROL});
  EXPECT_EQ(classlib::Clipboard()->AsText(), u"cd");
  Press(VK_END);
  Press(VK_RETURN);
  Press('V', {VK_CONTROL});
  EXPECT_TRUE(test::PumpUntil([&] { return memo->Text() == u"ab cd\r\ncd"; }, 2000));
  for (int i = 0; i < 3; ++i) Press(VK_BACK);
  EXPECT_TRUE(test::PumpUntil([&] { return memo->Text() == u"ab cd"; }, 2000));
  // The menu's Undo restores what the Backspaces took, as one step.
  EXPECT_TRUE(memo->Undo());
  EXPECT_EQ(memo->Text(), u"ab cd\r\ncd");
}

TEST_F(MemoWindow, ADoubleClickSelectsAWordAndMaxLengthHolds) {
  memo->SetText(u"alpha beta");
  ShowAndFocus();
  scene::TsgRect cr;
  memo->ContentRect(cr);
  const scene::TsgPoint p = memo->CaretToPoint({0, 8});
  const int x = 100 + 20 + static_cast<int>(p.X), y = 100 + 20 + static_cast<int>(p.Y + 6);
  MouseAt(x, y);
  for (int i = 0; i < 2; ++i) {
    MouseAt(x, y, MOUSEEVENTF_LEFTDOWN);
    MouseAt(x, y, MOUSEEVENTF_LEFTUP);
  }
  EXPECT_TRUE(test::PumpUntil([&] { return memo->GetSelText() == u"beta"; }, 2000))
      << std::string(memo->GetSelText().begin(), memo->GetSelText().end());
  memo->SetMaxLength(12);
  Press(VK_END);
  TypeLetters("xyzw");
  test::PumpFor(50);
  EXPECT_EQ(memo->Text(), u"alpha betaxy");
}

TEST_F(MemoWindow, AWheelNotchScrollsThreeStepsAndFourMore) {
  std::u16string text;
  for (int i = 0; i < 60; ++i) text += u"line\r\n";
  memo->SetText(text);
  ShowAndFocus();
  TsgScrollBar* v = memo->VScrollBar();
  ASSERT_NE(v, nullptr);
  ASSERT_TRUE(test::PumpUntil([&] { return v->Visible(); }, 2000));
  v->SetValue(300);
  MouseAt(100 + 100, 100 + 80, MOUSEEVENTF_WHEEL, WHEEL_DELTA);
  EXPECT_TRUE(test::PumpUntil([&] { return v->Value() < 300; }, 2000));
  EXPECT_FLOAT_EQ(v->Value(), 300 - 3 * v->SmallChange - 4);
}

TEST_F(MemoWindow, AComposedStringArrivesOnceWithItsWindowAtTheCaret) {
  memo->SetText(u"xyz");
  ShowAndFocus();
  Press(VK_END);
  const scene::TsgPoint before = memo->CaretToPoint(memo->Caret());
  HIMC imc = ImmGetContext(host->Handle());
  ASSERT_NE(imc, nullptr);
  ImmSetOpenStatus(imc, TRUE);
  const wchar_t text[] = L"ab";
  ASSERT_TRUE(ImmSetCompositionStringW(imc, SCS_SETSTR, const_cast<wchar_t*>(text), 4, nullptr, 0));
  ImmNotifyIME(imc, NI_COMPOSITIONSTR, CPS_COMPLETE, 0);
  test::PumpFor(100);
  EXPECT_EQ(memo->Text(), u"xyzab");
  COMPOSITIONFORM cf{};
  ASSERT_TRUE(ImmGetCompositionWindow(imc, &cf));
  ImmReleaseContext(host->Handle(), imc);
  // The memo sits at (20, 20): the window stands at the caret, as it was
  // when the composition began or after it.
  const scene::TsgPoint after = memo->CaretToPoint(memo->Caret());
  const LONG y = static_cast<LONG>(20 + before.Y);
  EXPECT_EQ(cf.ptCurrentPos.y, y);
  EXPECT_TRUE(cf.ptCurrentPos.x == static_cast<LONG>(20 + before.X) ||
              cf.ptCurrentPos.x == static_cast<LONG>(20 + after.X))
      << cf.ptCurrentPos.x << " " << before.X << " " << after.X;
}

// Posts Escape if the menu is still up when it fires.
class MenuWatchdog : public classlib::TObject {
 public:
  void Fire(classlib::TObject*) {
    Fired = true;
    PostMessageW(Window, WM_KEYDOWN, VK_ESCAPE, 0);
  }
  HWND Window = nullptr;
  bool Fired = false;
};

TEST_F(MemoWindow, TheMenusUndoRestores) {
  ShowAndFocus();
  TypeLetters("abc");
  ASSERT_TRUE(test::PumpUntil([&] { return memo->Text() == u"abc"; }, 2000));
  auto* dog = New<MenuWatchdog>();
  dog->Window = host->Handle();
  auto* timer = New<classlib::TTimer>(nullptr);
  timer->SetInterval(5000);
  timer->SetOnTimer(classlib::EventOf<&MenuWatchdog::Fire>(dog));
  // The first item, "Undo".
  for (WPARAM vk : {VK_DOWN, VK_RETURN}) PostMessageW(host->Handle(), WM_KEYDOWN, vk, 0);
  memo->ContextPopup({300, 200});
  EXPECT_FALSE(dog->Fired);
  EXPECT_EQ(memo->Text(), u"");
  classlib::Free(timer);
  classlib::Free(dog);
}

TEST_F(MemoWindow, SelectedSpacesShowTheSelectionOnlyWhileFocused) {
  memo->SetText(u"a      b");
  ShowAndFocus();
  Press('A', {VK_CONTROL});
  ASSERT_EQ(memo->GetSelText(), u"a      b");
  const scene::TsgPoint p = memo->CaretToPoint({0, 4});
  const int x = 20 + static_cast<int>(p.X), y = 20 + static_cast<int>(p.Y + memo->LineHeight() / 2);
  EXPECT_TRUE(test::PumpUntil(
      [&] {
        const COLORREF c = Pixel(x, y);
        return GetBValue(c) > GetRValue(c) + 0x30;
      },
      2000))
      << std::hex << Pixel(x, y);
  host->SetFocused(nullptr);
  EXPECT_FALSE(memo->IsFocused());
  EXPECT_TRUE(memo->HasSelection());
  EXPECT_TRUE(test::PumpUntil([&] { return Pixel(x, y) == RGB(255, 255, 255); }, 2000))
      << std::hex << Pixel(x, y);
}

}  // namespace
}  // namespace kelm::scenectrls

// Scene controls in a real scene window, styled from the embedded default
// book and driven with real messages: clicks and presses through
// SendInput, keys, the default and cancel buttons, a modal result ending
// ShowModal, an action-bound button, the popup box's real menu and a held
// speed button on the window timers; scroll bars dragged, held and read
// back at their thumbs.
#include <windows.h>

#include <gtest/gtest.h>

#include "scene/sg_control_action.h"  // first: it undoes the Win32 FindResource macro

#include <cmath>
#include <string>

#include "classlib/actions.h"
#include "classlib/classdef.h"
#include "classlib/forms.h"
#include "classlib/timers.h"
#include "scene/sg_canvas_gdiplus.h"
#include "scene/sg_objects.h"
#include "scene/sg_scene.h"
#include "scenectrls/sg_buttons.h"
#include "scenectrls/sg_check_boxes.h"
#include "scenectrls/sg_popup_box.h"
#include "scenectrls/sg_tracks.h"
#include "scenectrls/sg_value_controls.h"
#include "ctrl_window.h"
#include "message_pump.h"

namespace kelm::scenectrls {
namespace {

using classlib::New;
using classlib::TForm;
using test::MouseAt;

// The default book's button: its face, and the face while pressed.
constexpr COLORREF kFace = RGB(0xE9, 0xEB, 0xEE);
constexpr COLORREF kPressedFace = RGB(0x9D, 0xB9, 0xD6);

class Sink : public classlib::TObject {
 public:
  void Clicked(classlib::TObject*) { ++Clicks; }
  int Clicks = 0;
};

void Key(WORD vk) {
  INPUT in[2]{};
  in[0].type = in[1].type = INPUT_KEYBOARD;
  in[0].ki.wVk = in[1].ki.wVk = vk;
  in[1].ki.dwFlags = KEYEVENTF_KEYUP;
  SendInput(2, in, sizeof in[0]);
  test::PumpFor(50);
}

// A shown form at (100, 100) whose scene fills it, with a white root.
class Controls : public test::SceneWindow {
 protected:
  void SetUp() override { MakeWindow(100, 100, 400, 200); }
  template <class T>
  T* Add(float x, float y, float w, float h) {
    auto* c = New<T>(form);
    c->SetBounds(x, y, w, h);
    root->AddObject(c);
    return c;
  }
  Sink sink;
};

TEST_F(Controls, TheBooksInsetPartsKeepClearOfTheirControlsEdges) {
  // Parts inset from their control (the pressed face, the caption, the
  // check box's box and mark) keep that room as Padding: as Margins it
  // left them filling the whole control.
  auto* b = Add<TsgButton>(20, 20, 80, 22);
  auto* c = Add<TsgCheckBox>(20, 60, 100, 19);
  Show();
  ASSERT_NE(b->StyleObject(), nullptr);
  ASSERT_NE(c->StyleObject(), nullptr);
  auto visualChild = [](scene::TsgObject* o, int i) {
    return dynamic_cast<scene::TsgVisualObject*>(o->GetChild(i));
  };
  scene::TsgVisualObject* box = visualChild(c->StyleObject(), 0);
  ASSERT_NE(box, nullptr);
  const struct {
    const char* part;
    scene::TsgVisualObject* object;
    float x, y, w, h;
  } parts[] = {
      {"pressed face", visualChild(b->StyleObject(), 1), 1, 1, 78, 20},
      {"focus ring", visualChild(b->StyleObject(), 2), 2, 2, 76, 18},
      {"caption", dynamic_cast<scene::TsgVisualObject*>(b->FindResource("text")), 3, 2, 74, 18},
      {"check box", box, 1, 3, 13, 13},
      {"check mark", visualChild(box, 0), 3, 3, 7, 7},
  };
  for (const auto& p : parts) {
    SCOPED_TRACE(p.part);
    ASSERT_NE(p.object, nullptr);
    EXPECT_FLOAT_EQ(p.object->Position()->X(), p.x);
    EXPECT_FLOAT_EQ(p.object->Position()->Y(), p.y);
    EXPECT_FLOAT_EQ(p.object->Width(), p.w);
    EXPECT_FLOAT_EQ(p.object->Height(), p.h);
  }
}

TEST_F(Controls, ARealClickFiresOnClickOnce) {
  auto* b = Add<TsgButton>(20, 20, 80, 22);
  b->SetTextProp(u"OK");
  b->OnClick = classlib::EventOf<&Sink::Clicked>(&sink);
  Show();
  ASSERT_NE(b->StyleObject(), nullptr) << "the embedded book has no button style";
  MouseAt(100 + 60, 100 + 31);
  MouseAt(100 + 60, 100 + 31, MOUSEEVENTF_LEFTDOWN);
  MouseAt(100 + 60, 100 + 31, MOUSEEVENTF_LEFTUP);
  EXPECT_TRUE(test::PumpUntil([&] { return sink.Clicks == 1; }, 2000));
  test::PumpFor(100);
  EXPECT_EQ(sink.Clicks, 1);
}

TEST_F(Controls, APressShowsAtTheCentreAndDraggingOffRestoresItWithoutAClick) {
  auto* b = Add<TsgButton>(20, 20, 80, 22);
  b->OnClick = classlib::EventOf<&Sink::Clicked>(&sink);
  Show();
  EXPECT_TRUE(test::PumpUntil([&] { return Pixel(60, 31) == kFace; }, 2000));
  MouseAt(100 + 60, 100 + 31);
  MouseAt(100 + 60, 100 + 31, MOUSEEVENTF_LEFTDOWN);
  EXPECT_TRUE(test::PumpUntil([&] { return Pixel(60, 31) == kPressedFace; }, 2000))
      << std::hex << Pixel(60, 31);
  MouseAt(100 + 200, 100 + 120);
  EXPECT_TRUE(test::PumpUntil([&] { return Pixel(60, 31) == kFace; }, 2000))
      << std::hex << Pixel(60, 31);
  EXPECT_FALSE(b->IsPressed());
  MouseAt(100 + 200, 100 + 120, MOUSEEVENTF_LEFTUP);
  test::PumpFor(100);
  EXPECT_EQ(sink.Clicks, 0);
}

TEST_F(Controls, TabThenEnterOrSpaceClicksTheFocusedButton) {
  auto* first = Add<TsgButton>(20, 20, 80, 22);
  auto* second = Add<TsgButton>(120, 20, 80, 22);
  Sink other;
  first->OnClick = classlib::EventOf<&Sink::Clicked>(&sink);
  second->OnClick = classlib::EventOf<&Sink::Clicked>(&other);
  Show();
  Key(VK_TAB);
  EXPECT_EQ(host->GetFocused(), first);
  Key(VK_RETURN);
  EXPECT_EQ(sink.Clicks, 1);
  Key(VK_TAB);
  EXPECT_EQ(host->GetFocused(), second);
  Key(VK_SPACE);
  EXPECT_EQ(other.Clicks, 1);
  EXPECT_EQ(sink.Clicks, 1);
}

TEST_F(Controls, TheDefaultButtonTakesEnterAndTheCancelButtonEscape) {
  auto* box = Add<TsgCheckBox>(20, 60, 120, 19);
  auto* ok = Add<TsgButton>(20, 20, 80, 22);
  auto* cancel = Add<TsgButton>(120, 20, 80, 22);
  Sink cancels;
  ok->Default = true;
  ok->OnClick = classlib::EventOf<&Sink::Clicked>(&sink);
  cancel->Cancel = true;
  cancel->OnClick = classlib::EventOf<&Sink::Clicked>(&cancels);
  Show();
  box->SetFocus();
  Key(VK_RETURN);
  EXPECT_EQ(sink.Clicks, 1);
  EXPECT_FALSE(box->IsChecked());  // the key went no further
  Key(VK_ESCAPE);
  EXPECT_EQ(cancels.Clicks, 1);
  // A focused button keeps Enter for itself.
  cancel->SetFocus();
  Key(VK_RETURN);
  EXPECT_EQ(cancels.Clicks, 2);
  EXPECT_EQ(sink.Clicks, 1);
}

// Ends a modal run that nothing else ended, so a failure cannot hang.
class Watchdog : public classlib::TObject {
 public:
  void Fire(classlib::TObject*) {
    if (Form) Form->SetModalResult(77);
  }
  TForm* Form = nullptr;
};

TEST_F(Controls, ModalResultTwoEndsShowModalWithTwo) {
  auto* b = Add<TsgButton>(20, 20, 80, 22);
  b->SetModalResult(2);
  auto* dog = New<Watchdog>();
  dog->Form = form;
  auto* timer = New<classlib::TTimer>(nullptr);
  timer->SetInterval(5000);
  timer->SetOnTimer(classlib::EventOf<&Watchdog::Fire>(dog));
  host->HandleNeeded();
  PostMessageW(host->Handle(), WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(60, 31));
  PostMessageW(host->Handle(), WM_LBUTTONUP, 0, MAKELPARAM(60, 31));
  EXPECT_EQ(form->ShowModal(), 2);
  classlib::Free(timer);
  classlib::Free(dog);
}

TEST_F(Controls, AnActionBoundButtonShowsTheCaptionAndFollowsEnabled) {
  auto* b = Add<TsgButton>(20, 20, 80, 22);
  auto* action = New<classlib::TAction>(form);
  action->SetCaption(u"Run");
  b->SetActionProp(action);
  Show();
  EXPECT_EQ(b->Text(), u"Run");
  auto* part = dynamic_cast<scene::TsgText*>(b->FindResource("text"));
  ASSERT_NE(part, nullptr);
  EXPECT_EQ(part->Text(), u"Run");
  action->SetEnabled(false);
  EXPECT_FALSE(b->Enabled());
  action->SetEnabled(true);
  EXPECT_TRUE(b->Enabled());
  action->SetCaption(u"Stop");
  EXPECT_EQ(part->Text(), u"Stop");
}

// Posts Escape to the thread if a menu is still up when it fires.
class MenuWatchdog : public classlib::TObject {
 public:
  void Fire(classlib::TObject*) {
    Fired = true;
    PostMessageW(Window, WM_KEYDOWN, VK_ESCAPE, 0);
  }
  HWND Window = nullptr;
  bool Fired = false;
};

TEST_F(Controls, PostedDownDownReturnPickTheSecondItemOfTheRealMenu) {
  auto* box = Add<TsgPopupBox>(20, 80, 100, 21);
  for (const char16_t* s : {u"one", u"two", u"three"}) box->Items()->Add(s);
  Show();
  auto* dog = New<MenuWatchdog>();
  dog->Window = host->Handle();
  auto* timer = New<classlib::TTimer>(nullptr);
  timer->SetInterval(5000);
  timer->SetOnTimer(classlib::EventOf<&MenuWatchdog::Fire>(dog));
  for (WPARAM vk : {VK_DOWN, VK_DOWN, VK_RETURN}) PostMessageW(host->Handle(), WM_KEYDOWN, vk, 0);
  box->Click();
  EXPECT_FALSE(dog->Fired);
  EXPECT_EQ(box->ItemIndex(), 1);
  EXPECT_EQ(box->Text(), u"two");
  classlib::Free(timer);
  classlib::Free(dog);
}

TEST_F(Controls, AHeldSpeedButtonClicksAboutTenTimesASecond) {
  auto* b = Add<TsgSpeedButton>(20, 20, 23, 23);
  b->OnClick = classlib::EventOf<&Sink::Clicked>(&sink);
  Show();
  MouseAt(100 + 31, 100 + 31);
  const DWORD start = GetTickCount();
  MouseAt(100 + 31, 100 + 31, MOUSEEVENTF_LEFTDOWN);
  test::PumpFor(1500);
  const DWORD held = GetTickCount() - start;
  const int repeated = sink.Clicks;
  MouseAt(100 + 31, 100 + 31, MOUSEEVENTF_LEFTUP);
  test::PumpFor(50);
  // The first repeat 600 ms after the press, then one every 100 ms; the
  // system's timers are coarse.
  const int ideal = static_cast<int>(held - 600) / 100 + 1;
  EXPECT_GE(repeated, ideal - 3) << held;
  EXPECT_LE(repeated, ideal + 1) << held;
  EXPECT_EQ(sink.Clicks, repeated + 1);  // and the release inside
  test::PumpFor(300);
  EXPECT_EQ(sink.Clicks, repeated + 1);
}

// ---- scroll bars
// The default book's thumb face and the groove of its track.
constexpr COLORREF kThumb = RGB(0x8F, 0xA3, 0xB8);
constexpr COLORREF kGroove = RGB(0xDD, 0xE2, 0xE7);

// A horizontal bar at (20, 120), 200 x 16: its track runs from scene x 36
// to 204 between the 16-wide arrows, 168 long.
TsgScrollBar* AddBar(scene::TsgBackground* root, classlib::TComponent* owner) {
  auto* bar = New<TsgScrollBar>(owner);
  bar->SetBounds(20, 120, 200, 16);
  root->AddObject(bar);
  bar->SetViewportSize(20);
  return bar;
}

TEST_F(Controls, TheThumbSitsWhereTheValueSays) {
  auto* bar = AddBar(root, form);
  Show();
  for (float value : {0.0f, 40.0f, 80.0f}) {
    bar->SetValue(value);
    const int left = 36 + static_cast<int>(classlib::Round(value / 100 * 168));
    // The thumb is 34 wide (20 of 100 on 168).
    EXPECT_TRUE(test::PumpUntil([&] { return Pixel(left + 17, 128) == kThumb; }, 2000))
        << value << " " << std::hex << Pixel(left + 17, 128);
    const int outside = value < 50 ? left + 50 : left - 16;
    EXPECT_EQ(Pixel(outside, 128), kGroove) << value;
  }
}

TEST_F(Controls, ADraggedThumbMovesTheValueWithThePointer) {
  auto* bar = AddBar(root, form);
  Show();
  bar->SetValue(10);
  test::PumpFor(50);
  // The thumb starts at 36 + 17 (10 of 100 on 168), 34 wide.
  const int grab = 36 + 17 + 17;
  MouseAt(100 + grab, 100 + 128);
  MouseAt(100 + grab, 100 + 128, MOUSEEVENTF_LEFTDOWN);
  for (int step = 1; step <= 4; ++step) MouseAt(100 + grab + 21 * step, 100 + 128);
  // 84 pixels of 168 are half the range.
  EXPECT_TRUE(test::PumpUntil([&] { return std::abs(bar->Value() - 60) < 1; }, 2000))
      << bar->Value();
  MouseAt(100 + grab + 84, 100 + 128, MOUSEEVENTF_LEFTUP);
  test::PumpFor(50);
  EXPECT_NEAR(bar->Value(), 60, 1);
}

TEST_F(Controls, AHeldDownArrowScrollsAtTheRepeatRateToTheEnd) {
  auto* bar = New<TsgScrollBar>(form);
  bar->SetOrientation(sgVertical);
  bar->SetBounds(300, 20, 16, 150);
  root->AddObject(bar);
  bar->SetMax(10);
  bar->SetViewportSize(3);
  Show();
  // The down arrow fills the bar's last 16 pixels.
  MouseAt(100 + 308, 100 + 162);
  const DWORD start = GetTickCount();
  MouseAt(100 + 308, 100 + 162, MOUSEEVENTF_LEFTDOWN);
  EXPECT_TRUE(test::PumpUntil([&] { return bar->Value() >= 1; }, 2000));
  EXPECT_TRUE(test::PumpUntil([&] { return bar->Value() == 7; }, 3000)) << bar->Value();
  const DWORD took = GetTickCount() - start;
  // Six repeats after the first at 600 ms: about 1100 ms, coarse timers.
  EXPECT_GE(took, 900u);
  EXPECT_LE(took, 2500u);
  test::PumpFor(300);
  EXPECT_EQ(bar->Value(), 7);
  MouseAt(100 + 308, 100 + 162, MOUSEEVENTF_LEFTUP);
}

TEST_F(Controls, TheProgressIndicatorEndsWhereTheValueSays) {
  // 200 wide: the track's margins leave 196 for the range.
  auto* bar = New<TsgProgressBar>(form);
  bar->SetBounds(20, 150, 200, 20);
  root->AddObject(bar);
  Show();
  constexpr COLORREF kIndicator = RGB(0x4F, 0x9A, 0x4F);
  constexpr COLORREF kTrack = RGB(0xE4, 0xE8, 0xEC);
  for (float value : {25.0f, 50.0f, 75.0f}) {
    bar->SetValue(value);
    const int end = 20 + 2 + static_cast<int>(value / 100 * 196);
    EXPECT_TRUE(test::PumpUntil([&] { return Pixel(end - 4, 160) == kIndicator; }, 2000))
        << value << " " << std::hex << Pixel(end - 4, 160);
    EXPECT_EQ(Pixel(end + 4, 160), kTrack) << value;
  }
  bar->SetValue(0);
  EXPECT_TRUE(test::PumpUntil([&] { return Pixel(24, 160) == kTrack; }, 2000));
}

}  // namespace
}  // namespace kelm::scenectrls

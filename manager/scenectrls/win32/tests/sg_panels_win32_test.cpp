// Window decorations in a real scene window, styled from the embedded
// default book: a size grip dragged with SendInput resizes the form, and a
// HUD window's caption shows and hides at its pixels.
#include <windows.h>

#include <gtest/gtest.h>

#include "scene/sg_control_action.h"  // first: it undoes the Win32 FindResource macro

#include "classlib/classdef.h"
#include "classlib/forms.h"
#include "scene/sg_canvas_gdiplus.h"
#include "scene/sg_scene.h"
#include "scenectrls/sg_panels.h"
#include "ctrl_window.h"
#include "message_pump.h"

namespace kelm::scenectrls {
namespace {

using classlib::New;
using test::MouseAt;

// A shown form at (100, 100), 400 x 200, with a scene over all of it.
class Decorations : public test::SceneWindow {
 protected:
  void SetUp() override { MakeWindow(100, 100, 400, 200); }
};

TEST_F(Decorations, DraggingASizeGripResizesTheForm) {
  auto* grip = New<TsgSizeGrip>(form);
  grip->SetBounds(380, 180, 16, 16);
  root->AddObject(grip);
  Show();
  MouseAt(100 + 388, 100 + 188);
  MouseAt(100 + 388, 100 + 188, MOUSEEVENTF_LEFTDOWN);
  // Each input is handled before the next is sent: the host reads the
  // cursor when the resize begins.
  ASSERT_TRUE(test::PumpUntil([&] { return host->WindowResizing(); }, 2000));
  for (int step = 1; step <= 4; ++step) {
    MouseAt(100 + 388 + 10 * step, 100 + 188 + 8 * step);
    EXPECT_TRUE(test::PumpUntil([&] { return form->Width() == 400 + 10 * step; }, 2000))
        << step << ": " << form->Width();
  }
  MouseAt(100 + 428, 100 + 220, MOUSEEVENTF_LEFTUP);
  EXPECT_TRUE(test::PumpUntil([&] { return !host->WindowResizing(); }, 2000));
  RECT r{};
  EXPECT_TRUE(test::PumpUntil(
      [&] {
        GetWindowRect(form->Handle(), &r);
        return r.right - r.left == 440 && r.bottom - r.top == 232;
      },
      2000))
      << r.right - r.left << " x " << r.bottom - r.top;
  EXPECT_EQ(r.left, 100);
  EXPECT_EQ(r.top, 100);
}

TEST_F(Decorations, TheHudWindowsCaptionShowsAndHides) {
  auto* hud = New<TsgHudWindow>(form);
  hud->SetBounds(20, 20, 200, 150);
  root->AddObject(hud);
  Show();
  // The book's caption bar: 21 high (the stroke's 1 and 20), opaque grey.
  constexpr COLORREF kCaption = RGB(0x50, 0x50, 0x50);
  EXPECT_TRUE(test::PumpUntil([&] { return Pixel(120, 30) == kCaption; }, 2000))
      << std::hex << Pixel(120, 30);
  hud->SetShowCaption(false);
  EXPECT_TRUE(test::PumpUntil([&] { return Pixel(120, 30) != kCaption; }, 2000));
  // The window's body shows there instead: its dark fill over the white.
  const COLORREF body = Pixel(120, 30);
  EXPECT_LT(GetRValue(body), 0x50);
  EXPECT_EQ(Pixel(120, 30), Pixel(120, 100));
}

}  // namespace
}  // namespace kelm::scenectrls

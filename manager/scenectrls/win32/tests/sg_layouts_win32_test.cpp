// Layouts, the scroll box and the tab control in a real scene window,
// styled from the embedded default book and driven with real input:
// wheel notches animated on the real clock, the viewport's clip, a
// tracking drag and its flick, a tab selected on release with its page
// shown, and a system edit control following its window-control layout.
#include <windows.h>

#include <gtest/gtest.h>

#include "scene/sg_control_action.h"  // first: it undoes the Win32 FindResource macro

#include <cmath>
#include <string>
#include <vector>

#include "classlib/classdef.h"
#include "classlib/forms.h"
#include "scene/sg_classes.h"
#include "scene/sg_canvas_gdiplus.h"
#include "scene/sg_objects.h"
#include "scene/sg_scene.h"
#include "scenectrls/sg_layouts_win32.h"
#include "scenectrls/sg_tab_control.h"
#include "ctrl_window.h"
#include "message_pump.h"

namespace kelm::scenectrls {
namespace {

using classlib::New;
using test::MouseAt;

class Sink : public classlib::TObject {
 public:
  void Changed(classlib::TObject*) { ++Changes; }
  int Changes = 0;
};

// The colour of the i-th stacked rectangle: distinct, opaque.
constexpr uint32_t StackColor(int i) { return 0xFF000000u | (uint32_t(i * 12) << 16) | 0x4080u; }
COLORREF StackPixel(int i) { return RGB(i * 12, 0x40, 0x80); }

// A shown form at (100, 100), 500 x 400, with a white scene over it.
class Layouts : public test::SceneWindow {
 protected:
  void SetUp() override { MakeWindow(100, 100, 500, 400); }
  // A framed box at (20, 20), 200 x 150, holding 20 rectangles 180 x 30
  // stacked from the top: the viewport is (21, 21) .. (202, 169), beside
  // a bar 16 wide held 1 off the frame.
  TsgScrollBox* StackedBox() {
    auto* box = New<TsgFramedScrollBox>(form);
    box->SetBounds(20, 20, 200, 150);
    root->AddObject(box);
    for (int i = 0; i < 20; ++i) {
      auto* r = New<scene::TsgRectangle>(form);
      r->SetBounds(0, float(i * 30), 180, 30);
      r->SetHitTest(false);
      r->Fill()->SetSolidColor(StackColor(i));
      r->Stroke()->SetStyle(scene::sgBrushNone);
      box->AddObject(r);
    }
    return box;
  }
  // The rectangle showing at a y of the window, the box scrolled by value.
  static int StackAt(int y, float value) {
    return static_cast<int>(std::floor((float(y) - 21 + value) / 30));
  }
  Sink sink;
};

TEST_F(Layouts, WheelNotchesScrollToTheAnimationsTargetInsideTheViewport) {
  TsgScrollBox* box = StackedBox();
  Show();
  ASSERT_TRUE(test::PumpUntil([&] { return box->VScrollBar() && box->VScrollBar()->Visible(); }));
  TsgScrollBar* bar = box->VScrollBar();
  EXPECT_EQ(bar->Max(), 600);
  EXPECT_EQ(bar->ViewportSize(), 148);
  const COLORREF frame = Pixel(100, 20);
  EXPECT_EQ(Pixel(100, 40), StackPixel(0));
  // Each notch down: 3 small changes (a fifth of the viewport) further,
  // animated for 0.7 s on the real clock.
  MouseAt(100 + 100, 100 + 80);
  for (int notch = 1; notch <= 2; ++notch) {
    SCOPED_TRACE(notch);
    MouseAt(100 + 100, 100 + 80, MOUSEEVENTF_WHEEL, static_cast<DWORD>(-WHEEL_DELTA));
    ASSERT_NE(box->VScrollAnimation(), nullptr);
    const float aim = box->VScrollAnimation()->StopValue();
    EXPECT_FLOAT_EQ(aim, notch * 3 * 148.f / 5);
    EXPECT_TRUE(test::PumpUntil([&] { return !box->VScrollAnimation()->Running(); }, 3000));
    EXPECT_EQ(bar->Value(), aim);
    EXPECT_EQ(box->Content()->Position()->Y(), 1 - aim);
    for (int y : {30, 90, 150}) {
      EXPECT_EQ(Pixel(100, y), StackPixel(StackAt(y, aim))) << y;
    }
  }
  // The rectangles scrolled above the viewport leave the frame as it was.
  EXPECT_EQ(Pixel(100, 20), frame);
  EXPECT_EQ(Pixel(100, 19), RGB(255, 255, 255));
}

TEST_F(Layouts, ATrackingDragMovesTheContentAndAFlickGoesOn) {
  TsgScrollBox* box = StackedBox();
  box->MouseTracking = true;
  Show();
  ASSERT_TRUE(test::PumpUntil([&] { return box->VScrollBar() && box->VScrollBar()->Visible(); }));
  TsgScrollBar* bar = box->VScrollBar();
  MouseAt(100 + 100, 100 + 140);
  MouseAt(100 + 100, 100 + 140, MOUSEEVENTF_LEFTDOWN);
  ASSERT_TRUE(test::PumpUntil([&] { return box->Tracking(); }, 2000));
  for (int step = 1; step <= 4; ++step) {
    MouseAt(100 + 100, 100 + 140 - 15 * step);
    EXPECT_TRUE(test::PumpUntil([&] { return bar->Value() == 15.f * step; }, 2000))
        << step << ": " << bar->Value();
  }
  // The content followed the pointer.
  EXPECT_EQ(Pixel(100, 88), StackPixel(StackAt(88, 60)));
  MouseAt(100 + 100, 100 + 80, MOUSEEVENTF_LEFTUP);
  ASSERT_TRUE(test::PumpUntil([&] { return !box->Tracking(); }, 2000));
  // The last step was 15 up: the flick aims 105 further and gets there.
  ASSERT_NE(box->VScrollAnimation(), nullptr);
  EXPECT_EQ(box->VScrollAnimation()->StopValue(), 165);
  EXPECT_TRUE(test::PumpUntil([&] { return bar->Value() == 165; }, 3000)) << bar->Value();
  EXPECT_EQ(Pixel(100, 88), StackPixel(StackAt(88, 165)));
}

TEST_F(Layouts, ATabClickedSelectsOnReleaseAndShowsItsPage) {
  auto* tc = New<TsgTabControl>(form);
  tc->SetBounds(20, 20, 300, 200);
  root->AddObject(tc);
  tc->OnChange = classlib::EventOf<&Sink::Changed>(&sink);
  const uint32_t pageColors[2] = {0xFFC04020u, 0xFF20C040u};
  TsgTabItem* tabs[2];
  for (int i = 0; i < 2; ++i) {
    tabs[i] = New<TsgTabItem>(form);
    tabs[i]->SetText(i == 0 ? u"First" : u"Second");
    tc->AddObject(tabs[i]);
    auto* page = New<TsgLayout>(form);
    tc->AddObject(page);
    auto* fill = New<scene::TsgRectangle>(form);
    fill->SetAlign(scene::vaClient);
    fill->Fill()->SetSolidColor(pageColors[i]);
    fill->Stroke()->SetStyle(scene::sgBrushNone);
    page->AddObject(fill);
    tabs[i]->SetLayout(page);
  }
  tc->SetItemIndex(0);
  sink.Changes = 0;
  Show();
  EXPECT_TRUE(test::PumpUntil([&] { return Pixel(150, 120) == RGB(0xC0, 0x40, 0x20); }, 2000))
      << std::hex << Pixel(150, 120) << " " << Pixel(150, 25) << " " << Pixel(60, 30);
  // The second tab sits at 80 .. 160 of the row, 20 high.
  MouseAt(100 + 20 + 120, 100 + 20 + 10);
  MouseAt(100 + 20 + 120, 100 + 20 + 10, MOUSEEVENTF_LEFTDOWN);
  test::PumpFor(100);
  EXPECT_EQ(tc->ItemIndex(), 0);
  EXPECT_EQ(sink.Changes, 0);
  MouseAt(100 + 20 + 120, 100 + 20 + 10, MOUSEEVENTF_LEFTUP);
  ASSERT_TRUE(test::PumpUntil([&] { return tc->ItemIndex() == 1; }, 2000));
  test::PumpFor(100);
  EXPECT_EQ(sink.Changes, 1);
  EXPECT_TRUE(tabs[1]->IsSelected());
  EXPECT_FALSE(tabs[0]->IsSelected());
  EXPECT_TRUE(test::PumpUntil([&] { return Pixel(150, 120) == RGB(0x20, 0xC0, 0x40); }, 2000))
      << std::hex << Pixel(150, 120);
}

TEST_F(Layouts, ASystemEditFollowsItsLayoutAndHidesWithIt) {
  auto* edit = New<classlib::TCustomEdit>(form);
  edit->SetParent(form);
  auto* group = New<TsgLayout>(form);
  group->SetBounds(10, 20, 300, 200);
  root->AddObject(group);
  auto* layout = New<TsgNonSGLayout>(form);
  layout->SetBounds(20.4f, 20.6f, 120.2f, 24.5f);
  group->AddObject(layout);
  layout->SetNonSGControl(edit);
  // The scene's own window is refused.
  auto* other = New<TsgNonSGLayout>(form);
  root->AddObject(other);
  other->SetNonSGControl(host);
  EXPECT_EQ(other->NonSGControl(), nullptr);
  Show();
  auto clientRect = [&] {
    RECT r{};
    GetWindowRect(edit->Handle(), &r);
    MapWindowPoints(HWND_DESKTOP, form->Handle(), reinterpret_cast<POINT*>(&r), 2);
    return r;
  };
  // (30.4, 40.6, 120.2 x 24.5) rounded to the nearest pixel.
  RECT r = clientRect();
  EXPECT_EQ(r.left, 30);
  EXPECT_EQ(r.top, 41);
  EXPECT_EQ(r.right - r.left, 120);
  EXPECT_EQ(r.bottom - r.top, 25);
  EXPECT_TRUE(IsWindowVisible(edit->Handle()));
  EXPECT_TRUE(layout->Timer()->Enabled());
  // Moved with its layout.
  layout->Position()->SetX(50);
  r = clientRect();
  EXPECT_EQ(r.left, 60);
  // A parent hidden: the poll hides the edit, and stops.
  group->SetVisible(false);
  EXPECT_TRUE(test::PumpUntil([&] { return !IsWindowVisible(edit->Handle()); }, 2000));
  EXPECT_FALSE(layout->Timer()->Enabled());
  // Freed, the edit is forgotten.
  classlib::Free(edit);
  EXPECT_EQ(layout->NonSGControl(), nullptr);
}

TEST(Registration, TheWindowControlLayoutFollowsThePortableLayouts) {
  // The scene core's frame joins "Layout" from its own start-up.
  std::vector<std::string> layouts;
  for (const scene::TsgClassCategory& entry : scene::SceneClassCategories())
    if (entry.Category == "Layout" && entry.Class->ClassName() != "TsgFrame")
      layouts.push_back(entry.Class->ClassName());
  EXPECT_EQ(layouts, (std::vector<std::string>{"TsgLayout", "TsgScaledLayout", "TsgGridLayout",
                                               "TsgSplitLayout", "TsgNonSGLayout"}));
  EXPECT_NE(classlib::GetClass("TsgNonSGLayout"), nullptr);
}

TEST(ImageLists, CountAndPremultipliedItems) {
  auto* list = New<classlib::TImageList>(nullptr);
  list->SetWidth(2);
  list->SetHeight(1);
  auto* bmp = New<classlib::TBitmap>();
  bmp->SetSize(2, 1);
  bmp->Canvas()->SetPixel(0, 0, static_cast<classlib::TColor>(RGB(255, 0, 0)));
  bmp->Canvas()->SetPixel(1, 0, static_cast<classlib::TColor>(RGB(0, 0, 255)));
  list->Add(bmp, nullptr);
  EXPECT_EQ(sgImageListCount(list), 1);
  EXPECT_EQ(sgImageListCount(nullptr), 0);
  EXPECT_EQ(sgImageListItem(list, 1), nullptr);
  EXPECT_EQ(sgImageListItem(list, -1), nullptr);
  scene::TsgBitmap* item = sgImageListItem(list, 0);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(item->Width(), 2);
  EXPECT_EQ(item->Bits()[0] & 0x00FFFFFFu, list->PixelOf(0, 0, 0) & 0x00FFFFFFu);
  EXPECT_EQ(item->Bits()[1], scene::sgPremultiplyAlpha(list->PixelOf(0, 1, 0)));
  classlib::Free(item);
  classlib::Free(bmp);
  classlib::Free(list);
}

}  // namespace
}  // namespace kelm::scenectrls

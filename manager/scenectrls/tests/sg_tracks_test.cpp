// Tracks, thumbs and scroll bars on a fake scene: the value setter's
// steps, thumb rectangles, drags with and without Tracking, keys, and a
// scroll bar's arrow held on the manual timers.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "classlib/classdef.h"
#include "scene/sg_classes.h"
#include "scenectrls/sg_tracks.h"
#include "ctrl_scene.h"

namespace kelm::scenectrls {
namespace {

using classlib::New;
using scene::TMouseButton;
using test::CtrlScene;
using test::FixtureBook;

using test::kLeft;
using test::kNone;

// Notes each report with the value it saw.
class Sink : public classlib::TObject {
 public:
  void Changed(classlib::TObject* sender) { Changes.push_back(ValueOf(sender)); }
  void Tracked(classlib::TObject* sender) { Tracks.push_back(ValueOf(sender)); }
  static float ValueOf(classlib::TObject* sender) {
    if (auto* t = dynamic_cast<TsgCustomTrack*>(sender)) return t->Value();
    return static_cast<TsgScrollBar*>(sender)->Value();
  }
  std::vector<float> Changes, Tracks;
};

const char* const kTrackStyle =
    "  object TsgVisualObject\n    ResourceName = 'trackstyle'\n    HitTest = False\n"
    "    object TsgThumb\n      ResourceName = 'thumb'\n    end\n  end\n";

// A scroll bar style: speed-button arrows at both ends of each direction,
// a track with a thumb in the middle.
std::string ScrollBarStyle() {
  auto button = [](const std::string& name, const std::string& align) {
    return "    object TsgSpeedButton\n      ResourceName = '" + name +
           "'\n      Align = " + align + "\n      Width = 10\n      Height = 10\n    end\n";
  };
  auto track = [](const std::string& name) {
    return "    object TsgTrack\n      ResourceName = '" + name +
           "'\n      Align = vaClient\n    end\n";
  };
  return "  object TsgVisualObject\n    ResourceName = 'scrollbarstyle'\n    HitTest = False\n" +
         button("leftbutton", "vaLeft") + button("rightbutton", "vaRight") +
         button("topbutton", "vaTop") + button("bottombutton", "vaBottom") + track("htrack") +
         track("vtrack") + "  end\n";
}

class Tracks : public ::testing::Test {
 protected:
  void SetUp() override { ctrl.SetBook(FixtureBook(kTrackStyle + ScrollBarStyle())); }
  TsgTrack* MakeTrack(float w = 100, float h = 15) {
    auto* t = ctrl.Add<TsgTrack>(10, 10, w, h);
    t->OnChange = classlib::EventOf<&Sink::Changed>(&sink);
    t->OnTracking = classlib::EventOf<&Sink::Tracked>(&sink);
    return t;
  }
  // Drags the thumb by the pointer's place along the track (track-local).
  void Press(TsgThumb* thumb, float trackX) {
    const scene::TsgPoint p = thumb->AbsoluteToLocal(thumb->Track()->LocalToAbsolute({trackX, 5}));
    thumb->MouseDown(TMouseButton::mbLeft, kLeft, p.X, p.Y);
  }
  void MoveTo(TsgThumb* thumb, float trackX) {
    const scene::TsgPoint p = thumb->AbsoluteToLocal(thumb->Track()->LocalToAbsolute({trackX, 5}));
    thumb->MouseMove(kLeft, p.X, p.Y, 0, 0);
  }
  void Release(TsgThumb* thumb, float trackX) {
    const scene::TsgPoint p = thumb->AbsoluteToLocal(thumb->Track()->LocalToAbsolute({trackX, 5}));
    thumb->MouseUp(TMouseButton::mbLeft, kNone, p.X, p.Y);
  }
  CtrlScene ctrl;
  Sink sink;
};

TEST_F(Tracks, FrequencySnapsHalvesToTheEvenMultiple) {
  auto* t = MakeTrack();
  t->SetFrequency(10);
  const struct {
    float set, held;
  } cases[] = {{14, 10}, {15, 20}, {25, 20}, {26, 30}, {-4, 0}, {1000, 100}};
  for (const auto& c : cases) {
    t->SetValue(c.set);
    EXPECT_EQ(t->Value(), c.held) << c.set;
  }
  // A new frequency snaps the value again.
  t->SetFrequency(0);
  t->SetValue(37);
  t->SetFrequency(25);
  EXPECT_EQ(t->Value(), 25);
}

TEST_F(Tracks, MaxAndViewportSettersOfTrackAndScrollBarDiffer) {
  auto* t = MakeTrack();
  auto* bar = ctrl.Add<TsgScrollBar>(10, 40, 150, 18);
  bar->OnChange = classlib::EventOf<&Sink::Changed>(&sink);
  bar->SetViewportSize(30);
  bar->SetValue(90);
  EXPECT_EQ(bar->Value(), 70);
  t->SetViewportSize(30);
  t->SetValue(90);
  EXPECT_EQ(t->Value(), 70);
  sink.Changes.clear();
  // Lowering Max under Value + ViewportSize: the bar reports, the track not.
  bar->SetMax(80);
  EXPECT_EQ(bar->Value(), 50);
  EXPECT_EQ(sink.Changes, std::vector<float>{50});
  sink.Changes.clear();
  t->SetMax(80);
  EXPECT_EQ(t->Value(), 50);
  EXPECT_TRUE(sink.Changes.empty());
  // Max under Min becomes Min + 0.001; the viewport is cut to the range.
  t->SetMin(10);
  t->SetMax(5);
  EXPECT_FLOAT_EQ(t->Max(), 10.001f);
  EXPECT_NEAR(t->ViewportSize(), 0.001f, 1e-5);
  bar->SetMin(60);
  EXPECT_EQ(bar->Value(), 60);  // raised through the setter
  bar->SetMax(0);
  EXPECT_FLOAT_EQ(bar->Max(), 60.001f);
  EXPECT_NEAR(bar->ViewportSize(), 0.001f, 1e-5);
}

TEST_F(Tracks, ThumbRectangles) {
  struct Case {
    const char* name;
    TsgOrientation orientation;
    float w, h, min, max, viewport, value;
    scene::TsgRect rect;
  } cases[] = {
      {"page", sgHorizontal, 100, 15, 0, 100, 30, 20, {20, 0, 50, 15}},
      {"no viewport: square on the value", sgHorizontal, 100, 15, 0, 100, 0, 50, {43, 0, 57, 15}},
      {"kept inside at the end", sgHorizontal, 100, 15, 0, 100, 0, 100, {86, 0, 100, 15}},
      {"kept inside at the start", sgHorizontal, 100, 15, 0, 100, 0, 0, {0, 0, 14, 15}},
      {"scaled range", sgHorizontal, 200, 15, 0, 50, 10, 10, {40, 0, 80, 15}},
      {"vertical page", sgVertical, 15, 100, 0, 100, 30, 70, {0, 70, 15, 100}},
      {"vertical, no viewport", sgVertical, 15, 100, 0, 100, 0, 50, {0, 43, 15, 57}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto* t = MakeTrack(c.w, c.h);
    t->SetOrientation(c.orientation);
    t->SetMin(c.min);
    t->SetMax(c.max);
    t->SetViewportSize(c.viewport);
    t->SetValue(c.value);
    const scene::TsgRect r = t->GetThumbRect();
    EXPECT_EQ(r.Left, c.rect.Left);
    EXPECT_EQ(r.Top, c.rect.Top);
    EXPECT_EQ(r.Right, c.rect.Right);
    EXPECT_EQ(r.Bottom, c.rect.Bottom);
    TsgThumb* thumb = t->Thumb();
    ASSERT_NE(thumb, nullptr);
    EXPECT_EQ(thumb->Position()->X(), c.rect.Left);
    EXPECT_EQ(thumb->Width(), c.rect.Right - c.rect.Left);
    EXPECT_EQ(thumb->Height(), c.rect.Bottom - c.rect.Top);
    classlib::Free(t);
  }
}

TEST_F(Tracks, TheThumbsPaddingInsetsItsRectangle) {
  auto* t = MakeTrack();
  t->SetViewportSize(30);
  t->SetValue(20);
  TsgThumb* thumb = t->Thumb();
  ASSERT_NE(thumb, nullptr);
  thumb->Padding()->SetRect({8, 2, 8, 3});
  scene::TsgRect r = t->GetThumbRect();
  EXPECT_EQ(r.Left, 28);
  EXPECT_EQ(r.Right, 42);
  EXPECT_EQ(r.Top, 2);
  EXPECT_EQ(r.Bottom, 12);
  // 14 wide with 8 and 8 of padding: the test is against 8 - 8 (the right
  // padding subtracted), so the edges still move in.
  t->SetViewportSize(0);
  r = t->GetThumbRect();
  EXPECT_EQ(r.Left, 13 + 8);
  EXPECT_EQ(r.Right, 27 - 8);
}

TEST_F(Tracks, ARangeOfNothingKeepsTheThumbOnTheWholeTrack) {
  auto* t = MakeTrack();
  t->SetMax(0);
  t->SetMin(0.001f);  // Min is not clamped: the range is now 0
  const scene::TsgRect r = t->GetThumbRect();
  EXPECT_EQ(r.Left, 0);
  EXPECT_EQ(r.Right, 100);
}

TEST_F(Tracks, DragWithTrackingReportsEveryChange) {
  // 128 long for 128 units: every place maps exactly.
  auto* t = MakeTrack(128, 15);
  t->SetMax(128);
  t->SetViewportSize(32);
  t->SetValue(16);
  sink.Changes.clear();
  TsgThumb* thumb = t->Thumb();
  ASSERT_NE(thumb, nullptr);
  Press(thumb, 21);  // 5 into the thumb
  EXPECT_TRUE(t->Dragging());
  MoveTo(thumb, 45);
  MoveTo(thumb, 45);
  MoveTo(thumb, 69);
  Release(thumb, 69);
  EXPECT_EQ(t->Value(), 64);
  EXPECT_EQ(sink.Changes, (std::vector<float>{40, 64}));
  EXPECT_EQ(sink.Tracks, (std::vector<float>{40, 64}));
}

TEST_F(Tracks, DragWithoutTrackingReportsOnceOnRelease) {
  // The second ends on 65535 exactly (half of 131070).
  for (float max : {128.0f, 131070.0f}) {
    SCOPED_TRACE(max);
    auto* t = MakeTrack(128, 15);
    auto* bound = ctrl.Add<TsgTextControl>(0, 100, 50, 20);
    bound->SetBindingSource(t);
    t->SetMax(max);
    t->SetTracking(false);
    sink.Changes.clear();
    sink.Tracks.clear();
    TsgThumb* thumb = t->Thumb();
    ASSERT_NE(thumb, nullptr);
    // No viewport: the pointer is the value's place.
    Press(thumb, t->GetThumbRect().Left + 7);
    MoveTo(thumb, 32);
    MoveTo(thumb, 64);
    EXPECT_TRUE(sink.Changes.empty());
    EXPECT_EQ(sink.Tracks.size(), 2u);
    EXPECT_EQ(bound->Text(), u"0");
    Release(thumb, 64);
    const float last = max / 2;
    EXPECT_EQ(t->Value(), last);
    EXPECT_EQ(sink.Changes, std::vector<float>{last});
    EXPECT_EQ(bound->Text(), classlib::TVariant(static_cast<double>(last)).ToString());
    EXPECT_FALSE(t->Dragging());
    classlib::Free(bound);
    classlib::Free(t);
  }
}

TEST_F(Tracks, ADragOverATrackWithNoLengthChangesNothing) {
  auto* t = MakeTrack(0, 15);
  t->SetValue(10);
  sink.Changes.clear();
  TsgThumb* thumb = t->Thumb();
  ASSERT_NE(thumb, nullptr);
  thumb->MouseDown(TMouseButton::mbLeft, kLeft, 1, 1);
  thumb->MouseMove(kLeft, 30, 1, 0, 0);
  thumb->MouseUp(TMouseButton::mbLeft, kNone, 30, 1);
  EXPECT_EQ(t->Value(), 10);
  EXPECT_FALSE(std::isnan(t->Value()));
  t->MouseDown(TMouseButton::mbLeft, kLeft, 0, 5);
  EXPECT_EQ(t->Value(), 10);
  EXPECT_TRUE(sink.Changes.empty());
}

TEST_F(Tracks, APressBesideTheThumbPagesOrJumps) {
  auto* t = MakeTrack();
  t->SetViewportSize(20);
  t->SetValue(40);
  t->MouseDown(TMouseButton::mbLeft, kLeft, 90, 5);
  EXPECT_EQ(t->Value(), 60);
  t->MouseDown(TMouseButton::mbLeft, kLeft, 10, 5);
  EXPECT_EQ(t->Value(), 40);
  t->SetViewportSize(0);
  t->MouseDown(TMouseButton::mbLeft, kLeft, 75, 5);
  EXPECT_EQ(t->Value(), 75);
}

TEST_F(Tracks, KeyTable) {
  struct Case {
    uint16_t key;
    bool tracking;
    float value;
    size_t changes;
    uint16_t keyAfter;
  } cases[] = {{35, true, 100, 1, 0}, {35, false, 100, 2, 0}, {36, true, 0, 1, 0},
               {37, true, 45, 1, 0},  {38, false, 45, 2, 0},  {39, true, 55, 1, 0},
               {40, true, 55, 1, 0},  {65, true, 50, 0, 65}};
  for (const Case& c : cases) {
    auto* t = MakeTrack();
    t->SetFrequency(5);
    t->SetValue(50);
    t->SetTracking(c.tracking);
    sink.Changes.clear();
    uint16_t key = c.key;
    char16_t ch = 0;
    t->KeyDown(key, ch, kNone);
    EXPECT_EQ(t->Value(), c.value) << c.key;
    EXPECT_EQ(sink.Changes.size(), c.changes) << c.key;
    EXPECT_EQ(key, c.keyAfter) << c.key;
    classlib::Free(t);
  }
}

TEST_F(Tracks, SetDataKinds) {
  auto* t = MakeTrack();
  auto* bar = ctrl.Add<TsgScrollBar>(10, 40, 150, 18);
  for (scene::TsgControl* c :
       {static_cast<scene::TsgControl*>(t), static_cast<scene::TsgControl*>(bar)}) {
    c->SetData(classlib::TVariant(42));
    EXPECT_EQ(c->GetData().ToDouble(), 42);
    c->SetData(classlib::TVariant(12.5));
    EXPECT_EQ(c->GetData().ToDouble(), 12.5);
    c->SetData(classlib::TVariant(u"not a number"));
    EXPECT_EQ(c->GetData().ToDouble(), 0);  // Min
  }
  Sink other;
  t->SetData(scene::MethodRefToVariant(classlib::EventOf<&Sink::Changed>(&other).ToMethod()));
  t->SetValue(3);
  EXPECT_EQ(other.Changes, std::vector<float>{3});
}

TEST_F(Tracks, TheScrollBarWiresItsTracksBothWays) {
  auto* bar = ctrl.Add<TsgScrollBar>(10, 40, 150, 18);
  bar->OnChange = classlib::EventOf<&Sink::Changed>(&sink);
  bar->Realign();
  auto* h = dynamic_cast<TsgTrack*>(bar->FindResource("htrack"));
  auto* v = dynamic_cast<TsgTrack*>(bar->FindResource("vtrack"));
  ASSERT_NE(h, nullptr);
  ASSERT_NE(v, nullptr);
  EXPECT_TRUE(h->Visible());
  EXPECT_FALSE(v->Visible());
  EXPECT_FALSE(h->CanFocused);
  bar->SetViewportSize(10);
  bar->SetValue(40);
  EXPECT_EQ(h->Value(), 40);
  EXPECT_EQ(h->ViewportSize(), 10);
  // The track's change sets the bar's value.
  h->SetValue(55);
  EXPECT_EQ(bar->Value(), 55);
  EXPECT_EQ(sink.Changes.back(), 55);
  bar->SetOrientation(sgVertical);
  EXPECT_FALSE(h->Visible());
  EXPECT_TRUE(v->Visible());
  EXPECT_EQ(v->Orientation(), sgVertical);
  EXPECT_TRUE(dynamic_cast<scene::TsgVisualObject*>(bar->FindResource("bottombutton"))->Visible());
  EXPECT_FALSE(dynamic_cast<scene::TsgVisualObject*>(bar->FindResource("rightbutton"))->Visible());
  EXPECT_EQ(bar->Width(), 150);  // turned only at design time
}

TEST_F(Tracks, AHeldArrowStopsAtMaxMinusTheViewport) {
  auto* bar = ctrl.Add<TsgScrollBar>(10, 40, 18, 150);
  bar->SetOrientation(sgVertical);
  bar->SetMax(10);
  bar->SetViewportSize(3);
  bar->Realign();
  auto* down = dynamic_cast<TsgSpeedButton*>(bar->FindResource("bottombutton"));
  ASSERT_NE(down, nullptr);
  down->MouseDown(TMouseButton::mbLeft, kLeft, 2, 2);
  ctrl.Timers.Advance(600);
  EXPECT_EQ(bar->Value(), 1);
  ctrl.Timers.Advance(300);
  EXPECT_EQ(bar->Value(), 4);
  ctrl.Timers.Advance(2000);
  EXPECT_EQ(bar->Value(), 7);
  down->MouseUp(TMouseButton::mbLeft, kNone, 2, 2);
  EXPECT_EQ(bar->Value(), 7);
  auto* up = dynamic_cast<TsgSpeedButton*>(bar->FindResource("topbutton"));
  ASSERT_NE(up, nullptr);
  up->Click();
  EXPECT_EQ(bar->Value(), 6);
}

TEST_F(Tracks, OrientationTurnsTheFrameOnlyAtDesignTime) {
  auto* t = MakeTrack(100, 15);
  ctrl.Scene->DesignTime = true;
  t->SetOrientation(sgVertical);
  EXPECT_EQ(t->Width(), 15);
  EXPECT_EQ(t->Height(), 100);
  ctrl.Scene->DesignTime = false;
  t->SetOrientation(sgHorizontal);
  EXPECT_EQ(t->Width(), 15);
}

}  // namespace
}  // namespace kelm::scenectrls

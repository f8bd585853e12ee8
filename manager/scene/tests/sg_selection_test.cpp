// The selection rectangle, the grip point and the design frame, driven by
// the mouse calls the host makes (local coordinates, worked out afresh from
// the scene point for every call as the host does).
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "classlib/streams.h"
#include "recording_canvas.h"
#include "scene/sg_classes.h"
#include "scene/sg_selection.h"
#include "scene_fakes.h"
#include "visual_probe.h"

namespace kelm::scene {
namespace {

using classlib::New;
using classlib::TMouseButton;
using classlib::TShiftState;
using test::FakeScene;
using test::TRecordingCanvas;
using Lines = std::vector<std::string>;

constexpr TShiftState kLeft{classlib::ssLeft};

struct Counter : classlib::TObject {
  int track = 0, change = 0;
  void Track(TObject*) { ++track; }
  void Change(TObject*) { ++change; }
  void Reset() { track = change = 0; }
};

class Selection : public ::testing::Test {
 protected:
  void SetUp() override {
    test::RegisterVisualTestClasses();
    scene = New<FakeScene>(nullptr);
    canvas = New<TRecordingCanvas>(400, 300);
    scene->Canvas = canvas;
    root = test::Probe("root", nullptr, 0, 0, 400, 300);
    scene->AddObject(root);
    parent = test::Probe("parent", root, 20, 10, 300, 200);
  }
  void TearDown() override {
    classlib::Free(scene);
    classlib::Free(canvas);
  }
  template <class T>
  T* Add(float x, float y, float w, float h) {
    auto* v = New<T>(nullptr);
    // No size: the class's own (the grip point's).
    if (w > 0 || h > 0)
      v->SetBounds(x, y, w, h);
    else
      v->Position()->SetPoint({x, y});
    parent->AddObject(v);
    v->OnTrack = classlib::EventOf<&Counter::Track>(&counter);
    v->OnChange = classlib::EventOf<&Counter::Change>(&counter);
    return v;
  }
  // A left-button drag in scene coordinates, one move per step.
  static void Drag(TsgVisualObject* v, TsgPoint from, TsgPoint to, int steps = 1) {
    TsgPoint l = v->AbsoluteToLocal(from);
    v->MouseDown(TMouseButton::mbLeft, kLeft, l.X, l.Y);
    for (int i = 1; i <= steps; ++i) {
      const float k = float(i) / float(steps);
      l = v->AbsoluteToLocal({from.X + k * (to.X - from.X), from.Y + k * (to.Y - from.Y)});
      v->MouseMove(kLeft, l.X, l.Y, 0, 0);
    }
    l = v->AbsoluteToLocal(to);
    v->MouseUp(TMouseButton::mbLeft, {}, l.X, l.Y);
  }
  Lines Paint() {
    scene->UpdateRects = {{0, 0, 400, 300}};
    canvas->Calls.clear();
    parent->PaintChildren();
    Lines out;
    for (const std::string& c : canvas->Calls)
      if (c.rfind("SetMatrix", 0) != 0) out.push_back(c);
    return out;
  }
  FakeScene* scene = nullptr;
  TRecordingCanvas* canvas = nullptr;
  test::TProbe* root = nullptr;
  test::TProbe* parent = nullptr;
  Counter counter;
};

// Scene point of a point in the parent.
TsgPoint InParent(float x, float y) { return {20 + x, 10 + y}; }

TEST_F(Selection, DragsMoveOrResizeFromTheGrabbedPlace) {
  struct Case {
    const char* name;
    TsgPoint grab, drop;  // in the parent
    bool proportional, parentBounds;
    int minSize;
    TsgRect expected;  // Left, Top, Width, Height in the parent
  };
  // The selection starts at (50,50), 100 x 50; the parent is 300 x 200.
  const Case cases[] = {
      {"move", {70, 60}, {100, 80}, false, true, 15, {80, 70, 100, 50}},
      {"move past the right edge", {70, 60}, {570, 60}, false, true, 15, {200, 50, 100, 50}},
      {"move past the top-left", {70, 60}, {-500, -500}, false, true, 15, {0, 0, 100, 50}},
      {"move, unbounded", {70, 60}, {570, 60}, false, false, 15, {550, 50, 100, 50}},
      {"proportional bottom-right", {150, 100}, {170, 100}, true, true, 15, {50, 50, 120, 60}},
      {"bottom-right", {150, 100}, {170, 110}, false, true, 15, {50, 50, 120, 60}},
      {"top-left", {50, 50}, {60, 55}, false, true, 15, {60, 55, 90, 45}},
      {"top-right, proportional", {150, 50}, {130, 50}, true, true, 15, {50, 60, 80, 40}},
      // The dragged corner goes to the parent's corner, no further.
      {"bottom-right past the parent", {150, 100}, {900, 900}, false, true, 15, {50, 50, 250, 150}},
      // Below MinSize the size grows back from the dragged corner.
      {"narrower than MinSize", {150, 100}, {55, 100}, false, true, 15, {40, 50, 15, 50}},
      {"bottom-left past the right", {50, 100}, {250, 100}, false, true, 15, {250, 50, 15, 50}},
      // Proportional: the height would fall below 15, so the width is
      // round(15 x 2) and the top-left stays.
      {"proportional, MinSize", {150, 100}, {70, 100}, true, true, 15, {50, 50, 30, 15}},
      {"MinSize 1", {150, 100}, {52, 100}, false, true, 1, {50, 50, 2, 50}},
  };
  for (const Case& k : cases) {
    auto* s = Add<TsgSelection>(50, 50, 100, 50);
    s->Proportional = k.proportional;
    s->ParentBounds = k.parentBounds;
    s->SetMinSize(k.minSize);
    counter.Reset();
    Drag(s, InParent(k.grab.X, k.grab.Y), InParent(k.drop.X, k.drop.Y), 4);
    EXPECT_EQ(sgRectToStr({s->Position()->X(), s->Position()->Y(), s->Width(), s->Height()}),
              sgRectToStr(k.expected))
        << k.name;
    EXPECT_EQ(counter.track, 4) << k.name;
    EXPECT_EQ(counter.change, 1) << k.name;
    EXPECT_FALSE(s->Moving()) << k.name;
    EXPECT_EQ(s->Resizing(), TsgSelection::cnNone) << k.name;
    classlib::Free(s);
  }
}

TEST_F(Selection, TheGrabbedCornerIsTheFirstGripInOrderAndOnlyTheLeftButtonDrags) {
  auto* s = Add<TsgSelection>(50, 50, 4, 4);  // every grip holds the centre
  s->MouseDown(TMouseButton::mbLeft, kLeft, 2, 2);
  EXPECT_EQ(s->Resizing(), TsgSelection::cnTopLeft);
  s->MouseUp(TMouseButton::mbLeft, {}, 2, 2);
  EXPECT_EQ(counter.change, 1);  // a press and release is a (still) drag
  s->SetBounds(50, 50, 100, 50);
  s->MouseDown(TMouseButton::mbLeft, kLeft, 101, 51);
  EXPECT_EQ(s->Resizing(), TsgSelection::cnBottomRight);
  s->MouseUp(TMouseButton::mbLeft, {}, 101, 51);
  counter.Reset();
  s->MouseDown(TMouseButton::mbRight, TShiftState{classlib::ssRight}, 50, 25);
  s->MouseMove(TShiftState{classlib::ssRight}, 70, 25, 20, 0);
  s->MouseUp(TMouseButton::mbRight, {}, 70, 25);
  EXPECT_EQ(s->Position()->X(), 50);
  EXPECT_EQ(counter.track + counter.change, 0);
}

TEST_F(Selection, SettersKeepGripSizeAndMinSizeInRange) {
  auto* s = Add<TsgSelection>(50, 50, 100, 50);
  auto* p = Add<TsgSelectionPoint>(10, 10, 0, 0);
  struct Case {
    float set, stored;
  };
  for (const Case& k : {Case{50, 20}, Case{0.5f, 1}, Case{-3, 1}, Case{7.5f, 7.5f},
                        Case{std::numeric_limits<float>::quiet_NaN(), 1}}) {
    s->SetGripSize(k.set);
    p->SetGripSize(k.set);
    EXPECT_EQ(s->GripSize(), k.stored) << k.set;
    EXPECT_EQ(p->GripSize(), k.stored) << k.set;
  }
  for (const auto& [set, stored] : {std::pair{0, 1}, std::pair{-5, 1}, std::pair{7, 7}}) {
    s->SetMinSize(set);
    EXPECT_EQ(s->MinSize(), stored) << set;
  }
  // Streamed defaults: none written; changed values read back.
  classlib::TStringStream empty;
  auto* fresh = Add<TsgSelection>(0, 0, 10, 10);
  fresh->SetName("fresh");
  SaveObjectToTextStream(fresh, empty);
  for (const char* name : {"GripSize", "MinSize", "ParentBounds", "Proportional", "HideSelection"})
    EXPECT_EQ(empty.DataString().find(name), std::string::npos) << name;
  fresh->SetGripSize(50);
  fresh->SetMinSize(-1);
  fresh->ParentBounds = false;
  classlib::TStringStream text;
  SaveObjectToTextStream(fresh, text);
  classlib::TStringStream in(text.DataString());
  auto* back = dynamic_cast<TsgSelection*>(LoadObjectFromTextStream(nullptr, in));
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->GripSize(), 20);
  EXPECT_EQ(back->MinSize(), 1);
  EXPECT_FALSE(back->ParentBounds);
  EXPECT_TRUE(back->AutoCapture);
  classlib::Free(back);
}

TEST_F(Selection, GripsCountForHitsAndRepaintsAndLightUpUnderTheMouse) {
  auto* s = Add<TsgSelection>(50, 50, 100, 50);
  s->SetGripSize(5);
  // The rectangle, and squares of half-width 5 around the corners.
  EXPECT_TRUE(s->PointInObject(InParent(100, 75)));
  EXPECT_TRUE(s->PointInObject(InParent(45, 45)));
  EXPECT_TRUE(s->PointInObject(InParent(155, 105)));
  EXPECT_FALSE(s->PointInObject(InParent(44, 45)));
  EXPECT_FALSE(s->PointInObject(InParent(100, 44)));
  // Grown by G + 4 for the grips' repaint.
  EXPECT_EQ(sgRectToStr(s->GetAbsoluteRect()), sgRectToStr({61, 51, 179, 119}));

  scene->Log.clear();
  s->MouseMove({}, 101, -2, 0, 0);
  EXPECT_TRUE(s->Hot(TsgSelection::cnTopRight));
  EXPECT_FALSE(s->Hot(TsgSelection::cnTopLeft));
  EXPECT_EQ(scene->CountLog("AddUpdateRect"), 1);
  s->MouseMove({}, 102, -1, 0, 0);  // no change, no repaint
  EXPECT_EQ(scene->CountLog("AddUpdateRect"), 1);
  const Lines calls = Paint();
  EXPECT_EQ(
      calls,
      (Lines{"DrawRect #FF1072C5 (0.500,0.500,99.500,49.500) 0,0",
             "FillEllipse #FFFFFFFF (-5,-5,5,5)", "DrawEllipse #FF1072C5 (-5,-5,5,5)",
             "FillEllipse #FFFF0000 (95,-5,105,5)", "DrawEllipse #FF1072C5 (95,-5,105,5)",
             "FillEllipse #FFFFFFFF (-5,45,5,55)", "DrawEllipse #FF1072C5 (-5,45,5,55)",
             "FillEllipse #FFFFFFFF (95,45,105,55)", "DrawEllipse #FF1072C5 (95,45,105,55)"}));
  EXPECT_EQ(canvas->StrokeDash(), sgDashSolid);
  s->MouseLeave();
  EXPECT_FALSE(s->Hot(TsgSelection::cnTopRight));
  s->SetHideSelection(true);
  EXPECT_TRUE(Paint().empty());
}

TEST_F(Selection, PointKeepsTwiceItsGripSizeAndDragsItsOriginWithinTheParent) {
  auto* p = Add<TsgSelectionPoint>(100, 50, 0, 0);
  EXPECT_TRUE(p->AutoCapture);
  EXPECT_TRUE(p->NoDesignGrips);
  EXPECT_EQ(p->Width(), 6);
  EXPECT_EQ(p->Height(), 6);
  p->SetWidth(40);
  p->SetHeight(1);
  EXPECT_EQ(p->Width(), 6);
  EXPECT_EQ(p->Height(), 6);
  p->SetGripSize(50);
  p->SetWidth(40);
  EXPECT_EQ(p->Width(), 40);
  p->SetWidth(7);
  EXPECT_EQ(p->Width(), 40);
  p->SetGripSize(3);

  // The grip lies around the origin.
  EXPECT_TRUE(p->PointInObject(InParent(97.5f, 52.9f)));
  EXPECT_FALSE(p->PointInObject(InParent(103, 50)));
  EXPECT_FALSE(p->PointInObject(InParent(104, 54)));

  Drag(p, InParent(101, 51), InParent(150, 120), 3);
  EXPECT_EQ(p->Position()->X(), 150);
  EXPECT_EQ(p->Position()->Y(), 120);
  EXPECT_EQ(counter.track, 3);
  EXPECT_EQ(counter.change, 1);
  Drag(p, InParent(150, 120), InParent(-40, 500));
  EXPECT_EQ(p->Position()->X(), 0);
  EXPECT_EQ(p->Position()->Y(), 200);
  p->ParentBounds = false;
  Drag(p, InParent(0, 200), InParent(-40, 500));
  EXPECT_EQ(p->Position()->X(), -40);
  // A release without a press reports nothing.
  counter.Reset();
  p->MouseUp(TMouseButton::mbLeft, {}, 0, 0);
  EXPECT_EQ(counter.change, 0);
}

TEST_F(Selection, PointPaintsRedWhenHoveredOrSelected) {
  auto* p = Add<TsgSelectionPoint>(100, 50, 0, 0);
  EXPECT_EQ(Paint(),
            (Lines{"FillEllipse #FFFFFFFF (-3,-3,3,3)", "DrawEllipse #FF1072C5 (-3,-3,3,3)"}));
  scene->Log.clear();
  p->MouseEnter();
  EXPECT_EQ(scene->CountLog("AddUpdateRect"), 1);
  EXPECT_EQ(Paint().front(), "FillEllipse #FFFF0000 (-3,-3,3,3)");
  p->MouseLeave();
  EXPECT_EQ(scene->CountLog("AddUpdateRect"), 2);
  EXPECT_EQ(Paint().front(), "FillEllipse #FFFFFFFF (-3,-3,3,3)");
  scene->Selected = p;
  EXPECT_EQ(Paint().front(), "FillEllipse #FFFF0000 (-3,-3,3,3)");
  scene->Selected = nullptr;
  // Repaints cover the grip around the origin.
  const TsgRect u = p->GetUpdateRect();
  EXPECT_LE(u.Left, 20 + 100 - 3);
  EXPECT_LE(u.Top, 10 + 50 - 3);
}

TEST_F(Selection, DesignFrameDrawsAndReportsNothing) {
  auto* f = Add<TsgDesignFrame>(10, 10, 50, 50);
  EXPECT_TRUE(Paint().empty());
  Drag(f, InParent(20, 20), InParent(40, 40));
  EXPECT_EQ(counter.track + counter.change, 0);
  EXPECT_EQ(f->Position()->X(), 10);
}

}  // namespace
}  // namespace kelm::scene

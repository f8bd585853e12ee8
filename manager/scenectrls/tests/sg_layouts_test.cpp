// Layouts and the scroll box on a fake scene: the bars' range from the
// content, the wheel, hidden bars, where added objects go, the viewport's
// clip, update rectangle and hit test, animated scrolling and tracking on a
// manual animation clock, the grid and scaled layouts, and the styles that
// give no scrolling.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classlib/classdef.h"
#include "scene/sg_animation.h"
#include "scene/sg_effects.h"
#include "scene/sg_objects.h"
#include "scenectrls/sg_layouts.h"
#include "ctrl_scene.h"

namespace kelm::scenectrls {
namespace {

using classlib::New;
using scene::TsgRect;
using scene::TsgVisualObject;
using test::CtrlScene;
using test::FixtureBook;

// A box style: bars 20 thick (vertical on the right, horizontal at the
// bottom) around a client viewport; the content part is given as text.
std::string BoxStyle(const std::string& name, const std::string& content,
                     const std::string& barClass = "TsgScrollBar") {
  return "  object TsgVisualObject\n    ResourceName = '" + name +
         "'\n    HitTest = False\n"
         "    object " +
         barClass +
         "\n      ResourceName = 'vscrollbar'\n      Align = vaRight\n      Width = 20\n"
         "      Orientation = sgVertical\n    end\n"
         "    object " +
         barClass +
         "\n      ResourceName = 'hscrollbar'\n      Align = vaBottom\n      Height = 20\n"
         "    end\n" +
         content + "  end\n";
}
const std::string kClientContent =
    "    object TsgVisualObject\n      ResourceName = 'content'\n      Align = vaClient\n"
    "      HitTest = False\n    end\n";

uint32_t g_ticks = 0;
uint32_t Ticks() { return g_ticks; }

// Records the content hooks.
class THookBox : public TsgScrollBox {
  CL_DECLARE_CLASS(THookBox, TsgScrollBox)
 public:
  explicit THookBox(classlib::TComponent* AOwner) : TsgScrollBox(AOwner) {
    SetResource("scrollboxstyle");
  }
  void ContentAddObject(scene::TsgObject* child) override { Log.push_back("add " + child->Name()); }
  void ContentBeforeRemoveObject(scene::TsgObject* child) override {
    Log.push_back("before " + child->Name());
  }
  void ContentRemoveObject(scene::TsgObject* child) override {
    Log.push_back("removed " + child->Name());
  }
  std::vector<std::string> Log;
};
CL_CLASS(THookBox) {}

class ScrollBoxes : public ::testing::Test {
 protected:
  void SetUp() override {
    ctrl.SetBook(FixtureBook(BoxStyle("scrollboxstyle", kClientContent) +
                             BoxStyle("nocontentstyle", "") +
                             BoxStyle("wrongbarsstyle", kClientContent, "TsgRectangle")));
  }
  // A 120 x 100 box: with the vertical bar alone the viewport is 100 x 100.
  TsgScrollBox* Box(bool animated = false) {
    auto* box = ctrl.Add<TsgScrollBox>(10, 10, 120, 100);
    box->Animated = animated;
    return box;
  }
  // Adding a child does not lay the box out; its owner does once done.
  scene::TsgRectangle* Child(TsgScrollBox* box, float w, float h) {
    auto* r = New<scene::TsgRectangle>(nullptr);
    r->SetBounds(0, 0, w, h);
    box->AddObject(r);
    box->Realign();
    return r;
  }
  CtrlScene ctrl;
};

TEST_F(ScrollBoxes, TheBarsTakeTheirRangeFromTheContent) {
  auto* box = Box();
  Child(box, 100, 300);
  TsgScrollBar* v = box->VScrollBar();
  TsgScrollBar* h = box->HScrollBar();
  ASSERT_NE(v, nullptr);
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(box->ViewportWidth(), 100);
  EXPECT_EQ(box->ViewportHeight(), 100);
  EXPECT_EQ(v->Max(), 300);
  EXPECT_EQ(v->ViewportSize(), 100);
  EXPECT_EQ(v->SmallChange, 20);
  EXPECT_TRUE(v->Enabled());
  EXPECT_TRUE(v->Visible());
  // 100 wide in a 100-wide viewport: the horizontal bar has nothing to do.
  EXPECT_FALSE(h->Enabled());
  EXPECT_FALSE(h->Visible());
  // Each bar keeps the alignment its style gave it.
  EXPECT_EQ(v->Tag(), scene::vaRight);
  EXPECT_EQ(h->Tag(), scene::vaBottom);
  // The content follows the bar.
  v->SetValue(150);
  EXPECT_EQ(box->Content()->Position()->Y(), -150);
  EXPECT_EQ(box->VScrollOffset(), 150);
  EXPECT_EQ(box->VScrollBarValue(), 150);
  EXPECT_EQ(box->HScrollBarValue(), 0);
  box->CenterContent();
  EXPECT_EQ(v->Value(), 100);
  // A child growing realigns the box around the content.
  auto* tall = dynamic_cast<TsgVisualObject*>(box->Content()->GetChild(0));
  ASSERT_NE(tall, nullptr);
  tall->SetHeight(500);
  EXPECT_EQ(v->Max(), 500);
}

TEST_F(ScrollBoxes, AnExactFitDisablesTheBarAndAutoHideHidesIt) {
  struct Case {
    bool autoHide;
    bool visible;
  };
  for (const Case& c : {Case{true, false}, Case{false, true}}) {
    SCOPED_TRACE(c.autoHide);
    // Before the style is applied: AutoHide hides, it never shows again.
    auto* box = New<TsgScrollBox>(nullptr);
    box->AutoHide = c.autoHide;
    box->SetBounds(0, 0, 120, 100);
    ctrl.Root->AddObject(box);
    box->ApplyResource();
    // A 100 x 80 child fits the viewport as it is with both bars showing.
    Child(box, 100, 80);
    ASSERT_NE(box->VScrollBar(), nullptr);
    EXPECT_FALSE(box->VScrollBar()->Enabled());
    EXPECT_EQ(box->VScrollBar()->Visible(), c.visible);
    EXPECT_FALSE(box->HScrollBar()->Enabled());
    classlib::Free(box);
  }
}

TEST_F(ScrollBoxes, TheWheelMovesThreeSmallChangesANotch) {
  auto* box = Box();
  Child(box, 100, 300);
  TsgScrollBar* v = box->VScrollBar();
  v->SetValue(100);
  struct Step {
    int delta;
    float value;
  };
  for (const Step& s : {Step{120, 40}, Step{-240, 160}, Step{-240, 200}, Step{480, 0}}) {
    bool handled = false;
    box->MouseWheel({}, s.delta, handled);
    EXPECT_TRUE(handled) << s.delta;
    EXPECT_EQ(v->Value(), s.value) << s.delta;
    EXPECT_EQ(box->Content()->Position()->Y(), -s.value) << s.delta;
  }
  // Already handled, or switched off: the box leaves it.
  bool handled = true;
  box->MouseWheel({}, -120, handled);
  EXPECT_EQ(v->Value(), 0);
  box->DisableMouseWheel = true;
  handled = false;
  box->MouseWheel({}, -120, handled);
  EXPECT_FALSE(handled);
  EXPECT_EQ(v->Value(), 0);
}

TEST_F(ScrollBoxes, WithBothBarsTheWheelMovesOnlyTheVerticalOne) {
  auto* box = Box();
  Child(box, 300, 300);
  TsgScrollBar* v = box->VScrollBar();
  TsgScrollBar* h = box->HScrollBar();
  ASSERT_TRUE(v->Visible());
  ASSERT_TRUE(h->Visible());
  // The horizontal bar stops short of the vertical one in the corner.
  EXPECT_EQ(h->Padding()->Right(), 20);
  EXPECT_EQ(box->ViewportWidth(), 100);
  EXPECT_EQ(box->ViewportHeight(), 80);
  EXPECT_EQ(h->Max(), 300);
  EXPECT_EQ(h->SmallChange, 20);
  bool handled = false;
  box->MouseWheel({}, -120, handled);
  EXPECT_EQ(v->Value(), 48);  // SmallChange 16 of an 80-high viewport
  EXPECT_EQ(h->Value(), 0);
  // Without the vertical bar, the horizontal one takes the wheel.
  auto* wide = ctrl.Add<TsgScrollBox>(0, 0, 120, 100);
  wide->Animated = false;
  Child(wide, 300, 50);
  ASSERT_FALSE(wide->VScrollBar()->Visible());
  handled = false;
  wide->MouseWheel({}, -120, handled);
  EXPECT_TRUE(handled);
  EXPECT_EQ(wide->HScrollBar()->Value(), 72);  // SmallChange 24 of a 120-wide viewport
  EXPECT_EQ(wide->Content()->Position()->X(), -72);
}

TEST_F(ScrollBoxes, HiddenBarsStillFollowTheContent) {
  auto* box = Box();
  Child(box, 100, 300);
  TsgScrollBar* v = box->VScrollBar();
  v->SetValue(60);
  box->SetShowScrollBars(false);
  EXPECT_EQ(v->Opacity(), 0);
  EXPECT_EQ(v->Align(), scene::vaNone);
  EXPECT_EQ(v->Position()->X(), 120 + 100);
  EXPECT_EQ(v->Max(), 300);
  EXPECT_EQ(v->Value(), 60);
  // The viewport takes the whole box now.
  EXPECT_EQ(v->ViewportSize(), 100);
  EXPECT_EQ(box->ViewportWidth(), 120);
  bool handled = false;
  box->MouseWheel({}, -120, handled);
  EXPECT_EQ(v->Value(), 120);
  // Shown again, the bar returns to the place its style gave it.
  box->SetShowScrollBars(true);
  EXPECT_EQ(v->Opacity(), 1);
  EXPECT_EQ(v->Align(), scene::vaRight);
  EXPECT_EQ(v->Position()->X(), 100);
  EXPECT_EQ(v->Value(), 120);
}

TEST_F(ScrollBoxes, AddedObjectsGoIntoTheContentButTheBoxsOwn) {
  ctrl.SetBook(FixtureBook(BoxStyle("scrollboxstyle", kClientContent)));
  auto* box = ctrl.Add<THookBox>(0, 0, 120, 100);
  struct Case {
    std::string name;
    scene::TsgObject* obj;
    bool inContent;
  };
  auto* self = New<scene::TsgRectangle>(nullptr);
  self->SetTagText(u"self");
  const std::vector<Case> cases = {
      {"rect", New<scene::TsgRectangle>(nullptr), true},
      {"text", New<scene::TsgText>(nullptr), true},
      {"shadow", New<scene::TsgShadowEffect>(nullptr), false},
      {"anim", New<scene::TsgFloatAnimation>(nullptr), false},
      {"self", self, false},
  };
  for (const Case& c : cases) {
    c.obj->SetName(c.name);
    box->AddObject(c.obj);
    EXPECT_EQ(c.obj->Parent(), c.inContent ? static_cast<scene::TsgObject*>(box->Content())
                                           : static_cast<scene::TsgObject*>(box))
        << c.name;
  }
  // The content and the style stay on the box.
  EXPECT_EQ(box->Content()->Parent(), box);
  EXPECT_EQ(box->StyleObject()->Parent(), box);
  EXPECT_FALSE(box->Content()->Stored());
  EXPECT_TRUE(box->Content()->Locked());
  EXPECT_FALSE(box->Content()->HitTest());
  classlib::Free(cases[0].obj);
  EXPECT_EQ(box->Log,
            (std::vector<std::string>{"add rect", "add text", "before rect", "removed rect"}));
  for (size_t i = 1; i < cases.size(); ++i) classlib::Free(cases[i].obj);
}

TEST_F(ScrollBoxes, TheViewportClipsBoundsUpdatesAndHits) {
  auto* box = Box();
  auto* top = Child(box, 100, 50);
  auto* low = Child(box, 100, 50);
  low->Position()->SetY(250);
  box->Realign();
  TsgScrollBar* v = box->VScrollBar();
  ASSERT_EQ(v->Max(), 300);
  v->SetValue(200);
  TsgScrollContent* content = box->Content();
  const TsgRect clip = content->GetClipRect();
  EXPECT_EQ(clip.Top, 200);
  EXPECT_EQ(clip.Bottom, 300);
  // The box sits at (10, 10): the viewport is (10, 10, 110, 110).
  const TsgRect update = content->GetUpdateRect();
  EXPECT_EQ(update.Left, 10);
  EXPECT_EQ(update.Top, 10);
  EXPECT_EQ(update.Right, 110);
  EXPECT_EQ(update.Bottom, 110);
  top->SetHitTest(true);
  low->SetHitTest(true);
  // The lower child shows at 10 + 250 - 200 = 60 .. 110.
  EXPECT_EQ(ctrl.Root->ObjectAtPoint({50, 80}), low);
  // The upper one lies at -190 .. -140, out of view: nothing of it is hit,
  // and not through the box's own area either.
  v->SetValue(0);
  EXPECT_EQ(ctrl.Root->ObjectAtPoint({50, 30}), top);
  v->SetValue(30);
  EXPECT_EQ(ctrl.Root->ObjectAtPoint({50, 15}), top);
  // Hit tests outside the viewport miss the content.
  EXPECT_NE(ctrl.Root->ObjectAtPoint({115, 30}), top);
}

TEST_F(ScrollBoxes, StylesThatGiveNoScrolling) {
  struct Case {
    std::string style;
    bool bars;
  };
  for (const Case& c : {Case{"nocontentstyle", true}, Case{"wrongbarsstyle", false}}) {
    SCOPED_TRACE(c.style);
    auto* box = ctrl.Add<TsgScrollBox>(0, 0, 120, 100);
    box->Animated = false;
    box->SetResource(c.style);
    Child(box, 300, 300);
    EXPECT_EQ(box->VScrollBar() != nullptr, c.bars);
    if (box->VScrollBar()) {
      // Left as the style made them.
      EXPECT_EQ(box->VScrollBar()->Max(), 100);
      EXPECT_TRUE(box->VScrollBar()->Visible());
    }
    bool handled = false;
    box->MouseWheel({}, -120, handled);
    if (box->VScrollBar()) {
      EXPECT_EQ(box->VScrollBar()->Value(), 0);
    }
    EXPECT_EQ(box->Content()->Position()->Y(), 0);
    classlib::Free(box);
  }
  // Content of no area (a viewport of none, no visible child): the bars
  // stay as they were.
  auto* flat = ctrl.Add<TsgScrollBox>(0, 0, 120, 100);
  TsgVisualObject* big = Child(flat, 300, 300);
  flat->ContentLayout()->SetAlign(scene::vaNone);
  flat->ContentLayout()->SetBounds(0, 0, 0, 0);
  big->SetVisible(false);
  flat->Realign();
  EXPECT_EQ(flat->VScrollBar()->Max(), 300);
  EXPECT_TRUE(flat->VScrollBar()->Visible());
  EXPECT_TRUE(flat->HScrollBar()->Enabled());
  // Without any style: nothing scrolls, nothing fails.
  ctrl.SetBook(FixtureBook(""));
  auto* bare = ctrl.Add<TsgScrollBox>(0, 0, 120, 100);
  Child(bare, 300, 300);
  bool handled = false;
  bare->MouseWheel({}, -120, handled);
  EXPECT_FALSE(handled);
  bare->MouseDown(scene::TMouseButton::mbLeft, {}, 10, 10);
  bare->MouseUp(scene::TMouseButton::mbLeft, {}, 10, 10);
  TsgRect r;
  bare->ContentRect(r);
  EXPECT_EQ(r.Right, 120);
  EXPECT_EQ(bare->ViewportHeight(), 100);
}

TEST_F(ScrollBoxes, SmallBarsWhenTheStyleHasThem) {
  ctrl.SetBook(FixtureBook(
      "  object TsgVisualObject\n    ResourceName = 'scrollboxstyle'\n    HitTest = False\n"
      "    object TsgScrollBar\n      ResourceName = 'vscrollbar'\n      Align = vaRight\n"
      "      Width = 20\n    end\n"
      "    object TsgScrollBar\n      ResourceName = 'hscrollbar'\n      Align = vaBottom\n"
      "      Height = 20\n    end\n"
      "    object TsgSmallScrollBar\n      ResourceName = 'vsmallscrollbar'\n"
      "      Align = vaRight\n      Width = 8\n    end\n"
      "    object TsgSmallScrollBar\n      ResourceName = 'hsmallscrollbar'\n"
      "      Align = vaBottom\n      Height = 8\n    end\n" +
      kClientContent + "  end\n" + BoxStyle("plainstyle", kClientContent)));
  auto* box = ctrl.Add<TsgScrollBox>(0, 0, 120, 100);
  box->AutoHide = false;
  box->SetUseSmallScrollBars(true);
  ASSERT_NE(box->VScrollBar(), nullptr);
  EXPECT_EQ(box->VScrollBar()->ResourceName(), "vsmallscrollbar");
  EXPECT_FALSE(static_cast<TsgVisualObject*>(box->FindResource("vscrollbar"))->Visible());
  box->SetUseSmallScrollBars(false);
  EXPECT_EQ(box->VScrollBar()->ResourceName(), "vscrollbar");
  EXPECT_FALSE(static_cast<TsgVisualObject*>(box->FindResource("vsmallscrollbar"))->Visible());
  // A style without the slim pair keeps its full bars, and shows them.
  box->SetResource("plainstyle");
  box->SetUseSmallScrollBars(true);
  ASSERT_NE(box->VScrollBar(), nullptr);
  EXPECT_EQ(box->VScrollBar()->ResourceName(), "vscrollbar");
  EXPECT_TRUE(box->VScrollBar()->Visible());
}

// ---- animated scrolling and tracking on a manual clock
class AnimatedScrolling : public ScrollBoxes {
 protected:
  void SetUp() override {
    ScrollBoxes::SetUp();
    g_ticks = 1000;
    scene::SetAnimationTickSource(&Ticks);
    scene::FreeAniThread();
  }
  void TearDown() override {
    scene::FreeAniThread();
    scene::SetAnimationTickSource(nullptr);
  }
  void Advance(uint32_t ms) {
    g_ticks += ms;
    if (scene::AniThread()) scene::AniThread()->Tick();
  }
};

TEST_F(AnimatedScrolling, NotchesAnimateToTheirTargetAndAddUp) {
  auto* box = Box(true);
  Child(box, 100, 600);
  TsgScrollBar* v = box->VScrollBar();
  bool handled = false;
  box->MouseWheel({}, -120, handled);
  scene::TsgFloatAnimation* a = box->VScrollAnimation();
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->Parent(), v);
  EXPECT_EQ(a->Owner(), box);
  EXPECT_FLOAT_EQ(a->Duration(), 0.7f);
  EXPECT_TRUE(a->Running());
  EXPECT_EQ(a->StopValue(), 60);
  EXPECT_EQ(v->Value(), 0);
  Advance(350);
  // Quadratic, slowing at the end: past half way at half the time.
  const float mid = v->Value();
  EXPECT_GT(mid, 30);
  EXPECT_LT(mid, 60);
  // A second notch counts from where the bar stands.
  handled = false;
  box->MouseWheel({}, -120, handled);
  EXPECT_EQ(a->StopValue(), mid + 60);
  EXPECT_TRUE(a->Running());
  Advance(700);
  EXPECT_FALSE(a->Running());
  EXPECT_EQ(v->Value(), mid + 60);
  EXPECT_EQ(box->Content()->Position()->Y(), -(mid + 60));
}

TEST_F(AnimatedScrolling, ADragMovesTheContentAndAFlickGoesOnSevenFold) {
  auto* box = Box(true);
  box->MouseTracking = true;
  Child(box, 100, 600);
  TsgScrollBar* v = box->VScrollBar();
  v->SetValue(200);
  box->MouseDown(scene::TMouseButton::mbLeft, {}, 50, 80);
  EXPECT_TRUE(box->Tracking());
  EXPECT_EQ(ctrl.Scene->Captured, box);
  box->MouseMove({}, 50, 50, 0, -30);
  EXPECT_EQ(v->Value(), 230);
  box->MouseMove({}, 50, 40, 0, -10);
  EXPECT_EQ(v->Value(), 240);
  box->MouseUp(scene::TMouseButton::mbLeft, {}, 50, 40);
  EXPECT_FALSE(box->Tracking());
  // The last step was -10: the flick aims 70 further.
  ASSERT_NE(box->VScrollAnimation(), nullptr);
  EXPECT_EQ(box->VScrollAnimation()->StopValue(), 310);
  Advance(200);
  const float moving = v->Value();
  EXPECT_GT(moving, 240);
  // A new press stops the flick where it stands.
  box->MouseDown(scene::TMouseButton::mbLeft, {}, 50, 40);
  EXPECT_FALSE(box->VScrollAnimation()->Running());
  Advance(500);
  EXPECT_EQ(v->Value(), moving);
  // A release without a move starts nothing.
  box->MouseUp(scene::TMouseButton::mbLeft, {}, 50, 40);
  EXPECT_FALSE(box->VScrollAnimation()->Running());
  // Without MouseTracking a drag does nothing.
  box->MouseTracking = false;
  box->MouseDown(scene::TMouseButton::mbLeft, {}, 50, 80);
  box->MouseMove({}, 50, 20, 0, -60);
  EXPECT_EQ(v->Value(), moving);
}

// ---- layouts
TEST(GridLayout, ItemsFillRowsThatWrapAtTheWidth) {
  CtrlScene ctrl;
  auto* grid = New<TsgGridLayout>(nullptr);
  grid->SetBounds(0, 0, 200, 300);
  ctrl.Root->AddObject(grid);
  std::vector<TsgVisualObject*> items;
  for (int i = 0; i < 5; ++i) {
    items.push_back(New<scene::TsgRectangle>(nullptr));
    grid->AddObject(items.back());
  }
  items[4]->SetVisible(false);
  grid->Realign();
  struct Want {
    float x, y;
  };
  // 64 + 64 + 64 = 192 fits in 200; a fourth would end at 256. Hidden
  // children take their cells too.
  const Want horizontal[] = {{0, 0}, {64, 0}, {128, 0}, {0, 64}, {64, 64}};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(items[i]->Position()->X(), horizontal[i].x) << i;
    EXPECT_EQ(items[i]->Position()->Y(), horizontal[i].y) << i;
    EXPECT_EQ(items[i]->Width(), 64);
  }
  // Margins shrink the row, paddings the cell.
  grid->Margins()->SetRect({10, 5, 0, 0});
  items[1]->Padding()->SetRect({2, 3, 4, 5});
  grid->SetItemWidth(60);
  EXPECT_EQ(items[0]->Position()->X(), 10);
  EXPECT_EQ(items[0]->Position()->Y(), 5);
  EXPECT_EQ(items[1]->Position()->X(), 72);
  EXPECT_EQ(items[1]->Position()->Y(), 8);
  EXPECT_EQ(items[1]->Width(), 54);
  EXPECT_EQ(items[1]->Height(), 56);
  // The cursor counts from the left margin, the room from the width less
  // both margins: 130 + 60 = 190 still fits, 190 + 60 does not.
  EXPECT_EQ(items[2]->Position()->X(), 130);
  EXPECT_EQ(items[2]->Position()->Y(), 5);
  EXPECT_EQ(items[3]->Position()->X(), 10);
  EXPECT_EQ(items[3]->Position()->Y(), 69);
  // Columns wrap at the height.
  grid->Margins()->SetRect({0, 0, 0, 0});
  grid->SetItemWidth(64);
  grid->SetHeight(150);
  grid->SetOrientation(sgVertical);
  const Want vertical[] = {{0, 0}, {0, 64}, {64, 0}, {64, 64}, {128, 0}};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(items[i]->Position()->X(), vertical[i].x + (i == 1 ? 2 : 0)) << i;
    EXPECT_EQ(items[i]->Position()->Y(), vertical[i].y + (i == 1 ? 3 : 0)) << i;
  }
}

TEST(ScaledLayout, ChildrenAreDrawnScaledFromTheOriginalSize) {
  CtrlScene ctrl;
  auto* layout = New<TsgScaledLayout>(nullptr);
  ctrl.Root->AddObject(layout);
  EXPECT_EQ(layout->OriginalWidth(), 50);
  layout->SetBounds(0, 0, 100, 50);
  auto* child = New<scene::TsgRectangle>(nullptr);
  child->SetBounds(10, 10, 20, 20);
  layout->AddObject(child);
  scene::TsgMatrix m = layout->GetChildrenMatrix();
  EXPECT_EQ(m.m11, 2);
  EXPECT_EQ(m.m22, 1);
  layout->SetOriginalWidth(0);
  EXPECT_EQ(layout->OriginalWidth(), 1);
  layout->SetOriginalHeight(-5);
  EXPECT_EQ(layout->OriginalHeight(), 1);
  m = layout->GetChildrenMatrix();
  EXPECT_EQ(m.m11, 100);
  EXPECT_EQ(m.m22, 50);
  // In the designer the layout resizes instead of scaling.
  ctrl.Scene->DesignTime = true;
  layout->SetWidth(80);
  EXPECT_EQ(layout->OriginalWidth(), 80);
  m = layout->GetChildrenMatrix();
  EXPECT_EQ(m.m11, 1);
  EXPECT_EQ(m.m22, 1);
}

TEST(Layouts, ALayoutDrawsAFrameOnlyInTheDesigner) {
  CtrlScene ctrl;
  auto* layout = New<TsgLayout>(nullptr);
  layout->SetBounds(10, 10, 40, 30);
  ctrl.Root->AddObject(layout);
  EXPECT_FALSE(layout->HitTest());
  EXPECT_FALSE(New<TsgSplitLayout>(ctrl.Root)->HitTest());
  ctrl.Canvas->Calls.clear();
  layout->Paint();
  EXPECT_TRUE(ctrl.Canvas->Calls.empty());
  ctrl.Scene->DesignTime = true;
  layout->Paint();
  ASSERT_EQ(ctrl.Canvas->Calls.size(), 1u);
  EXPECT_NE(ctrl.Canvas->Calls[0].find("DrawRect"), std::string::npos) << ctrl.Canvas->Calls[0];
  EXPECT_EQ(ctrl.Canvas->StrokeDash(), scene::sgDashSolid);
  // A locked layout (a style part) draws nothing.
  layout->SetLocked(true);
  ctrl.Canvas->Calls.clear();
  layout->Paint();
  EXPECT_TRUE(ctrl.Canvas->Calls.empty());
}

}  // namespace
}  // namespace kelm::scenectrls

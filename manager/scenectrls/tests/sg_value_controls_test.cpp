// The progress bar's indicator and the angle button on a fake scene.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classlib/classdef.h"
#include "scene/sg_classes.h"
#include "scene/sg_objects.h"
#include "scenectrls/sg_value_controls.h"
#include "ctrl_scene.h"

namespace kelm::scenectrls {
namespace {

using classlib::New;
using scene::TMouseButton;
using scene::TsgVisualObject;
using test::CtrlScene;
using test::FixtureBook;

using test::kLeft;
using test::kNone;

// Tracks whose margins (2 a side) inset their indicators; the horizontal
// indicator has 4 of padding and an animation that shows it when the
// source reports a horizontal orientation.
const char* const kStyles =
    "  object TsgVisualObject\n    ResourceName = 'progressbarstyle'\n    HitTest = False\n"
    "    object TsgRectangle\n      ResourceName = 'htrack'\n      Align = vaClient\n"
    "      Margins.Rect = '(2,2,2,2)'\n      HitTest = False\n"
    "      object TsgRectangle\n        ResourceName = 'hindicator'\n        HitTest = False\n"
    "        Padding.Rect = '(1,0,3,0)'\n        Opacity = 0\n        object TsgFloatAnimation\n   "
    "       Duration = 0\n"
    "          Trigger = 'IsVisible;Orientation=sgHorizontal'\n          StopValue = 1\n"
    "          PropertyName = 'Opacity'\n        end\n      end\n    end\n"
    "    object TsgRectangle\n      ResourceName = 'vtrack'\n      Align = vaClient\n"
    "      Margins.Rect = '(2,2,2,2)'\n      HitTest = False\n"
    "      object TsgRectangle\n        ResourceName = 'vindicator'\n        HitTest = False\n"
    "      end\n    end\n  end\n"
    "  object TsgVisualObject\n    ResourceName = 'anglebuttonstyle'\n    HitTest = False\n"
    "    object TsgRectangle\n      ResourceName = 'tick'\n      HitTest = False\n    end\n"
    "    object TsgText\n      ResourceName = 'tracktext'\n      HitTest = False\n    end\n"
    "    object TsgText\n      ResourceName = 'text'\n      HitTest = False\n    end\n  end\n";

class DialSink : public classlib::TObject {
 public:
  void Changed(classlib::TObject* sender) {
    Values.push_back(static_cast<TsgAngleButton*>(sender)->Value());
  }
  std::vector<float> Values;
};

class ValueControls : public ::testing::Test {
 protected:
  void SetUp() override { ctrl.SetBook(FixtureBook(kStyles)); }
  TsgVisualObject* Part(scene::TsgControl* c, const char* name) {
    return dynamic_cast<TsgVisualObject*>(c->FindResource(name));
  }
  CtrlScene ctrl;
  DialSink sink;
};

TEST_F(ValueControls, TheIndicatorFollowsTheValueAndHidesAtTheMinimum) {
  auto* bar = ctrl.Add<TsgProgressBar>(10, 10, 100, 20);
  TsgVisualObject* h = Part(bar, "hindicator");
  TsgVisualObject* vtrack = Part(bar, "vtrack");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->Opacity(), 1);  // its animation heard "IsVisible" from the bar
  EXPECT_FALSE(vtrack->Visible());
  // 100 less the track's margins and the indicator's padding: 92 for the
  // whole range.
  const struct {
    float value, width;
    bool visible;
  } cases[] = {{50, 46, true}, {0, 0, false}, {2, 1.84f, false}, {3, 2.76f, true}, {100, 92, true}};
  for (const auto& c : cases) {
    bar->SetValue(c.value);
    EXPECT_FLOAT_EQ(h->Width(), c.width) << c.value;
    EXPECT_EQ(h->Visible(), c.visible) << c.value;
  }
  // Min and Max are stored only; the next value change lays out.
  bar->SetMax(200);
  EXPECT_FLOAT_EQ(h->Width(), 92);
  bar->SetValue(50);
  EXPECT_FLOAT_EQ(h->Width(), 23);
}

TEST_F(ValueControls, AVerticalBarUsesItsVerticalParts) {
  auto* bar = ctrl.Add<TsgProgressBar>(10, 10, 20, 100);
  bar->SetOrientation(sgVertical);
  bar->SetValue(25);
  TsgVisualObject* v = Part(bar, "vindicator");
  ASSERT_NE(v, nullptr);
  EXPECT_FLOAT_EQ(v->Height(), 24);
  EXPECT_TRUE(v->Visible());
  EXPECT_FALSE(Part(bar, "htrack")->Visible());
  EXPECT_TRUE(Part(bar, "vtrack")->Visible());  // hidden while horizontal, shown again
  EXPECT_FALSE(Part(bar, "hindicator")->Visible());
  bar->SetData(classlib::TVariant(u"none"));
  EXPECT_EQ(bar->Value(), 0);
  EXPECT_FALSE(v->Visible());
}

TEST_F(ValueControls, TheAngleShowsWholeDegreesAndTheDegreeSign) {
  auto* dial = ctrl.Add<TsgAngleButton>(10, 10, 30, 30);
  const struct {
    float value;
    const char16_t* text;
  } cases[] = {{45, u"45\u00B0"}, {44.5f, u"44\u00B0"}, {-90.6f, u"-91\u00B0"}};
  for (const auto& c : cases) {
    dial->SetValue(c.value);
    EXPECT_EQ(dial->ValueText(), c.text);
    EXPECT_EQ(dynamic_cast<scene::TsgText*>(dial->FindResource("tracktext"))->Text(), c.text);
    EXPECT_EQ(Part(dial, "tick")->RotateAngle(), -c.value);
  }
  auto* text = dynamic_cast<scene::TsgText*>(dial->FindResource("text"));
  EXPECT_FALSE(text->Visible());
  dial->SetShowValue(true);
  EXPECT_TRUE(text->Visible());
  EXPECT_EQ(text->Opacity(), 1);
  dial->SetData(classlib::TVariant(u"x"));
  EXPECT_EQ(dial->Value(), 0);
}

TEST_F(ValueControls, DraggingTheDialReportsAsTrackingSays) {
  for (bool tracking : {true, false}) {
    SCOPED_TRACE(tracking);
    auto* dial = ctrl.Add<TsgAngleButton>(10, 10, 30, 30);
    dial->Tracking = tracking;
    dial->OnChange = classlib::EventOf<&DialSink::Changed>(&sink);
    sink.Values.clear();
    dial->MouseDown(TMouseButton::mbLeft, kLeft, 30, 15);
    dial->MouseMove(kLeft, 30, 0, 0, 0);  // up and right of the centre
    dial->MouseMove(kLeft, 15, 0, 0, 0);  // straight up
    EXPECT_NEAR(dial->Value(), 90, 1e-3);
    EXPECT_EQ(sink.Values.size(), tracking ? 2u : 0u);
    dial->MouseUp(TMouseButton::mbLeft, kNone, 15, 0);
    EXPECT_EQ(sink.Values.size(), tracking ? 3u : 1u);
    classlib::Free(dial);
  }
}

}  // namespace
}  // namespace kelm::scenectrls

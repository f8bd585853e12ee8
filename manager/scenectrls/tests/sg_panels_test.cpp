// Panels, window frames and the HUD window on a fake scene: callout values,
// the flags that reload the style, the size grip's marker, and the HUD
// window's caption.
#include <gtest/gtest.h>

#include <string>

#include "classlib/classdef.h"
#include "scene/sg_objects.h"
#include "scenectrls/sg_panels.h"
#include "ctrl_scene.h"

namespace kelm::scenectrls {
namespace {

using classlib::New;
using scene::TsgVisualObject;
using test::CtrlScene;
using test::FixtureBook;

std::string Style(const std::string& name, const std::string& parts) {
  return "  object TsgVisualObject\n    ResourceName = '" + name + "'\n    HitTest = False\n" +
         parts + "  end\n";
}
std::string Part(const std::string& cls, const std::string& name, const std::string& more = "") {
  return "    object " + cls + "\n      ResourceName = '" + name + "'\n      HitTest = False\n" +
         more + "    end\n";
}

class WindowSink : public classlib::TObject {
 public:
  void Closed(classlib::TObject*) { ++Closes; }
  int Closes = 0;
};

class Panels : public ::testing::Test {
 protected:
  void SetUp() override {
    ctrl.SetBook(FixtureBook(
        Style("calloutpanelstyle", Part("TsgCalloutRectangle", "Backgound")) +
        "  object TsgCalloutRectangle\n    ResourceName = 'rootcallout'\n    HitTest = False\n"
        "  end\n" +
        Style("statusbarstyle", Part("TsgSizeGrip", "sizegrip")) +
        Style("windowstyle", Part("TsgCloseButton", "close") + Part("TsgSizeGrip", "sizegrip")) +
        Style("hudwindowstyle", Part("TsgRectangle", "back") + Part("TsgRectangle", "stroke") +
                                    Part("TsgVisualObject", "caption") + Part("TsgText", "text") +
                                    Part("TsgCloseButton", "close"))));
  }
  TsgVisualObject* VisualPart(scene::TsgControl* c, const char* name) {
    return dynamic_cast<TsgVisualObject*>(c->FindResource(name));
  }
  CtrlScene ctrl;
};

TEST_F(Panels, CalloutValuesReachTheBackgoundPartOrACalloutRoot) {
  auto* panel = ctrl.Add<TsgCalloutPanel>(0, 0, 120, 100);
  auto* part = dynamic_cast<scene::TsgCalloutRectangle*>(panel->FindResource("Backgound"));
  ASSERT_NE(part, nullptr);
  EXPECT_EQ(part->CalloutLength(), 11);
  EXPECT_EQ(part->CalloutWidth(), 23);
  panel->SetCalloutLength(5);
  panel->SetCalloutWidth(9);
  panel->SetCalloutPosition(scene::sgCalloutRight);
  panel->SetCalloutOffset(14);
  EXPECT_EQ(part->CalloutLength(), 5);
  EXPECT_EQ(part->CalloutWidth(), 9);
  EXPECT_EQ(part->CalloutPosition(), scene::sgCalloutRight);
  EXPECT_EQ(part->CalloutOffset(), 14);
  // No such part: the style root, when it is a callout rectangle.
  panel->SetResource("rootcallout");
  auto* root = dynamic_cast<scene::TsgCalloutRectangle*>(panel->StyleObject());
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->CalloutOffset(), 14);
  EXPECT_EQ(root->CalloutPosition(), scene::sgCalloutRight);
  // Neither: nothing to set, nothing breaks.
  panel->SetResource("statusbarstyle");
  panel->SetCalloutOffset(3);
  EXPECT_EQ(panel->CalloutOffset(), 3);
}

TEST_F(Panels, TheStatusBarsGripFeelsTheMouseOutsideTheDesigner) {
  auto* bar = ctrl.Add<TsgStatusBar>(0, 0, 300, 22);
  EXPECT_EQ(bar->Align(), scene::vaBottom);
  TsgVisualObject* grip = VisualPart(bar, "sizegrip");
  ASSERT_NE(grip, nullptr);
  EXPECT_TRUE(grip->Visible());
  EXPECT_FALSE(grip->Locked());
  EXPECT_TRUE(grip->HitTest());
  // The flag reloads the style: a new clone, its grip hidden.
  TsgVisualObject* before = bar->StyleObject();
  bar->SetShowSizeGrip(false);
  EXPECT_NE(bar->StyleObject(), before);
  grip = VisualPart(bar, "sizegrip");
  ASSERT_NE(grip, nullptr);
  EXPECT_FALSE(grip->Visible());
  ctrl.Scene->DesignTime = true;
  bar->SetShowSizeGrip(true);
  grip = VisualPart(bar, "sizegrip");
  EXPECT_TRUE(grip->Visible());
  EXPECT_TRUE(grip->Locked());
  EXPECT_FALSE(grip->HitTest());
}

TEST_F(Panels, TheSizeGripAnswersTheHostsMarker) {
  auto* grip = ctrl.Add<TsgSizeGrip>(0, 0, 16, 16);
  auto* hud = ctrl.Add<TsgHudSizeGrip>(20, 0, 16, 16);
  auto* panel = ctrl.Add<TsgPanel>(40, 0, 16, 16);
  void* marker = nullptr;
  EXPECT_TRUE(grip->GetInterface(scene::IsgSizeGripMarker::IID, &marker));
  EXPECT_EQ(marker, static_cast<scene::IsgSizeGripMarker*>(grip));
  EXPECT_TRUE(hud->GetInterface(scene::IsgSizeGripMarker::IID, &marker));
  EXPECT_FALSE(panel->GetInterface(scene::IsgSizeGripMarker::IID, &marker));
}

TEST_F(Panels, AWindowHandsItsCloseClickToTheStylesButton) {
  WindowSink sink;
  auto* window = New<TsgWindow>(nullptr);
  window->OnCloseClick = classlib::EventOf<&WindowSink::Closed>(&sink);
  window->SetBounds(0, 0, 200, 200);
  ctrl.Root->AddObject(window);
  window->ApplyResource();
  auto* close = dynamic_cast<TsgCloseButton*>(window->FindResource("close"));
  ASSERT_NE(close, nullptr);
  EXPECT_FALSE(close->CloseForm);
  close->MouseDown(scene::TMouseButton::mbLeft, {classlib::ssLeft}, 5, 5);
  close->MouseUp(scene::TMouseButton::mbLeft, {}, 5, 5);
  EXPECT_EQ(sink.Closes, 1);
  window->SetShowCloseButton(false);
  window->SetShowSizeGrip(false);
  EXPECT_FALSE(VisualPart(window, "close")->Visible());
  EXPECT_FALSE(VisualPart(window, "sizegrip")->Visible());
}

TEST_F(Panels, AHudWindowWithoutCaptionHidesCaptionTextAndClose) {
  auto* hud = ctrl.Add<TsgHudWindow>(0, 0, 200, 200);
  EXPECT_EQ(hud->Font()->Style(), scene::sgFontBold);
  TsgVisualObject* caption = VisualPart(hud, "caption");
  ASSERT_NE(caption, nullptr);
  EXPECT_EQ(caption->Height(), 21);
  EXPECT_TRUE(caption->Visible());
  hud->SetStrokeThickness(3);
  hud->SetButtonAlign(sgButtonAlignRight);
  hud->Fill()->SetSolidColor(0xFF102030u);
  EXPECT_EQ(caption->Height(), 23);
  EXPECT_EQ(caption->Padding()->Left(), 3);
  EXPECT_EQ(caption->Padding()->Bottom(), 0);
  auto* stroke = dynamic_cast<scene::TsgShape*>(hud->FindResource("stroke"));
  EXPECT_EQ(stroke->StrokeThickness(), 3);
  EXPECT_EQ(stroke->Margins()->Top(), 3);
  EXPECT_EQ(dynamic_cast<scene::TsgShape*>(hud->FindResource("back"))->Fill()->SolidColor(),
            0xFF102030u);
  EXPECT_EQ(VisualPart(hud, "close")->Align(), scene::vaRight);

  hud->SetShowCaption(false);
  for (const char* name : {"caption", "text", "close"}) {
    TsgVisualObject* part = VisualPart(hud, name);
    ASSERT_NE(part, nullptr) << name;
    EXPECT_FALSE(part->Visible()) << name;
    EXPECT_TRUE(part->DesignHide()) << name;
  }
  hud->SetShowCaption(true);
  EXPECT_TRUE(VisualPart(hud, "caption")->Visible());
  EXPECT_TRUE(VisualPart(hud, "text")->Visible());
  // The window shows its close button first; the caption then decides.
  EXPECT_TRUE(VisualPart(hud, "close")->Visible());
  hud->SetShowCloseButton(false);
  EXPECT_FALSE(VisualPart(hud, "close")->Visible());
}

TEST(PanelDefaults, CreationValues) {
  auto* panel = New<TsgPanel>(nullptr);
  auto* tool = New<TsgToolBar>(nullptr);
  auto* window = New<TsgWindow>(nullptr);
  auto* item = New<TsgSelectionItem>(nullptr);
  EXPECT_EQ(panel->Width(), 120);
  EXPECT_EQ(panel->Height(), 100);
  EXPECT_EQ(tool->Height(), 40);
  EXPECT_EQ(tool->Align(), scene::vaTop);
  EXPECT_EQ(window->Width(), 200);
  EXPECT_EQ(window->TextAlign(), scene::sgTextAlignNear);
  EXPECT_FALSE(window->HitTest());
  EXPECT_FALSE(item->HitTest());
  for (classlib::TObject* o :
       {static_cast<classlib::TObject*>(panel), static_cast<classlib::TObject*>(tool),
        static_cast<classlib::TObject*>(window), static_cast<classlib::TObject*>(item)})
    classlib::Free(o);
}

// Every part is looked up by name and class: one of the wrong class is
// passed over, and the control still does what needs no part.
TEST(MistypedParts, AreSkipped) {
  CtrlScene ctrl;
  auto rect = [](const char* name) { return Part("TsgRectangle", name); };
  std::string styles;
  for (const char* style : {"buttonstyle", "labelstyle", "pathcheckboxstyle", "trackstyle",
                            "scrollbarstyle", "progressbarstyle", "anglebuttonstyle",
                            "calloutpanelstyle", "statusbarstyle", "hudwindowstyle"})
    styles += Style(style, rect("text") + rect("checkmark") + rect("thumb") + rect("htrack") +
                               rect("leftbutton") + rect("tracktext") + rect("Backgound") +
                               Part("TsgText", "sizegrip") + Part("TsgText", "close") +
                               Part("TsgText", "back") + rect("tick"));
  ctrl.SetBook(FixtureBook(styles));
  auto* button = ctrl.Add<TsgButton>(0, 0, 80, 22);
  button->SetTextProp(u"OK");
  EXPECT_EQ(button->Text(), u"OK");
  auto* label = ctrl.Add<TsgLabel>(0, 30, 80, 15);
  label->SetAutoSize(true);
  label->SetTextProp(u"Long text");
  EXPECT_EQ(label->Width(), 80);  // nothing to measure with
  auto* box = ctrl.Add<TsgPathCheckBox>(0, 50, 80, 19);
  box->SetIsChecked(true);
  EXPECT_TRUE(box->IsChecked());
  auto* track = ctrl.Add<TsgTrack>(0, 80, 100, 15);
  EXPECT_EQ(track->Thumb(), nullptr);
  track->SetValue(40);
  EXPECT_EQ(track->Value(), 40);
  auto* bar = ctrl.Add<TsgScrollBar>(0, 100, 150, 18);
  bar->Realign();
  bar->SetValue(30);
  EXPECT_EQ(bar->Value(), 30);
  auto* progress = ctrl.Add<TsgProgressBar>(0, 130, 100, 20);
  progress->SetValue(50);
  auto* dial = ctrl.Add<TsgAngleButton>(0, 160, 30, 30);
  dial->SetValue(45);
  EXPECT_EQ(dynamic_cast<TsgVisualObject*>(dial->FindResource("tick"))->RotateAngle(), -45);
  auto* callout = ctrl.Add<TsgCalloutPanel>(100, 0, 100, 100);
  callout->SetCalloutWidth(5);
  auto* status = ctrl.Add<TsgStatusBar>(100, 100, 100, 22);
  status->SetShowSizeGrip(false);
  auto* hud = ctrl.Add<TsgHudWindow>(200, 0, 200, 200);
  hud->SetShowCaption(false);
  // A close part that is no close button keeps its place; any visual
  // object serves as a grip.
  EXPECT_TRUE(dynamic_cast<TsgVisualObject*>(hud->FindResource("close"))->Visible());
  EXPECT_EQ(dynamic_cast<TsgVisualObject*>(hud->FindResource("close"))->Align(), scene::vaNone);
  EXPECT_FALSE(dynamic_cast<TsgVisualObject*>(status->FindResource("sizegrip"))->Visible());
}

}  // namespace
}  // namespace kelm::scenectrls

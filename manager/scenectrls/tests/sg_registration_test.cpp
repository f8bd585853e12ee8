// The controls' start-up table (categories in order, streaming-only
// classes, run once) and the default style book: every registered class
// resolves a style holding the parts it wires, of their classes.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "classlib/classdef.h"
#include "scene/sg_classes.h"
#include "scene/sg_control.h"
#include "scene/sg_objects.h"
#include "scene/sg_resources.h"
#include "scene/sg_style.h"
#include "scenectrls/sg_panels.h"
#include "scenectrls/sg_registration.h"
#include "scenectrls/sg_tracks.h"
#include "ctrl_scene.h"

namespace kelm::scenectrls {
namespace {

// The table's categories with their classes, in the order listed, for the
// classes named here only (the scene core lists its own).
std::map<std::string, std::vector<std::string>> ListedControls() {
  std::map<std::string, std::vector<std::string>> listed;
  for (const scene::TsgClassCategory& entry : scene::SceneClassCategories()) {
    const std::string& name = entry.Class->ClassName();
    if (entry.Category == "Windows" || entry.Category == "Boxes" || entry.Category == "Controls" ||
        entry.Category == "Buttons" || entry.Category == "HUD" ||
        entry.Category == "Tool and Status" || entry.Category == "Layout" ||
        entry.Category == "Items" || entry.Category == "Text Edits")
      listed[entry.Category].push_back(name);
  }
  return listed;
}

const std::vector<std::string> kHudClasses = {
    "TsgHudPanel",       "TsgHudWindow",       "TsgHudButton",     "TsgHudSpeedButton",
    "TsgHudAngleButton", "TsgHudTrack",        "TsgHudTrackBar",   "TsgHudScrollBar",
    "TsgHudPopupBox",    "TsgHudLabel",        "TsgHudCheckBox",   "TsgHudRadioButton",
    "TsgHudGroupBox",    "TsgHudCloseButton",  "TsgHudStatusBar",  "TsgHudSizeGrip",
    "TsgHudRoundButton", "TsgHudCircleButton", "TsgHudTabControl", "TsgHudMemo"};

TEST(Registration, CategoriesInTheTablesOrderOnce) {
  RegisterSceneControlClasses();
  RegisterSceneControlClasses();
  const std::map<std::string, std::vector<std::string>> want = {
      {"Windows", {"TsgBackground", "TsgSizeGrip", "TsgCloseButton"}},
      {"Boxes", {"TsgCheckBox", "TsgPathCheckBox", "TsgRadioButton", "TsgGroupBox", "TsgPopupBox"}},
      {"Controls",
       {"TsgPanel", "TsgCalloutPanel", "TsgLabel", "TsgValueLabel", "TsgProgressBar", "TsgTrack",
        "TsgScrollBar", "TsgSmallScrollBar", "TsgTrackBar", "TsgScrollBox", "TsgVertScrollBox",
        "TsgFramedScrollBox", "TsgFramedVertScrollBox", "TsgTabControl"}},
      {"Layout", {"TsgLayout", "TsgScaledLayout", "TsgGridLayout", "TsgSplitLayout"}},
      {"Items", {"TsgTabItem", "TsgHudTabItem"}},
      {"Text Edits", {"TsgMemo"}},
      {"Buttons",
       {"TsgButton", "TsgRoundButton", "TsgCircleButton", "TsgSpeedButton", "TsgAngleButton",
        "TsgPopupButton"}},
      {"Tool and Status", {"TsgStatusBar", "TsgToolBar"}},
      {"HUD", kHudClasses}};
  EXPECT_EQ(ListedControls(), want);
  // Streamed, never offered by the designer.
  for (const char* name :
       {"TsgSelectionItem", "TsgThumb", "TsgExpanderButton", "TsgScrollContent"}) {
    EXPECT_NE(classlib::GetClass(name), nullptr) << name;
    for (const scene::TsgClassCategory& entry : scene::SceneClassCategories())
      EXPECT_NE(entry.Class->ClassName(), name);
  }
  for (const auto& [category, classes] : want)
    for (const std::string& name : classes) EXPECT_NE(classlib::GetClass(name), nullptr) << name;
}

// ---- the default book
struct PartWant {
  std::string part;
  classlib::TClass cls;
};

TEST(DefaultBook, EveryControlFindsItsStyleWithItsParts) {
  test::UseDefaultStyleBook();
  test::CtrlScene ctrl;
  ASSERT_NE(scene::DefaultStyle(), nullptr) << "the book did not load";
  const classlib::TClass visual = scene::TsgVisualObject::StaticClass();
  const classlib::TClass textClass = scene::TsgText::StaticClass();
  const PartWant text{"text", textClass};
  const classlib::TClass shape = scene::TsgShape::StaticClass();
  const PartWant content{"content", scene::TsgContent::StaticClass()};
  const PartWant thumb{"thumb", TsgThumb::StaticClass()};
  const std::vector<PartWant> scrollBarParts = {{"htrack", TsgCustomTrack::StaticClass()},
                                                {"vtrack", TsgCustomTrack::StaticClass()},
                                                {"leftbutton", TsgCustomButton::StaticClass()},
                                                {"rightbutton", TsgCustomButton::StaticClass()},
                                                {"topbutton", TsgCustomButton::StaticClass()},
                                                {"bottombutton", TsgCustomButton::StaticClass()}};
  const std::vector<PartWant> scrollBoxParts = {
      {"vscrollbar", TsgScrollBar::StaticClass()},
      {"hscrollbar", TsgScrollBar::StaticClass()},
      {"vsmallscrollbar", TsgSmallScrollBar::StaticClass()},
      {"hsmallscrollbar", TsgSmallScrollBar::StaticClass()},
      {"sizegrip", TsgSizeGrip::StaticClass()},
      {"content", visual}};
  const std::vector<PartWant> memoParts = {{"vscrollbar", TsgScrollBar::StaticClass()},
                                           {"hscrollbar", TsgScrollBar::StaticClass()},
                                           {"content", visual},
                                           {"background", shape},
                                           {"selection", scene::TsgBrushObject::StaticClass()},
                                           {"foreground", scene::TsgBrushObject::StaticClass()}};
  const std::map<std::string, std::vector<PartWant>> table = {
      {"TsgButton", {text}},
      {"TsgRoundButton", {text}},
      {"TsgCircleButton", {text}},
      {"TsgPopupButton", {text}},
      {"TsgSpeedButton", {text}},
      {"TsgExpanderButton", {}},
      {"TsgCloseButton", {}},
      {"TsgLabel", {text}},
      {"TsgValueLabel", {text}},
      {"TsgCheckBox", {text}},
      {"TsgPathCheckBox", {text, {"checkmark", scene::TsgPath::StaticClass()}}},
      {"TsgRadioButton", {text}},
      {"TsgGroupBox", {text, {"content", scene::TsgContent::StaticClass()}}},
      {"TsgPopupBox", {text}},
      {"TsgThumb", {}},
      {"TsgTrack", {thumb}},
      {"TsgTrackBar", {thumb, {"background", scene::TsgShape::StaticClass()}}},
      {"TsgScrollBar", scrollBarParts},
      {"TsgSmallScrollBar", scrollBarParts},
      {"TsgProgressBar",
       {{"htrack", visual}, {"hindicator", visual}, {"vtrack", visual}, {"vindicator", visual}}},
      {"TsgAngleButton", {{"tick", visual}, {"tracktext", textClass}, {"text", textClass}}},
      {"TsgPanel", {content}},
      {"TsgCalloutPanel", {{"Backgound", scene::TsgCalloutRectangle::StaticClass()}, content}},
      {"TsgStatusBar", {{"sizegrip", TsgSizeGrip::StaticClass()}, content}},
      {"TsgToolBar", {content}},
      {"TsgSizeGrip", {}},
      {"TsgScrollBox", scrollBoxParts},
      {"TsgVertScrollBox", scrollBoxParts},
      {"TsgFramedScrollBox", scrollBoxParts},
      {"TsgFramedVertScrollBox", scrollBoxParts},
      {"TsgTabControl", {{"background", visual}}},
      {"TsgHudTabControl", {{"background", visual}}},
      {"TsgTabItem", {text}},
      {"TsgHudTabItem", {text}},
      {"TsgMemo", memoParts},
      {"TsgHudMemo", memoParts},
      {"TsgHudWindow",
       {{"back", shape},
        {"stroke", shape},
        {"caption", visual},
        text,
        {"close", TsgCloseButton::StaticClass()},
        {"sizegrip", TsgSizeGrip::StaticClass()},
        content}},
  };
  for (const auto& [name, parts] : table) {
    SCOPED_TRACE(name);
    classlib::TClass cls = classlib::GetClass(name);
    ASSERT_NE(cls, nullptr);
    auto* control = dynamic_cast<scene::TsgControl*>(cls->Create(nullptr));
    ASSERT_NE(control, nullptr);
    ctrl.Root->AddObject(control);
    control->ApplyResource();
    ASSERT_NE(control->StyleObject(), nullptr);
    for (const PartWant& p : parts) {
      scene::TsgObject* found = control->FindResource(p.part);
      ASSERT_NE(found, nullptr) << p.part;
      EXPECT_TRUE(found->InheritsFrom(p.cls)) << p.part;
    }
    classlib::Free(control);
  }
  test::DropDefaultStyleBook();
}

TEST(DefaultBook, EveryHudClassButTheSpeedButtonHasAStyleOfItsOwn) {
  test::UseDefaultStyleBook();
  RegisterSceneControlClasses();
  scene::TsgObject* book = scene::DefaultStyle();
  ASSERT_NE(book, nullptr);
  for (const std::string& name : kHudClasses) {
    classlib::TClass cls = classlib::GetClass(name);
    ASSERT_NE(cls, nullptr) << name;
    // Names compare without case ("hudCloseButtonStyle").
    const bool own = book->FindResource(scene::TsgControl::StyleNameOf(cls)) != nullptr;
    EXPECT_EQ(own, name != "TsgHudSpeedButton") << name;
    // Without one, the base's style serves.
    EXPECT_NE(book->FindResource(scene::TsgControl::StyleNameOf(cls->ClassParent())), nullptr)
        << name;
  }
  test::DropDefaultStyleBook();
}

}  // namespace
}  // namespace kelm::scenectrls

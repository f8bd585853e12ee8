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
#include "scene/sg_style.h"
#include "scenectrls/sg_registration.h"
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
        entry.Category == "Buttons" || entry.Category == "HUD")
      listed[entry.Category].push_back(name);
  }
  return listed;
}

TEST(Registration, CategoriesInTheTablesOrderOnce) {
  RegisterSceneControlClasses();
  RegisterSceneControlClasses();
  const std::map<std::string, std::vector<std::string>> want = {
      {"Windows", {"TsgBackground", "TsgCloseButton"}},
      {"Boxes", {"TsgCheckBox", "TsgPathCheckBox", "TsgRadioButton", "TsgGroupBox", "TsgPopupBox"}},
      {"Controls", {"TsgLabel", "TsgValueLabel"}},
      {"Buttons",
       {"TsgButton", "TsgRoundButton", "TsgCircleButton", "TsgSpeedButton", "TsgPopupButton"}}};
  EXPECT_EQ(ListedControls(), want);
  // Streamed, never offered by the designer.
  EXPECT_NE(classlib::GetClass("TsgExpanderButton"), nullptr);
  for (const scene::TsgClassCategory& entry : scene::SceneClassCategories())
    EXPECT_NE(entry.Class->ClassName(), "TsgExpanderButton");
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
  const PartWant text{"text", scene::TsgText::StaticClass()};
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

}  // namespace
}  // namespace kelm::scenectrls

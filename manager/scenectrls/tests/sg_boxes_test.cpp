// Labels, check boxes, radio buttons and group boxes on a fake scene: the
// toggle on release, silent IsChecked, the radio group rule, AutoSize
// against a recording canvas that measures 7 units a character.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classlib/classdef.h"
#include "scene/sg_classes.h"
#include "scene/sg_objects.h"
#include "scenectrls/sg_check_boxes.h"
#include "scenectrls/sg_labels.h"
#include "ctrl_scene.h"

namespace kelm::scenectrls {
namespace {

using classlib::New;
using scene::TMouseButton;
using test::CtrlScene;
using test::FixtureBook;
using test::FixtureStyle;
using test::PartOpacity;

using test::kLeft;
using test::kNone;

// Notes which control changed, in order.
class Sink : public classlib::TObject {
 public:
  void Changed(classlib::TObject* sender) {
    Changes.push_back(static_cast<TsgTextControl*>(sender));
  }
  std::vector<TsgTextControl*> Changes;
};

class Boxes : public ::testing::Test {
 protected:
  void SetUp() override {
    ctrl.SetBook(FixtureBook(FixtureStyle("checkboxstyle") + FixtureStyle("radiobuttonstyle") +
                             FixtureStyle("pathcheckboxstyle") +
                             "  object TsgVisualObject\n    ResourceName = 'labelstyle'\n"
                             "    HitTest = False\n    object TsgText\n"
                             "      ResourceName = 'text'\n      Align = vaClient\n"
                             "      HitTest = False\n    end\n  end\n"));
  }
  template <class T>
  T* Box(float y, const std::string& group = "") {
    T* b = ctrl.Add<T>(10, y, 120, 19);
    b->OnChange = classlib::EventOf<&Sink::Changed>(&sink);
    if constexpr (std::is_same_v<T, TsgRadioButton>) b->SetGroupName(group);
    return b;
  }
  CtrlScene ctrl;
  Sink sink;
};

struct ToggleCase {
  const char* name;
  float upX, upY;
  std::vector<float> moves;  // x of each move with the button held, y 5
  bool checked;
};

TEST_F(Boxes, CheckBoxTogglesOnAReleaseInside) {
  const ToggleCase cases[] = {{"inside", 5, 5, {}, true},
                              {"edge", 120, 19, {}, true},
                              {"released outside", 130, 5, {}, false},
                              {"dragged off and back", 5, 5, {200, 50}, true},
                              {"dragged off", 200, 5, {200}, false}};
  for (const ToggleCase& c : cases) {
    SCOPED_TRACE(c.name);
    sink.Changes.clear();
    auto* box = Box<TsgCheckBox>(10);
    box->MouseDown(TMouseButton::mbLeft, kLeft, 5, 5);
    EXPECT_TRUE(box->IsPressed());
    EXPECT_FALSE(box->IsChecked());  // not on the press
    for (float x : c.moves) {
      box->MouseMove(kLeft, x, 5, 0, 0);
      EXPECT_EQ(box->IsPressed(), x <= 120);
      EXPECT_EQ(PartOpacity(box, "pressed"), x <= 120 ? 1.0f : 0.0f);
    }
    box->MouseUp(TMouseButton::mbLeft, kNone, c.upX, c.upY);
    EXPECT_FALSE(box->IsPressed());
    EXPECT_EQ(box->IsChecked(), c.checked);
    EXPECT_EQ(sink.Changes.size(), c.checked ? 1u : 0u);
    EXPECT_EQ(PartOpacity(box, "checked"), c.checked ? 1.0f : 0.0f);
    classlib::Free(box);
  }
}

TEST_F(Boxes, TheReleaseRaisesNoPressedTrigger) {
  auto* box = Box<TsgCheckBox>(10);
  box->MouseDown(TMouseButton::mbLeft, kLeft, 5, 5);
  EXPECT_EQ(PartOpacity(box, "pressed"), 1);
  box->MouseUp(TMouseButton::mbLeft, kNone, 5, 5);
  EXPECT_FALSE(box->IsPressed());
  // Which is why check and radio styles animate no "IsPressed".
  EXPECT_EQ(PartOpacity(box, "pressed"), 1);
}

TEST_F(Boxes, KeysToggleCheckAndRadioBoxes) {
  auto* box = Box<TsgCheckBox>(10);
  const struct {
    uint16_t key;
    bool checked;
  } keys[] = {{13, true}, {32, false}, {65, false}, {32, true}};
  for (const auto& k : keys) {
    uint16_t key = k.key;
    char16_t ch = 0;
    box->KeyDown(key, ch, kNone);
    EXPECT_EQ(box->IsChecked(), k.checked) << k.key;
  }
  auto* radio = Box<TsgRadioButton>(40);
  uint16_t key = 32;
  char16_t ch = 0;
  radio->KeyDown(key, ch, kNone);
  EXPECT_TRUE(radio->IsChecked());
}

TEST_F(Boxes, IsCheckedIsSilentWithItsHandlerDetachedAndRaisesAnimationsOnly) {
  auto* box = Box<TsgCheckBox>(10);
  box->SetIsChecked(false);
  EXPECT_TRUE(sink.Changes.empty());
  box->SetIsChecked(true);
  box->SetIsChecked(true);
  EXPECT_EQ(sink.Changes.size(), 1u);
  // The style's animation shows it; its effect does not hear the trigger.
  EXPECT_EQ(PartOpacity(box, "checked"), 1);
  EXPECT_FALSE(test::PartEffectEnabled(box, "checked"));
  const classlib::TNotifyEvent handler = box->OnChange;
  box->OnChange = {};
  box->SetIsChecked(false);
  box->OnChange = handler;
  EXPECT_EQ(sink.Changes.size(), 1u);
  EXPECT_FALSE(box->IsChecked());
  EXPECT_EQ(PartOpacity(box, "checked"), 0);
  // A fresh style shows the state at once.
  box->SetIsChecked(true);
  box->SetResource("checkboxstyle");
  EXPECT_EQ(PartOpacity(box, "checked"), 1);
}

TEST_F(Boxes, SetDataKinds) {
  auto* box = Box<TsgCheckBox>(10);
  auto* radio = Box<TsgRadioButton>(40, "solo");
  Sink other;
  const struct {
    classlib::TVariant value;
    bool checked;
  } cases[] = {{classlib::TVariant(true), true}, {classlib::TVariant(u"True"), false},
               {classlib::TVariant(true), true}, {classlib::TVariant(1), false},
               {classlib::TVariant(true), true}, {classlib::TVariant::Null(), false}};
  for (const auto& c : cases) {
    box->SetData(c.value);
    EXPECT_EQ(box->IsChecked(), c.checked);
    EXPECT_EQ(box->GetData(), classlib::TVariant(c.checked));
  }
  // Alone in its group, a checked radio button refuses false.
  radio->SetData(classlib::TVariant(true));
  radio->SetData(classlib::TVariant(7));
  EXPECT_TRUE(radio->IsChecked());
  const classlib::TVariant ref =
      scene::MethodRefToVariant(classlib::EventOf<&Sink::Changed>(&other).ToMethod());
  box->SetData(ref);
  radio->SetData(ref);
  box->SetIsChecked(true);
  EXPECT_TRUE(box->IsChecked());  // a method reference leaves the state alone
  EXPECT_EQ(other.Changes, std::vector<TsgTextControl*>{box});
}

TEST_F(Boxes, RadioGroupRule) {
  auto* a1 = Box<TsgRadioButton>(0, "A");
  auto* a2 = Box<TsgRadioButton>(20, "A");
  auto* a3 = Box<TsgRadioButton>(40, "A");
  auto* lower = Box<TsgRadioButton>(60, "a");  // another group: names are case-sensitive
  auto* e1 = Box<TsgRadioButton>(80);
  auto* e2 = Box<TsgRadioButton>(100);  // the empty name is one group
  lower->SetIsChecked(true);
  e1->SetIsChecked(true);
  a2->SetIsChecked(true);
  a3->SetIsChecked(true);
  sink.Changes.clear();

  a1->SetIsChecked(true);
  EXPECT_TRUE(a1->IsChecked());
  EXPECT_FALSE(a2->IsChecked());
  EXPECT_FALSE(a3->IsChecked());
  EXPECT_TRUE(lower->IsChecked());
  EXPECT_TRUE(e1->IsChecked());
  // Only a3 was checked: a2 changes nothing, a3 reports, then a1.
  EXPECT_EQ(sink.Changes, (std::vector<TsgTextControl*>{a3, a1}));
  EXPECT_EQ(PartOpacity(a3, "checked"), 0);

  // The only checked button of its group stays checked.
  sink.Changes.clear();
  a1->SetIsChecked(false);
  EXPECT_TRUE(a1->IsChecked());
  EXPECT_TRUE(sink.Changes.empty());
  // So does a press and release on it.
  a1->MouseDown(TMouseButton::mbLeft, kLeft, 5, 5);
  a1->MouseUp(TMouseButton::mbLeft, kNone, 5, 5);
  EXPECT_TRUE(a1->IsChecked());
  // A click on another member moves the check.
  e2->MouseDown(TMouseButton::mbLeft, kLeft, 5, 5);
  e2->MouseUp(TMouseButton::mbLeft, kNone, 5, 5);
  EXPECT_TRUE(e2->IsChecked());
  EXPECT_FALSE(e1->IsChecked());
  EXPECT_TRUE(a1->IsChecked());
}

TEST_F(Boxes, ARadioButtonOutsideASceneCannotBeUnchecked) {
  auto* loose = New<TsgRadioButton>(nullptr);
  loose->OnChange = classlib::EventOf<&Sink::Changed>(&sink);
  loose->SetIsChecked(true);
  EXPECT_TRUE(loose->IsChecked());
  loose->SetIsChecked(false);
  EXPECT_TRUE(loose->IsChecked());
  EXPECT_EQ(sink.Changes.size(), 1u);
  classlib::Free(loose);
}

TEST_F(Boxes, TheLabelSizesItselfToItsText) {
  auto* label = ctrl.Add<TsgLabel>(0, 0, 120, 15);
  label->SetTextProp(u"Hello");
  EXPECT_EQ(label->Width(), 120);  // not without AutoSize
  auto* part = dynamic_cast<scene::TsgText*>(label->FindResource("text"));
  ASSERT_NE(part, nullptr);
  EXPECT_TRUE(part->WordWrap());
  label->SetAutoSize(true);
  // The canvas measures 7 a character and 13 high; the text adds half its
  // font size.
  EXPECT_FLOAT_EQ(label->Width(), 5.5f + 35);
  EXPECT_FLOAT_EQ(label->Height(), 13);
  EXPECT_FALSE(label->WordWrap());
  EXPECT_FALSE(part->WordWrap());
  EXPECT_FALSE(part->AutoSize());
  EXPECT_EQ(part->Align(), scene::vaClient);  // given back
  EXPECT_EQ(part->HorzTextAlign(), scene::sgTextAlignNear);
  label->SetTextProp(u"Hello, world");
  EXPECT_FLOAT_EQ(label->Width(), 5.5f + 84);
  ctrl.Scene->UpdateRects.clear();
  label->SetTextProp(u"Hello, world");
  EXPECT_TRUE(ctrl.Scene->UpdateRects.empty());
}

TEST_F(Boxes, ThePathCheckBoxGivesItsPathToTheCheckmark) {
  ctrl.SetBook(
      FixtureBook("  object TsgVisualObject\n    ResourceName = 'pathcheckboxstyle'\n"
                  "    HitTest = False\n    object TsgPath\n"
                  "      ResourceName = 'checkmark'\n      HitTest = False\n"
                  "    end\n  end\n"));
  auto* box = ctrl.Add<TsgPathCheckBox>(0, 0, 120, 19);
  auto* mark = dynamic_cast<scene::TsgPath*>(box->FindResource("checkmark"));
  ASSERT_NE(mark, nullptr);
  EXPECT_EQ(mark->Data()->GetData(), box->Path()->GetData());
  EXPECT_GT(mark->Data()->Count(), 5);
  box->Path()->SetData("M 0,0 L 10,10 Z");
  EXPECT_EQ(mark->Data()->GetData(), box->Path()->GetData());
}

TEST(BoxDefaults, CreationValues) {
  auto* label = New<TsgLabel>(nullptr);
  EXPECT_EQ(label->Width(), 120);
  EXPECT_EQ(label->Height(), 15);
  EXPECT_TRUE(label->WordWrap());
  EXPECT_FALSE(label->HitTest());
  EXPECT_TRUE(label->AutoTranslate);
  auto* value = New<TsgValueLabel>(nullptr);
  EXPECT_FALSE(value->WordWrap());
  EXPECT_FALSE(value->AutoTranslate);
  auto* box = New<TsgCheckBox>(nullptr);
  EXPECT_EQ(box->Width(), 120);
  EXPECT_EQ(box->Height(), 19);
  EXPECT_EQ(box->TextAlign(), scene::sgTextAlignNear);
  EXPECT_TRUE(box->CanFocused);
  EXPECT_TRUE(box->AutoCapture);
  auto* group = New<TsgGroupBox>(nullptr);
  EXPECT_EQ(group->Height(), 100);
  EXPECT_FALSE(group->CanFocused);
  for (classlib::TObject* o : std::vector<classlib::TObject*>{label, value, box, group})
    classlib::Free(o);
}

}  // namespace
}  // namespace kelm::scenectrls

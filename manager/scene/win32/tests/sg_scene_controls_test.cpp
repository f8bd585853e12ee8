// Scene controls in a real scene window under the test desktop: the active
// control focused after loading, a style book refill restyling a live
// scene, Tab between controls, and the action-update pass reaching linked
// controls.
#include <windows.h>

#include <gtest/gtest.h>

#include "scene/sg_control_action.h"  // first: it undoes the Win32 FindResource macro

#include <string>
#include <vector>

#include "classlib/actions.h"
#include "classlib/classdef.h"
#include "classlib/filer.h"
#include "classlib/forms.h"
#include "classlib/streams.h"
#include "scene/sg_canvas_gdiplus.h"
#include "scene/sg_scene.h"
#include "scene/sg_style.h"
#include "message_pump.h"

namespace kelm::scene {

// A control that takes the focus and notes how often a style reached it.
class TsgKnob : public TsgControl {
  CL_DECLARE_CLASS(TsgKnob, TsgControl)
 public:
  explicit TsgKnob(classlib::TComponent* AOwner) : TsgControl(AOwner) { CanFocused = true; }
  int Applied = 0;
  void ApplyStyle() override {
    TsgControl::ApplyStyle();
    ++Applied;
  }
  int StyleTag() const { return StyleObject() ? StyleObject()->Tag() : 0; }
};
CL_CLASS(TsgKnob) {}

namespace {

using classlib::New;
using classlib::TForm;

class SceneStart : public ::testing::Environment {
 public:
  void SetUp() override {
    sgStartupScene();
    classlib::RegisterClasses({TsgKnob::StaticClass(), TForm::StaticClass()});
  }
};
const auto* const g_env = ::testing::AddGlobalTestEnvironment(new SceneStart);

void Pump() { test::PumpPending(); }

// A book whose knob style carries the tag.
std::string KnobBook(int tag) {
  return "object TsgBackground\n  object TsgVisualObject\n    ResourceName = 'Knobstyle'\n"
         "    Tag = " +
         std::to_string(tag) + "\n    HitTest = False\n  end\nend\n";
}

void SetBookText(TsgResources* book, const std::string& text) {
  classlib::TStringList lines;
  lines.SetText(text);
  book->SetResource(&lines);
}

class Sink : public classlib::TObject {
 public:
  bool EnableOnUpdate = false;
  int Updates = 0;
  void Update(classlib::TObject* sender) {
    ++Updates;
    static_cast<classlib::TAction*>(sender)->SetEnabled(EnableOnUpdate);
  }
};

// A shown form with a scene, a root and three knobs named Knob0..Knob2,
// all owned by the form.
class SceneControls : public ::testing::Test {
 protected:
  void SetUp() override {
    form = New<TForm>(nullptr, 0);
    form->SetBounds(100, 100, 300, 200);
    form->SetBorderStyle(classlib::TFormBorderStyle::bsNone);
    scene = New<TsgScene>(form);
    scene->SetName("Scene");
    scene->SetParent(form);
    scene->SetBounds(0, 0, 200, 100);
    root = New<TsgBackground>(form);
    root->SetName("Root");
    scene->AddObject(root);
    for (int i = 0; i < 3; ++i) {
      auto* k = New<TsgKnob>(form);
      k->SetName("Knob" + std::to_string(i));
      k->SetParent(root);
      knobs.push_back(k);
    }
    form->Show();
    Pump();
  }
  void TearDown() override {
    classlib::Free(form);
    classlib::Free(action);
  }
  void Tab() { SendMessageW(scene->Handle(), WM_KEYDOWN, VK_TAB, 0); }

  TForm* form = nullptr;
  TsgScene* scene = nullptr;
  TsgBackground* root = nullptr;
  std::vector<TsgKnob*> knobs;
  classlib::TAction* action = nullptr;
};

TEST_F(SceneControls, ALoadedSceneFocusesItsActiveControl) {
  scene->SetActiveControl(knobs[1]);
  EXPECT_EQ(scene->GetFocused(), knobs[1]);  // a live scene focuses it at once
  classlib::TMemoryStream stream;
  classlib::TWriter(stream).WriteRootComponent(form);

  auto* read = New<TForm>(nullptr, 0);
  stream.SetPosition(0);
  classlib::TReader(stream).ReadRootComponent(read);
  auto* readScene = dynamic_cast<TsgScene*>(read->FindComponent("Scene"));
  auto* readKnob = dynamic_cast<TsgKnob*>(read->FindComponent("Knob1"));
  ASSERT_NE(readScene, nullptr);
  ASSERT_NE(readKnob, nullptr);
  EXPECT_EQ(readScene->ActiveControl(), readKnob);
  EXPECT_EQ(readScene->GetFocused(), readKnob);
  EXPECT_TRUE(readKnob->IsFocused());
  classlib::Free(read);
}

TEST_F(SceneControls, ActiveControlFreedOrReplacedLeavesNoReference) {
  // Owned elsewhere: only the scene's own registration tells it.
  auto* owner = New<classlib::TComponent>(nullptr);
  auto* loose = New<TsgKnob>(owner);
  loose->SetParent(root);
  scene->SetActiveControl(loose);
  EXPECT_EQ(scene->GetFocused(), loose);
  scene->SetActiveControl(knobs[0]);
  EXPECT_EQ(scene->GetFocused(), knobs[0]);
  // Focused after being active: one registration serves both fields.
  loose->SetFocus();
  scene->SetActiveControl(nullptr);
  EXPECT_EQ(scene->GetFocused(), loose);
  scene->SetActiveControl(loose);
  classlib::Free(owner);
  EXPECT_EQ(scene->ActiveControl(), nullptr);
  EXPECT_EQ(scene->GetFocused(), nullptr);
  Tab();
  EXPECT_EQ(scene->GetFocused(), knobs[0]);
}

TEST_F(SceneControls, ABookRefillRestylesTheLiveScene) {
  auto* book = New<TsgResources>(nullptr);
  SetBookText(book, KnobBook(1));
  // Through the published property, as a form file sets it.
  const classlib::TPropInfo* style = classlib::GetPropInfo(scene, "Style");
  ASSERT_NE(style, nullptr);
  style->SetObj(scene, book);
  EXPECT_EQ(book->Scenes(), std::vector<IsgScene*>{scene});
  UpdateWindow(scene->Handle());
  for (TsgKnob* k : knobs) EXPECT_EQ(k->StyleTag(), 1);

  SetBookText(book, KnobBook(2));
  UpdateWindow(scene->Handle());
  for (TsgKnob* k : knobs) {
    EXPECT_EQ(k->StyleTag(), 2);
    EXPECT_EQ(k->Applied, 2);
  }

  // A freed book is let go; the next one restyles at once, and a scene
  // freed first leaves the book's list.
  classlib::Free(book);
  EXPECT_EQ(scene->Style(), nullptr);
  auto* next = New<TsgResources>(nullptr);
  SetBookText(next, KnobBook(5));
  scene->SetStyle(next);
  for (TsgKnob* k : knobs) EXPECT_EQ(k->StyleTag(), 5);
  classlib::Free(form);
  form = nullptr;
  EXPECT_TRUE(next->Scenes().empty());
  classlib::Free(next);
}

TEST_F(SceneControls, TheSceneIsNoTabStopUnlessAsked) {
  const classlib::TPropInfo* tabStop = classlib::GetPropInfo(scene, "TabStop");
  ASSERT_NE(tabStop, nullptr);
  EXPECT_FALSE(scene->TabStop());
  ASSERT_NE(classlib::GetPropInfo(scene, "ActiveControl"), nullptr);
}

TEST_F(SceneControls, TabWalksTheControlsAndPassesADisabledOne) {
  knobs[1]->SetEnabled(false);
  const TsgKnob* want[] = {knobs[0], knobs[2], knobs[0]};
  for (const TsgKnob* w : want) {
    Tab();
    EXPECT_EQ(scene->GetFocused(), w);
  }
  knobs[1]->SetEnabled(true);
  Tab();
  EXPECT_EQ(scene->GetFocused(), knobs[1]);
}

TEST_F(SceneControls, TheActionPassReachesLinkedVisibleControls) {
  Sink sink;
  action = New<classlib::TAction>(nullptr);
  action->OnUpdate = classlib::EventOf<&Sink::Update>(&sink);
  // Knob2 sits under an invisible holder: the pass does not go there.
  auto* holder = New<TsgVisualObject>(form);
  holder->SetParent(root);
  knobs[2]->SetParent(holder);
  holder->SetVisible(false);
  for (TsgKnob* k : knobs) k->SetAction(action);

  struct Case {
    bool enable;
    bool want;
  } const cases[] = {{false, false}, {true, true}};
  for (const Case& c : cases) {
    sink.EnableOnUpdate = c.enable;
    sink.Updates = 0;
    form->UpdateActions();
    // One update per visible linked knob, none for the hidden one.
    EXPECT_EQ(sink.Updates, 2) << c.enable;
    EXPECT_EQ(knobs[0]->Enabled(), c.want) << c.enable;
    EXPECT_EQ(knobs[1]->Enabled(), c.want) << c.enable;
  }
}

}  // namespace
}  // namespace kelm::scene

// Under Wine: a control styled from the embedded default book, and the link
// between controls and the class library's actions.
#include <gtest/gtest.h>

#include "scene/sg_control_action.h"  // first: it undoes the Win32 FindResource macro

#include "classlib/actions.h"
#include "classlib/classdef.h"
#include "scene/sg_classes.h"
#include "scene/sg_control.h"
#include "scene/sg_style.h"
#include "scene_fakes.h"
#include "test_label.h"

namespace kelm::scene {

namespace {

using classlib::New;

class Sink : public classlib::TObject {
 public:
  void Run(classlib::TObject*) {}
  void Mine(classlib::TObject*) {}
  void Hint(std::u16string& hint, bool& canShow) {
    hint += u" (F1)";
    canShow = false;
  }
};

class WinControls : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterSceneCoreClasses();
    scene = New<test::FakeScene>(nullptr);
    root = New<TsgBackground>(nullptr);
    scene->AddObject(root);
    action = New<classlib::TAction>(nullptr);
  }
  void TearDown() override {
    classlib::Free(action);
    classlib::Free(root);
    classlib::Free(scene);
  }
  test::FakeScene* scene = nullptr;
  TsgBackground* root = nullptr;
  classlib::TAction* action = nullptr;
  Sink sink;
};

TEST_F(WinControls, ControlIsStyledFromTheEmbeddedBook) {
  auto* ctl = New<TsgBackground>(nullptr);
  ctl->SetParent(root);
  ctl->BeforePaint();
  ASSERT_NE(DefaultStyle(), nullptr);
  EXPECT_EQ(DefaultStyle()->ClassName(), "TsgBackground");
  ASSERT_NE(ctl->StyleObject(), nullptr);
  EXPECT_EQ(ctl->StyleObject()->ClassName(), "TsgVisualObject");
  TsgObject* content = ctl->FindResource("content");
  ASSERT_NE(content, nullptr);
  EXPECT_EQ(content->Parent(), ctl->StyleObject());
  EXPECT_TRUE(content->Visual()->Locked());
}

TEST_F(WinControls, ActionChangesReachOnlyLinkedProperties) {
  auto* ctl = New<TsgTestLabel>(nullptr);
  ctl->SetParent(root);
  action->SetCaption(u"Run");
  action->SetHint(u"Runs it");
  action->OnExecute = classlib::EventOf<&Sink::Run>(&sink);
  ctl->SetAction(action);
  EXPECT_EQ(ctl->GetAction(), action);
  EXPECT_EQ(ctl->Text, u"Run");
  EXPECT_EQ(ctl->Hint(), u"Runs it");
  EXPECT_TRUE(ctl->OnClick == action->OnExecute);

  // Every change of the action copies its state into the control.
  action->SetEnabled(false);
  EXPECT_FALSE(ctl->Enabled());
  action->SetCaption(u"Go");
  EXPECT_EQ(ctl->Text, u"Go");

  // The link's own setters act only while the control still shows the
  // action's value.
  auto* link = static_cast<TsgControlActionLink*>(ctl->ActionLink());
  ASSERT_NE(link, nullptr);
  EXPECT_TRUE(link->IsCaptionLinked());
  ctl->Text = u"Mine";
  EXPECT_FALSE(link->IsCaptionLinked());
  link->SetCaption(u"Other");
  EXPECT_EQ(ctl->Text, u"Mine");
  ctl->OnClick = classlib::EventOf<&Sink::Mine>(&sink);
  EXPECT_FALSE(link->IsOnExecuteLinked());

  // Help: linked while context, keyword and type all match; then not stored.
  action->SetHelpContext(7);
  EXPECT_FALSE(link->IsHelpLinked());
  ctl->SetHelpContext(7);
  ctl->SetHelpType(action->HelpType());
  EXPECT_TRUE(link->IsHelpLinked());
  EXPECT_FALSE(ctl->HelpStored());
  action->SetHelpKeyword("run");
  EXPECT_EQ(ctl->HelpKeyword(), "run");
  EXPECT_EQ(ctl->HelpType(), action->HelpType());

  // The action may rewrite a hint, which always shows.
  action->OnHint = classlib::EventOf<&Sink::Hint>(&sink);
  std::u16string hint = u"Runs it";
  EXPECT_TRUE(link->DoShowHint(hint));
  EXPECT_EQ(hint, u"Runs it (F1)");

  classlib::Free(action);
  action = nullptr;
  EXPECT_EQ(ctl->GetAction(), nullptr);
  EXPECT_EQ(ctl->ActionLink(), nullptr);
  EXPECT_TRUE(ctl->HelpStored());
}

TEST_F(WinControls, ActionsOtherThanCustomActionsAreIgnored) {
  auto* basic = New<classlib::TBasicAction>(nullptr);
  auto* ctl = New<TsgTestLabel>(nullptr);
  ctl->SetParent(root);
  ctl->Text = u"Keep";
  ctl->SetAction(basic);
  EXPECT_EQ(ctl->GetAction(), basic);
  EXPECT_EQ(ctl->Text, u"Keep");
  classlib::Free(basic);
  EXPECT_EQ(ctl->GetAction(), nullptr);
}

}  // namespace
}  // namespace kelm::scene

// Text control and buttons on a fake scene: the caption's roads into the
// style, press and release tables, the repeat timer on a manual clock,
// double clicks, the modal result through owners, default and cancel keys,
// the pop-up button's point and the close button.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classlib/classdef.h"
#include "classlib/datetime.h"
#include "scene/sg_classes.h"
#include "scene/sg_objects.h"
#include "scenectrls/sg_buttons.h"
#include "scenectrls/sg_check_boxes.h"
#include "scenectrls/sg_timer.h"
#include "ctrl_scene.h"

namespace kelm::scenectrls {
namespace {

using classlib::New;
using scene::TMouseButton;
using scene::TShiftState;
using test::CtrlScene;
using test::FixtureBook;
using test::FixtureStyle;
using test::PartOpacity;

using test::kLeft;
using test::kNone;

// Counts clicks and remembers what the form's modal result was at each.
class Sink : public classlib::TObject {
 public:
  void Clicked(classlib::TObject*) {
    ++Clicks;
    if (Form) ResultAtClick.push_back(Form->ModalResult);
  }
  void Double(classlib::TObject*) { ++DoubleClicks; }
  int Clicks = 0;
  int DoubleClicks = 0;
  test::TTestForm* Form = nullptr;
  std::vector<int32_t> ResultAtClick;
};

class Buttons : public ::testing::Test {
 protected:
  void SetUp() override {
    ctrl.SetBook(FixtureBook(FixtureStyle("buttonstyle") + FixtureStyle("speedbuttonstyle") +
                             FixtureStyle("closebuttonstyle", false) +
                             FixtureStyle("checkboxstyle")));
  }
  template <class T>
  T* Wired(float x = 10, float y = 10, float w = 80, float h = 22) {
    T* b = ctrl.Add<T>(x, y, w, h);
    b->OnClick = classlib::EventOf<&Sink::Clicked>(&sink);
    return b;
  }
  CtrlScene ctrl;
  Sink sink;
};

// ---- the caption
TEST_F(Buttons, ChangeTextTakesEachOfItsThreeRoads) {
  // 1: the "text" part.
  auto* withPart = ctrl.Add<TsgButton>(0, 0, 80, 22);
  withPart->SetTextProp(u"OK");
  auto* part = dynamic_cast<scene::TsgText*>(withPart->FindResource("text"));
  ASSERT_NE(part, nullptr);
  EXPECT_EQ(part->Text(), u"OK");
  // 2: a style whose root is a text.
  ctrl.SetBook(FixtureBook(
      "  object TsgText\n    ResourceName = 'buttonstyle'\n    HitTest = False\n  end\n"));
  auto* rootText = ctrl.Add<TsgButton>(0, 30, 80, 22);
  rootText->SetTextProp(u"Cancel");
  auto* root = dynamic_cast<scene::TsgText*>(rootText->StyleObject());
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->Text(), u"Cancel");
  // 3: no text to show it: the control repaints; an equal text does not.
  ctrl.SetBook(FixtureBook(FixtureStyle("buttonstyle", false)));
  auto* bare = ctrl.Add<TsgButton>(0, 60, 80, 22);
  ASSERT_NE(bare->StyleObject(), nullptr);
  ctrl.Scene->UpdateRects.clear();
  bare->SetTextProp(u"x");
  EXPECT_FALSE(ctrl.Scene->UpdateRects.empty());
  ctrl.Scene->UpdateRects.clear();
  bare->SetTextProp(u"x");
  EXPECT_TRUE(ctrl.Scene->UpdateRects.empty());
  EXPECT_EQ(bare->Text(), u"x");
}

TEST_F(Buttons, AlignmentWrapFontAndForegroundReachTheTextPart) {
  auto* b = ctrl.Add<TsgButton>(0, 0, 80, 22);
  auto* part = dynamic_cast<scene::TsgText*>(b->FindResource("text"));
  ASSERT_NE(part, nullptr);
  b->SetTextAlign(scene::sgTextAlignFar);
  b->SetVertTextAlign(scene::sgTextAlignNear);
  b->SetWordWrap(true);
  b->Font()->SetSize(17);
  b->Foreground()->SetSolidColor(0xFF112233u);
  EXPECT_EQ(part->HorzTextAlign(), scene::sgTextAlignFar);
  EXPECT_EQ(part->VertTextAlign(), scene::sgTextAlignNear);
  EXPECT_TRUE(part->WordWrap());
  EXPECT_EQ(part->Font()->Size(), 17);
  EXPECT_EQ(part->Fill()->SolidColor(), 0xFF112233u);
  // A new style takes the stored values.
  b->SetResource("buttonstyle");
  auto* fresh = dynamic_cast<scene::TsgText*>(b->FindResource("text"));
  ASSERT_NE(fresh, nullptr);
  EXPECT_NE(fresh, part);
  EXPECT_EQ(fresh->HorzTextAlign(), scene::sgTextAlignFar);
  EXPECT_EQ(fresh->Font()->Size(), 17);
}

TEST_F(Buttons, ActionCaptionsAndTheImeGoThroughTheTextControl) {
  auto* b = ctrl.Add<TsgButton>(0, 0, 80, 22);
  scene::TsgControl* asControl = b;
  EXPECT_TRUE(asControl->IsTextControl());
  asControl->SetText(u"From action");
  EXPECT_EQ(b->Text(), u"From action");
  EXPECT_EQ(asControl->GetText(), u"From action");
  scene::TsgFont* font = nullptr;
  scene::TsgPoint caret{5, 5};
  EXPECT_TRUE(b->ImeCompositionInfo(font, caret));
  EXPECT_EQ(font, b->Font());
  EXPECT_EQ(caret.X, 0);
  EXPECT_EQ(caret.Y, 0);
}

TEST_F(Buttons, SetDataOfTheTextControlAndOfTheButton) {
  auto* label = ctrl.Add<TsgTextControl>(0, 0, 80, 22);
  const double day = 45000.5;
  struct Case {
    classlib::TVariant value;
    std::u16string text;
  } cases[] = {{classlib::TVariant(u"abc"), u"abc"},
               {classlib::TVariant::Null(), u""},
               {classlib::TVariant(42), u"42"},
               {classlib::TVariant::Date(day), classlib::DateTimeToStr(day)},
               {classlib::TVariant(true), classlib::TVariant(true).ToString()}};
  for (const Case& c : cases) {
    label->SetTextProp(u"before");
    label->SetData(c.value);
    EXPECT_EQ(label->Text(), c.text);
    EXPECT_EQ(label->GetData(), classlib::TVariant(c.text));
  }
  // A button takes only a method reference, as its OnClick.
  auto* b = ctrl.Add<TsgButton>(0, 30, 80, 22);
  b->SetTextProp(u"keep");
  b->SetData(classlib::TVariant(u"other"));
  b->SetData(classlib::TVariant(7));
  EXPECT_EQ(b->Text(), u"keep");
  EXPECT_FALSE(b->OnClick);
  b->SetData(scene::MethodRefToVariant(classlib::EventOf<&Sink::Clicked>(&sink).ToMethod()));
  b->Click();
  EXPECT_EQ(sink.Clicks, 1);
}

// ---- press and release
struct Step {
  enum Kind { Down, Move, Up } kind;
  float x, y;
  bool left;     // held during a move
  bool pressed;  // IsPressed after the step
};

struct PressCase {
  const char* name;
  bool staysPressed;
  std::vector<Step> steps;
  int clicks;
};

TEST_F(Buttons, PressMoveAndReleaseTable) {
  const PressCase cases[] = {
      {"click inside", false, {{Step::Down, 5, 5, true, true}, {Step::Up, 5, 5, false, false}}, 1},
      {"edges count as inside",
       false,
       {{Step::Down, 0, 0, true, true},
        {Step::Move, 80, 22, true, true},
        {Step::Up, 80, 22, false, false}},
       1},
      {"dragged off and released outside",
       false,
       {{Step::Down, 5, 5, true, true},
        {Step::Move, 90, 5, true, false},
        {Step::Up, 90, 5, false, false}},
       0},
      {"dragged off and back",
       false,
       {{Step::Down, 5, 5, true, true},
        {Step::Move, 5, -3, true, false},
        {Step::Move, 40, 11, true, true},
        {Step::Up, 40, 11, false, false}},
       1},
      {"a move without the button changes nothing",
       false,
       {{Step::Down, 5, 5, true, true}, {Step::Move, 90, 5, false, true}},
       0},
      {"toggle: first press",
       true,
       {{Step::Down, 5, 5, true, true},
        {Step::Move, 90, 5, true, true},
        {Step::Up, 5, 5, false, true}},
       1},
      {"toggle: second press",
       true,
       {{Step::Down, 5, 5, true, true},
        {Step::Up, 5, 5, false, true},
        {Step::Down, 5, 5, true, false},
        {Step::Up, 5, 5, false, false}},
       2},
  };
  for (const PressCase& c : cases) {
    SCOPED_TRACE(c.name);
    sink.Clicks = 0;
    auto* b = Wired<TsgButton>();
    b->SetStaysPressed(c.staysPressed);
    for (const Step& s : c.steps) {
      switch (s.kind) {
        case Step::Down:
          b->MouseDown(TMouseButton::mbLeft, kLeft, s.x, s.y);
          break;
        case Step::Move:
          b->MouseMove(s.left ? kLeft : kNone, s.x, s.y, 0, 0);
          break;
        case Step::Up:
          b->MouseUp(TMouseButton::mbLeft, kNone, s.x, s.y);
          break;
      }
      EXPECT_EQ(b->IsPressed(), s.pressed);
      // The style shows the state through its animations.
      EXPECT_EQ(PartOpacity(b, "pressed"), s.pressed ? 1.0f : 0.0f);
    }
    EXPECT_EQ(sink.Clicks, c.clicks);
    classlib::Free(b);
  }
}

TEST_F(Buttons, ARightPressNeitherPressesNorClicks) {
  auto* b = Wired<TsgButton>();
  b->MouseDown(TMouseButton::mbRight, kNone, 5, 5);
  EXPECT_FALSE(b->IsPressed());
  b->MouseUp(TMouseButton::mbRight, kNone, 5, 5);
  EXPECT_EQ(sink.Clicks, 0);
}

TEST_F(Buttons, WritingIsPressedTakesEffectOnlyOnAToggle) {
  auto* b = Wired<TsgButton>();
  b->SetIsPressed(true);
  EXPECT_FALSE(b->IsPressed());
  EXPECT_EQ(PartOpacity(b, "pressed"), 0);
  b->SetStaysPressed(true);
  b->SetIsPressed(true);
  EXPECT_TRUE(b->IsPressed());
  // Animations and effects both hear the trigger.
  EXPECT_EQ(PartOpacity(b, "pressed"), 1);
  EXPECT_TRUE(test::PartEffectEnabled(b, "pressed"));
  // A fresh style shows the current state at once.
  b->SetResource("buttonstyle");
  EXPECT_EQ(PartOpacity(b, "pressed"), 1);
}

// ---- repeat
TEST_F(Buttons, AHeldSpeedButtonClicksAt600700And800MsAndOnRelease) {
  auto* b = Wired<TsgSpeedButton>(10, 10, 23, 23);
  EXPECT_TRUE(b->RepeatClick());
  EXPECT_EQ(b->RepeatTimer(), nullptr);  // made on the first need
  b->MouseDown(TMouseButton::mbLeft, kLeft, 5, 5);
  ASSERT_NE(b->RepeatTimer(), nullptr);
  const struct {
    uint32_t advance;
    int clicks;
  } timeline[] = {{499, 0}, {1, 0}, {99, 0}, {1, 1}, {100, 2}, {100, 3}, {50, 3}};
  for (const auto& t : timeline) {
    ctrl.Timers.Advance(t.advance);
    EXPECT_EQ(sink.Clicks, t.clicks) << "at " << ctrl.Timers.Now() << " ms";
  }
  b->MouseUp(TMouseButton::mbLeft, kNone, 5, 5);
  EXPECT_EQ(sink.Clicks, 4);
  EXPECT_FALSE(ctrl.Timers.Scheduled(b->RepeatTimer()));
  ctrl.Timers.Advance(2000);
  EXPECT_EQ(sink.Clicks, 4);
  // The next press starts over with the 500 ms pause; a release outside
  // stops it without a click.
  TsgTimer* timer = b->RepeatTimer();
  b->MouseDown(TMouseButton::mbLeft, kLeft, 5, 5);
  EXPECT_EQ(b->RepeatTimer(), timer);
  ctrl.Timers.Advance(599);
  EXPECT_EQ(sink.Clicks, 4);
  ctrl.Timers.Advance(1);
  EXPECT_EQ(sink.Clicks, 5);
  b->MouseUp(TMouseButton::mbLeft, kNone, 50, 5);
  EXPECT_EQ(sink.Clicks, 5);
  ctrl.Timers.Advance(1000);
  EXPECT_EQ(sink.Clicks, 5);
}

TEST_F(Buttons, OnlyARepeatingButtonMakesATimer) {
  auto* b = Wired<TsgButton>();
  b->MouseDown(TMouseButton::mbLeft, kLeft, 5, 5);
  ctrl.Timers.Advance(2000);
  EXPECT_EQ(b->RepeatTimer(), nullptr);
  EXPECT_EQ(sink.Clicks, 0);
  b->MouseUp(TMouseButton::mbLeft, kNone, 5, 5);
  EXPECT_EQ(sink.Clicks, 1);
}

TEST_F(Buttons, ADoubleClickGivesTwoClicks) {
  auto* b = Wired<TsgButton>();
  b->OnDblClick = classlib::EventOf<&Sink::Double>(&sink);
  b->MouseDown(TMouseButton::mbLeft, kLeft, 5, 5);
  b->MouseUp(TMouseButton::mbLeft, kNone, 5, 5);
  EXPECT_EQ(sink.Clicks, 1);
  b->MouseDown(TMouseButton::mbLeft, TShiftState{classlib::ssLeft, classlib::ssDouble}, 5, 5);
  EXPECT_EQ(sink.DoubleClicks, 1);
  EXPECT_EQ(sink.Clicks, 2);
  b->MouseUp(TMouseButton::mbLeft, kNone, 5, 5);
  EXPECT_EQ(sink.Clicks, 2);
  EXPECT_FALSE(b->IsPressed());
}

// ---- keys
TEST_F(Buttons, EnterAndSpaceClickTheFocusedButton) {
  auto* b = Wired<TsgButton>();
  const struct {
    uint16_t key;
    int clicks;
  } keys[] = {{13, 1}, {32, 1}, {65, 0}, {0, 0}};
  for (const auto& k : keys) {
    sink.Clicks = 0;
    uint16_t key = k.key;
    char16_t ch = k.key == 0 ? u' ' : u'\0';
    b->KeyDown(key, ch, kNone);
    EXPECT_EQ(sink.Clicks, k.clicks) << k.key;
  }
}

TEST_F(Buttons, DefaultAndCancelKeyTable) {
  struct Case {
    const char* name;
    bool isDefault, isCancel;
    enum Focus { Nobody, Itself, OtherButton, CheckBox } focus;
    uint16_t key;
    int clicks;
    uint16_t keyAfter;
  } cases[] = {
      {"default takes Enter", true, false, Case::Nobody, 13, 1, 0},
      {"default focused takes Enter once", true, false, Case::Itself, 13, 1, 0},
      {"another focused button keeps Enter", true, false, Case::OtherButton, 13, 0, 13},
      {"a focused check box does not", true, false, Case::CheckBox, 13, 1, 0},
      {"default ignores Escape", true, false, Case::Nobody, 27, 0, 27},
      {"cancel takes Escape", false, true, Case::Nobody, 27, 1, 0},
      {"cancel takes Escape from a focused button", false, true, Case::OtherButton, 27, 1, 0},
      {"cancel ignores Enter", false, true, Case::Nobody, 13, 0, 13},
      {"both: Enter", true, true, Case::Nobody, 13, 1, 0},
      {"both: Escape", true, true, Case::Nobody, 27, 1, 0},
      {"neither", false, false, Case::Nobody, 13, 0, 13},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sink.Clicks = 0;
    auto* b = Wired<TsgButton>();
    b->Default = c.isDefault;
    b->Cancel = c.isCancel;
    auto* other = ctrl.Add<TsgButton>(100, 10, 80, 22);
    auto* box = ctrl.Add<TsgCheckBox>(100, 40, 80, 22);
    scene::TsgVisualObject* focus[] = {nullptr, b, other, box};
    ctrl.Scene->Focused = focus[c.focus];
    uint16_t key = c.key;
    // As the host offers keys: to the root, which passes them down.
    ctrl.Root->DialogKey(key, kNone);
    EXPECT_EQ(sink.Clicks, c.clicks);
    EXPECT_EQ(key, c.keyAfter);
    ctrl.Scene->Focused = nullptr;
    classlib::Free(b);
    classlib::Free(other);
    classlib::Free(box);
  }
}

TEST_F(Buttons, AHiddenOrDisabledDefaultButtonTakesNoKey) {
  auto* b = Wired<TsgButton>();
  b->Default = true;
  for (int hidden = 0; hidden < 2; ++hidden) {
    b->SetVisible(hidden == 0);
    b->SetEnabled(hidden == 1);
    uint16_t key = 13;
    ctrl.Root->DialogKey(key, kNone);
    EXPECT_EQ(key, 13);
  }
  EXPECT_EQ(sink.Clicks, 0);
}

// ---- modal result
TEST_F(Buttons, ModalResultReachesTheFirstFormUpTheOwnersBeforeOnClick) {
  auto* outer = New<test::TTestForm>(nullptr);
  auto* inner = New<test::TTestForm>(outer);
  auto* holder = New<classlib::TComponent>(inner);
  {
    CtrlScene owned(holder);
    owned.SetBook(FixtureBook(FixtureStyle("buttonstyle")));
    auto* b = owned.Add<TsgButton>(0, 0, 80, 22);
    b->OnClick = classlib::EventOf<&Sink::Clicked>(&sink);
    sink.Form = inner;
    b->SetModalResult(2);
    b->MouseDown(TMouseButton::mbLeft, kLeft, 5, 5);
    b->MouseUp(TMouseButton::mbLeft, kNone, 5, 5);
    EXPECT_EQ(inner->ModalResult, 2);
    EXPECT_EQ(outer->ModalResult, 0);
    EXPECT_EQ(sink.ResultAtClick, std::vector<int32_t>{2});
    // A button without a result leaves the form alone.
    inner->ModalResult = 0;
    b->SetModalResult(0);
    b->Click();
    EXPECT_EQ(inner->ModalResult, 0);
    EXPECT_EQ(sink.Clicks, 2);
  }
  classlib::Free(outer);
}

TEST_F(Buttons, ModalResultWithoutAFormOnlyClicks) {
  auto* b = Wired<TsgButton>();
  b->SetModalResult(1);
  b->Click();
  EXPECT_EQ(sink.Clicks, 1);
  // Outside a scene as well.
  auto* loose = New<TsgButton>(nullptr);
  loose->SetModalResult(1);
  loose->OnClick = classlib::EventOf<&Sink::Clicked>(&sink);
  loose->Click();
  EXPECT_EQ(sink.Clicks, 2);
  classlib::Free(loose);
}

// ---- pop-up button
std::vector<std::string> g_menuCalls;
void RecordMenuHook(classlib::TComponent* menu, int x, int y, classlib::TComponent* component) {
  g_menuCalls.push_back(menu->Name() + " " + std::to_string(x) + "," + std::to_string(y) + " " +
                        component->ClassName());
}

TEST_F(Buttons, ThePopupButtonOpensItsMenuBelowItselfAtRoundedScreenPoints) {
  scene::SetPopupMenuHook(&RecordMenuHook);
  g_menuCalls.clear();
  auto* menu = New<classlib::TComponent>(nullptr);
  menu->SetName("Menu");
  auto* b = Wired<TsgPopupButton>(10.4f, 20.3f, 80, 22.4f);
  b->Click();  // no menu yet: only the click
  b->SetPopupMenu(menu);
  b->Click();
  EXPECT_EQ(sink.Clicks, 2);
  EXPECT_EQ(g_menuCalls, std::vector<std::string>{"Menu 10,43 TsgPopupButton"});
  // A freed menu is let go.
  classlib::Free(menu);
  EXPECT_EQ(b->PopupMenu(), nullptr);
  b->Click();
  EXPECT_EQ(g_menuCalls.size(), 1u);
  scene::SetPopupMenuHook(nullptr);
}

// ---- close button
TEST_F(Buttons, TheCloseButtonActsOnlyOnAReleaseInside) {
  auto* form = New<test::TTestForm>(nullptr);
  {
    CtrlScene owned(form);
    owned.SetBook(FixtureBook(FixtureStyle("closebuttonstyle", false)));
    auto* close = owned.Add<TsgCloseButton>(0, 0, 20, 20);
    close->OnClick = classlib::EventOf<&Sink::Clicked>(&sink);
    const struct {
      float upX;
      bool closeForm;
      int closes, clicks;
    } cases[] = {{10, true, 1, 1}, {25, true, 1, 1}, {10, false, 1, 2}, {-1, false, 1, 2}};
    for (const auto& c : cases) {
      close->CloseForm = c.closeForm;
      close->MouseDown(TMouseButton::mbLeft, kLeft, 10, 10);
      close->MouseUp(TMouseButton::mbLeft, kNone, c.upX, 10);
      EXPECT_EQ(form->Closes, c.closes) << c.upX;
      EXPECT_EQ(sink.Clicks, c.clicks) << c.upX;
    }
    // A release without a press on it does nothing.
    close->CloseForm = true;
    close->MouseUp(TMouseButton::mbLeft, kNone, 10, 10);
    EXPECT_EQ(form->Closes, 1);
  }
  classlib::Free(form);
}

TEST(ButtonDefaults, CreationValuesOfTheButtonFamily) {
  struct Case {
    classlib::TClass cls;
    float w, h;
    bool canFocus, repeat;
  } cases[] = {{TsgButton::StaticClass(), 80, 22, true, false},
               {TsgRoundButton::StaticClass(), 80, 22, true, false},
               {TsgCircleButton::StaticClass(), 21, 21, true, false},
               {TsgPopupButton::StaticClass(), 80, 22, true, false},
               {TsgSpeedButton::StaticClass(), 23, 23, false, true},
               {TsgExpanderButton::StaticClass(), 80, 22, false, false}};
  for (const Case& c : cases) {
    auto* b = dynamic_cast<TsgCustomButton*>(c.cls->Create(nullptr));
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b->Width(), c.w) << c.cls->ClassName();
    EXPECT_EQ(b->Height(), c.h) << c.cls->ClassName();
    EXPECT_EQ(b->CanFocused, c.canFocus) << c.cls->ClassName();
    EXPECT_EQ(b->RepeatClick(), c.repeat) << c.cls->ClassName();
    EXPECT_TRUE(b->AutoCapture);
    EXPECT_TRUE(b->AutoTranslate);
    EXPECT_TRUE(b->Text().empty());
    classlib::Free(b);
  }
  auto* close = New<TsgCloseButton>(nullptr);
  EXPECT_EQ(close->Width(), 20);
  EXPECT_FALSE(close->CanFocused);
  EXPECT_TRUE(close->CloseForm);
  classlib::Free(close);
}

}  // namespace
}  // namespace kelm::scenectrls

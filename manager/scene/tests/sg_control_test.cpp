// Controls: style lookup and application, bindings, actions, help and tab
// orders; style books refilling and restyling their scenes; the default
// style read once.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "classlib/classdef.h"
#include "classlib/streams.h"
#include "classlib/textform.h"
#include "scene/sg_classes.h"
#include "scene/sg_control.h"
#include "scene/sg_resources.h"
#include "scene/sg_style.h"
#include "recording_canvas.h"
#include "scene_fakes.h"
#include "test_label.h"
#include "visual_probe.h"

namespace kelm::scene {

// A control that notes its style hooks and the triggers it raises.
class TsgTestButton : public TsgControl {
  CL_DECLARE_CLASS(TsgTestButton, TsgControl)
 public:
  explicit TsgTestButton(classlib::TComponent* AOwner) : TsgControl(AOwner) {}
  void FreeStyle() override {
    // The tag of the style being released, and whether it was still in place.
    TsgVisualObject* s = StyleObject();
    Freed.push_back(s && s->Parent() == this && s->GetIndex() == 0 ? s->Tag() : -1);
  }
  void ApplyStyle() override {
    ++Applied;
    TsgControl::ApplyStyle();
  }
  void StartTriggerAnimation(classlib::TObject* instance, const std::string& trigger) override {
    Triggers.push_back(trigger);
    TsgControl::StartTriggerAnimation(instance, trigger);
  }
  void SetData(const classlib::TVariant& value) override {
    Data.push_back(classlib::WideToUtf8(value.ToString()));
  }
  std::vector<int> Freed;
  std::vector<std::string> Triggers;
  std::vector<std::string> Data;
  int Applied = 0;
};
CL_CLASS(TsgTestButton) {}

// Derived without a style of its own: falls back one class level.
class TsgTestFancyButton : public TsgTestButton {
  CL_DECLARE_CLASS(TsgTestFancyButton, TsgTestButton)
 public:
  explicit TsgTestFancyButton(classlib::TComponent* AOwner) : TsgTestButton(AOwner) {}
};
CL_CLASS(TsgTestFancyButton) {}

// Two levels below the styled class: no fallback reaches that far.
class TsgTestFancierButton : public TsgTestFancyButton {
  CL_DECLARE_CLASS(TsgTestFancierButton, TsgTestFancyButton)
 public:
  explicit TsgTestFancierButton(classlib::TComponent* AOwner) : TsgTestFancyButton(AOwner) {}
};
CL_CLASS(TsgTestFancierButton) {}

// Applies its style while it is still being read.
class TsgEagerButton : public TsgTestButton {
  CL_DECLARE_CLASS(TsgEagerButton, TsgTestButton)
 public:
  explicit TsgEagerButton(classlib::TComponent* AOwner) : TsgTestButton(AOwner) {}
  bool StyleNow() const { return false; }
  void SetStyleNow(bool v) {
    if (v) ApplyResource();
  }
  void ApplyStyle() override {
    HeldWhileApplying = IsLoading() && Scene() && Scene()->GetDisableUpdate();
    TsgTestButton::ApplyStyle();
  }
  bool HeldWhileApplying = false;
};
CL_CLASS(TsgEagerButton) {
  c.Bool("StyleNow", &TsgEagerButton::StyleNow, &TsgEagerButton::SetStyleNow);
}

namespace {

using classlib::New;
using test::FakeScene;

// Counts the events it receives.
class ClickSink : public classlib::TObject {
 public:
  void Clicked(classlib::TObject*) { ++Clicks; }
  void Other(classlib::TObject*) {}
  int Clicks = 0;
};

int LiveObjects() {
  int n = 0;
  for (int i = 0; i < GlobalObjectCount(); ++i) n += GlobalObject(i) != nullptr;
  return n;
}

// One style: a visual part found by name, marked by its Tag; HitTest off so
// that triggers pass into it.
std::string Style(const std::string& name, int tag) {
  return "  object TsgVisualObject\n    ResourceName = '" + name +
         "'\n    Tag = " + std::to_string(tag) + "\n    HitTest = False\n  end\n";
}
std::string Book(const std::string& styles) { return "object TsgBackground\n" + styles + "end\n"; }

std::string g_defaultText;
int g_defaultReads = 0;
std::unique_ptr<classlib::TStream> DefaultFromText() {
  ++g_defaultReads;
  if (g_defaultText.empty()) return nullptr;
  classlib::TStringStream text(g_defaultText);
  auto binary = std::make_unique<classlib::TMemoryStream>();
  classlib::ObjectTextToBinary(text, *binary);
  binary->SetPosition(0);
  return binary;
}

void SetBookText(TsgResources* book, const std::string& text) {
  classlib::TStringList lines;
  lines.SetText(text);
  book->SetResource(&lines);
}

class Controls : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterSceneCoreClasses();
    classlib::RegisterClasses({TsgTestButton::StaticClass(), TsgTestFancyButton::StaticClass(),
                               TsgTestFancierButton::StaticClass(), TsgEagerButton::StaticClass()});
    ResetDefaultStyle();
    g_defaultText.clear();
    g_defaultReads = 0;
    SetDefaultStyleSource(&DefaultFromText);
    scene = New<FakeScene>(nullptr);
    book = New<TsgResources>(nullptr);
    scene->Style = book;
    book->AddScene(scene);
    root = New<TsgVisualObject>(nullptr);
    scene->AddObject(root);
  }
  void TearDown() override {
    classlib::Free(root);
    classlib::Free(scene);
    classlib::Free(book);
    ResetDefaultStyle();
    SetDefaultStyleSource(nullptr);
  }
  template <class C>
  C* Make(TsgObject* parent = nullptr) {
    auto* c = New<C>(nullptr);
    c->SetParent(parent ? parent : root);
    return c;
  }
  static int StyleTag(TsgControl* c) { return c->StyleObject() ? c->StyleObject()->Tag() : 0; }

  FakeScene* scene = nullptr;
  TsgResources* book = nullptr;
  TsgVisualObject* root = nullptr;
};

TEST_F(Controls, StyleLookupFollowsBookDefaultAndOneParentClass) {
  const struct {
    const char* what;
    std::string book, def;
    classlib::TClass cls;
    std::string resource;
    int tag;  // of the applied style; 0: none
  } cases[] = {
      {"class name in the book", Book(Style("TestButtonstyle", 1)),
       Book(Style("TestButtonstyle", 2)), TsgTestButton::StaticClass(), "", 1},
      {"class name only in the default", Book(Style("Other", 1)), Book(Style("testbuttonstyle", 2)),
       TsgTestButton::StaticClass(), "", 2},
      {"named style in the book beats the default's",
       Book(Style("Round", 3) + Style("TestButtonstyle", 1)),
       Book(Style("Round", 4) + Style("TestButtonstyle", 2)), TsgTestButton::StaticClass(), "Round",
       3},
      {"named style only in the default", Book(Style("TestButtonstyle", 1)),
       Book(Style("Round", 4)), TsgTestButton::StaticClass(), "ROUND", 4},
      {"named style missing: none", Book(Style("TestButtonstyle", 1)),
       Book(Style("TestButtonstyle", 2)), TsgTestButton::StaticClass(), "Nowhere", 0},
      {"derived class falls back to its parent class in the default", "",
       Book(Style("TestButtonstyle", 2)), TsgTestFancyButton::StaticClass(), "", 2},
      {"the book is not searched for the parent class", Book(Style("TestButtonstyle", 1)), "",
       TsgTestFancyButton::StaticClass(), "", 0},
      {"only one level", "", Book(Style("TestButtonstyle", 2)), TsgTestFancierButton::StaticClass(),
       "", 0},
      {"own style before the parent's", "",
       Book(Style("TestButtonstyle", 2) + Style("TestFancyButtonstyle", 5)),
       TsgTestFancyButton::StaticClass(), "", 5},
      {"brush resource falls through to the class name",
       "object TsgBackground\n  object TsgBrushObject\n    ResourceName = 'Round'\n  end\n" +
           Style("TestButtonstyle", 1) + "end\n",
       "", TsgTestButton::StaticClass(), "Round", 1},
      {"no book, no default", "", "", TsgTestButton::StaticClass(), "", 0},
  };
  for (const auto& c : cases) {
    ResetDefaultStyle();
    g_defaultText = c.def;
    SetBookText(book, c.book);
    auto* ctl = static_cast<TsgControl*>(c.cls->Create(nullptr));
    ctl->SetParent(root);
    ctl->SetResource(c.resource);  // applies at once
    EXPECT_EQ(StyleTag(ctl), c.tag) << c.what;
    classlib::Free(ctl);
  }
}

TEST_F(Controls, NamedGlobalResourceIsFoundWhenBooksHaveNone) {
  auto* part = Make<TsgVisualObject>();
  part->SetResourceName("Loose");
  part->SetTag(9);
  auto* ctl = Make<TsgTestButton>();
  ctl->SetResource("Loose");
  EXPECT_EQ(StyleTag(ctl), 9);
  EXPECT_NE(ctl->StyleObject(), part);  // a clone
}

TEST_F(Controls, AppliedStyleIsAFirstLockedUnstoredContentsClone) {
  SetBookText(book, Book("  object TsgVisualObject\n    ResourceName = 'TestButtonstyle'\n"
                         "    Tag = 1\n    DesignHide = True\n    object TsgVisualObject\n"
                         "      ResourceName = 'text'\n    end\n  end\n"));
  auto* ctl = Make<TsgTestButton>();
  auto* own = Make<TsgVisualObject>(ctl);
  ClickSink sink;
  ctl->OnApplyResource = classlib::EventOf<&ClickSink::Clicked>(&sink);
  const int& applied = sink.Clicks;
  EXPECT_EQ(ctl->StyleObject(), nullptr);  // lazily: not before the first paint
  ctl->BeforePaint();
  TsgVisualObject* style = ctl->StyleObject();
  ASSERT_NE(style, nullptr);
  EXPECT_EQ(ctl->GetChild(0), style);
  EXPECT_EQ(ctl->GetChild(1), own);
  EXPECT_EQ(style->GetIndex(), 0);
  EXPECT_EQ(own->GetIndex(), 1);
  EXPECT_EQ(style->Align(), vaContents);
  EXPECT_FALSE(style->DesignHide());
  EXPECT_EQ(style->ResourceName(), "");
  EXPECT_EQ(style->Owner(), ctl);
  TsgObject* text = ctl->FindResource("TEXT");
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(text->Parent(), style);
  for (TsgObject* o : {static_cast<TsgObject*>(style), text}) {
    EXPECT_FALSE(o->Stored());
    EXPECT_TRUE(o->Visual()->Locked());
  }
  EXPECT_EQ(applied, 1);
  EXPECT_EQ(ctl->Applied, 1);
  EXPECT_FALSE(ctl->NeedStyle());
  ctl->BeforePaint();  // nothing pending: the same clone
  EXPECT_EQ(ctl->StyleObject(), style);
  EXPECT_EQ(applied, 1);
}

TEST_F(Controls, ResourceOfItsOwnStyleAppliesNothing) {
  SetBookText(book, Book(Style("Self", 1) + Style("TestButtonstyle", 2)));
  auto* ctl = Make<TsgTestButton>();
  ctl->SetResourceName("self");
  ctl->SetResource("Self");
  EXPECT_EQ(ctl->StyleObject(), nullptr);
}

TEST_F(Controls, ChangingResourceReplacesTheStyleAfterFreeStyle) {
  SetBookText(book, Book(Style("A", 1) + Style("B", 2)));
  auto* ctl = Make<TsgTestButton>();
  ctl->SetResource("A");
  TsgVisualObject* first = ctl->StyleObject();
  ASSERT_NE(first, nullptr);
  const int live = LiveObjects();
  ctl->SetResource("B");
  EXPECT_EQ(StyleTag(ctl), 2);
  EXPECT_EQ(ctl->Freed, std::vector<int>{1});  // the old clone, still in place
  EXPECT_EQ(LiveObjects(), live);              // and freed afterwards
  EXPECT_EQ(ctl->GetChildrenCount(), 1);
  // While updating, the change waits for the next chance.
  ctl->BeginUpdate();
  ctl->SetResource("A");
  EXPECT_EQ(StyleTag(ctl), 2);
  ctl->EndUpdate();
  ctl->BeforePaint();
  EXPECT_EQ(StyleTag(ctl), 1);
  // A style freed from outside is forgotten, not freed again.
  ctl->DeleteChildren();
  EXPECT_EQ(ctl->StyleObject(), nullptr);
  ctl->UpdateStyle();
  EXPECT_EQ(StyleTag(ctl), 1);
  EXPECT_EQ(ctl->Freed, (std::vector<int>{1, 2}));
}

TEST_F(Controls, ReappliedStyleShowsTheFocusAgain) {
  SetBookText(book, Book(Style("TestButtonstyle", 1)));
  auto* ctl = Make<TsgTestButton>();
  ctl->CanFocused = true;
  ctl->SetFocus();
  ctl->EnterFocus();  // applies the style first, then raises the focus
  ASSERT_TRUE(ctl->IsFocused());
  EXPECT_EQ(StyleTag(ctl), 1);
  ctl->Triggers.clear();
  scene->UpdateRects.clear();
  ctl->UpdateStyle();
  EXPECT_EQ(ctl->Triggers, std::vector<std::string>{"IsFocused"});
  EXPECT_FALSE(scene->UpdateRects.empty());
  // Not focused, or with the focus effect off: no trigger.
  ctl->DisableFocusEffect = true;
  ctl->Triggers.clear();
  ctl->UpdateStyle();
  EXPECT_TRUE(ctl->Triggers.empty());
}

TEST_F(Controls, TargetsFollowTheirSourceAndLeaveWhenFreed) {
  auto* source = Make<TsgTestButton>();
  source->SetName("src");
  auto* a = Make<TsgTestButton>();
  auto* b = Make<TsgTestButton>();
  a->SetBindingSource(source);
  EXPECT_EQ(a->Data, std::vector<std::string>{"src"});  // pushed on joining
  b->SetBindingSource(source);
  b->SetBindingSource(source);  // unchanged: nothing
  ASSERT_EQ(source->BindingTargets(), (std::vector<TsgControl*>{a, b}));
  EXPECT_EQ(a->Data.size(), 2u);  // every target hears of a new one
  EXPECT_EQ(b->Data.size(), 1u);
  source->NotifyBindingTargets();
  EXPECT_EQ(a->Data.size(), 3u);
  EXPECT_EQ(b->Data.size(), 2u);

  classlib::Free(a);
  EXPECT_EQ(source->BindingTargets(), std::vector<TsgControl*>{b});
  b->SetBindingSource(nullptr);
  EXPECT_TRUE(source->BindingTargets().empty());
  EXPECT_EQ(b->NotifyClientCount(), 0);

  // A freed source leaves no target pointing at it.
  b->SetBindingSource(source);
  EXPECT_EQ(b->NotifyClientCount(), 1);
  classlib::Free(source);
  EXPECT_EQ(b->BindingSource(), nullptr);
  EXPECT_EQ(b->NotifyClientCount(), 0);
}

// ---- actions through a recording bridge
class TFakeAction : public classlib::TComponent {
  CL_DECLARE_CLASS(TFakeAction, TComponent)
 public:
  explicit TFakeAction(classlib::TComponent* AOwner) : TComponent(AOwner) {}
  TsgActionState State;
  bool Custom = true;
};
CL_CLASS(TFakeAction) {}

class TFakeLink : public classlib::TObject {
  CL_DECLARE_CLASS(TFakeLink, TObject)
 public:
  TFakeLink() = default;
  TsgControl* Client = nullptr;
  classlib::TComponent* Action = nullptr;
};
CL_CLASS(TFakeLink) {}

class FakeBridge : public IsgActionBridge {
 public:
  FakeBridge() = default;
  virtual ~FakeBridge() = default;
  FakeBridge(const FakeBridge&) = delete;
  FakeBridge& operator=(const FakeBridge&) = delete;
  classlib::TObject* CreateLink(TsgControl* control) override {
    auto* link = New<TFakeLink>();
    link->Client = control;
    return link;
  }
  void SetLinkAction(classlib::TObject* link, classlib::TComponent* action) override {
    static_cast<TFakeLink*>(link)->Action = action;
  }
  classlib::TComponent* LinkAction(classlib::TObject* link) override {
    return static_cast<TFakeLink*>(link)->Action;
  }
  void UpdateLink(classlib::TObject*) override { ++Updates; }
  bool ReadCustomAction(classlib::TComponent* action, TsgActionState& state) override {
    auto* a = static_cast<TFakeAction*>(action);
    if (!a->Custom) return false;
    state = a->State;
    return true;
  }
  bool IsHelpLinked(classlib::TObject*) override { return HelpLinked; }
  int Updates = 0;
  bool HelpLinked = false;
};

class ControlActions : public Controls {
 protected:
  void SetUp() override {
    Controls::SetUp();
    SetActionBridge(&bridge);
    action = New<TFakeAction>(nullptr);
    action->State.Caption = u"Go";
    action->State.Hint = u"Go now";
    action->State.Enabled = false;
    action->State.Visible = false;
    action->State.OnExecute = classlib::EventOf<&ClickSink::Clicked>(&sink);
  }
  void TearDown() override {
    classlib::Free(action);
    Controls::TearDown();
    SetActionBridge(nullptr);
  }
  FakeBridge bridge;
  ClickSink sink;
  TFakeAction* action = nullptr;
};

TEST_F(ControlActions, CheckDefaultsKeepsWhatWasSetExplicitly) {
  const auto other = classlib::EventOf<&ClickSink::Other>(&sink);
  const struct {
    const char* what;
    bool check;
    std::u16string text, hint;
    bool enabled, visible, ownClick;
    // expected
    std::u16string text2, hint2;
    bool enabled2, visible2, actionClick;
  } cases[] = {
      {"plain change copies everything", false, u"Mine", u"Mine", true, true, true, u"Go",
       u"Go now", false, false, true},
      {"explicit values are kept", true, u"Mine", u"Mine", false, false, true, u"Mine", u"Mine",
       false, false, false},
      {"defaults are taken", true, u"", u"", true, true, false, u"Go", u"Go now", false, false,
       true},
      {"a text equal to the Name counts as default", true, u"lbl", u"", true, true, false, u"Go",
       u"Go now", false, false, true},
  };
  for (const auto& c : cases) {
    auto* ctl = Make<TsgTestLabel>();
    ctl->SetName("lbl");
    ctl->Text = c.text;
    ctl->SetHint(c.hint);
    ctl->SetEnabled(c.enabled);
    ctl->SetVisible(c.visible);
    if (c.ownClick) ctl->OnClick = other;
    ctl->ActionChange(action, c.check);
    EXPECT_EQ(ctl->Text, c.text2) << c.what;
    EXPECT_EQ(ctl->Hint(), c.hint2) << c.what;
    EXPECT_EQ(ctl->Enabled(), c.enabled2) << c.what;
    EXPECT_EQ(ctl->Visible(), c.visible2) << c.what;
    EXPECT_EQ(ctl->OnClick == action->State.OnExecute, c.actionClick) << c.what;
    classlib::Free(ctl);
  }
}

TEST_F(ControlActions, LinkFollowsTheActionUntilItIsFreed) {
  auto* ctl = Make<TsgTestLabel>();
  ctl->SetAction(action);
  EXPECT_EQ(ctl->GetAction(), action);
  EXPECT_EQ(ctl->Text, u"Go");  // copied at once
  ctl->UpdateAction();
  EXPECT_EQ(bridge.Updates, 1);
  // Only custom actions are copied.
  action->Custom = false;
  action->State.Caption = u"Later";
  ctl->ActionChange(action, false);
  EXPECT_EQ(ctl->Text, u"Go");
  // Help supplied by a linked action is not stored.
  ctl->SetHelpContext(12);
  bridge.HelpLinked = true;
  EXPECT_FALSE(ctl->HelpStored());
  classlib::Free(action);
  action = nullptr;
  EXPECT_EQ(ctl->GetAction(), nullptr);
  EXPECT_EQ(ctl->ActionLink(), nullptr);
  EXPECT_TRUE(ctl->HelpStored());
}

// A host whose active control is chosen by the test.
class ActiveScene : public FakeScene {
 public:
  explicit ActiveScene(classlib::TComponent* AOwner) : FakeScene(AOwner) {}
  TsgControl* GetActiveControl() override { return Active; }
  TsgControl* Active = nullptr;
};

TEST_F(Controls, TheScenesActiveControlTakesTheFocusWhenLoaded) {
  auto* host = New<ActiveScene>(nullptr);
  auto* panel = New<TsgVisualObject>(nullptr);
  host->AddObject(panel);
  auto* active = New<TsgTestButton>(nullptr);
  auto* other = New<TsgTestButton>(nullptr);
  for (TsgTestButton* c : {active, other}) {
    c->CanFocused = true;
    c->SetParent(panel);
  }
  host->Active = active;
  other->Loaded();
  EXPECT_EQ(host->Focused, nullptr);
  active->Loaded();
  EXPECT_EQ(host->Focused, active);
  classlib::Free(panel);
  classlib::Free(host);
}

TEST_F(Controls, HelpSettersSwitchTheHelpType) {
  auto* ctl = Make<TsgTestButton>();
  EXPECT_EQ(ctl->HelpType(), classlib::THelpType::htContext);
  ctl->SetHelpKeyword("intro");
  EXPECT_EQ(ctl->HelpType(), classlib::THelpType::htKeyword);
  ctl->SetHelpContext(3);
  EXPECT_EQ(ctl->HelpType(), classlib::THelpType::htContext);
}

// ---- tab orders
TEST_F(Controls, TabOrderMovesWithinTheParentsListClamped) {
  auto* panel = Make<TsgVisualObject>();
  std::vector<TsgTestButton*> c = {Make<TsgTestButton>(panel), Make<TsgTestButton>(panel),
                                   Make<TsgTestButton>(panel)};
  const struct {
    int index, value;
    std::vector<int> order;  // of the original positions
  } cases[] = {{0, 2, {1, 2, 0}}, {2, -5, {2, 0, 1}}, {0, 99, {1, 2, 0}}, {1, 1, {0, 1, 2}}};
  for (const auto& t : cases) {
    c[static_cast<size_t>(t.index)]->SetTabOrder(t.value);
    std::vector<int> order;
    for (TsgVisualObject* e : panel->TabList())
      order.push_back(static_cast<int>(std::find(c.begin(), c.end(), e) - c.begin()));
    EXPECT_EQ(order, t.order) << t.index << " to " << t.value;
    // Back to 0, 1, 2.
    for (int i = 0; i < 3; ++i) c[static_cast<size_t>(i)]->SetTabOrder(i);
  }
  auto* loose = New<TsgTestButton>(nullptr);
  EXPECT_EQ(loose->GetTabOrder(), -1);
  loose->SetTabOrder(3);  // nowhere to move: nothing
  EXPECT_EQ(loose->GetTabOrder(), -1);
  classlib::Free(loose);
}

TEST_F(Controls, GetTabListAppendsInTabOrderAndNestsWhenRecursive) {
  auto* form = Make<TsgTestButton>();
  auto* a = Make<TsgTestButton>(form);
  auto* b = Make<TsgTestButton>(form);
  auto* a1 = Make<TsgTestButton>(a);
  auto* a2 = Make<TsgTestButton>(a);
  auto* b1 = Make<TsgTestButton>(b);
  b->SetTabOrder(0);
  a2->SetTabOrder(0);
  auto* before = Make<TsgTestButton>();
  const struct {
    bool recursive;
    std::vector<TsgVisualObject*> expected;
  } cases[] = {{false, {before, b, a}}, {true, {before, b, b1, a, a2, a1}}};
  for (const auto& t : cases) {
    std::vector<TsgVisualObject*> list{before};  // appended to, not replaced
    form->GetTabList(list, t.recursive);
    EXPECT_EQ(list, t.expected) << t.recursive;
  }
  std::vector<TsgVisualObject*> none;
  b1->GetTabList(none, true);
  EXPECT_TRUE(none.empty());
}

TEST_F(Controls, PendingTabOrdersApplyAfterLoading) {
  const struct {
    std::vector<int> pending;  // per child in stream order; -1: none
    std::vector<int> order;    // tags in the resulting tab list
  } cases[] = {
      {{-1, -1, -1}, {1, 2, 3}}, {{2, 1, 0}, {3, 2, 1}},
      {{1, -1, -1}, {2, 1, 3}},  {{0, 0, -1}, {2, 1, 3}},  // a later entry with the same value wins
      {{7, 1, -1}, {1, 2, 3}},                             // out of range: ignored
  };
  for (const auto& t : cases) {
    std::string text = "object S: FakeScene\n  object P: TsgVisualObject\n";
    for (size_t i = 0; i < t.pending.size(); ++i) {
      text += "    object TsgTestButton\n      Tag = " + std::to_string(i + 1) + "\n";
      if (t.pending[i] >= 0) text += "      TabOrder = " + std::to_string(t.pending[i]) + "\n";
      text += "    end\n";
    }
    text += "  end\nend\n";
    auto* host = New<FakeScene>(nullptr);
    classlib::TStringStream in(text);
    classlib::TMemoryStream binary;
    classlib::ObjectTextToBinary(in, binary);
    binary.SetPosition(0);
    ReadObjectFromStream(host, binary);
    ASSERT_EQ(host->Roots.size(), 1u);
    std::vector<int> order;
    for (TsgVisualObject* e : host->Roots[0]->Visual()->TabList()) order.push_back(e->Tag());
    EXPECT_EQ(order, t.order) << text;
    classlib::Free(host->Roots[0]);
    classlib::Free(host);
  }
}

TEST_F(Controls, SceneUpdatesAreHeldWhileALoadingControlIsStyled) {
  SetBookText(book, Book(Style("EagerButtonstyle", 4)));
  auto* host = New<FakeScene>(nullptr);
  host->Style = book;
  classlib::TStringStream in(
      "object S: FakeScene\n  object P: TsgVisualObject\n    object TsgEagerButton\n"
      "      StyleNow = True\n    end\n  end\nend\n");
  classlib::TMemoryStream binary;
  classlib::ObjectTextToBinary(in, binary);
  binary.SetPosition(0);
  ReadObjectFromStream(host, binary);
  ASSERT_EQ(host->Roots.size(), 1u);
  auto* ctl = dynamic_cast<TsgEagerButton*>(host->Roots[0]->GetChild(0));
  ASSERT_NE(ctl, nullptr);
  EXPECT_EQ(StyleTag(ctl), 4);
  EXPECT_TRUE(ctl->HeldWhileApplying);
  EXPECT_FALSE(host->DisableUpdate);  // given back
  classlib::Free(host->Roots[0]);
  classlib::Free(host);
}

// ---- style books
TEST_F(Controls, BookRefillRestylesEveryScene) {
  auto* scene2 = New<FakeScene>(nullptr);
  scene2->Style = book;
  book->AddScene(scene2);
  book->AddScene(scene2);  // once only
  auto* one = Make<TsgTestButton>();
  auto* two = New<TsgTestButton>(nullptr);
  scene2->AddObject(two);
  g_defaultText = Book(Style("TestButtonstyle", 50));
  const struct {
    const char* what;
    std::string text;
    int tag;
    bool root;
  } cases[] = {
      {"first fill", Book(Style("TestButtonstyle", 1)), 1, true},
      {"refill", Book(Style("TestButtonstyle", 2)), 2, true},
      {"no such style: the default's", Book(Style("Other", 3)), 50, true},
      {"malformed text: no root", "object TsgBackground\n  Tag = \n", 50, false},
      {"unregistered class: no root", Book("  object TNoSuch\n  end\n"), 50, false},
      {"not a scene object: no root", "object X: TsgResources\nend\n", 50, false},
      {"again", Book(Style("TestButtonstyle", 4)), 4, true},
      {"empty text: no root", "", 50, false},
  };
  const int live = LiveObjects();
  for (const auto& c : cases) {
    scene->Log.clear();
    scene2->Log.clear();
    SetBookText(book, c.text);
    EXPECT_EQ(book->Root() != nullptr, c.root) << c.what;
    EXPECT_EQ(scene->CountLog("UpdateStyle"), 1) << c.what;
    EXPECT_EQ(scene2->CountLog("UpdateStyle"), 1) << c.what;
    EXPECT_EQ(StyleTag(one), c.tag) << c.what;
    EXPECT_EQ(StyleTag(two), c.tag) << c.what;
    // Each control's clone and the default tree; nothing of a failed load.
    if (!c.root) {
      EXPECT_EQ(LiveObjects(), live + 4) << c.what;
    }
  }
  book->RemoveScene(scene2);
  EXPECT_EQ(book->Scenes().size(), 1u);
  classlib::Free(two);
  classlib::Free(scene2);
}

TEST_F(Controls, BookStoresItsTreeAsBinaryNotAsText) {
  SetBookText(book, Book("  object TsgVisualObject\n    ResourceName = 'TestButtonstyle'\n"
                         "    Tag = 6\n    DesignHide = True\n  end\n"));
  // The book shows its styles in the designer.
  ASSERT_NE(book->Root(), nullptr);
  EXPECT_FALSE(book->Root()->FindResource("TestButtonstyle")->Visual()->DesignHide());
  classlib::TMemoryStream stored;
  SaveObjectToStream(book, stored);
  classlib::TMemoryStream text;
  stored.SetPosition(0);
  classlib::ObjectBinaryToText(stored, text);
  const std::string form(reinterpret_cast<const char*>(text.Memory()),
                         static_cast<size_t>(text.Size()));
  EXPECT_NE(form.find("ResourcesBin"), std::string::npos) << form;
  EXPECT_EQ(form.find("Resource ="), std::string::npos) << form;

  stored.SetPosition(0);
  auto* copy = dynamic_cast<TsgResources*>(LoadObjectFromStream(nullptr, stored));
  ASSERT_NE(copy, nullptr);
  ASSERT_NE(copy->Root(), nullptr);
  TsgObject* style = copy->Root()->FindResource("testbuttonstyle");
  ASSERT_NE(style, nullptr);
  EXPECT_EQ(style->Tag(), 6);
  classlib::Free(copy);

  // Without a tree nothing is written.
  SetBookText(book, "");
  classlib::TMemoryStream empty;
  SaveObjectToStream(book, empty);
  classlib::TMemoryStream emptyText;
  empty.SetPosition(0);
  classlib::ObjectBinaryToText(empty, emptyText);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(emptyText.Memory()),
                        static_cast<size_t>(emptyText.Size()))
                .find("ResourcesBin"),
            std::string::npos);
}

std::u16string g_programFolder;
std::u16string ProgramFolder() { return g_programFolder; }

TEST_F(Controls, StyleFileBesideTheProgramWinsOverTheWorkingFolder) {
  namespace fs = std::filesystem;
  const fs::path saved = fs::current_path();
  const fs::path base = fs::temp_directory_path() / ("sgstyle_" + std::to_string(::getpid()));
  fs::create_directories(base / "prog");
  fs::create_directories(base / "work");
  fs::current_path(base / "work");
  g_programFolder = classlib::Utf8ToWide((base / "prog").string() + "/");
  SetProgramFolderSource(&ProgramFolder);
  auto write = [](const fs::path& p, int tag) {
    std::ofstream(p) << Book(Style("TestButtonstyle", tag));
  };
  auto* ctl = Make<TsgTestButton>();
  const struct {
    const char* what;
    bool beside, working;
    int tag;
  } cases[] = {
      {"both: beside the program", true, true, 1},
      {"working folder only", false, true, 2},
      {"neither: the book stays", false, false, 2},
  };
  int n = 0;
  for (const auto& c : cases) {
    fs::remove(base / "prog" / "style.txt");
    fs::remove(base / "work" / "style.txt");
    if (c.beside) write(base / "prog" / "style.txt", 1);
    if (c.working) write(base / "work" / "style.txt", 2);
    book->SetFileName(u"");
    book->SetFileName(u"style.txt");
    EXPECT_EQ(StyleTag(ctl), c.tag) << c.what << ++n;
  }
  SetProgramFolderSource(nullptr);
  fs::current_path(saved);
  fs::remove_all(base);
}

TEST_F(Controls, DefaultStyleIsReadOnceEvenWhenMissing) {
  g_defaultText = Book(Style("TestButtonstyle", 2));
  auto* a = Make<TsgTestButton>();
  auto* b = Make<TsgTestButton>();
  a->BeforePaint();
  b->BeforePaint();
  EXPECT_EQ(StyleTag(a), 2);
  EXPECT_EQ(StyleTag(b), 2);
  EXPECT_EQ(g_defaultReads, 1);

  ResetDefaultStyle();
  g_defaultReads = 0;
  g_defaultText.clear();  // the program has no default style
  a->UpdateStyle();
  b->UpdateStyle();
  EXPECT_EQ(g_defaultReads, 1);
  EXPECT_EQ(LoadedDefaultStyle(), nullptr);
  EXPECT_EQ(StyleTag(a), 2);  // nothing found: the applied style stays
}

// ---- the two plain classes
TEST_F(Controls, BackgroundWithAFillOrOnATransparentWindowLeavesItsStyleOut) {
  test::RegisterVisualTestClasses();
  auto* canvas = New<test::TRecordingCanvas>(100, 100);
  scene->Canvas = canvas;
  SetBookText(book, Book("  object TProbe\n    ResourceName = 'backgroundstyle'\n  end\n"));
  const struct {
    const char* what;
    TsgBrushStyle fill;
    bool transparentWindow, sceneRoot;
    bool filled, stylePainted;
  } cases[] = {
      {"no fill: the style paints", sgBrushNone, false, false, false, true},
      {"a fill: the background alone", sgBrushSolid, false, false, true, false},
      {"a fill as the scene's root", sgBrushSolid, false, true, true, false},
      {"transparent window, the scene's root", sgBrushNone, true, true, false, false},
      {"transparent window, below the root", sgBrushNone, true, false, false, true},
  };
  for (const auto& c : cases) {
    auto* bg = New<TsgBackground>(nullptr);
    if (c.sceneRoot)
      scene->AddObject(bg);
    else
      bg->SetParent(root);
    bg->SetBounds(0, 0, 40, 30);
    bg->SetOpacity(0.5f);
    test::Probe("own", bg, 0, 0, 10, 10);
    bg->Fill()->SetStyle(c.fill);
    scene->Transparency = c.transparentWindow;
    bg->BeforePaint();
    ASSERT_NE(bg->StyleObject(), nullptr) << c.what;
    scene->UpdateRects = {{0, 0, 100, 100}};
    canvas->Calls.clear();
    bg->Paint();
    bg->PaintChildren();
    const auto has = [&](const std::string& prefix) {
      return std::any_of(canvas->Calls.begin(), canvas->Calls.end(),
                         [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
    };
    EXPECT_EQ(has("FillRect #FFE0E0E0 (0,0,40,30)"), c.filled) << c.what;
    // The style's probe has no name: its line is "Paint ".
    EXPECT_EQ(std::count(canvas->Calls.begin(), canvas->Calls.end(), "Paint ") > 0, c.stylePainted)
        << c.what;
    EXPECT_TRUE(has("Paint own")) << c.what;
    EXPECT_TRUE(bg->StyleObject()->Visible()) << c.what;  // shown again
    if (c.sceneRoot) scene->RemoveObject(bg);
    classlib::Free(bg);
  }
  scene->Canvas = nullptr;
  classlib::Free(canvas);
}

TEST_F(Controls, ContentChildrenAreWrittenAsTheControls) {
  auto* ctl = Make<TsgTestButton>();
  auto* content = Make<TsgContent>(ctl);
  EXPECT_TRUE(content->IsContentObject());
  EXPECT_EQ(content->ChildWritingParent(), ctl);
  auto* loose = New<TsgContent>(nullptr);
  EXPECT_EQ(loose->ChildWritingParent(), loose);
  classlib::Free(loose);
}

}  // namespace
}  // namespace kelm::scene

// The scene object tree: structure, lookup, triggers, destruction, the
// global object list and references.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "classlib/lists.h"
#include "scene/sg_classes.h"
#include "scene/sg_object.h"
#include "scene_fakes.h"
#include "tree_test_classes.h"

namespace kelm::scene {
namespace {

using classlib::New;
using test::Calls;
using test::FakeScene;
using test::NameOf;
using test::TTestAnimation;
using test::TTestControl;
using test::TTestEffect;
using test::TTestObject;
using test::TTestVisual;

template <class T = TTestObject>
T* Make(const std::string& name, TsgObject* parent = nullptr) {
  T* obj = New<T>(nullptr);
  obj->SetName(name);
  if (parent) parent->AddObject(obj);
  return obj;
}

std::vector<std::string> ChildNames(TsgObject* obj) {
  std::vector<std::string> r(static_cast<size_t>(obj->GetChildrenCount()));
  for (size_t i = 0; i < r.size(); ++i) r[i] = NameOf(obj->GetChild(static_cast<int>(i)));
  return r;
}

using Names = std::vector<std::string>;

void ReferencesHelper() {}

class SceneTree : public ::testing::Test {
 protected:
  void SetUp() override {
    test::RegisterTestClasses();
    Calls().clear();
    scene = New<FakeScene>(nullptr);
  }
  void TearDown() override { classlib::Free(scene); }
  FakeScene* scene = nullptr;
};

TEST_F(SceneTree, AddingMovesAChildAndKeepsOneEntry) {
  auto* a = Make("a");
  auto* b = Make("b");
  scene->AddObject(a);
  auto* c = Make("c", a);
  EXPECT_EQ(c->Scene(), scene);
  EXPECT_EQ(c->Parent(), a);
  b->AddObject(c);
  EXPECT_EQ(ChildNames(a), Names{});
  EXPECT_EQ(ChildNames(b), Names{"c"});
  EXPECT_EQ(c->Scene(), nullptr);  // b is detached: so is c now
  b->AddObject(c);
  EXPECT_EQ(b->GetChildrenCount(), 1);
  // A tree cannot hold itself or an ancestor.
  c->AddObject(b);
  c->AddObject(c);
  EXPECT_EQ(c->GetChildrenCount(), 0);
  EXPECT_EQ(b->Parent(), nullptr);
  b->AddObject(nullptr);
  EXPECT_EQ(b->GetChildrenCount(), 1);
  classlib::Free(b);
}

TEST_F(SceneTree, VisualStepsRunOnlyBetweenVisualObjects) {
  auto* v = Make<TTestVisual>("v");
  auto* w = Make<TTestVisual>("w", v);
  auto* plain = Make("plain", v);
  auto* p = Make("p");
  Make<TTestVisual>("x", p);
  EXPECT_EQ(Calls(), Names{"ChildAdded v w"});
  Calls().clear();
  v->RemoveObject(v->GetChild(0));
  v->RemoveObject(v->GetChild(0));
  EXPECT_EQ(Calls(), (Names{"ChildRemoving v w", "ChildRemoved v w", "ChildRemoved v plain"}));
  classlib::Free(w);
  classlib::Free(plain);
  classlib::Free(p);
  classlib::Free(v);
}

TEST_F(SceneTree, RemovingRecomputesLaterIndexes) {
  auto* root = Make("root");
  auto* a = Make("a", root);
  auto* b = Make("b", root);
  auto* c = Make("c", root);
  EXPECT_EQ(c->GetIndex(), 2);  // cached now
  root->RemoveObject(a);
  EXPECT_EQ(b->GetIndex(), 0);
  EXPECT_EQ(c->GetIndex(), 1);
  EXPECT_EQ(a->GetIndex(), -1);
  EXPECT_EQ(a->Parent(), nullptr);
  auto* stranger = Make("stranger");
  root->RemoveObject(stranger);  // not a child: nothing
  EXPECT_EQ(root->GetChildrenCount(), 2);
  classlib::Free(stranger);
  classlib::Free(a);
  classlib::Free(root);
}

TEST_F(SceneTree, ExchangeAndIndexMoves) {
  auto* root = Make<TTestVisual>("root");
  auto* a = Make<TTestVisual>("a", root);
  auto* b = Make("b", root);
  auto* c = Make<TTestVisual>("c", root);
  auto* stranger = Make("stranger");
  Calls().clear();
  root->Exchange(a, c);
  EXPECT_EQ(ChildNames(root), (Names{"c", "b", "a"}));
  EXPECT_EQ(a->GetIndex(), 2);
  EXPECT_EQ(c->GetIndex(), 0);
  root->Exchange(a, stranger);
  EXPECT_EQ(ChildNames(root), (Names{"c", "b", "a"}));
  EXPECT_EQ(Calls(), Names{"Realign root"});

  Calls().clear();
  a->SetIndex(0);
  EXPECT_EQ(ChildNames(root), (Names{"a", "c", "b"}));
  EXPECT_EQ(b->GetIndex(), 2);
  EXPECT_EQ(Calls(), Names{"Realign root"});
  b->SetIndex(1);  // not visual: no realign
  EXPECT_EQ(Calls().size(), 1u);
  EXPECT_THROW(a->SetIndex(3), classlib::EListError);
  EXPECT_EQ(ChildNames(root), (Names{"a", "b", "c"}));  // intact

  Calls().clear();
  a->BringToFront();
  EXPECT_EQ(ChildNames(root), (Names{"b", "c", "a"}));
  EXPECT_EQ(a->GetIndex(), 2);
  c->SendToBack();
  EXPECT_EQ(ChildNames(root), (Names{"c", "b", "a"}));
  EXPECT_EQ(b->GetIndex(), 1);
  EXPECT_EQ(Calls(), (Names{"Repaint a", "Realign root"}));

  root->SortChildren([](TsgObject* x, TsgObject* y) { return x->Name().compare(y->Name()); });
  EXPECT_EQ(ChildNames(root), (Names{"a", "b", "c"}));
  EXPECT_EQ(c->GetIndex(), 2);
  EXPECT_EQ(stranger->GetIndex(), -1);
  EXPECT_EQ(root->GetChild(3), nullptr);
  EXPECT_EQ(root->GetChild(-1), nullptr);
  classlib::Free(stranger);
  classlib::Free(root);
}

TEST_F(SceneTree, CollectingAndStoredFlags) {
  auto* root = Make("root");
  auto* a = Make<TTestControl>("a", root);
  auto* a1 = Make("a1", a);
  auto* a2 = Make<TTestControl>("a2", a1);
  auto* b = Make("b", root);
  std::vector<TsgObject*> list;
  root->CollectTree(list);
  Names names;
  for (auto* o : list) names.push_back(NameOf(o));
  EXPECT_EQ(names, (Names{"root", "a", "a1", "a2", "b"}));
  list.clear();
  root->CollectControls(list);
  EXPECT_EQ(list, (std::vector<TsgObject*>{a, a2}));

  // A subtree whose root already has the value is left alone.
  a1->SetStored(false);
  EXPECT_FALSE(a2->Stored());  // it went with a1
  a2->SetStored(true);
  root->SetStored(false);
  EXPECT_FALSE(a->Stored());
  EXPECT_FALSE(a1->Stored());
  EXPECT_TRUE(a2->Stored());  // under a1, which already was off
  EXPECT_FALSE(b->Stored());
  classlib::Free(root);
}

TEST_F(SceneTree, ResourcesAndBindings) {
  auto* root = Make("root");
  auto* plain = Make("plain", root);
  auto* nested = Make("nested", plain);
  nested->SetResourceName("Brush1");
  auto* control = Make<TTestControl>("control", root);
  control->SetResourceName("Ctl");
  Make("inner", control)->SetResourceName("Hidden");
  EXPECT_EQ(root->FindResource("brush1"), nested);
  EXPECT_EQ(root->FindResource("ctl"), control);
  EXPECT_EQ(root->FindResource("Hidden"), nullptr);  // inside a control
  EXPECT_EQ(control->FindResource("hidden"), control->GetChild(0));
  EXPECT_EQ(root->FindResource(""), nullptr);

  nested->SetBindingName("Total");
  control->SetBindingName("Total");
  EXPECT_EQ(root->FindBindingObject("TOTAL"), nested);  // depth first, in order
  root->SetBinding("total", classlib::TVariant(u"42"));
  EXPECT_EQ(root->GetBinding("Total").ToString(), u"42");
  EXPECT_EQ(root->GetBinding("unknown").VarType(), classlib::TVarType::varString);
  EXPECT_EQ(root->GetBinding("unknown").ToString(), u"");
  EXPECT_NO_THROW(root->SetBinding("total", classlib::TVariant(u"raise")));
  EXPECT_EQ(root->GetBinding("total").ToString(), u"42");
  root->SetBindingName("self");
  EXPECT_EQ(root->FindBindingObject("SELF"), root);
  EXPECT_EQ(root->TsgObject::GetData().ToString(), u"root");
  EXPECT_EQ(root->GetDesignItemClasses(), "");
  classlib::Free(root);
}

TEST_F(SceneTree, StylesUpdateDownTheTreeButNotWhileDestroying) {
  auto* root = Make("root");
  auto* a = Make<TTestVisual>("a", root);
  Make<TTestVisual>("b", a);
  scene->AddObject(root);
  Calls().clear();
  scene->UpdateStyle();
  EXPECT_EQ(Calls(), (Names{"UpdateStyle a", "UpdateStyle b"}));
  Calls().clear();
  a->Destroying();
  root->UpdateStyle();
  EXPECT_EQ(Calls(), Names{"UpdateStyle a"});  // a itself passes nothing on
}

TEST_F(SceneTree, DestructionDetachesInOrder) {
  auto* root = Make("root");
  scene->AddObject(root);
  auto* child = Make("child", root);
  auto* grandchild = Make("grandchild", child);
  auto* holder = New<test::TTestRefHolder>();
  holder->Ref = child;
  auto* watcher = New<test::TTestWatcher>(nullptr);
  watcher->SetName("watcher");
  child->AddNotifyClient(holder);
  child->AddNotifyClient(watcher);
  child->AddNotifyClient(watcher);  // once only
  EXPECT_EQ(child->NotifyClientCount(), 2);
  const int index = child->GlobalIndex();
  const int count = GlobalObjectCount();
  scene->Log.clear();
  classlib::Free(child);
  // Scene notice first, then the clients from the last to the first; the
  // child's own children go last.
  EXPECT_EQ(scene->Log, Names{"Notification child remove"});
  EXPECT_EQ(Calls(), (Names{"Notification child", "ObjectFreed child"}));
  EXPECT_EQ(holder->Ref, nullptr);
  EXPECT_EQ(root->GetChildrenCount(), 0);
  EXPECT_EQ(GlobalObject(index), nullptr);
  EXPECT_EQ(GlobalObjectCount(), count);
  (void)grandchild;  // freed with the child (ASan checks)

  // A root leaves its scene.
  scene->Log.clear();
  classlib::Free(root);
  EXPECT_EQ(scene->Log, (Names{"Notification root remove", "RemoveObject root"}));
  EXPECT_TRUE(scene->Roots.empty());
  classlib::Free(watcher);
  classlib::Free(holder);
}

TEST_F(SceneTree, ParentChangesRouteThroughTheTreeAndTheScene) {
  auto* a = Make("a");
  auto* b = Make("b");
  scene->AddObject(a);
  b->SetParent(a);
  EXPECT_EQ(b->Scene(), scene);
  scene->Log.clear();
  a->SetParent(b);  // b is a's child: refused, a stays a root
  EXPECT_EQ(b->Parent(), a);
  // A root given a parent leaves the scene's roots.
  auto* c = Make("c");
  scene->AddObject(c);
  c->SetParent(b);
  EXPECT_EQ(scene->CountLog("RemoveObject c"), 1);
  EXPECT_EQ(c->Scene(), scene);
  EXPECT_EQ(ChildNames(b), Names{"c"});
  // The streaming parent: a scene adds the object as a root.
  auto* d = Make("d");
  d->SetParentComponent(scene);
  EXPECT_EQ(scene->GetRoot(), a);
  EXPECT_EQ(scene->Roots.back(), d);
  EXPECT_EQ(d->GetParentComponent(), scene);
  EXPECT_EQ(c->GetParentComponent(), b);
  d->SetParentComponent(c);
  EXPECT_EQ(d->Parent(), c);
  EXPECT_EQ(scene->Roots.size(), 1u);
  EXPECT_TRUE(d->HasParent());
}

TEST_F(SceneTree, GlobalResourceSearchPrefersTheLatestLiveStoredObject) {
  auto* first = Make("first");
  auto* second = Make("second");
  auto* third = Make("third");
  for (auto* o : {first, second, third}) o->SetResourceName("ButtonStyle");
  EXPECT_EQ(FindGlobalResource("buttonstyle"), third);
  third->SetStored(false);
  EXPECT_EQ(FindGlobalResource("BUTTONSTYLE"), second);
  classlib::Free(second);
  EXPECT_EQ(FindGlobalResource("ButtonStyle"), first);
  EXPECT_EQ(FindGlobalResource("none"), nullptr);
  EXPECT_LT(first->GlobalIndex(), third->GlobalIndex());
  classlib::Free(first);
  classlib::Free(third);
  EXPECT_EQ(FindGlobalResource("ButtonStyle"), nullptr);
}

TEST_F(SceneTree, ReferencesNameOnlyLiveIssuedEntries) {
  auto* obj = Make("obj");
  classlib::TVariant ref = ObjectRefToVariant(obj);
  EXPECT_EQ(ref.ToString(), u"sgobj" + classlib::IntToStr(obj->GlobalIndex()));
  EXPECT_TRUE(IsVariantObjectRef(ref));
  EXPECT_EQ(VariantToObjectRef(ref), obj);
  classlib::Free(obj);
  EXPECT_EQ(VariantToObjectRef(ref), nullptr);  // the entry is empty now
  auto* later = Make("later");
  EXPECT_NE(ObjectRefToVariant(later).ToString(), ref.ToString());  // never reused
  for (const char16_t* bad :
       {u"sgobj", u"sgobj12x", u"sgobj-1", u"sgobj99999999999", u"obj1", u"sgobj4294967296"})
    EXPECT_EQ(VariantToObjectRef(classlib::TVariant(bad)), nullptr) << classlib::WideToUtf8(bad);
  EXPECT_FALSE(IsVariantObjectRef(classlib::TVariant()));
  EXPECT_FALSE(IsVariantObjectRef(classlib::TVariant(7)));

  classlib::TMethod m{later, reinterpret_cast<classlib::TMethodCode>(&ReferencesHelper)};
  classlib::TVariant mref = MethodRefToVariant(m);
  EXPECT_TRUE(IsVariantMethodRef(mref));
  classlib::TMethod back = VariantToMethodRef(mref);
  EXPECT_TRUE(back.Data == m.Data && back.Code == m.Code);
  EXPECT_EQ(MethodRefToVariant(m).ToString(), mref.ToString());  // one entry per method
  // Texts that look like addresses name nothing.
  for (const char16_t* bad : {u"sgmet0040100000401000", u"sgmet", u"sgmetzz", u"method"}) {
    classlib::TMethod none = VariantToMethodRef(classlib::TVariant(bad));
    EXPECT_TRUE(none.Data == nullptr && none.Code == nullptr) << classlib::WideToUtf8(bad);
  }
  EXPECT_FALSE(IsVariantMethodRef(classlib::TVariant(12)));
  classlib::Free(later);
}

// ---- animations and effects
class SceneTriggers : public SceneTree {
 protected:
  void SetUp() override {
    SceneTree::SetUp();
    root = Make<TTestVisual>("root");
    fade = Make<TTestAnimation>("Fade", root);
    fade->Trigger = "IsMouseOver=true";
    glow = Make<TTestEffect>("Glow", root);
    part = Make<TTestVisual>("part", root);
    part->Locked = true;
    part->HitTest = false;
    inner = Make<TTestAnimation>("Inner", part);
    inner->Trigger = "IsMouseOver=true";
    free = Make<TTestVisual>("free", root);  // HitTest on: not a style part
    Make<TTestAnimation>("Hidden", free)->Trigger = "IsMouseOver=true";
    named = Make<TTestAnimation>("fade", root);  // same name, other case
    Calls().clear();
  }
  void TearDown() override {
    classlib::Free(root);
    SceneTree::TearDown();
  }
  TTestVisual* root = nullptr;
  TTestAnimation* fade = nullptr;
  TTestEffect* glow = nullptr;
  TTestVisual* part = nullptr;
  TTestAnimation* inner = nullptr;
  TTestVisual* free = nullptr;
  TTestAnimation* named = nullptr;
};

TEST_F(SceneTriggers, ByNameInOrderAndStoppedInReverse) {
  root->StartAnimation(u"FADE");
  EXPECT_EQ(Calls(), (Names{"Start Fade", "Start fade"}));
  Calls().clear();
  root->StopAnimation(u"Fade");
  EXPECT_EQ(Calls(), (Names{"Stop fade", "Stop Fade"}));
  Calls().clear();
  root->StartAnimation(u"Inner");  // children only, not the parts' children
  EXPECT_TRUE(Calls().empty());
}

TEST_F(SceneTriggers, TriggersReachAnimationsEffectsAndStyleParts) {
  root->StartTriggerAnimation(root, "IsMouseOver");
  // Running trigger animations are stopped first (those with a trigger).
  EXPECT_EQ(Calls(),
            (Names{"Stop Fade", "Stop Inner", "StartTrigger Fade IsMouseOver", "Stop Inner",
                   "StartTrigger Inner IsMouseOver", "StartTrigger fade IsMouseOver"}));
  EXPECT_TRUE(fade->Running && inner->Running && !named->Running);
  Calls().clear();
  root->StopTriggerAnimation(root);
  EXPECT_EQ(Calls(), (Names{"Stop Fade", "Stop Inner"}));
  Calls().clear();
  root->ApplyTriggerEffect(root, "IsFocused");
  EXPECT_EQ(Calls(), Names{"ApplyTrigger Glow IsFocused"});
  auto* partGlow = Make<TTestEffect>("PartGlow", part);
  Calls().clear();
  root->ApplyTriggerEffect(root, "IsFocused");
  EXPECT_EQ(Calls(), (Names{"ApplyTrigger Glow IsFocused", "ApplyTrigger PartGlow IsFocused"}));
  (void)partGlow;
}

TEST_F(SceneTriggers, WaitPumpsUntilEachAnimationEnds) {
  test::ScriptedPump pump;
  pump.Then([] { Calls().push_back("pump 1"); });
  pump.Then([this] { fade->Running = false; });
  pump.Then([this] { inner->Running = false; });
  root->StartTriggerAnimationWait(root, "IsMouseOver");
  EXPECT_EQ(pump.Pumps(), 3);
  EXPECT_FALSE(pump.LimitHit());
  auto at = [](const std::string& s) {
    return std::find(Calls().begin(), Calls().end(), s) - Calls().begin();
  };
  EXPECT_LT(at("pump 1"), at("StartTrigger Inner IsMouseOver"));  // waited for Fade first
}

TEST_F(SceneTriggers, WaitSkipsLoopsAndEndsWhenThingsAreFreed) {
  {
    test::ScriptedPump pump;
    pump.Limit = 50;
    fade->Loop = true;
    inner->Loop = true;
    root->StartTriggerAnimationWait(root, "IsMouseOver");
    EXPECT_EQ(pump.Pumps(), 0);  // a looping animation never ends by itself
    EXPECT_TRUE(fade->Running);
    fade->Loop = inner->Loop = false;
  }
  {
    test::ScriptedPump pump;
    pump.Limit = 50;
    pump.Then([this] { classlib::FreeAndNil(fade); });
    pump.Then([this] { inner->Running = false; });
    root->StartTriggerAnimationWait(root, "IsMouseOver");
    EXPECT_EQ(pump.Pumps(), 2);
    EXPECT_EQ(root->GetChildrenCount(), 4);
  }
  {
    test::ScriptedPump pump;
    pump.Limit = 50;
    pump.Then([this] { classlib::FreeAndNil(part); });
    inner->Running = false;
    root->StartTriggerAnimationWait(root, "IsMouseOver");
    EXPECT_EQ(pump.Pumps(), 1);  // the part went while its animation ran
    EXPECT_EQ(root->GetChildrenCount(), 3);
  }
  {
    test::ScriptedPump pump;
    pump.Limit = 50;
    auto* host = Make<TTestVisual>("host");
    auto* anim = Make<TTestAnimation>("A", host);
    anim->Trigger = "IsPressed=true";
    Make<TTestAnimation>("B", host)->Trigger = "IsPressed=true";
    pump.Then([&host] { classlib::FreeAndNil(host); });
    host->StartTriggerAnimationWait(host, "IsPressed");
    EXPECT_EQ(pump.Pumps(), 1);  // the object itself went: the wait ends
    EXPECT_EQ(host, nullptr);
  }
  // Without a pump nothing can advance the clock: no wait at all.
  ASSERT_EQ(ProcessMessagesHook(), nullptr);
  auto* last = Make<TTestAnimation>("Last", root);
  last->Trigger = "IsMouseOver=true";
  root->StartTriggerAnimationWait(root, "IsMouseOver");
  EXPECT_TRUE(last->Running);
}

}  // namespace
}  // namespace kelm::scene

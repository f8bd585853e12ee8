// Loading, saving and cloning scene trees; class categories.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classlib/streams.h"
#include "scene/sg_classes.h"
#include "scene/sg_object.h"
#include "scene/sg_wide_strings.h"
#include "scene_fakes.h"
#include "tree_test_classes.h"

namespace kelm::scene {
namespace {

using classlib::New;
using test::TTestObject;

std::string Text(classlib::TComponent* obj) {
  classlib::TStringStream s;
  SaveObjectToTextStream(obj, s);
  return s.DataString();
}

std::vector<uint8_t> Binary(classlib::TComponent* obj) {
  classlib::TMemoryStream m;
  SaveObjectToStream(obj, m);
  return m.Bytes();
}

classlib::TComponent* FromText(const std::string& text, classlib::TComponent* owner = nullptr) {
  classlib::TStringStream s(text);
  return LoadObjectFromTextStream(owner, s);
}

classlib::TComponent* FromBinary(const std::vector<uint8_t>& bytes,
                                 classlib::TComponent* owner = nullptr) {
  classlib::TMemoryStream m;
  if (!bytes.empty()) m.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  m.SetPosition(0);
  return LoadObjectFromStream(owner, m);
}

// Live entries of the global object list.
int LiveObjects() {
  int n = 0;
  for (int i = 0; i < GlobalObjectCount(); ++i) n += GlobalObject(i) != nullptr;
  return n;
}

class SceneStreaming : public ::testing::Test {
 protected:
  void SetUp() override {
    test::RegisterTestClasses();
    owner = New<classlib::TComponent>(nullptr);
  }
  void TearDown() override { classlib::Free(owner); }
  classlib::TComponent* owner = nullptr;
};

const char* const kTree =
    "object Panel: TTestVisual\n"
    "  Caption = 'top'\n"
    "  Value = 7\n"
    "  ResourceName = 'PanelStyle'\n"
    "  Margins.Rect = '(1,2,3,4)'\n"
    "  object Title: TTestObject\n"
    "    Caption = 'title'\n"
    "    BindingName = 'TitleText'\n"
    "    Lines.strings = (\n"
    "      'one'\n"
    "      'two')\n"
    "  end\n"
    "  object Button: TTestControl\n"
    "    Position.Point = '(0.500,2)'\n"
    "    object Shine: TTestAnimation\n"
    "      Trigger = 'IsPressed=true'\n"
    "    end\n"
    "  end\n"
    "end\n";

TEST_F(SceneStreaming, TreeRoundTripsBinaryObjectsBinaryAndText) {
  auto* root = dynamic_cast<test::TTestVisual*>(FromText(kTree, owner));
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->Owner(), owner);
  EXPECT_EQ(root->Caption(), "top");
  EXPECT_EQ(root->Margins()->Bottom(), 4);
  ASSERT_EQ(root->GetChildrenCount(), 2);
  auto* title = dynamic_cast<TTestObject*>(root->GetChild(0));
  ASSERT_NE(title, nullptr);
  EXPECT_EQ(title->Lines()->Count(), 2);
  EXPECT_EQ(title->BindingName(), "TitleText");
  EXPECT_EQ(title->Owner(), root);  // children belong to the loaded root
  EXPECT_EQ(title->Parent(), root);
  auto* button = root->GetChild(1);
  EXPECT_EQ(button->GetChildrenCount(), 1);
  EXPECT_TRUE(title->WasLoaded());
  // Names are cleared on load: loaded objects never clash under the owner.
  EXPECT_EQ(root->Name(), "");
  EXPECT_EQ(title->Name(), "");

  std::vector<uint8_t> first = Binary(root);
  auto* again = FromBinary(first, owner);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(Binary(again), first);  // byte for byte
  std::string text = Text(again);
  auto* third = FromText(text);
  ASSERT_NE(third, nullptr);
  EXPECT_EQ(Text(third), text);
  EXPECT_EQ(Binary(third), first);
  classlib::Free(third);
}

TEST_F(SceneStreaming, UnregisteredClassesAndBadStreamsGiveNoneAndLeaveNothing) {
  const int live = LiveObjects();
  struct {
    const char* what;
    std::string text;
  } texts[] = {
      {"unregistered root", "object X: TNoSuchThing\nend\n"},
      {"unregistered child", "object X: TTestObject\n  object Y: TNoSuchThing\n  end\nend\n"},
      {"failing constructor",
       "object X: TTestObject\n  object Y: TTestObject\n  end\n  object Z: TTestFailing\n  "
       "end\nend\n"},
      {"not a component class", "object X: TsgBounds\nend\n"},
      {"malformed text", "object X: TTestObject\n  Caption = \n"},
      {"empty", ""},
  };
  for (const auto& t : texts) {
    EXPECT_EQ(FromText(t.text, owner), nullptr) << t.what;
    EXPECT_EQ(owner->ComponentCount(), 0) << t.what;  // the owner is as before
    EXPECT_EQ(LiveObjects(), live) << t.what;
  }
  // A binary stream cut short at every length.
  auto* whole = FromText(kTree);
  ASSERT_NE(whole, nullptr);
  std::vector<uint8_t> bytes = Binary(whole);
  classlib::Free(whole);
  for (size_t n = 0; n < bytes.size(); ++n) {
    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(n));
    EXPECT_EQ(FromBinary(cut, owner), nullptr) << n;
  }
  EXPECT_EQ(owner->ComponentCount(), 0);
  EXPECT_EQ(LiveObjects(), live);
}

TEST_F(SceneStreaming, UnknownPropertiesAreSkippedAndTheRestLoads) {
  auto* obj = dynamic_cast<TTestObject*>(
      FromText("object X: TTestObject\n  Colour = 5\n  Caption = 'kept'\n  Value = 'text'\n"
               "  Margins.Nothing = 1\n  object Y: TTestObject\n    Bogus = True\n    Value = 3\n"
               "  end\nend\n"));
  ASSERT_NE(obj, nullptr);
  EXPECT_EQ(obj->Caption(), "kept");
  EXPECT_EQ(obj->Value(), 0);
  ASSERT_EQ(obj->GetChildrenCount(), 1);
  EXPECT_EQ(dynamic_cast<TTestObject*>(obj->GetChild(0))->Value(), 3);
  classlib::Free(obj);
}

TEST_F(SceneStreaming, TwoLoadsIntoOneOwnerBothLoadUnnamed) {
  auto* a = FromText(kTree, owner);
  auto* b = FromText(kTree, owner);
  ASSERT_NE(a, nullptr);
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(owner->ComponentCount(), 2);
  EXPECT_EQ(a->Name(), "");
  EXPECT_EQ(b->Name(), "");
}

TEST_F(SceneStreaming, RootIsInDesignStateOnlyWhileRead) {
  auto* obj = dynamic_cast<TTestObject*>(FromText(kTree));
  ASSERT_NE(obj, nullptr);
  EXPECT_TRUE(obj->DesignedWhileRead());
  EXPECT_FALSE(obj->IsDesigning());
  auto* title = dynamic_cast<TTestObject*>(obj->GetChild(0));
  EXPECT_FALSE(title->DesignedWhileRead());  // only the root, not what it owns
  // An object already in design state keeps it.
  obj->SetDesigning(true, false);
  classlib::TMemoryStream m;
  SaveObjectToStream(obj, m);
  m.SetPosition(0);
  ReadObjectFromStream(obj, m);
  EXPECT_TRUE(obj->IsDesigning());
  classlib::Free(obj);
}

TEST_F(SceneStreaming, LoaderReadsFromTheCurrentPosition) {
  auto* src = FromText(kTree);
  ASSERT_NE(src, nullptr);
  classlib::TMemoryStream m;
  m.WriteBuffer("junk", 4);
  SaveObjectToStream(src, m);
  m.SetPosition(4);
  auto* obj = LoadObjectFromStream(nullptr, m);
  ASSERT_NE(obj, nullptr);
  EXPECT_EQ(Binary(obj), Binary(src));
  classlib::Free(obj);
  classlib::Free(src);
}

TEST_F(SceneStreaming, ContentChildrenAreStoredAsTheControlsOwn) {
  auto* control = New<test::TTestControl>(nullptr);
  control->SetName("Box");
  auto* content = New<test::TTestContent>(nullptr);
  content->SetName("Content");
  control->AddObject(content);
  auto* item = New<TTestObject>(nullptr);
  item->SetName("Item");
  content->AddObject(item);
  auto* caret = New<TTestObject>(nullptr);
  caret->SetName("Caret");
  caret->SetStored(false);
  content->AddObject(caret);
  auto* after = New<TTestObject>(nullptr);
  after->SetName("After");
  control->AddObject(after);
  std::string text = Text(control);
  const std::string want =
      "object Box: TTestControl\r\n"
      "  object Item: TTestObject\r\n"
      "  end\r\n"
      "  object Content: TTestContent\r\n"
      "  end\r\n"
      "  object After: TTestObject\r\n"
      "  end\r\n"
      "end\r\n";
  EXPECT_EQ(text, want);
  // The writing parent skips the content host.
  EXPECT_EQ(item->GetParentComponent(), control);
  EXPECT_EQ(content->GetParentComponent(), control);
  // A popup's children report the popup's own parent.
  auto* popup = New<test::TTestPopup>(nullptr);
  control->AddObject(popup);
  auto* inPopup = New<TTestObject>(nullptr);
  popup->AddObject(inPopup);
  EXPECT_EQ(inPopup->GetParentComponent(), control);
  classlib::Free(control);
}

TEST_F(SceneStreaming, OwnedComponentsAreWrittenBeforeTheTree) {
  auto* root = New<TTestObject>(nullptr);
  auto* child = New<TTestObject>(root);  // owned and in the tree: written once
  child->SetName("Child");
  root->AddObject(child);
  auto* watcher = New<test::TTestWatcher>(root);
  watcher->SetName("Watch");
  const std::string want =
      "object TTestObject\r\n"
      "  object Watch: TTestWatcher\r\n"
      "  end\r\n"
      "  object Child: TTestObject\r\n"
      "  end\r\n"
      "end\r\n";
  EXPECT_EQ(Text(root), want);
  auto* copy = FromBinary(Binary(root));
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->ComponentCount(), 2);
  EXPECT_EQ(dynamic_cast<TsgObject*>(copy)->GetChildrenCount(), 1);
  classlib::Free(copy);
  classlib::Free(root);
}

TEST_F(SceneStreaming, CloneCopiesTheTreeAndRestoresTheName) {
  auto* src = dynamic_cast<TTestObject*>(FromText(kTree, owner));
  ASSERT_NE(src, nullptr);
  src->SetName("Source");
  auto* parent = New<TTestObject>(nullptr);
  src->SetParent(parent);
  auto* copy = dynamic_cast<TTestObject*>(CloneSceneObject(src, owner));
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->ClassType(), src->ClassType());
  EXPECT_EQ(copy->Name(), "");
  EXPECT_EQ(src->Name(), "Source");
  EXPECT_EQ(copy->Owner(), owner);
  EXPECT_EQ(copy->Parent(), nullptr);
  EXPECT_EQ(copy->GetChildrenCount(), 2);
  EXPECT_EQ(copy->Caption(), "top");
  src->SetName("");
  EXPECT_EQ(Binary(copy), Binary(src));
  src->SetName("Source");
  // A write that fails passes its error on and leaves the name as it was.
  src->FailWrite = true;
  const int components = owner->ComponentCount();
  EXPECT_THROW(CloneSceneObject(src, owner), classlib::EWriteError);
  EXPECT_EQ(src->Name(), "Source");
  EXPECT_EQ(owner->ComponentCount(), components);
  classlib::Free(parent);
}

TEST_F(SceneStreaming, CategoriesStaySortedInRegistrationOrder) {
  const size_t before = SceneClassCategories().size();
  RegisterSceneClasses("shapes",
                       {test::TTestVisual::StaticClass(), test::TTestObject::StaticClass()});
  RegisterSceneClasses("Animations", {test::TTestAnimation::StaticClass()});
  RegisterSceneClasses("Shapes",
                       {test::TTestEffect::StaticClass(), test::TTestVisual::StaticClass()});
  const auto& list = SceneClassCategories();
  ASSERT_EQ(list.size(), before + 5);
  for (size_t i = 1; i < list.size(); ++i)
    EXPECT_LE(classlib::CompareText(list[i - 1].Category, list[i].Category), 0);
  std::vector<std::string> shapes;
  for (const auto& e : list)
    if (classlib::SameText(e.Category, "Shapes")) shapes.push_back(e.Class->ClassName());
  // After the library's own shapes, in registration order.
  ASSERT_GE(shapes.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(shapes.end() - 4, shapes.end()),
            (std::vector<std::string>{"TTestVisual", "TTestObject", "TTestEffect", "TTestVisual"}));
  EXPECT_EQ(classlib::GetClass("ttesteffect"), test::TTestEffect::StaticClass());
  EXPECT_EQ(classlib::GetClass("TsgWideStringList"), TsgWideStringList::StaticClass());
}

TEST_F(SceneStreaming, SceneListHoldsLiveHosts) {
  const size_t before = SceneList().size();
  auto* a = New<test::FakeScene>(nullptr);
  auto* b = New<test::FakeScene>(nullptr);
  AddScene(a);  // no duplicates
  EXPECT_EQ(SceneList().size(), before + 2);
  classlib::Free(a);
  EXPECT_EQ(SceneList().size(), before + 1);
  EXPECT_EQ(SceneList().back(), static_cast<IsgScene*>(b));
  classlib::Free(b);
}

}  // namespace
}  // namespace kelm::scene

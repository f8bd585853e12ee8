// The popup box: items and index, the caption, its menu rebuilt on each
// click at the centred point, data binding kinds and streams.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classlib/classdef.h"
#include "classlib/streams.h"
#include "scene/sg_classes.h"
#include "scenectrls/sg_popup_box.h"
#include "ctrl_scene.h"

namespace kelm::scenectrls {
namespace {

using classlib::New;
using test::CtrlScene;
using test::FixtureBook;
using test::FixtureStyle;

class Sink : public classlib::TObject {
 public:
  void Changed(classlib::TObject* sender) {
    Indexes.push_back(static_cast<TsgPopupBox*>(sender)->ItemIndex());
  }
  std::vector<int32_t> Indexes;
};

class PopupBox : public ::testing::Test {
 protected:
  void SetUp() override {
    ctrl.SetBook(FixtureBook(FixtureStyle("popupboxstyle")));
    box = ctrl.Add<TsgPopupBox>(5, 40, 100, 21);
    box->OnChange = classlib::EventOf<&Sink::Changed>(&sink);
    for (const char16_t* s : {u"alpha", u"beta", u"gamma"}) box->Items()->Add(s);
  }
  CtrlScene ctrl;
  Sink sink;
  TsgPopupBox* box = nullptr;
};

TEST_F(PopupBox, ItemIndexSetsTheCaptionAndOutOfRangeActsAsNone) {
  const struct {
    int32_t set, stored;
    const char16_t* caption;
    bool change;
  } cases[] = {{1, 1, u"beta", true}, {1, 1, u"beta", false}, {2, 2, u"gamma", true},
               {3, -1, u"", true},    {2, 2, u"gamma", true}, {99, -1, u"", true},
               {-7, -1, u"", false},  {0, 0, u"alpha", true}};
  for (const auto& c : cases) {
    sink.Indexes.clear();
    box->SetItemIndex(c.set);
    EXPECT_EQ(box->ItemIndex(), c.stored) << c.set;
    EXPECT_EQ(box->Text(), c.caption) << c.set;
    EXPECT_EQ(sink.Indexes.size(), c.change ? 1u : 0u) << c.set;
  }
}

TEST_F(PopupBox, TheTextSelectsItsItem) {
  box->SetTextProp(u"gamma");
  EXPECT_EQ(box->ItemIndex(), 2);
  EXPECT_EQ(sink.Indexes, std::vector<int32_t>{2});
  box->SetTextProp(u"delta");
  EXPECT_EQ(box->ItemIndex(), -1);
  EXPECT_EQ(box->Text(), u"");
  EXPECT_EQ(sink.Indexes, (std::vector<int32_t>{2, -1}));
  // An empty list shows nothing, whatever is asked.
  box->Items()->Clear();
  box->SetTextProp(u"alpha");
  box->SetItemIndex(0);
  EXPECT_EQ(box->ItemIndex(), -1);
  EXPECT_EQ(box->Text(), u"");
}

TEST_F(PopupBox, EachClickRebuildsTheMenuCentredOnTheBox) {
  box->SetItemIndex(1);
  ctrl.Menu.Choose = 2;
  box->Click();
  ASSERT_EQ(ctrl.Menu.Popups.size(), 1u);
  EXPECT_EQ(ctrl.Menu.Popups[0].Items, (std::vector<std::string>{"alpha", "beta*", "gamma"}));
  // (0, Trunc(21 / 2 - 3 * 20 div 2)) = (0, -19), moved by the box's place.
  EXPECT_EQ(ctrl.Menu.Popups[0].X, 5);
  EXPECT_EQ(ctrl.Menu.Popups[0].Y, 40 - 19);
  EXPECT_EQ(box->ItemIndex(), 2);
  EXPECT_EQ(box->Text(), u"gamma");

  box->Items()->Add(u"delta");
  box->SetHeight(30);
  ctrl.Menu.Choose = -1;  // dismissed
  box->Click();
  ASSERT_EQ(ctrl.Menu.Popups.size(), 2u);
  EXPECT_EQ(ctrl.Menu.Popups[1].Items,
            (std::vector<std::string>{"alpha", "beta", "gamma*", "delta"}));
  EXPECT_EQ(ctrl.Menu.Popups[1].Y, 40 + 15 - 40);
  EXPECT_EQ(box->ItemIndex(), 2);
  EXPECT_EQ(sink.Indexes, (std::vector<int32_t>{1, 2}));
}

TEST_F(PopupBox, OutsideASceneAClickShowsNoMenu) {
  auto* loose = New<TsgPopupBox>(nullptr);
  loose->Items()->Add(u"x");
  loose->Click();
  EXPECT_TRUE(ctrl.Menu.Popups.empty());
  classlib::Free(loose);
}

TEST_F(PopupBox, SetDataKinds) {
  Sink other;
  const struct {
    classlib::TVariant value;
    int32_t index;
  } cases[] = {{classlib::TVariant(1), 1},        {classlib::TVariant::Null(), -1},
               {classlib::TVariant(2.0), 2},      {classlib::TVariant(u"alpha"), 0},
               {classlib::TVariant(u"zeta"), -1}, {classlib::TVariant(3), -1},
               {classlib::TVariant(u"beta"), 1},  {classlib::TVariant(1e300), -1}};
  for (const auto& c : cases) {
    box->SetData(c.value);
    EXPECT_EQ(box->ItemIndex(), c.index);
    EXPECT_EQ(box->GetData(), classlib::TVariant(box->Text()));
  }
  box->SetData(scene::MethodRefToVariant(classlib::EventOf<&Sink::Changed>(&other).ToMethod()));
  box->SetItemIndex(2);
  EXPECT_EQ(other.Indexes, std::vector<int32_t>{2});
}

TEST_F(PopupBox, StreamsKeepTheIndexAndDropOneOutsideTheList) {
  box->SetItemIndex(1);
  classlib::TMemoryStream stream;
  scene::SaveObjectToStream(box, stream);
  stream.SetPosition(0);
  auto* read = dynamic_cast<TsgPopupBox*>(scene::LoadObjectFromStream(nullptr, stream));
  ASSERT_NE(read, nullptr);
  EXPECT_EQ(read->ItemIndex(), 1);
  EXPECT_EQ(read->Text(), u"beta");
  EXPECT_EQ(read->Items()->Count(), 3);
  classlib::Free(read);

  const std::string text =
      "object TsgPopupBox\n  Items.Strings = (\n    'one'\n    'two')\n  ItemIndex = 2\nend\n";
  classlib::TStringStream source(text);
  auto* bad = dynamic_cast<TsgPopupBox*>(scene::LoadObjectFromTextStream(nullptr, source));
  ASSERT_NE(bad, nullptr);
  EXPECT_EQ(bad->ItemIndex(), -1);
  EXPECT_EQ(bad->Text(), u"");
  classlib::Free(bad);
}

}  // namespace
}  // namespace kelm::scenectrls

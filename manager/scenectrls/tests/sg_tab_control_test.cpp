// The tab control on a fake scene: the row and its widths, the style below
// it, selection on release, pages shown for the selected tab only, the
// renumbering when tabs hide and show, non-tabs moved behind the tabs, and
// the selected tab painted last.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classlib/classdef.h"
#include "scene/sg_objects.h"
#include "scenectrls/sg_layouts.h"
#include "scenectrls/sg_tab_control.h"
#include "ctrl_scene.h"

namespace kelm::scenectrls {
namespace {

using classlib::New;
using scene::TsgVisualObject;
using test::CtrlScene;
using test::FixtureBook;

class Sink : public classlib::TObject {
 public:
  void Changed(classlib::TObject*) { ++Changes; }
  int Changes = 0;
};

class Tabs : public ::testing::Test {
 protected:
  void SetUp() override {
    ctrl.SetBook(FixtureBook(
        "  object TsgVisualObject\n    ResourceName = 'tabcontrolstyle'\n    HitTest = False\n"
        "    object TsgRectangle\n      ResourceName = 'background'\n      Align = vaContents\n"
        "      HitTest = False\n    end\n  end\n"
        "  object TsgVisualObject\n    ResourceName = 'tabitemstyle'\n    HitTest = False\n"
        "    object TsgRectangle\n      ResourceName = 'selected'\n      HitTest = False\n"
        "      Opacity = 0\n      object TsgFloatAnimation\n        Duration = 0\n"
        "        Trigger = 'IsSelected=true'\n        TriggerInverse = 'IsSelected=false'\n"
        "        StopValue = 1\n        PropertyName = 'Opacity'\n      end\n    end\n"
        "    object TsgText\n      ResourceName = 'text'\n      Align = vaClient\n"
        "      HitTest = False\n    end\n  end\n"));
    tc = ctrl.Add<TsgTabControl>(0, 0, 200, 200);
    tc->OnChange = classlib::EventOf<&Sink::Changed>(&sink);
  }
  TsgTabItem* AddTab(const std::u16string& text) {
    auto* tab = New<TsgTabItem>(nullptr);
    tab->SetText(text);
    tc->AddObject(tab);
    tab->ApplyResource();
    tabs.push_back(tab);
    return tab;
  }
  TsgLayout* AddPage(TsgTabItem* tab) {
    auto* page = New<TsgLayout>(nullptr);
    tc->AddObject(page);
    tab->SetLayout(page);
    return page;
  }
  CtrlScene ctrl;
  TsgTabControl* tc = nullptr;
  std::vector<TsgTabItem*> tabs;
  Sink sink;
};

TEST_F(Tabs, TheRowAndTheStyleBelowIt) {
  // Without visible tabs the style fills the whole control.
  ASSERT_NE(tc->StyleObject(), nullptr);
  EXPECT_EQ(tc->StyleObject()->Position()->Y(), 0);
  EXPECT_EQ(tc->StyleObject()->Height(), 200);
  ASSERT_NE(tc->BackgroundPart(), nullptr);
  for (const char16_t* t : {u"a", u"b", u"c"}) AddTab(t);
  struct Case {
    bool fullSize;
    float itemHeight;
    float xs[3];
    float width;
    float rowHeight;
  };
  // The row gives the tabs their heights, and full size their widths, for
  // good: a later row is as high as the highest tab.
  const Case cases[] = {{false, 0, {0, 80, 160}, 80, 20},
                        {false, 30, {0, 80, 160}, 80, 30},
                        {true, 0, {0, 200.f / 3, 400.f / 3}, 200.f / 3, 30}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fullSize);
    tc->SetFullSize(c.fullSize);
    tc->SetItemHeight(c.itemHeight);
    for (int i = 0; i < 3; ++i) {
      EXPECT_FLOAT_EQ(tabs[i]->Position()->X(), c.xs[i]) << i;
      EXPECT_EQ(tabs[i]->Position()->Y(), 0);
      EXPECT_FLOAT_EQ(tabs[i]->Width(), c.width) << i;
      EXPECT_EQ(tabs[i]->Height(), c.rowHeight);
      EXPECT_EQ(tabs[i]->Index(), i);
    }
    EXPECT_EQ(tc->StyleObject()->Position()->Y(), c.rowHeight);
    EXPECT_EQ(tc->StyleObject()->Height(), 200 - c.rowHeight);
    EXPECT_EQ(tc->StyleObject()->Width(), 200);
  }
  // The background's margins shorten the row that full-size tabs share.
  tc->BackgroundPart()->Margins()->SetRect({10, 0, 20, 0});
  tc->Realign();
  EXPECT_FLOAT_EQ(tabs[1]->Position()->X(), 170.f / 3);
}

TEST_F(Tabs, ATabIsSelectedOnReleaseAndItsPageShows) {
  TsgTabItem* a = AddTab(u"a");
  TsgTabItem* b = AddTab(u"b");
  TsgLayout* pa = AddPage(a);
  TsgLayout* pb = AddPage(b);
  // No tab named by ItemIndex: no page shows.
  EXPECT_EQ(tc->ItemIndex(), -1);
  EXPECT_FALSE(pa->Visible());
  EXPECT_FALSE(pb->Visible());
  b->MouseDown(scene::TMouseButton::mbLeft, {}, 5, 5);
  EXPECT_EQ(tc->ItemIndex(), -1);
  EXPECT_EQ(sink.Changes, 0);
  b->MouseUp(scene::TMouseButton::mbLeft, {}, 5, 5);
  EXPECT_EQ(tc->ItemIndex(), 1);
  EXPECT_EQ(sink.Changes, 1);
  EXPECT_TRUE(b->IsSelected());
  EXPECT_FALSE(a->IsSelected());
  // The selected look follows the trigger.
  EXPECT_EQ(test::PartOpacity(b, "selected"), 1);
  EXPECT_EQ(test::PartOpacity(a, "selected"), 0);
  EXPECT_TRUE(pb->Visible());
  EXPECT_FALSE(pb->DesignHide());
  EXPECT_TRUE(pa->DesignHide());
  EXPECT_FALSE(pa->Visible());
  EXPECT_TRUE(pb->ClipChildren());
  // The page fills the area below the tab.
  EXPECT_EQ(pb->Position()->Y(), 20);
  EXPECT_EQ(pb->Width(), 200);
  EXPECT_EQ(pb->Height(), 180);
  // Released again, or with the right button: nothing new.
  b->MouseUp(scene::TMouseButton::mbLeft, {}, 5, 5);
  a->MouseUp(scene::TMouseButton::mbRight, {}, 5, 5);
  EXPECT_EQ(sink.Changes, 1);
  // An index naming no tab shows no page and selects nothing.
  tc->SetItemIndex(7);
  EXPECT_FALSE(pb->Visible());
  EXPECT_FALSE(b->IsSelected());
  // A freed page is forgotten.
  classlib::Free(pa);
  EXPECT_EQ(a->Layout(), nullptr);
  tc->SetItemIndex(0);
}

TEST_F(Tabs, HidingAndShowingTabsKeepsOrMovesTheSelection) {
  struct Case {
    int selected;
    int hide;
    int wantTab;  // which tab ends selected
    int wantIndex;
  };
  // The selected last tab hidden: the one before it. The selected first:
  // the new first. Another tab hidden: the same tab under its new index.
  for (const Case& c : {Case{2, 2, 1, 1}, Case{0, 0, 1, 0}, Case{2, 0, 2, 1}}) {
    SCOPED_TRACE(c.hide);
    for (const char16_t* t : {u"a", u"b", u"c"}) AddTab(t);
    std::vector<TsgLayout*> pages;
    for (TsgTabItem* t : tabs) pages.push_back(AddPage(t));
    tc->SetItemIndex(c.selected);
    tabs[c.hide]->SetVisible(false);
    EXPECT_EQ(tc->ItemIndex(), c.wantIndex);
    EXPECT_EQ(tc->TabByIndex(c.wantIndex), tabs[c.wantTab]);
    EXPECT_TRUE(tabs[c.wantTab]->IsSelected());
    EXPECT_EQ(tc->VisibleTabCount(), 2);
    // Only the selected tab's page shows: the hidden tab's page too went.
    for (int i = 0; i < 3; ++i) EXPECT_EQ(pages[i]->Visible(), i == c.wantTab) << i;
    // Shown again, the selection stays on its tab.
    tabs[c.hide]->SetVisible(true);
    EXPECT_EQ(tc->TabByIndex(tc->ItemIndex()), tabs[c.wantTab]);
    EXPECT_EQ(tabs[c.wantTab]->Index(), c.wantTab);
    for (TsgTabItem* t : tabs) classlib::Free(t);
    for (TsgLayout* p : pages) classlib::Free(p);
    tabs.clear();
    tc->ResetItemIndex();
  }
  // The last visible tab hidden: nothing is selected.
  TsgTabItem* only = AddTab(u"only");
  tc->SetItemIndex(0);
  only->SetVisible(false);
  EXPECT_EQ(tc->ItemIndex(), -1);
  EXPECT_FALSE(only->IsSelected());
}

TEST_F(Tabs, NonTabsMoveBehindTheTabsAndIndexMovesATab) {
  TsgTabItem* a = AddTab(u"a");
  auto* stray = New<scene::TsgRectangle>(nullptr);
  tc->AddObject(stray);
  TsgTabItem* b = AddTab(u"b");
  // The style root and the stray rectangle went behind both tabs, in
  // their order.
  EXPECT_EQ(a->GetIndex(), 0);
  EXPECT_EQ(b->GetIndex(), 1);
  EXPECT_EQ(tc->StyleObject()->GetIndex(), 2);
  EXPECT_EQ(stray->GetIndex(), 3);
  // The style applied again comes first, and goes behind the tabs again,
  // yet before the pages: it must not cover them.
  TsgLayout* page = AddPage(a);
  tc->SetResource("tabcontrolstyle");
  EXPECT_EQ(tc->StyleObject()->GetIndex(), 2);
  EXPECT_EQ(page->GetIndex(), 4);
  // The setter reorders; the layout renumbers by the field.
  b->SetIndex(0);
  EXPECT_EQ(b->GetIndex(), 0);
  EXPECT_EQ(b->Index(), 0);
  EXPECT_EQ(a->Index(), 1);
  EXPECT_EQ(b->Position()->X(), 0);
  EXPECT_EQ(a->Position()->X(), 80);
  // Out of the list: clamped.
  a->SetIndex(-4);
  EXPECT_EQ(a->GetIndex(), 0);
  b->SetIndex(99);
  EXPECT_EQ(b->Index(), 1);
  EXPECT_EQ(tc->GetDesignItemClasses(), "TsgTabItem");
  EXPECT_EQ(New<TsgHudTabControl>(ctrl.Root)->GetDesignItemClasses(), "TsgHudTabItem");
  classlib::Free(page);
}

TEST_F(Tabs, TheSelectedTabIsPaintedLastWithoutARepaintRequest) {
  // Told apart by their lengths.
  for (const char16_t* t : {u"a", u"bb", u"ccc"}) AddTab(t);
  tc->SetItemIndex(1);
  ctrl.Scene->UpdateRects.assign(1, scene::TsgRect{0, 0, 400, 300});
  const int requests = ctrl.Scene->CountLog("AddUpdateRect");
  ctrl.Canvas->Calls.clear();
  tc->PaintChildren();
  // Each tab's text drawn once, the selected one's last.
  std::vector<std::string> texts;
  for (const std::string& call : ctrl.Canvas->Calls)
    if (call.rfind("FillText", 0) == 0) texts.push_back(call);
  ASSERT_EQ(texts.size(), 3u);
  EXPECT_NE(texts.back().find(" 2 chars"), std::string::npos) << texts.back();
  EXPECT_TRUE(tabs[1]->Visible());
  EXPECT_EQ(ctrl.Scene->CountLog("AddUpdateRect"), requests);
}

TEST_F(Tabs, DesignHooksSelectAndMakeAPage) {
  TsgTabItem* a = AddTab(u"a");
  TsgTabItem* b = AddTab(u"b");
  b->DesignInsert();
  EXPECT_EQ(tc->ItemIndex(), 1);
  EXPECT_EQ(a->Layout(), nullptr);
  a->DesignSelect();
  ASSERT_NE(a->Layout(), nullptr);
  EXPECT_EQ(a->Layout()->Parent(), tc);
  EXPECT_NE(dynamic_cast<TsgLayout*>(a->Layout()), nullptr);
  TsgVisualObject* page = a->Layout();
  a->DesignSelect();
  EXPECT_EQ(a->Layout(), page);
  classlib::Free(page);
}

}  // namespace
}  // namespace kelm::scenectrls

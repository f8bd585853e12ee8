// The tab control loaded from a stored form: its published properties,
// the row thickness stored as an integer of its own, the stored index not
// kept, coupled frame settings and the font of vertical text.
#include "kit/kt_tab_control.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classlib/classdef.h"
#include "classlib/forms.h"
#include "classlib/textform.h"

namespace kelm::test {

using namespace classlib;
using namespace kit;

// Publishes the tab control's properties and a comma-separated list of tab
// captions. Wine lists no raster fonts (it substitutes TrueType faces for
// the bitmap names), so the fonts a test names as raster answer so here.
class TTestTabControl : public TKtCustomTabControl {
  CL_DECLARE_CLASS(TTestTabControl, TKtCustomTabControl)
 public:
  explicit TTestTabControl(TComponent* AOwner) : TKtCustomTabControl(AOwner) {}
  std::u16string TabCaptions() const { return captions_; }
  void SetTabCaptions(const std::u16string& v) {
    captions_ = v;
    Tabs().Clear();
    size_t start = 0;
    while (start <= v.size() && !v.empty()) {
      const size_t end = std::min(v.find(u',', start), v.size());
      Tabs().Add().Caption = v.substr(start, end - start);
      start = end + 1;
    }
    TabsChanged();
  }
  static inline std::string RasterFace;

 protected:
  bool TabFontIsTrueType() override {
    return Font()->Name() != RasterFace && TKtCustomTabControl::TabFontIsTrueType();
  }

 private:
  std::u16string captions_;
};

CL_CLASS(TTestTabControl) {
  PublishTabControlProperties(c);
  c.WStr("TabCaptions", &TTestTabControl::TabCaptions, &TTestTabControl::SetTabCaptions);
}

class TTabTestForm : public TForm {
  CL_DECLARE_CLASS(TTabTestForm, TForm)
 public:
  explicit TTabTestForm(TComponent* AOwner) : TForm(AOwner) {}
  void TabsChanging(TObject*, int newIndex, bool& allow) {
    Asked.push_back(newIndex);
    allow = Allow;
  }
  void TabsChange(TObject*) { ++Changes; }
  std::vector<int> Asked;
  int Changes = 0;
  bool Allow = true;
};
CL_CLASS(TTabTestForm) {}

namespace {

struct TabFormTest : ::testing::Test {
  TabFormTest() {
    RegisterClasses({TTestTabControl::StaticClass(), TTabTestForm::StaticClass()});
    TTestTabControl::RasterFace = "MS Sans Serif";
    form = New<TTabTestForm>(nullptr);
  }
  ~TabFormTest() override { Free(form); }
  TTestTabControl* Find(const char* name) {
    return static_cast<TTestTabControl*>(form->FindComponent(name));
  }
  TTabTestForm* form = nullptr;
};

TEST_F(TabFormTest, StoredIntegerReadAndStoredIndexNotKept) {
  TTestTabControl* tabs = Find("Tabs");
  ASSERT_NE(nullptr, tabs);
  EXPECT_EQ(3, tabs->Tabs().Count());
  EXPECT_EQ(23, tabs->FixedDimension());
  EXPECT_EQ(4, tabs->Margin());
  EXPECT_EQ(TKtTabStyle::tsRoundCorners, tabs->TabStyle());
  // Stored 2; loading selects the first tab.
  EXPECT_EQ(0, tabs->TabIndex());
  // The layout waits for the next paint, which measures the row again.
  EXPECT_TRUE(tabs->LayoutStale());
  tabs->UpdateLayout();
  EXPECT_NE(23, tabs->FixedDimension());
  EXPECT_GT(tabs->FixedDimension(), 0);

  TTestTabControl* none = Find("NoTabs");
  ASSERT_NE(nullptr, none);
  EXPECT_EQ(-1, none->TabIndex());
}

// Written back, the row thickness goes with the stored properties.
TEST_F(TabFormTest, RowThicknessIsWrittenWithTheForm) {
  TTestTabControl* tabs = Find("Tabs");
  tabs->UpdateLayout();
  TMemoryStream binary;
  TWriter writer(binary);
  writer.WriteRootComponent(tabs);
  binary.SetPosition(0);
  TStringStream text;
  ObjectBinaryToText(binary, text);
  const std::string& stored = text.DataString();
  EXPECT_NE(std::string::npos,
            stored.find("FixedDimension = " + std::to_string(tabs->FixedDimension())))
      << stored;
  EXPECT_NE(std::string::npos, stored.find("TabStyle = tsRoundCorners")) << stored;
  EXPECT_EQ(std::string::npos, stored.find("ShowShadow = True")) << stored;
}

TEST_F(TabFormTest, FrameSettingsStayCoupled) {
  TTestTabControl* tabs = Find("Tabs");
  EXPECT_FALSE(tabs->ShowFullFrame());
  EXPECT_FALSE(tabs->ShowShadow());
  TTestTabControl* none = Find("NoTabs");
  EXPECT_TRUE(none->ShowFullFrame());
  EXPECT_TRUE(none->ShowShadow());
  none->SetShowFullFrame(false);
  EXPECT_FALSE(none->ShowShadow());
  none->SetShowShadow(true);
  EXPECT_TRUE(none->ShowFullFrame());
}

TEST_F(TabFormTest, VerticalTextTakesATrueTypeFont) {
  TTestTabControl* vertical = Find("VerticalTabs");
  ASSERT_NE(nullptr, vertical);
  EXPECT_EQ(TOrientation::orVertical, vertical->TextOrientation());
  EXPECT_EQ("Verdana", vertical->Font()->Name());
  // A TrueType face is kept when vertical text is chosen later.
  TTestTabControl* tabs = Find("Tabs");
  const std::string before = tabs->Font()->Name();
  tabs->SetTextOrientation(TOrientation::orVertical);
  EXPECT_EQ(before, tabs->Font()->Name());
  // A raster face is swapped at once outside loading.
  tabs->SetTextOrientation(TOrientation::orHorizontal);
  tabs->Font()->SetName("MS Sans Serif");
  tabs->SetTextOrientation(TOrientation::orVertical);
  EXPECT_EQ("Verdana", tabs->Font()->Name());
}

TEST_F(TabFormTest, SettersAndTheDisplayRectangle) {
  TTestTabControl* none = Find("NoTabs");
  // No tabs: the card is the client; full frame and shadow on top tabs.
  none->UpdateLayout();
  EXPECT_EQ((TKtRect{1, 1, 199 - 2, 99 - 2}), none->DisplayRect());
  EXPECT_EQ(-1, none->TabAtPoint({10, 10}));
  // The region cache's capacity: refused values are ignored.
  none->SetTabRegionCacheSize(0);
  EXPECT_EQ(1, none->TabRegionCacheSize());
  none->SetTabRegionCacheSize(-1);
  EXPECT_EQ(-1, none->TabRegionCacheSize());
  // A new font lays the tabs out again.
  TTestTabControl* tabs = Find("Tabs");
  tabs->UpdateLayout();
  const int32_t thickness = tabs->FixedDimension();
  tabs->Font()->SetSize(tabs->Font()->Size() * 2);
  EXPECT_TRUE(tabs->LayoutStale());
  tabs->UpdateLayout();
  EXPECT_GT(tabs->FixedDimension(), thickness);
  // Resizing the control lays it out again.
  none->SetBounds(0, 120, 250, 100);
  EXPECT_TRUE(none->LayoutStale());
  none->UpdateLayout();
  EXPECT_EQ((TKtRect{0, 0, 249, 99}), none->CardRect(0));
}

TEST_F(TabFormTest, BackgroundFollowsTheParentUntilSet) {
  TTestTabControl* tabs = Find("Tabs");
  TTestTabControl* none = Find("NoTabs");
  none->SetBackgroundColor(clYellow);
  form->SetColor(clTeal);
  EXPECT_EQ(clTeal, tabs->BackgroundColor());
  EXPECT_EQ(clYellow, none->BackgroundColor());
}

TEST_F(TabFormTest, SelectionAsksChangingAndTellsChange) {
  TTestTabControl* tabs = Find("Tabs");
  tabs->UpdateLayout();
  tabs->OnChanging = EventOf<&TTabTestForm::TabsChanging>(form);
  tabs->OnChange = EventOf<&TTabTestForm::TabsChange>(form);
  tabs->SetTabIndex(2);
  EXPECT_EQ(2, tabs->TabIndex());
  EXPECT_EQ((std::vector<int>{2}), form->Asked);
  EXPECT_EQ(1, form->Changes);
  form->Allow = false;
  tabs->SetTabIndex(1);
  EXPECT_EQ(2, tabs->TabIndex());
  EXPECT_EQ(1, form->Changes);
  // Out of range selects no tab without asking.
  tabs->SetTabIndex(7);
  EXPECT_EQ(-1, tabs->TabIndex());
  EXPECT_EQ((std::vector<int>{2, 1}), form->Asked);
}

}  // namespace
}  // namespace kelm::test

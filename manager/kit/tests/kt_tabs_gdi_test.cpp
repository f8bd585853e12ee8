// The tab model over system regions and a real font.
#include "kit/kt_tabs_gdi.h"

#include <gtest/gtest.h>

namespace kelm::test {
namespace {

using namespace kit;

class GdiModel : public TKtTabControlModel {
 public:
  GdiModel() : measurer(&font) {
    font.SetName("Arial");
    font.SetSize(9);
    SetMeasurer(&measurer);
    SetRegionFactory([this](const std::vector<TKtPoint>& points) {
      ++made;
      return MakeGdiRegion(points);
    });
  }
  classlib::TFont font;
  TKtFontMeasurer measurer;
  int made = 0;
};

TEST(KtTabsGdiTest, RealFontsLayOutLongerCaptionsLonger) {
  GdiModel m;
  m.Tabs().Add().Caption = u"Snapshots";
  m.Tabs().Add().Caption = u"A much longer caption";
  m.TabsChanged();
  m.UpdateLayout();
  EXPECT_GT(m.FixedDimension(), 10);
  EXPECT_GT(m.Tabs().Item(1).Rect.Width(), m.Tabs().Item(0).Rect.Width());
  const TKtSize plain = m.measurer.TextExtent(u"Snapshots", false);
  const TKtSize bold = m.measurer.TextExtent(u"Snapshots", true);
  EXPECT_GT(plain.cx, 0);
  EXPECT_GE(bold.cx, plain.cx);
}

TEST(KtTabsGdiTest, SlantedEdgeMissesThroughTheSystemRegion) {
  GdiModel m;
  for (const char16_t* c : {u"One", u"Two", u"Three"}) m.Tabs().Add().Caption = c;
  m.TabsChanged();
  m.UpdateLayout();
  const TKtRect r = m.TabRectInControl(0);
  const int h = r.Height();
  // Near the top, just left of the slanted far edge: inside; beyond it but
  // inside the rectangle (and short of tab 1): missed.
  const int slantX = r.right - h;  // where the edge meets the top
  EXPECT_EQ(0, m.TabAtPoint({r.left + 3, r.top + 3}));
  EXPECT_EQ(0, m.TabAtPoint({slantX - 1, r.top + 2}));
  const TKtRect next = m.TabRectInControl(1);
  ASSERT_LT(slantX + 2, next.left);
  EXPECT_EQ(-1, m.TabAtPoint({slantX + 2, r.top + 1}));
  EXPECT_TRUE(r.Contains({slantX + 2, r.top + 1}));
}

TEST(KtTabsGdiTest, RegionCacheCapacityOneAgainstAll) {
  for (int capacity : {1, -1}) {
    GdiModel m;
    for (const char16_t* c : {u"One", u"Two", u"Three"}) m.Tabs().Add().Caption = c;
    m.TabsChanged();
    m.SetTabRegionCacheSize(capacity);
    m.UpdateLayout();
    for (int round = 0; round < 2; ++round)
      for (int i = 0; i < 3; ++i) ASSERT_NE(nullptr, m.TabRegion(i));
    EXPECT_EQ(capacity == 1 ? 6 : 3, m.made) << capacity;
    EXPECT_EQ(capacity == 1 ? 1u : 3u, m.RegionCache().Count());
  }
}

}  // namespace
}  // namespace kelm::test

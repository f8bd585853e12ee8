// The tab control's model: geometry with a fixed-metric measurer for every
// style, orientation and sequence, rows, hit testing, the region cache,
// selection and loading.
#include "kit/kt_tabs.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kelm::test {
namespace {

using namespace kit;

// Every character 7 pixels wide (8 bold), 13 high.
class FixedMeasurer : public TKtTextMeasurer {
 public:
  TKtSize TextExtent(const std::u16string& text, bool bold) override {
    return {static_cast<int32_t>(text.size()) * (bold ? 8 : 7), 13};
  }
  int32_t FontHeight() override { return 13; }
};

class Model : public TKtTabControlModel {
 public:
  explicit Model(const std::vector<std::u16string>& captions = {}) {
    SetMeasurer(&measurer);
    for (const auto& c : captions) Tabs().Add().Caption = c;
    TabsChanged();
  }
  void Invalidate() override { ++invalidations; }
  bool DoChanging(int newIndex) override {
    asked.push_back(newIndex);
    return allowChange;
  }
  void DoChange() override { ++changes; }
  void FontMayNeedTrueType() override { ++fontChecks; }
  TKtRect Rect(int i) {
    UpdateLayout();
    return TabRectInControl(i);
  }

  FixedMeasurer measurer;
  int invalidations = 0;
  int changes = 0;
  int fontChecks = 0;
  bool allowChange = true;
  std::vector<int> asked;
};

// "One" and "Two" are 21 x 13, "Three" 35 x 13: single-slant tabs are
// 2 * (19 div 2) + 23 + 4 = 45 and 59 long, 19 thick, and overlap by 9.
TEST(KtTabsLayoutTest, SingleSlantTopStandard) {
  Model m({u"One", u"Two", u"Three"});
  m.UpdateLayout();
  EXPECT_EQ(19, m.FixedDimension());
  EXPECT_EQ(1, m.RowCount());
  EXPECT_EQ((TKtRect{0, 0, 45, 19}), m.TabRectInControl(0));
  EXPECT_EQ((TKtRect{37, 0, 82, 19}), m.TabRectInControl(1));
  EXPECT_EQ((TKtRect{74, 0, 133, 19}), m.TabRectInControl(2));
  // The shadow keeps the strip 2 pixels short of the right edge.
  EXPECT_EQ((TKtRect{0, 0, 297, 19}), m.TabStripRect());
  EXPECT_EQ((TKtRect{0, 19, 299, 99}), m.CardRect(0));
  EXPECT_EQ((TKtRect{1, 20, 297, 97}), m.DisplayRect());
  EXPECT_FALSE(m.TabsDoNotFit());
}

TEST(KtTabsLayoutTest, SizesPerStyle) {
  struct Case {
    TKtTabStyle style;
    int32_t length, thickness;
  };
  // Content 21 x 13, so c = 23 x 15; cut corner 6, tab overlap -1.
  const Case cases[] = {
      {TKtTabStyle::tsSingleSlant, 2 * 9 + 23 + 4, 19},
      {TKtTabStyle::tsBackSlant, 2 * 9 + 23 + 4, 19},
      {TKtTabStyle::tsDoubleSlant, 2 * 15 + 23 + 4, 19},
      {TKtTabStyle::tsCutCorner, 2 * 6 + 23 + 6, 13 + 7},
      {TKtTabStyle::tsRoundCorners, 23 + 4, 19},
      {TKtTabStyle::tsSquareCorners, 23 + 4, 19},
  };
  for (const auto& c : cases) {
    Model m({u"One"});
    m.SetTabStyle(c.style);
    m.UpdateLayout();
    const TKtRect r = m.Tabs().Item(0).Rect;
    EXPECT_EQ(c.length, r.Width()) << static_cast<int>(c.style);
    EXPECT_EQ(c.thickness, m.FixedDimension()) << static_cast<int>(c.style);
  }
  // Fixed sizes replace the computed ones; the accelerator mark is not text.
  Model fixed({u"&One"});
  fixed.SetTabWidth(80);
  fixed.SetTabHeight(30);
  fixed.UpdateLayout();
  EXPECT_EQ(80, fixed.Tabs().Item(0).Rect.Width());
  EXPECT_EQ(30, fixed.FixedDimension());
  Model accel({u"&One", u"A&&B"});
  accel.UpdateLayout();
  EXPECT_EQ(45, accel.Tabs().Item(0).Rect.Width());
  EXPECT_EQ(45, accel.Tabs().Item(1).Rect.Width());  // "A&B"
}

// Across and along the strip for vertical text and side tabs: "One" is
// 21 x 13, turned 13 x 21 for vertical text.
TEST(KtTabsLayoutTest, SizesForVerticalTextAndSideTabs) {
  struct Case {
    const char* name;
    TKtTabStyle style;
    TKtTabOrientation orientation;
    TOrientation text;
    int32_t length, thickness;
  };
  const Case cases[] = {
      {"cut, top, vertical", TKtTabStyle::tsCutCorner, TKtTabOrientation::toTop,
       TOrientation::orVertical, 13 + 10, 23 + 6 + 5},
      {"cut, left, vertical", TKtTabStyle::tsCutCorner, TKtTabOrientation::toLeft,
       TOrientation::orVertical, 2 * 6 + 23 + 6, 13 + 7},
      {"cut, left, horizontal", TKtTabStyle::tsCutCorner, TKtTabOrientation::toLeft,
       TOrientation::orHorizontal, 13 + 10, 23 + 6 + 5},
      {"double, right", TKtTabStyle::tsDoubleSlant, TKtTabOrientation::toRight,
       TOrientation::orHorizontal, 2 * 23 + 15 + 4, 23 + 4},
      {"single, bottom, vertical", TKtTabStyle::tsSingleSlant, TKtTabOrientation::toBottom,
       TOrientation::orVertical, 2 * 13 + 15 + 4, 23 + 4},
  };
  for (const auto& c : cases) {
    Model m({u"One"});
    m.SetTabStyle(c.style);
    m.SetTabOrientation(c.orientation);
    m.SetTextOrientation(c.text);
    m.UpdateLayout();
    EXPECT_EQ(c.length, m.Tabs().Item(0).Rect.Width()) << c.name;
    EXPECT_EQ(c.thickness, m.FixedDimension()) << c.name;
  }
}

TEST(KtTabsLayoutTest, OrientationsAndSequences) {
  struct Case {
    const char* name;
    TKtTabOrientation orientation;
    TKtTabSequence sequence;
    TKtRect tab0, tab1;
  };
  // Top and bottom tabs: 45 long, 19 thick, overlapping by 9. Left and right
  // tabs with horizontal text: 41 thick (content 35 wide across) and
  // 2 * 20 + 15 + 4 = 59 long, overlapping by 20.
  const Case cases[] = {
      {"top",
       TKtTabOrientation::toTop,
       TKtTabSequence::tsStandard,
       {0, 0, 45, 19},
       {37, 0, 82, 19}},
      {"top reverse",
       TKtTabOrientation::toTop,
       TKtTabSequence::tsReverse,
       {254, 0, 299, 19},
       {217, 0, 262, 19}},
      {"bottom",
       TKtTabOrientation::toBottom,
       TKtTabSequence::tsStandard,
       {0, 80, 45, 99},
       {37, 80, 82, 99}},
      {"bottom reverse",
       TKtTabOrientation::toBottom,
       TKtTabSequence::tsReverse,
       {254, 80, 299, 99},
       {217, 80, 262, 99}},
      {"left",
       TKtTabOrientation::toLeft,
       TKtTabSequence::tsStandard,
       {0, 40, 41, 99},
       {0, 0, 41, 59}},
      {"left reverse",
       TKtTabOrientation::toLeft,
       TKtTabSequence::tsReverse,
       {0, 0, 41, 59},
       {0, 40, 41, 99}},
      {"right",
       TKtTabOrientation::toRight,
       TKtTabSequence::tsStandard,
       {258, 0, 299, 59},
       {258, 40, 299, 99}},
      {"right reverse",
       TKtTabOrientation::toRight,
       TKtTabSequence::tsReverse,
       {258, 40, 299, 99},
       {258, 0, 299, 59}},
  };
  for (const auto& c : cases) {
    Model m({u"One", u"Two", u"Three"});
    m.SetTabOrientation(c.orientation);
    m.SetTabSequence(c.sequence);
    EXPECT_EQ(c.tab0, m.Rect(0)) << c.name;
    EXPECT_EQ(c.tab1, m.Rect(1)) << c.name;
  }
}

TEST(KtTabsLayoutTest, CardPerOrientation) {
  struct Case {
    TKtTabOrientation orientation;
    TKtRect card;
  };
  const Case cases[] = {
      {TKtTabOrientation::toTop, {0, 19, 299, 99}},
      {TKtTabOrientation::toBottom, {0, 0, 299, 80}},
      {TKtTabOrientation::toLeft, {41, 0, 299, 99}},
      {TKtTabOrientation::toRight, {0, 0, 258, 99}},
  };
  for (const auto& c : cases) {
    Model m({u"One", u"Two", u"Three"});
    m.SetTabOrientation(c.orientation);
    m.UpdateLayout();
    EXPECT_EQ(c.card, m.CardRect(0)) << static_cast<int>(c.orientation);
  }
}

TEST(KtTabsLayoutTest, NoTabsCardIsTheClientAndNothingIsHit) {
  Model m;
  m.SetShowFullFrame(false);
  m.UpdateLayout();
  EXPECT_EQ(m.TabClientRect(), m.CardRect(0));
  EXPECT_EQ((TKtRect{0, 0, 299, 99}), m.CardRect(0));
  EXPECT_EQ(-1, m.TabAtPoint({5, 5}));
  EXPECT_EQ(-1, m.TabAtPoint({150, 50}));
  EXPECT_EQ(0, m.ButtonLength());
}

TEST(KtTabsLayoutTest, DisplayRectPerFrameFlags) {
  struct Case {
    const char* name;
    TKtTabOrientation orientation;
    bool cardFrame, fullFrame, shadow;
    TKtRect display;
  };
  // Without tabs the card is (0, 0, 299, 99).
  const Case cases[] = {
      {"frame, full, shadow", TKtTabOrientation::toTop, true, true, true, {1, 1, 297, 97}},
      {"frame, full", TKtTabOrientation::toTop, true, true, false, {1, 1, 299, 99}},
      {"frame only (top)", TKtTabOrientation::toTop, true, false, false, {0, 1, 300, 100}},
      {"frame only (left)", TKtTabOrientation::toLeft, true, false, false, {0, 0, 300, 100}},
      {"full, shadow, no frame", TKtTabOrientation::toTop, false, true, true, {0, 0, 300, 100}},
      {"nothing (top)", TKtTabOrientation::toTop, false, false, false, {0, 0, 300, 100}},
      {"nothing (left)", TKtTabOrientation::toLeft, false, false, false, {-1, 0, 300, 100}},
      {"nothing (bottom)", TKtTabOrientation::toBottom, false, false, false, {0, 0, 300, 101}},
      {"nothing (right)", TKtTabOrientation::toRight, false, false, false, {0, 0, 301, 100}},
      {"shadow left tabs", TKtTabOrientation::toLeft, true, true, true, {1, 1, 299, 99}},
  };
  for (const auto& c : cases) {
    Model m;
    m.SetTabOrientation(c.orientation);
    m.SetShowCardFrame(c.cardFrame);
    m.SetShowFullFrame(c.fullFrame);
    m.SetShowShadow(c.shadow);
    m.UpdateLayout();
    EXPECT_EQ(c.display, m.DisplayRect()) << c.name;
  }
  Model bare;
  bare.SetCardVisible(false);
  bare.UpdateLayout();
  EXPECT_EQ((TKtRect{-2, -2, -1, -1}), bare.DisplayRect());
}

// Six 50-pixel square tabs on a 118-pixel strip: two rows would leave
// 113 pixels, too few for a third tab per row with the row indent, so
// packing restarts twice and ends with three rows of two.
TEST(KtTabsLayoutTest, ThreeRowsAndABackRowSelectionComesToTheFront) {
  Model m({u"a", u"b", u"c", u"d", u"e", u"f"});
  m.SetControlSize(121, 150);
  m.SetTabStyle(TKtTabStyle::tsSquareCorners);
  m.SetTabWidth(50);
  m.SetMultiLine(true);
  m.UpdateLayout();
  ASSERT_EQ(3, m.RowCount());
  const int rows[] = {0, 0, 1, 1, 2, 2};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(rows[i], m.Tabs().Item(i).Row) << i;
  // Rows go outward from the card by F - RowOverlap = 14 each; the strip is
  // 3 + 19 + 2 * 14 = 50 thick.
  EXPECT_EQ(50, m.StripThickness());
  const TKtRect back = m.TabRectInControl(4);
  EXPECT_EQ(3, back.top);
  // Row 2 is indented by 2 * RowIndent, after the 2 pixels of the style.
  EXPECT_EQ(2 + 10, back.left);

  m.SetTabIndex(4);
  EXPECT_EQ(4, m.TabIndex());
  const int rotated[] = {1, 1, 2, 2, 0, 0};
  for (int i = 0; i < 6; ++i) EXPECT_EQ(rotated[i], m.Tabs().Item(i).Row) << i;
  // Tab 4 keeps its place along the strip and now lies next to the card;
  // being selected it stands 2 pixels out on both ends and its outer edge.
  const TKtRect front = m.TabRectInControl(4);
  EXPECT_EQ(50, front.bottom);
  EXPECT_EQ(50 - 19 - 2, front.top);
  EXPECT_EQ(m.Tabs().Item(4).Rect.left + 2 - 2, front.left);
  // Each card row is indented at the start by RowIndent per row and at the
  // end by RowIndent per row behind it.
  EXPECT_EQ((TKtRect{0, 50, 120 - 10, 149}), m.CardRect(0));
  EXPECT_EQ((TKtRect{5, 36, 120 - 5, 135}), m.CardRect(1));
}

// Four 34-pixel square tabs on 101 pixels: two rows of two. Each row's free
// length is shared out, the odd pixel to the first tab.
TEST(KtTabsLayoutTest, AlignTabsSharesRemainders) {
  Model m({u"AAAA", u"AAAA", u"AAAA", u"AAAA"});
  m.SetControlSize(104, 150);
  m.SetTabStyle(TKtTabStyle::tsSquareCorners);
  m.SetMultiLine(true);
  m.SetAlignTabs(true);
  m.UpdateLayout();
  ASSERT_EQ(2, m.RowCount());
  // Row 0: free 101 - 5 - 69 = 27: 14 and 13.
  EXPECT_EQ((TKtRect{0, 0, 48, 19}), m.Tabs().Item(0).Rect);
  EXPECT_EQ(49, m.Tabs().Item(1).Rect.left);
  EXPECT_EQ(96, m.Tabs().Item(1).Rect.right);
  // Row 1, the last: 2 less for square corners, 25: 13 and 12.
  EXPECT_EQ(0, m.Tabs().Item(2).Rect.left);
  EXPECT_EQ(47, m.Tabs().Item(2).Rect.right);
  EXPECT_EQ(48, m.Tabs().Item(3).Rect.left);
  EXPECT_EQ(94, m.Tabs().Item(3).Rect.right);

  // A fixed width along the strip is not stretched.
  m.SetTabWidth(34);
  m.UpdateLayout();
  EXPECT_EQ(34, m.Tabs().Item(0).Rect.Width());
}

TEST(KtTabsLayoutTest, ReverseMultiLineShiftsRowsTheOtherWay) {
  Model m({u"a", u"b", u"c", u"d"});
  m.SetControlSize(121, 150);
  m.SetTabStyle(TKtTabStyle::tsSquareCorners);
  m.SetTabWidth(50);
  m.SetMultiLine(true);
  m.SetTabSequence(TKtTabSequence::tsReverse);
  m.UpdateLayout();
  ASSERT_EQ(2, m.RowCount());
  // Reverse: no shadow gap, the strip is 120 long; tab 0 ends 2 pixels in
  // from its far end, row 1 a further RowIndent.
  EXPECT_EQ(120 - 2, m.TabRectInControl(0).right);
  EXPECT_EQ(120 - 2 - 5, m.TabRectInControl(2).right);
  EXPECT_LT(m.TabRectInControl(1).right, m.TabRectInControl(0).left + 1);
}

TEST(KtTabsHitTest, SlantedEdgesAndTheSelectedTabFirst) {
  Model m({u"One", u"Two", u"Three"});
  m.UpdateLayout();
  // Tab 0's outline: (0,19) (0,2) (2,0) (26,0) (45,19); tab 1 from x = 37.
  EXPECT_EQ(0, m.TabAtPoint({10, 10}));
  EXPECT_EQ(1, m.TabAtPoint({60, 10}));
  // Inside tab 0's rectangle, right of its slanted edge and left of tab 1:
  // nothing.
  EXPECT_EQ(-1, m.TabAtPoint({32, 3}));
  // (40, 2) lies in both rectangles but only in tab 1's outline.
  EXPECT_EQ(1, m.TabAtPoint({40, 2}));
  // (40, 17) lies in both outlines: the selected tab lies on top.
  m.SetTabIndex(0);
  EXPECT_EQ(0, m.TabAtPoint({40, 17}));
  m.SetTabIndex(1);
  EXPECT_EQ(1, m.TabAtPoint({40, 17}));
  EXPECT_EQ(-1, m.TabAtPoint({200, 10}));
  EXPECT_EQ(-1, m.TabAtPoint({10, 50}));  // the card
  // A hidden tab is never hit.
  m.Tabs().Item(2).Visible = false;
  m.TabsChanged();
  m.UpdateLayout();
  EXPECT_EQ(-1, m.TabAtPoint({100, 10}));
}

// Counts the regions made.
struct CountingFactory {
  int* made;
  std::unique_ptr<TKtRegion> operator()(const std::vector<TKtPoint>& points) const {
    ++*made;
    return std::make_unique<TKtPolygonRegion>(points);
  }
};

TEST(KtTabsRegionTest, CacheCapacityOneAgainstAll) {
  struct Case {
    int capacity;
    int made;
  };
  // Two rounds over three tabs: with capacity 1 only the last region
  // survives a round; with -1 every region does.
  for (const Case c : {Case{1, 6}, Case{-1, 3}, Case{2, 6}, Case{3, 3}}) {
    Model m({u"One", u"Two", u"Three"});
    int made = 0;
    m.SetRegionFactory(CountingFactory{&made});
    m.SetTabRegionCacheSize(c.capacity);
    m.UpdateLayout();
    for (int round = 0; round < 2; ++round)
      for (int i = 0; i < 3; ++i) ASSERT_NE(nullptr, m.TabRegion(i));
    EXPECT_EQ(c.made, made) << c.capacity;
    // A new layout clears the cache.
    m.TabsChanged();
    m.UpdateLayout();
    EXPECT_EQ(0u, m.RegionCache().Count());
  }
}

TEST(KtTabsRegionTest, CacheRefusesBadCapacities) {
  TKtTabRegionCache cache;
  for (int bad : {0, -2, -100}) {
    try {
      cache.SetCapacity(bad);
      ADD_FAILURE() << bad;
    } catch (const EKtTabControlError& e) {
      EXPECT_EQ(u"Capacity must be -1 (to cache all regions) or > 0", e.Message());
    }
  }
  EXPECT_EQ(1, cache.Capacity());
  // Shrinking drops the least recently used; a hit moves an item up.
  cache.SetCapacity(-1);
  for (int i = 0; i < 3; ++i) {
    cache.Add(TKtRect{i, 0, i + 1, 1}, std::make_unique<TKtPolygonRegion>(std::vector<TKtPoint>{}));
  }
  ASSERT_NE(nullptr, cache.Find(TKtRect{0, 0, 1, 1}));
  cache.SetCapacity(2);
  EXPECT_EQ(2u, cache.Count());
  EXPECT_NE(nullptr, cache.Find(TKtRect{0, 0, 1, 1}));
  EXPECT_EQ(nullptr, cache.Find(TKtRect{1, 0, 2, 1}));

  // The control's setter ignores what the cache would refuse.
  Model m;
  m.SetTabRegionCacheSize(0);
  m.SetTabRegionCacheSize(-5);
  EXPECT_EQ(1, m.TabRegionCacheSize());
  m.SetTabRegionCacheSize(-1);
  EXPECT_EQ(-1, m.TabRegionCacheSize());
}

TEST(KtTabsRegionTest, PolygonPointCounts) {
  struct Case {
    TKtTabStyle style;
    size_t plain, soft;
  };
  const Case cases[] = {{TKtTabStyle::tsSingleSlant, 5, 6}, {TKtTabStyle::tsDoubleSlant, 4, 6},
                        {TKtTabStyle::tsCutCorner, 5, 5},   {TKtTabStyle::tsRoundCorners, 6, 6},
                        {TKtTabStyle::tsBackSlant, 5, 6},   {TKtTabStyle::tsSquareCorners, 4, 4}};
  for (const auto& c : cases) {
    EXPECT_EQ(c.plain, TabPolygonPointCount(c.style, false));
    EXPECT_EQ(c.soft, TabPolygonPointCount(c.style, true));
  }
  // The cut corner takes CutCornerSize off the far outer corner.
  const auto cut = TabPolygon(TKtTabStyle::tsCutCorner, false, TKtRect{10, 0, 60, 20}, 6);
  EXPECT_EQ((TKtPoint{54, 0}), cut[2]);
  EXPECT_EQ((TKtPoint{60, 6}), cut[3]);
}

TEST(KtTabsSelectionTest, TabIndexRangeAndRefusal) {
  Model m({u"One", u"Two", u"Three"});
  m.UpdateLayout();
  m.SetTabIndex(1);
  EXPECT_EQ(1, m.TabIndex());
  EXPECT_EQ(1, m.changes);
  for (int bad : {3, 100, -1, -7}) {
    m.SetTabIndex(1);
    m.SetTabIndex(bad);
    EXPECT_EQ(-1, m.TabIndex()) << bad;
  }
  m.SetTabIndex(0);
  m.allowChange = false;
  m.SetTabIndex(2);
  EXPECT_EQ(0, m.TabIndex());
  m.allowChange = true;
  // A disabled or hidden tab cannot be selected.
  m.Tabs().Item(2).Enabled = false;
  m.SetTabIndex(2);
  EXPECT_EQ(0, m.TabIndex());
  m.Tabs().Item(1).Visible = false;
  m.SetTabIndex(1);
  EXPECT_EQ(0, m.TabIndex());
}

TEST(KtTabsSelectionTest, ScrolledRowFollowsTheSelection) {
  std::vector<std::u16string> captions(10, u"Three");
  Model m(captions);
  m.UpdateLayout();
  ASSERT_TRUE(m.TabsDoNotFit());
  EXPECT_EQ(0, m.FirstShownIndex());
  // 59-pixel tabs every 51 pixels; 297 - 2 * 17 - 2 = 261 pixels of room:
  // tab 9 (459..518) shows once the row starts at tab 6.
  m.SetTabIndex(9);
  EXPECT_EQ(6, m.FirstShownIndex());
  EXPECT_TRUE(m.TabShown(9));
  EXPECT_FALSE(m.TabShown(5));
  EXPECT_EQ((TKtRect{0, 0, 59, 19}), m.TabRectInControl(6));
  m.SetTabIndex(2);
  EXPECT_EQ(2, m.FirstShownIndex());
  EXPECT_FALSE(m.TabShown(9));
  // A hit test starts at the first shown tab; tab 9 is out of sight.
  EXPECT_EQ(2, m.TabAtPoint({10, 10}));
}

TEST(KtTabsPropertiesTest, DefaultsCouplingsAndIgnoredValues) {
  Model m;
  EXPECT_EQ(clKtBtnFace, m.BackgroundColor());
  EXPECT_EQ(0x149BF0, m.HotTrackColor());
  EXPECT_EQ(0x505050, m.DragIndicatorColor());
  EXPECT_EQ(clKtHighlight, m.TabColors().HighlightBar());
  EXPECT_EQ(clKtGrayText, m.TextColors().Disabled());
  EXPECT_EQ(TKtTabStyle::tsSingleSlant, m.TabStyle());
  EXPECT_EQ(-1, m.TabIndex());
  EXPECT_EQ(-1, m.TabOverlap());
  EXPECT_TRUE(m.ShowShadow());
  EXPECT_TRUE(m.ShowFullFrame());

  m.SetShowFullFrame(false);
  EXPECT_FALSE(m.ShowShadow());
  m.SetShowShadow(true);
  EXPECT_TRUE(m.ShowFullFrame());
  m.SetShowShadow(false);
  EXPECT_TRUE(m.ShowFullFrame());

  m.ParentColorChanged(0x00FF00);
  EXPECT_EQ(0x00FF00, m.BackgroundColor());
  EXPECT_TRUE(m.ParentBackgroundColor());
  m.SetBackgroundColor(0x123456);
  EXPECT_FALSE(m.ParentBackgroundColor());
  m.ParentColorChanged(0x0000FF);
  EXPECT_EQ(0x123456, m.BackgroundColor());

  struct Ignored {
    void (TKtTabControlModel::*set)(int32_t);
    int32_t (TKtTabControlModel::*get)() const;
    int32_t before;
  };
  const Ignored ignored[] = {
      {&TKtTabControlModel::SetMargin, &TKtTabControlModel::Margin, 0},
      {&TKtTabControlModel::SetImageMargin, &TKtTabControlModel::ImageMargin, 2},
      {&TKtTabControlModel::SetRowOverlap, &TKtTabControlModel::RowOverlap, 5},
      {&TKtTabControlModel::SetTabHeight, &TKtTabControlModel::TabHeight, 0},
      {&TKtTabControlModel::SetTabWidth, &TKtTabControlModel::TabWidth, 0},
      {&TKtTabControlModel::SetCutCornerSize, &TKtTabControlModel::CutCornerSize, 6},
  };
  for (const auto& c : ignored) {
    (m.*c.set)(-1);
    EXPECT_EQ(c.before, (m.*c.get)());
  }
}

TEST(KtTabsPropertiesTest, SettersRepaintOnlyOnChangeAndNotWhileLoading) {
  Model m({u"One"});
  m.UpdateLayout();
  m.invalidations = 0;
  m.SetHotTrackColor(0x149BF0);  // equal
  m.SetMargin(0);
  EXPECT_EQ(0, m.invalidations);
  m.SetHotTrackColor(0x000001);
  EXPECT_EQ(1, m.invalidations);
  m.SetMargin(4);  // relayout: stale, repaint
  EXPECT_TRUE(m.LayoutStale());
  EXPECT_EQ(2, m.invalidations);
  m.SetMargin(6);  // already stale: no second repaint
  EXPECT_EQ(2, m.invalidations);
  m.TabColors().SetShadow(0x0000FF);
  EXPECT_EQ(3, m.invalidations);

  Model loading({u"One"});
  loading.BeginLoading();
  loading.invalidations = 0;
  loading.SetHotTrackColor(1);
  loading.SetTextOrientation(TOrientation::orVertical);
  EXPECT_EQ(0, loading.invalidations);
  EXPECT_EQ(0, loading.fontChecks);
  loading.Loaded();
  // Vertical text asks for a TrueType font once loading ends.
  EXPECT_EQ(1, loading.fontChecks);
}

TEST(KtTabsLoadingTest, StoredTabIndexIsNotKept) {
  Model withTabs({u"One", u"Two", u"Three"});
  withTabs.BeginLoading();
  withTabs.SetTabIndex(2);
  EXPECT_EQ(2, withTabs.TabIndex());
  withTabs.Loaded();
  EXPECT_EQ(0, withTabs.TabIndex());
  EXPECT_TRUE(withTabs.LayoutStale());

  Model none;
  none.BeginLoading();
  none.SetTabIndex(1);
  none.Loaded();
  EXPECT_EQ(-1, none.TabIndex());
}

TEST(KtTabsDataTest, AssignCopiesAllButPlace) {
  TKtTabData a;
  a.Caption = u"x";
  a.Color = 7;
  a.DisabledImageIndex = 3;
  a.Enabled = false;
  a.Hint = u"h";
  a.ImageIndex = 4;
  a.Visible = false;
  a.Rect = TKtRect{1, 2, 3, 4};
  a.Row = 2;
  TKtTabData b;
  b.Assign(a);
  EXPECT_EQ(u"x", b.Caption);
  EXPECT_EQ(7, b.Color);
  EXPECT_EQ(3, b.DisabledImageIndex);
  EXPECT_FALSE(b.Enabled);
  EXPECT_EQ(u"h", b.Hint);
  EXPECT_EQ(4, b.ImageIndex);
  EXPECT_FALSE(b.Visible);
  EXPECT_EQ(TKtRect{}, b.Rect);
  EXPECT_EQ(0, b.Row);

  TKtTabDataList list;
  list.Add().Caption = u"1";
  list.Add().Caption = u"2";
  TKtTabDataList copy;
  copy.Add().Caption = u"old";
  copy.Assign(list);
  ASSERT_EQ(2, copy.Count());
  EXPECT_EQ(u"2", copy.Item(1).Caption);
}

// ---- the keyboard walk

class ClickModel : public Model {
 public:
  using Model::Model;
  void DoTabClick() override { clicked.push_back(TabIndex()); }
  std::vector<int> clicked;
};

constexpr uint16_t kHome = 0x24, kEnd = 0x23, kLeft = 0x25, kUp = 0x26, kRight = 0x27, kDown = 0x28;

TEST(KtTabsKeyboardTest, DirectionPerSideAndSequence) {
  struct Case {
    TKtTabOrientation side;
    TKtTabSequence sequence;
    uint16_t key;
    int32_t from, expected;
  };
  const auto top = TKtTabOrientation::toTop, left = TKtTabOrientation::toLeft,
             bottom = TKtTabOrientation::toBottom, right = TKtTabOrientation::toRight;
  const auto st = TKtTabSequence::tsStandard, rev = TKtTabSequence::tsReverse;
  const Case cases[] = {
      {top, st, kRight, 1, 2},    {top, st, kDown, 3, 0},    {top, st, kLeft, 0, 3},
      {top, st, kUp, 2, 1},       {top, rev, kRight, 1, 0},  {top, rev, kLeft, 3, 0},
      {bottom, st, kDown, 1, 2},  {right, st, kUp, 0, 3},    {right, rev, kUp, 0, 1},
      {left, st, kLeft, 1, 2},    {left, st, kUp, 3, 0},     {left, st, kRight, 1, 0},
      {left, rev, kDown, 1, 2},   {left, rev, kLeft, 1, 0},  {top, st, kHome, 2, 0},
      {top, st, kEnd, 1, 3},      {left, st, kHome, 1, 3},   {left, rev, kHome, 2, 0},
      {bottom, rev, kHome, 2, 3}, {bottom, rev, kEnd, 2, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << "side " << static_cast<int>(c.side) << " seq " << static_cast<int>(c.sequence)
                 << " key " << c.key << " from " << c.from);
    ClickModel m({u"A", u"B", u"C", u"D"});
    m.SetTabOrientation(c.side);
    m.SetTabSequence(c.sequence);
    m.SetTabIndex(c.from);
    m.clicked.clear();
    EXPECT_TRUE(m.KeyDown(c.key));
    EXPECT_EQ(c.expected, m.TabIndex());
    EXPECT_EQ(std::vector<int>{c.expected}, m.clicked);
  }
}

TEST(KtTabsKeyboardTest, ArrowsSkipDisabledHiddenAndRefusedTabs) {
  ClickModel m({u"A", u"B", u"C", u"D", u"E"});
  m.SetTabIndex(0);
  m.Tabs().Item(1).Enabled = false;
  m.Tabs().Item(2).Visible = false;
  m.TabsChanged();
  m.asked.clear();
  EXPECT_TRUE(m.KeyDown(kRight));
  EXPECT_EQ(3, m.TabIndex());
  // Asked once, by the walk; the selection itself does not ask again.
  EXPECT_EQ(std::vector<int>{3}, m.asked);
  // Everything refused: the walk comes back round and leaves the selection.
  m.allowChange = false;
  m.asked.clear();
  m.clicked.clear();
  EXPECT_TRUE(m.KeyDown(kRight));
  EXPECT_EQ(3, m.TabIndex());
  EXPECT_EQ((std::vector<int>{4, 0}), m.asked);
  EXPECT_TRUE(m.clicked.empty());
  EXPECT_TRUE(m.KeyDown(kHome));
  EXPECT_EQ(3, m.TabIndex());
  // Not a walking key, or no tabs at all: not handled.
  EXPECT_FALSE(m.KeyDown(0x41));
  ClickModel empty;
  EXPECT_FALSE(empty.KeyDown(kRight));
}

// With no tab selected and every tab refused, the walk tries each tab once
// and ends rather than circling for ever.
TEST(KtTabsKeyboardTest, WalkWithNoSelectionEndsAfterOneRound) {
  for (uint16_t key : {kRight, kLeft}) {
    ClickModel m({u"A", u"B", u"C"});
    m.SetTabIndex(-1);
    ASSERT_EQ(-1, m.TabIndex());
    m.allowChange = false;
    m.asked.clear();
    EXPECT_TRUE(m.KeyDown(key));
    EXPECT_EQ(-1, m.TabIndex());
    EXPECT_EQ(3u, m.asked.size());
    EXPECT_TRUE(m.clicked.empty());
    m.allowChange = true;
    EXPECT_TRUE(m.KeyDown(key));
    EXPECT_EQ(key == kRight ? 0 : 2, m.TabIndex());
  }
}

// The content rectangle per style: insets at the near end, the far end,
// the outer edge and the card side of an unselected top tab, one more on
// every side with the focus rectangle.
TEST(KtTabsContentTest, InsetsPerStyleAndTextDirection) {
  struct Case {
    const char* name;
    TKtTabStyle style;
    TOrientation text;
    int32_t nearIn, farIn, outerIn, cardIn;  // with a 19-pixel thick strip
  };
  const Case cases[] = {
      // Overlap(19) = 9: the far end 2 * 9 + 2 in, shifted 2 back.
      {"single", TKtTabStyle::tsSingleSlant, TOrientation::orHorizontal, 3, 19, 1, 1},
      {"back", TKtTabStyle::tsBackSlant, TOrientation::orHorizontal, 19, 3, 1, 1},
      {"double", TKtTabStyle::tsDoubleSlant, TOrientation::orHorizontal, 19, 19, 1, 1},
      {"cut", TKtTabStyle::tsCutCorner, TOrientation::orHorizontal, 9, 9, 3, 1},
      {"cut, vertical", TKtTabStyle::tsCutCorner, TOrientation::orVertical, 4, 4, 9, 1},
      {"round", TKtTabStyle::tsRoundCorners, TOrientation::orHorizontal, 4, 4, 2, 2},
      {"square, vertical", TKtTabStyle::tsSquareCorners, TOrientation::orVertical, 2, 2, 4, 4},
  };
  for (const auto& c : cases) {
    for (const bool focus : {false, true}) {
      Model m({u"One", u"Two", u"Three"});
      m.SetTabStyle(c.style);
      m.SetTextOrientation(c.text);
      m.SetShowFocusRect(focus);
      m.UpdateLayout();
      const TKtRect t = m.TabRectInControl(1);
      const int32_t f = focus ? 1 : 0;
      const TKtRect want{t.left + c.nearIn + f, t.top + c.outerIn + f, t.right - c.farIn - f,
                         t.bottom - c.cardIn - f};
      EXPECT_EQ(want, m.TabContentRect(1)) << c.name << (focus ? ", focus" : "");
    }
  }
}

// Side and bottom tabs take the same insets along their own axes: the near
// end of left tabs is their bottom (they run upwards), the outer edge of
// bottom tabs their bottom. Single slant without the focus rectangle: near
// 3, outer and card side 1, the far end 2 * (thickness div 2) + 1 (side
// tabs with horizontal text are as thick as their text is long).
TEST(KtTabsContentTest, InsetsFollowTheOrientation) {
  enum { kNear, kFar, kOuter, kCard };
  struct Case {
    TKtTabOrientation side;
    int left, top, right, bottom;  // which inset each side of the rectangle takes
  };
  const Case cases[] = {
      {TKtTabOrientation::toTop, kNear, kOuter, kFar, kCard},
      {TKtTabOrientation::toBottom, kNear, kCard, kFar, kOuter},
      {TKtTabOrientation::toLeft, kOuter, kFar, kCard, kNear},
      {TKtTabOrientation::toRight, kCard, kNear, kOuter, kFar},
  };
  for (const auto& c : cases) {
    Model m({u"One", u"Two", u"Three"});
    m.SetTabOrientation(c.side);
    m.SetShowFocusRect(false);
    m.UpdateLayout();
    const int32_t inset[] = {3, 2 * (m.FixedDimension() / 2) + 1, 1, 1};
    const TKtRect t = m.TabRectInControl(1);
    const TKtRect want{t.left + inset[c.left], t.top + inset[c.top], t.right - inset[c.right],
                       t.bottom - inset[c.bottom]};
    EXPECT_EQ(want, m.TabContentRect(1)) << static_cast<int>(c.side);
  }
}

// Strip buttons: a = 13 + 4 (+ 2 for vertical text). Along the strip a,
// raised to the row thickness less 2 under a fixed tab size; across it a
// cut down to the row less 2, or raised to it when the fixed size is at
// least a.
TEST(KtTabsButtonTest, SizesAlongAndAcrossTheStrip) {
  struct Case {
    const char* name;
    TKtTabOrientation side;
    TOrientation text;
    int32_t tabHeight, tabWidth;
    int32_t along, across;
  };
  const Case cases[] = {
      {"plain", TKtTabOrientation::toTop, TOrientation::orHorizontal, 0, 0, 17, 17},
      {"tall fixed height", TKtTabOrientation::toTop, TOrientation::orHorizontal, 30, 0, 28, 28},
      {"low fixed height", TKtTabOrientation::toBottom, TOrientation::orHorizontal, 12, 0, 17, 10},
      {"height on side tabs is no fixed size", TKtTabOrientation::toLeft,
       TOrientation::orHorizontal, 30, 0, 17, 17},
      {"fixed width, vertical text", TKtTabOrientation::toRight, TOrientation::orVertical, 0, 40,
       38, 38},
  };
  for (const auto& c : cases) {
    Model m({u"One", u"Two"});
    m.SetTabOrientation(c.side);
    m.SetTextOrientation(c.text);
    m.SetTabHeight(c.tabHeight);
    m.SetTabWidth(c.tabWidth);
    m.UpdateLayout();
    EXPECT_EQ(c.along, m.ButtonLength()) << c.name << ", row " << m.FixedDimension();
    EXPECT_EQ(c.across, m.ButtonThickness()) << c.name << ", row " << m.FixedDimension();
  }
  Model none;
  EXPECT_EQ(0, none.ButtonThickness());
}

}  // namespace
}  // namespace kelm::test

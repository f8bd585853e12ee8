// The header's column model: setters and clamps, order, the fixed-area
// rules, removal, hit tests, auto-size, height, width distribution,
// spring columns and reverting widths.
#include <gtest/gtest.h>

#include <vector>

#include "lazytree/header_layout.h"

namespace kelm::lazytree {
namespace {

// Records the tree's column-resize events.
class TRecordingLayout : public THeaderLayout {
 public:
  std::vector<int> resized;
  std::vector<int> refused;  // columns OnCanSplitterResizeColumn refuses

 protected:
  void ColumnResized(int column) override { resized.push_back(column); }
  bool CanSplitterResizeColumn(int column, bool allowed) override {
    for (int r : refused)
      if (r == column) return false;
    return allowed;
  }
};

// Columns of the given widths at positions 0..n-1 in a 600 x 400 window.
void Build(THeaderLayout& h, const std::vector<int>& widths) {
  h.View.HasWindow = true;
  h.View.ClientWidth = 600;
  h.View.ClientHeight = 400;
  h.View.TreeHeight = 420;
  for (int w : widths) h.SetWidth(h.AddColumn(), w);
  h.View.RangeX = h.ColumnsRightEdge();
}

TLTColumnOptions With(TLTColumnOptions o, TLTColumnOption add) { return o.Include(add); }
TLTColumnOptions Without(TLTColumnOptions o, TLTColumnOption drop) { return o.Exclude(drop); }

std::vector<int> Widths(const THeaderLayout& h) {
  std::vector<int> w;
  w.reserve(static_cast<size_t>(h.Count()));
  for (int i = 0; i < h.Count(); ++i) w.push_back(h.Column(i).Width);
  return w;
}

TEST(HeaderLayout, NewColumnsAndWidthClamps) {
  TRecordingLayout h;
  Build(h, {});
  EXPECT_EQ(h.MainColumn(), -1);
  EXPECT_FALSE(h.SetSortColumn(3));  // clamps to -1: no change
  for (int i = 0; i < 3; ++i) {
    int c = h.AddColumn();
    EXPECT_EQ(h.Column(c).Width, 50);
    EXPECT_EQ(h.Column(c).Position, static_cast<uint32_t>(i));
    EXPECT_EQ(h.Column(c).Left, 50 * i);
  }
  EXPECT_EQ(h.MainColumn(), 0);

  struct TCase {
    int minW, maxW, width, expectMin, expectMax, expectWidth;
  };
  for (TCase c : {TCase{10, 10000, 5, 10, 10000, 10}, TCase{10, 10000, 20000, 10, 10000, 10000},
                  TCase{-4, 10000, 0, 0, 10000, 0}, TCase{10, 5, 50, 10, 10, 10},
                  TCase{300, 200, 50, 200, 200, 200}}) {
    TRecordingLayout g;
    Build(g, {50});
    g.SetMaxWidth(0, c.maxW);
    g.SetMinWidth(0, c.minW);
    g.SetWidth(0, c.width);
    EXPECT_EQ(g.Column(0).MinWidth, c.expectMin) << c.minW << "," << c.maxW;
    EXPECT_EQ(g.Column(0).MaxWidth, c.expectMax) << c.minW << "," << c.maxW;
    EXPECT_EQ(g.Column(0).Width, c.expectWidth) << c.minW << "," << c.maxW;
  }

  h.resized.clear();
  h.SetWidth(1, 80);
  EXPECT_EQ(h.resized, std::vector<int>{1});
  EXPECT_EQ(h.Column(1).LastWidth, 50);
  EXPECT_EQ(h.Column(2).Left, 130);
  h.SetWidth(1, 80);  // equal: no event
  EXPECT_EQ(h.resized.size(), 1u);
  // Inside the update bracket edges and events wait.
  h.BeginUpdate();
  h.SetWidth(0, 70);
  EXPECT_EQ(h.Column(1).Left, 50);
  EXPECT_EQ(h.resized.size(), 1u);
  h.EndUpdate();
  EXPECT_EQ(h.Column(1).Left, 70);
}

TEST(HeaderLayout, PositionsAndTheNeighbourFixedRule) {
  THeaderLayout h;
  Build(h, {10, 20, 30, 40});
  h.SetPosition(0, 99);  // beyond the end: last place
  EXPECT_EQ(h.PositionToIndex(), (std::vector<int32_t>{1, 2, 3, 0}));
  EXPECT_EQ(h.Column(0).Position, 3u);
  EXPECT_EQ(h.Column(0).Left, 90);
  EXPECT_EQ(h.Column(1).Left, 0);
  h.SetPosition(0, 1);
  EXPECT_EQ(h.PositionToIndex(), (std::vector<int32_t>{1, 0, 2, 3}));

  // Column 1 is fixed at position 0. A scrolling column looks at the
  // column after it: moved in front of column 1 it becomes fixed; moved
  // behind it, it does not. A fixed column looks at the one before it.
  h.SetColumnOptions(1, With(h.Column(1).Options, coFixed));
  h.SetPosition(3, 1);
  EXPECT_EQ(h.PositionToIndex(), (std::vector<int32_t>{1, 3, 0, 2}));
  EXPECT_FALSE(h.Column(3).Options.Contains(coFixed));
  h.SetPosition(3, 0);
  EXPECT_EQ(h.PositionToIndex(), (std::vector<int32_t>{3, 1, 0, 2}));
  EXPECT_TRUE(h.Column(3).Options.Contains(coFixed));
  h.SetPosition(3, 3);
  EXPECT_FALSE(h.Column(3).Options.Contains(coFixed));
  EXPECT_EQ(h.PositionToIndex(), (std::vector<int32_t>{1, 0, 2, 3}));
  // The fixed column at position 0 looks at the column after it.
  h.SetPosition(1, 0);
  EXPECT_FALSE(h.Column(1).Options.Contains(coFixed));

  // Loading keeps stored positions; rebuilding the order accepts repeats.
  THeaderLayout l;
  Build(l, {10, 20, 30});
  l.View.Loading = true;
  l.SetPosition(0, 2);
  l.SetPosition(1, 2);
  l.SetPosition(2, 0);
  l.RebuildPositionOrder();
  EXPECT_EQ(l.PositionToIndex(), (std::vector<int32_t>{2, 0, 1}));
  EXPECT_FALSE(l.SetPositionOrder({0, 0, 1}));
  EXPECT_FALSE(l.SetPositionOrder({0, 1}));
  EXPECT_TRUE(l.SetPositionOrder({1, 2, 0}));
  EXPECT_EQ(l.Column(0).Left, 50);
}

TEST(HeaderLayout, FixedAreaWidthRule) {
  // Two fixed columns of 100 and 50 and one scrolling column, client 600.
  struct TCase {
    uint8_t maxP, minP;
    int request, expect;
  };
  for (TCase c : {TCase{0, 0, 5000, 5000},  // no percentages: only the own limits
                  TCase{50, 0, 400, 250},   // fixed area at most 300: 300 - 50
                  TCase{50, 0, 5, 10},      // the own minimum still holds
                  TCase{0, 40, 20, 190},    // fixed area at least 240: 240 - 50
                  TCase{0, 40, 300, 300}}) {
    THeaderLayout h;
    Build(h, {100, 50, 80});
    for (int i : {0, 1}) h.SetColumnOptions(i, With(h.Column(i).Options, coFixed));
    h.Limits.Set(TFixedAreaLimits::MaxWidth, c.maxP);
    h.Limits.Set(TFixedAreaLimits::MinWidth, c.minP);
    h.SetWidth(0, c.request);
    EXPECT_EQ(h.Column(0).Width, c.expect) << int(c.maxP) << "/" << int(c.minP) << " " << c.request;
  }
  // Scrolling columns ignore the percentages.
  THeaderLayout h;
  Build(h, {100});
  h.Limits.Set(TFixedAreaLimits::MaxWidth, 10);
  h.SetWidth(0, 500);
  EXPECT_EQ(h.Column(0).Width, 500);
  // While scaling nothing clamps.
  h.Scaling = true;
  h.SetWidth(0, 2);
  EXPECT_EQ(h.Column(0).Width, 2);
}

TEST(HeaderLayout, FixedAreaLimitsKeepMinimumBelowMaximum) {
  using L = TFixedAreaLimits;
  L l;
  EXPECT_TRUE(l.Set(L::MinWidth, 40));
  EXPECT_TRUE(l.Set(L::MaxWidth, 30));  // lowers the minimum
  EXPECT_EQ(l[L::MinWidth], 30);
  EXPECT_TRUE(l.Set(L::MinWidth, 60));  // raises the maximum
  EXPECT_EQ(l[L::MaxWidth], 60);
  EXPECT_TRUE(l.Set(L::MaxWidth, 0));  // no maximum: the minimum stays
  EXPECT_EQ(l[L::MinWidth], 60);
  EXPECT_TRUE(l.Set(L::MinWidth, 70));  // against no maximum: nothing else moves
  EXPECT_EQ(l[L::MaxWidth], 0);
  EXPECT_FALSE(l.Set(L::MinWidth, 70));
  EXPECT_TRUE(l.Set(L::MinHeight, 20));
  EXPECT_TRUE(l.Set(L::MaxHeight, 10));
  EXPECT_EQ(l[L::MinHeight], 10);
}

TEST(HeaderLayout, RemovalFixesEveryIndex) {
  struct TCase {
    int removed, main, sort, autoSize;
    int expectMain, expectSort, expectAutoSize;
  };
  for (TCase c : {TCase{0, 0, 2, 3, 0, 1, 2},      // the column that had index 1 is main now
                  TCase{1, 3, 1, 1, 2, -1, -1},    // greater main follows its column
                  TCase{3, 3, 0, 0, 0, 0, 0},      // last column removed: main is the first
                  TCase{2, 1, 3, 2, 1, 2, -1}}) {  // smaller main stays
    THeaderLayout h;
    Build(h, {10, 20, 30, 40});
    h.SetMainColumn(c.main);
    h.SetSortColumn(c.sort);
    h.AutoSizeIndex = c.autoSize;
    h.HoverIndex = c.removed;
    h.TrackIndex = 3;
    h.RemoveColumn(c.removed);
    SCOPED_TRACE(c.removed);
    EXPECT_EQ(h.MainColumn(), c.expectMain);
    EXPECT_EQ(h.SortColumn(), c.expectSort);
    EXPECT_EQ(h.AutoSizeIndex, c.expectAutoSize);
    EXPECT_EQ(h.HoverIndex, -1);
    EXPECT_EQ(h.TrackIndex, c.removed == 3 ? -1 : 2);
    EXPECT_EQ(h.Count(), 3);
    // Still a permutation with edges following it.
    std::vector<int32_t> order = h.PositionToIndex();
    std::sort(order.begin(), order.end());
    EXPECT_EQ(order, (std::vector<int32_t>{0, 1, 2}));
    EXPECT_LT(h.MainColumn(), h.Count());
  }
  THeaderLayout h;
  Build(h, {10, 20});
  h.SetPosition(0, 1);
  h.RemoveColumn(0);
  h.RemoveColumn(0);
  EXPECT_EQ(h.MainColumn(), -1);
  EXPECT_TRUE(h.PositionToIndex().empty());
  // Main column clamps while not loading.
  THeaderLayout m;
  Build(m, {10, 20, 30, 40});
  m.SetMainColumn(7);
  EXPECT_EQ(m.MainColumn(), 3);
  m.SetMainColumn(-5);
  EXPECT_EQ(m.MainColumn(), 0);
}

TEST(HeaderLayout, ColumnAtPointWithOffsetsAndMirroring) {
  THeaderLayout h;
  Build(h, {100, 50, 80});  // edges 0, 100, 150, 230
  h.SetPosition(2, 0);      // shown: 2 (0-80), 0 (80-180), 1 (180-230)
  h.View.EffectiveOffsetX = 40;
  struct TCase {
    int x, y;
    bool relative, mirrored;
    int expect;
  };
  for (TCase c :
       {TCase{0, 0, false, false, 2}, TCase{79, 5, false, false, 2}, TCase{80, 5, false, false, 0},
        TCase{229, 5, false, false, 1}, TCase{230, 5, false, false, kInvalidColumn},
        TCase{-1, 5, false, false, kInvalidColumn}, TCase{5, -1, false, false, kInvalidColumn},
        TCase{5, 421, false, false, kInvalidColumn},
        TCase{50, 5, true, false, 0},   // 50 + 40 scrolled
        TCase{189, 5, true, false, 1},  // 229 in column space
        // mirrored: the columns move right by 600 - 230 = 370
        TCase{370, 5, false, true, 2}, TCase{449, 5, false, true, 2}, TCase{450, 5, false, true, 0},
        TCase{599, 5, false, true, 1}}) {
    h.View.Mirrored = c.mirrored;
    EXPECT_EQ(h.ColumnAtPoint(c.x, c.y, c.relative), c.expect) << c.x << "," << c.relative;
  }
  // Hidden columns take no room.
  h.View.Mirrored = false;
  h.SetColumnOptions(0, Without(h.Column(0).Options, coVisible));
  EXPECT_EQ(h.ColumnAtPoint(85, 0, false), 1);
  EXPECT_EQ(h.FirstShownColumn(), 2);
  EXPECT_EQ(h.ShownColumnAfter(2), 1);
  EXPECT_EQ(h.ShownColumnBefore(1), 2);
  EXPECT_EQ(h.LastShownColumn(), 1);
  EXPECT_EQ(h.ColumnsRightEdge(), 130);
}

// Edges of a column in the client area, with and without the point walk.
TEST(HeaderLayout, EdgesNeighboursAndMeanWidth) {
  THeaderLayout h;
  Build(h, {100, 50, 80, 31});  // shown: 2 (0-80), 0 (80-180), 1 (180-230), 3 (230-261)
  h.SetPosition(2, 0);
  h.SetColumnOptions(2, With(h.Column(2).Options, coFixed));
  h.View.RangeX = h.ColumnsRightEdge();
  h.View.EffectiveOffsetX = 40;
  struct TCase {
    int column;
    bool mirrored;
    int left, right;
  };
  // Mirrored, the columns move right by 600 - 261 = 339.
  for (TCase c : {TCase{2, false, 0, 80}, TCase{0, false, 40, 140}, TCase{1, false, 140, 190},
                  TCase{-1, false, 0, 600}, TCase{9, false, 0, 600}, TCase{2, true, 339, 419},
                  TCase{0, true, 379, 479}}) {
    h.View.Mirrored = c.mirrored;
    int left = -7, right = -7;
    h.ColumnEdges(c.column, left, right);
    EXPECT_EQ(left, c.left) << c.column << "," << c.mirrored;
    EXPECT_EQ(right, c.right) << c.column << "," << c.mirrored;
  }
  h.View.Mirrored = false;
  int left = -7, right = -7;
  EXPECT_EQ(h.ColumnAtPointWithEdges(150, 0, true, left, right), 1);  // 190 in column space
  EXPECT_EQ(left, 140);
  EXPECT_EQ(right, 190);
  EXPECT_EQ(h.ColumnAtPointWithEdges(10, 0, true, left, right), 2);  // inside the fixed area
  EXPECT_EQ(left, 0);
  EXPECT_EQ(right, 80);
  EXPECT_EQ(h.ColumnAtPointWithEdges(900, 0, false, left, right), kInvalidColumn);

  // By position, hidden or not.
  h.SetColumnOptions(1, Without(h.Column(1).Options, coVisible));
  EXPECT_EQ(h.ColumnAfter(0), 1);
  EXPECT_EQ(h.ColumnBefore(0), 2);
  EXPECT_EQ(h.ColumnBefore(2), kInvalidColumn);
  EXPECT_EQ(h.ColumnAfter(3), kInvalidColumn);
  EXPECT_EQ(h.ColumnAfter(-1), kInvalidColumn);
  EXPECT_EQ(h.ShownColumnsInOrder(), (std::vector<int>{2, 0, 3}));
  h.SetColumnOptions(0, Without(h.Column(0).Options, coAllowFocus));
  EXPECT_FALSE(h.ColumnCanTakeFocus(0));
  EXPECT_TRUE(h.ColumnCanTakeFocus(3));
  EXPECT_FALSE(h.ColumnCanTakeFocus(4));

  // Visible scrolling columns 0 and 3: (100 + 31) / 2 = 65.5, rounded to even.
  EXPECT_EQ(h.MeanScrollingColumnWidth(18), 66);
  h.SetWidth(3, 29);  // 64.5
  EXPECT_EQ(h.MeanScrollingColumnWidth(18), 64);
  h.SetColumnOptions(0, Without(h.Column(0).Options, coVisible));
  h.SetColumnOptions(3, Without(h.Column(3).Options, coVisible));
  EXPECT_EQ(h.MeanScrollingColumnWidth(18), 18);
}

TEST(HeaderLayout, BorderToleranceLeftToRightAndMirrored) {
  // Columns 100 and 50; borders at 100 and 150 (left to right).
  struct TCase {
    bool mirrored;
    int x;
    int expect;  // track index, -1 for a miss
  };
  for (TCase c : {TCase{false, 97, -1}, TCase{false, 98, 0}, TCase{false, 104, 0},
                  TCase{false, 105, -1}, TCase{false, 148, 1}, TCase{false, 154, 1},
                  // mirrored: shift 600 - 150 = 450; left borders at 450 and 550
                  TCase{true, 445, -1}, TCase{true, 446, 0}, TCase{true, 452, 0},
                  TCase{true, 453, -1}, TCase{true, 546, 1}, TCase{true, 552, 1}}) {
    TRecordingLayout h;
    Build(h, {100, 50});
    h.View.Mirrored = c.mirrored;
    EXPECT_EQ(h.LocateBorderColumn(c.x, 3), c.expect >= 0) << c.mirrored << " " << c.x;
    EXPECT_EQ(h.TrackIndex, c.expect) << c.mirrored << " " << c.x;
    if (c.expect >= 0) {
      // The column's fixed edge: left edge, or right edge when mirrored.
      int fixedEdge = c.mirrored ? (c.expect == 0 ? 550 : 600) : (c.expect == 0 ? 0 : 100);
      EXPECT_EQ(h.TrackPointX, fixedEdge);
      EXPECT_EQ(h.TrackPointY, 3);
    }
  }
  // Refused by the event, not resizable, or no columns: no hit.
  TRecordingLayout h;
  Build(h, {100, 50});
  h.refused = {0};
  EXPECT_FALSE(h.LocateBorderColumn(100, 0));
  h.refused.clear();
  h.SetColumnOptions(0, Without(h.Column(0).Options, coResizable));
  EXPECT_FALSE(h.LocateBorderColumn(100, 0));
  THeaderLayout empty;
  EXPECT_FALSE(empty.LocateBorderColumn(0, 0));
  // A scrolling column's border inside the fixed area is not hit.
  TRecordingLayout f;
  Build(f, {100, 50, 60});
  f.SetColumnOptions(0, With(f.Column(0).Options, coFixed));
  f.View.EffectiveOffsetX = 55;  // column 1's right border drawn at 95
  EXPECT_FALSE(f.LocateBorderColumn(96, 0));
  EXPECT_TRUE(f.LocateBorderColumn(100, 0));  // the fixed column's border stays
  EXPECT_EQ(f.TrackIndex, 0);
}

TEST(HeaderLayout, AutoSizeColumnTakesTheRest) {
  TRecordingLayout h;
  Build(h, {100, 50, 80});
  h.AutoSizeIndex = 1;
  h.Options.Include(hoAutoResize);
  h.FitAutoSizeColumn(false);
  EXPECT_EQ(h.Column(1).Width, 600 - 180);
  // Its own width is computed again, never stored.
  h.SetWidth(1, 30);
  EXPECT_EQ(h.Column(1).Width, 420);
  // Others change: it follows.
  h.SetWidth(0, 150);
  EXPECT_EQ(h.Column(1).Width, 370);
  // Hidden columns leave their room; the limits still apply.
  h.SetColumnOptions(2, Without(h.Column(2).Options, coVisible));
  EXPECT_EQ(h.Column(1).Width, 450);
  h.SetMaxWidth(1, 300);
  EXPECT_EQ(h.Column(1).Width, 300);
  // Out of range: the last column.
  h.AutoSizeIndex = 9;
  EXPECT_EQ(h.AutoSizeColumn(), 2);
}

TEST(HeaderLayout, HeightRuleAndConstraints) {
  THeaderLayout h;
  h.SetHeight(5);  // no window: kept unchecked until rescaled
  EXPECT_EQ(h.Height(), 5);
  EXPECT_TRUE(h.NeedsScaling);
  h.View.HasWindow = true;
  h.View.ClientHeight = 200;
  h.ApplyFixedAreaLimits();
  EXPECT_EQ(h.Height(), 10);
  EXPECT_FALSE(h.NeedsScaling);

  struct TCase {
    uint8_t maxP, minP;
    int minH, maxH, request, expect;
  };
  // T = 200 + the current height 10 = 210.
  for (TCase c :
       {TCase{0, 0, 10, 10000, 3, 10}, TCase{0, 0, 10, 40, 99, 40},
        TCase{10, 0, 10, 10000, 50, 21},  // at most 10% of 210
        // MinHeight 30 raised the height: T = 230, 10% = 23 beats MinHeight
        TCase{10, 0, 30, 10000, 25, 23}, TCase{0, 20, 10, 30, 12, 42},  // at least 20%: 42
        TCase{0, 20, 10, 30, 60, 42}}) {                                // high = max(42, 30)
    THeaderLayout g;
    g.View.HasWindow = true;
    g.View.ClientHeight = 200;
    g.SetHeight(10);
    g.SetMaxHeight(c.maxH);
    g.SetMinHeight(c.minH);
    g.SetHeight(10);
    g.Limits.Set(TFixedAreaLimits::MaxHeight, c.maxP);
    g.Limits.Set(TFixedAreaLimits::MinHeight, c.minP);
    EXPECT_EQ(g.ConstrainHeight(c.request), c.expect)
        << c.request << " " << int(c.maxP) << "/" << int(c.minP);
  }
  // MinHeight above MaxHeight is lowered; MaxHeight below MinHeight raised.
  h.SetMaxHeight(50);
  h.SetMinHeight(80);
  EXPECT_EQ(h.MinHeight(), 50);
  h.SetMaxHeight(20);
  EXPECT_EQ(h.MaxHeight(), 50);
  h.SetMinHeight(-3);
  EXPECT_EQ(h.MinHeight(), 0);
}

TEST(HeaderLayout, DistributeWidthChange) {
  const TLTColumnOptions visible{coVisible};
  struct TCase {
    const char* what;
    std::vector<int> widths;
    std::vector<int> maxWidths;  // empty: 10000
    int change;
    int expectApplied;
    std::vector<int> expect;
  };
  for (const TCase& c : std::vector<TCase>{
           {"grow evenly", {50, 50, 50}, {}, 30, 30, {60, 60, 60}},
           {"grow with remainder from the first", {50, 50, 50}, {}, 31, 31, {61, 60, 60}},
           {"shrink with remainder from the last", {50, 50, 50}, {}, -32, -32, {40, 39, 39}},
           {"room of one column used up", {50, 50, 50}, {55, 10000, 10000}, 30, 30, {55, 63, 62}},
           {"beyond the room", {50, 50}, {60, 70}, 100, 30, {60, 70}},
           {"shrink beyond the minimum", {50, 15}, {}, -100, -45, {10, 10}},
           {"nothing can change", {10, 10}, {}, -5, 0, {10, 10}},
       }) {
    THeaderLayout h;
    Build(h, c.widths);
    for (size_t i = 0; i < c.maxWidths.size(); ++i)
      h.SetMaxWidth(static_cast<int>(i), c.maxWidths[i]);
    EXPECT_EQ(h.DistributeWidthChange(c.change, 0, h.Count() - 1, visible), c.expectApplied)
        << c.what;
    EXPECT_EQ(Widths(h), c.expect) << c.what;
  }
  // The bonus pixel goes round: successive one-pixel changes reach each
  // column in turn rather than the first one again.
  THeaderLayout h;
  Build(h, {50, 50, 50});
  for (int i = 0; i < 3; ++i) h.DistributeWidthChange(1, 0, 2, visible);
  EXPECT_EQ(Widths(h), (std::vector<int>{51, 51, 51}));
  // Only columns with every option of the mask take part.
  h.SetColumnOptions(1, With(h.Column(1).Options, coFixed));
  EXPECT_EQ(h.DistributeWidthChange(10, 0, 2, TLTColumnOptions{coVisible, coFixed}), 10);
  EXPECT_EQ(Widths(h), (std::vector<int>{51, 61, 51}));
  EXPECT_EQ(h.DistributeWidthChange(0, 0, 2, visible), 0);
  // Scaling down gives way below the minimum widths, a tenth at a time.
  THeaderLayout s;
  Build(s, {100, 100});
  s.SetMinWidth(0, 100);
  s.SetMinWidth(1, 100);
  s.Scaling = true;
  int applied = s.DistributeWidthChange(-50, 0, 1, visible);
  s.Scaling = false;
  EXPECT_EQ(applied, -50);
  EXPECT_EQ(s.Column(0).Width + s.Column(1).Width, 150);
}

TEST(HeaderLayout, SpringRestsCarryFractionsOverResizes) {
  TRecordingLayout h;
  Build(h, {100, 100, 100, 100});
  h.Options.Include(hoAutoSpring);
  for (int i : {0, 1, 2}) h.SetColumnOptions(i, With(h.Column(i).Options, coAutoSpring));
  h.ApplySpringWidth(600);  // first call only remembers the width
  EXPECT_EQ(Widths(h), (std::vector<int>{100, 100, 100, 100}));
  // +1 three times: a third each time; the whole pixel arrives on the third.
  h.ApplySpringWidth(601);
  h.ApplySpringWidth(602);
  EXPECT_EQ(Widths(h), (std::vector<int>{100, 100, 100, 100}));
  h.ApplySpringWidth(603);
  EXPECT_EQ(Widths(h), (std::vector<int>{101, 101, 101, 100}));
  EXPECT_NEAR(h.Column(0).SpringRest, 0.0f, 1e-4);
  // +10: 3 1/3 each.
  h.ApplySpringWidth(613);
  EXPECT_EQ(Widths(h), (std::vector<int>{104, 104, 104, 100}));
  EXPECT_NEAR(h.Column(1).SpringRest, 1.0f / 3, 1e-4);
  // Shrinking takes pixels away the same way.
  h.ApplySpringWidth(607);
  EXPECT_EQ(Widths(h), (std::vector<int>{102, 102, 102, 100}));
  EXPECT_EQ(h.LastHeaderWidth, 607);
  // Adding coAutoSpring starts a fresh rest.
  h.SetColumnOptions(3, With(h.Column(3).Options, coAutoSpring));
  EXPECT_EQ(h.Column(3).SpringRest, 0.0f);
  // Without hoAutoSpring only the width is remembered.
  h.Options.Exclude(hoAutoSpring);
  h.ApplySpringWidth(900);
  EXPECT_EQ(h.Column(0).Width, 102);
  EXPECT_EQ(h.LastHeaderWidth, 900);
}

TEST(HeaderLayout, RevertColumnWidthsFollowsTheShownOrder) {
  THeaderLayout h;
  Build(h, {50, 50, 50});
  h.SetWidth(0, 60);
  h.SetWidth(1, 70);
  h.SetWidth(2, 80);
  // Shown order 2, 0, 1; column 1 cannot be resized.
  h.SetPosition(2, 0);
  h.SetColumnOptions(1, Without(h.Column(1).Options, coResizable));
  h.RevertColumnWidths();
  EXPECT_EQ(Widths(h), (std::vector<int>{50, 70, 50}));
  // A column hidden at its position is left alone too.
  THeaderLayout g;
  Build(g, {50, 50});
  g.SetWidth(1, 90);
  g.SetPosition(1, 0);
  g.SetColumnOptions(0, Without(g.Column(0).Options, coVisible));
  g.SetWidth(0, 99);
  g.RevertColumnWidths();
  EXPECT_EQ(Widths(g), (std::vector<int>{99, 50}));
}

TEST(HeaderLayout, LoadsAParsedStreamThroughTheSetters) {
  THeaderRecord r;
  for (int w : {100, 200, 5, 250}) {
    TColumnRecord c;
    c.Width = w;
    r.Columns.push_back(c);
  }
  r.Positions = {3, 0, 1, 2};
  r.Height = 22;
  r.Options = 1034;  // hoVisible, hoColumnResize, hoDrag
  r.MainColumn = 9;
  r.SortColumn = 2;
  r.MinWidthPercent = 7;
  TRecordingLayout h;
  Build(h, {60, 60});
  h.SetSortColumn(1);
  h.resized.clear();
  h.LoadHeaderRecord(r);
  EXPECT_EQ(Widths(h), (std::vector<int>{100, 200, 10, 250}));  // 5 below MinWidth
  EXPECT_EQ(h.PositionToIndex(), r.Positions);
  EXPECT_EQ(h.Column(3).Left, 0);
  EXPECT_EQ(h.Column(0).Left, 250);
  EXPECT_EQ(h.Height(), 22);
  EXPECT_EQ(h.Options.ToInt(), 1034u);
  EXPECT_EQ(h.MainColumn(), 3);  // clamped into the columns
  EXPECT_EQ(h.SortColumn(), 2);
  EXPECT_EQ(h.Limits[TFixedAreaLimits::MinWidth], 7);
  EXPECT_FALSE(h.LoadingColumns);
  ASSERT_FALSE(h.resized.empty());
  EXPECT_EQ(h.resized.back(), -1);  // the all-columns notice ends the read
  // An old record keeps the main and sort columns and the limits it lacks.
  r.Version = 0;
  r.Columns.resize(2);
  r.Positions = {1, 0};
  h.LoadHeaderRecord(r);
  EXPECT_EQ(h.Count(), 2);
  // The sort column 2 it kept names no column any more.
  EXPECT_EQ(h.SortColumn(), -1);
  EXPECT_EQ(h.MainColumn(), 1);
}

}  // namespace
}  // namespace kelm::lazytree

// Where a popup goes: the point of every placement kind against a target,
// against a target and a rectangle, and against a rectangle alone; the
// monitor rule; the cursor-centred left edge and the message popup's
// centring offset; sizes of zero and coordinates beyond any screen.
#include "scene/sg_popup_placement.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>

namespace kelm::scene {
namespace {

const char* KindName(TsgPlacement p) { return TypeInfo_TsgPlacement.Names[p].c_str(); }

// Popup 30 x 20, offsets (5, 3); target 100 x 40.
TsgPlacementInput Input(TsgPlacement p, float hoff = 5, float voff = 3) {
  TsgPlacementInput in;
  in.Placement = p;
  in.Width = 30;
  in.Height = 20;
  in.HorizontalOffset = hoff;
  in.VerticalOffset = voff;
  return in;
}

struct Case {
  TsgPlacement placement;
  TsgPoint expected;
};

TEST(PopupPlacement, PointKindsAgainstTheTargetAlone) {
  const Case cases[] = {
      {sgPlacementBottom, {5, 43}},
      {sgPlacementTop, {5, -23}},
      {sgPlacementLeft, {-35, 3}},
      {sgPlacementRight, {105, 3}},
      {sgPlacementCenter, {40, 13}},
      {sgPlacementBottomCenter, {40, 43}},
      {sgPlacementTopCenter, {40, -23}},
      // Centred on the target's height: voff - h / 2 + th / 2.
      {sgPlacementLeftCenter, {-35, 13}},
      {sgPlacementRightCenter, {105, 13}},
  };
  for (const Case& c : cases) {
    const TsgPoint p = sgPlacementPointOnTarget(Input(c.placement), 100, 40);
    EXPECT_FLOAT_EQ(p.X, c.expected.X) << KindName(c.placement);
    EXPECT_FLOAT_EQ(p.Y, c.expected.Y) << KindName(c.placement);
  }
}

TEST(PopupPlacement, PointKindsAgainstARectangleOnTheTarget) {
  const Case cases[] = {
      {sgPlacementBottom, {15, 63}},
      {sgPlacementTop, {15, -3}},
      {sgPlacementLeft, {-25, 23}},
      {sgPlacementRight, {55, 23}},
      {sgPlacementCenter, {20, 33}},
      {sgPlacementBottomCenter, {20, 63}},
      {sgPlacementTopCenter, {20, -3}},
      // With a rectangle the side kinds take its top, not the target's middle.
      {sgPlacementLeftCenter, {-25, 23}},
      {sgPlacementRightCenter, {55, 23}},
  };
  for (const Case& c : cases) {
    TsgPlacementInput in = Input(c.placement);
    in.Rectangle = {10, 20, 50, 60};
    in.RectangleSet = true;
    const TsgPoint p = sgPlacementPointOnTarget(in, 100, 40);
    EXPECT_FLOAT_EQ(p.X, c.expected.X) << KindName(c.placement);
    EXPECT_FLOAT_EQ(p.Y, c.expected.Y) << KindName(c.placement);
  }
}

TEST(PopupPlacement, WithoutATargetTheRectangleIsOnTheScreenAndCentredKindsArePlain) {
  // Fractional offsets: the point is truncated towards zero (-3.6 gives -3).
  const Case cases[] = {
      {sgPlacementBottom, {15, 63}},      {sgPlacementTop, {15, -3}},
      {sgPlacementLeft, {-25, 23}},       {sgPlacementRight, {55, 23}},
      {sgPlacementCenter, {20, 33}},      {sgPlacementBottomCenter, {15, 63}},
      {sgPlacementTopCenter, {15, -3}},   {sgPlacementLeftCenter, {-25, 23}},
      {sgPlacementRightCenter, {55, 23}},
  };
  for (const Case& c : cases) {
    TsgPlacementInput in = Input(c.placement, 5.7f, 3.6f);
    in.Rectangle = {10, 20, 50, 60};
    in.RectangleSet = true;
    const TsgPoint p = sgPlacementPointOnRect(in);
    EXPECT_FLOAT_EQ(p.X, c.expected.X) << KindName(c.placement);
    EXPECT_FLOAT_EQ(p.Y, c.expected.Y) << KindName(c.placement);
  }
}

TEST(PopupPlacement, OnlyTheNinePointKindsUseAPoint) {
  for (int i = 0; i <= sgPlacementMouseCenter; ++i) {
    const auto p = static_cast<TsgPlacement>(i);
    EXPECT_EQ(sgPlacementUsesPoint(p), i < sgPlacementAbsolute) << KindName(p);
  }
}

TEST(PopupPlacement, ZeroSizesPlaceAtFinitePoints) {
  for (int i = 0; i < sgPlacementAbsolute; ++i) {
    TsgPlacementInput in = Input(static_cast<TsgPlacement>(i));
    in.Width = in.Height = 0;
    for (const TsgPoint p : {sgPlacementPointOnTarget(in, 0, 0), sgPlacementPointOnRect(in)}) {
      EXPECT_TRUE(std::isfinite(p.X) && std::isfinite(p.Y)) << KindName(in.Placement);
    }
  }
  // An empty target, popup and rectangle: the centre kind lands on the offsets.
  const TsgPoint p = sgPlacementPointOnTarget(
      [] {
        TsgPlacementInput in = Input(sgPlacementCenter);
        in.Width = in.Height = 0;
        return in;
      }(),
      0, 0);
  EXPECT_FLOAT_EQ(p.X, 5);
  EXPECT_FLOAT_EQ(p.Y, 3);
}

TEST(PopupPlacement, KeepsTheRightAndBottomEdgesInsideTheMonitor) {
  struct ClampCase {
    int left, top, width, height;
    int monLeft, monTop, monWidth, monHeight;
    int expLeft, expTop;
  } const cases[] = {
      {1200, 100, 200, 50, 0, 0, 1280, 1024, 1080, 100},     // past the right edge
      {100, 1000, 200, 50, 0, 0, 1280, 1024, 100, 974},      // past the bottom
      {1270, 1020, 20, 10, 0, 0, 1280, 1024, 1260, 1014},    // both
      {1080, 974, 200, 50, 0, 0, 1280, 1024, 1080, 974},     // touching the edges stays
      {-50, -40, 20, 10, 0, 0, 1280, 1024, -50, -40},        // left and top are not moved
      {2300, 700, 100, 100, 1280, 0, 1024, 768, 2204, 668},  // a second monitor
      {INT_MAX - 10, INT_MAX - 10, 100, 100, 0, 0, 1280, 1024, 1180, 924},  // no overflow
  };
  for (const ClampCase& c : cases) {
    int left = c.left, top = c.top;
    sgKeepInMonitor(left, top, c.width, c.height, c.monLeft, c.monTop, c.monWidth, c.monHeight);
    EXPECT_EQ(left, c.expLeft) << c.left << "," << c.top;
    EXPECT_EQ(top, c.expTop) << c.left << "," << c.top;
  }
}

TEST(PopupPlacement, MouseCentreNearTheRightEdgeStaysOnTheMonitor) {
  int left = sgMouseCenterLeft(1270, 200);
  EXPECT_EQ(left, 1170);
  int top = 500;
  sgKeepInMonitor(left, top, 200, 50, 0, 0, 1280, 1024);
  EXPECT_EQ(left, 1080);
  EXPECT_EQ(top, 500);
  EXPECT_EQ(sgMouseCenterLeft(100, 5), 97);  // half of 5 rounds away from zero
}

TEST(PopupPlacement, MessagePopupCentresOverItsForm) {
  EXPECT_FLOAT_EQ(sgCenteringOffset(400, 200), 100);
  EXPECT_FLOAT_EQ(sgCenteringOffset(100, 300), -100);
  EXPECT_FLOAT_EQ(sgCenteringOffset(0, 0), 0);
}

TEST(PopupPlacement, CoordinatesBecomeWholePixelsWithoutOverflow) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  struct CoordCase {
    float in;
    int trunc, round;
  } const cases[] = {
      {2.7f, 2, 3},
      {-2.7f, -2, -3},
      {2.5f, 2, 3},
      {-2.5f, -2, -3},
      {inf, 10000000, 10000000},
      {-inf, -10000000, -10000000},
      {nan, 0, 0},
      {3e9f, 10000000, 10000000},
  };
  for (const CoordCase& c : cases) {
    EXPECT_EQ(sgTruncCoord(c.in), c.trunc) << c.in;
    EXPECT_EQ(sgRoundCoord(c.in), c.round) << c.in;
  }
  // A far-off rectangle places at a held coordinate, not an overflowed one.
  TsgPlacementInput in = Input(sgPlacementBottom);
  in.Rectangle = {inf, nan, 0, 0};
  in.RectangleSet = true;
  const TsgPoint p = sgPlacementPointOnRect(in);
  EXPECT_FLOAT_EQ(p.X, 10000000);
  EXPECT_FLOAT_EQ(p.Y, 3);
}

}  // namespace
}  // namespace kelm::scene

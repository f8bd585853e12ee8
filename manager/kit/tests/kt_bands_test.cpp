// Band arithmetic of the gradient painters: how long each band is, which
// colour it takes, and that the bands cover the area once.
#include "kit/kt_bands.h"

#include <gtest/gtest.h>

#include <vector>

namespace kelm::test {
namespace {

using namespace kit;

constexpr uint32_t kBlack = 0x000000;
constexpr uint32_t kWhite = 0xFFFFFF;

TEST(KtBandsTest, MinimumStepsFromSteps) {
  struct Case {
    uint8_t steps;
    int linear, box;
  };
  const Case cases[] = {{0, 1, 1},   {1, 1, 1},    {2, 2, 2},  {8, 8, 8},
                        {9, 29, 29}, {16, 16, 17}, {255, 2, 2}};
  for (const auto& c : cases) {
    EXPECT_EQ(c.linear, MinimumBandSteps(c.steps)) << +c.steps;
    EXPECT_EQ(c.box, MinimumBoxBandSteps(c.steps)) << +c.steps;
  }
}

// Black to white over 100 pixels changes the colour at every step, so every
// band but the last is exactly the minimum long.
TEST(KtBandsTest, LinearBandLengthsFollowSteps) {
  for (uint8_t steps : {0, 1, 2, 8, 16}) {
    const auto bands = LinearBands(-1, 0, 100, kBlack, kWhite, steps);
    ASSERT_FALSE(bands.empty());
    const int want = MinimumBandSteps(steps);
    for (size_t i = 0; i + 1 < bands.size(); ++i) {
      EXPECT_EQ(want, bands[i].steps) << "steps " << +steps << " band " << i;
      EXPECT_EQ(want, bands[i].rect.Width()) << "steps " << +steps << " band " << i;
    }
    EXPECT_LE(bands.back().steps, want);
  }
}

// A band goes on past the minimum while the colour stays: 0 to 2 in red
// over 100 pixels changes the colour only twice.
TEST(KtBandsTest, LinearBandGrowsWhileTheColourHolds) {
  const auto bands = LinearBands(-1, 0, 100, 0x000002, 0x000000, 1);
  ASSERT_EQ(2u, bands.size());
  EXPECT_EQ(0x000000, bands[0].color);
  EXPECT_EQ(0x000001, bands[1].color);
  EXPECT_EQ((TKtRect{49, 0, 100, 8}), bands[0].rect);
  EXPECT_EQ((TKtRect{0, 0, 49, 8}), bands[1].rect);
}

// Paints the bands into a row of colours (-1 = unpainted) along the strip.
std::vector<int64_t> Paint(const std::vector<TKtRectBand>& bands, int size, bool horizontal) {
  std::vector<int64_t> row(size, -1);
  for (const auto& b : bands) {
    EXPECT_EQ(0, horizontal ? b.rect.top : b.rect.left);
    EXPECT_EQ(8, horizontal ? b.rect.bottom : b.rect.right);
    const int from = horizontal ? b.rect.left : b.rect.top;
    const int to = horizontal ? b.rect.right : b.rect.bottom;
    for (int p = from; p < to; ++p) {
      EXPECT_EQ(-1, row[p]) << "pixel " << p << " painted twice";
      row[p] = b.color;
    }
  }
  return row;
}

int Red(int64_t c) { return static_cast<int>(c & 0xFF); }

TEST(KtBandsTest, LinearFullPassRunsStartToStop) {
  const auto row = Paint(LinearBands(-1, 0, 60, 0x0000C8, 0x000014, 1), 60, true);
  // Stop colour at the far end; one step short of the start colour at 0.
  EXPECT_EQ(0x14, Red(row[59]));
  EXPECT_NEAR(0xC8, Red(row[0]), 3);
  for (int p = 1; p < 60; ++p) EXPECT_GE(Red(row[p - 1]), Red(row[p])) << p;
  const auto column = Paint(LinearBands(0, -1, 60, 0x0000C8, 0x000014, 1), 60, false);
  EXPECT_EQ(row, column);
}

TEST(KtBandsTest, LinearSplitHasStopInTheMiddle) {
  const int size = 41;
  const auto row = Paint(LinearBands(0, size / 2, size, 0x0000F0, 0x000010, 1), size, false);
  for (int p = 0; p < size; ++p) ASSERT_NE(-1, row[p]) << p;
  EXPECT_EQ(0x10, Red(row[size / 2]));
  EXPECT_EQ(0xF0, Red(row[size - 1]));
  EXPECT_NEAR(0xF0, Red(row[0]), 12);
  EXPECT_NEAR(Red(row[size / 2]), Red(row[size / 2 + 1]), 12);
  for (int p = 1; p <= size / 2; ++p) EXPECT_GE(Red(row[p - 1]), Red(row[p])) << p;
  for (int p = size / 2 + 2; p < size; ++p) EXPECT_LE(Red(row[p - 1]), Red(row[p])) << p;
}

TEST(KtBandsTest, BoxSmallOrPlainIsOneFill) {
  struct Case {
    int w, h;
    uint32_t start, stop;
  };
  const Case cases[] = {
      {4, 20, kBlack, kWhite}, {20, 4, kBlack, kWhite}, {20, 20, 0x123456, 0x123456}};
  for (const auto& c : cases) {
    const auto bands = BoxBands(c.w, c.h, 0, 0, c.start, c.stop, 1);
    ASSERT_EQ(1u, bands.size()) << c.w << "x" << c.h;
    EXPECT_EQ((TKtRect{0, 0, c.w + 1, c.h + 1}), bands[0].rect);
    EXPECT_EQ(static_cast<TColor>(c.start), bands[0].color);
  }
  EXPECT_GT(BoxBands(5, 5, 0, 0, kBlack, kWhite, 1).size(), 1u);
}

// Paints box bands into a grid; later bands paint over earlier ones.
std::vector<std::vector<int64_t>> PaintBox(const std::vector<TKtRectBand>& bands, int w, int h) {
  std::vector<std::vector<int64_t>> grid(h, std::vector<int64_t>(w, -1));
  for (const auto& b : bands) {
    for (int y = std::max(b.rect.top, 0); y < std::min(b.rect.bottom, h); ++y)
      for (int x = std::max(b.rect.left, 0); x < std::min(b.rect.right, w); ++x)
        grid[y][x] = b.color;
  }
  return grid;
}

TEST(KtBandsTest, BoxQuadrantRunsCentreToCorner) {
  const int w = 41, h = 31;  // quadrant 21 x 16
  const auto bands = BoxBands(w, h, 0, 0, 0x0000FF, 0x000000, 1);
  const auto grid = PaintBox(bands, 21, 16);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 21; ++x) ASSERT_NE(-1, grid[y][x]) << x << "," << y;
  EXPECT_EQ(0, Red(grid[15][20]));  // centre: stop colour
  // Outer corner: within two of the 21 steps of the start colour.
  const int twoSteps = 2 * 255 / 21 + 1;
  EXPECT_NEAR(0xFF, Red(grid[0][0]), twoSteps);
  // Rings: moving outward never darkens.
  for (int i = 1; i < 16; ++i) EXPECT_GE(Red(grid[15 - i][20 - i]), Red(grid[16 - i][21 - i])) << i;
  for (const auto& b : bands) {
    EXPECT_LE(b.rect.right, 21);
    EXPECT_LE(b.rect.bottom, 16);
  }
}

// Insets as large as the half sizes leave an axis with nowhere to go: the
// fill still ends, and still reaches the quadrant's corner.
TEST(KtBandsTest, BoxWithAStillAxisEnds) {
  struct Case {
    int w, h, xInset, yInset;
  };
  for (const Case c : {Case{20, 20, 9, 9}, Case{21, 41, 10, 0}, Case{41, 21, 0, 10}}) {
    const auto bands = BoxBands(c.w, c.h, c.xInset, c.yInset, kBlack, kWhite, 1);
    ASSERT_FALSE(bands.empty()) << c.w << "x" << c.h;
    const auto grid = PaintBox(bands, (c.w - 1) / 2 + 1, (c.h - 1) / 2 + 1);
    EXPECT_NE(-1, grid[0][0]) << c.w << "x" << c.h;
  }
}

TEST(KtBandsTest, BoxBandLengthsFollowSteps) {
  for (uint8_t steps : {0, 1, 2, 8, 16}) {
    const auto bands = BoxBands(301, 301, 0, 0, kBlack, kWhite, steps);
    const int want = MinimumBoxBandSteps(steps);
    ASSERT_GT(bands.size(), 2u);
    // Each band is two rectangles (one may be empty at the centre).
    for (size_t i = 0; i + 2 < bands.size(); ++i) EXPECT_EQ(want, bands[i].steps) << +steps;
  }
  EXPECT_EQ(17, BoxBands(301, 301, 0, 0, kBlack, kWhite, 16)[0].steps);
}

TEST(KtBandsTest, DiagonalBandLengthsFollowSteps) {
  for (uint8_t steps : {0, 1, 2, 8, 16}) {
    const auto bands = DiagonalBands(200, 150, kBlack, kWhite, steps);
    const int want = MinimumBandSteps(steps);
    ASSERT_GT(bands.size(), 2u);
    int atMinimum = 0;
    for (const auto& b : bands) {
      EXPECT_GE(b.steps, 1);
      if (b.steps == want) ++atMinimum;
    }
    // Only the closing band of each sweep may be short.
    EXPECT_GE(atMinimum + 2, static_cast<int>(bands.size())) << +steps;
  }
}

TEST(KtBandsTest, DiagonalWithoutHeightHasNoBands) {
  EXPECT_TRUE(DiagonalBands(50, 0, kBlack, kWhite, 1).empty());
  EXPECT_TRUE(DiagonalBands(-50, -3, kBlack, kWhite, 1).empty());
  EXPECT_FALSE(DiagonalBands(0, 10, kBlack, kWhite, 1).empty());
}

TEST(KtBandsTest, DiagonalDirectionsStartInTheirCorners) {
  const auto forward = DiagonalBands(100, 60, 0x0000FF, 0x000000, 1);
  ASSERT_FALSE(forward.empty());
  // The first band touches the bottom-left corner in the start colour; the
  // last ends at the top-right corner near the stop colour.
  EXPECT_EQ((TKtPoint{0, 60}), forward.front().points[1]);
  EXPECT_EQ(0xFF, Red(forward.front().color));
  EXPECT_EQ((TKtPoint{100, 0}), forward.back().points[3]);
  EXPECT_LT(Red(forward.back().color), 8);

  const auto backward = DiagonalBands(-100, 60, 0x0000FF, 0x000000, 1);
  ASSERT_FALSE(backward.empty());
  EXPECT_EQ((TKtPoint{100, 60}), backward.front().points[1]);
  EXPECT_EQ(0x00, Red(backward.front().color));
  EXPECT_EQ((TKtPoint{0, 0}), backward.back().points[3]);
  EXPECT_GT(Red(backward.back().color), 0xF8);
}

}  // namespace
}  // namespace kelm::test

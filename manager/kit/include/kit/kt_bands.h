// Which bands a gradient is painted in and in which colours: the band
// arithmetic of the gradient painters, kept apart from GDI. Colours step in
// 16.16 fixed point; a band lasts at least a minimum number of steps (from
// the painter's Steps) and goes on while the stepped colour stays the same.
#pragma once

#include <cstdint>
#include <vector>

#include "kit/kt_common.h"
#include "kit/kt_geometry.h"

namespace kelm::kit {

struct TKtRectBand {
  TKtRect rect;
  TColor color = 0;
  int steps = 0;  // colour steps the band covers
};

struct TKtPolygonBand {
  TKtPoint points[4];
  TColor color = 0;
  int steps = 0;
};

// Least steps of one band: Steps 0 and 1 give 1, 2..8 themselves, above 8
// 255 div Steps + 1 (box fills: 256 div Steps + 1).
int MinimumBandSteps(uint8_t steps);
int MinimumBoxBandSteps(uint8_t steps);

// The colour accumulators of a band fill: from one colour toward another
// over span steps, each channel in 16.16 fixed point.
class TKtColorStepper {
 public:
  TKtColorStepper(uint32_t fromRgb, uint32_t toRgb, int32_t span);
  void Step();
  // The accumulators' integer parts, kept inside a byte.
  TColor Current() const;

 private:
  int32_t acc_[3] = {};
  int32_t inc_[3] = {};
};

// Bands on an 8-pixel strip (rows 0-7 when horizontal, i.e. splitX <> 0;
// columns 0-7 otherwise). A negative split: one pass, startRgb at pixel 0
// to stopRgb at pixel size - 1; a split: stopRgb at the split and startRgb
// at both ends.
std::vector<TKtRectBand> LinearBands(int splitX, int splitY, int size, uint32_t startRgb,
                                     uint32_t stopRgb, uint8_t steps);

// Bands of the top-left quadrant of a width x height box, stopRgb in the
// centre to startRgb at the outer corner; equal colours or a box too small
// give one rectangle of startRgb.
std::vector<TKtRectBand> BoxBands(int width, int height, int xInset, int yInset, uint32_t startRgb,
                                  uint32_t stopRgb, uint8_t steps);

// Diagonal bands as 4-point polygons; width > 0 runs from startRgb at the
// bottom-left corner, width <= 0 from stopRgb at the bottom-right corner.
std::vector<TKtPolygonBand> DiagonalBands(int width, int height, uint32_t startRgb,
                                          uint32_t stopRgb, uint8_t steps);

}  // namespace kelm::kit

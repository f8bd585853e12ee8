// Gradient fills into an off-screen bitmap, tiling and mirroring blits, and
// painting the parent's image behind a transparent control. The band
// arithmetic lives in kt_bands.h; these routines only paint it.
#pragma once

#include <windows.h>

#include <cstdint>

#include "classlib/controls.h"
#include "classlib/graphics.h"

namespace kelm::kit {

// Directions: 0 and 1 diagonal, 2 top-to-bottom, 3 from the middle
// vertically, 4 box with a horizontal inset, 5 left-to-right, 6 from the
// middle horizontally, 7 box with a vertical inset, 8 box, 9 box with both
// insets. Above 9 nothing is painted; so is an empty rectangle.
void GradientFill(classlib::TCanvas* canvas, const classlib::TRect& bounds, uint8_t direction,
                  classlib::TColor startColor, classlib::TColor stopColor, uint8_t steps);

// Linear bands on an 8-pixel strip (rows 0-7 when splitX <> 0).
void LinearBandFill(HDC dc, int splitX, int splitY, int size, classlib::TColor startColor,
                    classlib::TColor stopColor, uint8_t steps);
// Rectangular bands in the top-left quadrant of width x height.
void BoxBandFill(HDC dc, int width, int height, int xInset, int yInset, classlib::TColor startColor,
                 classlib::TColor stopColor, uint8_t steps);
// Diagonal bands as polygons (width <= 0: the other diagonal).
void DiagonalBandFill(HDC dc, int width, int height, classlib::TColor startColor,
                      classlib::TColor stopColor, uint8_t steps);
// Fills width x height at (x, y) from the tile painted there, doubling.
void DoublingTileBlt(HDC dc, int x, int y, int width, int height, int tileWidth, int tileHeight,
                     DWORD rop);
// Mirrors the top-left quadrant into the other three.
void QuadMirrorBlt(HDC dc, int x, int y, int width, int height, DWORD rop);

// Paints what the parent shows behind the control into dc (in the
// control's coordinates).
void PaintParentBackground(classlib::TControl* control, HDC dc, bool invalidateParent);
void PaintParentBackground(classlib::TControl* control, classlib::TCanvas* canvas,
                           bool invalidateParent);

}  // namespace kelm::kit

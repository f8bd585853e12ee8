// Where a popup window goes: the placement kinds, the point each kind gives
// against a target or a rectangle, the keep-inside-the-monitor rule and the
// offsets of a message popup. Pure arithmetic; the Win32 popup binds it to
// its form, its target's scene and the cursor.
#pragma once

#include <cstdint>

#include "classlib/typinfo.h"
#include "scene/sg_types.h"

namespace kelm::scene {

enum TsgPlacement : uint8_t {
  sgPlacementBottom,
  sgPlacementTop,
  sgPlacementLeft,
  sgPlacementRight,
  sgPlacementCenter,
  sgPlacementBottomCenter,
  sgPlacementTopCenter,
  sgPlacementLeftCenter,
  sgPlacementRightCenter,
  sgPlacementAbsolute,
  sgPlacementMouse,
  sgPlacementMouseCenter
};
extern const classlib::TTypeInfo TypeInfo_TsgPlacement;

// What a placement reads of the popup.
struct TsgPlacementInput {
  TsgPlacement Placement = sgPlacementBottom;
  // The popup's size.
  float Width = 0, Height = 0;
  float HorizontalOffset = 0, VerticalOffset = 0;
  // PlacementRectangle; "set" when any edge is not 0.
  TsgRect Rectangle{};
  bool RectangleSet = false;
};

// The kinds placed through a point (all but absolute and the mouse kinds).
bool sgPlacementUsesPoint(TsgPlacement placement);

// The point of a point kind against a target of the given size, in the
// target's local coordinates: against the rectangle when it is set, else
// against the target's own rectangle. Not truncated.
TsgPoint sgPlacementPointOnTarget(const TsgPlacementInput& in, float targetWidth,
                                  float targetHeight);

// The point of a point kind without a target: the rectangle alone, read
// as screen coordinates; the centred kinds place as their plain kinds and
// the centre kind centres in the rectangle. Truncated.
TsgPoint sgPlacementPointOnRect(const TsgPlacementInput& in);

// A coordinate as a whole pixel: truncated (or rounded) towards an int;
// beyond +-1e7 and non-finite values are held at the nearest bound (0 for
// NaN), so no conversion overflows.
int sgTruncCoord(float v);
int sgRoundCoord(float v);

// A window of width x height at (left, top) kept inside its monitor: one
// whose right edge passes the monitor's right edge moves left to end
// there, one whose bottom edge passes the monitor's bottom moves up.
void sgKeepInMonitor(int& left, int& top, int width, int height, int monitorLeft, int monitorTop,
                     int monitorWidth, int monitorHeight);

// The left edge of a window centred on the cursor.
int sgMouseCenterLeft(int cursorX, float width);

// The horizontal offset that centres a popup of width inside an outer
// width (a message popup over its target or its form).
float sgCenteringOffset(float outerWidth, float width);

}  // namespace kelm::scene

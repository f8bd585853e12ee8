#include "scene/sg_popup_placement.h"

#include <cmath>

namespace kelm::scene {

const classlib::TTypeInfo TypeInfo_TsgPlacement = classlib::EnumTypeInfo(
    "TsgPlacement", {"sgPlacementBottom", "sgPlacementTop", "sgPlacementLeft", "sgPlacementRight",
                     "sgPlacementCenter", "sgPlacementBottomCenter", "sgPlacementTopCenter",
                     "sgPlacementLeftCenter", "sgPlacementRightCenter", "sgPlacementAbsolute",
                     "sgPlacementMouse", "sgPlacementMouseCenter"});

namespace {

// Far beyond any screen, well inside an int.
constexpr float kMaxCoord = 1.0e7f;

float Held(float v) {
  if (std::isnan(v)) return 0;
  if (v > kMaxCoord) return kMaxCoord;
  if (v < -kMaxCoord) return -kMaxCoord;
  return v;
}

// The table of point kinds over the box b. centredRows: the left and right
// centred kinds centre on the target's height (no rectangle given).
TsgPoint PointOn(const TsgPlacementInput& in, const TsgRect& b, float targetHeight,
                 bool centredRows) {
  const float w = in.Width, h = in.Height;
  const float hoff = in.HorizontalOffset, voff = in.VerticalOffset;
  switch (in.Placement) {
    case sgPlacementBottom:
      return {b.Left + hoff, b.Bottom + voff};
    case sgPlacementTop:
      return {b.Left + hoff, b.Top - h - voff};
    case sgPlacementLeft:
      return {b.Left - w - hoff, b.Top + voff};
    case sgPlacementRight:
      return {b.Right + hoff, b.Top + voff};
    case sgPlacementCenter:
      return {b.Left + (b.Right - b.Left - w) / 2 + hoff,
              b.Top + (b.Bottom - b.Top - h) / 2 + voff};
    case sgPlacementBottomCenter:
      return {hoff + (b.Left + b.Right) / 2 - w / 2, b.Bottom + voff};
    case sgPlacementTopCenter:
      return {hoff + (b.Left + b.Right) / 2 - w / 2, b.Top - h - voff};
    case sgPlacementLeftCenter:
      return {b.Left - w - hoff, centredRows ? voff - h / 2 + targetHeight / 2 : b.Top + voff};
    case sgPlacementRightCenter:
      return {b.Right + hoff, centredRows ? voff - h / 2 + targetHeight / 2 : b.Top + voff};
    default:
      return {};
  }
}

}  // namespace

bool sgPlacementUsesPoint(TsgPlacement placement) { return placement <= sgPlacementRightCenter; }

TsgPoint sgPlacementPointOnTarget(const TsgPlacementInput& in, float targetWidth,
                                  float targetHeight) {
  const TsgRect b = in.RectangleSet ? in.Rectangle : TsgRect{0, 0, targetWidth, targetHeight};
  return PointOn(in, b, targetHeight, !in.RectangleSet);
}

TsgPoint sgPlacementPointOnRect(const TsgPlacementInput& in) {
  TsgPlacementInput plain = in;
  switch (in.Placement) {
    case sgPlacementBottomCenter:
      plain.Placement = sgPlacementBottom;
      break;
    case sgPlacementTopCenter:
      plain.Placement = sgPlacementTop;
      break;
    case sgPlacementLeftCenter:
      plain.Placement = sgPlacementLeft;
      break;
    case sgPlacementRightCenter:
      plain.Placement = sgPlacementRight;
      break;
    default:
      break;
  }
  const TsgPoint p = PointOn(plain, in.Rectangle, 0, false);
  return {static_cast<float>(sgTruncCoord(p.X)), static_cast<float>(sgTruncCoord(p.Y))};
}

int sgTruncCoord(float v) { return static_cast<int>(std::trunc(Held(v))); }

int sgRoundCoord(float v) { return static_cast<int>(std::lround(Held(v))); }

void sgKeepInMonitor(int& left, int& top, int width, int height, int monitorLeft, int monitorTop,
                     int monitorWidth, int monitorHeight) {
  // In 64 bits: a far-off window must not overflow the sums.
  const int64_t right = int64_t{monitorLeft} + monitorWidth;
  const int64_t bottom = int64_t{monitorTop} + monitorHeight;
  if (int64_t{left} + width > right) left = static_cast<int>(right - width);
  if (int64_t{top} + height > bottom) top = static_cast<int>(bottom - height);
}

int sgMouseCenterLeft(int cursorX, float width) { return cursorX - sgRoundCoord(width / 2); }

float sgCenteringOffset(float outerWidth, float width) { return (outerWidth - width) / 2; }

}  // namespace kelm::scene

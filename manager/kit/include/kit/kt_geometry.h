// Plain rectangles and points of the kit's portable code (the Win32 part
// turns them into RECT and POINT at the GDI boundary).
#pragma once

#include <cstdint>

namespace kelm::kit {

struct TKtPoint {
  int32_t x = 0;
  int32_t y = 0;
  friend bool operator==(const TKtPoint& a, const TKtPoint& b) { return a.x == b.x && a.y == b.y; }
};

struct TKtRect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
  int32_t Width() const { return right - left; }
  int32_t Height() const { return bottom - top; }
  bool Empty() const { return right <= left || bottom <= top; }
  // Right and bottom are outside, as GDI counts them.
  bool Contains(TKtPoint p) const {
    return p.x >= left && p.x < right && p.y >= top && p.y < bottom;
  }
  friend bool operator==(const TKtRect& a, const TKtRect& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
  }
  friend bool operator!=(const TKtRect& a, const TKtRect& b) { return !(a == b); }
};

}  // namespace kelm::kit

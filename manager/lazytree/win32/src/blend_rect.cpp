#include "lazytree/blend_rect.h"

#include <algorithm>
#include <cstdint>

#include "lazytree/lazy_tree_error.h"

namespace kelm::lazytree {

namespace {

// The pixels of the bitmap selected into a DC, asserted to be a 32-bit
// DIB section.
struct TPixels {
  uint8_t* bits = nullptr;
  int width = 0;
  int height = 0;  // rows, whatever their order
  bool bottomUp = false;
  uint32_t* Row(int y) const {
    const int stored = bottomUp ? height - y - 1 : y;
    return reinterpret_cast<uint32_t*>(bits + static_cast<size_t>(width) * 4 * stored);
  }
};

// GetObject may report a top-down section's height as positive: GDI is
// asked where the top-left pixel lies, and both candidates are put back.
bool TopRowIsLast(HDC dc, const TPixels& p) {
  uint32_t* first = reinterpret_cast<uint32_t*>(p.bits);
  uint32_t* last = first + static_cast<size_t>(p.width) * (p.height - 1);
  const uint32_t savedFirst = *first;
  const uint32_t savedLast = *last;
  // A colour neither candidate holds, so that the write shows.
  COLORREF probe = RGB(255, 255, 255);
  for (COLORREF c : {RGB(255, 255, 255), RGB(0, 0, 0), RGB(255, 0, 0)}) {
    const uint32_t asPixel = (GetRValue(c) << 16) | (GetGValue(c) << 8) | GetBValue(c);
    if ((savedFirst & 0xFFFFFF) != asPixel && (savedLast & 0xFFFFFF) != asPixel) {
      probe = c;
      break;
    }
  }
  // Device pixel (0, 0), whatever the DC's origin, mapping or clipping.
  const int state = SaveDC(dc);
  SetMapMode(dc, MM_TEXT);
  ModifyWorldTransform(dc, nullptr, MWT_IDENTITY);
  SetViewportOrgEx(dc, 0, 0, nullptr);
  SetWindowOrgEx(dc, 0, 0, nullptr);
  SelectClipRgn(dc, nullptr);
  SetPixelV(dc, 0, 0, probe);
  GdiFlush();
  RestoreDC(dc, state);
  const bool topDown = *first != savedFirst;
  *first = savedFirst;
  *last = savedLast;
  return !topDown;
}

TPixels PixelsOf(HDC dc) {
  DIBSECTION dib{};
  HGDIOBJ bitmap = dc ? GetCurrentObject(dc, OBJ_BITMAP) : nullptr;
  const bool section =
      bitmap && GetObjectW(bitmap, sizeof(dib), &dib) == sizeof(dib) && dib.dsBm.bmBits != nullptr;
  LT_ASSERT(section, u"Alpha blending DC error: no bitmap available.");
  LT_ASSERT(dib.dsBm.bmBitsPixel == 32, u"Alpha blending error: bitmap must use 32 bpp.");
  TPixels p;
  p.bits = static_cast<uint8_t*>(dib.dsBm.bmBits);
  p.width = dib.dsBm.bmWidth;
  p.height = dib.dsBm.bmHeight < 0 ? -dib.dsBm.bmHeight : dib.dsBm.bmHeight;
  p.bottomUp = dib.dsBmih.biHeight > 0 && p.height > 1 && TopRowIsLast(dc, p);
  return p;
}

}  // namespace

void BlendRect(HDC source, HDC target, classlib::TRect r, classlib::TPoint targetPoint,
               TBlendMode mode, uint8_t constantAlpha, int32_t bias) {
  const TPixels to = PixelsOf(target);
  const bool needsSource = mode != BlendColor;
  const TPixels from = needsSource ? PixelsOf(source) : to;
  if (r.right <= r.left || r.bottom <= r.top) return;
  // Clipped to both bitmaps: a rectangle partly outside either would
  // otherwise read or write past its pixels.
  auto left = static_cast<int>(r.left);
  auto top = static_cast<int>(r.top);
  auto tx = static_cast<int>(targetPoint.x);
  auto ty = static_cast<int>(targetPoint.y);
  const int skipX = std::max({0, -left, -tx});
  const int skipY = std::max({0, -top, -ty});
  left += skipX;
  tx += skipX;
  top += skipY;
  ty += skipY;
  const int width = std::min({static_cast<int>(r.right) - left, from.width - left, to.width - tx});
  const int height =
      std::min({static_cast<int>(r.bottom) - top, from.height - top, to.height - ty});
  if (width <= 0 || height <= 0) return;
  for (int y = 0; y < height; ++y) {
    const uint32_t* s = needsSource ? from.Row(top + y) + left : nullptr;
    BlendPixels(s, to.Row(ty + y) + tx, static_cast<size_t>(width), mode, constantAlpha, bias);
  }
}

std::u16string ShortenString(HDC dc, const std::u16string& text, int width, int ellipsisWidth) {
  return ShortenWithEllipsis(text, width, ellipsisWidth, [dc](const char16_t* s, size_t count) {
    SIZE size{};
    GetTextExtentPoint32W(dc, reinterpret_cast<const wchar_t*>(s), static_cast<int>(count), &size);
    return static_cast<int>(size.cx);
  });
}

}  // namespace kelm::lazytree

// Blending between the 32-bit DIB sections selected into two device
// contexts, and shortening a text in a device context's font.
#pragma once

#include <windows.h>

#include <string>

#include "classlib/graphics.h"
#include "lazytree/alpha_blend.h"

namespace kelm::lazytree {

// Blends the rectangle r of the source's bitmap onto the target's bitmap
// at targetPoint. Both need a 32-bit DIB section selected (BlendColor
// reads no source: source may be none); the rectangle is clipped to both
// bitmaps, and an empty one does nothing.
void BlendRect(HDC source, HDC target, classlib::TRect r, classlib::TPoint targetPoint,
               TBlendMode mode, uint8_t constantAlpha, int32_t bias);

// ShortenWithEllipsis measured with GetTextExtentPoint32W in the DC's font.
std::u16string ShortenString(HDC dc, const std::u16string& text, int width, int ellipsisWidth);

}  // namespace kelm::lazytree

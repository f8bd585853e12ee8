// Alpha blending of 32-bit pixels, channel by channel in 16-bit words as the
// tree's selection, rubber band and drag image use it; the longest prefix
// of a text that fits a width with "..." after it; small colour and
// rectangle helpers (portable).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace kelm::lazytree {

enum TBlendMode : uint8_t { BlendConstant, BlendPerPixel, BlendMaster, BlendColor };

// t = ((s - d) * a + d * 256) >> 8 in unsigned 16-bit words; the bias is
// added to t - 128 with signed 16-bit saturation, then 128 back and the
// result saturated to a byte.
uint8_t BlendChannel(uint8_t source, uint8_t target, uint8_t alpha, int16_t bias);
// (c * a + (256 - a) * d) >> 8.
uint8_t BlendColorChannel(uint8_t color, uint8_t target, uint8_t alpha);

// Blends count pixels (0xAARRGGBB, the bitmap's byte order B, G, R, A) of
// source into target. BlendColor reads no source: the bias carries the
// colour as a COLORREF (0x00BBGGRR).
void BlendPixels(const uint32_t* source, uint32_t* target, size_t count, TBlendMode mode,
                 uint8_t constantAlpha, int32_t bias);

// The class library's colours as COLORREF: none (0x1FFFFFFF) becomes
// CLR_NONE, default (0x20000000) CLR_DEFAULT.
uint32_t ColorToRef(uint32_t color);

// Measures the first count characters of a text in pixels.
using TTextMeasure = std::function<int(const char16_t* text, size_t count)>;

// The text cut to its longest prefix that fits width together with "...",
// followed by "..."; empty when nothing fits. An ellipsisWidth of 0 is
// measured.
std::u16string ShortenWithEllipsis(const std::u16string& text, int width, int ellipsisWidth,
                                   const TTextMeasure& measure);

}  // namespace kelm::lazytree

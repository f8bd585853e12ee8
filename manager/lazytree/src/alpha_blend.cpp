#include "lazytree/alpha_blend.h"

#include <algorithm>

namespace kelm::lazytree {

namespace {

int16_t Saturate16(int32_t value) {
  return static_cast<int16_t>(std::clamp<int32_t>(value, INT16_MIN, INT16_MAX));
}

uint8_t Channel(uint32_t pixel, int index) { return static_cast<uint8_t>(pixel >> (8 * index)); }

}  // namespace

uint8_t BlendChannel(uint8_t source, uint8_t target, uint8_t alpha, int16_t bias) {
  // Word arithmetic as the vector unit does it: products keep their low 16
  // bits and the shift is unsigned.
  const auto difference = static_cast<uint16_t>(source - target);
  const auto scaled = static_cast<uint16_t>(difference * alpha);
  const auto sum = static_cast<uint16_t>(scaled + static_cast<uint16_t>(target << 8));
  const int32_t t = sum >> 8;
  const int32_t biased = Saturate16(t - 128 + bias) + 128;
  return static_cast<uint8_t>(std::clamp<int32_t>(biased, 0, 255));
}

uint8_t BlendColorChannel(uint8_t color, uint8_t target, uint8_t alpha) {
  return static_cast<uint8_t>((color * alpha + (256 - alpha) * target) >> 8);
}

void BlendPixels(const uint32_t* source, uint32_t* target, size_t count, TBlendMode mode,
                 uint8_t constantAlpha, int32_t bias) {
  // The colour in the bitmap's order: blue lowest.
  const uint32_t color =
      ((bias & 0xFF) << 16) | (bias & 0xFF00) | ((static_cast<uint32_t>(bias) >> 16) & 0xFF);
  const auto wordBias = static_cast<int16_t>(bias);
  for (size_t i = 0; i < count; ++i) {
    const uint32_t d = target[i];
    uint32_t result = 0;
    if (mode == BlendColor) {
      for (int c = 0; c < 4; ++c)
        result |= static_cast<uint32_t>(
                      BlendColorChannel(Channel(color, c), Channel(d, c), constantAlpha))
                  << (8 * c);
    } else {
      const uint32_t s = source[i];
      uint8_t alpha = constantAlpha;
      if (mode == BlendPerPixel) alpha = Channel(s, 3);
      if (mode == BlendMaster) alpha = static_cast<uint8_t>((Channel(s, 3) * constantAlpha) >> 8);
      for (int c = 0; c < 4; ++c)
        result |= static_cast<uint32_t>(BlendChannel(Channel(s, c), Channel(d, c), alpha, wordBias))
                  << (8 * c);
    }
    target[i] = result;
  }
}

uint32_t ColorToRef(uint32_t color) {
  if (color == 0x1FFFFFFF) return 0xFFFFFFFF;
  if (color == 0x20000000) return 0xFF000000;
  return color;
}

std::u16string ShortenWithEllipsis(const std::u16string& text, int width, int ellipsisWidth,
                                   const TTextMeasure& measure) {
  if (text.empty() || width <= 0) return {};
  if (ellipsisWidth == 0) ellipsisWidth = measure(u"...", 3);
  if (ellipsisWidth >= width) return {};
  // The longest prefix of at most length - 1 characters that fits with
  // the ellipsis.
  size_t low = 0;
  size_t high = text.size() - 1;
  while (low < high) {
    const size_t middle = (low + high + 1) / 2;
    if (width < ellipsisWidth + measure(text.data(), middle)) {
      high = middle - 1;
    } else {
      low = middle;
    }
  }
  return text.substr(0, low) + u"...";
}

}  // namespace kelm::lazytree

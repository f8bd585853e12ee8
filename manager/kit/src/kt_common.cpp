#include "kit/kt_common.h"

#include <algorithm>
#include <cstdlib>

#include "classlib/sysutils.h"

namespace kelm::kit {

namespace {

uint32_t BlackForSystemColors(TColor color) {
  return (color & clKtSystemColor) != 0 ? 0u : static_cast<uint32_t>(color) & 0xFFFFFFu;
}

TKtColorResolver resolver = BlackForSystemColors;

uint8_t ToByte(int64_t v) {
  if (v < 0 || v > 255) throw classlib::ERangeError("Range check error");
  return static_cast<uint8_t>(v);
}

// A channel in 0..1 (anything outside is cut to the range: saturations above
// 240 would otherwise push a channel below 0) to a byte.
uint8_t ChannelByte(double c) {
  c = std::clamp(c, 0.0, 1.0);
  return static_cast<uint8_t>(classlib::Round(c * 255));
}

}  // namespace

void SetColorResolver(TKtColorResolver r) { resolver = r ? r : BlackForSystemColors; }

uint32_t ResolveColor(TColor color) { return resolver(color); }

void ColorToHsl(TColor color, uint8_t& H, uint8_t& S, uint8_t& L) {
  const uint32_t rgb = ResolveColor(color);
  const double r = RedOf(rgb) / 255.0;
  const double g = GreenOf(rgb) / 255.0;
  const double b = BlueOf(rgb) / 255.0;
  const double mx = std::max({r, g, b});
  const double mn = std::min({r, g, b});
  const double l = (mx + mn) / 2;
  double h = 0;
  double s = 0;
  if (mx != mn) {
    const double d = mx - mn;
    s = l >= 0.5 ? d / (2 - mx - mn) : d / (mx + mn);
    if (r == mx) {
      h = (g - b) / d;
    } else if (g == mx) {
      h = (b - r) / d + 2;
    } else {
      h = (r - g) / d + 4;
    }
    h /= 6;
    if (h < 0) h += 1;
  }
  H = ToByte(classlib::Round(h * 240));
  S = ToByte(classlib::Round(s * 240));
  L = ToByte(classlib::Round(l * 240));
}

uint8_t HueOfColor(TColor color) {
  uint8_t h = 0, s = 0, l = 0;
  ColorToHsl(color, h, s, l);
  return h;
}

TColor ColorFromHsl(uint8_t H, uint8_t S, uint8_t L) {
  const double l = L / 240.0;
  const double s = S / 240.0;
  const double m2 = l >= 0.5 ? l + s - l * s : l * (1 + s);
  if (m2 <= 0) return 0;
  // 239, not 240: hues 239 and 240 both land in sextant 6, which takes the
  // order of sextant 0.
  const double h6 = H / 239.0 * 6;
  const int sextant = static_cast<int>(h6);
  const double m1 = 2 * l - m2;
  const double v = m2 * ((m2 - m1) / m2) * (h6 - sextant);
  const double up = m1 + v;
  const double down = m2 - v;
  double r = m2, g = up, b = m1;
  switch (sextant) {
    case 1:
      r = down, g = m2, b = m1;
      break;
    case 2:
      r = m1, g = m2, b = up;
      break;
    case 3:
      r = m1, g = down, b = m2;
      break;
    case 4:
      r = up, g = m1, b = m2;
      break;
    case 5:
      r = m2, g = m1, b = down;
      break;
    default:
      break;
  }
  return MakeRgb(ChannelByte(r), ChannelByte(g), ChannelByte(b));
}

TColor DarkerColor(TColor color, uint8_t amount) {
  uint8_t h = 0, s = 0, l = 0;
  ColorToHsl(color, h, s, l);
  return ColorFromHsl(h, s, static_cast<uint8_t>(std::max(l - amount, 0)));
}

TColor LighterColor(TColor color, uint8_t amount) {
  uint8_t h = 0, s = 0, l = 0;
  ColorToHsl(color, h, s, l);
  return ColorFromHsl(h, s, static_cast<uint8_t>(std::min(l + amount, 255)));
}

TColor AdjustColor(TColor color, int amount) {
  if (amount > 0) return LighterColor(color, ToByte(amount));
  if (amount < 0) return DarkerColor(color, ToByte(-static_cast<int64_t>(amount)));
  return color;
}

TColor MixColors(TColor color1, TColor color2, uint8_t weight) {
  const uint32_t c1 = ResolveColor(color1);
  const uint32_t c2 = ResolveColor(color2);
  const float w = weight / 255.0f;
  auto mix = [w](uint8_t a, uint8_t b) {
    const float v = a * w + (1 - w) * b;
    return ToByte(classlib::Round(v));
  };
  return MakeRgb(mix(RedOf(c1), RedOf(c2)), mix(GreenOf(c1), GreenOf(c2)),
                 mix(BlueOf(c1), BlueOf(c2)));
}

TColor XorColors(TColor color1, TColor color2) {
  return static_cast<TColor>((ResolveColor(color1) ^ ResolveColor(color2)) & 0xFFFFFFu);
}

bool ColorsAreClose(TColor color1, TColor color2) {
  uint8_t h1 = 0, s1 = 0, l1 = 0, h2 = 0, s2 = 0, l2 = 0;
  ColorToHsl(color1, h1, s1, l1);
  ColorToHsl(color2, h2, s2, l2);
  return std::abs(h1 - h2) < 20 && std::abs(l1 - l2) < 60;
}

TColor ContrastHueColor(TColor color, uint8_t lightness) {
  const uint8_t h = HueOfColor(color);
  const int contrast = h < 120 ? h + 120 : h - 120;
  return ColorFromHsl(static_cast<uint8_t>(contrast), 240, lightness);
}

bool OrdinalInSet(uint8_t ordinal, const uint32_t (&set)[8]) {
  return ((set[ordinal / 32] >> (ordinal % 32)) & 1u) != 0;
}

bool OsLevelMet(int level, uint32_t platform, uint32_t major, uint32_t minor) {
  const bool any = platform == 1 || platform == 2;
  const bool nt = platform == 2;
  switch (level) {
    case 0:
      return any && major >= 4;
    case 1:
      return nt && major >= 4;
    case 2:
      return any && major >= 4 && minor >= 10;
    case 3:
      return any && ((major >= 4 && minor >= 90) || major >= 5);
    case 4:
      return nt && major >= 5;
    case 5:
      return nt && (major > 5 || (major == 5 && minor >= 1));
    case 6:
      return nt && (major > 5 || (major == 5 && minor >= 2));
    case 7:
      return nt && major >= 6;
    default:
      return false;
  }
}

uint8_t ThemeColorSchemeOf(const char16_t* colorName) {
  if (colorName == nullptr) return 0;
  const std::u16string upper = classlib::WideUpperCase(colorName);
  if (upper == u"HOMESTEAD") return 1;
  if (upper == u"METALLIC") return 2;
  return 0;
}

}  // namespace kelm::kit

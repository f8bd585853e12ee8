// ARGB colours: packing, alpha arithmetic, HSL and the named colours.
#include <cmath>
#include <algorithm>
#include <cstdio>

#include "classlib/sysutils.h"
#include "scene/sg_types.h"

namespace kelm::scene {

namespace {
uint32_t Ch(TsgColor c, int shift) { return (c >> shift) & 0xFFu; }
TsgColor Pack(uint32_t a, uint32_t r, uint32_t g, uint32_t b) {
  return (a << 24) | (r << 16) | (g << 8) | b;
}
uint32_t RoundByte(double v) {
  double r = std::nearbyint(v * 255);
  if (r < 0) return 0;
  if (r > 255) return 255;
  return static_cast<uint32_t>(r);
}
}  // namespace

TsgColor sgMakeColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t alpha) {
  return Pack(alpha, red, green, blue);
}

TsgColor sgColorToNative(TsgColor c) { return c; }

TsgColor sgPremultiplyAlpha(TsgColor c) {
  uint32_t a = Ch(c, 24);
  if (a == 0) return 0;
  if (a == 255) return c;
  return Pack(a, Ch(c, 16) * a / 255, Ch(c, 8) * a / 255, Ch(c, 0) * a / 255);
}

TsgColor sgUnpremultiplyAlpha(TsgColor c) {
  uint32_t a = Ch(c, 24);
  if (a == 0) return 0;
  if (a == 255) return c;
  // A channel above its alpha is not a valid premultiplied value; clamping
  // keeps it from spilling into the neighbouring channel.
  // channel / (alpha / 255) in exact integer arithmetic, truncated.
  auto un = [a](uint32_t v) {
    uint32_t r = v * 255 / a;
    return r > 255 ? 255u : r;
  };
  return Pack(a, un(Ch(c, 16)), un(Ch(c, 8)), un(Ch(c, 0)));
}

TsgColor sgOpacityColor(TsgColor c, float opacity) {
  if (opacity >= 1) return c;
  double a = std::trunc(static_cast<double>(opacity) * Ch(c, 24));
  // A negative or NaN opacity hides the colour rather than wrapping the byte.
  uint32_t alpha = (a > 0) ? static_cast<uint32_t>(a) : 0u;
  return (c & 0x00FFFFFFu) | (alpha << 24);
}

TsgColor sgInterpolateColor(TsgColor start, TsgColor stop, float t) {
  TsgColor r = 0;
  for (int shift = 0; shift < 32; shift += 8) {
    double diff = static_cast<double>(Ch(stop, shift)) - static_cast<double>(Ch(start, shift));
    double step = std::trunc(diff * t);
    // Out-of-range t stays defined: the sum is kept to its low 8 bits.
    int64_t v = static_cast<int64_t>(Ch(start, shift)) +
                (std::isfinite(step) && std::fabs(step) < 1e15 ? static_cast<int64_t>(step) : 0);
    r |= (static_cast<uint32_t>(v) & 0xFFu) << shift;
  }
  return r;
}

void sgRGBtoHSL(TsgColor c, float& h, float& s, float& l) {
  double r = Ch(c, 16) / 255.0, g = Ch(c, 8) / 255.0, b = Ch(c, 0) / 255.0;
  double mx = std::max(r, std::max(g, b)), mn = std::min(r, std::min(g, b));
  double L = (mx + mn) / 2, H = 0, S = 0;
  if (mx != mn) {
    double diff = mx - mn;
    S = L > 0.5 ? diff / (2 - mx - mn) : diff / (mx + mn);
    if (mx == r)
      H = (g - b) / diff;
    else if (mx == g)
      H = 2 + (b - r) / diff;
    else
      H = 4 + (r - g) / diff;
    H /= 6;
    if (H < 0) H += 1;
  }
  h = static_cast<float>(H);
  s = static_cast<float>(S);
  l = static_cast<float>(L);
}

TsgColor sgHSLtoRGB(float h, float s, float l) {
  if (s == 0) {
    uint32_t v = RoundByte(l);
    return Pack(255, v, v, v);
  }
  double H = h, S = s, L = l;
  double q = L < 0.5 ? L * (1 + S) : L + S - L * S;
  double p = 2 * L - q;
  auto f = [p, q](double x) {
    if (x < 0) x += 1;
    if (x > 1) x -= 1;
    if (x < 1.0 / 6) return p + (q - p) * 6 * x;
    if (x < 0.5) return q;
    if (x < 2.0 / 3) return p + (q - p) * (2.0 / 3 - x) * 6;
    return p;
  };
  return Pack(255, RoundByte(f(H + 1.0 / 3)), RoundByte(f(H)), RoundByte(f(H - 1.0 / 3)));
}

TsgColor sgChangeHSL(TsgColor c, float dH, float dS, float dL) {
  float h, s, l;
  sgRGBtoHSL(c, h, s, l);
  auto clamp01 = [](float v) { return v < 0 ? 0.0f : (v > 1 ? 1.0f : v); };
  TsgColor rgb = sgHSLtoRGB(clamp01(h + dH), clamp01(s + dS), clamp01(l + dL));
  return (rgb & 0x00FFFFFFu) | (c & 0xFF000000u);
}

std::string sgColorToStr(TsgColor c) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "#%08X", static_cast<unsigned>(c));
  return buf;
}

namespace {
// A signed 32-bit integer in decimal or, after "$", hexadecimal; hexadecimal
// texts of up to eight digits wrap into the sign bit.
bool ParseColorInt(std::string_view t, TsgColor& out) {
  size_t i = 0;
  while (i < t.size() && t[i] == ' ') ++i;
  bool neg = false;
  if (i < t.size() && (t[i] == '-' || t[i] == '+')) neg = t[i++] == '-';
  bool hex = false;
  if (i < t.size() && t[i] == '$') {
    hex = true;
    ++i;
  } else if (i + 1 < t.size() && t[i] == '0' && (t[i + 1] == 'x' || t[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  if (i >= t.size()) return false;
  uint64_t v = 0;
  for (; i < t.size(); ++i) {
    char c = t[i];
    unsigned d;
    if (c >= '0' && c <= '9')
      d = static_cast<unsigned>(c - '0');
    else if (hex && c >= 'a' && c <= 'f')
      d = static_cast<unsigned>(c - 'a' + 10);
    else if (hex && c >= 'A' && c <= 'F')
      d = static_cast<unsigned>(c - 'A' + 10);
    else
      return false;
    v = v * (hex ? 16 : 10) + d;
    if (v > 0xFFFFFFFFull) return false;
  }
  if (!hex && v > (neg ? 0x80000000ull : 0x7FFFFFFFull)) return false;
  out = static_cast<uint32_t>(neg ? (0 - v) : v);
  return true;
}
}  // namespace

TsgColor sgStrToColor(std::string_view text) {
  std::string t;
  if (!text.empty() && text[0] == '#') {
    t = "$" + std::string(text.substr(1));
  } else {
    t = std::string(text);
    for (const TsgColorName& n : sgColorNames) {
      if (classlib::SameText(text, n.Name)) {
        t = std::string("$") + (n.Value + 1);
        break;
      }
    }
  }
  TsgColor c = 0;
  return ParseColorInt(t, c) ? c : 0;
}

const TsgColorName sgColorNames[sgColorNameCount] = {
    {"Aliceblue", "#FFF0F8FF"},
    {"Antiquewhite", "#FFFAEBD7"},
    {"Aqua", "#FF00FFFF"},
    {"Aquamarine", "#FF7FFFD4"},
    {"Azure", "#FFF0FFFF"},
    {"Beige", "#FFF5F5DC"},
    {"Bisque", "#FFFFE4C4"},
    {"Black", "#FF000000"},
    {"Blanchedalmond", "#FFFFEBCD"},
    {"Blue", "#FF0000FF"},
    {"Blueviolet", "#FF8A2BE2"},
    {"Brown", "#FFA52A2A"},
    {"Burlywood", "#FFDEB887"},
    {"Cadetblue", "#FF5F9EA0"},
    {"Chartreuse", "#FF7FFF00"},
    {"Chocolate", "#FFD2691E"},
    {"Coral", "#FFFF7F50"},
    {"Cornflowerblue", "#FF6495ED"},
    {"Cornsilk", "#FFFFF8DC"},
    {"Crimson", "#FFDC143C"},
    {"Cyan", "#FF00FFFF"},
    {"Darkblue", "#FF00008B"},
    {"Darkcyan", "#FF008B8B"},
    {"Darkgoldenrod", "#FFB8860B"},
    {"Darkgray", "#FFA9A9A9"},
    {"Darkgreen", "#FF006400"},
    {"Darkgrey", "#FFA9A9A9"},
    {"Darkkhaki", "#FFBDB76B"},
    {"Darkmagenta", "#FF8B008B"},
    {"Darkolivegreen", "#FF556B2F"},
    {"Darkorange", "#FFFF8C00"},
    {"Darkorchid", "#FF9932CC"},
    {"Darkred", "#FF8B0000"},
    {"Darksalmon", "#FFE9967A"},
    {"Darkseagreen", "#FF8FBC8F"},
    {"Darkslateblue", "#FF483D8B"},
    {"Darkslategray", "#FF2F4F4F"},
    {"Darkslategrey", "#FF2F4F4F"},
    {"Darkturquoise", "#FF00CED1"},
    {"Darkviolet", "#FF9400D3"},
    {"Deeppink", "#FFFF1493"},
    {"Deepskyblue", "#FF00BFFF"},
    {"Dimgray", "#FF696969"},
    {"Dimgrey", "#FF696969"},
    {"Dodgerblue", "#FF1E90FF"},
    {"Firebrick", "#FFB22222"},
    {"Floralwhite", "#FFFFFAF0"},
    {"Forestgreen", "#FF228B22"},
    {"Fuchsia", "#FFFF00FF"},
    {"Gainsboro", "#FFDCDCDC"},
    {"Ghostwhite", "#FFF8F8FF"},
    {"Gold", "#FFFFD700"},
    {"Goldenrod", "#FFDAA520"},
    {"Gray", "#FF808080"},
    {"Green", "#FF008000"},
    {"Greenyellow", "#FFADFF2F"},
    {"Grey", "#FF808080"},
    {"Honeydew", "#FFF0FFF0"},
    {"Hotpink", "#FFFF69B4"},
    {"Indianred", "#FFCD5C5C"},
    {"Indigo", "#FF4B0082"},
    {"Ivory", "#FFFFFFF0"},
    {"Khaki", "#FFF0E68C"},
    {"Lavender", "#FFE6E6FA"},
    {"Lavenderblush", "#FFFFF0F5"},
    {"Lawngreen", "#FF7CFC00"},
    {"Lemonchiffon", "#FFFFFACD"},
    {"Lightblue", "#FFADD8E6"},
    {"Lightcoral", "#FFF08080"},
    {"Lightcyan", "#FFE0FFFF"},
    {"Lightgoldenrodyellow", "#FFFAFAD2"},
    {"Lightgray", "#FFD3D3D3"},
    {"Lightgreen", "#FF90EE90"},
    {"Lightgrey", "#FFD3D3D3"},
    {"Lightpink", "#FFFFB6C1"},
    {"Lightsalmon", "#FFFFA07A"},
    {"Lightseagreen", "#FF20B2AA"},
    {"Lightskyblue", "#FF87CEFA"},
    {"Lightslategray", "#FF778899"},
    {"Lightslategrey", "#FF778899"},
    {"Lightsteelblue", "#FFB0C4DE"},
    {"Lightyellow", "#FFFFFFE0"},
    {"Lime", "#FF00FF00"},
    {"Limegreen", "#FF32CD32"},
    {"Linen", "#FFFAF0E6"},
    {"Magenta", "#FFFF00FF"},
    {"Maroon", "#FF800000"},
    {"Mediumaquamarine", "#FF66CDAA"},
    {"Mediumblue", "#FF0000CD"},
    {"Mediumorchid", "#FFBA55D3"},
    {"Mediumpurple", "#FF9370DB"},
    {"Mediumseagreen", "#FF3CB371"},
    {"Mediumslateblue", "#FF7B68EE"},
    {"Mediumspringgreen", "#FF00FA9A"},
    {"Mediumturquoise", "#FF48D1CC"},
    {"Mediumvioletred", "#FFC71585"},
    {"Midnightblue", "#FF191970"},
    {"Mintcream", "#FFF5FFFA"},
    {"Mistyrose", "#FFFFE4E1"},
    {"Moccasin", "#FFFFE4B5"},
    {"Navajowhite", "#FFFFDEAD"},
    {"Navy", "#FF000080"},
    {"Oldlace", "#FFFDF5E6"},
    {"Olive", "#FF808000"},
    {"Olivedrab", "#FF6B8E23"},
    {"Orange", "#FFFFA500"},
    {"Orangered", "#FFFF4500"},
    {"Orchid", "#FFDA70D6"},
    {"Palegoldenrod", "#FFEEE8AA"},
    {"Palegreen", "#FF98FB98"},
    {"Paleturquoise", "#FFAFEEEE"},
    {"Palevioletred", "#FFDB7093"},
    {"Papayawhip", "#FFFFEFD5"},
    {"Peachpuff", "#FFFFDAB9"},
    {"Peru", "#FFCD853F"},
    {"Pink", "#FFFFC0CB"},
    {"Plum", "#FFDDA0DD"},
    {"Powderblue", "#FFB0E0E6"},
    {"Purple", "#FF800080"},
    {"Red", "#FFFF0000"},
    {"Rosybrown", "#FFBC8F8F"},
    {"Royalblue", "#FF4169E1"},
    {"Saddlebrown", "#FF8B4513"},
    {"Salmon", "#FFFA8072"},
    {"Sandybrown", "#FFF4A460"},
    {"Seagreen", "#FF2E8B57"},
    {"Seashell", "#FFFFF5EE"},
    {"Sienna", "#FFA0522D"},
    {"Silver", "#FFC0C0C0"},
    {"Skyblue", "#FF87CEEB"},
    {"Slateblue", "#FF6A5ACD"},
    {"Slategray", "#FF708090"},
    {"Slategrey", "#FF708090"},
    {"Snow", "#FFFFFAFA"},
    {"Springgreen", "#FF00FF7F"},
    {"Steelblue", "#FF4682B4"},
    {"Tan", "#FFD2B48C"},
    {"Teal", "#FF008080"},
    {"Thistle", "#FFD8BFD8"},
    {"Tomato", "#FFFF6347"},
    {"Turquoise", "#FF40E0D0"},
    {"Violet", "#FFEE82EE"},
    {"Wheat", "#FFF5DEB3"},
    {"White", "#FFFFFFFF"},
    {"Whitesmoke", "#FFF5F5F5"},
    {"Yellow", "#FFFFFF00"},
    {"Yellowgreen", "#FF9ACD32"},
};

}  // namespace kelm::scene

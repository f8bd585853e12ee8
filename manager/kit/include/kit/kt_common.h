// Colour arithmetic of the kit (hue, saturation and lightness on a 0..240
// scale, blends, similarity) and the small tests the painters share. No
// window is needed: the Win32 part only resolves system colours and asks the
// system about fonts, displays and versions.
#pragma once

#include <cstdint>

namespace kelm::kit {

// 0x00BBGGRR, or 0xFF000000 plus a system colour index (the class library's
// colour values).
using TColor = int32_t;
constexpr TColor clKtSystemColor = static_cast<TColor>(0xFF000000);

// System colours resolve through this hook: the Win32 part installs the
// class library's resolver when the kit starts; until then a system colour
// reads as black. Plain colours keep their low 24 bits.
using TKtColorResolver = uint32_t (*)(TColor color);
void SetColorResolver(TKtColorResolver resolver);
uint32_t ResolveColor(TColor color);

// (Not the system's macro names: those would clash where windows.h is seen.)
constexpr TColor MakeRgb(uint8_t r, uint8_t g, uint8_t b) {
  return static_cast<TColor>(r | (g << 8) | (b << 16));
}
constexpr uint8_t RedOf(uint32_t c) { return static_cast<uint8_t>(c & 0xFF); }
constexpr uint8_t GreenOf(uint32_t c) { return static_cast<uint8_t>((c >> 8) & 0xFF); }
constexpr uint8_t BlueOf(uint32_t c) { return static_cast<uint8_t>((c >> 16) & 0xFF); }

void ColorToHsl(TColor color, uint8_t& H, uint8_t& S, uint8_t& L);
uint8_t HueOfColor(TColor color);
// H, S and L read on 0..240; values up to 255 are accepted and saturate.
TColor ColorFromHsl(uint8_t H, uint8_t S, uint8_t L);
TColor DarkerColor(TColor color, uint8_t amount);
// Lightness may rise to 255, which drives the channels to white.
TColor LighterColor(TColor color, uint8_t amount);
// Amount in -255..255 (ERangeError beyond): lighter, darker or unchanged.
TColor AdjustColor(TColor color, int amount);
// color1 weighted weight/255, color2 the rest, per channel.
TColor MixColors(TColor color1, TColor color2, uint8_t weight);
TColor XorColors(TColor color1, TColor color2);
// Hue and lightness near each other; saturation is not compared.
bool ColorsAreClose(TColor color1, TColor color2);
// The hue 120 steps round the circle, fully saturated, at this lightness.
TColor ContrastHueColor(TColor color, uint8_t lightness);

// Bit (ordinal mod 32) of word (ordinal div 32) of a 256-bit set.
bool OrdinalInSet(uint8_t ordinal, const uint32_t (&set)[8]);
inline int IntMin(int a, int b) { return a < b ? a : b; }
inline int IntMax(int a, int b) { return a > b ? a : b; }

// Whether a system of this platform (1 the 9x family, 2 the NT family) and
// version meets an operating-system level 0..7; other levels never do.
bool OsLevelMet(int level, uint32_t platform, uint32_t major, uint32_t minor);

// "HOMESTEAD" 1, "METALLIC" 2 (any case), anything else 0.
uint8_t ThemeColorSchemeOf(const char16_t* colorName);

}  // namespace kelm::kit

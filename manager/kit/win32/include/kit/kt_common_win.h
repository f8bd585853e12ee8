// The Win32 half of the kit's common helpers: the unit values read at
// start-up (full-colour display, theme colour scheme), glyph painters, the
// font and system tests. Colour arithmetic is in kt_common.h.
#pragma once

#include <windows.h>

#include <cstdint>

#include "classlib/graphics.h"
#include "kit/kt_common.h"

namespace kelm::kit {

// Counted initialisation: the first call installs the class library's
// colour resolver and reads the two unit values; later calls only count.
void InitializeKtCommon();
// True when the display has more than 256 colours.
bool FullColorDisplay();
// 1 "HOMESTEAD", 2 "METALLIC", else 0.
uint8_t ThemeColorScheme();

bool DisplayHasFullColor();
uint8_t ReadThemeColorScheme();
bool RunningOnOsLevel(int level);
bool FontIsTrueType(classlib::TFont* font);

// Direction: 0 up, 1 down, 2 left, 3 right. Themed glyphs fall back to the
// classic form when no theme opens.
void DrawArrowGlyph(classlib::TCanvas* canvas, const classlib::TRect& rect, bool themed,
                    bool enabled, int direction);
void DrawCrossGlyph(classlib::TCanvas* canvas, const classlib::TRect& rect, classlib::TColor color);
void DrawCloseGlyph(classlib::TCanvas* canvas, const classlib::TRect& rect, bool themed,
                    bool enabled);

// The theme colour the themed glyphs take (cl3DDkShadow when the theme's
// drop-down button is close to clWindow); false when no theme opens.
bool ThemedGlyphColor(classlib::TColor& color);

}  // namespace kelm::kit

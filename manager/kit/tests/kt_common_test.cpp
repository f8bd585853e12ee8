// Colour arithmetic in hue, saturation and lightness on 0..240, blends and
// the small tests of the kit.
#include "kit/kt_common.h"

#include <gtest/gtest.h>

#include "classlib/sysutils.h"

namespace kelm::test {
namespace {

using namespace kit;

struct HslCase {
  const char* name;
  TColor color;
  uint8_t h, s, l;
};

TEST(KtCommonTest, ColorToHslTable) {
  const HslCase cases[] = {
      {"white", MakeRgb(255, 255, 255), 0, 0, 240},
      {"black", MakeRgb(0, 0, 0), 0, 0, 0},
      {"grey 128", MakeRgb(128, 128, 128), 0, 0, 120},  // 120.47
      {"grey 64", MakeRgb(64, 64, 64), 0, 0, 60},       // 60.24
      {"red", MakeRgb(255, 0, 0), 0, 240, 120},
      {"green", MakeRgb(0, 255, 0), 80, 240, 120},
      {"blue", MakeRgb(0, 0, 255), 160, 240, 120},
      {"just below red wraps to 240", MakeRgb(255, 0, 1), 240, 240, 120},  // 239.84
      // Hue 152.5 and 158.5 exactly: halves go to the even neighbour.
      {"tie 152.5", MakeRgb(0, 3, 16), 152, 240, 8},
      {"tie 158.5", MakeRgb(0, 3, 80), 158, 240, 38},
  };
  for (const auto& c : cases) {
    uint8_t h = 99, s = 99, l = 99;
    ColorToHsl(c.color, h, s, l);
    EXPECT_EQ(c.h, h) << c.name;
    EXPECT_EQ(c.s, s) << c.name;
    EXPECT_EQ(c.l, l) << c.name;
    EXPECT_EQ(c.h, HueOfColor(c.color)) << c.name;
  }
}

struct FromHslCase {
  const char* name;
  uint8_t h, s, l;
  TColor color;
};

TEST(KtCommonTest, ColorFromHslTable) {
  const FromHslCase cases[] = {
      {"white", 0, 0, 240, MakeRgb(255, 255, 255)},
      {"black", 0, 0, 0, MakeRgb(0, 0, 0)},
      {"black at any hue", 100, 240, 0, MakeRgb(0, 0, 0)},
      {"grey", 0, 0, 120, MakeRgb(128, 128, 128)},  // 127.5 rounds to even
      {"red", 0, 240, 120, MakeRgb(255, 0, 0)},
      // The hue is divided by 239: 80 lands just past the sextant's start.
      {"green", 80, 240, 120, MakeRgb(0, 255, 2)},
      {"blue", 160, 240, 120, MakeRgb(4, 0, 255)},
      // 239 and 240 give sextant 6, read in sextant 0's order (red rising
      // toward yellow), not sextant 5's (red with blue falling).
      {"hue 239", 239, 240, 120, MakeRgb(255, 0, 0)},
      {"hue 240", 240, 240, 120, MakeRgb(255, 6, 0)},
      {"lightness 255 saturates", 40, 240, 255, MakeRgb(255, 255, 255)},
      // Saturation above 240 gives m1 below 0: that channel is cut to 0
      // rather than leaving the byte range.
      {"saturation 255, dark", 0, 255, 60, MakeRgb(131, 0, 0)},
      {"saturation 255, light", 160, 255, 120, MakeRgb(0, 0, 255)},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.color, ColorFromHsl(c.h, c.s, c.l)) << c.name;
  }
}

TEST(KtCommonTest, LighterAndDarkerStopAtTheEnds) {
  for (uint8_t amount : {uint8_t{0}, uint8_t{1}, uint8_t{60}, uint8_t{255}}) {
    EXPECT_EQ(MakeRgb(255, 255, 255), LighterColor(MakeRgb(255, 255, 255), amount)) << +amount;
    EXPECT_EQ(MakeRgb(0, 0, 0), DarkerColor(MakeRgb(0, 0, 0), amount)) << +amount;
  }
  // Lightness may pass 240 on its way to 255: every channel then reads white.
  EXPECT_EQ(MakeRgb(255, 255, 255), LighterColor(MakeRgb(255, 0, 0), 200));
  EXPECT_EQ(MakeRgb(255, 255, 255), LighterColor(MakeRgb(128, 128, 128), 120));
  EXPECT_EQ(MakeRgb(0, 0, 0), DarkerColor(MakeRgb(255, 0, 0), 200));
  EXPECT_EQ(MakeRgb(64, 64, 64), DarkerColor(MakeRgb(128, 128, 128), 60));
  EXPECT_EQ(MakeRgb(191, 191, 191), LighterColor(MakeRgb(128, 128, 128), 60));
}

TEST(KtCommonTest, AdjustColorChoosesLighterDarkerOrNothing) {
  const TColor grey = MakeRgb(128, 128, 128);
  EXPECT_EQ(LighterColor(grey, 30), AdjustColor(grey, 30));
  EXPECT_EQ(DarkerColor(grey, 30), AdjustColor(grey, -30));
  EXPECT_EQ(MakeRgb(255, 255, 255), AdjustColor(grey, 255));
  EXPECT_EQ(MakeRgb(0, 0, 0), AdjustColor(grey, -255));
  // 0 hands the colour back as it is, a system colour unresolved.
  EXPECT_EQ(clKtSystemColor | 15, AdjustColor(clKtSystemColor | 15, 0));
  for (int amount : {256, -256, 1000, -100000}) {
    EXPECT_THROW(AdjustColor(grey, amount), classlib::ERangeError) << amount;
  }
}

TEST(KtCommonTest, MixAndXor) {
  const TColor white = MakeRgb(255, 255, 255);
  const TColor black = 0;
  EXPECT_EQ(white, MixColors(white, black, 255));
  EXPECT_EQ(black, MixColors(white, black, 0));
  EXPECT_EQ(MakeRgb(128, 128, 128), MixColors(white, black, 128));
  EXPECT_EQ(MakeRgb(127, 127, 127), MixColors(white, black, 127));
  // Channels mix each on its own.
  EXPECT_EQ(MakeRgb(200, 20, 100), MixColors(MakeRgb(200, 0, 100), MakeRgb(200, 40, 100), 128));
  EXPECT_EQ(MakeRgb(0x0F, 0xF0, 0x55),
            XorColors(MakeRgb(0xFF, 0x0F, 0x50), MakeRgb(0xF0, 0xFF, 0x05)));
}

TEST(KtCommonTest, ColorsAreCloseIgnoresSaturation) {
  struct Case {
    TColor a, b;
    bool close;
  };
  const Case cases[] = {
      // Grey and red share hue index 0 and lightness 120.
      {MakeRgb(128, 128, 128), MakeRgb(255, 0, 0), true},
      {MakeRgb(255, 0, 0), MakeRgb(0, 255, 0), false},          // hues 0 and 80
      {MakeRgb(255, 255, 255), MakeRgb(200, 200, 200), true},   // lightness 240 and 188
      {MakeRgb(255, 255, 255), MakeRgb(128, 128, 128), false},  // 240 and 120
      {MakeRgb(0, 0, 0), MakeRgb(0, 0, 0), true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.close, ColorsAreClose(c.a, c.b)) << std::hex << c.a << " " << c.b;
    EXPECT_EQ(c.close, ColorsAreClose(c.b, c.a)) << std::hex << c.a << " " << c.b;
  }
}

TEST(KtCommonTest, ContrastHueTurnsHalfway) {
  // Red (hue 0) turns to hue 120 (cyan), blue (160) to 40 (yellow).
  EXPECT_EQ(ColorFromHsl(120, 240, 140), ContrastHueColor(MakeRgb(255, 0, 0), 140));
  EXPECT_EQ(ColorFromHsl(40, 240, 100), ContrastHueColor(MakeRgb(0, 0, 255), 100));
  EXPECT_EQ(120, HueOfColor(ContrastHueColor(MakeRgb(255, 0, 0), 120)));
}

TEST(KtCommonTest, SystemColorsGoThroughTheResolver) {
  SetColorResolver([](TColor c) -> uint32_t {
    return c == (clKtSystemColor | 15) ? 0x00FF00u : static_cast<uint32_t>(c) & 0xFFFFFF;
  });
  EXPECT_EQ(80, HueOfColor(clKtSystemColor | 15));
  EXPECT_EQ(MakeRgb(0, 255, 0), XorColors(clKtSystemColor | 15, 0));
  SetColorResolver(nullptr);
  EXPECT_EQ(0u, ResolveColor(clKtSystemColor | 15));
}

TEST(KtCommonTest, SmallHelpers) {
  uint32_t set[8] = {};
  set[0] = 1u << 5;
  set[7] = 1u << 31;
  EXPECT_TRUE(OrdinalInSet(5, set));
  EXPECT_TRUE(OrdinalInSet(255, set));
  EXPECT_FALSE(OrdinalInSet(37, set));
  EXPECT_FALSE(OrdinalInSet(4, set));
  EXPECT_EQ(-3, IntMin(-3, 2));
  EXPECT_EQ(2, IntMax(-3, 2));
  EXPECT_EQ(1, ThemeColorSchemeOf(u"HomeStead"));
  EXPECT_EQ(2, ThemeColorSchemeOf(u"metallic"));
  EXPECT_EQ(0, ThemeColorSchemeOf(u"NormalColor"));
  EXPECT_EQ(0, ThemeColorSchemeOf(nullptr));
}

TEST(KtCommonTest, OsLevels) {
  struct Case {
    uint32_t platform, major, minor;
    const char* levels;  // '1' where the level is met, for levels 0..8
  };
  const Case cases[] = {
      {1, 4, 0, "100000000"},   // 95
      {1, 4, 10, "101000000"},  // 98
      {1, 4, 90, "101100000"},  // Me
      {2, 4, 0, "110000000"},   // NT 4
      {2, 5, 0, "110110000"},   // 2000
      {2, 5, 1, "110111000"},   // XP
      {2, 5, 2, "110111100"},   // 2003
      {2, 6, 1, "110111110"},   // 7
      {3, 10, 0, "000000000"},
  };
  for (const auto& c : cases) {
    for (int level = 0; level <= 8; ++level) {
      EXPECT_EQ(c.levels[level] == '1', OsLevelMet(level, c.platform, c.major, c.minor))
          << c.platform << " " << c.major << "." << c.minor << " level " << level;
    }
  }
}

}  // namespace
}  // namespace kelm::test

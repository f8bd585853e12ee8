// The blends channel by channel against the arithmetic they stand for, the
// four modes on whole pixels, and shortening with a fixed-advance font.
#include "lazytree/alpha_blend.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace kelm::lazytree {
namespace {

// The blend in plain integers: a weighted mean, then the bias with 16-bit
// saturation and the byte's.
int Expected(int s, int d, int a, int bias) {
  const int t = (s * a + d * (256 - a)) >> 8;
  const int biased = std::clamp(t - 128 + bias, -32768, 32767) + 128;
  return std::clamp(biased, 0, 255);
}

TEST(AlphaBlend, ChannelTable) {
  struct TCase {
    const char* name;
    int s, d, a, bias, expected;
  } cases[] = {
      {"alpha 0 keeps the target", 200, 17, 0, 0, 17},
      {"alpha 255 is within a step of the source", 200, 17, 255, 0, 199},
      {"alpha 255 of equal channels", 90, 90, 255, 0, 90},
      {"half way", 200, 100, 128, 0, 150},
      {"a bias lifts", 100, 100, 128, 20, 120},
      {"a bias lowers", 100, 100, 128, -20, 80},
      {"lifted past the top saturates at 255", 250, 250, 128, 40, 255},
      {"lowered past the bottom saturates at 0", 5, 5, 128, -40, 0},
      {"the largest bias: 255, never wrapped", 0, 0, 0, 32767, 255},
      {"the smallest bias: 0, never wrapped", 255, 255, 255, -32768, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(BlendChannel(static_cast<uint8_t>(c.s), static_cast<uint8_t>(c.d),
                           static_cast<uint8_t>(c.a), static_cast<int16_t>(c.bias)),
              c.expected);
  }
}

TEST(AlphaBlend, EveryChannelAndAlphaMatchesTheWeightedMean) {
  // The word arithmetic wraps in between (s - d is negative for s < d)
  // and still lands on the exact mean.
  for (int bias : {-300, -1, 0, 1, 127, 300}) {
    for (int a = 0; a < 256; a += 5) {
      for (int s = 0; s < 256; s += 3) {
        for (int d = 0; d < 256; d += 7) {
          const int got = BlendChannel(static_cast<uint8_t>(s), static_cast<uint8_t>(d),
                                       static_cast<uint8_t>(a), static_cast<int16_t>(bias));
          ASSERT_EQ(got, Expected(s, d, a, bias)) << s << " " << d << " " << a << " " << bias;
        }
      }
    }
  }
}

TEST(AlphaBlend, ModesOnPixels) {
  const uint32_t source[] = {0x80FF4020, 0x00FF4020, 0xFFFF4020};
  const uint32_t target = 0x40102030;
  auto pixel = [](int a, int r, int g, int b) {
    return static_cast<uint32_t>(a << 24 | r << 16 | g << 8 | b);
  };
  auto blend = [&](uint32_t s, uint32_t d, int alpha, int bias) {
    auto ch = [](uint32_t p, int i) { return static_cast<int>((p >> (8 * i)) & 0xFF); };
    return pixel(
        Expected(ch(s, 3), ch(d, 3), alpha, bias), Expected(ch(s, 2), ch(d, 2), alpha, bias),
        Expected(ch(s, 1), ch(d, 1), alpha, bias), Expected(ch(s, 0), ch(d, 0), alpha, bias));
  };
  struct TCase {
    const char* name;
    TBlendMode mode;
    int constant, bias;
    uint32_t expected[3];
  } cases[] = {
      {"constant alpha for every pixel",
       BlendConstant,
       64,
       0,
       {blend(source[0], target, 64, 0), blend(source[1], target, 64, 0),
        blend(source[2], target, 64, 0)}},
      {"the source's own alpha",
       BlendPerPixel,
       10,
       0,
       {blend(source[0], target, 0x80, 0), target, blend(source[2], target, 255, 0)}},
      {"the source's alpha scaled by the constant",
       BlendMaster,
       128,
       5,
       {blend(source[0], target, 0x40, 5), blend(source[1], target, 0, 5),
        blend(source[2], target, 127, 5)}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    uint32_t pixels[3] = {target, target, target};
    BlendPixels(source, pixels, 3, c.mode, static_cast<uint8_t>(c.constant), c.bias);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(pixels[i], c.expected[i]) << i;
  }
  // A colour needs no source; COLORREF 0x00BBGGRR lands as blue lowest.
  uint32_t pixels[2] = {0x00000000, 0xFFFFFFFF};
  BlendPixels(nullptr, pixels, 2, BlendColor, 128, 0x00FF8000);
  EXPECT_EQ(pixels[0], pixel(0, 0, 0x40, 0x7F));
  EXPECT_EQ(pixels[1], pixel(0x7F, 0x7F, 0xBF, 0xFF));
  BlendPixels(nullptr, pixels, 2, BlendColor, 0, 0x00FF8000);
  EXPECT_EQ(pixels[1], pixel(0x7F, 0x7F, 0xBF, 0xFF)) << "alpha 0 keeps the target";
}

TEST(AlphaBlend, ColorToRefMapsNoneAndDefault) {
  EXPECT_EQ(ColorToRef(0x1FFFFFFF), 0xFFFFFFFFu);
  EXPECT_EQ(ColorToRef(0x20000000), 0xFF000000u);
  EXPECT_EQ(ColorToRef(0x00123456), 0x00123456u);
}

TEST(ShortenWithEllipsis, FixedAdvanceTable) {
  // Every character 7 pixels wide.
  int measured = 0;
  const TTextMeasure measure = [&](const char16_t*, size_t count) {
    ++measured;
    return static_cast<int>(count) * 7;
  };
  struct TCase {
    const char* name;
    const char16_t* text;
    int width, ellipsis;
    const char16_t* expected;
  } cases[] = {
      {"empty text", u"", 100, 9, u""},
      {"no width", u"abcdef", 0, 9, u""},
      {"negative width", u"abcdef", -5, 9, u""},
      {"narrower than the ellipsis", u"abcdef", 8, 9, u""},
      {"as wide as the ellipsis", u"abcdef", 9, 9, u""},
      {"room for no character", u"abcdef", 15, 9, u"..."},
      {"three characters and the ellipsis", u"abcdef", 30, 9, u"abc..."},
      {"exactly four", u"abcdef", 37, 9, u"abcd..."},
      {"never the whole text", u"abcdef", 500, 9, u"abcde..."},
      {"ellipsis measured when 0: 21 pixels", u"abcdef", 35, 0, u"ab..."},
      {"one character", u"a", 40, 9, u"..."},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ShortenWithEllipsis(c.text, c.width, c.ellipsis, measure), c.expected);
  }
  // A bisection: a long text is measured a handful of times.
  measured = 0;
  const std::u16string longText(10000, u'x');
  EXPECT_EQ(ShortenWithEllipsis(longText, 7 * 5000 + 9, 9, measure).size(), 5003u);
  EXPECT_LE(measured, 15);
}

}  // namespace
}  // namespace kelm::lazytree

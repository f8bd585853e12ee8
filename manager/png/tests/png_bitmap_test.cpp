// Pictures built from bitmap bits, transparency tests and blending.
#include "png/png_bitmap.h"

#include <gtest/gtest.h>

#include <cmath>

#include "png/png_errors.h"
#include "png/png_records.h"
#include "png_test_support.h"

namespace kelm::test {
namespace {

using namespace kelm::png;

std::vector<std::string> ChunkTypes(const PngPicture& picture) {
  std::vector<std::string> types;
  for (size_t i = 0; i < picture.ChunkList().Count(); ++i)
    types.push_back(picture.ChunkList().Item(i)->KindString());
  return types;
}

TEST(PngBitmap, PalettedBitsWithATransparentColour) {
  // 5x2 at 8 bits: stride 8, bottom-up rows.
  std::vector<uint8_t> bits = {5, 6, 7, 8, 9, 0, 0, 0,   // image row 1
                               1, 2, 3, 2, 1, 0, 0, 0};  // image row 0
  std::vector<PngRgbQuad> palette(256);
  for (unsigned i = 0; i < 256; ++i) palette[i] = {uint8_t(i), uint8_t(2 * i), uint8_t(255 - i), 0};
  PngDibSource source;
  source.width = 5;
  source.height = 2;
  source.bitsPerPixel = 8;
  source.bits = bits.data();
  source.palette = palette.data();
  source.transparentColour = PngRgb(255 - 3, 6, 3);  // entry 3
  PngPicture picture;
  AssignFromDib(picture, source);
  EXPECT_EQ(ChunkTypes(picture),
            (std::vector<std::string>{"IHDR", "PLTE", "tRNS", "IDAT", "IEND"}));
  EXPECT_EQ(picture.TransparencyMode(), PngTransparency::SingleColour);
  EXPECT_EQ(TransparentColour(picture), source.transparentColour);
  EXPECT_TRUE(IsTransparentPixel(picture, 2, 0));
  EXPECT_FALSE(IsTransparentPixel(picture, 1, 0));

  Image back;
  std::string why;
  std::vector<uint8_t> saved = Save(picture);
  ASSERT_TRUE(Decode(saved, &back, &why)) << why;
  EXPECT_EQ(back.colourType, 3);
  EXPECT_EQ(back.samples, (std::vector<uint16_t>{1, 2, 3, 2, 1, 5, 6, 7, 8, 9}));
  ASSERT_EQ(back.palette.size(), 256u);
  EXPECT_EQ(back.palette[3], (std::array<uint8_t, 3>{252, 6, 3}));
  EXPECT_EQ(ChunkData(saved, "tRNS"), (std::vector<uint8_t>{255, 255, 255, 0}));
}

TEST(PngBitmap, TrueColourBitsWithATransparentColour) {
  // 2x2 at 24 bits: stride 8, B G R.
  std::vector<uint8_t> bits = {10, 20, 30, 40, 50, 60, 0, 0,   // image row 1
                               1,  2,  3,  4,  5,  6,  0, 0};  // image row 0
  PngDibSource source;
  source.width = 2;
  source.height = 2;
  source.bits = bits.data();
  source.transparentColour = PngRgb(60, 50, 40);
  PngPicture picture;
  AssignFromDib(picture, source);
  EXPECT_EQ(ChunkTypes(picture), (std::vector<std::string>{"IHDR", "tRNS", "IDAT", "IEND"}));
  EXPECT_TRUE(IsTransparentPixel(picture, 1, 1));
  EXPECT_FALSE(IsTransparentPixel(picture, 0, 1));
  EXPECT_EQ(picture.Pixel(0, 0), PngRgb(3, 2, 1));
  Image back;
  std::string why;
  std::vector<uint8_t> saved = Save(picture);
  ASSERT_TRUE(Decode(saved, &back, &why)) << why;
  EXPECT_EQ(back.samples, (std::vector<uint16_t>{3, 2, 1, 6, 5, 4, 30, 20, 10, 60, 50, 40}));
  EXPECT_EQ(ChunkData(saved, "tRNS"), (std::vector<uint8_t>{0, 60, 0, 50, 0, 40}));
  // The saved file reads back with the same transparent colour.
  PngPicture loaded;
  Load(loaded, saved);
  EXPECT_EQ(TransparentColour(loaded), source.transparentColour);
}

TEST(PngBitmap, RefusedSources) {
  std::vector<uint8_t> bits(64);
  PngDibSource source;
  source.width = 2;
  source.height = 2;
  source.bits = bits.data();
  PngPicture picture;
  source.bitsPerPixel = 16;
  EXPECT_THROW(AssignFromDib(picture, source), EPngError);
  source.bitsPerPixel = 8;  // paletted bits without their palette
  EXPECT_THROW(AssignFromDib(picture, source), EPngError);
  source.bitsPerPixel = 24;
  source.width = 0;
  EXPECT_THROW(AssignFromDib(picture, source), EPNGInvalidNewSize);
}

TEST(PngBitmap, TransparentColourOfGreyAndColourFiles) {
  struct Case {
    uint8_t colourType, bitDepth;
    std::vector<uint8_t> trns;
    PngColour colour;
  };
  const Case cases[] = {
      {0, 8, {0, 77}, PngRgb(77, 77, 77)},
      {0, 2, {0, 2}, PngRgb(170, 170, 170)},
      {0, 16, {0x12, 0x34}, PngRgb(0x12, 0x12, 0x12)},
      {2, 8, {0, 1, 0, 2, 0, 3}, PngRgb(1, 2, 3)},
      {2, 16, {1, 0, 2, 0, 3, 0}, PngRgb(1, 2, 3)},
  };
  for (const Case& c : cases) {
    EncodeOptions options;
    options.beforeImage = {{"tRNS", c.trns}};
    PngPicture picture;
    Load(picture, Encode(RandomImage(3, 3, c.colourType, c.bitDepth, 1), options));
    EXPECT_EQ(TransparentColour(picture), c.colour) << int(c.colourType) << "/" << int(c.bitDepth);
  }
  PngPicture opaque;
  Load(opaque, Encode(RandomImage(3, 3, 2, 8, 1)));
  EXPECT_EQ(TransparentColour(opaque), std::nullopt);
}

TEST(PngBitmap, GreyTransparentSampleMatchesItsPixels) {
  Image im = RandomImage(4, 4, 0, 16, 3);
  im.At(1, 2, 0) = 0xABCD;
  im.At(3, 3, 0) = 0xAB00;  // same high byte only
  EncodeOptions options;
  options.beforeImage = {{"tRNS", {0xAB, 0xCD}}};
  PngPicture picture;
  Load(picture, Encode(im, options));
  EXPECT_TRUE(IsTransparentPixel(picture, 1, 2));
  EXPECT_FALSE(IsTransparentPixel(picture, 3, 3));
}

TEST(PngBitmap, TransparencyFollowsTheFileSamplesNotTheCorrectedColours) {
  // Gamma 1.0 shows two neighbouring bright samples alike; only the one the
  // key names is transparent, before and after saving.
  const double exponent = 1.0 / 2.2;
  auto corrected = [&](int v) { return std::lround(255.0 * std::pow(v / 255.0, exponent)); };
  int a = 255;
  while (corrected(a - 1) != corrected(a)) --a;
  const int b = a - 1;
  for (uint8_t depth : {8, 16}) {
    SCOPED_TRACE(int(depth));
    const auto wide = [depth](int v) { return uint16_t(depth == 16 ? v << 8 | 0x5A : v); };
    Image im;
    im.width = 3;
    im.height = 1;
    im.colourType = 2;
    im.bitDepth = depth;
    im.samples = {wide(a),  wide(10), wide(20), wide(b), wide(10),
                  wide(20), wide(a),  wide(10), wide(21)};
    std::vector<uint8_t> key(6);
    for (size_t c = 0; c < 3; ++c) PutBE16(&key[2 * c], im.samples[c]);
    EncodeOptions options;
    options.beforeImage = {{"gAMA", {0, 1, 0x86, 0xA0}}, {"tRNS", key}};
    PngPicture picture;
    Load(picture, Encode(im, options));
    ASSERT_EQ(picture.Pixel(0, 0), picture.Pixel(1, 0));  // the two look alike
    PngPicture again;
    Load(again, Save(picture));
    for (const PngPicture* p : {&picture, &again}) {
      EXPECT_TRUE(IsTransparentPixel(*p, 0, 0));
      EXPECT_FALSE(IsTransparentPixel(*p, 1, 0));
      EXPECT_FALSE(IsTransparentPixel(*p, 2, 0));
      EXPECT_EQ(PixelAlpha(*p, 0, 0), 0);
      EXPECT_EQ(PixelAlpha(*p, 1, 0), 255);
    }
  }
}

TEST(PngBitmap, BlendingUsesAlphaAndScales) {
  // 2x1 RGBA: an opaque colour and a half-transparent white.
  Image im;
  im.width = 2;
  im.height = 1;
  im.colourType = 6;
  im.bitDepth = 8;
  im.samples = {100, 150, 200, 255, 255, 255, 255, 128};
  PngPicture picture;
  Load(picture, Encode(im));
  EXPECT_EQ(picture.TransparencyMode(), PngTransparency::Partial);
  // Destination 4x2, all (B, G, R) = (0, 0, 0): each source pixel covers 2x2.
  std::vector<uint8_t> dest(size_t(4) * 4 * 2, 0);
  BlendOnto(picture, dest.data(), 16, 4, 2);
  for (uint32_t y = 0; y < 2; ++y)
    for (uint32_t x = 0; x < 4; ++x) {
      const uint8_t* p = &dest[y * 16 + x * 4];
      if (x < 2) {
        EXPECT_EQ(p[0], 200);
        EXPECT_EQ(p[1], 150);
        EXPECT_EQ(p[2], 100);
      } else {
        // (255 x 128 + 127 x 0 + 255) >> 8
        EXPECT_EQ(p[0], 128);
        EXPECT_EQ(p[2], 128);
      }
    }
}

TEST(PngBitmap, PalettedAlphaComesFromTheTable) {
  Image im;
  im.width = 3;
  im.height = 1;
  im.colourType = 3;
  im.bitDepth = 2;
  im.samples = {0, 1, 2};
  im.palette = {{255, 255, 255}, {255, 255, 255}, {255, 255, 255}, {0, 0, 0}};
  EncodeOptions options;
  options.beforeImage = {{"tRNS", {0, 64}}};
  PngPicture picture;
  Load(picture, Encode(im, options));
  EXPECT_EQ(picture.TransparencyMode(), PngTransparency::Partial);
  EXPECT_EQ(PixelAlpha(picture, 0, 0), 0);
  EXPECT_EQ(PixelAlpha(picture, 1, 0), 64);
  EXPECT_EQ(PixelAlpha(picture, 2, 0), 255);
  std::vector<uint8_t> dest(12, 200);
  BlendOnto(picture, dest.data(), 12, 3, 1);
  EXPECT_EQ(dest[0], 200);  // (255 x 0 + 255 x 200 + 255) >> 8
  EXPECT_EQ(dest[4], 213);  // (255 x 64 + 191 x 200 + 255) >> 8 = 54775 >> 8
  EXPECT_EQ(dest[8], 255);  // (255 x 255 + 0 + 255) >> 8
}

}  // namespace
}  // namespace kelm::test

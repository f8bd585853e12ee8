// The PNG graphic on the class library under Wine: the registered picture
// format, drawing with each kind of transparency (pixels checked at points
// the quadrant geometry fixes), bitmaps in and out, palette and clipboard.
#include "png/png_graphic.h"

#include <gtest/gtest.h>

#include <cctype>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "png/png_errors.h"
#include "png_test_image.h"

namespace kelm::test {
namespace {

using namespace classlib;
using kelm::png::TPngGraphic;

// ---- test pictures: 8x8, four 4x4 quadrants of one sample tuple each

using Samples = std::vector<uint16_t>;

struct Quadrants {
  Samples topLeft, topRight, bottomLeft, bottomRight;
};

Image QuadrantImage(uint8_t colourType, uint8_t bitDepth, const Quadrants& q) {
  Image im;
  im.width = im.height = 8;
  im.colourType = colourType;
  im.bitDepth = bitDepth;
  im.samples.resize(64 * size_t(im.Channels()));
  for (uint32_t y = 0; y < 8; ++y)
    for (uint32_t x = 0; x < 8; ++x) {
      const Samples& s =
          y < 4 ? (x < 4 ? q.topLeft : q.topRight) : (x < 4 ? q.bottomLeft : q.bottomRight);
      for (unsigned c = 0; c < im.Channels(); ++c) im.At(x, y, c) = s[c];
    }
  return im;
}

std::vector<uint8_t> Encoded(const Image& im, std::vector<Chunk> beforeImage = {}) {
  EncodeOptions options;
  options.beforeImage = std::move(beforeImage);
  return Encode(im, options);
}

std::u16string TempFile(const std::u16string& name) {
  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  return FromWStr(dir) + name;
}

void WriteFile(const std::u16string& path, const std::vector<uint8_t>& bytes) {
  TMemoryStream stream;
  stream.WriteBuffer(bytes.data(), int64_t(bytes.size()));
  stream.SaveToFile(path);
}

// ---- what a drawn pixel must be

const TColor kBackground = 0x3C7A1E;  // B 0x3C, G 0x7A, R 0x1E: no channel shared with the pictures

// A bitmap of the background colour for pictures to be drawn on.
void Backdrop(TBitmap& b, int width, int height) {
  b.SetSize(width, height);
  b.Canvas()->Brush()->SetColor(kBackground);
  b.Canvas()->FillRect(Rect(0, 0, width, height));
}

struct Expect {
  enum Kind { Opaque, Clear, Blend } kind;
  TColor colour;
  unsigned alpha;
};
Expect Shows(TColor c) { return {Expect::Opaque, c, 255}; }
Expect See() { return {Expect::Clear, 0, 0}; }
Expect Over(TColor c, unsigned alpha) { return {Expect::Blend, c, alpha}; }

TColor Resolve(const Expect& e) {
  switch (e.kind) {
    case Expect::Opaque:
      return e.colour;
    case Expect::Clear:
      return kBackground;
    default: {
      // The blend of the graphic's partial transparency, channel by channel.
      TColor out = 0;
      for (int shift : {0, 8, 16}) {
        unsigned s = (unsigned(e.colour) >> shift) & 0xFF,
                 d = (unsigned(kBackground) >> shift) & 0xFF;
        out |= TColor(((s * e.alpha + (255 - e.alpha) * d + 255) >> 8) << shift);
      }
      return out;
    }
  }
}

struct Case {
  const char* name;
  uint8_t colourType, bitDepth;
  Quadrants samples;
  std::vector<std::array<uint8_t, 3>> palette;
  std::vector<Chunk> beforeImage;
  Expect topLeft, topRight, bottomLeft, bottomRight;
  bool transparent;
};

const TColor kRed = 0x0000FF, kGreen = 0x008000, kYellow = 0x00FFFF, kWhite = 0xFFFFFF;
const TColor kGrey128 = 0x808080, kGrey200 = 0xC8C8C8;
const std::vector<std::array<uint8_t, 3>> kPalette = {
    {255, 0, 0}, {0, 128, 0}, {255, 255, 0}, {255, 255, 255}};

// clang-format off
const Case kCases[] = {
    {"rgb opaque", 2, 8, {{255, 0, 0}, {255, 255, 255}, {0, 128, 0}, {255, 255, 0}}, {}, {},
     Shows(kRed), Shows(kWhite), Shows(kGreen), Shows(kYellow), false},
    {"rgb with a transparent colour", 2, 8, {{255, 0, 0}, {255, 255, 255}, {0, 128, 0}, {255, 255, 0}}, {},
     {{"tRNS", {0, 255, 0, 255, 0, 255}}},
     Shows(kRed), See(), Shows(kGreen), Shows(kYellow), true},
    {"rgb 16-bit with a transparent colour", 2, 16,
     {{0xFFFF, 0, 0}, {0xFFFF, 0xFFFF, 0xFFFF}, {0, 0x8000, 0}, {0xFFFF, 0xFFFF, 0}}, {},
     {{"tRNS", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}}},
     Shows(kRed), See(), Shows(kGreen), Shows(kYellow), true},
    {"palette with one transparent entry", 3, 8, {{0}, {3}, {1}, {2}}, kPalette,
     {{"tRNS", {255, 255, 255, 0}}},
     Shows(kRed), See(), Shows(kGreen), Shows(kYellow), true},
    {"4-bit palette, partly transparent", 3, 4, {{0}, {3}, {1}, {2}}, kPalette,
     {{"tRNS", {255, 255, 128, 0}}},
     Shows(kRed), See(), Shows(kGreen), Over(kYellow, 128), true},
    {"grey with a transparent grey", 0, 8, {{0}, {255}, {128}, {200}}, {},
     {{"tRNS", {0, 255}}},
     Shows(0), See(), Shows(kGrey128), Shows(kGrey200), true},
    {"1-bit grey with a transparent white", 0, 1, {{0}, {1}, {0}, {1}}, {},
     {{"tRNS", {0, 1}}},
     Shows(0), See(), Shows(0), See(), true},
    {"grey and alpha", 4, 8, {{0, 255}, {255, 0}, {128, 255}, {200, 128}}, {}, {},
     Shows(0), See(), Shows(kGrey128), Over(kGrey200, 128), true},
    {"rgb and alpha", 6, 8, {{255, 0, 0, 255}, {255, 255, 255, 0}, {0, 128, 0, 255}, {255, 255, 0, 128}}, {}, {},
     Shows(kRed), See(), Shows(kGreen), Over(kYellow, 128), true},
};
// clang-format on

void PrintTo(const Case& k, std::ostream* os) { *os << k.name; }

void LoadInto(TPngGraphic& png, const std::vector<uint8_t>& bytes) {
  TMemoryStream stream;
  stream.WriteBuffer(bytes.data(), int64_t(bytes.size()));
  stream.SetPosition(0);
  png.LoadFromStream(stream);
}

// The quadrants of the last case: red, clear, green, half-transparent yellow.
Image RgbaQuadrants() {
  const Case& rgba = kCases[std::size(kCases) - 1];
  return QuadrantImage(rgba.colourType, rgba.bitDepth, rgba.samples);
}

class PngGraphicDraw : public ::testing::TestWithParam<Case> {};

// Loads through the picture's registered format, draws the picture 1:1 at
// (4, 4) and three times as large at (20, 20) over a plain background, and
// checks two points well inside every quadrant and points just outside.
TEST_P(PngGraphicDraw, PictureLoadsThroughTheFormatAndDrawsEachQuadrant) {
  const Case& k = GetParam();
  Image im = QuadrantImage(k.colourType, k.bitDepth, k.samples);
  im.palette = k.palette;
  std::u16string file = TempFile(u"quadrants.png");
  WriteFile(file, Encoded(im, k.beforeImage));
  TPicture picture;
  picture.LoadFromFile(file);
  DeleteFileW(WStr(file));
  auto* png = dynamic_cast<TPngGraphic*>(picture.Graphic());
  ASSERT_NE(png, nullptr);
  EXPECT_EQ(picture.Width(), 8);
  EXPECT_EQ(picture.Height(), 8);
  EXPECT_EQ(png->Transparent(), k.transparent);

  TBitmap target;
  Backdrop(target, 48, 48);
  TCanvas* canvas = target.Canvas();
  canvas->Draw(4, 4, png);
  canvas->StretchDraw(Rect(20, 20, 44, 44), png);

  const Expect* quadrant[2][2] = {{&k.topLeft, &k.topRight}, {&k.bottomLeft, &k.bottomRight}};
  struct Placement {
    int origin, scale;
  } placements[] = {{4, 1}, {20, 3}};
  for (const Placement& p : placements)
    for (int qy = 0; qy < 2; ++qy)
      for (int qx = 0; qx < 2; ++qx)
        // Inner points of the quadrant, clear of its edges when stretched.
        for (int offset : {p.scale - 1, 3 * p.scale}) {
          int x = p.origin + (qx * 4) * p.scale + offset,
              y = p.origin + (qy * 4) * p.scale + offset;
          SCOPED_TRACE(testing::Message() << k.name << " at " << x << "," << y);
          EXPECT_EQ(canvas->Pixel(x, y), Resolve(*quadrant[qy][qx]));
        }
  for (POINT outside :
       {POINT{3, 3}, POINT{12, 12}, POINT{11, 12}, POINT{19, 19}, POINT{44, 44}, POINT{43, 44}}) {
    SCOPED_TRACE(testing::Message() << k.name << " outside at " << outside.x << "," << outside.y);
    EXPECT_EQ(canvas->Pixel(outside.x, outside.y), kBackground);
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, PngGraphicDraw, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& p) {
                           std::string name;
                           for (const char* c = p.param.name; *c; ++c)
                             if (isalnum(static_cast<unsigned char>(*c))) name += *c;
                           return name;
                         });

// The partly transparent kind normalises its rectangle; a flipped one
// draws the same, an empty one nothing.
TEST(PngGraphic, BlendingNormalisesTheRectangleAndSkipsEmptyOnes) {
  TPngGraphic png;
  LoadInto(png, Encoded(RgbaQuadrants()));

  TBitmap target;
  Backdrop(target, 20, 20);
  TCanvas* canvas = target.Canvas();
  canvas->StretchDraw(Rect(12, 12, 4, 4), &png);
  canvas->StretchDraw(Rect(16, 2, 16, 18), &png);
  EXPECT_EQ(canvas->Pixel(4, 4), kRed);
  EXPECT_EQ(canvas->Pixel(11, 4), kBackground);
  EXPECT_EQ(canvas->Pixel(4, 11), kGreen);
  EXPECT_EQ(canvas->Pixel(11, 11), Resolve(Over(kYellow, 128)));
  EXPECT_EQ(canvas->Pixel(16, 8), kBackground);
}

TEST(PngGraphic, RegisteredAsThePngPictureFormat) {
  EXPECT_EQ(TPicture::FindFormat("png"), TPngGraphic::StaticClass());
  EXPECT_EQ(TPicture::FindFormat(".PNG"), TPngGraphic::StaticClass());
  EXPECT_NE(TPicture::GraphicFilter(nullptr).find(u"Portable Network Graphics (*.png)|*.png"),
            std::u16string::npos);
  // Streams of pictures name the graphic's class.
  EXPECT_EQ(GetClass("TPngGraphic"), TPngGraphic::StaticClass());

  // What shutdown does takes both away, leaving the other formats.
  kelm::png::UnregisterPngGraphic();
  EXPECT_EQ(TPicture::FindFormat("png"), nullptr);
  EXPECT_EQ(GetClass("TPngGraphic"), nullptr);
  EXPECT_EQ(TPicture::FindFormat("bmp"), TBitmap::StaticClass());
  kelm::png::RegisterPngGraphic();
  EXPECT_EQ(TPicture::FindFormat("png"), TPngGraphic::StaticClass());
}

TEST(PngGraphic, AFailedLoadRaisesTheCodecsErrorAndKeepsThePicture) {
  Image im = QuadrantImage(2, 8, kCases[0].samples);
  std::u16string good = TempFile(u"good.png"), bad = TempFile(u"bad.png");
  WriteFile(good, Encoded(im));
  std::vector<uint8_t> broken = Encoded(im);
  broken[1] = 'Q';
  WriteFile(bad, broken);
  TPicture picture;
  picture.LoadFromFile(good);
  TGraphic* before = picture.Graphic();
  try {
    picture.LoadFromFile(bad);
    ADD_FAILURE() << "loaded";
  } catch (const Exception& e) {
    EXPECT_NE(dynamic_cast<const kelm::png::EPNGInvalidFileHeader*>(&e), nullptr);
    EXPECT_EQ(e.Message(),
              u"The file being readed is not a valid \"Portable Network Graphics\" image because "
              u"it contains an "
              u"invalid header. This file may be corruped, try obtaining it again.");
  }
  EXPECT_EQ(picture.Graphic(), before);
  DeleteFileW(WStr(good));
  DeleteFileW(WStr(bad));
}

// ---- bitmaps in and out

TColor PixelColour(int x, int y) { return TColor(RGB(17 * x + 3, 40 * y + 7, 9 * (x + y) + 100)); }

void Paint(TBitmap& b, int width, int height) {
  b.SetSize(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) b.Canvas()->SetPixel(x, y, PixelColour(x, y));
}

TEST(PngGraphic, BitmapSavesAndReloadsTheSamePixels) {
  // Width 5 pads 24-bit rows; both bitmap depths are read.
  for (TPixelFormat format : {TPixelFormat::pf24bit, TPixelFormat::pf32bit}) {
    SCOPED_TRACE(format == TPixelFormat::pf24bit ? "24-bit" : "32-bit");
    TBitmap source;
    source.SetPixelFormat(format);
    Paint(source, 5, 3);
    TPngGraphic png;
    png.Assign(&source);
    EXPECT_FALSE(png.Transparent());
    TMemoryStream saved;
    png.SaveToStream(saved);

    // The file as an independent reader sees it: 8-bit true colour.
    Image decoded;
    std::string why;
    ASSERT_TRUE(Decode(saved.Bytes(), &decoded, &why)) << why;
    EXPECT_EQ(decoded.colourType, 2);
    EXPECT_EQ(decoded.bitDepth, 8);
    ASSERT_EQ(decoded.width, 5u);
    ASSERT_EQ(decoded.height, 3u);
    for (uint32_t y = 0; y < 3; ++y)
      for (uint32_t x = 0; x < 5; ++x) {
        TColor c = PixelColour(int(x), int(y));
        EXPECT_EQ(decoded.At(x, y, 0), GetRValue(c));
        EXPECT_EQ(decoded.At(x, y, 1), GetGValue(c));
        EXPECT_EQ(decoded.At(x, y, 2), GetBValue(c));
      }

    TPngGraphic reloaded;
    saved.SetPosition(0);
    reloaded.LoadFromStream(saved);
    TBitmap back;
    reloaded.AssignTo(&back);
    ASSERT_EQ(back.Width(), 5);
    ASSERT_EQ(back.Height(), 3);
    EXPECT_FALSE(back.Transparent());
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 5; ++x) {
        EXPECT_EQ(back.Canvas()->Pixel(x, y), PixelColour(x, y)) << x << "," << y;
        EXPECT_EQ(reloaded.Pixels(x, y), PixelColour(x, y)) << x << "," << y;
      }
  }
}

TEST(PngGraphic, TransparentBitmapKeepsItsColourBothWays) {
  TBitmap source;
  Paint(source, 4, 4);
  const TColor key = PixelColour(2, 1);
  source.SetTransparentColor(key);
  source.SetTransparent(true);
  TPngGraphic png;
  png.Assign(&source);
  TMemoryStream saved;
  png.SaveToStream(saved);
  saved.SetPosition(0);
  TPngGraphic reloaded;
  reloaded.LoadFromStream(saved);
  EXPECT_TRUE(reloaded.Transparent());

  // Drawn, the key colour's pixel shows what was there.
  TBitmap target;
  Backdrop(target, 4, 4);
  target.Canvas()->Draw(0, 0, &reloaded);
  EXPECT_EQ(target.Canvas()->Pixel(2, 1), kBackground);
  EXPECT_EQ(target.Canvas()->Pixel(1, 2), PixelColour(1, 2));

  // Back in a bitmap the pixel keeps the key colour, which the bitmap
  // leaves out when drawn.
  TBitmap back;
  reloaded.AssignTo(&back);
  EXPECT_TRUE(back.Transparent());
  EXPECT_EQ(back.TransparentColor(), key);
  EXPECT_EQ(back.Canvas()->Pixel(2, 1), key);
  TBitmap again;
  Backdrop(again, 4, 4);
  again.Canvas()->Draw(0, 0, &back);
  EXPECT_EQ(again.Canvas()->Pixel(2, 1), kBackground);
  EXPECT_EQ(again.Canvas()->Pixel(3, 3), PixelColour(3, 3));
}

TEST(PngGraphic, PartlyTransparentPictureLandsOnWhiteInABitmap) {
  TPngGraphic png;
  LoadInto(png, Encoded(RgbaQuadrants()));
  TBitmap back;
  Backdrop(back, 8, 8);  // old content must not show
  png.AssignTo(&back);
  EXPECT_FALSE(back.Transparent());
  EXPECT_EQ(back.Canvas()->Pixel(1, 1), kRed);
  EXPECT_EQ(back.Canvas()->Pixel(6, 1), kWhite);
  EXPECT_EQ(back.Canvas()->Pixel(6, 6), TColor(RGB(255, 255, (255 * 127 + 255) >> 8)));
}

// ---- copies, sizes, palette, clipboard

TEST(PngGraphic, CopiesThroughThePictureKeepPixelsAndSettings) {
  TBitmap source;
  Paint(source, 3, 2);
  TPngGraphic png;
  png.Assign(&source);
  png.Picture().DeflateLevel = 2;
  png.Picture().SetIdatLimit(100000);
  TPicture picture;
  picture.SetGraphic(&png);
  auto* copy = dynamic_cast<TPngGraphic*>(picture.Graphic());
  ASSERT_NE(copy, nullptr);
  ASSERT_NE(copy, &png);
  EXPECT_EQ(copy->Picture().DeflateLevel, 2);
  EXPECT_EQ(copy->Picture().IdatLimit(), 100000u);
  EXPECT_EQ(copy->Pixels(2, 1), PixelColour(2, 1));
  // The copy is its own: changing the original leaves it alone.
  png.SetPixels(2, 1, kRed);
  EXPECT_EQ(copy->Pixels(2, 1), PixelColour(2, 1));

  copy->Assign(nullptr);
  EXPECT_TRUE(copy->Empty());
  EXPECT_EQ(copy->Width(), 0);
}

TEST(PngGraphic, ResizingChecksTheSizeAndKeepsTheOverlap) {
  TPngGraphic empty;
  EXPECT_THROW(empty.SetSize(4, 4), kelm::png::EPNGHeaderNotPresent);
  TBitmap source;
  Paint(source, 4, 3);
  TPngGraphic png;
  png.Assign(&source);
  int changes = 0;
  struct Counter : TObject {
    int* n = nullptr;
    void Changed(TObject*) { ++*n; }
  } counter;
  counter.n = &changes;
  png.OnChange = EventOf<&Counter::Changed>(&counter);
  for (int bad : {0, -1}) {
    EXPECT_THROW(png.SetWidth(bad), kelm::png::EPNGInvalidNewSize);
    EXPECT_THROW(png.SetHeight(bad), kelm::png::EPNGInvalidNewSize);
  }
  EXPECT_EQ(changes, 0);
  png.SetWidth(6);
  png.SetHeight(2);
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(png.Width(), 6);
  EXPECT_EQ(png.Height(), 2);
  EXPECT_EQ(png.Pixels(3, 1), PixelColour(3, 1));
  EXPECT_EQ(png.Pixels(5, 1), 0);  // new pixels are black
}

TEST(PngGraphic, PaletteFollowsTheStorageAndReplacesItsColours) {
  Image im = QuadrantImage(3, 8, {{0}, {3}, {1}, {2}});
  im.palette = kPalette;
  TPngGraphic png;
  LoadInto(png, Encoded(im));
  HPALETTE palette = png.Palette();
  ASSERT_NE(palette, nullptr);
  PALETTEENTRY entries[4];
  ASSERT_EQ(GetPaletteEntries(palette, 0, 4, entries), 4u);
  EXPECT_EQ(RGB(entries[1].peRed, entries[1].peGreen, entries[1].peBlue), COLORREF(kGreen));

  // Entry 1 becomes blue: drawing and the saved PLTE follow.
  entries[1] = {0, 0, 255, 0};
  struct {
    WORD version, count;
    PALETTEENTRY e[4];
  } logical{0x300, 4, {entries[0], entries[1], entries[2], entries[3]}};
  HPALETTE blue = CreatePalette(reinterpret_cast<const LOGPALETTE*>(&logical));
  png.SetPalette(blue);
  DeleteObject(blue);
  EXPECT_EQ(png.Pixels(1, 6), TColor(0xFF0000));
  TMemoryStream saved;
  png.SaveToStream(saved);
  Image decoded;
  std::string why;
  ASSERT_TRUE(Decode(saved.Bytes(), &decoded, &why)) << why;
  ASSERT_GE(decoded.palette.size(), 4u);
  EXPECT_EQ(decoded.palette[1], (std::array<uint8_t, 3>{0, 0, 255}));
  EXPECT_EQ(decoded.palette[2], (std::array<uint8_t, 3>{255, 255, 0}));

  TBitmap source;
  Paint(source, 2, 2);
  TPngGraphic trueColour;
  trueColour.Assign(&source);
  EXPECT_EQ(trueColour.Palette(), nullptr);
}

TEST(PngGraphic, ClipboardPairGoesThroughADib) {
  TBitmap source;
  Paint(source, 3, 3);
  TPngGraphic png;
  png.Assign(&source);
  UINT format = 0;
  HANDLE data = nullptr;
  png.SaveToClipboardFormat(format, data);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(format, UINT(CF_DIB));
  TPngGraphic pasted;
  pasted.LoadFromClipboardFormat(format, data);
  EXPECT_THROW(pasted.LoadFromClipboardFormat(CF_TEXT, data), EInvalidGraphic);
  GlobalFree(data);
  ASSERT_EQ(pasted.Width(), 3);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 3; ++x) EXPECT_EQ(pasted.Pixels(x, y), PixelColour(x, y)) << x << "," << y;
}

}  // namespace
}  // namespace kelm::test

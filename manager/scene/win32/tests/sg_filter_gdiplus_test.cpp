// The GDI+ image filter under the real library: round trips through each
// encoder, quarter and free rotation, thumbnails, encoder choice and
// parameters, undecodable input, and files shared while open and closed on
// return. Decoding is checked against a BMP written by hand, so a channel
// or row order mistake cannot hide in a round trip.
#include <windows.h>

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "classlib/streams.h"
#include "classlib/sysutils.h"
#include "scene/sg_canvas_gdiplus.h"
#include "scene/sg_filter_gdiplus.h"

namespace kelm::scene {
namespace {

using classlib::TMemoryStream;

constexpr uint32_t Red = 0xFFFF0000, Green = 0xFF00FF00, Blue = 0xFF0000FF, White = 0xFFFFFFFF;

// Colours of the quadrants of the hand-made test image.
constexpr uint32_t TopLeft = Red, TopRight = Green, BottomLeft = Blue, BottomRight = White;

std::u16string TempName(const std::string& name) {
  wchar_t folder[MAX_PATH] = {};
  GetTempPathW(MAX_PATH, folder);
  return reinterpret_cast<const char16_t*>(folder) +
         classlib::Utf8ToWide("vh_filter_" + std::to_string(GetCurrentProcessId()) + "_" + name);
}

const wchar_t* W(const std::u16string& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }

bool Exists(const std::u16string& name) {
  return GetFileAttributesW(W(name)) != INVALID_FILE_ATTRIBUTES;
}

std::vector<uint8_t> FileBytes(const std::u16string& name) {
  TMemoryStream m;
  m.LoadFromFile(name);
  return m.Bytes();
}

void WriteFile(const std::u16string& name, const std::vector<uint8_t>& bytes) {
  classlib::TFileStream f(name, classlib::fmCreate);
  f.WriteBuffer(bytes.data(), int64_t(bytes.size()));
}

void Put32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
}

// A 24-bit bottom-up BMP of width x height, four coloured quadrants.
std::vector<uint8_t> QuadrantBmp(int width, int height) {
  const size_t row = (size_t(width) * 3 + 3) / 4 * 4;
  std::vector<uint8_t> b(54 + row * size_t(height));
  b[0] = 'B';
  b[1] = 'M';
  Put32(b, 2, uint32_t(b.size()));
  Put32(b, 10, 54);
  Put32(b, 14, 40);
  Put32(b, 18, uint32_t(width));
  Put32(b, 22, uint32_t(height));
  b[26] = 1;
  b[28] = 24;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const bool top = y < height / 2, left = x < width / 2;
      const uint32_t c = top ? (left ? TopLeft : TopRight) : (left ? BottomLeft : BottomRight);
      uint8_t* p = &b[54 + size_t(height - 1 - y) * row + size_t(x) * 3];
      p[0] = uint8_t(c), p[1] = uint8_t(c >> 8), p[2] = uint8_t(c >> 16);
    }
  }
  return b;
}

uint32_t Pixel(TsgBitmap& b, int x, int y) {
  return b.Bits()[size_t(y) * size_t(b.Width()) + size_t(x)];
}

// Whether two colours differ by at most tolerance in every channel.
bool Near(uint32_t a, uint32_t b, int tolerance) {
  for (int shift = 0; shift < 32; shift += 8)
    if (std::abs(int((a >> shift) & 0xFF) - int((b >> shift) & 0xFF)) > tolerance) return false;
  return true;
}

class FilterTest : public ::testing::Test {
 protected:
  void SetUp() override { sgStartupScene(); }
  void TearDown() override {
    for (const auto& name : files_) DeleteFileW(W(name));
    sgShutdownScene();
  }
  std::u16string File(const std::string& name) {
    files_.push_back(TempName(name));
    DeleteFileW(W(files_.back()));
    return files_.back();
  }
  std::u16string QuadrantFile(int width, int height) {
    std::u16string name = File("quadrants.bmp");
    WriteFile(name, QuadrantBmp(width, height));
    return name;
  }
  TsgFilterGdiPlus filter_;

 private:
  std::vector<std::u16string> files_;
};

TEST(FilterEncoders, ChosenByExtensionOrFormatName) {
  struct Case {
    const char* text;
    const char16_t* byFileName;
    const char16_t* byFormat;
  };
  const Case cases[] = {
      {"jpg", u"image/jpeg", u"image/jpeg"},
      {"JPG", u"image/jpeg", u"image/jpeg"},
      {"jpeg", u"image/jpeg", u"image/jpeg"},
      {"png", u"image/png", u"image/png"},
      {"bmp", u"image/bmp", u"image/bmp"},
      {"Tif", u"image/tiff", u"image/tiff"},
      {"tiff", u"image/tiff", u"image/tiff"},
      {"gif", u"image/gif", u"image/gif"},
      {"webp", u"", u"image/png"},
      {"ico", u"", u"image/png"},
      {"", u"", u"image/png"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(sgEncoderForFileName(u"C:\\pics\\X." + classlib::Utf8ToWide(c.text)), c.byFileName);
    EXPECT_EQ(sgEncoderForFormat(c.text), c.byFormat);
  }
  // The extension is the file name's, not a folder's.
  EXPECT_EQ(sgEncoderForFileName(u"C:\\pics.png\\noext"), u"");
  EXPECT_EQ(sgEncoderForFileName(u"noext"), u"");
}

TEST(FilterEncoders, ParametersFromText) {
  struct Case {
    const char* text;
    std::vector<ULONG> qualities;
  };
  const Case cases[] = {
      {"", {}},
      {"quality=100", {100}},
      {"Quality=5 size=3 QUALITY=70", {5, 70}},
      {"size=3 quality", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const TsgEncoderParameters p(c.text);
    if (c.qualities.empty()) {
      EXPECT_EQ(p.Get(), nullptr);
      continue;
    }
    ASSERT_NE(p.Get(), nullptr);
    ASSERT_EQ(p.Get()->Count, c.qualities.size());
    for (size_t i = 0; i < c.qualities.size(); ++i) {
      const gdip::GpEncoderParameter& e = p.Get()->Parameter[i];
      EXPECT_TRUE(IsEqualGUID(e.Guid, gdip::EncoderQuality));
      EXPECT_EQ(e.Type, gdip::EncoderParameterValueTypeLong);
      EXPECT_EQ(e.NumberOfValues, 1u);
      EXPECT_EQ(*static_cast<const ULONG*>(e.Value), c.qualities[i]);
    }
  }
  for (const char* bad : {"quality=high", "quality=", "quality=9x"}) {
    SCOPED_TRACE(bad);
    EXPECT_THROW(TsgEncoderParameters{bad}, classlib::EConvertError);
  }
}

TEST(FilterEncoders, PixelBlocksThatGdiPlusCanTake) {
  struct Case {
    int64_t width, height;
    bool fits;
  };
  const Case cases[] = {
      {1, 1, true},         {0, 5, false},          {5, 0, false},
      {-1, -1, false},      {INT_MAX / 4, 1, true}, {INT_MAX / 4 + 1, 1, false},
      {23170, 23170, true}, {23171, 23171, false},  {INT_MAX, INT_MAX, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
    EXPECT_EQ(sgPixelBlockFits(c.width, c.height), c.fits);
  }
}

TEST_F(FilterTest, DecodesAHandMadeBmpInEveryQuarterTurn) {
  const std::u16string name = QuadrantFile(200, 100);
  EXPECT_EQ(filter_.GetImageSize(name).X, 200);
  EXPECT_EQ(filter_.GetImageSize(name).Y, 100);
  struct Case {
    float rotation;
    int width, height;
    // The colours at the top-left, top-right, bottom-left and bottom-right
    // quarter points.
    uint32_t tl, tr, bl, br;
  };
  const Case cases[] = {
      {0, 200, 100, TopLeft, TopRight, BottomLeft, BottomRight},
      {90, 100, 200, BottomLeft, TopLeft, BottomRight, TopRight},
      {180, 200, 100, BottomRight, BottomLeft, TopRight, TopLeft},
      {270, 100, 200, TopRight, BottomRight, TopLeft, BottomLeft},
      {-90, 100, 200, TopRight, BottomRight, TopLeft, BottomLeft},
      {450, 100, 200, BottomLeft, TopLeft, BottomRight, TopRight},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.rotation);
    TsgBitmap b;
    ASSERT_TRUE(filter_.LoadFromFile(name, b, c.rotation));
    ASSERT_EQ(b.Width(), c.width);
    ASSERT_EQ(b.Height(), c.height);
    const int x1 = c.width / 4, x2 = c.width * 3 / 4, y1 = c.height / 4, y2 = c.height * 3 / 4;
    EXPECT_EQ(Pixel(b, x1, y1), c.tl);
    EXPECT_EQ(Pixel(b, x2, y1), c.tr);
    EXPECT_EQ(Pixel(b, x1, y2), c.bl);
    EXPECT_EQ(Pixel(b, x2, y2), c.br);
  }
}

TEST_F(FilterTest, AFreeAngleTurnsAboutTheCentreIntoTheBoundingSize) {
  const std::u16string name = QuadrantFile(200, 100);
  TsgBitmap b;
  ASSERT_TRUE(filter_.LoadFromFile(name, b, 45));
  // 200 cos 45 + 100 sin 45 = 212.13 on both sides, truncated.
  EXPECT_EQ(b.Width(), 212);
  EXPECT_EQ(b.Height(), 212);
  // The corners lie outside the turned image; clockwise, the middle of the
  // top-left quadrant (-50, -25 from the centre) lands at (-17.7, -53.0).
  EXPECT_EQ(Pixel(b, 2, 2), 0u);
  EXPECT_EQ(Pixel(b, 209, 209), 0u);
  EXPECT_EQ(Pixel(b, 106 - 18, 106 - 53), TopLeft);
  EXPECT_EQ(Pixel(b, 106 + 18, 106 + 53), BottomRight);
  // Loaded again over pixels of the same size: none of them shows through.
  b.Clear(0xFF808080u);
  ASSERT_TRUE(filter_.LoadFromFile(name, b, 45));
  EXPECT_EQ(Pixel(b, 2, 2), 0u);
  EXPECT_EQ(Pixel(b, 106 - 18, 106 - 53), TopLeft);
}

TEST_F(FilterTest, RoundTripsThroughTheLosslessEncoders) {
  // Opaque pixels, plus a transparent and a half-covered one where the
  // format keeps alpha.
  struct Case {
    const char* file;
    bool keepsAlpha;
  };
  for (const Case& c :
       {Case{"round.png", true}, Case{"round.bmp", false}, Case{"round.tif", true}}) {
    SCOPED_TRACE(c.file);
    TsgBitmap source(8, 4);
    for (int i = 0; i < 32; ++i) source.Bits()[i] = 0xFF000000u | uint32_t(i * 0x070503);
    if (c.keepsAlpha) {
      source.Bits()[0] = 0;
      source.Bits()[1] = 0x80400000u;  // premultiplied half-covered red
    }
    const std::u16string name = File(c.file);
    ASSERT_TRUE(filter_.SaveToFile(name, source, ""));
    TsgBitmap loaded;
    ASSERT_TRUE(filter_.LoadFromFile(name, loaded, 0));
    ASSERT_EQ(loaded.Width(), 8);
    ASSERT_EQ(loaded.Height(), 4);
    for (int i = 0; i < 32; ++i) {
      SCOPED_TRACE(i);
      EXPECT_TRUE(Near(loaded.Bits()[i], source.Bits()[i], 1))
          << std::hex << loaded.Bits()[i] << " " << source.Bits()[i];
    }
  }
}

TEST_F(FilterTest, JpegWrittenByExtensionInCapitalsAndThroughStreams) {
  TsgBitmap source(16, 16);
  source.Clear(0xFF3366CCu);
  const std::u16string name = File("X.JPG");
  ASSERT_TRUE(filter_.SaveToFile(name, source, "quality=100"));
  const std::vector<uint8_t> bytes = FileBytes(name);
  ASSERT_GE(bytes.size(), 3u);
  EXPECT_EQ(bytes[0], 0xFF);
  EXPECT_EQ(bytes[1], 0xD8);
  EXPECT_EQ(bytes[2], 0xFF);

  // A stream: decoded from its current position, after some prefix.
  TMemoryStream stream;
  stream.WriteBuffer("prefix", 6);
  ASSERT_TRUE(filter_.SaveToStream(stream, source, "jpeg", "quality=100"));
  EXPECT_EQ(stream.Memory()[6], 0xFF);
  EXPECT_EQ(stream.Memory()[7], 0xD8);
  stream.SetPosition(6);
  TsgBitmap loaded;
  ASSERT_TRUE(filter_.LoadFromStream(stream, loaded));
  ASSERT_EQ(loaded.Width(), 16);
  EXPECT_TRUE(Near(Pixel(loaded, 8, 8), 0xFF3366CCu, 4)) << std::hex << Pixel(loaded, 8, 8);

  // Nothing is written for an extension without an encoder, nor for a
  // quality that is not a number.
  const std::u16string webp = File("X.webp");
  EXPECT_FALSE(filter_.SaveToFile(webp, source, ""));
  EXPECT_FALSE(Exists(webp));
  EXPECT_FALSE(filter_.SaveToFile(File("no_such_folder\\X.png"), source, ""));
  const std::u16string bad = File("bad.jpg");
  EXPECT_THROW(filter_.SaveToFile(bad, source, "quality=best"), classlib::EConvertError);
  EXPECT_FALSE(Exists(bad));
  TMemoryStream untouched;
  EXPECT_THROW(filter_.SaveToStream(untouched, source, "jpeg", "quality=best"),
               classlib::EConvertError);
  EXPECT_EQ(untouched.Size(), 0);
}

TEST_F(FilterTest, ThumbnailsAreFittedAndNeverEnlarged) {
  struct Case {
    int width, height;
    bool embedded;
    int thumbWidth, thumbHeight;
  };
  const Case cases[] = {
      {1000, 500, false, 100, 50},
      {1000, 500, true, 100, 50},
      {50, 20, false, 50, 20},
      {50, 20, true, 50, 20},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + (c.embedded ? " embedded" : " drawn"));
    const std::u16string name = File("thumb.bmp");
    WriteFile(name, QuadrantBmp(c.width, c.height));
    TsgBitmap b;
    ASSERT_TRUE(filter_.LoadThumbnailFromFile(name, 100, 100, c.embedded, b));
    ASSERT_EQ(b.Width(), c.thumbWidth);
    ASSERT_EQ(b.Height(), c.thumbHeight);
    // Sampled inside the quadrants, away from the scaled edges.
    const int x1 = c.thumbWidth / 4, x2 = c.thumbWidth * 3 / 4;
    const int y1 = c.thumbHeight / 4, y2 = c.thumbHeight * 3 / 4;
    EXPECT_TRUE(Near(Pixel(b, x1, y1), TopLeft, 2)) << std::hex << Pixel(b, x1, y1);
    EXPECT_TRUE(Near(Pixel(b, x2, y1), TopRight, 2)) << std::hex << Pixel(b, x2, y1);
    EXPECT_TRUE(Near(Pixel(b, x1, y2), BottomLeft, 2)) << std::hex << Pixel(b, x1, y2);
    EXPECT_TRUE(Near(Pixel(b, x2, y2), BottomRight, 2)) << std::hex << Pixel(b, x2, y2);
  }
}

TEST_F(FilterTest, UndecodableOrSizelessInputLeavesTheBitmapAsItWas) {
  std::vector<uint8_t> noSize = QuadrantBmp(4, 2);
  Put32(noSize, 18, 0);
  Put32(noSize, 22, 0);
  const std::vector<uint8_t> text = {'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'a', 'g', 'e'};
  for (const auto& bytes : {text, noSize}) {
    SCOPED_TRACE(bytes.size());
    const std::u16string name = File("bad.png");
    WriteFile(name, bytes);
    TsgBitmap b(3, 2);
    b.Clear(0xFF123456u);
    EXPECT_EQ(filter_.GetImageSize(name).X, 0);
    EXPECT_FALSE(filter_.LoadFromFile(name, b, 0));
    EXPECT_FALSE(filter_.LoadFromFile(name, b, 45));
    EXPECT_FALSE(filter_.LoadThumbnailFromFile(name, 10, 10, true, b));
    EXPECT_FALSE(filter_.LoadThumbnailFromFile(name, 10, 10, false, b));
    TMemoryStream stream;
    stream.WriteBuffer(bytes.data(), int64_t(bytes.size()));
    stream.SetPosition(0);
    EXPECT_FALSE(filter_.LoadFromStream(stream, b));
    ASSERT_EQ(b.Width(), 3);
    ASSERT_EQ(b.Height(), 2);
    EXPECT_EQ(b.Bits()[5], 0xFF123456u);
  }
  // A stream that throws as GDI+ reads it: no exception comes through.
  class TBrokenStream : public TMemoryStream {
   public:
    int64_t Read(void*, int64_t) override { throw classlib::EReadError("broken"); }
  } broken;
  broken.WriteBuffer("GIF89a", 6);
  broken.SetPosition(0);
  TsgBitmap kept(2, 2);
  EXPECT_FALSE(filter_.LoadFromStream(broken, kept));
  EXPECT_EQ(kept.Width(), 2);
  // A missing file: the file stream's error reaches the caller.
  TsgBitmap none;
  EXPECT_THROW(filter_.LoadFromFile(File("missing.png"), none, 0), classlib::EFOpenError);
}

TEST_F(FilterTest, FilesAreSharedWhileOpenAndClosedOnReturn) {
  const std::u16string name = QuadrantFile(8, 4);
  // Another writer holds the file open, allowing others to read and write.
  HANDLE other =
      CreateFileW(W(name), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(other, INVALID_HANDLE_VALUE);
  TsgBitmap b;
  EXPECT_TRUE(filter_.LoadFromFile(name, b, 0));
  EXPECT_TRUE(filter_.LoadThumbnailFromFile(name, 4, 4, false, b));
  EXPECT_TRUE(filter_.SaveToFile(name, b, ""));
  CloseHandle(other);
  // Nothing of ours is left open: an exclusive open succeeds.
  HANDLE exclusive =
      CreateFileW(W(name), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  EXPECT_NE(exclusive, INVALID_HANDLE_VALUE);
  CloseHandle(exclusive);
}

TEST_F(FilterTest, IsTheDefaultFilterAfterStartUp) {
  TsgFilter* made = sgCreateFilter();
  EXPECT_NE(dynamic_cast<TsgFilterGdiPlus*>(made), nullptr);
  classlib::Free(made);
  EXPECT_EQ(filter_.GetFileTypes(), "*.bmp;*.jpg;*.jpeg;*.png;*.tif;*.tiff;*.gif;*.ico");
  // The bitmap's own file and stream calls now decode and encode.
  TsgBitmap b;
  ASSERT_TRUE(b.LoadFromFile(QuadrantFile(8, 4), 0));
  EXPECT_EQ(Pixel(b, 6, 3), BottomRight);
  TMemoryStream stream;
  ASSERT_TRUE(b.SaveToStream(stream));  // opaque: a JPEG
  EXPECT_EQ(stream.Memory()[0], 0xFF);
  stream.SetPosition(0);
  TsgBitmap copy;
  ASSERT_TRUE(copy.LoadFromStream(stream));
  EXPECT_EQ(copy.Width(), 8);
}

}  // namespace
}  // namespace kelm::scene

// The scene bitmap and font copied to and from the class library's window
// bitmaps, pictures, other graphics and fonts: exact pixels read back.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "classlib/classdef.h"
#include "classlib/graphics.h"
#include "classlib/sysutils.h"
#include "scene/sg_brush.h"
#include "scene/sg_win32_bridges.h"

namespace kelm::scene {
namespace {

using classlib::TBitmap;
using classlib::TPicture;
using classlib::TPixelFormat;

class ChangeCount : public classlib::TObject {
 public:
  int Count = 0;
  void Changed(classlib::TObject*) { ++Count; }
  classlib::TNotifyEvent Event() { return classlib::EventOf<&ChangeCount::Changed>(this); }
};

std::vector<uint32_t> PixelsOf(const TsgBitmap& b) {
  return {b.Bits(), b.Bits() + size_t(b.Width()) * size_t(b.Height())};
}

// Rows given top first, as 0xAARRGGBB; a 24-bit bitmap takes the colour.
void Fill(TBitmap& b, TPixelFormat format, int w, const std::vector<uint32_t>& pixels) {
  b.SetPixelFormat(format);
  b.SetSize(w, int(pixels.size()) / w);
  for (int y = 0; y < b.Height(); ++y) {
    auto* row = static_cast<uint8_t*>(b.ScanLine(y));
    for (int x = 0; x < w; ++x) {
      const uint32_t p = pixels[size_t(y) * size_t(w) + size_t(x)];
      if (format == TPixelFormat::pf32bit) {
        std::memcpy(row + x * 4, &p, 4);
      } else {
        row[x * 3] = uint8_t(p), row[x * 3 + 1] = uint8_t(p >> 8),
                row[x * 3 + 2] = uint8_t(p >> 16);
      }
    }
  }
}

std::vector<uint32_t> RowsOf(TBitmap& b) {
  std::vector<uint32_t> out;
  for (int y = 0; y < b.Height(); ++y) {
    const auto* row = static_cast<const uint32_t*>(b.ScanLine(y));
    out.insert(out.end(), row, row + b.Width());
  }
  return out;
}

// Premultiplied pixels with every alpha the scene meets; the bottom-left
// pixel (0x00FF00 lime) is what an automatic transparent colour picks.
const std::vector<uint32_t> kPixels = {
    0xFF112233u, 0x80402010u, 0x00000000u,  // top row
    0xFF00FF00u, 0xFFFFFFFFu, 0x7F00FF00u,  // lime, white, half-transparent lime
};

TEST(BitmapFromWindowBitmap, ThirtyTwoBitRowsExactly) {
  struct {
    const char* what;
    bool transparent;
    classlib::TColor key;
    std::vector<uint32_t> want;
  } cases[] = {
      {"opaque", false, classlib::clDefault, kPixels},
      // Lime pixels of any alpha drop out; the rest stay exact.
      {"auto colour", true, classlib::clDefault, {0xFF112233u, 0x80402010u, 0, 0, 0xFFFFFFFFu, 0}},
      {"fixed colour",
       true,
       classlib::clWhite,
       {0xFF112233u, 0x80402010u, 0, 0xFF00FF00u, 0, 0x7F00FF00u}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TBitmap window;
    Fill(window, TPixelFormat::pf32bit, 3, kPixels);
    if (c.key != classlib::clDefault) window.SetTransparentColor(c.key);
    window.SetTransparent(c.transparent);
    TsgBitmap bitmap(9, 9);
    ChangeCount changes;
    bitmap.OnChange = changes.Event();
    bitmap.NeedUpdate = false;
    bitmap.Assign(&window);
    ASSERT_EQ(bitmap.Width(), 3);
    ASSERT_EQ(bitmap.Height(), 2);
    EXPECT_EQ(PixelsOf(bitmap), c.want);
    EXPECT_TRUE(bitmap.NeedUpdate);
    EXPECT_GE(changes.Count, 1);
  }
}

TEST(BitmapFromWindowBitmap, TwentyFourBitOpaqueWithItsTransparentColour) {
  // Width 3: 9 bytes of colour, 12 per row in memory.
  TBitmap window;
  Fill(window, TPixelFormat::pf24bit, 3, kPixels);
  TsgBitmap bitmap;
  bitmap.Assign(&window);
  EXPECT_EQ(PixelsOf(bitmap), (std::vector<uint32_t>{0xFF112233u, 0xFF402010u, 0xFF000000u,
                                                     0xFF00FF00u, 0xFFFFFFFFu, 0xFF00FF00u}));
  // Transparent: the bottom-left colour goes, wherever it is.
  window.SetTransparent(true);
  bitmap.Assign(&window);
  EXPECT_EQ(PixelsOf(bitmap),
            (std::vector<uint32_t>{0xFF112233u, 0xFF402010u, 0xFF000000u, 0, 0xFFFFFFFFu, 0}));
}

}  // namespace

// A graphic that paints a red left half and leaves the rest as it finds
// it; its top-right pixel is painted in the key colour itself.
class THalfGraphic : public classlib::TGraphic {
  CL_DECLARE_CLASS(THalfGraphic, TGraphic)
 public:
  bool Empty() const override { return false; }
  int Width() const override { return 4; }
  int Height() const override { return 2; }
  void SetWidth(int) override {}
  void SetHeight(int) override {}
  void LoadFromStream(classlib::TStream&) override {}
  void SaveToStream(classlib::TStream&) override {}
  // A picture keeps its own copy.
  void Assign(classlib::TPersistent* source) override {
    if (!dynamic_cast<THalfGraphic*>(source)) TGraphic::Assign(source);
  }

 protected:
  void Draw(classlib::TCanvas* canvas, const classlib::TRect& r) override {
    canvas->Brush()->SetColor(classlib::clRed);
    canvas->FillRect(classlib::Rect(r.left, r.top, (r.left + r.right) / 2, r.bottom));
    canvas->SetPixel(r.right - 1, r.top, classlib::clFuchsia);
  }
};

CL_CLASS(THalfGraphic) {}

namespace {

TEST(BitmapFromGraphic, WhatItPaintsIsOpaqueTheRestTransparent) {
  THalfGraphic graphic;
  // The key-colour pixel at the top right is transparent like the rest.
  const std::vector<uint32_t> want = {0xFFFF0000u, 0xFFFF0000u, 0, 0,
                                      0xFFFF0000u, 0xFFFF0000u, 0, 0};
  TsgBitmap bitmap(4, 2);
  // Old pixels of the same size must not show through.
  bitmap.Clear(0xFF0000FFu);
  bitmap.Assign(&graphic);
  EXPECT_EQ(PixelsOf(bitmap), want);
  // A picture holding the graphic: the same.
  TPicture picture;
  picture.SetGraphic(&graphic);
  ASSERT_NE(picture.Graphic(), nullptr);
  TsgBitmap fromPicture(1, 1);
  fromPicture.Assign(&picture);
  EXPECT_EQ(PixelsOf(fromPicture), want);
  // An empty picture empties the bitmap.
  picture.SetGraphic(nullptr);
  fromPicture.Assign(&picture);
  EXPECT_TRUE(fromPicture.IsEmpty());
}

TEST(BitmapFromGraphic, DrawGraphicStretchesIntoARectangleOverThePixels) {
  THalfGraphic graphic;
  TsgBitmap bitmap(6, 2);
  bitmap.Clear(0xFF0000FFu);
  bitmap.NeedUpdate = false;
  // Stretched to 4 x 2 at column 1: columns 1-2 red, the rest kept.
  DrawGraphic(bitmap, &graphic, classlib::Rect(1, 0, 5, 2));
  const uint32_t B = 0xFF0000FFu, R = 0xFFFF0000u;
  EXPECT_EQ(PixelsOf(bitmap), (std::vector<uint32_t>{B, R, R, B, B, B, B, R, R, B, B, B}));
  EXPECT_TRUE(bitmap.NeedUpdate);
}

TEST(BitmapToWindow, BitmapAndPictureTakeThirtyTwoBitRows) {
  TsgBitmap bitmap(3, 2);
  std::copy(kPixels.begin(), kPixels.end(), bitmap.Bits());
  // A 24-bit bitmap of another size becomes 32-bit of this one.
  TBitmap window;
  Fill(window, TPixelFormat::pf24bit, 1, {0xFFABCDEFu});
  ChangeCount changes;
  window.OnChange = changes.Event();
  window.Assign(&bitmap);
  EXPECT_EQ(window.PixelFormat(), TPixelFormat::pf32bit);
  ASSERT_EQ(window.Width(), 3);
  ASSERT_EQ(window.Height(), 2);
  EXPECT_EQ(RowsOf(window), kPixels);
  EXPECT_GE(changes.Count, 1);
  // Same size again: the owner still hears of the new rows.
  bitmap.Bits()[0] = 0xFF445566u;
  changes.Count = 0;
  bitmap.AssignTo(&window);
  EXPECT_EQ(RowsOf(window)[0], 0xFF445566u);
  EXPECT_EQ(changes.Count, 1);

  TPicture picture;
  ChangeCount pictureChanges;
  picture.OnChange = pictureChanges.Event();
  picture.Assign(&bitmap);
  auto* held = dynamic_cast<TBitmap*>(picture.Graphic());
  ASSERT_NE(held, nullptr);
  EXPECT_EQ(held->PixelFormat(), TPixelFormat::pf32bit);
  EXPECT_EQ(RowsOf(*held), PixelsOf(bitmap));
  EXPECT_GE(pictureChanges.Count, 1);
  // And back: alpha and all.
  TsgBitmap back;
  back.Assign(&picture);
  EXPECT_EQ(PixelsOf(back), PixelsOf(bitmap));
}

TEST(BitmapBridges, OtherClassesStillRaise) {
  TsgBitmap bitmap(1, 1);
  classlib::TFont font;
  EXPECT_THROW(bitmap.Assign(&font), classlib::EConvertError);
  EXPECT_THROW(font.Assign(&bitmap), classlib::EConvertError);
}

TEST(FontBridge, ToAndFromTheWindowFont) {
  classlib::TFont window;
  window.SetName("Arial");
  window.SetHeight(-13);
  window.SetStyle({classlib::fsBold, classlib::fsUnderline});
  TsgFont font;
  font.SetStyle(sgFontItalic);
  ChangeCount changes;
  font.OnChange = changes.Event();
  font.Assign(&window);
  EXPECT_EQ(font.Family(), "Arial");
  EXPECT_EQ(font.Size(), 13);
  EXPECT_EQ(font.Style(), sgFontItalic);  // underline present: kept
  EXPECT_EQ(changes.Count, 1);

  font.SetFamily("Courier New");
  font.SetSize(10.5f);
  font.SetStyle(sgFontBold);
  window.SetColor(classlib::clRed);
  window.SetStyle({classlib::fsItalic, classlib::fsUnderline});
  ChangeCount windowChanges;
  window.OnChange = windowChanges.Event();
  window.Assign(&font);
  EXPECT_EQ(window.Name(), "Courier New");
  EXPECT_EQ(window.Height(), -10);
  EXPECT_EQ(window.Style(), classlib::TFontStyles({classlib::fsBold}));
  EXPECT_EQ(window.Color(), classlib::clRed);
  EXPECT_EQ(windowChanges.Count, 1);
  // Underline has no window style of its own: the window font keeps its.
  font.SetStyle(sgFontUnderline);
  font.AssignTo(&window);
  EXPECT_EQ(window.Style(), classlib::TFontStyles({classlib::fsBold}));
}

}  // namespace
}  // namespace kelm::scene

// Gradient fills, blits, the parent's image and the glyphs, painted into
// 32-bit bitmaps and read back pixel by pixel.
#include "kit/kt_grafx.h"

#include <gtest/gtest.h>

#include <uxtheme.h>

#include <cstdlib>
#include <string>

#include "classlib/forms.h"
#include "kit/kt_common_win.h"

namespace kelm::test {
namespace {

using namespace classlib;
using kit::GradientFill;

constexpr TColor kStart = 0x0000C8;  // red 200
constexpr TColor kStop = 0xC80000;   // blue 200

TColor PixelOf(TBitmap& b, int x, int y) { return b.Canvas()->Pixel(x, y); }

// Within tolerance on every channel.
bool Near(TColor a, TColor b, int tolerance) {
  for (int shift = 0; shift < 24; shift += 8) {
    if (std::abs(((a >> shift) & 0xFF) - ((b >> shift) & 0xFF)) > tolerance) return false;
  }
  return true;
}

struct Probe {
  int x, y;
  TColor color;
};

struct DirectionCase {
  int direction;
  std::vector<Probe> probes;
};

// A 64 x 48 bitmap, red 200 to blue 200; probes up to two colour steps off
// the exact ends are allowed (the outermost band starts a step or two
// short; direction 9 takes 16 steps of 12.5).
TEST(KtGrafxTest, EachDirectionAtItsEndsAndSplits) {
  const int w = 64, h = 48;
  const DirectionCase cases[] = {
      {0, {{0, h - 1, kStart}, {w - 1, 0, kStop}}},
      {1, {{w - 1, h - 1, kStop}, {0, 0, kStart}}},
      {2, {{0, 0, kStart}, {w - 1, 0, kStart}, {0, h - 1, kStop}, {w - 1, h - 1, kStop}}},
      {3, {{5, 0, kStart}, {5, h / 2, kStop}, {5, h - 1, kStart}, {60, h / 2, kStop}}},
      {4, {{w / 2, h / 2, kStop}, {0, 0, kStart}, {w - 1, h - 1, kStart}}},
      {5, {{0, 0, kStart}, {0, h - 1, kStart}, {w - 1, 0, kStop}, {w - 1, h - 1, kStop}}},
      {6, {{0, 5, kStart}, {w / 2, 5, kStop}, {w - 1, 5, kStart}, {w / 2, 40, kStop}}},
      {7, {{w / 2, h / 2, kStop}, {0, 0, kStart}, {w - 1, 0, kStart}, {0, h - 1, kStart}}},
      {8, {{w / 2, h / 2, kStop}, {0, 0, kStart}, {w - 1, h - 1, kStart}, {0, h - 1, kStart}}},
      {9, {{w / 2, h / 2, kStop}, {0, 0, kStart}, {w - 1, h - 1, kStart}}},
  };
  for (const auto& c : cases) {
    TBitmap b;
    b.SetSize(w, h);
    GradientFill(b.Canvas(), Rect(0, 0, w, h), static_cast<uint8_t>(c.direction), kStart, kStop, 1);
    for (const Probe& p : c.probes) {
      const TColor got = PixelOf(b, p.x, p.y);
      EXPECT_TRUE(Near(got, p.color, 32))
          << "direction " << c.direction << " at " << p.x << "," << p.y << ": " << std::hex << got;
    }
  }
}

// The linear fills are painted on 8 pixels and tiled: every column (or row)
// is the same.
TEST(KtGrafxTest, LinearFillsAreTiledAcross) {
  const int w = 50, h = 37;
  for (int direction : {2, 3, 5, 6}) {
    TBitmap b;
    b.SetSize(w, h);
    GradientFill(b.Canvas(), Rect(0, 0, w, h), static_cast<uint8_t>(direction), kStart, kStop, 1);
    const bool vertical = direction == 2 || direction == 3;
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        const TColor ref = vertical ? PixelOf(b, 0, y) : PixelOf(b, x, 0);
        ASSERT_EQ(ref, PixelOf(b, x, y)) << direction << " at " << x << "," << y;
      }
    }
  }
}

// The box directions paint a quadrant and mirror it: the four quadrants
// agree near their outer corners and edges.
TEST(KtGrafxTest, BoxQuadrantsAreMirrored) {
  const int w = 60, h = 40;
  for (int direction : {4, 7, 8, 9}) {
    TBitmap b;
    b.SetSize(w, h);
    GradientFill(b.Canvas(), Rect(0, 0, w, h), static_cast<uint8_t>(direction), kStart, kStop, 1);
    for (const Probe& p : {Probe{0, 0, 0}, Probe{3, 2, 0}, Probe{10, 5, 0}, Probe{20, 12, 0}}) {
      const TColor tl = PixelOf(b, p.x, p.y);
      EXPECT_TRUE(Near(tl, PixelOf(b, w - 1 - p.x, p.y), 24)) << direction << " " << p.x;
      EXPECT_TRUE(Near(tl, PixelOf(b, p.x, h - 1 - p.y), 24)) << direction << " " << p.x;
      EXPECT_TRUE(Near(tl, PixelOf(b, w - 1 - p.x, h - 1 - p.y), 24)) << direction << " " << p.x;
    }
  }
}

// A marker in the top-left quadrant shows up mirrored in the other three.
TEST(KtGrafxTest, QuadMirrorBltFlipsTheQuadrant) {
  const int w = 40, h = 30;
  TBitmap b;
  b.SetSize(w, h);
  TCanvas* c = b.Canvas();
  c->Brush()->SetColor(clWhite);
  c->FillRect(Rect(0, 0, w, h));
  c->Brush()->SetColor(clRed);
  c->FillRect(Rect(2, 3, 7, 8));  // centre (4, 5)
  kit::QuadMirrorBlt(c->Handle(), 0, 0, w, h, SRCCOPY);
  EXPECT_EQ(clRed, PixelOf(b, 4, 5));
  EXPECT_EQ(clRed, PixelOf(b, 4, h - 1 - 5));
  EXPECT_EQ(clRed, PixelOf(b, w - 1 - 4, 5));
  EXPECT_EQ(clRed, PixelOf(b, w - 1 - 4, h - 1 - 5));
  // Elsewhere the quadrant's white is mirrored too.
  EXPECT_EQ(clWhite, PixelOf(b, w / 2 - 2, 5));
  EXPECT_EQ(clWhite, PixelOf(b, 4, h / 2 + 2));
  EXPECT_EQ(clWhite, PixelOf(b, w - 1 - 12, h - 1 - 12));
}

// The tile at the origin fills the whole area, whatever the tile's shape.
TEST(KtGrafxTest, DoublingTileBltFillsFromTheTile) {
  for (const SIZE tile : {SIZE{8, 37}, SIZE{50, 8}, SIZE{3, 5}}) {
    TBitmap b;
    b.SetSize(50, 37);
    TCanvas* c = b.Canvas();
    c->Brush()->SetColor(clWhite);
    c->FillRect(Rect(0, 0, 50, 37));
    c->Brush()->SetColor(clBlue);
    c->FillRect(Rect(0, 0, tile.cx, tile.cy));
    c->SetPixel(0, 0, clRed);  // marks the tile's origin in every copy
    kit::DoublingTileBlt(c->Handle(), 0, 0, 50, 37, tile.cx, tile.cy, SRCCOPY);
    for (int y = 0; y < 37; ++y) {
      for (int x = 0; x < 50; ++x) {
        const bool origin = x % tile.cx == 0 && y % tile.cy == 0;
        ASSERT_EQ(origin ? clRed : clBlue, PixelOf(b, x, y))
            << tile.cx << "x" << tile.cy << " at " << x << "," << y;
      }
    }
  }
}

TEST(KtGrafxTest, EmptyRectanglesAndUnknownDirectionsPaintNothing) {
  struct Case {
    TRect r;
    int direction;
  };
  const Case cases[] = {{Rect(5, 5, 5, 30), 2},
                        {Rect(5, 5, 30, 5), 5},
                        {Rect(5, 5, 5, 5), 8},
                        {Rect(0, 0, 20, 20), 10},
                        {Rect(0, 0, 20, 20), 255}};
  for (const auto& c : cases) {
    TBitmap b;
    b.SetSize(20, 20);
    b.Canvas()->Brush()->SetColor(clLime);
    b.Canvas()->FillRect(Rect(0, 0, 20, 20));
    GradientFill(b.Canvas(), c.r, static_cast<uint8_t>(c.direction), kStart, kStop, 1);
    for (int y = 0; y < 20; ++y)
      for (int x = 0; x < 20; ++x) ASSERT_EQ(clLime, PixelOf(b, x, y)) << c.direction;
  }
  // Reversed corners paint the same area as ordered ones.
  TBitmap b;
  b.SetSize(20, 20);
  GradientFill(b.Canvas(), Rect(0, 0, 20, -20), 2, clLime, clLime, 1);
  EXPECT_EQ(clLime, PixelOf(b, 10, 10));
}

TEST(KtGrafxTest, EqualColoursGiveOneColour) {
  for (int direction = 0; direction <= 9; ++direction) {
    TBitmap b;
    b.SetSize(30, 20);
    GradientFill(b.Canvas(), Rect(0, 0, 30, 20), static_cast<uint8_t>(direction), 0x336699,
                 0x336699, 16);
    for (int y = 0; y < 20; y += 3)
      for (int x = 0; x < 30; x += 3) ASSERT_EQ(0x336699, PixelOf(b, x, y)) << direction;
  }
}

TEST(KtGrafxTest, GradientLandsAtTheBoundsOrigin) {
  TBitmap b;
  b.SetSize(40, 40);
  b.Canvas()->Brush()->SetColor(clLime);
  b.Canvas()->FillRect(Rect(0, 0, 40, 40));
  GradientFill(b.Canvas(), Rect(10, 10, 30, 30), 5, kStart, kStop, 1);
  EXPECT_EQ(clLime, PixelOf(b, 9, 15));
  EXPECT_EQ(clLime, PixelOf(b, 30, 15));
  EXPECT_TRUE(Near(PixelOf(b, 10, 15), kStart, 24));
  EXPECT_TRUE(Near(PixelOf(b, 29, 15), kStop, 24));
}

// A parent that paints a pattern of its own: red left of x = 40, blue to
// the right, green below y = 35.
class TPatternParent : public TCustomControl {
  CL_DECLARE_CLASS(TPatternParent, TCustomControl)
 public:
  using TCustomControl::TCustomControl;

 protected:
  void Paint() override {
    Canvas()->Brush()->SetColor(clRed);
    Canvas()->FillRect(Rect(0, 0, 40, 35));
    Canvas()->Brush()->SetColor(clBlue);
    Canvas()->FillRect(Rect(40, 0, 200, 35));
    Canvas()->Brush()->SetColor(clGreen);
    Canvas()->FillRect(Rect(0, 35, 200, 200));
  }
};
CL_CLASS(TPatternParent) {}

TEST(KtGrafxTest, ChildShowsItsParentsPattern) {
  TForm form(nullptr, 0);
  form.SetBounds(0, 0, 300, 200);
  auto* parent = new TPatternParent(&form);
  parent->SetParent(&form);
  parent->SetBounds(10, 10, 120, 100);
  auto* child = new TCustomControl(&form);
  child->SetParent(parent);
  child->SetBounds(30, 20, 20, 30);

  TBitmap b;
  b.SetSize(20, 30);
  b.Canvas()->Brush()->SetColor(clWhite);
  b.Canvas()->FillRect(Rect(0, 0, 20, 30));
  kit::PaintParentBackground(child, b.Canvas(), false);
  EXPECT_EQ(clRed, PixelOf(b, 5, 5));     // parent (35, 25)
  EXPECT_EQ(clBlue, PixelOf(b, 15, 5));   // parent (45, 25)
  EXPECT_EQ(clGreen, PixelOf(b, 5, 20));  // parent (35, 40)
  EXPECT_EQ(clBlue, PixelOf(b, 19, 14));  // parent (49, 34)
  // The DC is handed back as it was: origin and clipping restored.
  POINT origin{};
  GetViewportOrgEx(b.Canvas()->Handle(), &origin);
  EXPECT_EQ(0, origin.x);
  EXPECT_EQ(0, origin.y);

  // Without a parent nothing is painted.
  TCustomControl orphan(nullptr);
  b.Canvas()->FillRect(Rect(0, 0, 20, 30));
  kit::PaintParentBackground(&orphan, b.Canvas(), true);
  EXPECT_EQ(clWhite, PixelOf(b, 5, 5));
}

// Counts the pixels of a colour in each row (or column) of a bitmap.
std::string Runs(TBitmap& b, TColor color, bool rows) {
  std::string out;
  for (int i = 0; i < 20; ++i) {
    int n = 0;
    for (int j = 0; j < 20; ++j) n += PixelOf(b, rows ? j : i, rows ? i : j) == color ? 1 : 0;
    if (n != 0) out += std::to_string(i) + ":" + std::to_string(n) + " ";
  }
  return out;
}

bool ThemesOpen() {
  HTHEME theme = OpenThemeData(nullptr, L"COMBOBOX");
  if (theme == nullptr) return false;
  CloseThemeData(theme);
  return true;
}

TEST(KtGlyphsTest, ClassicArrowRows) {
  // Without a theme the themed call draws the classic glyph too.
  const bool themesOpen = ThemesOpen();
  struct Case {
    int direction;
    bool rows;
    const char* runs;
  };
  // 20 x 20: centre (10, 9); up and down take cy + 1, left and right cx - 2.
  const Case cases[] = {
      {0, true, "7:1 8:3 9:5 10:7 "},
      {1, true, "7:7 8:5 9:3 10:1 "},
      {2, false, "8:1 9:3 10:5 11:7 "},
      {3, false, "8:7 9:5 10:3 11:1 "},
  };
  for (const auto& c : cases) {
    for (bool themed : {false, true}) {
      if (themed && themesOpen) continue;
      TBitmap b;
      b.SetSize(20, 20);
      TCanvas* canvas = b.Canvas();
      canvas->Brush()->SetColor(clWhite);
      canvas->FillRect(Rect(0, 0, 20, 20));
      kit::DrawArrowGlyph(canvas, Rect(0, 0, 20, 20), themed, true, c.direction);
      EXPECT_EQ(c.runs, Runs(b, clBlack, c.rows)) << c.direction << " themed " << themed;
      // Brush colour and pen style are put back.
      EXPECT_EQ(clWhite, canvas->Brush()->Color());
      EXPECT_EQ(TPenStyle::psSolid, canvas->Pen()->Style());
    }
  }
}

TEST(KtGlyphsTest, ArrowColours) {
  struct Case {
    TColor brush;
    bool enabled;
    TColor glyph;
  };
  const Case cases[] = {{clWhite, true, clBlack},
                        {0x101010, true, static_cast<TColor>(ColorToRGB(cl3DDkShadow))},
                        {clWhite, false, static_cast<TColor>(ColorToRGB(clBtnShadow))}};
  for (const auto& c : cases) {
    TBitmap b;
    b.SetSize(20, 20);
    b.Canvas()->Brush()->SetColor(clWhite);
    b.Canvas()->FillRect(Rect(0, 0, 20, 20));
    b.Canvas()->Brush()->SetColor(c.brush);
    kit::DrawArrowGlyph(b.Canvas(), Rect(0, 0, 20, 20), false, c.enabled, 0);
    EXPECT_EQ(c.glyph, PixelOf(b, 10, 10)) << std::hex << c.brush;
  }
}

TEST(KtGlyphsTest, CrossSmallAndLarge) {
  for (int size : {10, 16}) {
    TBitmap b;
    b.SetSize(size, size);
    b.Canvas()->Brush()->SetColor(clWhite);
    b.Canvas()->FillRect(Rect(0, 0, size, size));
    kit::DrawCrossGlyph(b.Canvas(), Rect(0, 0, size, size), clRed);
    const int cx = size / 2, cy = size / 2 - 1;
    // The arms reach out diagonally; the corners stay clear.
    EXPECT_EQ(clRed, PixelOf(b, cx, cy)) << size;
    EXPECT_EQ(clRed, PixelOf(b, cx + 1, cy - 1)) << size;
    EXPECT_EQ(clRed, PixelOf(b, cx - 1, cy + 1)) << size;
    EXPECT_EQ(clWhite, PixelOf(b, 0, 0)) << size;
    EXPECT_EQ(clWhite, PixelOf(b, cx, cy - 3)) << size;
    EXPECT_EQ(clWhite, b.Canvas()->Brush()->Color());
  }
}

int CALLBACK TakeRasterFace(const LOGFONTW* lf, const TEXTMETRICW*, DWORD type, LPARAM out) {
  if ((type & RASTER_FONTTYPE) == 0) return 1;
  *reinterpret_cast<std::string*>(out) = WideToUtf8(FromWStr(lf->lfFaceName));
  return 0;
}

std::string RasterFace() {
  std::string face;
  HDC dc = GetDC(nullptr);
  LOGFONTW lf{};
  lf.lfCharSet = DEFAULT_CHARSET;
  EnumFontFamiliesExW(dc, &lf, reinterpret_cast<FONTENUMPROCW>(&TakeRasterFace),
                      reinterpret_cast<LPARAM>(&face), 0);
  ReleaseDC(nullptr, dc);
  return face;
}

TEST(KtCommonWinTest, SystemQuestions) {
  kit::InitializeKtCommon();
  // The runner pins depth 24 and Windows 7.
  EXPECT_TRUE(kit::FullColorDisplay());
  EXPECT_TRUE(kit::DisplayHasFullColor());
  EXPECT_TRUE(kit::RunningOnOsLevel(7));
  EXPECT_FALSE(kit::RunningOnOsLevel(8));
  EXPECT_EQ(0, kit::ThemeColorScheme());
  // System colours now resolve through the class library.
  EXPECT_EQ(static_cast<uint32_t>(ColorToRGB(clBtnFace)), kit::ResolveColor(clBtnFace));
}

TEST(KtCommonWinTest, TrueTypeFonts) {
  TFont font;
  font.SetName("Arial");
  EXPECT_TRUE(kit::FontIsTrueType(&font));
  // A face the system lists as a raster font is not TrueType.
  const std::string raster = RasterFace();
  if (raster.empty()) GTEST_SKIP() << "no raster font installed";
  font.SetName(raster);
  EXPECT_FALSE(kit::FontIsTrueType(&font)) << raster;
}

}  // namespace
}  // namespace kelm::test

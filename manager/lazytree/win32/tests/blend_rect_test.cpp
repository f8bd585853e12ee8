// Blending between DIB sections selected into device contexts: rows found
// in either order, clipping, the assertions for DCs without a 32-bit
// section, and shortening in a real font.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "classlib/sysutils.h"
#include "lazytree/blend_rect.h"

namespace kelm::lazytree {
namespace {

// A memory DC with a DIB section of the given depth selected (bottom-up
// for a positive height).
class TSection {
 public:
  TSection(int width, int height, int bits = 32) : width_(width) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = static_cast<WORD>(bits);
    info.bmiHeader.biCompression = BI_RGB;
    dc_ = CreateCompatibleDC(nullptr);
    bitmap_ = CreateDIBSection(dc_, &info, DIB_RGB_COLORS, &bits_, nullptr, 0);
    old_ = SelectObject(dc_, bitmap_);
    rows_ = height < 0 ? -height : height;
    bottomUp_ = height > 0;
  }
  ~TSection() {
    SelectObject(dc_, old_);
    DeleteObject(bitmap_);
    DeleteDC(dc_);
  }
  TSection(const TSection&) = delete;
  TSection& operator=(const TSection&) = delete;
  HDC Dc() const { return dc_; }
  // The pixel at (x, y), y counted from the top as the screen shows it.
  uint32_t& At(int x, int y) {
    const int row = bottomUp_ ? rows_ - 1 - y : y;
    return static_cast<uint32_t*>(bits_)[row * width_ + x];
  }
  void Fill(uint32_t value) {
    for (int y = 0; y < rows_; ++y)
      for (int x = 0; x < width_; ++x) At(x, y) = value;
  }

 private:
  HDC dc_ = nullptr;
  HBITMAP bitmap_ = nullptr;
  HGDIOBJ old_ = nullptr;
  void* bits_ = nullptr;
  int width_ = 0;
  int rows_ = 0;
  bool bottomUp_ = false;
};

TEST(BlendRect, RowsInEitherOrderAndOnlyTheRectangle) {
  for (bool sourceBottomUp : {false, true}) {
    SCOPED_TRACE(sourceBottomUp ? "bottom-up source" : "top-down source");
    TSection source(8, sourceBottomUp ? 8 : -8);
    TSection target(8, 8);
    // Each source row its own grey; the target black.
    for (int y = 0; y < 8; ++y)
      for (int x = 0; x < 8; ++x) source.At(x, y) = 0x01010101u * static_cast<uint32_t>(y * 16);
    target.Fill(0);
    BlendRect(source.Dc(), target.Dc(), classlib::TRect{1, 2, 4, 5}, classlib::TPoint{4, 0},
              BlendConstant, 128, 0);
    for (int y = 0; y < 8; ++y) {
      for (int x = 0; x < 8; ++x) {
        const bool inside = x >= 4 && x < 7 && y < 3;
        // Row y of the target takes source row y + 2 at half strength.
        const uint32_t expected = inside ? 0x01010101u * static_cast<uint32_t>((y + 2) * 8) : 0;
        EXPECT_EQ(target.At(x, y), expected) << x << "," << y;
      }
    }
    // GDI sees the same top row.
    EXPECT_EQ(GetPixel(target.Dc(), 4, 0), RGB(16, 16, 16));
    EXPECT_EQ(source.At(0, 0), 0u) << "the source is left as it was";
    EXPECT_EQ(source.At(0, 7), 0x70707070u);
  }
  // A DC scrolled and clipped away from the top-left pixel finds its rows
  // all the same.
  TSection source(4, -4);
  TSection target(4, 4);
  source.Fill(0);
  source.At(0, 0) = 0x80808080;
  target.Fill(0);
  SetViewportOrgEx(source.Dc(), 30, 30, nullptr);
  HRGN clip = CreateRectRgn(2, 2, 3, 3);
  SelectClipRgn(source.Dc(), clip);
  DeleteObject(clip);
  BlendRect(source.Dc(), target.Dc(), classlib::TRect{0, 0, 1, 1}, classlib::TPoint{0, 0},
            BlendConstant, 128, 0);
  EXPECT_EQ(target.At(0, 0), 0x40404040u);
  POINT origin{};
  GetViewportOrgEx(source.Dc(), &origin);
  EXPECT_EQ(origin.x, 30) << "the DC's state is put back";
}

TEST(BlendRect, ClippedToBothBitmapsAndEmptyDoesNothing) {
  TSection source(4, 4);
  TSection target(6, 6);
  source.Fill(0xFFFFFFFF);
  target.Fill(0);
  // Half of the rectangle lies left of the source and past the target.
  BlendRect(source.Dc(), target.Dc(), classlib::TRect{-2, -2, 10, 10}, classlib::TPoint{3, 3},
            BlendConstant, 255, 0);
  int changed = 0;
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 6; ++x) changed += target.At(x, y) != 0 ? 1 : 0;
  // Source pixels 0..3 land at 5..8: only column and row 5 exist.
  EXPECT_EQ(changed, 1);
  EXPECT_NE(target.At(5, 5), 0u);
  target.Fill(0x12345678);
  BlendRect(source.Dc(), target.Dc(), classlib::TRect{2, 2, 2, 4}, classlib::TPoint{0, 0},
            BlendConstant, 255, 0);
  BlendRect(source.Dc(), target.Dc(), classlib::TRect{3, 3, 1, 1}, classlib::TPoint{0, 0},
            BlendConstant, 255, 0);
  EXPECT_EQ(target.At(0, 0), 0x12345678u) << "empty rectangles change nothing";
}

TEST(BlendRect, AColourNeedsNoSource) {
  TSection target(2, 2);
  target.Fill(0xFF000000);
  BlendRect(nullptr, target.Dc(), classlib::TRect{0, 0, 2, 1}, classlib::TPoint{0, 0}, BlendColor,
            255, static_cast<int32_t>(RGB(255, 0, 0)));
  EXPECT_EQ(GetPixel(target.Dc(), 0, 0), RGB(254, 0, 0));
  EXPECT_EQ(GetPixel(target.Dc(), 1, 1), RGB(0, 0, 0));
}

TEST(BlendRect, DCsWithoutA32BitSectionAreRefused) {
  TSection good(4, 4);
  TSection deep24(4, 4, 24);
  HDC plain = CreateCompatibleDC(nullptr);  // its stock 1 x 1 monochrome bitmap
  HDC screen = GetDC(nullptr);
  HBITMAP device = CreateCompatibleBitmap(screen, 4, 4);
  ReleaseDC(nullptr, screen);
  HDC withDevice = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(withDevice, device);
  struct TCase {
    const char* name;
    HDC source, target;
    TBlendMode mode;
    const char16_t* message;
  } cases[] = {
      {"a plain memory DC", good.Dc(), plain, BlendConstant,
       u"Alpha blending DC error: no bitmap available."},
      {"a device bitmap", withDevice, good.Dc(), BlendConstant,
       u"Alpha blending DC error: no bitmap available."},
      {"24 bits per pixel", good.Dc(), deep24.Dc(), BlendConstant,
       u"Alpha blending error: bitmap must use 32 bpp."},
      {"no source for a source blend", nullptr, good.Dc(), BlendPerPixel,
       u"Alpha blending DC error: no bitmap available."},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    try {
      BlendRect(c.source, c.target, classlib::TRect{0, 0, 2, 2}, classlib::TPoint{0, 0}, c.mode,
                128, 0);
      ADD_FAILURE() << "not refused";
    } catch (const classlib::EAssertionFailed& e) {
      EXPECT_NE(e.Message().find(c.message), std::u16string::npos);
    }
  }
  SelectObject(withDevice, old);
  DeleteObject(device);
  DeleteDC(withDevice);
  DeleteDC(plain);
}

TEST(BlendRect, ShortenStringMeasuresInTheDCsFont) {
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
  auto width = [dc](const std::u16string& s) {
    SIZE size{};
    GetTextExtentPoint32W(dc, reinterpret_cast<const wchar_t*>(s.data()),
                          static_cast<int>(s.size()), &size);
    return static_cast<int>(size.cx);
  };
  const std::u16string text = u"Snapshot before the update";
  const int room = width(u"Snapshot") + width(u"...");
  const std::u16string shortened = ShortenString(dc, text, room, 0);
  EXPECT_EQ(shortened, u"Snapshot...") << "the longest prefix that fits with the ellipsis";
  EXPECT_LE(width(shortened), room);
  EXPECT_EQ(ShortenString(dc, text, width(u"...") - 1, 0), u"") << "narrower than the ellipsis";
  SelectObject(dc, old);
  DeleteDC(dc);
}

}  // namespace
}  // namespace kelm::lazytree

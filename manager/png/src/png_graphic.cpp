#include "png/png_graphic.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "classlib/classdef.h"
#include "png/png_bitmap.h"
#include "png/png_class_stream.h"
#include "png/png_errors.h"

namespace kelm::png {

using classlib::TBitmap;
using classlib::TCanvas;
using classlib::TColor;
using classlib::TPersistent;
using classlib::TPixelFormat;
using classlib::TRect;

namespace {

static_assert(sizeof(PngRgbQuad) == sizeof(RGBQUAD), "storage palette entries are RGBQUADs");
static_assert(offsetof(PngRgbQuad, red) == offsetof(RGBQUAD, rgbRed), "RGBQUAD order");

// A BITMAPINFO with room for the largest palette.
struct DibInfo {
  BITMAPINFOHEADER header;
  RGBQUAD colours[256];
  const BITMAPINFO* Get() const { return reinterpret_cast<const BITMAPINFO*>(this); }
};

// The storage as GDI sees it: its rows are already a bottom-up DIB.
DibInfo StorageInfo(const PngStorage& storage) {
  DibInfo info{};
  info.header.biSize = sizeof(BITMAPINFOHEADER);
  info.header.biWidth = LONG(storage.Width());
  info.header.biHeight = LONG(storage.Height());
  info.header.biPlanes = 1;
  info.header.biBitCount = WORD(storage.BitsPerPixel());
  info.header.biCompression = BI_RGB;
  if (storage.UsesPalette()) {
    info.header.biClrUsed = storage.PaletteCount();
    std::memcpy(info.colours, storage.Palette(), sizeof(RGBQUAD) * storage.PaletteCount());
  }
  return info;
}

// GDI handles released on every path, drawing included.
class GdiObject {
 public:
  explicit GdiObject(HGDIOBJ object) : object_(object) {
    if (!object_) throw EPNGOutMemory();
  }
  ~GdiObject() { DeleteObject(object_); }
  GdiObject(const GdiObject&) = delete;
  GdiObject& operator=(const GdiObject&) = delete;
  HGDIOBJ Get() const { return object_; }

 private:
  HGDIOBJ object_;
};

// A memory DC compatible with dc, holding one bitmap while it lives.
class MemoryDC {
 public:
  MemoryDC(HDC dc, const GdiObject& bitmap) : dc_(CreateCompatibleDC(dc)) {
    if (!dc_) throw EPNGOutMemory();
    old_ = SelectObject(dc_, bitmap.Get());
  }
  ~MemoryDC() {
    SelectObject(dc_, old_);
    DeleteDC(dc_);
  }
  MemoryDC(const MemoryDC&) = delete;
  MemoryDC& operator=(const MemoryDC&) = delete;
  HDC Get() const { return dc_; }

 private:
  HDC dc_;
  HGDIOBJ old_ = nullptr;
};

// A DIB section of the given depth; a negative height makes it top-down.
HBITMAP NewDibSection(HDC dc, int width, int height, WORD bitCount, void** bits) {
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = bitCount;
  info.bmiHeader.biCompression = BI_RGB;
  return CreateDIBSection(dc, &info, DIB_RGB_COLORS, bits, nullptr, 0);
}

void DrawOpaque(HDC dc, const TRect& r, const PngStorage& storage) {
  DibInfo info = StorageInfo(storage);
  int oldMode = SetStretchBltMode(dc, HALFTONE);
  // HALFTONE dithers against the brush origin, which must be set after it.
  POINT oldOrigin{};
  SetBrushOrgEx(dc, 0, 0, &oldOrigin);
  StretchDIBits(dc, r.left, r.top, r.right - r.left, r.bottom - r.top, 0, 0, int(storage.Width()),
                int(storage.Height()), storage.PixelBits(), info.Get(), DIB_RGB_COLORS, SRCCOPY);
  SetBrushOrgEx(dc, oldOrigin.x, oldOrigin.y, nullptr);
  SetStretchBltMode(dc, oldMode);
}

// Single-colour transparency: the destination is cut out by a monochrome
// mask (AND), then the picture with its transparent pixels black is added
// (OR), both stretched alike so they stay in register.
void DrawMasked(HDC dc, const TRect& r, const PngPicture& picture) {
  const PngStorage& storage = picture.RequireHeader().Storage();
  const int width = int(storage.Width()), height = int(storage.Height());

  void* bits = nullptr;
  GdiObject image(NewDibSection(dc, width, -height, 32, &bits));
  DibInfo info = StorageInfo(storage);
  SetDIBits(dc, HBITMAP(image.Get()), 0, UINT(height), storage.PixelBits(), info.Get(),
            DIB_RGB_COLORS);
  GdiFlush();
  // Monochrome bitmap rows are padded to 16 bits; 1 is white, the
  // destination's background colour.
  const size_t maskStride = (size_t(width) + 15) / 16 * 2;
  std::vector<uint8_t> maskBits(maskStride * size_t(height));
  auto* pixel = static_cast<uint32_t*>(bits);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x, ++pixel)
      if (IsTransparentPixel(picture, uint32_t(x), uint32_t(y))) {
        *pixel = 0;
        maskBits[size_t(y) * maskStride + size_t(x) / 8] |= uint8_t(0x80 >> (x % 8));
      }
  GdiObject mask(CreateBitmap(width, height, 1, 1, maskBits.data()));

  MemoryDC imageDC(dc, image), maskDC(dc, mask);
  COLORREF oldText = SetTextColor(dc, RGB(0, 0, 0)), oldBack = SetBkColor(dc, RGB(255, 255, 255));
  int oldMode = SetStretchBltMode(dc, COLORONCOLOR);
  const int w = r.right - r.left, h = r.bottom - r.top;
  StretchBlt(dc, r.left, r.top, w, h, maskDC.Get(), 0, 0, width, height, SRCAND);
  StretchBlt(dc, r.left, r.top, w, h, imageDC.Get(), 0, 0, width, height, SRCPAINT);
  SetStretchBltMode(dc, oldMode);
  SetBkColor(dc, oldBack);
  SetTextColor(dc, oldText);
}

// Partial transparency: blended in memory over a copy of the destination.
void DrawBlended(HDC dc, TRect r, const PngPicture& picture) {
  if (r.left > r.right) std::swap(r.left, r.right);
  if (r.top > r.bottom) std::swap(r.top, r.bottom);
  const int width = r.right - r.left, height = r.bottom - r.top;
  if (width == 0 || height == 0) return;
  void* bits = nullptr;
  GdiObject block(NewDibSection(dc, width, -height, 32, &bits));
  MemoryDC blockDC(dc, block);
  BitBlt(blockDC.Get(), 0, 0, width, height, dc, r.left, r.top, SRCCOPY);
  GdiFlush();
  BlendOnto(picture, static_cast<uint8_t*>(bits), size_t(width) * 4, uint32_t(width),
            uint32_t(height));
  BitBlt(dc, r.left, r.top, width, height, blockDC.Get(), 0, 0, SRCCOPY);
}

TPixelFormat FormatFor(const PngStorage& storage) {
  switch (storage.BitsPerPixel()) {
    case 1:
      return TPixelFormat::pf1bit;
    case 4:
      return TPixelFormat::pf4bit;
    case 8:
      return TPixelFormat::pf8bit;
    default:
      return TPixelFormat::pf24bit;
  }
}

}  // namespace

CL_CLASS(TPngGraphic) {}

TPngGraphic::~TPngGraphic() {
  if (palette_) DeleteObject(palette_);
}

void TPngGraphic::Assign(TPersistent* source) {
  if (!source) {
    picture_.Clear();
    Changed();
  } else if (auto* png = dynamic_cast<TPngGraphic*>(source)) {
    if (png == this) return;
    picture_.Assign(&png->picture_);
    Changed();
  } else if (auto* bitmap = dynamic_cast<TBitmap*>(source)) {
    AssignFromBitmap(*bitmap);
  } else {
    TGraphic::Assign(source);
  }
}

void TPngGraphic::AssignTo(TPersistent* dest) {
  if (auto* png = dynamic_cast<TPngGraphic*>(dest)) {
    png->Assign(this);
  } else if (auto* bitmap = dynamic_cast<TBitmap*>(dest)) {
    AssignToBitmap(*bitmap);
  } else {
    TGraphic::AssignTo(dest);
  }
}

void TPngGraphic::AssignFromBitmap(TBitmap& bitmap) {
  if (bitmap.Empty()) {
    picture_.Clear();
    Changed();
    return;
  }
  // The bitmap's rows as a 24-bit bottom-up DIB, whatever its own depth.
  const int width = bitmap.Width(), height = bitmap.Height();
  const size_t stride = (size_t(width) * 24 + 31) / 32 * 4;
  const size_t pixelBytes = bitmap.PixelFormat() == TPixelFormat::pf24bit ? 3 : 4;
  std::vector<uint8_t> bits(stride * size_t(height));
  for (int y = 0; y < height; ++y) {
    const auto* from = static_cast<const uint8_t*>(bitmap.ScanLine(y));
    uint8_t* to = bits.data() + size_t(height - 1 - y) * stride;
    for (int x = 0; x < width; ++x)
      std::memcpy(to + size_t(x) * 3, from + size_t(x) * pixelBytes, 3);
  }
  PngDibSource source;
  source.width = uint32_t(width);
  source.height = uint32_t(height);
  source.bitsPerPixel = 24;
  source.bits = bits.data();
  if (bitmap.Transparent())
    source.transparentColour = classlib::ColorToRGB(bitmap.TransparentColor());
  AssignFromDib(picture_, source);
  Changed();
}

void TPngGraphic::AssignToBitmap(TBitmap& bitmap) {
  if (Empty()) {
    bitmap.Assign(nullptr);
    return;
  }
  const TChunkIHDR& header = picture_.RequireHeader();
  const PngStorage& storage = header.Storage();
  bitmap.SetPixelFormat(FormatFor(storage));
  bitmap.SetSize(int(header.Width), int(header.Height));
  if (picture_.TransparencyMode() == PngTransparency::Partial) {
    // What shows through is the white a fresh picture of the library has.
    bitmap.Canvas()->Brush()->SetColor(classlib::clWhite);
    bitmap.Canvas()->FillRect(classlib::Rect(0, 0, bitmap.Width(), bitmap.Height()));
    bitmap.Canvas()->Draw(0, 0, this);
  } else {
    // Every pixel as stored, transparent ones included, so that the
    // bitmap's transparent colour finds them.
    const size_t pixelBytes = bitmap.PixelFormat() == TPixelFormat::pf24bit ? 3 : 4;
    for (uint32_t y = 0; y < header.Height; ++y) {
      auto* to = static_cast<uint8_t*>(bitmap.ScanLine(int(y)));
      const uint8_t* from = storage.Row(y);
      for (uint32_t x = 0; x < header.Width; ++x, to += pixelBytes) {
        if (storage.UsesPalette()) {
          const PngRgbQuad& c =
              storage.Palette()[PngStorage::GetPacked(from, x, storage.BitsPerPixel())];
          to[0] = c.blue, to[1] = c.green, to[2] = c.red;
        } else {
          std::memcpy(to, from + size_t(x) * 3, 3);
        }
      }
    }
  }
  std::optional<PngColour> key = TransparentColour(picture_);
  bitmap.SetTransparentColor(key ? TColor(*key) : classlib::clDefault);
  bitmap.SetTransparent(key.has_value());
}

void TPngGraphic::SetSize(int width, int height) {
  if (width < 1 || height < 1) throw EPNGInvalidNewSize();
  picture_.SetSize(uint32_t(width), uint32_t(height));
  Changed();
}

bool TPngGraphic::Transparent() const {
  return picture_.TransparencyMode() != PngTransparency::None;
}

HPALETTE TPngGraphic::Palette() const {
  if (palette_) DeleteObject(palette_);
  palette_ = nullptr;
  if (Empty()) return nullptr;
  const PngStorage& storage = picture_.RequireHeader().Storage();
  if (!storage.UsesPalette()) return nullptr;
  struct {
    WORD version, count;
    PALETTEENTRY entries[256];
  } logical{0x300, WORD(storage.PaletteCount()), {}};
  for (unsigned i = 0; i < storage.PaletteCount(); ++i) {
    const PngRgbQuad& c = storage.Palette()[i];
    logical.entries[i] = {c.red, c.green, c.blue, 0};
  }
  palette_ = CreatePalette(reinterpret_cast<const LOGPALETTE*>(&logical));
  return palette_;
}

void TPngGraphic::SetPalette(HPALETTE palette) {
  PngStorage& storage = picture_.RequireHeader().Storage();
  if (!palette || !storage.UsesPalette()) return;
  PALETTEENTRY entries[256];
  UINT count = GetPaletteEntries(palette, 0, storage.PaletteCount(), entries);
  for (UINT i = 0; i < count; ++i)
    storage.Palette()[i] = {entries[i].peBlue, entries[i].peGreen, entries[i].peRed, 0};
  // The file's palette grows to hold the new entries; it never shrinks
  // below the indices the image may use.
  if (auto* plte = picture_.ChunkList().Find<TChunkPLTE>())
    plte->EntryCount = std::max(plte->EntryCount, unsigned(count));
  Changed();
}

TColor TPngGraphic::Pixels(int x, int y) const { return TColor(picture_.Pixel(x, y)); }

void TPngGraphic::SetPixels(int x, int y, TColor colour) {
  picture_.SetPixel(x, y, PngColour(classlib::ColorToRGB(colour)));
  Changed();
}

void TPngGraphic::LoadFromStream(classlib::TStream& stream) {
  PngClassStream adapter(stream);
  try {
    picture_.LoadFromStream(adapter);
  } catch (...) {
    // What was read before the failure stays; owners must still hear of it.
    Changed();
    throw;
  }
  Changed();
}

void TPngGraphic::SaveToStream(classlib::TStream& stream) {
  PngClassStream adapter(stream);
  picture_.SaveToStream(adapter);
}

void TPngGraphic::LoadFromClipboardFormat(UINT format, HANDLE data) {
  TBitmap bitmap;
  bitmap.LoadFromClipboardFormat(format, data);
  AssignFromBitmap(bitmap);
}

void TPngGraphic::SaveToClipboardFormat(UINT& format, HANDLE& data) {
  TBitmap bitmap;
  AssignToBitmap(bitmap);
  bitmap.SaveToClipboardFormat(format, data);
}

void TPngGraphic::Draw(TCanvas* canvas, const TRect& r) {
  if (Empty()) return;
  const TChunkIHDR& header = picture_.RequireHeader();
  HDC dc = canvas->Handle();
  switch (picture_.TransparencyMode()) {
    case PngTransparency::None:
      DrawOpaque(dc, r, header.Storage());
      break;
    case PngTransparency::SingleColour:
      DrawMasked(dc, r, picture_);
      break;
    case PngTransparency::Partial:
      DrawBlended(dc, r, picture_);
      break;
  }
}

void RegisterPngGraphic() {
  // By class name too, for pictures stored with forms. (The plural form:
  // the system headers turn the singular name into a window-class call.)
  classlib::RegisterClasses({TPngGraphic::StaticClass()});
  classlib::TPicture::RegisterFileFormat("png", u"Portable Network Graphics",
                                         TPngGraphic::StaticClass());
}

void UnregisterPngGraphic() {
  classlib::TPicture::UnregisterGraphicClass(TPngGraphic::StaticClass());
  classlib::UnRegisterClass(TPngGraphic::StaticClass());
}

namespace {
// Start-up and shutdown of the unit.
struct Registration {
  Registration() { RegisterPngGraphic(); }
  ~Registration() { UnregisterPngGraphic(); }
} registration;
}  // namespace

}  // namespace kelm::png

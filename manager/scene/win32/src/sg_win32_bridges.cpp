// Copies between the scene's bitmap and font and the class library's
// graphics objects.
#include "scene/sg_win32_bridges.h"

#include <windows.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "scene/sg_brush.h"
#include "scene/sg_bridges.h"

namespace kelm::scene {

using classlib::TBitmap;
using classlib::TFont;
using classlib::TGraphic;
using classlib::TPersistent;
using classlib::TPicture;
using classlib::TPixelFormat;

namespace {

// A DIB pixel's colour bits (0x00RRGGBB) of the key colour.
constexpr uint32_t kKeyColor = 0x00FF00FFu;

struct FreeObject {
  void operator()(classlib::TObject* o) const { classlib::Free(o); }
};

// 0x00RRGGBB, as a 32-bit DIB pixel holds its colour.
uint32_t PixelRgb(classlib::TColor c) {
  const COLORREF rgb = classlib::ColorToRGB(c);
  return (uint32_t(GetRValue(rgb)) << 16) | (uint32_t(GetGValue(rgb)) << 8) | GetBValue(rgb);
}

void FinishPixels(TsgBitmap& to) {
  to.NeedUpdate = true;
  to.BitmapChanged();
}

// 32-bit rows are taken as they are (premultiplied, as the scene keeps
// them); 24-bit ones become opaque. A transparent window bitmap's pixels
// of its transparent colour become 0.
void AssignFromBitmap(TsgBitmap& to, TBitmap* from) {
  to.SetSize(from->Width(), from->Height());
  if (to.IsEmpty() || from->Empty()) {
    FinishPixels(to);
    return;
  }
  const bool transparent = from->Transparent();
  const uint32_t key = transparent ? PixelRgb(from->TransparentColor()) : 0;
  const int w = to.Width();
  const bool is32 = from->PixelFormat() == TPixelFormat::pf32bit;
  for (int y = 0; y < to.Height(); ++y) {
    uint32_t* dst = to.Bits() + size_t(y) * size_t(w);
    const auto* row = static_cast<const uint8_t*>(from->ScanLine(y));
    for (int x = 0; x < w; ++x) {
      uint32_t p;
      if (is32) {
        std::memcpy(&p, row + size_t(x) * 4, 4);
      } else {
        const uint8_t* bgr = row + size_t(x) * 3;
        p = 0xFF000000u | (uint32_t(bgr[2]) << 16) | (uint32_t(bgr[1]) << 8) | bgr[0];
      }
      if (transparent && (p & 0x00FFFFFFu) == key) p = 0;
      dst[x] = p;
    }
  }
  FinishPixels(to);
}

// Drawn on the key colour: what the graphic paints is opaque, what it
// leaves stays transparent.
void AssignFromGraphic(TsgBitmap& to, TGraphic* from) {
  to.SetSize(from ? from->Width() : 0, from ? from->Height() : 0);
  if (!to.IsEmpty()) {
    std::fill_n(to.Bits(), size_t(to.Width()) * size_t(to.Height()), 0u);
    DrawGraphic(to, from, classlib::Rect(0, 0, to.Width(), to.Height()));
  }
  FinishPixels(to);
}

void AssignToBitmap(TBitmap* to, TsgBitmap& from) {
  to->SetPixelFormat(TPixelFormat::pf32bit);
  to->SetSize(from.Width(), from.Height());
  if (!from.IsEmpty() && !to->Empty()) {
    const size_t w = size_t(from.Width());
    for (int y = 0; y < from.Height(); ++y)
      std::memcpy(to->ScanLine(y), from.Bits() + size_t(y) * w, w * 4);
  }
  // The rows changed behind the bitmap's back: tell its owner as the
  // bitmap itself would.
  to->SetModified(true);
  if (to->OnChange) to->OnChange(to);
}

void AssignFontFromWindow(TsgFont& to, TFont* from) {
  const classlib::TFontStyles s = from->Style();
  TsgWindowFont wf;
  wf.Name = from->Name();
  wf.Height = from->Height();
  wf.Bold = s.Contains(classlib::fsBold);
  wf.Italic = s.Contains(classlib::fsItalic);
  wf.Underline = s.Contains(classlib::fsUnderline);
  wf.StrikeOut = s.Contains(classlib::fsStrikeOut);
  to.AssignWindowFont(wf);
}

void AssignFontToWindow(TFont* to, TsgFont& from) {
  const classlib::TFontStyles s = to->Style();
  TsgWindowFont wf;
  wf.Name = to->Name();
  wf.Height = to->Height();
  wf.Bold = s.Contains(classlib::fsBold);
  wf.Italic = s.Contains(classlib::fsItalic);
  wf.Underline = s.Contains(classlib::fsUnderline);
  wf.StrikeOut = s.Contains(classlib::fsStrikeOut);
  from.AssignToWindowFont(wf);
  classlib::TFontStyles style;
  if (wf.Bold) style.Include(classlib::fsBold);
  if (wf.Italic) style.Include(classlib::fsItalic);
  if (wf.Underline) style.Include(classlib::fsUnderline);
  if (wf.StrikeOut) style.Include(classlib::fsStrikeOut);
  // One change for the whole description: colour, character set and
  // pitch stay the font's own.
  std::unique_ptr<TFont, FreeObject> next(classlib::New<TFont>());
  next->Assign(to);
  next->SetName(wf.Name);
  next->SetHeight(wf.Height);
  next->SetStyle(style);
  to->Assign(next.get());
}

}  // namespace

void DrawGraphic(TsgBitmap& bitmap, TGraphic* graphic, const classlib::TRect& r) {
  if (!graphic || bitmap.IsEmpty()) return;
  const int w = bitmap.Width(), h = bitmap.Height();
  std::unique_ptr<TBitmap, FreeObject> work(classlib::New<TBitmap>());
  work->SetPixelFormat(TPixelFormat::pf32bit);
  work->SetSize(w, h);
  classlib::TCanvas* canvas = work->Canvas();
  canvas->Brush()->SetStyle(classlib::TBrushStyle::bsSolid);
  canvas->Brush()->SetColor(classlib::clFuchsia);
  canvas->FillRect(classlib::Rect(0, 0, w, h));
  canvas->StretchDraw(r, graphic);
  for (int y = 0; y < h; ++y) {
    const auto* src = static_cast<const uint32_t*>(work->ScanLine(y));
    uint32_t* dst = bitmap.Bits() + size_t(y) * size_t(w);
    for (int x = 0; x < w; ++x) {
      // GDI leaves the alpha byte to chance: compare colours only.
      const uint32_t rgb = src[x] & 0x00FFFFFFu;
      if (rgb != kKeyColor) dst[x] = 0xFF000000u | rgb;
    }
  }
  bitmap.NeedUpdate = true;
}

bool sgWin32AssignBridge(TPersistent* dest, TPersistent* source) {
  if (auto* to = dynamic_cast<TsgBitmap*>(dest)) {
    if (auto* picture = dynamic_cast<TPicture*>(source)) {
      // A picture's window bitmap keeps its alpha, so a bitmap sent to a
      // picture comes back unchanged.
      if (auto* b = dynamic_cast<TBitmap*>(picture->Graphic()))
        AssignFromBitmap(*to, b);
      else
        AssignFromGraphic(*to, picture->Graphic());
      return true;
    }
    if (auto* b = dynamic_cast<TBitmap*>(source)) {
      AssignFromBitmap(*to, b);
      return true;
    }
    if (auto* g = dynamic_cast<TGraphic*>(source)) {
      AssignFromGraphic(*to, g);
      return true;
    }
    return false;
  }
  if (auto* from = dynamic_cast<TsgBitmap*>(source)) {
    if (auto* picture = dynamic_cast<TPicture*>(dest)) {
      AssignToBitmap(picture->Bitmap(), *from);
      return true;
    }
    if (auto* b = dynamic_cast<TBitmap*>(dest)) {
      AssignToBitmap(b, *from);
      return true;
    }
    return false;
  }
  if (auto* to = dynamic_cast<TsgFont*>(dest)) {
    auto* from = dynamic_cast<TFont*>(source);
    if (from) AssignFontFromWindow(*to, from);
    return from != nullptr;
  }
  if (auto* to = dynamic_cast<TFont*>(dest)) {
    auto* from = dynamic_cast<TsgFont*>(source);
    if (from) AssignFontToWindow(to, *from);
    return from != nullptr;
  }
  return false;
}

namespace {
// Part of an object library, so this start-up step always comes along.
struct RegisterBridge {
  RegisterBridge() { RegisterAssignBridge(&sgWin32AssignBridge); }
} registerBridge;
}  // namespace

}  // namespace kelm::scene

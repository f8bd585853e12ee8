#include "kit/kt_grafx.h"

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "classlib/forms.h"
#include "kit/kt_bands.h"
#include "kit/kt_common_win.h"

namespace kelm::kit {

using classlib::TColor;

namespace {

void FillSolid(HDC dc, const TKtRect& r, TColor color) {
  const RECT rect{r.left, r.top, r.right, r.bottom};
  HBRUSH brush = CreateSolidBrush(static_cast<COLORREF>(color));
  FillRect(dc, &rect, brush);
  DeleteObject(brush);
}

uint32_t Rgb(TColor c) { return static_cast<uint32_t>(classlib::ColorToRGB(c)); }

}  // namespace

void LinearBandFill(HDC dc, int splitX, int splitY, int size, TColor startColor, TColor stopColor,
                    uint8_t steps) {
  for (const auto& band :
       LinearBands(splitX, splitY, size, Rgb(startColor), Rgb(stopColor), steps)) {
    FillSolid(dc, band.rect, band.color);
  }
}

void BoxBandFill(HDC dc, int width, int height, int xInset, int yInset, TColor startColor,
                 TColor stopColor, uint8_t steps) {
  for (const auto& band :
       BoxBands(width, height, xInset, yInset, Rgb(startColor), Rgb(stopColor), steps)) {
    FillSolid(dc, band.rect, band.color);
  }
}

void DiagonalBandFill(HDC dc, int width, int height, TColor startColor, TColor stopColor,
                      uint8_t steps) {
  for (const auto& band : DiagonalBands(width, height, Rgb(startColor), Rgb(stopColor), steps)) {
    POINT points[4];
    for (int i = 0; i < 4; ++i) points[i] = POINT{band.points[i].x, band.points[i].y};
    HBRUSH brush = CreateSolidBrush(static_cast<COLORREF>(band.color));
    HGDIOBJ old = SelectObject(dc, brush);
    Polygon(dc, points, 4);
    SelectObject(dc, old);
    DeleteObject(brush);
  }
}

void DoublingTileBlt(HDC dc, int x, int y, int width, int height, int tileWidth, int tileHeight,
                     DWORD rop) {
  if (tileWidth <= 0 || tileHeight <= 0) return;
  int painted_w = std::min(tileWidth, width);
  int painted_h = std::min(tileHeight, height);
  bool vertical = height > tileHeight;
  while (painted_w < width || painted_h < height) {
    if (vertical && painted_h < height) {
      const int h = std::min(painted_h, height - painted_h);
      BitBlt(dc, x, y + painted_h, painted_w, h, dc, x, y, rop);
      painted_h += h;
      vertical = painted_w >= width;
    } else if (painted_w < width) {
      const int w = std::min(painted_w, width - painted_w);
      BitBlt(dc, x + painted_w, y, w, painted_h, dc, x, y, rop);
      painted_w += w;
      vertical = painted_h < height;
    } else {
      vertical = true;
    }
  }
}

void QuadMirrorBlt(HDC dc, int x, int y, int width, int height, DWORD rop) {
  const int hw = width >> 1;
  const int hh = height >> 1;
  const int odd = hw & 1;
  // The top-left quadrant flipped into the bottom-left (a negative height
  // mirrors), then the left half flipped into the right (negative width).
  StretchBlt(dc, x, y + height - 1, hw + 1, -hh, dc, x, y, hw, hh, rop);
  StretchBlt(dc, x + width - 1, y, -(hw + odd), height, dc, x, y, hw - odd, height, rop);
}

void GradientFill(classlib::TCanvas* canvas, const classlib::TRect& bounds, uint8_t direction,
                  TColor startColor, TColor stopColor, uint8_t steps) {
  const TColor start = static_cast<TColor>(Rgb(startColor));
  const TColor stop = static_cast<TColor>(Rgb(stopColor));
  const int w = std::abs(bounds.right - bounds.left);
  const int h = std::abs(bounds.bottom - bounds.top);
  // No caller passes a direction above 9: it paints nothing, as an empty
  // rectangle does.
  if (w == 0 || h == 0 || direction > 9) return;
  classlib::TBitmap bitmap;
  bitmap.SetSize(w, h);
  classlib::TCanvas* c = bitmap.Canvas();
  c->Pen()->SetWidth(1);
  c->Pen()->SetStyle(classlib::TPenStyle::psClear);
  c->Pen()->SetMode(classlib::TPenMode::pmCopy);
  c->Brush()->SetStyle(classlib::TBrushStyle::bsSolid);
  HDC dc = c->Handle();
  // The canvas selects its pen only when it draws; the bands draw on the DC.
  HGDIOBJ oldPen = SelectObject(dc, GetStockObject(NULL_PEN));
  const TKtRect all{0, 0, w, h};
  switch (direction) {
    case 0:
    case 1:
      if (start == stop) {
        FillSolid(dc, all, start);
      } else {
        DiagonalBandFill(dc, direction == 0 ? w : -w, h, start, stop, steps);
      }
      break;
    case 2:
    case 3:
      LinearBandFill(dc, 0, direction == 2 ? -1 : h / 2, h, start, stop, steps);
      DoublingTileBlt(dc, 0, 0, w, h, 8, h, SRCCOPY);
      break;
    case 5:
    case 6:
      LinearBandFill(dc, direction == 5 ? -1 : w / 2, 0, w, start, stop, steps);
      DoublingTileBlt(dc, 0, 0, w, h, w, 8, SRCCOPY);
      break;
    default: {
      // The box directions: 4 and 8 fill first; the insets differ.
      if (direction == 4 || direction == 8) FillSolid(dc, all, start);
      const int xInset = direction == 4 || direction == 9 ? w / 4 : 0;
      const int yInset = direction == 7 || direction == 9 ? h / 4 : 0;
      BoxBandFill(dc, w, h, xInset, yInset, start, stop, steps);
      QuadMirrorBlt(dc, 0, 0, w, h, SRCCOPY);
      break;
    }
  }
  SelectObject(dc, oldPen);
  canvas->Draw(bounds.left, bounds.top, &bitmap);
}

void PaintParentBackground(classlib::TControl* control, HDC dc, bool invalidateParent) {
  classlib::TWinControl* parent = control->Parent();
  if (parent == nullptr) return;
  const bool designing = control->IsDesigning();
  const int saved = SaveDC(dc);
  POINT origin{};
  GetViewportOrgEx(dc, &origin);
  SetViewportOrgEx(dc, origin.x - control->Left(), origin.y - control->Top(), nullptr);
  IntersectClipRect(dc, 0, 0, parent->ClientWidth(), parent->ClientHeight());
  // The library's window procedures hand exceptions to the application
  // and never let them out, so nothing reaches here from the parent's
  // painting, at design time or otherwise.
  HWND wnd = parent->Handle();
  const auto wParam = reinterpret_cast<WPARAM>(dc);
  SendMessageW(wnd, WM_ERASEBKGND, wParam, 0);
  SendMessageW(wnd, WM_PRINTCLIENT, wParam, PRF_CLIENT);
  RestoreDC(dc, saved);
  if (invalidateParent && !designing &&
      !parent->InheritsFrom(classlib::TCustomControl::StaticClass()) &&
      !parent->InheritsFrom(classlib::TCustomForm::StaticClass())) {
    parent->Invalidate();
  }
}

void PaintParentBackground(classlib::TControl* control, classlib::TCanvas* canvas,
                           bool invalidateParent) {
  PaintParentBackground(control, canvas->Handle(), invalidateParent);
}

}  // namespace kelm::kit

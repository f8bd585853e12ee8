#include "kit/kt_tabs_gdi.h"

namespace kelm::kit {

std::unique_ptr<TKtRegion> MakeGdiRegion(const std::vector<TKtPoint>& points) {
  std::vector<POINT> p;
  p.reserve(points.size());
  for (const TKtPoint& q : points) p.push_back(POINT{q.x, q.y});
  HRGN region = CreatePolygonRgn(p.data(), static_cast<int>(p.size()), ALTERNATE);
  if (region == nullptr) return nullptr;
  return std::make_unique<TKtGdiRegion>(region);
}

TKtSize TKtFontMeasurer::TextExtent(const std::u16string& text, bool bold) {
  HDC dc = CreateCompatibleDC(nullptr);
  HFONT font = font_->Handle();
  HFONT boldFont = nullptr;
  if (bold) {
    LOGFONTW lf{};
    GetObjectW(font, sizeof(lf), &lf);
    lf.lfWeight = FW_BOLD;
    boldFont = CreateFontIndirectW(&lf);
    font = boldFont;
  }
  HGDIOBJ old = SelectObject(dc, font);
  SIZE size{};
  // A failed measurement counts as nothing.
  if (!GetTextExtentPoint32W(dc, classlib::WStr(text), static_cast<int>(text.size()), &size)) {
    size = SIZE{};
  }
  SelectObject(dc, old);
  if (boldFont != nullptr) DeleteObject(boldFont);
  DeleteDC(dc);
  return TKtSize{size.cx, size.cy};
}

int32_t TKtFontMeasurer::FontHeight() {
  HDC dc = CreateCompatibleDC(nullptr);
  HGDIOBJ old = SelectObject(dc, font_->Handle());
  TEXTMETRICW tm{};
  const int32_t height = GetTextMetricsW(dc, &tm) ? tm.tmHeight : 0;
  SelectObject(dc, old);
  DeleteDC(dc);
  return height;
}

}  // namespace kelm::kit

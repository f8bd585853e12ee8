// The tab model's bindings to GDI: system regions for tab shapes and text
// measured in a real font.
#pragma once

#include <windows.h>

#include <memory>
#include <vector>

#include "classlib/graphics.h"
#include "kit/kt_tab_regions.h"
#include "kit/kt_tabs.h"

namespace kelm::kit {

// A polygon region (alternate filling), deleted with the object.
class TKtGdiRegion : public TKtRegion {
 public:
  explicit TKtGdiRegion(HRGN region) : region_(region) {}
  ~TKtGdiRegion() override { DeleteObject(region_); }
  TKtGdiRegion(const TKtGdiRegion&) = delete;
  TKtGdiRegion& operator=(const TKtGdiRegion&) = delete;
  bool Contains(TKtPoint p) const override { return PtInRegion(region_, p.x, p.y) != 0; }
  HRGN Handle() const { return region_; }

 private:
  HRGN region_;
};

// Makes system regions; none when the system refuses (the model then
// raises "Error creating region").
std::unique_ptr<TKtRegion> MakeGdiRegion(const std::vector<TKtPoint>& points);

// Measures in the font given (and its bold face) on a screen-compatible DC.
class TKtFontMeasurer : public TKtTextMeasurer {
 public:
  explicit TKtFontMeasurer(classlib::TFont* font) : font_(font) {}
  TKtSize TextExtent(const std::u16string& text, bool bold) override;
  int32_t FontHeight() override;

 private:
  classlib::TFont* font_;
};

}  // namespace kelm::kit

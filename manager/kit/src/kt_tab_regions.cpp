#include "kit/kt_tab_regions.h"

#include <algorithm>

namespace kelm::kit {

std::vector<TKtPoint> TabPolygon(TKtTabStyle style, bool soft, const TKtRect& r, int c) {
  const int L = r.left, T = r.top, R = r.right, B = r.bottom;
  const int h = B - T;
  switch (style) {
    case TKtTabStyle::tsSingleSlant:
      if (soft) return {{L, B}, {L, T + 2}, {L + 2, T}, {R - h - 4, T}, {R - h + 2, T + 2}, {R, B}};
      return {{L, B}, {L, T + 2}, {L + 2, T}, {R - h, T}, {R, B}};
    case TKtTabStyle::tsDoubleSlant:
      if (soft) {
        return {{L, B},         {L + h - 2, T + 2}, {L + h + 4, T},
                {R - h - 4, T}, {R - h + 2, T + 2}, {R, B}};
      }
      return {{L, B}, {L + h, T}, {R - h, T}, {R, B}};
    case TKtTabStyle::tsCutCorner:
      return {{L, B}, {L, T}, {R - c, T}, {R, T + c}, {R, B}};
    case TKtTabStyle::tsRoundCorners:
      return {{L, B}, {L, T + 2}, {L + 2, T}, {R - 2, T}, {R, T + 2}, {R, B}};
    case TKtTabStyle::tsBackSlant:
      if (soft) return {{L, B}, {L + h - 2, T + 2}, {L + h + 4, T}, {R - 2, T}, {R, T + 2}, {R, B}};
      return {{L, B}, {L + h, T}, {R - 2, T}, {R, T + 2}, {R, B}};
    case TKtTabStyle::tsSquareCorners:
      return {{L, B}, {L, T}, {R, T}, {R, B}};
  }
  return {};
}

size_t TabPolygonPointCount(TKtTabStyle style, bool soft) {
  return TabPolygon(style, soft, TKtRect{0, 0, 100, 20}, 6).size();
}

bool TKtPolygonRegion::Contains(TKtPoint p) const {
  bool inside = false;
  const size_t n = points_.size();
  for (size_t i = 0, j = n - 1; i < n; j = i++) {
    const TKtPoint a = points_[i];
    const TKtPoint b = points_[j];
    if ((a.y > p.y) != (b.y > p.y)) {
      // x of the edge at p.y, compared without division.
      const int64_t lhs = static_cast<int64_t>(p.x - a.x) * (b.y - a.y);
      const int64_t rhs = static_cast<int64_t>(b.x - a.x) * (p.y - a.y);
      if ((b.y > a.y) ? lhs < rhs : lhs > rhs) inside = !inside;
    }
  }
  return inside;
}

void TKtTabRegionCache::SetCapacity(int capacity) {
  if (capacity < -1 || capacity == 0) {
    throw EKtTabControlError(u"Capacity must be -1 (to cache all regions) or > 0");
  }
  capacity_ = capacity;
  Trim();
}

TKtRegion* TKtTabRegionCache::Find(const TKtRect& rect) {
  auto it = std::find_if(items_.begin(), items_.end(),
                         [&](const TKtTabRegionCacheItem& item) { return item.rect == rect; });
  if (it == items_.end()) return nullptr;
  std::rotate(items_.begin(), it, it + 1);
  return items_.front().region.get();
}

TKtRegion* TKtTabRegionCache::Add(const TKtRect& rect, std::unique_ptr<TKtRegion> region) {
  auto it = std::find_if(items_.begin(), items_.end(),
                         [&](const TKtTabRegionCacheItem& item) { return item.rect == rect; });
  if (it != items_.end()) {
    std::rotate(items_.begin(), it, it + 1);
    items_.front().region = std::move(region);
  } else {
    TKtTabRegionCacheItem item;
    item.rect = rect;
    item.region = std::move(region);
    items_.insert(items_.begin(), std::move(item));
  }
  TKtRegion* result = items_.front().region.get();
  Trim();
  return result;
}

void TKtTabRegionCache::Trim() {
  if (capacity_ == -1) return;
  while (items_.size() > static_cast<size_t>(capacity_)) items_.pop_back();
}

}  // namespace kelm::kit

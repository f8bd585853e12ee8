// Tab shapes as polygons and the most-recently-used cache of their regions.
// A region is whatever the painter clips with and hit testing asks: the
// Win32 part makes system regions, portable code an even-odd polygon.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "classlib/sysutils.h"
#include "kit/kt_geometry.h"

namespace kelm::kit {

class EKtTabControlError : public classlib::Exception {
 public:
  using classlib::Exception::Exception;
};

enum class TKtTabStyle {
  tsSingleSlant,
  tsDoubleSlant,
  tsCutCorner,
  tsRoundCorners,
  tsBackSlant,
  tsSquareCorners
};

// The points of a tab's outline, strip coordinates: rect.top is the outer
// edge, rect.bottom the edge on the card side. The last point joins the
// first along the card side.
std::vector<TKtPoint> TabPolygon(TKtTabStyle style, bool softCorners, const TKtRect& rect,
                                 int cutCornerSize);
// How many points a style's outline has.
size_t TabPolygonPointCount(TKtTabStyle style, bool softCorners);

class TKtRegion {
 public:
  virtual ~TKtRegion() = default;
  virtual bool Contains(TKtPoint p) const = 0;
};

// Even-odd (alternate) filling: a point is inside when a ray from it
// crosses the outline an odd number of times.
class TKtPolygonRegion : public TKtRegion {
 public:
  explicit TKtPolygonRegion(std::vector<TKtPoint> points) : points_(std::move(points)) {}
  bool Contains(TKtPoint p) const override;

 private:
  std::vector<TKtPoint> points_;
};

using TKtRegionFactory = std::function<std::unique_ptr<TKtRegion>(const std::vector<TKtPoint>&)>;

class TKtTabRegionCacheItem {
 public:
  TKtRect rect{-1, -1, -1, -1};
  std::unique_ptr<TKtRegion> region;
};

// Most recently used first. Capacity -1 keeps every region; otherwise the
// least recently used are dropped beyond the capacity.
class TKtTabRegionCache {
 public:
  int Capacity() const { return capacity_; }
  // Values below -1 and 0 raise EKtTabControlError.
  void SetCapacity(int capacity);
  // The region of this exact rectangle, moved to the front; none if absent.
  TKtRegion* Find(const TKtRect& rect);
  // Takes the region; an item with an equal rectangle moves to the front
  // and gets it.
  TKtRegion* Add(const TKtRect& rect, std::unique_ptr<TKtRegion> region);
  void Clear() { items_.clear(); }
  size_t Count() const { return items_.size(); }

 private:
  void Trim();

  std::vector<TKtTabRegionCacheItem> items_;
  int capacity_ = 1;
};

}  // namespace kelm::kit

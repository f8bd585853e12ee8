// Column order, widths and the header height without a window.
#include "lazytree/header_layout.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "classlib/sysutils.h"

namespace kelm::lazytree {

namespace {

int32_t Clamp64(int64_t v) {
  return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

int64_t Percent(int base, uint8_t percent) { return int64_t(base) * percent / 100; }

}  // namespace

bool TFixedAreaLimits::Set(TIndex index, uint8_t value) {
  bool changed = Percent[index] != value;
  Percent[index] = value;
  auto couple = [&](TIndex other, bool lower) {
    uint8_t& o = Percent[other];
    if (lower ? o > value : (o != 0 && value > o)) {
      o = value;
      changed = true;
    }
  };
  switch (index) {
    case MaxHeight:
    case MaxWidth:
      // A maximum of 0 is no constraint and leaves the minimum alone.
      if (value != 0) couple(index == MaxHeight ? MinHeight : MinWidth, true);
      break;
    case MinHeight:
    case MinWidth:
      couple(index == MinHeight ? MaxHeight : MaxWidth, false);
      break;
  }
  return changed;
}

// ---- header height

int32_t THeaderLayout::ConstrainHeight(int32_t requested) const {
  int64_t t = int64_t(View.ClientHeight) + height_;
  const uint8_t maxP = Limits[TFixedAreaLimits::MaxHeight];
  const uint8_t minP = Limits[TFixedAreaLimits::MinHeight];
  int64_t low = maxP > 0 ? std::min<int64_t>(t * maxP / 100, minHeight_) : minHeight_;
  int64_t high = minP > 0 ? std::max<int64_t>(t * minP / 100, maxHeight_) : maxHeight_;
  int64_t h = std::min(std::max<int64_t>(requested, low), high);
  if (minP > 0) h = std::max(t * minP / 100, h);
  if (maxP > 0) h = std::min(t * maxP / 100, h);
  return Clamp64(h);
}

bool THeaderLayout::SetHeight(int32_t value) {
  if (!View.HasWindow) {
    NeedsScaling = true;
    bool changed = value != height_;
    height_ = value;
    return changed;
  }
  int32_t h = ConstrainHeight(value);
  if (h == height_) return false;
  height_ = h;
  return true;
}

void THeaderLayout::SetMinHeight(int32_t value) {
  value = std::min(std::max(value, 0), maxHeight_);
  minHeight_ = value;
  SetHeight(height_);
}

void THeaderLayout::SetMaxHeight(int32_t value) {
  maxHeight_ = std::max(value, minHeight_);
  SetHeight(height_);
}

bool THeaderLayout::SetMainColumn(int32_t value) {
  if (View.Loading) {
    bool changed = value != mainColumn_;
    mainColumn_ = value;
    return changed;
  }
  value = Count() == 0 ? -1 : std::clamp(value, 0, Count() - 1);
  if (value == mainColumn_) return false;
  mainColumn_ = value;
  return true;
}

bool THeaderLayout::SetSortColumn(int32_t value) {
  if (!View.Loading) value = std::clamp(value, -1, Count() - 1);
  if (value == sortColumn_) return false;
  sortColumn_ = value;
  return true;
}

// ---- the collection

int THeaderLayout::AddColumn() {
  TColumnGeometry c;
  c.Width = DefaultWidth;
  c.LastWidth = DefaultWidth;
  c.Position = static_cast<uint32_t>(Count());
  columns_.push_back(c);
  Changed();
  return Count() - 1;
}

void THeaderLayout::RemoveColumn(int index) {
  if (!ColumnIndexValid(index)) return;
  auto& order = positionToIndex_;
  order.erase(std::remove(order.begin(), order.end(), index), order.end());
  for (int32_t& entry : order)
    if (entry > index) --entry;
  auto fix = [index](int32_t& ref) {
    if (ref == index) {
      ref = -1;
    } else if (ref > index) {
      --ref;
    }
  };
  for (int32_t* ref :
       {&HoverIndex, &DownIndex, &TrackIndex, &ClickIndex, &AutoSizeIndex, &sortColumn_})
    fix(*ref);
  // The main column keeps naming the same column; when it is the one
  // removed, the first remaining column takes over.
  if (mainColumn_ > index) {
    --mainColumn_;
  } else if (mainColumn_ == index) {
    mainColumn_ = Count() > 1 ? 0 : -1;
  }
  columns_.erase(columns_.begin() + index);
  Changed();
}

void THeaderLayout::MoveColumnIndex(int from, int to) {
  if (!ColumnIndexValid(from) || !ColumnIndexValid(to) || from == to) return;
  auto follow = [from, to](int32_t& ref) {
    if (ref == from) {
      ref = to;
    } else if (from < to && ref > from && ref <= to) {
      --ref;
    } else if (from > to && ref >= to && ref < from) {
      ++ref;
    }
  };
  for (int32_t& entry : positionToIndex_) follow(entry);
  for (int32_t* ref : {&HoverIndex, &DownIndex, &TrackIndex, &ClickIndex, &AutoSizeIndex,
                       &mainColumn_, &sortColumn_})
    follow(*ref);
  const TColumnGeometry moved = columns_[static_cast<size_t>(from)];
  columns_.erase(columns_.begin() + from);
  columns_.insert(columns_.begin() + to, moved);
  Changed();
}

void THeaderLayout::Clear() {
  HoverIndex = DownIndex = TrackIndex = ClickIndex = -1;
  if (!LoadingColumns) AutoSizeIndex = mainColumn_ = sortColumn_ = -1;
  columns_.clear();
  positionToIndex_.clear();
  Changed();
}

void THeaderLayout::LoadHeaderRecord(const THeaderRecord& record) {
  LoadingColumns = true;
  const TLTHeaderOptions oldOptions = Options;
  Options = {};
  Clear();
  BeginUpdate();
  for (const TColumnRecord& c : record.Columns) {
    const int i = AddColumn();
    SetMaxWidth(i, c.MaxWidth);
    SetMinWidth(i, c.MinWidth);
    SetColumnOptions(i, TLTColumnOptions::FromInt(c.Options));
    SetWidth(i, c.Width);
  }
  EndUpdate();
  if (!record.Columns.empty()) SetPositionOrder(record.Positions);
  DefaultWidth = record.DefaultWidth;
  AutoSizeIndex = record.AutoSizeIndex;
  SetHeight(record.Height);
  Options = oldOptions;
  Options = TLTHeaderOptions::FromInt(record.Options);
  if (record.HasSortFields()) {
    SetMainColumn(record.MainColumn);
    SetSortColumn(record.SortColumn);
  }
  if (record.HasHeightLimits()) {
    maxHeight_ = record.MaxHeight;
    minHeight_ = record.MinHeight;
    Limits.Percent[TFixedAreaLimits::MaxHeight] = record.MaxHeightPercent;
    Limits.Percent[TFixedAreaLimits::MaxWidth] = record.MaxWidthPercent;
    Limits.Percent[TFixedAreaLimits::MinHeight] = record.MinHeightPercent;
    Limits.Percent[TFixedAreaLimits::MinWidth] = record.MinWidthPercent;
  }
  LoadingColumns = false;
  // An old stream brings no main or sort column; those kept from before
  // must still name columns of the new set.
  if (!View.Loading) {
    if (sortColumn_ >= Count()) sortColumn_ = -1;
    SetMainColumn(mainColumn_);
  }
  // Every column may have changed.
  ColumnResized(-1);
}

void THeaderLayout::EndUpdate() {
  if (updateCount_ > 0 && --updateCount_ == 0) Changed();
}

void THeaderLayout::Changed() {
  EnsurePositionArrayLength();
  if (View.Loading) {
    PositionsNeedFixing = true;
  } else {
    RecomputeColumnEdges(false);
  }
  if (Count() > 0 && mainColumn_ < 0) mainColumn_ = 0;
  if (!View.Loading && !LoadingColumns && Options.Contains(hoAutoResize)) FitAutoSizeColumn(false);
}

// ---- column setters

int32_t THeaderLayout::ConstrainWidth(int column, int32_t value) const {
  if (Scaling) return value;
  const TColumnGeometry& c = Column(column);
  if (!c.VisibleFixed()) return std::clamp(value, c.MinWidth, std::max(c.MinWidth, c.MaxWidth));
  const int64_t w = c.Width;
  int64_t f = 0, smin = 0, smax = 0;
  for (const TColumnGeometry& o : columns_) {
    if (!o.VisibleFixed()) continue;
    f += o.Width;
    smin += o.MinWidth;
    smax += o.MaxWidth;
  }
  const int cw = View.ClientWidth;
  const uint8_t maxP = Limits[TFixedAreaLimits::MaxWidth];
  const uint8_t minP = Limits[TFixedAreaLimits::MinWidth];
  int64_t lower = maxP > 0 ? std::min(Percent(cw, maxP), smin) : smin;
  int64_t upper = minP > 0 ? std::max(Percent(cw, minP), smax) : smax;
  int64_t v = std::min(std::max<int64_t>(value, std::max<int64_t>(lower - (f - w), c.MinWidth)),
                       std::min<int64_t>(upper - (f - w), c.MaxWidth));
  if (minP > 0) v = std::max(Percent(cw, minP) - f + w, v);
  if (maxP > 0) v = std::min(Percent(cw, maxP) - f + w, v);
  return Clamp64(v);
}

void THeaderLayout::SetWidth(int column, int32_t value) {
  if (!ColumnIndexValid(column)) return;
  int32_t v = ConstrainWidth(column, value);
  TColumnGeometry& c = Mutable(column);
  if (v == c.Width) return;
  c.LastWidth = c.Width;
  if (!ResizingColumns) c.BonusPixel = false;
  // The auto-size column's width always comes from the space left over.
  // While loading, which column that is is not known yet (its index may
  // name a column still to come): every width is kept, and the fit
  // follows when loading ends.
  if (View.Loading || !(Options.Contains(hoAutoResize) && column == AutoSizeColumn())) {
    c.Width = v;
    RecomputeColumnEdges(false);
  }
  if (!View.Loading && updateCount_ == 0) {
    if (Options.Contains(hoAutoResize)) FitAutoSizeColumn(false);
    ColumnResized(column);
  }
}

void THeaderLayout::SetMinWidth(int column, int32_t value) {
  if (!ColumnIndexValid(column)) return;
  TColumnGeometry& c = Mutable(column);
  c.MinWidth = std::min(std::max(value, 0), c.MaxWidth);
  SetWidth(column, c.Width);
}

void THeaderLayout::SetMaxWidth(int column, int32_t value) {
  if (!ColumnIndexValid(column)) return;
  TColumnGeometry& c = Mutable(column);
  c.MaxWidth = std::max(value, c.MinWidth);
  SetWidth(column, c.Width);
}

void THeaderLayout::SetColumnOptions(int column, TLTColumnOptions value) {
  if (!ColumnIndexValid(column)) return;
  TColumnGeometry& c = Mutable(column);
  const TLTColumnOptions old = c.Options;
  if (old == value) return;
  c.Options = value;
  const TLTColumnOptions added = value - old;
  const TLTColumnOptions toggled = (value - old) + (old - value);
  if (added.Contains(coAutoSpring)) c.SpringRest = 0.0f;
  if (toggled.Contains(coFixed) && value.Contains(coVisible)) FixedColumnsChanged();
  Changed();
}

void THeaderLayout::SetPosition(int column, uint32_t value) {
  if (!ColumnIndexValid(column)) return;
  if (View.Loading) {
    Mutable(column).Position = value;
    return;
  }
  if (value >= static_cast<uint32_t>(Count())) value = static_cast<uint32_t>(Count() - 1);
  EnsurePositionArrayLength();
  auto at = std::find(positionToIndex_.begin(), positionToIndex_.end(), column);
  const auto old = static_cast<uint32_t>(at - positionToIndex_.begin());
  if (value != old) {
    MoveColumnInOrder(column, static_cast<int>(value));
    Changed();
  }
  // A column joins or leaves the fixed area with its neighbour.
  const bool fixed = Column(column).Options.Contains(coFixed);
  int neighbour = fixed && value > 0 ? ColumnAtPosition(static_cast<int>(value) - 1)
                                     : ColumnAtPosition(static_cast<int>(value) + 1);
  if (ColumnIndexValid(neighbour)) {
    TLTColumnOptions o = Column(column).Options;
    if (Column(neighbour).Options.Contains(coFixed)) {
      o.Include(coFixed);
    } else {
      o.Exclude(coFixed);
    }
    SetColumnOptions(column, o);
  }
}

void THeaderLayout::AnimateColumnWidth(int column, int32_t newWidth) {
  if (!ColumnIndexValid(column)) return;
  const TColumnGeometry& c = Column(column);
  newWidth = std::clamp(newWidth, c.MinWidth, std::max(c.MinWidth, c.MaxWidth));
  if (newWidth != c.Width) SetWidth(column, newWidth);
}

void THeaderLayout::RevertColumnWidths() {
  for (int p = Count() - 1; p >= 0; --p) {
    int column = ColumnAtPosition(p);
    if (!ColumnIndexValid(column)) continue;
    const TLTColumnOptions& o = Column(column).Options;
    if (o.Contains(coVisible) && o.Contains(coResizable)) RevertWidth(column);
  }
}

// ---- order

void THeaderLayout::EnsurePositionArrayLength() {
  auto& order = positionToIndex_;
  const auto n = static_cast<size_t>(Count());
  if (order.size() == n) return;
  if (order.size() < n) {
    for (size_t p = order.size(); p < n; ++p) order.push_back(static_cast<int32_t>(p));
    return;
  }
  order.resize(n);
  bool again = true;
  while (again) {
    again = false;
    for (int32_t& e : order) {
      if (e >= Count()) {
        --e;
        again = true;
      }
    }
  }
}

void THeaderLayout::MoveColumnInOrder(int column, int newPosition) {
  auto& order = positionToIndex_;
  auto at = std::find(order.begin(), order.end(), column);
  if (at == order.end() || newPosition < 0 || newPosition >= static_cast<int>(order.size())) return;
  const auto o = static_cast<int>(at - order.begin());
  if (o < newPosition) {
    std::rotate(order.begin() + o, order.begin() + o + 1, order.begin() + newPosition + 1);
  } else if (o > newPosition) {
    std::rotate(order.begin() + newPosition, order.begin() + o, order.begin() + o + 1);
  }
}

void THeaderLayout::RecomputeColumnEdges(bool force) {
  if (PositionsNeedFixing || (updateCount_ > 0 && !force)) return;
  int64_t sum = 0;
  for (size_t p = 0; p < positionToIndex_.size(); ++p) {
    TColumnGeometry& c = Mutable(positionToIndex_[p]);
    c.Position = static_cast<uint32_t>(p);
    c.Left = Clamp64(sum);
    if (c.Visible()) sum += c.Width;
  }
}

void THeaderLayout::RebuildPositionOrder() {
  // Stored positions may repeat or run past the end: sorting by them (ties
  // by index) still gives every column exactly one place.
  std::vector<int32_t> order(columns_.size());
  std::iota(order.begin(), order.end(), 0);
  std::stable_sort(order.begin(), order.end(), [this](int32_t a, int32_t b) {
    return Column(a).Position < Column(b).Position;
  });
  positionToIndex_ = order;
  PositionsNeedFixing = false;
  RecomputeColumnEdges(true);
}

bool THeaderLayout::SetPositionOrder(const std::vector<int32_t>& order) {
  if (order.size() != columns_.size()) return false;
  std::vector<bool> seen(order.size(), false);
  for (int32_t i : order) {
    if (i < 0 || i >= Count() || seen[static_cast<size_t>(i)]) return false;
    seen[static_cast<size_t>(i)] = true;
  }
  positionToIndex_ = order;
  PositionsNeedFixing = false;
  RecomputeColumnEdges(true);
  return true;
}

// ---- geometry

int32_t THeaderLayout::FixedColumnsWidth() const {
  int64_t f = 0;
  for (const TColumnGeometry& c : columns_)
    if (c.VisibleFixed()) f += c.Width;
  return Clamp64(f);
}

int32_t THeaderLayout::ColumnsRightEdge() const {
  int column = LastShownColumn();
  if (!ColumnIndexValid(column)) return 0;
  return Clamp64(int64_t(Column(column).Left) + Column(column).Width);
}

int THeaderLayout::ColumnAtPosition(int position) const {
  if (position < 0 || position >= static_cast<int>(positionToIndex_.size())) return -1;
  return positionToIndex_[static_cast<size_t>(position)];
}

int THeaderLayout::ColumnAtPoint(int x, int y, bool relative) const {
  if (x < 0 || y < 0 || y > View.TreeHeight) return kInvalidColumn;
  int64_t left = 0;
  if (relative && x > FixedColumnsWidth()) left = -int64_t(View.EffectiveOffsetX);
  left += MirroredShift();
  for (int32_t column : positionToIndex_) {
    const TColumnGeometry& c = Column(column);
    if (!c.Visible()) continue;
    left += c.Width;
    if (left > x) return column;
  }
  return kInvalidColumn;
}

int THeaderLayout::ColumnAtPointWithEdges(int x, int y, bool relative, int& left,
                                          int& right) const {
  const int column = ColumnAtPoint(x, y, relative);
  if (column == kInvalidColumn) return column;
  // The same start as the walk above; the column's own edges from there.
  int64_t start = relative && x > FixedColumnsWidth() ? -int64_t(View.EffectiveOffsetX) : 0;
  start += MirroredShift() + Column(column).Left;
  left = Clamp64(start);
  right = Clamp64(start + Column(column).Width);
  return column;
}

void THeaderLayout::ColumnEdges(int column, int& left, int& right) const {
  if (column < 0 || !ColumnIndexValid(column)) {
    left = 0;
    right = View.ClientWidth;
    return;
  }
  const TColumnGeometry& c = Column(column);
  int64_t l = c.Left;
  if (!c.VisibleFixed()) l -= View.EffectiveOffsetX;
  l += MirroredShift();
  left = Clamp64(l);
  right = Clamp64(l + c.Width);
}

int THeaderLayout::ColumnAfter(int column) const {
  if (!ColumnIndexValid(column)) return kInvalidColumn;
  const int next = ColumnAtPosition(static_cast<int>(Column(column).Position) + 1);
  return next < 0 ? kInvalidColumn : next;
}

int THeaderLayout::ColumnBefore(int column) const {
  if (!ColumnIndexValid(column)) return kInvalidColumn;
  const int previous = ColumnAtPosition(static_cast<int>(Column(column).Position) - 1);
  return previous < 0 ? kInvalidColumn : previous;
}

std::vector<int> THeaderLayout::ShownColumnsInOrder() const {
  std::vector<int> shown;
  for (int32_t column : positionToIndex_)
    if (Column(column).Visible()) shown.push_back(column);
  return shown;
}

int THeaderLayout::MeanScrollingColumnWidth(int indent) const {
  int64_t sum = 0;
  int count = 0;
  for (const TColumnGeometry& c : columns_) {
    if (!c.Visible() || c.Options.Contains(coFixed)) continue;
    sum += c.Width;
    ++count;
  }
  return count == 0 ? indent : Clamp64(classlib::Round(double(sum) / count));
}

int THeaderLayout::FirstShownColumn(bool considerAllowFocus) const {
  for (int32_t column : positionToIndex_) {
    const TColumnGeometry& c = Column(column);
    if (c.Visible() && (!considerAllowFocus || c.Options.Contains(coAllowFocus))) return column;
  }
  return kInvalidColumn;
}

int THeaderLayout::LastShownColumn(bool considerAllowFocus) const {
  for (auto it = positionToIndex_.rbegin(); it != positionToIndex_.rend(); ++it) {
    const TColumnGeometry& c = Column(*it);
    if (c.Visible() && (!considerAllowFocus || c.Options.Contains(coAllowFocus))) return *it;
  }
  return kInvalidColumn;
}

int THeaderLayout::ShownColumnAfter(int column, bool considerAllowFocus) const {
  if (!ColumnIndexValid(column)) return kInvalidColumn;
  for (size_t p = Column(column).Position + 1; p < positionToIndex_.size(); ++p) {
    const TColumnGeometry& c = Column(positionToIndex_[p]);
    if (c.Visible() && (!considerAllowFocus || c.Options.Contains(coAllowFocus)))
      return positionToIndex_[p];
  }
  return kInvalidColumn;
}

int THeaderLayout::ShownColumnBefore(int column, bool considerAllowFocus) const {
  if (!ColumnIndexValid(column)) return kInvalidColumn;
  for (int p = static_cast<int>(Column(column).Position) - 1; p >= 0; --p) {
    const TColumnGeometry& c = Column(positionToIndex_[static_cast<size_t>(p)]);
    if (c.Visible() && (!considerAllowFocus || c.Options.Contains(coAllowFocus)))
      return positionToIndex_[static_cast<size_t>(p)];
  }
  return kInvalidColumn;
}

bool THeaderLayout::LocateBorderColumn(int x, int y) {
  TrackIndex = -1;
  probeX_ = x;
  probeY_ = y;
  if (Count() == 0) return false;
  const int64_t f = FixedColumnsWidth();
  const int64_t e = View.EffectiveOffsetX;
  const int leftTol = View.Mirrored ? 5 : 3;
  const int rightTol = View.Mirrored ? 3 : 5;
  auto hit = [&](int column, int64_t border) {
    const TColumnGeometry& c = Column(column);
    const bool fixed = c.Options.Contains(coFixed);
    if (fixed) border += e;
    if (!(x > border - leftTol && x < border + rightTol)) return false;
    if (!fixed && x <= f) return false;
    bool allowed = c.Visible() && c.Options.Contains(coResizable);
    return CanSplitterResizeColumn(column, allowed);
  };
  if (!View.Mirrored) {
    int64_t border = int64_t(View.RangeX) - e;
    for (auto it = positionToIndex_.rbegin(); it != positionToIndex_.rend(); ++it) {
      const TColumnGeometry& c = Column(*it);
      if (!c.Visible()) continue;
      if (hit(*it, border)) {
        TrackIndex = *it;
        TrackPointX = Clamp64(border - c.Width + (c.Options.Contains(coFixed) ? e : 0));
        TrackPointY = y;
        return true;
      }
      border -= c.Width;
    }
    return false;
  }
  int64_t border = -e;
  if (View.RangeX < View.ClientWidth) border += View.ClientWidth - View.RangeX;
  for (int32_t column : positionToIndex_) {
    const TColumnGeometry& c = Column(column);
    if (!c.Visible()) continue;
    if (hit(column, border)) {
      TrackIndex = column;
      TrackPointX = Clamp64(border + c.Width + (c.Options.Contains(coFixed) ? e : 0));
      TrackPointY = y;
      return true;
    }
    border += c.Width;
  }
  return false;
}

// ---- sizing

int THeaderLayout::AutoSizeColumn() const {
  return ColumnIndexValid(AutoSizeIndex) ? AutoSizeIndex : Count() - 1;
}

void THeaderLayout::FitAutoSizeColumn(bool force) {
  if (Count() == 0) return;
  const int column = AutoSizeColumn();
  int64_t others = 0;
  for (int i = 0; i < Count(); ++i)
    if (i != column && Column(i).Visible()) others += Column(i).Width;
  TColumnGeometry& c = Mutable(column);
  int32_t w = Clamp64(
      std::clamp<int64_t>(View.ClientWidth - others, c.MinWidth, std::max(c.MinWidth, c.MaxWidth)));
  if (w == c.Width && !force) return;
  c.Width = w;
  RecomputeColumnEdges(false);
  ColumnResized(column);
}

int32_t THeaderLayout::DistributeWidthChange(int32_t changeBy, int rangeStart, int rangeEnd,
                                             TLTColumnOptions mask) {
  if (changeBy == 0 || Count() == 0) return 0;
  rangeStart = std::max(rangeStart, 0);
  rangeEnd = std::min(rangeEnd, Count() - 1);
  if (rangeEnd < rangeStart) return 0;
  const bool growing = changeBy > 0;
  const int sign = growing ? 1 : -1;
  const int first = growing ? rangeStart : rangeEnd;
  const int64_t wanted = std::abs(int64_t(changeBy));
  int64_t toGo = wanted;

  const auto n = static_cast<size_t>(Count());
  std::vector<int64_t> width(n), limit(n);
  std::vector<bool> inMask(n, false);
  for (int i = rangeStart; i <= rangeEnd; ++i) {
    const TColumnGeometry& c = Column(i);
    width[static_cast<size_t>(i)] = c.Width;
    limit[static_cast<size_t>(i)] = growing ? c.MaxWidth : c.MinWidth;
    inMask[static_cast<size_t>(i)] = (c.Options * mask) == mask;
  }
  auto canChange = [&](size_t i) {
    return inMask[i] && (growing ? width[i] < limit[i] : width[i] > limit[i]);
  };
  auto roomOf = [&](size_t i) { return growing ? limit[i] - width[i] : width[i] - limit[i]; };

  while (toGo > 0) {
    int64_t count = 0, room = 0;
    auto tally = [&] {
      count = 0;
      room = 0;
      for (size_t i = 0; i < n; ++i)
        if (canChange(i)) ++count, room += roomOf(i);
    };
    tally();
    // While the header is scaled down the minimum widths give way, a tenth
    // at a time, so the fixed area can still meet its limit.
    while (room < wanted && Scaling && !growing) {
      int64_t widest = -1;
      for (size_t i = 0; i < n; ++i)
        if (inMask[i] && (widest < 0 || width[i] > width[static_cast<size_t>(widest)]))
          widest = static_cast<int64_t>(i);
      if (widest < 0 || limit[static_cast<size_t>(widest)] <= 10) break;
      limit[static_cast<size_t>(widest)] -= limit[static_cast<size_t>(widest)] / 10;
      tally();
    }
    if (count == 0) break;
    toGo = std::min(toGo, room);
    const int64_t share = toGo / count;
    const int64_t rest = toGo % count;
    for (size_t i = 0; i < n; ++i) {
      if (!canChange(i)) continue;
      int64_t step = std::min(share, roomOf(i));
      width[i] += step * sign;
      toGo -= step;
    }
    // Leftover pixels go one at a time to columns that still have room and
    // did not get one last time; a walk that gives nothing twice ends.
    int64_t bonus = std::min(rest, toGo);
    int empty = 0;
    int i = first;
    bool gave = false;
    while (bonus > 0 && empty < 2) {
      if (i < rangeStart || i > rangeEnd) {
        for (size_t k = 0; k < n; ++k)
          if (inMask[k]) Mutable(static_cast<int>(k)).BonusPixel ^= true;
        empty = gave ? 0 : empty + 1;
        gave = false;
        i = first;
        continue;
      }
      const auto k = static_cast<size_t>(i);
      TColumnGeometry& c = Mutable(i);
      if (canChange(k) && c.BonusPixel != growing) {
        c.BonusPixel = growing;
        width[k] += sign;
        --toGo;
        --bonus;
        gave = true;
      }
      i += sign;
    }
  }

  int32_t applied = 0;
  ResizingColumns = true;
  for (int i = rangeStart; i <= rangeEnd; ++i) {
    if (!inMask[static_cast<size_t>(i)]) continue;
    const int32_t old = Column(i).Width;
    SetWidth(i, Clamp64(width[static_cast<size_t>(i)]));
    applied += Column(i).Width - old;
  }
  ResizingColumns = false;
  return applied;
}

void THeaderLayout::ApplySpringWidth(int32_t headerWidth) {
  if (Options.Contains(hoAutoSpring) && LastHeaderWidth != 0) {
    double d = double(headerWidth) - double(LastHeaderWidth);
    if (d != 0.0) {
      int springs = 0;
      for (const TColumnGeometry& c : columns_)
        if (c.Visible() && c.Options.Contains(coAutoSpring)) ++springs;
      if (springs > 0) {
        const double share = std::fabs(d) / springs;
        const int sign = d > 0 ? 1 : -1;
        double left = std::fabs(d);
        for (int i = 0; i < Count() && left >= 0; ++i) {
          TColumnGeometry& c = Mutable(i);
          if (!c.Visible() || !c.Options.Contains(coAutoSpring)) continue;
          const double rest = double(c.SpringRest) + share;
          const double whole = std::trunc(rest);
          if (rest >= 1.0) SetWidth(i, Clamp64(int64_t(c.Width) + sign * int64_t(whole)));
          Mutable(i).SpringRest = static_cast<float>(rest - whole);
          left -= share;
        }
      }
    }
  }
  LastHeaderWidth = headerWidth;
}

void THeaderLayout::ApplyFixedAreaLimits() {
  if (View.Loading || LoadingColumns || !View.HasWindow) return;
  Scaling = true;
  SetHeight(height_);
  if (Limits[TFixedAreaLimits::MinHeight] > 0 || Limits[TFixedAreaLimits::MaxHeight] > 0) {
    for (TColumnGeometry& c : columns_)
      if (c.VisibleFixed() && c.Width < c.MinWidth) c.Width = c.MinWidth;
    const int64_t f = FixedColumnsWidth();
    const int64_t maxLimit = Percent(View.ClientWidth, Limits[TFixedAreaLimits::MaxWidth]);
    const int64_t minLimit = Percent(View.ClientWidth, Limits[TFixedAreaLimits::MinWidth]);
    const TLTColumnOptions mask{coVisible, coFixed};
    if (Limits[TFixedAreaLimits::MaxWidth] > 0 && f > maxLimit) {
      DistributeWidthChange(Clamp64(maxLimit - f), 0, Count() - 1, mask);
    } else if (Limits[TFixedAreaLimits::MinWidth] > 0 && f < minLimit) {
      DistributeWidthChange(Clamp64(minLimit - f), 0, Count() - 1, mask);
    }
    RecomputeColumnEdges(true);
  }
  Scaling = false;
  NeedsScaling = false;
}

}  // namespace kelm::lazytree

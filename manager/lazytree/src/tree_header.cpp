#include "lazytree/tree_header.h"

#include <algorithm>

#include "classlib/classdef.h"
#include "lazytree/lazy_tree_view.h"

namespace kelm::lazytree {

namespace {

template <class E>
classlib::TSet<E> Toggled(classlib::TSet<E> a, classlib::TSet<E> b) {
  return (a - b) + (b - a);
}

}  // namespace

// ---- TLTFixedAreaConstraints

TFixedAreaLimits& TLTFixedAreaConstraints::Limits() {
  return header_ != nullptr ? header_->Layout().Limits : own_;
}

uint8_t TLTFixedAreaConstraints::Get(TFixedAreaLimits::TIndex index) const {
  return header_ != nullptr ? header_->Layout().Limits[index] : own_[index];
}

void TLTFixedAreaConstraints::Set(TFixedAreaLimits::TIndex index, uint8_t value) {
  if (Limits().Set(index, value) && header_ != nullptr) header_->ConstraintsChanged();
}

void TLTFixedAreaConstraints::Assign(classlib::TPersistent* source) {
  auto* s = dynamic_cast<TLTFixedAreaConstraints*>(source);
  if (s == nullptr) {
    inherited::Assign(source);
    return;
  }
  // All four at once: the coupling of minimum and maximum would otherwise
  // depend on the order they arrive in.
  TFixedAreaLimits& mine = Limits();
  for (int i = 0; i < 4; ++i) mine.Percent[i] = s->Get(static_cast<TFixedAreaLimits::TIndex>(i));
  if (header_ != nullptr) header_->ConstraintsChanged();
}

// ---- TLTHeader

TLTHeader::TLTHeader()
    : columns_(classlib::New<TLazyTreeColumns>(this, layout_)),
      constraints_(classlib::New<TLTFixedAreaConstraints>()) {
  constraints_->SetHeader(this);
}

TLTHeader::~TLTHeader() {
  // The tree is going away: nothing is refreshed any more.
  layout_.Host = nullptr;
  classlib::Free(constraints_);
  classlib::Free(columns_);
}

void TLTHeader::SetAutoSizeIndex(int32_t value) {
  Sync();
  if (value == layout_.AutoSizeIndex) return;
  layout_.AutoSizeIndex = value;
  if (layout_.Options.Contains(hoAutoResize) && !Loading()) layout_.FitAutoSizeColumn(false);
}

void TLTHeader::SetBackground(uint32_t value) {
  if (value == background_) return;
  background_ = value;
  if (Host() != nullptr) Host()->HeaderRepaint(-1);
}

void TLTHeader::SetDefaultHeight(int32_t value) {
  Sync();
  value =
      std::clamp(value, layout_.MinHeight(), std::max(layout_.MinHeight(), layout_.MaxHeight()));
  if (Height() == defaultHeight_) SetHeight(value);
  defaultHeight_ = value;
}

void TLTHeader::HeightChangedFrom(int32_t old) {
  if (Height() == old || !HasWindow() || Host() == nullptr) return;
  if (!Loading() && !layout_.Scaling) Host()->HeaderRefreshFrame();
  Host()->HeaderHeightChanged();
}

void TLTHeader::SetHeight(int32_t value) {
  Sync();
  const int32_t old = Height();
  layout_.SetHeight(value);
  HeightChangedFrom(old);
}

void TLTHeader::SetMainColumn(int32_t value) {
  Sync();
  // While loading the columns may not be there yet: kept as read.
  if (layout_.SetMainColumn(value) && !Loading() && Host() != nullptr)
    Host()->HeaderMainColumnChanged(MainColumn());
}

void TLTHeader::SetMaxHeight(int32_t value) {
  Sync();
  const int32_t old = Height();
  layout_.SetMaxHeight(value);
  HeightChangedFrom(old);
}

void TLTHeader::SetMinHeight(int32_t value) {
  Sync();
  const int32_t old = Height();
  layout_.SetMinHeight(value);
  HeightChangedFrom(old);
}

void TLTHeader::SetOptions(TLTHeaderOptions value) {
  Sync();
  const TLTHeaderOptions old = layout_.Options;
  if (value == old) return;
  layout_.Options = value;
  const TLTHeaderOptions toggled = Toggled(old, value);
  THeaderHost* host = Host();
  if (toggled.Contains(hoAutoResize) && layout_.Count() > 0) {
    if (!Loading()) layout_.FitAutoSizeColumn(false);
    if (HasWindow() && host != nullptr) {
      host->HeaderUpdateHorizontalScrollBar();
      if (value.Contains(hoAutoResize)) host->HeaderRepaintTree();
    }
  }
  if (Loading() || !HasWindow() || host == nullptr) return;
  if (toggled.Contains(hoVisible)) host->HeaderRefreshFrame();
  host->HeaderRepaint(-1);
  host->HeaderRepaintTree();
}

void TLTHeader::SetParentFont(bool value) {
  if (value == parentFont_) return;
  parentFont_ = value;
  if (value) TakeTreeFont();
}

void TLTHeader::TakeTreeFont() {
  THeaderFontValues tree;
  if (Host() == nullptr || !Host()->HeaderTreeFont(tree) || tree == font_) return;
  font_ = tree;
  Host()->HeaderRepaint(-1);
}

void TLTHeader::TreeFontChanged() {
  if (parentFont_) TakeTreeFont();
}

void TLTHeader::TreeBiDiModeChanged(bool directionalOrder) {
  Sync();
  for (int i = 0; i < columns_->Count(); ++i) columns_->Items(i)->FollowTreeBiDiMode();
  if (directionalOrder) SetDirectionalOrder();
  if (Host() != nullptr) Host()->HeaderRepaint(-1);
}

void TLTHeader::SetFont(const THeaderFontValues& value) {
  parentFont_ = false;
  if (value == font_) return;
  font_ = value;
  if (Host() != nullptr) Host()->HeaderRepaint(-1);
}

void TLTHeader::SetSortColumn(int32_t value) {
  Sync();
  const int32_t old = SortColumn();
  if (!layout_.SetSortColumn(value) || Loading()) return;
  if (THeaderHost* host = Host()) {
    if (old >= 0) host->HeaderRepaint(old);
    if (SortColumn() >= 0) host->HeaderRepaint(SortColumn());
    host->HeaderSortChanged();
  }
}

void TLTHeader::SetSortDirection(TSortDirection value) {
  if (value == sortDirection_) return;
  sortDirection_ = value;
  if (THeaderHost* host = Host()) {
    host->HeaderRepaint(-1);
    host->HeaderSortChanged();
  }
}

void TLTHeader::SetStyle(TLTHeaderStyle value) {
  if (value == style_) return;
  style_ = value;
  Sync();
  if (!Loading() && Host() != nullptr) Host()->HeaderRepaint(-1);
}

bool TLTHeader::UpdateHoverColumn(int x, int y) {
  Sync();
  const int column = layout_.ColumnAtPoint(x, y + Height(), true);
  const int old = layout_.HoverIndex;
  if (column == old) return false;
  layout_.HoverIndex = column;
  if (THeaderHost* host = Host()) {
    if (layout_.ColumnIndexValid(old)) host->HeaderRepaint(old);
    if (layout_.ColumnIndexValid(column)) host->HeaderRepaint(column);
  }
  return true;
}

int TLTHeader::UpdatePressedColumn(int x, int y) {
  Sync();
  const int column = layout_.ColumnAtPoint(x, y + Height(), true);
  const int old = layout_.DownIndex;
  if (layout_.ColumnIndexValid(column) && column != old) {
    const TLTColumnOptions o = layout_.Column(column).Options;
    if (o.Contains(coAllowClick) && o.Contains(coEnabled)) {
      layout_.DownIndex = column;
      if (THeaderHost* host = Host()) {
        if (layout_.ColumnIndexValid(old)) host->HeaderRepaint(old);
        host->HeaderRepaint(column);
      }
    }
  }
  return column;
}

void TLTHeader::ProcessHeaderClick(int x, int y, uint8_t button, bool force, bool dblClick) {
  Sync();
  const int hy = y + Height();
  const int column = layout_.ColumnAtPoint(x, hy, true);
  const bool clickable = layout_.ColumnIndexValid(column) &&
                         layout_.Column(column).Options.Contains(coAllowClick) &&
                         (force || column == layout_.DownIndex);
  if (!clickable) {
    layout_.ClickIndex = -1;
    return;
  }
  layout_.ClickIndex = column;
  THeaderHost* host = Host();
  if (host == nullptr) return;
  TLazyTreeColumn& c = *columns_->Items(column);
  if (c.HasImage && c.ImageRect.Contains(x, hy)) {
    if (c.CheckBox()) {
      c.SetCheckState(TLazyTreeView::NextCheckState(c.CheckType(), c.CheckState()));
      host->HeaderCheckBoxClick(column);
    } else {
      host->HeaderImageClick(column, button, dblClick, x, hy);
    }
  } else {
    host->HeaderClick(column, button, dblClick, x, hy);
  }
  host->HeaderRepaint(column);
}

void TLTHeader::FitColumnsToContent(bool animated, TSmartAutoFitType type, int start, int end) {
  Sync();
  start = std::max(0, start);
  end = end < 0 ? layout_.Count() - 1 : std::min(end, layout_.Count() - 1);
  THeaderHost* host = Host();
  if (end < start || host == nullptr) return;
  host->HeaderBeginOperation();
  try {
    host->HeaderBeforeAutoFitColumns(type);
    for (int p = start; p <= end; ++p) {
      const int column = layout_.ColumnAtPosition(p);
      if (!layout_.ColumnIndexValid(column)) continue;
      const TLTColumnOptions options = layout_.Column(column).Options;
      if (!options.Contains(coVisible) || !options.Contains(coResizable)) continue;
      TSmartAutoFitType columnType = type;
      if (!host->HeaderBeforeAutoFitColumn(column, columnType)) continue;
      if (host->HeaderOperationCanceled()) continue;
      const bool smart = columnType == smaAllColumns ||
                         (columnType == smaUseColumnOption && options.Contains(coSmartResize));
      const int width = host->HeaderWidestContent(column, smart);
      if (width >= 0) {
        if (animated) {
          layout_.AnimateColumnWidth(column, width);
        } else {
          layout_.SetWidth(column, width);
        }
      }
      host->HeaderAfterAutoFitColumn(column);
    }
    host->HeaderAfterAutoFitColumns();
  } catch (...) {
    host->HeaderEndOperation();
    throw;
  }
  host->HeaderEndOperation();
}

void TLTHeader::ConstraintsChanged() {
  layout_.NeedsScaling = true;
  Sync();
  if (HasWindow()) ApplyFixedAreaLimits();
}

void TLTHeader::ApplyFixedAreaLimits() {
  Sync();
  if (Loading() || layout_.LoadingColumns || !HasWindow()) return;
  const int32_t old = Height();
  layout_.ApplyFixedAreaLimits();
  if (Host() == nullptr) return;
  Host()->HeaderRefreshFrame();
  if (Height() != old) Host()->HeaderHeightChanged();
}

void TLTHeader::DefineColumns(classlib::TFiler& filer) {
  // No ancestors exist, so the columns are written whenever there are any.
  filer.DefineProperty(
      "Columns",
      [this](classlib::TReader& r) {
        Sync();
        // Positions stay as read until loading ends.
        layout_.View.Loading = true;
        columns_->ReadColumns(r);
      },
      [this](classlib::TWriter& w) { columns_->WriteColumns(w); }, columns_->Count() > 0);
}

void TLTHeader::FinishLoading(bool directionalOrder) {
  Sync();
  layout_.View.Loading = false;
  layout_.RebuildPositionOrder();
  if (directionalOrder) SetDirectionalOrder();
  layout_.RecomputeColumnEdges(true);
  if (layout_.Options.Contains(hoAutoResize)) layout_.FitAutoSizeColumn(true);
  // Stored unchecked while the columns were still coming.
  layout_.SetMainColumn(layout_.MainColumn());
  layout_.SetSortColumn(layout_.SortColumn());
}

void TLTHeader::SetDirectionalOrder() {
  Sync();
  std::vector<int32_t> order(static_cast<size_t>(layout_.Count()));
  for (size_t p = 0; p < order.size(); ++p) order[p] = static_cast<int32_t>(p);
  if (layout_.View.Mirrored) std::reverse(order.begin(), order.end());
  layout_.SetPositionOrder(order);
}

THeaderRecord TLTHeader::ToRecord() const {
  THeaderRecord r;
  columns_->ToRecord(r);
  r.AutoSizeIndex = layout_.AutoSizeIndex;
  r.Background = background_;
  r.Height = layout_.Height();
  r.Options = static_cast<uint16_t>(layout_.Options.ToInt());
  r.Style = static_cast<uint8_t>(style_);
  r.FontColor = font_.Color;
  r.FontHeight = font_.Height;
  r.FontName = font_.Name;
  r.FontPitch = font_.Pitch;
  r.FontStyle = font_.Style;
  r.MainColumn = layout_.MainColumn();
  r.SortColumn = layout_.SortColumn();
  r.SortDirection = sortDirection_;
  r.ParentFont = parentFont_;
  r.MaxHeight = layout_.MaxHeight();
  r.MinHeight = layout_.MinHeight();
  r.DefaultHeight = defaultHeight_;
  r.MaxHeightPercent = layout_.Limits[TFixedAreaLimits::MaxHeight];
  r.MaxWidthPercent = layout_.Limits[TFixedAreaLimits::MaxWidth];
  r.MinHeightPercent = layout_.Limits[TFixedAreaLimits::MinHeight];
  r.MinWidthPercent = layout_.Limits[TFixedAreaLimits::MinWidth];
  return r;
}

void TLTHeader::LoadRecord(const THeaderRecord& r) {
  Sync();
  const int32_t oldHeight = Height();
  columns_->LoadHeaderRecord(r);
  SetBackground(r.Background);
  SetStyle(static_cast<TLTHeaderStyle>(r.Style));
  // The stream's font; whether it follows the tree comes later.
  const bool parent = parentFont_;
  SetFont(THeaderFontValues{r.FontColor, r.FontHeight, r.FontName, r.FontPitch, r.FontStyle});
  parentFont_ = parent;
  if (r.HasSortFields()) SetSortDirection(static_cast<TSortDirection>(r.SortDirection & 1));
  if (r.HasHeightLimits()) {
    SetParentFont(r.ParentFont);
    defaultHeight_ = r.DefaultHeight;
  }
  HeightChangedFrom(oldHeight);
}

std::vector<uint8_t> TLTHeader::SaveToBytes() const { return WriteHeaderStream(ToRecord()); }

void TLTHeader::LoadFromBytes(const uint8_t* data, size_t size) {
  THeaderRecord record;
  try {
    record = ParseHeaderStream(data, size);
  } catch (...) {
    // Nothing was changed, but the tree hears the end of the read as
    // after any other.
    if (Host() != nullptr) Host()->HeaderColumnResized(-1);
    throw;
  }
  LoadRecord(record);
}

void TLTHeader::Assign(classlib::TPersistent* source) {
  auto* s = dynamic_cast<TLTHeader*>(source);
  if (s == nullptr) {
    inherited::Assign(source);
    return;
  }
  LoadRecord(s->ToRecord());
  ApplyFixedAreaLimits();
}

namespace {

using classlib::EnumTypeInfo;
using classlib::TTypeInfo;

const TTypeInfo TypeInfo_TLTHeaderOption = EnumTypeInfo(
    "TLTHeaderOption", {"hoAutoResize", "hoColumnResize", "hoDblClickResize", "hoDrag",
                        "hoHotTrack", "hoOwnerDraw", "hoRestrictDrag", "hoShowHint", "hoShowImages",
                        "hoShowSortGlyphs", "hoVisible", "hoAutoSpring", "hoFullRepaintOnResize",
                        "hoDisableAnimatedResize", "hoHeightResize", "hoHeightDblClickResize"});
const TTypeInfo TypeInfo_TLTHeaderOptions =
    classlib::SetTypeInfo("TLTHeaderOptions", &TypeInfo_TLTHeaderOption);
const TTypeInfo TypeInfo_TLTHeaderStyle =
    EnumTypeInfo("TLTHeaderStyle", {"hsThickButtons", "hsFlatButtons", "hsPlates", "hsXPStyle"});
const TTypeInfo TypeInfo_TSortDirection =
    EnumTypeInfo("TSortDirection", {"sdAscending", "sdDescending"});
const TTypeInfo TypeInfo_Percent = classlib::IntTypeInfo("Byte", 0, 255);

}  // namespace

CL_CLASS(TLTFixedAreaConstraints) {
  using C = TLTFixedAreaConstraints;
  c.Int("MaxHeightPercent", &C::MaxHeightPercent, &C::SetMaxHeightPercent, &TypeInfo_Percent)
      .Default(0);
  c.Int("MaxWidthPercent", &C::MaxWidthPercent, &C::SetMaxWidthPercent, &TypeInfo_Percent)
      .Default(0);
  c.Int("MinHeightPercent", &C::MinHeightPercent, &C::SetMinHeightPercent, &TypeInfo_Percent)
      .Default(0);
  c.Int("MinWidthPercent", &C::MinWidthPercent, &C::SetMinWidthPercent, &TypeInfo_Percent)
      .Default(0);
}

// Published in name order, as the stored form lists them. The columns are
// stored by the tree as "Columns", not under the header's path.
CL_CLASS(TLTHeader) {
  using C = TLTHeader;
  c.Int("AutoSizeIndex", &C::AutoSizeIndex, &C::SetAutoSizeIndex).NoDefault();
  c.Int("Background", &C::Background, &C::SetBackground, &classlib::TypeInfo_Cardinal)
      .Default(static_cast<int64_t>(0xFF00000F));
  c.Object("Columns", &C::Columns, &C::SetColumns).Stored(false);
  c.Int("DefaultHeight", &C::DefaultHeight, &C::SetDefaultHeight).NoDefault();
  c.Object("FixedAreaConstraints", &C::FixedAreaConstraints, &C::SetFixedAreaConstraints);
  c.Int("Height", &C::Height, &C::SetHeight).Default(17);
  c.Int("MainColumn", &C::MainColumn, &C::SetMainColumn).Default(0);
  c.Int("MaxHeight", &C::MaxHeight, &C::SetMaxHeight).Default(10000);
  c.Int("MinHeight", &C::MinHeight, &C::SetMinHeight).Default(10);
  c.Set("Options", &C::Options, &C::SetOptions, &TypeInfo_TLTHeaderOptions)
      .Default(static_cast<int64_t>(kDefaultHeaderOptions));
  c.Bool("ParentFont", &C::ParentFont, &C::SetParentFont).Default(false);
  c.Int("SortColumn", &C::SortColumn, &C::SetSortColumn).Default(-1);
  c.Enum("SortDirection", &C::SortDirection, &C::SetSortDirection, &TypeInfo_TSortDirection)
      .Default(sdAscending);
  c.Enum("Style", &C::Style, &C::SetStyle, &TypeInfo_TLTHeaderStyle)
      .Default(TLTHeaderStyle::hsThickButtons);
}

}  // namespace kelm::lazytree

// TLTHeader: the tree's header as a class-library object. It owns the
// column layout and the columns, keeps the header values the layout does
// not (background, font, style, sort direction), publishes them for the
// stored form, reads and writes the header stream through its plain
// record, and asks its tree (THeaderHost) for the refresh each change needs.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "classlib/component.h"
#include "classlib/filer.h"
#include "lazytree/header_columns.h"
#include "lazytree/header_layout.h"
#include "lazytree/header_stream.h"
#include "lazytree/lazy_tree_model.h"

namespace kelm::lazytree {

enum class TLTHeaderStyle : uint8_t { hsThickButtons, hsFlatButtons, hsPlates, hsXPStyle };

class TLTHeader;

// The four fixed-area percentages of the header (0: no constraint).
class TLTFixedAreaConstraints : public classlib::TPersistent {
  CL_DECLARE_CLASS(TLTFixedAreaConstraints, TPersistent)
 public:
  TLTFixedAreaConstraints() = default;
  // The header whose limits these are; none for a free-standing copy.
  void SetHeader(TLTHeader* header) { header_ = header; }

  uint8_t MaxHeightPercent() const { return Get(TFixedAreaLimits::MaxHeight); }
  void SetMaxHeightPercent(uint8_t v) { Set(TFixedAreaLimits::MaxHeight, v); }
  uint8_t MaxWidthPercent() const { return Get(TFixedAreaLimits::MaxWidth); }
  void SetMaxWidthPercent(uint8_t v) { Set(TFixedAreaLimits::MaxWidth, v); }
  uint8_t MinHeightPercent() const { return Get(TFixedAreaLimits::MinHeight); }
  void SetMinHeightPercent(uint8_t v) { Set(TFixedAreaLimits::MinHeight, v); }
  uint8_t MinWidthPercent() const { return Get(TFixedAreaLimits::MinWidth); }
  void SetMinWidthPercent(uint8_t v) { Set(TFixedAreaLimits::MinWidth, v); }
  // Copies the four values and tells the header once.
  void Assign(classlib::TPersistent* source) override;

 private:
  uint8_t Get(TFixedAreaLimits::TIndex index) const;
  void Set(TFixedAreaLimits::TIndex index, uint8_t value);
  TFixedAreaLimits& Limits();
  TLTHeader* header_ = nullptr;
  TFixedAreaLimits own_;  // used without a header
};

class TLTHeader : public classlib::TPersistent {
  CL_DECLARE_CLASS(TLTHeader, TPersistent)

 public:
  TLTHeader();
  ~TLTHeader() override;

  // The tree; refreshes and the tree's geometry go through it.
  void SetHost(THeaderHost* host) { layout_.Host = host; }
  THeaderHost* Host() const { return layout_.Host; }
  THeaderLayout& Layout() { return layout_; }
  const THeaderLayout& Layout() const { return layout_; }
  TLazyTreeColumns* Columns() const { return columns_; }
  void SetColumns(TLazyTreeColumns* value) { columns_->Assign(value); }
  TLTFixedAreaConstraints* FixedAreaConstraints() const { return constraints_; }
  void SetFixedAreaConstraints(TLTFixedAreaConstraints* value) { constraints_->Assign(value); }

  // ---- published values; each setter compares first, then refreshes
  int32_t AutoSizeIndex() const { return layout_.AutoSizeIndex; }
  void SetAutoSizeIndex(int32_t value);
  uint32_t Background() const { return background_; }
  void SetBackground(uint32_t value);
  int32_t DefaultHeight() const { return defaultHeight_; }
  // Clamped into MinHeight..MaxHeight; a height at the old default follows.
  void SetDefaultHeight(int32_t value);
  int32_t Height() const { return layout_.Height(); }
  void SetHeight(int32_t value);
  int32_t MainColumn() const { return layout_.MainColumn(); }
  void SetMainColumn(int32_t value);
  int32_t MaxHeight() const { return layout_.MaxHeight(); }
  void SetMaxHeight(int32_t value);
  int32_t MinHeight() const { return layout_.MinHeight(); }
  void SetMinHeight(int32_t value);
  TLTHeaderOptions Options() const { return layout_.Options; }
  void SetOptions(TLTHeaderOptions value);
  bool ParentFont() const { return parentFont_; }
  void SetParentFont(bool value);
  int32_t SortColumn() const { return layout_.SortColumn(); }
  void SetSortColumn(int32_t value);
  TSortDirection SortDirection() const { return sortDirection_; }
  void SetSortDirection(TSortDirection value);
  TLTHeaderStyle Style() const { return style_; }
  void SetStyle(TLTHeaderStyle value);
  const THeaderFontValues& Font() const { return font_; }
  // An own font stops following the tree's.
  void SetFont(const THeaderFontValues& value);

  // The tree's font changed: a header following it takes it.
  void TreeFontChanged();
  // The tree's reading order changed: columns following it take it, and
  // with directionalOrder the columns are shown in its direction.
  void TreeBiDiModeChanged(bool directionalOrder);

  // The mouse at P (client coordinates, the header above 0): the hover
  // column follows (also to none), answering whether it changed.
  bool UpdateHoverColumn(int x, int y);
  // A press at P marks a clickable, enabled column; answers the column hit.
  int UpdatePressedColumn(int x, int y);
  // A click at P: on the pressed column (or any with force) it becomes the
  // click column and fires the click, image or check box event.
  void ProcessHeaderClick(int x, int y, uint8_t button, bool force, bool dblClick);

  // Fits the columns shown at positions start..end (end < 0: the last) to
  // their widest content, inside one cancellable operation of the tree.
  void FitColumnsToContent(bool animated, TSmartAutoFitType type, int start, int end);

  // The fixed-area limits changed: rescale now when the window exists.
  void ConstraintsChanged();
  // Re-validates height and fixed widths against the limits and lays the
  // frame out again (nothing while loading or without a window).
  void ApplyFixedAreaLimits();

  // The stored-form property "Columns" as the tree defines it: read while
  // the tree loads, written when there are columns.
  void DefineColumns(classlib::TFiler& filer);
  // The tree finished loading: the stored positions become the order (or,
  // with directionalOrder, the order of the reading direction), edges are
  // recomputed, the auto-size column fitted, main and sort columns clamped.
  void FinishLoading(bool directionalOrder);
  // Identity order, reversed when the tree is mirrored.
  void SetDirectionalOrder();

  // The header stream of the current version.
  std::vector<uint8_t> SaveToBytes() const;
  // A stream of any version read: parsed whole first (a damaged stream
  // raises the read error and changes nothing), then applied.
  void LoadFromBytes(const uint8_t* data, size_t size);
  THeaderRecord ToRecord() const;
  void LoadRecord(const THeaderRecord& record);

  void Assign(classlib::TPersistent* source) override;

 private:
  // The host's geometry, read before every change.
  void Sync() { layout_.SyncView(); }
  bool Loading() const { return layout_.View.Loading; }
  bool HasWindow() const { return layout_.View.HasWindow; }
  // After the height may have changed from old.
  void HeightChangedFrom(int32_t old);
  void TakeTreeFont();

  THeaderLayout layout_;
  TLazyTreeColumns* columns_ = nullptr;
  TLTFixedAreaConstraints* constraints_ = nullptr;
  uint32_t background_ = 0xFF00000F;
  TLTHeaderStyle style_ = TLTHeaderStyle::hsThickButtons;
  TSortDirection sortDirection_ = sdAscending;
  bool parentFont_ = false;
  int32_t defaultHeight_ = 17;
  THeaderFontValues font_;
};

}  // namespace kelm::lazytree

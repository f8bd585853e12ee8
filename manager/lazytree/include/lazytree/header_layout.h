// The header's column model without a window: columns kept in index order
// with a separate position-to-index array, their widths under the width
// and fixed-area rules, the header height rule, width distribution over
// several columns, spring columns and hit tests. The header control holds
// one and answers its hooks (the tree's geometry and events).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "classlib/object.h"
#include "lazytree/header_stream.h"

namespace kelm::lazytree {

enum TLTColumnOption : uint8_t {
  coAllowClick,
  coDraggable,
  coEnabled,
  coParentBidiMode,
  coParentColor,
  coResizable,
  coShowDropMark,
  coVisible,
  coAutoSpring,
  coFixed,
  coSmartResize,
  coAllowFocus,
  coDisableAnimatedResize,
  coWrapCaption,
  coUseCaptionAlignment,
};
using TLTColumnOptions = classlib::TSet<TLTColumnOption>;
inline constexpr uint16_t kDefaultColumnOptions = 2303;

enum TLTHeaderOption : uint8_t {
  hoAutoResize,
  hoColumnResize,
  hoDblClickResize,
  hoDrag,
  hoHotTrack,
  hoOwnerDraw,
  hoRestrictDrag,
  hoShowHint,
  hoShowImages,
  hoShowSortGlyphs,
  hoVisible,
  hoAutoSpring,
  hoFullRepaintOnResize,
  hoDisableAnimatedResize,
  hoHeightResize,
  hoHeightDblClickResize,
};
using TLTHeaderOptions = classlib::TSet<TLTHeaderOption>;
inline constexpr uint16_t kDefaultHeaderOptions = 522;

// How auto-fitting measures: smartly, plainly, or by each column's coSmartResize.
enum TSmartAutoFitType : uint8_t { smaAllColumns, smaNoColumn, smaUseColumnOption };

// Hit tests and navigation answer this when no column is found.
inline constexpr int kInvalidColumn = -2;

// The four fixed-area percentages; each setter keeps minimum <= maximum
// (a maximum of 0 means none) and answers whether anything changed.
struct TFixedAreaLimits {
  enum TIndex : uint8_t { MaxHeight, MaxWidth, MinHeight, MinWidth };
  uint8_t Percent[4] = {0, 0, 0, 0};
  bool Set(TIndex index, uint8_t value);
  uint8_t operator[](TIndex i) const { return Percent[i]; }
};

struct TColumnGeometry {
  int32_t Width = 50;
  int32_t MinWidth = 10;
  int32_t MaxWidth = 10000;
  TLTColumnOptions Options = TLTColumnOptions::FromInt(kDefaultColumnOptions);
  uint32_t Position = 0;
  int32_t Left = 0;  // sum of the visible widths shown before it
  int32_t LastWidth = 50;
  bool BonusPixel = false;
  float SpringRest = 0.0f;

  bool Visible() const { return Options.Contains(coVisible); }
  bool VisibleFixed() const { return Visible() && Options.Contains(coFixed); }
};

// The header's font until the painting part brings a font object.
struct THeaderFontValues {
  uint32_t Color = 0xFF000008;
  int32_t Height = -11;
  std::u16string Name;
  uint8_t Pitch = 0;
  uint8_t Style = 0;
  bool operator==(const THeaderFontValues& o) const {
    return Color == o.Color && Height == o.Height && Name == o.Name && Pitch == o.Pitch &&
           Style == o.Style;
  }
};

// What the model reads of its tree; the tree keeps it current.
struct TTreeGeometry;

// What the header and its columns ask of their tree: its geometry and the
// refresh each change needs. Without a host nothing is refreshed.
class THeaderHost {
 public:
  virtual ~THeaderHost() = default;
  // The tree's current geometry and loading and window flags.
  virtual void HeaderView(TTreeGeometry& view) = 0;
  // The tree's updates are suspended (its update count is above 0).
  virtual bool HeaderTreeUpdating() const { return false; }
  virtual void HeaderRepaintTree() {}
  // The column's header cell, or the whole header for -1.
  virtual void HeaderRepaint(int /*column*/) {}
  // The non-client area (the header's band) is laid out again.
  virtual void HeaderRefreshFrame() {}
  // After a height change: the tree is repainted and updated at once.
  virtual void HeaderHeightChanged() {}
  virtual void HeaderUpdateHorizontalScrollBar() {}
  // The tree's column-resize event (-1: every column).
  virtual void HeaderColumnResized(int /*column*/) {}
  // OnCanSplitterResizeColumn at P (client coordinates).
  virtual bool HeaderCanSplitterResizeColumn(int /*column*/, int /*x*/, int /*y*/, bool allowed) {
    return allowed;
  }
  virtual void HeaderCancelEditing() {}
  // The main column changed: the tree moves its focus column and repaints.
  virtual void HeaderMainColumnChanged(int /*column*/) {}
  // Sort column or direction changed: the tree re-sorts under toAutoSort.
  virtual void HeaderSortChanged() {}
  // What columns following their tree take.
  virtual uint8_t HeaderBiDiMode() const { return 0; }
  virtual uint32_t HeaderColor() const { return 0xFF000005; }
  // The tree's font, for a header that follows it; false when none.
  virtual bool HeaderTreeFont(THeaderFontValues& /*font*/) { return false; }
  virtual void HeaderDesignerModified() {}
  // Auto-fitting: the tree's cancellable operation, its events and its
  // widest-content measure (-1: nothing measured, the width stays).
  virtual void HeaderBeginOperation() {}
  virtual void HeaderEndOperation() {}
  virtual bool HeaderOperationCanceled() { return false; }
  virtual void HeaderBeforeAutoFitColumns(TSmartAutoFitType& /*type*/) {}
  virtual bool HeaderBeforeAutoFitColumn(int /*column*/, TSmartAutoFitType& /*type*/) {
    return true;
  }
  virtual void HeaderAfterAutoFitColumn(int /*column*/) {}
  virtual void HeaderAfterAutoFitColumns() {}
  virtual int HeaderWidestContent(int /*column*/, bool /*smart*/) { return -1; }
  // Header clicks: button 0 left, 1 right, 2 middle; x and y header-relative.
  virtual void HeaderClick(int /*column*/, uint8_t /*button*/, bool /*dblClick*/, int /*x*/,
                           int /*y*/) {}
  // On the cell's image; the tree falls back to HeaderClick without a handler.
  virtual void HeaderImageClick(int /*column*/, uint8_t /*button*/, bool /*dblClick*/, int /*x*/,
                                int /*y*/) {}
  // On the cell's check box, after the box took its next state.
  virtual void HeaderCheckBoxClick(int /*column*/) {}
};

struct TTreeGeometry {
  int ClientWidth = 0;
  int ClientHeight = 0;
  int TreeHeight = 0;        // the control's height (hit tests refuse below it)
  int EffectiveOffsetX = 0;  // horizontal scroll offset
  int RangeX = 0;            // horizontal range: the columns' total width
  bool Mirrored = false;     // right-to-left layout
  bool Loading = false;      // the tree is read from a stored form
  bool HasWindow = false;
};

class THeaderLayout {
 public:
  THeaderLayout() = default;
  virtual ~THeaderLayout() = default;
  THeaderLayout(const THeaderLayout&) = delete;
  THeaderLayout& operator=(const THeaderLayout&) = delete;

  TTreeGeometry View;
  // The tree, when the layout belongs to one.
  THeaderHost* Host = nullptr;
  // Takes the host's current geometry into View.
  void SyncView() {
    if (Host != nullptr) Host->HeaderView(View);
  }

  // ---- header values
  TLTHeaderOptions Options = TLTHeaderOptions::FromInt(kDefaultHeaderOptions);
  TFixedAreaLimits Limits;
  int32_t AutoSizeIndex = 0;
  int32_t DefaultWidth = 50;
  int32_t Height() const { return height_; }
  int32_t MinHeight() const { return minHeight_; }
  int32_t MaxHeight() const { return maxHeight_; }
  // Without a window the value is kept unchecked until the next rescale;
  // with one the height rule applies. Answers whether the height changed.
  bool SetHeight(int32_t value);
  void SetMinHeight(int32_t value);
  void SetMaxHeight(int32_t value);
  // The height rule against the fixed-area limits and MinHeight..MaxHeight.
  int32_t ConstrainHeight(int32_t requested) const;
  int32_t MainColumn() const { return Count() == 0 ? -1 : mainColumn_; }
  // Answers whether the value changed (the tree then repaints and moves focus).
  bool SetMainColumn(int32_t value);
  int32_t SortColumn() const { return sortColumn_; }
  bool SetSortColumn(int32_t value);

  // Header states of this part.
  bool Scaling = false;
  bool NeedsScaling = false;
  bool ResizingColumns = false;
  bool LoadingColumns = false;

  // ---- the columns
  int Count() const { return static_cast<int>(columns_.size()); }
  bool ColumnIndexValid(int index) const { return index >= 0 && index < Count(); }
  const TColumnGeometry& Column(int index) const { return columns_.at(static_cast<size_t>(index)); }
  const std::vector<int32_t>& PositionToIndex() const { return positionToIndex_; }
  // Appends a column of the default width at the last position.
  int AddColumn();
  // Removes a column, fixing every index that names columns.
  void RemoveColumn(int index);
  // The column at index from now has index to (its collection item moved):
  // its geometry, the order and every index naming a column follow it.
  void MoveColumnIndex(int from, int to);
  // Removes every column; outside column loading the auto-size, main and
  // sort columns become -1.
  void Clear();
  // Takes the geometry and the header values of a parsed stream through
  // the setters, as the header's stream reader does. The record is parsed
  // whole first, so a damaged stream never reaches the layout.
  void LoadHeaderRecord(const THeaderRecord& record);
  // Collection update bracket: edges wait for the last EndUpdate.
  void BeginUpdate() { ++updateCount_; }
  void EndUpdate();
  int UpdateCount() const { return updateCount_; }

  void SetWidth(int column, int32_t value);
  void SetMinWidth(int column, int32_t value);
  void SetMaxWidth(int column, int32_t value);
  void SetColumnOptions(int column, TLTColumnOptions value);
  void SetPosition(int column, uint32_t value);
  // Animated in the control; here the width is set at once.
  virtual void AnimateColumnWidth(int column, int32_t newWidth);
  void RevertWidth(int column) { AnimateColumnWidth(column, Column(column).LastWidth); }
  // Puts columns back to their last widths, each resizable visible
  // column by the position it is shown at.
  void RevertColumnWidths();

  // ---- the order
  void EnsurePositionArrayLength();
  void MoveColumnInOrder(int column, int newPosition);
  void RecomputeColumnEdges(bool force);
  // After loading: the order from each column's stored Position.
  void RebuildPositionOrder();
  // Sets a parsed order (a permutation of 0..Count-1; anything else is refused).
  bool SetPositionOrder(const std::vector<int32_t>& order);
  bool PositionsNeedFixing = false;

  // ---- geometry
  int32_t FixedColumnsWidth() const;
  int32_t ColumnsRightEdge() const;
  int ColumnAtPosition(int position) const;
  int ColumnAtPoint(int x, int y, bool relative) const;
  // The same walk, also answering the column's edges.
  int ColumnAtPointWithEdges(int x, int y, bool relative, int& left, int& right) const;
  // A column's edges in the client area (0 and the client width for none).
  void ColumnEdges(int column, int& left, int& right) const;
  // Where the columns start when a mirrored view is wider than they are.
  int64_t MirroredShift() const {
    return View.Mirrored && View.RangeX < View.ClientWidth ? View.ClientWidth - View.RangeX : 0;
  }
  // By position, whatever their visibility.
  int ColumnAfter(int column) const;
  int ColumnBefore(int column) const;
  std::vector<int> ShownColumnsInOrder() const;
  bool ColumnCanTakeFocus(int column) const {
    return ColumnIndexValid(column) && Column(column).Options.Contains(coAllowFocus);
  }
  // The rounded mean width of the visible scrolling columns; indent without any.
  int MeanScrollingColumnWidth(int indent) const;
  int FirstShownColumn(bool considerAllowFocus = false) const;
  int LastShownColumn(bool considerAllowFocus = false) const;
  int ShownColumnAfter(int column, bool considerAllowFocus = false) const;
  int ShownColumnBefore(int column, bool considerAllowFocus = false) const;
  // Whether a resizable column's border lies under P (client coordinates);
  // sets TrackIndex (-1 on a miss) and, on a hit, the track point.
  bool LocateBorderColumn(int x, int y);
  int TrackIndex = -1;
  int TrackPointX = 0;
  int TrackPointY = 0;
  int HoverIndex = -1;
  int DownIndex = -1;
  int ClickIndex = -1;

  // ---- sizing
  int AutoSizeColumn() const;
  void FitAutoSizeColumn(bool force);
  int32_t DistributeWidthChange(int32_t changeBy, int rangeStart, int rangeEnd,
                                TLTColumnOptions mask);
  // The header's width changed to headerWidth: spring columns share it.
  void ApplySpringWidth(int32_t headerWidth);
  int32_t LastHeaderWidth = 0;
  // Re-validates the height and the fixed columns' widths against the
  // fixed-area limits (nothing while loading or without a window).
  void ApplyFixedAreaLimits();

 protected:
  // The tree's column-resize event.
  virtual void ColumnResized(int column) {
    if (Host != nullptr) Host->HeaderColumnResized(column);
  }
  // OnCanSplitterResizeColumn; allowed arrives as the default answer.
  virtual bool CanSplitterResizeColumn(int column, bool allowed) {
    return Host != nullptr ? Host->HeaderCanSplitterResizeColumn(column, probeX_, probeY_, allowed)
                           : allowed;
  }
  // coFixed changed on a visible column.
  virtual void FixedColumnsChanged() { ApplyFixedAreaLimits(); }
  TColumnGeometry& Mutable(int index) { return columns_.at(static_cast<size_t>(index)); }

 private:
  int32_t ConstrainWidth(int column, int32_t value) const;
  // The collection's update after any column change.
  void Changed();
  std::vector<TColumnGeometry> columns_;
  int probeX_ = 0;  // the point LocateBorderColumn tests
  int probeY_ = 0;
  std::vector<int32_t> positionToIndex_;
  int updateCount_ = 0;
  int32_t height_ = 17;
  int32_t minHeight_ = 10;
  int32_t maxHeight_ = 10000;
  int32_t mainColumn_ = -1;
  int32_t sortColumn_ = -1;
};

}  // namespace kelm::lazytree

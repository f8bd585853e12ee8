// The model of the tab control: tab data, colours, properties with their
// defaults, the layout of tabs, rows and card for every style, orientation
// and sequence, hit testing through tab regions, and selection. The Win32
// control binds it to a window; the model measures text through a measurer
// so that its geometry runs without one.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "kit/kt_common.h"
#include "kit/kt_geometry.h"
#include "kit/kt_tab_regions.h"

namespace kelm::kit {

// The class library's system colours the tab control starts with.
constexpr TColor clKtWindow = clKtSystemColor | 5;
constexpr TColor clKtHighlight = clKtSystemColor | 13;
constexpr TColor clKtBtnFace = clKtSystemColor | 15;
constexpr TColor clKtBtnShadow = clKtSystemColor | 16;
constexpr TColor clKtGrayText = clKtSystemColor | 17;
constexpr TColor clKtBtnText = clKtSystemColor | 18;

enum class TKtTabOrientation { toTop, toLeft, toBottom, toRight };
enum class TKtTabSequence { tsStandard, tsReverse };
enum class TKtImagePosition { ipLeft, ipTop, ipRight, ipBottom, ipBack, ipStretch };
enum class TKtHorizontalAlignment { haLeft, haCenter, haRight };
enum class TKtVerticalAlignment { vaTop, vaCenter, vaBottom };
enum class TKtTextStyle { tsHotTrack, tsSelected, tsUnselected, tsDisabled };
enum class TKtTabHotTrackStyle { htsTab, htsText, htsTabBar };
enum class TKtTabHotTrackColorSource { htcsTabColor, htcsHotTrackColorProp };
enum class TKtHotTrackColorType { htctComplement, htctActual };
enum class TOrientation { orHorizontal, orVertical };

struct TKtSize {
  int32_t cx = 0;
  int32_t cy = 0;
};

// Text extents in the tab font (bold when asked), unrotated.
class TKtTextMeasurer {
 public:
  virtual ~TKtTextMeasurer() = default;
  virtual TKtSize TextExtent(const std::u16string& text, bool bold) = 0;
  virtual int32_t FontHeight() = 0;
};

class TKtTabData {
 public:
  std::u16string Caption;
  TColor Color = clKtBtnFace;
  int32_t DisabledImageIndex = -1;
  bool Enabled = true;
  std::u16string Hint;
  int32_t ImageIndex = -1;
  TKtRect Rect;  // strip coordinates, set by the layout
  bool Visible = true;
  int32_t Row = 0;
  // Every field but the rectangle and the row.
  void Assign(const TKtTabData& source);
};

class TKtTabDataList {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  TKtTabData& Item(int i) { return *items_.at(static_cast<size_t>(i)); }
  const TKtTabData& Item(int i) const { return *items_.at(static_cast<size_t>(i)); }
  TKtTabData& Add();
  void Clear() { items_.clear(); }
  void Replace(int i, std::unique_ptr<TKtTabData> item);
  void Assign(const TKtTabDataList& source);

 private:
  std::vector<std::unique_ptr<TKtTabData>> items_;
};

class TKtTabControlModel;

class TKtTabColors {
 public:
  explicit TKtTabColors(TKtTabControlModel* owner) : owner_(owner) {}
  TColor HighlightBar() const { return highlightBar_; }
  TColor Shadow() const { return shadow_; }
  TColor Unselected() const { return unselected_; }
  void SetHighlightBar(TColor v);
  void SetShadow(TColor v);
  void SetUnselected(TColor v);
  void Assign(const TKtTabColors& source);

 private:
  TKtTabControlModel* owner_;
  TColor highlightBar_ = clKtHighlight;
  TColor shadow_ = clKtBtnFace;
  TColor unselected_ = clKtWindow;
};

class TKtTextColors {
 public:
  explicit TKtTextColors(TKtTabControlModel* owner) : owner_(owner) {}
  TColor Disabled() const { return disabled_; }
  TColor Selected() const { return selected_; }
  TColor Unselected() const { return unselected_; }
  void SetDisabled(TColor v);
  void SetSelected(TColor v);
  void SetUnselected(TColor v);
  void Assign(const TKtTextColors& source);

 private:
  TKtTabControlModel* owner_;
  TColor disabled_ = clKtGrayText;
  TColor selected_ = clKtBtnText;
  TColor unselected_ = clKtBtnText;
};

class TKtTabControlModel {
 public:
  TKtTabControlModel();
  virtual ~TKtTabControlModel();
  TKtTabControlModel(const TKtTabControlModel&) = delete;
  TKtTabControlModel& operator=(const TKtTabControlModel&) = delete;

  // ---- what the model needs from its host
  void SetMeasurer(TKtTextMeasurer* measurer) { measurer_ = measurer; }
  void SetRegionFactory(TKtRegionFactory factory);
  // The control's size; the client rectangle is (0, 0, W - 1, H - 1).
  void SetControlSize(int32_t width, int32_t height);
  int32_t ControlWidth() const { return width_; }
  int32_t ControlHeight() const { return height_; }

  // ---- tab data; call TabsChanged after changing it
  TKtTabDataList& Tabs() { return tabs_; }
  const TKtTabDataList& Tabs() const { return tabs_; }
  virtual void TabsChanged();

  // ---- properties (setters do nothing on an equal value)
  bool AlignTabs() const { return alignTabs_; }
  virtual void SetAlignTabs(bool v);
  bool AllowTabDragging() const { return allowTabDragging_; }
  void SetAllowTabDragging(bool v) { allowTabDragging_ = v; }
  TColor BackgroundColor() const { return backgroundColor_; }
  virtual void SetBackgroundColor(TColor v);
  bool BoldCurrentTab() const { return boldCurrentTab_; }
  virtual void SetBoldCurrentTab(bool v);
  TColor ButtonColor() const { return buttonColor_; }
  virtual void SetButtonColor(TColor v);
  bool CardVisible() const { return cardVisible_; }
  virtual void SetCardVisible(bool v);
  bool ShowCardFrame() const { return showCardFrame_; }
  virtual void SetShowCardFrame(bool v);
  bool ShowFullFrame() const { return showFullFrame_; }
  virtual void SetShowFullFrame(bool v);
  bool ShowCloseButton() const { return showCloseButton_; }
  virtual void SetShowCloseButton(bool v);
  bool ShowCloseButtonOnActiveTab() const { return showCloseButtonOnActiveTab_; }
  virtual void SetShowCloseButtonOnActiveTab(bool v);
  bool ShowMenuButton() const { return showMenuButton_; }
  virtual void SetShowMenuButton(bool v);
  bool SortTabMenu() const { return sortTabMenu_; }
  void SetSortTabMenu(bool v) { sortTabMenu_ = v; }
  bool UseColoredTabs() const { return useColoredTabs_; }
  virtual void SetUseColoredTabs(bool v);
  int32_t CutCornerSize() const { return cutCornerSize_; }
  virtual void SetCutCornerSize(int32_t v);
  TColor DragIndicatorColor() const { return dragIndicatorColor_; }
  void SetDragIndicatorColor(TColor v) { dragIndicatorColor_ = v; }
  TColor FlatColor() const { return flatColor_; }
  virtual void SetFlatColor(TColor v);
  int32_t FlatColorAdjustment() const { return flatColorAdjustment_; }
  virtual void SetFlatColorAdjustment(int32_t v);
  TKtHorizontalAlignment ImageAlignment() const { return imageAlignment_; }
  virtual void SetImageAlignment(TKtHorizontalAlignment v);
  int32_t ImageMargin() const { return imageMargin_; }
  virtual void SetImageMargin(int32_t v);
  TKtImagePosition ImagePosition() const { return imagePosition_; }
  virtual void SetImagePosition(TKtImagePosition v);
  TKtVerticalAlignment ImageAlignmentVertical() const { return imageAlignmentVertical_; }
  virtual void SetImageAlignmentVertical(TKtVerticalAlignment v);
  bool HotTrack() const { return hotTrack_; }
  virtual void SetHotTrack(bool v);
  TColor HotTrackColor() const { return hotTrackColor_; }
  virtual void SetHotTrackColor(TColor v);
  TKtTabHotTrackColorSource HotTrackColorSource() const { return hotTrackColorSource_; }
  virtual void SetHotTrackColorSource(TKtTabHotTrackColorSource v);
  TKtHotTrackColorType HotTrackColorType() const { return hotTrackColorType_; }
  virtual void SetHotTrackColorType(TKtHotTrackColorType v);
  TKtTabHotTrackStyle HotTrackStyle() const { return hotTrackStyle_; }
  virtual void SetHotTrackStyle(TKtTabHotTrackStyle v);
  int32_t Margin() const { return margin_; }
  virtual void SetMargin(int32_t v);
  bool MultiLine() const { return multiLine_; }
  virtual void SetMultiLine(bool v);
  bool ParentBackgroundColor() const { return parentBackgroundColor_; }
  virtual void SetParentBackgroundColor(bool v);
  // The parent's colour changed: taken while ParentBackgroundColor holds.
  void ParentColorChanged(TColor parentColor);
  int32_t RowCount() const { return rowCount_; }
  virtual void SetRowCount(int32_t v);
  int32_t RowIndent() const { return rowIndent_; }
  virtual void SetRowIndent(int32_t v);
  int32_t RowOverlap() const { return rowOverlap_; }
  virtual void SetRowOverlap(int32_t v);
  bool ShowFocusRect() const { return showFocusRect_; }
  virtual void SetShowFocusRect(bool v);
  bool ShowShadow() const { return showShadow_; }
  virtual void SetShowShadow(bool v);
  bool SoftCorners() const { return softCorners_; }
  virtual void SetSoftCorners(bool v);
  int32_t TabOverlap() const { return tabOverlap_; }
  virtual void SetTabOverlap(int32_t v);
  TOrientation TextOrientation() const { return textOrientation_; }
  virtual void SetTextOrientation(TOrientation v);
  TKtTabColors& TabColors() { return tabColors_; }
  void SetTabColors(const TKtTabColors& v) { tabColors_.Assign(v); }
  int32_t TabHeight() const { return tabHeight_; }
  virtual void SetTabHeight(int32_t v);
  bool TabHints() const { return tabHints_; }
  virtual void SetTabHints(bool v);
  int32_t TabIndex() const { return tabIndex_; }
  virtual void SetTabIndex(int32_t v);
  TKtTabOrientation TabOrientation() const { return tabOrientation_; }
  virtual void SetTabOrientation(TKtTabOrientation v);
  int32_t TabRegionCacheSize() const { return regionCache_.Capacity(); }
  // -1 or above 0; other values are ignored here (the cache refuses them).
  virtual void SetTabRegionCacheSize(int32_t v);
  TKtTabSequence TabSequence() const { return tabSequence_; }
  virtual void SetTabSequence(TKtTabSequence v);
  TKtTabStyle TabStyle() const { return tabStyle_; }
  virtual void SetTabStyle(TKtTabStyle v);
  int32_t TabWidth() const { return tabWidth_; }
  virtual void SetTabWidth(int32_t v);
  TKtTextColors& TextColors() { return textColors_; }
  void SetTextColors(const TKtTextColors& v) { textColors_.Assign(v); }
  TKtHorizontalAlignment TextAlignment() const { return textAlignment_; }
  void SetTextAlignment(TKtHorizontalAlignment v) { textAlignment_ = v; }
  TKtVerticalAlignment TextAlignmentVertical() const { return textAlignmentVertical_; }
  void SetTextAlignmentVertical(TKtVerticalAlignment v) { textAlignmentVertical_ = v; }
  bool Transparent() const { return transparent_; }
  virtual void SetTransparent(bool v);
  bool UseGradients() const { return useGradients_; }
  virtual void SetUseGradients(bool v);
  // The thickness of one row of tabs; also a stored integer of the form.
  int32_t FixedDimension() const { return fixedDimension_; }
  void SetFixedDimension(int32_t v) { fixedDimension_ = v; }

  // ---- layout state
  bool LayoutStale() const { return layoutStale_; }
  virtual void SetLayoutStale(bool v);
  // Recomputes sizes, rows and places when stale (the start of a paint).
  void UpdateLayout();
  int32_t FirstShownIndex() const { return firstShown_; }
  bool TabsDoNotFit() const { return scrollNeeded_; }
  bool HotTrackOnly() const { return hotTrackOnly_; }

  // ---- geometry (after UpdateLayout)
  TKtRect TabClientRect() const { return TKtRect{0, 0, width_ - 1, height_ - 1}; }
  int32_t StripThickness() const;
  TKtRect TabStripRect() const;
  int32_t StripLength() const;
  TKtRect CardRect(int row) const;
  TKtRect DisplayRect() const;
  // A tab's rectangle in control coordinates.
  TKtRect TabRectInControl(int i) const;
  // A point of tab i's row, strip coordinates, in control coordinates.
  TKtPoint StripToControl(TKtPoint p, int row) const;
  // The tab's outline in control coordinates.
  std::vector<TKtPoint> TabPolygonInControl(int i) const;
  // Where tab i's image and text go, in control coordinates: the tab
  // rectangle inset for its style (less 1 more on every side with
  // ShowFocusRect).
  TKtRect TabContentRect(int i) const;
  bool TabShown(int i) const;
  // Button lengths along the strip (0 without tabs): close and menu buttons
  // m, the scroller 2m - 1.
  int32_t ButtonLength();
  // Their size across the strip (0 without tabs).
  int32_t ButtonThickness();
  // The tab's region, from the cache or made and cached; none for an
  // outline of fewer than 3 points.
  TKtRegion* TabRegion(int i);
  TKtTabRegionCache& RegionCache() { return regionCache_; }
  // The tab at p: the selected tab first (it lies on top), then from the
  // first shown tab on, wrapping round; -1 when none.
  int TabAtPoint(TKtPoint p);
  int32_t Overlap(int32_t d) const;

  // ---- loading
  void BeginLoading() { loading_ = true; }
  // Ends loading: the stored index is not kept; tab 0 (or none) is selected.
  virtual void Loaded();
  // While loading (or reading), setters only store.
  virtual bool Loading() const { return loading_; }

  bool CanChange(int i);

  // The keyboard walk: Home, End and the arrow keys (virtual-key codes).
  // True when the key is one of them and the control has tabs.
  bool KeyDown(uint16_t key);

 protected:
  // Host hooks: the defaults do nothing (or allow).
  virtual void Invalidate() {}
  virtual bool Designing() const { return false; }
  virtual bool DeferTabIndex() { return false; }
  virtual bool DoChanging(int newIndex);
  virtual void DoChange() {}
  virtual void DoPageChange() {}
  virtual void DoTabClick() {}
  virtual void NotifyDesignerModified() {}
  virtual void RepaintScroller() {}
  virtual void ButtonsChanged() {}
  virtual void StopHotTrackTimer() {}
  // Outside loading, vertical text needs a TrueType font.
  virtual void FontMayNeedTrueType() {}
  // The size of an image of the control's image list; false without a list
  // or for an index outside it.
  virtual bool ImageSizeOf(int32_t imageIndex, TKtSize& size);

  // Clears the hot-tracking-only mark and repaints everything.
  void RepaintTabs();
  // Marks the next paint as hot-tracking only (no shadows) and repaints
  // the tab strip alone.
  void RepaintHotTracking();
  // Called by the paint that has served the mark.
  void ClearHotTrackOnly() { hotTrackOnly_ = false; }
  // Host hook: repaint the tab strip; the default repaints everything.
  virtual void InvalidateStrip() { Invalidate(); }
  void Repaint();
  void Relayout() { TabsChanged(); }
  // Scrolling moves the first shown tab of a single row.
  void SetFirstShownIndex(int32_t v) { firstShown_ = v; }
  bool keyboardAsked_ = false;

 private:
  friend class TKtTabColors;
  friend class TKtTextColors;
  TKtSize ContentSize(const TKtTabData& tab);
  TKtSize TabSizeFromContent(TKtSize content) const;
  bool Horizontal() const {
    return tabOrientation_ == TKtTabOrientation::toTop ||
           tabOrientation_ == TKtTabOrientation::toBottom;
  }
  bool RoundOrSquare() const {
    return tabStyle_ == TKtTabStyle::tsRoundCorners || tabStyle_ == TKtTabStyle::tsSquareCorners;
  }
  int32_t ButtonSpace();
  // The height of "A" in the tab font and 4 (and 2 for vertical text).
  int32_t ButtonUnit();
  // A fixed TabHeight (top and bottom tabs, horizontal text) or TabWidth
  // (side tabs, vertical text); 0 when none applies.
  int32_t FixedTabSize() const;
  void ComputeLayout();
  void PlaceTabs(const std::vector<int>& visible, const std::vector<int32_t>& lengths);
  void AlignRows(const std::vector<int>& visible);
  void RotateRowsTo(int i);
  int32_t AlongShift(int row) const;
  TKtRect StripRectToControl(const TKtRect& r, int row) const;
  int32_t AvailableLength();

  TKtTextMeasurer* measurer_ = nullptr;
  TKtRegionFactory regionFactory_;
  TKtTabDataList tabs_;
  TKtTabRegionCache regionCache_;
  TKtTabColors tabColors_{this};
  TKtTextColors textColors_{this};
  int32_t width_ = 300;
  int32_t height_ = 100;

  bool alignTabs_ = false;
  bool allowTabDragging_ = false;
  TColor backgroundColor_ = clKtBtnFace;
  bool boldCurrentTab_ = false;
  TColor buttonColor_ = clKtBtnFace;
  bool cardVisible_ = true;
  bool useColoredTabs_ = false;
  int32_t cutCornerSize_ = 6;
  TColor dragIndicatorColor_ = 0x505050;
  TColor flatColor_ = clKtBtnShadow;
  int32_t flatColorAdjustment_ = 0;
  TKtHorizontalAlignment imageAlignment_ = TKtHorizontalAlignment::haCenter;
  int32_t imageMargin_ = 2;
  TKtImagePosition imagePosition_ = TKtImagePosition::ipLeft;
  TKtVerticalAlignment imageAlignmentVertical_ = TKtVerticalAlignment::vaCenter;
  bool hotTrack_ = true;
  TColor hotTrackColor_ = 0x149BF0;
  TKtTabHotTrackColorSource hotTrackColorSource_ = TKtTabHotTrackColorSource::htcsTabColor;
  TKtHotTrackColorType hotTrackColorType_ = TKtHotTrackColorType::htctActual;
  TKtTabHotTrackStyle hotTrackStyle_ = TKtTabHotTrackStyle::htsTab;
  int32_t margin_ = 0;
  bool multiLine_ = false;
  bool parentBackgroundColor_ = true;
  int32_t rowIndent_ = 5;
  int32_t rowOverlap_ = 5;
  bool showCardFrame_ = true;
  bool showCloseButton_ = false;
  bool showCloseButtonOnActiveTab_ = false;
  bool showMenuButton_ = false;
  bool sortTabMenu_ = true;
  bool showFocusRect_ = true;
  bool showFullFrame_ = true;
  bool showShadow_ = true;
  bool softCorners_ = false;
  int32_t tabOverlap_ = -1;
  TOrientation textOrientation_ = TOrientation::orHorizontal;
  int32_t tabHeight_ = 0;
  bool tabHints_ = false;
  int32_t tabIndex_ = -1;
  TKtTabOrientation tabOrientation_ = TKtTabOrientation::toTop;
  TKtTabSequence tabSequence_ = TKtTabSequence::tsStandard;
  TKtTabStyle tabStyle_ = TKtTabStyle::tsSingleSlant;
  int32_t tabWidth_ = 0;
  TKtHorizontalAlignment textAlignment_ = TKtHorizontalAlignment::haCenter;
  TKtVerticalAlignment textAlignmentVertical_ = TKtVerticalAlignment::vaCenter;
  bool transparent_ = false;
  bool useGradients_ = true;

  int32_t fixedDimension_ = 0;
  int32_t rowCount_ = 1;
  int32_t firstShown_ = 0;
  bool scrollNeeded_ = false;
  bool layoutStale_ = true;
  bool hotTrackOnly_ = false;
  bool loading_ = false;
};

}  // namespace kelm::kit

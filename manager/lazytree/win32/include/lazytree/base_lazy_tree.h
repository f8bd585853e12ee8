// TBaseLazyTree: the tree control. The class library's custom control
// carries the portable node store; this part adds the window (timers, the
// redraw switch), the published events and their dispatchers.
#pragma once

#include <windows.h>
#include <objidl.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "classlib/controls.h"
#include "classlib/graphics.h"
#include "classlib/imglist.h"
#include "classlib/menus.h"
#include "classlib/streams.h"
#include "lazytree/lazy_tree_view.h"
#include "lazytree/paint_geometry.h"
#include "lazytree/tree_animation.h"
#include "lazytree/tree_header.h"
#include "lazytree/tree_options.h"

namespace kelm::lazytree {

using classlib::TCanvas;
using classlib::TColor;
using classlib::TCursor;
using classlib::TCustomImageList;
using classlib::TDragState;
using classlib::TMouseButton;
using classlib::TObject;
using classlib::TPoint;
using classlib::TPopupMenu;
using classlib::TRect;
using classlib::TShiftState;
using classlib::TStream;

class TBaseLazyTree;
// Built by the header, drag and painting parts of the control.
class TLazyTreeColumn;
class ILTDragManager;
struct THeaderPaintInfo;

using TColumnIndex = int;
inline constexpr TColumnIndex NoColumn = -1;
using THeaderPaintElements = uint32_t;
enum TLTCellPaintMode : uint8_t { cpmPaint, cpmGetContentMargin };
enum TItemEraseAction : uint8_t { eaColor, eaDefault, eaNone };
enum TLTExportType : uint8_t { etRTF, etHTML, etText, etExcel, etWord, etCustom };
enum TDropMode : uint8_t { dmNowhere, dmAbove, dmOnNode, dmBelow };
enum TLTDropMarkMode : uint8_t { dmmNone, dmmLeft, dmmRight };
enum TLTImageKind : uint8_t { ikNormal, ikSelected, ikState, ikOverlay };
enum TLTTooltipLineBreakStyle : uint8_t { hlbDefault, hlbForceSingleLine, hlbForceMultiLine };
enum TLTTextType : uint8_t { ttNormal, ttStatic };
enum THintAnimationType : uint8_t { hatNone, hatFade, hatSlide, hatSystemDefault };
using TFormatArray = std::vector<uint16_t>;
using TFormatEtcArray = std::vector<FORMATETC>;

// What a painting pass draws (bits of TLTPaintInfo::PaintOptions).
enum : uint32_t {
  PaintBackground = 0x01,
  PaintColumnColor = 0x02,
  PaintFocusRect = 0x04,
  PaintSelection = 0x08,
  PaintDropMark = 0x10,
  PaintGridLines = 0x20,
  PaintMainOnly = 0x40,
  PaintSelectedOnly = 0x80,
};

// The paint information a cell's painting gets.
struct TLTPaintInfo {
  TCanvas* Canvas = nullptr;
  uint32_t PaintOptions = 0;
  PLazyNode Node = nullptr;
  TColumnIndex Column = NoColumn;
  TRect CellRect{};
  TRect ContentRect{};
  int NodeWidth = 0;
  TAlignment Alignment = TAlignment::taLeftJustify;
  bool RightToLeft = false;
};

// The in-place editor's link: the tree talks to any editor through it.
class ILTEditLink {
 public:
  virtual ~ILTEditLink() = default;
  virtual bool StartEdit() = 0;
  virtual bool AbortEdit() = 0;
  virtual bool CommitEdit() = 0;
  virtual bool PrepareEditor(TBaseLazyTree* tree, PLazyNode node, TColumnIndex column) = 0;
  virtual TRect GetEditBounds() = 0;
  virtual void ForwardMessage(classlib::TMessage& message) = 0;
  virtual void SetEditBounds(TRect r) = 0;
};
// Released when the last holder lets go.
using PLTEditLink = std::shared_ptr<ILTEditLink>;

class TBaseLazyTree : public classlib::TCustomControl,
                      public TLazyTreeView,
                      public TTreeOptionsHost,
                      public THeaderHost {
  CL_DECLARE_CLASS(TBaseLazyTree, TCustomControl)
 public:
  explicit TBaseLazyTree(classlib::TComponent* AOwner);
  ~TBaseLazyTree() override;
  void AfterConstruction() override;
  void BeforeDestruction() override;

  // ---- events (the node store keeps OnChange, OnFreeNode, OnGetNodeDataSize,
  // OnInitChildren, OnInitNode, OnResetNode, OnStateChange,
  // OnStructureChange and OnUpdating)
  using Tree = TBaseLazyTree*;
  using Header = TLTHeader*;
  using Node = PLazyNode;
#define LT_EVENT(Name, ...) classlib::TEvent<__VA_ARGS__> Name;
#define LT_STORE_EVENT(Name)
#define LT_LIBRARY_EVENT(Name)
#include "lazytree/lazy_tree_events.def"
#undef LT_EVENT
#undef LT_STORE_EVENT
#undef LT_LIBRARY_EVENT
  using TLazyTreeModel::OnChange;

  // ---- properties the class library's control lacks
  enum TBevelCut : uint8_t { bvNone, bvLowered, bvRaised, bvSpace };
  enum TBevelKind : uint8_t { bkNone, bkTile, bkSoft, bkFlat };
  uint8_t BevelEdges = 0x0F;  // left, top, right, bottom
  TBevelCut BevelInner = bvRaised;
  TBevelCut BevelOuter = bvLowered;
  TBevelKind BevelKind = bkNone;
  int BevelWidth = 1;
  int ImeMode = 3;  // imDontCare
  std::u16string ImeName;
  bool AutoSize = false;

  // ---- view state the dispatchers read
  TColumnIndex FocusedColumn() const { return focusedColumn_; }
  void SetFocusedNodeDirect(PLazyNode node) { focusedNode_ = node; }
  TColumnIndex EditColumn() const { return editColumn_; }
  void SetEditColumn(TColumnIndex c) { editColumn_ = c; }
  const PLTEditLink& EditLink() const { return editLink_; }
  THintAnimationType HintAnimation = hatSystemDefault;
  TDropMode LastDropMode = dmNowhere;
  TColor DropMarkColor = classlib::clHighlight;
  bool HasAccessible = false;             // an accessibility object is bound
  bool DisableAutoscrollOnFocus = false;  // toDisableAutoscrollOnFocus
  bool CenterScrollIntoView = false;      // toCenterScrollIntoView

  // ---- dispatchers, in the order of their virtual slots
  virtual void DoAdvancedHeaderDraw(THeaderPaintInfo& paintInfo, THeaderPaintElements elements);
  virtual void DoAfterCellPaint(TCanvas* canvas, PLazyNode node, TColumnIndex column,
                                TRect cellRect);
  virtual void DoAfterItemErase(TCanvas* canvas, PLazyNode node, TRect itemRect);
  virtual void DoAfterItemPaint(TCanvas* canvas, PLazyNode node, TRect itemRect);
  virtual void DoAfterPaint(TCanvas* canvas);
  virtual void UpdateAutoScroll(int x, int y);
  virtual bool DoDragAllowed(PLazyNode node, TColumnIndex column);
  virtual void DoBeforeCellPaint(TCanvas* canvas, PLazyNode node, TColumnIndex column,
                                 TLTCellPaintMode mode, TRect cellRect, TRect& contentRect);
  virtual void DoBeforeItemErase(TCanvas* canvas, PLazyNode node, TRect itemRect, TColor& color,
                                 TItemEraseAction& eraseAction);
  virtual bool DoBeforeItemPaint(TCanvas* canvas, PLazyNode node, TRect itemRect);
  virtual void DoBeforePaint(TCanvas* canvas);
  bool CancelEditing() override;
  virtual void DoEditing(PLazyNode node, TColumnIndex column, bool& allowed);
  void DoChecked(PLazyNode node) override;
  bool DoChecking(PLazyNode node, TCheckState& newState) override;
  void DoCollapsed(PLazyNode node) override;
  bool DoCollapsing(PLazyNode node) override;
  virtual void DoColumnClick(TColumnIndex column, TShiftState shift);
  virtual void DoColumnDblClick(TColumnIndex column, TShiftState shift);
  virtual void DoColumnResize(TColumnIndex column);
  int DoCompareNodes(PLazyNode node1, PLazyNode node2, TColumnIndex column) override;
  virtual IDataObject* DoCreateDataObject();
  virtual ILTDragManager* DoCreateDragManager();
  virtual PLTEditLink DoCreateEditor(PLazyNode node, TColumnIndex column);
  virtual bool DoDragOver(TObject* source, TShiftState shift, TDragState state, TPoint pt,
                          TDropMode mode, uint32_t& effect);
  virtual void ExpandDropTarget();
  virtual void DoDragDrop(TObject* source, IDataObject* dataObject, const TFormatArray& formats,
                          TShiftState shift, TPoint pt, uint32_t& effect, TDropMode mode);
  virtual void StartEditing();
  bool EndEditing() override;
  void DoExpanded(PLazyNode node) override;
  bool DoExpanding(PLazyNode node) override;
  virtual void DoFocusChanged(PLazyNode node, TColumnIndex column);
  virtual bool DoFocusChanging(PLazyNode oldNode, PLazyNode newNode, TColumnIndex oldColumn,
                               TColumnIndex newColumn);
  // The one way the focused node changes.
  virtual void FocusNode(PLazyNode node, bool ask);
  virtual THintAnimationType GetHintAnimation();
  // MarginKind 0: both sides summed, 1: top-left, 2: bottom-right.
  virtual TPoint GetCellContentMargin(PLazyNode node, TColumnIndex column, int marginKind,
                                      TCanvas* canvas = nullptr);
  virtual void DoGetCursor(TCursor& cursor);
  virtual void DoGetHeaderCursor(HICON& cursor);
  virtual TCustomImageList* DoGetImageIndex(PLazyNode node, TLTImageKind kind, TColumnIndex column,
                                            bool& ghosted, int& index);
  virtual void DoGetImageText(PLazyNode node, TLTImageKind kind, TColumnIndex column,
                              std::u16string& imageText);
  virtual void DoGetLineStyle(void*& bits);
  virtual std::u16string GetNodeHint(PLazyNode node, TColumnIndex column,
                                     TLTTooltipLineBreakStyle& lineBreakStyle);
  virtual std::u16string GetNodeTooltip(PLazyNode node, TColumnIndex column,
                                        TLTTooltipLineBreakStyle& lineBreakStyle);
  virtual int GetNodeWidth(PLazyNode node, TColumnIndex column, TCanvas* canvas);
  virtual TPopupMenu* DoGetPopupMenu(PLazyNode node, TColumnIndex column, TPoint p);
  virtual void DoGetUserClipboardFormats(TFormatEtcArray& formats);
  virtual void DoHeaderDragged(TColumnIndex column, int oldPosition);
  virtual void DoHeaderDraggedOut(TColumnIndex column, TPoint dropPosition);
  virtual bool DoHeaderDragging(TColumnIndex column);
  virtual void DoHeaderDraw(TCanvas* canvas, TLazyTreeColumn* column, TRect r, bool hover,
                            bool pressed, TLTDropMarkMode dropMark);
  virtual void DoHeaderDrawQueryElements(THeaderPaintInfo& paintInfo,
                                         THeaderPaintElements& elements);
  virtual void DoHeaderMouseDown(TMouseButton button, TShiftState shift, int x, int y);
  virtual void DoHeaderMouseMove(TShiftState shift, int x, int y);
  virtual void DoHeaderMouseUp(TMouseButton button, TShiftState shift, int x, int y);
  virtual void DoHotChange(PLazyNode oldNode, PLazyNode newNode);
  virtual int DoIncrementalSearch(PLazyNode node, const std::u16string& searchText);
  virtual bool DoKeyAction(WORD& charCode, TShiftState& shift);
  void DoLoadNode(PLazyNode node, TStream* stream) override;
  void DoNodeCopied(PLazyNode node) override;
  bool DoNodeCopying(PLazyNode node, PLazyNode target) override;
  virtual bool DoNodeHeightDblClickResize(PLazyNode node, TColumnIndex column, TShiftState shift,
                                          TPoint p);
  virtual bool DoNodeHeightTracking(PLazyNode node, TColumnIndex column, TShiftState shift,
                                    TPoint& trackPoint, TPoint p);
  void DoNodeMoved(PLazyNode node) override;
  bool DoNodeMoving(PLazyNode node, PLazyNode target) override;
  virtual bool DoPaintBackground(TCanvas* canvas, TRect r);
  // A cell's content; nothing in the base tree.
  virtual void DoPaintNode(const TLTPaintInfo& /*paintInfo*/) {}
  virtual void PaintDropMark(TCanvas* canvas, TRect r);
  virtual void ShowPopupMenu(PLazyNode node, TColumnIndex column, TPoint p);
  virtual HRESULT DoRenderOLEData(const FORMATETC& formatEtcIn, STGMEDIUM& medium,
                                  bool isClipboard);
  void DoSaveNode(PLazyNode node, TStream* stream) override;
  virtual void DoScroll(int deltaX, int deltaY);
  // Options of SetOffsetXY.
  enum : uint32_t {
    suoRepaintHeader = 1,
    suoRepaintScrollBars = 2,
    suoScrollClientArea = 4,
    suoUpdateNCArea = 8,
    DefaultScrollUpdateFlags = 15,
  };
  // The one way the scroll offsets change: clamped to the ranges; false
  // when nothing moved.
  virtual bool SetOffsetXY(TPoint value, uint32_t options = DefaultScrollUpdateFlags,
                           TRect clipRect = TRect{});
  int OffsetX() const { return offsetX_; }
  int OffsetY() const { return offsetY_; }
  // Scrollable extents, set by the scrolling part from the node totals and
  // the header.
  int RangeX = 0;
  int RangeY = 0;
  bool RightToLeft = false;
  uint32_t AutoScrollDelay = 1000;
  // Where a node's content starts: margin, one indent per level, then the
  // check box and the images of the lists in use.
  int32_t Margin = 4;
  uint32_t Indent = 18;
  TAlignment Alignment = TAlignment::taLeftJustify;
  // Pixels between a cell's text and its edges.
  int32_t TextMargin = 4;
  using TLTNodeAlignment = lazytree::TLTNodeAlignment;
  static constexpr TLTNodeAlignment naFromBottom = lazytree::naFromBottom;
  static constexpr TLTNodeAlignment naFromTop = lazytree::naFromTop;
  static constexpr TLTNodeAlignment naProportional = lazytree::naProportional;
  TLTNodeAlignment NodeAlignment = naProportional;
  // The property setters: each stores and then refreshes what the value
  // changes (repaint, scroll bars, a new window).
  void SetAlignment(TAlignment value);
  void SetMargin(int32_t value);
  void SetIndent(uint32_t value);
  void SetTextMargin(int32_t value);
  void SetNodeAlignment(TLTNodeAlignment value);
  classlib::TBorderStyle BorderStyle() const { return borderStyle_; }
  void SetBorderStyle(classlib::TBorderStyle value);
  void SetImages(TCustomImageList* value);
  void SetStateImages(TCustomImageList* value);
  void SetNodeDataSizeValue(int32_t value) { SetNodeDataSize(value); }
  void SetRootNodeCountValue(uint32_t value) { SetRootNodeCount(value); }
  uint32_t DefaultNodeHeightValue() const { return DefaultNodeHeight(); }
  void SetDefaultNodeHeightValue(uint32_t value) { SetDefaultNodeHeight(value); }
  void SetNodeHeight(PLazyNode node, uint32_t height);

  // ---- plain published values (no reaction of their own)
  uint32_t AutoExpandDelay = 1000;
  uint32_t AutoScrollInterval = 1;  // 1..1000
  void SetAutoScrollInterval(uint32_t value);
  uint32_t DragHeight = 350;
  uint32_t DragWidth = 200;
  uint32_t EditDelay = 1000;
  uint32_t IncrementalSearchTimeout = 1000;
  uint8_t SelectionBlendFactor = 128;
  bool WantTabs = false;

  // ---- published values whose setters refresh the view
  uint32_t AnimationDuration() const { return animationDuration_; }
  // Not compared: a non-zero value turns the animated toggle on, 0 off.
  void SetAnimationDuration(uint32_t value);
  int BackgroundOffset(int index) const { return backgroundOffset_[index & 1]; }
  void SetBackgroundOffset(int index, int value);
  int BackgroundOffsetX() const { return backgroundOffset_[0]; }
  void SetBackgroundOffsetX(int value) { SetBackgroundOffset(0, value); }
  int BackgroundOffsetY() const { return backgroundOffset_[1]; }
  void SetBackgroundOffsetY(int value) { SetBackgroundOffset(1, value); }
  enum TLTButtonFillMode : uint8_t { fmTreeColor, fmWindowColor, fmShaded, fmTransparent };
  enum TLTButtonStyle : uint8_t { bsRectangle, bsTriangle };
  enum TLTLineMode : uint8_t { lmNormal, lmBands };
  enum TLTLineStyle : uint8_t { lsCustomStyle, lsDotted, lsSolid };
  enum TLTIncrementalSearch : uint8_t { isAll, isNone, isInitializedOnly, isVisibleOnly };
  enum TCheckImageKind : uint8_t {
    ckLightCheck,
    ckDarkCheck,
    ckLightTick,
    ckDarkTick,
    ckCustom,
    ckFlat,
    ckXP,
    ckSystemFlat,
    ckSystemDefault
  };
  TLTButtonFillMode ButtonFillMode() const { return buttonFillMode_; }
  void SetButtonFillMode(TLTButtonFillMode value);
  TLTButtonStyle ButtonStyle() const { return buttonStyle_; }
  void SetButtonStyle(TLTButtonStyle value);
  TLTLineMode LineMode() const { return lineMode_; }
  void SetLineMode(TLTLineMode value);
  TLTLineStyle LineStyle() const { return lineStyle_; }
  void SetLineStyle(TLTLineStyle value);
  uint32_t SelectionCurveRadius() const { return selectionCurveRadius_; }
  void SetSelectionCurveRadius(uint32_t value);
  TLTIncrementalSearch IncrementalSearch() const { return incrementalSearch_; }
  void SetIncrementalSearch(TLTIncrementalSearch value);
  const std::u16string& SearchText() const { return searchText_; }
  TCheckImageKind CheckImageKind() const { return checkImageKind_; }
  void SetCheckImageKind(TCheckImageKind value);
  TCustomImageList* CustomCheckImages() const { return customCheckImages_; }
  void SetCustomCheckImages(TCustomImageList* value);
  // The process-wide check image list of a kind; none for ckCustom (and
  // until the image sets are loaded).
  virtual TCustomImageList* CheckImageListFor(TCheckImageKind /*kind*/) { return nullptr; }
  // The picture behind the nodes (toShowBackground); assigned, never
  // compared.
  classlib::TPicture* Background() const { return background_; }
  void SetBackground(classlib::TPicture* value);
  // The background of r (target coordinates) for a view scrolled by
  // offset: the tree's colour with the picture once at the background
  // offsets, or the picture tiled from them. An empty picture counts as
  // none.
  virtual void PaintStaticBackground(TCanvas* canvas, TRect r, TPoint offset);
  virtual void PaintTiledBackground(TCanvas* canvas, TRect r, TPoint offset);
  // Paints the tree's area window (tree coordinates) onto target at
  // targetPoint, row by row through one 32-bit bitmap; options: the Paint*
  // bits (0x3F for the window, 0x3D for print-client).
  virtual void PaintTree(TCanvas* target, TRect window, TPoint targetPoint, uint32_t paintOptions);
  // Runs step over duration milliseconds (tree_animation.h), inside
  // tsInAnimation; nothing while one runs or for a duration of 0.
  void RunAnimation(uint32_t steps, uint32_t duration, const TAnimationStep& step);
  // The focused column: only a column that can take the focus, and only
  // when OnFocusChanging agrees.
  void SetFocusedColumn(TColumnIndex value);
  // The view's first and last shown node.
  void SetTopNode(PLazyNode node);
  void SetBottomNode(PLazyNode node);
  TCustomImageList* Images = nullptr;
  TCustomImageList* StateImages = nullptr;
  TCustomImageList* CheckImages = nullptr;
  // A cell's rectangle in client coordinates: the row across the tree
  // (Column -1) or the column's cell; with textOnly the part its text
  // takes. Empty for a node that is not shown.
  virtual TRect GetDisplayRect(PLazyNode node, TColumnIndex column, bool textOnly,
                               bool unclipped = false, bool applyCellContentMargin = false);
  // OnGetCellIsEmpty, empty without a handler.
  virtual bool CellIsEmpty(PLazyNode node, TColumnIndex column);
  bool HasImage(PLazyNode node, TLTImageKind kind, TColumnIndex column);
  // Directions the view may scroll to follow the cursor.
  enum : uint8_t { sdLeft = 1, sdUp = 2, sdRight = 4, sdDown = 8 };
  uint8_t ScrollDirections() const { return scrollDirections_; }
  void SetDropTargetNode(PLazyNode node) { dropTargetNode_ = node; }
  void Clear() override;
  virtual void DoShowScrollbar(int bar, bool show);
  void DoHeaderClick(TColumnIndex column, TMouseButton button, TShiftState shift, int x, int y);
  void DoHeaderImageClick(TColumnIndex column, TMouseButton button, TShiftState shift, int x,
                          int y);
  void DoHeaderCheckBoxClick(TColumnIndex column);
  TLTHeader* HeaderObject() const { return header_; }
  void SetHeader(TLTHeader* value) { header_->Assign(value); }
  // The widest content of a column among the visible nodes (with
  // useSmartColumnWidth those in the client area), for auto-fitting.
  virtual int GetMaxColumnWidth(TColumnIndex column, bool useSmartColumnWidth);

  // ---- scrolling and geometry
  // The bars follow the ranges: the vertical one first.
  void UpdateScrollBars(bool doRepaint) override;
  virtual void UpdateVerticalScrollBar(bool doRepaint);
  virtual void UpdateHorizontalScrollBar(bool doRepaint);
  // True when the view moved.
  bool BringNodeIntoView(PLazyNode node, bool center, bool horizontally = false);
  // True for any valid column of a header with visible columns.
  bool BringColumnIntoView(TColumnIndex column, bool center);
  // The horizontal position as the bar shows it (counted from the right
  // edge of the range in a mirrored view).
  int EffectiveOffsetX();
  void SetOffsetX(int value) { SetOffsetXY(TPoint{value, offsetY_}); }
  void SetOffsetY(int value) { SetOffsetXY(TPoint{offsetX_, value}); }
  // Pixels below the last node.
  uint32_t BottomSpace() const { return bottomSpace_; }
  void SetBottomSpace(uint32_t value);
  // The header's strip in window coordinates (empty when it is hidden).
  TRect HeaderRect() const { return headerRect_; }
  virtual void ComputeHeaderRect();
  // The system frame's widths: WS_BORDER, WS_THICKFRAME, WS_EX_CLIENTEDGE.
  virtual TRect BorderInsets();
  // The widest right edge of the nodes in the client area's rows.
  virtual int MaxRightExtent();
  int ButtonWidth = 9;
  void SetDefaultNodeHeight(uint32_t height) override;

  // ---- hit testing
  enum : uint32_t {
    HitAbove = 0x1,
    HitBelow = 0x2,
    HitNowhere = 0x4,
    HitOnItem = 0x8,
    HitOnButtonArea = 0x10,
    HitOnButton = 0x20,
    HitOnCheckBox = 0x40,
    HitOnIndent = 0x80,
    HitOnLabel = 0x100,
    HitLeftOfLabel = 0x200,
    HitRightOfLabel = 0x400,
    HitOnNormalImage = 0x800,
    HitOnStateImage = 0x1000,
    HitLeftOfTree = 0x2000,
    HitRightOfTree = 0x4000,
    HitUpperSplitter = 0x8000,
    HitLowerSplitter = 0x10000,
  };
  struct THitInfo {
    PLazyNode HitNode = nullptr;
    uint32_t HitPositions = 0;
    // -1: no column; -2: no column at that point.
    TColumnIndex HitColumn = NoColumn;
  };
  // Relative: client coordinates, else tree coordinates.
  virtual void GetHitTestInfoAt(int x, int y, bool relative, THitInfo& hitInfo);
  // The position inside the cell; x relative to the cell's left edge,
  // right its width.
  virtual void HitPositionLeftToRight(THitInfo& hitInfo, int x, int right, TAlignment alignment);
  virtual void HitPositionRightToLeft(THitInfo& hitInfo, int x, int right, TAlignment alignment);
  // A nesting counter of long operations (auto-fit, export) that a user
  // may cancel; the first Begin clears an earlier cancel.
  void BeginOperation();
  void EndOperation();
  void CancelOperation() { operationCanceled_ = true; }
  bool OperationCanceled() const { return operationCanceled_ && operationCount_ > 0; }

  // ---- options, scroll bar settings and colours (each change asks the
  // tree, through TTreeOptionsHost, for the refresh it needs)
  TCustomLazyTreeOptions* TreeOptions() const { return treeOptions_; }
  void SetTreeOptions(TCustomLazyTreeOptions* value) { treeOptions_->Assign(value); }
  TScrollBarOptions* ScrollBarOptions() const { return scrollBarOptions_; }
  void SetScrollBarOptions(TScrollBarOptions* value) { scrollBarOptions_->Assign(value); }
  TLTColors* Colors() const { return colors_; }
  void SetColors(TLTColors* value) { colors_->Assign(value); }
  // The options class this tree creates.
  virtual classlib::TClass GetOptionsClass() const { return TStringTreeOptions::StaticClass(); }

  // THeaderHost: the header reads the tree's geometry and asks for refreshes.
  void HeaderView(TTreeGeometry& view) override;
  bool HeaderTreeUpdating() const override { return UpdateCount() > 0; }
  void HeaderRepaintTree() override;
  void HeaderRepaint(int column) override;
  void HeaderRefreshFrame() override;
  void HeaderHeightChanged() override;
  void HeaderUpdateHorizontalScrollBar() override;
  void HeaderColumnResized(int column) override { DoColumnResize(column); }
  bool HeaderCanSplitterResizeColumn(int column, int x, int y, bool allowed) override;
  void HeaderCancelEditing() override { CancelEditing(); }
  void HeaderMainColumnChanged(int column) override;
  void HeaderSortChanged() override;
  uint8_t HeaderBiDiMode() const override { return static_cast<uint8_t>(BiDiMode()); }
  uint32_t HeaderColor() const override { return Color(); }
  bool HeaderTreeFont(THeaderFontValues& font) override;
  void HeaderBeginOperation() override { BeginOperation(); }
  void HeaderEndOperation() override { EndOperation(); }
  bool HeaderOperationCanceled() override { return OperationCanceled(); }
  void HeaderBeforeAutoFitColumns(TSmartAutoFitType& type) override;
  bool HeaderBeforeAutoFitColumn(int column, TSmartAutoFitType& type) override;
  void HeaderAfterAutoFitColumn(int column) override;
  void HeaderAfterAutoFitColumns() override;
  int HeaderWidestContent(int column, bool smart) override {
    return GetMaxColumnWidth(column, smart);
  }
  void HeaderClick(int column, uint8_t button, bool dblClick, int x, int y) override;
  void HeaderImageClick(int column, uint8_t button, bool dblClick, int x, int y) override;
  void HeaderCheckBoxClick(int column) override { DoHeaderCheckBoxClick(column); }
  // Shift, Control and Alt as the keyboard holds them now.
  static TShiftState ReadShiftKeys();

  // The window timers the tree runs now (for diagnostics and tests).
  bool TimerRunning(int id) const;
  void WndProc(classlib::TMessage& message) override;

 protected:
  virtual void WMTimer(classlib::TMessage& m);
  void Loaded() override;
  // "Columns": the header's columns, when there are any.
  void DefineProperties(classlib::TFiler& filer) override;
  void CreateParams(classlib::TCreateParams& params) override;
  // The window made: header layout, scroll bars and the header band.
  void CreateWnd() override;
  // A removed image list is forgotten.
  void Notification(classlib::TComponent* component, classlib::TOperation operation) override;
  // The header's main column; none until the header exists.
  virtual TColumnIndex HeaderMainColumn() const { return header_->Layout().MainColumn(); }

  // TTreeOptionsHost
  bool OptionsLoading() const override { return TComponent::IsLoading(); }
  bool OptionsHaveWindow() const override { return HandleAllocated(); }
  bool OptionsDesigning() const override { return TComponent::IsDesigning(); }
  void OptionsRepaint() override { Invalidate(); }
  void OptionsRecreateWindow() override { RecreateWnd(); }
  // Registration comes with the drag manager.
  void OptionsRegisterDropTarget(bool /*registered*/) override {}
  void OptionsClearSelection() override { ClearSelection(); }
  int OptionsFocusedColumn() const override { return focusedColumn_; }
  void OptionsFocusMainColumn(bool repaint) override;
  void OptionsPaintChanged(TLTPaintOptions old, TLTPaintOptions now) override;
  // The line images come with painting; a repaint draws them anew.
  void OptionsRebuildLineImages() override {}
  void OptionsRedrawFrame() override;
  bool OptionsUpdating() const override { return UpdateCount() > 0; }
  void OptionsStored() override;

  // The update rectangle WM_PAINT recorded, painted in one pass.
  void Paint() override;
  void WMPaint(classlib::TMessage& message) override;
  void WMPrintClient(classlib::TMessage& message) override;
  // Parts of a row, in the row bitmap's coordinates.
  virtual void DrawTreeLinesAt(HDC dc, const TLineImage& lines, TRect cell, int vAlign, int originX,
                               int originY);
  virtual void DrawButtonAt(HDC dc, int x, int y, bool expanded);
  virtual void PaintCellSelection(TCanvas* canvas, TRect inner);

  // The node store's operations bound to the window.
  bool IsDestroying() const override { return TComponent::IsDestroying(); }
  bool IsLoading() const override { return TComponent::IsLoading(); }
  bool IsDesigning() const override { return TComponent::IsDesigning(); }

 public:
  // Nothing inside updates; never erasing.
  void InvalidateNode(PLazyNode node) override;
  void InvalidateToBottom(PLazyNode node) override;
  void InvalidateAll() override;
  // A column's strip of the client area; a node's row painted at once.
  void InvalidateColumn(TColumnIndex column);
  void RepaintNode(PLazyNode node);

 protected:
  void SetUpdateState(bool updating) override;
  void StartTimer(int id, uint32_t ms) override;
  void StopTimer(int id) override;
  void DoMeasureItem(PLazyNode node, int& nodeHeight) override;
  int VerticalOffset() const override { return offsetY_; }

  // Steps of the control's other parts.
  void ScrollIntoView(PLazyNode node, bool center, bool horizontally) override {
    BringNodeIntoView(node, center, horizontally);
  }
  bool ScrollExpandedIntoView(PLazyNode node) override;
  // Range of the view from the node totals (and the header's columns).
  int ComputeRangeX();
  int ComputeRangeY();
  // Frame and header messages, scroll bar messages, resizing.
  void WMNCCalcSize(classlib::TMessage& m);
  void WMNCHitTest(classlib::TMessage& m);
  void WMScroll(classlib::TMessage& m, bool vertical);
  void WMSize(classlib::TMessage& m);
  // The frame ring inside the system border: BorderWidth and the bevels.
  TRect FrameRing();
  // Mirrored horizontal scrolling.
  bool MirroredView() { return RightToLeft || UseRightToLeftAlignment(); }
  virtual void UpdateEditBounds();
  // The scrolling part's answers: where a point asks the view to scroll, and
  // a cell's rectangle in client coordinates.
  virtual uint8_t DetermineScrollDirections(int /*x*/, int /*y*/) { return 0; }
  // The rubber band's view of a node: its content across the main column
  // (or the whole row without columns), in tree coordinates.
  bool GetBandExtent(PLazyNode node, int64_t& left, int64_t& right) override;
  void NotifyAccessible(DWORD event);

 private:
  // The validation thread's state messages go to the window: SendMessage
  // from the thread, served by the window procedure (and by peeking while
  // a halt waits). A tree without a window gets none.
  class TWindowStatesSink final : public TChangeStatesSink {
   public:
    explicit TWindowStatesSink(TBaseLazyTree& tree) : tree_(tree) {}
    void Send(uint32_t enter, uint32_t leave) override;
    void Serve() override;
    void Left(std::atomic<TLazyTreeView*>& current) override { current.store(nullptr); }

   private:
    TBaseLazyTree& tree_;
  };
  // Pixels before a node's text in a cell: margin, indentation and check
  // box (main column or no column) and the images the node shows.
  int64_t ContentLead(PLazyNode node, TColumnIndex column);
  // The text direction and alignment of a column, or the tree's.
  bool ColumnRightToLeft(TColumnIndex column) const;
  TAlignment ColumnAlignment(TColumnIndex column) const;
  int FontCharHeight();
  TWindowStatesSink windowSink_{*this};
  TColumnIndex focusedColumn_ = NoColumn;
  TColumnIndex editColumn_ = NoColumn;
  PLTEditLink editLink_;
  TLTHeader* header_ = nullptr;
  TCustomLazyTreeOptions* treeOptions_ = nullptr;
  TScrollBarOptions* scrollBarOptions_ = nullptr;
  TLTColors* colors_ = nullptr;
  uint32_t timers_ = 0;  // bit n: timer n runs
  int operationCount_ = 0;
  bool operationCanceled_ = false;
  int offsetX_ = 0;
  uint8_t scrollDirections_ = 0;
  int offsetY_ = 0;
  uint32_t bottomSpace_ = 0;
  classlib::TBorderStyle borderStyle_ = classlib::TBorderStyle::bsSingle;
  uint32_t animationDuration_ = 200;
  int backgroundOffset_[2] = {0, 0};
  TLTButtonFillMode buttonFillMode_ = fmTreeColor;
  TLTButtonStyle buttonStyle_ = bsRectangle;
  TLTLineMode lineMode_ = lmNormal;
  TLTLineStyle lineStyle_ = lsDotted;
  uint32_t selectionCurveRadius_ = 0;
  TLTIncrementalSearch incrementalSearch_ = isNone;
  std::u16string searchText_;
  PLazyNode searchStart_ = nullptr;
  TCheckImageKind checkImageKind_ = ckSystemDefault;
  TCustomImageList* customCheckImages_ = nullptr;
  TRect headerRect_{};
  classlib::TPicture* background_ = nullptr;
  TRect updateRect_{};
  classlib::TBitmap* rowBitmap_ = nullptr;  // while PaintTree runs
  void PaintRows(TCanvas* target, TRect window, TPoint targetPoint, uint32_t paintOptions);
};

}  // namespace kelm::lazytree

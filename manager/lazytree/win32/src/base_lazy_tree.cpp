#include "lazytree/base_lazy_tree.h"

#include <algorithm>
#include <thread>

#include "classlib/classdef.h"
#include "lazytree/lazy_tree_error.h"

namespace kelm::lazytree {

// Published in name order, as the stored form lists them.
CL_CLASS(TBaseLazyTree) {
  using C = TBaseLazyTree;
  c.Object("Colors", &C::Colors, &C::SetColors);
  c.Object("Header", &C::HeaderObject, &C::SetHeader);
  c.Object("ScrollBarOptions", &C::ScrollBarOptions, &C::SetScrollBarOptions);
  c.Object("TreeOptions", &C::TreeOptions, &C::SetTreeOptions);
}

TBaseLazyTree::TBaseLazyTree(classlib::TComponent* AOwner)
    : TCustomControl(AOwner), TLazyTreeView(this) {
  using namespace classlib;
  SetChangeStatesSink(&windowSink_);
  SetControlStyle(
      (ControlStyle() - TControlStyle{csSetCaption}) +
      TControlStyle{csCaptureMouse, csOpaque, csReplicatable, csDisplayDragImage, csReflector});
  SetWidth(200);
  SetHeight(100);
  SetTabStop(true);
  SetParentColor(false);
  scrollBarOptions_ = classlib::New<TScrollBarOptions>();
  scrollBarOptions_->SetHost(this);
  header_ = classlib::New<TLTHeader>();
  header_->SetHost(this);
  colors_ = classlib::New<TLTColors>();
  colors_->SetHost(this);
  background_ = classlib::New<classlib::TPicture>();
}

TBaseLazyTree::~TBaseLazyTree() {
  // The window sink goes with this part: the thread must be off the tree.
  HaltCacheValidation();
  SetChangeStatesSink(nullptr);
  classlib::Free(treeOptions_);
  classlib::Free(scrollBarOptions_);
  classlib::Free(colors_);
  classlib::Free(header_);
  classlib::Free(background_);
}

void TBaseLazyTree::TWindowStatesSink::Send(uint32_t enter, uint32_t leave) {
  // WM_NCDESTROY halts first, so the handle outlives every send.
  if (tree_.HandleAllocated())
    SendMessageW(tree_.Handle(), ChangeStatesMessage, enter, static_cast<LPARAM>(leave));
}

void TBaseLazyTree::TWindowStatesSink::Serve() {
  MSG msg;
  // Peeking also delivers the thread's pending sent message.
  if (tree_.HandleAllocated() &&
      PeekMessageW(&msg, tree_.Handle(), ChangeStatesMessage, ChangeStatesMessage, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  } else {
    std::this_thread::yield();
  }
}

void TBaseLazyTree::AfterConstruction() {
  TCustomControl::AfterConstruction();
  // After construction, so that a derived tree's options class is asked.
  treeOptions_ = static_cast<TCustomLazyTreeOptions*>(GetOptionsClass()->Create());
  treeOptions_->SetHost(this);
  OptionsStored();
  CreateRootNode();
}

void TBaseLazyTree::BeforeDestruction() {
  // Owned components and handlers learn first that the tree goes away;
  // the header refreshes nothing from here on.
  Destroying();
  header_->SetHost(nullptr);
  Options.ReadOnly = false;
  CancelEditing();
  editLink_.reset();
  Clear();
  TCustomControl::BeforeDestruction();
  FreeAllNodes();
}

void TBaseLazyTree::Loaded() {
  TCustomControl::Loaded();
  if (States().Contains(tsNeedRootCountUpdate) && RootNode()->ChildCount > 0) {
    // A read-only form still gets its stored nodes.
    const bool readOnly = Options.ReadOnly;
    Options.ReadOnly = false;
    BeginUpdate();
    try {
      ApplyStoredRootNodeCount();
    } catch (...) {
      EndUpdate();
      Options.ReadOnly = readOnly;
      throw;
    }
    EndUpdate();
    Options.ReadOnly = readOnly;
  } else {
    ApplyStoredRootNodeCount();
  }
  // The columns were read with their stored positions unchecked.
  const bool directional =
      treeOptions_ != nullptr && treeOptions_->AutoOptions().Contains(toAutoBidiColumnOrdering);
  BeginUpdate();
  try {
    header_->FinishLoading(directional);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TBaseLazyTree::DefineProperties(classlib::TFiler& filer) {
  TCustomControl::DefineProperties(filer);
  header_->DefineColumns(filer);
  // Forms of old versions keep every option in one set; never written.
  filer.DefineProperty(
      "Options", [this](classlib::TReader& r) { treeOptions_->ReadLegacyOptions(r); },
      [](classlib::TWriter&) {}, false);
}

// ---- window

void TBaseLazyTree::WndProc(classlib::TMessage& message) {
  switch (message.Msg) {
    case WM_TIMER:
      return WMTimer(message);
    case ChangeStatesMessage:
      HandleChangeStates(static_cast<uint32_t>(message.WParam),
                         static_cast<uint32_t>(message.LParam));
      message.Result = 0;
      return;
    case classlib::CM_FONTCHANGED:
      TCustomControl::WndProc(message);
      header_->TreeFontChanged();
      return;
    case classlib::CM_BIDIMODECHANGED:
      TCustomControl::WndProc(message);
      header_->TreeBiDiModeChanged(treeOptions_ != nullptr &&
                                   treeOptions_->AutoOptions().Contains(toAutoBidiColumnOrdering));
      return;
    case WM_NCCALCSIZE:
      return WMNCCalcSize(message);
    case WM_NCHITTEST:
      return WMNCHitTest(message);
    case WM_VSCROLL:
    case WM_HSCROLL:
      return WMScroll(message, message.Msg == WM_VSCROLL);
    case WM_SIZE:
      return WMSize(message);
    case WM_ERASEBKGND:
      // Rows paint their own background.
      message.Result = 1;
      return;
    case WM_PRINTCLIENT:
      return WMPrintClient(message);
    case WM_NCDESTROY:
      // No state message may reach a window that is gone.
      HaltCacheValidation();
      return TCustomControl::WndProc(message);
    default:
      return TCustomControl::WndProc(message);
  }
}

void TBaseLazyTree::WMTimer(classlib::TMessage& m) {
  const int id = static_cast<int>(m.WParam);
  if (id == ChangeTimer || id == StructureChangeTimer) ChangeTimerExpired(id);
}

bool TBaseLazyTree::TimerRunning(int id) const { return (timers_ & (1u << id)) != 0; }

void TBaseLazyTree::StartTimer(int id, uint32_t ms) {
  if (!HandleAllocated()) {
    // Without a window no timer can run: a delayed notice is given at once
    // rather than lost.
    ChangeTimerExpired(id);
    return;
  }
  SetTimer(const_cast<TBaseLazyTree*>(this)->Handle(), static_cast<UINT_PTR>(id), ms, nullptr);
  timers_ |= 1u << id;
}

void TBaseLazyTree::StopTimer(int id) {
  if (!TimerRunning(id)) return;
  timers_ &= ~(1u << id);
  if (HandleAllocated()) KillTimer(Handle(), static_cast<UINT_PTR>(id));
}

void TBaseLazyTree::SetUpdateState(bool updating) {
  if (Visible() && HandleAllocated() && UpdateCount() == 0) {
    SendMessageW(Handle(), WM_SETREDRAW, updating ? FALSE : TRUE, 0);
  }
}

// Inside an update the window is repainted once at its end; the
// invalidations never erase (painting covers every pixel).
void TBaseLazyTree::InvalidateNode(PLazyNode node) {
  if (!HandleAllocated() || UpdateCount() > 0 || !node || node == RootNode()) return;
  // The row as it is now, without initialising a node just reset.
  int64_t top = 0;
  int64_t bottom = 0;
  if (!GetDisplayRows(node, top, bottom, false)) return;
  const int clientHeight = ClientHeight();
  if (bottom <= 0 || top >= clientHeight) return;
  RECT r{0, static_cast<LONG>(std::max<int64_t>(top, 0)), ClientWidth(),
         static_cast<LONG>(std::min<int64_t>(bottom, clientHeight))};
  InvalidateRect(Handle(), &r, FALSE);
}

void TBaseLazyTree::InvalidateToBottom(PLazyNode node) {
  if (!HandleAllocated() || UpdateCount() > 0) return;
  if (!node || node == RootNode() || !node->Has(nsInitialized)) {
    InvalidateRect(Handle(), nullptr, FALSE);
    return;
  }
  int64_t top = 0;
  int64_t bottom = 0;
  if (!GetDisplayRows(node, top, bottom, false)) return;
  if (Options.ChildrenAbove && node->Has(nsExpanded))
    top -= static_cast<int64_t>(node->TotalHeight) - node->NodeHeight;
  // A change above the view moves every row in it: all of them repaint.
  const int clientHeight = ClientHeight();
  if (top >= clientHeight) return;
  RECT r{0, static_cast<LONG>(std::max<int64_t>(top, 0)), ClientWidth(), clientHeight};
  InvalidateRect(Handle(), &r, FALSE);
}

void TBaseLazyTree::InvalidateAll() {
  if (HandleAllocated() && UpdateCount() == 0) InvalidateRect(Handle(), nullptr, FALSE);
}

void TBaseLazyTree::InvalidateColumn(TColumnIndex column) {
  if (!HandleAllocated() || UpdateCount() > 0) return;
  const THeaderLayout& layout = header_->Layout();
  if (!layout.ColumnIndexValid(column) || !layout.Column(column).Visible()) return;
  header_->Layout().SyncView();
  int left = 0;
  int right = 0;
  layout.ColumnEdges(column, left, right);
  RECT r{left, 0, right, ClientHeight()};
  InvalidateRect(Handle(), &r, FALSE);
}

void TBaseLazyTree::RepaintNode(PLazyNode node) {
  if (!HandleAllocated() || UpdateCount() > 0 || !node || node == RootNode()) return;
  const TRect r = GetDisplayRect(node, NoColumn, false);
  // 0x169: invalidate, validate, no erase, no children, update now.
  RedrawWindow(Handle(), &r, nullptr,
               RDW_INVALIDATE | RDW_VALIDATE | RDW_NOERASE | RDW_NOCHILDREN | RDW_UPDATENOW);
}

void TBaseLazyTree::UpdateEditBounds() {}

void TBaseLazyTree::NotifyAccessible(DWORD event) {
  if (HasAccessible && HandleAllocated())
    NotifyWinEvent(event, Handle(), OBJID_CLIENT, CHILDID_SELF);
}

void TBaseLazyTree::DoMeasureItem(PLazyNode node, int& nodeHeight) {
  if (OnMeasureItem) OnMeasureItem(this, Canvas(), node, nodeHeight);
}

// ---- dispatchers

void TBaseLazyTree::DoAdvancedHeaderDraw(THeaderPaintInfo& paintInfo,
                                         THeaderPaintElements elements) {
  if (OnAdvancedHeaderDraw) OnAdvancedHeaderDraw(header_, paintInfo, elements);
}

void TBaseLazyTree::DoAfterCellPaint(TCanvas* canvas, PLazyNode node, TColumnIndex column,
                                     TRect cellRect) {
  if (OnAfterCellPaint) OnAfterCellPaint(this, canvas, node, column, cellRect);
}

void TBaseLazyTree::DoAfterItemErase(TCanvas* canvas, PLazyNode node, TRect itemRect) {
  if (OnAfterItemErase) OnAfterItemErase(this, canvas, node, itemRect);
}

void TBaseLazyTree::DoAfterItemPaint(TCanvas* canvas, PLazyNode node, TRect itemRect) {
  if (OnAfterItemPaint) OnAfterItemPaint(this, canvas, node, itemRect);
}

void TBaseLazyTree::DoAfterPaint(TCanvas* canvas) {
  if (OnAfterPaint) OnAfterPaint(this, canvas);
}

void TBaseLazyTree::UpdateAutoScroll(int x, int y) {
  scrollDirections_ = DetermineScrollDirections(x, y);
  if (States().Contains(tsWheelPanning) || States().Contains(tsWheelScrolling)) return;
  const bool scrolling = States().Contains(tsScrolling) || States().Contains(tsScrollPending);
  if (scrollDirections_ != 0) {
    if (!scrolling) {
      DoStateChange({tsScrollPending});
      StartTimer(ScrollTimer, AutoScrollDelay);
    }
  } else if (scrolling) {
    StopTimer(ScrollTimer);
    DoStateChange({}, {tsScrolling, tsScrollPending});
  }
}

bool TBaseLazyTree::DoDragAllowed(PLazyNode node, TColumnIndex column) {
  bool allowed = false;
  if (OnDragAllowed) OnDragAllowed(this, node, column, allowed);
  return allowed;
}

void TBaseLazyTree::DoBeforeCellPaint(TCanvas* canvas, PLazyNode node, TColumnIndex column,
                                      TLTCellPaintMode mode, TRect cellRect, TRect& contentRect) {
  if (!OnBeforeCellPaint) return;
  if (mode != cpmGetContentMargin || !HandleAllocated()) {
    OnBeforeCellPaint(this, canvas, node, column, mode, cellRect, contentRect);
    return;
  }
  // A handler that draws during a margin query must leave nothing half
  // painted: the pending update area is painted again afterwards.
  RECT update{};
  GetUpdateRect(Handle(), &update, FALSE);
  DoStateChange({tsPainting});
  try {
    OnBeforeCellPaint(this, canvas, node, column, mode, cellRect, contentRect);
  } catch (...) {
    DoStateChange({}, {tsPainting});
    InvalidateRect(Handle(), &update, FALSE);
    throw;
  }
  DoStateChange({}, {tsPainting});
  InvalidateRect(Handle(), &update, FALSE);
}

void TBaseLazyTree::DoBeforeItemErase(TCanvas* canvas, PLazyNode node, TRect itemRect,
                                      TColor& color, TItemEraseAction& eraseAction) {
  if (OnBeforeItemErase) OnBeforeItemErase(this, canvas, node, itemRect, color, eraseAction);
}

bool TBaseLazyTree::DoBeforeItemPaint(TCanvas* canvas, PLazyNode node, TRect itemRect) {
  bool customDraw = false;
  if (OnBeforeItemPaint) OnBeforeItemPaint(this, canvas, node, itemRect, customDraw);
  return customDraw;
}

void TBaseLazyTree::DoBeforePaint(TCanvas* canvas) {
  if (OnBeforePaint) OnBeforePaint(this, canvas);
}

bool TBaseLazyTree::CancelEditing() {
  StopTimer(EditTimer);
  DoStateChange({}, {tsEditPending});
  PLTEditLink link = editLink_;  // held while the editor runs
  if (!States().Contains(tsEditing) || !link || !link->AbortEdit()) return false;
  DoStateChange({}, {tsEditing});
  if (OnEditCancelled) OnEditCancelled(this, editColumn_);
  if (!IsDestroying()) editLink_.reset();
  return true;
}

void TBaseLazyTree::DoEditing(PLazyNode node, TColumnIndex column, bool& allowed) {
  if (OnEditing) OnEditing(this, node, column, allowed);
}

void TBaseLazyTree::DoChecked(PLazyNode node) {
  if (OnChecked) OnChecked(this, node);
  NotifyAccessible(EVENT_OBJECT_STATECHANGE);
}

bool TBaseLazyTree::DoChecking(PLazyNode node, TCheckState& newState) {
  if (Options.ReadOnly) return false;
  bool allowed = true;
  if (OnChecking) OnChecking(this, node, newState, allowed);
  return allowed;
}

void TBaseLazyTree::DoCollapsed(PLazyNode node) {
  if (OnCollapsed) OnCollapsed(this, node);
  NotifyAccessible(EVENT_OBJECT_STATECHANGE);
}

bool TBaseLazyTree::DoCollapsing(PLazyNode node) {
  bool allowed = true;
  if (OnCollapsing) OnCollapsing(this, node, allowed);
  return allowed;
}

void TBaseLazyTree::DoColumnClick(TColumnIndex column, TShiftState shift) {
  if (OnColumnClick) OnColumnClick(this, column, shift);
}

void TBaseLazyTree::DoColumnDblClick(TColumnIndex column, TShiftState shift) {
  if (OnColumnDblClick) OnColumnDblClick(this, column, shift);
}

void TBaseLazyTree::DoColumnResize(TColumnIndex column) {
  if (IsLoading() || !HandleAllocated()) return;
  // Wrapped texts take another height in the new width.
  for (PLazyNode n = GetFirstNoInit(); n; n = GetNextNoInit(n)) {
    if (n->Has(nsInitialized) && n->Has(nsMultiline)) n->Exclude(nsHeightMeasured);
  }
  UpdateHorizontalScrollBar(true);
  if (column > NoColumn) {
    // What the new width moves: the column and everything after it in
    // reading order; spanned text may reach any column.
    if (treeOptions_->AutoOptions().Contains(toAutoSpanColumns)) {
      InvalidateAll();
    } else if (HandleAllocated() && UpdateCount() == 0) {
      header_->Layout().SyncView();
      int left = 0;
      int right = 0;
      header_->Layout().ColumnEdges(column, left, right);
      RECT r{left, 0, ClientWidth(), ClientHeight()};
      if (UseRightToLeftAlignment()) r = RECT{0, 0, right, ClientHeight()};
      InvalidateRect(Handle(), &r, FALSE);
    }
    HeaderRepaint(column);
  }
  if (!States().Contains(tsUpdating) && UpdateCount() == 0 && IsDesigning())
    NotifyDesignerModified();
  if (OnColumnResize) OnColumnResize(header_, column);
  if (States().Contains(tsEditing)) UpdateEditBounds();
}

int TBaseLazyTree::DoCompareNodes(PLazyNode node1, PLazyNode node2, TColumnIndex column) {
  int result = 0;
  if (OnCompareNodes) OnCompareNodes(this, node1, node2, column, result);
  return result;
}

IDataObject* TBaseLazyTree::DoCreateDataObject() {
  IDataObject* result = nullptr;
  if (OnCreateDataObject) OnCreateDataObject(this, result);
  return result;
}

ILTDragManager* TBaseLazyTree::DoCreateDragManager() {
  ILTDragManager* result = nullptr;
  if (OnCreateDragManager) OnCreateDragManager(this, result);
  return result;
}

PLTEditLink TBaseLazyTree::DoCreateEditor(PLazyNode node, TColumnIndex column) {
  PLTEditLink result;
  if (OnCreateEditor) {
    OnCreateEditor(this, node, column, result);
    if (!result) RaiseTreeError(TLazyTreeErrorKind::EditLinkNil);
  }
  return result;
}

bool TBaseLazyTree::DoDragOver(TObject* source, TShiftState shift, TDragState state, TPoint pt,
                               TDropMode mode, uint32_t& effect) {
  bool accept = false;
  if (OnDragOver) OnDragOver(this, source, shift, state, pt, mode, effect, accept);
  return accept;
}

void TBaseLazyTree::ExpandDropTarget() {
  StopTimer(ExpandTimer);
  PLazyNode target = DropTargetNode();
  if (!target || target->Has(nsExpanded)) return;
  if (target->ChildCount == 0 && !target->Has(nsHasChildren)) return;
  // Toggling asks and reports the expansion itself.
  ToggleNode(target);
  if (HandleAllocated()) Update();
}

void TBaseLazyTree::DoDragDrop(TObject* source, IDataObject* dataObject,
                               const TFormatArray& formats, TShiftState shift, TPoint pt,
                               uint32_t& effect, TDropMode mode) {
  if (OnDragDrop) OnDragDrop(this, source, dataObject, formats, shift, pt, effect, mode);
}

void TBaseLazyTree::StartEditing() {
  CancelHint();
  StopTimer(ScrollTimer);
  StopTimer(EditTimer);
  DoStateChange({}, {tsEditPending});
  PLazyNode node = FocusedNode();
  if (!node || node->Has(nsDisabled) || Options.ReadOnly || editLink_) return;
  editLink_ = DoCreateEditor(node, editColumn_);
  if (!editLink_) return;
  DoStateChange({tsEditing}, {tsToggleFocusedSelection, tsClearPending, tsDrawSelPending,
                              tsDrawSelecting, tsMouseCheckPending, tsOLEDragging, tsOLEDragPending,
                              tsScrolling, tsScrollPending});
  ScrollIntoView(node, false, true);
  PLTEditLink link = editLink_;
  if (link->PrepareEditor(this, node, editColumn_)) {
    UpdateEditBounds();
    InvalidateNode(node);
    if (!link->StartEdit()) DoStateChange({}, {tsEditing});
  } else {
    DoStateChange({}, {tsEditing});
  }
  if (!States().Contains(tsEditing)) editLink_.reset();
}

bool TBaseLazyTree::EndEditing() {
  StopTimer(EditTimer);
  bool ended = false;
  PLTEditLink link = editLink_;
  if (States().Contains(tsEditing) && link && link->CommitEdit()) {
    DoStateChange({}, {tsEditing});
    editLink_.reset();
    if (OnEdited) OnEdited(this, FocusedNode(), editColumn_);
    ended = true;
  }
  DoStateChange({}, {tsEditPending});
  return ended;
}

void TBaseLazyTree::DoExpanded(PLazyNode node) {
  if (OnExpanded) OnExpanded(this, node);
  NotifyAccessible(EVENT_OBJECT_STATECHANGE);
}

bool TBaseLazyTree::DoExpanding(PLazyNode node) {
  bool allowed = true;
  if (OnExpanding) OnExpanding(this, node, allowed);
  return allowed;
}

void TBaseLazyTree::DoFocusChanged(PLazyNode node, TColumnIndex column) {
  if (OnFocusChanged) OnFocusChanged(this, node, column);
  for (DWORD event :
       {EVENT_OBJECT_LOCATIONCHANGE, EVENT_OBJECT_NAMECHANGE, EVENT_OBJECT_VALUECHANGE,
        EVENT_OBJECT_STATECHANGE, EVENT_OBJECT_SELECTION, EVENT_OBJECT_FOCUS}) {
    NotifyAccessible(event);
  }
}

bool TBaseLazyTree::DoFocusChanging(PLazyNode oldNode, PLazyNode newNode, TColumnIndex oldColumn,
                                    TColumnIndex newColumn) {
  // Without a header there is no column that could take the focus.
  bool allowed = oldColumn == newColumn;
  if (OnFocusChanging) OnFocusChanging(this, oldNode, newNode, oldColumn, newColumn, allowed);
  return allowed;
}

void TBaseLazyTree::FocusNode(PLazyNode node, bool ask) {
  if (States().Contains(tsEditing) && !EndEditing()) return;
  if (node == RootNode()) node = nullptr;
  PLazyNode old = FocusedNode();
  if (node == old || (ask && !DoFocusChanging(old, node, focusedColumn_, focusedColumn_))) return;
  if (old && node && Options.AutoExpand && old->Parent == node->Parent && old->Has(nsExpanded)) {
    ToggleNode(old);
  } else if (old) {
    InvalidateNode(old);
  }
  focusedNode_ = node;
  if (node) {
    if (Options.AutoExpand && !node->Has(nsExpanded)) ToggleNode(node);
    InvalidateNode(node);
    if (UpdateCount() == 0 && !DisableAutoscrollOnFocus) {
      const TLazyTreeStates buttons{tsLeftButtonDown, tsMiddleButtonDown, tsRightButtonDown};
      ScrollIntoView(node, CenterScrollIntoView && (States() * buttons).Empty(), true);
    }
  }
  if (SelectedCount() == 0) rangeAnchor_ = node;
}

THintAnimationType TBaseLazyTree::GetHintAnimation() {
  THintAnimationType result = HintAnimation;
  if (result == hatSystemDefault) {
    BOOL animation = FALSE;
    BOOL fade = FALSE;
    SystemParametersInfoW(SPI_GETTOOLTIPANIMATION, 0, &animation, 0);
    SystemParametersInfoW(SPI_GETTOOLTIPFADE, 0, &fade, 0);
    result = !animation ? hatNone : fade ? hatFade : hatSlide;
  }
  if (result == hatFade && !IsProcessorFeaturePresent(PF_MMX_INSTRUCTIONS_AVAILABLE))
    result = hatSlide;
  return result;
}

TPoint TBaseLazyTree::GetCellContentMargin(PLazyNode node, TColumnIndex column, int marginKind,
                                           TCanvas* canvas) {
  if (!OnBeforeCellPaint) return TPoint{0, 0};
  const TRect cell = GetDisplayRect(node, column, false);
  TRect content = cell;
  DoBeforeCellPaint(canvas ? canvas : Canvas(), node, column, cpmGetContentMargin, cell, content);
  switch (marginKind) {
    case 1:
      return TPoint{content.left - cell.left, content.top - cell.top};
    case 2:
      return TPoint{cell.right - content.right, cell.bottom - content.bottom};
    default:
      return TPoint{(content.left - cell.left) + (cell.right - content.right),
                    (content.top - cell.top) + (cell.bottom - content.bottom)};
  }
}

void TBaseLazyTree::DoGetCursor(TCursor& cursor) {
  if (OnGetCursor) OnGetCursor(this, cursor);
}

void TBaseLazyTree::DoGetHeaderCursor(HICON& cursor) {
  if (OnGetHeaderCursor) OnGetHeaderCursor(header_, cursor);
}

TCustomImageList* TBaseLazyTree::DoGetImageIndex(PLazyNode node, TLTImageKind kind,
                                                 TColumnIndex column, bool& ghosted, int& index) {
  TCustomImageList* list = nullptr;
  if (OnGetImageIndexEx) {
    OnGetImageIndexEx(this, node, kind, column, ghosted, index, list);
  } else if (OnGetImageIndex) {
    OnGetImageIndex(this, node, kind, column, ghosted, index);
  }
  return list;
}

void TBaseLazyTree::DoGetImageText(PLazyNode node, TLTImageKind kind, TColumnIndex column,
                                   std::u16string& imageText) {
  if (OnGetImageText) OnGetImageText(this, node, kind, column, imageText);
}

void TBaseLazyTree::DoGetLineStyle(void*& bits) {
  if (OnGetLineStyle) OnGetLineStyle(this, bits);
}

std::u16string TBaseLazyTree::GetNodeHint(PLazyNode, TColumnIndex,
                                          TLTTooltipLineBreakStyle& lineBreakStyle) {
  lineBreakStyle = hlbDefault;
  return Hint();
}

std::u16string TBaseLazyTree::GetNodeTooltip(PLazyNode node, TColumnIndex column,
                                             TLTTooltipLineBreakStyle& lineBreakStyle) {
  return GetNodeHint(node, column, lineBreakStyle);
}

int TBaseLazyTree::GetNodeWidth(PLazyNode, TColumnIndex, TCanvas*) { return 0; }

TPopupMenu* TBaseLazyTree::DoGetPopupMenu(PLazyNode node, TColumnIndex column, TPoint p) {
  if (!OnGetPopupMenu) return nullptr;
  TPopupMenu* menu = nullptr;
  bool askParent = true;
  if (!node || node == RootNode()) {
    OnGetPopupMenu(this, nullptr, NoColumn, p, askParent, menu);
    return menu;
  }
  // Up the ancestors while the handler asks for it, never the root.
  for (PLazyNode run = node; run != RootNode() && !menu && askParent; run = run->Parent) {
    OnGetPopupMenu(this, run, column, p, askParent, menu);
  }
  return menu;
}

void TBaseLazyTree::DoGetUserClipboardFormats(TFormatEtcArray& formats) {
  if (OnGetUserClipboardFormats) OnGetUserClipboardFormats(this, formats);
}

void TBaseLazyTree::DoHeaderDragged(TColumnIndex column, int oldPosition) {
  if (OnHeaderDragged) OnHeaderDragged(header_, column, oldPosition);
}

void TBaseLazyTree::DoHeaderDraggedOut(TColumnIndex column, TPoint dropPosition) {
  if (OnHeaderDraggedOut) OnHeaderDraggedOut(header_, column, dropPosition);
}

bool TBaseLazyTree::DoHeaderDragging(TColumnIndex column) {
  bool allowed = true;
  if (OnHeaderDragging) OnHeaderDragging(header_, column, allowed);
  return allowed;
}

void TBaseLazyTree::DoHeaderDraw(TCanvas* canvas, TLazyTreeColumn* column, TRect r, bool hover,
                                 bool pressed, TLTDropMarkMode dropMark) {
  if (OnHeaderDraw) OnHeaderDraw(header_, canvas, column, r, hover, pressed, dropMark);
}

void TBaseLazyTree::DoHeaderDrawQueryElements(THeaderPaintInfo& paintInfo,
                                              THeaderPaintElements& elements) {
  if (OnHeaderDrawQueryElements) OnHeaderDrawQueryElements(header_, paintInfo, elements);
}

void TBaseLazyTree::DoHeaderMouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  if (OnHeaderMouseDown) OnHeaderMouseDown(header_, button, shift, x, y);
}

void TBaseLazyTree::DoHeaderMouseMove(TShiftState shift, int x, int y) {
  if (OnHeaderMouseMove) OnHeaderMouseMove(header_, shift, x, y);
}

void TBaseLazyTree::DoHeaderMouseUp(TMouseButton button, TShiftState shift, int x, int y) {
  if (OnHeaderMouseUp) OnHeaderMouseUp(header_, button, shift, x, y);
}

void TBaseLazyTree::DoHotChange(PLazyNode oldNode, PLazyNode newNode) {
  if (OnHotChange) OnHotChange(this, oldNode, newNode);
}

int TBaseLazyTree::DoIncrementalSearch(PLazyNode node, const std::u16string& searchText) {
  int result = 0;
  if (OnIncrementalSearch) OnIncrementalSearch(this, node, searchText, result);
  return result;
}

bool TBaseLazyTree::DoKeyAction(WORD& charCode, TShiftState& shift) {
  bool doDefault = true;
  if (OnKeyAction) OnKeyAction(this, charCode, shift, doDefault);
  return doDefault;
}

void TBaseLazyTree::DoLoadNode(PLazyNode node, TStream* stream) {
  if (OnLoadNode) OnLoadNode(this, node == RootNode() ? nullptr : node, stream);
}

void TBaseLazyTree::DoNodeCopied(PLazyNode node) {
  if (OnNodeCopied) OnNodeCopied(this, node);
}

bool TBaseLazyTree::DoNodeCopying(PLazyNode node, PLazyNode target) {
  bool allowed = true;
  if (OnNodeCopying) OnNodeCopying(this, node, target, allowed);
  return allowed;
}

bool TBaseLazyTree::DoNodeHeightDblClickResize(PLazyNode node, TColumnIndex column,
                                               TShiftState shift, TPoint p) {
  bool allowed = true;
  if (OnNodeHeightDblClickResize) OnNodeHeightDblClickResize(this, node, column, shift, p, allowed);
  return allowed;
}

bool TBaseLazyTree::DoNodeHeightTracking(PLazyNode node, TColumnIndex column, TShiftState shift,
                                         TPoint& trackPoint, TPoint p) {
  bool allowed = true;
  if (OnNodeHeightTracking) OnNodeHeightTracking(this, node, column, shift, trackPoint, p, allowed);
  return allowed;
}

void TBaseLazyTree::DoNodeMoved(PLazyNode node) {
  if (OnNodeMoved) OnNodeMoved(this, node);
}

bool TBaseLazyTree::DoNodeMoving(PLazyNode node, PLazyNode target) {
  bool allowed = true;
  if (OnNodeMoving) OnNodeMoving(this, node, target, allowed);
  return allowed;
}

bool TBaseLazyTree::DoPaintBackground(TCanvas* canvas, TRect r) {
  bool handled = false;
  if (OnPaintBackground) OnPaintBackground(this, canvas, r, handled);
  return handled;
}

void TBaseLazyTree::PaintDropMark(TCanvas* canvas, TRect r) {
  if (LastDropMode != dmAbove && LastDropMode != dmBelow) return;
  using classlib::Point;
  const classlib::TPenStyle penStyle = canvas->Pen()->Style();
  const TColor brushColor = canvas->Brush()->Color();
  canvas->Pen()->SetStyle(classlib::TPenStyle::psClear);
  canvas->Brush()->SetColor(DropMarkColor);
  const LONG L = r.left, T = r.top, R = r.right, B = r.bottom;
  if (LastDropMode == dmAbove) {
    canvas->Polygon({Point(L + 2, T), Point(R - 2, T), Point(R - 2, T + 6), Point(R - 6, T + 2),
                     Point(L + 6, T + 2), Point(L + 2, T + 6)});
  } else {
    canvas->Polygon({Point(L + 2, B - 1), Point(R - 2, B - 1), Point(R - 2, B - 8),
                     Point(R - 7, B - 3), Point(L + 7, B - 3), Point(L + 2, B - 8)});
  }
  canvas->Pen()->SetStyle(penStyle);
  canvas->Brush()->SetColor(brushColor);
}

void TBaseLazyTree::ShowPopupMenu(PLazyNode node, TColumnIndex column, TPoint p) {
  TPopupMenu* menu = DoGetPopupMenu(node, column, p);
  if (!menu) return;
  DoStateChange({tsPopupMenuShown});
  StopTimer(EditTimer);
  menu->SetPopupComponent(this);
  menu->Popup(p.x, p.y);
}

HRESULT TBaseLazyTree::DoRenderOLEData(const FORMATETC& formatEtcIn, STGMEDIUM& medium,
                                       bool isClipboard) {
  HRESULT result = E_FAIL;
  if (OnRenderOLEData) OnRenderOLEData(this, formatEtcIn, medium, isClipboard, result);
  return result;
}

void TBaseLazyTree::DoSaveNode(PLazyNode node, TStream* stream) {
  if (OnSaveNode) OnSaveNode(this, node == RootNode() ? nullptr : node, stream);
}

void TBaseLazyTree::DoScroll(int deltaX, int deltaY) {
  if (OnScroll) OnScroll(this, deltaX, deltaY);
}

void TBaseLazyTree::Clear() {
  TLazyTreeView::Clear();
  offsetX_ = 0;
  offsetY_ = 0;
}

void TBaseLazyTree::DoShowScrollbar(int bar, bool show) {
  if (HandleAllocated()) ShowScrollBar(Handle(), bar, show ? TRUE : FALSE);
  if (OnShowScrollbar) OnShowScrollbar(this, bar, show);
}

void TBaseLazyTree::DoHeaderClick(TColumnIndex column, TMouseButton button, TShiftState shift,
                                  int x, int y) {
  if (OnHeaderClick) OnHeaderClick(header_, column, button, shift, x, y);
}

void TBaseLazyTree::DoHeaderImageClick(TColumnIndex column, TMouseButton button, TShiftState shift,
                                       int x, int y) {
  if (OnHeaderImageClick) {
    OnHeaderImageClick(header_, column, button, shift, x, y);
  } else if (OnHeaderClick) {
    OnHeaderClick(header_, column, button, shift, x, y);
  }
}

void TBaseLazyTree::DoHeaderCheckBoxClick(TColumnIndex column) {
  if (OnHeaderCheckBoxClick) OnHeaderCheckBoxClick(header_, column);
}

// ---- cell geometry

bool TBaseLazyTree::CellIsEmpty(PLazyNode node, TColumnIndex column) {
  bool empty = true;
  if (OnGetCellIsEmpty) OnGetCellIsEmpty(this, node, column, empty);
  return empty;
}

bool TBaseLazyTree::HasImage(PLazyNode node, TLTImageKind kind, TColumnIndex column) {
  bool ghosted = false;
  int index = -1;
  DoGetImageIndex(node, kind, column, ghosted, index);
  return index >= 0;
}

bool TBaseLazyTree::ColumnRightToLeft(TColumnIndex column) const {
  if (header_->Layout().ColumnIndexValid(column))
    return header_->Columns()->Items(column)->BiDiMode() != TBiDiMode::bdLeftToRight;
  return BiDiMode() != classlib::TBiDiMode::bdLeftToRight;
}

TAlignment TBaseLazyTree::ColumnAlignment(TColumnIndex column) const {
  if (header_->Layout().ColumnIndexValid(column))
    return header_->Columns()->Items(column)->Alignment();
  return Alignment;
}

int64_t TBaseLazyTree::ContentLead(PLazyNode node, TColumnIndex column) {
  int64_t lead = Margin;
  const TLTPaintOptions paint = treeOptions_->PaintOptions();
  if (column <= NoColumn || column == HeaderMainColumn()) {
    const int64_t levels =
        static_cast<int64_t>(GetNodeLevel(node)) + (paint.Contains(toShowRoot) ? 1 : 0);
    lead += levels * static_cast<int64_t>(Indent);
    if (treeOptions_->MiscOptions().Contains(toCheckSupport) && CheckImages &&
        node->CheckType != ctNone)
      lead += CheckImages->Width() + 2;
  }
  if (StateImages && HasImage(node, ikState, column)) lead += StateImages->Width() + 2;
  if (Images && HasImage(node, ikNormal, column)) lead += Images->Width() + 2;
  return lead;
}

int TBaseLazyTree::FontCharHeight() {
  if (!HandleAllocated()) return Font()->Height() < 0 ? -Font()->Height() : Font()->Height();
  HDC dc = GetDC(Handle());
  HGDIOBJ old = SelectObject(dc, Font()->Handle());
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  SelectObject(dc, old);
  ReleaseDC(Handle(), dc);
  return metrics.tmHeight;
}

TRect TBaseLazyTree::GetDisplayRect(PLazyNode node, TColumnIndex column, bool textOnly,
                                    bool unclipped, bool applyCellContentMargin) {
  int64_t top = 0;
  int64_t bottom = 0;
  // Asserts a real node, initialises it and answers whether it is shown.
  if (!GetDisplayRows(node, top, bottom)) return TRect{};
  const THeaderLayout& layout = header_->Layout();
  const bool inColumn = column > NoColumn && layout.ColumnIndexValid(column);
  int64_t left = 0;
  int64_t right = 0;
  if (inColumn) {
    // The column's edges where the header shows it: scrolled unless fixed,
    // flush right in a mirrored view narrower than the client. The next
    // column's first pixel is not part of the cell.
    header_->Layout().SyncView();
    int columnLeft = 0;
    int columnRight = 0;
    layout.ColumnEdges(column, columnLeft, columnRight);
    left = columnLeft;
    right = static_cast<int64_t>(columnRight) - 1;
  } else {
    const int64_t effective = EffectiveOffsetX();
    left = -effective;
    right = static_cast<int64_t>(std::max(ClientWidth(), RangeX)) - effective;
  }
  if (textOnly) {
    const bool rtl = ColumnRightToLeft(inColumn ? column : NoColumn);
    TAlignment align = ColumnAlignment(inColumn ? column : NoColumn);
    if (rtl && align != TAlignment::taCenter)
      align = align == TAlignment::taLeftJustify ? TAlignment::taRightJustify
                                                 : TAlignment::taLeftJustify;
    const int64_t lead = ContentLead(node, inColumn ? column : NoColumn);
    if (rtl) {
      right -= lead;
    } else {
      left += lead;
    }
    if (applyCellContentMargin && OnBeforeCellPaint) {
      const TRect cell{static_cast<int>(left), static_cast<int>(top), static_cast<int>(right),
                       static_cast<int>(bottom)};
      TRect content = cell;
      DoBeforeCellPaint(Canvas(), node, column, cpmGetContentMargin, cell, content);
      left = content.left;
      top = content.top;
      right = content.right;
      bottom = content.bottom;
    }
    const int64_t textWidth = GetNodeWidth(node, column, Canvas());
    // The text's span within the cell by its alignment; a left-aligned
    // span ends `leftEnd` past its start.
    auto placeText = [&](int64_t leftEnd) {
      switch (align) {
        case TAlignment::taRightJustify:
          left = right - textWidth;
          break;
        case TAlignment::taCenter:
          left = (left + right - textWidth) / 2;
          right = left + textWidth;
          break;
        default:
          right = left + leftEnd;
          break;
      }
    };
    if (unclipped) {
      // The text may overflow the cell: it starts at the reading start.
      if (right - left < textWidth - 1)
        align = rtl ? TAlignment::taRightJustify : TAlignment::taLeftJustify;
      placeText(textWidth - 1);
      const int64_t wanted = std::min<int64_t>(FontCharHeight(), NodeHeight(node));
      if (bottom - top < wanted) {
        const int64_t grow = (wanted - (bottom - top) + 1) / 2;
        top -= grow;
        bottom += grow;
      }
    } else if (textWidth < right - left) {
      placeText(textWidth);
    }
  }
  return TRect{static_cast<int>(left), static_cast<int>(top), static_cast<int>(right),
               static_cast<int>(bottom)};
}

bool TBaseLazyTree::GetBandExtent(PLazyNode node, int64_t& left, int64_t& right) {
  // The band lives in tree coordinates (scroll offsets taken out), so the
  // span is taken there too.
  const THeaderLayout& layout = header_->Layout();
  const TColumnIndex main = HeaderMainColumn();
  TBandPlacement placement;
  if (layout.ColumnIndexValid(main)) {
    const TColumnGeometry& geometry = layout.Column(main);
    placement.SpanLeft = geometry.Left;
    placement.SpanRight = static_cast<int64_t>(geometry.Left) + geometry.Width;
  } else {
    placement.SpanRight = ClientWidth();
  }
  const TColumnIndex column = layout.ColumnIndexValid(main) ? main : NoColumn;
  placement.RightToLeft = ColumnRightToLeft(column);
  const TAlignment align = ColumnAlignment(column);
  placement.Alignment = align == TAlignment::taRightJustify ? 1
                        : align == TAlignment::taCenter     ? 2
                                                            : 0;
  placement.Lead = ContentLead(node, column);
  placement.TextWidth = GetNodeWidth(node, column, Canvas());
  if (column != NoColumn && !placement.RightToLeft &&
      treeOptions_->AutoOptions().Contains(toAutoSpanColumns)) {
    // Text may run on over the empty cells that follow.
    for (int next = layout.ShownColumnAfter(column);
         next > NoColumn && !ColumnRightToLeft(next) && CellIsEmpty(node, next);
         next = layout.ShownColumnAfter(next)) {
      const TColumnGeometry& geometry = layout.Column(next);
      placement.SpanRight = static_cast<int64_t>(geometry.Left) + geometry.Width;
    }
  }
  placement.Place(left, right);
  return true;
}

}  // namespace kelm::lazytree

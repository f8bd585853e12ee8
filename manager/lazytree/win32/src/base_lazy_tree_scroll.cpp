// The tree's view geometry: ranges and scroll bars, the offsets, the
// header's band in the non-client area, bringing nodes and columns into
// view, the scroll-bar messages and the hit test.
#include <algorithm>
#include <climits>

#include "lazytree/base_lazy_tree.h"

namespace kelm::lazytree {

namespace {

// Scroll bars and window sizes take 32-bit signed values: a larger range
// is clamped rather than wrapped.
int ClampRange(int64_t value) {
  return static_cast<int>(std::min<int64_t>(std::max<int64_t>(value, 0), INT_MAX));
}

bool ShowsBars(TScrollStyle style, TScrollStyle one) {
  return style == one || style == TScrollStyle::ssBoth;
}

}  // namespace

// ---- ranges and scroll bars

int TBaseLazyTree::ComputeRangeX() {
  const THeaderLayout& layout = header_->Layout();
  if (header_->Options().Contains(hoVisible) && layout.FirstShownColumn() > NoColumn)
    return ClampRange(layout.ColumnsRightEdge());
  return MaxRightExtent();
}

int TBaseLazyTree::ComputeRangeY() {
  PLazyNode root = RootNode();
  if (!root) return 0;
  if (root->TotalHeight < DefaultNodeHeight()) root->TotalHeight = DefaultNodeHeight();
  return ClampRange(static_cast<int64_t>(root->TotalHeight) + bottomSpace_ - root->NodeHeight);
}

int TBaseLazyTree::MaxRightExtent() {
  if (!RootNode()) return 0;
  const TLTPaintOptions paint = treeOptions_->PaintOptions();
  const bool checks = treeOptions_->MiscOptions().Contains(toCheckSupport) && CheckImages;
  int top = 0;
  PLazyNode node = GetNodeAt(0, 0, true, top);
  int64_t result = 0;
  int64_t bottom = top;
  while (node && bottom < Height()) {
    int64_t width =
        (static_cast<int64_t>(GetNodeLevel(node)) + (paint.Contains(toShowRoot) ? 1 : 0)) *
        static_cast<int64_t>(Indent);
    if (StateImages) width += StateImages->Width() + 2;
    if (Images) width += Images->Width() + 2;
    if (checks && node->CheckType != ctNone) width += CheckImages->Width() + 2;
    width += GetNodeWidth(node, NoColumn, nullptr) + Margin;
    result = std::max(result, width);
    bottom += NodeHeight(node);
    node = GetNextVisibleNoInit(node);
  }
  return ClampRange(result);
}

int TBaseLazyTree::EffectiveOffsetX() {
  // Never below 0: a mirrored range narrower than the client stands at the
  // bar's start (the header then places its columns flush right).
  if (MirroredView())
    return std::max(0, RangeX + offsetX_ - (HandleAllocated() ? ClientWidth() : Width()));
  return -offsetX_;
}

void TBaseLazyTree::UpdateScrollBars(bool doRepaint) {
  if (!HandleAllocated()) return;
  UpdateVerticalScrollBar(doRepaint);
  UpdateHorizontalScrollBar(doRepaint);
}

void TBaseLazyTree::UpdateVerticalScrollBar(bool doRepaint) {
  RangeY = ComputeRangeY();
  if (States().Contains(tsUpdating) || !HandleAllocated()) return;
  if (!ShowsBars(scrollBarOptions_->ScrollBars(), TScrollStyle::ssVertical)) {
    DoShowScrollbar(SB_VERT, false);
    // The setter clamps the offset to the new range.
    SetOffsetXY(TPoint{offsetX_, offsetY_});
    return;
  }
  SCROLLINFO info{};
  info.cbSize = sizeof(info);
  info.fMask = SIF_ALL;
  GetScrollInfo(Handle(), SB_VERT, &info);
  const bool always = scrollBarOptions_->AlwaysVisible();
  const int client = ClientHeight();
  BOOL redraw = FALSE;
  if (RangeY > client || always) {
    DoShowScrollbar(SB_VERT, true);
    info.nMin = 0;
    info.nMax = RangeY;
    info.nPos = -offsetY_;
    info.nPage = static_cast<UINT>(std::max(0, client + 1));
    info.fMask = SIF_ALL | (always ? SIF_DISABLENOSCROLL : 0);
    redraw = doRepaint ? TRUE : FALSE;
  } else {
    info.nMin = info.nMax = info.nPos = 0;
    info.nPage = 0;
    info.fMask = SIF_ALL;
    DoShowScrollbar(SB_VERT, false);
  }
  SetScrollInfo(Handle(), SB_VERT, &info, redraw);
  // Windows corrects a position past the new end: the offset follows it.
  SetOffsetXY(TPoint{offsetX_, -GetScrollPos(Handle(), SB_VERT)},
              DefaultScrollUpdateFlags & ~suoUpdateNCArea);
}

void TBaseLazyTree::UpdateHorizontalScrollBar(bool doRepaint) {
  RangeX = ComputeRangeX();
  if (States().Contains(tsUpdating) || !HandleAllocated()) return;
  int effective = EffectiveOffsetX();
  int newOffset = offsetX_;
  if (ShowsBars(scrollBarOptions_->ScrollBars(), TScrollStyle::ssHorizontal)) {
    SCROLLINFO info{};
    info.cbSize = sizeof(info);
    info.fMask = SIF_ALL;
    GetScrollInfo(Handle(), SB_HORZ, &info);
    const bool always = scrollBarOptions_->AlwaysVisible();
    const int client = ClientWidth();
    BOOL redraw = FALSE;
    if (client < RangeX || always) {
      DoShowScrollbar(SB_HORZ, true);
      info.nMin = 0;
      info.nMax = RangeX;
      info.nPos = effective;
      info.nPage = static_cast<UINT>(std::max(0, client + 1));
      info.fMask = SIF_ALL | (always ? SIF_DISABLENOSCROLL : 0);
      redraw = doRepaint ? TRUE : FALSE;
    } else {
      info.nMin = info.nMax = info.nPos = 0;
      info.nPage = 0;
      info.fMask = SIF_ALL;
      DoShowScrollbar(SB_HORZ, false);
    }
    SetScrollInfo(Handle(), SB_HORZ, &info, redraw);
    effective = GetScrollPos(Handle(), SB_HORZ);
    newOffset = MirroredView() ? ClientWidth() + effective - RangeX : -effective;
  } else {
    DoShowScrollbar(SB_HORZ, false);
  }
  SetOffsetXY(TPoint{newOffset, offsetY_}, DefaultScrollUpdateFlags & ~suoUpdateNCArea);
}

void TBaseLazyTree::SetBottomSpace(uint32_t value) {
  if (value == bottomSpace_) return;
  bottomSpace_ = value;
  UpdateVerticalScrollBar(true);
}

void TBaseLazyTree::SetDefaultNodeHeight(uint32_t height) {
  const uint32_t old = DefaultNodeHeight();
  TLazyTreeView::SetDefaultNodeHeight(height);
  if (DefaultNodeHeight() == old) return;
  if (UpdateCount() > 0 || !HandleAllocated() || IsLoading()) return;
  ValidateCache();
  UpdateScrollBars(true);
  if (FocusedNode()) ScrollIntoView(FocusedNode(), CenterScrollIntoView, false);
  Invalidate();
}

// ---- bringing nodes and columns into view

bool TBaseLazyTree::BringNodeIntoView(PLazyNode node, bool center, bool horizontally) {
  if (!node || node == RootNode()) return false;
  // Every collapsed ancestor opens first.
  for (PLazyNode run = node->Parent; run && run != RootNode(); run = run->Parent) {
    if (!run->Has(nsExpanded)) ToggleNode(run);
  }
  const THeaderLayout& layout = header_->Layout();
  const bool columns =
      header_->Options().Contains(hoVisible) && layout.FirstShownColumn() > NoColumn;
  const TColumnIndex column =
      columns && layout.ColumnIndexValid(focusedColumn_) ? focusedColumn_ : NoColumn;
  const bool gridExtensions = treeOptions_->MiscOptions().Contains(toGridExtensions);
  const TRect r = GetDisplayRect(node, column, !gridExtensions);
  const int clientHeight = ClientHeight();
  bool moved = false;
  if (r.top < 0) {
    SetOffsetY(offsetY_ - r.top + (center ? clientHeight / 2 : 0));
    moved = true;
  } else if (r.bottom > clientHeight || center) {
    int y = offsetY_ - r.bottom + (center ? clientHeight / 2 : clientHeight);
    // A horizontal bar that is about to appear takes its height from the view.
    const bool barShown = ShowsBars(scrollBarOptions_->ScrollBars(), TScrollStyle::ssHorizontal) &&
                          (scrollBarOptions_->AlwaysVisible() || ClientWidth() < RangeX);
    if (!columns && !barShown && ClientWidth() < RangeX) y -= GetSystemMetrics(SM_CYHSCROLL);
    SetOffsetY(y);
    moved = true;
  }
  if (horizontally) {
    // BringColumnIntoView answers true for any valid column: only a real
    // change of the offset counts as a move.
    const int before = offsetX_;
    BringColumnIntoView(focusedColumn_, center);
    if (offsetX_ != before) moved = true;
  }
  return moved;
}

bool TBaseLazyTree::BringColumnIntoView(TColumnIndex column, bool center) {
  const THeaderLayout& layout = header_->Layout();
  if (!header_->Options().Contains(hoVisible) || layout.FirstShownColumn() <= NoColumn ||
      !layout.ColumnIndexValid(column))
    return false;
  const int64_t fixed = layout.FixedColumnsWidth();
  const int64_t client = ClientWidth();
  const int64_t effective = EffectiveOffsetX();
  // Where the column is shown now: the steps below move the view from
  // there (measured from the range's start they would scroll a view that
  // is already scrolled the wrong way).
  const int64_t width = layout.Column(column).Width;
  int64_t left = layout.Column(column).Left;
  if (!layout.Column(column).VisibleFixed()) left -= effective;
  int64_t offset = effective;
  if (center) {
    offset = left + effective + width / 2 - fixed / 2 - client / 2;
  } else if (left + width > client) {
    offset = left + width + effective - client;
  } else if (left < fixed) {
    offset = effective + left - fixed;
  }
  if (offset != effective) {
    const int64_t x = MirroredView() ? client + offset - RangeX : -offset;
    SetOffsetX(static_cast<int>(std::max<int64_t>(std::min<int64_t>(x, INT_MAX), INT_MIN)));
  }
  return true;
}

bool TBaseLazyTree::ScrollExpandedIntoView(PLazyNode node) {
  if (!HandleAllocated()) return false;
  int64_t top = 0;
  int64_t bottom = 0;
  if (!GetDisplayRows(node, top, bottom)) return false;
  // The children below the node as far as the client height allows, the
  // node itself kept in view.
  const int64_t overflow = top + node->TotalHeight - ClientHeight();
  if (overflow <= 0 || top <= 0) return false;
  return SetOffsetY(offsetY_ - static_cast<int>(std::min(overflow, top))), true;
}

// ---- the offsets

bool TBaseLazyTree::SetOffsetXY(TPoint value, uint32_t options, TRect clipRect) {
  const int clientWidth = HandleAllocated() ? ClientWidth() : Width();
  const int clientHeight = HandleAllocated() ? ClientHeight() : Height();
  // A range smaller than the client keeps the offset at 0.
  const int x = std::min(0, std::max(static_cast<int>(value.x), clientWidth - RangeX));
  const int y = std::min(0, std::max(static_cast<int>(value.y), clientHeight - RangeY));
  int deltaX = x - offsetX_;
  if (MirroredView()) deltaX = -deltaX;
  const int deltaY = y - offsetY_;
  if (deltaX == 0 && deltaY == 0) return false;
  offsetX_ = x;
  offsetY_ = y;
  CancelHint();
  if (UpdateCount() == 0 && HandleAllocated()) {
    if ((options & suoScrollClientArea) && !States().Contains(tsToggling)) {
      const bool clipped = clipRect.right > clipRect.left && clipRect.bottom > clipRect.top;
      const int fixed = header_->Layout().FixedColumnsWidth();
      if (deltaX != 0 && fixed > 0) {
        // Fixed columns stay: only the part right of them moves sideways.
        RECT right{fixed, 0, clientWidth, clientHeight};
        ScrollWindow(Handle(), deltaX, 0, &right, &right);
        ScrollWindow(Handle(), 0, deltaY, clipped ? &clipRect : nullptr,
                     clipped ? &clipRect : nullptr);
      } else {
        ScrollWindow(Handle(), deltaX, deltaY, clipped ? &clipRect : nullptr,
                     clipped ? &clipRect : nullptr);
      }
    }
    if (options & suoUpdateNCArea) {
      const TScrollStyle bars = scrollBarOptions_->ScrollBars();
      const bool horizontalBars = ShowsBars(bars, TScrollStyle::ssHorizontal);
      if (deltaX != 0) {
        if ((options & suoRepaintHeader) && header_->Options().Contains(hoVisible))
          HeaderRepaint(NoColumn);
        if (!States().Contains(tsSizing) && horizontalBars)
          UpdateHorizontalScrollBar((options & suoRepaintScrollBars) != 0);
      }
      if (deltaY != 0 && !States().Contains(tsSizing) && !States().Contains(tsThumbTracking)) {
        UpdateVerticalScrollBar((options & suoRepaintScrollBars) != 0);
        if (header_->Layout().FirstShownColumn() <= NoColumn &&
            !States().Contains(tsDrawSelecting) && horizontalBars)
          UpdateHorizontalScrollBar((options & suoRepaintScrollBars) != 0);
      }
    }
  }
  DoScroll(deltaX, deltaY);
  return true;
}

// ---- the frame and the header band

TRect TBaseLazyTree::BorderInsets() {
  TRect r{};
  if (!HandleAllocated()) return r;
  const LONG_PTR style = GetWindowLongPtrW(Handle(), GWL_STYLE);
  const LONG_PTR exStyle = GetWindowLongPtrW(Handle(), GWL_EXSTYLE);
  auto add = [&r](int x, int y) {
    r.left += x;
    r.right += x;
    r.top += y;
    r.bottom += y;
  };
  if (style & WS_BORDER) add(1, 1);
  if (style & WS_THICKFRAME) add(GetSystemMetrics(SM_CXDLGFRAME), GetSystemMetrics(SM_CYDLGFRAME));
  if (exStyle & WS_EX_CLIENTEDGE) add(GetSystemMetrics(SM_CXEDGE), GetSystemMetrics(SM_CYEDGE));
  return r;
}

TRect TBaseLazyTree::FrameRing() {
  int bevel = 0;
  if (BevelKind != bkNone) {
    if (BevelInner != bvNone) bevel += BevelWidth;
    if (BevelOuter != bvNone) bevel += BevelWidth;
  }
  const int ring = BorderWidth();
  auto edge = [&](uint8_t bit) { return ring + ((BevelEdges & bit) ? bevel : 0); };
  return TRect{edge(1), edge(2), edge(4), edge(8)};
}

void TBaseLazyTree::ComputeHeaderRect() {
  TRect r{0, 0, Width(), Height()};
  const TRect insets = BorderInsets();
  const TRect ring = FrameRing();
  r.left += insets.left + ring.left;
  r.top += insets.top + ring.top;
  r.right -= insets.right + ring.right;
  r.bottom -= insets.bottom + ring.bottom;
  r.bottom = header_->Options().Contains(hoVisible) ? r.top + header_->Height() : r.top;
  if (r.right < r.left) r = TRect{};
  headerRect_ = r;
}

void TBaseLazyTree::CreateWnd() {
  DoStateChange({tsWindowCreating});
  try {
    TCustomControl::CreateWnd();
  } catch (...) {
    DoStateChange({}, {tsWindowCreating});
    throw;
  }
  DoStateChange({}, {tsWindowCreating});
  THeaderLayout& layout = header_->Layout();
  layout.SyncView();
  if (header_->Options().Contains(hoAutoResize)) layout.FitAutoSizeColumn(false);
  UpdateScrollBars(true);
  ComputeHeaderRect();
}

void TBaseLazyTree::WMNCCalcSize(classlib::TMessage& m) {
  TCustomControl::WndProc(m);
  // The first rectangle is the new client area in both forms of the message.
  auto* r = reinterpret_cast<RECT*>(m.LParam);
  const TRect ring = FrameRing();
  r->left += ring.left;
  r->top += ring.top;
  r->right -= ring.right;
  r->bottom -= ring.bottom;
  if (header_->Options().Contains(hoVisible)) r->top += header_->Height();
  if (r->right < r->left) r->right = r->left;
  if (r->bottom < r->top) r->bottom = r->top;
}

void TBaseLazyTree::WMNCHitTest(classlib::TMessage& m) {
  TCustomControl::WndProc(m);
  if (IsDesigning() || !header_->Options().Contains(hoVisible)) return;
  RECT window{};
  GetWindowRect(Handle(), &window);
  const POINT p{static_cast<short>(LOWORD(m.LParam)) - window.left,
                static_cast<short>(HIWORD(m.LParam)) - window.top};
  ComputeHeaderRect();
  // The header takes the frame's mouse messages.
  if (PtInRect(&headerRect_, p)) m.Result = HTBORDER;
}

void TBaseLazyTree::WMScroll(classlib::TMessage& m, bool vertical) {
  const int code = LOWORD(m.WParam);
  m.Result = 0;
  const int bar = vertical ? SB_VERT : SB_HORZ;
  auto trackPosition = [&] {
    DoStateChange({tsThumbTracking});
    SCROLLINFO info{};
    info.cbSize = sizeof(info);
    info.fMask = SIF_TRACKPOS;
    GetScrollInfo(Handle(), bar, &info);
    return info.nTrackPos;
  };
  if (vertical) {
    const int step = scrollBarOptions_->VerticalIncrement;
    const int page = ClientHeight();
    switch (code) {
      case SB_LINEUP:
        return SetOffsetY(offsetY_ + step), void();
      case SB_LINEDOWN:
        return SetOffsetY(offsetY_ - step), void();
      case SB_PAGEUP:
        return SetOffsetY(offsetY_ + page), void();
      case SB_PAGEDOWN:
        return SetOffsetY(offsetY_ - page), void();
      case SB_TOP:
        return SetOffsetY(0), void();
      case SB_BOTTOM:
        return SetOffsetY(-static_cast<int>(std::min<uint32_t>(RootNode()->TotalHeight, INT_MAX))),
               void();
      case SB_THUMBPOSITION:
      case SB_THUMBTRACK:
        return SetOffsetY(-trackPosition()), void();
      case SB_ENDSCROLL:
        DoStateChange({}, {tsThumbTracking});
        UpdateScrollBars(true);
        RedrawWindow(Handle(), nullptr, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_NOERASE);
        return;
      default:
        return;
    }
  }
  const int r = MirroredView() ? -1 : 1;
  const int step = scrollBarOptions_->HorizontalIncrement;
  const int page = ClientWidth() - header_->Layout().FixedColumnsWidth();
  switch (code) {
    case SB_LINELEFT:
      return SetOffsetX(offsetX_ + r * step), void();
    case SB_LINERIGHT:
      return SetOffsetX(offsetX_ - r * step), void();
    case SB_PAGELEFT:
      return SetOffsetX(offsetX_ + r * page), void();
    case SB_PAGERIGHT:
      return SetOffsetX(offsetX_ - r * page), void();
    case SB_LEFT:
      return SetOffsetX(0), void();
    case SB_RIGHT:
      return SetOffsetX(-RangeX), void();
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK: {
      const int pos = trackPosition();
      return SetOffsetX(MirroredView() ? ClientWidth() + pos - RangeX : -pos), void();
    }
    case SB_ENDSCROLL:
      DoStateChange({}, {tsThumbTracking});
      UpdateHorizontalScrollBar(true);
      return;
    default:
      return;
  }
}

void TBaseLazyTree::WMSize(classlib::TMessage& m) {
  TCustomControl::WndProc(m);
  if (!HandleAllocated() || States().Contains(tsSizing) || States().Contains(tsWindowCreating) ||
      ClientHeight() < 1)
    return;
  DoStateChange({tsSizing});
  try {
    THeaderLayout& layout = header_->Layout();
    layout.SyncView();
    ComputeHeaderRect();
    if (header_->Options().Contains(hoAutoResize)) layout.FitAutoSizeColumn(false);
    layout.ApplySpringWidth(headerRect_.right - headerRect_.left);
    UpdateScrollBars(true);
  } catch (...) {
    DoStateChange({}, {tsSizing});
    throw;
  }
  DoStateChange({}, {tsSizing});
}

// ---- hit testing

void TBaseLazyTree::GetHitTestInfoAt(int x, int y, bool relative, THitInfo& hitInfo) {
  hitInfo = THitInfo{};
  const int64_t width = std::max(ClientWidth(), RangeX);
  const int64_t height = std::max(ClientHeight(), RangeY);
  if (x < 0) {
    hitInfo.HitPositions |= HitLeftOfTree;
  } else if (x > width) {
    hitInfo.HitPositions |= HitRightOfTree;
  }
  if (y < 0) {
    hitInfo.HitPositions |= HitAbove;
  } else if (y > height) {
    hitInfo.HitPositions |= HitBelow;
  }
  if (hitInfo.HitPositions != 0) return;
  THeaderLayout& layout = header_->Layout();
  const bool columns =
      header_->Options().Contains(hoVisible) && layout.FirstShownColumn() > NoColumn;
  int64_t treeX = x;
  int64_t treeY = y;
  if (relative) {
    // The bar's position: a mirrored view counts it from the range's start
    // too, so cells and display rectangles agree.
    if (x >= layout.FixedColumnsWidth()) treeX += EffectiveOffsetX();
    treeY -= offsetY_;
    if (columns) {
      // Columns narrower than a mirrored view stand flush right.
      layout.SyncView();
      treeX -= layout.MirroredShift();
    }
  }
  int nodeTop = 0;
  PLazyNode node =
      GetNodeAt(0, static_cast<int>(std::min<int64_t>(treeY, INT_MAX)), false, nodeTop);
  if (!node) {
    hitInfo.HitPositions = HitNowhere;
    return;
  }
  if (!node->Has(nsInitialized)) InitNode(node);
  hitInfo.HitNode = node;
  int64_t left = 0;
  int64_t right = width;
  TColumnIndex column = NoColumn;
  if (columns) {
    column = -2;
    for (int c : layout.ShownColumnsInOrder()) {
      const TColumnGeometry& g = layout.Column(c);
      if (treeX >= g.Left && treeX < static_cast<int64_t>(g.Left) + g.Width) {
        column = c;
        left = g.Left;
        right = static_cast<int64_t>(g.Left) + g.Width;
        break;
      }
    }
    if (column == -2) {
      hitInfo.HitColumn = column;
      hitInfo.HitPositions = HitNowhere;
      return;
    }
    if (treeOptions_->AutoOptions().Contains(toAutoSpanColumns)) {
      // Text spills over empty cells: the cell grows over them.
      TColumnIndex first = column;
      while (CellIsEmpty(node, first)) {
        const int before = layout.ShownColumnBefore(first);
        if (before <= NoColumn) break;
        first = before;
      }
      left = layout.Column(first).Left;
      for (int next = layout.ShownColumnAfter(column); next > NoColumn && CellIsEmpty(node, next);
           next = layout.ShownColumnAfter(next)) {
        right = static_cast<int64_t>(layout.Column(next).Left) + layout.Column(next).Width;
      }
      column = first;
    }
  }
  hitInfo.HitColumn = column;
  hitInfo.HitPositions = HitOnItem;
  const int64_t rowY = treeY - nodeTop;
  if (treeOptions_->MiscOptions().Contains(toNodeHeightResize)) {
    if (rowY < 2) {
      hitInfo.HitPositions |= HitUpperSplitter;
    } else if (rowY >= NodeHeight(node) - 3) {
      hitInfo.HitPositions |= HitLowerSplitter;
    }
  }
  const int cellX = static_cast<int>(treeX - left);
  const int cellRight = static_cast<int>(right - left);
  if (ColumnRightToLeft(column)) {
    HitPositionRightToLeft(hitInfo, cellX, cellRight, ColumnAlignment(column));
  } else {
    HitPositionLeftToRight(hitInfo, cellX, cellRight, ColumnAlignment(column));
  }
}

void TBaseLazyTree::HitPositionLeftToRight(THitInfo& hitInfo, int x, int right,
                                           TAlignment alignment) {
  PLazyNode node = hitInfo.HitNode;
  const TColumnIndex column = hitInfo.HitColumn;
  const TLTPaintOptions paint = treeOptions_->PaintOptions();
  const bool main = column <= NoColumn || column == HeaderMainColumn();
  int64_t indent = 0;
  if (main) {
    if (paint.Contains(toFixedIndent)) {
      indent = Indent;
    } else {
      indent = (static_cast<int64_t>(GetNodeLevel(node)) + (paint.Contains(toShowRoot) ? 1 : 0)) *
               static_cast<int64_t>(Indent);
    }
  }
  if (x < indent) {
    if (paint.Contains(toShowButtons) && (node->ChildCount > 0 || node->Has(nsHasChildren)) &&
        x >= indent - Indent) {
      hitInfo.HitPositions |= HitOnButtonArea;
      if (x >= indent - ButtonWidth) hitInfo.HitPositions |= HitOnButton;
    }
    return;
  }
  if (!main && treeOptions_->MiscOptions().Contains(toReportMode)) return;
  indent += Margin;
  if (main && treeOptions_->MiscOptions().Contains(toCheckSupport) && CheckImages &&
      node->CheckType != ctNone) {
    indent += CheckImages->Width() + 2;
    if (x < indent) {
      hitInfo.HitPositions |= HitOnCheckBox;
      return;
    }
  }
  if (StateImages && HasImage(node, ikState, column)) {
    indent += StateImages->Width() + 2;
    if (x < indent) {
      hitInfo.HitPositions |= HitOnStateImage;
      return;
    }
  }
  if (Images && HasImage(node, ikNormal, column)) {
    indent += Images->Width() + 2;
    if (x < indent) {
      hitInfo.HitPositions |= HitOnNormalImage;
      return;
    }
  }
  const int64_t w = GetNodeWidth(node, column, nullptr);
  if (right - indent < w) {
    hitInfo.HitPositions |= HitOnLabel;
    return;
  }
  switch (alignment) {
    case TAlignment::taRightJustify:
      hitInfo.HitPositions |= x < right - w ? HitLeftOfLabel : HitOnLabel;
      return;
    case TAlignment::taCenter: {
      const int64_t start = (right + indent - w) / 2;
      hitInfo.HitPositions |= x < start       ? HitLeftOfLabel
                              : x < start + w ? HitOnLabel
                                              : HitRightOfLabel;
      return;
    }
    default:
      hitInfo.HitPositions |= x < indent + w ? HitOnLabel : HitRightOfLabel;
      return;
  }
}

void TBaseLazyTree::HitPositionRightToLeft(THitInfo& hitInfo, int x, int right,
                                           TAlignment alignment) {
  // The cell read from its right edge: the same walk on the mirrored x.
  // An alignment mirrored on the screen is the same alignment in the
  // mirrored walk.
  const int flippedX = right - 1 - x;
  const uint32_t before = hitInfo.HitPositions;
  HitPositionLeftToRight(hitInfo, flippedX, right, alignment);
  // Left and right of the label swap back to the screen's sides.
  const uint32_t added = hitInfo.HitPositions & ~before;
  if (added & (HitLeftOfLabel | HitRightOfLabel)) {
    hitInfo.HitPositions &= ~(HitLeftOfLabel | HitRightOfLabel);
    if (added & HitLeftOfLabel) hitInfo.HitPositions |= HitRightOfLabel;
    if (added & HitRightOfLabel) hitInfo.HitPositions |= HitLeftOfLabel;
  }
}

// ---- the widest content of a column

int TBaseLazyTree::GetMaxColumnWidth(TColumnIndex column, bool useSmartColumnWidth) {
  const THeaderLayout& layout = header_->Layout();
  if (OperationCanceled()) return layout.ColumnIndexValid(column) ? layout.Column(column).Width : 0;
  BeginOperation();
  int64_t result = 0;
  try {
    if (OnBeforeGetMaxColumnWidth) OnBeforeGetMaxColumnWidth(header_, column, useSmartColumnWidth);
    const int imageWidth = Images ? Images->Width() + 2 : 0;
    const int stateWidth = StateImages ? StateImages->Width() + 2 : 0;
    const int checkWidth = CheckImages ? CheckImages->Width() + 2 : 0;
    PLazyNode node = nullptr;
    PLazyNode last = nullptr;
    if (useSmartColumnWidth) {
      int top = 0;
      node = GetNodeAt(0, 0, true, top);
      PLazyNode bottom =
          GetNodeAt(0, HandleAllocated() ? ClientHeight() - 1 : Height() - 1, true, top);
      last = bottom ? GetNextVisible(bottom) : nullptr;
    } else {
      node = GetFirstVisible();
    }
    const TLTPaintOptions paint = treeOptions_->PaintOptions();
    const bool main = column == HeaderMainColumn();
    const bool fixedIndent = paint.Contains(toFixedIndent);
    const bool checks = main && treeOptions_->MiscOptions().Contains(toCheckSupport) && CheckImages;
    int64_t indent = 0;
    if (main && node) {
      indent = fixedIndent ? static_cast<int64_t>(Indent)
                           : static_cast<int64_t>(Indent) *
                                 (GetNodeLevel(node) + (paint.Contains(toShowRoot) ? 1 : 0));
    }
    indent += Margin;
    while (node && node != last && !OperationCanceled()) {
      int64_t width = indent;
      if (checks && node->CheckType != ctNone) width += checkWidth;
      if (Images && HasImage(node, ikNormal, column)) width += imageWidth;
      if (StateImages && HasImage(node, ikState, column)) width += stateWidth;
      width += GetNodeWidth(node, column, nullptr);
      width += GetCellContentMargin(node, column, 0).x;
      result = std::max(result, width);
      PLazyNode next = GetNextVisible(node);
      if (next && main && !fixedIndent)
        indent += static_cast<int64_t>(Indent) *
                  (static_cast<int64_t>(GetNodeLevel(next)) - GetNodeLevel(node));
      node = next;
    }
    if (paint.Contains(toShowVertGridLines)) ++result;
    int answer = ClampRange(result);
    if (OnAfterGetMaxColumnWidth) OnAfterGetMaxColumnWidth(header_, column, answer);
    result = answer;
  } catch (...) {
    EndOperation();
    throw;
  }
  EndOperation();
  return static_cast<int>(result);
}

}  // namespace kelm::lazytree

// Row painting: each visible row of the painted area is composed in one
// reused 32-bit bitmap (background, selection, tree lines, buttons, the
// cell contents, the focus rectangle) and copied to the target once; the
// area below the last row gets the background. The window's paint, erase
// and print-client messages come here.
#include <algorithm>

#include "lazytree/base_lazy_tree.h"
#include "lazytree/blend_rect.h"

namespace kelm::lazytree {

namespace {

bool IsEmptyRect(const TRect& r) { return r.right <= r.left || r.bottom <= r.top; }

// A one-pixel checkerboard over the tree's colour: pixel (x, y) of the
// tree's own coordinates is drawn when x + y is even, so lines continue
// from row to row and across separately painted areas.
void DottedLine(HDC dc, int x1, int y1, int x2, int y2, COLORREF color, int originX, int originY,
                bool dotted) {
  if (x1 > x2) std::swap(x1, x2);
  if (y1 > y2) std::swap(y1, y2);
  for (int y = y1; y <= y2; ++y)
    for (int x = x1; x <= x2; ++x)
      if (!dotted || ((x + originX + y + originY) & 1) == 0) SetPixelV(dc, x, y, color);
}

}  // namespace

void TBaseLazyTree::DrawTreeLinesAt(HDC dc, const TLineImage& lines, TRect cell, int vAlign,
                                    int originX, int originY) {
  const COLORREF color = classlib::ColorToRGB(static_cast<TColor>(Colors()->Color(5)));
  const bool dotted = LineStyle() != lsSolid;
  const int indent = static_cast<int>(Indent);
  const int half = indent / 2;
  const int bottom = cell.bottom - 1;
  for (size_t level = 0; level < lines.size(); ++level) {
    const int x = cell.left + static_cast<int>(level) * indent;
    const int xm = x + half;
    const int right = x + indent - 1;
    auto line = [&](int x1, int y1, int x2, int y2) {
      DottedLine(dc, x1, y1, x2, y2, color, originX, originY, dotted);
    };
    switch (lines[level]) {
      case ltBottomRight:
        line(xm, vAlign, xm, bottom);
        line(xm, vAlign, right, vAlign);
        break;
      case ltTopDown:
        line(xm, cell.top, xm, bottom);
        break;
      case ltTopDownRight:
        line(xm, cell.top, xm, bottom);
        line(xm, vAlign, right, vAlign);
        break;
      case ltRight:
        line(xm, vAlign, right, vAlign);
        break;
      case ltTopRight:
        line(xm, cell.top, xm, vAlign);
        line(xm, vAlign, right, vAlign);
        break;
      case ltLeft:
        line(x, cell.top, x, bottom);
        break;
      case ltLeftBottom:
        line(x, cell.top, x, bottom);
        line(x, bottom, right, bottom);
        break;
      default:
        break;
    }
  }
}

void TBaseLazyTree::DrawButtonAt(HDC dc, int x, int y, bool expanded) {
  // The rectangle style: a frame in the line colour filled with the tree's
  // colour, a minus, and for a collapsed node the plus's upright.
  const int size = ButtonWidth;
  const COLORREF frame = classlib::ColorToRGB(static_cast<TColor>(Colors()->Color(5)));
  const COLORREF fill = classlib::ColorToRGB(Color());
  const COLORREF glyph = classlib::ColorToRGB(Font()->Color());
  for (int dy = 0; dy < size; ++dy)
    for (int dx = 0; dx < size; ++dx) {
      const bool edge = dx == 0 || dy == 0 || dx == size - 1 || dy == size - 1;
      SetPixelV(dc, x + dx, y + dy, edge ? frame : fill);
    }
  const int mid = size / 2;
  for (int d = 2; d <= size - 3; ++d) {
    SetPixelV(dc, x + d, y + mid, glyph);
    if (!expanded) SetPixelV(dc, x + mid, y + d, glyph);
  }
}

void TBaseLazyTree::PaintCellSelection(TCanvas* canvas, TRect inner) {
  const bool focusedLook = Focused() || treeOptions_->PaintOptions().Contains(toPopupMode);
  const TColor fill = static_cast<TColor>(Colors()->Color(focusedLook ? 3 : 6));
  const TColor border = static_cast<TColor>(Colors()->Color(focusedLook ? 9 : 10));
  if (treeOptions_->PaintOptions().Contains(toUseBlendedSelection)) {
    HDC dc = canvas->Handle();
    classlib::TBitmap* bitmap = rowBitmap_;
    TRect r = inner;
    r.left = std::max<LONG>(r.left, 0);
    r.top = std::max<LONG>(r.top, 0);
    r.right = std::min<LONG>(r.right, bitmap->Width());
    r.bottom = std::min<LONG>(r.bottom, bitmap->Height());
    if (IsEmptyRect(r)) return;
    BlendRect(dc, dc, r, TPoint{r.left, r.top}, BlendColor, SelectionBlendFactor,
              static_cast<int32_t>(classlib::ColorToRGB(fill)));
    return;
  }
  canvas->Brush()->SetColor(fill);
  canvas->Pen()->SetColor(border);
  const int radius = static_cast<int>(SelectionCurveRadius());
  canvas->RoundRect(inner.left, inner.top, inner.right, inner.bottom, radius, radius);
}

void TBaseLazyTree::PaintTree(TCanvas* target, TRect window, TPoint targetPoint,
                              uint32_t paintOptions) {
  if (States().Contains(tsPainting)) return;
  DoStateChange({tsPainting});
  rowBitmap_ = classlib::New<classlib::TBitmap>();
  try {
    PaintRows(target, window, targetPoint, paintOptions);
  } catch (...) {
    classlib::Free(rowBitmap_);
    rowBitmap_ = nullptr;
    DoStateChange({}, {tsPainting});
    throw;
  }
  classlib::Free(rowBitmap_);
  rowBitmap_ = nullptr;
  DoStateChange({}, {tsPainting});
}

void TBaseLazyTree::PaintRows(TCanvas* target, TRect window, TPoint targetPoint,
                              uint32_t paintOptions) {
  DoBeforePaint(target);
  const TLTPaintOptions paint = treeOptions_->PaintOptions();
  const bool fullRow = treeOptions_->SelectionOptions().Contains(toFullRowSelect);
  const bool gridExtensions = treeOptions_->MiscOptions().Contains(toGridExtensions);
  if (paint.Contains(toAlwaysHideSelection) || (!Focused() && paint.Contains(toHideSelection)))
    paintOptions &= ~PaintSelection;
  if (paint.Contains(toHideFocusRect)) paintOptions &= ~PaintFocusRect;
  const THeaderLayout& layout = header_->Layout();
  const bool useColumns = layout.Count() > 0;
  const TColumnIndex mainColumn = useColumns ? HeaderMainColumn() : NoColumn;
  const int width = window.right - window.left;
  classlib::TBitmap* bitmap = rowBitmap_;
  bitmap->SetPixelFormat(classlib::TPixelFormat::pf32bit);
  TCanvas* canvas = bitmap->Canvas();
  HDC targetDC = target->Handle();
  const int windowBottomInTarget = targetPoint.y + (window.bottom - window.top);

  int nodeTop = 0;
  PLazyNode node = GetNodeAt(0, window.top, false, nodeTop);
  int rowTop = targetPoint.y + (node ? nodeTop - window.top : 0);

  while (node != nullptr && rowTop < windowBottomInTarget) {
    const int height = static_cast<int>(NodeHeight(node));
    const uint32_t levels = GetNodeLevel(node) + (paint.Contains(toShowRoot) ? 1 : 0);
    const TLineImage lines =
        GetLineImage(*this, node, paint.Contains(toShowTreeLines), paint.Contains(toShowRoot),
                     paint.Contains(toChildrenAbove));
    int selectionLevel = 0;
    for (PLazyNode p = node->Parent; p != nullptr && p != RootNode(); p = p->Parent)
      if (p->Has(nsSelected)) ++selectionLevel;
    if (node->Has(nsSelected) && !paint.Contains(toChildrenAbove)) ++selectionLevel;
    if ((paintOptions & PaintSelectedOnly) == 0 || selectionLevel > 0) {
      if (bitmap->Height() != height) {
        // Height 0 first: a resized row starts cleared.
        bitmap->SetSize(width, 0);
        bitmap->SetSize(width, height);
      } else if (bitmap->Width() != width) {
        bitmap->SetSize(width, height);
      }
      HDC dc = canvas->Handle();
      const int buttonHeight = paint.Contains(toShowButtons) ? ButtonWidth : 0;
      const int imageHeight = Images ? Images->Height() : (StateImages ? StateImages->Height() : 0);
      const int vAlign =
          ComputeVAlign(NodeAlignment, node->Align, height, imageHeight, buttonHeight);
      const TRect itemRect{0, 0, width, height};
      if (!DoBeforeItemPaint(canvas, node, itemRect)) {
        TColor eraseColor = Color();
        TItemEraseAction action = eaDefault;
        DoBeforeItemErase(canvas, node, itemRect, eraseColor, action);
        if (action != eaNone) {
          canvas->Brush()->SetColor(action == eaColor ? eraseColor : Color());
          canvas->FillRect(itemRect);
        }
        DoAfterItemErase(canvas, node, itemRect);

        // Cells in display order; without columns one cell spans the row.
        const std::vector<int32_t>& order = layout.PositionToIndex();
        const size_t cellCount = useColumns ? order.size() : 1;
        for (size_t position = 0; position < cellCount; ++position) {
          const TColumnIndex column = useColumns ? order[position] : NoColumn;
          TRect cell{-window.left, 0, width - window.left, height};
          if (useColumns) {
            const TColumnGeometry& geometry = layout.Column(column);
            if (!geometry.Visible()) continue;
            if ((paintOptions & PaintMainOnly) != 0 && column != mainColumn) continue;
            cell.left = geometry.Left - window.left;
            cell.right = cell.left + geometry.Width;
          }
          if (cell.left >= width) break;
          if (cell.right <= 0) continue;
          const bool isMain = !useColumns || column == mainColumn;
          uint32_t cellOptions = paintOptions;
          if (States().Contains(tsEditing) && node == FocusedNode() &&
              (column == editColumn_ || !useColumns))
            cellOptions &= ~PaintSelection;
          TLTPaintInfo info;
          info.Canvas = canvas;
          info.Node = node;
          info.Column = column;
          info.CellRect = cell;
          info.Alignment = ColumnAlignment(column);
          info.RightToLeft = ColumnRightToLeft(column);
          if (!useColumns || (node->Has(nsSelected) && fullRow && (cellOptions & PaintSelection)) ||
              header_->Columns()->Items(column)->Options().Contains(coParentColor))
            cellOptions &= ~PaintColumnColor;
          info.PaintOptions = cellOptions;
          info.NodeWidth = GetNodeWidth(node, column, canvas);
          TRect content = cell;
          content.left += Margin;
          int x = content.left;
          if (isMain) x += static_cast<int>(levels) * static_cast<int>(Indent);
          const int treeLeft = cell.left;
          bool ghosted = false;
          int stateIndex = -1;
          if (StateImages) DoGetImageIndex(node, ikState, column, ghosted, stateIndex);
          int normalIndex = -1;
          if (Images)
            DoGetImageIndex(node, node->Has(nsSelected) ? ikSelected : ikNormal, column, ghosted,
                            normalIndex);
          const int stateX = x;
          if (stateIndex >= 0) x += StateImages->Width() + 2;
          const int normalX = x;
          if (normalIndex >= 0) x += Images->Width() + 2;
          content.left = x;
          info.ContentRect = content;

          HRGN clip = nullptr;
          if (useColumns) {
            clip = CreateRectRgn(std::max<LONG>(cell.left, 0), 0, std::min<LONG>(cell.right, width),
                                 height);
            SelectClipRgn(dc, clip);
          }
          if ((cellOptions & PaintColumnColor) != 0) {
            canvas->Brush()->SetColor(
                static_cast<TColor>(header_->Columns()->Items(column)->Color()));
            canvas->FillRect(cell);
          }
          TRect cellContent = info.ContentRect;
          DoBeforeCellPaint(canvas, node, column, cpmPaint, cell, cellContent);
          info.ContentRect = cellContent;
          // The part the content takes, unless grid extensions fill the cell.
          TRect inner = info.ContentRect;
          if (!gridExtensions) {
            if (info.Alignment == TAlignment::taRightJustify) {
              inner.left = std::max<LONG>(inner.left, inner.right - info.NodeWidth);
            } else if (info.Alignment == TAlignment::taCenter) {
              inner.left = (inner.left + inner.right - info.NodeWidth) / 2;
              inner.right = inner.left + info.NodeWidth;
            } else {
              inner.right = std::min<LONG>(inner.right, inner.left + info.NodeWidth);
            }
          }
          const bool inFocusedColumn = column == focusedColumn_ || fullRow;
          if (inFocusedColumn && (cellOptions & PaintSelection) != 0 && node->Has(nsSelected)) {
            TRect selected = inner;
            if (gridExtensions || fullRow) selected = cell;
            PaintCellSelection(canvas, selected);
          }
          if (isMain) {
            if (paint.Contains(toShowTreeLines))
              DrawTreeLinesAt(dc, lines, TRect{treeLeft, 0, cell.right, height}, vAlign,
                              window.left, nodeTop);
            if (paint.Contains(toShowButtons) && node->Has(nsHasChildren) &&
                (!node->Has(nsAllChildrenHidden) ||
                 !treeOptions_->AutoOptions().Contains(toAutoHideButtons))) {
              const int buttonX = ButtonX(static_cast<int>(Indent), ButtonWidth, levels,
                                          paint.Contains(toFixedIndent));
              DrawButtonAt(dc, treeLeft + buttonX, vAlign - ButtonWidth / 2, node->Has(nsExpanded));
            }
          }
          if (stateIndex >= 0)
            StateImages->Draw(canvas, stateX, vAlign - StateImages->Height() / 2, stateIndex);
          if (normalIndex >= 0)
            Images->Draw(canvas, normalX, vAlign - Images->Height() / 2, normalIndex);
          if (!(States().Contains(tsEditing) && node == FocusedNode() && column == editColumn_))
            DoPaintNode(info);
          if ((column == focusedColumn_ || (!useColumns)) && (cellOptions & PaintFocusRect) &&
              (Focused() || paint.Contains(toPopupMode)) && node == FocusedNode()) {
            TRect focus = gridExtensions ? cell : inner;
            const COLORREF oldText = SetTextColor(dc, RGB(255, 255, 255));
            const COLORREF oldBack = SetBkColor(dc, RGB(0, 0, 0));
            RECT fr{focus.left, focus.top, focus.right, focus.bottom};
            DrawFocusRect(dc, &fr);
            SetTextColor(dc, oldText);
            SetBkColor(dc, oldBack);
          }
          DoAfterCellPaint(canvas, node, column, cell);
          if (clip) {
            SelectClipRgn(dc, nullptr);
            DeleteObject(clip);
          }
        }
      }
      DoAfterItemPaint(canvas, node, itemRect);
      BitBlt(targetDC, targetPoint.x, rowTop, width, height, canvas->Handle(), 0, 0, SRCCOPY);
    }
    rowTop += height;
    nodeTop += height;
    node = GetNextVisible(node);
  }

  // Below the last row: the owner's, else the picture, the columns'
  // colours or the tree's.
  if (rowTop < windowBottomInTarget) {
    const int height = windowBottomInTarget - rowTop;
    bitmap->SetSize(width, 0);
    bitmap->SetSize(width, height);
    const TRect area{0, 0, width, height};
    if (!DoPaintBackground(canvas, area)) {
      const int treeTop = window.top + (rowTop - targetPoint.y);
      if (treeOptions_->PaintOptions().Contains(toShowBackground) &&
          (paintOptions & PaintBackground) && Background() != nullptr) {
        PaintTiledBackground(canvas, area, TPoint{window.left, treeTop});
      } else {
        canvas->Brush()->SetColor(Color());
        canvas->FillRect(area);
        if (useColumns)
          for (int32_t index : layout.PositionToIndex()) {
            const TColumnGeometry& geometry = layout.Column(index);
            if (!geometry.Visible()) continue;
            TLazyTreeColumn* item = header_->Columns()->Items(index);
            canvas->Brush()->SetColor(item->Options().Contains(coParentColor)
                                          ? Color()
                                          : static_cast<TColor>(item->Color()));
            canvas->FillRect(TRect{geometry.Left - window.left, 0,
                                   geometry.Left + geometry.Width - window.left, height});
          }
      }
    }
    BitBlt(targetDC, targetPoint.x, rowTop, width, height, canvas->Handle(), 0, 0, SRCCOPY);
  }
  DoAfterPaint(target);
}

void TBaseLazyTree::Paint() {
  const TRect r = updateRect_;
  if (IsEmptyRect(r)) return;
  const TRect window{r.left + EffectiveOffsetX(), r.top - offsetY_, r.right + EffectiveOffsetX(),
                     r.bottom - offsetY_};
  PaintTree(Canvas(), window, TPoint{r.left, r.top}, 0x3F);
}

void TBaseLazyTree::WMPaint(classlib::TMessage& message) {
  RECT update{};
  if (message.WParam != 0) {
    GetClientRect(Handle(), &update);
  } else {
    GetUpdateRect(Handle(), &update, FALSE);
  }
  updateRect_ = TRect{update.left, update.top, update.right, update.bottom};
  TCustomControl::WMPaint(message);
}

void TBaseLazyTree::WMPrintClient(classlib::TMessage& message) {
  if ((message.LParam & PRF_CHECKVISIBLE) != 0 && !IsWindowVisible(Handle())) return;
  auto* canvas = classlib::New<TCanvas>();
  try {
    canvas->SetHandle(reinterpret_cast<HDC>(message.WParam));
    const TRect client{0, 0, ClientWidth(), ClientHeight()};
    const TRect window{EffectiveOffsetX(), -offsetY_, client.right + EffectiveOffsetX(),
                       client.bottom - offsetY_};
    PaintTree(canvas, window, TPoint{0, 0}, 0x3D);
  } catch (...) {
    canvas->SetHandle(nullptr);
    classlib::Free(canvas);
    throw;
  }
  canvas->SetHandle(nullptr);
  classlib::Free(canvas);
}

}  // namespace kelm::lazytree

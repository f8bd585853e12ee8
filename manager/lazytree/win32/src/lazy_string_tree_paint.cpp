// The string tree's text painting: the font and colours of a cell's text,
// shortening with an ellipsis, the normal and the static text.
#include "classlib/graphics.h"
#include "lazytree/blend_rect.h"
#include "lazytree/lazy_string_tree.h"

namespace kelm::lazytree {

namespace {

// Watches a canvas font while OnPaintText may change it: the tree learns
// of the change and the canvas still gets its own notice.
class TFontWatch : public TObject {
 public:
  TFontWatch(TCustomLazyStringTree& tree, TCanvas* canvas)
      : tree_(tree), font_(canvas->Font()), previous_(font_->OnChange) {
    font_->OnChange = classlib::EventOf<&TFontWatch::Changed>(this);
  }
  ~TFontWatch() override { font_->OnChange = previous_; }
  TFontWatch(const TFontWatch&) = delete;
  TFontWatch& operator=(const TFontWatch&) = delete;

 private:
  void Changed(TObject* sender) {
    tree_.FontChanged = true;
    if (previous_) previous_(sender);
  }
  TCustomLazyStringTree& tree_;
  classlib::TFont* font_;
  classlib::TNotifyEvent previous_;
};

UINT AlignmentFlag(TAlignment alignment) {
  switch (alignment) {
    case TAlignment::taRightJustify:
      return DT_RIGHT;
    case TAlignment::taCenter:
      return DT_CENTER;
    default:
      return DT_LEFT;
  }
}

// The canvas selects its font and colours into the DC on use.
HDC PreparedDC(TCanvas* canvas) {
  canvas->TextExtent(u"");
  return canvas->Handle();
}

}  // namespace

void TCustomLazyStringTree::InitializeTextProperties(const TLTPaintInfo& paintInfo) {
  TCanvas* canvas = paintInfo.Canvas;
  PLazyNode node = paintInfo.Node;
  canvas->Font()->Assign(Font());
  const TLTPaintOptions paint = TreeOptions()->PaintOptions();
  const bool explorerLook = States().Contains(tsUseThemes) && paint.Contains(toUseExplorerTheme);
  if (paint.Contains(toHotTrack) && node == HotNode()) {
    if (!explorerLook)
      canvas->Font()->SetStyle(canvas->Font()->Style() +
                               classlib::TFontStyles{classlib::fsUnderline});
    canvas->Font()->SetColor(Colors()->Color(8));  // HotColor
  }
  const bool fullRow = TreeOptions()->SelectionOptions().Contains(toFullRowSelect);
  if ((paintInfo.PaintOptions & PaintSelection) != 0 &&
      (paintInfo.Column == FocusedColumn() || fullRow)) {
    if (node == DropTargetNode() && LastDropMode == dmOnNode) {
      canvas->Font()->SetColor(classlib::clHighlightText);
    } else if (node->Has(nsSelected) && (Focused() || paint.Contains(toPopupMode)) &&
               !explorerLook) {
      canvas->Font()->SetColor(classlib::clHighlightText);
    }
  }
}

void TCustomLazyStringTree::DoPaintNode(const TLTPaintInfo& paintInfo) {
  TFontWatch watch(*this, paintInfo.Canvas);
  const std::u16string text = GetText(paintInfo.Node, paintInfo.Column);
  if (!text.empty()) PaintNormalText(paintInfo, text);
  if (Alignment != TAlignment::taCenter && !paintInfo.Node->Has(nsMultiline) &&
      StringOptions().Contains(toShowStaticText)) {
    std::u16string staticText;
    DoGetText(paintInfo.Node, paintInfo.Column, ttStatic, staticText);
    if (!staticText.empty()) PaintStaticText(paintInfo, staticText);
  }
}

void TCustomLazyStringTree::PaintNormalText(const TLTPaintInfo& paintInfo,
                                            const std::u16string& text) {
  InitializeTextProperties(paintInfo);
  TCanvas* canvas = paintInfo.Canvas;
  PLazyNode node = paintInfo.Node;
  const TColumnIndex column = paintInfo.Column;
  const bool disabled = node->Has(nsDisabled) || !Enabled();
  TRect r = paintInfo.ContentRect;
  r.left += TextMargin;
  r.right -= TextMargin;
  UINT format = 0;
  std::u16string s = text;
  if (node->Has(nsMultiline)) {
    DoPaintText(node, canvas, column, ttNormal);
    if (disabled) canvas->Font()->SetColor(Colors()->Color(0));  // DisabledColor
    format = AlignmentFlag(paintInfo.Alignment) | DT_NOPREFIX | DT_WORDBREAK | DT_END_ELLIPSIS |
             DT_EDITCONTROL;
  } else {
    FontChanged = false;
    int ellipsisWidth = EllipsisWidth();
    int nodeWidth = paintInfo.NodeWidth;
    DoPaintText(node, canvas, column, ttNormal);
    if (FontChanged) {
      // Measured again in the font the handler chose.
      ellipsisWidth = 0;
      nodeWidth = 2 * TextMargin + canvas->TextExtent(s).cx;
    }
    if (disabled) canvas->Font()->SetColor(Colors()->Color(0));
    format = DT_NOPREFIX | DT_VCENTER | DT_SINGLELINE;
    if (column <= NoColumn) {
      format |= AlignmentFlag(paintInfo.Alignment);
    } else if (r.right - r.left < nodeWidth - 2 * TextMargin) {
      s = DoShortenString(canvas, node, column, s, r.right - r.left, ellipsisWidth);
      // A shortened text starts at its cell's left unless aligned right.
      if (paintInfo.Alignment == TAlignment::taRightJustify) format |= DT_RIGHT;
    } else {
      format |= AlignmentFlag(paintInfo.Alignment);
    }
  }
  if (paintInfo.RightToLeft) format |= DT_RTLREADING;
  // The canvas never asks for an opaque text background.
  SetBkMode(PreparedDC(canvas), TRANSPARENT);
  DoTextDrawing(paintInfo, s, r, format);
}

void TCustomLazyStringTree::PaintStaticText(const TLTPaintInfo& paintInfo,
                                            const std::u16string& text) {
  TCanvas* canvas = paintInfo.Canvas;
  PLazyNode node = paintInfo.Node;
  canvas->Font()->Assign(Font());
  const TLTPaintOptions paint = TreeOptions()->PaintOptions();
  const bool highlighted =
      (TreeOptions()->SelectionOptions().Contains(toFullRowSelect) && node == DropTargetNode() &&
       (LastDropMode == dmOnNode || node->Has(nsSelected))) ||
      (node->Has(nsSelected) && (Focused() || paint.Contains(toPopupMode)));
  canvas->Font()->SetColor(highlighted ? classlib::clHighlightText : Font()->Color());
  DoPaintText(node, canvas, paintInfo.Column, ttStatic);
  if (node->Has(nsDisabled) || !Enabled()) canvas->Font()->SetColor(Colors()->Color(0));
  TRect r = paintInfo.ContentRect;
  if (paintInfo.Alignment == TAlignment::taRightJustify) {
    r.right -= paintInfo.NodeWidth + TextMargin;
  } else {
    r.left += paintInfo.NodeWidth + TextMargin;
  }
  HDC dc = PreparedDC(canvas);
  SetBkMode(dc, TRANSPARENT);
  RECT box{r.left, r.top, r.right, r.bottom};
  DrawTextW(dc, reinterpret_cast<const wchar_t*>(text.data()), static_cast<int>(text.size()), &box,
            DT_NOPREFIX | DT_VCENTER | DT_SINGLELINE);
}

std::u16string TCustomLazyStringTree::DoShortenString(TCanvas* canvas, PLazyNode node,
                                                      TColumnIndex column, const std::u16string& s,
                                                      int width, int ellipsisWidth) {
  std::u16string result;
  bool done = false;
  if (OnShortenString) OnShortenString(this, canvas, node, column, s, width, result, done);
  if (done) return result;
  return ShortenString(PreparedDC(canvas), s, width, ellipsisWidth);
}

void TCustomLazyStringTree::DoTextDrawing(const TLTPaintInfo& paintInfo, const std::u16string& text,
                                          TRect cellRect, UINT drawFormat) {
  bool defaultDraw = true;
  if (OnDrawText)
    OnDrawText(this, paintInfo.Canvas, paintInfo.Node, paintInfo.Column, text, cellRect,
               defaultDraw);
  if (!defaultDraw) return;
  RECT box{cellRect.left, cellRect.top, cellRect.right, cellRect.bottom};
  DrawTextW(PreparedDC(paintInfo.Canvas), reinterpret_cast<const wchar_t*>(text.data()),
            static_cast<int>(text.size()), &box, drawFormat);
}

}  // namespace kelm::lazytree

#include "lazytree/lazy_string_tree.h"

#include <cstring>

#include "classlib/classdef.h"
#include "classlib/filer.h"
#include "lazytree/lazy_tree_error.h"

namespace kelm::lazytree {

CL_CLASS(TCustomLazyStringTree) { (void)c; }

namespace {
using classlib::EnumTypeInfo;
const classlib::TTypeInfo TypeInfo_TLTNodeAlignment =
    EnumTypeInfo("TLTNodeAlignment", {"naFromBottom", "naFromTop", "naProportional"});
const classlib::TTypeInfo TypeInfo_TLTButtonFillMode = EnumTypeInfo(
    "TLTButtonFillMode", {"fmTreeColor", "fmWindowColor", "fmShaded", "fmTransparent"});
const classlib::TTypeInfo TypeInfo_TLTButtonStyle =
    EnumTypeInfo("TLTButtonStyle", {"bsRectangle", "bsTriangle"});
const classlib::TTypeInfo TypeInfo_TLTLineMode =
    EnumTypeInfo("TLTLineMode", {"lmNormal", "lmBands"});
const classlib::TTypeInfo TypeInfo_TLTLineStyle =
    EnumTypeInfo("TLTLineStyle", {"lsCustomStyle", "lsDotted", "lsSolid"});
const classlib::TTypeInfo TypeInfo_TLTIncrementalSearch =
    EnumTypeInfo("TLTIncrementalSearch", {"isAll", "isNone", "isInitializedOnly", "isVisibleOnly"});
const classlib::TTypeInfo TypeInfo_TCheckImageKind = EnumTypeInfo(
    "TCheckImageKind", {"ckLightCheck", "ckDarkCheck", "ckLightTick", "ckDarkTick", "ckCustom",
                        "ckFlat", "ckXP", "ckSystemFlat", "ckSystemDefault"});
const classlib::TTypeInfo TypeInfo_THintAnimationType =
    EnumTypeInfo("THintAnimationType", {"hatNone", "hatFade", "hatSlide", "hatSystemDefault"});
}  // namespace

// Every published property and event, for stored forms.
CL_CLASS(TLazyStringTree) {
  using C = TLazyStringTree;
  c.Enum("Alignment", &C::Alignment, &C::SetAlignment, &TypeInfo_TAlignment).Default(0);
  c.Int("AnimationDuration", &C::AnimationDuration, &C::SetAnimationDuration).Default(200);
  c.Int("AutoExpandDelay", &C::AutoExpandDelay, &C::AutoExpandDelay).Default(1000);
  c.Int("AutoScrollDelay", &C::AutoScrollDelay, &C::AutoScrollDelay).Default(1000);
  c.Int("AutoScrollInterval", &C::AutoScrollInterval, &C::SetAutoScrollInterval).Default(1);
  c.Object("Background", &C::Background, &C::SetBackground);
  c.Int("BackgroundOffsetX", &C::BackgroundOffsetX, &C::SetBackgroundOffsetX).Default(0);
  c.Int("BackgroundOffsetY", &C::BackgroundOffsetY, &C::SetBackgroundOffsetY).Default(0);
  c.Enum("ButtonFillMode", &C::ButtonFillMode, &C::SetButtonFillMode, &TypeInfo_TLTButtonFillMode)
      .Default(C::fmTreeColor);
  c.Enum("ButtonStyle", &C::ButtonStyle, &C::SetButtonStyle, &TypeInfo_TLTButtonStyle)
      .Default(C::bsRectangle);
  c.Int("ChangeDelay", &C::ChangeDelay, &C::ChangeDelay).Default(0);
  c.Enum("CheckImageKind", &C::CheckImageKind, &C::SetCheckImageKind, &TypeInfo_TCheckImageKind)
      .Default(C::ckSystemDefault);
  c.Object("CustomCheckImages", &C::CustomCheckImages, &C::SetCustomCheckImages);
  c.Int("DragHeight", &C::DragHeight, &C::DragHeight).Default(350);
  c.Int("DragWidth", &C::DragWidth, &C::DragWidth).Default(200);
  c.Int("EditDelay", &C::EditDelay, &C::EditDelay).Default(1000);
  c.Enum("HintAnimation", &C::HintAnimation, &C::HintAnimation, &TypeInfo_THintAnimationType)
      .Default(hatSystemDefault);
  c.Enum("IncrementalSearch", &C::IncrementalSearch, &C::SetIncrementalSearch,
         &TypeInfo_TLTIncrementalSearch)
      .Default(C::isNone);
  c.Int("IncrementalSearchTimeout", &C::IncrementalSearchTimeout, &C::IncrementalSearchTimeout)
      .Default(1000);
  c.Enum("LineMode", &C::LineMode, &C::SetLineMode, &TypeInfo_TLTLineMode).Default(C::lmNormal);
  c.Enum("LineStyle", &C::LineStyle, &C::SetLineStyle, &TypeInfo_TLTLineStyle).Default(C::lsDotted);
  c.Int("SelectionBlendFactor", &C::SelectionBlendFactor, &C::SelectionBlendFactor).Default(128);
  c.Int("SelectionCurveRadius", &C::SelectionCurveRadius, &C::SetSelectionCurveRadius).Default(0);
  c.Bool("WantTabs", &C::WantTabs, &C::WantTabs).Default(0);
  c.Enum("BorderStyle", &C::BorderStyle, &C::SetBorderStyle, &classlib::TypeInfo_TBorderStyle)
      .Default(static_cast<int64_t>(classlib::TBorderStyle::bsSingle));
  c.Int("BottomSpace", &C::BottomSpace, &C::SetBottomSpace).Default(0);
  c.Int("DefaultNodeHeight", &C::DefaultNodeHeightValue, &C::SetDefaultNodeHeightValue).Default(18);
  // Stored as "WideDefaultText" when it differs from "Node".
  c.WStr("DefaultText", &C::DefaultText, &C::SetDefaultText).Stored(false);
  c.Object("Images", &C::Images, &C::SetImages);
  c.Int("Indent", &C::Indent, &C::SetIndent).Default(18);
  c.Int("Margin", &C::Margin, &C::SetMargin).Default(4);
  c.Enum("NodeAlignment", &C::NodeAlignment, &C::SetNodeAlignment, &TypeInfo_TLTNodeAlignment)
      .Default(C::naProportional);
  c.Int("NodeDataSize", &C::NodeDataSize, &C::SetNodeDataSizeValue).Default(-1);
  c.Int("RootNodeCount", &C::RootNodeCount, &C::SetRootNodeCountValue).Default(0);
  c.Object("StateImages", &C::StateImages, &C::SetStateImages);
  c.Int("TextMargin", &C::TextMargin, &C::SetTextMargin).Default(4);
#define LT_EVENT(Name, ...) c.Event(#Name, &C::Name, &C::Name);
#define LT_STORE_EVENT(Name) c.Event(#Name, &C::Name, &C::Name);
#define LT_LIBRARY_EVENT(Name)
#include "lazytree/lazy_tree_events.def"
#undef LT_EVENT
#undef LT_STORE_EVENT
#undef LT_LIBRARY_EVENT
}

void RegisterLazyTreeClasses() { classlib::RegisterClasses({TLazyStringTree::StaticClass()}); }

CL_CLASS(TCustomLazyDrawTree) { (void)c; }

TCustomLazyStringTree::TCustomLazyStringTree(classlib::TComponent* AOwner)
    : TBaseLazyTree(AOwner) {}

void TCustomLazyStringTree::AfterConstruction() {
  TBaseLazyTree::AfterConstruction();
  // The width slot comes before the owner's data, reserved while the tree
  // has no node yet.
  widthOffset_ = AllocateInternalDataArea(sizeof(uint32_t));
}

uint32_t* TCustomLazyStringTree::TextWidthSlot(PLazyNode node) const {
  if (!node || node == RootNode() || widthOffset_ == 0) return nullptr;
  return reinterpret_cast<uint32_t*>(reinterpret_cast<uint8_t*>(node) + widthOffset_);
}

void TCustomLazyStringTree::ResetTextWidths() {
  for (PLazyNode n = GetFirstNoInit(); n; n = GetNextNoInit(n)) {
    if (uint32_t* slot = TextWidthSlot(n)) *slot = 0;
  }
}

// ---- text

std::u16string TCustomLazyStringTree::GetText(PLazyNode node, TColumnIndex column) {
  LT_ASSERT(node, u"Node must not be nil.");
  if (!node->Has(nsInitialized)) InitNode(node);
  std::u16string text = defaultText_;
  DoGetText(node, column, ttNormal, text);
  return text;
}

void TCustomLazyStringTree::SetText(PLazyNode node, TColumnIndex column,
                                    const std::u16string& value) {
  DoNewText(node, column, value);
  InvalidateNode(node);
}

void TCustomLazyStringTree::DoGetText(PLazyNode node, TColumnIndex column, TLTTextType textType,
                                      std::u16string& text) {
  if (OnGetText) OnGetText(this, node, column, textType, text);
}

void TCustomLazyStringTree::DoNewText(PLazyNode node, TColumnIndex column,
                                      const std::u16string& text) {
  if (OnNewText) OnNewText(this, node, column, text);
  if (UpdateCount() == 0) UpdateHorizontalScrollBar(true);
}

void TCustomLazyStringTree::DoPaintText(PLazyNode node, TCanvas* canvas, TColumnIndex column,
                                        TLTTextType textType) {
  if (OnPaintText) OnPaintText(this, canvas, node, column, textType);
}

void TCustomLazyStringTree::SetDefaultText(const std::u16string& value) {
  if (value == defaultText_) return;
  defaultText_ = value;
  if (!IsLoading()) InvalidateAll();
}

TLTStringOptions TCustomLazyStringTree::StringOptions() const {
  return static_cast<TCustomStringTreeOptions*>(TreeOptions())->StringOptions();
}

void TCustomLazyStringTree::SetStringOptions(TLTStringOptions value) {
  static_cast<TCustomStringTreeOptions*>(TreeOptions())->SetStringOptions(value);
}

bool TCustomLazyStringTree::CellIsEmpty(PLazyNode node, TColumnIndex column) {
  if (!GetText(node, column).empty()) return false;
  return TBaseLazyTree::CellIsEmpty(node, column);
}

// ---- measuring

int TCustomLazyStringTree::GetNodeWidth(PLazyNode node, TColumnIndex column, TCanvas* canvas) {
  if (!node || node == RootNode()) return 0;
  const THeaderLayout& layout = HeaderObject()->Layout();
  if (column > NoColumn && node->Has(nsMultiline) && layout.ColumnIndexValid(column))
    return layout.Column(column).Width;
  if (!canvas) canvas = Canvas();
  if (column != HeaderMainColumn())
    return CalculateTextWidth(canvas, node, GetText(node, column), column);
  uint32_t* slot = TextWidthSlot(node);
  if (*slot == 0)
    *slot = static_cast<uint32_t>(CalculateTextWidth(canvas, node, GetText(node, column), column));
  return static_cast<int>(*slot);
}

int TCustomLazyStringTree::CalculateTextWidth(TCanvas* canvas, PLazyNode node,
                                              const std::u16string& text, TColumnIndex column) {
  int result = 2 * TextMargin;
  if (!text.empty()) {
    canvas->Font()->Assign(Font());
    DoPaintText(node, canvas, column, ttNormal);
    result += DoTextMeasuring(canvas, node, column, text);
  }
  return result;
}

int TCustomLazyStringTree::DoTextMeasuring(TCanvas* canvas, PLazyNode node, TColumnIndex column,
                                           const std::u16string& text) {
  // The canvas selects its font for the extent; DrawTextW then uses it.
  const SIZE size = canvas->TextExtent(text);
  HDC dc = canvas->Handle();
  const auto* chars = reinterpret_cast<const wchar_t*>(text.data());
  const int count = static_cast<int>(text.size());
  int width = size.cx;
  if (node->Has(nsMultiline)) {
    UINT format = DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX | DT_EDITCONTROL | DT_END_ELLIPSIS;
    if (Alignment == TAlignment::taRightJustify) format |= DT_RIGHT;
    if (Alignment == TAlignment::taCenter) format |= DT_CENTER;
    if (BiDiMode() != classlib::TBiDiMode::bdLeftToRight) format |= DT_RTLREADING;
    RECT r{0, 0, size.cx, 2147483647};
    DrawTextW(dc, chars, count, &r, format);
    width = r.right - r.left;
  }
  if (OnMeasureTextWidth) OnMeasureTextWidth(this, canvas, node, column, text, width);
  return width;
}

int TCustomLazyStringTree::ComputeNodeHeight(TCanvas* canvas, PLazyNode node, TColumnIndex column,
                                             std::u16string s) {
  if (s.empty()) s = GetText(node, column);
  if (!canvas) canvas = Canvas();
  const THeaderLayout& layout = HeaderObject()->Layout();
  const bool inColumn = layout.ColumnIndexValid(column);
  bool rtl = false;
  TAlignment align = Alignment;
  if (inColumn) {
    rtl = HeaderObject()->Columns()->Items(column)->BiDiMode() != TBiDiMode::bdLeftToRight;
    align = HeaderObject()->Columns()->Items(column)->Alignment();
  } else {
    rtl = BiDiMode() != classlib::TBiDiMode::bdLeftToRight;
  }
  if (rtl && align != TAlignment::taCenter)
    align =
        align == TAlignment::taLeftJustify ? TAlignment::taRightJustify : TAlignment::taLeftJustify;
  UINT format = DT_CALCRECT | DT_NOPREFIX | DT_WORDBREAK;
  if (align == TAlignment::taRightJustify) format |= DT_RIGHT;
  if (align == TAlignment::taCenter) format |= DT_CENTER;
  RECT r{0, 0, 0, 0};
  if (!inColumn) {
    r.right = ClientWidth();
  } else {
    r.left = TextMargin + Margin;
    r.right = layout.Column(column).Width - TextMargin;
    if (column == HeaderMainColumn()) {
      const TLTPaintOptions paint = TreeOptions()->PaintOptions();
      const uint32_t levels = paint.Contains(toFixedIndent) ? 1 : GetNodeLevel(node);
      r.left += static_cast<LONG>(Indent * levels);
    }
  }
  if (rtl) format |= DT_RTLREADING | DT_RIGHT;
  canvas->Font()->Assign(Font());
  canvas->TextExtent(u"");  // selects the font
  DrawTextW(canvas->Handle(), reinterpret_cast<const wchar_t*>(s.data()),
            static_cast<int>(s.size()), &r, format);
  return r.bottom - r.top;
}

void TCustomLazyStringTree::MeasureFont() {
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  ReleaseDC(nullptr, screen);
  HGDIOBJ old = SelectObject(dc, Font()->Handle());
  TEXTMETRICW metrics{};
  GetTextMetricsW(dc, &metrics);
  textHeight_ = metrics.tmHeight;
  SIZE size{};
  GetTextExtentPoint32W(dc, L"...", 3, &size);
  ellipsisWidth_ = size.cx;
  SelectObject(dc, old);
  DeleteDC(dc);
}

void TCustomLazyStringTree::WndProc(classlib::TMessage& message) {
  TBaseLazyTree::WndProc(message);
  if (message.Msg == WM_SETFONT) {
    MeasureFont();
    ResetTextWidths();
  }
}

// ---- cached widths follow the text

void TCustomLazyStringTree::InvalidateNode(PLazyNode node) {
  // Inside updates too: a stale width would clip the new text and misplace
  // hits on it.
  if (uint32_t* slot = TextWidthSlot(node)) {
    *slot = 0;
    node->Exclude(nsHeightMeasured);
  }
  TBaseLazyTree::InvalidateNode(node);
}

void TCustomLazyStringTree::ReinitNode(PLazyNode node, bool recursive) {
  if (uint32_t* slot = TextWidthSlot(node)) *slot = 0;
  TBaseLazyTree::ReinitNode(node, recursive);
}

void TCustomLazyStringTree::HeaderMainColumnChanged(int column) {
  TBaseLazyTree::HeaderMainColumnChanged(column);
  ResetTextWidths();
}

// ---- stored form

void TCustomLazyStringTree::DefineProperties(classlib::TFiler& filer) {
  TBaseLazyTree::DefineProperties(filer);
  filer.DefineProperty(
      "WideDefaultText", [this](classlib::TReader& r) { SetDefaultText(r.ReadWideString()); },
      [this](classlib::TWriter& w) { w.WriteWideString(defaultText_); }, defaultText_ != u"Node");
  // Older forms name the string options with their old words; never written.
  filer.DefineProperty(
      "StringOptions",
      [this](classlib::TReader& r) {
        if (r.ReadValue() != classlib::TValueType::vaSet)
          throw classlib::EReadError(u"Invalid property value");
        TLTStringOptions options;
        for (std::string name = r.ReadStr(); !name.empty(); name = r.ReadStr()) {
          if (name == "soSaveCaptions") {
            options.Include(toSaveCaptions);
          } else if (name == "soShowStaticText") {
            options.Include(toShowStaticText);
          } else {
            throw classlib::EReadError(u"Invalid property value");
          }
        }
        SetStringOptions(options);
      },
      [](classlib::TWriter&) {}, false);
}

// ---- the draw tree

int TCustomLazyDrawTree::GetNodeWidth(PLazyNode node, TColumnIndex column, TCanvas* canvas) {
  int width = 2 * TextMargin;
  if (OnQueryNodeWidth) OnQueryNodeWidth(this, canvas ? canvas : Canvas(), node, column, width);
  return width;
}

TPoint TCustomLazyDrawTree::GetCellContentMargin(PLazyNode node, TColumnIndex column,
                                                 int marginKind, TCanvas* canvas) {
  TPoint margin{0, 0};
  if (OnQueryContentMargin)
    OnQueryContentMargin(this, canvas ? canvas : Canvas(), node, column, marginKind, margin);
  return margin;
}

void TCustomLazyDrawTree::DoPaintNode(const TLTPaintInfo& paintInfo) {
  if (OnPaintCell) OnPaintCell(this, paintInfo);
}

void TCustomLazyDrawTree::DoGetHintSize(PLazyNode node, TColumnIndex column, TRect& r) {
  if (OnQueryHintSize) OnQueryHintSize(this, node, column, r);
}

void TCustomLazyDrawTree::DoDrawHint(TCanvas* canvas, PLazyNode node, TRect r,
                                     TColumnIndex column) {
  if (OnPaintHint) OnPaintHint(this, canvas, node, r, column);
}

}  // namespace kelm::lazytree

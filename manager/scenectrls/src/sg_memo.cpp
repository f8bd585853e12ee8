// The memo: caret, selection, keys, mouse, painting of the visible band,
// the context menu and the clipboard over the line store.
#include "scenectrls/sg_memo.h"

#include <algorithm>
#include <cmath>
#include <cwctype>

#include "classlib/classdef.h"
#include "scene/sg_canvas.h"
#include "scene/sg_objects.h"
#include "scene/sg_resources.h"

namespace kelm::scenectrls {

using classlib::TComponent;
using scene::TsgPoint;
using scene::TsgRect;

namespace {
IsgClipboard* g_clipboard = nullptr;

constexpr uint16_t kBack = 8, kEnter = 13, kPageUp = 33, kPageDown = 34, kEnd = 35, kHome = 36,
                   kLeft = 37, kUp = 38, kRight = 39, kDown = 40, kInsert = 45, kDelete = 46;

bool OnlyCtrl(scene::TShiftState s) {
  return s.Contains(classlib::ssCtrl) && !s.Contains(classlib::ssAlt) &&
         !s.Contains(classlib::ssShift);
}
}  // namespace

void SetClipboard(IsgClipboard* clipboard) { g_clipboard = clipboard; }
IsgClipboard* Clipboard() { return g_clipboard; }

const classlib::TTypeInfo TypeInfo_TEditCharCase =
    classlib::EnumTypeInfo("TEditCharCase", {"sgecNormal", "sgecUpperCase", "sgecLowerCase"});

CL_CLASS(TsgMemo) {
  c.Bool("CanFocused", &TsgMemo::CanFocused, &TsgMemo::CanFocused).Default(true);
  c.Bool("AutoSelect", &TsgMemo::AutoSelect, &TsgMemo::AutoSelect).Default(true);
  c.Enum("CharCase", &TsgMemo::CharCase, &TsgMemo::CharCase, &TypeInfo_TEditCharCase)
      .Default(sgecNormal);
  c.Bool("HideSelection", &TsgMemo::HideSelection, &TsgMemo::SetHideSelection).Default(true);
  c.Int("MaxLength", &TsgMemo::MaxLength, &TsgMemo::SetMaxLength);
  c.Bool("ReadOnly", &TsgMemo::ReadOnly, &TsgMemo::ReadOnly).Default(false);
  c.Event("OnChange", &TsgMemo::OnChange, &TsgMemo::OnChange);
  c.Event("OnChangeTracking", &TsgMemo::OnChangeTracking, &TsgMemo::OnChangeTracking);
  c.Bool("WordWrap", &TsgMemo::WordWrap, &TsgMemo::SetWordWrap).Default(false);
  c.Object("Font", &TsgMemo::Font, &TsgMemo::SetFont);
  c.WStr("Text", &TsgMemo::Text, &TsgMemo::SetText);
  c.Enum("TextAlign", &TsgMemo::TextAlign, &TsgMemo::TextAlign, &scene::TypeInfo_TsgTextAlign)
      .Default(scene::sgTextAlignNear);
  c.Bool("Transparent", &TsgMemo::Transparent, &TsgMemo::Transparent).Default(false);
  c.Object("Lines", &TsgMemo::Lines, &TsgMemo::SetLines).Stored(false);
}

TsgMemo::TsgMemo(TComponent* AOwner)
    : TsgScrollBox(AOwner),
      textBrush_(classlib::New<scene::TsgBrush>(scene::sgBrushSolid, 0xFF000000u)),
      font_(classlib::New<scene::TsgFont>()),
      selectionBrush_(classlib::New<scene::TsgBrush>(scene::sgBrushSolid, 0x802A8ADFu)),
      lines_(classlib::New<TsgMemoLines>()) {
  lines_->Memo = this;
  font_->OnChange = classlib::EventOf<&TsgMemo::FontChanged>(this);
  store_.Actions().SetTarget(this);
  store_.SetMeasure([this](std::u16string_view s) { return TextWidth(s); });
  CanFocused = true;
  SetCursor(-4);
  CreatePopupMenu();
  Transparent = AOwner == nullptr;
  SetWidth(100);
}

TsgMemo::~TsgMemo() {
  store_.SetMeasure(nullptr);
  classlib::Free(lines_);
  classlib::Free(selectionBrush_);
  classlib::Free(font_);
  classlib::Free(textBrush_);
}

// ---- text
void TsgMemo::SetText(const std::u16string& text) {
  if (!ValidText(text) || text == store_.Text()) return;
  std::u16string t = text;
  if (CharCase == sgecUpperCase)
    for (char16_t& ch : t) ch = static_cast<char16_t>(std::towupper(ch));
  else if (CharCase == sgecLowerCase)
    for (char16_t& ch : t) ch = static_cast<char16_t>(std::towlower(ch));
  // A text from outside: the undo records belong to the old one.
  store_.SetViewWidth(ViewportWidth());
  store_.SetText(t);
  RealignUnlessLocked();
  if (!IsLoading() && OnChangeTracking) OnChangeTracking(this);
  modified_ = true;
}

void TsgMemo::TextEdited() {
  if (!IsLoading() && OnChangeTracking) OnChangeTracking(this);
  modified_ = true;
}

void TsgMemo::RealignUnlessLocked() {
  if (!updateLocked_) Realign();
}

void TsgMemo::SetWordWrap(bool v) {
  if (v == store_.WordWrap()) return;
  store_.SetViewWidth(ViewportWidth());
  store_.SetWordWrap(v);
  RealignUnlessLocked();
  UpdateCaret(false);
}

void TsgMemo::SetHideSelection(bool v) {
  if (v == hideSelection_) return;
  hideSelection_ = v;
  Repaint();
}

void TsgMemo::FontChanged(classlib::TObject* sender) {
  (void)sender;
  if (IsLoading()) return;
  store_.RebuildLineStarts();
  UpdateCaret(false);
  RealignUnlessLocked();
}

classlib::TVariant TsgMemo::GetData() { return classlib::TVariant(store_.Text()); }

void TsgMemo::SetData(const classlib::TVariant& value) { SetText(value.ToString()); }

// ---- metrics
float TsgMemo::LineHeight() const {
  // Halves to even, as the library rounds.
  return std::nearbyint(font_->Size() * 1.25f);
}

void TsgMemo::ApplyCanvasFont() {
  if (scene::TsgCanvas* c = Canvas()) c->Font()->Assign(font_);
}

float TsgMemo::TextWidth(std::u16string_view s) {
  scene::TsgCanvas* c = Canvas();
  if (!c) return 0;
  ApplyCanvasFont();
  TsgRect r;
  ContentRect(r);
  r.Right = 10000;
  c->MeasureText(r, std::u16string(s), false, TextAlign, scene::sgTextAlignCenter);
  return r.Right - r.Left;
}

float TsgMemo::VisibleLineCount() {
  TsgRect r;
  ContentRect(r);
  return (r.Bottom - r.Top) / LineHeight();
}

TsgPoint TsgMemo::CaretToPoint(TsgCaret q) {
  TsgRect cr;
  ContentRect(cr);
  TsgPoint p{cr.Left, LineHeight() * static_cast<float>(q.Line) + cr.Top - VScrollBarValue()};
  if (Canvas() && q.Line < store_.LineCount()) {
    const std::u16string s = store_.GetLine(q.Line);
    const size_t n = std::min(s.size(), static_cast<size_t>(std::max(q.Column, 0)));
    p.X += TextWidth(std::u16string_view(s).substr(0, n));
    const float w = TextWidth(s), view = cr.Right - cr.Left;
    if (w < view) {
      if (TextAlign == scene::sgTextAlignCenter) p.X += (view - w) / 2;
      if (TextAlign == scene::sgTextAlignFar) p.X += view - w;
    }
  }
  p.X -= HScrollBarValue();
  return p;
}

TsgCaret TsgMemo::PointToCaret(TsgPoint pt) {
  if (store_.LineCount() == 0) return {};
  TsgRect cr;
  ContentRect(cr);
  pt.X = std::clamp(pt.X, cr.Left, cr.Right);
  pt.Y = std::clamp(pt.Y, cr.Top, cr.Bottom);
  const float lh = LineHeight();
  int line = static_cast<int>(VScrollBarValue() / lh) + static_cast<int>((pt.Y - cr.Top) / lh);
  line = std::min(line, store_.LineCount() - 1);
  const std::u16string s = store_.GetLine(line);
  if (s.empty()) return {line, 0};
  float x = pt.X;
  const float w = TextWidth(s), view = cr.Right - cr.Left;
  if (w < view) {
    if (TextAlign == scene::sgTextAlignCenter) x -= (view - w) / 2;
    if (TextAlign == scene::sgTextAlignFar) x -= view - w;
  }
  x += HScrollBarValue();
  int column = 0;
  float threshold = cr.Left + TextWidth(std::u16string_view(s).substr(0, 1)) / 2;
  while (threshold < x) {
    if (column + 1 > static_cast<int>(s.size()) || threshold >= HScrollBarValue() + cr.Right) break;
    ++column;
    threshold =
        cr.Left + TextWidth(std::u16string_view(s).substr(0, size_t(column))) + font_->Size() / 4;
  }
  return {line, column};
}

// ---- caret and selection
void TsgMemo::SetCaret(TsgCaret q) {
  const int lines = store_.LineCount();
  q.Line = lines > 0 ? std::clamp(q.Line, 0, lines - 1) : 0;
  q.Column = std::clamp(q.Column, 0, static_cast<int>(store_.GetLine(q.Line).size()));
  caret_ = q;
  UpdateCaret(true);
}

void TsgMemo::MoveCaretByLines(int k) {
  if (store_.LineCount() == 0) return;
  const int target = std::clamp(caret_.Line + k, 0, store_.LineCount() - 1);
  const TsgPoint from = CaretToPoint(caret_);
  const TsgPoint to = CaretToPoint({target, caret_.Column});
  caret_.Line = target;
  caret_.Column = PointToCaret({std::round(from.X), std::round(to.Y)}).Column;
  caret_.Column = std::min(caret_.Column, static_cast<int>(store_.GetLine(target).size()));
}

TsgCaret TsgMemo::NextWordCaret(TsgCaret q) const {
  const std::u16string s = store_.GetLine(q.Line);
  const int len = static_cast<int>(s.size());
  if (q.Column >= len) return q.Line + 1 < store_.LineCount() ? TsgCaret{q.Line + 1, 0} : q;
  bool passedWord = false, lastSpace = false, examined = false;
  for (int i = q.Column + 1; i < len - 1; ++i) {
    examined = true;
    const bool space = s[size_t(i)] == u' ';
    if (!space && lastSpace && passedWord) return {q.Line, i};
    if (!space) passedWord = true;
    lastSpace = space;
  }
  if (!examined || !lastSpace) return {q.Line, len};
  return {q.Line, len - 1};
}

TsgCaret TsgMemo::PrevWordCaret(TsgCaret q) const {
  if (q.Column <= 0) {
    if (q.Line == 0) return q;
    return {q.Line - 1, static_cast<int>(store_.GetLine(q.Line - 1).size())};
  }
  const std::u16string s = store_.GetLine(q.Line);
  int i = std::min(q.Column, static_cast<int>(s.size()));
  bool passedWord = false;
  while (i > 0) {
    const bool space = s[size_t(i) - 1] == u' ';
    if (space && passedWord) return {q.Line, i};
    if (!space) passedWord = true;
    --i;
  }
  return {q.Line, 0};
}

int TsgMemo::GetSelStart() const {
  if (!hasSelection_) return store_.CaretToPos(caret_);
  return store_.CaretToPos(Earlier(selEnd_, selAnchor_) ? selEnd_ : selAnchor_);
}

int TsgMemo::GetSelLength() const {
  if (!hasSelection_) return 0;
  return std::abs(store_.CaretToPos(selEnd_) - store_.CaretToPos(selAnchor_));
}

std::u16string TsgMemo::GetSelText() const {
  if (!hasSelection_) return {};
  return store_.Text().substr(size_t(GetSelStart()), size_t(GetSelLength()));
}

void TsgMemo::ExtendSelection(TsgCaret q) {
  if (!hasSelection_) {
    selAnchor_ = q;
    hasSelection_ = true;
  }
  selEnd_ = q;
}

void TsgMemo::CollapseSelection(int k) {
  selEnd_ = store_.PosToCaret(store_.CaretToPos(selAnchor_) + k);
}

void TsgMemo::SelectAll() {
  selAnchor_ = store_.PosToCaret(static_cast<int>(store_.Text().size()));
  selEnd_ = {};
  hasSelection_ = true;
  const int last = std::max(store_.LineCount() - 1, 0);
  caret_ = {last, static_cast<int>(store_.GetLine(last).size())};
  Repaint();
}

void TsgMemo::SelectWord() {
  selAnchor_ = PrevWordCaret(caret_);
  selEnd_ = NextWordCaret(caret_);
  hasSelection_ = true;
  Repaint();
}

void TsgMemo::ClearSelection() {
  if (ReadOnly || GetSelLength() == 0) return;
  DeleteText(Earlier(selEnd_, selAnchor_) ? selEnd_ : selAnchor_, GetSelLength(), true, true);
}

// ---- editing
void TsgMemo::InsertText(TsgCaret at, const std::u16string& s, bool selectInserted, bool recordUndo,
                         bool group) {
  const int oldPos = store_.CaretToPos(caret_);
  store_.SetViewWidth(ViewportWidth());
  const int n = store_.InsertText(at, s, recordUndo, group);
  if (n > 0) TextEdited();
  if (selectInserted) {
    selAnchor_ = at;
    selEnd_ = store_.MoveCaretByChars(at, n);
    hasSelection_ = true;
    SetCaret(selEnd_);
  } else if (!IsLoading()) {
    SetCaret(store_.PosToCaret(oldPos + n));
    UpdateCaret(false);
  }
  RealignUnlessLocked();
}

void TsgMemo::DeleteText(TsgCaret at, int n, bool resetSelection, bool recordUndo) {
  store_.SetViewWidth(ViewportWidth());
  if (store_.DeleteText(at, n, recordUndo).second > 0) TextEdited();
  if (resetSelection || GetSelLength() != 0) {
    hasSelection_ = false;
    SetCaret(at);
  }
  RealignUnlessLocked();
}

void TsgMemo::RestoreText(int position, const std::u16string& text, bool select) {
  InsertText(store_.PosToCaret(position), text, select, false, false);
}

void TsgMemo::RemoveText(int position, int length) {
  store_.RemoveText(position, length);
  TextEdited();
  hasSelection_ = false;
  SetCaret(store_.PosToCaret(position));
  RealignUnlessLocked();
}

void TsgMemo::TypeText(const std::u16string& s) {
  // Grouped only with a deletion that took something away.
  const bool deleted = GetSelLength() > 0;
  if (deleted) ClearSelection();
  hasSelection_ = false;
  InsertText(caret_, s, false, true, deleted);
  CollapseSelection(0);
}

// ---- clipboard
void TsgMemo::CopyToClipboard() {
  const std::u16string s = GetSelText();
  if (!s.empty() && g_clipboard) g_clipboard->SetText(s);
}

void TsgMemo::CutToClipboard() {
  CopyToClipboard();
  ClearSelection();
}

void TsgMemo::PasteFromClipboard() {
  if (ReadOnly || !g_clipboard) return;
  const std::u16string s = g_clipboard->GetText();
  if (GetSelLength() > 0) {
    const TsgCaret at = Earlier(selEnd_, selAnchor_) ? selEnd_ : selAnchor_;
    ClearSelection();
    InsertText(at, s, false, true, true);
  } else {
    hasSelection_ = false;
    InsertText(caret_, s, false, true, false);
  }
  DoChange();
}

// ---- change and menu
void TsgMemo::DoChange() {
  if (!modified_) return;
  if (!BindingTargets().empty()) NotifyBindingTargets();
  if (OnChange) OnChange(this);
}

void TsgMemo::CreatePopupMenu() {
  menu_.Items.clear();
  auto add = [&](const char16_t* caption, std::function<void()> click) {
    TsgMenuItem item;
    item.Caption = caption;
    item.OnClick = std::move(click);
    menu_.Items.push_back(std::move(item));
  };
  add(u"Undo", [this] { Undo(); });
  add(u"Cut", [this] { CutToClipboard(); });
  add(u"Copy", [this] { CopyToClipboard(); });
  add(u"Paste", [this] { PasteFromClipboard(); });
  add(u"Delete", [this] { ClearSelection(); });
  add(u"Select All", [this] { SelectAll(); });
}

void TsgMemo::UpdatePopupMenu() {
  const std::u16string sel = GetSelText();
  const bool clip = g_clipboard && !g_clipboard->GetText().empty();
  for (TsgMenuItem& item : menu_.Items) {
    if (item.Caption == u"Undo") item.Enabled = ActionStack().Count() > 0 && !ReadOnly;
    if (item.Caption == u"Cut" || item.Caption == u"Delete")
      item.Enabled = !sel.empty() && !ReadOnly;
    if (item.Caption == u"Copy") item.Enabled = !sel.empty();
    if (item.Caption == u"Paste") item.Enabled = clip && !ReadOnly;
    if (item.Caption == u"Select All") item.Enabled = sel != store_.Text();
  }
}

void TsgMemo::ContextPopup(const TsgPoint& screenPoint) {
  inherited::ContextPopup(screenPoint);
  if (IsDesignTime()) return;
  UpdatePopupMenu();
  PopupMenuAt(menu_, static_cast<int>(std::lround(screenPoint.X)),
              static_cast<int>(std::lround(screenPoint.Y)));
}

// ---- keys and mouse
void TsgMemo::KeyDown(uint16_t& key, char16_t& keyChar, scene::TShiftState shift) {
  TsgScrollBox::KeyDown(key, keyChar, shift);
  const TsgCaret old = caret_;
  const bool ctrl = shift.Contains(classlib::ssCtrl), shifted = shift.Contains(classlib::ssShift);
  if (key == kEnter && !ReadOnly) {
    TypeText(u"\r\n");
    key = 0;
    keyChar = 0;
  }
  switch (key) {
    case kBack:
    case kDelete:
      if (ReadOnly) break;
      if (GetSelLength() != 0) {
        if (shifted)
          CutToClipboard();
        else
          ClearSelection();
      } else if (key == kDelete) {
        DeleteText(caret_, 1, true, true);
      } else if (store_.CaretToPos(caret_) > 0) {
        DeleteText(store_.MoveCaretByChars(caret_, -1), 1, true, true);
      }
      break;
    case kPageUp:
    case kPageDown: {
      const int page = static_cast<int>(std::nearbyint(VisibleLineCount()));
      MoveCaretByLines(key == kPageUp ? -page : page);
      break;
    }
    case kEnd:
      if (ctrl) {
        const int last = std::max(store_.LineCount() - 1, 0);
        SetCaret({last, static_cast<int>(store_.GetLine(last).size())});
      } else {
        SetCaret({caret_.Line, static_cast<int>(store_.GetLine(caret_.Line).size())});
      }
      break;
    case kHome:
      SetCaret(ctrl ? TsgCaret{} : TsgCaret{caret_.Line, 0});
      break;
    case kLeft:
      SetCaret(ctrl ? PrevWordCaret(caret_) : store_.MoveCaretByChars(caret_, -1));
      break;
    case kRight:
      SetCaret(ctrl ? NextWordCaret(caret_) : store_.MoveCaretByChars(caret_, 1));
      break;
    case kUp:
    case kDown:
      MoveCaretByLines(key == kUp ? -1 : 1);
      break;
    case kInsert:
      if (ctrl)
        CopyToClipboard();
      else if (shifted)
        PasteFromClipboard();
      break;
    default:
      break;
  }
  // Exactly Ctrl: not Ctrl+Alt, which types characters on some layouts.
  if (OnlyCtrl(shift)) {
    switch (keyChar) {
      case u'A':
      case u'a':
        SelectAll();
        keyChar = 0;
        break;
      case u'C':
      case u'c':
        CopyToClipboard();
        keyChar = 0;
        break;
      case u'V':
      case u'v':
        PasteFromClipboard();
        keyChar = 0;
        break;
      case u'X':
      case u'x':
        CutToClipboard();
        keyChar = 0;
        break;
      case u'Z':
      case u'z':
        keyChar = 0;
        break;
      default:
        break;
    }
  }
  if ((keyChar >= 32 || keyChar == 13) && !ReadOnly) {
    TypeText(keyChar == 13 ? std::u16string(u"\r\n") : std::u16string(1, keyChar));
    keyChar = 0;
  }
  if (key >= kPageUp && key <= kDown) {
    if (shifted) {
      if (!hasSelection_) ExtendSelection(old);
      ExtendSelection(caret_);
    } else {
      hasSelection_ = false;
    }
    Repaint();
  }
  UpdateCaret(true);
}

void TsgMemo::MouseDown(scene::TMouseButton button, scene::TShiftState shift, float x, float y) {
  inherited::MouseDown(button, shift, x, y);
  if (button != scene::TMouseButton::mbLeft) return;
  TsgRect cr;
  ContentRect(cr);
  if (!scene::sgPtInRect({x, y}, cr)) return;
  if (shift.Contains(classlib::ssDouble)) {
    mouseSelecting_ = false;
    SelectWord();
    return;
  }
  mouseSelecting_ = true;
  SetCaret(PointToCaret({x, y}));
  hasSelection_ = false;
  ExtendSelection(caret_);
  Repaint();
}

void TsgMemo::MouseMove(scene::TShiftState shift, float x, float y, float dx, float dy) {
  inherited::MouseMove(shift, x, y, dx, dy);
  mousePos_ = {x, y};
  if (!mouseSelecting_) return;
  SetCaret(PointToCaret({x, y}));
  ExtendSelection(caret_);
  Repaint();
}

void TsgMemo::MouseUp(scene::TMouseButton button, scene::TShiftState shift, float x, float y) {
  inherited::MouseUp(button, shift, x, y);
  mouseSelecting_ = false;
  if (GetSelLength() == 0) hasSelection_ = false;
}

void TsgMemo::MouseWheel(scene::TShiftState shift, int delta, bool& handled) {
  inherited::MouseWheel(shift, delta, handled);
  if (TsgScrollBar* v = VScrollBar(); v && v->Visible())
    v->SetValue(v->Value() - static_cast<float>(delta) / 30);
}

// ---- caret display and scrolling
void TsgMemo::UpdateCaret(bool scroll) {
  if (scroll) {
    ScrollToCaretVert();
    ScrollToCaretHorz();
  }
  TsgRect cr;
  ContentRect(cr);
  SetCaretSize({2, LineHeight()});
  const TsgPoint p = CaretToPoint(caret_);
  SetCaretPos({p.X + HScrollBarValue() - cr.Left, p.Y + VScrollBarValue() - cr.Top});
  SetCaretColor(textBrush_->SolidColor());
}

void TsgMemo::ScrollToCaretVert() {
  TsgScrollBar* v = VScrollBar();
  if (!v) return;
  const float lh = LineHeight();
  if (VScrollBarValue() > lh * static_cast<float>(caret_.Line))
    v->SetValue(lh * static_cast<float>(caret_.Line));
  if (lh * static_cast<float>(caret_.Line + 1) > VScrollBarValue() + ViewportHeight())
    v->SetValue(lh * (static_cast<float>(caret_.Line) - VisibleLineCount() + 1));
}

void TsgMemo::ScrollToCaretHorz() {
  if (store_.LineCount() == 0 || !Canvas()) return;
  TsgRect cr;
  ContentRect(cr);
  const float x = std::round(CaretToPoint(caret_).X);
  if (cr.Left <= x && x <= cr.Right) return;
  const std::u16string s = store_.GetLine(caret_.Line);
  const int c = caret_.Column;
  if (firstVisibleColumn_ < c + 1) {
    auto shown = [&] {
      return TextWidth(std::u16string_view(s).substr(size_t(firstVisibleColumn_ - 1),
                                                     size_t(c - firstVisibleColumn_ + 1)));
    };
    while (shown() > cr.Right - cr.Left - 5 && firstVisibleColumn_ < static_cast<int>(s.size()))
      ++firstVisibleColumn_;
  } else {
    firstVisibleColumn_ = std::max(c, 1);
  }
  if (TsgScrollBar* h = HScrollBar(); h && h->Visible())
    h->SetValue(TextWidth(std::u16string_view(s).substr(0, size_t(firstVisibleColumn_ - 1))));
}

// ---- layout and painting
void TsgMemo::GetContentBounds(TsgRect& r) {
  inherited::GetContentBounds(r);
  if (store_.WordWrap()) {
    const int caretPos = store_.CaretToPos(caret_);
    const int anchor = store_.CaretToPos(selAnchor_), end = store_.CaretToPos(selEnd_);
    store_.SetViewWidth(ViewportWidth());
    store_.RebuildLineStarts();
    caret_ = store_.PosToCaret(caretPos);
    if (hasSelection_) {
      selAnchor_ = store_.PosToCaret(anchor);
      selEnd_ = store_.PosToCaret(end);
    }
  }
  if (store_.LineCount() > 0)
    r.Bottom = r.Top + LineHeight() * static_cast<float>(store_.LineCount());
  if (!store_.WordWrap()) {
    const float w = TextWidth(store_.GetLine(store_.WidestLine()));
    if (w > r.Right - r.Left) r.Right = r.Left + w + 10;
  }
  ScrollToCaretHorz();
}

void TsgMemo::VisibleBand(int& first, int& last) {
  const float lh = LineHeight();
  first = static_cast<int>(VScrollBarValue() / lh);
  last = store_.LineCount() - 1;
  const float r = std::nearbyint(VScrollBarValue() / lh);
  const float bandEnd = r + VisibleLineCount() - 1;
  if (static_cast<float>(last) > bandEnd) last = static_cast<int>(std::nearbyint(bandEnd));
}

std::vector<TsgRect> TsgMemo::GetSelectionRects() {
  std::vector<TsgRect> rects;
  if (!hasSelection_) return rects;
  const TsgCaret a = Earlier(selEnd_, selAnchor_) ? selEnd_ : selAnchor_;
  const TsgCaret b = Earlier(selEnd_, selAnchor_) ? selAnchor_ : selEnd_;
  int bandFirst = 0, bandLast = 0;
  VisibleBand(bandFirst, bandLast);
  const int first = std::max(a.Line, bandFirst), last = std::min(b.Line, bandLast);
  for (int line = first; line <= last && line < store_.LineCount(); ++line) {
    const TsgPoint left = CaretToPoint({line, 0});
    const TsgPoint right = CaretToPoint({line, static_cast<int>(store_.GetLine(line).size())});
    TsgRect r{left.X, left.Y, right.X, left.Y + LineHeight()};
    if (line == a.Line) r.Left = CaretToPoint(a).X;
    if (line == b.Line) r.Right = CaretToPoint(b).X;
    rects.push_back(r);
  }
  return rects;
}

void TsgMemo::PaintLines(classlib::TObject* sender, scene::TsgCanvas* canvas, const TsgRect& r) {
  (void)sender;
  const int state = canvas->SaveState();
  try {
    canvas->IntersectClipRect(r);
    canvas->Fill()->Assign(textBrush_);
    ApplyCanvasFont();
    TsgRect cr;
    ContentRect(cr);
    int first = 0, last = 0;
    VisibleBand(first, last);
    const TsgRect local = GetLocalRect();
    for (int i = first; i <= last; ++i) {
      const TsgPoint p = CaretToPoint({i, 0});
      TsgRect line{p.X - cr.Left, p.Y - cr.Top, 65535, p.Y - cr.Top + LineHeight() * 1.25f};
      TsgRect clipped;
      scene::sgIntersectRect(clipped, line, local);
      canvas->FillText(clipped, store_.GetLine(i), false, 1, scene::sgTextAlignNear,
                       scene::sgTextAlignNear);
    }
    // Only while focused; each rectangle cut to the viewport.
    if (IsFocused()) {
      canvas->Fill()->Assign(selectionBrush_);
      for (TsgRect s : GetSelectionRects()) {
        TsgRect cut;
        if (!scene::sgIntersectRect(cut, s, cr)) continue;
        scene::sgOffsetRect(cut, -cr.Left, -cr.Top);
        canvas->FillRect(cut, 0, 0, scene::sgAllCorners, 1, scene::sgCornerRound);
      }
    }
  } catch (...) {
    canvas->RestoreState(state);
    throw;
  }
  canvas->RestoreState(state);
}

void TsgMemo::ApplyStyle() {
  inherited::ApplyStyle();
  if (auto* content = dynamic_cast<scene::TsgVisualObject*>(FindResource("content")))
    content->OnPaint = classlib::EventOf<&TsgMemo::PaintLines>(this);
  if (auto* b = dynamic_cast<scene::TsgBrushObject*>(FindResource("selection")))
    selectionBrush_->Assign(b->Brush());
  if (auto* b = dynamic_cast<scene::TsgBrushObject*>(FindResource("foreground")))
    textBrush_->Assign(b->Brush());
  if (auto* bg = dynamic_cast<scene::TsgShape*>(FindResource("background")); bg && Transparent) {
    bg->Fill()->SetStyle(scene::sgBrushNone);
    bg->Stroke()->SetStyle(scene::sgBrushNone);
  }
}

// ---- focus and IME
void TsgMemo::EnterFocus() {
  TsgControl::EnterFocus();
  modified_ = false;
  UpdateCaret(false);
  ShowCaret();
  if (Scene() && Scene()->GetReserved1() != 0) {
    SetCaret(store_.PosToCaret(static_cast<int>(store_.Text().size())));
  } else {
    caret_ = {};
    if (AutoSelect) SelectAll();
  }
}

void TsgMemo::KillFocus() {
  if (Scene()) Scene()->GetReserved2();
  TsgVisualObject::KillFocus();
  HideCaret();
  DoChange();
}

bool TsgMemo::ImeCompositionInfo(scene::TsgFont*& font, TsgPoint& caretOffset) {
  font = font_;
  caretOffset = CaretToPoint(caret_);
  return true;
}

// ---- Lines
void TsgMemo::InsertLine(int i, const std::u16string& s) {
  const int count = store_.LineCount();
  if (i < count)
    InsertText({i, 0}, s + u"\r\n", false, false, false);
  else if (count == 0 || i < 1)
    InsertText({i, 0}, s, false, false, false);
  else
    InsertText({i - 1, static_cast<int>(store_.RawLine(i - 1).size())}, u"\r\n" + s, false, false,
               false);
  store_.Actions().Clear();
}

void TsgMemo::DeleteLine(int i) {
  const int count = store_.LineCount();
  if (i < 0 || i >= count) return;
  if (i + 1 < count) {
    DeleteText({i, 0}, static_cast<int>(store_.RawLine(i).size()), true, false);
  } else if (i > 0) {
    // The last line goes with the break in front of it.
    const TsgCaret from{i - 1, static_cast<int>(store_.GetLine(i - 1).size())};
    DeleteText(from, static_cast<int>(store_.Text().size()) - store_.CaretToPos(from), true, false);
  } else {
    DeleteText({0, 0}, static_cast<int>(store_.Text().size()), true, false);
  }
  store_.Actions().Clear();
}

void TsgMemo::SetUpdateLocked(bool v) {
  updateLocked_ = v;
  if (!v) Realign();
}

CL_CLASS(TsgMemoLines) {}

std::u16string TsgMemoLines::Get(int index) const {
  return Memo ? Memo->Store().GetLine(index) : u"";
}

int TsgMemoLines::GetCount() const { return Memo ? Memo->Store().LineCount() : 0; }

void TsgMemoLines::Clear() {
  if (!Memo) return;
  Memo->SetText(u"");
  Memo->DoChange();
}

void TsgMemoLines::Delete(int index) {
  if (!Memo) return;
  Memo->DeleteLine(index);
  Memo->DoChange();
}

void TsgMemoLines::InsertObject(int index, const std::u16string& text, classlib::TObject* obj) {
  (void)obj;
  if (!Memo) return;
  Memo->InsertLine(index, text);
  Memo->DoChange();
}

void TsgMemoLines::SetUpdateState(bool updating) {
  inherited::SetUpdateState(updating);
  if (Memo) Memo->SetUpdateLocked(updating);
}

void TsgMemo::SetScene(scene::IsgScene* scene) {
  const bool arriving = scene && !Scene();
  inherited::SetScene(scene);
  if (!arriving || IsLoading()) return;
  store_.SetViewWidth(ViewportWidth());
  store_.RebuildLineStarts();
}

void TsgMemo::Loaded() {
  inherited::Loaded();
  if (!Scene()) return;
  store_.SetViewWidth(ViewportWidth());
  store_.RebuildLineStarts();
}

CL_CLASS(TsgHudMemo) {}

}  // namespace kelm::scenectrls

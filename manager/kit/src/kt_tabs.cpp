#include "kit/kt_tabs.h"

#include <algorithm>

namespace kelm::kit {

namespace {

template <class T>
bool Change(T& field, T v) {
  if (field == v) return false;
  field = v;
  return true;
}

// The caption as measured: the first "&" (the accelerator mark) removed,
// so "&&" counts as one ampersand; a final "&" is text.
std::u16string WithoutAccelerator(const std::u16string& caption) {
  const size_t k = caption.find(u'&');
  if (k == std::u16string::npos || k + 1 == caption.size()) return caption;
  std::u16string s = caption;
  s.erase(k, 1);
  return s;
}

}  // namespace

// ---- tab data

void TKtTabData::Assign(const TKtTabData& source) {
  Caption = source.Caption;
  Color = source.Color;
  DisabledImageIndex = source.DisabledImageIndex;
  Enabled = source.Enabled;
  Hint = source.Hint;
  ImageIndex = source.ImageIndex;
  Visible = source.Visible;
}

TKtTabData& TKtTabDataList::Add() {
  items_.push_back(std::make_unique<TKtTabData>());
  return *items_.back();
}

void TKtTabDataList::Replace(int i, std::unique_ptr<TKtTabData> item) {
  items_.at(static_cast<size_t>(i)) = std::move(item);
}

void TKtTabDataList::Assign(const TKtTabDataList& source) {
  if (&source == this) return;
  Clear();
  for (const auto& item : source.items_) Add().Assign(*item);
}

// ---- colours

void TKtTabColors::SetHighlightBar(TColor v) {
  if (Change(highlightBar_, v)) owner_->Repaint();
}
void TKtTabColors::SetShadow(TColor v) {
  if (Change(shadow_, v)) owner_->Repaint();
}
void TKtTabColors::SetUnselected(TColor v) {
  if (Change(unselected_, v)) owner_->Repaint();
}
void TKtTabColors::Assign(const TKtTabColors& source) {
  SetHighlightBar(source.highlightBar_);
  SetShadow(source.shadow_);
  SetUnselected(source.unselected_);
}

void TKtTextColors::SetDisabled(TColor v) {
  if (Change(disabled_, v)) owner_->Repaint();
}
void TKtTextColors::SetSelected(TColor v) {
  if (Change(selected_, v)) owner_->Repaint();
}
void TKtTextColors::SetUnselected(TColor v) {
  if (Change(unselected_, v)) owner_->Repaint();
}
void TKtTextColors::Assign(const TKtTextColors& source) {
  SetDisabled(source.disabled_);
  SetSelected(source.selected_);
  SetUnselected(source.unselected_);
}

// ---- the model

TKtTabControlModel::TKtTabControlModel() {
  regionFactory_ = [](const std::vector<TKtPoint>& points) -> std::unique_ptr<TKtRegion> {
    return std::make_unique<TKtPolygonRegion>(points);
  };
}

TKtTabControlModel::~TKtTabControlModel() = default;

void TKtTabControlModel::SetRegionFactory(TKtRegionFactory factory) {
  regionFactory_ = std::move(factory);
  regionCache_.Clear();
}

void TKtTabControlModel::SetControlSize(int32_t width, int32_t height) {
  if (width == width_ && height == height_) return;
  width_ = width;
  height_ = height;
  TabsChanged();
}

void TKtTabControlModel::TabsChanged() { SetLayoutStale(true); }

void TKtTabControlModel::SetLayoutStale(bool v) {
  if (Change(layoutStale_, v) && v) RepaintTabs();
}

void TKtTabControlModel::RepaintTabs() {
  hotTrackOnly_ = false;
  Repaint();
}

void TKtTabControlModel::RepaintHotTracking() {
  if (Loading()) return;
  hotTrackOnly_ = true;
  InvalidateStrip();
}

void TKtTabControlModel::Repaint() {
  // Side effects of setters wait while the form is loading.
  if (!Loading()) Invalidate();
}

bool TKtTabControlModel::DoChanging(int) { return true; }

bool TKtTabControlModel::ImageSizeOf(int32_t, TKtSize&) { return false; }

// ---- setters

void TKtTabControlModel::SetAlignTabs(bool v) {
  if (Change(alignTabs_, v) && multiLine_) Relayout();
}
void TKtTabControlModel::SetBackgroundColor(TColor v) {
  if (!Change(backgroundColor_, v)) return;
  parentBackgroundColor_ = false;
  Repaint();
}
void TKtTabControlModel::SetBoldCurrentTab(bool v) {
  if (Change(boldCurrentTab_, v)) Relayout();
}
void TKtTabControlModel::SetButtonColor(TColor v) {
  if (Change(buttonColor_, v)) Repaint();
}
void TKtTabControlModel::SetCardVisible(bool v) {
  if (Change(cardVisible_, v)) Relayout();
}
void TKtTabControlModel::SetShowCardFrame(bool v) {
  if (Change(showCardFrame_, v)) Relayout();
}
void TKtTabControlModel::SetShowFullFrame(bool v) {
  if (!Change(showFullFrame_, v)) return;
  // The shadow runs along a full frame only.
  if (!v) SetShowShadow(false);
  Relayout();
}
void TKtTabControlModel::SetShowShadow(bool v) {
  if (!Change(showShadow_, v)) return;
  if (v) SetShowFullFrame(true);
  Relayout();
  Repaint();
}
void TKtTabControlModel::SetShowCloseButton(bool v) {
  if (!Change(showCloseButton_, v)) return;
  ButtonsChanged();
  Relayout();
}
void TKtTabControlModel::SetShowCloseButtonOnActiveTab(bool v) {
  if (!Change(showCloseButtonOnActiveTab_, v)) return;
  ButtonsChanged();
  Relayout();
}
void TKtTabControlModel::SetShowMenuButton(bool v) {
  if (!Change(showMenuButton_, v)) return;
  ButtonsChanged();
  Relayout();
}
void TKtTabControlModel::SetUseColoredTabs(bool v) {
  if (Change(useColoredTabs_, v)) Repaint();
}
void TKtTabControlModel::SetCutCornerSize(int32_t v) {
  if (v < 0 || !Change(cutCornerSize_, v)) return;
  if (tabStyle_ == TKtTabStyle::tsCutCorner) Relayout();
}
void TKtTabControlModel::SetFlatColor(TColor v) {
  if (!Change(flatColor_, v)) return;
  ButtonsChanged();
  Repaint();
}
void TKtTabControlModel::SetFlatColorAdjustment(int32_t v) {
  if (!Change(flatColorAdjustment_, v)) return;
  ButtonsChanged();
  Repaint();
}
void TKtTabControlModel::SetImageAlignment(TKtHorizontalAlignment v) {
  if (Change(imageAlignment_, v)) Relayout();
}
void TKtTabControlModel::SetImageMargin(int32_t v) {
  if (v >= 0 && Change(imageMargin_, v)) Relayout();
}
void TKtTabControlModel::SetImagePosition(TKtImagePosition v) {
  if (Change(imagePosition_, v)) Relayout();
}
void TKtTabControlModel::SetImageAlignmentVertical(TKtVerticalAlignment v) {
  if (Change(imageAlignmentVertical_, v)) Relayout();
}
void TKtTabControlModel::SetHotTrack(bool v) {
  if (Change(hotTrack_, v) && !v && !tabHints_) StopHotTrackTimer();
}
void TKtTabControlModel::SetHotTrackColor(TColor v) {
  if (Change(hotTrackColor_, v)) Repaint();
}
void TKtTabControlModel::SetHotTrackColorSource(TKtTabHotTrackColorSource v) {
  if (Change(hotTrackColorSource_, v)) Repaint();
}
void TKtTabControlModel::SetHotTrackColorType(TKtHotTrackColorType v) {
  if (Change(hotTrackColorType_, v)) Repaint();
}
void TKtTabControlModel::SetHotTrackStyle(TKtTabHotTrackStyle v) {
  if (Change(hotTrackStyle_, v)) Repaint();
}
void TKtTabControlModel::SetMargin(int32_t v) {
  if (v >= 0 && Change(margin_, v)) Relayout();
}
void TKtTabControlModel::SetMultiLine(bool v) {
  if (Change(multiLine_, v)) Relayout();
}
void TKtTabControlModel::SetParentBackgroundColor(bool v) {
  if (Change(parentBackgroundColor_, v)) Repaint();
}
void TKtTabControlModel::ParentColorChanged(TColor parentColor) {
  if (parentBackgroundColor_ && Change(backgroundColor_, parentColor)) Repaint();
}
void TKtTabControlModel::SetRowCount(int32_t v) {
  if (Change(rowCount_, v)) Relayout();
}
void TKtTabControlModel::SetRowIndent(int32_t v) {
  if (Change(rowIndent_, v)) Relayout();
}
void TKtTabControlModel::SetRowOverlap(int32_t v) {
  if (v >= 0 && Change(rowOverlap_, v)) Relayout();
}
void TKtTabControlModel::SetShowFocusRect(bool v) {
  if (Change(showFocusRect_, v)) Repaint();
}
void TKtTabControlModel::SetSoftCorners(bool v) {
  if (Change(softCorners_, v)) Relayout();
}
void TKtTabControlModel::SetTabOverlap(int32_t v) {
  if (Change(tabOverlap_, v)) Relayout();
}
void TKtTabControlModel::SetTextOrientation(TOrientation v) {
  if (!Change(textOrientation_, v)) return;
  if (v == TOrientation::orVertical && !Loading()) FontMayNeedTrueType();
  Relayout();
}
void TKtTabControlModel::SetTabHeight(int32_t v) {
  if (v >= 0 && Change(tabHeight_, v)) Relayout();
}
void TKtTabControlModel::SetTabHints(bool v) {
  if (Change(tabHints_, v) && !v && !hotTrack_) StopHotTrackTimer();
}
void TKtTabControlModel::SetTabOrientation(TKtTabOrientation v) {
  if (Change(tabOrientation_, v) && !Loading()) Relayout();
}
void TKtTabControlModel::SetTabRegionCacheSize(int32_t v) {
  if (v == -1 || v > 0) regionCache_.SetCapacity(v);
}
void TKtTabControlModel::SetTabSequence(TKtTabSequence v) {
  if (Change(tabSequence_, v)) Relayout();
}
void TKtTabControlModel::SetTabStyle(TKtTabStyle v) {
  if (Change(tabStyle_, v)) Relayout();
}
void TKtTabControlModel::SetTabWidth(int32_t v) {
  if (v >= 0 && Change(tabWidth_, v)) Relayout();
}
void TKtTabControlModel::SetTransparent(bool v) {
  if (Change(transparent_, v)) Repaint();
}
void TKtTabControlModel::SetUseGradients(bool v) {
  if (Change(useGradients_, v)) Repaint();
}

// ---- selection

bool TKtTabControlModel::CanChange(int i) {
  if (tabs_.Count() == 0 || i < 0 || i >= tabs_.Count()) return false;
  const TKtTabData& tab = tabs_.Item(i);
  if (!tab.Visible || !(tab.Enabled || Designing())) return false;
  return i == tabIndex_ || DoChanging(i);
}

namespace {
constexpr uint16_t kVkEnd = 0x23;
constexpr uint16_t kVkHome = 0x24;
constexpr uint16_t kVkLeft = 0x25;
constexpr uint16_t kVkUp = 0x26;
constexpr uint16_t kVkRight = 0x27;
constexpr uint16_t kVkDown = 0x28;
}  // namespace

bool TKtTabControlModel::KeyDown(uint16_t key) {
  const int count = tabs_.Count();
  if (count == 0) return false;
  const bool leftSide = tabOrientation_ == TKtTabOrientation::toLeft;
  const bool reverse = tabSequence_ == TKtTabSequence::tsReverse;
  int found = -1;
  if (key == kVkHome || key == kVkEnd) {
    bool fromFirst = key == kVkHome;
    if (leftSide != reverse) fromFirst = !fromFirst;
    if (fromFirst) {
      for (int i = 0; i < count && found < 0; ++i) {
        if (CanChange(i)) found = i;
      }
    } else {
      for (int i = count - 1; i >= 0 && found < 0; --i) {
        if (CanChange(i)) found = i;
      }
    }
  } else if (key >= kVkLeft && key <= kVkDown) {
    bool forward;
    if (leftSide) {
      forward = (key == kVkLeft || key == kVkUp) != reverse;
    } else {
      forward = (key == kVkRight || key == kVkDown) != reverse;
    }
    // Each tab is tried at most once: with no tab selected there is no
    // "back at the selected tab" to end the walk.
    int i = tabIndex_;
    for (int steps = 0; steps < count; ++steps) {
      i = forward ? (i + 1) % count : (i <= 0 ? count - 1 : i - 1);
      if (i == tabIndex_) break;
      if (CanChange(i)) {
        found = i;
        break;
      }
    }
  } else {
    return false;
  }
  if (found >= 0 && found != tabIndex_) {
    keyboardAsked_ = true;
    SetTabIndex(found);
    keyboardAsked_ = false;
    if (tabIndex_ == found) DoTabClick();
  }
  return true;
}

void TKtTabControlModel::SetTabIndex(int32_t i) {
  if (Loading() || DeferTabIndex()) {
    tabIndex_ = i;
    return;
  }
  if (i < 0 || i >= tabs_.Count()) {
    tabIndex_ = -1;
    RepaintTabs();
  } else if (i == tabIndex_ || keyboardAsked_ || CanChange(i)) {
    const int32_t oldIndex = tabIndex_;
    const int32_t oldFirst = firstShown_;
    tabIndex_ = i;
    if (multiLine_) {
      RotateRowsTo(i);
    } else if (scrollNeeded_) {
      if (i < firstShown_) {
        firstShown_ = i;
      } else {
        while (firstShown_ < i && !TabShown(i)) ++firstShown_;
      }
    }
    if (firstShown_ != oldFirst || tabIndex_ != oldIndex) {
      RepaintTabs();
      RepaintScroller();
    }
    if (tabIndex_ != oldIndex) {
      DoChange();
      DoPageChange();
      if (Designing()) NotifyDesignerModified();
    }
  }
  ButtonsChanged();
}

void TKtTabControlModel::Loaded() {
  loading_ = false;
  SetLayoutStale(true);
  // A stored index is not kept: the first tab is selected, or none.
  tabIndex_ = 0;
  if (textOrientation_ == TOrientation::orVertical) FontMayNeedTrueType();
  SetTabIndex(0);
}

// ---- sizes

int32_t TKtTabControlModel::Overlap(int32_t d) const {
  switch (tabStyle_) {
    case TKtTabStyle::tsSingleSlant:
    case TKtTabStyle::tsBackSlant:
      return d / 2;
    case TKtTabStyle::tsDoubleSlant:
      return d;
    case TKtTabStyle::tsSquareCorners:
      return tabOverlap_ + 1;
    case TKtTabStyle::tsCutCorner:
    case TKtTabStyle::tsRoundCorners:
      return tabOverlap_;
  }
  return 0;
}

TKtSize TKtTabControlModel::ContentSize(const TKtTabData& tab) {
  const bool vertical = textOrientation_ == TOrientation::orVertical;
  auto rotated = [vertical](TKtSize s) { return vertical ? TKtSize{s.cy, s.cx} : s; };
  TKtSize text;
  if (measurer_ != nullptr && !tab.Caption.empty()) {
    // Lines separated by CR LF stack up.
    const std::u16string caption = WithoutAccelerator(tab.Caption);
    size_t start = 0;
    for (;;) {
      const size_t end = caption.find(u"\r\n", start);
      const TKtSize line =
          measurer_->TextExtent(caption.substr(start, end - start), boldCurrentTab_);
      text.cx = std::max(text.cx, line.cx);
      text.cy += line.cy;
      if (end == std::u16string::npos) break;
      start = end + 2;
    }
  }
  text = rotated(text);
  TKtSize image;
  const bool hasImage = ImageSizeOf(tab.ImageIndex, image);
  const int32_t gap = hasImage ? imageMargin_ : 0;
  TKtSize c;
  switch (imagePosition_) {
    case TKtImagePosition::ipLeft:
    case TKtImagePosition::ipRight:
      c = {gap + image.cx + text.cx, std::max(image.cy, text.cy)};
      break;
    case TKtImagePosition::ipTop:
    case TKtImagePosition::ipBottom:
      c = {std::max(image.cx, text.cx), gap + image.cy + text.cy};
      break;
    case TKtImagePosition::ipBack:
      c = {std::max(image.cx, text.cx), std::max(image.cy, text.cy)};
      break;
    case TKtImagePosition::ipStretch:
      c = text;
      break;
  }
  if (measurer_ != nullptr) {
    if (tabWidth_ == 0) {
      const TKtSize a = rotated(measurer_->TextExtent(RoundOrSquare() ? u"AAA" : u"A", false));
      c.cx = std::max(c.cx, a.cx);
    }
    if (tabHeight_ == 0) c.cy = std::max(c.cy, measurer_->FontHeight());
  }
  if (showCloseButtonOnActiveTab_) {
    if (!vertical && Horizontal()) c.cx += 20;
    if (vertical && !Horizontal()) c.cy += 20;
  }
  return c;
}

TKtSize TKtTabControlModel::TabSizeFromContent(TKtSize content) const {
  const int32_t cw = content.cx + 2;
  const int32_t ch = content.cy + 2;
  const int32_t C = cutCornerSize_;
  const bool vertical = textOrientation_ == TOrientation::orVertical;
  TKtSize s;
  switch (tabStyle_) {
    case TKtTabStyle::tsRoundCorners:
    case TKtTabStyle::tsSquareCorners:
      s = {cw + 4, ch + 4};
      break;
    case TKtTabStyle::tsCutCorner:
      if (Horizontal()) {
        s = vertical ? TKtSize{content.cx + 10, ch + C + 5}
                     : TKtSize{2 * C + cw + 6, content.cy + 7};
      } else {
        s = vertical ? TKtSize{content.cx + 7, 2 * C + ch + 6}
                     : TKtSize{cw + C + 5, content.cy + 10};
      }
      break;
    case TKtTabStyle::tsDoubleSlant:
      s = Horizontal() ? TKtSize{2 * Overlap(ch) + cw + tabHeight_ + 4, ch + 4}
                       : TKtSize{cw + 4, 2 * Overlap(cw) + ch + tabHeight_ + 4};
      break;
    case TKtTabStyle::tsSingleSlant:
    case TKtTabStyle::tsBackSlant:
      s = Horizontal() ? TKtSize{2 * Overlap(ch + 4) + cw + tabHeight_ / 2 + 4, ch + 4}
                       : TKtSize{cw + 4, 2 * Overlap(cw + 4) + ch + tabHeight_ / 2 + 4};
      break;
  }
  if (tabWidth_ > 0) s.cx = tabWidth_;
  if (tabHeight_ > 0) s.cy = tabHeight_;
  return s;
}

int32_t TKtTabControlModel::ButtonUnit() {
  const bool vertical = textOrientation_ == TOrientation::orVertical;
  return measurer_->TextExtent(u"A", false).cy + 4 + (vertical ? 2 : 0);
}

int32_t TKtTabControlModel::FixedTabSize() const {
  const bool vertical = textOrientation_ == TOrientation::orVertical;
  if (Horizontal() && !vertical) return tabHeight_;
  if (!Horizontal() && vertical) return tabWidth_;
  return 0;
}

int32_t TKtTabControlModel::ButtonLength() {
  if (tabs_.Count() == 0 || measurer_ == nullptr) return 0;
  const int32_t a = ButtonUnit();
  return FixedTabSize() > 0 ? std::max(a, fixedDimension_ - 2) : a;
}

int32_t TKtTabControlModel::ButtonThickness() {
  if (tabs_.Count() == 0 || measurer_ == nullptr) return 0;
  const int32_t a = ButtonUnit();
  // As thick as the row allows; a fixed tab size at least as large as the
  // buttons lets them fill the row.
  if (FixedTabSize() > 0 && FixedTabSize() >= a) return std::max<int32_t>(fixedDimension_ - 2, 0);
  return std::max<int32_t>(std::min(a, fixedDimension_ - 2), 0);
}

int32_t TKtTabControlModel::ButtonSpace() {
  const int32_t m = ButtonLength();
  return (showCloseButton_ ? m + 2 : 0) + (showMenuButton_ ? m + 2 : 0);
}

int32_t TKtTabControlModel::AvailableLength() {
  const int32_t m = ButtonLength();
  return StripLength() - 2 * margin_ - ButtonSpace() - (scrollNeeded_ ? 2 * m + 2 : 0);
}

// ---- layout

void TKtTabControlModel::UpdateLayout() {
  if (!layoutStale_) return;
  layoutStale_ = false;
  ComputeLayout();
  regionCache_.Clear();
  // Keep the first shown tab on a shown tab.
  const int count = tabs_.Count();
  auto visible = [&](int i) { return i >= 0 && i < count && tabs_.Item(i).Visible; };
  int firstVisible = 0;
  while (firstVisible < count && !tabs_.Item(firstVisible).Visible) ++firstVisible;
  if (!scrollNeeded_ || !visible(firstShown_)) {
    int i = firstShown_;
    if (scrollNeeded_) {
      while (i < count && !visible(i)) ++i;
      if (i >= count) {
        i = std::min(firstShown_, count - 1);
        while (i >= 0 && !visible(i)) --i;
      }
    }
    firstShown_ = scrollNeeded_ && visible(i) ? i : (firstVisible < count ? firstVisible : 0);
  }
  // The selection moves off a tab that can no longer be selected.
  if (tabIndex_ >= count) tabIndex_ = -1;
  if (tabIndex_ >= 0 && !CanChange(tabIndex_)) {
    int found = -1;
    for (int i = tabIndex_ + 1; i < count && found < 0; ++i) {
      if (CanChange(i)) found = i;
    }
    for (int i = tabIndex_ - 1; i >= 0 && found < 0; --i) {
      if (CanChange(i)) found = i;
    }
    if (found >= 0) {
      keyboardAsked_ = true;
      SetTabIndex(found);
      keyboardAsked_ = false;
    }
  }
  if (multiLine_ && tabIndex_ >= 0) RotateRowsTo(tabIndex_);
}

void TKtTabControlModel::ComputeLayout() {
  std::vector<int> visible;
  for (int i = 0; i < tabs_.Count(); ++i) {
    if (tabs_.Item(i).Visible) visible.push_back(i);
  }
  std::vector<TKtSize> contents;
  contents.reserve(visible.size());
  int32_t maxAcross = 0;
  for (int i : visible) {
    contents.push_back(ContentSize(tabs_.Item(i)));
    maxAcross = std::max(maxAcross, Horizontal() ? contents.back().cy : contents.back().cx);
  }
  std::vector<int32_t> lengths;
  int32_t f = 0;
  for (TKtSize c : contents) {
    (Horizontal() ? c.cy : c.cx) = maxAcross;
    const TKtSize s = TabSizeFromContent(c);
    lengths.push_back(Horizontal() ? s.cx : s.cy);
    f = std::max(f, Horizontal() ? s.cy : s.cx);
  }
  fixedDimension_ = f;

  rowCount_ = 1;
  if (multiLine_) {
    const int32_t over = Overlap(f);
    const auto maxRows = static_cast<int32_t>(std::max<size_t>(visible.size(), 1));
    for (bool again = true; again;) {
      again = false;
      const int32_t avail = StripLength() - 2 * margin_ - (rowCount_ - 1) * rowIndent_;
      const int32_t cut = avail - (RoundOrSquare() ? 4 : 0);
      int32_t rows = 1;
      int32_t pos = margin_;
      bool rowEmpty = true;
      for (int32_t length : lengths) {
        const int32_t len = std::min(length, cut);
        if (!rowEmpty && !(pos + len < avail)) {
          ++rows;
          pos = margin_;
          if (rows > rowCount_ && rowCount_ < maxRows) {
            ++rowCount_;
            again = true;
            break;
          }
        }
        pos += len - over + 1;
        rowEmpty = false;
      }
    }
  }
  PlaceTabs(visible, lengths);

  scrollNeeded_ = false;
  if (!multiLine_ && !visible.empty()) {
    // The far edge of the last tab in placing order, from the strip's start.
    const TKtRect& last = tabs_.Item(visible.back()).Rect;
    const int32_t farEdge =
        tabSequence_ == TKtTabSequence::tsStandard ? last.right : StripLength() - last.left;
    scrollNeeded_ = farEdge > StripLength() - 2 * margin_ - ButtonSpace();
  }
}

void TKtTabControlModel::PlaceTabs(const std::vector<int>& visible,
                                   const std::vector<int32_t>& lengths) {
  // Places along u, from the start of the sequence; reverse tabs are then
  // mirrored onto the strip from its far end.
  const int32_t f = fixedDimension_;
  const int32_t over = Overlap(f);
  const int32_t avail = StripLength() - 2 * margin_ - (rowCount_ - 1) * rowIndent_;
  const int32_t cut = avail - (RoundOrSquare() ? 4 : 0);
  std::vector<int32_t> start(visible.size());
  std::vector<int32_t> end(visible.size());
  std::vector<int32_t> row(visible.size());
  int32_t u = margin_;
  int32_t r = 0;
  bool rowEmpty = true;
  for (size_t k = 0; k < visible.size(); ++k) {
    const int32_t len = multiLine_ ? std::min(lengths[k], cut) : lengths[k];
    if (multiLine_ && !rowEmpty && !(u + len < avail)) {
      ++r;
      u = margin_;
    }
    start[k] = u;
    end[k] = u + len;
    row[k] = r;
    u += len - over + 1;
    rowEmpty = false;
  }
  const bool fixedLength = Horizontal() ? tabWidth_ > 0 : tabHeight_ > 0;
  if (multiLine_ && alignTabs_ && !fixedLength) {
    // Share each row's free length out among its tabs.
    for (int32_t rr = 0; rr <= r; ++rr) {
      std::vector<size_t> inRow;
      for (size_t k = 0; k < visible.size(); ++k) {
        if (row[k] == rr) inRow.push_back(k);
      }
      if (inRow.empty()) continue;
      int32_t free = StripLength() - 2 * margin_ - (rowCount_ - 1) * rowIndent_ - end[inRow.back()];
      if (RoundOrSquare() && rr == rowCount_ - 1) free -= 2;
      if (free <= 0) continue;
      const auto n = static_cast<int32_t>(inRow.size());
      int32_t shift = 0;
      for (int32_t j = 0; j < n; ++j) {
        const int32_t grow = free / n + (j < free % n ? 1 : 0);
        start[inRow[j]] += shift;
        end[inRow[j]] += shift + grow;
        shift += grow;
      }
    }
  }
  const int32_t length = StripLength();
  for (size_t k = 0; k < visible.size(); ++k) {
    TKtTabData& tab = tabs_.Item(visible[k]);
    const int32_t y = -(f - rowOverlap_) * row[k];
    if (tabSequence_ == TKtTabSequence::tsStandard) {
      tab.Rect = TKtRect{start[k], y, end[k], y + f};
    } else {
      tab.Rect = TKtRect{length - end[k], y, length - start[k], y + f};
    }
    tab.Row = row[k];
  }
}

void TKtTabControlModel::RotateRowsTo(int i) {
  if (rowCount_ <= 1 || i < 0 || i >= tabs_.Count()) return;
  const int32_t s = tabs_.Item(i).Row;
  if (s == 0) return;
  const int32_t f = fixedDimension_;
  for (int k = 0; k < tabs_.Count(); ++k) {
    TKtTabData& tab = tabs_.Item(k);
    if (!tab.Visible) continue;
    tab.Row = (tab.Row - s + rowCount_) % rowCount_;
    tab.Rect.top = -(f - rowOverlap_) * tab.Row;
    tab.Rect.bottom = tab.Rect.top + f;
  }
  regionCache_.Clear();
}

// ---- geometry

int32_t TKtTabControlModel::StripThickness() const {
  if (!cardVisible_) return Horizontal() ? height_ - 1 : width_ - 1;
  return (RoundOrSquare() ? 3 : 0) + fixedDimension_ +
         (fixedDimension_ - rowOverlap_) * (rowCount_ - 1);
}

TKtRect TKtTabControlModel::TabStripRect() const {
  const int32_t t = StripThickness();
  const int32_t w = width_ - 1;
  const int32_t h = height_ - 1;
  switch (tabOrientation_) {
    case TKtTabOrientation::toTop: {
      const bool shadow = showShadow_ && tabSequence_ == TKtTabSequence::tsStandard;
      return TKtRect{0, 0, shadow ? w - 2 : w, t};
    }
    case TKtTabOrientation::toBottom:
      return TKtRect{0, h - t, w, h};
    case TKtTabOrientation::toLeft:
      return TKtRect{0, 0, t, h};
    case TKtTabOrientation::toRight:
      return TKtRect{w - t, 0, w, h};
  }
  return {};
}

int32_t TKtTabControlModel::StripLength() const {
  const TKtRect s = TabStripRect();
  return Horizontal() ? s.Width() : s.Height();
}

int32_t TKtTabControlModel::AlongShift(int row) const {
  const bool standard = tabSequence_ == TKtTabSequence::tsStandard;
  const int32_t extra = RoundOrSquare() ? 2 : 0;
  const int32_t rowShift = (standard ? 1 : -1) * rowIndent_ * row;
  if (multiLine_) return rowShift + (standard ? extra : -extra);
  // A scrolled row: the first shown tab starts at the margin (ends there
  // for the reverse sequence).
  int ref = firstShown_;
  const int count = tabs_.Count();
  if (ref < 0 || ref >= count || !tabs_.Item(ref).Visible) {
    ref = 0;
    while (ref < count && !tabs_.Item(ref).Visible) ++ref;
    if (ref >= count) return rowShift;
  }
  const TKtRect& r = tabs_.Item(ref).Rect;
  return rowShift +
         (standard ? margin_ + extra - r.left : StripLength() - margin_ - extra - r.right);
}

TKtPoint TKtTabControlModel::StripToControl(TKtPoint p, int row) const {
  const TKtRect s = TabStripRect();
  const int32_t a = p.x + AlongShift(row);
  const int32_t c = p.y + StripThickness() - fixedDimension_;
  switch (tabOrientation_) {
    case TKtTabOrientation::toTop:
      return {s.left + a, s.top + c};
    case TKtTabOrientation::toBottom:
      return {s.left + a, s.bottom - c};
    case TKtTabOrientation::toLeft:
      return {s.left + c, s.bottom - a};
    case TKtTabOrientation::toRight:
      return {s.right - c, s.top + a};
  }
  return p;
}

TKtRect TKtTabControlModel::StripRectToControl(const TKtRect& r, int row) const {
  const TKtPoint a = StripToControl({r.left, r.top}, row);
  const TKtPoint b = StripToControl({r.right, r.bottom}, row);
  return TKtRect{std::min(a.x, b.x), std::min(a.y, b.y), std::max(a.x, b.x), std::max(a.y, b.y)};
}

namespace {
TKtRect Enlarged(TKtRect r) {
  r.left -= 2;
  r.right += 2;
  r.top -= 2;
  return r;
}
}  // namespace

TKtRect TKtTabControlModel::TabRectInControl(int i) const {
  const TKtTabData& tab = tabs_.Item(i);
  // The selected square or round tab stands 2 pixels larger.
  const bool large = i == tabIndex_ && RoundOrSquare();
  return StripRectToControl(large ? Enlarged(tab.Rect) : tab.Rect, tab.Row);
}

std::vector<TKtPoint> TKtTabControlModel::TabPolygonInControl(int i) const {
  const TKtTabData& tab = tabs_.Item(i);
  const bool large = i == tabIndex_ && RoundOrSquare();
  std::vector<TKtPoint> points =
      TabPolygon(tabStyle_, softCorners_, large ? Enlarged(tab.Rect) : tab.Rect, cutCornerSize_);
  for (TKtPoint& p : points) p = StripToControl(p, tab.Row);
  return points;
}

TKtRect TKtTabControlModel::TabContentRect(int i) const {
  const TKtTabData& tab = tabs_.Item(i);
  const bool large = i == tabIndex_ && RoundOrSquare();
  const TKtRect r = large ? Enlarged(tab.Rect) : tab.Rect;
  const bool vertical = textOrientation_ == TOrientation::orVertical;
  // Insets in strip coordinates: near and far end along the strip, the
  // outer edge and the card side across it; the slants keep the text off
  // their sloping ends.
  int32_t nearIn = 0, farIn = 0, outerIn = 0, cardIn = 0;
  const int32_t slant = 2 * Overlap(r.bottom - r.top) + 2;
  switch (tabStyle_) {
    case TKtTabStyle::tsSingleSlant:
      nearIn = 1 + 2, farIn = 1 + slant - 2, outerIn = 1, cardIn = 1;
      break;
    case TKtTabStyle::tsBackSlant:
      nearIn = 1 + slant - 2, farIn = 1 + 2, outerIn = 1, cardIn = 1;
      break;
    case TKtTabStyle::tsDoubleSlant:
      nearIn = farIn = Overlap(r.bottom - r.top), outerIn = 1, cardIn = 1;
      break;
    case TKtTabStyle::tsCutCorner:
      nearIn = farIn = vertical ? 4 : cutCornerSize_ + 3;
      outerIn = vertical ? cutCornerSize_ + 3 : 3;
      cardIn = 1;
      break;
    case TKtTabStyle::tsRoundCorners:
    case TKtTabStyle::tsSquareCorners:
      nearIn = farIn = vertical ? 2 : 4;
      outerIn = cardIn = vertical ? 4 : 2;
      break;
  }
  if (showFocusRect_) ++nearIn, ++farIn, ++outerIn, ++cardIn;
  TKtRect in{r.left + nearIn, r.top + outerIn, r.right - farIn, r.bottom - cardIn};
  // A tab too small for its insets keeps an empty rectangle, never an
  // inverted one.
  if (in.right < in.left) in.right = in.left = (r.left + r.right) / 2;
  if (in.bottom < in.top) in.bottom = in.top = (r.top + r.bottom) / 2;
  return StripRectToControl(in, tab.Row);
}

TKtRect TKtTabControlModel::CardRect(int row) const {
  TKtRect card;
  if (tabs_.Count() == 0 && cardVisible_) {
    card = TabClientRect();
  } else {
    const int32_t fullAlong = Horizontal() ? width_ - 1 : height_ - 1;
    const int32_t fullAcross = Horizontal() ? height_ - 1 : width_ - 1;
    const int32_t step = fixedDimension_ - rowOverlap_;
    int32_t a1 = rowIndent_ * row;
    int32_t a2 = fullAlong - rowIndent_ * (rowCount_ - 1 - row);
    if (tabSequence_ == TKtTabSequence::tsReverse) {
      a1 = rowIndent_ * (rowCount_ - 1 - row);
      a2 = fullAlong - rowIndent_ * row;
    }
    const int32_t c1 = StripThickness() - step * row;
    const int32_t c2 = fullAcross - step * row;
    const int32_t w = width_ - 1;
    const int32_t h = height_ - 1;
    switch (tabOrientation_) {
      case TKtTabOrientation::toTop:
        card = {a1, c1, a2, c2};
        break;
      case TKtTabOrientation::toBottom:
        card = {a1, h - c2, a2, h - c1};
        break;
      case TKtTabOrientation::toLeft:
        card = {c1, h - a2, c2, h - a1};
        break;
      case TKtTabOrientation::toRight:
        card = {w - c2, a1, w - c1, a2};
        break;
    }
  }
  if (!cardVisible_) {
    card.left -= tabOrientation_ == TKtTabOrientation::toLeft ? 0 : 3;
    card.top -= tabOrientation_ == TKtTabOrientation::toTop ? 0 : 3;
    card.right += tabOrientation_ == TKtTabOrientation::toRight ? 0 : 3;
    card.bottom += tabOrientation_ == TKtTabOrientation::toBottom ? 0 : 3;
  }
  return card;
}

TKtRect TKtTabControlModel::DisplayRect() const {
  if (!cardVisible_) return TKtRect{-2, -2, -1, -1};
  TKtRect r = CardRect(0);
  const bool top = tabOrientation_ == TKtTabOrientation::toTop;
  if (showCardFrame_ && showFullFrame_) {
    ++r.left;
    ++r.top;
    if (top && tabSequence_ == TKtTabSequence::tsStandard && showShadow_) {
      r.right -= 2;
      r.bottom -= 2;
    }
  } else if (showCardFrame_) {
    if (top) ++r.top;
    ++r.right;
    ++r.bottom;
  } else {
    if (!showFullFrame_) {
      switch (tabOrientation_) {
        case TKtTabOrientation::toLeft:
          --r.left;
          break;
        case TKtTabOrientation::toBottom:
          ++r.bottom;
          break;
        case TKtTabOrientation::toRight:
          ++r.right;
          break;
        case TKtTabOrientation::toTop:
          break;
      }
    }
    ++r.right;
    ++r.bottom;
  }
  return r;
}

bool TKtTabControlModel::TabShown(int i) const {
  if (i < 0 || i >= tabs_.Count() || !tabs_.Item(i).Visible) return false;
  if (multiLine_ || !scrollNeeded_) return true;
  // In a scrolled row, wholly inside the room left by margin and buttons.
  auto* self = const_cast<TKtTabControlModel*>(this);
  const int32_t avail = self->AvailableLength();
  const TKtRect& r = tabs_.Item(i).Rect;
  const int32_t shift = AlongShift(0);
  const int32_t a1 = r.left + shift;
  const int32_t a2 = r.right + shift;
  if (tabSequence_ == TKtTabSequence::tsStandard) return a1 >= margin_ && a2 <= margin_ + avail;
  const int32_t length = StripLength();
  return a2 <= length - margin_ && a1 >= length - margin_ - avail;
}

TKtRegion* TKtTabControlModel::TabRegion(int i) {
  const TKtRect rect = TabRectInControl(i);
  if (TKtRegion* cached = regionCache_.Find(rect)) return cached;
  const std::vector<TKtPoint> points = TabPolygonInControl(i);
  if (points.size() < 3) return nullptr;
  std::unique_ptr<TKtRegion> region = regionFactory_(points);
  if (!region) throw EKtTabControlError(u"Error creating region");
  return regionCache_.Add(rect, std::move(region));
}

int TKtTabControlModel::TabAtPoint(TKtPoint p) {
  const int count = tabs_.Count();
  if (count == 0) return -1;
  auto hit = [&](int i) {
    if (!TabShown(i)) return false;
    const TKtRect r = TabRectInControl(i);
    // The polygon's far corners lie on the rectangle's right and bottom.
    const TKtRect closed{r.left, r.top, r.right + 1, r.bottom + 1};
    if (!closed.Contains(p)) return false;
    TKtRegion* region = TabRegion(i);
    return region != nullptr && region->Contains(p);
  };
  if (tabIndex_ >= 0 && tabIndex_ < count && hit(tabIndex_)) return tabIndex_;
  const int first = firstShown_ >= 0 && firstShown_ < count ? firstShown_ : 0;
  for (int k = 0; k < count; ++k) {
    const int i = (first + k) % count;
    if (i != tabIndex_ && hit(i)) return i;
  }
  return -1;
}

}  // namespace kelm::kit

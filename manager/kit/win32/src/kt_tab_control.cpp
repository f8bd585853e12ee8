#include "kit/kt_tab_control.h"

#include <cmath>

#include "classlib/forms.h"
#include "classlib/timers.h"
#include "kit/kt_common_win.h"
#include "kit/kt_tab_buttons.h"
#include "kit/kt_grafx.h"
#include "kit/kt_tabs_gdi.h"

namespace kelm::kit {

using namespace classlib;

const TTypeInfo TypeInfo_TKtTabStyle =
    EnumTypeInfo("TKtTabStyle", {"tsSingleSlant", "tsDoubleSlant", "tsCutCorner", "tsRoundCorners",
                                 "tsBackSlant", "tsSquareCorners"});
const TTypeInfo TypeInfo_TKtTabOrientation =
    EnumTypeInfo("TKtTabOrientation", {"toTop", "toLeft", "toBottom", "toRight"});
const TTypeInfo TypeInfo_TKtTabSequence =
    EnumTypeInfo("TKtTabSequence", {"tsStandard", "tsReverse"});
const TTypeInfo TypeInfo_TKtImagePosition = EnumTypeInfo(
    "TKtImagePosition", {"ipLeft", "ipTop", "ipRight", "ipBottom", "ipBack", "ipStretch"});
const TTypeInfo TypeInfo_TKtHorizontalAlignment =
    EnumTypeInfo("TKtHorizontalAlignment", {"haLeft", "haCenter", "haRight"});
const TTypeInfo TypeInfo_TKtVerticalAlignment =
    EnumTypeInfo("TKtVerticalAlignment", {"vaTop", "vaCenter", "vaBottom"});
const TTypeInfo TypeInfo_TKtTabHotTrackStyle =
    EnumTypeInfo("TKtTabHotTrackStyle", {"htsTab", "htsText", "htsTabBar"});
const TTypeInfo TypeInfo_TKtTabHotTrackColorSource =
    EnumTypeInfo("TKtTabHotTrackColorSource", {"htcsTabColor", "htcsHotTrackColorProp"});
const TTypeInfo TypeInfo_TKtHotTrackColorType =
    EnumTypeInfo("TKtHotTrackColorType", {"htctComplement", "htctActual"});
const TTypeInfo TypeInfo_TOrientation =
    EnumTypeInfo("TOrientation", {"orHorizontal", "orVertical"});

// The model's system colours are the class library's.
static_assert(clKtWindow == clWindow && clKtHighlight == clHighlight && clKtBtnFace == clBtnFace &&
                  clKtBtnShadow == clBtnShadow && clKtGrayText == clGrayText &&
                  clKtBtnText == clBtnText,
              "system colour values");

CL_CLASS(TKtCustomTabControl) {}

TKtCustomTabControl::TKtCustomTabControl(TComponent* AOwner)
    : TCustomControl(AOwner), measurer_(Font()), imageLink_(new TChangeLink) {
  InitializeKtCommon();
  SetMeasurer(&measurer_);
  SetRegionFactory(&MakeGdiRegion);
  TCustomControl::SetBounds(Left(), Top(), 300, 100);
  SetControlSize(300, 100);
  SetControlStyle({csAcceptsControls, csCaptureMouse, csClickEvents, csDoubleClicks});
  SetTabStop(true);
  imageLink_->OnChange = EventOf<&TKtCustomTabControl::ImageListChange>(this);
  hotTimer_ = New<TTimer>(this);
  hotTimer_->SetEnabled(false);
  hotTimer_->SetInterval(60);
  hotTimer_->SetOnTimer(EventOf<&TKtCustomTabControl::HotTrackTick>(this));
  dragScrollTimer_ = New<TTimer>(this);
  dragScrollTimer_->SetEnabled(false);
  dragScrollTimer_->SetOnTimer(EventOf<&TKtCustomTabControl::DragScrollTick>(this));
}

TKtCustomTabControl::~TKtCustomTabControl() {
  if (bitmap_ != nullptr) DeleteObject(bitmap_);
  if (images_ != nullptr) images_->UnRegisterChanges(imageLink_);
  delete imageLink_;
}

void TKtCustomTabControl::SetImages(TCustomImageList* v) {
  if (v == images_) return;
  if (images_ != nullptr) {
    images_->UnRegisterChanges(imageLink_);
    images_->RemoveFreeNotification(this);
  }
  images_ = v;
  if (images_ != nullptr) {
    images_->RegisterChanges(imageLink_);
    images_->FreeNotification(this);
  }
  TabsChanged();
}

void TKtCustomTabControl::ImageListChange(TObject*) { Invalidate(); }

void TKtCustomTabControl::Notification(TComponent* component, TOperation operation) {
  TCustomControl::Notification(component, operation);
  if (operation == TOperation::opRemove && component == images_) SetImages(nullptr);
}

bool TKtCustomTabControl::Loading() const {
  return ComponentState().Contains(csLoading) || ComponentState().Contains(csReading);
}

void TKtCustomTabControl::Loaded() {
  TCustomControl::Loaded();
  storedHint_ = Hint();
  TKtTabControlModel::Loaded();
}

void TKtCustomTabControl::Invalidate() { TCustomControl::Invalidate(); }

void TKtCustomTabControl::SetBounds(int left, int top, int width, int height) {
  TCustomControl::SetBounds(left, top, width, height);
  SetControlSize(Width(), Height());
}

void TKtCustomTabControl::DefineProperties(TFiler& filer) {
  TCustomControl::DefineProperties(filer);
  // The row thickness travels with the form as an integer of its own.
  filer.DefineProperty(
      "FixedDimension", [this](TReader& reader) { SetFixedDimension(reader.ReadInteger()); },
      [this](TWriter& writer) { writer.WriteInteger(FixedDimension()); }, true);
}

void TKtCustomTabControl::CreateParams(TCreateParams& params) {
  TCustomControl::CreateParams(params);
  params.WindowClass.style &= ~static_cast<UINT>(CS_HREDRAW | CS_VREDRAW);
}

void TKtCustomTabControl::AdjustClientRect(TRect& rect) {
  // The layout runs at paint time; until then the row thickness read with
  // the form places the children.
  const TKtRect r = DisplayRect();
  alignedTo_ = r;
  rect = Rect(r.left, r.top, r.right, r.bottom);
}

namespace {

// A line that covers both of its end points.
void Line(HDC dc, TKtPoint a, TKtPoint b) {
  MoveToEx(dc, a.x, a.y, nullptr);
  LineTo(dc, b.x, b.y);
  SetPixelV(dc, b.x, b.y, GetDCPenColor(dc));
}

void FillFlat(HDC dc, const RECT& r, TColor color) {
  HBRUSH brush = CreateSolidBrush(ColorToRGB(color));
  FillRect(dc, &r, brush);
  DeleteObject(brush);
}

}  // namespace

TColor TKtCustomTabControl::FrameColor() { return AdjustColor(FlatColor(), FlatColorAdjustment()); }

void TKtCustomTabControl::Paint() {
  PlaceButtons();
  // The strip measured just now may have moved the page area: the pages
  // follow before anything is drawn, or the active one covers the tabs.
  if (DisplayRect() != alignedTo_) Realign();
  const int w = Width();
  const int h = Height();
  if (w <= 0 || h <= 0) return;
  HDC target = Canvas()->Handle();
  // Everything goes to the off-screen bitmap first and reaches the screen in
  // one copy, so no half-painted tab is ever seen.
  if (bitmap_ == nullptr || bitmapSize_.cx != w || bitmapSize_.cy != h) {
    if (bitmap_ != nullptr) DeleteObject(bitmap_);
    bitmap_ = CreateCompatibleBitmap(target, w, h);
    bitmapSize_ = {w, h};
  }
  HDC dc = CreateCompatibleDC(target);
  if (dc == nullptr || bitmap_ == nullptr) {
    if (dc != nullptr) DeleteDC(dc);
    return;
  }
  HGDIOBJ oldBitmap = SelectObject(dc, bitmap_);
  HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(BLACK_BRUSH));
  HGDIOBJ oldPen = SelectObject(dc, GetStockObject(DC_PEN));
  const RECT all{0, 0, w, h};
  TCanvas eventCanvas;
  eventCanvas.SetHandle(dc);
  const bool handled = DoPaintBackground(&eventCanvas, Rect(0, 0, w, h));
  eventCanvas.SetHandle(nullptr);
  if (handled) {
    // The owner painted the background.
  } else if (Transparent()) {
    PaintParentBackground(this, dc, false);
  } else {
    FillFlat(dc, all, BackgroundColor());
  }
  auto release = [&] {
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldBitmap);
    DeleteDC(dc);
  };
  // A hot-tracking repaint covers only the strip and skips the shadows;
  // when more than the strip needs painting (another repaint joined it)
  // the shadows are drawn all the same.
  skipShadows_ = false;
  if (HotTrackOnly()) {
    RECT clip{};
    const TKtRect s = TabStripRect();
    const int kind = GetClipBox(target, &clip);
    skipShadows_ = kind != NULLREGION && kind != ERROR && clip.left >= s.left &&
                   clip.top >= s.top && clip.right <= s.right + 1 && clip.bottom <= s.bottom + 1;
  }
  ClearHotTrackOnly();
  try {
    DrawTabsAndCards(dc);
  } catch (...) {
    // The paint is abandoned; the next paint message starts afresh.
    release();
    throw;
  }
  BitBlt(target, 0, 0, w, h, dc, 0, 0, SRCCOPY);
  release();
}

void TKtCustomTabControl::DrawTabsAndCards(HDC dc) {
  const int count = Tabs().Count();
  if (count > 0) {
    // Back rows and their cards first, the front row last, so that the
    // selected tab and its card lie on top.
    int first = -1;
    for (int i = 0; i < count && first < 0; ++i) {
      if (Tabs().Item(i).Visible && Tabs().Item(i).Row == 0) first = i;
    }
    int i = first <= 0 ? count - 1 : first - 1;
    int cardRow = RowCount() - 1;
    for (int n = 0; n < count; ++n) {
      if (Tabs().Item(i).Visible && TabShown(i) && i >= FirstShownIndex() && i != TabIndex()) {
        if (Tabs().Item(i).Row < cardRow && cardRow > 0) {
          DrawCard(dc, cardRow);
          cardRow = Tabs().Item(i).Row;
        }
        DrawTab(dc, i);
      }
      i = i == 0 ? count - 1 : i - 1;
    }
    if (cardRow == 1) DrawCard(dc, 1);
    if (TabIndex() >= 0 && TabShown(TabIndex())) DrawTab(dc, TabIndex());
  }
  DrawCard(dc, 0);
}

void TKtCustomTabControl::DrawTab(HDC dc, int i) {
  const TKtRect r = TabRectInControl(i);
  const RECT rect{r.left, r.top, r.right, r.bottom};
  RECT clip;
  if (GetClipBox(dc, &clip) != NULLREGION) {
    RECT meet;
    if (IntersectRect(&meet, &rect, &clip) == 0) return;
  }
  auto* region = static_cast<TKtGdiRegion*>(TabRegion(i));
  if (region == nullptr) return;
  const int saved = SaveDC(dc);
  if (saved == 0) throw EKtTabControlError(u"Error saving device context");
  SelectClipRgn(dc, region->Handle());
  const TKtTabData& tab = Tabs().Item(i);
  TColor base = Color();
  TColor light = TabColors().Unselected();
  TColor shadow = TabColors().Shadow();
  if (UseColoredTabs()) {
    base = tab.Color;
    light = LighterColor(base, 20);
    shadow = ColorsAreClose(light, clWhite) ? clBtnFace : DarkerColor(base, 40);
  }
  if (HotTrack() && i == hotTab_ && HotTrackStyle() == TKtTabHotTrackStyle::htsTab) {
    if (HotTrackColorSource() == TKtTabHotTrackColorSource::htcsTabColor) {
      shadow = DarkerColor(shadow, 30);
    } else if (HotTrackColorType() == TKtHotTrackColorType::htctActual) {
      light = LighterColor(HotTrackColor(), 60);
      shadow = HotTrackColor();
    } else {
      shadow = ContrastHueColor(HotTrackColor(), 140);
      light = LighterColor(shadow, 60);
    }
  }
  const bool horizontalStrip = TabOrientation() == TKtTabOrientation::toTop ||
                               TabOrientation() == TKtTabOrientation::toBottom;
  TCanvas eventCanvas;
  eventCanvas.SetHandle(dc);
  const bool handled =
      DoPaintTabBackground(&eventCanvas, i, Rect(rect.left, rect.top, rect.right, rect.bottom));
  eventCanvas.SetHandle(nullptr);
  if (handled) {
    // The owner painted the background.
  } else if (i == TabIndex()) {
    FillFlat(dc, rect, base);
  } else if (UseGradients() && FullColorDisplay()) {
    const bool lightFirst = TabOrientation() == TKtTabOrientation::toTop ||
                            TabOrientation() == TKtTabOrientation::toLeft;
    TCanvas canvas;
    canvas.SetHandle(dc);
    GradientFill(&canvas, Rect(rect.left, rect.top, rect.right, rect.bottom),
                 horizontalStrip ? 2 : 5, lightFirst ? light : shadow, lightFirst ? shadow : light,
                 255);
    canvas.SetHandle(nullptr);
  } else {
    FillFlat(dc, rect, light);
  }
  DrawTabContent(dc, i, rect);
  RestoreDC(dc, saved);
  // The outline leaves the card side open: the card's frame closes it.
  const std::vector<TKtPoint> points = TabPolygonInControl(i);
  SetDCPenColor(dc, ColorToRGB(FrameColor()));
  for (size_t k = 1; k < points.size(); ++k) Line(dc, points[k - 1], points[k]);
}

void TKtCustomTabControl::DrawCard(HDC dc, int row) {
  TKtRect r = CardRect(row);
  if (r.right <= r.left || r.bottom <= r.top) return;
  RECT fill{r.left, r.top, r.right, r.bottom};
  if (CardVisible()) {
    ++fill.right;
    ++fill.bottom;
  }
  TCanvas canvas;
  canvas.SetHandle(dc);
  const bool handled =
      DoPaintCardBackground(&canvas, row, Rect(fill.left, fill.top, fill.right, fill.bottom));
  canvas.SetHandle(nullptr);
  if (!handled) {
    const bool coloured = UseColoredTabs() && TabIndex() >= 0;
    FillFlat(dc, fill, coloured ? Tabs().Item(TabIndex()).Color : Color());
  }
  if (!ShowCardFrame()) return;
  SetDCPenColor(dc, ColorToRGB(FrameColor()));
  const TKtPoint p0{r.left, r.top}, p1{r.right, r.top}, p2{r.right, r.bottom}, p3{r.left, r.bottom};
  // The edge on the tabs' side, from corner to corner.
  TKtPoint a = p0, b = p1;
  switch (TabOrientation()) {
    case TKtTabOrientation::toLeft:
      a = p0, b = p3;
      break;
    case TKtTabOrientation::toBottom:
      a = p3, b = p2;
      break;
    case TKtTabOrientation::toRight:
      a = p1, b = p2;
      break;
    case TKtTabOrientation::toTop:
      break;
  }
  const bool gap = row == 0 && TabIndex() >= 0 && TabShown(TabIndex());
  if (gap) {
    // The stretch where the selected tab meets the card stays open, so tab
    // and card read as one outline.
    const std::vector<TKtPoint> points = TabPolygonInControl(TabIndex());
    if (points.size() >= 2) {
      TKtPoint g0 = points.front(), g1 = points.back();
      const bool alongX = a.y == b.y;
      if ((alongX ? g0.x > g1.x : g0.y > g1.y)) std::swap(g0, g1);
      if (alongX) {
        if (g0.x > a.x) Line(dc, a, {g0.x, a.y});
        if (g1.x < b.x) Line(dc, {g1.x, a.y}, b);
      } else {
        if (g0.y > a.y) Line(dc, a, {a.x, g0.y});
        if (g1.y < b.y) Line(dc, {a.x, g1.y}, b);
      }
    }
  } else {
    Line(dc, a, b);
  }
  const bool shadow = ShowShadow() && ShowFullFrame();
  if (shadow) {
    // The frame stops 2 pixels short of the shadow's edges.
    Line(dc, p0, {p1.x - 2, p1.y});
    Line(dc, {p1.x - 2, p1.y}, {p2.x - 2, p2.y - 2});
    Line(dc, {p2.x - 2, p2.y - 2}, {p3.x, p3.y - 2});
    Line(dc, {p3.x, p3.y - 2}, p0);
  } else if (ShowFullFrame()) {
    Line(dc, p0, p1);
    Line(dc, p1, p2);
    Line(dc, p2, p3);
    Line(dc, p3, p0);
  }
  if (ShowFullFrame()) {
    if (gap) {
      // Reopen the gap drawn over by the full frame.
      const std::vector<TKtPoint> points = TabPolygonInControl(TabIndex());
      if (points.size() >= 2) {
        const TKtPoint g0 = points.front(), g1 = points.back();
        SetDCPenColor(dc, ColorToRGB(Color()));
        MoveToEx(dc, g0.x, g0.y, nullptr);
        LineTo(dc, g1.x, g1.y);
        SetDCPenColor(dc, ColorToRGB(FrameColor()));
      }
    }
  }
  if (shadow && !skipShadows_) DrawShadow(dc, r);
}

void TKtCustomTabControl::DrawShadow(HDC dc, const TKtRect& card) {
  // Shadows darken what the parent shows there, not the control's own
  // pixels, so they read right over a patterned or transparent parent.
  const int w = Width();
  const int h = Height();
  HDC parentDc = CreateCompatibleDC(dc);
  HBITMAP parentImage = CreateCompatibleBitmap(dc, w, h);
  if (parentDc == nullptr || parentImage == nullptr) {
    if (parentImage != nullptr) DeleteObject(parentImage);
    if (parentDc != nullptr) DeleteDC(parentDc);
    return;
  }
  HGDIOBJ old = SelectObject(parentDc, parentImage);
  PaintParentBackground(this, parentDc, false);
  auto shade = [&](int x, int y, int strength) {
    if (x < 0 || y < 0 || x >= w || y >= h) return;
    const COLORREF c = GetPixel(parentDc, x, y);
    const double keep = 1.0 - strength / 255.0;
    auto ch = [keep](int v) { return static_cast<BYTE>(std::lround(v * keep)); };
    SetPixelV(dc, x, y, RGB(ch(GetRValue(c)), ch(GetGValue(c)), ch(GetBValue(c))));
  };
  const struct { int inset, strength; } lines[] = {{1, 30}, {0, 15}};
  for (const auto& line : lines) {
    const int x = card.right - line.inset;
    const int y = card.bottom - line.inset;
    for (int v = card.top + 2 - line.inset; v <= y; ++v) shade(x, v, line.strength);
    for (int u = card.left + 2 - line.inset; u < x; ++u) shade(u, y, line.strength);
  }
  SelectObject(parentDc, old);
  DeleteObject(parentImage);
  DeleteDC(parentDc);
}

void TKtCustomTabControl::WndProc(TMessage& m) {
  switch (m.Msg) {
    case CM_PARENTCOLORCHANGED:
      return CMParentColorChanged(m);
    case WM_GETDLGCODE:
      // The arrow keys walk the tabs rather than the dialog.
      m.Result = DLGC_WANTARROWS;
      return;
    default:
      return TCustomControl::WndProc(m);
  }
}

void TKtCustomTabControl::CMParentColorChanged(TMessage& m) {
  TCustomControl::WndProc(m);
  if (Parent() != nullptr) ParentColorChanged(Parent()->Color());
}

void TKtCustomTabControl::CMFontChanged(TMessage& m) {
  TCustomControl::CMFontChanged(m);
  // Tab text is measured in the control's font.
  TabsChanged();
}

bool TKtCustomTabControl::DoChanging(int newIndex) {
  bool allow = true;
  if (OnChanging) OnChanging(this, newIndex, allow);
  return allow;
}

void TKtCustomTabControl::DoChange() {
  if (OnChange) OnChange(this);
}

void TKtCustomTabControl::DoPageChange() {
  if (OnPageChange) OnPageChange(this);
}

void TKtCustomTabControl::DoTabOrderChange(int oldIndex, int newIndex) {
  if (OnTabOrderChange) OnTabOrderChange(this, oldIndex, newIndex);
}

bool TKtCustomTabControl::DoClose() {
  bool allow = false;
  if (OnClose) OnClose(this, allow);
  return allow;
}

bool TKtCustomTabControl::DoPaintCardBackground(TCanvas* canvas, int row, const TRect& rect) {
  bool handled = false;
  if (OnPaintCardBackground) OnPaintCardBackground(this, canvas, row, rect, handled);
  return handled;
}

void TKtCustomTabControl::DrawDropIndicator(const TKtRect& rect) {
  const int w = rect.Width();
  const int h = rect.bottom - rect.top;
  if (w <= 0 || h <= 0 || Parent() == nullptr || !HandleAllocated()) return;
  HWND window = nullptr;
  HDC target = nullptr;
  POINT at{rect.left, rect.top};
  if (RunningOnOsLevel(7)) {
    // Composited desktops show nothing drawn on the screen's context.
    window = Parent()->Handle();
    target = GetDCEx(window, nullptr, DCX_CACHE | DCX_CLIPSIBLINGS | DCX_LOCKWINDOWUPDATE);
    at.x += Left();
    at.y += Top();
  } else {
    target = GetDC(nullptr);
    ::ClientToScreen(Handle(), &at);
  }
  if (target == nullptr) return;
  HDC dc = CreateCompatibleDC(target);
  HBITMAP bitmap = CreateCompatibleBitmap(target, w, h);
  if (dc != nullptr && bitmap != nullptr) {
    HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
    const RECT all{0, 0, w, h};
    FillFlat(dc, all, XorColors(ColorToRGB(DragIndicatorColor()), ColorToRGB(Parent()->Color())));
    // Two black notches leave the marker's shape.
    POINT notches[2][3];
    switch (TabOrientation()) {
      case TKtTabOrientation::toTop:
        notches[0][0] = {0, 0}, notches[0][1] = {8, 8}, notches[0][2] = {0, 8};
        notches[1][0] = {7, 8}, notches[1][1] = {15, 0}, notches[1][2] = {15, 8};
        break;
      case TKtTabOrientation::toLeft:
        notches[0][0] = {1, 0}, notches[0][1] = {8, 0}, notches[0][2] = {8, 8};
        notches[1][0] = {-1, 15}, notches[1][1] = {8, 7}, notches[1][2] = {8, 15};
        break;
      case TKtTabOrientation::toBottom:
        notches[0][0] = {-1, 8}, notches[0][1] = {-1, -1}, notches[0][2] = {8, -1};
        notches[1][0] = {7, -1}, notches[1][1] = {15, 0}, notches[1][2] = {15, 8};
        break;
      case TKtTabOrientation::toRight:
        notches[0][0] = {0, 0}, notches[0][1] = {7, 0}, notches[0][2] = {0, 7};
        notches[1][0] = {0, 7}, notches[1][1] = {8, 15}, notches[1][2] = {0, 15};
        break;
    }
    HGDIOBJ oldPen = SelectObject(dc, GetStockObject(NULL_PEN));
    HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(BLACK_BRUSH));
    ::Polygon(dc, notches[0], 3);
    ::Polygon(dc, notches[1], 3);
    SelectObject(dc, oldBrush);
    SelectObject(dc, oldPen);
    BitBlt(target, at.x, at.y, w, h, dc, 0, 0, SRCINVERT);
    SelectObject(dc, oldBitmap);
  }
  if (bitmap != nullptr) DeleteObject(bitmap);
  if (dc != nullptr) DeleteDC(dc);
  ReleaseDC(window, target);
}

void TKtCustomTabControl::DoTabClick() {
  if (OnTabClick) OnTabClick(this);
}

void TKtCustomTabControl::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  TCustomControl::MouseDown(button, shift, x, y);
  if (Designing() && button != TMouseButton::mbLeft) return;
  if (!Enabled()) return;
  const int tab = TabAtPoint({x, y});
  if (tab >= 0 && Tabs().Item(tab).Enabled) {
    // Clicked again, the selected tab takes the focus, and stops without it.
    if (TabStop() && tab == TabIndex() && !Designing()) {
      SetFocus();
      if (!Focused()) return;
    }
    SetTabIndex(tab);
    if (TabIndex() == tab) DoTabClick();
  }
  pressedTab_ = tab;
}

void TKtCustomTabControl::KeyDown(WORD& key, TShiftState shift) {
  TCustomControl::KeyDown(key, shift);
  TKtTabControlModel::KeyDown(key);
}

bool TKtCustomTabControl::TabFontIsTrueType() { return FontIsTrueType(Font()); }

void TKtCustomTabControl::FontMayNeedTrueType() {
  if (!TabFontIsTrueType()) Font()->SetName("Verdana");
}

bool TKtCustomTabControl::ImageSizeOf(int32_t imageIndex, TKtSize& size) {
  if (images_ == nullptr || imageIndex < 0 || imageIndex >= images_->Count()) return false;
  size = TKtSize{images_->Width(), images_->Height()};
  return true;
}

}  // namespace kelm::kit

namespace kelm::kit {

// ---- scrolling

bool TKtCustomTabControl::ScrollsForward(bool upRight) const {
  const bool standard = TabSequence() == TKtTabSequence::tsStandard;
  const bool forward = TabOrientation() == TKtTabOrientation::toRight ? !standard : standard;
  return upRight ? forward : !forward;
}

bool TKtCustomTabControl::CanScroll(bool forward) const {
  const int count = Tabs().Count();
  if (!TabsDoNotFit() || count == 0) return false;
  if (forward) {
    int last = count - 1;
    while (last >= 0 && !Tabs().Item(last).Visible) --last;
    return FirstShownIndex() < count - 1 && last >= 0 && !TabShown(last);
  }
  int first = 0;
  while (first < count && !Tabs().Item(first).Visible) ++first;
  return FirstShownIndex() > 0 && first < count && !TabShown(first);
}

void TKtCustomTabControl::ScrollTabs(bool forward) {
  const int count = Tabs().Count();
  const int old = FirstShownIndex();
  if (CanScroll(forward)) {
    int i = old;
    bool found = false;
    // Step until the new first tab is shown (hidden tabs are passed over).
    while (!found && (forward ? i + 1 < count : i > 0)) {
      i += forward ? 1 : -1;
      SetFirstShownIndex(i);
      found = TabShown(i);
    }
    if (!found) {
      SetFirstShownIndex(old);
    } else {
      RepaintTabs();
      RepaintScroller();
    }
  }
  if (activeClose_ != nullptr) PlaceButtons();
  if (OnScrolledTabs) OnScrolledTabs(this);
}

void TKtCustomTabControl::ScrollerUpRight(TObject*) { ScrollTabs(ScrollsForward(true)); }

void TKtCustomTabControl::ScrollerDownLeft(TObject*) { ScrollTabs(ScrollsForward(false)); }

// ---- buttons

void TKtCustomTabControl::PlaceButtons() {
  UpdateLayout();
  const int count = Tabs().Count();
  const int m = ButtonLength();
  if (TabsDoNotFit() && scroller_ == nullptr) {
    scroller_ = New<TKtTabScroller>(this, this);
    scroller_->OnUpRightClick = EventOf<&TKtCustomTabControl::ScrollerUpRight>(this);
    scroller_->OnDownLeftClick = EventOf<&TKtCustomTabControl::ScrollerDownLeft>(this);
    scroller_->SetParent(this);
  }
  if (ShowCloseButton() && closeButton_ == nullptr) {
    closeButton_ = New<TKtTabControlCloseButton>(this, this);
    closeButton_->OnClose = EventOf<&TKtCustomTabControl::CloseClicked>(this);
    closeButton_->SetParent(this);
  }
  if (ShowMenuButton() && menuButton_ == nullptr) {
    menuButton_ = New<TKtTabMenuButton>(this, this);
    menuButton_->SetParent(this);
  }
  const TColor frame = FrameColor();
  const TKtRect strip = TabStripRect();
  const bool horizontal = TabOrientation() == TKtTabOrientation::toTop ||
                          TabOrientation() == TKtTabOrientation::toBottom;
  const int stripStart = horizontal ? strip.left : strip.top;
  const int stripEnd = horizontal ? strip.right : strip.bottom;
  const int across = ButtonThickness();
  // Across the strip: 2 pixels from the card's edge.
  int acrossAt = 0;
  switch (TabOrientation()) {
    case TKtTabOrientation::toTop:
      acrossAt = strip.bottom - 2 - across;
      break;
    case TKtTabOrientation::toBottom:
      acrossAt = strip.top + 2;
      break;
    case TKtTabOrientation::toLeft:
      acrossAt = strip.right - 2 - across;
      break;
    case TKtTabOrientation::toRight:
      acrossAt = strip.left + 2;
      break;
  }
  const bool reverse = TabSequence() == TKtTabSequence::tsReverse;
  // Along the strip from its end (its start in reverse), after the margin:
  // the menu button, the close button, then the scroller, 2 pixels apart.
  int along = reverse ? stripStart + Margin() : stripEnd - Margin();
  auto place = [&](TControl* c, int length, bool shown) {
    if (c == nullptr) return;
    if (!shown || count == 0 || length <= 0) {
      c->SetBounds(-200, -200, std::max(length, 1), std::max(across, 1));
      return;
    }
    const int from = reverse ? along : along - length;
    along = reverse ? along + length + 2 : along - length - 2;
    if (horizontal) {
      c->SetBounds(from, acrossAt, length, across);
    } else {
      c->SetBounds(acrossAt, from, across, length);
    }
  };
  place(menuButton_, m, ShowMenuButton());
  place(closeButton_, m, ShowCloseButton());
  place(scroller_, 2 * m - 1, TabsDoNotFit());
  if (scroller_ != nullptr) {
    scroller_->SetOrientation(horizontal ? TOrientation::orHorizontal : TOrientation::orVertical);
    scroller_->SetFrameColor(frame);
  }
  if (closeButton_ != nullptr) closeButton_->SetFrameColor(frame);
  if (menuButton_ != nullptr) menuButton_->SetFrameColor(frame);
  if (ShowCloseButtonOnActiveTab() && activeClose_ == nullptr) {
    activeClose_ = New<TKtActiveTabCloseButton>(this, this);
    activeClose_->OnClose = EventOf<&TKtCustomTabControl::CloseClicked>(this);
    activeClose_->SetParent(this);
  }
  if (activeClose_ != nullptr) {
    activeClose_->SetFrameColor(frame);
    // Shown exactly while the selected tab is shown.
    const bool shown = ShowCloseButtonOnActiveTab() && TabIndex() >= 0 && TabShown(TabIndex());
    activeClose_->SetVisible(shown);
    if (shown) {
      const TKtRect r = ActiveCloseRect();
      activeClose_->SetBounds(r.left, r.top, r.right - r.left, r.bottom - r.top);
    }
  }
}

TKtRect TKtCustomTabControl::ActiveCloseRect() const {
  const TKtRect tab = TabRectInControl(TabIndex());
  const bool horizontal = TabOrientation() == TKtTabOrientation::toTop ||
                          TabOrientation() == TKtTabOrientation::toBottom;
  const bool reverse = TabSequence() == TKtTabSequence::tsReverse;
  const int across = horizontal ? tab.bottom - tab.top : tab.right - tab.left;
  const int size = horizontal ? 13 : across < 15 ? 10 : 15;
  // Centred across the tab, centred in the 20 pixels at the far end (the
  // near end in reverse).
  if (horizontal) {
    const int start = reverse ? tab.left : tab.right - 20;
    const int x = start + (20 - size) / 2;
    const int y = tab.top + (across - size) / 2;
    return TKtRect{x, y, x + size, y + size};
  }
  const int start = reverse ? tab.top : tab.bottom - 20;
  const int y = start + (20 - size) / 2;
  const int x = tab.left + (across - size) / 2;
  return TKtRect{x, y, x + size, y + size};
}

void TKtCustomTabControl::CloseClicked(TObject*) {
  if (DoClose() && TabIndex() >= 0) CloseActiveTab();
}

void TKtCustomTabControl::ButtonsChanged() {
  if (closeButton_ != nullptr) closeButton_->Invalidate();
  if (menuButton_ != nullptr) menuButton_->Invalidate();
  // Placed on the selected tab at the next paint.
  if (activeClose_ != nullptr) activeClose_->SetVisible(TabIndex() >= 0);
}

void TKtCustomTabControl::RepaintScroller() {
  if (scroller_ != nullptr) scroller_->Invalidate();
}

// ---- hot tracking and hints

void TKtCustomTabControl::StopHotTrackTimer() { hotTimer_->SetEnabled(false); }

void TKtCustomTabControl::EndHotTracking() {
  const bool was = hotTab_ >= 0;
  hotTab_ = -1;
  hotTimer_->SetEnabled(false);
  if (was && HotTrack()) RepaintHotTracking();
}

void TKtCustomTabControl::InvalidateStrip() {
  if (!HandleAllocated()) return;
  UpdateLayout();
  const TKtRect s = TabStripRect();
  // The strip's far edge line belongs to it.
  const RECT r{s.left, s.top, s.right + 1, s.bottom + 1};
  InvalidateRect(Handle(), &r, FALSE);
}

void TKtCustomTabControl::HotTrackTick(TObject*) {
  POINT p;
  GetCursorPos(&p);
  const TPoint at = ScreenToClient(TPoint{p.x, p.y});
  if (TabAtPoint({at.x, at.y}) >= 0) return;
  if (TabHints()) SetHint(storedHint_);
  EndHotTracking();
}

void TKtCustomTabControl::MouseMove(TShiftState shift, int x, int y) {
  if (!Designing() && (HotTrack() || TabHints())) {
    const int tab = TabAtPoint({x, y});
    if (tab < 0) {
      const TKtRect strip = TabStripRect();
      const bool inStrip = x >= strip.left && x < strip.right && y >= strip.top && y < strip.bottom;
      if (TabHints() && (hotTab_ >= 0 || inStrip)) {
        if (Application != nullptr) Application->CancelHint();
        SetHint(storedHint_);
      }
      EndHotTracking();
    } else if (tab != hotTab_) {
      hotTab_ = tab;
      if (HotTrack()) RepaintHotTracking();
      if (TabHints()) {
        if (Application != nullptr) Application->CancelHint();
        SetHint(Tabs().Item(tab).Hint);
      }
      if (!hotTimer_->Enabled()) hotTimer_->SetEnabled(true);
    }
  }
  TCustomControl::MouseMove(shift, x, y);
  if (AllowTabDragging() && shift.Contains(ssLeft) && pressedTab_ >= 0 &&
      pressedTab_ < Tabs().Count() && Tabs().Item(pressedTab_).Enabled && !Dragging())
    BeginDrag(false);
}

// ---- accelerators

void TKtCustomTabControl::CMDialogKey(TMessage& m) {
  if (m.Msg == CM_DIALOGCHAR && CanFocus()) {
    for (int i = 0; i < Tabs().Count(); ++i) {
      const TKtTabData& tab = Tabs().Item(i);
      if (!tab.Enabled || !tab.Visible || !IsAccel(static_cast<WORD>(m.WParam), tab.Caption))
        continue;
      m.Result = 1;
      SetFocus();
      if (Focused()) {
        SetTabIndex(i);
        DoTabClick();
      }
      return;
    }
  }
  TCustomControl::CMDialogKey(m);
}

// ---- dragging a tab

TKtRect TKtCustomTabControl::IndicatorRect(int target) {
  const TKtRect r = TabRectInControl(target);
  const bool after = target > TabIndex();
  switch (TabOrientation()) {
    case TKtTabOrientation::toTop: {
      const int x = (after ? r.right : r.left) - 8;
      return TKtRect{x, r.top, x + 16, r.top + 8};
    }
    case TKtTabOrientation::toBottom: {
      const int x = (after ? r.right : r.left) - 8;
      return TKtRect{x, r.bottom - 8, x + 16, r.bottom};
    }
    case TKtTabOrientation::toLeft: {
      const int y = (after ? r.bottom : r.top) - 8;
      return TKtRect{r.left, y, r.left + 8, y + 16};
    }
    case TKtTabOrientation::toRight: {
      const int y = (after ? r.bottom : r.top) - 8;
      return TKtRect{r.right - 8, y, r.right, y + 16};
    }
  }
  return {};
}

void TKtCustomTabControl::ShowIndicator(int target) {
  // Drawn by exclusive or: drawing the same rectangle again erases it.
  if (indicatorShown_) {
    DrawDropIndicator(indicator_);
    indicatorShown_ = false;
  }
  dragTarget_ = target;
  if (target < 0) return;
  indicator_ = IndicatorRect(target);
  DrawDropIndicator(indicator_);
  indicatorShown_ = true;
}

void TKtCustomTabControl::DragOver(TObject* source, int x, int y, TDragState state, bool& accept) {
  TCustomControl::DragOver(source, x, y, state, accept);
  auto* drag = dynamic_cast<TDragObject*>(source);
  const bool ours = source == this || (drag != nullptr && drag->Control == this);
  if (!AllowTabDragging() || !ours) return;
  if (state == TDragState::dsDragLeave) {
    accept = false;
    dragScrollTimer_->SetEnabled(false);
    ShowIndicator(-1);
    return;
  }
  const int tab = TabAtPoint({x, y});
  lastDragPoint_ = TKtPoint{x, y};
  if (tab >= 0) {
    dragScrollTimer_->SetEnabled(false);
  } else if (!dragScrollTimer_->Enabled()) {
    dragScrollTimer_->SetInterval(400);
    dragScrollTimer_->SetEnabled(true);
  }
  accept = tab >= 0 && tab != TabIndex();
  const int target = accept ? tab : -1;
  if (target != dragTarget_) ShowIndicator(target);
}

void TKtCustomTabControl::DragScrollTick(TObject*) {
  dragScrollTimer_->SetInterval(300);
  const bool horizontal = TabOrientation() == TKtTabOrientation::toTop ||
                          TabOrientation() == TKtTabOrientation::toBottom;
  const int at = horizontal ? lastDragPoint_.x : lastDragPoint_.y;
  const int middle = (horizontal ? Width() : Height()) / 2;
  bool forward = at >= middle;
  if (TabSequence() == TKtTabSequence::tsReverse) forward = !forward;
  try {
    ScrollTabs(forward);
  } catch (...) {
    dragScrollTimer_->SetEnabled(false);
    throw;
  }
}

void TKtCustomTabControl::DragDrop(TObject* source, int x, int y) {
  dragScrollTimer_->SetEnabled(false);
  ShowIndicator(-1);
  TCustomControl::DragDrop(source, x, y);
  const int tab = TabAtPoint({x, y});
  // On the selected tab (or off the tabs) nothing moves.
  if (tab >= 0 && tab != TabIndex()) MoveActiveTab(tab);
}

}  // namespace kelm::kit

namespace kelm::kit {

// ---- owner painting

bool TKtCustomTabControl::DoPaintBackground(TCanvas* canvas, const TRect& rect) {
  bool handled = false;
  if (OnPaintBackground) OnPaintBackground(this, canvas, rect, handled);
  return handled;
}

bool TKtCustomTabControl::DoPaintTabBackground(TCanvas* canvas, int tab, const TRect& rect) {
  bool handled = false;
  if (OnPaintTabBackground) OnPaintTabBackground(this, canvas, tab, rect, handled);
  return handled;
}

bool TKtCustomTabControl::DoGetTextColor(int tab, TKtTextStyle style, TColor& color) {
  bool handled = false;
  if (OnGetTextColor) OnGetTextColor(this, tab, style, color, handled);
  return handled;
}

// ---- tab content

namespace {

// Fonts made from the tab font, each selected into a saved device context;
// popping restores the context and deletes the font.
class TFontStack {
 public:
  explicit TFontStack(HDC dc) : dc_(dc) {}
  ~TFontStack() {
    while (!fonts_.empty()) Pop();
  }
  TFontStack(const TFontStack&) = delete;
  TFontStack& operator=(const TFontStack&) = delete;
  void Push(TFont* font, bool bold, bool underline, int escapement) {
    LOGFONTW lf{};
    lf.lfHeight = font->Height();
    lf.lfWeight = bold ? FW_BOLD : FW_NORMAL;
    lf.lfItalic = font->Style().Contains(fsItalic) ? TRUE : FALSE;
    lf.lfUnderline = underline || font->Style().Contains(fsUnderline) ? TRUE : FALSE;
    lf.lfStrikeOut = font->Style().Contains(fsStrikeOut) ? TRUE : FALSE;
    lf.lfCharSet = static_cast<BYTE>(font->Charset());
    lf.lfEscapement = escapement;
    lf.lfOrientation = escapement;
    const std::u16string face = Utf8ToWide(font->Name());
    std::copy_n(face.begin(), std::min<size_t>(face.size(), LF_FACESIZE - 1),
                reinterpret_cast<char16_t*>(lf.lfFaceName));
    HFONT handle = CreateFontIndirectW(&lf);
    const int saved = SaveDC(dc_);
    if (saved == 0) {
      DeleteObject(handle);
      throw EKtTabControlError(u"Error saving device context");
    }
    SelectObject(dc_, handle);
    fonts_.push_back({handle, saved});
  }
  void Pop() {
    RestoreDC(dc_, fonts_.back().saved);
    DeleteObject(fonts_.back().font);
    fonts_.pop_back();
  }

 private:
  struct Entry {
    HFONT font;
    int saved;
  };
  HDC dc_;
  std::vector<Entry> fonts_;
};

SIZE Extent(HDC dc, const std::u16string& text) {
  SIZE size{0, 0};
  if (!text.empty() && GetTextExtentPoint32W(dc, reinterpret_cast<LPCWSTR>(text.c_str()),
                                             static_cast<int>(text.size()), &size) == 0)
    size = SIZE{0, 0};  // a failed measurement counts as nothing
  return size;
}

// The caption split at its accelerator: the text before it, the marked
// character and the rest; "&&" stands for one ampersand.
struct TAccelParts {
  std::u16string before, key, after;
};

TAccelParts SplitAccelerator(const std::u16string& caption) {
  TAccelParts parts;
  std::u16string* out = &parts.before;
  bool marked = false;
  for (size_t k = 0; k < caption.size(); ++k) {
    const char16_t c = caption[k];
    if (c == u'&' && k + 1 < caption.size()) {
      if (caption[k + 1] == u'&') {
        out->push_back(u'&');
        ++k;
        continue;
      }
      if (!marked) {
        marked = true;
        parts.key.push_back(caption[k + 1]);
        ++k;
        out = &parts.after;
        continue;
      }
    }
    out->push_back(c);
  }
  return parts;
}

}  // namespace

void TKtCustomTabControl::DrawHighlightBar(HDC dc, int i, bool hot) {
  const TKtRect t = TabRectInControl(i);
  RECT r{t.left - 1, t.top - 1, t.right + 1, t.bottom + 1};
  // A band along the tab's outer edge.
  switch (TabOrientation()) {
    case TKtTabOrientation::toTop:
      r.bottom = r.top + 6;
      break;
    case TKtTabOrientation::toLeft:
      r.right = r.left + 6;
      break;
    case TKtTabOrientation::toBottom:
      r.top = r.bottom - 4;
      break;
    case TKtTabOrientation::toRight:
      r.left = r.right - 4;
      break;
  }
  TColor color = TabColors().HighlightBar();
  if (hot) {
    if (HotTrackColorSource() == TKtTabHotTrackColorSource::htcsTabColor) {
      color = DarkerColor(Tabs().Item(i).Color, 40);
    } else {
      color = HotTrackColorType() == TKtHotTrackColorType::htctActual
                  ? HotTrackColor()
                  : ContrastHueColor(HotTrackColor(), 140);
    }
  }
  FillFlat(dc, r, color);
}

void TKtCustomTabControl::DrawFocusAround(HDC dc, const RECT& text) {
  RECT r = text;
  switch (TabOrientation()) {
    case TKtTabOrientation::toTop:
    case TKtTabOrientation::toBottom:
      --r.left, ++r.right, ++r.bottom;
      break;
    case TKtTabOrientation::toLeft:
    case TKtTabOrientation::toRight:
      --r.left, ++r.right;
      break;
  }
  if (TabStyle() == TKtTabStyle::tsRoundCorners || TabStyle() == TKtTabStyle::tsSquareCorners) {
    // Clear of the selected tab's raised outer edge.
    switch (TabOrientation()) {
      case TKtTabOrientation::toTop:
        OffsetRect(&r, 0, 1);
        break;
      case TKtTabOrientation::toBottom:
        OffsetRect(&r, 0, -2);
        break;
      case TKtTabOrientation::toLeft:
        OffsetRect(&r, 2, 0);
        break;
      case TKtTabOrientation::toRight:
        OffsetRect(&r, -2, 0);
        break;
    }
  }
  if (r.right > r.left && r.bottom > r.top) ::DrawFocusRect(dc, &r);
}

void TKtCustomTabControl::DrawTabContent(HDC dc, int i, const RECT& rect) {
  const TKtTabData& tab = Tabs().Item(i);
  const bool vertical = TextOrientation() == TOrientation::orVertical;
  (void)rect;
  const TKtRect inset = TabContentRect(i);
  RECT content{inset.left, inset.top, inset.right, inset.bottom};
  if (ShowCloseButtonOnActiveTab() && i == TabIndex()) {
    // The close glyph keeps 20 pixels at the far end (near end in reverse).
    const bool horizontal = TabOrientation() == TKtTabOrientation::toTop ||
                            TabOrientation() == TKtTabOrientation::toBottom;
    const bool reverse = TabSequence() == TKtTabSequence::tsReverse;
    LONG& end = horizontal ? (reverse ? content.left : content.right)
                           : (reverse ? content.top : content.bottom);
    end += reverse ? 20 : -20;
  }

  // The image takes its side of the content rectangle.
  const int imageIndex =
      !tab.Enabled && tab.DisabledImageIndex >= 0 ? tab.DisabledImageIndex : tab.ImageIndex;
  if (images_ != nullptr && imageIndex >= 0 && imageIndex < images_->Count()) {
    const int iw = images_->Width();
    const int ih = images_->Height();
    RECT area = content;
    switch (ImagePosition()) {
      case TKtImagePosition::ipLeft:
        area.right = area.left + iw;
        content.left = area.right + ImageMargin();
        break;
      case TKtImagePosition::ipRight:
        area.left = area.right - iw;
        content.right = area.left - ImageMargin();
        break;
      case TKtImagePosition::ipTop:
        area.bottom = area.top + ih;
        content.top = area.bottom + ImageMargin();
        break;
      case TKtImagePosition::ipBottom:
        area.top = area.bottom - ih;
        content.bottom = area.top - ImageMargin();
        break;
      case TKtImagePosition::ipBack:
      case TKtImagePosition::ipStretch:
        break;
    }
    auto place = [](int from, int to, int size, int alignment) {
      // 0 start, 1 centre (halves rounded towards zero), 2 end.
      return alignment == 0 ? from : alignment == 2 ? to - size : from + (to - from - size) / 2;
    };
    const int x = place(area.left, area.right, iw, static_cast<int>(ImageAlignment()));
    const int y = place(area.top, area.bottom, ih, static_cast<int>(ImageAlignmentVertical()));
    TCanvas canvas;
    canvas.SetHandle(dc);
    // A separate disabled image is drawn as it is; otherwise it is greyed.
    images_->Draw(&canvas, x, y, imageIndex, tab.Enabled || tab.DisabledImageIndex >= 0);
    canvas.SetHandle(nullptr);
  }
  if (ShowFocusRect() && i == TabIndex() && Focused()) DrawFocusAround(dc, content);

  TColor color = TextColors().Unselected();
  TKtTextStyle style = TKtTextStyle::tsUnselected;
  const bool bar = HotTrack() && HotTrackStyle() == TKtTabHotTrackStyle::htsTabBar;
  if (!tab.Enabled) {
    style = TKtTextStyle::tsDisabled;
    color = TextColors().Disabled();
  } else if (i == TabIndex()) {
    style = TKtTextStyle::tsSelected;
    color = TextColors().Selected();
    if (bar) DrawHighlightBar(dc, i, false);
  } else if (HotTrack() && i == hotTab_) {
    if (bar) DrawHighlightBar(dc, i, true);
    style = TKtTextStyle::tsHotTrack;
    color = HotTrackStyle() == TKtTabHotTrackStyle::htsText
                ? (HotTrackColorType() == TKtHotTrackColorType::htctActual
                       ? HotTrackColor()
                       : ContrastHueColor(HotTrackColor(), 140))
                : TextColors().Selected();
  }
  if (tab.Caption.empty()) return;
  TColor asked = color;
  if (DoGetTextColor(i, style, asked)) color = asked;
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, ColorToRGB(color));
  const bool bold = BoldCurrentTab() && i == TabIndex();
  const bool plainBold = bold || Font()->Style().Contains(fsBold);
  // Vertical text reads upwards, on right-side tabs downwards.
  const int escapement = !vertical                                        ? 0
                         : TabOrientation() == TKtTabOrientation::toRight ? 2700
                                                                          : 900;
  TFontStack fonts(dc);
  fonts.Push(Font(), plainBold, false, escapement);
  // Lines separated by CR LF, one under the other (side by side for
  // vertical text); one "&" in the caption marks its accelerator.
  std::vector<TAccelParts> lines;
  {
    bool marked = false;
    size_t start = 0;
    for (;;) {
      const size_t end = tab.Caption.find(u"\r\n", start);
      const std::u16string line = tab.Caption.substr(start, end - start);
      TAccelParts parts = SplitAccelerator(line);
      if (marked && !parts.key.empty())
        parts = TAccelParts{parts.before + parts.key + parts.after, {}, {}};
      marked = marked || !parts.key.empty();
      lines.push_back(parts);
      if (end == std::u16string::npos) break;
      start = end + 2;
    }
  }
  struct TLineSize {
    SIZE before, key, after;
    int along, across;
  };
  std::vector<TLineSize> sizes;
  int block = 0;
  for (const TAccelParts& parts : lines) {
    TLineSize ls{Extent(dc, parts.before), Extent(dc, parts.key), Extent(dc, parts.after), 0, 0};
    ls.along = ls.before.cx + ls.key.cx + ls.after.cx;
    ls.across = std::max({ls.before.cy, ls.key.cy, ls.after.cy});
    block += ls.across;
    sizes.push_back(ls);
  }
  // 0 start, 1 centre (halves rounded towards zero), 2 end of [from, to).
  auto align = [](int from, int to, int size, int alignment) {
    return alignment == 0 ? from : alignment == 2 ? to - size : from + (to - from - size) / 2;
  };
  const int hAlign = static_cast<int>(TextAlignment());
  const int vAlign = static_cast<int>(TextAlignmentVertical());
  // The block of lines across the text, each line along it.
  int acrossAt = 0;
  if (escapement == 0) {
    acrossAt = align(content.top, content.bottom, block, vAlign);
  } else {
    // Vertical text: lines stack from the glyphs' top side; on right-side
    // tabs the alignment is reversed.
    const int a = escapement == 2700 ? 2 - hAlign : hAlign;
    acrossAt = align(content.left, content.right, block, a);
  }
  for (size_t n = 0; n < lines.size(); ++n) {
    const TAccelParts& parts = lines[n];
    const TLineSize& ls = sizes[n];
    int x = 0, y = 0, dx = 0, dy = 0;
    switch (escapement) {
      case 900:
        x = acrossAt;
        y = align(content.top, content.bottom, ls.along, 2 - vAlign) + ls.along;
        dy = -1;
        break;
      case 2700:
        x = acrossAt + ls.across;
        y = align(content.top, content.bottom, ls.along, vAlign);
        dy = 1;
        break;
      default:
        x = align(content.left, content.right, ls.along, hAlign);
        y = acrossAt;
        dx = 1;
        break;
    }
    acrossAt += ls.across;
    auto out = [&](const std::u16string& text, const SIZE& size) {
      if (!text.empty())
        ExtTextOutW(dc, x, y, 0, nullptr, reinterpret_cast<LPCWSTR>(text.c_str()),
                    static_cast<UINT>(text.size()), nullptr);
      x += dx * size.cx;
      y += dy * size.cx;
    };
    out(parts.before, ls.before);
    if (!parts.key.empty()) {
      // The accelerator is underlined.
      fonts.Push(Font(), plainBold, true, escapement);
      SetBkMode(dc, TRANSPARENT);
      SetTextColor(dc, ColorToRGB(color));
      out(parts.key, ls.key);
      fonts.Pop();
    }
    out(parts.after, ls.after);
  }
}

}  // namespace kelm::kit

#include "kit/kt_tab_buttons.h"

#include <algorithm>
#include <vector>

#include "kit/kt_common_win.h"
#include "kit/kt_grafx.h"
#include "kit/kt_tab_control.h"

namespace kelm::kit {

using namespace classlib;

void PaintTabButtonFace(TCanvas* canvas, const TRect& rect, TColor frameColor, TColor buttonColor,
                        bool gradients, bool enabled, bool pressed, bool hot) {
  canvas->Pen()->SetColor(LighterColor(frameColor, 30));
  canvas->Brush()->SetStyle(TBrushStyle::bsClear);
  canvas->Rectangle(rect.left, rect.top, rect.right, rect.bottom);
  canvas->Brush()->SetStyle(TBrushStyle::bsSolid);
  const TRect inner = Rect(rect.left + 1, rect.top + 1, rect.right - 1, rect.bottom - 1);
  if (inner.right <= inner.left || inner.bottom <= inner.top) return;
  if (!enabled) {
    canvas->Brush()->SetColor(LighterColor(clBtnShadow, 30));
    canvas->FillRect(inner);
    return;
  }
  auto shade = [&](TColor c) {
    return pressed ? DarkerColor(c, 30) : hot ? LighterColor(c, 30) : c;
  };
  if (gradients && FullColorDisplay()) {
    GradientFill(canvas, inner, 2, shade(LighterColor(buttonColor, 20)),
                 shade(DarkerColor(buttonColor, 20)), 255);
  } else {
    canvas->Brush()->SetColor(shade(buttonColor));
    canvas->FillRect(inner);
  }
}

// ---- TKtTabScroller

CL_CLASS(TKtTabScroller) {
  c.Int("FrameColor", &TKtTabScroller::FrameColor, &TKtTabScroller::SetFrameColor, &TypeInfo_TColor)
      .Default(clBtnShadow);
  c.Event("OnUpRightClick", &TKtTabScroller::OnUpRightClick, &TKtTabScroller::OnUpRightClick);
  c.Event("OnDownLeftClick", &TKtTabScroller::OnDownLeftClick, &TKtTabScroller::OnDownLeftClick);
}

TKtTabScroller::TKtTabScroller(TComponent* AOwner, TKtCustomTabControl* tabs)
    : TCustomControl(AOwner), tabs_(tabs), timer_(New<TTimer>(this)) {
  SetControlStyle({csCaptureMouse, csOpaque, csNoDesignVisible});
  timer_->SetEnabled(false);
  timer_->SetInterval(kFirstDelay);
  timer_->SetOnTimer(EventOf<&TKtTabScroller::RepeatTick>(this));
}

void TKtTabScroller::SetFrameColor(TColor v) {
  if (v == frameColor_) return;
  frameColor_ = v;
  Invalidate();
}

void TKtTabScroller::SetOrientation(TOrientation v) {
  if (v == orientation_) return;
  orientation_ = v;
  Invalidate();
}

TRect TKtTabScroller::HalfRect(THalf half) const {
  const int w = Width();
  const int h = Height();
  if (orientation_ == TOrientation::orHorizontal) {
    // Left half down-left, right half up-right; they share the middle line.
    return half == shDownLeft ? Rect(0, 0, (w + 1) / 2, h) : Rect(w / 2, 0, w, h);
  }
  return half == shUpRight ? Rect(0, 0, w, (h + 1) / 2) : Rect(0, h / 2, w, h);
}

TKtTabScroller::THalf TKtTabScroller::HalfAt(int x, int y) const {
  if (x < 0 || y < 0 || x >= Width() || y >= Height()) return shNone;
  if (orientation_ == TOrientation::orHorizontal) return x < Width() / 2 ? shDownLeft : shUpRight;
  return y < Height() / 2 ? shUpRight : shDownLeft;
}

void TKtTabScroller::ClickHalf(THalf half) {
  if (half == shDownLeft && OnDownLeftClick) OnDownLeftClick(this);
  if (half == shUpRight && OnUpRightClick) OnUpRightClick(this);
  Invalidate();
}

void TKtTabScroller::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  TCustomControl::MouseDown(button, shift, x, y);
  if (button != TMouseButton::mbLeft) return;
  const THalf half = HalfAt(x, y);
  if (half == shNone || !tabs_->CanScroll(tabs_->ScrollsForward(half == shUpRight))) return;
  pressed_ = half;
  pressedInside_ = true;
  timer_->SetInterval(kFirstDelay);
  timer_->SetEnabled(true);
  Invalidate();
}

void TKtTabScroller::MouseMove(TShiftState shift, int x, int y) {
  TCustomControl::MouseMove(shift, x, y);
  const THalf at = HalfAt(x, y);
  if (at != hot_) {
    hot_ = at;
    Invalidate();
  }
  if (pressed_ == shNone) return;
  const bool inside = at == pressed_;
  if (inside != pressedInside_) {
    pressedInside_ = inside;
    Invalidate();
  }
}

void TKtTabScroller::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
  TCustomControl::MouseUp(button, shift, x, y);
  if (pressed_ == shNone) return;
  timer_->SetEnabled(false);
  const THalf half = pressed_;
  pressed_ = shNone;
  if (HalfAt(x, y) == half) ClickHalf(half);
  Invalidate();
}

void TKtTabScroller::RepeatTick(TObject*) {
  // After the first delay the repeat runs at its own pace; off its half it
  // pauses.
  timer_->SetInterval(kRepeat);
  if (pressed_ == shNone) {
    timer_->SetEnabled(false);
    return;
  }
  if (!pressedInside_) return;
  try {
    ClickHalf(pressed_);
  } catch (...) {
    timer_->SetEnabled(false);
    throw;
  }
}

void TKtTabScroller::Paint() {
  for (THalf half : {shDownLeft, shUpRight}) {
    const TRect r = HalfRect(half);
    const bool enabled = tabs_->CanScroll(tabs_->ScrollsForward(half == shUpRight));
    PaintTabButtonFace(Canvas(), r, frameColor_, tabs_->ButtonColor(), tabs_->UseGradients(),
                       enabled, pressed_ == half && pressedInside_, hot_ == half);
    const bool horizontal = orientation_ == TOrientation::orHorizontal;
    const int direction = horizontal ? (half == shDownLeft ? 2 : 3) : (half == shUpRight ? 0 : 1);
    DrawArrowGlyph(Canvas(), r, false, enabled, direction);
  }
}

void TKtTabScroller::WMEraseBkgnd(TMessage& m) { m.Result = 1; }

void TKtTabScroller::WndProc(TMessage& m) {
  switch (m.Msg) {
    case CM_MOUSELEAVE:
      hot_ = shNone;
      Invalidate();
      return TCustomControl::WndProc(m);
    case CM_DESIGNHITTEST:
      // Scrolls at design time too.
      m.Result = 1;
      return;
    default:
      return TCustomControl::WndProc(m);
  }
}

// ---- buttons

CL_CLASS(TKtTabStripButton) {}

TKtTabStripButton::TKtTabStripButton(TComponent* AOwner, TKtCustomTabControl* tabs)
    : TCustomControl(AOwner), tabs_(tabs) {
  SetControlStyle({csCaptureMouse, csClickEvents, csOpaque, csNoDesignVisible});
}

void TKtTabStripButton::SetFrameColor(TColor v) {
  if (v == frameColor_) return;
  frameColor_ = v;
  Invalidate();
}

void TKtTabStripButton::Paint() {
  const TRect r = Rect(0, 0, Width(), Height());
  PaintTabButtonFace(Canvas(), r, frameColor_, tabs_->ButtonColor(), tabs_->UseGradients(),
                     Enabled(), pressed_, hot_);
  PaintGlyph(r);
}

void TKtTabStripButton::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  TCustomControl::MouseDown(button, shift, x, y);
  if (button != TMouseButton::mbLeft) return;
  pressed_ = true;
  Invalidate();
}

void TKtTabStripButton::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
  pressed_ = false;
  Invalidate();
  TCustomControl::MouseUp(button, shift, x, y);
}

void TKtTabStripButton::WMEraseBkgnd(TMessage& m) { m.Result = 1; }

void TKtTabStripButton::WndProc(TMessage& m) {
  switch (m.Msg) {
    case CM_MOUSEENTER:
    case CM_MOUSELEAVE:
      hot_ = m.Msg == CM_MOUSEENTER;
      Invalidate();
      return TCustomControl::WndProc(m);
    default:
      return TCustomControl::WndProc(m);
  }
}

CL_CLASS(TKtTabControlCloseButton) {
  c.Int("FrameColor", &TKtTabControlCloseButton::FrameColor,
        &TKtTabControlCloseButton::SetFrameColor, &TypeInfo_TColor)
      .Default(clBtnShadow);
  c.Event("OnClose", &TKtTabControlCloseButton::OnClose, &TKtTabControlCloseButton::OnClose);
}

void TKtTabControlCloseButton::Click() {
  TKtTabStripButton::Click();
  if (OnClose) OnClose(this);
}

void TKtTabControlCloseButton::PaintGlyph(const TRect& rect) {
  DrawCloseGlyph(Canvas(), rect, false, Enabled());
}

CL_CLASS(TKtTabMenuButton) {
  c.Int("FrameColor", &TKtTabMenuButton::FrameColor, &TKtTabMenuButton::SetFrameColor,
        &TypeInfo_TColor)
      .Default(clBtnShadow);
  c.Event("OnDisplayMenu", &TKtTabMenuButton::OnDisplayMenu, &TKtTabMenuButton::OnDisplayMenu);
}

TKtTabMenuButton::TKtTabMenuButton(TComponent* AOwner, TKtCustomTabControl* tabs)
    : TKtTabStripButton(AOwner, tabs), menu_(New<TPopupMenu>(this)) {}

void TKtTabMenuButton::BuildMenu() {
  while (menu_->Items()->Count() > 0) Free(menu_->Items()->Items(0));
  menu_->SetImages(tabs_->Images());
  std::vector<int> order;
  for (int i = 0; i < tabs_->Tabs().Count(); ++i) {
    if (tabs_->Tabs().Item(i).Visible) order.push_back(i);
  }
  if (tabs_->SortTabMenu()) {
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
      return tabs_->Tabs().Item(a).Caption < tabs_->Tabs().Item(b).Caption;
    });
  }
  for (int i : order) {
    const TKtTabData& tab = tabs_->Tabs().Item(i);
    auto* item = New<TMenuItem>(menu_);
    item->SetCaption(tab.Caption);
    item->SetEnabled(tab.Enabled);
    item->SetImageIndex(!tab.Enabled && tab.DisabledImageIndex >= 0 ? tab.DisabledImageIndex
                                                                    : tab.ImageIndex);
    item->SetChecked(i == tabs_->TabIndex());
    item->SetTag(i);
    item->OnClick = EventOf<&TKtTabMenuButton::ItemClick>(this);
    menu_->Items()->Add(item);
  }
}

void TKtTabMenuButton::ItemClick(TObject* sender) {
  tabs_->SetTabIndex(static_cast<TMenuItem*>(sender)->Tag());
}

TPoint TKtTabMenuButton::PopupPoint(bool& rightAligned) {
  const bool reverse = tabs_->TabSequence() == TKtTabSequence::tsReverse;
  TPoint p{0, 0};
  switch (tabs_->TabOrientation()) {
    case TKtTabOrientation::toTop:
      rightAligned = !reverse;
      p = reverse ? TPoint{0, Height()} : TPoint{Width() - 1, Height()};
      break;
    case TKtTabOrientation::toLeft:
      rightAligned = false;
      p = TPoint{Width(), 0};
      break;
    case TKtTabOrientation::toBottom:
      rightAligned = !reverse;
      p = reverse ? TPoint{0, 0} : TPoint{Width(), 0};
      break;
    case TKtTabOrientation::toRight:
      rightAligned = true;
      p = TPoint{0, 0};
      break;
  }
  return ClientToScreen(p);
}

void TKtTabMenuButton::Click() {
  TKtTabStripButton::Click();
  if (OnDisplayMenu) OnDisplayMenu(this);
  BuildMenu();
  bool right = false;
  const TPoint at = PopupPoint(right);
  menu_->SetAlignment(right ? TPopupAlignment::paRight : TPopupAlignment::paLeft);
  menu_->Popup(at.x, at.y);
}

void TKtTabMenuButton::PaintGlyph(const TRect& rect) {
  DrawArrowGlyph(Canvas(), rect, false, Enabled(), 1);
}

CL_CLASS(TKtActiveTabCloseButton) {
  c.Int("FrameColor", &TKtActiveTabCloseButton::FrameColor, &TKtActiveTabCloseButton::SetFrameColor,
        &TypeInfo_TColor)
      .Default(clBtnShadow);
  c.Event("OnClose", &TKtActiveTabCloseButton::OnClose, &TKtActiveTabCloseButton::OnClose);
}

TKtActiveTabCloseButton::TKtActiveTabCloseButton(TComponent* AOwner, TKtCustomTabControl* tabs)
    : TGraphicControl(AOwner), tabs_(tabs) {
  SetControlStyle({csCaptureMouse, csClickEvents, csNoDesignVisible});
}

void TKtActiveTabCloseButton::SetFrameColor(TColor v) {
  if (v == frameColor_) return;
  frameColor_ = v;
  Invalidate();
}

void TKtActiveTabCloseButton::Click() {
  TGraphicControl::Click();
  if (OnClose) OnClose(this);
}

void TKtActiveTabCloseButton::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  TGraphicControl::MouseDown(button, shift, x, y);
  if (button != TMouseButton::mbLeft) return;
  pressed_ = true;
  Invalidate();
}

void TKtActiveTabCloseButton::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
  pressed_ = false;
  Invalidate();
  TGraphicControl::MouseUp(button, shift, x, y);
}

void TKtActiveTabCloseButton::WndProc(TMessage& m) {
  if (m.Msg == CM_MOUSEENTER || m.Msg == CM_MOUSELEAVE) {
    hot_ = m.Msg == CM_MOUSEENTER;
    Invalidate();
  }
  // Only the left button presses it.
  if (m.Msg == WM_RBUTTONDOWN || m.Msg == WM_RBUTTONUP || m.Msg == WM_MBUTTONDOWN ||
      m.Msg == WM_MBUTTONUP)
    return;
  TGraphicControl::WndProc(m);
}

void TKtActiveTabCloseButton::Paint() {
  const TRect r = Rect(0, 0, Width(), Height());
  if (hot_) {
    PaintTabButtonFace(Canvas(), r, frameColor_, tabs_->ButtonColor(), tabs_->UseGradients(), true,
                       pressed_, true);
  }
  DrawCrossGlyph(Canvas(), Rect(r.left + 3, r.top + 3, r.right - 3, r.bottom - 3),
                 hot_ ? tabs_->TabColors().HighlightBar() : frameColor_);
}

}  // namespace kelm::kit

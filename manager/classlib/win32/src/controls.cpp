#include "classlib/controls.h"

#include <windowsx.h>

#include <algorithm>
#include <set>

#include "classlib/actions.h"
#include "classlib/forms.h"
#include "classlib/menus.h"
#include "classlib/resources.h"

namespace classlib {

const TTypeInfo TypeInfo_TAlign = EnumTypeInfo(
    "TAlign", {"alNone", "alTop", "alBottom", "alLeft", "alRight", "alClient", "alCustom"});
const TTypeInfo TypeInfo_TAnchorKind =
    EnumTypeInfo("TAnchorKind", {"akLeft", "akTop", "akRight", "akBottom"});
const TTypeInfo TypeInfo_TAnchors = SetTypeInfo("TAnchors", &TypeInfo_TAnchorKind);
const TTypeInfo TypeInfo_TBiDiMode = EnumTypeInfo(
    "TBiDiMode",
    {"bdLeftToRight", "bdRightToLeft", "bdRightToLeftNoAlign", "bdRightToLeftReadingOnly"});
const TTypeInfo TypeInfo_TDragMode = EnumTypeInfo("TDragMode", {"dmManual", "dmAutomatic"});
const TTypeInfo TypeInfo_TDragKind = EnumTypeInfo("TDragKind", {"dkDrag", "dkDock"});
const TTypeInfo TypeInfo_TBorderStyle = EnumTypeInfo("TBorderStyle", {"bsNone", "bsSingle"});

namespace {
const wchar_t kControlProp[] = L"VhControl";
thread_local TWinControl* creatingControl = nullptr;
TControl* mouseControl = nullptr;
TControl* captureControl = nullptr;

// A freed control leaves any drag it takes part in.
void DragControlGone(TControl* c);

bool IsWindowed(const TControl* c) { return dynamic_cast<const TWinControl*>(c) != nullptr; }

void SetMouseControl(TControl* c) {
  if (c == mouseControl) return;
  TControl* old = mouseControl;
  mouseControl = c;
  if (old && Application) Application->HintControlLeft(old);
  if (old) old->Perform(CM_MOUSELEAVE);
  if (c && mouseControl == c) c->Perform(CM_MOUSEENTER);
}
}  // namespace

TControl* MouseControl() { return mouseControl; }
TControl* CaptureControl() { return captureControl; }

TShiftState MouseShiftState(WPARAM keys) {
  TShiftState s;
  if (keys & MK_SHIFT) s.Include(ssShift);
  if (keys & MK_CONTROL) s.Include(ssCtrl);
  if (keys & MK_LBUTTON) s.Include(ssLeft);
  if (keys & MK_RBUTTON) s.Include(ssRight);
  if (keys & MK_MBUTTON) s.Include(ssMiddle);
  if (GetKeyState(VK_MENU) < 0) s.Include(ssAlt);
  return s;
}

TShiftState KeyboardShiftState() {
  TShiftState s;
  if (GetKeyState(VK_SHIFT) < 0) s.Include(ssShift);
  if (GetKeyState(VK_CONTROL) < 0) s.Include(ssCtrl);
  if (GetKeyState(VK_MENU) < 0) s.Include(ssAlt);
  return s;
}

bool IsAccel(WORD key, const std::u16string& caption) {
  for (size_t i = 0; i + 1 < caption.size(); ++i) {
    if (caption[i] != u'&') continue;
    if (caption[i + 1] == u'&') {
      ++i;  // "&&" is a literal ampersand
      continue;
    }
    char16_t a = caption[i + 1], b = static_cast<char16_t>(key);
    auto up = [](char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; };
    return up(a) == up(b);
  }
  return false;
}

TCustomForm* GetParentForm(TControl* control) {
  while (control && control->Parent()) control = control->Parent();
  return dynamic_cast<TCustomForm*>(control);
}

// ---- window procedure shared by every control window
LRESULT CALLBACK StdWndProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* control = static_cast<TWinControl*>(GetPropW(wnd, kControlProp));
  if (!control && creatingControl) {
    control = creatingControl;
    creatingControl = nullptr;
    control->handle_ = wnd;
    SetPropW(wnd, kControlProp, control);
  }
  if (!control) return DefWindowProcW(wnd, msg, wp, lp);
  TMessage m{msg, wp, lp, 0};
  try {
    // A copy: the handler may free the control (CM_RELEASE).
    std::function<void(TMessage&)> proc = control->WindowProc;
    proc(m);
  } catch (...) {
    HandleCallbackException();
  }
  if (msg == WM_NCDESTROY) {
    // The window is gone (also when its parent took it along).
    RemovePropW(wnd, kControlProp);
    if (control->handle_ == wnd) {
      control->handle_ = nullptr;
      control->showing_ = false;
    }
  }
  return m.Result;
}

// ---- TSizeConstraints
CL_CLASS(TSizeConstraints) {
  c.Int("MaxHeight", &TSizeConstraints::MaxHeight, &TSizeConstraints::SetMaxHeight).Default(0);
  c.Int("MaxWidth", &TSizeConstraints::MaxWidth, &TSizeConstraints::SetMaxWidth).Default(0);
  c.Int("MinHeight", &TSizeConstraints::MinHeight, &TSizeConstraints::SetMinHeight).Default(0);
  c.Int("MinWidth", &TSizeConstraints::MinWidth, &TSizeConstraints::SetMinWidth).Default(0);
}

void TSizeConstraints::Assign(TPersistent* source) {
  if (auto* s = dynamic_cast<TSizeConstraints*>(source)) {
    minWidth_ = s->minWidth_;
    minHeight_ = s->minHeight_;
    maxWidth_ = s->maxWidth_;
    maxHeight_ = s->maxHeight_;
    Changed();
    return;
  }
  TPersistent::Assign(source);
}

void TSizeConstraints::SetMinWidth(int v) {
  minWidth_ = std::max(v, 0);
  Changed();
}
void TSizeConstraints::SetMinHeight(int v) {
  minHeight_ = std::max(v, 0);
  Changed();
}
void TSizeConstraints::SetMaxWidth(int v) {
  maxWidth_ = std::max(v, 0);
  Changed();
}
void TSizeConstraints::SetMaxHeight(int v) {
  maxHeight_ = std::max(v, 0);
  Changed();
}
void TSizeConstraints::Changed() {
  if (OnChange) OnChange(this);
  // Re-apply to the control's current size.
  if (control_ && !control_->IsLoading())
    control_->SetBounds(control_->Left(), control_->Top(), control_->Width(), control_->Height());
}

// ---- TControl
CL_CLASS(TControl) {
  c.Int("Left", &TControl::Left, &TControl::SetLeft).NoDefault();
  c.Int("Top", &TControl::Top, &TControl::SetTop).NoDefault();
  c.Int("Width", &TControl::Width, &TControl::SetWidth).NoDefault();
  c.Int("Height", &TControl::Height, &TControl::SetHeight).NoDefault();
  c.Object("Action", &TControl::Action, &TControl::SetAction);
  c.Enum("Align", &TControl::Align, &TControl::SetAlign, &TypeInfo_TAlign).Default(TAlign::alNone);
  c.Set("Anchors", &TControl::Anchors, &TControl::SetAnchors, &TypeInfo_TAnchors)
      .Default(TAnchors{akLeft, akTop});
  c.Enum("BiDiMode", &TControl::BiDiMode, &TControl::SetBiDiMode, &TypeInfo_TBiDiMode)
      .Default(TBiDiMode::bdLeftToRight);
  c.WStr("Caption", &TControl::Caption, &TControl::SetCaption);
  c.Int("Color", &TControl::Color, &TControl::SetColor, &TypeInfo_TColor)
      .NoDefault()
      .Stored(&TControl::IsColorStored);
  c.Object("Constraints", &TControl::Constraints, &TControl::SetConstraints);
  c.Int("Cursor", &TControl::Cursor, &TControl::SetCursor, &TypeInfo_TCursor).Default(crDefault);
  c.Int("DragCursor", &TControl::DragCursor, &TControl::SetDragCursor, &TypeInfo_TCursor)
      .Default(crDrag);
  c.Enum("DragKind", &TControl::DragKind, &TControl::SetDragKind, &TypeInfo_TDragKind)
      .Default(TDragKind::dkDrag);
  c.Enum("DragMode", &TControl::DragMode, &TControl::SetDragMode, &TypeInfo_TDragMode)
      .Default(TDragMode::dmManual);
  c.Bool("Enabled", &TControl::Enabled, &TControl::SetEnabled).Default(true);
  c.Object("Font", &TControl::Font, &TControl::SetFont).Stored(&TControl::IsFontStored);
  c.Int("HelpContext", &TControl::HelpContext, &TControl::SetHelpContext).Default(0);
  c.Str("HelpKeyword", &TControl::HelpKeyword, &TControl::SetHelpKeyword);
  c.Enum("HelpType", &TControl::HelpType, &TControl::SetHelpType, &TypeInfo_THelpType)
      .Default(THelpType::htContext);
  c.WStr("Hint", &TControl::Hint, &TControl::SetHint);
  c.Bool("ParentBiDiMode", &TControl::ParentBiDiMode, &TControl::SetParentBiDiMode).Default(true);
  c.Bool("ParentColor", &TControl::ParentColor, &TControl::SetParentColor).Default(true);
  c.Bool("ParentFont", &TControl::ParentFont, &TControl::SetParentFont).Default(true);
  c.Bool("ParentShowHint", &TControl::ParentShowHint, &TControl::SetParentShowHint).Default(true);
  c.Object("PopupMenu", &TControl::PopupMenu, &TControl::SetPopupMenu);
  c.Bool("ShowHint", &TControl::ShowHint, &TControl::SetShowHint)
      .Default(false)
      .Stored(&TControl::IsShowHintStored);
  c.Bool("Visible", &TControl::Visible, &TControl::SetVisible).Default(true);
  c.Event("OnClick", &TControl::OnClick, &TControl::OnClick);
  c.Event("OnContextPopup", &TControl::OnContextPopup, &TControl::OnContextPopup);
  c.Event("OnDragDrop", &TControl::OnDragDrop, &TControl::OnDragDrop);
  c.Event("OnDragOver", &TControl::OnDragOver, &TControl::OnDragOver);
  c.Event("OnEndDrag", &TControl::OnEndDrag, &TControl::OnEndDrag);
  c.Event("OnStartDrag", &TControl::OnStartDrag, &TControl::OnStartDrag);
  c.Event("OnDblClick", &TControl::OnDblClick, &TControl::OnDblClick);
  c.Event("OnMouseDown", &TControl::OnMouseDown, &TControl::OnMouseDown);
  c.Event("OnMouseMove", &TControl::OnMouseMove, &TControl::OnMouseMove);
  c.Event("OnMouseUp", &TControl::OnMouseUp, &TControl::OnMouseUp);
  c.Event("OnMouseWheel", &TControl::OnMouseWheel, &TControl::OnMouseWheel);
  c.Event("OnResize", &TControl::OnResize, &TControl::OnResize);
}

TControl::TControl(TComponent* AOwner)
    : TComponent(AOwner), font_(New<TFont>()), constraints_(New<TSizeConstraints>(this)) {
  WindowProc = [this](TMessage& m) { WndProc(m); };
  font_->OnChange = EventOf<&TControl::FontChanged>(this);
}

TControl::~TControl() {
  Free(actionLink_);
  Free(font_);
  Free(constraints_);
}

void TControl::BeforeDestruction() {
  TComponent::BeforeDestruction();
  DragControlGone(this);
  if (Application) Application->HintControlLeft(this);
  if (mouseControl == this) mouseControl = nullptr;
  if (captureControl == this) SetMouseCapture(false);
  SetParent(nullptr);
}

LRESULT TControl::Perform(UINT msg, WPARAM wParam, LPARAM lParam) {
  TMessage m{msg, wParam, lParam, 0};
  WindowProc(m);
  return m.Result;
}

void TControl::DefaultHandler(TMessage& message) { (void)message; }

void TControl::WndProc(TMessage& m) {
  switch (m.Msg) {
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
    case WM_MBUTTONDBLCLK:
      MouseMessage(m);
      // The system's handling too: WM_CONTEXTMENU comes from a right
      // button's release, and system controls need their clicks.
      DefaultHandler(m);
      return;
    case CM_COLORCHANGED:
    case CM_FONTCHANGED:
    case CM_TEXTCHANGED:
    case CM_ENABLEDCHANGED:
      Invalidate();
      return;
    case CM_VISIBLECHANGED:
      InvalidateControl(true, controlStyle_.Contains(csOpaque) && !visible_);
      return;
    case CM_PARENTCOLORCHANGED:
      if (parentColor_) AdoptParentColor();
      return;
    case CM_PARENTFONTCHANGED:
      if (parentFont_) AdoptParentFont();
      return;
    case CM_DRAG: {
      auto* rec = reinterpret_cast<TDragRec*>(m.LParam);
      if (m.WParam == dmFindTarget) {
        m.Result = reinterpret_cast<LRESULT>(this);
        return;
      }
      TPoint p = ScreenToClient(rec->Pos);
      TObject* source =
          rec->Source->Control ? static_cast<TObject*>(rec->Source->Control) : rec->Source;
      switch (m.WParam) {
        case dmDragEnter:
        case dmDragLeave:
        case dmDragMove: {
          bool accept = false;
          DragOver(source, p.x, p.y, static_cast<TDragState>(m.WParam), accept);
          m.Result = accept ? 1 : 0;
          return;
        }
        case dmDragDrop:
          DragDrop(source, p.x, p.y);
          return;
        default:
          return;
      }
    }
    case CM_MOUSEWHEEL: {
      TPoint pos{GET_X_LPARAM(m.LParam), GET_Y_LPARAM(m.LParam)};
      TShiftState shift = MouseShiftState(GET_KEYSTATE_WPARAM(m.WParam));
      bool handled = DoMouseWheel(shift, GET_WHEEL_DELTA_WPARAM(m.WParam), pos);
      // Not handled: the parent may take it.
      if (!handled && parent_) handled = parent_->Perform(CM_MOUSEWHEEL, m.WParam, m.LParam) != 0;
      m.Result = handled ? 1 : 0;
      return;
    }
    default:
      break;
  }
  DefaultHandler(m);
}

void TControl::MouseMessage(TMessage& m) {
  const int x = GET_X_LPARAM(m.LParam), y = GET_Y_LPARAM(m.LParam);
  TShiftState shift = MouseShiftState(m.WParam);
  auto down = [&](TMouseButton b, bool dbl) {
    if (b == TMouseButton::mbLeft && dragMode_ == TDragMode::dmAutomatic && !dbl) {
      BeginDrag(false);
      return;
    }
    if (b == TMouseButton::mbLeft) {
      if (controlStyle_.Contains(csCaptureMouse)) SetMouseCapture(true);
      if (controlStyle_.Contains(csClickEvents) && !dbl) controlState_.Include(csClicked);
    }
    if (dbl && controlStyle_.Contains(csDoubleClicks)) {
      DblClick();
      shift.Include(ssDouble);
    }
    MouseDown(b, shift, x, y);
  };
  auto up = [&](TMouseButton b) {
    if (b == TMouseButton::mbLeft) {
      if (MouseCapture()) SetMouseCapture(false);
      if (controlState_.Contains(csClicked)) {
        controlState_.Exclude(csClicked);
        if (PtInRect(ClientRect(), Point(x, y))) Click();
      }
    }
    MouseUp(b, shift, x, y);
  };
  if (Application) Application->HintMouseMessage(this, m);
  switch (m.Msg) {
    case WM_MOUSEMOVE:
      MouseMove(shift, x, y);
      break;
    case WM_LBUTTONDOWN:
      down(TMouseButton::mbLeft, false);
      break;
    case WM_LBUTTONDBLCLK:
      down(TMouseButton::mbLeft, true);
      break;
    case WM_RBUTTONDOWN:
      down(TMouseButton::mbRight, false);
      break;
    case WM_RBUTTONDBLCLK:
      down(TMouseButton::mbRight, true);
      break;
    case WM_MBUTTONDOWN:
      down(TMouseButton::mbMiddle, false);
      break;
    case WM_MBUTTONDBLCLK:
      down(TMouseButton::mbMiddle, true);
      break;
    case WM_LBUTTONUP:
      up(TMouseButton::mbLeft);
      break;
    case WM_RBUTTONUP:
      up(TMouseButton::mbRight);
      break;
    case WM_MBUTTONUP:
      up(TMouseButton::mbMiddle);
      break;
    default:
      break;
  }
}

void TControl::Click() {
  // An action runs when the click handler is the action's own (or none).
  if (actionLink_ && actionLink_->Action() &&
      (!OnClick || OnClick == actionLink_->Action()->OnExecute)) {
    actionLink_->Execute(this);
  } else if (OnClick) {
    OnClick(this);
  }
}

void TControl::DblClick() {
  if (OnDblClick) OnDblClick(this);
}
void TControl::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  if (OnMouseDown) OnMouseDown(this, button, shift, x, y);
}
void TControl::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
  if (OnMouseUp) OnMouseUp(this, button, shift, x, y);
}
void TControl::MouseMove(TShiftState shift, int x, int y) {
  if (OnMouseMove) OnMouseMove(this, shift, x, y);
}
bool TControl::DoMouseWheel(TShiftState shift, int delta, TPoint mousePos) {
  bool handled = false;
  if (OnMouseWheel) OnMouseWheel(this, shift, delta, mousePos, handled);
  return handled;
}
void TControl::DoContextPopup(TPoint mousePos, bool& handled) {
  if (OnContextPopup) OnContextPopup(this, mousePos, handled);
}
void TControl::Resize() {
  if (OnResize) OnResize(this);
}

void TControl::SetParent(TWinControl* parent) {
  if (parent == parent_) return;
  if (parent == this) throw EInvalidOperation(u"A control cannot have itself as its parent");
  if (parent_) parent_->RemoveControl(this);
  if (parent) parent->InsertControl(this);
}

TComponent* TControl::GetParentComponent() const { return parent_; }

void TControl::SetParentComponent(TComponent* parent) {
  if (auto* w = dynamic_cast<TWinControl*>(parent)) SetParent(w);
}

void TControl::Loaded() {
  TComponent::Loaded();
  // Limits read after the size apply now.
  int w = width_, h = height_;
  ApplyConstraints(w, h);
  if (w != width_ || h != height_) SetBounds(left_, top_, w, h);
  if (parent_) {
    if (parentFont_) AdoptParentFont();
    if (parentColor_) AdoptParentColor();
    if (parentShowHint_) showHint_ = parent_->ShowHint();
  }
}

void TControl::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation != TOperation::opRemove) return;
  if (component == popupMenu_) popupMenu_ = nullptr;
  if (component == hostDockSite_) hostDockSite_ = nullptr;
  if (actionLink_ && component == actionLink_->Action()) SetAction(nullptr);
}

void TControl::UpdateBoundsRect(const TRect& r) {
  left_ = r.left;
  top_ = r.top;
  width_ = r.right - r.left;
  height_ = r.bottom - r.top;
}

void TControl::SetBounds(int left, int top, int width, int height) {
  ApplyConstraints(width, height);
  if (left == left_ && top == top_ && width == width_ && height == height_) return;
  InvalidateControl(visible_, false);
  const bool resized = width != width_ || height != height_;
  UpdateBoundsRect(Bounds(left, top, width, height));
  InvalidateControl(visible_, false);
  if (!IsLoading()) {
    RequestAlign();
    if (resized) Resize();
  }
}

void TControl::ApplyConstraints(int& width, int& height) const {
  // Zero limits are no limits.
  if (constraints_->MinWidth() && width < constraints_->MinWidth())
    width = constraints_->MinWidth();
  if (constraints_->MaxWidth() && width > constraints_->MaxWidth())
    width = constraints_->MaxWidth();
  if (constraints_->MinHeight() && height < constraints_->MinHeight())
    height = constraints_->MinHeight();
  if (constraints_->MaxHeight() && height > constraints_->MaxHeight())
    height = constraints_->MaxHeight();
}

TRect TControl::ClientRect() { return Rect(0, 0, width_, height_); }
void TControl::SetClientWidth(int v) { SetWidth(v); }
void TControl::SetClientHeight(int v) { SetHeight(v); }

TPoint TControl::ClientOrigin() {
  if (auto* w = dynamic_cast<TWinControl*>(this)) {
    POINT p{0, 0};
    ::ClientToScreen(w->Handle(), &p);
    return p;
  }
  if (!parent_) throw EInvalidOperation(Format(u"Control '%s' has no parent window", {Name()}));
  TPoint p = parent_->ClientOrigin();
  return Point(p.x + left_, p.y + top_);
}

TPoint TControl::ClientToScreen(TPoint p) {
  TPoint o = ClientOrigin();
  return Point(p.x + o.x, p.y + o.y);
}

TPoint TControl::ScreenToClient(TPoint p) {
  TPoint o = ClientOrigin();
  return Point(p.x - o.x, p.y - o.y);
}

void TControl::SetAlign(TAlign v) {
  if (v == align_) return;
  align_ = v;
  if (!IsLoading()) RequestAlign();
}

void TControl::RequestAlign() {
  if (parent_) parent_->Realign();
}

void TControl::BringToFront() {
  if (!parent_) {
    if (auto* w = dynamic_cast<TWinControl*>(this); w && w->HandleAllocated())
      SetWindowPos(w->Handle(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    return;
  }
  auto& list = parent_->controls_;
  list.erase(std::find(list.begin(), list.end(), this));
  list.push_back(this);
  if (auto* w = dynamic_cast<TWinControl*>(this); w && w->HandleAllocated())
    SetWindowPos(w->Handle(), HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  else
    InvalidateControl(visible_, true);
}

void TControl::SendToBack() {
  if (!parent_) return;
  auto& list = parent_->controls_;
  list.erase(std::find(list.begin(), list.end(), this));
  list.insert(list.begin(), this);
  if (auto* w = dynamic_cast<TWinControl*>(this); w && w->HandleAllocated())
    SetWindowPos(w->Handle(), HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  else
    InvalidateControl(visible_, true);
}

void TControl::SetVisible(bool v) {
  if (v == visible_) return;
  VisibleChanging();
  visible_ = v;
  if (IsLoading()) return;
  Perform(CM_VISIBLECHANGED, v);
  NotifyDockSite(CM_VISIBLECHANGED, v, 0);
  RequestAlign();
}

void TControl::Show() {
  if (parent_ != nullptr) parent_->ShowControl(this);
  SetVisible(true);
}

bool TControl::Showing() const { return visible_ && parent_ && parent_->Showing(); }

void TControl::SetEnabled(bool v) {
  if (v == enabled_) return;
  enabled_ = v;
  Perform(CM_ENABLEDCHANGED);
}

void TControl::SetText(const std::u16string& v) {
  if (v == text_) return;
  text_ = v;
  if (auto* w = dynamic_cast<TWinControl*>(this); w && w->HandleAllocated())
    SetWindowTextW(w->Handle(), WStr(v));
  Perform(CM_TEXTCHANGED);
  NotifyDockSite(WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text_.c_str()));
}

void TControl::NotifyDockSite(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (hostDockSite_ == nullptr) return;
  TDockNotifyRec rec{msg, wParam, lParam};
  hostDockSite_->Perform(CM_DOCKNOTIFICATION, reinterpret_cast<WPARAM>(this),
                         reinterpret_cast<LPARAM>(&rec));
}

bool TControl::ManualDock(TWinControl* site, const TRect& dropRect) {
  if (site == nullptr || !site->DockSite()) return false;
  TDockClientRec rec{this, dropRect};
  return site->Perform(CM_DOCKCLIENT, 0, reinterpret_cast<LPARAM>(&rec)) == 0 &&
         hostDockSite_ == site;
}

void TControl::Dock(TWinControl* site, const TRect& dropRect) {
  TWinControl* old = hostDockSite_;
  if (old != nullptr && old != site) {
    old->Perform(CM_UNDOCKCLIENT, reinterpret_cast<WPARAM>(site), reinterpret_cast<LPARAM>(this));
    hostDockSite_ = nullptr;
    old->DoRemoveDockClient(this);
  }
  hostDockSite_ = site;
  site->FreeNotification(this);
  site->DoAddDockClient(this, dropRect);
}

bool TControl::ManualFloat(const TRect& screenRect) {
  TWinControl* old = hostDockSite_;
  if (old == nullptr) return false;
  old->Perform(CM_UNDOCKCLIENT, 0, reinterpret_cast<LPARAM>(this));
  hostDockSite_ = nullptr;
  SetParent(nullptr);
  SetBoundsRect(screenRect);
  // A form is a window of its own again; another windowed control without
  // a parent has no window to show in.
  if (auto* w = dynamic_cast<TCustomForm*>(this); w && !IsDestroying()) w->UpdateShowing();
  old->DoRemoveDockClient(this);
  return true;
}

void TControl::SetColor(TColor v) {
  if (!settingParentColor_) parentColor_ = false;
  if (v == color_) return;
  color_ = v;
  Perform(CM_COLORCHANGED);
}

void TControl::SetParentColor(bool v) {
  if (v == parentColor_) return;
  parentColor_ = v;
  if (v && parent_ && !IsLoading()) AdoptParentColor();
}

void TControl::AdoptParentColor() {
  if (!parent_) return;
  settingParentColor_ = true;
  SetColor(parent_->Color());
  settingParentColor_ = false;
}

void TControl::SetParentFont(bool v) {
  if (v == parentFont_) return;
  parentFont_ = v;
  if (v && parent_ && !IsLoading()) AdoptParentFont();
}

void TControl::AdoptParentFont() {
  if (!parent_) return;
  settingParentFont_ = true;
  font_->Assign(parent_->Font());
  settingParentFont_ = false;
}

void TControl::FontChanged(TObject*) {
  if (!settingParentFont_) parentFont_ = false;
  Perform(CM_FONTCHANGED);
}

void TControl::SetCursor(TCursor v) {
  if (v == cursor_) return;
  cursor_ = v;
  Perform(CM_CURSORCHANGED);
}

void TControl::SetBiDiMode(TBiDiMode v) {
  if (v == biDiMode_) return;
  biDiMode_ = v;
  parentBiDiMode_ = false;
  Perform(CM_BIDIMODECHANGED);
}

void TControl::SetShowHint(bool v) {
  showHint_ = v;
  parentShowHint_ = false;
}

void TControl::SetParentShowHint(bool v) {
  parentShowHint_ = v;
  if (v && parent_) showHint_ = parent_->ShowHint();
}

void TControl::SetPopupMenu(TPopupMenu* v) {
  if (popupMenu_) popupMenu_->RemoveFreeNotification(this);
  popupMenu_ = v;
  if (v) v->FreeNotification(this);
}

TBasicAction* TControl::Action() const { return actionLink_ ? actionLink_->Action() : nullptr; }

void TControl::SetAction(TBasicAction* v) {
  if (!v) {
    FreeAndNil(actionLink_);
    return;
  }
  if (!actionLink_) actionLink_ = New<TControlActionLink>(this);
  actionLink_->SetAction(v);
  ActionChange(v, IsLoading());
  v->FreeNotification(this);
}

void TControl::ActionChange(TObject* sender, bool checkDefaults) {
  auto* a = dynamic_cast<TCustomAction*>(sender);
  if (!a) return;
  // While loading, values stored with the control win over the action's.
  if (!checkDefaults || text_.empty()) SetCaption(a->Caption());
  if (!checkDefaults || enabled_) SetEnabled(a->Enabled());
  if (!checkDefaults || hint_.empty()) SetHint(a->Hint());
  if (!checkDefaults || visible_) SetVisible(a->Visible());
  if (!checkDefaults || helpContext_ == 0) SetHelpContext(a->HelpContext());
}

void TControl::InitiateAction() {
  if (actionLink_) actionLink_->Update();
}

void TControl::InvalidateControl(bool isVisible, bool isOpaque) {
  if (!parent_ || !parent_->HandleAllocated() || IsWindowed(this)) return;
  if (!isVisible && !visible_) return;
  RECT r = BoundsRect();
  InvalidateRect(parent_->Handle(), &r, !(isOpaque || controlStyle_.Contains(csOpaque)));
}

void TControl::Invalidate() { InvalidateControl(visible_, controlStyle_.Contains(csOpaque)); }

void TControl::Update() {
  if (parent_) parent_->Update();
}

void TControl::Repaint() {
  Invalidate();
  Update();
}

bool TControl::MouseCapture() const { return captureControl == this; }

void TControl::SetMouseCapture(bool v) {
  if (v == MouseCapture()) return;
  if (v) {
    captureControl = this;
    HWND wnd = nullptr;
    if (auto* w = dynamic_cast<TWinControl*>(this))
      wnd = w->Handle();
    else if (parent_)
      wnd = parent_->Handle();
    if (wnd) SetCapture(wnd);
  } else {
    captureControl = nullptr;
    ReleaseCapture();
  }
}

void TControl::SendCancelMode() {
  if (captureControl) captureControl->SetMouseCapture(false);
}

// ---- dragging
CL_CLASS(TDragObject) {}
CL_CLASS(TDragDockObject) {}

TCursor TDragObject::GetDragCursor(bool accepted, int, int) { return accepted ? crDrag : crNoDrop; }

namespace {
struct DragState {
  TControl* control = nullptr;  // the source
  TDragObject* object = nullptr;
  bool ownObject = false;
  bool started = false;
  TPoint start{};
  int threshold = 5;
  TControl* target = nullptr;
  bool accepted = false;
  HWND captureWindow = nullptr;
};
DragState drag;

TControl* FindDragTarget(TPoint screen) {
  HWND wnd = WindowFromPoint(screen);
  TWinControl* w = nullptr;
  while (wnd && !(w = TWinControl::FindControl(wnd))) wnd = GetParent(wnd);
  if (!w) return nullptr;
  TDragRec rec{screen, drag.object, nullptr, false};
  // A graphic child under the point is the target; the control may say.
  TControl* c = w->ControlAtPos(w->ScreenToClient(screen), false);
  if (!c) c = w;
  return reinterpret_cast<TControl*>(
      c->Perform(CM_DRAG, dmFindTarget, reinterpret_cast<LPARAM>(&rec)));
}

bool SendDrag(TControl* target, TDragMessage msg, TPoint screen) {
  TDragRec rec{screen, drag.object, target, false};
  return target->Perform(CM_DRAG, msg, reinterpret_cast<LPARAM>(&rec)) != 0;
}

void StartDrag() {
  drag.started = true;
  TDragObject* obj = nullptr;
  drag.control->DoStartDrag(obj);
  if (!obj) {
    if (drag.control->DragKind() == TDragKind::dkDock)
      obj = New<TDragDockObject>();
    else
      obj = New<TDragObject>();
    obj->Control = drag.control;
    drag.ownObject = true;
  }
  drag.object = obj;
}

// The dock site under the mouse that would take the dragged control: the
// first windowed control up from the window there that is a dock site; none
// when that one refuses or does not reach the point.
TWinControl* FindDockSite(TPoint screen) {
  HWND wnd = WindowFromPoint(screen);
  TWinControl* site = nullptr;
  while (wnd && !site) {
    TWinControl* w = TWinControl::FindControl(wnd);
    if (w && w != drag.control && w->DockSite()) site = w;
    wnd = GetParent(wnd);
  }
  if (!site) return nullptr;
  RECT r{};
  GetWindowRect(site->Handle(), &r);
  TRect influence = Rect(r.left, r.top, r.right, r.bottom);
  bool canDock = true;
  site->GetSiteInfo(drag.control, influence, screen, canDock);
  const bool inside = screen.x >= influence.left && screen.x < influence.right &&
                      screen.y >= influence.top && screen.y < influence.bottom;
  return canDock && inside ? site : nullptr;
}

void DockDragTo(TDragDockObject* dock, TPoint screen) {
  TWinControl* site = FindDockSite(screen);
  auto over = [&](TWinControl* w, TDragState state) {
    bool accept = false;
    // Unless the site says otherwise, the control lands at its own size
    // under the mouse.
    dock->DockRect = Bounds(screen.x, screen.y, drag.control->Width(), drag.control->Height());
    const TPoint local = w->ScreenToClient(screen);
    w->DockOver(dock, local.x, local.y, state, accept);
    return accept;
  };
  if (site != drag.target) {
    if (auto* old = dynamic_cast<TWinControl*>(drag.target)) over(old, TDragState::dsDragLeave);
    drag.target = site;
    drag.accepted = site && over(site, TDragState::dsDragEnter);
  } else if (site) {
    drag.accepted = over(site, TDragState::dsDragMove);
  }
  dock->Floating = !drag.accepted;
  if (dock->Floating) {
    // Floating, the control keeps its size under the mouse.
    dock->DockRect = Bounds(screen.x, screen.y, drag.control->Width(), drag.control->Height());
  }
  dock->DragTarget = drag.target;
}

void DragTo(TPoint screen) {
  drag.object->DragPos = screen;
  if (auto* dock = dynamic_cast<TDragDockObject*>(drag.object)) return DockDragTo(dock, screen);
  TControl* target = FindDragTarget(screen);
  if (target != drag.target) {
    if (drag.target) SendDrag(drag.target, dmDragLeave, screen);
    drag.target = target;
    drag.accepted = target && SendDrag(target, dmDragEnter, screen);
  } else if (target) {
    drag.accepted = SendDrag(target, dmDragMove, screen);
  }
  drag.object->DragTarget = drag.target;
  TPoint local = drag.target ? drag.target->ScreenToClient(screen) : screen;
  if (Screen)
    ::SetCursor(Screen->Cursors(drag.object->GetDragCursor(drag.accepted, local.x, local.y)));
}

void DragDone(bool drop) {
  if (!drag.control) return;
  DragState d = drag;
  drag = DragState{};
  if (GetCapture() == d.captureWindow) ReleaseCapture();
  if (!d.started) return;
  POINT screen{};
  GetCursorPos(&screen);
  TObject* target = nullptr;
  // Measured before a dock drop moves the control (a floated control that
  // is no form has no window to measure from).
  const TPoint local = d.control->ScreenToClient(screen);
  if (auto* dock = dynamic_cast<TDragDockObject*>(d.object)) {
    // Dropped on a site that takes it, the control docks there; anywhere
    // else a docked control floats.
    if (drop && d.accepted && d.target) {
      target = d.target;
      dock->Dropped = d.control->ManualDock(static_cast<TWinControl*>(d.target), dock->DockRect);
    } else if (drop && d.control->HostDockSite()) {
      dock->Dropped = d.control->ManualFloat(dock->DockRect);
    }
  } else if (d.target) {
    if (drop && d.accepted) {
      d.object->Dropped = true;
      target = d.target;
      TDragRec rec{screen, d.object, d.target, false};
      d.target->Perform(CM_DRAG, dmDragDrop, reinterpret_cast<LPARAM>(&rec));
    } else {
      TDragRec rec{screen, d.object, d.target, false};
      d.target->Perform(CM_DRAG, dmDragLeave, reinterpret_cast<LPARAM>(&rec));
    }
  }
  d.control->DoEndDrag(target, local.x, local.y);
  if (d.ownObject) Free(d.object);
}

void DragControlGone(TControl* c) {
  if (drag.control == c) DragDone(false);
  if (drag.target == c) drag.target = nullptr;
}
}  // namespace

void TControl::BeginDrag(bool immediate, int threshold) {
  if (drag.control) return;
  drag.control = this;
  POINT p{};
  GetCursorPos(&p);
  drag.start = p;
  drag.threshold = threshold < 0 ? (Screen ? Screen->DragThreshold() : 5) : threshold;
  if (auto* w = dynamic_cast<TWinControl*>(this))
    drag.captureWindow = w->Handle();
  else if (parent_)
    drag.captureWindow = parent_->Handle();
  if (drag.captureWindow) SetCapture(drag.captureWindow);
  if (immediate) {
    StartDrag();
    DragTo(p);
  }
}

void TWinControl::DockOver(TDragDockObject*, int, int, TDragState, bool& accept) { accept = true; }

void TWinControl::GetSiteInfo(TControl*, TRect&, TPoint, bool&) {}

void TControl::EndDrag(bool drop) {
  if (drag.control == this) DragDone(drop);
}

bool TControl::Dragging() const { return drag.control == this; }

void TControl::DragOver(TObject* source, int x, int y, TDragState state, bool& accept) {
  accept = false;
  if (OnDragOver) {
    accept = true;
    OnDragOver(this, source, x, y, state, accept);
  }
}

void TControl::DragDrop(TObject* source, int x, int y) {
  if (OnDragDrop) OnDragDrop(this, source, x, y);
}

void TControl::DoStartDrag(TDragObject*& dragObject) {
  if (OnStartDrag) OnStartDrag(this, dragObject);
}

void TControl::DoEndDrag(TObject* target, int x, int y) {
  if (OnEndDrag) OnEndDrag(this, target, x, y);
}

bool DragMessage(const MSG& msg) {
  if (!drag.control) return false;
  switch (msg.message) {
    case WM_MOUSEMOVE: {
      POINT p{};
      GetCursorPos(&p);
      if (!drag.started) {
        if (std::abs(p.x - drag.start.x) < drag.threshold &&
            std::abs(p.y - drag.start.y) < drag.threshold)
          return false;
        StartDrag();
      }
      DragTo(p);
      return true;
    }
    case WM_LBUTTONUP:
      if (!drag.started) {
        // Never moved far enough: an ordinary click.
        drag = DragState{};
        return false;
      }
      DragDone(true);
      return true;
    case WM_RBUTTONDOWN:
      DragDone(false);
      return true;
    case WM_KEYDOWN:
      if (msg.wParam == VK_ESCAPE) {
        DragDone(false);
        return true;
      }
      return drag.started;
    case WM_CANCELMODE:
    case WM_CAPTURECHANGED:
      return false;
    default:
      return false;
  }
}

// ---- TGraphicControl
CL_CLASS(TGraphicControl) {}

TGraphicControl::TGraphicControl(TComponent* AOwner)
    : TControl(AOwner), canvas_(New<TControlCanvas>(this)) {}

TGraphicControl::~TGraphicControl() { Free(canvas_); }

void TGraphicControl::WndProc(TMessage& m) {
  if (m.Msg == WM_PAINT && m.WParam) {
    auto* canvas = static_cast<TControlCanvas*>(canvas_);
    canvas->Lock();
    canvas->FreeDC();
    canvas->SetHandle(reinterpret_cast<HDC>(m.WParam));
    try {
      Paint();
    } catch (...) {
      canvas->SetHandle(nullptr);
      canvas->Unlock();
      throw;
    }
    canvas->SetHandle(nullptr);
    canvas->Unlock();
    return;
  }
  TControl::WndProc(m);
}

// ---- TControlCanvas
CL_CLASS(TControlCanvas) {}

void TControlCanvas::FreeDC() {
  if (!dcWindow_) return;
  HDC dc = Handle();
  SetHandle(nullptr);
  ReleaseDC(dcWindow_, dc);
  dcWindow_ = nullptr;
}

void TControlCanvas::CreateHandle() {
  if (!control_) return;
  if (auto* w = dynamic_cast<TWinControl*>(control_)) {
    dcWindow_ = w->Handle();
    SetHandle(GetDCEx(dcWindow_, nullptr, DCX_CACHE | DCX_CLIPSIBLINGS));
    return;
  }
  TWinControl* parent = control_->Parent();
  if (!parent) return;
  dcWindow_ = parent->Handle();
  HDC dc = GetDCEx(dcWindow_, nullptr, DCX_CACHE | DCX_CLIPSIBLINGS);
  SetViewportOrgEx(dc, control_->Left(), control_->Top(), nullptr);
  IntersectClipRect(dc, 0, 0, control_->Width(), control_->Height());
  SetHandle(dc);
}

// ---- TWinControl
CL_CLASS(TWinControl) {
  c.Int("BorderWidth", &TWinControl::BorderWidth, &TWinControl::SetBorderWidth).Default(0);
  c.Bool("Ctl3D", &TWinControl::Ctl3D, &TWinControl::SetCtl3D).Default(true);
  c.Bool("DoubleBuffered", &TWinControl::DoubleBuffered, &TWinControl::SetDoubleBuffered)
      .Default(false);
  c.Bool("ParentCtl3D", &TWinControl::ParentCtl3D, &TWinControl::SetParentCtl3D).Default(true);
  c.Int("TabOrder", &TWinControl::TabOrder, &TWinControl::SetTabOrder).Default(-1);
  c.Bool("TabStop", &TWinControl::TabStop, &TWinControl::SetTabStop).Default(false);
  c.Bool("DockSite", &TWinControl::DockSite, &TWinControl::SetDockSite).Default(false);
  c.Event("OnEnter", &TWinControl::OnEnter, &TWinControl::OnEnter);
  c.Event("OnExit", &TWinControl::OnExit, &TWinControl::OnExit);
  c.Event("OnKeyDown", &TWinControl::OnKeyDown, &TWinControl::OnKeyDown);
  c.Event("OnKeyPress", &TWinControl::OnKeyPress, &TWinControl::OnKeyPress);
  c.Event("OnKeyUp", &TWinControl::OnKeyUp, &TWinControl::OnKeyUp);
}

TWinControl::TWinControl(TComponent* AOwner) : TControl(AOwner), brush_(New<TBrush>()) {
  brush_->SetColor(color_);
}

TWinControl::~TWinControl() { Free(brush_); }

void TWinControl::BeforeDestruction() {
  // TControl's steps are repeated below in the order a windowed control
  // needs: its window and children go before it leaves its parent.
  TComponent::BeforeDestruction();  // NOLINT(bugprone-parent-virtual-call)
  if (Application) Application->HintControlLeft(this);
  DragControlGone(this);
  if (mouseControl == this) mouseControl = nullptr;
  if (captureControl == this) SetMouseCapture(false);
  DestroyHandle();
  // Children go with their parent, whoever owns them.
  while (!controls_.empty()) {
    TControl* child = controls_.back();
    if (child->IsDestroying()) {
      RemoveControl(child);
      continue;
    }
    Free(child);
  }
  SetParent(nullptr);
}

TWinControl* TWinControl::FindControl(HWND wnd) {
  return wnd ? static_cast<TWinControl*>(GetPropW(wnd, kControlProp)) : nullptr;
}

HWND TWinControl::Handle() {
  HandleNeeded();
  return handle_;
}

void TWinControl::HandleNeeded() {
  if (handle_) return;
  if (parent_) parent_->HandleNeeded();
  CreateHandle();
}

void TWinControl::CreateHandle() {
  if (handle_) return;
  CreateWnd();
  // Children that kept their windows (a parent re-created) move over.
  for (TControl* c : controls_)
    if (auto* w = dynamic_cast<TWinControl*>(c); w && w->handle_) ::SetParent(w->handle_, handle_);
}

void TWinControl::CreateParams(TCreateParams& params) {
  params.Caption = Text();
  params.Style = WS_CHILD | WS_CLIPSIBLINGS;
  if (controlStyle_.Contains(csAcceptsControls)) params.Style |= WS_CLIPCHILDREN;
  if (!enabled_) params.Style |= WS_DISABLED;
  if (tabStop_) params.Style |= WS_TABSTOP;
  params.X = left_;
  params.Y = top_;
  params.Width = width_;
  params.Height = height_;
  if (parent_) params.WndParent = parent_->Handle();
  params.WindowClass.style = CS_VREDRAW | CS_HREDRAW;
  if (controlStyle_.Contains(csDoubleClicks)) params.WindowClass.style |= CS_DBLCLKS;
  params.WindowClass.lpfnWndProc = StdWndProc;
  params.WindowClass.hInstance = HInstance();
  params.WindowClass.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  params.WinClassName = AsciiToWide(ClassName());
}

void TWinControl::CreateSubClass(TCreateParams& params, const wchar_t* systemClass) {
  WNDCLASSW wc{};
  if (!GetClassInfoW(nullptr, systemClass, &wc)) RaiseLastOSError();
  defWndProc_ = wc.lpfnWndProc;
  wc.lpfnWndProc = StdWndProc;
  wc.hInstance = HInstance();
  wc.lpszClassName = nullptr;
  // Keep our own style bits over the system class's.
  wc.style = (wc.style & ~(CS_OWNDC | CS_CLASSDC | CS_PARENTDC | CS_GLOBALCLASS)) |
             (params.WindowClass.style & CS_DBLCLKS);
  params.WindowClass = wc;
}

void TWinControl::CreateWnd() {
  TCreateParams params;
  CreateParams(params);
  if (params.Style & WS_CHILD && !params.WndParent)
    throw EInvalidOperation(Format(u"Control '%s' has no parent window", {Name()}));
  CreateWindowHandle(params);
  if (!handle_) RaiseLastOSError();
  // Our fonts are not the system's: tell the window.
  Perform(WM_SETFONT, reinterpret_cast<WPARAM>(font_->Handle()), 0);
}

void TWinControl::CreateWindowHandle(const TCreateParams& params) {
  WNDCLASSW existing{};
  if (!GetClassInfoW(params.WindowClass.hInstance, WStr(params.WinClassName), &existing)) {
    WNDCLASSW wc = params.WindowClass;
    wc.lpszClassName = WStr(params.WinClassName);
    if (!RegisterClassW(&wc)) RaiseLastOSError();
  }
  creatingControl = this;
  HWND wnd = CreateWindowExW(params.ExStyle, WStr(params.WinClassName), WStr(params.Caption),
                             params.Style, params.X, params.Y, params.Width, params.Height,
                             params.WndParent, nullptr, params.WindowClass.hInstance, params.Param);
  creatingControl = nullptr;
  if (wnd) handle_ = wnd;
}

void TWinControl::DestroyHandle() {
  if (!handle_) return;
  for (TControl* c : controls_)
    if (auto* w = dynamic_cast<TWinControl*>(c)) w->DestroyHandle();
  controlState_.Include(csDestroyingHandle);
  try {
    DestroyWnd();
  } catch (...) {
    controlState_.Exclude(csDestroyingHandle);
    throw;
  }
  controlState_.Exclude(csDestroyingHandle);
}

void TWinControl::DestroyWnd() {
  if (!handle_) return;
  HWND wnd = handle_;
  DestroyWindow(wnd);
  // WM_NCDESTROY cleared the handle; make sure for windows whose thread
  // refused the call.
  handle_ = nullptr;
  showing_ = false;
}

void TWinControl::RecreateWnd() {
  if (!handle_) return;
  const bool wasShowing = showing_;
  DestroyHandle();
  showing_ = false;
  if (wasShowing)
    UpdateShowing();
  else
    HandleNeeded();
}

void TWinControl::UpdateShowing() {
  bool showing = visible_ && !IsDestroying() && (parent_ ? parent_->showing_ : true);
  if (showing) HandleNeeded();
  if (showing == showing_) return;
  showing_ = showing;
  if (showing) {
    for (TControl* c : std::vector<TControl*>(controls_))
      if (auto* w = dynamic_cast<TWinControl*>(c)) w->UpdateShowing();
    Perform(CM_SHOWINGCHANGED);
  } else {
    Perform(CM_SHOWINGCHANGED);
    for (TControl* c : std::vector<TControl*>(controls_))
      if (auto* w = dynamic_cast<TWinControl*>(c)) w->UpdateShowing();
  }
}

void TWinControl::SetParent(TWinControl* parent) {
  if (parent == parent_) return;
  TControl::SetParent(parent);
  if (!parent_) {
    // Away from its parent the window cannot stay.
    if (!IsDestroying()) DestroyHandle();
    showing_ = false;
    return;
  }
  if (handle_) ::SetParent(handle_, parent_->Handle());
  if (!IsLoading()) UpdateShowing();
}

void TWinControl::InsertControl(TControl* control) {
  control->parent_ = this;
  controls_.push_back(control);
  if (auto* w = dynamic_cast<TWinControl*>(control)) tabList_.push_back(w);
  if (!control->IsLoading()) {
    if (control->parentFont_) control->AdoptParentFont();
    if (control->parentColor_) control->AdoptParentColor();
  }
  if (control->visible_) control->InvalidateControl(true, false);
  if (!IsLoading() && !control->IsLoading()) Realign();
}

void TWinControl::RemoveControl(TControl* control) {
  if (control->visible_) control->InvalidateControl(true, false);
  controls_.erase(std::remove(controls_.begin(), controls_.end(), control), controls_.end());
  tabList_.erase(std::remove(tabList_.begin(), tabList_.end(), control), tabList_.end());
  if (TCustomForm* form = GetParentForm(this)) {
    // A control leaving the form cannot stay its active or focused one.
    auto inside = [control](TWinControl* w) {
      return w && (w == control ||
                   (IsWindowed(control) && static_cast<TWinControl*>(control)->ContainsControl(w)));
    };
    if (inside(form->activeControl_)) form->activeControl_ = nullptr;
    if (inside(form->focusedControl_)) form->focusedControl_ = nullptr;
  }
  control->parent_ = nullptr;
  if (!IsDestroying() && !IsLoading()) Realign();
}

bool TWinControl::ContainsControl(TControl* control) const {
  for (TControl* c = control; c; c = c->Parent())
    if (c == this) return true;
  return false;
}

TControl* TWinControl::ControlAtPos(TPoint p, bool allowDisabled, bool allowWinControls) {
  for (auto it = controls_.rbegin(); it != controls_.rend(); ++it) {
    TControl* c = *it;
    if (!allowWinControls && IsWindowed(c)) continue;
    if (!c->visible_ || (!allowDisabled && !c->enabled_)) continue;
    if (PtInRect(c->BoundsRect(), p)) return c;
  }
  return nullptr;
}

void TWinControl::Broadcast(TMessage& message) {
  for (TControl* c : std::vector<TControl*>(controls_)) {
    c->WindowProc(message);
    if (message.Result != 0) return;
  }
}

void TWinControl::NotifyControls(UINT msg) {
  TMessage m{msg, 0, 0, 0};
  for (TControl* c : std::vector<TControl*>(controls_)) c->WindowProc(m);
}

void TWinControl::EnableAlign() {
  if (alignDisabled_ > 0 && --alignDisabled_ == 0) Realign();
}

void TWinControl::Realign() {
  if (aligning_ || alignDisabled_ || IsLoading() || IsDestroying()) return;
  aligning_ = true;
  try {
    TRect r = ClientRect();
    AlignControls(nullptr, r);
  } catch (...) {
    aligning_ = false;
    throw;
  }
  aligning_ = false;
}

void TWinControl::AdjustClientRect(TRect& rect) {
  InflateRect(&rect, -borderWidth_, -borderWidth_);
}

void TWinControl::AlignControls(TControl*, TRect& rect) {
  AdjustClientRect(rect);
  static const TAlign kOrder[] = {TAlign::alTop, TAlign::alBottom, TAlign::alLeft, TAlign::alRight,
                                  TAlign::alClient};
  for (TAlign align : kOrder) {
    std::vector<TControl*> list;
    for (TControl* c : controls_)
      if (c->align_ == align && (c->visible_ || c->IsDesigning())) list.push_back(c);
    // Controls of one side stack in the order of their present positions.
    std::stable_sort(list.begin(), list.end(), [align](TControl* a, TControl* b) {
      switch (align) {
        case TAlign::alTop:
          return a->top_ < b->top_;
        case TAlign::alBottom:
          return a->top_ + a->height_ > b->top_ + b->height_;
        case TAlign::alLeft:
          return a->left_ < b->left_;
        case TAlign::alRight:
          return a->left_ + a->width_ > b->left_ + b->width_;
        default:
          return false;
      }
    });
    for (TControl* c : list) {
      const int w = std::max<int>(rect.right - rect.left, 0),
                h = std::max<int>(rect.bottom - rect.top, 0);
      switch (align) {
        case TAlign::alTop:
          c->SetBounds(rect.left, rect.top, w, c->height_);
          rect.top += c->height_;
          break;
        case TAlign::alBottom:
          c->SetBounds(rect.left, rect.bottom - c->height_, w, c->height_);
          rect.bottom -= c->height_;
          break;
        case TAlign::alLeft:
          c->SetBounds(rect.left, rect.top, c->width_, h);
          rect.left += c->width_;
          break;
        case TAlign::alRight:
          c->SetBounds(rect.right - c->width_, rect.top, c->width_, h);
          rect.right -= c->width_;
          break;
        default:
          c->SetBounds(rect.left, rect.top, w, h);
          break;
      }
    }
  }
}

void TWinControl::GetChildren(const TGetChildProc& proc, TComponent* root) {
  for (TControl* c : controls_)
    if (c->Owner() == root) proc(c);
}

void TWinControl::DoAddDockClient(TControl* client, const TRect& dropRect) {
  client->SetParent(this);
  const TPoint at = ScreenToClient(TPoint{dropRect.left, dropRect.top});
  client->SetBounds(at.x, at.y, dropRect.right - dropRect.left, dropRect.bottom - dropRect.top);
}

void TWinControl::DoRemoveDockClient(TControl*) {}

void TWinControl::CMDockClient(TMessage& m) {
  auto* rec = reinterpret_cast<TDockClientRec*>(m.LParam);
  m.Result = 1;
  if (rec == nullptr || rec->Control == nullptr || !dockSite_) return;
  rec->Control->Dock(this, rec->DropRect);
  m.Result = 0;
}

void TWinControl::CMUnDockClient(TMessage& m) { m.Result = 0; }

void TWinControl::CMDockNotification(TMessage&) {}

void TWinControl::ShowControl(TControl*) {
  if (parent_ != nullptr) parent_->ShowControl(this);
}

void TWinControl::SetChildOrder(TComponent* child, int order) {
  auto* c = dynamic_cast<TControl*>(child);
  if (!c || c->parent_ != this) return;
  auto it = std::find(controls_.begin(), controls_.end(), c);
  controls_.erase(it);
  order = std::clamp(order, 0, static_cast<int>(controls_.size()));
  controls_.insert(controls_.begin() + order, c);
}

TRect TWinControl::ClientRect() {
  if (handle_) {
    RECT r{};
    GetClientRect(handle_, &r);
    return r;
  }
  return TControl::ClientRect();
}

void TWinControl::SetBounds(int left, int top, int width, int height) {
  ApplyConstraints(width, height);
  if (left == left_ && top == top_ && width == width_ && height == height_) return;
  const bool resized = width != width_ || height != height_;
  UpdateBoundsRect(Bounds(left, top, width, height));
  if (handle_) {
    // WM_WINDOWPOSCHANGED reads the result back.
    SetWindowPos(handle_, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    UpdateBoundsRect(Bounds(left, top, width, height));
  }
  if (IsLoading()) return;
  if (resized) Realign();
  RequestAlign();
  if (resized) Resize();
}

void TWinControl::UpdateBounds() {
  if (!handle_) return;
  RECT r{};
  GetWindowRect(handle_, &r);
  if (GetWindowLongW(handle_, GWL_STYLE) & WS_CHILD)
    MapWindowPoints(HWND_DESKTOP, GetParent(handle_), reinterpret_cast<POINT*>(&r), 2);
  if (r.left == left_ && r.top == top_ && r.right - r.left == width_ && r.bottom - r.top == height_)
    return;
  const bool resized = r.right - r.left != width_ || r.bottom - r.top != height_;
  UpdateBoundsRect(r);
  if (resized && !IsLoading()) {
    Realign();
    RequestAlign();
    Resize();
  }
}

void TWinControl::SetTabStop(bool v) {
  if (v == tabStop_) return;
  tabStop_ = v;
  if (handle_) {
    LONG style = GetWindowLongW(handle_, GWL_STYLE);
    SetWindowLongW(handle_, GWL_STYLE, v ? (style | WS_TABSTOP) : (style & ~WS_TABSTOP));
  }
}

int TWinControl::TabOrder() const {
  if (!parent_) return -1;
  const auto& list = parent_->tabList_;
  auto it = std::find(list.begin(), list.end(), this);
  return it == list.end() ? -1 : static_cast<int>(it - list.begin());
}

void TWinControl::SetTabOrder(int v) {
  if (!parent_) return;
  auto& list = parent_->tabList_;
  auto it = std::find(list.begin(), list.end(), this);
  if (it == list.end()) return;
  list.erase(it);
  v = std::clamp(v, 0, static_cast<int>(list.size()));
  list.insert(list.begin() + v, this);
}

void TWinControl::GetTabOrderList(std::vector<TWinControl*>& list) {
  for (TWinControl* c : tabList_) {
    list.push_back(c);
    c->GetTabOrderList(list);
  }
}

TWinControl* TWinControl::FindNextControl(TWinControl* current, bool goForward, bool checkTabStop,
                                          bool checkParent) {
  std::vector<TWinControl*> list;
  GetTabOrderList(list);
  if (list.empty()) return nullptr;
  const int n = static_cast<int>(list.size());
  auto it = std::find(list.begin(), list.end(), current);
  int start = it == list.end() ? (goForward ? n - 1 : 0) : static_cast<int>(it - list.begin());
  int i = start;
  for (int step = 0; step < n; ++step) {
    i = goForward ? (i + 1) % n : (i + n - 1) % n;
    TWinControl* c = list[static_cast<size_t>(i)];
    if (c == current) break;
    if ((!checkTabStop || c->tabStop_) && (!checkParent || c->parent_ == this) && c->CanFocus())
      return c;
  }
  return nullptr;
}

void TWinControl::SelectNext(TWinControl* current, bool goForward, bool checkTabStop) {
  if (TWinControl* c = FindNextControl(current, goForward, checkTabStop, !checkTabStop))
    c->SetFocus();
}

bool TWinControl::CanFocus() {
  TCustomForm* form = GetParentForm(this);
  if (!form || !form->Visible() || !form->Enabled()) return false;
  for (TWinControl* c = this; c && c != form; c = c->parent_)
    if (!c->visible_ || !c->enabled_) return false;
  return true;
}

void TWinControl::SetFocus() {
  if (TCustomForm* form = GetParentForm(this); form && form != this) {
    form->FocusControl(this);
    return;
  }
  if (TCustomForm* form = dynamic_cast<TCustomForm*>(this)) {
    if (form->Showing()) ::SetFocus(Handle());
    return;
  }
  ::SetFocus(Handle());
}

bool TWinControl::Focused() const { return handle_ && GetFocus() == handle_; }

void TWinControl::SetCtl3D(bool v) {
  if (v == ctl3D_) return;
  ctl3D_ = v;
  parentCtl3D_ = false;
  Perform(CM_CTL3DCHANGED);
}

void TWinControl::SetBorderWidth(int v) {
  if (v == borderWidth_) return;
  borderWidth_ = v;
  Realign();
  Invalidate();
}

void TWinControl::Invalidate() {
  if (handle_) InvalidateRect(handle_, nullptr, !controlStyle_.Contains(csOpaque));
}

void TWinControl::Update() {
  if (handle_) UpdateWindow(handle_);
}

void TWinControl::InitiateAction() {
  TControl::InitiateAction();
  for (TControl* c : std::vector<TControl*>(controls_))
    if (c->visible_) c->InitiateAction();
}

void TWinControl::Loaded() {
  TControl::Loaded();
  if (parent_ && parent_->showing_) UpdateShowing();
  Realign();
}

void TWinControl::DoEnter() {
  if (OnEnter) OnEnter(this);
}
void TWinControl::DoExit() {
  if (OnExit) OnExit(this);
}
void TWinControl::KeyDown(WORD& key, TShiftState shift) {
  if (OnKeyDown) OnKeyDown(this, key, shift);
}
void TWinControl::KeyUp(WORD& key, TShiftState shift) {
  if (OnKeyUp) OnKeyUp(this, key, shift);
}
void TWinControl::KeyPress(char16_t& key) {
  if (OnKeyPress) OnKeyPress(this, key);
}

bool TWinControl::DoKeyDown(WORD& key, TShiftState shift) {
  TCustomForm* form = GetParentForm(this);
  if (form && form != this && form->KeyPreview() && form->DoKeyDown(key, shift)) return true;
  KeyDown(key, shift);
  return key == 0;
}

bool TWinControl::DoKeyPress(char16_t& key) {
  TCustomForm* form = GetParentForm(this);
  if (form && form != this && form->KeyPreview() && form->DoKeyPress(key)) return true;
  KeyPress(key);
  return key == 0;
}

bool TWinControl::DialogKey(WORD key, LPARAM keyData) {
  DWORD wanted = 0;
  switch (key) {
    case VK_TAB:
      wanted = DLGC_WANTTAB | DLGC_WANTALLKEYS;
      break;
    case VK_LEFT:
    case VK_RIGHT:
    case VK_UP:
    case VK_DOWN:
      wanted = DLGC_WANTARROWS | DLGC_WANTALLKEYS;
      break;
    case VK_RETURN:
    case VK_ESCAPE:
    case VK_EXECUTE:
    case VK_CANCEL:
      wanted = DLGC_WANTALLKEYS;
      break;
    default:
      return false;
  }
  if (Perform(WM_GETDLGCODE, key, 0) & wanted) return false;
  TCustomForm* form = GetParentForm(this);
  return form && form->Perform(CM_DIALOGKEY, key, keyData) != 0;
}

void TWinControl::PaintWindow(HDC) {}

void TWinControl::PaintControls(HDC dc, TControl* first) {
  auto it = first ? std::find(controls_.begin(), controls_.end(), first) : controls_.begin();
  for (; it != controls_.end(); ++it) {
    TControl* c = *it;
    if (IsWindowed(c) || !(c->visible_ || c->IsDesigning())) continue;
    RECT r = c->BoundsRect();
    if (!RectVisible(dc, &r)) continue;
    const int saved = SaveDC(dc);
    POINT org{};
    GetViewportOrgEx(dc, &org);
    SetViewportOrgEx(dc, org.x + c->left_, org.y + c->top_, nullptr);
    IntersectClipRect(dc, 0, 0, c->width_, c->height_);
    c->Perform(WM_PAINT, reinterpret_cast<WPARAM>(dc), 0);
    RestoreDC(dc, saved);
  }
}

void TWinControl::PaintHandler(TMessage& m) {
  HDC given = reinterpret_cast<HDC>(m.WParam);
  PAINTSTRUCT ps{};
  HDC dc = given ? given : BeginPaint(handle_, &ps);
  auto paint = [&](HDC target) {
    PaintWindow(target);
    PaintControls(target, nullptr);
  };
  try {
    if (!given && doubleBuffered_) {
      RECT r = ClientRect();
      HDC mem = CreateCompatibleDC(dc);
      HBITMAP bmp = CreateCompatibleBitmap(dc, r.right, r.bottom);
      HGDIOBJ old = SelectObject(mem, bmp);
      Perform(WM_ERASEBKGND, reinterpret_cast<WPARAM>(mem), reinterpret_cast<LPARAM>(mem));
      paint(mem);
      BitBlt(dc, 0, 0, r.right, r.bottom, mem, 0, 0, SRCCOPY);
      SelectObject(mem, old);
      DeleteObject(bmp);
      DeleteDC(mem);
    } else {
      paint(dc);
    }
  } catch (...) {
    if (!given) EndPaint(handle_, &ps);
    throw;
  }
  if (!given) EndPaint(handle_, &ps);
}

void TWinControl::PaintTo(HDC dc, int x, int y) {
  const int saved = SaveDC(dc);
  POINT org{};
  GetViewportOrgEx(dc, &org);
  SetViewportOrgEx(dc, org.x + x, org.y + y, nullptr);
  IntersectClipRect(dc, 0, 0, width_, height_);
  Perform(WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(dc));
  Perform(WM_PAINT, reinterpret_cast<WPARAM>(dc), 0);
  for (TControl* c : controls_)
    if (auto* w = dynamic_cast<TWinControl*>(c); w && w->visible_)
      w->PaintTo(dc, w->left_, w->top_);
  RestoreDC(dc, saved);
}

void TWinControl::ChildMouse(TMessage& m) {
  TPoint p{GET_X_LPARAM(m.LParam), GET_Y_LPARAM(m.LParam)};
  TControl* target = nullptr;
  if (captureControl && captureControl->parent_ == this && !IsWindowed(captureControl))
    target = captureControl;
  else if (!captureControl || captureControl == this)
    target = ControlAtPos(p, false);
  if (m.Msg == WM_MOUSEMOVE) {
    SetMouseControl(target ? target : this);
    if (!trackingLeave_) {
      TRACKMOUSEEVENT tme{sizeof tme, TME_LEAVE, handle_, 0};
      trackingLeave_ = TrackMouseEvent(&tme) != FALSE;
    }
  }
  if (!target) {
    TControl::WndProc(m);
    return;
  }
  TMessage forwarded = m;
  forwarded.LParam =
      MAKELPARAM(static_cast<WORD>(p.x - target->left_), static_cast<WORD>(p.y - target->top_));
  target->WindowProc(forwarded);
  m.Result = forwarded.Result;
  DefaultHandler(m);
}

// Routes only: one line per message to its named handler. A handler that
// leaves a message to the inherited behaviour ends in TControl::WndProc.
void TWinControl::WndProc(TMessage& m) {
  switch (m.Msg) {
    case WM_SETFOCUS:
      return WMSetFocus(m);
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
      return WMKeyDown(m);
    case WM_KEYUP:
    case WM_SYSKEYUP:
      return WMKeyUp(m);
    case WM_CHAR:
      return WMChar(m);
    case WM_SYSCHAR:
      return WMSysChar(m);
    case WM_PAINT:
      return WMPaint(m);
    case WM_PRINTCLIENT:
      return WMPrintClient(m);
    case WM_ERASEBKGND:
      return WMEraseBkgnd(m);
    case WM_SETCURSOR:
      return WMSetCursor(m);
    case WM_CONTEXTMENU:
      return WMContextMenu(m);
    case WM_MOUSEWHEEL:
      return WMMouseWheel(m);
    case WM_MOUSEMOVE:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
    case WM_MBUTTONDBLCLK:
      return WMMouse(m);
    case WM_MOUSELEAVE:
      return WMMouseLeave(m);
    case WM_CAPTURECHANGED:
      return WMCaptureChanged(m);
    case WM_WINDOWPOSCHANGED:
      return WMWindowPosChanged(m);
    case WM_COMMAND:
      return WMCommand(m);
    case WM_SYSCOLORCHANGE:
      return WMSysColorChange(m);
    case CM_SYSCOLORCHANGE:
      return CMSysColorChange(m);
    case CM_ENTER:
      return CMEnter(m);
    case CM_EXIT:
      return CMExit(m);
    case CM_SHOWINGCHANGED:
      return CMShowingChanged(m);
    case CM_VISIBLECHANGED:
      return CMVisibleChanged(m);
    case CM_ENABLEDCHANGED:
      return CMEnabledChanged(m);
    case CM_COLORCHANGED:
      return CMColorChanged(m);
    case CM_FONTCHANGED:
      return CMFontChanged(m);
    case CM_TEXTCHANGED:
      return CMTextChanged(m);
    case CM_DIALOGKEY:
    case CM_DIALOGCHAR:
      return CMDialogKey(m);
    case CM_DOCKCLIENT:
      return CMDockClient(m);
    case CM_UNDOCKCLIENT:
      return CMUnDockClient(m);
    case CM_DOCKNOTIFICATION:
      return CMDockNotification(m);
    default:
      return TControl::WndProc(m);
  }
}

void TWinControl::WMSetFocus(TMessage& m) {
  DefaultHandler(m);
  if (TCustomForm* form = GetParentForm(this)) form->SetFocusedControl(this);
}

void TWinControl::WMKeyDown(TMessage& m) {
  WORD key = static_cast<WORD>(m.WParam);
  if (DoKeyDown(key, KeyboardShiftState())) return;
  if (m.Msg == WM_KEYDOWN && DialogKey(key, m.LParam)) return;
  m.WParam = key;
  TControl::WndProc(m);
}

void TWinControl::WMKeyUp(TMessage& m) {
  WORD key = static_cast<WORD>(m.WParam);
  KeyUp(key, KeyboardShiftState());
  if (key == 0) return;
  m.WParam = key;
  TControl::WndProc(m);
}

void TWinControl::WMChar(TMessage& m) {
  char16_t ch = static_cast<char16_t>(m.WParam);
  if (DoKeyPress(ch)) return;
  m.WParam = ch;
  TControl::WndProc(m);
}

void TWinControl::WMSysChar(TMessage& m) {
  if (TCustomForm* form = GetParentForm(this);
      form && form->Perform(CM_DIALOGCHAR, m.WParam, m.LParam))
    return;
  TControl::WndProc(m);
}

void TWinControl::WMPaint(TMessage& m) { PaintHandler(m); }

void TWinControl::WMMouse(TMessage& m) { ChildMouse(m); }

void TWinControl::CMDialogKey(TMessage& m) { Broadcast(m); }

void TWinControl::WMPrintClient(TMessage& m) {
  // Paints the client area into another's DC.
  HDC dc = reinterpret_cast<HDC>(m.WParam);
  if (m.LParam & PRF_ERASEBKGND) Perform(WM_ERASEBKGND, m.WParam, m.WParam);
  Perform(WM_PAINT, reinterpret_cast<WPARAM>(dc), 0);
}

void TWinControl::WMEraseBkgnd(TMessage& m) {
  if (!controlStyle_.Contains(csOpaque)) {
    RECT r = ClientRect();
    ::FillRect(reinterpret_cast<HDC>(m.WParam), &r, brush_->Handle());
  }
  m.Result = 1;
}

void TWinControl::WMSetCursor(TMessage& m) {
  if (LOWORD(m.LParam) == HTCLIENT && reinterpret_cast<HWND>(m.WParam) == handle_) {
    TCursor cursor = Screen ? Screen->Cursor() : crDefault;
    if (cursor == crDefault) {
      POINT p{};
      GetCursorPos(&p);
      ::ScreenToClient(handle_, &p);
      TControl* c = ControlAtPos(p, false);
      cursor = c ? c->Cursor() : Cursor();
    }
    if (cursor != crDefault && Screen) {
      ::SetCursor(Screen->Cursors(cursor));
      m.Result = 1;
      return;
    }
  }
  TControl::WndProc(m);
}

void TWinControl::WMContextMenu(TMessage& m) {
  TPoint pt{GET_X_LPARAM(m.LParam), GET_Y_LPARAM(m.LParam)};
  const bool fromKeyboard = pt.x == -1 && pt.y == -1;
  TPoint local = fromKeyboard ? Point(-1, -1) : ScreenToClient(pt);
  TControl* target = fromKeyboard ? nullptr : ControlAtPos(local, false);
  if (!target) target = this;
  if (target != this && !fromKeyboard)
    local = Point(local.x - target->left_, local.y - target->top_);
  bool handled = false;
  target->DoContextPopup(local, handled);
  if (handled) {
    m.Result = 1;
    return;
  }
  TPopupMenu* menu = target->PopupMenu() ? target->PopupMenu() : PopupMenu();
  if (menu && menu->AutoPopup()) {
    if (fromKeyboard) pt = ClientToScreen(Point(0, 0));
    SendCancelMode();
    menu->SetPopupComponent(target);
    menu->Popup(pt.x, pt.y);
    m.Result = 1;
    return;
  }
  TControl::WndProc(m);
}

void TWinControl::WMMouseWheel(TMessage& m) { Perform(CM_MOUSEWHEEL, m.WParam, m.LParam); }

void TWinControl::WMMouseLeave(TMessage& m) {
  trackingLeave_ = false;
  if (mouseControl == this ||
      (mouseControl && mouseControl->parent_ == this && !IsWindowed(mouseControl)))
    SetMouseControl(nullptr);
  TControl::WndProc(m);
}

void TWinControl::WMCaptureChanged(TMessage& m) {
  if (captureControl && reinterpret_cast<HWND>(m.LParam) != handle_ &&
      (captureControl == this || captureControl->parent_ == this))
    captureControl = nullptr;
  TControl::WndProc(m);
}

void TWinControl::WMWindowPosChanged(TMessage& m) {
  DefaultHandler(m);
  UpdateBounds();
}

void TWinControl::WMCommand(TMessage& m) {
  // A child window's notification goes back to its control.
  if (TWinControl* child = FindControl(reinterpret_cast<HWND>(m.LParam)); child && child != this) {
    m.Result = child->Perform(CN_COMMAND, m.WParam, m.LParam);
    return;
  }
  TControl::WndProc(m);
}

void TWinControl::WMSysColorChange(TMessage& m) {
  Perform(CM_SYSCOLORCHANGE);
  TControl::WndProc(m);
}

void TWinControl::CMSysColorChange(TMessage&) {
  brush_->SetColor(color_);
  NotifyControls(CM_SYSCOLORCHANGE);
  Invalidate();
}

void TWinControl::CMEnter(TMessage&) { DoEnter(); }

void TWinControl::CMExit(TMessage&) { DoExit(); }

void TWinControl::CMShowingChanged(TMessage&) {
  if (handle_)
    SetWindowPos(handle_, nullptr, 0, 0, 0, 0,
                 SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE |
                     (showing_ ? SWP_SHOWWINDOW : SWP_HIDEWINDOW));
}

void TWinControl::CMVisibleChanged(TMessage&) { UpdateShowing(); }

void TWinControl::CMEnabledChanged(TMessage&) {
  if (handle_) EnableWindow(handle_, enabled_);
  Invalidate();
}

void TWinControl::CMColorChanged(TMessage&) {
  brush_->SetColor(color_);
  NotifyControls(CM_PARENTCOLORCHANGED);
  Invalidate();
}

void TWinControl::CMFontChanged(TMessage&) {
  if (handle_) Perform(WM_SETFONT, reinterpret_cast<WPARAM>(font_->Handle()), 0);
  NotifyControls(CM_PARENTFONTCHANGED);
  Invalidate();
}

void TWinControl::CMTextChanged(TMessage&) { Invalidate(); }

void TWinControl::DefaultHandler(TMessage& m) {
  if (!handle_) return;
  // The library's own messages mean nothing to the system.
  if (m.Msg >= CM_BASE && m.Msg < CN_BASE + 0x400) return;
  m.Result = CallWindowProcW(defWndProc_, handle_, m.Msg, m.WParam, m.LParam);
}

// ---- TCustomEdit
CL_CLASS(TCustomEdit) {
  c.Bool("AutoSelect", &TCustomEdit::AutoSelect, &TCustomEdit::SetAutoSelect).Default(true);
  c.Enum("BorderStyle", &TCustomEdit::BorderStyle, &TCustomEdit::SetBorderStyle,
         &TypeInfo_TBorderStyle)
      .Default(TBorderStyle::bsSingle);
  c.Int("MaxLength", &TCustomEdit::MaxLength, &TCustomEdit::SetMaxLength).Default(0);
  c.Bool("ReadOnly", &TCustomEdit::ReadOnly, &TCustomEdit::SetReadOnly).Default(false);
  c.WStr("Text", &TCustomEdit::Text, &TCustomEdit::SetText);
  c.Event("OnChange", &TCustomEdit::OnChange, &TCustomEdit::OnChange);
}

TCustomEdit::TCustomEdit(TComponent* AOwner) : TWinControl(AOwner) {
  SetBounds(0, 0, 121, 21);
  SetTabStop(true);
  parentColor_ = false;
  color_ = clWindow;
  Brush()->SetColor(color_);
  controlStyle_ = {csClickEvents, csSetCaption, csDoubleClicks};
}

void TCustomEdit::CreateParams(TCreateParams& params) {
  TWinControl::CreateParams(params);
  CreateSubClass(params, L"EDIT");
  params.Style |= ES_AUTOHSCROLL | ES_AUTOVSCROLL;
  if (readOnly_) params.Style |= ES_READONLY;
  if (borderStyle_ == TBorderStyle::bsSingle) {
    if (Ctl3D())
      params.ExStyle |= WS_EX_CLIENTEDGE;
    else
      params.Style |= WS_BORDER;
  }
}

void TCustomEdit::CreateWnd() {
  creating_ = true;
  try {
    TWinControl::CreateWnd();
  } catch (...) {
    creating_ = false;
    throw;
  }
  creating_ = false;
  SendMessageW(handle_, EM_LIMITTEXT, static_cast<WPARAM>(maxLength_), 0);
}

void TCustomEdit::DestroyWnd() {
  // The text lives in the field while there is no window.
  if (handle_) StoreText(GetText());
  TWinControl::DestroyWnd();
}

std::u16string TCustomEdit::GetText() {
  if (!handle_) return Text();
  int n = GetWindowTextLengthW(handle_);
  std::u16string text(static_cast<size_t>(n) + 1, u'\0');
  n = GetWindowTextW(handle_, reinterpret_cast<wchar_t*>(text.data()), n + 1);
  text.resize(static_cast<size_t>(std::max(n, 0)));
  return text;
}

void TCustomEdit::SetText(const std::u16string& v) {
  if (v == GetText()) return;
  StoreText(v);
  // The window answers with EN_CHANGE, which tells OnChange.
  if (handle_) SetWindowTextW(handle_, WStr(v));
  Perform(CM_TEXTCHANGED);
}

void TCustomEdit::SetMaxLength(int v) {
  maxLength_ = std::max(v, 0);
  if (handle_) SendMessageW(handle_, EM_LIMITTEXT, static_cast<WPARAM>(maxLength_), 0);
}

void TCustomEdit::SetReadOnly(bool v) {
  readOnly_ = v;
  if (handle_) SendMessageW(handle_, EM_SETREADONLY, v, 0);
}

void TCustomEdit::SetBorderStyle(TBorderStyle v) {
  if (v == borderStyle_) return;
  borderStyle_ = v;
  RecreateWnd();
}

int TCustomEdit::SelStart() {
  DWORD start = 0;
  SendMessageW(Handle(), EM_GETSEL, reinterpret_cast<WPARAM>(&start), 0);
  return static_cast<int>(start);
}

int TCustomEdit::SelLength() {
  DWORD start = 0, end = 0;
  SendMessageW(Handle(), EM_GETSEL, reinterpret_cast<WPARAM>(&start),
               reinterpret_cast<LPARAM>(&end));
  return static_cast<int>(end - start);
}

void TCustomEdit::SetSelStart(int v) {
  SendMessageW(Handle(), EM_SETSEL, static_cast<WPARAM>(v), v);
}

void TCustomEdit::SetSelLength(int v) {
  const int start = SelStart();
  SendMessageW(Handle(), EM_SETSEL, static_cast<WPARAM>(start), start + v);
}

void TCustomEdit::SelectAll() { SendMessageW(Handle(), EM_SETSEL, 0, -1); }

void TCustomEdit::Change() {
  if (OnChange) OnChange(this);
}

void TCustomEdit::DoEnter() {
  if (autoSelect_ && !(GetKeyState(VK_LBUTTON) < 0)) SelectAll();
  TWinControl::DoEnter();
}

void TCustomEdit::WndProc(TMessage& m) {
  switch (m.Msg) {
    case CN_COMMAND:
      // EN_CHANGE from the window, reflected by the parent.
      if (HIWORD(m.WParam) == EN_CHANGE && !creating_) {
        StoreText(GetText());
        Change();
      }
      return;
    case WM_PAINT:
    case WM_ERASEBKGND:
      // The system paints its edit itself.
      DefaultHandler(m);
      return;
    default:
      break;
  }
  TWinControl::WndProc(m);
}

// ---- hints
std::u16string GetShortHint(const std::u16string& hint) {
  size_t bar = hint.find(u'|');
  return bar == std::u16string::npos ? hint : hint.substr(0, bar);
}

std::u16string GetLongHint(const std::u16string& hint) {
  size_t bar = hint.find(u'|');
  return bar == std::u16string::npos ? hint : hint.substr(bar + 1);
}

CL_CLASS(THintWindow) {}

THintWindow::THintWindow(TComponent* AOwner) : TCustomControl(AOwner) {
  visible_ = false;
  parentColor_ = false;
  parentFont_ = false;
  SetColor(clInfoBk);
  if (Screen) Font()->Assign(Screen->HintFont());
  Font()->SetColor(clInfoText);
}

void THintWindow::CreateParams(TCreateParams& params) {
  TCustomControl::CreateParams(params);
  params.Style = WS_POPUP | WS_BORDER;
  params.ExStyle = WS_EX_TOOLWINDOW | WS_EX_TOPMOST;
  params.WndParent = Application ? Application->Handle() : nullptr;
  params.WindowClass.style |= CS_SAVEBITS;
}

TRect THintWindow::CalcHintRect(int maxWidth, const std::u16string& hint, void*) {
  RECT r{0, 0, maxWidth, 0};
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, Font()->Handle());
  DrawTextW(dc, WStr(hint), static_cast<int>(hint.size()), &r,
            DT_CALCRECT | DT_LEFT | DT_WORDBREAK | DT_NOPREFIX);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  // Room for the border and a margin.
  r.right += 6;
  r.bottom += 4;
  return r;
}

void THintWindow::ActivateHint(TRect rect, const std::u16string& hint) {
  SetCaption(hint);
  UpdateBoundsRect(rect);
  SetWindowPos(Handle(), HWND_TOPMOST, rect.left, rect.top, rect.right - rect.left,
               rect.bottom - rect.top, SWP_SHOWWINDOW | SWP_NOACTIVATE);
  Invalidate();
  Update();
}

void THintWindow::ActivateHintData(TRect rect, const std::u16string& hint, void*) {
  ActivateHint(rect, hint);
}

bool THintWindow::IsHintMsg(const MSG& msg) {
  return (msg.message >= WM_KEYFIRST && msg.message <= WM_KEYLAST) ||
         msg.message == WM_LBUTTONDOWN || msg.message == WM_RBUTTONDOWN ||
         msg.message == WM_MBUTTONDOWN || msg.message == WM_NCLBUTTONDOWN ||
         msg.message == WM_NCRBUTTONDOWN || msg.message == WM_ACTIVATEAPP ||
         msg.message == WM_MOUSEWHEEL;
}

void THintWindow::Paint() {
  RECT r = ClientRect();
  Canvas()->Brush()->SetColor(Color());
  Canvas()->FillRect(r);
  Canvas()->Font()->Assign(Font());
  Canvas()->Brush()->SetStyle(TBrushStyle::bsClear);
  InflateRect(&r, -2, -1);
  const std::u16string& text = Caption();
  DrawTextW(Canvas()->Handle(), WStr(text), static_cast<int>(text.size()), &r,
            DT_LEFT | DT_WORDBREAK | DT_NOPREFIX);
}

// ---- TCustomControl
CL_CLASS(TCustomControl) {}

TCustomControl::TCustomControl(TComponent* AOwner)
    : TWinControl(AOwner), canvas_(New<TControlCanvas>(this)) {}

TCustomControl::~TCustomControl() { Free(canvas_); }

void TCustomControl::PaintWindow(HDC dc) {
  auto* canvas = static_cast<TControlCanvas*>(canvas_);
  canvas->Lock();
  canvas->FreeDC();
  canvas->SetHandle(dc);
  controlState_.Include(csCustomPaint);
  try {
    Paint();
  } catch (...) {
    controlState_.Exclude(csCustomPaint);
    canvas->SetHandle(nullptr);
    canvas->Unlock();
    throw;
  }
  controlState_.Exclude(csCustomPaint);
  canvas->SetHandle(nullptr);
  canvas->Unlock();
}

}  // namespace classlib

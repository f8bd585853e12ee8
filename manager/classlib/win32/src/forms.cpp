#include "classlib/forms.h"

#include <windowsx.h>

#include <algorithm>
#include <exception>
#include <memory>

#include "classlib/actions.h"
#include "classlib/dialogs.h"
#include "classlib/menus.h"
#include "classlib/resources.h"

namespace classlib {

const TTypeInfo TypeInfo_TFormBorderStyle =
    EnumTypeInfo("TFormBorderStyle",
                 {"bsNone", "bsSingle", "bsSizeable", "bsDialog", "bsToolWindow", "bsSizeToolWin"});
const TTypeInfo TypeInfo_TBorderIcon =
    EnumTypeInfo("TBorderIcon", {"biSystemMenu", "biMinimize", "biMaximize", "biHelp"});
const TTypeInfo TypeInfo_TBorderIcons = SetTypeInfo("TBorderIcons", &TypeInfo_TBorderIcon);
const TTypeInfo TypeInfo_TFormStyle =
    EnumTypeInfo("TFormStyle", {"fsNormal", "fsMDIChild", "fsMDIForm", "fsStayOnTop"});
const TTypeInfo TypeInfo_TPosition = EnumTypeInfo(
    "TPosition", {"poDesigned", "poDefault", "poDefaultPosOnly", "poDefaultSizeOnly",
                  "poScreenCenter", "poDesktopCenter", "poMainFormCenter", "poOwnerFormCenter"});
const TTypeInfo TypeInfo_TWindowState =
    EnumTypeInfo("TWindowState", {"wsNormal", "wsMinimized", "wsMaximized"});

TApplication* Application = nullptr;
TScreen* Screen = nullptr;

namespace {

TComponent* FindGlobalForm(std::string_view name) {
  if (!Screen) return nullptr;
  for (int i = 0; i < Screen->FormCount(); ++i)
    if (SameText(Screen->Forms(i)->Name(), name)) return Screen->Forms(i);
  return nullptr;
}

// The program's application and screen live as long as the process; they
// are not freed at exit, when the class tables may already be gone.
struct GlobalObjects {
  GlobalObjects() {
    Application = New<TApplication>(nullptr);
    Screen = New<TScreen>(nullptr);
    RegisterFindGlobalComponent(&FindGlobalForm);
  }
} globalObjects;

// Frame size of a window style: window size minus client size.
SIZE FrameSize(DWORD style, DWORD exStyle, bool menu) {
  RECT r{0, 0, 0, 0};
  AdjustWindowRectEx(&r, style, menu, exStyle);
  return SIZE{r.right - r.left, r.bottom - r.top};
}

}  // namespace

TCustomForm* GetOwnerForm(TComponent* component) {
  for (TComponent* c = component ? component->Owner() : nullptr; c; c = c->Owner())
    if (auto* f = dynamic_cast<TCustomForm*>(c)) return f;
  return nullptr;
}

void HandleCallbackException() {
  if (Application) {
    Application->HandleException(nullptr);
    return;
  }
  // No application to show it: nothing sensible remains but to drop it,
  // as an exception must not cross a system callback.
}

// ---- TCustomForm
CL_CLASS(TCustomForm) {
  c.Object("ActiveControl", &TCustomForm::ActiveControl, &TCustomForm::SetActiveControl);
  c.Set("BorderIcons", &TCustomForm::BorderIcons, &TCustomForm::SetBorderIcons,
        &TypeInfo_TBorderIcons)
      .Default(TBorderIcons{biSystemMenu, biMinimize, biMaximize});
  c.Enum("BorderStyle", &TCustomForm::BorderStyle, &TCustomForm::SetBorderStyle,
         &TypeInfo_TFormBorderStyle)
      .Default(TFormBorderStyle::bsSizeable);
  c.Int("ClientHeight", &TCustomForm::StoredClientHeight, &TCustomForm::SetClientHeight)
      .NoDefault();
  c.Int("ClientWidth", &TCustomForm::StoredClientWidth, &TCustomForm::SetClientWidth).NoDefault();
  c.Int("Color", &TCustomForm::Color, &TCustomForm::SetColor, &TypeInfo_TColor).Default(clBtnFace);
  c.Enum("FormStyle", &TCustomForm::FormStyle, &TCustomForm::SetFormStyle, &TypeInfo_TFormStyle)
      .Default(TFormStyle::fsNormal);
  c.Bool("KeyPreview", &TCustomForm::KeyPreview, &TCustomForm::SetKeyPreview).Default(false);
  c.Object("Menu", &TCustomForm::Menu, &TCustomForm::SetMenu);
  c.Int("PixelsPerInch", &TCustomForm::PixelsPerInch, &TCustomForm::SetPixelsPerInch).NoDefault();
  c.Enum("Position", &TCustomForm::Position, &TCustomForm::SetPosition, &TypeInfo_TPosition)
      .Default(TPosition::poDesigned);
  c.Int("TextHeight", &TCustomForm::TextHeight, &TCustomForm::SetTextHeight).NoDefault();
  c.Bool("Visible", &TCustomForm::Visible, &TCustomForm::SetVisible).Default(false);
  c.Enum("WindowState", &TCustomForm::WindowState, &TCustomForm::SetWindowState,
         &TypeInfo_TWindowState)
      .Default(TWindowState::wsNormal);
  c.Event("OnActivate", &TCustomForm::OnActivate, &TCustomForm::OnActivate);
  c.Event("OnClose", &TCustomForm::OnClose, &TCustomForm::OnClose);
  c.Event("OnCloseQuery", &TCustomForm::OnCloseQuery, &TCustomForm::OnCloseQuery);
  c.Event("OnCreate", &TCustomForm::OnCreate, &TCustomForm::OnCreate);
  c.Event("OnDeactivate", &TCustomForm::OnDeactivate, &TCustomForm::OnDeactivate);
  c.Event("OnDestroy", &TCustomForm::OnDestroy, &TCustomForm::OnDestroy);
  c.Event("OnHide", &TCustomForm::OnHide, &TCustomForm::OnHide);
  c.Event("OnPaint", &TCustomForm::OnPaint, &TCustomForm::OnPaint);
  c.Event("OnShow", &TCustomForm::OnShow, &TCustomForm::OnShow);
}

TCustomForm::TCustomForm(TComponent* AOwner)
    : TWinControl(AOwner), canvas_(New<TControlCanvas>(this)) {
  visible_ = false;
  parentColor_ = false;
  parentFont_ = false;
  color_ = clBtnFace;
  Brush()->SetColor(color_);
  width_ = 320;
  height_ = 240;
  controlStyle_ = {csAcceptsControls, csCaptureMouse, csClickEvents, csSetCaption, csDoubleClicks};
  if (Screen) Screen->forms_.push_back(this);
}

TCustomForm::TCustomForm(TComponent* AOwner, int) : TCustomForm(AOwner) { createNew_ = true; }

TCustomForm::~TCustomForm() { Free(canvas_); }

void TCustomForm::AfterConstruction() {
  TWinControl::AfterConstruction();
  formState_.Include(fsCreating);
  try {
    if (!createNew_) {
      std::u16string resName = AsciiToWide(UpperCase(ClassName()));
      // Only a class of its own needs a stored form.
      if (!ReadComponentRes(resName, this) && ClassType() != TForm::StaticClass() &&
          ClassType() != TCustomForm::StaticClass())
        throw EResNotFound(Format(u"Resource %s not found", {resName}));
    }
  } catch (...) {
    formState_.Exclude(fsCreating);
    throw;
  }
  formState_.Exclude(fsCreating);
  DoCreate();
  if (visible_) UpdateShowing();
}

void TCustomForm::BeforeDestruction() {
  if (!IsDestroying()) {
    try {
      DoDestroy();
    } catch (...) {
      HandleCallbackException();
    }
  }
  if (Screen) {
    auto& f = Screen->forms_;
    f.erase(std::remove(f.begin(), f.end(), this), f.end());
  }
  TWinControl::BeforeDestruction();
  if (Application && Application->mainForm_ == this) Application->mainForm_ = nullptr;
}

void TCustomForm::DoCreate() {
  try {
    if (OnCreate) OnCreate(this);
  } catch (...) {
    HandleCallbackException();
  }
}

void TCustomForm::DoDestroy() {
  if (OnDestroy) OnDestroy(this);
}
void TCustomForm::DoShow() {
  if (OnShow) OnShow(this);
}
void TCustomForm::DoHide() {
  if (OnHide) OnHide(this);
}
void TCustomForm::DoClose(TCloseAction& action) {
  if (OnClose) OnClose(this, action);
}
void TCustomForm::Activate() {
  if (OnActivate) OnActivate(this);
}
void TCustomForm::Deactivate() {
  if (OnDeactivate) OnDeactivate(this);
}

void TCustomForm::SetParent(TWinControl* parent) {
  // Between a top-level and a child window the style changes: a new window.
  if (handle_ != nullptr && (parent == nullptr) != (parent_ == nullptr)) DestroyHandle();
  TWinControl::SetParent(parent);
}

void TCustomForm::CreateParams(TCreateParams& p) {
  TWinControl::CreateParams(p);
  if (parent_ != nullptr) {
    // Docked: a plain child of its site, without a frame.
    p.Style = WS_CHILD | WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
    p.WndParent = parent_->Handle();
    p.WindowClass.style |= CS_DBLCLKS;
    return;
  }
  p.Style = WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
  p.WndParent = Application && Application->Handle() ? Application->Handle() : nullptr;
  switch (borderStyle_) {
    case TFormBorderStyle::bsNone:
      p.Style |= WS_POPUP;
      break;
    case TFormBorderStyle::bsSingle:
      p.Style |= WS_CAPTION | WS_BORDER;
      break;
    case TFormBorderStyle::bsSizeable:
      p.Style |= WS_CAPTION | WS_THICKFRAME;
      break;
    case TFormBorderStyle::bsDialog:
      p.Style |= WS_POPUP | WS_CAPTION;
      p.ExStyle |= WS_EX_DLGMODALFRAME | WS_EX_WINDOWEDGE;
      break;
    case TFormBorderStyle::bsToolWindow:
      p.Style |= WS_CAPTION;
      p.ExStyle |= WS_EX_TOOLWINDOW;
      break;
    case TFormBorderStyle::bsSizeToolWin:
      p.Style |= WS_CAPTION | WS_THICKFRAME;
      p.ExStyle |= WS_EX_TOOLWINDOW;
      break;
  }
  if (borderStyle_ != TFormBorderStyle::bsNone) {
    if (borderIcons_.Contains(biSystemMenu)) p.Style |= WS_SYSMENU;
    const bool dialogLike = borderStyle_ == TFormBorderStyle::bsDialog ||
                            borderStyle_ == TFormBorderStyle::bsToolWindow ||
                            borderStyle_ == TFormBorderStyle::bsSizeToolWin;
    if (!dialogLike && borderIcons_.Contains(biMinimize)) p.Style |= WS_MINIMIZEBOX;
    if (!dialogLike && borderIcons_.Contains(biMaximize)) p.Style |= WS_MAXIMIZEBOX;
    if (borderIcons_.Contains(biHelp)) p.ExStyle |= WS_EX_CONTEXTHELP;
  }
  if (formStyle_ == TFormStyle::fsStayOnTop) p.ExStyle |= WS_EX_TOPMOST;
  p.WindowClass.style |= CS_DBLCLKS;
}

void TCustomForm::CreateWnd() {
  TWinControl::CreateWnd();
  if (menu_) ::SetMenu(handle_, menu_->Handle());
}

void TCustomForm::PaintWindow(HDC dc) {
  if (!OnPaint) return;
  auto* canvas = static_cast<TControlCanvas*>(canvas_);
  canvas->Lock();
  canvas->FreeDC();
  canvas->SetHandle(dc);
  try {
    OnPaint(this);
  } catch (...) {
    canvas->SetHandle(nullptr);
    canvas->Unlock();
    throw;
  }
  canvas->SetHandle(nullptr);
  canvas->Unlock();
}

TRect TCustomForm::ClientRect() {
  if (handle_) return TWinControl::ClientRect();
  TCreateParams p;
  CreateParams(p);
  SIZE f = FrameSize(p.Style, p.ExStyle, menu_ != nullptr);
  return Rect(0, 0, std::max<int>(width_ - f.cx, 0), std::max<int>(height_ - f.cy, 0));
}

void TCustomForm::SetClientWidth(int v) { SetWidth(width_ - ClientWidth() + v); }

void TCustomForm::SetClientHeight(int v) { SetHeight(height_ - ClientHeight() + v); }

void TCustomForm::SetBorderStyle(TFormBorderStyle v) {
  if (v == borderStyle_) return;
  // Keep the client size across the frame change.
  const TRect client = ClientRect();
  borderStyle_ = v;
  if (!IsLoading()) {
    SetClientWidth(client.right);
    SetClientHeight(client.bottom);
    RecreateWnd();
  }
}

void TCustomForm::SetBorderIcons(TBorderIcons v) {
  if (v == borderIcons_) return;
  borderIcons_ = v;
  if (!IsLoading()) RecreateWnd();
}

void TCustomForm::SetFormStyle(TFormStyle v) {
  if (v == formStyle_) return;
  formStyle_ = v;
  if (handle_)
    SetWindowPos(handle_, v == TFormStyle::fsStayOnTop ? HWND_TOPMOST : HWND_NOTOPMOST, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void TCustomForm::SetWindowState(TWindowState v) {
  if (v == windowState_) return;
  windowState_ = v;
  if (handle_ && showing_) {
    static const int kShow[] = {SW_SHOWNORMAL, SW_MINIMIZE, SW_SHOWMAXIMIZED};
    ShowWindow(handle_, kShow[static_cast<int>(v)]);
  }
}

void TCustomForm::SetMenu(TMainMenu* v) {
  if (menu_) menu_->RemoveFreeNotification(this);
  menu_ = v;
  if (v) v->FreeNotification(this);
  if (handle_) ::SetMenu(handle_, v ? v->Handle() : nullptr);
}

void TCustomForm::SetActiveControl(TWinControl* c) {
  if (c == activeControl_) return;
  if (c && (c == this || GetParentForm(c) != this))
    throw EInvalidOperation(u"Invalid active control");
  activeControl_ = c;
  if (c && !IsLoading() && active_ && c->CanFocus()) c->SetFocus();
}

void TCustomForm::FocusControl(TWinControl* c) {
  activeControl_ = c;
  if (!showing_ || !c->CanFocus()) return;
  ::SetFocus(c->Handle());
}

bool TCustomForm::SetFocusedControl(TWinControl* c) {
  if (c == focusedControl_) return false;
  TWinControl* old = focusedControl_;
  focusedControl_ = c;
  if (c != this) activeControl_ = c;
  if (old && old != this) old->Perform(CM_EXIT);
  if (c && c != this && focusedControl_ == c) c->Perform(CM_ENTER);
  return true;
}

TRect TCustomForm::MonitorRect() {
  HMONITOR mon = MonitorFromWindow(Handle(), MONITOR_DEFAULTTONEAREST);
  MONITORINFO info{};
  info.cbSize = sizeof info;
  GetMonitorInfoW(mon, &info);
  return info.rcMonitor;
}

void TCustomForm::ApplyPosition() {
  auto centreIn = [this](const TRect& r) {
    SetBounds(r.left + (r.right - r.left - width_) / 2, r.top + (r.bottom - r.top - height_) / 2,
              width_, height_);
  };
  switch (position_) {
    case TPosition::poScreenCenter:
    case TPosition::poDesktopCenter:
      centreIn(Screen->WorkAreaRect());
      break;
    case TPosition::poMainFormCenter:
    case TPosition::poOwnerFormCenter: {
      TCustomForm* other = position_ == TPosition::poMainFormCenter
                               ? Application->MainForm()
                               : dynamic_cast<TCustomForm*>(Owner());
      if (other && other != this && other->HandleAllocated())
        centreIn(other->BoundsRect());
      else
        centreIn(Screen->WorkAreaRect());
      break;
    }
    default:
      break;
  }
}

void TCustomForm::ShowingChanged(TMessage&) {
  if (parent_ != nullptr) {
    // Docked: shown and hidden like any child window.
    if (showing_)
      DoShow();
    else
      DoHide();
    ShowWindow(handle_, showing_ ? SW_SHOWNA : SW_HIDE);
    return;
  }
  if (showing_) {
    if (!positioned_) {
      positioned_ = true;
      ApplyPosition();
    }
    DoShow();
    static const int kShow[] = {SW_SHOWNORMAL, SW_SHOWMINIMIZED, SW_SHOWMAXIMIZED};
    ShowWindow(handle_, kShow[static_cast<int>(windowState_)]);
    if (Application) Application->FormShown(this);
    if (activeControl_ && activeControl_->CanFocus())
      ::SetFocus(activeControl_->Handle());
    else if (TWinControl* first = FindNextControl(nullptr, true, true, false))
      first->SetFocus();
  } else {
    DoHide();
    SetWindowPos(handle_, nullptr, 0, 0, 0, 0,
                 SWP_HIDEWINDOW | SWP_NOACTIVATE | SWP_NOZORDER | SWP_NOMOVE | SWP_NOSIZE);
  }
}

void TCustomForm::Close() {
  if (formState_.Contains(fsModal)) {
    modalResult_ = mrCancel;
    return;
  }
  if (!CloseQuery()) return;
  TCloseAction action = TCloseAction::caHide;
  DoClose(action);
  if (action == TCloseAction::caNone) return;
  if (Application && Application->MainForm() == this) {
    Application->Terminate();
    return;
  }
  switch (action) {
    case TCloseAction::caHide:
      Hide();
      break;
    case TCloseAction::caMinimize:
      SetWindowState(TWindowState::wsMinimized);
      break;
    case TCloseAction::caFree:
      Release();
      break;
    default:
      break;
  }
}

bool TCustomForm::CloseQuery() {
  bool canClose = true;
  if (OnCloseQuery) OnCloseQuery(this, canClose);
  return canClose;
}

void TCustomForm::CloseModal() {
  TCloseAction action = TCloseAction::caNone;
  if (CloseQuery()) {
    action = TCloseAction::caHide;
    DoClose(action);
  }
  switch (action) {
    case TCloseAction::caNone:
      modalResult_ = mrNone;
      break;
    case TCloseAction::caFree:
      Release();
      break;
    default:
      break;
  }
}

void TCustomForm::Release() { PostMessageW(Handle(), CM_RELEASE, 0, 0); }

void TCustomForm::GetChildren(const TGetChildProc& proc, TComponent* root) {
  // The owned list first (the component's own walk), then the controls.
  TComponent::GetChildren(proc, root);  // NOLINT(bugprone-parent-virtual-call)
  TWinControl::GetChildren(proc, root);
}

namespace {
struct DisabledWindows {
  HWND keep;
  std::vector<HWND> list;
};
BOOL CALLBACK DisableWindow(HWND wnd, LPARAM lp) {
  auto* d = reinterpret_cast<DisabledWindows*>(lp);
  if (wnd != d->keep && IsWindowVisible(wnd) && IsWindowEnabled(wnd)) {
    d->list.push_back(wnd);
    EnableWindow(wnd, FALSE);
  }
  return TRUE;
}
}  // namespace

int TCustomForm::ShowModal() {
  if (Visible() || !Enabled() || formState_.Contains(fsModal))
    throw EInvalidOperation(u"Cannot make a visible window modal");
  if (HWND captured = GetCapture()) SendMessageW(captured, WM_CANCELMODE, 0, 0);
  ReleaseCapture();
  HandleNeeded();
  formState_.Include(fsModal);
  HWND activeWindow = GetActiveWindow();
  DisabledWindows disabled{handle_, {}};
  EnumThreadWindows(GetCurrentThreadId(), &DisableWindow, reinterpret_cast<LPARAM>(&disabled));
  const TCursor savedCursor = Screen->Cursor();
  Screen->SetCursor(crDefault);
  auto restore = [&] {
    for (HWND w : disabled.list)
      if (IsWindow(w)) EnableWindow(w, TRUE);
    Screen->SetCursor(savedCursor);
    formState_.Exclude(fsModal);
    if (activeWindow && IsWindow(activeWindow)) SetActiveWindow(activeWindow);
  };
  int result;
  try {
    Show();
    modalResult_ = mrNone;
    do {
      try {
        Application->HandleMessage();
      } catch (...) {
        Application->HandleException(this);
      }
      if (Application->Terminated())
        modalResult_ = mrCancel;
      else if (modalResult_ != mrNone)
        CloseModal();
    } while (modalResult_ == mrNone);
    result = modalResult_;
    // Other windows come back before this one hides, so activation stays
    // in the program.
    for (HWND w : disabled.list)
      if (IsWindow(w)) EnableWindow(w, TRUE);
    disabled.list.clear();
    Hide();
  } catch (...) {
    restore();
    throw;
  }
  restore();
  return result;
}

void TCustomForm::BringToFront() {
  if (handle_) SetForegroundWindow(handle_);
}

void TCustomForm::UpdateActions() {
  if (IsDesigning()) return;
  for (int i = 0; i < ComponentCount(); ++i)
    if (auto* list = dynamic_cast<TCustomActionList*>(Components(i))) list->UpdateActions();
  InitiateAction();
}

bool TCustomForm::DoKeyDown(WORD& key, TShiftState shift) {
  KeyDown(key, shift);
  return key == 0;
}

bool TCustomForm::DoKeyPress(char16_t& key) {
  KeyPress(key);
  return key == 0;
}

void TCustomForm::WndProc(TMessage& m) {
  switch (m.Msg) {
    case CM_SHOWINGCHANGED:
      ShowingChanged(m);
      return;
    case CM_RELEASE:
      Free(this);
      return;
    case WM_CLOSE:
      Close();
      return;
    case WM_ACTIVATE:
      DefaultHandler(m);
      active_ = LOWORD(m.WParam) != WA_INACTIVE;
      if (active_) {
        Activate();
        if (activeControl_ && activeControl_->CanFocus() && !IsIconic(handle_))
          ::SetFocus(activeControl_->Handle());
      } else {
        Deactivate();
      }
      return;
    case WM_SYSCOMMAND:
      // The main form minimises the whole program.
      if ((m.WParam & 0xFFF0) == SC_MINIMIZE && Application && Application->MainForm() == this) {
        Application->Minimize();
        return;
      }
      break;
    case WM_GETMINMAXINFO: {
      DefaultHandler(m);
      auto* info = reinterpret_cast<MINMAXINFO*>(m.LParam);
      if (constraints_->MinWidth()) info->ptMinTrackSize.x = constraints_->MinWidth();
      if (constraints_->MinHeight()) info->ptMinTrackSize.y = constraints_->MinHeight();
      if (constraints_->MaxWidth()) info->ptMaxTrackSize.x = constraints_->MaxWidth();
      if (constraints_->MaxHeight()) info->ptMaxTrackSize.y = constraints_->MaxHeight();
      return;
    }
    case WM_SIZE:
      DefaultHandler(m);
      if (m.WParam == SIZE_MINIMIZED)
        windowState_ = TWindowState::wsMinimized;
      else if (m.WParam == SIZE_MAXIMIZED)
        windowState_ = TWindowState::wsMaximized;
      else if (m.WParam == SIZE_RESTORED)
        windowState_ = TWindowState::wsNormal;
      return;
    case WM_SETFOCUS:
      DefaultHandler(m);
      // The form itself has the focus: pass it on to its active control.
      if (activeControl_ && activeControl_ != this && activeControl_->CanFocus())
        ::SetFocus(activeControl_->Handle());
      else
        SetFocusedControl(this);
      return;
    case WM_COMMAND:
      if (menu_ && HIWORD(m.WParam) == 0 && m.LParam == 0 &&
          menu_->DispatchCommand(LOWORD(m.WParam)))
        return;
      break;
    case CM_DIALOGKEY:
      if (GetKeyState(VK_MENU) >= 0 && m.WParam == VK_TAB && GetKeyState(VK_CONTROL) >= 0) {
        SelectNext(activeControl_, GetKeyState(VK_SHIFT) >= 0, true);
        m.Result = 1;
        return;
      }
      break;
    default:
      break;
  }
  TWinControl::WndProc(m);
}

CL_CLASS(TForm) {}

// ---- TScreen
CL_CLASS(TScreen) {}

TScreen::TScreen(TComponent* AOwner) : TComponent(AOwner), hintFont_(New<TFont>()) {
  struct Std {
    TCursor id;
    LPCWSTR res;
  };
  static const Std kStd[] = {
      {crDefault, IDC_ARROW},
      {crArrow, IDC_ARROW},
      {crCross, IDC_CROSS},
      {crIBeam, IDC_IBEAM},
      {crSizeNESW, IDC_SIZENESW},
      {crSizeNS, IDC_SIZENS},
      {crSizeNWSE, IDC_SIZENWSE},
      {crSizeWE, IDC_SIZEWE},
      {crUpArrow, IDC_UPARROW},
      {crHourGlass, IDC_WAIT},
      {crDrag, IDC_ARROW},
      {crNoDrop, IDC_NO},
      {crHSplit, IDC_SIZEWE},
      {crVSplit, IDC_SIZENS},
      {crMultiDrag, IDC_ARROW},
      {crSQLWait, IDC_WAIT},
      {crNo, IDC_NO},
      {crAppStart, IDC_APPSTARTING},
      {crHelp, IDC_HELP},
      {crHandPoint, IDC_HAND},
      {crSizeAll, IDC_SIZEALL},
  };
  for (const Std& s : kStd) cursors_.emplace_back(s.id, LoadCursorW(nullptr, s.res));
  cursors_.emplace_back(crNone, nullptr);
  HDC dc = GetDC(nullptr);
  pixelsPerInch_ = GetDeviceCaps(dc, LOGPIXELSY);
  ReleaseDC(nullptr, dc);
  NONCLIENTMETRICSW ncm{};
  ncm.cbSize = sizeof ncm;
  if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof ncm, &ncm, 0)) {
    HFONT f = CreateFontIndirectW(&ncm.lfStatusFont);
    hintFont_->SetHandle(f);
    DeleteObject(f);
  }
}

TScreen::~TScreen() { Free(hintFont_); }

HCURSOR TScreen::Cursors(TCursor id) const {
  for (const auto& c : cursors_)
    if (c.first == id) return c.second;
  return cursors_.front().second;
}

void TScreen::SetCursors(TCursor id, HCURSOR cursor) {
  for (auto& c : cursors_)
    if (c.first == id) {
      c.second = cursor;
      return;
    }
  cursors_.emplace_back(id, cursor);
}

void TScreen::SetCursor(TCursor v) {
  if (v == cursor_) return;
  cursor_ = v;
  if (v != crDefault) {
    ::SetCursor(Cursors(v));
    return;
  }
  // Back to the controls' own cursors: let the window under the mouse choose.
  POINT p{};
  GetCursorPos(&p);
  HWND w = WindowFromPoint(p);
  if (w && GetWindowThreadProcessId(w, nullptr) == GetCurrentThreadId()) {
    LRESULT hit = SendMessageW(w, WM_NCHITTEST, 0, MAKELPARAM(p.x, p.y));
    SendMessageW(w, WM_SETCURSOR, reinterpret_cast<WPARAM>(w), MAKELPARAM(hit, WM_MOUSEMOVE));
  }
}

TRect TScreen::WorkAreaRect() const {
  RECT r{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &r, 0);
  return r;
}

TCustomForm* TScreen::ActiveForm() const {
  HWND active = GetActiveWindow();
  for (TCustomForm* f : forms_)
    if (f->HandleAllocated() && f->Handle() == active) return f;
  return nullptr;
}

TWinControl* TScreen::ActiveControl() const {
  TCustomForm* f = ActiveForm();
  return f ? f->ActiveControl() : nullptr;
}

TPoint TScreen::CursorPos() const {
  POINT p{};
  GetCursorPos(&p);
  return p;
}

// ---- TApplication
CL_CLASS(TApplication) {}

TApplication::TApplication(TComponent* AOwner) : TComponent(AOwner) {
  std::u16string name = classlib::ExeName();
  size_t slash = name.find_last_of(u"\\/");
  name = slash == std::u16string::npos ? name : name.substr(slash + 1);
  size_t dot = name.find_last_of(u'.');
  title_ = dot == std::u16string::npos ? name : name.substr(0, dot);
}

TApplication::~TApplication() {
  Free(hintWindow_);
  if (handle_) DestroyWindow(handle_);
}

LRESULT CALLBACK TApplication::AppWindowProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* app = reinterpret_cast<TApplication*>(GetWindowLongPtrW(wnd, GWLP_USERDATA));
  if (!app) return DefWindowProcW(wnd, msg, wp, lp);
  TMessage m{msg, wp, lp, 0};
  try {
    // Hooks see every message first.
    auto hooks = app->hooks_;
    for (auto& h : hooks)
      if (h.second(m)) return m.Result;
    app->AppWndProc(m);
  } catch (...) {
    HandleCallbackException();
  }
  return m.Result;
}

namespace {
const UINT_PTR kHintShowTimer = 0x4801, kHintHideTimer = 0x4802;
}

TClass TApplication::HintWindowClass = THintWindow::StaticClass();

void TApplication::AppWndProc(TMessage& m) {
  auto def = [&] { m.Result = DefWindowProcW(handle_, m.Msg, m.WParam, m.LParam); };
  switch (m.Msg) {
    case WM_TIMER:
      if (m.WParam == kHintShowTimer || m.WParam == kHintHideTimer) {
        HintTimerExpired(m.WParam);
        return;
      }
      def();
      return;
    case WM_SYSCOMMAND:
      switch (m.WParam & 0xFFF0) {
        case SC_MINIMIZE:
          Minimize();
          return;
        case SC_RESTORE:
          Restore();
          return;
        case SC_CLOSE:
          if (mainForm_) mainForm_->Close();
          return;
        default:
          def();
          return;
      }
    case WM_CLOSE:
      if (mainForm_) mainForm_->Close();
      return;
    case WM_ACTIVATEAPP:
      active_ = m.WParam != 0;
      def();
      return;
    case WM_SETFOCUS: {
      // The program's button was pressed: the last active form takes over.
      HWND popup = GetLastActivePopup(handle_);
      if (popup && popup != handle_ && IsWindowVisible(popup) && IsWindowEnabled(popup))
        ::SetFocus(popup);
      return;
    }
    case WM_QUERYENDSESSION:
      m.Result = 1;
      return;
    default:
      def();
      return;
  }
}

void TApplication::Initialize() {
  if (handle_) return;
  static const wchar_t kClass[] = L"TApplication";
  WNDCLASSW wc{};
  if (!GetClassInfoW(HInstance(), kClass, &wc)) {
    wc.lpfnWndProc = &TApplication::AppWindowProc;
    wc.hInstance = HInstance();
    wc.hIcon = LoadIconW(HInstance(), L"MAINICON");
    if (!wc.hIcon) wc.hIcon = LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
    wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    wc.lpszClassName = kClass;
    if (!RegisterClassW(&wc)) RaiseLastOSError();
  }
  // Zero-sized: the window exists for its task-bar button only.
  handle_ = CreateWindowExW(0, kClass, WStr(title_),
                            WS_POPUP | WS_CAPTION | WS_CLIPSIBLINGS | WS_SYSMENU | WS_MINIMIZEBOX,
                            GetSystemMetrics(SM_CXSCREEN) / 2, GetSystemMetrics(SM_CYSCREEN) / 2, 0,
                            0, nullptr, nullptr, HInstance(), nullptr);
  if (!handle_) RaiseLastOSError();
  SetWindowLongPtrW(handle_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

void TApplication::SetTitle(const std::u16string& v) {
  title_ = v;
  if (handle_) SetWindowTextW(handle_, WStr(v));
}

TCustomForm* TApplication::CreateForm(TFormClass cls) {
  if (!cls || !cls->InheritsFrom(TCustomForm::StaticClass()))
    throw EInvalidOperation(u"CreateForm needs a form class");
  auto* form = static_cast<TCustomForm*>(cls->Create(this));
  if (!mainForm_) mainForm_ = form;
  return form;
}

void TApplication::FormShown(TCustomForm* form) {
  if (form == mainForm_ && handle_ && !IsWindowVisible(handle_))
    ShowWindow(handle_, SW_SHOWNOACTIVATE);
}

void TApplication::Run() {
  if (mainForm_ && showMainForm_) mainForm_->Show();
  while (!terminated_) {
    try {
      HandleMessage();
    } catch (...) {
      HandleException(this);
    }
  }
}

bool TApplication::ProcessMessage(MSG& msg) {
  if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) return false;
  if (msg.message == WM_QUIT) {
    terminated_ = true;
    return true;
  }
  if (hintShowing_ && hintWindow_ && hintWindow_->IsHintMsg(msg)) CancelHint();
  if (DragMessage(msg)) return true;
  TranslateMessage(&msg);
  DispatchMessageW(&msg);
  return true;
}

void TApplication::HandleMessage() {
  MSG msg;
  if (!ProcessMessage(msg)) Idle();
}

void TApplication::Idle() {
  try {
    UpdateActions();
  } catch (...) {
    HandleException(this);
  }
  if (!terminated_) WaitMessage();
}

void TApplication::ProcessMessages() {
  MSG msg;
  while (ProcessMessage(msg)) {
  }
  UpdateActions();
}

void TApplication::UpdateActions() {
  if (actionPass_) return;  // a handler of the pass pumped messages
  actionPass_ = ++passCounter_;
  if (actionPass_ == 0) actionPass_ = ++passCounter_;
  struct End {
    unsigned& pass;
    ~End() { pass = 0; }
  } end{actionPass_};
  for (int i = 0; Screen && i < Screen->FormCount(); ++i) {
    TCustomForm* f = Screen->Forms(i);
    if (f->Visible() && f->Enabled()) f->UpdateActions();
  }
}

void TApplication::Terminate() {
  terminated_ = true;
  PostQuitMessage(0);
}

void TApplication::HandleException(TObject*) {
  // Only meaningful inside a handler: outside one there is nothing to show.
  if (handlingException_ || !std::current_exception()) return;
  handlingException_ = true;
  struct Reset {
    bool& b;
    ~Reset() { b = false; }
  } reset{handlingException_};
  try {
    throw;
  } catch (const std::exception& e) {
    ShowException(e);
  } catch (...) {
    // Not one of ours and without a text: nothing to show.
  }
}

void TApplication::ShowException(const std::exception& e) {
  std::u16string text;
  if (auto* ex = dynamic_cast<const Exception*>(&e))
    text = ex->Message();
  else
    text = Utf8ToWide(e.what());
  if (!text.empty() && text.back() > u'.') text += u'.';
  MessageBox(text, title_, MB_OK | MB_ICONSTOP);
}

int TApplication::MessageBox(const std::u16string& text, const std::u16string& caption,
                             UINT flags) {
  HWND owner = nullptr;
  if (TCustomForm* f = Screen ? Screen->ActiveForm() : nullptr) owner = f->Handle();
  if (!owner && handle_) owner = handle_;
  return ShowMessageBox(owner, text, caption, flags);
}

void TApplication::Minimize() {
  if (!handle_ || IsIconic(handle_)) return;
  ShowWindow(handle_, SW_MINIMIZE);
}

void TApplication::Restore() {
  if (!handle_ || !IsIconic(handle_)) return;
  ShowWindow(handle_, SW_RESTORE);
  if (mainForm_ && mainForm_->HandleAllocated() && mainForm_->Visible())
    SetActiveWindow(mainForm_->Handle());
}

void TApplication::BringToFront() {
  if (!handle_) return;
  HWND popup = GetLastActivePopup(handle_);
  if (popup && IsWindowVisible(popup) && IsWindowEnabled(popup)) SetForegroundWindow(popup);
}

HINSTANCE TApplication::Instance() const { return HInstance(); }
std::u16string TApplication::ExeName() const { return classlib::ExeName(); }

void TApplication::HookMainWindow(const TWindowHook& hook, const void* id) {
  UnhookMainWindow(id);
  hooks_.emplace_back(id, hook);
}

void TApplication::UnhookMainWindow(const void* id) {
  hooks_.erase(
      std::remove_if(hooks_.begin(), hooks_.end(), [id](const auto& h) { return h.first == id; }),
      hooks_.end());
}

// ---- hints
void TApplication::SetShowHint(bool v) {
  if (v == showHint_) return;
  showHint_ = v;
  CancelHint();
  // The next hint gets a new window.
  FreeAndNil(hintWindow_);
}

void TApplication::HintControlLeft(TControl* control) {
  if (control && control == hintControl_) CancelHint();
}

void TApplication::HintMouseMessage(TControl* control, TMessage& message) {
  if (!showHint_ || !handle_ || (message.Msg != WM_MOUSEMOVE && message.Msg != WM_NCMOUSEMOVE))
    return;
  POINT screen{};
  GetCursorPos(&screen);
  const bool wants =
      control && control->ShowHint() && !control->Hint().empty() && !control->IsDesigning();
  if (wants && control == hintControl_) {
    TPoint local = control->ScreenToClient(screen);
    if (PtInRect(hintCursorRect_, local)) return;  // still the same hint
  }
  const bool wasShowing = hintShowing_;
  HideHint();
  hintControl_ = wants ? control : nullptr;
  if (!hintControl_) return;
  hintCursorRect_ = control->ClientRect();
  int pause = wasShowing ? hintShortPause_ : hintPause_;
  control->Perform(CM_HINTSHOWPAUSE, wasShowing ? 1 : 0, reinterpret_cast<LPARAM>(&pause));
  SetTimer(handle_, kHintShowTimer, static_cast<UINT>(std::max(pause, 1)), nullptr);
}

void TApplication::HintTimerExpired(UINT_PTR id) {
  KillTimer(handle_, id);
  if (id == kHintShowTimer)
    ActivateHint();
  else
    HideHint();
}

void TApplication::ActivateHint() {
  TControl* c = hintControl_;
  if (!c) return;
  POINT screen{};
  GetCursorPos(&screen);
  THintInfo info;
  info.HintControl = c;
  info.HintWindowClass = HintWindowClass;
  info.HintPos = Point(screen.x, screen.y + GetSystemMetrics(SM_CYCURSOR) / 2 + 4);
  info.HintMaxWidth = Screen->Width();
  info.HintColor = hintColor_;
  info.CursorRect = hintCursorRect_;
  info.CursorPos = c->ScreenToClient(screen);
  info.HideTimeout = hintHidePause_;
  info.HintStr = GetShortHint(c->Hint());
  if (c->Perform(CM_HINTSHOW, 0, reinterpret_cast<LPARAM>(&info)) != 0) return;
  if (hintControl_ != c) return;  // the handler moved on
  hintCursorRect_ = info.CursorRect;
  if (info.HintStr.empty()) return;
  TClass cls =
      info.HintWindowClass && info.HintWindowClass->InheritsFrom(THintWindow::StaticClass())
          ? info.HintWindowClass
          : THintWindow::StaticClass();
  if (!hintWindow_ || hintWindow_->ClassType() != cls) {
    FreeAndNil(hintWindow_);
    hintWindow_ = static_cast<THintWindow*>(cls->Create(nullptr));
  }
  hintWindow_->SetColor(info.HintColor);
  TRect r = hintWindow_->CalcHintRect(info.HintMaxWidth, info.HintStr, info.HintData);
  OffsetRect(&r, info.HintPos.x, info.HintPos.y);
  hintWindow_->ActivateHintData(r, info.HintStr, info.HintData);
  hintShowing_ = true;
  if (info.ReshowTimeout > 0)
    SetTimer(handle_, kHintShowTimer, static_cast<UINT>(info.ReshowTimeout), nullptr);
  if (info.HideTimeout > 0)
    SetTimer(handle_, kHintHideTimer, static_cast<UINT>(info.HideTimeout), nullptr);
}

void TApplication::HideHint() {
  if (handle_) {
    KillTimer(handle_, kHintShowTimer);
    KillTimer(handle_, kHintHideTimer);
  }
  if (hintShowing_ && hintWindow_ && hintWindow_->HandleAllocated())
    SetWindowPos(hintWindow_->Handle(), nullptr, 0, 0, 0, 0,
                 SWP_HIDEWINDOW | SWP_NOACTIVATE | SWP_NOZORDER | SWP_NOMOVE | SWP_NOSIZE);
  hintShowing_ = false;
}

void TApplication::CancelHint() {
  HideHint();
  hintControl_ = nullptr;
}

// ---- utility windows
namespace {
struct UtilHolder {
  std::function<void(TMessage&)> method;
};

LRESULT CALLBACK UtilWndProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp) {
  auto* slot =
      reinterpret_cast<std::shared_ptr<UtilHolder>*>(GetWindowLongPtrW(wnd, GWLP_USERDATA));
  if (!slot) return DefWindowProcW(wnd, msg, wp, lp);
  // Keeps the method alive when it deallocates its own window.
  std::shared_ptr<UtilHolder> keep = *slot;
  TMessage m{msg, wp, lp, 0};
  try {
    keep->method(m);
  } catch (...) {
    HandleCallbackException();
  }
  return m.Result;
}
}  // namespace

HWND AllocateHWnd(std::function<void(TMessage&)> method) {
  static const wchar_t kClass[] = L"TPUtilWindow";
  WNDCLASSW wc{};
  if (!GetClassInfoW(HInstance(), kClass, &wc)) {
    wc.lpfnWndProc = &UtilWndProc;
    wc.hInstance = HInstance();
    wc.lpszClassName = kClass;
    if (!RegisterClassW(&wc)) RaiseLastOSError();
  }
  HWND wnd = CreateWindowExW(WS_EX_TOOLWINDOW, kClass, L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                             HInstance(), nullptr);
  if (!wnd) RaiseLastOSError();
  auto* slot =
      new std::shared_ptr<UtilHolder>(std::make_shared<UtilHolder>(UtilHolder{std::move(method)}));
  SetWindowLongPtrW(wnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(slot));
  return wnd;
}

void DeallocateHWnd(HWND wnd) {
  if (!wnd) return;
  auto* slot =
      reinterpret_cast<std::shared_ptr<UtilHolder>*>(GetWindowLongPtrW(wnd, GWLP_USERDATA));
  SetWindowLongPtrW(wnd, GWLP_USERDATA, 0);
  DestroyWindow(wnd);
  delete slot;
}

}  // namespace classlib

#include "kit/tray_icon.h"

#include <shlwapi.h>

#include <algorithm>
#include <map>

#include "classlib/classdef.h"
#include "classlib/forms.h"
#include "kit/tray_icon_text.h"
#include "shared_handler.h"

namespace kelm::kit {

using classlib::TMessage;
using classlib::TMouseButton;
using classlib::TShiftState;

// The window every icon's callbacks arrive on. It keeps the icons alive
// now: a callback whose wParam is no live icon (a freed one, or anything
// another program posts) is ignored.
class TTrayIconHandler : public THandlerWindow {
  CL_DECLARE_CLASS(TTrayIconHandler, THandlerWindow)
 public:
  // Issues the icon's uID: its address, which the 32-bit record holds
  // whole; a 64-bit build numbers its icons instead.
  UINT Add(TTrayIcon* icon) {
#ifdef _WIN64
    if (++lastId_ == 0) ++lastId_;
    const UINT id = lastId_;
#else
    const UINT id = reinterpret_cast<UINT_PTR>(icon);
#endif
    icons_[id] = icon;
    return id;
  }
  void Remove(UINT id) { icons_.erase(id); }

 private:
  void WndProc(TMessage& m) override {
    switch (m.Msg) {
      case kTrayCallbackMessage:
        Callback(m);
        break;
      case WM_DESTROY:
        Refuse(m);
        break;
      case WM_CLOSE:
        Refuse(m);
        break;
      case WM_QUERYENDSESSION:
        Refuse(m);
        break;
      case WM_QUIT:
        Refuse(m);
        break;
      case WM_ENDSESSION:
        Refuse(m);
        break;
      case WM_NCDESTROY:
        Refuse(m);
        break;
      default:
        Default(m);
        break;
    }
  }
  // The icon's events may free it and, with the last icon, this handler:
  // nothing is touched after it.
  void Callback(TMessage& m) {
    auto it = icons_.find(m.WParam);
    if (it != icons_.end()) it->second->TrayCallback(static_cast<UINT>(m.LParam));
  }
  // Closing or ending the session must not take the shared window away.
  void Refuse(TMessage& m) { m.Result = 1; }

  std::map<UINT_PTR, TTrayIcon*> icons_;
  static inline UINT lastId_ = 0;  // never reused within a run
};

CL_CLASS(TTrayIconHandler) {}

CL_CLASS(TTrayIcon) {
  c.Bool("DesignPreview", &TTrayIcon::DesignPreview, &TTrayIcon::SetDesignPreview).Default(false);
  c.Object("IconList", &TTrayIcon::IconList, &TTrayIcon::SetIconList);
  c.Bool("CycleIcons", &TTrayIcon::CycleIcons, &TTrayIcon::SetCycleIcons).Default(false);
  c.Int("CycleInterval", &TTrayIcon::CycleInterval, &TTrayIcon::SetCycleInterval,
        &classlib::TypeInfo_Cardinal);
  c.Bool("Enabled", &TTrayIcon::Enabled, &TTrayIcon::SetEnabled).Default(true);
  c.WStr("Hint", &TTrayIcon::Hint, &TTrayIcon::SetHint);
  c.Bool("ShowHint", &TTrayIcon::ShowHint, &TTrayIcon::SetShowHint).Default(true);
  c.Object("Icon", &TTrayIcon::Icon, &TTrayIcon::SetIcon);
  c.Bool("IconVisible", &TTrayIcon::IconVisible, &TTrayIcon::SetIconVisible).Default(false);
  c.Int("IconIndex", &TTrayIcon::IconIndex, &TTrayIcon::SetIconIndex).Default(0);
  c.Object("PopupMenu", &TTrayIcon::PopupMenu, &TTrayIcon::SetPopupMenu);
  c.Bool("LeftPopup", &TTrayIcon::LeftPopup, &TTrayIcon::SetLeftPopup).Default(false);
  c.Bool("WantEnterExitEvents", &TTrayIcon::WantEnterExitEvents, &TTrayIcon::SetWantEnterExitEvents)
      .Default(false);
  c.Bool("MinimizeToTray", &TTrayIcon::MinimizeToTray, &TTrayIcon::SetMinimizeToTray)
      .Default(false);
  c.Event("OnClick", &TTrayIcon::OnClick, &TTrayIcon::OnClick);
  c.Event("OnDblClick", &TTrayIcon::OnDblClick, &TTrayIcon::OnDblClick);
  c.Event("OnMouseDown", &TTrayIcon::OnMouseDown, &TTrayIcon::OnMouseDown);
  c.Event("OnMouseUp", &TTrayIcon::OnMouseUp, &TTrayIcon::OnMouseUp);
  c.Event("OnMouseMove", &TTrayIcon::OnMouseMove, &TTrayIcon::OnMouseMove);
  c.Event("OnMouseEnter", &TTrayIcon::OnMouseEnter, &TTrayIcon::OnMouseEnter);
  c.Event("OnMouseExit", &TTrayIcon::OnMouseExit, &TTrayIcon::OnMouseExit);
  c.Event("OnCycle", &TTrayIcon::OnCycle, &TTrayIcon::OnCycle);
  c.Event("OnBalloonHintShow", &TTrayIcon::OnBalloonHintShow, &TTrayIcon::OnBalloonHintShow);
  c.Event("OnBalloonHintHide", &TTrayIcon::OnBalloonHintHide, &TTrayIcon::OnBalloonHintHide);
  c.Event("OnBalloonHintTimeout", &TTrayIcon::OnBalloonHintTimeout,
          &TTrayIcon::OnBalloonHintTimeout);
  c.Event("OnBalloonHintClick", &TTrayIcon::OnBalloonHintClick, &TTrayIcon::OnBalloonHintClick);
  c.Event("OnMinimizeToTray", &TTrayIcon::OnMinimizeToTray, &TTrayIcon::OnMinimizeToTray);
  c.Event("OnStartup", &TTrayIcon::OnStartup, &TTrayIcon::OnStartup);
}

namespace {

SharedHandler<TTrayIconHandler> sharedHandler;

// dwInfoFlags by IconType: none, information, warning, error, user icon.
constexpr DWORD kBalloonIcons[] = {0, 1, 2, 3, 4};

POINT CursorPos() {
  POINT p{};
  GetCursorPos(&p);
  return p;
}

// The live keyboard's Shift, Ctrl and Alt.
TShiftState KeyShiftState() {
  TShiftState s;
  if (GetAsyncKeyState(VK_SHIFT) < 0) s.Include(classlib::ssShift);
  if (GetAsyncKeyState(VK_CONTROL) < 0) s.Include(classlib::ssCtrl);
  if (GetAsyncKeyState(VK_MENU) < 0) s.Include(classlib::ssAlt);
  return s;
}

// The keys plus the button of the message.
TShiftState ButtonShiftState(TMouseButton button) {
  static const classlib::TShiftStateFlag kButton[] = {classlib::ssLeft, classlib::ssRight,
                                                      classlib::ssMiddle};
  return KeyShiftState() + TShiftState{kButton[static_cast<int>(button)]};
}

bool IsMouseNotice(UINT notice) { return notice >= WM_MOUSEFIRST && notice <= WM_MOUSELAST; }

}  // namespace

// ---- "TaskbarCreated"
bool WantsTaskbarCreated(DWORD packedComCtlVersion) { return packedComCtlVersion > 0x00040046; }

DWORD PackedComCtlVersion() {
  HMODULE comctl = GetModuleHandleW(L"comctl32.dll");
  if (!comctl) return 0;
  auto getVersion = reinterpret_cast<DLLGETVERSIONPROC>(
      reinterpret_cast<void*>(GetProcAddress(comctl, "DllGetVersion")));
  DLLVERSIONINFO info{};
  info.cbSize = sizeof info;
  if (!getVersion || getVersion(&info) != S_OK) return 0;
  return (info.dwMajorVersion << 16) | (info.dwMinorVersion & 0xFFFF);
}

UINT TaskbarCreatedMessage() {
  static const UINT message =
      WantsTaskbarCreated(PackedComCtlVersion()) ? RegisterWindowMessageW(L"TaskbarCreated") : 0;
  return message;
}

// ---- life
TTrayIcon::TTrayIcon(classlib::TComponent* AOwner) : TComponent(AOwner) {
  TaskbarCreatedMessage();
  TTrayIconHandler* handler = sharedHandler.Acquire();
  icon_ = classlib::New<classlib::TIcon>();
  icon_->OnChange = classlib::EventOf<&TTrayIcon::IconChanged>(this);
  data_.cbSize = sizeof data_;
  data_.hWnd = handler->Window();
  data_.uID = handler->Add(this);
  data_.uFlags = kNifNormal;
  data_.uCallbackMessage = kTrayCallbackMessage;
  cycleTimer_ = classlib::New<TMessageTimer>(cycleInterval_,
                                             classlib::EventOf<&TTrayIcon::IconCycleTick>(this));
  clickTimer_ = classlib::New<TMessageTimer>(GetDoubleClickTime(),
                                             classlib::EventOf<&TTrayIcon::ClickDelayTick>(this));
  exitTimer_ = classlib::New<TMessageTimer>(20, classlib::EventOf<&TTrayIcon::LeavePollTick>(this));
  if (IsDesigning()) return;
  if (classlib::Application) {
    classlib::Application->HookMainWindow(
        [this](TMessage& m) {
          AppHook(m);
          return false;  // the application's own handling always follows
        },
        this);
    appHooked_ = true;
  }
  if (classlib::TWinControl* owner = OwnerControl()) {
    savedOwnerProc_ = owner->WindowProc;
    owner->WindowProc = [this](TMessage& m) { OwnerWndProc(m); };
    ownerSubclassed_ = true;
  }
}

TTrayIcon::~TTrayIcon() = default;

void TTrayIcon::BeforeDestruction() {
  *alive_ = false;
  HideIcon();
  classlib::FreeAndNil(cycleTimer_);
  classlib::FreeAndNil(clickTimer_);
  classlib::FreeAndNil(exitTimer_);
  try {
    classlib::FreeAndNil(icon_);
  } catch (...) {
    // An icon that cannot be released leaves nothing else to undo.
  }
  if (appHooked_ && classlib::Application) classlib::Application->UnhookMainWindow(this);
  if (ownerSubclassed_)
    if (classlib::TWinControl* owner = OwnerControl()) owner->WindowProc = savedOwnerProc_;
  sharedHandler.Get()->Remove(data_.uID);
  sharedHandler.Release();
  TComponent::BeforeDestruction();
}

HWND TTrayIcon::HandlerWindow() {
  return sharedHandler.Get() ? sharedHandler.Get()->Window() : nullptr;
}

classlib::TWinControl* TTrayIcon::OwnerControl() const {
  return dynamic_cast<classlib::TWinControl*>(Owner());
}

void TTrayIcon::Loaded() {
  TComponent::Loaded();
  auto alive = alive_;
  if (!IsDesigning() && OwnerControl()) {
    bool showMainForm = true;
    if (OnStartup) OnStartup(this, showMainForm);
    if (!*alive) return;
    if (!showMainForm) {
      classlib::Application->SetShowMainForm(false);
      HideOwnerForm();
    }
  }
  ModifyIcon();
  ApplyIconVisible();
  ApplyCycleIcons();
  ApplyWantEnterExitEvents();
  data_.uVersion = notifyVersion_;
  ShellNotifyIcon(kNimSetVersion, &data_);
}

void TTrayIcon::Notification(classlib::TComponent* component, classlib::TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation != classlib::TOperation::opRemove) return;
  if (component == iconList_) {
    iconList_ = nullptr;
    iconIndex_ = 0;
  }
  if (component == popupMenu_) popupMenu_ = nullptr;
}

// ---- the record
void TTrayIcon::PrepareIconRecord() {
  data_.hIcon = icon_ ? icon_->Handle() : nullptr;
  CopyAnsiField(!hint_.empty() && showHint_ ? std::u16string_view(hint_) : std::u16string_view(),
                data_.szTip);
}

bool TTrayIcon::ShowIcon() {
  iconVisible_ = true;
  PrepareIconRecord();
  return ShellNotifyIcon(kNimAdd, &data_) != FALSE;
}

bool TTrayIcon::HideIcon() {
  iconVisible_ = false;
  return ShellNotifyIcon(kNimDelete, &data_) != FALSE;
}

bool TTrayIcon::ModifyIcon() {
  PrepareIconRecord();
  return ShellNotifyIcon(kNimModify, &data_) != FALSE;
}

bool TTrayIcon::ShowBalloonHint(const std::u16string& title, const std::u16string& text,
                                uint8_t iconType, uint8_t timeoutSecs) {
  ClearBalloon();
  data_.uFlags |= kNifInfo;
  CopyAnsiField(text, data_.szInfo);
  CopyAnsiField(title, data_.szInfoTitle);
  data_.uTimeout = timeoutSecs * 1000u;
  // An unknown icon type shows no icon rather than reading past the table.
  data_.dwInfoFlags = iconType < std::size(kBalloonIcons) ? kBalloonIcons[iconType] : 0;
  bool result = ModifyIcon();
  data_.uFlags = kNifNormal;
  return result;
}

bool TTrayIcon::ClearBalloon() {
  data_.uFlags |= kNifInfo;
  data_.szInfo[0] = 0;
  return ModifyIcon();
}

void TTrayIcon::IconChanged(classlib::TObject*) {
  if (!IsLoading()) ModifyIcon();
}

void TTrayIcon::LoadListImage(int index) {
  // Loaded quietly: the caller sends one modify for the change.
  classlib::TNotifyEvent onChange = icon_->OnChange;
  icon_->OnChange = nullptr;
  iconList_->GetIcon(index, icon_);
  icon_->OnChange = onChange;
}

// ---- properties
void TTrayIcon::SetIcon(classlib::TIcon* v) {
  classlib::TNotifyEvent onChange = icon_->OnChange;
  icon_->OnChange = nullptr;
  icon_->Assign(v);
  icon_->OnChange = onChange;
  if (!IsLoading()) ModifyIcon();
}

void TTrayIcon::SetIconVisible(bool v) {
  if (v == iconVisible_) return;
  iconVisible_ = v;
  if (!IsLoading()) ApplyIconVisible();
}

void TTrayIcon::ApplyIconVisible() {
  if (iconVisible_)
    ShowIcon();
  else
    HideIcon();
}

void TTrayIcon::SetCycleIcons(bool v) {
  if (v == cycleIcons_) return;
  cycleIcons_ = v;
  if (!IsLoading()) ApplyCycleIcons();
}

void TTrayIcon::ApplyCycleIcons() {
  if (!cycleIcons_) {
    cycleTimer_->StopTimer(true);
    return;
  }
  SetIconIndex(0);
  cycleTimer_->SetInterval(cycleInterval_);
  cycleTimer_->StartTimer();
}

void TTrayIcon::SetCycleInterval(unsigned v) {
  if (v == cycleInterval_) return;
  cycleInterval_ = v;
  if (!IsLoading()) ApplyCycleIcons();
}

void TTrayIcon::SetIconList(classlib::TCustomImageList* v) {
  if (v == iconList_) return;
  if (iconList_) iconList_->RemoveFreeNotification(this);
  iconList_ = v;
  if (v) v->FreeNotification(this);
  SetIconIndex(0);
}

void TTrayIcon::SetIconIndex(int v) {
  // A stored index is read before the stored list is bound; binding the
  // list then selects its first image.
  if (!iconList_ || iconList_->Count() == 0) {
    iconIndex_ = 0;
    return;
  }
  iconIndex_ = std::clamp(v, 0, iconList_->Count() - 1);
  LoadListImage(iconIndex_);
  // While loading, Loaded sends the record once.
  if (!IsLoading()) ModifyIcon();
}

void TTrayIcon::SetHint(const std::u16string& v) {
  if (v == hint_) return;
  hint_ = v;
  if (!IsLoading()) ModifyIcon();
}

void TTrayIcon::SetShowHint(bool v) {
  if (v == showHint_) return;
  showHint_ = v;
  if (!IsLoading()) ModifyIcon();
}

void TTrayIcon::SetWantEnterExitEvents(bool v) {
  if (v == wantEnterExitEvents_) return;
  wantEnterExitEvents_ = v;
  if (!IsLoading()) ApplyWantEnterExitEvents();
}

void TTrayIcon::ApplyWantEnterExitEvents() { exitTimer_->SetEnabled(wantEnterExitEvents_); }

void TTrayIcon::SetPopupMenu(classlib::TPopupMenu* v) {
  if (v == popupMenu_) return;
  if (popupMenu_) popupMenu_->RemoveFreeNotification(this);
  popupMenu_ = v;
  if (v) v->FreeNotification(this);
}

// ---- callbacks
void TTrayIcon::TrayCallback(UINT notice) {
  if (IsMouseNotice(notice) && !enabled_) return;
  switch (notice) {
    case WM_MOUSEMOVE:
      TrayMouseMove();
      break;
    case WM_LBUTTONDOWN:
      TrayLButtonDown();
      break;
    case WM_LBUTTONUP:
      TrayLButtonUp();
      break;
    case WM_LBUTTONDBLCLK:
      TrayLButtonDblClk();
      break;
    case WM_RBUTTONDOWN:
      TrayRButtonDown();
      break;
    case WM_RBUTTONUP:
      TrayButtonUp(TMouseButton::mbRight);
      break;
    case WM_MBUTTONDOWN:
      TrayMButtonDown();
      break;
    case WM_MBUTTONUP:
      TrayButtonUp(TMouseButton::mbMiddle);
      break;
    case kNinBalloonShow:
      TrayBalloon(OnBalloonHintShow);
      break;
    case kNinBalloonHide:
      TrayBalloon(OnBalloonHintHide);
      break;
    case kNinBalloonTimeout:
      TrayBalloon(OnBalloonHintTimeout);
      break;
    case kNinBalloonUserClick:
      TrayBalloon(OnBalloonHintClick);
      break;
    default:
      break;
  }
}

void TTrayIcon::MouseNotice(TMouseButton button, bool down) {
  POINT p = CursorPos();
  if (down)
    MouseDown(button, ButtonShiftState(button), p.x, p.y);
  else
    MouseUp(button, ButtonShiftState(button), p.x, p.y);
}

void TTrayIcon::TrayMouseMove() {
  auto alive = alive_;
  if (wantEnterExitEvents_ && cursorGone_) {
    cursorGone_ = false;
    MouseEnter();
    if (!*alive) return;
  }
  lastPos_ = CursorPos();
  MouseMove(KeyShiftState(), lastPos_.x, lastPos_.y);
}

void TTrayIcon::TrayLButtonDown() {
  auto alive = alive_;
  // Only a double-click handler makes a single click wait.
  if (OnDblClick) {
    clickTimer_->SetInterval(GetDoubleClickTime());
    clickTimer_->StartTimer();
  }
  MouseNotice(TMouseButton::mbLeft, true);
  if (!*alive) return;
  clickPending_ = true;
  if (leftPopup_) PopupIfAuto();
}

void TTrayIcon::TrayLButtonUp() {
  auto alive = alive_;
  bool clickNow = false;
  if (clickPending_) {
    clickReady_ = true;
    if (!clickTimer_->Enabled()) {
      clickReady_ = false;
      clickNow = true;
    }
  }
  clickPending_ = false;
  if (clickNow) {
    Click();
    if (!*alive) return;
  }
  MouseNotice(TMouseButton::mbLeft, false);
}

void TTrayIcon::TrayLButtonDblClk() {
  auto alive = alive_;
  clickReady_ = false;
  dblClicked_ = true;
  DblClick();
  if (!*alive || !popupMenu_ || !popupMenu_->AutoPopup() || leftPopup_) return;
  if (classlib::TMenuItem* item = popupMenu_->Items()->DefaultItem()) item->Click();
}

void TTrayIcon::TrayRButtonDown() {
  auto alive = alive_;
  MouseNotice(TMouseButton::mbRight, true);
  if (*alive) PopupIfAuto();
}

void TTrayIcon::TrayMButtonDown() { MouseNotice(TMouseButton::mbMiddle, true); }

void TTrayIcon::TrayButtonUp(TMouseButton button) { MouseNotice(button, false); }

void TTrayIcon::TrayBalloon(const classlib::TNotifyEvent& event) {
  if (event) event(this);
}

void TTrayIcon::PopupIfAuto() {
  if (!popupMenu_ || !popupMenu_->AutoPopup()) return;
  SetForegroundWindow(HandlerWindow());
  ShowMenuAtCursor();
}

void TTrayIcon::ShowMenuAtCursor() {
  if (!popupMenu_) return;
  auto alive = alive_;
  // The menu closes properly only when a window of ours is in front.
  SetForegroundWindow(HandlerWindow());
  classlib::Application->ProcessMessages();
  if (!*alive || !popupMenu_) return;
  popupMenu_->SetPopupComponent(this);
  POINT p = CursorPos();
  popupMenu_->Popup(p.x, p.y);
  if (!*alive) return;
  if (classlib::TWinControl* owner = OwnerControl()) PostMessageW(owner->Handle(), WM_NULL, 0, 0);
}

// ---- timers
void TTrayIcon::IconCycleTick(classlib::TObject*) {
  if (!iconList_ || iconList_->Count() == 0) return;
  auto alive = alive_;
  iconList_->GetIcon(iconIndex_, icon_);
  if (!*alive) return;
  int next = iconIndex_ + 1 < iconList_->Count() ? iconIndex_ + 1 : 0;
  Cycle(next);
  if (*alive) SetIconIndex(next);
}

void TTrayIcon::ClickDelayTick(classlib::TObject*) {
  clickTimer_->StopTimer(true);
  const bool click = !dblClicked_ && clickReady_;
  if (click) clickReady_ = false;
  dblClicked_ = false;
  if (click) Click();
}

void TTrayIcon::LeavePollTick(classlib::TObject*) {
  if (cursorGone_) return;
  POINT p = CursorPos();
  if (p.x == lastPos_.x && p.y == lastPos_.y) return;
  cursorGone_ = true;
  MouseExit();
}

// ---- the application window (seen before the application handles it)
void TTrayIcon::AppHook(TMessage& m) {
  if (m.Msg != 0 && m.Msg == TaskbarCreatedMessage()) {
    TaskbarCreated();
    return;
  }
  switch (m.Msg) {
    case WM_SIZE:
      AppSize(m);
      break;
    case WM_WINDOWPOSCHANGED:
      AppWindowPosChanged();
      break;
    case WM_SYSCOMMAND:
      AppSysCommand(m);
      break;
    default:
      break;
  }
}

void TTrayIcon::AppSize(TMessage& m) {
  if (m.WParam == SIZE_MINIMIZED && minimizeToTray_) SendToTray();
}

void TTrayIcon::AppWindowPosChanged() {
  classlib::TCustomForm* mainForm = classlib::Application->MainForm();
  if (!firstWindowPos_ || !mainForm) return;
  firstWindowPos_ = false;
  if (mainForm->FormStyle() != classlib::TFormStyle::fsMDIForm) return;
  bool showMainForm = true;
  auto alive = alive_;
  if (OnStartup) OnStartup(this, showMainForm);
  if (*alive && !showMainForm) HideAppButton();
}

void TTrayIcon::AppSysCommand(TMessage& m) {
  if ((m.WParam & 0xFFF0) != SC_RESTORE) return;
  classlib::TCustomForm* mainForm = classlib::Application->MainForm();
  if (!mainForm) return;
  if (mainForm->WindowState() == classlib::TWindowState::wsMinimized)
    mainForm->SetWindowState(classlib::TWindowState::wsNormal);
  mainForm->Show();
}

void TTrayIcon::TaskbarCreated() {
  if (iconVisible_) ShowIcon();
}

// ---- the owner's window
void TTrayIcon::OwnerWndProc(TMessage& m) {
  switch (m.Msg) {
    case WM_SHOWWINDOW:
      OwnerShowWindow(m);
      break;
    case WM_SYSCOMMAND:
      OwnerSysCommand(m);
      break;
    default:
      PassToOwner(m);
      break;
  }
}

void TTrayIcon::PassToOwner(TMessage& m) {
  // A copy: the owner's handling may free this icon.
  auto saved = savedOwnerProc_;
  saved(m);
}

void TTrayIcon::OwnerShowWindow(TMessage& m) {
  if (m.WParam == 1 && m.LParam == 0) {
    SetForegroundWindow(classlib::Application->Handle());
    SetForegroundWindow(OwnerControl()->Handle());
  } else if (m.WParam == 0 && m.LParam == SW_PARENTCLOSING &&
             !classlib::Application->Terminated() && MinimizeOwnerToTray(m)) {
    return;
  }
  PassToOwner(m);
}

void TTrayIcon::OwnerSysCommand(TMessage& m) {
  if ((m.WParam & 0xFFF0) == SC_MINIMIZE && MinimizeOwnerToTray(m)) return;
  PassToOwner(m);
}

bool TTrayIcon::MinimizeOwnerToTray(TMessage& m) {
  if (!minimizeToTray_ || !OnMinimizeToTray) return false;
  m.Result = 1;
  auto alive = alive_;
  OnMinimizeToTray(this);
  if (*alive) SendToTray();
  return true;
}

void TTrayIcon::HideOwnerForm() {
  classlib::TCustomForm* mainForm = classlib::Application->MainForm();
  if (!OwnerControl() || !mainForm) return;
  mainForm->Hide();
  HideAppButton();
}

void TTrayIcon::HideAppButton() {
  HWND app = classlib::Application->Handle();
  if (app && IsWindowVisible(app)) ShowWindow(app, SW_HIDE);
}

// ---- event dispatchers
void TTrayIcon::Click() {
  if (OnClick) OnClick(this);
}
void TTrayIcon::DblClick() {
  if (OnDblClick) OnDblClick(this);
}
void TTrayIcon::Cycle(int nextIndex) {
  if (OnCycle) OnCycle(this, nextIndex);
}
void TTrayIcon::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  if (OnMouseDown) OnMouseDown(this, button, shift, x, y);
}
void TTrayIcon::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
  if (OnMouseUp) OnMouseUp(this, button, shift, x, y);
}
void TTrayIcon::MouseMove(TShiftState shift, int x, int y) {
  if (OnMouseMove) OnMouseMove(this, shift, x, y);
}
void TTrayIcon::MouseEnter() {
  if (OnMouseEnter) OnMouseEnter(this);
}
void TTrayIcon::MouseExit() {
  if (OnMouseExit) OnMouseExit(this);
}
void TTrayIcon::SendToTray() {
  auto alive = alive_;
  HideOwnerForm();
  if (*alive) SetIconVisible(true);
}

}  // namespace kelm::kit

// TTrayIcon: one icon in the notification area, with its hint, mouse
// events, balloon hints, icon cycling through an image list, a pop-up
// menu, and minimise-to-tray for the whole program.
//
// Every icon of the process receives its callbacks (message 0x800, wParam
// the icon, lParam the mouse message or notice) on one hidden window, made
// by the first icon and freed with the last. The icon also sees the
// application window's messages first (minimised, restore, task bar
// re-created) and, when its owner is a windowed control, subclasses the
// owner's window (minimise and close of the main form).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "classlib/controls.h"
#include "classlib/graphics.h"
#include "classlib/imglist.h"
#include "classlib/menus.h"
#include "kit/message_timer.h"
#include "kit/tray_icon_record.h"

namespace kelm::kit {

using TTrayCycleEvent = classlib::TEvent<classlib::TObject*, int>;
using TTrayStartupEvent = classlib::TEvent<classlib::TObject*, bool&>;

// Balloon icons by IconType.
enum TBalloonIconType : uint8_t { bitNone, bitInfo, bitWarning, bitError, bitUser };

class TTrayIcon : public classlib::TComponent {
  CL_DECLARE_CLASS(TTrayIcon, TComponent)
 public:
  explicit TTrayIcon(classlib::TComponent* AOwner);
  ~TTrayIcon() override;
  void BeforeDestruction() override;
  void Loaded() override;
  void Notification(classlib::TComponent* component, classlib::TOperation operation) override;

  // ---- the icon in the notification area; each answers the system's result
  virtual bool IconAllowed() { return true; }
  virtual bool ShowIcon();
  virtual bool HideIcon();
  virtual bool ModifyIcon();
  // Replaces any balloon on show with this one for timeoutSecs seconds.
  bool ShowBalloonHint(const std::u16string& title, const std::u16string& text, uint8_t iconType,
                       uint8_t timeoutSecs);
  bool ClearBalloon();
  // Pops PopupMenu up at the cursor with this icon as its popup component.
  void ShowMenuAtCursor();
  // The main form and the task-bar button go (owner a windowed control).
  void HideOwnerForm();
  // Hides the application window, which removes the task-bar button.
  void HideAppButton();

  // ---- properties
  bool DesignPreview() const { return designPreview_; }
  void SetDesignPreview(bool v) { designPreview_ = v; }
  classlib::TCustomImageList* IconList() const { return iconList_; }
  void SetIconList(classlib::TCustomImageList* v);
  bool CycleIcons() const { return cycleIcons_; }
  void SetCycleIcons(bool v);
  unsigned CycleInterval() const { return cycleInterval_; }
  void SetCycleInterval(unsigned v);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool v) { enabled_ = v; }
  const std::u16string& Hint() const { return hint_; }
  void SetHint(const std::u16string& v);
  bool ShowHint() const { return showHint_; }
  void SetShowHint(bool v);
  classlib::TIcon* Icon() const { return icon_; }
  void SetIcon(classlib::TIcon* v);
  bool IconVisible() const { return iconVisible_; }
  void SetIconVisible(bool v);
  int IconIndex() const { return iconIndex_; }
  // With an image list: limited to its images; loads that image. Without
  // one it stays 0.
  void SetIconIndex(int v);
  classlib::TPopupMenu* PopupMenu() const { return popupMenu_; }
  void SetPopupMenu(classlib::TPopupMenu* v);
  bool LeftPopup() const { return leftPopup_; }
  void SetLeftPopup(bool v) { leftPopup_ = v; }
  bool WantEnterExitEvents() const { return wantEnterExitEvents_; }
  void SetWantEnterExitEvents(bool v);
  bool MinimizeToTray() const { return minimizeToTray_; }
  void SetMinimizeToTray(bool v) { minimizeToTray_ = v; }

  classlib::TNotifyEvent OnClick, OnDblClick;
  classlib::TMouseEvent OnMouseDown, OnMouseUp;
  classlib::TMouseMoveEvent OnMouseMove;
  classlib::TNotifyEvent OnMouseEnter, OnMouseExit;
  TTrayCycleEvent OnCycle;
  classlib::TNotifyEvent OnBalloonHintShow, OnBalloonHintHide, OnBalloonHintTimeout,
      OnBalloonHintClick;
  classlib::TNotifyEvent OnMinimizeToTray;
  TTrayStartupEvent OnStartup;

  // The record's uID, which callbacks carry as wParam: the icon's address
  // in the 32-bit program.
  UINT IconId() const { return data_.uID; }
  // The shared callback window while any icon exists, else none.
  static HWND HandlerWindow();

 protected:
  virtual void Click();
  virtual void DblClick();
  virtual void Cycle(int nextIndex);
  virtual void MouseDown(classlib::TMouseButton button, classlib::TShiftState shift, int x, int y);
  virtual void MouseUp(classlib::TMouseButton button, classlib::TShiftState shift, int x, int y);
  virtual void MouseMove(classlib::TShiftState shift, int x, int y);
  virtual void MouseEnter();
  virtual void MouseExit();
  // Hides the owner form and the task-bar button and shows the icon.
  virtual void SendToTray();

 private:
  friend class TTrayIconHandler;
  // ---- callbacks from the shared window
  void TrayCallback(UINT notice);
  void TrayMouseMove();
  void TrayLButtonDown();
  void TrayLButtonUp();
  void TrayLButtonDblClk();
  void TrayRButtonDown();
  void TrayButtonUp(classlib::TMouseButton button);
  void TrayMButtonDown();
  void TrayBalloon(const classlib::TNotifyEvent& event);
  void PopupIfAuto();
  // ---- timers
  void IconCycleTick(classlib::TObject* sender);
  void ClickDelayTick(classlib::TObject* sender);
  void LeavePollTick(classlib::TObject* sender);
  // ---- the application window and the owner's window
  void AppHook(classlib::TMessage& m);
  void AppSize(classlib::TMessage& m);
  void AppWindowPosChanged();
  void AppSysCommand(classlib::TMessage& m);
  void TaskbarCreated();
  void OwnerWndProc(classlib::TMessage& m);
  void OwnerShowWindow(classlib::TMessage& m);
  void OwnerSysCommand(classlib::TMessage& m);
  bool MinimizeOwnerToTray(classlib::TMessage& m);
  void PassToOwner(classlib::TMessage& m);
  classlib::TWinControl* OwnerControl() const;
  // ---- the record
  void PrepareIconRecord();
  void IconChanged(classlib::TObject* sender);
  void LoadListImage(int index);
  void ApplyIconVisible();
  void ApplyCycleIcons();
  void ApplyWantEnterExitEvents();
  void MouseNotice(classlib::TMouseButton button, bool down);

  bool designPreview_ = false;
  classlib::TCustomImageList* iconList_ = nullptr;
  bool cycleIcons_ = false;
  unsigned cycleInterval_ = 0;
  bool enabled_ = true;
  std::u16string hint_;
  bool showHint_ = true;
  classlib::TIcon* icon_ = nullptr;
  bool iconVisible_ = false;
  int iconIndex_ = 0;
  classlib::TPopupMenu* popupMenu_ = nullptr;
  bool leftPopup_ = false;
  bool wantEnterExitEvents_ = false;
  bool minimizeToTray_ = false;

  TNotifyIconDataA data_{};
  TMessageTimer* cycleTimer_ = nullptr;
  TMessageTimer* clickTimer_ = nullptr;
  TMessageTimer* exitTimer_ = nullptr;

  bool clickPending_ = false, clickReady_ = false, dblClicked_ = false;
  bool cursorGone_ = true;
  POINT lastPos_{};
  bool firstWindowPos_ = true;
  uint8_t notifyVersion_ = 0;
  // The owner's message entry before ours, put back when the icon goes.
  std::function<void(classlib::TMessage&)> savedOwnerProc_;
  bool ownerSubclassed_ = false;
  bool appHooked_ = false;
  // Cleared when the icon is freed: an event handler may free it.
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// "TaskbarCreated" is watched only with common controls 4.71 or later.
bool WantsTaskbarCreated(DWORD packedComCtlVersion);
// comctl32's version as (major << 16) | minor; 0 when it cannot say.
DWORD PackedComCtlVersion();
// The registered "TaskbarCreated" message, or 0 when it is not watched.
UINT TaskbarCreatedMessage();

}  // namespace kelm::kit

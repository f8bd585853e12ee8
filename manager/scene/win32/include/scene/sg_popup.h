// Popups: a scene control shown above everything else in a borderless,
// stay-on-top form that hosts a transparent scene of its own, placed
// against a target object, a rectangle or the mouse; opened modelessly
// (IsOpen) or run modally. The message popup centres itself over its form
// and disables the scene behind it while it runs modally.
#pragma once

#include <windows.h>
// The scene tree has a FindResource of its own.
#undef FindResource

#include <memory>
#include <vector>

#include "classlib/forms.h"
#include "classlib/timers.h"
#include "scene/sg_bounds.h"
#include "scene/sg_control.h"
#include "scene/sg_popup_placement.h"
#include "scene/sg_style.h"

namespace kelm::scene {

class TsgPopup;
class TsgScene;

// The form a popup is shown in. Closing it (by the user or the system)
// closes its popup; it frees itself through the close action and Release,
// never inside its own handlers.
class TsgPopupForm : public classlib::TCustomForm {
  CL_DECLARE_CLASS(TsgPopupForm, TCustomForm)
 public:
  explicit TsgPopupForm(classlib::TComponent* AOwner);
  ~TsgPopupForm() override;
  // Closes the popup first.
  void BeforeDestruction() override;
  void Notification(classlib::TComponent* component, classlib::TOperation operation) override;

  // The form whose caption stays active while the popup is shown.
  classlib::TCustomForm* OwnerForm() const { return ownerForm_; }
  void SetOwnerForm(classlib::TCustomForm* form);
  TsgPopup* Popup() const { return popup_; }
  void SetPopup(TsgPopup* popup) { popup_ = popup; }
  bool ClosedByForm() const { return closedByForm_; }
  void SetClosedByForm(bool v) { closedByForm_ = v; }

  void WndProc(classlib::TMessage& m) override;

 protected:
  void CreateParams(classlib::TCreateParams& params) override;
  void DoClose(classlib::TCloseAction& action) override;
  // Shown and hidden in place, without activation or a z-order change.
  void ShowingChanged(classlib::TMessage& m) override;
  virtual void WMActivate(classlib::TMessage& m);
  virtual void WMMouseActivate(classlib::TMessage& m);

 private:
  classlib::TCustomForm* ownerForm_ = nullptr;
  TsgPopup* popup_ = nullptr;
  bool closedByForm_ = false;
};

class TsgPopup : public TsgControl {
  CL_DECLARE_CLASS(TsgPopup, TsgControl)
 public:
  explicit TsgPopup(classlib::TComponent* AOwner);
  ~TsgPopup() override;
  // An open popup closes (without its closing animations) before the
  // control's own detach steps.
  void BeforeDestruction() override;

  // ---- published
  bool IsOpen() const { return isOpen_; }
  void SetIsOpen(bool v);
  float HorizontalOffset() const { return horizontalOffset_; }
  void SetHorizontalOffset(float v) { horizontalOffset_ = v; }
  float VerticalOffset() const { return verticalOffset_; }
  void SetVerticalOffset(float v) { verticalOffset_ = v; }
  TsgPlacement Placement() const { return placement_; }
  void SetPlacement(TsgPlacement v) { placement_ = v; }
  TsgVisualObject* PlacementTarget() const { return placementTarget_; }
  void SetPlacementTarget(TsgVisualObject* v);
  // Edited in place; assigning a whole rectangle does nothing.
  TsgBounds* PlacementRectangle() const { return placementRectangle_; }
  void SetPlacementRectangle(TsgBounds* v) { (void)v; }
  bool StaysOpen() const { return staysOpen_; }
  void SetStaysOpen(bool v) { staysOpen_ = v; }
  TsgResources* Style() const { return style_; }
  void SetStyle(TsgResources* v);
  bool DragWithParent() const { return dragWithParent_; }
  void SetDragWithParent(bool v) { dragWithParent_ = v; }
  classlib::TNotifyEvent OnClosePopup;

  // ---- state
  TsgPopupForm* PopupForm() const { return form_; }
  TsgScene* PopupScene() const { return popupScene_; }
  classlib::TTimer* FollowTimer() const { return followTimer_; }
  bool Closing() const { return closing_; }
  int ModalResult() const { return modalResult_; }
  void SetModalResult(int v);
  // The popup's form is being freed: the popup leaves it (and its scene)
  // at once, finishing a close that still waits for its animations.
  void FormGone(TsgPopupForm* form);

  // ---- virtual operations, in slot order after TsgControl's
  virtual void ApplyPlacement();
  // Opens the popup and handles messages until a modal result is set;
  // answers it (0 when the call only closed an open popup or came during
  // a close; 2 when the application terminates or the popup is closed).
  virtual int PopupModal();
  virtual void Popup();
  virtual void ClosePopup();

  // ---- overrides
  void Paint() override;
  void DialogKey(uint16_t& key, TShiftState shift) override;
  void Notification(classlib::TComponent* component, classlib::TOperation operation) override;
  void PopupOpenTransient() override;
  // Its children are written as its parent's.
  TsgObject* ChildWritingParent() override { return Parent() ? Parent() : this; }

 protected:
  // The object placed against: PlacementTarget, else the parent (while
  // open, the parent it had before it opened).
  TsgVisualObject* Target() const;
  // Left and top of the form; kept inside the form's monitor when asked.
  void MoveForm(int left, int top, bool keepInMonitor);
  // False once the popup is destroyed; held across calls that handle
  // messages.
  std::shared_ptr<bool> Alive() const { return alive_; }

 private:
  void FollowTick(classlib::TObject* sender);
  // The steps of a close after its animations: the form let go, the saved
  // parent and scale back, the open list left.
  void FinishClose(bool tell);

  bool isOpen_ = false;
  float horizontalOffset_ = 0, verticalOffset_ = 0;
  TsgPlacement placement_ = sgPlacementBottom;
  TsgVisualObject* placementTarget_ = nullptr;
  TsgBounds* placementRectangle_;
  bool staysOpen_ = false;
  TsgResources* style_ = nullptr;
  bool dragWithParent_ = false;

  TsgPopupForm* form_ = nullptr;
  TsgScene* popupScene_ = nullptr;
  TsgObject* savedParent_ = nullptr;
  TsgPoint savedScale_{1, 1};
  classlib::TTimer* followTimer_ = nullptr;
  bool closing_ = false;
  int modalResult_ = 0;
  bool modalRun_ = false;
  // Cleared when the popup is destroyed: a close or a modal run that
  // handles messages checks it before touching the popup again.
  std::shared_ptr<bool> alive_;
};

class TsgMessagePopup : public TsgPopup {
  CL_DECLARE_CLASS(TsgMessagePopup, TsgPopup)
 public:
  explicit TsgMessagePopup(classlib::TComponent* AOwner);
  bool DisableScene() const { return disableScene_; }
  void SetDisableScene(bool v) { disableScene_ = v; }

  void ApplyPlacement() override;
  int PopupModal() override;
  void Notification(classlib::TComponent* component, classlib::TOperation operation) override;

 private:
  bool disableScene_ = true;
  // The scene root disabled for a modal run.
  TsgVisualObject* disabledRoot_ = nullptr;
};

// The open popups that do not stay open, oldest first (empty when none).
std::vector<TsgPopup*> OpenPopups();
// Closes every popup of that list, the most recently opened first.
void CloseAllPopups();

// The popups' share of the scene library's start-up and end: the classes
// registered under "Popup"; the open list freed.
void RegisterPopupClasses();
void FreePopupGlobals();

}  // namespace kelm::scene

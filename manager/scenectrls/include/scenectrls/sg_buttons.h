// The clickable caption controls: TsgCustomButton (press, drag off and
// back, toggle, repeat while held, the ModalResult of the form around the
// scene) and its descendants, plus the close button of window frames.
#pragma once

#include <cstdint>

#include "scenectrls/sg_text_control.h"

namespace kelm::scenectrls {

class TsgTimer;

class TsgCustomButton : public TsgTextControl {
  CL_DECLARE_CLASS(TsgCustomButton, TsgTextControl)
 public:
  // Milliseconds from the press to the switch to repeating, and between
  // repeated clicks.
  static constexpr uint32_t RepeatDelay = 500;
  static constexpr uint32_t RepeatInterval = 100;

  explicit TsgCustomButton(classlib::TComponent* AOwner);
  void BeforeDestruction() override;

  bool Pressing() const { return pressing_; }
  bool IsPressed() const { return isPressed_; }
  // Only a toggle button (StaysPressed) takes a written state.
  void SetIsPressed(bool v);
  int32_t ModalResult() const { return modalResult_; }
  void SetModalResult(int32_t v) { modalResult_ = v; }
  bool StaysPressed() const { return staysPressed_; }
  void SetStaysPressed(bool v) { staysPressed_ = v; }
  bool RepeatClick() const { return repeatClick_; }
  void SetRepeatClick(bool v) { repeatClick_ = v; }
  // Made on the first repeating press; none before.
  TsgTimer* RepeatTimer() const { return repeatTimer_; }
  classlib::TComponent* ActionProp() const;
  void SetActionProp(classlib::TComponent* action) { SetAction(action); }

  // ---- overrides
  void SetData(const classlib::TVariant& value) override;
  void Click() override;
  void DblClick() override;
  void MouseDown(scene::TMouseButton button, scene::TShiftState shift, float x, float y) override;
  void MouseMove(scene::TShiftState shift, float x, float y, float dx, float dy) override;
  void MouseUp(scene::TMouseButton button, scene::TShiftState shift, float x, float y) override;
  void KeyDown(uint16_t& key, char16_t& keyChar, scene::TShiftState shift) override;
  void ApplyStyle() override;

 protected:
  // Animations, then effects, of the trigger.
  void RaiseTrigger(const std::string& property);

 private:
  void SwitchToRepeat(classlib::TObject* sender);
  void RepeatStep(classlib::TObject* sender);

  bool pressing_ = false;
  bool isPressed_ = false;
  int32_t modalResult_ = 0;
  bool staysPressed_ = false;
  TsgTimer* repeatTimer_ = nullptr;
  bool repeatClick_ = false;
};

class TsgButton : public TsgCustomButton {
  CL_DECLARE_CLASS(TsgButton, TsgCustomButton)
 public:
  explicit TsgButton(classlib::TComponent* AOwner) : TsgCustomButton(AOwner) {}
  bool Default = false;
  bool Cancel = false;
  // Enter clicks a Default button unless another button has the focus
  // (that one clicks through its own KeyDown); Escape clicks a Cancel one.
  void DialogKey(uint16_t& key, scene::TShiftState shift) override;
};

class TsgRoundButton : public TsgButton {
  CL_DECLARE_CLASS(TsgRoundButton, TsgButton)
 public:
  explicit TsgRoundButton(classlib::TComponent* AOwner) : TsgButton(AOwner) {}
};

class TsgCircleButton : public TsgButton {
  CL_DECLARE_CLASS(TsgCircleButton, TsgButton)
 public:
  explicit TsgCircleButton(classlib::TComponent* AOwner);
};

// Opens its pop-up menu (not owned) below itself on every click.
class TsgPopupButton : public TsgButton {
  CL_DECLARE_CLASS(TsgPopupButton, TsgButton)
 public:
  explicit TsgPopupButton(classlib::TComponent* AOwner) : TsgButton(AOwner) {}
  classlib::TComponent* PopupMenu() const { return menu_; }
  void SetPopupMenu(classlib::TComponent* menu);
  void Click() override;
  void Notification(classlib::TComponent* component, classlib::TOperation operation) override;

 private:
  classlib::TComponent* menu_ = nullptr;
};

class TsgSpeedButton : public TsgCustomButton {
  CL_DECLARE_CLASS(TsgSpeedButton, TsgCustomButton)
 public:
  explicit TsgSpeedButton(classlib::TComponent* AOwner);
};

// The arrow of the expander.
class TsgExpanderButton : public TsgCustomButton {
  CL_DECLARE_CLASS(TsgExpanderButton, TsgCustomButton)
 public:
  explicit TsgExpanderButton(classlib::TComponent* AOwner);
};

// Closes the form around its scene on a click (a release inside after a
// press on it), then fires its own OnClick.
class TsgCloseButton : public scene::TsgControl {
  CL_DECLARE_CLASS(TsgCloseButton, TsgControl)
 public:
  explicit TsgCloseButton(classlib::TComponent* AOwner);
  bool CloseForm = true;
  // Its own event: the visual object's OnClick stays unused.
  classlib::TNotifyEvent OnClick;
  void MouseDown(scene::TMouseButton button, scene::TShiftState shift, float x, float y) override;
  void MouseUp(scene::TMouseButton button, scene::TShiftState shift, float x, float y) override;

 private:
  bool pressing_ = false;
};

}  // namespace kelm::scenectrls

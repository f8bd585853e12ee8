// Buttons: press and release, toggles, repeat while held, the modal result
// of the form around the scene, default and cancel keys, the pop-up button
// and the close button.
#include "scenectrls/sg_buttons.h"

#include <cmath>

#include "classlib/classdef.h"
#include "scene/sg_classes.h"
#include "scenectrls/sg_form_bridge.h"
#include "scenectrls/sg_timer.h"

namespace kelm::scenectrls {

using classlib::TComponent;
using scene::TMouseButton;
using scene::TShiftState;

namespace {
constexpr uint16_t kEnter = 13, kEscape = 27, kSpace = 32;

// Edges count as inside.
bool InsideLocal(const scene::TsgVisualObject* obj, float x, float y) {
  return x >= 0 && x <= obj->Width() && y >= 0 && y <= obj->Height();
}
}  // namespace

// ---- TsgCustomButton
CL_CLASS(TsgCustomButton) {
  c.Object("Action", &TsgCustomButton::ActionProp, &TsgCustomButton::SetActionProp);
  c.Bool("CanFocused", &TsgCustomButton::CanFocused, &TsgCustomButton::CanFocused).Default(true);
  c.Bool("DisableFocusEffect", &TsgCustomButton::DisableFocusEffect,
         &TsgCustomButton::DisableFocusEffect)
      .Default(false);
  c.Bool("StaysPressed", &TsgCustomButton::StaysPressed, &TsgCustomButton::SetStaysPressed)
      .Default(false);
  c.Bool("IsPressed", &TsgCustomButton::IsPressed, &TsgCustomButton::SetIsPressed).Default(false);
  c.Int("ModalResult", &TsgCustomButton::ModalResult, &TsgCustomButton::SetModalResult).Default(0);
  c.Bool("RepeatClick", &TsgCustomButton::RepeatClick, &TsgCustomButton::SetRepeatClick)
      .Default(false);
}

TsgCustomButton::TsgCustomButton(TComponent* AOwner) : TsgTextControl(AOwner) {
  AutoTranslate = true;
  AutoCapture = true;
  CanFocused = true;
  SetWidth(80);
  SetHeight(22);
}

void TsgCustomButton::BeforeDestruction() {
  classlib::FreeAndNil(repeatTimer_);
  inherited::BeforeDestruction();
}

TComponent* TsgCustomButton::ActionProp() const {
  return const_cast<TsgCustomButton*>(this)->GetAction();
}

void TsgCustomButton::RaiseTrigger(const std::string& property) {
  StartTriggerAnimation(this, property);
  ApplyTriggerEffect(this, property);
}

void TsgCustomButton::SetIsPressed(bool v) {
  if (!staysPressed_ || v == isPressed_) return;
  isPressed_ = v;
  RaiseTrigger("IsPressed");
}

void TsgCustomButton::SetData(const classlib::TVariant& value) {
  // Only a method reference means anything to a button.
  if (scene::IsVariantMethodRef(value))
    OnClick = classlib::TNotifyEvent::FromMethod(scene::VariantToMethodRef(value));
}

void TsgCustomButton::Click() {
  if (modalResult_ != 0)
    if (TComponent* form = SceneOwnerForm(this)) FormBridge()->SetModalResult(form, modalResult_);
  inherited::Click();
}

void TsgCustomButton::DblClick() {
  inherited::DblClick();
  Click();
}

void TsgCustomButton::MouseDown(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseDown(button, shift, x, y);
  if (button != TMouseButton::mbLeft) return;
  pressing_ = true;
  if (staysPressed_) {
    isPressed_ = !isPressed_;
  } else {
    isPressed_ = true;
    if (repeatClick_) {
      if (!repeatTimer_) repeatTimer_ = classlib::New<TsgTimer>(nullptr);
      repeatTimer_->SetEnabled(false);
      repeatTimer_->SetInterval(RepeatDelay);
      repeatTimer_->SetOnTimer(classlib::EventOf<&TsgCustomButton::SwitchToRepeat>(this));
      repeatTimer_->SetEnabled(true);
    }
  }
  RaiseTrigger("IsPressed");
}

// The first tick only switches to the repeat rate; it does not click.
void TsgCustomButton::SwitchToRepeat(classlib::TObject* sender) {
  (void)sender;
  repeatTimer_->SetOnTimer(classlib::EventOf<&TsgCustomButton::RepeatStep>(this));
  repeatTimer_->SetInterval(RepeatInterval);
}

void TsgCustomButton::RepeatStep(classlib::TObject* sender) {
  (void)sender;
  Click();
}

void TsgCustomButton::MouseMove(TShiftState shift, float x, float y, float dx, float dy) {
  inherited::MouseMove(shift, x, y, dx, dy);
  if (!shift.Contains(classlib::ssLeft) || !pressing_) return;
  const bool inside = InsideLocal(this, x, y);
  if (inside == isPressed_ || staysPressed_) return;
  isPressed_ = inside;
  RaiseTrigger("IsPressed");
}

void TsgCustomButton::MouseUp(TMouseButton button, TShiftState shift, float x, float y) {
  if (pressing_) {
    if (repeatTimer_) repeatTimer_->SetEnabled(false);
    pressing_ = false;
    if (!staysPressed_) {
      isPressed_ = false;
      RaiseTrigger("IsPressed");
    }
  }
  inherited::MouseUp(button, shift, x, y);
}

void TsgCustomButton::KeyDown(uint16_t& key, char16_t& keyChar, TShiftState shift) {
  inherited::KeyDown(key, keyChar, shift);
  if (key == kEnter || key == kSpace) Click();
}

void TsgCustomButton::ApplyStyle() {
  inherited::ApplyStyle();
  // A fresh style shows the current state.
  RaiseTrigger("IsPressed");
}

// ---- TsgButton
CL_CLASS(TsgButton) {
  c.Bool("Default", &TsgButton::Default, &TsgButton::Default).Default(false);
  c.Bool("Cancel", &TsgButton::Cancel, &TsgButton::Cancel).Default(false);
}

void TsgButton::DialogKey(uint16_t& key, TShiftState shift) {
  inherited::DialogKey(key, shift);
  if (Default && key == kEnter) {
    // A focused button clicks on Enter itself, as desktop dialogs do.
    scene::TsgVisualObject* focused = Scene() ? Scene()->GetFocused() : nullptr;
    if (focused != this && dynamic_cast<TsgCustomButton*>(focused)) return;
    Click();
    key = 0;
    return;
  }
  if (Cancel && key == kEscape) {
    Click();
    key = 0;
  }
}

// ---- the plain descendants
CL_CLASS(TsgRoundButton) {}

CL_CLASS(TsgCircleButton) {}

TsgCircleButton::TsgCircleButton(TComponent* AOwner) : TsgButton(AOwner) {
  SetWidth(21);
  SetHeight(21);
}

CL_CLASS(TsgSpeedButton) {
  c.Bool("CanFocused", &TsgSpeedButton::CanFocused, &TsgSpeedButton::CanFocused).Default(false);
  c.Bool("RepeatClick", &TsgSpeedButton::RepeatClick, &TsgSpeedButton::SetRepeatClick)
      .Default(true);
}

TsgSpeedButton::TsgSpeedButton(TComponent* AOwner) : TsgCustomButton(AOwner) {
  CanFocused = false;
  SetRepeatClick(true);
  SetWidth(23);
  SetHeight(23);
}

CL_CLASS(TsgExpanderButton) {
  c.Bool("CanFocused", &TsgExpanderButton::CanFocused, &TsgExpanderButton::CanFocused)
      .Default(false);
}

TsgExpanderButton::TsgExpanderButton(TComponent* AOwner) : TsgCustomButton(AOwner) {
  CanFocused = false;
}

// ---- TsgPopupButton
CL_CLASS(TsgPopupButton) {
  c.Object("PopupMenu", &TsgPopupButton::PopupMenu, &TsgPopupButton::SetPopupMenu);
}

void TsgPopupButton::SetPopupMenu(TComponent* menu) {
  if (menu == menu_) return;
  if (menu_) RemoveFreeNotification(menu_);
  menu_ = menu;
  if (menu) FreeNotification(menu);
}

void TsgPopupButton::Notification(TComponent* component, classlib::TOperation operation) {
  inherited::Notification(component, operation);
  if (operation == classlib::TOperation::opRemove && component == menu_) menu_ = nullptr;
}

void TsgPopupButton::Click() {
  inherited::Click();
  scene::IsgScene* sc = Scene();
  scene::TsgPopupMenuHook hook = scene::PopupMenuHook();
  if (!menu_ || !sc || !hook) return;
  const scene::TsgPoint p = sc->LocalToScreen(LocalToAbsolute({0, Height()}));
  hook(menu_, static_cast<int>(classlib::Round(p.X)), static_cast<int>(classlib::Round(p.Y)), this);
}

// ---- TsgCloseButton
CL_CLASS(TsgCloseButton) {
  c.Bool("CloseForm", &TsgCloseButton::CloseForm, &TsgCloseButton::CloseForm).Default(true);
  c.Event("OnClick", &TsgCloseButton::OnClick, &TsgCloseButton::OnClick);
}

TsgCloseButton::TsgCloseButton(TComponent* AOwner) : TsgControl(AOwner) {
  CanFocused = false;
  SetWidth(20);
  SetHeight(20);
}

void TsgCloseButton::MouseDown(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseDown(button, shift, x, y);
  if (button == TMouseButton::mbLeft) pressing_ = true;
}

void TsgCloseButton::MouseUp(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseUp(button, shift, x, y);
  if (!pressing_) return;
  pressing_ = false;
  // Like every button: a press dragged off and released outside does nothing.
  if (!InsideLocal(this, x, y)) return;
  if (CloseForm)
    if (TComponent* form = SceneOwnerForm(this)) FormBridge()->CloseForm(form);
  if (OnClick) OnClick(this);
}

}  // namespace kelm::scenectrls

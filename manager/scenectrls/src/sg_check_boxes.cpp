// Check boxes, the path check box and radio buttons.
#include "scenectrls/sg_check_boxes.h"

#include <vector>

#include "classlib/classdef.h"
#include "scene/sg_classes.h"
#include "scene/sg_objects.h"

namespace kelm::scenectrls {

using classlib::TComponent;
using classlib::TVariant;
using scene::TMouseButton;
using scene::TShiftState;

namespace {
constexpr uint16_t kEnter = 13, kSpace = 32;

bool InsideLocal(const scene::TsgVisualObject* obj, float x, float y) {
  return x >= 0 && x <= obj->Width() && y >= 0 && y <= obj->Height();
}

// Shared by both classes: their published press and check state.
template <class Box>
void PublishToggle(classlib::ClassDef<Box>& c) {
  c.Object("BindingSource", &Box::BindingSource, &Box::SetBindingSource);
  c.Bool("CanFocused", &Box::CanFocused, &Box::CanFocused).Default(true);
  c.Bool("DisableFocusEffect", &Box::DisableFocusEffect, &Box::DisableFocusEffect).Default(false);
  c.Enum("TextAlign", &Box::TextAlign, &Box::SetTextAlign, &scene::TypeInfo_TsgTextAlign)
      .Default(scene::sgTextAlignNear);
  c.Event("OnChange", &Box::OnChange, &Box::OnChange);
  c.Bool("IsPressed", &Box::IsPressed, nullptr).Stored(false);
  c.Bool("IsChecked", &Box::IsChecked, &Box::SetIsChecked).Default(false);
}

void SetUpToggle(TsgTextControl* box) {
  box->AutoTranslate = true;
  box->AutoCapture = true;
  box->CanFocused = true;
  box->SetTextAlign(scene::sgTextAlignNear);
  box->SetWidth(120);
  box->SetHeight(19);
}

// Null for anything but a method reference.
bool ReadChangeEvent(const TVariant& value, classlib::TNotifyEvent& event) {
  if (!scene::IsVariantMethodRef(value)) return false;
  event = classlib::TNotifyEvent::FromMethod(scene::VariantToMethodRef(value));
  return true;
}
}  // namespace

// ---- the press state
void TsgTogglePress::Down(TsgTextControl* control, TMouseButton button) {
  if (button != TMouseButton::mbLeft) return;
  Pressing = IsPressed = true;
  control->StartTriggerAnimation(control, "IsPressed");
}

void TsgTogglePress::Move(TsgTextControl* control, TShiftState shift, float x, float y) {
  if (!shift.Contains(classlib::ssLeft) || !Pressing) return;
  const bool inside = InsideLocal(control, x, y);
  if (inside == IsPressed) return;
  IsPressed = inside;
  control->StartTriggerAnimation(control, "IsPressed");
}

bool TsgTogglePress::Up(TsgTextControl* control, float x, float y) {
  if (!Pressing) return false;
  // No trigger here: the styles show no release.
  Pressing = IsPressed = false;
  return InsideLocal(control, x, y);
}

// ---- TsgCheckBox
CL_CLASS(TsgCheckBox) { PublishToggle(c); }

TsgCheckBox::TsgCheckBox(TComponent* AOwner) : TsgTextControl(AOwner) { SetUpToggle(this); }

void TsgCheckBox::SetIsChecked(bool v) {
  if (v == isChecked_) return;
  isChecked_ = v;
  StartTriggerAnimation(this, "IsChecked");
  if (OnChange) OnChange(this);
}

TVariant TsgCheckBox::GetData() { return TVariant(isChecked_); }

void TsgCheckBox::SetData(const TVariant& value) {
  if (ReadChangeEvent(value, OnChange)) return;
  SetIsChecked(value.VarType() == classlib::TVarType::varBoolean && value.ToBoolean());
}

void TsgCheckBox::ApplyStyle() {
  inherited::ApplyStyle();
  StartTriggerAnimation(this, "IsChecked");
}

void TsgCheckBox::MouseDown(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseDown(button, shift, x, y);
  press_.Down(this, button);
}

void TsgCheckBox::MouseMove(TShiftState shift, float x, float y, float dx, float dy) {
  inherited::MouseMove(shift, x, y, dx, dy);
  press_.Move(this, shift, x, y);
}

void TsgCheckBox::MouseUp(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseUp(button, shift, x, y);
  if (press_.Up(this, x, y)) SetIsChecked(!isChecked_);
}

void TsgCheckBox::KeyDown(uint16_t& key, char16_t& keyChar, TShiftState shift) {
  inherited::KeyDown(key, keyChar, shift);
  if (key == kEnter || key == kSpace) SetIsChecked(!isChecked_);
}

// ---- TsgPathCheckBox
CL_CLASS(TsgPathCheckBox) { c.Object("Path", &TsgPathCheckBox::Path, &TsgPathCheckBox::SetPath); }

TsgPathCheckBox::TsgPathCheckBox(TComponent* AOwner)
    : TsgCheckBox(AOwner), path_(classlib::New<scene::TsgPathData>()) {
  path_->SetData(
      "M 341.236,311.738 L 309.372,342.676 L 291.667,325.488 L 291.667,304.863 L 309.372,321.997 "
      "L 341.236,291.113 Z");
  path_->OnChange = classlib::EventOf<&TsgPathCheckBox::PathChanged>(this);
}

TsgPathCheckBox::~TsgPathCheckBox() { classlib::Free(path_); }

void TsgPathCheckBox::PathChanged(classlib::TObject* sender) {
  (void)sender;
  ApplyStyle();
}

void TsgPathCheckBox::ApplyStyle() {
  inherited::ApplyStyle();
  if (auto* mark = dynamic_cast<scene::TsgPath*>(FindResource("checkmark")))
    mark->AssignData(path_);
}

// ---- TsgRadioButton
CL_CLASS(TsgRadioButton) {
  PublishToggle(c);
  c.Str("GroupName", &TsgRadioButton::GroupName, &TsgRadioButton::SetGroupName);
}

TsgRadioButton::TsgRadioButton(TComponent* AOwner) : TsgTextControl(AOwner) { SetUpToggle(this); }

void TsgRadioButton::SetIsChecked(bool v) {
  if (v == isChecked_) return;
  // Stored first: each member unchecked below then sees a checked member.
  if (v) isChecked_ = true;
  int members = 0, checkedMembers = 0;
  scene::IsgScene* sc = Scene();
  if (scene::TsgObject* root = sc ? sc->GetRoot() : nullptr) {
    std::vector<scene::TsgObject*> controls;
    root->CollectControls(controls);
    std::vector<TsgRadioButton*> group;
    for (scene::TsgObject* obj : controls) {
      auto* other = dynamic_cast<TsgRadioButton*>(obj);
      if (!other || other == this || other->groupName_ != groupName_) continue;
      ++members;
      if (other->isChecked_) ++checkedMembers;
      group.push_back(other);
    }
    if (v)
      for (TsgRadioButton* other : group) other->SetIsChecked(false);
  }
  // The last checked button of a group stays checked.
  if (!v && (members == 0 || checkedMembers == 0)) return;
  isChecked_ = v;
  StartTriggerAnimation(this, "IsChecked");
  if (OnChange) OnChange(this);
}

TVariant TsgRadioButton::GetData() { return TVariant(isChecked_); }

void TsgRadioButton::SetData(const TVariant& value) {
  if (ReadChangeEvent(value, OnChange)) return;
  SetIsChecked(value.VarType() == classlib::TVarType::varBoolean && value.ToBoolean());
}

void TsgRadioButton::ApplyStyle() {
  inherited::ApplyStyle();
  StartTriggerAnimation(this, "IsChecked");
}

void TsgRadioButton::MouseDown(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseDown(button, shift, x, y);
  press_.Down(this, button);
}

void TsgRadioButton::MouseMove(TShiftState shift, float x, float y, float dx, float dy) {
  inherited::MouseMove(shift, x, y, dx, dy);
  press_.Move(this, shift, x, y);
}

void TsgRadioButton::MouseUp(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseUp(button, shift, x, y);
  if (press_.Up(this, x, y)) SetIsChecked(!isChecked_);
}

void TsgRadioButton::KeyDown(uint16_t& key, char16_t& keyChar, TShiftState shift) {
  inherited::KeyDown(key, keyChar, shift);
  if (key == kEnter || key == kSpace) SetIsChecked(!isChecked_);
}

}  // namespace kelm::scenectrls

// The progress bar and the angle button.
#include "scenectrls/sg_value_controls.h"

#include "classlib/classdef.h"
#include "scene/sg_classes.h"
#include "scene/sg_objects.h"

namespace kelm::scenectrls {

using classlib::TComponent;
using classlib::TVariant;
using scene::TMouseButton;
using scene::TsgVisualObject;
using scene::TShiftState;

namespace {
bool IsNumber(const TVariant& v) {
  return v.VarType() == classlib::TVarType::varInteger ||
         v.VarType() == classlib::TVarType::varDouble;
}
}  // namespace

// ---- TsgProgressBar
CL_CLASS(TsgProgressBar) {
  c.Object("BindingSource", &TsgProgressBar::BindingSource, &TsgProgressBar::SetBindingSource);
  c.Float("Min", &TsgProgressBar::Min, &TsgProgressBar::SetMin, &classlib::TypeInfo_Single);
  c.Float("Max", &TsgProgressBar::Max, &TsgProgressBar::SetMax, &classlib::TypeInfo_Single)
      .FloatDefault(100);
  c.Enum("Orientation", &TsgProgressBar::Orientation, &TsgProgressBar::SetOrientation,
         &TypeInfo_TsgOrientation)
      .Default(sgHorizontal);
  c.Float("Value", &TsgProgressBar::Value, &TsgProgressBar::SetValue, &classlib::TypeInfo_Single);
}

TsgProgressBar::TsgProgressBar(TComponent* AOwner) : TsgControl(AOwner) {
  CanFocused = false;
  SetWidth(100);
  SetHeight(20);
}

void TsgProgressBar::SetValue(float v) {
  if (v == value_) return;
  value_ = v;
  Realign();
}

void TsgProgressBar::SetOrientation(TsgOrientation v) {
  if (v == orientation_) return;
  orientation_ = v;
  if (IsDesignTime() && !IsLoading()) {
    const float w = Width();
    SetWidth(Height());
    SetHeight(w);
  }
  Realign();
}

TVariant TsgProgressBar::GetData() { return TVariant(static_cast<double>(value_)); }

void TsgProgressBar::SetData(const TVariant& value) {
  SetValue(IsNumber(value) ? static_cast<float>(value.ToDouble()) : min_);
}

void TsgProgressBar::ApplyStyle() {
  inherited::ApplyStyle();
  const char* name = orientation_ == sgVertical ? "vindicator" : "hindicator";
  if (auto* indicator = dynamic_cast<TsgVisualObject*>(FindResource(name)))
    indicator->StartTriggerAnimation(this, "IsVisible");
  Realign();
}

void TsgProgressBar::Realign() {
  if (inRealign_) return;
  inRealign_ = true;
  try {
    const bool horizontal = orientation_ == sgHorizontal;
    auto part = [this](const char* name) {
      return dynamic_cast<TsgVisualObject*>(FindResource(name));
    };
    if (TsgVisualObject* other = part(horizontal ? "vtrack" : "htrack")) other->SetVisible(false);
    // The track of the orientation shows again after a turn.
    TsgVisualObject* track = part(horizontal ? "htrack" : "vtrack");
    if (track)
      track->SetVisible(true);
    else
      track = part("track");
    if (track && max_ > min_) {
      const float share = (value_ - min_) / (max_ - min_);
      TsgVisualObject* indicator = part(horizontal ? "hindicator" : "vindicator");
      if (TsgVisualObject* other = part(horizontal ? "vindicator" : "hindicator"))
        other->SetVisible(false);
      if (indicator) {
        const scene::TsgBounds* m = track->Margins();
        const scene::TsgBounds* p = indicator->Padding();
        float size = 0;
        if (horizontal) {
          size = share * (track->Width() - m->Left() - m->Right() - p->Left() - p->Right());
          indicator->SetWidth(size);
        } else {
          size = share * (track->Height() - m->Top() - m->Bottom() - p->Top() - p->Bottom());
          indicator->SetHeight(size);
        }
        indicator->SetVisible(size > 2);
      }
    }
    inherited::Realign();
  } catch (...) {
    inRealign_ = false;
    throw;
  }
  inRealign_ = false;
}

// ---- TsgAngleButton
CL_CLASS(TsgAngleButton) {
  c.Object("BindingSource", &TsgAngleButton::BindingSource, &TsgAngleButton::SetBindingSource);
  c.Float("Frequency", &TsgAngleButton::Frequency, &TsgAngleButton::Frequency,
          &classlib::TypeInfo_Single);
  c.Bool("Tracking", &TsgAngleButton::Tracking, &TsgAngleButton::Tracking).Default(true);
  c.Bool("ShowValue", &TsgAngleButton::ShowValue, &TsgAngleButton::SetShowValue).Default(false);
  c.Float("Value", &TsgAngleButton::Value, &TsgAngleButton::SetValue, &classlib::TypeInfo_Single);
  c.Event("OnChange", &TsgAngleButton::OnChange, &TsgAngleButton::OnChange);
}

TsgAngleButton::TsgAngleButton(TComponent* AOwner) : TsgControl(AOwner) {
  SetWidth(30);
  SetHeight(30);
  AutoCapture = true;
}

std::u16string TsgAngleButton::ValueText() const {
  // The degree sign itself, whatever the system's code page.
  return classlib::IntToStr(classlib::Round(value_)) + u"\u00B0";
}

void TsgAngleButton::UpdateTexts() {
  const std::u16string text = ValueText();
  if (auto* track = dynamic_cast<scene::TsgText*>(FindResource("tracktext"))) {
    track->SetVisible(false);
    track->SetText(text);
    track->SetOpacity(pressing_ && !Tracking ? 1 : 0);
  }
  if (auto* shown = dynamic_cast<scene::TsgText*>(FindResource("text"))) {
    shown->SetVisible(showValue_);
    shown->SetOpacity(showValue_ ? 1 : 0);
    shown->SetText(text);
  }
}

void TsgAngleButton::SetValue(float v) {
  if (Frequency != 0) v = Frequency * static_cast<float>(classlib::Round(v / Frequency));
  if (v == value_) return;
  value_ = v;
  if (auto* tick = dynamic_cast<TsgVisualObject*>(FindResource("tick")))
    tick->SetRotateAngle(-value_);
  else
    Repaint();
  UpdateTexts();
  if (OnChange && (!pressing_ || Tracking)) OnChange(this);
}

void TsgAngleButton::SetShowValue(bool v) {
  if (v == showValue_) return;
  showValue_ = v;
  UpdateTexts();
  Repaint();
}

TVariant TsgAngleButton::GetData() { return TVariant(static_cast<double>(value_)); }

void TsgAngleButton::SetData(const TVariant& value) {
  if (scene::IsVariantMethodRef(value))
    OnChange = classlib::TNotifyEvent::FromMethod(scene::VariantToMethodRef(value));
  else
    SetValue(IsNumber(value) ? static_cast<float>(value.ToDouble()) : 0);
}

void TsgAngleButton::ApplyStyle() {
  inherited::ApplyStyle();
  if (auto* tick = dynamic_cast<TsgVisualObject*>(FindResource("tick")))
    tick->SetRotateAngle(-value_);
  UpdateTexts();
}

void TsgAngleButton::MouseDown(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseDown(button, shift, x, y);
  if (button != TMouseButton::mbLeft) return;
  pressing_ = true;
  lastX_ = x;
  lastY_ = y;
  valueAtPress_ = value_;
  UpdateTexts();
}

void TsgAngleButton::MouseMove(TShiftState shift, float x, float y, float dx, float dy) {
  inherited::MouseMove(shift, x, y, dx, dy);
  if (!shift.Contains(classlib::ssLeft) || !pressing_) return;
  SetValue(scene::sgVectorAngle(scene::sgVector(1, 0, 0),
                                scene::sgVector(x - Width() / 2, y - Height() / 2, 0)));
  lastX_ = x;
  lastY_ = y;
  UpdateTexts();
}

void TsgAngleButton::MouseUp(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseUp(button, shift, x, y);
  if (!pressing_) return;
  pressing_ = false;
  UpdateTexts();
  if (value_ != valueAtPress_ && OnChange) OnChange(this);
}

}  // namespace kelm::scenectrls

// Thumbs, tracks, track bars and scroll bars.
#include "scenectrls/sg_tracks.h"

#include <cmath>

#include "classlib/classdef.h"
#include "scene/sg_classes.h"

namespace kelm::scenectrls {

using classlib::TComponent;
using classlib::TVariant;
using scene::TMouseButton;
using scene::TShiftState;

const classlib::TTypeInfo TypeInfo_TsgOrientation =
    classlib::EnumTypeInfo("TsgOrientation", {"sgHorizontal", "sgVertical"});

namespace {
constexpr uint16_t kEnd = 35, kHome = 36, kLeft = 37, kUp = 38, kRight = 39, kDown = 40;

bool IsNumber(const TVariant& v) {
  return v.VarType() == classlib::TVarType::varInteger ||
         v.VarType() == classlib::TVarType::varDouble;
}

// Exchanges Width and Height when the scene is being designed (not while
// loading): turning a control turns its frame.
void SwapSidesAtDesignTime(scene::TsgVisualObject* obj) {
  if (!obj->IsDesignTime() || obj->IsLoading()) return;
  const float w = obj->Width();
  obj->SetWidth(obj->Height());
  obj->SetHeight(w);
}
}  // namespace

// ---- TsgThumb
CL_CLASS(TsgThumb) {}

TsgThumb::TsgThumb(TComponent* AOwner) : TsgControl(AOwner) {
  CanFocused = false;
  AutoCapture = true;
}

void TsgThumb::MouseDown(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseDown(button, shift, x, y);
  if (button != TMouseButton::mbLeft || !Enabled()) return;
  pressing_ = true;
  pressX_ = x;
  pressY_ = y;
  if (track_) track_->SetFocus();
}

void TsgThumb::MouseMove(TShiftState shift, float x, float y, float dx, float dy) {
  inherited::MouseMove(shift, x, y, dx, dy);
  if (!pressing_ || !track_ || !Enabled() || !VisualParent()) return;
  const bool horizontal = track_->Orientation() == sgHorizontal;
  const scene::TsgPoint p = track_->AbsoluteToLocal(
      LocalToAbsolute(horizontal ? scene::TsgPoint{x, 0} : scene::TsgPoint{0, y}));
  const float length = horizontal ? track_->Width() : track_->Height();
  // No length to map a position onto.
  if (!(length > 0)) return;
  float along = horizontal ? p.X : p.Y;
  if (track_->ViewportSize() != 0) along -= horizontal ? pressX_ : pressY_;
  track_->SetValue(track_->Min() + along / length * (track_->Max() - track_->Min()));
}

void TsgThumb::MouseUp(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseUp(button, shift, x, y);
  if (!pressing_) return;
  pressing_ = false;
  // The drag changed the value silently: report its end once.
  if (track_ && !track_->Tracking()) track_->ReportValue();
}

// ---- TsgCustomTrack
CL_CLASS(TsgCustomTrack) {}

TsgCustomTrack::TsgCustomTrack(TComponent* AOwner) : TsgControl(AOwner) {
  SetWidth(100);
  SetHeight(15);
}

TsgThumb* TsgCustomTrack::Thumb() {
  auto* thumb = dynamic_cast<TsgThumb*>(FindResource("thumb"));
  if (thumb) thumb->SetTrack(this);
  return thumb;
}

bool TsgCustomTrack::Dragging() {
  TsgThumb* thumb = Thumb();
  return thumb && thumb->Pressing();
}

void TsgCustomTrack::SetValue(float v) {
  if (frequency_ != 0) v = frequency_ * static_cast<float>(classlib::Round(v / frequency_));
  if (v == value_) return;
  value_ = v;
  if (value_ > max_ - viewportSize_) value_ = max_ - viewportSize_;
  if (value_ < min_) value_ = min_;
  const bool dragging = Dragging();
  if (dragging && OnTracking) OnTracking(this);
  if (tracking_ && !BindingTargets().empty()) NotifyBindingTargets();
  if (OnChange && !(dragging && !tracking_)) OnChange(this);
  Realign();
}

void TsgCustomTrack::ReportValue() {
  if (!BindingTargets().empty()) NotifyBindingTargets();
  if (OnChange) OnChange(this);
}

void TsgCustomTrack::StoreRange(float min, float max, float value) {
  min_ = min;
  max_ = max;
  value_ = value;
}

void TsgCustomTrack::SetMax(float v) {
  if (v == max_) return;
  max_ = v;
  if (max_ < min_) max_ = min_ + 0.001f;
  // The viewport first, then the value, stored without a report.
  if (viewportSize_ > max_ - min_) viewportSize_ = max_ - min_;
  if (value_ > max_ - viewportSize_) value_ = max_ - viewportSize_;
  Realign();
}

void TsgCustomTrack::SetMin(float v) {
  if (v == min_) return;
  min_ = v;
  Realign();
}

void TsgCustomTrack::SetFrequency(float v) {
  if (v == frequency_) return;
  frequency_ = v;
  if (v != 0) SetValue(v * static_cast<float>(classlib::Round(value_ / v)));
}

void TsgCustomTrack::SetViewportSize(float v) {
  if (v == viewportSize_) return;
  viewportSize_ = v;
  if (viewportSize_ > max_ - min_) viewportSize_ = max_ - min_;
  if (max_ - viewportSize_ < value_) SetValue(max_ - viewportSize_);
  Realign();
}

void TsgCustomTrack::SetOrientation(TsgOrientation v) {
  if (v == orientation_) return;
  orientation_ = v;
  SwapSidesAtDesignTime(this);
  Realign();
}

scene::TsgRect TsgCustomTrack::GetThumbRect() {
  const float w = Width(), h = Height();
  const float range = max_ - min_;
  scene::TsgRect r{0, 0, w, h};
  if (range > 0) {
    const bool horizontal = orientation_ == sgHorizontal;
    const float length = horizontal ? w : h;
    const float thickness = horizontal ? h : w;
    float size = viewportSize_ / range * length;
    float start = static_cast<float>(classlib::Round((value_ - min_) / range * length));
    // Too short to grab: as long as the track is thick, centred on its start.
    if (size < thickness) {
      const auto half = static_cast<float>(classlib::Trunc(thickness / 2));
      start -= half;
      size = 2 * half;
    }
    if (start + size > length) start = length - size;
    if (start < 0) start = 0;
    r = horizontal ? scene::TsgRect{start, 0, start + size, h}
                   : scene::TsgRect{0, start, w, start + size};
  }
  TsgThumb* thumb = Thumb();
  scene::TsgVisualObject* parent = thumb ? thumb->VisualParent() : nullptr;
  if (!parent) return r;
  const scene::TsgBounds* m = parent->Margins();
  const scene::TsgBounds* p = thumb->Padding();
  // Minus the right padding, as the styles were drawn for.
  if (r.Right - r.Left > m->Left() + p->Left() + m->Right() - p->Right()) {
    r.Left += m->Left() + p->Left();
    r.Right -= m->Right() + p->Right();
  }
  r.Top += m->Top() + p->Top();
  r.Bottom -= m->Bottom() + p->Bottom();
  return r;
}

void TsgCustomTrack::Realign() {
  inherited::Realign();
  TsgThumb* thumb = Thumb();
  if (!thumb) return;
  const scene::TsgRect r = GetThumbRect();
  thumb->Position()->SetPoint({r.Left, r.Top});
  const auto w = static_cast<float>(classlib::Round(r.Right - r.Left));
  const auto h = static_cast<float>(classlib::Round(r.Bottom - r.Top));
  if (w > 0) thumb->SetWidth(w);
  if (h > 0) thumb->SetHeight(h);
}

void TsgCustomTrack::MouseDown(TMouseButton button, TShiftState shift, float x, float y) {
  inherited::MouseDown(button, shift, x, y);
  if (button != TMouseButton::mbLeft) return;
  const bool horizontal = orientation_ == sgHorizontal;
  const float length = horizontal ? Width() : Height();
  if (!(length > 0)) return;
  const float pressed = min_ + (horizontal ? x : y) / length * (max_ - min_);
  if (viewportSize_ == 0)
    SetValue(pressed);
  else
    SetValue(pressed > value_ ? value_ + viewportSize_ : value_ - viewportSize_);
}

void TsgCustomTrack::KeyDown(uint16_t& key, char16_t& keyChar, TShiftState shift) {
  inherited::KeyDown(key, keyChar, shift);
  const float step = frequency_ != 0 ? frequency_ : 1;
  float to = 0;
  switch (key) {
    case kEnd:
      to = max_;
      break;
    case kHome:
      to = min_;
      break;
    case kLeft:
    case kUp:
      to = value_ - step;
      break;
    case kRight:
    case kDown:
      to = value_ + step;
      break;
    default:
      return;
  }
  SetValue(to);
  if (!tracking_ && OnChange) OnChange(this);
  key = 0;
}

TVariant TsgCustomTrack::GetData() { return TVariant(static_cast<double>(value_)); }

void TsgCustomTrack::SetData(const TVariant& value) {
  if (scene::IsVariantMethodRef(value))
    OnChange = classlib::TNotifyEvent::FromMethod(scene::VariantToMethodRef(value));
  else if (IsNumber(value))
    SetValue(static_cast<float>(value.ToDouble()));
  else
    SetValue(min_);
}

// ---- the published classes
namespace {
template <class T>
void PublishTrack(classlib::ClassDef<T>& c, bool viewport) {
  c.Object("BindingSource", &T::BindingSource, &T::SetBindingSource);
  c.Float("Min", &T::Min, &T::SetMin, &classlib::TypeInfo_Single);
  c.Float("Max", &T::Max, &T::SetMax, &classlib::TypeInfo_Single).FloatDefault(100);
  c.Float("Frequency", &T::Frequency, &T::SetFrequency, &classlib::TypeInfo_Single);
  c.Enum("Orientation", &T::Orientation, &T::SetOrientation, &TypeInfo_TsgOrientation)
      .Default(sgHorizontal);
  c.Float("Value", &T::Value, &T::SetValue, &classlib::TypeInfo_Single);
  if (viewport)
    c.Float("ViewportSize", &T::ViewportSize, &T::SetViewportSize, &classlib::TypeInfo_Single);
  c.Bool("Tracking", &T::Tracking, &T::SetTracking).Default(true);
  c.Event("OnChange", &T::OnChange, &T::OnChange);
}
}  // namespace

CL_CLASS(TsgTrack) { PublishTrack(c, true); }

CL_CLASS(TsgTrackBar) {
  PublishTrack(c, false);
  c.Bool("CanFocused", &TsgTrackBar::CanFocused, &TsgTrackBar::CanFocused).Default(true);
  c.Bool("DisableFocusEffect", &TsgTrackBar::DisableFocusEffect, &TsgTrackBar::DisableFocusEffect)
      .Default(false);
}

TsgTrackBar::TsgTrackBar(TComponent* AOwner) : TsgCustomTrack(AOwner) { CanFocused = true; }

void TsgTrackBar::SetMax(float v) {
  if (v != Max()) inherited::SetMax(v);
}

// ---- TsgScrollBar
CL_CLASS(TsgScrollBar) {
  c.Object("BindingSource", &TsgScrollBar::BindingSource, &TsgScrollBar::SetBindingSource);
  c.Float("Min", &TsgScrollBar::Min, &TsgScrollBar::SetMin, &classlib::TypeInfo_Single);
  c.Float("Max", &TsgScrollBar::Max, &TsgScrollBar::SetMax, &classlib::TypeInfo_Single)
      .FloatDefault(100);
  c.Enum("Orientation", &TsgScrollBar::Orientation, &TsgScrollBar::SetOrientation,
         &TypeInfo_TsgOrientation)
      .Default(sgHorizontal);
  c.Float("Value", &TsgScrollBar::Value, &TsgScrollBar::SetValue, &classlib::TypeInfo_Single);
  c.Float("ViewportSize", &TsgScrollBar::ViewportSize, &TsgScrollBar::SetViewportSize,
          &classlib::TypeInfo_Single);
  c.Float("SmallChange", &TsgScrollBar::SmallChange, &TsgScrollBar::SmallChange,
          &classlib::TypeInfo_Single)
      .FloatDefault(1);
  c.Event("OnChange", &TsgScrollBar::OnChange, &TsgScrollBar::OnChange);
}

TsgScrollBar::TsgScrollBar(TComponent* AOwner) : TsgControl(AOwner) {
  SetWidth(150);
  SetHeight(18);
}

void TsgScrollBar::SetValue(float v) {
  if (v == value_) return;
  value_ = v;
  if (value_ > max_ - viewportSize_) value_ = max_ - viewportSize_;
  if (value_ < min_) value_ = min_;
  if (!BindingTargets().empty()) NotifyBindingTargets();
  if (OnChange) OnChange(this);
  Realign();
}

void TsgScrollBar::SetMax(float v) {
  if (v == max_) return;
  max_ = v;
  if (max_ < min_) max_ = min_ + 0.001f;
  // The value first, through its setter (it reports), then the viewport.
  if (value_ > max_ - viewportSize_) SetValue(max_ - viewportSize_);
  if (viewportSize_ > max_ - min_) viewportSize_ = max_ - min_;
  Realign();
}

void TsgScrollBar::SetMin(float v) {
  if (v == min_) return;
  min_ = v;
  if (value_ < min_) SetValue(min_);
  Realign();
}

void TsgScrollBar::SetViewportSize(float v) {
  if (v == viewportSize_) return;
  viewportSize_ = v;
  if (viewportSize_ > max_ - min_) viewportSize_ = max_ - min_;
  if (value_ > max_ - viewportSize_) SetValue(max_ - viewportSize_);
  Realign();
}

void TsgScrollBar::SetOrientation(TsgOrientation v) {
  if (v == orientation_) return;
  orientation_ = v;
  SwapSidesAtDesignTime(this);
  Realign();
}

TVariant TsgScrollBar::GetData() { return TVariant(static_cast<double>(value_)); }

void TsgScrollBar::SetData(const TVariant& value) {
  if (scene::IsVariantMethodRef(value))
    OnChange = classlib::TNotifyEvent::FromMethod(scene::VariantToMethodRef(value));
  else if (IsNumber(value))
    SetValue(static_cast<float>(value.ToDouble()));
  else
    SetValue(min_);
}

void TsgScrollBar::UpdateTrack(const char* part, TsgOrientation orientation) {
  auto* track = dynamic_cast<TsgCustomTrack*>(FindResource(part));
  if (!track) return;
  track->SetOrientation(orientation);
  track->StoreRange(min_, max_, value_);
  track->SetViewportSize(viewportSize_);
  track->SetVisible(orientation_ == orientation);
  track->OnChange = classlib::EventOf<&TsgScrollBar::TrackChanged>(this);
  track->CanFocused = false;
  if (track->Visible()) track->Realign();
}

void TsgScrollBar::UpdateButton(const char* part, bool visible, bool increment) {
  auto* button = dynamic_cast<TsgCustomButton*>(FindResource(part));
  if (!button) return;
  button->SetVisible(visible);
  button->OnClick = increment ? classlib::EventOf<&TsgScrollBar::Increment>(this)
                              : classlib::EventOf<&TsgScrollBar::Decrement>(this);
  button->CanFocused = false;
}

void TsgScrollBar::Realign() {
  // A track's OnChange sets Value, which realigns again.
  if (inRealign_) return;
  inRealign_ = true;
  try {
    UpdateTrack("htrack", sgHorizontal);
    UpdateTrack("vtrack", sgVertical);
    const bool horizontal = orientation_ == sgHorizontal;
    UpdateButton("leftbutton", horizontal, false);
    UpdateButton("topbutton", !horizontal, false);
    UpdateButton("rightbutton", horizontal, true);
    UpdateButton("bottombutton", !horizontal, true);
    inherited::Realign();
  } catch (...) {
    inRealign_ = false;
    throw;
  }
  inRealign_ = false;
}

void TsgScrollBar::TrackChanged(classlib::TObject* sender) {
  SetValue(static_cast<TsgCustomTrack*>(sender)->Value());
}

void TsgScrollBar::Decrement(classlib::TObject* sender) {
  (void)sender;
  SetValue(value_ - SmallChange);
}

void TsgScrollBar::Increment(classlib::TObject* sender) {
  (void)sender;
  SetValue(value_ + SmallChange);
}

CL_CLASS(TsgSmallScrollBar) {}

TsgSmallScrollBar::TsgSmallScrollBar(TComponent* AOwner) : TsgScrollBar(AOwner) { SetHeight(8); }

}  // namespace kelm::scenectrls

// The animation classes and the visual object's code-made float animations.
#include "scene/sg_animations.h"

#include <algorithm>
#include <cmath>
#include <thread>

#include "classlib/classdef.h"
#include "scene/sg_canvas.h"
#include "scene/sg_classes.h"
#include "scene/sg_visual.h"

namespace kelm::scene {

using classlib::TComponent;
using classlib::TObject;
using classlib::TPropInfo;
using classlib::TTypeKind;

namespace {

constexpr float Pi = 3.14159265358979f;

// Hears when a watched component is freed while a wait pumps messages.
class TAnimationWatch : public TComponent {
 public:
  TAnimationWatch() : TComponent(nullptr) {}
  void Watch(TComponent* c) { FreeNotification(c); }
  bool Gone(TComponent* c) const { return std::find(gone_.begin(), gone_.end(), c) != gone_.end(); }
  void Notification(TComponent* component, classlib::TOperation operation) override {
    TComponent::Notification(component, operation);
    if (operation == classlib::TOperation::opRemove) gone_.push_back(component);
  }

 private:
  std::vector<TComponent*> gone_;
};

// Draws over (at opacity) onto a copy of base, into work.
void CrossFade(TsgBitmap* work, TsgBitmap* base, TsgBitmap* over, float opacity) {
  work->Assign(base);
  TsgCanvas* canvas = work->GetCanvas();
  if (!canvas || over->IsEmpty()) return;
  if (!canvas->BeginScene()) return;
  canvas->DrawBitmap(
      over, TsgRect{0, 0, static_cast<float>(over->Width()), static_cast<float>(over->Height())},
      TsgRect{0, 0, static_cast<float>(work->Width()), static_cast<float>(work->Height())}, opacity,
      false);
  canvas->EndScene();
}

}  // namespace

// ---- the target
void TsgAnimationTarget::Resolve(TsgObject* parent, const std::string& propertyName,
                                 TComponent* watcher) {
  if (!parent || propertyName.empty() || Resolved()) return;
  TObject* obj = parent;
  TComponent* holder = nullptr;
  std::string name = propertyName;
  for (size_t dot = name.find('.'); dot != std::string::npos; dot = name.find('.')) {
    const std::string segment = name.substr(0, dot);
    name.erase(0, dot + 1);
    const TPropInfo* p = classlib::GetPropInfo(obj, segment);
    if (p && p->Kind() == TTypeKind::Class && p->GetObj)
      if (TObject* next = p->GetObj(obj)) {
        obj = next;
        if (next->InheritsFrom(TComponent::StaticClass())) holder = static_cast<TComponent*>(next);
      }
  }
  Object = obj;
  Name = name;
  Holder = holder;
  if (holder && watcher) watcher->FreeNotification(holder);
}

const TPropInfo* TsgAnimationTarget::Prop() const {
  return Object ? classlib::GetPropInfo(Object, Name) : nullptr;
}

bool TsgAnimationTarget::ReadFloat(float& v) const {
  const TPropInfo* p = Prop();
  if (!p || p->Kind() != TTypeKind::Float || !p->GetFloat) return false;
  v = static_cast<float>(p->GetFloat(Object));
  return true;
}

void TsgAnimationTarget::WriteFloat(float v) const {
  const TPropInfo* p = Prop();
  if (p && p->Kind() == TTypeKind::Float && p->SetFloat) p->SetFloat(Object, v);
}

bool TsgAnimationTarget::ReadColor(TsgColor& c) const {
  const TPropInfo* p = Prop();
  if (!p) return false;
  if (p->Kind() == TTypeKind::String && p->GetStr) {
    c = sgStrToColor(p->GetStr(Object));
    return true;
  }
  if (p->Kind() == TTypeKind::Integer && p->GetOrd) {
    c = static_cast<TsgColor>(p->GetOrd(Object));
    return true;
  }
  return false;
}

void TsgAnimationTarget::WriteColor(TsgColor c) const {
  const TPropInfo* p = Prop();
  if (!p) return;
  if (p->Kind() == TTypeKind::String && p->SetStr) {
    p->SetStr(Object, sgColorToStr(c));
  } else if (p->Kind() == TTypeKind::Integer && p->SetOrd) {
    // A signed 32-bit property holds the same bits as a negative number.
    const int64_t v = p->PropType->MinValue < 0 ? static_cast<int64_t>(static_cast<int32_t>(c))
                                                : static_cast<int64_t>(c);
    p->SetOrd(Object, v);
  }
}

TObject* TsgAnimationTarget::ReadObject() const {
  const TPropInfo* p = Prop();
  if (!p || p->Kind() != TTypeKind::Class || !p->GetObj) return nullptr;
  return p->GetObj(Object);
}

void TsgAnimationTarget::WriteObject(TObject* value, classlib::TClass cls) const {
  const TPropInfo* p = Prop();
  if (p && p->Kind() == TTypeKind::Class && p->SetObj && p->PropType->ClassType() == cls)
    p->SetObj(Object, value);
}

// ---- float
CL_CLASS(TsgFloatAnimation) {
  c.Float("StartValue", &TsgFloatAnimation::StartValue, &TsgFloatAnimation::SetStartValue,
          &classlib::TypeInfo_Single);
  c.Float("StopValue", &TsgFloatAnimation::StopValue, &TsgFloatAnimation::SetStopValue,
          &classlib::TypeInfo_Single);
  c.Bool("StartFromCurrent", &TsgFloatAnimation::StartFromCurrent,
         &TsgFloatAnimation::SetStartFromCurrent)
      .Default(false);
  c.Str("PropertyName", &TsgFloatAnimation::PropertyName, &TsgFloatAnimation::SetPropertyName);
}

TsgFloatAnimation::TsgFloatAnimation(TComponent* AOwner) : TsgAnimation(AOwner) {}

void TsgFloatAnimation::Start() {
  target_.Resolve(Parent(), propertyName_, this);
  if (startFromCurrent_) target_.ReadFloat(startValue_);
  TsgAnimation::Start();
}

void TsgFloatAnimation::ProcessAnimation() {
  if (target_.Resolved())
    target_.WriteFloat(sgInterpolateFloat(startValue_, stopValue_, NormalizedTime()));
}

void TsgFloatAnimation::FreeOnFinish(TObject* sender) {
  (void)sender;
  classlib::Free(this);
}

// ---- colour
CL_CLASS(TsgColorAnimation) {
  c.Str("StartValue", &TsgColorAnimation::StartValue, &TsgColorAnimation::SetStartValue);
  c.Str("StopValue", &TsgColorAnimation::StopValue, &TsgColorAnimation::SetStopValue);
  c.Bool("StartFromCurrent", &TsgColorAnimation::StartFromCurrent,
         &TsgColorAnimation::SetStartFromCurrent)
      .Default(false);
  c.Str("PropertyName", &TsgColorAnimation::PropertyName, &TsgColorAnimation::SetPropertyName);
}

TsgColorAnimation::TsgColorAnimation(TComponent* AOwner) : TsgAnimation(AOwner) {}

void TsgColorAnimation::Start() {
  target_.Resolve(Parent(), propertyName_, this);
  if (startFromCurrent_) target_.ReadColor(startValue_);
  TsgAnimation::Start();
}

void TsgColorAnimation::ProcessAnimation() {
  if (target_.Resolved())
    target_.WriteColor(sgInterpolateColor(startValue_, stopValue_, NormalizedTime()));
}

// ---- gradient
CL_CLASS(TsgGradientAnimation) {
  c.Object("StartValue", &TsgGradientAnimation::StartValue, &TsgGradientAnimation::SetStartValue);
  c.Object("StopValue", &TsgGradientAnimation::StopValue, &TsgGradientAnimation::SetStopValue);
  c.Bool("StartFromCurrent", &TsgGradientAnimation::StartFromCurrent,
         &TsgGradientAnimation::SetStartFromCurrent)
      .Default(false);
  c.Str("PropertyName", &TsgGradientAnimation::PropertyName,
        &TsgGradientAnimation::SetPropertyName);
}

TsgGradientAnimation::TsgGradientAnimation(TComponent* AOwner)
    : TsgAnimation(AOwner),
      startValue_(classlib::New<TsgGradient>()),
      stopValue_(classlib::New<TsgGradient>()) {}

TsgGradientAnimation::~TsgGradientAnimation() {
  classlib::Free(stopValue_);
  classlib::Free(startValue_);
}

void TsgGradientAnimation::Start() {
  target_.Resolve(Parent(), propertyName_, this);
  if (startFromCurrent_) {
    TObject* g = target_.ReadObject();
    if (g && g->InheritsFrom(TsgGradient::StaticClass()))
      startValue_->Assign(static_cast<TsgGradient*>(g));
  }
  TsgAnimation::Start();
}

void TsgGradientAnimation::ProcessAnimation() {
  TObject* obj = target_.ReadObject();
  if (!obj || !obj->InheritsFrom(TsgGradient::StaticClass())) return;
  auto* g = static_cast<TsgGradient*>(obj);
  const int n = std::min(
      {startValue_->Points()->Count(), stopValue_->Points()->Count(), g->Points()->Count()});
  const float t = NormalizedTime();
  for (int i = 0; i < n; ++i)
    g->Points()->Points(i)->SetIntColor(
        sgInterpolateColor(startValue_->Points()->Points(i)->IntColor(),
                           stopValue_->Points()->Points(i)->IntColor(), t));
  g->Changed();
}

// ---- rectangle
CL_CLASS(TsgRectAnimation) {
  c.Object("StartValue", &TsgRectAnimation::StartValue, &TsgRectAnimation::SetStartValue);
  c.Object("StopValue", &TsgRectAnimation::StopValue, &TsgRectAnimation::SetStopValue);
  c.Bool("StartFromCurrent", &TsgRectAnimation::StartFromCurrent,
         &TsgRectAnimation::SetStartFromCurrent)
      .Default(false);
  c.Str("PropertyName", &TsgRectAnimation::PropertyName, &TsgRectAnimation::SetPropertyName);
}

TsgRectAnimation::TsgRectAnimation(TComponent* AOwner)
    : TsgAnimation(AOwner),
      startValue_(classlib::New<TsgBounds>(TsgRect{})),
      stopValue_(classlib::New<TsgBounds>(TsgRect{})),
      current_(classlib::New<TsgBounds>(TsgRect{})) {}

TsgRectAnimation::~TsgRectAnimation() {
  classlib::Free(current_);
  classlib::Free(stopValue_);
  classlib::Free(startValue_);
}

void TsgRectAnimation::Start() {
  target_.Resolve(Parent(), propertyName_, this);
  if (startFromCurrent_) {
    TObject* b = target_.ReadObject();
    if (b && b->InheritsFrom(TsgBounds::StaticClass()))
      startValue_->Assign(static_cast<TsgBounds*>(b));
  }
  TsgAnimation::Start();
}

void TsgRectAnimation::ProcessAnimation() {
  if (!target_.Resolved()) return;
  const float t = NormalizedTime();
  const TsgRect a = startValue_->GetRect(), b = stopValue_->GetRect();
  current_->SetRect(
      TsgRect{sgInterpolateFloat(a.Left, b.Left, t), sgInterpolateFloat(a.Top, b.Top, t),
              sgInterpolateFloat(a.Right, b.Right, t), sgInterpolateFloat(a.Bottom, b.Bottom, t)});
  target_.WriteObject(current_, TsgBounds::StaticClass());
}

// ---- bitmap
CL_CLASS(TsgBitmapAnimation) {
  c.Object("StartValue", &TsgBitmapAnimation::StartValue, &TsgBitmapAnimation::SetStartValue);
  c.Object("StopValue", &TsgBitmapAnimation::StopValue, &TsgBitmapAnimation::SetStopValue);
  c.Str("PropertyName", &TsgBitmapAnimation::PropertyName, &TsgBitmapAnimation::SetPropertyName);
}

TsgBitmapAnimation::TsgBitmapAnimation(TComponent* AOwner)
    : TsgAnimation(AOwner),
      startValue_(classlib::New<TsgBitmap>(1, 1)),
      stopValue_(classlib::New<TsgBitmap>(1, 1)),
      current_(classlib::New<TsgBitmap>()) {}

TsgBitmapAnimation::~TsgBitmapAnimation() {
  classlib::Free(current_);
  classlib::Free(stopValue_);
  classlib::Free(startValue_);
}

void TsgBitmapAnimation::ProcessAnimation() {
  target_.Resolve(Parent(), propertyName_, this);
  if (!target_.Resolved()) return;
  const float t = NormalizedTime();
  if (Inverse())
    CrossFade(current_, stopValue_, startValue_, 1 - t);
  else
    CrossFade(current_, startValue_, stopValue_, t);
  target_.WriteObject(current_, TsgBitmap::StaticClass());
}

// ---- bitmap strip
CL_CLASS(TsgBitmapListAnimation) {
  c.Str("PropertyName", &TsgBitmapListAnimation::PropertyName,
        &TsgBitmapListAnimation::SetPropertyName);
  c.Object("AnimationBitmap", &TsgBitmapListAnimation::AnimationBitmap,
           &TsgBitmapListAnimation::SetAnimationBitmap);
  c.Int("AnimationCount", &TsgBitmapListAnimation::AnimationCount,
        &TsgBitmapListAnimation::SetAnimationCount)
      .Default(1);
}

TsgBitmapListAnimation::TsgBitmapListAnimation(TComponent* AOwner)
    : TsgAnimation(AOwner),
      strip_(classlib::New<TsgBitmap>()),
      current_(classlib::New<TsgBitmap>()) {}

TsgBitmapListAnimation::~TsgBitmapListAnimation() {
  classlib::Free(current_);
  classlib::Free(strip_);
}

int TsgBitmapListAnimation::FrameIndex() const {
  if (count_ < 1) return -1;
  const float v = sgInterpolateFloat(0, static_cast<float>(count_ - 1), NormalizedTime());
  // Easing curves that overshoot (back, elastic) would name frames that
  // are not in the strip.
  return std::clamp(static_cast<int>(std::trunc(v)), 0, count_ - 1);
}

void TsgBitmapListAnimation::ProcessAnimation() {
  target_.Resolve(Parent(), propertyName_, this);
  TObject* obj = target_.ReadObject();
  const int frame = FrameIndex();
  if (!obj || !obj->InheritsFrom(TsgBitmap::StaticClass()) || frame < 0) return;
  auto* shown = static_cast<TsgBitmap*>(obj);
  current_->SetSize(shown->Width(), shown->Height());
  current_->Clear(0);
  const int frameWidth = strip_->Width() / count_;
  const float x = static_cast<float>(frame * (frameWidth + 1));
  if (TsgCanvas* canvas = current_->GetCanvas();
      canvas && !strip_->IsEmpty() && canvas->BeginScene()) {
    const auto w = static_cast<float>(frameWidth), h = static_cast<float>(strip_->Height());
    canvas->DrawBitmap(strip_, TsgRect{x, 0, x + w, h}, TsgRect{0, 0, w, h}, 1, false);
    canvas->EndScene();
  }
  target_.WriteObject(current_, TsgBitmap::StaticClass());
}

// ---- key frames
CL_CLASS(TsgKey) { c.Float("Key", &TsgKey::Key, &TsgKey::SetKey, &classlib::TypeInfo_Single); }

TsgKey::TsgKey(classlib::TCollection* collection) : TCollectionItem(collection) {}

void TsgKey::SetKey(float v) { key_ = std::clamp(v, 0.0f, 1.0f); }

void TsgKey::Assign(classlib::TPersistent* source) {
  if (source && source->InheritsFrom(TsgKey::StaticClass())) {
    key_ = static_cast<TsgKey*>(source)->key_;
    return;
  }
  TCollectionItem::Assign(source);
}

CL_CLASS(TsgColorKey) { c.Str("Value", &TsgColorKey::Value, &TsgColorKey::SetValue); }

TsgColorKey::TsgColorKey(classlib::TCollection* collection) : TsgKey(collection) {}

void TsgColorKey::Assign(classlib::TPersistent* source) {
  TsgKey::Assign(source);
  if (source && source->InheritsFrom(TsgColorKey::StaticClass()))
    value_ = static_cast<TsgColorKey*>(source)->value_;
}

CL_CLASS(TsgFloatKey) {
  c.Float("Value", &TsgFloatKey::Value, &TsgFloatKey::SetValue, &classlib::TypeInfo_Single);
}

TsgFloatKey::TsgFloatKey(classlib::TCollection* collection) : TsgKey(collection) {}

void TsgFloatKey::Assign(classlib::TPersistent* source) {
  TsgKey::Assign(source);
  if (source && source->InheritsFrom(TsgFloatKey::StaticClass()))
    value_ = static_cast<TsgFloatKey*>(source)->value_;
}

CL_CLASS(TsgKeys) {}

TsgKeys::TsgKeys(classlib::TClass itemClass) : TCollection(itemClass) {}

bool TsgKeys::FindKeys(float t, int& k, float& fraction) const {
  for (int i = 0; i + 1 < Count(); ++i) {
    const float a = Keys(i)->Key(), b = Keys(i + 1)->Key();
    if (a <= t && t <= b) {
      if (a == b) return false;
      k = i;
      fraction = (t - a) / (b - a);
      return true;
    }
  }
  return false;
}

CL_CLASS(TsgColorKeyAnimation) {
  c.Str("PropertyName", &TsgColorKeyAnimation::PropertyName,
        &TsgColorKeyAnimation::SetPropertyName);
  c.Object("Keys", &TsgColorKeyAnimation::Keys, &TsgColorKeyAnimation::SetKeys);
  c.Bool("StartFromCurrent", &TsgColorKeyAnimation::StartFromCurrent,
         &TsgColorKeyAnimation::SetStartFromCurrent)
      .Default(false);
}

TsgColorKeyAnimation::TsgColorKeyAnimation(TComponent* AOwner)
    : TsgAnimation(AOwner), keys_(classlib::New<TsgKeys>(TsgColorKey::StaticClass())) {}

TsgColorKeyAnimation::~TsgColorKeyAnimation() { classlib::Free(keys_); }

void TsgColorKeyAnimation::Start() {
  target_.Resolve(Parent(), propertyName_, this);
  TsgColor c = 0;
  if (startFromCurrent_ && keys_->Count() > 0 && target_.ReadColor(c))
    static_cast<TsgColorKey*>(keys_->Keys(0))->SetIntValue(c);
  TsgAnimation::Start();
}

void TsgColorKeyAnimation::ProcessAnimation() {
  int k = 0;
  float f = 0;
  if (!target_.Resolved() || !keys_->FindKeys(NormalizedTime(), k, f)) return;
  target_.WriteColor(sgInterpolateColor(static_cast<TsgColorKey*>(keys_->Keys(k))->IntValue(),
                                        static_cast<TsgColorKey*>(keys_->Keys(k + 1))->IntValue(),
                                        f));
}

CL_CLASS(TsgFloatKeyAnimation) {
  c.Str("PropertyName", &TsgFloatKeyAnimation::PropertyName,
        &TsgFloatKeyAnimation::SetPropertyName);
  c.Object("Keys", &TsgFloatKeyAnimation::Keys, &TsgFloatKeyAnimation::SetKeys);
  c.Bool("StartFromCurrent", &TsgFloatKeyAnimation::StartFromCurrent,
         &TsgFloatKeyAnimation::SetStartFromCurrent)
      .Default(false);
}

TsgFloatKeyAnimation::TsgFloatKeyAnimation(TComponent* AOwner)
    : TsgAnimation(AOwner), keys_(classlib::New<TsgKeys>(TsgFloatKey::StaticClass())) {}

TsgFloatKeyAnimation::~TsgFloatKeyAnimation() { classlib::Free(keys_); }

void TsgFloatKeyAnimation::Start() {
  target_.Resolve(Parent(), propertyName_, this);
  float v = 0;
  if (startFromCurrent_ && keys_->Count() > 0 && target_.ReadFloat(v))
    static_cast<TsgFloatKey*>(keys_->Keys(0))->SetValue(v);
  TsgAnimation::Start();
}

void TsgFloatKeyAnimation::ProcessAnimation() {
  int k = 0;
  float f = 0;
  if (!target_.Resolved() || !keys_->FindKeys(NormalizedTime(), k, f)) return;
  target_.WriteFloat(sgInterpolateFloat(static_cast<TsgFloatKey*>(keys_->Keys(k))->Value(),
                                        static_cast<TsgFloatKey*>(keys_->Keys(k + 1))->Value(), f));
}

// ---- path
CL_CLASS(TsgPathAnimation) {
  c.Object("Path", &TsgPathAnimation::Path, &TsgPathAnimation::SetPath);
  c.Bool("Rotate", &TsgPathAnimation::Rotate, &TsgPathAnimation::SetRotate).Default(false);
}

TsgPathAnimation::TsgPathAnimation(TComponent* AOwner)
    : TsgAnimation(AOwner), path_(classlib::New<TsgPathData>()) {}

TsgPathAnimation::~TsgPathAnimation() { classlib::Free(path_); }

void TsgPathAnimation::Start() {
  TsgAnimation::Start();
  spline_.reset();
  if (Scene() && Scene()->GetCanvas()) {
    TsgPolygon polygon;
    TsgPoint size;
    path_->FlattenToPolygon(polygon, size, 0.25f);
    std::vector<TsgPoint> points;
    points.reserve(polygon.size());
    for (const TsgPoint& p : polygon) {
      if (!sgIsClosePolygon(p))
        points.push_back(p);
      else if (!points.empty())
        points.push_back(points.back());
    }
    spline_ = std::make_unique<TsgSpline>(points);
  }
  target_ = Parent() && Parent()->IsVisual() ? Parent()->Visual() : nullptr;
  if (target_) startPos_ = target_->Position()->GetPoint();
}

void TsgPathAnimation::ProcessAnimation() {
  if (!spline_ || spline_->PointCount() == 0 || !target_) return;
  const float t = NormalizedTime();
  // Over t in 0..1 the spline runs through all its points, first to last.
  float x = 0, y = 0;
  spline_->SplineXY(t * static_cast<float>(spline_->PointCount() - 1), x, y);
  const TsgPoint old = target_->Position()->GetPoint();
  const TsgPoint now{startPos_.X + x, startPos_.Y + y};
  target_->Position()->SetPoint(now);
  if (!rotate_ || t <= 0 || t >= 1) return;
  const float dx = now.X - old.X, dy = now.Y - old.Y;
  if (dx == 0 || dy == 0) return;
  // The angle between the step and (0, 1); the cross product's sign (dx)
  // says which way round.
  const float len = std::sqrt(dx * dx + dy * dy);
  const float a = std::acos(std::clamp(dy / len, -1.0f, 1.0f)) * 180 / Pi;
  if (Inverse())
    target_->SetRotateAngle(dx >= 0 ? 180 - a : a + 180);
  else
    target_->SetRotateAngle(dx >= 0 ? -a : a);
}

// ---- path switcher
CL_CLASS(TsgPathSwitcher) {
  c.Str("PathTrue", &TsgPathSwitcher::PathTrue, &TsgPathSwitcher::SetPathTrue);
  c.Str("PathFalse", &TsgPathSwitcher::PathFalse, &TsgPathSwitcher::SetPathFalse);
  c.Str("PropertyName", &TsgPathSwitcher::PropertyName, &TsgPathSwitcher::SetPropertyName);
}

TsgPathSwitcher::TsgPathSwitcher(TComponent* AOwner) : TsgAnimation(AOwner) { SetDuration(0.001f); }

void RegisterAnimationClasses() {
  // The category list keeps every pair it is given: register once.
  static bool registered = false;
  if (registered) return;
  registered = true;
  classlib::RegisterClasses({TsgAnimation::StaticClass(), TsgKey::StaticClass(),
                             TsgColorKey::StaticClass(), TsgFloatKey::StaticClass(),
                             TsgKeys::StaticClass()});
  RegisterSceneClasses("Animations",
                       {TsgColorAnimation::StaticClass(), TsgGradientAnimation::StaticClass(),
                        TsgFloatAnimation::StaticClass(), TsgRectAnimation::StaticClass(),
                        TsgBitmapAnimation::StaticClass(), TsgBitmapListAnimation::StaticClass(),
                        TsgColorKeyAnimation::StaticClass(), TsgFloatKeyAnimation::StaticClass(),
                        TsgPathAnimation::StaticClass(), TsgPathSwitcher::StaticClass()});
}

// ---- code-made float animations of the visual object
namespace {
TsgFloatAnimation* MakeFloatAnimation(TsgVisualObject* owner, const std::string& propertyName,
                                      float newValue, float duration, TsgAnimationType type,
                                      TsgInterpolationType interpolation) {
  auto* ani = classlib::New<TsgFloatAnimation>(owner);
  ani->SetParent(owner);
  ani->SetStored(false);
  ani->SetStartFromCurrent(true);
  ani->SetPropertyName(propertyName);
  ani->SetStopValue(newValue);
  ani->SetDuration(duration);
  ani->SetAnimationType(type);
  ani->SetInterpolation(interpolation);
  return ani;
}
}  // namespace

void TsgVisualObject::AnimateFloat(const std::string& propertyName, float newValue, float duration,
                                   TsgAnimationType type, TsgInterpolationType interpolation) {
  TsgFloatAnimation* ani =
      MakeFloatAnimation(this, propertyName, newValue, duration, type, interpolation);
  ani->OnFinish = classlib::EventOf<&TsgFloatAnimation::FreeOnFinish>(ani);
  ani->Start();  // may free the animation: nothing follows
}

void TsgVisualObject::AnimateFloatWait(const std::string& propertyName, float newValue,
                                       float duration, TsgAnimationType type,
                                       TsgInterpolationType interpolation) {
  TsgFloatAnimation* ani =
      MakeFloatAnimation(this, propertyName, newValue, duration, type, interpolation);
  auto* watch = classlib::New<TAnimationWatch>();
  watch->Watch(this);
  watch->Watch(ani);
  ani->Start();
  const TsgProcessMessages pump = ProcessMessagesHook();
  while (pump && !watch->Gone(this) && !watch->Gone(ani) && ani->Running()) {
    pump();
    std::this_thread::yield();
  }
  if (!watch->Gone(this) && !watch->Gone(ani)) {
    // Without a pump nothing advances the clock: the value lands at once.
    ani->Stop();
    classlib::Free(ani);
  }
  classlib::Free(watch);
}

}  // namespace kelm::scene

// The animation clock, the animation base class and the trigger conditions.
#include "scene/sg_animation.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "classlib/classdef.h"
#include "classlib/sysutils.h"
#include "classlib/typinfo.h"
#include "scene/sg_visual.h"

namespace kelm::scene {

using classlib::TComponent;
using classlib::TObject;

namespace {

uint32_t SystemTicks() {
  using namespace std::chrono;
  // Truncated to 32 bits like the system tick count; only differences count.
  return static_cast<uint32_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

TsgTickSource g_tickSource = nullptr;
TsgAniTimerFactory g_timerFactory = nullptr;
std::unique_ptr<TsgAniThread> g_clock;
// Set while the clock walks its list: a free requested by an animation's
// handler then waits for the walk to end.
bool g_ticking = false;
bool g_freeRequested = false;

std::string Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t')) --e;
  return std::string(s.substr(b, e - b));
}

const classlib::TTypeInfo TypeInfo_TsgInterpolationType = classlib::EnumTypeInfo(
    "TsgInterpolationType",
    {"sgInterpolationLinear", "sgInterpolationQuadratic", "sgInterpolationCubic",
     "sgInterpolationQuartic", "sgInterpolationQuintic", "sgInterpolationSinusoidal",
     "sgInterpolationExponential", "sgInterpolationCircular", "sgInterpolationElastic",
     "sgInterpolationBack", "sgInterpolationBounce"});
const classlib::TTypeInfo TypeInfo_TsgAnimationType = classlib::EnumTypeInfo(
    "TsgAnimationType", {"sgAnimationIn", "sgAnimationOut", "sgAnimationInOut"});

bool ParentHidden(const TsgObject* obj) {
  const TsgObject* p = obj->Parent();
  return p && p->IsVisual() && !p->Visual()->Visible();
}

}  // namespace

// ---- time and the timer
void SetAnimationTickSource(TsgTickSource source) { g_tickSource = source; }
uint32_t AnimationTickCount() { return g_tickSource ? g_tickSource() : SystemTicks(); }
void SetAniTimerFactory(TsgAniTimerFactory factory) { g_timerFactory = factory; }

TsgAniThread::TsgAniThread() : lastTick_(AnimationTickCount()) {
  if (g_timerFactory) timer_ = g_timerFactory(this, Interval);
}

TsgAniThread::~TsgAniThread() { timer_.reset(); }

void TsgAniThread::Tick() {
  const uint32_t now = AnimationTickCount();
  const uint32_t elapsed = now - lastTick_;  // modulo 2^32: right across the wrap
  if (elapsed == 0) return;
  lastTick_ = now;
  elapsedMs_ += elapsed;
  const double t = static_cast<double>(elapsedMs_) / 1000.0;
  deltaTime_ = t - time_;
  time_ = t;

  g_ticking = true;
  // Backwards, clamping after each entry: advancing may remove entries
  // (its own or others, through the finish handlers).
  int i = static_cast<int>(list_.size()) - 1;
  while (i >= 0) {
    TsgAnimation* ani = list_[static_cast<size_t>(i)];
    if (ani->Running()) {
      bool advance = true;
      if (classlib::SameText(ani->BindingName(), "caret")) {
        // Caret blinking runs at a third of the rate.
        ani->SetTag(ani->Tag() + 1);
        advance = ani->Tag() % 3 == 0;
      }
      if (advance) ani->Process(StepOf(ani, now));
    }
    --i;
    const int last = static_cast<int>(list_.size()) - 1;
    if (i > last) i = last;
  }
  joined_.clear();
  g_ticking = false;
  if (g_freeRequested) {
    g_freeRequested = false;
    g_clock.reset();  // this object: nothing follows
  }
}

double TsgAniThread::StepOf(const TsgAnimation* ani, uint32_t now) const {
  for (const auto& [a, since] : joined_)
    if (a == ani) return std::min(deltaTime_, static_cast<double>(now - since) / 1000.0);
  return deltaTime_;
}

void TsgAniThread::Add(TsgAnimation* ani) {
  for (TsgAnimation* a : list_)
    if (a == ani) return;
  list_.push_back(ani);
  joined_.emplace_back(ani, AnimationTickCount());
}

void TsgAniThread::Remove(TsgAnimation* ani) {
  for (size_t i = 0; i < joined_.size(); ++i)
    if (joined_[i].first == ani) {
      joined_.erase(joined_.begin() + static_cast<std::ptrdiff_t>(i));
      break;
    }
  for (size_t i = 0; i < list_.size(); ++i)
    if (list_[i] == ani) {
      list_.erase(list_.begin() + static_cast<std::ptrdiff_t>(i));
      return;
    }
}

TsgAniThread* AniThread() { return g_clock.get(); }

TsgAniThread* EnsureAniThread() {
  if (!g_clock) g_clock = std::make_unique<TsgAniThread>();
  g_freeRequested = false;
  return g_clock.get();
}

void FreeAniThread() {
  if (g_ticking) {
    g_freeRequested = true;
    return;
  }
  g_clock.reset();
}

// ---- triggers
bool sgTriggerMentions(const std::string& text, const std::string& trigger) {
  if (trigger.empty()) return false;
  return classlib::LowerCase(text).find(classlib::LowerCase(trigger)) != std::string::npos;
}

namespace {
// Walks the conditions of a trigger text in order and hands each one that
// names a published enumeration property of the instance to compare (its
// outcome); compare answers false to stop the walk.
template <typename Compare>
void WalkTriggerConditions(TObject* instance, const std::string& text, Compare compare) {
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(';', start);
    if (end == std::string::npos) end = text.size();
    const std::string_view cond(text.data() + start, end - start);
    start = end + 1;
    const size_t eq = cond.find('=');
    if (eq == std::string_view::npos) continue;
    const classlib::TPropInfo* prop = classlib::GetPropInfo(instance, Trim(cond.substr(0, eq)));
    if (!prop || prop->Kind() != classlib::TTypeKind::Enumeration || !prop->GetOrd) continue;
    const std::string current = prop->PropType->GetEnumName(prop->GetOrd(instance));
    if (!compare(classlib::SameText(current, Trim(cond.substr(eq + 1))))) return;
  }
}
}  // namespace

bool sgTriggerConditionsHold(TObject* instance, const std::string& text) {
  if (!instance) return false;
  bool compared = false, held = true;
  WalkTriggerConditions(instance, text, [&](bool same) {
    compared = true;
    held = same;
    return same;
  });
  return compared && held;
}

bool sgTriggerLastConditionHolds(TObject* instance, const std::string& text) {
  if (!instance) return false;
  bool last = false;
  WalkTriggerConditions(instance, text, [&](bool same) {
    last = same;
    return true;
  });
  return last;
}

// ---- TsgAnimation
CL_CLASS(TsgAnimation) {
  c.Float("Duration", &TsgAnimation::Duration, &TsgAnimation::SetDuration,
          &classlib::TypeInfo_Single)
      .FloatDefault(static_cast<double>(0.2f));
  c.Float("Delay", &TsgAnimation::Delay, &TsgAnimation::SetDelay, &classlib::TypeInfo_Single);
  c.Bool("Inverse", &TsgAnimation::Inverse, &TsgAnimation::SetInverse).Default(false);
  c.Str("Trigger", &TsgAnimation::Trigger, &TsgAnimation::SetTrigger);
  c.Str("TriggerInverse", &TsgAnimation::TriggerInverse, &TsgAnimation::SetTriggerInverse);
  c.Bool("Loop", &TsgAnimation::Loop, &TsgAnimation::SetLoop).Default(false);
  c.Event("OnFinish", &TsgAnimation::OnFinish, &TsgAnimation::OnFinish);
  c.Event("OnProcess", &TsgAnimation::OnProcess, &TsgAnimation::OnProcess);
  c.Bool("HideOnFinish", &TsgAnimation::HideOnFinish, &TsgAnimation::SetHideOnFinish)
      .Default(false);
  c.Enum("Interpolation", &TsgAnimation::Interpolation, &TsgAnimation::SetInterpolation,
         &TypeInfo_TsgInterpolationType)
      .Default(TsgInterpolationType::sgInterpolationLinear);
  c.Enum("AnimationType", &TsgAnimation::AnimationType, &TsgAnimation::SetAnimationType,
         &TypeInfo_TsgAnimationType)
      .Default(TsgAnimationType::sgAnimationIn);
  c.Bool("Enabled", &TsgAnimation::Enabled, &TsgAnimation::SetEnabled).Default(false);
  c.Bool("AutoReverse", &TsgAnimation::AutoReverse, &TsgAnimation::SetAutoReverse).Default(false);
}

TsgAnimation::TsgAnimation(TComponent* AOwner) : TsgObject(AOwner) {}

TsgAnimation::~TsgAnimation() { LeaveClock(); }

void TsgAnimation::BeforeDestruction() {
  LeaveClock();
  TsgObject::BeforeDestruction();
}

void TsgAnimation::Loaded() {
  TsgObject::Loaded();
  if (enabled_ && !InDesign()) Start();
}

bool TsgAnimation::InDesign() { return IsDesigning() || (Scene() && Scene()->GetDesignTime()); }

void TsgAnimation::LeaveClock() {
  if (TsgAniThread* clock = AniThread()) clock->Remove(this);
}

void TsgAnimation::Start() {
  if (ParentHidden(this)) return;
  if (std::fabs(duration_) < 0.001f || !Scene() || InDesign()) {
    // Finish at once: the end value, taken with a duration of 1.
    delayTime_ = 0;
    const float kept = duration_;
    duration_ = 1;
    currentTime_ = inverse_ ? 0.0f : 1.0f;
    running_ = true;
    ProcessAnimation();
    running_ = false;
    currentTime_ = 0;
    // Only a vanishing duration is replaced; a real one stays, so that a
    // start in the designer or without a host does not lose it.
    duration_ = std::fabs(kept) < 0.001f ? 0.00001f : kept;
    // Before the handler, which may free this animation.
    enabled_ = false;
    if (OnFinish) OnFinish(this);
    return;
  }
  delayTime_ = delay_;
  running_ = true;
  currentTime_ = inverse_ ? duration_ : 0.0f;
  if (delay_ == 0) ProcessAnimation();
  EnsureAniThread()->Add(this);
  enabled_ = true;
}

void TsgAnimation::Stop() {
  if (!running_) return;
  LeaveClock();
  // A stop during the delay still lands on the end value.
  delayTime_ = 0;
  currentTime_ = inverse_ ? 0.0f : duration_;
  ProcessAnimation();
  running_ = false;
  enabled_ = false;
  BeforeFinish();
  if (OnFinish) OnFinish(this);
}

void TsgAnimation::StopAtCurrent() {
  if (!running_) return;
  LeaveClock();
  running_ = false;
  enabled_ = false;
  if (OnFinish) OnFinish(this);
}

void TsgAnimation::SetEnabled(bool v) {
  if (v == enabled_) return;
  enabled_ = v;
  if (InDesign() || IsLoading()) return;
  if (v)
    Start();
  else
    Stop();
}

void TsgAnimation::StartTrigger(TObject* instance, const std::string& trigger) {
  if (!instance) return;
  if (!triggerInverse_.empty() && sgTriggerMentions(triggerInverse_, trigger) &&
      sgTriggerConditionsHold(instance, triggerInverse_)) {
    inverse_ = true;
    Start();
    return;
  }
  if (!trigger_.empty() && sgTriggerMentions(trigger_, trigger) &&
      sgTriggerConditionsHold(instance, trigger_)) {
    if (!triggerInverse_.empty()) inverse_ = false;
    Start();
  }
}

void TsgAnimation::Process(double delta) {
  if (InDesign() || ComponentState().Contains(classlib::csDestroying)) return;
  if (ParentHidden(this)) {
    Stop();
    return;
  }
  if (!running_ || pause_) return;
  const auto d = static_cast<float>(delta);
  if (delay_ > 0 && delayTime_ != 0) {
    if (delayTime_ <= 0) return;
    delayTime_ -= d;
    if (delayTime_ <= 0) {
      Start();
      delayTime_ = 0;  // the run begins with the next tick
    }
    return;
  }
  currentTime_ += inverse_ ? -d : d;
  if (currentTime_ >= duration_) {
    currentTime_ = duration_;
    if (!loop_)
      running_ = false;
    else if (autoReverse_)
      inverse_ = true;
    else
      currentTime_ = 0;
  } else if (currentTime_ <= 0) {
    currentTime_ = 0;
    if (!loop_)
      running_ = false;
    else if (autoReverse_)
      inverse_ = false;
    else
      currentTime_ = duration_;
  }
  ProcessAnimation();
  if (OnProcess) OnProcess(this);
  if (Scene() && !running_) {
    LeaveClock();
    if (OnFinish) OnFinish(this);
  }
}

float TsgAnimation::NormalizedTime() const {
  if (duration_ <= 0 || delayTime_ > 0) return 0;
  return static_cast<float>(sgInterpolate(interpolation_, animationType_, currentTime_, duration_));
}

}  // namespace kelm::scene

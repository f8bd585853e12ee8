// The animation engine: the one clock that advances every running animation
// of the process, the animation base class with its timing rules, and the
// trigger conditions that animations and effects share.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "classlib/object.h"
#include "scene/sg_object.h"
#include "scene/sg_types.h"

namespace kelm::scene {

class TsgAnimation;
class TsgAniThread;

// ---- time and the timer
// Milliseconds since some start, as the system tick count: it wraps after
// about 49.7 days, so only differences of it are meaningful.
using TsgTickSource = uint32_t (*)();
// Replaces the tick source (the system's by default; tests set a manual
// clock). Null restores the default.
void SetAnimationTickSource(TsgTickSource source);
uint32_t AnimationTickCount();

// The periodic timer that drives the clock. The Win32 part supplies a window
// timer; without a factory nothing ticks by itself and code calls Tick.
class IsgAniTimer {
 public:
  virtual ~IsgAniTimer() = default;
};
using TsgAniTimerFactory = std::unique_ptr<IsgAniTimer> (*)(TsgAniThread* clock,
                                                            uint32_t intervalMs);
void SetAniTimerFactory(TsgAniTimerFactory factory);

// The shared clock: made on the first start of an animation that has a
// scene, freed with the last scene (FreeAniThread).
class TsgAniThread {
 public:
  static constexpr uint32_t Interval = 33;

  TsgAniThread();
  ~TsgAniThread();
  TsgAniThread(const TsgAniThread&) = delete;
  TsgAniThread& operator=(const TsgAniThread&) = delete;

  // One timer period: advances every running animation by the real time
  // elapsed since the last processed tick.
  void Tick();
  // Seconds since the clock was made, at the last processed tick.
  double Time() const { return time_; }
  // Seconds between the last two processed ticks.
  double DeltaTime() const { return deltaTime_; }
  const std::vector<TsgAnimation*>& Animations() const { return list_; }
  void Add(TsgAnimation* ani);
  void Remove(TsgAnimation* ani);

 private:
  // The step an animation takes at the tick read at now.
  double StepOf(const TsgAnimation* ani, uint32_t now) const;

  std::vector<TsgAnimation*> list_;
  // Animations added since the last processed tick, with the tick count at
  // their start: their first step is the time since then, not the whole
  // period, so a start late in a delayed period does not jump ahead.
  std::vector<std::pair<TsgAnimation*, uint32_t>> joined_;
  // The elapsed milliseconds are summed from unsigned 32-bit differences of
  // the tick count, so the wrap of the count never stops the clock.
  uint32_t lastTick_;
  uint64_t elapsedMs_ = 0;
  double time_ = 0;
  double deltaTime_ = 0;
  std::unique_ptr<IsgAniTimer> timer_;
};

// The process's clock, or none before the first scene-bound start.
TsgAniThread* AniThread();
TsgAniThread* EnsureAniThread();
// Called when the last scene is freed.
void FreeAniThread();

// ---- triggers
// True when trigger (the name of a property that changed) occurs in text,
// both compared lower-cased.
bool sgTriggerMentions(const std::string& text, const std::string& trigger);
// Evaluates "Name=value;Name=value" against the instance's published
// enumeration properties (Booleans included). Conditions without "=" or
// naming a missing or non-enumeration property are skipped; true when at
// least one condition was compared and none failed.
bool sgTriggerConditionsHold(classlib::TObject* instance, const std::string& text);
// The same conditions as effects read them: each compared condition
// overrides the ones before it; the last one decides (false when none).
bool sgTriggerLastConditionHolds(classlib::TObject* instance, const std::string& text);

// ---- the base class
class TsgAnimation : public TsgObject {
  CL_DECLARE_CLASS(TsgAnimation, TsgObject)
 public:
  explicit TsgAnimation(classlib::TComponent* AOwner);
  ~TsgAnimation() override;
  void BeforeDestruction() override;
  void Loaded() override;

  // ---- virtual operations, in slot order
  // Applies the value for the current normalised time; empty here.
  virtual void ProcessAnimation() {}
  virtual void Start();
  // Stops at the end value of the current direction.
  virtual void Stop();
  virtual void StopAtCurrent();
  virtual void StartTrigger(classlib::TObject* instance, const std::string& trigger);

  // One clock step of delta seconds.
  void Process(double delta);
  float NormalizedTime() const;

  // ---- fields
  float Duration() const { return duration_; }
  void SetDuration(float v) { duration_ = v; }
  float Delay() const { return delay_; }
  void SetDelay(float v) { delay_ = v; }
  float DelayTime() const { return delayTime_; }
  float CurrentTime() const { return currentTime_; }
  bool Inverse() const { return inverse_; }
  void SetInverse(bool v) { inverse_ = v; }
  const std::string& Trigger() const { return trigger_; }
  void SetTrigger(const std::string& v) { trigger_ = v; }
  const std::string& TriggerInverse() const { return triggerInverse_; }
  void SetTriggerInverse(const std::string& v) { triggerInverse_ = v; }
  bool Loop() const { return loop_; }
  void SetLoop(bool v) { loop_ = v; }
  bool Pause() const { return pause_; }
  void SetPause(bool v) { pause_ = v; }
  bool Running() const { return running_; }
  bool HideOnFinish() const { return hideOnFinish_; }
  void SetHideOnFinish(bool v) { hideOnFinish_ = v; }
  TsgInterpolationType Interpolation() const { return interpolation_; }
  void SetInterpolation(TsgInterpolationType v) { interpolation_ = v; }
  TsgAnimationType AnimationType() const { return animationType_; }
  void SetAnimationType(TsgAnimationType v) { animationType_ = v; }
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool v);
  bool AutoReverse() const { return autoReverse_; }
  void SetAutoReverse(bool v) { autoReverse_ = v; }

  classlib::TNotifyEvent OnFinish;
  classlib::TNotifyEvent OnProcess;

  // ---- the tree's roads
  bool IsAnimationObject() const override { return true; }
  void AnimationStart() override { Start(); }
  void AnimationStop() override { Stop(); }
  void AnimationStartTrigger(classlib::TObject* instance, const std::string& trigger) override {
    StartTrigger(instance, trigger);
  }
  bool AnimationRunning() const override { return running_; }
  bool AnimationLooping() const override { return loop_; }
  std::string AnimationTrigger() const override { return trigger_; }

 protected:
  // Design time of the component or of its scene.
  bool InDesign();
  // Stop's last step before OnFinish (whose handler may free this object).
  virtual void BeforeFinish() {}

 private:
  void LeaveClock();

  float duration_ = 0.2f;
  float delay_ = 0;
  float delayTime_ = 0;
  float currentTime_ = 0;
  bool inverse_ = false;
  std::string trigger_;
  std::string triggerInverse_;
  bool loop_ = false;
  bool pause_ = false;
  bool running_ = false;
  bool hideOnFinish_ = false;
  TsgInterpolationType interpolation_ = TsgInterpolationType::sgInterpolationLinear;
  TsgAnimationType animationType_ = TsgAnimationType::sgAnimationIn;
  bool enabled_ = false;
  bool autoReverse_ = false;
};

}  // namespace kelm::scene

// TsgTimer: the controls' timer. It fires OnTimer every Interval
// milliseconds while Enabled; what makes time pass is a replaceable source:
// the Win32 part installs window timers, native tests step a manual clock.
#pragma once

#include <cstdint>

#include "classlib/component.h"

namespace kelm::scenectrls {

class TsgTimer;

// Keeps one schedule per timer. Schedule replaces an earlier one (the next
// tick comes intervalMs after the call); Cancel forgets it.
class IsgTimerSource {
 public:
  virtual void Schedule(TsgTimer* timer, uint32_t intervalMs) = 0;
  virtual void Cancel(TsgTimer* timer) = 0;

 protected:
  ~IsgTimerSource() = default;
};
// None: timers never tick. Timers scheduled on the old source stay there.
void SetTimerSource(IsgTimerSource* source);
IsgTimerSource* TimerSource();

class TsgTimer : public classlib::TComponent {
  CL_DECLARE_CLASS(TsgTimer, TComponent)
 public:
  explicit TsgTimer(classlib::TComponent* AOwner);
  void BeforeDestruction() override;

  bool Enabled() const { return enabled_; }
  void SetEnabled(bool v);
  uint32_t Interval() const { return interval_; }
  void SetInterval(uint32_t v);
  const classlib::TNotifyEvent& OnTimer() const { return onTimer_; }
  void SetOnTimer(const classlib::TNotifyEvent& v);

  // One tick, called by the source. The handler may change the interval,
  // the handler or Enabled, or free the timer.
  void Timer();

 private:
  // Schedules while enabled with an interval and a handler, else cancels.
  void UpdateTimer();

  bool enabled_ = true;
  uint32_t interval_ = 1000;
  classlib::TNotifyEvent onTimer_;
  // The source the timer is scheduled on, to cancel there.
  IsgTimerSource* source_ = nullptr;
};

}  // namespace kelm::scenectrls

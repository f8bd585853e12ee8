// TMessageTimer: a light timer that needs no owner and no window of its
// own. Every timer of the process ticks through one hidden utility window,
// made by the first timer and freed with the last; a timer's id on that
// window is its own address.
#pragma once

#include <memory>

#include "classlib/forms.h"

namespace kelm::kit {

class TMessageTimer : public classlib::TObject {
  CL_DECLARE_CLASS(TMessageTimer, TObject)
 public:
  // Interval 1000, no handler, not enabled.
  TMessageTimer();
  // The same with the given interval and handler (still not enabled).
  TMessageTimer(unsigned interval, const classlib::TNotifyEvent& onTimer);
  ~TMessageTimer() override;
  void BeforeDestruction() override;

  bool Enabled() const { return enabled_; }
  // True starts (or restarts) the timer, false stops it.
  void SetEnabled(bool v);
  unsigned Interval() const { return interval_; }
  // A running timer restarts with the new interval; 0 silences it but
  // leaves Enabled set, so a later interval starts it again.
  void SetInterval(unsigned v);
  const classlib::TNotifyEvent& OnTimer() const { return onTimer_; }
  // Clearing the handler of a running timer silences it (Enabled stays).
  void SetOnTimer(const classlib::TNotifyEvent& v);

  // False for Interval 0 or when the system has no timer left; restarts
  // the period of a running timer.
  bool StartTimer();
  // Kills the system timer; with disable, Enabled is cleared too.
  bool StopTimer(bool disable = true);
  // The id given to SetTimer: the object's address.
  UINT_PTR Id() const { return reinterpret_cast<UINT_PTR>(this); }

  // The shared window while any timer exists, else none.
  static HWND HandlerWindow();

 private:
  friend class TMessageTimerHandler;
  void Tick();

  bool enabled_ = false;
  unsigned interval_ = 1000;
  classlib::TNotifyEvent onTimer_;
};

}  // namespace kelm::kit

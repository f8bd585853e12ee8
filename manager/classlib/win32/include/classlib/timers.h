// TTimer: OnTimer every Interval milliseconds through a hidden window.
// Interval, OnTimer and Enabled may change inside the timer's own event,
// and the event may free its timer.
#pragma once

#include <memory>

#include "classlib/wintypes.h"

namespace classlib {

class TTimer : public TComponent {
  CL_DECLARE_CLASS(TTimer, TComponent)
 public:
  explicit TTimer(TComponent* AOwner);
  ~TTimer() override;
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool v);
  unsigned Interval() const { return interval_; }
  void SetInterval(unsigned v);
  const TNotifyEvent& OnTimer() const { return onTimer_; }
  void SetOnTimer(const TNotifyEvent& v);

 protected:
  virtual void Timer();
  void Loaded() override;

 private:
  void UpdateTimer();
  void WndProc(TMessage& m);

  HWND window_ = nullptr;
  bool enabled_ = true;
  unsigned interval_ = 1000;
  TNotifyEvent onTimer_;
  // Cleared by the destructor; a tick that freed its timer checks it.
  std::shared_ptr<bool> alive_;
};

}  // namespace classlib

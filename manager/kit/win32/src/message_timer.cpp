#include "kit/message_timer.h"

#include <map>

#include "classlib/classdef.h"
#include "shared_handler.h"

namespace kelm::kit {

using classlib::TMessage;

// The window every message timer ticks on. It keeps the ids it has issued
// to SetTimer, so a WM_TIMER for a timer that was stopped or freed since
// (or one any program posted) finds nothing and is ignored.
class TMessageTimerHandler : public THandlerWindow {
  CL_DECLARE_CLASS(TMessageTimerHandler, THandlerWindow)
 public:
  bool Start(TMessageTimer* timer) {
    if (!SetTimer(Window(), timer->Id(), timer->Interval(), nullptr)) return false;
    issued_[timer->Id()] = timer;
    return true;
  }
  bool Kill(TMessageTimer* timer) {
    issued_.erase(timer->Id());
    return KillTimer(Window(), timer->Id()) != 0;
  }

 private:
  void WndProc(TMessage& m) override {
    switch (m.Msg) {
      case WM_TIMER:
        Timer(m);
        break;
      default:
        Default(m);
        break;
    }
  }
  // The tick may free its timer and, with the last timer, this handler:
  // nothing is touched after it.
  void Timer(TMessage& m) {
    auto it = issued_.find(m.WParam);
    if (it != issued_.end()) it->second->Tick();
  }

  std::map<UINT_PTR, TMessageTimer*> issued_;
};

CL_CLASS(TMessageTimerHandler) {}
CL_CLASS(TMessageTimer) {}

namespace {
SharedHandler<TMessageTimerHandler> sharedHandler;
}

TMessageTimer::TMessageTimer() { sharedHandler.Acquire(); }

TMessageTimer::TMessageTimer(unsigned interval, const classlib::TNotifyEvent& onTimer)
    : TMessageTimer() {
  interval_ = interval;
  onTimer_ = onTimer;
}

TMessageTimer::~TMessageTimer() = default;

void TMessageTimer::BeforeDestruction() {
  // Always withdrawn, running or not: the id must not outlive the object.
  StopTimer(true);
  sharedHandler.Release();
  TObject::BeforeDestruction();
}

HWND TMessageTimer::HandlerWindow() {
  return sharedHandler.Get() ? sharedHandler.Get()->Window() : nullptr;
}

void TMessageTimer::SetEnabled(bool v) {
  if (v)
    StartTimer();
  else
    StopTimer(true);
}

void TMessageTimer::SetInterval(unsigned v) {
  if (v == interval_) return;
  interval_ = v;
  if (!enabled_) return;
  if (v == 0)
    StopTimer(false);
  else
    StartTimer();
}

void TMessageTimer::SetOnTimer(const classlib::TNotifyEvent& v) {
  onTimer_ = v;
  if (!v && enabled_) StopTimer(false);
}

bool TMessageTimer::StartTimer() {
  if (interval_ == 0) return false;
  if (enabled_) StopTimer(true);
  if (!sharedHandler.Get()->Start(this)) return false;
  enabled_ = true;
  return true;
}

bool TMessageTimer::StopTimer(bool disable) {
  if (disable) enabled_ = false;
  return sharedHandler.Get()->Kill(this);
}

void TMessageTimer::Tick() {
  if (onTimer_) onTimer_(this);
}

}  // namespace kelm::kit

#include "classlib/timers.h"

#include "classlib/forms.h"

namespace classlib {

CL_CLASS(TTimer) {
  c.Bool("Enabled", &TTimer::Enabled, &TTimer::SetEnabled).Default(true);
  c.Int("Interval", &TTimer::Interval, &TTimer::SetInterval, &TypeInfo_Cardinal).Default(1000);
  c.Event("OnTimer", &TTimer::OnTimer, &TTimer::SetOnTimer);
}

TTimer::TTimer(TComponent* AOwner) : TComponent(AOwner), alive_(std::make_shared<bool>(true)) {
  window_ = AllocateHWnd([this](TMessage& m) { WndProc(m); });
}

TTimer::~TTimer() {
  *alive_ = false;
  if (window_) {
    KillTimer(window_, 1);
    DeallocateHWnd(window_);
  }
}

void TTimer::UpdateTimer() {
  KillTimer(window_, 1);
  if (enabled_ && interval_ != 0 && onTimer_ && !IsLoading())
    if (!SetTimer(window_, 1, interval_, nullptr))
      throw EOutOfResources(u"Not enough timers available");
}

void TTimer::SetEnabled(bool v) {
  if (v == enabled_) return;
  enabled_ = v;
  UpdateTimer();
}

void TTimer::SetInterval(unsigned v) {
  if (v == interval_) return;
  interval_ = v;
  UpdateTimer();
}

void TTimer::SetOnTimer(const TNotifyEvent& v) {
  onTimer_ = v;
  UpdateTimer();
}

void TTimer::Loaded() {
  TComponent::Loaded();
  UpdateTimer();
}

void TTimer::Timer() {
  if (onTimer_) onTimer_(this);
}

void TTimer::WndProc(TMessage& m) {
  if (m.Msg != WM_TIMER) {
    m.Result = DefWindowProcW(window_, m.Msg, m.WParam, m.LParam);
    return;
  }
  std::shared_ptr<bool> alive = alive_;
  try {
    Timer();
  } catch (...) {
    // The handler may have freed the timer before failing; only the
    // error display is left to do.
    HandleCallbackException();
  }
  (void)alive;  // nothing of the timer is touched after its event
}

}  // namespace classlib

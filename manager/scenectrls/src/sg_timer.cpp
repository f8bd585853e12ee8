// The controls' timer over a replaceable source of ticks.
#include "scenectrls/sg_timer.h"

#include "classlib/classdef.h"

namespace kelm::scenectrls {
namespace {
IsgTimerSource* g_source = nullptr;
}  // namespace

void SetTimerSource(IsgTimerSource* source) { g_source = source; }
IsgTimerSource* TimerSource() { return g_source; }

CL_CLASS(TsgTimer) {
  c.Bool("Enabled", &TsgTimer::Enabled, &TsgTimer::SetEnabled).Default(true);
  c.Int("Interval", &TsgTimer::Interval, &TsgTimer::SetInterval, &classlib::TypeInfo_Cardinal)
      .Default(1000);
  c.Event("OnTimer", &TsgTimer::OnTimer, &TsgTimer::SetOnTimer);
}

TsgTimer::TsgTimer(classlib::TComponent* AOwner) : TComponent(AOwner) {}

void TsgTimer::BeforeDestruction() {
  if (source_) source_->Cancel(this);
  source_ = nullptr;
  inherited::BeforeDestruction();
}

void TsgTimer::SetEnabled(bool v) {
  if (v == enabled_) return;
  enabled_ = v;
  UpdateTimer();
}

void TsgTimer::SetInterval(uint32_t v) {
  if (v == interval_) return;
  interval_ = v;
  UpdateTimer();
}

void TsgTimer::SetOnTimer(const classlib::TNotifyEvent& v) {
  onTimer_ = v;
  UpdateTimer();
}

void TsgTimer::UpdateTimer() {
  if (source_) source_->Cancel(this);
  source_ = nullptr;
  if (!enabled_ || interval_ == 0 || !onTimer_ || !g_source) return;
  source_ = g_source;
  source_->Schedule(this, interval_);
}

void TsgTimer::Timer() {
  if (enabled_ && onTimer_) onTimer_(this);
}

}  // namespace kelm::scenectrls

// The animation clock's window timer and the system tick count, set at the
// scene library's Win32 start-up.
#include <windows.h>

#include "classlib/timers.h"
#include "scene/sg_animation.h"

namespace kelm::scene {
namespace {

uint32_t SystemTickCount() { return GetTickCount(); }

// Forwards the timer's event to the clock.
class TAniTimerSink : public classlib::TObject {
 public:
  explicit TAniTimerSink(TsgAniThread* clock) : clock_(clock) {}
  // The tick may free the clock and with it this sink and the timer; the
  // timer allows that from its own event, and nothing here follows it.
  void Fire(classlib::TObject* sender) {
    (void)sender;
    clock_->Tick();
  }

 private:
  TsgAniThread* clock_;
};

class TAniWindowTimer : public IsgAniTimer {
 public:
  TAniWindowTimer(TsgAniThread* clock, uint32_t intervalMs)
      : sink_(classlib::New<TAniTimerSink>(clock)),
        timer_(classlib::New<classlib::TTimer>(nullptr)) {
    timer_->SetInterval(intervalMs);
    timer_->SetOnTimer(classlib::EventOf<&TAniTimerSink::Fire>(sink_));
    timer_->SetEnabled(true);
  }
  ~TAniWindowTimer() override {
    classlib::Free(timer_);
    classlib::Free(sink_);
  }
  TAniWindowTimer(const TAniWindowTimer&) = delete;
  TAniWindowTimer& operator=(const TAniWindowTimer&) = delete;

 private:
  TAniTimerSink* sink_;
  classlib::TTimer* timer_;
};

std::unique_ptr<IsgAniTimer> MakeWindowTimer(TsgAniThread* clock, uint32_t intervalMs) {
  return std::make_unique<TAniWindowTimer>(clock, intervalMs);
}

// An object library: linked into a program, this step always comes along.
struct AniTimerStartup {
  AniTimerStartup() {
    SetAnimationTickSource(&SystemTickCount);
    SetAniTimerFactory(&MakeWindowTimer);
  }
} aniTimerStartup;

}  // namespace
}  // namespace kelm::scene

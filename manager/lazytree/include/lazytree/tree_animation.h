// The tree's animation loop: a number of steps spread over a duration,
// handed to a callback in calls whose size grows when the time runs short
// (portable; the tree supplies the clock).
#pragma once

#include <cstdint>
#include <functional>

namespace kelm::lazytree {

// Answers false to stop the animation.
using TAnimationStep = std::function<bool(uint32_t stepsDone, uint32_t stepSize)>;

class TAnimationClock {
 public:
  virtual ~TAnimationClock() = default;
  // Milliseconds, wrapping as the system's timer does.
  virtual uint32_t Now() = 0;
  virtual bool Terminating() { return false; }
};

// Calls step with (steps done so far, step size) until the steps are done,
// the time is used up or step answers false; then once with (0, 0), unless
// the program is terminating. Each call waits for its share of the time
// that is left.
void RunAnimationSteps(uint32_t steps, uint32_t duration, const TAnimationStep& step,
                       TAnimationClock& clock);

}  // namespace kelm::lazytree

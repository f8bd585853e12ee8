#include "lazytree/tree_animation.h"

#include <algorithm>
#include <cmath>

namespace kelm::lazytree {

void RunAnimationSteps(uint32_t steps, uint32_t duration, const TAnimationStep& step,
                       TAnimationClock& clock) {
  if (duration == 0) return;
  auto stepSize =
      static_cast<uint32_t>(std::lround(std::max(static_cast<double>(steps) / duration, 1.0)));
  uint32_t remainingCalls = steps / stepSize;
  uint32_t remainingTime = duration;
  uint32_t done = 0;
  while (remainingCalls > 0 && !clock.Terminating()) {
    const uint32_t start = clock.Now();
    if (!step(done, stepSize)) break;
    done += stepSize;
    // This call's share of what is left; the clock's last reading counts.
    const uint32_t share = remainingTime / remainingCalls;
    uint32_t used = clock.Now() - start;
    while (used < share && !clock.Terminating()) used = clock.Now() - start;
    if (used >= remainingTime) {
      remainingCalls = 0;
    } else {
      remainingTime -= used;
      --remainingCalls;
      // Less than a millisecond a call: bigger steps.
      if (remainingCalls > 0 && remainingTime / remainingCalls < 1) ++stepSize;
    }
  }
  if (!clock.Terminating()) step(0, 0);
}

}  // namespace kelm::lazytree

// The animation loop against a clock that moves only when asked: the calls
// and their steps as the time is spent, early ends, termination.
#include "lazytree/tree_animation.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace kelm::lazytree {
namespace {

// Each reading moves the time by a millisecond; a step costs what it is
// told.
class TFakeClock : public TAnimationClock {
 public:
  uint32_t time = 4000000000u;  // wraps during the run
  bool terminating = false;
  uint32_t Now() override { return time++; }
  bool Terminating() override { return terminating; }
};

using TCalls = std::vector<std::pair<uint32_t, uint32_t>>;

struct TRun {
  TCalls calls;
  uint32_t elapsed = 0;
};

TRun Animate(uint32_t steps, uint32_t duration, uint32_t stepCost, int stopAt = -1,
             int terminateAt = -1) {
  TFakeClock clock;
  const uint32_t start = clock.time;
  TRun run;
  RunAnimationSteps(
      steps, duration,
      [&](uint32_t done, uint32_t size) {
        run.calls.emplace_back(done, size);
        clock.time += stepCost;
        if (static_cast<int>(run.calls.size()) == terminateAt) clock.terminating = true;
        return static_cast<int>(run.calls.size()) != stopAt;
      },
      clock);
  run.elapsed = clock.time - start;
  return run;
}

TEST(TreeAnimation, StepsSpreadOverTheDuration) {
  const TRun run = Animate(5, 100, 0);
  EXPECT_EQ(run.calls, (TCalls{{0, 1}, {1, 1}, {2, 1}, {3, 1}, {4, 1}, {0, 0}}));
  EXPECT_GE(run.elapsed, 100u) << "each call waited for its share";
  EXPECT_LE(run.elapsed, 115u);
}

TEST(TreeAnimation, MoreStepsThanMillisecondsGoInBiggerCalls) {
  // 40 steps in 10 ms: calls of 4.
  const TRun run = Animate(40, 10, 0);
  ASSERT_EQ(run.calls.size(), 11u);
  EXPECT_EQ(run.calls[0], (std::pair<uint32_t, uint32_t>{0, 4}));
  EXPECT_EQ(run.calls[9], (std::pair<uint32_t, uint32_t>{36, 4}));
  EXPECT_EQ(run.calls.back(), (std::pair<uint32_t, uint32_t>{0, 0}));
}

TEST(TreeAnimation, SlowCallsGrowTheStepAndEndWhenTheTimeIsUsed) {
  // Ten calls of 1 ms planned; each costs 3 (plus the clock's readings).
  const TRun run = Animate(10, 10, 3);
  ASSERT_GE(run.calls.size(), 3u);
  EXPECT_EQ(run.calls[0], (std::pair<uint32_t, uint32_t>{0, 1}));
  EXPECT_GT(run.calls[1].second, 1u) << "less than a millisecond a call: bigger steps";
  EXPECT_LT(run.calls.size(), 11u) << "the time ran out before the planned calls";
  EXPECT_EQ(run.calls.back(), (std::pair<uint32_t, uint32_t>{0, 0}));
}

TEST(TreeAnimation, AStepMayStopItAndTerminationSkipsTheLastCall) {
  EXPECT_EQ(Animate(5, 100, 0, 2).calls, (TCalls{{0, 1}, {1, 1}, {0, 0}}));
  EXPECT_EQ(Animate(5, 100, 0, -1, 2).calls, (TCalls{{0, 1}, {1, 1}}));
  EXPECT_TRUE(Animate(5, 0, 0).calls.empty()) << "no duration, no animation";
}

}  // namespace
}  // namespace kelm::lazytree

// Message timers on their shared window, driven by the real message loop.
#include "kit/message_timer.h"

#include <gtest/gtest.h>

#include "tray_test_support.h"

namespace kelm::test {
namespace {

using classlib::EventOf;
using classlib::Free;
using classlib::New;
using kit::TMessageTimer;

struct TimerFixture : ::testing::Test {
  TEventLog* log = New<TEventLog>();
  ~TimerFixture() override { Free(log); }
  TMessageTimer* Make(unsigned interval) {
    return New<TMessageTimer>(interval, EventOf<&TEventLog::Tick>(log));
  }
};

TEST_F(TimerFixture, IdleUntilStartedThenTicksOverAPumpedInterval) {
  TMessageTimer* t = Make(40);
  EXPECT_FALSE(t->Enabled());
  PumpFor(150);
  EXPECT_TRUE(log->Lines.empty());
  TMessageTimer* other = Make(1000);
  ASSERT_TRUE(t->StartTimer());
  EXPECT_TRUE(t->Enabled());
  std::vector<classlib::TObject*> senders;
  log->After = [&](classlib::TObject* s) { senders.push_back(s); };
  PumpFor(600);
  // 15 periods of 40 ms, with coarse timers and a loaded machine.
  EXPECT_GE(log->Lines.size(), 5u);
  EXPECT_LE(log->Lines.size(), 16u);
  for (classlib::TObject* s : senders) EXPECT_EQ(s, t);
  Free(other);
  Free(t);
}

TEST_F(TimerFixture, DefaultsAndStartRefusedForIntervalZero) {
  TMessageTimer* t = New<TMessageTimer>();
  EXPECT_EQ(t->Interval(), 1000u);
  EXPECT_FALSE(t->Enabled());
  EXPECT_FALSE(t->OnTimer());
  t->SetInterval(0);
  EXPECT_FALSE(t->StartTimer());
  EXPECT_FALSE(t->Enabled());
  EXPECT_EQ(t->Id(), reinterpret_cast<UINT_PTR>(t));
  Free(t);
}

TEST_F(TimerFixture, IntervalZeroSilencesAndALaterIntervalRestartsWithoutTouchingEnabled) {
  TMessageTimer* t = Make(30);
  t->SetEnabled(true);
  ASSERT_TRUE(PumpUntil([&] { return log->Lines.size() >= 1; }));
  t->SetInterval(0);
  EXPECT_TRUE(t->Enabled());
  log->Lines.clear();
  PumpFor(250);
  EXPECT_TRUE(log->Lines.empty());
  t->SetInterval(30);
  EXPECT_TRUE(t->Enabled());
  EXPECT_TRUE(PumpUntil([&] { return log->Lines.size() >= 2; }));
  Free(t);
}

TEST_F(TimerFixture, ClearingTheHandlerSilencesButLeavesEnabled) {
  TMessageTimer* t = Make(30);
  t->SetEnabled(true);
  t->SetOnTimer(nullptr);
  EXPECT_TRUE(t->Enabled());
  // The system timer is gone: a new handler alone does not tick.
  t->SetOnTimer(EventOf<&TEventLog::Tick>(log));
  PumpFor(200);
  EXPECT_TRUE(log->Lines.empty());
  t->SetEnabled(true);
  EXPECT_TRUE(PumpUntil([&] { return !log->Lines.empty(); }));
  Free(t);
}

TEST_F(TimerFixture, StartingARunningTimerRestartsItsPeriod) {
  TMessageTimer* t = Make(300);
  t->SetEnabled(true);
  PumpFor(150);
  ASSERT_TRUE(log->Lines.empty());
  const DWORD restart = GetTickCount();
  ASSERT_TRUE(t->StartTimer());
  DWORD tickAt = 0;
  log->After = [&](classlib::TObject*) {
    if (!tickAt) tickAt = GetTickCount();
  };
  ASSERT_TRUE(PumpUntil([&] { return tickAt != 0; }));
  // Without the restart the tick would come about 150 ms after it.
  EXPECT_GE(tickAt - restart, 280u);
  Free(t);
}

TEST_F(TimerFixture, ATimerFreedInItsOwnTickStopsCleanly) {
  TMessageTimer* t = Make(20);
  log->After = [&](classlib::TObject* sender) { Free(sender); };
  t->SetEnabled(true);
  ASSERT_TRUE(PumpUntil([&] { return !log->Lines.empty(); }));
  PumpFor(150);
  EXPECT_EQ(log->Lines.size(), 1u);
  EXPECT_EQ(TMessageTimer::HandlerWindow(), nullptr);
}

TEST_F(TimerFixture, SharedWindowGoesWithTheLastTimerAndComesBackWithTheNext) {
  ASSERT_EQ(TMessageTimer::HandlerWindow(), nullptr);
  TMessageTimer* a = Make(1000);
  HWND first = TMessageTimer::HandlerWindow();
  ASSERT_TRUE(IsWindow(first));
  TMessageTimer* b = Make(1000);
  EXPECT_EQ(TMessageTimer::HandlerWindow(), first);
  Free(a);
  EXPECT_TRUE(IsWindow(first));
  Free(b);
  EXPECT_FALSE(IsWindow(first));
  EXPECT_EQ(TMessageTimer::HandlerWindow(), nullptr);
  TMessageTimer* c = Make(20);
  HWND second = TMessageTimer::HandlerWindow();
  EXPECT_TRUE(IsWindow(second));
  c->SetEnabled(true);
  EXPECT_TRUE(PumpUntil([&] { return !log->Lines.empty(); }));
  Free(c);
  EXPECT_FALSE(IsWindow(second));
}

// A WM_TIMER reaches only a timer that is running now: one still queued
// for a stopped or freed timer, or any number another program posts, is
// dropped.
TEST_F(TimerFixture, OnlyRunningTimersTakeATick) {
  TMessageTimer* running = Make(100000);
  TMessageTimer* stopped = Make(100000);
  TMessageTimer* silenced = Make(100000);
  TMessageTimer* freed = Make(100000);
  running->SetEnabled(true);
  stopped->SetEnabled(true);
  stopped->SetEnabled(false);
  silenced->SetEnabled(true);
  silenced->SetInterval(0);
  freed->SetEnabled(true);
  const UINT_PTR freedId = freed->Id();
  Free(freed);
  HWND wnd = TMessageTimer::HandlerWindow();
  struct Case {
    const char* name;
    UINT_PTR id;
    size_t ticks;
  } cases[] = {{"running", running->Id(), 1},
               {"stopped", stopped->Id(), 0},
               {"interval 0", silenced->Id(), 0},
               {"freed", freedId, 0},
               {"foreign", 0x1234, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    log->Lines.clear();
    PostMessageW(wnd, WM_TIMER, c.id, 0);
    PumpFor(30);
    EXPECT_EQ(log->Lines.size(), c.ticks);
  }
  Free(running);
  Free(stopped);
  Free(silenced);
}

}  // namespace
}  // namespace kelm::test

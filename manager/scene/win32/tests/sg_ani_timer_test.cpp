// The animation clock on the real window timer: an animation moves while
// the message loop runs, in several steps, and the clock's timer goes with
// the clock.
#include <windows.h>

#include <gtest/gtest.h>

#include "scene/sg_animations.h"
#include "scene/sg_classes.h"
#include "scene/sg_visual.h"
#include "scene_fakes.h"

namespace kelm::scene {
namespace {

class TStepCount : public classlib::TObject {
 public:
  int Steps = 0;
  void Step(classlib::TObject*) { ++Steps; }
};

bool g_timedOut = false;
void CALLBACK GiveUp(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  g_timedOut = true;
}

// Runs the message loop until the animation has finished or the guard
// timer has fired; blocks in WaitMessage, never sleeps.
void RunUntilFinished(TsgAnimation* a) {
  g_timedOut = false;
  const UINT_PTR guard = SetTimer(nullptr, 0, 10000, &GiveUp);
  ASSERT_NE(guard, 0u);
  MSG msg;
  while (a->Running() && !g_timedOut) {
    WaitMessage();
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageW(&msg);
    }
  }
  if (!g_timedOut) KillTimer(nullptr, guard);
}

TEST(SceneAniTimer, TheWindowTimerMovesAnAnimationInTheMessageLoop) {
  RegisterSceneCoreClasses();
  auto* scene = classlib::New<test::FakeScene>(nullptr);
  auto* host = classlib::New<TsgVisualObject>(nullptr);
  scene->AddObject(host);
  auto* a = classlib::New<TsgFloatAnimation>(nullptr);
  a->SetPropertyName("Position.X");
  a->SetStopValue(100);
  a->SetDuration(0.25f);
  TStepCount steps;
  a->OnProcess = classlib::EventOf<&TStepCount::Step>(&steps);
  host->AddObject(a);

  const DWORD began = GetTickCount();
  a->Start();
  ASSERT_NE(AniThread(), nullptr);
  RunUntilFinished(a);
  EXPECT_FALSE(g_timedOut);
  EXPECT_FALSE(a->Running());
  EXPECT_FLOAT_EQ(host->Position()->X(), 100);
  // 0.25 s at 33 ms a tick: several steps, none before the time had passed.
  EXPECT_GE(steps.Steps, 2);
  EXPECT_GE(GetTickCount() - began, 200u);
  EXPECT_GE(AniThread()->Time(), 0.2);

  // The clock and its timer go with the last scene; a new one starts over.
  FreeAniThread();
  EXPECT_EQ(AniThread(), nullptr);
  a->SetStopValue(0);
  a->Start();
  RunUntilFinished(a);
  EXPECT_FALSE(g_timedOut);
  EXPECT_FLOAT_EQ(host->Position()->X(), 0);
  classlib::Free(scene);  // frees its roots, the host among them
  FreeAniThread();
}

}  // namespace
}  // namespace kelm::scene

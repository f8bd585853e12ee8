// The waits of the trigger animations pump the application's messages.
#include <windows.h>

#include <gtest/gtest.h>

#include "scene/sg_object.h"
#include "tree_test_classes.h"

namespace kelm::scene {
namespace {

test::TTestAnimation* g_animation = nullptr;

// Ends the animation when the timer's message is dispatched: only a wait
// that really pumps the queue gets here.
void CALLBACK EndAnimation(HWND, UINT, UINT_PTR id, DWORD) {
  KillTimer(nullptr, id);
  if (g_animation) g_animation->Running = false;
}

TEST(SceneWin32Pump, WaitsPumpTheApplicationsMessages) {
  test::RegisterTestClasses();
  ASSERT_NE(ProcessMessagesHook(), nullptr);
  auto* host = classlib::New<test::TTestVisual>(nullptr);
  auto* anim = classlib::New<test::TTestAnimation>(nullptr);
  anim->Trigger = "IsPressed=true";
  host->AddObject(anim);
  g_animation = anim;
  ASSERT_NE(SetTimer(nullptr, 0, 1, &EndAnimation), 0u);
  host->StartTriggerAnimationWait(host, "IsPressed");
  EXPECT_FALSE(anim->Running);
  g_animation = nullptr;
  classlib::Free(host);
}

}  // namespace
}  // namespace kelm::scene

// The animation clock and base class on a manual clock: timing, delay,
// loops, the backwards walk, the caret rate, hidden parents, the tick
// count's wrap, triggers and the tree's hooks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classlib/classdef.h"
#include "classlib/streams.h"
#include "scene/sg_animations.h"
#include "scene/sg_classes.h"
#include "scene_fakes.h"
#include "visual_probe.h"

namespace kelm::scene {
namespace {

using classlib::New;
using classlib::TObject;
using test::FakeScene;
using test::Probe;
using test::TProbe;

uint32_t g_now = 0;
uint32_t ManualTicks() { return g_now; }

// A visual object with a settable state property and a few other kinds of
// published property for the trigger conditions.
class TTriggerHost : public TsgVisualObject {
  CL_DECLARE_CLASS(TTriggerHost, TsgVisualObject)
 public:
  explicit TTriggerHost(classlib::TComponent* AOwner) : TsgVisualObject(AOwner) {}
  bool IsPressed() const { return pressed_; }
  void SetPressed(bool v) { pressed_ = v; }
  TsgAlign Side() const { return side_; }
  void SetSide(TsgAlign v) { side_ = v; }

 private:
  bool pressed_ = false;
  TsgAlign side_ = vaNone;
};

const classlib::TTypeInfo TypeInfo_Side =
    classlib::EnumTypeInfo("TSide", {"vaNone", "vaTopLeft", "vaTopRight"});

}  // namespace

CL_CLASS(TTriggerHost) {
  c.Bool("IsPressed", &TTriggerHost::IsPressed, &TTriggerHost::SetPressed);
  c.Enum("Side", &TTriggerHost::Side, &TTriggerHost::SetSide, &TypeInfo_Side);
}

namespace {

// Counts finishes and steps; optionally frees a victim or the clock when
// an animation finishes.
class TFinishLog : public TObject {
 public:
  std::vector<std::string> Finished;
  int Steps = 0;
  TsgAnimation* Victim = nullptr;
  bool FreeClock = false;
  void Done(TObject* sender) {
    Finished.push_back(static_cast<TsgAnimation*>(sender)->Name());
    if (Victim) {
      TsgAnimation* v = Victim;
      Victim = nullptr;
      classlib::Free(v);
    }
    if (FreeClock) FreeAniThread();
  }
  void Step(TObject*) { ++Steps; }
  classlib::TNotifyEvent OnDone() { return classlib::EventOf<&TFinishLog::Done>(this); }
  classlib::TNotifyEvent OnStep() { return classlib::EventOf<&TFinishLog::Step>(this); }
};

class Animation : public ::testing::Test {
 protected:
  void SetUp() override {
    test::RegisterVisualTestClasses();
    classlib::RegisterClass(TTriggerHost::StaticClass());
    g_now = 1000;
    SetAnimationTickSource(&ManualTicks);
    FreeAniThread();
    scene = New<FakeScene>(nullptr);
    root = Probe("root", nullptr, 0, 0, 200, 200);
    scene->AddObject(root);
  }
  void TearDown() override {
    classlib::Free(scene);
    FreeAniThread();
    SetAnimationTickSource(nullptr);
  }
  // A float animation of the root's Position.X from 0 to 100.
  TsgFloatAnimation* MoveX(const std::string& name, float duration, TsgObject* parent = nullptr) {
    auto* a = New<TsgFloatAnimation>(nullptr);
    a->SetName(name);
    a->SetPropertyName("Position.X");
    a->SetStartValue(0);
    a->SetStopValue(100);
    a->SetDuration(duration);
    (parent ? parent : root)->AddObject(a);
    return a;
  }
  static void Advance(uint32_t ms) {
    g_now += ms;
    ASSERT_NE(AniThread(), nullptr);
    AniThread()->Tick();
  }
  float X() const { return root->Position()->X(); }

  FakeScene* scene = nullptr;
  TProbe* root = nullptr;
};

TEST_F(Animation, RunsOnTheClockFromStartToStopValue) {
  TFinishLog log;
  TsgFloatAnimation* a = MoveX("a", 1);
  a->OnFinish = log.OnDone();
  a->OnProcess = log.OnStep();
  a->Start();
  EXPECT_TRUE(a->Running());
  EXPECT_TRUE(a->Enabled());
  ASSERT_NE(AniThread(), nullptr);
  EXPECT_EQ(AniThread()->Animations().size(), 1u);
  EXPECT_FLOAT_EQ(X(), 0);
  std::vector<float> seen;
  for (int i = 0; i < 4; ++i) {
    Advance(250);
    seen.push_back(X());
  }
  EXPECT_EQ(seen, (std::vector<float>{25, 50, 75, 100}));
  EXPECT_FALSE(a->Running());
  EXPECT_EQ(log.Finished, (std::vector<std::string>{"a"}));
  EXPECT_EQ(log.Steps, 4);
  EXPECT_TRUE(AniThread()->Animations().empty());
  // A late timer message moves by the real elapsed time.
  a->Start();
  Advance(600);
  EXPECT_FLOAT_EQ(X(), 60);
  // No time passed: the tick does nothing.
  AniThread()->Tick();
  EXPECT_FLOAT_EQ(X(), 60);
  EXPECT_NEAR(AniThread()->DeltaTime(), 0.6, 1e-9);
}

// A timer period stretched by a busy program must not count for an
// animation that started inside it: its first step is the time since its
// start; the ones already running take the whole period.
TEST_F(Animation, AStartLateInAPeriodStepsOnlyFromItsStart) {
  TsgFloatAnimation* running = MoveX("running", 10);
  running->Start();
  Advance(100);
  g_now += 600;  // the next tick is late
  auto* late = New<TsgFloatAnimation>(nullptr);
  late->SetName("late");
  late->SetPropertyName("Position.Y");
  late->SetStartValue(0);
  late->SetStopValue(100);
  late->SetDuration(1);
  root->AddObject(late);
  late->Start();
  Advance(100);
  EXPECT_FLOAT_EQ(root->Position()->Y(), 10);  // 100 ms, not 700
  EXPECT_TRUE(late->Running());
  EXPECT_FLOAT_EQ(X(), 8);  // 800 ms of 10 s
  Advance(100);
  EXPECT_FLOAT_EQ(root->Position()->Y(), 20);
}

// An immediate finish (vanishing duration, no scene, design time) applies
// the end value, fires OnFinish and is not Enabled; only a vanishing
// duration is replaced by 0.00001, so a designer saving the object keeps
// the real one.
TEST_F(Animation, ImmediateFinishKeepsARealDuration) {
  const struct {
    const char* name;
    float duration;
    bool withScene, design, inverse;
    float value, durationAfter;
  } cases[] = {
      {"zero", 0, true, false, false, 100, 0.00001f},
      {"tiny", 0.0005f, true, false, false, 100, 0.00001f},
      {"negative tiny", -0.0005f, true, false, false, 100, 0.00001f},
      {"zero backwards", 0, true, false, true, 0, 0.00001f},
      {"no scene", 0.5f, false, false, false, 100, 0.5f},
      {"design time", 0.5f, true, true, false, 100, 0.5f},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TProbe* holder = Probe("holder", nullptr, 0, 0, 10, 10);
    if (c.withScene) scene->AddObject(holder);
    scene->DesignTime = c.design;
    holder->Position()->SetX(50);
    TFinishLog log;
    TsgFloatAnimation* a = MoveX("a", c.duration, holder);
    a->SetInverse(c.inverse);
    a->OnFinish = log.OnDone();
    for (int round = 0; round < 2; ++round) {
      holder->Position()->SetX(50);
      a->Start();
      EXPECT_FLOAT_EQ(holder->Position()->X(), c.value);
      EXPECT_FALSE(a->Running());
      EXPECT_FALSE(a->Enabled());
      EXPECT_FLOAT_EQ(a->Duration(), c.durationAfter);
      EXPECT_FLOAT_EQ(a->CurrentTime(), 0);
    }
    EXPECT_EQ(log.Finished.size(), 2u);
    EXPECT_TRUE(AniThread() == nullptr || AniThread()->Animations().empty());
    scene->DesignTime = false;
    classlib::Free(holder);
  }
}

TEST_F(Animation, DelayAppliesTheFirstValueOnTheTickAfterItRanOut) {
  root->Position()->SetX(7);
  TsgFloatAnimation* a = MoveX("a", 1);
  a->SetDelay(0.5f);
  a->Start();
  EXPECT_FLOAT_EQ(a->DelayTime(), 0.5f);
  EXPECT_FLOAT_EQ(X(), 7);  // nothing applied during the delay
  Advance(250);
  EXPECT_FLOAT_EQ(X(), 7);
  Advance(250);  // the delay runs out: restarted, nothing applied yet
  EXPECT_FLOAT_EQ(X(), 7);
  EXPECT_FLOAT_EQ(a->DelayTime(), 0);
  Advance(250);
  EXPECT_FLOAT_EQ(X(), 25);
  EXPECT_TRUE(a->Running());
}

TEST_F(Animation, StopLandsOnTheEndValueEvenDuringTheDelay) {
  TFinishLog log;
  TsgFloatAnimation* a = MoveX("a", 1);
  a->SetDelay(0.5f);
  a->OnFinish = log.OnDone();
  a->Start();
  Advance(100);
  a->Stop();
  EXPECT_FLOAT_EQ(X(), 100);
  EXPECT_FALSE(a->Running());
  EXPECT_FALSE(a->Enabled());
  EXPECT_EQ(log.Finished.size(), 1u);
  EXPECT_TRUE(AniThread()->Animations().empty());
  // Stopping again does nothing.
  a->Stop();
  EXPECT_EQ(log.Finished.size(), 1u);

  // Where it is: no value applied, still finished.
  root->Position()->SetX(0);
  a->SetDelay(0);
  a->Start();
  Advance(300);
  a->StopAtCurrent();
  EXPECT_FLOAT_EQ(X(), 30);
  EXPECT_FALSE(a->Running());
  EXPECT_EQ(log.Finished.size(), 2u);
}

TEST_F(Animation, LoopsJumpBackOrReverseAtBothEnds) {
  const struct {
    const char* name;
    bool autoReverse, inverse;
    std::vector<float> values;
  } cases[] = {
      {"reverse", true, false, {50, 100, 50, 0, 50, 100}},
      {"loop", false, false, {50, 0, 50, 0, 50, 0}},
      {"loop backwards", false, true, {50, 100, 50, 100, 50, 100}},
      {"reverse backwards", true, true, {50, 0, 50, 100, 50, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TsgFloatAnimation* a = MoveX("a", 1);
    a->SetLoop(true);
    a->SetAutoReverse(c.autoReverse);
    a->SetInverse(c.inverse);
    a->Start();
    std::vector<float> seen;
    for (size_t i = 0; i < c.values.size(); ++i) {
      Advance(500);
      seen.push_back(X());
    }
    EXPECT_EQ(seen, c.values);
    EXPECT_TRUE(a->Running());
    a->Stop();
    classlib::Free(a);
  }
}

// The 32-bit tick count wraps after about 49.7 days; time measured from
// its differences keeps running across the wrap.
TEST_F(Animation, KeepsRunningAcrossTheTickCountWrap) {
  g_now = 0xFFFFFF00u;  // 256 ms before the wrap
  FreeAniThread();
  TsgFloatAnimation* a = MoveX("a", 1);
  a->Start();
  for (float expected : {20.0f, 40.0f, 60.0f, 80.0f}) {
    Advance(200);
    EXPECT_NEAR(X(), expected, 1e-3);
  }
  EXPECT_LT(g_now, 1000u);  // wrapped
  EXPECT_NEAR(AniThread()->Time(), 0.8, 1e-9);
  Advance(200);
  EXPECT_FLOAT_EQ(X(), 100);
  EXPECT_FALSE(a->Running());
}

// Entries are walked last to first and the index is clamped after each, so
// a finish handler that frees other animations does not derail the walk.
TEST_F(Animation, TheWalkSurvivesAnimationsFreedByAFinishHandler) {
  TProbe* other = Probe("other", root, 0, 0, 10, 10);
  TFinishLog log;
  TsgFloatAnimation* first = MoveX("first", 0.1f, other);
  TsgFloatAnimation* second = MoveX("second", 0.1f, other);
  TsgFloatAnimation* third = MoveX("third", 0.1f);
  for (TsgFloatAnimation* a : {first, second, third}) {
    a->OnFinish = log.OnDone();
    a->Start();
  }
  log.Victim = second;
  Advance(200);
  EXPECT_EQ(log.Finished, (std::vector<std::string>{"third", "first"}));
  EXPECT_TRUE(AniThread()->Animations().empty());
  EXPECT_FLOAT_EQ(X(), 100);
  EXPECT_FLOAT_EQ(other->Position()->X(), 100);

  // A freed running animation leaves the clock.
  TsgFloatAnimation* gone = MoveX("gone", 1);
  gone->Start();
  EXPECT_EQ(AniThread()->Animations().size(), 1u);
  classlib::Free(gone);
  EXPECT_TRUE(AniThread()->Animations().empty());
  Advance(100);
}

TEST_F(Animation, AClockFreedByAHandlerGoesAfterTheWalk) {
  TFinishLog log;
  log.FreeClock = true;
  TsgFloatAnimation* a = MoveX("a", 0.1f);
  TsgFloatAnimation* b = MoveX("b", 0.1f);
  a->OnFinish = log.OnDone();
  b->OnFinish = log.OnDone();
  a->Start();
  b->Start();
  Advance(200);
  EXPECT_EQ(log.Finished, (std::vector<std::string>{"b", "a"}));
  EXPECT_EQ(AniThread(), nullptr);
}

TEST_F(Animation, ACaretAdvancesOnEveryThirdTick) {
  TsgFloatAnimation* caret = MoveX("caret", 10);
  caret->SetBindingName("Caret");
  TProbe* other = Probe("other", root, 0, 0, 10, 10);
  TsgFloatAnimation* plain = MoveX("plain", 10, other);
  caret->Start();
  plain->Start();
  std::vector<float> seen;
  for (int i = 0; i < 6; ++i) {
    Advance(100);
    seen.push_back(X());
  }
  // One tick's delta (0.1 s of 10 s) on ticks 3 and 6.
  EXPECT_EQ(seen, (std::vector<float>{0, 0, 1, 1, 1, 2}));
  EXPECT_EQ(caret->Tag(), 6);
  EXPECT_NEAR(other->Position()->X(), 6, 1e-4);
}

TEST_F(Animation, AHiddenParentStopsItAtTheEndValueOrKeepsItFromStarting) {
  TFinishLog log;
  TsgFloatAnimation* a = MoveX("a", 1);
  a->OnFinish = log.OnDone();
  a->Start();
  Advance(250);
  root->SetVisible(false);
  Advance(250);
  EXPECT_FLOAT_EQ(X(), 100);
  EXPECT_FALSE(a->Running());
  EXPECT_EQ(log.Finished.size(), 1u);
  EXPECT_TRUE(AniThread()->Animations().empty());

  root->Position()->SetX(3);
  a->Start();
  EXPECT_FALSE(a->Running());
  EXPECT_FLOAT_EQ(X(), 3);
  EXPECT_EQ(log.Finished.size(), 1u);
}

TEST_F(Animation, PauseHoldsARunningAnimation) {
  TsgFloatAnimation* a = MoveX("a", 1);
  a->Start();
  Advance(200);
  a->SetPause(true);
  Advance(500);
  EXPECT_FLOAT_EQ(X(), 20);
  a->SetPause(false);
  Advance(300);
  EXPECT_FLOAT_EQ(X(), 50);
}

TEST_F(Animation, NormalizedTimeFollowsTheEasingCurve) {
  TsgFloatAnimation* a = MoveX("a", 1);
  a->SetInterpolation(TsgInterpolationType::sgInterpolationQuadratic);
  a->Start();
  Advance(500);
  EXPECT_NEAR(a->NormalizedTime(), 0.25, 1e-6);  // t^2 easing in
  a->SetAnimationType(TsgAnimationType::sgAnimationOut);
  EXPECT_NEAR(a->NormalizedTime(), 0.75, 1e-6);
  a->SetDuration(0);
  EXPECT_FLOAT_EQ(a->NormalizedTime(), 0);
}

TEST_F(Animation, EnabledStartsAndStopsOutsideDesignAndLoading) {
  TsgFloatAnimation* a = MoveX("a", 1);
  a->SetEnabled(true);
  EXPECT_TRUE(a->Running());
  Advance(500);
  a->SetEnabled(false);
  EXPECT_FALSE(a->Running());
  EXPECT_FLOAT_EQ(X(), 100);

  scene->DesignTime = true;
  root->Position()->SetX(0);
  a->SetEnabled(true);
  EXPECT_TRUE(a->Enabled());
  EXPECT_FALSE(a->Running());
  EXPECT_FLOAT_EQ(X(), 0);
}

// Enabled is read before StopValue: starting while loading would run
// towards 0; the start waits for the end of loading.
TEST_F(Animation, AnEnabledAnimationStartsWhenItsTreeHasLoaded) {
  const std::string text =
      "object holder: TProbe\n"
      "  object a: TsgFloatAnimation\n"
      "    Duration = 1\n"
      "    Enabled = True\n"
      "    StopValue = 40\n"
      "    PropertyName = 'Position.X'\n"
      "  end\n"
      "end\n";
  for (bool enabled : {true, false}) {
    std::string form = text;
    if (!enabled) form.replace(form.find("True"), 4, "False");
    classlib::TStringStream s(form);
    auto* holder = static_cast<TProbe*>(LoadObjectFromTextStream(nullptr, s));
    ASSERT_NE(holder, nullptr);
    ASSERT_EQ(holder->GetChildrenCount(), 1);
    // Without a scene the start finishes at once, on the stop value.
    EXPECT_FLOAT_EQ(holder->Position()->X(), enabled ? 40 : 0) << enabled;
    classlib::Free(holder);
  }
}

TEST_F(Animation, TriggerConditionsTable) {
  auto* host = New<TTriggerHost>(nullptr);
  scene->AddObject(host);
  host->MouseEnter();
  host->SetSide(vaTopRight);
  const struct {
    const char* text;
    bool pressed, holds;
  } cases[] = {
      {"IsMouseOver=true", false, true},
      {"ismouseover=TRUE", false, true},
      {" IsMouseOver = True ", false, true},
      {"IsMouseOver=false", false, false},
      {"IsMouseOver=true;IsPressed=true", false, false},
      {"IsMouseOver=true;IsPressed=true", true, true},
      {"Side=vaTopRight", false, true},
      {"Side=vaTopLeft", false, false},
      {"NoSuch=true", false, false},
      {"NoSuch=true;IsMouseOver=true", false, true},
      {"Width=10", false, false},  // not an enumeration
      {"Name=root", false, false},
      {"IsMouseOver", false, false},  // no "="
      {"", false, false},
      {";;", false, false},
  };
  for (const auto& c : cases) {
    host->SetPressed(c.pressed);
    EXPECT_EQ(sgTriggerConditionsHold(host, c.text), c.holds) << c.text << " " << c.pressed;
  }
  EXPECT_FALSE(sgTriggerConditionsHold(nullptr, "IsMouseOver=true"));
  EXPECT_TRUE(sgTriggerMentions("IsMouseOver=true", "ISMOUSEOVER"));
  EXPECT_FALSE(sgTriggerMentions("IsMouseOver=true", "IsFocused"));
  EXPECT_FALSE(sgTriggerMentions("IsMouseOver=true", ""));
  classlib::Free(host);
}

TEST_F(Animation, TriggersStartForwardsAndTriggerInverseBackwards) {
  auto* host = New<TTriggerHost>(nullptr);
  scene->AddObject(host);
  auto* a = New<TsgFloatAnimation>(nullptr);
  a->SetPropertyName("Opacity");
  a->SetStartValue(0.5f);
  a->SetStopValue(1);
  a->SetDuration(1);
  a->SetTrigger("IsMouseOver=true");
  a->SetTriggerInverse("IsMouseOver=false");
  host->AddObject(a);
  host->SetOpacity(0.5f);

  host->MouseEnter();  // raises "IsMouseOver"
  EXPECT_TRUE(a->Running());
  EXPECT_FALSE(a->Inverse());
  Advance(1000);
  EXPECT_FLOAT_EQ(host->Opacity(), 1);

  host->MouseLeave();
  EXPECT_TRUE(a->Running());
  EXPECT_TRUE(a->Inverse());
  Advance(500);
  EXPECT_FLOAT_EQ(host->Opacity(), 0.75f);
  Advance(500);
  EXPECT_FLOAT_EQ(host->Opacity(), 0.5f);

  // Another property raised: nothing starts.
  host->StartTriggerAnimation(host, "IsFocused");
  EXPECT_FALSE(a->Running());
  // No instance: nothing.
  a->StartTrigger(nullptr, "IsMouseOver");
  EXPECT_FALSE(a->Running());
  classlib::Free(host);
}

TEST_F(Animation, TriggersThatCannotHoldStartNothing) {
  auto* host = New<TTriggerHost>(nullptr);
  scene->AddObject(host);
  host->MouseEnter();
  const struct {
    const char* trigger;
    bool pressed, starts;
  } cases[] = {
      {"IsMissing=true", false, false},
      {"IsMouseOver", false, false},
      {"IsMouseOver=true;IsPressed=true", false, false},
      {"IsMouseOver=true;IsPressed=true", true, true},
  };
  for (const auto& c : cases) {
    auto* a = New<TsgFloatAnimation>(nullptr);
    a->SetPropertyName("Opacity");
    a->SetTrigger(c.trigger);
    host->AddObject(a);
    host->SetPressed(c.pressed);
    // Raising the property the condition names.
    const std::string raised = std::string(c.trigger).substr(0, std::string(c.trigger).find('='));
    host->StartTriggerAnimation(host, raised);
    EXPECT_EQ(a->Running(), c.starts) << c.trigger << " " << c.pressed;
    classlib::Free(a);
  }
  classlib::Free(host);
}

TEST_F(Animation, TheTreeStartsAndStopsAnimationsByName) {
  TsgFloatAnimation* a = MoveX("slide", 1);
  TsgFloatAnimation* b = MoveX("other", 1);
  root->StartAnimation(u"SLIDE");
  EXPECT_TRUE(a->Running());
  EXPECT_FALSE(b->Running());
  Advance(400);
  root->StopAnimation(u"slide");
  EXPECT_FALSE(a->Running());
  EXPECT_FLOAT_EQ(X(), 100);
}

TEST_F(Animation, TriggerWaitsPumpUntilTheAnimationHasRun) {
  auto* host = New<TTriggerHost>(nullptr);
  scene->AddObject(host);
  auto* a = New<TsgFloatAnimation>(nullptr);
  a->SetPropertyName("Position.X");
  a->SetStopValue(60);
  a->SetDuration(0.3f);
  a->SetTrigger("IsPressed=true");
  host->AddObject(a);
  host->SetPressed(true);
  test::ScriptedPump pump;
  pump.Idle = [] { Advance(100); };
  host->StartTriggerAnimationWait(host, "IsPressed");
  EXPECT_FALSE(a->Running());
  EXPECT_FLOAT_EQ(host->Position()->X(), 60);
  EXPECT_EQ(pump.Pumps(), 3);
  classlib::Free(host);
}

TEST_F(Animation, AnimateFloatRunsAChildThatFreesItself) {
  root->Position()->SetY(10);
  const int before = root->GetChildrenCount();
  root->AnimateFloat("Position.Y", 30, 1);
  ASSERT_EQ(root->GetChildrenCount(), before + 1);
  Advance(500);
  EXPECT_FLOAT_EQ(root->Position()->Y(), 20);
  Advance(500);
  EXPECT_FLOAT_EQ(root->Position()->Y(), 30);
  EXPECT_EQ(root->GetChildrenCount(), before);

  // Without a scene it lands at once and is freed as well.
  TProbe* loose = Probe("loose", nullptr, 0, 0, 10, 10);
  loose->AnimateFloat("Position.X", 12, 1);
  EXPECT_FLOAT_EQ(loose->Position()->X(), 12);
  EXPECT_EQ(loose->GetChildrenCount(), 0);
  classlib::Free(loose);
}

TEST_F(Animation, AnimateFloatWaitPumpsUntilTheEnd) {
  {
    test::ScriptedPump pump;
    pump.Idle = [] { Advance(100); };
    root->AnimateFloatWait("Position.X", 50, 0.5f);
    EXPECT_FLOAT_EQ(X(), 50);
    EXPECT_EQ(pump.Pumps(), 5);
    EXPECT_EQ(root->GetChildrenCount(), 0);
  }
  // No pump: nothing could advance the clock, so the value lands at once.
  root->AnimateFloatWait("Position.X", 70, 0.5f);
  EXPECT_FLOAT_EQ(X(), 70);
  EXPECT_EQ(root->GetChildrenCount(), 0);
  EXPECT_TRUE(AniThread()->Animations().empty());
}

}  // namespace
}  // namespace kelm::scene

// The animation classes on a manual clock: target resolution, the value
// kinds they write, key frames, bitmap strips and cross-fades, paths.
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
using test::FakeScene;
using test::Probe;
using test::TProbe;

uint32_t g_ticks = 0;
uint32_t Ticks() { return g_ticks; }

// A visual object with one published property of each kind the classes
// drive (and some they must leave alone).
class TAnimTarget : public TsgVisualObject {
  CL_DECLARE_CLASS(TAnimTarget, TsgVisualObject)
 public:
  explicit TAnimTarget(classlib::TComponent* AOwner)
      : TsgVisualObject(AOwner),
        gradient_(New<TsgGradient>()),
        frame_(New<TsgBounds>(TsgRect{})),
        picture_(New<TsgBitmap>(4, 3)) {
    gradient_->Points()->AddPoint(0xFF0000FFu, 1);
    gradient_->OnChange = classlib::EventOf<&TAnimTarget::GradientChanged>(this);
  }
  ~TAnimTarget() override {
    classlib::Free(picture_);
    classlib::Free(frame_);
    classlib::Free(gradient_);
  }
  std::string ColorText;
  int32_t Tint = 0;
  uint32_t Tone = 0;
  float Level = 0;
  int GradientChanges = 0;
  const std::string& GetColorText() const { return ColorText; }
  void SetColorText(const std::string& v) { ColorText = v; }
  int32_t GetTint() const { return Tint; }
  void SetTint(int32_t v) { Tint = v; }
  uint32_t GetTone() const { return Tone; }
  void SetTone(uint32_t v) { Tone = v; }
  float GetLevel() const { return Level; }
  void SetLevel(float v) { Level = v; }
  TsgGradient* Gradient() const { return gradient_; }
  void SetGradient(TsgGradient* v) { gradient_->Assign(v); }
  TsgBounds* Frame() const { return frame_; }
  void SetFrame(TsgBounds* v) { frame_->Assign(v); }
  TsgBitmap* Picture() const { return picture_; }
  void SetPicture(TsgBitmap* v) { picture_->Assign(v); }
  void GradientChanged(classlib::TObject*) { ++GradientChanges; }
  // A reference to another object, not owned.
  TsgVisualObject* Buddy = nullptr;
  TsgVisualObject* GetBuddy() const { return Buddy; }
  void SetBuddy(TsgVisualObject* v) { Buddy = v; }

 private:
  TsgGradient* gradient_;
  TsgBounds* frame_;
  TsgBitmap* picture_;
};

}  // namespace

CL_CLASS(TAnimTarget) {
  c.Str("ColorText", &TAnimTarget::GetColorText, &TAnimTarget::SetColorText);
  c.Int("Tint", &TAnimTarget::GetTint, &TAnimTarget::SetTint);
  c.Int("Tone", &TAnimTarget::GetTone, &TAnimTarget::SetTone, &classlib::TypeInfo_Cardinal);
  c.Float("Level", &TAnimTarget::GetLevel, &TAnimTarget::SetLevel, &classlib::TypeInfo_Single);
  c.Object("Gradient", &TAnimTarget::Gradient, &TAnimTarget::SetGradient);
  c.Object("Frame", &TAnimTarget::Frame, &TAnimTarget::SetFrame);
  c.Object("Picture", &TAnimTarget::Picture, &TAnimTarget::SetPicture);
  c.Object("Buddy", &TAnimTarget::GetBuddy, &TAnimTarget::SetBuddy);
}

namespace {

// The default canvas class over bitmaps, keeping every bitmap drawn.
class TDrawLog : public test::TRecordingCanvas {
 public:
  explicit TDrawLog(TsgBitmap* b) : TRecordingCanvas(b) {}
  static inline std::vector<std::string> Drawn;
  void DrawBitmap(TsgBitmap* bitmap, const TsgRect& source, const TsgRect& dest, float opacity,
                  bool highSpeed) override {
    TRecordingCanvas::DrawBitmap(bitmap, source, dest, opacity, highSpeed);
    Drawn.push_back(Calls.back());
  }
};

class AnimationClasses : public ::testing::Test {
 protected:
  void SetUp() override {
    test::RegisterVisualTestClasses();
    classlib::RegisterClass(TAnimTarget::StaticClass());
    g_ticks = 5000;
    SetAnimationTickSource(&Ticks);
    FreeAniThread();
    scene = New<FakeScene>(nullptr);
    target = New<TAnimTarget>(nullptr);
    target->SetBounds(0, 0, 100, 100);
    scene->AddObject(target);
    TDrawLog::Drawn.clear();
    SetDefaultCanvasBitmapClass(
        {[](TsgBitmap* b) -> TsgCanvas* { return New<TDrawLog>(b); },
         [](TsgBitmap* b, int row) { return b->Bits() + size_t(row) * size_t(b->Width()); }});
  }
  void TearDown() override {
    classlib::Free(scene);
    classlib::Free(canvas);
    FreeAniThread();
    SetAnimationTickSource(nullptr);
    SetDefaultCanvasBitmapClass({});
  }
  template <class A>
  A* Add(const std::string& propertyName, float duration = 1) {
    auto* a = New<A>(nullptr);
    if constexpr (!std::is_same_v<A, TsgPathAnimation>) a->SetPropertyName(propertyName);
    a->SetDuration(duration);
    target->AddObject(a);
    return a;
  }
  static void Advance(uint32_t ms) {
    g_ticks += ms;
    AniThread()->Tick();
  }
  FakeScene* scene = nullptr;
  TAnimTarget* target = nullptr;
  TsgCanvas* canvas = nullptr;
};

TEST_F(AnimationClasses, AFloatAnimationReachesThroughObjectProperties) {
  auto* a = Add<TsgFloatAnimation>("Position.Y");
  a->SetStartValue(10);
  a->SetStopValue(50);
  target->Position()->SetX(3);
  a->Start();
  EXPECT_EQ(a->Target().Object, target->Position());
  EXPECT_EQ(a->Target().Name, "Y");
  Advance(500);
  EXPECT_FLOAT_EQ(target->Position()->Y(), 30);
  EXPECT_FLOAT_EQ(target->Position()->X(), 3);
  a->Stop();
  EXPECT_FLOAT_EQ(target->Position()->Y(), 50);
  EXPECT_EQ(a->PropertyName(), "Position.Y");
  EXPECT_FALSE(a->Target().Resolved());  // resolved again on the next start

  // From the current value.
  target->Position()->SetY(90);
  a->SetStartFromCurrent(true);
  a->Start();
  EXPECT_FLOAT_EQ(a->StartValue(), 90);
  Advance(500);
  EXPECT_FLOAT_EQ(target->Position()->Y(), 70);
}

// A target reached through a reference may be freed while the animation
// runs: the animation lets go of it instead of writing into freed memory.
TEST_F(AnimationClasses, ATargetFreedMeanwhileIsLetGo) {
  auto* buddy = New<TsgVisualObject>(nullptr);
  target->Buddy = buddy;
  auto* a = Add<TsgFloatAnimation>("Buddy.Position.X");
  a->SetStopValue(100);
  a->Start();
  Advance(500);
  EXPECT_FLOAT_EQ(buddy->Position()->X(), 50);
  EXPECT_EQ(a->Target().Holder, buddy);
  classlib::Free(buddy);
  target->Buddy = nullptr;
  EXPECT_FALSE(a->Target().Resolved());
  Advance(500);  // nothing to write
  EXPECT_FALSE(a->Running());
}

// A name that does not resolve, or names a property of another kind,
// leaves the target alone.
TEST_F(AnimationClasses, UnsuitableTargetsAreLeftAlone) {
  target->ColorText = "keep";
  target->Tint = 5;
  target->SetOpacity(0.5f);
  const char* names[] = {"NoSuch", "ColorText", "Tint", "Position", "NoSuch.Y", ""};
  for (const char* name : names) {
    auto* a = Add<TsgFloatAnimation>(name);
    a->SetStopValue(1);
    a->Start();
    Advance(1000);
    EXPECT_FALSE(a->Running()) << name;
    classlib::Free(a);
  }
  EXPECT_EQ(target->ColorText, "keep");
  EXPECT_EQ(target->Tint, 5);
  EXPECT_FLOAT_EQ(target->Opacity(), 0.5f);
  // "NoSuch.Y" steps nowhere: "Y" of the object itself, which has none.
  EXPECT_FLOAT_EQ(target->Position()->Y(), 0);

  auto* c = Add<TsgColorAnimation>("Level");
  c->SetStopValue("#FF102030");
  c->Start();
  Advance(1000);
  EXPECT_FLOAT_EQ(target->Level, 0);
}

// Colour text into a string property, numbers into integer ones (a signed
// one holds the same bits).
TEST_F(AnimationClasses, AColourAnimationWritesTheTargetsKind) {
  auto* text = Add<TsgColorAnimation>("ColorText");
  auto* tint = Add<TsgColorAnimation>("Tint");
  auto* tone = Add<TsgColorAnimation>("Tone");
  for (TsgColorAnimation* a : {text, tint, tone}) {
    a->SetStartValue("#FF000000");
    a->SetStopValue("#FFC08040");
    a->Start();
  }
  Advance(1000);
  EXPECT_EQ(target->ColorText, "#FFC08040");
  EXPECT_EQ(static_cast<uint32_t>(target->Tint), 0xFFC08040u);
  EXPECT_EQ(target->Tone, 0xFFC08040u);

  // From the current value, of either kind.
  target->ColorText = "#80FF0000";
  target->Tone = 0xFF00FF00u;
  text->SetStartFromCurrent(true);
  tone->SetStartFromCurrent(true);
  text->Start();
  tone->Start();
  EXPECT_EQ(text->StartValue(), "#80FF0000");
  EXPECT_EQ(tone->StartValue(), "#FF00FF00");
  // Defaults.
  auto* fresh = New<TsgColorAnimation>(nullptr);
  EXPECT_EQ(fresh->StartValue(), "#FFFFFFFF");
  EXPECT_EQ(fresh->StopValue(), "#FFFFFFFF");
  classlib::Free(fresh);
}

TEST_F(AnimationClasses, AGradientAnimationDrivesTheStopsAllThreeHave) {
  auto* a = Add<TsgGradientAnimation>("Gradient");
  // Start and stop values have two stops; the target has three.
  a->StartValue()->Points()->Points(0)->SetIntColor(0xFF000000u);
  a->StartValue()->Points()->Points(1)->SetIntColor(0xFF000000u);
  a->StopValue()->Points()->Points(0)->SetIntColor(0xFF204060u);
  a->StopValue()->Points()->Points(1)->SetIntColor(0xFFFFFFFFu);
  a->Start();
  const int changesAtStart = target->GradientChanges;
  EXPECT_GE(changesAtStart, 1);
  Advance(1000);
  TsgGradientPoints* pts = target->Gradient()->Points();
  ASSERT_EQ(pts->Count(), 3);
  EXPECT_EQ(pts->Points(0)->IntColor(), 0xFF204060u);
  EXPECT_EQ(pts->Points(1)->IntColor(), 0xFFFFFFFFu);
  EXPECT_EQ(pts->Points(2)->IntColor(), 0xFF0000FFu);  // untouched
  EXPECT_GT(target->GradientChanges, changesAtStart);

  // From the current gradient: a copy of all three stops.
  a->SetStartFromCurrent(true);
  a->Start();
  EXPECT_EQ(a->StartValue()->Points()->Count(), 3);
  EXPECT_EQ(a->StartValue()->Points()->Points(0)->IntColor(), 0xFF204060u);
}

TEST_F(AnimationClasses, ARectAnimationAssignsInterpolatedSides) {
  auto* a = Add<TsgRectAnimation>("Frame");
  a->StopValue()->SetRect(TsgRect{10, 20, 30, 40});
  a->Start();
  Advance(500);
  const TsgRect r = target->Frame()->GetRect();
  EXPECT_FLOAT_EQ(r.Left, 5);
  EXPECT_FLOAT_EQ(r.Top, 10);
  EXPECT_FLOAT_EQ(r.Right, 15);
  EXPECT_FLOAT_EQ(r.Bottom, 20);
  Advance(500);
  EXPECT_FLOAT_EQ(target->Frame()->GetRect().Bottom, 40);

  a->SetStartFromCurrent(true);
  a->StopValue()->SetRect(TsgRect{});
  a->Start();
  EXPECT_FLOAT_EQ(a->StartValue()->GetRect().Right, 30);
  Advance(500);
  EXPECT_FLOAT_EQ(target->Frame()->GetRect().Right, 15);

  // Aimed at an object property of another class: left alone.
  auto* wrong = Add<TsgRectAnimation>("Gradient");
  wrong->StopValue()->SetRect(TsgRect{1, 1, 1, 1});
  wrong->Start();
  Advance(1000);
  EXPECT_EQ(target->Gradient()->Points()->Count(), 3);
}

TEST_F(AnimationClasses, KeyFramesInterpolateBetweenTheKeysAroundT) {
  const struct {
    std::vector<std::pair<float, float>> keys;
    uint32_t ms;
    float expected;
  } cases[] = {
      {{{0, 0}, {0.5f, 10}, {1, 30}}, 750, 20},
      {{{0, 0}, {0.5f, 10}, {1, 30}}, 250, 5},
      {{{0, 0}, {0.5f, 10}, {1, 30}}, 1000, 30},
      {{{0.2f, 4}, {0.6f, 8}}, 100, -1},          // before the first key
      {{{0, 4}}, 500, -1},                        // one key
      {{}, 500, -1},                              // none
      {{{0, 1}, {0.5f, 2}, {0.5f, 9}}, 500, 2},   // the first pair around t
      {{{0.5f, 2}, {0.5f, 9}, {1, 3}}, 500, -1},  // equal keys
  };
  for (const auto& c : cases) {
    target->Level = -1;
    auto* a = Add<TsgFloatKeyAnimation>("Level");
    for (const auto& [key, value] : c.keys) {
      auto* k = static_cast<TsgFloatKey*>(a->Keys()->Add());
      k->SetKey(key);
      k->SetValue(value);
    }
    a->Start();
    target->Level = -1;
    Advance(c.ms);
    EXPECT_FLOAT_EQ(target->Level, c.expected) << c.keys.size() << " keys at " << c.ms;
    classlib::Free(a);
  }
}

TEST_F(AnimationClasses, ColourKeysAndTheKeySetter) {
  auto* a = Add<TsgColorKeyAnimation>("ColorText");
  const std::pair<float, const char*> keys[] = {
      {0, "#FF000000"}, {0.5f, "#FF000000"}, {1, "#FF0080FF"}};
  for (const auto& [key, value] : keys) {
    auto* k = static_cast<TsgColorKey*>(a->Keys()->Add());
    k->SetKey(key);
    k->SetValue(value);
  }
  a->Start();
  Advance(1000);
  EXPECT_EQ(target->ColorText, "#FF0080FF");
  // From the current value: the first key takes it.
  target->ColorText = "#FF123456";
  a->SetStartFromCurrent(true);
  a->Start();
  EXPECT_EQ(static_cast<TsgColorKey*>(a->Keys()->Keys(0))->Value(), "#FF123456");

  const struct { float in, out; } clamps[] = {{1.5f, 1}, {-0.5f, 0}, {0.25f, 0.25f}};
  for (const auto& c : clamps) {
    a->Keys()->Keys(1)->SetKey(c.in);
    EXPECT_FLOAT_EQ(a->Keys()->Keys(1)->Key(), c.out);
  }
}

// Frame i of the strip starts at i x ((strip width div count) + 1): each
// frame is followed by a one-pixel gap.
TEST_F(AnimationClasses, ABitmapStripShowsFrameIAfterIGaps) {
  const struct {
    int stripWidth, count;
    uint32_t ms;
    std::string drawn;
  } cases[] = {
      {32, 3, 0, "DrawBitmap (0,0,10,5) (0,0,10,5)"},
      {32, 3, 500, "DrawBitmap (11,0,21,5) (0,0,10,5)"},
      {32, 3, 1000, "DrawBitmap (22,0,32,5) (0,0,10,5)"},
      {32, 3, 400, "DrawBitmap (0,0,10,5) (0,0,10,5)"},
      {20, 1, 1000, "DrawBitmap (0,0,20,5) (0,0,20,5)"},
  };
  for (const auto& c : cases) {
    auto* a = Add<TsgBitmapListAnimation>("Picture");
    a->AnimationBitmap()->SetSize(c.stripWidth, 5);
    a->SetAnimationCount(c.count);
    a->Start();
    if (c.ms) Advance(c.ms);
    ASSERT_FALSE(TDrawLog::Drawn.empty());
    EXPECT_EQ(TDrawLog::Drawn.back(), c.drawn) << c.count << " at " << c.ms;
    EXPECT_EQ(target->Picture()->Width(), 4);  // sized like the target
    classlib::Free(a);
  }
  // No frames: nothing drawn, nothing divided by zero.
  TDrawLog::Drawn.clear();
  auto* none = Add<TsgBitmapListAnimation>("Picture");
  none->AnimationBitmap()->SetSize(10, 5);
  none->SetAnimationCount(0);
  none->Start();
  Advance(500);
  EXPECT_TRUE(TDrawLog::Drawn.empty());
  // An easing curve that overshoots still names a frame of the strip.
  none->SetAnimationCount(2);
  none->SetInterpolation(TsgInterpolationType::sgInterpolationBack);
  none->SetAnimationType(TsgAnimationType::sgAnimationOut);
  none->Start();
  Advance(700);
  EXPECT_EQ(none->FrameIndex(), 1);
}

TEST_F(AnimationClasses, ABitmapAnimationCrossFadesInTheRunsDirection) {
  auto* a = Add<TsgBitmapAnimation>("Picture");
  a->StartValue()->SetSize(4, 3);
  a->StopValue()->SetSize(4, 3);
  a->StartValue()->Clear(0xFFFF0000u);
  a->Start();
  Advance(250);
  EXPECT_EQ(TDrawLog::Drawn.back(), "DrawBitmap (0,0,4,3) (0,0,4,3) @0.250");
  // The working copy starts from StartValue's pixels.
  EXPECT_EQ(target->Picture()->Bits()[0], 0xFFFF0000u);
  a->Stop();
  a->SetInverse(true);
  a->Start();
  Advance(250);
  // Backwards: StopValue under StartValue at 1 - t (t = 0.75 here).
  EXPECT_EQ(TDrawLog::Drawn.back(), "DrawBitmap (0,0,4,3) (0,0,4,3) @0.250");
  EXPECT_EQ(target->Picture()->Bits()[0], 0u);
}

// The path is sampled over all its points, first to last, relative to the
// position at start.
TEST_F(AnimationClasses, APathAnimationMovesAlongThePathToItsLastPoint) {
  auto* rec = New<test::TRecordingCanvas>(100, 100);
  canvas = rec;
  scene->Canvas = rec;
  target->Position()->SetPoint(TsgPoint{5, 7});
  auto* a = Add<TsgPathAnimation>("");
  a->Path()->SetData("M 0 0 L 40 0 L 40 40");
  a->Start();
  EXPECT_EQ(a->PointCount(), 3);
  EXPECT_FLOAT_EQ(target->Position()->X(), 5);
  EXPECT_FLOAT_EQ(target->Position()->Y(), 7);
  Advance(500);
  EXPECT_NEAR(target->Position()->X(), 45, 1e-3);  // the middle point
  EXPECT_NEAR(target->Position()->Y(), 7, 1e-3);
  Advance(500);
  EXPECT_NEAR(target->Position()->X(), 45, 1e-3);  // ends on the last point
  EXPECT_NEAR(target->Position()->Y(), 47, 1e-3);

  // A restart applies the first value of the previous run before the path
  // is read again, so repeated runs start from the same place. Without a
  // canvas there is nothing to flatten with: no movement after that.
  scene->Canvas = nullptr;
  a->Start();
  EXPECT_EQ(a->PointCount(), 0);
  EXPECT_NEAR(target->Position()->Y(), 7, 1e-3);
  Advance(500);
  EXPECT_NEAR(target->Position()->X(), 5, 1e-3);
  EXPECT_NEAR(target->Position()->Y(), 7, 1e-3);
}

TEST_F(AnimationClasses, APathAnimationTurnsTheObjectOnlyWhenBothAxesMove) {
  auto* rec = New<test::TRecordingCanvas>(100, 100);
  canvas = rec;
  scene->Canvas = rec;
  const struct {
    const char* path;
    bool inverse;
    float angle;
  } cases[] = {
      {"M 0 0 L 100 0", false, 30},     // along x only: kept
      {"M 0 0 L 0 100", false, 30},     // along y only: kept
      {"M 0 0 L 100 100", false, -45},  // down and right
      {"M 100 0 L 0 100", false, 45},   // down and left
      {"M 0 0 L 100 100", true, 315},   // backwards (up-left): a + 180, facing as forwards
  };
  for (const auto& c : cases) {
    target->SetRotateAngle(30);
    target->Position()->SetPoint(TsgPoint{0, 0});
    auto* a = Add<TsgPathAnimation>("");
    a->Path()->SetData(c.path);
    a->SetRotate(true);
    a->SetInverse(c.inverse);
    a->Start();
    Advance(250);
    Advance(250);
    EXPECT_NEAR(target->RotateAngle(), c.angle, 1e-2) << c.path << " " << c.inverse;
    classlib::Free(a);
  }
}

TEST_F(AnimationClasses, RegisteredUnderAnimationsAndStreamed) {
  RegisterSceneCoreClasses();
  RegisterSceneCoreClasses();  // twice: listed once
  int listed = 0;
  for (const auto& entry : SceneClassCategories())
    if (entry.Category == "Animations") ++listed;
  EXPECT_EQ(listed, 10);
  auto* sw = New<TsgPathSwitcher>(nullptr);
  EXPECT_FLOAT_EQ(sw->Duration(), 0.001f);
  classlib::Free(sw);
  // Defaults are not written: a fresh animation's text names no Duration.
  auto* fresh = New<TsgFloatAnimation>(nullptr);
  fresh->SetName("fresh");
  classlib::TStringStream text;
  SaveObjectToTextStream(fresh, text);
  EXPECT_EQ(text.DataString().find("Duration"), std::string::npos) << text.DataString();
  fresh->SetDuration(0.5f);
  classlib::TStringStream changed;
  SaveObjectToTextStream(fresh, changed);
  EXPECT_NE(changed.DataString().find("Duration = 0.5"), std::string::npos) << changed.DataString();
  classlib::Free(fresh);

  auto* a = Add<TsgFloatKeyAnimation>("Level");
  a->SetName("keys");
  auto* k = static_cast<TsgFloatKey*>(a->Keys()->Add());
  k->SetKey(0.5f);
  k->SetValue(3);
  a->SetTrigger("IsMouseOver=true");
  classlib::TMemoryStream m;
  SaveObjectToStream(a, m);
  m.SetPosition(0);
  auto* back = static_cast<TsgFloatKeyAnimation*>(LoadObjectFromStream(nullptr, m));
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->PropertyName(), "Level");
  EXPECT_EQ(back->Trigger(), "IsMouseOver=true");
  EXPECT_FLOAT_EQ(back->Duration(), 1);
  ASSERT_EQ(back->Keys()->Count(), 1);
  EXPECT_FLOAT_EQ(static_cast<TsgFloatKey*>(back->Keys()->Keys(0))->Value(), 3);
  EXPECT_FLOAT_EQ(back->Keys()->Keys(0)->Key(), 0.5f);
  classlib::Free(back);
}

}  // namespace
}  // namespace kelm::scene

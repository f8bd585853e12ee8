// One clock tick with 1,000 running float animations against 1,000 sets of
// the same property by name through the published properties: the cost
// the clock adds over the writes themselves. Prints the ratio measured
// side by side in one run.
#include <chrono>
#include <cstdio>
#include <vector>

#include "classlib/typinfo.h"
#include "scene/sg_animations.h"
#include "scene/sg_visual.h"
#include "scene_fakes.h"

using namespace kelm;
using namespace kelm::scene;

namespace {

uint32_t g_ticks = 0;
uint32_t Ticks() { return g_ticks; }

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main() {
  constexpr int Count = 1000;
  constexpr int Rounds = 200;
  SetAnimationTickSource(&Ticks);
  auto* scene = classlib::New<test::FakeScene>(nullptr);
  auto* root = classlib::New<TsgVisualObject>(nullptr);
  scene->AddObject(root);
  std::vector<TsgVisualObject*> objects;
  for (int i = 0; i < Count; ++i) {
    auto* v = classlib::New<TsgVisualObject>(nullptr);
    root->AddObject(v);
    auto* a = classlib::New<TsgFloatAnimation>(nullptr);
    a->SetPropertyName("Opacity");
    a->SetStartValue(0);
    a->SetStopValue(1);
    a->SetDuration(1000);
    a->SetLoop(true);
    v->AddObject(a);
    a->Start();
    objects.push_back(v);
  }

  auto t0 = std::chrono::steady_clock::now();
  for (int r = 0; r < Rounds; ++r) {
    g_ticks += 33;
    AniThread()->Tick();
  }
  const double ticks = Seconds(t0);

  t0 = std::chrono::steady_clock::now();
  for (int r = 0; r < Rounds; ++r)
    for (int i = 0; i < Count; ++i) {
      TsgVisualObject* v = objects[static_cast<size_t>(i)];
      const classlib::TPropInfo* p = classlib::GetPropInfo(v, "Opacity");
      p->SetFloat(v, 0.001 * r);
    }
  const double sets = Seconds(t0);

  std::printf("tick of %d running float animations: %.3f ms\n", Count, 1000 * ticks / Rounds);
  std::printf("%d sets of the property by name:      %.3f ms\n", Count, 1000 * sets / Rounds);
  std::printf("tick / sets: %.2f\n", ticks / sets);
  classlib::Free(scene);
  FreeAniThread();
  return 0;
}

// Restyling 200 controls (each clones its style from the book) against
// loading a tree of the same objects (200 controls, each holding a stored
// copy of that style) from its stream: what cloning through the writer
// and reader costs over reading alone. Prints the ratio measured side by
// side in one run.
#include <chrono>
#include <cstdio>
#include <string>

#include "classlib/streams.h"
#include "scene/sg_classes.h"
#include "scene/sg_control.h"
#include "scene/sg_style.h"
#include "scene_fakes.h"

using namespace kelm;
using namespace kelm::scene;

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// A style of five parts, as a button's might be.
const char* const kStyle =
    "  object TsgVisualObject\n    ResourceName = 'Controlstyle'\n    HitTest = False\n"
    "    object TsgVisualObject\n      ResourceName = 'background'\n      Opacity = 0.5\n"
    "      object TsgVisualObject\n        ResourceName = 'glow'\n      end\n    end\n"
    "    object TsgContent\n      ResourceName = 'content'\n    end\n"
    "    object TsgVisualObject\n      ResourceName = 'text'\n      Tag = 3\n    end\n  end\n";

}  // namespace

int main() {
  constexpr int Count = 200;
  constexpr int Rounds = 50;
  RegisterSceneCoreClasses();
  auto* scene = classlib::New<test::FakeScene>(nullptr);
  auto* book = classlib::New<TsgResources>(nullptr);
  scene->Style = book;
  book->AddScene(scene);
  classlib::TStringList lines;
  lines.SetText(std::string("object TsgBackground\n") + kStyle + "end\n");
  book->SetResource(&lines);
  auto* root = classlib::New<TsgVisualObject>(nullptr);
  scene->AddObject(root);
  for (int i = 0; i < Count; ++i) {
    auto* c = classlib::New<TsgControl>(nullptr);
    root->AddObject(c);
  }
  root->UpdateStyle();

  // The same objects as a stored tree: each style clone kept as a child.
  auto* stored = classlib::New<TsgVisualObject>(nullptr);
  TsgObject* style = book->Root()->FindResource("Controlstyle");
  for (int i = 0; i < Count; ++i) {
    auto* c = classlib::New<TsgControl>(nullptr);
    stored->AddObject(c);
    c->AddObject(static_cast<TsgObject*>(CloneSceneObject(style, c)));
  }
  classlib::TMemoryStream stream;
  SaveObjectToStream(stored, stream);
  classlib::Free(stored);

  auto t0 = std::chrono::steady_clock::now();
  for (int r = 0; r < Rounds; ++r) root->UpdateStyle();
  const double restyle = Seconds(t0);

  t0 = std::chrono::steady_clock::now();
  for (int r = 0; r < Rounds; ++r) {
    stream.SetPosition(0);
    classlib::Free(LoadObjectFromStream(nullptr, stream));
  }
  const double load = Seconds(t0);

  std::printf("restyle %d controls:                %.3f ms\n", Count, 1000 * restyle / Rounds);
  std::printf("load that tree from its stream (%lld bytes): %.3f ms\n",
              static_cast<long long>(stream.Size()), 1000 * load / Rounds);
  std::printf("restyle / load: %.2f\n", restyle / load);
  classlib::Free(root);
  classlib::Free(scene);
  classlib::Free(book);
  return 0;
}

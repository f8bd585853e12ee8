// Painting a tree of 2,000 visual objects through a counting canvas: the
// pass after one object moved (its dirty rectangles only) against a full
// repaint; and cached absolute matrices against recomputing them. Prints
// ratios measured side by side in one run.
#include <chrono>
#include <cstdio>
#include <vector>

#include "recording_canvas.h"
#include "scene/sg_visual.h"
#include "scene_fakes.h"

using namespace kelm;
using namespace kelm::scene;

namespace {

class TBox : public TsgVisualObject {
 public:
  explicit TBox(classlib::TComponent* AOwner) : TsgVisualObject(AOwner) {}
  void Paint() override {
    if (TsgCanvas* c = Canvas()) c->FillRect(GetLocalRect(), 0, 0, sgAllCorners, 1, sgCornerRound);
  }
};

TBox* Box(TsgObject* parent, float x, float y, float w, float h) {
  auto* b = classlib::New<TBox>(nullptr);
  b->SetBounds(x, y, w, h);
  if (parent) parent->AddObject(b);
  return b;
}

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

}  // namespace

int main() {
  auto* scene = classlib::New<test::FakeScene>(nullptr);
  auto* canvas = classlib::New<test::TRecordingCanvas>(1000, 1000);
  scene->Canvas = canvas;
  TBox* root = Box(nullptr, 0, 0, 1000, 1000);
  scene->AddObject(root);
  // 50 groups of 100 x 100 with 39 boxes each: 2,000 objects.
  std::vector<TsgVisualObject*> all{root};
  for (int g = 0; g < 50; ++g) {
    const int row = g / 10;
    TBox* group = Box(root, float(g % 10) * 100, float(row) * 100, 100, 100);
    all.push_back(group);
    for (int k = 0; k < 39; ++k) {
      const int line = k / 7;
      all.push_back(Box(group, float(k % 7) * 14, float(line) * 16, 12, 14));
    }
  }
  std::printf("objects: %zu\n", all.size());
  TsgVisualObject* moving = all[all.size() / 2];

  const int rounds = 200;
  size_t fullCalls = 0, partCalls = 0;
  double full = 0, part = 0;
  for (int i = 0; i < rounds; ++i) {
    scene->UpdateRects = {{0, 0, 1000, 1000}};
    canvas->Calls.clear();
    auto t = std::chrono::steady_clock::now();
    root->PaintChildren();
    full += Seconds(t);
    fullCalls = canvas->Calls.size();

    scene->UpdateRects.clear();
    moving->Position()->SetX(moving->Position()->X() + (i % 2 ? -1.0f : 1.0f));
    canvas->Calls.clear();
    t = std::chrono::steady_clock::now();
    root->PaintChildren();
    part += Seconds(t);
    partCalls = canvas->Calls.size();
  }
  std::printf(
      "paint pass, one object moved vs full repaint: %zu vs %zu canvas calls (%.1fx), "
      "time %.3f ms vs %.3f ms (%.1fx)\n",
      partCalls, fullCalls, double(fullCalls) / double(partCalls ? partCalls : 1),
      part * 1000 / rounds, full * 1000 / rounds, full / (part > 0 ? part : 1e-9));

  // Matrices: read from the caches, against marking the tree dirty before
  // every read pass (updates off, so only the matrices are recomputed).
  double cached = 0, recomputed = 0;
  float sink = 0;
  scene->DisableUpdate = true;
  for (int i = 0; i < rounds; ++i) {
    auto t = std::chrono::steady_clock::now();
    for (TsgVisualObject* v : all) sink += v->GetAbsoluteMatrix().m31;
    cached += Seconds(t);
    root->MarkMatrixDirty();
    t = std::chrono::steady_clock::now();
    for (TsgVisualObject* v : all) sink += v->GetAbsoluteMatrix().m31;
    recomputed += Seconds(t);
  }
  scene->DisableUpdate = false;
  std::printf("absolute matrices, cached vs recomputed: %.3f ms vs %.3f ms per pass (%.1fx) [%g]\n",
              cached * 1000 / rounds, recomputed * 1000 / rounds,
              recomputed / (cached > 0 ? cached : 1e-9), double(sink > 0));
  classlib::Free(scene);
  classlib::Free(canvas);
  return 0;
}

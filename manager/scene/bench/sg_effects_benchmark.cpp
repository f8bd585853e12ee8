// The blur against a direct triangular-kernel blur (every neighbour
// weighted) on 512 x 512 at three radii, and a shadowed object repainted
// from its cached image against rendering the image again every time.
// Prints the ratios measured side by side in one run.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "recording_canvas.h"
#include "scene/sg_bitmap.h"
#include "scene/sg_effects.h"
#include "scene/sg_visual.h"
#include "scene_fakes.h"

using namespace kelm;
using namespace kelm::scene;

namespace {

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

// Rows, then columns, each pixel summed over all 2r + 1 neighbours.
void DirectBlur(std::vector<uint32_t>& px, int w, int h, int r) {
  std::vector<uint32_t> out(px.size());
  const uint32_t d = uint32_t(r + 1) * uint32_t(r + 1);
  auto pass = [&](int lines, int n, size_t lineStep, size_t step) {
    for (int line = 0; line < lines; ++line) {
      const size_t base = size_t(line) * lineStep;
      for (int x = 0; x < n; ++x) {
        uint32_t s[4] = {0, 0, 0, 0};
        for (int i = -r; i <= r; ++i) {
          const uint32_t p = px[base + size_t(std::clamp(x + i, 0, n - 1)) * step];
          const uint32_t wgt = uint32_t(r + 1 - std::abs(i));
          for (int c = 0; c < 4; ++c) s[c] += wgt * ((p >> (8 * c)) & 0xFF);
        }
        uint32_t v = 0;
        for (int c = 0; c < 4; ++c) v |= (s[c] / d) << (8 * c);
        out[base + size_t(x) * step] = v;
      }
    }
    px.swap(out);
  };
  pass(h, w, size_t(w), 1);
  pass(w, h, 1, size_t(w));
}

}  // namespace

int main() {
  constexpr int Side = 512;
  std::mt19937 rng(1);
  std::vector<uint32_t> image(size_t(Side) * Side);
  for (uint32_t& p : image) p = sgPremultiplyAlpha(rng());

  for (const int r : {5, 20, 135}) {
    TsgBitmap b(Side, Side);
    std::copy(image.begin(), image.end(), b.Bits());
    auto t0 = std::chrono::steady_clock::now();
    sgStackBlur(b, r, true);
    const double fast = Seconds(t0);
    std::vector<uint32_t> direct = image;
    t0 = std::chrono::steady_clock::now();
    DirectBlur(direct, Side, Side, r);
    const double slow = Seconds(t0);
    const bool same = std::equal(direct.begin(), direct.end(), b.Bits());
    std::printf("radius %3d: blur %.2f ms, direct %.2f ms, direct / blur %.1f%s\n", r, 1000 * fast,
                1000 * slow, slow / fast, same ? "" : "  (OUTPUTS DIFFER)");
  }

  // A 200 x 100 object with a shadow, painted 100 times.
  SetDefaultCanvasBitmapClass(
      {[](TsgBitmap* b) -> TsgCanvas* { return classlib::New<test::TRecordingCanvas>(b); },
       [](TsgBitmap* b, int row) { return b->Bits() + size_t(row) * size_t(b->Width()); }});
  auto* scene = classlib::New<test::FakeScene>(nullptr);
  auto* canvas = classlib::New<test::TRecordingCanvas>(400, 300);
  scene->Canvas = canvas;
  auto* root = classlib::New<TsgVisualObject>(nullptr);
  root->SetBounds(0, 0, 400, 300);
  scene->AddObject(root);
  auto* obj = classlib::New<TsgVisualObject>(nullptr);
  obj->SetBounds(50, 50, 200, 100);
  root->AddObject(obj);
  obj->AddObject(classlib::New<TsgShadowEffect>(nullptr));
  constexpr int Rounds = 100;
  auto paint = [&](bool stale) {
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < Rounds; ++i) {
      if (stale) obj->UpdateEffects();
      scene->UpdateRects = {{0, 0, 400, 300}};
      canvas->Calls.clear();
      root->PaintChildren();
    }
    return Seconds(t0);
  };
  paint(false);
  const double cached = paint(false);
  const double rendered = paint(true);
  std::printf(
      "shadowed object, %d paints: cached %.2f ms, rendered %.2f ms, rendered / cached %.1f\n",
      Rounds, 1000 * cached, 1000 * rendered, rendered / cached);
  classlib::Free(scene);
  classlib::Free(canvas);
  SetDefaultCanvasBitmapClass({});
  return 0;
}

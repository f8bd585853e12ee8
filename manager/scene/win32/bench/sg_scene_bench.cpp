// The scene host with 200 shapes on 800 x 600, measured side by side in one
// run and printed as ratios: a small dirty rectangle against a full pass, a
// full pass against the same fills made by direct GDI+ calls, and the
// layered road against the normal one. Run under Wine:
// wine-session.sh run BUILD scene_host_benchmark.exe
#include <windows.h>
#undef FindResource

#include <chrono>
#include <cstdio>
#include <functional>

#include "classlib/classdef.h"
#include "classlib/forms.h"
#include "scene/sg_canvas_gdiplus.h"
#include "scene/sg_scene.h"

namespace kelm::scene {

// A filled rectangle: the cheapest shape, so the host's own cost shows.
class TBenchBox : public TsgVisualObject {
  CL_DECLARE_CLASS(TBenchBox, TsgVisualObject)
 public:
  explicit TBenchBox(classlib::TComponent* AOwner) : TsgVisualObject(AOwner) {}
  TsgColor Color = 0xFF336699;
  void Paint() override {
    Canvas()->Fill()->SetStyle(sgBrushSolid);
    Canvas()->Fill()->SetSolidColor(Color);
    Canvas()->FillRect(GetLocalRect(), 0, 0, sgAllCorners, 1, sgCornerRound);
  }
};
CL_CLASS(TBenchBox) {}

}  // namespace kelm::scene

using namespace kelm::scene;
using namespace kelm::scene::gdip;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kWidth = 800, kHeight = 600, kShapes = 200, kRounds = 100;

void Pump() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

double Seconds(const std::function<void()>& f) {
  f();  // warm up
  const auto t0 = Clock::now();
  for (int i = 0; i < kRounds; ++i) f();
  return std::chrono::duration<double>(Clock::now() - t0).count() / kRounds;
}

void Report(const char* what, double a, double b) {
  std::printf("%-44s %8.3f ms %8.3f ms  ratio %.3f\n", what, a * 1e3, b * 1e3, a / b);
}

TsgRect ShapeRect(int i) {
  const int column = i % 20, row = i / 20;
  const float x = static_cast<float>(column * 40), y = static_cast<float>(row * 60);
  return {x + 2, y + 2, x + 38, y + 58};
}

struct Host {
  classlib::TForm* form;
  TsgScene* scene;
};

Host MakeHost(bool layered, int left) {
  auto* form = classlib::New<classlib::TForm>(nullptr, 0);
  form->SetBorderStyle(classlib::TFormBorderStyle::bsNone);
  form->SetBounds(left, 0, kWidth, kHeight);
  auto* scene = classlib::New<TsgScene>(form);
  scene->SetTransparency(layered);
  scene->SetParent(form);
  scene->SetBounds(0, 0, kWidth, kHeight);
  auto* root = classlib::New<TsgVisualObject>(form);
  scene->AddObject(root);
  for (int i = 0; i < kShapes; ++i) {
    auto* box = classlib::New<TBenchBox>(form);
    root->AddObject(box);
    const TsgRect r = ShapeRect(i);
    box->SetBounds(r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top);
  }
  form->Show();
  Pump();
  return {form, scene};
}

// One pass over the queued rectangle, on whichever road the scene takes.
void Pass(TsgScene* scene, const TsgRect& r) {
  scene->AddUpdateRect(r);
  if (scene->Layered())
    SendMessageW(scene->Handle(), WM_SG_UPDATE, 0, 0);
  else
    UpdateWindow(scene->Handle());
}

}  // namespace

int main() {
  sgStartupScene();
  {
    const TsgRect full{0, 0, kWidth, kHeight};
    Host normal = MakeHost(false, 0);
    Host layered = MakeHost(true, 200);
    std::printf("%d shapes on %d x %d, mean of %d passes\n", kShapes, kWidth, kHeight, kRounds);
    Report("small dirty rectangle / full pass", Seconds([&] {
             Pass(normal.scene, {100, 100, 140, 140});
           }),
           Seconds([&] { Pass(normal.scene, full); }));

    // The same fills straight through GDI+ into an equal DIB, then copied to
    // the window as the scene copies its buffer.
    auto* direct = classlib::New<TsgCanvasGdiPlus>(kWidth, kHeight);
    GpGraphics* g = direct->Graphics();
    HWND wnd = normal.scene->Handle();
    const double scenePass = Seconds([&] { Pass(normal.scene, full); });
    const double directPass = Seconds([&] {
      GpBrush* b = nullptr;
      Gdip().GdipCreateSolidFill(0xFF000000u, &b);
      Gdip().GdipFillRectangle(g, b, 0, 0, kWidth, kHeight);
      Gdip().GdipDeleteBrush(b);
      for (int i = 0; i < kShapes; ++i) {
        const TsgRect r = ShapeRect(i);
        Gdip().GdipCreateSolidFill(0xFF336699u, &b);
        Gdip().GdipFillRectangle(g, b, r.Left, r.Top, r.Right - r.Left, r.Bottom - r.Top);
        Gdip().GdipDeleteBrush(b);
      }
      HDC dc = GetDC(wnd);
      direct->FlushBuffer(0, 0, dc);
      ReleaseDC(wnd, dc);
    });
    Report("full pass / direct GDI+ fills", scenePass, directPass);
    if (layered.scene->Layered())
      Report("layered full pass / normal full pass", Seconds([&] { Pass(layered.scene, full); }),
             Seconds([&] { Pass(normal.scene, full); }));
    else
      std::printf("layered road unavailable: no layered-window entry\n");
    classlib::Free(direct);
    classlib::Free(layered.form);
    classlib::Free(normal.form);
  }
  sgShutdownScene();
  return 0;
}

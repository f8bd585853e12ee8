// The GDI+ canvas against the same GDI+ calls made directly, and our radial
// gradient against a linear one, measured side by side in one run and
// printed as ratios (canvas time / direct time: near 1 means the canvas adds
// little). Run under Wine: wine-session.sh run BUILD scene_gdiplus_benchmark.exe
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <functional>

#include "scene/sg_canvas_gdiplus.h"

using namespace kelm::scene;
using namespace kelm::scene::gdip;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(int rounds, const std::function<void()>& f) {
  f();  // warm up
  const auto t0 = Clock::now();
  for (int i = 0; i < rounds; ++i) f();
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

void Report(const char* what, double ours, double baseline) {
  std::printf("%-34s %8.3f ms %8.3f ms  ratio %.2f\n", what, ours * 1e3, baseline * 1e3,
              ours / baseline);
}

}  // namespace

int main() {
  sgStartupScene();
  {
    auto* target = classlib::New<TsgBitmap>(256, 256);
    auto* canvas = classlib::New<TsgCanvasGdiPlus>(target);
    auto* source = classlib::New<TsgBitmap>(64, 64);
    source->Clear(0xFF336699u);
    auto* path = classlib::New<TsgPathData>();
    path->MoveTo({0, 0});
    path->CurveTo({50, 0}, {100, 50}, {100, 100});
    path->LineTo({0, 100});
    path->ClosePath();
    GpGraphics* g = canvas->Graphics();
    const int rounds = 300;
    canvas->Fill()->SetSolidColor(0xFF804020u);
    canvas->StrokeThickness = 3;

    std::printf("%-34s %11s %11s\n", "", "canvas", "direct");
    Report("fill rectangle",
           Seconds(rounds,
                   [&] {
                     canvas->FillRect({10, 10, 200, 200}, 0, 0, sgAllCorners, 1, sgCornerRound);
                   }),
           Seconds(rounds, [&] {
             GpBrush* b = nullptr;
             Gdip().GdipCreateSolidFill(0xFF804020u, &b);
             Gdip().GdipFillRectangle(g, b, 10, 10, 190, 190);
             Gdip().GdipDeleteBrush(b);
           }));
    Report("stroke line",
           Seconds(rounds,
                   [&] {
                     canvas->DrawLine({5, 5}, {250, 200}, 1);
                   }),
           Seconds(rounds, [&] {
             GpBrush* b = nullptr;
             GpPen* p = nullptr;
             Gdip().GdipCreateSolidFill(0xFF000000u, &b);
             Gdip().GdipCreatePen2(b, 1, UnitWorld, &p);
             Gdip().GdipSetPenWidth(p, 3);
             Gdip().GdipDrawLine(g, p, 5, 5, 250, 200);
             Gdip().GdipDeletePen(p);
             Gdip().GdipDeleteBrush(b);
           }));
    Report("fill path",
           Seconds(rounds,
                   [&] {
                     canvas->FillPath(path, {0, 0, 200, 200}, 1);
                   }),
           Seconds(rounds, [&] {
             GpPath* gp = nullptr;
             GpBrush* b = nullptr;
             Gdip().GdipCreatePath(FillModeAlternate, &gp);
             Gdip().GdipStartPathFigure(gp);
             Gdip().GdipAddPathBezier(gp, 0, 0, 100, 0, 200, 100, 200, 200);
             Gdip().GdipAddPathLine(gp, 200, 200, 0, 200);
             Gdip().GdipClosePathFigure(gp);
             Gdip().GdipCreateSolidFill(0xFF804020u, &b);
             Gdip().GdipFillPath(g, b, gp);
             Gdip().GdipDeleteBrush(b);
             Gdip().GdipDeletePath(gp);
           }));
    GpImage* image = TsgCanvasGdiPlus::UpdateBitmapHandle(source);
    Report("draw bitmap",
           Seconds(rounds,
                   [&] {
                     canvas->DrawBitmap(source, {0, 0, 64, 64}, {0, 0, 128, 128}, 1, true);
                   }),
           Seconds(rounds, [&] {
             Gdip().GdipSetInterpolationMode(g, InterpolationModeNearestNeighbor);
             Gdip().GdipDrawImageRectRect(g, image, 0, 0, 128, 128, 0, 0, 64, 64, UnitPixel,
                                          nullptr, nullptr, nullptr);
           }));

    TsgGradient* grad = canvas->Fill()->Gradient();
    canvas->Fill()->SetStyle(sgBrushGradient);
    grad->Points()->Clear();
    grad->Points()->AddPoint(0xFFFF0000u, 0);
    grad->Points()->AddPoint(0xFF0000FFu, 1);
    auto fill = [&] { canvas->FillRect({0, 0, 200, 200}, 0, 0, sgAllCorners, 1, sgCornerRound); };
    grad->SetStyle(sgRadialGradient);
    const double radial = Seconds(rounds / 10, fill);
    grad->SetStyle(sgLinearGradient);
    const double linear = Seconds(rounds / 10, fill);
    std::printf("%-34s %11s %11s\n", "", "radial", "linear");
    Report("gradient fill 200 x 200", radial, linear);

    classlib::Free(path);
    classlib::Free(canvas);
    classlib::Free(source);
    classlib::Free(target);
  }
  sgShutdownScene();
  return 0;
}

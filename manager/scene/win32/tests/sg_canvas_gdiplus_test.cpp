// The GDI+ canvas drawn into scene bitmaps and its window buffer, read back
// pixel by pixel. Samples stay away from anti-aliased edges.
#include <windows.h>
// The scene object's FindResource, not the Win32 macro, in the test's
// visual object class.
#undef FindResource

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "classlib/classdef.h"
#include "classlib/streams.h"
#include "scene/sg_canvas_gdiplus.h"
#include "scene/sg_resources.h"
#include "scene/sg_visual.h"
#include "scene_fakes.h"

namespace kelm::scene {

// A visual object that paints its left half red and its right half blue;
// optionally it then fills its top-left quarter with a brush showing
// itself.
class TTwoTone : public TsgVisualObject {
  CL_DECLARE_CLASS(TTwoTone, TsgVisualObject)
 public:
  explicit TTwoTone(classlib::TComponent* AOwner) : TsgVisualObject(AOwner) {}
  bool ShowsItself = false;
  int Paints = 0;
  void Paint() override {
    ++Paints;
    TsgCanvas* c = PaintCanvas();
    const float w = Width(), h = Height();
    c->Fill()->SetStyle(sgBrushSolid);
    c->Fill()->SetSolidColor(0xFFFF0000u);
    c->FillRect({0, 0, w / 2, h}, 0, 0, sgAllCorners, 1, sgCornerRound);
    c->Fill()->SetSolidColor(0xFF0000FFu);
    c->FillRect({w / 2, 0, w, h}, 0, 0, sgAllCorners, 1, sgCornerRound);
    if (!ShowsItself) return;
    c->Fill()->SetStyle(sgBrushVisual);
    c->Fill()->Visual()->SetVisualObject(this);
    c->FillRect({0, 0, w / 2, h / 2}, 0, 0, sgAllCorners, 1, sgCornerRound);
  }
};

CL_CLASS(TTwoTone) {}

namespace {

using namespace gdip;

class Env : public ::testing::Environment {
 public:
  void SetUp() override { sgStartupScene(); }
  void TearDown() override { sgShutdownScene(); }
};
const auto* const g_env = ::testing::AddGlobalTestEnvironment(new Env);

template <class T>
using Own = test::Owned<T>;

// A bitmap and a canvas drawing into it.
struct Surface {
  Own<TsgBitmap> bitmap;
  Own<TsgCanvasGdiPlus> canvas;
  Surface(int w, int h)
      : bitmap(classlib::New<TsgBitmap>(w, h)),
        canvas(classlib::New<TsgCanvasGdiPlus>(bitmap.get())) {}
  uint32_t At(int x, int y) const { return bitmap->Bits()[y * bitmap->Width() + x]; }
};

int Channel(uint32_t c, int shift) { return int((c >> shift) & 0xFF); }
bool Near(uint32_t a, uint32_t b, int tolerance) {
  for (int s = 0; s < 32; s += 8)
    if (std::abs(Channel(a, s) - Channel(b, s)) > tolerance) return false;
  return true;
}

TEST(GdiPlusCanvas, WindowBufferKeepsAlphaAndHasAContextFromZeroSize) {
  Own<TsgCanvasGdiPlus> c(classlib::New<TsgCanvasGdiPlus>(20, 10));
  ASSERT_NE(c->Bits(), nullptr);
  c->Clear(0);
  c->Fill()->SetSolidColor(0x80FF0000u);
  c->FillRect({0, 0, 10, 10}, 0, 0, sgAllCorners, 1, sgCornerRound);
  EXPECT_TRUE(Near(c->Bits()[5 * 20 + 5], 0x80800000u, 1)) << std::hex << c->Bits()[105];
  EXPECT_EQ(c->Bits()[5 * 20 + 15], 0u);

  // A zero size still gives a 1 x 1 buffer that draws.
  Own<TsgCanvasGdiPlus> z(classlib::New<TsgCanvasGdiPlus>(0, 0));
  EXPECT_EQ(z->Width(), 1);
  EXPECT_EQ(z->Height(), 1);
  ASSERT_NE(z->Graphics(), nullptr);
  HDC dc = z->BufferDC();
  z->ResizeBuffer(-5, 0);  // the same 1 x 1: nothing is rebuilt
  EXPECT_EQ(z->BufferDC(), dc);
  z->Clear(0xFF00FF00u);
  EXPECT_EQ(z->Bits()[0], 0xFF00FF00u);
}

TEST(GdiPlusCanvas, FlushCopiesTheBufferOrItsRectangle) {
  Own<TsgCanvasGdiPlus> from(classlib::New<TsgCanvasGdiPlus>(4, 4));
  from->Clear(0xFFFF0000u);
  Own<TsgCanvasGdiPlus> to(classlib::New<TsgCanvasGdiPlus>(10, 10));
  to->Clear(0);
  from->FlushBuffer(5, 6, to->BufferDC());
  EXPECT_EQ(to->Bits()[6 * 10 + 5], 0xFFFF0000u);
  EXPECT_EQ(to->Bits()[9 * 10 + 8], 0xFFFF0000u);
  EXPECT_EQ(to->Bits()[5 * 10 + 5], 0u);
  EXPECT_EQ(to->Bits()[6 * 10 + 4], 0u);

  to->Clear(0);
  // (1.5, 1, 2.9, 1.2) covers columns 1..2 and row 1 (truncated, plus one).
  from->FlushBufferRect(3, 3, to->BufferDC(), {1.5f, 1, 2.9f, 1.2f});
  for (int y = 0; y < 10; ++y)
    for (int x = 0; x < 10; ++x) {
      const bool in = y == 4 && (x == 4 || x == 5);
      EXPECT_EQ(to->Bits()[y * 10 + x], in ? 0xFFFF0000u : 0u) << x << "," << y;
    }
}

TEST(GdiPlusCanvas, FillCoversExactPixelsAndAppliesOpacity) {
  Surface s(16, 16);
  s.canvas->Fill()->SetSolidColor(0xFFFF0000u);
  s.canvas->FillRect({0, 0, 10, 10}, 0, 0, sgAllCorners, 0.5f, sgCornerRound);
  for (int i : {0, 5, 9}) EXPECT_TRUE(Near(s.At(i, i), 0x7F7F0000u, 1)) << i;
  EXPECT_EQ(s.At(10, 10), 0u);
  EXPECT_EQ(s.At(10, 0), 0u);
  EXPECT_EQ(s.At(0, 10), 0u);
}

TEST(GdiPlusCanvas, ClipsEndWithTheirRestoreState) {
  struct Case {
    const char* name;
    void (*clip)(TsgCanvas*);
    bool inside, outside, between;  // whether (2,2), (12,12) and (8,2) are painted
  };
  const Case cases[] = {
      {"intersect",
       [](TsgCanvas* c) {
         c->IntersectClipRect({0, 0, 6, 6});
       },
       true, false, false},
      {"exclude",
       [](TsgCanvas* c) {
         c->ExcludeClipRect({0, 0, 6, 6});
       },
       false, true, true},
      {"rects",
       [](TsgCanvas* c) {
         c->SetClipRects({{0, 0, 6, 6}, {10, 10, 14, 14}});
       },
       true, true, false},
      {"rects, none", [](TsgCanvas* c) { c->SetClipRects({}); }, false, false, false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    Surface s(16, 16);
    const int state = s.canvas->SaveState();
    ASSERT_GE(state, 0);
    k.clip(s.canvas.get());
    s.canvas->Fill()->SetSolidColor(0xFFFF0000u);
    s.canvas->FillRect({0, 0, 16, 16}, 0, 0, sgAllCorners, 1, sgCornerRound);
    EXPECT_EQ(s.At(2, 2), k.inside ? 0xFFFF0000u : 0u);
    EXPECT_EQ(s.At(12, 12), k.outside ? 0xFFFF0000u : 0u);
    EXPECT_EQ(s.At(8, 2), k.between ? 0xFFFF0000u : 0u);
    s.canvas->RestoreState(state);
    EXPECT_EQ(s.canvas->Fill()->SolidColor(), 0xFFFFFFFFu);  // the fill came back too
    s.canvas->FillRect({0, 0, 16, 16}, 0, 0, sgAllCorners, 1, sgCornerRound);
    EXPECT_EQ(s.At(8, 2), 0xFFFFFFFFu);
    EXPECT_EQ(s.canvas->SaveState(), state);  // the freed slot is reused
  }
}

TEST(GdiPlusCanvas, MatrixPlacesRectangles) {
  TsgMatrix translate = IdentityMatrix;
  translate.m31 = 10;
  translate.m32 = 5;
  TsgMatrix rotate = sgCreateRotationMatrix(sgDegToRad(90));
  rotate.m31 = 20;
  const TsgMatrix matrices[] = {translate, rotate};
  for (const TsgMatrix& m : matrices) {
    Surface s(32, 32);
    s.canvas->SetMatrix(m);
    s.canvas->Fill()->SetSolidColor(0xFF0000FFu);
    s.canvas->FillRect({0, 0, 8, 4}, 0, 0, sgAllCorners, 1, sgCornerRound);
    // Where the scene's own matrix puts the rectangle's centre and corner.
    const TsgVector centre = sgVectorTransform({4, 2, 1}, m);
    const TsgVector outside = sgVectorTransform({4, 7, 1}, m);
    EXPECT_EQ(s.At(int(centre.X), int(centre.Y)), 0xFF0000FFu) << centre.X << "," << centre.Y;
    EXPECT_EQ(s.At(int(outside.X), int(outside.Y)), 0u);
    EXPECT_EQ(s.At(4, 2), 0u);  // not where it would be untransformed
  }
}

TEST(GdiPlusCanvas, RoundedCornersStayClearAndRadiiClamp) {
  struct Case {
    TsgRect r;
    float rx, ry;
    TsgCorners corners;
    std::vector<std::pair<int, int>> clear, painted;
  };
  const Case cases[] = {
      {{0, 0, 20, 20},
       6,
       6,
       sgAllCorners,
       {{0, 0}, {19, 19}, {19, 0}},
       {{10, 10}, {10, 1}, {1, 10}}},
      // Only the top-left corner is rounded.
      {{0, 0, 20, 20}, 6, 6, sgCornerTopLeft, {{0, 0}}, {{19, 19}, {19, 0}, {0, 19}}},
      // Radii past half the sides give the ellipse of the box.
      {{0, 0, 20, 10},
       100,
       100,
       sgAllCorners,
       {{0, 0}, {1, 8}, {18, 1}},
       {{10, 5}, {1, 5}, {10, 1}}},
  };
  for (const Case& k : cases) {
    Surface s(20, 20);
    s.canvas->Fill()->SetSolidColor(0xFF00FF00u);
    s.canvas->FillRect(k.r, k.rx, k.ry, k.corners, 1, sgCornerRound);
    for (auto [x, y] : k.clear) EXPECT_EQ(s.At(x, y), 0u) << x << "," << y;
    for (auto [x, y] : k.painted) EXPECT_EQ(s.At(x, y), 0xFF00FF00u) << x << "," << y;
  }
}

void SetGradient(TsgBrush* brush, const std::vector<std::pair<TsgColor, float>>& stops,
                 TsgGradientStyle style) {
  brush->SetStyle(sgBrushGradient);
  TsgGradient* g = brush->Gradient();
  g->SetStyle(style);
  g->Points()->Clear();
  for (auto [c, o] : stops) g->Points()->AddPoint(c, o);
}

TEST(GdiPlusCanvas, LinearGradientKeepsEndColoursOutsideItsStops) {
  // The default gradient runs from top to bottom of the box; a box away
  // from the origin measures from its own top.
  for (float top : {0.0f, 50.0f}) {
    SCOPED_TRACE(top);
    Surface s(10, 160);
    SetGradient(s.canvas->Fill(), {{0xFFFF0000u, 0.2f}, {0xFF0000FFu, 0.8f}}, sgLinearGradient);
    s.canvas->FillRect({0, top, 10, top + 100}, 0, 0, sgAllCorners, 1, sgCornerRound);
    const int y0 = int(top);
    for (int y : {1, 10, 18}) EXPECT_TRUE(Near(s.At(5, y0 + y), 0xFFFF0000u, 2)) << y;
    for (int y : {82, 90, 98}) EXPECT_TRUE(Near(s.At(5, y0 + y), 0xFF0000FFu, 2)) << y;
    const uint32_t mid = s.At(5, y0 + 50);
    EXPECT_GT(Channel(mid, 16), 64);
    EXPECT_GT(Channel(mid, 0), 64);
  }
}

TEST(GdiPlusCanvas, GradientEndStopsTakeTheOpacity) {
  for (TsgGradientStyle style : {sgLinearGradient, sgRadialGradient}) {
    SCOPED_TRACE(style);
    Surface s(40, 40);
    SetGradient(s.canvas->Fill(), {{0xFFFF0000u, 0.3f}, {0xFFFF0000u, 0.7f}}, style);
    s.canvas->FillRect({0, 0, 40, 40}, 0, 0, sgAllCorners, 0.5f, sgCornerRound);
    // Before the first stop (top rows; the ellipse's rim), in the middle and
    // past the last stop (bottom rows; the centre): half alpha everywhere.
    for (auto [x, y] : {std::pair{20, 2}, {20, 14}, {20, 20}, {20, 37}})
      EXPECT_TRUE(Near(s.At(x, y), 0x7F7F0000u, 2))
          << x << "," << y << " " << std::hex << s.At(x, y);
  }
}

TEST(GdiPlusCanvas, UnusableBitmapsAndBrushesDrawNothing) {
  Own<TsgBitmap> empty(classlib::New<TsgBitmap>());
  Own<TsgCanvasGdiPlus> onEmpty(classlib::New<TsgCanvasGdiPlus>(empty.get()));
  EXPECT_EQ(onEmpty->Graphics(), nullptr);
  EXPECT_EQ(onEmpty->SaveState(), -1);
  onEmpty->FillRect({0, 0, 5, 5}, 0, 0, sgAllCorners, 1, sgCornerRound);
  onEmpty->ClearRect({0, 0, 5, 5}, 0xFFFFFFFFu);

  Surface s(8, 8);
  s.canvas->DrawBitmap(empty.get(), {0, 0, 1, 1}, {0, 0, 8, 8}, 1, true);
  s.canvas->DrawBitmap(nullptr, {0, 0, 1, 1}, {0, 0, 8, 8}, 1, true);
  EXPECT_EQ(empty->NativeHandle(), nullptr);
  // A gradient of one point is its brush's colour; an unresolved resource
  // and a bitmap brush without a bitmap paint nothing.
  SetGradient(s.canvas->Fill(), {{0xFF0000FFu, 0.5f}}, sgLinearGradient);
  s.canvas->Fill()->SetSolidColor(0xFF00FF00u);
  s.canvas->FillRect({0, 0, 4, 4}, 0, 0, sgAllCorners, 1, sgCornerRound);
  EXPECT_EQ(s.At(2, 2), 0xFF00FF00u);
  for (TsgBrushStyle style : {sgBrushResource, sgBrushBitmap}) {
    s.canvas->Fill()->SetStyle(style);
    s.canvas->FillRect({4, 4, 8, 8}, 0, 0, sgAllCorners, 1, sgCornerRound);
    EXPECT_EQ(s.At(6, 6), 0u);
  }
}

TEST(GdiPlusCanvas, RadialGradientCentreIsTheLastStopAndCornersStayUntouched) {
  for (int stops : {2, 150}) {
    SCOPED_TRACE(stops);
    Surface s(40, 40);
    std::vector<std::pair<TsgColor, float>> list;
    for (int i = 0; i < stops; ++i) {
      const float t = float(i) / float(stops - 1);
      list.push_back({sgInterpolateColor(0xFFFF0000u, 0xFF0000FFu, t), t});
    }
    SetGradient(s.canvas->Fill(), list, sgRadialGradient);
    s.canvas->FillRect({0, 0, 40, 40}, 0, 0, sgAllCorners, 1, sgCornerRound);
    EXPECT_TRUE(Near(s.At(20, 20), 0xFF0000FFu, 16)) << std::hex << s.At(20, 20);
    const uint32_t edge = s.At(20, 1);
    EXPECT_GT(Channel(edge, 16), 3 * Channel(edge, 0)) << std::hex << edge;
    for (auto [x, y] : {std::pair{0, 0}, {39, 0}, {0, 39}, {39, 39}}) EXPECT_EQ(s.At(x, y), 0u);
  }
}

TEST(GdiPlusCanvas, LinearGradientWithManyStopsPaints) {
  Surface s(10, 150);
  std::vector<std::pair<TsgColor, float>> list;
  list.reserve(150);
  for (int i = 0; i < 150; ++i) list.push_back({i % 2 ? 0xFF00FF00u : 0xFFFF0000u, i / 149.0f});
  SetGradient(s.canvas->Fill(), list, sgLinearGradient);
  s.canvas->FillRect({0, 0, 10, 150}, 0, 0, sgAllCorners, 1, sgCornerRound);
  EXPECT_EQ(s.At(5, 75) >> 24, 0xFFu);
}

TEST(GdiPlusCanvas, StrokesLinesEllipsesAndGradientLines) {
  Surface s(40, 40);
  TsgCanvas* c = s.canvas.get();
  c->Stroke()->SetSolidColor(0xFF000000u);
  c->StrokeThickness = 4;
  c->DrawLine({2, 5}, {38, 5}, 1);
  EXPECT_EQ(s.At(20, 5), 0xFF000000u);
  EXPECT_EQ(s.At(20, 10), 0u);
  c->DrawEllipse({10, 14, 30, 34}, 1);
  EXPECT_EQ(s.At(20, 14), 0xFF000000u);
  EXPECT_EQ(s.At(20, 24), 0u);
  c->DrawRect({0, 36, 40, 40}, 0, 0, sgAllCorners, 1, sgCornerRound);
  EXPECT_EQ(s.At(20, 36), 0xFF000000u);
  // Radii with no corner chosen: square corners, the outline still drawn.
  Surface q(20, 20);
  q.canvas->StrokeThickness = 2;
  q.canvas->DrawRect({2, 2, 18, 18}, 5, 5, 0, 1, sgCornerRound);
  EXPECT_EQ(q.At(2, 2), 0xFF000000u);
  EXPECT_EQ(q.At(10, 17), 0xFF000000u);
  EXPECT_EQ(q.At(10, 10), 0u);

  // A gradient stroke spans the line from end to end.
  Surface g(100, 10);
  SetGradient(g.canvas->Stroke(), {{0xFFFF0000u, 0}, {0xFF0000FFu, 1}}, sgLinearGradient);
  g.canvas->Stroke()->Gradient()->StopPosition()->SetPoint({1, 0});
  g.canvas->StrokeThickness = 4;
  g.canvas->DrawLine({0, 5}, {100, 5}, 1);
  const uint32_t left = g.At(5, 5), right = g.At(95, 5);
  EXPECT_GT(Channel(left, 16), 200) << std::hex << left;
  EXPECT_GT(Channel(right, 0), 200) << std::hex << right;
}

TsgPathData* Triangle() {
  auto* p = classlib::New<TsgPathData>();
  p->MoveTo({0, 0});
  p->LineTo({10, 0});
  p->LineTo({0, 10});
  p->ClosePath();
  return p;
}

TEST(GdiPlusCanvas, PathsFitTheRectangleUnderClipAndMatrix) {
  Own<TsgPathData> path(Triangle());
  Surface s(40, 40);
  TsgCanvas* c = s.canvas.get();
  TsgMatrix m = IdentityMatrix;
  m.m31 = 10;
  c->SetMatrix(m);
  c->IntersectClipRect({0, 0, 20, 40});  // in world units: x 10..30 on the bitmap
  c->Fill()->SetSolidColor(0xFFFF0000u);
  c->FillPath(path.get(), {0, 0, 30, 30}, 1);
  EXPECT_EQ(s.At(13, 3), 0xFFFF0000u);  // inside the triangle, moved by 10
  EXPECT_EQ(s.At(3, 3), 0u);            // left of the translation
  EXPECT_EQ(s.At(33, 1), 0u);           // clipped off
  EXPECT_EQ(s.At(35, 35), 0u);          // outside the triangle

  EXPECT_TRUE(c->PtInPath({3, 3}, {0, 0, 30, 30}, path.get()));
  EXPECT_FALSE(c->PtInPath({25, 25}, {0, 0, 30, 30}, path.get()));
  EXPECT_FALSE(c->PtInPath({35, 3}, {0, 0, 30, 30}, path.get()));  // outside R

  // An empty path draws nothing and holds no point.
  Own<TsgPathData> empty(classlib::New<TsgPathData>());
  Surface f(20, 20);
  f.canvas->FillPath(empty.get(), {0, 0, 20, 20}, 1);
  f.canvas->DrawPath(empty.get(), {0, 0, 20, 20}, 1);
  for (int i = 0; i < 400; ++i) ASSERT_EQ(f.bitmap->Bits()[i], 0u);
  EXPECT_FALSE(c->PtInPath({3, 3}, {0, 0, 30, 30}, empty.get()));

  Surface d(40, 40);
  d.canvas->StrokeThickness = 2;
  d.canvas->DrawPath(path.get(), {0, 0, 30, 30}, 1);
  EXPECT_EQ(d.At(15, 0), 0xFF000000u);  // the top edge
  EXPECT_EQ(d.At(0, 15), 0xFF000000u);  // the closing edge
  EXPECT_EQ(d.At(5, 5), 0u);
}

// The inked columns of row y.
std::vector<int> InkedColumns(const Surface& s, int y) {
  std::vector<int> xs;
  for (int x = 0; x < s.bitmap->Width(); ++x)
    if (s.At(x, y) >> 24) xs.push_back(x);
  return xs;
}

TEST(GdiPlusCanvas, ACurveThatBendsBothWaysIsStrokedAlongTheCurve) {
  // An S from the top left to the bottom right: its controls lie on either
  // side of the chord, which near the top passes x = 8 and near the bottom
  // x = 92, while the curve is far out at both.
  Own<TsgPathData> path(classlib::New<TsgPathData>());
  path->MoveTo({0, 0});
  path->CurveTo({100, 0}, {0, 60}, {100, 60});
  Surface s(100, 60);
  s.canvas->StrokeThickness = 2;
  s.canvas->DrawPath(path.get(), {0, 0, 100, 60}, 1);
  const auto top = InkedColumns(s, 5), bottom = InkedColumns(s, 54);
  ASSERT_FALSE(top.empty());
  ASSERT_FALSE(bottom.empty());
  EXPECT_GT(top.back(), 30);
  EXPECT_LT(bottom.front(), 70);
  // The chord's middle stays clear: the curve crosses it only at its centre.
  EXPECT_EQ(s.At(25, 15) >> 24, 0u);
  EXPECT_EQ(s.At(75, 45) >> 24, 0u);
}

TEST(GdiPlusCanvas, APathsGradientStrokeSpansTheRectangleItIsDrawnInto) {
  // A path of unit size stretched over 100 x 10: its stroke's gradient runs
  // across the 100 pixels drawn, not across the path's own unit bounds.
  Own<TsgPathData> path(classlib::New<TsgPathData>());
  path->MoveTo({0, 0});
  path->LineTo({1, 1});
  path->MoveTo({0, 0.5f});
  path->LineTo({1, 0.5f});
  Surface s(100, 10);
  SetGradient(s.canvas->Stroke(), {{0xFFFF0000u, 0}, {0xFF0000FFu, 1}}, sgLinearGradient);
  s.canvas->Stroke()->Gradient()->StopPosition()->SetPoint({1, 0});
  s.canvas->StrokeThickness = 4;
  s.canvas->DrawPath(path.get(), {0, 0, 100, 10}, 1);
  const uint32_t left = s.At(4, 5), middle = s.At(50, 5), right = s.At(96, 5);
  EXPECT_GT(Channel(left, 16), 200) << std::hex << left;
  EXPECT_LT(Channel(left, 0), 40) << std::hex << left;
  EXPECT_GT(Channel(right, 0), 200) << std::hex << right;
  EXPECT_LT(Channel(right, 16), 40) << std::hex << right;
  EXPECT_GT(Channel(middle, 16), 64) << std::hex << middle;
  EXPECT_GT(Channel(middle, 0), 64) << std::hex << middle;
}

// The inked rows of column x.
std::vector<int> InkedRows(const Surface& s, int x) {
  std::vector<int> ys;
  for (int y = 0; y < s.bitmap->Height(); ++y)
    if (s.At(x, y) >> 24) ys.push_back(y);
  return ys;
}

TEST(GdiPlusCanvas, OnePixelStrokesLandWhereGdiPlusItselfPutsThem) {
  // A 150 x 60 rectangle shape strokes its half-pixel-inset outline. Our
  // canvas adds no offset of its own: the lines land where one direct GDI+
  // call with the same settings puts them (on Windows columns 0 and 149;
  // Wine's GDI+ puts both 1 pixel right and down).
  Surface ours(160, 70);
  ours.canvas->StrokeThickness = 1;
  ours.canvas->DrawRect({0.5f, 0.5f, 149.5f, 59.5f}, 0, 0, sgAllCorners, 1, sgCornerRound);
  Surface direct(160, 70);
  GpPen* pen = nullptr;
  ASSERT_EQ(Gdip().GdipCreatePen1(0xFF000000u, 1.0f, UnitWorld, &pen), Ok);
  EXPECT_EQ(Gdip().GdipDrawRectangle(direct.canvas->Graphics(), pen, 0.5f, 0.5f, 149, 59), Ok);
  Gdip().GdipDeletePen(pen);
  const auto columns = InkedColumns(ours, 30), rows = InkedRows(ours, 75);
  ASSERT_EQ(columns.size(), 2u);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(columns, InkedColumns(direct, 30));
  EXPECT_EQ(rows, InkedRows(direct, 75));
  EXPECT_EQ(columns[1] - columns[0], 149);
  EXPECT_EQ(rows[1] - rows[0], 59);
}

Own<TsgBitmap> FourColours() {
  Own<TsgBitmap> b(classlib::New<TsgBitmap>(2, 2));
  const uint32_t px[4] = {0xFFFF0000u, 0xFF00FF00u, 0xFF0000FFu, 0xFFFFFFFFu};
  std::copy(px, px + 4, b->Bits());
  return b;
}

TEST(GdiPlusCanvas, NearestNeighbourDoublingAndOpacity) {
  Own<TsgBitmap> src = FourColours();
  Surface s(4, 4);
  s.canvas->DrawBitmap(src.get(), {0, 0, 2, 2}, {0, 0, 4, 4}, 1, true);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x)
      EXPECT_EQ(s.At(x, y), src->Bits()[(y / 2) * 2 + x / 2]) << x << "," << y;

  Surface h(4, 4);
  h.canvas->DrawBitmap(src.get(), {0, 0, 2, 2}, {0, 0, 4, 4}, 0.5f, true);
  EXPECT_TRUE(Near(h.At(0, 0), 0x7F7F0000u, 2)) << std::hex << h.At(0, 0);
  Surface z(4, 4);
  z.canvas->DrawBitmap(src.get(), {0, 0, 2, 2}, {0, 0, 4, 4}, 0, true);
  for (int i = 0; i < 16; ++i) ASSERT_EQ(z.bitmap->Bits()[i], 0u);
}

TEST(GdiPlusCanvas, BitmapOutlivesItsCanvasAndFollowsItsPixels) {
  Own<TsgBitmap> src = FourColours();
  {
    Surface s(4, 4);
    s.canvas->DrawBitmap(src.get(), {0, 0, 2, 2}, {0, 0, 4, 4}, 1, true);
    ASSERT_NE(src->NativeHandle(), nullptr);
  }
  // The handle made by the freed canvas still draws, and changed pixels show
  // (the handle shares the memory).
  src->Bits()[0] = 0xFF000000u;
  Surface t(2, 2);
  t.canvas->DrawBitmap(src.get(), {0, 0, 2, 2}, {0, 0, 2, 2}, 1, true);
  EXPECT_EQ(t.At(0, 0), 0xFF000000u);
  EXPECT_EQ(t.At(1, 1), 0xFFFFFFFFu);
  // A new size drops the handle; the next draw makes one over the new pixels.
  src->SetSize(1, 1);
  EXPECT_EQ(src->NativeHandle(), nullptr);
  src->Bits()[0] = 0xFF00FF00u;
  t.canvas->DrawBitmap(src.get(), {0, 0, 1, 1}, {0, 0, 2, 2}, 1, true);
  EXPECT_EQ(t.At(1, 1), 0xFF00FF00u);
  src.reset();  // frees the handle with no canvas involved
}

TEST(GdiPlusCanvas, ClearRectWritesThePixelsUnchanged) {
  Surface s(8, 8);
  s.canvas->ClearRect({-3, 6.0f, 2.5f, 20}, 0x80FF0000u);  // 2.5 rounds to even: 2
  EXPECT_EQ(s.At(0, 6), 0x80FF0000u);
  EXPECT_EQ(s.At(1, 7), 0x80FF0000u);
  EXPECT_EQ(s.At(2, 7), 0u);
  EXPECT_EQ(s.At(0, 5), 0u);

  Own<TsgCanvasGdiPlus> w(classlib::New<TsgCanvasGdiPlus>(8, 8));
  w->Clear(0);
  w->ClearRect({6, 6, 100, 100}, 0x12345678u);
  EXPECT_EQ(w->Bits()[7 * 8 + 7], 0x12345678u);
  EXPECT_EQ(w->Bits()[5 * 8 + 5], 0u);
  EXPECT_EQ(w->GetBitmapScanline(s.bitmap.get(), -1), nullptr);
  EXPECT_EQ(w->GetBitmapScanline(s.bitmap.get(), 8), nullptr);
  EXPECT_EQ(w->GetBitmapScanline(s.bitmap.get(), 7), s.bitmap->Bits() + 56);
}

// ---------------------------------------------------------------- text

// The canvas's default family where this machine has it, else one that
// fontconfig serves under Wine; every text test draws with it.
std::string TextFamily() {
  for (const wchar_t* name : {L"Tahoma", L"DejaVu Sans"}) {
    GpFontFamily* family = nullptr;
    if (Gdip().GdipCreateFontFamilyFromName(name, nullptr, &family) == Ok) {
      Gdip().GdipDeleteFontFamily(family);
      return name[0] == L'T' ? "Tahoma" : "DejaVu Sans";
    }
  }
  return {};
}

struct TextSurface : Surface {
  TextSurface(int w, int h) : Surface(w, h) {
    family = TextFamily();
    if (!family.empty()) canvas->Font()->SetFamily(family);
  }
  std::string family;
};
#define NEED_FONT(s) \
  if ((s).family.empty()) GTEST_SKIP() << "no usable font on this machine"

template <class F>
F Entry(const char* name) {
  return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(LibraryHandle(), name)));
}

TEST(GdiPlusCanvasText, LongerTextMeasuresWiderAndEmptyTextKeepsTheRectangle) {
  TextSurface s(10, 10);
  NEED_FONT(s);
  const float shortW = sgTextWidth(s.canvas.get(), u"Hello");
  const float longW = sgTextWidth(s.canvas.get(), u"Hello, wide world");
  EXPECT_GT(shortW, 5);
  EXPECT_GT(longW, shortW * 1.5f);

  TsgRect r{3, 4, 50, 60};
  s.canvas->MeasureText(r, u"", false, sgTextAlignNear, sgTextAlignNear);
  EXPECT_EQ(r.Left, 3);
  EXPECT_EQ(r.Right, 3);
  EXPECT_EQ(r.Bottom, 60);

  // Without a drawing context a temporary one measures, and goes again.
  s.canvas->FreeBuffer();
  ASSERT_EQ(s.canvas->Graphics(), nullptr);
  EXPECT_FLOAT_EQ(sgTextWidth(s.canvas.get(), u"Hello"), shortW);
  EXPECT_EQ(s.canvas->Graphics(), nullptr);
}

TEST(GdiPlusCanvasText, OpaqueTextStopsBelowFullAlpha) {
  TextSurface s(120, 30);
  NEED_FONT(s);
  s.canvas->Fill()->SetSolidColor(0xFF000000u);
  s.canvas->Font()->SetSize(20);
  s.canvas->FillText({0, 0, 120, 30}, u"MMMM", false, 1, sgTextAlignNear, sgTextAlignNear);
  uint32_t maxAlpha = 0;
  for (int i = 0; i < 120 * 30; ++i) maxAlpha = std::max(maxAlpha, s.bitmap->Bits()[i] >> 24);
  EXPECT_GT(maxAlpha, 200u);
  EXPECT_LE(maxAlpha, 252u);

  TextSurface none(40, 20);
  NEED_FONT(none);
  none.canvas->Fill()->SetStyle(sgBrushNone);
  none.canvas->FillText({0, 0, 40, 20}, u"MM", false, 1, sgTextAlignNear, sgTextAlignNear);
  for (int i = 0; i < 800; ++i) ASSERT_EQ(none.bitmap->Bits()[i], 0u);
}

// Counts the pixels text left any ink on.
int InkedPixels(const uint32_t* bits, int count) {
  return int(std::count_if(bits, bits + count, [](uint32_t p) { return (p >> 24) != 0; }));
}

TEST(GdiPlusCanvasText, AFamilyThatIsNotInstalledStillDrawsAndMeasures) {
  // Neither the name nor, under Wine, the generic sans-serif exists: the
  // text falls back to an installed family instead of vanishing.
  struct Case {
    const char* family;
  } const cases[] = {{"No Such Family 42"}, {"Tahoma"}, {""}};
  for (const Case& k : cases) {
    SCOPED_TRACE(k.family);
    Surface s(120, 30);
    s.canvas->Font()->SetFamily(k.family);
    s.canvas->Font()->SetSize(20);
    s.canvas->Fill()->SetSolidColor(0xFF000000u);
    s.canvas->FillText({0, 0, 120, 30}, u"MMMM", false, 1, sgTextAlignNear, sgTextAlignNear);
    EXPECT_GT(InkedPixels(s.bitmap->Bits(), 120 * 30), 40);
    TsgRect measured{0, 0, 1000, 200};
    s.canvas->MeasureText(measured, u"MMMM", false, sgTextAlignNear, sgTextAlignNear);
    EXPECT_GT(sgRectWidth(measured), 20);
  }
  // The window canvas starts with its default family, installed or not.
  Own<TsgCanvasGdiPlus> w(classlib::New<TsgCanvasGdiPlus>(120, 30));
  w->Clear(0);
  w->Font()->SetSize(20);
  w->Fill()->SetSolidColor(0xFF000000u);
  w->FillText({0, 0, 120, 30}, u"MMMM", false, 1, sgTextAlignNear, sgTextAlignNear);
  EXPECT_GT(InkedPixels(w->Bits(), 120 * 30), 40);
}

TEST(GdiPlusCanvasText, SizeTwelveAtNinetySixDpiIsNinePoints) {
  using GetSize = GpStatus(WINAPI*)(GpFont*, REAL*);
  using GetUnit = GpStatus(WINAPI*)(GpFont*, int*);
  auto getSize = Entry<GetSize>("GdipGetFontSize");
  auto getUnit = Entry<GetUnit>("GdipGetFontUnit");
  ASSERT_TRUE(getSize && getUnit);
  TextSurface s(4, 4);
  NEED_FONT(s);
  ASSERT_FLOAT_EQ(s.canvas->DpiScale(), 1.0f);
  s.canvas->Font()->SetSize(12);
  TGPFont font(s.canvas->CreateTextFont());
  ASSERT_TRUE(font);
  REAL size = 0;
  int unit = -1;
  getSize(font.Get(), &size);
  getUnit(font.Get(), &unit);
  EXPECT_FLOAT_EQ(size, 9.0f);
  EXPECT_EQ(unit, UnitPoint);
}

TEST(GdiPlusCanvasText, TextToPathOutlinesAndRefusesAMissingStyle) {
  TextSurface s(4, 4);
  NEED_FONT(s);
  Own<TsgPathData> path(classlib::New<TsgPathData>());
  EXPECT_FALSE(s.canvas->TextToPath(path.get(), {0, 0, 100, 40}, u"", false, sgTextAlignNear,
                                    sgTextAlignNear));
  ASSERT_TRUE(s.canvas->TextToPath(path.get(), {0, 0, 100, 40}, u"A", false, sgTextAlignNear,
                                   sgTextAlignNear));
  EXPECT_GT(path->Count(), 3);
  EXPECT_GT(sgRectWidth(path->GetBounds()), 2);
  EXPECT_EQ(path->Points().front().Kind, sgPathPointMoveTo);

  // Find a style the family lacks; the path is then left as it was.
  TsgFontStyle missing = sgFontRegular;
  for (TsgFontStyle st : {sgFontItalic, sgFontBoldItalic, sgFontUnderline, sgFontStrikeout}) {
    const int bits[] = {0, 1, 2, 3, 4, 8};
    BOOL available = TRUE;
    Gdip().GdipIsStyleAvailable(s.canvas->FontFamily(), bits[st], &available);
    if (!available) {
      missing = st;
      break;
    }
  }
  if (missing == sgFontRegular) GTEST_SKIP() << "the family has every style";
  const int before = path->Count();
  s.canvas->Font()->SetStyle(missing);
  EXPECT_FALSE(s.canvas->TextToPath(path.get(), {0, 0, 100, 40}, u"A", false, sgTextAlignNear,
                                    sgTextAlignNear));
  EXPECT_EQ(path->Count(), before);
}

TEST(GdiPlusCanvasText, PrivateFontLoadsFromTheStreamPosition) {
  FILE* f = std::fopen("Z:\\usr\\share\\fonts\\truetype\\dejavu\\DejaVuSans.ttf", "rb");
  if (!f) GTEST_SKIP() << "no font file to load";
  std::vector<uint8_t> bytes(7, 0xEE);  // data before the font
  uint8_t buf[65536];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.insert(bytes.end(), buf, buf + n);
  std::fclose(f);
  classlib::TMemoryStream stream;
  stream.WriteBuffer(bytes.data(), int64_t(bytes.size()));
  stream.SetPosition(7);

  using Count = GpStatus(WINAPI*)(GpFontCollection*, INT*);
  auto count = Entry<Count>("GdipGetFontCollectionFamilyCount");
  ASSERT_NE(count, nullptr);
  Surface s(4, 4);
  s.canvas->LoadFontFromStream(stream);
  ASSERT_NE(s.canvas->PrivateFonts(), nullptr);
  INT families = 0;
  count(s.canvas->PrivateFonts(), &families);
  EXPECT_EQ(families, 1);
  s.canvas->Font()->SetFamily("DejaVu Sans");
  TsgRect r{0, 0, 100, 20};
  s.canvas->MeasureText(r, u"Hello", false, sgTextAlignNear, sgTextAlignNear);
  EXPECT_GT(sgRectWidth(r), 5);
}

// Bitmap drawing leaves the interpolation mode set: nearest-neighbour
// sampling keeps texture pixels exact under Wine.
void NearestNeighbour(TsgCanvas* c) { c->DrawBitmap(nullptr, {}, {}, 0, true); }

struct Sample {
  int x, y;
  uint32_t color;
};

TEST(GdiPlusCanvasBrushes, BitmapFillFollowsItsWrapMode) {
  Own<TsgBitmap> src = FourColours();
  const uint32_t R = 0xFFFF0000u, G = 0xFF00FF00u, B = 0xFF0000FFu, W = 0xFFFFFFFFu;
  struct Case {
    const char* name;
    TsgWrapMode mode;
    TsgRect r;
    std::vector<Sample> samples;
  };
  const Case cases[] = {
      // Tiles start at the world origin, also for a rectangle that does not.
      {"tile",
       sgWrapTile,
       {0, 0, 8, 8},
       {{0, 0, R}, {1, 0, G}, {0, 1, B}, {1, 1, W}, {2, 2, R}, {7, 6, G}, {6, 7, B}, {8, 8, 0}}},
      {"tile off origin", sgWrapTile, {3, 3, 9, 9}, {{4, 4, R}, {3, 3, W}, {5, 4, G}, {2, 2, 0}}},
      // Every second tile is mirrored across.
      {"tile flipped",
       sgWrapTileOriginal,
       {0, 0, 8, 8},
       {{0, 0, R}, {1, 0, G}, {2, 0, G}, {3, 0, R}, {2, 1, W}, {3, 1, B}, {4, 0, R}}},
      // The whole picture over exactly the rectangle, wherever it lies.
      {"stretch",
       sgWrapTileStretch,
       {4, 4, 12, 12},
       {{5, 5, R}, {6, 6, R}, {10, 5, G}, {5, 10, B}, {10, 10, W}, {2, 2, 0}, {13, 13, 0}}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    Surface s(16, 16);
    NearestNeighbour(s.canvas.get());
    s.canvas->Fill()->SetStyle(sgBrushBitmap);
    s.canvas->Fill()->Bitmap()->SetBitmap(src.get());
    s.canvas->Fill()->Bitmap()->SetWrapMode(k.mode);
    s.canvas->FillRect(k.r, 0, 0, sgAllCorners, 1, sgCornerRound);
    for (const Sample& p : k.samples)
      EXPECT_EQ(s.At(p.x, p.y), p.color) << p.x << "," << p.y << " " << std::hex << s.At(p.x, p.y);
  }
}

TEST(GdiPlusCanvasBrushes, BitmapFillTakesTheOpacityFillsPathsAndUsesSharedBitmaps) {
  Own<TsgBitmap> src = FourColours();
  for (float opacity : {0.5f, 0.0f}) {
    SCOPED_TRACE(opacity);
    Surface s(8, 8);
    NearestNeighbour(s.canvas.get());
    s.canvas->Fill()->SetStyle(sgBrushBitmap);
    s.canvas->Fill()->Bitmap()->SetBitmap(src.get());
    s.canvas->FillRect({0, 0, 8, 8}, 0, 0, sgAllCorners, opacity, sgCornerRound);
    if (opacity > 0)
      EXPECT_TRUE(Near(s.At(2, 2), 0x7F7F0000u, 2)) << std::hex << s.At(2, 2);
    else
      for (int i = 0; i < 64; ++i) ASSERT_EQ(s.bitmap->Bits()[i], 0u) << i;
  }
  // An ellipse takes the texture inside and leaves its box's corners alone.
  Surface e(16, 16);
  NearestNeighbour(e.canvas.get());
  e.canvas->Fill()->SetStyle(sgBrushBitmap);
  e.canvas->Fill()->Bitmap()->SetBitmap(src.get());
  e.canvas->FillEllipse({0, 0, 16, 16}, 1);
  EXPECT_EQ(e.At(8, 8), 0xFFFF0000u);
  EXPECT_EQ(e.At(9, 9), 0xFFFFFFFFu);
  EXPECT_EQ(e.At(0, 0), 0u);

  // A brush whose bitmap names a shared one paints the shared pixels.
  Own<TsgBitmapObject> shared(classlib::New<TsgBitmapObject>(nullptr));
  shared->SetResourceName("Tiles");
  shared->SetBitmap(src.get());
  Surface r(4, 4);
  NearestNeighbour(r.canvas.get());
  r.canvas->Fill()->SetStyle(sgBrushBitmap);
  r.canvas->Fill()->Bitmap()->Bitmap()->SetResourceName("Tiles");
  r.canvas->FillRect({0, 0, 4, 4}, 0, 0, sgAllCorners, 1, sgCornerRound);
  EXPECT_EQ(r.At(2, 1), 0xFF0000FFu);
  EXPECT_EQ(r.At(3, 3), 0xFFFFFFFFu);
}

TEST(GdiPlusCanvasBrushes, BitmapStrokeTilesOrStretchesAlongTheLine) {
  Own<TsgBitmap> src = FourColours();
  struct Case {
    const char* name;
    TsgWrapMode mode;
    std::vector<Sample> samples;
  };
  // A horizontal line 4 wide over rows 2..5: its box has no height, so a
  // stretch spreads the picture along the line and keeps its height.
  const Case cases[] = {
      {"tile", sgWrapTile, {{4, 3, 0xFF0000FFu}, {5, 3, 0xFFFFFFFFu}, {4, 4, 0xFFFF0000u}}},
      {"stretch",
       sgWrapTileStretch,
       {{2, 4, 0xFFFF0000u},
        {12, 4, 0xFF00FF00u},
        {2, 5, 0xFF0000FFu},
        {12, 5, 0xFFFFFFFFu},
        {2, 3, 0u},
        {2, 6, 0u}}},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    Surface s(16, 8);
    NearestNeighbour(s.canvas.get());
    s.canvas->Stroke()->SetStyle(sgBrushBitmap);
    s.canvas->Stroke()->Bitmap()->SetBitmap(src.get());
    s.canvas->Stroke()->Bitmap()->SetWrapMode(k.mode);
    s.canvas->StrokeThickness = 4;
    s.canvas->DrawLine({0, 4}, {16, 4}, 1);
    for (const Sample& p : k.samples)
      EXPECT_EQ(s.At(p.x, p.y), p.color) << p.x << "," << p.y << " " << std::hex << s.At(p.x, p.y);
  }
}

struct VisualFixture {
  Own<test::FakeScene> scene{classlib::New<test::FakeScene>(nullptr)};
  TTwoTone* visual = classlib::New<TTwoTone>(nullptr);
  VisualFixture() {
    visual->SetBounds(0, 0, 20, 10);
    scene->AddObject(visual);
  }
  ~VisualFixture() {
    scene->RemoveObject(visual);
    classlib::Free(visual);
  }
};

TEST(GdiPlusCanvasBrushes, VisualFillShowsWhatTheObjectPaints) {
  VisualFixture f;
  Surface s(48, 24);
  NearestNeighbour(s.canvas.get());
  // The picture is stretched over the rectangle under the canvas's own
  // transform: (10, 4, 50, 24) moved left by 8 covers 2..42 across.
  TsgMatrix left = IdentityMatrix;
  left.m31 = -8;
  s.canvas->SetMatrix(left);
  s.canvas->Fill()->SetStyle(sgBrushVisual);
  s.canvas->Fill()->Visual()->SetVisualObject(f.visual);
  s.canvas->FillRect({10, 4, 50, 24}, 0, 0, sgAllCorners, 1, sgCornerRound);
  EXPECT_EQ(f.visual->Paints, 1);
  EXPECT_EQ(s.At(4, 10), 0xFFFF0000u);
  EXPECT_EQ(s.At(20, 20), 0xFFFF0000u);
  EXPECT_EQ(s.At(24, 10), 0xFF0000FFu);
  EXPECT_EQ(s.At(40, 20), 0xFF0000FFu);
  EXPECT_EQ(s.At(1, 10), 0u);
  EXPECT_EQ(s.At(44, 10), 0u);
  EXPECT_EQ(s.At(20, 2), 0u);
  EXPECT_EQ(s.canvas->Fill()->Style(), sgBrushVisual);  // the painting left the fill alone

  // At half opacity, through a path.
  Surface h(20, 10);
  NearestNeighbour(h.canvas.get());
  h.canvas->Fill()->SetStyle(sgBrushVisual);
  h.canvas->Fill()->Visual()->SetVisualObject(f.visual);
  h.canvas->FillEllipse({0, 0, 20, 10}, 0.5f);
  EXPECT_TRUE(Near(h.At(5, 5), 0x7F7F0000u, 2)) << std::hex << h.At(5, 5);
  EXPECT_TRUE(Near(h.At(14, 5), 0x7F00007Fu, 2)) << std::hex << h.At(14, 5);
  EXPECT_EQ(h.At(0, 0), 0u);
}

TEST(GdiPlusCanvasBrushes, VisualFillWithoutAPictureOrShowingItselfStaysTransparent) {
  VisualFixture f;
  Surface s(20, 10);
  s.canvas->Fill()->SetStyle(sgBrushVisual);
  // No object, then an object of no size: nothing to paint.
  s.canvas->FillRect({0, 0, 20, 10}, 0, 0, sgAllCorners, 1, sgCornerRound);
  f.visual->SetBounds(0, 0, 0, 10);
  s.canvas->Fill()->Visual()->SetVisualObject(f.visual);
  s.canvas->FillRect({0, 0, 20, 10}, 0, 0, sgAllCorners, 1, sgCornerRound);
  for (int i = 0; i < 200; ++i) ASSERT_EQ(s.bitmap->Bits()[i], 0u) << i;

  // An object whose own painting uses a brush showing itself is painted
  // once; the inner brush is transparent instead of recursing.
  f.visual->SetBounds(0, 0, 20, 10);
  f.visual->ShowsItself = true;
  NearestNeighbour(s.canvas.get());
  s.canvas->FillRect({0, 0, 20, 10}, 0, 0, sgAllCorners, 1, sgCornerRound);
  EXPECT_EQ(f.visual->Paints, 1);
  EXPECT_EQ(s.At(2, 2), 0xFFFF0000u);
  EXPECT_EQ(s.At(15, 7), 0xFF0000FFu);
}

}  // namespace
}  // namespace kelm::scene

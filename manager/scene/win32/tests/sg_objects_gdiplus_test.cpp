// Shapes, images, text and effects painted by the GDI+ canvas into a scene
// bitmap, read back at fixed points away from anti-aliased edges.
#include <windows.h>
#undef FindResource

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "scene/sg_canvas_gdiplus.h"
#include "scene/sg_classes.h"
#include "scene/sg_effects.h"
#include "scene/sg_objects.h"
#include "scene_fakes.h"

namespace kelm::scene {
namespace {

class Env : public ::testing::Environment {
 public:
  void SetUp() override {
    sgStartupScene();
    RegisterSceneCoreClasses();
  }
  void TearDown() override { sgShutdownScene(); }
};
const auto* const g_env = ::testing::AddGlobalTestEnvironment(new Env);

template <class T>
using Own = test::Owned<T>;

constexpr uint32_t Red = 0xFFFF0000u, Black = 0xFF000000u, Blue = 0xFF0000FFu, Green = 0xFF00FF00u;

int Channel(uint32_t c, int shift) { return int((c >> shift) & 0xFF); }
bool Near(uint32_t a, uint32_t b, int tolerance) {
  for (int s = 0; s < 32; s += 8)
    if (std::abs(Channel(a, s) - Channel(b, s)) > tolerance) return false;
  return true;
}

// A scene whose canvas draws into a bitmap, with a root covering it.
class Stage : public ::testing::Test {
 protected:
  void SetUp() override {
    bitmap.reset(classlib::New<TsgBitmap>(120, 120));
    canvas.reset(classlib::New<TsgCanvasGdiPlus>(bitmap.get()));
    scene->Canvas = canvas.get();
    root->SetBounds(0, 0, 120, 120);
    scene->AddObject(root);
  }
  void TearDown() override {
    scene->RemoveObject(root);
    classlib::Free(root);
  }
  template <class S>
  S* Add(float x, float y, float w, float h) {
    auto* s = classlib::New<S>(nullptr);
    s->SetBounds(x, y, w, h);
    root->AddObject(s);
    return s;
  }
  void Paint() {
    scene->UpdateRects = {{0, 0, 120, 120}};
    ASSERT_TRUE(canvas->BeginScene());
    canvas->Clear(0);
    root->PaintChildren();
    canvas->EndScene();
  }
  uint32_t At(int x, int y) const { return bitmap->Bits()[y * bitmap->Width() + x]; }
  static void Solid(TsgShape* s, TsgColor fill) {
    s->Fill()->SetSolidColor(fill);
    s->Stroke()->SetStyle(sgBrushNone);
  }

  Own<test::FakeScene> scene{classlib::New<test::FakeScene>(nullptr)};
  Own<TsgBitmap> bitmap;
  Own<TsgCanvasGdiPlus> canvas;
  TsgVisualObject* root = classlib::New<TsgVisualObject>(nullptr);
};

TEST_F(Stage, AStrokeOfFourIsInsetByTwoAndAMissingTopLeavesFill) {
  auto* r = Add<TsgRectangle>(0, 0, 40, 30);
  r->Fill()->SetSolidColor(Red);
  r->SetStrokeThickness(4);
  auto* open = Add<TsgRectangle>(60, 0, 40, 30);
  open->Fill()->SetSolidColor(Red);
  open->SetStrokeThickness(4);
  open->SetSides(sgSideLeft | sgSideBottom | sgSideRight);
  Paint();
  // The stroke runs from 0 to 4: inset by 2, so column 3 is stroke, not fill.
  EXPECT_EQ(At(1, 15), Black);
  EXPECT_EQ(At(3, 15), Black);
  EXPECT_EQ(At(5, 15), Red);
  EXPECT_EQ(At(20, 1), Black);
  EXPECT_EQ(At(38, 15), Black);
  // No top side: fill up to the top edge; the sides still stroked.
  EXPECT_EQ(At(80, 1), Red);
  EXPECT_EQ(At(61, 15), Black);
  EXPECT_EQ(At(80, 28), Black);
}

TEST_F(Stage, RoundRectPieAndArc) {
  Solid(Add<TsgRoundRect>(0, 0, 40, 20), Red);
  Solid(Add<TsgPie>(60, 0, 40, 40), Blue);
  auto* arc = Add<TsgArc>(60, 60, 40, 40);
  arc->SetStrokeThickness(4);
  arc->Stroke()->SetSolidColor(Green);
  Paint();
  // Radius 10: the corner is cut, the middle of the short side filled.
  EXPECT_EQ(At(1, 1), 0u);
  EXPECT_EQ(At(1, 10), Red);
  EXPECT_EQ(At(20, 10), Red);
  EXPECT_EQ(At(38, 18), 0u);
  // From 0 degrees sweeping -90: the upper-right quarter.
  EXPECT_EQ(At(90, 10), Blue);
  EXPECT_EQ(At(70, 10), 0u);
  EXPECT_EQ(At(90, 30), 0u);
  // The arc: the same quarter, stroke only (radius 18 about (80, 80)).
  EXPECT_EQ(At(93, 67), Green);
  EXPECT_EQ(At(88, 72), 0u);  // inside: no fill
  EXPECT_EQ(At(93, 93), 0u);  // the lower-right quarter is not drawn
}

TEST_F(Stage, BlurRectangleIsBlurredFromAFillInsetByFour) {
  auto* b = Add<TsgBlurRectangle>(0, 0, 60, 40);
  b->Fill()->SetSolidColor(Red);
  Paint();
  EXPECT_TRUE(Near(At(30, 20), Red, 1)) << std::hex << At(30, 20);
  // Radius 4 across a fill starting at 4: at x = 4 the weights 5+4+3+2+1
  // of 25 fall inside (153), at x = 3 4+3+2+1 (102); nothing at the corner.
  EXPECT_EQ(At(0, 0), 0u);
  EXPECT_NEAR(Channel(At(4, 20), 24), 153, 2) << std::hex << At(4, 20);
  EXPECT_NEAR(Channel(At(3, 20), 24), 102, 2) << std::hex << At(3, 20);
  // A fade draws the same image at the new opacity.
  b->SetOpacity(0.5f);
  Paint();
  EXPECT_NEAR(Channel(At(30, 20), 24), 128, 2) << std::hex << At(30, 20);
}

TsgBitmap* Pattern(int w, int h, uint32_t (*pick)(int x, int y)) {
  auto* b = classlib::New<TsgBitmap>(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) b->Bits()[y * w + x] = pick(x, y);
  return b;
}

TEST_F(Stage, ImageTilesAndNineParts) {
  auto* tiles = Add<TsgImage>(0, 0, 100, 100);
  tiles->SetWrapMode(sgImageTile);
  Own<TsgBitmap> tile(Pattern(30, 30, [](int x, int y) { return x < 2 && y < 2 ? Blue : Green; }));
  tiles->SetBitmap(tile.get());
  Paint();
  for (const int i : {0, 30, 60, 90}) EXPECT_EQ(At(i, i), Blue) << i;
  EXPECT_EQ(At(95, 95), Green);
  EXPECT_EQ(At(105, 50), 0u);  // clipped to the object
  classlib::Free(tiles);

  auto* nine = Add<TsgImage>(10, 20, 100, 60);
  Own<TsgBitmap> frame(Pattern(
      40, 40, [](int x, int y) { return x >= 10 && x < 30 && y >= 10 && y < 30 ? Blue : Red; }));
  nine->SetBitmap(frame.get());
  nine->BitmapMargins()->SetRect({10, 10, 10, 10});
  Paint();
  // The centre (20 x 20 of the bitmap) stretched over (10,10)-(90,50).
  EXPECT_EQ(At(10 + 50, 20 + 30), Blue);
  EXPECT_EQ(At(10 + 85, 20 + 45), Blue);
  EXPECT_EQ(At(10 + 95, 20 + 30), Red);
  EXPECT_EQ(At(10 + 50, 20 + 5), Red);
}

TEST_F(Stage, TwoEffectsOnOneObject) {
  auto* r = Add<TsgRectangle>(20, 20, 60, 40);
  Solid(r, Red);
  auto* shadow = classlib::New<TsgShadowEffect>(nullptr);
  shadow->SetSoftness(0);
  shadow->SetDistance(12);
  shadow->SetDirection(0);
  shadow->SetOpacity(1);
  r->AddObject(shadow);
  r->AddObject(classlib::New<TsgInnerGlowEffect>(nullptr));
  Paint();
  // The object itself, untouched far from its edges.
  EXPECT_TRUE(Near(At(50, 40), Red, 2)) << std::hex << At(50, 40);
  // The shadow to its right: black, opaque beside the object.
  EXPECT_TRUE(Near(At(86, 40), Black, 8)) << std::hex << At(86, 40);
  EXPECT_EQ(At(50, 10), 0u);
  // The gold inner glow just inside the edge: green appears over the red.
  EXPECT_GT(Channel(At(21, 40), 8), 40) << std::hex << At(21, 40);
  EXPECT_EQ(Channel(At(21, 40), 16), 255);
}

TEST_F(Stage, CalloutPointerAndAutoSizedText) {
  Solid(Add<TsgCalloutRectangle>(0, 0, 60, 40), Red);
  Paint();
  EXPECT_EQ(At(30, 8), Red);   // inside the pointer near its tip
  EXPECT_EQ(At(10, 5), 0u);    // beside it, above the shortened top
  EXPECT_EQ(At(10, 20), Red);  // the body

  auto* t = Add<TsgText>(0, 60, 10, 20);
  t->Font()->SetFamily("DejaVu Sans");
  t->Font()->SetSize(12);
  t->SetWordWrap(false);
  t->SetText(u"Snapshot");
  t->SetAutoSize(true);
  TsgRect m{0, 0, 1000, 1000};
  canvas->Font()->Assign(t->Font());
  canvas->MeasureText(m, u"Snapshot", false, sgTextAlignNear, sgTextAlignNear);
  ASSERT_GT(m.Right, 20);
  EXPECT_FLOAT_EQ(t->Width(), 6 + m.Right);
}

TEST_F(Stage, AFittedPathFillsTheMiddleRowsAndATiledLineStaysCheap) {
  auto* p = Add<TsgPath>(0, 0, 100, 100);
  Solid(p, Red);
  p->Data()->SetData("M 0,0 L 200,0 L 200,100 L 0,100 Z");
  p->SetWrapMode(sgPathFit);
  Paint();
  // 200 x 100 halved into 100 x 50, centred: rows 25 to 75 only.
  for (int y : {26, 50, 73}) EXPECT_EQ(At(50, y), Red) << y;
  for (int y : {5, 23, 77, 95}) EXPECT_EQ(At(50, y), 0u) << y;
  EXPECT_EQ(At(2, 50), Red);
  EXPECT_EQ(At(97, 50), Red);
  classlib::Free(p);
  // A straight line tiled down the object: about a hundred lines, drawn
  // in well under the time a hundred thousand would take.
  auto* line = Add<TsgPath>(0, 0, 100, 100);
  line->Data()->SetData("M 0,0 L 100,0");
  line->SetWrapMode(sgPathTile);
  line->Stroke()->SetSolidColor(Green);
  line->Fill()->SetStyle(sgBrushNone);
  const DWORD start = GetTickCount();
  Paint();
  EXPECT_LT(GetTickCount() - start, 5000u);
  EXPECT_TRUE(Near(At(50, 50), Green, 0x40)) << std::hex << At(50, 50);
}

}  // namespace
}  // namespace kelm::scene

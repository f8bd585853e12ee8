// Effects: the blur against a direct weighted sum, the effect classes'
// clamps, geometry and image processing, triggers, and effect images drawn
// around an object through the recording canvas.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "classlib/classdef.h"
#include "classlib/streams.h"
#include "recording_canvas.h"
#include "scene/sg_bitmap.h"
#include "scene/sg_classes.h"
#include "scene/sg_effects.h"
#include "scene/sg_visual.h"
#include "scene_fakes.h"
#include "visual_probe.h"

namespace kelm::test {

// A visual object that fills its local rectangle with one colour at its
// absolute opacity straight into the pixels behind a bitmap canvas (the
// recording canvas draws nothing itself), and notes that it painted.
class TBlock : public scene::TsgVisualObject {
  CL_DECLARE_CLASS(TBlock, TsgVisualObject)
 public:
  explicit TBlock(classlib::TComponent* AOwner) : TsgVisualObject(AOwner) {}
  scene::TsgColor Color = 0xFF2040C0u;
  // Paints into effect images (or other bitmaps).
  int BitmapPaints = 0;
  void Paint() override {
    scene::TsgCanvas* c = Canvas();
    if (auto* rc = dynamic_cast<TRecordingCanvas*>(c)) rc->Calls.push_back("Paint " + Name());
    scene::TsgBitmap* b = c ? c->Bitmap() : nullptr;
    if (!b || !b->Bits()) return;
    ++BitmapPaints;
    const scene::TsgMatrix& m = c->Matrix();
    const int l = int(std::lround(m.m31)), t = int(std::lround(m.m32));
    const int r = int(std::lround(m.m31 + Width() * m.m11));
    const int btm = int(std::lround(m.m32 + Height() * m.m22));
    const uint32_t px =
        scene::sgPremultiplyAlpha(scene::sgOpacityColor(Color, GetAbsoluteOpacity()));
    for (int y = std::max(t, 0); y < std::min(btm, b->Height()); ++y)
      for (int x = std::max(l, 0); x < std::min(r, b->Width()); ++x)
        b->Bits()[size_t(y) * size_t(b->Width()) + size_t(x)] = px;
  }
};
CL_CLASS(TBlock) {}

}  // namespace kelm::test

namespace kelm::scene {
namespace {

using classlib::New;
using test::FakeScene;
using test::RectText;
using test::TBlock;
using test::TRecordingCanvas;
using Lines = std::vector<std::string>;

// ---- the blur against the weighted sum it stands for

// Every pixel as the sum over -r..r of (r + 1 - |i|) x the clamped
// neighbour, divided by (r + 1)^2: rows, then columns of the result.
void ReferenceBlur(std::vector<uint32_t>& px, int w, int h, int r, bool alpha) {
  auto pass = [&](int lines, int n, auto index) {
    std::vector<uint32_t> out(px.size());
    for (int line = 0; line < lines; ++line)
      for (int x = 0; x < n; ++x) {
        uint64_t sum[4] = {0, 0, 0, 0};
        for (int i = -r; i <= r; ++i) {
          const int k = std::clamp(x + i, 0, n - 1);
          const uint32_t p = px[index(line, k)];
          for (int c = 0; c < 4; ++c)
            sum[c] += uint64_t(r + 1 - std::abs(i)) * ((p >> (8 * c)) & 0xFF);
        }
        uint32_t v = 0;
        for (int c = 0; c < 4; ++c)
          v |= uint32_t(sum[c] / (uint64_t(r + 1) * uint64_t(r + 1))) << (8 * c);
        const uint32_t old = px[index(line, x)];
        out[index(line, x)] = alpha ? v : (v & 0x00FFFFFFu) | (old & 0xFF000000u);
      }
    px = out;
  };
  pass(h, w, [w](int y, int x) { return size_t(y) * size_t(w) + size_t(x); });
  pass(w, h, [w](int x, int y) { return size_t(y) * size_t(w) + size_t(x); });
}

std::vector<uint32_t> RandomPremultiplied(std::mt19937& rng, size_t n) {
  std::vector<uint32_t> px(n);
  std::uniform_int_distribution<uint32_t> any(0, 0xFFFFFFFFu);
  for (uint32_t& p : px) p = sgPremultiplyAlpha(any(rng));
  return px;
}

TEST(StackBlur, EqualsTheDirectWeightedSumOnRandomImages) {
  std::mt19937 rng(24);
  struct Size {
    int w, h;
  };
  for (const Size s : {Size{37, 23}, Size{1, 9}, Size{12, 1}})
    for (int r = 1; r <= 20; ++r)
      for (const bool alpha : {true, false}) {
        std::vector<uint32_t> px = RandomPremultiplied(rng, size_t(s.w) * size_t(s.h));
        TsgBitmap b(s.w, s.h);
        std::copy(px.begin(), px.end(), b.Bits());
        sgStackBlur(b, r, alpha);
        ReferenceBlur(px, s.w, s.h, r, alpha);
        ASSERT_TRUE(std::equal(px.begin(), px.end(), b.Bits()))
            << s.w << "x" << s.h << " radius " << r << " alpha " << alpha;
      }
}

TEST(StackBlur, LargeRadiiMatchTooAndZeroDoesNothing) {
  std::mt19937 rng(7);
  for (const int r : {135, 300}) {
    std::vector<uint32_t> px = RandomPremultiplied(rng, 20 * 16);
    TsgBitmap b(20, 16);
    std::copy(px.begin(), px.end(), b.Bits());
    sgStackBlur(b, r, true);
    ReferenceBlur(px, 20, 16, r, true);
    EXPECT_TRUE(std::equal(px.begin(), px.end(), b.Bits())) << "radius " << r;
  }
  const std::vector<uint32_t> px = RandomPremultiplied(rng, 6 * 6);
  for (const int r : {0, -3}) {
    TsgBitmap b(6, 6);
    std::copy(px.begin(), px.end(), b.Bits());
    sgStackBlur(b, r, true);
    EXPECT_TRUE(std::equal(px.begin(), px.end(), b.Bits())) << "radius " << r;
  }
  TsgBitmap empty;
  sgStackBlur(empty, 5, true);  // no pixels: nothing to touch
  EXPECT_TRUE(empty.IsEmpty());
}

// ---- classes, clamps and geometry

struct GeometryCase {
  const char* name;
  std::function<TsgEffect*()> make;
  TsgRect rect;     // GetRect of (0, 0, 100, 50)
  TsgPoint offset;  // GetOffset
};

TEST(Effects, GeometryTable) {
  const float d = 3 * std::cos(sgDegToRad(45));  // 2.12
  const GeometryCase cases[] = {
      {"shadow",
       [] { return New<TsgShadowEffect>(nullptr); },
       {-6 + d, -6 + d, 106 + d, 56 + d},
       {6, 6}},
      {"shadow softness 0",
       [] {
         auto* e = New<TsgShadowEffect>(nullptr);
         e->SetSoftness(0);
         return e;
       },
       {d, d, 100 + d, 50 + d},
       {0, 0}},
      {"blur", [] { return New<TsgBlurEffect>(nullptr); }, {-6, -6, 106, 56}, {6, 6}},
      {"glow", [] { return New<TsgGlowEffect>(nullptr); }, {-13, -13, 113, 63}, {13, 13}},
      {"inner glow", [] { return New<TsgInnerGlowEffect>(nullptr); }, {-8, -8, 108, 58}, {8, 8}},
      {"bevel", [] { return New<TsgBevelEffect>(nullptr); }, {-5, -5, 105, 55}, {5, 5}},
      {"reflection",
       [] {
         auto* e = New<TsgReflectionEffect>(nullptr);
         e->SetOffset(4);
         return e;
       },
       {-2, 52, 102, 106},
       {2, 2}},
  };
  for (const GeometryCase& c : cases) {
    TsgEffect* e = c.make();
    const TsgRect r = e->GetRect({0, 0, 100, 50});
    EXPECT_NEAR(r.Left, c.rect.Left, 1e-4) << c.name;
    EXPECT_NEAR(r.Top, c.rect.Top, 1e-4) << c.name;
    EXPECT_NEAR(r.Right, c.rect.Right, 1e-4) << c.name;
    EXPECT_NEAR(r.Bottom, c.rect.Bottom, 1e-4) << c.name;
    EXPECT_EQ(e->GetOffset().X, c.offset.X) << c.name;
    EXPECT_EQ(e->GetOffset().Y, c.offset.Y) << c.name;
    classlib::Free(e);
  }
}

TEST(Effects, SettersClampAndFlagsFollowTheClass) {
  auto* glow = New<TsgGlowEffect>(nullptr);
  glow->SetSoftness(12);
  glow->SetOpacity(-1);
  EXPECT_EQ(glow->Softness(), 9);
  EXPECT_EQ(glow->Opacity(), 0);
  auto* shadow = New<TsgShadowEffect>(nullptr);
  shadow->SetSoftness(4);
  shadow->SetOpacity(1.5f);
  EXPECT_EQ(shadow->Softness(), 3);
  EXPECT_EQ(shadow->Opacity(), 1);
  auto* refl = New<TsgReflectionEffect>(nullptr);
  refl->SetLength(0.05f);
  EXPECT_FLOAT_EQ(refl->Length(), 0.1f);
  refl->SetLength(2);
  EXPECT_EQ(refl->Length(), 1);
  auto* blur = New<TsgBlurEffect>(nullptr);
  blur->SetSoftness(10);
  EXPECT_EQ(blur->Softness(), 9);
  blur->SetSoftness(std::nanf(""));  // not a number: the low end
  EXPECT_EQ(blur->Softness(), 0);
  auto* inner = New<TsgInnerGlowEffect>(nullptr);
  auto* bevel = New<TsgBevelEffect>(nullptr);
  // Drawn under / instead of / over the object.
  EXPECT_FALSE(shadow->DisablePaint() || shadow->PaintOverObject());
  EXPECT_TRUE(blur->DisablePaint() && bevel->DisablePaint());
  EXPECT_TRUE(inner->PaintOverObject() && !inner->DisablePaint());
  EXPECT_EQ(sgColorToStr(inner->GlowColor()), "#FFFFD700");
  for (TsgEffect* e : std::initializer_list<TsgEffect*>{glow, shadow, refl, blur, inner, bevel})
    classlib::Free(e);
}

TEST(Effects, StreamsKeepWhatDiffersFromTheDefaults) {
  RegisterSceneCoreClasses();
  auto* shadow = New<TsgShadowEffect>(nullptr);
  shadow->SetName("s");
  classlib::TStringStream plain;
  SaveObjectToTextStream(shadow, plain);
  for (const char* name : {"Distance", "Softness", "Opacity", "ShadowColor", "Enabled"})
    EXPECT_EQ(plain.DataString().find(name), std::string::npos) << name;
  shadow->SetShadowColorText("#80112233");
  shadow->SetSoftness(1.5f);
  shadow->SetTrigger("IsMouseOver=true");
  shadow->SetEnabled(false);
  classlib::TStringStream out;
  SaveObjectToTextStream(shadow, out);
  classlib::TStringStream in(out.DataString());
  auto* back = dynamic_cast<TsgShadowEffect*>(LoadObjectFromTextStream(nullptr, in));
  ASSERT_NE(back, nullptr) << out.DataString();
  EXPECT_EQ(back->ShadowColor(), 0x80112233u);
  EXPECT_EQ(back->Softness(), 1.5f);
  EXPECT_EQ(back->Trigger(), "IsMouseOver=true");
  EXPECT_FALSE(back->Enabled());
  classlib::Free(back);
  classlib::Free(shadow);
  int effects = 0;
  for (const auto& entry : SceneClassCategories()) effects += entry.Category == "Effects";
  EXPECT_EQ(effects, 6);
}

// ---- image processing

// A bitmap of w x h with an opaque block of colour c at (l, t, r, b).
std::unique_ptr<TsgBitmap> BlockImage(int w, int h, TsgRect block, TsgColor c) {
  auto b = std::make_unique<TsgBitmap>(w, h);
  for (int y = int(block.Top); y < int(block.Bottom); ++y)
    for (int x = int(block.Left); x < int(block.Right); ++x)
      b->Bits()[size_t(y) * size_t(w) + size_t(x)] = sgPremultiplyAlpha(c);
  return b;
}

uint32_t At(TsgBitmap& b, int x, int y) {
  return b.Bits()[size_t(y) * size_t(b.Width()) + size_t(x)];
}
uint32_t AlphaAt(TsgBitmap& b, int x, int y) { return At(b, x, y) >> 24; }
// Red and blue of the straight colour (green suffers most from rounding).
uint32_t RedBlue(uint32_t premultiplied) {
  return sgUnpremultiplyAlpha(premultiplied) & 0x00FF00FFu;
}

TEST(Effects, ShadowWithSoftnessZeroStillBlursByFiveAndIsCutUnderTheObject) {
  auto* shadow = New<TsgShadowEffect>(nullptr);
  shadow->SetSoftness(0);
  shadow->SetDistance(0);
  shadow->SetOpacity(1);
  auto b = BlockImage(21, 21, {10, 10, 11, 11}, 0xFFFFFFFFu);
  shadow->ProcessEffect(nullptr, *b, {1, 1});
  EXPECT_EQ(AlphaAt(*b, 10, 10), 0u);  // under the object itself
  EXPECT_GT(AlphaAt(*b, 15, 10), 0u);  // radius 5 reaches five pixels out
  EXPECT_EQ(AlphaAt(*b, 16, 10), 0u);
  EXPECT_EQ(At(*b, 15, 10) & 0x00FFFFFFu, 0u);  // recoloured black
  classlib::Free(shadow);
}

TEST(Effects, ShadowDistancesOfAnySizeStayInsideTheImage) {
  auto* shadow = New<TsgShadowEffect>(nullptr);
  shadow->SetSoftness(0);
  for (const float d : {1e30f, -1e30f, std::nanf("")}) {
    shadow->SetDistance(d);
    auto b = BlockImage(12, 12, {4, 4, 8, 8}, 0xFFFFFFFFu);
    shadow->ProcessEffect(nullptr, *b, {1, 1});
    // Displaced out of the image: the mask cuts nothing; the blur remains.
    EXPECT_GT(AlphaAt(*b, 6, 6), 0u) << d;
  }
  classlib::Free(shadow);
}

TEST(Effects, GlowShowsOutsideAndInnerGlowInside) {
  auto* glow = New<TsgGlowEffect>(nullptr);
  auto* inner = New<TsgInnerGlowEffect>(nullptr);
  auto outside = BlockImage(40, 40, {10, 10, 30, 30}, 0xFF0000FFu);
  auto inside = BlockImage(40, 40, {10, 10, 30, 30}, 0xFF0000FFu);
  glow->ProcessEffect(nullptr, *outside, {1, 1});
  inner->ProcessEffect(nullptr, *inside, {1, 1});
  EXPECT_EQ(AlphaAt(*outside, 20, 20), 0u);
  EXPECT_GT(AlphaAt(*outside, 8, 20), 0u);
  EXPECT_EQ(RedBlue(At(*outside, 8, 20)), 0xFF0000u);  // gold: full red, no blue
  EXPECT_GT(AlphaAt(*inside, 11, 20), 0u);
  EXPECT_EQ(AlphaAt(*inside, 5, 20), 0u);
  EXPECT_EQ(AlphaAt(*inside, 20, 20), 0u);  // deep inside, beyond the blur
  classlib::Free(glow);
  classlib::Free(inner);
}

TEST(Effects, BevelOfSizeZeroLeavesTheImageAndLightsOtherwise) {
  auto* bevel = New<TsgBevelEffect>(nullptr);
  bevel->SetSize(0);
  auto b = BlockImage(30, 30, {5, 5, 25, 25}, 0xFF806040u);
  const std::vector<uint32_t> before(b->Bits(), b->Bits() + 900);
  bevel->ProcessEffect(nullptr, *b, {1, 1});
  EXPECT_TRUE(std::equal(before.begin(), before.end(), b->Bits()));
  bevel->SetSize(4);
  bevel->ProcessEffect(nullptr, *b, {1, 1});
  EXPECT_NE(At(*b, 6, 15), before[15 * 30 + 6]);  // an edge lit or shaded
  EXPECT_EQ(AlphaAt(*b, 6, 15), 255u);            // alpha kept
  EXPECT_EQ(At(*b, 2, 2), 0u);                    // transparent stays so
  classlib::Free(bevel);
}

TEST(Effects, ReflectionFlipsAndFadesDownToLength) {
  auto* refl = New<TsgReflectionEffect>(nullptr);  // opacity 0.5, length 0.5
  auto b = std::make_unique<TsgBitmap>(2, 11);
  // Blue rows; the last one red.
  for (int y = 0; y < 11; ++y)
    for (int x = 0; x < 2; ++x) b->Bits()[y * 2 + x] = y == 10 ? 0xFFFF0000u : 0xFF0000FFu;
  refl->ProcessEffect(nullptr, *b, {1, 1});
  // b = round(10 x 0.5) = 5: rows 0..4 keep the flipped rows at fading alpha.
  for (int r = 0; r < 11; ++r) {
    const TsgColor u = sgUnpremultiplyAlpha(At(*b, 0, r));
    if (r >= 5) {
      EXPECT_EQ(At(*b, 0, r), 0u) << r;
      continue;
    }
    EXPECT_EQ(u >> 24, uint32_t(std::trunc(255 * 0.5f * float(5 - r) / 5))) << r;
    // Flipped: row 0 shows the red row.
    EXPECT_EQ(u & 0x00FFFFFFu, r == 0 ? 0xFF0000u : 0x0000FFu) << r;
  }
  classlib::Free(refl);
}

// ---- effects on objects

class EffectPainting : public ::testing::Test {
 protected:
  void SetUp() override {
    test::RegisterVisualTestClasses();
    classlib::RegisterClass(TBlock::StaticClass());
    scene = New<FakeScene>(nullptr);
    canvas = New<TRecordingCanvas>(300, 300);
    scene->Canvas = canvas;
    root = test::Probe("root", nullptr, 0, 0, 300, 300);
    scene->AddObject(root);
    block = New<TBlock>(nullptr);
    block->SetName("b");
    block->SetBounds(20, 30, 40, 20);
    root->AddObject(block);
    SetDefaultCanvasBitmapClass(
        {[](TsgBitmap* b) -> TsgCanvas* { return New<TRecordingCanvas>(b); },
         [](TsgBitmap* b, int row) { return b->Bits() + size_t(row) * size_t(b->Width()); }});
  }
  void TearDown() override {
    classlib::Free(scene);
    classlib::Free(canvas);
    SetDefaultCanvasBitmapClass({});
  }
  // One pass over the root's children; the calls on the scene's canvas.
  Lines Paint() {
    scene->UpdateRects = {{0, 0, 300, 300}};
    canvas->Calls.clear();
    root->PaintChildren();
    return canvas->Calls;
  }
  template <class E>
  E* Add(TsgObject* parent) {
    auto* e = New<E>(nullptr);
    parent->AddObject(e);
    return e;
  }
  // The calls that drew something (not the state around them).
  static Lines Drawing(const Lines& calls) {
    Lines out;
    for (const std::string& c : calls)
      if (c.rfind("DrawBitmap", 0) == 0 || c.rfind("Paint", 0) == 0) out.push_back(c);
    return out;
  }
  FakeScene* scene = nullptr;
  TRecordingCanvas* canvas = nullptr;
  test::TProbe* root = nullptr;
  TBlock* block = nullptr;
};

TEST_F(EffectPainting, TwoEffectsKeepTheirOwnImagesAndDrawUnderAndOver) {
  auto* shadow = Add<TsgShadowEffect>(block);
  shadow->SetSoftness(0);
  auto* inner = Add<TsgInnerGlowEffect>(block);
  inner->SetSoftness(0.2f);  // inflate 4
  ASSERT_TRUE(block->HasEffects());
  const Lines first = Drawing(Paint());
  // Shadow: (0,0,40,20) moved by 2.12; inner glow: inflated by 4.
  EXPECT_EQ(first, (Lines{"DrawBitmap (0,0,40,20) (2.121,2.121,42.121,22.121) fast", "Paint b",
                          "DrawBitmap (0,0,48,28) (-4,-4,44,24) fast"}));
  ASSERT_TRUE(shadow->Image() && inner->Image());
  EXPECT_NE(shadow->Image(), inner->Image());
  // Each image is its own effect's: the shadow's is black, the glow's gold.
  EXPECT_EQ(sgUnpremultiplyAlpha(At(*shadow->Image(), 39, 10)) & 0x00FFFFFFu, 0u);
  EXPECT_EQ(RedBlue(At(*inner->Image(), 5, 14)), 0xFF0000u);
  EXPECT_FALSE(block->EffectsDirty());

  EXPECT_EQ(block->BitmapPaints, 2);  // one render per effect

  // Painted again from the images: no new rendering, the same drawing.
  EXPECT_EQ(Drawing(Paint()), first);
  EXPECT_EQ(block->BitmapPaints, 2);
}

TEST_F(EffectPainting, BlurOfSoftnessZeroDrawsTheObjectUnchangedInItsPlaceAtItsOpacity) {
  auto* blur = Add<TsgBlurEffect>(block);
  blur->SetSoftness(0);
  block->SetOpacity(0.5f);
  // The object's own Paint ran into the image only; the scene canvas got
  // the image in its place, at the object's opacity.
  EXPECT_EQ(Drawing(Paint()), (Lines{"DrawBitmap (0,0,40,20) (0,0,40,20) @0.500 fast"}));
  TsgBitmap& image = *blur->Image();
  // Cached at full opacity, so the opacity is applied once, when drawn.
  for (const auto& [x, y] : {std::pair{0, 0}, std::pair{39, 19}, std::pair{20, 10}})
    EXPECT_EQ(At(image, x, y), sgPremultiplyAlpha(block->Color)) << x << "," << y;
}

TEST_F(EffectPainting, AFadeInShowsTheImageAtTheNewOpacity) {
  auto* shadow = Add<TsgShadowEffect>(block);
  shadow->SetDistance(0);
  shadow->SetOpacity(1);
  block->SetOpacity(0);
  EXPECT_EQ(Drawing(Paint()).front(), "DrawBitmap (0,0,52,32) (-6,-6,46,26) @0 fast");
  block->SetOpacity(1);
  EXPECT_EQ(Drawing(Paint()).front(), "DrawBitmap (0,0,52,32) (-6,-6,46,26) fast");
  // The image rendered while the object was invisible still holds a shadow.
  EXPECT_GT(AlphaAt(*shadow->Image(), 3, 16), 0u);
}

TEST_F(EffectPainting, DisablingRepaintsTheAreaTheEffectCovered) {
  auto* shadow = Add<TsgShadowEffect>(block);
  shadow->SetDistance(20);
  shadow->SetDirection(0);
  Paint();
  scene->UpdateRects.clear();
  shadow->SetEnabled(false);
  ASSERT_FALSE(scene->UpdateRects.empty());
  // Block at (20,30,60,50) with its shadow inflated by 6, moved right by 20.
  EXPECT_EQ(RectText(scene->UpdateRects.back()), "(20,24,86,56)");
  // Disabled: only the object paints now, and its area shrinks back.
  EXPECT_EQ(Drawing(Paint()), (Lines{"Paint b"}));
  EXPECT_EQ(RectText(block->GetUpdateRect()), "(20,30,60,50)");
}

TEST_F(EffectPainting, RenderingAChildLeavesItsAncestorsImagesValid) {
  auto* outer = New<TBlock>(nullptr);
  outer->SetName("o");
  outer->SetBounds(100, 100, 80, 60);
  root->AddObject(outer);
  Add<TsgGlowEffect>(outer);
  auto* inner = New<TBlock>(nullptr);
  inner->SetName("i");
  inner->SetBounds(10, 10, 20, 20);
  outer->AddObject(inner);
  Add<TsgBlurEffect>(inner);
  Paint();
  const int outerPaints = outer->BitmapPaints, innerPaints = inner->BitmapPaints;
  EXPECT_FALSE(outer->EffectsDirty());
  // A repaint of the blurred child marks its own image only; rendering it
  // moves it for a moment, which must not leave the outer image stale.
  inner->Repaint();
  EXPECT_TRUE(inner->EffectsDirty());
  EXPECT_FALSE(outer->EffectsDirty());
  Paint();
  EXPECT_EQ(inner->BitmapPaints, innerPaints + 1);
  EXPECT_FALSE(outer->EffectsDirty());
  Paint();
  EXPECT_EQ(outer->BitmapPaints, outerPaints);
}

TEST_F(EffectPainting, AnImageTooLargeIsNotMade) {
  auto* shadow = Add<TsgShadowEffect>(block);
  block->Scale()->SetPoint({1000, 1000});
  EXPECT_EQ(Drawing(Paint()), (Lines{"Paint b"}));
  EXPECT_TRUE(shadow->Image()->IsEmpty());
  EXPECT_EQ(block->BitmapPaints, 0);
}

TEST_F(EffectPainting, MouseOverTriggerEnablesAndTheLastConditionWins) {
  auto* shadow = Add<TsgShadowEffect>(block);
  shadow->SetTrigger("IsMouseOver=true");
  shadow->SetEnabled(false);
  block->MouseEnter();
  EXPECT_TRUE(shadow->Enabled());
  block->MouseLeave();
  EXPECT_FALSE(shadow->Enabled());

  // An earlier failing condition does not veto: the last one decides.
  shadow->SetTrigger("IsMouseOver=false;IsFocused=false");
  block->MouseEnter();
  EXPECT_TRUE(shadow->Enabled());
  shadow->SetTrigger("IsFocused=false;IsMouseOver=false");
  block->MouseLeave();  // "ismouseover" mentioned: evaluated with the mouse gone
  EXPECT_TRUE(shadow->Enabled());
  block->MouseEnter();
  EXPECT_FALSE(shadow->Enabled());
  // No condition names a property of the object: disabled.
  shadow->SetTrigger("IsMouseOver;Nothing=true");
  block->MouseLeave();
  EXPECT_FALSE(shadow->Enabled());
}

TEST_F(EffectPainting, ChangedPropertiesRenderAgainAndRotationInterpolates) {
  auto* shadow = Add<TsgShadowEffect>(block);
  Paint();
  EXPECT_EQ(block->BitmapPaints, 1);
  shadow->SetDistance(5);
  EXPECT_TRUE(block->EffectsDirty());
  Paint();
  EXPECT_FALSE(block->EffectsDirty());
  EXPECT_EQ(block->BitmapPaints, 2);
  block->SetRotateAngle(30);
  const Lines rotated = Drawing(Paint());
  ASSERT_FALSE(rotated.empty());
  EXPECT_EQ(rotated.front().find(" fast"), std::string::npos) << rotated.front();
  // Effects switched off on the object: drawn plainly.
  block->EffectsDisabled = true;
  EXPECT_EQ(Drawing(Paint()), (Lines{"Paint b"}));
}

}  // namespace
}  // namespace kelm::scene

// Shapes through the recording canvas: the stroke-inset rectangle, canvas
// state around painting, sides, round radii, blurred rectangles and their
// cache, the callout outline, hit tests, stored defaults, and the caret.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "classlib/classdef.h"
#include "classlib/streams.h"
#include "recording_canvas.h"
#include "scene/sg_animation.h"
#include "scene/sg_classes.h"
#include "scene/sg_objects.h"
#include "scene/sg_resources.h"
#include "scene_fakes.h"
#include "visual_probe.h"

namespace kelm::test {
// A rectangle that notes the canvas's stroke state while it paints.
class TStateRectangle : public scene::TsgRectangle {
  CL_DECLARE_CLASS(TStateRectangle, TsgRectangle)
 public:
  explicit TStateRectangle(classlib::TComponent* AOwner) : TsgRectangle(AOwner) {}
  float Thickness = 0;
  scene::TsgStrokeDash Dash = scene::sgDashSolid;
  scene::TsgStrokeCap Cap = scene::sgCapFlat;
  void Paint() override {
    TsgRectangle::Paint();
    Thickness = Canvas()->StrokeThickness;
    Dash = Canvas()->StrokeDash();
    Cap = Canvas()->StrokeCap;
  }
};
CL_CLASS(TStateRectangle) {}
}  // namespace kelm::test

namespace kelm::scene {
namespace {

using classlib::New;
using test::FakeScene;
using test::TRecordingCanvas;
using Lines = std::vector<std::string>;

std::string Text(classlib::TComponent* obj) {
  classlib::TStringStream s;
  SaveObjectToTextStream(obj, s);
  return s.DataString();
}

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class Shapes : public ::testing::Test {
 protected:
  void SetUp() override {
    test::RegisterVisualTestClasses();
    scene = New<FakeScene>(nullptr);
    canvas = New<TRecordingCanvas>(300, 300);
    scene->Canvas = canvas;
    root = test::Probe("root", nullptr, 0, 0, 300, 300);
    scene->AddObject(root);
    SetDefaultCanvasBitmapClass(
        {[this](TsgBitmap* b) -> TsgCanvas* {
           auto* c = New<TRecordingCanvas>(b);
           bitmapCanvas = c;
           return c;
         },
         [](TsgBitmap* b, int row) { return b->Bits() + size_t(row) * size_t(b->Width()); }});
  }
  void TearDown() override {
    classlib::Free(scene);
    classlib::Free(canvas);
    SetDefaultCanvasBitmapClass({});
  }
  template <class S>
  S* Add(float w, float h) {
    auto* s = New<S>(nullptr);
    s->SetBounds(0, 0, w, h);
    root->AddObject(s);
    return s;
  }
  // One pass over the root's children: the calls that drew something.
  Lines Paint() {
    scene->UpdateRects = {{0, 0, 300, 300}};
    canvas->Calls.clear();
    root->PaintChildren();
    Lines out;
    for (const std::string& c : canvas->Calls)
      if (c.rfind("SetMatrix", 0) != 0 && c.rfind("SaveState", 0) != 0 &&
          c.rfind("RestoreState", 0) != 0)
        out.push_back(c);
    return out;
  }
  FakeScene* scene = nullptr;
  TRecordingCanvas* canvas = nullptr;
  test::TProbe* root = nullptr;
  TRecordingCanvas* bitmapCanvas = nullptr;
};

TEST_F(Shapes, AVisibleStrokeInsetsByHalfItsThicknessAndTheCanvasTakesTheState) {
  auto* r = Add<test::TStateRectangle>(100, 50);
  r->Stroke()->SetStyle(sgBrushNone);
  // (The recording canvas notes a stroke of none too; a real one skips it.)
  EXPECT_EQ(Paint(),
            (Lines{"FillRect #FFE0E0E0 (0,0,100,50) 0,0", "DrawRect #FF000000 (0,0,100,50) 0,0"}));
  r->Stroke()->SetStyle(sgBrushSolid);
  r->Stroke()->SetSolidColor(0xFF112233u);
  r->SetStrokeThickness(4);
  r->SetStrokeDash(sgDashDot);
  r->SetStrokeCap(sgCapRound);
  // The canvas keeps the shape's state while it paints; dash and thickness
  // go back afterwards.
  EXPECT_EQ(Paint(),
            (Lines{"FillRect #FFE0E0E0 (2,2,98,48) 0,0", "DrawRect #FF112233 (2,2,98,48) 0,0"}));
  EXPECT_EQ(r->Thickness, 4);
  EXPECT_EQ(r->Dash, sgDashDot);
  EXPECT_EQ(r->Cap, sgCapRound);
  EXPECT_EQ(canvas->StrokeThickness, 1);
  EXPECT_EQ(canvas->StrokeDash(), sgDashSolid);
}

TEST_F(Shapes, AMissingTopSideFillsUpUnderItAndStrokesNoTopEdge) {
  auto* r = Add<TsgRectangle>(100, 50);
  r->SetStrokeThickness(4);
  r->SetSides(sgSideLeft | sgSideBottom | sgSideRight);
  const Lines calls = Paint();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.front(), "FillRect #FFE0E0E0 (2,0,98,48) 0,0");
  // The outline: down the left, along the bottom, up the right; no line
  // runs along y = 2 between the two upper corners.
  ASSERT_EQ(calls.size(), 2u);
  EXPECT_EQ(calls[1].rfind("DrawPath #FF000000 ", 0), 0u) << calls[1];
  EXPECT_FALSE(Has(calls[1], "L 98,2")) << calls[1];
  EXPECT_TRUE(Has(calls[1], "2,48")) << calls[1];
}

TEST_F(Shapes, RoundRectTakesHalfTheShorterSide) {
  for (const auto& [w, h] : {std::pair{100.f, 40.f}, std::pair{40.f, 100.f}}) {
    auto* r = Add<TsgRoundRect>(w, h);
    r->Stroke()->SetStyle(sgBrushNone);
    const Lines calls = Paint();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_TRUE(Has(calls[0], " 20,20")) << calls[0];
    EXPECT_TRUE(Has(calls[1], " 20,20")) << calls[1];
    classlib::Free(r);
  }
}

TEST_F(Shapes, BlurRectangleDrawsInsetByItsRadiusOnceAtFullOpacity) {
  auto* r = Add<TsgBlurRectangle>(100, 50);
  r->SetOpacity(0.5f);
  EXPECT_EQ(Paint(), (Lines{"DrawBitmap (0,0,100,50) (0,0,100,50) @0.500 fast"}));
  ASSERT_NE(bitmapCanvas, nullptr);
  // Softness 0.3: radius 4, the fill inset by 4, drawn at opacity 1 (the
  // object's opacity is applied once, when the image is drawn).
  EXPECT_EQ(bitmapCanvas->Calls, (Lines{"SetMatrix 0,0", "FillRect #FFE0E0E0 (4,4,96,46) 0,0",
                                        "DrawRect #FF000000 (4,4,96,46) 0,0"}));
  // A fade draws the same image at the new opacity.
  bitmapCanvas->Calls.clear();
  r->SetOpacity(1);
  EXPECT_EQ(Paint(), (Lines{"DrawBitmap (0,0,100,50) (0,0,100,50) fast"}));
  EXPECT_TRUE(bitmapCanvas->Calls.empty());
  // A new fill colour draws the image again; so does a sub-pixel resize.
  r->Fill()->SetSolidColor(0xFF00FF00u);
  Paint();
  EXPECT_EQ(bitmapCanvas->Calls,
            (Lines{"FillRect #FF00FF00 (4,4,96,46) 0,0", "DrawRect #FF000000 (4,4,96,46) 0,0"}));
  bitmapCanvas->Calls.clear();
  r->SetBounds(0, 0, 100.25f, 50);
  Paint();
  EXPECT_EQ(bitmapCanvas->Calls, (Lines{"FillRect #FF00FF00 (4,4,96.250,46) 0,0",
                                        "DrawRect #FF000000 (4,4,96.250,46) 0,0"}));
}

TEST_F(Shapes, BlurRoundRectUsesHalfItsInnerHeight) {
  Add<TsgBlurRoundRect>(100, 50);
  Paint();
  ASSERT_NE(bitmapCanvas, nullptr);
  EXPECT_EQ(bitmapCanvas->Calls, (Lines{"SetMatrix 0,0", "FillRect #FFE0E0E0 (4,4,96,46) 21,21",
                                        "DrawRect #FF000000 (4,4,96,46) 21,21"}));
}

TEST_F(Shapes, EllipseHitTestUsesTheInscribedEllipse) {
  auto* e = Add<TsgEllipse>(100, 50);
  e->Position()->SetPoint({10, 20});
  struct Case {
    TsgPoint p;
    bool inside;
  };
  for (const Case& c : {Case{{60, 45}, true}, Case{{11, 21}, false}, Case{{109.9f, 45}, true},
                        Case{{60, 70.5f}, false}, Case{{12, 22}, false}})
    EXPECT_EQ(e->PointInObject(c.p), c.inside) << c.p.X << "," << c.p.Y;
  e->SetWidth(0);
  EXPECT_FALSE(e->PointInObject({10, 45}));
}

TEST_F(Shapes, PieAndArcDrawTheSameQuarter) {
  auto* pie = Add<TsgPie>(100, 100);
  pie->Stroke()->SetStyle(sgBrushNone);
  pie->SetStrokeThickness(0);
  const Lines pieCalls = Paint();
  classlib::Free(pie);
  auto* arc = Add<TsgArc>(100, 100);
  arc->SetStrokeThickness(0);
  const Lines arcCalls = Paint();
  ASSERT_EQ(pieCalls.size(), 2u);
  ASSERT_EQ(arcCalls.size(), 2u);
  // Pie: centre, then the arc from (100,50) up to (50,0), back to the centre.
  EXPECT_EQ(pieCalls[0].rfind("FillPath #FFE0E0E0 M 50,50 L 100,50 C ", 0), 0u) << pieCalls[0];
  EXPECT_TRUE(Has(pieCalls[0], " 50,0 L 50,50 Z")) << pieCalls[0];
  EXPECT_EQ(arcCalls[1].rfind("DrawPath #FF000000 M 100,50 C ", 0), 0u) << arcCalls[1];
  EXPECT_TRUE(Has(arcCalls[1], " 50,0")) << arcCalls[1];
  EXPECT_EQ(arcCalls[0].substr(arcCalls[0].find(" M ")),
            arcCalls[1].substr(arcCalls[1].find(" M ")));
  // The arc's fill of none is its default: not written.
  EXPECT_EQ(Text(arc).find("Fill."), std::string::npos);
}

TEST_F(Shapes, PieHitTestAsksTheCanvasWithTheLocalPointElseTheEllipse) {
  auto* pie = Add<TsgPie>(100, 100);
  pie->Position()->SetPoint({10, 20});
  canvas->Calls.clear();
  // The recording canvas answers by the outline's bounds: the upper-right
  // quarter, (50,0)-(100,50) locally.
  EXPECT_TRUE(pie->PointInObject({10 + 80, 20 + 20}));
  EXPECT_FALSE(pie->PointInObject({10 + 20, 20 + 80}));
  EXPECT_EQ(canvas->Calls, (Lines{"PtInPath (80,20)", "PtInPath (20,80)"}));
  // Without a canvas: the inscribed ellipse.
  scene->Canvas = nullptr;
  EXPECT_TRUE(pie->PointInObject({10 + 20, 20 + 80}));
  scene->Canvas = canvas;
}

TEST_F(Shapes, StoredDefaults) {
  auto* r = Add<TsgRectangle>(100, 50);
  r->SetName("r");
  std::string t = Text(r);
  EXPECT_FALSE(Has(t, "StrokeThickness"));
  EXPECT_FALSE(Has(t, "Sides"));
  EXPECT_FALSE(Has(t, "Corners"));
  r->SetStrokeThickness(2);
  r->SetSides(0);
  r->SetCorners(sgCornerTopLeft);
  t = Text(r);
  EXPECT_TRUE(Has(t, "StrokeThickness = 2")) << t;
  EXPECT_TRUE(Has(t, "Sides = []")) << t;
  EXPECT_TRUE(Has(t, "Corners = [sgCornerTopLeft]")) << t;
  // Read back into a new object.
  classlib::TStringStream s(t);
  auto* back = dynamic_cast<TsgRectangle*>(LoadObjectFromTextStream(nullptr, s));
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->StrokeThickness(), 2);
  EXPECT_EQ(back->Sides(), 0);
  EXPECT_EQ(back->Corners(), sgCornerTopLeft);
  classlib::Free(back);
}

// ---- the callout outline
TEST_F(Shapes, CalloutDefaultsPutTheTipElevenAboveTheShortenedTop) {
  auto* c = Add<TsgCalloutRectangle>(100, 60);
  c->RebuildOutline();
  EXPECT_EQ(c->Outline()->GetData(),
            "M 0.500,11.500 C 0.500,11.500 0.500,11.500 0.500,11.500 L 38,11.500 L 49.500,0.500 "
            "L 61,11.500 L 99.500,11.500 C 99.500,11.500 99.500,11.500 99.500,11.500 "
            "L 99.500,59.500 C 99.500,59.500 99.500,59.500 99.500,59.500 L 0.500,59.500 "
            "C 0.500,59.500 0.500,59.500 0.500,59.500 L 0.500,11.500 ");
}

TEST_F(Shapes, CalloutPointerPlacesAndCorners) {
  auto* c = Add<TsgCalloutRectangle>(100, 60);
  c->Stroke()->SetStyle(sgBrushNone);
  struct Case {
    const char* name;
    TsgCalloutPosition at;
    float offset;
    const char* points;  // the pointer's three points in walking order
  };
  const Case cases[] = {
      {"top, offset 10", sgCalloutTop, 10, "L 10,11 L 21.500,0 L 33,11"},
      {"top, offset -10", sgCalloutTop, -10, "L 67,11 L 78.500,0 L 90,11"},
      {"bottom, centred", sgCalloutBottom, 0, "L 61.500,49 L 50,60 L 38.500,49"},
      {"right, offset 5", sgCalloutRight, 5, "L 89,5 L 100,16.500 L 89,28"},
      {"right, offset -5", sgCalloutRight, -5, "L 89,32 L 100,43.500 L 89,55"},
      {"left, offset -5", sgCalloutLeft, -5, "L 11,55 L 0,43.500 L 11,32"},
      {"left, centred", sgCalloutLeft, 0, "L 11,41.500 L 0,30 L 11,18.500"},
  };
  for (const Case& k : cases) {
    c->SetCalloutPosition(k.at);
    c->SetCalloutOffset(k.offset);
    EXPECT_TRUE(Has(c->Outline()->GetData(), k.points))
        << k.name << ": " << c->Outline()->GetData();
  }
  // Corners walk with the factor 0.5; a missing side is moved over.
  c->SetCalloutPosition(sgCalloutBottom);
  c->SetxRadius(10);
  c->SetyRadius(8);
  c->SetSides(sgSideLeft | sgSideBottom | sgSideRight);
  c->SetCorners(sgCornerTopLeft);
  c->RebuildOutline();
  // Top-left: a curve with controls half-way from the corner; the missing
  // top moved over; top-right unselected: through its corner point.
  const std::string expected = "M 0,8 C 0,4 5,0 10,0 M 90,0 L 100,0 L 100,8 L 100,41 ";
  EXPECT_EQ(c->Outline()->GetData().substr(0, expected.size()), expected);
}

// ---- the caret
TEST_F(Shapes, CaretIsABlueRectangleThatBlinksOnEveryThirdTick) {
  static uint32_t ticks = 1000;
  SetAnimationTickSource([] { return ticks; });
  FreeAniThread();
  auto* box = Add<TsgRectangle>(100, 30);
  box->SetCaretPos({10.5f, 4.4f});
  auto* caret = dynamic_cast<TsgRectangle*>(box->Caret());
  ASSERT_NE(caret, nullptr);
  EXPECT_FALSE(caret->Visible());
  EXPECT_EQ(caret->Position()->X(), 10);  // rounded half to even
  EXPECT_EQ(caret->Position()->Y(), 4);
  EXPECT_EQ(caret->Fill()->SolidColor(), 0xFF0000FFu);
  EXPECT_EQ(caret->Stroke()->Style(), sgBrushNone);
  EXPECT_FALSE(caret->Stored());
  box->ShowCaret();
  EXPECT_TRUE(caret->Visible());
  ASSERT_NE(AniThread(), nullptr);
  std::vector<float> opacity;
  for (int i = 0; i < 6; ++i) {
    ticks += 20;
    AniThread()->Tick();
    opacity.push_back(caret->Opacity());
  }
  // Only the third and sixth ticks move it.
  EXPECT_EQ(opacity[0], 1);
  EXPECT_EQ(opacity[1], 1);
  EXPECT_LT(opacity[2], 1);
  EXPECT_EQ(opacity[3], opacity[2]);
  EXPECT_EQ(opacity[4], opacity[2]);
  EXPECT_NE(opacity[5], opacity[2]);
  box->HideCaret();
  EXPECT_FALSE(caret->Visible());
  classlib::Free(box);
  FreeAniThread();
  SetAnimationTickSource(nullptr);
}

// ---- text
TEST_F(Shapes, TextAutoSizesToItsMeasure) {
  auto* t = Add<TsgText>(50, 40);
  t->Font()->SetSize(12);
  t->SetWordWrap(false);
  t->SetText(u"eleven char");  // measures 7 x 11 = 77 wide, 13 high
  t->SetAutoSize(true);
  EXPECT_EQ(t->Width(), 6 + 77);  // half the font size added
  EXPECT_EQ(t->Height(), 40);     // centred vertically: height kept
  t->SetVertTextAlign(sgTextAlignNear);
  t->SetText(u"twelve chars");
  EXPECT_EQ(t->Width(), 6 + 84);
  EXPECT_EQ(t->Height(), 13);
  // Empty text neither measures nor resizes.
  t->SetText(u"");
  EXPECT_EQ(t->Width(), 90);
  // Stretch turns AutoSize off.
  t->SetStretch(true);
  EXPECT_FALSE(t->AutoSize());
}

TEST_F(Shapes, AnAlignedTextSizesItselfOnceThroughItsParentsLayout) {
  auto* parent = test::Probe("p", root, 0, 0, 200, 40);
  auto* t = New<TsgText>(nullptr);
  t->SetWordWrap(false);
  t->SetText(u"abc");
  parent->AddObject(t);
  t->SetAlign(vaLeft);
  const int before = parent->Realigns;
  t->SetAutoSize(true);  // the parent's layout realigns the text again
  EXPECT_EQ(t->Width(), 5.5f + 21);
  EXPECT_EQ(t->Height(), 40);  // the layout's height, not the text's
  EXPECT_GT(parent->Realigns, before);
  EXPECT_LT(parent->Realigns, before + 4);
}

TEST_F(Shapes, TextRepaintsOnlyForAChangeAndStretchScalesTheMeasure) {
  auto* t = Add<TsgText>(42, 26);
  t->SetText(u"abc");
  EXPECT_EQ(t->GetData().ToString(), u"abc");
  scene->Log.clear();
  t->SetText(u"abc");
  EXPECT_EQ(scene->CountLog("AddUpdateRect"), 0);
  t->SetData(classlib::TVariant(u"abcd"));
  EXPECT_EQ(t->Text(), u"abcd");
  EXPECT_GT(scene->CountLog("AddUpdateRect"), 0);
  t->SetText(u"abc");
  // Not stretched: the local rectangle, not the stroke-inset one.
  EXPECT_EQ(Paint(), (Lines{"FillText (0,0,42,26) 3 chars"}));
  t->Font()->SetSize(12);
  t->SetStretch(true);
  // Measured (0,0,21,13): the matrix doubles both axes; the rectangle grows
  // by a third of the font size.
  EXPECT_EQ(Paint(), (Lines{"MeasureText", "MultiplyMatrix", "FillText (-4,-4,25,17) 3 chars"}));
  EXPECT_FLOAT_EQ(canvas->Matrix().m11, 2);
}

// ---- images
TsgBitmap* Solid(int w, int h) {
  auto* b = New<TsgBitmap>(w, h);
  b->Clear(0xFF336699u);
  return b;
}

TEST_F(Shapes, ImageTilesCountHalfToEvenAndManyTilesFillOnce) {
  auto* img = Add<TsgImage>(100, 100);
  img->SetWrapMode(sgImageTile);
  TsgBitmap* b = Solid(30, 30);
  img->SetBitmap(b);
  classlib::Free(b);
  Lines calls = Paint();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.front(), "IntersectClipRect (0,0,100,100)");
  EXPECT_EQ(std::count_if(calls.begin(), calls.end(),
                          [](const std::string& c) { return c.rfind("DrawBitmap", 0) == 0; }),
            16);
  EXPECT_TRUE(std::find(calls.begin(), calls.end(),
                        "DrawBitmap (0,0,30,30) (90,90,120,120) fast") != calls.end());
  // 100 / 40 = 2.5 rounds to 2: three tiles a side.
  b = Solid(40, 40);
  img->SetBitmap(b);
  classlib::Free(b);
  calls = Paint();
  EXPECT_EQ(std::count_if(calls.begin(), calls.end(),
                          [](const std::string& c) { return c.rfind("DrawBitmap", 0) == 0; }),
            9);
  // A 1 x 1 bitmap would need 101 x 101 tiles: one fill with a tiled brush.
  b = Solid(1, 1);
  img->SetBitmap(b);
  classlib::Free(b);
  EXPECT_EQ(Paint(),
            (Lines{"IntersectClipRect (0,0,100,100)", "FillRect #FFFFFFFF (0,0,101,101) 0,0"}));
  EXPECT_EQ(canvas->Fill()->Style(), sgBrushSolid);  // the state restored
}

TEST_F(Shapes, ImageNinePartsStretchTheCentre) {
  auto* img = Add<TsgImage>(100, 60);
  TsgBitmap* b = Solid(40, 40);
  img->SetBitmap(b);
  classlib::Free(b);
  img->BitmapMargins()->SetRect({10, 10, 10, 10});
  const Lines calls = Paint();
  ASSERT_EQ(calls.size(), 9u);
  EXPECT_EQ(calls[4], "DrawBitmap (10,10,30,30) (10,10,90,50) fast");
  EXPECT_EQ(calls[8], "DrawBitmap (30,30,40,40) (90,50,100,60) fast");
  // Fit and stretch follow DisableInterpolation.
  img->BitmapMargins()->SetRect({0, 0, 0, 0});
  // Fitting never enlarges: centred at its own size.
  EXPECT_EQ(Paint(), (Lines{"DrawBitmap (0,0,40,40) (30,10,70,50)"}));
  img->SetDisableInterpolation(true);
  img->SetWrapMode(sgImageStretch);
  EXPECT_EQ(Paint(), (Lines{"DrawBitmap (0,0,40,40) (0,0,100,60) fast"}));
}

TEST_F(Shapes, AnEmptyImageDrawsOnlyItsDesignFrame) {
  Add<TsgImage>(40, 20);
  EXPECT_TRUE(Paint().empty());
  scene->DesignTime = true;
  EXPECT_EQ(Paint(), (Lines{"DrawRect #A0909090 (0.500,0.500,39.500,19.500) 0,0"}));
  EXPECT_EQ(canvas->StrokeDash(), sgDashSolid);
}

TEST_F(Shapes, ImageDataCopiesAnotherImagesBitmapOrNamesAFile) {
  auto* a = Add<TsgImage>(10, 10);
  auto* b = Add<TsgImage>(10, 10);
  TsgBitmap* bits = Solid(3, 2);
  a->SetBitmap(bits);
  classlib::Free(bits);
  b->SetData(a->GetData());
  EXPECT_EQ(b->Bitmap()->Width(), 3);
  EXPECT_EQ(b->Bitmap()->Bits()[5], a->Bitmap()->Bits()[5]);
  // A file that is not there leaves the bitmap as it was.
  b->SetData(classlib::TVariant(u"no such file.png"));
  EXPECT_EQ(b->Bitmap()->Width(), 3);
  // A reference to something that is no image changes nothing either.
  b->SetData(ObjectRefToVariant(root));
  EXPECT_EQ(b->Bitmap()->Width(), 3);
}

// ---- paths
// Draw calls of one kind in a pass.
long Count(const Lines& calls, const std::string& kind) {
  return std::count_if(calls.begin(), calls.end(),
                       [&](const std::string& c) { return c.rfind(kind + " ", 0) == 0; });
}

TEST_F(Shapes, PathWrapModesPlaceThePathInTheShapeRectangle) {
  struct Case {
    const char* name;
    const char* data;
    TsgPathWrap mode;
    Lines calls;
  };
  const Case cases[] = {
      // 200 x 100 fitted into 100 x 100: halved, centred vertically.
      {"fit, larger",
       "M 0,0 L 200,0 L 200,100 L 0,100 Z",
       sgPathFit,
       {"FillPath #FFE0E0E0 M 0,25 L 100,25 L 100,75 L 0,75 Z"}},
      // Never enlarged: 10 x 20 stays, centred.
      {"fit, smaller",
       "M 0,0 L 10,0 L 10,20 Z",
       sgPathFit,
       {"FillPath #FFE0E0E0 M 45,40 L 55,40 L 55,60 Z"}},
      {"stretch",
       "M 0,0 L 10,0 L 10,20 Z",
       sgPathStretch,
       {"FillPath #FFE0E0E0 M 0,0 L 100,0 L 100,100 Z"}},
      // Its own coordinates, clipped to the object.
      {"original",
       "M 5,5 L 15,5 L 15,25 Z",
       sgPathOriginal,
       {"IntersectClipRect (0,0,100,100)", "FillPath #FFE0E0E0 M 5,5 L 15,5 L 15,25 Z"}},
  };
  for (const Case& k : cases) {
    auto* p = Add<TsgPath>(100, 100);
    p->Stroke()->SetStyle(sgBrushNone);
    p->Data()->SetData(k.data);
    p->SetWrapMode(k.mode);
    Lines fills;
    for (const std::string& c : Paint())
      if (c.rfind("DrawPath", 0) != 0) fills.push_back(c);
    EXPECT_EQ(fills, k.calls) << k.name;
    classlib::Free(p);
  }
}

TEST_F(Shapes, PathTilesStepByTheirBoundsAndTwiceTheInset) {
  auto* p = Add<TsgPath>(100, 100);
  p->SetStrokeThickness(2);  // the shape rectangle starts at (1,1)
  p->Data()->SetData("M 0,0 L 30,0 L 30,30 Z");
  p->SetWrapMode(sgPathTile);
  const Lines calls = Paint();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.front(), "IntersectClipRect (0,0,100,100)");
  // round(100 / 30) = 3: tiles 0..3 a side at 1, 33, 65, 97.
  EXPECT_EQ(Count(calls, "FillPath"), 16);
  EXPECT_EQ(Count(calls, "DrawPath"), 16);
  EXPECT_EQ(calls[1], "FillPath #FFE0E0E0 M 1,1 L 31,1 L 31,31 Z");
  EXPECT_EQ(calls.back(), "DrawPath #FF000000 M 97,97 L 127,97 L 127,127 Z");
}

TEST_F(Shapes, PathTilesStayBoundedAndSkipThoseOutsideTheObject) {
  struct Case {
    const char* name;
    const char* data;
    long tiles;
  };
  const Case cases[] = {
      // 0.001 high: 10^5 rows asked for, ceil(100) + 1 drawn.
      {"horizontal line", "M 0,0 L 100,0", 101},
      {"vertical line", "M 0,0 L 0,100", 101},
      // A point is 0.001 both ways.
      {"point", "M 5,5 L 5,5", 101 * 101},
      // Bounds from x = 80: every column after the first starts at or
      // past the right edge.
      {"offset", "M 80,0 L 110,0 L 110,30 Z", 4},
  };
  for (const Case& k : cases) {
    auto* p = Add<TsgPath>(100, 100);
    p->Stroke()->SetStyle(sgBrushNone);
    p->Data()->SetData(k.data);
    p->SetWrapMode(sgPathTile);
    const Lines calls = Paint();
    EXPECT_EQ(Count(calls, "FillPath"), k.tiles) << k.name;
    EXPECT_EQ(Count(calls, "DrawPath"), k.tiles) << k.name;
    classlib::Free(p);
  }
}

TEST_F(Shapes, AnEmptyPathDrawsOnlyItsDesignOutlineAndHitTestsByRectangle) {
  auto* p = Add<TsgPath>(40, 20);
  p->Position()->SetPoint({10, 10});
  p->SetOpacity(0.5f);
  for (TsgPathWrap mode : {sgPathOriginal, sgPathFit, sgPathStretch, sgPathTile}) {
    p->SetWrapMode(mode);
    scene->DesignTime = false;
    EXPECT_TRUE(Paint().empty()) << mode;
    scene->DesignTime = true;
    EXPECT_EQ(Paint(), (Lines{"DrawRect #A0909090 (0.500,0.500,39.500,19.500) 0,0 @0.500"}))
        << mode;
    EXPECT_EQ(canvas->StrokeDash(), sgDashSolid);
  }
  scene->DesignTime = false;
  canvas->Calls.clear();
  EXPECT_TRUE(p->PointInObject({30, 20}));
  EXPECT_FALSE(p->PointInObject({55, 20}));
  EXPECT_TRUE(canvas->Calls.empty());
  // Nor does a picture of the object, or a locked object.
  scene->DesignTime = true;
  p->Data()->SetData("M 0,0 L 10,0 L 10,10 Z");
  p->SetWrapMode(sgPathStretch);
  test::Owned<TRecordingCanvas> picture(New<TRecordingCanvas>(40, 20));
  p->PaintTo(picture.get(), {0, 0, 40, 20}, nullptr);
  EXPECT_EQ(Count(picture->Calls, "FillPath"), 1);
  EXPECT_EQ(Count(picture->Calls, "DrawRect"), 0);
  p->SetLocked(true);
  EXPECT_EQ(Count(Paint(), "DrawRect"), 0);
}

TEST_F(Shapes, PathHitTestAsksTheCanvasOutsideDesignTimeOnly) {
  auto* p = Add<TsgPath>(100, 50);
  p->Position()->SetPoint({10, 20});
  p->Stroke()->SetStyle(sgBrushNone);
  p->Data()->SetData("M 0,0 L 10,0 L 10,10 Z");
  p->SetWrapMode(sgPathOriginal);
  canvas->Calls.clear();
  // Mapped by stretching whatever the wrap mode; the recording canvas
  // answers by the rectangle it is given.
  EXPECT_TRUE(p->PointInObject({10 + 90, 20 + 40}));
  EXPECT_EQ(canvas->Calls, (Lines{"PtInPath (90,40)"}));
  // At design time the rectangle answers; a locked object asks the path.
  scene->DesignTime = true;
  canvas->Calls.clear();
  EXPECT_TRUE(p->PointInObject({10 + 90, 20 + 40}));
  EXPECT_TRUE(canvas->Calls.empty());
  p->SetLocked(true);
  EXPECT_FALSE(p->PointInObject({10 + 200, 20 + 40}));
  EXPECT_EQ(canvas->Calls, (Lines{"PtInPath (200,40)"}));
  // A single point is no outline: the rectangle again.
  scene->DesignTime = false;
  p->Data()->SetData("M 1,1");
  canvas->Calls.clear();
  EXPECT_TRUE(p->PointInObject({10 + 50, 20 + 25}));
  EXPECT_TRUE(canvas->Calls.empty());
}

TEST_F(Shapes, PathRepaintsForNewDataAndANewWrapModeOnly) {
  auto* p = Add<TsgPath>(100, 50);
  scene->Log.clear();
  p->Data()->SetData("M 0,0 L 10,10");
  EXPECT_EQ(scene->CountLog("AddUpdateRect"), 1);
  p->SetWrapMode(sgPathStretch);  // the default
  EXPECT_EQ(scene->CountLog("AddUpdateRect"), 1);
  p->SetWrapMode(sgPathFit);
  EXPECT_EQ(scene->CountLog("AddUpdateRect"), 2);
  // Setting Data copies the points into the owned path.
  TsgPathData other;
  other.SetData("M 0,0 L 5,0 L 5,5 Z");
  p->AssignData(&other);
  EXPECT_NE(p->Data(), &other);
  EXPECT_EQ(p->Data()->GetData(), other.GetData());
  EXPECT_EQ(scene->CountLog("AddUpdateRect"), 3);
}

TEST_F(Shapes, PathDrawsTheSharedPathItsDataLinksTo) {
  auto* shared = New<TsgPathObject>(nullptr);
  shared->SetName("arrowpath");
  shared->Path()->SetData("M 0,0 L 10,0 L 5,10 Z");
  root->AddObject(shared);
  auto* p = Add<TsgPath>(20, 20);
  p->Stroke()->SetStyle(sgBrushNone);
  p->Data()->SetData("M 0,0 L 1,1");
  p->Data()->SetResource(shared);
  EXPECT_EQ(Paint().front(), "FillPath #FFE0E0E0 M 0,0 L 20,0 L 10,20 Z");
  // Freed, the link lets go and the own points show again.
  classlib::Free(shared);
  EXPECT_EQ(Paint().front(), "FillPath #FFE0E0E0 M 0,0 L 20,20");
}

TEST_F(Shapes, PathStreamsDataAndWrapModeArrowsAreFittedTriangles) {
  auto* p = Add<TsgPath>(100, 50);
  p->SetName("p");
  EXPECT_FALSE(Has(Text(p), "WrapMode"));
  p->Data()->SetData("M 0,0 L 10,0 L 10,10 Z");
  p->SetWrapMode(sgPathTile);
  p->Fill()->SetSolidColor(0xFF123456u);
  classlib::TStringStream s(Text(p));
  auto* back = dynamic_cast<TsgPath*>(LoadObjectFromTextStream(nullptr, s));
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(back->Data()->GetData(), p->Data()->GetData());
  EXPECT_EQ(back->WrapMode(), sgPathTile);
  EXPECT_EQ(back->Fill()->SolidColor(), 0xFF123456u);
  classlib::Free(back);
  classlib::Free(p);

  auto* left = Add<TsgScrollArrowLeft>(10, 20);
  auto* right = Add<TsgScrollArrowRight>(10, 20);
  EXPECT_EQ(left->WrapMode(), sgPathFit);
  EXPECT_EQ(left->Data()->GetData(), "M 100,0 L 100,100 L 0,50 L 100,0 Z ");
  EXPECT_EQ(right->Data()->GetData(), "M 0,0 L 0,100 L 100,50 Z ");
  left->Stroke()->SetStyle(sgBrushNone);
  classlib::Free(right);
  // 100 x 100 shrunk into 10 x 20: 10 x 10, centred vertically.
  EXPECT_EQ(Paint().front(), "FillPath #FFE0E0E0 M 10,5 L 10,15 L 0,10 L 10,5 Z");
}

// Notes the paint box's event: the sender, and a rectangle drawn through
// the canvas it was given.
struct PaintBoxHandler : classlib::TObject {
  TObject* sender = nullptr;
  void OnPaint(TObject* s, TsgCanvas* c) {
    sender = s;
    c->FillRect({1, 2, 3, 4}, 0, 0, sgAllCorners, 1, sgCornerRound);
  }
};

TEST_F(Shapes, PaintBoxHandsItsCanvasToOnPaint) {
  auto* box = Add<TsgPaintBox>(30, 30);
  EXPECT_TRUE(Paint().empty());
  PaintBoxHandler h;
  box->OnPaint = classlib::EventOf<&PaintBoxHandler::OnPaint>(&h);
  EXPECT_EQ(Paint(), (Lines{"FillRect #FFFFFFFF (1,2,3,4) 0,0"}));
  EXPECT_EQ(h.sender, box);
}

TEST_F(Shapes, RegistrationListsShapesAndDesignClassesInOrder) {
  RegisterShapeClasses();
  Lines shapes, design;
  for (const auto& e : SceneClassCategories()) {
    if (e.Class->ClassName().rfind("Tsg", 0) != 0) continue;
    if (e.Category == "Shapes") shapes.push_back(e.Class->ClassName());
    if (e.Category == "Design") design.push_back(e.Class->ClassName());
  }
  EXPECT_EQ(shapes, (Lines{"TsgLine", "TsgRectangle", "TsgSidesRectangle", "TsgBlurRectangle",
                           "TsgRoundRect", "TsgBlurRoundRect", "TsgEllipse", "TsgCircle", "TsgArc",
                           "TsgPie", "TsgText", "TsgPath", "TsgImage", "TsgPaintBox",
                           "TsgScrollArrowLeft", "TsgScrollArrowRight", "TsgCalloutRectangle"}));
  EXPECT_EQ(design, (Lines{"TsgSelection", "TsgSelectionPoint", "TsgDesignFrame"}));
  EXPECT_EQ(classlib::GetClass("TsgPath"), TsgPath::StaticClass());
}

}  // namespace
}  // namespace kelm::scene

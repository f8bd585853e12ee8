// The canvas state and the drawing built over paths, through the
// recording back end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classlib/sysutils.h"
#include "recording_canvas.h"
#include "scene/sg_bitmap.h"
#include "scene/sg_canvas.h"

namespace kelm::scene {
namespace {

using test::TRecordingCanvas;

struct CanvasFixture : ::testing::Test {
  TRecordingCanvas* canvas = classlib::New<TRecordingCanvas>(100, 50);
  ~CanvasFixture() override { classlib::Free(canvas); }
  std::string Last() const { return canvas->Calls.empty() ? "" : canvas->Calls.back(); }
};

TEST_F(CanvasFixture, NewCanvasState) {
  EXPECT_EQ(canvas->Fill()->Style(), sgBrushSolid);
  EXPECT_EQ(canvas->Fill()->SolidColor(), 0xFFFFFFFFu);
  EXPECT_EQ(canvas->Stroke()->Style(), sgBrushSolid);
  EXPECT_EQ(canvas->Stroke()->SolidColor(), 0xFF000000u);
  EXPECT_EQ(canvas->Font()->Family(), "Tahoma");
  EXPECT_EQ(canvas->Font()->Size(), 11);
  EXPECT_EQ(canvas->Width(), 100);
  EXPECT_EQ(canvas->StrokeDash(), sgDashSolid);
}

TEST_F(CanvasFixture, DashTable) {
  struct {
    TsgStrokeDash style;
    std::vector<float> pattern;
  } cases[] = {{sgDashDash, {3, 1}},
               {sgDashDot, {1, 1}},
               {sgDashDashDot, {3, 1, 1, 1}},
               {sgDashDashDotDot, {3, 1, 1, 1, 1, 1}},
               {sgDashSolid, {}}};
  for (const auto& c : cases) {
    canvas->DashOffset = 2;
    canvas->SetStrokeDash(c.style);
    EXPECT_EQ(canvas->DashArray, c.pattern) << c.style;
    EXPECT_EQ(canvas->DashOffset, 0) << c.style;
  }
  canvas->SetStrokeDash(sgDashDashDot);
  canvas->DashOffset = 0.5f;
  canvas->SetStrokeDash(sgDashCustom);
  EXPECT_EQ(canvas->DashArray, (std::vector<float>{3, 1, 1, 1}));
  EXPECT_EQ(canvas->DashOffset, 0.5f);
  // The same style again changes nothing.
  canvas->DashArray = {9};
  canvas->SetStrokeDash(sgDashCustom);
  EXPECT_EQ(canvas->DashArray, (std::vector<float>{9}));
}

TEST_F(CanvasFixture, Polygons) {
  const TsgPolygon open = {{0, 0}, {10, 0}, {10, 10}};
  const TsgPolygon closed = {{0, 0}, {10, 0}, {10, 10}, ClosePolygon};
  const TsgPolygon split = {{0, 0},   {10, 0},  {10, 10}, ClosePolygon,
                            {20, 20}, {30, 20}, {30, 30}, ClosePolygon};
  struct {
    const char* what;
    bool fill;
    const TsgPolygon& polygon;
    std::string call;
  } cases[] = {
      {"open stroke", false, open, "DrawPath #FF000000 M 0,0 L 10,0 L 10,10"},
      {"closed stroke", false, closed, "DrawPath #FF000000 M 0,0 L 10,0 L 10,10 Z"},
      {"closed fill", true, closed, "FillPath #FFFFFFFF M 0,0 L 10,0 L 10,10 Z"},
      // Without a trailing close the fill still runs through the last vertex.
      {"open fill", true, open, "FillPath #FFFFFFFF M 0,0 L 10,0 L 10,10 Z"},
      {"split stroke", false, split,
       "DrawPath #FF000000 M 0,0 L 10,0 L 10,10 Z M 20,20 L 30,20 L 30,30 Z"},
      {"split fill", true, split,
       "FillPath #FFFFFFFF M 0,0 L 10,0 L 10,10 Z M 20,20 L 30,20 L 30,30 Z"},
  };
  for (const auto& c : cases) {
    canvas->Calls.clear();
    c.fill ? canvas->FillPolygon(c.polygon, 1) : canvas->DrawPolygon(c.polygon, 1);
    EXPECT_EQ(Last(), c.call) << c.what;
  }
  canvas->Calls.clear();
  canvas->FillPolygon({}, 1);
  canvas->DrawPolygon({ClosePolygon}, 1);
  EXPECT_TRUE(canvas->Calls.empty());
}

TEST_F(CanvasFixture, RectSidesClampTheRadius) {
  canvas->DrawRectSides(sgRect(0, 0, 10, 10), 20, 20, sgAllCorners, 1, sgAllSides, sgCornerBevel);
  EXPECT_EQ(Last(), "DrawPath #FF000000 M 0,5 L 5,0 L 5,0 L 10,5 L 10,5 L 5,10 L 5,10 L 0,5 L 0,5");
  canvas->DrawRectSides(sgRect(0, 0, 10, 10), 2, 2, sgCornerTopLeft, 0.5f, sgSideTop | sgSideLeft,
                        sgCornerRound);
  EXPECT_EQ(Last(),
            "DrawPath #FF000000 M 0,2 C 0,1 C 1,0 C 2,0 L 8,0 L 10,0 M 10,2 M 10,8 M 10,10 "
            "M 8,10 M 2,10 M 0,10 L 0,8 L 0,2 @0.500");
  canvas->DrawRectSides(sgRect(0, 0, 10, 10), 4, 4, sgCornerTopLeft, 1, sgSideTop,
                        sgCornerInnerLine);
  EXPECT_EQ(Last().rfind("DrawPath #FF000000 M 0,4 L 2,4 L 4,2 L 4,0 L 6,0", 0), 0u) << Last();
}

TEST_F(CanvasFixture, Arcs) {
  canvas->DrawArc({10, 10}, {5, 5}, 0, 90, 1);
  // Mapped onto its own bounds: starts at angle 0 and ends a quarter turn
  // clockwise, below the centre.
  EXPECT_EQ(Last().rfind("DrawPath #FF000000 M 15,10 C ", 0), 0u) << Last();
  EXPECT_EQ(Last(), "DrawPath #FF000000 M 15,10 C 15,12.761 C 12.761,15 C 10,15");
}

TEST_F(CanvasFixture, SavedStatesReuseSlots) {
  canvas->SetStrokeDash(sgDashDot);
  EXPECT_EQ(canvas->SaveState(), 0);
  canvas->Stroke()->SetSolidColor(0xFFFF0000u);
  canvas->SetStrokeDash(sgDashSolid);
  canvas->StrokeThickness = 3;
  EXPECT_EQ(canvas->SaveState(), 1);
  canvas->Font()->SetSize(30);
  canvas->SetMatrix(sgCreateRotationMatrix(1));
  EXPECT_EQ(canvas->SaveState(), 2);
  canvas->RestoreState(1);
  EXPECT_EQ(canvas->Stroke()->SolidColor(), 0xFFFF0000u);
  EXPECT_EQ(canvas->Font()->Size(), 11);
  EXPECT_EQ(canvas->Matrix().m11, 1);
  EXPECT_EQ(canvas->SaveState(), 1);
  EXPECT_EQ(canvas->States().size(), 3u);
  canvas->RestoreState(0);
  EXPECT_EQ(canvas->StrokeDash(), sgDashDot);
  EXPECT_EQ(canvas->DashArray, (std::vector<float>{1, 1}));
  EXPECT_EQ(canvas->StrokeThickness, 1);
  EXPECT_EQ(canvas->Stroke()->SolidColor(), 0xFF000000u);
  // Restoring a free slot or one outside the array does nothing.
  const size_t calls = canvas->Calls.size();
  canvas->RestoreState(0);
  canvas->RestoreState(7);
  canvas->RestoreState(-1);
  EXPECT_EQ(canvas->Calls.size(), calls);
  canvas->NoContext = true;
  EXPECT_EQ(canvas->SaveState(), -1);
}

TEST(CanvasClass, DefaultClassAndTextWidth) {
  SetDefaultCanvasClass(nullptr);
  EXPECT_EQ(sgCreateCanvas(5, 5), nullptr);
  SetDefaultCanvasClass(
      [](int w, int h) -> TsgCanvas* { return classlib::New<TRecordingCanvas>(w, h); });
  auto* canvas = static_cast<TRecordingCanvas*>(sgCreateCanvas(8, 6));
  ASSERT_NE(canvas, nullptr);
  EXPECT_EQ(canvas->Calls, (std::vector<std::string>{"ResizeBuffer 8x6"}));
  EXPECT_FLOAT_EQ(sgTextWidth(canvas, u"abc"), 21);
  classlib::Free(canvas);
  SetDefaultCanvasClass(nullptr);
}

// A recording canvas with a pixel buffer of its own, as window canvases
// have one.
class BufferedCanvas : public TRecordingCanvas {
 public:
  BufferedCanvas(int w, int h) : TRecordingCanvas(w, h), pixels(size_t(w) * size_t(h)) {
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = 0xFF000000u | uint32_t(i * 0x010203u);
    bits_ = pixels.data();
    buffered_ = true;
  }
  std::vector<uint32_t> pixels;
};

struct ChangeCount : classlib::TObject {
  int Count = 0;
  void Changed(classlib::TObject*) { ++Count; }
};

TEST(CanvasAssignTo, BitmapTakesSizeAndRows) {
  auto* canvas = classlib::New<BufferedCanvas>(3, 2);
  auto* bitmap = classlib::New<TsgBitmap>(5, 5);
  ChangeCount changes;
  bitmap->OnChange = classlib::EventOf<&ChangeCount::Changed>(&changes);
  // Callers write it either way round.
  bitmap->Assign(canvas);
  ASSERT_EQ(bitmap->Width(), 3);
  ASSERT_EQ(bitmap->Height(), 2);
  EXPECT_EQ(std::vector<uint32_t>(bitmap->Bits(), bitmap->Bits() + 6), canvas->pixels);
  // Same size, new pixels: the owner still hears of it.
  canvas->pixels[4] = 0x80402010u;
  changes.Count = 0;
  bitmap->NeedUpdate = false;
  canvas->AssignTo(bitmap);
  EXPECT_EQ(bitmap->Bits()[4], 0x80402010u);
  EXPECT_TRUE(bitmap->NeedUpdate);
  EXPECT_EQ(changes.Count, 1);
  classlib::Free(bitmap);
  classlib::Free(canvas);
}

TEST(CanvasAssignTo, UnbufferedGivesSizeOnlyAndOthersRaise) {
  auto* canvas = classlib::New<TRecordingCanvas>(4, 3);
  auto* bitmap = classlib::New<TsgBitmap>(1, 1);
  bitmap->Clear(0xFFFFFFFFu);
  canvas->AssignTo(bitmap);
  ASSERT_EQ(bitmap->Width(), 4);
  ASSERT_EQ(bitmap->Height(), 3);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(bitmap->Bits()[i], 0u) << i;
  auto* font = classlib::New<TsgFont>();
  EXPECT_THROW(canvas->AssignTo(font), classlib::EConvertError);
  classlib::Free(font);
  classlib::Free(bitmap);
  classlib::Free(canvas);
}

TEST(CanvasClass, MadeOverABitmap) {
  auto* bitmap = classlib::New<TsgBitmap>(7, 4);
  auto* canvas = classlib::New<TRecordingCanvas>(bitmap);
  EXPECT_EQ(canvas->Bitmap(), bitmap);
  EXPECT_EQ(canvas->Width(), 7);
  EXPECT_EQ(canvas->Height(), 4);
  EXPECT_FALSE(canvas->Buffered());
  EXPECT_EQ(canvas->Bits(), nullptr);
  EXPECT_EQ(canvas->Fill()->SolidColor(), 0xFFFFFFFFu);
  EXPECT_EQ(canvas->Stroke()->SolidColor(), 0xFF000000u);
  classlib::Free(canvas);
  classlib::Free(bitmap);
}

}  // namespace
}  // namespace kelm::scene

// Painting visual objects through the recording canvas: order, clipping,
// skipping what misses the dirty rectangles, design frames, and painting
// into another canvas.
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "recording_canvas.h"
#include "scene/sg_visual.h"
#include "scene_fakes.h"
#include "visual_probe.h"

namespace kelm::scene {
namespace {

using classlib::New;
using test::FakeScene;
using test::Probe;
using test::RectText;
using test::TProbe;
using test::TRecordingCanvas;
using Lines = std::vector<std::string>;

class Painting : public ::testing::Test {
 protected:
  void SetUp() override {
    test::RegisterVisualTestClasses();
    scene = New<FakeScene>(nullptr);
    canvas = New<TRecordingCanvas>(300, 300);
    scene->Canvas = canvas;
    root = Probe("root", nullptr, 0, 0, 300, 300);
    scene->AddObject(root);
  }
  void TearDown() override {
    classlib::Free(scene);
    classlib::Free(canvas);
  }
  // One pass over the root's children with the given dirty rectangles.
  Lines Paint(std::vector<TsgRect> dirty = {{0, 0, 300, 300}}) {
    scene->UpdateRects = std::move(dirty);
    canvas->Calls.clear();
    root->PaintChildren();
    return canvas->Calls;
  }
  int SavedSlots() const {
    int n = 0;
    for (const auto& s : canvas->States()) n += s.Handle != -1;
    return n;
  }
  FakeScene* scene = nullptr;
  TRecordingCanvas* canvas = nullptr;
  TProbe* root = nullptr;
};

TEST_F(Painting, ChildrenPaintInOrderInsideTheirParentsClip) {
  root->SetClipChildren(true);
  auto* a = Probe("a", root, 10, 10, 50, 50);
  Probe("a1", a, 5, 5, 10, 10);
  auto* b = Probe("b", root, 100, 100, 20, 20);
  b->SetCanClipped(false);
  EXPECT_EQ(Paint(),
            (Lines{"SaveState 0", "SetMatrix 0,0", "IntersectClipRect (0,0,300,300)",
                   "SetMatrix 10,10", "BeforePaint a", "Paint a", "SetMatrix 15,15",
                   "BeforePaint a1", "Paint a1", "AfterPaint a1", "AfterPaint a", "RestoreState 0",
                   "SetMatrix 100,100", "BeforePaint b", "Paint b", "AfterPaint b"}));
  EXPECT_EQ(SavedSlots(), 0);
}

TEST_F(Painting, ClipParentCutsTheChildOutOfItsParentsOwnPainting) {
  auto* a = Probe("a", root, 10, 10, 50, 50);
  a->SetClipChildren(true);
  auto* g = Probe("g", a, 5, 5, 10, 10);
  g->SetClipParent(true);
  EXPECT_EQ(Paint(), (Lines{"SetMatrix 10,10",
                            "BeforePaint a",
                            "SaveState 0",
                            "SetMatrix 15,15",
                            "ExcludeClipRect (0,0,10,10)",
                            "SetMatrix 10,10",
                            "SaveState 1",
                            "IntersectClipRect (0,0,50,50)",
                            "Paint a",
                            "RestoreState 1",
                            "RestoreState 0",
                            "SaveState 0",
                            "SetMatrix 10,10",
                            "IntersectClipRect (0,0,50,50)",
                            "SetMatrix 15,15",
                            "BeforePaint g",
                            "Paint g",
                            "AfterPaint g",
                            "RestoreState 0",
                            "AfterPaint a"}));
  EXPECT_EQ(SavedSlots(), 0);
}

TEST_F(Painting, OnlyChildrenThatMeetADirtyRectangleArePainted) {
  Probe("near", root, 10, 10, 10, 10);
  Probe("far", root, 200, 200, 10, 10);
  Probe("flat", root, 10, 10, 0, 10);
  // Clipped to its own area, but a child that ignores the clip reaches
  // back into the dirty corner.
  auto* clipper = Probe("clipper", root, 100, 100, 10, 10);
  clipper->SetClipChildren(true);
  auto* escape = Probe("escape", clipper, -90, -90, 10, 10);
  escape->SetCanClipped(false);
  Lines painted;
  for (const std::string& l : Paint({{0, 0, 50, 50}}))
    if (l.rfind("Paint ", 0) == 0) painted.push_back(l);
  EXPECT_EQ(painted, (Lines{"Paint near", "Paint clipper", "Paint escape"}));
  // At design time everything is painted, hidden objects too unless they
  // are locked or hidden for design.
  scene->DesignTime = true;
  auto* hidden = Probe("hidden", root, 0, 0, 5, 5);
  hidden->SetVisible(false);
  auto* locked = Probe("locked", root, 0, 0, 5, 5);
  locked->SetVisible(false);
  locked->SetLocked(true);
  Probe("designHide", root, 0, 0, 5, 5)->SetDesignHide(true);
  painted.clear();
  for (const std::string& l : Paint({{0, 0, 1, 1}}))
    if (l.rfind("Paint ", 0) == 0) painted.push_back(l);
  EXPECT_EQ(painted,
            (Lines{"Paint near", "Paint far", "Paint clipper", "Paint escape", "Paint hidden"}));
}

struct Designer final : IsgSceneDesigner {
  Designer() = default;
  virtual ~Designer() = default;
  TsgObject* selected = nullptr;
  bool IsSelected(TsgObject* obj) override { return obj == selected; }
  void SelectionHidden(classlib::TComponent*, TsgObject*) override {}
};

TEST_F(Painting, DesignSelectionAndDragOverDrawFrames) {
  Designer designer;
  SceneDesigner = &designer;
  auto* a = Probe("a", root, 10, 10, 50, 40);
  designer.selected = a;
  scene->DesignTime = true;
  const auto frames = [&] {
    Lines r;
    for (const std::string& l : Paint())
      if (l.rfind("DrawRect", 0) == 0) r.push_back(l);
    return r;
  };
  EXPECT_EQ(frames(), Lines{"DrawRect #B200CC5A (1,1,49,39) 0,0"});
  // The scene's own selection has its grips instead.
  scene->Selected = a;
  EXPECT_TRUE(frames().empty());
  scene->Selected = nullptr;
  scene->DesignTime = false;
  EXPECT_TRUE(frames().empty());
  TsgDragObject data;
  a->DragEnter(data, {1, 1});
  EXPECT_EQ(frames(), Lines{"DrawRect #B2005ACC (1,1,49,39) 0,0"});
  a->DragDisableHighlight = true;
  EXPECT_TRUE(frames().empty());
  // The frame's brush and thickness do not leak into later painting.
  EXPECT_EQ(canvas->Stroke()->SolidColor(), 0xFF000000u);
  EXPECT_EQ(canvas->StrokeThickness, 1);
  SceneDesigner = nullptr;
}

struct PaintHandlers : classlib::TObject {
  Lines log;
  bool raise = false;
  void Before(classlib::TObject* sender, TsgCanvas* c, const TsgRect& r) {
    log.push_back("OnBeforePaint " + static_cast<TsgObject*>(sender)->Name() + " " +
                  sgRectToStr(r) + " at " + sgFloatToStr(c->Matrix().m31));
  }
  void After(classlib::TObject* sender, TsgCanvas* c, const TsgRect& r) {
    log.push_back("OnPaint " + static_cast<TsgObject*>(sender)->Name() + " " + sgRectToStr(r) +
                  " at " + sgFloatToStr(c->Matrix().m31));
    if (raise) throw std::runtime_error("handler failed");
  }
};

TEST_F(Painting, PaintEventsGetTheLocalRectangleUnderTheObjectsMatrix) {
  PaintHandlers h;
  auto* a = Probe("a", root, 10, 10, 50, 40);
  Probe("a1", a, 20, 0, 5, 5);
  a->OnBeforePaint = classlib::EventOf<&PaintHandlers::Before>(&h);
  a->OnPaint = classlib::EventOf<&PaintHandlers::After>(&h);
  Paint();
  // OnPaint comes after the children, with the matrix set back.
  EXPECT_EQ(h.log, (Lines{"OnBeforePaint a (0,0,50,40) at 10", "OnPaint a (0,0,50,40) at 10"}));
}

struct Snapshot {
  TsgPoint pos, scale;
  float angle = 0;
  TsgObject* parent = nullptr;
  TsgCanvas* paintCanvas = nullptr;
  TsgMatrix vm{}, wm{};
  TsgRect vr{}, wr{};
  float opacity = 0;
  bool inRealign = false, painting = false, disable = false;
  static Snapshot Of(TsgVisualObject* v, TsgVisualObject* w, IsgScene* sc) {
    Snapshot s;
    s.pos = v->Position()->GetPoint();
    s.scale = v->Scale()->GetPoint();
    s.angle = v->RotateAngle();
    s.parent = v->Parent();
    s.paintCanvas = w->PaintCanvas();
    s.vm = v->GetAbsoluteMatrix();
    s.wm = w->GetAbsoluteMatrix();
    s.vr = v->GetUpdateRect();
    s.wr = w->GetUpdateRect();
    s.opacity = w->GetAbsoluteOpacity();
    s.inRealign = v->InRealign();
    s.painting = w->PaintingToBitmap();
    s.disable = sc->GetDisableUpdate();
    return s;
  }
  std::string Text() const {
    return sgPointToStr(pos) + " " + sgPointToStr(scale) + " " + sgFloatToStr(angle) + " " +
           (parent ? parent->Name() : "nil") + " " + (paintCanvas ? "canvas" : "none") + " " +
           sgFloatToStr(vm.m31) + "," + sgFloatToStr(vm.m32) + "," + sgFloatToStr(vm.m11) + " " +
           sgFloatToStr(wm.m31) + "," + sgFloatToStr(wm.m32) + " " + sgRectToStr(vr) + " " +
           sgRectToStr(wr) + " " + sgFloatToStr(opacity) + " " + std::to_string(inRealign) +
           std::to_string(painting) + std::to_string(disable);
  }
};

TEST_F(Painting, PaintToRestoresEverythingAlsoWhenAHandlerRaises) {
  PaintHandlers h;
  auto* v = Probe("v", root, 10, 20, 40, 20);
  v->SetRotateAngle(30);
  v->SetOpacity(0.5f);
  auto* w = Probe("w", v, 5, 5, 10, 10);
  w->OnPaint = classlib::EventOf<&PaintHandlers::After>(&h);
  const std::string before = Snapshot::Of(v, w, scene).Text();

  auto* other = New<TRecordingCanvas>(80, 40);
  v->PaintTo(other, {0, 0, 80, 40}, nullptr);
  // Filling the rectangle: scaled by 2, unrotated, at the origin.
  EXPECT_EQ(h.log, Lines{"OnPaint w (0,0,10,10) at 10"});
  EXPECT_EQ(Snapshot::Of(v, w, scene).Text(), before);

  h.raise = true;
  scene->UpdateRects.clear();
  EXPECT_THROW(v->PaintTo(other, {0, 0, 80, 40}, nullptr), std::runtime_error);
  EXPECT_EQ(Snapshot::Of(v, w, scene).Text(), before);
  int open = 0;
  for (const auto& s : other->States()) open += s.Handle != -1;
  EXPECT_EQ(open, 0);
  // Nothing was queued for the scene while painting elsewhere.
  EXPECT_TRUE(scene->UpdateRects.empty());
  classlib::Free(other);
}

TEST_F(Painting, PaintToNeedsASceneAndAnArea) {
  auto* other = New<TRecordingCanvas>(10, 10);
  auto* flat = Probe("flat", root, 0, 0, 0, 10);
  flat->PaintTo(other, {0, 0, 10, 10}, nullptr);
  auto* loose = Probe("loose", nullptr, 0, 0, 10, 10);
  loose->PaintTo(other, {0, 0, 10, 10}, nullptr);
  EXPECT_TRUE(other->Calls.empty());
  // A borrowed parent from inside the object's own subtree would make the
  // matrix walk endless: it is taken as none.
  auto* v = Probe("v", root, 50, 50, 10, 10);
  auto* inner = Probe("inner", v, 1, 1, 2, 2);
  v->PaintTo(other, {0, 0, 10, 10}, inner);
  EXPECT_EQ(other->Calls.front(), "SaveState 0");
  EXPECT_EQ(other->Calls.at(1), "SetMatrix 0,0");
  EXPECT_EQ(v->Parent(), root);
  classlib::Free(loose);
  classlib::Free(other);
}

// Stands for an effect: enabled, grows the object's area by 5, and is
// drawn before, after or instead of the object.
class TFakeEffect : public TsgObject {
 public:
  explicit TFakeEffect(classlib::TComponent* AOwner) : TsgObject(AOwner) {}
  bool Instead = false;
  bool IsEffectObject() const override { return true; }
  bool EffectEnabled() const override { return true; }
  TsgRect EffectRect(const TsgRect& r) const override {
    TsgRect g = r;
    sgInflateRect(g, 5, 5);
    return g;
  }
  bool EffectDisablesPaint() const override { return Instead; }
};

class TEffectHost : public TProbe {
 public:
  explicit TEffectHost(classlib::TComponent* AOwner) : TProbe(AOwner) {}
  void ApplyEffect(TsgCanvas* canvas, TsgEffectPass pass) override {
    static const char* const names[] = {"Under", "Over", "Instead"};
    static_cast<TRecordingCanvas*>(canvas)->Calls.push_back(
        std::string("Effect ") + names[static_cast<int>(pass)] + " " + Name());
  }
};

TEST_F(Painting, EffectsAreDrawnUnderOverOrInsteadOfTheObject) {
  auto* a = New<TEffectHost>(nullptr);
  a->SetName("a");
  a->SetBounds(10, 10, 20, 20);
  root->AddObject(a);
  Probe("a1", a, 0, 0, 5, 5);
  auto* effect = New<TFakeEffect>(nullptr);
  a->AddObject(effect);
  EXPECT_TRUE(a->HasEffects());
  EXPECT_EQ(RectText(a->GetUpdateRect()), "(5,5,35,35)");
  Lines steps;
  for (const std::string& l : Paint())
    if (l.rfind("SetMatrix", 0) != 0) steps.push_back(l);
  EXPECT_EQ(steps, (Lines{"BeforePaint a", "Effect Under a", "Paint a", "BeforePaint a1",
                          "Paint a1", "AfterPaint a1", "AfterPaint a", "Effect Over a"}));
  // An effect that replaces the painting: neither the object nor its
  // children are painted themselves.
  effect->Instead = true;
  steps.clear();
  for (const std::string& l : Paint())
    if (l.rfind("SetMatrix", 0) != 0) steps.push_back(l);
  EXPECT_EQ(steps, (Lines{"BeforePaint a", "Effect Under a", "Effect Instead a", "AfterPaint a",
                          "Effect Over a"}));
  classlib::Free(effect);
  EXPECT_FALSE(a->HasEffects());
}

// Leaves its calls behind when freed, so the canvases a drag makes and
// frees can be read afterwards.
std::vector<Lines>& FreedCanvases() {
  static std::vector<Lines> list;
  return list;
}
class TKeptCanvas : public TRecordingCanvas {
 public:
  TKeptCanvas(int w, int h) : TRecordingCanvas(w, h) {}
  ~TKeptCanvas() override { FreedCanvases().push_back(Calls); }
};

TEST_F(Painting, AutomaticDragShowsTheObjectFittedInto512) {
  SetDefaultCanvasClass([](int w, int h) -> TsgCanvas* { return New<TKeptCanvas>(w, h); });
  FreedCanvases().clear();
  auto* v = Probe("v", root, 10, 10, 1024, 256);
  v->BeginAutoDrag();
  SetDefaultCanvasClass(nullptr);
  EXPECT_EQ(scene->CountLog("BeginDragDrop v"), 1);
  ASSERT_EQ(FreedCanvases().size(), 2u);
  const Lines& shot = FreedCanvases()[0];
  ASSERT_GE(shot.size(), 4u);
  EXPECT_EQ(shot[0], "ResizeBuffer 1024x256");
  EXPECT_NE(std::find(shot.begin(), shot.end(), "Paint v"), shot.end());
  const Lines& drag = FreedCanvases()[1];
  EXPECT_EQ(drag.front(), "ResizeBuffer 512x128");
  EXPECT_NE(std::find(drag.begin(), drag.end(), "DrawBitmap (0,0,1024,256) (0,0,512,128) @0.700"),
            drag.end());
  // Without a canvas class nothing is dragged.
  v->BeginAutoDrag();
  EXPECT_EQ(scene->CountLog("BeginDragDrop"), 1);
}

}  // namespace
}  // namespace kelm::scene

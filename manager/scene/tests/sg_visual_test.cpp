// The visual object: matrices, caches and their dirty flags, setters,
// repainting, focus, input, hit tests and streaming.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "classlib/streams.h"
#include "scene/sg_classes.h"
#include "scene/sg_visual.h"
#include "scene_fakes.h"
#include "visual_probe.h"

namespace kelm::scene {
namespace {

using classlib::New;
using classlib::TObject;
using test::FakeScene;
using test::Probe;
using test::RectText;
using test::TProbe;

class Visual : public ::testing::Test {
 protected:
  void SetUp() override {
    test::RegisterVisualTestClasses();
    scene = New<FakeScene>(nullptr);
    root = Probe("root", nullptr, 0, 0, 200, 200);
    scene->AddObject(root);
  }
  void TearDown() override { classlib::Free(scene); }
  // Update rectangles queued since the last call.
  std::vector<std::string> TakeRects() {
    std::vector<std::string> r;
    for (const TsgRect& u : scene->UpdateRects) r.push_back(RectText(u));
    scene->UpdateRects.clear();
    return r;
  }
  FakeScene* scene = nullptr;
  TProbe* root = nullptr;
};

void ExpectPoint(const TsgPoint& p, float x, float y) {
  EXPECT_NEAR(p.X, x, 1e-3) << "x";
  EXPECT_NEAR(p.Y, y, 1e-3) << "y";
}

TEST_F(Visual, RotateAngleIsStoredWithinMinus180To360) {
  const struct {
    float in, out;
  } cases[] = {{370, 10}, {-270, 90}, {359, 359}, {720, 0}, {-180, -180}, {-181, 179}, {45, 45}};
  for (const auto& c : cases) {
    auto* v = Probe("v", root, 0, 0, 10, 10);
    v->SetRotateAngle(c.in);
    EXPECT_FLOAT_EQ(v->RotateAngle(), c.out) << c.in;
    classlib::Free(v);
  }
}

TEST_F(Visual, PointsAreRowVectorsThroughLocalThenParentMatrices) {
  auto* parent = Probe("p", root, 100, 0, 50, 50);
  parent->Scale()->SetPoint({2, 2});
  auto* child = Probe("c", parent, 10, 20, 5, 5);
  // Local first, then the parent's: (1 + 10) * 2 + 100, (1 + 20) * 2.
  ExpectPoint(child->LocalToAbsolute({1, 1}), 122, 42);
  ExpectPoint(child->AbsoluteToLocal({122, 42}), 1, 1);
  // Vectors leave translation out.
  ExpectPoint(child->LocalToAbsoluteVector({1, 1}), 2, 2);
  ExpectPoint(child->AbsoluteToLocalVector({2, 2}), 1, 1);
  EXPECT_EQ(RectText(child->GetAbsoluteRect()), "(120,40,130,50)");
  EXPECT_FLOAT_EQ(child->GetAbsoluteScale().X, 2);
}

TEST_F(Visual, RotationTurnsAboutTheRotateCenter) {
  auto* v = Probe("v", root, 0, 0, 50, 50);
  v->SetRotateAngle(90);
  // About (25, 25): the top-left corner goes to the top-right.
  ExpectPoint(v->LocalToAbsolute({0, 0}), 50, 0);
  ExpectPoint(v->LocalToAbsolute({25, 25}), 25, 25);
  v->RotateCenter()->SetPoint({0, 0});
  ExpectPoint(v->LocalToAbsolute({10, 0}), 0, 10);
  // A new size moves the centre that the rotation turns about.
  v->RotateCenter()->SetPoint({0.5f, 0.5f});
  v->SetWidth(100);
  ExpectPoint(v->LocalToAbsolute({0, 0}), 75, -25);
}

TEST_F(Visual, AbsoluteMatrixClearsItsFlagBeforeItRepaints) {
  auto* v = Probe("v", root, 10, 10, 20, 20);
  v->GetAbsoluteMatrix();
  // Moved while the scene's update is off: the matrix waits for a reader.
  scene->DisableUpdate = true;
  v->Position()->SetX(30);
  scene->DisableUpdate = false;
  EXPECT_TRUE(v->MatrixDirty());
  TakeRects();
  // The repaint inside reads the matrix again: with the flag still set it
  // would recurse until the stack ran out.
  v->GetAbsoluteMatrix();
  EXPECT_FALSE(v->MatrixDirty());
  EXPECT_EQ(TakeRects(), std::vector<std::string>{"(30,10,50,30)"});
  // No repaint while the scene's update is off or the object is updating.
  scene->DisableUpdate = true;
  v->Position()->SetX(40);
  v->GetAbsoluteMatrix();
  scene->DisableUpdate = false;
  EXPECT_FALSE(v->MatrixDirty());
  v->BeginUpdate();
  v->Position()->SetX(50);
  EXPECT_TRUE(v->MatrixDirty());
  v->GetAbsoluteMatrix();
  EXPECT_FALSE(v->MatrixDirty());
  EXPECT_TRUE(TakeRects().empty());
  v->EndUpdate();
}

TEST_F(Visual, DirtyFlagsReachTheWholeSubtree) {
  auto* a = Probe("a", root, 10, 10, 100, 100);
  auto* b = Probe("b", a, 10, 10, 50, 50);
  auto* c = Probe("c", b, 5, 5, 10, 10);
  ExpectPoint(c->LocalToAbsolute({0, 0}), 25, 25);
  scene->DisableUpdate = true;  // no repaint reads the matrices meanwhile
  a->Position()->SetPoint({20, 20});
  scene->DisableUpdate = false;
  EXPECT_TRUE(b->MatrixDirty());
  EXPECT_TRUE(c->MatrixDirty());
  ExpectPoint(c->LocalToAbsolute({0, 0}), 35, 35);

  a->SetOpacity(0.5f);
  b->SetOpacity(0.5f);
  EXPECT_FLOAT_EQ(c->GetAbsoluteOpacity(), 0.25f);
  a->SetOpacity(2);  // clamped
  EXPECT_FLOAT_EQ(a->Opacity(), 1);
  EXPECT_FLOAT_EQ(c->GetAbsoluteOpacity(), 0.5f);

  EXPECT_TRUE(c->GetAbsoluteEnabled());
  a->SetEnabled(false);
  EXPECT_FALSE(c->GetAbsoluteEnabled());
  a->SetEnabled(true);
  EXPECT_TRUE(c->GetAbsoluteEnabled());
}

TEST_F(Visual, DisabledObjectsBelowTheRootsChildrenFade) {
  auto* a = Probe("a", root, 0, 0, 100, 100);
  auto* b = Probe("b", a, 0, 0, 50, 50);
  a->SetEnabled(false);
  EXPECT_FLOAT_EQ(a->GetAbsoluteOpacity(), 1);  // a direct child of the root
  a->SetEnabled(true);
  b->SetEnabled(false);
  EXPECT_FLOAT_EQ(b->GetAbsoluteOpacity(), 0.8f);
}

TEST_F(Visual, UpdateRectangleOfAnOverflowingChild) {
  auto* p = Probe("p", root, 0, 0, 100, 100);
  auto* c = Probe("c", p, 90, 90, 20, 20);
  EXPECT_EQ(RectText(p->GetUpdateRect()), "(0,0,110,110)");
  // The child moves further out: the parent's cached area follows.
  c->Position()->SetPoint({150, 150});
  EXPECT_TRUE(p->UpdateRectDirty());
  EXPECT_EQ(RectText(p->GetUpdateRect()), "(0,0,170,170)");
  // A clipping parent keeps its own area; the child's is cut to it.
  p->SetClipChildren(true);
  c->Position()->SetPoint({90, 90});
  EXPECT_EQ(RectText(p->GetUpdateRect()), "(0,0,100,100)");
  EXPECT_EQ(RectText(c->GetUpdateRect()), "(90,90,100,100)");
  // A child clipped away entirely does not stretch an unclipped ancestor
  // to the origin.
  auto* q = Probe("q", root, 50, 50, 10, 10);
  auto* inner = Probe("inner", q, 0, 0, 10, 10);
  inner->SetClipChildren(true);
  Probe("gone", inner, 20, 20, 5, 5);
  EXPECT_EQ(RectText(q->GetUpdateRect()), "(50,50,60,60)");
}

TEST_F(Visual, FocusAndDesignSelectionGrowTheUpdateRectangle) {
  auto* v = Probe("v", root, 20, 40, 100, 10);
  v->CanFocused = true;
  v->SetFocus();
  EXPECT_EQ(scene->Focused, v);
  v->EnterFocus();
  EXPECT_EQ(RectText(v->GetUpdateRect()), "(15,35,125,55)");
  v->KillFocus();
  scene->Selected = v;
  v->MarkUpdateRectDirty();
  EXPECT_EQ(RectText(v->GetUpdateRect()), "(16,23,124,54)");
  scene->Selected = nullptr;
  scene->DesignPlaceObject = v;
  v->MarkUpdateRectDirty();
  EXPECT_EQ(RectText(v->GetUpdateRect()), "(19,19,179,51)");
  scene->DesignPlaceObject = nullptr;
}

TEST_F(Visual, NegativeSizeMirrorsOnlyAtDesignTime) {
  for (bool design : {true, false}) {
    scene->DesignTime = design;
    auto* v = Probe("v", root, 0, 0, 10, 10);
    v->SetWidth(-30);
    v->SetHeight(-20);
    EXPECT_FLOAT_EQ(v->Width(), design ? 30 : -30);
    EXPECT_FLOAT_EQ(v->Height(), design ? 20 : -20);
    EXPECT_FLOAT_EQ(v->Scale()->X(), design ? -1 : 1);
    EXPECT_FLOAT_EQ(v->Scale()->Y(), design ? -1 : 1);
    classlib::Free(v);
  }
  scene->DesignTime = false;
}

TEST_F(Visual, SizeFromLocalRectKeepsTheRectangleInPlace) {
  auto* p = Probe("p", root, 100, 100, 100, 100);
  auto* v = Probe("v", p, 10, 10, 20, 20);
  v->SetRotateAngle(90);
  const TsgPoint corner = v->LocalToAbsolute({5, 5});
  v->SetSizeFromLocalRect({5, 5, 45, 25});
  EXPECT_FLOAT_EQ(v->Width(), 40);
  EXPECT_FLOAT_EQ(v->Height(), 20);
  const TsgPoint now = v->LocalToAbsolute({0, 0});
  EXPECT_NEAR(now.X, corner.X, 1e-3);
  EXPECT_NEAR(now.Y, corner.Y, 1e-3);
  // A rectangle given backwards mirrors the object instead.
  v->SetRotateAngle(0);
  v->SetSizeFromLocalRect({40, 0, 0, 20});
  EXPECT_FLOAT_EQ(v->Width(), 40);
  EXPECT_FLOAT_EQ(v->Scale()->X(), -1);
}

TEST_F(Visual, RepaintNeedsAVisibleObjectInAnUpdatableScene) {
  auto* v = Probe("v", root, 10, 10, 20, 20);
  v->GetAbsoluteMatrix();
  TakeRects();
  v->Repaint();
  EXPECT_EQ(TakeRects(), std::vector<std::string>{"(10,10,30,30)"});
  root->SetVisible(false);
  TakeRects();
  v->Repaint();  // a hidden ancestor
  EXPECT_TRUE(TakeRects().empty());
  root->SetVisible(true);
  TakeRects();
  scene->DisableUpdate = true;
  v->Repaint();
  scene->DisableUpdate = false;
  EXPECT_TRUE(TakeRects().empty());
  scene->DesignTime = true;
  v->SetDesignHide(true);
  TakeRects();
  v->Repaint();
  EXPECT_TRUE(TakeRects().empty());
  scene->DesignTime = false;
  // Without a scene nothing is asked of anyone.
  auto* loose = Probe("loose", nullptr, 0, 0, 10, 10);
  loose->Repaint();
  loose->SetFocus();
  loose->PaintChildren();
  EXPECT_TRUE(TakeRects().empty());
  classlib::Free(loose);
}

TEST_F(Visual, UpdatingDefersRepaintAndRealignToTheEnd) {
  auto* p = Probe("p", root, 0, 0, 100, 100);
  auto* c = Probe("c", p, 0, 0, 10, 10);
  c->SetAlign(vaClient);
  EXPECT_FLOAT_EQ(c->Width(), 100);
  p->BeginUpdate();
  EXPECT_EQ(c->UpdateCount(), 1);
  TakeRects();
  p->SetWidth(150);
  c->SetOpacity(0.5f);
  EXPECT_TRUE(TakeRects().empty());
  EXPECT_FLOAT_EQ(c->Width(), 100);
  p->EndUpdate();
  EXPECT_EQ(c->UpdateCount(), 0);
  EXPECT_FLOAT_EQ(c->Width(), 150);
  EXPECT_FALSE(TakeRects().empty());
  // A child added while updating takes the count.
  p->BeginUpdate();
  auto* d = Probe("d", p, 0, 0, 5, 5);
  EXPECT_EQ(d->UpdateCount(), 1);
  p->EndUpdate();
  EXPECT_EQ(d->UpdateCount(), 0);
}

TEST_F(Visual, HidingAFocusedObjectClearsTheScenesFocus) {
  auto* v = Probe("v", root, 0, 0, 10, 10);
  v->CanFocused = true;
  v->SetFocus();
  ASSERT_EQ(scene->Focused, v);
  v->SetVisible(false);
  EXPECT_EQ(scene->Focused, nullptr);
  // Disabling does the same once the state is read.
  v->SetVisible(true);
  v->SetFocus();
  root->SetEnabled(false);
  v->GetAbsoluteEnabled();
  EXPECT_EQ(scene->Focused, nullptr);
}

struct Handlers : TObject {
  std::vector<std::string> log;
  bool allowFocus = true;
  void CanFocus(TObject*, bool& can) { can = allowFocus; }
  void Clicked(TObject*) { log.push_back("click"); }
  void DblClicked(TObject*) { log.push_back("dblclick"); }
  void Down(TObject*, TMouseButton, TShiftState, float x, float y) {
    log.push_back("down " + sgFloatToStr(x) + "," + sgFloatToStr(y));
  }
  void Up(TObject*, TMouseButton, TShiftState, float x, float y) {
    log.push_back("up " + sgFloatToStr(x) + "," + sgFloatToStr(y));
  }
  void Key(TObject*, uint16_t& key, char16_t&, TShiftState) {
    log.push_back("key " + std::to_string(key));
  }
  void Entered(TObject*) { log.push_back("enter"); }
  void DragEnded(TObject*) { log.push_back("dragend"); }
};

struct MenuCall {
  classlib::TComponent* menu = nullptr;
  int x = 0, y = 0;
  classlib::TComponent* component = nullptr;
};
MenuCall g_menu;
void RecordMenu(classlib::TComponent* menu, int x, int y, classlib::TComponent* c) {
  g_menu = {menu, x, y, c};
}

TEST_F(Visual, MouseDownFocusesCapturesAndPressesThenUpClicks) {
  Handlers h;
  auto* v = Probe("v", root, 0, 0, 40, 20);
  v->CanFocused = true;
  v->AutoCapture = true;
  v->OnMouseDown = classlib::EventOf<&Handlers::Down>(&h);
  v->OnMouseUp = classlib::EventOf<&Handlers::Up>(&h);
  v->OnClick = classlib::EventOf<&Handlers::Clicked>(&h);
  v->OnDblClick = classlib::EventOf<&Handlers::DblClicked>(&h);
  v->OnCanFocused = classlib::EventOf<&Handlers::CanFocus>(&h);

  h.allowFocus = false;
  v->MouseDown(TMouseButton::mbLeft, {}, 5, 5);
  EXPECT_EQ(scene->Focused, nullptr);  // refused
  EXPECT_EQ(scene->Captured, v);
  EXPECT_TRUE(v->Pressed());
  // The release on the far edge still counts as inside.
  v->MouseUp(TMouseButton::mbLeft, {}, 40, 20);
  EXPECT_EQ(scene->Captured, nullptr);
  EXPECT_FALSE(v->Pressed());
  EXPECT_EQ(h.log, (std::vector<std::string>{"down 5,5", "up 40,20", "click"}));

  h.log.clear();
  h.allowFocus = true;
  v->MouseDown(TMouseButton::mbLeft, {}, 5, 5);
  EXPECT_EQ(scene->Focused, v);
  v->MouseUp(TMouseButton::mbLeft, {}, 41, 5);  // outside: no click
  // A double click: the handler first, then DblClick; the release does not
  // click.
  v->MouseDown(TMouseButton::mbLeft, TShiftState{classlib::ssDouble}, 5, 5);
  EXPECT_TRUE(v->DoubleClicked());
  v->MouseUp(TMouseButton::mbLeft, {}, 5, 5);
  EXPECT_EQ(h.log,
            (std::vector<std::string>{"down 5,5", "up 41,5", "down 5,5", "dblclick", "up 5,5"}));
}

struct Closer : TObject {
  void FreeSender(TObject* sender) { classlib::Free(sender); }
};

TEST_F(Visual, AClickHandlerMayFreeTheObject) {
  Closer closer;
  auto* v = Probe("v", root, 0, 0, 10, 10);
  v->OnClick = classlib::EventOf<&Closer::FreeSender>(&closer);
  v->MouseDown(TMouseButton::mbLeft, {}, 5, 5);
  v->MouseUp(TMouseButton::mbLeft, {}, 5, 5);  // nothing touches v after the click
  EXPECT_EQ(root->GetChildrenCount(), 0);
}

TEST_F(Visual, TheMouseUpThatEndsAnAutomaticDragNeverClicks) {
  Handlers h;
  // Wide enough to hold the far-away point the drag's end releases at.
  auto* v = Probe("v", root, 0, 0, 100000, 100000);
  v->OnClick = classlib::EventOf<&Handlers::Clicked>(&h);
  v->OnDragEnd = classlib::EventOf<&Handlers::DragEnded>(&h);
  v->DragMode = sgDragAutomatic;
  v->MouseDown(TMouseButton::mbLeft, {}, 5, 5);
  v->DragEnd();
  EXPECT_EQ(h.log, std::vector<std::string>{"dragend"});
  EXPECT_FALSE(v->Pressed());
}

TEST_F(Visual, ContextKeyAndRightButtonOpenThePopupMenu) {
  Handlers h;
  SetPopupMenuHook(&RecordMenu);
  auto* menu = New<classlib::TComponent>(nullptr);
  auto* v = Probe("v", root, 10, 20, 40, 30);
  v->SetPopupMenu(menu);
  v->OnKeyDown = classlib::EventOf<&Handlers::Key>(&h);
  g_menu = {};
  v->MouseDown(TMouseButton::mbRight, {}, 2.4f, 2.6f);
  EXPECT_EQ(g_menu.menu, menu);
  EXPECT_EQ(g_menu.x, 12);
  EXPECT_EQ(g_menu.y, 23);
  EXPECT_EQ(g_menu.component, v);
  g_menu = {};
  uint16_t key = 93;
  char16_t ch = 0;
  v->KeyDown(key, ch, {});
  EXPECT_EQ(g_menu.x, 30);  // the centre
  EXPECT_EQ(g_menu.y, 35);
  key = 65;
  v->KeyDown(key, ch, {});
  EXPECT_EQ(h.log, std::vector<std::string>{"key 65"});
  // Freeing the menu clears the reference.
  classlib::Free(menu);
  EXPECT_EQ(v->PopupMenu(), nullptr);
  SetPopupMenuHook(nullptr);
}

struct WheelLog : TObject {
  std::vector<std::string> log;
  void Wheel(TObject*, TShiftState, int delta, const TsgPoint& at, bool& handled) {
    log.push_back(std::to_string(delta) + " " + sgPointToStr(at));
    handled = true;
  }
};

TEST_F(Visual, TheWheelGoesToTheHandlerWithTheScenesMousePosition) {
  WheelLog w;
  auto* v = Probe("v", root, 0, 0, 10, 10);
  bool handled = false;
  v->MouseWheel({}, 120, handled);  // no handler: untouched
  EXPECT_FALSE(handled);
  v->OnMouseWheel = classlib::EventOf<&WheelLog::Wheel>(&w);
  scene->MousePos = {7, 8};
  v->MouseWheel({}, -120, handled);
  EXPECT_TRUE(handled);
  auto* loose = Probe("loose", nullptr, 0, 0, 10, 10);
  loose->OnMouseWheel = v->OnMouseWheel;
  loose->MouseWheel({}, 120, handled);
  EXPECT_EQ(w.log, (std::vector<std::string>{"-120 (7,8)", "120 (0,0)"}));
  classlib::Free(loose);
}

struct HideNotes final : IsgSceneDesigner {
  HideNotes() = default;
  virtual ~HideNotes() = default;
  std::vector<std::string> notes;
  bool IsSelected(TsgObject*) override { return false; }
  void SelectionHidden(classlib::TComponent* owner, TsgObject* parent) override {
    notes.push_back((owner ? owner->Name() : std::string("nil")) + " " + parent->Name());
  }
};

TEST_F(Visual, HidingTheSelectionForDesignTellsTheDesigner) {
  HideNotes designer;
  SceneDesigner = &designer;
  auto* v = Probe("v", root, 0, 0, 10, 10);
  scene->Selected = v;
  v->SetDesignHide(true);  // not at design time
  v->SetDesignHide(false);
  scene->DesignTime = true;
  v->SetDesignHide(true);
  scene->Selected = nullptr;
  v->SetDesignHide(false);
  v->SetDesignHide(true);  // not the selection
  EXPECT_EQ(designer.notes, std::vector<std::string>{"nil root"});
  scene->DesignTime = false;
  SceneDesigner = nullptr;
}

TEST_F(Visual, DialogKeyStopsAtTheFirstChildThatTakesIt) {
  struct Taker : TProbe {
    explicit Taker(classlib::TComponent* o) : TProbe(o) {}
    int offered = 0;
    void DialogKey(uint16_t& key, TShiftState) override {
      ++offered;
      if (Name() == "takes") key = 0;
    }
  };
  auto make = [&](const std::string& name) {
    auto* t = New<Taker>(nullptr);
    t->SetName(name);
    root->AddObject(t);
    return t;
  };
  Taker* hidden = make("hidden");
  hidden->SetVisible(false);
  Taker* disabled = make("disabled");
  disabled->SetEnabled(false);
  Taker* takes = make("takes");
  Taker* after = make("after");
  uint16_t key = 9;
  root->DialogKey(key, {});
  EXPECT_EQ(key, 0);
  EXPECT_EQ(hidden->offered + disabled->offered + after->offered, 0);
  EXPECT_EQ(takes->offered, 1);
}

TEST_F(Visual, PointInObjectExcludesTheEdges) {
  auto* v = Probe("v", root, 10, 10, 20, 20);
  const struct {
    TsgPoint p;
    bool in;
  } cases[] = {{{10, 15}, false}, {{15, 10}, false},      {{30, 15}, false},
               {{15, 30}, false}, {{10.5f, 10.5f}, true}, {{29.5f, 29.5f}, true}};
  for (const auto& c : cases) EXPECT_EQ(v->PointInObject(c.p), c.in) << sgPointToStr(c.p);
  // Zero area: never inside.
  auto* flat = Probe("flat", root, 10, 10, 0, 20);
  EXPECT_FALSE(flat->PointInObject({10, 15}));
  EXPECT_EQ(root->ObjectAtPoint({10, 15}), root);
}

TEST_F(Visual, HitTestsTakeTheTopmostEnabledVisibleChild) {
  auto* under = Probe("under", root, 0, 0, 100, 100);
  auto* over = Probe("over", root, 0, 0, 50, 50);
  auto* control = Probe("control", root, 60, 60, 30, 30);
  control->Control = true;
  const auto at = [&](float x, float y) {
    TsgVisualObject* hit = root->ObjectAtPoint({x, y});
    return hit ? hit->Name() : std::string("nil");
  };
  EXPECT_EQ(at(10, 10), "over");
  EXPECT_EQ(at(70, 70), "control");
  over->SetHitTest(false);
  EXPECT_EQ(at(10, 10), "under");
  over->SetHitTest(true);
  over->SetVisible(false);
  EXPECT_EQ(at(10, 10), "under");
  // A disabled control is not hit, nor anything inside it; a disabled
  // plain object still is.
  Probe("inside", control, 5, 5, 10, 10);
  EXPECT_EQ(at(70, 70), "inside");
  control->SetEnabled(false);
  EXPECT_EQ(at(70, 70), "under");
  under->SetEnabled(false);
  EXPECT_EQ(at(10, 10), "under");
  // A clipping parent keeps outside points from its children.
  auto* clip = Probe("clip", root, 150, 150, 20, 20);
  Probe("out", clip, 25, 0, 10, 10);
  EXPECT_EQ(at(180, 155), "out");
  clip->SetClipChildren(true);
  EXPECT_EQ(at(180, 155), "root");
  // At design time every object is hit unless locked or hidden for design.
  scene->DesignTime = true;
  over->SetHitTest(false);
  EXPECT_EQ(at(10, 10), "over");
  over->SetLocked(true);
  EXPECT_EQ(at(10, 10), "under");
  scene->DesignTime = false;
}

TEST_F(Visual, DragTargetsAreTheObjectsThatAccept) {
  struct Acceptor : TProbe {
    explicit Acceptor(classlib::TComponent* o) : TProbe(o) {}
    bool accepts = false;
    TsgPoint seen;
    void DragOver(const TsgDragObject&, const TsgPoint& p, bool& accept) override {
      seen = p;
      accept = accepts;
    }
  };
  auto* a = New<Acceptor>(nullptr);
  a->SetName("a");
  a->SetBounds(10, 10, 50, 50);
  root->AddObject(a);
  auto* b = New<Acceptor>(nullptr);
  b->SetName("b");
  b->SetBounds(5, 5, 10, 10);
  a->AddObject(b);
  TsgDragObject data;
  EXPECT_EQ(root->FindDragTarget({20, 20}, data), nullptr);
  a->accepts = true;
  EXPECT_EQ(root->FindDragTarget({20, 20}, data), a);
  b->accepts = true;
  EXPECT_EQ(root->FindDragTarget({20, 20}, data), b);
  ExpectPoint(b->seen, 5, 5);  // local coordinates
  // A clipping parent still takes points outside, not its children.
  a->SetClipChildren(true);
  b->Position()->SetPoint({45, 45});
  EXPECT_EQ(root->FindDragTarget({62, 62}, data), nullptr);
}

TEST_F(Visual, DragEnterAndLeaveRaiseTheStateTrigger) {
  Handlers h;
  auto* v = Probe("v", root, 0, 0, 10, 10);
  v->OnMouseEnter = classlib::EventOf<&Handlers::Entered>(&h);
  TsgDragObject data;
  v->DragEnter(data, {1, 1});
  EXPECT_TRUE(v->IsDragOver());
  v->DragLeave();
  EXPECT_FALSE(v->IsDragOver());
  v->MouseEnter();
  EXPECT_TRUE(v->IsMouseOver());
  EXPECT_EQ(h.log, std::vector<std::string>{"enter"});
  v->MouseLeave();
  EXPECT_FALSE(v->IsMouseOver());
}

TEST_F(Visual, EnteringFocusTellsAncestorsUntilOneAnswers) {
  struct Host : TProbe {
    explicit Host(classlib::TComponent* o) : TProbe(o) {}
    bool answer = false;
    int told = 0;
    bool ChildFocused(TsgVisualObject*) override {
      ++told;
      return answer;
    }
  };
  auto* outer = New<Host>(nullptr);
  root->AddObject(outer);
  auto* inner = New<Host>(nullptr);
  outer->AddObject(inner);
  inner->answer = true;
  auto* v = Probe("v", inner, 0, 0, 10, 10);
  v->EnterFocus();
  EXPECT_FALSE(v->IsFocused());  // cannot take the focus
  v->CanFocused = true;
  v->EnterFocus();
  EXPECT_TRUE(v->IsFocused());
  EXPECT_EQ(inner->told, 1);
  EXPECT_EQ(outer->told, 0);
  // Leaving the scene ends the focus.
  inner->RemoveObject(v);
  EXPECT_FALSE(v->IsFocused());
  classlib::Free(v);
}

TEST_F(Visual, TabListFollowsTheVisualChildren) {
  auto* a = Probe("a", root, 0, 0, 10, 10);
  auto* b = Probe("b", root, 0, 0, 10, 10);
  EXPECT_EQ(root->TabList(), (std::vector<TsgVisualObject*>{a, b}));
  classlib::Free(a);
  EXPECT_EQ(root->TabList(), (std::vector<TsgVisualObject*>{b}));
}

std::vector<uint8_t> Binary(classlib::TComponent* obj) {
  classlib::TMemoryStream m;
  SaveObjectToStream(obj, m);
  return m.Bytes();
}

std::string Text(classlib::TComponent* obj) {
  classlib::TStringStream s;
  SaveObjectToTextStream(obj, s);
  return s.DataString();
}

TEST_F(Visual, AVisualTreeStreamsByteForByte) {
  // Unnamed: names are not read back.
  auto* top = Probe("", nullptr, 5, 6, 120, 80);
  top->Margins()->SetRect({1, 2, 3, 4});
  top->SetOpacity(0.5f);
  auto* child = Probe("", top, 0, 0, 30, 10);
  child->SetAlign(vaTop);
  child->Padding()->SetLeft(4);
  child->SetRotateAngle(30);
  child->SetHitTest(false);
  Probe("", top, 7, 8, 9, 10);
  const std::string text = Text(top);
  EXPECT_NE(text.find("Position.Point = '(5,6)'"), std::string::npos) << text;
  EXPECT_NE(text.find("Margins.Rect = '(1,2,3,4)'"), std::string::npos) << text;
  EXPECT_NE(text.find("Padding.Rect = '(4,0,0,0)'"), std::string::npos) << text;
  EXPECT_NE(text.find("Opacity = 0.5"), std::string::npos) << text;
  EXPECT_NE(text.find("Align = vaTop"), std::string::npos) << text;
  EXPECT_NE(text.find("HitTest = False"), std::string::npos) << text;
  // Only the top's opacity differs from 1; default flags are left out.
  EXPECT_EQ(text.find("Opacity", text.find("object", 1)), std::string::npos) << text;
  EXPECT_EQ(text.find("Visible"), std::string::npos) << text;
  EXPECT_EQ(text.find("Scale"), std::string::npos) << text;

  const std::vector<uint8_t> bytes = Binary(top);
  classlib::TMemoryStream m;
  m.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  m.SetPosition(0);
  auto* back = dynamic_cast<TProbe*>(LoadObjectFromStream(nullptr, m));
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(Binary(back), bytes);
  // Loading laid the children out once, at the end.
  auto* c2 = dynamic_cast<TsgVisualObject*>(back->GetChild(0));
  ASSERT_NE(c2, nullptr);
  EXPECT_FLOAT_EQ(c2->Width(), 120 - 1 - 3 - 4);
  EXPECT_FLOAT_EQ(c2->Position()->X(), 1 + 4);
  EXPECT_FLOAT_EQ(back->LastWidth(), 120);
  EXPECT_FALSE(c2->HitTest());
  EXPECT_FLOAT_EQ(c2->RotateAngle(), 30);
  classlib::Free(back);
  classlib::Free(top);
}

}  // namespace
}  // namespace kelm::scene

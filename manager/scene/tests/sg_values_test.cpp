// Bounds, positions, transforms and splines.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>

#include "classlib/streams.h"
#include "scene/sg_bounds.h"
#include "scene/sg_classes.h"
#include "scene/sg_spline.h"
#include "tree_test_classes.h"

namespace kelm::scene {
namespace {

using test::TTestObject;

// Counts change events of one value object.
class ChangeCounter : public classlib::TObject {
 public:
  int Count = 0;
  void Changed(classlib::TObject*) { ++Count; }
  classlib::TNotifyEvent Event() { return classlib::EventOf<&ChangeCounter::Changed>(this); }
};

std::string TextOf(classlib::TComponent* obj) {
  classlib::TStringStream text;
  SaveObjectToTextStream(obj, text);
  return text.DataString();
}

TEST(SceneBounds, SettersFireOnlyOnChange) {
  auto* b = classlib::New<TsgBounds>(sgRect(1, 2, 3, 4));
  ChangeCounter counter;
  b->OnChange = counter.Event();
  struct {
    const char* what;
    std::function<void()> act;
    int fires;
  } steps[] = {
      {"same left", [&] { b->SetLeft(1); }, 0},
      {"new left", [&] { b->SetLeft(5); }, 1},
      {"same rect", [&] { b->SetRect(sgRect(5, 2, 3, 4)); }, 0},
      {"new rect", [&] { b->SetRect(sgRect(6, 7, 8, 9)); }, 1},
      {"new bottom", [&] { b->SetBottom(0); }, 1},
  };
  for (auto& s : steps) {
    int before = counter.Count;
    s.act();
    EXPECT_EQ(counter.Count - before, s.fires) << s.what;
  }
  EXPECT_EQ(b->Top(), 7);
  TsgRect m = b->MarginRect(sgRect(0, 0, 100, 50));
  EXPECT_TRUE(m.Left == 6 && m.Top == 7 && m.Right == 92 && m.Bottom == 50);
  EXPECT_FALSE(b->IsEmpty());
  auto* zero = classlib::New<TsgBounds>(sgRect(0, 0, 0, 0));
  EXPECT_TRUE(zero->IsEmpty());
  EXPECT_TRUE(zero->IsRectEmpty());
  b->Assign(zero);
  EXPECT_TRUE(b->IsEmpty());
  auto* other = classlib::New<TsgPosition>(sgPoint(0, 0));
  EXPECT_THROW(b->Assign(other), classlib::EConvertError);
  classlib::Free(other);
  classlib::Free(zero);
  classlib::Free(b);
}

TEST(ScenePosition, SetPointAlwaysFiresButXOnlyOnChange) {
  auto* p = classlib::New<TsgPosition>(sgPoint(1, 1));
  ChangeCounter counter;
  p->OnChange = counter.Event();
  p->SetPoint(sgPoint(1, 1));
  EXPECT_EQ(counter.Count, 1);
  p->SetX(1);
  EXPECT_EQ(counter.Count, 1);
  p->SetX(2);
  p->SetY(3);
  EXPECT_EQ(counter.Count, 3);
  auto* q = classlib::New<TsgPosition>(sgPoint(0, 0));
  q->Assign(p);
  EXPECT_TRUE(q->X() == 2 && q->Y() == 3);
  classlib::Free(q);
  classlib::Free(p);
}

TEST(SceneCompactForms, WrittenOnlyWhenDifferentFromTheDefault) {
  test::RegisterTestClasses();
  auto* obj = classlib::New<TTestObject>(nullptr);
  std::string text = TextOf(obj);
  EXPECT_EQ(text.find("Rect"), std::string::npos) << text;
  EXPECT_EQ(text.find("Point"), std::string::npos) << text;
  EXPECT_EQ(text.find("Left"), std::string::npos) << text;
  obj->Position()->SetPoint(sgPoint(1, 1));  // the default again
  obj->Margins()->SetLeft(2);
  text = TextOf(obj);
  EXPECT_NE(text.find("Margins.Rect = '(2,0,0,0)'"), std::string::npos) << text;
  EXPECT_EQ(text.find("Point"), std::string::npos) << text;
  obj->Position()->SetPoint(sgPoint(0.5f, 1));
  text = TextOf(obj);
  EXPECT_NE(text.find("Position.Point = '(0.500,1)'"), std::string::npos) << text;

  // Read back into a new object through the loader.
  classlib::TStringStream in(text);
  auto* copy = dynamic_cast<TTestObject*>(LoadObjectFromTextStream(nullptr, in));
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->Margins()->Left(), 2);
  EXPECT_EQ(copy->Position()->X(), 0.5f);
  EXPECT_EQ(copy->Position()->Y(), 1);
  classlib::Free(copy);
  classlib::Free(obj);
}

TEST(SceneTransform, ScaleRotateThenMove) {
  auto* t = classlib::New<TsgTransform>();
  ChangeCounter counter;
  t->OnChange = counter.Event();
  t->Scale()->SetPoint(sgPoint(2, 3));
  t->Position()->SetPoint(sgPoint(10, 20));
  EXPECT_EQ(counter.Count, 2);
  TsgVector v = sgVectorTransform(sgVector(1, 1, 1), t->Matrix());
  EXPECT_FLOAT_EQ(v.X, 12);
  EXPECT_FLOAT_EQ(v.Y, 23);
  t->SetRotateAngle(90);
  t->SetRotateAngle(90);  // unchanged: no rebuild
  EXPECT_EQ(counter.Count, 3);
  v = sgVectorTransform(sgVector(1, 0, 1), t->Matrix());
  EXPECT_NEAR(v.X, 10, 1e-5);  // (1,0) -> (0,1) -> (0,3), then moved
  EXPECT_NEAR(v.Y, 23, 1e-5);
  // The rotation centre does not enter the matrix; perspective does.
  TsgMatrix before = t->Matrix();
  t->RotateCenter()->SetPoint(sgPoint(7, 7));
  const float* was = &before.m11;
  const float* now = &t->Matrix().m11;
  for (int i = 0; i < 9; ++i) EXPECT_EQ(was[i], now[i]) << i;
  t->Perspective()->SetPoint(sgPoint(0.25f, 0.5f));
  // Rotated by 90 degrees: the projective column turns with the rest.
  EXPECT_NEAR(t->Matrix().m13, 0.5f, 1e-6);
  EXPECT_NEAR(t->Matrix().m23, -0.25f, 1e-6);

  auto* u = classlib::New<TsgTransform>();
  ChangeCounter uc;
  u->OnChange = uc.Event();
  u->Assign(t);
  EXPECT_EQ(uc.Count, 1);  // rebuilt once
  EXPECT_EQ(u->Scale()->Y(), 3);
  EXPECT_EQ(u->RotateCenter()->X(), 7);
  EXPECT_EQ(u->Matrix().m31, 10);  // the angle is not copied: no rotation
  EXPECT_EQ(u->Matrix().m11, 2);
  classlib::Free(u);
  classlib::Free(t);
}

TEST(SceneSpline, InterpolatesSmoothlyAndExtrapolates) {
  TsgSpline s({{0, 0}, {1, 1}, {2, 0}});
  float x, y, x2, y2;
  s.SplineXY(1, x, y);
  EXPECT_NEAR(x, 1, 1e-6);
  EXPECT_NEAR(y, 1, 1e-6);
  for (float d : {0.25f, 0.5f, 0.9f}) {
    s.SplineXY(1 - d, x, y);
    s.SplineXY(1 + d, x2, y2);
    EXPECT_NEAR(y, y2, 1e-5) << d;     // symmetric about t = 1
    EXPECT_NEAR(x, 1 - d, 1e-5) << d;  // straight data stays straight
  }
  // Through every knot, with matching slopes on both sides of inner knots.
  std::vector<TsgPoint> pts = {{0, 3}, {1, -1}, {4, 2}, {5, 5}, {6, 0}};
  TsgSpline z(pts);
  for (size_t i = 0; i < pts.size(); ++i) {
    z.SplineXY(static_cast<float>(i), x, y);
    EXPECT_NEAR(x, pts[i].X, 1e-4) << i;
    EXPECT_NEAR(y, pts[i].Y, 1e-4) << i;
  }
  const float h = 1e-3f;
  for (int i = 1; i < 4; ++i) {
    float ya, yb, yc;
    z.SplineXY(i - h, x, ya);
    z.SplineXY(static_cast<float>(i), x, yb);
    z.SplineXY(i + h, x, yc);
    EXPECT_NEAR((yb - ya) / h, (yc - yb) / h, 0.05) << i;
  }
  // Past the last point the last segment goes on.
  z.SplineXY(4.5f, x, y);
  z.SplineXY(4.5f, x2, y2);
  EXPECT_EQ(y, y2);
  TsgSpline one({{3, 4}});
  one.SplineXY(0, x, y);
  EXPECT_TRUE(x == 0 && y == 0);
  TsgSpline none({});
  none.SplineXY(std::nanf(""), x, y);
  EXPECT_TRUE(x == 0 && y == 0);
}

}  // namespace
}  // namespace kelm::scene

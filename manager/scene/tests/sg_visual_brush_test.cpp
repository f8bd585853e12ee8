// Bitmap and visual brushes: what they write, their change events, and the
// weak link of a visual brush to the object it paints.
#include <gtest/gtest.h>

#include <string>

#include "classlib/classdef.h"
#include "classlib/streams.h"
#include "scene/sg_brush.h"
#include "scene/sg_classes.h"
#include "scene/sg_visual.h"
#include "visual_probe.h"

namespace kelm::test {

// A visual object publishing a fill, as shapes do.
class TFilled : public scene::TsgVisualObject {
  CL_DECLARE_CLASS(TFilled, TsgVisualObject)
 public:
  explicit TFilled(classlib::TComponent* AOwner)
      : TsgVisualObject(AOwner), fill_(classlib::New<scene::TsgBrush>(scene::sgBrushSolid, 0)) {}
  ~TFilled() override { classlib::Free(fill_); }
  scene::TsgBrush* Fill() const { return fill_; }
  void SetFill(scene::TsgBrush* v) { fill_->Assign(v); }

 private:
  scene::TsgBrush* fill_;
};

CL_CLASS(TFilled) { c.Object("Fill", &TFilled::Fill, &TFilled::SetFill); }

}  // namespace kelm::test

namespace kelm::scene {
namespace {

using classlib::New;
using test::TFilled;
using test::TProbe;

class Counter : public classlib::TObject {
 public:
  int Count = 0;
  void Changed(classlib::TObject*) { ++Count; }
  classlib::TNotifyEvent Event() { return classlib::EventOf<&Counter::Changed>(this); }
};

std::string TextOf(classlib::TComponent* obj) {
  classlib::TStringStream text;
  SaveObjectToTextStream(obj, text);
  return text.DataString();
}

class Brushes : public ::testing::Test {
 protected:
  void SetUp() override {
    test::RegisterVisualTestClasses();
    classlib::RegisterClasses({TFilled::StaticClass()});
  }
};

TEST_F(Brushes, OnlyTheSubObjectOfTheStyleIsWritten) {
  auto* top = New<TFilled>(nullptr);
  top->SetName("top");
  auto* target = New<TProbe>(top);
  target->SetName("target");
  top->AddObject(target);

  top->Fill()->Bitmap()->SetWrapMode(sgWrapTileStretch);
  top->Fill()->Visual()->SetVisualObject(target);
  // Solid: neither the bitmap nor the visual is written.
  std::string text = TextOf(top);
  EXPECT_EQ(text.find("Bitmap"), std::string::npos) << text;
  EXPECT_EQ(text.find("Visual"), std::string::npos) << text;

  top->Fill()->SetStyle(sgBrushBitmap);
  text = TextOf(top);
  EXPECT_NE(text.find("Fill.Bitmap.WrapMode = sgWrapTileStretch"), std::string::npos) << text;
  EXPECT_NE(text.find("Fill.Style = sgBrushBitmap"), std::string::npos) << text;
  EXPECT_EQ(text.find("PNG"), std::string::npos) << text;  // no pixels
  EXPECT_EQ(text.find("VisualObject"), std::string::npos) << text;
  // The bitmap comes before the style, as the properties are declared.
  EXPECT_LT(text.find("Fill.Bitmap"), text.find("Fill.Style"));

  top->Fill()->SetStyle(sgBrushVisual);
  text = TextOf(top);
  EXPECT_NE(text.find("Fill.Visual.VisualObject = target"), std::string::npos) << text;
  EXPECT_EQ(text.find("WrapMode"), std::string::npos) << text;
  classlib::Free(top);
}

TEST_F(Brushes, AssignCopiesTheStylesSubObjectAndFiresOnce) {
  auto* target = New<TProbe>(nullptr);
  TsgBrush source(sgBrushSolid, 0);
  source.SetStyle(sgBrushVisual);
  source.Visual()->SetVisualObject(target);
  TsgBrush copy(sgBrushSolid, 0);
  Counter changes;
  copy.OnChange = changes.Event();
  copy.Assign(&source);
  EXPECT_EQ(changes.Count, 1);
  EXPECT_EQ(copy.Visual()->VisualObject(), target);

  TsgBitmap pixels(2, 1);
  pixels.Bits()[1] = 0xFF112233u;
  source.SetStyle(sgBrushBitmap);
  source.Bitmap()->SetBitmap(&pixels);
  source.Bitmap()->SetWrapMode(sgWrapTileOriginal);
  changes.Count = 0;
  copy.Assign(&source);
  EXPECT_EQ(changes.Count, 1);
  ASSERT_EQ(copy.Bitmap()->Bitmap()->Width(), 2);
  EXPECT_EQ(copy.Bitmap()->Bitmap()->Bits()[1], 0xFF112233u);
  EXPECT_EQ(copy.Bitmap()->WrapMode(), sgWrapTileOriginal);
  classlib::Free(target);
}

TEST_F(Brushes, BitmapBrushEvents) {
  TsgBrushBitmap b;
  Counter changes;
  b.OnChange = changes.Event();
  TsgBitmap pixels(3, 3);
  b.SetBitmap(&pixels);  // copies quietly
  EXPECT_EQ(changes.Count, 0);
  EXPECT_EQ(b.Bitmap()->Width(), 3);
  b.SetBitmap(nullptr);  // ignored
  EXPECT_EQ(b.Bitmap()->Width(), 3);
  b.SetWrapMode(sgWrapTile);  // unchanged
  EXPECT_EQ(changes.Count, 0);
  b.SetWrapMode(sgWrapTileStretch);
  EXPECT_EQ(changes.Count, 1);
  // A change of the pixels themselves reaches the owner.
  b.Bitmap()->SetSize(4, 4);
  EXPECT_GE(changes.Count, 2);
}

TEST_F(Brushes, FreeingTheVisualObjectClearsTheLink) {
  auto* a = New<TProbe>(nullptr);
  auto* b = New<TProbe>(nullptr);
  TsgVisual link;
  Counter changes;
  link.OnChange = changes.Event();
  link.SetVisualObject(a);
  link.SetVisualObject(a);
  EXPECT_EQ(changes.Count, 1);
  // Relinking leaves the old object's list.
  link.SetVisualObject(b);
  EXPECT_EQ(a->NotifyClientCount(), 0);
  EXPECT_EQ(b->NotifyClientCount(), 1);
  classlib::Free(b);
  EXPECT_EQ(link.VisualObject(), nullptr);
  {
    TsgVisual shortLived;
    shortLived.SetVisualObject(a);
  }
  // The link that went away first is no longer told.
  EXPECT_EQ(a->NotifyClientCount(), 0);
  classlib::Free(a);
}

}  // namespace
}  // namespace kelm::scene

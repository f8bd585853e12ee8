// Named resource objects and the links of brushes, paths and bitmaps.
#include <gtest/gtest.h>

#include "scene/sg_classes.h"
#include "scene/sg_resources.h"

namespace kelm::scene {
namespace {

TEST(Resources, NamingSetsTheResourceNameOnce) {
  auto* obj = classlib::New<TsgBrushObject>(nullptr);
  obj->SetName("Accent");
  EXPECT_EQ(obj->ResourceName(), "Accent");
  EXPECT_EQ(FindGlobalResource("accent"), obj);
  obj->SetName("Other");
  EXPECT_EQ(obj->ResourceName(), "Accent");
  EXPECT_EQ(obj->Brush()->Style(), sgBrushSolid);
  EXPECT_EQ(obj->Brush()->SolidColor(), 0xFFFFFFFFu);
  classlib::Free(obj);
  auto* bmp = classlib::New<TsgBitmapObject>(nullptr);
  EXPECT_EQ(bmp->Bitmap()->Width(), 1);
  classlib::Free(bmp);
}

TEST(Resources, FreeingClearsLinksAndTheNameFindsANewerOne) {
  auto* first = classlib::New<TsgBrushObject>(nullptr);
  first->SetResourceName("Fill1");
  first->Brush()->SetSolidColor(0xFF0000FFu);
  auto* firstPath = classlib::New<TsgPathObject>(nullptr);
  firstPath->SetResourceName("Shape1");
  firstPath->Path()->SetData("M 0 0 L 1 1");
  auto* firstBitmap = classlib::New<TsgBitmapObject>(nullptr);
  firstBitmap->SetResourceName("Pic1");

  TsgBrush brush(sgBrushResource, 0xFF123456u);
  brush.Resource()->SetResourceName("Fill1");
  TsgPathData path;
  path.SetResourceName("Shape1");
  TsgBitmap bitmap;
  bitmap.SetResourceName("Pic1");
  EXPECT_EQ(brush.GetSolidColor(), 0xFF0000FFu);
  EXPECT_EQ(brush.Resource()->Resource(), first);
  EXPECT_EQ(path.GetResourcePath(), firstPath->Path());
  EXPECT_EQ(bitmap.GetResourceBitmap(), firstBitmap->Bitmap());

  classlib::Free(first);
  classlib::Free(firstPath);
  classlib::Free(firstBitmap);
  EXPECT_EQ(brush.Resource()->Resource(), nullptr);
  EXPECT_EQ(path.Resource(), nullptr);
  EXPECT_EQ(bitmap.Resource(), nullptr);
  EXPECT_EQ(brush.GetSolidColor(), 0xFF123456u);
  EXPECT_EQ(path.GetResourcePath(), nullptr);
  EXPECT_EQ(bitmap.GetResourceBitmap(), nullptr);

  auto* second = classlib::New<TsgBrushObject>(nullptr);
  second->SetResourceName("Fill1");
  second->Brush()->SetSolidColor(0xFF00FF00u);
  auto* secondPath = classlib::New<TsgPathObject>(nullptr);
  secondPath->SetResourceName("Shape1");
  EXPECT_EQ(brush.GetSolidColor(), 0xFF00FF00u);
  EXPECT_EQ(path.GetResourcePath(), secondPath->Path());
  // Freeing the values first unlinks them from the objects.
  EXPECT_EQ(second->NotifyClientCount(), 1);
  path.SetResource(nullptr);
  EXPECT_EQ(secondPath->NotifyClientCount(), 0);
  EXPECT_EQ(path.ResourceName(), "");
  classlib::Free(second);
  classlib::Free(secondPath);
}

TEST(Resources, SolidColorStopsOnACycle) {
  auto* a = classlib::New<TsgBrushObject>(nullptr);
  auto* b = classlib::New<TsgBrushObject>(nullptr);
  a->SetResourceName("RingA");
  b->SetResourceName("RingB");
  a->Brush()->SetStyle(sgBrushResource);
  a->Brush()->SetSolidColor(0xFFAA0000u);
  a->Brush()->Resource()->SetResourceName("RingB");
  b->Brush()->SetStyle(sgBrushResource);
  b->Brush()->Resource()->SetResourceName("RingA");
  EXPECT_EQ(a->Brush()->GetSolidColor(), 0xFFAA0000u);
  // A brush naming its own object.
  b->Brush()->Resource()->SetResource(nullptr);
  b->Brush()->Resource()->SetResourceName("RingB");
  b->Brush()->SetSolidColor(0xFF00BB00u);
  EXPECT_EQ(b->Brush()->GetSolidColor(), 0xFF00BB00u);
  classlib::Free(a);
  classlib::Free(b);
}

TEST(Resources, AssignFromAResolvingSourceCopiesTheLink) {
  auto* shape = classlib::New<TsgPathObject>(nullptr);
  shape->SetResourceName("Star");
  shape->Path()->SetData("M 0 0 L 5 0 L 5 5 Z");
  TsgPathData source, target;
  source.SetResourceName("Star");
  target.SetData("M 9 9");
  target.Assign(&source);
  EXPECT_EQ(target.Resource(), shape);
  EXPECT_EQ(target.ResourceName(), "Star");
  EXPECT_EQ(target.Count(), 1);  // its own points stay; the shared ones are used

  auto* pic = classlib::New<TsgBitmapObject>(nullptr);
  pic->SetResourceName("Logo");
  TsgBitmap from, to(3, 3);
  from.SetResourceName("Logo");
  to.Assign(&from);
  EXPECT_EQ(to.Resource(), pic);
  // The copy follows later changes of the resource.
  pic->Bitmap()->SetSize(7, 2);
  EXPECT_EQ(to.GetResourceBitmap()->Width(), 7);
  classlib::Free(shape);
  classlib::Free(pic);
  EXPECT_EQ(target.Resource(), nullptr);
  EXPECT_EQ(to.Resource(), nullptr);
}

}  // namespace
}  // namespace kelm::scene

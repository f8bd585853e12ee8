// The scene bitmap: sizes, pixel operations and the "PNG" property through
// the recording filter.
#include <gtest/gtest.h>

#include <new>
#include <string>
#include <vector>

#include "classlib/classdef.h"
#include "classlib/streams.h"
#include "classlib/sysutils.h"
#include "recording_canvas.h"
#include "recording_filter.h"
#include "scene/sg_bitmap.h"
#include "scene/sg_bridges.h"
#include "scene/sg_canvas.h"
#include "scene/sg_classes.h"
#include "scene/sg_object.h"

namespace kelm::scene {

// A scene object publishing a bitmap, as images do.
class TImageHolder : public TsgObject {
  CL_DECLARE_CLASS(TImageHolder, TsgObject)
 public:
  explicit TImageHolder(classlib::TComponent* AOwner)
      : TsgObject(AOwner), bitmap_(classlib::New<TsgBitmap>()) {}
  ~TImageHolder() override { classlib::Free(bitmap_); }
  TsgBitmap* Bitmap() const { return bitmap_; }
  void SetBitmap(TsgBitmap* v) { bitmap_->Assign(v); }

 private:
  TsgBitmap* bitmap_;
};

CL_CLASS(TImageHolder) { c.Object("Bitmap", &TImageHolder::Bitmap, &TImageHolder::SetBitmap); }

namespace {

using test::TRecordingFilter;

class ChangeCounter : public classlib::TObject {
 public:
  int Count = 0;
  void Changed(classlib::TObject*) { ++Count; }
  classlib::TNotifyEvent Event() { return classlib::EventOf<&ChangeCounter::Changed>(this); }
};

std::string BinaryOf(classlib::TComponent* obj) {
  classlib::TMemoryStream m;
  SaveObjectToStream(obj, m);
  return std::string(reinterpret_cast<const char*>(m.Memory()), static_cast<size_t>(m.Size()));
}

TEST(Bitmap, SizesAndClear) {
  TsgBitmap b(3, 2);
  ChangeCounter counter;
  b.OnChange = counter.Event();
  ASSERT_NE(b.Bits(), nullptr);
  EXPECT_EQ(b.Bits()[5], 0u);
  b.Clear(0x80FF0000u);
  EXPECT_EQ(b.Bits()[0] >> 24, 0x80u);
  EXPECT_NEAR(int((b.Bits()[0] >> 16) & 0xFF), 128, 1);
  EXPECT_EQ(b.Bits()[0] & 0xFFFFu, 0u);
  EXPECT_EQ(counter.Count, 1);
  b.SetSize(3, 2);
  EXPECT_EQ(counter.Count, 1);
  EXPECT_EQ(b.Bits()[0] >> 24, 0x80u);
  // A negative side is taken as 0: an empty bitmap, no pixels.
  b.SetSize(-4, 5);
  EXPECT_EQ(b.Width(), 0);
  EXPECT_EQ(b.Height(), 5);
  EXPECT_TRUE(b.IsEmpty());
  EXPECT_EQ(b.Bits(), nullptr);
  EXPECT_EQ(counter.Count, 2);
  TsgBitmap negative(-1, -1);
  EXPECT_TRUE(negative.IsEmpty());
}

TEST(Bitmap, PixelOperations) {
  TsgBitmap b(4, 3);
  // Left and top truncated, right and bottom rounded, clipped.
  b.ClearRect(sgRect(1.7f, 0.9f, 2.6f, 9), 0xFF0000FFu);
  std::string rows;
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 4; ++x) rows += b.Bits()[y * 4 + x] ? '#' : '.';
    rows += '/';
  }
  EXPECT_EQ(rows, ".##./.##./.##./");
  b.ClearRect(sgRect(10, 10, 20, 20), 0xFFFFFFFFu);
  b.ClearRect(sgRect(3, 1, 1, 2), 0xFFFFFFFFu);
  EXPECT_EQ(b.Bits()[0], 0u);

  b.Bits()[0] = 0xFF000001u;
  b.FlipVertical();
  EXPECT_EQ(b.Bits()[8], 0xFF000001u);
  EXPECT_EQ(b.Bits()[0], 0u);
  b.InvertAlpha();
  EXPECT_EQ(b.Bits()[0] >> 24, 255u);
  EXPECT_EQ(b.Bits()[8] >> 24, 0u);

  TsgBitmap m(2, 2);
  m.Clear(0xFFFFFFFFu);
  m.Bits()[1] = 0;
  m.FillColorByAlpha(0xFF00FF00u);
  EXPECT_EQ(m.Bits()[0], 0xFF00FF00u);
  EXPECT_EQ(m.Bits()[1], 0u);
  std::vector<uint8_t> mask = {0, 255, 0, 0};
  // Shifted one to the right: the mask's pixel 1 lands on (2,0), outside.
  m.ApplyAlphaMask(mask, 1, 0);
  EXPECT_EQ(m.Bits()[0] >> 24, 255u);
  m.ApplyAlphaMask(mask, 0, 0);
  EXPECT_EQ(m.Bits()[1], 0u);
  m.ApplyAlphaMask({}, 0, 0);  // a short mask covers nothing
  EXPECT_EQ(m.CreateAlphaMask(), (std::vector<uint8_t>{255, 0, 255, 255}));
}

TEST(BitmapStream, FormatFollowsAlphaAndPropertyOnlyWithPixels) {
  TRecordingFilter::Install();
  classlib::RegisterClasses({TImageHolder::StaticClass()});
  auto* obj = classlib::New<TImageHolder>(nullptr);
  EXPECT_EQ(BinaryOf(obj).find("PNG"), std::string::npos);
  EXPECT_TRUE(TRecordingFilter::Calls().empty());

  obj->Bitmap()->SetSize(10, 10);
  obj->Bitmap()->Clear(0xFF336699u);
  EXPECT_NE(BinaryOf(obj).find("Bitmap.PNG"), std::string::npos);
  obj->Bitmap()->Bits()[37] = sgPremultiplyAlpha(0xFE336699u);
  const std::string bytes = BinaryOf(obj);
  EXPECT_EQ(TRecordingFilter::Calls(),
            (std::vector<std::string>{"save jpeg quality=100", "save png "}));

  // Read back: the pixels come through the filter.
  classlib::TMemoryStream in;
  in.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  in.SetPosition(0);
  auto* copy = dynamic_cast<TImageHolder*>(LoadObjectFromStream(nullptr, in));
  ASSERT_NE(copy, nullptr);
  ASSERT_EQ(copy->Bitmap()->Width(), 10);
  EXPECT_EQ(copy->Bitmap()->Bits()[37], obj->Bitmap()->Bits()[37]);
  EXPECT_EQ(copy->Bitmap()->Bits()[0], obj->Bitmap()->Bits()[0]);
  classlib::Free(copy);
  classlib::Free(obj);
  SetDefaultFilterClass(nullptr);
}

TEST(BitmapStream, LaterStartAndUndecodableData) {
  TRecordingFilter::Install();
  TsgBitmap source(2, 1);
  source.Clear(0xFF112233u);
  classlib::TMemoryStream m;
  m.WriteBuffer("xyz", 3);
  ASSERT_TRUE(source.SaveToStream(m));
  m.SetPosition(3);
  TsgBitmap b;
  ChangeCounter counter;
  b.OnChange = counter.Event();
  EXPECT_TRUE(b.LoadFromStream(m));
  EXPECT_EQ(b.Width(), 2);
  EXPECT_EQ(b.Bits()[1], source.Bits()[1]);
  const int fired = counter.Count;
  EXPECT_GE(fired, 1);

  classlib::TMemoryStream junk;
  junk.WriteBuffer("not an image", 12);
  junk.SetPosition(0);
  EXPECT_FALSE(b.LoadFromStream(junk));
  EXPECT_EQ(b.Width(), 2);
  EXPECT_EQ(b.Bits()[1], source.Bits()[1]);
  EXPECT_EQ(counter.Count, fired);
  SetDefaultFilterClass(nullptr);
}

TEST(BitmapStream, CreateFromStreamLoadsFromThePositionOrStaysEmpty) {
  TRecordingFilter::Install();
  TsgBitmap source(3, 2);
  source.Clear(0xFF445566u);
  source.Bits()[4] = 0x80102030u;
  classlib::TMemoryStream m;
  m.WriteBuffer("head", 4);
  ASSERT_TRUE(source.SaveToStream(m));
  m.SetPosition(4);
  TsgBitmap* made = TsgBitmap::CreateFromStream(m);
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(made->Width(), 3);
  EXPECT_EQ(made->Height(), 2);
  EXPECT_EQ(made->Bits()[4], 0x80102030u);
  EXPECT_EQ(made->Bits()[5], 0xFF445566u);
  classlib::Free(made);

  classlib::TMemoryStream junk;
  junk.WriteBuffer("not an image", 12);
  junk.SetPosition(0);
  TsgBitmap* empty = TsgBitmap::CreateFromStream(junk);
  ASSERT_NE(empty, nullptr);
  EXPECT_TRUE(empty->IsEmpty());
  EXPECT_EQ(empty->Width(), 0);
  classlib::Free(empty);
  SetDefaultFilterClass(nullptr);
}

TEST(BitmapFiles, MissingFileAsksNoFilter) {
  TRecordingFilter::Install();
  TsgBitmap b(2, 2);
  EXPECT_FALSE(b.LoadFromFile(u"/nonexistent/dir/none.png", 0));
  EXPECT_FALSE(b.LoadFromFile(u"", 0));
  EXPECT_FALSE(b.LoadFromFile(u".", 0));  // a directory is not a file
  EXPECT_TRUE(TRecordingFilter::Calls().empty());
  EXPECT_FALSE(b.SaveToFile(u"x.png", "quality=50"));
  EXPECT_EQ(TRecordingFilter::Calls(), (std::vector<std::string>{"save file quality=50"}));
  SetDefaultFilterClass(nullptr);
}

TEST(Bitmap, AssignCopiesPixelsAndFiresOnce) {
  TsgBitmap a(2, 2), b;
  a.Clear(0xFF0000FFu);
  b.SetResourceName("old");
  ChangeCounter counter;
  b.OnChange = counter.Event();
  b.Assign(&a);
  EXPECT_EQ(b.Width(), 2);
  EXPECT_EQ(b.Bits()[3], a.Bits()[3]);
  EXPECT_EQ(b.ResourceName(), "");
  EXPECT_TRUE(b.NeedUpdate);
  EXPECT_GE(counter.Count, 1);
}

// The default canvas class over bitmaps, as a back end sets it; the rows
// it is asked for are recorded.
struct BitmapCanvasClass {
  static inline std::vector<int> Asked;
  BitmapCanvasClass() {
    Asked.clear();
    SetDefaultCanvasBitmapClass(
        {[](TsgBitmap* b) -> TsgCanvas* { return classlib::New<test::TRecordingCanvas>(b); },
         [](TsgBitmap* b, int row) {
           Asked.push_back(row);
           return b->Bits() + size_t(row) * size_t(b->Width());
         }});
  }
  ~BitmapCanvasClass() { SetDefaultCanvasBitmapClass({}); }
};

TEST(BitmapCanvas, MadeOnFirstUseAndFreedWithThePixels) {
  TsgBitmap bitmap(6, 3);
  EXPECT_EQ(bitmap.GetCanvas(), nullptr);  // no canvas class yet
  BitmapCanvasClass cls;
  TsgCanvas* canvas = bitmap.GetCanvas();
  ASSERT_NE(canvas, nullptr);
  EXPECT_EQ(canvas->Bitmap(), &bitmap);
  EXPECT_EQ(canvas->Width(), 6);
  EXPECT_EQ(canvas->Height(), 3);
  EXPECT_EQ(static_cast<test::TRecordingCanvas*>(canvas)->Calls,
            (std::vector<std::string>{"SetMatrix 0,0"}));
  EXPECT_EQ(bitmap.GetCanvas(), canvas);
  // New pixels, new canvas of the new size (the sanitizer sees the old
  // one freed, and this one freed with the bitmap).
  bitmap.SetSize(2, 9);
  ASSERT_NE(bitmap.GetCanvas(), nullptr);
  EXPECT_EQ(bitmap.GetCanvas()->Width(), 2);
  EXPECT_EQ(bitmap.GetCanvas()->Height(), 9);
  // Assigning pixels of the same size keeps it.
  TsgBitmap other(2, 9);
  canvas = bitmap.GetCanvas();
  bitmap.Assign(&other);
  EXPECT_EQ(bitmap.GetCanvas(), canvas);
}

TEST(BitmapCanvas, ScanlinesThroughTheCanvasClass) {
  TsgBitmap bitmap(4, 3);
  EXPECT_EQ(bitmap.GetScanline(1), nullptr);  // no class entry
  BitmapCanvasClass cls;
  EXPECT_EQ(bitmap.GetScanline(0), bitmap.Bits());
  EXPECT_EQ(bitmap.GetScanline(2), bitmap.Bits() + 8);
  // Rows outside the bitmap never reach the class.
  EXPECT_EQ(bitmap.GetScanline(-1), nullptr);
  EXPECT_EQ(bitmap.GetScanline(3), nullptr);
  TsgBitmap empty;
  EXPECT_EQ(empty.GetScanline(0), nullptr);
  EXPECT_EQ(BitmapCanvasClass::Asked, (std::vector<int>{0, 2}));
}

// A platform image the scene knows nothing of; the copier below plays the
// platform part.
class TForeignImage : public classlib::TPersistent {
 public:
  int W = 0, H = 0;
  std::vector<uint32_t> Pixels;
};

bool CopyForeign(classlib::TPersistent* dest, classlib::TPersistent* source) {
  if (auto* from = dynamic_cast<TForeignImage*>(source)) {
    auto* to = dynamic_cast<TsgBitmap*>(dest);
    if (!to) return false;
    to->SetSize(from->W, from->H);
    std::copy(from->Pixels.begin(), from->Pixels.end(), to->Bits());
    return true;
  }
  auto* to = dynamic_cast<TForeignImage*>(dest);
  auto* bmp = dynamic_cast<TsgBitmap*>(source);
  if (!to || !bmp) return false;
  to->W = bmp->Width();
  to->H = bmp->Height();
  to->Pixels.assign(bmp->Bits(), bmp->Bits() + size_t(to->W) * size_t(to->H));
  return true;
}

bool RefuseAll(classlib::TPersistent*, classlib::TPersistent*) { return false; }

TEST(BitmapBridges, PlatformImagesGoThroughRegisteredCopiers) {
  TForeignImage foreign;
  foreign.W = 2;
  foreign.H = 1;
  foreign.Pixels = {0xFF102030u, 0x80404040u};
  TsgBitmap bitmap;
  EXPECT_THROW(bitmap.Assign(&foreign), classlib::EConvertError);
  EXPECT_THROW(foreign.Assign(&bitmap), classlib::EConvertError);
  // A copier that takes nothing leaves the inherited answer; the next one
  // is asked.
  RegisterAssignBridge(&RefuseAll);
  RegisterAssignBridge(&CopyForeign);
  bitmap.Assign(&foreign);
  ASSERT_EQ(bitmap.Width(), 2);
  EXPECT_EQ(bitmap.Bits()[1], 0x80404040u);
  TForeignImage back;
  back.Assign(&bitmap);  // the platform's Assign asks the bitmap's AssignTo
  EXPECT_EQ(back.Pixels, foreign.Pixels);
  UnregisterAssignBridge(&CopyForeign);
  UnregisterAssignBridge(&RefuseAll);
  EXPECT_THROW(bitmap.Assign(&foreign), classlib::EConvertError);
}

std::vector<void*> g_released;
void RecordRelease(void* handle) { g_released.push_back(handle); }

// The back end's image handle goes through the release function it was
// given, whatever happened to the canvas that made it, and exactly once.
TEST(Bitmap, NativeHandleReleasedOnReallocReplaceAndDestroy) {
  int a = 0, b = 0, c = 0;
  g_released.clear();
  auto* bmp = classlib::New<TsgBitmap>(2, 2);
  bmp->SetNativeHandle(&a, &RecordRelease);
  bmp->SetNativeHandle(&a, &RecordRelease);  // the same handle again: kept
  EXPECT_TRUE(g_released.empty());
  bmp->SetSize(3, 3);
  EXPECT_EQ(g_released, std::vector<void*>{&a});
  EXPECT_EQ(bmp->NativeHandle(), nullptr);
  bmp->SetNativeHandle(&b, &RecordRelease);
  bmp->SetNativeHandle(&c, &RecordRelease);
  EXPECT_EQ(g_released, (std::vector<void*>{&a, &b}));
  classlib::Free(bmp);
  EXPECT_EQ(g_released, (std::vector<void*>{&a, &b, &c}));
}

TEST(Bitmap, ABlockThatCannotBeHadLeavesTheBitmapOrEmptiesIt) {
  // More pixels than the address space holds: refused before any allocation.
  constexpr int huge = 0x7FFFFFFF;
  int handle = 0;
  g_released.clear();
  TsgBitmap b(3, 2);
  b.Clear(0xFF102030u);
  b.SetNativeHandle(&handle, &RecordRelease);
  ChangeCounter counter;
  b.OnChange = counter.Event();

  EXPECT_FALSE(b.TrySetSize(huge, huge));
  EXPECT_EQ(b.Width(), 3);
  EXPECT_EQ(b.Height(), 2);
  EXPECT_EQ(b.Bits()[5], 0xFF102030u);
  EXPECT_EQ(b.NativeHandle(), &handle);
  EXPECT_EQ(counter.Count, 0);

  EXPECT_TRUE(b.TrySetSize(5, 4));
  EXPECT_EQ(b.Width(), 5);
  EXPECT_EQ(b.Bits()[19], 0u);
  EXPECT_EQ(g_released, std::vector<void*>{&handle});
  EXPECT_EQ(counter.Count, 1);

  // SetSize has nothing to fall back on: it raises and leaves no pixels
  // behind a size that claims them.
  EXPECT_THROW(b.SetSize(huge, huge), std::bad_alloc);
  EXPECT_EQ(b.Width(), 0);
  EXPECT_EQ(b.Height(), 0);
  EXPECT_TRUE(b.IsEmpty());
}

}  // namespace
}  // namespace kelm::scene

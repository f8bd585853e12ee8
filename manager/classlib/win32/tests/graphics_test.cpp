// Canvas, bitmaps, icons, pictures and image lists, checked pixel by pixel
// at points the drawing calls fix.
#include <gtest/gtest.h>

#include <cstring>

#include "classlib/graphics.h"
#include "classlib/imglist.h"
#include "test_support.h"

namespace kelm::test {
namespace {

uint32_t RowPixel(TBitmap& b, int x, int y) {
  return static_cast<const uint32_t*>(b.ScanLine(y))[x] & 0xFFFFFF;
}

TEST(Canvas, ShapesOnABitmapReadBackExactPixels) {
  TBitmap b;
  b.SetSize(20, 10);
  TCanvas* c = b.Canvas();
  c->Brush()->SetColor(clRed);
  c->FillRect(Rect(0, 0, 20, 10));
  c->Pen()->SetColor(clBlue);
  c->Brush()->SetColor(clLime);
  c->Rectangle(2, 2, 9, 8);
  struct Case {
    int x, y;
    TColor expected;
  } cases[] = {
      {0, 0, clRed}, {2, 2, clBlue}, {8, 7, clBlue}, {5, 5, clLime},  // outline and inside
      {9, 8, clRed}, {19, 9, clRed}, {1, 5, clRed},  // right and bottom edges are exclusive
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << k.x << "," << k.y);
    EXPECT_EQ(c->Pixel(k.x, k.y), k.expected);
    // ScanLine sees the same pixels: BGR in memory.
    EXPECT_EQ(RowPixel(b, k.x, k.y),
              ((k.expected & 0xFF) << 16) | (k.expected & 0xFF00) | ((k.expected >> 16) & 0xFF));
  }
}

TEST(Canvas, ChangingTheBrushBetweenFillsTakesTheNewColour) {
  // The brush object is re-selected after a change, never left stale.
  TBitmap b;
  b.SetSize(4, 1);
  b.Canvas()->Brush()->SetColor(clYellow);
  b.Canvas()->FillRect(Rect(0, 0, 2, 1));
  b.Canvas()->Brush()->SetColor(clNavy);
  b.Canvas()->FillRect(Rect(2, 0, 4, 1));
  EXPECT_EQ(b.Canvas()->Pixel(1, 0), clYellow);
  EXPECT_EQ(b.Canvas()->Pixel(2, 0), clNavy);
}

TEST(Canvas, TextIsDrawnInTheFontColourInsideItsExtent) {
  TBitmap b;
  b.SetSize(100, 30);
  TCanvas* c = b.Canvas();
  c->Brush()->SetColor(clWhite);
  c->FillRect(Rect(0, 0, 100, 30));
  c->Font()->SetColor(clBlack);
  c->Font()->SetHeight(-20);
  c->Brush()->SetStyle(TBrushStyle::bsClear);
  c->TextOut(2, 2, u"HHHH");
  SIZE ext = c->TextExtent(u"HHHH");
  ASSERT_GT(ext.cx, 10);
  ASSERT_GT(ext.cy, 10);
  int dark = 0;
  for (int y = 2; y < 2 + ext.cy; ++y)
    for (int x = 2; x < 2 + ext.cx; ++x) dark += c->Pixel(x, y) == clBlack;
  EXPECT_GT(dark, 10);
  for (int y = 0; y < 30; ++y) EXPECT_EQ(c->Pixel(99, y), clWhite) << "outside the text";
}

TEST(Bitmap, RowsAreBottomUpInMemory) {
  TBitmap b;
  b.SetSize(3, 4);
  auto* top = static_cast<uint8_t*>(b.ScanLine(0));
  auto* next = static_cast<uint8_t*>(b.ScanLine(1));
  EXPECT_EQ(top - next, 12);  // 3 pixels of 4 bytes, row 0 last in memory
  EXPECT_THROW(b.ScanLine(4), EInvalidGraphicOperation);
}

TEST(Bitmap, ResizeKeepsTheOverlapAndZeroHeightFreesThePixels) {
  TBitmap b;
  b.SetSize(4, 4);
  b.Canvas()->Brush()->SetColor(clRed);
  b.Canvas()->FillRect(Rect(0, 0, 4, 4));
  b.SetSize(6, 2);
  EXPECT_EQ(b.Canvas()->Pixel(3, 1), clRed);
  EXPECT_EQ(b.Canvas()->Pixel(5, 1), clBlack);  // new area starts zero
  b.SetHeight(0);
  EXPECT_TRUE(b.Empty());
  EXPECT_EQ(b.Handle(), nullptr);
  b.SetHeight(2);
  EXPECT_FALSE(b.Empty());
  EXPECT_EQ(b.Canvas()->Pixel(0, 0), clBlack);
}

TEST(Bitmap, TwentyFourBitRowsArePaddedAndKeepThePixels) {
  TBitmap b;
  b.SetSize(3, 2);
  b.Canvas()->SetPixel(2, 1, clAqua);
  b.SetPixelFormat(TPixelFormat::pf24bit);
  EXPECT_EQ(b.PixelFormat(), TPixelFormat::pf24bit);
  EXPECT_EQ(static_cast<uint8_t*>(b.ScanLine(0)) - static_cast<uint8_t*>(b.ScanLine(1)),
            12);  // 9 bytes padded
  EXPECT_EQ(b.Canvas()->Pixel(2, 1), clAqua);
  auto* row = static_cast<uint8_t*>(b.ScanLine(1));
  EXPECT_EQ(row[6], 0xFF);  // blue
  EXPECT_EQ(row[8], 0x00);  // red
}

TEST(Bitmap, StreamRoundTripKeepsSizeAndPixels) {
  TBitmap a;
  a.SetSize(5, 3);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x) a.Canvas()->SetPixel(x, y, RGB(x * 40, y * 80, 7));
  TMemoryStream s;
  a.SaveToStream(s);
  s.SetPosition(0);
  TBitmap b;
  b.LoadFromStream(s);
  ASSERT_EQ(b.Width(), 5);
  ASSERT_EQ(b.Height(), 3);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 5; ++x)
      EXPECT_EQ(b.Canvas()->Pixel(x, y), static_cast<TColor>(RGB(x * 40, y * 80, 7)));
}

TEST(Bitmap, MalformedStreamsAreRefused) {
  const char* cases[] = {"", "BM", "XX0123456789012345678901234567890123456789012345678901234567"};
  for (const char* data : cases) {
    TMemoryStream s;
    s.WriteBuffer(data, static_cast<int64_t>(std::strlen(data)));
    s.SetPosition(0);
    TBitmap b;
    EXPECT_THROW(b.LoadFromStream(s), EInvalidGraphic) << data;
  }
  // A header whose pixels run past the end.
  TBitmap a;
  a.SetSize(8, 8);
  TMemoryStream full;
  a.SaveToStream(full);
  TMemoryStream cut;
  cut.WriteBuffer(full.Memory(), full.Size() - 10);
  cut.SetPosition(0);
  TBitmap b;
  EXPECT_THROW(b.LoadFromStream(cut), EInvalidGraphic);
}

TEST(Bitmap, TransparentDrawLeavesTheKeyColourOut) {
  TBitmap src;
  src.SetSize(4, 4);
  src.Canvas()->Brush()->SetColor(clLime);
  src.Canvas()->FillRect(Rect(0, 0, 4, 4));
  src.Canvas()->Brush()->SetColor(clRed);
  src.Canvas()->FillRect(Rect(1, 1, 3, 3));
  src.SetTransparent(true);
  EXPECT_EQ(src.TransparentColor(), clLime);  // the bottom-left pixel
  TBitmap dst;
  dst.SetSize(6, 6);
  dst.Canvas()->Brush()->SetColor(clWhite);
  dst.Canvas()->FillRect(Rect(0, 0, 6, 6));
  dst.Canvas()->Draw(1, 1, &src);
  EXPECT_EQ(dst.Canvas()->Pixel(1, 1), clWhite);
  EXPECT_EQ(dst.Canvas()->Pixel(2, 2), clRed);
  EXPECT_EQ(dst.Canvas()->Pixel(4, 4), clWhite);
}

TEST(Colors, ConversionAndNames) {
  EXPECT_EQ(ColorToRGB(clRed), 0x0000FFu);
  EXPECT_EQ(ColorToRGB(clBtnFace), GetSysColor(COLOR_BTNFACE));
  EXPECT_EQ(ColorToRGB(clNone), 0u);
  int64_t v = 0;
  ASSERT_TRUE(IdentToColor("CLLIME", v));
  EXPECT_EQ(v, clLime);
  std::string name;
  ASSERT_TRUE(ColorToIdent(clBtnShadow, name));
  EXPECT_EQ(name, "clBtnShadow");
  EXPECT_FALSE(ColorToIdent(0x123456, name));
}

TEST(Font, SizeAndHeightFollowEachOtherAtNinetySixDpi) {
  TFont f;
  int changes = 0;
  struct Counter : TObject {
    int* n;
    void Changed(TObject*) { ++*n; }
  } counter;
  counter.n = &changes;
  f.OnChange = EventOf<&Counter::Changed>(&counter);
  f.SetSize(12);
  EXPECT_EQ(f.Height(), -16);
  f.SetSize(12);
  EXPECT_EQ(changes, 1);  // no change, no notice
  f.SetStyle({fsBold});
  LOGFONTW lf{};
  GetObjectW(f.Handle(), sizeof lf, &lf);
  EXPECT_EQ(lf.lfWeight, FW_BOLD);
  EXPECT_EQ(lf.lfHeight, -16);
}

TEST(Picture, FormatsAreFoundByExtension) {
  EXPECT_EQ(TPicture::FindFormat("BMP"), TBitmap::StaticClass());
  EXPECT_EQ(TPicture::FindFormat(".ico"), TIcon::StaticClass());
  TPicture::RegisterFileFormat("xyz", u"Test pictures", TBitmap::StaticClass());
  EXPECT_EQ(TPicture::FindFormat("xyz"), TBitmap::StaticClass());
  EXPECT_NE(TPicture::GraphicFilter(nullptr).find(u"Test pictures (*.xyz)|*.xyz"),
            std::u16string::npos);

  // A .xyz file loads as the registered class.
  TBitmap a;
  a.SetSize(2, 2);
  a.Canvas()->SetPixel(1, 0, clRed);
  wchar_t dir[MAX_PATH];
  GetTempPathW(MAX_PATH, dir);
  std::u16string file = FromWStr(dir) + u"picture.xyz";
  a.SaveToFile(file);
  TPicture p;
  p.LoadFromFile(file);
  ASSERT_NE(dynamic_cast<TBitmap*>(p.Graphic()), nullptr);
  EXPECT_EQ(p.Bitmap()->Canvas()->Pixel(1, 0), clRed);
  DeleteFileW(WStr(file));

  TPicture::UnregisterGraphicClass(TBitmap::StaticClass());
  EXPECT_EQ(TPicture::FindFormat("xyz"), nullptr);
  EXPECT_THROW(p.LoadFromFile(u"C:\\nothing.xyz"), EInvalidGraphic);
  TPicture::RegisterFileFormat("bmp", u"Bitmaps", TBitmap::StaticClass());
}

class ImageListTest : public ::testing::Test {
 protected:
  ImageListTest() : list(New<TImageList>(nullptr)) {
    list->SetWidth(4);
    list->SetHeight(4);
  }
  ~ImageListTest() override { Free(list); }
  static void Fill(TBitmap& b, TColor back, TColor centre) {
    b.SetSize(4, 4);
    b.Canvas()->Brush()->SetColor(back);
    b.Canvas()->FillRect(Rect(0, 0, 4, 4));
    b.Canvas()->Brush()->SetColor(centre);
    b.Canvas()->FillRect(Rect(1, 1, 3, 3));
  }
  TImageList* list;
};

TEST_F(ImageListTest, MaskColourBecomesTransparentAndDrawsNothing) {
  TBitmap b;
  Fill(b, clLime, clRed);
  EXPECT_EQ(list->AddMasked(&b, clLime), 0);
  EXPECT_EQ(list->PixelOf(0, 0, 0) >> 24, 0u);
  EXPECT_EQ(list->PixelOf(0, 1, 1), 0xFFFF0000u);
  TBitmap dst;
  dst.SetSize(4, 4);
  dst.Canvas()->Brush()->SetColor(clWhite);
  dst.Canvas()->FillRect(Rect(0, 0, 4, 4));
  list->Draw(dst.Canvas(), 0, 0, 0);
  EXPECT_EQ(dst.Canvas()->Pixel(0, 0), clWhite);
  EXPECT_EQ(dst.Canvas()->Pixel(2, 2), clRed);
  // Disabled: grey of the same brightness.
  list->Draw(dst.Canvas(), 0, 0, 0, false);
  COLORREF grey = static_cast<COLORREF>(dst.Canvas()->Pixel(2, 2));
  EXPECT_EQ(GetRValue(grey), GetGValue(grey));
  EXPECT_EQ(GetGValue(grey), GetBValue(grey));
  EXPECT_EQ(GetRValue(grey), 255 * 30 / 100);
}

TEST_F(ImageListTest, ChangeLinksHearChangesUntilUnregistered) {
  int heard = 0;
  struct Listener : TObject {
    int* n;
    void Changed(TObject*) { ++*n; }
  } listener;
  listener.n = &heard;
  TChangeLink* link = New<TChangeLink>();
  link->OnChange = EventOf<&Listener::Changed>(&listener);
  list->RegisterChanges(link);
  TBitmap b;
  Fill(b, clBlue, clBlue);
  list->Add(&b, nullptr);
  EXPECT_EQ(heard, 1);
  list->UnRegisterChanges(link);
  list->Add(&b, nullptr);
  EXPECT_EQ(heard, 1);
  // A freed link leaves the list on its own.
  list->RegisterChanges(link);
  Free(link);
  list->Delete(0);
  EXPECT_EQ(heard, 1);
}

TEST_F(ImageListTest, ImagesStreamWithTheComponentAndGiveIcons) {
  TBitmap b;
  Fill(b, clLime, clRed);
  list->AddMasked(&b, clLime);
  Fill(b, clBlue, clYellow);
  list->Add(&b, nullptr);
  TMemoryStream s;
  {
    TWriter w(s);
    w.WriteRootComponent(list);
  }
  s.SetPosition(0);
  TImageList* copy = New<TImageList>(nullptr);
  TReader r(s);
  r.ReadRootComponent(copy);
  ASSERT_EQ(copy->Count(), 2);
  EXPECT_EQ(copy->Width(), 4);
  for (int i = 0; i < 2; ++i)
    for (int y = 0; y < 4; ++y)
      for (int x = 0; x < 4; ++x)
        EXPECT_EQ(copy->PixelOf(i, x, y), list->PixelOf(i, x, y)) << i << " " << x << "," << y;
  TIcon icon;
  ASSERT_TRUE(copy->GetIcon(1, &icon));
  EXPECT_EQ(icon.Width(), 4);
  EXPECT_FALSE(copy->GetIcon(2, &icon));
  EXPECT_NE(copy->Handle(), nullptr);
  EXPECT_EQ(ImageList_GetImageCount(copy->Handle()), 2);
  Free(copy);
}

}  // namespace
}  // namespace kelm::test

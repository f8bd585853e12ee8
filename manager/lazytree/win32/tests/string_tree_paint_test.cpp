// The string tree's text painting, seen through OnDrawText and the drawing
// step: shortening with an ellipsis in the cell's font, the alignment a
// shortened text keeps, the colours of selected, disabled and hot nodes.
#include <gtest/gtest.h>
#include <windows.h>
// Needs the types of windows.h first.
#include <mmsystem.h>

#include <string>
#include <utility>
#include <vector>

#include "classlib/forms.h"
#include "lazytree/lazy_string_tree.h"

namespace kelm::lazytree {
namespace {

using classlib::EventOf;
using classlib::New;
using classlib::TForm;

// Records what reaches the drawing step, then draws as usual.
class TRecordingTree : public TLazyStringTree {
 public:
  using TLazyStringTree::TLazyStringTree;
  struct TDrawn {
    std::u16string text;
    TRect rect;
    UINT format;
    TColor color;
    bool underlined;
  };
  std::vector<TDrawn> drawn;
  void SetHot(PLazyNode node) { hotNode_ = node; }
  using TLazyStringTree::DoPaintNode;

 protected:
  void DoTextDrawing(const TLTPaintInfo& paintInfo, const std::u16string& text, TRect cellRect,
                     UINT drawFormat) override {
    drawn.push_back({text, cellRect, drawFormat, paintInfo.Canvas->Font()->Color(),
                     paintInfo.Canvas->Font()->Style().Contains(classlib::fsUnderline)});
    TLazyStringTree::DoTextDrawing(paintInfo, text, cellRect, drawFormat);
  }
};

class THandlers : public TObject {
 public:
  std::u16string text = u"Snapshot before the update";
  bool bold = false;
  bool shortenHandled = false;
  std::vector<std::u16string> drawTexts;
  void GetText(TBaseLazyTree*, PLazyNode, TColumnIndex, TLTTextType type, std::u16string& s) {
    s = type == ttNormal ? text : u"";
  }
  void PaintText(TBaseLazyTree*, TCanvas* canvas, PLazyNode, TColumnIndex, TLTTextType) {
    if (bold) canvas->Font()->SetStyle(classlib::TFontStyles{classlib::fsBold});
  }
  void Shorten(TBaseLazyTree*, TCanvas*, PLazyNode, TColumnIndex, const std::u16string&, int,
               std::u16string& result, bool& done) {
    if (!shortenHandled) return;
    result = u"mine";
    done = true;
  }
  void DrawText(TBaseLazyTree*, TCanvas*, PLazyNode, TColumnIndex, const std::u16string& s, TRect,
                bool&) {
    drawTexts.push_back(s);
  }
};

class TextPainting : public ::testing::Test {
 protected:
  void SetUp() override {
    form = New<TForm>(nullptr, 0);
    tree = New<TRecordingTree>(form);
    tree->SetParent(form);
    tree->SetBounds(0, 0, 400, 200);
    tree->OnGetText = EventOf<&THandlers::GetText>(&handlers);
    tree->OnPaintText = EventOf<&THandlers::PaintText>(&handlers);
    tree->OnShortenString = EventOf<&THandlers::Shorten>(&handlers);
    tree->OnDrawText = EventOf<&THandlers::DrawText>(&handlers);
    for (int width : {100, 200}) tree->HeaderObject()->Columns()->Add()->SetWidth(width);
    form->Show();
    node = tree->AddChild(nullptr);
    // A 32-bit bitmap to paint into, as the row painting has.
    bitmap = New<classlib::TBitmap>();
    bitmap->SetPixelFormat(classlib::TPixelFormat::pf32bit);
    bitmap->SetSize(400, 20);
  }
  void TearDown() override {
    classlib::Free(bitmap);
    classlib::Free(form);
  }
  // Paints column 1 of the node into a content rectangle of the given width.
  // The node's width is measured first unless given.
  TRecordingTree::TDrawn Paint(int width, TAlignment alignment, uint32_t options = 0,
                               TColumnIndex column = 1, int nodeWidth = -1) {
    tree->drawn.clear();
    TLTPaintInfo info;
    info.Canvas = bitmap->Canvas();
    info.PaintOptions = options;
    info.Node = node;
    info.Column = column;
    info.ContentRect = TRect{0, 0, width, 20};
    info.CellRect = info.ContentRect;
    info.Alignment = alignment;
    info.NodeWidth = nodeWidth >= 0 ? nodeWidth : tree->GetNodeWidth(node, column, info.Canvas);
    tree->DoPaintNode(info);
    EXPECT_EQ(tree->drawn.size(), 1u);
    return tree->drawn.empty() ? TRecordingTree::TDrawn{} : tree->drawn.back();
  }
  // Width of a text in the tree's font, bold or not.
  int Extent(const std::u16string& s, bool bold = false) {
    TCanvas* canvas = bitmap->Canvas();
    canvas->Font()->Assign(tree->Font());
    if (bold) canvas->Font()->SetStyle(classlib::TFontStyles{classlib::fsBold});
    return canvas->TextExtent(s).cx;
  }
  // The longest prefix that fits room with "..." in the font.
  std::u16string Expected(int room, bool bold = false) {
    const std::u16string& t = handlers.text;
    size_t length = 0;
    while (length + 1 < t.size() &&
           Extent(t.substr(0, length + 1), bold) + Extent(u"...", bold) <= room)
      ++length;
    return t.substr(0, length) + u"...";
  }

  THandlers handlers;
  TForm* form = nullptr;
  TRecordingTree* tree = nullptr;
  PLazyNode node = nullptr;
  classlib::TBitmap* bitmap = nullptr;
};

TEST_F(TextPainting, ShortenedTextsAndTheAlignmentTheyKeep) {
  const int margin = tree->TextMargin;
  const int room = 100 - 2 * margin;
  ASSERT_GT(Extent(handlers.text), room) << "the text must not fit";
  struct TCase {
    const char* name;
    int width;
    TAlignment alignment;
    bool shortened;
    UINT horizontal;  // DT_LEFT, DT_RIGHT or DT_CENTER
  } cases[] = {
      {"fits, right-aligned", 400, TAlignment::taRightJustify, false, DT_RIGHT},
      {"fits, centred", 400, TAlignment::taCenter, false, DT_CENTER},
      {"narrow, left", 100, TAlignment::taLeftJustify, true, DT_LEFT},
      {"narrow, right-aligned keeps DT_RIGHT", 100, TAlignment::taRightJustify, true, DT_RIGHT},
      {"narrow, centred is drawn from the left", 100, TAlignment::taCenter, true, DT_LEFT},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    const TRecordingTree::TDrawn d = Paint(c.width, c.alignment);
    EXPECT_EQ(d.text, c.shortened ? Expected(c.width - 2 * margin) : handlers.text);
    EXPECT_EQ(d.format & (DT_RIGHT | DT_CENTER), c.horizontal);
    EXPECT_EQ(d.format & (DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX),
              UINT{DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX});
    EXPECT_EQ(d.rect.left, margin);
    EXPECT_EQ(d.rect.right, c.width - margin);
  }
  EXPECT_EQ(handlers.drawTexts.size(), 5u) << "each text passes OnDrawText";
  // Narrower than "...": nothing is drawn.
  EXPECT_EQ(Paint(Extent(u"...") - 1 + 2 * margin, TAlignment::taLeftJustify).text, u"");
  // Without columns the text is never shortened.
  EXPECT_EQ(Paint(60, TAlignment::taRightJustify, 0, NoColumn).text, handlers.text);
  // The owner may shorten it itself.
  handlers.shortenHandled = true;
  EXPECT_EQ(Paint(100, TAlignment::taLeftJustify).text, u"mine");
}

TEST_F(TextPainting, ABoldFontFromOnPaintTextShortensByTheBoldMeasure) {
  const int margin = tree->TextMargin;
  handlers.bold = true;
  const int room = 150 - 2 * margin;
  ASSERT_NE(Expected(room, true), Expected(room, false)) << "a text where bold makes a difference";
  const TRecordingTree::TDrawn d = Paint(150, TAlignment::taLeftJustify);
  EXPECT_EQ(d.text, Expected(room, true));
  EXPECT_LE(Extent(d.text, true), room);
  // Measured in the tree's font (the handler turns bold only when painting),
  // the text fits; painted bold it does not, and is shortened by the bold
  // measure.
  handlers.bold = false;
  const int plainWidth = tree->GetNodeWidth(node, 1, bitmap->Canvas());
  const int fitsPlain = Extent(handlers.text) + 1;
  ASSERT_GT(Extent(handlers.text, true), fitsPlain);
  handlers.bold = true;
  const TRecordingTree::TDrawn tight =
      Paint(fitsPlain + 2 * margin, TAlignment::taLeftJustify, 0, 1, plainWidth);
  EXPECT_TRUE(tree->FontChanged);
  EXPECT_EQ(tight.text, Expected(fitsPlain, true));
  handlers.bold = false;
  EXPECT_EQ(Paint(fitsPlain + 2 * margin, TAlignment::taLeftJustify, 0, 1, plainWidth).text,
            handlers.text);
  EXPECT_FALSE(tree->FontChanged);
}

TEST_F(TextPainting, ColoursOfSelectedDisabledAndHotNodes) {
  TCustomLazyTreeOptions* o = tree->TreeOptions();
  o->SetPaintOptions(o->PaintOptions() + TLTPaintOptions{toPopupMode, toHotTrack});
  o->SetSelectionOptions(o->SelectionOptions() + TLTSelectionOptions{toFullRowSelect});
  tree->Colors()->SetColor(8, 0x00123456);  // HotColor
  tree->Colors()->SetColor(0, 0x00654321);  // DisabledColor
  const TColor plain = tree->Font()->Color();
  EXPECT_EQ(Paint(400, TAlignment::taLeftJustify, PaintSelection).color, plain);
  tree->SelectRange(node, node, false);
  ASSERT_TRUE(node->Has(nsSelected));
  EXPECT_EQ(Paint(400, TAlignment::taLeftJustify, PaintSelection).color, classlib::clHighlightText);
  EXPECT_EQ(Paint(400, TAlignment::taLeftJustify, 0).color, plain)
      << "only when the pass draws the selection";
  tree->ClearSelection();
  tree->SetHot(node);
  const TRecordingTree::TDrawn hot = Paint(400, TAlignment::taLeftJustify);
  EXPECT_EQ(hot.color, TColor{0x00123456});
  EXPECT_TRUE(hot.underlined);
  tree->SetHot(nullptr);
  node->Include(nsDisabled);
  EXPECT_EQ(Paint(400, TAlignment::taLeftJustify).color, TColor{0x00654321});
}

}  // namespace
}  // namespace kelm::lazytree

namespace kelm::lazytree {
namespace {

// The background painters into a 32-bit bitmap, read back pixel by pixel.
class BackgroundPainting : public TextPainting {
 protected:
  // A picture whose pixel (x, y) tells where it comes from.
  void UsePicture(int width, int height) {
    classlib::TBitmap* picture = tree->Background()->Bitmap();
    picture->SetPixelFormat(classlib::TPixelFormat::pf32bit);
    picture->SetSize(width, height);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) picture->Canvas()->SetPixel(x, y, Source(x, y));
  }
  static TColor Source(int x, int y) { return RGB(10 + x * 20, 10 + y * 30, 200); }
  TColor At(int x, int y) { return GetPixel(bitmap->Canvas()->Handle(), x, y); }
  static constexpr TColor kTreeColor = RGB(1, 2, 3);
};

TEST_F(BackgroundPainting, StaticPictureSitsAtTheOffsetsInTheView) {
  tree->SetColor(kTreeColor);
  UsePicture(10, 10);
  tree->SetBackgroundOffsetX(5);
  tree->SetBackgroundOffsetY(3);
  // The view scrolled 2 pixels right: the picture starts at x 3.
  tree->PaintStaticBackground(bitmap->Canvas(), TRect{0, 0, 40, 20}, TPoint{2, 0});
  EXPECT_EQ(At(3, 3), Source(0, 0));
  EXPECT_EQ(At(12, 12), Source(9, 9));
  EXPECT_EQ(At(2, 3), kTreeColor);
  EXPECT_EQ(At(13, 12), kTreeColor);
  EXPECT_EQ(At(3, 2), kTreeColor);
  EXPECT_EQ(At(3, 13), kTreeColor);
  // Transparent: the picture's transparent colour keeps the tree's.
  classlib::TBitmap* picture = tree->Background()->Bitmap();
  picture->SetTransparentColor(Source(1, 1));
  picture->SetTransparentMode(classlib::TTransparentMode::tmFixed);
  picture->SetTransparent(true);
  tree->PaintStaticBackground(bitmap->Canvas(), TRect{0, 0, 40, 20}, TPoint{2, 0});
  EXPECT_EQ(At(4, 4), kTreeColor) << "the transparent pixel";
  EXPECT_EQ(At(3, 3), Source(0, 0));
  EXPECT_EQ(At(5, 4), Source(2, 1));
}

TEST_F(BackgroundPainting, TilesLineUpAcrossSeparatelyPaintedRows) {
  UsePicture(4, 3);
  tree->SetBackgroundOffsetX(1);
  tree->SetBackgroundOffsetY(2);
  // Rows of 5 pixels, each painted on its own at its place in the view.
  for (int rowTop : {0, 5, 10, 15}) {
    SCOPED_TRACE(rowTop);
    tree->PaintTiledBackground(bitmap->Canvas(), TRect{0, 0, 23, 5}, TPoint{7, rowTop});
    for (int y = 0; y < 5; ++y) {
      for (int x = 0; x < 23; ++x) {
        ASSERT_EQ(At(x, y), Source((x + 7 + 1) % 4, (y + rowTop + 2) % 3)) << x << "," << y;
      }
    }
  }
}

TEST_F(BackgroundPainting, AnEmptyPictureCountsAsNone) {
  tree->SetColor(kTreeColor);
  tree->Background()->Bitmap()->SetSize(0, 0);
  tree->PaintTiledBackground(bitmap->Canvas(), TRect{0, 0, 10, 10}, TPoint{3, 3});
  tree->PaintStaticBackground(bitmap->Canvas(), TRect{10, 0, 20, 10}, TPoint{3, 3});
  EXPECT_EQ(At(5, 5), kTreeColor);
  EXPECT_EQ(At(15, 5), kTreeColor);
}

}  // namespace
}  // namespace kelm::lazytree

namespace kelm::lazytree {
namespace {

TEST_F(TextPainting, AnimationRunsInsideItsStateAndNeverNests) {
  std::vector<std::pair<uint32_t, uint32_t>> calls;
  int nested = 0;
  const DWORD start = timeGetTime();
  tree->RunAnimation(4, 40, [&](uint32_t done, uint32_t size) {
    EXPECT_TRUE(tree->States().Contains(tsInAnimation));
    calls.emplace_back(done, size);
    tree->RunAnimation(3, 10, [&](uint32_t, uint32_t) { return ++nested, true; });
    return true;
  });
  EXPECT_GE(timeGetTime() - start, 30u) << "the steps were spread over the duration";
  EXPECT_EQ(calls.front(), (std::pair<uint32_t, uint32_t>{0, 1}));
  EXPECT_EQ(calls.back(), (std::pair<uint32_t, uint32_t>{0, 0}));
  EXPECT_LE(calls.size(), 5u);
  EXPECT_EQ(nested, 0) << "no animation inside another";
  EXPECT_FALSE(tree->States().Contains(tsInAnimation));
  tree->RunAnimation(4, 0, [&](uint32_t, uint32_t) { return ++nested, true; });
  EXPECT_EQ(nested, 0) << "no duration, no animation";
  EXPECT_THROW(
      tree->RunAnimation(
          4, 40, [](uint32_t, uint32_t) -> bool { throw classlib::Exception(u"step failed"); }),
      classlib::Exception);
  EXPECT_FALSE(tree->States().Contains(tsInAnimation)) << "left on failure too";
}

}  // namespace
}  // namespace kelm::lazytree

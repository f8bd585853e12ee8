// Row painting seen in pixels: the tree printed into a 32-bit DIB through
// WM_PRINTCLIENT and painted for real through WM_PAINT. A string tree of
// five 20-pixel rows in three 80-pixel columns:
//   root0 (expanded) / child0 (one collapsed child) / child1 / root1 / root2
// Class names differ from other test files': the Windows builds may merge
// handler thunks of same-named classes in unnamed namespaces.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "classlib/forms.h"
#include "lazytree/lazy_string_tree.h"

namespace kelm::lazytree {
namespace {

using classlib::EventOf;
using classlib::New;
using classlib::TForm;

constexpr COLORREF kTree = RGB(250, 250, 240);
constexpr COLORREF kFont = RGB(0, 0, 0);
constexpr COLORREF kLines = RGB(0, 128, 0);
constexpr COLORREF kSelection = RGB(0, 0, 200);
constexpr COLORREF kColumn1 = RGB(200, 220, 0);
constexpr int kRow = 20;

class TRowTree : public TLazyStringTree {
 public:
  using TLazyStringTree::AddToSelection;
  using TLazyStringTree::TLazyStringTree;
};

class TRowTexts : public TObject {
 public:
  int beforePaint = 0;
  void GetText(TBaseLazyTree*, PLazyNode, TColumnIndex column, TLTTextType type,
               std::u16string& s) {
    s = type != ttNormal ? u"" : column == 0 ? u"Name" : column == 2 ? u"WWW" : u"";
  }
  void BeforePaint(TBaseLazyTree*, TCanvas*) { ++beforePaint; }
};

// The blend of one channel at factor 128.
COLORREF Blended(COLORREF color, COLORREF under) {
  auto channel = [](int c, int u) { return (c * 128 + (256 - 128) * u) >> 8; };
  return RGB(channel(GetRValue(color), GetRValue(under)),
             channel(GetGValue(color), GetGValue(under)),
             channel(GetBValue(color), GetBValue(under)));
}

class RowPainting : public ::testing::Test {
 protected:
  void SetUp() override {
    form = New<TForm>(nullptr, 0);
    form->SetBounds(0, 0, 400, 300);
    tree = New<TRowTree>(form);
    tree->SetParent(form);
    tree->SetBorderStyle(classlib::TBorderStyle::bsNone);
    tree->SetBounds(0, 0, 300, 200);
    tree->SetColor(kTree);
    tree->Font()->SetColor(kFont);
    tree->Colors()->SetColor(5, kLines);
    tree->Colors()->SetColor(3, kSelection);  // focused
    tree->Colors()->SetColor(6, kSelection);  // unfocused
    tree->SetDefaultNodeHeightValue(kRow);
    tree->OnGetText = EventOf<&TRowTexts::GetText>(&texts);
    tree->OnBeforePaint = EventOf<&TRowTexts::BeforePaint>(&texts);
    for (int i = 0; i < 3; ++i) tree->HeaderObject()->Columns()->Add()->SetWidth(80);
    tree->HeaderObject()->Columns()->Items(1)->SetColor(kColumn1);
    tree->TreeOptions()->SetPaintOptions(
        TLTPaintOptions{toShowTreeLines, toShowRoot, toShowButtons, toUseBlendedSelection});
    tree->TreeOptions()->SetSelectionOptions(TLTSelectionOptions{toFullRowSelect});
    root0 = tree->AddChild(nullptr);
    child0 = tree->AddChild(root0);
    tree->AddChild(child0);
    tree->AddChild(root0);
    tree->AddChild(nullptr);
    root2 = tree->AddChild(nullptr);
    tree->SetExpanded(root0, true);
    form->Show();
  }
  void TearDown() override { classlib::Free(form); }

  // The client area as WM_PRINTCLIENT paints it.
  void Print() {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = kWidth;
    info.bmiHeader.biHeight = -kHeight;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HDC dc = CreateCompatibleDC(nullptr);
    HBITMAP dib = CreateDIBSection(dc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(dc, dib);
    // Whatever the print leaves unpainted shows as this.
    RECT all{0, 0, kWidth, kHeight};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH)));
    SendMessageW(tree->Handle(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), PRF_CLIENT);
    GdiFlush();
    pixels.assign(static_cast<const uint32_t*>(bits),
                  static_cast<const uint32_t*>(bits) + kWidth * kHeight);
    SelectObject(dc, old);
    DeleteObject(dib);
    DeleteDC(dc);
  }
  COLORREF At(int x, int y) const {
    const uint32_t p = pixels[(static_cast<size_t>(y) * kWidth) + static_cast<size_t>(x)];
    return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
  }
  // Pixels of a colour in a rectangle.
  int Count(COLORREF color, TRect r) const {
    int n = 0;
    for (int y = r.top; y < r.bottom; ++y)
      for (int x = r.left; x < r.right; ++x) n += At(x, y) == color ? 1 : 0;
    return n;
  }

  static constexpr int kWidth = 300;
  static constexpr int kHeight = 200;
  TForm* form = nullptr;
  TRowTree* tree = nullptr;
  TRowTexts texts;
  PLazyNode root0 = nullptr;
  PLazyNode child0 = nullptr;
  PLazyNode root2 = nullptr;
  std::vector<uint32_t> pixels;
};

TEST_F(RowPainting, SelectedFullRowIsBlendedInEveryCellAndTheRestKeepsTheTreeColour) {
  tree->AddToSelection(root2);
  Print();
  const int y = 4 * kRow + 2;  // root2's row, above its text
  for (int cellRight : {80, 160, 240}) {
    SCOPED_TRACE(cellRight);
    EXPECT_EQ(At(cellRight - 3, y), Blended(kSelection, kTree));
    // Print-client paints no column colours inside rows.
    EXPECT_EQ(At(cellRight - 3, 3 * kRow + 2), kTree) << "an unselected row";
  }
  EXPECT_EQ(At(290, y), kTree) << "right of the last column";
}

TEST_F(RowPainting, BelowTheLastRowOnlyTheBackgroundIsPainted) {
  Print();
  // Five rows end at 100: below, each column's colour and the tree's right
  // of the columns; no text, line or button pixel.
  EXPECT_EQ(Count(kColumn1, TRect{80, 100, 160, kHeight}), 80 * 100);
  EXPECT_EQ(Count(kTree, TRect{0, 100, 80, kHeight}), 80 * 100);
  EXPECT_EQ(Count(kTree, TRect{160, 100, kWidth, kHeight}), 140 * 100);
}

TEST_F(RowPainting, CellTextsArePaintedInsideTheirCells) {
  Print();
  // Column 0 holds "Name" after the indentation, column 1 no text, column
  // 2 "WWW".
  const int levels = 1;
  EXPECT_GT(Count(kFont, TRect{4 + levels * 18, 0, 80, kRow}), 5);
  EXPECT_EQ(Count(kFont, TRect{80, 0, 160, kRow}), 0);
  EXPECT_GT(Count(kFont, TRect{160, 0, 240, kRow}), 5);
  EXPECT_EQ(Count(kFont, TRect{240, 0, kWidth, 5 * kRow}), 0);
  // A deeper row's text starts one indent further right (after its plus).
  EXPECT_EQ(Count(kFont, TRect{4 + 18 + 9, kRow, 4 + 2 * 18, 2 * kRow}), 0);
}

TEST_F(RowPainting, DottedLinesContinueAcrossRowsAndButtonsShowTheExpandedState) {
  Print();
  // Root level: the line at x 9 runs from root0's centre line (10) through
  // root1 to root2's, one pixel in two, the pattern unbroken at row edges.
  for (int y = 15; y < 4 * kRow; ++y) {
    SCOPED_TRACE(y);
    EXPECT_EQ(At(9, y), (9 + y) % 2 == 0 ? kLines : kTree);
  }
  EXPECT_EQ(At(9, 2), kTree) << "nothing above the first root's centre line";
  // root0 expanded: a minus at x 4 (button offset of an 18-pixel indent),
  // top 6 (centre line 10 less half the button).
  EXPECT_EQ(At(4, 6), kLines) << "the button's frame";
  EXPECT_EQ(At(8, 10), kFont) << "the minus";
  EXPECT_EQ(At(8, 8), kTree) << "no upright on a minus";
  // child0 collapsed one level deeper: a plus.
  EXPECT_EQ(At(4 + 18 + 4, kRow + 8), kFont) << "the plus's upright";
  EXPECT_EQ(At(4 + 18 + 4, kRow + 10), kFont);
  // root1 has no children: no button; its line turns right at the centre
  // line, the pattern still counted in the tree's coordinates.
  EXPECT_EQ(At(7, 3 * kRow + 10), kTree);
  EXPECT_EQ(At(12, 3 * kRow + 10), kLines);
  EXPECT_EQ(At(13, 3 * kRow + 10), kTree);
}

TEST_F(RowPainting, HiddenSelectionOptionsPaintSelectedRowsUnselected) {
  tree->AddToSelection(root2);
  auto* other = New<TRowTree>(form);
  other->SetParent(form);
  other->SetBounds(0, 210, 50, 50);
  other->SetFocus();
  ASSERT_FALSE(tree->Focused());
  struct TCase {
    TLTPaintOption option;
    COLORREF expected;
  };
  const TCase cases[] = {
      {toShowRoot, Blended(kSelection, kTree)},  // unfocused, not hidden
      {toHideSelection, kTree},
      {toAlwaysHideSelection, kTree},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.option));
    tree->TreeOptions()->SetPaintOptions(
        TLTPaintOptions{toShowTreeLines, toShowRoot, toShowButtons, toUseBlendedSelection} +
        TLTPaintOptions{c.option});
    Print();
    EXPECT_EQ(At(157, 4 * kRow + 2), c.expected);
  }
}

TEST_F(RowPainting, WindowPaintFillsColumnColoursAndAnEmptyUpdateFiresNothing) {
  tree->AddToSelection(root2);
  HWND wnd = tree->Handle();
  ValidateRect(wnd, nullptr);
  texts.beforePaint = 0;
  SendMessageW(wnd, WM_PAINT, 0, 0);
  EXPECT_EQ(texts.beforePaint, 0) << "nothing to paint";
  HDC dc = GetDC(wnd);
  EXPECT_EQ(SendMessageW(wnd, WM_ERASEBKGND, reinterpret_cast<WPARAM>(dc), 0), 1);
  InvalidateRect(wnd, nullptr, FALSE);
  UpdateWindow(wnd);
  EXPECT_EQ(texts.beforePaint, 1);
  // The window's paint pre-fills cells with their column's colour; a
  // selected full row is blended over the tree's colour instead.
  EXPECT_EQ(GetPixel(dc, 157, 3 * kRow + 2), kColumn1);
  EXPECT_EQ(GetPixel(dc, 157, 4 * kRow + 2), Blended(kSelection, kTree));
  EXPECT_EQ(GetPixel(dc, 77, 4 * kRow + 2), Blended(kSelection, kTree));
  EXPECT_EQ(GetPixel(dc, 157, 150), kColumn1);
  ReleaseDC(wnd, dc);
}

TEST_F(RowPainting, FocusRectangleSitsInTheFocusedColumnsCellOnly) {
  tree->AddToSelection(root2);
  tree->FocusNode(root2, false);
  tree->SetFocusedColumn(2);
  tree->SetFocus();
  if (!tree->Focused()) GTEST_SKIP() << "the tree could not take the focus";
  Print();
  const COLORREF fill = Blended(kSelection, kTree);
  // The focus rectangle frames column 2's text ("WWW", left aligned).
  int marked = 0;
  for (int y = 4 * kRow; y < 5 * kRow; ++y) marked += At(164, y) != fill ? 1 : 0;
  EXPECT_GT(marked, 5) << "the focus rectangle's left edge at the content's left";
  int elsewhere = 0;
  for (int y = 4 * kRow; y < 5 * kRow; ++y) elsewhere += At(84, y) != fill ? 1 : 0;
  EXPECT_EQ(elsewhere, 0) << "column 1's content edge stays plain";
}

TEST_F(RowPainting, SelectedOnlyPaintsJustTheSelectedRows) {
  tree->AddToSelection(root2);
  auto* bitmap = New<classlib::TBitmap>();
  bitmap->SetPixelFormat(classlib::TPixelFormat::pf32bit);
  bitmap->SetSize(kWidth, 5 * kRow);
  constexpr COLORREF kUntouched = RGB(1, 2, 3);
  bitmap->Canvas()->Brush()->SetColor(kUntouched);
  bitmap->Canvas()->FillRect(TRect{0, 0, kWidth, 5 * kRow});
  tree->PaintTree(bitmap->Canvas(), TRect{0, 0, kWidth, 5 * kRow}, TPoint{0, 0},
                  PaintSelection | PaintSelectedOnly);
  HDC dc = bitmap->Canvas()->Handle();
  for (int row = 0; row < 4; ++row) EXPECT_EQ(GetPixel(dc, 157, row * kRow + 2), kUntouched) << row;
  EXPECT_EQ(GetPixel(dc, 157, 4 * kRow + 2), Blended(kSelection, kTree));
  EXPECT_FALSE(tree->States().Contains(tsPainting));
  classlib::Free(bitmap);
}

}  // namespace
}  // namespace kelm::lazytree

// The tree's view geometry on a shown window, driven by real messages: the
// scroll bars against the ranges, the scroll-bar messages, the frame and the
// header band, bringing nodes and columns into view, and the hit test.
#include <gtest/gtest.h>

#include <climits>
#include <functional>
#include <map>
#include <vector>

#include "classlib/forms.h"
#include "lazytree/base_lazy_tree.h"
#include "lazytree/lazy_string_tree.h"
#include "message_pump.h"

namespace kelm::lazytree {
namespace {

using classlib::EventOf;
using classlib::New;
using classlib::TForm;

// A draw tree whose owner answers every node's width: 40 pixels unless
// listed.
class TWidthTree : public TCustomLazyDrawTree {
 public:
  explicit TWidthTree(classlib::TComponent* owner) : TCustomLazyDrawTree(owner) {
    OnQueryNodeWidth = EventOf<&TWidthTree::QueryWidth>(this);
  }
  std::map<PLazyNode, int> widths;
  void QueryWidth(DrawTree, TCanvas*, PLazyNode node, TColumnIndex, int& width) {
    auto it = widths.find(node);
    width = it == widths.end() ? 40 : it->second;
  }
  using TBaseLazyTree::FrameRing;
};

class TImages : public TObject {
 public:
  std::vector<TColumnIndex> imageColumns{NoColumn, 0, 1};
  std::vector<TColumnIndex> stateColumns;
  bool emptyCells = false;
  void Image(TBaseLazyTree*, PLazyNode, TLTImageKind kind, TColumnIndex column, bool&, int& i) {
    if (kind != ikNormal && kind != ikState) return;
    for (TColumnIndex c : kind == ikNormal ? imageColumns : stateColumns)
      if (c == column) i = 0;
  }
  void CellEmpty(TBaseLazyTree*, PLazyNode, TColumnIndex column, bool& empty) {
    empty = emptyCells && column > 0;
  }
};

class TResized : public TObject {
 public:
  std::vector<TColumnIndex> columns;
  void Resized(TLTHeader*, TColumnIndex column) { columns.push_back(column); }
};

class TreeView : public ::testing::Test {
 protected:
  void SetUp() override {
    form = New<TForm>(nullptr, 0);
    form->SetBounds(0, 0, 500, 400);
    tree = New<TWidthTree>(form);
    tree->SetParent(form);
    tree->SetBounds(0, 0, 300, 200);
    form->Show();
    ASSERT_NE(tree->Handle(), nullptr);
  }
  void TearDown() override {
    if (form) classlib::Free(form);
  }
  // Fifty 20-pixel rows.
  void AddRows(int count = 50) {
    tree->SetDefaultNodeHeight(20);
    for (int i = 0; i < count; ++i) tree->AddChild(nullptr);
  }
  // Shown columns of the given widths; the first ones fixed.
  void AddColumns(std::vector<int> widths, int fixed = 0) {
    TLTHeader* header = tree->HeaderObject();
    for (size_t i = 0; i < widths.size(); ++i) {
      TLazyTreeColumn* c = header->Columns()->Add();
      c->SetWidth(widths[i]);
      if (static_cast<int>(i) < fixed) c->SetOptions(c->Options() + TLTColumnOptions{coFixed});
    }
    header->SetOptions(header->Options() + TLTHeaderOptions{hoVisible});
    tree->UpdateScrollBars(true);
  }
  void Send(UINT msg, int code) { SendMessageW(tree->Handle(), msg, MAKEWPARAM(code, 0), 0); }
  SCROLLINFO Info(int bar) {
    SCROLLINFO info{};
    info.cbSize = sizeof(info);
    info.fMask = SIF_ALL;
    GetScrollInfo(tree->Handle(), bar, &info);
    return info;
  }
  bool BarShown(int bar) {
    const LONG style = GetWindowLongW(tree->Handle(), GWL_STYLE);
    return (style & (bar == SB_VERT ? WS_VSCROLL : WS_HSCROLL)) != 0;
  }

  TImages images;
  TForm* form = nullptr;
  TWidthTree* tree = nullptr;
};

TEST_F(TreeView, RowsThatFitShowNoBarAndAlwaysVisibleShowsItDisabled) {
  AddRows(3);
  EXPECT_EQ(tree->RangeY, 60);
  EXPECT_FALSE(BarShown(SB_VERT));
  EXPECT_EQ(tree->OffsetY(), 0);
  Send(WM_VSCROLL, SB_PAGEDOWN);
  EXPECT_EQ(tree->OffsetY(), 0) << "a range smaller than the client keeps the offset";

  tree->ScrollBarOptions()->SetAlwaysVisible(true);
  tree->UpdateScrollBars(true);
  ASSERT_TRUE(BarShown(SB_VERT));
  SCROLLBARINFO bar{};
  bar.cbSize = sizeof(bar);
  ASSERT_TRUE(GetScrollBarInfo(tree->Handle(), OBJID_VSCROLL, &bar));
  EXPECT_NE(bar.rgstate[0] & STATE_SYSTEM_UNAVAILABLE, 0u) << "shown, but disabled";
  EXPECT_EQ(tree->OffsetY(), 0);

  tree->ScrollBarOptions()->SetAlwaysVisible(false);
  AddRows(47);
  EXPECT_TRUE(BarShown(SB_VERT)) << "rows beyond the client show the bar";
  const SCROLLINFO info = Info(SB_VERT);
  EXPECT_EQ(info.nMax, 1000);
  EXPECT_EQ(static_cast<int>(info.nPage), tree->ClientHeight() + 1);
}

TEST_F(TreeView, DeletedBottomRowsPullTheOffsetWithTheBar) {
  AddRows();
  Send(WM_VSCROLL, SB_BOTTOM);
  const int client = tree->ClientHeight();
  ASSERT_EQ(tree->OffsetY(), client - 1000);
  // The last ten rows go: the system corrects the position and the offset
  // follows it.
  PLazyNode node = tree->GetLast();
  for (int i = 0; i < 10; ++i) {
    PLazyNode before = tree->GetPrevious(node);
    tree->DeleteNode(node);
    node = before;
  }
  EXPECT_EQ(tree->RangeY, 800);
  EXPECT_EQ(tree->OffsetY(), client - 800);
  EXPECT_EQ(GetScrollPos(tree->Handle(), SB_VERT), -tree->OffsetY());
}

TEST_F(TreeView, ScrollBarMessagesMoveTheOffsets) {
  AddRows();
  AddColumns({100, 400}, 1);
  ASSERT_EQ(tree->RangeX, 500);
  const int h = tree->ClientHeight();
  const int w = tree->ClientWidth();
  struct TCase {
    const char* name;
    UINT msg;
    int code;
    bool mirrored;
    int expected;  // the offset of the message's direction
  } cases[] = {
      {"line down", WM_VSCROLL, SB_LINEDOWN, false, -20},
      {"page down", WM_VSCROLL, SB_PAGEDOWN, false, -20 - h},
      {"page up", WM_VSCROLL, SB_PAGEUP, false, -20},
      {"bottom shows the last row at the bottom", WM_VSCROLL, SB_BOTTOM, false, h - 1000},
      {"line down at the end", WM_VSCROLL, SB_LINEDOWN, false, h - 1000},
      {"top", WM_VSCROLL, SB_TOP, false, 0},
      {"line up at the top", WM_VSCROLL, SB_LINEUP, false, 0},
      {"line right", WM_HSCROLL, SB_LINERIGHT, false, -20},
      {"page right: the client less the fixed column", WM_HSCROLL, SB_PAGERIGHT, false,
       -20 - (w - 100)},
      {"right end", WM_HSCROLL, SB_RIGHT, false, w - 500},
      {"left end", WM_HSCROLL, SB_LEFT, false, 0},
      {"mirrored: line left moves the other way", WM_HSCROLL, SB_LINELEFT, true, -20},
      {"mirrored: line right comes back", WM_HSCROLL, SB_LINERIGHT, true, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    tree->RightToLeft = c.mirrored;
    Send(c.msg, c.code);
    Send(c.msg, SB_ENDSCROLL);
    if (c.msg == WM_VSCROLL) {
      EXPECT_EQ(tree->OffsetY(), c.expected);
      EXPECT_EQ(GetScrollPos(tree->Handle(), SB_VERT), -tree->OffsetY());
    } else {
      EXPECT_EQ(tree->OffsetX(), c.expected);
      EXPECT_EQ(GetScrollPos(tree->Handle(), SB_HORZ), tree->EffectiveOffsetX());
    }
  }
  EXPECT_FALSE(tree->States().Contains(tsThumbTracking));
}

TEST_F(TreeView, RangesBeyondTheSignedLimitAreClampedForTheBars) {
  // 33000 rows of the largest height pass 2^31 - 1 pixels.
  tree->SetDefaultNodeHeight(70000);
  EXPECT_EQ(tree->DefaultNodeHeight(), 65535u) << "node heights are 16 bits";
  tree->SetDefaultNodeHeight(0);
  EXPECT_EQ(tree->DefaultNodeHeight(), 18u);
  tree->SetDefaultNodeHeight(65535);
  tree->BeginUpdate();
  for (int i = 0; i < 33000; ++i) tree->AddChild(nullptr);
  tree->EndUpdate();
  EXPECT_GT(static_cast<int64_t>(tree->RootNode()->TotalHeight), int64_t{INT_MAX} - 65535);
  EXPECT_EQ(tree->RangeY, INT_MAX);
  EXPECT_EQ(Info(SB_VERT).nMax, INT_MAX);
  Send(WM_VSCROLL, SB_BOTTOM);
  EXPECT_EQ(tree->OffsetY(), tree->ClientHeight() - INT_MAX) << "never wrapped";
}

TEST_F(TreeView, FrameTakesBorderWidthAndHeaderPlacesItselfAbove) {
  tree->SetBorderWidth(1);
  TLTHeader* header = tree->HeaderObject();
  header->SetHeight(24);
  header->SetOptions(header->Options() + TLTHeaderOptions{hoVisible});
  SetWindowPos(tree->Handle(), nullptr, 0, 0, 0, 0,
               SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
  // The system's own frame, for the window's style.
  RECT frame{0, 0, 0, 0};
  AdjustWindowRectEx(&frame,
                     static_cast<DWORD>(GetWindowLongW(tree->Handle(), GWL_STYLE)) &
                         ~static_cast<DWORD>(WS_VSCROLL | WS_HSCROLL),
                     FALSE, static_cast<DWORD>(GetWindowLongW(tree->Handle(), GWL_EXSTYLE)));
  RECT window{};
  GetWindowRect(tree->Handle(), &window);
  POINT origin{0, 0};
  ClientToScreen(tree->Handle(), &origin);
  EXPECT_EQ(origin.x - window.left, -frame.left + 1) << "the ring of one pixel";
  EXPECT_EQ(origin.y - window.top, -frame.top + 1 + 24) << "ring, then the header";

  tree->ComputeHeaderRect();
  const TRect band = tree->HeaderRect();
  EXPECT_EQ(band.top, -frame.top + 1);
  EXPECT_EQ(band.bottom - band.top, 24);
  auto hit = [&](int x, int y) {
    return SendMessageW(tree->Handle(), WM_NCHITTEST, 0, MAKELPARAM(x, y));
  };
  EXPECT_EQ(hit(origin.x + 10, origin.y - 12), HTBORDER) << "in the header";
  EXPECT_EQ(hit(origin.x + 10, origin.y + 12), HTCLIENT) << "below it";
  header->SetOptions(header->Options() - TLTHeaderOptions{hoVisible});
  EXPECT_NE(hit(origin.x + 10, origin.y - 12), HTBORDER) << "a hidden header takes nothing";
}

TEST_F(TreeView, BringNodeIntoViewExpandsAndCentres) {
  AddRows();
  PLazyNode parent = tree->GetFirstChild(nullptr);
  for (int i = 0; i < 25; ++i) parent = parent->NextSibling;
  PLazyNode child = tree->AddChild(parent);
  PLazyNode grandChild = tree->AddChild(child);
  ASSERT_FALSE(parent->Has(nsExpanded));
  const int half = tree->ClientHeight() / 2;

  EXPECT_TRUE(tree->BringNodeIntoView(grandChild, true));
  EXPECT_TRUE(parent->Has(nsExpanded) && child->Has(nsExpanded));
  EXPECT_EQ(tree->GetDisplayRect(grandChild, NoColumn, false).bottom, half);

  // Already in view: centring still moves it.
  PLazyNode nearby = tree->GetPrevious(parent);
  EXPECT_TRUE(tree->BringNodeIntoView(nearby, true));
  EXPECT_EQ(tree->GetDisplayRect(nearby, NoColumn, false).bottom, half);
  // Uncentred, a node in view stays where it is.
  EXPECT_FALSE(tree->BringNodeIntoView(nearby, false));
  // Below the view: to the bottom edge; above it: to the top edge.
  PLazyNode last = tree->GetLast();
  EXPECT_TRUE(tree->BringNodeIntoView(last, false));
  EXPECT_EQ(tree->GetDisplayRect(last, NoColumn, false).bottom, tree->ClientHeight());
  PLazyNode first = tree->GetFirst();
  EXPECT_TRUE(tree->BringNodeIntoView(first, false));
  EXPECT_EQ(tree->GetDisplayRect(first, NoColumn, false).top, 0);
  EXPECT_FALSE(tree->BringNodeIntoView(nullptr, true));
  EXPECT_FALSE(tree->BringNodeIntoView(tree->RootNode(), true));
}

TEST_F(TreeView, ExpandingScrollsTheChildrenIntoView) {
  AddRows(20);
  tree->TreeOptions()->SetAutoOptions(tree->TreeOptions()->AutoOptions() +
                                      TLTAutoOptions{toAutoScrollOnExpand});
  const int client = tree->ClientHeight();
  // The row just above the bottom edge gets five children.
  PLazyNode node = tree->GetNodeAt(0, client - 30);
  ASSERT_NE(node, nullptr);
  for (int i = 0; i < 5; ++i) tree->AddChild(node);
  const int top = tree->GetDisplayRect(node, NoColumn, false).top;
  tree->ToggleNode(node);
  const TRect shown = tree->GetDisplayRect(node, NoColumn, false);
  EXPECT_EQ(shown.top + 6 * 20, client) << "the node and its children end at the bottom";
  EXPECT_LT(shown.top, top);

  // A node whose children would push it out stays at the top.
  PLazyNode second = tree->GetNodeAt(0, client - 10);
  for (int i = 0; i < 40; ++i) tree->AddChild(second);
  tree->ToggleNode(second);
  EXPECT_EQ(tree->GetDisplayRect(second, NoColumn, false).top, 0);
}

TEST_F(TreeView, BringNodeIntoViewCountsASidewaysStepOnlyWhenTheViewMoved) {
  AddRows();
  AddColumns({100, 100, 200, 200}, 1);
  PLazyNode node = tree->GetFirst()->NextSibling;
  tree->SetFocusedColumn(1);
  ASSERT_EQ(tree->FocusedColumn(), 1);
  ASSERT_EQ(tree->OffsetX(), 0);
  EXPECT_FALSE(tree->BringNodeIntoView(node, false, true))
      << "row and column in view: a valid column alone is no move";
  EXPECT_EQ(tree->OffsetX(), 0);
  tree->SetFocusedColumn(3);
  tree->SetOffsetX(0);
  EXPECT_TRUE(tree->BringNodeIntoView(node, false, true)) << "the column comes into view";
  EXPECT_LT(tree->OffsetX(), 0);
}

// A cell's display rectangle and the hit test agree on where each column
// is: scrolled past a fixed column, and mirrored narrower and wider than
// the client.
TEST_F(TreeView, DisplayRectanglesAndHitsPlaceColumnsAlike) {
  AddRows(3);
  AddColumns({100, 200, 200}, 1);
  PLazyNode node = tree->GetFirst()->NextSibling;
  const int w = tree->ClientWidth();
  struct TCase {
    const char* name;
    std::vector<int> widths;
    bool mirrored;
    int offsetX;
    std::vector<int> lefts;  // each column's left edge in the client area
  } cases[] = {
      {"scrolled: the fixed column stays", {100, 200, 200}, false, -50, {0, 50, 250}},
      {"mirrored and narrower: flush right", {60, 70, 80}, true, 0, {w - 210, w - 150, w - 80}},
      {"mirrored and wider: the range's right end shows",
       {100, 200, 200},
       true,
       0,
       {0, 100 - (500 - w), 300 - (500 - w)}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    tree->SetBiDiMode(c.mirrored ? classlib::TBiDiMode::bdRightToLeft
                                 : classlib::TBiDiMode::bdLeftToRight);
    for (int i = 0; i < 3; ++i) tree->HeaderObject()->Columns()->Items(i)->SetWidth(c.widths[i]);
    tree->UpdateScrollBars(true);
    tree->SetOffsetX(c.offsetX);
    for (int column = 0; column < 3; ++column) {
      SCOPED_TRACE(column);
      const TRect r = tree->GetDisplayRect(node, column, false);
      EXPECT_EQ(r.left, c.lefts[column]);
      EXPECT_EQ(r.right - r.left, c.widths[column] - 1) << "a pixel short of the next";
      EXPECT_EQ(r.top, 20);
      // A point in its last pixels, unless the fixed column covers it.
      const int x = r.right - 1;
      if (column > 0 && x < c.widths[0]) continue;
      TBaseLazyTree::THitInfo info;
      tree->GetHitTestInfoAt(x, r.top + 1, true, info);
      EXPECT_EQ(info.HitColumn, column);
      EXPECT_EQ(info.HitNode, node);
    }
  }
  // Without columns the row spans the range, moved by the bar's position.
  tree->HeaderObject()->SetOptions(tree->HeaderObject()->Options() - TLTHeaderOptions{hoVisible});
  tree->SetBiDiMode(classlib::TBiDiMode::bdLeftToRight);
  tree->widths[node] = 1000;
  tree->UpdateScrollBars(true);
  ASSERT_GT(tree->RangeX, w);
  tree->SetOffsetX(-30);
  TRect row = tree->GetDisplayRect(node, NoColumn, false);
  EXPECT_EQ(row.left, -30);
  EXPECT_EQ(row.right, tree->RangeX - 30);
  tree->SetBiDiMode(classlib::TBiDiMode::bdRightToLeft);
  tree->UpdateScrollBars(true);
  tree->SetOffsetX(0);
  row = tree->GetDisplayRect(node, NoColumn, false);
  EXPECT_EQ(row.right, w) << "mirrored at offset 0: the range ends at the client's right edge";
  EXPECT_EQ(row.left, w - tree->RangeX);
}

TEST_F(TreeView, ColumnResizeRepaintsTheColumnAndWhatFollowsIt) {
  AddRows();
  // Columns without the header band, so that only the client area repaints.
  for (int width : {100, 150, 30}) tree->HeaderObject()->Columns()->Add()->SetWidth(width);
  TResized resized;
  tree->OnColumnResize = EventOf<&TResized::Resized>(&resized);
  UpdateWindow(tree->Handle());
  const int w = tree->ClientWidth();
  const int h = tree->ClientHeight();
  struct TCase {
    const char* name;
    bool span;
    TRect expected;
  } cases[] = {
      {"from the column's left edge on", false, TRect{100, 0, w, h}},
      {"spanned text may reach any column", true, TRect{0, 0, w, h}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    TCustomLazyTreeOptions* o = tree->TreeOptions();
    o->SetAutoOptions(c.span ? o->AutoOptions() + TLTAutoOptions{toAutoSpanColumns}
                             : o->AutoOptions() - TLTAutoOptions{toAutoSpanColumns});
    tree->UpdateScrollBars(true);
    ValidateRect(tree->Handle(), nullptr);
    tree->DoColumnResize(1);
    RECT r{};
    GetUpdateRect(tree->Handle(), &r, FALSE);
    EXPECT_EQ(r.left, c.expected.left);
    EXPECT_EQ(r.top, c.expected.top);
    EXPECT_EQ(r.right, c.expected.right);
    EXPECT_EQ(r.bottom, c.expected.bottom);
  }
  EXPECT_EQ(resized.columns, (std::vector<TColumnIndex>{1, 1}));
}

TEST_F(TreeView, BringColumnIntoViewWithFixedColumnsAndMirrored) {
  AddRows(3);
  AddColumns({100, 200, 200, 200}, 1);
  const THeaderLayout& layout = tree->HeaderObject()->Layout();
  const int w = tree->ClientWidth();
  auto screenLeft = [&](int column) { return layout.Column(column).Left + tree->OffsetX(); };

  EXPECT_TRUE(tree->BringColumnIntoView(3, false));
  EXPECT_EQ(screenLeft(3) + 200, w) << "its right edge at the client's";
  EXPECT_TRUE(tree->BringColumnIntoView(3, false)) << "in view: true without a move";
  EXPECT_TRUE(tree->BringColumnIntoView(1, false));
  EXPECT_EQ(screenLeft(1), 100) << "just right of the fixed column";
  EXPECT_TRUE(tree->BringColumnIntoView(2, true));
  EXPECT_NEAR(screenLeft(2) + 100, (100 + w) / 2.0, 1) << "centred in the scrolling part";
  EXPECT_FALSE(tree->BringColumnIntoView(7, false));
  EXPECT_FALSE(tree->BringColumnIntoView(NoColumn, false));

  tree->SetBiDiMode(classlib::TBiDiMode::bdRightToLeft);
  tree->SetOffsetX(0);
  // Mirrored, offset 0 shows the range's right end: the bar stands there.
  EXPECT_EQ(tree->EffectiveOffsetX(), 700 - tree->ClientWidth());
  EXPECT_TRUE(tree->BringColumnIntoView(2, false));
  EXPECT_EQ(layout.Column(2).Left - tree->EffectiveOffsetX(), 100) << "just past the fixed column";
  EXPECT_EQ(tree->OffsetX(), tree->ClientWidth() + 200 - 700);
  EXPECT_EQ(GetScrollPos(tree->Handle(), SB_HORZ), tree->EffectiveOffsetX());
}

TEST_F(TreeView, RepaintsCoverTheRowsTheyNameAndNeverErase) {
  AddRows();
  AddColumns({100, 150});
  UpdateWindow(tree->Handle());
  auto pending = [&] {
    RECT r{};
    GetUpdateRect(tree->Handle(), &r, FALSE);
    ValidateRect(tree->Handle(), nullptr);
    return TRect{r.left, r.top, r.right, r.bottom};
  };
  const int w = tree->ClientWidth();
  const int h = tree->ClientHeight();
  PLazyNode third = tree->GetFirst()->NextSibling->NextSibling;
  tree->InitNode(third);  // an uninitialised node repaints the whole window
  struct TCase {
    const char* name;
    std::function<void()> act;
    TRect expected;
  };
  const std::vector<TCase> cases = {
      {"a node's row", [&] { tree->InvalidateNode(third); }, TRect{0, 40, w, 60}},
      {"nothing inside an update",
       [&] {
         tree->BeginUpdate();
         tree->InvalidateNode(third);
         tree->InvalidateToBottom(third);
         tree->InvalidateColumn(1);
         ValidateRect(tree->Handle(), nullptr);  // the update's own repaint
         tree->InvalidateAll();
         EXPECT_EQ(GetUpdateRect(tree->Handle(), nullptr, FALSE), FALSE);
         tree->EndUpdate();
         ValidateRect(tree->Handle(), nullptr);
       },
       TRect{}},
      {"from a node down", [&] { tree->InvalidateToBottom(third); }, TRect{0, 40, w, h}},
      {"a column's strip", [&] { tree->InvalidateColumn(1); }, TRect{100, 0, 250, h}},
      {"a row below the view: nothing", [&] { tree->InvalidateNode(tree->GetLast()); }, TRect{}},
      {"a row painted at once", [&] { tree->RepaintNode(third); }, TRect{}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    ValidateRect(tree->Handle(), nullptr);
    c.act();
    const TRect r = pending();
    EXPECT_EQ(r.left, c.expected.left);
    EXPECT_EQ(r.top, c.expected.top);
    EXPECT_EQ(r.right, c.expected.right);
    EXPECT_EQ(r.bottom, c.expected.bottom);
  }
  // Scrolled down by 100: a node above the view moves every row in it.
  tree->SetOffsetY(-100);
  ValidateRect(tree->Handle(), nullptr);
  tree->InvalidateToBottom(third);
  const TRect r = pending();
  EXPECT_EQ(r.top, 0);
  EXPECT_EQ(r.bottom, h);
}

// Hit tests: a node at level 0 with children, a check box and an image; a
// leaf below it. Indent 18, margin 4, button 9, check images 13 wide,
// images 16 wide, texts 40 wide; rows 20 pixels.
class HitTest : public TreeView {
 protected:
  void SetUp() override {
    TreeView::SetUp();
    tree->SetDefaultNodeHeight(20);
    checks = New<classlib::TImageList>(form);
    checks->SetWidth(13);
    pictures = New<classlib::TImageList>(form);
    pictures->SetWidth(16);
    tree->CheckImages = checks;
    tree->Images = pictures;
    tree->OnGetImageIndex = EventOf<&TImages::Image>(&images);
    tree->OnGetCellIsEmpty = EventOf<&TImages::CellEmpty>(&images);
    TCustomLazyTreeOptions* o = tree->TreeOptions();
    o->SetPaintOptions(o->PaintOptions() + TLTPaintOptions{toShowRoot, toShowButtons} -
                       TLTPaintOptions{toFixedIndent});
    o->SetMiscOptions(o->MiscOptions() + TLTMiscOptions{toCheckSupport} -
                      TLTMiscOptions{toReportMode});
    parent = tree->AddChild(nullptr);
    parent->CheckType = ctCheckBox;
    tree->AddChild(parent);
    leaf = tree->AddChild(nullptr);
  }
  uint32_t At(int x, int y, TColumnIndex* column = nullptr, PLazyNode* node = nullptr) {
    TBaseLazyTree::THitInfo info;
    tree->GetHitTestInfoAt(x, y, true, info);
    if (column) *column = info.HitColumn;
    if (node) *node = info.HitNode;
    return info.HitPositions;
  }
  classlib::TImageList* checks = nullptr;
  classlib::TImageList* pictures = nullptr;
  PLazyNode parent = nullptr;
  PLazyNode leaf = nullptr;
};

using B = TBaseLazyTree;

TEST_F(HitTest, WithoutColumns) {
  // Parent: [0,18) indentation holding the button, [9,18) the button,
  // [18,37) margin and check box, [37,55) image, [55,95) label.
  const int right = std::max(tree->ClientWidth(), tree->RangeX);
  struct TCase {
    const char* name;
    int x, y;
    TAlignment alignment;
    uint32_t expected;
  } cases[] = {
      {"button area", 3, 5, TAlignment::taLeftJustify, B::HitOnItem | B::HitOnButtonArea},
      {"on the button", 12, 5, TAlignment::taLeftJustify,
       B::HitOnItem | B::HitOnButtonArea | B::HitOnButton},
      {"check box", 30, 5, TAlignment::taLeftJustify, B::HitOnItem | B::HitOnCheckBox},
      {"image", 40, 5, TAlignment::taLeftJustify, B::HitOnItem | B::HitOnNormalImage},
      {"label", 60, 5, TAlignment::taLeftJustify, B::HitOnItem | B::HitOnLabel},
      {"right of the label", 95, 5, TAlignment::taLeftJustify, B::HitOnItem | B::HitRightOfLabel},
      {"right-aligned: left of the label", 60, 5, TAlignment::taRightJustify,
       B::HitOnItem | B::HitLeftOfLabel},
      {"right-aligned: label", right - 40, 5, TAlignment::taRightJustify,
       B::HitOnItem | B::HitOnLabel},
      {"centred: left of it", 56, 5, TAlignment::taCenter, B::HitOnItem | B::HitLeftOfLabel},
      {"centred: on it", (right + 55) / 2, 5, TAlignment::taCenter, B::HitOnItem | B::HitOnLabel},
      {"centred: right of it", right - 2, 5, TAlignment::taCenter,
       B::HitOnItem | B::HitRightOfLabel},
      {"bare indentation of a leaf", 12, 25, TAlignment::taLeftJustify, B::HitOnItem},
      {"a leaf without check box: its image", 25, 25, TAlignment::taLeftJustify,
       B::HitOnItem | B::HitOnNormalImage},
      {"below the rows", 30, 70, TAlignment::taLeftJustify, B::HitNowhere},
      {"above", 30, -1, TAlignment::taLeftJustify, B::HitAbove},
      {"left of the tree", -1, 5, TAlignment::taLeftJustify, B::HitLeftOfTree},
      {"right of the tree", right + 1, 5, TAlignment::taLeftJustify, B::HitRightOfTree},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    tree->Alignment = c.alignment;
    TColumnIndex column = 5;
    EXPECT_EQ(At(c.x, c.y, &column), c.expected);
    if (c.expected & B::HitOnItem) {
      EXPECT_EQ(column, NoColumn);
    }
  }
}

TEST_F(HitTest, StateImageComesBeforeTheNormalOne) {
  auto* states = New<classlib::TImageList>(form);
  states->SetWidth(12);
  tree->SetStateImages(states);
  images.stateColumns = {NoColumn};
  // After the check box [18,37): state image [37,51), image [51,69), label
  // [69,109).
  struct TCase {
    int x;
    uint32_t expected;
  } cases[] = {
      {36, B::HitOnItem | B::HitOnCheckBox},   {37, B::HitOnItem | B::HitOnStateImage},
      {50, B::HitOnItem | B::HitOnStateImage}, {51, B::HitOnItem | B::HitOnNormalImage},
      {69, B::HitOnItem | B::HitOnLabel},      {109, B::HitOnItem | B::HitRightOfLabel},
  };
  for (const TCase& c : cases) EXPECT_EQ(At(c.x, 5), c.expected) << c.x;
}

TEST_F(HitTest, SplittersAndMirroredCells) {
  TCustomLazyTreeOptions* o = tree->TreeOptions();
  o->SetMiscOptions(o->MiscOptions() + TLTMiscOptions{toNodeHeightResize});
  EXPECT_EQ(At(60, 21), B::HitOnItem | B::HitUpperSplitter | B::HitOnLabel) << "leaf's top rows";
  EXPECT_EQ(At(60, 17), B::HitOnItem | B::HitLowerSplitter | B::HitOnLabel) << "parent's bottom";
  EXPECT_EQ(At(60, 10), B::HitOnItem | B::HitOnLabel);
  o->SetMiscOptions(o->MiscOptions() - TLTMiscOptions{toNodeHeightResize});

  tree->SetBiDiMode(classlib::TBiDiMode::bdRightToLeft);
  const int edge = std::max(tree->ClientWidth(), tree->RangeX) - 1;
  EXPECT_EQ(At(edge - 12, 5), B::HitOnItem | B::HitOnButtonArea | B::HitOnButton);
  EXPECT_EQ(At(edge - 30, 5), B::HitOnItem | B::HitOnCheckBox);
  EXPECT_EQ(At(edge - 60, 5), B::HitOnItem | B::HitOnLabel);
  EXPECT_EQ(At(edge - 100, 5), B::HitOnItem | B::HitLeftOfLabel) << "past the mirrored label";
}

TEST_F(HitTest, WithColumns) {
  AddColumns({100, 150}, 0);
  struct TCase {
    const char* name;
    int x;
    bool span, report;
    TColumnIndex column;
    uint32_t expected;
  } cases[] = {
      {"main column keeps the indentation", 12, false, false, 0,
       B::HitOnItem | B::HitOnButtonArea | B::HitOnButton},
      {"another column: margin and image first", 110, false, false, 1,
       B::HitOnItem | B::HitOnNormalImage},
      {"another column: its label", 130, false, false, 1, B::HitOnItem | B::HitOnLabel},
      {"report mode: only the item", 130, false, true, 1, B::HitOnItem},
      {"right of all columns", 260, false, false, -2, B::HitNowhere},
      {"spanning: the empty cell joins the main column", 200, true, false, 0,
       B::HitOnItem | B::HitRightOfLabel},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    images.emptyCells = c.span;
    TCustomLazyTreeOptions* o = tree->TreeOptions();
    o->SetAutoOptions(c.span ? o->AutoOptions() + TLTAutoOptions{toAutoSpanColumns}
                             : o->AutoOptions() - TLTAutoOptions{toAutoSpanColumns});
    o->SetMiscOptions(c.report ? o->MiscOptions() + TLTMiscOptions{toReportMode}
                               : o->MiscOptions() - TLTMiscOptions{toReportMode});
    TColumnIndex column = 9;
    EXPECT_EQ(At(c.x, 5, &column), c.expected);
    EXPECT_EQ(column, c.column);
  }
}

TEST_F(HitTest, FixedColumnsDoNotScroll) {
  AddRows(3);
  AddColumns({100, 300, 300}, 1);
  tree->SetOffsetX(-50);
  ASSERT_EQ(tree->OffsetX(), -50);
  TColumnIndex column = 9;
  EXPECT_EQ(At(12, 5, &column), B::HitOnItem | B::HitOnButtonArea | B::HitOnButton)
      << "the fixed column is where it always is";
  EXPECT_EQ(column, 0);
  EXPECT_EQ(At(100, 5, &column), B::HitOnItem | B::HitOnLabel) << "x 150 of the tree: 50 in";
  EXPECT_EQ(column, 1);
}

TEST_F(HitTest, MaxColumnWidthIsTheWidestContent) {
  AddColumns({100, 150}, 0);
  tree->ToggleNode(parent);
  PLazyNode child = tree->GetFirstChild(parent);
  tree->widths[parent] = 40;
  tree->widths[child] = 70;
  tree->widths[leaf] = 10;
  // Main column: the child at level 1 with root shown: indentation,
  // margin, image and its 2-pixel gap, text.
  EXPECT_EQ(tree->GetMaxColumnWidth(0, false), 36 + 4 + 18 + 70);
  // Column 1: margin, image and text; no indentation and no check box.
  EXPECT_EQ(tree->GetMaxColumnWidth(1, false), 4 + 18 + 70);
  tree->TreeOptions()->SetPaintOptions(tree->TreeOptions()->PaintOptions() +
                                       TLTPaintOptions{toShowVertGridLines});
  EXPECT_EQ(tree->GetMaxColumnWidth(1, false), 4 + 18 + 70 + 1) << "the grid line";
  // Cancelled: the current width.
  tree->BeginOperation();
  tree->CancelOperation();
  EXPECT_EQ(tree->GetMaxColumnWidth(1, false), 150);
  tree->EndOperation();
  // The header's fitting asks the same measure.
  tree->HeaderObject()->FitColumnsToContent(false, TSmartAutoFitType::smaAllColumns, 0, -1);
  EXPECT_EQ(tree->HeaderObject()->Columns()->Items(1)->Width(), 4 + 18 + 70 + 1);
}

}  // namespace
}  // namespace kelm::lazytree

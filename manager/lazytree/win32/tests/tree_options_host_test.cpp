// The tree as its option objects' host, on a real window: which changes
// re-create the window and with which styles, which clear the selection or
// move the focused column, and that the border colour redraws the frame only.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "classlib/filer.h"
#include "classlib/forms.h"
#include "classlib/streams.h"
#include "lazytree/base_lazy_tree.h"

namespace kelm::lazytree {
namespace {

using classlib::New;
using classlib::TForm;

// Records each window creation's parameters and the frame paints.
class TProbeTree : public TBaseLazyTree {
 public:
  using TBaseLazyTree::TBaseLazyTree;
  int creations = 0;
  DWORD style = 0;
  UINT classStyle = 0;
  int ncPaints = 0;
  // The window's style as created (the tree shows and hides its bars by
  // their ranges later).
  DWORD createdStyle = 0;
  TColumnIndex mainColumn = 2;

  void WndProc(classlib::TMessage& m) override {
    if (m.Msg == WM_NCPAINT) ++ncPaints;
    if (m.Msg == WM_CREATE) createdStyle = reinterpret_cast<const CREATESTRUCTW*>(m.LParam)->style;
    TBaseLazyTree::WndProc(m);
  }

 protected:
  void CreateParams(classlib::TCreateParams& params) override {
    TBaseLazyTree::CreateParams(params);
    ++creations;
    style = params.Style;
    classStyle = params.WindowClass.style;
  }
  TColumnIndex HeaderMainColumn() const override { return mainColumn; }
};

class TreeOptionsHost : public ::testing::Test {
 protected:
  void SetUp() override {
    form = New<TForm>(nullptr, 0);
    tree = New<TProbeTree>(form);
    tree->SetParent(form);
    ASSERT_NE(tree->Handle(), nullptr);
    // Hidden windows keep no update region; shown, a repaint request shows.
    form->Show();
  }
  void TearDown() override {
    if (form) classlib::Free(form);
  }
  // Nothing waits to be painted in the client area.
  void Settle() {
    ValidateRect(tree->Handle(), nullptr);
    ASSERT_FALSE(ClientInvalid());
  }
  bool ClientInvalid() { return GetUpdateRect(tree->Handle(), nullptr, FALSE) != FALSE; }

  TForm* form = nullptr;
  TProbeTree* tree = nullptr;
};

TEST_F(TreeOptionsHost, DefaultsGiveBothScrollBarsAndFullRepaint) {
  EXPECT_EQ(tree->creations, 1);
  EXPECT_EQ(tree->style & (WS_HSCROLL | WS_VSCROLL), DWORD(WS_HSCROLL | WS_VSCROLL));
  EXPECT_EQ(tree->style & (WS_CLIPCHILDREN | WS_CLIPSIBLINGS),
            DWORD(WS_CLIPCHILDREN | WS_CLIPSIBLINGS));
  EXPECT_EQ(tree->classStyle & (CS_HREDRAW | CS_VREDRAW), UINT(CS_HREDRAW | CS_VREDRAW));
  EXPECT_EQ(tree->createdStyle & (WS_HSCROLL | WS_VSCROLL), DWORD(WS_HSCROLL | WS_VSCROLL));
}

TEST_F(TreeOptionsHost, EqualValuesChangeNothing) {
  Settle();
  TCustomLazyTreeOptions* o = tree->TreeOptions();
  o->SetMiscOptions(o->MiscOptions());
  o->SetPaintOptions(o->PaintOptions());
  o->SetSelectionOptions(o->SelectionOptions());
  tree->ScrollBarOptions()->SetScrollBars(TScrollStyle::ssBoth);
  tree->ScrollBarOptions()->SetAlwaysVisible(false);
  tree->Colors()->SetColor(TLTColors::TreeLineColorIndex,
                           tree->Colors()->Color(TLTColors::TreeLineColorIndex));
  EXPECT_EQ(tree->creations, 1);
  EXPECT_FALSE(ClientInvalid());
}

TEST_F(TreeOptionsHost, WindowIsRecreatedWithTheChosenStyles) {
  struct TCase {
    const char* name;
    std::function<void(TBaseLazyTree&)> change;
    DWORD scrollStyle;
    UINT redraw;
  };
  const UINT both = CS_HREDRAW | CS_VREDRAW;
  const std::vector<TCase> cases = {
      {"no full repaint",
       [](TBaseLazyTree& t) {
         t.TreeOptions()->SetMiscOptions(t.TreeOptions()->MiscOptions() -
                                         TLTMiscOptions{toFullRepaintOnResize});
       },
       WS_HSCROLL | WS_VSCROLL, 0},
      {"vertical only",
       [](TBaseLazyTree& t) { t.ScrollBarOptions()->SetScrollBars(TScrollStyle::ssVertical); },
       WS_VSCROLL, both},
      {"horizontal only",
       [](TBaseLazyTree& t) { t.ScrollBarOptions()->SetScrollBars(TScrollStyle::ssHorizontal); },
       WS_HSCROLL, both},
      {"none", [](TBaseLazyTree& t) { t.ScrollBarOptions()->SetScrollBars(TScrollStyle::ssNone); },
       0, both},
  };
  for (const TCase& tc : cases) {
    TearDown();
    SetUp();
    tc.change(*tree);
    tree->HandleNeeded();
    EXPECT_EQ(tree->creations, 2) << tc.name;
    EXPECT_EQ(tree->style & (WS_HSCROLL | WS_VSCROLL), tc.scrollStyle) << tc.name;
    EXPECT_EQ(tree->createdStyle & (WS_HSCROLL | WS_VSCROLL), tc.scrollStyle) << tc.name;
    EXPECT_EQ(tree->classStyle & both, tc.redraw) << tc.name;
  }
}

TEST_F(TreeOptionsHost, MultiSelectChangeClearsTheSelection) {
  TCustomLazyTreeOptions* o = tree->TreeOptions();
  o->SetSelectionOptions(TLTSelectionOptions{toMultiSelect});
  EXPECT_TRUE(tree->ViewOptions.MultiSelect);
  PLazyNode a = tree->AddChild(nullptr);
  PLazyNode b = tree->AddChild(nullptr);
  ASSERT_TRUE(tree->AddSelection(std::vector<PLazyNode>{a, b}, true));
  ASSERT_EQ(tree->SelectedCount(), 2u);
  o->SetSelectionOptions({});
  EXPECT_FALSE(tree->ViewOptions.MultiSelect);
  EXPECT_EQ(tree->SelectedCount(), 0u);
}

TEST_F(TreeOptionsHost, DroppingExtendedFocusResetsTheFocusedColumnWindowOrNot) {
  for (bool withWindow : {true, false}) {
    TProbeTree* t = withWindow ? tree : New<TProbeTree>(form);
    t->mainColumn = 2;
    t->TreeOptions()->SetSelectionOptions(TLTSelectionOptions{toExtendedFocus});
    EXPECT_EQ(t->FocusedColumn(), NoColumn);
    t->mainColumn = 3;
    t->TreeOptions()->SetSelectionOptions({});
    EXPECT_EQ(t->FocusedColumn(), 3) << withWindow;
    EXPECT_EQ(t->HandleAllocated(), withWindow);
  }
}

TEST_F(TreeOptionsHost, BorderColorRedrawsOnlyTheFrame) {
  Settle();
  const int before = tree->ncPaints;
  tree->Colors()->SetColor(TLTColors::BorderColorIndex, 0x00112233);
  EXPECT_GT(tree->ncPaints, before);
  EXPECT_FALSE(ClientInvalid());
  // Any other colour repaints the client area.
  tree->Colors()->SetColor(TLTColors::TreeLineColorIndex, 0x00112233);
  EXPECT_TRUE(ClientInvalid());
  EXPECT_EQ(tree->creations, 1);
}

TEST_F(TreeOptionsHost, FlatScrollBarsFailTheAssertion) {
  EXPECT_THROW(tree->ScrollBarOptions()->SetScrollBarStyle(TScrollBarStyle::sbmFlat),
               classlib::EAssertionFailed);
  EXPECT_EQ(tree->ScrollBarOptions()->ScrollBarStyle(), TScrollBarStyle::sbmRegular);
  EXPECT_EQ(tree->creations, 1);
}

}  // namespace
}  // namespace kelm::lazytree

namespace kelm::lazytree {
namespace {

std::vector<uint8_t> SaveTree(classlib::TComponent* root) {
  classlib::TMemoryStream m;
  classlib::TWriter w(m);
  w.WriteRootComponent(root);
  return m.Bytes();
}

// The tree stores its header's columns as "Columns" and reads them back
// into the same order.
TEST_F(TreeOptionsHost, ColumnsGoThroughTheStoredForm) {
  // Both without a parent, so that only the columns tell them apart.
  TProbeTree* src = New<TProbeTree>(nullptr);
  TLazyTreeColumns* columns = src->HeaderObject()->Columns();
  const int widths[] = {100, 200, 200, 250};
  for (int w : widths) columns->Add()->SetWidth(w);
  columns->Items(0)->SetText(u"\u2116");
  columns->Items(3)->SetPosition(1);
  const std::vector<uint8_t> bytes = SaveTree(src);

  TProbeTree* copy = New<TProbeTree>(nullptr);
  classlib::TResourceStream in(bytes.data(), static_cast<int64_t>(bytes.size()));
  classlib::TReader reader(in);
  reader.ReadRootComponent(copy);
  EXPECT_TRUE(copy->HeaderObject()->Columns()->SameColumnsAs(*columns));
  EXPECT_EQ(copy->HeaderObject()->Layout().PositionToIndex(),
            src->HeaderObject()->Layout().PositionToIndex());
  EXPECT_EQ(copy->HeaderObject()->Layout().PositionToIndex(), (std::vector<int32_t>{0, 3, 1, 2}));
  EXPECT_EQ(SaveTree(copy), bytes);
  classlib::Free(copy);
  classlib::Free(src);
}

}  // namespace
}  // namespace kelm::lazytree

// Line images over a small tree in each mode, their band look, the check
// image table, the button offset and the row's centre line.
#include "lazytree/paint_geometry.h"

#include <gtest/gtest.h>

#include <string>

#include "lazytree/lazy_tree_view.h"

namespace kelm::lazytree {
namespace {

class TPlainTree : public TLazyTreeView {
 public:
  explicit TPlainTree(classlib::TObject* sender) : TLazyTreeView(sender) { CreateRootNode(); }
};

// Letters for line types, one per level: . none, b bottom-right, | top-down,
// + top-down-right, - right, t top-right, L left, _ left-bottom.
std::string Show(const TLineImage& lines) {
  std::string s;
  for (TLTLineType t : lines) s += ".b|+-tL_"[t];
  return s;
}

// a (a1, a2 (a2x)), b, c
class LineImages : public ::testing::Test {
 protected:
  void SetUp() override {
    a = tree.AddChild(nullptr);
    a1 = tree.AddChild(a);
    a2 = tree.AddChild(a);
    a2x = tree.AddChild(a2);
    b = tree.AddChild(nullptr);
    c = tree.AddChild(nullptr);
  }
  classlib::TObject sender;
  TPlainTree tree{&sender};
  PLazyNode a, a1, a2, a2x, b, c;
};

TEST_F(LineImages, EveryModeOverTheTree) {
  struct TCase {
    const char* name;
    bool lines, root, above;
    const char* expected[6];  // a, a1, a2, a2x, b, c
  } cases[] = {
      {"lines with the root", true, true, false, {"b", "|+", "|t", "|.t", "+", "t"}},
      {"lines without the root", true, false, false, {"", "+", "t", ".t", "", ""}},
      {"no lines", false, true, false, {".", "..", "..", "...", ".", "."}},
      {"children above, with the root", true, true, true, {"b", ".b", ".+", ".|b", "+", "t"}},
      {"children above, without the root", true, false, true, {"", "b", "+", "|b", "", ""}},
  };
  for (const TCase& t : cases) {
    SCOPED_TRACE(t.name);
    const PLazyNode nodes[] = {a, a1, a2, a2x, b, c};
    for (int i = 0; i < 6; ++i)
      EXPECT_EQ(Show(GetLineImage(tree, nodes[i], t.lines, t.root, t.above)), t.expected[i]) << i;
  }
}

TEST_F(LineImages, HiddenSiblingsEndTheLinesEarlier) {
  c->Exclude(nsVisible);  // only the flag: the lines read nothing else
  EXPECT_EQ(Show(GetLineImage(tree, b, true, true, false)), "t") << "b is the last one shown";
  b->Exclude(nsVisible);  // only the flag: the lines read nothing else
  EXPECT_EQ(Show(GetLineImage(tree, a, true, true, false)), "-") << "the only one shown";
  EXPECT_EQ(Show(GetLineImage(tree, a2x, true, true, false)), "..t") << "a passes nothing on";
  a1->Exclude(nsVisible);  // only the flag: the lines read nothing else
  EXPECT_EQ(Show(GetLineImage(tree, a2, true, true, true)), ".b") << "above: no previous shown";
}

TEST_F(LineImages, BandsFollowTheLineImage) {
  struct TCase {
    const char* lines;
    bool expanded;
    const char* bands;
  } cases[] = {
      {"|+", false, "L_"},   {"|.t", false, "___"}, {"b", false, "_"}, {"|+", true, "LL"},
      {"||t", false, "L__"}, {".|", false, "LL"},   {"", false, ""},
  };
  for (const TCase& t : cases) {
    TLineImage lines;
    for (const char* p = t.lines; *p; ++p)
      lines.push_back(static_cast<TLTLineType>(std::string(".b|+-tL_").find(*p)));
    EXPECT_EQ(Show(GetBandImage(lines, t.expanded)), t.bands) << t.lines;
  }
}

TEST(CheckImages, IndexTable) {
  struct TCase {
    TCheckType type;
    TCheckState state;
    bool disabled, hot;
    int expected;
  } cases[] = {
      {ctNone, csCheckedNormal, false, false, -1},
      {ctCheckBox, csUncheckedNormal, false, false, 9},
      {ctCheckBox, csUncheckedNormal, false, true, 10},
      {ctCheckBox, csUncheckedPressed, false, true, 11},
      {ctCheckBox, csUncheckedNormal, true, true, 12},
      {ctTriStateCheckBox, csCheckedNormal, false, false, 13},
      {ctTriStateCheckBox, csCheckedPressed, false, false, 15},
      {ctCheckBox, csMixedNormal, false, true, 18},
      {ctCheckBox, csMixedPressed, true, false, 20},
      {ctRadioButton, csUncheckedNormal, false, false, 1},
      {ctRadioButton, csCheckedNormal, false, true, 6},
      {ctRadioButton, csCheckedPressed, false, false, 7},
      {ctRadioButton, csMixedNormal, false, false, 17},
      {ctButton, csUncheckedNormal, false, false, 21},
      {ctButton, csCheckedNormal, false, true, 22},
      {ctButton, csCheckedPressed, true, false, 24},
      {ctButton, csMixedNormal, false, false, 17},
  };
  for (const TCase& c : cases)
    EXPECT_EQ(CheckImageIndex(c.type, c.state, c.disabled, c.hot), c.expected)
        << int(c.type) << " " << int(c.state) << " " << c.disabled << c.hot;
}

TEST(RowGeometry, ButtonXRoundsHalvesToEven) {
  struct TCase {
    int indent, width;
    uint32_t levels;
    bool fixed;
    int expected;
  } cases[] = {
      {18, 9, 1, false, 4},                                 // 4.5
      {16, 9, 1, false, 4},                                 // 3.5
      {19, 9, 1, false, 5},          {20, 9, 1, false, 6},  // 5.5
      {8, 9, 1, false, 0},                                  // -0.5
      {6, 9, 1, false, -2},                                 // -1.5
      {18, 9, 3, false, 4 + 2 * 18}, {18, 9, 3, true, 4},  {18, 9, 0, false, 4},
  };
  for (const TCase& c : cases)
    EXPECT_EQ(ButtonX(c.indent, c.width, c.levels, c.fixed), c.expected)
        << c.indent << " " << c.width << " " << c.levels;
}

TEST(RowGeometry, CentreLineByNodeAlignment) {
  struct TCase {
    const char* name;
    TLTNodeAlignment alignment;
    int align, height, image, button, expected;
  } cases[] = {
      {"from the bottom", naFromBottom, 5, 25, 16, 9, 20},
      {"from the top", naFromTop, 5, 25, 16, 9, 5},
      {"proportional to the images", naProportional, 50, 25, 16, 9, 5 + 8},  // 4.5 rounds up
      {"proportional to the button", naProportional, 50, 25, 0, 9, 8 + 4},
      {"proportional to the row", naProportional, 50, 25, 0, 0, 13},  // 12.5 rounds up
      {"a third of the row", naProportional, 33, 18, 0, 0, 6},
      {"an image taller than the row", naProportional, 50, 10, 32, 0, -11 + 16},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ComputeVAlign(c.alignment, c.align, c.height, c.image, c.button), c.expected);
  }
  EXPECT_EQ(MulDivRound(-25, 50, 100), -13) << "halves away from zero";
  EXPECT_EQ(MulDivRound(7, 3, 0), -1);
}

}  // namespace
}  // namespace kelm::lazytree

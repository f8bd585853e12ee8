// Selection, visible navigation, expansion, sorting and linking, checked
// against a brute-force pre-order model and the invariant checker.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "lazytree/lazy_tree_error.h"
#include "lazytree/lazy_tree_view.h"
#include "tree_invariants.h"

namespace kelm::lazytree {
namespace {

using classlib::EAssertionFailed;
using classlib::TObject;

class TViewTree : public TLazyTreeView {
 public:
  explicit TViewTree(TObject* sender) : TLazyTreeView(sender) { CreateRootNode(); }
  std::map<PLazyNode, int> keys;
  bool destroyingFlag = false;
  void SetAnchor(PLazyNode n) { rangeAnchor_ = n; }
  int DoCompareNodes(PLazyNode a, PLazyNode b, int) override { return keys[a] - keys[b]; }

 protected:
  bool IsDestroying() const override { return destroyingFlag || TLazyTreeView::IsDestroying(); }
};

class LazyTreeView : public ::testing::Test {
 protected:
  TObject sender;
  TViewTree tree{&sender};

  void Check() { ASSERT_EQ(test::CheckTreeInvariants(tree, &sender, false), ""); }

  std::vector<PLazyNode> PreOrder() {
    std::vector<PLazyNode> out;
    std::vector<PLazyNode> stack;
    for (PLazyNode c = tree.RootNode()->LastChild; c; c = c->PrevSibling) stack.push_back(c);
    while (!stack.empty()) {
      PLazyNode n = stack.back();
      stack.pop_back();
      out.push_back(n);
      for (PLazyNode c = n->LastChild; c; c = c->PrevSibling) stack.push_back(c);
    }
    return out;
  }
  bool Shown(PLazyNode n) {
    for (; n != tree.RootNode(); n = n->Parent)
      if (!n->Has(nsVisible) || !n->Parent->Has(nsExpanded)) return false;
    return true;
  }
  std::vector<PLazyNode> VisibleOrder() {
    std::vector<PLazyNode> out;
    for (PLazyNode n : PreOrder())
      if (Shown(n)) out.push_back(n);
    return out;
  }
  // The node store's view against the brute-force model.
  void CheckAgainstModel(std::mt19937& rng) {
    Check();
    const std::vector<PLazyNode> all = PreOrder();
    const std::vector<PLazyNode> visible = VisibleOrder();
    ASSERT_EQ(tree.VisibleNodeCount(), visible.size());
    std::vector<PLazyNode> walked;
    for (PLazyNode n = tree.GetFirstVisibleNoInit(); n; n = tree.GetNextVisibleNoInit(n))
      walked.push_back(n);
    ASSERT_EQ(walked, visible);
    std::vector<PLazyNode> back;
    for (PLazyNode n = tree.GetLastVisibleNoInit(); n; n = tree.GetPreviousVisibleNoInit(n))
      back.push_back(n);
    std::reverse(back.begin(), back.end());
    ASSERT_EQ(back, visible);
    uint64_t height = tree.RootNode()->NodeHeight;
    for (PLazyNode n : visible) height += n->NodeHeight;
    ASSERT_EQ(tree.RootNode()->TotalHeight, height);
    if (all.empty()) return;
    std::map<PLazyNode, size_t> position;
    for (size_t i = 0; i < all.size(); ++i) position[all[i]] = i;
    std::uniform_int_distribution<size_t> pick(0, all.size() - 1);
    for (int i = 0; i < 20; ++i) {
      PLazyNode a = all[pick(rng)];
      PLazyNode b = all[pick(rng)];
      const int expected = position[a] < position[b] ? -1 : (position[a] > position[b] ? 1 : 0);
      const int got = tree.CompareNodePositions(a, b);
      ASSERT_EQ(got < 0 ? -1 : (got > 0 ? 1 : 0), expected);
    }
    // Rows from the top against the summed heights.
    uint32_t top = 0;
    for (PLazyNode n : visible) {
      int nodeTop = -1;
      ASSERT_EQ(tree.GetNodeAt(0, static_cast<int>(top), false, nodeTop), n);
      ASSERT_EQ(nodeTop, static_cast<int>(top));
      top += n->NodeHeight;
    }
    int nodeTop = 0;
    ASSERT_EQ(tree.GetNodeAt(0, static_cast<int>(top), false, nodeTop), nullptr);
    // The selection array: sorted, no tombstones outside updates, and
    // exactly the nodes flagged.
    const auto& array = tree.SelectionArray();
    ASSERT_TRUE(std::is_sorted(array.begin(), array.end()));
    size_t flagged = 0;
    for (PLazyNode n : all) flagged += n->Has(nsSelected) ? 1 : 0;
    ASSERT_EQ(array.size(), flagged);
    for (uintptr_t e : array) {
      ASSERT_EQ(e & 1, 0u);
      ASSERT_TRUE(reinterpret_cast<PLazyNode>(e)->Has(nsSelected));
    }
  }
};

TEST_F(LazyTreeView, SeededRandomTreesAgreeWithBruteForce) {
  for (uint32_t seed = 1; seed <= 6; ++seed) {
    std::mt19937 rng(seed);
    tree.Clear();
    tree.ViewOptions.MultiSelect = true;
    std::vector<PLazyNode> nodes;
    for (int i = 0; i < 120; ++i) {
      PLazyNode parent = nodes.empty() || rng() % 4 == 0 ? nullptr : nodes[rng() % nodes.size()];
      PLazyNode n = tree.AddChild(parent);
      tree.keys[n] = static_cast<int>(rng() % 5);
      if (rng() % 3 == 0) tree.SetNodeHeight(n, 5 + rng() % 30);
      nodes.push_back(n);
    }
    CheckAgainstModel(rng);
    for (int step = 0; step < 250; ++step) {
      SCOPED_TRACE("seed " + std::to_string(seed) + " step " + std::to_string(step));
      std::vector<PLazyNode> all = PreOrder();
      PLazyNode n = all[rng() % all.size()];
      switch (rng() % 9) {
        case 0:
        case 1:
          tree.ToggleNode(n);
          break;
        case 2:
          tree.FullExpand(rng() % 2 ? n : nullptr);
          break;
        case 3:
          tree.FullCollapse(rng() % 2 ? n : nullptr);
          break;
        case 4: {
          // Move, sometimes hiding or showing the node on the way.
          PLazyNode dest = all[rng() % all.size()];
          if (dest == n || tree.HasAsParent(dest, n)) break;
          const uint64_t count = tree.RootNode()->TotalCount;
          tree.UnlinkNode(n, false, true);
          if (rng() % 3 == 0) n->States ^= nsVisible;
          tree.LinkNode(n, dest, static_cast<TLTNodeAttachMode>(1 + rng() % 4));
          ASSERT_EQ(tree.RootNode()->TotalCount, count);
          tree.UpdateAllHiddenChildrenFlags();
          break;
        }
        case 5: {
          PLazyNode parent = rng() % 3 == 0 ? nullptr : n;
          PLazyNode p = parent ? parent : tree.RootNode();
          std::vector<PLazyNode> before;
          for (PLazyNode c = p->FirstChild; c; c = c->NextSibling) before.push_back(c);
          const auto dir = rng() % 2 ? sdAscending : sdDescending;
          tree.Sort(parent, 0, dir, false);
          std::vector<PLazyNode> after;
          for (PLazyNode c = p->FirstChild; c; c = c->NextSibling) after.push_back(c);
          std::stable_sort(before.begin(), before.end(), [&](PLazyNode a, PLazyNode b) {
            return dir == sdAscending ? tree.keys[a] < tree.keys[b] : tree.keys[a] > tree.keys[b];
          });
          ASSERT_EQ(after, before);
          break;
        }
        case 6:
          if (n->Has(nsSelected)) {
            tree.RemoveSelection(n);
          } else {
            tree.AddSelection(n);
          }
          break;
        case 7: {
          if (!Shown(n)) break;
          PLazyNode start = tree.RangeAnchor();
          if (rng() % 2) {
            tree.SelectRange(start, n, rng() % 2 == 0);
          } else {
            tree.ToggleRange(start, n);
          }
          break;
        }
        case 8:
          if (rng() % 4 == 0) {
            tree.BeginUpdate();
            tree.DeleteNode(n);
            tree.EndUpdate();
          } else if (rng() % 2) {
            tree.AddChild(n);
          } else {
            tree.SortTree(0, rng() % 2 ? sdAscending : sdDescending, false);
          }
          break;
      }
      CheckAgainstModel(rng);
    }
  }
}

TEST_F(LazyTreeView, CompactNodeArrayTable) {
  struct TCase {
    std::vector<uintptr_t> in;
    int result;
    std::vector<uintptr_t> out;
  } cases[] = {
      {{}, -1, {}},          {{16, 32, 48}, 3, {16, 32, 48}},
      {{17, 33, 49}, 0, {}}, {{16, 33, 48, 65}, 2, {16, 48}},
      {{17, 32}, 1, {32}},
  };
  for (auto& c : cases) {
    std::vector<uintptr_t> a = c.in;
    EXPECT_EQ(TLazyTreeView::CompactNodeArray(a.data(), static_cast<uint32_t>(a.size())), c.result);
    if (c.result >= 0) a.resize(static_cast<size_t>(c.result));
    EXPECT_EQ(a, c.out);
  }
}

// Five top-level nodes, the middle one with two children.
class SelectionFixture : public LazyTreeView {
 protected:
  PLazyNode top[5]{};
  PLazyNode kid[2]{};
  void SetUp() override {
    tree.ViewOptions.MultiSelect = true;
    for (auto& t : top) t = tree.AddChild(nullptr);
    kid[0] = tree.AddChild(top[2]);
    kid[1] = tree.AddChild(top[2]);
    tree.ToggleNode(top[2]);
  }
  std::vector<PLazyNode> Selected() {
    std::vector<PLazyNode> out;
    for (PLazyNode n : VisibleOrder())
      if (n->Has(nsSelected)) out.push_back(n);
    return out;
  }
};

TEST_F(SelectionFixture, ClickSelectionTable) {
  struct TCase {
    const char* name;
    bool shift, ctrl, sibling;
    int anchor;  // index into the visible order, -1 none
    std::vector<int> preselected;
    int click;
    std::vector<int> expected;
    int expectedAnchor;
  } cases[] = {
      {"none", false, false, false, 0, {}, 3, {3}, 3},
      {"ctrl adds", false, true, false, 0, {0}, 4, {0, 4}, 4},
      {"ctrl toggles off", false, true, false, 0, {0, 4}, 4, {0}, 4},
      {"ctrl under sibling constraint keeps the anchor", false, true, true, 0, {0}, 3, {0}, 0},
      {"shift replaces by the range", true, false, false, 1, {6}, 3, {1, 2, 3}, 1},
      {"shift upwards", true, false, false, 5, {}, 2, {2, 3, 4, 5}, 5},
      {"ctrl+shift adds the range", true, true, false, 4, {0}, 6, {0, 4, 5, 6}, 4},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::vector<PLazyNode> visible = VisibleOrder();
    tree.ClearSelection();
    tree.ViewOptions.SiblingSelectConstraint = c.sibling;
    for (int i : c.preselected) tree.AddSelection(visible[i]);
    tree.SetAnchor(visible[c.anchor]);
    tree.HandleClickSelection(nullptr, visible[c.click], c.shift, c.ctrl, false);
    std::vector<PLazyNode> expected;
    for (int i : c.expected) expected.push_back(visible[i]);
    EXPECT_EQ(Selected(), expected);
    EXPECT_EQ(tree.SelectedCount(), expected.size());
    EXPECT_EQ(tree.RangeAnchor(), visible[c.expectedAnchor]);
    Check();
  }
}

TEST_F(SelectionFixture, LevelConstraintDropsOtherLevels) {
  tree.ViewOptions.LevelSelectConstraint = true;
  tree.AddSelection(top[0]);
  EXPECT_FALSE(tree.AddSelection(kid[0])) << "another level than the anchor's";
  EXPECT_TRUE(tree.AddSelection(top[4]));
  EXPECT_EQ(tree.SelectedCount(), 2u);
}

TEST_F(SelectionFixture, AddingASelectedNodeChangesNothing) {
  int changes = 0;
  struct TCounter : TObject {
    int* n;
    void Changed(TObject*, PLazyNode) { ++*n; }
  } counter;
  counter.n = &changes;
  tree.OnChange = classlib::EventOf<&TCounter::Changed>(&counter);
  EXPECT_TRUE(tree.AddSelection(top[1]));
  const int after = changes;
  EXPECT_FALSE(tree.AddSelection(top[1]));
  EXPECT_EQ(changes, after);
  EXPECT_EQ(tree.SelectionArray().size(), 1u);
  // A forced range over it does not list it twice.
  tree.SelectRange(top[0], top[3], true);
  EXPECT_EQ(tree.SelectionArray().size(), 6u) << "four top-level nodes and two children";
  EXPECT_EQ(tree.SelectedCount(), 6u);
  Check();
}

TEST_F(SelectionFixture, RemovingTheLastSelectedResetsTheAnchorToTheFocus) {
  tree.AddSelection(top[1]);
  tree.RemoveSelection(top[1]);
  EXPECT_EQ(tree.RangeAnchor(), tree.FocusedNode());
}

TEST_F(SelectionFixture, RemovalsDuringAnUpdateAreTombstonesUntilItEnds) {
  tree.AddSelection(top[1]);
  tree.AddSelection(top[3]);
  tree.BeginUpdate();
  tree.DeleteNode(top[1]);
  const auto& array = tree.SelectionArray();
  ASSERT_EQ(array.size(), 2u);
  EXPECT_EQ(std::count_if(array.begin(), array.end(), [](uintptr_t e) { return e & 1; }), 1)
      << "marked in place, never dereferenced";
  EXPECT_EQ(tree.SelectedCount(), 1u);
  tree.EndUpdate();
  ASSERT_EQ(tree.SelectionArray().size(), 1u);
  EXPECT_EQ(tree.SelectionArray()[0], reinterpret_cast<uintptr_t>(top[3]));
  Check();
}

TEST_F(SelectionFixture, DeletingASelectedNodeWhileTheSelectionIsLocked) {
  tree.AddSelection(top[1]);
  tree.SelectionLocked = true;
  tree.DeleteNode(top[1]);
  EXPECT_TRUE(tree.SelectionArray().empty()) << "no freed node stays listed";
  tree.SelectionLocked = false;
  Check();
}

TEST_F(SelectionFixture, SortedSelectionWithAncestorsAndDescendants) {
  struct TCase {
    std::vector<PLazyNode> selected;
    bool resolve;
    std::vector<PLazyNode> expected;
  } cases[] = {
      {{kid[1], top[2], top[0]}, false, {top[0], top[2], kid[1]}},
      {{kid[1], top[2], top[0]}, true, {top[0], top[2]}},
      {{kid[0], kid[1], top[4]}, true, {kid[0], kid[1], top[4]}},
      {{}, true, {}},
  };
  for (auto& c : cases) {
    tree.ClearSelection();
    for (PLazyNode n : c.selected) tree.AddSelection(n);
    EXPECT_EQ(tree.GetSortedSelection(c.resolve), c.expected);
  }
  tree.ClearSelection();
  EXPECT_EQ(tree.GetFirstSelected(), nullptr);
}

TEST_F(SelectionFixture, SelectAllThenDeleteSelected) {
  tree.SelectAll(false);
  EXPECT_EQ(tree.SelectedCount(), 7u);
  tree.BeginUpdate();
  for (PLazyNode n : tree.GetSortedSelection(true)) tree.DeleteNode(n);
  tree.EndUpdate();
  EXPECT_EQ(tree.SelectedCount(), 0u);
  EXPECT_TRUE(tree.SelectionArray().empty());
  EXPECT_EQ(tree.RootNode()->TotalCount, 1u);
  Check();
}

TEST_F(LazyTreeView, CheckStatePropagationTable) {
  PLazyNode parent = tree.AddChild(nullptr);
  PLazyNode a = tree.AddChild(parent);
  PLazyNode b = tree.AddChild(parent);
  parent->CheckType = ctTriStateCheckBox;
  a->CheckType = b->CheckType = ctCheckBox;
  struct TCase {
    PLazyNode node;
    TCheckState value;
    TCheckState parentAfter;
    TCheckState aAfter, bAfter;
  } cases[] = {
      {a, csCheckedNormal, csMixedNormal, csCheckedNormal, csUncheckedNormal},
      {b, csCheckedNormal, csCheckedNormal, csCheckedNormal, csCheckedNormal},
      {a, csUncheckedNormal, csMixedNormal, csUncheckedNormal, csCheckedNormal},
      {parent, csUncheckedNormal, csUncheckedNormal, csUncheckedNormal, csUncheckedNormal},
      {parent, csCheckedNormal, csCheckedNormal, csCheckedNormal, csCheckedNormal},
  };
  for (auto& c : cases) {
    tree.SetCheckState(c.node, c.value);
    EXPECT_EQ(parent->CheckState, c.parentAfter);
    EXPECT_EQ(a->CheckState, c.aAfter);
    EXPECT_EQ(b->CheckState, c.bAfter);
    EXPECT_FALSE(tree.States().Contains(tsCheckPropagation));
    EXPECT_FALSE(a->Has(nsChecking) || b->Has(nsChecking) || parent->Has(nsChecking));
  }
}

TEST_F(LazyTreeView, RadioButtonsUncheckTheirSiblings) {
  PLazyNode r[3];
  for (auto& n : r) {
    n = tree.AddChild(nullptr);
    n->CheckType = ctRadioButton;
  }
  PLazyNode box = tree.AddChild(nullptr);
  box->CheckType = ctCheckBox;
  box->CheckState = csCheckedNormal;
  tree.SetCheckState(r[0], csCheckedNormal);
  tree.SetCheckState(r[2], csCheckedNormal);
  EXPECT_EQ(r[0]->CheckState, csUncheckedNormal);
  EXPECT_EQ(r[1]->CheckState, csUncheckedNormal);
  EXPECT_EQ(r[2]->CheckState, csCheckedNormal);
  EXPECT_EQ(box->CheckState, csCheckedNormal) << "not a radio button";
}

TEST(LazyTreeViewStatic, NextCheckStateTable) {
  struct TCase {
    TCheckType type;
    TCheckState in, out;
  } cases[] = {
      {ctCheckBox, csCheckedNormal, csUncheckedNormal},
      {ctCheckBox, csCheckedPressed, csUncheckedNormal},
      {ctCheckBox, csUncheckedNormal, csCheckedNormal},
      {ctTriStateCheckBox, csMixedNormal, csCheckedNormal},
      {ctRadioButton, csUncheckedNormal, csCheckedNormal},
      {ctRadioButton, csCheckedNormal, csCheckedNormal},
      {ctButton, csCheckedNormal, csUncheckedNormal},
  };
  for (auto& c : cases) EXPECT_EQ(TLazyTreeView::NextCheckState(c.type, c.in), c.out);
}

TEST_F(LazyTreeView, LinkRestoresWhatUnlinkTook) {
  PLazyNode a = tree.AddChild(nullptr);
  PLazyNode b = tree.AddChild(nullptr);
  for (int i = 0; i < 3; ++i) tree.AddChild(tree.AddChild(a));
  tree.FullExpand();
  const uint32_t count = tree.RootNode()->TotalCount;
  const uint32_t height = tree.RootNode()->TotalHeight;
  const uint32_t visible = tree.VisibleNodeCount();
  PLazyNode moved = a->FirstChild;
  tree.UnlinkNode(moved, false, true);
  EXPECT_LT(tree.VisibleNodeCount(), visible);
  tree.ToggleNode(b);  // nothing to expand
  tree.LinkNode(moved, b, amAddChildLast);
  EXPECT_EQ(tree.RootNode()->TotalCount, count);
  EXPECT_EQ(tree.VisibleNodeCount(), visible - 2) << "b is collapsed: its new child is hidden";
  tree.ToggleNode(b);
  EXPECT_EQ(tree.RootNode()->TotalHeight, height);
  EXPECT_EQ(tree.VisibleNodeCount(), visible);
  Check();
  // A hidden only child hides all of its parent's children.
  tree.UnlinkNode(moved, false, true);
  moved->Exclude(nsVisible);
  tree.LinkNode(moved, b, amAddChildFirst);
  EXPECT_TRUE(b->Has(nsAllChildrenHidden));
  Check();
}

TEST_F(LazyTreeView, BadInputFailsItsAssertionBeforeAnythingChanges) {
  PLazyNode a = tree.AddChild(nullptr);
  EXPECT_THROW(tree.UnlinkNode(nullptr, false, true), EAssertionFailed);
  EXPECT_THROW(tree.UnlinkNode(tree.RootNode(), false, true), EAssertionFailed);
  EXPECT_THROW(tree.LinkNode(tree.RootNode(), a, amAddChildLast), EAssertionFailed);
  EXPECT_THROW(tree.LinkNode(a, tree.RootNode(), amInsertBefore), EAssertionFailed);
  EXPECT_THROW(tree.ToggleNode(nullptr), EAssertionFailed);
  EXPECT_THROW(tree.CompareNodePositions(a, nullptr), EAssertionFailed);
  EXPECT_THROW(tree.SelectRange(a, nullptr, false), EAssertionFailed);
  EXPECT_THROW(tree.AddSelection(static_cast<PLazyNode>(nullptr)), EAssertionFailed);
  EXPECT_THROW(tree.LevelDelta(a, nullptr), EAssertionFailed);
  EXPECT_THROW(tree.GetVisibleParent(tree.RootNode()), EAssertionFailed);
  EXPECT_EQ(tree.SelectedCount(), 0u);
  Check();
}

TEST_F(LazyTreeView, RangeFromAHiddenStartFallsBackToThePreviousVisibleNode) {
  PLazyNode a = tree.AddChild(nullptr);
  PLazyNode b = tree.AddChild(nullptr);
  PLazyNode hiddenChild = tree.AddChild(b);
  PLazyNode c = tree.AddChild(nullptr);
  tree.SelectRange(hiddenChild, c, false);  // b is collapsed: its child is not shown
  EXPECT_FALSE(a->Has(nsSelected));
  EXPECT_TRUE(b->Has(nsSelected));
  EXPECT_TRUE(c->Has(nsSelected));
  EXPECT_FALSE(hiddenChild->Has(nsSelected));
  tree.SelectRange(nullptr, b, false);
  EXPECT_TRUE(a->Has(nsSelected) && b->Has(nsSelected) && !c->Has(nsSelected));
}

TEST_F(LazyTreeView, BeginUpdateCountsWhileDestroying) {
  tree.destroyingFlag = true;
  tree.BeginUpdate();
  EXPECT_EQ(tree.UpdateCount(), 1u);
  tree.EndUpdate();
  EXPECT_EQ(tree.UpdateCount(), 0u);
  tree.destroyingFlag = false;
}

}  // namespace
}  // namespace kelm::lazytree

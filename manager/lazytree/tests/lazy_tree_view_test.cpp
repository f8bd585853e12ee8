// Selection, visible navigation, expansion, sorting and linking, checked
// against a brute-force pre-order model and the invariant checker.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>
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
  // Content edges for the rubber band; nodes without an entry span the row.
  std::map<PLazyNode, std::pair<int64_t, int64_t>> extents;
  bool GetBandExtent(PLazyNode node, int64_t& left, int64_t& right) override {
    auto it = extents.find(node);
    if (it == extents.end()) return false;
    left = it->second.first;
    right = it->second.second;
    return true;
  }

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
  // Children shown above their parent: every node after its subtree.
  std::vector<PLazyNode> PostOrder() {
    std::vector<PLazyNode> out;
    std::vector<std::pair<PLazyNode, bool>> stack;
    for (PLazyNode c = tree.RootNode()->LastChild; c; c = c->PrevSibling)
      stack.push_back({c, false});
    while (!stack.empty()) {
      auto [n, expanded] = stack.back();
      stack.pop_back();
      if (expanded) {
        out.push_back(n);
        continue;
      }
      stack.push_back({n, true});
      for (PLazyNode c = n->LastChild; c; c = c->PrevSibling) stack.push_back({c, false});
    }
    return out;
  }
  std::vector<PLazyNode> DisplayOrder() {
    return tree.Options.ChildrenAbove ? PostOrder() : PreOrder();
  }
  bool Shown(PLazyNode n) {
    for (; n != tree.RootNode(); n = n->Parent)
      if (!n->Has(nsVisible) || !n->Parent->Has(nsExpanded)) return false;
    return true;
  }
  std::vector<PLazyNode> VisibleOrder() {
    std::vector<PLazyNode> out;
    for (PLazyNode n : DisplayOrder())
      if (Shown(n)) out.push_back(n);
    return out;
  }
  // The node store's view against the brute-force model.
  void CheckAgainstModel(std::mt19937& rng) {
    Check();
    const std::vector<PLazyNode> all = DisplayOrder();
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
      const int got = tree.CompareNodePositions(a, b, true);
      ASSERT_EQ(got < 0 ? -1 : (got > 0 ? 1 : 0), expected);
    }
    // The selected nodes in display order, and in plain pre-order.
    std::vector<PLazyNode> expectedSelected;
    for (PLazyNode n : all)
      if (n->Has(nsSelected)) expectedSelected.push_back(n);
    std::vector<PLazyNode> selected;
    for (PLazyNode n = tree.GetFirstSelected(true); n; n = tree.GetNextSelected(n, true))
      selected.push_back(n);
    ASSERT_EQ(selected, expectedSelected);
    std::vector<PLazyNode> preOrderSelected;
    for (PLazyNode n : PreOrder())
      if (n->Has(nsSelected)) preOrderSelected.push_back(n);
    ASSERT_EQ(tree.GetSortedSelection(false), preOrderSelected);
    // The rows' tops as the display computes them.
    for (int i = 0; i < 5 && !visible.empty(); ++i) {
      PLazyNode n = visible[pick(rng) % visible.size()];
      int64_t expectedTop = 0;
      for (PLazyNode v : visible) {
        if (v == n) break;
        expectedTop += v->NodeHeight;
      }
      int64_t rowTop = -1;
      int64_t rowBottom = -1;
      ASSERT_TRUE(tree.GetDisplayRows(n, rowTop, rowBottom));
      ASSERT_EQ(rowTop, expectedTop);
      ASSERT_EQ(rowBottom, expectedTop + n->NodeHeight);
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
  for (uint32_t seed = 1; seed <= 8; ++seed) {
    std::mt19937 rng(seed);
    tree.Clear();
    tree.ViewOptions.MultiSelect = true;
    // Every other seed shows the children above their parents.
    tree.Options.ChildrenAbove = seed % 2 == 0;
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

TEST_F(SelectionFixture, RubberBandTable) {
  // Rows are 18 pixels high: visible row i spans [18 i, 18 i + 18).
  struct TCase {
    const char* name;
    std::vector<int> preselected;
    TBandRect oldRect, newRect;
    bool toggle, simple;
    bool changed;
    std::vector<int> expected;
  } cases[] = {
      {"the band grows over three rows",
       {},
       {5, 5, 5, 5},
       {0, 0, 100, 50},
       false,
       false,
       true,
       {0, 1, 2}},
      {"drawn upwards and leftwards",
       {},
       {100, 50, 100, 50},
       {100, 50, 0, 0},
       false,
       false,
       true,
       {0, 1, 2}},
      {"rows the band leaves are dropped",
       {0, 1, 2},
       {0, 0, 100, 50},
       {0, 0, 100, 20},
       false,
       false,
       true,
       {0, 1}},
      {"the band moves down",
       {0, 1},
       {0, 0, 100, 20},
       {0, 40, 100, 60},
       false,
       false,
       true,
       {2, 3}},
      {"toggling flips only rows entering or leaving",
       {1, 4, 6},
       {0, 0, 0, 0},
       {0, 0, 100, 80},
       true,
       false,
       true,
       {0, 2, 3, 6}},
      {"no row enters or leaves", {0}, {0, 0, 100, 10}, {0, 0, 100, 15}, false, false, false, {0}},
      {"left of a node's content misses it",
       {},
       {0, 0, 0, 0},
       {0, 0, 40, 50},
       false,
       false,
       true,
       {0, 2}},
      {"simple drawing counts the rows only",
       {},
       {0, 0, 0, 0},
       {0, 0, 40, 50},
       false,
       true,
       true,
       {0, 1, 2}},
      {"below the last row", {}, {0, 200, 10, 200}, {0, 200, 10, 400}, false, false, false, {}},
  };
  const std::vector<PLazyNode> visible = VisibleOrder();
  // Row 1's content lies at 50..80.
  tree.extents[visible[1]] = {50, 80};
  tree.DoStateChange({tsDrawSelecting});
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    tree.ClearSelection();
    for (int i : c.preselected) tree.AddSelection(visible[i]);
    tree.ViewOptions.SimpleDrawSelection = c.simple;
    EXPECT_EQ(tree.HandleDrawSelection(c.oldRect, c.newRect, c.toggle), c.changed);
    std::vector<PLazyNode> expected;
    for (int i : c.expected) expected.push_back(visible[i]);
    EXPECT_EQ(Selected(), expected);
    Check();
  }
}

// Over a random tree of mixed heights and content edges, every move of the
// band changes exactly the rows a brute-force walk finds entering or
// leaving it.
TEST_F(LazyTreeView, RubberBandAgreesWithTheRowsInsideIt) {
  std::mt19937 rng(11);
  tree.ViewOptions.MultiSelect = true;
  std::vector<PLazyNode> nodes;
  for (int i = 0; i < 150; ++i) {
    PLazyNode parent = nodes.empty() || rng() % 3 == 0 ? nullptr : nodes[rng() % nodes.size()];
    PLazyNode n = tree.AddChild(parent);
    if (rng() % 3 == 0) tree.SetNodeHeight(n, rng() % 30);  // zero heights too
    if (rng() % 2 == 0) {
      const int64_t left = rng() % 150;
      tree.extents[n] = {left, left + rng() % 60};
    }
    nodes.push_back(n);
  }
  tree.FullExpand();
  for (PLazyNode n : nodes)
    if (rng() % 6 == 0) tree.ToggleNode(n);
  tree.DoStateChange({tsDrawSelecting});
  const int height = static_cast<int>(tree.RootNode()->TotalHeight);
  auto randomRect = [&] {
    return TBandRect{static_cast<int32_t>(rng() % 220), static_cast<int32_t>(rng() % (height + 40)),
                     static_cast<int32_t>(rng() % 220),
                     static_cast<int32_t>(rng() % (height + 40))};
  };
  for (bool toggle : {false, true}) {
    SCOPED_TRACE(toggle ? "toggle" : "select");
    tree.ClearSelection();
    for (PLazyNode n : nodes)
      if (rng() % 4 == 0) tree.AddSelection(n);
    std::set<PLazyNode> before;
    for (PLazyNode n : nodes)
      if (n->Has(nsSelected)) before.insert(n);
    auto insideOf = [&](TBandRect band) {
      const TBandRect r = band.Normalized();
      std::set<PLazyNode> inside;
      int64_t top = 0;
      for (PLazyNode n : VisibleOrder()) {
        const int64_t bottom = top + n->NodeHeight;
        bool in = std::max<int64_t>(top, r.Top) < std::min<int64_t>(bottom, r.Bottom);
        auto it = tree.extents.find(n);
        if (in && it != tree.extents.end())
          in = std::max<int64_t>(it->second.first, r.Left) <
               std::min<int64_t>(it->second.second, r.Right);
        if (in) inside.insert(n);
        top = bottom;
      }
      return inside;
    };
    TBandRect band = randomRect();
    std::set<PLazyNode> wasInside = insideOf(band);
    std::set<PLazyNode> expected = before;
    for (int move = 0; move < 60; ++move) {
      const TBandRect next = randomRect();
      tree.HandleDrawSelection(band, next, toggle);
      band = next;
      // A row changes when it enters or leaves the band: toggled with Ctrl,
      // else selected while inside.
      const std::set<PLazyNode> inside = insideOf(band);
      for (PLazyNode n : nodes) {
        const bool in = inside.count(n) > 0;
        if (in == (wasInside.count(n) > 0)) continue;
        const bool selectedNow = toggle ? expected.count(n) == 0 : in;
        if (selectedNow) {
          expected.insert(n);
        } else {
          expected.erase(n);
        }
      }
      wasInside = inside;
      std::set<PLazyNode> selected;
      for (PLazyNode n : nodes)
        if (n->Has(nsSelected)) selected.insert(n);
      ASSERT_EQ(selected, expected) << "move " << move;
      ASSERT_EQ(tree.SelectedCount(), selected.size());
    }
  }
  Check();
}

TEST_F(SelectionFixture, RubberBandChangesNothingUnlessItDraws) {
  const TBandRect all{0, 0, 100, 200};
  EXPECT_FALSE(tree.HandleDrawSelection({}, all, false)) << "not drawing a selection";
  EXPECT_EQ(tree.SelectedCount(), 0u);
  tree.DoStateChange({tsDrawSelecting});
  // A disabled row is collected but never selected: nothing changed.
  top[1]->Include(nsDisabled);
  EXPECT_FALSE(tree.HandleDrawSelection({}, {0, 20, 100, 30}, false));
  EXPECT_EQ(tree.SelectedCount(), 0u);
  // A band that leaves every row it selected leaves no anchor on them.
  top[1]->Exclude(nsDisabled);
  tree.SetAnchor(nullptr);
  EXPECT_TRUE(tree.HandleDrawSelection({}, {0, 20, 100, 30}, false));
  EXPECT_EQ(tree.RangeAnchor(), top[1]);
  EXPECT_TRUE(tree.HandleDrawSelection({0, 20, 100, 30}, {0, 92, 100, 100}, false));
  EXPECT_EQ(tree.SelectedCount(), 1u) << "row 5 now";
  EXPECT_TRUE(tree.HandleDrawSelection({0, 92, 100, 100}, {0, 200, 100, 210}, false));
  EXPECT_EQ(tree.SelectedCount(), 0u);
  EXPECT_EQ(tree.RangeAnchor(), tree.FocusedNode());
  tree.Clear();
  EXPECT_FALSE(tree.HandleDrawSelection({}, all, false)) << "an empty tree";
}

TEST(LazyTreeViewStatic, BandPlacementTable) {
  struct TCase {
    uint8_t alignment;
    bool rtl;
    int64_t left, right;
  } cases[] = {
      {0, false, 30, 60}, {1, false, 80, 110}, {2, false, 55, 85},
      {0, true, 60, 90},  {1, true, 10, 40},   {2, true, 35, 65},
  };
  for (auto& c : cases) {
    TBandPlacement p;
    p.SpanLeft = 10;
    p.SpanRight = 110;
    p.Lead = 20;
    p.TextWidth = 30;
    p.Alignment = c.alignment;
    p.RightToLeft = c.rtl;
    int64_t left = 0;
    int64_t right = 0;
    p.Place(left, right);
    EXPECT_EQ(left, c.left) << int(c.alignment) << c.rtl;
    EXPECT_EQ(right, c.right) << int(c.alignment) << c.rtl;
  }
}

TEST_F(LazyTreeView, FinishingACutDeletesTheMarkedNodes) {
  PLazyNode a = tree.AddChild(nullptr);
  PLazyNode a1 = tree.AddChild(a);
  PLazyNode a2 = tree.AddChild(a);
  PLazyNode a21 = tree.AddChild(a2);
  PLazyNode b = tree.AddChild(nullptr);
  PLazyNode c = tree.AddChild(nullptr);
  PLazyNode c1 = tree.AddChild(c);
  PLazyNode d = tree.AddChild(nullptr);
  for (PLazyNode n : {a2, a21, b, c1, d}) n->Include(nsCutOrCopy);
  tree.FinishCut();
  EXPECT_EQ(tree.RootNode()->TotalCount, 9u) << "no cut pending: nothing goes";
  tree.DoStateChange({tsCutPending});
  tree.FinishCut();
  EXPECT_FALSE(tree.States().Contains(tsCutPending));
  EXPECT_EQ(PreOrder(), (std::vector<PLazyNode>{a, a1, c}));
  EXPECT_EQ(a1->Index, 0u);
  EXPECT_FALSE(c->Has(nsHasChildren)) << "its last child went";
  Check();
}

TEST_F(LazyTreeView, ChildrenAboveOrderTable) {
  PLazyNode a = tree.AddChild(nullptr);
  PLazyNode a1 = tree.AddChild(a);
  PLazyNode a2 = tree.AddChild(a);
  PLazyNode b = tree.AddChild(nullptr);
  tree.ToggleNode(a);
  tree.Options.ChildrenAbove = true;
  struct TCase {
    const char* name;
    PLazyNode got, expected;
  } cases[] = {
      {"first shown", tree.GetFirstVisible(), a1},
      {"first shown, plain order", tree.GetFirstVisible(nullptr, false), a},
      {"after the last child comes the parent", tree.GetNextVisible(a2), a},
      {"after the parent its sibling", tree.GetNextVisible(a), b},
      {"before the parent its last child", tree.GetPreviousVisible(a), a2},
      {"before the sibling the parent", tree.GetPreviousVisible(b), a},
      {"last shown", tree.GetLastVisible(), b},
      {"last shown, plain order", tree.GetLastVisible(nullptr, false), b},
      {"last below a", tree.GetLastVisible(a), a2},
  };
  for (auto& c : cases) EXPECT_EQ(c.got, c.expected) << c.name;
  EXPECT_GT(tree.CompareNodePositions(a, a1, true), 0);
  EXPECT_LT(tree.CompareNodePositions(a, a1, false), 0);
  tree.AddSelection(a);
  tree.AddSelection(a2);
  EXPECT_EQ(tree.GetFirstSelected(true), a2);
  EXPECT_EQ(tree.GetFirstSelected(false), a);
  // A node inside a collapsed parent sits just before that parent.
  tree.ToggleNode(a);
  EXPECT_EQ(tree.GetNextVisible(a1), a);
  EXPECT_EQ(tree.GetPreviousVisible(a1), nullptr);
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

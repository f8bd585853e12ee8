#include "tree_invariants.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kelm::test {

using namespace lazytree;

namespace {

struct TChecker {
  const TLazyTreeModel& tree;
  bool consecutive;
  std::string error;
  uint64_t visible = 0;
  uint64_t selected = 0;

  bool Fail(const std::string& what, PLazyNode node) {
    if (error.empty())
      error = what + " at node " + std::to_string(reinterpret_cast<uintptr_t>(node));
    return false;
  }

  // Explicit stack: nested chains may be deep.
  bool Check(PLazyNode root) {
    struct TFrame {
      PLazyNode node;
      bool shown;  // fully visible path to this node
    };
    std::vector<TFrame> order;
    std::vector<TFrame> stack{{root, true}};
    while (!stack.empty()) {
      TFrame f = stack.back();
      stack.pop_back();
      order.push_back(f);
      PLazyNode n = f.node;
      uint32_t count = 0;
      PLazyNode previous = nullptr;
      for (PLazyNode c = n->FirstChild; c; c = c->NextSibling) {
        if (c->Parent != n) return Fail("child's Parent", c);
        if (c->PrevSibling != previous) return Fail("PrevSibling", c);
        if (consecutive ? c->Index != count : (previous && c->Index <= previous->Index))
          return Fail("Index", c);
        if (c->Has(nsDeleting | nsClearing)) return Fail("deleting flags left", c);
        const bool shown = n->Has(nsExpanded) && c->Has(nsVisible) && (n == root || f.shown);
        if (shown) ++visible;
        if (c->Has(nsSelected)) ++selected;
        stack.push_back({c, shown});
        previous = c;
        if (++count > n->TotalCount) return Fail("sibling loop", c);
      }
      if (n->LastChild != previous) return Fail("LastChild", n);
      if (count != n->ChildCount) return Fail("ChildCount", n);
      if (count > 0 && !n->Has(nsHasChildren)) return Fail("nsHasChildren missing", n);
      if (n->Has(nsAllChildrenHidden)) {
        for (PLazyNode c = n->FirstChild; c; c = c->NextSibling) {
          if (c->Has(nsVisible)) return Fail("nsAllChildrenHidden with a visible child", n);
        }
      }
      if (n != root && n->Has(nsExpanded) && count == 0)
        return Fail("expanded without children", n);
    }
    // Totals bottom-up: children come after their parent in order.
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
      PLazyNode n = it->node;
      uint64_t total = 1;
      uint64_t height = n->NodeHeight;
      for (PLazyNode c = n->FirstChild; c; c = c->NextSibling) {
        total += c->TotalCount;
        if (n->Has(nsExpanded) && c->Has(nsVisible)) height += c->TotalHeight;
      }
      if (total != n->TotalCount) return Fail("TotalCount", n);
      if (height != n->TotalHeight) return Fail("TotalHeight", n);
    }
    return true;
  }
};

}  // namespace

std::string CheckTreeInvariants(const TLazyTreeModel& tree, const void* sender,
                                bool consecutiveIndexes) {
  PLazyNode root = tree.RootNode();
  TChecker checker{tree, consecutiveIndexes, {}};
  if (!root) return "no root";
  if (reinterpret_cast<const void*>(root->Parent) != sender) return "root's Parent is not the tree";
  if (root->PrevSibling != root || root->NextSibling != root) return "root's siblings";
  // Has-children follows the children: clearing the tree resets it.
  const uint16_t rootStates = nsInitialized | nsExpanded | nsVisible;
  if ((root->States & rootStates) != rootStates) return "root states";
  if (root->NodeHeight != tree.DefaultNodeHeight()) return "root height";
  if (!checker.Check(root)) return checker.error;
  if (checker.visible != tree.VisibleNodeCount()) {
    return "VisibleNodeCount " + std::to_string(tree.VisibleNodeCount()) +
           " != " + std::to_string(checker.visible);
  }
  if (checker.selected != tree.SelectedCount()) return "SelectedCount";
  if (tree.UpdateCount() == 0 && tree.States().Contains(lazytree::tsUpdating))
    return "tsUpdating outside updates";
  return {};
}

}  // namespace kelm::test

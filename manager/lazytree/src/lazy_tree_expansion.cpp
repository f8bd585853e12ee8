#include "lazytree/lazy_tree_view.h"

#include <algorithm>

#include "lazytree/lazy_tree_error.h"

namespace kelm::lazytree {

namespace {

constexpr char16_t kNodeNotNil[] = u"Node must not be nil.";

}  // namespace

// ---- expansion

bool TLazyTreeView::DoCollapsing(PLazyNode /*node*/) { return true; }
bool TLazyTreeView::DoExpanding(PLazyNode /*node*/) { return true; }
void TLazyTreeView::DoCollapsed(PLazyNode /*node*/) {}
void TLazyTreeView::DoExpanded(PLazyNode /*node*/) {}

void TLazyTreeView::ToggleNode(PLazyNode node) {
  LT_ASSERT(node, kNodeNotNil);
  if (node == RootNode() || node->Has(nsToggling | nsDeleting)) return;
  const bool collapse = node->Has(nsExpanded);
  if (collapse ? !DoCollapsing(node) : !DoExpanding(node)) return;
  HaltCacheValidation();
  const bool enterToggling = !States().Contains(tsToggling);
  if (enterToggling) DoStateChange({tsToggling});
  node->Include(nsToggling);
  bool changed = false;
  auto finish = [&] {
    node->Exclude(nsToggling);
    if (enterToggling) DoStateChange({}, {tsToggling});
  };
  try {
    if (collapse) {
      const uint32_t below = FullyVisible(node) ? VisibleDescendants(node) : 0;
      AdjustTotalHeight(node, node->NodeHeight, false);
      SetVisibleNodeCount(VisibleNodeCount() - below);
      node->Exclude(nsExpanded);
      changed = true;
      DoCollapsed(node);
      if (ViewOptions.AutoFreeOnCollapse) {
        DeleteChildren(node, false);
        node->Include(nsHasChildren);
      }
    } else {
      if (!node->Has(nsInitialized)) InitNode(node);
      if (node->Has(nsHasChildren) && node->ChildCount == 0) InitChildren(node);
      if (node->ChildCount > 0 && !node->Has(nsExpanded)) {
        int64_t height = node->NodeHeight;
        for (PLazyNode c = node->FirstChild; c; c = c->NextSibling)
          if (c->Has(nsVisible)) height += c->TotalHeight;
        node->Include(nsExpanded);
        AdjustTotalHeight(node, height, false);
        if (FullyVisible(node)) SetVisibleNodeCount(VisibleNodeCount() + VisibleDescendants(node));
        changed = true;
        DoExpanded(node);
      }
    }
  } catch (...) {
    finish();
    throw;
  }
  finish();
  MarkCacheStale();
  if (UpdateCount() == 0) {
    ValidateCache();
    if (changed) UpdateScrollBars(true);
    if (changed && node->Has(nsExpanded) && ViewOptions.AutoScrollOnExpand &&
        ScrollExpandedIntoView(node)) {
      UpdateScrollBars(true);
      InvalidateAll();
    } else if (node->ChildCount > 0) {
      InvalidateToBottom(node);
    } else {
      InvalidateNode(node);
    }
  }
}

void TLazyTreeView::SetExpanded(PLazyNode node, bool value) {
  if (node && node != RootNode() && node->Has(nsExpanded) != value) ToggleNode(node);
}

void TLazyTreeView::FullExpand(PLazyNode node) {
  if (RootNode()->TotalCount < 2) return;
  DoStateChange({tsExpanding});
  BeginUpdate();
  try {
    PLazyNode stop = nullptr;
    PLazyNode n = node;
    if (n && n != RootNode()) {
      stop = NodeAfterSubtree(n);
      if (!n->Has(nsInitialized)) InitNode(n);
    } else {
      n = GetFirst();
    }
    while (n && n != stop) {
      if (!n->Has(nsExpanded)) ToggleNode(n);
      n = GetNext(n);
    }
  } catch (...) {
    EndUpdate();
    DoStateChange({}, {tsExpanding});
    throw;
  }
  EndUpdate();
  DoStateChange({}, {tsExpanding});
}

void TLazyTreeView::FullCollapse(PLazyNode node) {
  if (RootNode()->TotalCount < 2) return;
  if (node == RootNode()) node = nullptr;
  DoStateChange({tsCollapsing});
  BeginUpdate();
  try {
    PLazyNode n = node ? (FullyVisible(node) ? LastVisible(node, false) : node)
                       : GetLastVisibleNoInit(nullptr, false);
    while (n) {
      if (n->Has(nsExpanded) && n->ChildCount > 0) ToggleNode(n);
      if (n == node) break;
      n = GetPreviousNoInit(n);
    }
  } catch (...) {
    EndUpdate();
    DoStateChange({}, {tsCollapsing});
    throw;
  }
  EndUpdate();
  DoStateChange({}, {tsCollapsing});
}

// ---- sorting

int TLazyTreeView::DoCompareNodes(PLazyNode /*node1*/, PLazyNode /*node2*/, int /*column*/) {
  return 0;
}

void TLazyTreeView::Sort(PLazyNode node, int column, TSortDirection direction, bool doInit) {
  HaltCacheValidation();
  if (States().Contains(tsEditPending)) {
    StopTimer(EditTimer);
    DoStateChange({}, {tsEditPending});
  }
  if (States().Contains(tsEditing) && !EndEditing()) return;
  if (!node) node = RootNode();
  if (!node->Has(nsHasChildren)) return;
  if (doInit) {
    if (node->ChildCount == 0) InitChildren(node);
    for (PLazyNode c = node->FirstChild; c; c = c->NextSibling)
      if (!c->Has(nsInitialized)) InitNode(c);
  }
  if (node->ChildCount > 1) {
    std::vector<PLazyNode> items;
    items.reserve(node->ChildCount);
    for (PLazyNode c = node->FirstChild; c; c = c->NextSibling) items.push_back(c);
    std::vector<PLazyNode> buffer(items.size());
    // Top-down merge sort: the second run's head goes first only when it
    // is strictly ordered before the first's, so equal nodes keep order.
    auto before = [&](PLazyNode first, PLazyNode second) {
      const int result = DoCompareNodes(first, second, column);
      return direction == sdAscending ? result > 0 : result < 0;
    };
    std::function<void(size_t, size_t)> sortRun = [&](size_t from, size_t count) {
      if (count < 2) return;
      const size_t left = count / 2;
      sortRun(from, left);
      sortRun(from + left, count - left);
      size_t a = from;
      size_t b = from + left;
      const size_t aEnd = b;
      const size_t bEnd = from + count;
      size_t out = from;
      while (a < aEnd && b < bEnd)
        buffer[out++] = before(items[a], items[b]) ? items[b++] : items[a++];
      while (a < aEnd) buffer[out++] = items[a++];
      while (b < bEnd) buffer[out++] = items[b++];
      std::copy(buffer.begin() + static_cast<ptrdiff_t>(from),
                buffer.begin() + static_cast<ptrdiff_t>(from + count),
                items.begin() + static_cast<ptrdiff_t>(from));
    };
    sortRun(0, items.size());
    PLazyNode previous = nullptr;
    uint32_t index = 0;
    for (PLazyNode c : items) {
      c->PrevSibling = previous;
      c->NextSibling = nullptr;
      c->Index = index++;
      if (previous) previous->NextSibling = c;
      previous = c;
    }
    node->FirstChild = items.front();
    node->LastChild = items.back();
    MarkCacheStale();
  }
  if (UpdateCount() == 0) {
    ValidateCache();
    InvalidateAll();
  }
}

void TLazyTreeView::SortTree(int column, TSortDirection direction, bool doInit) {
  AdjustUpdateCount(1);
  try {
    if (column >= -1) {
      std::vector<PLazyNode> pending{RootNode()};
      while (!pending.empty()) {
        PLazyNode n = pending.back();
        pending.pop_back();
        Sort(n, column, direction, doInit);
        for (PLazyNode c = n->FirstChild; c; c = c->NextSibling) {
          if (doInit && !c->Has(nsInitialized)) InitNode(c);
          if (c->Has(nsInitialized) && c->FirstChild) pending.push_back(c);
        }
      }
    }
    MarkCacheStale();
  } catch (...) {
    AdjustUpdateCount(-1);
    throw;
  }
  AdjustUpdateCount(-1);
  if (UpdateCount() == 0) {
    ValidateCache();
    InvalidateAll();
  }
}

}  // namespace kelm::lazytree

#include "lazytree/lazy_tree_view.h"

#include "lazytree/lazy_tree_error.h"

namespace kelm::lazytree {

namespace {

constexpr char16_t kNodeNotRoot[] = u"Node must not be the hidden root node.";
constexpr char16_t kNodeNotNil[] = u"Node must not be nil.";
constexpr char16_t kInvalid[] = u"Invalid parameter.";

}  // namespace

// ---- visibility

bool TLazyTreeView::IsVisible(PLazyNode node) {
  if (!node) node = RootNode();
  if (!node->Has(nsInitialized)) InitNode(node);
  return node->Has(nsVisible);
}

PLazyNode TLazyTreeView::GetVisibleParent(PLazyNode node) const {
  LT_ASSERT(node, kNodeNotNil);
  LT_ASSERT(node != RootNode(), kNodeNotRoot);
  PLazyNode n = node->Parent;
  while (n != RootNode() && !FullyVisible(n)) n = n->Parent;
  return n;
}

PLazyNode TLazyTreeView::TopOfBlock(PLazyNode node, bool init) {
  // Under children-above order a shown node's block starts with the block
  // of its first shown child.
  while (node->Has(nsExpanded)) {
    if (init && node->Has(nsHasChildren) && node->ChildCount == 0) InitChildren(node);
    PLazyNode c = node->FirstChild;
    while (c) {
      if (init && !c->Has(nsInitialized)) InitNode(c);
      if (c->Has(nsVisible)) break;
      c = c->NextSibling;
    }
    if (!c) break;
    node = c;
  }
  return node;
}

PLazyNode TLazyTreeView::PreviousBlock(PLazyNode node, bool init) {
  for (PLazyNode n = node; n != RootNode(); n = n->Parent) {
    for (PLazyNode s = n->PrevSibling; s; s = s->PrevSibling) {
      if (init && !s->Has(nsInitialized)) InitNode(s);
      if (s->Has(nsVisible)) return s;
    }
  }
  return nullptr;
}

namespace {
PLazyNode TopLevelOf(PLazyNode node, PLazyNode root) {
  while (node->Parent != root) node = node->Parent;
  return node;
}
}  // namespace

PLazyNode TLazyTreeView::NextVisible(PLazyNode node, bool init, bool above) {
  LT_ASSERT(node != RootNode(), kNodeNotRoot);
  if (!node) return nullptr;
  auto visit = [&](PLazyNode n) {
    if (init && !n->Has(nsInitialized)) InitNode(n);
    return n->Has(nsVisible);
  };
  if (above) {
    if (!FullyVisible(node)) {
      // A node that is not shown sits inside its shown parent's block, which
      // ends with that parent.
      PLazyNode parent = GetVisibleParent(node);
      if (parent != RootNode()) return parent;
      node = TopLevelOf(node, RootNode());
    }
    for (PLazyNode s = node->NextSibling; s; s = s->NextSibling)
      if (visit(s)) return TopOfBlock(s, init);
    return node->Parent == RootNode() ? nullptr : node->Parent;
  }
  if (!FullyVisible(node)) node = GetVisibleParent(node);
  if (node->Has(nsExpanded)) {
    if (init && node->Has(nsHasChildren) && node->ChildCount == 0) InitChildren(node);
    for (PLazyNode c = node->FirstChild; c; c = c->NextSibling)
      if (visit(c)) return c;
  }
  for (PLazyNode n = node; n != RootNode(); n = n->Parent) {
    for (PLazyNode s = n->NextSibling; s; s = s->NextSibling)
      if (visit(s)) return s;
  }
  return nullptr;
}

PLazyNode TLazyTreeView::LastVisible(PLazyNode node, bool init) {
  // The deepest last shown descendant, or the node itself.
  for (;;) {
    if (!node->Has(nsExpanded)) return node;
    if (init && node->Has(nsHasChildren) && node->ChildCount == 0) InitChildren(node);
    PLazyNode c = node->LastChild;
    while (c) {
      if (init && !c->Has(nsInitialized)) InitNode(c);
      if (c->Has(nsVisible)) break;
      c = c->PrevSibling;
    }
    if (!c) return node;
    node = c;
  }
}

PLazyNode TLazyTreeView::PreviousVisible(PLazyNode node, bool init, bool above) {
  LT_ASSERT(node != RootNode(), kNodeNotRoot);
  if (!node) return nullptr;
  if (above) {
    if (!FullyVisible(node)) {
      PLazyNode parent = GetVisibleParent(node);
      return PreviousBlock(parent != RootNode() ? parent : TopLevelOf(node, RootNode()), init);
    }
    if (node->Has(nsExpanded)) {
      if (init && node->Has(nsHasChildren) && node->ChildCount == 0) InitChildren(node);
      for (PLazyNode c = node->LastChild; c; c = c->PrevSibling) {
        if (init && !c->Has(nsInitialized)) InitNode(c);
        if (c->Has(nsVisible)) return c;
      }
    }
    return PreviousBlock(node, init);
  }
  if (!FullyVisible(node)) {
    PLazyNode parent = GetVisibleParent(node);
    return parent == RootNode() ? nullptr : parent;
  }
  for (PLazyNode s = node->PrevSibling; s; s = s->PrevSibling) {
    if (init && !s->Has(nsInitialized)) InitNode(s);
    if (s->Has(nsVisible)) return LastVisible(s, init);
  }
  return node->Parent == RootNode() ? nullptr : node->Parent;
}

PLazyNode TLazyTreeView::FirstVisibleBelow(PLazyNode node, bool init, bool above) {
  if (!node) node = RootNode();
  if (!node->Has(nsHasChildren)) return nullptr;
  if (init && node->ChildCount == 0) InitChildren(node);
  PLazyNode n = node->FirstChild;
  if (!n) return nullptr;
  for (;;) {
    if (init && !n->Has(nsInitialized)) InitNode(n);
    if (n->Has(nsVisible)) return above ? TopOfBlock(n, init) : n;
    while (n != RootNode() && !n->NextSibling) n = n->Parent;
    if (n == RootNode()) return nullptr;
    n = n->NextSibling;
  }
}

PLazyNode TLazyTreeView::GetFirstVisible(PLazyNode node, bool considerChildrenAbove) {
  return FirstVisibleBelow(node, true, Above(considerChildrenAbove));
}
PLazyNode TLazyTreeView::GetFirstVisibleNoInit(PLazyNode node, bool considerChildrenAbove) {
  return FirstVisibleBelow(node, false, Above(considerChildrenAbove));
}
PLazyNode TLazyTreeView::GetNextVisible(PLazyNode node, bool considerChildrenAbove) {
  return NextVisible(node, true, Above(considerChildrenAbove));
}
PLazyNode TLazyTreeView::GetNextVisibleNoInit(PLazyNode node, bool considerChildrenAbove) {
  return NextVisible(node, false, Above(considerChildrenAbove));
}
PLazyNode TLazyTreeView::GetPreviousVisible(PLazyNode node, bool considerChildrenAbove) {
  return PreviousVisible(node, true, Above(considerChildrenAbove));
}
PLazyNode TLazyTreeView::GetPreviousVisibleNoInit(PLazyNode node, bool considerChildrenAbove) {
  return PreviousVisible(node, false, Above(considerChildrenAbove));
}

PLazyNode TLazyTreeView::GetLastVisible(PLazyNode node, bool considerChildrenAbove) {
  if (!node) node = RootNode();
  if (node != RootNode() && !FullyVisible(node)) return nullptr;
  // Under children-above order the last shown child ends the block.
  if (Above(considerChildrenAbove)) return GetLastVisibleChild(node);
  PLazyNode result = LastVisible(node, true);
  return result == node ? nullptr : result;
}

PLazyNode TLazyTreeView::GetLastVisibleNoInit(PLazyNode node, bool considerChildrenAbove) {
  if (!node) node = RootNode();
  if (node != RootNode() && !FullyVisible(node)) return nullptr;
  if (Above(considerChildrenAbove)) {
    if (!node->Has(nsExpanded)) return nullptr;
    PLazyNode c = node->LastChild;
    while (c && !c->Has(nsVisible)) c = c->PrevSibling;
    return c;
  }
  PLazyNode result = LastVisible(node, false);
  return result == node ? nullptr : result;
}

PLazyNode TLazyTreeView::GetFirstVisibleChild(PLazyNode node) {
  PLazyNode c = GetFirstChild(node);
  if (c && !c->Has(nsVisible)) c = GetNextVisibleSibling(c);
  return c;
}

PLazyNode TLazyTreeView::GetLastVisibleChild(PLazyNode node) {
  if (!node) node = RootNode();
  if (node != RootNode() && (!FullyVisible(node) || !node->Has(nsExpanded))) return nullptr;
  PLazyNode c = GetLastChild(node);
  if (c && !c->Has(nsVisible)) c = GetPreviousVisibleSibling(c);
  return c;
}

PLazyNode TLazyTreeView::GetNextVisibleSibling(PLazyNode node) {
  LT_ASSERT(node && node != RootNode(), kInvalid);
  PLazyNode s = node;
  do {
    s = GetNextSibling(s);
  } while (s && !s->Has(nsVisible));
  return s;
}

PLazyNode TLazyTreeView::GetPreviousVisibleSibling(PLazyNode node) {
  LT_ASSERT(node && node != RootNode(), kInvalid);
  PLazyNode s = node;
  do {
    s = GetPreviousSibling(s);
  } while (s && !s->Has(nsVisible));
  return s;
}

bool TLazyTreeView::IsLeadingVisibleChild(PLazyNode parent, PLazyNode node) const {
  if (!parent) parent = RootNode();
  PLazyNode c = parent->FirstChild;
  while (c && !c->Has(nsVisible)) c = c->NextSibling;
  return c && c == node;
}

bool TLazyTreeView::IsTrailingVisibleChild(PLazyNode parent, PLazyNode node) const {
  if (!parent) parent = RootNode();
  PLazyNode c = parent->LastChild;
  while (c && !c->Has(nsVisible)) c = c->PrevSibling;
  return c && c == node;
}

bool TLazyTreeView::HasVisibleNextSibling(PLazyNode node) const {
  for (PLazyNode s = node->NextSibling; s; s = s->NextSibling)
    if (s->Has(nsVisible)) return true;
  return false;
}

bool TLazyTreeView::HasVisiblePreviousSibling(PLazyNode node) const {
  for (PLazyNode s = node->PrevSibling; s; s = s->PrevSibling)
    if (s->Has(nsVisible)) return true;
  return false;
}

int TLazyTreeView::CompareNodePositions(PLazyNode node1, PLazyNode node2,
                                        bool considerChildrenAbove) {
  LT_ASSERT(node1 && node2, u"Nodes must never be nil.");
  if (node1 == node2) return 0;
  const bool above = considerChildrenAbove && Options.ChildrenAbove;
  if (HasAsParent(node1, node2)) return above ? -1 : 1;
  if (HasAsParent(node2, node1)) return above ? 1 : -1;
  uint32_t level1 = GetNodeLevel(node1);
  uint32_t level2 = GetNodeLevel(node2);
  for (; level1 > level2; --level1) node1 = node1->Parent;
  for (; level2 > level1; --level2) node2 = node2->Parent;
  while (node1->Parent != node2->Parent) {
    node1 = node1->Parent;
    node2 = node2->Parent;
  }
  return node1->Index < node2->Index ? -1 : (node1->Index > node2->Index ? 1 : 0);
}

bool TLazyTreeView::GetDisplayRows(PLazyNode node, int64_t& top, int64_t& bottom, bool init) {
  LT_ASSERT(node, kNodeNotNil);
  LT_ASSERT(node != RootNode(), kNodeNotRoot);
  top = bottom = 0;
  if (init && !node->Has(nsInitialized)) InitNode(node);
  if (!FullyVisible(node)) return false;
  uint32_t y = 0;
  PLazyNode n = nullptr;
  if (States().Contains(tsUseCache)) n = FindCacheEntryByNode(node, y);
  if (!n) {
    n = GetFirstVisibleNoInit();
    y = 0;
  }
  for (; n && n != node; n = GetNextVisibleNoInit(n)) y += NodeHeight(n);
  top = static_cast<int64_t>(y) + VerticalOffset();
  bottom = top + NodeHeight(node);
  return true;
}

void TLazyTreeView::SetChildrenAbove(bool value) {
  if (Options.ChildrenAbove == value) return;
  // The fill reads the option: it is off the tree before the order changes.
  HaltCacheValidation();
  Options.ChildrenAbove = value;
  MarkCacheStale();
  if (UpdateCount() == 0) ValidateCache();
}

}  // namespace kelm::lazytree

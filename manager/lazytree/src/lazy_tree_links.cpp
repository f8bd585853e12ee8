#include "lazytree/lazy_tree_view.h"

#include "lazytree/lazy_tree_error.h"

namespace kelm::lazytree {

namespace {

// Link keeps every state but the transient ones.
constexpr uint16_t kLinkKeepMask = 0xF7E9;
bool IsChecked(uint8_t state) { return state == csCheckedNormal || state == csCheckedPressed; }
bool IsMixed(uint8_t state) { return state == csMixedNormal || state == csMixedPressed; }
bool IsCheckBoxType(uint8_t type) { return type == ctTriStateCheckBox || type == ctCheckBox; }

}  // namespace

// ---- linking and counting

void TLazyTreeView::LinkNode(PLazyNode node, PLazyNode destination, TLTNodeAttachMode mode) {
  LT_ASSERT(node && node != RootNode(), u"Node must neither be nil nor the root node.");
  LT_ASSERT(destination, u"Destination must not be nil.");
  LT_ASSERT(mode == amAddChildFirst || mode == amAddChildLast || destination != RootNode(),
            u"The root node has no siblings.");
  if (mode == amNoWhere) return;
  HaltCacheValidation();
  PLazyNode parent =
      (mode == amInsertBefore || mode == amInsertAfter) ? destination->Parent : destination;
  PLazyNode before = nullptr;  // the node goes in front of this one, or last
  switch (mode) {
    case amInsertBefore:
      before = destination;
      break;
    case amInsertAfter:
      before = destination->NextSibling;
      break;
    case amAddChildFirst:
      before = parent->FirstChild;
      break;
    default:
      before = nullptr;
      break;
  }
  node->Parent = parent;
  node->NextSibling = before;
  node->PrevSibling = before ? before->PrevSibling : parent->LastChild;
  if (node->PrevSibling) {
    node->PrevSibling->NextSibling = node;
  } else {
    parent->FirstChild = node;
  }
  if (before) {
    before->PrevSibling = node;
  } else {
    parent->LastChild = node;
  }
  uint32_t index = node->PrevSibling ? node->PrevSibling->Index + 1 : 0;
  for (PLazyNode n = node; n; n = n->NextSibling) n->Index = index++;
  node->States = static_cast<uint16_t>(node->States & kLinkKeepMask);
  ++parent->ChildCount;
  parent->Include(nsHasChildren);
  AdjustTotalCount(parent, node->TotalCount, true);
  if (parent->Has(nsExpanded) && node->Has(nsVisible))
    AdjustTotalHeight(parent, node->TotalHeight, true);
  if (FullyVisible(node)) SetVisibleNodeCount(VisibleNodeCount() + 1 + VisibleDescendants(node));
  if (parent != RootNode()) {
    if (node->Has(nsVisible)) {
      parent->Exclude(nsAllChildrenHidden);
    } else if (parent->ChildCount == 1) {
      parent->Include(nsAllChildrenHidden);
    }
  }
  MarkCacheStale();
}

void TLazyTreeView::UnlinkNode(PLazyNode node, bool keepFocus, bool reindex) {
  LT_ASSERT(node && node != RootNode(), u"Node must neither be nil nor the root node.");
  HaltCacheValidation();
  DisconnectNode(node, keepFocus, reindex);
  MarkCacheStale();
}

int TLazyTreeView::LevelDelta(PLazyNode node1, PLazyNode node2) const {
  LT_ASSERT(node1 && node2, u"Both nodes must be Assigned.");
  return static_cast<int>(GetNodeLevel(node2)) - static_cast<int>(GetNodeLevel(node1));
}

uint32_t TLazyTreeView::VisibleDescendantCount(PLazyNode node) const {
  return node && node->Has(nsExpanded) ? VisibleDescendants(node) : 0;
}

// ---- check states

TCheckState TLazyTreeView::NextCheckState(TCheckType checkType, TCheckState checkState) {
  switch (checkType) {
    case ctCheckBox:
    case ctTriStateCheckBox:
      return checkState == csCheckedNormal || checkState == csCheckedPressed ? csUncheckedNormal
                                                                             : csCheckedNormal;
    case ctRadioButton:
      return csCheckedNormal;
    case ctButton:
      return csUncheckedNormal;
    default:
      return checkState;
  }
}

bool TLazyTreeView::DoChecking(PLazyNode /*node*/, TCheckState& /*newState*/) {
  return !Options.ReadOnly;
}

void TLazyTreeView::DoChecked(PLazyNode /*node*/) {}

void TLazyTreeView::ApplyCheckClick(PLazyNode node, TCheckState newState) {
  if (!node || node == RootNode() || node->CheckState == newState || node->Has(nsDisabled)) return;
  if (!DoChecking(node, newState)) return;
  ChangeCheckState(node, newState);
  DoChecked(node);
}

void TLazyTreeView::SetCheckState(PLazyNode node, TCheckState value) {
  if (!node || node == RootNode() || node->CheckState == value) return;
  if (!DoChecking(node, value)) return;
  ChangeCheckState(node, value);
  DoChecked(node);
}

bool TLazyTreeView::ChangeCheckState(PLazyNode node, TCheckState value) {
  if (node->Has(nsChecking)) return false;
  node->Include(nsChecking);
  if (!node->Has(nsInitialized)) InitNode(node);
  if (checkNesting_++ == 0) DoStateChange({tsCheckPropagation});
  bool result = true;
  auto finish = [&] {
    InvalidateNode(node);
    node->Exclude(nsChecking);
    if (--checkNesting_ == 0) DoStateChange({}, {tsCheckPropagation});
  };
  try {
    if (node->CheckType == ctTriStateCheckBox && ViewOptions.AutoTristateTracking &&
        (value == csUncheckedNormal || value == csCheckedNormal) && node->ChildCount > 0) {
      for (PLazyNode c = node->FirstChild; c; c = c->NextSibling)
        if (IsCheckBoxType(c->CheckType)) SetCheckState(c, value);
      bool anyMixed = false;
      bool anyChecked = false;
      bool anyUnchecked = false;
      for (PLazyNode c = node->FirstChild; c; c = c->NextSibling) {
        anyMixed |= c->CheckState == csMixedNormal;
        anyChecked |= c->CheckState == csCheckedNormal;
        anyUnchecked |= c->CheckState == csUncheckedNormal;
      }
      if (anyMixed) {
        value = csMixedNormal;
      } else if (anyChecked) {
        value = anyUnchecked ? csMixedNormal : csCheckedNormal;
      }
    }
    if (node->CheckType == ctRadioButton && value == csCheckedNormal) {
      for (PLazyNode s = node->Parent->FirstChild; s; s = s->NextSibling)
        if (s != node && s->CheckType == ctRadioButton) s->CheckState = csUncheckedNormal;
      InvalidateAll();
    }
    node->CheckState = value;
    PLazyNode parent = node->Parent;
    if (parent != RootNode() && !parent->Has(nsInitialized)) InitNode(parent);
    if (ViewOptions.AutoTristateTracking && parent != RootNode() &&
        !parent->Has(nsChecking | nsDisabled) && IsCheckBoxType(node->CheckType) &&
        parent->CheckType == ctTriStateCheckBox) {
      PropagateCheckState(node, value, result);
    }
  } catch (...) {
    finish();
    throw;
  }
  finish();
  return result;
}

PLazyNode TLazyTreeView::PropagateCheckState(PLazyNode node, TCheckState newState, bool& allowed) {
  PLazyNode parent = node->Parent;
  uint32_t total = 0;
  uint32_t checked = 0;
  bool mixed = false;
  for (PLazyNode s = parent->FirstChild; s; s = s->NextSibling) {
    if (!IsCheckBoxType(s->CheckType)) continue;
    const uint8_t state = s == node ? static_cast<uint8_t>(newState) : s->CheckState;
    ++total;
    if (IsChecked(state)) ++checked;
    if (IsMixed(state)) mixed = true;
  }
  TCheckState parentState = csUncheckedNormal;
  if (mixed || (checked > 0 && checked < total)) {
    parentState = csMixedNormal;
  } else if (checked > 0 && checked == total) {
    parentState = csCheckedNormal;
  }
  allowed = DoChecking(parent, parentState);
  if (allowed) {
    // The parent's own change carries the propagation on upwards.
    ChangeCheckState(parent, parentState);
    DoChecked(parent);
  }
  return parent;
}

}  // namespace kelm::lazytree

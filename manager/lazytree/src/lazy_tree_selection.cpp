#include "lazytree/lazy_tree_view.h"

#include <algorithm>

#include "lazytree/lazy_tree_error.h"

namespace kelm::lazytree {

namespace {

constexpr char16_t kNodeNil[] = u"Node must not be nil!";
constexpr char16_t kEndNil[] = u"EndNode must not be nil!";
uintptr_t Address(PLazyNode node) { return reinterpret_cast<uintptr_t>(node); }
PLazyNode NodeAt(uintptr_t entry) { return reinterpret_cast<PLazyNode>(entry); }

}  // namespace

// ---- selection store

bool TLazyTreeView::LocateInSelection(PLazyNode node, uint32_t& index, int low, int high) const {
  const uintptr_t key = Address(node);
  int64_t lo = low < 0 ? 0 : low;
  int64_t hi = high < 0 ? static_cast<int64_t>(selection_.size()) - 1 : high;
  while (lo <= hi) {
    const int64_t mid = (lo + hi) / 2;
    const uintptr_t value = selection_[static_cast<size_t>(mid)];
    if (value == key) {
      index = static_cast<uint32_t>(mid);
      return true;
    }
    if (value < key) {
      lo = mid + 1;
    } else {
      hi = mid - 1;
    }
  }
  index = static_cast<uint32_t>(lo);
  return false;
}

bool TLazyTreeView::MergeIntoSelection(std::vector<PLazyNode> nodes, bool forceInsert) {
  PLazyNode anchor = RangeAnchor();
  if (!forceInsert && ViewOptions.LevelSelectConstraint && anchorLevel_ < 0 && !nodes.empty()) {
    anchorLevel_ = static_cast<int>(GetNodeLevel(anchor ? anchor : nodes.front()));
  }
  std::vector<PLazyNode> kept;
  kept.reserve(nodes.size());
  for (PLazyNode n : nodes) {
    if (!n || n == RootNode() || n->Has(nsSelected)) continue;
    if (!forceInsert) {
      if (n->Has(nsDisabled)) continue;
      if (ViewOptions.LevelSelectConstraint && static_cast<int>(GetNodeLevel(n)) != anchorLevel_)
        continue;
      if (ViewOptions.SiblingSelectConstraint && anchor && n->Parent != anchor->Parent) continue;
    }
    // Marking here also drops a second copy of the same node.
    n->Include(nsSelected);
    kept.push_back(n);
  }
  if (kept.empty()) return false;
  std::sort(kept.begin(), kept.end(),
            [](PLazyNode a, PLazyNode b) { return Address(a) < Address(b); });
  // Merge from the back into the grown array.
  size_t old = selection_.size();
  selection_.resize(old + kept.size());
  size_t write = selection_.size();
  size_t k = kept.size();
  while (k > 0) {
    if (old > 0 && selection_[old - 1] > Address(kept[k - 1])) {
      selection_[--write] = selection_[--old];
    } else {
      selection_[--write] = Address(kept[--k]);
    }
  }
  if (SelectedCount() == 0 && !RangeAnchor()) rangeAnchor_ = kept.front();
  SetSelectedCount(SelectedCount() + static_cast<uint32_t>(kept.size()));
  return true;
}

bool TLazyTreeView::AddSelection(PLazyNode node) {
  if (SelectionLocked) return false;
  LT_ASSERT(node, kNodeNil);
  if (!MergeIntoSelection({node}, false)) return false;
  InvalidateNode(node);
  AdviseChange(false, node, crIgnore);
  return true;
}

bool TLazyTreeView::AddSelection(const std::vector<PLazyNode>& nodes, bool forceInsert) {
  if (SelectionLocked) return false;
  if (!MergeIntoSelection(nodes, forceInsert)) return false;
  InvalidateAll();
  AdviseChange(false, nullptr, crIgnore);
  return true;
}

void TLazyTreeView::RemoveSelection(PLazyNode node) {
  if (SelectionLocked) return;
  LT_ASSERT(node, kNodeNil);
  if (!node->Has(nsSelected)) return;
  node->Exclude(nsSelected);
  uint32_t index = 0;
  if (LocateInSelection(node, index)) selection_.erase(selection_.begin() + index);
  SetSelectedCount(SelectedCount() - 1);
  if (SelectedCount() == 0) ResetAnchor();
  AdviseChange(false, node, crIgnore);
}

void TLazyTreeView::MarkRemovedFromSelection(PLazyNode node) {
  if (!node->Has(nsSelected)) return;
  node->Exclude(nsSelected);
  uint32_t index = 0;
  if (LocateInSelection(node, index)) selection_[index] = Address(node) + 1;
  // The count follows the flags; only the array waits for its compaction.
  SetSelectedCount(SelectedCount() - 1);
}

int TLazyTreeView::CompactNodeArray(uintptr_t* array, uint32_t count) {
  if (count == 0) return -1;
  uint32_t kept = 0;
  for (uint32_t i = 0; i < count; ++i) {
    if ((array[i] & 1) == 0) array[kept++] = array[i];
  }
  return static_cast<int>(kept);
}

void TLazyTreeView::CompactSelection() {
  const int kept = CompactNodeArray(selection_.data(), static_cast<uint32_t>(selection_.size()));
  if (kept >= 0) selection_.resize(static_cast<size_t>(kept));
}

void TLazyTreeView::DropSelection() {
  CompactSelection();
  for (uintptr_t entry : selection_) NodeAt(entry)->Exclude(nsSelected);
  selection_.clear();
  SetSelectedCount(0);
  ResetAnchor();
  DoStateChange({}, {tsClearPending});
}

void TLazyTreeView::ResetAnchor() {
  rangeAnchor_ = FocusedNode();
  anchorLevel_ = -1;
}

void TLazyTreeView::AddToSelection(PLazyNode node) { AddSelection(node); }

void TLazyTreeView::RemoveFromSelection(PLazyNode node) {
  // A node on its way out leaves the array even while the selection is
  // locked: the array must never hold freed memory.
  if (!node->Has(nsSelected)) return;
  if (UpdateCount() > 0) {
    MarkRemovedFromSelection(node);
    if (SelectedCount() == 0) ResetAnchor();
    return;
  }
  const bool locked = SelectionLocked;
  SelectionLocked = false;
  RemoveSelection(node);
  SelectionLocked = locked;
}

void TLazyTreeView::ClearSelection() {
  if (SelectionLocked || SelectedCount() == 0 || IsDestroying()) {
    // Tombstones still go.
    if (SelectedCount() == 0 && !selection_.empty()) selection_.clear();
    return;
  }
  if (UpdateCount() == 0) InvalidateAll();
  DropSelection();
  AdviseChange(false, nullptr, crIgnore);
}

void TLazyTreeView::SelectAll(bool visibleOnly) {
  if (SelectionLocked || !ViewOptions.MultiSelect) return;
  std::vector<PLazyNode> collected;
  if (visibleOnly) {
    for (PLazyNode n = GetFirstVisible(); n; n = GetNextVisible(n))
      if (!n->Has(nsSelected)) collected.push_back(n);
  } else {
    for (PLazyNode n = GetFirst(); n; n = GetNext(n))
      if (!n->Has(nsSelected)) collected.push_back(n);
  }
  AddSelection(collected, false);
  InvalidateAll();
}

PLazyNode TLazyTreeView::RangeStart(PLazyNode start, bool firstTopLevel) {
  if (start && FullyVisible(start)) return start;
  PLazyNode result = start ? GetPreviousVisibleNoInit(start) : nullptr;
  if (!result) result = firstTopLevel ? GetFirstChildNoInit(nullptr) : GetFirstVisibleNoInit();
  return result;
}

void TLazyTreeView::SelectRange(PLazyNode startNode, PLazyNode endNode, bool addOnly) {
  LT_ASSERT(endNode, kEndNil);
  if (SelectionLocked) return;
  PLazyNode start = RangeStart(startNode, false);
  if (!start) return;
  PLazyNode anchor = RangeAnchor();
  if (!addOnly) ClearSelection();
  PLazyNode first = start;
  PLazyNode last = endNode;
  if (CompareNodePositions(first, last, true) > 0) std::swap(first, last);
  std::vector<PLazyNode> collected;
  for (PLazyNode n = first; n; n = GetNextVisibleNoInit(n)) {
    collected.push_back(n);
    if (n == last) break;
  }
  AddSelection(collected, true);
  if (anchor && anchor->Has(nsSelected)) rangeAnchor_ = anchor;
}

void TLazyTreeView::ToggleRange(PLazyNode startNode, PLazyNode endNode) {
  if (SelectionLocked) return;
  LT_ASSERT(endNode, kEndNil);
  PLazyNode start = RangeStart(startNode, true);
  if (!start || start == endNode) return;
  PLazyNode first = start;
  PLazyNode last = endNode;
  if (CompareNodePositions(first, last, true) > 0) std::swap(first, last);
  PLazyNode anchor = RangeAnchor();
  std::vector<PLazyNode> collected;
  auto toggle = [&](PLazyNode n) {
    if (n->Has(nsSelected)) {
      MarkRemovedFromSelection(n);
    } else {
      collected.push_back(n);
    }
  };
  if (anchor && CompareNodePositions(first, anchor, true) < 0) toggle(first);
  for (PLazyNode n = GetNextVisibleNoInit(first); n && n != last; n = GetNextVisibleNoInit(n))
    toggle(n);
  if (anchor && CompareNodePositions(last, anchor, true) > 0) toggle(last);
  CompactSelection();
  if (anchor && !anchor->Has(nsSelected)) collected.push_back(anchor);
  AddSelection(collected, false);
}

void TLazyTreeView::UnselectRange(PLazyNode startNode, PLazyNode endNode) {
  LT_ASSERT(endNode, kEndNil);
  PLazyNode start = RangeStart(startNode, true);
  if (!start) return;
  PLazyNode first = start;
  PLazyNode last = endNode;
  if (CompareNodePositions(first, last, true) > 0) std::swap(first, last);
  for (PLazyNode n = first; n; n = GetNextVisibleNoInit(n)) {
    MarkRemovedFromSelection(n);
    if (n == last) break;
  }
  CompactSelection();
  if (SelectedCount() == 0) ResetAnchor();
}

void TLazyTreeView::HandleClickSelection(PLazyNode /*lastFocused*/, PLazyNode newNode, bool shift,
                                         bool ctrl, bool dragPending) {
  LT_ASSERT(newNode, kNodeNil);
  if (ctrl && shift) {
    SelectRange(RangeAnchor(), newNode, true);
    InvalidateAll();
  } else if (ctrl) {
    if (!ViewOptions.SiblingSelectConstraint) rangeAnchor_ = newNode;
    if (dragPending) {
      DoStateChange({tsToggleFocusedSelection});
    } else if (newNode->Has(nsSelected)) {
      RemoveSelection(newNode);
    } else {
      AddSelection(newNode);
    }
  } else if (shift) {
    if (!RangeAnchor()) rangeAnchor_ = GetFirstChildNoInit(nullptr);
    SelectRange(RangeAnchor(), newNode, false);
    InvalidateAll();
  } else {
    if (!newNode->Has(nsSelected)) {
      AddSelection(newNode);
      InvalidateNode(newNode);
    }
    rangeAnchor_ = newNode;
  }
}

PLazyNode TLazyTreeView::NodeAfterSubtree(PLazyNode node) const {
  while (node != RootNode() && !node->NextSibling) node = node->Parent;
  return node == RootNode() ? nullptr : node->NextSibling;
}

std::vector<PLazyNode> TLazyTreeView::GetSortedSelection(bool resolve) {
  std::vector<PLazyNode> result;
  result.reserve(SelectedCount());
  PLazyNode n = GetFirstNoInit();
  while (n && result.size() < SelectedCount()) {
    if (n->Has(nsSelected)) {
      result.push_back(n);
      if (resolve) {
        n = NodeAfterSubtree(n);
        continue;
      }
    }
    n = GetNextNoInit(n);
  }
  return result;
}

std::vector<PLazyNode> TLazyTreeView::GetSortedCutCopySet(bool resolve) {
  std::vector<PLazyNode> result;
  result.reserve(100);
  PLazyNode n = GetFirstNoInit();
  while (n) {
    if (n->Has(nsCutOrCopy)) {
      result.push_back(n);
      if (resolve) {
        n = NodeAfterSubtree(n);
        continue;
      }
    }
    n = GetNextNoInit(n);
  }
  return result;
}

void TLazyTreeView::MarkSelectedForTransfer() {
  for (uintptr_t entry : selection_) {
    if ((entry & 1) != 0) continue;
    PLazyNode n = NodeAt(entry);
    if (!n->Has(nsDisabled)) n->Include(nsCutOrCopy);
  }
}

TBandRect TBandRect::Normalized() const {
  return {std::min(Left, Right), std::min(Top, Bottom), std::max(Left, Right),
          std::max(Top, Bottom)};
}

void TBandPlacement::Place(int64_t& left, int64_t& right) const {
  // Under right-to-left the lead counts from the right edge and the
  // alignment is mirrored.
  const int64_t edge = RightToLeft ? SpanRight - Lead : SpanLeft + Lead;
  uint8_t align = Alignment;
  if (RightToLeft && align != 2) align = align == 0 ? 1 : 0;
  const int64_t roomLeft = RightToLeft ? SpanLeft : edge;
  const int64_t roomRight = RightToLeft ? edge : SpanRight;
  switch (align) {
    case 1:
      right = roomRight;
      left = roomRight - TextWidth;
      break;
    case 2:
      left = (roomLeft + roomRight - TextWidth) / 2;
      right = left + TextWidth;
      break;
    default:
      left = roomLeft;
      right = roomLeft + TextWidth;
      break;
  }
}

bool TLazyTreeView::HandleDrawSelection(TBandRect oldRect, TBandRect newRect, bool toggle) {
  if (RootNode()->TotalCount <= 1 || !States().Contains(tsDrawSelecting)) return false;
  oldRect = oldRect.Normalized();
  newRect = newRect.Normalized();
  auto inside = [&](const TBandRect& r, int64_t top, int64_t bottom, bool extent, int64_t left,
                    int64_t right) {
    // Overlaps of positive size: a band of no height holds no row.
    if (std::max<int64_t>(top, r.Top) >= std::min<int64_t>(bottom, r.Bottom)) return false;
    if (!extent) return true;
    return std::max<int64_t>(left, r.Left) < std::min<int64_t>(right, r.Right);
  };
  std::vector<PLazyNode> collected;
  uint32_t removed = 0;
  const int32_t firstRow = std::min(oldRect.Top, newRect.Top);
  const int64_t lastRow = std::max(oldRect.Bottom, newRect.Bottom);
  int nodeTop = 0;
  PLazyNode node = GetNodeAt(0, firstRow, false, nodeTop);
  int64_t top = nodeTop;
  while (node && top < lastRow) {
    if (!node->Has(nsInitialized)) InitNode(node);
    const int64_t bottom = top + NodeHeight(node);
    int64_t left = 0;
    int64_t right = 0;
    const bool extent = !ViewOptions.SimpleDrawSelection && GetBandExtent(node, left, right);
    const bool wasIn = inside(oldRect, top, bottom, extent, left, right);
    const bool isIn = inside(newRect, top, bottom, extent, left, right);
    if (wasIn != isIn) {
      const bool selected = node->Has(nsSelected);
      if (toggle ? selected : (wasIn && selected)) {
        MarkRemovedFromSelection(node);
        ++removed;
      } else if (toggle ? !selected : (isIn && !selected)) {
        collected.push_back(node);
      }
    }
    top = bottom;
    node = GetNextVisibleNoInit(node);
  }
  if (removed == 0 && collected.empty()) return false;
  CompactSelection();
  if (SelectedCount() == 0) ResetAnchor();
  // Constraints and disabled nodes may keep collected nodes out.
  const bool added = MergeIntoSelection(std::move(collected), false);
  if (removed == 0 && !added) return false;
  AdviseChange(false, nullptr, crIgnore);
  return true;
}

void TLazyTreeView::FinishCut() {
  if (!States().Contains(tsCutPending)) return;
  PLazyNode node = GetFirstNoInit();
  while (node) {
    // The next node is taken first: a deleted node's subtree goes with it.
    PLazyNode next = nullptr;
    if (node->Has(nsCutOrCopy)) {
      next = NodeAfterSubtree(node);
      DeleteNode(node, true);
    } else {
      next = GetNextNoInit(node);
    }
    node = next;
  }
  DoStateChange({}, {tsCutPending});
}

}  // namespace kelm::lazytree

#include "lazytree/lazy_tree_view.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

#include "lazytree/lazy_tree_error.h"

namespace kelm::lazytree {

namespace {

constexpr char16_t kNodeNil[] = u"Node must not be nil!";
constexpr char16_t kEndNil[] = u"EndNode must not be nil!";
constexpr char16_t kNodeNotRoot[] = u"Node must not be the hidden root node.";
constexpr char16_t kNodeNotNil[] = u"Node must not be nil.";
constexpr char16_t kInvalid[] = u"Invalid parameter.";
// Link keeps every state but the transient ones.
constexpr uint16_t kLinkKeepMask = 0xF7E9;

uintptr_t Address(PLazyNode node) { return reinterpret_cast<uintptr_t>(node); }
PLazyNode NodeAt(uintptr_t entry) { return reinterpret_cast<PLazyNode>(entry); }

bool IsChecked(uint8_t state) { return state == csCheckedNormal || state == csCheckedPressed; }
bool IsMixed(uint8_t state) { return state == csMixedNormal || state == csMixedPressed; }
bool IsCheckBoxType(uint8_t type) { return type == ctTriStateCheckBox || type == ctCheckBox; }

}  // namespace

// ---- mailbox sink

void TMailboxSink::Send(uint32_t enter, uint32_t leave) {
  std::unique_lock<std::mutex> lock(lock_);
  enter_ = enter;
  leave_ = leave;
  pending_ = true;
  served_ = false;
  changed_.notify_all();
  changed_.wait(lock, [this] { return served_; });
}

void TMailboxSink::HandleLocked(std::unique_lock<std::mutex>& lock) {
  const uint32_t enter = enter_;
  const uint32_t leave = leave_;
  pending_ = false;
  lock.unlock();
  tree_.HandleChangeStates(enter, leave);
  lock.lock();
  served_ = true;
  changed_.notify_all();
}

void TMailboxSink::Serve() {
  std::unique_lock<std::mutex> lock(lock_);
  changed_.wait(lock, [this] { return pending_ || left_; });
  left_ = false;
  if (pending_) HandleLocked(lock);
}

void TMailboxSink::Left(std::atomic<TLazyTreeView*>& current) {
  std::lock_guard<std::mutex> lock(lock_);
  current.store(nullptr, std::memory_order_release);
  left_ = true;
  changed_.notify_all();
}

void TMailboxSink::Settle() { std::lock_guard<std::mutex> lock(lock_); }

bool TMailboxSink::ServeOne(uint32_t timeoutMs) {
  std::unique_lock<std::mutex> lock(lock_);
  if (!changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return pending_; }))
    return false;
  HandleLocked(lock);
  return true;
}

// ---- life

TLazyTreeView::TLazyTreeView(classlib::TObject* sender) : TLazyTreeModel(sender) {
  TWorkerThread::AcquireValidationThread();
  threadAcquired_ = true;
}

TLazyTreeView::~TLazyTreeView() {
  destroying_ = true;
  Options.ReadOnly = false;
  if (threadAcquired_) TWorkerThread::ReleaseValidationThread(this);
  threadAcquired_ = false;
  if (RootNode()) Clear();
}

void TLazyTreeView::DoStateChange(TLazyTreeStates enter, TLazyTreeStates leave) {
  TLazyTreeModel::DoStateChange(enter, leave);
  stopValidation_.store(States().Contains(tsStopValidation), std::memory_order_release);
}

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

bool TLazyTreeView::GetDisplayRows(PLazyNode node, int64_t& top, int64_t& bottom) {
  LT_ASSERT(node, kNodeNotNil);
  LT_ASSERT(node != RootNode(), kNodeNotRoot);
  top = bottom = 0;
  if (!node->Has(nsInitialized)) InitNode(node);
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
    if (node->ChildCount > 0) {
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

// ---- position cache

void TLazyTreeView::MarkCacheStale() { DoStateChange({tsValidationNeeded}, {tsUseCache}); }

void TLazyTreeView::HaltCacheValidation() {
  DoStateChange({tsStopValidation}, {tsUseCache});
  TWorkerThread* thread = TWorkerThread::Instance();
  if (!thread) return;
  const bool wasValidating = States().Contains(tsValidating);
  thread->UnqueueTree(this);
  while (thread->CurrentTree() == this) sink_->Serve();
  sink_->Settle();
  if (wasValidating) DoStateChange({tsValidationNeeded});
}

void TLazyTreeView::ValidateCache() {
  // A dying tree is never queued again, and without the thread there is
  // nothing to queue on.
  TWorkerThread* thread = TWorkerThread::Instance();
  if (IsDestroying() || !threadAcquired_ || !thread) return;
  HaltCacheValidation();
  cacheStartIndex_ = 0;
  if (States().Contains(tsValidationNeeded)) {
    thread->QueueTree(this);
    thread->Wake();
  }
}

void TLazyTreeView::HandleChangeStates(uint32_t enter, uint32_t leave) {
  auto toStates = [](uint32_t bits) {
    TLazyTreeStates s;
    if (bits & csbStopValidation) s = s + TLazyTreeStates{tsStopValidation};
    if (bits & csbUseCache) s = s + TLazyTreeStates{tsUseCache};
    if (bits & csbValidating) s = s + TLazyTreeStates{tsValidating};
    if (bits & csbValidationNeeded) s = s + TLazyTreeStates{tsValidationNeeded};
    return s;
  };
  DoStateChange(toStates(enter), toStates(leave));
  if (enter & csbUpdateScrollBars) UpdateScrollBars(true);
}

bool TLazyTreeView::FillPositionCache() {
  uint32_t count = 0;
  if (StopRequested()) return false;
  if (cacheStartIndex_ == 0) positionCache_.clear();
  const uint32_t visible = VisibleNodeCount();
  // Up to the threshold a walk from the top is as quick: no entries at all.
  if (visible <= kCacheThreshold) {
    positionCache_.clear();
    return false;
  }
  const auto entryCount =
      static_cast<size_t>(std::ceil(static_cast<double>(visible) / kCacheThreshold));
  positionCache_.resize(entryCount);
  if (cacheStartIndex_ > entryCount) cacheStartIndex_ = static_cast<uint32_t>(entryCount);
  size_t index = 0;
  uint32_t top = 0;
  PLazyNode node = nullptr;
  if (cacheStartIndex_ > 0 && positionCache_[cacheStartIndex_ - 1].Node) {
    index = cacheStartIndex_ - 1;
    top = positionCache_[index].AbsoluteTop;
    node = positionCache_[index].Node;
  } else {
    node = GetFirstVisibleNoInit();
  }
  if (node) {
    while (!StopRequested()) {
      if (count % kCacheThreshold == 0) positionCache_[index++] = {node, top};
      top += node->NodeHeight;
      PLazyNode next = GetNextVisibleNoInit(node);
      if (FillProbe) FillProbe(count);
      if (!next || index == positionCache_.size()) break;
      ++count;
      node = next;
    }
    if (!StopRequested() && index < positionCache_.size()) {
      // The closing entry: the last node reached, at its top.
      positionCache_.resize(index + 1);
      positionCache_[index] = {node, top - node->NodeHeight};
    }
  }
  return count > 0 && !StopRequested();
}

PLazyNode TLazyTreeView::FindCacheEntryByTop(uint32_t y, uint32_t& top) const {
  top = 0;
  if (positionCache_.empty()) return nullptr;
  int64_t lo = 0;
  int64_t hi = static_cast<int64_t>(positionCache_.size()) - 1;
  while (lo <= hi) {
    const int64_t mid = (lo + hi) / 2;
    if (y < positionCache_[static_cast<size_t>(mid)].AbsoluteTop) {
      hi = mid - 1;
    } else {
      lo = mid + 1;
    }
  }
  if (lo == 0) return nullptr;
  const TCacheEntry& entry = positionCache_[static_cast<size_t>(lo - 1)];
  top = entry.AbsoluteTop;
  return entry.Node;
}

PLazyNode TLazyTreeView::FindCacheEntryByNode(PLazyNode node, uint32_t& top) {
  top = 0;
  if (positionCache_.empty()) return nullptr;
  int64_t lo = 0;
  int64_t hi = static_cast<int64_t>(positionCache_.size()) - 1;
  while (lo <= hi) {
    const int64_t mid = (lo + hi) / 2;
    // Entries are in display order.
    if (CompareNodePositions(positionCache_[static_cast<size_t>(mid)].Node, node, true) > 0) {
      hi = mid - 1;
    } else {
      lo = mid + 1;
    }
  }
  if (lo == 0) return nullptr;
  const TCacheEntry& entry = positionCache_[static_cast<size_t>(lo - 1)];
  top = entry.AbsoluteTop;
  return entry.Node;
}

PLazyNode TLazyTreeView::GetNodeAt(int /*x*/, int y, bool relative, int& nodeTop) {
  int64_t absolute = y < 0 ? 0 : y;
  if (relative) absolute -= VerticalOffset();
  if (absolute < 0) absolute = 0;
  uint32_t top = 0;
  PLazyNode node = nullptr;
  if (States().Contains(tsUseCache))
    node = FindCacheEntryByTop(static_cast<uint32_t>(absolute), top);
  if (!node) {
    node = GetFirstVisibleNoInit();
    top = 0;
  }
  uint64_t t = top;
  while (node && node != RootNode()) {
    const uint32_t height = NodeHeight(node);
    if (static_cast<uint64_t>(absolute) < t + height) break;
    t += height;
    node = GetNextVisibleNoInit(node);
  }
  if (!node || node == RootNode()) {
    nodeTop = 0;
    return nullptr;
  }
  nodeTop = static_cast<int>(t) + (relative ? VerticalOffset() : 0);
  return node;
}

PLazyNode TLazyTreeView::GetNodeAt(int x, int y) {
  int top = 0;
  return GetNodeAt(x, y, true, top);
}

// ---- the validation thread

namespace {
TWorkerThread* gValidationThread = nullptr;
uint32_t gStartCount = 0;
}  // namespace

struct TWorkerThread::TThreadHolder {
  std::thread thread;
};

TWorkerThread* TWorkerThread::Instance() { return gValidationThread; }
uint32_t TWorkerThread::StartCount() { return gStartCount; }

TWorkerThread::TWorkerThread() {
  thread_ = new TThreadHolder;
  thread_->thread = std::thread([this] { Execute(); });
}

TWorkerThread::~TWorkerThread() {
  terminated_.store(true);
  Wake();
  thread_->thread.join();
  delete thread_;
}

void TWorkerThread::AcquireValidationThread() {
  if (!gValidationThread) {
    gValidationThread = new TWorkerThread;
    ++gStartCount;
  }
  ++gValidationThread->refCount_;
}

void TWorkerThread::ReleaseValidationThread(TLazyTreeView* tree) {
  TWorkerThread* thread = gValidationThread;
  if (!thread) return;
  --thread->refCount_;
  tree->HaltCacheValidation();
  if (thread->refCount_ == 0) {
    gValidationThread = nullptr;
    delete thread;
  }
}

void TWorkerThread::QueueTree(TLazyTreeView* tree) {
  LT_ASSERT(tree, u"Tree must not be nil.");
  tree->DoStateChange({}, {tsStopValidation});
  std::lock_guard<std::mutex> lock(listLock_);
  if (std::find(waitingTrees_.begin(), waitingTrees_.end(), tree) == waitingTrees_.end())
    waitingTrees_.push_back(tree);
}

void TWorkerThread::UnqueueTree(TLazyTreeView* tree) {
  LT_ASSERT(tree, u"Tree must not be nil.");
  std::lock_guard<std::mutex> lock(listLock_);
  waitingTrees_.erase(std::remove(waitingTrees_.begin(), waitingTrees_.end(), tree),
                      waitingTrees_.end());
}

bool TWorkerThread::IsQueued(TLazyTreeView* tree) {
  std::lock_guard<std::mutex> lock(listLock_);
  return std::find(waitingTrees_.begin(), waitingTrees_.end(), tree) != waitingTrees_.end();
}

void TWorkerThread::Wake() {
  std::lock_guard<std::mutex> lock(wakeLock_);
  wakeSignalled_ = true;
  wakeCondition_.notify_one();
}

void TWorkerThread::Execute() {
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(wakeLock_);
      wakeCondition_.wait(lock, [this] { return wakeSignalled_; });
      wakeSignalled_ = false;
    }
    if (terminated_.load()) return;
    TLazyTreeView* tree = nullptr;
    {
      std::lock_guard<std::mutex> lock(listLock_);
      if (!waitingTrees_.empty()) {
        tree = waitingTrees_.front();
        waitingTrees_.erase(waitingTrees_.begin());
        currentTree_.store(tree, std::memory_order_release);
        if (!waitingTrees_.empty()) Wake();
      }
    }
    if (!tree) continue;
    uint32_t enter = 0;
    try {
      tree->SendChangeStates(csbValidating, csbUseCache);
      if (!tree->StopRequested() && tree->FillPositionCache()) {
        enter = csbUseCache;
        if (tree->Options.VariableNodeHeight) enter |= csbUpdateScrollBars;
      }
    } catch (...) {
      enter = 0;
    }
    uint32_t leave = csbStopValidation | csbValidating;
    if (enter & csbUseCache) leave |= csbValidationNeeded;
    tree->SendChangeStates(enter, leave);
    tree->ValidationLeft(currentTree_);
  }
}

}  // namespace kelm::lazytree

#include "lazytree/lazy_tree_view.h"

#include <cmath>

namespace kelm::lazytree {

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

}  // namespace kelm::lazytree

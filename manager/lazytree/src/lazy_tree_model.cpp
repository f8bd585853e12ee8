#include "lazytree/lazy_tree_model.h"

#include <cstring>
#include <new>

#include "lazytree/lazy_tree_error.h"

namespace kelm::lazytree {

namespace {

constexpr char16_t kIterating[] =
    u"Deleting nodes during tree iteration leads to invalid pointers.";
constexpr char16_t kNotRoot[] = u"Node must not be the hidden root node.";

size_t AlignUp(size_t value, size_t align) { return (value + align - 1) / align * align; }

// The next node after n in pre-order that lies inside top's subtree, without
// descending into n's children; none at the end of the subtree.
PLazyNode SkipSubtree(PLazyNode n, PLazyNode top) {
  while (n != top) {
    if (n->NextSibling) return n->NextSibling;
    n = n->Parent;
  }
  return nullptr;
}

// Node memory, aligned for the owner's data. Where the default allocation
// already is, the cheaper plain form is taken.
void* AllocateNodeMemory(size_t size) {
  void* memory;
  if constexpr (kNodeDataAlign <= __STDCPP_DEFAULT_NEW_ALIGNMENT__) {
    memory = ::operator new(size);
  } else {
    memory = ::operator new(size, std::align_val_t(kNodeDataAlign));
  }
  std::memset(memory, 0, size);
  return memory;
}

void ReleaseNodeMemory(void* memory) {
  if constexpr (kNodeDataAlign <= __STDCPP_DEFAULT_NEW_ALIGNMENT__) {
    ::operator delete(memory);
  } else {
    ::operator delete(memory, std::align_val_t(kNodeDataAlign));
  }
}

PLazyNode NextWithin(PLazyNode n, PLazyNode top) {
  if (n->FirstChild) return n->FirstChild;
  return SkipSubtree(n, top);
}

}  // namespace

TLazyTreeModel::TLazyTreeModel(classlib::TObject* sender) : sender_(sender) {}

TLazyTreeModel::~TLazyTreeModel() { FreeAllNodes(); }

// ---- memory

size_t TLazyTreeModel::OwnerDataOffset() const {
  return AlignUp(sizeof(TLazyNode) + internalDataSize_, kNodeDataAlign);
}

size_t TLazyTreeModel::NodeAllocationSize() const {
  const size_t owner = IsDesigning() || nodeDataSize_ <= 0 ? 0 : static_cast<size_t>(nodeDataSize_);
  return OwnerDataOffset() + owner;
}

PLazyNode TLazyTreeModel::MakeNewNode() {
  if (nodeDataSize_ == -1) ValidateNodeDataSize(nodeDataSize_);
  auto* node = static_cast<PLazyNode>(AllocateNodeMemory(NodeAllocationSize()));
  node->TotalCount = 1;
  node->NodeHeight = static_cast<uint16_t>(defaultNodeHeight_);
  node->TotalHeight = defaultNodeHeight_;
  node->States = nsVisible;
  node->Align = 50;
  return node;
}

void TLazyTreeModel::FreeNodeMemory(PLazyNode node) { ReleaseNodeMemory(node); }

void TLazyTreeModel::CreateRootNode() {
  if (root_) return;
  root_ = static_cast<PLazyNode>(AllocateNodeMemory(sizeof(TLazyNode) + internalDataSize_));
  ResetRootNode();
}

void TLazyTreeModel::ResetRootNode() {
  // The root's Parent is a back reference to the tree, never followed.
  root_->Parent = reinterpret_cast<PLazyNode>(sender_);
  root_->PrevSibling = root_;
  root_->NextSibling = root_;
  root_->States = nsInitialized | nsExpanded | nsHasChildren | nsVisible;
  root_->NodeHeight = static_cast<uint16_t>(defaultNodeHeight_);
  root_->TotalHeight = defaultNodeHeight_;
  root_->TotalCount = 1;
  root_->Align = 50;
}

void TLazyTreeModel::FreeSubtreeQuietly(PLazyNode node) {
  PLazyNode n = node;
  for (;;) {
    if (n->FirstChild) {
      n = n->FirstChild;
      continue;
    }
    const bool top = n == node;
    PLazyNode parent = n->Parent;
    PLazyNode next = n->NextSibling;
    FreeNodeMemory(n);
    if (top) break;
    parent->FirstChild = next;
    n = next ? next : parent;
  }
}

void TLazyTreeModel::FreeAllNodes() {
  if (!root_) return;
  FreeSubtreeQuietly(root_);
  root_ = nullptr;
  visibleNodeCount_ = 0;
  selectedCount_ = 0;
  focusedNode_ = hotNode_ = dropTargetNode_ = rangeAnchor_ = nullptr;
  lastChangedNode_ = lastStructureChangeNode_ = nullptr;
}

uint32_t TLazyTreeModel::AllocateInternalDataArea(uint32_t size) {
  LT_ASSERT(root_->ChildCount == 0 && root_->FirstChild == nullptr,
            u"Internal data allocation must be done before any node is created.");
  const size_t oldSize = sizeof(TLazyNode) + internalDataSize_;
  const uint32_t offset = static_cast<uint32_t>(oldSize);
  const uint32_t newInternal = internalDataSize_ + (size + 3) / 4 * 4;
  const size_t newSize = sizeof(TLazyNode) + newInternal;
  void* memory = AllocateNodeMemory(newSize);
  std::memcpy(memory, root_, oldSize);
  FreeNodeMemory(root_);
  root_ = static_cast<PLazyNode>(memory);
  root_->PrevSibling = root_;
  root_->NextSibling = root_;
  internalDataSize_ = newInternal;
  return offset;
}

void TLazyTreeModel::ValidateNodeDataSize(int32_t& size) {
  size = 0;
  if (OnGetNodeDataSize) OnGetNodeDataSize(sender_, size);
}

void TLazyTreeModel::SetNodeDataSize(int32_t size) {
  if (size < -1) size = -1;
  if (size == nodeDataSize_) return;
  nodeDataSize_ = size;
  if (IsLoading() || IsDesigning()) return;
  // Every node is made again at the new size.
  const uint32_t count = RootNodeCount();
  Clear();
  SetRootNodeCount(count);
}

void* TLazyTreeModel::GetNodeData(PLazyNode node) {
  LT_ASSERT(nodeDataSize_ > 0, u"NodeDataSize not initialized.");
  if (!node || node == root_) return nullptr;
  return reinterpret_cast<char*>(node) + OwnerDataOffset();
}

// ---- totals

bool TLazyTreeModel::FullyVisible(PLazyNode node) const {
  for (PLazyNode n = node; n != root_; n = n->Parent) {
    if (!n->Has(nsVisible) || !n->Parent->Has(nsExpanded)) return false;
  }
  return true;
}

uint32_t TLazyTreeModel::VisibleDescendants(PLazyNode node) const {
  if (!node->Has(nsExpanded)) return 0;
  uint32_t count = 0;
  PLazyNode n = node->FirstChild;
  while (n) {
    if (n->Has(nsVisible)) {
      ++count;
      if (n->Has(nsExpanded) && n->FirstChild) {
        n = n->FirstChild;
        continue;
      }
    }
    n = SkipSubtree(n, node);
  }
  return count;
}

uint32_t TLazyTreeModel::CountVisibleChildren(PLazyNode node) const {
  uint32_t count = 0;
  for (PLazyNode c = node->FirstChild; c; c = c->NextSibling) count += c->Has(nsVisible) ? 1 : 0;
  return count;
}

void TLazyTreeModel::AdjustTotalHeight(PLazyNode node, int64_t value, bool relative) {
  const int64_t diff = relative ? value : value - static_cast<int64_t>(node->TotalHeight);
  if (diff == 0) return;
  for (PLazyNode n = node;;) {
    n->TotalHeight = static_cast<uint32_t>(n->TotalHeight + diff);
    if (n == root_) break;
    PLazyNode parent = n->Parent;
    if (!n->Has(nsVisible) || !parent->Has(nsExpanded)) break;
    n = parent;
  }
}

void TLazyTreeModel::AdjustTotalCount(PLazyNode node, int64_t value, bool relative) {
  const int64_t diff = relative ? value : value - static_cast<int64_t>(node->TotalCount);
  if (diff == 0) return;
  for (PLazyNode n = node;; n = n->Parent) {
    n->TotalCount = static_cast<uint32_t>(n->TotalCount + diff);
    if (n == root_) break;
  }
}

void TLazyTreeModel::UpdateHiddenChildrenFlag(PLazyNode node) {
  // The first visible child decides: deleting many siblings one by one
  // stays linear.
  PLazyNode visible = node->FirstChild;
  while (visible && !visible->Has(nsVisible)) visible = visible->NextSibling;
  if (node->ChildCount > 0 && !visible) {
    node->Include(nsAllChildrenHidden);
  } else {
    node->Exclude(nsAllChildrenHidden);
  }
}

void TLazyTreeModel::UpdateAllHiddenChildrenFlags() {
  for (PLazyNode n = root_; n; n = NextWithin(n, root_)) UpdateHiddenChildrenFlag(n);
}

// ---- child counts

uint32_t TLazyTreeModel::ChildCount(PLazyNode node) const {
  return (node ? node : root_)->ChildCount;
}

void TLazyTreeModel::SetChildCount(PLazyNode node, uint32_t count) {
  if (Options.ReadOnly) return;
  if (!node) node = root_;
  if (count == 0) {
    DeleteChildren(node);
    return;
  }
  if (count == node->ChildCount) return;
  HaltCacheValidation();
  if (count > node->ChildCount) {
    uint32_t index = node->LastChild ? node->LastChild->Index + 1 : 0;
    if (!node->LastChild) node->Include(nsHasChildren);
    // A stale measured height is worse than measuring again.
    node->Exclude(nsAllChildrenHidden | nsHeightMeasured);
    uint32_t added = 0;
    int64_t heights = 0;
    // The links are whole after every node, so the counts can follow the
    // nodes really made even when an allocation fails half way.
    auto account = [&] {
      if (node->Has(nsExpanded)) {
        AdjustTotalHeight(node, heights, true);
        if (FullyVisible(node)) visibleNodeCount_ += added;
      }
      AdjustTotalCount(node, added, true);
      node->ChildCount += added;
    };
    try {
      for (uint32_t wanted = count - node->ChildCount; added < wanted; ++added) {
        PLazyNode child = MakeNewNode();
        child->Index = index++;
        child->Parent = node;
        child->PrevSibling = node->LastChild;
        if (node->LastChild) {
          node->LastChild->NextSibling = child;
        } else {
          node->FirstChild = child;
        }
        node->LastChild = child;
        heights += child->NodeHeight;
      }
    } catch (...) {
      account();
      throw;
    }
    account();
    if (updateCount_ == 0 && Options.AutoSort && SortColumn > -2)
      Sort(node, SortColumn, SortDirection, true);
    MarkCacheStale();
  } else {
    while (node->ChildCount > count) DeleteNode(node->LastChild, true);
  }
  if (updateCount_ == 0) {
    ValidateCache();
    UpdateScrollBars(true);
    InvalidateAll();
  }
  StructureChange(node == root_ ? nullptr : node, crChildAdded);
}

void TLazyTreeModel::SetRootNodeCount(uint32_t count) {
  if (IsLoading()) {
    // Only a count, no nodes yet: the tree is not walked before loading ends.
    root_->ChildCount = count;
    DoStateChange({tsNeedRootCountUpdate});
    return;
  }
  if (count == root_->ChildCount) return;
  BeginUpdate();
  try {
    HaltCacheValidation();
    SetChildCount(root_, count);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TLazyTreeModel::ApplyStoredRootNodeCount() {
  if (!states_.Contains(tsNeedRootCountUpdate)) return;
  DoStateChange({}, {tsNeedRootCountUpdate});
  // The stored count stands for nodes not made yet; the real ones (if any)
  // are the last child's index + 1.
  const uint32_t count = root_->ChildCount;
  root_->ChildCount = root_->LastChild ? root_->LastChild->Index + 1 : 0;
  SetRootNodeCount(count);
}

// ---- adding

PLazyNode TLazyTreeModel::AddChild(PLazyNode parent, void* userData) {
  if (Options.ReadOnly) return nullptr;
  if (states_.Contains(tsEditing) || states_.Contains(tsEditPending)) CancelEditing();
  if (!parent) parent = root_;
  if (!parent->Has(nsInitialized)) InitNode(parent);
  ++updateCount_;
  try {
    SetChildCount(parent, parent->ChildCount + 1);
    parent->Exclude(nsAllChildrenHidden);
  } catch (...) {
    --updateCount_;
    throw;
  }
  --updateCount_;
  PLazyNode result = parent->LastChild;
  if (userData) {
    // The value is a pointer: it needs a pointer's room.
    if (nodeDataSize_ < static_cast<int32_t>(sizeof(void*)))
      RaiseTreeError(TLazyTreeErrorKind::UserDataSpace);
    std::memcpy(GetNodeData(result), &userData, sizeof userData);
    result->Include(nsFreeNotifyRequired);
  }
  MarkCacheStale();
  if (updateCount_ == 0) {
    ValidateCache();
    if (states_.Contains(tsStructureChangePending))
      StructureChange(parent == root_ ? nullptr : parent, crChildAdded);
    if (Options.AutoSort && SortColumn > -2) Sort(parent, SortColumn, SortDirection, true);
    InvalidateToBottom(parent);
    UpdateScrollBars(true);
  }
  return result;
}

// ---- deleting

void TLazyTreeModel::DeleteNode(PLazyNode node, bool reindex) {
  if (!node || node == root_ || Options.ReadOnly) return;
  LT_ASSERT(!states_.Contains(tsIterating), kIterating);
  PLazyNode parent = node->Parent;
  // A clearing parent has halted the cache fill and reports the change itself.
  const bool parentClearing = parent->Has(nsClearing);
  if (!parentClearing) {
    HaltCacheValidation();
    StructureChange(parent == root_ ? nullptr : parent, crChildDeleted);
  }
  if (node->Has(nsSelected)) {
    if (updateCount_ > 0) {
      RemoveFromSelection(node);
    } else {
      // Synchronous mode makes the selection's change event fire at once.
      const bool enterSynch = !states_.Contains(tsSynchMode);
      if (enterSynch) DoStateChange({tsSynchMode});
      try {
        RemoveFromSelection(node);
      } catch (...) {
        if (enterSynch) DoStateChange({}, {tsSynchMode});
        throw;
      }
      if (enterSynch) DoStateChange({}, {tsSynchMode});
    }
  }
  InvalidateToBottom(parent);
  if (states_.Contains(tsHint)) {
    CancelHint();
    DoStateChange({}, {tsHint});
  }
  DeleteChildren(node, false);
  DisconnectNode(node, false, reindex);
  DoFreeNode(node);
  if (!parentClearing) {
    UpdateHiddenChildrenFlag(parent);
    MarkCacheStale();
    if (updateCount_ == 0) {
      ValidateCache();
      UpdateScrollBars(true);
    }
  }
}

void TLazyTreeModel::DisconnectNode(PLazyNode node, bool keepFocus, bool reindex) {
  LT_ASSERT(node && node != root_, u"Node must neither be nil nor the root node.");
  if (node == focusedNode_ && !keepFocus) FocusLeaves(node);
  if (node == rangeAnchor_) rangeAnchor_ = nullptr;
  PLazyNode parent = node->Parent;
  if (parent != root_ && !parent->Has(nsClearing)) {
    if (updateCount_ > 0) {
      DoStateChange({tsUpdateHiddenChildrenNeeded});
    } else {
      UpdateHiddenChildrenFlag(parent);
    }
  }
  // A parent being cleared is wiped as a whole.
  if (node->Has(nsDeleting)) return;
  node->Exclude(nsChecking);
  const bool parentWasExpanded = parent->Has(nsExpanded);
  const bool wasFullyVisible = FullyVisible(node);
  const uint32_t visibleBelow = wasFullyVisible ? VisibleDescendants(node) : 0;
  if (--parent->ChildCount == 0) {
    parent->Exclude(nsHasChildren | nsAllChildrenHidden);
    if (parent != root_) parent->Exclude(nsExpanded);
  }
  AdjustTotalCount(parent, -static_cast<int64_t>(node->TotalCount), true);
  // The parent's height holds the node's only while it shows its children
  // and the node is not hidden.
  if (parentWasExpanded && node->Has(nsVisible))
    AdjustTotalHeight(parent, -static_cast<int64_t>(node->TotalHeight), true);
  if (wasFullyVisible) visibleNodeCount_ -= visibleBelow + 1;
  if (node->PrevSibling) {
    node->PrevSibling->NextSibling = node->NextSibling;
  } else {
    parent->FirstChild = node->NextSibling;
  }
  if (node->NextSibling) {
    node->NextSibling->PrevSibling = node->PrevSibling;
  } else {
    parent->LastChild = node->PrevSibling;
  }
  if (reindex) {
    uint32_t index = node->Index;
    for (PLazyNode n = node->NextSibling; n; n = n->NextSibling) n->Index = index++;
  }
  node->PrevSibling = node->NextSibling = nullptr;
}

void TLazyTreeModel::DeleteChildren(PLazyNode node, bool resetHasChildren) {
  if (!node || node->ChildCount == 0 || Options.ReadOnly) return;
  LT_ASSERT(!states_.Contains(tsIterating), kIterating);
  ++updateCount_;
  try {
    HaltCacheValidation();
    const bool parentShown = node == root_ || (FullyVisible(node) && node->Has(nsExpanded));
    node->Include(nsClearing);
    for (PLazyNode child = node->LastChild; child;) {
      PLazyNode previous = child->PrevSibling;
      if (parentShown && child->Has(nsVisible)) --visibleNodeCount_;
      child->Include(nsDeleting);
      if (previous) previous->NextSibling = nullptr;
      node->LastChild = previous;
      DeleteNode(child, true);
      child = previous;
    }
    node->Exclude(nsClearing);
    if (resetHasChildren) node->Exclude(nsHasChildren);
    if (node != root_) node->Exclude(nsExpanded);
    node->ChildCount = 0;
    if (node == root_) {
      node->TotalHeight = defaultNodeHeight_;
      node->TotalCount = 1;
    } else if (node->Has(nsDeleting)) {
      node->TotalHeight = node->NodeHeight;
      node->TotalCount = 1;
    } else {
      AdjustTotalHeight(node, node->NodeHeight, false);
      AdjustTotalCount(node, 1, false);
    }
    node->FirstChild = node->LastChild = nullptr;
  } catch (...) {
    --updateCount_;
    throw;
  }
  --updateCount_;
  MarkCacheStale();
  if (updateCount_ == 0) {
    CompactSelection();
    ValidateCache();
    UpdateScrollBars(true);
    InvalidateToBottom(node);
  }
  StructureChange(node == root_ ? nullptr : node, crChildDeleted);
}

void TLazyTreeModel::DoFreeNode(PLazyNode node) {
  if (node == lastChangedNode_) lastChangedNode_ = nullptr;
  if (node == hotNode_) hotNode_ = nullptr;
  if (node == dropTargetNode_) dropTargetNode_ = nullptr;
  // A pending structure change must not hand out a freed node.
  if (node == lastStructureChangeNode_) lastStructureChangeNode_ = nullptr;
  try {
    if (OnFreeNode && node->Has(nsInitialized | nsFreeNotifyRequired)) OnFreeNode(sender_, node);
  } catch (...) {
    FreeNodeMemory(node);
    throw;
  }
  FreeNodeMemory(node);
}

void TLazyTreeModel::Clear() {
  if (Options.ReadOnly && !IsDestroying()) return;
  BeginUpdate();
  try {
    HaltCacheValidation();
    if (states_.Contains(tsEditing)) CancelEditing();
    if (states_.Contains(tsCopyPending) || states_.Contains(tsCutPending)) {
      EmptyOleClipboard();
      DoStateChange({}, {tsCopyPending, tsCutPending});
    }
    ClearSelection();
    focusedNode_ = hotNode_ = dropTargetNode_ = rangeAnchor_ = nullptr;
    lastChangedNode_ = nullptr;
    DeleteChildren(root_, true);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TLazyTreeModel::ResetNode(PLazyNode node) {
  CancelEditing();
  if (!node || node == root_) {
    Clear();
    return;
  }
  DoResetNode(node);
  DeleteChildren(node, false);
  node->Exclude(nsInitialized | nsChecking | nsCutOrCopy | nsDeleting | nsExpanded | nsHasChildren |
                nsHeightMeasured);
  InvalidateNode(node);
}

void TLazyTreeModel::ReinitNode(PLazyNode node, bool recursive) {
  if (node && node != root_) {
    node->Exclude(nsChecking | nsCutOrCopy | nsDeleting | nsHeightMeasured);
    InitNode(node);
  }
  if (recursive) ReinitChildren(node, true);
}

void TLazyTreeModel::ReinitChildren(PLazyNode node, bool recursive) {
  if (!node) node = root_;
  InitChildren(node);
  for (PLazyNode child = node->FirstChild; child;) {
    PLazyNode next = child->NextSibling;
    ReinitNode(child, recursive);
    child = next;
  }
}

// ---- initialising

void TLazyTreeModel::InitNode(PLazyNode node) {
  node->Include(nsInitialized);
  TLazyNodeInitStates initStates;
  DoInitNode(node->Parent == root_ ? nullptr : node->Parent, node, initStates);
  if (initStates.Contains(ivsDisabled)) node->Include(nsDisabled);
  if (initStates.Contains(ivsHasChildren)) node->Include(nsHasChildren);
  if (initStates.Contains(ivsSelected)) AddToSelection(node);
  if (initStates.Contains(ivsMultiline)) node->Include(nsMultiline);
  if (initStates.Contains(ivsExpanded) != node->Has(nsExpanded)) {
    if (initStates.Contains(ivsExpanded)) {
      ToggleNode(node);
    } else {
      InitChildren(node);
    }
  }
}

void TLazyTreeModel::InitChildren(PLazyNode node) {
  if (!node || node == root_ || !node->Has(nsHasChildren)) return;
  uint32_t count = node->ChildCount;
  DoInitChildren(node, count);
  if (count == 0) {
    DeleteChildren(node);
    node->Exclude(nsHasChildren);
  } else {
    SetChildCount(node, count);
  }
}

void TLazyTreeModel::EnsureNodeInitialized(PLazyNode node, bool recursive) {
  if (!node->Has(nsInitialized)) InitNode(node);
  if (recursive) EnsureChildrenInitialized(node, true);
}

void TLazyTreeModel::EnsureChildrenInitialized(PLazyNode node, bool recursive) {
  if (!node) node = root_;
  if (node->Has(nsHasChildren) && node->ChildCount == 0) InitChildren(node);
  for (PLazyNode child = node->FirstChild; child; child = child->NextSibling) {
    EnsureNodeInitialized(child, recursive);
  }
}

// ---- heights

uint32_t TLazyTreeModel::NodeHeight(PLazyNode node) {
  if (!node || node == root_) return 0;
  if (Options.VariableNodeHeight) {
    if (!node->Has(nsInitialized)) InitNode(node);
    if (!node->Has(nsHeightMeasured)) {
      node->Include(nsHeightMeasured);
      int height = node->NodeHeight;
      DoMeasureItem(node, height);
      if (height != node->NodeHeight) SetNodeHeight(node, static_cast<uint32_t>(height));
    }
  }
  return node->NodeHeight;
}

void TLazyTreeModel::SetNodeHeight(PLazyNode node, uint32_t height) {
  if (!node || node == root_ || height == node->NodeHeight || Options.ReadOnly) return;
  // The cache fill reads heights on its own thread: it stops first.
  const bool stopped = states_.Contains(tsStopValidation);
  if (!stopped) HaltCacheValidation();
  const int64_t diff = static_cast<int64_t>(static_cast<uint16_t>(height)) - node->NodeHeight;
  node->NodeHeight = static_cast<uint16_t>(height);
  AdjustTotalHeight(node, diff, true);
  if (!stopped && FullyVisible(node)) {
    MarkCacheStale();
    if (updateCount_ == 0) {
      ValidateCache();
      InvalidateToBottom(node);
      UpdateScrollBars(true);
    }
  }
}

void TLazyTreeModel::SetDefaultNodeHeight(uint32_t height) {
  if (height == 0) height = 18;
  // Node heights are 16 bits: a larger default would wrap in every node.
  if (height > 0xFFFF) height = 0xFFFF;
  if (height == defaultNodeHeight_) return;
  // The cache fill reads the root's heights on its own thread.
  HaltCacheValidation();
  DoStateChange({tsNeedScale});
  const int64_t diff = static_cast<int64_t>(height) - defaultNodeHeight_;
  root_->NodeHeight = static_cast<uint16_t>(root_->NodeHeight + diff);
  root_->TotalHeight = static_cast<uint32_t>(root_->TotalHeight + diff);
  defaultNodeHeight_ = height;
  MarkCacheStale();
}

// ---- update bracket and notices

void TLazyTreeModel::BeginUpdate() {
  // Counted while destroying too, so the EndUpdate that follows stays even.
  if (IsDestroying()) {
    ++updateCount_;
    return;
  }
  if (updateCount_ == 0) {
    DoUpdating(usBegin);
    SetUpdateState(true);
  } else {
    DoUpdating(usUpdate);
  }
  ++updateCount_;
  DoStateChange({tsUpdating});
}

void TLazyTreeModel::EndUpdate() {
  if (updateCount_ > 0) --updateCount_;
  if (IsDestroying()) return;
  if (updateCount_ == 0 && states_.Contains(tsUpdating)) {
    if (states_.Contains(tsUpdateHiddenChildrenNeeded)) {
      UpdateAllHiddenChildrenFlags();
      DoStateChange({}, {tsUpdateHiddenChildrenNeeded});
    }
    DoStateChange({}, {tsUpdating});
    CompactSelection();
    MarkCacheStale();
    ValidateCache();
    UpdateScrollBars(false);
    if (states_.Contains(tsStructureChangePending))
      DoStructureChange(lastStructureChangeNode_, lastStructureChangeReason_);
    auto finish = [this] {
      if (Options.AutoSort) SortTree(SortColumn, SortDirection, true);
      SetUpdateState(false);
      InvalidateAll();
      if (IsDesigning()) NotifyDesignerModified();
    };
    try {
      if (states_.Contains(tsChangePending)) DoChange(lastChangedNode_);
    } catch (...) {
      finish();
      throw;
    }
    finish();
  }
  DoUpdating(updateCount_ == 0 ? usEnd : usUpdate);
}

void TLazyTreeModel::StructureChange(PLazyNode node, TChangeReason reason) {
  AdviseChange(true, node, reason);
}

void TLazyTreeModel::AdviseChange(bool isStructureChange, PLazyNode node, TChangeReason reason) {
  if (isStructureChange) {
    if (states_.Contains(tsStructureChangePending)) {
      StopTimer(StructureChangeTimer);
    } else {
      DoStateChange({tsStructureChangePending});
    }
    lastStructureChangeNode_ = node;
    if (lastStructureChangeReason_ == crIgnore) {
      lastStructureChangeReason_ = reason;
    } else if (reason != crIgnore) {
      lastStructureChangeReason_ = crAccumulated;
    }
  } else {
    if (states_.Contains(tsChangePending)) {
      StopTimer(ChangeTimer);
    } else {
      DoStateChange({tsChangePending});
    }
    lastChangedNode_ = node;
  }
  if (updateCount_ != 0) return;
  if (ChangeDelay == 0 || states_.Contains(tsSynchMode)) {
    if (isStructureChange) {
      DoStructureChange(lastStructureChangeNode_, lastStructureChangeReason_);
    } else {
      DoChange(lastChangedNode_);
    }
  } else {
    StartTimer(isStructureChange ? StructureChangeTimer : ChangeTimer, ChangeDelay);
  }
}

void TLazyTreeModel::ChangeTimerExpired(int timerId) {
  if (timerId == StructureChangeTimer) {
    if (states_.Contains(tsStructureChangePending)) {
      DoStructureChange(lastStructureChangeNode_, lastStructureChangeReason_);
    } else {
      StopTimer(timerId);
    }
  } else if (timerId == ChangeTimer) {
    if (states_.Contains(tsChangePending)) {
      DoChange(lastChangedNode_);
    } else {
      StopTimer(timerId);
    }
  }
}

void TLazyTreeModel::DoStateChange(TLazyTreeStates enter, TLazyTreeStates leave) {
  if (OnStateChange) {
    const TLazyTreeStates effective = (enter - states_) + (leave * states_);
    if (!effective.Empty()) OnStateChange(sender_, enter, leave);
  }
  states_ = (states_ + enter) - leave;
}

// ---- dispatchers

void TLazyTreeModel::DoInitNode(PLazyNode parent, PLazyNode node, TLazyNodeInitStates& initStates) {
  if (OnInitNode) OnInitNode(sender_, parent, node, initStates);
}

void TLazyTreeModel::DoInitChildren(PLazyNode node, uint32_t& childCount) {
  if (OnInitChildren) OnInitChildren(sender_, node, childCount);
}

void TLazyTreeModel::DoResetNode(PLazyNode node) {
  if (OnResetNode) OnResetNode(sender_, node);
}

void TLazyTreeModel::DoChange(PLazyNode node) {
  StopTimer(ChangeTimer);
  if (OnChange) OnChange(sender_, node);
  DoStateChange({}, {tsChangePending});
  lastChangedNode_ = nullptr;
}

void TLazyTreeModel::DoStructureChange(PLazyNode node, TChangeReason reason) {
  StopTimer(StructureChangeTimer);
  if (OnStructureChange) OnStructureChange(sender_, node, reason);
  DoStateChange({}, {tsStructureChangePending});
  lastStructureChangeNode_ = nullptr;
  lastStructureChangeReason_ = crIgnore;
}

void TLazyTreeModel::DoUpdating(TLTUpdateState state) {
  if (OnUpdating) OnUpdating(sender_, state);
}

void TLazyTreeModel::DoMeasureItem(PLazyNode /*node*/, int& /*nodeHeight*/) {}

// ---- defaults of the view parts

void TLazyTreeModel::AddToSelection(PLazyNode node) {
  if (node->Has(nsSelected)) return;
  if (selectedCount_ == 0) rangeAnchor_ = node;
  node->Include(nsSelected);
  ++selectedCount_;
}

void TLazyTreeModel::RemoveFromSelection(PLazyNode node) {
  if (!node->Has(nsSelected)) return;
  node->Exclude(nsSelected);
  --selectedCount_;
}

void TLazyTreeModel::ClearSelection() {
  if (selectedCount_ == 0) return;
  for (PLazyNode n = root_->FirstChild; n; n = NextWithin(n, root_)) n->Exclude(nsSelected);
  selectedCount_ = 0;
}

void TLazyTreeModel::FocusLeaves(PLazyNode /*node*/) { focusedNode_ = nullptr; }

void TLazyTreeModel::ToggleNode(PLazyNode node) {
  if (!node || node == root_) return;
  if (node->Has(nsExpanded)) {
    const uint32_t below = FullyVisible(node) ? VisibleDescendants(node) : 0;
    node->Exclude(nsExpanded);
    AdjustTotalHeight(node, node->NodeHeight, false);
    visibleNodeCount_ -= below;
    return;
  }
  if (node->Has(nsHasChildren) && node->ChildCount == 0) InitChildren(node);
  if (node->ChildCount == 0) return;
  node->Include(nsExpanded);
  int64_t height = node->NodeHeight;
  for (PLazyNode c = node->FirstChild; c; c = c->NextSibling) {
    if (c->Has(nsVisible)) height += c->TotalHeight;
  }
  AdjustTotalHeight(node, height, false);
  if (FullyVisible(node)) visibleNodeCount_ += VisibleDescendants(node);
}

// ---- navigation

PLazyNode TLazyTreeModel::DeepestFirst(PLazyNode node, bool init) {
  for (;;) {
    if (init && node->Has(nsHasChildren) && node->ChildCount == 0) InitChildren(node);
    if (!node->FirstChild) return node;
    node = node->FirstChild;
    if (init && !node->Has(nsInitialized)) InitNode(node);
  }
}

PLazyNode TLazyTreeModel::DeepestLast(PLazyNode node, bool init) {
  for (;;) {
    if (init && node->Has(nsHasChildren) && node->ChildCount == 0) InitChildren(node);
    if (!node->LastChild) return node;
    node = node->LastChild;
    if (init && !node->Has(nsInitialized)) InitNode(node);
  }
}

PLazyNode TLazyTreeModel::NextPreOrder(PLazyNode node, bool init) {
  if (init && node->Has(nsHasChildren) && node->ChildCount == 0) InitChildren(node);
  PLazyNode result = NextWithin(node, root_);
  if (result && init && !result->Has(nsInitialized)) InitNode(result);
  return result;
}

PLazyNode TLazyTreeModel::GetFirst(bool considerChildrenAbove) {
  PLazyNode first = GetFirstChild(nullptr);
  if (first && considerChildrenAbove && Options.ChildrenAbove) return DeepestFirst(first, true);
  return first;
}

PLazyNode TLazyTreeModel::GetFirstNoInit(bool considerChildrenAbove) {
  PLazyNode first = root_->FirstChild;
  if (first && considerChildrenAbove && Options.ChildrenAbove) return DeepestFirst(first, false);
  return first;
}

PLazyNode TLazyTreeModel::GetNext(PLazyNode node, bool considerChildrenAbove) {
  LT_ASSERT(node != root_, kNotRoot);
  if (!node) return nullptr;
  if (considerChildrenAbove && Options.ChildrenAbove) {
    if (node->NextSibling) {
      PLazyNode next = node->NextSibling;
      if (!next->Has(nsInitialized)) InitNode(next);
      return DeepestFirst(next, true);
    }
    return node->Parent == root_ ? nullptr : node->Parent;
  }
  return NextPreOrder(node, true);
}

PLazyNode TLazyTreeModel::GetNextNoInit(PLazyNode node, bool considerChildrenAbove) {
  LT_ASSERT(node != root_, kNotRoot);
  if (!node) return nullptr;
  if (considerChildrenAbove && Options.ChildrenAbove) {
    if (node->NextSibling) return DeepestFirst(node->NextSibling, false);
    return node->Parent == root_ ? nullptr : node->Parent;
  }
  return NextPreOrder(node, false);
}

PLazyNode TLazyTreeModel::GetPrevious(PLazyNode node, bool considerChildrenAbove) {
  LT_ASSERT(node != root_, kNotRoot);
  if (!node) return nullptr;
  if (considerChildrenAbove && Options.ChildrenAbove) {
    // Mirrored: the last child if any, else the previous sibling of the node
    // or of its nearest ancestor.
    if (node->Has(nsHasChildren) && node->ChildCount == 0) InitChildren(node);
    PLazyNode result = node->LastChild;
    for (PLazyNode n = node; !result && n != root_; n = n->Parent) result = n->PrevSibling;
    if (result && !result->Has(nsInitialized)) InitNode(result);
    return result;
  }
  if (node->PrevSibling) {
    PLazyNode previous = node->PrevSibling;
    if (!previous->Has(nsInitialized)) InitNode(previous);
    return DeepestLast(previous, true);
  }
  return node->Parent == root_ ? nullptr : node->Parent;
}

PLazyNode TLazyTreeModel::GetPreviousNoInit(PLazyNode node, bool considerChildrenAbove) {
  LT_ASSERT(node != root_, kNotRoot);
  if (!node) return nullptr;
  if (considerChildrenAbove && Options.ChildrenAbove) {
    PLazyNode result = node->LastChild;
    for (PLazyNode n = node; !result && n != root_; n = n->Parent) result = n->PrevSibling;
    return result;
  }
  if (node->PrevSibling) return DeepestLast(node->PrevSibling, false);
  return node->Parent == root_ ? nullptr : node->Parent;
}

PLazyNode TLazyTreeModel::GetLast(PLazyNode node, bool considerChildrenAbove) {
  if (!node) node = root_;
  PLazyNode last = GetLastChild(node);
  if (!last || (considerChildrenAbove && Options.ChildrenAbove)) return last;
  return DeepestLast(last, true);
}

PLazyNode TLazyTreeModel::GetLastNoInit(PLazyNode node, bool considerChildrenAbove) {
  if (!node) node = root_;
  PLazyNode last = node->LastChild;
  if (!last || (considerChildrenAbove && Options.ChildrenAbove)) return last;
  return DeepestLast(last, false);
}

PLazyNode TLazyTreeModel::GetFirstChild(PLazyNode node) {
  if (!node) node = root_;
  if (node->Has(nsHasChildren) && node->ChildCount == 0) InitChildren(node);
  PLazyNode result = node->FirstChild;
  if (result && !result->Has(nsInitialized)) InitNode(result);
  return result;
}

PLazyNode TLazyTreeModel::GetFirstChildNoInit(PLazyNode node) {
  return (node ? node : root_)->FirstChild;
}

PLazyNode TLazyTreeModel::GetLastChild(PLazyNode node) {
  if (!node) node = root_;
  if (node->Has(nsHasChildren) && node->ChildCount == 0) InitChildren(node);
  PLazyNode result = node->LastChild;
  if (result && !result->Has(nsInitialized)) InitNode(result);
  return result;
}

PLazyNode TLazyTreeModel::GetLastChildNoInit(PLazyNode node) {
  return (node ? node : root_)->LastChild;
}

PLazyNode TLazyTreeModel::GetNextSibling(PLazyNode node) {
  LT_ASSERT(node != root_, kNotRoot);
  if (!node) return nullptr;
  PLazyNode result = node->NextSibling;
  if (result && !result->Has(nsInitialized)) InitNode(result);
  return result;
}

PLazyNode TLazyTreeModel::GetNextSiblingNoInit(PLazyNode node) {
  LT_ASSERT(node != root_, kNotRoot);
  return node ? node->NextSibling : nullptr;
}

PLazyNode TLazyTreeModel::GetPreviousSibling(PLazyNode node) {
  LT_ASSERT(node != root_, kNotRoot);
  if (!node) return nullptr;
  PLazyNode result = node->PrevSibling;
  if (result && !result->Has(nsInitialized)) InitNode(result);
  return result;
}

PLazyNode TLazyTreeModel::GetPreviousSiblingNoInit(PLazyNode node) {
  LT_ASSERT(node != root_, kNotRoot);
  return node ? node->PrevSibling : nullptr;
}

PLazyNode TLazyTreeModel::GetFirstInitialized() {
  PLazyNode first = root_->FirstChild;
  if (!first || first->Has(nsInitialized)) return first;
  return GetNextInitialized(first);
}

PLazyNode TLazyTreeModel::GetNextInitialized(PLazyNode node) {
  if (!node) return nullptr;
  do {
    node = NextWithin(node, root_);
  } while (node && !node->Has(nsInitialized));
  return node;
}

PLazyNode TLazyTreeModel::GetFirstCutCopy() {
  if (!states_.Contains(tsCopyPending) && !states_.Contains(tsCutPending)) return nullptr;
  PLazyNode first = root_->FirstChild;
  if (!first || first->Has(nsCutOrCopy)) return first;
  return GetNextCutCopy(first);
}

PLazyNode TLazyTreeModel::GetNextCutCopy(PLazyNode node) {
  if (!node || (!states_.Contains(tsCopyPending) && !states_.Contains(tsCutPending)))
    return nullptr;
  do {
    node = NextWithin(node, root_);
  } while (node && !node->Has(nsCutOrCopy));
  return node;
}

PLazyNode TLazyTreeModel::GetFirstSelected(bool considerChildrenAbove) {
  return GetNextSelected(nullptr, considerChildrenAbove);
}

PLazyNode TLazyTreeModel::GetNextSelected(PLazyNode node, bool considerChildrenAbove) {
  if (selectedCount_ == 0) return nullptr;
  node = !node || node == root_ ? GetFirstNoInit(considerChildrenAbove)
                                : GetNextNoInit(node, considerChildrenAbove);
  while (node && !node->Has(nsSelected)) node = GetNextNoInit(node, considerChildrenAbove);
  if (node && !node->Has(nsInitialized)) InitNode(node);
  return node;
}

classlib::TObject* OwnerTreeOf(PLazyNode node) {
  LT_ASSERT(node, u"Node must not be nil.");
  // Only the hidden root links to itself on both sides.
  while (node->PrevSibling != node || node->NextSibling != node) node = node->Parent;
  return reinterpret_cast<classlib::TObject*>(node->Parent);
}

uint32_t TLazyTreeModel::GetNodeLevel(PLazyNode node) const {
  if (!node || node == root_) return 0;
  uint32_t level = 0;
  for (PLazyNode n = node->Parent; n != root_; n = n->Parent) ++level;
  return level;
}

bool TLazyTreeModel::HasAsParent(PLazyNode node, PLazyNode potentialParent) const {
  if (!node || !potentialParent || node == potentialParent || node == root_) return false;
  for (PLazyNode n = node->Parent; n != root_; n = n->Parent) {
    if (n == potentialParent) return true;
  }
  return potentialParent == root_;
}

}  // namespace kelm::lazytree

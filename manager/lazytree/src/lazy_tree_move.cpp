// Moving nodes inside one tree and between the trees of this process, and
// the registry that finds a node's tree.
#include <algorithm>
#include <mutex>
#include <vector>

#include "lazytree/lazy_tree_error.h"
#include "lazytree/lazy_tree_view.h"

namespace kelm::lazytree {

namespace {

struct TLiveTrees {
  std::mutex lock;
  std::vector<TLazyTreeView*> trees;
  uint32_t lastNumber = 0;
};

TLiveTrees& LiveTrees() {
  static TLiveTrees live;
  return live;
}

}  // namespace

uint32_t RegisterLiveTree(TLazyTreeView* tree) {
  TLiveTrees& live = LiveTrees();
  std::lock_guard<std::mutex> guard(live.lock);
  live.trees.push_back(tree);
  return ++live.lastNumber;
}

void UnregisterLiveTree(TLazyTreeView* tree) {
  TLiveTrees& live = LiveTrees();
  std::lock_guard<std::mutex> guard(live.lock);
  live.trees.erase(std::remove(live.trees.begin(), live.trees.end(), tree), live.trees.end());
}

TLazyTreeView* TLazyTreeView::TreeByNumber(uint32_t number) {
  TLiveTrees& live = LiveTrees();
  std::lock_guard<std::mutex> guard(live.lock);
  for (TLazyTreeView* t : live.trees)
    if (t->TreeNumber() == number) return t;
  return nullptr;
}

TLazyTreeView* TLazyTreeView::TreeOfNode(PLazyNode node) {
  if (!node) return nullptr;
  // The hidden root is the one node that is its own sibling.
  while (node->PrevSibling != node) node = node->Parent;
  TLiveTrees& live = LiveTrees();
  std::lock_guard<std::mutex> guard(live.lock);
  for (TLazyTreeView* t : live.trees)
    if (t->RootNode() == node) return t;
  return nullptr;
}

void TLazyTreeView::MoveNode(PLazyNode source, PLazyNode target, TLTNodeAttachMode mode,
                             bool childrenOnly) {
  LT_ASSERT(!source || TreeOfNode(source) == this,
            u"The source tree must contain the source node.");
  if (mode == amNoWhere || !source || source == RootNode() || Options.ReadOnly) return;
  const bool insert = mode == amInsertBefore || mode == amInsertAfter;
  if (target == source && !(childrenOnly && insert)) return;

  TLazyTreeView* targetTree = this;
  if (!target) {
    target = RootNode();
    mode = amAddChildFirst;
  } else {
    targetTree = TreeOfNode(target);
    LT_ASSERT(targetTree, u"The target node belongs to no tree.");
  }
  if (target == targetTree->RootNode()) {
    if (mode == amInsertBefore) mode = amAddChildFirst;
    if (mode == amInsertAfter) mode = amAddChildLast;
  } else {
    if (!target->Has(nsInitialized)) targetTree->InitNode(target);
    if (target->Has(nsHasChildren) && target->ChildCount == 0) targetTree->InitChildren(target);
  }
  PLazyNode reported = target == targetTree->RootNode() ? nullptr : target;
  if (!DoNodeMoving(source, reported)) return;

  // Each moved node after the first follows the one before it, so the
  // nodes keep their order whatever the mode.
  PLazyNode place = target;
  TLTNodeAttachMode placeMode = mode;
  auto advance = [&](PLazyNode placed) {
    if (mode == amInsertAfter || mode == amAddChildFirst) {
      place = placed;
      placeMode = amInsertAfter;
    }
  };
  PLazyNode changed = source;
  if (targetTree == this) {
    if (HasAsParent(target, source)) RaiseTreeError(TLazyTreeErrorKind::MoveIntoOwnChild);
    if (!childrenOnly) {
      UnlinkNode(source, true, true);
      LinkNode(source, place, placeMode);
      DoNodeMoved(source);
    } else {
      while (PLazyNode child = source->FirstChild) {
        UnlinkNode(child, true, false);
        LinkNode(child, place, placeMode);
        advance(child);
        DoNodeMoved(child);
      }
    }
  } else {
    classlib::TMemoryStream stream;
    if (childrenOnly) {
      for (PLazyNode c = source->FirstChild; c; c = c->NextSibling) WriteNodeRecord(stream, c);
    } else {
      WriteNodeRecord(stream, source);
    }
    stream.SetPosition(0);
    targetTree->BeginUpdate();
    try {
      while (stream.Position() < stream.Size()) {
        PLazyNode node = targetTree->MakeNewNode();
        targetTree->LinkNode(node, place, placeMode);
        targetTree->AddNodeFromStream(stream, 2, node);
        advance(node);
        // Reported while Source still exists, so the owner may look at both.
        DoNodeMoved(node);
      }
    } catch (...) {
      targetTree->EndUpdate();
      throw;
    }
    targetTree->EndUpdate();
    BeginUpdate();
    try {
      if (childrenOnly) {
        DeleteChildren(source, true);
      } else {
        // The notice names what is left: Source's old parent.
        changed = source->Parent == RootNode() ? nullptr : source->Parent;
        DeleteNode(source, true);
      }
    } catch (...) {
      EndUpdate();
      throw;
    }
    EndUpdate();
  }

  MarkCacheStale();
  if (UpdateCount() == 0) {
    ValidateCache();
    UpdateScrollBars(true);
    InvalidateAll();
    if (targetTree != this) targetTree->InvalidateAll();
  }
  StructureChange(changed, crNodeMoved);
}

}  // namespace kelm::lazytree

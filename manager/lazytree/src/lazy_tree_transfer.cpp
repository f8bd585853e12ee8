// Nodes leaving and entering a tree through a transfer (clipboard, drag):
// the stream of the nodes, inserting what a stream brings, moving what a
// tree of this process offers, and the private formats' blocks.
#include "lazytree/tree_transfer.h"

#include <algorithm>
#include <unordered_set>

#include "lazytree/lazy_tree_error.h"
#include "lazytree/lazy_tree_view.h"

namespace kelm::lazytree {

namespace {

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace

bool DecodeTreeDataBlock(const uint8_t* block, size_t blockSize, const uint8_t*& data,
                         uint32_t& length) {
  data = nullptr;
  length = 0;
  if (!block || blockSize < 4) return false;
  const uint32_t stored = Le32(block);
  if (stored > blockSize - 4) return false;
  data = block + 4;
  length = stored;
  return true;
}

std::array<uint8_t, kTreeReferenceSize> EncodeTreeReference(uint32_t processId,
                                                            uint32_t treeNumber) {
  std::array<uint8_t, kTreeReferenceSize> out{};
  for (int i = 0; i < 4; ++i) {
    out[i] = static_cast<uint8_t>(processId >> (8 * i));
    out[4 + i] = static_cast<uint8_t>(treeNumber >> (8 * i));
  }
  return out;
}

TLazyTreeView* DecodeTreeReference(const uint8_t* block, size_t blockSize, uint32_t ownProcessId) {
  if (!block || blockSize < kTreeReferenceSize || Le32(block) != ownProcessId) return nullptr;
  return TLazyTreeView::TreeByNumber(Le32(block + 4));
}

void TLazyTreeView::WriteTransferNodes(classlib::TStream& stream,
                                       const std::vector<PLazyNode>& nodes) {
  const std::unordered_set<PLazyNode> listed(nodes.begin(), nodes.end());
  std::vector<PLazyNode> kept;
  for (PLazyNode n : nodes) {
    bool covered = false;
    for (PLazyNode p = n->Parent; p != RootNode() && !covered; p = p->Parent)
      covered = listed.count(p) != 0;
    if (!covered) kept.push_back(n);
  }
  WriteStreamHeader(stream, static_cast<uint32_t>(kept.size()));
  for (PLazyNode n : kept) WriteNodeRecord(stream, n);
}

void TLazyTreeView::InsertStreamedNodes(classlib::TStream& stream, PLazyNode target,
                                        TLTNodeAttachMode mode, TChangeReason reason) {
  if (Options.ReadOnly || mode == amNoWhere) return;
  if (!target) target = RootNode();
  if (target == RootNode()) {
    if (mode == amInsertBefore) mode = amAddChildFirst;
    if (mode == amInsertAfter) mode = amAddChildLast;
  }
  uint32_t count = ReadStreamHeader(stream);
  PLazyNode place = target;
  TLTNodeAttachMode placeMode = mode;
  BeginUpdate();
  try {
    for (; count > 0 && stream.Position() < stream.Size(); --count) {
      PLazyNode node = MakeNewNode();
      LinkNode(node, place, placeMode);
      AddNodeFromStream(stream, 2, node);
      if (!DoNodeCopying(node, target == RootNode() ? nullptr : target)) {
        DeleteNode(node, true);
        continue;
      }
      DoNodeCopied(node);
      StructureChange(node, reason);
      // The next node follows this one, so the order survives.
      if (mode == amInsertAfter || mode == amAddChildFirst) {
        place = node;
        placeMode = amInsertAfter;
      }
    }
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TLazyTreeView::DeleteSelectedNodes() {
  if (SelectedCount() == 0 || Options.ReadOnly) return;
  BeginUpdate();
  try {
    const std::vector<PLazyNode> nodes = GetSortedSelection(true);
    // Siblings are renumbered once, when the first of them goes.
    for (size_t i = nodes.size(); i-- > 1;)
      DeleteNode(nodes[i], nodes[i]->Parent != nodes[i - 1]->Parent);
    DeleteNode(nodes[0], true);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TLazyTreeView::MoveTransferredNodes(TLazyTreeView& sourceTree, std::vector<PLazyNode> nodes,
                                         PLazyNode target, TLTNodeAttachMode mode) {
  if (Options.ReadOnly || mode == amNoWhere) return;
  if (!target) target = RootNode();
  if (target == RootNode()) {
    if (mode == amInsertBefore) mode = amAddChildFirst;
    if (mode == amInsertAfter) mode = amAddChildLast;
  }
  // Placing each at the same spot: after or first-child reverses, so they
  // go in reverse order.
  if (mode != amInsertBefore && mode != amAddChildLast) std::reverse(nodes.begin(), nodes.end());
  BeginUpdate();
  try {
    for (PLazyNode n : nodes) {
      if (&sourceTree == this && (n == target || HasAsParent(target, n))) continue;
      sourceTree.MoveNode(n, target, mode, false);
    }
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

}  // namespace kelm::lazytree

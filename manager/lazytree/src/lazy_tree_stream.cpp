// The tree stream: a 12-byte magic with the version, a node count (version
// 2), then one anchor chunk per top-level node. A stream may come from
// another process, so every size is checked against the chunk that holds
// it, nesting is bounded, and a node that fails half-way is taken out again.
#include <cstring>
#include <vector>

#include "lazytree/lazy_tree_error.h"
#include "lazytree/lazy_tree_view.h"

namespace kelm::lazytree {

using classlib::TSeekOrigin;
using classlib::TStream;

namespace {

constexpr uint16_t kMagic[6] = {0x2045, 0x0056, 0x0054, 2, 0x0020, 0x2046};
// The transient states (checking, cut or copy, deleting, free notify,
// height measured) are never written nor taken from a stream.
constexpr uint16_t kStoredStates = 0xDDE9;
// Clearing and toggling are states of an operation running in this process:
// a stream never brings them in.
constexpr uint16_t kReadStates = kStoredStates & ~(nsClearing | nsToggling);
constexpr int32_t kAnchorChunk = 1;
constexpr int32_t kBaseChunk = 2;
constexpr int32_t kUserChunk = 4;
constexpr int64_t kChunkHeaderSize = 8;
constexpr int64_t kBaseSizeV1 = 12;
constexpr int64_t kBaseSizeV2 = 17;
// Deeper records are refused as corrupt rather than recursed into.
constexpr int kMaxRecordDepth = 1000;

struct TChunkHeader {
  int32_t type = 0;
  int32_t size = 0;
};

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void WriteU32(TStream& s, uint32_t v) {
  uint8_t b[4];
  PutLe32(b, v);
  s.WriteBuffer(b, 4);
}

TChunkHeader ReadChunkHeader(TStream& s) {
  uint8_t b[8];
  s.ReadBuffer(b, 8);
  return {static_cast<int32_t>(Le32(b)), static_cast<int32_t>(Le32(b + 4))};
}

void WriteChunkHeader(TStream& s, int32_t type, int32_t size) {
  uint8_t b[8];
  PutLe32(b, static_cast<uint32_t>(type));
  PutLe32(b + 4, static_cast<uint32_t>(size));
  s.WriteBuffer(b, 8);
}

// Pre-order within `top`'s subtree.
PLazyNode NextIn(PLazyNode n, PLazyNode top) {
  if (n->FirstChild) return n->FirstChild;
  while (n != top) {
    if (n->NextSibling) return n->NextSibling;
    n = n->Parent;
  }
  return nullptr;
}

}  // namespace

void TLazyTreeView::PatchChunkSize(TStream& stream, int64_t startPos, int64_t endPos) {
  uint8_t b[4];
  PutLe32(b, static_cast<uint32_t>(endPos - startPos - kChunkHeaderSize));
  stream.SetPosition(startPos + 4);
  stream.WriteBuffer(b, 4);
  stream.SetPosition(endPos);
}

// ---- writing

void TLazyTreeView::WriteStreamHeader(TStream& stream, uint32_t count) {
  uint8_t magic[12];
  for (int i = 0; i < 6; ++i) {
    magic[2 * i] = static_cast<uint8_t>(kMagic[i]);
    magic[2 * i + 1] = static_cast<uint8_t>(kMagic[i] >> 8);
  }
  stream.WriteBuffer(magic, sizeof magic);
  WriteU32(stream, count);
}

void TLazyTreeView::SaveToStream(TStream& stream, PLazyNode node) {
  if (node && node != RootNode()) {
    WriteStreamHeader(stream, 1);
    WriteNodeRecord(stream, node);
    return;
  }
  WriteStreamHeader(stream, RootNode()->ChildCount);
  for (PLazyNode n = RootNode()->FirstChild; n; n = n->NextSibling) WriteNodeRecord(stream, n);
}

void TLazyTreeView::WriteNodeRecord(TStream& stream, PLazyNode node) {
  if (ViewOptions.InitOnSave) {
    if (!node->Has(nsInitialized)) InitNode(node);
    if (node->Has(nsHasChildren) && node->ChildCount == 0) InitChildren(node);
  }
  const int64_t start = stream.Position();
  WriteChunkHeader(stream, kAnchorChunk, 0);
  WriteNodeChunks(stream, node);
  PatchChunkSize(stream, start, stream.Position());
}

void TLazyTreeView::WriteNodeChunks(TStream& stream, PLazyNode node) {
  const bool withChildren = node->Has(nsInitialized);
  int64_t start = stream.Position();
  WriteChunkHeader(stream, kBaseChunk, 0);
  uint8_t body[kBaseSizeV2] = {};
  // Children are written only for an initialised node, so only then does
  // the record announce them: a reader would look for records not there.
  PutLe32(body, withChildren ? node->ChildCount : 0);
  PutLe32(body + 4, node->NodeHeight);
  const uint16_t states = node->States & kStoredStates;
  body[8] = static_cast<uint8_t>(states);
  body[9] = static_cast<uint8_t>(states >> 8);
  body[10] = node->Align;
  body[11] = node->CheckState;
  body[12] = node->CheckType;
  stream.WriteBuffer(body, sizeof body);
  if (withChildren) {
    for (PLazyNode c = node->FirstChild; c; c = c->NextSibling) WriteNodeRecord(stream, c);
  }
  PatchChunkSize(stream, start, stream.Position());

  start = stream.Position();
  WriteChunkHeader(stream, kUserChunk, 0);
  DoSaveNode(node, &stream);
  const int64_t end = stream.Position();
  if (end == start + kChunkHeaderSize) {
    // Nothing of the owner's: the empty chunk is cut off again.
    stream.SetSize(stream.Size() - kChunkHeaderSize);
    stream.SetPosition(start);
  } else {
    PatchChunkSize(stream, start, end);
  }
}

// ---- reading

int TLazyTreeView::ReadStreamMagic(TStream& stream) {
  if (stream.Remaining() < 12) RaiseTreeError(TLazyTreeErrorKind::StreamTooShort);
  uint8_t magic[12];
  stream.ReadBuffer(magic, sizeof magic);
  auto word = [&](int i) { return static_cast<uint16_t>(magic[2 * i] | magic[2 * i + 1] << 8); };
  if (word(0) != kMagic[0] || word(1) != kMagic[1] || word(2) != kMagic[2] || word(5) != kMagic[5])
    RaiseTreeError(TLazyTreeErrorKind::StreamFormat);
  const int version = word(3);
  if (version != 1 && version != 2) RaiseTreeError(TLazyTreeErrorKind::StreamVersion);
  return version;
}

uint32_t TLazyTreeView::ReadStreamHeader(TStream& stream) {
  if (ReadStreamMagic(stream) != 2) RaiseTreeError(TLazyTreeErrorKind::StreamVersion);
  uint8_t b[4];
  stream.ReadBuffer(b, 4);
  return Le32(b);
}

void TLazyTreeView::LoadFromStream(TStream& stream) {
  if (Options.ReadOnly) return;
  Clear();
  const int version = ReadStreamMagic(stream);
  BeginUpdate();
  try {
    uint32_t count = 0x7FFFFFFF;
    if (version == 2) {
      uint8_t b[4];
      stream.ReadBuffer(b, 4);
      count = Le32(b);
    }
    while (stream.Position() < stream.Size() && count > 0) {
      --count;
      PLazyNode node = MakeNewNode();
      LinkNode(node, RootNode(), amAddChildLast);
      AddNodeFromStream(stream, version, node);
    }
    DoNodeCopied(nullptr);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TLazyTreeView::AddNodeFromStream(TStream& stream, int version, PLazyNode node) {
  LT_ASSERT(node && node != RootNode(), u"The root node cannot be loaded from stream.");
  PLazyNode parent = node->Parent;
  const bool wasShown = FullyVisible(node);
  const uint32_t oldShownBelow = wasShown ? VisibleDescendants(node) : 0;
  const uint32_t oldCount = node->TotalCount;
  const bool oldInHeight = parent->Has(nsExpanded) && node->Has(nsVisible);
  const uint32_t oldHeight = node->TotalHeight;

  // Brings the subtree's own aggregates and its ancestors' in line with
  // what was read, whole or not.
  auto settle = [&] {
    std::vector<PLazyNode> order;
    for (PLazyNode n = node; n; n = NextIn(n, node)) order.push_back(n);
    for (auto it = order.rbegin(); it != order.rend(); ++it) {
      PLazyNode n = *it;
      if (n->ChildCount > 0) {
        n->Include(nsHasChildren);
      } else {
        n->Exclude(nsExpanded);
      }
      UpdateHiddenChildrenFlag(n);
      uint32_t total = 1;
      uint32_t height = n->NodeHeight;
      for (PLazyNode c = n->FirstChild; c; c = c->NextSibling) {
        total += c->TotalCount;
        if (n->Has(nsExpanded) && c->Has(nsVisible)) height += c->TotalHeight;
      }
      n->TotalCount = total;
      n->TotalHeight = height;
    }
    AdjustTotalCount(parent, static_cast<int64_t>(node->TotalCount) - oldCount, true);
    const bool inHeight = parent->Has(nsExpanded) && node->Has(nsVisible);
    const int64_t heightDiff = (inHeight ? static_cast<int64_t>(node->TotalHeight) : 0) -
                               (oldInHeight ? static_cast<int64_t>(oldHeight) : 0);
    if (heightDiff != 0) AdjustTotalHeight(parent, heightDiff, true);
    const bool shown = FullyVisible(node);
    const int64_t visible = static_cast<int64_t>(VisibleNodeCount()) -
                            (wasShown ? 1 + oldShownBelow : 0) +
                            (shown ? 1 + VisibleDescendants(node) : 0);
    SetVisibleNodeCount(static_cast<uint32_t>(visible));
    if (parent != RootNode()) UpdateHiddenChildrenFlag(parent);
    return order;
  };

  try {
    ReadNodeRecord(stream, version, node);
  } catch (...) {
    // The node never joined the selection: its flags go before it does.
    for (PLazyNode n : settle()) n->Exclude(nsSelected);
    DeleteNode(node, true);
    MarkCacheStale();
    throw;
  }
  std::vector<PLazyNode> loaded = settle();
  MarkCacheStale();
  if (!ViewOptions.MultiSelect) {
    for (PLazyNode n : loaded) n->Exclude(nsSelected);
    return;
  }
  std::vector<PLazyNode> selected;
  for (PLazyNode n : loaded) {
    if (!n->Has(nsSelected)) continue;
    n->Exclude(nsSelected);  // joins the selection through it, counted
    selected.push_back(n);
  }
  if (!selected.empty()) AddSelection(selected, true);
}

void TLazyTreeView::ReadNodeRecord(TStream& stream, int version, PLazyNode node) {
  // A top-level record may use the rest of the stream.
  if (readDepth_ == 0) readLimit_ = stream.Size();
  const TChunkHeader anchor = ReadChunkHeader(stream);
  const int64_t start = stream.Position();
  if (anchor.type != kAnchorChunk || anchor.size < 0 || start + anchor.size > readLimit_)
    RaiseTreeError(TLazyTreeErrorKind::AnchorChunkMissing);
  if (readDepth_ >= kMaxRecordDepth) RaiseTreeError(TLazyTreeErrorKind::DataAfterNodeEnd);
  const int64_t end = start + anchor.size;
  const int64_t outerLimit = readLimit_;
  ++readDepth_;
  try {
    while (stream.Position() < end) {
      readLimit_ = end;
      if (end - stream.Position() < kChunkHeaderSize)
        RaiseTreeError(TLazyTreeErrorKind::DataAfterNodeEnd);
      const TChunkHeader chunk = ReadChunkHeader(stream);
      if (chunk.size < 0 || stream.Position() + chunk.size > end)
        RaiseTreeError(TLazyTreeErrorKind::DataAfterNodeEnd);
      ReadNodeChunk(stream, version, node, chunk.type, chunk.size);
    }
  } catch (...) {
    --readDepth_;
    readLimit_ = outerLimit;
    throw;
  }
  --readDepth_;
  readLimit_ = outerLimit;
  if (stream.Position() != end) RaiseTreeError(TLazyTreeErrorKind::DataAfterNodeEnd);
}

bool TLazyTreeView::ReadNodeChunk(TStream& stream, int version, PLazyNode node, int32_t chunkType,
                                  int32_t chunkSize) {
  const int64_t start = stream.Position();
  const int64_t end = start + chunkSize;
  if (chunkType == kBaseChunk) {
    const int64_t bodySize = version == 1 ? kBaseSizeV1 : kBaseSizeV2;
    if (chunkSize < bodySize) RaiseTreeError(TLazyTreeErrorKind::DataAfterNodeEnd);
    uint8_t body[kBaseSizeV2] = {};
    stream.ReadBuffer(body, bodySize);
    const uint32_t childCount = Le32(body);
    node->NodeHeight = static_cast<uint16_t>(Le32(body + 4));
    node->TotalHeight = node->NodeHeight;
    uint16_t states = 0;
    if (version == 1) {
      states = static_cast<uint16_t>((body[8] & 0x7F) | nsVisible);
      if ((body[8] & 0x80) != 0) states |= nsSelected;
    } else {
      states = static_cast<uint16_t>(body[8] | body[9] << 8);
    }
    const int at = version == 1 ? 9 : 10;
    node->States = states & kReadStates;
    node->Align = body[at];
    node->CheckState = body[at + 1] <= csMixedPressed ? body[at + 1] : uint8_t{csUncheckedNormal};
    node->CheckType = body[at + 2] <= ctButton ? body[at + 2] : uint8_t{ctNone};
    // Children are linked one by one so that the subtree stays whole
    // whatever fails; their records must lie inside this chunk.
    for (uint32_t i = 0; i < childCount; ++i) {
      if (end - stream.Position() < kChunkHeaderSize)
        RaiseTreeError(TLazyTreeErrorKind::DataAfterNodeEnd);
      PLazyNode child = MakeNewNode();
      child->Parent = node;
      child->PrevSibling = node->LastChild;
      child->Index = node->LastChild ? node->LastChild->Index + 1 : 0;
      if (node->LastChild) {
        node->LastChild->NextSibling = child;
      } else {
        node->FirstChild = child;
      }
      node->LastChild = child;
      ++node->ChildCount;
      node->Include(nsHasChildren);
      readLimit_ = end;
      ReadNodeRecord(stream, version, child);
    }
    if (stream.Position() != end) RaiseTreeError(TLazyTreeErrorKind::DataAfterNodeEnd);
    return true;
  }
  if (chunkType == kUserChunk) {
    bool moved = false;
    if (chunkSize > 0) {
      DoLoadNode(node, &stream);
      moved = stream.Position() != start;
    }
    // A handler reading too little or too much does not break the stream.
    if (stream.Position() != end) stream.SetPosition(end);
    return moved;
  }
  stream.SetPosition(end);
  return false;
}

void TLazyTreeView::SkipNodeRecord(TStream& stream) {
  const TChunkHeader anchor = ReadChunkHeader(stream);
  if (anchor.type != kAnchorChunk || anchor.size < 0 || anchor.size > stream.Remaining())
    RaiseTreeError(TLazyTreeErrorKind::AnchorChunkMissing);
  stream.Seek(anchor.size, TSeekOrigin::soCurrent);
}

}  // namespace kelm::lazytree

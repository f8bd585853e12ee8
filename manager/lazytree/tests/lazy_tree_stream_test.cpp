// The tree stream (goldens, old version, hostile input) and moving nodes
// within and between trees, each step checked by the invariant checker.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "classlib/streams.h"
#include "classlib/sysutils.h"
#include "lazytree/lazy_tree_error.h"
#include "lazytree/lazy_tree_view.h"
#include "lazytree/tree_transfer.h"
#include "tree_invariants.h"

namespace kelm::lazytree {
namespace {

using Bytes = std::vector<uint8_t>;
using classlib::TMemoryStream;
using classlib::TObject;
using classlib::TStream;

// Every node carries a name; the owner's chunk holds it (length byte, text).
class TNamedTree : public TLazyTreeView {
 public:
  explicit TNamedTree(TObject* sender) : TLazyTreeView(sender) { CreateRootNode(); }
  ~TNamedTree() override { Clear(); }
  std::map<PLazyNode, std::string> names;
  std::vector<std::string> moved;
  std::function<bool(PLazyNode)> allowMove;
  int copiedNil = 0;
  std::vector<std::string> copied;
  std::function<bool(PLazyNode)> allowCopy;

  PLazyNode Add(PLazyNode parent, const std::string& name) {
    PLazyNode n = AddChild(parent);
    names[n] = name;
    return n;
  }
  // Pre-order "A(B,C),D".
  std::string Describe(PLazyNode parent = nullptr) {
    std::string out;
    for (PLazyNode c = (parent ? parent : RootNode())->FirstChild; c; c = c->NextSibling) {
      if (!out.empty()) out += ",";
      out += names[c];
      if (c->FirstChild) out += "(" + Describe(c) + ")";
    }
    return out;
  }
  PLazyNode Find(const std::string& name) {
    for (auto& [n, s] : names)
      if (s == name) return n;
    return nullptr;
  }

 protected:
  void DoSaveNode(PLazyNode node, TStream* stream) override {
    const std::string& s = names[node];
    if (s.empty()) return;
    const auto len = static_cast<uint8_t>(s.size());
    stream->WriteBuffer(&len, 1);
    stream->WriteBuffer(s.data(), len);
  }
  void DoLoadNode(PLazyNode node, TStream* stream) override {
    uint8_t len = 0;
    stream->ReadBuffer(&len, 1);
    std::string s(len, '\0');
    stream->ReadBuffer(s.data(), len);
    names[node] = s;
  }
  void DoFreeNode(PLazyNode node) override {
    names.erase(node);
    TLazyTreeView::DoFreeNode(node);
  }
  void DoNodeCopied(PLazyNode node) override {
    if (!node) {
      ++copiedNil;
    } else {
      copied.push_back(names[node]);
    }
  }
  bool DoNodeCopying(PLazyNode node, PLazyNode /*target*/) override {
    return !allowCopy || allowCopy(node);
  }
  bool DoNodeMoving(PLazyNode node, PLazyNode /*target*/) override {
    return !allowMove || allowMove(node);
  }
  void DoNodeMoved(PLazyNode node) override {
    // Across trees the node reported is the new one, named once read.
    TNamedTree* owner = static_cast<TNamedTree*>(TreeOfNode(node));
    moved.push_back(owner->names[node]);
  }
};

Bytes Save(TLazyTreeView& tree, PLazyNode node = nullptr) {
  TMemoryStream m;
  tree.SaveToStream(m, node);
  return m.Bytes();
}

void Load(TLazyTreeView& tree, const Bytes& bytes) {
  classlib::TResourceStream in(bytes.data(), static_cast<int64_t>(bytes.size()));
  tree.LoadFromStream(in);
}

uint32_t Le32(const Bytes& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
void Put32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// The help context of what loading raised; -1 for the stream's read error,
// 0 for none.
int LoadError(TLazyTreeView& tree, const Bytes& bytes) {
  try {
    Load(tree, bytes);
  } catch (const classlib::EReadError&) {
    return -1;
  } catch (const ELazyTreeError& e) {
    return e.HelpContext();
  }
  return 0;
}

class LazyTreeStream : public ::testing::Test {
 protected:
  TObject sender;
  TNamedTree tree{&sender};
  TObject sender2;
  TNamedTree other{&sender2};

  void Check() {
    ASSERT_EQ(test::CheckTreeInvariants(tree, &sender, true), "");
    ASSERT_EQ(test::CheckTreeInvariants(other, &sender2, true), "");
  }
  // A(B(C),D),E with every node initialised.
  void Build(TNamedTree& t) {
    PLazyNode a = t.Add(nullptr, "A");
    PLazyNode b = t.Add(a, "B");
    t.Add(b, "C");
    t.Add(a, "D");
    t.Add(nullptr, "E");
    for (PLazyNode n = t.GetFirst(); n; n = t.GetNext(n)) t.InitNode(n);
  }
};

TEST_F(LazyTreeStream, GoldensOfTheEmptyTreeAndOneLeaf) {
  const Bytes empty = Save(tree);
  const Bytes magic = {0x45, 0x20, 0x56, 0, 0x54, 0, 2, 0, 0x20, 0, 0x46, 0x20};
  ASSERT_EQ(empty.size(), 16u);
  EXPECT_EQ(Bytes(empty.begin(), empty.begin() + 12), magic);
  EXPECT_EQ(Le32(empty, 12), 0u);

  PLazyNode leaf = tree.AddChild(nullptr);  // no name: no user chunk
  tree.InitNode(leaf);
  leaf->CheckType = ctCheckBox;
  leaf->CheckState = csCheckedNormal;
  // Transient bits are never written.
  leaf->Include(nsChecking | nsCutOrCopy | nsHeightMeasured | nsFreeNotifyRequired);
  const uint16_t states = leaf->States;
  const Bytes one = Save(tree);
  leaf->Exclude(nsChecking | nsCutOrCopy | nsHeightMeasured | nsFreeNotifyRequired);
  ASSERT_EQ(one.size(), 49u);
  EXPECT_EQ(Le32(one, 12), 1u);
  EXPECT_EQ(Le32(one, 16), 1u);   // anchor
  EXPECT_EQ(Le32(one, 20), 25u);  // base chunk with its header
  EXPECT_EQ(Le32(one, 24), 2u);
  EXPECT_EQ(Le32(one, 28), 17u);
  EXPECT_EQ(Le32(one, 32), 0u);                        // children
  EXPECT_EQ(Le32(one, 36), tree.DefaultNodeHeight());  // height
  EXPECT_EQ(one[40] | one[41] << 8, states & 0xDDE9);
  EXPECT_EQ(one[42], 50);  // Align
  EXPECT_EQ(one[43], csCheckedNormal);
  EXPECT_EQ(one[44], ctCheckBox);
  EXPECT_EQ(Le32(one, 45), 0u);  // reserved
}

TEST_F(LazyTreeStream, NestedTreeWithUserChunksRoundTripsIntoAnotherTree) {
  Build(tree);
  tree.FullExpand();
  const Bytes saved = Save(tree);
  Load(other, saved);
  Check();
  EXPECT_EQ(other.Describe(), "A(B(C),D),E");
  EXPECT_EQ(other.copiedNil, 1);
  EXPECT_EQ(other.VisibleNodeCount(), 5u);
  EXPECT_EQ(Save(other), saved);
  // One node's subtree alone: count 1.
  const Bytes part = Save(tree, tree.Find("B"));
  Load(other, part);
  Check();
  EXPECT_EQ(other.Describe(), "B(C)");

  // An owner chunk that writes nothing is cut off: 8 bytes less per node.
  tree.names[tree.Find("C")] = "";
  EXPECT_EQ(Save(tree).size(), saved.size() - 8 - 2);
}

TEST_F(LazyTreeStream, UninitialisedNodeRecordsNoChildren) {
  PLazyNode a = tree.Add(nullptr, "A");
  tree.SetChildCount(a, 3);  // children exist, but A was never initialised
  a->Exclude(nsInitialized);
  const Bytes saved = Save(tree);
  EXPECT_EQ(Le32(saved, 32), 0u);
  Load(other, saved);
  Check();
  EXPECT_EQ(other.RootNodeCount(), 1u);
  EXPECT_EQ(other.GetFirstNoInit()->ChildCount, 0u);
}

TEST_F(LazyTreeStream, VersionOneReadsToTheEndVersionTwoStopsAtItsCount) {
  Build(tree);
  Bytes saved = Save(tree);
  saved[8] = 0x77;  // never checked
  // Data after the stored count is left alone.
  Put32(saved, 12, 1);
  Load(other, saved);
  Check();
  EXPECT_EQ(other.Describe(), "A(B(C),D)");

  // Version 1: no count, 12-byte base body with a one-byte state.
  auto leafV1 = [](uint8_t state, uint8_t nameChar) {
    Bytes r = {1, 0, 0, 0, 0, 0, 0, 0, 2, 0, 0, 0, 12, 0, 0, 0};
    const Bytes body = {0, 0, 0, 0, 20, 0, 0, 0, state, 30, csCheckedNormal, ctCheckBox};
    r.insert(r.end(), body.begin(), body.end());
    const Bytes user = {4, 0, 0, 0, 2, 0, 0, 0, 1, nameChar};
    r.insert(r.end(), user.begin(), user.end());
    Put32(r, 4, static_cast<uint32_t>(r.size() - 8));
    return r;
  };
  Bytes v1 = {0x45, 0x20, 0x56, 0, 0x54, 0, 1, 0, 0x20, 0, 0x46, 0x20};
  for (const Bytes& r : {leafV1(0x80, 'x'), leafV1(0x00, 'y'), leafV1(0x80, 'z')})
    v1.insert(v1.end(), r.begin(), r.end());
  for (bool multi : {false, true}) {
    other.ViewOptions.MultiSelect = multi;
    Load(other, v1);
    Check();
    EXPECT_EQ(other.Describe(), "x,y,z");
    PLazyNode x = other.GetFirst();
    EXPECT_EQ(x->NodeHeight, 20);
    EXPECT_EQ(x->Align, 30);
    EXPECT_EQ(x->CheckState, csCheckedNormal);
    EXPECT_TRUE(x->Has(nsVisible));
    EXPECT_EQ(other.SelectedCount(), multi ? 2u : 0u);
  }
}

TEST_F(LazyTreeStream, CorruptStreamsRaiseAndLeaveWholeNodes) {
  Build(tree);
  const Bytes good = Save(tree);
  // Offsets in the good stream: A's anchor at 16, its base chunk at 24,
  // B's anchor at 24 + 8 + 17 = 49.
  struct TCase {
    const char* what;
    std::function<void(Bytes&)> mutate;
    int error;              // help context, -1 the read error
    const char* remaining;  // whole nodes left
  };
  const TCase cases[] = {
      {"too short", [](Bytes& b) { b.resize(11); }, 2004, ""},
      {"wrong magic", [](Bytes& b) { b[2] = 0; }, 2002, ""},
      {"magic word 5", [](Bytes& b) { b[11] = 0; }, 2002, ""},
      {"version 3", [](Bytes& b) { b[6] = 3; }, 2003, ""},
      {"version 0", [](Bytes& b) { b[6] = 0; }, 2003, ""},
      {"count cut", [](Bytes& b) { b.resize(14); }, -1, ""},
      {"no anchor", [](Bytes& b) { b[16] = 7; }, 2005, ""},
      {"anchor size negative", [](Bytes& b) { Put32(b, 20, 0xFFFFFFF0u); }, 2005, ""},
      {"anchor past the end", [](Bytes& b) { Put32(b, 20, Le32(b, 20) + 1000); }, 2005, ""},
      {"inner size negative", [](Bytes& b) { Put32(b, 28, 0x80000000u); }, 2006, ""},
      {"inner past its anchor", [](Bytes& b) { Put32(b, 28, Le32(b, 28) + 4); }, 2006, ""},
      {"base body too short", [](Bytes& b) { Put32(b, 28, 3); }, 2006, ""},
      {"child count huge", [](Bytes& b) { Put32(b, 32, 0xFFFFFFFFu); }, 2006, ""},
      {"truncated in E", [](Bytes& b) { b.resize(b.size() - 3); }, 2005, "A(B(C),D)"},
      {"E's anchor missing",
       [](Bytes& b) {
         const size_t e = 16 + 8 + Le32(b, 20);
         b[e] = 9;
       },
       2005, "A(B(C),D)"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes b = good;
    c.mutate(b);
    EXPECT_EQ(LoadError(other, b), c.error);
    Check();
    EXPECT_EQ(other.Describe(), c.remaining);
    EXPECT_EQ(other.UpdateCount(), 0u);
  }
  // Unknown chunks are skipped; an odd caption-like chunk ends at its end.
  Bytes extra = good;
  const Bytes unknown = {9, 0, 0, 0, 3, 0, 0, 0, 1, 2, 3};
  extra.insert(extra.begin() + 24, unknown.begin(), unknown.end());
  Put32(extra, 20, Le32(extra, 20) + static_cast<uint32_t>(unknown.size()));
  EXPECT_EQ(LoadError(other, extra), 0);
  Check();
  EXPECT_EQ(other.Describe(), "A(B(C),D),E");
}

TEST_F(LazyTreeStream, DeepNestingIsRefusedNotRecursed) {
  // 100000 anchors, each holding a base chunk with one child.
  const int depth = 100000;
  Bytes b = {0x45, 0x20, 0x56, 0, 0x54, 0, 2, 0, 0x20, 0, 0x46, 0x20, 1, 0, 0, 0};
  const size_t record = 8 + 8 + 17;
  for (int i = 0; i < depth; ++i) {
    const auto rest = static_cast<uint32_t>((depth - i) * record);
    Bytes r(record, 0);
    Put32(r, 0, 1);
    Put32(r, 4, rest - 8);
    Put32(r, 8, 2);
    Put32(r, 12, rest - 16);
    Put32(r, 16, i + 1 < depth ? 1 : 0);
    r[24] = nsInitialized;
    b.insert(b.end(), r.begin(), r.end());
  }
  EXPECT_EQ(LoadError(other, b), 2006);
  Check();
  EXPECT_EQ(other.RootNodeCount(), 0u);
}

// ---- moving

TEST_F(LazyTreeStream, MovesInOneTreeKeepOrderInEveryMode) {
  // Only A's children (B with C, then D) move to E.
  const std::pair<TLTNodeAttachMode, const char*> children[] = {
      {amInsertBefore, "A,B(C),D,E"},
      {amInsertAfter, "A,E,B(C),D"},
      {amAddChildFirst, "A,E(B(C),D)"},
      {amAddChildLast, "A,E(B(C),D)"},
  };
  for (auto [mode, expected] : children) {
    SCOPED_TRACE(std::to_string(mode));
    tree.Clear();
    tree.moved.clear();
    Build(tree);
    if (mode == amAddChildFirst || mode == amAddChildLast) tree.Add(tree.Find("E"), "F");
    tree.MoveNode(tree.Find("A"), tree.Find("E"), mode, true);
    Check();
    std::string want = expected;
    if (mode == amAddChildFirst) want = "A,E(B(C),D,F)";
    if (mode == amAddChildLast) want = "A,E(F,B(C),D)";
    EXPECT_EQ(tree.Describe(), want);
    EXPECT_EQ(tree.moved, (std::vector<std::string>{"B", "D"}));
  }
  // Whole-node moves: A with its children lands where the mode says.
  const std::pair<TLTNodeAttachMode, const char*> whole[] = {
      {amInsertBefore, "A(B(C),D),E"},
      {amInsertAfter, "E,A(B(C),D)"},
      {amAddChildFirst, "E(A(B(C),D))"},
      {amAddChildLast, "E(A(B(C),D))"},
  };
  for (auto [mode, expected] : whole) {
    tree.Clear();
    Build(tree);
    tree.MoveNode(tree.Find("A"), tree.Find("E"), mode, false);
    Check();
    EXPECT_EQ(tree.Describe(), expected);
  }
  // Onto itself: nothing; children before itself: lifted in order.
  tree.Clear();
  Build(tree);
  tree.MoveNode(tree.Find("A"), tree.Find("A"), amAddChildFirst, false);
  EXPECT_EQ(tree.Describe(), "A(B(C),D),E");
  tree.MoveNode(tree.Find("A"), tree.Find("A"), amInsertBefore, true);
  Check();
  EXPECT_EQ(tree.Describe(), "B(C),D,A,E");
}

TEST_F(LazyTreeStream, MoveIntoOwnSubtreeRaisesAndChangesNothing) {
  Build(tree);
  for (bool childrenOnly : {false, true}) {
    try {
      tree.MoveNode(tree.Find("A"), tree.Find("C"), amAddChildLast, childrenOnly);
      ADD_FAILURE() << "no error";
    } catch (const ELazyTreeError& e) {
      EXPECT_EQ(e.HelpContext(), 2001);
    }
    Check();
    EXPECT_EQ(tree.Describe(), "A(B(C),D),E");
  }
  // A refused move changes nothing either.
  tree.allowMove = [](PLazyNode) { return false; };
  tree.MoveNode(tree.Find("E"), tree.Find("A"), amAddChildFirst, false);
  EXPECT_EQ(tree.Describe(), "A(B(C),D),E");
  EXPECT_TRUE(tree.moved.empty());
}

TEST_F(LazyTreeStream, MovesBetweenTreesKeepOrderAndSubtrees) {
  const std::pair<TLTNodeAttachMode, const char*> cases[] = {
      {amInsertBefore, "X,B(C),D,Y(Z)"},
      {amInsertAfter, "X,Y(Z),B(C),D"},
      {amAddChildFirst, "X,Y(B(C),D,Z)"},
      {amAddChildLast, "X,Y(Z,B(C),D)"},
  };
  for (auto [mode, expected] : cases) {
    SCOPED_TRACE(std::to_string(mode));
    tree.Clear();
    other.Clear();
    tree.moved.clear();
    Build(tree);
    other.Add(nullptr, "X");
    PLazyNode y = other.Add(nullptr, "Y");
    other.Add(y, "Z");
    tree.MoveNode(tree.Find("A"), y, mode, true);
    Check();
    EXPECT_EQ(other.Describe(), expected);
    EXPECT_EQ(tree.Describe(), "A,E");
    // Reported on the source tree, before the source nodes went.
    EXPECT_EQ(tree.moved, (std::vector<std::string>{"B", "D"}));
  }
  // The whole node, to the other tree's root (no target).
  tree.Clear();
  other.Clear();
  Build(tree);
  const Bytes before = Save(tree, tree.Find("A"));
  other.Add(nullptr, "X");
  tree.MoveNode(tree.Find("A"), other.Find("X"), amInsertAfter, false);
  Check();
  EXPECT_EQ(other.Describe(), "X,A(B(C),D)");
  EXPECT_EQ(tree.Describe(), "E");
  EXPECT_EQ(Save(other, other.Find("A")), before);
}

// ---- transfers

Bytes TransferOf(TNamedTree& t, const std::vector<std::string>& names) {
  std::vector<PLazyNode> nodes;
  nodes.reserve(names.size());
  for (const std::string& n : names) nodes.push_back(t.Find(n));
  TMemoryStream m;
  t.WriteTransferNodes(m, nodes);
  return m.Bytes();
}

void Insert(TNamedTree& t, const Bytes& bytes, PLazyNode target, TLTNodeAttachMode mode) {
  classlib::TResourceStream in(bytes.data(), static_cast<int64_t>(bytes.size()));
  t.InsertStreamedNodes(in, target, mode, crNodeAdded);
}

TEST_F(LazyTreeStream, PastedNodesKeepTheirOrderAndSkipListedDescendants) {
  for (const char* n : {"1", "2", "3"}) tree.Add(nullptr, n);
  tree.Add(tree.Find("2"), "2a");
  // 2a travels with 2, not twice.
  const Bytes data = TransferOf(tree, {"1", "2", "2a", "3"});
  EXPECT_EQ(Le32(data, 12), 3u);
  const std::pair<TLTNodeAttachMode, const char*> cases[] = {
      {amInsertBefore, "W,1,2(2a),3,X(Y)"},
      {amInsertAfter, "W,X(Y),1,2(2a),3"},
      {amAddChildFirst, "W,X(1,2(2a),3,Y)"},
      {amAddChildLast, "W,X(Y,1,2(2a),3)"},
  };
  for (auto [mode, expected] : cases) {
    SCOPED_TRACE(std::to_string(mode));
    other.Clear();
    other.copied.clear();
    other.Add(nullptr, "W");
    other.Add(other.Add(nullptr, "X"), "Y");
    Insert(other, data, other.Find("X"), mode);
    Check();
    EXPECT_EQ(other.Describe(), expected);
    EXPECT_EQ(other.copied, (std::vector<std::string>{"1", "2", "3"}));
  }
  // Refused midway: the refused node goes, and the next follows the last kept.
  other.Clear();
  other.copied.clear();
  other.Add(nullptr, "X");
  other.Add(nullptr, "Z");
  other.allowCopy = [&](PLazyNode n) { return other.names[n] != "2"; };
  Insert(other, data, other.Find("X"), amInsertAfter);
  Check();
  EXPECT_EQ(other.Describe(), "X,1,3,Z");
  EXPECT_EQ(other.copied, (std::vector<std::string>{"1", "3"}));
  // A payload failing half-way keeps the whole nodes before it.
  other.allowCopy = nullptr;
  Bytes cut = data;
  cut.resize(cut.size() - 4);
  other.Clear();
  other.Add(nullptr, "X");
  EXPECT_THROW(Insert(other, cut, other.Find("X"), amInsertAfter), ELazyTreeError);
  Check();
  EXPECT_EQ(other.Describe(), "X,1,2(2a)");
  EXPECT_EQ(other.UpdateCount(), 0u);
}

TEST_F(LazyTreeStream, OptimizedTransferMovesFromOneTreeToAnother) {
  for (const char* n : {"1", "2", "3"}) tree.Add(nullptr, n);
  tree.Add(tree.Find("2"), "2a");
  other.Add(nullptr, "X");
  other.Add(nullptr, "Z");
  tree.MoveNode(tree.Find("2a"), nullptr, amAddChildFirst, false);  // 2a first at the top
  ASSERT_EQ(tree.Describe(), "2a,1,2,3");
  std::vector<PLazyNode> nodes = {tree.Find("1"), tree.Find("2"), tree.Find("3")};
  other.MoveTransferredNodes(tree, nodes, other.Find("X"), amInsertAfter);
  Check();
  EXPECT_EQ(other.Describe(), "X,1,2,3,Z");
  EXPECT_EQ(tree.Describe(), "2a");
  // In one tree: a node that is the target or holds it stays.
  tree.Clear();
  for (const char* n : {"1", "2", "3"}) tree.Add(nullptr, n);
  tree.Add(tree.Find("3"), "3a");
  nodes = {tree.Find("1"), tree.Find("2"), tree.Find("3")};
  tree.MoveTransferredNodes(tree, nodes, tree.Find("3a"), amAddChildLast);
  Check();
  EXPECT_EQ(tree.Describe(), "3(3a(1,2))");
}

TEST_F(LazyTreeStream, DataBlocksAndReferencesAreCheckedAgainstTheirSize) {
  struct TCase {
    Bytes block;
    bool ok;
    uint32_t length;
  };
  const TCase cases[] = {
      {{}, false, 0},
      {{0, 0, 0}, false, 0},
      {{0, 0, 0, 0}, true, 0},
      {{3, 0, 0, 0, 1, 2, 3}, true, 3},
      {{4, 0, 0, 0, 1, 2, 3}, false, 0},
      {{0xFF, 0xFF, 0xFF, 0xFF, 1}, false, 0},
      {{2, 0, 0, 0, 1, 2, 3, 4}, true, 2},  // GlobalSize may be larger
  };
  for (const TCase& c : cases) {
    const uint8_t* data = nullptr;
    uint32_t length = 99;
    EXPECT_EQ(DecodeTreeDataBlock(c.block.data(), c.block.size(), data, length), c.ok);
    EXPECT_EQ(length, c.length);
    if (c.ok) {
      EXPECT_EQ(data, c.block.data() + 4);
    }
  }
  auto ref = EncodeTreeReference(1234, other.TreeNumber());
  EXPECT_EQ(DecodeTreeReference(ref.data(), ref.size(), 1234), &other);
  EXPECT_EQ(DecodeTreeReference(ref.data(), ref.size(), 1235), nullptr);
  EXPECT_EQ(DecodeTreeReference(ref.data(), ref.size() - 1, 1234), nullptr);
  uint32_t gone = 0;
  {
    TObject s;
    TNamedTree freed(&s);
    gone = freed.TreeNumber();
    EXPECT_NE(gone, other.TreeNumber());
  }
  ref = EncodeTreeReference(1234, gone);
  EXPECT_EQ(DecodeTreeReference(ref.data(), ref.size(), 1234), nullptr);
}

TEST_F(LazyTreeStream, DeleteSelectedNodesTakesSelectedSubtreesAndRenumbers) {
  Build(tree);
  for (const char* n : {"F", "G"}) tree.Add(nullptr, n);
  tree.ViewOptions.MultiSelect = true;
  for (const char* n : {"C", "D", "A", "F", "G"}) tree.AddSelection(tree.Find(n));
  tree.DeleteSelectedNodes();
  // Consecutive indexes again: every group of siblings renumbered.
  Check();
  EXPECT_EQ(tree.Describe(), "E");
  EXPECT_EQ(tree.SelectedCount(), 0u);
  EXPECT_EQ(tree.names.size(), 1u);
  tree.Add(tree.Find("E"), "E1");
  tree.Add(tree.Find("E"), "E2");
  tree.Add(tree.Find("E"), "E3");
  tree.AddSelection(tree.Find("E1"));
  tree.AddSelection(tree.Find("E2"));
  tree.DeleteSelectedNodes();
  Check();
  EXPECT_EQ(tree.Describe(), "E(E3)");
  EXPECT_EQ(tree.Find("E3")->Index, 0u);
}

}  // namespace
}  // namespace kelm::lazytree

// The node store: creation, deletion, counts, totals, the update bracket and
// the change notices, checked against a brute-force walk after every step.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "lazytree/lazy_tree_error.h"
#include "lazytree/lazy_tree_model.h"
#include "tree_invariants.h"

namespace kelm::lazytree {
namespace {

using classlib::EAssertionFailed;
using classlib::EventOf;
using classlib::TObject;

// Records what the tree tells its owner and the timers it asks for.
class TRecorder : public TObject {
 public:
  std::vector<TLTUpdateState> updating;
  std::vector<PLazyNode> structureNodes;
  std::vector<TChangeReason> structureReasons;
  std::vector<PLazyNode> freed;
  std::vector<PLazyNode> changed;
  int stateChanges = 0;
  int32_t dataSize = 0;
  TLazyNodeInitStates initStates;
  uint32_t initChildCount = 0;

  void Updating(TObject*, TLTUpdateState s) { updating.push_back(s); }
  void Structure(TObject*, PLazyNode n, TChangeReason r) {
    structureNodes.push_back(n);
    structureReasons.push_back(r);
  }
  void Freed(TObject*, PLazyNode n) { freed.push_back(n); }
  void Changed(TObject*, PLazyNode n) { changed.push_back(n); }
  void StateChanged(TObject*, TLazyTreeStates, TLazyTreeStates) { ++stateChanges; }
  void DataSize(TObject*, int32_t& size) { size = dataSize; }
  // Only top-level nodes get the answered states.
  void InitNode(TObject*, PLazyNode parent, PLazyNode, TLazyNodeInitStates& s) {
    if (!parent) s = initStates;
  }
  void InitChildren(TObject*, PLazyNode, uint32_t& count) { count = initChildCount; }
};

class TTestTree : public TLazyTreeModel {
 public:
  explicit TTestTree(TObject* sender) : TLazyTreeModel(sender) { CreateRootNode(); }
  ~TTestTree() override { Clear(); }
  std::vector<std::pair<int, uint32_t>> started;
  std::vector<int> stopped;
  using TLazyTreeModel::DoStateChange;
  using TLazyTreeModel::ToggleNode;
  bool loading = false;
  int measured = 0;
  int measureAnswer = 0;

 protected:
  void StartTimer(int id, uint32_t ms) override { started.emplace_back(id, ms); }
  void StopTimer(int id) override { stopped.push_back(id); }
  bool IsLoading() const override { return loading; }
  void DoMeasureItem(PLazyNode, int& height) override {
    ++measured;
    if (measureAnswer) height = measureAnswer;
  }
};

class LazyTreeModel : public ::testing::Test {
 protected:
  TRecorder rec;
  TTestTree tree{&rec};

  void Check(bool consecutive = true) {
    std::string error = test::CheckTreeInvariants(tree, &rec, consecutive);
    ASSERT_EQ(error, "");
  }
  void ListenAll() {
    tree.OnUpdating = EventOf<&TRecorder::Updating>(&rec);
    tree.OnStructureChange = EventOf<&TRecorder::Structure>(&rec);
    tree.OnFreeNode = EventOf<&TRecorder::Freed>(&rec);
    tree.OnChange = EventOf<&TRecorder::Changed>(&rec);
  }
};

TEST_F(LazyTreeModel, FirstTopLevelNodeOnAnEmptyTree) {
  Check();
  PLazyNode node = tree.AddChild(nullptr);
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node->Index, 0u);
  EXPECT_EQ(node->Parent, tree.RootNode());
  EXPECT_TRUE(tree.RootNode()->Has(nsHasChildren));
  EXPECT_EQ(tree.RootNodeCount(), 1u);
  EXPECT_EQ(node->States, nsVisible);
  EXPECT_EQ(node->Align, 50);
  EXPECT_EQ(node->NodeHeight, 18);
  EXPECT_EQ(tree.VisibleNodeCount(), 1u);
  EXPECT_EQ(tree.NodeDataSize(), 0) << "settled once through the (unassigned) size event";
  Check();
}

TEST_F(LazyTreeModel, EveryNodeKnowsItsOwnerTree) {
  TRecorder otherSender;
  TTestTree other{&otherSender};
  PLazyNode top = tree.AddChild(nullptr);
  PLazyNode deep = tree.AddChild(tree.AddChild(tree.AddChild(top)));
  PLazyNode alone = other.AddChild(other.AddChild(nullptr));
  EXPECT_EQ(OwnerTreeOf(top), &rec);
  EXPECT_EQ(OwnerTreeOf(deep), &rec);
  EXPECT_EQ(OwnerTreeOf(tree.RootNode()), &rec);
  EXPECT_EQ(OwnerTreeOf(alone), &otherSender);
  EXPECT_THROW(OwnerTreeOf(nullptr), EAssertionFailed);
}

TEST_F(LazyTreeModel, OwnersDataIsZeroedAndAlignedForAnyScalar) {
  rec.dataSize = 152;
  tree.OnGetNodeDataSize = EventOf<&TRecorder::DataSize>(&rec);
  EXPECT_EQ(tree.AllocateInternalDataArea(5), sizeof(TLazyNode));
  EXPECT_EQ(tree.InternalDataSize(), 8u);
  EXPECT_EQ(tree.AllocateInternalDataArea(4), sizeof(TLazyNode) + 8) << "the next block follows";
  EXPECT_EQ(tree.InternalDataSize(), 12u);
  for (int i = 0; i < 3; ++i) {
    PLazyNode node = tree.AddChild(nullptr);
    auto* data = static_cast<unsigned char*>(tree.GetNodeData(node));
    EXPECT_EQ(reinterpret_cast<uintptr_t>(data) % alignof(std::max_align_t), 0u);
    EXPECT_GE(data, reinterpret_cast<unsigned char*>(node) + sizeof(TLazyNode) + 8);
    for (int b = 0; b < 152; ++b) ASSERT_EQ(data[b], 0) << b;
    std::memset(data, 0xA5, 152);  // the whole area is ours (ASan checks the bounds)
  }
  EXPECT_EQ(tree.NodeDataSize(), 152);
  EXPECT_THROW(tree.AllocateInternalDataArea(4), EAssertionFailed);
  EXPECT_EQ(tree.InternalDataSize(), 12u);
}

TEST_F(LazyTreeModel, UserDataIsStoredPointerSizedAndAlwaysFreedWithNotice) {
  ListenAll();
  tree.SetNodeDataSize(152);
  int owned = 7;
  PLazyNode withData = tree.AddChild(nullptr, &owned);
  PLazyNode plain = tree.AddChild(nullptr);
  void* stored = nullptr;
  std::memcpy(&stored, tree.GetNodeData(withData), sizeof stored);
  EXPECT_EQ(stored, &owned);
  EXPECT_TRUE(withData->Has(nsFreeNotifyRequired));
  EXPECT_FALSE(withData->Has(nsInitialized));
  tree.DeleteNode(plain);
  tree.DeleteNode(withData);
  ASSERT_EQ(rec.freed.size(), 1u) << "only the node holding user data";
  EXPECT_EQ(rec.freed[0], withData);
  Check();
}

TEST_F(LazyTreeModel, UserDataWithoutRoomRaisesAfterTheNodeIsMade) {
  for (int32_t size : {1, static_cast<int32_t>(sizeof(void*)) - 1}) {
    SCOPED_TRACE(size);
    tree.SetNodeDataSize(size);
    const uint32_t before = tree.RootNodeCount();
    int owned = 0;
    try {
      tree.AddChild(nullptr, &owned);
      ADD_FAILURE() << "no error";
    } catch (const ELazyTreeError& e) {
      EXPECT_EQ(e.HelpContext(), 2008);
      EXPECT_EQ(
          e.Message(),
          u"Cannot set initial user data because there is not enough user data space allocated.");
    }
    EXPECT_EQ(tree.RootNodeCount(), before + 1);
    EXPECT_FALSE(tree.RootNode()->LastChild->Has(nsFreeNotifyRequired));
    EXPECT_EQ(tree.UpdateCount(), 0u);
    Check();
  }
}

TEST_F(LazyTreeModel, NodeDataAnswersNoneForNoneAndRootAndAssertsBeforeTheSizeIsKnown) {
  try {
    tree.GetNodeData(nullptr);
    ADD_FAILURE() << "no assertion";
  } catch (const EAssertionFailed& e) {
    EXPECT_NE(e.Message().find(u"NodeDataSize not initialized."), std::u16string::npos);
    EXPECT_NE(e.Message().find(u"LazyTrees"), std::u16string::npos);
  }
  tree.SetNodeDataSize(8);
  EXPECT_EQ(tree.GetNodeData(nullptr), nullptr);
  EXPECT_EQ(tree.GetNodeData(tree.RootNode()), nullptr);
}

TEST_F(LazyTreeModel, DeleteNodeOfNoneRootOrReadOnlyDoesNothing) {
  ListenAll();
  tree.SetRootNodeCount(2);
  rec.structureNodes.clear();
  tree.DeleteNode(nullptr);
  tree.DeleteNode(tree.RootNode());
  tree.Options.ReadOnly = true;
  tree.DeleteNode(tree.RootNode()->FirstChild);
  tree.SetChildCount(nullptr, 5);
  EXPECT_EQ(tree.AddChild(nullptr), nullptr);
  EXPECT_EQ(tree.RootNodeCount(), 2u);
  EXPECT_TRUE(rec.structureNodes.empty());
  tree.Options.ReadOnly = false;
  Check();
}

TEST_F(LazyTreeModel, DeletingTheMiddleSiblingRenumbersOnlyWithReindex) {
  struct TCase {
    bool reindex;
    uint32_t lastIndex;
  };
  for (TCase c : {TCase{true, 1}, TCase{false, 2}}) {
    tree.Clear();
    tree.SetRootNodeCount(3);
    PLazyNode last = tree.RootNode()->LastChild;
    tree.DeleteNode(tree.RootNode()->FirstChild->NextSibling, c.reindex);
    EXPECT_EQ(last->Index, c.lastIndex);
    EXPECT_EQ(tree.RootNode()->FirstChild->NextSibling, last);
    Check(c.reindex);
  }
}

TEST_F(LazyTreeModel, NestedUpdatesNotifyOnceAtTheEnd) {
  ListenAll();
  tree.BeginUpdate();
  tree.BeginUpdate();
  PLazyNode a = tree.AddChild(nullptr);
  tree.AddChild(a);
  tree.AddChild(nullptr);
  tree.EndUpdate();
  EXPECT_TRUE(rec.structureNodes.empty());
  tree.EndUpdate();
  EXPECT_EQ(rec.updating, (std::vector<TLTUpdateState>{usBegin, usUpdate, usUpdate, usEnd}));
  ASSERT_EQ(rec.structureNodes.size(), 1u);
  EXPECT_EQ(rec.structureReasons[0], crAccumulated);
  EXPECT_FALSE(tree.States().Contains(tsStructureChangePending));
  EXPECT_FALSE(tree.States().Contains(tsUpdating));
  Check();
}

// A node deleted with its children was the last one reported: the notice
// that comes later must not hand out the freed node.
TEST_F(LazyTreeModel, PendingStructureChangeNeverNamesAFreedNode) {
  ListenAll();
  PLazyNode parent = tree.AddChild(nullptr);
  tree.AddChild(parent);
  tree.AddChild(parent);
  rec.structureNodes.clear();

  tree.BeginUpdate();
  tree.DeleteNode(parent);
  EXPECT_EQ(tree.LastStructureChangeNode(), nullptr);
  tree.EndUpdate();
  ASSERT_EQ(rec.structureNodes.size(), 1u);
  EXPECT_EQ(rec.structureNodes[0], nullptr);
  Check();

  parent = tree.AddChild(nullptr);
  tree.AddChild(parent);
  rec.structureNodes.clear();
  tree.ChangeDelay = 50;
  tree.DeleteNode(parent);
  EXPECT_TRUE(rec.structureNodes.empty()) << "delayed";
  ASSERT_FALSE(tree.started.empty());
  EXPECT_EQ(tree.started.back(), std::make_pair(int(StructureChangeTimer), 50u));
  tree.ChangeTimerExpired(StructureChangeTimer);
  ASSERT_EQ(rec.structureNodes.size(), 1u);
  EXPECT_EQ(rec.structureNodes[0], nullptr);
  EXPECT_EQ(tree.stopped.back(), int(StructureChangeTimer));
  Check();
}

TEST_F(LazyTreeModel, ChangeDelayFiresOnceWhenItsTimerExpires) {
  ListenAll();
  tree.ChangeDelay = 200;
  PLazyNode a = tree.AddChild(nullptr);
  tree.AddChild(nullptr);
  EXPECT_TRUE(rec.structureNodes.empty());
  EXPECT_TRUE(tree.States().Contains(tsStructureChangePending));
  tree.ChangeTimerExpired(StructureChangeTimer);
  tree.ChangeTimerExpired(StructureChangeTimer);  // a late second tick
  EXPECT_EQ(rec.structureNodes.size(), 1u);
  tree.AdviseChange(false, a, crIgnore);
  EXPECT_TRUE(rec.changed.empty());
  tree.ChangeTimerExpired(ChangeTimer);
  EXPECT_EQ(rec.changed, std::vector<PLazyNode>{a});
  EXPECT_EQ(tree.LastChangedNode(), nullptr);
}

TEST_F(LazyTreeModel, ChildCountSetterClearsHiddenAndMeasuredOnTheParent) {
  PLazyNode parent = tree.AddChild(nullptr);
  parent->Include(nsAllChildrenHidden | nsHeightMeasured);
  tree.SetChildCount(parent, 3);
  EXPECT_FALSE(parent->Has(nsAllChildrenHidden));
  EXPECT_FALSE(parent->Has(nsHeightMeasured));
  EXPECT_TRUE(parent->Has(nsHasChildren));
  EXPECT_EQ(parent->LastChild->Index, 2u);
  Check();
}

TEST_F(LazyTreeModel, NodeDataSizeSetterClampsAndRemakesEveryRootNode) {
  tree.SetNodeDataSize(-5);
  EXPECT_EQ(tree.NodeDataSize(), -1);
  tree.SetNodeDataSize(16);
  tree.SetRootNodeCount(10);
  PLazyNode first = tree.RootNode()->FirstChild;
  first->Include(nsInitialized);
  tree.SetNodeDataSize(40);
  EXPECT_EQ(tree.RootNodeCount(), 10u);
  EXPECT_FALSE(tree.RootNode()->FirstChild->Has(nsInitialized)) << "made again";
  std::memset(tree.GetNodeData(tree.RootNode()->LastChild), 1, 40);
  Check();
}

TEST_F(LazyTreeModel, RootNodeCountReadFromAFormTakesEffectWhenLoadingEnds) {
  tree.loading = true;
  tree.SetRootNodeCount(5);
  EXPECT_EQ(tree.RootNode()->FirstChild, nullptr);
  EXPECT_TRUE(tree.States().Contains(tsNeedRootCountUpdate));
  tree.loading = false;
  tree.ApplyStoredRootNodeCount();
  EXPECT_EQ(tree.RootNodeCount(), 5u);
  EXPECT_FALSE(tree.States().Contains(tsNeedRootCountUpdate));
  Check();
  tree.ApplyStoredRootNodeCount();  // nothing pending: no change
  EXPECT_EQ(tree.RootNodeCount(), 5u);
}

TEST_F(LazyTreeModel, VariableHeightsAreMeasuredOnceAndCarriedUpTheTotals) {
  PLazyNode parent = tree.AddChild(nullptr);
  PLazyNode child = tree.AddChild(parent);
  tree.ToggleNode(parent);
  EXPECT_EQ(tree.NodeHeight(child), 18u) << "fixed heights are not measured";
  EXPECT_EQ(tree.measured, 0);
  tree.Options.VariableNodeHeight = true;
  tree.measureAnswer = 30;
  EXPECT_EQ(tree.NodeHeight(child), 30u);
  EXPECT_EQ(tree.NodeHeight(child), 30u);
  EXPECT_EQ(tree.measured, 1);
  EXPECT_TRUE(child->Has(nsHeightMeasured | nsInitialized));
  EXPECT_EQ(parent->TotalHeight, 18u + 30u);
  EXPECT_EQ(tree.NodeHeight(nullptr), 0u);
  EXPECT_EQ(tree.NodeHeight(tree.RootNode()), 0u);
  Check();
}

TEST_F(LazyTreeModel, FreeNoticeOnlyForInitialisedOrUserDataNodes) {
  ListenAll();
  tree.SetNodeDataSize(sizeof(void*));
  struct TCase {
    bool initialise;
    bool userData;
    bool notified;
  };
  for (TCase c : {TCase{false, false, false}, TCase{true, false, true}, TCase{false, true, true},
                  TCase{true, true, true}}) {
    rec.freed.clear();
    int value = 0;
    PLazyNode node = tree.AddChild(nullptr, c.userData ? &value : nullptr);
    if (c.initialise) {
      EXPECT_EQ(tree.GetFirst(), node);
    }
    tree.DeleteNode(node);
    EXPECT_EQ(rec.freed.size(), c.notified ? 1u : 0u) << c.initialise << c.userData;
  }
}

TEST_F(LazyTreeModel, StateChangeFiresOnlyOnEffectiveChanges) {
  tree.OnStateChange = EventOf<&TRecorder::StateChanged>(&rec);
  struct TCase {
    TLazyTreeStates enter, leave;
    int fires;
  };
  tree.DoStateChange({tsHint});
  rec.stateChanges = 0;
  const TCase cases[] = {
      {{tsHint}, {}, 0},                // already set
      {{}, {tsScrolling}, 0},           // not set
      {{tsHint}, {tsScrolling}, 0},     // neither changes
      {{tsScrolling}, {}, 1},           // enters
      {{}, {tsHint}, 1},                // leaves
      {{tsPainting}, {tsPainting}, 1},  // both: ends cleared
      {{tsWindowCreating}, {}, 1},      // the 55th flag
  };
  for (const TCase& c : cases) {
    const int before = rec.stateChanges;
    tree.DoStateChange(c.enter, c.leave);
    EXPECT_EQ(rec.stateChanges - before, c.fires);
  }
  EXPECT_TRUE(tree.States().Contains(tsScrolling));
  EXPECT_FALSE(tree.States().Contains(tsHint));
  EXPECT_FALSE(tree.States().Contains(tsPainting));
  EXPECT_TRUE(tree.States().Contains(tsWindowCreating));
}

TEST_F(LazyTreeModel, BadInputFailsTheAssertionBeforeAnythingChanges) {
  tree.SetRootNodeCount(3);
  PLazyNode middle = tree.RootNode()->FirstChild->NextSibling;
  tree.DoStateChange({tsIterating});
  EXPECT_THROW(tree.DeleteNode(middle), EAssertionFailed);
  EXPECT_THROW(tree.DeleteChildren(tree.RootNode()), EAssertionFailed);
  tree.DoStateChange({}, {tsIterating});
  EXPECT_EQ(tree.RootNodeCount(), 3u);
  EXPECT_EQ(tree.RootNode()->FirstChild->NextSibling, middle);
  EXPECT_THROW(tree.GetNext(tree.RootNode()), EAssertionFailed);
  EXPECT_THROW(tree.GetNextSibling(tree.RootNode()), EAssertionFailed);
  EXPECT_THROW(tree.DisconnectNode(nullptr, false, true), EAssertionFailed);
  EXPECT_THROW(tree.DisconnectNode(tree.RootNode(), false, true), EAssertionFailed);
  Check();
}

TEST_F(LazyTreeModel, NavigationWalksPreOrderAndInitialisesOnDemand) {
  rec.initStates = {ivsHasChildren};
  rec.initChildCount = 2;
  tree.OnInitNode = EventOf<&TRecorder::InitNode>(&rec);
  tree.OnInitChildren = EventOf<&TRecorder::InitChildren>(&rec);
  tree.SetRootNodeCount(2);
  // Every top-level node asks for two children.
  std::vector<uint32_t> levels;
  PLazyNode last = nullptr;
  int guard = 0;
  for (PLazyNode n = tree.GetFirst(); n && guard < 100; n = tree.GetNext(n), ++guard) {
    levels.push_back(tree.GetNodeLevel(n));
    EXPECT_TRUE(n->Has(nsInitialized));
    last = n;
  }
  EXPECT_EQ(levels, (std::vector<uint32_t>{0, 1, 1, 0, 1, 1}));
  EXPECT_EQ(tree.GetNext(last), nullptr);
  EXPECT_EQ(tree.GetLastNoInit(), last);
  EXPECT_EQ(tree.GetPrevious(tree.GetFirstChild(nullptr)->NextSibling),
            tree.RootNode()->FirstChild->LastChild);
  EXPECT_TRUE(tree.HasAsParent(last, tree.RootNode()->LastChild));
  EXPECT_FALSE(tree.HasAsParent(last, tree.RootNode()->FirstChild));
  EXPECT_EQ(tree.GetFirstInitialized(), tree.RootNode()->FirstChild);
  Check();
}

// ---- invariants after every step of scripted and random sequences

enum class TOp {
  Add,
  SetCount,
  Delete,
  DeleteKeepIndex,
  DeleteChildren,
  Clear,
  Reset,
  Reinit,
  Toggle,
  Begin,
  End
};

struct TStep {
  TOp op;
  int node;  // pre-order position among existing nodes, -1 the root
  uint32_t value;
};

class TDriver {
 public:
  TDriver(TTestTree& tree) : tree_(tree) {}
  PLazyNode Pick(int index) {
    if (index < 0) return nullptr;
    std::vector<PLazyNode> all;
    for (PLazyNode n = tree_.GetFirstNoInit(); n; n = tree_.GetNextNoInit(n)) all.push_back(n);
    if (all.empty()) return nullptr;
    return all[static_cast<size_t>(index) % all.size()];
  }
  void Run(const TStep& s) {
    PLazyNode node = Pick(s.node);
    switch (s.op) {
      case TOp::Add:
        tree_.AddChild(node);
        break;
      case TOp::SetCount:
        tree_.SetChildCount(node, s.value);
        break;
      case TOp::Delete:
        tree_.DeleteNode(node, true);
        break;
      case TOp::DeleteKeepIndex:
        tree_.DeleteNode(node, false);
        if (node) consecutive = false;
        break;
      case TOp::DeleteChildren:
        tree_.DeleteChildren(node ? node : tree_.RootNode(), s.value != 0);
        break;
      case TOp::Clear:
        tree_.Clear();
        consecutive = true;
        break;
      case TOp::Reset:
        tree_.ResetNode(node);
        break;
      case TOp::Reinit:
        tree_.ReinitNode(node, s.value != 0);
        break;
      case TOp::Toggle:
        tree_.ToggleNode(node);
        break;
      case TOp::Begin:
        if (tree_.UpdateCount() < 3) tree_.BeginUpdate();
        break;
      case TOp::End:
        if (tree_.UpdateCount() > 0) tree_.EndUpdate();
        break;
    }
  }
  bool consecutive = true;

 private:
  TTestTree& tree_;
};

TEST_F(LazyTreeModel, InvariantsHoldAfterEveryScriptedStep) {
  const TStep script[] = {
      {TOp::SetCount, -1, 4}, {TOp::SetCount, 1, 3},
      {TOp::Toggle, 1, 0},    {TOp::Add, 2, 0},
      {TOp::Toggle, 2, 0},    {TOp::SetCount, 1, 1},
      {TOp::SetCount, 1, 5},  {TOp::Delete, 3, 0},
      {TOp::Begin, 0, 0},     {TOp::DeleteChildren, 1, 1},
      {TOp::Add, -1, 0},      {TOp::End, 0, 0},
      {TOp::Toggle, 0, 0},    {TOp::SetCount, 0, 2},
      {TOp::Toggle, 0, 0},    {TOp::Toggle, 0, 0},
      {TOp::Reset, 0, 0},     {TOp::Reinit, 0, 1},
      {TOp::SetCount, -1, 0}, {TOp::Add, -1, 0},
      {TOp::SetCount, -1, 2}, {TOp::Clear, 0, 0},
  };
  TDriver driver(tree);
  int step = 0;
  for (const TStep& s : script) {
    SCOPED_TRACE(step++);
    driver.Run(s);
    Check(driver.consecutive);
  }
}

TEST_F(LazyTreeModel, InvariantsHoldAfterEveryRandomStep) {
  rec.initStates = {};
  uint32_t largest = 0;
  uint32_t deepest = 0;
  bool sawExpanded = false;
  bool sawHidden = false;
  for (uint32_t seed : {1u, 2u, 3u, 42u}) {
    SCOPED_TRACE(seed);
    tree.Clear();
    std::mt19937 rng(seed);
    TDriver driver(tree);
    for (int step = 0; step < 600; ++step) {  // bounded: no open-ended loop
      // Weighted so that the trees grow deep and wide between the clears.
      static const TOp kWeighted[] = {TOp::Add,
                                      TOp::Add,
                                      TOp::Add,
                                      TOp::Add,
                                      TOp::SetCount,
                                      TOp::SetCount,
                                      TOp::SetCount,
                                      TOp::Toggle,
                                      TOp::Toggle,
                                      TOp::Delete,
                                      TOp::DeleteKeepIndex,
                                      TOp::DeleteChildren,
                                      TOp::Reset,
                                      TOp::Reinit,
                                      TOp::Begin,
                                      TOp::End};
      const TOp op = rng() % 150 == 0 ? TOp::Clear
                                      : kWeighted[rng() % (sizeof kWeighted / sizeof kWeighted[0])];
      const int node = static_cast<int>(rng() % 64) - 1;
      const uint32_t value = op == TOp::SetCount ? rng() % 6 : rng() % 2;
      driver.Run({op, node, value});
      std::string error = test::CheckTreeInvariants(tree, &rec, driver.consecutive);
      ASSERT_EQ(error, "") << "step " << step;
      // The walk must reach the states worth checking: deep, partly hidden.
      largest = std::max(largest, tree.RootNode()->TotalCount);
      for (PLazyNode n = tree.GetFirstNoInit(); n; n = tree.GetNextNoInit(n)) {
        deepest = std::max(deepest, tree.GetNodeLevel(n));
        if (n->Has(nsExpanded)) sawExpanded = true;
      }
      if (tree.VisibleNodeCount() + 1 < tree.RootNode()->TotalCount - 1) sawHidden = true;
      if (tree.RootNode()->TotalCount > 400) tree.Clear();  // keep the walk cheap
    }
    while (tree.UpdateCount() > 0) tree.EndUpdate();
    Check(driver.consecutive);
  }
  EXPECT_GE(largest, 40u);
  EXPECT_GE(deepest, 3u);
  EXPECT_TRUE(sawExpanded);
  EXPECT_TRUE(sawHidden);
}

TEST(LazyTreeErrors, EachKindRaisesItsStringTableTextAndHelpContext) {
  const struct {
    TLazyTreeErrorKind kind;
    uint32_t textId;
    const char16_t* text;
    int helpContext;
  } cases[] = {
      {TLazyTreeErrorKind::EditLinkNil, 65107, u"Edit link must not be nil.", 2000},
      {TLazyTreeErrorKind::MoveIntoOwnChild, 65108,
       u"Target node cannot be a child node of the node to be moved.", 2001},
      {TLazyTreeErrorKind::StreamFormat, 65109,
       u"Unable to load tree structure, the format is wrong.", 2002},
      {TLazyTreeErrorKind::StreamVersion, 65110,
       u"Unable to load tree structure, the version is unknown.", 2003},
      {TLazyTreeErrorKind::StreamTooShort, 65111,
       u"Unable to load tree structure, not enough data available.", 2004},
      {TLazyTreeErrorKind::AnchorChunkMissing, 65112,
       u"Stream data corrupt. A node's anchor chunk is missing.", 2005},
      {TLazyTreeErrorKind::DataAfterNodeEnd, 65113,
       u"Stream data corrupt. Unexpected data after node's end position.", 2006},
      {TLazyTreeErrorKind::ClipboardFailed, 65114, u"Clipboard operation failed.", 2007},
      {TLazyTreeErrorKind::UserDataSpace, 65115,
       u"Cannot set initial user data because there is not enough user data space allocated.",
       2008},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.textId);
    EXPECT_EQ(TreeErrorTextId(c.kind), c.textId);
    try {
      RaiseTreeError(c.kind);
    } catch (const ELazyTreeError& e) {
      EXPECT_EQ(e.Message(), c.text);
      EXPECT_EQ(e.HelpContext(), c.helpContext);
    }
  }
  // The message reaches the user through the ANSI code page: what it cannot
  // hold comes back as '?'.
  try {
    RaiseTreeError(u"caf\x00E9 \x043B", 7);
  } catch (const ELazyTreeError& e) {
    EXPECT_EQ(e.Message(), u"caf\x00E9 ?");
    EXPECT_EQ(e.HelpContext(), 7);
  }
}

}  // namespace
}  // namespace kelm::lazytree

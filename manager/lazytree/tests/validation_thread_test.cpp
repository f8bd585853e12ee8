// The position cache and the process's validation thread: entries, lookups
// and the races between a fill and changes of the tree, held at chosen
// points of the fill.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "lazytree/lazy_tree_view.h"
#include "tree_invariants.h"

namespace kelm::lazytree {
namespace {

using classlib::TObject;

class TCacheTree : public TLazyTreeView {
 public:
  explicit TCacheTree(TObject* sender) : TLazyTreeView(sender) { CreateRootNode(); }
};

// Records the states the tree enters.
struct TStateLog : TObject {
  bool enteredUseCache = false;
  void Changed(TObject*, TLazyTreeStates enter, TLazyTreeStates) {
    if (enter.Contains(tsUseCache)) enteredUseCache = true;
  }
};

// Serves the two state messages of one fill.
void ServeFill(TCacheTree& tree) {
  ASSERT_TRUE(tree.ServeChangeStates(20000)) << "the fill's start";
  ASSERT_TRUE(tree.ServeChangeStates(60000)) << "the fill's end";
}

void AddTopLevel(TCacheTree& tree, uint32_t count) {
  tree.BeginUpdate();
  tree.SetChildCount(nullptr, tree.RootNodeCount() + count);
  tree.EndUpdate();
}

TEST(ValidationThread, TwoThousandVisibleNodesGiveNoEntryTwoThousandOneGiveTwo) {
  TObject sender;
  TStateLog log;
  TCacheTree tree(&sender);
  tree.OnStateChange = classlib::EventOf<&TStateLog::Changed>(&log);
  AddTopLevel(tree, 2000);
  ServeFill(tree);
  EXPECT_TRUE(tree.PositionCache().empty());
  EXPECT_FALSE(log.enteredUseCache);
  EXPECT_TRUE(tree.States().Contains(tsValidationNeeded));
  EXPECT_FALSE(tree.States().Contains(tsValidating));
  int top = 0;
  EXPECT_EQ(tree.GetNodeAt(0, 18 * 1999, false, top), tree.GetLastChildNoInit(nullptr));

  tree.AddChild(nullptr);
  ServeFill(tree);
  ASSERT_EQ(tree.PositionCache().size(), 2u);
  EXPECT_TRUE(log.enteredUseCache);
  EXPECT_TRUE(tree.States().Contains(tsUseCache));
  EXPECT_FALSE(tree.States().Contains(tsValidationNeeded));
  EXPECT_EQ(tree.PositionCache()[0].Node, tree.GetFirstChildNoInit(nullptr));
  EXPECT_EQ(tree.PositionCache()[0].AbsoluteTop, 0u);
  EXPECT_EQ(tree.PositionCache()[1].Node, tree.GetLastChildNoInit(nullptr));
  EXPECT_EQ(tree.PositionCache()[1].AbsoluteTop, 18u * 2000) << "the last node's top";
}

// Shown nodes in display order, without the tree's navigation.
void DisplayOrder(PLazyNode parent, bool childrenAbove, std::vector<PLazyNode>& out) {
  for (PLazyNode c = parent->FirstChild; c; c = c->NextSibling) {
    if (!c->Has(nsVisible)) continue;
    if (!childrenAbove) out.push_back(c);
    if (c->Has(nsExpanded)) DisplayOrder(c, childrenAbove, out);
    if (childrenAbove) out.push_back(c);
  }
}

TEST(ValidationThread, GetNodeAtEqualsBruteForceOverMixedHeights) {
  TObject sender;
  TCacheTree tree(&sender);
  std::mt19937 rng(7);
  AddTopLevel(tree, 3000);
  ServeFill(tree);
  tree.BeginUpdate();
  for (PLazyNode n = tree.GetFirstNoInit(); n; n = tree.GetNextNoInit(n)) {
    if (rng() % 7 == 0) tree.SetChildCount(n, 1 + rng() % 3);
    if (rng() % 3 == 0) tree.SetNodeHeight(n, rng() % 40);  // zero heights too
  }
  tree.EndUpdate();
  ServeFill(tree);
  tree.FullExpand();
  ServeFill(tree);
  // Both display orders; the option's change refills the cache.
  for (bool childrenAbove : {false, true}) {
    SCOPED_TRACE(childrenAbove ? "children above" : "children below");
    if (childrenAbove) {
      tree.SetChildrenAbove(true);
      ASSERT_FALSE(tree.States().Contains(tsUseCache)) << "the old entries are in another order";
      ServeFill(tree);
    }
    ASSERT_TRUE(tree.States().Contains(tsUseCache));
    ASSERT_GE(tree.PositionCache().size(), 2u);
    std::vector<PLazyNode> visible;
    DisplayOrder(tree.RootNode(), childrenAbove, visible);
    std::vector<uint32_t> tops;
    uint32_t y = 0;
    for (PLazyNode n : visible) {
      tops.push_back(y);
      y += n->NodeHeight;
    }
    ASSERT_EQ(visible.size(), tree.VisibleNodeCount());
    for (int i = 0; i < 3000; ++i) {
      const uint32_t probe = rng() % (y + 50);
      // Brute force: the node whose rows contain the row.
      PLazyNode expected = nullptr;
      uint32_t expectedTop = 0;
      for (size_t k = 0; k < visible.size(); ++k) {
        if (probe >= tops[k] && probe < tops[k] + visible[k]->NodeHeight) {
          expected = visible[k];
          expectedTop = tops[k];
          break;
        }
      }
      int top = -1;
      PLazyNode got = tree.GetNodeAt(0, static_cast<int>(probe), false, top);
      ASSERT_EQ(got, expected) << probe;
      if (got) {
        ASSERT_EQ(top, static_cast<int>(expectedTop));
        int64_t rowTop = 0;
        int64_t rowBottom = 0;
        ASSERT_TRUE(tree.GetDisplayRows(got, rowTop, rowBottom));
        ASSERT_EQ(rowTop, expectedTop);
      }
    }
    int top = 0;
    EXPECT_EQ(tree.GetNodeAt(0, static_cast<int>(y), false, top), nullptr) << "below the last node";
  }
}

// Holds the fill at a chosen node until the GUI thread asks it to stop.
struct THold {
  std::atomic<bool> reached{false};
  std::atomic<bool> sawStop{false};
  uint32_t at = 1000;
  void Attach(TCacheTree& tree) {
    tree.FillProbe = [this, &tree](uint32_t count) {
      if (count != at || reached.load()) return;
      reached.store(true);
      const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
      while (!tree.StopRequested() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
      sawStop.store(tree.StopRequested());
    };
  }
  // GUI thread: serves the fill's start, then waits until the fill is held.
  void WaitHeld(TCacheTree& tree) {
    ASSERT_TRUE(tree.ServeChangeStates(20000));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!reached.load() && std::chrono::steady_clock::now() < deadline)
      std::this_thread::yield();
    ASSERT_TRUE(reached.load());
  }
};

TEST(ValidationThread, ATreeDestroyedDuringAFill) {
  TObject sender;
  auto tree = std::make_unique<TCacheTree>(&sender);
  THold hold;
  hold.Attach(*tree);
  AddTopLevel(*tree, 100000);
  hold.WaitHeld(*tree);
  TWorkerThread* thread = TWorkerThread::Instance();
  ASSERT_EQ(thread->CurrentTree(), tree.get());
  TCacheTree* gone = tree.get();
  tree.reset();  // halts: the held fill sees the stop and ends
  EXPECT_TRUE(hold.sawStop.load());
  EXPECT_EQ(TWorkerThread::Instance(), nullptr) << "the last tree ended the thread";
  (void)gone;
}

// Height setters while a fill of a million nodes reads the heights: each
// halts the fill before it writes (the ThreadSanitizer run sees no race).
TEST(ValidationThread, HeightChangesDuringAFillHaltItFirst) {
  TObject sender;
  TCacheTree tree(&sender);
  struct TCase {
    const char* name;
    std::function<void(TCacheTree&)> change;
  };
  const std::vector<TCase> cases = {
      {"default node height", [](TCacheTree& t) { t.SetDefaultNodeHeight(30); }},
      {"a node's height",
       [](TCacheTree& t) { t.SetNodeHeight(t.GetLastChildNoInit(nullptr), 40); }},
  };
  AddTopLevel(tree, 1000000);
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    THold hold;
    hold.Attach(tree);
    if (&c != &cases.front()) {
      tree.MarkCacheStale();
      tree.ValidateCache();
    }
    hold.WaitHeld(tree);
    c.change(tree);
    EXPECT_TRUE(hold.sawStop.load()) << "the fill stopped before the write";
    tree.FillProbe = nullptr;
    tree.MarkCacheStale();
    tree.ValidateCache();
    ServeFill(tree);
    ASSERT_TRUE(tree.States().Contains(tsUseCache));
    int top = 0;
    const uint32_t lastTop = tree.RootNode()->TotalHeight - tree.RootNode()->NodeHeight -
                             tree.GetLastChildNoInit(nullptr)->NodeHeight;
    EXPECT_EQ(tree.GetNodeAt(0, static_cast<int>(lastTop), false, top),
              tree.GetLastChildNoInit(nullptr));
    EXPECT_EQ(top, static_cast<int>(lastTop));
  }
  EXPECT_EQ(tree.GetLastChildNoInit(nullptr)->NodeHeight, 40);
}

TEST(ValidationThread, TheLastTreeEndsTheThreadANewTreeStartsAnother) {
  TObject sender;
  const uint32_t started = TWorkerThread::StartCount();
  {
    TCacheTree a(&sender);
    TCacheTree b(&sender);
    EXPECT_EQ(TWorkerThread::StartCount(), started + 1);
    ASSERT_NE(TWorkerThread::Instance(), nullptr);
    EXPECT_EQ(TWorkerThread::Instance()->RefCount(), 2u);
  }
  EXPECT_EQ(TWorkerThread::Instance(), nullptr);
  TCacheTree c(&sender);
  EXPECT_EQ(TWorkerThread::StartCount(), started + 2);
  AddTopLevel(c, 2500);
  ServeFill(c);
  EXPECT_TRUE(c.States().Contains(tsUseCache)) << "the new thread fills";
}

TEST(ValidationThread, LinkAndUnlinkHaltTheFillThemselves) {
  TObject sender;
  THold hold;
  TCacheTree tree(&sender);
  hold.Attach(tree);
  AddTopLevel(tree, 50001);
  hold.WaitHeld(tree);
  PLazyNode node = tree.GetFirstChildNoInit(nullptr);
  tree.UnlinkNode(node, false, true);
  EXPECT_TRUE(hold.sawStop.load()) << "unlinking stopped the fill before touching a node";
  EXPECT_NE(TWorkerThread::Instance()->CurrentTree(), &tree);
  tree.LinkNode(node, tree.GetLastChildNoInit(nullptr), amInsertAfter);
  ASSERT_EQ(test::CheckTreeInvariants(tree, &sender, true), "");
  tree.ValidateCache();
  ServeFill(tree);
  EXPECT_TRUE(tree.States().Contains(tsUseCache));
  EXPECT_EQ(tree.PositionCache().back().Node, node);
}

TEST(ValidationThread, AHeightChangeStopsTheFillBeforeItWrites) {
  TObject sender;
  THold hold;
  TCacheTree tree(&sender);
  hold.Attach(tree);
  AddTopLevel(tree, 20000);
  hold.WaitHeld(tree);
  tree.SetNodeHeight(tree.GetLastChildNoInit(nullptr), 40);
  EXPECT_TRUE(hold.sawStop.load());
  tree.HaltCacheValidation();
  tree.FillProbe = nullptr;
  tree.ValidateCache();
  ServeFill(tree);
  ASSERT_TRUE(tree.States().Contains(tsUseCache));
  int top = 0;
  EXPECT_EQ(tree.GetNodeAt(0, 18 * 19999 + 39, false, top), tree.GetLastChildNoInit(nullptr));
}

TEST(ValidationThread, ChangingTheTreeWhileTheThreadFillsAMillionNodes) {
  TObject sender;
  TCacheTree tree(&sender);
  std::mt19937 rng(3);
  for (int round = 0; round < 5; ++round) {
    THold hold;
    hold.at = 1000 + static_cast<uint32_t>(rng() % 100000);
    hold.Attach(tree);
    if (round == 0) {
      AddTopLevel(tree, 1000000);
    } else {
      tree.ValidateCache();
    }
    hold.WaitHeld(tree);
    // Each change halts the held fill first.
    switch (round) {
      case 0:
        tree.DeleteNode(tree.GetFirstChildNoInit(nullptr));
        break;
      case 1:
        tree.SetChildCount(tree.GetLastChildNoInit(nullptr), 3);
        break;
      case 2:
        tree.ToggleNode(tree.GetLastChildNoInit(nullptr));
        break;
      case 3:
        // The fill reads the option for its order.
        tree.SetChildrenAbove(true);
        break;
      default:
        tree.AddChild(nullptr);
        break;
    }
    EXPECT_TRUE(hold.sawStop.load());
    // The change queued the tree again: off the thread before the probe goes.
    tree.HaltCacheValidation();
    tree.FillProbe = nullptr;
  }
  tree.ValidateCache();
  ServeFill(tree);
  ASSERT_TRUE(tree.States().Contains(tsUseCache));
  EXPECT_EQ(tree.PositionCache().size(), (tree.VisibleNodeCount() + 1999) / 2000);
  uint32_t y = 0;
  size_t entry = 0;
  uint32_t count = 0;
  for (PLazyNode n = tree.GetFirstVisibleNoInit(); n && entry < tree.PositionCache().size();
       n = tree.GetNextVisibleNoInit(n), ++count) {
    if (count % 2000 == 0) {
      ASSERT_EQ(tree.PositionCache()[entry].Node, n);
      ASSERT_EQ(tree.PositionCache()[entry].AbsoluteTop, y);
      ++entry;
    }
    y += n->NodeHeight;
  }
  ASSERT_EQ(test::CheckTreeInvariants(tree, &sender, true), "");
}

TEST(ValidationThread, ADyingTreeIsNeverQueued) {
  TObject sender;
  struct TDying : TCacheTree {
    using TCacheTree::TCacheTree;
    bool dying = false;
    bool IsDestroying() const override { return dying; }
  } tree(&sender);
  AddTopLevel(tree, 10);
  ServeFill(tree);
  tree.HaltCacheValidation();  // until the thread has left the tree
  tree.dying = true;
  tree.MarkCacheStale();
  tree.ValidateCache();
  // Queued, the tree would still be listed or hold the thread in its first
  // state message, which nobody serves here.
  TWorkerThread* thread = TWorkerThread::Instance();
  EXPECT_FALSE(thread->IsQueued(&tree));
  EXPECT_NE(thread->CurrentTree(), &tree);
  tree.dying = false;
}

}  // namespace
}  // namespace kelm::lazytree

// The tree's view logic that needs no window: the selection store, visible
// navigation, expanding and collapsing, sorting, node linking, check-state
// propagation and the position cache that the process's one validation
// thread fills. The control derives from it and binds painting, scrolling
// and the state messages to its window.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

#include "classlib/streams.h"
#include "lazytree/lazy_tree_model.h"

namespace kelm::lazytree {

class TLazyTreeView;

// The process's live trees: a tree joins when made and leaves when freed.
uint32_t RegisterLiveTree(TLazyTreeView* tree);
void UnregisterLiveTree(TLazyTreeView* tree);

enum TLTNodeAttachMode : uint8_t {
  amNoWhere,
  amInsertBefore,
  amInsertAfter,
  amAddChildFirst,
  amAddChildLast
};

// The options of this layer; the control's options object sets them.
struct TLazyViewOptions {
  bool MultiSelect = false;              // toMultiSelect
  bool SimpleDrawSelection = false;      // toSimpleDrawSelection
  bool SiblingSelectConstraint = false;  // toSiblingSelectConstraint
  bool LevelSelectConstraint = false;    // toLevelSelectConstraint
  bool AutoTristateTracking = true;      // toAutoTristateTracking
  bool AutoFreeOnCollapse = false;       // toAutoFreeOnCollapse
  bool AutoScrollOnExpand = false;       // toAutoScrollOnExpand
  bool InitOnSave = false;               // toInitOnSave
};

// The rubber band in tree coordinates: rows from the top of the whole
// tree, columns as the control places a node's content.
struct TBandRect {
  int32_t Left = 0;
  int32_t Top = 0;
  int32_t Right = 0;
  int32_t Bottom = 0;
  // Left <= Right and Top <= Bottom.
  TBandRect Normalized() const;
};

// Where a node's content lies across the rubber band: the span it may use
// (the main column, or the client area without columns), the lead before
// its text (margin, indentation, check and images), its text width and
// the text's alignment (0 left, 1 right, 2 centred).
struct TBandPlacement {
  int64_t SpanLeft = 0;
  int64_t SpanRight = 0;
  int64_t Lead = 0;
  int64_t TextWidth = 0;
  uint8_t Alignment = 0;
  bool RightToLeft = false;
  // The content's left and right edges: the lead is taken from the span's
  // reading start, then the text is placed by the alignment (mirrored
  // under right-to-left).
  void Place(int64_t& left, int64_t& right) const;
};

// One entry per 2000 visible nodes: the node and the summed heights of the
// visible nodes above it.
struct TCacheEntry {
  PLazyNode Node;
  uint32_t AbsoluteTop;
};
inline constexpr uint32_t kCacheThreshold = 2000;

// The bits of the change-states message (wParam: enter, lParam: leave).
enum : uint32_t {
  csbStopValidation = 1,
  csbUseCache = 2,
  csbValidating = 4,
  csbValidationNeeded = 8,
  // Enter only: the fill succeeded under variable node heights; the GUI
  // thread updates the scroll bars.
  csbUpdateScrollBars = 16,
};
inline constexpr uint32_t ChangeStatesMessage = 0x8020;

// How the validation thread's state messages reach a tree: Send runs on the
// validation thread and returns once the GUI thread has handled the message;
// Serve runs on the GUI thread while it waits for the thread to leave the tree.
class TChangeStatesSink {
 public:
  virtual ~TChangeStatesSink() = default;
  virtual void Send(uint32_t enter, uint32_t leave) = 0;
  // Handles pending messages, or waits a little for one; returns when either
  // happened or the thread may have left the tree.
  virtual void Serve() = 0;
  // The thread leaves the tree: the sink clears current and wakes a waiting
  // Serve; the thread touches neither the tree nor the sink afterwards.
  virtual void Left(std::atomic<TLazyTreeView*>& current) = 0;
  // GUI thread, once current no longer names the tree: returns when the
  // thread is done with the sink too.
  virtual void Settle() {}
};

// Without a window: a one-message mailbox the GUI thread empties.
class TMailboxSink final : public TChangeStatesSink {
 public:
  explicit TMailboxSink(TLazyTreeView& tree) : tree_(tree) {}
  void Send(uint32_t enter, uint32_t leave) override;
  void Serve() override;
  void Left(std::atomic<TLazyTreeView*>& current) override;
  void Settle() override;
  // Serves one message, waiting up to timeoutMs for it; false without one.
  bool ServeOne(uint32_t timeoutMs);

 private:
  void HandleLocked(std::unique_lock<std::mutex>& lock);
  TLazyTreeView& tree_;
  std::mutex lock_;
  std::condition_variable changed_;
  bool pending_ = false;
  bool served_ = false;
  bool left_ = false;
  uint32_t enter_ = 0;
  uint32_t leave_ = 0;
};

class TLazyTreeView : public TLazyTreeModel {
 public:
  explicit TLazyTreeView(classlib::TObject* sender);
  ~TLazyTreeView() override;

  TLazyViewOptions ViewOptions;
  // While set, ClearSelection, SelectAll and the selection edits do nothing.
  bool SelectionLocked = false;

  // ---- selection
  bool AddSelection(PLazyNode node);
  bool AddSelection(const std::vector<PLazyNode>& nodes, bool forceInsert);
  void RemoveSelection(PLazyNode node);
  void ClearSelection() override;
  void SelectAll(bool visibleOnly);
  void HandleClickSelection(PLazyNode lastFocused, PLazyNode newNode, bool shift, bool ctrl,
                            bool dragPending);
  void SelectRange(PLazyNode startNode, PLazyNode endNode, bool addOnly);
  void ToggleRange(PLazyNode startNode, PLazyNode endNode);
  void UnselectRange(PLazyNode startNode, PLazyNode endNode);
  std::vector<PLazyNode> GetSortedSelection(bool resolve);
  std::vector<PLazyNode> GetSortedCutCopySet(bool resolve);
  void MarkSelectedForTransfer();
  // The rubber band moved from oldRect to newRect: nodes inside exactly one
  // of them change (toggle: as with Ctrl held when the drag began); true
  // when the selection changed.
  bool HandleDrawSelection(TBandRect oldRect, TBandRect newRect, bool toggle);
  // After this tree's own cut was pasted: the nodes marked for the cut go.
  void FinishCut();
  // Entries with bit 0 set are removed keeping the order; the number left,
  // or -1 for an empty array (nothing changed).
  static int CompactNodeArray(uintptr_t* array, uint32_t count);
  // The selection array as stored, tombstones included (diagnostics, tests).
  const std::vector<uintptr_t>& SelectionArray() const { return selection_; }
  bool LocateInSelection(PLazyNode node, uint32_t& index, int low = -1, int high = -1) const;

  // ---- visibility
  bool IsVisible(PLazyNode node);
  PLazyNode GetVisibleParent(PLazyNode node) const;
  // Display order: with considerChildrenAbove and toChildrenAbove an
  // expanded node's children are shown above it.
  PLazyNode GetFirstVisible(PLazyNode node = nullptr, bool considerChildrenAbove = true);
  PLazyNode GetFirstVisibleNoInit(PLazyNode node = nullptr, bool considerChildrenAbove = true);
  PLazyNode GetNextVisible(PLazyNode node, bool considerChildrenAbove = true);
  PLazyNode GetNextVisibleNoInit(PLazyNode node, bool considerChildrenAbove = true);
  PLazyNode GetPreviousVisible(PLazyNode node, bool considerChildrenAbove = true);
  PLazyNode GetPreviousVisibleNoInit(PLazyNode node, bool considerChildrenAbove = true);
  PLazyNode GetLastVisible(PLazyNode node = nullptr, bool considerChildrenAbove = true);
  PLazyNode GetLastVisibleNoInit(PLazyNode node = nullptr, bool considerChildrenAbove = true);
  PLazyNode GetFirstVisibleChild(PLazyNode node);
  PLazyNode GetLastVisibleChild(PLazyNode node);
  PLazyNode GetNextVisibleSibling(PLazyNode node);
  PLazyNode GetPreviousVisibleSibling(PLazyNode node);
  bool IsLeadingVisibleChild(PLazyNode parent, PLazyNode node) const;
  bool IsTrailingVisibleChild(PLazyNode parent, PLazyNode node) const;
  bool HasVisibleNextSibling(PLazyNode node) const;
  bool HasVisiblePreviousSibling(PLazyNode node) const;
  int CompareNodePositions(PLazyNode node1, PLazyNode node2, bool considerChildrenAbove = false);
  // The node's rows: top and bottom in client coordinates (moved by the
  // vertical offset); false (and 0, 0) for a node that is not shown.
  bool GetDisplayRows(PLazyNode node, int64_t& top, int64_t& bottom, bool init = true);

  // toChildrenAbove: the display order changes, so the cache is filled anew.
  void SetChildrenAbove(bool value);

  // ---- expansion
  using TLazyTreeModel::ToggleNode;
  void ToggleNode(PLazyNode node) override;
  virtual void FullExpand(PLazyNode node = nullptr);
  virtual void FullCollapse(PLazyNode node = nullptr);
  bool Expanded(PLazyNode node) const { return node && node->Has(nsExpanded); }
  void SetExpanded(PLazyNode node, bool value);

  // ---- sorting
  void Sort(PLazyNode node, int column, TSortDirection direction, bool doInit = true) override;
  void SortTree(int column, TSortDirection direction, bool doInit = true) override;
  virtual int DoCompareNodes(PLazyNode node1, PLazyNode node2, int column);

  // ---- linking and counting
  void LinkNode(PLazyNode node, PLazyNode destination, TLTNodeAttachMode mode);
  void UnlinkNode(PLazyNode node, bool keepFocus, bool reindex);
  int LevelDelta(PLazyNode node1, PLazyNode node2) const;
  uint32_t VisibleDescendantCount(PLazyNode node) const;
  using TLazyTreeModel::UpdateAllHiddenChildrenFlags;
  using TLazyTreeModel::UpdateHiddenChildrenFlag;

  // ---- the tree stream (lazy_tree_stream.cpp): the node structure and the
  // owner's chunks, little-endian, written as version 2
  virtual void SaveToStream(classlib::TStream& stream, PLazyNode node = nullptr);
  virtual void LoadFromStream(classlib::TStream& stream);
  // Fills a node already linked into this tree and brings the counts and the
  // selection up to date; on failure the node is deleted again.
  virtual void AddNodeFromStream(classlib::TStream& stream, int version, PLazyNode node);
  virtual void WriteNodeRecord(classlib::TStream& stream, PLazyNode node);
  virtual void WriteNodeChunks(classlib::TStream& stream, PLazyNode node);
  virtual void ReadNodeRecord(classlib::TStream& stream, int version, PLazyNode node);
  virtual bool ReadNodeChunk(classlib::TStream& stream, int version, PLazyNode node,
                             int32_t chunkType, int32_t chunkSize);
  void SkipNodeRecord(classlib::TStream& stream);
  // The magic (version 2) and the count of top-level records.
  static void WriteStreamHeader(classlib::TStream& stream, uint32_t count);
  // The magic's version (1 or 2), or the tree error (2002-2004).
  static int ReadStreamMagic(classlib::TStream& stream);
  // A version-2 magic and its count of top-level records.
  static uint32_t ReadStreamHeader(classlib::TStream& stream);
  static void PatchChunkSize(classlib::TStream& stream, int64_t startPos, int64_t endPos);

  // ---- transferring nodes (lazy_tree_transfer.cpp)
  // The tree stream of the given nodes (a descendant of a listed node is
  // left out: its ancestor carries it).
  void WriteTransferNodes(classlib::TStream& stream, const std::vector<PLazyNode>& nodes);
  // Reads a transferred stream (version 2, up to its count) as new nodes
  // at target; a node OnNodeCopying
  // refuses is deleted again and neither reported nor followed. Nodes keep
  // their order in every mode.
  void InsertStreamedNodes(classlib::TStream& stream, PLazyNode target, TLTNodeAttachMode mode,
                           TChangeReason reason);
  // The optimized paste: sourceTree's cut-or-copy set (or the given drag
  // list) moves to target in this tree.
  void MoveTransferredNodes(TLazyTreeView& sourceTree, std::vector<PLazyNode> nodes,
                            PLazyNode target, TLTNodeAttachMode mode);

  // The selected nodes go; a selected descendant goes with its ancestor.
  virtual void DeleteSelectedNodes();

  // ---- moving nodes (lazy_tree_move.cpp)
  void MoveNode(PLazyNode source, PLazyNode target, TLTNodeAttachMode mode, bool childrenOnly);
  // The live tree of this process whose node this is, or none.
  static TLazyTreeView* TreeOfNode(PLazyNode node);
  // A number naming this tree while it lives (never reused in the process).
  uint32_t TreeNumber() const { return treeNumber_; }
  static TLazyTreeView* TreeByNumber(uint32_t number);

  // ---- check states
  static TCheckState NextCheckState(TCheckType checkType, TCheckState checkState);
  bool ChangeCheckState(PLazyNode node, TCheckState value);
  // The setter: asks the owner, changes and reports.
  void SetCheckState(PLazyNode node, TCheckState value);
  virtual void ApplyCheckClick(PLazyNode node, TCheckState newState);
  virtual bool DoChecking(PLazyNode node, TCheckState& newState);
  virtual void DoChecked(PLazyNode node);

  // ---- position cache
  const std::vector<TCacheEntry>& PositionCache() const { return positionCache_; }
  PLazyNode FindCacheEntryByTop(uint32_t y, uint32_t& top) const;
  PLazyNode FindCacheEntryByNode(PLazyNode node, uint32_t& top);
  PLazyNode GetNodeAt(int x, int y, bool relative, int& nodeTop);
  PLazyNode GetNodeAt(int x, int y);
  // Runs on the validation thread: reads the node graph, reports through
  // the sink, touches no window and calls no owner event.
  bool FillPositionCache();
  bool StopRequested() const { return stopValidation_.load(std::memory_order_acquire); }
  void SendChangeStates(uint32_t enter, uint32_t leave) { sink_->Send(enter, leave); }
  // The thread leaves the tree (called by the thread only).
  void ValidationLeft(std::atomic<TLazyTreeView*>& current) { sink_->Left(current); }
  // GUI thread: turns a message's bits into tree states.
  void HandleChangeStates(uint32_t enter, uint32_t leave);
  // Without a window: serve one state message, waiting up to timeoutMs.
  bool ServeChangeStates(uint32_t timeoutMs) { return mailbox_.ServeOne(timeoutMs); }
  // Test probe: called by the fill on the validation thread after each node
  // with the count so far; set before the tree is queued.
  std::function<void(uint32_t)> FillProbe;

  void HaltCacheValidation() override;
  void MarkCacheStale() override;
  void ValidateCache() override;
  void DoStateChange(TLazyTreeStates enter, TLazyTreeStates leave = {}) override;

 protected:
  bool IsDestroying() const override { return destroying_; }
  virtual bool DoCollapsing(PLazyNode node);
  virtual bool DoExpanding(PLazyNode node);
  virtual void DoCollapsed(PLazyNode node);
  virtual void DoExpanded(PLazyNode node);
  virtual bool EndEditing() { return true; }
  virtual int VerticalOffset() const { return 0; }
  // The window's scrolling: a node brought into view, and the children of
  // a node just expanded shown as far as the view allows (true when the
  // view moved).
  virtual void ScrollIntoView(PLazyNode /*node*/, bool /*center*/, bool /*horizontally*/) {}
  virtual bool ScrollExpandedIntoView(PLazyNode /*node*/) { return false; }
  // The rubber band's horizontal test: a node's content edges in band
  // coordinates. False: no geometry, only the rows count.
  virtual bool GetBandExtent(PLazyNode /*node*/, int64_t& /*left*/, int64_t& /*right*/) {
    return false;
  }
  // Events of streaming and moving; the control fires its published ones.
  virtual void DoSaveNode(PLazyNode /*node*/, classlib::TStream* /*stream*/) {}
  virtual void DoLoadNode(PLazyNode /*node*/, classlib::TStream* /*stream*/) {}
  virtual void DoNodeCopied(PLazyNode /*node*/) {}
  virtual bool DoNodeCopying(PLazyNode /*node*/, PLazyNode /*target*/) { return true; }
  virtual void DoNodeMoved(PLazyNode /*node*/) {}
  virtual bool DoNodeMoving(PLazyNode /*node*/, PLazyNode /*target*/) { return true; }
  void AddToSelection(PLazyNode node) override;
  void RemoveFromSelection(PLazyNode node) override;
  void CompactSelection() override;
  void MarkRemovedFromSelection(PLazyNode node);
  void DropSelection();
  void ResetAnchor();
  bool MergeIntoSelection(std::vector<PLazyNode> nodes, bool forceInsert);
  PLazyNode PropagateCheckState(PLazyNode node, TCheckState newState, bool& allowed);
  // A window-bound control puts its own sink in place (before any queueing).
  // None puts the mailbox back (a control's destructor, before its sink goes).
  void SetChangeStatesSink(TChangeStatesSink* sink) { sink_ = sink ? sink : &mailbox_; }

 private:
  // The first node past `node`'s subtree in pre-order (the next sibling of
  // the node or of its nearest ancestor that has one), or none.
  PLazyNode NodeAfterSubtree(PLazyNode node) const;
  PLazyNode NextVisible(PLazyNode node, bool init, bool above);
  PLazyNode PreviousVisible(PLazyNode node, bool init, bool above);
  PLazyNode FirstVisibleBelow(PLazyNode node, bool init, bool above);
  PLazyNode LastVisible(PLazyNode node, bool init);
  // Children-above order: the node's first shown descendant chain.
  PLazyNode TopOfBlock(PLazyNode node, bool init);
  // The shown node before `node`'s block under children-above order.
  PLazyNode PreviousBlock(PLazyNode node, bool init);
  bool Above(bool considerChildrenAbove) const {
    return considerChildrenAbove && Options.ChildrenAbove;
  }
  PLazyNode RangeStart(PLazyNode start, bool firstTopLevel);

  std::vector<uintptr_t> selection_;  // sorted by address; odd values are tombstones
  int anchorLevel_ = -1;
  int checkNesting_ = 0;
  bool destroying_ = false;
  std::vector<TCacheEntry> positionCache_;
  uint32_t cacheStartIndex_ = 0;
  std::atomic<bool> stopValidation_{false};
  TMailboxSink mailbox_{*this};
  TChangeStatesSink* sink_ = &mailbox_;
  bool threadAcquired_ = false;
  // Reading a stream: how deep the node records nest, and where the
  // enclosing chunk ends (nothing is read past it).
  int readDepth_ = 0;
  uint32_t treeNumber_ = 0;
  int64_t readLimit_ = 0;
};

// The process's one validation thread: started by the first tree, ended by
// the last.
class TWorkerThread {
 public:
  static void AcquireValidationThread();
  static void ReleaseValidationThread(TLazyTreeView* tree);
  // The running thread, or none (GUI thread only).
  static TWorkerThread* Instance();
  // Threads started so far in this process (tests).
  static uint32_t StartCount();

  void QueueTree(TLazyTreeView* tree);
  void UnqueueTree(TLazyTreeView* tree);
  void Wake();
  bool IsQueued(TLazyTreeView* tree);
  TLazyTreeView* CurrentTree() const { return currentTree_.load(std::memory_order_acquire); }
  uint32_t RefCount() const { return refCount_; }

 private:
  TWorkerThread();
  ~TWorkerThread();
  void Execute();

  std::mutex listLock_;
  std::vector<TLazyTreeView*> waitingTrees_;
  std::atomic<TLazyTreeView*> currentTree_{nullptr};
  std::atomic<bool> terminated_{false};
  // The wake event: auto-reset.
  std::mutex wakeLock_;
  std::condition_variable wakeCondition_;
  bool wakeSignalled_ = false;
  uint32_t refCount_ = 0;
  struct TThreadHolder;
  TThreadHolder* thread_ = nullptr;
};

}  // namespace kelm::lazytree

// The tree's node store: the hidden root, node memory and the owner's data
// area, creating and deleting nodes, child counts, totals, the update
// bracket, the change notices and plain navigation. It needs no window: the
// tree control carries it and answers the virtual operations below that
// belong to its painting, scrolling, selection, cache, editing and timers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "classlib/object.h"
#include "lazytree/lazy_node.h"
#include "lazytree/lazy_tree_states.h"

namespace kelm::lazytree {

enum TChangeReason : uint8_t {
  crIgnore,
  crAccumulated,
  crChildAdded,
  crChildDeleted,
  crNodeAdded,
  crNodeCopied,
  crNodeMoved,
};

enum TLTUpdateState : uint8_t { usBegin, usBeginSynch, usSynch, usEndSynch, usUpdate, usEnd };

enum TLazyNodeInitState : uint8_t {
  ivsDisabled,
  ivsExpanded,
  ivsHasChildren,
  ivsMultiline,
  ivsSelected
};
using TLazyNodeInitStates = classlib::TSet<TLazyNodeInitState>;

enum TSortDirection : uint8_t { sdAscending, sdDescending };

// The tree's window timers.
enum : int {
  ExpandTimer = 1,
  EditTimer = 2,
  HeaderTimer = 3,
  ScrollTimer = 4,
  ChangeTimer = 5,
  StructureChangeTimer = 6,
  SearchTimer = 7,
};

using TLTInitNodeEvent =
    classlib::TEvent<classlib::TObject*, PLazyNode, PLazyNode, TLazyNodeInitStates&>;
using TLTInitChildrenEvent = classlib::TEvent<classlib::TObject*, PLazyNode, uint32_t&>;
using TLTNodeEvent = classlib::TEvent<classlib::TObject*, PLazyNode>;
using TLTStructureChangeEvent = classlib::TEvent<classlib::TObject*, PLazyNode, TChangeReason>;
using TLTUpdatingEvent = classlib::TEvent<classlib::TObject*, TLTUpdateState>;
using TLTStateChangeEvent = classlib::TEvent<classlib::TObject*, TLazyTreeStates, TLazyTreeStates>;
using TLTGetNodeDataSizeEvent = classlib::TEvent<classlib::TObject*, int32_t&>;

// The options the node store reads; the options object of the control sets them.
struct TLazyModelOptions {
  bool ReadOnly = false;            // toReadOnly
  bool AutoSort = false;            // toAutoSort
  bool ChildrenAbove = false;       // toChildrenAbove
  bool VariableNodeHeight = false;  // toVariableNodeHeight
  bool AutoExpand = false;          // toAutoExpand
};

// The owner's data area follows the internal one at this alignment, so the
// owner may keep any scalar there.
inline constexpr size_t kNodeDataAlign = alignof(std::max_align_t);

class TLazyTreeModel {
 public:
  // sender: the object passed to the events as Sender, and the opaque back
  // reference kept in the root's Parent.
  explicit TLazyTreeModel(classlib::TObject* sender);
  virtual ~TLazyTreeModel();
  TLazyTreeModel(const TLazyTreeModel&) = delete;
  TLazyTreeModel& operator=(const TLazyTreeModel&) = delete;

  // Makes the hidden root when there is none (the control's AfterConstruction).
  void CreateRootNode();
  // Frees every node and the root without events (the control's destruction).
  void FreeAllNodes();

  // ---- events of the node store
  TLTInitNodeEvent OnInitNode;
  TLTInitChildrenEvent OnInitChildren;
  TLTNodeEvent OnFreeNode;
  TLTNodeEvent OnResetNode;
  TLTNodeEvent OnChange;
  TLTStructureChangeEvent OnStructureChange;
  TLTUpdatingEvent OnUpdating;
  TLTStateChangeEvent OnStateChange;
  TLTGetNodeDataSizeEvent OnGetNodeDataSize;

  TLazyModelOptions Options;
  int SortColumn = -1;
  TSortDirection SortDirection = sdAscending;

  // ---- nodes
  PLazyNode RootNode() const { return root_; }
  virtual PLazyNode AddChild(PLazyNode parent, void* userData = nullptr);
  void* GetNodeData(PLazyNode node);
  void DeleteNode(PLazyNode node, bool reindex = true);
  void DeleteChildren(PLazyNode node, bool resetHasChildren = false);
  virtual void Clear();
  virtual void ResetNode(PLazyNode node);
  virtual void ReinitNode(PLazyNode node, bool recursive);
  virtual void ReinitChildren(PLazyNode node, bool recursive);
  virtual void DisconnectNode(PLazyNode node, bool keepFocus, bool reindex);

  uint32_t ChildCount(PLazyNode node) const;
  void SetChildCount(PLazyNode node, uint32_t count);
  uint32_t RootNodeCount() const { return root_->ChildCount; }
  // While a stored form is read the count waits in the root (state
  // tsNeedRootCountUpdate) until ApplyStoredRootNodeCount makes the nodes.
  void SetRootNodeCount(uint32_t count);
  void ApplyStoredRootNodeCount();

  int32_t NodeDataSize() const { return nodeDataSize_; }
  void SetNodeDataSize(int32_t size);
  uint32_t InternalDataSize() const { return internalDataSize_; }
  virtual uint32_t AllocateInternalDataArea(uint32_t size);
  // Bytes of one node with the current sizes (record, internal and owner's areas).
  size_t NodeAllocationSize() const;

  uint32_t DefaultNodeHeight() const { return defaultNodeHeight_; }
  virtual void SetDefaultNodeHeight(uint32_t height);
  uint32_t NodeHeight(PLazyNode node);
  void SetNodeHeight(PLazyNode node, uint32_t height);

  void InitNode(PLazyNode node);
  void InitChildren(PLazyNode node);
  void EnsureNodeInitialized(PLazyNode node, bool recursive);
  void EnsureChildrenInitialized(PLazyNode node, bool recursive);

  // ---- update bracket and change notices
  virtual void BeginUpdate();
  virtual void EndUpdate();
  uint32_t UpdateCount() const { return updateCount_; }
  virtual void StructureChange(PLazyNode node, TChangeReason reason);
  virtual void AdviseChange(bool isStructureChange, PLazyNode node, TChangeReason reason);
  uint32_t ChangeDelay = 0;
  PLazyNode LastStructureChangeNode() const { return lastStructureChangeNode_; }
  TChangeReason LastStructureChangeReason() const { return lastStructureChangeReason_; }
  PLazyNode LastChangedNode() const { return lastChangedNode_; }
  // A tree timer expired: 5 raises the delayed change, 6 the structure change.
  void ChangeTimerExpired(int timerId);

  // ---- states
  TLazyTreeStates States() const { return states_; }
  virtual void DoStateChange(TLazyTreeStates enter, TLazyTreeStates leave = {});

  // ---- navigation
  PLazyNode GetFirst(bool considerChildrenAbove = false);
  PLazyNode GetFirstNoInit(bool considerChildrenAbove = false);
  PLazyNode GetNext(PLazyNode node, bool considerChildrenAbove = false);
  PLazyNode GetNextNoInit(PLazyNode node, bool considerChildrenAbove = false);
  PLazyNode GetPrevious(PLazyNode node, bool considerChildrenAbove = false);
  PLazyNode GetPreviousNoInit(PLazyNode node, bool considerChildrenAbove = false);
  PLazyNode GetLast(PLazyNode node = nullptr, bool considerChildrenAbove = false);
  PLazyNode GetLastNoInit(PLazyNode node = nullptr, bool considerChildrenAbove = false);
  PLazyNode GetFirstChild(PLazyNode node);
  PLazyNode GetFirstChildNoInit(PLazyNode node);
  PLazyNode GetLastChild(PLazyNode node);
  PLazyNode GetLastChildNoInit(PLazyNode node);
  PLazyNode GetNextSibling(PLazyNode node);
  PLazyNode GetNextSiblingNoInit(PLazyNode node);
  PLazyNode GetPreviousSibling(PLazyNode node);
  PLazyNode GetPreviousSiblingNoInit(PLazyNode node);
  PLazyNode GetFirstInitialized();
  PLazyNode GetNextInitialized(PLazyNode node);
  PLazyNode GetFirstCutCopy();
  PLazyNode GetNextCutCopy(PLazyNode node);
  PLazyNode GetFirstSelected(bool considerChildrenAbove = false);
  PLazyNode GetNextSelected(PLazyNode node, bool considerChildrenAbove = false);
  uint32_t GetNodeLevel(PLazyNode node) const;
  bool HasAsParent(PLazyNode node, PLazyNode potentialParent) const;

  // ---- view state the node store keeps up to date
  uint32_t VisibleNodeCount() const { return visibleNodeCount_; }
  uint32_t SelectedCount() const { return selectedCount_; }
  PLazyNode FocusedNode() const { return focusedNode_; }
  PLazyNode HotNode() const { return hotNode_; }
  PLazyNode DropTargetNode() const { return dropTargetNode_; }
  PLazyNode RangeAnchor() const { return rangeAnchor_; }
  // Whether the node and every ancestor below the root are visible and
  // every ancestor expanded.
  bool FullyVisible(PLazyNode node) const;

 protected:
  classlib::TObject* Sender() const { return sender_; }

  // ---- dispatchers of the node store's events
  virtual void DoInitNode(PLazyNode parent, PLazyNode node, TLazyNodeInitStates& initStates);
  virtual void DoInitChildren(PLazyNode node, uint32_t& childCount);
  virtual void DoFreeNode(PLazyNode node);
  virtual void DoResetNode(PLazyNode node);
  virtual void DoChange(PLazyNode node);
  virtual void DoStructureChange(PLazyNode node, TChangeReason reason);
  virtual void DoUpdating(TLTUpdateState state);
  virtual void DoMeasureItem(PLazyNode node, int& nodeHeight);
  virtual void ValidateNodeDataSize(int32_t& size);

  // ---- operations of the control's other parts; the defaults keep the
  // node store consistent without a window.
  virtual bool IsDestroying() const { return false; }
  virtual bool IsLoading() const { return false; }
  virtual bool IsDesigning() const { return false; }
  virtual void HaltCacheValidation() {}
  virtual void MarkCacheStale() {}
  virtual void ValidateCache() {}
  virtual void UpdateScrollBars(bool /*doRepaint*/) {}
  virtual void InvalidateNode(PLazyNode /*node*/) {}
  virtual void InvalidateToBottom(PLazyNode /*node*/) {}
  virtual void InvalidateAll() {}
  virtual void SetUpdateState(bool /*updating*/) {}
  virtual void StartTimer(int /*id*/, uint32_t /*ms*/) {}
  virtual void StopTimer(int /*id*/) {}
  virtual bool CancelEditing() { return false; }
  virtual void CancelHint() {}
  virtual void EmptyOleClipboard() {}
  virtual void NotifyDesignerModified() {}
  virtual void Sort(PLazyNode /*node*/, int /*column*/, TSortDirection /*direction*/,
                    bool /*doInit*/) {}
  virtual void SortTree(int /*column*/, TSortDirection /*direction*/, bool /*doInit*/) {}
  virtual void AddToSelection(PLazyNode node);
  virtual void RemoveFromSelection(PLazyNode node);
  virtual void ClearSelection();
  virtual void CompactSelection() {}
  // Focus leaves a node that is being deleted.
  virtual void FocusLeaves(PLazyNode node);
  // Expands or collapses a node, keeping totals and the visible count.
  virtual void ToggleNode(PLazyNode node);
  virtual void UpdateAllHiddenChildrenFlags();

  // Remembered nodes the view parts set.
  PLazyNode focusedNode_ = nullptr;
  PLazyNode hotNode_ = nullptr;
  PLazyNode dropTargetNode_ = nullptr;
  PLazyNode rangeAnchor_ = nullptr;

  void AdjustTotalHeight(PLazyNode node, int64_t value, bool relative);
  void AdjustTotalCount(PLazyNode node, int64_t value, bool relative);
  void UpdateHiddenChildrenFlag(PLazyNode node);
  uint32_t CountVisibleChildren(PLazyNode node) const;
  uint32_t VisibleDescendants(PLazyNode node) const;
  void SetVisibleNodeCount(uint32_t count) { visibleNodeCount_ = count; }
  void SetSelectedCount(uint32_t count) { selectedCount_ = count; }
  // Raw update count changes without the bracket's events (sorting).
  void AdjustUpdateCount(int delta) { updateCount_ = static_cast<uint32_t>(updateCount_ + delta); }

 protected:
  // A fresh, unlinked node of this tree (zero-filled, visible, default height).
  PLazyNode MakeNewNode();

 private:
  void FreeNodeMemory(PLazyNode node);
  void FreeSubtreeQuietly(PLazyNode node);
  size_t OwnerDataOffset() const;
  void ResetRootNode();
  PLazyNode DeepestFirst(PLazyNode node, bool init);
  PLazyNode DeepestLast(PLazyNode node, bool init);
  PLazyNode NextPreOrder(PLazyNode node, bool init);
  void FireStructureChangeNow();

  classlib::TObject* sender_;
  PLazyNode root_ = nullptr;
  int32_t nodeDataSize_ = -1;
  uint32_t internalDataSize_ = 0;
  uint32_t defaultNodeHeight_ = 18;
  uint32_t updateCount_ = 0;
  uint32_t visibleNodeCount_ = 0;
  uint32_t selectedCount_ = 0;
  TLazyTreeStates states_;
  PLazyNode lastStructureChangeNode_ = nullptr;
  TChangeReason lastStructureChangeReason_ = crIgnore;
  PLazyNode lastChangedNode_ = nullptr;
};

// The tree (the sender its store was made for) that owns a node: found
// through the parents up to the hidden root, which refers back to it.
classlib::TObject* OwnerTreeOf(PLazyNode node);

}  // namespace kelm::lazytree

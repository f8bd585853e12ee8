// The tree control under Wine: its window timers, the dispatchers' defaults
// and the behaviours some of them carry (editing, the popup walk).
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "classlib/forms.h"
#include "lazytree/base_lazy_tree.h"
#include "lazytree/lazy_tree_error.h"
#include "message_pump.h"
#include "../../tests/tree_invariants.h"

namespace kelm::lazytree {
namespace {

using classlib::EAssertionFailed;
using classlib::EventOf;
using classlib::New;
using classlib::TForm;

class TRecorder : public TObject {
 public:
  std::vector<PLazyNode> structureNodes;
  std::vector<PLazyNode> asked;
  std::vector<TColumnIndex> askedColumns;
  PLazyNode answerAt = nullptr;  // the popup handler answers a menu here
  PLazyNode stopAt = nullptr;    // and stops asking parents here
  TPopupMenu* menu = nullptr;
  PLTEditLink link;
  int edited = 0;
  int cancelled = 0;
  int exCalls = 0;
  int plainCalls = 0;

  void Structure(TObject*, PLazyNode n, TChangeReason) { structureNodes.push_back(n); }
  void Popup(TBaseLazyTree*, PLazyNode n, TColumnIndex c, const TPoint&, bool& askParent,
             TPopupMenu*& m) {
    asked.push_back(n);
    askedColumns.push_back(c);
    if (n && n == answerAt) m = menu;
    if (n && n == stopAt) askParent = false;
  }
  void CreateEditor(TBaseLazyTree*, PLazyNode, TColumnIndex, PLTEditLink& l) { l = link; }
  void Edited(TBaseLazyTree*, PLazyNode, TColumnIndex) { ++edited; }
  bool allowFocus = true;
  int focusAsked = 0;
  void FocusChanging(TBaseLazyTree*, PLazyNode, PLazyNode, TColumnIndex, TColumnIndex,
                     bool& allowed) {
    ++focusAsked;
    allowed = allowFocus;
  }
  bool allowCheck = true;
  int checked = 0;
  void Checking(TBaseLazyTree*, PLazyNode, TCheckState&, bool& allowed) { allowed = allowCheck; }
  void Checked(TBaseLazyTree*, PLazyNode) { ++checked; }
  void Margins(TBaseLazyTree*, TCanvas*, PLazyNode, TColumnIndex, TLTCellPaintMode mode, TRect,
               TRect& content) {
    if (mode != cpmGetContentMargin) return;
    content.left += 1;
    content.top += 2;
    content.right -= 3;
    content.bottom -= 4;
  }
  std::vector<TColumnIndex> resized;
  void Resized(TLTHeader*, TColumnIndex c) { resized.push_back(c); }
  std::vector<std::pair<int, int>> scrolls;
  void Scrolled(TBaseLazyTree*, int dx, int dy) { scrolls.emplace_back(dx, dy); }
  void Cancelled(TBaseLazyTree*, TColumnIndex) { ++cancelled; }
  bool cellsEmpty = true;
  void CellEmpty(TBaseLazyTree*, PLazyNode, TColumnIndex, bool& empty) { empty = cellsEmpty; }
  void ImageEx(TBaseLazyTree*, PLazyNode, TLTImageKind, TColumnIndex, bool&, int& i,
               TCustomImageList*&) {
    ++exCalls;
    i = 3;
  }
  void Image(TBaseLazyTree*, PLazyNode, TLTImageKind, TColumnIndex, bool&, int& i) {
    ++plainCalls;
    i = 9;
  }
};

// An editor that answers each question as told.
class TFakeLink : public ILTEditLink {
 public:
  bool prepare = true, start = true, abort = true, commit = true;
  bool StartEdit() override { return start; }
  bool AbortEdit() override { return abort; }
  bool CommitEdit() override { return commit; }
  bool PrepareEditor(TBaseLazyTree*, PLazyNode, TColumnIndex) override { return prepare; }
  TRect GetEditBounds() override { return TRect{}; }
  void ForwardMessage(classlib::TMessage&) override {}
  void SetEditBounds(TRect) override {}
};

class LazyTreeControl : public ::testing::Test {
 protected:
  void SetUp() override {
    form = New<TForm>(nullptr, 0);
    tree = New<TBaseLazyTree>(form);
    tree->SetParent(form);
    ASSERT_NE(tree->Handle(), nullptr);
  }
  void TearDown() override {
    if (form) classlib::Free(form);
  }

  TRecorder rec;
  TForm* form = nullptr;
  TBaseLazyTree* tree = nullptr;
};

TEST_F(LazyTreeControl, DelayedStructureChangeFiresOnceOnItsWindowTimer) {
  tree->OnStructureChange = EventOf<&TRecorder::Structure>(&rec);
  tree->ChangeDelay = 60000;  // never expires by itself during the test
  tree->AddChild(nullptr);
  tree->AddChild(nullptr);
  EXPECT_TRUE(rec.structureNodes.empty());
  EXPECT_TRUE(tree->TimerRunning(StructureChangeTimer));
  SendMessageW(tree->Handle(), WM_TIMER, StructureChangeTimer, 0);
  EXPECT_EQ(rec.structureNodes.size(), 1u);
  EXPECT_FALSE(tree->TimerRunning(StructureChangeTimer));
  SendMessageW(tree->Handle(), WM_TIMER, StructureChangeTimer, 0);  // a tick already queued
  EXPECT_EQ(rec.structureNodes.size(), 1u);
  EXPECT_FALSE(tree->States().Contains(tsStructureChangePending));
}

TEST_F(LazyTreeControl, DispatchersAnswerTheirDefaultsWithoutHandlers) {
  PLazyNode node = tree->AddChild(nullptr);
  TCheckState check = csCheckedNormal;
  TPoint p{1, 2};
  TPoint track{0, 0};
  WORD key = VK_DOWN;
  TShiftState shift;
  uint32_t effect = 0;
  FORMATETC format{};
  STGMEDIUM medium{};
  struct TCase {
    const char* name;
    bool answer;
    bool expected;
  };
  const TCase cases[] = {
      {"DoChecking", tree->DoChecking(node, check), true},
      {"DoCollapsing", tree->DoCollapsing(node), true},
      {"DoExpanding", tree->DoExpanding(node), true},
      {"DoHeaderDragging", tree->DoHeaderDragging(0), true},
      {"DoKeyAction", tree->DoKeyAction(key, shift), true},
      {"DoNodeCopying", tree->DoNodeCopying(node, nullptr), true},
      {"DoNodeMoving", tree->DoNodeMoving(node, nullptr), true},
      {"DoNodeHeightDblClickResize", tree->DoNodeHeightDblClickResize(node, 0, shift, p), true},
      {"DoNodeHeightTracking", tree->DoNodeHeightTracking(node, 0, shift, track, p), true},
      {"DoFocusChanging same column", tree->DoFocusChanging(nullptr, node, 0, 0), true},
      {"DoDragAllowed", tree->DoDragAllowed(node, 0), false},
      {"DoDragOver",
       tree->DoDragOver(nullptr, shift, classlib::TDragState::dsDragMove, p, dmOnNode, effect),
       false},
      {"DoBeforeItemPaint", tree->DoBeforeItemPaint(nullptr, node, TRect{}), false},
      {"DoPaintBackground", tree->DoPaintBackground(nullptr, TRect{}), false},
      {"DoRenderOLEData is E_FAIL", tree->DoRenderOLEData(format, medium, true) == E_FAIL, true},
      {"DoCompareNodes is 0", tree->DoCompareNodes(node, node, 0) == 0, true},
      {"DoIncrementalSearch is 0", tree->DoIncrementalSearch(node, u"x") == 0, true},
      {"DoCreateEditor is none", tree->DoCreateEditor(node, 0) == nullptr, true},
      {"DoCreateDataObject is none", tree->DoCreateDataObject() == nullptr, true},
      {"DoGetPopupMenu is none", tree->DoGetPopupMenu(node, 0, p) == nullptr, true},
      {"GetNodeWidth is 0", tree->GetNodeWidth(node, 0, nullptr) == 0, true},
  };
  for (const TCase& c : cases) EXPECT_EQ(c.answer, c.expected) << c.name;
  tree->Options.ReadOnly = true;
  EXPECT_FALSE(tree->DoChecking(node, check)) << "refused under read-only";
  EXPECT_EQ(check, csCheckedNormal);
}

TEST_F(LazyTreeControl, ExtendedImageEventWinsOverThePlainOne) {
  PLazyNode node = tree->AddChild(nullptr);
  bool ghosted = false;
  int index = -1;
  tree->OnGetImageIndex = EventOf<&TRecorder::Image>(&rec);
  tree->DoGetImageIndex(node, ikNormal, 0, ghosted, index);
  EXPECT_EQ(index, 9);
  tree->OnGetImageIndexEx = EventOf<&TRecorder::ImageEx>(&rec);
  tree->DoGetImageIndex(node, ikNormal, 0, ghosted, index);
  EXPECT_EQ(index, 3);
  EXPECT_EQ(rec.exCalls, 1);
  EXPECT_EQ(rec.plainCalls, 1);
}

TEST_F(LazyTreeControl, PopupWalkAsksAncestorsButNeverTheRoot) {
  PLazyNode top = tree->AddChild(nullptr);
  PLazyNode mid = tree->AddChild(top);
  PLazyNode leaf = tree->AddChild(mid);
  tree->OnGetPopupMenu = EventOf<&TRecorder::Popup>(&rec);
  TPopupMenu* menu = New<TPopupMenu>(form);
  rec.menu = menu;
  struct TCase {
    PLazyNode answerAt, stopAt;
    std::vector<PLazyNode> asked;
    bool answered;
  };
  const TCase cases[] = {
      {nullptr, nullptr, {leaf, mid, top}, false},  // nobody answers: up to the top level only
      {mid, nullptr, {leaf, mid}, true},            // an answer ends the walk
      {nullptr, leaf, {leaf}, false},               // AskParent cleared
  };
  for (const TCase& c : cases) {
    rec.asked.clear();
    rec.answerAt = c.answerAt;
    rec.stopAt = c.stopAt;
    TPopupMenu* got = tree->DoGetPopupMenu(leaf, 2, TPoint{0, 0});
    EXPECT_EQ(rec.asked, c.asked);
    EXPECT_EQ(got, c.answered ? menu : nullptr);
  }
  rec.asked.clear();
  rec.askedColumns.clear();
  tree->DoGetPopupMenu(nullptr, 2, TPoint{0, 0});
  EXPECT_EQ(rec.asked, std::vector<PLazyNode>{nullptr});
  EXPECT_EQ(rec.askedColumns, std::vector<TColumnIndex>{NoColumn});
}

TEST_F(LazyTreeControl, EditLinkRefusingAndAgreeing) {
  PLazyNode node = tree->AddChild(nullptr);
  tree->SetFocusedNodeDirect(node);
  tree->OnCreateEditor = EventOf<&TRecorder::CreateEditor>(&rec);
  tree->OnEdited = EventOf<&TRecorder::Edited>(&rec);
  tree->OnEditCancelled = EventOf<&TRecorder::Cancelled>(&rec);
  auto link = std::make_shared<TFakeLink>();
  rec.link = link;
  struct TCase {
    bool prepare, start;
    bool editing;
  };
  for (TCase c : {TCase{false, true, false}, TCase{true, false, false}, TCase{true, true, true}}) {
    link->prepare = c.prepare;
    link->start = c.start;
    tree->StartEditing();
    EXPECT_EQ(tree->States().Contains(tsEditing), c.editing) << c.prepare << c.start;
    EXPECT_EQ(tree->EditLink() != nullptr, c.editing) << "released when the edit did not start";
  }
  link->commit = false;
  EXPECT_FALSE(tree->EndEditing());
  EXPECT_TRUE(tree->States().Contains(tsEditing));
  link->abort = false;
  EXPECT_FALSE(tree->CancelEditing());
  link->commit = true;
  EXPECT_TRUE(tree->EndEditing());
  EXPECT_EQ(rec.edited, 1);
  EXPECT_EQ(tree->EditLink(), nullptr);
  EXPECT_EQ(link.use_count(), 2) << "only the test holds it";

  link->abort = true;
  tree->StartEditing();
  EXPECT_TRUE(tree->CancelEditing());
  EXPECT_EQ(rec.cancelled, 1);
  EXPECT_FALSE(tree->States().Contains(tsEditing));

  rec.link = nullptr;  // a handler that answers no editor
  try {
    tree->StartEditing();
    ADD_FAILURE() << "no error";
  } catch (const ELazyTreeError& e) {
    EXPECT_EQ(e.HelpContext(), 2000);
    EXPECT_EQ(e.Message(), u"Edit link must not be nil.");
  }
  EXPECT_FALSE(tree->States().Contains(tsEditing));
}

TEST_F(LazyTreeControl, FocusMovesOnlyWhenAllowedAndTheRootCountsAsNone) {
  PLazyNode a = tree->AddChild(nullptr);
  PLazyNode b = tree->AddChild(nullptr);
  tree->OnFocusChanging = EventOf<&TRecorder::FocusChanging>(&rec);
  struct TCase {
    PLazyNode target;
    bool ask, allow;
    PLazyNode focused;
    int asked;
  };
  const TCase cases[] = {
      {a, true, true, a, 1},    // asked and allowed
      {b, true, false, a, 1},   // refused
      {b, false, false, b, 0},  // not asked
      {b, true, true, b, 0},    // unchanged: nothing to ask
      {nullptr, true, true, nullptr, 1},
  };
  for (const TCase& c : cases) {
    rec.focusAsked = 0;
    rec.allowFocus = c.allow;
    tree->FocusNode(c.target, c.ask);
    EXPECT_EQ(tree->FocusedNode(), c.focused);
    EXPECT_EQ(rec.focusAsked, c.asked);
  }
  tree->FocusNode(a, false);
  tree->FocusNode(tree->RootNode(), false);
  EXPECT_EQ(tree->FocusedNode(), nullptr);
  EXPECT_EQ(tree->RangeAnchor(), nullptr);

  // A running edit that will not end keeps the focus where it is.
  tree->FocusNode(a, false);
  auto link = std::make_shared<TFakeLink>();
  rec.link = link;
  tree->OnCreateEditor = EventOf<&TRecorder::CreateEditor>(&rec);
  tree->StartEditing();
  ASSERT_TRUE(tree->States().Contains(tsEditing));
  link->commit = false;
  tree->FocusNode(b, false);
  EXPECT_EQ(tree->FocusedNode(), a);
  link->commit = true;
  tree->FocusNode(b, false);
  EXPECT_EQ(tree->FocusedNode(), b);
  EXPECT_FALSE(tree->States().Contains(tsEditing));
}

TEST_F(LazyTreeControl, CheckClickAsksStoresAndTells) {
  PLazyNode node = tree->AddChild(nullptr);
  tree->OnChecking = EventOf<&TRecorder::Checking>(&rec);
  tree->OnChecked = EventOf<&TRecorder::Checked>(&rec);
  rec.allowCheck = false;
  tree->ApplyCheckClick(node, csCheckedNormal);
  EXPECT_EQ(node->CheckState, csUncheckedNormal);
  rec.allowCheck = true;
  tree->ApplyCheckClick(node, csCheckedNormal);
  tree->ApplyCheckClick(node, csCheckedNormal);  // unchanged: no second notice
  EXPECT_EQ(node->CheckState, csCheckedNormal);
  EXPECT_EQ(rec.checked, 1);
  tree->Options.ReadOnly = true;
  tree->ApplyCheckClick(node, csUncheckedNormal);
  EXPECT_EQ(node->CheckState, csCheckedNormal);
}

TEST_F(LazyTreeControl, OffsetsClampToTheRangesAndOnlyRealMovesScroll) {
  tree->SetBounds(0, 0, 200, 100);
  tree->OnScroll = EventOf<&TRecorder::Scrolled>(&rec);
  // Ranges of 500 by 1000 pixels: one shown column, fifty 20-pixel rows.
  tree->SetDefaultNodeHeight(20);
  TLTHeader* header = tree->HeaderObject();
  header->Columns()->Add()->SetWidth(500);
  header->SetOptions(header->Options() + TLTHeaderOptions{hoVisible});
  for (int i = 0; i < 50; ++i) tree->AddChild(nullptr);
  ASSERT_EQ(tree->RangeX, 500);
  ASSERT_EQ(tree->RangeY, 1000);
  const int maxX = tree->ClientWidth() - 500;
  const int maxY = tree->ClientHeight() - 1000;
  struct TCase {
    TPoint to;
    bool moved;
    int x, y;
  };
  const TCase cases[] = {
      {{-50, -60}, true, -50, -60},
      {{-50, -60}, false, -50, -60},         // equal: no notice
      {{-10000, -10000}, true, maxX, maxY},  // beyond the ranges: clamped
      {{40, 40}, true, 0, 0},                // never above 0
  };
  int notices = 0;
  for (const TCase& c : cases) {
    EXPECT_EQ(tree->SetOffsetXY(c.to), c.moved);
    EXPECT_EQ(tree->OffsetX(), c.x);
    EXPECT_EQ(tree->OffsetY(), c.y);
    notices += c.moved ? 1 : 0;
  }
  ASSERT_EQ(static_cast<int>(rec.scrolls.size()), notices);
  EXPECT_EQ(rec.scrolls[1], std::make_pair(maxX + 50, maxY + 60));  // the clamped move
  tree->SetOffsetXY(TPoint{-5, -5});
  tree->Clear();
  EXPECT_EQ(tree->OffsetX(), 0);
  EXPECT_EQ(tree->OffsetY(), 0);
}

// A tree whose scrolling part answers fixed directions and rectangles.
class TScriptedTree : public TBaseLazyTree {
 public:
  using TBaseLazyTree::TBaseLazyTree;
  uint8_t directions = 0;

 protected:
  uint8_t DetermineScrollDirections(int, int) override { return directions; }
  TRect GetDisplayRect(PLazyNode, TColumnIndex, bool, bool, bool) override {
    return TRect{10, 20, 110, 40};
  }
};

TEST_F(LazyTreeControl, AutoScrollStartsAndStopsItsTimer) {
  auto* scripted = New<TScriptedTree>(form);
  scripted->SetParent(form);
  scripted->Handle();
  struct TCase {
    uint8_t directions;
    TLazyTreeStates before;
    bool timer;
    bool pending;
  };
  const TCase cases[] = {
      {TBaseLazyTree::sdDown, {}, true, true},                  // starts after the delay
      {TBaseLazyTree::sdUp, {}, true, true},                    // already pending: unchanged
      {0, {}, false, false},                                    // nothing left: stops
      {TBaseLazyTree::sdLeft, {tsWheelPanning}, false, false},  // panning owns the view
  };
  for (const TCase& c : cases) {
    scripted->DoStateChange(c.before);
    scripted->directions = c.directions;
    scripted->UpdateAutoScroll(5, 5);
    EXPECT_EQ(scripted->ScrollDirections(), c.directions);
    EXPECT_EQ(scripted->TimerRunning(ScrollTimer), c.timer);
    EXPECT_EQ(scripted->States().Contains(tsScrollPending), c.pending);
  }
}

TEST_F(LazyTreeControl, ContentMarginsComeFromTheCellPaintQuery) {
  auto* scripted = New<TScriptedTree>(form);
  scripted->SetParent(form);
  PLazyNode node = scripted->AddChild(nullptr);
  EXPECT_EQ(scripted->GetCellContentMargin(node, 0, 0).x, 0) << "no handler: no margin";
  scripted->OnBeforeCellPaint = EventOf<&TRecorder::Margins>(&rec);
  struct TCase {
    int kind;
    LONG x, y;
  };
  for (TCase c : {TCase{0, 4, 6}, TCase{1, 1, 2}, TCase{2, 3, 4}}) {
    const TPoint margin = scripted->GetCellContentMargin(node, 0, c.kind);
    EXPECT_EQ(margin.x, c.x) << c.kind;
    EXPECT_EQ(margin.y, c.y) << c.kind;
  }
}

TEST_F(LazyTreeControl, ColumnResizeRemeasuresWrappedNodesOnly) {
  tree->OnColumnResize = EventOf<&TRecorder::Resized>(&rec);
  struct TCase {
    uint16_t states;
    bool stillMeasured;
  };
  const TCase cases[] = {
      {nsInitialized | nsMultiline | nsHeightMeasured, false},
      {nsInitialized | nsHeightMeasured, true},
      {nsMultiline | nsHeightMeasured, true},  // never initialised
  };
  std::vector<PLazyNode> nodes;
  for (const TCase& c : cases) {
    PLazyNode n = tree->AddChild(nullptr);
    n->Include(c.states);
    nodes.push_back(n);
  }
  tree->DoColumnResize(1);
  for (size_t i = 0; i < nodes.size(); ++i)
    EXPECT_EQ(nodes[i]->Has(nsHeightMeasured), cases[i].stillMeasured) << i;
  EXPECT_EQ(rec.resized, std::vector<TColumnIndex>{1});
}

TEST_F(LazyTreeControl, HintAnimationKeepsChosenKinds) {
  for (THintAnimationType kind : {hatNone, hatSlide, hatFade}) {
    tree->HintAnimation = kind;
    EXPECT_EQ(tree->GetHintAnimation(), kind);  // every x86-64 processor has MMX
  }
  tree->HintAnimation = hatSystemDefault;
  EXPECT_NE(tree->GetHintAnimation(), hatSystemDefault) << "resolved from the system settings";
}

TEST_F(LazyTreeControl, DropTargetWithChildrenIsExpanded) {
  PLazyNode target = tree->AddChild(nullptr);
  tree->AddChild(target);
  tree->AddChild(target);
  const uint32_t visible = tree->VisibleNodeCount();
  tree->SetDropTargetNode(target);
  tree->ExpandDropTarget();
  EXPECT_TRUE(target->Has(nsExpanded));
  EXPECT_EQ(tree->VisibleNodeCount(), visible + 2);
  EXPECT_EQ(target->TotalHeight, 3u * target->NodeHeight);
  tree->ExpandDropTarget();  // already open: stays open
  EXPECT_TRUE(target->Has(nsExpanded));
}

// The control with its window: delayed notices on real timers, expansion
// through the drop target, updates with the redraw switch; the store's
// aggregates hold after every step.
TEST_F(LazyTreeControl, InvariantsHoldWithTheWindowAttached) {
  tree->OnStructureChange = EventOf<&TRecorder::Structure>(&rec);
  tree->ChangeDelay = 60000;
  std::mt19937 rng(5);
  auto pick = [&]() -> PLazyNode {
    const uint32_t total = tree->RootNode()->TotalCount - 1;
    if (total == 0) return nullptr;
    uint32_t k = rng() % total;
    PLazyNode n = tree->GetFirstNoInit();
    while (k-- > 0 && n) n = tree->GetNextNoInit(n);
    return n;
  };
  bool consecutive = true;
  for (int step = 0; step < 400; ++step) {  // bounded
    PLazyNode node = pick();
    switch (rng() % 9) {
      case 0:
      case 1:
        tree->AddChild(node);
        break;
      case 2:
        tree->SetChildCount(node, rng() % 4);
        break;
      case 3:
        tree->DeleteNode(node, true);
        break;
      case 4:
        tree->DeleteNode(node, false);
        consecutive = consecutive && node == nullptr;
        break;
      case 5:
        tree->SetDropTargetNode(node);
        tree->ExpandDropTarget();
        break;
      case 6:
        if (tree->UpdateCount() < 2) tree->BeginUpdate();
        break;
      case 7:
        if (tree->UpdateCount() > 0) tree->EndUpdate();
        break;
      default:
        SendMessageW(tree->Handle(), WM_TIMER, StructureChangeTimer, 0);
        break;
    }
    const std::string error =
        test::CheckTreeInvariants(*tree, static_cast<TObject*>(tree), consecutive);
    ASSERT_EQ(error, "") << "step " << step;
    if (tree->RootNode()->TotalCount > 300) {
      tree->Clear();
      consecutive = true;
    }
  }
  while (tree->UpdateCount() > 0) tree->EndUpdate();
  SendMessageW(tree->Handle(), WM_TIMER, StructureChangeTimer, 0);
  EXPECT_FALSE(tree->States().Contains(tsStructureChangePending));
  EXPECT_FALSE(rec.structureNodes.empty());
}

TEST_F(LazyTreeControl, TheValidationThreadReportsThroughTheWindow) {
  tree->BeginUpdate();
  tree->SetChildCount(nullptr, 2001);
  tree->EndUpdate();
  // The thread's state messages arrive through the window procedure.
  ASSERT_TRUE(test::PumpUntil([&] { return tree->States().Contains(tsUseCache); }, 20000));
  ASSERT_EQ(tree->PositionCache().size(), 2u);
  EXPECT_EQ(tree->PositionCache()[1].Node, tree->GetLastChildNoInit(nullptr));
  EXPECT_FALSE(tree->States().Contains(tsValidating));
  int top = 0;
  EXPECT_EQ(tree->GetNodeAt(0, 18 * 2000 + 17, false, top), tree->GetLastChildNoInit(nullptr));
  EXPECT_EQ(top, 18 * 2000);
  // A change halts, the thread fills again and reports again.
  tree->DeleteNode(tree->GetFirstChildNoInit(nullptr));
  EXPECT_FALSE(tree->States().Contains(tsUseCache));
  ASSERT_TRUE(test::PumpUntil(
      [&] { return !tree->States().Contains(tsValidating) && tree->VisibleNodeCount() == 2000; },
      20000));
  EXPECT_FALSE(tree->States().Contains(tsUseCache)) << "2000 visible nodes: no entries";
}

TEST_F(LazyTreeControl, ATreeDestroyedWhileItsFillIsQueued) {
  tree->BeginUpdate();
  tree->SetChildCount(nullptr, 200000);
  tree->EndUpdate();
  // Freed without pumping: the halt serves the thread's messages itself.
  classlib::Free(form);
  form = nullptr;
  EXPECT_EQ(TWorkerThread::Instance(), nullptr) << "the last tree ended the thread";
}

TEST_F(LazyTreeControl, FocusNodeUnderAutoExpand) {
  PLazyNode top[3];
  PLazyNode kid[3];
  for (int i = 0; i < 3; ++i) {
    top[i] = tree->AddChild(nullptr);
    kid[i] = tree->AddChild(top[i]);
  }
  tree->AddChild(kid[1]);
  struct TCase {
    const char* name;
    bool autoExpand;
    PLazyNode focus;
    std::vector<bool> expanded;  // top[0..2], kid[1]
  } cases[] = {
      {"focus expands", true, top[0], {true, false, false, false}},
      {"a sibling collapses the old one", true, top[1], {false, true, false, false}},
      {"a child leaves its expanded parent", true, kid[1], {false, true, false, true}},
      {"without the option nothing toggles", false, top[2], {false, true, false, true}},
      {"a collapsed old sibling stays as it is", true, top[0], {true, true, false, true}},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    tree->Options.AutoExpand = c.autoExpand;
    tree->FocusNode(c.focus, false);
    EXPECT_EQ(tree->FocusedNode(), c.focus);
    const std::vector<bool> got{top[0]->Has(nsExpanded), top[1]->Has(nsExpanded),
                                top[2]->Has(nsExpanded), kid[1]->Has(nsExpanded)};
    EXPECT_EQ(got, c.expanded);
    ASSERT_EQ(test::CheckTreeInvariants(*tree, static_cast<TObject*>(tree), true), "");
  }
}

// Every node's text is as wide as told.
class TMeasuredTree : public TBaseLazyTree {
 public:
  using TBaseLazyTree::TBaseLazyTree;
  int textWidth = 30;
  int GetNodeWidth(PLazyNode, TColumnIndex, TCanvas*) override { return textWidth; }
};

// Two top-level nodes, the first expanded with one child; 18-pixel rows.
class CellGeometry : public LazyTreeControl {
 protected:
  void SetUp() override {
    LazyTreeControl::SetUp();
    measured = New<TMeasuredTree>(form);
    measured->SetParent(form);
    measured->SetBounds(0, 0, 300, 200);
    a = measured->AddChild(nullptr);
    a1 = measured->AddChild(a);
    b = measured->AddChild(nullptr);
    measured->ToggleNode(a);
    showRoot = measured->TreeOptions()->PaintOptions().Contains(toShowRoot) ? 1 : 0;
  }
  void AddColumns() {
    TLazyTreeColumns* columns = measured->HeaderObject()->Columns();
    columns->Add()->SetWidth(100);
    columns->Add()->SetWidth(150);
  }
  TMeasuredTree* measured = nullptr;
  PLazyNode a = nullptr;
  PLazyNode a1 = nullptr;
  PLazyNode b = nullptr;
  int showRoot = 0;
};

TEST_F(CellGeometry, DisplayRectTable) {
  AddColumns();
  TLazyTreeColumns* columns = measured->HeaderObject()->Columns();
  const int client = measured->ClientWidth();
  const int lead1 = 4 + 18 * (1 + showRoot);  // a1: margin and its levels
  struct TCase {
    const char* name;
    TColumnIndex column;
    TAlignment alignment;  // of column 1
    int textWidth;
    bool textOnly, unclipped;
    TRect expected;
  } cases[] = {
      {"the whole row", NoColumn, TAlignment::taLeftJustify, 30, false, false,
       TRect{0, 18, client, 36}},
      {"the text after the indentation", NoColumn, TAlignment::taLeftJustify, 30, true, false,
       TRect{lead1, 18, lead1 + 30, 36}},
      {"a cell ends a pixel short of the next", 1, TAlignment::taLeftJustify, 30, false, false,
       TRect{100, 18, 249, 36}},
      {"another column has no indentation", 1, TAlignment::taLeftJustify, 30, true, false,
       TRect{104, 18, 134, 36}},
      {"right-aligned", 1, TAlignment::taRightJustify, 30, true, false, TRect{219, 18, 249, 36}},
      {"centred", 1, TAlignment::taCenter, 30, true, false, TRect{161, 18, 191, 36}},
      {"wider than the cell: the cell", 1, TAlignment::taRightJustify, 300, true, false,
       TRect{104, 18, 249, 36}},
      {"unclipped from the reading start", 1, TAlignment::taRightJustify, 300, true, true,
       TRect{104, 18, 403, 36}},
      {"unclipped, left-aligned ends a pixel short", 1, TAlignment::taLeftJustify, 30, true, true,
       TRect{104, 18, 133, 36}},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    columns->Items(1)->SetAlignment(c.alignment);
    measured->textWidth = c.textWidth;
    const TRect r = measured->GetDisplayRect(a1, c.column, c.textOnly, c.unclipped);
    EXPECT_EQ(r.left, c.expected.left);
    EXPECT_EQ(r.top, c.expected.top);
    EXPECT_EQ(r.right, c.expected.right);
    EXPECT_EQ(r.bottom, c.expected.bottom);
  }
}

TEST_F(CellGeometry, DisplayRectFollowsTheOffsetsAndHiddenNodesHaveNone) {
  // A range of 1000 pixels each way: space below the rows, a wide text.
  measured->SetBottomSpace(1000 - 3 * 18);
  measured->textWidth = 1000 - 4 - 18 * (1 + showRoot);
  measured->HandleNeeded();
  measured->UpdateScrollBars(false);
  ASSERT_EQ(measured->RangeX, 1000);
  ASSERT_EQ(measured->RangeY, 1000);
  measured->SetOffsetXY(TPoint{-7, -10});
  TRect r = measured->GetDisplayRect(b, NoColumn, false);
  EXPECT_EQ(r.top, 36 - 10);
  EXPECT_EQ(r.left, -7);
  EXPECT_EQ(r.right, 1000 - 7) << "the row spans the horizontal range";
  measured->ToggleNode(a);
  r = measured->GetDisplayRect(a1, NoColumn, true);
  EXPECT_TRUE(r.left == 0 && r.top == 0 && r.right == 0 && r.bottom == 0) << "a1 is not shown";
  EXPECT_THROW(measured->GetDisplayRect(measured->RootNode(), NoColumn, false), EAssertionFailed);
  EXPECT_THROW(measured->GetDisplayRect(nullptr, NoColumn, false), EAssertionFailed);
}

TEST_F(CellGeometry, UnclippedTextGrowsALowRectangleToTheFont) {
  // The content margin query takes 2 pixels off the top and 4 off the
  // bottom: 12 of the row's 18 remain.
  measured->OnBeforeCellPaint = EventOf<&TRecorder::Margins>(&rec);
  measured->Font()->SetHeight(-40);
  const TRect r = measured->GetDisplayRect(a1, NoColumn, true, true, true);
  EXPECT_EQ(r.top, 18 + 2 - 3) << "half of 18 - 12 on each side";
  EXPECT_EQ(r.bottom, 36 - 4 + 3);
  const TRect clipped = measured->GetDisplayRect(a1, NoColumn, true, false, true);
  EXPECT_EQ(clipped.top, 18 + 2) << "only unclipped text grows";
}

TEST_F(CellGeometry, RubberBandMeetsTheContentOfTheMainColumn) {
  // Text 30 wide: a (level 0) from 4 + 18 showRoot, a1 one indent further.
  const int aLeft = 4 + 18 * showRoot;
  const int a1Left = aLeft + 18;
  measured->DoStateChange({tsDrawSelecting});
  measured->ViewOptions.MultiSelect = true;
  struct TCase {
    const char* name;
    TBandRect band;
    bool simple;
    std::vector<PLazyNode> expected;
  } cases[] = {
      {"right of a's text, over a1's", {aLeft + 31, 0, a1Left + 20, 54}, false, {a1}},
      {"over both", {a1Left, 0, a1Left + 5, 54}, false, {a, a1, b}},
      {"left of every text", {0, 0, aLeft - 1, 54}, false, {}},
      {"simple drawing: rows only", {0, 0, aLeft - 1, 54}, true, {a, a1, b}},
  };
  // The band is in tree coordinates, and so is the main column it meets:
  // scrolling sideways changes nothing.
  AddColumns();
  measured->RangeX = 1000;
  for (int offsetX : {0, -50}) {
    measured->SetOffsetXY(TPoint{offsetX, 0});
    ASSERT_EQ(measured->OffsetX(), offsetX);
    for (auto& c : cases) {
      SCOPED_TRACE(c.name);
      measured->ClearSelection();
      measured->ViewOptions.SimpleDrawSelection = c.simple;
      measured->HandleDrawSelection(TBandRect{}, c.band, false);
      std::vector<PLazyNode> selected;
      for (PLazyNode n : {a, a1, b})
        if (n->Has(nsSelected)) selected.push_back(n);
      EXPECT_EQ(selected, c.expected) << "scrolled " << offsetX;
    }
  }
}

TEST_F(CellGeometry, RubberBandSpansOnOverEmptyCells) {
  // Right-aligned in the 100-pixel main column: a's text lies at 70..100,
  // or at 220..250 when it spans the empty cell of the next column.
  AddColumns();
  TLazyTreeColumns* columns = measured->HeaderObject()->Columns();
  columns->Items(0)->SetAlignment(TAlignment::taRightJustify);
  measured->OnGetCellIsEmpty = EventOf<&TRecorder::CellEmpty>(&rec);
  measured->DoStateChange({tsDrawSelecting});
  measured->ViewOptions.MultiSelect = true;
  TCustomLazyTreeOptions* options = measured->TreeOptions();
  const TBandRect band{225, 0, 240, 10};  // a's row only
  struct TCase {
    const char* name;
    bool autoSpan, empty, selected;
  } cases[] = {
      {"without spanning", false, true, false},
      {"spanning the empty cell", true, true, true},
      {"the next cell holds something", true, false, false},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    measured->ClearSelection();
    options->SetAutoOptions(c.autoSpan
                                ? options->AutoOptions() + TLTAutoOptions{toAutoSpanColumns}
                                : options->AutoOptions() - TLTAutoOptions{toAutoSpanColumns});
    rec.cellsEmpty = c.empty;
    measured->HandleDrawSelection(TBandRect{}, band, false);
    EXPECT_EQ(a->Has(nsSelected), c.selected);
  }
}

}  // namespace
}  // namespace kelm::lazytree

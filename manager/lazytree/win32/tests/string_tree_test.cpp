// The string tree under Wine: cell texts, the cached main-column widths and
// what clears them, the stored form's extra properties, the property
// setters' reactions, the draw tree's owner queries, and the manager's
// snapshot list read from its form text.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "classlib/classdef.h"
#include "classlib/filer.h"
#include "classlib/forms.h"
#include "classlib/streams.h"
#include "classlib/textform.h"
#include "lazytree/lazy_string_tree.h"
#include "message_pump.h"

namespace kelm::lazytree {
namespace {

using classlib::EventOf;
using classlib::New;
using classlib::TForm;

// The owner's texts: per node and column; unlisted cells keep what they got.
class TTexts : public TObject {
 public:
  std::map<std::pair<PLazyNode, TColumnIndex>, std::u16string> cells;
  int asked = 0;
  void GetText(TBaseLazyTree*, PLazyNode node, TColumnIndex column, TLTTextType,
               std::u16string& text) {
    ++asked;
    auto it = cells.find({node, column});
    if (it != cells.end()) text = it->second;
  }
  std::vector<std::u16string> newTexts;
  void NewText(TBaseLazyTree*, PLazyNode node, TColumnIndex column, const std::u16string& text) {
    newTexts.push_back(text);
    cells[{node, column}] = text;
  }
};

// The pixel width of text in a font, measured apart from the tree.
int Extent(classlib::TFont* font, const std::u16string& text) {
  HDC screen = GetDC(nullptr);
  HDC dc = CreateCompatibleDC(screen);
  ReleaseDC(nullptr, screen);
  HGDIOBJ old = SelectObject(dc, font->Handle());
  SIZE size{};
  GetTextExtentPoint32W(dc, reinterpret_cast<const wchar_t*>(text.data()),
                        static_cast<int>(text.size()), &size);
  SelectObject(dc, old);
  DeleteDC(dc);
  return size.cx;
}

class StringTree : public ::testing::Test {
 protected:
  void SetUp() override {
    form = New<TForm>(nullptr, 0);
    tree = New<TLazyStringTree>(form);
    tree->SetParent(form);
    tree->SetBounds(0, 0, 300, 200);
    form->Show();
    ASSERT_NE(tree->Handle(), nullptr);
  }
  void TearDown() override {
    if (form) classlib::Free(form);
  }
  int Width(const std::u16string& text) {
    return 2 * tree->TextMargin + Extent(tree->Font(), text);
  }

  TTexts texts;
  TForm* form = nullptr;
  TLazyStringTree* tree = nullptr;
};

TEST_F(StringTree, CellsStartFromDefaultTextAndTheWidthSlotComesFirst) {
  EXPECT_EQ(tree->InternalDataSize(), 4u) << "reserved before any node";
  PLazyNode node = tree->AddChild(nullptr);
  EXPECT_EQ(reinterpret_cast<uint8_t*>(tree->TextWidthSlot(node)),
            reinterpret_cast<uint8_t*>(node) + sizeof(TLazyNode));
  EXPECT_EQ(tree->TextWidthSlot(tree->RootNode()), nullptr);
  EXPECT_EQ(tree->TextWidthSlot(nullptr), nullptr);
  EXPECT_EQ(tree->GetText(node, NoColumn), u"Node") << "no handler: the default text";
  EXPECT_EQ(tree->GetNodeWidth(node, NoColumn, nullptr), Width(u"Node"));
  tree->SetDefaultText(u"");
  EXPECT_EQ(tree->GetText(node, NoColumn), u"");
  EXPECT_TRUE(tree->CellIsEmpty(node, NoColumn));
  EXPECT_THROW(tree->GetText(nullptr, NoColumn), classlib::EAssertionFailed);

  tree->OnGetText = EventOf<&TTexts::GetText>(&texts);
  texts.cells[{node, NoColumn}] = u"Snapshot";
  EXPECT_EQ(tree->GetText(node, NoColumn), u"Snapshot");
  EXPECT_FALSE(tree->CellIsEmpty(node, NoColumn));
  EXPECT_GT(tree->TextHeight(), 0);
  EXPECT_EQ(tree->EllipsisWidth(), Extent(tree->Font(), u"..."));
}

TEST_F(StringTree, MainColumnWidthsAreCachedUntilSomethingClearsThem) {
  tree->OnGetText = EventOf<&TTexts::GetText>(&texts);
  tree->OnNewText = EventOf<&TTexts::NewText>(&texts);
  PLazyNode node = tree->AddChild(nullptr);
  texts.cells[{node, NoColumn}] = u"short";
  ASSERT_EQ(tree->GetNodeWidth(node, NoColumn, nullptr), Width(u"short"));
  // The owner's text changes behind the tree's back: the cache holds.
  texts.cells[{node, NoColumn}] = u"a much longer text";
  EXPECT_EQ(tree->GetNodeWidth(node, NoColumn, nullptr), Width(u"short"));

  struct TCase {
    const char* name;
    std::u16string text;
    std::function<void()> clear;
  };
  const std::vector<TCase> cases = {
      {"SetText", u"set through the tree",
       [&] { tree->SetText(node, NoColumn, u"set through the tree"); }},
      {"SetText inside an update", u"inside an update",
       [&] {
         tree->BeginUpdate();
         tree->SetText(node, NoColumn, u"inside an update");
         EXPECT_EQ(tree->GetNodeWidth(node, NoColumn, nullptr), Width(u"inside an update"));
         tree->EndUpdate();
       }},
      {"a new font", u"after a new font",
       [&] {
         texts.cells[{node, NoColumn}] = u"after a new font";
         tree->Font()->SetSize(tree->Font()->Size() + 6);
       }},
      {"re-initialising the node", u"re-initialised",
       [&] {
         texts.cells[{node, NoColumn}] = u"re-initialised";
         tree->ReinitNode(node, false);
       }},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    c.clear();
    EXPECT_EQ(tree->GetNodeWidth(node, NoColumn, nullptr), Width(c.text));
  }
  EXPECT_EQ(texts.newTexts,
            (std::vector<std::u16string>{u"set through the tree", u"inside an update"}));
}

TEST_F(StringTree, ColumnsMeasureEachTimeAndAMainColumnChangeClearsTheCache) {
  tree->OnGetText = EventOf<&TTexts::GetText>(&texts);
  TLTHeader* header = tree->HeaderObject();
  header->Columns()->Add()->SetWidth(100);
  header->Columns()->Add()->SetWidth(150);
  PLazyNode node = tree->AddChild(nullptr);
  texts.cells[{node, 0}] = u"first";
  texts.cells[{node, 1}] = u"second";
  ASSERT_EQ(tree->GetNodeWidth(node, 0, nullptr), Width(u"first"));
  ASSERT_EQ(tree->GetNodeWidth(node, 1, nullptr), Width(u"second"));
  texts.cells[{node, 0}] = u"first, longer";
  texts.cells[{node, 1}] = u"second, longer";
  EXPECT_EQ(tree->GetNodeWidth(node, 1, nullptr), Width(u"second, longer")) << "not cached";
  EXPECT_EQ(tree->GetNodeWidth(node, 0, nullptr), Width(u"first")) << "the main column's cache";
  header->SetMainColumn(1);
  header->SetMainColumn(0);
  EXPECT_EQ(tree->GetNodeWidth(node, 0, nullptr), Width(u"first, longer"));

  node->Include(nsMultiline);
  EXPECT_EQ(tree->GetNodeWidth(node, 1, nullptr), 150) << "a multi-line node fills its column";
  EXPECT_GT(tree->ComputeNodeHeight(nullptr, node, 1,
                                    u"a text long enough to wrap at least once "
                                    u"in a column a hundred and fifty wide"),
            tree->TextHeight());
}

TEST_F(StringTree, HitsFollowTheNewTextAfterSetText) {
  tree->OnGetText = EventOf<&TTexts::GetText>(&texts);
  tree->OnNewText = EventOf<&TTexts::NewText>(&texts);
  PLazyNode node = tree->AddChild(nullptr);
  texts.cells[{node, NoColumn}] = u"ab";
  TBaseLazyTree::THitInfo info;
  const int lead = tree->Margin + (tree->TreeOptions()->PaintOptions().Contains(toShowRoot)
                                       ? static_cast<int>(tree->Indent)
                                       : 0);
  const int x = lead + Width(u"ab") + 20;
  tree->GetHitTestInfoAt(x, 5, true, info);
  EXPECT_EQ(info.HitPositions, uint32_t(TBaseLazyTree::HitOnItem | TBaseLazyTree::HitRightOfLabel));
  tree->SetText(node, NoColumn, u"a text well past the old end");
  tree->GetHitTestInfoAt(x, 5, true, info);
  EXPECT_EQ(info.HitPositions, uint32_t(TBaseLazyTree::HitOnItem | TBaseLazyTree::HitOnLabel));
}

std::vector<uint8_t> Save(classlib::TComponent* root) {
  classlib::TMemoryStream m;
  classlib::TWriter w(m);
  w.WriteRootComponent(root);
  return m.Bytes();
}

void Load(classlib::TComponent* root, const std::vector<uint8_t>& bytes) {
  classlib::TResourceStream in(bytes.data(), static_cast<int64_t>(bytes.size()));
  classlib::TReader reader(in);
  reader.ReadRootComponent(root);
}

std::string ToText(const std::vector<uint8_t>& bytes) {
  classlib::TResourceStream in(bytes.data(), static_cast<int64_t>(bytes.size()));
  classlib::TStringStream out;
  classlib::ObjectBinaryToText(in, out);
  return out.DataString();
}

std::vector<uint8_t> ToBinary(const std::string& text) {
  classlib::TStringStream in(text);
  classlib::TMemoryStream out;
  classlib::ObjectTextToBinary(in, out);
  return out.Bytes();
}

TEST_F(StringTree, StoredFormKeepsDefaultTextAndReadsOldStringOptions) {
  TLazyStringTree* src = New<TLazyStringTree>(nullptr);
  std::string text = ToText(Save(src));
  EXPECT_EQ(text.find("WideDefaultText"), std::string::npos) << "\"Node\" is not stored";
  src->SetDefaultText(u"\u0423\u0437\u0435\u043B");
  src->SetTextMargin(7);
  src->SetNodeAlignment(TBaseLazyTree::naFromTop);
  src->SetLineStyle(TBaseLazyTree::lsSolid);
  src->SetAnimationDuration(0);
  src->SelectionBlendFactor = 100;
  text = ToText(Save(src));
  for (const char* line : {"  LineStyle = lsSolid\r\n", "  AnimationDuration = 0\r\n",
                           "  SelectionBlendFactor = 100\r\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line << text;
  EXPECT_EQ(text.find("DragWidth"), std::string::npos) << "defaults are not stored";
  EXPECT_NE(text.find("WideDefaultText"), std::string::npos) << text;
  EXPECT_NE(text.find("  TextMargin = 7\r\n"), std::string::npos) << text;
  EXPECT_NE(text.find("  NodeAlignment = naFromTop\r\n"), std::string::npos) << text;
  TLazyStringTree* copy = New<TLazyStringTree>(nullptr);
  Load(copy, ToBinary(text));
  EXPECT_EQ(copy->DefaultText(), src->DefaultText());
  EXPECT_EQ(copy->TextMargin, 7);
  EXPECT_EQ(copy->NodeAlignment, TBaseLazyTree::naFromTop);
  EXPECT_EQ(copy->LineStyle(), TBaseLazyTree::lsSolid);
  EXPECT_EQ(copy->AnimationDuration(), 0u);
  EXPECT_EQ(copy->SelectionBlendFactor, 100);
  classlib::Free(copy);
  classlib::Free(src);

  // An 8-bit value and the old set of string options.
  const std::string old =
      "object T: TLazyStringTree\r\n"
      "  WideDefaultText = 'plain'\r\n"
      "  StringOptions = [soShowStaticText]\r\n"
      "end\r\n";
  copy = New<TLazyStringTree>(nullptr);
  Load(copy, ToBinary(old));
  EXPECT_EQ(copy->DefaultText(), u"plain");
  EXPECT_EQ(copy->StringOptions(), TLTStringOptions{toShowStaticText});
  classlib::Free(copy);
}

TEST_F(StringTree, AStoredRootCountIsMadeWhenLoadingEndsEvenReadOnly) {
  struct TCase {
    const char* name;
    const char* misc;
  } cases[] = {
      {"plain",
       "[toAcceptOLEDrop, toFullRepaintOnResize, toInitOnSave, toToggleOnDblClick, "
       "toWheelPanning, toEditOnClick]"},
      {"read-only", "[toReadOnly, toFullRepaintOnResize]"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string text = std::string("object T: TLazyStringTree\r\n") +
                             "  RootNodeCount = 4\r\n" + "  TreeOptions.MiscOptions = " + c.misc +
                             "\r\n" + "end\r\n";
    TLazyStringTree* copy = New<TLazyStringTree>(nullptr);
    Load(copy, ToBinary(text));
    EXPECT_FALSE(copy->States().Contains(tsNeedRootCountUpdate));
    EXPECT_EQ(copy->RootNodeCount(), 4u);
    uint32_t made = 0;
    for (PLazyNode n = copy->GetFirstNoInit(); n; n = copy->GetNextNoInit(n)) ++made;
    EXPECT_EQ(made, 4u) << "real nodes, not only the count";
    EXPECT_EQ(copy->UpdateCount(), 0u);
    classlib::Free(copy);
  }
}

TEST_F(StringTree, BorderStyleAndCtl3DChooseTheWindowFrame) {
  struct TCase {
    classlib::TBorderStyle border;
    bool ctl3D;
    bool clientEdge, thinBorder;
  } cases[] = {
      {classlib::TBorderStyle::bsSingle, true, true, false},
      {classlib::TBorderStyle::bsSingle, false, false, true},
      {classlib::TBorderStyle::bsNone, true, false, false},
      {classlib::TBorderStyle::bsNone, false, false, false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.border) * 2 + (c.ctl3D ? 1 : 0));
    tree->SetCtl3D(c.ctl3D);
    tree->SetBorderStyle(c.border);
    tree->RecreateWnd();
    tree->HandleNeeded();
    const LONG style = GetWindowLongW(tree->Handle(), GWL_STYLE);
    const LONG exStyle = GetWindowLongW(tree->Handle(), GWL_EXSTYLE);
    EXPECT_EQ((exStyle & WS_EX_CLIENTEDGE) != 0, c.clientEdge);
    EXPECT_EQ((style & WS_BORDER) != 0, c.thinBorder);
  }
}

TEST_F(StringTree, NodeDataSizeRemakesTheNodes) {
  // Below -1 means -1: ask the owner (on a tree without nodes, still unasked).
  tree->SetNodeDataSizeValue(8);
  tree->SetNodeDataSizeValue(-5);
  EXPECT_EQ(tree->NodeDataSize(), -1);
  for (int i = 0; i < 10; ++i) tree->AddChild(nullptr);
  PLazyNode first = tree->GetFirst();
  first->Include(nsSelected);  // a mark the fresh nodes do not have
  tree->SetNodeDataSizeValue(16);
  EXPECT_EQ(tree->NodeDataSize(), 16);
  EXPECT_EQ(tree->RootNodeCount(), 10u);
  for (PLazyNode n = tree->GetFirst(); n; n = tree->GetNextSibling(n))
    EXPECT_FALSE(n->Has(nsSelected));
}

// Records focus changes and may refuse a column.
class TFocusLog : public TObject {
 public:
  bool allow = true;
  std::vector<TColumnIndex> changed;
  void Changing(TBaseLazyTree*, PLazyNode, PLazyNode, TColumnIndex, TColumnIndex, bool& allowed) {
    allowed = allowed && allow;
  }
  void Changed(TBaseLazyTree*, PLazyNode, TColumnIndex column) { changed.push_back(column); }
};

TEST_F(StringTree, SettersKeepTheirRulesAndEdgeCases) {
  TCustomLazyTreeOptions* o = tree->TreeOptions();
  o->SetAnimationOptions(TLTAnimationOptions{toAnimatedToggle, toAdvancedAnimatedToggle});
  tree->SetAnimationDuration(0);
  EXPECT_EQ(o->AnimationOptions(), TLTAnimationOptions{toAdvancedAnimatedToggle})
      << "only the toggle's animation goes";
  tree->SetAnimationDuration(150);
  EXPECT_TRUE(o->AnimationOptions().Contains(toAnimatedToggle));

  tree->SetAutoScrollInterval(0);
  EXPECT_EQ(tree->AutoScrollInterval, 1u);
  tree->SetAutoScrollInterval(5000);
  EXPECT_EQ(tree->AutoScrollInterval, 1000u);

  // Custom check images: none without a list; the list's removal falls back.
  tree->SetCheckImageKind(TBaseLazyTree::ckCustom);
  EXPECT_EQ(tree->CheckImages, nullptr);
  auto* custom = New<classlib::TImageList>(form);
  tree->SetCustomCheckImages(custom);
  EXPECT_EQ(tree->CheckImages, custom);
  classlib::Free(custom);
  EXPECT_EQ(tree->CustomCheckImages(), nullptr);
  EXPECT_EQ(tree->CheckImages, nullptr);
  EXPECT_EQ(tree->CheckImageKind(), TBaseLazyTree::ckSystemDefault);

  auto* images = New<classlib::TImageList>(form);
  tree->SetImages(images);
  classlib::Free(images);
  EXPECT_EQ(tree->Images, nullptr) << "a removed list is forgotten";

  // Switching the search off stops its timer.
  struct TSearchTree : TLazyStringTree {
    using TLazyStringTree::TLazyStringTree;
    void StartSearchTimer() { StartTimer(SearchTimer, 60000); }
  };
  auto* search = New<TSearchTree>(form);
  search->SetParent(form);
  search->HandleNeeded();
  search->SetIncrementalSearch(TBaseLazyTree::isAll);
  search->StartSearchTimer();
  ASSERT_TRUE(search->TimerRunning(SearchTimer));
  search->SetIncrementalSearch(TBaseLazyTree::isNone);
  EXPECT_FALSE(search->TimerRunning(SearchTimer));
  EXPECT_TRUE(search->SearchText().empty());
}

TEST_F(StringTree, FocusedColumnOnlyWhereTheFocusMayGo) {
  TLTHeader* header = tree->HeaderObject();
  for (int i = 0; i < 3; ++i) header->Columns()->Add()->SetWidth(100);
  TLazyTreeColumn* locked = header->Columns()->Items(2);
  locked->SetOptions(locked->Options() - TLTColumnOptions{coAllowFocus});
  TFocusLog log;
  tree->OnFocusChanging = EventOf<&TFocusLog::Changing>(&log);
  tree->OnFocusChanged = EventOf<&TFocusLog::Changed>(&log);
  tree->SetFocusedColumn(0);
  ASSERT_EQ(tree->FocusedColumn(), 0);
  log.changed.clear();
  struct TCase {
    TColumnIndex to;
    bool allow;
    TColumnIndex expected;
  } cases[] = {
      {1, true, 1},  {1, true, 1},  // unchanged: no notice
      {2, true, 1},                 // may not take the focus
      {7, true, 1},                 // no such column
      {0, false, 1},                // the handler refuses
      {0, true, 0},
  };
  for (const TCase& c : cases) {
    log.allow = c.allow;
    tree->SetFocusedColumn(c.to);
    EXPECT_EQ(tree->FocusedColumn(), c.expected) << c.to;
  }
  EXPECT_EQ(log.changed, (std::vector<TColumnIndex>{1, 0}));
}

TEST_F(StringTree, TopAndBottomNodeMoveTheView) {
  tree->SetDefaultNodeHeight(20);
  std::vector<PLazyNode> nodes(40);
  for (PLazyNode& n : nodes) n = tree->AddChild(nullptr);
  PLazyNode hidden = tree->AddChild(nodes[30]);
  tree->SetTopNode(nodes[10]);
  EXPECT_EQ(tree->GetDisplayRect(nodes[10], NoColumn, false).top, 0);
  tree->SetBottomNode(nodes[25]);
  EXPECT_EQ(tree->GetDisplayRect(nodes[25], NoColumn, false).bottom, tree->ClientHeight());
  tree->SetTopNode(hidden);
  EXPECT_TRUE(nodes[30]->Has(nsExpanded)) << "its parent opened first";
  EXPECT_EQ(tree->GetDisplayRect(hidden, NoColumn, false).top, 0);
}

// The draw tree asks its owner for widths and margins.
class TOwnerQueries : public TObject {
 public:
  void Width(TCustomLazyDrawTree*, TCanvas*, PLazyNode, TColumnIndex column, int& width) {
    width = 100 + column;
  }
  void Margin(TCustomLazyDrawTree*, TCanvas*, PLazyNode, TColumnIndex, int kind, TPoint& margin) {
    margin = TPoint{kind, 2 * kind};
  }
};

TEST_F(StringTree, DrawTreeAsksItsOwner) {
  auto* draw = New<TCustomLazyDrawTree>(form);
  draw->SetParent(form);
  PLazyNode node = draw->AddChild(nullptr);
  EXPECT_EQ(draw->GetNodeWidth(node, NoColumn, nullptr), 2 * draw->TextMargin);
  EXPECT_EQ(draw->GetCellContentMargin(node, NoColumn, 1).x, 0);
  TOwnerQueries owner;
  draw->OnQueryNodeWidth = EventOf<&TOwnerQueries::Width>(&owner);
  draw->OnQueryContentMargin = EventOf<&TOwnerQueries::Margin>(&owner);
  EXPECT_EQ(draw->GetNodeWidth(node, 2, nullptr), 102);
  const TPoint m = draw->GetCellContentMargin(node, NoColumn, 2);
  EXPECT_EQ(m.x, 2);
  EXPECT_EQ(m.y, 4);
}

// The snapshot list of the manager's main window, as its form text has it.
class TSnapshotForm : public TForm {
  CL_DECLARE_CLASS(TSnapshotForm, TForm)
 public:
  using TForm::TForm;
  std::vector<std::string> calls;
  void SnapshotTreeGetText(TBaseLazyTree*, PLazyNode node, TColumnIndex column, TLTTextType type,
                           std::u16string& text) {
    text.clear();
    if (type != ttNormal) return;
    const auto* number = static_cast<const uint32_t*>(
        static_cast<TLazyStringTree*>(FindComponent("SnapshotTree"))->GetNodeData(node));
    text = u"r" + classlib::IntToStr(static_cast<int>(*number)) + u"c" + classlib::IntToStr(column);
  }
  void SnapshotTreeGetImageIndexEx(TBaseLazyTree*, PLazyNode, TLTImageKind kind,
                                   TColumnIndex column, bool&, int& index, TCustomImageList*&) {
    if ((kind == ikNormal || kind == ikSelected) && column <= 0) index = 1;
  }
  void SnapshotTreeGetNodeDataSize(TObject*, int32_t& size) { size = 152; }
  void SnapshotTreeColumnDblClick(TBaseLazyTree*, TColumnIndex, TShiftState) {
    calls.push_back("dblclick");
  }
};

CL_CLASS(TSnapshotForm) {
  c.Method<&TSnapshotForm::SnapshotTreeGetText>("SnapshotTreeGetText");
  c.Method<&TSnapshotForm::SnapshotTreeGetImageIndexEx>("SnapshotTreeGetImageIndexEx");
  c.Method<&TSnapshotForm::SnapshotTreeGetNodeDataSize>("SnapshotTreeGetNodeDataSize");
  c.Method<&TSnapshotForm::SnapshotTreeColumnDblClick>("SnapshotTreeColumnDblClick");
}

const char kSnapshotForm[] =
    "object SnapshotForm: TSnapshotForm\r\n"
    "  Left = 0\r\n"
    "  Top = 0\r\n"
    "  Width = 800\r\n"
    "  Height = 400\r\n"
    "  object ImageList32: TImageList\r\n"
    "    Height = 32\r\n"
    "    Width = 32\r\n"
    "  end\r\n"
    "  object SnapshotTree: TLazyStringTree\r\n"
    "    Left = 17\r\n"
    "    Top = 75\r\n"
    "    Width = 752\r\n"
    "    Height = 232\r\n"
    "    BorderStyle = bsNone\r\n"
    "    BorderWidth = 1\r\n"
    "    Colors.BorderColor = 4295680\r\n"
    "    DefaultNodeHeight = 25\r\n"
    "    Header.Height = 22\r\n"
    "    Header.Options = [hoColumnResize, hoDrag, hoVisible]\r\n"
    "    Header.Style = hsXPStyle\r\n"
    "    Images = ImageList32\r\n"
    "    TreeOptions.PaintOptions = [toShowBackground, toShowButtons, toShowDropmark, "
    "toShowRoot, toShowTreeLines, toThemeAware, toUseBlendedImages, toUseBlendedSelection, "
    "toStaticBackground]\r\n"
    "    TreeOptions.SelectionOptions = [toFullRowSelect, toRightClickSelect]\r\n"
    "    OnColumnDblClick = SnapshotTreeColumnDblClick\r\n"
    "    OnGetImageIndexEx = SnapshotTreeGetImageIndexEx\r\n"
    "    OnGetNodeDataSize = SnapshotTreeGetNodeDataSize\r\n"
    "    OnGetText = SnapshotTreeGetText\r\n"
    "    Columns = <\r\n"
    "      item\r\n"
    "        Position = 0\r\n"
    "        Width = 100\r\n"
    "      end\r\n"
    "      item\r\n"
    "        Position = 1\r\n"
    "        Width = 200\r\n"
    "      end\r\n"
    "      item\r\n"
    "        Position = 2\r\n"
    "        Width = 200\r\n"
    "      end\r\n"
    "      item\r\n"
    "        Position = 3\r\n"
    "        Width = 250\r\n"
    "      end>\r\n"
    "  end\r\n"
    "end\r\n";

TEST(SnapshotList, FormTextLoadsAndAnswersTextsAndHits) {
  RegisterLazyTreeClasses();
  classlib::RegisterClasses({classlib::TImageList::StaticClass()});
  auto* owner = New<TSnapshotForm>(nullptr, 0);
  Load(owner, ToBinary(kSnapshotForm));
  auto* tree = dynamic_cast<TLazyStringTree*>(owner->FindComponent("SnapshotTree"));
  ASSERT_NE(tree, nullptr);
  EXPECT_EQ(tree->BorderStyle(), classlib::TBorderStyle::bsNone);
  EXPECT_EQ(tree->BorderWidth(), 1);
  EXPECT_EQ(tree->DefaultNodeHeight(), 25u);
  EXPECT_EQ(tree->HeaderObject()->Height(), 22);
  EXPECT_EQ(tree->HeaderObject()->Columns()->Count(), 4);
  EXPECT_EQ(tree->HeaderObject()->Layout().Column(3).Width, 250);
  EXPECT_EQ(tree->Images, owner->FindComponent("ImageList32"));
  EXPECT_TRUE(tree->TreeOptions()->SelectionOptions().Contains(toFullRowSelect));
  ASSERT_TRUE(tree->OnGetText && tree->OnGetImageIndexEx && tree->OnGetNodeDataSize &&
              tree->OnColumnDblClick);

  owner->Show();
  ASSERT_NE(tree->Handle(), nullptr);
  std::vector<PLazyNode> nodes;
  for (uint32_t i = 1; i <= 5; ++i) {
    PLazyNode n = tree->AddChild(nullptr);
    *static_cast<uint32_t*>(tree->GetNodeData(n)) = i;
    nodes.push_back(n);
  }
  EXPECT_EQ(tree->NodeDataSize(), 152);
  // The width slot lies between the record and the owner's 152 bytes.
  const auto offset = static_cast<size_t>(static_cast<uint8_t*>(tree->GetNodeData(nodes[0])) -
                                          reinterpret_cast<uint8_t*>(nodes[0]));
  EXPECT_GE(offset, sizeof(TLazyNode) + 4);
  EXPECT_EQ(tree->NodeAllocationSize(), offset + 152);
  EXPECT_EQ(tree->GetText(nodes[2], 1), u"r3c1");
  EXPECT_TRUE(tree->HasImage(nodes[0], ikNormal, 0));
  EXPECT_FALSE(tree->HasImage(nodes[0], ikNormal, 2));
  tree->DoColumnDblClick(0, TShiftState{});
  EXPECT_EQ(owner->calls, std::vector<std::string>{"dblclick"});

  // A point in row 3 and column 2, counted from 0: column 2 starts at 300.
  TBaseLazyTree::THitInfo info;
  tree->GetHitTestInfoAt(310, 3 * 25 + 5, true, info);
  EXPECT_EQ(info.HitNode, nodes[3]);
  EXPECT_EQ(info.HitColumn, 2);
  EXPECT_NE(info.HitPositions & TBaseLazyTree::HitOnItem, 0u);
  classlib::Free(owner);
}

}  // namespace
}  // namespace kelm::lazytree

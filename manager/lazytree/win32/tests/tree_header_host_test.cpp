// The tree as its header's host, on a real window: the stored form with the
// header's values, the option sets and the columns; header changes that
// lay the frame out again or repaint; the main and sort columns' effects
// on the tree; the header check box; what loading an old form finishes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classlib/filer.h"
#include "classlib/forms.h"
#include "classlib/streams.h"
#include "classlib/textform.h"
#include "lazytree/base_lazy_tree.h"

namespace kelm::lazytree {
namespace {

using classlib::EventOf;
using classlib::New;
using classlib::TForm;

// Counts the frame layouts the header asks for.
class TFrameProbeTree : public TBaseLazyTree {
 public:
  using TBaseLazyTree::TBaseLazyTree;
  int frameLayouts = 0;

  void WndProc(classlib::TMessage& m) override {
    if (m.Msg == WM_NCCALCSIZE) ++frameLayouts;
    TBaseLazyTree::WndProc(m);
  }
};

class TEvents : public TObject {
 public:
  int compares = 0;
  std::vector<TColumnIndex> checkClicks;
  void Compare(TBaseLazyTree*, PLazyNode a, PLazyNode b, TColumnIndex, int& result) {
    ++compares;
    result = a->Index < b->Index ? 1 : (a->Index > b->Index ? -1 : 0);
  }
  void CheckClick(TLTHeader*, TColumnIndex column) { checkClicks.push_back(column); }
  // column, button, double, x, y
  std::vector<std::vector<int>> clicks;
  void Click(TLTHeader*, TColumnIndex column, TMouseButton button, TShiftState shift, int x,
             int y) {
    clicks.push_back(
        {column, static_cast<int>(button), shift.Contains(classlib::ssDouble) ? 1 : 0, x, y});
  }
};

class TreeHeaderHost : public ::testing::Test {
 protected:
  void SetUp() override {
    form = New<TForm>(nullptr, 0);
    tree = New<TFrameProbeTree>(form);
    tree->SetParent(form);
    ASSERT_NE(tree->Handle(), nullptr);
    form->Show();
    for (int i = 0; i < 4; ++i) Columns()->Add();
  }
  void TearDown() override {
    if (form) classlib::Free(form);
  }
  TLTHeader* Header() const { return tree->HeaderObject(); }
  TLazyTreeColumns* Columns() const { return Header()->Columns(); }
  void Settle() {
    ValidateRect(tree->Handle(), nullptr);
    tree->frameLayouts = 0;
  }
  bool ClientInvalid() { return GetUpdateRect(tree->Handle(), nullptr, FALSE) != FALSE; }

  TForm* form = nullptr;
  TFrameProbeTree* tree = nullptr;
};

TEST_F(TreeHeaderHost, HeightAndVisibilityLayTheFrameOutAgain) {
  // Without scroll bars, whose showing would lay the frame out too.
  tree->ScrollBarOptions()->SetScrollBars(TScrollStyle::ssNone);
  tree->HandleNeeded();
  Settle();
  Header()->SetHeight(17);  // equal: nothing
  EXPECT_EQ(tree->frameLayouts, 0);
  EXPECT_FALSE(ClientInvalid());

  Header()->SetHeight(30);
  EXPECT_EQ(Header()->Height(), 30);
  EXPECT_EQ(tree->frameLayouts, 1);

  Settle();
  Header()->SetOptions(Header()->Options() + TLTHeaderOptions{hoVisible});
  EXPECT_EQ(tree->frameLayouts, 1);
  EXPECT_TRUE(ClientInvalid());

  // With a window the height rule applies: at least MinHeight.
  Header()->SetHeight(2);
  EXPECT_EQ(Header()->Height(), 10);
}

TEST_F(TreeHeaderHost, ColumnChangesRepaintTheTree) {
  Settle();
  TLazyTreeColumn* c = Columns()->Items(1);
  c->SetOptions(c->Options() - TLTColumnOptions{coVisible});
  EXPECT_TRUE(ClientInvalid());
  Settle();
  c->SetAlignment(TAlignment::taCenter);
  EXPECT_TRUE(ClientInvalid());
  Settle();
  c->SetPosition(c->Position());  // equal: nothing
  EXPECT_FALSE(ClientInvalid());
  // Following the tree's colour again takes it now.
  c->SetColor(0x000000FF);
  tree->SetColor(0x00123456);
  c->SetOptions(c->Options() + TLTColumnOptions{coParentColor});
  EXPECT_EQ(c->Color(), 0x00123456u);
}

TEST_F(TreeHeaderHost, MainColumnMovesTheFocusedColumnUnlessExtendedFocus) {
  Header()->SetMainColumn(2);
  EXPECT_EQ(tree->FocusedColumn(), 2);
  Header()->SetMainColumn(9);  // clamped to the last column
  EXPECT_EQ(Header()->MainColumn(), 3);
  EXPECT_EQ(tree->FocusedColumn(), 3);
  tree->TreeOptions()->SetSelectionOptions(TLTSelectionOptions{toExtendedFocus});
  Header()->SetMainColumn(1);
  EXPECT_EQ(tree->FocusedColumn(), 3);
}

TEST_F(TreeHeaderHost, SortColumnAndDirectionSortOnlyUnderAutoSort) {
  TEvents events;
  tree->OnCompareNodes = EventOf<&TEvents::Compare>(&events);
  PLazyNode first = tree->AddChild(nullptr);
  tree->AddChild(nullptr);
  tree->AddChild(nullptr);
  Header()->SetSortColumn(1);
  EXPECT_EQ(events.compares, 0);
  tree->TreeOptions()->SetAutoOptions(tree->TreeOptions()->AutoOptions() +
                                      TLTAutoOptions{toAutoSort});
  Header()->SetSortColumn(2);
  EXPECT_GT(events.compares, 0);
  EXPECT_NE(tree->GetFirst(), first);  // the handler orders by falling index
  events.compares = 0;
  tree->BeginUpdate();  // suspended updates: no sorting
  Header()->SetSortDirection(sdDescending);
  EXPECT_EQ(events.compares, 0);
  tree->EndUpdate();
}

// A click on the pressed cell fires the click; on its painted check box
// the box takes the next state of its kind first; on its image the image
// click (the plain click without that handler).
TEST_F(TreeHeaderHost, HeaderClicksReachTheirEvents) {
  TEvents events;
  tree->OnHeaderCheckBoxClick = EventOf<&TEvents::CheckClick>(&events);
  tree->OnHeaderClick = EventOf<&TEvents::Click>(&events);
  Header()->SetHeight(20);
  // Columns of 50 pixels: column 2 spans 100..150; the header at y -20..0.
  TLazyTreeColumn* c = Columns()->Items(2);
  c->HasImage = true;
  c->ImageRect = {104, 2, 120, 18};  // header coordinates

  Header()->ProcessHeaderClick(130, -10, 0, false, false);  // not pressed: nothing
  EXPECT_EQ(Header()->Layout().ClickIndex, -1);
  EXPECT_EQ(Header()->UpdatePressedColumn(130, -10), 2);
  Header()->ProcessHeaderClick(130, -10, 0, false, true);
  EXPECT_EQ(Header()->Layout().ClickIndex, 2);
  ASSERT_EQ(events.clicks.size(), 1u);
  EXPECT_EQ(events.clicks[0], (std::vector<int>{2, 0, 1, 130, 10}));

  c->SetCheckBox(true);
  Header()->ProcessHeaderClick(110, -10, 0, true, false);
  EXPECT_EQ(c->CheckState(), csCheckedNormal);
  Header()->ProcessHeaderClick(110, -10, 0, true, false);
  EXPECT_EQ(c->CheckState(), csUncheckedNormal);
  c->SetCheckType(ctTriStateCheckBox);
  c->SetCheckState(csMixedNormal);
  Header()->ProcessHeaderClick(110, -10, 0, true, false);
  EXPECT_EQ(c->CheckState(), TLazyTreeView::NextCheckState(ctTriStateCheckBox, csMixedNormal));
  EXPECT_EQ(events.checkClicks, (std::vector<TColumnIndex>{2, 2, 2}));

  c->SetCheckBox(false);  // the image, without its own handler: the plain click
  Header()->ProcessHeaderClick(110, -10, 1, true, false);
  ASSERT_EQ(events.clicks.size(), 2u);
  EXPECT_EQ(events.clicks[1], (std::vector<int>{2, 1, 0, 110, 10}));
  // A column that takes no clicks.
  TLazyTreeColumn* d = Columns()->Items(3);
  d->SetOptions(d->Options() - TLTColumnOptions{coAllowClick});
  Header()->ProcessHeaderClick(160, -10, 0, true, false);
  EXPECT_EQ(Header()->Layout().ClickIndex, -1);
  EXPECT_EQ(events.clicks.size(), 2u);
}

// A header following the tree's font takes it, now and on each change; the
// tree's reading order reaches the columns that follow it.
TEST_F(TreeHeaderHost, FontAndReadingOrderFollowTheTree) {
  tree->Font()->SetName("Tahoma");
  Header()->SetParentFont(true);
  EXPECT_EQ(Header()->Font().Name, u"Tahoma");
  tree->Font()->SetHeight(-20);
  EXPECT_EQ(Header()->Font().Height, -20);
  Header()->SetFont(THeaderFontValues{0, -9, u"Verdana", 0, 0});  // an own font
  EXPECT_FALSE(Header()->ParentFont());
  tree->Font()->SetHeight(-30);
  EXPECT_EQ(Header()->Font().Height, -9);

  TLazyTreeColumn* own = Columns()->Items(0);
  own->SetBiDiMode(TBiDiMode::bdRightToLeftNoAlign);  // its own: no longer follows the tree
  tree->TreeOptions()->SetAutoOptions(tree->TreeOptions()->AutoOptions() +
                                      TLTAutoOptions{toAutoBidiColumnOrdering});
  tree->SetBiDiMode(classlib::TBiDiMode::bdRightToLeft);
  EXPECT_EQ(Columns()->Items(1)->BiDiMode(), TBiDiMode::bdRightToLeft);
  EXPECT_EQ(own->BiDiMode(), TBiDiMode::bdRightToLeftNoAlign);
  EXPECT_EQ(Header()->Layout().PositionToIndex(), (std::vector<int32_t>{3, 2, 1, 0}));
  tree->SetBiDiMode(classlib::TBiDiMode::bdLeftToRight);
  EXPECT_EQ(Header()->Layout().PositionToIndex(), (std::vector<int32_t>{0, 1, 2, 3}));
  EXPECT_EQ(Columns()->Items(1)->BiDiMode(), TBiDiMode::bdLeftToRight);
}

// Measures every column as 77 pixels wide, smart ones as 88.
class TMeasuringTree : public TFrameProbeTree {
 public:
  using TFrameProbeTree::TFrameProbeTree;
  int GetMaxColumnWidth(TColumnIndex, bool smart) override { return smart ? 88 : 77; }
};

class TFitEvents : public TObject {
 public:
  TBaseLazyTree* tree = nullptr;
  std::vector<TColumnIndex> after;
  int afterAll = 0;
  void BeforeAll(TLTHeader*, TSmartAutoFitType& type) { type = smaAllColumns; }
  void Before(TLTHeader*, TColumnIndex column, TSmartAutoFitType&) {
    if (column == 2) tree->CancelOperation();
  }
  void After(TLTHeader*, TColumnIndex column) { after.push_back(column); }
  void AfterAll(TLTHeader*) { ++afterAll; }
};

TEST_F(TreeHeaderHost, FittingColumnsRunsAsACancellableOperation) {
  auto* t = New<TMeasuringTree>(form);
  for (int i = 0; i < 4; ++i) t->HeaderObject()->Columns()->Add();
  TFitEvents events;
  events.tree = t;
  t->OnBeforeAutoFitColumns = EventOf<&TFitEvents::BeforeAll>(&events);
  t->OnBeforeAutoFitColumn = EventOf<&TFitEvents::Before>(&events);
  t->OnAfterAutoFitColumn = EventOf<&TFitEvents::After>(&events);
  t->OnAfterAutoFitColumns = EventOf<&TFitEvents::AfterAll>(&events);
  t->HeaderObject()->FitColumnsToContent(false, smaNoColumn, 0, -1);
  // Smart by the first event; cancelled from column 2 on.
  TLazyTreeColumns* c = t->HeaderObject()->Columns();
  EXPECT_EQ(c->Items(0)->Width(), 88);
  EXPECT_EQ(c->Items(1)->Width(), 88);
  EXPECT_EQ(c->Items(2)->Width(), 50);
  EXPECT_EQ(c->Items(3)->Width(), 50);
  EXPECT_EQ(events.after, (std::vector<TColumnIndex>{0, 1}));
  EXPECT_EQ(events.afterAll, 1);
  EXPECT_FALSE(t->OperationCanceled());  // the operation ended
  t->BeginOperation();                   // a new one starts uncancelled
  EXPECT_FALSE(t->OperationCanceled());
  t->EndOperation();
  EXPECT_THROW(t->EndOperation(), classlib::EAssertionFailed);
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

// The snapshot list's header and option sets: objects to text, then text
// to binary to objects to binary, byte for byte.
TEST_F(TreeHeaderHost, StoredFormCarriesHeaderOptionsAndColumns) {
  TFrameProbeTree* src = New<TFrameProbeTree>(nullptr);
  TLTHeader* h = src->HeaderObject();
  h->SetHeight(22);
  h->SetOptions(TLTHeaderOptions{hoVisible, hoColumnResize, hoDrag});
  h->SetStyle(TLTHeaderStyle::hsXPStyle);
  const int widths[] = {100, 200, 200, 250};
  // Beyond 8 bits, so that the text form keeps them wide strings.
  const char16_t* texts[] = {u"\u2116", u"\u0414\u0430\u0442\u0430",
                             u"\u041E\u043F\u0438\u0441\u0430\u043D\u0438\u0435", u"\u65E5"};
  for (int i = 0; i < 4; ++i) {
    TLazyTreeColumn* c = h->Columns()->Add();
    c->SetWidth(widths[i]);
    c->SetText(texts[i]);
  }
  src->TreeOptions()->SetPaintOptions(
      TLTPaintOptions{toShowBackground, toShowButtons, toShowDropmark, toShowRoot, toShowTreeLines,
                      toThemeAware, toUseBlendedImages, toUseBlendedSelection, toStaticBackground});
  src->TreeOptions()->SetSelectionOptions(TLTSelectionOptions{toFullRowSelect, toRightClickSelect});
  src->ScrollBarOptions()->SetScrollBars(TScrollStyle::ssVertical);
  const std::string text = ToText(Save(src));
  for (const char* line :
       {"  Header.Height = 22\r\n", "  Header.Options = [hoColumnResize, hoDrag, hoVisible]\r\n",
        "  Header.Style = hsXPStyle\r\n",
        "  TreeOptions.SelectionOptions = [toFullRowSelect, toRightClickSelect]\r\n",
        "  ScrollBarOptions.ScrollBars = ssVertical\r\n", "      Width = 250\r\n"})
    EXPECT_NE(text.find(line), std::string::npos) << line << text;

  const std::vector<uint8_t> binary = ToBinary(text);
  TFrameProbeTree* copy = New<TFrameProbeTree>(nullptr);
  Load(copy, binary);
  EXPECT_EQ(copy->HeaderObject()->Height(), 22);
  EXPECT_EQ(copy->HeaderObject()->Style(), TLTHeaderStyle::hsXPStyle);
  EXPECT_TRUE(copy->HeaderObject()->Columns()->SameColumnsAs(*h->Columns()));
  EXPECT_EQ(copy->TreeOptions()->SelectionOptions(),
            (TLTSelectionOptions{toFullRowSelect, toRightClickSelect}));
  EXPECT_EQ(Save(copy), binary);
  EXPECT_EQ(ToText(Save(copy)), text);
  classlib::Free(copy);
  classlib::Free(src);
}

// An old form's single option set turns on the column order of the reading
// direction, which loading applies to the columns of a right-to-left tree.
TEST_F(TreeHeaderHost, OldFormOptionsAndTheReadingOrderWhenLoaded) {
  TFrameProbeTree* src = New<TFrameProbeTree>(nullptr);
  for (int i = 0; i < 3; ++i) src->HeaderObject()->Columns()->Add();
  src->HeaderObject()->Columns()->Items(0)->SetPosition(2);  // shown: 1 2 0
  std::string text = ToText(Save(src));
  classlib::Free(src);
  const std::string end = "end\r\n";
  ASSERT_EQ(text.compare(text.size() - end.size(), end.size(), end), 0) << text;
  text.insert(text.size() - end.size(),
              "  Options = [voAutoBidiColumnOrdering, voMultiSelect]\r\n");

  struct TCase {
    bool rightToLeft;
    std::vector<int32_t> order;
  };
  for (const TCase& tc : {TCase{false, {0, 1, 2}}, TCase{true, {2, 1, 0}}}) {
    TFrameProbeTree* copy = New<TFrameProbeTree>(nullptr);
    if (tc.rightToLeft) copy->SetBiDiMode(classlib::TBiDiMode::bdRightToLeft);
    Load(copy, ToBinary(text));
    EXPECT_EQ(copy->TreeOptions()->AutoOptions(), TLTAutoOptions{toAutoBidiColumnOrdering});
    EXPECT_EQ(copy->TreeOptions()->SelectionOptions(), TLTSelectionOptions{toMultiSelect});
    EXPECT_EQ(copy->HeaderObject()->Layout().PositionToIndex(), tc.order);
    classlib::Free(copy);
  }
}

}  // namespace
}  // namespace kelm::lazytree

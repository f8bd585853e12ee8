// The header object with its tree: which refresh each header and column
// change asks for, columns inserted and moved in the collection, the
// header in the stored form (with the option sets and the old "Options"
// set), and what loading finishes.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "classlib/classdef.h"
#include "classlib/classes.h"
#include "classlib/textform.h"
#include "lazytree/tree_header.h"
#include "lazytree/tree_options.h"
#include "stream_helpers.h"

namespace kelm::lazytree {
namespace {

using classlib::New;
using classlib::TComponent;
using Log = std::vector<std::string>;

// Stands in for the tree's answers and records what the header asks of it.
class TRecordingHeaderHost : public THeaderHost {
 public:
  TTreeGeometry view;
  bool updating = false;
  Log log;

  TRecordingHeaderHost() {
    view.HasWindow = true;
    view.ClientWidth = 600;
    view.ClientHeight = 400;
    view.TreeHeight = 420;
  }
  void HeaderView(TTreeGeometry& v) override { v = view; }
  bool HeaderTreeUpdating() const override { return updating; }
  void HeaderRepaintTree() override { log.emplace_back("tree"); }
  void HeaderRepaint(int column) override {
    log.push_back(column < 0 ? "header" : "cell " + std::to_string(column));
  }
  void HeaderRefreshFrame() override { log.emplace_back("frame"); }
  void HeaderHeightChanged() override { log.emplace_back("height"); }
  void HeaderUpdateHorizontalScrollBar() override { log.emplace_back("hscroll"); }
  void HeaderColumnResized(int column) override {
    log.push_back("resized " + std::to_string(column));
  }
  void HeaderCancelEditing() override { log.emplace_back("cancel edit"); }
  void HeaderMainColumnChanged(int column) override {
    log.push_back("main " + std::to_string(column));
  }
  void HeaderSortChanged() override { log.emplace_back("sort"); }
  uint32_t HeaderColor() const override { return 0x00C0FFEE; }
};

struct THeaderFixture {
  TRecordingHeaderHost host;
  TLTHeader* header = New<TLTHeader>();

  explicit THeaderFixture(int columns) {
    header->SetHost(&host);
    for (int i = 0; i < columns; ++i) header->Columns()->Add();
    host.log.clear();
  }
  ~THeaderFixture() { classlib::Free(header); }
  THeaderFixture(const THeaderFixture&) = delete;
  THeaderFixture& operator=(const THeaderFixture&) = delete;
  TLazyTreeColumn& Column(int i) const { return *header->Columns()->Items(i); }
};

TEST(TreeHeaderHost, EachChangeAsksForItsRefresh) {
  struct TCase {
    const char* name;
    std::function<void(THeaderFixture&)> prepare;  // not recorded
    std::function<void(THeaderFixture&)> act;
    Log expected;
  };
  auto none = [](THeaderFixture&) {};
  auto loading = [](THeaderFixture& f) { f.host.view.Loading = true; };
  auto noWindow = [](THeaderFixture& f) { f.host.view.HasWindow = false; };
  const std::vector<TCase> cases = {
      {"equal height", none, [](THeaderFixture& f) { f.header->SetHeight(17); }, {}},
      {"height", none, [](THeaderFixture& f) { f.header->SetHeight(30); }, {"frame", "height"}},
      {"height while loading",
       loading,
       [](THeaderFixture& f) { f.header->SetHeight(30); },
       {"height"}},
      {"height without a window", noWindow, [](THeaderFixture& f) { f.header->SetHeight(30); }, {}},
      {"default height takes the height along",
       none,
       [](THeaderFixture& f) { f.header->SetDefaultHeight(20); },
       {"frame", "height"}},
      {"main column clamps",
       none,
       [](THeaderFixture& f) { f.header->SetMainColumn(7); },
       {"main 3"}},
      {"main column while loading",
       loading,
       [](THeaderFixture& f) { f.header->SetMainColumn(7); },
       {}},
      {"sort column",
       none,
       [](THeaderFixture& f) { f.header->SetSortColumn(1); },
       {"cell 1", "sort"}},
      {"sort column moves",
       [](THeaderFixture& f) { f.header->SetSortColumn(1); },
       [](THeaderFixture& f) { f.header->SetSortColumn(9); },
       {"cell 1", "cell 3", "sort"}},
      {"sort direction",
       none,
       [](THeaderFixture& f) { f.header->SetSortDirection(sdDescending); },
       {"header", "sort"}},
      {"header shown",
       none,
       [](THeaderFixture& f) {
         f.header->SetOptions(f.header->Options() + TLTHeaderOptions{hoVisible});
       },
       {"frame", "header", "tree"}},
      {"auto-resize on",
       none,
       [](THeaderFixture& f) {
         f.header->SetOptions(f.header->Options() + TLTHeaderOptions{hoAutoResize});
       },
       {"resized 0", "hscroll", "tree", "header", "tree"}},
      {"options while loading",
       loading,
       [](THeaderFixture& f) {
         f.header->SetOptions(f.header->Options() + TLTHeaderOptions{hoVisible});
       },
       {}},
      {"style",
       none,
       [](THeaderFixture& f) { f.header->SetStyle(TLTHeaderStyle::hsPlates); },
       {"header"}},
      {"style while loading",
       loading,
       [](THeaderFixture& f) { f.header->SetStyle(TLTHeaderStyle::hsPlates); },
       {}},
      {"background",
       none,
       [](THeaderFixture& f) { f.header->SetBackground(0x123456); },
       {"header"}},
      {"height limit",
       none,
       [](THeaderFixture& f) { f.header->FixedAreaConstraints()->SetMinHeightPercent(10); },
       {"frame", "height"}},
      {"column text", none, [](THeaderFixture& f) { f.Column(1).SetText(u"x"); }, {"cell 1"}},
      {"column alignment",
       none,
       [](THeaderFixture& f) { f.Column(1).SetAlignment(TAlignment::taCenter); },
       {"cell 1", "tree"}},
      {"caption alignment",
       none,
       [](THeaderFixture& f) { f.Column(1).SetCaptionAlignment(TAlignment::taCenter); },
       {"cell 1"}},
      {"column width", none, [](THeaderFixture& f) { f.Column(1).SetWidth(80); }, {"resized 1"}},
      {"column position",
       none,
       [](THeaderFixture& f) { f.Column(1).SetPosition(3); },
       {"cancel edit", "cell 1", "cell 1", "tree"}},
      {"equal column position", none, [](THeaderFixture& f) { f.Column(1).SetPosition(1); }, {}},
      {"column hidden",
       none,
       [](THeaderFixture& f) {
         f.Column(1).SetOptions(f.Column(1).Options() - TLTColumnOptions{coVisible});
       },
       {"cell 1", "tree", "hscroll"}},
      {"column hidden while the tree is updating",
       [](THeaderFixture& f) { f.host.updating = true; },
       [](THeaderFixture& f) {
         f.Column(1).SetOptions(f.Column(1).Options() - TLTColumnOptions{coVisible});
       },
       {"cell 1", "hscroll"}},
      {"column follows the tree's colour again",
       [](THeaderFixture& f) { f.Column(1).SetColor(0x000000FF); },
       [](THeaderFixture& f) {
         f.Column(1).SetOptions(f.Column(1).Options() + TLTColumnOptions{coParentColor});
       },
       {"cell 1", "tree"}},
      {"column moved in the collection",
       none,
       [](THeaderFixture& f) { f.Column(3).SetIndex(0); },
       {"hscroll", "header", "tree"}},
      {"damaged stream",
       none,
       [](THeaderFixture& f) {
         const uint8_t bytes[] = {0xFF, 0xFF, 0xFF};
         EXPECT_THROW(f.header->LoadFromBytes(bytes, sizeof bytes), classlib::EReadError);
       },
       {"resized -1"}},
  };
  for (const TCase& tc : cases) {
    THeaderFixture f(4);
    tc.prepare(f);
    f.host.log.clear();
    tc.act(f);
    EXPECT_EQ(f.host.log, tc.expected) << tc.name;
  }
}

// The values behind the refreshes above.
TEST(TreeHeaderHost, ValuesAfterTheChanges) {
  THeaderFixture f(4);
  f.host.view.HasWindow = false;
  f.header->SetHeight(3);  // kept unchecked until a window exists
  EXPECT_EQ(f.header->Height(), 3);
  f.host.view.HasWindow = true;
  f.header->SetHeight(3);
  EXPECT_EQ(f.header->Height(), 10);  // MinHeight

  // Height limits of 10 % of the client plus header height (400 + 10).
  f.header->FixedAreaConstraints()->SetMinHeightPercent(10);
  EXPECT_EQ(f.header->Height(), 41);
  f.header->SetDefaultHeight(20000);  // clamped to MaxHeight; the height is not at the default
  EXPECT_EQ(f.header->DefaultHeight(), 10000);
  EXPECT_EQ(f.header->Height(), 41);

  f.Column(1).SetColor(0x000000FF);
  f.Column(1).SetOptions(f.Column(1).Options() + TLTColumnOptions{coParentColor});
  EXPECT_EQ(f.Column(1).Color(), 0x00C0FFEEu);

  f.host.view.Loading = true;
  f.header->SetMainColumn(7);
  f.header->SetSortColumn(9);
  EXPECT_EQ(f.header->Layout().SortColumn(), 9);  // as read, until loading ends
  f.host.view.Loading = false;
  f.header->FinishLoading(false);
  EXPECT_EQ(f.header->MainColumn(), 3);
  EXPECT_EQ(f.header->SortColumn(), 3);
}

// Inserting and moving items keeps each column's geometry with it, the
// shown order of the others, and every index that names a column.
TEST(TreeHeaderColumns, InsertAndIndexChangesCarryGeometryAndIndices) {
  struct TCase {
    const char* name;
    std::function<void(TLazyTreeColumns&)> act;
    std::vector<std::u16string> expectedItems;
  };
  const std::vector<TCase> cases = {
      {"insert at the front",
       [](TLazyTreeColumns& c) { c.Insert(0); },
       {u"", u"A", u"B", u"C", u"D"}},
      {"insert in the middle",
       [](TLazyTreeColumns& c) { c.Insert(2); },
       {u"A", u"B", u"", u"C", u"D"}},
      {"last to the front",
       [](TLazyTreeColumns& c) { c.Items(3)->SetIndex(0); },
       {u"D", u"A", u"B", u"C"}},
      {"first to the back",
       [](TLazyTreeColumns& c) { c.Items(0)->SetIndex(3); },
       {u"B", u"C", u"D", u"A"}},
      {"out of range changes nothing",
       [](TLazyTreeColumns& c) { EXPECT_THROW(c.Items(1)->SetIndex(4), classlib::EListError); },
       {u"A", u"B", u"C", u"D"}},
  };
  for (const TCase& tc : cases) {
    THeaderFixture f(0);
    TLazyTreeColumns& columns = *f.header->Columns();
    const char16_t* texts[] = {u"A", u"B", u"C", u"D"};
    for (int i = 0; i < 4; ++i) {
      TLazyTreeColumn* c = columns.Add();
      c->SetText(texts[i]);
      c->SetWidth(10 * (i + 1));
    }
    columns.Items(3)->SetPosition(0);  // shown: D A B C
    f.header->SetMainColumn(1);        // B
    f.header->SetSortColumn(2);        // C
    f.header->SetAutoSizeIndex(3);     // D
    tc.act(columns);

    SCOPED_TRACE(tc.name);
    ASSERT_EQ(columns.Count(), static_cast<int>(tc.expectedItems.size()));
    std::vector<std::u16string> items, shown;
    for (int i = 0; i < columns.Count(); ++i) {
      const TLazyTreeColumn& c = *columns.Items(i);
      items.push_back(c.Text());
      // Widths stayed with their texts; a new column has the default.
      EXPECT_EQ(c.Width(), c.Text().empty() ? 50 : 10 * (c.Text()[0] - u'A' + 1));
    }
    EXPECT_EQ(items, tc.expectedItems);
    for (int32_t index : f.header->Layout().PositionToIndex()) {
      shown.push_back(columns.Items(index)->Text());
      EXPECT_EQ(columns.Items(index)->Position(), shown.size() - 1);
    }
    std::vector<std::u16string> expectedShown = {u"D", u"A", u"B", u"C"};
    if (columns.Count() == 5) expectedShown.emplace_back(u"");  // a new column is shown last
    EXPECT_EQ(shown, expectedShown);
    EXPECT_EQ(columns.Items(f.header->MainColumn())->Text(), u"B");
    EXPECT_EQ(columns.Items(f.header->SortColumn())->Text(), u"C");
    EXPECT_EQ(columns.Items(f.header->AutoSizeIndex())->Text(), u"D");
    int left = 0;
    for (int32_t index : f.header->Layout().PositionToIndex()) {
      EXPECT_EQ(f.header->Layout().Column(index).Left, left);
      left += columns.Items(index)->Width();
    }
  }
}

// Auto-fitting walks the positions of the range inside one operation,
// skipping hidden, fixed-size, refused and cancelled columns.
class TFittingHost : public TRecordingHeaderHost {
 public:
  int refuse = -1;
  int cancelAt = -1;
  bool cancelled = false;
  TSmartAutoFitType forceAll = smaUseColumnOption;  // what the first event answers

  void HeaderBeginOperation() override { log.emplace_back("begin"); }
  void HeaderEndOperation() override { log.emplace_back("end"); }
  bool HeaderOperationCanceled() override { return cancelled; }
  void HeaderBeforeAutoFitColumns(TSmartAutoFitType& type) override {
    log.emplace_back("before all");
    type = forceAll;
  }
  bool HeaderBeforeAutoFitColumn(int column, TSmartAutoFitType&) override {
    if (column == cancelAt) cancelled = true;
    return column != refuse;
  }
  void HeaderAfterAutoFitColumn(int column) override {
    log.push_back("after " + std::to_string(column));
  }
  void HeaderAfterAutoFitColumns() override { log.emplace_back("after all"); }
  int HeaderWidestContent(int column, bool smart) override {
    log.push_back("measure " + std::to_string(column) + (smart ? " smart" : ""));
    return 100 + column;
  }
};

TEST(TreeHeaderColumns, FitColumnsToContent) {
  struct TCase {
    const char* name;
    TSmartAutoFitType type;
    int start, end, refuse, cancelAt;
    Log expected;
    std::vector<int> widths;
  };
  // Shown order 3 0 1 2; column 1 hidden; column 2 smart.
  const std::vector<TCase> cases = {
      {"all, by each column's option",
       smaUseColumnOption,
       0,
       -1,
       -1,
       -1,
       Log{"begin", "before all", "measure 3", "after 3", "measure 0", "after 0", "measure 2 smart",
           "after 2", "after all", "end"},
       {100, 50, 102, 103}},
      {"positions 1 to 2, all smart",
       smaAllColumns,
       1,
       2,
       -1,
       -1,
       Log{"begin", "before all", "measure 0 smart", "after 0", "after all", "end"},
       {100, 50, 50, 50}},
      {"none smart, one refused",
       smaNoColumn,
       -5,
       99,
       0,
       -1,
       Log{"begin", "before all", "measure 3", "after 3", "measure 2", "after 2", "after all",
           "end"},
       {50, 50, 102, 103}},
      {"cancelled from column 0 on",
       smaUseColumnOption,
       0,
       -1,
       -1,
       0,
       Log{"begin", "before all", "measure 3", "after 3", "after all", "end"},
       {50, 50, 50, 103}},
      {"empty range", smaUseColumnOption, 3, 2, -1, -1, Log{}, {50, 50, 50, 50}},
  };
  for (const TCase& tc : cases) {
    TFittingHost host;
    host.forceAll = tc.type;
    host.refuse = tc.refuse;
    host.cancelAt = tc.cancelAt;
    TLTHeader* header = New<TLTHeader>();
    header->SetHost(&host);
    for (int i = 0; i < 4; ++i) header->Columns()->Add();
    header->Columns()->Items(3)->SetPosition(0);
    TLazyTreeColumn& hidden = *header->Columns()->Items(1);
    hidden.SetOptions(hidden.Options() - TLTColumnOptions{coVisible});
    TLazyTreeColumn& smart = *header->Columns()->Items(2);
    smart.SetOptions(smart.Options() + TLTColumnOptions{coSmartResize});
    host.log.clear();
    header->FitColumnsToContent(false, smaUseColumnOption, tc.start, tc.end);
    Log fitLog;
    for (const std::string& entry : host.log)
      if (entry.rfind("resized", 0) != 0) fitLog.push_back(entry);
    EXPECT_EQ(fitLog, tc.expected) << tc.name;
    std::vector<int> widths(4);
    for (int i = 0; i < 4; ++i)
      widths[static_cast<size_t>(i)] = header->Columns()->Items(i)->Width();
    EXPECT_EQ(widths, tc.widths) << tc.name;
    classlib::Free(header);
  }
}

// The hover column follows the mouse over the header (also to none); only
// a clickable, enabled column becomes the pressed one.
TEST(TreeHeaderColumns, HoverAndPressedColumns) {
  THeaderFixture f(4);  // 50 pixels each; the header spans y -17..0
  EXPECT_TRUE(f.header->UpdateHoverColumn(60, -5));
  EXPECT_FALSE(f.header->UpdateHoverColumn(70, -5));
  EXPECT_TRUE(f.header->UpdateHoverColumn(120, -5));
  EXPECT_TRUE(f.header->UpdateHoverColumn(900, -5));  // beyond the columns
  EXPECT_EQ(f.header->Layout().HoverIndex, kInvalidColumn);
  EXPECT_EQ(f.host.log, (Log{"cell 1", "cell 1", "cell 2", "cell 2"}));

  f.host.log.clear();
  f.Column(2).SetOptions(f.Column(2).Options() - TLTColumnOptions{coEnabled});
  f.host.log.clear();
  EXPECT_EQ(f.header->UpdatePressedColumn(10, -5), 0);
  EXPECT_EQ(f.header->UpdatePressedColumn(110, -5), 2);  // hit, but not pressable
  EXPECT_EQ(f.header->Layout().DownIndex, 0);
  EXPECT_EQ(f.header->UpdatePressedColumn(160, -5), 3);
  EXPECT_EQ(f.header->Layout().DownIndex, 3);
  EXPECT_EQ(f.host.log, (Log{"cell 0", "cell 0", "cell 3"}));
}

// A header check box advances through its kind's states.
TEST(TreeHeaderColumns, CheckBoxValuesAreKeptAndStored) {
  THeaderFixture f(2);
  TLazyTreeColumn& c = f.Column(1);
  EXPECT_EQ(c.CheckType(), ctCheckBox);
  EXPECT_EQ(c.CheckState(), csUncheckedNormal);
  c.SetCheckBox(true);
  c.SetCheckType(ctTriStateCheckBox);
  c.SetCheckState(csMixedNormal);
  EXPECT_EQ(f.host.log, (Log{"cell 1", "cell 1", "cell 1"}));
  EXPECT_TRUE(c.CheckBox());
  EXPECT_EQ(c.CheckType(), ctTriStateCheckBox);
  EXPECT_EQ(c.CheckState(), csMixedNormal);
}

}  // namespace

// A component carrying a header and the option sets as the tree does: the
// header's values under "Header", the columns as "Columns", the old
// "Options" set read into the option sets; the header finishes loading
// in Loaded.
class THeaderHolder : public TComponent, public THeaderHost {
  CL_DECLARE_CLASS(THeaderHolder, TComponent)
 public:
  explicit THeaderHolder(TComponent* owner) : TComponent(owner) {
    header_->SetHost(this);
    view.HasWindow = false;
    view.ClientWidth = 600;
  }
  ~THeaderHolder() override {
    classlib::Free(header_);
    classlib::Free(options_);
  }
  THeaderHolder(const THeaderHolder&) = delete;
  THeaderHolder& operator=(const THeaderHolder&) = delete;

  TLTHeader* Header() const { return header_; }
  void SetHeader(TLTHeader* v) { header_->Assign(v); }
  TStringTreeOptions* TreeOptions() const { return options_; }
  void SetTreeOptions(TStringTreeOptions* v) { options_->Assign(v); }

  TTreeGeometry view;
  bool directional = false;
  void HeaderView(TTreeGeometry& v) override {
    v = view;
    v.Loading = IsLoading();
  }

 protected:
  void DefineProperties(classlib::TFiler& filer) override {
    TComponent::DefineProperties(filer);
    header_->DefineColumns(filer);
    filer.DefineProperty(
        "Options", [this](classlib::TReader& r) { options_->ReadLegacyOptions(r); },
        [](classlib::TWriter&) {}, false);
  }
  void Loaded() override {
    TComponent::Loaded();
    header_->FinishLoading(directional);
  }

 private:
  TLTHeader* header_ = New<TLTHeader>();
  TStringTreeOptions* options_ = New<TStringTreeOptions>();
};

CL_CLASS(THeaderHolder) {
  c.Object("Header", &THeaderHolder::Header, &THeaderHolder::SetHeader);
  c.Object("TreeOptions", &THeaderHolder::TreeOptions, &THeaderHolder::SetTreeOptions);
}

namespace {

using test::BinaryToText;
using test::Save;
using test::TextToBinary;

// Loads into a fresh holder prepared by the caller.
void LoadInto(THeaderHolder* holder, const std::vector<uint8_t>& bytes) {
  classlib::TResourceStream in(bytes.data(), static_cast<int64_t>(bytes.size()));
  classlib::TReader r(in);
  r.ReadRootComponent(holder);
}

std::string Columns(const std::vector<std::string>& items) {
  std::string s = "  Columns = <";
  for (size_t i = 0; i < items.size(); ++i)
    s += std::string(i == 0 ? "\r\n" : "\r\n") + "    item\r\n" + items[i] + "    end";
  return s + ">\r\n";
}

// The stored form, text to binary to objects to binary, byte for byte.
TEST(TreeHeaderForm, HeaderAndOptionSetsRoundTripByteForByte) {
  classlib::RegisterClass(THeaderHolder::StaticClass());
  struct TCase {
    const char* name;
    std::string text;
    std::function<void(const THeaderHolder&)> check;
  };
  const std::vector<TCase> cases = {
      {"the snapshot list",
       "object SnapshotList: THeaderHolder\r\n"
       "  Header.AutoSizeIndex = 0\r\n"
       "  Header.DefaultHeight = 17\r\n"
       "  Header.Height = 22\r\n"
       "  Header.Options = [hoColumnResize, hoDrag, hoVisible]\r\n"
       "  Header.Style = hsXPStyle\r\n"
       "  TreeOptions.PaintOptions = [toShowBackground, toShowButtons, toShowDropmark, "
       "toShowRoot, toShowTreeLines, toThemeAware, toUseBlendedImages, toUseBlendedSelection, "
       "toStaticBackground]\r\n"
       "  TreeOptions.SelectionOptions = [toFullRowSelect, toRightClickSelect]\r\n" +
           Columns({"      Position = 0\r\n      Width = 100\r\n      WideText = #8470\r\n",
                    "      Position = 1\r\n      Width = 200\r\n"
                    "      WideText = #1044#1072#1090#1072\r\n",
                    "      Position = 2\r\n      Width = 200\r\n"
                    "      WideText = #1054#1087#1080#1089#1072#1085#1080#1077\r\n",
                    "      Position = 3\r\n      Width = 250\r\n      WideText = #26085\r\n"}) +
           "end\r\n",
       [](const THeaderHolder& h) {
         const TLTHeader& header = *h.Header();
         EXPECT_EQ(header.Height(), 22);
         EXPECT_EQ(header.Options(), (TLTHeaderOptions{hoVisible, hoColumnResize, hoDrag}));
         EXPECT_EQ(header.Style(), TLTHeaderStyle::hsXPStyle);
         EXPECT_EQ(header.MainColumn(), 0);
         ASSERT_EQ(header.Columns()->Count(), 4);
         EXPECT_EQ(header.Columns()->Items(3)->Width(), 250);
         EXPECT_EQ(header.Columns()->Items(3)->Text(), u"\u65E5");
         EXPECT_EQ(h.TreeOptions()->MiscOptions().ToInt(), 16809u);
       }},
      {"other header values",
       "object Tree: THeaderHolder\r\n"
       "  Header.AutoSizeIndex = 1\r\n"
       "  Header.Background = 255\r\n"
       "  Header.DefaultHeight = 19\r\n"
       "  Header.FixedAreaConstraints.MaxWidthPercent = 60\r\n"
       "  Header.FixedAreaConstraints.MinHeightPercent = 5\r\n"
       "  Header.Height = 30\r\n"
       "  Header.MainColumn = 2\r\n"
       "  Header.MaxHeight = 40\r\n"
       "  Header.MinHeight = 15\r\n"
       "  Header.Options = []\r\n"
       "  Header.ParentFont = True\r\n"
       "  Header.SortColumn = 1\r\n"
       "  Header.SortDirection = sdDescending\r\n"
       "  Header.Style = hsPlates\r\n"
       "  TreeOptions.AnimationOptions = [toAnimatedToggle]\r\n"
       "  TreeOptions.AutoOptions = [toAutoExpand, toAutoBidiColumnOrdering]\r\n"
       "  TreeOptions.MiscOptions = []\r\n"
       "  TreeOptions.StringOptions = [toShowStaticText]\r\n" +
           Columns({"      CheckBox = True\r\n      CheckState = csCheckedNormal\r\n"
                    "      CheckType = ctTriStateCheckBox\r\n      Position = 2\r\n",
                    "      Position = 0\r\n", "      Position = 1\r\n"}) +
           "end\r\n",
       [](const THeaderHolder& h) {
         const TLTHeader& header = *h.Header();
         EXPECT_EQ(header.MainColumn(), 2);  // read before the columns, kept
         EXPECT_EQ(header.SortColumn(), 1);
         EXPECT_EQ(header.SortDirection(), sdDescending);
         EXPECT_EQ(header.Height(), 30);
         EXPECT_EQ(header.MinHeight(), 15);
         EXPECT_EQ(header.FixedAreaConstraints()->MaxWidthPercent(), 60);
         EXPECT_EQ(header.Layout().PositionToIndex(), (std::vector<int32_t>{1, 2, 0}));
         EXPECT_EQ(header.Columns()->Items(0)->CheckState(), csCheckedNormal);
       }},
  };
  for (const TCase& tc : cases) {
    const std::vector<uint8_t> binary = TextToBinary(tc.text);
    auto* holder = New<THeaderHolder>(nullptr);
    LoadInto(holder, binary);
    tc.check(*holder);
    EXPECT_EQ(BinaryToText(Save(holder)), tc.text) << tc.name;
    EXPECT_EQ(Save(holder), binary) << tc.name;
    classlib::Free(holder);
  }
}

// Loading ends with the order of the reading direction when asked, the
// auto-size column fitted, and the main column within the columns.
TEST(TreeHeaderForm, LoadingFinishesOrderSizeAndMainColumn) {
  classlib::RegisterClass(THeaderHolder::StaticClass());
  const std::string text =
      "object Tree: THeaderHolder\r\n"
      "  Header.AutoSizeIndex = 1\r\n"
      "  Header.MainColumn = 7\r\n"
      "  Header.Options = [hoAutoResize]\r\n" +
      Columns({"      Position = 1\r\n      Width = 100\r\n", "      Position = 2\r\n",
               "      Position = 0\r\n"}) +
      "end\r\n";
  struct TCase {
    bool directional, mirrored;
    std::vector<int32_t> order;
  };
  for (const TCase& tc : {TCase{false, false, {2, 0, 1}}, TCase{true, false, {0, 1, 2}},
                          TCase{true, true, {2, 1, 0}}}) {
    auto* holder = New<THeaderHolder>(nullptr);
    holder->directional = tc.directional;
    holder->view.Mirrored = tc.mirrored;
    LoadInto(holder, TextToBinary(text));
    const TLTHeader& header = *holder->Header();
    EXPECT_EQ(header.Layout().PositionToIndex(), tc.order);
    EXPECT_EQ(header.MainColumn(), 2);
    // The auto-size column takes what the others leave of 600 pixels.
    EXPECT_EQ(header.Columns()->Items(1)->Width(), 600 - 100 - 50);
    classlib::Free(holder);
  }
}

// Forms of old versions keep every option in one set of "vo" names.
TEST(TreeHeaderForm, OldOptionsSetFillsTheFiveSets) {
  classlib::RegisterClass(THeaderHolder::StaticClass());
  auto form = [](const std::string& set) {
    return TextToBinary("object Tree: THeaderHolder\r\n  Options = " + set + "\r\nend\r\n");
  };
  auto* h = New<THeaderHolder>(nullptr);
  LoadInto(h, form("[voAnimatedToggle, voAutoSort, voMultiSelect, voShowButtons, voEditable, "
                   "voAutoBidiColumnOrdering]"));
  const TStringTreeOptions& o = *h->TreeOptions();
  EXPECT_EQ(o.AnimationOptions(), TLTAnimationOptions{toAnimatedToggle});
  EXPECT_EQ(o.AutoOptions(), (TLTAutoOptions{toAutoSort, toAutoBidiColumnOrdering}));
  EXPECT_EQ(o.SelectionOptions(), TLTSelectionOptions{toMultiSelect});
  EXPECT_EQ(o.PaintOptions(), TLTPaintOptions{toShowButtons});
  EXPECT_EQ(o.MiscOptions(), TLTMiscOptions{toEditable});
  EXPECT_EQ(o.StringOptions().ToInt(), 5u);  // not part of the old set
  // Written back in today's sets only.
  const std::string saved = BinaryToText(Save(h));
  EXPECT_EQ(saved.find("  Options"), std::string::npos) << saved;
  EXPECT_NE(saved.find("TreeOptions.MiscOptions = [toEditable]"), std::string::npos) << saved;
  classlib::Free(h);

  for (const char* bad : {"[voNoSuchOption]", "[toShowButtons]", "7"}) {
    auto* holder = New<THeaderHolder>(nullptr);
    EXPECT_THROW(LoadInto(holder, form(bad)), classlib::EReadError) << bad;
    classlib::Free(holder);
  }
}

}  // namespace
}  // namespace kelm::lazytree

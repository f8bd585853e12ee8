// The columns as collection items, kept index for index with the header's
// layout: their setters, assigning and comparing, the header stream and
// the stored form; the header object through its stream.
#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "classlib/classdef.h"
#include "classlib/streams.h"
#include "classlib/textform.h"
#include "lazytree/header_columns.h"
#include "lazytree/tree_header.h"
#include "stream_helpers.h"

namespace kelm::lazytree {
namespace {

struct TColumnsFixture {
  THeaderLayout layout;
  TLazyTreeColumns columns{nullptr, layout};

  explicit TColumnsFixture(int count = 0) {
    for (int i = 0; i < count; ++i) columns.Add();
  }
  // Layout and items agree in count, and the order is a permutation.
  void ExpectConsistent() const {
    ASSERT_EQ(layout.Count(), columns.Count());
    std::vector<int32_t> order = layout.PositionToIndex();
    ASSERT_EQ(static_cast<int>(order.size()), columns.Count());
    std::vector<bool> seen(order.size(), false);
    for (size_t p = 0; p < order.size(); ++p) {
      ASSERT_TRUE(order[p] >= 0 && order[p] < columns.Count());
      EXPECT_FALSE(seen[static_cast<size_t>(order[p])]);
      seen[static_cast<size_t>(order[p])] = true;
      EXPECT_EQ(columns.Items(order[p])->Position(), p);
    }
  }
};

TEST(HeaderColumns, NewColumnsTakeTheDefaultWidthAndTheLastPosition) {
  TColumnsFixture f(3);
  f.ExpectConsistent();
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(f.columns.Items(i)->Width(), 50);
    EXPECT_EQ(f.columns.Items(i)->Position(), static_cast<uint32_t>(i));
    EXPECT_EQ(f.columns.Items(i)->Options().ToInt(), kDefaultColumnOptions);
  }
  EXPECT_EQ(f.layout.MainColumn(), 0);
}

TEST(HeaderColumns, SetterTable) {
  struct TCase {
    const char* name;
    std::function<void(TLazyTreeColumn&)> act;
    std::function<bool(const TLazyTreeColumn&)> check;
  };
  const std::vector<TCase> cases = {
      {"negative margin becomes 4",
       [](TLazyTreeColumn& c) {
         c.SetMargin(9);
         c.SetMargin(-1);
       },
       [](const TLazyTreeColumn& c) { return c.Margin() == 4; }},
      {"min above max becomes max, width clamped",
       [](TLazyTreeColumn& c) {
         c.SetMaxWidth(40);
         c.SetMinWidth(60);
       },
       [](const TLazyTreeColumn& c) {
         return c.MinWidth() == 40 && c.MaxWidth() == 40 && c.Width() == 40;
       }},
      {"position beyond the count becomes the last", [](TLazyTreeColumn& c) { c.SetPosition(99); },
       [](const TLazyTreeColumn& c) { return c.Position() == 3; }},
      {"caption alignment is used once set",
       [](TLazyTreeColumn& c) {
         c.SetAlignment(TAlignment::taRightJustify);
         c.SetCaptionAlignment(TAlignment::taCenter);
       },
       [](const TLazyTreeColumn& c) {
         return c.CaptionAlignment() == TAlignment::taCenter &&
                c.Options().Contains(coUseCaptionAlignment) &&
                c.Alignment() == TAlignment::taRightJustify;
       }},
      {"caption alignment follows alignment until set",
       [](TLazyTreeColumn& c) { c.SetAlignment(TAlignment::taCenter); },
       [](const TLazyTreeColumn& c) { return c.CaptionAlignment() == TAlignment::taCenter; }},
      {"an own colour stops following the tree", [](TLazyTreeColumn& c) { c.SetColor(0x00123456); },
       [](const TLazyTreeColumn& c) {
         return c.Color() == 0x00123456 && !c.Options().Contains(coParentColor);
       }},
      {"an own reading order stops following the tree",
       [](TLazyTreeColumn& c) { c.SetBiDiMode(TBiDiMode::bdRightToLeft); },
       [](const TLazyTreeColumn& c) {
         return c.BiDiMode() == TBiDiMode::bdRightToLeft && !c.Options().Contains(coParentBidiMode);
       }},
  };
  for (const TCase& tc : cases) {
    TColumnsFixture f(4);
    TLazyTreeColumn& c = *f.columns.Items(1);
    tc.act(c);
    EXPECT_TRUE(tc.check(c)) << tc.name;
    f.ExpectConsistent();
  }
}

TEST(HeaderColumns, DeletingKeepsLayoutAndIndicesInStep) {
  TColumnsFixture f(4);
  for (int i = 0; i < 4; ++i) f.columns.Items(i)->SetText(std::u16string(1, u'A' + i));
  f.columns.Items(3)->SetPosition(0);  // shown order D A B C
  f.layout.SetSortColumn(2);
  f.columns.Delete(0);  // the main column
  f.ExpectConsistent();
  EXPECT_EQ(f.columns.Items(0)->Text(), u"B");
  EXPECT_EQ(f.layout.SortColumn(), 1);
  EXPECT_EQ(f.layout.MainColumn(), 0);  // the column that had index 1
  EXPECT_EQ(f.layout.PositionToIndex(), (std::vector<int32_t>{2, 0, 1}));
  f.columns.ClearColumns();
  f.ExpectConsistent();
  EXPECT_EQ(f.layout.MainColumn(), -1);
}

TEST(HeaderColumns, AssignCopiesValuesAndOrderAndCompares) {
  TColumnsFixture src(3);
  src.columns.Items(0)->SetText(u"\u0416ame");
  src.columns.Items(1)->SetWidth(120);
  src.columns.Items(2)->SetCaptionAlignment(TAlignment::taRightJustify);
  src.columns.Items(2)->SetColor(0x00FF00FF);
  src.columns.Items(2)->Tag = 7;
  src.columns.Items(2)->SetPosition(0);
  TColumnsFixture dst(1);
  dst.columns.Assign(&src.columns);
  dst.ExpectConsistent();
  EXPECT_TRUE(dst.columns.SameColumnsAs(src.columns));
  EXPECT_EQ(dst.layout.PositionToIndex(), src.layout.PositionToIndex());
  EXPECT_EQ(dst.columns.Items(2)->CaptionAlignment(), TAlignment::taRightJustify);
  EXPECT_EQ(dst.columns.Items(0)->GetDisplayName(), "Column 0");

  const std::vector<std::function<void(TLazyTreeColumns&)>> mutations = {
      [](TLazyTreeColumns& c) { c.Items(0)->SetHint(u"h"); },
      [](TLazyTreeColumns& c) { c.Items(1)->SetWidth(121); },
      [](TLazyTreeColumns& c) { c.Items(1)->SetPosition(0); },
      [](TLazyTreeColumns& c) { c.Items(2)->Tag = 8; },
      [](TLazyTreeColumns& c) { c.Items(2)->SetCaptionAlignment(TAlignment::taCenter); },
      [](TLazyTreeColumns& c) { c.Items(0)->SetMargin(5); },
      [](TLazyTreeColumns& c) { c.Add(); },
  };
  for (size_t i = 0; i < mutations.size(); ++i) {
    TColumnsFixture copy;
    copy.columns.Assign(&src.columns);
    mutations[i](copy.columns);
    EXPECT_FALSE(copy.columns.SameColumnsAs(src.columns)) << "mutation " << i;
  }
}

// Objects to stream, stream to new objects, and back: byte for byte.
TEST(HeaderColumns, StreamRoundTripIsByteIdentical) {
  struct TCase {
    const char* name;
    std::function<void(TColumnsFixture&)> build;
  };
  const std::vector<TCase> cases = {
      {"snapshot list",
       [](TColumnsFixture& f) {
         const int widths[] = {100, 200, 200, 250};
         const char16_t* texts[] = {u"Nr.", u"\u65E5\u4ED8", u"Beschreibung", u"\u0394"};
         for (int i = 0; i < 4; ++i) {
           TLazyTreeColumn* c = f.columns.Add();
           c->SetWidth(widths[i]);
           c->SetText(texts[i]);
         }
       }},
      {"non-default values",
       [](TColumnsFixture& f) {
         for (int i = 0; i < 3; ++i) f.columns.Add();
         TLazyTreeColumn& c = *f.columns.Items(1);
         c.SetHint(u"hint");
         c.SetCaptionAlignment(TAlignment::taCenter);
         c.SetColor(0x00010203);
         c.SetBiDiMode(TBiDiMode::bdRightToLeft);
         c.SetImageIndex(3);
         c.SetLayout(TLTHeaderColumnLayout::blGlyphTop);
         c.SetStyle(TLazyTreeColumnStyle::vsOwnerDraw);
         c.SetMargin(7);
         c.SetSpacing(2);
         c.Tag = -5;
         c.SetMinWidth(20);
         c.SetMaxWidth(300);
         c.SetWidth(280);
         c.SetOptions(c.Options() + TLTColumnOptions{coAutoSpring} - TLTColumnOptions{coVisible});
         f.columns.Items(2)->SetPosition(0);
         f.layout.DefaultWidth = 64;
       }},
      {"no columns", [](TColumnsFixture&) {}},
  };
  for (const TCase& tc : cases) {
    TColumnsFixture a;
    tc.build(a);
    THeaderRecord header;
    a.columns.ToRecord(header);
    const std::vector<uint8_t> first = WriteHeaderStream(header);

    TColumnsFixture b(2);  // replaced whole by the load
    b.columns.LoadHeaderRecord(ParseHeaderStream(first.data(), first.size()));
    b.ExpectConsistent();
    EXPECT_TRUE(b.columns.SameColumnsAs(a.columns)) << tc.name;
    THeaderRecord again = header;
    b.columns.ToRecord(again);
    EXPECT_EQ(WriteHeaderStream(again), first) << tc.name;
  }
}

}  // namespace
}  // namespace kelm::lazytree

namespace kelm::lazytree {
namespace {

using classlib::TComponent;

// Stands in for the tree: it defines "Columns" with the collection's
// reader and writer, and orders the columns after loading.
class TColumnsHost : public TComponent {
  CL_DECLARE_CLASS(TColumnsHost, TComponent)
 public:
  explicit TColumnsHost(TComponent* owner) : TComponent(owner) {}
  THeaderLayout layout;
  TLazyTreeColumns columns{this, layout};

  void DefineProperties(classlib::TFiler& filer) override {
    TComponent::DefineProperties(filer);
    filer.DefineProperty(
        "Columns",
        [this](classlib::TReader& r) {
          layout.View.Loading = true;
          columns.ReadColumns(r);
        },
        [this](classlib::TWriter& w) { columns.WriteColumns(w); }, columns.Count() > 0);
  }
  void Loaded() override {
    TComponent::Loaded();
    layout.View.Loading = false;
    layout.RebuildPositionOrder();
  }
};

}  // namespace

CL_CLASS(TColumnsHost) {}

namespace {

using test::BinaryToText;
using test::Save;
using test::TextToBinary;

TColumnsHost* Load(const std::vector<uint8_t>& bytes) {
  classlib::TResourceStream in(bytes.data(), static_cast<int64_t>(bytes.size()));
  classlib::TReader r(in);
  return static_cast<TColumnsHost*>(r.ReadRootComponent(nullptr));
}

std::string Item(const std::string& props) { return "    item\r\n" + props + "    end"; }

// The stored form, text to binary to objects to binary, byte for byte.
TEST(HeaderColumnsForm, TextFormRoundTripIsByteIdentical) {
  classlib::RegisterClass(TColumnsHost::StaticClass());
  struct TCase {
    const char* name;
    std::string columns;
    std::vector<int32_t> widths;
    std::vector<int32_t> order;
  };
  const std::vector<TCase> cases = {
      {"snapshot list",
       Item("      Position = 0\r\n      Width = 100\r\n      WideText = #8470\r\n") + "\r\n" +
           Item("      Position = 1\r\n      Width = 200\r\n"
                "      WideText = #1044#1072#1090#1072\r\n") +
           "\r\n" + Item("      Position = 2\r\n      Width = 200\r\n") + "\r\n" +
           Item("      Position = 3\r\n      Width = 250\r\n"),
       {100, 200, 200, 250},
       {0, 1, 2, 3}},
      {"non-default values, shown in another order",
       Item("      Alignment = taRightJustify\r\n      BiDiMode = bdRightToLeft\r\n"
            "      CaptionAlignment = taCenter\r\n      Color = 255\r\n"
            "      ImageIndex = 2\r\n      Layout = blGlyphTop\r\n      Margin = 6\r\n"
            "      MaxWidth = 400\r\n      MinWidth = 20\r\n"
            "      Options = [coAllowClick, coEnabled, coResizable, coVisible, coFixed, "
            "coUseCaptionAlignment]\r\n"
            "      Position = 1\r\n      Spacing = 2\r\n      Style = vsOwnerDraw\r\n"
            "      Tag = 9\r\n      Width = 300\r\n      WideHint = #1087#1086#1076\r\n") +
           "\r\n" + Item("      Position = 0\r\n"),
       {300, 50},
       {1, 0}},
  };
  for (const TCase& tc : cases) {
    const std::string text =
        "object Tree: TColumnsHost\r\n  Columns = <\r\n" + tc.columns + ">\r\nend\r\n";
    const std::vector<uint8_t> binary = TextToBinary(text);
    TColumnsHost* host = Load(binary);
    ASSERT_NE(host, nullptr) << tc.name;
    ASSERT_EQ(host->columns.Count(), static_cast<int>(tc.widths.size())) << tc.name;
    for (size_t i = 0; i < tc.widths.size(); ++i)
      EXPECT_EQ(host->columns.Items(static_cast<int>(i))->Width(), tc.widths[i]) << tc.name;
    EXPECT_EQ(host->layout.PositionToIndex(), tc.order) << tc.name;
    EXPECT_EQ(BinaryToText(Save(host)), text) << tc.name;
    EXPECT_EQ(Save(host), binary) << tc.name;
    classlib::Free(host);
  }
}

// An 8-bit string where a wide one is stored is taken and converted; the
// writer then stores the wide string.
TEST(HeaderColumnsForm, EightBitTextIsReadAsWideText) {
  classlib::RegisterClass(TColumnsHost::StaticClass());
  const std::string text =
      "object Tree: TColumnsHost\r\n  Columns = <\r\n" +
      Item("      Position = 0\r\n      WideText = 'Nr.'\r\n      WideHint = 'h'\r\n") +
      ">\r\nend\r\n";
  TColumnsHost* host = Load(TextToBinary(text));
  ASSERT_NE(host, nullptr);
  EXPECT_EQ(host->columns.Items(0)->Text(), u"Nr.");
  EXPECT_EQ(host->columns.Items(0)->Hint(), u"h");
  EXPECT_EQ(BinaryToText(Save(host)), text);
  classlib::Free(host);
}

}  // namespace
}  // namespace kelm::lazytree

namespace kelm::lazytree {
namespace {

// The header object through its stream: objects to bytes to new objects
// to the same bytes; a damaged stream changes nothing.
TEST(TreeHeader, StreamRoundTripOfTheSnapshotListAndOtherSets) {
  struct TCase {
    const char* name;
    std::function<void(TLTHeader&)> build;
  };
  const std::vector<TCase> cases = {
      {"snapshot list",
       [](TLTHeader& h) {
         h.Layout().SetHeight(22);
         h.Layout().Options = TLTHeaderOptions{hoVisible, hoColumnResize, hoDrag};
         h.SetStyle(TLTHeaderStyle::hsXPStyle);
         const int widths[] = {100, 200, 200, 250};
         const char16_t* texts[] = {u"\u2116", u"\u0414\u0430\u0442\u0430",
                                    u"\u041E\u043F\u0438\u0441\u0430\u043D\u0438\u0435", u"\u65E5"};
         for (int i = 0; i < 4; ++i) {
           TLazyTreeColumn* c = h.Columns()->Add();
           c->SetWidth(widths[i]);
           c->SetText(texts[i]);
         }
       }},
      {"non-default header values",
       [](TLTHeader& h) {
         for (int i = 0; i < 3; ++i) h.Columns()->Add();
         h.Columns()->Items(0)->SetPosition(2);
         h.Layout().SetSortColumn(1);
         h.Layout().SetMainColumn(2);
         h.Layout().AutoSizeIndex = 1;
         h.Layout().SetMinHeight(15);
         h.Layout().SetMaxHeight(40);
         h.Layout().Limits.Set(TFixedAreaLimits::MaxWidth, 60);
         h.SetBackground(0x00ABCDEF);
         h.SetSortDirection(sdDescending);
         h.SetFont(THeaderFontValues{0x00010203, -13, u"Tahoma", 1, 3});
         h.SetParentFont(true);
         h.SetDefaultHeight(19);
       }},
  };
  for (const TCase& tc : cases) {
    TLTHeader* a = classlib::New<TLTHeader>();
    tc.build(*a);
    const std::vector<uint8_t> first = a->SaveToBytes();
    TLTHeader* b = classlib::New<TLTHeader>();
    b->LoadFromBytes(first.data(), first.size());
    EXPECT_EQ(b->SaveToBytes(), first) << tc.name;
    EXPECT_TRUE(b->Columns()->SameColumnsAs(*a->Columns())) << tc.name;
    EXPECT_EQ(b->Layout().Height(), a->Layout().Height()) << tc.name;
    TLTHeader* c = classlib::New<TLTHeader>();
    c->Assign(a);
    EXPECT_EQ(c->SaveToBytes(), first) << tc.name;

    // Cut short: the read error, and the header as it was.
    const std::vector<uint8_t> before = c->SaveToBytes();
    EXPECT_THROW(c->LoadFromBytes(first.data(), first.size() - 3), classlib::EReadError) << tc.name;
    EXPECT_EQ(c->SaveToBytes(), before) << tc.name;
    classlib::Free(a);
    classlib::Free(b);
    classlib::Free(c);
  }
}

}  // namespace
}  // namespace kelm::lazytree

// The binary component stream: round trips of a tree with every property
// kind, loading order and flags, references, hooks and bad input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "test_classes.h"

namespace classlib::testing {
namespace {

struct Freer {
  void operator()(TObject* o) const { Free(o); }
};
template <class T>
using Owned = std::unique_ptr<T, Freer>;

// Reads bytes into a new, empty form.
Owned<TTestForm> Load(const std::vector<uint8_t>& bytes,
                      const TReader::TReaderError& onError = nullptr,
                      const TReader::TSetNameEvent& onSetName = nullptr) {
  Owned<TTestForm> form(New<TTestForm>(nullptr));
  TResourceStream in(bytes.data(), static_cast<int64_t>(bytes.size()));
  TReader r(in);
  r.OnError = onError;
  r.OnSetName = onSetName;
  r.ReadRootComponent(form.get());
  return form;
}

TTestBox* Box(TComponent* form, const char* name) {
  return dynamic_cast<TTestBox*>(form->FindComponent(name));
}

class FilerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterTestClasses();
    LoadedLog().clear();
    sample.reset(MakeSampleForm());
    bytes = SaveToBytes(sample.get());
  }
  Owned<TTestForm> sample;
  std::vector<uint8_t> bytes;
};

TEST_F(FilerTest, ObjectsToBinaryToObjectsToBinaryIsByteIdentical) {
  auto copy = Load(bytes);
  EXPECT_EQ(SaveToBytes(copy.get()), bytes);
}

TEST_F(FilerTest, EveryPropertyKindReadsBack) {
  auto form = Load(bytes);
  EXPECT_EQ(form->Name(), "frmSample");
  EXPECT_EQ(form->Caption, u"Sample \x00e9\x4e2d");
  TTestBox* a = Box(form.get(), "boxA");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->Left, -5);
  EXPECT_EQ(a->Width, 40000);
  EXPECT_EQ(a->Align, TTestAlign::alClient);
  EXPECT_FALSE(a->Enabled);
  EXPECT_EQ(a->Style, (TTestStyles{fsBold, fsUnderline}));
  EXPECT_DOUBLE_EQ(a->Ratio, 1.5);
  EXPECT_EQ(a->Scale, 0.1f);
  EXPECT_DOUBLE_EQ(a->Price, 12.34);
  EXPECT_DOUBLE_EQ(a->Stamp, 45000.25);
  EXPECT_EQ(a->Big, int64_t(1) << 40);
  EXPECT_EQ(a->Color, 0x0000FF);
  EXPECT_EQ(a->Caption8, "It's 8-bit");
  EXPECT_EQ(a->Text, u"Line 1\r\nLine \x00fc");
  EXPECT_EQ(a->Transient, "");  // not stored
  EXPECT_EQ(a->Hidden, 3);
  EXPECT_EQ(a->Font->Name, "Segoe UI");
  EXPECT_EQ(a->Font->Size, 11);
  EXPECT_EQ(a->Font->Style, TTestStyles{fsItalic});
  EXPECT_EQ(a->Font->Color, 0x123456);
  ASSERT_EQ(a->Items->Count(), 2);
  auto* i1 = static_cast<TTestItem*>(a->Items->Items(0));
  auto* i2 = static_cast<TTestItem*>(a->Items->Items(1));
  EXPECT_EQ(i1->Caption, u"First");
  EXPECT_EQ(i1->Width, 70);
  EXPECT_TRUE(i1->Visible);
  EXPECT_FALSE(i2->Visible);
  ASSERT_EQ(a->Lines->Count(), 3);
  EXPECT_EQ(a->Lines->Get(2), std::string(300, 'x'));
  EXPECT_EQ(a->Inner->Value, 9);
  EXPECT_EQ(a->Data, (std::vector<uint8_t>{0, 1, 0xFE, 0xFF}));
  EXPECT_EQ(a->Marker, -77);
}

TEST_F(FilerTest, ChildrenReferencesAndEventsBindToTheNewForm) {
  auto form = Load(bytes);
  TTestBox* a = Box(form.get(), "boxA");
  TTestBox* b = Box(form.get(), "boxB");
  TTestBox* c = Box(form.get(), "boxC");
  ASSERT_TRUE(a && b && c);
  EXPECT_EQ(form->ComponentCount(), 3);
  EXPECT_EQ(a->Children, std::vector<TTestBox*>{b});
  EXPECT_EQ(b->Children, std::vector<TTestBox*>{c});
  EXPECT_EQ(b->Buddy, a);
  EXPECT_EQ(b->Other, form.get());
  ASSERT_TRUE(a->OnClick);
  EXPECT_EQ(a->OnClick.Data(), form.get());
  a->OnClick(a);
  EXPECT_EQ(form->Clicks, 1);
  EXPECT_EQ(sample->Clicks, 0);
  int v = 5;
  a->OnValue(a, v);
  EXPECT_EQ(form->LastValue, 5);
  EXPECT_EQ(v, 42);
  EXPECT_FALSE(b->OnClick);
}

TEST_F(FilerTest, LoadedRunsRootFirstInReadingOrderAfterReferencesResolve) {
  auto form = Load(bytes);
  EXPECT_EQ(LoadedLog(), (std::vector<std::string>{"frmSample", "boxA", "boxB", "boxC"}));
  TTestBox* a = Box(form.get(), "boxA");
  EXPECT_TRUE(a->SawLoadingInSetter);
  for (int i = 0; i < form->ComponentCount(); ++i) {
    auto s = form->Components(i)->ComponentState();
    EXPECT_FALSE(s.Contains(csLoading) || s.Contains(csReading));
  }
  EXPECT_FALSE(form->ComponentState().Contains(csLoading));
}

TEST_F(FilerTest, WritingFlagIsSetOnlyWhileWriting) {
  EXPECT_FALSE(sample->ComponentState().Contains(csWriting));
  SaveToBytes(sample.get());
  EXPECT_FALSE(sample->ComponentState().Contains(csWriting));
}

TEST_F(FilerTest, DefaultsAndStoredRulesAreNotWritten) {
  Owned<TTestForm> form(New<TTestForm>(nullptr));
  New<TTestBox>(form.get())->SetName("plain");
  std::string text = BinaryToText(SaveToBytes(form.get()));
  // A fresh box writes only what has no default: a string that is not
  // empty and its collection.
  EXPECT_EQ(text,
            "object TTestForm\r\n"
            "  object plain: TTestBox\r\n"
            "    Font.Name = 'Tahoma'\r\n"
            "    Items = <>\r\n"
            "  end\r\n"
            "end\r\n");
}

TEST_F(FilerTest, CollectionsAreClearedBeforeReading) {
  Owned<TTestForm> form(New<TTestForm>(nullptr));
  auto* box = New<TTestBox>(form.get());
  box->SetName("boxA");
  for (int i = 0; i < 5; ++i) box->Items->Add();
  box->Lines->Add("old");
  auto src2 = TextToBinary(
      "object B: TTestBox\r\n"
      "  Items = <\r\n"
      "    item\r\n"
      "      Width = 1\r\n"
      "    end>\r\n"
      "  Lines.Strings = (\r\n"
      "    'new')\r\n"
      "end\r\n");
  TResourceStream in2(src2.data(), static_cast<int64_t>(src2.size()));
  TReader r(in2);
  r.ReadRootComponent(box);
  ASSERT_EQ(box->Items->Count(), 1);
  EXPECT_EQ(static_cast<TTestItem*>(box->Items->Items(0))->Width, 1);
  EXPECT_EQ(box->Lines->Text(), "new\r\n");
}

TEST_F(FilerTest, SetNameHookBlanksNamesSoTwoLoadsShareAnOwner) {
  Owned<TTestForm> owner(New<TTestForm>(nullptr));
  auto blank = [](TReader&, TComponent*, std::string& name) { name.clear(); };
  for (int i = 0; i < 2; ++i) {
    auto* root = New<TTestBox>(owner.get());
    TMemoryStream m;
    {
      Owned<TTestBox> src(New<TTestBox>(nullptr));
      src->SetName("styleRoot");
      src->Width = 7;
      TWriter w(m);
      w.WriteRootComponent(src.get());
    }
    m.SetPosition(0);
    TReader r(m);
    r.OnSetName = blank;
    r.ReadRootComponent(root);
    EXPECT_EQ(root->Name(), "");
    EXPECT_EQ(root->Width, 7);
  }
  EXPECT_EQ(owner->ComponentCount(), 2);
}

TEST_F(FilerTest, DesigningRootKeepsItsName) {
  Owned<TTestBox> root(New<TTestBox>(nullptr));
  root->SetName("keep");
  root->SetDesigning(true, false);
  auto src = TextToBinary("object other: TTestBox\r\n  Width = 3\r\nend\r\n");
  TResourceStream in(src.data(), static_cast<int64_t>(src.size()));
  TReader(in).ReadRootComponent(root.get());
  EXPECT_EQ(root->Name(), "keep");
  EXPECT_EQ(root->Width, 3);
}

TEST_F(FilerTest, ReadingWithoutARootMakesTheStreamsClass) {
  TResourceStream in(bytes.data(), static_cast<int64_t>(bytes.size()));
  TReader r(in);
  Owned<TComponent> root(r.ReadRootComponent(nullptr));
  ASSERT_NE(dynamic_cast<TTestForm*>(root.get()), nullptr);
  EXPECT_EQ(root->ComponentCount(), 3);
}

TEST_F(FilerTest, SecondInstanceOfAFormInOneOwnerGetsAFreeName) {
  Owned<TComponent> app(New<TComponent>(nullptr));
  for (const char* expected : {"frmSample", "frmSample_1"}) {
    auto* f = New<TTestForm>(app.get());
    TResourceStream in(bytes.data(), static_cast<int64_t>(bytes.size()));
    TReader(in).ReadRootComponent(f);
    EXPECT_EQ(f->Name(), expected);
  }
}

TEST_F(FilerTest, ReferencesInCollectionItemsResolveAndDieWithTheirItems) {
  auto src = TextToBinary(
      "object f: TTestForm\r\n"
      "  object a: TTestBox\r\n"
      "    Items = <\r\n"
      "      item\r\n"
      "        Link = b\r\n"
      "      end>\r\n"
      "  end\r\n"
      "  object b: TTestBox\r\n"
      "    Items = <\r\n"
      "      item\r\n"
      "        Link = a\r\n"
      "      end>\r\n"
      "    Items = <>\r\n"  // the item holding a pending reference goes
      "  end\r\n"
      "end\r\n");
  auto form = Load(src);
  TTestBox* a = Box(form.get(), "a");
  TTestBox* b = Box(form.get(), "b");
  ASSERT_EQ(a->Items->Count(), 1);
  EXPECT_EQ(static_cast<TTestItem*>(a->Items->Items(0))->Link, b);
  EXPECT_EQ(b->Items->Count(), 0);
}

// ---- references beyond the form
TComponent* g_otherForm = nullptr;
TComponent* FindOther(std::string_view name) {
  return g_otherForm && SameText(g_otherForm->Name(), name) ? g_otherForm : nullptr;
}

TEST_F(FilerTest, ReferenceIntoAnotherLiveFormResolvesByFormName) {
  Owned<TTestForm> other(New<TTestForm>(nullptr));
  other->SetName("frmManager");
  auto* res = New<TTestBox>(other.get());
  res->SetName("sgResources1");
  g_otherForm = other.get();
  RegisterFindGlobalComponent(FindOther);
  auto src = TextToBinary(
      "object dlg: TTestForm\r\n"
      "  object box: TTestBox\r\n"
      "    Buddy = frmManager.sgResources1\r\n"
      "  end\r\n"
      "end\r\n");
  auto form = Load(src);
  UnRegisterFindGlobalComponent(FindOther);
  g_otherForm = nullptr;
  TTestBox* box = Box(form.get(), "box");
  ASSERT_NE(box, nullptr);
  EXPECT_EQ(box->Buddy, res);
  // Written back the same way.
  EXPECT_NE(BinaryToText(SaveToBytes(form.get())).find("Buddy = frmManager.sgResources1"),
            std::string::npos);
  // Freeing the target clears the reference through the free notification.
  Free(res);
  EXPECT_EQ(box->Buddy, nullptr);
}

// A header object that stores its columns through a defined property, the
// way a tree stores "Columns": the raw reader and the writer's path.
class THeader : public TPersistent {
  CL_DECLARE_CLASS(THeader, TPersistent)
 public:
  THeader() : columns(New<TOwnedCollection>(this, TTestItem::StaticClass())) {}
  ~THeader() override { Free(columns); }
  void DefineProperties(TFiler& filer) override {
    filer.DefineProperty(
        "Columns",
        [this](TReader& r) {
          if (r.NextValue() != TValueType::vaCollection)
            throw EReadError(u"Invalid property value");
          r.ReadValue();
          r.ReadCollection(columns);
        },
        [this](TWriter& w) {
          std::string path = w.PropPath();
          w.SetPropPath("");
          w.WriteCollection(columns);
          w.SetPropPath(path);
        },
        columns->Count() > 0);
  }
  TOwnedCollection* columns;
  int Height = 17;
};
CL_CLASS(THeader) { c.Int("Height", &THeader::Height, &THeader::Height).Default(17); }

class TTree : public TComponent {
  CL_DECLARE_CLASS(TTree, TComponent)
 public:
  explicit TTree(TComponent* owner) : TComponent(owner), header(New<THeader>()) {}
  ~TTree() override { Free(header); }
  void SetHeader(THeader* h) { header->Height = h->Height; }
  THeader* header;
};
CL_CLASS(TTree) { c.Object("Header", &TTree::header, &TTree::SetHeader); }

TEST_F(FilerTest, DefinedPropertiesOfSubObjectsUseTheRawReaderAndWriterPath) {
  RegisterClass(TTree::StaticClass());
  Owned<TTree> tree(New<TTree>(nullptr));
  tree->header->Height = 20;
  static_cast<TTestItem*>(tree->header->columns->Add())->Width = 5;
  tree->header->columns->Add();
  auto bin = SaveToBytes(tree.get());
  EXPECT_EQ(BinaryToText(bin),
            "object TTree\r\n"
            "  Header.Height = 20\r\n"
            "  Header.Columns = <\r\n"
            "    item\r\n"
            "      Width = 5\r\n"
            "    end\r\n"
            "    item\r\n"
            "    end>\r\n"
            "end\r\n");
  Owned<TTree> copy(New<TTree>(nullptr));
  copy->header->columns->Add();  // replaced, not added to
  TResourceStream in(bin.data(), static_cast<int64_t>(bin.size()));
  TReader(in).ReadRootComponent(copy.get());
  ASSERT_EQ(copy->header->columns->Count(), 2);
  EXPECT_EQ(static_cast<TTestItem*>(copy->header->columns->Items(0))->Width, 5);
  EXPECT_EQ(copy->header->Height, 20);
  EXPECT_EQ(SaveToBytes(copy.get()), bin);
}

// ---- bad input
struct BadCase {
  const char* name;
  const char* text;        // one box property (or a whole object when it starts with "object")
  const char* expectText;  // part of the error message
  bool skippable;          // the error hook may skip it and reading goes on
};

const BadCase kBadCases[] = {
    {"unknown property", "Bogus = 1", "Property Bogus does not exist", true},
    {"unknown dotted property", "Font.Bogus = 1", "Property Font.Bogus does not exist", true},
    {"dotted through a non-object", "Width.X = 1", "Property Width.X does not exist", true},
    {"string for an integer", "Width = 'wide'", "Invalid property value", true},
    {"integer out of range", "Width = 3000000000", "Invalid property value", true},
    {"unknown enumeration name", "Align = alSideways", "Invalid property value", true},
    {"unknown set member", "Style = [fsBold, fsShadow]", "Invalid property value", true},
    {"list for a float", "Ratio = (1)", "Invalid property value", true},
    {"unknown colour name", "Color = clPurple", "Invalid property value", true},
    {"unknown handler", "OnClick = NoSuchHandler", "Method NoSuchHandler not found", true},
    {"handler of another shape", "OnClick = ValueChange", "does not match", true},
    {"collection for a reference", "Buddy = <>", "Invalid property value", true},
    {"wrong type in a collection item", "Items = <\r\n item\r\n Width = 'x'\r\n end>",
     "Invalid property value", true},
    {"wrong type in a defined property", "Marker = 'text'", "Invalid property value", true},
    {"unresolved reference", "Buddy = nobody", "Unresolved reference to nobody", true},
    {"reference of the wrong class", "Buddy = frmBad", "is not a TTestBox", true},
};

std::vector<uint8_t> BadStream(const BadCase& c) {
  std::string text = "object frmBad: TTestForm\r\n  object first: TTestBox\r\n";
  text += std::string("    ") + c.text + "\r\n";
  text +=
      "    Width = 11\r\n  end\r\n  object second: TTestBox\r\n    Width = 22\r\n  end\r\nend\r\n";
  return TextToBinary(text);
}

TEST_F(FilerTest, BadValuesRaiseAClearErrorWithoutAHook) {
  for (const auto& c : kBadCases) {
    SCOPED_TRACE(c.name);
    auto src = BadStream(c);
    Owned<TTestForm> form(New<TTestForm>(nullptr));
    TResourceStream in(src.data(), static_cast<int64_t>(src.size()));
    TReader r(in);
    try {
      r.ReadRootComponent(form.get());
      ADD_FAILURE() << "no error";
    } catch (const EReadError& e) {
      EXPECT_NE(std::string(e.what()).find(c.expectText), std::string::npos) << e.what();
    }
    // Whatever was made is complete and out of its loading state.
    for (int i = 0; i < form->ComponentCount(); ++i)
      EXPECT_FALSE(form->Components(i)->ComponentState().Contains(csLoading));
    EXPECT_FALSE(form->ComponentState().Contains(csLoading));
  }
}

TEST_F(FilerTest, HandledErrorsSkipTheValueAndReadingGoesOn) {
  for (const auto& c : kBadCases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(c.skippable);
    std::vector<std::u16string> seen;
    auto form = Load(BadStream(c), [&](TReader&, const std::u16string& m, bool& handled) {
      seen.push_back(m);
      handled = true;
    });
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_NE(WideToUtf8(seen[0]).find(c.expectText), std::string::npos);
    TTestBox* first = Box(form.get(), "first");
    TTestBox* second = Box(form.get(), "second");
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->Width, 11);
    EXPECT_EQ(second->Width, 22);
    EXPECT_EQ(LoadedLog().back(), "second");
    LoadedLog().clear();
  }
}

TEST_F(FilerTest, UnknownChildClassFailsAndFreesNothingComplete) {
  auto src = TextToBinary(
      "object f: TTestForm\r\n"
      "  object ok: TTestBox\r\n"
      "  end\r\n"
      "  object bad: TNoSuchClass\r\n"
      "  end\r\n"
      "end\r\n");
  Owned<TTestForm> form(New<TTestForm>(nullptr));
  TResourceStream in(src.data(), static_cast<int64_t>(src.size()));
  TReader r(in);
  EXPECT_THROW(r.ReadRootComponent(form.get()), EClassNotFound);
  ASSERT_EQ(form->ComponentCount(), 1);
  EXPECT_FALSE(form->Components(0)->IsLoading());
}

TEST_F(FilerTest, UnknownRootClassConstructsNothing) {
  auto src = TextToBinary("object x: TNoSuchClass\r\nend\r\n");
  TResourceStream in(src.data(), static_cast<int64_t>(src.size()));
  TReader r(in);
  EXPECT_THROW(r.ReadRootComponent(nullptr), EClassNotFound);
}

TEST_F(FilerTest, ComponentsThatFailAreFreedAndUnlinked) {
  // A truncated grandchild: it and the parent it broke are freed; the
  // complete first child stays, detached from the freed parent.
  auto src = TextToBinary(
      "object f: TTestForm\r\n"
      "  object p: TTestBox\r\n"
      "    object c1: TTestBox\r\n"
      "    end\r\n"
      "    object c2: TTestBox\r\n"
      "      Width = 5\r\n"
      "    end\r\n"
      "  end\r\n"
      "end\r\n");
  // Cut inside c2's Width value.
  const char tag[] = "\x05Width";
  auto it = std::search(src.begin(), src.end(), tag, tag + 6);
  ASSERT_NE(it, src.end());
  src.resize(static_cast<size_t>(it - src.begin()) + 7);
  Owned<TTestForm> form(New<TTestForm>(nullptr));
  TResourceStream in(src.data(), static_cast<int64_t>(src.size()));
  TReader r(in);
  r.OnError = [](TReader&, const std::u16string&, bool& handled) { handled = true; };
  EXPECT_THROW(r.ReadRootComponent(form.get()), EReadError);
  EXPECT_EQ(Box(form.get(), "p"), nullptr);
  EXPECT_EQ(Box(form.get(), "c2"), nullptr);
  ASSERT_EQ(form->ComponentCount(), 1);
  TTestBox* c1 = Box(form.get(), "c1");
  ASSERT_NE(c1, nullptr);
  EXPECT_EQ(c1->ParentBox, nullptr);
  EXPECT_FALSE(c1->IsLoading());
}

TEST_F(FilerTest, EveryTruncationFailsCleanly) {
  for (size_t n = 0; n < bytes.size(); ++n) {
    std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<long>(n));
    Owned<TTestForm> form(New<TTestForm>(nullptr));
    TResourceStream in(cut.data(), static_cast<int64_t>(cut.size()));
    TReader r(in);
    r.OnError = [](TReader&, const std::u16string&, bool& handled) { handled = true; };
    EXPECT_THROW(r.ReadRootComponent(form.get()), EReadError) << "cut at " << n;
    for (int i = 0; i < form->ComponentCount(); ++i) EXPECT_FALSE(form->Components(i)->IsLoading());
  }
}

TEST_F(FilerTest, MalformedHeadersAndLengths) {
  struct Raw {
    const char* name;
    std::vector<uint8_t> data;
  };
  auto str = [](const char* s) { return std::vector<uint8_t>(s, s + std::strlen(s)); };
  std::vector<Raw> cases;
  // str() stops at the first NUL: the stream ends right after the class name.
  cases.push_back(
      {"wrong signature",
       str("TPF1\x09TTestForm\x00\x00\x00")});  // NOLINT(bugprone-string-literal-with-embedded-nul)
  cases.push_back({"empty", {}});
  // Long string claiming 4 GB.
  auto big =
      str("TPF0\x09TTestForm\x01"
          "F\x07"
          "Caption\x0c\xff\xff\xff\xff");
  cases.push_back({"huge long string", big});
  auto wide =
      str("TPF0\x09TTestForm\x01"
          "F\x07"
          "Caption\x12\xff\xff\xff\x7f");
  cases.push_back({"huge wide string", wide});
  auto tag =
      str("TPF0\x09TTestForm\x01"
          "F\x07"
          "Caption\x63");
  cases.push_back({"unknown value tag", tag});
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    Owned<TTestForm> form(New<TTestForm>(nullptr));
    TResourceStream in(c.data.data(), static_cast<int64_t>(c.data.size()));
    TReader r(in);
    r.OnError = [](TReader&, const std::u16string&, bool& handled) { handled = true; };
    EXPECT_THROW(r.ReadRootComponent(form.get()), EReadError);
  }
}

TEST_F(FilerTest, DeepNestingIsRefused) {
  std::string text = "object f: TTestForm\r\n";
  for (int i = 0; i < 300; ++i) text += "object TTestBox\r\n";
  for (int i = 0; i < 300; ++i) text += "end\r\n";
  text += "end\r\n";
  EXPECT_THROW(TextToBinary(text), EParserError);
  // Build the deep binary by hand-nesting a valid prefix.
  std::vector<uint8_t> b = {'T', 'P', 'F', '0', 9,   'T', 'T', 'e',
                            's', 't', 'F', 'o', 'r', 'm', 0,   0};
  for (int i = 0; i < 300; ++i) {
    const char* cls = "\x08TTestBox\x00\x00";
    b.insert(b.end(), cls, cls + 11);
  }
  Owned<TTestForm> form(New<TTestForm>(nullptr));
  TResourceStream in(b.data(), static_cast<int64_t>(b.size()));
  TReader r(in);
  EXPECT_THROW(r.ReadRootComponent(form.get()), EReadError);
  EXPECT_EQ(form->ComponentCount(), 0);
}

}  // namespace
}  // namespace classlib::testing

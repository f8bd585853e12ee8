// Wide string lists.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "classlib/streams.h"
#include "classlib/strings.h"
#include "scene/sg_classes.h"
#include "scene/sg_wide_strings.h"
#include "tree_test_classes.h"

namespace kelm::scene {
namespace {

using Lines = std::vector<std::u16string>;

Lines Of(const TsgWideStrings& l) {
  Lines r;
  for (int i = 0; i < l.Count(); ++i) r.push_back(l.Get(i));
  return r;
}

// A list with its error hook and change events recorded.
struct Fixture {
  TsgWideStringList* list = classlib::New<TsgWideStringList>();
  std::vector<std::u16string> errors;
  int changing = 0, changed = 0;
  struct Counter : classlib::TObject {
    Fixture* f = nullptr;
    void Changing(classlib::TObject*) { ++f->changing; }
    void Changed(classlib::TObject*) { ++f->changed; }
  } counter;
  Fixture() {
    counter.f = this;
    list->OnError = [this](const std::u16string& m) { errors.push_back(m); };
    list->OnChanging = classlib::EventOf<&Counter::Changing>(&counter);
    list->OnChange = classlib::EventOf<&Counter::Changed>(&counter);
  }
  ~Fixture() { classlib::Free(list); }
};

TEST(SceneWideStrings, TextSplitsAtEveryLineBreak) {
  struct {
    std::u16string text;
    Lines lines;
  } cases[] = {
      {u"a\r\nb\r\n", {u"a", u"b"}},
      {u"a\r\rb", {u"a", u"", u"b"}},
      {u"a\nb", {u"a", u"b"}},
      {u"a\n\r\nb", {u"a", u"", u"b"}},
      {u"a\x2028"
       u"b\x2029"
       u"c",
       {u"a", u"b", u"c"}},
      {std::u16string(u"a\0b", 3), {u"a", u"b"}},
      {u"a\vb\fc", {u"a", u"b", u"c"}},
      {u"", {}},
      {u"\r\n", {u""}},
      {u"a\n\n", {u"a", u""}},
  };
  Fixture f;
  for (const auto& c : cases) {
    f.list->SetTextStr(c.text);
    EXPECT_EQ(Of(*f.list), c.lines);
  }
  f.list->SetTextStr(u"x\ny");
  EXPECT_EQ(f.list->GetTextStr(), u"x\r\ny\r\n");
}

TEST(SceneWideStrings, LoadFromStreamReadsBothByteOrderMarks) {
  struct {
    const char* what;
    std::vector<uint8_t> bytes;
    Lines lines;
  } cases[] = {
      {"little-endian", {0xFF, 0xFE, 'h', 0, 'i', 0, '\n', 0, 0x3B, 0x04}, {u"hi", u"\x043B"}},
      {"big-endian", {0xFE, 0xFF, 0, 'h', 0, 'i', 0x04, 0x3B}, {u"hi\x043B"}},
      {"odd last byte", {0xFF, 0xFE, 'a', 0, 'b'}, {u"a"}},
      {"no mark", {'a', 'b', '\r', '\n', 'c'}, {u"ab", u"c"}},
      {"8-bit code page", {'c', 'a', 'f', 0xE9}, {u"caf\xE9"}},
      {"one byte", {'x'}, {u"x"}},
      {"mark only", {0xFF, 0xFE}, {}},
      {"empty", {}, {}},
  };
  for (const auto& c : cases) {
    Fixture f;
    f.list->Add(u"old");
    classlib::TMemoryStream m;
    if (!c.bytes.empty()) m.WriteBuffer(c.bytes.data(), static_cast<int64_t>(c.bytes.size()));
    m.SetPosition(0);
    f.list->LoadFromStream(m);
    EXPECT_EQ(Of(*f.list), c.lines) << c.what;
  }
}

TEST(SceneWideStrings, SavesUtf16WithMarkAndFilesRoundTrip) {
  Fixture f;
  f.list->SetTextStr(u"\x043F\x0440\nab");
  classlib::TMemoryStream m;
  f.list->SaveToStream(m);
  const std::vector<uint8_t> want = {0xFF, 0xFE, 0x3F, 0x04, 0x40, 0x04, '\r', 0,    '\n',
                                     0,    'a',  0,    'b',  0,    '\r', 0,    '\n', 0};
  EXPECT_EQ(m.Bytes(), want);

  std::string dir = ::testing::TempDir();
  std::u16string path = classlib::Utf8ToWide(dir + "scene_wide_strings.txt");
  f.list->SaveToFile(path);
  Fixture g;
  g.list->LoadFromFile(path);
  EXPECT_EQ(Of(*g.list), Of(*f.list));
  g.list->LoadFromFile(classlib::Utf8ToWide(dir + "no_such_file.txt"));
  EXPECT_EQ(Of(*g.list), Of(*f.list));  // unchanged, nothing raised

  f.list->SetTextStr(u"caf\xE9");
  f.list->SaveToFileAnsi(path);
  classlib::TFileStream in(path, classlib::fmOpenRead);
  std::vector<uint8_t> bytes(static_cast<size_t>(in.Size()));
  in.ReadBuffer(bytes.data(), in.Size());
  EXPECT_EQ(bytes, (std::vector<uint8_t>{'c', 'a', 'f', 0xE9, '\r', '\n'}));
}

TEST(SceneWideStrings, SortedListDuplicatesAndRefusals) {
  Fixture f;
  f.list->SetSorted(true);
  for (const char16_t* s : {u"pear", u"Apple", u"fig"}) f.list->Add(s);
  EXPECT_EQ(Of(*f.list), (Lines{u"Apple", u"fig", u"pear"}));
  // Ignore: the existing index, nothing added.
  EXPECT_EQ(f.list->Add(u"FIG"), 1);
  EXPECT_EQ(f.list->Count(), 3);
  f.list->SetDuplicates(TsgDuplicates::dupError);
  EXPECT_EQ(f.list->Add(u"fig"), 1);
  EXPECT_EQ(f.errors, (std::vector<std::u16string>{u"Doublicate string"}));
  EXPECT_EQ(f.list->Count(), 4);  // inserted anyway
  f.list->SetDuplicates(TsgDuplicates::dupAccept);
  f.list->Add(u"fig");
  EXPECT_EQ(f.list->Count(), 5);
  int index = -1;
  f.list->SetDuplicates(TsgDuplicates::dupIgnore);
  EXPECT_TRUE(f.list->Find(u"FIG", index));
  EXPECT_EQ(index, 1);  // the first of the equal strings
  EXPECT_FALSE(f.list->Find(u"grape", index));
  EXPECT_EQ(index, 4);  // insertion point

  // Insert, Put and Move are refused on a sorted list and change nothing.
  f.errors.clear();
  Lines before = Of(*f.list);
  f.list->Insert(0, u"zzz");
  f.list->Put(0, u"zzz");
  f.list->Move(0, 2);
  EXPECT_EQ(Of(*f.list), before);
  EXPECT_EQ(f.errors, (std::vector<std::u16string>(3, u"Sorted list error")));
}

TEST(SceneWideStrings, IndexErrorsGoToTheHook) {
  Fixture f;
  f.list->SetTextStr(u"a\nb");
  f.list->Delete(5);
  f.list->Exchange(0, 9);
  f.list->Insert(4, u"x");
  f.list->PutObject(-1, nullptr);
  EXPECT_EQ(f.list->GetObject(2), nullptr);
  EXPECT_EQ(f.list->Get(99), u"");
  EXPECT_EQ(f.list->Get(-1), u"");
  EXPECT_EQ(Of(*f.list), (Lines{u"a", u"b"}));
  EXPECT_EQ(f.errors, (std::vector<std::u16string>(5, u"List index error")));
  f.list->Insert(2, u"c");  // Count itself is a valid insertion index
  f.list->Move(2, 0);
  EXPECT_EQ(Of(*f.list), (Lines{u"c", u"a", u"b"}));
}

TEST(SceneWideStrings, SortsCaseInsensitivelyOrByObjectDescending) {
  Fixture f;
  f.list->SetTextStr(
      u"b\nC\na\n\x00C4x\n\x00E4"
      u"a");
  f.list->Sort();
  // In the comparison's order (the system's on Windows places the accented
  // letters among the plain ones, ours after them): check the order itself
  // and the cases both agree on.
  Lines sorted = Of(*f.list);
  ASSERT_EQ(sorted.size(), 5u);
  for (size_t i = 1; i < sorted.size(); ++i)
    EXPECT_LE(classlib::UnicodeCompareText(sorted[i - 1], sorted[i]), 0) << i;
  auto pos = [&sorted](const std::u16string& s) {
    return std::find(sorted.begin(), sorted.end(), s) - sorted.begin();
  };
  EXPECT_LT(pos(u"a"), pos(u"b"));
  EXPECT_LT(pos(u"b"), pos(u"C"));
  EXPECT_LT(pos(u"\x00E4"
                u"a"),
            pos(u"\x00C4x"));
  f.list->Clear();
  for (intptr_t v : {5, -3, 12, 0}) f.list->AddObject(u"", reinterpret_cast<classlib::TObject*>(v));
  f.list->SetSortByObject(true);
  f.list->Sort();
  std::vector<intptr_t> objs(static_cast<size_t>(f.list->Count()));
  for (size_t i = 0; i < objs.size(); ++i)
    objs[i] = reinterpret_cast<intptr_t>(f.list->GetObject(static_cast<int>(i)));
  EXPECT_EQ(objs, (std::vector<intptr_t>{12, 5, 0, -3}));
  f.list->SetSorted(true);
  int index = -1;
  EXPECT_TRUE(f.list->FindObject(0, index));
  EXPECT_EQ(index, 2);
  EXPECT_FALSE(f.list->FindObject(7, index));
  EXPECT_EQ(index, 1);
}

TEST(SceneWideStrings, UnicodeCaseInsensitiveLookupUnlessCaseSensitive) {
  Fixture f;
  f.list->SetTextStr(u"\x041F\x0420\x0418\x0412\x0415\x0422\n\x00C9T\x00C9\nname=Value\nother=x");
  EXPECT_EQ(f.list->IndexOf(u"\x043F\x0440\x0438\x0432\x0435\x0442"), 0);
  EXPECT_EQ(f.list->IndexOf(u"\x00E9t\x00E9"), 1);
  EXPECT_EQ(f.list->IndexOfName(u"NAME"), 2);
  EXPECT_EQ(f.list->IndexOfValue(u"value"), 2);
  EXPECT_EQ(f.list->Values(u"Other"), u"x");
  EXPECT_EQ(f.list->Values(u"none"), u"");
  EXPECT_EQ(f.list->Names(2), u"name");
  EXPECT_EQ(f.list->Names(0), u"");
  f.list->SetCaseSensitive(true);
  EXPECT_EQ(f.list->IndexOf(u"\x00E9t\x00E9"), -1);
  EXPECT_EQ(f.list->IndexOf(u"\x00C9T\x00C9"), 1);
  // Sorted and case-sensitive: lookups agree with the sorted order.
  f.list->SetSorted(true);
  for (int i = 0; i < f.list->Count(); ++i) EXPECT_EQ(f.list->IndexOf(f.list->Get(i)), i);
}

TEST(SceneWideStrings, ChangeEventsAndCapacityGrowth) {
  Fixture f;
  f.list->Add(u"a");
  EXPECT_EQ(f.changing, 1);
  EXPECT_EQ(f.changed, 1);
  f.list->BeginUpdate();
  f.list->BeginUpdate();
  f.list->Add(u"b");
  f.list->Add(u"c");
  f.list->EndUpdate();
  EXPECT_EQ(f.changed, 1);
  f.list->EndUpdate();
  EXPECT_EQ(f.changing, 2);  // once at the outermost begin
  EXPECT_EQ(f.changed, 2);   // once at the outermost end
  f.list->Clear();
  EXPECT_EQ(f.changed, 3);
  EXPECT_EQ(f.list->GetCapacity(), 0);
  std::vector<int> capacities;
  for (int i = 0; i < 80; ++i) {
    int before = f.list->GetCapacity();
    f.list->Add(u"x");
    if (f.list->GetCapacity() != before) capacities.push_back(f.list->GetCapacity());
  }
  EXPECT_EQ(capacities, (std::vector<int>{4, 8, 12, 28, 44, 60, 76, 95}));
}

TEST(SceneWideStrings, AssignsToAndFromEightBitLists) {
  Fixture f;
  auto* ansi = classlib::New<classlib::TStringList>();
  ansi->Add("one");
  ansi->AddObject("caf\xE9", ansi);
  f.list->Add(u"gone");
  f.list->Assign(ansi);
  EXPECT_EQ(Of(*f.list), (Lines{u"one", u"caf\xE9"}));
  EXPECT_EQ(f.list->GetObject(1), ansi);
  EXPECT_EQ(f.changed, 2);  // the add, then one for the whole assignment
  f.list->Add(u"\x043F");
  f.list->AssignTo(ansi);
  EXPECT_EQ(ansi->Count(), 3);
  EXPECT_EQ(ansi->Get(1), "caf\xE9");
  EXPECT_EQ(ansi->Get(2), "?");
  Fixture g;
  g.list->Assign(f.list);
  EXPECT_EQ(Of(*g.list), Of(*f.list));
  classlib::Free(ansi);
}

TEST(SceneWideStrings, StreamsAsOneStringsProperty) {
  test::RegisterTestClasses();
  auto* obj = classlib::New<test::TTestObject>(nullptr);
  classlib::TStringStream empty;
  SaveObjectToTextStream(obj, empty);
  EXPECT_EQ(empty.DataString().find("strings"), std::string::npos);
  obj->Lines()->SetTextStr(u"first\n\x043F\nthird");
  classlib::TMemoryStream bin;
  SaveObjectToStream(obj, bin);
  bin.SetPosition(0);
  auto* copy = dynamic_cast<test::TTestObject*>(LoadObjectFromStream(nullptr, bin));
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(Of(*copy->Lines()), Of(*obj->Lines()));
  classlib::TStringStream text;
  SaveObjectToTextStream(obj, text);
  EXPECT_NE(text.DataString().find("Lines.strings = ("), std::string::npos) << text.DataString();
  classlib::Free(copy);
  classlib::Free(obj);
}

}  // namespace
}  // namespace kelm::scene

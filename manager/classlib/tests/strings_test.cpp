// String lists and TList.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classlib/classes.h"

namespace classlib {
namespace {

class TCounter : public TObject {
  CL_DECLARE_CLASS(TCounter, TObject)
 public:
  TCounter() = default;
  void Changing(TObject*) { log += "<"; }
  void Changed(TObject*) { log += ">"; }
  std::string log;
};
CL_CLASS(TCounter) {}

TEST(StringList, SortedListsFindAndPlaceStrings) {
  struct Case {
    TDuplicates dup;
    std::vector<std::string> expected;
    int dupIndex;
  } cases[] = {
      {TDuplicates::dupIgnore, {"a", "B", "c"}, 1},
      {TDuplicates::dupAccept, {"a", "b", "B", "c"}, 1},  // before the equal one
  };
  for (const auto& c : cases) {
    TStringList l;
    l.SetSorted(true);
    l.SetDuplicates(c.dup);
    l.Add("c");
    l.Add("B");
    l.Add("a");
    EXPECT_EQ(l.Add("b"), c.dupIndex);
    std::vector<std::string> got;
    got.reserve(l.Count());
    for (int i = 0; i < l.Count(); ++i) got.push_back(l[i]);
    EXPECT_EQ(got, c.expected);
    int at = -1;
    EXPECT_TRUE(l.Find("C", at));
    EXPECT_EQ(at, l.Count() - 1);
    EXPECT_FALSE(l.Find("bb", at));
    EXPECT_EQ(at, l.Count() - 1);  // insertion point
    EXPECT_EQ(l.IndexOf("A"), 0);
  }
  TStringList e;
  e.SetSorted(true);
  e.SetDuplicates(TDuplicates::dupError);
  e.Add("x");
  EXPECT_THROW(e.Add("X"), EStringListError);
  EXPECT_EQ(e.Count(), 1);
  EXPECT_THROW(e.Insert(0, "y"), EStringListError);
  EXPECT_THROW(e.Put(0, "y"), EStringListError);
}

TEST(StringList, CaseSensitivityChangesTheOrder) {
  TStringList l;
  l.Add("b");
  l.Add("B");
  l.Add("a");
  l.SetCaseSensitive(true);
  l.SetSorted(true);
  EXPECT_EQ(l.Text(), "B\r\na\r\nb\r\n");
  EXPECT_EQ(l.IndexOf("A"), -1);
}

TEST(StringList, ObjectsTravelWithTheirStrings) {
  TStringList l;
  TObject* o1 = reinterpret_cast<TObject*>(&l);
  l.AddObject("one", o1);
  l.AddObject("two", nullptr);
  l.Exchange(0, 1);
  EXPECT_EQ(l.GetObject(1), o1);
  l.Move(1, 0);
  EXPECT_EQ(l[0], "one");
  EXPECT_EQ(l.IndexOfObject(o1), 0);
  TStringList copy;
  copy.Assign(&l);
  EXPECT_EQ(copy.Objects(0), o1);
  EXPECT_TRUE(copy.Equals(&l));
}

TEST(StringList, OwnedObjectsAreFreed) {
  // ASan reports a leak if the list does not free them.
  TStringList l;
  l.SetOwnsObjects(true);
  l.AddObject("a", New<TStringList>());
  l.AddObject("b", New<TStringList>());
  l.Delete(0);
  EXPECT_EQ(l.Count(), 1);
}

TEST(StringList, IndexErrorsRaiseTheListError) {
  TStringList l;
  l.Add("x");
  EXPECT_THROW(l.Get(1), EStringListError);
  EXPECT_THROW(l.Get(-1), EStringListError);
  EXPECT_THROW(l.Delete(1), EStringListError);
  EXPECT_THROW(l.Insert(3, "y"), EStringListError);
  EXPECT_THROW(l.Exchange(0, 5), EStringListError);
  try {
    l.Get(7);
  } catch (const EListError& e) {
    EXPECT_STREQ(e.what(), "List index out of bounds (7)");
  }
}

TEST(StringList, TextSplitsAtEveryLineBreakKind) {
  struct Case {
    const char* text;
    std::vector<std::string> lines;
  } cases[] = {
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\nb", {"a", "b"}},
      {"a\r\rb", {"a", "", "b"}},
      {"", {}},
      {"\r\n", {""}},
  };
  for (const auto& c : cases) {
    TStringList l;
    l.SetText(c.text);
    std::vector<std::string> got;
    got.reserve(l.Count());
    for (int i = 0; i < l.Count(); ++i) got.push_back(l[i]);
    EXPECT_EQ(got, c.lines) << c.text;
  }
}

TEST(StringList, NamesAndValues) {
  TStringList l;
  l.SetText("Left=10\r\nnoequals\r\nTop=2=3\r\n");
  EXPECT_EQ(l.Values("top"), "2=3");
  EXPECT_EQ(l.Names(1), "");
  EXPECT_EQ(l.IndexOfName("LEFT"), 0);
  l.SetValue("Left", "11");
  EXPECT_EQ(l[0], "Left=11");
  l.SetValue("Width", "5");
  EXPECT_EQ(l[3], "Width=5");
  l.SetValue("Left", "");
  EXPECT_EQ(l.IndexOfName("Left"), -1);
}

TEST(StringList, ChangeEventsFireOncePerUpdate) {
  TCounter c;
  TStringList l;
  l.OnChanging = EventOf<&TCounter::Changing>(&c);
  l.OnChange = EventOf<&TCounter::Changed>(&c);
  l.Add("x");
  EXPECT_EQ(c.log, "<>");
  c.log.clear();
  l.BeginUpdate();
  l.Add("y");
  l.Add("z");
  l.Delete(0);
  EXPECT_EQ(c.log, "<");
  l.EndUpdate();
  EXPECT_EQ(c.log, "<>");
  c.log.clear();
  l.SetText("a\r\nb");
  EXPECT_EQ(c.log, "<>");
}

TEST(StringList, StreamsAsBytesInTheCodePage) {
  TStringList l;
  l.Add("caf\xe9");
  l.Add("two");
  TMemoryStream m;
  l.SaveToStream(m);
  EXPECT_EQ(m.Size(), 11);  // one byte per character, CR LF after each
  m.SetPosition(0);
  TStringList back;
  back.LoadFromStream(m);
  EXPECT_TRUE(back.Equals(&l));
}

TEST(List, IndexErrorsAndOrdering) {
  TList l;
  int a = 1, b = 2, c = 3;
  l.Add(&a);
  l.Add(&b);
  l.Insert(0, &c);
  EXPECT_EQ(l.IndexOf(&a), 1);
  l.Move(0, 2);
  EXPECT_EQ(l.Last(), &c);
  l.Exchange(0, 1);
  EXPECT_EQ(l.First(), &b);
  l.Sort([](void* x, void* y) { return *static_cast<int*>(x) - *static_cast<int*>(y); });
  EXPECT_EQ(*l.Item<int>(0), 1);
  EXPECT_EQ(*l.Item<int>(2), 3);
  EXPECT_EQ(l.Remove(&b), 1);
  EXPECT_EQ(l.Remove(&b), -1);
  EXPECT_THROW(l.Get(2), EListError);
  EXPECT_THROW(l.Insert(3, &a), EListError);
  EXPECT_THROW(l.Move(0, 2), EListError);
  l.Put(0, nullptr);
  l.Pack();
  EXPECT_EQ(l.Count(), 1);
  EXPECT_THROW(TList().First(), EListError);
}

}  // namespace
}  // namespace classlib

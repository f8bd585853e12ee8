// The memo's text model: line starts by breaks and wrap, carets and
// positions, both caret paths, the editing primitives (CR LF never split,
// MaxLength), the undo stack's merging and grouping, and incremental line
// starts against a full rebuild over a seeded edit script.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "scenectrls/sg_line_store.h"

namespace kelm::scenectrls {
namespace {

// Ten units a character.
float Advance10(std::u16string_view s) { return 10.f * static_cast<float>(s.size()); }

TEST(LineStore, LineStartsByHardBreaks) {
  struct Case {
    std::u16string text;
    std::vector<int> starts;
    std::vector<std::u16string> lines;
  };
  const std::vector<Case> cases = {
      {u"", {}, {}},
      {u"a\r\nb", {1, 4}, {u"a", u"b"}},
      {u"a\r\n", {1, 4}, {u"a", u""}},
      {u"a\rb\nc", {1, 3, 5}, {u"a", u"b", u"c"}},
      {u"\n\n", {1, 2, 3}, {u"", u"", u""}},
      {u"ab\r", {1, 4}, {u"ab", u""}},
      {u"\r\n\r\n", {1, 3, 5}, {u"", u"", u""}},
      {u"x\n\ry", {1, 3, 4}, {u"x", u"", u"y"}},
  };
  // With a measurer and, as the memo has before it has a scene, without.
  for (bool measured : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.text.begin(), c.text.end()) + (measured ? " measured" : ""));
      TsgLineStore store;
      if (measured) store.SetMeasure(&Advance10);
      store.SetText(c.text);
      EXPECT_EQ(store.LineStarts(), c.starts);
      EXPECT_EQ(store.LineCount(), static_cast<int>(c.lines.size()));
      for (size_t i = 0; i < c.lines.size(); ++i)
        EXPECT_EQ(store.GetLine(static_cast<int>(i)), c.lines[i]) << i;
    }
  }
}

TEST(LineStore, CaretsAndPositionsClamp) {
  TsgLineStore store;
  EXPECT_EQ(store.CaretToPos({3, 3}), 0);
  EXPECT_EQ(store.PosToCaret(5), (TsgCaret{0, 0}));
  store.SetText(u"ab\r\ncd\nef");
  struct Case {
    TsgCaret caret;
    int pos;
  };
  for (const Case& c : {Case{{0, 0}, 0}, Case{{0, 2}, 2}, Case{{0, 9}, 4}, Case{{1, 1}, 5},
                        Case{{-2, 1}, 1}, Case{{7, 1}, 8}, Case{{2, 99}, 9}}) {
    EXPECT_EQ(store.CaretToPos(c.caret), c.pos) << c.caret.Line << "," << c.caret.Column;
  }
  EXPECT_EQ(store.PosToCaret(4), (TsgCaret{1, 0}));
  EXPECT_EQ(store.PosToCaret(6), (TsgCaret{1, 2}));
  EXPECT_EQ(store.PosToCaret(7), (TsgCaret{2, 0}));
  EXPECT_EQ(store.PosToCaret(99), (TsgCaret{2, 2}));
  EXPECT_EQ(store.PosToCaret(-3), (TsgCaret{0, 0}));
}

TEST(LineStore, SteppingPassesAPairWholeAndALoneBreakAsOne) {
  TsgLineStore store;
  store.SetText(u"ab\r\ncd\nef\rg");
  struct Case {
    TsgCaret from;
    int n;
    TsgCaret to;
  };
  const Case cases[] = {
      {{1, 0}, -1, {0, 2}},                       // over CR LF, in front of the CR
      {{2, 0}, -1, {1, 2}},                       // over a lone LF, in front of it
      {{3, 0}, -1, {2, 2}},                       // over a lone CR
      {{0, 2}, 1, {1, 0}},                        // CR LF: never between the two
      {{0, 2}, 2, {1, 0}},                        // the pair takes two steps
      {{0, 2}, 3, {1, 1}},  {{1, 2}, 1, {2, 0}},  // a lone LF: one
      {{0, 0}, -4, {0, 0}},                       // nothing in front of the text
      {{3, 1}, 5, {3, 1}},                        // nothing behind it
  };
  for (const Case& c : cases) {
    EXPECT_EQ(store.StepCaret(c.from, c.n), c.to)
        << c.from.Line << "," << c.from.Column << " by " << c.n;
  }
}

TEST(LineStore, BothCaretPathsAgree) {
  for (const std::u16string& text :
       {std::u16string(u"ab\r\ncd\nef\rgh\r\n\r\nij kl\n"), std::u16string(u"\r\n\n\r\r\nx")}) {
    TsgLineStore store;
    store.SetText(text);
    for (int p = 0; p <= static_cast<int>(text.size()); ++p) {
      // A caret never stands between the CR and the LF of a pair.
      if (p > 0 && p < static_cast<int>(text.size()) && text[size_t(p) - 1] == u'\r' &&
          text[size_t(p)] == u'\n')
        continue;
      for (int n = 0; n <= 24; ++n) {
        const TsgCaret q = store.PosToCaret(p);
        EXPECT_EQ(store.CaretToPos(store.StepCaret(q, n)), store.CaretToPos(store.JumpCaret(q, n)))
            << p << " by " << n;
      }
    }
  }
}

TEST(LineStore, DeletingNeverSplitsAPair) {
  struct Case {
    std::u16string text;
    TsgCaret at;
    int n;
    std::u16string after;
    std::u16string recorded;
  };
  const std::vector<Case> cases = {
      // Backspace at column 0 behind CR LF: the step lands in front of the
      // CR, and the CR takes its LF along.
      {u"a\r\nb", {0, 1}, 1, u"ab", u"\r\n"},
      // Delete in front of the CR.
      {u"a\r\nb", {0, 1}, 1, u"ab", u"\r\n"},
      // A caret between the two (from code) widens to the pair.
      {u"a\r\nb", {0, 2}, 1, u"ab", u"\r\n"},
      // A lone LF is one character.
      {u"a\nb", {0, 1}, 1, u"ab", u"\n"},
      // Past the end: nothing, nothing recorded.
      {u"ab", {0, 2}, 1, u"ab", u""},
      {u"ab", {0, 1}, 9, u"a", u"b"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text.begin(), c.text.end()));
    TsgLineStore store;
    store.SetText(c.text);
    store.DeleteText(c.at, c.n, true);
    EXPECT_EQ(store.Text(), c.after);
    EXPECT_EQ(store.Actions().Count(), c.recorded.empty() ? 0 : 1);
    if (!c.recorded.empty()) {
      EXPECT_EQ(store.Actions().Top().Text, c.recorded);
    }
  }
}

TEST(LineStore, MaxLengthCutsWhatIsInsertedBeforeItIsRecorded) {
  TsgLineStore store;
  store.MaxLength = 24;
  store.SetText(u"abcdefghijklmnopqrstuvwx");
  EXPECT_EQ(store.InsertText({0, 3}, u"Z", true, false), 0);
  EXPECT_EQ(store.Text().size(), 24u);
  EXPECT_EQ(store.Actions().Count(), 0);
  store.SetText(u"abcdefghijklmnopqrst");
  EXPECT_EQ(store.InsertText({0, 20}, u"0123456789", true, false), 4);
  EXPECT_EQ(store.Text(), u"abcdefghijklmnopqrst0123");
  EXPECT_TRUE(store.Actions().Undo());
  EXPECT_EQ(store.Text(), u"abcdefghijklmnopqrst");
}

// Records what an undo asks of its target.
class TUndoLog : public IEdtUndoTarget {
 public:
  virtual ~TUndoLog() = default;
  void RestoreText(int position, const std::u16string& text, bool select) override {
    Log.push_back("restore " + std::to_string(position) + " " +
                  std::string(text.begin(), text.end()) + (select ? " selected" : ""));
  }
  void RemoveText(int position, int length) override {
    Log.push_back("remove " + std::to_string(position) + " " + std::to_string(length));
  }
  std::vector<std::string> Log;
};

TEST(ActionStack, OnlyAdjacentRecordsMergeAndGroupsUndoTogether) {
  TUndoLog log;
  TEdtActionStack stack(&log);
  // Typing three characters: one insertion of 3.
  stack.RecordInsertion(0, 1, false);
  stack.RecordInsertion(1, 1, false);
  stack.RecordInsertion(2, 1, false);
  EXPECT_EQ(stack.Count(), 1);
  EXPECT_EQ(stack.Top().Length, 3);
  // A Backspace run goes in front, a Delete run behind.
  stack.RecordDeletion(3, u"c");
  stack.RecordDeletion(2, u"b");
  EXPECT_EQ(stack.Count(), 2);
  EXPECT_EQ(stack.Top().Text, u"bc");
  EXPECT_EQ(stack.Top().Position, 2);
  stack.RecordDeletion(2, u"x");
  EXPECT_EQ(stack.Top().Text, u"bcx");
  // A deletion two characters away is not adjacent.
  stack.RecordDeletion(5, u"q");
  EXPECT_EQ(stack.Count(), 3);
  stack.RecordDeletion(2, u"");
  EXPECT_EQ(stack.Count(), 3);
  // A grouped insertion is undone with the deletion before it; a deleted
  // CR LF comes back unselected.
  stack.RecordDeletion(1, u"\r\n");
  stack.RecordInsertion(0, 1, true);
  EXPECT_TRUE(stack.Undo());
  EXPECT_EQ(log.Log, (std::vector<std::string>{"remove 0 1", "restore 0 \r\n"}));
  log.Log.clear();
  while (stack.Undo()) {
  }
  EXPECT_EQ(log.Log, (std::vector<std::string>{"restore 4 q selected", "restore 1 bcx selected",
                                               "remove 0 3"}));
  EXPECT_FALSE(stack.Undo());
}

TEST(LineStore, UndoPutsTheTextBackAsItStood) {
  // The gap case: Delete "5", Left, Backspace "3", Undo twice.
  TsgLineStore store;
  store.SetText(u"123456");
  store.DeleteText({0, 4}, 1, true);
  store.DeleteText({0, 2}, 1, true);
  EXPECT_EQ(store.Text(), u"1246");
  EXPECT_EQ(store.Actions().Count(), 2);
  store.Actions().Undo();
  EXPECT_EQ(store.Text(), u"12346");
  store.Actions().Undo();
  EXPECT_EQ(store.Text(), u"123456");
  // Three typed characters, three Backspaces, one Undo each way.
  store.SetText(u"xy");
  EXPECT_EQ(store.Actions().Count(), 0);
  for (int i = 0; i < 3; ++i)
    store.InsertText({0, 1 + i}, std::u16string(1, char16_t(u'a' + i)), true, false);
  EXPECT_EQ(store.Text(), u"xabcy");
  for (int i = 3; i > 0; --i) store.DeleteText(store.StepCaret({0, i + 1}, -1), 1, true);
  EXPECT_EQ(store.Text(), u"xy");
  EXPECT_EQ(store.Actions().Count(), 2);
  store.Actions().Undo();
  EXPECT_EQ(store.Text(), u"xabcy");
  store.Actions().Undo();
  EXPECT_EQ(store.Text(), u"xy");
  // An inserted LF that joined a CR in front is taken away alone.
  store.SetText(u"a\rb");
  store.InsertText({0, 2}, u"\nX", true, false);
  EXPECT_EQ(store.LineStarts(), (std::vector<int>{1, 4}));
  store.Actions().Undo();
  EXPECT_EQ(store.Text(), u"a\rb");
  EXPECT_EQ(store.LineStarts(), (std::vector<int>{1, 3}));
  // A text set from outside drops the records of the old one.
  store.InsertText({0, 0}, u"q", true, false);
  store.SetText(u"other");
  EXPECT_FALSE(store.Actions().Undo());
  EXPECT_EQ(store.Text(), u"other");
}

TEST(LineStore, WrapBreaksInFrontOfTheWordThatDoesNotFit) {
  struct Case {
    std::u16string text;
    float view;
    std::vector<int> starts;
  };
  const std::vector<Case> cases = {
      // "aaa " fits in 50, "aaa bbb" does not: the line starts at "bbb".
      {u"aaa bbb", 50, {1, 5}},
      {u"aaa bbb", 70, {1}},
      // A first word wider than the view: no empty line in front of it.
      {u"aaaaaaaaa bb", 50, {1, 11}},
      // Separators stay with the word in front; paragraphs wrap alone.
      {u"aa, bb-cc dd\r\nee ff", 60, {1, 5, 11, 15}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.text.begin(), c.text.end()));
    TsgLineStore store;
    store.SetMeasure(&Advance10);
    store.SetViewWidth(c.view);
    store.SetWordWrap(true);
    store.SetText(c.text);
    EXPECT_EQ(store.LineStarts(), c.starts);
  }
}

TEST(LineStore, WidestLineFollowsEdits) {
  TsgLineStore store;
  store.SetMeasure(&Advance10);
  store.SetText(u"ab\r\nabcd\r\nabc");
  EXPECT_EQ(store.WidestLine(), 1);
  store.InsertText({2, 3}, u"xyz", false, false);
  EXPECT_EQ(store.WidestLine(), 2);
  store.DeleteText({2, 0}, 6, false);
  EXPECT_EQ(store.WidestLine(), 1);
}

// Edits at random places of random texts made of words, spaces and every
// kind of break: after each, the starts strictly increase and equal a full
// rebuild (without wrap), and undoing everything gives the first text.
TEST(LineStore, IncrementalStartsEqualAFullRebuild) {
  std::mt19937 rng(46);
  const std::u16string pieces[] = {u"a", u"bc", u" ", u"\r\n", u"\r", u"\n", u"word ", u"\r\n\r\n"};
  for (bool wrap : {false, true}) {
    for (int round = 0; round < 20; ++round) {
      TsgLineStore store;
      store.SetMeasure(&Advance10);
      store.SetViewWidth(40);
      store.SetWordWrap(wrap);
      std::u16string first;
      for (int i = 0; i < 6; ++i) first += pieces[rng() % 8];
      store.SetText(first);
      std::vector<std::u16string> before;
      for (int step = 0; step < 30; ++step) {
        const int len = static_cast<int>(store.Text().size());
        const TsgCaret at =
            store.PosToCaret(static_cast<int>(rng() % static_cast<unsigned>(len + 1)));
        before.push_back(store.Text());
        if (rng() % 3 == 0)
          store.DeleteText(at, 1 + static_cast<int>(rng() % 4), true);
        else
          store.InsertText(at, pieces[rng() % 8], true, false);
        const std::vector<int>& starts = store.LineStarts();
        for (size_t i = 1; i < starts.size(); ++i) ASSERT_LT(starts[i - 1], starts[i]);
        if (!wrap) {
          TsgLineStore full;
          full.SetMeasure(&Advance10);
          full.SetText(store.Text());
          ASSERT_EQ(starts, full.LineStarts()) << round << "/" << step;
        }
      }
      while (store.Actions().Undo()) {
      }
      EXPECT_EQ(store.Text(), first) << round;
    }
  }
}

}  // namespace
}  // namespace kelm::scenectrls

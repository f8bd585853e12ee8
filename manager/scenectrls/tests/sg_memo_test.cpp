// The memo on a fake scene (recording canvas: 7 units a character): keys
// and typing with their undo steps, MaxLength and ReadOnly, pairs kept
// whole, "exactly Ctrl", the menu's Undo, the clipboard, the wheel's extra
// step, selection painted only while focused and cut to the viewport, and
// the input method's query.
#include <gtest/gtest.h>

#include <cmath>

#include <string>
#include <vector>

#include "classlib/classdef.h"
#include "scenectrls/sg_memo.h"
#include "ctrl_scene.h"

namespace kelm::scenectrls {
namespace {

using classlib::New;
using scene::TsgRect;
using test::CtrlScene;

class FakeClipboard : public IsgClipboard {
 public:
  FakeClipboard() { SetClipboard(this); }
  virtual ~FakeClipboard() { SetClipboard(nullptr); }
  std::u16string GetText() override { return Text; }
  void SetText(const std::u16string& text) override { Text = text; }
  std::u16string Text;
};

const scene::TShiftState kNone{};
const scene::TShiftState kCtrl{classlib::ssCtrl};
const scene::TShiftState kShift{classlib::ssShift};

class Memos : public ::testing::Test {
 protected:
  void SetUp() override {
    test::UseDefaultStyleBook();
    ctrl.SetBook(test::FixtureBook(""));
    memo = ctrl.Add<TsgMemo>(10, 10, 200, 100);
    memo->Animated = false;
  }
  void TearDown() override { test::DropDefaultStyleBook(); }
  void Key(uint16_t key, scene::TShiftState shift = kNone) {
    char16_t ch = 0;
    memo->KeyDown(key, ch, shift);
  }
  void Type(const std::u16string& s, scene::TShiftState shift = kNone) {
    for (char16_t c : s) {
      uint16_t key = 0;
      char16_t ch = c;
      memo->KeyDown(key, ch, shift);
    }
  }
  CtrlScene ctrl;
  TsgMemo* memo = nullptr;
  FakeClipboard clipboard;
};

TEST_F(Memos, TypingIsOneUndoStepAndBackspacesAnother) {
  ASSERT_NE(memo->ContentLayout(), nullptr) << "the default memo style did not apply";
  Type(u"abc");
  EXPECT_EQ(memo->Text(), u"abc");
  EXPECT_EQ(memo->ActionStack().Count(), 1);
  EXPECT_EQ(memo->Caret(), (TsgCaret{0, 3}));
  for (int i = 0; i < 3; ++i) Key(8);
  EXPECT_EQ(memo->Text(), u"");
  EXPECT_EQ(memo->ActionStack().Count(), 2);
  EXPECT_TRUE(memo->Undo());
  EXPECT_EQ(memo->Text(), u"abc");
  EXPECT_EQ(memo->GetSelText(), u"abc");
  // Enter inserts CR LF; Backspace behind it takes the pair. (End drops
  // the selection the Undo made.)
  Key(35);
  Key(13);
  EXPECT_EQ(memo->Text(), u"abc\r\n");
  EXPECT_EQ(memo->Caret(), (TsgCaret{1, 0}));
  Key(8);
  EXPECT_EQ(memo->Text(), u"abc");
  // Delete in front of a CR takes the pair too; its Undo leaves it
  // unselected.
  memo->SetText(u"ab\r\ncd");
  memo->SetCaret({0, 2});
  Key(46);
  EXPECT_EQ(memo->Text(), u"abcd");
  memo->Undo();
  EXPECT_EQ(memo->Text(), u"ab\r\ncd");
  EXPECT_EQ(memo->GetSelLength(), 0);
}

TEST_F(Memos, TypingOverASelectionIsOneStepAndOverAnEmptyOneIsNot) {
  memo->SetText(u"hello world");
  memo->ExtendSelection({0, 0});
  memo->ExtendSelection({0, 5});
  memo->SetCaret({0, 5});
  Type(u"X");
  EXPECT_EQ(memo->Text(), u"X world");
  memo->Undo();
  EXPECT_EQ(memo->Text(), u"hello world");
  // Typed "Y" then an empty selection typed over: two steps.
  memo->SetText(u"ab");
  Key(36);
  Key(39);
  Type(u"Y");
  Key(36);
  memo->ExtendSelection({0, 0});
  Type(u"Z");
  EXPECT_EQ(memo->Text(), u"ZaYb");
  memo->Undo();
  EXPECT_EQ(memo->Text(), u"aYb");
  memo->Undo();
  EXPECT_EQ(memo->Text(), u"ab");
}

TEST_F(Memos, MaxLengthReadOnlyAndAPasteCut) {
  memo->SetMaxLength(24);
  memo->SetText(u"abcdefghijklmnopqrstuvwx");
  memo->SetCaret({0, 24});
  Type(u"y");
  EXPECT_EQ(memo->Text().size(), 24u);
  EXPECT_EQ(memo->ActionStack().Count(), 0);
  memo->SetText(u"abcdefghijklmnopqrst");
  memo->SetCaret({0, 20});
  clipboard.Text = u"0123456789";
  Type(u"v", kCtrl);
  EXPECT_EQ(memo->Text(), u"abcdefghijklmnopqrst0123");
  memo->Undo();
  EXPECT_EQ(memo->Text(), u"abcdefghijklmnopqrst");
  memo->ReadOnly = true;
  Key(13);
  Type(u"q");
  Key(46);
  EXPECT_EQ(memo->Text(), u"abcdefghijklmnopqrst");
}

TEST_F(Memos, OnlyExactlyCtrlIsAShortcutAndCtrlZIsNothing) {
  memo->SetText(u"one two");
  memo->SetCaret({0, 7});
  Type(u"a", kCtrl);
  EXPECT_EQ(memo->GetSelText(), u"one two");
  Type(u"c", kCtrl);
  EXPECT_EQ(clipboard.Text, u"one two");
  // Ctrl+Alt types (AltGr on some layouts).
  memo->SetCaret({0, 7});
  memo->ExtendSelection({0, 7});
  Type(u"a", scene::TShiftState{classlib::ssCtrl, classlib::ssAlt});
  EXPECT_EQ(memo->Text(), u"one twoa");
  Type(u"z", kCtrl);
  EXPECT_EQ(memo->Text(), u"one twoa");
  // The menu's Undo undoes; its items follow the state.
  ctrl.Menu.Choose = 0;
  memo->ContextPopup({50, 50});
  ASSERT_EQ(ctrl.Menu.Popups.size(), 1u);
  EXPECT_EQ(ctrl.Menu.Popups[0].Items,
            (std::vector<std::string>{"Undo", "Cut", "Copy", "Paste", "Delete", "Select All"}));
  EXPECT_EQ(memo->Text(), u"one two");
  memo->ReadOnly = true;
  memo->UpdatePopupMenu();
  for (const TsgMenuItem& item : memo->PopupMenuModel().Items)
    if (item.Caption != u"Select All" && item.Caption != u"Copy") {
      EXPECT_FALSE(item.Enabled) << std::string(item.Caption.begin(), item.Caption.end());
    }
}

TEST_F(Memos, ShiftArrowsSelectAndADoubleClickTakesAWord) {
  memo->SetText(u"alpha beta\r\ngamma");
  memo->SetCaret({0, 0});
  Key(39, kShift);
  Key(39, kShift);
  EXPECT_EQ(memo->GetSelText(), u"al");
  Key(40, kShift);
  EXPECT_EQ(memo->GetSelStart(), 0);
  Key(39);
  EXPECT_FALSE(memo->HasSelection());
  memo->SetCaret({0, 7});
  memo->SelectWord();
  EXPECT_EQ(memo->GetSelText(), u"beta");
}

TEST_F(Memos, AWheelNotchMovesFourFurther) {
  std::u16string text;
  for (int i = 0; i < 40; ++i) text += u"line\r\n";
  memo->SetText(text);
  TsgScrollBar* v = memo->VScrollBar();
  ASSERT_NE(v, nullptr);
  ASSERT_TRUE(v->Visible());
  v->SetValue(200);
  bool handled = false;
  memo->MouseWheel({}, 120, handled);
  EXPECT_FLOAT_EQ(v->Value(), 200 - 3 * v->SmallChange - 4);
}

TEST_F(Memos, TheSelectionShowsOnlyWhileFocusedAndWithinTheViewport) {
  std::u16string text;
  for (int i = 0; i < 40; ++i) text += u"a long line of text, longer than the view\r\n";
  memo->SetText(text);
  memo->SelectAll();
  auto fills = [&] {
    ctrl.Canvas->Calls.clear();
    auto* content = dynamic_cast<scene::TsgVisualObject*>(memo->FindResource("content"));
    content->OnPaint(content, ctrl.Canvas, content->GetLocalRect());
    std::vector<std::string> rects;
    for (const std::string& c : ctrl.Canvas->Calls)
      if (c.rfind("FillRect", 0) == 0) rects.push_back(c);
    return rects;
  };
  EXPECT_TRUE(fills().empty());
  // The host's focus change (the fake records it only).
  memo->EnterFocus();
  ASSERT_TRUE(memo->IsFocused());
  memo->SelectAll();
  const std::vector<std::string> rects = fills();
  ASSERT_FALSE(rects.empty());
  // Only the visible band, each cut to the viewport.
  EXPECT_LE(static_cast<float>(rects.size()), memo->VisibleLineCount() + 1);
  TsgRect cr;
  memo->ContentRect(cr);
  for (const TsgRect& r : memo->GetSelectionRects()) {
    TsgRect cut;
    ASSERT_TRUE(scene::sgIntersectRect(cut, r, cr));
  }
  // Text lines: only the visible band is drawn.
  int texts = 0;
  for (const std::string& c : ctrl.Canvas->Calls)
    if (c.rfind("FillText", 0) == 0) ++texts;
  EXPECT_LE(static_cast<float>(texts), memo->VisibleLineCount() + 1);
}

TEST_F(Memos, TheInputMethodWritesAtTheCaretInTheFont) {
  memo->SetText(u"abc");
  memo->SetCaret({0, 2});
  scene::TsgFont* font = nullptr;
  scene::TsgPoint at;
  ASSERT_TRUE(memo->ImeCompositionInfo(font, at));
  EXPECT_EQ(font, memo->Font());
  EXPECT_EQ(at.X, memo->CaretToPoint({0, 2}).X);
  EXPECT_GT(memo->CaretToPoint({0, 2}).X, memo->CaretToPoint({0, 0}).X);
}

TEST_F(Memos, LinesEditTheVisualLinesWithoutUndo) {
  TsgMemoLines* lines = memo->Lines();
  lines->Add(u"one");
  lines->Add(u"two");
  lines->Insert(1, u"mid");
  EXPECT_EQ(memo->Text(), u"one\r\nmid\r\ntwo");
  EXPECT_EQ(lines->Count(), 3);
  EXPECT_EQ((*lines)[1], u"mid");
  Key(36, kCtrl);
  Type(u"x");
  lines->Delete(2);
  EXPECT_EQ(memo->Text(), u"xone\r\nmid");
  // The line edit dropped the typing's record too: its positions are gone.
  EXPECT_FALSE(memo->Undo());
  lines->Delete(0);
  EXPECT_EQ(memo->Text(), u"mid");
  lines->BeginUpdate();
  lines->Add(u"a");
  lines->Add(u"b");
  lines->EndUpdate();
  EXPECT_EQ(lines->Count(), 3);
  lines->Clear();
  EXPECT_EQ(memo->Text(), u"");
  EXPECT_EQ(lines->Count(), 0);
}

TEST_F(Memos, LinesMeasuredWithoutACanvasAreMeasuredAgainInTheScene) {
  auto* loose = New<TsgMemo>(nullptr);
  loose->SetText(u"ab\r\na longer line");
  // No canvas: every width 0, yet the hard break splits the lines.
  EXPECT_EQ(loose->Store().LineStarts(), (std::vector<int>{1, 5}));
  EXPECT_EQ(loose->Store().WidestLine(), 0);
  ctrl.Root->AddObject(loose);
  EXPECT_EQ(loose->Store().WidestLine(), 1);
  classlib::Free(loose);
}

TEST_F(Memos, ATextFromOutsideDropsTheUndoRecords) {
  Type(u"abc");
  memo->SetText(u"new");
  EXPECT_FALSE(memo->Undo());
  EXPECT_EQ(memo->Text(), u"new");
  EXPECT_EQ(memo->LineHeight(), std::nearbyint(memo->Font()->Size() * 1.25f));
}

}  // namespace
}  // namespace kelm::scenectrls

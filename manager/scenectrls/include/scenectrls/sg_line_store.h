// The memo's text model without the control: one wide string, the 1-based
// starts of its visual lines (hard breaks and, optionally, word wrap),
// the widest line, caret and position arithmetic, the two editing
// primitives (a CR LF pair is never split) and the undo stack they record
// into. Widths come from an injected measurer: the memo's canvas, fixed
// advances in tests, none (every width 0) before the memo has a scene.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kelm::scenectrls {

// A caret: a 0-based visual line and the characters of it in front.
struct TsgCaret {
  int Line = 0;
  int Column = 0;
  bool operator==(const TsgCaret& o) const { return Line == o.Line && Column == o.Column; }
  bool operator!=(const TsgCaret& o) const { return !(*this == o); }
};

// What undoing a record does to the text it was made for.
class IEdtUndoTarget {
 public:
  // Puts text back in front of the 0-based position; selects it when told.
  virtual void RestoreText(int position, const std::u16string& text, bool select) = 0;
  // Takes length characters away from the 0-based position.
  virtual void RemoveText(int position, int length) = 0;

 protected:
  ~IEdtUndoTarget() = default;
};

// Last in, first out. A deletion's position is the 1-based index of its
// first character, an insertion's the 0-based offset it went to.
class TEdtActionStack {
 public:
  enum TKind : uint8_t { Deletion = 0, Insertion = 1 };
  struct TRecord {
    TKind Kind;
    bool Group;
    int Position;
    std::u16string Text;
    int Length;
  };
  explicit TEdtActionStack(IEdtUndoTarget* target) : target_(target) {}
  // The control that edits through the store takes the undo over.
  void SetTarget(IEdtUndoTarget* target) { target_ = target; }

  // Joins the top deletion only when adjacent: a Backspace run (the new
  // text ends where the top begins) goes in front, a Delete run (same
  // position) behind.
  void RecordDeletion(int position, const std::u16string& text);
  // Joins the top insertion when it continues it.
  void RecordInsertion(int position, int length, bool group);
  // Undoes the top record and, while each undone one was grouped, the next.
  // False when there was nothing to undo.
  bool Undo();
  int Count() const { return static_cast<int>(records_.size()); }
  const TRecord& Top() const { return records_.back(); }
  void Clear() { records_.clear(); }

 private:
  IEdtUndoTarget* target_;
  std::vector<TRecord> records_;
};

using TsgTextMeasure = std::function<float(std::u16string_view)>;

class TsgLineStore : public IEdtUndoTarget {
 public:
  TsgLineStore() : actions_(this) {}
  TsgLineStore(const TsgLineStore&) = delete;
  TsgLineStore& operator=(const TsgLineStore&) = delete;
  virtual ~TsgLineStore() = default;

  const std::u16string& Text() const { return text_; }
  // A text from outside: the lines are rebuilt and the undo records,
  // which hold positions of the old text, are dropped.
  void SetText(const std::u16string& text);
  // None: every width is 0, hard breaks still split lines.
  void SetMeasure(TsgTextMeasure measure);
  bool WordWrap() const { return wordWrap_; }
  void SetWordWrap(bool v);
  float ViewWidth() const { return viewWidth_; }
  void SetViewWidth(float v);
  // 0: unlimited. Cuts what is inserted, never the text there is.
  int MaxLength = 0;
  TEdtActionStack& Actions() { return actions_; }

  const std::vector<int>& LineStarts() const { return starts_; }
  int LineCount() const { return text_.empty() ? 0 : static_cast<int>(starts_.size()); }
  int WidestLine() const { return widest_; }
  // With its break characters.
  std::u16string RawLine(int i) const;
  // Without one trailing LF and then one trailing CR.
  std::u16string GetLine(int i) const;
  float TextWidth(std::u16string_view s) const { return measure_ ? measure_(s) : 0; }
  float LineWidth(int i) const;

  int CaretToPos(TsgCaret q) const;
  TsgCaret PosToCaret(int p) const;
  // Below 14 characters through the lines, beyond by position.
  TsgCaret MoveCaretByChars(TsgCaret q, int n) const;
  TsgCaret StepCaret(TsgCaret q, int n) const;
  TsgCaret JumpCaret(TsgCaret q, int n) const;

  // Inserts s (cut to MaxLength) at the caret; answers the length
  // inserted.
  int InsertText(TsgCaret at, std::u16string s, bool recordUndo, bool group);
  // Deletes n characters at the caret, widened so a CR LF pair goes whole;
  // answers the 0-based position and count deleted.
  std::pair<int, int> DeleteText(TsgCaret at, int n, bool recordUndo);
  void RebuildLineStarts();

  void RestoreText(int position, const std::u16string& text, bool select) override;
  void RemoveText(int position, int length) override;

 private:
  // Starts of the lines in [from, to) (1-based) of the text, from a
  // paragraph start; the widest of them by width.
  void BreakRegion(int from, int to, std::vector<int>& out, int& widest, float& widestWidth) const;
  void WrapParagraph(int start, int end, std::vector<int>& out) const;
  // Lines from the one holding the edit (at line) to the end of the
  // paragraph holding the 0-based position last, broken again.
  void UpdateLineStarts(int line, int last, int change, float widestBefore);
  int FindWidestLine() const;
  // The n characters at the 0-based position, as they are.
  void DeleteRange(int p, int n, bool recordUndo);

  std::u16string text_;
  std::vector<int> starts_;
  int widest_ = 0;
  TsgTextMeasure measure_;
  bool wordWrap_ = false;
  float viewWidth_ = 0;
  TEdtActionStack actions_;
};

}  // namespace kelm::scenectrls

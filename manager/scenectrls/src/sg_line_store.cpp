// The memo's text model: line starts, carets, the editing primitives and
// the undo stack.
#include "scenectrls/sg_line_store.h"

#include <algorithm>

namespace kelm::scenectrls {

namespace {
constexpr char16_t kCR = u'\r', kLF = u'\n';

bool IsBreak(char16_t c) { return c == kCR || c == kLF; }
bool IsWrapSeparator(char16_t c) { return c == u' ' || c == u',' || c == u'-'; }

bool EndsWithPair(const std::u16string& s) {
  return s.size() >= 2 && s[s.size() - 2] == kCR && s.back() == kLF;
}
}  // namespace

// ---- TEdtActionStack
void TEdtActionStack::RecordDeletion(int position, const std::u16string& text) {
  if (text.empty()) return;
  if (!records_.empty() && records_.back().Kind == Deletion) {
    TRecord& top = records_.back();
    // Only deletions that touch: a gap between them would put the text
    // back in the wrong place.
    if (position + static_cast<int>(text.size()) == top.Position) {
      top.Text = text + top.Text;
      top.Position = position;
      return;
    }
    if (position == top.Position) {
      top.Text += text;
      return;
    }
  }
  records_.push_back({Deletion, false, position, text, 0});
}

void TEdtActionStack::RecordInsertion(int position, int length, bool group) {
  if (length == 0) return;
  if (!records_.empty() && records_.back().Kind == Insertion &&
      position == records_.back().Position + records_.back().Length) {
    records_.back().Length += length;
    return;
  }
  records_.push_back({Insertion, group, position, {}, length});
}

bool TEdtActionStack::Undo() {
  if (records_.empty()) return false;
  if (!target_) return true;
  bool group = false;
  do {
    const TRecord r = records_.back();
    records_.pop_back();
    if (r.Kind == Deletion)
      target_->RestoreText(r.Position - 1, r.Text, r.Text != u"\r\n");
    else
      target_->RemoveText(r.Position, r.Length);
    group = r.Group;
  } while (!records_.empty() && group);
  return true;
}

// ---- TsgLineStore: settings
void TsgLineStore::SetText(const std::u16string& text) {
  text_ = text;
  actions_.Clear();
  RebuildLineStarts();
}

void TsgLineStore::SetMeasure(TsgTextMeasure measure) {
  measure_ = std::move(measure);
  RebuildLineStarts();
}

void TsgLineStore::SetWordWrap(bool v) {
  if (v == wordWrap_) return;
  wordWrap_ = v;
  RebuildLineStarts();
}

void TsgLineStore::SetViewWidth(float v) {
  if (v == viewWidth_) return;
  viewWidth_ = v;
  if (wordWrap_) RebuildLineStarts();
}

// ---- lines
std::u16string TsgLineStore::RawLine(int i) const {
  if (i < 0 || i >= LineCount()) return {};
  const size_t begin = static_cast<size_t>(starts_[static_cast<size_t>(i)] - 1);
  const size_t end = i + 1 < LineCount()
                         ? static_cast<size_t>(starts_[static_cast<size_t>(i) + 1] - 1)
                         : text_.size();
  return text_.substr(begin, end - begin);
}

std::u16string TsgLineStore::GetLine(int i) const {
  std::u16string s = RawLine(i);
  if (!s.empty() && s.back() == kLF) s.pop_back();
  if (!s.empty() && s.back() == kCR) s.pop_back();
  return s;
}

float TsgLineStore::LineWidth(int i) const {
  if (i < 0 || i >= LineCount()) return 0;
  return TextWidth(GetLine(i));
}

int TsgLineStore::FindWidestLine() const {
  int widest = LineCount() > 0 ? 0 : -1;
  float width = widest == 0 ? LineWidth(0) : 0;
  for (int i = 1; i < LineCount(); ++i)
    if (const float w = LineWidth(i); w > width) {
      width = w;
      widest = i;
    }
  return widest;
}

// ---- carets and positions
int TsgLineStore::CaretToPos(TsgCaret q) const {
  if (text_.empty()) return 0;
  const int l = std::clamp(q.Line, 0, LineCount() - 1);
  const int raw = static_cast<int>(RawLine(l).size());
  return starts_[static_cast<size_t>(l)] - 1 + std::clamp(q.Column, 0, raw);
}

TsgCaret TsgLineStore::PosToCaret(int p) const {
  if (LineCount() == 0) return {};
  p = std::clamp(p, 0, static_cast<int>(text_.size()));
  // The last line starting at or before index p + 1.
  const auto it = std::upper_bound(starts_.begin(), starts_.end(), p + 1);
  const int l = static_cast<int>(it - starts_.begin()) - 1;
  return {l, p + 1 - starts_[static_cast<size_t>(l)]};
}

TsgCaret TsgLineStore::MoveCaretByChars(TsgCaret q, int n) const {
  return n < 14 ? StepCaret(q, n) : JumpCaret(q, n);
}

TsgCaret TsgLineStore::StepCaret(TsgCaret q, int n) const {
  if (LineCount() == 0) return {};
  int line = std::clamp(q.Line, 0, LineCount() - 1);
  std::u16string raw = RawLine(line);
  int col = std::clamp(q.Column, 0, static_cast<int>(raw.size()));
  for (; n < 0; ++n) {
    if (--col >= 0) continue;
    if (line == 0) {
      col = 0;
      break;
    }
    raw = RawLine(--line);
    // A CR LF pair is passed whole; a lone break is one character.
    col = static_cast<int>(raw.size()) - (EndsWithPair(raw) ? 2 : 1);
  }
  while (n > 0) {
    ++col;
    --n;
    const int len = static_cast<int>(raw.size());
    // Never between the CR and the LF of a pair.
    if (col < len && raw[static_cast<size_t>(col)] == kLF &&
        raw[static_cast<size_t>(col) - 1] == kCR) {
      ++col;
      --n;
    }
    if (col < len) continue;
    if (line + 1 < LineCount()) {
      raw = RawLine(++line);
      col = 0;
    } else {
      col = len;
      break;
    }
  }
  return {line, col};
}

TsgCaret TsgLineStore::JumpCaret(TsgCaret q, int n) const {
  int p = std::clamp(CaretToPos(q) + n, 0, static_cast<int>(text_.size()));
  const auto at = static_cast<size_t>(p);
  if (p > 0 && at < text_.size() && text_[at] == kLF && text_[at - 1] == kCR) ++p;
  return PosToCaret(p);
}

// ---- breaking
void TsgLineStore::WrapParagraph(int start, int end, std::vector<int>& out) const {
  const std::u16string_view cur = std::u16string_view(text_).substr(
      static_cast<size_t>(start - 1), static_cast<size_t>(end - start));
  const int len = static_cast<int>(cur.size());
  auto at = [&](int i) { return cur[static_cast<size_t>(i - 1)]; };
  int pos = 1, lineBegin = 1, previous = 1;
  // Skips separators, takes a word and the separators behind it.
  auto readToken = [&] {
    int i = pos;
    while (i <= len && IsWrapSeparator(at(i))) ++i;
    const int first = i;
    while (i <= len && !IsWrapSeparator(at(i))) ++i;
    const bool word = i > first;
    while (i <= len && IsWrapSeparator(at(i))) ++i;
    pos = i;
    return word;
  };
  bool word = readToken();
  while (word) {
    const auto shown =
        cur.substr(static_cast<size_t>(lineBegin - 1), static_cast<size_t>(pos - lineBegin));
    // A first word wider than the view gets no empty line in front.
    if (TextWidth(shown) > viewWidth_ && previous > lineBegin) {
      lineBegin = previous;
      out.push_back(start + previous - 1);
    }
    previous = pos;
    const int before = pos;
    word = readToken();
    if (pos == before) break;
  }
}

void TsgLineStore::BreakRegion(int from, int to, std::vector<int>& out, int& widest,
                               float& widestWidth) const {
  const int firstEntry = static_cast<int>(out.size());
  widest = 0;
  widestWidth = 0;
  out.push_back(from);
  int paragraph = from;
  auto finish = [&](int end) {
    const float w = TextWidth(std::u16string_view(text_).substr(
        static_cast<size_t>(paragraph - 1), static_cast<size_t>(end - paragraph)));
    if (w > widestWidth) {
      widestWidth = w;
      widest = static_cast<int>(out.size()) - 1 - firstEntry;
    }
    if (wordWrap_ && w > viewWidth_) WrapParagraph(paragraph, end, out);
  };
  const int len = static_cast<int>(text_.size());
  for (int i = from; i < to; ++i) {
    const char16_t c = text_[static_cast<size_t>(i - 1)];
    if (!IsBreak(c)) continue;
    const int end = i;
    if (c == kCR && i < len && text_[static_cast<size_t>(i)] == kLF) ++i;
    finish(end);
    paragraph = i + 1;
    // The start behind the region's own last break is the next region's.
    if (paragraph < to) out.push_back(paragraph);
  }
  if (paragraph < to) finish(to);
}

void TsgLineStore::RebuildLineStarts() {
  widest_ = 0;
  starts_.clear();
  if (text_.empty()) return;
  const int len = static_cast<int>(text_.size());
  float width = 0;
  BreakRegion(1, len + 1, starts_, widest_, width);
  // A text that ends with a break has an empty last line.
  if (IsBreak(text_.back())) starts_.push_back(len + 1);
}

void TsgLineStore::UpdateLineStarts(int line, int last, int change, float widestBefore) {
  if (text_.empty()) {
    starts_.clear();
    widest_ = 0;
    return;
  }
  if (starts_.empty()) starts_.push_back(1);
  const int len = static_cast<int>(text_.size());
  line = std::clamp(line, 0, static_cast<int>(starts_.size()) - 1);
  // A CR in front of the region may pair with an LF now at its start.
  while (line > 0 && text_[static_cast<size_t>(starts_[static_cast<size_t>(line)] - 2)] == kCR)
    --line;
  const int from = starts_[static_cast<size_t>(line)];
  // The end of the paragraph holding the edit's end, in the new text.
  int e = std::clamp(last, 0, len);
  while (e < len && !IsBreak(text_[static_cast<size_t>(e)])) ++e;
  const bool byBreak = e < len;
  if (byBreak && text_[static_cast<size_t>(e)] == kCR && e + 1 < len &&
      text_[static_cast<size_t>(e) + 1] == kLF)
    ++e;
  const int to = byBreak ? e + 2 : len + 1;
  // The old lines of the region: up to the old start of the line behind
  // it (none when the region reaches the end).
  auto firstKept = starts_.begin() + line + 1;
  if (byBreak)
    while (firstKept != starts_.end() && *firstKept < to - change) ++firstKept;
  else
    firstKept = starts_.end();
  const int oldCount = static_cast<int>(firstKept - starts_.begin()) - line;
  std::vector<int> region;
  int regionWidest = 0;
  float regionWidth = 0;
  BreakRegion(from, to, region, regionWidest, regionWidth);
  std::vector<int> rebuilt(starts_.begin(), starts_.begin() + line);
  rebuilt.insert(rebuilt.end(), region.begin(), region.end());
  for (auto it = firstKept; it != starts_.end(); ++it) rebuilt.push_back(*it + change);
  starts_.swap(rebuilt);
  if (IsBreak(text_.back())) {
    if (starts_.back() != len + 1) starts_.push_back(len + 1);
  } else if (starts_.back() > len) {
    starts_.pop_back();
  }
  const int newCount = static_cast<int>(region.size());
  if (widest_ >= LineCount()) {
    widest_ = FindWidestLine();
  } else if (widestBefore > regionWidth) {
    if (widest_ >= line && widest_ < line + oldCount)
      widest_ = FindWidestLine();
    else if (widest_ >= line + oldCount)
      widest_ += newCount - oldCount;
  } else {
    widest_ = line + regionWidest;
  }
}

// ---- editing
int TsgLineStore::InsertText(TsgCaret at, std::u16string s, bool recordUndo, bool group) {
  if (MaxLength > 0) {
    const int room = MaxLength - static_cast<int>(text_.size());
    s.resize(room > 0 ? std::min(s.size(), static_cast<size_t>(room)) : 0);
  }
  if (s.empty()) return 0;
  const int p = CaretToPos(at);
  const int n = static_cast<int>(s.size());
  if (recordUndo) actions_.RecordInsertion(p, n, group);
  const float widestBefore = LineWidth(widest_);
  const int line = PosToCaret(p).Line;
  text_.insert(static_cast<size_t>(p), s);
  UpdateLineStarts(line, p + n, n, widestBefore);
  return n;
}

std::pair<int, int> TsgLineStore::DeleteText(TsgCaret at, int n, bool recordUndo) {
  const int len = static_cast<int>(text_.size());
  int b = CaretToPos(at) + 1;
  if (n <= 0 || b > len) return {b - 1, 0};
  n = std::min(n, len - b + 1);
  const int lastIndex = b + n - 1;
  if (text_[static_cast<size_t>(lastIndex - 1)] == kCR && lastIndex < len &&
      text_[static_cast<size_t>(lastIndex)] == kLF)
    ++n;
  if (b >= 2 && text_[static_cast<size_t>(b - 1)] == kLF &&
      text_[static_cast<size_t>(b - 2)] == kCR) {
    --b;
    ++n;
  }
  DeleteRange(b - 1, n, recordUndo);
  return {b - 1, n};
}

void TsgLineStore::DeleteRange(int p, int n, bool recordUndo) {
  const auto first = static_cast<size_t>(p);
  if (recordUndo) actions_.RecordDeletion(p + 1, text_.substr(first, static_cast<size_t>(n)));
  const float widestBefore = LineWidth(widest_);
  const int line = PosToCaret(p).Line;
  text_.erase(first, static_cast<size_t>(n));
  UpdateLineStarts(line, p, -n, widestBefore);
}

void TsgLineStore::RestoreText(int position, const std::u16string& text, bool select) {
  (void)select;
  InsertText(PosToCaret(position), text, false, false);
}

void TsgLineStore::RemoveText(int position, int length) {
  // Exactly what was inserted: an inserted LF may have joined a CR in
  // front of it, which is not the insertion's to take.
  const int len = static_cast<int>(text_.size());
  position = std::clamp(position, 0, len);
  length = std::clamp(length, 0, len - position);
  if (length > 0) DeleteRange(position, length, false);
}

}  // namespace kelm::scenectrls

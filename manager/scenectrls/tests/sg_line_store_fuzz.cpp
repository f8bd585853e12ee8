// Fuzz target: an edit script on the memo's line store. Each step inserts
// a piece (CR LF, a lone CR or LF, a surrogate pair, letters, spaces), deletes
// a run, undoes, or turns the wrap on or off, at a position taken from the
// input. After each step: line starts strictly increase, equal a full
// rebuild when not wrapping, both caret paths agree, and an undo puts back
// the text as it stood before the records it undid.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "scenectrls/sg_line_store.h"

namespace {

using kelm::scenectrls::TsgCaret;
using kelm::scenectrls::TsgLineStore;

void Check(bool ok) {
  if (!ok) std::abort();
}

float Advance7(std::u16string_view s) { return 7.f * static_cast<float>(s.size()); }

const std::u16string kPieces[] = {u"\r\n", u"\r",   u"\n", u"\xD83D\xDE00", u"a",
                                  u"bc ",  u"word", u" ",  u"-,",           u"\r\n\r\n"};

void CheckStarts(const TsgLineStore& store) {
  const std::vector<int>& starts = store.LineStarts();
  for (size_t i = 1; i < starts.size(); ++i) Check(starts[i - 1] < starts[i]);
  Check(store.Text().empty() ? starts.empty() : !starts.empty() && starts[0] == 1);
  if (store.WordWrap()) return;
  TsgLineStore full;
  full.SetMeasure(&Advance7);
  full.SetText(store.Text());
  Check(starts == full.LineStarts());
}

void CheckCaretPaths(const TsgLineStore& store, int p, int n) {
  const std::u16string& t = store.Text();
  // A caret never stands between the two characters of a pair.
  if (p > 0 && p < static_cast<int>(t.size()) && t[size_t(p) - 1] == u'\r' && t[size_t(p)] == u'\n')
    return;
  const TsgCaret q = store.PosToCaret(p);
  Check(store.CaretToPos(store.StepCaret(q, n)) == store.CaretToPos(store.JumpCaret(q, n)));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TsgLineStore store;
  store.SetMeasure(&Advance7);
  store.SetViewWidth(50);
  // The text before each undo record, oldest first.
  std::vector<std::u16string> before;
  for (size_t i = 0; i + 2 < size && i < 3 * 400; i += 3) {
    const uint8_t op = data[i], arg = data[i + 1], where = data[i + 2];
    const int len = static_cast<int>(store.Text().size());
    const TsgCaret at = store.PosToCaret(where % (len + 1));
    const std::u16string text = store.Text();
    const int records = store.Actions().Count();
    switch (op % 8) {
      case 0:
      case 1:
      case 2:
        store.InsertText(at, kPieces[arg % 10], true, (arg & 0x80) != 0 && records > 0);
        break;
      case 3:
      case 4:
        store.DeleteText(at, 1 + arg % 6, true);
        break;
      case 5:
      case 6: {
        store.Actions().Undo();
        const int left = store.Actions().Count();
        if (left < records) {
          Check(store.Text() == before[static_cast<size_t>(left)]);
          before.resize(static_cast<size_t>(left));
        }
        break;
      }
      default:
        store.SetWordWrap(!store.WordWrap());
        break;
    }
    if (store.Actions().Count() > records) before.push_back(text);
    Check(static_cast<int>(before.size()) == store.Actions().Count());
    CheckStarts(store);
    CheckCaretPaths(store, where % (static_cast<int>(store.Text().size()) + 1), arg % 31);
  }
  return 0;
}

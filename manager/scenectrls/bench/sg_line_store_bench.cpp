// The memo's line store on a 10 MB text of 200,000 lines, against a plain
// std::u16string whose line starts are found again by a full scan after
// every edit: random one-character inserts and deletes, page moves, and a
// painted scroll (the visible band's lines cut out). Prints the time per
// operation of each and their ratio, measured side by side in one run.
#include <chrono>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "scenectrls/sg_line_store.h"

namespace {

using kelm::scenectrls::TsgCaret;
using kelm::scenectrls::TsgLineStore;
using Clock = std::chrono::steady_clock;

float Advance7(std::u16string_view s) { return 7.f * static_cast<float>(s.size()); }

std::vector<int> ScanStarts(const std::u16string& t) {
  std::vector<int> starts{1};
  for (size_t i = 0; i < t.size(); ++i) {
    if (t[i] != u'\r' && t[i] != u'\n') continue;
    if (t[i] == u'\r' && i + 1 < t.size() && t[i + 1] == u'\n') ++i;
    starts.push_back(static_cast<int>(i) + 2);
  }
  return starts;
}

template <class F>
double PerOp(int n, F f) {
  const auto t0 = Clock::now();
  for (int i = 0; i < n; ++i) f(i);
  return std::chrono::duration<double, std::micro>(Clock::now() - t0).count() / n;
}

void Row(const char* what, double ours, double plain) {
  std::printf("%-34s %12.2f us %12.2f us %9.1fx\n", what, ours, plain, plain / ours);
}

}  // namespace

int main() {
  std::mt19937 rng(47);
  std::u16string text;
  for (int line = 0; line < 200000; ++line) {
    text.append(48, static_cast<char16_t>(u'a' + line % 26));
    text.push_back(u'\r');
    text.push_back(u'\n');
  }
  std::printf("text: %zu characters, 200000 lines\n", text.size());
  std::printf("%-34s %15s %15s %10s\n", "operation", "line store", "string+scan", "ratio");

  TsgLineStore store;
  store.SetMeasure(&Advance7);
  store.SetText(text);
  std::u16string plain = text;
  std::vector<int> plainStarts = ScanStarts(plain);
  auto randomPos = [&](size_t len) { return static_cast<int>(rng() % (len + 1)); };

  // The plain side is slow: fewer rounds, compared per operation.
  const double insertOurs = PerOp(4000, [&](int) {
    store.InsertText(store.PosToCaret(randomPos(store.Text().size())), u"x", true, false);
  });
  const double insertPlain = PerOp(40, [&](int) {
    plain.insert(static_cast<size_t>(randomPos(plain.size())), 1, u'x');
    plainStarts = ScanStarts(plain);
  });
  Row("insert one character", insertOurs, insertPlain);

  const double deleteOurs = PerOp(4000, [&](int) {
    store.DeleteText(store.PosToCaret(randomPos(store.Text().size() - 1)), 1, true);
  });
  const double deletePlain = PerOp(40, [&](int) {
    plain.erase(static_cast<size_t>(randomPos(plain.size() - 1)), 1);
    plainStarts = ScanStarts(plain);
  });
  Row("delete one character", deleteOurs, deletePlain);

  // A page: 40 lines down from a random line, by the line table against a
  // scan for 40 breaks.
  volatile int sink = 0;
  const double pageOurs = PerOp(100000, [&](int) {
    const int line = static_cast<int>(rng() % 199000);
    sink = sink + store.CaretToPos(TsgCaret{line + 40, 3});
  });
  const double pagePlain = PerOp(2000, [&](int) {
    size_t p = static_cast<size_t>(randomPos(plain.size() - 4000));
    for (int found = 0; found < 40 && p < plain.size(); ++p)
      if (plain[p] == u'\n') ++found;
    sink = sink + static_cast<int>(p);
  });
  Row("page move (40 lines)", pageOurs, pagePlain);

  // A painted scroll: the band of 40 visible lines cut out at a random
  // scroll position (the plain side finds its first line by a scan).
  const double paintOurs = PerOp(20000, [&](int) {
    const int first = static_cast<int>(rng() % 199000);
    for (int i = first; i < first + 40; ++i)
      sink = sink + static_cast<int>(store.GetLine(i).size());
  });
  const double paintPlain = PerOp(200, [&](int) {
    const int first = static_cast<int>(rng() % 199000);
    std::vector<int> starts = ScanStarts(plain);
    for (int i = first; i < first + 40; ++i)
      sink = sink +
             static_cast<int>(plain
                                  .substr(static_cast<size_t>(starts[static_cast<size_t>(i)] - 1),
                                          static_cast<size_t>(starts[static_cast<size_t>(i) + 1] -
                                                              starts[static_cast<size_t>(i)]))
                                  .size());
  });
  Row("painted scroll (40-line band)", paintOurs, paintPlain);
  return 0;
}

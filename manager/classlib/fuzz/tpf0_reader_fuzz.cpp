// Fuzz target: arbitrary bytes as a "TPF0" stream, read into a form of the
// test classes (with and without an error hook that skips bad values), and
// converted to the text form.
#include <cstddef>
#include <cstdint>

#include "../tests/test_classes.h"

using namespace classlib;
using namespace classlib::testing;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  RegisterTestClasses();
  for (int skipErrors = 0; skipErrors < 2; ++skipErrors) {
    TTestForm* form = New<TTestForm>(nullptr);
    try {
      TResourceStream in(data, static_cast<int64_t>(size));
      TReader r(in);
      if (skipErrors)
        r.OnError = [](TReader&, const std::u16string&, bool& handled) { handled = true; };
      r.ReadRootComponent(form);
      // What loaded must write again.
      TMemoryStream out;
      TWriter w(out);
      w.WriteRootComponent(form);
    } catch (const Exception&) {
    }
    Free(form);
  }
  try {
    TResourceStream in(data, static_cast<int64_t>(size));
    TMemoryStream text;
    ObjectBinaryToText(in, text);
    // The text of a valid stream reads back.
    text.SetPosition(0);
    TMemoryStream bin;
    ObjectTextToBinary(text, bin);
  } catch (const Exception&) {
  }
  return 0;
}

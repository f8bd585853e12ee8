// formconv: converts component streams between the text form and the binary
// "TPF0" form. Class-agnostic: no class needs to be known.
//
//   formconv [--to-text] INPUT OUTPUT
//
// Without --to-text the input is text and the output binary. The output is
// written only when the conversion succeeded, so a build never embeds half
// a form. Exit status: 0 done, 1 conversion error, 2 usage or file error.
#include <cstdio>
#include <cstring>
#include <string>

#include "classlib/classes.h"

using namespace classlib;

int main(int argc, char** argv) {
  bool toText = false;
  int arg = 1;
  if (arg < argc && std::strcmp(argv[arg], "--to-text") == 0) {
    toText = true;
    ++arg;
  }
  if (argc - arg != 2) {
    std::fprintf(stderr, "usage: formconv [--to-text] INPUT OUTPUT\n");
    return 2;
  }
  const std::u16string inName = Utf8ToWide(argv[arg]);
  const std::u16string outName = Utf8ToWide(argv[arg + 1]);
  TMemoryStream in, out;
  try {
    in.LoadFromFile(inName);
  } catch (const Exception& e) {
    std::fprintf(stderr, "formconv: %s\n", e.what());
    return 2;
  }
  try {
    if (toText)
      ObjectBinaryToText(in, out);
    else
      ObjectTextToBinary(in, out);
  } catch (const Exception& e) {
    std::fprintf(stderr, "%s: %s\n", argv[arg], e.what());
    return 1;
  }
  try {
    out.SaveToFile(outName);
  } catch (const Exception& e) {
    std::fprintf(stderr, "formconv: %s\n", e.what());
    return 2;
  }
  return 0;
}

#include "kit/tray_icon_text.h"

#include <cstring>

#include "classlib/codepage.h"

namespace kelm::kit {

namespace {
bool IsHighSurrogate(char16_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool IsLowSurrogate(char16_t c) { return c >= 0xDC00 && c <= 0xDFFF; }
}  // namespace

std::string AnsiPrefix(std::u16string_view text, size_t maxBytes) {
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    // One character at a time, so a cut never falls inside one.
    size_t len =
        IsHighSurrogate(text[i]) && i + 1 < text.size() && IsLowSurrogate(text[i + 1]) ? 2 : 1;
    std::string bytes = classlib::WideToAnsi(text.substr(i, len));
    if (out.size() + bytes.size() > maxBytes) break;
    out += bytes;
    i += len;
  }
  return out;
}

void CopyAnsiField(std::u16string_view text, char* field, size_t size) {
  if (size == 0) return;
  std::memset(field, 0, size);
  std::string bytes = AnsiPrefix(text, size - 1);
  std::memcpy(field, bytes.data(), bytes.size());
}

}  // namespace kelm::kit

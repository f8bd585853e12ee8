// Texts for the fixed 8-bit fields of the notification-area record: the
// active code page, cut to the field on a character boundary, NUL kept.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kelm::kit {

// The longest leading part of text whose 8-bit form takes at most maxBytes;
// a character (a surrogate pair or a double-byte character) is never split.
std::string AnsiPrefix(std::u16string_view text, size_t maxBytes);

// Fills field with AnsiPrefix(text, size - 1) and zeros after it.
void CopyAnsiField(std::u16string_view text, char* field, size_t size);
template <size_t N>
void CopyAnsiField(std::u16string_view text, char (&field)[N]) {
  CopyAnsiField(text, field, N);
}

}  // namespace kelm::kit

// Unicode comparison ignoring case.
#include <string_view>

#include "classlib/sysutils.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace classlib {

#ifdef _WIN32

int UnicodeCompareText(std::u16string_view a, std::u16string_view b) {
  // The system's linguistic order in the user's locale, as the platform's
  // own wide lists compare.
  static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wchar_t on Windows");
  int r = CompareStringW(LOCALE_USER_DEFAULT, NORM_IGNORECASE,
                         reinterpret_cast<const wchar_t*>(a.data()), static_cast<int>(a.size()),
                         reinterpret_cast<const wchar_t*>(b.data()), static_cast<int>(b.size()));
  if (r == 0) return WideCompareText(a, b);  // the call failed: a stable fallback
  return r - CSTR_EQUAL;
}

#else

namespace {
// Simple lower-case folding of the scripts a list of names meets in
// practice; other code units compare as they are.
char16_t FoldLower(char16_t c) {
  if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c + 32);
  if (c < 0xC0) return c;
  if (c <= 0xDE) return c == 0xD7 ? c : static_cast<char16_t>(c + 32);
  if (c >= 0x0100 && c <= 0x017F) {
    if (c == 0x0130) return u'i';
    if (c == 0x0178) return 0x00FF;
    bool oddUpper = (c >= 0x0139 && c <= 0x0148) || (c >= 0x0179 && c <= 0x017E);
    if (c == 0x0131 || c == 0x0138 || c == 0x0149 || c == 0x017F) return c;
    if (oddUpper) return (c & 1) ? static_cast<char16_t>(c + 1) : c;
    return (c & 1) ? c : static_cast<char16_t>(c + 1);
  }
  if (c >= 0x0391 && c <= 0x03AB && c != 0x03A2) return static_cast<char16_t>(c + 32);
  if (c >= 0x0386 && c <= 0x038F) {
    switch (c) {
      case 0x0386:
        return 0x03AC;
      case 0x0388:
        return 0x03AD;
      case 0x0389:
        return 0x03AE;
      case 0x038A:
        return 0x03AF;
      case 0x038C:
        return 0x03CC;
      case 0x038E:
        return 0x03CD;
      case 0x038F:
        return 0x03CE;
      default:
        return c;
    }
  }
  if (c >= 0x0410 && c <= 0x042F) return static_cast<char16_t>(c + 32);
  if (c >= 0x0400 && c <= 0x040F) return static_cast<char16_t>(c + 80);
  return c;
}
}  // namespace

int UnicodeCompareText(std::u16string_view a, std::u16string_view b) {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    char16_t x = FoldLower(a[i]), y = FoldLower(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

#endif

}  // namespace classlib

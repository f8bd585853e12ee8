// Text forms of numbers, points and rectangles, and the token readers.
// Number text is always written and read with "." as the decimal
// separator; nothing here reads or changes locale settings.
#include <charconv>
#include <cmath>

#include "classlib/codepage.h"
#include "classlib/sysutils.h"
#include "scene/sg_types.h"

namespace kelm::scene {

namespace {
bool IsBlank(char c) { return static_cast<unsigned char>(c) <= ' '; }

std::string Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && IsBlank(s[b])) ++b;
  while (e > b && IsBlank(s[e - 1])) --e;
  return std::string(s.substr(b, e - b));
}

bool Contains(std::string_view set, char c) { return set.find(c) != std::string_view::npos; }
bool ContainsW(std::u16string_view set, char16_t c) {
  return set.find(c) != std::u16string_view::npos;
}

[[noreturn]] void BadFloat(std::string_view text) {
  throw classlib::EConvertError(
      classlib::Format(u"'%s' is not a valid floating point value", {classlib::AnsiToWide(text)}));
}
}  // namespace

std::string sgFloatToStr(float v) {
  const double d = v;
  char buf[400];
  std::to_chars_result r;
  if (d == std::trunc(d)) {
    // Whole values of any size print in full (no 32-bit integer on the way);
    // -0 prints as 0.
    r = std::to_chars(buf, buf + sizeof buf, d == 0 ? 0.0 : d, std::chars_format::fixed, 0);
  } else {
    r = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::fixed, 3);
  }
  return std::string(buf, r.ptr);
}

float sgStrToFloat(std::string_view text) {
  std::string t = Trim(text);
  std::string_view s = t;
  if (!s.empty() && s[0] == '+') s.remove_prefix(1);
  // Plain decimal notation only: no words (inf, nan), no hexadecimal.
  if (s.empty()) BadFloat(text);
  for (char c : s)
    if (!((c >= '0' && c <= '9') || c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-'))
      BadFloat(text);
  double v = 0;
  auto r = std::from_chars(s.data(), s.data() + s.size(), v, std::chars_format::general);
  if (r.ec != std::errc() || r.ptr != s.data() + s.size()) BadFloat(text);
  if (std::fabs(v) > 3.4028234663852886e38) BadFloat(text);
  return static_cast<float>(v);
}

std::string sgPointToStr(const TsgPoint& p) {
  return "(" + sgFloatToStr(p.X) + "," + sgFloatToStr(p.Y) + ")";
}

TsgPoint sgStrToPoint(std::string_view text) {
  std::string s(text);
  try {
    sgGetToken(s, ",()", "");
    float x = sgStrToFloat(sgGetToken(s, ",()", ""));
    float y = sgStrToFloat(sgGetToken(s, ",()", ""));
    return {x, y};
  } catch (const classlib::EConvertError&) {
    return {};
  }
}

std::string sgRectToStr(const TsgRect& r) {
  return "(" + sgFloatToStr(r.Left) + "," + sgFloatToStr(r.Top) + "," + sgFloatToStr(r.Right) +
         "," + sgFloatToStr(r.Bottom) + ")";
}

TsgRect sgStrToRect(std::string_view text) {
  std::string s(text);
  try {
    sgGetToken(s, ",()", "");
    TsgRect r;
    r.Left = sgStrToFloat(sgGetToken(s, ",()", ""));
    r.Top = sgStrToFloat(sgGetToken(s, ",()", ""));
    r.Right = sgStrToFloat(sgGetToken(s, ",()", ""));
    r.Bottom = sgStrToFloat(sgGetToken(s, ",()", ""));
    return r;
  } catch (const classlib::EConvertError&) {
    return {};
  }
}

std::string sgGetToken(std::string& s, std::string_view separators, std::string_view stop) {
  std::string token;
  size_t i = 0;
  while (i < s.size()) {
    char c = s[i];
    if (Contains(stop, c)) break;
    ++i;
    if (Contains(separators, c)) break;
    token += c;
  }
  s = Trim(std::string_view(s).substr(i));
  return Trim(token);
}

std::u16string sgReadToken(std::u16string_view s, int& pos, std::u16string_view separators,
                           std::u16string_view stop) {
  size_t i = pos < 1 ? 0 : static_cast<size_t>(pos - 1);
  while (i < s.size() && ContainsW(separators, s[i])) ++i;
  size_t start = i;
  while (i < s.size() && !ContainsW(stop, s[i]) && !ContainsW(separators, s[i])) ++i;
  std::u16string token(s.substr(start < s.size() ? start : s.size(), i - start));
  while (i < s.size() && ContainsW(separators, s[i])) ++i;
  pos = static_cast<int>(i) + 1;
  return token;
}

std::u16string sgTranslate(std::u16string_view text) { return std::u16string(text); }

}  // namespace kelm::scene

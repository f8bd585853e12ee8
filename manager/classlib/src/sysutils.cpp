#include "classlib/sysutils.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

#include <sys/stat.h>

namespace classlib {

namespace {

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

char16_t WideUpper(char16_t c) {
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 32);
  // Latin-1 lower-case letters, except the division sign and y-diaeresis.
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 32);
  return c;
}

}  // namespace

int CompareText(std::string_view a, std::string_view b) {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(AsciiUpper(a[i]));
    unsigned char y = static_cast<unsigned char>(AsciiUpper(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CompareText(a, b) == 0;
}

int WideCompareStr(std::u16string_view a, std::u16string_view b) {
  int r = a.compare(b);
  return r < 0 ? -1 : (r > 0 ? 1 : 0);
}

int WideCompareText(std::u16string_view a, std::u16string_view b) {
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    char16_t x = WideUpper(a[i]);
    char16_t y = WideUpper(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

std::string UpperCase(std::string_view s) {
  std::string r(s);
  for (auto& c : r) c = AsciiUpper(c);
  return r;
}

std::string LowerCase(std::string_view s) {
  std::string r(s);
  for (auto& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
  return r;
}

std::u16string WideUpperCase(std::u16string_view s) {
  std::u16string r(s);
  for (auto& c : r) c = WideUpper(c);
  return r;
}

bool IsValidIdent(std::string_view s) {
  if (s.empty()) return false;
  auto alpha = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; };
  if (!alpha(s[0])) return false;
  for (char c : s.substr(1))
    if (!alpha(c) && !(c >= '0' && c <= '9')) return false;
  return true;
}

std::u16string Utf8ToWide(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  size_t i = 0;
  while (i < s.size()) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    uint32_t cp = 0xFFFD;
    size_t len = 1;
    if (c < 0x80) {
      cp = c;
    } else if ((c & 0xE0) == 0xC0) {
      len = 2;
      cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      len = 3;
      cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      len = 4;
      cp = c & 0x07;
    } else {
      out.push_back(0xFFFD);
      ++i;
      continue;
    }
    if (len > 1) {
      bool ok = i + len <= s.size();
      for (size_t k = 1; ok && k < len; ++k) {
        unsigned char d = static_cast<unsigned char>(s[i + k]);
        if ((d & 0xC0) != 0x80) ok = false;
        cp = (cp << 6) | (d & 0x3F);
      }
      // Overlong forms, surrogates and values past U+10FFFF are invalid.
      static const uint32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
      if (!ok || cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        out.push_back(0xFFFD);
        ++i;
        continue;
      }
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
    i += len;
  }
  return out;
}

std::string WideToUtf8(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); ++i) {
    uint32_t cp = s[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
        s[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;  // a lone surrogate
    }
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

std::u16string AsciiToWide(std::string_view s) {
  std::u16string r;
  r.reserve(s.size());
  for (char c : s) {
    unsigned char u = static_cast<unsigned char>(c);
    r.push_back(u < 0x80 ? static_cast<char16_t>(u) : u'\xFFFD');
  }
  return r;
}

std::string IntToStrA(int64_t v) { return std::to_string(v); }
std::u16string IntToStr(int64_t v) { return AsciiToWide(std::to_string(v)); }

std::string FloatToStrA(double v) {
  if (std::isnan(v)) return "NAN";
  if (std::isinf(v)) return v < 0 ? "-INF" : "INF";
  char buf[40];
  for (int prec = 1; prec <= 17; ++prec) {
    std::snprintf(buf, sizeof buf, "%.*g", prec, v);
    if (std::strtod(buf, nullptr) == v) break;
  }
  // Plain notation reads better wherever it stays short.
  double a = std::fabs(v);
  if (std::strchr(buf, 'e') && a >= 1e-5 && a < 1e15) {
    char fixed[64];
    for (int decimals = 0; decimals <= 25; ++decimals) {
      std::snprintf(fixed, sizeof fixed, "%.*f", decimals, v);
      if (std::strtod(fixed, nullptr) == v) return fixed;
    }
  }
  return buf;
}

std::u16string FloatToStr(double v) { return AsciiToWide(FloatToStrA(v)); }

namespace {

std::string NarrowDigits(std::u16string_view s, bool& ok) {
  std::string r;
  ok = true;
  for (char16_t c : s) {
    if (c > 0x7F) {
      ok = false;
      return r;
    }
    r.push_back(static_cast<char>(c));
  }
  size_t b = r.find_first_not_of(" \t");
  size_t e = r.find_last_not_of(" \t");
  if (b == std::string::npos) {
    ok = false;
    return {};
  }
  return r.substr(b, e - b + 1);
}

}  // namespace

bool TryStrToInt64(std::u16string_view s, int64_t& out) {
  bool ok;
  std::string t = NarrowDigits(s, ok);
  if (!ok) return false;
  bool neg = false;
  size_t i = 0;
  if (t[i] == '-' || t[i] == '+') neg = t[i++] == '-';
  int base = 10;
  if (i < t.size() && t[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < t.size() && t[i] == '0' && (t[i + 1] == 'x' || t[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  if (i >= t.size()) return false;
  uint64_t v = 0;
  const uint64_t limit = neg ? uint64_t(1) << 63 : (uint64_t(1) << 63) - 1;
  for (; i < t.size(); ++i) {
    char c = t[i];
    int d;
    if (c >= '0' && c <= '9')
      d = c - '0';
    else if (base == 16 && c >= 'a' && c <= 'f')
      d = c - 'a' + 10;
    else if (base == 16 && c >= 'A' && c <= 'F')
      d = c - 'A' + 10;
    else
      return false;
    if (v > (limit - static_cast<uint64_t>(d)) / static_cast<uint64_t>(base)) return false;
    v = v * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
  }
  out = neg ? static_cast<int64_t>(0 - v) : static_cast<int64_t>(v);
  return true;
}

int64_t StrToInt64(std::u16string_view s) {
  int64_t v;
  if (!TryStrToInt64(s, v))
    throw EConvertError(Format(u"'%s' is not a valid integer value", {std::u16string(s)}));
  return v;
}

int StrToInt(std::u16string_view s) {
  int64_t v = StrToInt64(s);
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
    throw EConvertError(Format(u"'%s' is not a valid integer value", {std::u16string(s)}));
  return static_cast<int>(v);
}

bool TryStrToFloat(std::u16string_view s, double& out) {
  bool ok;
  std::string t = NarrowDigits(s, ok);
  if (!ok) return false;
  // Only plain decimal notation: no hex floats, no "inf" or "nan" words.
  for (char c : t)
    if (!((c >= '0' && c <= '9') || c == '.' || c == 'e' || c == 'E' || c == '+' || c == '-'))
      return false;
  char* end = nullptr;
  errno = 0;
  double v = std::strtod(t.c_str(), &end);
  if (end != t.c_str() + t.size() || errno == ERANGE) return false;
  out = v;
  return true;
}

double StrToFloat(std::u16string_view s) {
  double v;
  if (!TryStrToFloat(s, v))
    throw EConvertError(Format(u"'%s' is not a valid floating point value", {std::u16string(s)}));
  return v;
}

namespace {
void CheckInt64Range(double v) {
  // Every double in (-2^63, 2^63) truncates into an Int64.
  if (!(v > -9223372036854775808.0 - 1.0 && v < 9223372036854775808.0))
    throw EInvalidOp(u"Invalid floating point operation");
}
}  // namespace

int64_t Round(double v) {
  CheckInt64Range(v);
  double f = std::floor(v);
  double diff = v - f;  // exact
  if (diff > 0.5 || (diff == 0.5 && std::fmod(f, 2.0) != 0.0)) f += 1.0;
  CheckInt64Range(f);
  return static_cast<int64_t>(f);
}

int64_t Trunc(double v) {
  CheckInt64Range(v);
  return static_cast<int64_t>(v);
}

#ifndef _WIN32
int32_t MulDiv(int32_t a, int32_t b, int32_t c) {
  if (c == 0) return -1;
  int64_t p = int64_t(a) * b;
  bool neg = (p < 0) != (c < 0);
  uint64_t up = p < 0 ? 0 - static_cast<uint64_t>(p) : static_cast<uint64_t>(p);
  uint64_t uc = c < 0 ? 0 - static_cast<uint64_t>(int64_t(c)) : static_cast<uint64_t>(c);
  uint64_t q = (up + uc / 2) / uc;
  if (q > (neg ? uint64_t(1) << 31 : (uint64_t(1) << 31) - 1)) return -1;
  return neg ? static_cast<int32_t>(-static_cast<int64_t>(q)) : static_cast<int32_t>(q);
}
#endif

std::u16string Format(std::u16string_view fmt, std::initializer_list<TVarRec> args) {
  std::u16string out;
  auto it = args.begin();
  auto bad = [&]() -> EConvertError {
    return EConvertError(u"Format '" + std::u16string(fmt) +
                         u"' invalid or incompatible with argument");
  };
  for (size_t i = 0; i < fmt.size(); ++i) {
    char16_t c = fmt[i];
    if (c != u'%') {
      out.push_back(c);
      continue;
    }
    if (++i >= fmt.size()) throw bad();
    if (fmt[i] == u'%') {
      out.push_back(u'%');
      continue;
    }
    bool left = false, zero = false;
    for (; i < fmt.size() && (fmt[i] == u'-' || fmt[i] == u'0'); ++i)
      (fmt[i] == u'-' ? left : zero) = true;
    int width = 0, prec = -1;
    for (; i < fmt.size() && fmt[i] >= u'0' && fmt[i] <= u'9'; ++i)
      width = width * 10 + (fmt[i] - u'0');
    if (i < fmt.size() && fmt[i] == u'.') {
      prec = 0;
      for (++i; i < fmt.size() && fmt[i] >= u'0' && fmt[i] <= u'9'; ++i)
        prec = prec * 10 + (fmt[i] - u'0');
    }
    if (i >= fmt.size() || it == args.end() || width > 1000 || prec > 100) throw bad();
    const TVarRec& a = *it++;
    std::u16string piece;
    char conv = static_cast<char>(fmt[i]);
    char buf[160];
    switch (conv) {
      case 'd':
      case 'u':
        if (a.kind() != TVarRec::Kind::Int) throw bad();
        std::snprintf(buf, sizeof buf, "%.*lld", prec < 0 ? 1 : prec,
                      static_cast<long long>(a.AsInt()));
        piece = AsciiToWide(buf);
        break;
      case 'x':
      case 'X':
        if (a.kind() != TVarRec::Kind::Int) throw bad();
        std::snprintf(buf, sizeof buf, conv == 'x' ? "%.*llx" : "%.*llX", prec < 0 ? 1 : prec,
                      static_cast<unsigned long long>(a.AsInt()));
        piece = AsciiToWide(buf);
        break;
      case 'f':
      case 'e':
      case 'g': {
        double v;
        if (a.kind() == TVarRec::Kind::Float)
          v = a.AsFloat();
        else if (a.kind() == TVarRec::Kind::Int)
          v = static_cast<double>(a.AsInt());
        else
          throw bad();
        int p = prec < 0 ? (conv == 'g' ? 15 : 2) : prec;
        if (conv == 'f')
          std::snprintf(buf, sizeof buf, "%.*f", p, v);
        else if (conv == 'e')
          std::snprintf(buf, sizeof buf, "%.*e", p, v);
        else
          std::snprintf(buf, sizeof buf, "%.*g", p, v);
        piece = AsciiToWide(buf);
        break;
      }
      case 's':
        if (a.kind() != TVarRec::Kind::Wide) throw bad();
        piece = a.AsWide();
        if (prec >= 0 && piece.size() > static_cast<size_t>(prec))
          piece.resize(static_cast<size_t>(prec));
        break;
      default:
        throw bad();
    }
    if (static_cast<int>(piece.size()) < width) {
      size_t pad = static_cast<size_t>(width) - piece.size();
      if (left) {
        piece.append(pad, u' ');
      } else if (zero && conv != 's') {
        size_t at = (!piece.empty() && piece[0] == u'-') ? 1 : 0;
        piece.insert(at, pad, u'0');
      } else {
        piece.insert(0, pad, u' ');
      }
    }
    out += piece;
  }
  return out;
}

Exception::Exception(std::u16string message, int helpContext)
    : message_(std::move(message)), utf8_(WideToUtf8(message_)), helpContext_(helpContext) {}

Exception::Exception(const char* asciiMessage)
    : Exception(Utf8ToWide(asciiMessage ? asciiMessage : "")) {}

void Exception::SetMessage(std::u16string m) {
  message_ = std::move(m);
  utf8_ = WideToUtf8(message_);
}

void RaiseAssertion(std::u16string_view message, std::string_view unit, int line) {
  throw EAssertionFailed(
      Format(u"%s (%s, line %d)", {std::u16string(message), std::string(unit), line}));
}

bool FileExists(const std::u16string& fileName) {
  if (fileName.empty()) return false;
#ifdef _WIN32
  struct _stat64 st;
  if (_wstat64(reinterpret_cast<const wchar_t*>(fileName.c_str()), &st) != 0) return false;
  return (st.st_mode & _S_IFDIR) == 0;
#else
  struct stat st;
  if (stat(WideToUtf8(fileName).c_str(), &st) != 0) return false;
  return !S_ISDIR(st.st_mode);
#endif
}

}  // namespace classlib

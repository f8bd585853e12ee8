// Text, formatting and the exception family of the class library.
//
// Wide text is UTF-16 (char16_t, std::u16string) everywhere: wchar_t is four
// bytes on Linux. 8-bit text is std::string in the active code page (see
// codepage.h); class, property and component names are plain ASCII.
#pragma once

#include <cstdint>
#include <exception>
#include <initializer_list>
#include <string>
#include <string_view>

namespace classlib {

using WideString = std::u16string;
using AnsiString = std::string;

// ---- comparison (ASCII case folding, as identifiers and resource names use)
int CompareText(std::string_view a, std::string_view b);
bool SameText(std::string_view a, std::string_view b);
// Wide comparison ignoring case for the Basic Latin and Latin-1 letters.
int WideCompareText(std::u16string_view a, std::u16string_view b);
int WideCompareStr(std::u16string_view a, std::u16string_view b);
// Unicode comparison ignoring case: the system's (user locale) on Windows;
// elsewhere code units compared after folding the letters of Latin-1,
// Latin Extended-A, Greek and Cyrillic to lower case. -1, 0 or 1.
int UnicodeCompareText(std::u16string_view a, std::u16string_view b);
std::string UpperCase(std::string_view s);
std::string LowerCase(std::string_view s);
std::u16string WideUpperCase(std::u16string_view s);
bool IsValidIdent(std::string_view ident);

// ---- UTF conversions (lossless; invalid input becomes U+FFFD)
std::u16string Utf8ToWide(std::string_view s);
std::string WideToUtf8(std::u16string_view s);
// ASCII widening for literals and names; bytes above 0x7F become U+FFFD.
std::u16string AsciiToWide(std::string_view s);

// ---- numbers
std::u16string IntToStr(int64_t v);
std::string IntToStrA(int64_t v);
// Shortest text that reads back to the same double; "." as separator.
std::string FloatToStrA(double v);
std::u16string FloatToStr(double v);
// Raise EConvertError on text that is not a whole number / a number.
int64_t StrToInt64(std::u16string_view s);
int StrToInt(std::u16string_view s);
double StrToFloat(std::u16string_view s);
bool TryStrToInt64(std::u16string_view s, int64_t& out);
bool TryStrToFloat(std::u16string_view s, double& out);

// ---- rounding
// To nearest, halves to even (2.5 -> 2, 3.5 -> 4); EInvalidOp beyond Int64.
int64_t Round(double v);
// Toward zero; EInvalidOp beyond Int64.
int64_t Trunc(double v);
}  // namespace classlib

// a * b / c rounded to nearest, halves away from zero, with a 64-bit
// intermediate; -1 when c is 0 or the result does not fit. On Windows it is
// the system's own (the same declaration as the system header's, so code
// that sees both is not ambiguous); elsewhere ours.
#ifdef _WIN32
extern "C" __declspec(dllimport) int __stdcall MulDiv(int nNumber, int nNumerator,
                                                      int nDenominator);
namespace classlib {
using ::MulDiv;
}
#endif

namespace classlib {
#ifndef _WIN32
int32_t MulDiv(int32_t a, int32_t b, int32_t c);
#endif

// ---- Format: %s %d %u %x %X %f %e %g with flags '-' and '0', width and
// precision ("%.2f", "%5d"), and "%%". A mismatch raises EConvertError.
class TVarRec {
 public:
  enum class Kind { Int, Float, Wide };
  TVarRec(int v) : kind_(Kind::Int), i_(v) {}
  TVarRec(long v) : kind_(Kind::Int), i_(v) {}
  TVarRec(long long v) : kind_(Kind::Int), i_(v) {}
  TVarRec(unsigned v) : kind_(Kind::Int), i_(v) {}
  TVarRec(unsigned long v) : kind_(Kind::Int), i_(static_cast<int64_t>(v)) {}
  TVarRec(unsigned long long v) : kind_(Kind::Int), i_(static_cast<int64_t>(v)) {}
  TVarRec(double v) : kind_(Kind::Float), f_(v) {}
  TVarRec(const char16_t* v) : kind_(Kind::Wide), s_(v ? v : u"") {}
  TVarRec(std::u16string_view v) : kind_(Kind::Wide), s_(v) {}
  TVarRec(const std::u16string& v) : kind_(Kind::Wide), s_(v) {}
  // 8-bit text is taken as ASCII/UTF-8 (names, class names).
  TVarRec(const char* v) : kind_(Kind::Wide), s_(Utf8ToWide(v ? v : "")) {}
  TVarRec(const std::string& v) : kind_(Kind::Wide), s_(Utf8ToWide(v)) {}
  Kind kind() const { return kind_; }
  int64_t AsInt() const { return i_; }
  double AsFloat() const { return f_; }
  const std::u16string& AsWide() const { return s_; }

 private:
  Kind kind_;
  int64_t i_ = 0;
  double f_ = 0;
  std::u16string s_;
};

std::u16string Format(std::u16string_view fmt, std::initializer_list<TVarRec> args);

// ---- exceptions: every failure carries its message text (and a help context)
class Exception : public std::exception {
 public:
  explicit Exception(std::u16string message, int helpContext = 0);
  explicit Exception(const char* asciiMessage);
  static Exception CreateFmt(std::u16string_view fmt, std::initializer_list<TVarRec> args) {
    return Exception(Format(fmt, args));
  }
  const std::u16string& Message() const { return message_; }
  void SetMessage(std::u16string m);
  int HelpContext() const { return helpContext_; }
  const char* what() const noexcept override { return utf8_.c_str(); }

 private:
  std::u16string message_;
  std::string utf8_;
  int helpContext_ = 0;
};

#define CLASSLIB_EXCEPTION(Name, Base)                                                 \
  class Name : public Base {                                                           \
   public:                                                                             \
    using Base::Base;                                                                  \
    static Name CreateFmt(std::u16string_view fmt, std::initializer_list<TVarRec> a) { \
      return Name(Format(fmt, a));                                                     \
    }                                                                                  \
  };

CLASSLIB_EXCEPTION(EConvertError, Exception)
CLASSLIB_EXCEPTION(EListError, Exception)
CLASSLIB_EXCEPTION(EStringListError, EListError)
CLASSLIB_EXCEPTION(EStreamError, Exception)
CLASSLIB_EXCEPTION(EFCreateError, EStreamError)
CLASSLIB_EXCEPTION(EFOpenError, EStreamError)
CLASSLIB_EXCEPTION(EFilerError, EStreamError)
CLASSLIB_EXCEPTION(EReadError, EFilerError)
CLASSLIB_EXCEPTION(EWriteError, EFilerError)
CLASSLIB_EXCEPTION(EClassNotFound, EFilerError)
CLASSLIB_EXCEPTION(EParserError, Exception)
CLASSLIB_EXCEPTION(EComponentError, Exception)
CLASSLIB_EXCEPTION(EPropertyError, Exception)
CLASSLIB_EXCEPTION(EInvalidCast, Exception)
CLASSLIB_EXCEPTION(EOSError, Exception)
CLASSLIB_EXCEPTION(ERangeError, Exception)
CLASSLIB_EXCEPTION(EVariantError, Exception)
CLASSLIB_EXCEPTION(EInvalidOp, Exception)

// Assertion failures are raised, never aborting: message, unit and line.
class EAssertionFailed : public Exception {
 public:
  using Exception::Exception;
};
[[noreturn]] void RaiseAssertion(std::u16string_view message, std::string_view unit, int line);

// True when the name is an existing file (not a directory).
bool FileExists(const std::u16string& fileName);

}  // namespace classlib

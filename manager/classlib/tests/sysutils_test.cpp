// Text helpers: formatting, number conversion, UTF and code-page text,
// exceptions.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>

#include "classlib/classes.h"

namespace classlib {
namespace {

TEST(SysUtils, FormatCoversTheSpecifiersInUse) {
  struct Case {
    const char16_t* fmt;
    std::u16string expected;
  } cases[] = {
      {u"Create Error:%s", u"Create Error:denied"},
      {u"%d of %d", u"3 of -4"},
      {u"%.2f", u"3.14"},
      {u"%.0f%%", u"3%"},
      {u"[%5d|%-4s|%05d]", u"[   42|ab  |-0042]"},
      {u"%x/%X", u"ff/FF"},
  };
  EXPECT_EQ(Format(cases[0].fmt, {u"denied"}), cases[0].expected);
  EXPECT_EQ(Format(cases[1].fmt, {3, -4}), cases[1].expected);
  EXPECT_EQ(Format(cases[2].fmt, {3.14159}), cases[2].expected);
  EXPECT_EQ(Format(cases[3].fmt, {3.4}), cases[3].expected);
  EXPECT_EQ(Format(cases[4].fmt, {42, "ab", -42}), cases[4].expected);
  EXPECT_EQ(Format(cases[5].fmt, {255, 255}), cases[5].expected);
  EXPECT_EQ(Format(u"%s", {u"\x4e2d\xd83d\xde00"}), u"\x4e2d\xd83d\xde00");
}

TEST(SysUtils, FormatMismatchesRaiseTheConversionError) {
  EXPECT_THROW(Format(u"%d", {u"text"}), EConvertError);
  EXPECT_THROW(Format(u"%s", {5}), EConvertError);
  EXPECT_THROW(Format(u"%d %d", {5}), EConvertError);
  EXPECT_THROW(Format(u"%q", {5}), EConvertError);
  EXPECT_THROW(Format(u"100%", {}), EConvertError);
}

TEST(SysUtils, NumbersFromText) {
  EXPECT_EQ(StrToInt(u" 42 "), 42);
  EXPECT_EQ(StrToInt(u"-$1F"), -31);
  EXPECT_EQ(StrToInt64(u"-9223372036854775808"), INT64_MIN);
  EXPECT_THROW(StrToInt64(u"9223372036854775808"), EConvertError);
  EXPECT_THROW(StrToInt(u"4294967296"), EConvertError);
  EXPECT_THROW(StrToInt(u"12a"), EConvertError);
  EXPECT_THROW(StrToInt(u""), EConvertError);
  EXPECT_DOUBLE_EQ(StrToFloat(u"2.5e3"), 2500.0);
  EXPECT_THROW(StrToFloat(u"inf"), EConvertError);
  EXPECT_THROW(StrToFloat(u"1,5"), EConvertError);
  try {
    StrToInt(u"x");
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "'x' is not a valid integer value");
  }
}

TEST(SysUtils, FloatTextIsShortAndExact) {
  for (double v : {0.1, 1.0 / 3.0, 1e-7, 123456.0, 1e300, -0.5}) {
    std::string s = FloatToStrA(v);
    EXPECT_EQ(std::strtod(s.c_str(), nullptr), v) << s;
  }
  EXPECT_EQ(FloatToStrA(0.1), "0.1");
  EXPECT_EQ(FloatToStrA(1000.0), "1000");
}

TEST(SysUtils, RoundHalvesToEvenTruncTowardZero) {
  struct Case {
    double v;
    int64_t round, trunc;
  } cases[] = {
      {0.5, 0, 0},    {1.5, 2, 1},    {2.5, 2, 2},
      {-0.5, 0, 0},   {-1.5, -2, -1}, {-2.5, -2, -2},
      {2.4999, 2, 2}, {-2.7, -3, -2}, {4503599627370497.0, 4503599627370497, 4503599627370497},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Round(c.v), c.round) << c.v;
    EXPECT_EQ(Trunc(c.v), c.trunc) << c.v;
  }
  EXPECT_THROW(Round(1e19), EInvalidOp);
  EXPECT_THROW(Trunc(-1e300), EInvalidOp);
  EXPECT_THROW(Round(std::nan("")), EInvalidOp);
}

TEST(SysUtils, MulDivRoundsAndReportsFailure) {
  EXPECT_EQ(MulDiv(10, 3, 4), 8);  // 7.5 away from zero
  EXPECT_EQ(MulDiv(-10, 3, 4), -8);
  EXPECT_EQ(MulDiv(10, 3, -4), -8);
  EXPECT_EQ(MulDiv(7, 96, 96), 7);
  EXPECT_EQ(MulDiv(0x7FFFFFFF, 2, 2), 0x7FFFFFFF);  // 64-bit intermediate
  EXPECT_EQ(MulDiv(1, 1, 0), -1);
  EXPECT_EQ(MulDiv(0x7FFFFFFF, 4, 1), -1);
}

TEST(SysUtils, Utf8AndUtf16) {
  std::u16string w = u"a\x00e9\x4e2d\xd83d\xde00";
  std::string u8 = WideToUtf8(w);
  EXPECT_EQ(u8, "a\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80");
  EXPECT_EQ(Utf8ToWide(u8), w);
  // Broken sequences become U+FFFD, never read past the end.
  EXPECT_EQ(Utf8ToWide("\xe4\xb8"), u"\xfffd\xfffd");
  EXPECT_EQ(Utf8ToWide("\xc0\xaf"), u"\xfffd\xfffd");            // overlong
  EXPECT_EQ(Utf8ToWide("\xed\xa0\x80"), u"\xfffd\xfffd\xfffd");  // surrogate
  EXPECT_EQ(WideToUtf8(u"\xd800x"), "\xef\xbf\xbdx");            // lone surrogate
}

TEST(SysUtils, CodePageConversion) {
  auto old = SetCodePage(MakeWindows1252Converter());
  EXPECT_EQ(AnsiToWide("\x80\xe9"), u"\x20ac\x00e9");
  EXPECT_EQ(WideToAnsi(u"\x20ac\x00e9\x4e2d"), "\x80\xe9?");
  SetCodePage(std::move(old));
}

TEST(SysUtils, ComparisonWithoutCase) {
  EXPECT_EQ(CompareText("abc", "ABD"), -1);
  EXPECT_TRUE(SameText("TsgButton", "TSGBUTTON"));
  EXPECT_FALSE(SameText("a", "ab"));
  EXPECT_EQ(WideCompareText(u"\x00e9t\x00e9", u"\x00c9T\x00c9"), 0);
  EXPECT_EQ(UpperCase("abc1"), "ABC1");
  EXPECT_TRUE(IsValidIdent("_a1"));
  EXPECT_FALSE(IsValidIdent("a.b"));
  EXPECT_FALSE(IsValidIdent(""));
}

TEST(SysUtils, UnicodeComparisonIgnoresCaseBeyondLatin1) {
  struct {
    std::u16string a, b;
    int sign;
  } cases[] = {
      {u"abc", u"ABC", 0},
      {u"\x00E9t\x00E9", u"\x00C9T\x00C9", 0},  // Latin-1
      {u"\x0142\x00F3"
       u"d\x017A",
       u"\x0141\x00D3"
       u"D\x0179",
       0},                                                // Latin Extended-A
      {u"\x03B1\x03B2\x03B3", u"\x0391\x0392\x0393", 0},  // Greek
      {u"\x043F\x0440\x0438\x0432\x0435\x0442", u"\x041F\x0420\x0418\x0412\x0415\x0422", 0},
      {u"\x0451\x0436", u"\x0401\x0416", 0},  // Cyrillic with IO
      {u"a", u"B", -1},
      {u"B", u"a", 1},
      {u"ab", u"AB c", -1},
      {u"", u"", 0},
  };
  for (const auto& c : cases) {
    int r = UnicodeCompareText(c.a, c.b);
    EXPECT_EQ((r > 0) - (r < 0), c.sign) << WideToUtf8(c.a) << " / " << WideToUtf8(c.b);
    int back = UnicodeCompareText(c.b, c.a);
    EXPECT_EQ((back > 0) - (back < 0), -c.sign) << WideToUtf8(c.a);
  }
}

TEST(SysUtils, ExceptionsCarryMessageAndHelpContext) {
  Exception e(u"Cannot set initial user data", 2008);
  EXPECT_EQ(e.HelpContext(), 2008);
  EXPECT_EQ(e.Message(), u"Cannot set initial user data");
  EXPECT_STREQ(e.what(), "Cannot set initial user data");
  auto f = EConvertError::CreateFmt(u"Cannot assign a %s to a %s", {"TFont", "TBitmap"});
  EXPECT_EQ(f.Message(), u"Cannot assign a TFont to a TBitmap");
  try {
    RaiseAssertion(u"Node must not be nil.", "LazyTrees", 120);
  } catch (const EAssertionFailed& a) {
    EXPECT_EQ(a.Message(), u"Node must not be nil. (LazyTrees, line 120)");
  }
}

TEST(SysUtils, FileExistsOnlyForFiles) {
  const std::string name = ::testing::TempDir() + "classlib_file_exists.tmp";
  std::remove(name.c_str());
  const std::u16string wide = Utf8ToWide(name);
  EXPECT_FALSE(FileExists(wide));
  std::FILE* f = std::fopen(name.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fclose(f);
  EXPECT_TRUE(FileExists(wide));
  std::remove(name.c_str());
  EXPECT_FALSE(FileExists(wide));
  EXPECT_FALSE(FileExists(Utf8ToWide(::testing::TempDir())));
  EXPECT_FALSE(FileExists(u""));
}

}  // namespace
}  // namespace classlib

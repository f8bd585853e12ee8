// Dates and times: the calendar, SYSTEMTIME, whole minutes between, text
// in the locale settings and back.
#include <gtest/gtest.h>

#include "classlib/classes.h"

namespace classlib {
namespace {

TEST(DateTime, EncodeDecodeAndTheCalendar) {
  EXPECT_EQ(EncodeDate(1899, 12, 30), 0.0);
  EXPECT_EQ(EncodeDate(1900, 1, 1), 2.0);
  EXPECT_EQ(EncodeDate(2000, 2, 29), 36585.0);
  EXPECT_EQ(EncodeDate(1899, 12, 29), -1.0);
  struct Case {
    int y, m, d;
  } cases[] = {{1, 1, 1},      {1600, 2, 29}, {1899, 12, 31},
               {1999, 12, 31}, {2024, 2, 29}, {9999, 12, 31}};
  for (auto c : cases) {
    int y, m, d;
    DecodeDate(EncodeDate(c.y, c.m, c.d), y, m, d);
    EXPECT_EQ(y * 10000 + m * 100 + d, c.y * 10000 + c.m * 100 + c.d);
  }
  EXPECT_THROW(EncodeDate(2023, 2, 29), EConvertError);
  EXPECT_THROW(EncodeDate(2023, 13, 1), EConvertError);
  EXPECT_THROW(EncodeTime(24, 0, 0, 0), EConvertError);
  EXPECT_EQ(DaysInAMonth(1900, 2), 28);
  EXPECT_EQ(DaysInAMonth(2000, 2), 29);
  EXPECT_EQ(DaysInAMonth(2000, 0), 0);
  int h, n, s, ms;
  DecodeTime(EncodeDate(2020, 5, 17) + EncodeTime(13, 45, 30, 250), h, n, s, ms);
  EXPECT_EQ(h * 10000000 + n * 100000 + s * 1000 + ms, 134530250);
}

TEST(DateTime, DayOfWeekStartsOnSunday) {
  EXPECT_EQ(DayOfWeek(EncodeDate(1899, 12, 30)), 7);  // a Saturday
  EXPECT_EQ(DayOfWeek(EncodeDate(2024, 6, 2)), 1);    // a Sunday
  // Before day 0 the whole part is the day and the fraction its time:
  // -5.5 is noon of 1899-12-25, a Monday; -4.5 noon of the Tuesday.
  EXPECT_EQ(DayOfWeek(EncodeDate(1899, 12, 25) - 0.5), 2);
  EXPECT_EQ(DayOfWeek(EncodeDate(1899, 12, 25) + 0.5), 3);
}

TEST(DateTime, SystemTimeConversionFailsOnInvalidFields) {
  TSystemTime st{2021, 3, 0, 14, 9, 26, 53, 589};
  TDateTime dt = SystemTimeToDateTime(st);
  TSystemTime back = DateTimeToSystemTime(dt);
  EXPECT_EQ(back.wYear, 2021);
  EXPECT_EQ(back.wDay, 14);
  EXPECT_EQ(back.wDayOfWeek, 0);  // a Sunday
  EXPECT_EQ(back.wMilliseconds, 589);
  const TSystemTime bad[] = {{},
                             {2021, 2, 0, 30, 0, 0, 0, 0},
                             {2021, 1, 0, 1, 24, 0, 0, 0},
                             {2021, 1, 0, 1, 0, 60, 0, 0},
                             {2021, 1, 0, 1, 0, 0, 0, 1000}};
  for (const auto& b : bad) {
    TDateTime out;
    EXPECT_FALSE(TrySystemTimeToDateTime(b, out));
    EXPECT_THROW(SystemTimeToDateTime(b), EConvertError);
  }
}

TEST(DateTime, WholeMinutesAndHoursDropTheFraction) {
  TDateTime t0 = EncodeDate(2022, 1, 1) + EncodeTime(23, 58, 0, 0);
  struct Case {
    TDateTime later;
    int64_t minutes, hours;
  } cases[] = {
      {t0 + EncodeTime(0, 3, 0, 0), 3, 0},
      {t0 + EncodeTime(0, 2, 59, 999), 2, 0},
      {t0 + EncodeTime(3, 0, 0, 0), 180, 3},
      {t0 + EncodeTime(2, 59, 59, 0), 179, 2},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(MinutesBetween(c.later, t0), c.minutes);
    EXPECT_EQ(MinutesBetween(t0, c.later), c.minutes);
    EXPECT_EQ(HoursBetween(c.later, t0), c.hours);
  }
}

TEST(DateTime, FormatsInTheSettings) {
  TFormatSettings fs;  // the fixed defaults
  TDateTime dt = EncodeDate(2024, 3, 5) + EncodeTime(14, 7, 9, 45);
  struct Case {
    const char16_t* format;
    const char16_t* text;
  } cases[] = {
      {u"c", u"3/5/2024 2:07:09 PM"},
      {u"yyyy-mm-dd hh:nn:ss.zzz", u"2024-03-05 14:07:09.045"},
      {u"dddd d mmmm yy", u"Tuesday 5 March 24"},
      {u"ddd mmm", u"Tue Mar"},
      {u"h:mm am/pm", u"2:07 pm"},
      {u"h:mm AM/PM", u"2:07 PM"},
      {u"hh:mm a/p", u"02:07 p"},
      {u"'at' t", u"at 2:07 PM"},
      {u"ddddd", u"3/5/2024"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(FormatDateTime(c.format, dt, fs), c.text) << WideToUtf8(c.format);
  EXPECT_EQ(DateTimeToStr(EncodeDate(2024, 3, 5), fs), u"3/5/2024");  // no time part, no time
  fs.ShortDateFormat = u"dd.mm.yyyy";
  fs.DateSeparator = u'.';
  fs.LongTimeFormat = u"hh:nn:ss";
  EXPECT_EQ(DateTimeToStr(dt, fs), u"05.03.2024 14:07:09");
}

TEST(DateTime, ParsesInTheOrderOfTheShortDate) {
  TFormatSettings us;
  TFormatSettings de;
  de.ShortDateFormat = u"dd.mm.yyyy";
  de.DateSeparator = u'.';
  struct Case {
    const TFormatSettings* fs;
    const char16_t* text;
    TDateTime expected;
  } cases[] = {
      {&us, u"3/5/2024", EncodeDate(2024, 3, 5)},
      {&us, u"3/5/2024 2:07 PM", EncodeDate(2024, 3, 5) + EncodeTime(14, 7, 0, 0)},
      {&us, u"12/31/99 12:00:01 am", EncodeDate(1999, 12, 31) + EncodeTime(0, 0, 1, 0)},
      {&de, u"05.03.2024 14:07:09", EncodeDate(2024, 3, 5) + EncodeTime(14, 7, 9, 0)},
  };
  for (const auto& c : cases)
    EXPECT_EQ(StrToDateTime(c.text, *c.fs), c.expected) << WideToUtf8(c.text);
  for (const char16_t* bad : {u"", u"3/5", u"2/30/2024", u"3/5/2024 25:00", u"3/5/2024 2:07 XM",
                              u"3-5-2024", u"3/5/2024 13:00 PM"}) {
    TDateTime out;
    EXPECT_FALSE(TryStrToDateTime(bad, out, us)) << WideToUtf8(bad);
  }
  EXPECT_THROW(StrToDate(u"3/5/2024 1:00", us), EConvertError);
  // Written and read back in the default format.
  TDateTime dt = EncodeDate(2030, 7, 8) + EncodeTime(9, 10, 11, 0);
  EXPECT_EQ(StrToDateTime(DateTimeToStr(dt, de), de), dt);
}

TEST(DateTime, FloatsWithTheLocaleSeparator) {
  TFormatSettings fs;
  fs.DecimalSeparator = u',';
  EXPECT_EQ(StrToFloat(u"2,5", fs), 2.5);
  EXPECT_THROW(StrToFloat(u"2.5", fs), EConvertError);
  EXPECT_EQ(FloatToStr(0.25, fs), u"0,25");
}

TEST(DateTime, VariantsCarryDatesAsDefaultText) {
  TDateTime dt = EncodeDate(2024, 3, 5) + EncodeTime(14, 7, 9, 0);
  TVariant v = TVariant::Date(dt);
  EXPECT_EQ(v.ToString(), DateTimeToStr(dt));
  EXPECT_EQ(TVariant(DateTimeToStr(dt)).ToDateTime(), dt);
  EXPECT_THROW(TVariant(u"not a date").ToDateTime(), EConvertError);
}

TEST(DateTime, NowIsToday) {
  TDateTime now = Now();
  EXPECT_GE(now, Date());
  EXPECT_LT(now - Date(), 1.0);
  EXPECT_GT(now, EncodeDate(2020, 1, 1));
}

}  // namespace
}  // namespace classlib

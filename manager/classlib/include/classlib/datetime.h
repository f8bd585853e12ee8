// Dates and times (TDateTime: days since 1899-12-30, the fraction is the
// time of day) and the locale settings that format and parse them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace classlib {

using TDateTime = double;

// The Windows SYSTEMTIME layout.
struct TSystemTime {
  uint16_t wYear = 0, wMonth = 0, wDayOfWeek = 0, wDay = 0;
  uint16_t wHour = 0, wMinute = 0, wSecond = 0, wMilliseconds = 0;
};
static_assert(sizeof(TSystemTime) == 16, "SYSTEMTIME is 16 bytes");

// The one settable locale object. Format letters: d dd ddd dddd (day,
// short and long day name), m mm mmm mmmm (month; minutes right after an
// hour), yy yyyy, h hh, n nn, s ss, z zzz, AM/PM am/pm A/P AMPM, t tt
// (short and long time), c (short date and long time), / and : (the
// separators), quoted text.
struct TFormatSettings {
  char16_t DecimalSeparator = u'.';
  char16_t DateSeparator = u'/';
  char16_t TimeSeparator = u':';
  std::u16string ShortDateFormat = u"m/d/yyyy";
  std::u16string LongDateFormat = u"dddd, mmmm d, yyyy";
  std::u16string ShortTimeFormat = u"h:nn AMPM";
  std::u16string LongTimeFormat = u"h:nn:ss AMPM";
  std::u16string TimeAMString = u"AM";
  std::u16string TimePMString = u"PM";
  std::u16string LongMonthNames[12] = {u"January",   u"February", u"March",    u"April",
                                       u"May",       u"June",     u"July",     u"August",
                                       u"September", u"October",  u"November", u"December"};
  std::u16string ShortMonthNames[12] = {u"Jan", u"Feb", u"Mar", u"Apr", u"May", u"Jun",
                                        u"Jul", u"Aug", u"Sep", u"Oct", u"Nov", u"Dec"};
  std::u16string LongDayNames[7] = {u"Sunday",   u"Monday", u"Tuesday", u"Wednesday",
                                    u"Thursday", u"Friday", u"Saturday"};
  std::u16string ShortDayNames[7] = {u"Sun", u"Mon", u"Tue", u"Wed", u"Thu", u"Fri", u"Sat"};
};

// Filled from the user locale on Windows at first use; fixed (US English)
// on the host. Tests may change it.
TFormatSettings& FormatSettings();

// ---- calendar
bool IsLeapYear(int year);
int DaysInAMonth(int year, int month);  // 0 for a month outside 1..12
// EConvertError on a date or time that does not exist.
TDateTime EncodeDate(int year, int month, int day);
TDateTime EncodeTime(int hour, int minute, int second, int msec);
bool TryEncodeDate(int year, int month, int day, TDateTime& out);
bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& out);
void DecodeDate(TDateTime dt, int& year, int& month, int& day);
void DecodeTime(TDateTime dt, int& hour, int& minute, int& second, int& msec);
// 1 = Sunday .. 7 = Saturday.
int DayOfWeek(TDateTime dt);
TDateTime Now();
TDateTime Date();

// Whole minutes and hours between two moments, fraction dropped, computed
// on milliseconds so that exactly 3:00 is 3 hours or 180 minutes.
int64_t MinutesBetween(TDateTime a, TDateTime b);
int64_t HoursBetween(TDateTime a, TDateTime b);

// SYSTEMTIME conversion; an invalid field fails (EConvertError, or false).
bool TrySystemTimeToDateTime(const TSystemTime& st, TDateTime& out);
TDateTime SystemTimeToDateTime(const TSystemTime& st);
TSystemTime DateTimeToSystemTime(TDateTime dt);

// ---- text
std::u16string FormatDateTime(std::u16string_view format, TDateTime dt,
                              const TFormatSettings& fs = FormatSettings());
// The default format: the short date, then the long time when there is one.
std::u16string DateTimeToStr(TDateTime dt, const TFormatSettings& fs = FormatSettings());
std::u16string DateToStr(TDateTime dt, const TFormatSettings& fs = FormatSettings());
std::u16string TimeToStr(TDateTime dt, const TFormatSettings& fs = FormatSettings());
// Parses a date in the order of ShortDateFormat with DateSeparator,
// optionally followed by a time h:n[:s] with TimeSeparator and AM/PM.
bool TryStrToDateTime(std::u16string_view text, TDateTime& out,
                      const TFormatSettings& fs = FormatSettings());
TDateTime StrToDateTime(std::u16string_view text, const TFormatSettings& fs = FormatSettings());
TDateTime StrToDate(std::u16string_view text, const TFormatSettings& fs = FormatSettings());

// Floats with the locale's decimal separator.
std::u16string FloatToStr(double v, const TFormatSettings& fs);
bool TryStrToFloat(std::u16string_view s, double& out, const TFormatSettings& fs);
double StrToFloat(std::u16string_view s, const TFormatSettings& fs);

}  // namespace classlib

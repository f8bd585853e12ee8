#include "classlib/datetime.h"

#include <chrono>
#include <cmath>
#include <ctime>

#include "classlib/sysutils.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace classlib {

namespace {

constexpr int64_t kMsPerDay = 86400000;

// Days from 1970-01-01 of a proleptic Gregorian date (civil calendar).
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(yoe + era * 400 + (m <= 2));
}

const int64_t kEpochOffset = DaysFromCivil(1899, 12, 30);  // day 0

// A date-time as whole days and milliseconds of the day (the time part
// counts from midnight also for days before 1899-12-30).
struct Stamp {
  int64_t days;
  int64_t ms;
};

Stamp ToStamp(TDateTime dt) {
  if (!(dt > -2958466.0 && dt < 2958466.0)) throw EConvertError(u"Invalid date-time value");
  double whole = std::trunc(dt);
  int64_t ms = static_cast<int64_t>(std::nearbyint(std::fabs(dt - whole) * kMsPerDay));
  int64_t days = static_cast<int64_t>(whole);
  if (ms >= kMsPerDay) ms = kMsPerDay - 1;
  return {days, ms};
}

int64_t TotalMs(TDateTime dt) {
  Stamp s = ToStamp(dt);
  // Before day 0 the time still runs forward within its day.
  return s.days >= 0 ? s.days * kMsPerDay + s.ms : s.days * kMsPerDay - s.ms;
}

}  // namespace

TFormatSettings& FormatSettings() {
  static TFormatSettings fs = [] {
    TFormatSettings s;
#ifdef _WIN32
    auto get = [](LCTYPE type, std::u16string& out) {
      wchar_t buf[128];
      int n = GetLocaleInfoW(LOCALE_USER_DEFAULT, type, buf, 128);
      if (n > 1) out.assign(reinterpret_cast<const char16_t*>(buf), static_cast<size_t>(n - 1));
    };
    std::u16string v;
    get(LOCALE_SDECIMAL, v);
    if (v.size() == 1) s.DecimalSeparator = v[0];
    for (int i = 0; i < 12; ++i) {
      get(LOCALE_SMONTHNAME1 + static_cast<LCTYPE>(i), s.LongMonthNames[i]);
      get(LOCALE_SABBREVMONTHNAME1 + static_cast<LCTYPE>(i), s.ShortMonthNames[i]);
    }
    for (int i = 0; i < 7; ++i) {
      // The locale's list starts with Monday; ours with Sunday.
      get(LOCALE_SDAYNAME1 + static_cast<LCTYPE>((i + 6) % 7), s.LongDayNames[i]);
      get(LOCALE_SABBREVDAYNAME1 + static_cast<LCTYPE>((i + 6) % 7), s.ShortDayNames[i]);
    }
    get(LOCALE_S1159, s.TimeAMString);
    get(LOCALE_S2359, s.TimePMString);
    // The locale's pictures: "M" month, "m" minute, "tt" AM/PM; ours
    // use "m" after an hour for minutes and "AMPM".
    auto translate = [](const std::u16string& pic, bool time) {
      std::u16string r;
      for (size_t i = 0; i < pic.size(); ++i) {
        char16_t c = pic[i];
        if (c == u'\'') {
          size_t e = pic.find(u'\'', i + 1);
          if (e == std::u16string::npos) e = pic.size();
          r += u'"' + pic.substr(i + 1, e - i - 1) + u'"';
          i = e;
        } else if (c == u'M') {
          r += u'm';
        } else if (time && c == u'm') {
          r += u'n';
        } else if (c == u't') {
          while (i + 1 < pic.size() && pic[i + 1] == u't') ++i;
          r += u"AMPM";
        } else if (c == u'H') {
          r += u'h';
        } else {
          r += c;
        }
      }
      return r;
    };
    std::u16string pic;
    get(LOCALE_SSHORTDATE, pic);
    if (!pic.empty()) s.ShortDateFormat = translate(pic, false);
    pic.clear();
    get(LOCALE_SLONGDATE, pic);
    if (!pic.empty()) s.LongDateFormat = translate(pic, false);
    pic.clear();
    get(LOCALE_STIMEFORMAT, pic);
    if (!pic.empty()) s.LongTimeFormat = translate(pic, true);
    for (char16_t c : s.ShortDateFormat)
      if (c != u'd' && c != u'm' && c != u'y' && c != u'"') {
        s.DateSeparator = c;
        break;
      }
    for (char16_t c : s.LongTimeFormat)
      if (c != u'h' && c != u'n' && c != u's' && c != u'"') {
        s.TimeSeparator = c;
        break;
      }
#endif
    return s;
  }();
  return fs;
}

bool IsLeapYear(int year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInAMonth(int year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  return kDays[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
}

bool TryEncodeDate(int year, int month, int day, TDateTime& out) {
  if (year < 1 || year > 9999 || day < 1 || day > DaysInAMonth(year, month)) return false;
  out = static_cast<double>(DaysFromCivil(year, month, day) - kEpochOffset);
  return true;
}

TDateTime EncodeDate(int year, int month, int day) {
  TDateTime r;
  if (!TryEncodeDate(year, month, day, r)) throw EConvertError(u"Invalid argument to date encode");
  return r;
}

bool TryEncodeTime(int hour, int minute, int second, int msec, TDateTime& out) {
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59 || msec < 0 ||
      msec > 999)
    return false;
  out = static_cast<double>(((hour * 60 + minute) * 60 + second) * 1000 + msec) / kMsPerDay;
  return true;
}

TDateTime EncodeTime(int hour, int minute, int second, int msec) {
  TDateTime r;
  if (!TryEncodeTime(hour, minute, second, msec, r))
    throw EConvertError(u"Invalid argument to time encode");
  return r;
}

void DecodeDate(TDateTime dt, int& year, int& month, int& day) {
  CivilFromDays(ToStamp(dt).days + kEpochOffset, year, month, day);
}

void DecodeTime(TDateTime dt, int& hour, int& minute, int& second, int& msec) {
  int64_t ms = ToStamp(dt).ms;
  hour = static_cast<int>(ms / 3600000);
  minute = static_cast<int>(ms / 60000 % 60);
  second = static_cast<int>(ms / 1000 % 60);
  msec = static_cast<int>(ms % 1000);
}

int DayOfWeek(TDateTime dt) {
  int64_t d = ToStamp(dt).days;  // day 0 was a Saturday
  return static_cast<int>(((d % 7) + 7 + 6) % 7) + 1;
}

TDateTime Now() {
#ifdef _WIN32
  SYSTEMTIME st;
  GetLocalTime(&st);
  TSystemTime t;
  t.wYear = st.wYear;
  t.wMonth = st.wMonth;
  t.wDayOfWeek = st.wDayOfWeek;
  t.wDay = st.wDay;
  t.wHour = st.wHour;
  t.wMinute = st.wMinute;
  t.wSecond = st.wSecond;
  t.wMilliseconds = st.wMilliseconds;
  return SystemTimeToDateTime(t);
#else
  auto now = std::chrono::system_clock::now();
  std::time_t secs = std::chrono::system_clock::to_time_t(now);
  auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm local{};
  localtime_r(&secs, &local);
  return EncodeDate(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday) +
         EncodeTime(local.tm_hour, local.tm_min, local.tm_sec > 59 ? 59 : local.tm_sec,
                    static_cast<int>(ms));
#endif
}

TDateTime Date() { return std::trunc(Now()); }

int64_t MinutesBetween(TDateTime a, TDateTime b) {
  int64_t d = TotalMs(a) - TotalMs(b);
  return (d < 0 ? -d : d) / 60000;
}

int64_t HoursBetween(TDateTime a, TDateTime b) {
  int64_t d = TotalMs(a) - TotalMs(b);
  return (d < 0 ? -d : d) / 3600000;
}

bool TrySystemTimeToDateTime(const TSystemTime& st, TDateTime& out) {
  TDateTime date, time;
  if (!TryEncodeDate(st.wYear, st.wMonth, st.wDay, date)) return false;
  if (!TryEncodeTime(st.wHour, st.wMinute, st.wSecond, st.wMilliseconds, time)) return false;
  out = date + time;
  return true;
}

TDateTime SystemTimeToDateTime(const TSystemTime& st) {
  TDateTime r;
  if (!TrySystemTimeToDateTime(st, r)) throw EConvertError(u"Invalid argument to date encode");
  return r;
}

TSystemTime DateTimeToSystemTime(TDateTime dt) {
  int y, m, d, h, n, s, ms;
  DecodeDate(dt, y, m, d);
  DecodeTime(dt, h, n, s, ms);
  TSystemTime st;
  st.wYear = static_cast<uint16_t>(y);
  st.wMonth = static_cast<uint16_t>(m);
  st.wDay = static_cast<uint16_t>(d);
  st.wDayOfWeek = static_cast<uint16_t>(DayOfWeek(dt) - 1);
  st.wHour = static_cast<uint16_t>(h);
  st.wMinute = static_cast<uint16_t>(n);
  st.wSecond = static_cast<uint16_t>(s);
  st.wMilliseconds = static_cast<uint16_t>(ms);
  return st;
}

// ---- formatting
namespace {

std::u16string Num(int64_t v, int width) {
  std::u16string s = IntToStr(v);
  if (static_cast<int>(s.size()) < width) s.insert(0, static_cast<size_t>(width) - s.size(), u'0');
  return s;
}

bool StartsWithNoCase(std::u16string_view s, size_t at, std::u16string_view word) {
  return s.size() - at >= word.size() && WideCompareText(s.substr(at, word.size()), word) == 0;
}

bool HasAmPm(std::u16string_view f) {
  for (size_t i = 0; i < f.size(); ++i) {
    if (f[i] == u'"' || f[i] == u'\'') {
      size_t e = f.find(f[i], i + 1);
      if (e == std::u16string_view::npos) return false;
      i = e;
    } else if (StartsWithNoCase(f, i, u"am/pm") || StartsWithNoCase(f, i, u"a/p") ||
               StartsWithNoCase(f, i, u"ampm")) {
      return true;
    }
  }
  return false;
}

void FormatInto(std::u16string& out, std::u16string_view f, TDateTime dt, const TFormatSettings& fs,
                int depth) {
  if (depth > 3) return;  // formats naming formats: stop rather than loop
  int y, mo, d, h, n, s, ms;
  DecodeDate(dt, y, mo, d);
  DecodeTime(dt, h, n, s, ms);
  const bool twelve = HasAmPm(f);
  bool afterHour = false;
  size_t i = 0;
  auto run = [&](char16_t c) {
    size_t k = i;
    while (k < f.size() && (f[k] | 0x20) == c) ++k;
    size_t len = k - i;
    i = k;
    return static_cast<int>(len);
  };
  while (i < f.size()) {
    char16_t c = f[i];
    char16_t lc = (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c | 0x20) : c;
    if (c == u'"' || c == u'\'') {
      size_t e = f.find(c, i + 1);
      if (e == std::u16string_view::npos) e = f.size();
      out += f.substr(i + 1, e - i - 1);
      i = e + 1;
      continue;
    }
    // am/pm and a/p show in the case they are written in.
    if (StartsWithNoCase(f, i, u"am/pm")) {
      out += h < 12 ? f.substr(i, 2) : f.substr(i + 3, 2);
      i += 5;
      continue;
    }
    if (StartsWithNoCase(f, i, u"a/p")) {
      out += h < 12 ? f.substr(i, 1) : f.substr(i + 2, 1);
      i += 3;
      continue;
    }
    if (StartsWithNoCase(f, i, u"ampm")) {
      out += h < 12 ? fs.TimeAMString : fs.TimePMString;
      i += 4;
      continue;
    }
    switch (lc) {
      case u'c':
        ++i;
        FormatInto(out, fs.ShortDateFormat, dt, fs, depth + 1);
        if (ToStamp(dt).ms != 0) {
          out += u' ';
          FormatInto(out, fs.LongTimeFormat, dt, fs, depth + 1);
        }
        break;
      case u'd': {
        int len = run(u'd');
        if (len <= 2)
          out += Num(d, len);
        else if (len == 3)
          out += fs.ShortDayNames[DayOfWeek(dt) - 1];
        else if (len == 4)
          out += fs.LongDayNames[DayOfWeek(dt) - 1];
        else if (len == 5)
          FormatInto(out, fs.ShortDateFormat, dt, fs, depth + 1);
        else
          FormatInto(out, fs.LongDateFormat, dt, fs, depth + 1);
        afterHour = false;
        break;
      }
      case u'm': {
        int len = run(u'm');
        if (afterHour && len <= 2)
          out += Num(n, len);
        else if (len <= 2)
          out += Num(mo, len);
        else if (len == 3)
          out += fs.ShortMonthNames[mo - 1];
        else
          out += fs.LongMonthNames[mo - 1];
        afterHour = false;
        break;
      }
      case u'y': {
        int len = run(u'y');
        out += len <= 2 ? Num(y % 100, 2) : Num(y, 4);
        afterHour = false;
        break;
      }
      case u'h': {
        int len = run(u'h');
        int hh = h;
        if (twelve) {
          hh = h % 12;
          if (hh == 0) hh = 12;
        }
        out += Num(hh, len >= 2 ? 2 : 1);
        afterHour = true;
        break;
      }
      case u'n':
        out += Num(n, run(u'n') >= 2 ? 2 : 1);
        afterHour = false;
        break;
      case u's':
        out += Num(s, run(u's') >= 2 ? 2 : 1);
        afterHour = false;
        break;
      case u'z':
        out += Num(ms, run(u'z') >= 3 ? 3 : 1);
        break;
      case u't': {
        int len = run(u't');
        FormatInto(out, len >= 2 ? fs.LongTimeFormat : fs.ShortTimeFormat, dt, fs, depth + 1);
        break;
      }
      case u'/':
        out += fs.DateSeparator;
        ++i;
        break;
      case u':':
        out += fs.TimeSeparator;
        ++i;
        break;
      default:
        out += c;
        ++i;
        break;
    }
  }
}

}  // namespace

std::u16string FormatDateTime(std::u16string_view format, TDateTime dt, const TFormatSettings& fs) {
  std::u16string out;
  FormatInto(out, format, dt, fs, 0);
  return out;
}

std::u16string DateTimeToStr(TDateTime dt, const TFormatSettings& fs) {
  return FormatDateTime(u"c", dt, fs);
}
std::u16string DateToStr(TDateTime dt, const TFormatSettings& fs) {
  return FormatDateTime(u"ddddd", dt, fs);
}
std::u16string TimeToStr(TDateTime dt, const TFormatSettings& fs) {
  return FormatDateTime(u"tt", dt, fs);
}

// ---- parsing
namespace {

struct Scanner {
  std::u16string_view s;
  size_t i = 0;
  void Blanks() {
    while (i < s.size() && s[i] == u' ') ++i;
  }
  bool Number(int& v, int maxDigits) {
    Blanks();
    size_t b = i;
    v = 0;
    while (i < s.size() && s[i] >= u'0' && s[i] <= u'9' && i - b < static_cast<size_t>(maxDigits))
      v = v * 10 + (s[i++] - u'0');
    return i > b;
  }
  bool Char(char16_t c) {
    Blanks();
    if (i < s.size() && s[i] == c) {
      ++i;
      return true;
    }
    return false;
  }
};

}  // namespace

bool TryStrToDateTime(std::u16string_view text, TDateTime& out, const TFormatSettings& fs) {
  // Field order from the short date format: the first of d, m, y that
  // appears in each position.
  char16_t order[3] = {0, 0, 0};
  int k = 0;
  for (char16_t c : fs.ShortDateFormat) {
    char16_t lc = static_cast<char16_t>(c | 0x20);
    if ((lc == u'd' || lc == u'm' || lc == u'y') && k < 3 && (k == 0 || order[k - 1] != lc)) {
      bool seen = false;
      for (int j = 0; j < k; ++j) seen = seen || order[j] == lc;
      if (!seen) order[k++] = lc;
    }
  }
  if (k != 3) return false;
  Scanner sc{text};
  int parts[3];
  for (int p = 0; p < 3; ++p) {
    if (p > 0 && !sc.Char(fs.DateSeparator)) return false;
    if (!sc.Number(parts[p], 4)) return false;
  }
  int y = 0, m = 0, d = 0;
  for (int p = 0; p < 3; ++p) (order[p] == u'y' ? y : (order[p] == u'm' ? m : d)) = parts[p];
  if (y < 100) y += y < 50 ? 2000 : 1900;  // two-digit years: the window around 2000
  TDateTime date;
  if (!TryEncodeDate(y, m, d, date)) return false;
  sc.Blanks();
  int h = 0, n = 0, s = 0;
  if (sc.i < sc.s.size()) {
    if (!sc.Number(h, 2) || !sc.Char(fs.TimeSeparator) || !sc.Number(n, 2)) return false;
    if (sc.Char(fs.TimeSeparator) && !sc.Number(s, 2)) return false;
    sc.Blanks();
    std::u16string_view rest = sc.s.substr(sc.i);
    if (!rest.empty()) {
      bool pm;
      if (WideCompareText(rest, fs.TimeAMString) == 0)
        pm = false;
      else if (WideCompareText(rest, fs.TimePMString) == 0)
        pm = true;
      else
        return false;
      if (h < 1 || h > 12) return false;
      h = h % 12 + (pm ? 12 : 0);
    }
  }
  TDateTime time;
  if (!TryEncodeTime(h, n, s, 0, time)) return false;
  out = date + time;
  return true;
}

TDateTime StrToDateTime(std::u16string_view text, const TFormatSettings& fs) {
  TDateTime r;
  if (!TryStrToDateTime(text, r, fs))
    throw EConvertError(Format(u"'%s' is not a valid date and time", {std::u16string(text)}));
  return r;
}

TDateTime StrToDate(std::u16string_view text, const TFormatSettings& fs) {
  TDateTime r;
  if (!TryStrToDateTime(text, r, fs) || r != std::trunc(r))
    throw EConvertError(Format(u"'%s' is not a valid date", {std::u16string(text)}));
  return r;
}

std::u16string FloatToStr(double v, const TFormatSettings& fs) {
  std::u16string s = FloatToStr(v);
  for (auto& c : s)
    if (c == u'.') c = fs.DecimalSeparator;
  return s;
}

bool TryStrToFloat(std::u16string_view s, double& out, const TFormatSettings& fs) {
  std::u16string t(s);
  for (auto& c : t) {
    if (c == fs.DecimalSeparator)
      c = u'.';
    else if (c == u'.')
      return false;  // only the locale's separator
  }
  return TryStrToFloat(t, out);
}

double StrToFloat(std::u16string_view s, const TFormatSettings& fs) {
  double v;
  if (!TryStrToFloat(s, v, fs))
    throw EConvertError(Format(u"'%s' is not a valid floating point value", {std::u16string(s)}));
  return v;
}

}  // namespace classlib

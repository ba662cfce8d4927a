#include "platform/Time.h"

#include <langinfo.h>

#include <cmath>
#include <ctime>
#include <string>
#include <vector>

#include "platform/Text.h"

namespace {
constexpr ULONGLONG kTicksPerSecond = 10000000ULL;
constexpr ULONGLONG kTicksPerDay = kTicksPerSecond * 86400ULL;

bool IsLeap(long y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
int DaysInMonth(long y, int m) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

// Days from 1601-01-01 to the given civil date (proleptic Gregorian).
long long DaysFrom1601(long y, int m, int d) {
  long long days = 0;
  long yy = y - 1601;
  days = 365LL * yy + yy / 4 - yy / 100 + yy / 400;
  for (int i = 1; i < m; ++i) days += DaysInMonth(y, i);
  return days + d - 1;
}

// Days between 1899-12-30 (OLE day 0) and 1601-01-01.
const long long kOleEpochFrom1601 = DaysFrom1601(1899, 12, 30);
}  // namespace

BOOL FileTimeToSystemTime(const FILETIME* ft, SYSTEMTIME* st) {
  if (!ft || !st) return FALSE;
  ULONGLONG t = FileTimeToU64(*ft);
  if (t & 0x8000000000000000ULL) return FALSE;
  ULONGLONG days = t / kTicksPerDay;
  ULONGLONG rem = t % kTicksPerDay;
  st->wDayOfWeek = static_cast<WORD>((days + 1) % 7);  // 1601-01-01 was a Monday
  // The civil date of a day count, without loops (days from 0000-03-01 in
  // 400-year eras; the year then starts in March, so February is last).
  const long long z = static_cast<long long>(days) + 584694;  // 1601-01-01 from 0000-03-01
  const long long era = z / 146097;
  const long long doe = z - era * 146097;
  const long long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const long long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const long long mp = (5 * doy + 2) / 153;
  const int m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  const long y = static_cast<long>(yoe + era * 400 + (m <= 2 ? 1 : 0));
  days = static_cast<ULONGLONG>(doy - (153 * mp + 2) / 5);
  st->wYear = static_cast<WORD>(y);
  st->wMonth = static_cast<WORD>(m);
  st->wDay = static_cast<WORD>(days + 1);
  st->wHour = static_cast<WORD>(rem / (3600 * kTicksPerSecond));
  rem %= 3600 * kTicksPerSecond;
  st->wMinute = static_cast<WORD>(rem / (60 * kTicksPerSecond));
  rem %= 60 * kTicksPerSecond;
  st->wSecond = static_cast<WORD>(rem / kTicksPerSecond);
  rem %= kTicksPerSecond;
  st->wMilliseconds = static_cast<WORD>(rem / 10000);
  return TRUE;
}

BOOL SystemTimeToFileTime(const SYSTEMTIME* st, FILETIME* ft) {
  if (!st || !ft) return FALSE;
  if (st->wYear < 1601 || st->wYear > 30827 || st->wMonth < 1 || st->wMonth > 12 || st->wDay < 1 ||
      st->wDay > DaysInMonth(st->wYear, st->wMonth) || st->wHour > 23 || st->wMinute > 59 ||
      st->wSecond > 59 || st->wMilliseconds > 999)
    return FALSE;
  ULONGLONG days = static_cast<ULONGLONG>(DaysFrom1601(st->wYear, st->wMonth, st->wDay));
  ULONGLONG t = days * kTicksPerDay +
                (st->wHour * 3600ULL + st->wMinute * 60ULL + st->wSecond) * kTicksPerSecond +
                st->wMilliseconds * 10000ULL;
  *ft = U64ToFileTime(t);
  return TRUE;
}

int SystemTimeToVariantTime(const SYSTEMTIME* st, DATE* date) {
  if (!st || !date) return FALSE;
  if (st->wYear < 100 || st->wYear > 9999 || st->wMonth < 1 || st->wMonth > 12 || st->wDay < 1 ||
      st->wDay > DaysInMonth(st->wYear, st->wMonth) || st->wHour > 23 || st->wMinute > 59 ||
      st->wSecond > 59)
    return FALSE;
  // Day count relative to 1899-12-30, computed through the 1601 epoch (valid
  // for earlier years too, as the count is linear in the proleptic calendar).
  long long y = st->wYear;
  long long days;
  if (y >= 1601) {
    days = DaysFrom1601(st->wYear, st->wMonth, st->wDay) - kOleEpochFrom1601;
  } else {
    // Shift by whole 400-year cycles to stay in range.
    long long cycles = (1601 - y + 399) / 400;
    days = DaysFrom1601(static_cast<long>(y + cycles * 400), st->wMonth, st->wDay) -
           cycles * 146097 - kOleEpochFrom1601;
  }
  double frac = (st->wHour * 3600.0 + st->wMinute * 60.0 + st->wSecond) / 86400.0;
  // OLE dates before day 0 carry the time as a positive fraction below the day.
  *date = days >= 0 ? days + frac : days - frac;
  return TRUE;
}

int VariantTimeToSystemTime(DATE date, SYSTEMTIME* st) {
  if (!st || !std::isfinite(date)) return FALSE;
  if (date < -657434.0 || date >= 2958466.0) return FALSE;  // 100-01-01 .. 9999-12-31
  double whole = std::trunc(date);
  double frac = std::fabs(date - whole);
  long long secs = std::llround(frac * 86400.0);
  long long day = static_cast<long long>(whole);
  if (secs >= 86400) {
    secs -= 86400;
    day += date >= 0 ? 1 : -1;
  }
  long long from1601 = day + kOleEpochFrom1601;
  long long shiftCycles = 0;
  if (from1601 < 0) {
    shiftCycles = (-from1601 + 146096) / 146097;
    from1601 += shiftCycles * 146097;
  }
  FILETIME ft = U64ToFileTime(static_cast<ULONGLONG>(from1601) * kTicksPerDay +
                              static_cast<ULONGLONG>(secs) * kTicksPerSecond);
  if (!FileTimeToSystemTime(&ft, st)) return FALSE;
  st->wYear = static_cast<WORD>(st->wYear - shiftCycles * 400);
  st->wMilliseconds = 0;
  return TRUE;
}

namespace platform {

namespace {
void AppendNumber(std::string& out, int v, int width, char pad) {
  char digits[12];
  int n = 0;
  do {
    digits[n++] = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v);
  for (; n < width; --width) out.push_back(pad);
  while (n) out.push_back(digits[--n]);
}

// strftime for the conversions that page formats use, written directly:
// numbers as strftime writes them, names and the %c %x %X layouts from the
// current locale (nl_langinfo, which strftime reads too). False for
// anything else (flags, widths, E and O modifiers, other conversions, years
// outside 1000-9999), which is then left to strftime itself.
bool FormatDirect(const std::tm& tm, const char* f, std::string& out, int depth) {
  if (tm.tm_mon < 0 || tm.tm_mon > 11 || tm.tm_wday < 0 || tm.tm_wday > 6 || tm.tm_hour < 0) return false;
  for (; *f; ++f) {
    if (*f != '%') {
      out.push_back(*f);
      continue;
    }
    const char* sub = nullptr;
    switch (*++f) {
      case '%': out.push_back('%'); break;
      case 'Y':
        if (tm.tm_year + 1900 < 1000 || tm.tm_year + 1900 > 9999) return false;
        AppendNumber(out, tm.tm_year + 1900, 4, '0');
        break;
      case 'y': AppendNumber(out, (tm.tm_year + 1900) % 100, 2, '0'); break;
      case 'm': AppendNumber(out, tm.tm_mon + 1, 2, '0'); break;
      case 'd': AppendNumber(out, tm.tm_mday, 2, '0'); break;
      case 'e': AppendNumber(out, tm.tm_mday, 2, ' '); break;
      case 'H': AppendNumber(out, tm.tm_hour, 2, '0'); break;
      case 'I': AppendNumber(out, tm.tm_hour % 12 == 0 ? 12 : tm.tm_hour % 12, 2, '0'); break;
      case 'M': AppendNumber(out, tm.tm_min, 2, '0'); break;
      case 'S': AppendNumber(out, tm.tm_sec, 2, '0'); break;
      case 'a': out += nl_langinfo(static_cast<nl_item>(ABDAY_1 + tm.tm_wday)); break;
      case 'A': out += nl_langinfo(static_cast<nl_item>(DAY_1 + tm.tm_wday)); break;
      case 'b':
      case 'h': out += nl_langinfo(static_cast<nl_item>(ABMON_1 + tm.tm_mon)); break;
      case 'B': out += nl_langinfo(static_cast<nl_item>(MON_1 + tm.tm_mon)); break;
      case 'p': out += nl_langinfo(tm.tm_hour > 11 ? PM_STR : AM_STR); break;
      case 'c': sub = nl_langinfo(D_T_FMT); break;
      case 'x': sub = nl_langinfo(D_FMT); break;
      case 'X': sub = nl_langinfo(T_FMT); break;
      case 'D': sub = "%m/%d/%y"; break;
      case 'T': sub = "%H:%M:%S"; break;
      case 'R': sub = "%H:%M"; break;
      default: return false;
    }
    if (sub && (depth > 0 || !FormatDirect(tm, sub, out, depth + 1))) return false;
  }
  return true;
}
}  // namespace

bool FormatCalendarTime(const SYSTEMTIME& st, std::u16string_view format, std::size_t maxChars,
                        std::u16string& out) {
  std::tm tm{};
  tm.tm_year = st.wYear - 1900;
  tm.tm_mon = st.wMonth - 1;
  tm.tm_mday = st.wDay;
  tm.tm_hour = st.wHour;
  tm.tm_min = st.wMinute;
  tm.tm_sec = st.wSecond;
  tm.tm_wday = st.wDayOfWeek % 7;
  tm.tm_yday = 0;
  for (int m = 1; m < st.wMonth; ++m) tm.tm_yday += DaysInMonth(st.wYear, m);
  tm.tm_yday += st.wDay - 1;
  tm.tm_isdst = 0;
  std::string fmt = Utf16ToUtf8(format);
  if (fmt.empty()) {
    out.clear();
    return maxChars > 0;
  }
  // strftime counts bytes; allow for multibyte output and check the UTF-16 size after.
  const std::size_t bytes = maxChars * 4 + 1;
  std::string direct;
  if (FormatDirect(tm, fmt.c_str(), direct, 0)) {
    // strftime gives 0 for a result that is empty or does not fit.
    if (direct.empty() || direct.size() >= bytes) return false;
    std::u16string result = Utf8ToUtf16(direct);
    if (result.size() + 1 > maxChars) return false;
    out = std::move(result);
    return true;
  }
  // The usual sizes fit a buffer on the stack.
  char local[1025];
  std::vector<char> large;
  char* buf = local;
  if (bytes > sizeof local) {
    large.resize(bytes);
    buf = large.data();
  }
  std::size_t n = std::strftime(buf, bytes, fmt.c_str(), &tm);
  if (n == 0) return false;
  std::u16string result = Utf8ToUtf16(std::string_view(buf, n));
  if (result.size() + 1 > maxChars) return false;
  out = std::move(result);
  return true;
}

FILETIME UnixTimeToFileTime(long long seconds) {
  constexpr long long kEpochDiff = 11644473600LL;
  long long t = seconds + kEpochDiff;
  if (t < 0) t = 0;
  return U64ToFileTime(static_cast<ULONGLONG>(t) * kTicksPerSecond);
}

long long FileTimeToUnixTime(const FILETIME& ft) {
  constexpr long long kEpochDiff = 11644473600LL;
  return static_cast<long long>(FileTimeToU64(ft) / kTicksPerSecond) - kEpochDiff;
}

}  // namespace platform

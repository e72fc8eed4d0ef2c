// Calendar time <-> FILETIME, and local <-> UTC file times with the host
// zone's rules for the instant converted (TZ is read again at every call).
#include <cerrno>
#include <cstdint>
#include <ctime>

#include "platform/host.h"

namespace {

constexpr int64_t kTicksPerSecond = 10000000;
constexpr int64_t kTicksPerDay = kTicksPerSecond * 86400;
constexpr int64_t kDays1601To1970 = 134774;

bool IsLeap(int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int DaysInMonth(int64_t year, int month) {
  static constexpr int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && IsLeap(year) ? 29 : kDays[month - 1];
}

// Days from 1970-01-01 to a proleptic Gregorian date, and back (the
// era-based algorithms: exact for every year of the FILETIME range).
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  int64_t era = (y >= 0 ? y : y - 399) / 400;
  int64_t yoe = y - era * 400;
  int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int64_t& y, int& m, int& d) {
  z += 719468;
  int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  int64_t doe = z - era * 146097;
  int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  int64_t mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = yoe + era * 400 + (m <= 2);
}

// Whole seconds since 1970 (rounded down) and the ticks left over.
void Split(uint64_t value, int64_t& seconds, int64_t& ticks) {
  int64_t since1970 = static_cast<int64_t>(value) - host::kUnixEpochIn100ns;
  seconds = since1970 / kTicksPerSecond;
  ticks = since1970 % kTicksPerSecond;
  if (ticks < 0) {
    ticks += kTicksPerSecond;
    --seconds;
  }
}

// Seconds since 1970 plus ticks back to a FILETIME; false outside its range.
bool Join(int64_t seconds, int64_t ticks, FILETIME* out) {
  constexpr int64_t kMinSeconds = -host::kUnixEpochIn100ns / kTicksPerSecond;
  constexpr int64_t kMaxSeconds = (INT64_MAX - host::kUnixEpochIn100ns) / kTicksPerSecond - 1;
  if (seconds < kMinSeconds || seconds > kMaxSeconds) return false;
  *out = host::MakeFileTime(
      static_cast<uint64_t>(seconds * kTicksPerSecond + ticks + host::kUnixEpochIn100ns));
  return true;
}

// One file time to another by moving its whole seconds with `move` (the
// ticks below a second stay); TZ is read again first.
template <typename Move>
BOOL MoveSeconds(const FILETIME* in, FILETIME* out, Move move) {
  if (!in || !out) return host::Fail(ERROR_INVALID_PARAMETER);
  uint64_t value = host::FileTimeValue(*in);
  if (value > static_cast<uint64_t>(INT64_MAX)) return host::Fail(ERROR_INVALID_PARAMETER);
  int64_t seconds, ticks, moved;
  Split(value, seconds, ticks);
  tzset();
  if (!move(seconds, moved) || !Join(moved, ticks, out)) return host::Fail(ERROR_INVALID_PARAMETER);
  return TRUE;
}

}  // namespace

BOOL SystemTimeToFileTime(const SYSTEMTIME* st, FILETIME* ft) {
  if (!st || !ft) return host::Fail(ERROR_INVALID_PARAMETER);
  // The same checks as the device: every field in its range, the day within
  // its month; the day of the week is ignored.
  if (st->wYear < 1601 || st->wYear > 30827 || st->wMonth < 1 || st->wMonth > 12 || st->wDay < 1 ||
      st->wDay > DaysInMonth(st->wYear, st->wMonth) || st->wHour > 23 || st->wMinute > 59 ||
      st->wSecond > 59 || st->wMilliseconds > 999)
    return host::Fail(ERROR_INVALID_PARAMETER);
  int64_t days = DaysFromCivil(st->wYear, st->wMonth, st->wDay) + kDays1601To1970;
  int64_t ms = ((days * 24 + st->wHour) * 60 + st->wMinute) * 60000 + st->wSecond * 1000 +
               st->wMilliseconds;
  *ft = host::MakeFileTime(static_cast<uint64_t>(ms) * 10000);
  return TRUE;
}

BOOL FileTimeToSystemTime(const FILETIME* ft, SYSTEMTIME* st) {
  if (!ft || !st) return host::Fail(ERROR_INVALID_PARAMETER);
  uint64_t value = host::FileTimeValue(*ft);
  if (value > static_cast<uint64_t>(INT64_MAX)) return host::Fail(ERROR_INVALID_PARAMETER);
  int64_t days = static_cast<int64_t>(value / kTicksPerDay);
  int64_t rest = static_cast<int64_t>(value % kTicksPerDay);
  int64_t year;
  int month, day;
  CivilFromDays(days - kDays1601To1970, year, month, day);
  st->wYear = static_cast<WORD>(year);
  st->wMonth = static_cast<WORD>(month);
  st->wDay = static_cast<WORD>(day);
  st->wDayOfWeek = static_cast<WORD>((days + 1) % 7);  // 1601-01-01 was a Monday
  st->wHour = static_cast<WORD>(rest / (kTicksPerSecond * 3600));
  st->wMinute = static_cast<WORD>(rest / (kTicksPerSecond * 60) % 60);
  st->wSecond = static_cast<WORD>(rest / kTicksPerSecond % 60);
  st->wMilliseconds = static_cast<WORD>(rest / 10000 % 1000);
  return TRUE;
}

BOOL FileTimeToLocalFileTime(const FILETIME* utc, FILETIME* local) {
  return MoveSeconds(utc, local, [](int64_t seconds, int64_t& moved) {
    time_t t = static_cast<time_t>(seconds);
    struct tm fields;
    if (!localtime_r(&t, &fields)) return false;
    moved = seconds + fields.tm_gmtoff;
    return true;
  });
}

BOOL LocalFileTimeToFileTime(const FILETIME* local, FILETIME* utc) {
  return MoveSeconds(local, utc, [](int64_t seconds, int64_t& moved) {
    // The local fields, handed to mktime with the daylight flag unknown, so
    // the zone's rule for that day decides the offset.
    time_t asIfUtc = static_cast<time_t>(seconds);
    struct tm fields;
    if (!gmtime_r(&asIfUtc, &fields)) return false;
    fields.tm_isdst = -1;
    errno = 0;
    time_t result = mktime(&fields);
    if (result == static_cast<time_t>(-1) && errno != 0) return false;
    moved = result;
    return true;
  });
}

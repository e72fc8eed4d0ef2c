#include "core/datetime.h"

#include <cstring>

int32_t g_bUseDST = 1;

namespace {

constexpr int64_t kTicksPerSecond = 10000000;

// Day of the year of the last day of each month; index 0 is the day before
// January 1.
constexpr int kOrdinaryDays[13] = {-1, 30, 58, 89, 119, 150, 180, 211, 242, 272, 303, 333, 364};
constexpr int kLeapDays[13] = {-1, 30, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365};

// The device's zone, read once per run.
struct ZoneValues {
  bool loaded = false;
  int64_t offsetSeconds = 0;      // local = UTC - offset
  int64_t daylightSeconds = 0;    // negative: daylight time is ahead
  SYSTEMTIME standardDate{};      // when daylight time ends
  SYSTEMTIME daylightDate{};      // when daylight time starts
};
ZoneValues g_zone;

const ZoneValues& Zone() {
  if (!g_zone.loaded) {
    TIME_ZONE_INFORMATION tzi;
    memset(&tzi, 0, sizeof tzi);
    g_zone = ZoneValues{};
    g_zone.loaded = true;
    if (GetTimeZoneInformation(&tzi) != TIME_ZONE_ID_INVALID) {
      g_zone.offsetSeconds = static_cast<int64_t>(tzi.Bias) * 60;
      if (tzi.StandardDate.wMonth != 0) g_zone.offsetSeconds += static_cast<int64_t>(tzi.StandardBias) * 60;
      if (tzi.DaylightDate.wMonth != 0 && tzi.DaylightBias != 0)
        g_zone.daylightSeconds = static_cast<int64_t>(tzi.DaylightBias - tzi.StandardBias) * 60;
      g_zone.standardDate = tzi.StandardDate;
      g_zone.daylightDate = tzi.DaylightDate;
    }
  }
  return g_zone;
}

// Seconds from 1601-01-01 to 1970-01-01, from the system's own calendar.
int64_t EpochSeconds() {
  SYSTEMTIME a{1601, 1, 0, 1, 0, 0, 0, 0};
  SYSTEMTIME b{1970, 1, 0, 1, 0, 0, 0, 0};
  FILETIME fa, fb;
  SystemTimeToFileTime(&a, &fa);
  SystemTimeToFileTime(&b, &fb);
  const int64_t ta = (static_cast<int64_t>(fa.dwHighDateTime) << 32) | fa.dwLowDateTime;
  const int64_t tb = (static_cast<int64_t>(fb.dwHighDateTime) << 32) | fb.dwLowDateTime;
  return (tb - ta) / kTicksPerSecond;
}

FILETIME ToFileTime(uint64_t ticks) {
  return FILETIME{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
}

// Fills the broken-down form from a file time; false (and all zeros) when
// the system cannot convert it.
bool Fill(uint64_t ticks, BrokenDownTime* t) {
  *t = BrokenDownTime{};
  const FILETIME ft = ToFileTime(ticks);
  SYSTEMTIME st;
  if (!FileTimeToSystemTime(&ft, &st)) return false;
  t->tm_year = st.wYear - 1900;
  t->tm_mon = st.wMonth - 1;
  t->tm_mday = st.wDay;
  t->tm_hour = st.wHour;
  t->tm_min = st.wMinute;
  t->tm_sec = st.wSecond;
  t->tm_wday = st.wDayOfWeek;
  SYSTEMTIME jan1{st.wYear, 1, 0, 1, 0, 0, 0, 0};
  FILETIME fj;
  if (SystemTimeToFileTime(&jan1, &fj)) {
    const uint64_t j = (static_cast<uint64_t>(fj.dwHighDateTime) << 32) | fj.dwLowDateTime;
    t->tm_yday = static_cast<int>((ticks - j) / (kTicksPerSecond * 86400));
  }
  return true;
}

bool IsLeap(int yearsSince1900) { return yearsSince1900 % 4 == 0; }

// The day of the year on which a month/week/weekday rule falls in year y.
int TransitionDay(const SYSTEMTIME& rule, int y) {
  const int* table = IsLeap(y) ? kLeapDays : kOrdinaryDays;
  const int m = rule.wMonth;
  const int w = rule.wDay;  // week 1 to 5, 5 meaning the last
  const int d = rule.wDayOfWeek;
  const int first = 1 + table[m - 1];
  int weekday = (y * 365 + ((y - 1) >> 2) + table[m - 1] - 25562) % 7;
  if (weekday < 0) weekday += 7;
  int day = weekday <= d ? first + (w - 1) * 7 + (d - weekday) : first + w * 7 + (d - weekday);
  if (w == 5 && day > table[m]) day -= 7;
  return day;
}

int64_t RuleMilliseconds(const SYSTEMTIME& rule, int64_t extraSeconds) {
  return ((static_cast<int64_t>(rule.wHour) * 60 + rule.wMinute) * 60 + extraSeconds + rule.wSecond) *
             1000 +
         rule.wMilliseconds;
}

bool ValidRule(const SYSTEMTIME& rule) {
  return rule.wMonth >= 1 && rule.wMonth <= 12 && rule.wDay >= 1 && rule.wDay <= 5 &&
         rule.wDayOfWeek <= 6;
}

}  // namespace

void ResetTimeZoneValues() { g_zone = ZoneValues{}; }

bool DosToCalendar(uint16_t dosDate, uint16_t dosTime, FILETIME* fileTime) {
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(1980 + (dosDate >> 9));
  st.wMonth = static_cast<WORD>((dosDate >> 5) & 15);
  st.wDay = static_cast<WORD>(dosDate & 31);
  st.wHour = static_cast<WORD>(dosTime >> 11);
  st.wMinute = static_cast<WORD>((dosTime >> 5) & 63);
  st.wSecond = static_cast<WORD>((dosTime & 31) * 2);
  st.wMilliseconds = 0;
  return SystemTimeToFileTime(&st, fileTime) != FALSE;
}

bool IsDaylightTime(const BrokenDownTime& t) {
  if (g_bUseDST == 0) return false;
  const ZoneValues& zone = Zone();
  if (zone.daylightDate.wYear != 0 || zone.standardDate.wYear != 0) return false;
  // A zone without a daylight rule, or with a rule the calendar cannot
  // place, has no daylight time.
  if (zone.daylightSeconds == 0 || !ValidRule(zone.daylightDate) || !ValidRule(zone.standardDate))
    return false;

  const int startDay = TransitionDay(zone.daylightDate, t.tm_year);
  const int endDay = TransitionDay(zone.standardDate, t.tm_year);
  const int64_t startMs = RuleMilliseconds(zone.daylightDate, 0);
  int64_t endMs = RuleMilliseconds(zone.standardDate, zone.daylightSeconds);
  if (endMs < 0) endMs += 86399999;
  if (endMs >= 86400000) endMs -= 86399999;

  const int day = t.tm_yday;
  const int64_t ms = (static_cast<int64_t>(t.tm_hour) * 3600 + t.tm_min * 60 + t.tm_sec) * 1000;
  if (day == startDay) return ms >= startMs;
  if (day == endDay) return ms < endMs;
  if (startDay < endDay) return day > startDay && day < endDay;  // northern
  return day < endDay || day > startDay;                          // southern
}

BrokenDownTime LocalCalendar(uint32_t seconds) {
  const ZoneValues& zone = Zone();
  static const int64_t epoch = EpochSeconds();
  const int64_t local = static_cast<int64_t>(seconds) - zone.offsetSeconds + epoch;
  uint64_t ticks = static_cast<uint64_t>(local) * kTicksPerSecond;
  BrokenDownTime t;
  if (!Fill(ticks, &t)) return BrokenDownTime{};
  if (IsDaylightTime(t)) {
    ticks -= static_cast<uint64_t>(zone.daylightSeconds * kTicksPerSecond);
    if (!Fill(ticks, &t)) return BrokenDownTime{};
  }
  return t;
}

SYSTEMTIME UnixToJapanCalendar(uint32_t seconds) {
  const BrokenDownTime t = LocalCalendar(seconds - 32400u);
  SYSTEMTIME st{};
  st.wYear = static_cast<WORD>(t.tm_year + 1900);
  st.wMonth = static_cast<WORD>(t.tm_mon + 1);
  st.wDayOfWeek = static_cast<WORD>(t.tm_wday);
  st.wDay = static_cast<WORD>(t.tm_mday);
  st.wHour = static_cast<WORD>(t.tm_hour);
  st.wMinute = static_cast<WORD>(t.tm_min);
  st.wSecond = static_cast<WORD>(t.tm_sec);
  st.wMilliseconds = 0;
  return st;
}

FILETIME UnixSecondsToFileTime(int64_t seconds, uint32_t nanoseconds) {
  return ToFileTime(static_cast<uint64_t>((seconds + 11644473600LL) * kTicksPerSecond) + nanoseconds / 100);
}

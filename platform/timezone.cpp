// GetTimeZoneInformation from the host zone.
//
// The zone's current rule is a POSIX TZ string: TZ itself when it is one
// ("CET-1CEST,M3.5.0,M10.5.0/3"), else the footer line at the end of the
// TZif file that TZ (":Area/City", "Area/City", an absolute path) or
// /etc/localtime names. Its "Mm.w.d/time" transitions have the device's own
// month/week/day-of-week form, with the same meaning of week 5 (the last).
//
// Where the rule cannot be said in that form exactly:
//   - transition times outside 0-24 h (e.g. "M3.4.4/26") move to the next or
//     previous day of the week with the time brought into the day, which is
//     right in most years;
//   - day-of-year rules ("Jn", "n") are given as absolute dates of the
//     current year (wYear set), as the device's format allows;
//   - a zone whose daylight time runs all year is given as a standard zone
//     with the daylight offset;
//   - a zone whose "daylight" offset is behind its standard one (Europe/
//     Dublin's winter time) is turned round into the usual form.
// When no rule can be found, the current offset is given without a rule.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <utility>

#include "platform/host.h"

namespace {

// ---------------------------------------------------------------- TZif

uint32_t BigEndian32(const unsigned char* p) {
  return static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}

// The POSIX rule at the end of a TZif file (version 2 or later), or "".
std::string TzifFooter(const std::string& path) {
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) return "";
  std::string data;
  char chunk[4096];
  size_t got;
  while ((got = fread(chunk, 1, sizeof chunk, f)) > 0 && data.size() < (1u << 20))
    data.append(chunk, got);
  fclose(f);

  // Header: "TZif", version, 15 reserved bytes, six 32-bit counts
  // (isut, isstd, leap, time, type, char). The first data block uses 4-byte
  // times; a second header and an 8-byte-time block follow, then the footer.
  const auto* p = reinterpret_cast<const unsigned char*>(data.data());
  auto blockSize = [&](size_t at, size_t timeSize, size_t& size) {
    if (at + 44 > data.size() || memcmp(p + at, "TZif", 4) != 0) return false;
    uint64_t isut = BigEndian32(p + at + 20), isstd = BigEndian32(p + at + 24),
             leap = BigEndian32(p + at + 28), times = BigEndian32(p + at + 32),
             types = BigEndian32(p + at + 36), chars = BigEndian32(p + at + 40);
    size = 44 + times * timeSize + times + types * 6 + chars + leap * (timeSize + 4) + isstd + isut;
    return size <= data.size();
  };
  size_t first, second;
  if (!blockSize(0, 4, first) || p[4] < '2' || !blockSize(first, 8, second)) return "";
  size_t at = first + second;
  if (at >= data.size() || data[at] != '\n') return "";
  size_t end = data.find('\n', at + 1);
  return end == std::string::npos ? "" : data.substr(at + 1, end - at - 1);
}

std::string HostRule() {
  const char* tz = getenv("TZ");
  if (!tz) {
    std::string rule = TzifFooter("/etc/localtime");
    return rule.empty() ? "UTC0" : rule;  // no zone set up: UTC, as the C library does
  }
  if (*tz == ':') ++tz;
  if (!*tz) return "UTC0";
  std::string path = tz;
  if (*tz != '/') {
    const char* dir = getenv("TZDIR");
    path = std::string(dir && *dir ? dir : "/usr/share/zoneinfo") + "/" + tz;
  }
  std::string rule = TzifFooter(path);
  return rule.empty() ? std::string(tz) : rule;
}

// ---------------------------------------------------------------- POSIX rule

struct Transition {
  enum Form { MonthWeekDay, Julian1, Julian0 } form = MonthWeekDay;
  int month = 0, week = 0, weekday = 0;  // Mm.w.d
  int day = 0;                           // Jn (1-365) or n (0-365)
  long seconds = 7200;                   // local time of day, default 02:00
};

struct PosixZone {
  std::string standardName, daylightName;
  long standardOffset = 0, daylightOffset = 0;  // seconds west of UTC
  bool hasDaylight = false;
  Transition start, end;  // into daylight time, back to standard time
};

class RuleParser {
 public:
  explicit RuleParser(const std::string& text) : s_(text) {}

  bool Parse(PosixZone& zone) {
    if (!Name(zone.standardName) || !Offset(zone.standardOffset, true)) return false;
    if (AtEnd()) return true;
    if (!Name(zone.daylightName)) return false;
    zone.hasDaylight = true;
    zone.daylightOffset = zone.standardOffset - 3600;
    if (!AtEnd() && Peek() != ',' && !Offset(zone.daylightOffset, true)) return false;
    if (AtEnd()) {
      // No rule given: the C library's default, the United States rule.
      zone.start = {Transition::MonthWeekDay, 3, 2, 0, 0, 7200};
      zone.end = {Transition::MonthWeekDay, 11, 1, 0, 0, 7200};
      return true;
    }
    return Take(',') && Rule(zone.start) && Take(',') && Rule(zone.end) && AtEnd();
  }

 private:
  bool AtEnd() const { return i_ >= s_.size(); }
  char Peek() const { return AtEnd() ? '\0' : s_[i_]; }
  bool Take(char c) {
    if (Peek() != c) return false;
    ++i_;
    return true;
  }
  bool Number(long& value, int maxDigits) {
    size_t begin = i_;
    value = 0;
    while (i_ < s_.size() && s_[i_] >= '0' && s_[i_] <= '9' && i_ - begin < static_cast<size_t>(maxDigits))
      value = value * 10 + (s_[i_++] - '0');
    return i_ > begin;
  }
  bool Name(std::string& name) {
    size_t begin = i_;
    if (Take('<')) {
      size_t close = s_.find('>', i_);
      if (close == std::string::npos || close - i_ < 3) return false;
      name = s_.substr(i_, close - i_);
      i_ = close + 1;
      return true;
    }
    while (i_ < s_.size() && ((s_[i_] | 0x20) >= 'a' && (s_[i_] | 0x20) <= 'z')) ++i_;
    name = s_.substr(begin, i_ - begin);
    return name.size() >= 3;
  }
  // [+-]hh[:mm[:ss]]; hours up to 167 (RFC 8536 allows that in rules).
  bool Offset(long& seconds, bool signAllowed) {
    long sign = 1;
    if (signAllowed && (Peek() == '+' || Peek() == '-')) sign = s_[i_++] == '-' ? -1 : 1;
    long hours, minutes = 0, secs = 0;
    if (!Number(hours, 3) || hours > 167) return false;
    if (Take(':') && (!Number(minutes, 2) || minutes > 59)) return false;
    if (Take(':') && (!Number(secs, 2) || secs > 59)) return false;
    seconds = sign * (hours * 3600 + minutes * 60 + secs);
    return true;
  }
  bool Rule(Transition& t) {
    long a, b, c;
    if (Take('M')) {
      if (!Number(a, 2) || !Take('.') || !Number(b, 1) || !Take('.') || !Number(c, 1)) return false;
      if (a < 1 || a > 12 || b < 1 || b > 5 || c > 6) return false;
      t.form = Transition::MonthWeekDay;
      t.month = static_cast<int>(a);
      t.week = static_cast<int>(b);
      t.weekday = static_cast<int>(c);
    } else if (Take('J')) {
      if (!Number(a, 3) || a < 1 || a > 365) return false;
      t.form = Transition::Julian1;
      t.day = static_cast<int>(a);
    } else {
      if (!Number(a, 3) || a > 365) return false;
      t.form = Transition::Julian0;
      t.day = static_cast<int>(a);
    }
    return !Take('/') || Offset(t.seconds, true);
  }

  const std::string& s_;
  size_t i_ = 0;
};

// ---------------------------------------------------------------- device form

void CopyName(WCHAR (&out)[32], const std::string& name) {
  size_t n = 0;
  for (; n < name.size() && n < 31; ++n) out[n] = static_cast<unsigned char>(name[n]);
  out[n] = 0;
}

SYSTEMTIME DeviceDate(const Transition& t, int currentYear) {
  SYSTEMTIME st{};
  long dayShift = t.seconds >= 0 ? t.seconds / 86400 : -((86399 - t.seconds) / 86400);
  long seconds = t.seconds - dayShift * 86400;
  st.wHour = static_cast<WORD>(seconds / 3600);
  st.wMinute = static_cast<WORD>(seconds / 60 % 60);
  st.wSecond = static_cast<WORD>(seconds % 60);
  if (t.form == Transition::MonthWeekDay) {
    st.wMonth = static_cast<WORD>(t.month);
    st.wDay = static_cast<WORD>(t.week);
    st.wDayOfWeek = static_cast<WORD>(((t.weekday + dayShift) % 7 + 7) % 7);
    return st;
  }
  // A day of the year: an absolute date in the current year.
  bool leap = (currentYear % 4 == 0 && currentYear % 100 != 0) || currentYear % 400 == 0;
  int dayOfYear = t.form == Transition::Julian1 ? t.day - 1 + (leap && t.day > 59 ? 1 : 0) : t.day;
  struct tm fields{};
  fields.tm_year = currentYear - 1900;
  fields.tm_mday = 1 + dayOfYear + static_cast<int>(dayShift);
  fields.tm_hour = 12;
  time_t noon = timegm(&fields);
  gmtime_r(&noon, &fields);
  st.wYear = static_cast<WORD>(fields.tm_year + 1900);
  st.wMonth = static_cast<WORD>(fields.tm_mon + 1);
  st.wDay = static_cast<WORD>(fields.tm_mday);
  st.wDayOfWeek = static_cast<WORD>(fields.tm_wday);
  return st;
}

bool IsAllYear(const PosixZone& zone) {
  return zone.start.form == Transition::Julian0 && zone.start.day == 0 && zone.start.seconds == 0 &&
         zone.end.form == Transition::Julian1 && zone.end.day == 365;
}

}  // namespace

DWORD GetTimeZoneInformation(TIME_ZONE_INFORMATION* tzi) {
  if (!tzi) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return TIME_ZONE_ID_INVALID;
  }
  *tzi = TIME_ZONE_INFORMATION{};
  tzset();
  time_t now = time(nullptr);
  struct tm current;
  localtime_r(&now, &current);

  PosixZone zone;
  std::string rule = HostRule();
  if (!RuleParser(rule).Parse(zone)) {
    tzi->Bias = static_cast<LONG>(-current.tm_gmtoff / 60);
    CopyName(tzi->StandardName, current.tm_zone ? current.tm_zone : "");
    return TIME_ZONE_ID_UNKNOWN;
  }
  if (zone.hasDaylight && IsAllYear(zone)) {
    zone.hasDaylight = false;
    zone.standardOffset = zone.daylightOffset;
    zone.standardName = zone.daylightName;
  }
  if (zone.hasDaylight && zone.daylightOffset > zone.standardOffset) {
    std::swap(zone.standardOffset, zone.daylightOffset);
    std::swap(zone.standardName, zone.daylightName);
    std::swap(zone.start, zone.end);
  }
  tzi->Bias = static_cast<LONG>(zone.standardOffset / 60);
  tzi->StandardBias = 0;
  CopyName(tzi->StandardName, zone.standardName);
  if (!zone.hasDaylight) return TIME_ZONE_ID_UNKNOWN;

  CopyName(tzi->DaylightName, zone.daylightName);
  tzi->DaylightBias = static_cast<LONG>((zone.daylightOffset - zone.standardOffset) / 60);
  int year = current.tm_year + 1900;
  tzi->DaylightDate = DeviceDate(zone.start, year);
  tzi->StandardDate = DeviceDate(zone.end, year);
  // Which of the two is in force now, by the offset the host applies now.
  bool daylightNow = -current.tm_gmtoff == zone.daylightOffset &&
                     zone.daylightOffset != zone.standardOffset;
  return daylightNow ? TIME_ZONE_ID_DAYLIGHT : TIME_ZONE_ID_STANDARD;
}

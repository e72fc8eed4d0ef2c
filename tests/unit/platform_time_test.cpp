// Calendar and file-time conversions, local <-> UTC with the host zone, and
// the time-zone information built from TZ for northern, southern and
// daylight-less zones.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "platform/windows.h"

namespace {

// Sets TZ for one test and puts the old value back.
class ZoneGuard {
 public:
  explicit ZoneGuard(const char* zone) {
    const char* old = getenv("TZ");
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ZoneGuard() {
    if (had_)
      setenv("TZ", old_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

 private:
  bool had_ = false;
  std::string old_;
};

bool HaveZoneFiles() { return access("/usr/share/zoneinfo/Europe/Berlin", R_OK) == 0; }

SYSTEMTIME Calendar(WORD y, WORD mo, WORD d, WORD h = 0, WORD mi = 0, WORD s = 0, WORD ms = 0) {
  SYSTEMTIME st{};
  st.wYear = y;
  st.wMonth = mo;
  st.wDay = d;
  st.wHour = h;
  st.wMinute = mi;
  st.wSecond = s;
  st.wMilliseconds = ms;
  return st;
}

uint64_t Value(const FILETIME& ft) {
  return static_cast<uint64_t>(ft.dwHighDateTime) << 32 | ft.dwLowDateTime;
}

FILETIME FileTime(const SYSTEMTIME& st) {
  FILETIME ft{};
  EXPECT_TRUE(SystemTimeToFileTime(&st, &ft));
  return ft;
}

// Hours between the local and the UTC reading of a local calendar time.
double UtcMinusLocalHours(const SYSTEMTIME& local) {
  FILETIME l = FileTime(local), u{};
  EXPECT_TRUE(LocalFileTimeToFileTime(&l, &u));
  FILETIME back{};
  EXPECT_TRUE(FileTimeToLocalFileTime(&u, &back));
  EXPECT_EQ(Value(back), Value(l));
  return (static_cast<double>(Value(u)) - static_cast<double>(Value(l))) / 36e9;
}

TEST(PlatformTime, CalendarToFileTimeAndBack) {
  // 1970-01-01 is 11,644,473,600 seconds after 1601-01-01.
  EXPECT_EQ(Value(FileTime(Calendar(1970, 1, 1))), 116444736000000000ULL);
  EXPECT_EQ(Value(FileTime(Calendar(1601, 1, 1))), 0u);
  FILETIME ft = FileTime(Calendar(2001, 1, 1, 13, 26, 58, 123));
  SYSTEMTIME st{};
  ASSERT_TRUE(FileTimeToSystemTime(&ft, &st));
  EXPECT_EQ(st.wYear, 2001);
  EXPECT_EQ(st.wMonth, 1);
  EXPECT_EQ(st.wDay, 1);
  EXPECT_EQ(st.wDayOfWeek, 1);  // a Monday
  EXPECT_EQ(st.wHour, 13);
  EXPECT_EQ(st.wMinute, 26);
  EXPECT_EQ(st.wSecond, 58);
  EXPECT_EQ(st.wMilliseconds, 123);

  ft = FileTime(Calendar(2000, 2, 29, 23, 59, 59));
  ASSERT_TRUE(FileTimeToSystemTime(&ft, &st));
  EXPECT_EQ(st.wMonth, 2);
  EXPECT_EQ(st.wDay, 29);
  EXPECT_EQ(st.wDayOfWeek, 2);  // a Tuesday

  FILETIME beyond{0xFFFFFFFF, 0x80000000};
  EXPECT_FALSE(FileTimeToSystemTime(&beyond, &st));
}

TEST(PlatformTime, InvalidCalendarFieldsAreRefused) {
  FILETIME ft{};
  for (const SYSTEMTIME& bad :
       {Calendar(1980, 0, 0), Calendar(2001, 1, 0), Calendar(2001, 13, 1), Calendar(2001, 2, 29),
        Calendar(1900, 2, 29), Calendar(2001, 4, 31), Calendar(2001, 1, 1, 24),
        Calendar(2001, 1, 1, 0, 60), Calendar(2001, 1, 1, 0, 0, 60),
        Calendar(2001, 1, 1, 0, 0, 0, 1000), Calendar(1600, 12, 31)}) {
    SetLastError(0);
    EXPECT_FALSE(SystemTimeToFileTime(&bad, &ft))
        << bad.wYear << "-" << bad.wMonth << "-" << bad.wDay << " " << bad.wHour;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  }
  SYSTEMTIME leapDay = Calendar(2000, 2, 29);
  EXPECT_TRUE(SystemTimeToFileTime(&leapDay, &ft));
}

TEST(PlatformTime, NorthernZoneByRuleString) {
  ZoneGuard zone("CET-1CEST,M3.5.0,M10.5.0/3");
  EXPECT_DOUBLE_EQ(UtcMinusLocalHours(Calendar(2001, 1, 1, 12)), -1.0);
  EXPECT_DOUBLE_EQ(UtcMinusLocalHours(Calendar(2001, 7, 1, 12)), -2.0);

  TIME_ZONE_INFORMATION tzi;
  DWORD id = GetTimeZoneInformation(&tzi);
  EXPECT_EQ(tzi.Bias, -60);
  EXPECT_EQ(tzi.StandardBias, 0);
  EXPECT_EQ(tzi.DaylightBias, -60);
  EXPECT_EQ(std::u16string(tzi.StandardName), u"CET");
  EXPECT_EQ(std::u16string(tzi.DaylightName), u"CEST");
  // Daylight from the last Sunday of March at 02:00 to the last Sunday of
  // October at 03:00.
  EXPECT_EQ(tzi.DaylightDate.wYear, 0);
  EXPECT_EQ(tzi.DaylightDate.wMonth, 3);
  EXPECT_EQ(tzi.DaylightDate.wDay, 5);
  EXPECT_EQ(tzi.DaylightDate.wDayOfWeek, 0);
  EXPECT_EQ(tzi.DaylightDate.wHour, 2);
  EXPECT_EQ(tzi.StandardDate.wMonth, 10);
  EXPECT_EQ(tzi.StandardDate.wDay, 5);
  EXPECT_EQ(tzi.StandardDate.wHour, 3);
  time_t now = time(nullptr);
  struct tm fields;
  localtime_r(&now, &fields);
  EXPECT_EQ(id, fields.tm_isdst > 0 ? static_cast<DWORD>(TIME_ZONE_ID_DAYLIGHT)
                                    : static_cast<DWORD>(TIME_ZONE_ID_STANDARD));
}

TEST(PlatformTime, NorthernZoneFromZoneFile) {
  if (!HaveZoneFiles()) GTEST_SKIP() << "no /usr/share/zoneinfo";
  for (const char* name : {"Europe/Berlin", ":Europe/Berlin", "/usr/share/zoneinfo/Europe/Berlin"}) {
    ZoneGuard zone(name);
    TIME_ZONE_INFORMATION tzi;
    EXPECT_NE(GetTimeZoneInformation(&tzi), static_cast<DWORD>(TIME_ZONE_ID_UNKNOWN)) << name;
    EXPECT_EQ(tzi.Bias, -60) << name;
    EXPECT_EQ(tzi.DaylightBias, -60) << name;
    EXPECT_EQ(tzi.DaylightDate.wMonth, 3) << name;
    EXPECT_EQ(tzi.StandardDate.wMonth, 10) << name;
    EXPECT_EQ(tzi.StandardDate.wHour, 3) << name;
  }
  ZoneGuard zone("Europe/Berlin");
  EXPECT_DOUBLE_EQ(UtcMinusLocalHours(Calendar(2021, 12, 24, 18)), -1.0);
  EXPECT_DOUBLE_EQ(UtcMinusLocalHours(Calendar(2021, 6, 21, 18)), -2.0);
  // The rules of that instant: Germany had no daylight time in 1960.
  EXPECT_DOUBLE_EQ(UtcMinusLocalHours(Calendar(1960, 7, 1, 12)), -1.0);
}

TEST(PlatformTime, SouthernZone) {
  if (!HaveZoneFiles()) GTEST_SKIP() << "no /usr/share/zoneinfo";
  ZoneGuard zone("Australia/Sydney");
  // January is summer (daylight, UTC+11); July is winter (UTC+10).
  EXPECT_DOUBLE_EQ(UtcMinusLocalHours(Calendar(2020, 1, 15, 12)), -11.0);
  EXPECT_DOUBLE_EQ(UtcMinusLocalHours(Calendar(2020, 7, 15, 12)), -10.0);
  TIME_ZONE_INFORMATION tzi;
  EXPECT_NE(GetTimeZoneInformation(&tzi), static_cast<DWORD>(TIME_ZONE_ID_UNKNOWN));
  EXPECT_EQ(tzi.Bias, -600);
  EXPECT_EQ(tzi.DaylightBias, -60);
  EXPECT_EQ(tzi.DaylightDate.wMonth, 10);  // first Sunday of October, 02:00
  EXPECT_EQ(tzi.DaylightDate.wDay, 1);
  EXPECT_EQ(tzi.DaylightDate.wHour, 2);
  EXPECT_EQ(tzi.StandardDate.wMonth, 4);  // first Sunday of April, 03:00
  EXPECT_EQ(tzi.StandardDate.wDay, 1);
  EXPECT_EQ(tzi.StandardDate.wHour, 3);
}

TEST(PlatformTime, ZonesWithoutDaylightTime) {
  if (HaveZoneFiles()) {
    ZoneGuard zone("Asia/Tokyo");
    TIME_ZONE_INFORMATION tzi;
    EXPECT_EQ(GetTimeZoneInformation(&tzi), static_cast<DWORD>(TIME_ZONE_ID_UNKNOWN));
    EXPECT_EQ(tzi.Bias, -540);
    EXPECT_EQ(tzi.DaylightBias, 0);
    EXPECT_EQ(tzi.DaylightDate.wMonth, 0);
    EXPECT_EQ(tzi.StandardDate.wMonth, 0);
    EXPECT_DOUBLE_EQ(UtcMinusLocalHours(Calendar(2020, 7, 15, 12)), -9.0);
  }
  for (const char* name : {"UTC0", "", "UTC"}) {
    ZoneGuard zone(name);
    TIME_ZONE_INFORMATION tzi;
    EXPECT_EQ(GetTimeZoneInformation(&tzi), static_cast<DWORD>(TIME_ZONE_ID_UNKNOWN)) << name;
    EXPECT_EQ(tzi.Bias, 0) << name;
    EXPECT_EQ(tzi.StandardDate.wMonth, 0) << name;
    EXPECT_DOUBLE_EQ(UtcMinusLocalHours(Calendar(2020, 7, 15, 12)), 0.0);
  }
}

TEST(PlatformTime, UnusualRules) {
  TIME_ZONE_INFORMATION tzi;
  {
    // Western offsets are positive; without a rule the C library's default
    // (second Sunday of March to first Sunday of November) applies.
    ZoneGuard zone("EST5EDT");
    GetTimeZoneInformation(&tzi);
    EXPECT_EQ(tzi.Bias, 300);
    EXPECT_EQ(tzi.DaylightDate.wMonth, 3);
    EXPECT_EQ(tzi.DaylightDate.wDay, 2);
    EXPECT_EQ(tzi.StandardDate.wMonth, 11);
    EXPECT_EQ(tzi.StandardDate.wDay, 1);
  }
  {
    // Winter as "negative daylight time" (Europe/Dublin) is turned round.
    ZoneGuard zone("IST-1GMT0,M10.5.0,M3.5.0/1");
    GetTimeZoneInformation(&tzi);
    EXPECT_EQ(tzi.Bias, 0);
    EXPECT_EQ(tzi.DaylightBias, -60);
    EXPECT_EQ(std::u16string(tzi.DaylightName), u"IST");
    EXPECT_EQ(tzi.DaylightDate.wMonth, 3);
    EXPECT_EQ(tzi.DaylightDate.wHour, 1);
    EXPECT_EQ(tzi.StandardDate.wMonth, 10);
  }
  {
    // A transition at 26:00 on Thursday becomes 02:00 on Friday.
    ZoneGuard zone("IST-2IDT,M3.4.4/26,M10.5.0");
    GetTimeZoneInformation(&tzi);
    EXPECT_EQ(tzi.Bias, -120);
    EXPECT_EQ(tzi.DaylightDate.wDayOfWeek, 5);
    EXPECT_EQ(tzi.DaylightDate.wHour, 2);
  }
  {
    // Daylight time all year: a standard zone with the daylight offset.
    ZoneGuard zone("EST5EDT,0/0,J365/25");
    EXPECT_EQ(GetTimeZoneInformation(&tzi), static_cast<DWORD>(TIME_ZONE_ID_UNKNOWN));
    EXPECT_EQ(tzi.Bias, 240);
  }
  {
    // Quoted names and minutes in the offset.
    ZoneGuard zone("<+0530>-5:30");
    EXPECT_EQ(GetTimeZoneInformation(&tzi), static_cast<DWORD>(TIME_ZONE_ID_UNKNOWN));
    EXPECT_EQ(tzi.Bias, -330);
    EXPECT_EQ(std::u16string(tzi.StandardName), u"+0530");
  }
}

}  // namespace

// MS-DOS and Unix time conversions, with northern and southern daylight rules.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "core/datetime.h"

namespace {

// Sets TZ for one test and restores it afterwards.
class ZoneTest : public ::testing::Test {
 protected:
  void UseZone(const char* tz) {
    setenv("TZ", tz, 1);
    tzset();
    ResetTimeZoneValues();
  }
  void SetUp() override {
    const char* old = getenv("TZ");
    hadTz_ = old != nullptr;
    if (hadTz_) oldTz_ = old;
  }
  void TearDown() override {
    if (hadTz_) setenv("TZ", oldTz_.c_str(), 1); else unsetenv("TZ");
    tzset();
    ResetTimeZoneValues();
    g_bUseDST = 1;
  }

 private:
  bool hadTz_ = false;
  std::string oldTz_;
};

SYSTEMTIME FromFileTime(const FILETIME& ft) {
  SYSTEMTIME st{};
  FileTimeToSystemTime(&ft, &st);
  return st;
}

TEST(DosTime, DecodesDateAndTime) {
  FILETIME ft;
  ASSERT_TRUE(DosToCalendar(0x2A21, 0x6B5D, &ft));
  const SYSTEMTIME st = FromFileTime(ft);
  EXPECT_EQ(st.wYear, 2001);
  EXPECT_EQ(st.wMonth, 1);
  EXPECT_EQ(st.wDay, 1);
  EXPECT_EQ(st.wHour, 13);
  EXPECT_EQ(st.wMinute, 26);
  EXPECT_EQ(st.wSecond, 58);
}

TEST(DosTime, RefusesImpossibleDates) {
  FILETIME ft;
  EXPECT_FALSE(DosToCalendar(0, 0, &ft));             // month 0, day 0
  EXPECT_FALSE(DosToCalendar(0x2A21, 0xC000, &ft));   // hour 24
  EXPECT_FALSE(DosToCalendar((21 << 9) | (2 << 5) | 30, 0, &ft));  // 30 February
}

TEST_F(ZoneTest, JapanConversionInJapan) {
  UseZone("Asia/Tokyo");
  SYSTEMTIME st = UnixToJapanCalendar(86400);
  EXPECT_EQ(st.wYear, 1970);
  EXPECT_EQ(st.wMonth, 1);
  EXPECT_EQ(st.wDay, 2);
  EXPECT_EQ(st.wHour, 0);
  EXPECT_EQ(st.wMinute, 0);
  // Below nine hours the count wraps around into 2106.
  st = UnixToJapanCalendar(100);
  EXPECT_EQ(st.wYear, 2106);
}

TEST_F(ZoneTest, NorthernDaylightTime) {
  UseZone("Europe/Berlin");
  // 2021-07-01 12:00:00 UTC is 14:00 summer time in Berlin.
  BrokenDownTime t = LocalCalendar(1625140800u);
  EXPECT_EQ(t.tm_hour, 14);
  EXPECT_EQ(t.tm_mon, 6);
  // 2021-01-15 12:00:00 UTC is 13:00 winter time.
  t = LocalCalendar(1610712000u);
  EXPECT_EQ(t.tm_hour, 13);
  // Switched off, a summer time stamp gets the standard offset only.
  g_bUseDST = 0;
  t = LocalCalendar(1625140800u);
  EXPECT_EQ(t.tm_hour, 13);
}

TEST_F(ZoneTest, NorthernTransitionDays) {
  UseZone("Europe/Berlin");
  // 2021-03-28 00:59:59 UTC: 01:59:59 standard time, not yet daylight.
  EXPECT_EQ(LocalCalendar(1616893199u).tm_hour, 1);
  // 2021-03-28 01:00:00 UTC: 02:00 standard time, daylight from then: 03:00.
  EXPECT_EQ(LocalCalendar(1616893200u).tm_hour, 3);
  // 2021-10-31 00:30:00 UTC: 02:30 summer time; 01:30 UTC: 02:30 winter time.
  EXPECT_EQ(LocalCalendar(1635640200u).tm_hour, 2);
  EXPECT_EQ(LocalCalendar(1635643800u).tm_hour, 2);
  EXPECT_EQ(LocalCalendar(1635647400u).tm_hour, 3);
}

TEST_F(ZoneTest, SouthernDaylightTime) {
  UseZone("Australia/Sydney");
  // 2021-01-15 00:00:00 UTC is 11:00 daylight time in Sydney (UTC+11).
  EXPECT_EQ(LocalCalendar(1610668800u).tm_hour, 11);
  // 2021-07-15 00:00:00 UTC is 10:00 standard time (UTC+10).
  EXPECT_EQ(LocalCalendar(1626307200u).tm_hour, 10);
}

TEST_F(ZoneTest, ZoneWithoutDaylightTime) {
  UseZone("UTC0");
  EXPECT_EQ(LocalCalendar(1625140800u).tm_hour, 12);
  const BrokenDownTime t = LocalCalendar(1625140800u);
  EXPECT_EQ(t.tm_yday, 181);  // July 1 of a common year
  EXPECT_EQ(t.tm_wday, 4);    // a Thursday
}

}  // namespace

// Calendar conversions of archive time stamps.
#pragma once

#include <cstdint>

#include "platform/windows.h"

// When 0, no time is ever treated as daylight time.
extern "C" int32_t g_bUseDST;

// MS-DOS date and time to a file time (taken as local by the caller). False
// when the system refuses the values (for example date 0: month 0, day 0).
bool DosToCalendar(uint16_t dosDate, uint16_t dosTime, FILETIME* fileTime);

// Broken-down local time, in the C library's tm layout.
struct BrokenDownTime {
  int tm_sec, tm_min, tm_hour, tm_mday, tm_mon, tm_year, tm_wday, tm_yday, tm_isdst;
};

// Seconds since 1970 (unsigned) to local time with the device zone's offset
// and daylight rules; all zeros when the conversion fails.
BrokenDownTime LocalCalendar(uint32_t seconds);
bool IsDaylightTime(const BrokenDownTime& t);

// Seconds since 1970 shifted by nine hours, then LocalCalendar, as calendar
// fields (the device's Japan-time conversion).
SYSTEMTIME UnixToJapanCalendar(uint32_t seconds);

// The zone values are read once, on first use; tests call this to read them
// again after changing TZ.
void ResetTimeZoneValues();

// Seconds since 1970 (UTC), and nanoseconds past them, as a file time (to
// its 100 ns). Times before 1601 are not asked for.
FILETIME UnixSecondsToFileTime(int64_t seconds, uint32_t nanoseconds = 0);

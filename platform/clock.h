// The runtime's clock: dates as day numbers since 28 December 1800 (1 January 1801 is day 4)
// and times as hundredths of a second since midnight plus 1, both in local time.
#pragma once

#include <cstdint>

namespace korawin::platform {

int32_t Today();
int32_t ClockTime();
// Day number of a civil date, and back.
int32_t DayNumber(int year, int month, int day);
void CivilDate(int32_t dayNumber, int* year, int* month, int* day);
// Monotonic hundredths of a second, for timeouts.
int64_t MonotonicHundredths();

}  // namespace korawin::platform

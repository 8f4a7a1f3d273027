// Date-time values (days since 1899-12-30, local time, fraction = time of
// day), their calendar arithmetic, and the clock: local now, the conversion
// to and from the system's UTC seconds (TZ and daylight saving honoured), the
// 32-bit millisecond tick counter and sleeping.
#pragma once

#include <cstdint>

// Days between 1899-12-30 and 1970-01-01.
inline constexpr double UnixEpochDays = 25569.0;

// True and the date value for a real calendar date (year 1..9999).
bool TryEncodeDate(int Year, int Month, int Day, double& Date);
// True and the fraction of a day for 0..23, 0..59, 0..59, 0..999.
bool TryEncodeTime(int Hour, int Minute, int Second, int MilliSecond, double& Time);
void DecodeDate(double DateTime, int& Year, int& Month, int& Day);
void DecodeTime(double DateTime, int& Hour, int& Minute, int& Second, int& MilliSecond);
bool IsLeapYear(int Year);
int DaysInMonth(int Year, int Month);

// The local date and time now.
double NowLocal();
// Local date-time of a UTC instant given in seconds since 1970.
double UnixToLocalDateTime(std::int64_t Seconds);
// UTC seconds since 1970 of a local date-time (whole seconds, rounded down).
// False when the C library cannot convert it.
bool LocalDateTimeToUnix(double LocalDateTime, std::int64_t& Seconds);

// Milliseconds from the monotonic clock, wrapping at 2^32.
std::uint32_t GetTick();
void SleepMilliseconds(int Milliseconds);

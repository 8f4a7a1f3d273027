// The local-time rules of the C library (TZ, the zone files).
#include "platform/systime.h"

#include <ctime>

double UnixToLocalDateTime(std::int64_t Seconds) {
  const std::time_t Time = static_cast<std::time_t>(Seconds);
  std::tm Local{};
  localtime_r(&Time, &Local);
  double Date = 0;
  double TimeOfDay = 0;
  TryEncodeDate(Local.tm_year + 1900, Local.tm_mon + 1, Local.tm_mday, Date);
  TryEncodeTime(Local.tm_hour, Local.tm_min, Local.tm_sec, 0, TimeOfDay);
  return Date + TimeOfDay;
}

bool LocalDateTimeToUnix(double LocalDateTime, std::int64_t& Seconds) {
  int Year, Month, Day, Hour, Minute, Second, MilliSecond;
  DecodeDate(LocalDateTime, Year, Month, Day);
  DecodeTime(LocalDateTime, Hour, Minute, Second, MilliSecond);
  std::tm Local{};
  Local.tm_year = Year - 1900;
  Local.tm_mon = Month - 1;
  Local.tm_mday = Day;
  Local.tm_hour = Hour;
  Local.tm_min = Minute;
  Local.tm_sec = Second;
  Local.tm_isdst = -1;
  const std::time_t Time = std::mktime(&Local);
  if (Time == static_cast<std::time_t>(-1) && !(Local.tm_year == 69 && Local.tm_mon == 11 && Local.tm_mday == 31))
    return false;
  Seconds = static_cast<std::int64_t>(Time);
  return true;
}

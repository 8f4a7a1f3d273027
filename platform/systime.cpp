#include "platform/systime.h"

#include <chrono>
#include <cmath>
#include <ctime>
#include <thread>

namespace {

// Days from 1970-01-01 of a proleptic Gregorian date.
std::int64_t DaysFromCivil(std::int64_t Year, unsigned Month, unsigned Day) {
  Year -= Month <= 2;
  const std::int64_t Era = (Year >= 0 ? Year : Year - 399) / 400;
  const unsigned YearOfEra = static_cast<unsigned>(Year - Era * 400);
  const unsigned DayOfYear = (153 * (Month + (Month > 2 ? -3 : 9)) + 2) / 5 + Day - 1;
  const unsigned DayOfEra = YearOfEra * 365 + YearOfEra / 4 - YearOfEra / 100 + DayOfYear;
  return Era * 146097 + static_cast<std::int64_t>(DayOfEra) - 719468;
}

void CivilFromDays(std::int64_t Days, int& Year, int& Month, int& Day) {
  Days += 719468;
  const std::int64_t Era = (Days >= 0 ? Days : Days - 146096) / 146097;
  const unsigned DayOfEra = static_cast<unsigned>(Days - Era * 146097);
  const unsigned YearOfEra = (DayOfEra - DayOfEra / 1460 + DayOfEra / 36524 - DayOfEra / 146096) / 365;
  const unsigned DayOfYear = DayOfEra - (365 * YearOfEra + YearOfEra / 4 - YearOfEra / 100);
  const unsigned MonthIndex = (5 * DayOfYear + 2) / 153;
  Day = static_cast<int>(DayOfYear - (153 * MonthIndex + 2) / 5 + 1);
  Month = static_cast<int>(MonthIndex < 10 ? MonthIndex + 3 : MonthIndex - 9);
  Year = static_cast<int>(static_cast<std::int64_t>(YearOfEra) + Era * 400 + (Month <= 2));
}

// Whole milliseconds of the day in a date-time value, rounded to the nearest.
std::int64_t MillisecondsOfDay(double DateTime) {
  const double Fraction = std::fabs(DateTime - std::trunc(DateTime));
  std::int64_t Ms = std::llround(Fraction * 86400000.0);
  if (Ms >= 86400000) Ms = 86399999;
  return Ms;
}

}  // namespace

bool IsLeapYear(int Year) { return (Year % 4 == 0 && Year % 100 != 0) || Year % 400 == 0; }

int DaysInMonth(int Year, int Month) {
  static const int Days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (Month < 1 || Month > 12) return 0;
  return Month == 2 && IsLeapYear(Year) ? 29 : Days[Month - 1];
}

bool TryEncodeDate(int Year, int Month, int Day, double& Date) {
  if (Year < 1 || Year > 9999 || Month < 1 || Month > 12) return false;
  if (Day < 1 || Day > DaysInMonth(Year, Month)) return false;
  Date = static_cast<double>(DaysFromCivil(Year, static_cast<unsigned>(Month), static_cast<unsigned>(Day))) +
         UnixEpochDays;
  return true;
}

bool TryEncodeTime(int Hour, int Minute, int Second, int MilliSecond, double& Time) {
  if (Hour < 0 || Hour > 23 || Minute < 0 || Minute > 59 || Second < 0 || Second > 59) return false;
  if (MilliSecond < 0 || MilliSecond > 999) return false;
  Time = (((Hour * 60.0 + Minute) * 60.0 + Second) * 1000.0 + MilliSecond) / 86400000.0;
  return true;
}

void DecodeDate(double DateTime, int& Year, int& Month, int& Day) {
  CivilFromDays(static_cast<std::int64_t>(std::trunc(DateTime)) - static_cast<std::int64_t>(UnixEpochDays), Year,
                Month, Day);
}

void DecodeTime(double DateTime, int& Hour, int& Minute, int& Second, int& MilliSecond) {
  std::int64_t Ms = MillisecondsOfDay(DateTime);
  MilliSecond = static_cast<int>(Ms % 1000);
  Ms /= 1000;
  Second = static_cast<int>(Ms % 60);
  Ms /= 60;
  Minute = static_cast<int>(Ms % 60);
  Hour = static_cast<int>(Ms / 60);
}

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

double NowLocal() {
  const auto Now = std::chrono::system_clock::now();
  const auto Ms = std::chrono::duration_cast<std::chrono::milliseconds>(Now.time_since_epoch()).count();
  return UnixToLocalDateTime(Ms / 1000) + static_cast<double>(Ms % 1000) / 86400000.0;
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

std::uint32_t GetTick() {
  const auto Now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(Now).count());
}

void SleepMilliseconds(int Milliseconds) {
  if (Milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(Milliseconds));
}

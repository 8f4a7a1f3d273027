#include "platform/systime.h"

#include <chrono>
#include <cmath>
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

double NowLocal() {
  const auto Now = std::chrono::system_clock::now();
  const auto Ms = std::chrono::duration_cast<std::chrono::milliseconds>(Now.time_since_epoch()).count();
  return UnixToLocalDateTime(Ms / 1000) + static_cast<double>(Ms % 1000) / 86400000.0;
}

std::uint32_t GetTick() {
  const auto Now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(Now).count());
}

void SleepMilliseconds(int Milliseconds) {
  if (Milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(Milliseconds));
}

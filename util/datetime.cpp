// Date and time-zone decoding; see datetime.h.
#include "util/datetime.h"

#include "platform/systime.h"

TMonthNames SystemMonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::array<TMonthNames, 7> MonthNameTable = {};

void LoadSystemMonthNames() {}

double EncodeDate(int Year, int Month, int Day) {
  double Date = 0;
  if (!TryEncodeDate(Year, Month, Day, Date)) throw EConvertError("Invalid argument to date encode");
  return Date;
}

double EncodeTime(int Hour, int Minute, int Second, int MilliSecond) {
  double Time = 0;
  if (!TryEncodeTime(Hour, Minute, Second, MilliSecond, Time)) throw EConvertError("Invalid argument to time encode");
  return Time;
}

double UtcToLocalDateTime(double UtcDateTime) { return UtcDateTime; }
double LocalToUtcDateTime(double LocalDateTime) { return LocalDateTime; }
int LocalZoneOffset() { return 0; }
bool ZoneOffsetFromName(const std::string&, int&) { return false; }
int MonthFromName(const std::string&) { return 0; }
double DecodeTimeOfDay(const std::string&) { return -1; }
double DecodeHttpDate(const std::string&) { return 0; }

#include "platform/systime.h"

#include "platform/widetext_win.h"

namespace {

// FILETIME counts 100 ns steps from 1601-01-01 UTC.
constexpr std::int64_t SecondsFrom1601To1970 = 11644473600LL;
constexpr std::int64_t TicksPerSecond = 10000000LL;

}  // namespace

double UnixToLocalDateTime(std::int64_t Seconds) {
  const auto Ticks = static_cast<std::uint64_t>((Seconds + SecondsFrom1601To1970) * TicksPerSecond);
  FILETIME Utc;
  Utc.dwLowDateTime = static_cast<DWORD>(Ticks & 0xFFFFFFFFu);
  Utc.dwHighDateTime = static_cast<DWORD>(Ticks >> 32);
  SYSTEMTIME UtcParts;
  SYSTEMTIME Local;
  // The zone's daylight-saving rules of that year, as the system knows them.
  if (!FileTimeToSystemTime(&Utc, &UtcParts) || !SystemTimeToTzSpecificLocalTime(nullptr, &UtcParts, &Local))
    return UnixEpochDays + static_cast<double>(Seconds) / 86400.0;
  double Date = 0;
  double TimeOfDay = 0;
  TryEncodeDate(Local.wYear, Local.wMonth, Local.wDay, Date);
  TryEncodeTime(Local.wHour, Local.wMinute, Local.wSecond, 0, TimeOfDay);
  return Date + TimeOfDay;
}

bool LocalDateTimeToUnix(double LocalDateTime, std::int64_t& Seconds) {
  int Year, Month, Day, Hour, Minute, Second, MilliSecond;
  DecodeDate(LocalDateTime, Year, Month, Day);
  DecodeTime(LocalDateTime, Hour, Minute, Second, MilliSecond);
  if (Year < 1601) return false;  // before the system's calendar
  SYSTEMTIME Local{};
  Local.wYear = static_cast<WORD>(Year);
  Local.wMonth = static_cast<WORD>(Month);
  Local.wDay = static_cast<WORD>(Day);
  Local.wHour = static_cast<WORD>(Hour);
  Local.wMinute = static_cast<WORD>(Minute);
  Local.wSecond = static_cast<WORD>(Second);
  SYSTEMTIME Utc;
  FILETIME UtcTicks;
  if (!TzSpecificLocalTimeToSystemTime(nullptr, &Local, &Utc) || !SystemTimeToFileTime(&Utc, &UtcTicks)) return false;
  const auto Ticks = static_cast<std::int64_t>((static_cast<std::uint64_t>(UtcTicks.dwHighDateTime) << 32) |
                                               UtcTicks.dwLowDateTime);
  Seconds = Ticks / TicksPerSecond - SecondsFrom1601To1970;
  return true;
}

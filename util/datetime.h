// Date and time-zone decoding: the tolerant decoder for the dates of mail and
// HTTP headers (RFC 822/1123, RFC 850 and asctime forms, numeric and named
// zones), the month-name tables and the time-of-day reader that the FTP
// listing parser shares, and the throwing date encoders whose conversion
// error the HTTP GET job reports.
//
// Date-time values are days since 1899-12-30, local time, the fraction being
// the time of day (see platform/systime.h for the calendar arithmetic). Zone
// offsets are minutes east of UTC.
#pragma once

#include <array>
#include <stdexcept>
#include <string>

// Raised when a date or time of day does not exist (31 April, 29 February of
// a common year, hour 24). The message is the one the jobs log.
class EConvertError : public std::runtime_error {
 public:
  explicit EConvertError(const std::string& Message) : std::runtime_error(Message) {}
};

// Twelve abbreviated month names, January first, as single-byte texts.
using TMonthNames = std::array<std::string, 12>;

// The locale's abbreviated month names, read once at start by
// LoadSystemMonthNames (English until then). A listing mask carrying month
// names replaces them for every later lookup.
extern TMonthNames SystemMonthNames;

// Seven rows of month names tried by MonthFromName: the locale's (row 0,
// copied from SystemMonthNames at start), English, French with and without
// accents (Windows-1252), German without and with umlauts (Windows-1252) and
// Czech (Windows-1250).
extern std::array<TMonthNames, 7> MonthNameTable;

// Reads the abbreviated month names of the environment's LC_TIME locale
// (the C locale gives the English ones) into SystemMonthNames and row 0 of
// MonthNameTable. Called once by main before any job runs; the process-wide
// locale is not changed.
void LoadSystemMonthNames();

// The date value of a real calendar date; EConvertError otherwise.
double EncodeDate(int Year, int Month, int Day);
// The fraction of a day of a real time of day (0..23, 0..59, 0..59,
// 0..999); EConvertError otherwise.
double EncodeTime(int Hour, int Minute, int Second, int MilliSecond);

// A UTC date-time as local time and back, through the C library so that TZ
// and the daylight saving in force at that date are honoured. Values the C
// library cannot convert come back unchanged.
double UtcToLocalDateTime(double UtcDateTime);
double LocalToUtcDateTime(double LocalDateTime);

// The current offset of local time from UTC, in minutes east.
int LocalZoneOffset();

// True when Token (upper case) is a zone: "+hhmm" or "-hhmm" (characters
// after the fifth ignored; "-0000" means local time; a signed token of four
// characters or fewer is recognised but leaves Offset unchanged) or one of
// 51 zone names. Offset in minutes east of UTC.
bool ZoneOffsetFromName(const std::string& Token, int& Offset);

// Month 1..12 whose name in any row of MonthNameTable or in SystemMonthNames
// equals Token without regard to case; the lowest month wins; 0 when none.
int MonthFromName(const std::string& Token);

// The fraction of a day of "h:mm" or "h:mm:ss", an AM or PM marker allowed
// after it (in either case, with or without a blank); what follows the
// second character after the last ":" is dropped ("08:49:37.250" and
// "08:49:37GMT" read as 08:49:37). -1 when the text is not a time.
double DecodeTimeOfDay(const std::string& Token);

// The local date-time of a mail or HTTP date text: tokens are classified as
// zone, day, year, time, "DST" or month name in any order; missing parts
// default to 1 January 1980, 00:00, UTC. 0 for an empty text. Raises
// EConvertError for a day that does not exist in its month.
double DecodeHttpDate(const std::string& Text);

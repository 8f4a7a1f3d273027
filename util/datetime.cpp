// Date and time-zone decoding; see datetime.h.
#include "util/datetime.h"

#include <cmath>
#include <cstdint>
#include <ctime>
#include <string_view>

#include "platform/locale.h"
#include "platform/systime.h"
#include "util/textutil.h"

TMonthNames SystemMonthNames = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

std::array<TMonthNames, 7> MonthNameTable = {{
    {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"},
    {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"},
    {"jan", "f\xE9v", "mar", "avr", "mai", "jun", "jul", "ao\xFB", "sep", "oct", "nov", "d\xE9" "c"},
    {"jan", "fev", "mar", "avr", "mai", "jun", "jul", "aou", "sep", "oct", "nov", "dec"},
    {"Jan", "Feb", "Mar", "Apr", "Mai", "Jun", "Jul", "Aug", "Sep", "Okt", "Nov", "Dez"},
    {"Jan", "Feb", "M\xE4r", "Apr", "Mai", "Jun", "Jul", "Aug", "Sep", "Okt", "Nov", "Dez"},
    {"Led", "\xDAno", "B\xF8" "e", "Dub", "Kv\xEC", "\xC8" "en", "\xC8" "ec", "Srp", "Z\xE1\xF8", "\xD8\xEDj", "Lis",
     "Pro"},
}};

namespace {

constexpr double kMinutesPerDay = 1440.0;
constexpr double kMillisecondsPerDay = 86400000.0;

// Upper case of a byte in the Windows-1252 and Windows-1250 code pages,
// which agree on the letters the month tables use: ASCII, the accented
// letters of 0xE0..0xFE (but the division sign) and the caron letters of
// 0x9A..0x9F.
unsigned char UpperCodePage(unsigned char Byte) {
  if (Byte >= 'a' && Byte <= 'z') return static_cast<unsigned char>(Byte - 0x20);
  if (Byte >= 0xE0 && Byte <= 0xFE && Byte != 0xF7) return static_cast<unsigned char>(Byte - 0x20);
  if (Byte >= 0x9A && Byte <= 0x9F && Byte != 0x9B) return static_cast<unsigned char>(Byte - 0x10);
  return Byte;
}

bool SameNameIgnoringCase(std::string_view UpperToken, const std::string& Name) {
  if (UpperToken.size() != Name.size()) return false;
  for (std::size_t i = 0; i < Name.size(); ++i) {
    if (static_cast<unsigned char>(UpperToken[i]) != UpperCodePage(static_cast<unsigned char>(Name[i]))) return false;
  }
  return true;
}

// A decimal number of at most MaxDigits digits, or -1.
int SmallNumber(std::string_view Text, std::size_t MaxDigits) {
  if (Text.empty() || Text.size() > MaxDigits) return -1;
  int value = 0;
  for (const char c : Text) {
    if (c < '0' || c > '9') return -1;
    value = value * 10 + (c - '0');
  }
  return value;
}

// Digits only, at most nine of them (so the value fits an int); else 0.
int TokenNumber(const std::string& Token) {
  const int value = SmallNumber(Token, 9);
  return value < 0 ? 0 : value;
}

// One hour with its minutes: "+hhmm" / "-hhmm", each part 0 when not digits.
int NumericZoneOffset(const std::string& Token) {
  const int hours = SmallNumber(std::string_view(Token).substr(1, 2), 2);
  const int minutes = SmallNumber(std::string_view(Token).substr(3, 2), 2);
  const int offset = (hours < 0 ? 0 : hours) * 60 + (minutes < 0 ? 0 : minutes);
  return Token[0] == '-' ? -offset : offset;
}

struct TZoneName {
  const char* Name;
  int Hours;
};

constexpr TZoneName kZoneNames[] = {
    {"NZDT", 13}, {"IDLE", 12}, {"NZST", 12}, {"NZT", 12},  {"EADT", 11}, {"GST", 10},  {"JST", 9},
    {"CCT", 8},   {"WADT", 8},  {"WAST", 7},  {"ZP6", 6},   {"ZP5", 5},   {"ZP4", 4},   {"BT", 3},
    {"EET", 2},   {"MEST", 2},  {"MESZ", 2},  {"SST", 2},   {"FST", 2},   {"CEST", 2},  {"CET", 1},
    {"FWT", 1},   {"MET", 1},   {"MEWT", 1},  {"SWT", 1},   {"UT", 0},    {"UTC", 0},   {"GMT", 0},
    {"WET", 0},   {"WAT", -1},  {"BST", -1},  {"AT", -2},   {"ADT", -3},  {"AST", -4},  {"EDT", -4},
    {"EST", -5},  {"CDT", -5},  {"CST", -6},  {"MDT", -6},  {"MST", -7},  {"PDT", -7},  {"PST", -8},
    {"YDT", -8},  {"YST", -9},  {"HDT", -9},  {"AHST", -10}, {"CAT", -10}, {"HST", -10}, {"EAST", -10},
    {"NT", -11},  {"IDLW", -12},
};
static_assert(sizeof(kZoneNames) / sizeof(kZoneNames[0]) == 51);

// Removes a trailing AM or PM marker (either case, a blank before it
// allowed); Marker becomes 'A', 'P' or 0.
std::string_view CutDayHalfMarker(std::string_view Text, char& Marker) {
  Marker = 0;
  if (Text.size() < 2) return Text;
  const char first = static_cast<char>(UpperCodePage(static_cast<unsigned char>(Text[Text.size() - 2])));
  const char second = static_cast<char>(UpperCodePage(static_cast<unsigned char>(Text.back())));
  if (second != 'M' || (first != 'A' && first != 'P')) return Text;
  Marker = first;
  Text.remove_suffix(2);
  if (!Text.empty() && Text.back() == ' ') Text.remove_suffix(1);
  return Text;
}

// Hours on a 12-hour clock turned into 0..23: 12 AM is midnight, 12 PM noon.
int HoursFromDayHalf(int Hours, char Marker) {
  if (Marker == 0) return Hours;
  if (Hours < 1 || Hours > 12) return -1;
  return Hours % 12 + (Marker == 'P' ? 12 : 0);
}

// Seconds since 1970 and the milliseconds past them of a date-time value.
void SplitDateTime(double DateTime, std::int64_t& Seconds, int& Milliseconds) {
  const std::int64_t total = std::llround((DateTime - UnixEpochDays) * kMillisecondsPerDay);
  Seconds = total >= 0 ? total / 1000 : -((-total + 999) / 1000);
  Milliseconds = static_cast<int>(total - Seconds * 1000);
}

}  // namespace

void LoadSystemMonthNames() {
  // An unknown locale keeps the English names.
  if (!ReadLocaleMonthAbbreviations(SystemMonthNames)) return;
  MonthNameTable[0] = SystemMonthNames;
}

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

double UtcToLocalDateTime(double UtcDateTime) {
  if (!std::isfinite(UtcDateTime) || std::fabs(UtcDateTime) > 3.0e6) return UtcDateTime;
  std::int64_t seconds = 0;
  int milliseconds = 0;
  SplitDateTime(UtcDateTime, seconds, milliseconds);
  return UnixToLocalDateTime(seconds) + milliseconds / kMillisecondsPerDay;
}

double LocalToUtcDateTime(double LocalDateTime) {
  if (!std::isfinite(LocalDateTime) || std::fabs(LocalDateTime) > 3.0e6) return LocalDateTime;
  std::int64_t seconds = 0;
  int milliseconds = 0;
  SplitDateTime(LocalDateTime, seconds, milliseconds);
  std::int64_t utcSeconds = 0;
  const double wholeSeconds = UnixEpochDays + static_cast<double>(seconds) / 86400.0;
  if (!LocalDateTimeToUnix(wholeSeconds, utcSeconds)) return LocalDateTime;
  return UnixEpochDays + static_cast<double>(utcSeconds) / 86400.0 + milliseconds / kMillisecondsPerDay;
}

int LocalZoneOffset() {
  // The lead of the local clock over UTC now, from the same rules that
  // convert every other time.
  const auto now = static_cast<std::int64_t>(std::time(nullptr));
  const double utc = UnixEpochDays + static_cast<double>(now) / 86400.0;
  return static_cast<int>(std::lround((UnixToLocalDateTime(now) - utc) * 1440.0));
}

bool ZoneOffsetFromName(const std::string& Token, int& Offset) {
  if (!Token.empty() && (Token[0] == '+' || Token[0] == '-')) {
    if (Token == "-0000") {
      Offset = LocalZoneOffset();
    } else if (Token.size() > 4) {
      Offset = NumericZoneOffset(Token);
    }
    return true;
  }
  for (const TZoneName& zone : kZoneNames) {
    if (Token == zone.Name) {
      Offset = zone.Hours * 60;
      return true;
    }
  }
  return false;
}

int MonthFromName(const std::string& Token) {
  // Month names are short; a longer token cannot match and needs no copy.
  char buffer[16];
  if (Token.empty() || Token.size() > sizeof(buffer)) return 0;
  for (std::size_t i = 0; i < Token.size(); ++i) {
    buffer[i] = static_cast<char>(UpperCodePage(static_cast<unsigned char>(Token[i])));
  }
  const std::string_view upper(buffer, Token.size());
  for (std::size_t month = 0; month < 12; ++month) {
    for (const TMonthNames& row : MonthNameTable) {
      if (SameNameIgnoringCase(upper, row[month])) return static_cast<int>(month) + 1;
    }
    if (SameNameIgnoringCase(upper, SystemMonthNames[month])) return static_cast<int>(month) + 1;
  }
  return 0;
}

double DecodeTimeOfDay(const std::string& Token) {
  char marker = 0;
  std::string_view text = CutDayHalfMarker(Token, marker);
  const std::size_t lastColon = text.rfind(':');
  if (lastColon == std::string_view::npos) return -1;
  if (text.size() - lastColon - 1 > 2) text = text.substr(0, lastColon + 3);

  const std::size_t firstColon = text.find(':');
  const std::string_view hourText = text.substr(0, firstColon);
  std::string_view rest = text.substr(firstColon + 1);
  std::string_view secondText = "0";
  const std::size_t secondColon = rest.find(':');
  if (secondColon != std::string_view::npos) {
    secondText = rest.substr(secondColon + 1);
    rest = rest.substr(0, secondColon);
  }
  const int hours = HoursFromDayHalf(SmallNumber(hourText, 2), marker);
  const int minutes = SmallNumber(rest, 2);
  const int seconds = SmallNumber(secondText, 2);
  double time = 0;
  if (!TryEncodeTime(hours, minutes, seconds, 0, time)) return -1;
  return time;
}

namespace {

// The parts DecodeHttpDate collects from the tokens.
struct THttpDateParts {
  int Day = 0;
  int Month = 0;
  int Year = 0;
  int Zone = 0;          // minutes east of UTC
  bool ZoneIsLocal = false;  // "-0000": the text is already local time
  double Time = 0;
};

// Separates the hyphens of 06-Nov-94 while keeping the sign of " -0500".
std::string NormaliseHyphens(const std::string& Text) {
  std::string result = ReplaceAll(Text, " -", " #");
  result = ReplaceAll(result, "-", " ");
  return ReplaceAll(result, " #", " -");
}

bool TakeNumber(int Number, THttpDateParts& Parts) {
  if (Number <= 0) return false;
  if (Number <= 31 && Parts.Day == 0) {
    Parts.Day = Number;
    return true;
  }
  if (Parts.Year != 0 || (Parts.Month == 0 && Number <= 12)) return false;
  Parts.Year = Number;
  if (Parts.Year < 32) Parts.Year += 2000;
  if (Parts.Year < 1000) Parts.Year += 1900;
  return true;
}

void ClassifyToken(const std::string& Token, THttpDateParts& Parts) {
  int offset = Parts.Zone;
  if (ZoneOffsetFromName(Token, offset)) {
    Parts.ZoneIsLocal = Token == "-0000";
    Parts.Zone = offset;
    return;
  }
  if (TakeNumber(TokenNumber(Token), Parts)) return;
  const std::size_t firstColon = Token.find(':');
  if (firstColon != std::string::npos && Token.rfind(':') > firstColon) {
    const double time = DecodeTimeOfDay(Token);
    if (time != -1) Parts.Time = time;
    return;
  }
  if (Token == "DST") {
    Parts.Zone += 60;
    Parts.ZoneIsLocal = false;
    return;
  }
  const int month = MonthFromName(Token);
  if (month > 0 && Parts.Month == 0) Parts.Month = month;
}

std::string UpperAscii(std::string Text) {
  for (char& c : Text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 0x20);
  }
  return Text;
}

}  // namespace

double DecodeHttpDate(const std::string& Text) {
  if (Text.empty()) return 0;
  THttpDateParts parts;
  std::string rest = NormaliseHyphens(Text);
  while (!rest.empty()) ClassifyToken(UpperAscii(CutToken(rest, " ")), parts);

  if (parts.Year == 0) parts.Year = 1980;
  if (parts.Month < 1 || parts.Month > 12) parts.Month = 1;
  if (parts.Day < 1 || parts.Day > 31) parts.Day = 1;
  const double stated = EncodeDate(parts.Year, parts.Month, parts.Day) + parts.Time;
  if (parts.ZoneIsLocal) return stated;
  // The offset in force at the decoded date, not today's, decides the local
  // time: a summer date read in winter must still get summer time.
  return UtcToLocalDateTime(stated - parts.Zone / kMinutesPerDay);
}

// Date and time-zone decoding: the three HTTP date forms, numeric and named
// zones, "DST", two-digit years, a time alone, month names of the tables,
// times of day with AM and PM, and the same texts decoded in three zones,
// daylight saving taken at the decoded date.
#include "util/datetime.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>

#include "platform/systime.h"

namespace {

// Sets TZ for one test and puts the old value back.
class ScopedZone {
 public:
  explicit ScopedZone(const char* Zone) {
    if (const char* old = std::getenv("TZ")) old_ = old;
    setenv("TZ", Zone, 1);
    tzset();
  }
  ~ScopedZone() {
    if (old_) {
      setenv("TZ", old_->c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  std::optional<std::string> old_;
};

std::string Format(double value) {
  int year, month, day, hour, minute, second, millisecond;
  DecodeDate(value, year, month, day);
  DecodeTime(value, hour, minute, second, millisecond);
  char text[32];
  std::snprintf(text, sizeof(text), "%04d-%02d-%02d %02d:%02d:%02d", year, month, day, hour, minute, second);
  return text;
}

std::string Decoded(const std::string& text) { return Format(DecodeHttpDate(text)); }

std::string TimeOfDay(const std::string& text) {
  const double time = DecodeTimeOfDay(text);
  if (time == -1) return "none";
  return Format(time).substr(11);
}

TEST(DateTimeHttp, TheThreeFormsDecodeAlikeInEveryZone) {
  const char* const forms[] = {"Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT",
                               "Sun Nov  6 08:49:37 1994"};
  const struct {
    const char* zone;
    const char* local;
  } zones[] = {{"UTC", "1994-11-06 08:49:37"},
               {"Asia/Tokyo", "1994-11-06 17:49:37"},
               {"America/New_York", "1994-11-06 03:49:37"}};
  for (const auto& zone : zones) {
    ScopedZone scoped(zone.zone);
    for (const char* form : forms) EXPECT_EQ(Decoded(form), zone.local) << zone.zone << ": " << form;
  }
}

TEST(DateTimeHttp, DaylightSavingIsTakenAtTheDecodedDate) {
  ScopedZone scoped("America/New_York");
  // Summer (EDT, -4) and winter (EST, -5), whatever the date of the run.
  EXPECT_EQ(Decoded("Sun, 06 Jul 2014 12:00:00 GMT"), "2014-07-06 08:00:00");
  EXPECT_EQ(Decoded("Sat, 06 Dec 2014 12:00:00 GMT"), "2014-12-06 07:00:00");
  // The night the clocks went forward: 06:59:59 and 07:00:00 UTC straddle it.
  EXPECT_EQ(Decoded("Sun, 09 Mar 2014 06:59:59 GMT"), "2014-03-09 01:59:59");
  EXPECT_EQ(Decoded("Sun, 09 Mar 2014 07:00:00 GMT"), "2014-03-09 03:00:00");
}

TEST(DateTimeHttp, NumericZonesAndZoneNames) {
  ScopedZone scoped("UTC");
  EXPECT_EQ(Decoded("Sun, 06 Nov 1994 08:49:37 +0900"), "1994-11-05 23:49:37");
  EXPECT_EQ(Decoded("Sun, 06 Nov 1994 08:49:37 -0500"), "1994-11-06 13:49:37");
  EXPECT_EQ(Decoded("Sun, 06 Nov 1994 08:49:37 +0130"), "1994-11-06 07:19:37");
  EXPECT_EQ(Decoded("Sun, 06 Nov 1994 08:49:37 JST"), "1994-11-05 23:49:37");
  EXPECT_EQ(Decoded("Sun, 06 Nov 1994 08:49:37 pst"), "1994-11-06 16:49:37");
  EXPECT_EQ(Decoded("Sun, 06 Nov 1994 08:49:37 BST"), "1994-11-06 09:49:37");
  // EST DST is -5 hours plus one: -4.
  EXPECT_EQ(Decoded("Sun, 06 Nov 1994 08:49:37 EST DST"), "1994-11-06 12:49:37");
  // No zone at all reads as UTC.
  EXPECT_EQ(Decoded("06 Nov 1994 08:49:37"), "1994-11-06 08:49:37");
}

TEST(DateTimeHttp, MinusZeroMeansTheTextIsLocalAlready) {
  ScopedZone scoped("Asia/Tokyo");
  EXPECT_EQ(Decoded("Sun, 06 Nov 1994 08:49:37 -0000"), "1994-11-06 08:49:37");
}

TEST(DateTimeHttp, YearsDaysAndDefaults) {
  ScopedZone scoped("UTC");
  EXPECT_EQ(Decoded("06 Nov 94 00:00:00"), "1994-11-06 00:00:00");
  EXPECT_EQ(Decoded("06 Nov 05 00:00:00"), "2005-11-06 00:00:00");
  EXPECT_EQ(Decoded("06 Nov 31 00:00:00"), "2031-11-06 00:00:00");
  EXPECT_EQ(Decoded("06 Nov 32 00:00:00"), "1932-11-06 00:00:00");
  // A number up to 31 before any day is the day, whatever comes first.
  EXPECT_EQ(Decoded("Nov 6 1994"), "1994-11-06 00:00:00");
  EXPECT_EQ(Decoded("1994 Nov 6"), "1994-11-06 00:00:00");
  // A time alone: 1 January 1980.
  EXPECT_EQ(Decoded("08:49:37"), "1980-01-01 08:49:37");
  EXPECT_EQ(Decoded("garbage, words only"), "1980-01-01 00:00:00");
  EXPECT_EQ(DecodeHttpDate(""), 0);
  // Fractions of seconds and a glued zone are dropped.
  EXPECT_EQ(Decoded("06 Nov 1994 08:49:37.250 GMT"), "1994-11-06 08:49:37");
}

TEST(DateTimeHttp, ADayMissingFromItsMonthIsAConversionError) {
  ScopedZone scoped("UTC");
  EXPECT_THROW(DecodeHttpDate("31 Apr 2005 10:00:00 GMT"), EConvertError);
  EXPECT_THROW(DecodeHttpDate("29 Feb 2005 10:00:00 GMT"), EConvertError);
  EXPECT_EQ(Decoded("29 Feb 2004 10:00:00 GMT"), "2004-02-29 10:00:00");
  EXPECT_THROW(EncodeDate(2005, 2, 29), EConvertError);
  EXPECT_THROW(EncodeTime(24, 0, 0, 0), EConvertError);
  EXPECT_EQ(Format(EncodeDate(1970, 1, 1) + EncodeTime(12, 0, 0, 0)), "1970-01-01 12:00:00");
}

TEST(DateTimeZones, NamesAndNumericOffsets) {
  int offset = 12345;
  EXPECT_TRUE(ZoneOffsetFromName("GMT", offset));
  EXPECT_EQ(offset, 0);
  EXPECT_TRUE(ZoneOffsetFromName("NZDT", offset));
  EXPECT_EQ(offset, 13 * 60);
  EXPECT_TRUE(ZoneOffsetFromName("BST", offset));
  EXPECT_EQ(offset, -60);
  EXPECT_TRUE(ZoneOffsetFromName("EAST", offset));
  EXPECT_EQ(offset, -600);
  EXPECT_TRUE(ZoneOffsetFromName("IDLW", offset));
  EXPECT_EQ(offset, -720);
  EXPECT_TRUE(ZoneOffsetFromName("-0130", offset));
  EXPECT_EQ(offset, -90);
  EXPECT_TRUE(ZoneOffsetFromName("+05301", offset));
  EXPECT_EQ(offset, 330);
  EXPECT_TRUE(ZoneOffsetFromName("+1x30", offset));
  EXPECT_EQ(offset, 30);
  // A short signed token is a zone without an offset: the old one stays.
  offset = 77;
  EXPECT_TRUE(ZoneOffsetFromName("+1", offset));
  EXPECT_EQ(offset, 77);
  EXPECT_FALSE(ZoneOffsetFromName("gmt", offset));
  EXPECT_FALSE(ZoneOffsetFromName("XYZ", offset));
  EXPECT_FALSE(ZoneOffsetFromName("", offset));
}

TEST(DateTimeZones, LocalOffsetFollowsTz) {
  {
    ScopedZone scoped("Asia/Tokyo");
    EXPECT_EQ(LocalZoneOffset(), 540);
    int offset = 0;
    EXPECT_TRUE(ZoneOffsetFromName("-0000", offset));
    EXPECT_EQ(offset, 540);
  }
  {
    ScopedZone scoped("UTC");
    EXPECT_EQ(LocalZoneOffset(), 0);
  }
}

TEST(DateTimeZones, UtcAndLocalRoundTripAcrossDaylightSaving) {
  ScopedZone scoped("America/New_York");
  const double summer = EncodeDate(2014, 7, 6) + EncodeTime(12, 0, 0, 500);
  EXPECT_EQ(Format(UtcToLocalDateTime(summer)), "2014-07-06 08:00:00");
  EXPECT_NEAR(LocalToUtcDateTime(UtcToLocalDateTime(summer)), summer, 1e-9);
  const double winter = EncodeDate(2014, 1, 6) + EncodeTime(12, 0, 0, 0);
  EXPECT_EQ(Format(LocalToUtcDateTime(winter)), "2014-01-06 17:00:00");
}

TEST(DateTimeMonths, EveryRowOfTheTable) {
  EXPECT_EQ(MonthFromName("Jan"), 1);
  EXPECT_EQ(MonthFromName("DEC"), 12);
  EXPECT_EQ(MonthFromName("dec"), 12);
  EXPECT_EQ(MonthFromName("d\xE9" "c"), 12);   // French, Windows-1252
  EXPECT_EQ(MonthFromName("D\xC9" "C"), 12);   // the same upper-cased
  EXPECT_EQ(MonthFromName("ao\xFB"), 8);
  EXPECT_EQ(MonthFromName("Dez"), 12);
  EXPECT_EQ(MonthFromName("Okt"), 10);
  EXPECT_EQ(MonthFromName("M\xE4r"), 3);       // German, Windows-1252
  EXPECT_EQ(MonthFromName("M\xC4R"), 3);
  EXPECT_EQ(MonthFromName("\xDAno"), 2);       // Czech, Windows-1250
  EXPECT_EQ(MonthFromName("\xFAno"), 2);
  EXPECT_EQ(MonthFromName("\xD8\xEDj"), 10);
  EXPECT_EQ(MonthFromName("Mai"), 5);
  EXPECT_EQ(MonthFromName("Janu"), 0);
  EXPECT_EQ(MonthFromName(""), 0);
  EXPECT_EQ(MonthFromName("12:"), 0);
}

TEST(DateTimeMonths, CLocaleGivesTheEnglishNames) {
  const char* const old = std::getenv("LC_ALL");
  const std::string saved = old ? old : "";
  setenv("LC_ALL", "C", 1);
  LoadSystemMonthNames();
  if (old) {
    setenv("LC_ALL", saved.c_str(), 1);
  } else {
    unsetenv("LC_ALL");
  }
  const TMonthNames english = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  EXPECT_EQ(SystemMonthNames, english);
  EXPECT_EQ(MonthNameTable[0], english);
}

TEST(DateTimeTimeOfDay, HoursMinutesSecondsAndMarkers) {
  EXPECT_EQ(TimeOfDay("08:49:37"), "08:49:37");
  EXPECT_EQ(TimeOfDay("8:05"), "08:05:00");
  EXPECT_EQ(TimeOfDay("08:49:37GMT"), "08:49:37");
  EXPECT_EQ(TimeOfDay("08:49:37.250"), "08:49:37");
  EXPECT_EQ(TimeOfDay("25:00:00"), "none");
  EXPECT_EQ(TimeOfDay("12:60"), "none");
  EXPECT_EQ(TimeOfDay("1234"), "none");
  EXPECT_EQ(TimeOfDay(""), "none");
  EXPECT_EQ(TimeOfDay(":"), "none");
  // A 12-hour clock: 12 AM is midnight and 12 PM noon.
  EXPECT_EQ(TimeOfDay("12:05AM"), "00:05:00");
  EXPECT_EQ(TimeOfDay("12:05 am"), "00:05:00");
  EXPECT_EQ(TimeOfDay("12:05PM"), "12:05:00");
  EXPECT_EQ(TimeOfDay("1:30 pm"), "13:30:00");
  EXPECT_EQ(TimeOfDay("11:59:59PM"), "23:59:59");
  EXPECT_EQ(TimeOfDay("13:00 PM"), "none");
  EXPECT_EQ(TimeOfDay("0:30 AM"), "none");
}

}  // namespace

// The listing parser's rules one by one: the year window of dates without a
// year, AM and PM, dropped "." and "..", the mask language's parameters,
// impossible dates, and the list operations (Clear, CopyFrom, EntryAt).
#include "protocols/ftplist.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/systime.h"
#include "util/datetime.h"

namespace {

const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Parses Lines as one listing.
void Parse(TFTPList& list, const TStringList& lines) {
  list.Clear();
  list.RawLines = lines;
  list.ParseListing();
}

// An ls line for a file dated Date (local), shown with the time and no year.
std::string YearlessLine(double date, const std::string& name) {
  int year, month, day;
  DecodeDate(date, year, month, day);
  char line[128];
  std::snprintf(line, sizeof(line), "-rw-r--r--   1 owner    group        1234 %s %2d 12:34 %s", kMonths[month - 1],
                day, name.c_str());
  return line;
}

int YearOf(double date) {
  int year, month, day;
  DecodeDate(date, year, month, day);
  return year;
}

TEST(FtpListYears, YearlessDatesLieInThePastYear) {
  const double now = NowLocal();
  TFTPList list;
  // Tomorrow is within the tolerance for servers whose clock runs ahead.
  const double tomorrow = now + 1;
  // Ten days ahead cannot be this year's: it is last year's date.
  const double later = now + 10;
  const double lastMonth = now - 30;
  Parse(list, {YearlessLine(tomorrow, "tomorrow"), YearlessLine(later, "later"), YearlessLine(lastMonth, "past")});
  ASSERT_EQ(list.Count(), 3);
  const int thisYear = YearOf(now);
  // A date that falls into next January reads as this January.
  EXPECT_EQ(YearOf(list.EntryAt(0)->ModifiedTime), thisYear);
  EXPECT_EQ(YearOf(list.EntryAt(1)->ModifiedTime), YearOf(later) == thisYear ? thisYear - 1 : thisYear);
  EXPECT_EQ(YearOf(list.EntryAt(2)->ModifiedTime), YearOf(lastMonth));
}

TEST(FtpListYears, SpecExampleWithTimeAndWithYear) {
  TFTPList list;
  Parse(list, {"drwxr-xr-x   2 owner    group        4096 Jan 10 12:34 src",
               "drwxr-xr-x   2 owner    group        4096 Jan 10  2005 src2"});
  ASSERT_EQ(list.Count(), 2);
  const TFTPListRec& withTime = *list.EntryAt(0);
  EXPECT_EQ(withTime.MatchedMask, list.LineMasks[2]);
  EXPECT_TRUE(withTime.IsDir);
  EXPECT_FALSE(withTime.IsReadable);
  EXPECT_EQ(withTime.Size, 4096);
  const double now = NowLocal();
  const int thisYear = YearOf(now);
  const double thisYears = EncodeDate(thisYear, 1, 10) + EncodeTime(12, 34, 0, 0);
  const int expectedYear = thisYears > now + 2 ? thisYear - 1 : thisYear;
  EXPECT_DOUBLE_EQ(withTime.ModifiedTime, EncodeDate(expectedYear, 1, 10) + EncodeTime(12, 34, 0, 0));
  EXPECT_DOUBLE_EQ(list.EntryAt(1)->ModifiedTime, EncodeDate(2005, 1, 10));
}

TEST(FtpListTimes, TwelveOClockOnTheTwelveHourClock) {
  TFTPList list;
  Parse(list, {"01-02-06  12:05AM                 1234 midnight", "01-02-06  12:05PM                 1234 noon",
               "01-02-06  10:30PM                 1234 evening", "01-02-06  10:30am                 1234 morning"});
  ASSERT_EQ(list.Count(), 4);
  EXPECT_DOUBLE_EQ(list.EntryAt(0)->ModifiedTime, EncodeDate(2006, 1, 2) + EncodeTime(0, 5, 0, 0));
  EXPECT_DOUBLE_EQ(list.EntryAt(1)->ModifiedTime, EncodeDate(2006, 1, 2) + EncodeTime(12, 5, 0, 0));
  EXPECT_DOUBLE_EQ(list.EntryAt(2)->ModifiedTime, EncodeDate(2006, 1, 2) + EncodeTime(22, 30, 0, 0));
  EXPECT_DOUBLE_EQ(list.EntryAt(3)->ModifiedTime, EncodeDate(2006, 1, 2) + EncodeTime(10, 30, 0, 0));
}

TEST(FtpListTimes, ImpossibleDatesAndTimesAreRejectedNotThrown) {
  TFTPList list;
  const TStringList bad = {"-rw-r--r--   1 owner    group        1234 Feb 29  2005 common-year",
                           "-rw-r--r--   1 owner    group        1234 Apr 31  2005 april-31",
                           "-rw-r--r--   1 owner    group        1234 Jan 10 24:00:00 2005 hour-24",
                           "02-30-06  10:30AM                 1234 february-30",
                           "01-02-06  24:05PM                 1234 pm-24"};
  EXPECT_NO_THROW(Parse(list, bad));
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.RejectedLines, bad);
}

TEST(FtpListEntries, DotDirectoriesAreDroppedButAFileNamedDotStays) {
  TFTPList list;
  Parse(list, {"drwxr-xr-x   2 owner    group        4096 Jan 10  2005 .",
               "drwxr-xr-x   2 owner    group        4096 Jan 10  2005 ..",
               "-rw-r--r--   1 owner    group           1 Jan 10  2005 ."});
  ASSERT_EQ(list.Count(), 1);
  EXPECT_EQ(list.EntryAt(0)->Name, ".");
  EXPECT_FALSE(list.EntryAt(0)->IsDir);
  EXPECT_TRUE(list.RejectedLines.empty());
}

TEST(FtpListEntries, LinksAreDirectoriesAndLoseTheirTarget) {
  TFTPList list;
  Parse(list, {"lrwxrwxrwx   1 owner    group          11 Jan 10  2005 file -> target",
               "-rw-r--r--   1 owner    group          11 Jan 10  2005 arrow -> in a name"});
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list.EntryAt(0)->Name, "file");
  EXPECT_TRUE(list.EntryAt(0)->IsDir);
  EXPECT_TRUE(list.EntryAt(0)->IsReadable);
  EXPECT_EQ(list.EntryAt(1)->Name, "arrow");
  EXPECT_FALSE(list.EntryAt(1)->IsDir);
}

TEST(FtpListMasks, MatchResultsAndCaptureFields) {
  TFTPList list;
  EXPECT_EQ(list.LineMasks.size(), 36u);
  EXPECT_EQ(list.MatchMask("", "", list.LineMasks[0]), 0);
  EXPECT_EQ(list.MatchMask("abc", "", ""), 0);
  // A line shorter than its mask does not match.
  EXPECT_EQ(list.MatchMask("01-02-06  10:30PM", "", list.LineMasks[7]), 0);
  EXPECT_EQ(list.MatchMask("01-02-06  10:30PM    1234 name", "", list.LineMasks[7]), 1);
  EXPECT_EQ(list.MonthText, "01");
  EXPECT_EQ(list.HourSuffixText, "P");
  EXPECT_EQ(list.SizeText, "1234");
  EXPECT_EQ(list.NameText, "name");
  // "x" needs a blank on the second line of a two-line mask.
  const std::string second = std::string(48, ' ') + "     1234 01/10/2005 12:34";
  EXPECT_EQ(list.MatchMask("long_name", second, list.LineMasks[27]), 2);
  EXPECT_EQ(list.MatchMask("long_name", "x" + second.substr(1), list.LineMasks[27]), 0);
  // "." needs a blank or a dot and closes the name part.
  EXPECT_EQ(list.MatchMask("README  .TXT", "", "nnnnnnnn.nnn"), 1);
  EXPECT_EQ(list.NameText, "README.TXT");
  EXPECT_EQ(list.MatchMask("README  xTXT", "", "nnnnnnnn.nnn"), 0);
}

TEST(FtpListMasks, MaskParametersForBlockSizeMarkerAndMonthNames) {
  const TMonthNames saved = SystemMonthNames;
  TFTPList list;
  list.LineMasks = {"SSSS=512 n*", "d=O TTT=ENEFEBMARABRMAYJUNJULAGOSEPOCTNOVDIC DD YYYY n*"};
  Parse(list, {"0003x blocks.dat", "O_ ENE_ 15 2005 spanish"});
  SystemMonthNames = saved;
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list.EntryAt(0)->Size, 3 * 512);
  EXPECT_EQ(list.EntryAt(0)->Name, "blocks.dat");
  EXPECT_TRUE(list.EntryAt(1)->IsDir);
  EXPECT_DOUBLE_EQ(list.EntryAt(1)->ModifiedTime, EncodeDate(2005, 1, 15));
}

TEST(FtpListMasks, ShortHeadingLinesAreNotFiles) {
  TFTPList list;
  Parse(list, {"total 8", "total 12", "", "  "});
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.RejectedLines.size(), 4u);
}

TEST(FtpListEplf, FactsAndNames) {
  TFTPList list;
  EXPECT_TRUE(list.ParseEplfLine("+i1,m0,/,\tpub"));
  EXPECT_FALSE(list.ParseEplfLine("+i1,m0,/"));
  EXPECT_FALSE(list.ParseEplfLine("i1,m0,/,\tnot-eplf"));
  EXPECT_FALSE(list.ParseEplfLine(""));
  // Pieces after an empty one are not read.
  EXPECT_FALSE(list.ParseEplfLine("+i1,,r,\tunreached"));
  EXPECT_TRUE(list.ParseEplfLine("+i2,r,s12x,m99999999999999999999,\tbad numbers"));
  // Blanks around facts; the name keeps its commas and ends the line.
  EXPECT_TRUE(list.ParseEplfLine("+i3\tx, s42 ,  \tname, with, commas "));
  ASSERT_EQ(list.Count(), 3);
  EXPECT_EQ(list.EntryAt(2)->Size, 42);
  EXPECT_EQ(list.EntryAt(2)->Name, "name, with, commas ");
  EXPECT_EQ(list.EntryAt(0)->MatchedMask, "EPLF");
  EXPECT_DOUBLE_EQ(list.EntryAt(0)->ModifiedTime, 25569);
  EXPECT_TRUE(list.EntryAt(0)->IsDir);
  EXPECT_EQ(list.EntryAt(1)->Size, 0);
  EXPECT_DOUBLE_EQ(list.EntryAt(1)->ModifiedTime, 25569);
  EXPECT_TRUE(list.EntryAt(1)->Permissions.empty());
}

TEST(FtpListOperations, ClearCopyFromAndEntryAt) {
  TFTPList list;
  list.LineMasks.push_back("n*");
  Parse(list, {"-rw-r--r--   1 owner    group        1234 Jan 10  2005 kept", "total 1"});
  ASSERT_EQ(list.Count(), 2);
  EXPECT_EQ(list.EntryAt(-1), nullptr);
  EXPECT_EQ(list.EntryAt(2), nullptr);

  TFTPList copy;
  copy.CopyFrom(list);
  ASSERT_EQ(copy.Count(), 2);
  EXPECT_NE(copy.EntryAt(0), list.EntryAt(0));
  EXPECT_EQ(copy.EntryAt(0)->Permissions, "-rw-r--r--");
  EXPECT_EQ(copy.EntryAt(0)->SourceLine, list.EntryAt(0)->SourceLine);
  EXPECT_EQ(copy.EntryAt(0)->MatchedMask, list.LineMasks[2]);
  EXPECT_EQ(copy.EntryAt(0)->Size, 1234);
  EXPECT_EQ(copy.RawLines, list.RawLines);
  EXPECT_EQ(copy.LineMasks.size(), 37u);
  copy.CopyFrom(copy);
  EXPECT_EQ(copy.Count(), 2);

  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_TRUE(list.RawLines.empty());
  EXPECT_TRUE(list.RejectedLines.empty());
  EXPECT_EQ(list.LineMasks.size(), 37u);
}

TEST(FtpListBuild, ValidateAndBuildOnTheirOwn) {
  TFTPList list;
  ASSERT_EQ(list.MatchMask("-rw-r--r--   1 o g 99 Feb 30  2005 x", "", list.LineMasks[2]), 1);
  EXPECT_TRUE(list.ValidateFields());
  TFTPListRec entry;
  EXPECT_FALSE(list.BuildEntry(entry));
  ASSERT_EQ(list.MatchMask("-rw-r--r--   1 o g 99 Feb 28  2005 x", "", list.LineMasks[2]), 1);
  EXPECT_TRUE(list.ValidateFields());
  EXPECT_TRUE(list.BuildEntry(entry));
  EXPECT_EQ(entry.Size, 99);
  // Years: four digits strictly inside 1900..2100, three from 100 to 110.
  list.ResetFields();
  list.NameText = "n";
  list.YearText = "2100";
  EXPECT_FALSE(list.ValidateFields());
  list.YearText = "111";
  EXPECT_FALSE(list.ValidateFields());
  list.YearText = "110";
  EXPECT_TRUE(list.ValidateFields());
  list.PermText = "-rw-r--r-T";  // sticky letters only in the last place
  EXPECT_TRUE(list.ValidateFields());
  list.PermText = "-rwTr--r--";
  EXPECT_FALSE(list.ValidateFields());
}

}  // namespace

// The console log line and the local file helpers the jobs share: directory
// test, sizes (beyond 4 GiB), size checks, file dates (packed-date limits,
// even seconds, daylight saving) and wildcard listings.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <regex>

#include "app/tarvoCommon.h"
#include "platform/filesys.h"
#include "platform/localfile.h"
#include "platform/systime.h"
#include "support/capturestdout.h"
#include "support/testsupport.h"

using namespace testsupport;

namespace {

// Sets TZ for the test process and puts the previous value back afterwards.
class TimeZone {
 public:
  explicit TimeZone(const char* Name) {
    const char* Old = std::getenv("TZ");
    HadOld_ = Old != nullptr;
    if (HadOld_) Old_ = Old;
    setenv("TZ", Name, 1);
    tzset();
  }
  ~TimeZone() {
    if (HadOld_)
      setenv("TZ", Old_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

 private:
  bool HadOld_ = false;
  std::string Old_;
};

double LocalDateTime(int Year, int Month, int Day, int Hour, int Minute, int Second, int MilliSecond = 0) {
  double Date = 0, Time = 0;
  EXPECT_TRUE(TryEncodeDate(Year, Month, Day, Date));
  EXPECT_TRUE(TryEncodeTime(Hour, Minute, Second, MilliSecond, Time));
  return Date + Time;
}

std::int64_t UtcSeconds(int Year, int Month, int Day, int Hour, int Minute, int Second) {
  std::tm Utc{};
  Utc.tm_year = Year - 1900;
  Utc.tm_mon = Month - 1;
  Utc.tm_mday = Day;
  Utc.tm_hour = Hour;
  Utc.tm_min = Minute;
  Utc.tm_sec = Second;
  return static_cast<std::int64_t>(timegm(&Utc));
}

struct stat StatOf(const std::string& Path) {
  struct stat Info {};
  EXPECT_EQ(stat(Path.c_str(), &Info), 0) << Path;
  return Info;
}

void SetTimes(const std::string& Path, std::int64_t Access, std::int64_t Modified) {
  timespec Times[2] = {};
  Times[0].tv_sec = static_cast<time_t>(Access);
  Times[1].tv_sec = static_cast<time_t>(Modified);
  ASSERT_EQ(utimensat(AT_FDCWD, Path.c_str(), Times, 0), 0);
}

std::string CapturedLog(const std::string& Text, std::int32_t Status, std::int32_t& Returned) {
  CapturedStdout Captured;
  Returned = WriteLog(Text, Status);
  return Captured.Text();
}

std::string StampOf(std::time_t Now) {
  std::tm Local{};
  localtime_r(&Now, &Local);
  char Text[64];
  if (Local.tm_hour == 0 && Local.tm_min == 0 && Local.tm_sec == 0)
    std::strftime(Text, sizeof(Text), "%Y/%m/%d", &Local);
  else
    std::snprintf(Text, sizeof(Text), "%04d/%02d/%02d %d:%02d:%02d", Local.tm_year + 1900, Local.tm_mon + 1,
                  Local.tm_mday, Local.tm_hour, Local.tm_min, Local.tm_sec);
  return Text;
}

std::vector<std::string> Listed(const std::string& Path) {
  std::vector<std::string> Names{"left over"};
  const int Count = ListLocalFiles(Path, Names);
  EXPECT_EQ(Count, static_cast<int>(Names.size()));
  return Names;
}

}  // namespace

TEST(WriteLog, ErrorLinesCarryTheMarkerAndReturnTheirStatus) {
  std::int32_t Returned = -1;
  const std::string Error = CapturedLog("Login error. 530 Login incorrect.", 2, Returned);
  EXPECT_EQ(Returned, 2);
  EXPECT_TRUE(std::regex_match(Error, std::regex(R"(\d{4}/\d{2}/\d{2}( (1?\d|2[0-3]):[0-5]\d:[0-5]\d)? ERROR: Login error\. 530 Login incorrect\.\n)")))
      << Error;

  const std::string Info = CapturedLog("Login fileserver:21", 0, Returned);
  EXPECT_EQ(Returned, 0);
  EXPECT_TRUE(std::regex_match(Info, std::regex(R"(\d{4}/\d{2}/\d{2}( (1?\d|2[0-3]):[0-5]\d:[0-5]\d)? Login fileserver:21\n)")))
      << Info;

  CapturedLog("Remote failure", 1, Returned);
  EXPECT_EQ(Returned, 1);

  const std::string Forged = CapturedLog("Getted a\r\n2006/05/01 9:05:09 OK\x1B[2J\x7F\tb", 0, Returned);
  EXPECT_EQ(Forged.substr(Forged.find(" Getted")), " Getted a\\x0D\\x0A2006/05/01 9:05:09 OK\\x1B[2J\\x7F\\x09b\n");
}

TEST(WriteLog, StampIsTheLocalTimeOfTheTimeZoneInForce) {
  for (const char* Zone : {"UTC", "Asia/Kathmandu", "America/St_Johns"}) {
    SCOPED_TRACE(Zone);
    const TimeZone Guard(Zone);
    const std::time_t Before = std::time(nullptr);
    std::int32_t Returned = -1;
    const std::string Line = CapturedLog("tick", 0, Returned);
    const std::time_t After = std::time(nullptr);
    // A loaded machine may take more than a second between the two readings.
    bool Matched = false;
    for (std::time_t Second = Before; Second <= After && !Matched; ++Second)
      Matched = Line == StampOf(Second) + " tick\n";
    EXPECT_TRUE(Matched) << Line;
  }
}

TEST(LocalFiles, IsDirectoryAcceptsEitherSeparator) {
  TempDir Dir;
  std::filesystem::create_directories(Dir / "in/box");
  WriteFile(Dir / "in/file", "x");
  std::filesystem::create_directory_symlink(Dir / "in/box", Dir / "link");
  EXPECT_TRUE(IsDirectory(Dir / "in"));
  EXPECT_TRUE(IsDirectory(Dir / "in/box/"));
  EXPECT_TRUE(IsDirectory(Dir.Path() + "\\in\\box\\"));
  EXPECT_TRUE(IsDirectory(Dir / "link"));
  EXPECT_FALSE(IsDirectory(Dir / "in/file"));
  EXPECT_FALSE(IsDirectory(Dir / "absent"));
  EXPECT_FALSE(IsDirectory(""));
}

TEST(LocalFiles, SizeCheckIsExactOrAtLeastAndAMissingFileFails) {
  TempDir Dir;
  WriteFile(Dir / "a.dat", std::string(102, 'a'));
  EXPECT_EQ(GetLocalFileSize(Dir / "a.dat"), 102);
  EXPECT_TRUE(CheckLocalFileSize(false, Dir / "a.dat", 100));
  EXPECT_FALSE(CheckLocalFileSize(true, Dir / "a.dat", 100));
  EXPECT_TRUE(CheckLocalFileSize(true, Dir / "a.dat", 102));
  EXPECT_TRUE(CheckLocalFileSize(false, Dir / "a.dat", 102));
  EXPECT_FALSE(CheckLocalFileSize(false, Dir / "a.dat", 103));

  EXPECT_EQ(GetLocalFileSize(Dir / "absent"), -1);
  for (const bool Exact : {true, false}) {
    EXPECT_FALSE(CheckLocalFileSize(Exact, Dir / "absent", -1));
    EXPECT_FALSE(CheckLocalFileSize(Exact, Dir / "absent", 0));
  }
  WriteFile(Dir / "empty", "");
  EXPECT_TRUE(CheckLocalFileSize(true, Dir.Path() + "\\empty", 0));
}

TEST(LocalFiles, SizesBeyondFourGibibytesAreKeptWhole) {
  TempDir Dir;
  const std::int64_t Size = (5LL << 30) + 7;  // the low 32 bits alone would read 1 GiB + 7
  const int Fd = open((Dir / "big.bin").c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(Fd, 0);
  ASSERT_EQ(ftruncate(Fd, Size), 0);
  close(Fd);
  EXPECT_EQ(GetLocalFileSize(Dir / "big.bin"), Size);
  EXPECT_EQ(GetLocalFileSize(Dir / "*.bin"), Size);
  EXPECT_TRUE(CheckLocalFileSize(true, Dir / "big.bin", Size));
  EXPECT_FALSE(CheckLocalFileSize(true, Dir / "big.bin", (1LL << 30) + 7));
  EXPECT_FALSE(CheckLocalFileSize(false, Dir / "big.bin", Size + 1));
}

TEST(LocalFiles, SizeOfAWildcardNameIsThatOfTheFirstMatch) {
  TempDir Dir;
  WriteFile(Dir / "b.log", std::string(2, 'b'));
  WriteFile(Dir / "a.log", std::string(1, 'a'));
  WriteFile(Dir / "Data.txt", std::string(10, 'D'));
  WriteFile(Dir / "data.txt", std::string(20, 'd'));
  EXPECT_EQ(GetLocalFileSize(Dir / "*.log"), 1);
  EXPECT_EQ(GetLocalFileSize(Dir / "?.LOG"), 1);
  EXPECT_EQ(GetLocalFileSize(Dir / "*.none"), -1);
  // A plain name means that file, even beside one differing only in case.
  EXPECT_EQ(GetLocalFileSize(Dir / "data.txt"), 20);
  EXPECT_EQ(GetLocalFileSize(Dir / "Data.txt"), 10);
  // Without an exact match the name is searched for as a pattern.
  EXPECT_EQ(GetLocalFileSize(Dir / "DATA.TXT"), 10);
}

TEST(LocalFiles, FileDateIsSetInEvenSecondsAndLeavesTheAccessTime) {
  const TimeZone Guard("Europe/Berlin");
  TempDir Dir;
  const std::string File = Dir / "f.txt";
  WriteFile(File, "content");
  SetTimes(File, 1000000000, 1000000000);

  ASSERT_TRUE(SetLocalFileDate(File, LocalDateTime(2020, 6, 15, 10, 20, 31, 750)));
  const struct stat Info = StatOf(File);
  EXPECT_EQ(Info.st_mtim.tv_sec, UtcSeconds(2020, 6, 15, 8, 20, 30));
  EXPECT_EQ(Info.st_mtim.tv_nsec, 0);
  EXPECT_EQ(Info.st_atim.tv_sec, 1000000000);
  EXPECT_EQ(ReadFile(File), "content");
}

TEST(LocalFiles, FileDatesOutside1980To2107AreRefused) {
  const TimeZone Guard("Europe/Berlin");
  TempDir Dir;
  const std::string File = Dir / "f.txt";
  WriteFile(File, "");
  SetTimes(File, 1000000000, 1000000000);
  EXPECT_FALSE(SetLocalFileDate(File, LocalDateTime(1975, 5, 1, 12, 0, 0)));
  EXPECT_FALSE(SetLocalFileDate(File, LocalDateTime(1979, 12, 31, 23, 59, 59)));
  EXPECT_FALSE(SetLocalFileDate(File, LocalDateTime(2108, 1, 1, 0, 0, 0)));
  EXPECT_FALSE(SetLocalFileDate(File, 0.0));
  EXPECT_EQ(StatOf(File).st_mtim.tv_sec, 1000000000);

  ASSERT_TRUE(SetLocalFileDate(File, LocalDateTime(1980, 1, 1, 0, 0, 0)));
  EXPECT_EQ(StatOf(File).st_mtim.tv_sec, UtcSeconds(1979, 12, 31, 23, 0, 0));
  ASSERT_TRUE(SetLocalFileDate(File, LocalDateTime(2107, 12, 31, 23, 59, 59)));
  EXPECT_EQ(StatOf(File).st_mtim.tv_sec, UtcSeconds(2107, 12, 31, 22, 59, 58));
}

TEST(LocalFiles, FileDateUsesTheOffsetInForceOnThatDate) {
  // Whatever today's offset is, a summer date is two hours ahead of UTC in
  // Berlin and a winter date one hour.
  const TimeZone Guard("Europe/Berlin");
  TempDir Dir;
  const std::string File = Dir / "f.txt";
  WriteFile(File, "");
  ASSERT_TRUE(SetLocalFileDate(File, LocalDateTime(2026, 1, 15, 12, 0, 0)));
  EXPECT_EQ(StatOf(File).st_mtim.tv_sec, UtcSeconds(2026, 1, 15, 11, 0, 0));
  ASSERT_TRUE(SetLocalFileDate(File, LocalDateTime(2026, 7, 15, 12, 0, 0)));
  EXPECT_EQ(StatOf(File).st_mtim.tv_sec, UtcSeconds(2026, 7, 15, 10, 0, 0));
  // Either side of the October change, read back in local time.
  ASSERT_TRUE(SetLocalFileDate(File, LocalDateTime(2026, 10, 25, 1, 30, 0)));
  EXPECT_EQ(StatOf(File).st_mtim.tv_sec, UtcSeconds(2026, 10, 24, 23, 30, 0));
  EXPECT_DOUBLE_EQ(UnixToLocalDateTime(StatOf(File).st_mtim.tv_sec), LocalDateTime(2026, 10, 25, 1, 30, 0));
  ASSERT_TRUE(SetLocalFileDate(File, LocalDateTime(2026, 10, 25, 3, 30, 0)));
  EXPECT_EQ(StatOf(File).st_mtim.tv_sec, UtcSeconds(2026, 10, 25, 2, 30, 0));
}

TEST(LocalFiles, FileDateNeedsAnExistingWritableFile) {
  TempDir Dir;
  const double When = LocalDateTime(2020, 1, 1, 12, 0, 0);
  EXPECT_FALSE(SetLocalFileDate(Dir / "absent.txt", When));
  EXPECT_FALSE(FileExists(Dir / "absent.txt"));
  std::filesystem::create_directory(Dir / "sub");
  EXPECT_FALSE(SetLocalFileDate(Dir / "sub", When));
  ASSERT_EQ(mkfifo((Dir / "pipe").c_str(), 0644), 0);
  EXPECT_FALSE(SetLocalFileDate(Dir / "pipe", When));  // and does not wait for a reader
  WriteFile(Dir / "f.txt", "");
  EXPECT_TRUE(SetLocalFileDate(Dir.Path() + "\\f.txt", When));
}

TEST(LocalFiles, ListingHoldsOnlyPlainFilesSortedByByteValue) {
  TempDir Dir;
  for (const char* Name : {"b.txt", "B.TXT", "a.txt", "_x.txt", ".hidden.txt", "noext", "a.txt.bak", "ab.csv"})
    WriteFile(Dir / Name, "x");
  std::filesystem::create_directory(Dir / "sub.txt");
  std::filesystem::create_symlink(Dir / "a.txt", Dir / "link.txt");
  std::filesystem::create_symlink(Dir / "gone", Dir / "dangling.txt");
  ASSERT_EQ(mkfifo((Dir / "fifo.txt").c_str(), 0644), 0);

  EXPECT_EQ(Listed(Dir / "*.*"), (std::vector<std::string>{".hidden.txt", "B.TXT", "_x.txt", "a.txt", "a.txt.bak",
                                                            "ab.csv", "b.txt", "link.txt", "noext"}));
  EXPECT_EQ(Listed(Dir / "*.txt"),
            (std::vector<std::string>{".hidden.txt", "B.TXT", "_x.txt", "a.txt", "b.txt", "link.txt"}));
  EXPECT_EQ(Listed(Dir / "?.TxT"), (std::vector<std::string>{"B.TXT", "a.txt", "b.txt"}));
  EXPECT_EQ(Listed(Dir / "a*"), (std::vector<std::string>{"a.txt", "a.txt.bak", "ab.csv"}));
  EXPECT_EQ(Listed(Dir / "A.TXT"), (std::vector<std::string>{"a.txt"}));
  EXPECT_EQ(Listed(Dir / "noext.*"), (std::vector<std::string>{"noext"}));
  EXPECT_EQ(Listed(Dir / "*."), (std::vector<std::string>{"noext"}));
  EXPECT_EQ(Listed(Dir.Path() + "\\*.csv"), (std::vector<std::string>{"ab.csv"}));
}

TEST(LocalFiles, ListingTwoFilesBesideASubdirectory) {
  TempDir Dir;
  WriteFile(Dir / "one", "1");
  WriteFile(Dir / "two.dat", "2");
  std::filesystem::create_directory(Dir / "three");
  EXPECT_EQ(Listed(Dir / "*.*").size(), 2u);
}

TEST(LocalFiles, ListingFindsNothingWhereThereIsNothing) {
  TempDir Dir;
  WriteFile(Dir / "a.txt", "x");
  EXPECT_TRUE(Listed(Dir / "*.csv").empty());
  EXPECT_TRUE(Listed(Dir / "absent/*.*").empty());
  EXPECT_TRUE(Listed(Dir.Path() + "/").empty());
  EXPECT_TRUE(Listed("").empty());
}

TEST(LocalFiles, RelativePathsStartInTheWorkingDirectory) {
  TempDir Dir;
  WriteFile(Dir / "a.txt", "x");
  std::filesystem::create_directory(Dir / "out");
  WriteFile(Dir / "out/b.txt", "xy");
  const std::filesystem::path Saved = std::filesystem::current_path();
  std::filesystem::current_path(Dir.Path());
  const auto Bare = Listed("*.*");
  const auto Dotted = Listed(".\\*.*");
  const auto Nested = Listed("./out/*.txt");
  const bool OutIsDirectory = IsDirectory(".\\out\\");
  const std::int64_t Size = GetLocalFileSize("out\\b.txt");
  std::filesystem::current_path(Saved);
  EXPECT_EQ(Bare, std::vector<std::string>{"a.txt"});
  EXPECT_EQ(Dotted, std::vector<std::string>{"a.txt"});
  EXPECT_EQ(Nested, std::vector<std::string>{"b.txt"});
  EXPECT_TRUE(OutIsDirectory);
  EXPECT_EQ(Size, 2);
}

TEST(SearchPattern, StarAndQuestionMarkFollowTheDirectorySearchRules) {
  EXPECT_TRUE(MatchesSearchPattern("report.csv", "*.*"));
  EXPECT_TRUE(MatchesSearchPattern("README", "*.*"));
  EXPECT_TRUE(MatchesSearchPattern(".profile", "*"));
  EXPECT_TRUE(MatchesSearchPattern("Report.CSV", "report.csv"));
  EXPECT_TRUE(MatchesSearchPattern("a.tar.gz", "*.gz"));
  EXPECT_TRUE(MatchesSearchPattern("a.tar.gz", "a.*"));
  EXPECT_TRUE(MatchesSearchPattern("data_01.txt", "data_??.txt"));
  EXPECT_FALSE(MatchesSearchPattern("data_1.txt", "data_??.txt"));
  EXPECT_FALSE(MatchesSearchPattern("a.csv.bak", "*.csv"));
  EXPECT_FALSE(MatchesSearchPattern("a.txt", "*."));
  EXPECT_FALSE(MatchesSearchPattern("\xC3\xA9.txt", "\xC3\x89.txt"));  // only ASCII letters fold
  EXPECT_FALSE(MatchesSearchPattern("", "?"));
  // Many stars against a long name must not take exponential time.
  EXPECT_FALSE(MatchesSearchPattern(std::string(5000, 'a'), "*a*a*a*a*a*a*a*a*a*a*b"));
}

// Whatever is at "a.txt.tmp" stays as it is, and a link at the final name
// is replaced, not written through.
class LocalFileWriterBeside : public ::testing::TestWithParam<const char*> {};

TEST_P(LocalFileWriterBeside, NeverWritesThroughAnEntryItDidNotCreate) {
  TempDir Dir, Outside;
  WriteFile(Outside / "other", "keep");
  const std::string Kind = GetParam(), Temp = Dir / "a.txt.tmp";
  if (Kind == "link") symlink((Outside / "other").c_str(), Temp.c_str());
  if (Kind == "directory") mkdir(Temp.c_str(), 0700);
  if (Kind == "file") WriteFile(Temp, "stale");
  symlink((Outside / "other").c_str(), (Dir / "a.txt").c_str());
  std::string Reason;
  ASSERT_TRUE(WriteLocalFile(Dir / "a.txt", "new", Reason)) << Reason;
  EXPECT_EQ(ReadFile(Dir / "a.txt") + ReadFile(Outside / "other"), "newkeep");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Dir.Path()), {}), Kind == "nothing" ? 1 : 2);
}

INSTANTIATE_TEST_SUITE_P(Entries, LocalFileWriterBeside, ::testing::Values("nothing", "link", "directory", "file"));

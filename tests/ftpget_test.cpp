// The FTP GET job end to end: build/tarvo run on job files against
// pyftpdlib and vsftpd on loopback, and against the scripted server for
// what real servers will not do on demand. Each test compares the whole log
// (stamps stripped), the exit code and the files on both sides.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <regex>
#include <thread>

#include "jobs/tarvoFtpGet.h"
#include "support/ftpjobs_support.h"
#include "support/testsupport.h"
#include "util/textutil.h"

using namespace testsupport;
using namespace ftpjobs;
namespace fs = std::filesystem;

namespace {

// 2021-03-04 10:20:30 UTC: old enough that servers list the year, not the
// time, so the listed date is midnight of that day.
constexpr long long ServerTime = 1614853230;
constexpr long long UtcMidnight = 1614816000;    // 2021-03-04 00:00:00 UTC
constexpr long long TokyoMidnight = 1614783600;  // 2021-03-04 00:00:00 +09:00

const char* const ListedDate = "(2021/03/04)";

TJobKeys GetJob(int Port, const std::string& RemotePath, const std::string& LocalPath) {
  return {{"Mode", "FTPGET"},
          {"Target", "127.0.0.1"},
          {"TargetPort", std::to_string(Port)},
          {"Timeout", "10000"},
          {"RemotePath", RemotePath},
          {"LocalPath", LocalPath}};
}

// The log lines of one fetched file.
std::vector<std::string> Fetched(const std::string& Listed, const std::string& Final, bool Touched = true) {
  std::vector<std::string> Lines = {Listed, "Getted " + Final + ".tmp"};
  if (Touched) Lines.push_back("date changed " + Final + ".tmp");
  Lines.push_back("renamed " + Final);
  return Lines;
}

std::string Listing(const std::string& Name, std::size_t Size, const std::string& Date = "Mar 04  2021") {
  return "-rw-r--r--   1 ftp      ftp      " + std::to_string(Size) + " " + Date + " " + Name;
}

// A server tree with /pub holding three text files, a log file and a
// subdirectory, all dated ServerTime.
void MakePubTree(const TempDir& Root) {
  fs::create_directories(Root / "pub/sub");
  WriteFile(Root / "pub/a.txt", "alpha\n");
  WriteFile(Root / "pub/B.TXT", "bravo bravo\n");
  WriteFile(Root / "pub/zeta.txt", std::string(70000, 'z'));
  WriteFile(Root / "pub/c.log", "not wanted\n");
  for (const char* Name : {"pub/a.txt", "pub/B.TXT", "pub/zeta.txt", "pub/c.log", "pub/sub"})
    SetModificationTime(Root / Name, ServerTime);
}

std::vector<std::string> PubFetchLog(int Port, const std::string& In, bool Touched = true) {
  const std::string Host = "127.0.0.1//pub/";
  return Join({{"===== Section: get Mode: FTP GET", "Login 127.0.0.1:" + std::to_string(Port)},
               Fetched(Host + "B.TXT 12bytes " + ListedDate, In + "B.TXT", Touched),
               Fetched(Host + "a.txt 6bytes " + ListedDate, In + "a.txt", Touched),
               {"Info : Skip not match file name. c.log", "Info : Skip Directory. sub"},
               Fetched(Host + "zeta.txt 70000bytes " + ListedDate, In + "zeta.txt", Touched),
               {"===== FTP GET END", "ExitCode=0"}});
}

}  // namespace

TEST(FtpGetJobPeers, PyftpdlibFetchesMatchingFilesWithTheirDateInTheLocalZone) {
  TempDir Root, Work;
  MakePubTree(Root);
  PyFtpServer Server;
  ASSERT_TRUE(Server.Start(Root.Path()));
  WriteJobFile(Work / "job.ini", {{"get", GetJob(Server.Port(), "/pub/*.TXT", "in")}});
  fs::create_directory(Work / "in");

  const TJobRun Run = RunJobFile("job.ini", Work.Path(), {"TZ=Asia/Tokyo"});
  EXPECT_EQ(Run.Lines, PubFetchLog(Server.Port(), Work / "in/")) << Run.ErrorText;
  EXPECT_EQ(Run.ExitCode, 0);
  EXPECT_EQ(ReadFile(Work / "in/a.txt"), "alpha\n");
  EXPECT_EQ(ReadFile(Work / "in/B.TXT"), "bravo bravo\n");
  EXPECT_TRUE(ReadFile(Work / "in/zeta.txt") == std::string(70000, 'z'));
  EXPECT_FALSE(FileExists(Work / "in/c.log"));
  EXPECT_FALSE(FileExists(Work / "in/a.txt.tmp"));
  // The listed date (midnight, no zone) is taken as local time.
  EXPECT_EQ(ModificationTime(Work / "in/a.txt"), TokyoMidnight);
  EXPECT_EQ(ModificationTime(Work / "in/zeta.txt"), TokyoMidnight);
  EXPECT_TRUE(FileExists(Root / "pub/a.txt"));
}

TEST(FtpGetJobPeers, PyftpdlibActiveModeWithLoginAndBackslashLocalPath) {
  TempDir Root, Work;
  MakePubTree(Root);
  PyFtpServer Server;
  ASSERT_TRUE(Server.Start(Root.Path(), "alice", "secret"));
  fs::create_directory(Work / "in");
  WriteJobFile(Work / "job.ini", {{"get", With(GetJob(Server.Port(), "/pub/*.txt", ".\\in"),
                                               {{"UserName", "alice"},
                                                {"Password", "secret"},
                                                {"FtpPassiveMode", "False"}})}});

  const TJobRun Run = RunJobFile("job.ini", Work.Path());
  EXPECT_EQ(Run.Lines, PubFetchLog(Server.Port(), Work / "in/")) << Run.ErrorText;
  EXPECT_EQ(Run.ExitCode, 0);
  EXPECT_EQ(ModificationTime(Work / "in/B.TXT"), UtcMidnight);
  EXPECT_TRUE(ReadFile(Work / "in/zeta.txt") == std::string(70000, 'z'));
}

TEST(FtpGetJobPeers, VsftpdDeleteModeRemovesServerCopiesAndEmptyLocalPathIsTheWorkDir) {
  TempDir Root, Work;
  MakePubTree(Root);
  fs::permissions(Root / "pub", fs::perms::all);
  VsFtpServer Server;
  ASSERT_TRUE(Server.Start(Root.Path()));
  // vsftpd run by root does not change its root directory: paths are
  // relative to the directory it starts sessions in.
  WriteJobFile(Work / "job.ini", {{"get", With(GetJob(Server.Port(), "pub/*.txt", ""),
                                               {{"DeleteMode", "true"}, {"TouchDateMode", "false"}})}});

  const TJobRun Run = RunJobFile("job.ini", Work.Path());
  const std::string Host = "127.0.0.1/pub/", In = Work.Path() + "/";
  const auto Deleted = [&](const std::string& Listed, const std::string& Name) {
    return std::vector<std::string>{Listed, "Getted " + In + Name + ".tmp", "Deleted " + Name, "renamed " + In + Name};
  };
  EXPECT_EQ(Run.Lines, Join({{"===== Section: get Mode: FTP GET", "Login 127.0.0.1:" + std::to_string(Server.Port())},
                             Deleted(Host + "B.TXT 12bytes " + ListedDate, "B.TXT"),
                             Deleted(Host + "a.txt 6bytes " + ListedDate, "a.txt"),
                             {"Info : Skip not match file name. c.log", "Info : Skip Directory. sub"},
                             Deleted(Host + "zeta.txt 70000bytes " + ListedDate, "zeta.txt"),
                             {"===== FTP GET END", "ExitCode=0"}}))
      << Run.ErrorText;
  EXPECT_EQ(Run.ExitCode, 0);
  EXPECT_FALSE(FileExists(Root / "pub/a.txt"));
  EXPECT_FALSE(FileExists(Root / "pub/zeta.txt"));
  EXPECT_TRUE(FileExists(Root / "pub/c.log"));
  EXPECT_EQ(ReadFile(Work / "a.txt"), "alpha\n");
  // Without TouchDateMode the file keeps the time it was written.
  EXPECT_GT(ModificationTime(Work / "a.txt"), ServerTime);
}

TEST(FtpGetJobPeers, VsftpdTextModeAndAPathThatOnlyNamesADirectory) {
  TempDir Root, Work;
  MakePubTree(Root);
  VsFtpServer Server;
  ASSERT_TRUE(Server.Start(Root.Path()));
  fs::create_directory(Work / "in");
  // "/pub/" leaves an empty mask: nothing matches, and that is no failure.
  WriteJobFile(Work / "job.ini", {{"get", GetJob(Server.Port(), "pub/", "in/")},
                                  {"text", With(GetJob(Server.Port(), "pub/a.*", "in/"),
                                                {{"FtpBinaryMode", "False"}})}});

  const TJobRun Run = RunJobFile("job.ini", Work.Path());
  const std::string Port = std::to_string(Server.Port());
  EXPECT_EQ(Run.Lines, Join({{"===== Section: get Mode: FTP GET", "Login 127.0.0.1:" + Port,
                              "Info : Skip not match file name. B.TXT", "Info : Skip not match file name. a.txt",
                              "Info : Skip not match file name. c.log", "Info : Skip Directory. sub",
                              "Info : Skip not match file name. zeta.txt", "===== FTP GET END",
                              "===== Section: text Mode: FTP GET", "Login 127.0.0.1:" + Port},
                             {"Info : Skip not match file name. B.TXT"},
                             Fetched("127.0.0.1/pub/a.txt 6bytes " + std::string(ListedDate), Work / "in/a.txt"),
                             {"Info : Skip not match file name. c.log", "Info : Skip Directory. sub",
                              "Info : Skip not match file name. zeta.txt", "===== FTP GET END", "ExitCode=0"}}))
      << Run.ErrorText;
  EXPECT_EQ(ReadFile(Work / "in/a.txt"), "alpha\n");
}

namespace {

// A script for the scripted server.
struct TScript {
  std::vector<std::pair<std::string, std::string>> Files;
  std::vector<std::string> Listing;  // empty: one line per file
  std::vector<std::pair<std::string, std::string>> Sent;
  std::vector<std::string> Rules;
  int Refuse = 0;  // connections closed before the greeting

  std::string Json() const {
    std::string Text = "{\"refuse\": " + std::to_string(Refuse) + ", \"files\": {";
    for (std::size_t I = 0; I < Files.size(); ++I)
      Text += (I ? ", " : "") + JsonString(Files[I].first) + ": " + JsonString(Files[I].second);
    Text += "}, \"sent\": {";
    for (std::size_t I = 0; I < Sent.size(); ++I)
      Text += (I ? ", " : "") + JsonString(Sent[I].first) + ": " + JsonString(Sent[I].second);
    Text += "}, \"rules\": [";
    for (std::size_t I = 0; I < Rules.size(); ++I) Text += (I ? ", " : "") + Rules[I];
    Text += "]";
    if (!Listing.empty()) {
      Text += ", \"listing\": [";
      for (std::size_t I = 0; I < Listing.size(); ++I) Text += (I ? ", " : "") + JsonString(Listing[I]);
      Text += "]";
    }
    return Text + "}";
  }
};

struct TScriptedRun {
  TJobRun Run;
  std::vector<std::string> Transcript;
};

// Runs one FTP GET job named "get" against the scripted server, with the
// local directory Work/in created beforehand.
TScriptedRun RunScripted(const TScript& Script, const TempDir& Work, const TJobKeys& More = {},
                         const std::string& RemotePath = "/*.*") {
  ScriptedFtpServer Server;
  TScriptedRun Result;
  if (!Server.Start(Script.Json())) return Result;
  fs::create_directories(Work / "in");
  WriteJobFile(Work / "job.ini", {{"get", With(GetJob(Server.Port(), RemotePath, "in"), More)}});
  Result.Run = RunJobFile("job.ini", Work.Path());
  Result.Transcript = Server.Transcript();
  // The port changes from run to run; the tests compare "Login " lines
  // without it.
  for (auto& Line : Result.Run.Lines)
    if (Line == "Login 127.0.0.1:" + std::to_string(Server.Port())) Line = "Login 127.0.0.1:PORT";
  return Result;
}

const std::vector<std::string> Head = {"===== Section: get Mode: FTP GET", "Login 127.0.0.1:PORT"};
const std::vector<std::string> Tail0 = {"===== FTP GET END", "ExitCode=0"};
const std::vector<std::string> Tail1 = {"===== FTP GET END", "ExitCode=1"};
const std::vector<std::string> Tail2 = {"===== FTP GET END", "ExitCode=2"};

std::string Listed(const std::string& Name, std::size_t Size) {
  return "127.0.0.1//" + Name + " " + std::to_string(Size) + "bytes " + ListedDate;
}

}  // namespace

TEST(FtpGetJobScripted, SizeCheckIsExactInBinaryModeAndAtLeastInTextMode) {
  TScript Script;
  Script.Files = {{"report.txt", std::string(100, 'r')}};
  Script.Sent = {{"report.txt", std::string(102, 'r')}};
  {
    TempDir Work;
    const auto Binary = RunScripted(Script, Work);
    EXPECT_EQ(Binary.Run.Lines,
              Join({Head, {Listed("report.txt", 100), "ERROR: different file size."}, Tail2}));
    EXPECT_EQ(Binary.Run.ExitCode, 2);
    EXPECT_FALSE(FileExists(Work / "in/report.txt"));
    EXPECT_FALSE(FileExists(Work / "in/report.txt.tmp"));
  }
  TempDir Work;
  const auto Text = RunScripted(Script, Work, {{"FtpBinaryMode", "False"}});
  EXPECT_EQ(Text.Run.Lines, Join({Head, Fetched(Listed("report.txt", 100), Work / "in/report.txt"), Tail0}));
  EXPECT_EQ(ReadFile(Work / "in/report.txt"), std::string(102, 'r'));
  EXPECT_EQ(Contains(Text.Transcript, "TYPE A"), "yes");
}

TEST(FtpGetJobScripted, AnExistingFileIsReplacedOnlyByAVerifiedCopy) {
  TempDir Work;
  fs::create_directories(Work / "in");
  WriteFile(Work / "in/short.dat", "old short");
  WriteFile(Work / "in/good.dat", "old good");
  TScript Script;
  Script.Files = {{"short.dat", "0123456789"}, {"good.dat", "fresh data"}};
  Script.Sent = {{"short.dat", "01234"}};

  const auto Result = RunScripted(Script, Work);
  EXPECT_EQ(Result.Run.Lines, Join({Head, {Listed("short.dat", 10), "ERROR: different file size."},
                                    Fetched(Listed("good.dat", 10), Work / "in/good.dat"), Tail2}));
  EXPECT_EQ(ReadFile(Work / "in/short.dat"), "old short");
  EXPECT_EQ(ReadFile(Work / "in/good.dat"), "fresh data");
  EXPECT_EQ(ModificationTime(Work / "in/good.dat"), UtcMidnight);
}

TEST(FtpGetJobScripted, ARenameFailureKeepsTheTemporaryFileAndTheResult) {
  TempDir Work;
  // A non-empty directory of the final name cannot be replaced by a file.
  fs::create_directories(Work / "in/data.csv/inner");
  TScript Script;
  Script.Files = {{"data.csv", "1,2,3\n"}};

  const auto Result = RunScripted(Script, Work, {{"DeleteMode", "True"}});
  const std::string Tmp = Work / "in/data.csv.tmp";
  EXPECT_EQ(Result.Run.Lines, Join({Head,
                                    {Listed("data.csv", 6), "Getted " + Tmp, "Deleted data.csv", "date changed " + Tmp,
                                     "ERROR: Warnig : Can not Rename " + Tmp},
                                    Tail2}));
  EXPECT_EQ(Result.Run.ExitCode, 2);
  // The server copy is gone; the data survives in the temporary file.
  EXPECT_EQ(Contains(Result.Transcript, "DELE data.csv"), "yes");
  EXPECT_EQ(ReadFile(Tmp), "1,2,3\n");
  EXPECT_TRUE(fs::is_directory(Work / "in/data.csv/inner"));
}

TEST(FtpGetJobScripted, TheLastFailureSetsTheResult) {
  TScript RemoteThenLocal;
  RemoteThenLocal.Files = {{"a.bin", "aaaa"}, {"b.bin", "bbbb"}};
  RemoteThenLocal.Sent = {{"b.bin", "bb"}};
  RemoteThenLocal.Rules = {Rule("RETR", "a.bin", "550 a.bin: Permission denied.")};
  TempDir Work1;
  // Refusals are not retried.
  const auto First = RunScripted(RemoteThenLocal, Work1, {{"TouchDateMode", "False"}, {"Retries", "3"}});
  EXPECT_EQ(First.Run.Lines, Join({Head,
                                   {Listed("a.bin", 4), "ERROR: 550 a.bin: Permission denied.", Listed("b.bin", 4),
                                    "ERROR: different file size."},
                                   Tail2}));
  EXPECT_FALSE(FileExists(Work1 / "in/a.bin.tmp"));

  TScript LocalThenRemote;
  LocalThenRemote.Files = {{"a.bin", "aaaa"}, {"b.bin", "bbbb"}, {"c.bin", "cccc"}};
  LocalThenRemote.Sent = {{"a.bin", "a"}};
  LocalThenRemote.Rules = {Rule("RETR", "b.bin", "451 Local error in processing."),
                           Rule("DELE", "c.bin", "550 c.bin: Permission denied.")};
  TempDir Work2;
  const auto Second = RunScripted(LocalThenRemote, Work2, {{"TouchDateMode", "False"}, {"DeleteMode", "TRUE"}});
  EXPECT_EQ(Second.Run.Lines,
            Join({Head,
                  {Listed("a.bin", 4), "ERROR: different file size.", Listed("b.bin", 4),
                   "ERROR: 451 Local error in processing.", Listed("c.bin", 4), "Getted " + Work2 / "in/c.bin.tmp",
                   "ERROR: Remote File Delete Error. 550 c.bin: Permission denied.", "renamed " + Work2 / "in/c.bin"},
                  Tail1}));
  EXPECT_EQ(Second.Run.ExitCode, 1);
  EXPECT_EQ(ReadFile(Work2 / "in/c.bin"), "cccc");
  EXPECT_EQ(Contains(Second.Transcript, "DELE a.bin"), "no");
}

TEST(FtpGetJobScripted, RefusedLogonEndsTheJobWithoutQuit) {
  TScript Script;
  Script.Files = {{"a.txt", "a"}};
  Script.Rules = {RuleAny("PASS", "530 Login incorrect.")};
  TempDir Work;
  const auto Result = RunScripted(Script, Work, {{"Retries", "2"}});
  EXPECT_EQ(Result.Run.Lines, Join({{"===== Section: get Mode: FTP GET", "ERROR: Login error. 530 Login incorrect."},
                                    Tail1}));
  EXPECT_EQ(Result.Run.ExitCode, 1);
  EXPECT_EQ(Contains(Result.Transcript, "QUIT"), "no");
}

TEST(FtpGetJobScripted, NothingListeningIsALoginError) {
  TempDir Work;
  fs::create_directory(Work / "in");
  const int Port = FreePort();
  WriteJobFile(Work / "job.ini", {{"get", GetJob(Port, "/*.*", "in")}});
  const TJobRun Run = RunJobFile("job.ini", Work.Path());
  ASSERT_EQ(Run.Lines.size(), 4u);
  EXPECT_EQ(Run.Lines[1], "ERROR: Login error. Connection refused");
  EXPECT_EQ(Run.ExitCode, 1);
}

TEST(FtpGetJobScripted, RefusedDirectoryChangeAndListingEndAfterQuit) {
  TScript Cwd;
  Cwd.Rules = {RuleAny("CWD", "550 /outgoing: No such directory.")};
  TempDir Work1;
  const auto First = RunScripted(Cwd, Work1, {}, "/outgoing/*.csv");
  EXPECT_EQ(First.Run.Lines, Join({Head, {"ERROR: 550 /outgoing: No such directory."}, Tail1}));
  EXPECT_EQ(Contains(First.Transcript, "CWD /outgoing/"), "yes");
  EXPECT_EQ(First.Transcript.back(), "QUIT");

  TScript List;
  List.Rules = {RuleAny("LIST", "450 Listing not available.")};
  TempDir Work2;
  const auto Second = RunScripted(List, Work2);
  EXPECT_EQ(Second.Run.Lines, Join({Head, {"ERROR: 450 Listing not available."}, Tail1}));
  EXPECT_EQ(Second.Transcript.back(), "QUIT");
}

TEST(FtpGetJobScripted, APathWithoutSlashSendsAnEmptyCwdAndMasksIgnoreCase) {
  TScript Script;
  Script.Files = {{"readme.txt", "read me"}, {"other.doc", "no"}};
  TempDir Work;
  const auto Result = RunScripted(Script, Work, {{"TouchDateMode", "False"}}, "*.TXT");
  EXPECT_EQ(Contains(Result.Transcript, "CWD "), "yes");
  EXPECT_EQ(Result.Run.Lines, Join({Head,
                                    Fetched("127.0.0.1/readme.txt 7bytes " + std::string(ListedDate),
                                            Work / "in/readme.txt", false),
                                    {"Info : Skip not match file name. other.doc"}, Tail0}));
}

TEST(FtpGetJobScripted, ALostConnectionFailsTheRestAndLeavesNoTemporaryFile) {
  TScript Script;
  Script.Files = {{"a.dat", std::string(4000, 'a')}, {"b.dat", "bbbb"}};
  Script.Rules = {Action("RETR", "a.dat", "drop_data")};
  TempDir Work;
  const auto Result = RunScripted(Script, Work);
  ASSERT_GE(Result.Run.Lines.size(), 4u);
  EXPECT_EQ(Result.Run.Lines[2], Listed("a.dat", 4000));
  EXPECT_EQ(Result.Run.Lines[3].rfind("ERROR: ", 0), 0u) << Result.Run.Lines[3];
  EXPECT_EQ(Result.Run.ExitCode, 1);
  EXPECT_FALSE(FileExists(Work / "in/a.dat"));
  EXPECT_FALSE(FileExists(Work / "in/a.dat.tmp"));
  EXPECT_FALSE(FileExists(Work / "in/b.dat.tmp"));
}

TEST(FtpGetJobScripted, ALostConnectionIsResumedFromTheTemporaryFile) {
  std::string Data;
  for (int I = 0; I < 4000; ++I) Data += static_cast<char>('a' + I % 23);
  TScript Script;
  Script.Files = {{"a.dat", Data}, {"b.dat", "bbbb"}};
  Script.Rules = {Once(Action("RETR", "a.dat", "drop_data")), Once(Action("DELE", "b.dat", "drop"))};
  TempDir Work;
  const auto Result = RunScripted(
      Script, Work, {{"Retries", "3"}, {"RetryDelay", "5"}, {"TouchDateMode", "False"}, {"DeleteMode", "True"}});
  EXPECT_EQ(Result.Run.Lines,
            Join({Head,
                  {Listed("a.dat", 4000), "Retry 1 of 3 in 5 ms: Connection reset by peer", Head[1],
                   "Getted " + Work / "in/a.dat.tmp", "Deleted a.dat", "renamed " + Work / "in/a.dat",
                   Listed("b.dat", 4), "Getted " + Work / "in/b.dat.tmp",
                   "Retry 2 of 3 in 10 ms: Connection reset by peer", Head[1], "Deleted b.dat",
                   "renamed " + Work / "in/b.dat"},
                  Tail0}));
  EXPECT_TRUE(ReadFile(Work / "in/a.dat") == Data);
  EXPECT_EQ(Contains(Result.Transcript, "REST 2000"), "yes");
  EXPECT_EQ(std::count(Result.Transcript.begin(), Result.Transcript.end(), "LIST"), 1);
}

TEST(FtpGetJobScripted, RefusedConnectionsAreRetriedWhileTheBudgetLasts) {
  TScript Script;
  Script.Files = {{"a.txt", "a"}};
  Script.Refuse = 3;  // the first is the start-up probe's
  const auto Retry = [](int N, int Of, int Delay) {
    return "Retry " + std::to_string(N) + " of " + std::to_string(Of) + " in " + std::to_string(Delay) +
           " ms: Connection reset by peer";
  };
  TempDir Work1;
  const auto Enough = RunScripted(Script, Work1, {{"Retries", "2"}, {"RetryDelay", "5"}, {"TouchDateMode", "False"}});
  EXPECT_EQ(Enough.Run.Lines, Join({{Head[0], Retry(1, 2, 5), Retry(2, 2, 10), Head[1]},
                                    Fetched(Listed("a.txt", 1), Work1 / "in/a.txt", false), Tail0}));
  TempDir Work2;
  const auto Spent = RunScripted(Script, Work2, {{"Retries", "1"}, {"RetryDelay", "5"}});
  EXPECT_EQ(Spent.Run.Lines,
            Join({{Head[0], Retry(1, 1, 5), "ERROR: Login error. Connection reset by peer"}, Tail1}));
  EXPECT_EQ(Spent.Run.ExitCode, 1);
}

TEST(FtpGetJobScripted, UnsafeNamesAreNeverWrittenLocally) {
  TScript Script;
  Script.Files = {{"good.txt", "good"}, {"../evil.txt", "evil"}, {"sub/evil.txt", "evil"}};
  Script.Listing = {Listing("../evil.txt", 4), Listing("..", 4),         Listing(".", 4),
                    Listing("sub/evil.txt", 4), Listing("a\\b.txt", 4), Listing("bell\x07.txt", 4),
                    Listing("del\x7f.txt", 4), Listing("good.txt", 4)};
  TempDir Work;
  const auto Result = RunScripted(Script, Work, {{"TouchDateMode", "False"}}, "/*");
  const auto Unsafe = [](const std::string& Name) {
    return std::vector<std::string>{"ERROR: Skip unsafe file name. " + Name};
  };
  EXPECT_EQ(Result.Run.Lines,
            Join({Head, Unsafe("../evil.txt"), Unsafe(".."), Unsafe("."), Unsafe("sub/evil.txt"), Unsafe("a\\b.txt"),
                  Unsafe("bell\\x07.txt"), Unsafe("del\\x7F.txt"),
                  Fetched("127.0.0.1//good.txt 4bytes " + std::string(ListedDate), Work / "in/good.txt", false),
                  Tail1}));
  EXPECT_EQ(Result.Run.ExitCode, 1);
  EXPECT_FALSE(FileExists(Work / "evil.txt"));
  EXPECT_FALSE(FileExists(Work / "evil.txt.tmp"));
  EXPECT_FALSE(fs::exists(Work / "in/sub"));
  for (const auto& Line : Result.Transcript) EXPECT_TRUE(Line.rfind("RETR", 0) != 0 || Line == "RETR good.txt") << Line;
}

TEST(FtpGetJobScripted, ProxyLogonLogsTheFirewallAndSendsItsSteps) {
  TScript Script;
  Script.Files = {{"a.txt", "a"}};
  TempDir Work;
  ScriptedFtpServer Proxy;
  ASSERT_TRUE(Proxy.Start(Script.Json()));
  fs::create_directory(Work / "in");
  WriteJobFile(Work / "job.ini", {{"get", With(GetJob(2121, "/*.txt", "in"),
                                               {{"ProxyHost", "127.0.0.1"},
                                                {"ProxyPort", std::to_string(Proxy.Port())},
                                                {"ProxyMode", "2"},
                                                {"ProxyUserName", "fwuser"},
                                                {"ProxyPassword", "fwpass"},
                                                {"TouchDateMode", "False"}})}});
  const TJobRun Run = RunJobFile("job.ini", Work.Path());
  EXPECT_EQ(Run.Lines,
            Join({{"===== Section: get Mode: FTP GET", "Login 127.0.0.1:2121 via 127.0.0.1:" + std::to_string(Proxy.Port())},
                  Fetched("127.0.0.1//a.txt 1bytes " + std::string(ListedDate), Work / "in/a.txt", false), Tail0}));
  const auto Transcript = Proxy.Transcript();
  ASSERT_GE(Transcript.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(Transcript.begin(), Transcript.begin() + 4),
            (std::vector<std::string>{"USER fwuser", "PASS fwpass", "USER anonymous@127.0.0.1:2121",
                                      "PASS tarvo@anonymous"}));
}

TEST(FtpGetJobScripted, DirectoriesOnlyAndAnUnsettableDate) {
  TScript Dirs;
  Dirs.Listing = {"drwxr-xr-x   2 ftp      ftp      4096 Mar 04  2021 one",
                  "drwxr-xr-x   2 ftp      ftp      4096 Mar 04  2021 two"};
  TempDir Work1;
  const auto First = RunScripted(Dirs, Work1);
  EXPECT_EQ(First.Run.Lines,
            Join({Head, {"Info : Skip Directory. one", "Info : Skip Directory. two"}, Tail0}));

  // Dates before 1980 cannot be given to a file; the file still arrives.
  TScript Old;
  Old.Files = {{"old.txt", "old"}};
  Old.Listing = {Listing("old.txt", 3, "Mar 04  1975")};
  TempDir Work2;
  const auto Second = RunScripted(Old, Work2);
  const std::string Tmp = Work2 / "in/old.txt.tmp";
  EXPECT_EQ(Second.Run.Lines, Join({Head,
                                    {"127.0.0.1//old.txt 3bytes (1975/03/04)", "Getted " + Tmp,
                                     "ERROR: Local file time change error.", "renamed " + Work2 / "in/old.txt"},
                                    Tail2}));
  EXPECT_EQ(ReadFile(Work2 / "in/old.txt"), "old");
}

TEST(FtpGetJobRun, MissingLocalDirectoryContactsNoServer) {
  TScript Script;
  ScriptedFtpServer Server;
  ASSERT_TRUE(Server.Start(Script.Json()));
  TempDir Work;
  WriteJobFile(Work / "job.ini", {{"get", GetJob(Server.Port(), "/*.*", "./missing")}});
  const TJobRun Run = RunJobFile("job.ini", Work.Path());
  EXPECT_EQ(Run.Lines, Join({{"===== Section: get Mode: FTP GET",
                              "ERROR: Dest Path not found or can not write. " + Work / "missing/"},
                             Tail2}));
  EXPECT_EQ(Run.ExitCode, 2);
  EXPECT_TRUE(Server.Transcript().empty());
}

TEST(FtpGetJobRun, SeveralJobsExitWithTheLastStatusAndAnInvalidMaskEndsTheRun) {
  TScript Script;
  Script.Files = {{"a.txt", "a"}};
  ScriptedFtpServer Server;
  ASSERT_TRUE(Server.Start(Script.Json()));
  TempDir Work;
  fs::create_directory(Work / "in");
  const int Port = Server.Port();
  const TJobKeys Quiet = {{"TouchDateMode", "False"}};
  WriteJobFile(Work / "jobs.ini", {{"missing", GetJob(Port, "/*.*", "nowhere")},
                                   {"fine", With(GetJob(Port, "/*.txt", "in"), Quiet)}});
  const TJobRun Fine = RunJobFile("jobs.ini", Work.Path());
  EXPECT_EQ(Fine.ExitCode, 0);
  ASSERT_FALSE(Fine.Lines.empty());
  EXPECT_EQ(Fine.Lines.back(), "ExitCode=0");

  WriteJobFile(Work / "bad.ini", {{"bad", GetJob(Port, "/[z-a]*.txt", "in")},
                                  {"never", GetJob(Port, "/*.txt", "nowhere")}});
  const TJobRun Bad = RunJobFile("bad.ini", Work.Path());
  EXPECT_EQ(Bad.ExitCode, 3);
  ASSERT_EQ(Bad.Lines.size(), 3u);
  EXPECT_EQ(Bad.Lines[0], "===== Section: bad Mode: FTP GET");
  EXPECT_EQ(Bad.Lines[1], "Login 127.0.0.1:" + std::to_string(Port));
  EXPECT_EQ(Bad.Lines[2].rfind("ERROR: ", 0), 0u) << Bad.Lines[2];
  EXPECT_NE(Bad.Lines[2].find("[z-a]*.txt"), std::string::npos) << Bad.Lines[2];
  // The session was still closed properly.
  EXPECT_EQ(Server.Transcript().back(), "QUIT");
}

TEST(FtpGetJobNames, UnsafeLocalNames) {
  for (const char* Name : {"a.txt", "a b", "..a", "a..", ".hidden", "x.tmp", "\xe4\xf6.txt", "~"})
    EXPECT_TRUE(IsSafeLocalFileName(Name)) << Name;
  for (const std::string& Name : {std::string(""), std::string("."), std::string(".."), std::string("a/b"),
                                 std::string("/abs"), std::string("a\\b"), std::string("a\0b", 3),
                                 std::string("tab\t"), std::string("\x1f"), std::string("x\x7f")})
    EXPECT_FALSE(IsSafeLocalFileName(Name)) << Name;
}

TEST(FtpGetJobNames, LocalDirectory) {
  const std::string Cwd = std::filesystem::current_path().string();
  EXPECT_EQ(FtpGetLocalDirectory(""), Cwd + "/");
  EXPECT_EQ(FtpGetLocalDirectory(".\\"), Cwd + "/");
  EXPECT_EQ(FtpGetLocalDirectory("in"), Cwd + "/in/");
  EXPECT_EQ(FtpGetLocalDirectory(".\\in\\sub"), Cwd + "/in/sub/");
  EXPECT_EQ(FtpGetLocalDirectory("/srv/inbox/"), "/srv/inbox/");
  EXPECT_EQ(FtpGetLocalDirectory("/srv/x/../inbox"), "/srv/inbox/");
}

namespace {

// A planted entry at big's temporary or final name, or a wrapper that makes
// writing fail, and the scripted server's log for "a.tmp", "a", "big" with
// DeleteMode ("in/" is the local directory, ".#.tmp" a fresh name). Failed
// files neither arrive nor are deleted on the server.
struct TLocalCase {
  const char* Name;
  std::string Plant;
  std::vector<std::string> Wrapper, Middle, Failed;
};

std::vector<std::string> Got(const std::string& Name, std::size_t Size, const std::string& Temp) {
  return {Listed(Name, Size), "Getted in/" + Temp, "Deleted " + Name, "renamed in/" + Name};
}

// "a.tmp" arrives first, so "a" must not take it as its temporary file.
const auto SmallOnes = Join({Got("a.tmp", 3, "a.tmp.tmp"), Got("a", 1, "a.#.tmp")});
const std::string Denied = "ERROR: Can not write local file in/";

const TLocalCase LocalCases[] = {
    {"Nothing", "", {}, Join({SmallOnes, Got("big", 5000, "big.tmp")}), {}},
    {"LinkAtTemporaryName", "big.tmp", {}, Join({SmallOnes, Got("big", 5000, "big.#.tmp")}), {}},
    {"FifoAtTemporaryName", "fifo", {}, Join({SmallOnes, Got("big", 5000, "big.#.tmp")}), {}},
    {"LinkAtFinalName", "big", {}, Join({SmallOnes, Got("big", 5000, "big.tmp")}), {}},
    {"NoWritePermission", "", AsNobody,
     {Listed("a.tmp", 3), Denied + "a.tmp.tmp (Permission denied)", Listed("a", 1), Denied + "a.tmp (Permission denied)",
      Listed("big", 5000), Denied + "big.tmp (Permission denied)"},
     {"a.tmp", "a", "big"}},
    {"DiskFull", "", WithFileSizeLimit(4), Join({SmallOnes, {Listed("big", 5000), Denied + "big.tmp (File too large)"}}),
     {"big"}},
};

class FtpGetJobLocalFiles : public ::testing::TestWithParam<std::tuple<TLocalCase, bool>> {};

}  // namespace

TEST_P(FtpGetJobLocalFiles, NothingOutsideChangesAndLocalFailuresAreLocal) {
  const auto& [Case, Vsftpd] = GetParam();
  TScript Script;
  Script.Files = {{"a.tmp", "tmp"}, {"a", "a"}, {"big", std::string(5000, 'b')}};
  TempDir Root, Work, Outside;
  fs::permissions(Work.Path(), fs::perms::owner_all | fs::perms::others_exec);
  fs::create_directories(Work / "in");
  fs::create_directories(Root / "pub");
  fs::permissions(Root / "pub", fs::perms::all);
  for (const auto& [Name, Data] : Script.Files) WriteFile(Root / ("pub/" + Name), Data);
  WriteFile(Outside / "other", "keep");
  if (Case.Plant == "fifo") mkfifo((Work / "in/big.tmp").c_str(), 0600);
  if (Case.Plant.starts_with("big")) fs::create_symlink(Outside / "other", Work / ("in/" + Case.Plant));
  std::size_t Entries = Case.Plant.empty() ? 0 : 1;

  ScriptedFtpServer Scripted;
  VsFtpServer Real;
  ASSERT_TRUE(Vsftpd ? Real.Start(Root.Path()) : Scripted.Start(Script.Json()));
  const int Port = Vsftpd ? Real.Port() : Scripted.Port();
  const TJobKeys Keys = {{"DeleteMode", "True"}, {"TouchDateMode", "False"}};
  WriteJobFile(Work / "job.ini", {{"get", With(GetJob(Port, Vsftpd ? "pub/*" : "/*", "in"), Keys)}});
  TJobRun Run = RunJobFile("job.ini", Work.Path(), {}, Case.Wrapper);

  const std::string Status = Case.Failed.empty() ? "0" : "2";
  EXPECT_EQ(std::to_string(Run.ExitCode), Status) << Run.ErrorText;
  for (auto& Line : Run.Lines)
    Line = std::regex_replace(ReplaceAll(Line, Work / "in/", "in/"), std::regex("\\.[0-9a-z]{8}\\.tmp"), ".#.tmp");
  if (!Vsftpd) {
    EXPECT_EQ(Run.Lines, Join({{Head[0], "Login 127.0.0.1:" + std::to_string(Port)}, Case.Middle,
                               {"===== FTP GET END", "ExitCode=" + Status}}));
  }
  EXPECT_EQ(ReadFile(Outside / "other"), "keep");
  for (const auto& [Name, Data] : Script.Files) {
    const bool Failed = std::count(Case.Failed.begin(), Case.Failed.end(), Name) > 0;
    Entries += Failed ? 0 : Name == Case.Plant ? 0 : 1;
    EXPECT_EQ(fs::is_regular_file(fs::symlink_status(Work / ("in/" + Name))) && ReadFile(Work / ("in/" + Name)) == Data,
              !Failed) << Name;
    // The server's copy goes only once the local one is safe.
    EXPECT_EQ(Vsftpd ? FileExists(Root / ("pub/" + Name)) : Contains(Scripted.Transcript(), "DELE " + Name) == "no",
              Failed) << Name;
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(Work / "in"), {}), Entries) << "nothing left behind";
}

TEST(FtpGetJobPeers, VsftpdStoppedAndStartedMidTransferIsResumed) {
  TempDir Root, Work;
  std::string Data(3 << 20, '\0');
  for (std::size_t I = 0; I < Data.size(); ++I) Data[I] = static_cast<char>(I * 7 / 3);
  fs::create_directories(Root / "pub");
  fs::create_directories(Work / "in");
  WriteFile(Root / "pub/big.bin", Data);
  SetModificationTime(Root / "pub/big.bin", ServerTime);
  VsFtpServer Server;
  ASSERT_TRUE(Server.Start(Root.Path(), "anon_max_rate=1500000\nxferlog_enable=YES\nlog_ftp_protocol=YES\n"
                                        "xferlog_std_format=NO\nvsftpd_log_file=" + Work / "vsftpd.log\n"));
  WriteJobFile(Work / "job.ini", {{"get", With(GetJob(Server.Port(), "pub/*", "in"),
                                               {{"Retries", "6"}, {"RetryDelay", "100"}, {"TouchDateMode", "False"}})}});
  TJobRun Run;
  std::thread Job([&] { Run = RunJobFile("job.ini", Work.Path()); });
  // Cut once a part has arrived, well before the end at this rate.
  bool Cut = false;
  for (int Wait = 0; Wait < 400 && !Cut; ++Wait) {
    std::error_code Error;
    Cut = fs::file_size(Work / "in/big.bin.tmp", Error) > 500000 && !Error;
    if (!Cut) std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  const bool Restarted = Server.Restart();
  Job.join();
  ASSERT_TRUE(Cut);
  ASSERT_TRUE(Restarted);
  // Retries that found the server still down are counted, not compared.
  std::vector<std::string> Lines = Run.Lines;
  const auto Retries = std::erase_if(Lines, [](const std::string& Line) {
    return std::regex_match(Line, std::regex("Retry [1-6] of 6 in [0-9]+ ms: .+"));
  });
  const std::string Login = "Login 127.0.0.1:" + std::to_string(Server.Port());
  const std::string Listed = "127.0.0.1/pub/big.bin 3145728bytes " + std::string(ListedDate);
  EXPECT_EQ(Lines, (std::vector<std::string>{"===== Section: get Mode: FTP GET", Login, Listed, Login,
                                             "Getted " + Work / "in/big.bin.tmp", "renamed " + Work / "in/big.bin",
                                             "===== FTP GET END", "ExitCode=0"}))
      << Run.ErrorText;
  EXPECT_GE(Retries, 1u);
  EXPECT_TRUE(ReadFile(Work / "in/big.bin") == Data);
  EXPECT_TRUE(std::regex_search(ReadFile(Work / "vsftpd.log"), std::regex("\"REST [1-9][0-9]{5,}\"")));
}

INSTANTIATE_TEST_SUITE_P(Entries, FtpGetJobLocalFiles, ::testing::Combine(::testing::ValuesIn(LocalCases), ::testing::Bool()),
                         [](const auto& Info) {
                           return std::get<0>(Info.param).Name + std::string(std::get<1>(Info.param) ? "Vsftpd" : "Scripted");
                         });

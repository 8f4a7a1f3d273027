// The FTP PUT job end to end: build/tarvo run on job files against
// pyftpdlib and vsftpd on loopback, and against the scripted server for
// refusals, wrong sizes and lost connections. Each test compares the whole
// log (stamps stripped), the exit code and the files on both sides.
#include <gtest/gtest.h>

#include <filesystem>

#include "jobs/tarvoFtpPut.h"
#include "support/ftpjobs_support.h"
#include "support/testsupport.h"

using namespace testsupport;
using namespace ftpjobs;
namespace fs = std::filesystem;

namespace {

TJobKeys PutJob(int Port, const std::string& RemotePath, const std::string& LocalPath) {
  return {{"Mode", "FTPPUT"},
          {"Target", "127.0.0.1"},
          {"TargetPort", std::to_string(Port)},
          {"Timeout", "10000"},
          {"RemotePath", RemotePath},
          {"LocalPath", LocalPath}};
}

// An outbox with two text files, one other file and a directory whose
// name matches the text mask.
void MakeOutbox(const TempDir& Work) {
  fs::create_directories(Work / "out/dir.txt");
  WriteFile(Work / "out/a.txt", "first order\n");
  WriteFile(Work / "out/b.TXT", std::string(300000, 'b'));
  WriteFile(Work / "out/c.dat", "not sent");
}

const std::vector<std::string> Tail0 = {"===== FTP PUT END", "ExitCode=0"};
const std::vector<std::string> Tail1 = {"===== FTP PUT END", "ExitCode=1"};
const std::vector<std::string> Tail2 = {"===== FTP PUT END", "ExitCode=2"};

}  // namespace

TEST(FtpPutJobPeers, PyftpdlibStoresEveryMatchingPlainFile) {
  TempDir Root, Work;
  MakeOutbox(Work);
  fs::create_directory(Root / "incoming");
  PyFtpServer Server;
  ASSERT_TRUE(Server.Start(Root.Path()));
  // "\" separates like "/", and the mask ignores case.
  WriteJobFile(Work / "job.ini", {{"put", PutJob(Server.Port(), "/incoming", ".\\out\\*.txt")}});

  const TJobRun Run = RunJobFile("job.ini", Work.Path());
  EXPECT_EQ(Run.Lines, Join({{"===== Section: put Mode: FTP PUT", "Login 127.0.0.1:" + std::to_string(Server.Port()),
                              "Putted " + Work / "out/a.txt", "Putted " + Work / "out/b.TXT"},
                             Tail0}))
      << Run.ErrorText;
  EXPECT_EQ(Run.ExitCode, 0);
  EXPECT_EQ(ReadFile(Root / "incoming/a.txt"), "first order\n");
  EXPECT_TRUE(ReadFile(Root / "incoming/b.TXT") == std::string(300000, 'b'));
  EXPECT_FALSE(fs::exists(Root / "incoming/c.dat"));
  EXPECT_FALSE(fs::exists(Root / "incoming/dir.txt"));
  EXPECT_TRUE(FileExists(Work / "out/a.txt"));
}

TEST(FtpPutJobPeers, VsftpdActiveModeDeleteModeRemovesOnlyVerifiedLocalFiles) {
  TempDir Root, Work;
  MakeOutbox(Work);
  fs::create_directory(Root / "in");
  fs::permissions(Root / "in", fs::perms::all);
  VsFtpServer Server;
  ASSERT_TRUE(Server.Start(Root.Path()));
  WriteJobFile(Work / "job.ini", {{"put", With(PutJob(Server.Port(), "in", Work / "out/*.txt"),
                                               {{"DeleteMode", "True"}, {"FtpPassiveMode", "false"}})}});

  const TJobRun Run = RunJobFile("job.ini", Work.Path());
  EXPECT_EQ(Run.Lines, Join({{"===== Section: put Mode: FTP PUT", "Login 127.0.0.1:" + std::to_string(Server.Port()),
                              "Putted " + Work / "out/a.txt", "Deleted " + Work / "out/a.txt",
                              "Putted " + Work / "out/b.TXT", "Deleted " + Work / "out/b.TXT"},
                             Tail0}))
      << Run.ErrorText;
  EXPECT_TRUE(ReadFile(Root / "in/b.TXT") == std::string(300000, 'b'));
  EXPECT_FALSE(FileExists(Work / "out/a.txt"));
  EXPECT_TRUE(FileExists(Work / "out/c.dat"));
}

TEST(FtpPutJobPeers, VsftpdSingleFileWithoutWildcardAndARefusedDirectory) {
  TempDir Root, Work;
  MakeOutbox(Work);
  fs::create_directory(Root / "in");
  fs::permissions(Root / "in", fs::perms::all);
  VsFtpServer Server;
  ASSERT_TRUE(Server.Start(Root.Path()));
  const std::string Port = std::to_string(Server.Port());
  // vsftpd run by root does not change its root directory: paths are
  // relative to the directory it starts sessions in.
  WriteJobFile(Work / "job.ini", {{"one", PutJob(Server.Port(), "in", "out/c.dat")},
                                  {"nowhere", PutJob(Server.Port(), "missing", "out/c.dat")}});

  const TJobRun Run = RunJobFile("job.ini", Work.Path());
  ASSERT_EQ(Run.Lines.size(), 9u) << Run.ErrorText;
  EXPECT_EQ(std::vector<std::string>(Run.Lines.begin(), Run.Lines.begin() + 7),
            (std::vector<std::string>{"===== Section: one Mode: FTP PUT", "Login 127.0.0.1:" + Port,
                                      "Putted " + Work / "out/c.dat", "===== FTP PUT END",
                                      "===== Section: nowhere Mode: FTP PUT", "Login 127.0.0.1:" + Port,
                                      "ERROR: Remote work directory error. 550 Failed to change directory."}));
  EXPECT_EQ(std::vector<std::string>(Run.Lines.begin() + 7, Run.Lines.end()), Tail1);
  EXPECT_EQ(Run.ExitCode, 1);
  EXPECT_EQ(ReadFile(Root / "in/c.dat"), "not sent");
  EXPECT_FALSE(FileExists(Root / "in/a.txt"));
}

namespace {

// The scripted server with its rules and the size adjustments of its SIZE
// replies, storing into Store.
std::string Script(const std::vector<std::string>& Rules, const std::vector<std::pair<std::string, int>>& SizeDelta = {}) {
  std::string Text = "{\"rules\": [";
  for (std::size_t I = 0; I < Rules.size(); ++I) Text += (I ? ", " : "") + Rules[I];
  Text += "], \"size\": {";
  for (std::size_t I = 0; I < SizeDelta.size(); ++I)
    Text += (I ? ", " : "") + JsonString(SizeDelta[I].first) + ": " + std::to_string(SizeDelta[I].second);
  return Text + "}}";
}

struct TScriptedRun {
  TJobRun Run;
  std::vector<std::string> Transcript;
};

TScriptedRun RunScripted(const std::string& ScriptJson, const TempDir& Work, const TempDir& Store,
                         const TJobKeys& More = {}, const std::string& LocalPath = "out/*.*") {
  ScriptedFtpServer Server;
  TScriptedRun Result;
  if (!Server.Start(ScriptJson, Store.Path())) return Result;
  WriteJobFile(Work / "job.ini", {{"put", With(PutJob(Server.Port(), "/incoming", LocalPath), More)}});
  Result.Run = RunJobFile("job.ini", Work.Path());
  Result.Transcript = Server.Transcript();
  for (auto& Line : Result.Run.Lines)
    if (Line.rfind("Login 127.0.0.1:" + std::to_string(Server.Port()), 0) == 0)
      Line = "Login 127.0.0.1:PORT" + Line.substr(std::string("Login 127.0.0.1:").size() + std::to_string(Server.Port()).size());
  return Result;
}

const std::vector<std::string> Head = {"===== Section: put Mode: FTP PUT", "Login 127.0.0.1:PORT"};

}  // namespace

TEST(FtpPutJobScripted, RefusedSizeFailsBinaryModeAndPassesTextMode) {
  TempDir Work, Store;
  fs::create_directories(Work / "out");
  WriteFile(Work / "out/a.csv", "1,2\n");
  const std::string Refuse = Script({RuleAny("SIZE", "500 SIZE not understood.")});
  const auto Binary = RunScripted(Refuse, Work, Store, {{"DeleteMode", "true"}});
  EXPECT_EQ(Binary.Run.Lines, Join({Head, {"ERROR: different file size."}, Tail2}));
  EXPECT_EQ(Binary.Run.ExitCode, 2);
  EXPECT_TRUE(FileExists(Work / "out/a.csv"));

  const auto Text = RunScripted(Refuse, Work, Store, {{"DeleteMode", "true"}, {"FtpBinaryMode", "FALSE"}});
  EXPECT_EQ(Text.Run.Lines,
            Join({Head, {"Putted " + Work / "out/a.csv", "Deleted " + Work / "out/a.csv"}, Tail0}));
  EXPECT_EQ(Contains(Text.Transcript, "TYPE A"), "yes");
  EXPECT_FALSE(FileExists(Work / "out/a.csv"));
  EXPECT_EQ(ReadFile(Store / "a.csv"), "1,2\n");
}

TEST(FtpPutJobScripted, TextModeAcceptsASmallerStoredSizeOnly) {
  TempDir Work, Store;
  fs::create_directories(Work / "out");
  WriteFile(Work / "out/less.txt", std::string(102, 'l'));
  WriteFile(Work / "out/more.txt", std::string(102, 'm'));
  const auto Result = RunScripted(Script({}, {{"less.txt", -2}, {"more.txt", 2}}), Work, Store,
                                  {{"FtpBinaryMode", "false"}});
  EXPECT_EQ(Result.Run.Lines, Join({Head, {"Putted " + Work / "out/less.txt", "ERROR: different file size."}, Tail2}));
  EXPECT_EQ(Contains(Result.Transcript, "SIZE more.txt"), "yes");
}

TEST(FtpPutJobScripted, ARefusedUploadIsLoggedAndTheNextFileStillGoes) {
  TempDir Work, Store;
  fs::create_directories(Work / "out");
  WriteFile(Work / "out/1.txt", "one");
  WriteFile(Work / "out/2.txt", "two");
  const auto Result = RunScripted(Script({Rule("STOR", "1.txt", "553 Could not create file.")}), Work, Store,
                                  {{"DeleteMode", "true"}});
  EXPECT_EQ(Result.Run.Lines, Join({Head,
                                    {"ERROR: PUT ERROR 1.txt", "ERROR: 553 Could not create file.",
                                     "Putted " + Work / "out/2.txt", "Deleted " + Work / "out/2.txt"},
                                    Tail1}));
  EXPECT_EQ(Result.Run.ExitCode, 1);
  EXPECT_TRUE(FileExists(Work / "out/1.txt"));
  EXPECT_EQ(ReadFile(Store / "2.txt"), "two");
}

TEST(FtpPutJobPeers, VsftpdAnUnreadableFileAndAFailedLocalDeleteAreLocalFailures) {
  TempDir Work, Root;
  fs::permissions(Work.Path(), fs::perms::owner_all | fs::perms::others_exec);
  fs::create_directories(Work / "out");
  WriteFile(Work / "out/1.txt", "secret");
  fs::permissions(Work / "out/1.txt", fs::perms::owner_read | fs::perms::owner_write);
  WriteFile(Work / "out/2.txt", "two");
  fs::create_directory(Root / "in");
  fs::permissions(Root / "in", fs::perms::all);
  VsFtpServer Server;
  ASSERT_TRUE(Server.Start(Root.Path()));
  WriteJobFile(Work / "job.ini", {{"put", With(PutJob(Server.Port(), "in", "out/*.*"), {{"DeleteMode", "true"}})}});
  // Run as nobody: 1.txt cannot be read, and nothing in out/ can be removed.
  const TJobRun Run = RunJobFile("job.ini", Work.Path(), {}, AsNobody);
  EXPECT_EQ(Run.Lines, Join({{"===== Section: put Mode: FTP PUT", "Login 127.0.0.1:" + std::to_string(Server.Port()),
                              "ERROR: Can not read local file " + Work / "out/1.txt (Permission denied)",
                              "Putted " + Work / "out/2.txt",
                              "ERROR: Can not delete local file. " + Work / "out/2.txt (Permission denied)"},
                             Tail2}))
      << Run.ErrorText;
  EXPECT_FALSE(FileExists(Root / "in/1.txt"));
  EXPECT_EQ(ReadFile(Root / "in/2.txt") + ReadFile(Work / "out/1.txt"), "twosecret");
}

TEST(FtpPutJobScripted, RefusedLogonStillEndsTheSession) {
  TempDir Work, Store;
  fs::create_directories(Work / "out");
  WriteFile(Work / "out/1.txt", "one");
  const auto Result = RunScripted(Script({RuleAny("PASS", "530 Login incorrect.")}), Work, Store);
  EXPECT_EQ(Result.Run.Lines, Join({{"===== Section: put Mode: FTP PUT", "ERROR: Login error. 530 Login incorrect."},
                                    Tail1}));
  EXPECT_EQ(Result.Transcript.back(), "QUIT");
  EXPECT_FALSE(FileExists(Store / "1.txt"));
}

TEST(FtpPutJobScripted, ALostConnectionKeepsTheLocalFiles) {
  TempDir Work, Store;
  fs::create_directories(Work / "out");
  WriteFile(Work / "out/1.txt", std::string(200000, '1'));
  WriteFile(Work / "out/2.txt", "two");
  const auto Result = RunScripted(
      "{\"rules\": [{\"cmd\": \"STOR\", \"arg\": \"1.txt\", \"action\": \"drop_data\"}]}", Work, Store,
      {{"DeleteMode", "true"}});
  ASSERT_GE(Result.Run.Lines.size(), 4u);
  EXPECT_EQ(Result.Run.Lines[2], "ERROR: PUT ERROR 1.txt");
  const std::string& Reason = Result.Run.Lines[3];
  EXPECT_TRUE(Reason == "ERROR: Can't send after Socket shutdown" || Reason == "ERROR: Connection reset by peer") << Reason;
  EXPECT_NE(Result.Run.ExitCode, 0);
  EXPECT_TRUE(FileExists(Work / "out/1.txt"));
  EXPECT_TRUE(FileExists(Work / "out/2.txt"));
}

TEST(FtpPutJobScripted, ALostConnectionIsResumedFromTheServersSize) {
  TempDir Work, Store;
  fs::create_directories(Work / "out");
  std::string Data;
  for (int I = 0; I < 200000; ++I) Data += static_cast<char>('0' + I % 71);
  WriteFile(Work / "out/1.txt", Data);
  WriteFile(Work / "out/2.txt", "two");
  auto Result = RunScripted(Script({Once(Action("STOR", "1.txt", "drop_data"))}), Work, Store,
                                  {{"Retries", "2"}, {"RetryDelay", "5"}});
  ASSERT_EQ(Result.Run.Lines.size(), 8u);
  // Whether the send or the reply fails first depends on the timing.
  EXPECT_EQ(Result.Run.Lines[2].rfind("Retry 1 of 2 in 5 ms: ", 0), 0u) << Result.Run.Lines[2];
  Result.Run.Lines.erase(Result.Run.Lines.begin() + 2);
  EXPECT_EQ(Result.Run.Lines, Join({Head, {Head[1], "Putted " + Work / "out/1.txt", "Putted " + Work / "out/2.txt"}, Tail0}));
  EXPECT_TRUE(ReadFile(Store / "1.txt") == Data);
  EXPECT_EQ(ReadFile(Store / "2.txt"), "two");
  EXPECT_EQ(Contains(Result.Transcript, "REST 1000"), "yes");
}

TEST(FtpPutJobScripted, ProxyLogonLogsTheFirewallAndSendsItsSteps) {
  TempDir Work, Store;
  fs::create_directories(Work / "out");
  WriteFile(Work / "out/1.txt", "one");
  ScriptedFtpServer Proxy;
  ASSERT_TRUE(Proxy.Start(Script({}), Store.Path()));
  const std::string ProxyPort = std::to_string(Proxy.Port());
  WriteJobFile(Work / "job.ini", {{"put", With(PutJob(2121, "/incoming", "out/*"),
                                               {{"ProxyHost", "127.0.0.1"},
                                                {"ProxyPort", ProxyPort},
                                                {"ProxyMode", "3"},
                                                {"ProxyUserName", "fw"},
                                                {"ProxyPassword", "fwpw"},
                                                {"UserName", "bob"},
                                                {"Password", "pw"}})}});
  const TJobRun Run = RunJobFile("job.ini", Work.Path());
  EXPECT_EQ(Run.Lines, Join({{"===== Section: put Mode: FTP PUT", "Login 127.0.0.1:2121 via 127.0.0.1:" + ProxyPort,
                              "Putted " + Work / "out/1.txt"},
                             Tail0}));
  const auto Transcript = Proxy.Transcript();
  ASSERT_GE(Transcript.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(Transcript.begin(), Transcript.begin() + 4),
            (std::vector<std::string>{"USER fw", "PASS fwpw", "USER bob", "PASS pw"}));
  EXPECT_EQ(ReadFile(Store / "1.txt"), "one");
}

TEST(FtpPutJobRun, NoMatchingFileContactsNoServer) {
  ScriptedFtpServer Server;
  ASSERT_TRUE(Server.Start(Script({})));
  TempDir Work;
  fs::create_directories(Work / "out/only-a-dir.txt");
  WriteFile(Work / "out/a.txt_Header.TXT", "a side file");
  WriteJobFile(Work / "job.ini", {{"nodir", PutJob(Server.Port(), "/", "gone/*.txt")},
                                  {"dirs", PutJob(Server.Port(), "/", "out/*.txt")},
                                  {"empty", PutJob(Server.Port(), "/", "")}});
  const TJobRun Run = RunJobFile("job.ini", Work.Path());
  EXPECT_EQ(Run.Lines, Join({{"===== Section: nodir Mode: FTP PUT", "ERROR: Local path not found. " + Work / "gone/",
                              "===== FTP PUT END", "===== Section: dirs Mode: FTP PUT", "no file out/*.txt", "===== FTP PUT END",
                              "===== Section: empty Mode: FTP PUT", "no file "},
                             Tail0}));
  EXPECT_EQ(Run.ExitCode, 0);
  EXPECT_TRUE(Server.Transcript().empty());
}

TEST(FtpPutJobPaths, DirectoryPartOfTheLocalPath) {
  const std::string Cwd = fs::current_path().string();
  EXPECT_EQ(FtpPutLocalDirectory("*.txt"), Cwd + "/");
  EXPECT_EQ(FtpPutLocalDirectory(".\\out\\*.txt"), Cwd + "/out/");
  EXPECT_EQ(FtpPutLocalDirectory("/srv/outbox/a.csv"), "/srv/outbox/");
  EXPECT_EQ(FtpPutLocalDirectory("/x.csv"), "/");
  EXPECT_EQ(FtpPutLocalDirectory("out/../box/*"), Cwd + "/box/");
}

// The connection is lost before the server takes the upload, then again
// before it answers the size check.
TEST(FtpPutJobScripted, AnOlderRemoteFileOfTheSameNameIsNotContinued) {
  TempDir Work, Store;
  fs::create_directories(Work / "out");
  WriteFile(Work / "out/1.txt", std::string(5000, 'n'));
  WriteFile(Store / "1.txt", std::string(5000, 'o'));  // the last run's copy: same size, other bytes
  const auto Result =
      RunScripted(Script({Once(Action("STOR", "1.txt", "drop")), Once(Action("SIZE", "1.txt", "drop"))}), Work, Store,
                  {{"Retries", "2"}, {"RetryDelay", "5"}, {"DeleteMode", "true"}});
  EXPECT_TRUE(ReadFile(Store / "1.txt") == std::string(5000, 'n'));
  EXPECT_EQ(Result.Run.Lines, Join({Head,
                                    {"Retry 1 of 2 in 5 ms: Connection reset by peer", Head[1],
                                     "Retry 2 of 2 in 10 ms: Connection reset by peer", Head[1],
                                     "Putted " + Work / "out/1.txt", "Deleted " + Work / "out/1.txt"},
                                    Tail0}));
}

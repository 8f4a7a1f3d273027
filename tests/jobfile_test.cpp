// Reading the job file into job records: defaults by mode, the rules for
// ports, time-outs, integers, booleans and the protocol, texts kept as
// written, and job files that are large or not text at all.
#include <gtest/gtest.h>

#include <ctime>
#include <random>

#include "app/tarvoCommon.h"
#include "jobs/tarvoRetry.h"
#include "support/capturestdout.h"
#include "support/testsupport.h"

using namespace testsupport;

namespace {

#ifdef TARVO_SANITIZE
constexpr double LoadSecondsLimit = 15.0;
#else
constexpr double LoadSecondsLimit = 2.0;
#endif

TArrayOftarvoParam Load(const std::string& Text) {
  TempDir Dir;
  WriteFile(Dir / "jobs.ini", Text);
  TArrayOftarvoParam Jobs;
  EXPECT_EQ(LoadJobs(Dir / "jobs.ini", Jobs), 0);
  return Jobs;
}

// The one job of a section holding Mode and one more line.
TtarvoParam LoadOne(const std::string& Mode, const std::string& Line) {
  const TArrayOftarvoParam Jobs = Load("[job]\nMode=" + Mode + "\n" + Line + "\n");
  EXPECT_EQ(Jobs.size(), 1u);
  return Jobs.empty() ? TtarvoParam{} : Jobs[0];
}

// Processor seconds LoadJobs takes on the file (not wall time, which other
// work on a shared machine would stretch), and its jobs.
double TimedLoad(const std::string& FileName, TArrayOftarvoParam& Jobs) {
  const std::clock_t Start = std::clock();
  EXPECT_EQ(LoadJobs(FileName, Jobs), 0);
  return static_cast<double>(std::clock() - Start) / CLOCKS_PER_SEC;
}

}  // namespace

TEST(JobFile, EveryKeyLeftOutTakesItsModesDefault) {
  const TArrayOftarvoParam Jobs = Load(
      "[get]\n[put]\nMode=FTPPUT\n[web]\nMode=HTTPGET\n[putweb]\nMode=HTTPPUT\n[form]\nMode=HTTPPOSTFILE\n");
  ASSERT_EQ(Jobs.size(), 5u);
  const JobMode Modes[] = {JobMode::FtpGet, JobMode::FtpPut, JobMode::HttpGet, JobMode::HttpPut,
                           JobMode::HttpPostFile};
  const char* Names[] = {"get", "put", "web", "putweb", "form"};
  for (std::size_t I = 0; I < Jobs.size(); ++I) {
    SCOPED_TRACE(Names[I]);
    const TtarvoParam& Job = Jobs[I];
    const bool Ftp = I < 2;
    EXPECT_EQ(Job.SectionName, Names[I]);
    EXPECT_EQ(Job.Mode, Modes[I]);
    EXPECT_EQ(Job.Target, Ftp ? "localhost" : "http://localhost/");
    EXPECT_EQ(Job.TargetPort, Ftp ? "21" : "80");
    EXPECT_EQ(Job.Timeout, 60000);
    EXPECT_EQ(Job.UserName, Ftp ? "anonymous" : "");
    EXPECT_EQ(Job.Password, Ftp ? "tarvo@anonymous" : "");
    EXPECT_FALSE(Job.DeleteMode);
    EXPECT_TRUE(Job.TouchDateMode);
    EXPECT_EQ(Job.RemotePath, I == 0 ? "/*.*" : "/");
    EXPECT_EQ(Job.LocalPath, I == 1 ? "./*.*" : "./");
    EXPECT_TRUE(Job.FtpBinaryMode);
    EXPECT_TRUE(Job.FtpPassiveMode);
    EXPECT_FALSE(Job.HttpSaveHeader);
    EXPECT_EQ(Job.HttpProtocol, "1.1");
    EXPECT_FALSE(Job.HttpKeepAlive);
    EXPECT_TRUE(Job.HttpNoCache);
    EXPECT_EQ(Job.HTTPFieldName, I == 4 ? "POSTFILE" : "");
    EXPECT_EQ(Job.ProxyHost, "");
    EXPECT_EQ(Job.ProxyPort, Ftp ? "21" : "80");
    EXPECT_EQ(Job.ProxyMode, 0);
    EXPECT_EQ(Job.ProxyUserName, "");
    EXPECT_EQ(Job.ProxyPassword, "");
    EXPECT_FALSE(Job.TlsVerify);
    EXPECT_EQ(Job.TlsCaFile, "");
    EXPECT_EQ(Job.FtpTls, FtpTlsMode::None);
    EXPECT_EQ(Job.Retries, 0);
    EXPECT_EQ(Job.RetryDelay, 10000);
  }
}

TEST(JobFile, EveryKeyIsReadIntoItsField) {
  const TArrayOftarvoParam Jobs = Load(
      "[all]\nMode=HTTPPUT\nTarget=http://files.example/in/\nTargetPort=8080\nTimeout=1500\n"
      "UserName=web\nPassword=s3cret\nDeleteMode=true\nTouchDateMode=false\nRemotePath=/r\n"
      "LocalPath=/l/*.csv\nFtpBinaryMode=FALSE\nFtpPassiveMode=False\nHttpSaveHeader=yes\n"
      "HttpProtocol=1.1\nHttpKeepAlive=TRUE\nHttpNoCache=false\nHTTPFieldName=upload\n"
      "ProxyHost=proxy\nProxyPort=3128\nProxyMode=2\nProxyUserName=pu\nProxyPassword=pp\n"
      "TlsVerify=true\nTlsCaFile=/etc/ca.pem\nFtpTls=Implicit\nRetries=3\nRetryDelay=250\n");
  ASSERT_EQ(Jobs.size(), 1u);
  const TtarvoParam& Job = Jobs[0];
  EXPECT_EQ(Job.Mode, JobMode::HttpPut);
  EXPECT_EQ(Job.Target, "http://files.example/in/");
  EXPECT_EQ(Job.TargetPort, "8080");
  EXPECT_EQ(Job.Timeout, 1500);
  EXPECT_EQ(Job.UserName, "web");
  EXPECT_EQ(Job.Password, "s3cret");
  EXPECT_TRUE(Job.DeleteMode);
  EXPECT_FALSE(Job.TouchDateMode);
  EXPECT_EQ(Job.RemotePath, "/r");
  EXPECT_EQ(Job.LocalPath, "/l/*.csv");
  EXPECT_FALSE(Job.FtpBinaryMode);
  EXPECT_FALSE(Job.FtpPassiveMode);
  EXPECT_TRUE(Job.HttpSaveHeader);
  EXPECT_EQ(Job.HttpProtocol, "1.1");
  EXPECT_TRUE(Job.HttpKeepAlive);
  EXPECT_FALSE(Job.HttpNoCache);
  EXPECT_EQ(Job.HTTPFieldName, "upload");
  EXPECT_EQ(Job.ProxyHost, "proxy");
  EXPECT_EQ(Job.ProxyPort, "3128");
  EXPECT_EQ(Job.ProxyMode, 2);
  EXPECT_EQ(Job.ProxyUserName, "pu");
  EXPECT_EQ(Job.ProxyPassword, "pp");
  EXPECT_TRUE(Job.UnknownKeys.empty());
  EXPECT_TRUE(Job.TlsVerify);
  EXPECT_EQ(Job.TlsCaFile, "/etc/ca.pem");
  EXPECT_EQ(Job.FtpTls, FtpTlsMode::Implicit);
  EXPECT_EQ(Job.Retries, 3);
  EXPECT_EQ(Job.RetryDelay, 250);
}

TEST(JobFile, RetryKeysArePulledIntoTheirRange) {
  EXPECT_EQ(LoadOne("FTPGET", "Retries=1000").Retries, 100);
  EXPECT_EQ(LoadOne("FTPGET", "Retries=-2").Retries, 0);
  EXPECT_EQ(LoadOne("FTPGET", "Retries=many").Retries, 0);
  EXPECT_EQ(LoadOne("HTTPGET", "RetryDelay=86400000").RetryDelay, 600000);
  EXPECT_EQ(LoadOne("HTTPGET", "RetryDelay=-1").RetryDelay, 0);
  EXPECT_EQ(RetryDelayBefore(1, 10000), 10000);
  EXPECT_EQ(RetryDelayBefore(3, 10000), 40000);
  EXPECT_EQ(RetryDelayBefore(100, 10000), 600000);
}

TEST(JobFile, ModeIsMatchedIgnoringCaseAndAnythingElseIsAnFtpDownload) {
  EXPECT_EQ(LoadOne("httpget", "").Mode, JobMode::HttpGet);
  EXPECT_EQ(LoadOne("FtpPut", "").Mode, JobMode::FtpPut);
  EXPECT_EQ(LoadOne("  HttpPostFile  ", "").Mode, JobMode::HttpPostFile);
  EXPECT_EQ(LoadOne("HTTP GET", "").Mode, JobMode::FtpGet);
  EXPECT_EQ(LoadOne("HTTPPUTT", "").Mode, JobMode::FtpGet);
  EXPECT_EQ(LoadOne("", "").Mode, JobMode::FtpGet);
  // The misread mode also picks the FTP defaults.
  EXPECT_EQ(LoadOne("HTTP GET", "").Target, "localhost");
  // Only a Mode that is written and unknown keeps its job from running.
  EXPECT_EQ(LoadOne("HTTPPUTT", "").UnknownMode, "HTTPPUTT");
  EXPECT_EQ(LoadOne("", "").UnknownMode, "");
  EXPECT_EQ(Load("[job]\nTarget=x\n")[0].UnknownMode, std::nullopt);
}

TEST(JobFile, PortsOutsideTheRangeFallBackToTheModesPort) {
  for (const std::string Bad : {"0", "70000", "abc", "65536", "-21", "", "21x"}) {
    SCOPED_TRACE(Bad);
    EXPECT_EQ(LoadOne("FTPGET", "TargetPort=" + Bad).TargetPort, "21");
    EXPECT_EQ(LoadOne("HTTPGET", "TargetPort=" + Bad).TargetPort, "80");
    EXPECT_EQ(LoadOne("FTPPUT", "ProxyPort=" + Bad).ProxyPort, "21");
    EXPECT_EQ(LoadOne("HTTPPOSTFILE", "ProxyPort=" + Bad).ProxyPort, "80");
  }
  EXPECT_EQ(LoadOne("HTTPGET", "TargetPort=0x15").TargetPort, "21");
  EXPECT_EQ(LoadOne("FTPGET", "TargetPort=\" 2121\"").TargetPort, "2121");
  EXPECT_EQ(LoadOne("FTPGET", "TargetPort=+0990").TargetPort, "990");
  EXPECT_EQ(LoadOne("FTPGET", "TargetPort=65535").TargetPort, "65535");
  EXPECT_EQ(LoadOne("HTTPGET", "TargetPort=1").TargetPort, "1");
  EXPECT_EQ(LoadOne("HTTPGET", "ProxyPort=$1F90").ProxyPort, "8080");
}

TEST(JobFile, TimeoutBelowOneOrUnreadableIsSixtySeconds) {
  for (const std::string Bad : {"-5", "0", "abc", "2147483648", "1.5", ""}) {
    SCOPED_TRACE(Bad);
    EXPECT_EQ(LoadOne("FTPGET", "Timeout=" + Bad).Timeout, 60000);
  }
  EXPECT_EQ(LoadOne("FTPGET", "Timeout=1").Timeout, 1);
  EXPECT_EQ(LoadOne("HTTPGET", "Timeout=2147483647").Timeout, 2147483647);
  EXPECT_EQ(LoadOne("HTTPGET", "Timeout=0x3e8").Timeout, 1000);
}

TEST(JobFile, IntegersAreDecimalOrHexadecimalWithinThirtyTwoBits) {
  // ProxyMode has no range rule of its own, so it shows the raw conversion.
  const std::pair<std::string, std::int32_t> Cases[] = {
      {"7", 7},           {"+7", 7},          {"-7", -7},         {"$1F", 31},
      {"$1f", 31},        {"0x1F", 31},       {"0X1f", 31},       {"-0x10", -16},
      {"-$10", -16},      {"\"  -3\"", -3},   {"0007", 7},        {"2147483647", 2147483647},
      {"-2147483648", -2147483647 - 1},       {"0x7FFFFFFF", 2147483647},
      // Everything below is unreadable and gives the default 0.
      {"2147483648", 0},  {"-2147483649", 0}, {"0x80000000", 0},  {"$FFFFFFFF", 0},
      {"99999999999999999999", 0},            {"$", 0},           {"0x", 0},
      {"-", 0},           {"12a", 0},         {"1 2", 0},         {"1.0", 0},
      {"$-1", 0},         {"0x0x1", 0},       {"x15", 0},         {"\"3 \"", 0},
      {"one", 0},
  };
  for (const auto& [Text, Expected] : Cases) {
    SCOPED_TRACE(Text);
    EXPECT_EQ(LoadOne("FTPGET", "ProxyMode=" + Text).ProxyMode, Expected);
  }
}

TEST(JobFile, SomeSwitchesNeedTheWordTrueOthersTheWordFalse) {
  for (const std::string On : {"true", "True", "TRUE", " tRuE "}) {
    SCOPED_TRACE(On);
    EXPECT_TRUE(LoadOne("FTPGET", "DeleteMode=" + On).DeleteMode);
    EXPECT_TRUE(LoadOne("HTTPGET", "HttpKeepAlive=" + On).HttpKeepAlive);
    EXPECT_TRUE(LoadOne("HTTPGET", "TlsVerify=" + On).TlsVerify);
  }
  for (const std::string NotTrue : {"yes", "1", "on", "", "truee"}) {
    SCOPED_TRACE(NotTrue);
    EXPECT_FALSE(LoadOne("FTPGET", "DeleteMode=" + NotTrue).DeleteMode);
    EXPECT_FALSE(LoadOne("HTTPGET", "HttpKeepAlive=" + NotTrue).HttpKeepAlive);
    EXPECT_FALSE(LoadOne("HTTPGET", "TlsVerify=" + NotTrue).TlsVerify);
  }
  for (const std::string Off : {"false", "False", "FALSE"}) {
    SCOPED_TRACE(Off);
    EXPECT_FALSE(LoadOne("FTPGET", "TouchDateMode=" + Off).TouchDateMode);
    EXPECT_FALSE(LoadOne("FTPGET", "FtpBinaryMode=" + Off).FtpBinaryMode);
    EXPECT_FALSE(LoadOne("FTPGET", "FtpPassiveMode=" + Off).FtpPassiveMode);
    EXPECT_FALSE(LoadOne("HTTPGET", "HttpNoCache=" + Off).HttpNoCache);
    EXPECT_FALSE(LoadOne("HTTPGET", "HttpSaveHeader=" + Off).HttpSaveHeader);
  }
  for (const std::string NotFalse : {"0", "no", "", "off", "falsch"}) {
    SCOPED_TRACE(NotFalse);
    EXPECT_TRUE(LoadOne("FTPGET", "TouchDateMode=" + NotFalse).TouchDateMode);
    EXPECT_TRUE(LoadOne("FTPGET", "FtpBinaryMode=" + NotFalse).FtpBinaryMode);
    EXPECT_TRUE(LoadOne("FTPGET", "FtpPassiveMode=" + NotFalse).FtpPassiveMode);
    EXPECT_TRUE(LoadOne("HTTPGET", "HttpNoCache=" + NotFalse).HttpNoCache);
    EXPECT_TRUE(LoadOne("HTTPGET", "HttpSaveHeader=" + NotFalse).HttpSaveHeader);
  }
}

TEST(JobFile, HttpProtocolIsOnePointOneOnlyWhenWrittenSo) {
  EXPECT_EQ(LoadOne("HTTPGET", "HttpProtocol=1.1").HttpProtocol, "1.1");
  for (const std::string Other : {"1.0", "2", "", "1.10", "HTTP/1.1"}) {
    SCOPED_TRACE(Other);
    EXPECT_EQ(LoadOne("HTTPGET", "HttpProtocol=" + Other).HttpProtocol, "1.0");
  }
}

TEST(JobFile, TextsAreStoredAsWritten) {
  EXPECT_EQ(LoadOne("FTPGET", "LocalPath=C:\\inbox\\").LocalPath, "C:\\inbox\\");
  EXPECT_EQ(LoadOne("FTPPUT", "LocalPath=out\\*.txt").LocalPath, "out\\*.txt");
  EXPECT_EQ(LoadOne("FTPGET", "RemotePath=/outgoing/*.csv").RemotePath, "/outgoing/*.csv");
  EXPECT_EQ(LoadOne("FTPGET", "Password=a=b;c #d").Password, "a=b;c #d");
  EXPECT_EQ(LoadOne("FTPGET", "UserName=\"  padded  \"").UserName, "  padded  ");
  EXPECT_EQ(LoadOne("HTTPGET", "Target=HTTP://Host/A B/").Target, "HTTP://Host/A B/");
  EXPECT_EQ(LoadOne("HTTPPOSTFILE", "HTTPFieldName=").HTTPFieldName, "");
  EXPECT_EQ(LoadOne("FTPGET", "Target=").Target, "");
}

TEST(JobFile, MissingFileIsReportedWithItsFullPathAndLoadsNothing) {
  TempDir Dir;
  TArrayOftarvoParam Jobs(3);
  std::string Output;
  {
    CapturedStdout Captured;
    EXPECT_EQ(LoadJobs(Dir / "nested/../absent.ini", Jobs), 2);
    Output = Captured.Text();
  }
  EXPECT_TRUE(Jobs.empty());
  const auto Lines = StripStamps(Output);
  ASSERT_EQ(Lines.size(), 1u);
  EXPECT_EQ(Lines[0], "ERROR: Not Found INI file. " + Dir.Path() + "/absent.ini");
}

TEST(JobFile, FileWithoutSectionsGivesNoJobs) {
  EXPECT_TRUE(Load("").empty());
  EXPECT_TRUE(Load("Mode=FTPPUT\n; only a comment\n\n").empty());
}

TEST(JobFile, EverySectionIsAJobEvenWhenNamesRepeat) {
  const TArrayOftarvoParam Jobs =
      Load("[night]\nMode=FTPPUT\nTarget=a\n[NIGHT]\nTarget=b\n[night]\nMode=HTTPGET\n");
  ASSERT_EQ(Jobs.size(), 3u);
  EXPECT_EQ(Jobs[0].SectionName, "night");
  EXPECT_EQ(Jobs[0].Mode, JobMode::FtpPut);
  EXPECT_EQ(Jobs[0].Target, "a");
  EXPECT_EQ(Jobs[1].SectionName, "NIGHT");
  EXPECT_EQ(Jobs[1].Mode, JobMode::FtpGet);
  EXPECT_EQ(Jobs[1].Target, "b");
  EXPECT_EQ(Jobs[2].Mode, JobMode::HttpGet);
  EXPECT_EQ(Jobs[2].Target, "http://localhost/");
}

TEST(JobFile, WindowsEditorFilesLoadAlike) {
  const TArrayOftarvoParam Jobs = Load(
      "\xEF\xBB\xBF[fetch]\r\nMode=FTPGET\r\nTarget=fileserver\r\nRemotePath=/outgoing/*.csv\r\n"
      "LocalPath=C:\\inbox\\\r\nDeleteMode=True\r\n[send]\r\nMode=FTPPUT\r\nTarget=fileserver\r\n"
      "RemotePath=/incoming\r\nLocalPath=C:\\outbox\\*.txt\r\n");
  ASSERT_EQ(Jobs.size(), 2u);
  EXPECT_EQ(Jobs[0].SectionName, "fetch");
  EXPECT_EQ(Jobs[0].Target, "fileserver");
  EXPECT_EQ(Jobs[0].LocalPath, "C:\\inbox\\");
  EXPECT_TRUE(Jobs[0].DeleteMode);
  EXPECT_EQ(Jobs[1].Mode, JobMode::FtpPut);
  EXPECT_EQ(Jobs[1].RemotePath, "/incoming");
  EXPECT_EQ(Jobs[1].LocalPath, "C:\\outbox\\*.txt");
}

TEST(JobFile, LargeFileLoadsEveryJobQuickly) {
  TempDir Dir;
  std::string Text;
  const std::string Filler(300, 'f');
  for (int I = 0; I < 10000; ++I) {
    const std::string N = std::to_string(I);
    Text += "[job" + N + "]\r\nMode=" + (I % 2 ? "FTPPUT" : "HTTPGET") + "\r\nTarget=host" + N +
            "\r\nTargetPort=" + std::to_string(1000 + I) + "\r\nUserName=user" + N +
            "\r\nPassword=pw\r\nRemotePath=/remote/" + N + "\r\nLocalPath=/local/" + N +
            "\r\nProxyHost=proxy\r\n; " + Filler + "\r\nHTTPFieldName=" + Filler + "\r\n\r\n";
  }
  ASSERT_GT(Text.size(), 5u * 1000 * 1000);
  WriteFile(Dir / "big.ini", Text);
  TArrayOftarvoParam Jobs;
  EXPECT_LT(TimedLoad(Dir / "big.ini", Jobs), LoadSecondsLimit);
  ASSERT_EQ(Jobs.size(), 10000u);
  EXPECT_EQ(Jobs[0].SectionName, "job0");
  EXPECT_EQ(Jobs[0].Mode, JobMode::HttpGet);
  EXPECT_EQ(Jobs[9999].SectionName, "job9999");
  EXPECT_EQ(Jobs[9999].Mode, JobMode::FtpPut);
  EXPECT_EQ(Jobs[9999].Target, "host9999");
  EXPECT_EQ(Jobs[9999].TargetPort, "10999");
  EXPECT_EQ(Jobs[5000].LocalPath, "/local/5000");
  EXPECT_EQ(Jobs[5000].HTTPFieldName, Filler);
}

TEST(JobFile, HundredThousandSectionsAllBecomeJobs) {
  TempDir Dir;
  std::string Text;
  for (int I = 0; I < 100000; ++I) Text += "[s" + std::to_string(I) + "]\nTarget=t\n";
  WriteFile(Dir / "many.ini", Text);
  TArrayOftarvoParam Jobs;
  EXPECT_LT(TimedLoad(Dir / "many.ini", Jobs), LoadSecondsLimit);
  ASSERT_EQ(Jobs.size(), 100000u);
  EXPECT_EQ(Jobs[99999].SectionName, "s99999");
  EXPECT_EQ(Jobs[99999].Target, "t");
}

TEST(JobFile, MegabyteLinesAreCutNotFatal) {
  TempDir Dir;
  const std::string Huge(1 << 20, 'v');
  WriteFile(Dir / "long.ini", "; " + Huge + "\n[" + Huge + "]\n" + Huge + "\nTarget=" + Huge + "\nTimeout=" +
                                  std::string(1 << 20, '7') + "\nk" + Huge + "=x\n[next]\nUserName=u\n");
  TArrayOftarvoParam Jobs;
  EXPECT_LT(TimedLoad(Dir / "long.ini", Jobs), LoadSecondsLimit);
  ASSERT_EQ(Jobs.size(), 2u);
  EXPECT_EQ(Jobs[0].SectionName, Huge);
  EXPECT_EQ(Jobs[0].Target, std::string(2047, 'v'));
  EXPECT_EQ(Jobs[0].Timeout, 60000);
  EXPECT_EQ(Jobs[1].UserName, "u");
}

TEST(JobFile, BinaryGarbageAndControlCharactersLoadWithFallbacks) {
  TempDir Dir;
  std::mt19937 Random(20260512);
  std::string Garbage(4 << 20, '\0');
  for (char& C : Garbage) C = static_cast<char>(Random() & 0xFF);
  WriteFile(Dir / "random.ini", Garbage);
  TArrayOftarvoParam Jobs;
  EXPECT_LT(TimedLoad(Dir / "random.ini", Jobs), LoadSecondsLimit);
  for (const TtarvoParam& Job : Jobs) {
    EXPECT_GE(Job.Timeout, 1);
    EXPECT_LE(Job.Target.size(), 2047u);
  }

  std::string Controls = "[ctl\x01]\nMode=HTTP\x07GET\nTarget=a\x01";
  Controls += '\0';
  Controls += "b\x7f\x1b[2J\nTargetPort=\x02" "21\nTimeout=1\x08" "0\nHttpKeepAlive=TRUE";
  Controls += '\0';
  Controls += "\n";
  const TArrayOftarvoParam Odd = Load(Controls);
  ASSERT_EQ(Odd.size(), 1u);
  EXPECT_EQ(Odd[0].SectionName, "ctl\x01");
  EXPECT_EQ(Odd[0].Mode, JobMode::FtpGet);
  EXPECT_EQ(Odd[0].Target, std::string("a\x01\0b\x7f\x1b[2J", 9));
  EXPECT_EQ(Odd[0].TargetPort, "21");
  EXPECT_EQ(Odd[0].Timeout, 60000);
  EXPECT_FALSE(Odd[0].HttpKeepAlive);
}

TEST(JobFile, TheDemoJobFileLoads) {
  TArrayOftarvoParam Jobs;
  ASSERT_EQ(LoadJobs(TARVO_SOURCE_DIR "/examples/demo.ini", Jobs), 0);
  ASSERT_EQ(Jobs.size(), 2u);
  EXPECT_EQ(Jobs[0].Mode, JobMode::FtpGet);
  EXPECT_EQ(Jobs[1].Mode, JobMode::FtpPut);
  EXPECT_EQ(Jobs[1].LocalPath, ".\\outbox\\*.txt");
}

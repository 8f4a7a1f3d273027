// FTP data connections and transfers against a scripted server: passive
// (EPSV, PASV fallback, odd and hostile 227/229 replies, the rule that a
// 227 never redirects the connection), active (EPRT, PORT fallback), IPv6,
// listings, downloads and uploads with resume, and transfers that fail
// half-way.
#include <gtest/gtest.h>

#include "ftpsend_fixture.h"
#include "net/blocksock.h"
#include "protocols/ftplist.h"
#include "util/textutil.h"

using Lines = std::vector<std::string>;
using namespace testsupport;

namespace {

const std::string ListingText =
    "-rw-r--r--   1 ftp      ftp          1234 Jan 01  2020 a.txt\\r\\n"
    "drwxr-xr-x   2 ftp      ftp          4096 Jan 01  2020 sub\\r\\n";

std::string Generated(std::size_t Count) {
  std::string Data(Count, '\0');
  for (std::size_t I = 0; I < Count; ++I) Data[I] = static_cast<char>(I % 256);
  return Data;
}

}  // namespace

class FtpsendTransferTest : public FtpsendScriptedTest {
 protected:
  void ServeLoggedOn(const std::string& Script, bool Resumable = false, const std::string& Host = "127.0.0.1") {
    Serve(std::string(Resumable ? ResumableLoginScript : LoginScript) + Script, Host);
    ASSERT_TRUE(Ftp.LogOn());
    LogonCount_ = Resumable ? ResumableLogonCommands.size() : LogonCommands.size();
  }
  Lines Commands() const { return SentAfter(LogonCount_); }
  // Replaces the port numbers of EPRT and PORT lines, which vary per run.
  static std::string WithoutPort(const std::string& Line) {
    if (Line.rfind("EPRT", 0) == 0) return Line.substr(0, Line.rfind('|', Line.size() - 2)) + "|*|";
    if (Line.rfind("PORT", 0) == 0) {
      const std::size_t Cut = Line.rfind(',', Line.rfind(',') - 1);
      return Line.substr(0, Cut) + ",*";
    }
    return Line;
  }
  Lines CommandsWithoutPorts() const {
    Lines Result;
    for (const std::string& Line : Commands()) Result.push_back(WithoutPort(Line));
    return Result;
  }

 private:
  std::size_t LogonCount_ = 0;
};

// ---- Passive ----

TEST_F(FtpsendTransferTest, ListingOverExtendedPassive) {
  ServeLoggedOn("on EPSV 229 Entering Extended Passive Mode (|||{epsv}|)\non LIST 150 Here || @send " + ListingText +
                " || 226 Done\n");
  ASSERT_TRUE(Ftp.ListDirectory("", false));
  EXPECT_EQ(Commands(), (Lines{"TYPE A", "EPSV 1", "LIST"}));
  EXPECT_EQ(Ftp.DataIP(), "127.0.0.1");
  EXPECT_EQ(Ftp.FtpList().RawLines.size(), 2u);
  EXPECT_EQ(Ftp.FtpList().RawLines[1], "drwxr-xr-x   2 ftp      ftp          4096 Jan 01  2020 sub");
  EXPECT_TRUE(Ftp.DataStream().Data().empty()) << "the listing is held once, as its lines";
}

TEST_F(FtpsendTransferTest, ListingBeyondTheLimitFails) {
  ServeLoggedOn("on EPSV 229 (|||{epsv}|)\non LIST 150 Here || @send " + ListingText + " || 226 Done\n");
  Ftp.MaxListingBytes = 70;
  EXPECT_FALSE(Ftp.ListDirectory("", false));
  EXPECT_TRUE(Ftp.ListingTooLarge());
  EXPECT_EQ(Ftp.FtpList().Count(), 0);
}

TEST_F(FtpsendTransferTest, ListingSplitsEveryLineEnd) {
  ServeLoggedOn("on EPSV 229 (|||{epsv}|)\non LIST 150 Here || @send one\\r\\ntwo\\rthree\\nfour\\0five || 226 Done\n");
  ASSERT_TRUE(Ftp.ListDirectory("pub", false));
  EXPECT_EQ(Ftp.FtpList().RawLines, (Lines{"one", "two", "three", "four"}));
  EXPECT_EQ(Commands().back(), "LIST pub");
}

TEST_F(FtpsendTransferTest, NamesOnlyListingStaysUnparsed) {
  ServeLoggedOn("on EPSV 229 (|||{epsv}|)\non NLST 150 Here || @send a.txt\\r\\nb.txt\\r\\n || 226 Done\n");
  ASSERT_TRUE(Ftp.ListDirectory("", true));
  EXPECT_EQ(Ftp.DataStream().Data(), "a.txt\r\nb.txt\r\n");
  EXPECT_TRUE(Ftp.FtpList().RawLines.empty());
  EXPECT_EQ(Commands().back(), "NLST");
}

TEST_F(FtpsendTransferTest, EpsvRefusedThenPasv) {
  ServeLoggedOn("on EPSV 500 Unknown command\non PASV 227 Entering Passive Mode ({pasv})\n"
                "on RETR 150 Sending || @send hello || 226 Done\n");
  ASSERT_TRUE(Ftp.Download("a.txt", false));
  EXPECT_EQ(Ftp.DataStream().Data(), "hello");
  EXPECT_EQ(Commands(), (Lines{"EPSV 1", "PASV", "TYPE I", "RETR a.txt"}));
}

TEST_F(FtpsendTransferTest, ForceOldPortSendsOnlyPasv) {
  ServeLoggedOn("on PASV 227 Entering Passive Mode ({pasv})\non RETR 150 Sending || @send hello || 226 Done\n");
  Ftp.ForceOldPort = true;
  ASSERT_TRUE(Ftp.Download("a.txt", false));
  EXPECT_EQ(Commands(), (Lines{"PASV", "TYPE I", "RETR a.txt"}));
}

TEST_F(FtpsendTransferTest, PasvWithoutParentheses) {
  ServeLoggedOn("on EPSV 500 no\non PASV 227 Entering Passive Mode {pasv}\n"
                "on RETR 150 Sending || @send hello || 226 Done\n");
  ASSERT_TRUE(Ftp.Download("a.txt", false));
  EXPECT_EQ(Ftp.DataStream().Data(), "hello");
  EXPECT_EQ(Ftp.DataIP(), "127.0.0.1");
}

TEST_F(FtpsendTransferTest, PasvAddressOfAnotherHostIsNotFollowed) {
  // The listener is on 127.0.0.1; nothing listens on 127.0.0.2, so the
  // download works only if the connection goes to the control peer.
  ServeLoggedOn("on EPSV 500 no\non PASV 227 Entering Passive Mode (127,0,0,2,{pasvport})\n"
                "on RETR 150 Sending || @send hello || 226 Done\n");
  ASSERT_TRUE(Ftp.Download("a.txt", false));
  EXPECT_EQ(Ftp.DataStream().Data(), "hello");
  EXPECT_EQ(Ftp.DataIP(), "127.0.0.2");
}

TEST_F(FtpsendTransferTest, GarbagePassiveRepliesFailWithoutTransfer) {
  ServeLoggedOn("on EPSV 500 no\non PASV 227 garbage\non PASV 227 (1,2,3)\non PASV 227 (127,0,0,1,999,999)\n"
                "on PASV 227 (a,b,c,d,e,f)\non RETR 150 unexpected\n");
  EXPECT_FALSE(Ftp.Download("a", false));
  EXPECT_FALSE(Ftp.Download("a", false));
  EXPECT_FALSE(Ftp.Download("a", false));
  EXPECT_FALSE(Ftp.Download("a", false));
  for (const std::string& Line : Commands()) EXPECT_NE(Line.rfind("RETR", 0), 0u) << Line;
}

TEST_F(FtpsendTransferTest, GarbageExtendedReplyFails) {
  ServeLoggedOn("on EPSV 229 Entering Extended Passive Mode (|||abc|)\non RETR 150 unexpected\n");
  EXPECT_FALSE(Ftp.Download("a", false));
  EXPECT_EQ(Ftp.DataPort(), "");
  EXPECT_EQ(Commands(), (Lines{"EPSV 1"}));
}

TEST_F(FtpsendTransferTest, ExtendedPassiveThroughFirewallGoesToTheFirewallHost) {
  Serve("greet 220 Proxy\non USER 331 Password\non PASS 230 ok\non REST 502 no\n"
        "on EPSV 229 Entering Extended Passive Mode (|||{epsv}|)\non RETR 150 Sending || @send hello || 226 Done\n");
  Ftp.FWHost = "127.0.0.1";
  Ftp.FWPort = std::to_string(Server.Port());
  Ftp.FWMode = 3;
  Ftp.TargetHost = "127.0.0.2";  // nothing listens there
  ASSERT_TRUE(Ftp.LogOn());
  ASSERT_TRUE(Ftp.Download("a.txt", false));
  EXPECT_EQ(Ftp.DataIP(), "127.0.0.1");
  EXPECT_EQ(Ftp.DataStream().Data(), "hello");
}

TEST_F(FtpsendTransferTest, ExtendedPassiveOverIPv6) {
  ServeLoggedOn("on EPSV 229 Entering Extended Passive Mode (|||{epsv}|)\n"
                "on RETR 150 Sending || @send hello || 226 Done\n",
                false, "::1");
  ASSERT_TRUE(Ftp.Download("a.txt", false));
  EXPECT_EQ(Ftp.DataStream().Data(), "hello");
  EXPECT_EQ(Commands().front(), "EPSV 2");
}

TEST_F(FtpsendTransferTest, NoPasvOverIPv6) {
  ServeLoggedOn("on EPSV 500 no\non PASV 227 Entering Passive Mode (127,0,0,1,0,21)\n", false, "::1");
  EXPECT_FALSE(Ftp.Download("a.txt", false));
  EXPECT_EQ(Commands(), (Lines{"EPSV 2"}));
}

// ---- Active ----

TEST_F(FtpsendTransferTest, ActiveEprt) {
  ServeLoggedOn("on EPRT 200 ok\non RETR 150 Sending || @send hello || 226 Done\n");
  Ftp.PassiveMode = false;
  ASSERT_TRUE(Ftp.Download("a.txt", false));
  EXPECT_EQ(Ftp.DataStream().Data(), "hello");
  EXPECT_EQ(Ftp.DataIP(), "127.0.0.1");
  EXPECT_EQ(Commands(), (Lines{"EPRT |1|127.0.0.1|" + Ftp.DataPort() + "|", "TYPE I", "RETR a.txt"}));
}

TEST_F(FtpsendTransferTest, ActiveEprtRefusedThenPort) {
  ServeLoggedOn("on EPRT 500 no\non PORT 200 ok\non RETR 150 Sending || @send hello || 226 Done\n");
  Ftp.PassiveMode = false;
  ASSERT_TRUE(Ftp.Download("a.txt", false));
  EXPECT_EQ(Ftp.DataStream().Data(), "hello");
  const int Port = std::stoi(Ftp.DataPort());
  EXPECT_EQ(Commands(), (Lines{"EPRT |1|127.0.0.1|" + Ftp.DataPort() + "|",
                               "PORT 127,0,0,1," + std::to_string(Port / 256) + "," + std::to_string(Port % 256),
                               "TYPE I", "RETR a.txt"}));
}

TEST_F(FtpsendTransferTest, ActiveForceOldPortUpload) {
  ServeLoggedOn("on PORT 200 ok\non ALLO 202 ok\non STOR 150 Go ahead || @recv " + (Dir / "received") +
                " || 226 Stored\n");
  Ftp.PassiveMode = false;
  Ftp.ForceOldPort = true;
  Ftp.DataStream().Data() = "uploaded data";
  ASSERT_TRUE(Ftp.Upload("up.bin", false));
  EXPECT_EQ(ReadFile(Dir / "received"), "uploaded data");
  EXPECT_EQ(CommandsWithoutPorts(), (Lines{"PORT 127,0,0,1,*", "TYPE I", "ALLO 13", "STOR up.bin"}));
}

TEST_F(FtpsendTransferTest, ActiveTurnsAwayAnyoneButTheServer) {
  ServeLoggedOn("on EPRT 200 ok\non RETR 150 Sending || @intrude forged || @send hello || 226 Done\n");
  Ftp.PassiveMode = false;
  ASSERT_TRUE(Ftp.Download("a.txt", false));
  EXPECT_EQ(Ftp.DataStream().Data(), "hello");
}

TEST_F(FtpsendTransferTest, ActiveListensOnControlAddress) {
  ServeLoggedOn("on EPRT 200 ok\non RETR 150 Sending || @send x || 226 Done\n");
  Ftp.PassiveMode = false;
  Ftp.IPInterface = "0.0.0.0";
  ASSERT_TRUE(Ftp.Download("a", false));
  EXPECT_EQ(Ftp.DataIP(), Ftp.Sock().LocalAddress());
}

TEST_F(FtpsendTransferTest, ActiveOverIPv6WithoutEprtFails) {
  ServeLoggedOn("on EPRT 500 no\non PORT 200 ok\n", false, "::1");
  Ftp.PassiveMode = false;
  EXPECT_FALSE(Ftp.Download("a.txt", false));
  EXPECT_EQ(CommandsWithoutPorts(), (Lines{"EPRT |2|::1|*|"}));
}

TEST_F(FtpsendTransferTest, ActiveServerNeverConnects) {
  ServeLoggedOn("on EPRT 200 ok\non RETR 150 Sending\n");
  Ftp.PassiveMode = false;
  Ftp.Timeout = 500;
  EXPECT_FALSE(Ftp.Download("a.txt", false));
}

// ---- Transfers that go wrong ----

TEST_F(FtpsendTransferTest, PreliminaryReplyNeverComes) {
  ServeLoggedOn("on EPSV 229 (|||{epsv}|)\non RETR @silent\n");
  Ftp.Timeout = 500;
  EXPECT_FALSE(Ftp.Download("a.txt", false));
  EXPECT_EQ(Ftp.ResultCode(), 0);
}

TEST_F(FtpsendTransferTest, RefusedRetrLeavesReplyForCaller) {
  ServeLoggedOn("on EPSV 229 (|||{epsv}|)\non RETR 550 No such file\n");
  EXPECT_FALSE(Ftp.Download("a.txt", false));
  EXPECT_EQ(Ftp.ResultString(), "550 No such file");
  EXPECT_FALSE(Ftp.Download("", false));
}

TEST_F(FtpsendTransferTest, DataConnectionCutShort) {
  ServeLoggedOn("on EPSV 229 (|||{epsv}|)\non RETR 150 Sending || @sendcut 300000 || 426 Connection closed\n");
  EXPECT_FALSE(Ftp.Download("a.txt", false));
  EXPECT_EQ(Ftp.ResultCode(), 426);
  EXPECT_LE(Ftp.DataStream().Size(), 300000);
}

TEST_F(FtpsendTransferTest, SilentDataConnectionEndsAtTimeout) {
  ServeLoggedOn("on EPSV 229 (|||{epsv}|)\non RETR 150 Sending || @datahang || 451 Aborted\n");
  Ftp.Timeout = 500;
  EXPECT_FALSE(Ftp.Download("a.txt", false));
}

TEST_F(FtpsendTransferTest, DataClosedAtOnceGivesEmptyFile) {
  ServeLoggedOn("on EPSV 229 (|||{epsv}|)\non RETR 150 Sending || @dataclose || 226 Done\n");
  Ftp.DirectFile = true;
  Ftp.DirectFileName = Dir / "empty.bin";
  ASSERT_TRUE(Ftp.Download("a.txt", false));
  EXPECT_TRUE(FileExists(Ftp.DirectFileName));
  EXPECT_EQ(ReadFile(Ftp.DirectFileName), "");
}

// ---- Downloads ----

TEST_F(FtpsendTransferTest, DownloadIntoFileTruncatesIt) {
  ServeLoggedOn("on EPSV 229 (|||{epsv}|)\non RETR 150 Sending || @sendsize 200000 || 226 Done\n");
  Ftp.DirectFile = true;
  Ftp.DirectFileName = Dir / "down.bin";
  WriteFile(Ftp.DirectFileName, std::string(500000, 'z'));
  ASSERT_TRUE(Ftp.Download("a.bin", false));
  EXPECT_EQ(ReadFile(Ftp.DirectFileName), Generated(200000));
  EXPECT_EQ(Ftp.DataStream().Size(), 0);
}

TEST_F(FtpsendTransferTest, DownloadTextMode) {
  ServeLoggedOn("on EPSV 229 (|||{epsv}|)\non RETR 150 Sending || @send a\\r\\n || 226 Done\n");
  Ftp.BinaryMode = false;
  ASSERT_TRUE(Ftp.Download("a.txt", false));
  EXPECT_EQ(Commands(), (Lines{"EPSV 1", "TYPE A", "RETR a.txt"}));
}

TEST_F(FtpsendTransferTest, DownloadIntoStreamEmptiesItFirst) {
  ServeLoggedOn("on EPSV 229 (|||{epsv}|)\non RETR 150 Sending || @send new || 226 Done\n");
  Ftp.DataStream().Data() = "old content";
  ASSERT_TRUE(Ftp.Download("a.txt", false));
  EXPECT_EQ(Ftp.DataStream().Data(), "new");
}

TEST_F(FtpsendTransferTest, ResumedDownloadAppends) {
  ServeLoggedOn("on EPSV 229 (|||{epsv}|)\non RETR 150 Sending || @send defgh || 226 Done\n", true);
  Ftp.DirectFile = true;
  Ftp.DirectFileName = Dir / "part.bin";
  WriteFile(Ftp.DirectFileName, "abc");
  ASSERT_TRUE(Ftp.Download("a.bin", true));
  EXPECT_EQ(ReadFile(Ftp.DirectFileName), "abcdefgh");
  EXPECT_EQ(Commands(), (Lines{"EPSV 1", "TYPE I", "REST 3", "RETR a.bin"}));
}

TEST_F(FtpsendTransferTest, ResumedDownloadOfNothingSendsNoRest) {
  ServeLoggedOn("on EPSV 229 (|||{epsv}|)\non RETR 150 Sending || @send abc || 226 Done\n", true);
  Ftp.DirectFile = true;
  Ftp.DirectFileName = Dir / "fresh.bin";
  ASSERT_TRUE(Ftp.Download("a.bin", true));
  EXPECT_EQ(ReadFile(Ftp.DirectFileName), "abc");
  EXPECT_EQ(Commands(), (Lines{"EPSV 1", "TYPE I", "RETR a.bin"}));
}

TEST_F(FtpsendTransferTest, ResumeWithoutServerSupportIsFreshDownload) {
  ServeLoggedOn("on EPSV 229 (|||{epsv}|)\non RETR 150 Sending || @send abc || 226 Done\n");
  Ftp.DataStream().Data() = "stale";
  ASSERT_TRUE(Ftp.Download("a.bin", true));
  EXPECT_EQ(Ftp.DataStream().Data(), "abc");
  EXPECT_EQ(Commands(), (Lines{"EPSV 1", "TYPE I", "RETR a.bin"}));
}

TEST_F(FtpsendTransferTest, RefusedRestFailsResumedDownload) {
  // The first three REST replies answer the probe during logon.
  ServeLoggedOn("on EPSV 229 (|||{epsv}|)\non REST 350 ok\non REST 350 ok\non REST 501 no\n", true);
  Ftp.DirectFile = true;
  Ftp.DirectFileName = Dir / "part.bin";
  WriteFile(Ftp.DirectFileName, "abc");
  EXPECT_FALSE(Ftp.Download("a.bin", true));
  EXPECT_EQ(ReadFile(Ftp.DirectFileName), "abc");
}

TEST_F(FtpsendTransferTest, UnwritableLocalFileFailsDownload) {
  ServeLoggedOn("on EPSV 229 (|||{epsv}|)\non RETR 150 Sending || @send abc || 226 Done\n");
  Ftp.DirectFile = true;
  Ftp.DirectFileName = Dir / "no/such/dir/file.bin";
  EXPECT_FALSE(Ftp.Download("a.bin", false));
  EXPECT_EQ(Ftp.ResultCode(), 0);
  EXPECT_NE(Ftp.ResultString().find("file.bin"), std::string::npos);
}

TEST_F(FtpsendTransferTest, FullDiskFailsDownload) {
  if (!FileExists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  ServeLoggedOn("on EPSV 229 (|||{epsv}|)\non RETR 150 Sending || @sendsize 100000 || 226 Done\n");
  Ftp.DirectFile = true;
  Ftp.DirectFileName = "/dev/full";
  EXPECT_FALSE(Ftp.Download("a.bin", false));
}

// ---- Uploads ----

TEST_F(FtpsendTransferTest, UploadFromFile) {
  ServeLoggedOn("on EPSV 229 (|||{epsv}|)\non ALLO 202 ok\non STOR 150 Go ahead || @recv " + (Dir / "received") +
                " || 226 Stored\n");
  Ftp.DirectFile = true;
  Ftp.DirectFileName = Dir / "source.bin";
  WriteFile(Ftp.DirectFileName, Generated(300000));
  ASSERT_TRUE(Ftp.Upload("up.bin", false));
  EXPECT_EQ(ReadFile(Dir / "received"), Generated(300000));
  EXPECT_EQ(Commands(), (Lines{"EPSV 1", "TYPE I", "ALLO 300000", "STOR up.bin"}));
}

TEST_F(FtpsendTransferTest, EmptyUploadOnResumableServerSendsNoRest) {
  ServeLoggedOn("on EPSV 229 (|||{epsv}|)\non ALLO 202 ok\non STOR 150 Go ahead || @recv " + (Dir / "received") +
                    " || 226 Stored\n",
                true);
  Ftp.DirectFile = true;
  Ftp.DirectFileName = Dir / "empty.bin";
  WriteFile(Ftp.DirectFileName, "");
  ASSERT_TRUE(Ftp.Upload("empty.bin", false));
  EXPECT_TRUE(FileExists(Dir / "received"));
  EXPECT_EQ(Commands(), (Lines{"EPSV 1", "TYPE I", "ALLO 0", "STOR empty.bin"}));
}

TEST_F(FtpsendTransferTest, ResumedUploadSendsTheRest) {
  ServeLoggedOn("on SIZE 213 4\non EPSV 229 (|||{epsv}|)\non ALLO 202 ok\non STOR 150 Go ahead || @recv " +
                    (Dir / "received") + " || 226 Stored\n",
                true);
  Ftp.DirectFile = true;
  Ftp.DirectFileName = Dir / "source.txt";
  WriteFile(Ftp.DirectFileName, "0123456789");
  ASSERT_TRUE(Ftp.Upload("up.txt", true));
  EXPECT_EQ(ReadFile(Dir / "received"), "456789");
  EXPECT_EQ(Commands(), (Lines{"SIZE up.txt", "EPSV 1", "TYPE I", "ALLO 6", "REST 4", "STOR up.txt"}));
}

TEST_F(FtpsendTransferTest, ResumedUploadOfCompleteFileSendsNothing) {
  ServeLoggedOn("on SIZE 213 10\non EPSV 229 (|||{epsv}|)\n", true);
  Ftp.DirectFile = true;
  Ftp.DirectFileName = Dir / "source.txt";
  WriteFile(Ftp.DirectFileName, "0123456789");
  ASSERT_TRUE(Ftp.Upload("up.txt", true));
  EXPECT_EQ(Commands(), (Lines{"SIZE up.txt", "EPSV 1", "TYPE I"}));
}

TEST_F(FtpsendTransferTest, ResumedUploadWhenRemoteIsLongerStartsOver) {
  ServeLoggedOn("on SIZE 213 99\non EPSV 229 (|||{epsv}|)\non STOR 150 Go ahead || @recv " + (Dir / "received") +
                    " || 226 Stored\n",
                true);
  Ftp.DataStream().Data() = "0123456789";
  ASSERT_TRUE(Ftp.Upload("up.txt", true));
  EXPECT_EQ(ReadFile(Dir / "received"), "0123456789");
  EXPECT_EQ(Commands(), (Lines{"SIZE up.txt", "EPSV 1", "TYPE I", "ALLO 10", "STOR up.txt"}));
}

TEST_F(FtpsendTransferTest, RefusedRestFailsResumedUpload) {
  ServeLoggedOn("on SIZE 213 4\non EPSV 229 (|||{epsv}|)\non REST 350 ok\non REST 350 ok\non REST 502 no\n",
                true);
  Ftp.DataStream().Data() = "0123456789";
  EXPECT_FALSE(Ftp.Upload("up.txt", true));
  EXPECT_EQ(Commands().back(), "REST 4");
}

TEST_F(FtpsendTransferTest, MissingSourceFailsBeforeAnyCommand) {
  ServeLoggedOn("on EPSV 229 (|||{epsv}|)\n");
  Ftp.DirectFile = true;
  Ftp.DirectFileName = Dir / "missing.bin";
  EXPECT_FALSE(Ftp.Upload("up.bin", false));
  EXPECT_FALSE(Ftp.AppendUpload("up.bin"));
  EXPECT_FALSE(Ftp.UploadUnique());
  EXPECT_TRUE(Commands().empty());
}

TEST_F(FtpsendTransferTest, UniqueAndAppend) {
  ServeLoggedOn("on EPSV 229 (|||{epsv}|)\non STOU 150 FILE: x1 || @recv " + (Dir / "unique") +
                " || 226 Stored\non APPE 150 Go ahead || @recv " + (Dir / "appended") + " || 226 Stored\n");
  Ftp.DataStream().Data() = "data";
  EXPECT_FALSE(Ftp.AppendUpload(""));
  ASSERT_TRUE(Ftp.UploadUnique());
  ASSERT_TRUE(Ftp.AppendUpload("log.txt"));
  EXPECT_EQ(ReadFile(Dir / "unique"), "data");
  EXPECT_EQ(ReadFile(Dir / "appended"), "data");
  EXPECT_EQ(Commands(), (Lines{"EPSV 1", "TYPE I", "ALLO 4", "STOU", "EPSV 1", "TYPE I", "ALLO 4", "APPE log.txt"}));
}

TEST_F(FtpsendTransferTest, RefusedStorFailsUpload) {
  ServeLoggedOn("on EPSV 229 (|||{epsv}|)\non STOR 553 Not allowed\n");
  Ftp.DataStream().Data() = "data";
  EXPECT_FALSE(Ftp.Upload("up.bin", false));
  EXPECT_EQ(Ftp.ResultCode(), 553);
}

// ---- Parsing the passive replies ----

TEST(FtpsendPassiveReplyTest, PasvWithParentheses) {
  TFTPSend Ftp;
  Ftp.ParsePassiveReply("227 Entering Passive Mode (192,0,2,10,19,137)");
  EXPECT_EQ(Ftp.DataIP(), "192.0.2.10");
  EXPECT_EQ(Ftp.DataPort(), "5001");
}

TEST(FtpsendPassiveReplyTest, PasvWithoutParentheses) {
  TFTPSend Ftp;
  Ftp.ParsePassiveReply("227 ok 192,0,2,11,4,1\r\n");
  EXPECT_EQ(Ftp.DataIP(), "192.0.2.11");
  EXPECT_EQ(Ftp.DataPort(), "1025");
}

TEST(FtpsendPassiveReplyTest, PasvGarbage) {
  TFTPSend Ftp;
  Ftp.ParsePassiveReply("227 )(");
  EXPECT_EQ(Ftp.DataIP(), "...");
  EXPECT_EQ(Ftp.DataPort(), "0");
  Ftp.ParsePassiveReply("227 (1, 2 ,3,4,x,99999999999999999999)");
  EXPECT_EQ(Ftp.DataIP(), "1.2.3.4");
  EXPECT_EQ(Ftp.DataPort(), "0");
  Ftp.ParsePassiveReply("");
  EXPECT_EQ(Ftp.DataPort(), "0");
  Ftp.ParsePassiveReply("227 Entering Passive Mode (127,0,0,1,40000000000000000,0)");
  EXPECT_EQ(Ftp.DataPort(), "0");
  Ftp.ParsePassiveReply("227 Entering Passive Mode (127,0,0,1,1,256)");
  EXPECT_EQ(Ftp.DataPort(), "0");
}

TEST(FtpsendPassiveReplyTest, ExtendedReply) {
  TFTPSend Ftp;
  Ftp.TargetHost = "ftp.example.com";
  Ftp.ParseExtendedPassiveReply("229 Entering Extended Passive Mode (|||6446|)");
  EXPECT_EQ(Ftp.DataPort(), "6446");
  EXPECT_EQ(Ftp.DataIP(), "ftp.example.com");
  Ftp.ParseExtendedPassiveReply("229 (|||x|)");
  EXPECT_EQ(Ftp.DataPort(), "");
  Ftp.ParseExtendedPassiveReply("229 nothing");
  EXPECT_EQ(Ftp.DataPort(), "");
}

// ---- Hostile listings ----

TEST_F(FtpsendTransferTest, HugeListingIsHeld) {
  const std::string Line(98, 'g');
  ServeLoggedOn("on EPSV 229 (|||{epsv}|)\non NLST 150 Here || @sendrepeat 500000 " + Line + " || 226 Done\n");
  Ftp.Timeout = 30000;
  ASSERT_TRUE(Ftp.ListDirectory("", true));
  EXPECT_EQ(Ftp.DataStream().Size(), 50000000);
}

TEST_F(FtpsendTransferTest, LargeListingIsParsed) {
  const std::string Line(98, 'g');
  ServeLoggedOn("on EPSV 229 (|||{epsv}|)\non LIST 150 Here || @sendrepeat 20000 " + Line + " || 226 Done\n");
  ASSERT_TRUE(Ftp.ListDirectory("", false));
  EXPECT_EQ(Ftp.FtpList().RawLines.size(), 20000u);
  EXPECT_EQ(Ftp.FtpList().Count() + Ftp.FtpList().RejectedLines.size(), 20000u);
}

TEST_F(FtpsendTransferTest, ZeroByteEndsListing) {
  ServeLoggedOn("on EPSV 229 (|||{epsv}|)\non LIST 150 Here || @sendsize 100000 || 226 Done\n");
  ASSERT_TRUE(Ftp.ListDirectory("", false));
  EXPECT_TRUE(Ftp.DataStream().Data().empty());
  EXPECT_TRUE(Ftp.FtpList().RawLines.empty());
}

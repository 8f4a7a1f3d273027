// The FTP control session against a scripted server: reply reading
// (multi-line, preliminary, odd and hostile replies), the logon with every
// firewall variant as an exact command sequence, the REST probe, the simple
// commands and logoff.
#include <gtest/gtest.h>

#include <chrono>

#include "ftpsend_fixture.h"
#include "net/blocksock.h"

using Lines = std::vector<std::string>;

// ---- Replies and greetings ----

using FtpsendReplyTest = FtpsendScriptedTest;

TEST_F(FtpsendReplyTest, MultiLineGreetingIsOneReply) {
  Serve("greet 220-Welcome || 220-second line || 220 Ready\n");
  ASSERT_TRUE(Ftp.ConnectControl());
  EXPECT_EQ(Ftp.ReadReply(), 220);
  EXPECT_EQ(Ftp.FullResult(), (Lines{"220-Welcome", "220-second line", "220 Ready"}));
  EXPECT_EQ(Ftp.ResultString(), "220 Ready");
}

TEST_F(FtpsendReplyTest, ContinuationLinesMayHoldOtherCodes) {
  Serve("greet 220-Welcome || 230 not the end || 220-still not || 220 Ready\n");
  ASSERT_TRUE(Ftp.ConnectControl());
  EXPECT_EQ(Ftp.ReadReply(), 220);
  EXPECT_EQ(Ftp.FullResult().size(), 4u);
}

TEST_F(FtpsendReplyTest, ThreeCharacterFirstLineDoesNotSetTheCode) {
  Serve("greet 230 || 220 Ready\n");
  ASSERT_TRUE(Ftp.ConnectControl());
  EXPECT_EQ(Ftp.ReadReply(), 220);
  EXPECT_EQ(Ftp.FullResult(), (Lines{"230", "220 Ready"}));
}

TEST_F(FtpsendReplyTest, LineEndsOtherThanCrLfAreAccepted) {
  Serve("greet @raw 220-one\\n220-two\\n\\r220 three\\r\\n\n");
  ASSERT_TRUE(Ftp.ConnectControl());
  EXPECT_EQ(Ftp.ReadReply(), 220);
  EXPECT_EQ(Ftp.FullResult(), (Lines{"220-one", "220-two", "220 three"}));
}

TEST_F(FtpsendReplyTest, PreliminaryGreetingThenLogon) {
  Serve(std::string("greet 120 Wait a moment || 220 Ready\n") + LoginScript);
  ASSERT_TRUE(Ftp.LogOn());
  EXPECT_EQ(Sent(), LogonCommands);
  EXPECT_FALSE(Ftp.CanResume());
}

TEST_F(FtpsendReplyTest, BusyGreetingFailsWithoutUser) {
  Serve(std::string("greet 421 Busy\n") + LoginScript);
  EXPECT_FALSE(Ftp.LogOn());
  EXPECT_EQ(Ftp.ResultString(), "421 Busy");
  EXPECT_TRUE(Sent().empty());
}

TEST_F(FtpsendReplyTest, StatusEventSeesCommandsAndReplies) {
  Serve(std::string("greet 220 Ready\n") + LoginScript);
  Lines Seen;
  Ftp.OnStatus = [&](TFTPSend& Sender, bool Response, const std::string& Value) {
    EXPECT_EQ(&Sender, &Ftp);
    Seen.push_back((Response ? "< " : "> ") + Value);
  };
  ASSERT_TRUE(Ftp.LogOn());
  ASSERT_GE(Seen.size(), 4u);
  EXPECT_EQ(Seen[0], "< 220 Ready");
  EXPECT_EQ(Seen[1], "> USER user");
  EXPECT_EQ(Seen[2], "< 331 Password required");
  EXPECT_EQ(Seen[3], "> PASS secret");
}

TEST_F(FtpsendReplyTest, SilentServerTimesOut) {
  Serve("greet 220 Ready\non USER @silent\n");
  Ftp.Timeout = 500;
  EXPECT_FALSE(Ftp.LogOn());
  EXPECT_EQ(Ftp.ResultCode(), 0);
  EXPECT_EQ(Ftp.ResultString(), "Connection timed out");
  ASSERT_FALSE(Ftp.FullResult().empty());
  EXPECT_EQ(Ftp.FullResult().back(), "");
}

TEST_F(FtpsendReplyTest, ReplyCutShortIsNoAnswer) {
  Serve("greet 220 Ready\non USER 230-Welcome || @close\n");
  EXPECT_FALSE(Ftp.LogOn());
  EXPECT_EQ(Ftp.ResultCode(), 0);
}

TEST_F(FtpsendReplyTest, HugeReplyLineIsRejected) {
  Serve("greet @long 10000000 220-\n");
  ASSERT_TRUE(Ftp.ConnectControl());
  EXPECT_EQ(Ftp.ReadReply(), 0);
  EXPECT_LE(Ftp.ResultString().size(), 200u);
  // The connection cannot be read in step any more: later commands fail.
  EXPECT_FALSE(Ftp.KeepAliveNoop());
}

TEST_F(FtpsendReplyTest, EndlessContinuationIsRejected) {
  Serve("greet @repeat 100000 220-more to come\n");
  ASSERT_TRUE(Ftp.ConnectControl());
  EXPECT_EQ(Ftp.ReadReply(), 0);
  EXPECT_LE(Ftp.FullResult().size(), 1001u);
}

TEST_F(FtpsendReplyTest, EndlessPreliminaryGreetingsAreRejected) {
  Serve("greet @repeat 100000 120 Wait\n");
  EXPECT_FALSE(Ftp.LogOn());
  EXPECT_TRUE(Sent().empty());
}

TEST_F(FtpsendReplyTest, LineBreakInArgumentIsNotSent) {
  Serve(std::string("greet 220 Ready\n") + LoginScript + "on DELE 250 Deleted\n");
  ASSERT_TRUE(Ftp.LogOn());
  EXPECT_FALSE(Ftp.DeleteRemote("a\r\nDELE important"));
  EXPECT_FALSE(Ftp.ChangeDirectory("x\ny"));
  EXPECT_EQ(Ftp.ResultCode(), 0);
  EXPECT_FALSE(Ftp.ResultString().empty());
  for (const std::string& Line : Sent()) EXPECT_EQ(Line.find("DELE"), std::string::npos) << Line;
}

TEST_F(FtpsendReplyTest, ConnectionRefusedFailsBeforeReading) {
  Ftp.TargetHost = "127.0.0.1";
  Ftp.TargetPort = std::to_string(testsupport::FreePort());
  Ftp.Timeout = 2000;
  EXPECT_FALSE(Ftp.LogOn());
  EXPECT_EQ(Ftp.ResultCode(), 0);
  EXPECT_NE(Ftp.Sock().LastErrorCode, 0);
  EXPECT_EQ(Ftp.ResultString(), "Connection refused");
}

// ---- Defaults ----

TEST(FtpsendDefaultsTest, ConstructorDefaults) {
  TFTPSend Ftp;
  EXPECT_EQ(Ftp.TargetHost, "127.0.0.1");
  EXPECT_EQ(Ftp.TargetPort, "ftp");
  EXPECT_EQ(Ftp.IPInterface, "0.0.0.0");
  EXPECT_EQ(Ftp.Timeout, 300000);
  EXPECT_EQ(Ftp.UserName, "anonymous");
  EXPECT_EQ(Ftp.Password.substr(0, 10), "anonymous@");
  EXPECT_EQ(Ftp.Password.substr(10), Ftp.Sock().LocalHostName());
  EXPECT_EQ(Ftp.FWPort, "ftp");
  EXPECT_EQ(Ftp.FWMode, 0);
  EXPECT_TRUE(Ftp.PassiveMode);
  EXPECT_TRUE(Ftp.BinaryMode);
  EXPECT_TRUE(Ftp.TLSonData);
  EXPECT_FALSE(Ftp.DirectFile || Ftp.ForceDefaultPort || Ftp.ForceOldPort || Ftp.AutoTLS || Ftp.FullSSL);
  EXPECT_FALSE(Ftp.CanResume() || Ftp.IsTLS() || Ftp.IsDataTLS());
  EXPECT_EQ(Ftp.ResultCode(), 0);
  EXPECT_TRUE(Ftp.FullResult().empty());
  EXPECT_TRUE(Ftp.Sock().ConvertLineEnd);
  for (const auto Byte : Ftp.CustomLogonTable) EXPECT_EQ(Byte, 0);
}

// ---- Logon variants ----

// Firewall tests: the control connection goes to the scripted server as
// FWHost while TargetHost names the real server behind it.
class FtpsendLogonTest : public FtpsendScriptedTest {
 protected:
  void ServeFirewall(const std::string& Script, std::int32_t Mode, const std::string& TargetPort = "2121") {
    Serve("greet 220 Proxy ready\n" + Script);
    Ftp.FWHost = "127.0.0.1";
    Ftp.FWPort = std::to_string(Server.Port());
    Ftp.TargetHost = "ftp.example.com";
    Ftp.TargetPort = TargetPort;
    Ftp.FWUsername = "fwuser";
    Ftp.FWPassword = "fwpass";
    Ftp.FWMode = Mode;
  }
  // The logon lines only, without the settings sent after logon.
  Lines LogonLines() const {
    Lines All = Sent();
    Lines Result;
    for (const std::string& Line : All) {
      if (Line.rfind("TYPE", 0) == 0) break;
      Result.push_back(Line);
    }
    return Result;
  }
  static constexpr const char* Rest = "on TYPE 200 ok\non REST 502 no\n";
};

TEST_F(FtpsendLogonTest, Mode0UserPassAcct) {
  Serve(std::string("on USER 331 Password\non PASS 332 Account\non ACCT 230 ok\n") + Rest);
  ASSERT_TRUE(Ftp.LogOn());
  EXPECT_EQ(LogonLines(), (Lines{"USER user", "PASS secret", "ACCT "}));
}

TEST_F(FtpsendLogonTest, Mode0UserAloneSuffices) {
  Serve(std::string("on USER 230 Welcome\n") + Rest);
  ASSERT_TRUE(Ftp.LogOn());
  EXPECT_EQ(LogonLines(), (Lines{"USER user"}));
}

TEST_F(FtpsendLogonTest, Mode0AcctIntermediateFails) {
  Serve("on USER 331 Password\non PASS 332 Account\non ACCT 332 Again\n");
  EXPECT_FALSE(Ftp.LogOn());
  EXPECT_EQ(Ftp.ResultString(), "332 Again");
}

TEST_F(FtpsendLogonTest, Mode0RefusedPassword) {
  Serve("on USER 331 Password\non PASS 530 Login incorrect\n");
  EXPECT_FALSE(Ftp.LogOn());
  EXPECT_EQ(Ftp.ResultCode(), 530);
  EXPECT_EQ(Ftp.ResultString(), "530 Login incorrect");
}

TEST_F(FtpsendLogonTest, Mode1SiteHost) {
  ServeFirewall(std::string("on USER 331 Password\non PASS 230 ok\non SITE 331 Now the user\n") + Rest, 1);
  ASSERT_TRUE(Ftp.LogOn());
  EXPECT_EQ(LogonLines(), (Lines{"USER fwuser", "PASS fwpass", "SITE ftp.example.com:2121", "USER user", "PASS secret"}));
}

TEST_F(FtpsendLogonTest, Mode1SiteCompletionFails) {
  ServeFirewall("on USER 331 Password\non PASS 230 ok\non SITE 200 Done\n", 1);
  EXPECT_FALSE(Ftp.LogOn());
  EXPECT_EQ(LogonLines(), (Lines{"USER fwuser", "PASS fwpass", "SITE ftp.example.com:2121"}));
}

TEST_F(FtpsendLogonTest, Mode2UserAtHost) {
  ServeFirewall(std::string("on USER 331 Password\non PASS 230 ok\n") + Rest, 2);
  ASSERT_TRUE(Ftp.LogOn());
  EXPECT_EQ(LogonLines(), (Lines{"USER fwuser", "PASS fwpass", "USER user@ftp.example.com:2121", "PASS secret"}));
}

TEST_F(FtpsendLogonTest, Mode2StandardPortLeavesPortOut) {
  ServeFirewall(std::string("on USER 331 Password\non PASS 230 ok\n") + Rest, 2, "21");
  ASSERT_TRUE(Ftp.LogOn());
  EXPECT_EQ(LogonLines()[2], "USER user@ftp.example.com");
}

TEST_F(FtpsendLogonTest, Mode3FirewallThenUser) {
  ServeFirewall(std::string("on USER 331 Password\non PASS 230 ok\n") + Rest, 3);
  ASSERT_TRUE(Ftp.LogOn());
  EXPECT_EQ(LogonLines(), (Lines{"USER fwuser", "PASS fwpass", "USER user", "PASS secret"}));
}

TEST_F(FtpsendLogonTest, Mode4OpenHost) {
  ServeFirewall(std::string("on OPEN 220 Connected\non USER 331 Password\non PASS 230 ok\n") + Rest, 4, "ftp");
  ASSERT_TRUE(Ftp.LogOn());
  EXPECT_EQ(LogonLines(), (Lines{"OPEN ftp.example.com", "USER user", "PASS secret"}));
}

TEST_F(FtpsendLogonTest, Mode5UserAtHost) {
  ServeFirewall(std::string("on USER 331 Password\non PASS 230 ok\n") + Rest, 5);
  ASSERT_TRUE(Ftp.LogOn());
  EXPECT_EQ(LogonLines(), (Lines{"USER user@ftp.example.com:2121", "PASS secret"}));
}

TEST_F(FtpsendLogonTest, Mode6FirewallUserAtHost) {
  ServeFirewall(std::string("on USER 331 Password\non PASS 230 ok\n") + Rest, 6);
  ASSERT_TRUE(Ftp.LogOn());
  EXPECT_EQ(LogonLines(), (Lines{"USER fwuser@ftp.example.com:2121", "PASS fwpass", "USER user", "PASS secret"}));
}

TEST_F(FtpsendLogonTest, Mode7UserAtHostWithFirewallUser) {
  ServeFirewall(std::string("on USER 331 Password\non PASS 230 ok\n") + Rest, 7);
  ASSERT_TRUE(Ftp.LogOn());
  EXPECT_EQ(LogonLines(), (Lines{"USER user@ftp.example.com:2121 fwuser", "PASS secret"}));
}

TEST_F(FtpsendLogonTest, Mode7CompletionAtUserFails) {
  ServeFirewall("on USER 230 Welcome\n", 7);
  EXPECT_FALSE(Ftp.LogOn());
  EXPECT_EQ(LogonLines(), (Lines{"USER user@ftp.example.com:2121 fwuser"}));
}

TEST_F(FtpsendLogonTest, Mode8CombinedCredentials) {
  ServeFirewall(std::string("on USER 331 Password\non PASS 230 ok\n") + Rest, 8);
  ASSERT_TRUE(Ftp.LogOn());
  EXPECT_EQ(LogonLines(), (Lines{"USER user@fwuser@ftp.example.com:2121", "PASS secret@fwpass"}));
}

TEST_F(FtpsendLogonTest, FirewallModeWithoutFirewallHostIsMode0) {
  Serve(std::string("on USER 331 Password\non PASS 230 ok\n") + Rest);
  Ftp.FWMode = 5;
  ASSERT_TRUE(Ftp.LogOn());
  EXPECT_EQ(LogonLines(), (Lines{"USER user", "PASS secret"}));
}

TEST_F(FtpsendLogonTest, UnknownModeUsesMode0) {
  ServeFirewall(std::string("on USER 331 Password\non PASS 230 ok\n") + Rest, 42);
  ASSERT_TRUE(Ftp.LogOn());
  EXPECT_EQ(LogonLines(), (Lines{"USER user", "PASS secret"}));
}

TEST_F(FtpsendLogonTest, EmptyCustomTableIsRefusedWithoutConnecting) {
  ServeFirewall("on USER 331 Password\n", -1);
  EXPECT_FALSE(Ftp.LogOn());
  EXPECT_EQ(Ftp.ResultCode(), 0);
  EXPECT_FALSE(Ftp.ResultString().empty());
  EXPECT_TRUE(Sent().empty());
}

TEST_F(FtpsendLogonTest, LoopingCustomTableStopsAfter64Steps) {
  ServeFirewall("on USER 331 Again\n", -1);
  Ftp.CustomLogonTable = {0x00, 0x00, 0x00, 0x01};  // USER, then USER again on either answer
  EXPECT_FALSE(Ftp.LogOn());
  const Lines All = Sent();
  EXPECT_EQ(All.size(), 64u);
  for (const std::string& Line : All) EXPECT_EQ(Line, "USER user");
}

TEST_F(FtpsendLogonTest, CustomTableRuns) {
  ServeFirewall(std::string("on USER 331 Password\non PASS 230 ok\n") + Rest, -1);
  Ftp.CustomLogonTable = {0x0A, 0xFF, 0x03, 0x0B, 0xFF, 0xFE};
  ASSERT_TRUE(Ftp.LogOn());
  EXPECT_EQ(LogonLines(), (Lines{"USER user@fwuser@ftp.example.com:2121", "PASS secret@fwpass"}));
}

TEST_F(FtpsendLogonTest, CustomTableWithInvalidStepFails) {
  ServeFirewall("on USER 331 Password\non PASS 230 ok\n", -1);
  Ftp.CustomLogonTable = {0x00, 0xFF, 0x10};  // successor 16 is no step
  EXPECT_FALSE(Ftp.LogOn());
  EXPECT_EQ(LogonLines(), (Lines{"USER user"}));
  Ftp.CustomLogonTable = {0x0C, 0xFF, 0xFF};  // command code 12 has no line
  EXPECT_FALSE(Ftp.LogOn());
}

// ---- REST probe ----

TEST_F(FtpsendLogonTest, RestProbeAcceptedSetsCanResume) {
  Serve(std::string("greet 220 Ready\n") + ResumableLoginScript);
  ASSERT_TRUE(Ftp.LogOn());
  EXPECT_TRUE(Ftp.CanResume());
  EXPECT_EQ(Sent(), ResumableLogonCommands);
}

TEST_F(FtpsendLogonTest, RestProbeRefusedAtOnce) {
  Serve(std::string("greet 220 Ready\n") + LoginScript);
  ASSERT_TRUE(Ftp.LogOn());
  EXPECT_FALSE(Ftp.CanResume());
  EXPECT_EQ(Sent(), LogonCommands);
}

TEST_F(FtpsendLogonTest, RestProbeRefusedAtSecondStep) {
  Serve("on USER 230 ok\non REST 350 Restarting\non REST 501 Not that one\n");
  ASSERT_TRUE(Ftp.LogOn());
  EXPECT_FALSE(Ftp.CanResume());
  EXPECT_EQ(SentAfter(4), (Lines{"REST 0", "REST 1"}));
}

TEST_F(FtpsendLogonTest, SettingsAfterLogonAreNotJudged) {
  Serve("on USER 230 ok\non TYPE 500 no\non STRU 500 no\non MODE 500 no\n");
  ASSERT_TRUE(Ftp.LogOn());
  EXPECT_EQ(Sent(), (Lines{"USER user", "TYPE I", "STRU F", "MODE S", "REST 0"}));
}

TEST_F(FtpsendLogonTest, LogOnTwiceReconnects) {
  Serve(std::string("greet 220 Ready\n") + LoginScript);
  ASSERT_TRUE(Ftp.LogOn());
  ASSERT_TRUE(Ftp.LogOn());
  EXPECT_EQ(Sent().size(), 2 * LogonCommands.size());
}

// ---- Simple commands ----

class FtpsendCommandTest : public FtpsendScriptedTest {
 protected:
  void ServeCommands(const std::string& Script) {
    Serve(std::string("greet 220 Ready\n") + LoginScript + Script);
    ASSERT_TRUE(Ftp.LogOn());
  }
  Lines Commands() const { return SentAfter(LogonCommands.size()); }
};

TEST_F(FtpsendCommandTest, DirectoryCommands) {
  ServeCommands(
      "on CWD 250 ok\non CWD 550 No such directory\non CDUP 200 ok\non MKD 257 \"/new\" created\n"
      "on RMD 250 removed\non NOOP 200 ok\n");
  EXPECT_TRUE(Ftp.ChangeDirectory("pub"));
  EXPECT_FALSE(Ftp.ChangeDirectory("missing"));
  EXPECT_EQ(Ftp.ResultString(), "550 No such directory");
  EXPECT_FALSE(Ftp.ChangeDirectory(""));
  EXPECT_TRUE(Ftp.ChangeToParent());
  EXPECT_TRUE(Ftp.MakeDirectory("new dir"));
  EXPECT_TRUE(Ftp.RemoveDirectory("new dir"));
  EXPECT_TRUE(Ftp.KeepAliveNoop());
  EXPECT_EQ(Commands(), (Lines{"CWD pub", "CWD missing", "CWD ", "CDUP", "MKD new dir", "RMD new dir", "NOOP"}));
}

TEST_F(FtpsendCommandTest, DeleteAndRename) {
  ServeCommands("on DELE 250 gone\non DELE 550 no\non RNFR 350 ready\non RNFR 550 missing\non RNTO 250 renamed\n");
  EXPECT_TRUE(Ftp.DeleteRemote("a.txt"));
  EXPECT_FALSE(Ftp.DeleteRemote("b.txt"));
  EXPECT_TRUE(Ftp.RenameRemote("old", "new"));
  EXPECT_FALSE(Ftp.RenameRemote("missing", "other"));
  EXPECT_EQ(Commands(), (Lines{"DELE a.txt", "DELE b.txt", "RNFR old", "RNTO new", "RNFR missing"}));
}

TEST_F(FtpsendCommandTest, FileSizeIs64Bit) {
  ServeCommands(
      "on SIZE 213 12345\non SIZE 213 3221225472\non SIZE 213 \non SIZE 550 No such file\n"
      "on SIZE 213 12x\n");
  EXPECT_EQ(Ftp.QueryFileSize("a"), 12345);
  EXPECT_EQ(Ftp.QueryFileSize("big"), 3221225472LL);
  EXPECT_EQ(Ftp.QueryFileSize("empty"), -1);
  EXPECT_EQ(Ftp.QueryFileSize("missing"), -1);
  EXPECT_EQ(Ftp.QueryFileSize("garbage"), -1);
}

TEST_F(FtpsendCommandTest, CurrentDirectory) {
  ServeCommands("on PWD 257 \"/pub/in \"\"x\"\"\" is the current directory\non PWD 257 /no/quotes\non PWD 550 no\n");
  EXPECT_EQ(Ftp.QueryCurrentDirectory(), "/pub/in");
  EXPECT_EQ(Ftp.QueryCurrentDirectory(), "257 /no/quotes");
  EXPECT_EQ(Ftp.QueryCurrentDirectory(), "");
}

TEST_F(FtpsendCommandTest, LogOffSendsQuit) {
  ServeCommands("on QUIT 221 Goodbye || @close\n");
  EXPECT_TRUE(Ftp.LogOff());
  EXPECT_EQ(Commands(), (Lines{"QUIT"}));
}

TEST_F(FtpsendCommandTest, LogOffOnDeadConnection) {
  ServeCommands("on NOOP @close\n");
  EXPECT_FALSE(Ftp.KeepAliveNoop());
  EXPECT_FALSE(Ftp.LogOff());
  EXPECT_FALSE(Ftp.KeepAliveNoop());
}

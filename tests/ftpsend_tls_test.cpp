// The FTP client under TLS: AUTH TLS with protected (PROT P) and clear
// (PROT C) data connections against vsftpd, the AUTH TLS step and a data
// connection cut without close_notify against a scripted server, and the
// FTP jobs over explicit and implicit FTPS.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "ftpsend_fixture.h"
#include "net/blocksock.h"
#include "protocols/ftplist.h"
#include "support/tlsproxyservers.h"

using namespace testsupport;
using Lines = std::vector<std::string>;

namespace {

const TSocketInterfaceGuard SocketInterface;

class FtpsendTlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(Certs.Make(CertDir.Path()));
    WriteFile(Root.Path() + "/data.txt", Content);
    Port = FreePort();
    ASSERT_TRUE(
        tlsproxyservers::StartVsftpdTls(Server, Port, Certs.ServerCert, Certs.ServerKey, Root.Path(), Conf.Path()));
    Ftp.TargetHost = "127.0.0.1";
    Ftp.TargetPort = std::to_string(Port);
    Ftp.Timeout = 20000;
    Ftp.AutoTLS = true;
    Ftp.OnStatus = [this](TFTPSend&, bool Response, const std::string& Value) {
      if (!Response) Sent.push_back(Value);
    };
  }

  const std::string Content = std::string(200000, 'x') + "end";
  TempDir CertDir;
  TempDir Root;
  TempDir Conf;
  tlsproxyservers::TestCertificates Certs;
  BackgroundProcess Server;
  int Port = 0;
  TFTPSend Ftp;
  Lines Sent;
};

}  // namespace

TEST_F(FtpsendTlsTest, ProtectedDataConnections) {
  ASSERT_TRUE(Ftp.LogOn()) << Ftp.ResultString();
  EXPECT_TRUE(Ftp.IsTLS());
  EXPECT_TRUE(Ftp.IsDataTLS());
  ASSERT_GE(Sent.size(), 5u);
  EXPECT_EQ(Sent[0], "AUTH TLS");
  EXPECT_EQ(Sent[1], "USER anonymous");
  EXPECT_EQ(Sent[2], "PBSZ 0");
  EXPECT_EQ(Sent[3], "PROT P");
  EXPECT_EQ(Sent[4], "TYPE I");
  ASSERT_TRUE(Ftp.Download("data.txt", false)) << Ftp.ResultString();
  EXPECT_EQ(Ftp.DataStream().Data(), Content);
  ASSERT_TRUE(Ftp.ListDirectory("", false)) << Ftp.ResultString();
  ASSERT_EQ(Ftp.FtpList().Count(), 1);
  EXPECT_EQ(Ftp.FtpList().EntryAt(0)->Name, "data.txt");
  EXPECT_TRUE(Ftp.LogOff());
}

TEST_F(FtpsendTlsTest, ClearDataConnections) {
  Ftp.TLSonData = false;
  ASSERT_TRUE(Ftp.LogOn()) << Ftp.ResultString();
  EXPECT_TRUE(Ftp.IsTLS());
  EXPECT_FALSE(Ftp.IsDataTLS());
  EXPECT_EQ(Sent[3], "PROT C");
  ASSERT_TRUE(Ftp.Download("data.txt", false)) << Ftp.ResultString();
  EXPECT_EQ(Ftp.DataStream().Data(), Content);
}

TEST_F(FtpsendTlsTest, ActiveProtectedDataConnection) {
  ASSERT_TRUE(Ftp.LogOn()) << Ftp.ResultString();
  Ftp.PassiveMode = false;
  ASSERT_TRUE(Ftp.Download("data.txt", false)) << Ftp.ResultString();
  EXPECT_EQ(Ftp.DataStream().Data(), Content);
}

using FtpsendTlsScriptedTest = FtpsendScriptedTest;

TEST_F(FtpsendTlsScriptedTest, RefusedAuthTlsGoesOnInTheClear) {
  Serve(std::string("on AUTH 500 Not understood\n") + LoginScript);
  Ftp.AutoTLS = true;
  ASSERT_TRUE(Ftp.LogOn());
  EXPECT_FALSE(Ftp.IsTLS());
  EXPECT_EQ(Sent().front(), "AUTH TLS");
  EXPECT_EQ(SentAfter(1), LogonCommands);
}

TEST_F(FtpsendTlsScriptedTest, RequiredTlsRefusedSendsNothingMoreInTheClear) {
  Serve(std::string("on AUTH 500 Not understood\n") + LoginScript);
  Ftp.AutoTLS = true;
  Ftp.TLSRequired = true;
  EXPECT_FALSE(Ftp.LogOn());
  EXPECT_EQ(Ftp.ResultString(), "500 Not understood");
  Ftp.LogOff();
  EXPECT_EQ(Sent(), (Lines{"AUTH TLS"}));
}

TEST_F(FtpsendTlsScriptedTest, DataCutWithoutCloseNotifyFailsTheDownload) {
  TempDir CertDir;
  tlsproxyservers::TestCertificates Certs;
  ASSERT_TRUE(Certs.Make(CertDir.Path()));
  Serve("on AUTH 234 Go ahead || @tls " + Certs.ServerCert + " " + Certs.ServerKey +
        "\non PBSZ 200 ok\non PROT 200 ok\non EPSV 229 Entering (|||{epsv}|)\n"
        "on RETR 150 Here || @sendtlscut 100000 || 226 Done\n" + LoginScript);
  Ftp.AutoTLS = true;
  ASSERT_TRUE(Ftp.LogOn()) << Ftp.ResultString();
  EXPECT_FALSE(Ftp.Download("f", false));
  EXPECT_EQ(Ftp.ResultString(), "Data connection ended without TLS close_notify (unexpected eof while reading)");
}

TEST_F(FtpsendTlsScriptedTest, FailedHandshakeFailsLogOn) {
  Serve(std::string("on AUTH 234 Go ahead || @close\n") + LoginScript);
  Ftp.AutoTLS = true;
  EXPECT_FALSE(Ftp.LogOn());
  EXPECT_FALSE(Ftp.IsTLS());
  EXPECT_EQ(Sent(), (Lines{"AUTH TLS"}));
}

// The FTP jobs with FtpTls against a vsftpd that demands TLS for logon and
// data and the reuse of the control session: a few MB each way, explicit
// and implicit, the certificate checked against the test CA.
TEST(FtpTlsJobs, GetAndPutExplicitAndImplicit) {
  TempDir CertDir;
  tlsproxyservers::TestCertificates Certs;
  ASSERT_TRUE(Certs.Make(CertDir.Path()));
  std::string Big;
  for (int i = 0; Big.size() < (3u << 20); ++i) Big += std::to_string(i) + "\n";
  for (const std::string Mode : {"explicit", "implicit"}) {
    TempDir Root, Conf, Work;
    std::filesystem::create_directories(Root / "pub");
    std::filesystem::permissions(Root / "pub", std::filesystem::perms::all);
    WriteFile(Root / "pub/in.bin", Big);
    WriteFile(Work / "up.bin", Big);
    BackgroundProcess Server;
    const int Port = FreePort();
    ASSERT_TRUE(tlsproxyservers::StartVsftpdTls(Server, Port, Certs.ServerCert, Certs.ServerKey, Root.Path(),
                                                Conf.Path(), "force_anon_data_ssl=YES\nwrite_enable=YES\n"
                                                "anon_upload_enable=YES\nanon_umask=022\nimplicit_ssl=" +
                                                std::string(Mode == "implicit" ? "YES" : "NO") + "\n"));
    const std::string Keys = "Target=localhost\nTargetPort=" + std::to_string(Port) + "\nFtpTls=" + Mode +
                             "\nTlsVerify=True\nTlsCaFile=" + Certs.CaFile + "\nTimeout=20000\n";
    WriteFile(Work / "job.ini", "[get]\nRemotePath=/pub/in.bin\nLocalPath=.\n" + Keys +
                                    "[put]\nMode=FTPPUT\nRemotePath=/pub\nLocalPath=up.bin\n" + Keys +
                                    "[typo]\nFtpTls=yes\n");
    const RunResult Run = RunTarvo({"job.ini"}, Work.Path());
    EXPECT_EQ(Run.ExitCode, 2) << Mode << Run.Output;
    EXPECT_NE(Run.Output.find(" ERROR: Unknown FtpTls value: use none, explicit or implicit.\n"), std::string::npos);
    EXPECT_TRUE(ReadFile(Work / "in.bin") == Big) << Mode;
    EXPECT_TRUE(ReadFile(Root / "pub/up.bin") == Big) << Run.Output;
  }
}

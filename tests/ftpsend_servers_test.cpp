// The FTP client against real servers on loopback, pyftpdlib and vsftpd,
// each started with a temporary root: logon, directories, a parsed listing,
// passive and active transfers in binary and text type, resume both ways,
// SIZE, DELE, RNFR/RNTO and QUIT.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>

#include "protocols/ftplist.h"
#include "protocols/ftpsend.h"
#include "support/ftpsend_peers.h"
#include "support/testsupport.h"

using namespace testsupport;

namespace {

std::string Generated(std::size_t Count, unsigned Seed) {
  std::string Data(Count, '\0');
  std::uint32_t State = Seed * 2654435761u + 1;
  for (char& Byte : Data) {
    State = State * 1103515245u + 12345u;
    Byte = static_cast<char>(State >> 24);
  }
  return Data;
}

const TFTPListRec* FindEntry(TFTPList& List, const std::string& Name) {
  for (int I = 0; I < List.Count(); ++I)
    if (List.EntryAt(I)->Name == Name) return List.EntryAt(I);
  return nullptr;
}

}  // namespace

// Runs every test against both servers. The work directory is "pub" under
// the server's root (the only place vsftpd lets anonymous users write).
class FtpsendServerTest : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    Root = Dir / "root";
    Pub = Root + "/pub";
    mkdir(Root.c_str(), 0755);
    mkdir(Pub.c_str(), 0777);
    chmod(Pub.c_str(), 0777);
    if (GetParam() == "pyftpdlib") {
      ASSERT_TRUE(Pyftpdlib.Start(Root, "tester", "tested")) << "pyftpdlib did not start";
      Ftp.TargetPort = std::to_string(Pyftpdlib.Port());
      Ftp.UserName = "tester";
      Ftp.Password = "tested";
    } else {
      ASSERT_TRUE(HaveProgram("/usr/sbin/vsftpd"));
      const std::string Config = Dir / "vsftpd";
      mkdir(Config.c_str(), 0755);
      ASSERT_TRUE(Vsftpd.Start(Root, Config)) << "vsftpd did not start";
      Ftp.TargetPort = std::to_string(Vsftpd.Port());
    }
    Ftp.TargetHost = "127.0.0.1";
    Ftp.Timeout = 20000;
    ASSERT_TRUE(Ftp.LogOn()) << Ftp.ResultString();
    ASSERT_TRUE(Ftp.ChangeDirectory("pub")) << Ftp.ResultString();
  }

  // A file the server may overwrite (vsftpd runs uploads as user ftp).
  void PutServerFile(const std::string& Name, const std::string& Content) {
    WriteFile(Pub + "/" + Name, Content);
    chmod((Pub + "/" + Name).c_str(), 0666);
  }

  TempDir Dir;
  std::string Root;
  std::string Pub;
  FtpsendPyftpdlib Pyftpdlib;
  FtpsendVsftpd Vsftpd;
  TFTPSend Ftp;
};

TEST_P(FtpsendServerTest, DirectoriesAndLogOff) {
  EXPECT_EQ(Ftp.QueryCurrentDirectory(), "/pub");
  ASSERT_TRUE(Ftp.MakeDirectory("new dir"));
  EXPECT_TRUE(std::filesystem::is_directory(Pub + "/new dir"));
  ASSERT_TRUE(Ftp.ChangeDirectory("new dir"));
  EXPECT_EQ(Ftp.QueryCurrentDirectory(), "/pub/new dir");
  ASSERT_TRUE(Ftp.ChangeToParent());
  EXPECT_FALSE(Ftp.ChangeDirectory("missing"));
  ASSERT_TRUE(Ftp.RemoveDirectory("new dir"));
  EXPECT_FALSE(std::filesystem::is_directory(Pub + "/new dir"));
  EXPECT_TRUE(Ftp.KeepAliveNoop());
  EXPECT_TRUE(Ftp.LogOff());
  EXPECT_FALSE(Ftp.KeepAliveNoop());
}

TEST_P(FtpsendServerTest, ListingIsParsed) {
  PutServerFile("a.txt", "hello");
  PutServerFile("big.bin", std::string(100000, 'b'));
  mkdir((Pub + "/sub").c_str(), 0755);
  for (const bool Passive : {true, false}) {
    Ftp.PassiveMode = Passive;
    ASSERT_TRUE(Ftp.ListDirectory("", false)) << Ftp.ResultString();
    EXPECT_EQ(Ftp.FtpList().Count(), 3) << Ftp.DataStream().Data();
    const TFTPListRec* Small = FindEntry(Ftp.FtpList(), "a.txt");
    const TFTPListRec* Big = FindEntry(Ftp.FtpList(), "big.bin");
    const TFTPListRec* Sub = FindEntry(Ftp.FtpList(), "sub");
    ASSERT_TRUE(Small && Big && Sub) << Ftp.DataStream().Data();
    EXPECT_EQ(Small->Size, 5);
    EXPECT_EQ(Big->Size, 100000);
    EXPECT_FALSE(Small->IsDir);
    EXPECT_TRUE(Sub->IsDir);
  }
  ASSERT_TRUE(Ftp.ListDirectory("", true));
  const std::string& Names = Ftp.DataStream().Data();
  EXPECT_NE(Names.find("a.txt"), std::string::npos);
  EXPECT_NE(Names.find("big.bin"), std::string::npos);
}

TEST_P(FtpsendServerTest, BinaryTransfersBothModes) {
  const std::string Content = Generated(3 * 1024 * 1024 + 17, 1);
  for (const bool Passive : {true, false}) {
    SCOPED_TRACE(Passive ? "passive" : "active");
    Ftp.PassiveMode = Passive;
    const std::string Name = Passive ? "p.bin" : "a.bin";
    Ftp.DirectFile = true;
    Ftp.DirectFileName = Dir / "source.bin";
    WriteFile(Ftp.DirectFileName, Content);
    ASSERT_TRUE(Ftp.Upload(Name, false)) << Ftp.ResultString();
    EXPECT_EQ(ReadFile(Pub + "/" + Name), Content);
    EXPECT_EQ(Ftp.QueryFileSize(Name), static_cast<std::int64_t>(Content.size()));

    Ftp.DirectFileName = Dir / "back.bin";
    ASSERT_TRUE(Ftp.Download(Name, false)) << Ftp.ResultString();
    EXPECT_EQ(ReadFile(Ftp.DirectFileName), Content);

    Ftp.DirectFile = false;
    ASSERT_TRUE(Ftp.Download(Name, false)) << Ftp.ResultString();
    EXPECT_EQ(Ftp.DataStream().Data(), Content);
    Ftp.DataStream().Data() = "from memory";
    ASSERT_TRUE(Ftp.Upload("mem-" + Name, false)) << Ftp.ResultString();
    EXPECT_EQ(ReadFile(Pub + "/mem-" + Name), "from memory");
  }
}

TEST_P(FtpsendServerTest, TextTransfers) {
  Ftp.BinaryMode = false;
  Ftp.DataStream().Data() = "line one\r\nline two\r\n";
  ASSERT_TRUE(Ftp.Upload("text.txt", false)) << Ftp.ResultString();
  const std::string Stored = ReadFile(Pub + "/text.txt");
  EXPECT_TRUE(Stored == "line one\nline two\n" || Stored == "line one\r\nline two\r\n") << Stored;

  PutServerFile("unix.txt", "x\ny\n");
  ASSERT_TRUE(Ftp.Download("unix.txt", false)) << Ftp.ResultString();
  const std::string Got = Ftp.DataStream().Data();
  EXPECT_TRUE(Got == "x\r\ny\r\n" || Got == "x\ny\n") << Got;
}

TEST_P(FtpsendServerTest, ResumedDownload) {
  ASSERT_TRUE(Ftp.CanResume());
  const std::string Content = Generated(1000000, 2);
  PutServerFile("r.bin", Content);
  Ftp.DirectFile = true;
  Ftp.DirectFileName = Dir / "partial.bin";
  WriteFile(Ftp.DirectFileName, Content.substr(0, 123457));
  ASSERT_TRUE(Ftp.Download("r.bin", true)) << Ftp.ResultString();
  EXPECT_EQ(ReadFile(Ftp.DirectFileName), Content);
}

TEST_P(FtpsendServerTest, ResumedUpload) {
  ASSERT_TRUE(Ftp.CanResume());
  const std::string Content = Generated(1000000, 3);
  PutServerFile("u.bin", Content.substr(0, 654321));
  Ftp.DirectFile = true;
  Ftp.DirectFileName = Dir / "full.bin";
  WriteFile(Ftp.DirectFileName, Content);
  ASSERT_TRUE(Ftp.Upload("u.bin", true)) << Ftp.ResultString();
  EXPECT_EQ(ReadFile(Pub + "/u.bin"), Content);
  // Complete now: a second resume sends nothing and succeeds.
  ASSERT_TRUE(Ftp.Upload("u.bin", true));
  EXPECT_EQ(ReadFile(Pub + "/u.bin"), Content);
}

TEST_P(FtpsendServerTest, SizeDeleteRename) {
  PutServerFile("f.txt", "12345");
  EXPECT_EQ(Ftp.QueryFileSize("f.txt"), 5);
  EXPECT_EQ(Ftp.QueryFileSize("missing.txt"), -1);
  ASSERT_TRUE(Ftp.RenameRemote("f.txt", "g.txt")) << Ftp.ResultString();
  EXPECT_TRUE(FileExists(Pub + "/g.txt"));
  EXPECT_FALSE(Ftp.RenameRemote("missing.txt", "h.txt"));
  ASSERT_TRUE(Ftp.DeleteRemote("g.txt")) << Ftp.ResultString();
  EXPECT_FALSE(FileExists(Pub + "/g.txt"));
  EXPECT_FALSE(Ftp.DeleteRemote("g.txt"));
  EXPECT_FALSE(Ftp.Download("g.txt", false));
}

INSTANTIATE_TEST_SUITE_P(Peers, FtpsendServerTest, ::testing::Values("pyftpdlib", "vsftpd"),
                         [](const ::testing::TestParamInfo<std::string>& Info) { return Info.param; });

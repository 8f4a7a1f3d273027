// Sizes beyond 31 and 32 bits end to end: a file of 3 GiB and a bit (sparse,
// with marks around the 1, 2 and 3 GiB points) is sized, downloaded with a
// resume past 2 GiB, uploaded back, cut and resumed through vsftpd, and
// compared by size, by its marks and byte for byte.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "protocols/ftpsend.h"
#include "support/ftpsend_peers.h"
#include "support/testsupport.h"

using namespace testsupport;

namespace {

constexpr std::int64_t GiB = 1024LL * 1024 * 1024;
constexpr std::int64_t HugeSize = 3 * GiB + 12345;
const std::int64_t MarkOffsets[] = {0, GiB, 2 * GiB - 3, 2 * GiB + 7, 3 * GiB, HugeSize - 8};

std::string MarkAt(std::int64_t Offset) { return "M" + std::to_string(Offset % 10000000); }

// A sparse file of Size bytes holding the marks that fit in it.
bool MakeMarkedSparseFile(const std::string& Path, std::int64_t Size) {
  const int Fd = open(Path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0666);
  if (Fd < 0) return false;
  bool Ok = ftruncate(Fd, Size) == 0;
  for (const std::int64_t Offset : MarkOffsets) {
    if (Offset + static_cast<std::int64_t>(MarkAt(Offset).size()) > Size) continue;
    const std::string Mark = MarkAt(Offset).substr(0, static_cast<std::size_t>(HugeSize - Offset));
    Ok = Ok && pwrite(Fd, Mark.data(), Mark.size(), Offset) == static_cast<ssize_t>(Mark.size());
  }
  close(Fd);
  return Ok;
}

std::int64_t SizeOf(const std::string& Path) {
  struct stat Info;
  return stat(Path.c_str(), &Info) == 0 ? Info.st_size : -1;
}

bool MarksPresent(const std::string& Path) {
  const int Fd = open(Path.c_str(), O_RDONLY);
  if (Fd < 0) return false;
  bool Ok = true;
  for (const std::int64_t Offset : MarkOffsets) {
    const std::string Mark = MarkAt(Offset).substr(0, static_cast<std::size_t>(HugeSize - Offset));
    std::string Read(Mark.size(), '\0');
    Ok = Ok && pread(Fd, Read.data(), Read.size(), Offset) == static_cast<ssize_t>(Read.size()) && Read == Mark;
  }
  close(Fd);
  return Ok;
}

bool SameContent(const std::string& A, const std::string& B) {
  return RunProcess({"cmp", "-s", A, B}, "", {}, 600).ExitCode == 0;
}

}  // namespace

TEST(FtpsendLargeFileTest, ThreeGiBDownloadAndUpload) {
  TempDir Dir;
  const std::string Root = Dir / "root";
  const std::string Config = Dir / "config";
  mkdir(Root.c_str(), 0755);
  mkdir(Config.c_str(), 0755);
  FtpsendVsftpd Server;
  ASSERT_TRUE(Server.Start(Root, Config));
  const std::string Served = Root + "/pub/huge.bin";
  ASSERT_TRUE(MakeMarkedSparseFile(Served, HugeSize));

  TFTPSend Ftp;
  Ftp.TargetHost = "127.0.0.1";
  Ftp.TargetPort = std::to_string(Server.Port());
  Ftp.Timeout = 60000;
  ASSERT_TRUE(Ftp.LogOn()) << Ftp.ResultString();
  ASSERT_TRUE(Ftp.CanResume());
  ASSERT_TRUE(Ftp.ChangeDirectory("pub"));
  EXPECT_EQ(Ftp.QueryFileSize("huge.bin"), HugeSize);

  // Download the first part, then resume past 2 GiB to the end.
  Ftp.DirectFile = true;
  Ftp.DirectFileName = Dir / "huge.bin";
  ASSERT_TRUE(MakeMarkedSparseFile(Ftp.DirectFileName, 2 * GiB + 100));
  ASSERT_TRUE(Ftp.Download("huge.bin", true)) << Ftp.ResultString();
  EXPECT_EQ(SizeOf(Ftp.DirectFileName), HugeSize);
  EXPECT_TRUE(MarksPresent(Ftp.DirectFileName));

  // Upload it back whole, then cut the copy and resume the upload.
  ASSERT_TRUE(Ftp.Upload("copy.bin", false)) << Ftp.ResultString();
  EXPECT_EQ(Ftp.QueryFileSize("copy.bin"), HugeSize);
  ASSERT_EQ(truncate((Root + "/pub/copy.bin").c_str(), 2 * GiB + 5), 0);
  ASSERT_TRUE(Ftp.Upload("copy.bin", true)) << Ftp.ResultString();
  EXPECT_EQ(SizeOf(Root + "/pub/copy.bin"), HugeSize);
  EXPECT_TRUE(MarksPresent(Root + "/pub/copy.bin"));
  EXPECT_TRUE(SameContent(Served, Root + "/pub/copy.bin"));
  EXPECT_TRUE(Ftp.LogOff());
}

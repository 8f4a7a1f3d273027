// The Windows platform layer on its own (built only for Windows; run under
// Wine by scripts/test-windows): local files under names outside ASCII,
// the registry's MIME map, the program path and a refused connection.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "net/blocksock.h"
#include "platform/filesys.h"
#include "platform/localfile.h"
#include "platform/mimetypes.h"
#include "platform/process.h"

namespace {

namespace fs = std::filesystem;

// The program's strings are UTF-8; std::filesystem takes them as char8_t.
fs::path PathOf(const std::string& Utf8) { return fs::path(std::u8string(Utf8.begin(), Utf8.end())); }
std::string Utf8Of(const fs::path& Path) {
  const std::u8string Text = Path.u8string();
  return std::string(Text.begin(), Text.end());
}

// A scratch directory under the system's temporary directory.
struct ScratchDir {
  fs::path Path = fs::temp_directory_path() /
                  ("tarvo-win-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
  ScratchDir() {
    fs::remove_all(Path);
    fs::create_directories(Path);
  }
  ~ScratchDir() { fs::remove_all(Path); }
  // The program's own form: "/" as the separator.
  std::string operator/(const std::string& Name) const { return NativePath(Utf8Of(Path)) + "/" + Name; }
};

std::string Content(const std::string& Name) {
  std::ifstream In(PathOf(Name), std::ios::binary);
  return {std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>()};
}

TEST(WinLocalFile, WritesAndRenamesUnderWideNames) {
  ScratchDir Dir;
  const std::string Final = Dir / "Bericht-\xc3\xa4\xc3\xb6\xc3\xbc-\xe6\x97\xa5\xe6\x9c\xac.txt";
  { std::ofstream(PathOf(Final), std::ios::binary) << "old"; }
  TLocalFileWriter File;
  std::string Reason;
  ASSERT_TRUE(File.Create(Final, Reason)) << Reason;
  EXPECT_EQ(File.TempName(), Final + ".tmp");
  ASSERT_EQ(File.Write("new content", 11), 11);
  ASSERT_TRUE(File.SetSize(3));
  EXPECT_EQ(File.Size(), 3);
  EXPECT_EQ(File.Position(), 3);
  ASSERT_TRUE(File.SetModificationTime(1700000000));
  ASSERT_TRUE(File.Commit(Reason)) << Reason;
  EXPECT_EQ(Content(Final), "new");
  EXPECT_FALSE(EntryExists(Final + ".tmp"));
  EXPECT_EQ(EntrySize(Final), 3);
}

TEST(WinLocalFile, TakesAFreshNameBesideAnExistingTemporaryAndRemovesOnlyItsOwn) {
  ScratchDir Dir;
  const std::string Final = Dir / "a.bin";
  { std::ofstream(PathOf(Final + ".tmp"), std::ios::binary) << "someone else's"; }
  std::string Reason;
  std::string Ours;
  {
    TLocalFileWriter File;
    ASSERT_TRUE(File.Create(Final, Reason)) << Reason;
    Ours = File.TempName();
    EXPECT_NE(Ours, Final + ".tmp");
    EXPECT_EQ(Ours.rfind(Final + ".", 0), 0u);
    EXPECT_EQ(Ours.substr(Ours.size() - 4), ".tmp");
    File.Write("x", 1);
    // Our name now leads to another file: discarding must leave it alone.
    File.Keep();
    ASSERT_TRUE(DeleteLocalFile(Ours));
  }
  TLocalFileWriter File;
  ASSERT_TRUE(File.Create(Final, Reason)) << Reason;
  const std::string Temp = File.TempName();
  std::string Closed;
  ASSERT_TRUE(File.Close(Closed));
  // Another file (created while ours still exists, so not ours reborn)
  // takes our name.
  { std::ofstream(PathOf(Dir / "other"), std::ios::binary) << "replaced"; }
  ASSERT_TRUE(ReplaceLocalFile(Dir / "other", Temp));
  File.Discard();
  EXPECT_EQ(Content(Temp), "replaced");
  EXPECT_EQ(Content(Final + ".tmp"), "someone else's");
  EXPECT_FALSE(EntryExists(Final));
}

TEST(WinLocalFile, DeleteGivesTheSystemsReason) {
  ScratchDir Dir;
  std::string Reason;
  EXPECT_FALSE(DeleteLocalFile(Dir / "missing.txt", Reason));
  EXPECT_FALSE(Reason.empty());
  EXPECT_TRUE(EntryExists(Utf8Of(Dir.Path)));
}

TEST(WinRegistry, MimeTypeToExtension) {
  std::string Extension;
  ASSERT_TRUE(FindMimeTypeExtension("text/plain", Extension));
  EXPECT_EQ(Extension, ".txt");
  EXPECT_FALSE(FindMimeTypeExtension("application/x-tarvo-nothing", Extension));
}

TEST(WinProcess, ExecutablePathIsThisProgram) {
  const std::string Path = ExecutablePath();
  EXPECT_EQ(Utf8Of(PathOf(Path).filename()), "winplatform_test.exe");
  EXPECT_TRUE(EntryExists(Path));
}

TEST(WinSockets, RefusedConnectionGivesTheWinsockNumber) {
  // A port that was just free: nothing listens there.
  const TSocketInterfaceGuard Interface;
  TBlockSocket Probe;
  Probe.Bind("127.0.0.1", "0");
  const std::string Port = std::to_string(Probe.LocalPort());
  Probe.CloseSocket();
  TBlockSocket Socket;
  Socket.ConnectTimeout = 5000;
  Socket.Connect("127.0.0.1", Port);
  EXPECT_EQ(Socket.LastErrorCode, 10061);
}

}  // namespace

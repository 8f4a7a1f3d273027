#include "platform/filesys.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace {

struct TDirectoryHandle {
  DIR* Dir;
  explicit TDirectoryHandle(const std::string& Path) : Dir(opendir(Path.c_str())) {}
  ~TDirectoryHandle() {
    if (Dir) closedir(Dir);
  }
  TDirectoryHandle(const TDirectoryHandle&) = delete;
  TDirectoryHandle& operator=(const TDirectoryHandle&) = delete;
};

struct TFileHandle {
  int Fd;
  explicit TFileHandle(int Descriptor) : Fd(Descriptor) {}
  ~TFileHandle() {
    if (Fd >= 0) close(Fd);
  }
  TFileHandle(const TFileHandle&) = delete;
  TFileHandle& operator=(const TFileHandle&) = delete;
};

}  // namespace

bool DirectoryExists(const std::string& Path) {
  struct stat Info;
  return stat(NativePath(Path).c_str(), &Info) == 0 && S_ISDIR(Info.st_mode);
}

std::vector<TFoundEntry> FindEntries(const std::string& Path) {
  const std::string Native = NativePath(Path);
  const std::size_t Slash = Native.rfind('/');
  const std::string Directory = Slash == std::string::npos ? "." : Slash == 0 ? "/" : Native.substr(0, Slash);
  const std::string Pattern = Slash == std::string::npos ? Native : Native.substr(Slash + 1);
  std::vector<TFoundEntry> Found;
  if (Pattern.empty()) return Found;

  const TDirectoryHandle Handle(Directory);
  if (!Handle.Dir) return Found;
  while (const dirent* Entry = readdir(Handle.Dir)) {
    const std::string Name = Entry->d_name;
    if (Name == "." || Name == ".." || !MatchesSearchPattern(Name, Pattern)) continue;
    struct stat Info;
    if (fstatat(dirfd(Handle.Dir), Entry->d_name, &Info, 0) != 0) continue;
    if (S_ISDIR(Info.st_mode))
      Found.push_back({Name, true, 0});
    else if (S_ISREG(Info.st_mode))
      Found.push_back({Name, false, static_cast<std::int64_t>(Info.st_size)});
  }
  std::sort(Found.begin(), Found.end(), [](const TFoundEntry& A, const TFoundEntry& B) { return A.Name < B.Name; });
  return Found;
}

std::int64_t EntrySize(const std::string& Path) {
  struct stat Info;
  if (stat(NativePath(Path).c_str(), &Info) != 0) return -1;
  if (S_ISDIR(Info.st_mode)) return 0;
  if (S_ISREG(Info.st_mode)) return static_cast<std::int64_t>(Info.st_size);
  return -1;
}

bool SetFileModificationTime(const std::string& FileName, std::int64_t UnixSeconds) {
  // Non-blocking, so that a named pipe in place of the file cannot hang the run.
  const TFileHandle File(open(NativePath(FileName).c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
  if (File.Fd < 0) return false;
  timespec Times[2] = {};
  Times[0].tv_nsec = UTIME_OMIT;
  Times[1].tv_sec = static_cast<time_t>(UnixSeconds);
  return futimens(File.Fd, Times) == 0;
}

std::string AbsolutePath(const std::string& Path) {
  std::filesystem::path Absolute(Path);
  if (Absolute.is_relative()) {
    std::error_code Error;
    const std::filesystem::path WorkDir = std::filesystem::current_path(Error);
    if (!Error) Absolute = WorkDir / Absolute;
  }
  return Absolute.lexically_normal().string();
}

bool EntryExists(const std::string& Path) {
  struct stat Info;
  return stat(NativePath(Path).c_str(), &Info) == 0;
}

bool DeleteLocalFile(const std::string& Path) { return unlink(NativePath(Path).c_str()) == 0; }

bool DeleteLocalFile(const std::string& Path, std::string& Reason) {
  if (DeleteLocalFile(Path)) return true;
  Reason = std::strerror(errno);
  return false;
}

bool ReplaceLocalFile(const std::string& From, const std::string& To) {
  return std::rename(NativePath(From).c_str(), NativePath(To).c_str()) == 0;
}

bool ReadWholeFile(const std::string& FileName, std::string& Text, std::string& Reason) {
  Text.clear();
  const TFileHandle File(open(FileName.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY));
  if (File.Fd < 0) {
    Reason = std::strerror(errno);
    return false;
  }
  struct stat Info;
  if (fstat(File.Fd, &Info) == 0 && S_ISREG(Info.st_mode) && Info.st_size > 0)
    Text.reserve(static_cast<std::size_t>(Info.st_size));
  char Buffer[65536];
  for (;;) {
    const ssize_t Got = read(File.Fd, Buffer, sizeof(Buffer));
    if (Got == 0) return true;
    if (Got < 0 && errno == EINTR) continue;
    if (Got < 0) {
      Reason = std::strerror(errno);
      return false;
    }
    Text.append(Buffer, static_cast<std::size_t>(Got));
  }
}

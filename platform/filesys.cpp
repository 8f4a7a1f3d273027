#include "platform/filesys.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string_view>

namespace {

char AsciiLower(char C) { return C >= 'A' && C <= 'Z' ? static_cast<char>(C - 'A' + 'a') : C; }

// "*" and "?" against the whole name; on a mismatch the last "*" takes one
// more character, which keeps the cost at names times pattern length.
bool MatchesWildcards(std::string_view Name, std::string_view Pattern) {
  std::size_t N = 0, P = 0;
  std::size_t StarP = std::string_view::npos, StarN = 0;
  while (N < Name.size()) {
    if (P < Pattern.size() && Pattern[P] == '*') {
      StarP = P++;
      StarN = N;
    } else if (P < Pattern.size() && (Pattern[P] == '?' || AsciiLower(Pattern[P]) == AsciiLower(Name[N]))) {
      ++P;
      ++N;
    } else if (StarP != std::string_view::npos) {
      P = StarP + 1;
      N = ++StarN;
    } else {
      return false;
    }
  }
  while (P < Pattern.size() && Pattern[P] == '*') ++P;
  return P == Pattern.size();
}

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

std::string NativePath(const std::string& Path) {
  std::string Result = Path;
  std::replace(Result.begin(), Result.end(), '\\', '/');
  return Result;
}

bool HasWildcards(const std::string& Name) { return Name.find_first_of("*?") != std::string::npos; }

bool MatchesSearchPattern(const std::string& Name, const std::string& Pattern) {
  const std::string_view P = Pattern;
  if (MatchesWildcards(Name, P)) return true;
  if (P.size() >= 2 && P.substr(P.size() - 2) == ".*") return MatchesWildcards(Name, P.substr(0, P.size() - 2));
  if (P.size() >= 2 && P.back() == '.' && Name.find('.') == std::string::npos)
    return MatchesWildcards(Name, P.substr(0, P.size() - 1));
  return false;
}

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

bool DeleteLocalFile(const std::string& Path) { return unlink(NativePath(Path).c_str()) == 0; }

bool ReplaceLocalFile(const std::string& From, const std::string& To) {
  return std::rename(NativePath(From).c_str(), NativePath(To).c_str()) == 0;
}

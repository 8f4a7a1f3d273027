#include "platform/filesys.h"

#include <algorithm>

#include "platform/widetext_win.h"

namespace {

struct TFindHandle {
  HANDLE Handle;
  explicit TFindHandle(HANDLE Value) : Handle(Value) {}
  ~TFindHandle() {
    if (Handle != INVALID_HANDLE_VALUE) FindClose(Handle);
  }
  TFindHandle(const TFindHandle&) = delete;
  TFindHandle& operator=(const TFindHandle&) = delete;
};

struct TFileHandle {
  HANDLE Handle;
  explicit TFileHandle(HANDLE Value) : Handle(Value) {}
  ~TFileHandle() {
    if (Handle != INVALID_HANDLE_VALUE) CloseHandle(Handle);
  }
  TFileHandle(const TFileHandle&) = delete;
  TFileHandle& operator=(const TFileHandle&) = delete;
};

std::int64_t SizeOf(DWORD High, DWORD Low) {
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(High) << 32) | Low);
}

// The attributes of what Path leads to: a link (reparse point) is followed
// by opening it, as the Linux build's stat() does.
bool ResolvedInformation(const std::wstring& Path, BY_HANDLE_FILE_INFORMATION& Info) {
  const TFileHandle File(CreateFileW(Path.c_str(), FILE_READ_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                     FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (File.Handle == INVALID_HANDLE_VALUE) return false;
  // Consoles, pipes and devices open too; only disk entries count.
  if (GetFileType(File.Handle) != FILE_TYPE_DISK) return false;
  return GetFileInformationByHandle(File.Handle, &Info) != 0;
}

}  // namespace

bool DirectoryExists(const std::string& Path) {
  const DWORD Attributes = GetFileAttributesW(WidePath(Path).c_str());
  return Attributes != INVALID_FILE_ATTRIBUTES && (Attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

std::vector<TFoundEntry> FindEntries(const std::string& Path) {
  const std::string Native = NativePath(Path);
  const std::size_t Slash = Native.rfind('/');
  const std::string Directory = Slash == std::string::npos ? "." : Slash == 0 ? "/" : Native.substr(0, Slash);
  const std::string Pattern = Slash == std::string::npos ? Native : Native.substr(Slash + 1);
  std::vector<TFoundEntry> Found;
  if (Pattern.empty()) return Found;

  // Every entry is listed and matched here: the system's own matching also
  // tries the short 8.3 names, which would find entries the pattern does
  // not name.
  const std::wstring WideDirectory = WidePath(Directory == "/" ? "/" : Directory + "/");
  WIN32_FIND_DATAW Data;
  const TFindHandle Handle(FindFirstFileExW((WideDirectory + L"*").c_str(), FindExInfoBasic, &Data,
                                            FindExSearchNameMatch, nullptr, 0));
  if (Handle.Handle == INVALID_HANDLE_VALUE) return Found;
  do {
    const std::string Name = Utf8FromWide(Data.cFileName);
    if (Name == "." || Name == ".." || !MatchesSearchPattern(Name, Pattern)) continue;
    bool Directory = (Data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    std::int64_t Size = SizeOf(Data.nFileSizeHigh, Data.nFileSizeLow);
    if ((Data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
      BY_HANDLE_FILE_INFORMATION Info;
      if (!ResolvedInformation(WideDirectory + Data.cFileName, Info)) continue;  // dangling
      Directory = (Info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      Size = SizeOf(Info.nFileSizeHigh, Info.nFileSizeLow);
    }
    if ((Data.dwFileAttributes & FILE_ATTRIBUTE_DEVICE) != 0) continue;
    Found.push_back({Name, Directory, Directory ? 0 : Size});
  } while (FindNextFileW(Handle.Handle, &Data));
  std::sort(Found.begin(), Found.end(), [](const TFoundEntry& A, const TFoundEntry& B) { return A.Name < B.Name; });
  return Found;
}

std::int64_t EntrySize(const std::string& Path) {
  BY_HANDLE_FILE_INFORMATION Info;
  if (!ResolvedInformation(WidePath(Path), Info)) return -1;
  if ((Info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return 0;
  return SizeOf(Info.nFileSizeHigh, Info.nFileSizeLow);
}

bool SetFileModificationTime(const std::string& FileName, std::int64_t UnixSeconds) {
  const TFileHandle File(CreateFileW(WidePath(FileName).c_str(), FILE_WRITE_ATTRIBUTES,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
  if (File.Handle == INVALID_HANDLE_VALUE || GetFileType(File.Handle) != FILE_TYPE_DISK) return false;
  FILETIME Modified;
  if (!FileTimeFromUnix(UnixSeconds, Modified)) return false;
  return SetFileTime(File.Handle, nullptr, nullptr, &Modified) != 0;
}

std::string AbsolutePath(const std::string& Path) {
  // Paths are UTF-8 here; std::filesystem would take a narrow string in the
  // ANSI code page.
  const std::wstring Wide = WidePath(Path.empty() ? "." : Path);
  std::wstring Full(MAX_PATH, L'\0');
  DWORD Length = GetFullPathNameW(Wide.c_str(), static_cast<DWORD>(Full.size()), Full.data(), nullptr);
  if (Length >= Full.size()) {
    Full.resize(Length);
    Length = GetFullPathNameW(Wide.c_str(), static_cast<DWORD>(Full.size()), Full.data(), nullptr);
  }
  if (Length == 0 || Length >= Full.size()) return NativePath(Path);
  return NativePath(Utf8FromWide(Full.data(), static_cast<int>(Length)));
}

bool EntryExists(const std::string& Path) {
  return GetFileAttributesW(WidePath(Path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool DeleteLocalFile(const std::string& Path) { return DeleteFileW(WidePath(Path).c_str()) != 0; }

bool DeleteLocalFile(const std::string& Path, std::string& Reason) {
  if (DeleteLocalFile(Path)) return true;
  Reason = SystemErrorText(GetLastError());
  return false;
}

bool ReplaceLocalFile(const std::string& From, const std::string& To) {
  return MoveFileExW(WidePath(From).c_str(), WidePath(To).c_str(), MOVEFILE_REPLACE_EXISTING) != 0;
}

bool ReadWholeFile(const std::string& FileName, std::string& Text, std::string& Reason) {
  Text.clear();
  const TFileHandle File(CreateFileW(WidePath(FileName).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (File.Handle == INVALID_HANDLE_VALUE) {
    Reason = SystemErrorText(GetLastError());
    return false;
  }
  LARGE_INTEGER Size;
  if (GetFileSizeEx(File.Handle, &Size) && Size.QuadPart > 0) Text.reserve(static_cast<std::size_t>(Size.QuadPart));
  char Buffer[65536];
  for (;;) {
    DWORD Got = 0;
    if (!ReadFile(File.Handle, Buffer, sizeof(Buffer), &Got, nullptr)) {
      Reason = SystemErrorText(GetLastError());
      return false;
    }
    if (Got == 0) return true;
    Text.append(Buffer, Got);
  }
}

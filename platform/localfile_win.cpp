// TLocalFileWriter over the Win32 file API with wide-character names:
// CREATE_NEW never opens an existing entry, FILE_FLAG_OPEN_REPARSE_POINT
// never follows a link, MoveFileExW puts the file in place in one step.
#include "platform/localfile.h"

#include <algorithm>
#include <random>

#include "platform/filesys.h"
#include "platform/widetext_win.h"

namespace {

// Reads and writes go in pieces a DWORD can count.
constexpr std::int64_t MaxPiece = 1 << 30;

HANDLE AsHandle(std::intptr_t Value) { return reinterpret_cast<HANDLE>(Value); }

// The unique names only need to differ from what is in the directory;
// CREATE_NEW settles any race.
std::string UniqueTempName(const std::string& FinalName) {
  static std::mt19937_64 Generator{std::random_device{}() ^ static_cast<std::uint64_t>(GetCurrentProcessId())};
  static const char Digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::string Name = FinalName + ".";
  for (int Index = 0; Index < 8; ++Index) Name += Digits[Generator() % 36];
  return Name + ".tmp";
}

// Volume serial number and file index: what tells one file from another.
bool FileIdentity(HANDLE File, std::uint64_t& Volume, std::uint64_t& Index) {
  BY_HANDLE_FILE_INFORMATION Info;
  if (!GetFileInformationByHandle(File, &Info)) return false;
  Volume = Info.dwVolumeSerialNumber;
  Index = (static_cast<std::uint64_t>(Info.nFileIndexHigh) << 32) | Info.nFileIndexLow;
  return true;
}

}  // namespace

TLocalFileWriter::~TLocalFileWriter() { Discard(); }

bool TLocalFileWriter::Fail(int Error) {
  LastReason_ = SystemErrorText(static_cast<DWORD>(Error));
  return false;
}

bool TLocalFileWriter::Create(const std::string& FinalName, std::string& Reason) {
  Discard();
  FinalName_ = NativePath(FinalName);
  TempName_ = FinalName_ + ".tmp";
  LastReason_.clear();
  WriteFailed_ = false;
  // A few rounds are plenty: each unique name is new unless someone races us.
  HANDLE File = INVALID_HANDLE_VALUE;
  DWORD Error = 0;
  for (int Attempt = 0; Attempt < 100; ++Attempt) {
    File = CreateFileW(WidePath(TempName_).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, FILE_SHARE_READ, nullptr,
                       CREATE_NEW, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (File != INVALID_HANDLE_VALUE) break;
    Error = GetLastError();
    if (Error != ERROR_FILE_EXISTS && Error != ERROR_ALREADY_EXISTS) break;
    TempName_ = UniqueTempName(FinalName_);
  }
  if (File == INVALID_HANDLE_VALUE) {
    Fail(static_cast<int>(Error));
    Reason = LastReason_;
    return false;
  }
  if (!FileIdentity(File, Device_, Inode_)) {
    Fail(static_cast<int>(GetLastError()));
    Reason = LastReason_;
    // Unknown identity: removed through the handle that created it.
    FILE_DISPOSITION_INFO Disposition{};
    Disposition.DeleteFile = TRUE;
    SetFileInformationByHandle(File, FileDispositionInfo, &Disposition, sizeof(Disposition));
    CloseHandle(File);
    return false;
  }
  Fd_ = reinterpret_cast<std::intptr_t>(File);
  Created_ = true;
  return true;
}

std::int64_t TLocalFileWriter::Read(void* Buffer, std::int64_t Count) {
  std::int64_t Done = 0;
  auto* Bytes = static_cast<char*>(Buffer);
  while (Done < Count) {
    DWORD Got = 0;
    const auto Piece = static_cast<DWORD>(std::min(Count - Done, MaxPiece));
    if (!ReadFile(AsHandle(Fd_), Bytes + Done, Piece, &Got, nullptr)) Fail(static_cast<int>(GetLastError()));
    if (Got == 0) break;
    Done += Got;
  }
  return Done;
}

std::int64_t TLocalFileWriter::Write(const void* Buffer, std::int64_t Count) {
  std::int64_t Done = 0;
  const auto* Bytes = static_cast<const char*>(Buffer);
  while (Done < Count) {
    DWORD Put = 0;
    const auto Piece = static_cast<DWORD>(std::min(Count - Done, MaxPiece));
    const bool Written = WriteFile(AsHandle(Fd_), Bytes + Done, Piece, &Put, nullptr) != 0;
    if (!Written || Put == 0) {
      // A write that takes nothing without an error has run out of room.
      Fail(static_cast<int>(Written ? ERROR_DISK_FULL : GetLastError()));
      WriteFailed_ = true;
      break;
    }
    Done += Put;
  }
  return Done;
}

std::int64_t TLocalFileWriter::Seek(std::int64_t Offset, TSeekOrigin Origin) {
  DWORD Method = FILE_BEGIN;
  if (Origin == TSeekOrigin::Current) Method = FILE_CURRENT;
  if (Origin == TSeekOrigin::End) Method = FILE_END;
  LARGE_INTEGER Distance;
  LARGE_INTEGER At;
  Distance.QuadPart = Offset;
  if (!SetFilePointerEx(AsHandle(Fd_), Distance, &At, Method)) {
    Fail(static_cast<int>(GetLastError()));
    return -1;
  }
  return At.QuadPart;
}

std::int64_t TLocalFileWriter::Size() {
  LARGE_INTEGER Length;
  if (GetFileSizeEx(AsHandle(Fd_), &Length)) return Length.QuadPart;
  Fail(static_cast<int>(GetLastError()));
  return -1;
}

bool TLocalFileWriter::SetSize(std::int64_t NewSize) {
  // The end of a file is set at the file pointer; the position is restored
  // afterwards, kept within the new size.
  const std::int64_t Before = Position();
  if (Before < 0 || Seek(NewSize, TSeekOrigin::Begin) < 0) return false;
  if (!SetEndOfFile(AsHandle(Fd_))) {
    Fail(static_cast<int>(GetLastError()));
    SetPosition(Before);
    return false;
  }
  SetPosition(std::min(Before, NewSize));
  return true;
}

bool TLocalFileWriter::SetModificationTime(std::int64_t UnixSeconds) {
  FILETIME Modified;
  if (!FileTimeFromUnix(UnixSeconds, Modified)) return Fail(ERROR_INVALID_PARAMETER);
  if (IsOpen())
    return SetFileTime(AsHandle(Fd_), nullptr, nullptr, &Modified) != 0 || Fail(static_cast<int>(GetLastError()));
  if (!Created_) return Fail(ERROR_FILE_NOT_FOUND);
  HANDLE File = CreateFileW(WidePath(TempName_).c_str(), FILE_WRITE_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (File == INVALID_HANDLE_VALUE) return Fail(static_cast<int>(GetLastError()));
  const bool Set = SetFileTime(File, nullptr, nullptr, &Modified) != 0;
  if (!Set) Fail(static_cast<int>(GetLastError()));
  CloseHandle(File);
  return Set;
}

void TLocalFileWriter::CloseQuietly() {
  if (IsOpen()) CloseHandle(AsHandle(Fd_));
  Fd_ = -1;
}

bool TLocalFileWriter::Close(std::string& Reason) {
  if (IsOpen()) {
    const bool Closed = CloseHandle(AsHandle(Fd_)) != 0;
    Fd_ = -1;
    if (!Closed && !WriteFailed_) {
      Fail(static_cast<int>(GetLastError()));
      WriteFailed_ = true;
    }
  }
  if (!WriteFailed_) return true;
  Reason = LastReason_;
  return false;
}

bool TLocalFileWriter::Commit(std::string& Reason) {
  if (!Created_) {
    Reason = SystemErrorText(ERROR_FILE_NOT_FOUND);
    return false;
  }
  if (!Close(Reason)) return false;
  // Replaces the entry at the final name itself, a link included.
  if (!MoveFileExW(WidePath(TempName_).c_str(), WidePath(FinalName_).c_str(), MOVEFILE_REPLACE_EXISTING)) {
    Fail(static_cast<int>(GetLastError()));
    Reason = LastReason_;
    return false;
  }
  Created_ = false;
  return true;
}

void TLocalFileWriter::Discard() {
  CloseQuietly();
  if (!Created_) return;
  Created_ = false;
  // Someone may have put another entry at our name meanwhile; that one is
  // not ours to remove. The entry is opened without following a link,
  // checked and removed through the same handle, so what is checked is
  // what goes.
  HANDLE File = CreateFileW(WidePath(TempName_).c_str(), DELETE | FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (File == INVALID_HANDLE_VALUE) return;
  std::uint64_t Volume = 0;
  std::uint64_t Index = 0;
  if (FileIdentity(File, Volume, Index) && Volume == Device_ && Index == Inode_) {
    FILE_DISPOSITION_INFO Disposition{};
    Disposition.DeleteFile = TRUE;
    SetFileInformationByHandle(File, FileDispositionInfo, &Disposition, sizeof(Disposition));
  }
  CloseHandle(File);
}

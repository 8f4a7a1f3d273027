#include "platform/localfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

#include "platform/filesys.h"

namespace {

const int CreateFlags = O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY;

// The unique names only need to differ from what is in the directory;
// O_EXCL settles any race.
std::string UniqueTempName(const std::string& FinalName) {
  static std::mt19937_64 Generator{std::random_device{}() ^ static_cast<std::uint64_t>(getpid())};
  static const char Digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  std::string Name = FinalName + ".";
  for (int Index = 0; Index < 8; ++Index) Name += Digits[Generator() % 36];
  return Name + ".tmp";
}

}  // namespace

TLocalFileWriter::~TLocalFileWriter() { Discard(); }

bool TLocalFileWriter::Fail(int Error) {
  LastReason_ = std::strerror(Error);
  return false;
}

bool TLocalFileWriter::Create(const std::string& FinalName, std::string& Reason) {
  Discard();
  FinalName_ = NativePath(FinalName);
  TempName_ = FinalName_ + ".tmp";
  LastReason_.clear();
  WriteFailed_ = false;
  // A few rounds are plenty: each unique name is new unless someone races us.
  for (int Attempt = 0; Attempt < 100; ++Attempt) {
    Fd_ = ::open(TempName_.c_str(), CreateFlags, 0666);
    if (Fd_ >= 0 || errno != EEXIST) break;
    TempName_ = UniqueTempName(FinalName_);
  }
  struct stat Info;
  if (Fd_ < 0 || ::fstat(Fd_, &Info) != 0) {
    Fail(errno);
    Reason = LastReason_;
    CloseQuietly();
    return false;
  }
  Created_ = true;
  Device_ = Info.st_dev;
  Inode_ = Info.st_ino;
  return true;
}

std::int64_t TLocalFileWriter::Read(void* Buffer, std::int64_t Count) {
  std::int64_t Done = 0;
  auto* Bytes = static_cast<char*>(Buffer);
  while (Done < Count) {
    const ssize_t Got = ::read(Fd_, Bytes + Done, static_cast<size_t>(Count - Done));
    if (Got < 0 && errno == EINTR) continue;
    if (Got < 0) Fail(errno);
    if (Got <= 0) break;
    Done += Got;
  }
  return Done;
}

std::int64_t TLocalFileWriter::Write(const void* Buffer, std::int64_t Count) {
  std::int64_t Done = 0;
  const auto* Bytes = static_cast<const char*>(Buffer);
  while (Done < Count) {
    const ssize_t Put = ::write(Fd_, Bytes + Done, static_cast<size_t>(Count - Done));
    if (Put < 0 && errno == EINTR) continue;
    if (Put <= 0) {
      // A write that takes nothing without an error has run out of room.
      Fail(Put < 0 ? errno : ENOSPC);
      WriteFailed_ = true;
      break;
    }
    Done += Put;
  }
  return Done;
}

std::int64_t TLocalFileWriter::Seek(std::int64_t Offset, TSeekOrigin Origin) {
  int Whence = SEEK_SET;
  if (Origin == TSeekOrigin::Current) Whence = SEEK_CUR;
  if (Origin == TSeekOrigin::End) Whence = SEEK_END;
  const off_t At = ::lseek(Fd_, static_cast<off_t>(Offset), Whence);
  if (At < 0) Fail(errno);
  return static_cast<std::int64_t>(At);
}

std::int64_t TLocalFileWriter::Size() {
  struct stat Info;
  if (::fstat(Fd_, &Info) == 0) return static_cast<std::int64_t>(Info.st_size);
  Fail(errno);
  return -1;
}

bool TLocalFileWriter::SetSize(std::int64_t NewSize) {
  if (::ftruncate(Fd_, static_cast<off_t>(NewSize)) != 0) return Fail(errno);
  if (Position() > NewSize) SetPosition(NewSize);
  return true;
}

bool TLocalFileWriter::SetModificationTime(std::int64_t UnixSeconds) {
  timespec Times[2] = {};
  Times[0].tv_nsec = UTIME_OMIT;
  Times[1].tv_sec = static_cast<time_t>(UnixSeconds);
  if (Fd_ >= 0) return ::futimens(Fd_, Times) == 0 || Fail(errno);
  if (!Created_) return Fail(ENOENT);
  return ::utimensat(AT_FDCWD, TempName_.c_str(), Times, AT_SYMLINK_NOFOLLOW) == 0 || Fail(errno);
}

void TLocalFileWriter::CloseQuietly() {
  if (Fd_ >= 0) ::close(Fd_);
  Fd_ = -1;
}

bool TLocalFileWriter::Close(std::string& Reason) {
  if (Fd_ >= 0) {
    const int Result = ::close(Fd_);
    Fd_ = -1;
    // A network or quota file system may report a lost write only here.
    if (Result != 0 && !WriteFailed_) {
      Fail(errno);
      WriteFailed_ = true;
    }
  }
  if (!WriteFailed_) return true;
  Reason = LastReason_;
  return false;
}

bool TLocalFileWriter::Commit(std::string& Reason) {
  if (!Created_) {
    Reason = std::strerror(ENOENT);
    return false;
  }
  if (!Close(Reason)) return false;
  // rename(2) replaces the entry at the final name itself, a link included.
  if (std::rename(TempName_.c_str(), FinalName_.c_str()) != 0) {
    Fail(errno);
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
  // not ours to remove.
  struct stat Info;
  if (::lstat(TempName_.c_str(), &Info) != 0) return;
  if (Info.st_dev != Device_ || Info.st_ino != Inode_) return;
  ::unlink(TempName_.c_str());
}

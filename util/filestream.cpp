// TFileStream over a POSIX descriptor.
#include "util/streams.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

TFileStream::~TFileStream() { Close(); }

bool TFileStream::Open(const std::string& FileName, TFileMode Mode) {
  Close();
  int Flags = O_CLOEXEC;
  if (Mode == TFileMode::OpenRead) Flags |= O_RDONLY;
  if (Mode == TFileMode::OpenReadWrite) Flags |= O_RDWR;
  if (Mode == TFileMode::Create) Flags |= O_RDWR | O_CREAT | O_TRUNC;
  Fd_ = ::open(FileName.c_str(), Flags, 0644);
  return Fd_ >= 0;
}

void TFileStream::Close() {
  if (Fd_ >= 0) ::close(Fd_);
  Fd_ = -1;
}

std::int64_t TFileStream::Read(void* Buffer, std::int64_t Count) {
  std::int64_t Done = 0;
  auto* Bytes = static_cast<char*>(Buffer);
  while (Done < Count) {
    const ssize_t Got = ::read(Fd_, Bytes + Done, static_cast<size_t>(Count - Done));
    if (Got < 0 && errno == EINTR) continue;
    if (Got <= 0) break;
    Done += Got;
  }
  return Done;
}

std::int64_t TFileStream::Write(const void* Buffer, std::int64_t Count) {
  std::int64_t Done = 0;
  const auto* Bytes = static_cast<const char*>(Buffer);
  while (Done < Count) {
    const ssize_t Put = ::write(Fd_, Bytes + Done, static_cast<size_t>(Count - Done));
    if (Put < 0 && errno == EINTR) continue;
    if (Put <= 0) break;
    Done += Put;
  }
  return Done;
}

std::int64_t TFileStream::Seek(std::int64_t Offset, TSeekOrigin Origin) {
  int Whence = SEEK_SET;
  if (Origin == TSeekOrigin::Current) Whence = SEEK_CUR;
  if (Origin == TSeekOrigin::End) Whence = SEEK_END;
  return static_cast<std::int64_t>(::lseek(Fd_, static_cast<off_t>(Offset), Whence));
}

std::int64_t TFileStream::Size() {
  struct stat Info;
  if (::fstat(Fd_, &Info) != 0) return -1;
  return static_cast<std::int64_t>(Info.st_size);
}

bool TFileStream::SetSize(std::int64_t NewSize) {
  if (::ftruncate(Fd_, static_cast<off_t>(NewSize)) != 0) return false;
  if (Position() > NewSize) SetPosition(NewSize);
  return true;
}

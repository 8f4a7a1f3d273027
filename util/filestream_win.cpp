// TFileStream over a C runtime descriptor opened with the wide-character
// name, so names outside ASCII work; binary, never inherited.
#include "util/streams.h"

#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>

#include "platform/widetext_win.h"

TFileStream::~TFileStream() { Close(); }

bool TFileStream::Open(const std::string& FileName, TFileMode Mode) {
  Close();
  int Flags = _O_BINARY | _O_NOINHERIT;
  if (Mode == TFileMode::OpenRead) Flags |= _O_RDONLY;
  if (Mode == TFileMode::OpenReadWrite) Flags |= _O_RDWR;
  if (Mode == TFileMode::Create) Flags |= _O_RDWR | _O_CREAT | _O_TRUNC;
  Fd_ = _wopen(WidePath(FileName).c_str(), Flags, _S_IREAD | _S_IWRITE);
  return Fd_ >= 0;
}

void TFileStream::Close() {
  if (Fd_ >= 0) _close(Fd_);
  Fd_ = -1;
}

std::int64_t TFileStream::Read(void* Buffer, std::int64_t Count) {
  std::int64_t Done = 0;
  auto* Bytes = static_cast<char*>(Buffer);
  while (Done < Count) {
    const auto Piece = static_cast<unsigned>(std::min<std::int64_t>(Count - Done, INT_MAX));
    const int Got = _read(Fd_, Bytes + Done, Piece);
    if (Got <= 0) break;
    Done += Got;
  }
  return Done;
}

std::int64_t TFileStream::Write(const void* Buffer, std::int64_t Count) {
  std::int64_t Done = 0;
  const auto* Bytes = static_cast<const char*>(Buffer);
  while (Done < Count) {
    const auto Piece = static_cast<unsigned>(std::min<std::int64_t>(Count - Done, INT_MAX));
    const int Put = _write(Fd_, Bytes + Done, Piece);
    if (Put <= 0) break;
    Done += Put;
  }
  return Done;
}

std::int64_t TFileStream::Seek(std::int64_t Offset, TSeekOrigin Origin) {
  int Whence = SEEK_SET;
  if (Origin == TSeekOrigin::Current) Whence = SEEK_CUR;
  if (Origin == TSeekOrigin::End) Whence = SEEK_END;
  return _lseeki64(Fd_, Offset, Whence);
}

std::int64_t TFileStream::Size() { return _filelengthi64(Fd_); }

bool TFileStream::SetSize(std::int64_t NewSize) {
  if (_chsize_s(Fd_, NewSize) != 0) return false;
  if (Position() > NewSize) SetPosition(NewSize);
  return true;
}

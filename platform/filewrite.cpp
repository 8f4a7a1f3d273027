#include "platform/filewrite.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

bool Fail(std::string& Reason) {
  Reason = std::strerror(errno);
  return false;
}

bool WriteAll(int Fd, const std::string& Data) {
  const char* Next = Data.data();
  std::size_t Left = Data.size();
  while (Left > 0) {
    const ssize_t Written = write(Fd, Next, Left);
    if (Written < 0 && errno == EINTR) continue;
    if (Written <= 0) return false;
    Next += Written;
    Left -= static_cast<std::size_t>(Written);
  }
  return true;
}

}  // namespace

bool WriteWholeFile(const std::string& FileName, const std::string& Data, std::string& Reason) {
  const int Fd = open(FileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (Fd < 0) return Fail(Reason);
  if (!WriteAll(Fd, Data)) {
    Fail(Reason);
    close(Fd);
    return false;
  }
  if (close(Fd) != 0) return Fail(Reason);
  return true;
}

bool ReplaceFile(const std::string& From, const std::string& To, std::string& Reason) {
  if (std::rename(From.c_str(), To.c_str()) != 0) return Fail(Reason);
  return true;
}

bool RemoveFile(const std::string& FileName) { return unlink(FileName.c_str()) == 0; }

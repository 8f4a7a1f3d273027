#include "support/capturestdout.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace testsupport {

CapturedStdout::CapturedStdout() {
  std::fflush(stdout);
  char Template[] = "/tmp/tarvo-stdout-XXXXXX";
  CaptureFd_ = mkstemp(Template);
  if (CaptureFd_ < 0) return;
  unlink(Template);
  SavedFd_ = dup(STDOUT_FILENO);
  dup2(CaptureFd_, STDOUT_FILENO);
}

CapturedStdout::~CapturedStdout() {
  std::fflush(stdout);
  if (SavedFd_ >= 0) {
    dup2(SavedFd_, STDOUT_FILENO);
    close(SavedFd_);
  }
  if (CaptureFd_ >= 0) close(CaptureFd_);
}

std::string CapturedStdout::Text() const {
  std::fflush(stdout);
  std::string Result;
  if (CaptureFd_ < 0) return Result;
  char Buffer[65536];
  off_t Offset = 0;
  for (;;) {
    const ssize_t Got = pread(CaptureFd_, Buffer, sizeof(Buffer), Offset);
    if (Got <= 0) break;
    Result.append(Buffer, static_cast<size_t>(Got));
    Offset += Got;
  }
  return Result;
}

}  // namespace testsupport

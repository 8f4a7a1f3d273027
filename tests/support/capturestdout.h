// Captures what the test process itself writes to standard output (file
// descriptor 1), for code that logs through WriteLog.
#pragma once

#include <string>

namespace testsupport {

// While alive, standard output goes to a scratch file instead of the
// terminal; Text() returns everything written since construction.
class CapturedStdout {
 public:
  CapturedStdout();
  CapturedStdout(const CapturedStdout&) = delete;
  CapturedStdout& operator=(const CapturedStdout&) = delete;
  ~CapturedStdout();
  std::string Text() const;

 private:
  int SavedFd_ = -1;
  int CaptureFd_ = -1;
};

}  // namespace testsupport

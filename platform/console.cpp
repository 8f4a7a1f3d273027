#include "platform/console.h"

#include <unistd.h>

#include <cstdio>

void WriteConsoleLine(const std::string& Line) {
  std::fflush(stdout);
  const char* Data = Line.data();
  size_t Left = Line.size();
  while (Left > 0) {
    const ssize_t Written = write(STDOUT_FILENO, Data, Left);
    if (Written <= 0) break;
    Data += Written;
    Left -= static_cast<size_t>(Written);
  }
}

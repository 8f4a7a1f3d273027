#include "platform/process.h"

#include <climits>
#include <csignal>
#include <unistd.h>

std::string ExecutablePath() {
  char Buffer[PATH_MAX];
  const ssize_t Length = readlink("/proc/self/exe", Buffer, sizeof(Buffer) - 1);
  if (Length <= 0) return "tarvo";
  return std::string(Buffer, static_cast<size_t>(Length));
}

void IgnoreBrokenPipes() { std::signal(SIGPIPE, SIG_IGN); }

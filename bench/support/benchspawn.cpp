#include "bench/support/benchspawn.h"

#include <fcntl.h>
#include <unistd.h>

namespace {

pid_t Spawn(const std::vector<std::string>& Argv, const std::string& WorkDir, bool OwnGroup) {
  const pid_t Pid = fork();
  if (Pid != 0) return Pid;
  if (OwnGroup) setpgid(0, 0);
  if (!WorkDir.empty() && chdir(WorkDir.c_str()) != 0) _exit(126);
  const int Null = open("/dev/null", O_RDWR);
  dup2(Null, 0);
  dup2(Null, 1);
  dup2(Null, 2);
  std::vector<char*> Args;
  for (const auto& Arg : Argv) Args.push_back(const_cast<char*>(Arg.c_str()));
  Args.push_back(nullptr);
  execvp(Args[0], Args.data());
  _exit(127);
}

}  // namespace

pid_t SpawnQuiet(const std::vector<std::string>& Argv, const std::string& WorkDir) {
  return Spawn(Argv, WorkDir, false);
}

pid_t SpawnServer(const std::vector<std::string>& Argv) { return Spawn(Argv, "", true); }

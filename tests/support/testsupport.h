// Helpers shared by the tests: running the program as a process, starting
// and stopping peer servers, free loopback ports and scratch directories.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

struct RunResult {
  int ExitCode = -1;      // exit status, or 128 + signal
  std::string Output;     // standard output
  std::string ErrorText;  // standard error
};

// Runs Argv (Argv[0] is the program path) with an optional working
// directory and extra environment ("NAME=value"), waits at most
// TimeoutSeconds (then kills it), and returns its exit code and output.
RunResult RunProcess(const std::vector<std::string>& Argv, const std::string& WorkDir = "",
                     const std::vector<std::string>& Env = {}, int TimeoutSeconds = 120);

// Runs build/tarvo with the given arguments.
RunResult RunTarvo(const std::vector<std::string>& Args, const std::string& WorkDir = "",
                   const std::vector<std::string>& Env = {}, int TimeoutSeconds = 120);

// Output lines with the "yyyy/MM/dd H:mm:ss " stamp removed (unstamped
// lines, such as the banner, are kept as they are).
std::vector<std::string> StripStamps(const std::string& Output);

// A background process (a peer server), stopped by process id when the
// object goes out of scope. Its output goes to LogFile when given.
class BackgroundProcess {
 public:
  BackgroundProcess() = default;
  BackgroundProcess(const BackgroundProcess&) = delete;
  BackgroundProcess& operator=(const BackgroundProcess&) = delete;
  ~BackgroundProcess() { Stop(); }
  bool Start(const std::vector<std::string>& Argv, const std::string& WorkDir = "", const std::string& LogFile = "");
  void Stop();
  bool Running() const;
  pid_t Pid() const { return Pid_; }

 private:
  pid_t Pid_ = -1;
};

// A TCP port on 127.0.0.1 that nothing listens on right now.
int FreePort();

// Waits (bounded) until something accepts connections on Host:Port.
bool WaitForPort(int Port, int TimeoutMilliseconds = 10000, const std::string& Host = "127.0.0.1");

// A fresh directory under /tmp, removed with its contents on destruction.
class TempDir {
 public:
  TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir();
  const std::string& Path() const { return Path_; }
  std::string operator/(const std::string& Name) const { return Path_ + "/" + Name; }

 private:
  std::string Path_;
};

void WriteFile(const std::string& Path, const std::string& Content);
std::string ReadFile(const std::string& Path);
bool FileExists(const std::string& Path);
// True when an executable of that name is on PATH or the path exists.
bool HaveProgram(const std::string& Name);

// Wrappers that run the program as "nobody" (the suite runs as root, whom
// permissions do not stop), or with files limited to Blocks * 512 bytes and
// SIGXFSZ ignored, so that a write past the limit fails as on a full disk.
const std::vector<std::string> AsNobody = {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
std::vector<std::string> WithFileSizeLimit(int Blocks);

}  // namespace testsupport

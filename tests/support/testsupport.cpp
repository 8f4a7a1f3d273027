#include "support/testsupport.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

namespace testsupport {

namespace {

std::vector<char*> CStrings(const std::vector<std::string>& Items) {
  std::vector<char*> Result;
  for (const auto& Item : Items) Result.push_back(const_cast<char*>(Item.c_str()));
  Result.push_back(nullptr);
  return Result;
}

void ApplyEnv(const std::vector<std::string>& Env) {
  for (const auto& Entry : Env) putenv(strdup(Entry.c_str()));
}

int ExitCodeOf(int Status) {
  if (WIFEXITED(Status)) return WEXITSTATUS(Status);
  if (WIFSIGNALED(Status)) return 128 + WTERMSIG(Status);
  return -1;
}

}  // namespace

RunResult RunProcess(const std::vector<std::string>& Argv, const std::string& WorkDir,
                     const std::vector<std::string>& Env, int TimeoutSeconds) {
  RunResult Result;
  int OutPipe[2], ErrPipe[2];
  if (pipe(OutPipe) != 0 || pipe(ErrPipe) != 0) return Result;
  const pid_t Pid = fork();
  if (Pid == 0) {
    dup2(OutPipe[1], 1);
    dup2(ErrPipe[1], 2);
    close(OutPipe[0]); close(OutPipe[1]); close(ErrPipe[0]); close(ErrPipe[1]);
    const int Null = open("/dev/null", O_RDONLY);
    if (Null >= 0) dup2(Null, 0);
    if (!WorkDir.empty() && chdir(WorkDir.c_str()) != 0) _exit(126);
    ApplyEnv(Env);
    auto Args = CStrings(Argv);
    execvp(Args[0], Args.data());
    _exit(127);
  }
  close(OutPipe[1]);
  close(ErrPipe[1]);
  const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(TimeoutSeconds);
  bool OutOpen = true, ErrOpen = true, Killed = false;
  char Buffer[65536];
  while (OutOpen || ErrOpen) {
    pollfd Fds[2] = {{OutPipe[0], POLLIN, 0}, {ErrPipe[0], POLLIN, 0}};
    const int Ready = poll(Fds, 2, 200);
    if (std::chrono::steady_clock::now() > Deadline && !Killed) {
      kill(Pid, SIGKILL);
      Killed = true;
    }
    if (Ready <= 0) continue;
    for (int I = 0; I < 2; ++I) {
      bool& Open = I == 0 ? OutOpen : ErrOpen;
      if (!Open || !(Fds[I].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      const ssize_t Got = read(Fds[I].fd, Buffer, sizeof(Buffer));
      if (Got <= 0) { Open = false; continue; }
      (I == 0 ? Result.Output : Result.ErrorText).append(Buffer, static_cast<size_t>(Got));
    }
  }
  close(OutPipe[0]);
  close(ErrPipe[0]);
  int Status = 0;
  waitpid(Pid, &Status, 0);
  Result.ExitCode = ExitCodeOf(Status);
  return Result;
}

RunResult RunTarvo(const std::vector<std::string>& Args, const std::string& WorkDir,
                   const std::vector<std::string>& Env, int TimeoutSeconds) {
  std::vector<std::string> Argv{TARVO_EXE};
  Argv.insert(Argv.end(), Args.begin(), Args.end());
  return RunProcess(Argv, WorkDir, Env, TimeoutSeconds);
}

std::vector<std::string> StripStamps(const std::string& Output) {
  static const std::regex Stamp(R"(^\d{4}/\d{2}/\d{2}( \d{1,2}:\d{2}:\d{2})? )");
  std::vector<std::string> Lines;
  std::istringstream In(Output);
  std::string Line;
  while (std::getline(In, Line)) Lines.push_back(std::regex_replace(Line, Stamp, "", std::regex_constants::format_first_only));
  return Lines;
}

bool BackgroundProcess::Start(const std::vector<std::string>& Argv, const std::string& WorkDir,
                              const std::string& LogFile) {
  Stop();
  const pid_t Pid = fork();
  if (Pid < 0) return false;
  if (Pid == 0) {
    setpgid(0, 0);
    const int Out = open(LogFile.empty() ? "/dev/null" : LogFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (Out >= 0) { dup2(Out, 1); dup2(Out, 2); }
    const int Null = open("/dev/null", O_RDONLY);
    if (Null >= 0) dup2(Null, 0);
    if (!WorkDir.empty() && chdir(WorkDir.c_str()) != 0) _exit(126);
    auto Args = CStrings(Argv);
    execvp(Args[0], Args.data());
    _exit(127);
  }
  Pid_ = Pid;
  return true;
}

bool BackgroundProcess::Running() const {
  if (Pid_ <= 0) return false;
  int Status = 0;
  return waitpid(Pid_, &Status, WNOHANG) == 0;
}

void BackgroundProcess::Stop() {
  if (Pid_ <= 0) return;
  kill(-Pid_, SIGTERM);
  kill(Pid_, SIGTERM);
  int Status = 0;
  for (int I = 0; I < 50; ++I) {
    if (waitpid(Pid_, &Status, WNOHANG) != 0) { Pid_ = -1; return; }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  kill(-Pid_, SIGKILL);
  kill(Pid_, SIGKILL);
  waitpid(Pid_, &Status, 0);
  Pid_ = -1;
}

int FreePort() {
  const int Fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in Address{};
  Address.sin_family = AF_INET;
  Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  Address.sin_port = 0;
  bind(Fd, reinterpret_cast<sockaddr*>(&Address), sizeof(Address));
  socklen_t Length = sizeof(Address);
  getsockname(Fd, reinterpret_cast<sockaddr*>(&Address), &Length);
  close(Fd);
  return ntohs(Address.sin_port);
}

bool WaitForPort(int Port, int TimeoutMilliseconds, const std::string& Host) {
  const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMilliseconds);
  const bool V6 = Host.find(':') != std::string::npos;
  while (std::chrono::steady_clock::now() < Deadline) {
    const int Fd = socket(V6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
    int Rc = -1;
    if (V6) {
      sockaddr_in6 A{};
      A.sin6_family = AF_INET6;
      A.sin6_port = htons(static_cast<uint16_t>(Port));
      inet_pton(AF_INET6, Host.c_str(), &A.sin6_addr);
      Rc = connect(Fd, reinterpret_cast<sockaddr*>(&A), sizeof(A));
    } else {
      sockaddr_in A{};
      A.sin_family = AF_INET;
      A.sin_port = htons(static_cast<uint16_t>(Port));
      inet_pton(AF_INET, Host.c_str(), &A.sin_addr);
      Rc = connect(Fd, reinterpret_cast<sockaddr*>(&A), sizeof(A));
    }
    close(Fd);
    if (Rc == 0) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

TempDir::TempDir() {
  char Template[] = "/tmp/tarvo-test-XXXXXX";
  const char* Made = mkdtemp(Template);
  Path_ = Made ? Made : "/tmp";
}

TempDir::~TempDir() {
  std::error_code Ignored;
  if (Path_ != "/tmp") std::filesystem::remove_all(Path_, Ignored);
}

void WriteFile(const std::string& Path, const std::string& Content) {
  std::ofstream Out(Path, std::ios::binary | std::ios::trunc);
  Out.write(Content.data(), static_cast<std::streamsize>(Content.size()));
}

std::string ReadFile(const std::string& Path) {
  std::ifstream In(Path, std::ios::binary);
  std::ostringstream Content;
  Content << In.rdbuf();
  return Content.str();
}

bool FileExists(const std::string& Path) {
  struct stat Info;
  return stat(Path.c_str(), &Info) == 0;
}

bool HaveProgram(const std::string& Name) {
  if (Name.find('/') != std::string::npos) return access(Name.c_str(), X_OK) == 0;
  const char* Path = std::getenv("PATH");
  std::istringstream Dirs(Path ? Path : "/usr/bin:/bin");
  std::string Dir;
  while (std::getline(Dirs, Dir, ':'))
    if (access((Dir + "/" + Name).c_str(), X_OK) == 0) return true;
  return access(("/usr/sbin/" + Name).c_str(), X_OK) == 0;
}

std::vector<std::string> WithFileSizeLimit(int Blocks) {
  return {"/bin/sh", "-c", "trap '' XFSZ; ulimit -f " + std::to_string(Blocks) + "; exec \"$0\" \"$@\""};
}

}  // namespace testsupport

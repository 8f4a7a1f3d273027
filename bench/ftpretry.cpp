// One big FTP GET cut once three quarters through (both connections
// closed by the server, as a restart does), fetched by build/tarvo with
// Retries and by lftp with net:max-retries, each against a fresh copy of
// the same pyftpdlib server (bench/support/ftpcut_server.py) in the same
// run; each also fetches the file uncut, for the time the cut costs. Prints
// the data bytes the server sent in all (a client that starts over is sent
// the cut part twice), the wall time, and whether the file arrived whole.
//
//   build/bench_ftpretry [file MiB, default 2048]
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "bench/support/benchfiles.h"
#include "bench/support/benchports.h"
#include "bench/support/benchspawn.h"

namespace fs = std::filesystem;

namespace {

struct TRow {
  std::string Client, Case;
  double Seconds = 0;
  int ExitCode = -1;
  long long ServerBytes = 0;
  bool Whole = false;
};

// Runs Argv with its output discarded; the wall time and the exit code.
int Run(const std::vector<std::string>& Argv, double& Seconds) {
  const auto Start = std::chrono::steady_clock::now();
  const pid_t Pid = SpawnQuiet(Argv);
  int Status = 0;
  waitpid(Pid, &Status, 0);
  Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
  return WIFEXITED(Status) ? WEXITSTATUS(Status) : 128;
}

bool SameFile(const std::string& A, const std::string& B) {
  std::error_code Error;
  if (fs::file_size(A, Error) != fs::file_size(B, Error) || Error) return false;
  std::ifstream InA(A, std::ios::binary), InB(B, std::ios::binary);
  std::vector<char> BufA(1 << 20), BufB(1 << 20);
  while (InA && InB) {
    InA.read(BufA.data(), BufA.size());
    InB.read(BufB.data(), BufB.size());
    if (InA.gcount() != InB.gcount() || !std::equal(BufA.begin(), BufA.begin() + InA.gcount(), BufB.begin()))
      return false;
  }
  return true;
}

long long ReadCount(const std::string& Path) {
  std::ifstream In(Path);
  long long Count = 0;
  In >> Count;
  return Count;
}

// Starts the cutting server on Port; its process group id, or -1.
pid_t StartServer(int Port, const std::string& Root, long long Cut, const std::string& CountFile) {
  const std::string Script = std::string(TARVO_SOURCE_DIR) + "/bench/support/ftpcut_server.py";
  const pid_t Server =
      SpawnServer({"/usr/bin/python3", Script, std::to_string(Port), Root, std::to_string(Cut), CountFile});
  return WaitForPort(Port) ? Server : -1;
}

void StopServer(pid_t Server) {
  kill(-Server, SIGTERM);
  kill(Server, SIGTERM);
  waitpid(Server, nullptr, 0);
}

}  // namespace

int main(int argc, char** argv) {
  const long long MiB = argc > 1 ? std::atoll(argv[1]) : 2048;
  const long long Size = MiB * 1048576, Cut = Size / 4 * 3;
  const std::string Tarvo = (fs::read_symlink("/proc/self/exe").parent_path() / "tarvo").string();
  char Template[] = "/tmp/tarvo-bench-XXXXXX";
  const std::string Work = mkdtemp(Template);
  const std::string Root = Work + "/root", In = Work + "/in";
  fs::create_directories(Root);
  std::mt19937_64 Random(18);
  WriteRandomFile(Root + "/big.bin", Size, Random);

  std::vector<TRow> Rows;
  const auto Fetch = [&](const std::string& Client, bool Cutting, const auto& MakeArgv) {
    fs::remove_all(In);
    fs::create_directories(In);
    sync();
    const int Port = FreePort();
    const std::string CountFile = Work + "/count-" + Client;
    const pid_t Server = StartServer(Port, Root, Cutting ? Cut : 2 * Size, CountFile);
    if (Server < 0) {
      std::fprintf(stderr, "the server did not start\n");
      return;
    }
    TRow Row{Client, Cutting ? "cut" : "uncut"};
    std::fprintf(stderr, "%s %s\n", Row.Client.c_str(), Row.Case.c_str());
    Row.ExitCode = Run(MakeArgv(Port), Row.Seconds);
    StopServer(Server);
    Row.ServerBytes = ReadCount(CountFile);
    Row.Whole = SameFile(Root + "/big.bin", In + "/big.bin");
    Rows.push_back(Row);
  };

  const auto TarvoArgv = [&](int Port) {
    std::ofstream(Work + "/get.ini") << "[get]\nMode=FTPGET\nTarget=127.0.0.1\nTargetPort=" << Port
                                     << "\nRemotePath=/big.bin\nLocalPath=" << In << "\nRetries=3\nRetryDelay=1000\n";
    return std::vector<std::string>{Tarvo, Work + "/get.ini"};
  };
  const auto LftpArgv = [&](int Port) {
    return std::vector<std::string>{
        "lftp", "-c",
        "set net:max-retries 3; set net:reconnect-interval-base 1; set net:reconnect-interval-multiplier 1; "
        "set xfer:clobber on; open -u anonymous,bench@ ftp://127.0.0.1:" + std::to_string(Port) +
            "; get /big.bin -o " + In + "/big.bin"};
  };
  for (const bool Cutting : {false, true}) {
    Fetch("tarvo", Cutting, TarvoArgv);
    Fetch("lftp", Cutting, LftpArgv);
  }
  fs::remove_all(Work);

  std::printf("pyftpdlib on 127.0.0.1, one file of %lld MiB, cut once after %lld MiB; first retry after 1 s\n", MiB,
              Cut / 1048576);
  std::printf("%-7s %-6s %10s %16s %12s %6s %s\n", "client", "case", "wall", "server sent", "of the file", "exit",
              "file");
  for (const TRow& Row : Rows)
    std::printf("%-7s %-6s %8.2f s %12.3f GiB %11.3fx %6d %s\n", Row.Client.c_str(), Row.Case.c_str(), Row.Seconds,
                Row.ServerBytes / 1073741824.0, static_cast<double>(Row.ServerBytes) / Size, Row.ExitCode,
                Row.Whole ? "whole" : "WRONG");
  return 0;
}

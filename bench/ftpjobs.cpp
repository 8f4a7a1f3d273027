// FTP GET and FTP PUT jobs of build/tarvo against lftp and curl, all with
// the same pyftpdlib server on loopback in the same run: (a) 2,000 files of
// 10 KB, (b) one big file (2 GiB unless a size in MiB is given as the first
// argument). Prints wall time, throughput and the client's peak resident
// memory for each, and each peer's time relative to tarvo's. curl runs on
// the big file only: against pyftpdlib it spends about 0.23 s per small
// file in its own waits, which would make the many-files case take minutes.
//
//   build/bench_ftpjobs [big file MiB]
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <netinet/in.h>
#include <arpa/inet.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "bench/support/benchfiles.h"
#include "bench/support/benchports.h"
#include "bench/support/benchspawn.h"

namespace fs = std::filesystem;

namespace {

constexpr int SmallCount = 2000;
constexpr int SmallSize = 10 * 1024;

struct TMeasure {
  double Seconds = 0;
  long PeakKiB = 0;
  int ExitCode = -1;
};

// Runs Argv in WorkDir with its output discarded; wall time and the peak
// resident set of the process.
TMeasure Measure(const std::vector<std::string>& Argv, const std::string& WorkDir) {
  const auto Start = std::chrono::steady_clock::now();
  const pid_t Pid = SpawnQuiet(Argv, WorkDir);
  int Status = 0;
  rusage Usage{};
  wait4(Pid, &Status, 0, &Usage);
  TMeasure Result;
  Result.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
  Result.PeakKiB = Usage.ru_maxrss;
  Result.ExitCode = WIFEXITED(Status) ? WEXITSTATUS(Status) : 128;
  return Result;
}

std::string Name(int Index) {
  char Text[32];
  std::snprintf(Text, sizeof(Text), "f%04d.dat", Index);
  return Text;
}

// Empties Dir and writes back what earlier steps left dirty, so that no
// client pays for the write-back of another's data.
void Fresh(const std::string& Dir) {
  fs::remove_all(Dir);
  fs::create_directories(Dir);
  sync();
}

void WriteText(const std::string& Path, const std::string& Text) { std::ofstream(Path) << Text; }

struct TRow {
  std::string Case, Client;
  TMeasure Run;
  long long Bytes = 0;
  bool Complete = false;
};

void PrintRow(const TRow& Row, double TarvoSeconds) {
  const double MiBps = Row.Bytes / 1048576.0 / Row.Run.Seconds;
  std::printf("%-14s %-7s %9.2f s %9.1f MiB/s %9ld KiB %8.2fx %s\n", Row.Case.c_str(), Row.Client.c_str(),
              Row.Run.Seconds, MiBps, Row.Run.PeakKiB, Row.Run.Seconds / TarvoSeconds,
              Row.Complete ? "" : "INCOMPLETE");
}

bool SameTree(const std::string& A, const std::string& B, int Count) {
  for (int I = 0; I < Count; ++I)
    if (fs::file_size(A + "/" + Name(I)) != fs::file_size(B + "/" + Name(I))) return false;
  return true;
}

bool SameSize(const std::string& A, const std::string& B) {
  std::error_code Error;
  return fs::file_size(A, Error) == fs::file_size(B, Error) && !Error;
}

}  // namespace

int main(int argc, char** argv) {
  const long long BigMiB = argc > 1 ? std::atoll(argv[1]) : 2048;
  const long long BigSize = BigMiB * 1048576;
  const std::string Tarvo = (fs::read_symlink("/proc/self/exe").parent_path() / "tarvo").string();
  char Template[] = "/tmp/tarvo-bench-XXXXXX";
  const std::string Work = mkdtemp(Template);
  const std::string Root = Work + "/root", Local = Work + "/local", In = Work + "/in";

  std::mt19937_64 Random(42);
  fs::create_directories(Root + "/many");
  fs::create_directories(Root + "/big");
  fs::create_directories(Local + "/many");
  fs::create_directories(Local + "/big");
  for (int I = 0; I < SmallCount; ++I) {
    WriteRandomFile(Root + "/many/" + Name(I), SmallSize, Random);
    fs::copy_file(Root + "/many/" + Name(I), Local + "/many/" + Name(I));
  }
  WriteRandomFile(Root + "/big/big.bin", BigSize, Random);
  fs::create_hard_link(Root + "/big/big.bin", Local + "/big/big.bin");

  const int Port = FreePort();
  const pid_t Server = SpawnServer(
      {"/usr/bin/python3", "-m", "pyftpdlib", "-i", "127.0.0.1", "-p", std::to_string(Port), "-d", Root, "-w"});
  if (!WaitForPort(Port)) {
    std::fprintf(stderr, "pyftpdlib did not start\n");
    kill(Server, SIGTERM);
    return 1;
  }
  const std::string Url = "ftp://127.0.0.1:" + std::to_string(Port);
  const std::string LftpOpen = "open -u anonymous,bench@ " + Url + "; set xfer:clobber on; ";
  const std::string Keys = "Target=127.0.0.1\nTargetPort=" + std::to_string(Port) + "\n";

  std::vector<TRow> Rows;
  const auto Get = [&](const std::string& Case, const std::string& Client, const std::vector<std::string>& Argv,
                       bool Many) {
    Fresh(In);
    std::fprintf(stderr, "%s: %s\n", Case.c_str(), Client.c_str());
    TRow Row{Case, Client, Measure(Argv, In), Many ? 1LL * SmallCount * SmallSize : BigSize, false};
    Row.Complete = Row.Run.ExitCode == 0 &&
                   (Many ? SameTree(Root + "/many", In, SmallCount) : SameSize(Root + "/big/big.bin", In + "/big.bin"));
    Rows.push_back(Row);
  };
  const auto Put = [&](const std::string& Case, const std::string& Client, const std::vector<std::string>& Argv,
                       bool Many) {
    Fresh(Root + "/up");
    std::fprintf(stderr, "%s: %s\n", Case.c_str(), Client.c_str());
    TRow Row{Case, Client, Measure(Argv, Local), Many ? 1LL * SmallCount * SmallSize : BigSize, false};
    Row.Complete = Row.Run.ExitCode == 0 && (Many ? SameTree(Local + "/many", Root + "/up", SmallCount)
                                                   : SameSize(Local + "/big/big.bin", Root + "/up/big.bin"));
    Rows.push_back(Row);
  };

  WriteText(Work + "/get-many.ini", "[get]\nMode=FTPGET\n" + Keys + "RemotePath=/many/*.*\nLocalPath=" + In + "\n");
  WriteText(Work + "/get-big.ini", "[get]\nMode=FTPGET\n" + Keys + "RemotePath=/big/*.*\nLocalPath=" + In + "\n");
  WriteText(Work + "/put-many.ini", "[put]\nMode=FTPPUT\n" + Keys + "RemotePath=/up\nLocalPath=" + Local + "/many/*.*\n");
  WriteText(Work + "/put-big.ini", "[put]\nMode=FTPPUT\n" + Keys + "RemotePath=/up\nLocalPath=" + Local + "/big/*.*\n");

  const std::string Many = "get 2000x10KB", Big = "get " + std::to_string(BigMiB) + " MiB";
  const std::string PutMany = "put 2000x10KB", PutBig = "put " + std::to_string(BigMiB) + " MiB";
  Get(Many, "tarvo", {Tarvo, Work + "/get-many.ini"}, true);
  Get(Many, "lftp", {"lftp", "-c", LftpOpen + "mget -O " + In + " /many/*"}, true);
  Get(Big, "tarvo", {Tarvo, Work + "/get-big.ini"}, false);
  Get(Big, "lftp", {"lftp", "-c", LftpOpen + "get /big/big.bin -o " + In + "/big.bin"}, false);
  Get(Big, "curl", {"curl", "-s", "-S", Url + "/big/big.bin", "-o", In + "/big.bin"}, false);
  Put(PutMany, "tarvo", {Tarvo, Work + "/put-many.ini"}, true);
  Put(PutMany, "lftp", {"lftp", "-c", LftpOpen + "cd /up; lcd " + Local + "/many; mput *"}, true);
  Put(PutBig, "tarvo", {Tarvo, Work + "/put-big.ini"}, false);
  Put(PutBig, "lftp", {"lftp", "-c", LftpOpen + "put " + Local + "/big/big.bin -o /up/big.bin"}, false);
  Put(PutBig, "curl", {"curl", "-s", "-S", "-T", Local + "/big/big.bin", Url + "/up/"}, false);

  kill(-Server, SIGTERM);
  kill(Server, SIGTERM);
  waitpid(Server, nullptr, 0);
  fs::remove_all(Work);

  std::printf("pyftpdlib on 127.0.0.1, %d files of %d bytes and one file of %lld MiB\n", SmallCount, SmallSize,
              BigMiB);
  std::printf("%-14s %-7s %11s %15s %13s %9s\n", "case", "client", "wall", "throughput", "peak RSS", "vs tarvo");
  double TarvoSeconds = 1;
  for (const TRow& Row : Rows) {
    if (Row.Client == "tarvo") TarvoSeconds = Row.Run.Seconds;
    PrintRow(Row, TarvoSeconds);
  }
  return 0;
}

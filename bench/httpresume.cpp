// An HTTP GET of one big file from nginx on loopback through a relay that
// drops the connection once, part-way through the body: tarvo with
// Retries=1 (continuing with a range request) beside curl run again with
// "-C -" after the cut, in the same run. Each row prints the median wall
// time and the bytes the relay passed back to the client in total, over
// Runs alternated runs; every output is compared with the served file.
//
// Usage: bench_httpresume [file size in MiB (2048)] [cut at MiB (1536)] [runs (3)]
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "bench/support/benchports.h"
#include "bench/support/benchspawn.h"
#include "bench/support/cutrelay.h"

namespace {

namespace fs = std::filesystem;

struct TMeasure {
  double Seconds = 0;
  double MiB = 0;   // passed back by the relay
  int Connections = 0;
  bool Ok = false;  // exit codes as expected and the file equal to the served one
};

int RunWait(const std::vector<std::string>& Argv, const std::string& WorkDir) {
  int Status = 0;
  waitpid(SpawnQuiet(Argv, WorkDir), &Status, 0);
  return WIFEXITED(Status) ? WEXITSTATUS(Status) : 128;
}

void WriteBigFile(const std::string& Path, long MiB) {
  std::string Block(1 << 20, '\0');
  for (std::size_t I = 0; I < Block.size(); ++I) Block[I] = static_cast<char>((I * 131 + I / 7) & 0xFF);
  std::ofstream Out(Path, std::ios::binary);
  for (long I = 0; I < MiB; ++I) {
    Block[0] = static_cast<char>(I);  // no two MiB alike, so a misplaced piece shows
    Out.write(Block.data(), static_cast<std::streamsize>(Block.size()));
  }
}

std::string NginxConfig(const std::string& Work, int Port) {
  return "daemon off;\nmaster_process off;\nworker_processes 1;\npid " + Work + "/nginx.pid;\n"
         "error_log " + Work + "/error.log;\nevents { worker_connections 64; }\n"
         "http {\n  access_log off;\n  sendfile on;\n"
         "  client_body_temp_path " + Work + "/body;\n  proxy_temp_path " + Work + "/proxy;\n"
         "  fastcgi_temp_path " + Work + "/fastcgi;\n  uwsgi_temp_path " + Work + "/uwsgi;\n"
         "  scgi_temp_path " + Work + "/scgi;\n"
         "  server {\n    listen 127.0.0.1:" + std::to_string(Port) + ";\n    root " + Work + "/www;\n  }\n}\n";
}

TMeasure Summary(std::vector<TMeasure> Runs) {
  std::sort(Runs.begin(), Runs.end(), [](const TMeasure& A, const TMeasure& B) { return A.Seconds < B.Seconds; });
  TMeasure M = Runs[Runs.size() / 2];
  for (const TMeasure& R : Runs) {
    M.MiB = std::max(M.MiB, R.MiB);
    M.Ok = M.Ok && R.Ok;
  }
  return M;
}

void PrintRow(const char* Name, double FileMiB, const TMeasure& M) {
  std::printf("%-34s %7.2f s %8.1f MiB/s  transferred %8.1f MiB (%.3f x file)  %d connections%s\n", Name, M.Seconds,
              FileMiB / M.Seconds, M.MiB, M.MiB / FileMiB, M.Connections, M.Ok ? "" : "  FAILED");
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  const long FileMiB = argc > 1 ? std::atol(argv[1]) : 2048;
  const long CutMiB = argc > 2 ? std::atol(argv[2]) : 1536;
  const int Runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 3;
  const std::string Tarvo = fs::canonical("/proc/self/exe").parent_path() / "tarvo";
  char Template[] = "/tmp/tarvo-bench-resume-XXXXXX";
  const std::string Work = mkdtemp(Template);
  for (const char* Dir : {"www", "get"}) fs::create_directories(Work + "/" + Dir);
  const std::string Served = Work + "/www/big.bin";
  WriteBigFile(Served, FileMiB);

  const int Port = FreePort();
  std::ofstream(Work + "/nginx.conf") << NginxConfig(Work, Port);
  const pid_t Nginx = SpawnQuiet({"nginx", "-p", Work, "-e", Work + "/error.log", "-c", Work + "/nginx.conf"}, Work);
  if (!WaitForPort(Port)) {
    std::fprintf(stderr, "nginx did not start\n");
    return 1;
  }
  TCutRelay Relay(Port, static_cast<std::int64_t>(CutMiB) << 20);
  const std::string Url = "http://127.0.0.1:" + std::to_string(Relay.Port()) + "/big.bin";
  std::printf("HTTP GET of %ld MiB, connection dropped once at %ld MiB, nginx on loopback, median of %d alternated runs\n",
              FileMiB, CutMiB, Runs);

  // One client's attempt: the time, what the relay passed, and whether its
  // output, the one file it leaves in get/, is the served file.
  const auto Measure = [&](const std::function<bool()>& Client) {
    sync();
    Relay.Rearm();
    const auto Start = std::chrono::steady_clock::now();
    TMeasure M;
    M.Ok = Client();
    M.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
    M.MiB = static_cast<double>(Relay.Downstream()) / (1 << 20);
    M.Connections = Relay.Connections();
    std::vector<std::string> Outputs;
    for (const auto& Entry : fs::directory_iterator(Work + "/get")) Outputs.push_back(Entry.path());
    M.Ok = M.Ok && Outputs.size() == 1 && RunWait({"cmp", "-s", Served, Outputs[0]}, Work) == 0;
    fs::remove_all(Work + "/get");
    fs::create_directories(Work + "/get");
    return M;
  };
  std::ofstream(Work + "/get.ini") << "[get]\nMode=HTTPGET\nTarget=" + Url +
                                          "\nLocalPath=get\nTouchDateMode=False\nTimeout=60000\nRetries=1\nRetryDelay=0\n";
  const auto Ours = [&] {
    return Measure([&] { return RunWait({Tarvo, "get.ini"}, Work) == 0; });
  };
  // curl stops at the cut (18: partial file) and is started again to continue.
  const auto Theirs = [&] {
    return Measure([&] {
      const int First = RunWait({"curl", "-s", "-o", "get/curl.bin", Url}, Work);
      return First == 18 && RunWait({"curl", "-s", "-C", "-", "-o", "get/curl.bin", Url}, Work) == 0;
    });
  };
  std::vector<TMeasure> OurRuns, TheirRuns;
  for (int Round = 0; Round < Runs; ++Round) {
    if (Round % 2 == 1) TheirRuns.push_back(Theirs());
    OurRuns.push_back(Ours());
    if (Round % 2 == 0) TheirRuns.push_back(Theirs());
  }
  PrintRow("tarvo Retries=1 RetryDelay=0", static_cast<double>(FileMiB), Summary(OurRuns));
  PrintRow("curl, then curl -C - after the cut", static_cast<double>(FileMiB), Summary(TheirRuns));

  kill(Nginx, SIGTERM);
  waitpid(Nginx, nullptr, 0);
  fs::remove_all(Work);
  return 0;
}

// The HTTP jobs end to end against nginx on loopback (http and https),
// beside curl doing the same transfers in the same run: HTTPGET, HTTPPUT
// and HTTPPOSTFILE of one big file of each size, and one HTTPPUT job of many
// small files on one kept connection against curl uploading them over one
// connection. Each row alternates tarvo and curl Runs times and prints the
// median wall time, the median processor time of the client, the peak
// resident memory (largest of the runs) and the ratio tarvo/curl of the
// medians, with the load average before and after.
//
// Usage: bench_httpjobs [big file sizes in MiB, comma-separated (1024,4096)]
//                       [small files (2000)] [runs (5)] [only rows whose name holds this]
// Files live on the disk under /tmp; before each client the page cache is
// settled (sync, inputs read once) and outputs of the previous client are
// removed; the big files are removed after their rows.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <string>
#include <vector>

#include "bench/support/benchports.h"
#include "bench/support/benchspawn.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

namespace fs = std::filesystem;

struct TMeasure {
  double Seconds = 0;
  double CpuSeconds = 0;  // the client's own, user and system
  long PeakKiB = 0;
  int ExitCode = -1;
};

// Flushes what earlier rows wrote and reads the inputs once, so that each
// client starts from the same state of the page cache.
void Settle(const std::vector<std::string>& Inputs) {
  sync();
  std::vector<char> Buffer(1 << 20);
  for (const std::string& Path : Inputs) {
    std::ifstream In(Path, std::ios::binary);
    while (In.read(Buffer.data(), static_cast<std::streamsize>(Buffer.size()))) {
    }
  }
}

TMeasure Run(const std::vector<std::string>& Argv, const std::string& WorkDir) {
  const auto Start = std::chrono::steady_clock::now();
  const pid_t Pid = SpawnQuiet(Argv, WorkDir);
  int Status = 0;
  rusage Usage{};
  wait4(Pid, &Status, 0, &Usage);
  TMeasure M;
  M.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
  M.PeakKiB = Usage.ru_maxrss;
  const auto Secs = [](const timeval& T) { return static_cast<double>(T.tv_sec) + static_cast<double>(T.tv_usec) / 1e6; };
  M.CpuSeconds = Secs(Usage.ru_utime) + Secs(Usage.ru_stime);
  M.ExitCode = WIFEXITED(Status) ? WEXITSTATUS(Status) : 128;
  return M;
}

void WriteText(const std::string& Path, const std::string& Text) {
  std::ofstream(Path, std::ios::binary) << Text;
}

void WriteBigFile(const std::string& Path, long MiB) {
  std::string Block(1 << 20, '\0');
  for (std::size_t I = 0; I < Block.size(); ++I) Block[I] = static_cast<char>((I * 131 + I / 7) & 0xFF);
  std::ofstream Out(Path, std::ios::binary);
  for (long I = 0; I < MiB; ++I) Out.write(Block.data(), static_cast<std::streamsize>(Block.size()));
}

std::string NginxConfig(const std::string& Work, int Port, int TlsPort) {
  return "daemon off;\nmaster_process off;\nworker_processes 1;\npid " + Work + "/nginx.pid;\n"
         "error_log " + Work + "/error.log;\nevents { worker_connections 1024; }\n"
         "http {\n  access_log off;\n  client_max_body_size 0;\n  sendfile on;\n  keepalive_requests 1000000;\n"
         "  client_body_temp_path " + Work + "/body;\n  proxy_temp_path " + Work + "/proxy;\n"
         "  fastcgi_temp_path " + Work + "/fastcgi;\n  uwsgi_temp_path " + Work + "/uwsgi;\n"
         "  scgi_temp_path " + Work + "/scgi;\n"
         "  server {\n    listen 127.0.0.1:" + std::to_string(Port) + ";\n"
         "    listen 127.0.0.1:" + std::to_string(TlsPort) + " ssl;\n"
         "    ssl_certificate " + Work + "/cert.pem;\n    ssl_certificate_key " + Work + "/key.pem;\n"
         "    root " + Work + "/www;\n"
         "    location / { dav_methods PUT DELETE; create_full_put_path on; }\n"
         "    location /post { return 200 \"ok\\n\"; }\n  }\n}\n";
}

// The median time and the median processor time of the runs, and the
// largest peak memory.
TMeasure Summary(std::vector<TMeasure> Runs) {
  std::sort(Runs.begin(), Runs.end(), [](const TMeasure& A, const TMeasure& B) { return A.CpuSeconds < B.CpuSeconds; });
  const double Cpu = Runs[Runs.size() / 2].CpuSeconds;
  std::sort(Runs.begin(), Runs.end(), [](const TMeasure& A, const TMeasure& B) { return A.Seconds < B.Seconds; });
  TMeasure M = Runs[Runs.size() / 2];
  M.CpuSeconds = Cpu;
  for (const TMeasure& R : Runs) {
    M.PeakKiB = std::max(M.PeakKiB, R.PeakKiB);
    if (R.ExitCode != 0) M.ExitCode = R.ExitCode;
  }
  return M;
}

void PrintRow(const std::string& Name, double Bytes, const TMeasure& Tarvo, const TMeasure& Curl) {
  const auto Rate = [Bytes](const TMeasure& M) { return Bytes / (1 << 20) / M.Seconds; };
  std::printf("%-30s tarvo %6.2f s %7.1f MiB/s cpu %5.2f s %6ld KiB%s | curl %6.2f s %7.1f MiB/s cpu %5.2f s %6ld KiB%s"
              " | ratio %.2f\n",
              Name.c_str(), Tarvo.Seconds, Rate(Tarvo), Tarvo.CpuSeconds, Tarvo.PeakKiB, Tarvo.ExitCode ? " (FAILED)" : "",
              Curl.Seconds, Rate(Curl), Curl.CpuSeconds, Curl.PeakKiB, Curl.ExitCode ? " (FAILED)" : "",
              Tarvo.Seconds / Curl.Seconds);
  std::fflush(stdout);
}

void PrintLoad(const char* When) {
  double Load[3] = {0, 0, 0};
  getloadavg(Load, 3);
  std::printf("load average %s: %.2f %.2f %.2f\n", When, Load[0], Load[1], Load[2]);
  std::fflush(stdout);
}

std::vector<long> SizeList(const std::string& Text) {
  std::vector<long> Sizes;
  std::size_t Start = 0;
  while (Start <= Text.size()) {
    const std::size_t Comma = Text.find(',', Start);
    Sizes.push_back(std::atol(Text.substr(Start, Comma - Start).c_str()));
    if (Comma == std::string::npos) break;
    Start = Comma + 1;
  }
  return Sizes;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<long> Sizes = SizeList(argc > 1 ? argv[1] : "1024,4096");
  const int SmallCount = argc > 2 ? std::atoi(argv[2]) : 2000;
  const int Runs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
  const std::string Only = argc > 4 ? argv[4] : "";
  const std::string Tarvo = fs::canonical("/proc/self/exe").parent_path() / "tarvo";
  char Template[] = "/tmp/tarvo-bench-http-XXXXXX";
  const std::string Work = mkdtemp(Template);
  for (const char* Dir : {"www", "www/in", "get", "small", "big"}) fs::create_directories(Work + "/" + Dir);
  std::string Small(10 * 1000, 's');
  for (int I = 0; I < SmallCount; ++I) WriteText(Work + "/small/f" + std::to_string(I) + ".txt", Small);

  if (Run({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=127.0.0.1",
           "-keyout", Work + "/key.pem", "-out", Work + "/cert.pem"}, Work).ExitCode != 0) {
    std::fprintf(stderr, "no certificate\n");
    return 1;
  }
  const int Port = FreePort();
  int TlsPort = FreePort();
  while (TlsPort == Port) TlsPort = FreePort();
  WriteText(Work + "/nginx.conf", NginxConfig(Work, Port, TlsPort));
  const pid_t Nginx = SpawnQuiet({"nginx", "-p", Work, "-e", Work + "/error.log", "-c", Work + "/nginx.conf"}, Work);
  if (!WaitForPort(Port) || !WaitForPort(TlsPort)) {
    std::fprintf(stderr, "nginx did not start\n");
    return 1;
  }
  std::printf("HTTP jobs vs curl (curl -s, -k for https), nginx on loopback, median of %d alternated runs\n", Runs);
  PrintLoad("at start");

  const auto Job = [&](const std::string& Name, const std::string& Body, const std::vector<std::string>& Inputs) {
    WriteText(Work + "/" + Name + ".ini", "[" + Name + "]\n" + Body + "Timeout=60000\n");
    Settle(Inputs);
    return Run({Tarvo, Name + ".ini"}, Work);
  };
  const auto Curl = [&](const std::vector<std::string>& Argv, const std::vector<std::string>& Inputs) {
    Settle(Inputs);
    return Run(Argv, Work);
  };
  const auto Clean = [&](const std::string& Dir) {
    fs::remove_all(Work + "/" + Dir);
    fs::create_directories(Work + "/" + Dir);
  };
  // Runs both clients Runs times, curl first in every other round.
  const auto Compare = [&](const std::string& Name, double Bytes, const std::function<TMeasure()>& Ours,
                           const std::function<TMeasure()>& Theirs) {
    if (Name.find(Only) == std::string::npos) return;
    std::vector<TMeasure> OurRuns, TheirRuns;
    for (int Round = 0; Round < Runs; ++Round) {
      if (Round % 2 == 1) TheirRuns.push_back(Theirs());
      OurRuns.push_back(Ours());
      if (Round % 2 == 0) TheirRuns.push_back(Theirs());
    }
    PrintRow(Name, Bytes, Summary(OurRuns), Summary(TheirRuns));
  };

  for (const long MiB : Sizes) {
    WriteBigFile(Work + "/www/big.bin", MiB);
    fs::create_hard_link(Work + "/www/big.bin", Work + "/big/big.bin");
    const std::vector<std::string> BigFile{Work + "/big/big.bin"};
    const double Bytes = static_cast<double>(MiB) * (1 << 20);
    for (const bool Tls : {false, true}) {
      const std::string Base = std::string(Tls ? "https" : "http") + "://127.0.0.1:" + std::to_string(Tls ? TlsPort : Port);
      const std::string Tag = std::to_string(MiB) + " MiB" + (Tls ? " https" : " http");
      std::vector<std::string> CurlBase{"curl", "-s"};
      if (Tls) CurlBase.push_back("-k");
      const auto CurlWith = [&CurlBase](std::vector<std::string> Args) {
        Args.insert(Args.begin(), CurlBase.begin(), CurlBase.end());
        return Args;
      };
      Compare("HTTPGET " + Tag, Bytes,
              [&] {
                const TMeasure M = Job("get", "Mode=HTTPGET\nTarget=" + Base + "/big.bin\nLocalPath=get\nTouchDateMode=False\n",
                                       BigFile);
                Clean("get");
                return M;
              },
              [&] {
                const TMeasure M = Curl(CurlWith({"-o", Work + "/get/curl.bin", Base + "/big.bin"}), BigFile);
                Clean("get");
                return M;
              });
      Compare("HTTPPUT " + Tag, Bytes,
              [&] {
                const TMeasure M = Job("putbig", "Mode=HTTPPUT\nTarget=" + Base + "/in/\nLocalPath=big/big.bin\n", BigFile);
                Clean("www/in");
                return M;
              },
              [&] {
                const TMeasure M = Curl(CurlWith({"-T", "big/big.bin", Base + "/in/curl-big.bin"}), BigFile);
                Clean("www/in");
                return M;
              });
      Compare("HTTPPOSTFILE " + Tag, Bytes,
              [&] { return Job("postbig", "Mode=HTTPPOSTFILE\nTarget=" + Base + "/post\nLocalPath=big/big.bin\n", BigFile); },
              [&] { return Curl(CurlWith({"-o", "/dev/null", "-F", "POSTFILE=@big/big.bin", Base + "/post"}), BigFile); });
    }
    fs::remove(Work + "/big/big.bin");
    fs::remove(Work + "/www/big.bin");
  }

  std::vector<std::string> SmallFiles;
  for (int I = 0; I < SmallCount; ++I) SmallFiles.push_back(Work + "/small/f" + std::to_string(I) + ".txt");
  const std::string Base = "http://127.0.0.1:" + std::to_string(Port);
  std::string Config;
  for (int I = 0; I < SmallCount; ++I)
    Config += "upload-file = \"small/f" + std::to_string(I) + ".txt\"\nurl = \"" + Base + "/in/c" + std::to_string(I) + ".txt\"\n";
  WriteText(Work + "/curl-put.cfg", Config);
  Compare("HTTPPUT " + std::to_string(SmallCount) + " small, kept conn.",
          static_cast<double>(SmallCount) * static_cast<double>(Small.size()),
          [&] {
            const TMeasure M = Job("putsmall", "Mode=HTTPPUT\nTarget=" + Base + "/in/\nLocalPath=small/*.txt\nHttpKeepAlive=true\n",
                                   SmallFiles);
            Clean("www/in");
            return M;
          },
          [&] {
            const TMeasure M = Curl({"curl", "-s", "-K", "curl-put.cfg"}, SmallFiles);
            Clean("www/in");
            return M;
          });
  PrintLoad("at end");

  kill(Nginx, SIGTERM);
  waitpid(Nginx, nullptr, 0);
  fs::remove_all(Work);
  return 0;
}

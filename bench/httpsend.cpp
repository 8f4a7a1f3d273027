// HTTP engine throughput against curl, both fetching from the same nginx on
// loopback in the same run: one large generated file (1 GiB by default) and
// many small files over one kept connection (2000 by default). Each fetch
// runs in a child process so its peak memory can be reported.
//
// Usage: bench_httpsend [size in MiB] [number of small files]
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
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "bench/support/benchports.h"
#include "bench/support/benchspawn.h"

#include "net/blocksock.h"
#include "protocols/httpsend.h"

namespace {

struct TRun {
  bool Ok = false;
  double Seconds = 0;
  long PeakKiB = 0;
};

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Waits for Pid, started at Start: its time, outcome and peak memory.
TRun Reap(pid_t Pid, double Start) {
  int Status = 0;
  rusage Usage{};
  ::wait4(Pid, &Status, 0, &Usage);
  TRun Run;
  Run.Seconds = Now() - Start;
  Run.Ok = WIFEXITED(Status) && WEXITSTATUS(Status) == 0;
  Run.PeakKiB = Usage.ru_maxrss;
  return Run;
}

// Runs Work in a child process; its exit status says whether it succeeded.
TRun Measure(const std::function<bool()>& Work) {
  const double Start = Now();
  const pid_t Pid = ::fork();
  if (Pid == 0) ::_exit(Work() ? 0 : 1);
  return Reap(Pid, Start);
}

// curl's own peak memory: measured around the exec itself.
TRun MeasureCurl(const std::vector<std::string>& Argv) {
  const double Start = Now();
  return Reap(SpawnQuiet(Argv), Start);
}

// Takes every byte and keeps none.
class TNullStream : public TStream {
 public:
  std::int64_t Read(void*, std::int64_t) override { return 0; }
  std::int64_t Write(const void*, std::int64_t Count) override { return Count; }
  std::int64_t Seek(std::int64_t, TSeekOrigin) override { return 0; }
  std::int64_t Size() override { return 0; }
  bool SetSize(std::int64_t) override { return false; }
};

void WriteBigFile(const std::string& Path, std::int64_t Size) {
  std::ofstream Out(Path, std::ios::binary);
  std::string Block(1 << 20, '\0');
  for (std::size_t I = 0; I < Block.size(); ++I) Block[I] = static_cast<char>((I * 131 + I / 4096) & 0xFF);
  for (std::int64_t Written = 0; Written < Size; Written += static_cast<std::int64_t>(Block.size()))
    Out.write(Block.data(), static_cast<std::streamsize>(std::min<std::int64_t>(Size - Written, Block.size())));
}

std::string NginxConfig(const std::string& Dir, int Port) {
  return "daemon off;\nmaster_process off;\nworker_processes 1;\n"
         "error_log " + Dir + "/error.log warn;\npid " + Dir + "/nginx.pid;\n"
         "events { worker_connections 64; }\n"
         "http {\n  access_log off;\n  sendfile on;\n  keepalive_requests 1000000;\n"
         "  client_body_temp_path " + Dir + "/body;\n  proxy_temp_path " + Dir + "/proxy;\n"
         "  fastcgi_temp_path " + Dir + "/fastcgi;\n  uwsgi_temp_path " + Dir + "/uwsgi;\n"
         "  scgi_temp_path " + Dir + "/scgi;\n"
         "  server { listen 127.0.0.1:" + std::to_string(Port) + "; root " + Dir + "/www; }\n}\n";
}

void Report(const char* What, const TRun& Ours, const TRun& Curl, double Amount, const char* Unit) {
  std::printf("%-22s %s ours %9.1f %s  %7.3f s  peak %8ld KiB | curl %9.1f %s  %7.3f s  peak %8ld KiB | ratio %.2f\n",
              What, Ours.Ok && Curl.Ok ? "  " : "!!", Amount / Ours.Seconds, Unit, Ours.Seconds, Ours.PeakKiB,
              Amount / Curl.Seconds, Unit, Curl.Seconds, Curl.PeakKiB, Curl.Seconds / Ours.Seconds);
}

TRun Best(const TRun& A, const TRun& B) {
  if (!A.Ok) return B;
  if (!B.Ok) return A;
  TRun Result = A.Seconds <= B.Seconds ? A : B;
  Result.PeakKiB = std::max(A.PeakKiB, B.PeakKiB);
  return Result;
}

}  // namespace

int main(int argc, char** argv) {
  const std::int64_t SizeMiB = argc > 1 ? std::atoll(argv[1]) : 1024;
  const int SmallCount = argc > 2 ? std::atoi(argv[2]) : 2000;
  const std::int64_t Size = SizeMiB << 20;
  TSocketInterfaceGuard Sockets;
  ::signal(SIGPIPE, SIG_IGN);

  char Template[] = "/tmp/tarvo-bench-XXXXXX";
  const std::string Dir = ::mkdtemp(Template);
  std::filesystem::create_directories(Dir + "/www/small");
  WriteBigFile(Dir + "/www/big.bin", Size);
  for (int I = 0; I < SmallCount; ++I)
    std::ofstream(Dir + "/www/small/f" + std::to_string(I) + ".txt") << std::string(512 + I % 1024, 'a' + I % 26);
  const int Port = FreePort();
  std::ofstream(Dir + "/nginx.conf") << NginxConfig(Dir, Port);
  const pid_t Nginx = SpawnQuiet({"nginx", "-p", Dir, "-c", Dir + "/nginx.conf"});
  for (int I = 0; I < 200 && !PortOpen(Port); ++I) std::this_thread::sleep_for(std::chrono::milliseconds(25));

  const std::string Base = "http://127.0.0.1:" + std::to_string(Port);
  std::ofstream Config(Dir + "/curl-small.cfg");
  for (int I = 0; I < SmallCount; ++I)
    Config << "url = \"" << Base << "/small/f" << I << ".txt\"\noutput = \"/dev/null\"\n";
  Config.close();

  // The body streamed into a sink, as curl's goes to /dev/null; BufferSize
  // 0 leaves the socket buffers to the system, 65535 asks for what the
  // engine used to ask for on its first connection.
  const auto OursBigWith = [&](std::int32_t BufferSize) {
    return [&, BufferSize] {
      THTTPSend Http;
      TNullStream Sink;
      Http.Protocol = "1.1";
      Http.SocketBufferSize = BufferSize;
      Http.OnBodyTarget = [&Sink]() -> TStream* { return &Sink; };
      return Http.SendRequest("GET", Base + "/big.bin") && Http.ResultCode == 200 && Http.BodyReceived == Size;
    };
  };
  const auto OursBig = OursBigWith(0);
  const auto OursBigLater = OursBigWith(65535);
  const auto OursSmall = [&] {
    THTTPSend Http;
    Http.Protocol = "1.1";
    for (int I = 0; I < SmallCount; ++I) {
      Http.ResetRequest();
      if (!Http.SendRequest("GET", Base + "/small/f" + std::to_string(I) + ".txt") || Http.ResultCode != 200 ||
          Http.Document.Size() != 512 + I % 1024)
        return false;
    }
    return true;
  };
  const std::vector<std::string> CurlBig{"curl", "-s", "-f", "-o", "/dev/null", Base + "/big.bin"};
  // curl keeping the body in memory too: a file on a memory file system.
  const std::string ShmFile = "/dev/shm/tarvo-bench-" + std::to_string(::getpid()) + ".bin";
  const std::vector<std::string> CurlBigShm{"curl", "-s", "-f", "-o", ShmFile, Base + "/big.bin"};
  const std::vector<std::string> CurlSmall{"curl", "-s", "-f", "-K", Dir + "/curl-small.cfg"};

  TRun OurBigRun, OurBigLaterRun, CurlBigRun, CurlBigShmRun, OurSmallRun, CurlSmallRun;
  for (int Round = 0; Round < 2; ++Round) {
    OurBigRun = Best(OurBigRun, Measure(OursBig));
    OurBigLaterRun = Best(OurBigLaterRun, Measure(OursBigLater));
    CurlBigRun = Best(CurlBigRun, MeasureCurl(CurlBig));
    CurlBigShmRun = Best(CurlBigShmRun, MeasureCurl(CurlBigShm));
    std::filesystem::remove(ShmFile);
    OurSmallRun = Best(OurSmallRun, Measure(OursSmall));
    CurlSmallRun = Best(CurlSmallRun, MeasureCurl(CurlSmall));
  }

  std::printf("HTTP engine against curl, nginx on loopback, best of 2 rounds\n");
  const std::string Big = "GET " + std::to_string(SizeMiB) + " MiB";
  Report((Big + " (1)").c_str(), OurBigRun, CurlBigRun, static_cast<double>(SizeMiB), "MiB/s");
  Report((Big + " (2)").c_str(), OurBigLaterRun, CurlBigRun, static_cast<double>(SizeMiB), "MiB/s");
  Report((Big + " (3)").c_str(), OurBigRun, CurlBigShmRun, static_cast<double>(SizeMiB), "MiB/s");
  Report((Big + " (4)").c_str(), OurBigLaterRun, CurlBigShmRun, static_cast<double>(SizeMiB), "MiB/s");
  Report(("GET " + std::to_string(SmallCount) + " small").c_str(), OurSmallRun, CurlSmallRun,
         static_cast<double>(SmallCount), "req/s");
  std::printf("ours streams the body into a sink. (1) socket buffers left to the system, (2) 65535-byte\n"
              "socket buffers asked for; both against curl to /dev/null; (3) and (4) the same against curl\n"
              "writing to a file in /dev/shm. ratio = curl time / our time.\n");

  ::kill(Nginx, SIGTERM);
  ::waitpid(Nginx, nullptr, 0);
  std::filesystem::remove_all(Dir);
  return OurBigRun.Ok && OurBigLaterRun.Ok && CurlBigRun.Ok && CurlBigShmRun.Ok && OurSmallRun.Ok && CurlSmallRun.Ok
             ? 0
             : 1;
}

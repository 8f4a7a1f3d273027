// Downloads one file over TLS from `openssl s_server -WWW` and from nginx
// on loopback, with the socket layer (TlsEnabled, GET, ReceiveToStream
// until the server ends the session) and with curl, on the same servers in
// the same run, and prints the throughputs and their ratio. Each client
// runs three times per server, alternating; the best run of each counts.
// s_server reads and writes in small pieces and sets the pace itself;
// nginx is fast enough that the clients do.
//
// Usage: bench_tls [MiB]   (default 2048, i.e. 2 GiB)
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bench/support/benchports.h"
#include "bench/support/benchspawn.h"

#include "net/blocksock.h"
#include "util/streams.h"

namespace {

constexpr int kRuns = 3;

// Counts what is written and keeps nothing, so the disk plays no part.
class TCountingStream : public TStream {
 public:
  std::int64_t Read(void*, std::int64_t) override { return 0; }
  std::int64_t Write(const void*, std::int64_t Count) override {
    Size_ += Count;
    return Count;
  }
  std::int64_t Seek(std::int64_t, TSeekOrigin) override { return Size_; }
  std::int64_t Size() override { return Size_; }
  bool SetSize(std::int64_t NewSize) override {
    Size_ = NewSize;
    return true;
  }

 private:
  std::int64_t Size_ = 0;
};

double Seconds(std::chrono::steady_clock::time_point Start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
}

int Wait(pid_t Pid) {
  int Status = 0;
  waitpid(Pid, &Status, 0);
  return WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
}

// Bytes per second for one download with the socket layer, 0 on failure.
double SocketLayerRun(int Port, std::int64_t Expected) {
  TTCPBlockSocket Socket;
  Socket.SetTlsEnabled(true);
  const auto Start = std::chrono::steady_clock::now();
  Socket.Connect("127.0.0.1", std::to_string(Port));
  if (Socket.LastErrorCode != 0) {
    std::fprintf(stderr, "connect: %d %s\n", Socket.LastErrorCode, Socket.TlsLastErrorText.c_str());
    return 0;
  }
  // Both servers end the session after the body of an HTTP/1.0 request.
  Socket.SendText("GET /file.bin HTTP/1.0\r\nHost: localhost\r\n\r\n");
  TCountingStream Body;
  Socket.ReceiveToStream(Body, 60000);
  const double Elapsed = Seconds(Start);
  if (Socket.LastErrorCode != 10054 || Body.Size() < Expected) {
    std::fprintf(stderr, "socket layer: %lld bytes, ended with %d\n", static_cast<long long>(Body.Size()),
                 Socket.LastErrorCode);
    return 0;
  }
  return static_cast<double>(Body.Size()) / Elapsed;
}

double CurlRun(int Port, std::int64_t Expected) {
  const auto Start = std::chrono::steady_clock::now();
  const pid_t Pid = SpawnQuiet({"curl", "-s", "-k", "--http1.1", "-o", "/dev/null",
                           "https://127.0.0.1:" + std::to_string(Port) + "/file.bin"},
                          "");
  const int Code = Wait(Pid);
  const double Elapsed = Seconds(Start);
  // s_server ends the session without a Content-Length, so curl may
  // report the end as an error after having every byte; 56 is that case.
  if (Code != 0 && Code != 56) {
    std::fprintf(stderr, "curl exited with %d\n", Code);
    return 0;
  }
  return static_cast<double>(Expected) / Elapsed;
}

struct TResult {
  double Ours = 0;
  double Curl = 0;
};

TResult Measure(int Port, std::int64_t Size) {
  TResult Result;
  for (int i = 0; i < 100 && !PortOpen(Port); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  for (int Run = 0; Run < kRuns; ++Run) {
    Result.Ours = std::max(Result.Ours, SocketLayerRun(Port, Size));
    Result.Curl = std::max(Result.Curl, CurlRun(Port, Size));
  }
  return Result;
}

void Stop(pid_t Server) {
  kill(-Server, SIGTERM);
  kill(Server, SIGTERM);
  Wait(Server);
}

void Report(const char* Server, const TResult& Result) {
  std::printf("%-16s %14.1f %14.1f %8.2f\n", Server, Result.Ours / 1048576.0, Result.Curl / 1048576.0,
              Result.Curl > 0 ? Result.Ours / Result.Curl : 0.0);
}

std::string NginxConf(const std::string& Dir, int Port) {
  return "worker_processes 1;\ndaemon off;\nuser root;\npid " + Dir + "/nginx.pid;\nerror_log " + Dir +
         "/error.log;\nevents { worker_connections 16; }\nhttp {\n  access_log off;\n  client_body_temp_path " + Dir +
         "/body;\n  proxy_temp_path " + Dir + "/proxy;\n  fastcgi_temp_path " + Dir + "/fastcgi;\n  uwsgi_temp_path " +
         Dir + "/uwsgi;\n  scgi_temp_path " + Dir + "/scgi;\n  server {\n    listen 127.0.0.1:" + std::to_string(Port) +
         " ssl;\n    ssl_certificate " + Dir + "/cert.pem;\n    ssl_certificate_key " + Dir + "/key.pem;\n    root " +
         Dir + ";\n  }\n}\n";
}

}  // namespace

int main(int argc, char** argv) {
  const std::int64_t MiB = argc > 1 ? std::atoll(argv[1]) : 2048;
  const std::int64_t Size = MiB * 1024 * 1024;
  const TSocketInterfaceGuard SocketInterface;
  char Template[] = "/tmp/tarvo-bench-tls-XXXXXX";
  const std::string Dir = mkdtemp(Template);
  if (Wait(SpawnQuiet({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes",
                  "-keyout", "key.pem", "-out", "cert.pem", "-days", "1", "-subj", "/CN=localhost"},
                 Dir)) != 0) {
    std::fprintf(stderr, "openssl req failed\n");
    return 1;
  }
  {
    // A sparse file: reading it costs no disk, so the peers set the pace.
    const int Fd = open((Dir + "/file.bin").c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    if (Fd < 0 || ftruncate(Fd, Size) != 0) return 1;
    close(Fd);
  }
  const int OpensslPort = FreePort();
  const pid_t Openssl = SpawnQuiet({"openssl", "s_server", "-accept", "127.0.0.1:" + std::to_string(OpensslPort), "-cert",
                               "cert.pem", "-key", "key.pem", "-WWW", "-quiet"},
                              Dir);
  const TResult FromOpenssl = Measure(OpensslPort, Size);
  Stop(Openssl);

  const int NginxPort = FreePort();
  {
    FILE* Conf = std::fopen((Dir + "/nginx.conf").c_str(), "w");
    if (Conf == nullptr) return 1;
    std::fputs(NginxConf(Dir, NginxPort).c_str(), Conf);
    std::fclose(Conf);
  }
  const pid_t Nginx = SpawnQuiet({"nginx", "-c", Dir + "/nginx.conf", "-p", Dir}, Dir);
  const TResult FromNginx = Measure(NginxPort, Size);
  Stop(Nginx);
  std::filesystem::remove_all(Dir);

  std::printf("TLS download of %lld MiB on loopback, best of %d runs, MiB/s\n", static_cast<long long>(MiB), kRuns);
  std::printf("%-16s %14s %14s %8s\n", "server", "TTCPBlockSocket", "curl", "ratio");
  Report("openssl s_server", FromOpenssl);
  Report("nginx", FromNginx);
  return FromOpenssl.Ours > 0 && FromOpenssl.Curl > 0 && FromNginx.Ours > 0 && FromNginx.Curl > 0 ? 0 : 1;
}

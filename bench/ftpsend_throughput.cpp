// Download and upload throughput of TFTPSend with DirectFile against a
// vsftpd server on loopback, next to curl and lftp fetching and storing the
// same file from the same server in the same run; also the peak resident
// memory of this process (which runs only our client) and of the peers.
//
// Usage: bench_ftpsend_throughput [size in MiB, default 2048] [rounds, default 2] [tls]
// With "tls" the server demands FTPS (AUTH TLS, protected data connections
// that resume the control session) and every client speaks it: tarvo with
// its certificate check, curl --ssl-reqd, lftp with ftp:ssl-force.
// The clients take turns within each round, so load that comes and goes on
// a shared machine falls on all of them alike; each figure is the median of
// the rounds, and the load average is shown before and after. Needs
// /usr/sbin/vsftpd, openssl, curl and lftp; runs as root (vsftpd's
// anonymous user must write the upload dir).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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
#include "protocols/ftpsend.h"

namespace {

using Clock = std::chrono::steady_clock;

struct TRun {
  double Seconds = 0;
  long PeakKiB = 0;
  bool Ok = false;
};

// Runs a peer program to completion and reports its time and peak memory.
TRun RunPeer(const std::vector<std::string>& Argv) {
  TRun Run;
  const auto Start = Clock::now();
  const pid_t Pid = SpawnQuiet(Argv);
  int Status = 0;
  rusage Usage{};
  wait4(Pid, &Status, 0, &Usage);
  Run.Seconds = std::chrono::duration<double>(Clock::now() - Start).count();
  Run.PeakKiB = Usage.ru_maxrss;
  Run.Ok = WIFEXITED(Status) && WEXITSTATUS(Status) == 0;
  return Run;
}

TRun RunClient(const std::function<bool()>& Transfer) {
  TRun Run;
  const auto Start = Clock::now();
  Run.Ok = Transfer();
  Run.Seconds = std::chrono::duration<double>(Clock::now() - Start).count();
  rusage Usage{};
  getrusage(RUSAGE_SELF, &Usage);
  Run.PeakKiB = Usage.ru_maxrss;
  return Run;
}

std::int64_t FileSize(const std::string& Path) {
  struct stat Info;
  return stat(Path.c_str(), &Info) == 0 ? Info.st_size : -1;
}

void Report(const char* What, const char* Who, const TRun& Run, std::int64_t Bytes, double Reference) {
  const double MBs = Bytes / 1e6 / Run.Seconds;
  std::printf("%-9s %-6s %8.0f MB/s %7.2f s  peak RSS %7.1f MB%s", What, Who, MBs, Run.Seconds, Run.PeakKiB / 1024.0,
              Run.Ok ? "" : "  FAILED");
  if (Reference > 0) std::printf("  (tarvo / %s = %.2f)", Who, Reference / MBs);
  std::printf("\n");
}

struct TContender {
  const char* Who;
  std::function<TRun()> Once;
  std::vector<TRun> Runs = {};
};

// Every contender once per round, in turn.
void TakeTurns(int Rounds, std::vector<TContender>& Contenders) {
  for (int I = 0; I < Rounds; ++I)
    for (TContender& Contender : Contenders) Contender.Runs.push_back(Contender.Once());
}

// The median time of the runs (a failed run fails the figure) and the
// largest peak.
TRun Median(std::vector<TRun> Runs) {
  TRun Result;
  for (const TRun& Run : Runs) {
    if (!Run.Ok) return Run;
    Result.PeakKiB = std::max(Result.PeakKiB, Run.PeakKiB);
  }
  std::sort(Runs.begin(), Runs.end(), [](const TRun& A, const TRun& B) { return A.Seconds < B.Seconds; });
  Result.Seconds = Runs[Runs.size() / 2].Seconds;
  Result.Ok = true;
  return Result;
}

// Median figures of the contenders, the first one (tarvo) the reference.
bool ReportAll(const char* What, const std::vector<TContender>& Contenders, std::int64_t Bytes) {
  const TRun Ours = Median(Contenders.front().Runs);
  const double OurMBs = Bytes / 1e6 / Ours.Seconds;
  bool AllOk = true;
  for (const TContender& Contender : Contenders) {
    const TRun Figure = Median(Contender.Runs);
    Report(What, Contender.Who, Figure, Bytes, &Contender == &Contenders.front() ? 0 : OurMBs);
    AllOk = AllOk && Figure.Ok;
  }
  return AllOk;
}

void PrintLoad(const char* When) {
  double Load[3] = {};
  if (getloadavg(Load, 3) == 3) std::printf("load average %s: %.2f %.2f %.2f\n", When, Load[0], Load[1], Load[2]);
}

}  // namespace

int main(int argc, char** argv) {
  const std::int64_t MiB = argc > 1 ? std::atoll(argv[1]) : 2048;
  const int Rounds = argc > 2 ? std::atoi(argv[2]) : 2;
  const bool Tls = argc > 3 && std::string(argv[3]) == "tls";
  const std::int64_t Bytes = MiB * 1024 * 1024;
  signal(SIGPIPE, SIG_IGN);

  // In memory when there is room, so that the figures measure the transfer
  // and not the disk the files land on.
  struct statvfs Shm {};
  const bool InMemory = statvfs("/dev/shm", &Shm) == 0 &&
                        static_cast<double>(Shm.f_bavail) * Shm.f_frsize > 4.0 * static_cast<double>(Bytes);
  std::string Template = std::string(InMemory ? "/dev/shm" : "/tmp") + "/tarvo-bench-ftp-XXXXXX";
  if (!mkdtemp(Template.data())) return 2;
  const std::string Work = Template;
  const std::string Root = Work + "/root";
  const std::string Pub = Root + "/pub";
  mkdir(Root.c_str(), 0755);
  mkdir(Pub.c_str(), 0777);
  chmod(Pub.c_str(), 0777);
  // The served file is sparse: the server reads it from the page cache and
  // the figures measure the transfer, not a disk.
  {
    const int Fd = open((Pub + "/big.bin").c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    if (Fd < 0 || ftruncate(Fd, Bytes) != 0) return 2;
    close(Fd);
  }
  const std::string Source = Work + "/source.bin";
  {
    const int Fd = open(Source.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    if (Fd < 0 || ftruncate(Fd, Bytes) != 0) return 2;
    close(Fd);
  }

  const int Port = FreePort();
  const std::string Cert = Work + "/cert.pem";
  if (Tls && !RunPeer({"/usr/bin/openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                       "-nodes", "-subj", "/CN=localhost", "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1",
                       "-days", "2", "-keyout", Work + "/key.pem", "-out", Cert})
                  .Ok)
    return 2;
  std::ofstream(Work + "/vsftpd.conf")
      << "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\nlisten_port=" << Port
      << "\nbackground=NO\nanonymous_enable=YES\nlocal_enable=NO\nno_anon_password=YES\nanon_root=" << Root
      << "\nwrite_enable=YES\nanon_upload_enable=YES\nanon_other_write_enable=YES\nanon_world_readable_only=NO\n"
         "secure_chroot_dir=/var/run/vsftpd/empty\npasv_enable=YES\nseccomp_sandbox=NO\nxferlog_enable=NO\n"
      << (Tls ? "ssl_enable=YES\nallow_anon_ssl=YES\nforce_anon_logins_ssl=YES\nforce_anon_data_ssl=YES\n"
                "require_ssl_reuse=YES\nrsa_cert_file=" + Cert + "\nrsa_private_key_file=" + Work + "/key.pem\n"
              : std::string());
  const pid_t Server = SpawnQuiet({"/usr/sbin/vsftpd", Work + "/vsftpd.conf"});
  for (int I = 0; I < 100 && !PortOpen(Port); ++I) std::this_thread::sleep_for(std::chrono::milliseconds(50));

  const std::string Url = "ftp://127.0.0.1:" + std::to_string(Port) + "/pub/";
  const std::string Target = Work + "/down.bin";
  std::printf("file %lld MiB, %s, vsftpd on 127.0.0.1:%d, files in %s, median of %d rounds taken in turn\n",
              static_cast<long long>(MiB), Tls ? "FTPS" : "plain FTP", Port, Work.c_str(), Rounds);
  PrintLoad("before");
  // The peers' switches for FTPS, with the certificate checked as ours is.
  const std::vector<std::string> CurlTls = Tls ? std::vector<std::string>{"--ssl-reqd", "--cacert", Cert}
                                               : std::vector<std::string>{};
  const std::string LftpTls = Tls ? "set ftp:ssl-force true; set ftp:ssl-protect-data true; "
                                    "set ftp:ssl-allow-anonymous true; set ssl:ca-file " + Cert + "; "
                                  : "";
  const auto Curl = [&](std::vector<std::string> Args) {
    Args.insert(Args.begin(), CurlTls.begin(), CurlTls.end());
    Args.insert(Args.begin(), {"/usr/bin/curl", "-s"});
    return RunPeer(Args);
  };

  TFTPSend Ftp;
  Ftp.TargetHost = "127.0.0.1";
  Ftp.TargetPort = std::to_string(Port);
  Ftp.Timeout = 60000;
  Ftp.DirectFile = true;
  Ftp.AutoTLS = Tls;
  Ftp.TLSRequired = Tls;
  Ftp.Sock().SSLverifyCert = Tls;
  Ftp.Sock().SSLCertCAFile = Tls ? Cert : "";
  if (!Ftp.LogOn() || !Ftp.ChangeDirectory("pub")) {
    std::printf("logon failed: %s\n", Ftp.ResultString().c_str());
    kill(Server, SIGTERM);
    waitpid(Server, nullptr, 0);
    return 1;
  }

  std::vector<TContender> Downloads{
      {"tarvo",
       [&] {
         Ftp.DirectFileName = Target;
         TRun Run = RunClient([&] { return Ftp.Download("big.bin", false); });
         Run.Ok = Run.Ok && FileSize(Target) == Bytes;
         return Run;
       }},
      {"curl",
       [&] {
         TRun Run = Curl({"-o", Target, Url + "big.bin"});
         Run.Ok = Run.Ok && FileSize(Target) == Bytes;
         return Run;
       }},
      {"lftp",
       [&] {
         std::filesystem::remove(Target);
         TRun Run = RunPeer({"/usr/bin/lftp", "-c", LftpTls + "open " + Url + " && get big.bin -o " + Target});
         Run.Ok = Run.Ok && FileSize(Target) == Bytes;
         return Run;
       }},
  };
  std::vector<TContender> Uploads{
      {"tarvo",
       [&] {
         Ftp.DirectFileName = Source;
         TRun Run = RunClient([&] { return Ftp.Upload("up-tarvo.bin", false); });
         Run.Ok = Run.Ok && FileSize(Pub + "/up-tarvo.bin") == Bytes;
         std::filesystem::remove(Pub + "/up-tarvo.bin");
         return Run;
       }},
      {"curl",
       [&] {
         TRun Run = Curl({"-T", Source, Url + "up-curl.bin"});
         Run.Ok = Run.Ok && FileSize(Pub + "/up-curl.bin") == Bytes;
         std::filesystem::remove(Pub + "/up-curl.bin");
         return Run;
       }},
      {"lftp",
       [&] {
         TRun Run = RunPeer({"/usr/bin/lftp", "-c", LftpTls + "open " + Url + " && put " + Source + " -o up-lftp.bin"});
         Run.Ok = Run.Ok && FileSize(Pub + "/up-lftp.bin") == Bytes;
         std::filesystem::remove(Pub + "/up-lftp.bin");
         return Run;
       }},
  };
  TakeTurns(Rounds, Downloads);
  TakeTurns(Rounds, Uploads);
  Ftp.LogOff();

  const bool DownOk = ReportAll("download", Downloads, Bytes);
  const bool UpOk = ReportAll("upload", Uploads, Bytes);
  PrintLoad("after");

  kill(Server, SIGTERM);
  waitpid(Server, nullptr, 0);
  std::filesystem::remove_all(Work);
  return DownOk && UpOk ? 0 : 1;
}

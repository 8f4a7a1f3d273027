// The HTTP jobs end to end against nginx on loopback, beside curl doing the
// same transfers in the same run: HTTPGET of one big file, HTTPPUT of many
// small files and of the big file, HTTPPOSTFILE of the same. Prints wall
// time, throughput, peak resident memory of each client and the ratio
// tarvo/curl of the times.
//
// Usage: bench_httpjobs [big file MiB (1024)] [small files (2000)]
// Each job uses a fresh connection per file (as the jobs do); curl runs one
// process per row and reuses its connection across the small files. Files
// live on the disk under /tmp; before each client the page cache is settled
// (sync, inputs read once) and outputs of the previous client are removed.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/support/benchports.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {

namespace fs = std::filesystem;

struct TMeasure {
  double Seconds = 0;
  long PeakKiB = 0;
  int ExitCode = -1;
};

pid_t Spawn(const std::vector<std::string>& Argv, const std::string& WorkDir, bool Quiet) {
  const pid_t Pid = fork();
  if (Pid != 0) return Pid;
  if (!WorkDir.empty() && chdir(WorkDir.c_str()) != 0) _exit(126);
  if (Quiet) {
    const int Null = open("/dev/null", O_WRONLY);
    dup2(Null, 1);
    dup2(Null, 2);
  }
  std::vector<char*> Args;
  for (const auto& A : Argv) Args.push_back(const_cast<char*>(A.c_str()));
  Args.push_back(nullptr);
  execvp(Args[0], Args.data());
  _exit(127);
}

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
  const pid_t Pid = Spawn(Argv, WorkDir, true);
  int Status = 0;
  rusage Usage{};
  wait4(Pid, &Status, 0, &Usage);
  TMeasure M;
  M.Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
  M.PeakKiB = Usage.ru_maxrss;
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

std::string NginxConfig(const std::string& Work, int Port) {
  return "daemon off;\nmaster_process off;\nworker_processes 1;\npid " + Work + "/nginx.pid;\n"
         "error_log " + Work + "/error.log;\nevents { worker_connections 1024; }\n"
         "http {\n  access_log off;\n  client_max_body_size 0;\n  sendfile on;\n"
         "  client_body_temp_path " + Work + "/body;\n  proxy_temp_path " + Work + "/proxy;\n"
         "  fastcgi_temp_path " + Work + "/fastcgi;\n  uwsgi_temp_path " + Work + "/uwsgi;\n"
         "  scgi_temp_path " + Work + "/scgi;\n"
         "  server {\n    listen 127.0.0.1:" + std::to_string(Port) + ";\n    root " + Work + "/www;\n"
         "    location / { dav_methods PUT DELETE; create_full_put_path on; }\n"
         "    location /post { return 200 \"ok\\n\"; }\n  }\n}\n";
}

void PrintRow(const char* Name, double Bytes, const TMeasure& Tarvo, const TMeasure& Curl) {
  const auto Rate = [Bytes](const TMeasure& M) { return Bytes / (1 << 20) / M.Seconds; };
  std::printf("%-28s tarvo %8.2f s %9.1f MiB/s %8ld KiB%s | curl %8.2f s %9.1f MiB/s %8ld KiB%s | time ratio %.2f\n",
              Name, Tarvo.Seconds, Rate(Tarvo), Tarvo.PeakKiB, Tarvo.ExitCode ? " (FAILED)" : "", Curl.Seconds,
              Rate(Curl), Curl.PeakKiB, Curl.ExitCode ? " (FAILED)" : "", Tarvo.Seconds / Curl.Seconds);
  std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
  const long BigMiB = argc > 1 ? std::atol(argv[1]) : 1024;
  const int SmallCount = argc > 2 ? std::atoi(argv[2]) : 2000;
  const std::string Tarvo = fs::canonical("/proc/self/exe").parent_path() / "tarvo";
  char Template[] = "/tmp/tarvo-bench-http-XXXXXX";
  const std::string Work = mkdtemp(Template);
  for (const char* Dir : {"www", "www/in", "get", "small", "big"}) fs::create_directories(Work + "/" + Dir);

  WriteBigFile(Work + "/www/big.bin", BigMiB);
  fs::copy_file(Work + "/www/big.bin", Work + "/big/big.bin");
  std::string Small(10 * 1000, 's');
  for (int I = 0; I < SmallCount; ++I) WriteText(Work + "/small/f" + std::to_string(I) + ".txt", Small);

  const int Port = FreePort();
  WriteText(Work + "/nginx.conf", NginxConfig(Work, Port));
  const pid_t Nginx = Spawn({"nginx", "-p", Work, "-e", Work + "/error.log", "-c", Work + "/nginx.conf"}, Work, true);
  if (!WaitForPort(Port)) {
    std::fprintf(stderr, "nginx did not start\n");
    return 1;
  }
  const std::string Base = "http://127.0.0.1:" + std::to_string(Port);
  std::printf("HTTP jobs vs curl %s, nginx on loopback, big file %ld MiB, %d small files of 10 kB\n",
              "(curl -s)", BigMiB, SmallCount);

  std::vector<std::string> SmallFiles;
  for (int I = 0; I < SmallCount; ++I) SmallFiles.push_back(Work + "/small/f" + std::to_string(I) + ".txt");
  const std::vector<std::string> BigFile{Work + "/big/big.bin"};
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
  const double Big = static_cast<double>(BigMiB) * (1 << 20);
  const double SmallBytes = static_cast<double>(SmallCount) * static_cast<double>(Small.size());

  const std::vector<std::string> Served{Work + "/www/big.bin"};
  TMeasure T = Job("get", "Mode=HTTPGET\nTarget=" + Base + "/big.bin\nLocalPath=get\nTouchDateMode=False\n", Served);
  Clean("get");
  TMeasure C = Curl({"curl", "-s", "-o", Work + "/get/curl.bin", Base + "/big.bin"}, Served);
  Clean("get");
  PrintRow("HTTPGET 1 big file", Big, T, C);

  T = Job("putsmall", "Mode=HTTPPUT\nTarget=" + Base + "/in/\nLocalPath=small/*.txt\n", SmallFiles);
  std::string Config;
  for (int I = 0; I < SmallCount; ++I)
    Config += "upload-file = \"small/f" + std::to_string(I) + ".txt\"\nurl = \"" + Base + "/in/c" + std::to_string(I) + ".txt\"\n";
  WriteText(Work + "/curl-put.cfg", Config);
  C = Curl({"curl", "-s", "-K", "curl-put.cfg"}, SmallFiles);
  Clean("www/in");
  PrintRow("HTTPPUT small files", SmallBytes, T, C);

  T = Job("putbig", "Mode=HTTPPUT\nTarget=" + Base + "/in/\nLocalPath=big/big.bin\n", BigFile);
  Clean("www/in");
  C = Curl({"curl", "-s", "-T", "big/big.bin", Base + "/in/curl-big.bin"}, BigFile);
  Clean("www/in");
  PrintRow("HTTPPUT 1 big file", Big, T, C);

  T = Job("postsmall", "Mode=HTTPPOSTFILE\nTarget=" + Base + "/post\nLocalPath=small/*.txt\n", SmallFiles);
  Config.clear();
  for (int I = 0; I < SmallCount; ++I)
    Config += "url = \"" + Base + "/post\"\nform = \"POSTFILE=@small/f" + std::to_string(I) + ".txt\"\n" +
              (I + 1 < SmallCount ? "next\n" : "");
  WriteText(Work + "/curl-post.cfg", Config);
  C = Curl({"curl", "-s", "-o", "/dev/null", "-K", "curl-post.cfg"}, SmallFiles);
  PrintRow("HTTPPOSTFILE small files", SmallBytes, T, C);

  T = Job("postbig", "Mode=HTTPPOSTFILE\nTarget=" + Base + "/post\nLocalPath=big/big.bin\n", BigFile);
  C = Curl({"curl", "-s", "-o", "/dev/null", "-F", "POSTFILE=@big/big.bin", Base + "/post"}, BigFile);
  PrintRow("HTTPPOSTFILE 1 big file", Big, T, C);

  kill(Nginx, SIGTERM);
  waitpid(Nginx, nullptr, 0);
  fs::remove_all(Work);
  return 0;
}

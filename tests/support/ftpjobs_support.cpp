#include "support/ftpjobs_support.h"

#include <sys/stat.h>
#include <utime.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

using namespace testsupport;

namespace ftpjobs {

namespace {

const char* const Python = "/usr/bin/python3";

std::string ServerScript() { return std::string(TARVO_SOURCE_DIR) + "/tests/support/ftpjobs_server.py"; }

// A free port can be taken between the probe and the bind: try a few.
template <typename StartAt>
bool StartOnFreePort(int& Port, StartAt Start) {
  for (int Attempt = 0; Attempt < 5; ++Attempt) {
    Port = FreePort();
    if (Start(Port) && WaitForPort(Port, 10000)) return true;
  }
  return false;
}

}  // namespace

std::string JsonString(const std::string& Text) {
  std::string Result = "\"";
  for (const unsigned char C : Text) {
    if (C == '"' || C == '\\') {
      Result += '\\';
      Result += static_cast<char>(C);
    } else if (C < 0x20 || C >= 0x7F) {
      char Escape[8];
      std::snprintf(Escape, sizeof(Escape), "\\u%04x", C);
      Result += Escape;
    } else {
      Result += static_cast<char>(C);
    }
  }
  return Result + "\"";
}

bool ScriptedFtpServer::Start(const std::string& ScriptJson, const std::string& StoreDir) {
  WriteFile(Dir_ / "script.json", ScriptJson);
  WriteFile(Dir_ / "transcript.txt", "");
  return StartOnFreePort(Port_, [&](int Port) {
    Process_.Stop();
    std::vector<std::string> Argv = {Python, ServerScript(), std::to_string(Port), Dir_ / "script.json",
                                     Dir_ / "transcript.txt"};
    if (!StoreDir.empty()) Argv.push_back(StoreDir);
    return Process_.Start(Argv, "", Dir_ / "server.log");
  });
}

std::vector<std::string> ScriptedFtpServer::Transcript() const {
  std::vector<std::string> Lines;
  std::istringstream In(ReadFile(Dir_ / "transcript.txt"));
  std::string Line;
  while (std::getline(In, Line)) Lines.push_back(Line);
  return Lines;
}

bool PyFtpServer::Start(const std::string& Root, const std::string& UserName, const std::string& Password) {
  return StartOnFreePort(Port_, [&](int Port) {
    Process_.Stop();
    std::vector<std::string> Argv = {Python, "-m", "pyftpdlib", "-i", "127.0.0.1", "-p", std::to_string(Port),
                                     "-d", Root, "-w"};
    if (!UserName.empty()) Argv.insert(Argv.end(), {"-u", UserName, "-P", Password});
    return Process_.Start(Argv, "", Dir_ / "server.log");
  });
}

bool VsFtpServer::Start(const std::string& Root, const std::string& Extra) {
  // Scratch directories are private; anonymous users need to enter them.
  std::filesystem::permissions(Root, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                                         std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                                         std::filesystem::perms::others_exec);
  return StartOnFreePort(Port_, [&](int Port) {
    Process_.Stop();
    const std::string Config = Dir_ / "vsftpd.conf";
    WriteFile(Config,
              "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\nlisten_port=" + std::to_string(Port) +
                  "\nbackground=NO\nanonymous_enable=YES\nlocal_enable=NO\nanon_root=" + Root +
                  "\nwrite_enable=YES\nanon_upload_enable=YES\nanon_other_write_enable=YES\nanon_umask=022\n"
                  "no_anon_password=YES\nrun_as_launching_user=YES\nsecure_chroot_dir=" + Dir_.Path() +
                  "\nseccomp_sandbox=NO\nisolate_network=NO\nisolate=NO\nxferlog_enable=NO\n"
                  "pasv_address=127.0.0.1\nuse_localtime=NO\nanon_world_readable_only=NO\n" + Extra);
    return Process_.Start({"/usr/sbin/vsftpd", Config}, "", Dir_ / "server.log");
  });
}

bool VsFtpServer::Restart() {
  Process_.Stop();
  return Process_.Start({"/usr/sbin/vsftpd", Dir_ / "vsftpd.conf"}, "", Dir_ / "server.log") && WaitForPort(Port_, 10000);
}

std::string Rule(const std::string& Cmd, const std::string& Arg, const std::string& Reply) {
  return "{\"cmd\": " + JsonString(Cmd) + ", \"arg\": " + JsonString(Arg) + ", \"reply\": " + JsonString(Reply) + "}";
}

std::string RuleAny(const std::string& Cmd, const std::string& Reply) {
  return "{\"cmd\": " + JsonString(Cmd) + ", \"reply\": " + JsonString(Reply) + "}";
}

std::string Action(const std::string& Cmd, const std::string& Arg, const std::string& What) {
  return "{\"cmd\": " + JsonString(Cmd) + ", \"arg\": " + JsonString(Arg) + ", \"action\": " + JsonString(What) + "}";
}

std::string Once(const std::string& Rule) { return "{\"once\": true, " + Rule.substr(1); }

TJobKeys With(TJobKeys Keys, const TJobKeys& More) {
  Keys.insert(Keys.end(), More.begin(), More.end());
  return Keys;
}

std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> Parts) {
  std::vector<std::string> Result;
  for (const auto& Part : Parts) Result.insert(Result.end(), Part.begin(), Part.end());
  return Result;
}

std::string Contains(const std::vector<std::string>& Lines, const std::string& Wanted) {
  for (const auto& Line : Lines)
    if (Line == Wanted) return "yes";
  return "no";
}

void WriteJobFile(const std::string& Path, const std::vector<std::pair<std::string, TJobKeys>>& Sections) {
  std::string Text;
  for (const auto& [Name, Keys] : Sections) {
    Text += "[" + Name + "]\n";
    for (const auto& [Key, Value] : Keys) Text += Key + "=" + Value + "\n";
  }
  WriteFile(Path, Text);
}

TJobRun RunJobFile(const std::string& JobFile, const std::string& WorkDir, std::vector<std::string> Env,
                   std::vector<std::string> Wrapper) {
  Env.insert(Env.begin(), "TZ=UTC");
  Wrapper.insert(Wrapper.end(), {TARVO_EXE, JobFile});
  const RunResult Run = RunProcess(Wrapper, WorkDir, Env, 120);
  TJobRun Result;
  Result.ExitCode = Run.ExitCode;
  Result.ErrorText = Run.ErrorText;
  Result.Lines = StripStamps(Run.Output);
  if (Result.Lines.size() >= 2) Result.Lines.erase(Result.Lines.begin(), Result.Lines.begin() + 2);
  return Result;
}

long long ModificationTime(const std::string& Path) {
  struct stat Info;
  if (stat(Path.c_str(), &Info) != 0) return -1;
  return static_cast<long long>(Info.st_mtime);
}

void SetModificationTime(const std::string& Path, long long UnixSeconds) {
  utimbuf Times{static_cast<time_t>(UnixSeconds), static_cast<time_t>(UnixSeconds)};
  utime(Path.c_str(), &Times);
}

}  // namespace ftpjobs

// The batch driver: loads the job file, runs its jobs in order and exits
// with the status of the last one.
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>

#include "app/tarvoCommon.h"
#include "jobs/tarvoFtpGet.h"
#include "jobs/tarvoFtpPut.h"
#include "jobs/tarvoHttpGet.h"
#include "jobs/tarvoHttpPostFile.h"
#include "platform/process.h"

namespace {

struct ModeEntry {
  const char* StartText;
  std::int32_t (*Run)(const TtarvoParam&);
  const char* EndLine;
};

const ModeEntry& EntryFor(JobMode Mode) {
  static const ModeEntry Table[] = {
      {" Mode: FTP GET", RunFtpGetJob, "===== FTP GET END"},
      {" Mode: FTP PUT", RunFtpPutJob, "===== FTP PUT END"},
      {" Mode: HTTP GET", RunHttpGetJob, "===== HTTP GET END"},
      {" Mode: HTTP PUT", RunHttpUploadJob, "===== HTTP PUT END"},
      {" Mode: HTTP POSTFILE", RunHttpUploadJob, "===== HTTP POSTFILE END"},
  };
  return Table[static_cast<int>(Mode)];
}

// The job file named on the command line, else the program's own path with
// its extension replaced by ".ini".
std::string JobFileName(int argc, char** argv) {
  if (argc > 1) return argv[1];
  std::string Path = ExecutablePath();
  const auto Slash = Path.rfind('/');
  const auto Dot = Path.rfind('.');
  if (Dot != std::string::npos && (Slash == std::string::npos || Dot > Slash)) Path.erase(Dot);
  return Path + ".ini";
}

std::int32_t RunBatch(const std::string& FileName) {
  TArrayOftarvoParam Jobs;
  std::int32_t Result = LoadJobs(FileName, Jobs);
  if (Result == 0) {
    for (const TtarvoParam& Job : Jobs) {
      const ModeEntry& Entry = EntryFor(Job.Mode);
      WriteLog("===== Section: " + Job.SectionName + Entry.StartText, 0);
      Result = Entry.Run(Job);
      WriteLog(Entry.EndLine, 0);
    }
  }
  Jobs.clear();
  WriteLog("ExitCode=" + std::to_string(Result), 0);
  return Result;
}

}  // namespace

int main(int argc, char** argv) {
  IgnoreBrokenPipes();
  std::fputs("tarvo - unattended batch file transfer (FTP, HTTP)\n", stdout);
  std::fputs("useage:tarvo [Ini file name(default:tarvo.ini)]\n", stdout);
  std::fflush(stdout);
  try {
    return RunBatch(JobFileName(argc, argv));
  } catch (const std::exception& Error) {
    // An error that escapes a job ends the whole run, without "ExitCode=".
    WriteLog(Error.what(), 3);
    return 3;
  }
}

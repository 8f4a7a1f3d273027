#include "app/tarvoBatch.h"

#include <exception>

#include "jobs/tarvoFtpGet.h"
#include "jobs/tarvoFtpPut.h"
#include "jobs/tarvoHttpGet.h"
#include "jobs/tarvoHttpPostFile.h"

namespace {

struct TModeEntry {
  const char* StartText;
  std::int32_t (*Run)(const TtarvoParam&);
  const char* EndLine;
};

const TModeEntry& EntryFor(JobMode Mode) {
  static const TModeEntry Table[] = {
      {" Mode: FTP GET", RunFtpGetJob, "===== FTP GET END"},
      {" Mode: FTP PUT", RunFtpPutJob, "===== FTP PUT END"},
      {" Mode: HTTP GET", RunHttpGetJob, "===== HTTP GET END"},
      {" Mode: HTTP PUT", RunHttpUploadJob, "===== HTTP PUT END"},
      {" Mode: HTTP POSTFILE", RunHttpUploadJob, "===== HTTP POSTFILE END"},
  };
  return Table[static_cast<int>(Mode)];
}

std::int32_t RunJobs(const std::string& FileName, const TJobFunction& Job) {
  TArrayOftarvoParam Jobs;
  std::int32_t Result = LoadJobs(FileName, Jobs);
  if (Result == 0) {
    for (const TtarvoParam& Param : Jobs) {
      const TModeEntry& Entry = EntryFor(Param.Mode);
      WriteLog("===== Section: " + Param.SectionName + Entry.StartText, 0);
      Result = Job(Param);
      WriteLog(Entry.EndLine, 0);
    }
  }
  Jobs.clear();
  WriteLog("ExitCode=" + std::to_string(Result), 0);
  return Result;
}

}  // namespace

std::string DefaultJobFileName(const std::string& ProgramPath) {
  const std::size_t NameStart = ProgramPath.rfind('/') == std::string::npos ? 0 : ProgramPath.rfind('/') + 1;
  const std::size_t Dot = ProgramPath.rfind('.');
  // A leading dot marks a hidden name, not an extension.
  if (Dot == std::string::npos || Dot <= NameStart) return ProgramPath + ".ini";
  return ProgramPath.substr(0, Dot) + ".ini";
}

std::int32_t RunJob(const TtarvoParam& Param) { return EntryFor(Param.Mode).Run(Param); }

int RunBatch(const std::string& FileName, const TJobFunction& Job) {
  try {
    return RunJobs(FileName, Job);
  } catch (const std::exception& Error) {
    return WriteLog(Error.what(), 3);
  } catch (...) {
    return WriteLog("Unknown error.", 3);
  }
}

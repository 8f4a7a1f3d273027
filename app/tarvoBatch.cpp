#include "app/tarvoBatch.h"

#include <cstdio>
#include <exception>

#include "jobs/tarvoFtpGet.h"
#include "jobs/tarvoFtpPut.h"
#include "jobs/tarvoHttpGet.h"
#include "jobs/tarvoHttpPostFile.h"
#include "platform/filesys.h"

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

void LogUnknownKeys(const TtarvoParam& Param) {
  for (const std::string& Key : Param.UnknownKeys) WriteLog("Info : unknown key " + Key + " ignored.", 0);
}

// A misspelt Mode does nothing: running it as a download could delete the
// server's files. The frame shows the mode as written.
std::int32_t RefuseJob(const TtarvoParam& Param) {
  WriteLog("===== Section: " + Param.SectionName + " Mode: " + *Param.UnknownMode, 0);
  LogUnknownKeys(Param);
  const std::int32_t Status = WriteLog("Unknown Mode " + *Param.UnknownMode + ", job not run.", 2);
  WriteLog("===== " + *Param.UnknownMode + " END", 0);
  return Status;
}

std::int32_t RunJobs(const std::string& FileName, const TJobFunction& Job) {
  TArrayOftarvoParam Jobs;
  std::int32_t Result = LoadJobs(FileName, Jobs);
  if (Result == 0 && Jobs.empty()) WriteLog("Info : no job in " + FullPathName(FileName), 0);
  if (Result == 0) {
    for (const TtarvoParam& Param : Jobs) {
      if (Param.UnknownMode) {
        Result = RefuseJob(Param);
        continue;
      }
      const TModeEntry& Entry = EntryFor(Param.Mode);
      WriteLog("===== Section: " + Param.SectionName + Entry.StartText, 0);
      LogUnknownKeys(Param);
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

bool AnswerInfoOption(const std::string& Argument) {
  const bool Help = Argument == "-h" || Argument == "--help";
  if (!Help && Argument != "--version") return false;
  if (EntryExists(Argument)) return false;
  std::fputs(Help ? "useage:tarvo [Ini file name(default:tarvo.ini)]\n" : "tarvo " TARVO_VERSION "\n", stdout);
  return true;
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

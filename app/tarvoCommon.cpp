#include "app/tarvoCommon.h"

#include <cstdio>
#include <unistd.h>

#include "platform/systime.h"

namespace {

// "yyyy/MM/dd H:mm:ss", or the date alone at exactly midnight.
std::string LogStamp() {
  const double Now = NowLocal();
  int Year, Month, Day, Hour, Minute, Second, MilliSecond;
  DecodeDate(Now, Year, Month, Day);
  DecodeTime(Now, Hour, Minute, Second, MilliSecond);
  char Text[64];
  if (Hour == 0 && Minute == 0 && Second == 0)
    std::snprintf(Text, sizeof(Text), "%04d/%02d/%02d", Year, Month, Day);
  else
    std::snprintf(Text, sizeof(Text), "%04d/%02d/%02d %d:%02d:%02d", Year, Month, Day, Hour, Minute, Second);
  return Text;
}

}  // namespace

std::int32_t WriteLog(const std::string& Text, std::int32_t Status) {
  std::string Line = LogStamp();
  Line += Status == 0 ? " " : " ERROR: ";
  Line += Text;
  Line += '\n';
  // One write per line, so a log piped to a file stays whole if we are killed.
  std::fflush(stdout);
  const char* Data = Line.data();
  size_t Left = Line.size();
  while (Left > 0) {
    const ssize_t Written = write(STDOUT_FILENO, Data, Left);
    if (Written <= 0) break;
    Data += Written;
    Left -= static_cast<size_t>(Written);
  }
  return Status;
}

// TODO(foundation): the job file reader and local file helpers.
std::int32_t LoadJobs(const std::string& FileName, TArrayOftarvoParam& Jobs) {
  Jobs.clear();
  std::string FullName = FileName;
  char Cwd[4096];
  if (!FileName.empty() && FileName[0] != '/' && getcwd(Cwd, sizeof(Cwd))) FullName = std::string(Cwd) + "/" + FileName;
  if (access(FullName.c_str(), F_OK) != 0) return WriteLog("Not Found INI file. " + FullName, 2);
  return 0;
}

// The batch driver: loads the job file, runs its jobs in order and exits
// with the status of the last one.
#include <cstdio>
#include <string>

#include "app/tarvoBatch.h"
#include "net/blocksock.h"
#include "platform/process.h"
#include "util/datetime.h"

int main(int argc, char** argv) {
  if (argc > 1 && AnswerInfoOption(argv[1])) return 0;
  IgnoreBrokenPipes();
  // The sockets interface lives for the whole run; its release (and the TLS
  // library's) happens when the guard leaves scope after the last job.
  const TSocketInterfaceGuard SocketInterface;
  LoadSystemMonthNames();
  std::fputs("tarvo " TARVO_VERSION " - unattended batch file transfer (FTP, HTTP)\n", stdout);
  std::fputs("useage:tarvo [Ini file name(default:tarvo.ini)]\n", stdout);
  std::fflush(stdout);
  // Only the first argument counts; a scheduler may append others.
  const std::string FileName = argc > 1 ? std::string(argv[1]) : DefaultJobFileName(ExecutablePath());
  return RunBatch(FileName);
}

#include "jobs/tarvoFtpPut.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <vector>

#include "jobs/tarvoFtpSession.h"
#include "platform/filesys.h"

namespace {

// After a lost connection the file goes on from what the server already
// holds of it when the new session can restart a binary transfer and SIZE
// tells how much that is; otherwise it is sent whole again. Only a file
// this run's upload was accepted into is continued: until then the remote
// name may hold an older file, whose size says nothing about ours.
std::int64_t ResumeOffset(TFTPSend& Ftp, const std::string& Name, bool Accepted) {
  if (!Accepted || !Ftp.BinaryMode || !Ftp.CanResume()) return 0;
  return std::max<std::int64_t>(Ftp.QueryFileSize(Name), 0);
}

// Steps of one local file from the upload on; returns the job status after
// it. A file we cannot read is our failure, not the server's: one error line
// with status 2, and the next file follows.
std::int32_t SendFile(TFTPSend& Ftp, TFtpRetrySession& Session, const TtarvoParam& Param, const std::string& Name,
                      const std::string& LocalDir, std::int32_t Result) {
  const std::string LocalName = LocalDir + Name;
  TFileStream File;
  if (!File.Open(LocalName, TFileMode::OpenRead))
    return WriteLog("Can not read local file " + LocalName + " (" + std::strerror(errno) + ")", 2);
  std::int64_t Offset = 0;
  bool Accepted = false;
  while (!Ftp.UploadFromStream(Name, File, Offset)) {
    Accepted = Accepted || Ftp.UploadAccepted();
    const TFtpRecovery Next = Session.Recover();
    if (Next == TFtpRecovery::Ended) return 1;
    if (Next == TFtpRecovery::NotRetried) {
      WriteLog("ERROR: PUT ERROR " + Name, 0);
      return WriteLog(Ftp.ResultString(), 1);
    }
    Offset = ResumeOffset(Ftp, Name, Accepted);
  }
  File.Close();
  std::int64_t RemoteSize = -1;
  Session.Repeat([&] { return (RemoteSize = Ftp.QueryFileSize(Name)) >= 0; });
  if (Session.Ended()) return 1;
  if (!CheckLocalFileSize(Ftp.BinaryMode, LocalName, RemoteSize)) return WriteLog("different file size.", 2);
  WriteLog("Putted " + LocalName, 0);

  if (!Param.DeleteMode) return Result;
  std::string Reason;
  if (!DeleteLocalFile(LocalName, Reason))
    return WriteLog("Can not delete local file. " + LocalName + " (" + Reason + ")", 2);
  WriteLog("Deleted " + LocalName, 0);
  return Result;
}

std::int32_t SendFiles(TFTPSend& Ftp, const TtarvoParam& Param, const std::vector<std::string>& Names) {
  TFtpRetrySession Session(Ftp, Param);
  if (const std::int32_t Refused = Session.LogOn()) return Refused;
  if (const std::int32_t Refused = Session.EnterDirectory(Param.RemotePath, "Remote work directory error. "))
    return Refused;

  const std::string LocalDir = FtpPutLocalDirectory(Param.LocalPath);
  std::int32_t Result = 0;
  for (const std::string& Name : Names) {
    // A file that cannot be read, or a transfer that breaks, costs this
    // file only.
    try {
      Result = SendFile(Ftp, Session, Param, Name, LocalDir, Result);
    } catch (const std::exception& Error) {
      Result = WriteLog(Error.what(), 2);
    }
    if (Session.Ended()) break;
  }
  return Result;
}

}  // namespace

std::string FtpPutLocalDirectory(const std::string& LocalPath) {
  const std::string Path = NativePath(LocalPath);
  const std::size_t Slash = Path.rfind('/');
  return FullPathName(Slash == std::string::npos ? "./" : Path.substr(0, Slash + 1));
}

std::int32_t RunFtpPutJob(const TtarvoParam& Param) {
  if (const std::int32_t Refused = RefuseUnknownFtpTls(Param)) return Refused;
  std::vector<std::string> Names;
  if (ListUploadFiles(Param.LocalPath, Names) == 0) {
    const std::string LocalDir = FtpPutLocalDirectory(Param.LocalPath);
    if (!IsDirectory(LocalDir)) return WriteLog("Local path not found. " + LocalDir, 2);
    return WriteLog("no file " + Param.LocalPath, 0);
  }

  TFTPSend Ftp;
  ConfigureFtpClient(Ftp, Param);
  // The session is closed on every way out, after a refused logon too.
  const TLogOffGuard Session(Ftp);
  return SendFiles(Ftp, Param, Names);
}

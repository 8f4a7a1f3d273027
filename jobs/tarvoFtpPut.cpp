#include "jobs/tarvoFtpPut.h"

#include <cerrno>
#include <cstring>
#include <exception>
#include <vector>

#include "jobs/tarvoFtpSession.h"
#include "platform/filesys.h"

namespace {

// Steps of one local file from the upload on; returns the job status after
// it. A file we cannot read is our failure, not the server's: one error line
// with status 2, and the next file follows.
std::int32_t SendFile(TFTPSend& Ftp, const TtarvoParam& Param, const std::string& Name, const std::string& LocalDir,
                      std::int32_t Result) {
  const std::string LocalName = LocalDir + Name;
  TFileStream File;
  if (!File.Open(LocalName, TFileMode::OpenRead))
    return WriteLog("Can not read local file " + LocalName + " (" + std::strerror(errno) + ")", 2);
  if (!Ftp.UploadFromStream(Name, File)) {
    WriteLog("ERROR: PUT ERROR " + Name, 0);
    return WriteLog(Ftp.ResultString(), 1);
  }
  File.Close();
  const std::int64_t RemoteSize = Ftp.QueryFileSize(Name);
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
  if (!Ftp.LogOn()) return WriteLog("Login error. " + Ftp.ResultString(), 1);
  WriteLog(LoginLine(Ftp, Param), 0);
  if (!Ftp.ChangeDirectory(Param.RemotePath))
    return WriteLog("Remote work directory error. " + Ftp.ResultString(), 1);

  const std::string LocalDir = FtpPutLocalDirectory(Param.LocalPath);
  std::int32_t Result = 0;
  for (const std::string& Name : Names) {
    // A file that cannot be read, or a transfer that breaks, costs this
    // file only.
    try {
      Result = SendFile(Ftp, Param, Name, LocalDir, Result);
    } catch (const std::exception& Error) {
      Result = WriteLog(Error.what(), 2);
    }
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

#include "jobs/tarvoFtpGet.h"

#include <optional>

#include "jobs/tarvoFtpSession.h"
#include "protocols/ftplist.h"
#include "platform/filesys.h"
#include "platform/localfile.h"
#include "util/masks.h"

namespace {

struct TRemotePath {
  std::string Directory;  // up to and including the last "/"; may be empty
  std::string Mask;       // what follows; may be empty
};

TRemotePath SplitRemotePath(const std::string& RemotePath) {
  const std::size_t Slash = RemotePath.rfind('/');
  if (Slash == std::string::npos) return {"", RemotePath};
  return {RemotePath.substr(0, Slash + 1), RemotePath.substr(Slash + 1)};
}

// The mask is compiled when the first file needs it, so that an invalid
// mask fails exactly where a per-name match would, and only once.
class TLazyMask {
 public:
  explicit TLazyMask(const std::string& Text) : Text_(Text) {}
  bool Matches(const std::string& Name) {
    if (!Mask_) Mask_.emplace(Text_);
    return Mask_->IsMatch(Name);
  }

 private:
  std::string Text_;
  std::optional<TMask> Mask_;
};

// A local failure is the job's own (status 2) and costs this file only;
// nothing of it is left behind.
std::int32_t LocalWriteError(const TLocalFileWriter& File, const std::string& Reason) {
  return WriteLog("Can not write local file " + File.TempName() + " (" + Reason + ")", 2);
}

// After a lost connection the same file goes on in the same temporary file,
// the one this run created and still holds open: from its end when the new
// session can restart a binary transfer, else from nothing.
bool PrepareAnotherAttempt(const TFTPSend& Ftp, TLocalFileWriter& File, bool& Resume) {
  Resume = Ftp.BinaryMode && Ftp.CanResume() && File.Size() > 0;
  return Resume || File.SetSize(0);
}

// Steps of one listed file from the download on; returns the job status
// after it. The bytes go to a file this run creates (see TLocalFileWriter),
// so whatever already lies at the temporary name is never written through.
std::int32_t FetchFile(TFTPSend& Ftp, TFtpRetrySession& Session, const TtarvoParam& Param, const TFTPListRec& Entry,
                       const std::string& LocalDir, std::int32_t Result) {
  const std::string Name = Entry.Name;
  const std::string FinalName = LocalDir + Name;
  TLocalFileWriter File;
  std::string Reason;
  if (!File.Create(FinalName, Reason)) return LocalWriteError(File, Reason);
  bool Resume = false;
  while (!Ftp.DownloadToStream(Name, File, Resume)) {
    if (File.WriteFailed()) return LocalWriteError(File, File.LastReason());
    const TFtpRecovery Next = Session.Recover();
    if (Next == TFtpRecovery::Ended) return 1;
    if (Next == TFtpRecovery::NotRetried) return WriteLog(Ftp.ResultString(), 1);
    if (!PrepareAnotherAttempt(Ftp, File, Resume)) return LocalWriteError(File, File.LastReason());
  }
  // The whole file is judged, however many attempts it took.
  const std::int64_t Size = File.Size();
  if (!File.Close(Reason)) return LocalWriteError(File, Reason);
  if (Ftp.BinaryMode ? Size != Entry.Size : Size < Entry.Size) return WriteLog("different file size.", 2);
  const std::string& TempName = File.TempName();
  WriteLog("Getted " + TempName, 0);

  if (Param.DeleteMode) {
    if (Session.Repeat([&] { return Ftp.DeleteRemote(Name); }))
      WriteLog("Deleted " + Name, 0);
    else if (Session.Ended())
      Result = 1;  // the failed logon is logged; the file is still put in place
    else
      Result = WriteLog("Remote File Delete Error. " + Ftp.ResultString(), 1);
  }
  if (Param.TouchDateMode) {
    if (SetLocalFileDate(File, Entry.ModifiedTime))
      WriteLog("date changed " + TempName, 0);
    else
      Result = WriteLog("Local file time change error.", 2);
  }
  // One atomic replace: an older copy of the final name stays in place
  // until the new one takes its name.
  if (File.Commit(Reason)) {
    WriteLog("renamed " + FinalName, 0);
    return Result;
  }
  // The server's copy may be gone already: the complete file stays under
  // the name the log gives. Still a local failure, not a success.
  File.Keep();
  return WriteLog("Warnig : Can not Rename " + TempName, 2);
}

std::int32_t FetchListedFiles(TFTPSend& Ftp, TFtpRetrySession& Session, const TtarvoParam& Param,
                              const TRemotePath& Remote, const std::string& LocalDir) {
  std::int32_t Result = Session.EnterDirectory(Remote.Directory, "");
  if (Result != 0) return Result;
  while (!Ftp.ListDirectory("", false)) {
    if (Ftp.ListingTooLarge()) return WriteLog("Directory listing larger than 256 MiB, not read.", 1);
    const TFtpRecovery Next = Session.Recover();
    if (Next == TFtpRecovery::Ended) return 1;
    if (Next == TFtpRecovery::NotRetried) return WriteLog(Ftp.ResultString(), 1);
  }

  // The listing is taken once: a new logon goes on with the file that
  // failed, and files already fetched are not fetched again.
  TLazyMask Mask(Remote.Mask);
  for (int Index = 0; Index < Ftp.FtpList().Count(); ++Index) {
    const TFTPListRec& Entry = *Ftp.FtpList().EntryAt(Index);
    const std::string& Name = Entry.Name;
    if (Entry.IsDir) {
      WriteLog("Info : Skip Directory. " + Name, 0);
      continue;
    }
    if (!Mask.Matches(Name)) {
      WriteLog("Info : Skip not match file name. " + Name, 0);
      continue;
    }
    // A hostile or broken server must not be able to write outside the
    // local directory.
    if (!IsSafeLocalFileName(Name)) {
      Result = WriteLog("Skip unsafe file name. " + Name, 1);
      continue;
    }
    WriteLog(Ftp.TargetHost + "/" + Remote.Directory + Name + " " + std::to_string(Entry.Size) + "bytes (" +
                 FormatLogStamp(Entry.ModifiedTime) + ")",
             0);
    Result = FetchFile(Ftp, Session, Param, Entry, LocalDir, Result);
    if (Session.Ended()) break;
  }
  return Result;
}

}  // namespace

bool IsSafeLocalFileName(const std::string& Name) {
  if (Name.empty() || Name == "." || Name == "..") return false;
  for (const char C : Name) {
    const unsigned char Byte = static_cast<unsigned char>(C);
    if (C == '/' || C == '\\' || Byte < 0x20 || Byte == 0x7F) return false;
  }
  return true;
}

std::string FtpGetLocalDirectory(const std::string& LocalPath) {
  std::string Path = NativePath(LocalPath);
  if (Path.empty()) Path = "./";
  if (Path.back() != '/') Path += '/';
  return FullPathName(Path);
}

std::int32_t RunFtpGetJob(const TtarvoParam& Param) {
  if (const std::int32_t Refused = RefuseUnknownFtpTls(Param)) return Refused;
  const std::string LocalDir = FtpGetLocalDirectory(Param.LocalPath);
  if (!IsDirectory(LocalDir)) return WriteLog("Dest Path not found or can not write. " + LocalDir, 2);
  const TRemotePath Remote = SplitRemotePath(Param.RemotePath);

  TFTPSend Ftp;
  ConfigureFtpClient(Ftp, Param);
  TFtpRetrySession Session(Ftp, Param);
  if (const std::int32_t Refused = Session.LogOn()) return Refused;
  // From here the session is closed on every way out, an escaping error
  // (an invalid mask) included.
  const TLogOffGuard Guard(Ftp);
  return FetchListedFiles(Ftp, Session, Param, Remote, LocalDir);
}

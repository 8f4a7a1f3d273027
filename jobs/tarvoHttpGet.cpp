#include "jobs/tarvoHttpGet.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <stdexcept>
#include <utility>

#include "platform/localfile.h"
#include "platform/mimetypes.h"
#include "platform/systime.h"
#include "protocols/httpsend.h"
#include "util/datetime.h"
#include "util/textutil.h"

namespace {

const char* const UserAgentText = "Mozilla/4.0 (compatible; tarvo copyright(c) MARDEX7)";

std::string UpperAscii(std::string Text) {
  for (char& C : Text)
    if (C >= 'a' && C <= 'z') C = static_cast<char>(C - 'a' + 'A');
  return Text;
}

// LocalPath as a directory: "\" is a separator, "/" appended, made absolute
// against the working directory; empty means the working directory.
std::string DestinationDirectory(const std::string& LocalPath) {
  std::string Path = LocalPath.empty() ? std::string("./") : ReplaceAll(LocalPath, "\\", "/");
  if (Path.back() != '/') Path += '/';
  return std::filesystem::absolute(Path).lexically_normal().string();
}

// Host + "_" + path, with every "/" and then every "." turned into "_".
std::string BaseNameForUrl(const std::string& Url) {
  const TUrlParts Parts = SplitUrl(Url);
  return ReplaceAll(ReplaceAll(Parts.Host + "_" + Parts.Path, "/", "_"), ".", "_");
}

void ConfigureClient(THTTPSend& Http, const TtarvoParam& Param) {
  Http.Protocol = Param.HttpProtocol;
  const bool Version11 = Param.HttpProtocol == "1.1";
  if (Param.HttpNoCache) Http.Headers.push_back(Version11 ? "Cache-Control: no-cache" : "Pragma: no-cache");
  Http.UserAgent = UserAgentText;
  Http.Timeout = Param.Timeout;
  Http.UserName = Param.UserName;
  Http.Password = Param.Password;
  // With 1.0 the engine closes after every response anyway; its default
  // keeps "Connection: close" off the wire.
  if (Version11) Http.KeepAlive = Param.HttpKeepAlive;
  Http.Sock().SSLverifyCert = Param.TlsVerify;
  if (Param.TlsVerify) Http.Sock().SSLCertCAFile = Param.TlsCaFile;
  if (Param.ProxyHost.empty()) return;
  Http.ProxyHost = Param.ProxyHost;
  Http.ProxyPort = Param.ProxyPort;
  Http.ProxyUser = Param.ProxyUserName;
  Http.ProxyPass = Param.ProxyPassword;
}

// The header lines, each ended by CR LF; the list ends with an empty line,
// so the file ends with CR LF CR LF.
void WriteHeaderFile(const std::string& FileName, const TStringList& Lines) {
  std::string Text;
  for (const std::string& Line : Lines) Text += Line + "\r\n";
  std::string Reason;
  if (!WriteLocalFile(FileName, Text, Reason))
    throw std::runtime_error("Can not write file " + FileName + " (" + Reason + ")");
}

// Renames the complete temporary file over the final name in one step.
void PutInPlace(TLocalFileWriter& File) {
  std::string Reason;
  if (!File.Commit(Reason))
    throw std::runtime_error("Can not rename " + File.TempName() + " to " + File.FinalName() + " (" + Reason + ")");
}

// Any body but the file's: its first bytes are kept in Document, the rest
// is taken off the connection (so its framing and the kept connection stay
// intact) and dropped, so that a server sending an endless error page costs
// no memory.
class TCappedBody : public TStream {
 public:
  static constexpr std::int64_t Kept = 64 * 1024;
  explicit TCappedBody(TMemoryStream& Document) : Document_(Document) {}
  std::int64_t Read(void*, std::int64_t) override { return 0; }
  std::int64_t Write(const void* Buffer, std::int64_t Count) override {
    const std::int64_t Room = std::clamp<std::int64_t>(Kept - Document_.Size(), 0, Count);
    if (Room > 0) Document_.Write(Buffer, Room);
    return Count;
  }
  std::int64_t Seek(std::int64_t, TSeekOrigin) override { return Document_.Size(); }
  std::int64_t Size() override { return Document_.Size(); }
  bool SetSize(std::int64_t) override { return false; }

 private:
  TMemoryStream& Document_;
};

// The state of one run, shared by its steps.
struct TGetRun {
  TGetRun(const TtarvoParam& P, THTTPSend& H, std::string Base, std::string Dir)
      : Param(P), Http(H), BaseName(std::move(Base)), DestDir(std::move(Dir)) {}
  const TtarvoParam& Param;
  THTTPSend& Http;
  std::string BaseName;
  std::string DestDir;
  std::int32_t Status = 0;
  // The body of a 200 response goes straight into this file as it arrives.
  TLocalFileWriter Body;
  TCappedBody OtherBody{Http.Document};
  THTTPAttr Attr;
  std::string BodyFile;
  std::string LocalError;  // why the body file could not be made
};

// Called by the engine once the header is in: a 200 body is written into
// a new temporary file beside its final name, which the content type
// decides; of any other body only the start stays in memory.
TStream* BodyTarget(TGetRun& Run) {
  if (Run.Http.ResultCode != 200) return &Run.OtherBody;
  try {
    Run.Attr = ParseResponseHeaders(Run.Http.Headers);
    Run.BodyFile = Run.DestDir + Run.BaseName + ExtensionForMimeType(Run.Attr);
  } catch (const std::exception& Error) {
    Run.LocalError = Error.what();
    return nullptr;
  }
  std::string Reason;
  if (Run.Body.Create(Run.BodyFile, Reason)) return &Run.Body;
  Run.LocalError = "Can not write file " + Run.BodyFile + ".tmp (" + Reason + ")";
  return nullptr;
}

// Puts the complete body file in place, with its time stamp, only once it
// holds as many bytes as announced: a short or failed write never replaces a
// good earlier copy, and gets neither a stamp nor a "date changed" line.
// True when BodyFile is in place.
bool SaveBody(TGetRun& Run) {
  std::string Reason;
  if (!Run.Body.Close(Reason)) {
    Run.Body.Discard();
    throw std::runtime_error("Can not write file " + Run.Body.TempName() + " (" + Reason + ")");
  }
  const THTTPAttr& Attr = Run.Attr;
  if (!CheckLocalFileSize(Attr.ContentLength >= 1, Run.Body.TempName(), Attr.ContentLength)) {
    Run.Body.Discard();
    Run.Status = WriteLog("different file size.", 2);
    return false;
  }
  try {
    if (Run.Param.TouchDateMode) {
      if (SetLocalFileDate(Run.Body, ResponseFileTime(Attr)))
        WriteLog("date changed " + Run.BodyFile, 0);
      else
        Run.Status = WriteLog("Local file time change error.", 2);
    }
  } catch (...) {
    // A date that cannot be decoded ends the job's steps, but the complete
    // body is still kept.
    PutInPlace(Run.Body);
    throw;
  }
  PutInPlace(Run.Body);
  return true;
}

// Asks the server to delete the verified resource on the same client (and
// connection, when kept). When the DELETE gets a response, its header
// replaces the GET's for the side file.
void DeleteResource(TGetRun& Run, TStringList& SavedHeaders) {
  Run.Http.ResetRequest();
  Run.Http.OnBodyTarget = [&Run]() -> TStream* { return &Run.OtherBody; };
  if (Run.Http.SendRequest("DELETE", Run.Param.Target)) {
    // Only a refusal is an error: a deleted resource is what the job asked for.
    const bool Deleted = Run.Http.ResultCode / 100 == 2;
    const std::string Line = "http DELETE Result:" + std::to_string(Run.Http.ResultCode) + " " + Run.Http.ResultString;
    const std::int32_t Logged = WriteLog(Line, Deleted ? 0 : 2);
    if (!Deleted) Run.Status = Logged;
    SavedHeaders = Run.Http.Headers;
    return;
  }
  // Silence would let the job pass while the resource is still there.
  Run.Status = WriteLog("Can not http delete " + MaskUrlPassword(Run.Param.Target) + " (" + Run.Http.Sock().LastErrorText + ")", 1);
}

// The result line, then the failure of the body file (disk full, no room
// for the temporary file) as a local failure.
void ReportLocalFailure(TGetRun& Run) {
  WriteLog("http GET Result:" + std::to_string(Run.Http.ResultCode) + " " + Run.Http.ResultString, 0);
  if (Run.LocalError.empty())
    Run.LocalError = "Can not write file " + Run.Body.TempName() + " (" + Run.Body.LastReason() + ")";
  Run.Body.Discard();
  throw std::runtime_error(Run.LocalError);
}

void FetchAndSave(TGetRun& Run) {
  Run.Http.OnBodyTarget = [&Run]() { return BodyTarget(Run); };
  if (!Run.Http.SendRequest("GET", Run.Param.Target)) {
    // A body cut short leaves nothing behind but the log line.
    if (!Run.LocalError.empty() || (Run.Body.IsOpen() && !Run.Body.LastReason().empty())) ReportLocalFailure(Run);
    Run.Body.Discard();
    Run.Status = WriteLog("Can not http get " + MaskUrlPassword(Run.Param.Target) + " (" + Run.Http.Sock().LastErrorText + ")", 1);
    return;
  }
  const std::int32_t Code = Run.Http.ResultCode;
  // 404 and 410 mean nothing to fetch, as a mask that matches nothing does.
  const bool Failed = Code != 200 && Code != 404 && Code != 410;
  const std::string Result = "http GET Result:" + std::to_string(Code) + " " + Run.Http.ResultString;
  if (Failed) Run.Status = WriteLog(Result, 1);
  else WriteLog(Result, 0);
  TStringList SavedHeaders = Run.Http.Headers;
  std::string HeaderFile = Run.DestDir + Run.BaseName + "_Header.TXT";
  if (Run.Http.ResultCode == 200) {
    HeaderFile = Run.BodyFile + "_Header.TXT";
    // An incomplete body leaves the good copy and its side file alone.
    if (!SaveBody(Run)) return;
    if (Run.Param.DeleteMode) DeleteResource(Run, SavedHeaders);
  }
  if (Run.Param.HttpSaveHeader) WriteHeaderFile(HeaderFile, SavedHeaders);
}

}  // namespace

THTTPAttr ParseResponseHeaders(const TStringList& Lines) {
  THTTPAttr Attr;
  std::string LengthText;
  for (const std::string& Line : Lines) {
    const std::size_t Colon = Line.find(':');
    if (Colon == std::string::npos) continue;
    const std::string Name = UpperAscii(Line.substr(0, Colon + 1));
    // The character after the colon (normally a blank) is skipped unseen.
    std::string Value = Colon + 2 <= Line.size() ? Line.substr(Colon + 2) : std::string();
    Value = TextBefore(Value, ";");
    if (Name == "DATE:") Attr.Date = Value;
    if (Name == "CONTENT-TYPE:") Attr.ContentType = Value;
    if (Name == "LAST-MODIFIED:") Attr.LastModified = Value;
    if (Name == "CONTENT-LENGTH:") LengthText = Value;
  }
  // The length is judged as the engine framed the body.
  const std::int64_t Length = AnnouncedContentLength(Lines);
  if (Length == -2) throw std::runtime_error("'" + LengthText + "' is not a valid integer value");
  Attr.ContentLength = std::max<std::int64_t>(Length, 0);
  return Attr;
}

std::string ExtensionForMimeType(const THTTPAttr& Attr) {
  std::string Extension;
  if (!FindMimeTypeExtension(Attr.ContentType, Extension)) return ".bin";
  return Extension;
}

double ResponseFileTime(const THTTPAttr& Attr) {
  double When = NowLocal();
  if (!Attr.Date.empty()) When = DecodeHttpDate(Attr.Date);
  if (!Attr.LastModified.empty()) When = DecodeHttpDate(Attr.LastModified);
  return When;
}

std::int32_t RunHttpGetJob(const TtarvoParam& Param) {
  WriteLog("Target: " + MaskUrlPassword(Param.Target), 0);
  const std::string DestDir = DestinationDirectory(Param.LocalPath);
  if (!IsDirectory(DestDir)) return WriteLog("Dest Path not found or can not write. " + DestDir, 2);
  THTTPSend Http;
  ConfigureClient(Http, Param);
  TGetRun Run{Param, Http, BaseNameForUrl(Param.Target), DestDir};
  try {
    FetchAndSave(Run);
  } catch (const std::exception& Error) {
    Run.Status = WriteLog(Error.what(), 2);
  }
  return Run.Status;
}

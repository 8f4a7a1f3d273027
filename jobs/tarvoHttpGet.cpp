#include "jobs/tarvoHttpGet.h"

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <utility>

#include "platform/filesys.h"
#include "jobs/tarvoRetry.h"
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
  return AbsolutePath(Path);
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
  // What a retry after a lost connection may continue: the 200 offered
  // byte ranges and named a validator that makes the server send the rest
  // only of that same content.
  bool Resumable = false;
  std::string Validator;        // for If-Range: its strong ETag, else its Last-Modified
  std::int64_t WholeSize = -1;  // the 200's announced length, -1 when none
  TStringList WholeHeaders;     // the 200's header, which describes the whole file
  std::int64_t ResumeFrom = 0;  // Body bytes the current request asks past; 0 for none
  bool Answered = false;        // the server answered with a status of its own
  bool RangeRefused = false;    // a 206 whose range does not continue Body
};

bool HasControls(const std::string& Text) {
  return std::any_of(Text.begin(), Text.end(), [](unsigned char C) { return C < 32 || C == 127; });
}

// A modification date identifies the content only when the content had
// stood for a minute when the server answered (RFC 7232, 2.2.2): a change
// within the same second would not show in it.
bool IsStrongDate(const std::string& Modified, const std::string& Date) {
  if (Modified.empty() || Date.empty()) return false;
  try {
    return DecodeHttpDate(Date) - DecodeHttpDate(Modified) >= 60.0 / 86400.0;
  } catch (const std::exception&) {
    return false;
  }
}

// Notes whether a lost connection may later continue this 200's body with
// a range request.
void NoteResumable(TGetRun& Run) {
  const TStringList& Lines = Run.Http.Headers;
  bool Bytes = false;
  std::string Rest = HeaderLineValue(Lines, "Accept-Ranges");
  while (!Rest.empty()) Bytes = Bytes || UpperAscii(TrimControls(CutTokenRaw(Rest, ","))) == "BYTES";
  // A weak entity tag may not be used with If-Range.
  std::string ETag = HeaderLineValue(Lines, "ETag");
  if (ETag.rfind("W/", 0) == 0) ETag.clear();
  const std::string Modified = HeaderLineValue(Lines, "Last-Modified");
  Run.Validator = !ETag.empty() ? ETag : IsStrongDate(Modified, HeaderLineValue(Lines, "Date")) ? Modified : "";
  Run.Resumable = Bytes && !Run.Validator.empty() && !HasControls(Run.Validator);
  Run.WholeSize = AnnouncedContentLength(Lines);
  Run.WholeHeaders = Lines;
}

// "bytes First-Last/Whole" with decimal numbers; false for anything else.
bool ParseContentRange(const std::string& Value, std::int64_t& First, std::int64_t& Last, std::int64_t& Whole) {
  if (UpperAscii(Value.substr(0, 6)) != "BYTES ") return false;
  const std::string Range = TrimControls(Value.substr(6));
  const std::size_t Dash = Range.find('-');
  const std::size_t Slash = Range.find('/');
  if (Dash == std::string::npos || Slash == std::string::npos || Slash < Dash) return false;
  const auto Number = [](const std::string& Text, std::int64_t& Out) {
    if (Text.empty() || Text.size() > 18 || !std::all_of(Text.begin(), Text.end(), [](char C) { return C >= '0' && C <= '9'; }))
      return false;
    Out = std::stoll(Text);
    return true;
  };
  return Number(Range.substr(0, Dash), First) && Number(Range.substr(Dash + 1, Slash - Dash - 1), Last) &&
         Number(Range.substr(Slash + 1), Whole);
}

// A 206 continues the run's own body file only when its range starts
// exactly where the file ends and runs to the end of the same whole.
TStream* ContinueBody(TGetRun& Run) {
  std::int64_t First = 0, Last = 0, Whole = 0;
  const bool Fits = ParseContentRange(HeaderLineValue(Run.Http.Headers, "Content-Range"), First, Last, Whole) &&
                    First == Run.ResumeFrom && Last + 1 == Whole && (Run.WholeSize < 0 || Whole == Run.WholeSize);
  if (!Fits || Run.Body.Seek(First, TSeekOrigin::Begin) != First) {
    Run.RangeRefused = true;
    return nullptr;
  }
  // The size check then judges the whole file, even when the 200 had no length.
  Run.Attr.ContentLength = Whole;
  return &Run.Body;
}

// Called by the engine once the header is in: a 200 body is written into
// a new temporary file beside its final name, which the content type
// decides (one held from an earlier attempt is discarded); a 206 to a range
// request continues that file; of any other body only the start stays in
// memory.
TStream* BodyTarget(TGetRun& Run) {
  if (Run.Http.ResultCode == 206 && Run.ResumeFrom > 0) return ContinueBody(Run);
  if (Run.Http.ResultCode != 200) {
    Run.Answered = true;
    return &Run.OtherBody;
  }
  NoteResumable(Run);
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

// Only a lost connection is tried again: not an answer of the server's,
// nor a response the engine gave up on.
bool MayRetry(const TGetRun& Run) {
  return !Run.Answered && !Run.Http.Aborted && IsConnectionFailure(Run.Http.Sock().LastErrorCode);
}

// The request for the next attempt: the same GET, and when the body file
// of this run already holds part of a resumable 200, for the rest of it,
// if the content is still the same.
void PrepareRetry(TGetRun& Run) {
  Run.Http.ResetRequest();
  ConfigureClient(Run.Http, Run.Param);
  Run.ResumeFrom = 0;
  Run.Answered = false;
  if (!Run.Resumable || !Run.Body.IsOpen()) return;
  const std::int64_t Have = Run.Body.Size();
  if (Have <= 0) return;
  Run.ResumeFrom = Have;
  Run.Http.RangeStart = Have;
  Run.Http.Headers.push_back("If-Range: " + Run.Validator);
}

void FetchAndSave(TGetRun& Run) {
  Run.Http.OnBodyTarget = [&Run]() { return BodyTarget(Run); };
  TRetryBudget Budget(Run.Param.Retries, Run.Param.RetryDelay);
  // A 206 that does not continue the file is the server's answer, as it
  // would be to a plain GET; its body is not taken.
  while (!Run.Http.SendRequest("GET", Run.Param.Target) && !Run.RangeRefused) {
    if (!Run.LocalError.empty() || (Run.Body.IsOpen() && !Run.Body.LastReason().empty())) ReportLocalFailure(Run);
    if (MayRetry(Run) && Budget.RetryAfter(Run.Http.Sock().LastErrorText)) {
      PrepareRetry(Run);
      continue;
    }
    // A body cut short leaves nothing behind but the log line.
    Run.Body.Discard();
    Run.Status = WriteLog("Can not http get " + MaskUrlPassword(Run.Param.Target) + " (" + Run.Http.Sock().LastErrorText + ")", 1);
    return;
  }
  const std::int32_t Code = Run.Http.ResultCode;
  const bool Resumed = Code == 206 && Run.ResumeFrom > 0 && !Run.RangeRefused;
  // 404 and 410 mean nothing to fetch, as a mask that matches nothing does.
  const bool Failed = !Resumed && Code != 200 && Code != 404 && Code != 410;
  const std::string Result = "http GET Result:" + std::to_string(Code) + " " + Run.Http.ResultString;
  if (Failed) Run.Status = WriteLog(Result, 1);
  else WriteLog(Result, 0);
  TStringList SavedHeaders = Resumed ? Run.WholeHeaders : Run.Http.Headers;
  std::string HeaderFile = Run.DestDir + Run.BaseName + "_Header.TXT";
  if (Code != 200 && !Resumed) Run.Body.Discard();  // part of an earlier attempt's body
  if (Code == 200 || Resumed) {
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

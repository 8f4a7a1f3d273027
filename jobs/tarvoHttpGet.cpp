#include "jobs/tarvoHttpGet.h"

#include <exception>
#include <filesystem>
#include <stdexcept>

#include "platform/filewrite.h"
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

int DigitValue(char C, int Base) {
  int Value = Base;
  if (C >= '0' && C <= '9') Value = C - '0';
  if (C >= 'a' && C <= 'f') Value = C - 'a' + 10;
  if (C >= 'A' && C <= 'F') Value = C - 'A' + 10;
  return Value < Base ? Value : -1;
}

// Integer text as the job file reads it: leading blanks, a sign, decimal
// digits or hexadecimal ones after "$", "0x" or "0X"; nothing else.
bool TryParseInt64(const std::string& Text, std::int64_t& Result) {
  std::size_t At = Text.find_first_not_of(' ');
  if (At == std::string::npos) return false;
  const bool Negative = Text[At] == '-';
  if (Text[At] == '-' || Text[At] == '+') ++At;
  int Base = 10;
  if (Text.compare(At, 1, "$") == 0) {
    Base = 16;
    At += 1;
  } else if (Text.compare(At, 2, "0x") == 0 || Text.compare(At, 2, "0X") == 0) {
    Base = 16;
    At += 2;
  }
  if (At >= Text.size()) return false;
  std::uint64_t Value = 0;
  for (; At < Text.size(); ++At) {
    const int Digit = DigitValue(Text[At], Base);
    if (Digit < 0 || Value > (UINT64_C(1) << 62) / static_cast<unsigned>(Base)) return false;
    Value = Value * static_cast<unsigned>(Base) + static_cast<unsigned>(Digit);
  }
  if (Value > static_cast<std::uint64_t>(INT64_MAX)) return false;
  Result = Negative ? -static_cast<std::int64_t>(Value) : static_cast<std::int64_t>(Value);
  return true;
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
  if (!WriteWholeFile(FileName, Text, Reason))
    throw std::runtime_error("Can not write file " + FileName + " (" + Reason + ")");
}

// The state of one run, shared by its steps.
struct TGetRun {
  const TtarvoParam& Param;
  THTTPSend& Http;
  std::string BaseName;
  std::string DestDir;
  std::int32_t Status = 0;
};

// Renames a complete temporary file over the final name in one step, or
// removes an incomplete one so that the previous copy stays.
void PutInPlace(const std::string& TempFile, const std::string& BodyFile, bool Complete) {
  std::string Reason;
  if (!Complete) {
    RemoveFile(TempFile);
    return;
  }
  if (ReplaceFile(TempFile, BodyFile, Reason)) return;
  RemoveFile(TempFile);
  throw std::runtime_error("Can not rename " + TempFile + " to " + BodyFile + " (" + Reason + ")");
}

// Saves the body under a temporary name in the destination directory, gives
// it its time stamp and puts it in place only once it holds as many bytes as
// announced: a short or failed write never replaces a good earlier copy.
// True when BodyFile is in place.
bool SaveBody(TGetRun& Run, const THTTPAttr& Attr, const std::string& BodyFile) {
  const std::string TempFile = BodyFile + ".tmp";
  std::string Reason;
  if (!WriteWholeFile(TempFile, Run.Http.Document.Data(), Reason)) {
    RemoveFile(TempFile);
    throw std::runtime_error("Can not write file " + TempFile + " (" + Reason + ")");
  }
  const bool Complete = CheckLocalFileSize(Attr.ContentLength >= 1, TempFile, Attr.ContentLength);
  try {
    if (Run.Param.TouchDateMode) {
      if (SetLocalFileDate(TempFile, ResponseFileTime(Attr)))
        WriteLog("date changed " + BodyFile, 0);
      else
        Run.Status = WriteLog("Local file time change error.", 2);
    }
  } catch (...) {
    // A date that cannot be decoded ends the job's steps, but a complete
    // body is still kept.
    PutInPlace(TempFile, BodyFile, Complete);
    throw;
  }
  if (!Complete) Run.Status = WriteLog("different file size.", 2);
  PutInPlace(TempFile, BodyFile, Complete);
  return Complete;
}

// Asks the server to delete the verified resource on the same client (and
// connection, when kept). When the DELETE gets a response, its header
// replaces the GET's for the side file.
void DeleteResource(TGetRun& Run, TStringList& SavedHeaders) {
  Run.Http.ResetRequest();
  if (Run.Http.SendRequest("DELETE", Run.Param.Target)) {
    Run.Status = WriteLog("http DELETE Result:" + std::to_string(Run.Http.ResultCode) + " " + Run.Http.ResultString, 2);
    SavedHeaders = Run.Http.Headers;
    return;
  }
  // Silence would let the job pass while the resource is still there.
  Run.Status = WriteLog("Can not http delete " + Run.Param.Target + " (" + Run.Http.Sock().LastErrorText + ")", 1);
}

void FetchAndSave(TGetRun& Run) {
  if (!Run.Http.SendRequest("GET", Run.Param.Target)) {
    Run.Status = WriteLog("Can not http get " + Run.Param.Target + " (" + Run.Http.Sock().LastErrorText + ")", 1);
    return;
  }
  WriteLog("http GET Result:" + std::to_string(Run.Http.ResultCode) + " " + Run.Http.ResultString, 0);
  TStringList SavedHeaders = Run.Http.Headers;
  std::string HeaderFile = Run.BaseName + "_Header.TXT";
  if (Run.Http.ResultCode == 200) {
    const THTTPAttr Attr = ParseResponseHeaders(Run.Http.Headers);
    const std::string BodyFile = Run.DestDir + Run.BaseName + ExtensionForMimeType(Attr);
    HeaderFile = BodyFile + "_Header.TXT";
    if (SaveBody(Run, Attr, BodyFile) && Run.Param.DeleteMode) DeleteResource(Run, SavedHeaders);
  }
  if (Run.Param.HttpSaveHeader) WriteHeaderFile(HeaderFile, SavedHeaders);
}

}  // namespace

THTTPAttr ParseResponseHeaders(const TStringList& Lines) {
  THTTPAttr Attr;
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
    if (Name == "CONTENT-LENGTH:" && !TryParseInt64(Value, Attr.ContentLength))
      throw std::runtime_error("'" + Value + "' is not a valid integer value");
  }
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
  WriteLog("Target: " + Param.Target, 0);
  const std::string DestDir = DestinationDirectory(Param.LocalPath);
  if (!IsDirectory(DestDir)) return WriteLog("Dest Path not found or can not write.", 2);
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

#include "jobs/tarvoHttpPostFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <stdexcept>

#include "platform/filesys.h"
#include "platform/localfile.h"
#include "platform/memory.h"
#include "protocols/httpsend.h"
#include "util/codec.h"
#include "util/textutil.h"

namespace {

const char* const UserAgentText = "Mozilla/4.0 (compatible; tarvo copyright(c) MARDEX7)";

// Never seeded from the clock: every run draws the same boundaries.
std::uint32_t BoundarySeed = 0;

// Boundaries drawn before one that the content does not contain is found; a
// file cannot hold all of them, the bound only keeps the loop finite.
constexpr int BoundaryDraws = 1000;

bool IsAcceptedCode(std::int32_t Code) { return Code == 200 || Code == 201 || Code == 202; }

// Quotes, CR and LF would end the quoted parameter or the part header early.
std::string QuotedParameterValue(const std::string& Text) {
  return ReplaceAll(ReplaceAll(ReplaceAll(Text, "\"", "%22"), "\r", "%0D"), "\n", "%0A");
}

// The directory of LocalPath ("\" is a separator), made absolute against the
// working directory, ending in "/".
std::string UploadDirectory(const std::string& LocalPath) {
  const std::string Path = ReplaceAll(LocalPath, "\\", "/");
  const std::size_t Slash = Path.rfind('/');
  const std::string Dir = Slash == std::string::npos ? std::string() : Path.substr(0, Slash + 1);
  std::string Full = std::filesystem::absolute(Dir.empty() ? std::string("./") : Dir).lexically_normal().string();
  if (Full.empty() || Full.back() != '/') Full += '/';
  return Full;
}

void ConfigureClient(THTTPSend& Http, const TtarvoParam& Param) {
  Http.Protocol = Param.HttpProtocol;
  // With 1.0 the engine defaults stay: no Expect handshake, no
  // "Connection: close" line.
  if (Param.HttpProtocol == "1.1") {
    Http.Status100 = true;
    Http.KeepAlive = Param.HttpKeepAlive;
  }
  Http.UserAgent = UserAgentText;
  Http.Timeout = Param.Timeout;
  Http.UserName = Param.UserName;
  Http.Password = Param.Password;
  Http.Sock().SSLverifyCert = Param.TlsVerify;
  if (Param.TlsVerify) Http.Sock().SSLCertCAFile = Param.TlsCaFile;
  if (Param.ProxyHost.empty()) return;
  Http.ProxyHost = Param.ProxyHost;
  Http.ProxyPort = Param.ProxyPort;
  Http.ProxyUser = Param.ProxyUserName;
  Http.ProxyPass = Param.ProxyPassword;
}

// Room left after the file for the closing delimiter of a multipart body.
constexpr std::size_t TailRoom = 64;

// Appends the whole file to Data, read in one piece when the size is known.
void AppendWholeStream(std::string& Data, TStream& File) {
  const std::int64_t Size = File.Size();
  File.SetPosition(0);
  const std::size_t Start = Data.size();
  if (Size > 0) {
    Data.reserve(Start + static_cast<std::size_t>(Size) + TailRoom);
    // Backing the buffer in one step spares a page fault per page.
    PrepareMemory(Data.data() + Start, static_cast<std::size_t>(Size));
    Data.resize(Start + static_cast<std::size_t>(Size));
    const std::int64_t Got = File.Read(Data.data() + Start, Size);
    Data.resize(Start + static_cast<std::size_t>(Got > 0 ? Got : 0));
  }
  // A file that grew since its size was taken is read to its end.
  char Buffer[65536];
  for (std::int64_t Got = File.Read(Buffer, sizeof(Buffer)); Got > 0; Got = File.Read(Buffer, sizeof(Buffer)))
    Data.append(Buffer, static_cast<std::size_t>(Got));
}

// Rows 1 to 3 of the multipart body; their length does not depend on which
// boundary is drawn.
std::string MultipartHead(const std::string& Boundary, const std::string& FieldName, const std::string& FileName) {
  return "--" + Boundary + "\r\n" + "content-disposition: form-data; name=\"" + QuotedParameterValue(FieldName) +
         "\"; filename=\"" + QuotedParameterValue(FileName) + "\"\r\n" +
         "Content-Type: Application/octet-string\r\n\r\n";
}

std::string MultipartTail(const std::string& Boundary) { return "\r\n--" + Boundary + "--\r\n"; }

// The multipart body of the file in Document, built in place so that the
// file's bytes are held once. The boundary is redrawn while the file
// contains it, so that no part of the file can pass for a delimiter.
std::string FillMultipartDocument(std::string& Data, std::string Boundary, const std::string& FieldName,
                                  const std::string& FileName, TStream& File) {
  Data = MultipartHead(Boundary, FieldName, FileName);
  const std::size_t HeadSize = Data.size();
  AppendWholeStream(Data, File);
  for (int Draw = 1; Draw < BoundaryDraws && Data.find(Boundary, HeadSize) != std::string::npos; ++Draw)
    Boundary = NextMultipartBoundary();
  Data.replace(0, HeadSize, MultipartHead(Boundary, FieldName, FileName));
  Data += MultipartTail(Boundary);
  return Boundary;
}

// The text split at CR LF, CR or LF, as a string list takes a text: no
// empty line for a final line end, and nothing after a zero byte.
TStringList SplitResponseLines(const std::string& Body) {
  TStringList Lines;
  const std::string Text = Body.substr(0, Body.find('\0'));
  std::size_t Start = 0;
  while (Start < Text.size()) {
    const std::size_t End = Text.find_first_of("\r\n", Start);
    if (End == std::string::npos) {
      Lines.push_back(Text.substr(Start));
      break;
    }
    Lines.push_back(Text.substr(Start, End - Start));
    Start = End + (Text.compare(End, 2, "\r\n") == 0 ? 2 : 1);
  }
  return Lines;
}

// After a request that failed before the response, the engine still holds
// the request it built, and a read that timed out leaves an empty line as
// the body of a response without status line: only a status line, or a
// complete response without one, means Document is the server's.
bool ResponseWasRead(const THTTPSend& Http, bool Ok) {
  if (Http.Headers.empty()) return Ok;
  const std::string& First = Http.Headers.front();
  return First.size() >= 5 && (First.compare(0, 5, "HTTP/") == 0 || First.compare(0, 5, "http/") == 0);
}

void WriteResponseFile(const std::string& FileName, const TStringList& Lines) {
  std::string Text;
  for (const std::string& Line : Lines) Text += Line + "\r\n";
  std::string Reason;
  if (!WriteLocalFile(FileName, Text, Reason))
    throw std::runtime_error("Can not write file " + FileName + " (" + Reason + ")");
}

// What follows an upload: the log line, the local delete and the response
// file. Returns the status of the last error line, or Status unchanged.
std::int32_t FinishFile(const TtarvoParam& Param, const std::string& Path, const std::string& Name, bool Ok,
                        const TStringList& Lines, std::int32_t Status) {
  try {
    if (Ok) {
      WriteLog("http send End " + Path, 0);
      if (Param.DeleteMode) {
        if (DeleteLocalFile(Path))
          WriteLog("Deleted " + Path, 0);
        else
          Status = WriteLog("Can not delete local file. " + Path, 2);
      }
    } else {
      Status = WriteLog("Can not http send " + Name, 1);
    }
    if (Param.HttpSaveHeader) WriteResponseFile(Path + "_Header.TXT", Lines);
  } catch (const std::exception& Error) {
    Status = WriteLog(Error.what(), 2);
  }
  return Status;
}

}  // namespace

std::string NextMultipartBoundary() {
  BoundarySeed = BoundarySeed * 134775813u + 1u;
  const std::uint32_t Number = static_cast<std::uint32_t>((static_cast<std::uint64_t>(BoundarySeed) * 0x7FFFFFFFu) >> 32);
  char Digits[9];
  std::snprintf(Digits, sizeof(Digits), "%08X", Number);
  return std::string(Digits) + "_tarvo_boundary";
}

std::string BuildMultipartBody(const std::string& Boundary, const std::string& FieldName,
                               const std::string& FileName, const std::string& Content) {
  return MultipartHead(Boundary, FieldName, FileName) + Content + MultipartTail(Boundary);
}

std::string PutUrlFor(const std::string& Target, const std::string& Name) {
  const std::string Base = !Target.empty() && Target.back() == '/' ? Target : Target + "/";
  // Encoding is byte by byte, so encoding the two parts apart equals
  // encoding the whole; only the name gets "?" and "#" escaped as well.
  const std::string EncodedName = ReplaceAll(ReplaceAll(PercentEncodeUrl(Name), "?", "%3F"), "#", "%23");
  return PercentEncodeUrl(Base) + EncodedName;
}

bool UploadOneFile(const std::string& Target, const std::string& FieldName, const std::string& Path,
                   const TtarvoParam& Param, TStringList& Lines, TStream& File) {
  const std::string FirstBoundary = NextMultipartBoundary();
  THTTPSend Http;
  ConfigureClient(Http, Param);
  bool Ok = false;
  if (Param.Mode == JobMode::HttpPostFile) {
    const std::string Boundary = FillMultipartDocument(Http.Document.Data(), FirstBoundary, FieldName, Path, File);
    Http.MimeType = "multipart/form-data; boundary=" + Boundary;
    Ok = Http.SendRequest("POST", Target);
  } else {
    AppendWholeStream(Http.Document.Data(), File);
    Http.MimeType = "Application/octet-stream";
    Ok = Http.SendRequest("PUT", PutUrlFor(Target, std::filesystem::path(Path).filename().string()));
  }
  Lines.clear();
  if (ResponseWasRead(Http, Ok)) Lines = SplitResponseLines(Http.Document.Data());
  if (Ok && IsAcceptedCode(Http.ResultCode)) return true;
  // Without a response the engine's code is a stand-in; the socket knows why.
  const std::string& SocketError = Http.Sock().LastErrorText;
  if (!Ok && !SocketError.empty()) WriteLog(SocketError, 1);
  else WriteLog("HTTP " + std::to_string(Http.ResultCode) + " " + Http.ResultString, 1);
  return false;
}

std::int32_t RunHttpUploadJob(const TtarvoParam& Param) {
  std::vector<std::string> Names;
  const std::string Dir = UploadDirectory(Param.LocalPath);
  if (ListUploadFiles(Param.LocalPath, Names) == 0) {
    if (!IsDirectory(Dir)) return WriteLog("Local path not found. " + Dir, 2);
    return WriteLog("no file " + Param.LocalPath, 0);
  }
  std::int32_t Status = 0;
  for (const std::string& Name : Names) {
    const std::string Path = Dir + Name;
    TStringList Lines;
    bool Ok = false;
    {
      TFileStream File;
      if (!File.Open(Path, TFileMode::OpenRead))
        throw std::runtime_error("Can not open file " + Path + " (" + std::strerror(errno) + ")");
      Ok = UploadOneFile(Param.Target, Param.HTTPFieldName, Path, Param, Lines, File);
    }
    Status = FinishFile(Param, Path, Name, Ok, Lines, Status);
  }
  return Status;
}

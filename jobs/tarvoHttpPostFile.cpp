#include "jobs/tarvoHttpPostFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string_view>
#include <unordered_map>
#include <vector>

#if defined(__x86_64__) || defined(__SSE2__)
#include <immintrin.h>
#endif

#include "jobs/tarvoRetry.h"
#include "platform/filesys.h"
#include "platform/localfile.h"
#include "platform/memory.h"
#include "protocols/httpsend.h"
#include "util/codec.h"
#include "util/pagebuffer.h"
#include "util/textutil.h"

namespace {

const char* const UserAgentText = "Mozilla/4.0 (compatible; tarvo copyright(c) MARDEX7)";

// Never seeded from the clock: every run draws the same boundaries.
std::uint32_t BoundarySeed = 0;

// The boundary that follows Seed in the sequence; Seed moves on.
std::string BoundaryAfter(std::uint32_t& Seed) {
  Seed = Seed * 134775813u + 1u;
  const std::uint32_t Number = static_cast<std::uint32_t>((static_cast<std::uint64_t>(Seed) * 0x7FFFFFFFu) >> 32);
  char Digits[9];
  std::snprintf(Digits, sizeof(Digits), "%08X", Number);
  return std::string(Digits) + "_tarvo_boundary";
}

// Every boundary ends so; the eight digits before it tell which one it is.
constexpr std::string_view BoundaryMark = "_tarvo_boundary";
constexpr std::size_t BoundaryDigits = 8;
// The file is read in pieces of this size to look for boundaries: small
// enough to stay in the processor's cache between the copy and the search,
// which makes the pass several times cheaper than with megabyte pieces.
constexpr std::int64_t ScanPiece = 64 * 1024;

// Boundaries drawn before one that the content does not contain is found; a
// file cannot hold all of them, the bound only keeps the loop finite.
constexpr std::size_t BoundaryDraws = 1000;

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
  std::string Full = AbsolutePath(Dir.empty() ? std::string("./") : Dir);
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

// Rows 1 to 3 of the multipart body; their length does not depend on which
// boundary is drawn.
std::string MultipartHead(const std::string& Boundary, const std::string& FieldName, const std::string& FileName) {
  return "--" + Boundary + "\r\n" + "content-disposition: form-data; name=\"" + QuotedParameterValue(FieldName) +
         "\"; filename=\"" + QuotedParameterValue(FileName) + "\"\r\n" +
         "Content-Type: Application/octet-string\r\n\r\n";
}

std::string MultipartTail(const std::string& Boundary) { return "\r\n--" + Boundary + "--\r\n"; }

// Where the first and last bytes of BoundaryMark stand at the right
// distance, sixteen or thirty-two places are looked at in one step; Place
// hears of each, and the other bytes are compared only there. The searches
// return how far they got; the rest is left to the next.
using TPlaceCheck = std::function<void(std::size_t)>;

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define TARVO_WIDE_SCAN 1
// Where in the 32 places from Data the first and last bytes of the mark stand.
__attribute__((target("avx2"))) inline __m256i WidePairs(const char* Data, __m256i Firsts, __m256i Lasts) {
  const __m256i Heads = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(Data));
  const __m256i Ends = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(Data + BoundaryMark.size() - 1));
  return _mm256_and_si256(_mm256_cmpeq_epi8(Heads, Firsts), _mm256_cmpeq_epi8(Ends, Lasts));
}

__attribute__((target("avx2"))) std::size_t WidePlaces(const char* Data, std::size_t Size, const TPlaceCheck& Place) {
  const std::size_t Length = BoundaryMark.size();
  const __m256i Firsts = _mm256_set1_epi8(BoundaryMark.front());
  const __m256i Lasts = _mm256_set1_epi8(BoundaryMark.back());
  std::size_t At = 0;
  // Four steps at once, looked into only when one of them has a place: in
  // most data none has, and one test serves 128 bytes.
  for (; At + 128 + Length - 1 <= Size; At += 128) {
    const __m256i Steps[4] = {WidePairs(Data + At, Firsts, Lasts), WidePairs(Data + At + 32, Firsts, Lasts),
                              WidePairs(Data + At + 64, Firsts, Lasts), WidePairs(Data + At + 96, Firsts, Lasts)};
    const __m256i Any = _mm256_or_si256(_mm256_or_si256(Steps[0], Steps[1]), _mm256_or_si256(Steps[2], Steps[3]));
    if (_mm256_testz_si256(Any, Any)) continue;
    for (std::size_t Step = 0; Step < 4; ++Step)
      for (auto Mask = static_cast<unsigned>(_mm256_movemask_epi8(Steps[Step])); Mask != 0; Mask &= Mask - 1)
        Place(At + Step * 32 + static_cast<std::size_t>(__builtin_ctz(Mask)));
  }
  // The last bytes, fewer than 128 plus the mark, are left to NarrowPlaces.
  return At;
}
#endif

std::size_t NarrowPlaces(const char* Data, std::size_t Size, const TPlaceCheck& Place) {
  const std::size_t Length = BoundaryMark.size();
  std::size_t At = 0;
#if defined(__SSE2__)
  const __m128i Firsts = _mm_set1_epi8(BoundaryMark.front());
  const __m128i Lasts = _mm_set1_epi8(BoundaryMark.back());
  for (; At + 16 + Length - 1 <= Size; At += 16) {
    const __m128i Heads = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Data + At));
    const __m128i Ends = _mm_loadu_si128(reinterpret_cast<const __m128i*>(Data + At + Length - 1));
    auto Mask = static_cast<unsigned>(
        _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(Heads, Firsts), _mm_cmpeq_epi8(Ends, Lasts))));
    for (; Mask != 0; Mask &= Mask - 1) Place(At + static_cast<std::size_t>(__builtin_ctz(Mask)));
  }
#endif
  for (; At + Length <= Size; ++At) {
    const void* Next = std::memchr(Data + At, BoundaryMark.front(), Size - Length + 1 - At);
    if (Next == nullptr) break;
    At = static_cast<std::size_t>(static_cast<const char*>(Next) - Data);
    if (Data[At + Length - 1] == BoundaryMark.back()) Place(At);
  }
  return Size;
}

// Calls Hit with the offset of every BoundaryMark wholly inside Data, fast
// enough that the scan costs far less than sending the file.
void ForEachMark(const char* Data, std::size_t Size, const TPlaceCheck& Hit) {
  const std::size_t Length = BoundaryMark.size();
  if (Size < Length) return;
  const TPlaceCheck Place = [&](std::size_t At) {
    if (std::memcmp(Data + At + 1, BoundaryMark.data() + 1, Length - 2) == 0) Hit(At);
  };
  std::size_t Done = 0;
#if defined(TARVO_WIDE_SCAN)
  static const bool Wide = __builtin_cpu_supports("avx2") != 0;
  if (Wide) Done = WidePlaces(Data, Size, Place);
#endif
  NarrowPlaces(Data + Done, Size - Done, [&](std::size_t At) { Place(Done + At); });
}

// Which of Candidates occur in the first Size bytes of File, in one pass;
// every boundary ends in
// BoundaryMark, so one search for it serves all candidates, the digits
// before a hit telling which one it is. The last bytes of each piece are
// kept in front of the next, so a boundary across a piece edge is seen too.
std::vector<bool> BoundariesInFile(const std::vector<std::string>& Candidates, TStream& File, std::int64_t Size) {
  std::unordered_map<std::string, std::size_t> Index;
  for (std::size_t I = Candidates.size(); I-- > 0;) Index[Candidates[I].substr(0, BoundaryDigits)] = I;
  std::vector<bool> Found(Candidates.size(), false);
  constexpr std::size_t Keep = BoundaryDigits + BoundaryMark.size() - 1;
  // The file is read to a cache-line boundary (Room, more than Keep), the
  // bytes kept from the piece before stand just in front of it.
  constexpr std::size_t Room = 64;
  static_assert(Keep <= Room);
  TPageBuffer Buffer(Room + static_cast<std::size_t>(ScanPiece));
  std::size_t Carried = 0;
  File.SetPosition(0);
  for (std::int64_t Left = Size; Left > 0;) {
    const std::int64_t Got = File.Read(Buffer.Data() + Room, std::min(Left, ScanPiece));
    if (Got <= 0) break;
    Left -= Got;
    const char* const Start = Buffer.Data() + Room - Carried;
    const std::size_t Filled = Carried + static_cast<std::size_t>(Got);
    ForEachMark(Start, Filled, [&](std::size_t At) {
      if (At < BoundaryDigits) return;
      const auto Entry = Index.find(std::string(Start + At - BoundaryDigits, BoundaryDigits));
      if (Entry != Index.end()) Found[Entry->second] = true;
    });
    Carried = std::min(Keep, Filled);
    std::memmove(Buffer.Data() + Room - Carried, Start + Filled - Carried, Carried);
  }
  File.SetPosition(0);
  return Found;
}

// The boundary for a file: First, or while the file contains the one in
// hand, the next of the sequence, so that no part of the file can pass for a
// delimiter. One pass over the file decides for all candidates at once.
std::string ChooseBoundary(const std::string& First, TStream& File, std::int64_t Size) {
  std::vector<std::string> Candidates{First};
  std::uint32_t Seed = BoundarySeed;
  while (Candidates.size() < BoundaryDraws) Candidates.push_back(BoundaryAfter(Seed));
  const std::vector<bool> Found = BoundariesInFile(Candidates, File, Size);
  std::size_t Chosen = 0;
  while (Chosen + 1 < Candidates.size() && Found[Chosen]) ++Chosen;
  for (std::size_t Draw = 0; Draw < Chosen; ++Draw) NextMultipartBoundary();
  return Candidates[Chosen];
}

// The multipart body as one stream: the part header, Size bytes of the
// file, the closing delimiter. When the file ends early the stream ends
// there too, so the request fails instead of sending a short part.
// With Watched set, each piece of the file is searched for that boundary as
// it passes (no second pass over the file before sending): where it occurs
// the stream ends before the piece, so the request is cut short and no
// delimiter from the file reaches the server, and Collided() says why.
class TMultipartStream : public TStream {
 public:
  TMultipartStream(std::string Head, TStream& File, std::int64_t FileSize, std::string Tail, std::string Watched = "")
      : Head_(std::move(Head)), Tail_(std::move(Tail)), Watched_(std::move(Watched)), File_(File), FileSize_(FileSize) {}

  bool Collided() const { return Collided_; }

  std::int64_t Read(void* Buffer, std::int64_t Count) override {
    auto* Out = static_cast<char*>(Buffer);
    std::int64_t Done = 0;
    while (Done < Count) {
      const std::int64_t Step = ReadPart(Out + Done, Count - Done);
      if (Step <= 0) break;
      Done += Step;
      Position_ += Step;
    }
    return Done;
  }
  std::int64_t Write(const void*, std::int64_t) override { return 0; }
  std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override {
    const std::int64_t Base = Origin == TSeekOrigin::Begin ? 0 : Origin == TSeekOrigin::Current ? Position_ : Size();
    if (Base + Offset < 0 || Base + Offset > Size()) return -1;
    Position_ = Base + Offset;
    Carried_.clear();
    Collided_ = false;
    const std::int64_t HeadSize = static_cast<std::int64_t>(Head_.size());
    File_.SetPosition(std::clamp<std::int64_t>(Position_ - HeadSize, 0, FileSize_));
    return Position_;
  }
  std::int64_t Size() override { return static_cast<std::int64_t>(Head_.size() + Tail_.size()) + FileSize_; }
  bool SetSize(std::int64_t) override { return false; }

 private:
  std::int64_t ReadPart(char* Out, std::int64_t Count) {
    const std::int64_t HeadSize = static_cast<std::int64_t>(Head_.size());
    if (Position_ < HeadSize) return CopyText(Head_, Position_, Out, Count);
    if (Position_ < HeadSize + FileSize_) {
      if (Collided_) return 0;
      const std::int64_t Got = File_.Read(Out, std::min(Count, HeadSize + FileSize_ - Position_));
      if (Got > 0 && !Watched_.empty() && Holds(Out, static_cast<std::size_t>(Got))) {
        Collided_ = true;
        return 0;
      }
      return Got;
    }
    return CopyText(Tail_, Position_ - HeadSize - FileSize_, Out, Count);
  }
  static std::int64_t CopyText(const std::string& Text, std::int64_t From, char* Out, std::int64_t Count) {
    const std::int64_t Length = std::min(Count, static_cast<std::int64_t>(Text.size()) - From);
    if (Length <= 0) return 0;
    std::memcpy(Out, Text.data() + From, static_cast<std::size_t>(Length));
    return Length;
  }

  // Whether Watched_ occurs in Data or across the edge from the bytes
  // before it; the last bytes of Data are kept for the next edge.
  bool Holds(const char* Data, std::size_t Size) {
    bool Found = false;
    const auto Check = [&](const char* Base, std::size_t At) {
      Found = Found || (At >= BoundaryDigits && std::memcmp(Base + At - BoundaryDigits, Watched_.data(), BoundaryDigits) == 0);
    };
    const std::size_t Keep = Watched_.size() - 1;
    std::string Edge = Carried_ + std::string(Data, std::min(Size, Keep));
    ForEachMark(Edge.data(), Edge.size(), [&](std::size_t At) { Check(Edge.data(), At); });
    ForEachMark(Data, Size, [&](std::size_t At) { Check(Data, At); });
    if (Size >= Keep)
      Carried_.assign(Data + Size - Keep, Keep);
    else
      Carried_ = Edge.substr(Edge.size() - std::min(Edge.size(), Keep));
    return Found;
  }

  std::string Head_;
  std::string Tail_;
  std::string Watched_;
  std::string Carried_;
  bool Collided_ = false;
  TStream& File_;
  std::int64_t FileSize_;
  std::int64_t Position_ = 0;
};

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

std::string NextMultipartBoundary() { return BoundaryAfter(BoundarySeed); }

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

bool UploadOneFile(THTTPSend& Http, const std::string& Target, const std::string& FieldName,
                   const std::string& Path, const TtarvoParam& Param, TStringList& Lines, TStream& File,
                   TRetryBudget* Budget) {
  const std::string FirstBoundary = NextMultipartBoundary();
  // The size is taken once: it is announced up front, and a file that grows
  // meanwhile is sent as it was.
  const std::int64_t FileSize = std::max<std::int64_t>(File.Size(), 0);
  const bool Multipart = Param.Mode == JobMode::HttpPostFile;
  std::string Boundary = FirstBoundary;
  auto Parts = std::make_unique<TMultipartStream>(MultipartHead(Boundary, FieldName, Path), File, FileSize,
                                                  MultipartTail(Boundary), Boundary);
  for (;;) {
    // Each file, and each attempt at it, starts as a fresh client would;
    // only a kept connection stays.
    Http.ResetRequest();
    Http.Cookies.clear();
    ConfigureClient(Http, Param);
    bool Ok = false;
    if (Multipart) {
      Parts->SetPosition(0);
      Http.BodySource = Parts.get();
      Http.BodySourceSize = Parts->Size();
      Http.MimeType = "multipart/form-data; boundary=" + Boundary;
      Ok = Http.SendRequest("POST", Target);
      if (Parts->Collided()) {
        // The file holds the boundary: that request was cut short before
        // it, and goes again with the first of the sequence the file lacks
        // (one pass over the file for all candidates; not watched again,
        // since the last candidate is used even if the file holds it).
        Http.BodySource = nullptr;
        Boundary = ChooseBoundary(FirstBoundary, File, FileSize);
        Parts = std::make_unique<TMultipartStream>(MultipartHead(Boundary, FieldName, Path), File, FileSize,
                                                   MultipartTail(Boundary));
        continue;
      }
    } else {
      File.SetPosition(0);
      Http.BodySource = &File;
      Http.BodySourceSize = FileSize;
      Http.MimeType = "Application/octet-stream";
      Ok = Http.SendRequest("PUT", PutUrlFor(Target, Path.substr(Path.rfind('/') + 1)));
    }
    Http.BodySource = nullptr;
    Http.BodySourceSize = 0;
    Lines.clear();
    const bool Answered = ResponseWasRead(Http, Ok);
    if (Answered) Lines = SplitResponseLines(Http.Document.Data());
    if (Ok && IsAcceptedCode(Http.ResultCode)) return true;
    // Without a response the engine's code is a stand-in; the socket knows why.
    const std::string& SocketError = Http.Sock().LastErrorText;
    // A lost connection before any answer sends the whole file again.
    const bool Lost = !Ok && !Answered && !Http.Aborted && IsConnectionFailure(Http.Sock().LastErrorCode);
    if (Lost && Budget != nullptr && Budget->RetryAfter(SocketError)) continue;
    if (!Ok && !SocketError.empty()) WriteLog(SocketError, 1);
    else WriteLog("HTTP " + std::to_string(Http.ResultCode) + " " + Http.ResultString, 1);
    return false;
  }
}

std::int32_t RunHttpUploadJob(const TtarvoParam& Param) {
  std::vector<std::string> Names;
  const std::string Dir = UploadDirectory(Param.LocalPath);
  if (ListUploadFiles(Param.LocalPath, Names) == 0) {
    if (!IsDirectory(Dir)) return WriteLog("Local path not found. " + Dir, 2);
    return WriteLog("no file " + Param.LocalPath, 0);
  }
  std::int32_t Status = 0;
  // One client for the job, so that with keep-alive one connection carries
  // every file.
  THTTPSend Http;
  TRetryBudget Budget(Param.Retries, Param.RetryDelay);
  for (const std::string& Name : Names) {
    const std::string Path = Dir + Name;
    TStringList Lines;
    bool Ok = false;
    {
      TFileStream File;
      if (!File.Open(Path, TFileMode::OpenRead))
        throw std::runtime_error("Can not open file " + Path + " (" + std::strerror(errno) + ")");
      Ok = UploadOneFile(Http, Param.Target, Param.HTTPFieldName, Path, Param, Lines, File, &Budget);
    }
    Status = FinishFile(Param, Path, Name, Ok, Lines, Status);
  }
  return Status;
}

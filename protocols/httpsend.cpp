#include "protocols/httpsend.h"

#include <algorithm>
#include <cstring>
#include <cctype>
#include <limits>
#include <new>
#include <stdexcept>
#include <vector>

#include "platform/memory.h"
#include "util/codec.h"
#include "util/textutil.h"

namespace {

// Windows Sockets numbers the engine judges or records itself.
constexpr std::int32_t kTimedOut = 10060;
constexpr std::int32_t kNoBufferSpace = 10055;
constexpr std::int32_t kConnectionReset = 10054;
// A body is received in pieces of this size, so an announced length that
// never arrives costs at most one piece of memory beyond what did.
constexpr std::int64_t kBodyPiece = 16 * 1024 * 1024;
constexpr std::int64_t kBodyStep = 256 * 1024;
constexpr std::int64_t kTrustAfter = 64 * 1024 * 1024;

std::string UpperCase(std::string Text) {
  std::transform(Text.begin(), Text.end(), Text.begin(),
                 [](unsigned char C) { return static_cast<char>(std::toupper(C)); });
  return Text;
}

bool StartsWithNoCase(const std::string& Text, const std::string& UpperPrefix) {
  return Text.size() >= UpperPrefix.size() && UpperCase(Text.substr(0, UpperPrefix.size())) == UpperPrefix;
}

// The text after a header line's colon, trimmed.
std::string HeaderValue(const std::string& Line) {
  const std::size_t Colon = Line.find(':');
  return Colon == std::string::npos ? std::string() : TrimControls(Line.substr(Colon + 1));
}

// A non-negative decimal number of at most 63 bits; -1 otherwise.
std::int64_t DecimalOrMinusOne(const std::string& Text) {
  if (Text.empty()) return -1;
  std::int64_t Value = 0;
  for (const char C : Text) {
    if (C < '0' || C > '9') return -1;
    const int Digit = C - '0';
    if (Value > (std::numeric_limits<std::int64_t>::max() - Digit) / 10) return -1;
    Value = Value * 10 + Digit;
  }
  return Value;
}

// A hexadecimal number of at most 63 bits; 0 otherwise (which ends a
// chunked body like its last chunk).
std::int64_t HexOrZero(const std::string& Text) {
  if (Text.empty()) return 0;
  std::int64_t Value = 0;
  for (const char C : Text) {
    const int Digit = std::isxdigit(static_cast<unsigned char>(C))
                          ? (std::isdigit(static_cast<unsigned char>(C)) ? C - '0' : (std::toupper(C) - 'A' + 10))
                          : -1;
    if (Digit < 0) return 0;
    if (Value > (std::numeric_limits<std::int64_t>::max() >> 4)) return 0;
    Value = (Value << 4) | Digit;
  }
  return Value;
}

bool ConnectionTokenIsClose(const std::string& Value) {
  std::string Rest = Value;
  while (!Rest.empty()) {
    if (UpperCase(TrimControls(CutTokenRaw(Rest, ","))) == "CLOSE") return true;
  }
  return false;
}

bool IsInterimCode(std::int32_t Code) { return Code >= 100 && Code <= 199 && Code != 101; }

}  // namespace

THTTPSend::THTTPSend() {
  Timeout = 90000;
  TargetPort = "80";
  Sock_.ConvertLineEnd = true;
  // Status, header and chunk-size lines: a server sending one endless line
  // gets 10055 instead of our memory.
  Sock_.MaxLineLength = MaxHeaderLineLength;
  Sock_.SetReceiveBufferSize(65535);
  Sock_.SetSendBufferSize(65535);
  ResetRequest();
}

THTTPSend::~THTTPSend() = default;

void THTTPSend::ResetRequest() {
  RangeStart = 0;
  RangeEnd = 0;
  Document.Clear();
  Document.Data().shrink_to_fit();
  Headers.clear();
  MimeType = "text/html";
}

// ---------------------------------------------------------------- request

bool THTTPSend::ChooseRoute(bool Https) {
  const bool Tunnel = Https && !ProxyHost.empty();
  Sock_.HTTPTunnelIP = Tunnel ? ProxyHost : std::string();
  Sock_.HTTPTunnelPort = Tunnel ? ProxyPort : std::string();
  Sock_.HTTPTunnelUser = Tunnel ? ProxyUser : std::string();
  Sock_.HTTPTunnelPass = Tunnel ? ProxyPass : std::string();
  return !ProxyHost.empty() && !Tunnel;
}

void THTTPSend::BuildRequestHead(const std::string& Method, const TUrlParts& Url, bool PlainProxy, bool HasBody,
                                 bool UseExpect) {
  const std::string Host = IsIPv6Literal(Url.Host) ? "[" + Url.Host + "]" : Url.Host;
  std::string RequestUri = PlainProxy ? Url.Prot + "://" + Host + ":" + Url.Port + Url.Uri : Url.Uri;
  if (RequestUri == "/*") RequestUri = "*";

  TStringList Head;
  Head.push_back(Protocol == "0.9" ? Method + " " + RequestUri : Method + " " + RequestUri + " HTTP/" + Protocol);
  Head.push_back(Url.Port == "80" ? "Host: " + Host : "Host: " + Host + ":" + Url.Port);
  if (PlainProxy && !ProxyUser.empty())
    Head.push_back("Proxy-Authorization: Basic " + Base64Encode(ProxyUser + ":" + ProxyPass));
  if (!Url.User.empty()) Head.push_back("Authorization: Basic " + Base64Encode(Url.User + ":" + Url.Pass));
  if (!KeepAlive) Head.push_back("Connection: close");
  if (!Cookies.empty()) {
    std::string Joined;
    for (const std::string& Cookie : Cookies) Joined += (Joined.empty() ? "" : "; ") + Cookie;
    Head.push_back("Cookie: " + Joined);
  }
  if (RangeStart > 0) {
    const std::string Last = RangeEnd >= RangeStart ? std::to_string(RangeEnd) : std::string();
    Head.push_back("Range: bytes=" + std::to_string(RangeStart) + "-" + Last);
  }
  if (!UserAgent.empty()) Head.push_back("User-Agent: " + UserAgent);
  if (HasBody && !MimeType.empty()) Head.push_back("Content-Type: " + MimeType);
  Head.push_back("Content-Length: " + std::to_string(Document.Size()));
  if (UseExpect) Head.push_back("Expect: 100-continue");

  Headers.insert(Headers.begin(), Head.begin(), Head.end());
  if (!Headers.back().empty()) Headers.push_back("");
}

// ------------------------------------------------------------- connection

bool THTTPSend::OpenConnection(bool Https) {
  // Sends and TLS handshakes wait no longer than reads do.
  Sock_.SendTimeout = Timeout;
  Sock_.TlsTimeout = Timeout;
  Sock_.ConnectTimeout = Timeout;
  Sock_.CloseSocket();
  Sock_.Bind(IPInterface, "0");
  if (Sock_.LastErrorCode != 0) return FailAndClose();
  Sock_.SetTlsEnabled(Https);
  if (Sock_.LastErrorCode != 0) return FailAndClose();
  Sock_.Connect(TargetHost, TargetPort);
  if (Sock_.LastErrorCode != 0) return FailAndClose();
  AliveHost = TargetHost;
  AlivePort = TargetPort;
  return true;
}

bool THTTPSend::PrepareConnection(bool Https, bool& Reused) {
  Reused = false;
  // The same host and port under the other scheme is another connection.
  if (AliveHost != TargetHost || AlivePort != TargetPort || Sock_.TlsEnabled != Https) return OpenConnection(Https);
  // A kept connection that has something to read was closed by the server
  // or carries bytes nobody asked for (maybe already buffered): start afresh.
  if (!Sock_.PendingInput.empty() || Sock_.WaitReadable(0)) return OpenConnection(Https);
  Reused = true;
  return true;
}

bool THTTPSend::FailAndClose() {
  const std::int32_t Code = Sock_.LastErrorCode;
  const std::string Text = Sock_.LastErrorText;
  Sock_.CloseSocket();
  Sock_.LastErrorCode = Code;
  Sock_.LastErrorText = Text;
  AliveHost.clear();
  AlivePort.clear();
  return false;
}

// ---------------------------------------------------------------- exchange

// What one exchange on the wire carries from step to step.
struct THTTPSend::TExchange {
  bool HasBody = false;
  bool UseExpect = false;
  bool Reused = false;         // the connection was kept from an earlier request
  bool Retried = false;
  bool Stashed = false;        // RequestHead and RequestBody hold the request
  bool SendBody = false;
  bool BodySuppressed = false; // a final answer (or silence) came instead of 100
  std::string KeptStatusLine;  // that final answer's status line
  TStringList RequestHead;     // the request, kept for one retry
  std::string RequestBody;
};

bool THTTPSend::SendRequest(const std::string& Method, const std::string& Url) {
  ResultCode = 500;
  ResultString.clear();
  DownloadSize = 0;
  UploadSize = 0;
  TUrlParts Parts = SplitUrl(Url);
  if (Parts.User.empty()) {
    Parts.User = UserName;
    Parts.Pass = Password;
  }
  const bool Https = UpperCase(Parts.Prot) == "HTTPS";
  const bool PlainProxy = ChooseRoute(Https);
  const std::string Verb = UpperCase(Method);
  TExchange X;
  X.HasBody = Document.Size() > 0;
  X.UseExpect = Status100 && X.HasBody && Protocol == "1.1";
  BuildRequestHead(Verb, Parts, PlainProxy, X.HasBody, X.UseExpect);
  TargetHost = PlainProxy ? ProxyHost : Parts.Host;
  TargetPort = PlainProxy ? ProxyPort : Parts.Port;

  if (!PrepareConnection(Https, X.Reused)) return false;
  TAttempt Attempt = Exchange(X);
  if (Attempt == TAttempt::Retry) {
    // The kept connection died before any answer (the server's keep-alive
    // ran out just as the request went): send it once more on a fresh one.
    X.Retried = true;
    X.Reused = false;
    if (X.Stashed) {
      Headers = std::move(X.RequestHead);
      Document.Data() = std::move(X.RequestBody);
      X.Stashed = false;
    }
    ResultCode = 500;
    ResultString.clear();
    UploadSize = 0;
    if (!OpenConnection(Https)) return false;
    Attempt = Exchange(X);
  }
  if (Attempt != TAttempt::Done) return false;
  return ReadResponse(Verb, X);
}

THTTPSend::TAttempt THTTPSend::Exchange(TExchange& X) {
  HeadLines_ = 0;
  HeadBytes_ = 0;
  ResponseSeen_ = false;
  X.SendBody = X.HasBody;
  X.BodySuppressed = false;
  X.KeptStatusLine.clear();
  if (!SendHead()) return Failed(X);
  if (X.UseExpect && !AwaitContinue(X)) return Failed(X);
  if (X.SendBody) {
    UploadSize = Document.Size();
    Sock_.SendBuffer(Document.Data().data(), Document.Size());
    if (Sock_.LastErrorCode != 0) return Failed(X);
  }
  // The request is kept aside (moved, not copied) in case the status line
  // shows the connection was already dead.
  X.RequestHead = std::move(Headers);
  X.RequestBody = std::move(Document.Data());
  X.Stashed = true;
  ResetRequest();
  BodyMode = TBodyMode::UntilClose;
  if (!ReadStatusLine(X)) return Failed(X);
  X.RequestHead.clear();
  X.RequestBody.clear();
  X.RequestBody.shrink_to_fit();
  X.Stashed = false;
  return TAttempt::Done;
}

THTTPSend::TAttempt THTTPSend::Failed(const TExchange& X) {
  const bool Retry = X.Reused && !X.Retried && !ResponseSeen_ && Sock_.LastErrorCode != kTimedOut;
  if (Retry) return TAttempt::Retry;
  FailAndClose();
  return TAttempt::Failed;
}

bool THTTPSend::SendHead() {
  std::string Block;
  if (Protocol == "0.9") {
    Block = Headers.front() + "\r\n";
  } else {
    for (const std::string& Line : Headers) Block += Line + "\r\n";
  }
  Sock_.SendText(Block);
  return Sock_.LastErrorCode == 0;
}

// False only when the connection was lost; silence within Timeout and a
// final answer both suppress the body and let the status line be read.
bool THTTPSend::AwaitContinue(TExchange& X) {
  std::string Line;
  if (!ReceiveNonEmptyHeadLine(Line)) {
    X.SendBody = false;
    X.BodySuppressed = true;
    return Sock_.LastErrorCode == kTimedOut;
  }
  DecodeStatusLine(Line);
  if (ResultCode >= 100 && ResultCode <= 199) return SkipHeadLines();
  X.SendBody = false;
  X.BodySuppressed = true;
  X.KeptStatusLine = Line;
  return true;
}

// ---------------------------------------------------------------- response

bool THTTPSend::ReadStatusLine(TExchange& X) {
  std::string Line = X.KeptStatusLine;
  for (;;) {
    if (Line.empty()) {
      // Nothing at all in answer is a failure, not an empty response.
      if (!ReceiveNonEmptyHeadLine(Line)) return false;
      if (!StartsWithNoCase(Line, "HTTP/")) {
        ResultCode = 0;
        WriteTextToStream(Document, Line + "\r\n");
        return true;
      }
      DecodeStatusLine(Line);
    }
    Headers.push_back(Line);
    if (!IsInterimCode(ResultCode)) return true;
    // An interim answer (a late or unasked 100, 102, 103): its header is
    // dropped and the final answer follows on the same connection.
    if (!SkipHeadLines()) return false;
    Headers.clear();
    Line.clear();
  }
}

bool THTTPSend::ReadResponse(const std::string& Verb, const TExchange& X) {
  std::int64_t Size = -1;
  bool ToClose = Protocol != "1.1" || X.BodySuppressed;
  bool Outcome = Headers.empty() || ReadHeaderLines(Size, ToClose);
  bool Clean = true;
  if (Outcome && Verb != "HEAD" && ResultCode != 204 && ResultCode != 304) {
    if (BodyMode == TBodyMode::ByLength) Outcome = ReadBodyByLength(Size);
    if (BodyMode == TBodyMode::Chunked) Outcome = ReadChunkedBody(Clean);
    if (BodyMode == TBodyMode::UntilClose) {
      Outcome = ReadBodyUntilClose();
      ToClose = true;
    }
  }
  Document.SetPosition(0);
  if (!Outcome) {
    FailAndClose();
  } else if (ToClose || !Clean) {
    Sock_.CloseSocket();
    AliveHost.clear();
    AlivePort.clear();
  }
  CaptureCookies();
  return Outcome;
}

bool THTTPSend::ReadHeaderLines(std::int64_t& Size, bool& ToClose) {
  for (;;) {
    std::string Line;
    const bool Received = ReceiveHeadLine(Line);
    Headers.push_back(Line);
    if (!Received) return false;
    if (Line.empty()) return true;
    ApplyHeaderLine(Line, Size, ToClose);
  }
}

void THTTPSend::ApplyHeaderLine(const std::string& Line, std::int64_t& Size, bool& ToClose) {
  if (StartsWithNoCase(Line, "CONTENT-LENGTH:")) {
    Size = DecimalOrMinusOne(HeaderValue(Line));
    if (Size != -1) BodyMode = TBodyMode::ByLength;
  } else if (StartsWithNoCase(Line, "CONTENT-TYPE:")) {
    MimeType = HeaderValue(Line);
  } else if (StartsWithNoCase(Line, "TRANSFER-ENCODING:")) {
    if (UpperCase(HeaderValue(Line)).find("CHUNKED") != std::string::npos) BodyMode = TBodyMode::Chunked;
  } else if (StartsWithNoCase(Line, "CONNECTION:")) {
    if (ConnectionTokenIsClose(HeaderValue(Line))) ToClose = true;
  }
}

void THTTPSend::DecodeStatusLine(const std::string& Line) {
  const std::size_t Blank = Line.find(' ');
  const std::string Rest = Blank == std::string::npos ? std::string() : TrimControls(Line.substr(Blank + 1));
  const std::size_t Split = Rest.find(' ');
  const std::int64_t Code = DecimalOrMinusOne(TrimControls(Rest.substr(0, Split)));
  ResultCode = Code < 0 || Code > std::numeric_limits<std::int32_t>::max() ? 0 : static_cast<std::int32_t>(Code);
  ResultString = Split == std::string::npos ? std::string() : TrimControls(Rest.substr(Split + 1));
}

// ------------------------------------------------------------------- body

// The end of the connection is the normal end of such a body; a time-out or
// a broken TLS session is not, nor under TLS a close without close_notify.
bool THTTPSend::ReadBodyUntilClose() {
  for (;;) {
    const std::string Packet = Sock_.ReceivePacket(Timeout);
    if (Sock_.LastErrorCode != 0) break;
    WriteTextToStream(Document, Packet);
  }
  return Sock_.LastErrorCode == kConnectionReset && Sock_.TlsEndedCleanly();
}

// The body goes into Document through a small buffer that stays in cache:
// the memory of each large piece is backed by the system in one step, then
// written once. On a short body Document keeps what came.
bool THTTPSend::ReadBodyByLength(std::int64_t Size) {
  if (Size < 1) return true;
  DownloadSize = Size;
  std::string& Data = Document.Data();
  std::vector<char> Step(static_cast<std::size_t>(std::min(Size, kBodyStep)));
  std::size_t Prepared = Data.size();
  for (std::int64_t Left = Size; Left > 0;) {
    const std::int64_t Wanted = std::min(Left, kBodyStep);
    if (Data.size() + static_cast<std::size_t>(Wanted) > Data.capacity()) {
      ReserveDocument(Left, Size - Left);
      Prepared = Data.size();  // the buffer may have moved
    }
    if (Data.size() + static_cast<std::size_t>(Wanted) > Prepared) {
      const std::size_t Upto =
          std::min(Data.capacity(), Data.size() + static_cast<std::size_t>(std::min(Left, kBodyPiece)));
      if (Upto > Data.size()) PrepareMemory(Data.data() + Data.size(), Upto - Data.size());
      Prepared = std::max(Upto, Data.size() + static_cast<std::size_t>(Wanted));
    }
    const std::int64_t Stored = ReceiveInto(Step.data(), Wanted);
    Data.append(Step.data(), static_cast<std::size_t>(Stored));
    if (Stored < Wanted) break;
    Left -= Wanted;
  }
  Document.Seek(0, TSeekOrigin::End);
  return Sock_.LastErrorCode == 0;
}

// Exactly Length bytes into Target: the bytes already buffered, then
// straight from the socket into place, each wait bounded by Timeout. Fewer
// on an error, which stays in LastErrorCode (10054 when the peer closed,
// 10060 on silence).
std::int64_t THTTPSend::ReceiveInto(char* Target, std::int64_t Length) {
  Sock_.LastErrorCode = 0;
  std::int64_t Stored = std::min(Length, static_cast<std::int64_t>(Sock_.PendingInput.size()));
  std::memcpy(Target, Sock_.PendingInput.data(), static_cast<std::size_t>(Stored));
  Sock_.PendingInput.Drop(static_cast<std::size_t>(Stored));
  while (Stored < Length) {
    std::int64_t Count = Sock_.BytesPending();
    if (Count <= 0) {
      if (!Sock_.WaitReadable(Timeout)) return FailReceive(Stored, kTimedOut);
      Count = Sock_.BytesPending();
      // Readable with nothing to read: the peer has closed.
      if (Count <= 0) return FailReceive(Stored, kConnectionReset);
    }
    const std::int64_t Received = Sock_.ReceiveRaw(Target + Stored, std::min(Count, Length - Stored));
    if (Sock_.LastErrorCode != 0) return FailReceive(Stored, kConnectionReset);
    // Nothing and no error: only part of a TLS record is in; wait for more.
    if (Received > 0) Stored += Received;
  }
  return Stored;
}

std::int64_t THTTPSend::FailReceive(std::int64_t Stored, std::int32_t Code) {
  if (Sock_.LastErrorCode == 0) {
    Sock_.LastErrorCode = Code;
    Sock_.CheckError();
  }
  return Stored;
}

// Room for the rest of the part at once, so a large body is not copied
// while the buffer grows. An announced size is only a claim: it earns room
// up to 64 MiB ahead, and all it asks once that much has arrived. Many
// small chunks still grow the buffer geometrically.
void THTTPSend::ReserveDocument(std::int64_t Left, std::int64_t Arrived) {
  std::string& Data = Document.Data();
  const std::int64_t Credit = Arrived >= kTrustAfter ? Left : std::min(Left, kTrustAfter - Arrived);
  const std::size_t Needed = Data.size() + static_cast<std::size_t>(Credit);
  if (Needed <= Data.capacity()) return;
  try {
    Data.reserve(std::max(Needed, Data.capacity() * 2));
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  }
}

// Clean is false when the body ended on a malformed chunk size: the
// connection is then closed, as nothing after it can be trusted.
bool THTTPSend::ReadChunkedBody(bool& Clean) {
  std::int32_t EmptyLines = 0;
  for (;;) {
    std::string Line;
    if (!ReceiveLimitedLine(Line)) return false;
    if (Line.empty()) {
      if (++EmptyLines > MaxHeaderLines) return Refuse();
      continue;
    }
    EmptyLines = 0;
    const std::string SizeText = TrimControls(TextBefore(TrimControls(TextBefore(Line, " ")), ";"));
    const std::int64_t Size = HexOrZero(SizeText);
    if (Size == 0) {
      Clean = SizeText.find_first_not_of('0') == std::string::npos && !SizeText.empty();
      if (Clean) Clean = SkipTrailer();
      return true;
    }
    if (!ReadBodyByLength(Size)) return false;
  }
}

// Trailer lines after the last chunk are read and dropped, so a kept
// connection starts the next response clean.
bool THTTPSend::SkipTrailer() {
  HeadLines_ = 0;
  HeadBytes_ = 0;
  return SkipHeadLines();
}

// ------------------------------------------------------------------ lines

bool THTTPSend::Refuse() {
  Sock_.LastErrorCode = kNoBufferSpace;
  Sock_.LastErrorText = TTCPBlockSocket::GetErrorDesc(kNoBufferSpace);
  return false;
}

bool THTTPSend::ReceiveLimitedLine(std::string& Line) {
  Line = Sock_.ReceiveLine(Timeout);
  const bool Received = Sock_.LastErrorCode == 0;
  if (Received || !Sock_.PendingInput.empty()) ResponseSeen_ = true;
  return Received;
}

bool THTTPSend::ReceiveHeadLine(std::string& Line) {
  Line.clear();
  if (++HeadLines_ > MaxHeaderLines) return Refuse();
  if (!ReceiveLimitedLine(Line)) return false;
  HeadBytes_ += static_cast<std::int64_t>(Line.size()) + 2;
  if (HeadBytes_ > MaxHeaderBytes) return Refuse();
  return true;
}

bool THTTPSend::ReceiveNonEmptyHeadLine(std::string& Line) {
  do {
    if (!ReceiveHeadLine(Line)) return false;
  } while (Line.empty());
  return true;
}

bool THTTPSend::SkipHeadLines() {
  std::string Line;
  do {
    if (!ReceiveHeadLine(Line)) return false;
  } while (!Line.empty());
  return true;
}

// ---------------------------------------------------------------- cookies

void THTTPSend::CaptureCookies() {
  for (const std::string& Line : Headers) {
    if (!StartsWithNoCase(Line, "SET-COOKIE:")) continue;
    const std::string Pair = TrimControls(TextBefore(Line.substr(Line.find(':') + 1), ";"));
    const std::size_t Equals = Pair.find('=');
    const std::string Name = TrimControls(Pair.substr(0, Equals));
    const std::string Value = Equals == std::string::npos ? std::string() : TrimControls(Pair.substr(Equals + 1));
    if (!Name.empty()) StoreCookie(Name, Value);
  }
}

// Replaces the cookie of that name (letter case ignored), appends a new
// one, or with an empty value removes it.
void THTTPSend::StoreCookie(const std::string& Name, const std::string& Value) {
  const std::string Wanted = UpperCase(Name);
  const auto Same = [&Wanted](const std::string& Cookie) {
    return UpperCase(TrimControls(TextBefore(Cookie, "="))) == Wanted;
  };
  const auto Found = std::find_if(Cookies.begin(), Cookies.end(), Same);
  if (Value.empty()) {
    if (Found != Cookies.end()) Cookies.erase(Found);
    return;
  }
  if (Found != Cookies.end()) {
    *Found = Name + "=" + Value;
    return;
  }
  Cookies.push_back(Name + "=" + Value);
}

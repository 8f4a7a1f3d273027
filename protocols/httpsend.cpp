#include "protocols/httpsend.h"

#include <algorithm>
#include <cstring>
#include <cctype>
#include <limits>
#include "util/codec.h"
#include "util/textutil.h"

namespace {

// Windows Sockets numbers the engine judges or records itself.
constexpr std::int32_t kTimedOut = 10060;
constexpr std::int32_t kNoBufferSpace = 10055;
constexpr std::int32_t kConnectionReset = 10054;
constexpr std::int32_t kAborted = 10053;
// Bodies move between socket and stream in pieces of this size, through
// one buffer per client: large enough that system calls cost little, small
// enough that memory stays flat whatever the body's size.
constexpr std::int64_t kBodyPiece = 1024 * 1024;
// A body read from a stream to be sent (encrypted, as a rule) goes in
// smaller pieces: each stays in the processor's cache from the read to the
// send, which measured faster than megabyte pieces.
constexpr std::int64_t kSendPiece = 64 * 1024;
// A request body up to this size goes out with its header block in one
// send, so that no small packet waits for an acknowledgement.
constexpr std::int64_t kJoinedBody = 64 * 1024;

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

// A chunk-size line: hexadecimal digits of at most 63 bits, then maybe
// blanks and ";" extensions (ignored). False for anything else.
bool ParseChunkSize(const std::string& Line, std::int64_t& Size) {
  const std::string Text = TrimControls(TextBefore(Line, ";"));
  Size = 0;
  if (Text.empty()) return false;
  for (const char C : Text) {
    if (!std::isxdigit(static_cast<unsigned char>(C))) return false;
    const int Digit = std::isdigit(static_cast<unsigned char>(C)) ? C - '0' : (std::toupper(C) - 'A' + 10);
    if (Size > (std::numeric_limits<std::int64_t>::max() >> 4)) return false;
    Size = (Size << 4) | Digit;
  }
  return true;
}

// The last transfer coding named by the Transfer-Encoding lines, upper-cased;
// false when there is no such line.
bool LastTransferCoding(const TStringList& Lines, std::string& Coding) {
  bool Found = false;
  for (const std::string& Line : Lines) {
    if (!StartsWithNoCase(Line, "TRANSFER-ENCODING:")) continue;
    Found = true;
    std::string Rest = HeaderValue(Line);
    while (!Rest.empty()) {
      const std::string Token = UpperCase(TrimControls(TextBefore(CutTokenRaw(Rest, ","), ";")));
      if (!Token.empty()) Coding = Token;
    }
  }
  return Found;
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

std::int64_t AnnouncedContentLength(const TStringList& Lines) {
  std::string Coding;
  if (LastTransferCoding(Lines, Coding)) return -1;
  std::int64_t Size = -1;
  for (const std::string& Line : Lines) {
    if (!StartsWithNoCase(Line, "CONTENT-LENGTH:")) continue;
    // A list of equal values ("5, 5") is that one value.
    std::string Rest = HeaderValue(Line);
    do {
      const std::int64_t Value = DecimalOrMinusOne(TrimControls(CutTokenRaw(Rest, ",")));
      if (Value < 0 || (Size >= 0 && Value != Size)) return -2;
      Size = Value;
    } while (!Rest.empty());
  }
  return Size;
}

std::string HeaderLineValue(const TStringList& Lines, const std::string& Name) {
  const std::string Wanted = UpperCase(Name) + ":";
  for (const std::string& Line : Lines)
    if (StartsWithNoCase(Line, Wanted)) return HeaderValue(Line);
  return std::string();
}

THTTPSend::THTTPSend() {
  Timeout = 90000;
  TargetPort = "80";
  Sock_.ConvertLineEnd = true;
  // Status, header and chunk-size lines: a server sending one endless line
  // gets 10055 instead of our memory.
  Sock_.MaxLineLength = MaxHeaderLineLength;
  // Hands a body piece to the system in one call.
  Sock_.SendMaxChunk = static_cast<std::int32_t>(kBodyPiece);
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
  Head.push_back("Content-Length: " + std::to_string(BodySource != nullptr ? BodySourceSize : Document.Size()));
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
  ContinueKept_ = false;
  if (SocketBufferSize > 0) {
    Sock_.SetReceiveBufferSize(SocketBufferSize);
    Sock_.SetSendBufferSize(SocketBufferSize);
  }
  Sock_.Bind(IPInterface, "0");
  if (Sock_.LastErrorCode != 0) return FailAndClose();
  Sock_.SetTlsEnabled(Https);
  if (Sock_.LastErrorCode != 0) return FailAndClose();
  Sock_.Connect(TargetHost, TargetPort);
  if (Sock_.LastErrorCode != 0) return FailAndClose();
  // The tail of each body piece goes out at once, not after an
  // acknowledgement from a peer that may be slow to send one.
  SetNoDelay(Sock_.SocketHandle);
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
  bool SentEarly = false;      // the body went with the head, not after a 100
  bool Continued = false;      // a 100 came before the final answer
  std::string KeptStatusLine;  // that final answer's status line
  TStringList RequestHead;     // the request, kept for one retry
  std::string RequestBody;
};

bool THTTPSend::SendRequest(const std::string& Method, const std::string& Url) {
  ResultCode = 500;
  ResultString.clear();
  DownloadSize = 0;
  BodyReceived = 0;
  UploadSize = 0;
  Aborted = false;
  TUrlParts Parts = SplitUrl(Url);
  if (Parts.User.empty()) {
    Parts.User = UserName;
    Parts.Pass = Password;
  }
  const bool Https = UpperCase(Parts.Prot) == "HTTPS";
  const bool PlainProxy = ChooseRoute(Https);
  const std::string Verb = UpperCase(Method);
  TExchange X;
  X.HasBody = (BodySource != nullptr ? BodySourceSize : Document.Size()) > 0;
  const std::int64_t SourceStart = BodySource != nullptr ? BodySource->Position() : 0;
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
    if (BodySource != nullptr) BodySource->SetPosition(SourceStart);
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
  X.Continued = false;
  X.KeptStatusLine.clear();
  // A small body goes with its head in one send (no Expect wait between).
  // With the handshake too on a kept connection whose server has already
  // asked for a body with 100: the server reads it after its 100 as before,
  // and a round trip per request is saved.
  X.SentEarly = X.UseExpect && X.Reused && ContinueKept_;
  const bool Joined = X.SendBody && (!X.UseExpect || X.SentEarly) && UploadLength() <= kJoinedBody;
  X.SentEarly = X.SentEarly && Joined;
  if (!SendHead(Joined)) return Failed(X);
  if (X.UseExpect && !X.SentEarly && !AwaitContinue(X)) return Failed(X);
  if (X.SendBody && !Joined && !SendBody()) return Failed(X);
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
  const bool Retry = X.Reused && !X.Retried && !ResponseSeen_ && Sock_.LastErrorCode != kTimedOut &&
                     Sock_.LastErrorCode != kAborted;
  if (Retry) return TAttempt::Retry;
  FailAndClose();
  return TAttempt::Failed;
}

std::int64_t THTTPSend::UploadLength() { return BodySource != nullptr ? BodySourceSize : Document.Size(); }

bool THTTPSend::SendHead(bool WithBody) {
  std::string Block;
  if (Protocol == "0.9") {
    Block = Headers.front() + "\r\n";
  } else {
    for (const std::string& Line : Headers) Block += Line + "\r\n";
  }
  if (WithBody) {
    UploadSize = UploadLength();
    if (BodySource == nullptr) {
      Block += Document.Data();
    } else {
      const std::size_t Start = Block.size();
      Block.resize(Start + static_cast<std::size_t>(BodySourceSize));
      if (BodySource->Read(Block.data() + Start, BodySourceSize) != BodySourceSize) return Abort();
    }
  }
  Sock_.SendText(Block);
  return Sock_.LastErrorCode == 0;
}

// The body from Document, or from BodySource in pieces through the
// client's buffer.
bool THTTPSend::SendBody() {
  UploadSize = UploadLength();
  if (BodySource == nullptr) {
    Sock_.SendBuffer(Document.Data().data(), Document.Size());
    return Sock_.LastErrorCode == 0;
  }
  for (std::int64_t Left = BodySourceSize; Left > 0;) {
    char* const Buffer = Piece();
    const std::int64_t Got = BodySource->Read(Buffer, std::min(Left, kSendPiece));
    // A file that shrank since its size was announced: the server must not
    // take what was sent for the whole body.
    if (Got <= 0) return Abort();
    Sock_.SendBuffer(Buffer, Got);
    if (Sock_.LastErrorCode != 0) return false;
    Left -= Got;
  }
  return true;
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
  if (ResultCode >= 100 && ResultCode <= 199) {
    ContinueKept_ = true;
    return SkipHeadLines();
  }
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
    if (ResultCode == 100) X.Continued = true;
    // An interim answer (a late or unasked 100, 102, 103): its header is
    // dropped and the final answer follows on the same connection.
    if (!SkipHeadLines()) return false;
    Headers.clear();
    Line.clear();
  }
}

bool THTTPSend::ReadResponse(const std::string& Verb, const TExchange& X) {
  // A final answer to a body sent early, with no 100 before it, may come
  // from a server that takes the body for the start of the next request.
  bool ToClose = Protocol != "1.1" || X.BodySuppressed || (X.SentEarly && !X.Continued);
  bool Outcome = Headers.empty() || ReadHeaderLines(ToClose);
  const bool WithBody = Verb != "HEAD" && ResultCode != 204 && ResultCode != 304;
  std::int64_t Size = -1;
  if (Outcome && WithBody) Outcome = ChooseBodyMode(Size);
  Target_ = &Document;
  if (Outcome && !Headers.empty() && OnBodyTarget) {
    Target_ = OnBodyTarget();
    if (Target_ == nullptr) Outcome = Abort();
  }
  if (Outcome && WithBody) {
    Outcome = ReadBody(Size);
    if (BodyMode == TBodyMode::UntilClose) ToClose = true;
  }
  Target_ = nullptr;
  Document.SetPosition(0);
  if (!Outcome) {
    FailAndClose();
  } else if (ToClose) {
    Sock_.CloseSocket();
    AliveHost.clear();
    AlivePort.clear();
  }
  CaptureCookies();
  return Outcome;
}

bool THTTPSend::ReadHeaderLines(bool& ToClose) {
  for (;;) {
    std::string Line;
    const bool Received = ReceiveHeadLine(Line);
    Headers.push_back(Line);
    if (!Received) return false;
    if (Line.empty()) return true;
    if (StartsWithNoCase(Line, "CONTENT-TYPE:")) MimeType = HeaderValue(Line);
    if (StartsWithNoCase(Line, "CONNECTION:") && ConnectionTokenIsClose(HeaderValue(Line))) ToClose = true;
  }
}

// RFC 9112, 6.3: a Transfer-Encoding decides (chunked when that is the last
// coding, else the body runs until the connection ends) and its length
// header is not used; otherwise a valid Content-Length; an invalid one
// makes the response unreadable.
bool THTTPSend::ChooseBodyMode(std::int64_t& Size) {
  BodyMode = TBodyMode::UntilClose;
  std::string Coding;
  if (LastTransferCoding(Headers, Coding)) {
    if (Coding == "CHUNKED") BodyMode = TBodyMode::Chunked;
    return true;
  }
  Size = AnnouncedContentLength(Headers);
  if (Size == -2) return Abort();
  if (Size >= 0) BodyMode = TBodyMode::ByLength;
  return true;
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

bool THTTPSend::ReadBody(std::int64_t Size) {
  switch (BodyMode) {
    case TBodyMode::ByLength:
      return ReadBodyByLength(Size);
    case TBodyMode::Chunked:
      return ReadChunkedBody();
    case TBodyMode::UntilClose:
      break;
  }
  return ReadBodyUntilClose();
}

bool THTTPSend::ReadBodyUntilClose() {
  char* const Buffer = Piece();
  for (;;) {
    const std::int64_t Got = ReceiveSome(Buffer, kBodyPiece);
    if (Got > 0 && !StoreBody(Buffer, Got)) return false;
    if (Sock_.LastErrorCode != 0) break;
  }
  return ConnectionEndedTheBody();
}

// The one place that judges how a body running until the connection ends
// did end: the peer closing the connection is its normal end; a time-out or
// a broken session is not, nor under TLS a close without close_notify.
bool THTTPSend::ConnectionEndedTheBody() {
  return Sock_.LastErrorCode == kConnectionReset && Sock_.TlsEndedCleanly();
}

// Exactly Size bytes into the target, each piece stored as it arrives, so
// that the socket is never left full while the target waits; on a short
// body the target keeps what came.
bool THTTPSend::ReadBodyByLength(std::int64_t Size) {
  if (Size < 1) return true;
  DownloadSize = Size;
  char* const Buffer = Piece();
  for (std::int64_t Left = Size; Left > 0;) {
    const std::int64_t Got = ReceiveSome(Buffer, std::min(Left, kBodyPiece));
    if (Got <= 0 || !StoreBody(Buffer, Got)) return false;
    Left -= Got;
  }
  return true;
}

// A short write to the target (a full disk) records 10069.
bool THTTPSend::StoreBody(const char* Data, std::int64_t Count) {
  if (!Sock_.StoreInStream(*Target_, Data, Count)) return false;
  BodyReceived += std::max<std::int64_t>(Count, 0);
  return true;
}

char* THTTPSend::Piece() {
  Piece_.Reserve(static_cast<std::size_t>(kBodyPiece));
  return Piece_.Data();
}

// What is buffered, else what arrives within one wait of Timeout, at most
// Length bytes straight into Target. 0 on an error, which stays in
// LastErrorCode (10054 when the peer closed, 10060 on silence).
std::int64_t THTTPSend::ReceiveSome(char* Target, std::int64_t Length) {
  Sock_.LastErrorCode = 0;
  if (!Sock_.PendingInput.empty()) {
    const std::int64_t Taken = std::min(Length, static_cast<std::int64_t>(Sock_.PendingInput.size()));
    std::memcpy(Target, Sock_.PendingInput.data(), static_cast<std::size_t>(Taken));
    Sock_.PendingInput.Drop(static_cast<std::size_t>(Taken));
    return Taken;
  }
  for (;;) {
    if (Sock_.BytesPending() <= 0) {
      if (!Sock_.WaitReadable(Timeout)) return FailReceive(0, kTimedOut);
      // Readable with nothing to read: the peer has closed.
      if (Sock_.BytesPending() <= 0) return FailReceive(0, kConnectionReset);
    }
    const std::int64_t Received = Sock_.ReceiveRaw(Target, Length);
    if (Sock_.LastErrorCode != 0) return FailReceive(0, kConnectionReset);
    // Nothing and no error: only part of a TLS record is in; wait for more.
    if (Received > 0) return Received;
  }
}

std::int64_t THTTPSend::FailReceive(std::int64_t Stored, std::int32_t Code) {
  if (Sock_.LastErrorCode == 0) {
    Sock_.LastErrorCode = Code;
    Sock_.CheckError();
  }
  return Stored;
}

// Every chunk is checked: its size line, and the line end after its data. A
// body that breaks the framing fails, and its connection is closed, as
// nothing after it can be trusted.
bool THTTPSend::ReadChunkedBody() {
  for (;;) {
    std::string Line;
    if (!ReceiveLimitedLine(Line)) return false;
    std::int64_t Size = 0;
    if (!ParseChunkSize(Line, Size)) return Abort();
    if (Size == 0) return SkipTrailer();
    if (!ReadBodyByLength(Size)) return false;
    if (!ReceiveLimitedLine(Line)) return false;
    if (!Line.empty()) return Abort();
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

bool THTTPSend::Abort() {
  Aborted = true;
  Sock_.LastErrorCode = kAborted;
  Sock_.LastErrorText = TTCPBlockSocket::GetErrorDesc(kAborted);
  return false;
}

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

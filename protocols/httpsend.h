// The HTTP/1.x client: one object performs one request at a time over a
// connection of its own, directly, through a plain HTTP proxy, or for https
// through a CONNECT tunnel with TLS. It builds the request line and header
// block, optionally waits for "100 Continue" before sending the body, reads
// the status line, the header lines and the body (by length, chunked, or
// until the connection ends), keeps cookies, and keeps the connection for
// the next request to the same host and port when the protocol allows it.
//
// The HTTP jobs set the public settings, call SendRequest and read the
// results from the same members.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "net/blocksock.h"
#include "protocols/netclient.h"
#include "util/pagebuffer.h"
#include "util/streams.h"
#include "util/textutil.h"

// The body length a response head announces by its Content-Length lines
// (RFC 9112, 6.3), read the same way by the engine and the jobs: -1 when
// there is none, or when a Transfer-Encoding line decides the framing
// instead; -2 when it is invalid: anything but decimal digits, an overflow,
// or several different values (in one line or in several).
std::int64_t AnnouncedContentLength(const TStringList& Lines);

// The value of the first header line named Name (letter case ignored),
// trimmed; empty when there is none.
std::string HeaderLineValue(const TStringList& Lines, const std::string& Name);

class THTTPSend : public TNetClient {
 public:
  // Timeout 90000 ms, TargetPort "80", line ends of any style accepted,
  // socket buffer sizes left to the system; then ResetRequest.
  THTTPSend();
  ~THTTPSend() override;

  // Before a request: extra request header lines from the caller. After it:
  // the response status line and header lines, ending with an empty line.
  TStringList Headers;
  // name=value lines; all are sent with every request and updated from
  // every response. Never emptied by the engine.
  TStringList Cookies;
  // Before a request: the body to send (unless BodySource is set). After
  // it: the response body, positioned at 0, unless OnBodyTarget took it.
  TMemoryStream Document;
  // A request body sent from a stream instead of Document: BodySourceSize
  // bytes from the stream's position at SendRequest, read piece by piece as
  // they go out. A stream that ends early fails the request (10053) and
  // closes the connection. Kept across requests; nullptr sends Document.
  TStream* BodySource = nullptr;
  std::int64_t BodySourceSize = 0;
  // Called once the final status line and header lines are in, before the
  // first body byte (also for a response without body): answers the stream
  // the body is appended to (Document itself is allowed), or nullptr to
  // refuse it, which fails the request (10053) and closes the connection.
  // Unset: the body goes to Document. Kept across requests.
  std::function<TStream*()> OnBodyTarget;
  // Socket receive and send buffer sizes asked for every new connection; 0
  // leaves them to the system, whose automatic sizing is the fastest.
  std::int32_t SocketBufferSize = 0;
  // First byte of a range request; 0 or less means no range.
  std::int64_t RangeStart = 0;
  // Last byte of a range request; below RangeStart means to the end.
  std::int64_t RangeEnd = 0;
  // Before a request: Content-Type of the body. After it: the response's
  // Content-Type value (parameters included), or "text/html".
  std::string MimeType = "text/html";
  // "0.9", "1.0" or "1.1".
  std::string Protocol = "1.0";
  // false adds "Connection: close" to the request.
  bool KeepAlive = true;
  // Allows the "Expect: 100-continue" handshake (protocol 1.1 with a body).
  // On a kept connection whose server has answered it with 100 before, a
  // body of up to 64 KiB follows its head without waiting for the 100; a
  // final answer that then comes without a 100 closes the connection.
  bool Status100 = false;
  // Plain HTTP proxy (or CONNECT proxy for https); empty: direct.
  std::string ProxyHost;
  std::string ProxyPort = "8080";
  std::string ProxyUser;
  std::string ProxyPass;
  // Sent as User-Agent when not empty.
  std::string UserAgent = "Mozilla/4.0 (compatible; tarvo HTTP engine)";
  // Status code of the last response; 500 while a request has not produced
  // one; 0 for a response without a status line.
  std::int32_t ResultCode = 0;
  // Reason phrase of the last status line.
  std::string ResultString;
  // Length of the last body part read by length (the last chunk's size for
  // a chunked body).
  std::int64_t DownloadSize = 0;
  // Body bytes of the last response stored in its target.
  std::int64_t BodyReceived = 0;
  // Body bytes sent with the last request.
  std::int64_t UploadSize = 0;
  // The last request failed because the engine itself gave up on it (10053):
  // broken framing, a refused body target, a body source that ended early.
  // The connection was not lost, so trying again would not help.
  bool Aborted = false;

  // Performs the whole exchange: connects (or reuses the kept connection),
  // sends Method (upper-cased) for Url with the header block and Document,
  // and reads the response into ResultCode, ResultString, Headers, MimeType
  // and Document. Returns false when no complete response was read: no
  // connection, TLS or send failure (ResultCode stays 500), a time-out or
  // lost connection before or during the response, a body shorter than its
  // Content-Length, a body whose framing is broken (an invalid
  // Content-Length, a bad chunk: 10053), a body target that refused it
  // (10053) or could not take the bytes (10069), or a header beyond the
  // size limits. Sock().LastErrorCode
  // and LastErrorText then tell what failed, even after the connection was
  // closed. A failed response never leaves its connection open. A kept
  // connection that turns out dead before any answer arrives is replaced
  // and the request sent once more.
  bool SendRequest(const std::string& Method, const std::string& Url);

  // Range, Document, Headers and MimeType back to their defaults. Cookies,
  // credentials, proxy settings and the kept connection stay.
  void ResetRequest();

  // The socket, for its error state (LastErrorCode, LastErrorText) and its
  // TLS settings.
  TTCPBlockSocket& Sock() { return Sock_; }

  // Limits that protect against a hostile or broken server: one status or
  // header line, the number of header lines, and all header bytes.
  static constexpr std::int32_t MaxHeaderLineLength = 65536;
  static constexpr std::int32_t MaxHeaderLines = 1000;
  static constexpr std::int64_t MaxHeaderBytes = 1024 * 1024;

 private:
  enum class TBodyMode : std::uint8_t { UntilClose = 0, ByLength = 1, Chunked = 2 };
  enum class TAttempt { Done, Failed, Retry };
  struct TExchange;

  bool ChooseRoute(bool Https);
  void BuildRequestHead(const std::string& Method, const TUrlParts& Url, bool PlainProxy, bool HasBody,
                        bool UseExpect);
  bool PrepareConnection(bool Https, bool& Reused);
  bool OpenConnection(bool Https);
  bool FailAndClose();
  TAttempt Exchange(TExchange& X);
  TAttempt Failed(const TExchange& X);
  std::int64_t UploadLength();
  bool SendHead(bool WithBody);
  bool AwaitContinue(TExchange& X);
  bool ReadStatusLine(TExchange& X);
  bool SendBody();
  bool ReadResponse(const std::string& Verb, const TExchange& X);
  bool ReadHeaderLines(bool& ToClose);
  bool ChooseBodyMode(std::int64_t& Size);
  void DecodeStatusLine(const std::string& Line);
  bool ReadBody(std::int64_t Size);
  bool ReadBodyUntilClose();
  bool ConnectionEndedTheBody();
  bool ReadBodyByLength(std::int64_t Size);
  bool StoreBody(const char* Data, std::int64_t Count);
  char* Piece();
  std::int64_t ReceiveSome(char* Target, std::int64_t Length);
  std::int64_t FailReceive(std::int64_t Stored, std::int32_t Code);
  bool ReadChunkedBody();
  bool SkipTrailer();
  bool Refuse();
  bool Abort();
  bool ReceiveLimitedLine(std::string& Line);
  bool ReceiveHeadLine(std::string& Line);
  bool ReceiveNonEmptyHeadLine(std::string& Line);
  bool SkipHeadLines();
  void CaptureCookies();
  void StoreCookie(const std::string& Name, const std::string& Value);

  std::string AliveHost;
  std::string AlivePort;
  TBodyMode BodyMode = TBodyMode::UntilClose;
  std::int32_t HeadLines_ = 0;   // lines of the current response head
  std::int64_t HeadBytes_ = 0;   // and their bytes
  bool ResponseSeen_ = false;    // a byte of the response has arrived
  bool ContinueKept_ = false;    // the kept connection's server has sent 100
  TStream* Target_ = nullptr;    // where the current response body goes
  TPageBuffer Piece_;  // body bytes between socket and stream
  // Declared last so it is released before the lists and the document.
  TTCPBlockSocket Sock_;
};

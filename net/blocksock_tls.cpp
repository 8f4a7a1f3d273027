// The TLS client session of the stream socket: switching it on and off,
// the handshake, and reads, writes and pending counts through the session.
//
// The session's transport never blocks (see TlsNewSocketBio): every wait
// is a poll() bounded by TlsTimeout, so a silent or stalled peer ends the
// handshake or a write with 10060 instead of hanging.
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>

#include "net/blocksock.h"
#include "platform/truststore.h"
#include "util/textutil.h"

namespace {

// What one read of the socket may take in for the session.
constexpr int TlsReadBufferSize = 256 * 1024;

bool IsAddressLiteral(const std::string& Host) { return IsIPv4Literal(Host) || IsIPv6Literal(Host); }

// The host as the certificate names it: without the brackets an IPv6
// literal may carry.
std::string BareHost(const std::string& Host) {
  if (Host.size() >= 2 && Host.front() == '[' && Host.back() == ']') return Host.substr(1, Host.size() - 2);
  return Host;
}

// Whether the session has taken in records it has not yet handed out. What
// it holds after a read that wanted more is only part of a record, which
// must wait for the socket rather than be read again at once.
bool HoldsWholeRecords(SSL* Session) { return SSL_has_pending(Session) == 1 && !SSL_want_read(Session); }

class TDeadline {
 public:
  explicit TDeadline(std::int32_t Timeout)
      : Unlimited_(Timeout < 0), End_(std::chrono::steady_clock::now() + std::chrono::milliseconds(Timeout)) {}
  // Milliseconds left (-1 without limit, 0 when passed).
  std::int32_t Left() const {
    if (Unlimited_) return -1;
    const auto Rest = std::chrono::duration_cast<std::chrono::milliseconds>(End_ - std::chrono::steady_clock::now());
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(Rest.count(), 0, INT_MAX));
  }

 private:
  bool Unlimited_;
  std::chrono::steady_clock::time_point End_;
};

}  // namespace

// ---------------------------------------------------------------------------
// Switching the session on and off

void TTCPBlockSocket::SetTlsEnabled(bool Value) {
  LastErrorCode = 0;
  if (Value == TlsEnabled) return;
  PendingInput.clear();
  if (Value) {
    TlsLastErrorText.clear();
    TlsLastError = 0;
    if (!LoadTlsLibrary()) {
      LastErrorCode = WSAEPROTONOSUPPORT;
    } else {
      TlsContext = TlsNewContext(SSLType);
      if (TlsContext == nullptr) {
        CollectTlsError();
        LastErrorCode = WSAEPROTONOSUPPORT;
      } else {
        SetUpTlsContext();
      }
    }
  } else {
    FreeTls();
  }
  CheckError();
  // A key or CA file the library refused: say why (a missing file, ...).
  if (LastErrorCode != 0 && TlsLastError != 0) LastErrorText += ": " + TlsFailureReason();
}

void TTCPBlockSocket::SetUpTlsContext() {
  SSL_CTX_set_cipher_list(TlsContext, SSLCiphers.c_str());
  // TLS 1.3 suites in the order browsers offer them: AES-128-GCM first
  // encrypts and decrypts about a quarter faster than AES-256-GCM, the
  // library's first choice, for bulk transfers at both ends.
  SSL_CTX_set_ciphersuites(TlsContext, "TLS_AES_128_GCM_SHA256:TLS_AES_256_GCM_SHA384:TLS_CHACHA20_POLY1305_SHA256");
  // The session takes in as much as has arrived with each read of the
  // socket, instead of a header and then a body per record (see
  // HoldsWholeRecords).
  SSL_CTX_set_read_ahead(TlsContext, 1);
  SSL_CTX_set_default_read_buffer_len(TlsContext, TlsReadBufferSize);
  SSL_CTX_set_verify(TlsContext, SSLverifyCert ? SSL_VERIFY_PEER : SSL_VERIFY_NONE, nullptr);
  SSL_CTX_set_default_passwd_cb(TlsContext, SupplyKeyPassword);
  SSL_CTX_set_default_passwd_cb_userdata(TlsContext, this);
  if (!LoadTlsKeys()) {
    LastErrorCode = WSAEINVAL;
    FreeTls();
    return;
  }
  // Verification without a CA file of the caller's trusts the system's
  // certificate store.
  if (SSLverifyCert && SSLCertCAFile.empty()) TrustSystemCertificates(TlsContext);
  TlsSession = SSL_new(TlsContext);
  if (TlsSession == nullptr) {
    CollectTlsError();
    LastErrorCode = WSAEPROTONOSUPPORT;
    FreeTls();
    return;
  }
  ERR_clear_error();
  TlsEnabled = true;
}

void TTCPBlockSocket::FreeTls() {
  if (TlsSession != nullptr) SSL_free(TlsSession);
  if (TlsContext != nullptr) SSL_CTX_free(TlsContext);
  TlsSession = nullptr;
  TlsContext = nullptr;
  ERR_clear_error();
  TlsEnabled = false;
}

bool TTCPBlockSocket::LoadTlsKeys() {
  if (TlsContext == nullptr) return false;
  const bool Loaded =
      (SSLCertificateFile.empty() ||
       SSL_CTX_use_certificate_chain_file(TlsContext, SSLCertificateFile.c_str()) == 1) &&
      (SSLPrivateKeyFile.empty() ||
       SSL_CTX_use_PrivateKey_file(TlsContext, SSLPrivateKeyFile.c_str(), SSL_FILETYPE_PEM) == 1) &&
      (SSLCertCAFile.empty() || SSL_CTX_load_verify_locations(TlsContext, SSLCertCAFile.c_str(), nullptr) == 1);
  if (!Loaded) CollectTlsError();
  return Loaded;
}

int TTCPBlockSocket::SupplyKeyPassword(char* Buffer, int Size, int, void* UserData) {
  if (Buffer == nullptr || Size <= 0 || UserData == nullptr) return 0;
  const std::string& Password = static_cast<TTCPBlockSocket*>(UserData)->SSLPassword;
  const std::size_t Length = std::min(Password.size(), static_cast<std::size_t>(Size - 1));
  std::memcpy(Buffer, Password.data(), Length);
  Buffer[Length] = '\0';
  return static_cast<int>(Length);
}

bool TTCPBlockSocket::CollectTlsError() {
  TlsLastErrorText.clear();
  const unsigned long Code = ERR_get_error();
  ERR_clear_error();
  TlsLastError = static_cast<std::int32_t>(Code);
  if (Code == 0) return true;
  TlsLastErrorText = TlsErrorString(Code);
  return false;
}

// ---------------------------------------------------------------------------
// Handshake and close

void TTCPBlockSocket::StartTls() {
  LastErrorCode = 0;
  // A session is good for one connection: one that has run before (the
  // socket was reconnected without a close) is replaced.
  if (TlsEnabled && SSL_get_rbio(TlsSession) != nullptr) SetTlsEnabled(false);
  if (!TlsEnabled) SetTlsEnabled(true);
  if (LastErrorCode == 0) Handshake();
  std::string Reason;
  if (LastErrorCode != 0) {
    // Taken while the session still holds the certificate check's verdict.
    Reason = TlsFailureReason();
    const std::int32_t Code = LastErrorCode;
    SetTlsEnabled(false);
    LastErrorCode = Code;
  }
  CheckError();
  if (!Reason.empty()) LastErrorText += ": " + Reason;
}

void TTCPBlockSocket::Handshake() {
  BIO* Transport = TlsNewSocketBio(SocketHandle);
  if (Transport == nullptr || SocketHandle == INVALID_SOCKET) {
    if (Transport != nullptr) BIO_free(Transport);
    LastErrorCode = WSASYSNOTREADY;
    CollectTlsError();
    return;
  }
  SSL_set_bio(TlsSession, Transport, Transport);
  if (TlsReuseSession) SSL_set_session(TlsSession, TlsReuseSession.get());
  const std::string Name = BareHost(TlsPeerName);
  // Servers that host several names choose the certificate by this one.
  if (!Name.empty() && !IsAddressLiteral(Name)) SSL_set_tlsext_host_name(TlsSession, Name.c_str());
  if (SSLverifyCert && !Name.empty()) {
    if (IsAddressLiteral(Name)) {
      X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(TlsSession), Name.c_str());
    } else {
      SSL_set1_host(TlsSession, Name.c_str());
    }
  }
  const TDeadline Deadline(TlsTimeout);
  for (;;) {
    const int Result = SSL_connect(TlsSession);
    if (Result == 1) break;
    const int Reason = SSL_get_error(TlsSession, Result);
    if (Reason == SSL_ERROR_WANT_READ || Reason == SSL_ERROR_WANT_WRITE) {
      if (TlsWaitSocket(SocketHandle, Reason == SSL_ERROR_WANT_WRITE, Deadline.Left())) continue;
      LastErrorCode = WSAETIMEDOUT;
      break;
    }
    CollectTlsError();
    LastErrorCode = WSASYSNOTREADY;
    break;
  }
  // A rejected certificate fails the handshake itself (the peer is
  // verified during it); either way it is reported as such.
  if (SSLverifyCert && LastErrorCode != WSAETIMEDOUT && SSL_get_verify_result(TlsSession) != X509_V_OK)
    LastErrorCode = WSAEACCES;
}

void TTCPBlockSocket::EndSending() {
  if (TlsEnabled) CloseTls();
  if (SocketHandle != INVALID_SOCKET) ShutdownSocketSending(SocketHandle);
}

std::string TTCPBlockSocket::TlsFailureReason() const {
  if (LastErrorCode == WSAETIMEDOUT) return {};
  if (SSLverifyCert && TlsSession != nullptr) {
    const long Verdict = SSL_get_verify_result(TlsSession);
    if (Verdict == X509_V_ERR_HOSTNAME_MISMATCH || Verdict == X509_V_ERR_IP_ADDRESS_MISMATCH)
      return "host name mismatch";
    if (Verdict != X509_V_OK) return std::string("certificate verify failed: ") + X509_verify_cert_error_string(Verdict);
  }
  if (TlsLastError == 0) return {};
  const char* Reason = ERR_reason_error_string(static_cast<std::uint32_t>(TlsLastError));
  return Reason != nullptr ? std::string(Reason) : TlsLastErrorText;
}

std::shared_ptr<SSL_SESSION> TTCPBlockSocket::TlsSessionForReuse() const {
  if (!TlsEnabled || TlsSession == nullptr) return nullptr;
  SSL_SESSION* Session = SSL_get1_session(TlsSession);
  if (Session == nullptr) return nullptr;
  return std::shared_ptr<SSL_SESSION>(Session, SSL_SESSION_free);
}

bool TTCPBlockSocket::TlsEndedCleanly() const {
  if (!TlsActive()) return true;
  return (SSL_get_shutdown(TlsSession) & SSL_RECEIVED_SHUTDOWN) != 0;
}

void TTCPBlockSocket::CloseTls() {
  // One close_notify, not waiting for the peer's: the connection is closed
  // right after. It marks the end of what we sent (a peer may take an
  // upload without it for cut), so a full send buffer is waited out.
  if (TlsSession != nullptr && SSL_is_init_finished(TlsSession)) {
    const TDeadline Deadline(TlsTimeout);
    int Result = SSL_shutdown(TlsSession);
    while (Result < 0 && SSL_get_error(TlsSession, Result) == SSL_ERROR_WANT_WRITE &&
           TlsWaitSocket(SocketHandle, true, Deadline.Left()))
      Result = SSL_shutdown(TlsSession);
  }
  FreeTls();
}

// ---------------------------------------------------------------------------
// Reading and writing through the session

bool TTCPBlockSocket::TlsActive() const { return TlsEnabled && TlsSession != nullptr && !SSLBypass && !RawMode; }

bool TTCPBlockSocket::CheckTlsResult(int Result, std::int64_t& Count) {
  const int Reason = SSL_get_error(TlsSession, Result);
  switch (Reason) {
    case SSL_ERROR_NONE:
      Count = Result;
      return false;
    case SSL_ERROR_WANT_READ:
    case SSL_ERROR_WANT_WRITE:
      if (TlsWaitSocket(SocketHandle, Reason == SSL_ERROR_WANT_WRITE, TlsTimeout)) return true;
      Count = 0;
      LastErrorCode = WSAETIMEDOUT;
      return false;
    case SSL_ERROR_ZERO_RETURN:
      // The peer ended the session (close_notify): that is the end of the
      // data, exactly like a closed connection, whether or not the peer
      // has closed the TCP connection yet.
      Count = 0;
      LastErrorCode = WSAECONNRESET;
      return false;
    default:
      CollectTlsError();
      Count = 0;
      LastErrorCode = WSASYSNOTREADY;
      return false;
  }
}

std::int64_t TTCPBlockSocket::TlsReceiveRaw(void* Buffer, std::int64_t Length) {
  if (CheckStopRequest()) return 0;
  LastErrorCode = 0;
  const int Wanted = static_cast<int>(std::clamp<std::int64_t>(Length, 0, INT_MAX));
  std::int64_t Count = 0;
  if (Wanted == 0) return 0;
  for (;;) {
    const int Result = SSL_read(TlsSession, Buffer, Wanted);
    // Only part of a record (or only handshake messages) has arrived: with
    // nothing more queued, answer "no data yet" so the caller waits for
    // the rest under its own time-out.
    if (Result <= 0 && SSL_get_error(TlsSession, Result) == SSL_ERROR_WANT_READ &&
        SocketBytesReceived(SocketHandle) <= 0)
      break;
    if (!CheckTlsResult(Result, Count)) break;
  }
  // One call returns at most one record; take the further records that
  // are already here too, so a bulk read fills the caller's buffer. What
  // stops this early (no data yet, the session's end, an error) is
  // reported by the next read.
  while (LastErrorCode == 0 && Count > 0 && Count < Wanted) {
    const int More = SSL_read(TlsSession, static_cast<char*>(Buffer) + Count, Wanted - static_cast<int>(Count));
    if (More <= 0) break;
    Count += More;
  }
  CheckError();
  DoStatus(HS_BytesRead, std::to_string(Count));
  if (Count > 0) return FilterReceived(Buffer, Count);
  return Count;
}

std::int64_t TTCPBlockSocket::TlsSendBuffer(const void* Buffer, std::int64_t Length) {
  if (CheckStopRequest()) return 0;
  LastErrorCode = 0;
  std::string Filtered;
  FilterOutgoing(Buffer, Length, Filtered);
  const auto* Data = static_cast<const char*>(Buffer);
  std::int64_t Sent = 0;
  while (Sent < Length) {
    const std::int64_t Piece = std::min<std::int64_t>(Length - Sent, SendMaxChunk);
    if (Piece <= 0) break;
    ThrottleTransfer(Piece, MaxSendBandwidth, NextSendTime);
    std::int64_t Count = 0;
    while (CheckTlsResult(SSL_write(TlsSession, Data + Sent, static_cast<int>(std::min<std::int64_t>(Piece, INT_MAX))), Count)) {
    }
    if (LastErrorCode != 0 || Count <= 0) break;
    Sent += Count;
    DoStatus(HS_BytesWritten, std::to_string(Count));
  }
  CheckError();
  return Sent;
}

std::int64_t TTCPBlockSocket::SendBuffer(const void* Buffer, std::int64_t Length) {
  if (TlsActive()) return TlsSendBuffer(Buffer, Length);
  return TBlockSocket::SendBuffer(Buffer, Length);
}


std::int64_t TTCPBlockSocket::ReceiveRaw(void* Buffer, std::int64_t Length) {
  if (TlsActive()) return TlsReceiveRaw(Buffer, Length);
  return TBlockSocket::ReceiveRaw(Buffer, Length);
}

std::int64_t TTCPBlockSocket::BytesPending() {
  if (!TlsActive()) return TBlockSocket::BytesPending();
  const int Decrypted = SSL_pending(TlsSession);
  if (Decrypted > 0) return Decrypted;
  if (HoldsWholeRecords(TlsSession)) return TlsReadBufferSize;
  const std::int64_t Raw = TBlockSocket::BytesPending();
  if (Raw > 0 || (SSL_get_shutdown(TlsSession) & SSL_RECEIVED_SHUTDOWN) != 0) return Raw;
  // Readers take "readable with nothing pending" for the peer's clean end.
  // A connection closed or reset before the session's close_notify is no
  // such end: the next read lets the library report it.
  return SocketPeerEnded(SocketHandle) ? 1 : 0;
}

bool TTCPBlockSocket::WaitReadable(std::int32_t Timeout) {
  // Decrypted bytes are ready to read, and so is the end of a session the
  // peer has closed (its close_notify may already have been taken in with
  // the last data, while the peer keeps the connection open).
  if (TlsActive() && (SSL_pending(TlsSession) > 0 || HoldsWholeRecords(TlsSession) ||
                      (SSL_get_shutdown(TlsSession) & SSL_RECEIVED_SHUTDOWN) != 0)) {
    LastErrorCode = 0;
    DoStatus(HS_Readable, "");
    return true;
  }
  return TBlockSocket::WaitReadable(Timeout);
}

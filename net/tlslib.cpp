// The process-wide TLS library state, client contexts for each protocol
// choice, and the transport the sessions use on a socket.
#include "net/tlslib.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <cstdint>
#include <mutex>

namespace {

std::mutex TlsLibraryLock;
bool TlsLoaded = false;

// Whether a context pinned to one old protocol version can still start a
// handshake: current releases build without SSL 3 and refuse TLS 1.0 at
// their default security level, which would otherwise show only as a
// failed connect. A handshake into a memory buffer answers without any
// network traffic.
bool CanStartHandshake(SSL_CTX* Context) {
  SSL* Probe = SSL_new(Context);
  if (Probe == nullptr) return false;
  BIO* Input = BIO_new(BIO_s_mem());
  BIO* Output = BIO_new(BIO_s_mem());
  if (Input == nullptr || Output == nullptr) {
    BIO_free(Input);
    BIO_free(Output);
    SSL_free(Probe);
    return false;
  }
  SSL_set_bio(Probe, Input, Output);
  const int Result = SSL_connect(Probe);
  const bool Started = Result == 1 || SSL_get_error(Probe, Result) == SSL_ERROR_WANT_READ;
  SSL_free(Probe);
  return Started;
}

SSL_CTX* PinnedContext(int Version) {
  SSL_CTX* Context = SSL_CTX_new(TLS_client_method());
  if (Context == nullptr) return nullptr;
  if (SSL_CTX_set_min_proto_version(Context, Version) == 1 && SSL_CTX_set_max_proto_version(Context, Version) == 1 &&
      CanStartHandshake(Context))
    return Context;
  SSL_CTX_free(Context);
  return nullptr;
}

// --- The socket transport ---------------------------------------------
// OpenSSL's own socket transport writes with write(), which raises SIGPIPE
// on a connection the peer has reset, and blocks without a time-out. This
// one sends with MSG_NOSIGNAL and never blocks: the session reports "wants
// read/write" and the socket waits with poll() under its own time-out.

TSocket DescriptorOf(BIO* Bio) { return static_cast<TSocket>(reinterpret_cast<std::intptr_t>(BIO_get_data(Bio))); }

int SocketBioWrite(BIO* Bio, const char* Data, int Length) {
  BIO_clear_retry_flags(Bio);
  if (Data == nullptr || Length <= 0) return 0;
  bool WouldBlock = false;
  const std::int64_t Result = SendToSocketNow(DescriptorOf(Bio), Data, Length, WouldBlock);
  if (WouldBlock) BIO_set_retry_write(Bio);
  return static_cast<int>(Result);
}

int SocketBioRead(BIO* Bio, char* Data, int Length) {
  BIO_clear_retry_flags(Bio);
  if (Data == nullptr || Length <= 0) return 0;
  bool WouldBlock = false;
  const std::int64_t Result = ReceiveFromSocketNow(DescriptorOf(Bio), Data, Length, WouldBlock);
  if (WouldBlock) BIO_set_retry_read(Bio);
  // Lets the library tell a connection cut without close_notify from a
  // clean end of the session.
  if (Result == 0) BIO_set_flags(Bio, BIO_FLAGS_IN_EOF);
  return static_cast<int>(Result);
}

int SocketBioPuts(BIO* Bio, const char* Text) {
  std::size_t Length = 0;
  while (Text[Length] != '\0') ++Length;
  return SocketBioWrite(Bio, Text, static_cast<int>(Length));
}

long SocketBioControl(BIO* Bio, int Command, long, void* Pointer) {
  switch (Command) {
    case BIO_CTRL_FLUSH:
    case BIO_CTRL_DUP:
      return 1;
    case BIO_CTRL_EOF:
      return BIO_test_flags(Bio, BIO_FLAGS_IN_EOF) != 0 ? 1 : 0;
    case BIO_C_GET_FD:
      if (Pointer != nullptr) *static_cast<int*>(Pointer) = static_cast<int>(DescriptorOf(Bio));
      return static_cast<long>(DescriptorOf(Bio));
    default:
      return 0;
  }
}

int SocketBioCreate(BIO* Bio) {
  BIO_set_init(Bio, 1);
  return 1;
}

// The descriptor belongs to the socket object, which closes it.
int SocketBioDestroy(BIO*) { return 1; }

BIO_METHOD* MakeSocketBioMethod() {
  BIO_METHOD* Method =
      BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK | BIO_TYPE_DESCRIPTOR, "tarvo nonblocking socket");
  if (Method == nullptr) return nullptr;
  BIO_meth_set_write(Method, SocketBioWrite);
  BIO_meth_set_read(Method, SocketBioRead);
  BIO_meth_set_puts(Method, SocketBioPuts);
  BIO_meth_set_ctrl(Method, SocketBioControl);
  BIO_meth_set_create(Method, SocketBioCreate);
  BIO_meth_set_destroy(Method, SocketBioDestroy);
  return Method;
}

}  // namespace

bool LoadTlsLibrary() {
  const std::lock_guard<std::mutex> Guard(TlsLibraryLock);
  if (TlsLoaded) return true;
  if (OPENSSL_init_ssl(OPENSSL_INIT_LOAD_SSL_STRINGS | OPENSSL_INIT_LOAD_CRYPTO_STRINGS, nullptr) != 1) return false;
  TlsLoaded = true;
  return true;
}

void UnloadTlsLibrary() {
  const std::lock_guard<std::mutex> Guard(TlsLibraryLock);
  if (!TlsLoaded) return;
  // The library releases its global state itself at process exit; here
  // only this thread's error queue is left to clear.
  ERR_clear_error();
  TlsLoaded = false;
}

bool TlsLibraryLoaded() {
  const std::lock_guard<std::mutex> Guard(TlsLibraryLock);
  return TlsLoaded;
}

SSL_CTX* TlsNewContext(TSSLType Type) {
  switch (Type) {
    case LT_all:
      return SSL_CTX_new(TLS_client_method());
    case LT_TLSv1:
      return PinnedContext(TLS1_VERSION);
    case LT_SSLv3:
      return PinnedContext(SSL3_VERSION);
    case LT_SSLv2:
      break;  // no release of the library offers SSL 2 any more
  }
  return nullptr;
}

std::string TlsErrorString(unsigned long Code) {
  char Text[256] = {};
  ERR_error_string_n(Code, Text, sizeof(Text));
  return Text;
}

BIO* TlsNewSocketBio(TSocket Descriptor) {
  static BIO_METHOD* const Method = MakeSocketBioMethod();
  if (Method == nullptr) return nullptr;
  BIO* Bio = BIO_new(Method);
  if (Bio == nullptr) return nullptr;
  BIO_set_data(Bio, reinterpret_cast<void*>(static_cast<std::intptr_t>(Descriptor)));
  return Bio;
}

bool TlsWaitSocket(TSocket Descriptor, bool ForWriting, std::int32_t Timeout) {
  short Ready = 0;
  return PollSocket(Descriptor, ForWriting ? POLLOUT : POLLIN, Timeout, Ready) > 0;
}

// The binding to the TLS library (OpenSSL, linked at build time): the
// process-wide, lock-guarded load and unload, and the few helpers the
// socket's TLS session needs. The session itself lives in the socket.
#pragma once

#include <openssl/types.h>

#include <cstdint>
#include <string>

#include "net/sockapi.h"

// Declared by ssl.h, which the socket's header need not pull in whole.
using SSL_SESSION = struct ssl_session_st;

// Protocol choice of a TLS context.
enum TSSLType : std::uint8_t { LT_SSLv2 = 0, LT_SSLv3 = 1, LT_TLSv1 = 2, LT_all = 3 };

// Initialises the library once for the process (under its lock); true when
// it is usable. Later calls answer at once.
bool LoadTlsLibrary();
// Releases what LoadTlsLibrary set up; run once at process end.
void UnloadTlsLibrary();
// True between a successful LoadTlsLibrary and UnloadTlsLibrary.
bool TlsLibraryLoaded();

// A new client context for the protocol choice; nullptr when this release
// of the library does not offer that protocol or cannot make a context.
SSL_CTX* TlsNewContext(TSSLType Type);

// The library's text for an error number from its error queue.
std::string TlsErrorString(unsigned long Code);

// A transport for a session on the socket Descriptor that never blocks and
// never raises SIGPIPE; the socket stays owned by the caller. nullptr when
// the library cannot make one.
BIO* TlsNewSocketBio(TSocket Descriptor);
// Waits up to Timeout ms (-1 without limit) until Descriptor is readable or,
// with ForWriting, writable. True when it is.
bool TlsWaitSocket(TSocket Descriptor, bool ForWriting, std::int32_t Timeout);

// The binding to the TLS library (OpenSSL, linked at build time): the
// process-wide, lock-guarded load and unload, and the few helpers the
// socket's TLS session needs. The session itself lives in the socket.
#pragma once

#include <openssl/types.h>

#include <cstdint>
#include <string>

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

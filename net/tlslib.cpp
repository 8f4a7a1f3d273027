// The process-wide TLS library state.
#include "net/tlslib.h"

bool LoadTlsLibrary() { return false; }

void UnloadTlsLibrary() {}

bool TlsLibraryLoaded() { return false; }

SSL_CTX* TlsNewContext(TSSLType) { return nullptr; }

std::string TlsErrorString(unsigned long) { return {}; }

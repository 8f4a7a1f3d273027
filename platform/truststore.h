// The system's trusted certificate authorities, for TLS connections that
// check the server's certificate without a CA file of their own.
#pragma once

#include <openssl/ssl.h>

// Makes Context trust the system's certificate store: the OpenSSL
// directories on Linux (/etc/ssl/certs), the "ROOT" store on Windows.
void TrustSystemCertificates(SSL_CTX* Context);

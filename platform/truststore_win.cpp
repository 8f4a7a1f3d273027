// OpenSSL built for Windows knows no certificate directory of the system:
// the certificates of the "ROOT" store are copied into the context's store.
#include "platform/truststore.h"

#include <openssl/err.h>

#include "platform/widetext_win.h"
// After windows.h, which it needs.
#include <wincrypt.h>

void TrustSystemCertificates(SSL_CTX* Context) {
  HCERTSTORE Store = CertOpenSystemStoreW(0, L"ROOT");
  if (Store == nullptr) return;
  X509_STORE* Trusted = SSL_CTX_get_cert_store(Context);
  const CERT_CONTEXT* Certificate = nullptr;
  while ((Certificate = CertEnumCertificatesInStore(Store, Certificate)) != nullptr) {
    const unsigned char* Der = Certificate->pbCertEncoded;
    X509* Parsed = d2i_X509(nullptr, &Der, static_cast<long>(Certificate->cbCertEncoded));
    if (Parsed == nullptr) continue;
    X509_STORE_add_cert(Trusted, Parsed);  // a duplicate is refused harmlessly
    X509_free(Parsed);
  }
  CertCloseStore(Store, 0);
  ERR_clear_error();
}

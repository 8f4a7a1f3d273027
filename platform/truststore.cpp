#include "platform/truststore.h"

void TrustSystemCertificates(SSL_CTX* Context) { SSL_CTX_set_default_verify_paths(Context); }

// Real peers for the proxy and TLS tests, started on free loopback ports:
// a throw-away certificate authority with server certificates made at run
// time, openssl s_server, nginx with TLS, dante as a SOCKS5 proxy (with and
// without user/password), tinyproxy as a CONNECT proxy and vsftpd with TLS.
#pragma once

#include <string>

#include "support/testsupport.h"

namespace tlsproxyservers {

// Certificates made by the openssl command in Dir: a CA, a server
// certificate it signed for localhost, 127.0.0.1 and ::1, one it signed for
// another name only, one it signed that has expired, and a self-signed one
// nobody trusts.
struct TestCertificates {
  std::string CaFile;
  std::string ServerCert, ServerKey;
  std::string WrongNameCert, WrongNameKey;
  std::string ExpiredCert, ExpiredKey;
  std::string SelfSignedCert, SelfSignedKey;
  bool Make(const std::string& Dir);
};

// openssl s_server on Port with the given extra arguments (for example
// "-WWW"), run in WorkDir. True once it accepts connections.
bool StartOpensslServer(testsupport::BackgroundProcess& Process, int Port, const std::string& Cert,
                        const std::string& Key, const std::vector<std::string>& Extra, const std::string& WorkDir);

// nginx serving Root over TLS on 127.0.0.1:Port; its access log (in
// ConfDir, "access.log") records "$ssl_server_name $request".
bool StartNginxTls(testsupport::BackgroundProcess& Process, int Port, const std::string& Cert, const std::string& Key,
                   const std::string& Root, const std::string& ConfDir);

// dante on 127.0.0.1:Port; with a user, the username method against a fake
// user database holding just that user and password.
bool StartDanted(testsupport::BackgroundProcess& Process, int Port, const std::string& User, const std::string& Password,
                 const std::string& ConfDir);

// tinyproxy on 127.0.0.1:Port allowing CONNECT to any port; with a user,
// basic authentication is demanded (407 without it).
bool StartTinyproxy(testsupport::BackgroundProcess& Process, int Port, const std::string& User,
                    const std::string& Password, const std::string& ConfDir);

// vsftpd on 127.0.0.1:Port with anonymous access to Root, TLS available
// (AUTH TLS, PROT P) and demanded for the logon, data connections that must
// reuse the control connection's TLS session, passive data connections;
// Extra lines override the configuration.
bool StartVsftpdTls(testsupport::BackgroundProcess& Process, int Port, const std::string& Cert, const std::string& Key,
                    const std::string& Root, const std::string& ConfDir, const std::string& Extra = "");

}  // namespace tlsproxyservers

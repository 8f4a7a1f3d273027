// Real HTTP peers for the HTTP engine's tests: nginx (static files, WebDAV
// PUT/DELETE, keep-alive, a chunked location and an optional TLS server with
// a certificate made at run time) and tinyproxy as a plain and CONNECT proxy,
// each on free loopback ports, stopped by process id.
#pragma once

#include <string>

#include "support/testsupport.h"

namespace testsupport {

class HttpsendNginx {
 public:
  // Writes the configuration under a fresh directory and starts nginx in the
  // foreground. Files under Root() are served at "/"; "/dav/" takes PUT and
  // DELETE; "/sub/" serves Root()/sub with a response filter, which makes
  // nginx answer chunked. WithTls adds a TLS server on TlsPort().
  bool Start(bool WithTls = false);
  void Stop() { Process_.Stop(); }

  int Port() const { return Port_; }
  int TlsPort() const { return TlsPort_; }
  std::string Root() const { return Dir_ / "www"; }
  std::string Url(const std::string& Path) const;
  std::string TlsUrl(const std::string& Path) const;
  // One line per request: connection number, request number on that
  // connection, request line, status.
  std::string AccessLog() const { return ReadFile(Dir_ / "access.log"); }
  // The error log, for a failing test's message.
  std::string ErrorLog() const { return ReadFile(Dir_ / "error.log"); }

 private:
  TempDir Dir_;
  BackgroundProcess Process_;
  int Port_ = 0;
  int TlsPort_ = 0;
};

class HttpsendTinyproxy {
 public:
  // Starts tinyproxy on a free loopback port; with User set it demands
  // basic authentication with User and Password.
  bool Start(const std::string& User = "", const std::string& Password = "");
  int Port() const { return Port_; }
  std::string Log() const { return ReadFile(Dir_ / "tinyproxy.log"); }

 private:
  TempDir Dir_;
  BackgroundProcess Process_;
  int Port_ = 0;
};

}  // namespace testsupport

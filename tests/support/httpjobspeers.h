// Real HTTP peers for the HTTP job tests, started on free loopback ports and
// stopped by process id: nginx serving a directory with WebDAV PUT and
// DELETE (optionally https with a self-signed certificate, and /upload/
// passed on to php), php's built-in server recording multipart uploads, and
// tinyproxy as a plain and CONNECT proxy.
#pragma once

#include <string>

#include "support/testsupport.h"

namespace testsupport {

struct TNginxOptions {
  bool Tls = false;     // also an https server on TlsPort()
  int UploadPort = 0;   // when set, /upload/ is passed on to 127.0.0.1:UploadPort
};

class TNginxPeer {
 public:
  // Serves Root (read and write) on 127.0.0.1. False when nginx or the
  // certificate could not be started or made.
  bool Start(const std::string& Root, const TNginxOptions& Options = {});
  int Port() const { return Port_; }
  int TlsPort() const { return TlsPort_; }
  std::string Url(const std::string& Path = "/") const;
  std::string TlsUrl(const std::string& Path = "/") const;
  // The access log: one line per request, "METHOD URI STATUS".
  std::string AccessLog() const;

 private:
  TempDir Work_;
  BackgroundProcess Process_;
  int Port_ = 0;
  int TlsPort_ = 0;
};

// php -S with tests/data/httpjobs/upload_router.php; records go to Root as
// upload-N.txt (what php parsed) and upload-N.data (the file's bytes).
class TPhpUploadPeer {
 public:
  bool Start(const std::string& Root);
  int Port() const { return Port_; }
  std::string Url(const std::string& Path = "/") const;

 private:
  BackgroundProcess Process_;
  int Port_ = 0;
};

class TTinyproxyPeer {
 public:
  // A proxy on 127.0.0.1 that allows CONNECT to AllowedConnectPort.
  bool Start(int AllowedConnectPort);
  int Port() const { return Port_; }

 private:
  TempDir Work_;
  BackgroundProcess Process_;
  int Port_ = 0;
};

// Writes Ini as Dir/job.ini and runs build/tarvo on it with Dir as the
// working directory.
// Wrapper, when given, runs the program (see AsNobody).
RunResult RunJobFile(const std::string& Dir, const std::string& Ini, const std::vector<std::string>& Env = {},
                     std::vector<std::string> Wrapper = {});

// The log lines of a run, stamps stripped, without the two banner lines.
std::vector<std::string> JobLines(const RunResult& Run);

// Modification time of a file in seconds since 1970, -1 when missing.
long long FileMTime(const std::string& Path);

}  // namespace testsupport

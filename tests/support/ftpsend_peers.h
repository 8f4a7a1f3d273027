// FTP peers for the FTP client tests, each started on a free loopback port
// and stopped by process id: the scripted server (replies from a script,
// every command recorded), pyftpdlib with a known user, and vsftpd with an
// anonymous login that may upload, rename and delete in a temporary root.
#pragma once

#include <string>
#include <vector>

#include "support/testsupport.h"

namespace testsupport {

class FtpsendScriptServer {
 public:
  // Writes Script to a file in Dir and starts the server on Host.
  bool Start(const TempDir& Dir, const std::string& Script, const std::string& Host = "127.0.0.1");
  int Port() const { return Port_; }
  // Every command line received so far, in order.
  std::vector<std::string> Commands() const;

 private:
  BackgroundProcess Process_;
  std::string RecordFile_;
  int Port_ = 0;
};

class FtpsendPyftpdlib {
 public:
  bool Start(const std::string& Root, const std::string& User, const std::string& Password,
             const std::string& Host = "127.0.0.1");
  int Port() const { return Port_; }

 private:
  BackgroundProcess Process_;
  int Port_ = 0;
};

class FtpsendVsftpd {
 public:
  // Anonymous login (any password) chrooted to Root; uploads, renames and
  // deletes are allowed in Root + "/pub", which is created world-writable
  // (vsftpd refuses a writable root). ConfigDir holds the generated
  // configuration and log.
  bool Start(const std::string& Root, const std::string& ConfigDir);
  int Port() const { return Port_; }

 private:
  BackgroundProcess Process_;
  int Port_ = 0;
};

}  // namespace testsupport

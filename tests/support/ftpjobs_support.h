// Peers for the FTP job tests: the scripted server of ftpjobs_server.py
// (misbehaviour on demand, with a transcript of what it was sent),
// pyftpdlib and vsftpd, each on a free loopback port and stopped when the
// object goes out of scope; and a job file writer.
#pragma once

#include <initializer_list>
#include <string>
#include <vector>

#include "support/testsupport.h"

namespace ftpjobs {

// A JSON string literal of Text, every byte taken as a latin-1 character.
std::string JsonString(const std::string& Text);

class ScriptedFtpServer {
 public:
  // Starts the server with a JSON script (see ftpjobs_server.py) and an
  // upload directory; false when it does not come up.
  bool Start(const std::string& ScriptJson, const std::string& StoreDir = "");
  int Port() const { return Port_; }
  // The command lines received so far, in order.
  std::vector<std::string> Transcript() const;

 private:
  testsupport::TempDir Dir_;
  testsupport::BackgroundProcess Process_;
  int Port_ = 0;
};

// pyftpdlib serving Root to anonymous users with write rights, or to
// UserName/Password when given.
class PyFtpServer {
 public:
  bool Start(const std::string& Root, const std::string& UserName = "", const std::string& Password = "");
  int Port() const { return Port_; }

 private:
  testsupport::TempDir Dir_;
  testsupport::BackgroundProcess Process_;
  int Port_ = 0;
};

// vsftpd serving Root to anonymous users (uploads and deletes allowed in
// directories that others may write to), listing times in UTC; Extra holds
// further configuration lines. Stop ends it with its sessions; Restart
// brings it back on the same port.
class VsFtpServer {
 public:
  bool Start(const std::string& Root, const std::string& Extra = "");
  void Stop() { Process_.Stop(); }
  bool Restart();
  int Port() const { return Port_; }

 private:
  testsupport::TempDir Dir_;
  testsupport::BackgroundProcess Process_;
  int Port_ = 0;
};

// Rules of the scripted server: Reply (lines split at "\n") to Cmd with
// exactly Arg, to Cmd with any argument, or an action ("drop", "drop_data").
std::string Rule(const std::string& Cmd, const std::string& Arg, const std::string& Reply);
std::string RuleAny(const std::string& Cmd, const std::string& Reply);
std::string Action(const std::string& Cmd, const std::string& Arg, const std::string& What);
// A rule that applies the first time only, over all connections.
std::string Once(const std::string& Rule);

// Writes a job file with one section per entry: the name, then its keys in
// the order given.
using TJobKeys = std::vector<std::pair<std::string, std::string>>;
void WriteJobFile(const std::string& Path, const std::vector<std::pair<std::string, TJobKeys>>& Sections);

// Keys followed by More.
TJobKeys With(TJobKeys Keys, const TJobKeys& More);

// The parts one after another.
std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> Parts);

// "yes" when Lines holds Wanted, else "no" (so a failure shows the line).
std::string Contains(const std::vector<std::string>& Lines, const std::string& Wanted);

// Runs build/tarvo on JobFile in WorkDir (TZ=UTC unless Env sets another)
// and returns its exit code and its log lines, stamps stripped, without the
// two banner lines.
struct TJobRun {
  int ExitCode = -1;
  std::vector<std::string> Lines;
  std::string ErrorText;
};
// Wrapper, when given, runs the program (a user switch, a file size limit).
TJobRun RunJobFile(const std::string& JobFile, const std::string& WorkDir, std::vector<std::string> Env = {},
                   std::vector<std::string> Wrapper = {});

// Modification time of Path in seconds since 1970, -1 when missing.
long long ModificationTime(const std::string& Path);
// Sets it (and the access time).
void SetModificationTime(const std::string& Path, long long UnixSeconds);

}  // namespace ftpjobs

// Shared set-up of the FTP client tests: a scripted server on loopback and
// a client pointed at it, with short time-outs.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "protocols/ftpsend.h"
#include "support/ftpsend_peers.h"
#include "support/testsupport.h"

class FtpsendScriptedTest : public ::testing::Test {
 protected:
  // Starts the scripted server with Script and points Ftp at it.
  void Serve(const std::string& Script, const std::string& Host = "127.0.0.1") {
    ASSERT_TRUE(Server.Start(Dir, Script, Host)) << "scripted server did not start";
    Ftp.TargetHost = Host;
    Ftp.TargetPort = std::to_string(Server.Port());
    Ftp.UserName = "user";
    Ftp.Password = "secret";
    Ftp.Timeout = 5000;
  }

  std::vector<std::string> Sent() const { return Server.Commands(); }

  // Sent commands after the first Count (the logon).
  std::vector<std::string> SentAfter(std::size_t Count) const {
    std::vector<std::string> All = Sent();
    const std::size_t Skip = std::min<std::size_t>(All.size(), Count);
    return {All.begin() + static_cast<std::ptrdiff_t>(Skip), All.end()};
  }

  // A plain logon without REST support; LogonCommands is what it sends.
  static constexpr const char* LoginScript =
      "on USER 331 Password required\n"
      "on PASS 230 Logged in\n"
      "on TYPE 200 Type set\n"
      "on STRU 200 ok\n"
      "on MODE 200 ok\n"
      "on REST 502 No restart\n";
  const std::vector<std::string> LogonCommands{"USER user", "PASS secret", "TYPE I", "STRU F", "MODE S", "REST 0"};

  // A logon whose REST probe succeeds.
  static constexpr const char* ResumableLoginScript =
      "on USER 331 Password required\n"
      "on PASS 230 Logged in\n"
      "on TYPE 200 Type set\n"
      "on STRU 200 ok\n"
      "on MODE 200 ok\n"
      "on REST 350 Restarting\n";
  const std::vector<std::string> ResumableLogonCommands{"USER user", "PASS secret", "TYPE I", "STRU F",
                                                        "MODE S",    "REST 0",      "REST 1", "REST 0"};

  testsupport::TempDir Dir;
  testsupport::FtpsendScriptServer Server;
  TFTPSend Ftp;
};

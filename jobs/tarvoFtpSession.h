// What the FTP GET and FTP PUT jobs share: the client set up from a job
// record, the login line, a session that is closed on every way out, and
// logging on again after a connection-level failure.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "app/tarvoCommon.h"
#include "jobs/tarvoRetry.h"
#include "protocols/ftpsend.h"

// Copies host, port, time-out, credentials, transfer and data connection
// modes into the client, the TLS settings (FtpTls explicit or implicit
// requires TLS on control and data connections), and the five proxy values
// only when ProxyHost is set.
void ConfigureFtpClient(TFTPSend& Ftp, const TtarvoParam& Param);

// The error line for an FtpTls value the reader did not know (status 2),
// logged before anything connects; 0 when the value is known.
std::int32_t RefuseUnknownFtpTls(const TtarvoParam& Param);

// "Login " + host + ":" + port, followed by " via " + proxy host + ":" +
// proxy port when the job goes through a proxy.
std::string LoginLine(const TFTPSend& Ftp, const TtarvoParam& Param);

// Sends QUIT and closes the control connection when it goes out of scope.
class TLogOffGuard {
 public:
  explicit TLogOffGuard(TFTPSend& Ftp) : Ftp_(Ftp) {}
  ~TLogOffGuard() { Ftp_.LogOff(); }
  TLogOffGuard(const TLogOffGuard&) = delete;
  TLogOffGuard& operator=(const TLogOffGuard&) = delete;

 private:
  TFTPSend& Ftp_;
};

// True when the last failed operation of Ftp lost its connection (see
// IsConnectionFailure and IsConnectionFailureReply) rather than being refused.
bool IsFtpConnectionLost(const TFTPSend& Ftp);

// What the Retry line gives as the reason: the server's reply, or the
// socket's error text when no reply told it.
std::string FtpRetryReason(const TFTPSend& Ftp);

// How a job goes on after a failed operation.
enum class TFtpRecovery {
  NotRetried,  // a refusal, or no retry left: the job logs the failure as it always has
  Resumed,     // logged on again (and back in the work directory): repeat the operation
  Ended,       // the new logon failed and was logged: the session is gone, the job ends
};

// One job's logon with its retry budget: the first logon, the work
// directory, and logging on again after a lost connection.
class TFtpRetrySession {
 public:
  TFtpRetrySession(TFTPSend& Ftp, const TtarvoParam& Param);

  // Logs on, retrying connection-level failures while the budget lasts; logs
  // the login line and returns 0, or logs "Login error. " + the reply and
  // returns 1.
  std::int32_t LogOn();
  // "CWD " + Directory, retried like the other steps; remembered so that a
  // new logon returns there. 0, or the logged failure's status 1 with
  // ErrorPrefix before the reply.
  std::int32_t EnterDirectory(const std::string& Directory, const std::string& ErrorPrefix);
  // After a failed operation: when the connection was lost and a retry is
  // left, logs the Retry line, waits, and logs on again (retrying as LogOn).
  TFtpRecovery Recover();
  // Runs Step (one command after a transfer: SIZE, DELE) again after each
  // lost connection the budget allows; true once it succeeds.
  bool Repeat(const std::function<bool()>& Step);
  bool Ended() const { return Ended_; }

 private:
  // When the last failure lost the connection and the budget has a retry
  // left: logs the Retry line, waits, and says yes.
  bool RetryLeft();
  bool Reconnect();

  TFTPSend& Ftp_;
  const TtarvoParam& Param_;
  TRetryBudget Budget_;
  std::optional<std::string> Directory_;
  std::string ErrorPrefix_;
  bool Ended_ = false;
};

// What the FTP GET and FTP PUT jobs share: the client set up from a job
// record, the login line, and a session that is closed on every way out.
#pragma once

#include <cstdint>
#include <string>

#include "app/tarvoCommon.h"
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

#include "jobs/tarvoFtpSession.h"

#include "net/blocksock.h"
#include "net/sockerrors.h"

void ConfigureFtpClient(TFTPSend& Ftp, const TtarvoParam& Param) {
  Ftp.TargetHost = Param.Target;
  Ftp.TargetPort = Param.TargetPort;
  Ftp.Timeout = Param.Timeout;
  Ftp.UserName = Param.UserName;
  Ftp.Password = Param.Password;
  Ftp.BinaryMode = Param.FtpBinaryMode;
  Ftp.PassiveMode = Param.FtpPassiveMode;
  Ftp.AutoTLS = Param.FtpTls == FtpTlsMode::Explicit;
  Ftp.FullSSL = Param.FtpTls == FtpTlsMode::Implicit;
  Ftp.TLSRequired = Ftp.AutoTLS || Ftp.FullSSL;
  Ftp.Sock().SSLverifyCert = Param.TlsVerify;
  if (Param.TlsVerify) Ftp.Sock().SSLCertCAFile = Param.TlsCaFile;
  if (Param.ProxyHost.empty()) return;
  Ftp.FWHost = Param.ProxyHost;
  Ftp.FWPort = Param.ProxyPort;
  Ftp.FWUsername = Param.ProxyUserName;
  Ftp.FWPassword = Param.ProxyPassword;
  Ftp.FWMode = Param.ProxyMode;
}

std::int32_t RefuseUnknownFtpTls(const TtarvoParam& Param) {
  if (Param.FtpTls != FtpTlsMode::Invalid) return 0;
  return WriteLog("Unknown FtpTls value: use none, explicit or implicit.", 2);
}

std::string LoginLine(const TFTPSend& Ftp, const TtarvoParam& Param) {
  std::string Line = "Login " + Ftp.TargetHost + ":" + Ftp.TargetPort;
  if (!Param.ProxyHost.empty()) Line += " via " + Ftp.FWHost + ":" + Ftp.FWPort;
  return Line;
}

bool IsFtpConnectionLost(const TFTPSend& Ftp) {
  return IsConnectionFailureReply(Ftp.ResultCode()) || IsConnectionFailure(Ftp.SocketError());
}

std::string FtpRetryReason(const TFTPSend& Ftp) {
  // A passive reply that came before a failed data connection is no reason.
  if (IsConnectionFailureReply(Ftp.ResultCode())) return Ftp.ResultString();
  if (Ftp.ResultCode() == 0 && !Ftp.ResultString().empty()) return Ftp.ResultString();
  return TBlockSocket::GetErrorDesc(Ftp.SocketError());
}

TFtpRetrySession::TFtpRetrySession(TFTPSend& Ftp, const TtarvoParam& Param)
    : Ftp_(Ftp), Param_(Param), Budget_(Param.Retries, Param.RetryDelay) {}

bool TFtpRetrySession::RetryLeft() {
  return IsFtpConnectionLost(Ftp_) && Budget_.RetryAfter(FtpRetryReason(Ftp_));
}

std::int32_t TFtpRetrySession::LogOn() {
  while (!Ftp_.LogOn()) {
    if (!RetryLeft()) {
      Ended_ = true;
      return WriteLog("Login error. " + Ftp_.ResultString(), 1);
    }
  }
  WriteLog(LoginLine(Ftp_, Param_), 0);
  return 0;
}

std::int32_t TFtpRetrySession::EnterDirectory(const std::string& Directory, const std::string& ErrorPrefix) {
  Directory_ = Directory;
  ErrorPrefix_ = ErrorPrefix;
  while (!Ftp_.ChangeDirectory(Directory)) {
    const TFtpRecovery Next = Recover();
    if (Next == TFtpRecovery::Ended) return 1;
    if (Next == TFtpRecovery::NotRetried) return WriteLog(ErrorPrefix + Ftp_.ResultString(), 1);
  }
  return 0;
}

TFtpRecovery TFtpRetrySession::Recover() {
  if (Ended_ || !RetryLeft()) return TFtpRecovery::NotRetried;
  return Reconnect() ? TFtpRecovery::Resumed : TFtpRecovery::Ended;
}

bool TFtpRetrySession::Repeat(const std::function<bool()>& Step) {
  while (!Step())
    if (Recover() != TFtpRecovery::Resumed) return false;
  return true;
}

bool TFtpRetrySession::Reconnect() {
  while (true) {
    if (LogOn() != 0) return false;
    if (!Directory_ || Ftp_.ChangeDirectory(*Directory_)) return true;
    // The directory was entered before: only a lost connection keeps us
    // out of it now.
    if (!RetryLeft()) {
      Ended_ = true;
      WriteLog(ErrorPrefix_ + Ftp_.ResultString(), 1);
      return false;
    }
  }
}

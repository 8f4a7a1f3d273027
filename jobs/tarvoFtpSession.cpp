#include "jobs/tarvoFtpSession.h"

#include "net/blocksock.h"

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

#include "jobs/tarvoFtpSession.h"

void ConfigureFtpClient(TFTPSend& Ftp, const TtarvoParam& Param) {
  Ftp.TargetHost = Param.Target;
  Ftp.TargetPort = Param.TargetPort;
  Ftp.Timeout = Param.Timeout;
  Ftp.UserName = Param.UserName;
  Ftp.Password = Param.Password;
  Ftp.BinaryMode = Param.FtpBinaryMode;
  Ftp.PassiveMode = Param.FtpPassiveMode;
  if (Param.ProxyHost.empty()) return;
  Ftp.FWHost = Param.ProxyHost;
  Ftp.FWPort = Param.ProxyPort;
  Ftp.FWUsername = Param.ProxyUserName;
  Ftp.FWPassword = Param.ProxyPassword;
  Ftp.FWMode = Param.ProxyMode;
}

std::string LoginLine(const TFTPSend& Ftp, const TtarvoParam& Param) {
  std::string Line = "Login " + Ftp.TargetHost + ":" + Ftp.TargetPort;
  if (!Param.ProxyHost.empty()) Line += " via " + Ftp.FWHost + ":" + Ftp.FWPort;
  return Line;
}

#include "support/tlsproxyservers.h"

#include <filesystem>

namespace tlsproxyservers {

using testsupport::BackgroundProcess;
using testsupport::RunProcess;
using testsupport::WaitForPort;
using testsupport::WriteFile;

namespace {

bool Openssl(const std::vector<std::string>& Args, const std::string& Dir) {
  std::vector<std::string> Argv{"openssl"};
  Argv.insert(Argv.end(), Args.begin(), Args.end());
  return RunProcess(Argv, Dir, {}, 60).ExitCode == 0;
}

// An EC key and a certificate request for Name, then the certificate signed
// by the CA (or by itself when SelfSigned) with the alternative names given.
bool MakeCertificate(const std::string& Dir, const std::string& Stem, const std::string& Name,
                     const std::string& AltNames, bool SelfSigned, const std::string& Days = "2") {
  WriteFile(Dir + "/" + Stem + ".ext", "subjectAltName=" + AltNames + "\n");
  if (!Openssl({"req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
                Stem + ".key", "-out", Stem + ".csr", "-subj", "/CN=" + Name},
               Dir))
    return false;
  if (SelfSigned)
    return Openssl({"x509", "-req", "-in", Stem + ".csr", "-signkey", Stem + ".key", "-out", Stem + ".pem", "-days",
                    "2", "-extfile", Stem + ".ext"},
                   Dir);
  return Openssl({"x509", "-req", "-in", Stem + ".csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial", "-out",
                  Stem + ".pem", "-days", Days, "-extfile", Stem + ".ext"},
                 Dir);
}

}  // namespace

bool TestCertificates::Make(const std::string& Dir) {
  if (!Openssl({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
                "ca.key", "-out", "ca.pem", "-days", "2", "-subj", "/CN=tarvo test CA", "-addext",
                "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign"},
               Dir))
    return false;
  if (!MakeCertificate(Dir, "server", "localhost", "DNS:localhost,IP:127.0.0.1,IP:::1", false)) return false;
  if (!MakeCertificate(Dir, "wrongname", "other.invalid", "DNS:other.invalid", false)) return false;
  if (!MakeCertificate(Dir, "expired", "localhost", "DNS:localhost,IP:127.0.0.1", false, "-1")) return false;
  if (!MakeCertificate(Dir, "selfsigned", "localhost", "DNS:localhost,IP:127.0.0.1,IP:::1", true)) return false;
  CaFile = Dir + "/ca.pem";
  ServerCert = Dir + "/server.pem";
  ServerKey = Dir + "/server.key";
  WrongNameCert = Dir + "/wrongname.pem";
  WrongNameKey = Dir + "/wrongname.key";
  ExpiredCert = Dir + "/expired.pem";
  ExpiredKey = Dir + "/expired.key";
  SelfSignedCert = Dir + "/selfsigned.pem";
  SelfSignedKey = Dir + "/selfsigned.key";
  return true;
}

bool StartOpensslServer(BackgroundProcess& Process, int Port, const std::string& Cert, const std::string& Key,
                        const std::vector<std::string>& Extra, const std::string& WorkDir) {
  std::vector<std::string> Argv{"openssl", "s_server", "-accept", "127.0.0.1:" + std::to_string(Port),
                                "-cert",   Cert,       "-key",    Key,
                                "-quiet"};
  Argv.insert(Argv.end(), Extra.begin(), Extra.end());
  if (!Process.Start(Argv, WorkDir, WorkDir + "/s_server.log")) return false;
  return WaitForPort(Port);
}

bool StartNginxTls(BackgroundProcess& Process, int Port, const std::string& Cert, const std::string& Key,
                   const std::string& Root, const std::string& ConfDir) {
  const std::string Conf = ConfDir + "/nginx.conf";
  WriteFile(Conf, "user root;\n"
                  "worker_processes 1;\n"
                  "daemon off;\n"
                  "pid " + ConfDir + "/nginx.pid;\n"
                  "error_log " + ConfDir + "/error.log;\n"
                  "events { worker_connections 64; }\n"
                  "http {\n"
                  "  access_log off;\n"
                  "  client_body_temp_path " + ConfDir + "/body;\n"
                  "  proxy_temp_path " + ConfDir + "/proxy;\n"
                  "  fastcgi_temp_path " + ConfDir + "/fastcgi;\n"
                  "  uwsgi_temp_path " + ConfDir + "/uwsgi;\n"
                  "  scgi_temp_path " + ConfDir + "/scgi;\n"
                  "  log_format sni '$ssl_server_name $request';\n"
                  "  server {\n"
                  "    listen 127.0.0.1:" + std::to_string(Port) + " ssl;\n"
                  "    ssl_certificate " + Cert + ";\n"
                  "    ssl_certificate_key " + Key + ";\n"
                  "    access_log " + ConfDir + "/access.log sni;\n"
                  "    root " + Root + ";\n"
                  "  }\n"
                  "}\n");
  if (!Process.Start({"nginx", "-c", Conf, "-p", ConfDir}, ConfDir, ConfDir + "/nginx.out")) return false;
  return WaitForPort(Port);
}

bool StartDanted(BackgroundProcess& Process, int Port, const std::string& User, const std::string& Password,
                 const std::string& ConfDir) {
  const std::string Method = User.empty() ? "none" : "username";
  WriteFile(ConfDir + "/danted.conf", "logoutput: " + ConfDir + "/danted.log\n"
                                      "internal: 127.0.0.1 port = " + std::to_string(Port) + "\n"
                                      "external: 127.0.0.1\n"
                                      "socksmethod: " + Method + "\n"
                                      "clientmethod: none\n"
                                      "user.privileged: root\n"
                                      "user.unprivileged: root\n"
                                      "client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 }\n"
                                      "socks pass { from: 127.0.0.0/8 to: 0.0.0.0/0 command: connect bind }\n");
  // dante looks users up through NSS; the wrapper gives it a user database
  // of its own so no real account is needed.
  const std::string Hash = User.empty() ? "" : RunProcess({"openssl", "passwd", "-6", Password}, "", {}, 30).Output;
  WriteFile(ConfDir + "/passwd", "root:x:0:0:root:/root:/bin/sh\n" + (User.empty() ? "" : User + ":x:4242:4242::/tmp:/bin/false\n"));
  WriteFile(ConfDir + "/group", "root:x:0:\n" + (User.empty() ? "" : User + ":x:4242:\n"));
  WriteFile(ConfDir + "/shadow", User.empty() ? "" : User + ":" + Hash.substr(0, Hash.find('\n')) + ":19000:0:99999:7:::\n");
  const std::vector<std::string> Argv{"env",
                                      "LD_PRELOAD=libnss_wrapper.so",
                                      "NSS_WRAPPER_PASSWD=" + ConfDir + "/passwd",
                                      "NSS_WRAPPER_GROUP=" + ConfDir + "/group",
                                      "NSS_WRAPPER_SHADOW=" + ConfDir + "/shadow",
                                      "danted",
                                      "-f",
                                      ConfDir + "/danted.conf",
                                      "-p",
                                      ConfDir + "/danted.pid",
                                      "-N",
                                      "1"};
  if (!Process.Start(Argv, ConfDir, ConfDir + "/danted.out")) return false;
  return WaitForPort(Port);
}

bool StartTinyproxy(BackgroundProcess& Process, int Port, const std::string& User, const std::string& Password,
                    const std::string& ConfDir) {
  std::string Conf = "Port " + std::to_string(Port) + "\n"
                     "Listen 127.0.0.1\n"
                     "Timeout 30\n"
                     "MaxClients 16\n"
                     "LogLevel Info\n"
                     "LogFile \"" + ConfDir + "/tinyproxy.log\"\n"
                     "Allow 127.0.0.1\n";
  if (!User.empty()) Conf += "BasicAuth " + User + " " + Password + "\n";
  WriteFile(ConfDir + "/tinyproxy.conf", Conf);
  if (!Process.Start({"tinyproxy", "-d", "-c", ConfDir + "/tinyproxy.conf"}, ConfDir, ConfDir + "/tinyproxy.out"))
    return false;
  return WaitForPort(Port);
}

bool StartVsftpdTls(BackgroundProcess& Process, int Port, const std::string& Cert, const std::string& Key,
                    const std::string& Root, const std::string& ConfDir, const std::string& Extra) {
  std::filesystem::create_directories(ConfDir + "/empty");
  // vsftpd serves anonymous users as the unprivileged "ftp" account, which
  // must be able to enter the root but not write to it.
  for (std::filesystem::path Dir = Root; Dir.has_relative_path() && Dir != "/tmp"; Dir = Dir.parent_path())
    std::filesystem::permissions(Dir, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                                          std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                                          std::filesystem::perms::others_exec);
  WriteFile(ConfDir + "/vsftpd.conf", "listen=YES\n"
                                      "listen_ipv6=NO\n"
                                      "listen_address=127.0.0.1\n"
                                      "listen_port=" + std::to_string(Port) + "\n"
                                      "background=NO\n"
                                      "run_as_launching_user=NO\n"
                                      "anonymous_enable=YES\n"
                                      "no_anon_password=YES\n"
                                      "anon_root=" + Root + "\n"
                                      "local_enable=NO\n"
                                      "write_enable=NO\n"
                                      "seccomp_sandbox=NO\n"
                                      "secure_chroot_dir=" + ConfDir + "/empty\n"
                                      "ftp_username=ftp\n"
                                      "nopriv_user=nobody\n"
                                      "pasv_enable=YES\n"
                                      "pasv_address=127.0.0.1\n"
                                      "ssl_enable=YES\n"
                                      "allow_anon_ssl=YES\n"
                                      "force_anon_logins_ssl=YES\n"
                                      "force_anon_data_ssl=NO\n"
                                      "require_ssl_reuse=YES\n"
                                      "ssl_tlsv1=YES\n"
                                      "rsa_cert_file=" + Cert + "\n"
                                      "rsa_private_key_file=" + Key + "\n"
                                      "xferlog_enable=NO\n"
                                      "vsftpd_log_file=" + ConfDir + "/vsftpd.log\n" + Extra);
  if (!Process.Start({"vsftpd", ConfDir + "/vsftpd.conf"}, ConfDir, ConfDir + "/vsftpd.out")) return false;
  return WaitForPort(Port);
}

}  // namespace tlsproxyservers

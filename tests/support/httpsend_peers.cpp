#include "support/httpsend_peers.h"

#include <filesystem>

namespace testsupport {

namespace {

bool MakeCertificate(const TempDir& Dir) {
  const RunResult Made = RunProcess({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                                     "ec_paramgen_curve:prime256v1", "-nodes", "-keyout", Dir / "key.pem",
                                     "-out", Dir / "cert.pem", "-days", "2", "-subj", "/CN=localhost"},
                                    "", {}, 60);
  return Made.ExitCode == 0;
}

std::string NginxConfig(const TempDir& Dir, int Port, int TlsPort) {
  const std::string Root = Dir / "www";
  std::string Config =
      "daemon off;\nmaster_process off;\nworker_processes 1;\n"
      "error_log " + Dir / "error.log" + " warn;\npid " + Dir / "nginx.pid" + ";\n"
      "events { worker_connections 256; }\n"
      "http {\n"
      "  log_format tarvo '$connection $connection_requests $request $status';\n"
      "  access_log " + Dir / "access.log" + " tarvo;\n"
      "  client_body_temp_path " + Dir / "body" + ";\n"
      "  proxy_temp_path " + Dir / "proxy" + ";\n"
      "  fastcgi_temp_path " + Dir / "fastcgi" + ";\n"
      "  uwsgi_temp_path " + Dir / "uwsgi" + ";\n"
      "  scgi_temp_path " + Dir / "scgi" + ";\n"
      "  default_type application/octet-stream;\n"
      "  types { text/plain txt; text/html html; }\n"
      "  keepalive_requests 100000;\n"
      "  sendfile on;\n"
      "  server {\n"
      "    listen 127.0.0.1:" + std::to_string(Port) + ";\n"
      "    root " + Root + ";\n"
      "    location /dav/ { dav_methods PUT DELETE; create_full_put_path on; client_max_body_size 0; }\n"
      "    location /sub/ { sub_filter 'needle' 'NEEDLE'; sub_filter_once off; sub_filter_types *; }\n"
      "  }\n";
  if (TlsPort != 0)
    Config += "  server {\n"
              "    listen 127.0.0.1:" + std::to_string(TlsPort) + " ssl;\n"
              "    ssl_certificate " + Dir / "cert.pem" + ";\n"
              "    ssl_certificate_key " + Dir / "key.pem" + ";\n"
              "    root " + Root + ";\n"
              "  }\n";
  return Config + "}\n";
}

}  // namespace

bool HttpsendNginx::Start(bool WithTls) {
  std::filesystem::create_directories(Dir_ / "www/dav");
  std::filesystem::create_directories(Dir_ / "www/sub");
  if (WithTls && !MakeCertificate(Dir_)) return false;
  Port_ = FreePort();
  TlsPort_ = WithTls ? FreePort() : 0;
  WriteFile(Dir_ / "nginx.conf", NginxConfig(Dir_, Port_, TlsPort_));
  if (!Process_.Start({"nginx", "-p", Dir_.Path(), "-c", Dir_ / "nginx.conf"}, Dir_.Path(), Dir_ / "stderr.log"))
    return false;
  return WaitForPort(Port_) && (TlsPort_ == 0 || WaitForPort(TlsPort_));
}

std::string HttpsendNginx::Url(const std::string& Path) const {
  return "http://127.0.0.1:" + std::to_string(Port_) + Path;
}

std::string HttpsendNginx::TlsUrl(const std::string& Path) const {
  return "https://127.0.0.1:" + std::to_string(TlsPort_) + Path;
}

bool HttpsendTinyproxy::Start(const std::string& User, const std::string& Password) {
  Port_ = FreePort();
  std::string Config = "Port " + std::to_string(Port_) + "\nListen 127.0.0.1\nTimeout 60\nMaxClients 32\n"
                       "Allow 127.0.0.1\nLogLevel Info\nLogFile \"" + Dir_ / "tinyproxy.log" + "\"\n"
                       "PidFile \"" + Dir_ / "tinyproxy.pid" + "\"\nUser root\nGroup root\n"
                       "DisableViaHeader Yes\n";
  if (!User.empty()) Config += "BasicAuth " + User + " " + Password + "\n";
  WriteFile(Dir_ / "tinyproxy.conf", Config);
  if (!Process_.Start({"tinyproxy", "-d", "-c", Dir_ / "tinyproxy.conf"}, Dir_.Path(), Dir_ / "stderr.log"))
    return false;
  return WaitForPort(Port_);
}

}  // namespace testsupport

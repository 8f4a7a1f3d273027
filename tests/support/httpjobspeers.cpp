#include "support/httpjobspeers.h"

#include <sys/stat.h>

#include <filesystem>

namespace testsupport {

namespace {

std::string NginxConfig(const std::string& Work, const std::string& Root, int Port, int TlsPort,
                        const TNginxOptions& Options) {
  std::string Server =
      "    root " + Root + ";\n"
      "    location / {\n"
      "      dav_methods PUT DELETE;\n"
      "      create_full_put_path on;\n"
      "      dav_access user:rw group:r all:r;\n"
      "    }\n";
  if (Options.UploadPort)
    Server += "    location /upload/ { proxy_pass http://127.0.0.1:" + std::to_string(Options.UploadPort) + "; }\n";
  std::string Config =
      "daemon off;\nmaster_process off;\nworker_processes 1;\n"
      "pid " + Work + "/nginx.pid;\nerror_log " + Work + "/error.log;\n"
      "events { worker_connections 256; }\n"
      "http {\n"
      "  include /etc/nginx/mime.types;\n"
      "  default_type application/octet-stream;\n"
      "  log_format brief '$request_method $request_uri $status';\n"
      "  access_log " + Work + "/access.log brief;\n"
      "  client_max_body_size 0;\n"
      "  client_body_temp_path " + Work + "/body;\n  proxy_temp_path " + Work + "/proxy;\n"
      "  fastcgi_temp_path " + Work + "/fastcgi;\n  uwsgi_temp_path " + Work + "/uwsgi;\n"
      "  scgi_temp_path " + Work + "/scgi;\n"
      "  server {\n    listen 127.0.0.1:" + std::to_string(Port) + ";\n" + Server + "  }\n";
  if (Options.Tls)
    Config += "  server {\n    listen 127.0.0.1:" + std::to_string(TlsPort) + " ssl;\n"
              "    ssl_certificate " + Work + "/cert.pem;\n    ssl_certificate_key " + Work + "/key.pem;\n" +
              Server + "  }\n";
  return Config + "}\n";
}

}  // namespace

bool TNginxPeer::Start(const std::string& Root, const TNginxOptions& Options) {
  const std::string Work = Work_.Path();
  if (Options.Tls) {
    const RunResult Cert = RunProcess({"openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-subj",
                                       "/CN=localhost", "-days", "2", "-keyout", Work + "/key.pem", "-out",
                                       Work + "/cert.pem"});
    if (Cert.ExitCode != 0) return false;
  }
  Port_ = FreePort();
  TlsPort_ = Options.Tls ? FreePort() : 0;
  if (TlsPort_ == Port_) TlsPort_ = FreePort();
  WriteFile(Work + "/nginx.conf", NginxConfig(Work, Root, Port_, TlsPort_, Options));
  if (!Process_.Start({"nginx", "-p", Work, "-e", Work + "/error.log", "-c", Work + "/nginx.conf"}, Work,
                      Work + "/stderr.log"))
    return false;
  if (!WaitForPort(Port_)) return false;
  return !Options.Tls || WaitForPort(TlsPort_);
}

std::string TNginxPeer::Url(const std::string& Path) const {
  return "http://127.0.0.1:" + std::to_string(Port_) + Path;
}

std::string TNginxPeer::TlsUrl(const std::string& Path) const {
  return "https://127.0.0.1:" + std::to_string(TlsPort_) + Path;
}

std::string TNginxPeer::AccessLog() const { return ReadFile(Work_.Path() + "/access.log"); }

bool TPhpUploadPeer::Start(const std::string& Root) {
  Port_ = FreePort();
  const std::string Router = std::string(TARVO_SOURCE_DIR) + "/tests/data/httpjobs/upload_router.php";
  if (!Process_.Start({"php", "-S", "127.0.0.1:" + std::to_string(Port_), "-t", Root, Router}, Root)) return false;
  return WaitForPort(Port_);
}

std::string TPhpUploadPeer::Url(const std::string& Path) const {
  return "http://127.0.0.1:" + std::to_string(Port_) + Path;
}

bool TTinyproxyPeer::Start(int AllowedConnectPort) {
  Port_ = FreePort();
  const std::string Work = Work_.Path();
  WriteFile(Work + "/tinyproxy.conf",
            "Port " + std::to_string(Port_) + "\nListen 127.0.0.1\nTimeout 30\nMaxClients 20\n"
            "Allow 127.0.0.1\nConnectPort " + std::to_string(AllowedConnectPort) + "\n"
            "LogFile \"" + Work + "/tinyproxy.log\"\nLogLevel Info\nDisableViaHeader Yes\n");
  if (!Process_.Start({"tinyproxy", "-d", "-c", Work + "/tinyproxy.conf"}, Work)) return false;
  return WaitForPort(Port_);
}

RunResult RunJobFile(const std::string& Dir, const std::string& Ini, const std::vector<std::string>& Env,
                     std::vector<std::string> Wrapper) {
  WriteFile(Dir + "/job.ini", Ini);
  Wrapper.insert(Wrapper.end(), {TARVO_EXE, "job.ini"});
  return RunProcess(Wrapper, Dir, Env, 120);
}

std::vector<std::string> JobLines(const RunResult& Run) {
  std::vector<std::string> Lines = StripStamps(Run.Output);
  Lines.erase(Lines.begin(), Lines.begin() + std::min<std::size_t>(2, Lines.size()));
  return Lines;
}

long long FileMTime(const std::string& Path) {
  struct stat Info;
  if (stat(Path.c_str(), &Info) != 0) return -1;
  return static_cast<long long>(Info.st_mtime);
}

}  // namespace testsupport

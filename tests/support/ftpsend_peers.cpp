#include "support/ftpsend_peers.h"

#include <sys/stat.h>

#include <sstream>

namespace testsupport {

namespace {

const std::string SupportDir = std::string(TARVO_SOURCE_DIR) + "/tests/support/";

// A port can be taken between FreePort and the server's bind; try a few.
template <typename StartFn>
int StartOnFreePort(BackgroundProcess& Process, const std::string& Host, StartFn Launch) {
  for (int Attempt = 0; Attempt < 5; ++Attempt) {
    const int Port = FreePort();
    if (!Launch(Port)) return 0;
    if (WaitForPort(Port, 10000, Host)) return Port;
    Process.Stop();
  }
  return 0;
}

}  // namespace

bool FtpsendScriptServer::Start(const TempDir& Dir, const std::string& Script, const std::string& Host) {
  const std::string ScriptFile = Dir / "ftp-script.txt";
  RecordFile_ = Dir / "ftp-commands.txt";
  WriteFile(ScriptFile, Script);
  Port_ = StartOnFreePort(Process_, Host, [&](int Port) {
    return Process_.Start({"/usr/bin/python3", SupportDir + "ftpsend_script_server.py", "--port", std::to_string(Port),
                           "--host", Host, "--script", ScriptFile, "--record", RecordFile_},
                          "", Dir / "ftp-script-server.log");
  });
  return Port_ != 0;
}

std::vector<std::string> FtpsendScriptServer::Commands() const {
  std::vector<std::string> Lines;
  std::istringstream In(ReadFile(RecordFile_));
  std::string Line;
  while (std::getline(In, Line)) Lines.push_back(Line);
  return Lines;
}

bool FtpsendPyftpdlib::Start(const std::string& Root, const std::string& User, const std::string& Password,
                             const std::string& Host) {
  Port_ = StartOnFreePort(Process_, Host, [&](int Port) {
    return Process_.Start({"/usr/bin/python3", SupportDir + "ftpsend_pyftpdlib_server.py", std::to_string(Port), Root,
                           User, Password, Host});
  });
  return Port_ != 0;
}

bool FtpsendVsftpd::Start(const std::string& Root, const std::string& ConfigDir) {
  // vsftpd refuses an anonymous root the anonymous user can write to, so
  // the writable place is the subdirectory "pub".
  chmod(Root.c_str(), 0755);
  mkdir((Root + "/pub").c_str(), 0777);
  chmod((Root + "/pub").c_str(), 0777);
  Port_ = StartOnFreePort(Process_, "127.0.0.1", [&](int Port) {
    const std::string Config = ConfigDir + "/vsftpd.conf";
    WriteFile(Config,
              "listen=YES\nlisten_ipv6=NO\nlisten_address=127.0.0.1\nlisten_port=" + std::to_string(Port) +
                  "\nbackground=NO\nanonymous_enable=YES\nlocal_enable=NO\nno_anon_password=YES\n"
                  "anon_root=" + Root +
                  "\nwrite_enable=YES\nanon_upload_enable=YES\nanon_mkdir_write_enable=YES\n"
                  "anon_other_write_enable=YES\nanon_world_readable_only=NO\nanon_umask=022\n"
                  "allow_writeable_chroot=YES\nsecure_chroot_dir=/var/run/vsftpd/empty\n"
                  "pasv_enable=YES\nport_enable=YES\nconnect_from_port_20=NO\nseccomp_sandbox=NO\n"
                  "xferlog_enable=NO\nuse_localtime=YES\ndual_log_enable=NO\n"
                  "vsftpd_log_file=" + ConfigDir + "/vsftpd.log\n");
    return Process_.Start({"/usr/sbin/vsftpd", Config}, "", ConfigDir + "/vsftpd.out");
  });
  return Port_ != 0;
}

}  // namespace testsupport

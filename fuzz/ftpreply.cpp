// The FTP reply reader on a server's whole side of a session: greeting,
// logon (any firewall mode), the probes after it and a few commands whose
// replies carry values (PWD, SIZE), with every reply line also read as a
// PASV and an EPSV answer. Input: mode byte, then the server's bytes.
#include <charconv>
#include <cstdlib>
#include <string>

#include "fuzz/support/fuzzpeer.h"
#include "protocols/ftpsend.h"

namespace {

// A PASV port is "0" (invalid) or a port number; EPSV gives digits only.
void CheckPassiveReplies(TFTPSend& Ftp, const std::string& Line) {
  Ftp.ParsePassiveReply(Line);
  int Port = -1;
  const std::string& Text = Ftp.DataPort();
  const auto [End, Error] = std::from_chars(Text.data(), Text.data() + Text.size(), Port);
  if (Error != std::errc() || End != Text.data() + Text.size() || Port < 0 || Port > 65535) std::abort();
  Ftp.ParseExtendedPassiveReply(Line);
  if (Ftp.DataPort().find_first_not_of("0123456789") != std::string::npos) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  TFuzzInput Input(Data, Size);
  const std::uint8_t Mode = Input.Byte();
  TFTPSend Ftp;
  Ftp.Timeout = 2000;
  Ftp.TargetHost = "127.0.0.1";
  if (Mode & 0x10) {
    Ftp.FWHost = "127.0.0.1";
    Ftp.FWUsername = "fwuser";
    Ftp.FWPassword = "fwpass";
    Ftp.FWMode = (Mode & 0x0F) % 9;
  }
  Ftp.Account = "acct";
  Ftp.OnStatus = [](TFTPSend& Sender, bool Response, const std::string& Value) {
    if (Response) CheckPassiveReplies(Sender, Value);
  };
  TFuzzPeer Server;
  Server.Send(Input.Rest());
  Server.Finish();
  Server.Arm(Ftp.Sock());
  if (Ftp.LogOn()) {
    Ftp.QueryCurrentDirectory();
    if (Ftp.QueryFileSize("file.bin") < -1) std::abort();
    Ftp.ChangeDirectory("dir");
    Ftp.KeepAliveNoop();
  }
  Ftp.LogOff();
  return 0;
}

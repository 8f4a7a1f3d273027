// The HTTP CONNECT reply reader: the proxy's status line and header lines
// up to the empty line, within the line and byte limits; then what follows
// belongs to the tunnel. Input: mode byte, then the proxy's bytes.
#include <string>

#include "fuzz/support/fuzzpeer.h"
#include "net/blocksock.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  TFuzzInput Input(Data, Size);
  const std::uint8_t Mode = Input.Byte();
  TTCPBlockSocket Sock;
  Sock.HTTPTunnelIP = "127.0.0.1";
  Sock.HTTPTunnelPort = "3128";
  Sock.HTTPTunnelTimeout = 2000;
  Sock.ConvertLineEnd = (Mode & 0x01) != 0;
  if (Mode & 0x02) {
    Sock.HTTPTunnelUser = "user";
    Sock.HTTPTunnelPass = "secret";
  }
  TFuzzPeer Proxy;
  Proxy.Send(Input.Rest());
  Proxy.Finish();
  Proxy.Arm(Sock);
  Sock.Connect((Mode & 0x04) ? "2001:db8::7" : "files.example", "443");
  Sock.RemoteAddress();
  Sock.RemotePort();
  if (Sock.LastErrorCode == 0) Sock.ReceiveLine(0);
  return 0;
}

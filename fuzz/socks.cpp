// The SOCKS 4/4a/5 reply readers: method choice, authentication verdict,
// CONNECT reply with every address type, and BIND's two replies. Input:
// mode byte, then the proxy's bytes.
#include <string>

#include "fuzz/support/fuzzpeer.h"
#include "net/blocksock.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  TFuzzInput Input(Data, Size);
  const std::uint8_t Mode = Input.Byte();
  TTCPBlockSocket Sock;
  Sock.SocksIP = "127.0.0.1";
  Sock.SocksTimeout = 2000;
  Sock.SocksType = (Mode & 0x01) ? ST_Socks4 : ST_Socks5;
  if (Mode & 0x02) {
    Sock.SocksUsername = "user";
    Sock.SocksPassword = "secret";
  }
  static const char* const kHosts[] = {"files.example", "192.0.2.7", "2001:db8::7", ""};
  TFuzzPeer Proxy;
  Proxy.Send(Input.Rest());
  Proxy.Finish();
  Proxy.Arm(Sock);
  if (Mode & 0x04) {
    Sock.Listen();
    if (Sock.LastErrorCode == 0) Sock.Accept();
  } else {
    Sock.Connect(kHosts[(Mode >> 3) & 0x03], "443");
  }
  Sock.LocalAddress();
  Sock.LocalPort();
  Sock.RemoteAddress();
  Sock.RemotePort();
  if (Sock.LastErrorCode == 0) Sock.ReceivePacket(0);
  return 0;
}

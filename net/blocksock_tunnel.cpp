// Proxy tunnels of the stream socket: SOCKS 4, 4a and 5, and HTTP CONNECT.
// While a negotiation runs, RawMode keeps reads and writes out of TLS:
// the proxy speaks in the clear even when the tunnel will carry TLS.
#include <arpa/inet.h>
#include <netdb.h>

#include <cstring>

#include "net/blocksock.h"
#include "util/codec.h"
#include "util/textutil.h"

namespace {

// A proxy's CONNECT reply is a status line and a few headers; more lines or
// bytes than these mean a broken or hostile proxy, not a slow one.
constexpr int TunnelReplyLineLimit = 100;
constexpr std::int64_t TunnelReplyByteLimit = 64 * 1024;
constexpr std::int32_t TunnelReplyLineLength = 8192;

// A SOCKS5 name, user or password travels behind a one-byte length.
constexpr std::size_t SocksFieldLimit = 255;

constexpr std::uint8_t Socks5Version = 5;
constexpr std::uint8_t SocksAddressIPv4 = 1;
constexpr std::uint8_t SocksAddressName = 3;
constexpr std::uint8_t SocksAddressIPv6 = 4;

std::uint8_t ByteAt(const std::string& Bytes, std::size_t Index) { return static_cast<std::uint8_t>(Bytes[Index]); }

int PortAt(const std::string& Bytes, std::size_t Index) { return (ByteAt(Bytes, Index) << 8) | ByteAt(Bytes, Index + 1); }

std::string PortBytes(std::uint16_t Port) {
  return std::string{static_cast<char>(Port >> 8), static_cast<char>(Port & 0xFF)};
}

std::string DottedAddress(const std::string& Bytes, std::size_t Index) {
  return std::to_string(ByteAt(Bytes, Index)) + "." + std::to_string(ByteAt(Bytes, Index + 1)) + "." +
         std::to_string(ByteAt(Bytes, Index + 2)) + "." + std::to_string(ByteAt(Bytes, Index + 3));
}

std::string IPv6Bytes(const std::string& Host) {
  std::string Bytes(16, '\0');
  addrinfo Hints{};
  Hints.ai_family = AF_INET6;
  Hints.ai_flags = AI_NUMERICHOST;
  addrinfo* Found = nullptr;
  if (getaddrinfo(Host.c_str(), nullptr, &Hints, &Found) != 0) return Bytes;
  const auto* Address = reinterpret_cast<const sockaddr_in6*>(Found->ai_addr);
  std::memcpy(Bytes.data(), &Address->sin6_addr, 16);
  freeaddrinfo(Found);
  return Bytes;
}

std::string IPv6Text(const std::string& Bytes, std::size_t Index) {
  in6_addr Address{};
  std::memcpy(&Address, Bytes.data() + Index, 16);
  char Text[INET6_ADDRSTRLEN] = {};
  if (inet_ntop(AF_INET6, &Address, Text, sizeof(Text)) == nullptr) return {};
  return Text;
}

// Decimal text to a number; 0 when it is not one.
int DecimalOrZero(const std::string& Text) {
  if (Text.empty() || Text.size() > 9) return 0;
  int Value = 0;
  for (const char Digit : Text) {
    if (Digit < '0' || Digit > '9') return 0;
    Value = Value * 10 + (Digit - '0');
  }
  return Value;
}

// Sets RawMode for the life of a negotiation step and puts it back after.
class TRawModeScope {
 public:
  explicit TRawModeScope(bool& Flag) : Flag_(Flag), Saved_(Flag) { Flag_ = true; }
  ~TRawModeScope() { Flag_ = Saved_; }
  TRawModeScope(const TRawModeScope&) = delete;
  TRawModeScope& operator=(const TRawModeScope&) = delete;

 private:
  bool& Flag_;
  bool Saved_;
};

// Holds MaxLineLength at a bound while a proxy's reply is read.
class TLineLengthScope {
 public:
  TLineLengthScope(std::int32_t& Setting, std::int32_t Bound) : Setting_(Setting), Saved_(Setting) { Setting_ = Bound; }
  ~TLineLengthScope() { Setting_ = Saved_; }
  TLineLengthScope(const TLineLengthScope&) = delete;
  TLineLengthScope& operator=(const TLineLengthScope&) = delete;

 private:
  std::int32_t& Setting_;
  std::int32_t Saved_;
};

}  // namespace

// ---------------------------------------------------------------------------
// SOCKS

void TSocksBlockSocket::ConnectViaSocks(const std::string& Host, const std::string& Port) {
  TBlockSocket::Connect(SocksIP, SocksPort);
  if (LastErrorCode == 0) {
    const bool Done = SocksGreeting() && SocksSendRequest(1, Host, Port) && SocksReadReply();
    if (!Done && LastErrorCode == 0) LastErrorCode = WSASYSNOTREADY;
  }
  ProxiedLocalAddress = SocksBoundAddress;
  ProxiedLocalPort = SocksBoundPort;
  ProxiedRemoteAddress = Host;
  ProxiedRemotePort = Port;
  CheckError();
  DoStatus(HS_Connected, Host + ":" + Port);
}

bool TSocksBlockSocket::SocksGreeting() {
  ViaSocks = false;
  if (SocksType == ST_Socks4) {
    ViaSocks = true;
    return true;
  }
  const TRawModeScope Raw(RawMode);
  SendText(SocksUsername.empty() ? std::string("\x05\x01\x00", 3) : std::string("\x05\x02\x02\x00", 4));
  if (LastErrorCode != 0) return false;
  const std::string Choice = ReceiveExact(2, SocksTimeout);
  if (Choice.size() < 2 || ByteAt(Choice, 0) != Socks5Version) return false;
  const std::uint8_t Method = ByteAt(Choice, 1);
  if (Method == 2) {
    // The lengths travel in one byte each: a longer name or password cannot
    // be sent, and cutting its length byte would garble the exchange.
    if (SocksUsername.size() > SocksFieldLimit || SocksPassword.size() > SocksFieldLimit) return false;
    SendText(std::string(1, '\x01') + static_cast<char>(SocksUsername.size()) + SocksUsername +
             static_cast<char>(SocksPassword.size()) + SocksPassword);
    if (LastErrorCode != 0) return false;
    const std::string Verdict = ReceiveExact(2, SocksTimeout);
    if (Verdict.size() < 2 || ByteAt(Verdict, 1) != 0) return false;
  } else if (Method != 0) {
    return false;
  }
  ViaSocks = true;
  return true;
}

bool TSocksBlockSocket::SocksSendRequest(std::uint8_t Command, const std::string& Host, const std::string& Port) {
  const TRawModeScope Raw(RawMode);
  const std::string Address = SocksEncodeAddress(Host, Port);
  // An address that cannot be encoded (a name too long for its length
  // byte) is refused here rather than sent cut short.
  if (Address.empty()) return false;
  if (SocksType == ST_Socks5) {
    SendText(std::string{'\x05', static_cast<char>(Command), '\x00'} + Address);
  } else {
    SendText(std::string{'\x04', static_cast<char>(Command)} + Address);
  }
  return LastErrorCode == 0;
}

std::string TSocksBlockSocket::SocksEncodeAddress(const std::string& Host, const std::string& Port) {
  const std::string Target = SocksResolver ? Host : ResolveName(Host);
  const std::string PortPart = PortBytes(ResolvePort(Port));
  if (SocksType == ST_Socks4) {
    if (IsIPv4Literal(Target)) return PortPart + IPv4ToBytes(Target) + SocksUsername + '\0';
    // SOCKS 4a: the invalid address 0.0.0.1 asks the proxy to resolve the
    // name that follows the user id.
    return PortPart + std::string("\x00\x00\x00\x01", 4) + SocksUsername + '\0' + Target + '\0';
  }
  if (IsIPv4Literal(Target)) return static_cast<char>(SocksAddressIPv4) + IPv4ToBytes(Target) + PortPart;
  if (IsIPv6Literal(Target)) return static_cast<char>(SocksAddressIPv6) + IPv6Bytes(Target) + PortPart;
  if (Target.size() > SocksFieldLimit) return {};
  return std::string{static_cast<char>(SocksAddressName), static_cast<char>(Target.size())} + Target + PortPart;
}

bool TSocksBlockSocket::SocksReadReply() {
  const TRawModeScope Raw(RawMode);
  SocksBoundAddress.clear();
  SocksBoundPort.clear();
  SocksReplyCode = -1;
  std::string Reply;
  if (SocksType == ST_Socks4) {
    Reply = ReceiveExact(8, SocksTimeout);
    if (LastErrorCode != 0 || Reply.size() < 8 || ByteAt(Reply, 0) != 0) return false;
  } else {
    Reply = ReceiveExact(4, SocksTimeout);
    if (LastErrorCode != 0 || Reply.size() < 4 || ByteAt(Reply, 0) != Socks5Version) return false;
    std::string Address;
    std::size_t Expected = 0;
    switch (ByteAt(Reply, 3)) {
      case SocksAddressIPv4:
        Expected = 4;
        Address = ReceiveExact(4, SocksTimeout);
        break;
      case SocksAddressName: {
        const std::uint8_t Length = ReceiveByte(SocksTimeout);
        if (LastErrorCode != 0) return false;
        Expected = 1u + Length;
        Address = static_cast<char>(Length) + ReceiveExact(Length, SocksTimeout);
        break;
      }
      case SocksAddressIPv6:
        Expected = 16;
        Address = ReceiveExact(16, SocksTimeout);
        break;
      default:
        return false;
    }
    if (LastErrorCode != 0 || Address.size() != Expected) return false;
    const std::string Port = ReceiveExact(2, SocksTimeout);
    if (LastErrorCode != 0 || Port.size() != 2) return false;
    Reply += Address + Port;
  }
  SocksReplyCode = ByteAt(Reply, 1);
  // Each version has its one success code; the other's is a refusal.
  if (SocksReplyCode != (SocksType == ST_Socks4 ? 90 : 0)) return false;
  SocksDecodeAddress(Reply);
  return true;
}

void TSocksBlockSocket::SocksDecodeAddress(const std::string& Reply) {
  SocksBoundPort = "0";
  if (SocksType == ST_Socks4) {
    if (Reply.size() < 8) return;
    SocksBoundPort = std::to_string(PortAt(Reply, 2));
    SocksBoundAddress = DottedAddress(Reply, 4);
    return;
  }
  if (Reply.size() < 4) return;
  switch (ByteAt(Reply, 3)) {
    case SocksAddressIPv4:
      if (Reply.size() < 10) return;
      SocksBoundAddress = DottedAddress(Reply, 4);
      SocksBoundPort = std::to_string(PortAt(Reply, 8));
      return;
    case SocksAddressName: {
      if (Reply.size() < 5) return;
      const std::size_t Length = ByteAt(Reply, 4);
      if (Reply.size() < Length + 7) return;
      SocksBoundAddress = Reply.substr(5, Length);
      SocksBoundPort = std::to_string(PortAt(Reply, 5 + Length));
      return;
    }
    case SocksAddressIPv6:
      if (Reply.size() < 22) return;
      SocksBoundAddress = IPv6Text(Reply, 4);
      SocksBoundPort = std::to_string(PortAt(Reply, 20));
      return;
    default:
      return;
  }
}

void TSocksBlockSocket::SocksListen() {
  // The real local endpoint, not a proxied one left from an earlier
  // connection of this object.
  std::string OwnAddress = TBlockSocket::LocalAddress();
  if (OwnAddress == "0.0.0.0") OwnAddress = LocalHostName();
  const std::string OwnPort = std::to_string(TBlockSocket::LocalPort());
  TBlockSocket::Connect(SocksIP, SocksPort);
  const bool Done = SocksGreeting() && SocksSendRequest(2, OwnAddress, OwnPort) && SocksReadReply();
  if (!Done && LastErrorCode == 0) LastErrorCode = WSANO_RECOVERY;
  ProxiedLocalAddress = SocksBoundAddress == "0.0.0.0" ? SocksIP : SocksBoundAddress;
  ProxiedLocalPort = SocksBoundPort;
  ProxiedRemoteAddress.clear();
  ProxiedRemotePort.clear();
}

TSocket TSocksBlockSocket::SocksAccept() {
  if (!SocksReadReply() && LastErrorCode == 0) LastErrorCode = WSANO_RECOVERY;
  ProxiedRemoteAddress = SocksBoundAddress;
  ProxiedRemotePort = SocksBoundPort;
  return SocketHandle;
}

// ---------------------------------------------------------------------------
// HTTP CONNECT

void TTCPBlockSocket::OpenHttpTunnel(const std::string& Host, const std::string& Port) {
  const std::string PortText = std::to_string(ResolvePort(Port));
  const TRawModeScope Raw(RawMode);
  TBlockSocket::Connect(HTTPTunnelIP, HTTPTunnelPort);
  if (LastErrorCode != 0) return;
  ViaHttpTunnel = false;
  const std::string Target = IsIPv6Literal(Host) ? "[" + Host + "]" : Host;
  SendText("CONNECT " + Target + ":" + PortText + " HTTP/1.0\r\n");
  if (LastErrorCode == 0 && !HTTPTunnelUser.empty())
    SendText("Proxy-Authorization: Basic " + Base64Encode(HTTPTunnelUser + ":" + HTTPTunnelPass) + "\r\n");
  if (LastErrorCode == 0) SendText("\r\n");
  if (LastErrorCode == 0) ReadTunnelReply();
  if (LastErrorCode == 0 && !ViaHttpTunnel) LastErrorCode = WSASYSNOTREADY;
  TunnelRemoteAddress = Target;
  TunnelRemotePort = PortText;
  CheckError();
}

void TTCPBlockSocket::ReadTunnelReply() {
  // Bounded: a proxy that sends endless lines, or one endless line, ends
  // the negotiation as a refusal instead of growing without limit.
  const TLineLengthScope LineLength(MaxLineLength, TunnelReplyLineLength);
  std::int64_t Total = 0;
  for (int Lines = 1;; ++Lines) {
    const std::string Line = ReceiveUntil(HTTPTunnelTimeout, "\n");
    if (LastErrorCode != 0) break;
    Total += static_cast<std::int64_t>(Line.size()) + 1;
    if (Lines > TunnelReplyLineLimit || Total > TunnelReplyByteLimit) {
      LastErrorCode = WSASYSNOTREADY;
      break;
    }
    // The status line's first digit is its tenth byte: "HTTP/1.x 2..".
    if (Line.size() > 11 && Line.compare(0, 5, "HTTP/") == 0) ViaHttpTunnel = Line[9] == '2';
    if (Line.empty() || Line == "\r") break;
  }
  if (LastErrorCode == WSAENOBUFS) LastErrorCode = WSASYSNOTREADY;
}

// ---------------------------------------------------------------------------
// Addresses as the peer sees them

std::string TTCPBlockSocket::LocalAddress() {
  if (ViaSocks) return ProxiedLocalAddress;
  return TBlockSocket::LocalAddress();
}

std::string TTCPBlockSocket::RemoteAddress() {
  if (ViaSocks) return ProxiedRemoteAddress;
  if (ViaHttpTunnel) return TunnelRemoteAddress;
  return TBlockSocket::RemoteAddress();
}

int TTCPBlockSocket::LocalPort() {
  if (ViaSocks) return DecimalOrZero(ProxiedLocalPort);
  return TBlockSocket::LocalPort();
}

int TTCPBlockSocket::RemotePort() {
  if (ViaSocks) return ResolvePort(ProxiedRemotePort);
  if (ViaHttpTunnel) return DecimalOrZero(TunnelRemotePort);
  return TBlockSocket::RemotePort();
}

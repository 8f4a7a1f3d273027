// Proxy tunnels of the stream socket: SOCKS 4, 4a and 5, and HTTP CONNECT.
#include "net/blocksock.h"

void TSocksBlockSocket::ConnectViaSocks(const std::string& Host, const std::string& Port) {
  LastErrorCode = WSASYSNOTREADY;
  CheckError();
  DoStatus(HS_Connected, Host + ":" + Port);
}

bool TSocksBlockSocket::SocksGreeting() { return false; }

bool TSocksBlockSocket::SocksSendRequest(std::uint8_t, const std::string&, const std::string&) { return false; }

bool TSocksBlockSocket::SocksReadReply() { return false; }

std::string TSocksBlockSocket::SocksEncodeAddress(const std::string&, const std::string&) { return {}; }

void TSocksBlockSocket::SocksDecodeAddress(const std::string&) {}

void TSocksBlockSocket::SocksListen() { LastErrorCode = WSANO_RECOVERY; }

TSocket TSocksBlockSocket::SocksAccept() {
  LastErrorCode = WSANO_RECOVERY;
  return SocketHandle;
}

void TTCPBlockSocket::OpenHttpTunnel(const std::string&, const std::string&) {
  LastErrorCode = WSASYSNOTREADY;
  CheckError();
}

std::string TTCPBlockSocket::LocalAddress() { return TBlockSocket::LocalAddress(); }

std::string TTCPBlockSocket::RemoteAddress() { return TBlockSocket::RemoteAddress(); }

int TTCPBlockSocket::LocalPort() { return TBlockSocket::LocalPort(); }

int TTCPBlockSocket::RemotePort() { return TBlockSocket::RemotePort(); }

// The Windows side of the sockets interface: Winsock 2, whose error numbers
// are the ones the program uses everywhere, so nothing is mapped.
#include "net/sockapi.h"

#include <algorithm>
#include <climits>
#include <mutex>

#include "net/sockerrors.h"

namespace {

std::mutex InterfaceLock;
int InterfaceUsers = 0;

int ByteCount(std::int64_t Length) { return static_cast<int>(std::clamp<std::int64_t>(Length, 0, INT_MAX)); }

// Winsock has no per-call "don't wait" flag: the socket is switched to
// non-blocking mode for the one call and back, so every other call keeps
// the blocking behaviour its caller expects.
class TNonBlockingScope {
 public:
  explicit TNonBlockingScope(SOCKET Handle) : Handle_(Handle) { Switch(1); }
  ~TNonBlockingScope() {
    const int Saved = WSAGetLastError();
    Switch(0);
    WSASetLastError(Saved);
  }
  TNonBlockingScope(const TNonBlockingScope&) = delete;
  TNonBlockingScope& operator=(const TNonBlockingScope&) = delete;

 private:
  void Switch(u_long On) { ioctlsocket(Handle_, FIONBIO, &On); }
  SOCKET Handle_;
};

}  // namespace

std::int32_t WinsockErrorFromErrno(int ErrnoValue) {
  // Only C library calls set errno here; none of them is a socket call.
  return ErrnoValue == 0 ? 0 : 10107;  // WSASYSCALLFAILURE
}

// The resolver's results are Windows Sockets numbers already (EAI_NONAME
// is WSAHOST_NOT_FOUND, ...).
std::int32_t WinsockErrorFromResolver(int ResolverCode, int) { return ResolverCode; }

std::int32_t LastSocketError() { return WSAGetLastError(); }

bool LoadSocketInterface(const std::string&) {
  const std::lock_guard<std::mutex> Guard(InterfaceLock);
  // Winsock counts its own start-ups; one per user keeps the pairing with
  // WSACleanup exact.
  WSADATA Data;
  if (WSAStartup(MAKEWORD(2, 2), &Data) != 0) return false;
  if (LOBYTE(Data.wVersion) != 2 || HIBYTE(Data.wVersion) != 2) {
    WSACleanup();
    return false;
  }
  ++InterfaceUsers;
  return true;
}

void UnloadSocketInterface() {
  const std::lock_guard<std::mutex> Guard(InterfaceLock);
  if (InterfaceUsers == 0) return;
  --InterfaceUsers;
  WSACleanup();
}

int SocketInterfaceUsers() {
  const std::lock_guard<std::mutex> Guard(InterfaceLock);
  return InterfaceUsers;
}

bool SystemKnowsService(const std::string& Name) {
  // Winsock keeps the result per thread, so the call is safe in threads.
  return getservbyname(Name.c_str(), "tcp") != nullptr;
}

TSocket OpenSocketHandle(int Family, int Type, int Protocol) {
  return WSASocketW(Family, Type, Protocol, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
}

void CloseSocketHandle(TSocket Handle) { closesocket(Handle); }

int ConnectSocketWithin(TSocket Handle, const TSocketAddress& Address, std::int32_t Timeout) {
  const TNonBlockingScope Scope(Handle);
  if (connect(Handle, &Address.Any, Address.Length()) == 0) return 0;
  if (WSAGetLastError() != WSAEWOULDBLOCK) return -1;
  // select() reports a refused connect in the exception set; WSAPoll does
  // not do so reliably on every Windows release.
  fd_set Writable;
  fd_set Failed;
  FD_ZERO(&Writable);
  FD_ZERO(&Failed);
  FD_SET(Handle, &Writable);
  FD_SET(Handle, &Failed);
  timeval Limit{};
  Limit.tv_sec = Timeout / 1000;
  Limit.tv_usec = (Timeout % 1000) * 1000;
  const int Ready = select(0, nullptr, &Writable, &Failed, Timeout < 0 ? nullptr : &Limit);
  if (Ready < 0) return -1;
  if (Ready == 0) {
    WSASetLastError(WSAETIMEDOUT);
    return -1;
  }
  int Error = 0;
  int Length = sizeof(Error);
  if (getsockopt(Handle, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&Error), &Length) != 0) return -1;
  // As on Linux: a reset follows an established connection, which the next
  // read reports.
  if (Error == WSAECONNRESET) Error = 0;
  if (Error == 0 && FD_ISSET(Handle, &Failed)) Error = WSAECONNREFUSED;
  WSASetLastError(Error);
  return Error == 0 ? 0 : -1;
}

int PollSocket(TSocket Handle, short Events, std::int32_t Timeout, short& Ready) {
  WSAPOLLFD Entry{};
  Entry.fd = Handle;
  Entry.events = Events;
  const int Result = WSAPoll(&Entry, 1, Timeout < 0 ? -1 : Timeout);
  Ready = Entry.revents;
  return Result;
}

std::int64_t SocketBytesReceived(TSocket Handle) {
  u_long Count = 0;
  if (ioctlsocket(Handle, FIONREAD, &Count) != 0) return 0;
  return static_cast<std::int64_t>(Count);
}

// Winsock does not tell how much of the sent data the peer has yet to take.
std::int64_t SocketBytesUnsent(TSocket) { return 0; }

std::int64_t ReceiveFromSocket(TSocket Handle, void* Buffer, std::int64_t Length, bool Peek) {
  return recv(Handle, static_cast<char*>(Buffer), ByteCount(Length), Peek ? MSG_PEEK : 0);
}

std::int64_t ReceiveFromSocketNow(TSocket Handle, void* Buffer, std::int64_t Length, bool& WouldBlock) {
  const TNonBlockingScope Scope(Handle);
  const int Result = recv(Handle, static_cast<char*>(Buffer), ByteCount(Length), 0);
  WouldBlock = Result < 0 && WSAGetLastError() == WSAEWOULDBLOCK;
  return Result;
}

std::int64_t SendToSocketNow(TSocket Handle, const void* Buffer, std::int64_t Length, bool& WouldBlock) {
  const TNonBlockingScope Scope(Handle);
  const int Result = send(Handle, static_cast<const char*>(Buffer), ByteCount(Length), 0);
  WouldBlock = Result < 0 && WSAGetLastError() == WSAEWOULDBLOCK;
  return Result;
}

std::int64_t ReceiveDatagramFrom(TSocket Handle, void* Buffer, std::int64_t Length, TSocketAddress& From) {
  int AddressLength = sizeof(From);
  return recvfrom(Handle, static_cast<char*>(Buffer), ByteCount(Length), 0, &From.Any, &AddressLength);
}

std::int64_t SendDatagramNow(TSocket Handle, const void* Buffer, std::int64_t Length, const TSocketAddress& To) {
  const TNonBlockingScope Scope(Handle);
  return sendto(Handle, static_cast<const char*>(Buffer), ByteCount(Length), 0, &To.Any, To.Length());
}

void ShutdownSocketSending(TSocket Handle) { shutdown(Handle, SD_SEND); }

bool SocketPeerEnded(TSocket Handle) {
  const TNonBlockingScope Scope(Handle);
  char Probe = 0;
  const int Peeked = recv(Handle, &Probe, 1, MSG_PEEK);
  return Peeked == 0 || (Peeked < 0 && WSAGetLastError() != WSAEWOULDBLOCK && WSAGetLastError() != WSAEINTR);
}

TSocket AcceptSocketHandle(TSocket Listener, TSocketAddress& Peer) {
  Peer.Clear();
  int Length = sizeof(Peer);
  return accept(Listener, &Peer.Any, &Length);
}

void SetSocketLinger(TSocket Handle, bool Enabled, int Seconds) {
  linger Value{};
  Value.l_onoff = Enabled ? 1 : 0;
  Value.l_linger = static_cast<u_short>(std::clamp(Seconds, 0, 65535));
  setsockopt(Handle, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&Value), sizeof(Value));
}

void SetSocketBufferSize(TSocket Handle, bool Receiving, int Size) {
  setsockopt(Handle, SOL_SOCKET, Receiving ? SO_RCVBUF : SO_SNDBUF, reinterpret_cast<const char*>(&Size),
             sizeof(Size));
}

bool SetNoDelay(TSocket Handle) {
  const BOOL On = TRUE;
  return setsockopt(Handle, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&On), sizeof(On)) == 0;
}

bool SocketLingersZero(TSocket Handle) {
  linger Value{};
  int Length = sizeof(Value);
  if (getsockopt(Handle, SOL_SOCKET, SO_LINGER, reinterpret_cast<char*>(&Value), &Length) != 0) return false;
  return Value.l_onoff != 0 && Value.l_linger == 0;
}

// The Linux side of the sockets interface: errno and resolver codes mapped
// onto the Windows Sockets numbers, the services database and the calls on
// one socket.
#include "net/sockapi.h"

#include <fcntl.h>
#include <linux/sockios.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>

#include "net/blocksock.h"
#include "net/sockerrors.h"
#include "platform/systime.h"

// The native numbers differ from the Windows Sockets ones that the texts,
// the clients and the logs expect; this is the only place they meet.
const TSocketErrorMapping SocketErrorMappings[] = {
    {TNativeErrorSource::Errno, EINTR, WSAEINTR},
    {TNativeErrorSource::Errno, EBADF, WSAENOTSOCK},
    {TNativeErrorSource::Errno, EACCES, WSAEACCES},
    {TNativeErrorSource::Errno, EPERM, WSAEACCES},
    {TNativeErrorSource::Errno, EFAULT, WSAEFAULT},
    {TNativeErrorSource::Errno, EINVAL, WSAEINVAL},
    {TNativeErrorSource::Errno, EMFILE, WSAEMFILE},
    {TNativeErrorSource::Errno, ENFILE, WSAEMFILE},
    {TNativeErrorSource::Errno, EAGAIN, WSAEWOULDBLOCK},
    {TNativeErrorSource::Errno, EINPROGRESS, WSAEINPROGRESS},
    {TNativeErrorSource::Errno, EALREADY, WSAEALREADY},
    {TNativeErrorSource::Errno, ENOTSOCK, WSAENOTSOCK},
    {TNativeErrorSource::Errno, EDESTADDRREQ, WSAEDESTADDRREQ},
    {TNativeErrorSource::Errno, EMSGSIZE, WSAEMSGSIZE},
    {TNativeErrorSource::Errno, EPROTOTYPE, WSAEPROTOTYPE},
    {TNativeErrorSource::Errno, ENOPROTOOPT, WSAENOPROTOOPT},
    {TNativeErrorSource::Errno, EPROTONOSUPPORT, WSAEPROTONOSUPPORT},
    {TNativeErrorSource::Errno, ESOCKTNOSUPPORT, WSAESOCKTNOSUPPORT},
    {TNativeErrorSource::Errno, EOPNOTSUPP, WSAEOPNOTSUPP},
    {TNativeErrorSource::Errno, EPFNOSUPPORT, WSAEPFNOSUPPORT},
    {TNativeErrorSource::Errno, EAFNOSUPPORT, WSAEAFNOSUPPORT},
    {TNativeErrorSource::Errno, EADDRINUSE, WSAEADDRINUSE},
    {TNativeErrorSource::Errno, EADDRNOTAVAIL, WSAEADDRNOTAVAIL},
    {TNativeErrorSource::Errno, ENETDOWN, WSAENETDOWN},
    {TNativeErrorSource::Errno, ENETUNREACH, WSAENETUNREACH},
    {TNativeErrorSource::Errno, ENETRESET, WSAENETRESET},
    {TNativeErrorSource::Errno, ECONNABORTED, WSAECONNABORTED},
    {TNativeErrorSource::Errno, ECONNRESET, WSAECONNRESET},
    {TNativeErrorSource::Errno, ENOBUFS, WSAENOBUFS},
    {TNativeErrorSource::Errno, ENOMEM, WSAENOBUFS},
    {TNativeErrorSource::Errno, EISCONN, WSAEISCONN},
    {TNativeErrorSource::Errno, ENOTCONN, WSAENOTCONN},
    {TNativeErrorSource::Errno, ESHUTDOWN, WSAESHUTDOWN},
    {TNativeErrorSource::Errno, EPIPE, WSAESHUTDOWN},
    {TNativeErrorSource::Errno, ETOOMANYREFS, WSAETOOMANYREFS},
    {TNativeErrorSource::Errno, ETIMEDOUT, WSAETIMEDOUT},
    {TNativeErrorSource::Errno, ECONNREFUSED, WSAECONNREFUSED},
    {TNativeErrorSource::Errno, ELOOP, WSAELOOP},
    {TNativeErrorSource::Errno, ENAMETOOLONG, WSAENAMETOOLONG},
    {TNativeErrorSource::Errno, EHOSTDOWN, WSAEHOSTDOWN},
    {TNativeErrorSource::Errno, EHOSTUNREACH, WSAEHOSTUNREACH},
    {TNativeErrorSource::Errno, ENOTEMPTY, WSAENOTEMPTY},
    {TNativeErrorSource::Errno, EUSERS, WSAEUSERS},
    {TNativeErrorSource::Errno, EDQUOT, WSAEDQUOT},
    {TNativeErrorSource::Errno, ESTALE, WSAESTALE},
    {TNativeErrorSource::Errno, EREMOTE, WSAEREMOTE},
    {TNativeErrorSource::Resolver, EAI_NONAME, WSAHOST_NOT_FOUND},
    {TNativeErrorSource::Resolver, EAI_AGAIN, WSATRY_AGAIN},
    {TNativeErrorSource::Resolver, EAI_FAIL, WSANO_RECOVERY},
    {TNativeErrorSource::Resolver, EAI_NODATA, WSANO_DATA},
    {TNativeErrorSource::Resolver, EAI_ADDRFAMILY, WSANO_DATA},
    {TNativeErrorSource::Resolver, EAI_FAMILY, WSAEAFNOSUPPORT},
    {TNativeErrorSource::Resolver, EAI_SOCKTYPE, WSAESOCKTNOSUPPORT},
    {TNativeErrorSource::Resolver, EAI_SERVICE, 10109},  // WSATYPE_NOT_FOUND
    {TNativeErrorSource::Resolver, EAI_MEMORY, WSAENOBUFS},
    {TNativeErrorSource::Resolver, EAI_BADFLAGS, WSAEINVAL},
    {TNativeErrorSource::Resolver, EAI_OVERFLOW, WSAEFAULT},
};
const std::size_t SocketErrorMappingCount = sizeof(SocketErrorMappings) / sizeof(SocketErrorMappings[0]);

namespace {

// A system error with no Windows Sockets counterpart (WSASYSCALLFAILURE).
constexpr std::int32_t UnmappedSystemError = 10107;

bool FindMapping(TNativeErrorSource Source, int NativeCode, std::int32_t& WinsockCode) {
  for (std::size_t i = 0; i < SocketErrorMappingCount; ++i) {
    const TSocketErrorMapping& Row = SocketErrorMappings[i];
    if (Row.Source != Source || Row.NativeCode != NativeCode) continue;
    WinsockCode = Row.WinsockCode;
    return true;
  }
  return false;
}

std::mutex InterfaceLock;
int InterfaceUsers = 0;

}  // namespace

bool SystemKnowsService(const std::string& Name) {
  servent Entry{};
  servent* Found = nullptr;
  char Buffer[1024];
  return getservbyname_r(Name.c_str(), "tcp", &Entry, Buffer, sizeof(Buffer), &Found) == 0 && Found != nullptr;
}

std::int32_t WinsockErrorFromErrno(int ErrnoValue) {
  if (ErrnoValue == 0) return 0;
  std::int32_t Code = 0;
  if (FindMapping(TNativeErrorSource::Errno, ErrnoValue, Code)) return Code;
  return UnmappedSystemError;
}

std::int32_t WinsockErrorFromResolver(int ResolverCode, int SavedErrno) {
  if (ResolverCode == 0) return 0;
  if (ResolverCode == EAI_SYSTEM) return SavedErrno == 0 ? WSANO_RECOVERY : WinsockErrorFromErrno(SavedErrno);
  std::int32_t Code = 0;
  if (FindMapping(TNativeErrorSource::Resolver, ResolverCode, Code)) return Code;
  return WSANO_RECOVERY;
}

std::int32_t LastSocketError() { return WinsockErrorFromErrno(errno); }

bool LoadSocketInterface(const std::string&) {
  // POSIX sockets need no loading; the count keeps the start-up and
  // shut-down pairing honest.
  const std::lock_guard<std::mutex> Guard(InterfaceLock);
  ++InterfaceUsers;
  return true;
}

void UnloadSocketInterface() {
  const std::lock_guard<std::mutex> Guard(InterfaceLock);
  if (InterfaceUsers > 0) --InterfaceUsers;
}

int SocketInterfaceUsers() {
  const std::lock_guard<std::mutex> Guard(InterfaceLock);
  return InterfaceUsers;
}

namespace {

std::size_t ByteCount(std::int64_t Length) { return static_cast<std::size_t>(std::max<std::int64_t>(Length, 0)); }

bool WouldBlockNow() { return errno == EAGAIN || errno == EWOULDBLOCK; }

}  // namespace

TSocket OpenSocketHandle(int Family, int Type, int Protocol) { return ::socket(Family, Type | SOCK_CLOEXEC, Protocol); }

void CloseSocketHandle(TSocket Handle) { ::close(Handle); }

int ConnectSocketWithin(TSocket Handle, const TSocketAddress& Address, std::int32_t Timeout) {
  // Without blocking, so that the wait is ours to bound: a blocking connect
  // to a host that drops the SYNs lasts until the kernel gives up.
  const int Flags = ::fcntl(Handle, F_GETFL);
  if (Flags < 0 || ::fcntl(Handle, F_SETFL, Flags | O_NONBLOCK) != 0) return -1;
  int Result = ::connect(Handle, &Address.Any, Address.Length());
  int SavedErrno = errno;
  if (Result != 0 && (errno == EINPROGRESS || errno == EINTR)) {
    pollfd Entry{Handle, POLLOUT, 0};
    const std::uint32_t Start = GetTick();
    int Ready = 0;
    while (true) {
      std::int32_t Left = -1;
      if (Timeout >= 0)
        Left = std::max<std::int32_t>(0, Timeout - static_cast<std::int32_t>(ElapsedTicks(Start, GetTick())));
      Ready = ::poll(&Entry, 1, Left);
      if (Ready >= 0 || errno != EINTR) break;
    }
    int SocketError = ETIMEDOUT;
    if (Ready > 0) {
      socklen_t Length = sizeof(SocketError);
      if (::getsockopt(Handle, SOL_SOCKET, SO_ERROR, &SocketError, &Length) != 0) SocketError = errno;
    } else if (Ready < 0) {
      SocketError = errno;
    }
    // A refused attempt reports ECONNREFUSED; a reset can only follow an
    // established connection, so the connect succeeded and the next read
    // reports the reset, exactly as after a blocking connect.
    if (SocketError == ECONNRESET) SocketError = 0;
    SavedErrno = SocketError;
    Result = SocketError == 0 ? 0 : -1;
  }
  // The rest of the socket's life is blocking, as its readers expect.
  ::fcntl(Handle, F_SETFL, Flags);
  errno = SavedErrno;
  return Result;
}

int PollSocket(TSocket Handle, short Events, std::int32_t Timeout, short& Ready) {
  pollfd Entry{Handle, Events, 0};
  int Result = 0;
  do {
    Result = ::poll(&Entry, 1, Timeout < 0 ? -1 : Timeout);
  } while (Result < 0 && errno == EINTR);
  Ready = Entry.revents;
  return Result;
}

std::int64_t SocketBytesReceived(TSocket Handle) {
  int Count = 0;
  if (::ioctl(Handle, FIONREAD, &Count) != 0) return 0;
  return Count;
}

std::int64_t SocketBytesUnsent(TSocket Handle) {
  int Unsent = 0;
  if (::ioctl(Handle, SIOCOUTQ, &Unsent) != 0) return 0;
  return Unsent;
}

std::int64_t ReceiveFromSocket(TSocket Handle, void* Buffer, std::int64_t Length, bool Peek) {
  ssize_t Result = 0;
  do {
    Result = ::recv(Handle, Buffer, ByteCount(Length), Peek ? MSG_PEEK : 0);
  } while (Result < 0 && errno == EINTR);
  return Result;
}

std::int64_t ReceiveFromSocketNow(TSocket Handle, void* Buffer, std::int64_t Length, bool& WouldBlock) {
  ssize_t Result = 0;
  do {
    Result = ::recv(Handle, Buffer, ByteCount(Length), MSG_DONTWAIT);
  } while (Result < 0 && errno == EINTR);
  WouldBlock = Result < 0 && WouldBlockNow();
  return Result;
}

std::int64_t SendToSocketNow(TSocket Handle, const void* Buffer, std::int64_t Length, bool& WouldBlock) {
  ssize_t Result = 0;
  do {
    Result = ::send(Handle, Buffer, ByteCount(Length), MSG_NOSIGNAL | MSG_DONTWAIT);
  } while (Result < 0 && errno == EINTR);
  WouldBlock = Result < 0 && WouldBlockNow();
  return Result;
}

std::int64_t ReceiveDatagramFrom(TSocket Handle, void* Buffer, std::int64_t Length, TSocketAddress& From) {
  socklen_t AddressLength = sizeof(From);
  ssize_t Result = 0;
  do {
    Result = ::recvfrom(Handle, Buffer, ByteCount(Length), 0, &From.Any, &AddressLength);
  } while (Result < 0 && errno == EINTR);
  return Result;
}

std::int64_t SendDatagramNow(TSocket Handle, const void* Buffer, std::int64_t Length, const TSocketAddress& To) {
  ssize_t Result = 0;
  do {
    Result = ::sendto(Handle, Buffer, ByteCount(Length), MSG_NOSIGNAL | MSG_DONTWAIT, &To.Any, To.Length());
  } while (Result < 0 && errno == EINTR);
  return Result;
}

void ShutdownSocketSending(TSocket Handle) { ::shutdown(Handle, SHUT_WR); }

bool SocketPeerEnded(TSocket Handle) {
  char Probe = 0;
  const ssize_t Peeked = ::recv(Handle, &Probe, 1, MSG_PEEK | MSG_DONTWAIT);
  return Peeked == 0 || (Peeked < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
}

TSocket AcceptSocketHandle(TSocket Listener, TSocketAddress& Peer) {
  Peer.Clear();
  socklen_t Length = sizeof(Peer);
  TSocket Result = INVALID_SOCKET;
  do {
    Result = ::accept4(Listener, &Peer.Any, &Length, SOCK_CLOEXEC);
  } while (Result < 0 && errno == EINTR);
  return Result;
}

void SetSocketLinger(TSocket Handle, bool Enabled, int Seconds) {
  linger Value{};
  Value.l_onoff = Enabled ? 1 : 0;
  Value.l_linger = Seconds;
  ::setsockopt(Handle, SOL_SOCKET, SO_LINGER, &Value, sizeof(Value));
}

void SetSocketBufferSize(TSocket Handle, bool Receiving, int Size) {
  ::setsockopt(Handle, SOL_SOCKET, Receiving ? SO_RCVBUF : SO_SNDBUF, &Size, sizeof(Size));
}

bool SetNoDelay(TSocket Handle) {
  const int On = 1;
  return ::setsockopt(Handle, IPPROTO_TCP, TCP_NODELAY, &On, sizeof(On)) == 0;
}

bool SocketLingersZero(TSocket Handle) {
  linger Value{};
  socklen_t Length = sizeof(Value);
  if (::getsockopt(Handle, SOL_SOCKET, SO_LINGER, &Value, &Length) != 0) return false;
  return Value.l_onoff != 0 && Value.l_linger == 0;
}

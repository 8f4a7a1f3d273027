// The process-wide side of the socket layer: the reference-counted sockets
// interface, the mapping of the system's error numbers onto the Windows
// Sockets numbers, the conversions between host and port texts and socket
// address records (name resolution with the IPv4/IPv6 rules), and the calls
// on one socket that differ between systems.
//
// Resolution uses the address-info resolver only; every result code handed
// out here is a Windows Sockets number (0 = success), never an errno or a
// getaddrinfo code.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
// windows.h (which winsock2.h includes) maps some Win32 names to their A/W
// functions by macros; these would rename the program's own functions.
#undef RemoveDirectory
#undef ReplaceFile
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#endif

#include <cstddef>
#include <cstdint>
#include <string>

#include "util/streams.h"

// The operating-system socket handle; all bits set when there is none.
#ifdef _WIN32
using TSocket = SOCKET;
#else
using TSocket = int;
inline constexpr TSocket INVALID_SOCKET = -1;
#endif

// Address family wanted for a socket.
enum TSocketFamily : std::uint8_t { SF_Any = 0, SF_IP4 = 1, SF_IP6 = 2 };

// A socket address of either family, large enough for IPv6.
struct TSocketAddress {
  union {
    sockaddr Any;
    sockaddr_in IPv4;
    sockaddr_in6 IPv6;
  };
  TSocketAddress() { Clear(); }
  void Clear();
  // AF_INET, AF_INET6 or 0 for an empty record.
  int Family() const { return Any.sa_family; }
  // The length the system takes for this record: by family, 0 when empty.
  socklen_t Length() const;
};

// The socket settings that steer a resolution.
struct TResolveSettings {
  TSocketFamily Family = SF_Any;
  bool PreferIP4 = true;     // with SF_Any, try IPv4 first
  bool UsesIPv6 = false;     // the existing socket is IPv6
  bool HandleValid = false;  // a socket exists, so its family is fixed
  int SocketType = 1;        // SOCK_STREAM
  int SocketProtocol = 6;    // IPPROTO_TCP
};

// Where a native error number comes from.
enum class TNativeErrorSource : std::uint8_t { Errno, Resolver };

// One row of the mapping of native error numbers onto Windows Sockets ones.
struct TSocketErrorMapping {
  TNativeErrorSource Source;
  int NativeCode;
  std::int32_t WinsockCode;
};

// The one table of native-to-Windows-Sockets error numbers (not on Windows,
// whose numbers are the Windows Sockets ones).
extern const TSocketErrorMapping SocketErrorMappings[];
extern const std::size_t SocketErrorMappingCount;

// The Windows Sockets number of an errno value (unmapped values give
// 10000 + errno, so they still show as "Other Winsock error (N)").
std::int32_t WinsockErrorFromErrno(int ErrnoValue);
// The Windows Sockets number of a getaddrinfo/getnameinfo result; 0 for 0.
// EAI_SYSTEM goes through SavedErrno.
std::int32_t WinsockErrorFromResolver(int ResolverCode, int SavedErrno);
// The current errno, mapped.
std::int32_t LastSocketError();

// Counts one more user of the sockets interface; false when it cannot be
// made available (Windows: WSAStartup 2.2 failed). An empty name means the
// default.
bool LoadSocketInterface(const std::string& LibraryName = "");
// Counts one user less (never below 0).
void UnloadSocketInterface();
// How many users the interface has now.
int SocketInterfaceUsers();

// Resolves Host:Port into Address for a socket with the given settings.
// Returns 0 or the Windows Sockets code of the failure (11001 unknown host,
// 11004 no address of that family, ...). "0.0.0.0"/"::0" give the any
// address and "127.0.0.1"/"::1" the loopback address of the chosen family.
std::int32_t ResolveEndpoint(const std::string& Host, const std::string& Port, const TResolveSettings& Settings,
                             TSocketAddress& Address);

// True for a dotted IPv4 address of four decimal fields 0..255.
bool IsIPv4Literal(const std::string& Text);

// The numeric address text of a record; empty when it has none.
std::string AddressText(const TSocketAddress& Address);
// The port of a record in host order; 0 when it has none.
int AddressPort(const TSocketAddress& Address);

// The system's host name, or "127.0.0.1" when it has none.
std::string LocalHostName();

// Every address of Host as numeric text, filtered by Settings.Family;
// "0.0.0.0" alone when nothing resolves.
void ResolveNames(const std::string& Host, TStringList& Names, const TResolveSettings& Settings);
// The first address of Host; "0.0.0.0" when it does not resolve.
std::string ResolveName(const std::string& Host, const TResolveSettings& Settings);
// The port number of a decimal text or service name; 0 when unknown or out
// of range. Well-known names used by the program resolve even without a
// services database.
std::uint16_t ResolvePort(const std::string& Port, const TResolveSettings& Settings);
// True when the system's services database names the TCP service.
bool SystemKnowsService(const std::string& Name);
// The built-in port of a well-known service name the program uses (ftp,
// ftp-data, http, https, socks); -1 for any other name.
int WellKnownServicePort(const std::string& Name);

// --- Calls on one socket, alike on every system. A failure returns -1 (or
// INVALID_SOCKET) and leaves its number for LastSocketError(); interrupted
// calls are repeated and none raises a signal.

// A new socket, not inherited by programs the process starts.
TSocket OpenSocketHandle(int Family, int Type, int Protocol);
void CloseSocketHandle(TSocket Handle);
// Connects without waiting longer than Timeout ms (-1: no limit); the socket
// blocks again afterwards. 0, or -1 (WSAETIMEDOUT when the time ran out).
int ConnectSocketWithin(TSocket Handle, const TSocketAddress& Address, std::int32_t Timeout);
// Waits up to Timeout ms (-1: no limit) for Events (POLLIN, POLLOUT): the
// number of ready sockets (0 or 1), or -1; Ready gets the events seen.
int PollSocket(TSocket Handle, short Events, std::int32_t Timeout, short& Ready);
// Bytes received and not yet read; 0 when the system does not tell.
std::int64_t SocketBytesReceived(TSocket Handle);
// Bytes sent and not yet taken by the peer; 0 when the system does not tell.
std::int64_t SocketBytesUnsent(TSocket Handle);
// recv() that may block (Peek: the bytes stay queued).
std::int64_t ReceiveFromSocket(TSocket Handle, void* Buffer, std::int64_t Length, bool Peek = false);
// recv() and send() that never block: -1 with WouldBlock when nothing can
// be moved now.
std::int64_t ReceiveFromSocketNow(TSocket Handle, void* Buffer, std::int64_t Length, bool& WouldBlock);
std::int64_t SendToSocketNow(TSocket Handle, const void* Buffer, std::int64_t Length, bool& WouldBlock);
// Datagrams: From gets the sender; To names the receiver.
std::int64_t ReceiveDatagramFrom(TSocket Handle, void* Buffer, std::int64_t Length, TSocketAddress& From);
std::int64_t SendDatagramNow(TSocket Handle, const void* Buffer, std::int64_t Length, const TSocketAddress& To);
// Ends the sending direction (the peer reads the end of the data).
void ShutdownSocketSending(TSocket Handle);
// Whether the peer has closed or reset the connection with nothing left to
// read; never waits.
bool SocketPeerEnded(TSocket Handle);
// The next connection of a listening socket; Peer gets its address.
TSocket AcceptSocketHandle(TSocket Listener, TSocketAddress& Peer);
// SO_LINGER and the buffer sizes; results are not examined by the callers.
void SetSocketLinger(TSocket Handle, bool Enabled, int Seconds);
void SetSocketBufferSize(TSocket Handle, bool Receiving, int Size);
// Sends small writes at once instead of holding them for an acknowledgement
// (no Nagle delay), as a request head before its body needs. False when the
// system refuses.
bool SetNoDelay(TSocket Handle);
// True when linger is on with 0 seconds (a close would drop unsent data).
bool SocketLingersZero(TSocket Handle);

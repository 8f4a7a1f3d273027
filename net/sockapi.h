// The process-wide side of the socket layer: the reference-counted sockets
// interface, the mapping of the system's error numbers onto the Windows
// Sockets numbers, and the conversions between host and port texts and
// socket address records (name resolution with the IPv4/IPv6 rules).
//
// Resolution uses the address-info resolver only; every result code handed
// out here is a Windows Sockets number (0 = success), never an errno or a
// getaddrinfo code.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "util/streams.h"

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

// The one table of native-to-Windows-Sockets error numbers.
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
// made available (never on this system). An empty name means the default.
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

// Sends small writes at once instead of holding them for an acknowledgement
// (no Nagle delay), as a request head before its body needs. False when the
// system refuses.
bool SetNoDelay(int Handle);

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
// The built-in port of a well-known service name the program uses (ftp,
// ftp-data, http, https, socks); -1 for any other name.
int WellKnownServicePort(const std::string& Name);

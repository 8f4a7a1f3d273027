#include "net/sockapi.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <netdb.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>
#include <mutex>

#include "net/sockerrors.h"
#include "util/textutil.h"

void TSocketAddress::Clear() { std::memset(static_cast<void*>(this), 0, sizeof(*this)); }

socklen_t TSocketAddress::Length() const {
  if (Family() == AF_INET) return sizeof(sockaddr_in);
  if (Family() == AF_INET6) return sizeof(sockaddr_in6);
  return 0;
}

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

struct TWellKnownService {
  const char* Name;
  int Port;
};

// Names the program itself uses, for machines without a services database.
constexpr TWellKnownService WellKnownServices[] = {
    {"ftp-data", 20}, {"ftp", 21}, {"http", 80}, {"https", 443}, {"socks", 1080},
};

bool AllDigits(const std::string& Text) {
  if (Text.empty()) return false;
  for (const char C : Text) {
    if (C < '0' || C > '9') return false;
  }
  return true;
}

bool SystemKnowsService(const std::string& Name) {
  servent Entry{};
  servent* Found = nullptr;
  char Buffer[1024];
  return getservbyname_r(Name.c_str(), "tcp", &Entry, Buffer, sizeof(Buffer), &Found) == 0 && Found != nullptr;
}

// The service text to hand to the resolver, or false when the port cannot
// be valid. A number above 65535 would be cut to 16 bits by the resolver
// and reach the wrong port.
bool ServiceForLookup(const std::string& Port, std::string& Service) {
  if (Port.empty()) {
    Service.assign(1, '0');
    return true;
  }
  if (AllDigits(Port)) {
    if (Port.size() > 5 || std::stoi(Port) > 65535) return false;
    Service = std::to_string(std::stoi(Port));
    return true;
  }
  Service = Port;
  if (SystemKnowsService(Port)) return true;
  const int Known = WellKnownServicePort(Port);
  if (Known >= 0) Service = std::to_string(Known);
  return true;
}

addrinfo MakeHints(int Family, int Flags, const TResolveSettings& Settings) {
  addrinfo Hints{};
  Hints.ai_family = Family;
  Hints.ai_socktype = Settings.SocketType;
  Hints.ai_protocol = Settings.SocketProtocol;
  Hints.ai_flags = Flags;
  return Hints;
}

// One address-info lookup for one family; fills Address on success.
std::int32_t ResolveAttempt(const std::string& Host, const std::string& Service, int Family,
                            const TResolveSettings& Settings, TSocketAddress& Address) {
  int Flags = 0;
  const char* Node = Host.c_str();
  if (Host == "0.0.0.0" || Host == "::0") {
    Flags = AI_PASSIVE;
    Node = nullptr;
  } else if (Host == "127.0.0.1" || Host == "::1") {
    Node = nullptr;
  }
  const addrinfo Hints = MakeHints(Family, Flags, Settings);
  addrinfo* Results = nullptr;
  const int Code = getaddrinfo(Node, Service.c_str(), &Hints, &Results);
  const int SavedErrno = errno;
  if (Code == 0 && Results != nullptr) {
    Address.Clear();
    const std::size_t Length = std::min<std::size_t>(Results->ai_addrlen, sizeof(Address));
    std::memcpy(static_cast<void*>(&Address), Results->ai_addr, Length);
  }
  if (Results != nullptr) freeaddrinfo(Results);
  return WinsockErrorFromResolver(Code, SavedErrno);
}

}  // namespace

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

std::int32_t ResolveEndpoint(const std::string& Host, const std::string& Port, const TResolveSettings& Settings,
                             TSocketAddress& Address) {
  Address.Clear();
  std::string Service;
  if (!ServiceForLookup(Port, Service)) return WinsockErrorFromResolver(EAI_SERVICE, 0);
  int First = AF_INET;
  int Second = 0;  // no second attempt
  if (Settings.HandleValid) {
    First = Settings.UsesIPv6 ? AF_INET6 : AF_INET;
  } else if (Settings.Family == SF_IP4) {
    First = AF_INET;
  } else if (Settings.Family == SF_IP6) {
    First = AF_INET6;
  } else if (IsIPv4Literal(Host)) {
    First = AF_INET;
  } else if (IsIPv6Literal(Host)) {
    First = AF_INET6;
  } else {
    First = Settings.PreferIP4 ? AF_INET : AF_INET6;
    Second = Settings.PreferIP4 ? AF_INET6 : AF_INET;
  }
  const std::int32_t Code = ResolveAttempt(Host, Service, First, Settings, Address);
  if (Code == 0 || Second == 0) return Code;
  TSocketAddress Other;
  const std::int32_t SecondCode = ResolveAttempt(Host, Service, Second, Settings, Other);
  if (SecondCode == 0) Address = Other;
  return SecondCode;
}

bool IsIPv4Literal(const std::string& Text) {
  int Fields = 0;
  std::size_t Begin = 0;
  while (true) {
    const std::size_t Dot = Text.find('.', Begin);
    const std::string Field = Text.substr(Begin, Dot == std::string::npos ? std::string::npos : Dot - Begin);
    if (!AllDigits(Field)) return false;
    int Value = 0;
    for (const char C : Field) {
      Value = Value * 10 + (C - '0');
      if (Value > 255) return false;
    }
    ++Fields;
    if (Dot == std::string::npos) break;
    Begin = Dot + 1;
  }
  return Fields == 4;
}

std::string AddressText(const TSocketAddress& Address) {
  char Host[1025];
  char Service[32];
  const int Code = getnameinfo(&Address.Any, Address.Length(), Host, sizeof(Host), Service, sizeof(Service),
                               NI_NUMERICHOST | NI_NUMERICSERV);
  if (Code != 0) return {};
  return Host;
}

int AddressPort(const TSocketAddress& Address) {
  // Both families keep the port at the same place.
  return ntohs(Address.IPv4.sin_port);
}

std::string LocalHostName() {
  char Name[256] = {};
  if (gethostname(Name, sizeof(Name) - 1) != 0 || Name[0] == '\0') return "127.0.0.1";
  return Name;
}

void ResolveNames(const std::string& Host, TStringList& Names, const TResolveSettings& Settings) {
  Names.clear();
  const addrinfo Hints = MakeHints(AF_UNSPEC, 0, Settings);
  addrinfo* Results = nullptr;
  if (getaddrinfo(Host.c_str(), nullptr, &Hints, &Results) == 0) {
    for (const addrinfo* Entry = Results; Entry != nullptr; Entry = Entry->ai_next) {
      if (Entry->ai_family == AF_INET && Settings.Family == SF_IP6) continue;
      if (Entry->ai_family == AF_INET6 && Settings.Family == SF_IP4) continue;
      TSocketAddress Address;
      std::memcpy(static_cast<void*>(&Address), Entry->ai_addr,
                  std::min<std::size_t>(Entry->ai_addrlen, sizeof(Address)));
      Names.push_back(AddressText(Address));
    }
  }
  if (Results != nullptr) freeaddrinfo(Results);
  if (Names.empty()) Names.push_back("0.0.0.0");
}

std::string ResolveName(const std::string& Host, const TResolveSettings& Settings) {
  TStringList Names;
  ResolveNames(Host, Names, Settings);
  return Names.front();
}

std::uint16_t ResolvePort(const std::string& Port, const TResolveSettings& Settings) {
  std::string Service;
  if (!ServiceForLookup(Port, Service)) return 0;
  const addrinfo Hints = MakeHints(AF_UNSPEC, AI_PASSIVE, Settings);
  addrinfo* Results = nullptr;
  std::uint16_t Result = 0;
  if (getaddrinfo(nullptr, Service.c_str(), &Hints, &Results) == 0 && Results != nullptr) {
    TSocketAddress Address;
    std::memcpy(static_cast<void*>(&Address), Results->ai_addr,
                std::min<std::size_t>(Results->ai_addrlen, sizeof(Address)));
    Result = static_cast<std::uint16_t>(AddressPort(Address));
  }
  if (Results != nullptr) freeaddrinfo(Results);
  return Result;
}

int WellKnownServicePort(const std::string& Name) {
  for (const TWellKnownService& Known : WellKnownServices) {
    if (Name == Known.Name) return Known.Port;
  }
  return -1;
}

bool SetNoDelay(int Handle) {
  const int On = 1;
  return ::setsockopt(Handle, IPPROTO_TCP, TCP_NODELAY, &On, sizeof(On)) == 0;
}

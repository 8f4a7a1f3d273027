// Socket error numbers and their texts. Every socket error in the program is
// a Windows Sockets error number, whatever the system underneath reports;
// the texts are the fixed English ones the socket keeps in LastErrorText.
#pragma once

#include <cstdint>
#include <string>

#ifdef _WIN32
// Winsock's header defines the same names with the same numbers.
#include <winsock2.h>
#else
// The numbers the socket layer itself assigns or tests, by their usual names.
inline constexpr std::int32_t WSAEINTR = 10004;
inline constexpr std::int32_t WSAEBADF = 10009;
inline constexpr std::int32_t WSAEACCES = 10013;
inline constexpr std::int32_t WSAEFAULT = 10014;
inline constexpr std::int32_t WSAEINVAL = 10022;
inline constexpr std::int32_t WSAEMFILE = 10024;
inline constexpr std::int32_t WSAEWOULDBLOCK = 10035;
inline constexpr std::int32_t WSAEINPROGRESS = 10036;
inline constexpr std::int32_t WSAEALREADY = 10037;
inline constexpr std::int32_t WSAENOTSOCK = 10038;
inline constexpr std::int32_t WSAEDESTADDRREQ = 10039;
inline constexpr std::int32_t WSAEMSGSIZE = 10040;
inline constexpr std::int32_t WSAEPROTOTYPE = 10041;
inline constexpr std::int32_t WSAENOPROTOOPT = 10042;
inline constexpr std::int32_t WSAEPROTONOSUPPORT = 10043;
inline constexpr std::int32_t WSAESOCKTNOSUPPORT = 10044;
inline constexpr std::int32_t WSAEOPNOTSUPP = 10045;
inline constexpr std::int32_t WSAEPFNOSUPPORT = 10046;
inline constexpr std::int32_t WSAEAFNOSUPPORT = 10047;
inline constexpr std::int32_t WSAEADDRINUSE = 10048;
inline constexpr std::int32_t WSAEADDRNOTAVAIL = 10049;
inline constexpr std::int32_t WSAENETDOWN = 10050;
inline constexpr std::int32_t WSAENETUNREACH = 10051;
inline constexpr std::int32_t WSAENETRESET = 10052;
inline constexpr std::int32_t WSAECONNABORTED = 10053;
inline constexpr std::int32_t WSAECONNRESET = 10054;
inline constexpr std::int32_t WSAENOBUFS = 10055;
inline constexpr std::int32_t WSAEISCONN = 10056;
inline constexpr std::int32_t WSAENOTCONN = 10057;
inline constexpr std::int32_t WSAESHUTDOWN = 10058;
inline constexpr std::int32_t WSAETOOMANYREFS = 10059;
inline constexpr std::int32_t WSAETIMEDOUT = 10060;
inline constexpr std::int32_t WSAECONNREFUSED = 10061;
inline constexpr std::int32_t WSAELOOP = 10062;
inline constexpr std::int32_t WSAENAMETOOLONG = 10063;
inline constexpr std::int32_t WSAEHOSTDOWN = 10064;
inline constexpr std::int32_t WSAEHOSTUNREACH = 10065;
inline constexpr std::int32_t WSAENOTEMPTY = 10066;
inline constexpr std::int32_t WSAEPROCLIM = 10067;
inline constexpr std::int32_t WSAEUSERS = 10068;
inline constexpr std::int32_t WSAEDQUOT = 10069;
inline constexpr std::int32_t WSAESTALE = 10070;
inline constexpr std::int32_t WSAEREMOTE = 10071;
inline constexpr std::int32_t WSASYSNOTREADY = 10091;
inline constexpr std::int32_t WSAVERNOTSUPPORTED = 10092;
inline constexpr std::int32_t WSANOTINITIALISED = 10093;
inline constexpr std::int32_t WSAEDISCON = 10101;
inline constexpr std::int32_t WSAHOST_NOT_FOUND = 11001;
inline constexpr std::int32_t WSATRY_AGAIN = 11002;
inline constexpr std::int32_t WSANO_RECOVERY = 11003;
inline constexpr std::int32_t WSANO_DATA = 11004;
#endif

// The text of a socket error number: empty for 0, the fixed text for the
// known numbers, "Other Winsock error (N)" for any other.
std::string GetErrorDesc(std::int32_t ErrorCode);

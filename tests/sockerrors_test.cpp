// Socket error texts: the table to the letter, the fallback text, and the
// mapping of the system's numbers onto the Windows Sockets ones.
#include "net/sockerrors.h"

#include <gtest/gtest.h>
#include <netdb.h>

#include <cerrno>
#include <set>

#include "net/blocksock.h"
#include "net/sockapi.h"

namespace {

TEST(SockErrorsText, ZeroIsEmpty) { EXPECT_EQ(GetErrorDesc(0), ""); }

TEST(SockErrorsText, TableTextsExactly) {
  const std::pair<int, const char*> Expected[] = {
      {10004, "Interrupted system call"},
      {10009, "Bad file number"},
      {10013, "Permission denied"},
      {10014, "Bad address"},
      {10022, "Invalid argument"},
      {10024, "Too many open files"},
      {10035, "Operation would block"},
      {10036, "Operation now in progress"},
      {10037, "Operation already in progress"},
      {10038, "Socket operation on nonsocket"},
      {10039, "Destination address required"},
      {10040, "Message too long"},
      {10041, "Protocol wrong type for Socket"},
      {10042, "Protocol not available"},
      {10043, "Protocol not supported"},
      {10044, "Socket not supported"},
      {10045, "Operation not supported on Socket"},
      {10046, "Protocol family not supported"},
      {10047, "Address family not supported"},
      {10048, "Address already in use"},
      {10049, "Can't assign requested address"},
      {10050, "Network is down"},
      {10051, "Network is unreachable"},
      {10052, "Network dropped connection on reset"},
      {10053, "Software caused connection abort"},
      {10054, "Connection reset by peer"},
      {10055, "No Buffer space available"},
      {10056, "Socket is already connected"},
      {10057, "Socket is not connected"},
      {10058, "Can't send after Socket shutdown"},
      {10059, "Too many references:can't splice"},
      {10060, "Connection timed out"},
      {10061, "Connection refused"},
      {10062, "Too many levels of symbolic links"},
      {10063, "File name is too long"},
      {10064, "Host is down"},
      {10065, "No route to host"},
      {10066, "Directory is not empty"},
      {10067, "Too many processes"},
      {10068, "Too many users"},
      {10069, "Disk quota exceeded"},
      {10070, "Stale NFS file handle"},
      {10071, "Too many levels of remote in path"},
      {10091, "Network subsystem is unusable"},
      {10092, "Winsock DLL cannot support this application"},
      {10093, "Winsock not initialized"},
      {10101, "Disconnect"},
      {11001, "Host not found"},
      {11002, "Non authoritative - host not found"},
      {11003, "Non recoverable error"},
      {11004, "Valid name, no data record of requested type"},
  };
  for (const auto& [Code, Text] : Expected) EXPECT_EQ(GetErrorDesc(Code), Text) << Code;
  // The class-level form answers the same without an instance.
  EXPECT_EQ(TBlockSocket::GetErrorDesc(10060), "Connection timed out");
}

TEST(SockErrorsText, OtherCodesNameTheirNumber) {
  EXPECT_EQ(GetErrorDesc(10090), "Other Winsock error (10090)");
  EXPECT_EQ(GetErrorDesc(-5), "Other Winsock error (-5)");
  EXPECT_EQ(GetErrorDesc(10000), "Other Winsock error (10000)");
  EXPECT_EQ(GetErrorDesc(11005), "Other Winsock error (11005)");
  EXPECT_EQ(GetErrorDesc(2147483647), "Other Winsock error (2147483647)");
}

TEST(SockErrorsMapping, SystemNumbersBecomeWindowsSocketsNumbers) {
  EXPECT_EQ(WinsockErrorFromErrno(ECONNREFUSED), 10061);
  EXPECT_EQ(WinsockErrorFromErrno(ETIMEDOUT), 10060);
  EXPECT_EQ(WinsockErrorFromErrno(ECONNRESET), 10054);
  EXPECT_EQ(WinsockErrorFromErrno(EPIPE), 10058);
  EXPECT_EQ(WinsockErrorFromErrno(EADDRINUSE), 10048);
  EXPECT_EQ(WinsockErrorFromErrno(EADDRNOTAVAIL), 10049);
  EXPECT_EQ(WinsockErrorFromErrno(ENETUNREACH), 10051);
  EXPECT_EQ(WinsockErrorFromErrno(EHOSTUNREACH), 10065);
  EXPECT_EQ(WinsockErrorFromErrno(EBADF), 10038);
  EXPECT_EQ(WinsockErrorFromErrno(ENOTSOCK), 10038);
  EXPECT_EQ(WinsockErrorFromErrno(EAGAIN), 10035);
  EXPECT_EQ(WinsockErrorFromErrno(EINPROGRESS), 10036);
  EXPECT_EQ(WinsockErrorFromErrno(0), 0);
  EXPECT_EQ(WinsockErrorFromResolver(0, 0), 0);
  EXPECT_EQ(WinsockErrorFromResolver(EAI_NONAME, 0), 11001);
  EXPECT_EQ(WinsockErrorFromResolver(EAI_AGAIN, 0), 11002);
  EXPECT_EQ(WinsockErrorFromResolver(EAI_FAIL, 0), 11003);
  EXPECT_EQ(WinsockErrorFromResolver(EAI_NODATA, 0), 11004);
  EXPECT_EQ(WinsockErrorFromResolver(EAI_ADDRFAMILY, 0), 11004);
  EXPECT_EQ(WinsockErrorFromResolver(EAI_SYSTEM, ECONNREFUSED), 10061);
}

TEST(SockErrorsMapping, EveryRowIsUniqueAndLandsOnAKnownText) {
  std::set<std::pair<int, int>> Seen;
  for (std::size_t i = 0; i < SocketErrorMappingCount; ++i) {
    const TSocketErrorMapping& Row = SocketErrorMappings[i];
    EXPECT_TRUE(Seen.insert({static_cast<int>(Row.Source), Row.NativeCode}).second) << Row.NativeCode;
    // Every errno lands on a number with a text of its own; a would-block
    // number for a real failure would count as success.
    if (Row.Source == TNativeErrorSource::Errno && Row.NativeCode != EAGAIN && Row.NativeCode != EINPROGRESS) {
      EXPECT_NE(Row.WinsockCode, 10035);
      EXPECT_NE(Row.WinsockCode, 10036);
    }
  }
  // A number the table does not hold still shows as a failure.
  EXPECT_NE(WinsockErrorFromErrno(ENOSPC), 0);
  EXPECT_NE(WinsockErrorFromErrno(ENOSPC), 10035);
}

}  // namespace

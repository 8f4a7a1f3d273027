// Name resolution and the sockets interface: address literals, ports and
// service names, the family rules of endpoint resolution, and the
// reference count. Host names come from a hosts file of the test's own
// (through nss_wrapper, in a child run of this program).
#include "net/sockapi.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "support/testsupport.h"

namespace {

using testsupport::RunProcess;
using testsupport::TempDir;
using testsupport::WriteFile;

TResolveSettings StreamSettings(TSocketFamily Family = SF_Any, bool PreferIP4 = true) {
  TResolveSettings Settings;
  Settings.Family = Family;
  Settings.PreferIP4 = PreferIP4;
  return Settings;
}

TEST(SockApiLiterals, IPv4LiteralNeedsFourDecimalFieldsUpTo255) {
  EXPECT_TRUE(IsIPv4Literal("1.2.3.4"));
  EXPECT_TRUE(IsIPv4Literal("0.0.0.0"));
  EXPECT_TRUE(IsIPv4Literal("255.255.255.255"));
  EXPECT_TRUE(IsIPv4Literal("010.0.0.1"));
  EXPECT_FALSE(IsIPv4Literal("1.2.3"));
  EXPECT_FALSE(IsIPv4Literal("1.2.3.4.5"));
  EXPECT_FALSE(IsIPv4Literal("1.2.3.256"));
  EXPECT_FALSE(IsIPv4Literal("1.2.+3.4"));
  EXPECT_FALSE(IsIPv4Literal("1.2.-3.4"));
  EXPECT_FALSE(IsIPv4Literal("1..3.4"));
  EXPECT_FALSE(IsIPv4Literal("1.2.3.4."));
  EXPECT_FALSE(IsIPv4Literal(".1.2.3"));
  EXPECT_FALSE(IsIPv4Literal("a.b.c.d"));
  EXPECT_FALSE(IsIPv4Literal(""));
  EXPECT_FALSE(IsIPv4Literal("::1"));
  EXPECT_FALSE(IsIPv4Literal("1.2.3.99999999999999999999"));
}

TEST(SockApiPorts, NumbersAndServiceNames) {
  const TResolveSettings Settings = StreamSettings();
  EXPECT_EQ(ResolvePort("21", Settings), 21);
  EXPECT_EQ(ResolvePort("ftp", Settings), 21);
  EXPECT_EQ(ResolvePort("ftp-data", Settings), 20);
  EXPECT_EQ(ResolvePort("http", Settings), 80);
  EXPECT_EQ(ResolvePort("65535", Settings), 65535);
  EXPECT_EQ(ResolvePort("0", Settings), 0);
  EXPECT_EQ(ResolvePort("no-such-service-here", Settings), 0);
}

TEST(SockApiPorts, NumbersBeyond16BitsAreRejectedNotWrapped) {
  const TResolveSettings Settings = StreamSettings();
  EXPECT_EQ(ResolvePort("65536", Settings), 0);
  EXPECT_EQ(ResolvePort("70000", Settings), 0);  // would wrap to 4464
  EXPECT_EQ(ResolvePort("99999999999999999999", Settings), 0);
  TSocketAddress Address;
  EXPECT_NE(ResolveEndpoint("127.0.0.1", "70000", Settings, Address), 0);
  EXPECT_EQ(Address.Family(), 0);
}

TEST(SockApiPorts, WellKnownNamesWithoutServicesDatabase) {
  EXPECT_EQ(WellKnownServicePort("ftp-data"), 20);
  EXPECT_EQ(WellKnownServicePort("ftp"), 21);
  EXPECT_EQ(WellKnownServicePort("http"), 80);
  EXPECT_EQ(WellKnownServicePort("https"), 443);
  EXPECT_EQ(WellKnownServicePort("socks"), 1080);
  EXPECT_EQ(WellKnownServicePort("gopher"), -1);
}

TEST(SockApiEndpoints, LiteralsChooseTheirFamily) {
  TSocketAddress Address;
  ASSERT_EQ(ResolveEndpoint("127.0.0.1", "21", StreamSettings(SF_Any, false), Address), 0);
  EXPECT_EQ(Address.Family(), AF_INET);
  EXPECT_EQ(AddressText(Address), "127.0.0.1");
  EXPECT_EQ(AddressPort(Address), 21);
  EXPECT_EQ(Address.Length(), 16u);
  ASSERT_EQ(ResolveEndpoint("::1", "ftp", StreamSettings(SF_Any, true), Address), 0);
  EXPECT_EQ(Address.Family(), AF_INET6);
  EXPECT_EQ(AddressText(Address), "::1");
  EXPECT_EQ(AddressPort(Address), 21);
  EXPECT_EQ(Address.Length(), 28u);
}

TEST(SockApiEndpoints, AnyAndLoopbackFollowTheChosenFamily) {
  TSocketAddress Address;
  ASSERT_EQ(ResolveEndpoint("0.0.0.0", "0", StreamSettings(), Address), 0);
  EXPECT_EQ(AddressText(Address), "0.0.0.0");
  ASSERT_EQ(ResolveEndpoint("::0", "0", StreamSettings(), Address), 0);
  EXPECT_EQ(AddressText(Address), "::");
  // The loopback text only names "the loopback": the family decides which.
  ASSERT_EQ(ResolveEndpoint("127.0.0.1", "80", StreamSettings(SF_IP6), Address), 0);
  EXPECT_EQ(AddressText(Address), "::1");
  // An existing IPv6 socket resolves for IPv6 whatever Family says.
  TResolveSettings Existing = StreamSettings(SF_IP4);
  Existing.HandleValid = true;
  Existing.UsesIPv6 = true;
  ASSERT_EQ(ResolveEndpoint("0.0.0.0", "0", Existing, Address), 0);
  EXPECT_EQ(Address.Family(), AF_INET6);
}

TEST(SockApiEndpoints, UnresolvableNameGivesHostNotFound) {
  TSocketAddress Address;
  EXPECT_EQ(ResolveEndpoint("no-such-host.invalid", "80", StreamSettings(), Address), 11001);
  EXPECT_EQ(ResolveName("no-such-host.invalid", StreamSettings()), "0.0.0.0");
}

TEST(SockApiEndpoints, EmptyRecordHasNoTextNoPortNoLength) {
  const TSocketAddress Address;
  EXPECT_EQ(AddressText(Address), "");
  EXPECT_EQ(AddressPort(Address), 0);
  EXPECT_EQ(Address.Length(), 0u);
}

TEST(SockApiInterface, LoadCountsAndUnloadNeverGoesNegative) {
  const int Before = SocketInterfaceUsers();
  EXPECT_TRUE(LoadSocketInterface());
  EXPECT_TRUE(LoadSocketInterface("ws2_32.dll"));
  EXPECT_EQ(SocketInterfaceUsers(), Before + 2);
  UnloadSocketInterface();
  UnloadSocketInterface();
  EXPECT_EQ(SocketInterfaceUsers(), Before);
  if (Before == 0) {
    UnloadSocketInterface();
    EXPECT_EQ(SocketInterfaceUsers(), 0);
  }
}

TEST(SockApiInterface, LocalHostNameIsNeverEmpty) { EXPECT_FALSE(LocalHostName().empty()); }

// --- Host names from a hosts file of our own --------------------------------

bool Wrapped() { return std::getenv("NSS_WRAPPER_HOSTS") != nullptr; }

TEST(ChildSockApiWrappedHosts, NameWithBothFamiliesFollowsPreferIP4) {
  if (!Wrapped()) GTEST_SKIP() << "runs inside SockApiHosts.FamilyRulesForNames";
  TSocketAddress Address;
  ASSERT_EQ(ResolveEndpoint("dual.test", "80", StreamSettings(SF_Any, true), Address), 0);
  EXPECT_EQ(AddressText(Address), "127.0.0.1");
  ASSERT_EQ(ResolveEndpoint("dual.test", "80", StreamSettings(SF_Any, false), Address), 0);
  EXPECT_EQ(AddressText(Address), "::1");
  ASSERT_EQ(ResolveEndpoint("dual.test", "80", StreamSettings(SF_IP6, true), Address), 0);
  EXPECT_EQ(AddressText(Address), "::1");
}

TEST(ChildSockApiWrappedHosts, IPv6OnlyNameFallsBackToTheSecondAttempt) {
  if (!Wrapped()) GTEST_SKIP() << "runs inside SockApiHosts.FamilyRulesForNames";
  TSocketAddress Address;
  ASSERT_EQ(ResolveEndpoint("six.test", "21", StreamSettings(SF_Any, true), Address), 0);
  EXPECT_EQ(AddressText(Address), "::1");
  EXPECT_EQ(AddressPort(Address), 21);
  // Only one attempt when the family is fixed.
  EXPECT_NE(ResolveEndpoint("six.test", "21", StreamSettings(SF_IP4), Address), 0);
}

TEST(ChildSockApiWrappedHosts, ResolveNamesListsAndFiltersByFamily) {
  if (!Wrapped()) GTEST_SKIP() << "runs inside SockApiHosts.FamilyRulesForNames";
  TStringList Names;
  ResolveNames("dual.test", Names, StreamSettings());
  EXPECT_EQ(Names.size(), 2u);
  ResolveNames("dual.test", Names, StreamSettings(SF_IP4));
  ASSERT_EQ(Names.size(), 1u);
  EXPECT_EQ(Names[0], "127.0.0.1");
  EXPECT_EQ(ResolveName("dual.test", StreamSettings(SF_IP6)), "::1");
  EXPECT_EQ(ResolveName("six.test", StreamSettings(SF_IP4)), "0.0.0.0");
}

// nss_wrapper opens the C library with RTLD_DEEPBIND, which the sanitizer
// runtime refuses; the normal build covers these rules.
#ifndef TARVO_SANITIZE
TEST(SockApiHosts, FamilyRulesForNames) {
  const char* Library = "/usr/lib/x86_64-linux-gnu/libnss_wrapper.so";
  if (!testsupport::FileExists(Library)) GTEST_SKIP() << "nss_wrapper is not installed";
  TempDir Dir;
  WriteFile(Dir / "hosts", "127.0.0.1 dual.test\n::1 dual.test\n::1 six.test\n");
  const testsupport::RunResult Result =
      RunProcess({"/proc/self/exe", "--gtest_filter=ChildSockApiWrappedHosts.*"}, "",
                 {std::string("LD_PRELOAD=") + Library, "NSS_WRAPPER_HOSTS=" + (Dir / "hosts"),
                  "ASAN_OPTIONS=verify_asan_link_order=0"},
                 60);
  EXPECT_EQ(Result.ExitCode, 0) << Result.Output << Result.ErrorText;
  EXPECT_NE(Result.Output.find("[  PASSED  ] 3 tests"), std::string::npos) << Result.Output;
}
#endif

}  // namespace

// Proxy tunnels: the exact CONNECT and SOCKS bytes against scripted proxies
// (including misbehaving ones), then real proxies (tinyproxy, dante) in
// front of a scripted destination.
#include <gtest/gtest.h>

#include <string>

#include "net/blocksock.h"
#include "support/testsupport.h"
#include "support/tlsproxypeer.h"
#include "support/tlsproxyservers.h"
#include "util/codec.h"

using tlsproxypeer::PeerConnection;
using tlsproxypeer::ScriptedPeer;

namespace {

constexpr std::int32_t kTimeout = 10000;

const TSocketInterfaceGuard SocketInterface;

std::string Bytes(std::initializer_list<int> Values) {
  std::string Result;
  for (const int Value : Values) Result += static_cast<char>(Value);
  return Result;
}

// A destination that greets, then echoes one line back upper-cased.
ScriptedPeer::Script Destination() {
  return [](PeerConnection& Peer, int) {
    Peer.Write("hello from destination\r\n");
    std::string Line = Peer.ReadUntil("\n");
    for (char& C : Line) C = static_cast<char>(toupper(static_cast<unsigned char>(C)));
    Peer.Write(Line);
    Peer.ReadToEnd();
  };
}

// Talks to a Destination() peer through whatever tunnel Socket holds.
void ExpectDestinationDialog(TTCPBlockSocket& Socket) {
  EXPECT_EQ(Socket.ReceiveLine(kTimeout), "hello from destination");
  Socket.SendText("ping\r\n");
  EXPECT_EQ(Socket.ReceiveLine(kTimeout), "PING");
  EXPECT_EQ(Socket.LastErrorCode, 0);
}

// A CONNECT proxy that reads the request head and answers Reply, then waits
// for the client to go.
ScriptedPeer::Script ConnectProxy(const std::string& Reply) {
  return [Reply](PeerConnection& Peer, int) {
    Peer.ReadUntil("\r\n\r\n");
    Peer.Write(Reply);
    Peer.ReadToEnd();
  };
}

void UseTunnel(TTCPBlockSocket& Socket, const ScriptedPeer& Proxy) {
  Socket.HTTPTunnelIP = "127.0.0.1";
  Socket.HTTPTunnelPort = Proxy.PortText();
  Socket.HTTPTunnelTimeout = kTimeout;
}

void UseSocks(TTCPBlockSocket& Socket, const ScriptedPeer& Proxy, TSocksType Type) {
  Socket.SocksIP = "127.0.0.1";
  Socket.SocksPort = Proxy.PortText();
  Socket.SocksType = Type;
  Socket.SocksTimeout = kTimeout;
}

}  // namespace

// ---------------------------------------------------------------------------
// HTTP CONNECT against a scripted proxy

TEST(BlockSockTunnel, AcceptedTunnelKeepsBytesAfterTheEmptyLine) {
  ScriptedPeer Proxy(ConnectProxy("HTTP/1.0 200 Connection established\r\nVia: test\r\n\r\nfirst bytes"));
  TTCPBlockSocket Socket;
  UseTunnel(Socket, Proxy);
  Socket.Connect("files.example.invalid", "https");
  EXPECT_EQ(Socket.LastErrorCode, 0);
  EXPECT_TRUE(Socket.ViaHttpTunnel);
  EXPECT_FALSE(Socket.RawMode);
  EXPECT_EQ(Socket.RemoteAddress(), "files.example.invalid");
  EXPECT_EQ(Socket.RemotePort(), 443);
  EXPECT_EQ(Socket.ReceivePacket(kTimeout), "first bytes");
  Socket.CloseSocket();
  EXPECT_EQ(Proxy.Received(), "CONNECT files.example.invalid:443 HTTP/1.0\r\n\r\n");
}

TEST(BlockSockTunnel, RefusedTunnelReadsToTheEmptyLineAndFails) {
  ScriptedPeer Proxy(ConnectProxy(
      "HTTP/1.0 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic realm=\"x\"\r\n\r\nleft over"));
  TTCPBlockSocket Socket;
  UseTunnel(Socket, Proxy);
  Socket.Connect("127.0.0.1", "443");
  EXPECT_EQ(Socket.LastErrorCode, 10091);
  EXPECT_FALSE(Socket.ViaHttpTunnel);
  // The reply was read up to its empty line, and no further.
  EXPECT_EQ(Socket.PendingInput.Str(), "left over");
}

TEST(BlockSockTunnel, StatusLineCountsOnlyWhenLongerThanElevenBytes) {
  // "HTTP/1.0 20" with its CR is 12 bytes and counts; the same 11 bytes
  // ended by a bare LF do not, so that reply is a refusal.
  {
    ScriptedPeer Proxy(ConnectProxy("HTTP/1.0 20\r\n\r\n"));
    TTCPBlockSocket Socket;
    UseTunnel(Socket, Proxy);
    Socket.Connect("127.0.0.1", "443");
    EXPECT_EQ(Socket.LastErrorCode, 0);
  }
  {
    ScriptedPeer Proxy(ConnectProxy("HTTP/1.0 20\n\n"));
    TTCPBlockSocket Socket;
    UseTunnel(Socket, Proxy);
    Socket.Connect("127.0.0.1", "443");
    EXPECT_EQ(Socket.LastErrorCode, 10091);
  }
  {
    ScriptedPeer Proxy(ConnectProxy("HTTP/1.0 200\n\n"));
    TTCPBlockSocket Socket;
    UseTunnel(Socket, Proxy);
    Socket.Connect("127.0.0.1", "443");
    EXPECT_EQ(Socket.LastErrorCode, 0);
  }
}

TEST(BlockSockTunnel, LaterStatusLineOverridesEarlierOne) {
  ScriptedPeer Proxy(ConnectProxy("HTTP/1.1 100 Continue\r\nHTTP/1.1 200 OK\r\n\r\n"));
  TTCPBlockSocket Socket;
  UseTunnel(Socket, Proxy);
  Socket.Connect("127.0.0.1", "443");
  EXPECT_EQ(Socket.LastErrorCode, 0);
  EXPECT_TRUE(Socket.ViaHttpTunnel);
}

TEST(BlockSockTunnel, IPv6HostIsBracketed) {
  ScriptedPeer Proxy(ConnectProxy("HTTP/1.0 200 OK\r\n\r\n"));
  TTCPBlockSocket Socket;
  UseTunnel(Socket, Proxy);
  Socket.Connect("::1", "443");
  EXPECT_EQ(Socket.LastErrorCode, 0);
  EXPECT_EQ(Socket.RemoteAddress(), "[::1]");
  Socket.CloseSocket();
  EXPECT_EQ(Proxy.Received(), "CONNECT [::1]:443 HTTP/1.0\r\n\r\n");
}

TEST(BlockSockTunnel, AuthorizationOnlyWithAUser) {
  {
    ScriptedPeer Proxy(ConnectProxy("HTTP/1.0 200 OK\r\n\r\n"));
    TTCPBlockSocket Socket;
    UseTunnel(Socket, Proxy);
    Socket.HTTPTunnelPass = "secret";
    Socket.Connect("127.0.0.1", "8443");
    Socket.CloseSocket();
    EXPECT_EQ(Proxy.Received(), "CONNECT 127.0.0.1:8443 HTTP/1.0\r\n\r\n");
  }
  {
    ScriptedPeer Proxy(ConnectProxy("HTTP/1.0 200 OK\r\n\r\n"));
    TTCPBlockSocket Socket;
    UseTunnel(Socket, Proxy);
    Socket.HTTPTunnelUser = "user";
    Socket.HTTPTunnelPass = "pa:ss";
    Socket.Connect("127.0.0.1", "8443");
    Socket.CloseSocket();
    EXPECT_EQ(Proxy.Received(), "CONNECT 127.0.0.1:8443 HTTP/1.0\r\nProxy-Authorization: Basic " +
                                    Base64Encode("user:pa:ss") + "\r\n\r\n");
  }
}

TEST(BlockSockTunnel, EndlessHeaderLinesAreRefused) {
  ScriptedPeer Proxy([](PeerConnection& Peer, int) {
    Peer.ReadUntil("\r\n\r\n");
    Peer.Write("HTTP/1.0 200 OK\r\n");
    // Stops when the client has gone (or after far more than any limit).
    for (int i = 0; i < 200000 && Peer.Write("X-Padding: " + std::string(40, 'x') + "\r\n"); ++i) {
    }
  });
  TTCPBlockSocket Socket;
  UseTunnel(Socket, Proxy);
  Socket.Connect("127.0.0.1", "443");
  EXPECT_EQ(Socket.LastErrorCode, 10091);
  Socket.CloseSocket();
}

TEST(BlockSockTunnel, EndlessSingleLineIsRefused) {
  ScriptedPeer Proxy([](PeerConnection& Peer, int) {
    Peer.ReadUntil("\r\n\r\n");
    for (int i = 0; i < 200000 && Peer.Write(std::string(1000, 'y')); ++i) {
    }
  });
  TTCPBlockSocket Socket;
  UseTunnel(Socket, Proxy);
  Socket.MaxLineLength = 0;
  Socket.Connect("127.0.0.1", "443");
  EXPECT_EQ(Socket.LastErrorCode, 10091);
  EXPECT_EQ(Socket.MaxLineLength, 0);  // the caller's setting is back
  Socket.CloseSocket();
}

TEST(BlockSockTunnel, ProxyClosingOrSilentEndsWithItsCode) {
  {
    ScriptedPeer Proxy([](PeerConnection& Peer, int) {
      Peer.ReadUntil("\r\n\r\n");
      Peer.Write("HTTP/1.0 200 OK\r\n");
    });
    TTCPBlockSocket Socket;
    UseTunnel(Socket, Proxy);
    Socket.Connect("127.0.0.1", "443");
    EXPECT_EQ(Socket.LastErrorCode, 10054);
  }
  {
    ScriptedPeer Proxy([](PeerConnection& Peer, int) { Peer.ReadToEnd(); });
    TTCPBlockSocket Socket;
    UseTunnel(Socket, Proxy);
    Socket.HTTPTunnelTimeout = 200;
    Socket.Connect("127.0.0.1", "443");
    EXPECT_EQ(Socket.LastErrorCode, 10060);
  }
}

TEST(BlockSockTunnel, SocketIsReusableAfterARefusal) {
  ScriptedPeer Proxy(ConnectProxy("HTTP/1.0 403 Forbidden\r\n\r\n"));
  ScriptedPeer Target(Destination());
  TTCPBlockSocket Socket;
  UseTunnel(Socket, Proxy);
  Socket.Connect("127.0.0.1", Target.PortText());
  EXPECT_EQ(Socket.LastErrorCode, 10091);
  Socket.CloseSocket();
  Socket.HTTPTunnelIP.clear();
  Socket.Connect("127.0.0.1", Target.PortText());
  ASSERT_EQ(Socket.LastErrorCode, 0);
  ExpectDestinationDialog(Socket);
}

// ---------------------------------------------------------------------------
// SOCKS 5 against a scripted proxy

namespace {

// A SOCKS5 proxy that accepts without authentication, reads a request for
// an address of RequestLength bytes (type, address, port), answers Reply
// and then stands in for the destination with Destination().
ScriptedPeer::Script Socks5Proxy(std::size_t RequestLength, const std::string& Reply) {
  return [RequestLength, Reply](PeerConnection& Peer, int Index) {
    Peer.ReadExactly(3);
    Peer.Write(Bytes({5, 0}));
    Peer.ReadExactly(3 + RequestLength);
    Peer.Write(Reply);
    Destination()(Peer, Index);
  };
}

const std::string kSocks5Granted = Bytes({5, 0, 0, 1, 10, 1, 2, 3, 0x1F, 0x90});

}  // namespace

TEST(BlockSockSocks, Socks5ConnectToIPv4WithoutAuthentication) {
  ScriptedPeer Proxy(Socks5Proxy(7, kSocks5Granted));
  TTCPBlockSocket Socket;
  UseSocks(Socket, Proxy, ST_Socks5);
  Socket.Connect("127.0.0.1", "8080");
  ASSERT_EQ(Socket.LastErrorCode, 0);
  EXPECT_TRUE(Socket.ViaSocks);
  EXPECT_EQ(Socket.SocksReplyCode, 0);
  EXPECT_EQ(Socket.SocksBoundAddress, "10.1.2.3");
  EXPECT_EQ(Socket.SocksBoundPort, "8080");
  EXPECT_EQ(Socket.LocalAddress(), "10.1.2.3");
  EXPECT_EQ(Socket.LocalPort(), 8080);
  EXPECT_EQ(Socket.RemoteAddress(), "127.0.0.1");
  EXPECT_EQ(Socket.RemotePort(), 8080);
  ExpectDestinationDialog(Socket);
  Socket.CloseSocket();
  EXPECT_EQ(Proxy.Received().substr(0, 13), Bytes({5, 1, 0, 5, 1, 0, 1, 127, 0, 0, 1, 0x1F, 0x90}));
}

TEST(BlockSockSocks, Socks5AddressForms) {
  {
    ScriptedPeer Proxy(Socks5Proxy(19, kSocks5Granted));
    TTCPBlockSocket Socket;
    UseSocks(Socket, Proxy, ST_Socks5);
    Socket.Connect("::1", "21");
    EXPECT_EQ(Socket.LastErrorCode, 0);
    Socket.CloseSocket();
    EXPECT_EQ(Proxy.Received().substr(3, 22),
              Bytes({5, 1, 0, 4, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 21}));
  }
  {
    const std::string Name = "ftp.example.invalid";
    ScriptedPeer Proxy(Socks5Proxy(2 + Name.size() + 2, kSocks5Granted));
    TTCPBlockSocket Socket;
    UseSocks(Socket, Proxy, ST_Socks5);
    Socket.Connect(Name, "ftp");
    EXPECT_EQ(Socket.LastErrorCode, 0);
    Socket.CloseSocket();
    EXPECT_EQ(Proxy.Received().substr(3, 5 + Name.size() + 2),
              Bytes({5, 1, 0, 3, static_cast<int>(Name.size())}) + Name + Bytes({0, 21}));
  }
}

TEST(BlockSockSocks, Socks5WithLocalResolutionSendsAnAddress) {
  ScriptedPeer Proxy([](PeerConnection& Peer, int Index) {
    Peer.ReadExactly(3);
    Peer.Write(Bytes({5, 0}));
    const std::string Head = Peer.ReadExactly(4);
    Peer.ReadExactly((Head.size() == 4 && Head[3] == 4 ? 16 : 4) + 2);
    Peer.Write(kSocks5Granted);
    Destination()(Peer, Index);
  });
  TTCPBlockSocket Socket;
  UseSocks(Socket, Proxy, ST_Socks5);
  Socket.SocksResolver = false;
  const std::string Address = Socket.ResolveName("localhost");
  Socket.Connect("localhost", "80");
  ASSERT_EQ(Socket.LastErrorCode, 0);
  ExpectDestinationDialog(Socket);
  Socket.CloseSocket();
  const std::string Request = Proxy.Received().substr(3);
  if (Address == "127.0.0.1") {
    EXPECT_EQ(Request.substr(0, 10), Bytes({5, 1, 0, 1, 127, 0, 0, 1, 0, 80}));
  } else {
    EXPECT_EQ(Address, "::1");
    EXPECT_EQ(Request.substr(0, 4), Bytes({5, 1, 0, 4}));
  }
}

TEST(BlockSockSocks, Socks5NameOf255BytesIsSentAndLongerIsRefused) {
  const std::string Longest(255, 'a');
  {
    ScriptedPeer Proxy(Socks5Proxy(2 + 255 + 2, kSocks5Granted));
    TTCPBlockSocket Socket;
    UseSocks(Socket, Proxy, ST_Socks5);
    Socket.Connect(Longest, "80");
    EXPECT_EQ(Socket.LastErrorCode, 0);
    Socket.CloseSocket();
    EXPECT_EQ(Proxy.Received().substr(3, 5 + 255), Bytes({5, 1, 0, 3, 255}) + Longest);
  }
  {
    ScriptedPeer Proxy(Socks5Proxy(2 + 256 + 2, kSocks5Granted));
    TTCPBlockSocket Socket;
    UseSocks(Socket, Proxy, ST_Socks5);
    Socket.Connect(Longest + "b", "80");
    EXPECT_EQ(Socket.LastErrorCode, 10091);
    Socket.CloseSocket();
    // Only the greeting went out: no request with a cut length byte.
    EXPECT_EQ(Proxy.Received(), Bytes({5, 1, 0}));
  }
}

TEST(BlockSockSocks, Socks5UserPasswordNegotiation) {
  ScriptedPeer Proxy([](PeerConnection& Peer, int Index) {
    Peer.ReadExactly(4);
    Peer.Write(Bytes({5, 2}));
    Peer.ReadExactly(1 + 1 + 5 + 1 + 6);
    Peer.Write(Bytes({1, 0}));
    Peer.ReadExactly(10);
    Peer.Write(kSocks5Granted);
    Destination()(Peer, Index);
  });
  TTCPBlockSocket Socket;
  UseSocks(Socket, Proxy, ST_Socks5);
  Socket.SocksUsername = "alice";
  Socket.SocksPassword = "s3cret";
  Socket.Connect("127.0.0.1", "80");
  ASSERT_EQ(Socket.LastErrorCode, 0);
  ExpectDestinationDialog(Socket);
  Socket.CloseSocket();
  EXPECT_EQ(Proxy.Received().substr(0, 18), Bytes({5, 2, 2, 0, 1, 5}) + "alice" + Bytes({6}) + "s3cret");
}

TEST(BlockSockSocks, Socks5ProxyChoosingNoAuthenticationSkipsTheSubNegotiation) {
  ScriptedPeer Proxy([](PeerConnection& Peer, int Index) {
    Peer.ReadExactly(4);
    Peer.Write(Bytes({5, 0}));
    Peer.ReadExactly(10);
    Peer.Write(kSocks5Granted);
    Destination()(Peer, Index);
  });
  TTCPBlockSocket Socket;
  UseSocks(Socket, Proxy, ST_Socks5);
  Socket.SocksUsername = "alice";
  Socket.Connect("127.0.0.1", "80");
  ASSERT_EQ(Socket.LastErrorCode, 0);
  ExpectDestinationDialog(Socket);
  Socket.CloseSocket();
  EXPECT_EQ(Proxy.Received().substr(0, 5), Bytes({5, 2, 2, 0, 5}));
}

TEST(BlockSockSocks, Socks5RefusalsEndWith10091) {
  struct Case {
    const char* Name;
    std::string Choice;
    std::string Reply;
  };
  const Case Cases[] = {
      {"no acceptable method", Bytes({5, 0xFF}), ""},
      {"wrong greeting version", Bytes({4, 0}), ""},
      {"wrong reply version", Bytes({5, 0}), Bytes({4, 0, 0, 1, 1, 2, 3, 4, 0, 80})},
      {"request refused", Bytes({5, 0}), Bytes({5, 5, 0, 1, 0, 0, 0, 0, 0, 0})},
      {"SOCKS 4 success code", Bytes({5, 0}), Bytes({5, 90, 0, 1, 0, 0, 0, 0, 0, 0})},
      {"unknown address type", Bytes({5, 0}), Bytes({5, 0, 0, 7, 1, 2, 3, 4, 0, 80})},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Name);
    ScriptedPeer Proxy([&C](PeerConnection& Peer, int) {
      Peer.ReadExactly(3);
      Peer.Write(C.Choice);
      Peer.ReadExactly(10, 2000);
      Peer.Write(C.Reply);
      Peer.ReadToEnd();
    });
    TTCPBlockSocket Socket;
    UseSocks(Socket, Proxy, ST_Socks5);
    Socket.Connect("127.0.0.1", "80");
    EXPECT_EQ(Socket.LastErrorCode, 10091);
    Socket.CloseSocket();
  }
}

TEST(BlockSockSocks, Socks5TruncatedRepliesEndWhenTheProxyCloses) {
  const std::string Truncated[] = {
      Bytes({5}),
      Bytes({5, 0, 0, 1, 127, 0}),
      Bytes({5, 0, 0, 3}),
      Bytes({5, 0, 0, 3, 200}) + std::string(100, 'n'),
      Bytes({5, 0, 0, 4}) + std::string(10, '\0'),
      Bytes({5, 0, 0, 1, 127, 0, 0, 1, 0}),
  };
  for (const std::string& Reply : Truncated) {
    SCOPED_TRACE(Reply.size());
    ScriptedPeer Proxy([&Reply](PeerConnection& Peer, int) {
      Peer.ReadExactly(3);
      Peer.Write(Bytes({5, 0}));
      Peer.ReadExactly(10);
      Peer.Write(Reply);
    });
    TTCPBlockSocket Socket;
    UseSocks(Socket, Proxy, ST_Socks5);
    Socket.Connect("127.0.0.1", "80");
    EXPECT_EQ(Socket.LastErrorCode, 10054);
    Socket.CloseSocket();
  }
}

TEST(BlockSockSocks, Socks5NameInReplyWithHighLengthByte) {
  // 200 as a length byte must be read as 200, not as a negative number.
  const std::string Name(200, 'n');
  ScriptedPeer Proxy(Socks5Proxy(7, Bytes({5, 0, 0, 3, 200}) + Name + Bytes({0x04, 0x01})));
  TTCPBlockSocket Socket;
  UseSocks(Socket, Proxy, ST_Socks5);
  Socket.Connect("127.0.0.1", "80");
  ASSERT_EQ(Socket.LastErrorCode, 0);
  EXPECT_EQ(Socket.SocksBoundAddress, Name);
  EXPECT_EQ(Socket.SocksBoundPort, "1025");
  ExpectDestinationDialog(Socket);
}

TEST(BlockSockSocks, DecodingShortRepliesLeavesTheFieldsAlone) {
  TTCPBlockSocket Socket;
  Socket.SocksBoundAddress = "kept";
  Socket.SocksDecodeAddress(Bytes({5, 0, 0, 3, 250, 'a', 'b'}));
  EXPECT_EQ(Socket.SocksBoundAddress, "kept");
  EXPECT_EQ(Socket.SocksBoundPort, "0");
  Socket.SocksDecodeAddress(Bytes({5, 0, 0, 4}) + std::string(15, '\0') + Bytes({1, 0, 80}));
  EXPECT_EQ(Socket.SocksBoundAddress, "::1");
  EXPECT_EQ(Socket.SocksBoundPort, "80");
  Socket.SocksType = ST_Socks4;
  Socket.SocksDecodeAddress(Bytes({0, 90, 0, 21}));
  EXPECT_EQ(Socket.SocksBoundAddress, "::1");
  EXPECT_EQ(Socket.SocksBoundPort, "0");
}

// ---------------------------------------------------------------------------
// SOCKS 4 and 4a against a scripted proxy

namespace {

ScriptedPeer::Script Socks4Proxy(const std::string& Terminators, const std::string& Reply) {
  return [Terminators, Reply](PeerConnection& Peer, int Index) {
    Peer.ReadExactly(8);
    for (std::size_t i = 0; i < Terminators.size(); ++i) Peer.ReadUntil(std::string(1, '\0'));
    Peer.Write(Reply);
    if (Reply.size() == 8 && Reply[1] == 90) Destination()(Peer, Index);
    Peer.ReadToEnd();
  };
}

}  // namespace

TEST(BlockSockSocks, Socks4ConnectSendsAddressAndUserId) {
  ScriptedPeer Proxy(Socks4Proxy("u", Bytes({0, 90, 0, 0, 0, 0, 0, 0})));
  TTCPBlockSocket Socket;
  UseSocks(Socket, Proxy, ST_Socks4);
  Socket.SocksUsername = "bob";
  Socket.Connect("127.0.0.1", "8021");
  ASSERT_EQ(Socket.LastErrorCode, 0);
  EXPECT_TRUE(Socket.ViaSocks);
  EXPECT_EQ(Socket.SocksReplyCode, 90);
  ExpectDestinationDialog(Socket);
  Socket.CloseSocket();
  EXPECT_EQ(Proxy.Received().substr(0, 12), Bytes({4, 1, 0x1F, 0x55, 127, 0, 0, 1}) + "bob" + Bytes({0}));
}

TEST(BlockSockSocks, Socks4aSendsTheNameForTheProxyToResolve) {
  ScriptedPeer Proxy(Socks4Proxy("un", Bytes({0, 90, 0x1F, 0x55, 10, 0, 0, 9})));
  TTCPBlockSocket Socket;
  UseSocks(Socket, Proxy, ST_Socks4);
  Socket.SocksUsername = "bob";
  Socket.Connect("ftp.example.invalid", "8021");
  ASSERT_EQ(Socket.LastErrorCode, 0);
  EXPECT_EQ(Socket.SocksBoundAddress, "10.0.0.9");
  EXPECT_EQ(Socket.SocksBoundPort, "8021");
  ExpectDestinationDialog(Socket);
  Socket.CloseSocket();
  EXPECT_EQ(Proxy.Received().substr(0, 32),
            Bytes({4, 1, 0x1F, 0x55, 0, 0, 0, 1}) + "bob" + Bytes({0}) + "ftp.example.invalid" + Bytes({0}));
}

TEST(BlockSockSocks, Socks4RefusedWrongOrShortReplies) {
  struct Case {
    const char* Name;
    std::string Reply;
    std::int32_t Code;
  };
  const Case Cases[] = {
      {"rejected", Bytes({0, 91, 0, 0, 0, 0, 0, 0}), 10091},
      {"SOCKS 5 success code", Bytes({0, 0, 0, 0, 0, 0, 0, 0}), 10091},
      {"wrong version byte", Bytes({4, 90, 0, 0, 0, 0, 0, 0}), 10091},
      {"truncated", Bytes({0, 90, 0, 0}), 10054},
  };
  for (const Case& C : Cases) {
    SCOPED_TRACE(C.Name);
    ScriptedPeer Proxy([&C](PeerConnection& Peer, int) {
      Peer.ReadExactly(8);
      Peer.ReadUntil(std::string(1, '\0'));
      Peer.Write(C.Reply);
    });
    TTCPBlockSocket Socket;
    UseSocks(Socket, Proxy, ST_Socks4);
    Socket.Connect("127.0.0.1", "80");
    EXPECT_EQ(Socket.LastErrorCode, C.Code);
    Socket.CloseSocket();
  }
}

// ---------------------------------------------------------------------------
// SOCKS BIND: Listen and Accept at the proxy

TEST(BlockSockSocks, ListenAndAcceptThroughTheProxy) {
  ScriptedPeer Proxy([](PeerConnection& Peer, int Index) {
    Peer.ReadExactly(3);
    Peer.Write(Bytes({5, 0}));
    Peer.ReadExactly(10);
    Peer.Write(Bytes({5, 0, 0, 1, 0, 0, 0, 0, 0x13, 0x88}));
    Peer.Write(Bytes({5, 0, 0, 1, 192, 0, 2, 7, 0x04, 0x00}));
    Destination()(Peer, Index);
  });
  TTCPBlockSocket Socket;
  UseSocks(Socket, Proxy, ST_Socks5);
  Socket.Bind("127.0.0.1", "0");
  Socket.Listen();
  ASSERT_EQ(Socket.LastErrorCode, 0);
  EXPECT_EQ(Socket.LocalAddress(), "127.0.0.1");  // the proxy's own, for 0.0.0.0
  EXPECT_EQ(Socket.LocalPort(), 5000);
  EXPECT_EQ(Socket.Accept(), Socket.SocketHandle);
  EXPECT_EQ(Socket.LastErrorCode, 0);
  EXPECT_EQ(Socket.RemoteAddress(), "192.0.2.7");
  EXPECT_EQ(Socket.RemotePort(), 1024);
  ExpectDestinationDialog(Socket);
  Socket.CloseSocket();
  EXPECT_EQ(Proxy.Received().substr(3, 4), Bytes({5, 2, 0, 1}));
}

TEST(BlockSockSocks, RefusedBindGives11003) {
  ScriptedPeer Proxy([](PeerConnection& Peer, int) {
    Peer.ReadExactly(3);
    Peer.Write(Bytes({5, 0}));
    Peer.ReadExactly(10);
    Peer.Write(Bytes({5, 7, 0, 1, 0, 0, 0, 0, 0, 0}));
    Peer.ReadToEnd();
  });
  TTCPBlockSocket Socket;
  UseSocks(Socket, Proxy, ST_Socks5);
  Socket.Bind("127.0.0.1", "0");
  Socket.Listen();
  EXPECT_EQ(Socket.LastErrorCode, 11003);
  EXPECT_EQ(Socket.SocksReplyCode, 7);
}

// ---------------------------------------------------------------------------
// Real proxies

class BlockSockProxyPeers : public ::testing::Test {
 protected:
  testsupport::TempDir Dir;
  testsupport::BackgroundProcess Proxy;
  int ProxyPort = testsupport::FreePort();
};

TEST_F(BlockSockProxyPeers, TinyproxyConnectTunnel) {
  ASSERT_TRUE(tlsproxyservers::StartTinyproxy(Proxy, ProxyPort, "", "", Dir.Path()));
  ScriptedPeer Target(Destination());
  TTCPBlockSocket Socket;
  Socket.HTTPTunnelIP = "127.0.0.1";
  Socket.HTTPTunnelPort = std::to_string(ProxyPort);
  Socket.Connect("127.0.0.1", Target.PortText());
  ASSERT_EQ(Socket.LastErrorCode, 0);
  EXPECT_TRUE(Socket.ViaHttpTunnel);
  ExpectDestinationDialog(Socket);
}

TEST_F(BlockSockProxyPeers, TinyproxyDemandingAuthentication) {
  ASSERT_TRUE(tlsproxyservers::StartTinyproxy(Proxy, ProxyPort, "puser", "ppass", Dir.Path()));
  ScriptedPeer Target(Destination());
  TTCPBlockSocket Socket;
  Socket.HTTPTunnelIP = "127.0.0.1";
  Socket.HTTPTunnelPort = std::to_string(ProxyPort);
  Socket.Connect("127.0.0.1", Target.PortText());
  EXPECT_EQ(Socket.LastErrorCode, 10091);  // 407
  Socket.CloseSocket();
  Socket.HTTPTunnelUser = "puser";
  Socket.HTTPTunnelPass = "ppass";
  Socket.Connect("127.0.0.1", Target.PortText());
  ASSERT_EQ(Socket.LastErrorCode, 0);
  ExpectDestinationDialog(Socket);
}

TEST_F(BlockSockProxyPeers, DanteSocks5WithoutAuthentication) {
  ASSERT_TRUE(tlsproxyservers::StartDanted(Proxy, ProxyPort, "", "", Dir.Path()));
  ScriptedPeer Target(Destination());
  TTCPBlockSocket Socket;
  Socket.SocksIP = "127.0.0.1";
  Socket.SocksPort = std::to_string(ProxyPort);
  Socket.Connect("127.0.0.1", Target.PortText());
  ASSERT_EQ(Socket.LastErrorCode, 0);
  EXPECT_EQ(Socket.SocksBoundAddress, "127.0.0.1");
  ExpectDestinationDialog(Socket);
}

TEST_F(BlockSockProxyPeers, DanteSocks4) {
  ASSERT_TRUE(tlsproxyservers::StartDanted(Proxy, ProxyPort, "", "", Dir.Path()));
  ScriptedPeer Target(Destination());
  TTCPBlockSocket Socket;
  Socket.SocksIP = "127.0.0.1";
  Socket.SocksPort = std::to_string(ProxyPort);
  Socket.SocksType = ST_Socks4;
  Socket.Connect("127.0.0.1", Target.PortText());
  ASSERT_EQ(Socket.LastErrorCode, 0);
  ExpectDestinationDialog(Socket);
}

TEST_F(BlockSockProxyPeers, DanteSocks5WithUserAndPassword) {
  ASSERT_TRUE(tlsproxyservers::StartDanted(Proxy, ProxyPort, "proxyuser", "secret", Dir.Path()));
  ScriptedPeer Target(Destination(), "127.0.0.1", 1);
  TTCPBlockSocket Socket;
  Socket.SocksIP = "127.0.0.1";
  Socket.SocksPort = std::to_string(ProxyPort);
  Socket.SocksUsername = "proxyuser";
  Socket.SocksPassword = "wrong";
  Socket.Connect("127.0.0.1", Target.PortText());
  EXPECT_EQ(Socket.LastErrorCode, 10091);
  Socket.CloseSocket();
  Socket.SocksPassword = "secret";
  Socket.Connect("127.0.0.1", Target.PortText());
  ASSERT_EQ(Socket.LastErrorCode, 0);
  ExpectDestinationDialog(Socket);
}

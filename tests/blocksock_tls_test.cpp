// The TLS client session: handshakes, data, clean and unclean ends and
// certificate checks against openssl s_server, nginx and scripted TLS
// peers; TLS through CONNECT and SOCKS tunnels; FTP with AUTH TLS and
// protected data connections against vsftpd.
#include <gtest/gtest.h>

#include <csignal>
#include <string>

#include "net/blocksock.h"
#include "protocols/httpsend.h"
#include "support/testsupport.h"
#include "support/tlsproxypeer.h"
#include "support/tlsproxyservers.h"
#include "util/streams.h"

using tlsproxypeer::PeerConnection;
using tlsproxypeer::ScriptedPeer;
using tlsproxyservers::TestCertificates;
using testsupport::BackgroundProcess;
using testsupport::FreePort;
using testsupport::ReadFile;
using testsupport::TempDir;
using testsupport::WriteFile;

namespace {

constexpr std::int32_t kTimeout = 10000;

const TSocketInterfaceGuard SocketInterface;

class BlockSockTls : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    CertDir = new TempDir;
    Certs = new TestCertificates;
    ASSERT_TRUE(Certs->Make(CertDir->Path()));
  }
  static void TearDownTestSuite() {
    delete Certs;
    delete CertDir;
  }

  // A scripted TLS server with the CA-signed localhost certificate.
  static std::shared_ptr<SSL_CTX> ServerContext() {
    return tlsproxypeer::ServerTlsContext(Certs->ServerCert, Certs->ServerKey);
  }

  static TempDir* CertDir;
  static TestCertificates* Certs;
  TempDir Dir;
};

TempDir* BlockSockTls::CertDir = nullptr;
TestCertificates* BlockSockTls::Certs = nullptr;

// A TLS peer that runs Body after its handshake.
ScriptedPeer::Script TlsPeer(std::shared_ptr<SSL_CTX> Context, std::function<void(PeerConnection&)> Body) {
  return [Context, Body](PeerConnection& Peer, int) {
    if (Peer.StartTls(Context.get())) Body(Peer);
  };
}

void ConnectTls(TTCPBlockSocket& Socket, const std::string& Host, int Port) {
  Socket.SetTlsEnabled(true);
  ASSERT_EQ(Socket.LastErrorCode, 0);
  Socket.Connect(Host, std::to_string(Port));
}

std::string Get(TTCPBlockSocket& Socket, const std::string& Path) {
  Socket.SendText("GET " + Path + " HTTP/1.0\r\nHost: localhost\r\n\r\n");
  TMemoryStream Body;
  Socket.ReceiveToStream(Body, kTimeout);
  return Body.Data();
}

}  // namespace

// ---------------------------------------------------------------------------
// Real servers

TEST_F(BlockSockTls, OpensslServerDeliversAllDataThenTheCloseEndsWith10054) {
  std::string Content;
  for (int i = 0; i < 20000; ++i) Content += "line " + std::to_string(i) + "\n";
  WriteFile(Dir / "file.txt", Content);
  BackgroundProcess Server;
  const int Port = FreePort();
  ASSERT_TRUE(tlsproxyservers::StartOpensslServer(Server, Port, Certs->SelfSignedCert, Certs->SelfSignedKey, {"-WWW"},
                                                  Dir.Path()));
  TTCPBlockSocket Socket;
  ConnectTls(Socket, "127.0.0.1", Port);
  ASSERT_EQ(Socket.LastErrorCode, 0) << Socket.TlsLastErrorText;
  EXPECT_TRUE(Socket.TlsEnabled);
  const std::string Reply = Get(Socket, "/file.txt");
  EXPECT_EQ(Socket.LastErrorCode, 10054);
  ASSERT_GE(Reply.size(), Content.size());
  EXPECT_EQ(Reply.substr(Reply.size() - Content.size()), Content);
  Socket.CloseSocket();
  EXPECT_FALSE(Socket.TlsEnabled);
  EXPECT_EQ(Socket.TlsSession, nullptr);
}

TEST_F(BlockSockTls, NginxSeesTheServerNameAndVerificationPasses) {
  WriteFile(Dir / "index.html", "hello over tls\n");
  BackgroundProcess Server;
  const int Port = FreePort();
  TempDir Conf;
  ASSERT_TRUE(tlsproxyservers::StartNginxTls(Server, Port, Certs->ServerCert, Certs->ServerKey, Dir.Path(), Conf.Path()));
  TTCPBlockSocket Socket;
  Socket.SSLverifyCert = true;
  Socket.SSLCertCAFile = Certs->CaFile;
  ConnectTls(Socket, "localhost", Port);
  ASSERT_EQ(Socket.LastErrorCode, 0) << Socket.TlsLastErrorText;
  const std::string Reply = Get(Socket, "/index.html");
  EXPECT_NE(Reply.find("200 OK"), std::string::npos);
  EXPECT_NE(Reply.find("hello over tls"), std::string::npos);
  Socket.CloseSocket();
  // An address literal is checked against the certificate's IP names and
  // sends no server name.
  ConnectTls(Socket, "127.0.0.1", Port);
  ASSERT_EQ(Socket.LastErrorCode, 0) << Socket.TlsLastErrorText;
  Get(Socket, "/index.html");
  Socket.CloseSocket();
  Server.Stop();
  const std::string Log = ReadFile(Conf / "access.log");
  EXPECT_NE(Log.find("localhost GET /index.html"), std::string::npos) << Log;
  EXPECT_NE(Log.find("- GET /index.html"), std::string::npos) << Log;
}

TEST_F(BlockSockTls, UntrustedCertificateIsAcceptedOnlyWithoutVerification) {
  ScriptedPeer Peer(
      TlsPeer(tlsproxypeer::ServerTlsContext(Certs->SelfSignedCert, Certs->SelfSignedKey),
              [](PeerConnection& C) { C.Write("welcome\r\n"); C.ReadToEnd(); }),
      "127.0.0.1", 2);
  TTCPBlockSocket Socket;
  ConnectTls(Socket, "localhost", Peer.Port());
  ASSERT_EQ(Socket.LastErrorCode, 0);
  EXPECT_EQ(Socket.ReceiveLine(kTimeout), "welcome");
  Socket.CloseSocket();
  Socket.SSLverifyCert = true;
  Socket.SSLCertCAFile = Certs->CaFile;
  ConnectTls(Socket, "localhost", Peer.Port());
  EXPECT_EQ(Socket.LastErrorCode, 10013);
  EXPECT_FALSE(Socket.TlsEnabled);
}

TEST_F(BlockSockTls, VerificationRejectsAnotherHostsCertificateAndAnUnknownCa) {
  ScriptedPeer WrongName(TlsPeer(tlsproxypeer::ServerTlsContext(Certs->WrongNameCert, Certs->WrongNameKey),
                                 [](PeerConnection& C) { C.ReadToEnd(); }));
  TTCPBlockSocket Socket;
  Socket.SSLverifyCert = true;
  Socket.SSLCertCAFile = Certs->CaFile;
  ConnectTls(Socket, "localhost", WrongName.Port());
  EXPECT_EQ(Socket.LastErrorCode, 10013);
  Socket.CloseSocket();
  // Without the test's CA file the system store knows nothing of it.
  ScriptedPeer Good(TlsPeer(ServerContext(), [](PeerConnection& C) { C.ReadToEnd(); }));
  Socket.SSLCertCAFile.clear();
  ConnectTls(Socket, "localhost", Good.Port());
  EXPECT_EQ(Socket.LastErrorCode, 10013);
}

TEST_F(BlockSockTls, DataBothWaysAndTheServerNameAtAScriptedPeer) {
  std::string SeenName;
  ScriptedPeer Peer(TlsPeer(ServerContext(), [&SeenName](PeerConnection& C) {
    SeenName = C.ServerName();
    const std::string Request = C.ReadExactly(100000);
    C.Write(std::string(Request.rbegin(), Request.rend()));
    C.ReadToEnd();
  }));
  std::string Data;
  for (int i = 0; i < 100000; ++i) Data += static_cast<char>(i * 7 % 251);
  TTCPBlockSocket Socket;
  ConnectTls(Socket, "localhost", Peer.Port());
  ASSERT_EQ(Socket.LastErrorCode, 0);
  Socket.SendText(Data);
  EXPECT_EQ(Socket.LastErrorCode, 0);
  EXPECT_EQ(Socket.ReceiveExact(100000, kTimeout), std::string(Data.rbegin(), Data.rend()));
  Socket.CloseSocket();
  Peer.Join();
  EXPECT_EQ(SeenName, "localhost");
}

// ---------------------------------------------------------------------------
// Ends of a session

TEST_F(BlockSockTls, CloseNotifyEndsTheDataAtOnceWhileTheConnectionStaysOpen) {
  // The peer ends the session but keeps TCP open until the client goes: a
  // reader that reads until the end must finish with 10054 rather than
  // wait for its time-out (which would give 10060).
  ScriptedPeer Peer(TlsPeer(ServerContext(), [](PeerConnection& C) {
    C.Write(std::string(50000, 'd'));
    C.SendCloseNotify();
    C.ReadToEnd(120000);
  }));
  TTCPBlockSocket Socket;
  ConnectTls(Socket, "127.0.0.1", Peer.Port());
  ASSERT_EQ(Socket.LastErrorCode, 0);
  TMemoryStream Body;
  Socket.ReceiveToStream(Body, 60000);
  EXPECT_EQ(Socket.LastErrorCode, 10054);
  EXPECT_EQ(Body.Data(), std::string(50000, 'd'));
}

TEST_F(BlockSockTls, ACloseWithoutCloseNotifyIsACutNotAnEnd) {
  ScriptedPeer Peer(TlsPeer(ServerContext(), [](PeerConnection& C) {
    C.ReadUntil("\r\n\r\n");
    C.Write("HTTP/1.0 200 OK\r\n\r\n" + std::string(50000, 'd'));
    C.Close();
  }), "127.0.0.1", 2);
  TTCPBlockSocket Socket;
  ConnectTls(Socket, "127.0.0.1", Peer.Port());
  ASSERT_EQ(Socket.LastErrorCode, 0);
  EXPECT_EQ(Get(Socket, "/"), "HTTP/1.0 200 OK\r\n\r\n" + std::string(50000, 'd'));
  EXPECT_EQ(Socket.LastErrorCode, 10091);
  EXPECT_FALSE(Socket.TlsEndedCleanly());
  EXPECT_EQ(Socket.TlsFailureReason(), "unexpected eof while reading");
  // The HTTP engine's body that runs until the connection's end.
  THTTPSend Http;
  EXPECT_FALSE(Http.SendRequest("GET", "https://127.0.0.1:" + Peer.PortText() + "/"));
}

TEST_F(BlockSockTls, DecryptedBytesHeldByTheSessionCountAsReadable) {
  ScriptedPeer Peer(TlsPeer(ServerContext(), [](PeerConnection& C) {
    C.Write("abcdef");
    C.ReadToEnd();
  }));
  TTCPBlockSocket Socket;
  ConnectTls(Socket, "127.0.0.1", Peer.Port());
  ASSERT_EQ(Socket.LastErrorCode, 0);
  ASSERT_TRUE(Socket.WaitReadable(kTimeout));
  char Two[2] = {};
  // The whole record arrives in one go; reading part of it leaves the rest
  // decrypted inside the session and nothing in the socket.
  std::int64_t Got = 0;
  for (int i = 0; i < 100 && Got == 0; ++i) {
    Got = Socket.ReceiveRaw(Two, 2);
    if (Got == 0) Socket.WaitReadable(kTimeout);
  }
  ASSERT_EQ(Got, 2);
  EXPECT_EQ(std::string(Two, 2), "ab");
  EXPECT_TRUE(Socket.WaitReadable(0));
  EXPECT_EQ(Socket.BytesPending(), 4);
  EXPECT_EQ(Socket.ReceivePacket(0), "cdef");
}

TEST_F(BlockSockTls, AbortedConnectionGetsAFreshSessionOnReconnect) {
  ScriptedPeer Peer(TlsPeer(ServerContext(), [](PeerConnection& C) {
    C.Write("session\r\n");
    C.ReadToEnd();
  }), "127.0.0.1", 2);
  TTCPBlockSocket Socket;
  ConnectTls(Socket, "127.0.0.1", Peer.Port());
  ASSERT_EQ(Socket.LastErrorCode, 0);
  EXPECT_EQ(Socket.ReceiveLine(kTimeout), "session");
  Socket.AbortSocket();
  ASSERT_TRUE(Socket.TlsEnabled);
  Socket.Connect("127.0.0.1", Peer.PortText());
  ASSERT_EQ(Socket.LastErrorCode, 0) << Socket.TlsLastErrorText;
  EXPECT_EQ(Socket.ReceiveLine(kTimeout), "session");
}

TEST_F(BlockSockTls, PeerDroppingMidHandshake) {
  ScriptedPeer Peer([](PeerConnection& C, int) {
    C.ReadExactly(5);  // the start of the client hello
    C.Close(true);
  });
  ScriptedPeer Plain([](PeerConnection& C, int) {
    C.Write("plain\r\n");
    C.ReadToEnd();
  });
  TTCPBlockSocket Socket;
  ConnectTls(Socket, "127.0.0.1", Peer.Port());
  EXPECT_EQ(Socket.LastErrorCode, 10091);
  EXPECT_FALSE(Socket.TlsEnabled);
  Socket.CloseSocket();
  // The object is as good as new for a plain connection.
  Socket.Connect("127.0.0.1", Plain.PortText());
  ASSERT_EQ(Socket.LastErrorCode, 0);
  EXPECT_EQ(Socket.ReceiveLine(kTimeout), "plain");
}

TEST_F(BlockSockTls, PeerSendingGarbageFailsTheHandshake) {
  ScriptedPeer Peer([](PeerConnection& C, int) {
    C.Write("220 this is an FTP server, not TLS\r\n");
    C.ReadToEnd();
  });
  TTCPBlockSocket Socket;
  ConnectTls(Socket, "127.0.0.1", Peer.Port());
  EXPECT_EQ(Socket.LastErrorCode, 10091);
  EXPECT_NE(Socket.TlsLastError, 0);
  EXPECT_FALSE(Socket.TlsLastErrorText.empty());
}

TEST_F(BlockSockTls, SilentPeerEndsTheHandshakeAtTheTimeout) {
  ScriptedPeer Peer([](PeerConnection& C, int) { C.ReadToEnd(20000); });
  TTCPBlockSocket Socket;
  Socket.TlsTimeout = 300;
  ConnectTls(Socket, "127.0.0.1", Peer.Port());
  EXPECT_EQ(Socket.LastErrorCode, 10060);
  EXPECT_FALSE(Socket.TlsEnabled);
}

TEST_F(BlockSockTls, WritingToAResetSessionFailsWithoutSigpipe) {
  ScriptedPeer Peer(TlsPeer(ServerContext(), [](PeerConnection& C) { C.Close(true); }));
  TTCPBlockSocket Socket;
  ConnectTls(Socket, "127.0.0.1", Peer.Port());
  ASSERT_EQ(Socket.LastErrorCode, 0);
  Peer.Join();
  const std::string Chunk(1 << 20, 'w');
  for (int i = 0; i < 64 && Socket.LastErrorCode == 0; ++i) Socket.SendText(Chunk);
  // Still alive (SIGPIPE would have ended the test program) and told.
  EXPECT_NE(Socket.LastErrorCode, 0);
  Socket.CloseSocket();
}

TEST_F(BlockSockTls, WritingToAPeerThatStopsReadingEndsAtTheTimeout) {
  ScriptedPeer Peer(TlsPeer(ServerContext(), [](PeerConnection& C) { C.WaitForHangUp(); }));
  TTCPBlockSocket Socket;
  ConnectTls(Socket, "127.0.0.1", Peer.Port());
  ASSERT_EQ(Socket.LastErrorCode, 0);
  Socket.TlsTimeout = 300;
  const std::string Chunk(1 << 20, 'w');
  std::int64_t Sent = 0;
  // Far more than the socket buffers hold; the peer reads nothing.
  for (int i = 0; i < 256 && Socket.LastErrorCode == 0; ++i) Sent += Socket.SendBuffer(Chunk.data(), 1 << 20);
  EXPECT_EQ(Socket.LastErrorCode, 10060);
  EXPECT_LT(Sent, 256LL << 20);
  Socket.AbortSocket();
}

TEST_F(BlockSockTls, ProtocolChoicesThisLibraryNoLongerOffers) {
  TTCPBlockSocket Socket;
  Socket.SSLType = LT_SSLv2;
  Socket.SetTlsEnabled(true);
  EXPECT_EQ(Socket.LastErrorCode, 10043);
  EXPECT_FALSE(Socket.TlsEnabled);
  // TLS 1.0 alone: refused when the context is made, or at the latest by a
  // server that speaks only TLS 1.2 and newer; never a session.
  ScriptedPeer Peer(TlsPeer(ServerContext(), [](PeerConnection& C) { C.ReadToEnd(); }));
  Socket.SSLType = LT_TLSv1;
  Socket.SetTlsEnabled(true);
  if (Socket.LastErrorCode == 0) {
    Socket.Connect("127.0.0.1", Peer.PortText());
    EXPECT_EQ(Socket.LastErrorCode, 10091);
  } else {
    EXPECT_EQ(Socket.LastErrorCode, 10043);
  }
  EXPECT_FALSE(Socket.TlsEnabled);
}

TEST_F(BlockSockTls, RejectedKeyFileGives10022) {
  TTCPBlockSocket Socket;
  WriteFile(Dir / "bad.pem", "not a certificate\n");
  Socket.SSLCertificateFile = Dir / "bad.pem";
  Socket.SetTlsEnabled(true);
  EXPECT_EQ(Socket.LastErrorCode, 10022);
  EXPECT_FALSE(Socket.TlsEnabled);
  EXPECT_FALSE(Socket.TlsLastErrorText.empty());
}

// ---------------------------------------------------------------------------
// TLS through tunnels

TEST_F(BlockSockTls, HandshakeStartsRightAfterTheProxysEmptyLine) {
  std::string Head;
  ScriptedPeer Proxy([&Head](PeerConnection& C, int) {
    Head = C.ReadUntil("\r\n\r\n");
    C.Write("HTTP/1.0 200 Connection established\r\n\r\n");
    if (!C.StartTls(ServerContext().get())) return;
    C.Write("inside the tunnel\r\n");
    C.ReadToEnd();
  });
  TTCPBlockSocket Socket;
  Socket.HTTPTunnelIP = "127.0.0.1";
  Socket.HTTPTunnelPort = Proxy.PortText();
  Socket.SSLverifyCert = true;
  Socket.SSLCertCAFile = Certs->CaFile;
  ConnectTls(Socket, "localhost", 443);
  ASSERT_EQ(Socket.LastErrorCode, 0) << Socket.TlsLastErrorText;
  EXPECT_EQ(Socket.ReceiveLine(kTimeout), "inside the tunnel");
  Socket.CloseSocket();
  Proxy.Join();
  EXPECT_EQ(Head, "CONNECT localhost:443 HTTP/1.0\r\n\r\n");
}

TEST_F(BlockSockTls, HttpsThroughTinyproxyAndDante) {
  WriteFile(Dir / "index.html", "tunnelled\n");
  BackgroundProcess Server, Tinyproxy, Dante;
  const int Port = FreePort();
  TempDir NginxConf, TinyConf, DanteConf;
  ASSERT_TRUE(tlsproxyservers::StartNginxTls(Server, Port, Certs->ServerCert, Certs->ServerKey, Dir.Path(),
                                             NginxConf.Path()));
  const int TinyPort = FreePort();
  ASSERT_TRUE(tlsproxyservers::StartTinyproxy(Tinyproxy, TinyPort, "", "", TinyConf.Path()));
  const int DantePort = FreePort();
  ASSERT_TRUE(tlsproxyservers::StartDanted(Dante, DantePort, "", "", DanteConf.Path()));

  TTCPBlockSocket Socket;
  Socket.SSLverifyCert = true;
  Socket.SSLCertCAFile = Certs->CaFile;
  Socket.HTTPTunnelIP = "127.0.0.1";
  Socket.HTTPTunnelPort = std::to_string(TinyPort);
  ConnectTls(Socket, "localhost", Port);
  ASSERT_EQ(Socket.LastErrorCode, 0) << Socket.TlsLastErrorText;
  EXPECT_NE(Get(Socket, "/index.html").find("tunnelled"), std::string::npos);
  Socket.CloseSocket();

  Socket.HTTPTunnelIP.clear();
  Socket.SocksIP = "127.0.0.1";
  Socket.SocksPort = std::to_string(DantePort);
  ConnectTls(Socket, "localhost", Port);
  ASSERT_EQ(Socket.LastErrorCode, 0) << Socket.TlsLastErrorText;
  EXPECT_NE(Get(Socket, "/index.html").find("tunnelled"), std::string::npos);
  Socket.CloseSocket();
  Server.Stop();
  EXPECT_EQ(ReadFile(NginxConf / "access.log"), "localhost GET /index.html HTTP/1.0\nlocalhost GET /index.html HTTP/1.0\n");
}

// ---------------------------------------------------------------------------
// FTP with AUTH TLS and protected data connections

namespace {

// The last line of a (possibly multi-line) FTP reply.
std::string FtpReply(TTCPBlockSocket& Control) {
  std::string Line = Control.ReceiveLine(kTimeout);
  while (Control.LastErrorCode == 0 && (Line.size() < 4 || Line[3] == '-')) Line = Control.ReceiveLine(kTimeout);
  return Line;
}

std::string FtpCommand(TTCPBlockSocket& Control, const std::string& Command) {
  Control.SendText(Command + "\r\n");
  return FtpReply(Control);
}

// The port of a 227 reply "(h1,h2,h3,h4,p1,p2)".
std::string PassivePort(const std::string& Reply) {
  const std::size_t Open = Reply.find('(');
  std::string Fields = Reply.substr(Open + 1, Reply.find(')') - Open - 1);
  std::vector<int> Numbers;
  std::size_t Start = 0;
  for (std::size_t Comma = Fields.find(','); ; Comma = Fields.find(',', Start)) {
    Numbers.push_back(std::stoi(Fields.substr(Start, Comma - Start)));
    if (Comma == std::string::npos) break;
    Start = Comma + 1;
  }
  return std::to_string(Numbers.at(4) * 256 + Numbers.at(5));
}

}  // namespace

TEST_F(BlockSockTls, FtpAuthTlsWithProtectedDataUntilTheServerEndsIt) {
  std::string Content;
  for (int i = 0; i < 30000; ++i) Content += "record " + std::to_string(i) + "\r\n";
  TempDir Root;
  WriteFile(Root / "data.txt", Content);
  BackgroundProcess Server;
  const int Port = FreePort();
  TempDir Conf;
  ASSERT_TRUE(tlsproxyservers::StartVsftpdTls(Server, Port, Certs->ServerCert, Certs->ServerKey, Root.Path(),
                                              Conf.Path()));
  TTCPBlockSocket Control;
  Control.ConvertLineEnd = true;
  Control.Connect("127.0.0.1", std::to_string(Port));
  ASSERT_EQ(Control.LastErrorCode, 0);
  ASSERT_EQ(FtpReply(Control).substr(0, 3), "220");
  ASSERT_EQ(FtpCommand(Control, "AUTH TLS").substr(0, 3), "234");
  Control.StartTls();
  ASSERT_EQ(Control.LastErrorCode, 0) << Control.TlsLastErrorText;
  EXPECT_EQ(FtpCommand(Control, "USER anonymous").substr(0, 3), "230");
  EXPECT_EQ(FtpCommand(Control, "PBSZ 0").substr(0, 3), "200");
  EXPECT_EQ(FtpCommand(Control, "PROT P").substr(0, 3), "200");
  EXPECT_EQ(FtpCommand(Control, "TYPE I").substr(0, 3), "200");
  const std::string Passive = FtpCommand(Control, "PASV");
  ASSERT_EQ(Passive.substr(0, 3), "227");

  TTCPBlockSocket Data;
  Data.Connect("127.0.0.1", PassivePort(Passive));
  ASSERT_EQ(Data.LastErrorCode, 0);
  Control.SendText("RETR data.txt\r\n");
  EXPECT_EQ(FtpReply(Control).substr(0, 3), "150");
  // The data handshake follows the transfer command's 1xx reply, as FTP
  // clients do it: vsftpd starts TLS on the data connection only then, and
  // only for a resumed control session.
  Data.TlsReuseSession = Control.TlsSessionForReuse();
  Data.StartTls();
  ASSERT_EQ(Data.LastErrorCode, 0) << Data.TlsLastErrorText;
  TMemoryStream Received;
  Data.ReceiveToStream(Received, 60000);
  EXPECT_EQ(Data.LastErrorCode, 10054);
  EXPECT_EQ(Received.Data(), Content);
  Data.CloseSocket();
  EXPECT_EQ(FtpReply(Control).substr(0, 3), "226");
  EXPECT_EQ(FtpCommand(Control, "QUIT").substr(0, 3), "221");
}

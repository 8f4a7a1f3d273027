// The HTTP engine against real servers on loopback: nginx for static files,
// ranges, chunked answers, WebDAV PUT and DELETE and keep-alive, tinyproxy
// as a plain proxy with and without authentication and as a CONNECT proxy
// for https, openssl s_server for a TLS body ended by the session's end.
#include <gtest/gtest.h>

#include <random>
#include <sstream>

#include "protocols/httpsend.h"
#include "support/httpsend_peers.h"
#include "support/tlsproxyservers.h"

using namespace testsupport;

namespace {

std::string RandomBytes(std::size_t Size, unsigned Seed) {
  std::mt19937 Random(Seed);
  std::string Bytes(Size, '\0');
  for (char& Byte : Bytes) Byte = static_cast<char>(Random() & 0xFF);
  return Bytes;
}

bool HasHeader(const TStringList& Headers, const std::string& Prefix) {
  for (const std::string& Line : Headers)
    if (Line.compare(0, Prefix.size(), Prefix) == 0) return true;
  return false;
}

// Connection numbers of the access log's lines, in order.
std::vector<std::string> ConnectionsOf(const std::string& AccessLog) {
  std::vector<std::string> Numbers;
  std::istringstream Lines(AccessLog);
  std::string Line;
  while (std::getline(Lines, Line)) Numbers.push_back(Line.substr(0, Line.find(' ')));
  return Numbers;
}

class HttpSendNginx : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(HaveProgram("nginx"));
    ASSERT_TRUE(Nginx.Start()) << Nginx.ErrorLog();
  }
  HttpsendNginx Nginx;
};

}  // namespace

TEST_F(HttpSendNginx, StaticFileWithLastModified) {
  const std::string Content = RandomBytes(300000, 1);
  WriteFile(Nginx.Root() + "/file.bin", Content);
  THTTPSend Http;
  Http.Protocol = "1.1";
  ASSERT_TRUE(Http.SendRequest("GET", Nginx.Url("/file.bin")));
  EXPECT_EQ(Http.ResultCode, 200);
  EXPECT_EQ(Http.ResultString, "OK");
  EXPECT_TRUE(HasHeader(Http.Headers, "Last-Modified: "));
  EXPECT_EQ(Http.Headers.back(), "");
  EXPECT_EQ(Http.MimeType, "application/octet-stream");
  EXPECT_EQ(Http.DownloadSize, 300000);
  EXPECT_EQ(Http.Document.Position(), 0);
  EXPECT_TRUE(Http.Document.Data() == Content);
}

TEST_F(HttpSendNginx, KeepAliveAcrossRequestsAndHead) {
  WriteFile(Nginx.Root() + "/a.txt", "alpha");
  WriteFile(Nginx.Root() + "/b.txt", std::string(100000, 'b'));
  THTTPSend Http;
  Http.Protocol = "1.1";
  ASSERT_TRUE(Http.SendRequest("GET", Nginx.Url("/a.txt")));
  EXPECT_EQ(Http.Document.Data(), "alpha");
  EXPECT_EQ(Http.MimeType, "text/plain");
  Http.ResetRequest();
  ASSERT_TRUE(Http.SendRequest("HEAD", Nginx.Url("/b.txt")));
  EXPECT_TRUE(HasHeader(Http.Headers, "Content-Length: 100000"));
  EXPECT_EQ(Http.Document.Size(), 0);
  Http.ResetRequest();
  ASSERT_TRUE(Http.SendRequest("GET", Nginx.Url("/missing.txt")));
  EXPECT_EQ(Http.ResultCode, 404);
  EXPECT_NE(Http.Document.Data().find("404 Not Found"), std::string::npos);
  Http.ResetRequest();
  ASSERT_TRUE(Http.SendRequest("GET", Nginx.Url("/b.txt")));
  EXPECT_EQ(Http.Document.Size(), 100000);
  Http.Sock().CloseSocket();
  Nginx.Stop();  // flushes the access log
  const std::vector<std::string> Connections = ConnectionsOf(Nginx.AccessLog());
  ASSERT_EQ(Connections.size(), 4u) << Nginx.AccessLog();
  EXPECT_EQ(Connections, std::vector<std::string>(4, Connections[0])) << Nginx.AccessLog();
}

TEST_F(HttpSendNginx, ProtocolOneZeroUsesAConnectionPerRequest) {
  WriteFile(Nginx.Root() + "/a.txt", "alpha");
  THTTPSend Http;
  for (int I = 0; I < 3; ++I) {
    Http.ResetRequest();
    ASSERT_TRUE(Http.SendRequest("GET", Nginx.Url("/a.txt")));
  }
  Nginx.Stop();
  const std::vector<std::string> Connections = ConnectionsOf(Nginx.AccessLog());
  ASSERT_EQ(Connections.size(), 3u);
  EXPECT_NE(Connections[0], Connections[1]);
  EXPECT_NE(Connections[1], Connections[2]);
}

TEST_F(HttpSendNginx, Ranges) {
  WriteFile(Nginx.Root() + "/digits.txt", "0123456789abcdefghij");
  THTTPSend Http;
  Http.Protocol = "1.1";
  Http.RangeStart = 10;
  Http.RangeEnd = 14;
  ASSERT_TRUE(Http.SendRequest("GET", Nginx.Url("/digits.txt")));
  EXPECT_EQ(Http.ResultCode, 206);
  EXPECT_EQ(Http.Document.Data(), "abcde");
  Http.ResetRequest();
  Http.RangeStart = 15;
  ASSERT_TRUE(Http.SendRequest("GET", Nginx.Url("/digits.txt")));
  EXPECT_EQ(Http.ResultCode, 206);
  EXPECT_EQ(Http.Document.Data(), "fghij");
}

TEST_F(HttpSendNginx, ChunkedAnswer) {
  std::string Source;
  std::string Expected;
  for (int I = 0; I < 10000; ++I) {
    Source += "line " + std::to_string(I) + " needle\n";
    Expected += "line " + std::to_string(I) + " NEEDLE\n";
  }
  WriteFile(Nginx.Root() + "/sub/text.txt", Source);
  THTTPSend Http;
  Http.Protocol = "1.1";
  ASSERT_TRUE(Http.SendRequest("GET", Nginx.Url("/sub/text.txt")));
  EXPECT_TRUE(HasHeader(Http.Headers, "Transfer-Encoding: chunked"));
  EXPECT_TRUE(Http.Document.Data() == Expected);
  // The connection survives a chunked answer.
  Http.ResetRequest();
  ASSERT_TRUE(Http.SendRequest("GET", Nginx.Url("/sub/text.txt")));
  EXPECT_TRUE(Http.Document.Data() == Expected);
  Http.Sock().CloseSocket();
  Nginx.Stop();
  const std::vector<std::string> Connections = ConnectionsOf(Nginx.AccessLog());
  ASSERT_EQ(Connections.size(), 2u);
  EXPECT_EQ(Connections[0], Connections[1]);
}

TEST_F(HttpSendNginx, WebDavPutGetDelete) {
  const std::string Content = RandomBytes(2000000, 2);
  THTTPSend Http;
  Http.Protocol = "1.1";
  Http.Status100 = true;
  Http.MimeType = "Application/octet-stream";
  WriteTextToStream(Http.Document, Content);
  ASSERT_TRUE(Http.SendRequest("PUT", Nginx.Url("/dav/new/file.bin")));
  EXPECT_EQ(Http.ResultCode, 201);
  EXPECT_EQ(Http.UploadSize, 2000000);
  EXPECT_TRUE(ReadFile(Nginx.Root() + "/dav/new/file.bin") == Content);

  // Replacing it, without the handshake, on protocol 1.0.
  THTTPSend Plain;
  WriteTextToStream(Plain.Document, "replaced");
  ASSERT_TRUE(Plain.SendRequest("PUT", Nginx.Url("/dav/new/file.bin")));
  EXPECT_EQ(Plain.ResultCode, 204);
  EXPECT_EQ(ReadFile(Nginx.Root() + "/dav/new/file.bin"), "replaced");

  Http.ResetRequest();
  ASSERT_TRUE(Http.SendRequest("GET", Nginx.Url("/dav/new/file.bin")));
  EXPECT_EQ(Http.Document.Data(), "replaced");
  Http.ResetRequest();
  ASSERT_TRUE(Http.SendRequest("DELETE", Nginx.Url("/dav/new/file.bin")));
  EXPECT_EQ(Http.ResultCode, 204);
  EXPECT_FALSE(FileExists(Nginx.Root() + "/dav/new/file.bin"));
  Http.ResetRequest();
  ASSERT_TRUE(Http.SendRequest("GET", Nginx.Url("/dav/new/file.bin")));
  EXPECT_EQ(Http.ResultCode, 404);
}

TEST_F(HttpSendNginx, ExpectRefusedBeforeTheBody) {
  // nginx refuses a body over its 1 MB limit before the body is sent.
  THTTPSend Http;
  Http.Protocol = "1.1";
  Http.Status100 = true;
  WriteTextToStream(Http.Document, std::string(5000000, 'x'));
  ASSERT_TRUE(Http.SendRequest("PUT", Nginx.Url("/not-dav.bin")));
  EXPECT_EQ(Http.ResultCode, 413);
  EXPECT_EQ(Http.UploadSize, 0);
  Http.ResetRequest();
  WriteFile(Nginx.Root() + "/a.txt", "alpha");
  ASSERT_TRUE(Http.SendRequest("GET", Nginx.Url("/a.txt")));
  EXPECT_EQ(Http.Document.Data(), "alpha");
}

TEST(HttpSendProxy, PlainProxyWithAndWithoutAuthentication) {
  ASSERT_TRUE(HaveProgram("tinyproxy"));
  HttpsendNginx Nginx;
  ASSERT_TRUE(Nginx.Start());
  const std::string Content = RandomBytes(200000, 3);
  WriteFile(Nginx.Root() + "/p.bin", Content);
  HttpsendTinyproxy Open;
  ASSERT_TRUE(Open.Start());
  THTTPSend Http;
  Http.ProxyHost = "127.0.0.1";
  Http.ProxyPort = std::to_string(Open.Port());
  ASSERT_TRUE(Http.SendRequest("GET", Nginx.Url("/p.bin")));
  EXPECT_EQ(Http.ResultCode, 200);
  EXPECT_TRUE(Http.Document.Data() == Content);

  HttpsendTinyproxy Guarded;
  ASSERT_TRUE(Guarded.Start("proxyuser", "proxypass"));
  THTTPSend Denied;
  Denied.ProxyHost = "127.0.0.1";
  Denied.ProxyPort = std::to_string(Guarded.Port());
  ASSERT_TRUE(Denied.SendRequest("GET", Nginx.Url("/p.bin")));
  EXPECT_EQ(Denied.ResultCode, 407);
  THTTPSend Allowed;
  Allowed.ProxyHost = "127.0.0.1";
  Allowed.ProxyPort = std::to_string(Guarded.Port());
  Allowed.ProxyUser = "proxyuser";
  Allowed.ProxyPass = "proxypass";
  ASSERT_TRUE(Allowed.SendRequest("GET", Nginx.Url("/p.bin")));
  EXPECT_EQ(Allowed.ResultCode, 200);
  EXPECT_TRUE(Allowed.Document.Data() == Content);
}

TEST(HttpSendTls, HttpsDirectWithKeepAlive) {
  HttpsendNginx Nginx;
  ASSERT_TRUE(Nginx.Start(true)) << Nginx.ErrorLog();
  const std::string Content = RandomBytes(1500000, 4);
  WriteFile(Nginx.Root() + "/s.bin", Content);
  THTTPSend Http;
  Http.Protocol = "1.1";
  ASSERT_TRUE(Http.SendRequest("GET", Nginx.TlsUrl("/s.bin"))) << Http.Sock().LastErrorText;
  EXPECT_EQ(Http.ResultCode, 200);
  EXPECT_TRUE(Http.Document.Data() == Content);
  Http.ResetRequest();
  ASSERT_TRUE(Http.SendRequest("GET", Nginx.TlsUrl("/missing")));
  EXPECT_EQ(Http.ResultCode, 404);
  // Plain http to the same host afterwards: another port, a plain socket.
  Http.ResetRequest();
  ASSERT_TRUE(Http.SendRequest("GET", Nginx.Url("/s.bin")));
  EXPECT_TRUE(Http.Document.Data() == Content);
  EXPECT_FALSE(Http.Sock().TlsEnabled);
  Http.Sock().CloseSocket();
  Nginx.Stop();
  const std::vector<std::string> Connections = ConnectionsOf(Nginx.AccessLog());
  ASSERT_EQ(Connections.size(), 3u);
  EXPECT_EQ(Connections[0], Connections[1]);
  EXPECT_NE(Connections[1], Connections[2]);
}

TEST(HttpSendTls, HttpsThroughConnectProxy) {
  ASSERT_TRUE(HaveProgram("tinyproxy"));
  HttpsendNginx Nginx;
  ASSERT_TRUE(Nginx.Start(true)) << Nginx.ErrorLog();
  const std::string Content = RandomBytes(700000, 5);
  WriteFile(Nginx.Root() + "/t.bin", Content);
  HttpsendTinyproxy Proxy;
  ASSERT_TRUE(Proxy.Start("tunnel", "secret"));
  THTTPSend Http;
  Http.Protocol = "1.1";
  Http.ProxyHost = "127.0.0.1";
  Http.ProxyPort = std::to_string(Proxy.Port());
  Http.ProxyUser = "tunnel";
  Http.ProxyPass = "secret";
  ASSERT_TRUE(Http.SendRequest("GET", Nginx.TlsUrl("/t.bin"))) << Http.Sock().LastErrorText << "\n" << Proxy.Log();
  EXPECT_EQ(Http.ResultCode, 200);
  EXPECT_TRUE(Http.Document.Data() == Content);
  EXPECT_TRUE(Http.Sock().ViaHttpTunnel);
  // The origin-form request, without proxy credentials, went through the tunnel.
  EXPECT_EQ(Http.TargetHost, "127.0.0.1");
  EXPECT_EQ(Http.TargetPort, std::to_string(Nginx.TlsPort()));
  Http.ResetRequest();
  ASSERT_TRUE(Http.SendRequest("GET", Nginx.TlsUrl("/t.bin"))) << Http.Sock().LastErrorText << "\n" << Proxy.Log();
  Http.Sock().CloseSocket();
  Nginx.Stop();
  const std::string Log = Nginx.AccessLog();
  EXPECT_NE(Log.find(" GET /t.bin HTTP/1.1 200"), std::string::npos) << Log;
  const std::vector<std::string> Connections = ConnectionsOf(Log);
  ASSERT_EQ(Connections.size(), 2u);
  EXPECT_EQ(Connections[0], Connections[1]);

  // A wrong password: the tunnel is refused and nothing reaches the server.
  THTTPSend Refused;
  Refused.ProxyHost = "127.0.0.1";
  Refused.ProxyPort = std::to_string(Proxy.Port());
  Refused.ProxyUser = "tunnel";
  Refused.ProxyPass = "wrong";
  EXPECT_FALSE(Refused.SendRequest("GET", Nginx.TlsUrl("/t.bin")));
  EXPECT_EQ(Refused.ResultCode, 500);
  EXPECT_EQ(Refused.Sock().LastErrorCode, 10091);
  EXPECT_EQ(Refused.Sock().LastErrorText, TTCPBlockSocket::GetErrorDesc(10091));
}

TEST(HttpSendTls, BodyEndedByTheSessionEnd) {
  TempDir Dir;
  tlsproxyservers::TestCertificates Certificates;
  ASSERT_TRUE(Certificates.Make(Dir.Path()));
  const std::string Content = std::string(300000, 'w') + "end";
  WriteFile(Dir / "page.txt", Content);
  BackgroundProcess Server;
  const int Port = FreePort();
  ASSERT_TRUE(tlsproxyservers::StartOpensslServer(Server, Port, Certificates.ServerCert, Certificates.ServerKey,
                                                  {"-WWW"}, Dir.Path()));
  THTTPSend Http;
  ASSERT_TRUE(Http.SendRequest("GET", "https://127.0.0.1:" + std::to_string(Port) + "/page.txt"))
      << Http.Sock().LastErrorCode << " " << Http.Sock().LastErrorText;
  EXPECT_EQ(Http.ResultCode, 200);
  EXPECT_TRUE(Http.Document.Data() == Content);
}

TEST(HttpSendTls, HandshakeFailureKeepsItsError) {
  // A plain-text server on an https URL: the handshake fails.
  HttpsendNginx Nginx;
  ASSERT_TRUE(Nginx.Start());
  THTTPSend Http;
  EXPECT_FALSE(Http.SendRequest("GET", "https://127.0.0.1:" + std::to_string(Nginx.Port()) + "/"));
  EXPECT_EQ(Http.ResultCode, 500);
  EXPECT_EQ(Http.Sock().LastErrorCode, 10091);
  EXPECT_EQ(Http.Sock().LastErrorText, TTCPBlockSocket::GetErrorDesc(10091) + ": wrong version number");
  // The object stays usable for plain http.
  WriteFile(Nginx.Root() + "/a.txt", "alpha");
  Http.ResetRequest();
  ASSERT_TRUE(Http.SendRequest("GET", Nginx.Url("/a.txt")));
  EXPECT_EQ(Http.Document.Data(), "alpha");
}

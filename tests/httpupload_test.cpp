// The HTTP PUT and HTTP POSTFILE jobs end to end: build/tarvo on job files
// against nginx with WebDAV, php's built-in server parsing the multipart
// form (directly with HTTP/1.0, behind nginx with 1.1), and a scripted
// server for the exact request bytes, the PUT URL encoding, the boundaries,
// refused uploads and a server that never answers the Expect handshake.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/httpjobspeers.h"
#include "support/httpjobsserver.h"
#include "support/testsupport.h"

using namespace testsupport;
namespace hj = testsupport::httpjobs;

namespace {

const std::string Agent = "User-Agent: Mozilla/4.0 (compatible; tarvo copyright(c) MARDEX7)\r\n";
const std::string Continue = "HTTP/1.1 100 Continue\r\n\r\n";

std::string UploadJob(const std::string& Mode, const std::string& Target, const std::string& LocalPath,
                      const std::string& Extra = "", int Timeout = 5000) {
  return "[up]\nMode=" + Mode + "\nTarget=" + Target + "\nLocalPath=" + LocalPath + "\nTimeout=" +
         std::to_string(Timeout) + "\n" + Extra;
}

std::vector<std::string> Framed(const std::string& ModeText, const std::vector<std::string>& Middle, int ExitCode) {
  std::vector<std::string> Lines{"===== Section: up Mode: HTTP " + ModeText};
  Lines.insert(Lines.end(), Middle.begin(), Middle.end());
  Lines.push_back("===== HTTP " + ModeText + " END");
  Lines.push_back("ExitCode=" + std::to_string(ExitCode));
  return Lines;
}

// The 1.1 handshake: head, interim 100, body, final answer.
hj::THttpScript AnswerAfterContinue(const std::string& Response) {
  return {hj::ReadHead(), hj::Send(Continue), hj::ReadBody(), hj::Send(Response)};
}

std::string PartOf(const std::string& Boundary, const std::string& Field, const std::string& File,
                   const std::string& Content) {
  return "--" + Boundary + "\r\ncontent-disposition: form-data; name=\"" + Field + "\"; filename=\"" + File +
         "\"\r\nContent-Type: Application/octet-string\r\n\r\n" + Content + "\r\n--" + Boundary + "--\r\n";
}

}  // namespace

TEST(HttpUploadJobNginx, PutFilesDeleteThemAndKeepTheResponse) {
  TempDir Served, Work;
  TNginxPeer Nginx;
  ASSERT_TRUE(Nginx.Start(Served.Path()));
  std::filesystem::create_directory(Work / "outbox");
  WriteFile(Work / "outbox/a.txt", "alpha");
  WriteFile(Work / "outbox/b.txt", std::string(300000, 'b'));
  WriteFile(Work / "outbox/empty.txt", "");
  WriteFile(Work / "outbox/skip.dat", "not matched");
  WriteFile(Work / "outbox/old.txt_Header.TXT", "an earlier run's side file");
  const RunResult Run = RunJobFile(Work.Path(), UploadJob("HTTPPUT", Nginx.Url("/in/box"), ".\\outbox\\*.txt",
                                                          "DeleteMode=True\nHttpSaveHeader=True\n"));
  const std::string Dir = Work / "outbox/";
  EXPECT_EQ(JobLines(Run), Framed("PUT", {"http send End " + Dir + "a.txt", "Deleted " + Dir + "a.txt",
                                          "http send End " + Dir + "b.txt", "Deleted " + Dir + "b.txt",
                                          "http send End " + Dir + "empty.txt", "Deleted " + Dir + "empty.txt"},
                                  0));
  EXPECT_EQ(Run.ExitCode, 0);
  EXPECT_EQ(ReadFile(Served / "in/box/a.txt"), "alpha");
  EXPECT_EQ(ReadFile(Served / "in/box/b.txt"), std::string(300000, 'b'));
  EXPECT_TRUE(FileExists(Served / "in/box/empty.txt"));
  EXPECT_FALSE(FileExists(Dir + "a.txt"));
  // The response file stands in place of the deleted file: nginx's 201
  // carries no body.
  EXPECT_TRUE(FileExists(Dir + "a.txt_Header.TXT"));
  EXPECT_EQ(ReadFile(Dir + "a.txt_Header.TXT"), "");
  EXPECT_EQ(ReadFile(Dir + "skip.dat"), "not matched");
  EXPECT_FALSE(FileExists(Served / "in/box/old.txt_Header.TXT"));
}

TEST(HttpUploadJobNginx, NoMatchingFileIsNotAnError) {
  TempDir Work;
  const RunResult Run = RunJobFile(Work.Path(), UploadJob("HTTPPUT", "http://127.0.0.1:9/", "*.none"));
  EXPECT_EQ(JobLines(Run), Framed("PUT", {"no file *.none"}, 0));
  const RunResult NoDir = RunJobFile(Work.Path(), UploadJob("HTTPPUT", "http://127.0.0.1:9/", "gone/*.txt"));
  EXPECT_EQ(JobLines(NoDir), Framed("PUT", {"ERROR: Local path not found. " + Work / "gone/"}, 2));
}

TEST(HttpUploadJobPhp, PostFileParsedByPhpDirectlyAndBehindNginx) {
  TempDir Received, Served, Work;
  TPhpUploadPeer Php;
  ASSERT_TRUE(Php.Start(Received.Path()));
  TNginxPeer Nginx;
  ASSERT_TRUE(Nginx.Start(Served.Path(), {false, Php.Port()}));
  std::filesystem::create_directory(Work / "files");
  WriteFile(Work / "files/a.txt", "alpha\r\n--not a boundary\r\n");
  std::string Binary;
  for (int I = 0; I < 256; ++I) Binary += static_cast<char>(I);
  WriteFile(Work / "files/b.bin", Binary);
  // php -S never answers "Expect: 100-continue", so 1.1 goes through nginx.
  const RunResult Direct = RunJobFile(Work.Path(), UploadJob("HTTPPOSTFILE", Php.Url("/upload/"), "files/*.*",
                                                             "HttpProtocol=1.0\nHttpSaveHeader=True\n"));
  const std::string Dir = Work / "files/";
  EXPECT_EQ(JobLines(Direct), Framed("POSTFILE", {"http send End " + Dir + "a.txt", "http send End " + Dir + "b.bin"}, 0));
  EXPECT_EQ(ReadFile(Dir + "a.txt_Header.TXT"), "got POSTFILE a.txt 25\r\n");
  std::filesystem::remove(Dir + "a.txt_Header.TXT");
  std::filesystem::remove(Dir + "b.bin_Header.TXT");
  const RunResult Proxied = RunJobFile(Work.Path(), UploadJob("HTTPPOSTFILE", Nginx.Url("/upload/x"), "files/*.*",
                                                              "HTTPFieldName=doc\n"));
  EXPECT_EQ(Proxied.ExitCode, 0) << Proxied.Output;
  const std::vector<std::pair<std::string, std::string>> Expected{
      {"POSTFILE", "a.txt"}, {"POSTFILE", "b.bin"}, {"doc", "a.txt"}, {"doc", "b.bin"}};
  for (std::size_t I = 0; I < Expected.size(); ++I) {
    const std::string N = std::to_string(I + 1);
    const std::string Record = ReadFile(Received / ("upload-" + N + ".txt"));
    EXPECT_NE(Record.find("field=" + Expected[I].first + "\nname=" + Expected[I].second +
                          "\ntype=Application/octet-string\n"), std::string::npos) << Record;
    EXPECT_NE(Record.find("\nerror=0\n"), std::string::npos) << Record;
    EXPECT_EQ(ReadFile(Received / ("upload-" + N + ".data")), ReadFile(Dir + Expected[I].second)) << N;
  }
  // Every run starts the boundaries afresh.
  EXPECT_NE(ReadFile(Received / "upload-1.txt").find("boundary=00000000_tarvo_boundary"), std::string::npos);
  EXPECT_NE(ReadFile(Received / "upload-4.txt").find("boundary=04044202_tarvo_boundary"), std::string::npos);
}

TEST(HttpUploadJob, PostFileExactBytesAndBoundarySequence) {
  TempDir Work;
  WriteFile(Work / "a.txt", "first");
  WriteFile(Work / "b.txt", "second");
  const std::string Ok = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n";
  hj::TScriptedHttpServer Server({AnswerAfterContinue(Ok), AnswerAfterContinue(Ok)});
  const RunResult Run = RunJobFile(Work.Path(), UploadJob("HTTPPOSTFILE", Server.Url("/cgi/up?x=%20"), "*.txt"));
  EXPECT_EQ(Run.ExitCode, 0) << Run.Output;
  const auto Received = Server.Received();
  ASSERT_EQ(Received.size(), 2u);
  const std::string Host = "Host: 127.0.0.1:" + std::to_string(Server.Port()) + "\r\n";
  const std::vector<std::pair<std::string, std::string>> Files{{"a.txt", "first"}, {"b.txt", "second"}};
  const std::vector<std::string> Boundaries{"00000000_tarvo_boundary", "04044202_tarvo_boundary"};
  for (std::size_t I = 0; I < 2; ++I) {
    const std::string Body = PartOf(Boundaries[I], "POSTFILE", Work / Files[I].first, Files[I].second);
    EXPECT_EQ(Received[I], "POST /cgi/up?x=%20 HTTP/1.1\r\n" + Host + "Connection: close\r\n" + Agent +
                               "Content-Type: multipart/form-data; boundary=" + Boundaries[I] + "\r\n" +
                               "Content-Length: " + std::to_string(Body.size()) + "\r\nExpect: 100-continue\r\n\r\n" + Body);
  }
}

TEST(HttpUploadJob, BoundaryFoundInTheFileIsRedrawnAndNamesAreEscaped) {
  TempDir Work;
  // The first boundary lies across the edge of the first 64 KiB sent (part
  // header and file), where the file is watched as it goes; the second
  // across the first megabyte of the file, where it is searched in pieces.
  const std::size_t Edge = 65536 - (PartOf("00000000_tarvo_boundary", "f%22x", Work / "a%22b.txt", "").size() - 31);
  std::string Content = std::string(Edge - 10, 'q') + "\r\n--00000000_tarvo_boundary--\r\n";
  Content += std::string((1 << 20) - 10 - Content.size(), 'p') + "04044202_tarvo_boundary" + "end";
  WriteFile(Work / "a\"b.txt", Content);
  hj::TScriptedHttpServer Server({{hj::ReadHead(), hj::ReadUntilClose()}, hj::Answer("HTTP/1.0 200 OK\r\n\r\n")});
  const RunResult Run = RunJobFile(Work.Path(), UploadJob("HTTPPOSTFILE", Server.Url("/"), "*.txt",
                                                          "HttpProtocol=1.0\nHTTPFieldName=f\"x\n"));
  EXPECT_EQ(Run.ExitCode, 0) << Run.Output;
  const std::string Body = PartOf("6E36D60E_tarvo_boundary", "f%22x", Work / "a%22b.txt", Content);
  const auto Received = Server.Received();
  ASSERT_EQ(Received.size(), 2u);
  // The first request stops before the piece that holds its boundary.
  EXPECT_EQ(Received[0].find("00000000_tarvo_boundary--"), std::string::npos);
  EXPECT_NE(Received[1].find("boundary=6E36D60E_tarvo_boundary\r\n"), std::string::npos);
  EXPECT_EQ(Received[1].substr(Received[1].size() - std::min(Received[1].size(), Body.size())), Body);
}

TEST(HttpUploadJob, PutExactBytesWithProtocol10AndUrlEncoding) {
  TempDir Work;
  std::filesystem::create_directory(Work / "o");
  const std::vector<std::string> Names{"a b.txt", "q?x#y.txt", "u_~.txt", "\xC3\xA4.txt"};
  for (const auto& Name : Names) WriteFile(Work / ("o/" + Name), "data");
  const std::string Created = "HTTP/1.0 201 Created\r\n\r\n";
  hj::TScriptedHttpServer Server({hj::Answer(Created), hj::Answer(Created), hj::Answer(Created), hj::Answer(Created), hj::Answer(Created)});
  RunResult Run = RunJobFile(Work.Path(), UploadJob("HTTPPUT", Server.Url("/in_box/%20/"), "o/*.txt", "HttpProtocol=1.0\n"));
  EXPECT_EQ(Run.ExitCode, 0) << Run.Output;
  const std::string Host = "Host: 127.0.0.1:" + std::to_string(Server.Port()) + "\r\n";
  const auto Received = Server.Received();
  ASSERT_EQ(Received.size(), 4u);
  // Listed in byte order: "a b", "q?x#y", "u_~", then the two UTF-8 bytes.
  const std::vector<std::string> Uris{"/in%5Fbox/%2520/a%20b.txt", "/in%5Fbox/%2520/q%3Fx%23y.txt",
                                      "/in%5Fbox/%2520/u%5F%7E.txt", "/in%5Fbox/%2520/%C3%A4.txt"};
  for (std::size_t I = 0; I < Uris.size(); ++I)
    EXPECT_EQ(Received[I], "PUT " + Uris[I] + " HTTP/1.0\r\n" + Host + Agent +
                               "Content-Type: Application/octet-stream\r\nContent-Length: 4\r\n\r\ndata");
}

TEST(HttpUploadJob, OnlyTwoHundredToTwoHundredTwoCountAndTheResponseIsKept) {
  TempDir Work;
  for (const std::string Name : {"a.txt", "b.txt", "c.txt", "d.txt"}) WriteFile(Work / Name, Name);
  hj::TScriptedHttpServer Server({AnswerAfterContinue("HTTP/1.1 201 Created\r\nContent-Length: 4\r\n\r\nmade"),
                              AnswerAfterContinue("HTTP/1.1 204 No Content\r\n\r\n"),
                              AnswerAfterContinue("HTTP/1.1 302 Found\r\nContent-Length: 11\r\n\r\nmoved\r\nhere"),
                              AnswerAfterContinue("HTTP/1.1 202 Accepted\r\nContent-Length: 0\r\n\r\n")});
  // Retries do not apply to refusals.
  const RunResult Run = RunJobFile(Work.Path(), UploadJob("HTTPPUT", Server.Url("/"), "*.txt",
                                                          "HttpSaveHeader=True\nDeleteMode=True\nRetries=2\n"));
  EXPECT_EQ(JobLines(Run), Framed("PUT", {"http send End " + (Work / "a.txt"), "Deleted " + (Work / "a.txt"),
                                          "ERROR: HTTP 204 No Content", "ERROR: Can not http send b.txt",
                                          "ERROR: HTTP 302 Found", "ERROR: Can not http send c.txt",
                                          "http send End " + (Work / "d.txt"), "Deleted " + (Work / "d.txt")},
                                  1));
  EXPECT_EQ(Run.ExitCode, 1) << "a later success does not clear the failure";
  EXPECT_EQ(ReadFile(Work / "a.txt_Header.TXT"), "made\r\n");
  EXPECT_EQ(ReadFile(Work / "c.txt_Header.TXT"), "moved\r\nhere\r\n");
  EXPECT_EQ(ReadFile(Work / "b.txt"), "b.txt") << "a refused file stays";
}

TEST(HttpUploadJob, SilenceAfterExpectSendsNoBody) {
  TempDir Work;
  WriteFile(Work / "a.txt", "payload");
  hj::TScriptedHttpServer Server({{hj::ReadHead(), hj::ReadUntilClose()}});
  const RunResult Run = RunJobFile(Work.Path(), UploadJob("HTTPPUT", Server.Url("/"), "*.txt",
                                                          "HttpSaveHeader=True\n", 1000));
  const auto Lines = JobLines(Run);
  ASSERT_EQ(Lines.size(), 5u) << Run.Output;
  EXPECT_EQ(Lines[1], "ERROR: Connection timed out");
  EXPECT_EQ(Lines[2], "ERROR: Can not http send a.txt");
  EXPECT_EQ(Run.ExitCode, 1);
  EXPECT_EQ(Server.AllReceived().find("payload"), std::string::npos);
  EXPECT_EQ(ReadFile(Work / "a.txt_Header.TXT"), "") << "no response, nothing of the request";
}

TEST(HttpUploadJob, NoServerLogsTheSocketError) {
  TempDir Work;
  WriteFile(Work / "a.txt", "payload");
  const RunResult Run = RunJobFile(Work.Path(), UploadJob("HTTPPOSTFILE", "http://127.0.0.1:" + std::to_string(FreePort()) + "/",
                                                          "a.txt", "HttpSaveHeader=True\n"));
  EXPECT_EQ(JobLines(Run), Framed("POSTFILE", {"ERROR: Connection refused", "ERROR: Can not http send a.txt"}, 1));
  EXPECT_EQ(ReadFile(Work / "a.txt_Header.TXT"), "");
}

TEST(HttpUploadJob, PutThroughAPlainProxyWithCredentials) {
  TempDir Work;
  WriteFile(Work / "a.txt", "data");
  hj::TScriptedHttpServer Proxy({hj::Answer("HTTP/1.0 200 OK\r\n\r\n")});
  const RunResult Run = RunJobFile(Work.Path(), UploadJob("HTTPPUT", "http://files.example/in", "a.txt",
                                                          "HttpProtocol=1.0\nProxyHost=127.0.0.1\nProxyPort=" +
                                                              std::to_string(Proxy.Port()) +
                                                              "\nProxyUserName=px\nProxyPassword=pw\nUserName=u\n"));
  EXPECT_EQ(Run.ExitCode, 0) << Run.Output;
  EXPECT_EQ(Proxy.AllReceived(), "PUT http://files.example:80/in/a.txt HTTP/1.0\r\nHost: files.example\r\n"
                                 "Proxy-Authorization: Basic cHg6cHc=\r\nAuthorization: Basic dTo=\r\n" + Agent +
                                 "Content-Type: Application/octet-stream\r\nContent-Length: 4\r\n\r\ndata");
}

// The connection drops while the second file's body goes out: that file is
// sent again whole, the first is not.
TEST(HttpUploadJob, ALostConnectionSendsTheFileAgainWhole) {
  TempDir Work;
  WriteFile(Work / "a.txt", "done");
  const std::string Big(4 << 20, 'b');
  WriteFile(Work / "b.txt", Big);
  const std::string Created = "HTTP/1.1 201 Created\r\nContent-Length: 0\r\n\r\n";
  for (const auto& [Mode, Request] : {std::pair<std::string, std::string>{"HTTPPUT", "PUT /b.txt "}, {"HTTPPOSTFILE", "POST / "}}) {
    hj::TScriptedHttpServer Server({AnswerAfterContinue(Created), {hj::ReadHead(), hj::Send(Continue), hj::Close()},
                                    AnswerAfterContinue(Created)});
    const RunResult Run = RunJobFile(Work.Path(), UploadJob(Mode, Server.Url("/"), "*.txt", "Retries=1\nRetryDelay=1\n"));
    const auto Lines = JobLines(Run);
    ASSERT_EQ(Lines.size(), 6u) << Run.Output;
    EXPECT_EQ(Lines[1], "http send End " + (Work / "a.txt"));
    EXPECT_EQ(Lines[2].rfind("Retry 1 of 1 in 1 ms: ", 0), 0u) << Lines[2];
    EXPECT_EQ(Lines[3], "http send End " + (Work / "b.txt"));
    EXPECT_EQ(Run.ExitCode, 0);
    const auto Received = Server.Received();
    ASSERT_EQ(Received.size(), 3u);
    EXPECT_EQ(Received[1].rfind(Request, 0), 0u) << Mode;
    EXPECT_EQ(Received[2].rfind(Request, 0), 0u) << Mode;
    EXPECT_NE(Received[2].find("\r\n\r\n" + Big), std::string::npos) << Mode;
  }
}

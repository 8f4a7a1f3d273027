// The HTTP response reader: status line, 1xx answers, header lines,
// bodies by length, chunked or until close, keep-alive and the retry on a
// kept connection. The server answers each request as soon as it is sent,
// on the connection it came on. Input: mode byte, then the answer to the
// first request, then (after "\n--next--\n") the answer to the second.
#include <deque>
#include <memory>
#include <string>

#include "fuzz/support/fuzzpeer.h"
#include "protocols/httpsend.h"

namespace {

constexpr std::size_t kMaxConnections = 6;

struct TServer {
  std::deque<std::unique_ptr<TFuzzPeer>> Peers;  // the last one is armed
  std::string_view Answers[2];
  int Request = 0;
  bool Answered = false;
  bool CloseAfterAnswer = true;

  void Status(TBlockSocket& Socket, THookSocketReason Reason) {
    if (Reason == HS_Connected) {
      Answered = false;
      if (Peers.size() < kMaxConnections) {
        Peers.push_back(std::make_unique<TFuzzPeer>());
        Peers.back()->Arm(Socket);
      }
    } else if (Reason == HS_BytesWritten && !Answered && Peers.size() >= 2) {
      // The connection in use is the one before the armed one.
      Answered = true;
      TFuzzPeer& Current = *Peers[Peers.size() - 2];
      Current.Send(Answers[Request]);
      if (CloseAfterAnswer) Current.Finish();
    }
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  TFuzzInput Input(Data, Size);
  const std::uint8_t Mode = Input.Byte();
  TServer Server;
  Server.Answers[0] = Input.Part("\n--next--\n");
  Server.Answers[1] = Input.Rest();
  Server.CloseAfterAnswer = (Mode & 0x10) == 0;

  THTTPSend Http;
  Http.Protocol = (Mode & 0x01) ? "1.1" : "1.0";
  Http.KeepAlive = (Mode & 0x02) != 0;
  // A server that keeps the connection open sent all it will: no waiting.
  Http.Timeout = Server.CloseAfterAnswer ? 2000 : 0;
  Server.Peers.push_back(std::make_unique<TFuzzPeer>());
  Server.Peers.back()->Arm(Http.Sock());
  Http.Sock().OnStatus = [&Server](TBlockSocket* Socket, THookSocketReason Reason, const std::string&) {
    Server.Status(*Socket, Reason);
  };
  const int Requests = (Mode & 0x20) ? 2 : 1;
  for (Server.Request = 0; Server.Request < Requests; ++Server.Request) {
    Server.Answered = false;
    const int Method = (Mode >> 2) & 0x03;
    if (Method >= 2) {
      Http.Document.Data() = "body";
      Http.Status100 = Method == 3;
    }
    if (Mode & 0x40) Http.RangeStart = 5;
    Http.SendRequest(Method == 1 ? "HEAD" : Method == 0 ? "GET" : "PUT", "http://127.0.0.1:9/file");
    Http.ResetRequest();
  }
  Http.Sock().OnStatus = nullptr;
  return 0;
}

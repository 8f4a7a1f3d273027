// A scripted HTTP peer for the HTTP engine's tests: it accepts connections
// on a loopback port, one after another, plays one script per connection
// (read a request head, send raw bytes, close, ...) and records every byte
// each connection received, so a test can compare the exact request block.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

struct HttpScriptStep {
  enum class TKind {
    ReadHead,     // read up to and including the empty line of a request
    ReadBody,     // read the Content-Length bytes announced by the last head
    Send,         // send Data
    SendRepeat,   // send Data Count times (stops quietly when the peer goes)
    Close,        // close the connection now
    WaitClose,    // read (and record) until the client closes
    Quiet,        // read for Milliseconds; whatever arrives is recorded
  };
  TKind Kind = TKind::Close;
  std::string Data;
  std::int64_t Count = 0;
  int Milliseconds = 0;
};

using HttpScript = std::vector<HttpScriptStep>;

HttpScriptStep ReadHead();
HttpScriptStep ReadBody();
HttpScriptStep Send(const std::string& Data);
HttpScriptStep SendRepeat(const std::string& Data, std::int64_t Count);
HttpScriptStep CloseNow();
HttpScriptStep WaitClose();
HttpScriptStep Quiet(int Milliseconds);

class HttpScriptServer {
 public:
  // Each script serves one accepted connection, in the order of arrival.
  explicit HttpScriptServer(std::vector<HttpScript> Scripts);
  HttpScriptServer(const HttpScriptServer&) = delete;
  HttpScriptServer& operator=(const HttpScriptServer&) = delete;
  ~HttpScriptServer();

  int Port() const { return Port_; }
  // "http://127.0.0.1:PORT" + Path.
  std::string Url(const std::string& Path = "/") const;
  // Waits (bounded) until every script has run.
  void Finish();
  // Bytes received on the Index-th connection (0-based); call Finish first.
  std::string Received(std::size_t Index);
  // Number of connections accepted so far.
  std::size_t Accepted();

 private:
  void Serve();
  void Play(int Fd, const HttpScript& Script, std::size_t Index);
  bool ReadMore(int Fd, std::size_t Index, std::string& Buffer, int Milliseconds);

  std::vector<HttpScript> Scripts_;
  int ListenFd_ = -1;
  int Port_ = 0;
  std::atomic<bool> Stop_{false};
  std::atomic<std::size_t> AcceptedCount_{0};
  std::mutex Lock_;
  std::vector<std::string> Received_;
  std::thread Thread_;
};

}  // namespace testsupport

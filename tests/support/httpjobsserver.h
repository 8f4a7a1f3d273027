// A scripted HTTP peer for the HTTP job tests: it accepts connections on a
// loopback port and plays one short script per connection (read the request
// head, read a body, send raw bytes, wait, close), recording every byte it
// received, for the exact request bytes and the misbehaviour real servers
// will not produce on demand.
#pragma once

#include <atomic>
#include <cstddef>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport::httpjobs {

struct THttpStep {
  enum class TKind { ReadHead, ReadBody, ReadUntilClose, Send, Pause, Close };
  TKind Kind = TKind::Close;
  std::string Bytes;   // Send
  int Milliseconds = 0;  // Pause
};

// Reads up to the empty line that ends the request head.
THttpStep ReadHead();
// Reads as many body bytes as the last head's Content-Length announced.
THttpStep ReadBody();
// Reads until the client closes (at most 20 seconds).
THttpStep ReadUntilClose();
THttpStep Send(const std::string& Bytes);
THttpStep Pause(int Milliseconds);
// Closes the connection now (the end of a script closes it as well).
THttpStep Close();

using THttpScript = std::vector<THttpStep>;

// A request head followed by its body, then Response.
THttpScript Answer(const std::string& Response);

class TScriptedHttpServer {
 public:
  // Listens on a free 127.0.0.1 port; connection N plays Scripts[N], later
  // connections are closed at once.
  explicit TScriptedHttpServer(std::vector<THttpScript> Scripts);
  TScriptedHttpServer(const TScriptedHttpServer&) = delete;
  TScriptedHttpServer& operator=(const TScriptedHttpServer&) = delete;
  ~TScriptedHttpServer();

  int Port() const { return Port_; }
  std::string Url(const std::string& Path = "/") const;
  // What each connection received so far, in accept order.
  std::vector<std::string> Received();
  // All received bytes of every connection, joined.
  std::string AllReceived();

 private:
  void Serve();
  void Play(int Fd, const THttpScript& Script, std::size_t Index);
  void Record(std::size_t Index, const std::string& Bytes);

  std::vector<THttpScript> Scripts_;
  int ListenFd_ = -1;
  int Port_ = 0;
  std::atomic<bool> Stop_{false};
  std::mutex Mutex_;
  std::vector<std::string> Received_;
  std::thread Thread_;
};

}  // namespace testsupport::httpjobs

// A scripted TCP peer for the socket tests: listens on a loopback address,
// accepts one connection in its own thread and plays a short script (send
// bytes, pause, read, close, reset), recording what it received. It
// misbehaves on demand where a real server cannot.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

struct TPeerStep {
  enum Kind { Send, Pause, ReadSome, ReadAll, Close, Reset, SendForever };
  Kind What = Send;
  std::string Data;        // Send: the bytes
  int Milliseconds = 0;    // Pause: how long
  std::int64_t Count = 0;  // ReadSome: how many bytes; SendForever: limit
};

TPeerStep PeerSend(const std::string& Data);
TPeerStep PeerPause(int Milliseconds);
TPeerStep PeerReadSome(std::int64_t Count);
TPeerStep PeerReadAll();
TPeerStep PeerClose();
// Closes with a reset (linger 0) instead of an orderly end.
TPeerStep PeerReset();
// Sends Count bytes of 'x' without any line end, as fast as taken.
TPeerStep PeerSendMany(std::int64_t Count);

class TScriptedPeer {
 public:
  // Listens on Host ("127.0.0.1" or "::1") at a free port.
  explicit TScriptedPeer(std::vector<TPeerStep> Script, const std::string& Host = "127.0.0.1");
  ~TScriptedPeer();
  TScriptedPeer(const TScriptedPeer&) = delete;
  TScriptedPeer& operator=(const TScriptedPeer&) = delete;

  int Port() const { return Port_; }
  std::string PortText() const { return std::to_string(Port_); }
  // Waits (bounded) for the script to end; returns what the peer received.
  std::string Received();

 private:
  void Run();

  std::vector<TPeerStep> Script_;
  int Listener_ = -1;
  int Port_ = 0;
  std::mutex Lock_;
  std::string Received_;
  std::atomic<bool> Done_{false};
  std::thread Thread_;
};

}  // namespace testsupport

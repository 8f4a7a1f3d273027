// A scripted loopback peer for the proxy and TLS tests: a server on its own
// thread that runs a script against the connections it accepts, so a test
// can make a proxy or a TLS server misbehave on demand and see the exact
// bytes the client sent.
#pragma once

#include <openssl/ssl.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace tlsproxypeer {

// A server-side TLS context for the certificate and key files, or null.
std::shared_ptr<SSL_CTX> ServerTlsContext(const std::string& CertificateFile, const std::string& KeyFile);

// One accepted connection as the script sees it. Every read is bounded by a
// time-out; what was read is also appended to the peer's transcript.
class PeerConnection {
 public:
  PeerConnection(int Fd, std::string& Transcript, std::mutex& Lock);
  ~PeerConnection();
  PeerConnection(const PeerConnection&) = delete;
  PeerConnection& operator=(const PeerConnection&) = delete;

  // Exactly Count bytes, or fewer when the time-out or the end came first.
  std::string ReadExactly(std::size_t Count, int TimeoutMs = 5000);
  // Everything up to and including Terminator (or what came before the end).
  std::string ReadUntil(const std::string& Terminator, int TimeoutMs = 5000);
  // Whatever arrives until the client closes (bounded by the time-out).
  std::string ReadToEnd(int TimeoutMs = 5000);
  // Waits (bounded) until the client closes, reading nothing meanwhile.
  void WaitForHangUp(int TimeoutMs = 30000);
  bool Write(const std::string& Bytes);
  // Server side of a TLS handshake on this connection; later reads and
  // writes go through the session.
  bool StartTls(SSL_CTX* Context, int TimeoutMs = 5000);
  // Sends the TLS close_notify alert but keeps the TCP connection open.
  void SendCloseNotify();
  // The name the client asked for in the handshake, empty when none.
  std::string ServerName() const;
  // Closes the TCP connection; Abortive sends a reset instead of a FIN.
  void Close(bool Abortive = false);
  int Fd() const { return Fd_; }

 private:
  bool WaitReadable(int TimeoutMs);
  long ReadSome(char* Buffer, std::size_t Size, int TimeoutMs);

  int Fd_;
  SSL* Tls_ = nullptr;
  std::string& Transcript_;
  std::mutex& Lock_;
};

// Listens on Host (127.0.0.1 or ::1) at a free port and runs Script for
// up to Connections accepted connections, one after another, on a thread.
class ScriptedPeer {
 public:
  using Script = std::function<void(PeerConnection&, int Index)>;
  explicit ScriptedPeer(Script Body, const std::string& Host = "127.0.0.1", int Connections = 1);
  ~ScriptedPeer();
  ScriptedPeer(const ScriptedPeer&) = delete;
  ScriptedPeer& operator=(const ScriptedPeer&) = delete;

  bool Listening() const { return Listener_ >= 0; }
  int Port() const { return Port_; }
  std::string PortText() const { return std::to_string(Port_); }
  // Waits (bounded) for the script to finish, then returns every byte the
  // peer read.
  std::string Received();
  // Ends the script's wait for a connection early.
  void Join();

 private:
  void Run(const Script& Body, int Connections);

  int Listener_ = -1;
  int Port_ = 0;
  std::string Transcript_;
  std::mutex Lock_;
  std::thread Thread_;
};

}  // namespace tlsproxypeer

#include "support/tlsproxypeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>

#include <chrono>
#include <cstring>

namespace tlsproxypeer {

namespace {

constexpr int kAcceptTimeoutMs = 15000;

using Clock = std::chrono::steady_clock;

int RemainingMs(Clock::time_point Deadline) {
  const auto Left = std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - Clock::now()).count();
  return Left > 0 ? static_cast<int>(Left) : 0;
}

bool PollFor(int Fd, short Events, int TimeoutMs) {
  pollfd Item{Fd, Events, 0};
  return poll(&Item, 1, TimeoutMs) > 0;
}

int OpenListener(const std::string& Host, int& Port) {
  const bool Six = Host.find(':') != std::string::npos;
  const int Fd = socket(Six ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
  if (Fd < 0) return -1;
  const int On = 1;
  setsockopt(Fd, SOL_SOCKET, SO_REUSEADDR, &On, sizeof(On));
  sockaddr_storage Address{};
  socklen_t Length = 0;
  if (Six) {
    auto* A6 = reinterpret_cast<sockaddr_in6*>(&Address);
    A6->sin6_family = AF_INET6;
    inet_pton(AF_INET6, Host.c_str(), &A6->sin6_addr);
    Length = sizeof(sockaddr_in6);
  } else {
    auto* A4 = reinterpret_cast<sockaddr_in*>(&Address);
    A4->sin_family = AF_INET;
    inet_pton(AF_INET, Host.c_str(), &A4->sin_addr);
    Length = sizeof(sockaddr_in);
  }
  if (bind(Fd, reinterpret_cast<sockaddr*>(&Address), Length) != 0 || listen(Fd, 8) != 0) {
    close(Fd);
    return -1;
  }
  getsockname(Fd, reinterpret_cast<sockaddr*>(&Address), &Length);
  Port = ntohs(Six ? reinterpret_cast<sockaddr_in6*>(&Address)->sin6_port
                   : reinterpret_cast<sockaddr_in*>(&Address)->sin_port);
  return Fd;
}

}  // namespace

std::shared_ptr<SSL_CTX> ServerTlsContext(const std::string& CertificateFile, const std::string& KeyFile) {
  SSL_CTX* Context = SSL_CTX_new(TLS_server_method());
  if (Context == nullptr) return nullptr;
  std::shared_ptr<SSL_CTX> Owned(Context, SSL_CTX_free);
  if (SSL_CTX_use_certificate_chain_file(Context, CertificateFile.c_str()) != 1) return nullptr;
  if (SSL_CTX_use_PrivateKey_file(Context, KeyFile.c_str(), SSL_FILETYPE_PEM) != 1) return nullptr;
  return Owned;
}

PeerConnection::PeerConnection(int Fd, std::string& Transcript, std::mutex& Lock)
    : Fd_(Fd), Transcript_(Transcript), Lock_(Lock) {}

PeerConnection::~PeerConnection() { Close(); }

bool PeerConnection::WaitReadable(int TimeoutMs) {
  if (Tls_ != nullptr && SSL_pending(Tls_) > 0) return true;
  return PollFor(Fd_, POLLIN, TimeoutMs);
}

long PeerConnection::ReadSome(char* Buffer, std::size_t Size, int TimeoutMs) {
  if (Fd_ < 0 || !WaitReadable(TimeoutMs)) return -1;
  long Count = 0;
  if (Tls_ != nullptr) {
    const int Result = SSL_read(Tls_, Buffer, static_cast<int>(Size));
    Count = Result > 0 ? Result : 0;
  } else {
    Count = recv(Fd_, Buffer, Size, 0);
  }
  if (Count > 0) {
    const std::lock_guard<std::mutex> Guard(Lock_);
    Transcript_.append(Buffer, static_cast<std::size_t>(Count));
  }
  return Count;
}

std::string PeerConnection::ReadExactly(std::size_t Count, int TimeoutMs) {
  const auto Deadline = Clock::now() + std::chrono::milliseconds(TimeoutMs);
  std::string Result;
  char Buffer[4096];
  while (Result.size() < Count) {
    const long Got = ReadSome(Buffer, std::min(sizeof(Buffer), Count - Result.size()), RemainingMs(Deadline));
    if (Got <= 0) break;
    Result.append(Buffer, static_cast<std::size_t>(Got));
  }
  return Result;
}

std::string PeerConnection::ReadUntil(const std::string& Terminator, int TimeoutMs) {
  const auto Deadline = Clock::now() + std::chrono::milliseconds(TimeoutMs);
  std::string Result;
  char Byte = 0;
  // Byte by byte so nothing after the terminator is consumed.
  while (Result.size() < Terminator.size() || Result.compare(Result.size() - Terminator.size(), Terminator.size(), Terminator) != 0) {
    if (ReadSome(&Byte, 1, RemainingMs(Deadline)) <= 0) break;
    Result += Byte;
  }
  return Result;
}

std::string PeerConnection::ReadToEnd(int TimeoutMs) {
  const auto Deadline = Clock::now() + std::chrono::milliseconds(TimeoutMs);
  std::string Result;
  char Buffer[65536];
  for (;;) {
    const long Got = ReadSome(Buffer, sizeof(Buffer), RemainingMs(Deadline));
    if (Got <= 0) break;
    Result.append(Buffer, static_cast<std::size_t>(Got));
  }
  return Result;
}

void PeerConnection::WaitForHangUp(int TimeoutMs) {
  if (Fd_ >= 0) PollFor(Fd_, POLLRDHUP, TimeoutMs);
}

bool PeerConnection::Write(const std::string& Bytes) {
  if (Fd_ < 0) return false;
  if (Tls_ != nullptr) return Bytes.empty() || SSL_write(Tls_, Bytes.data(), static_cast<int>(Bytes.size())) == static_cast<int>(Bytes.size());
  std::size_t Sent = 0;
  while (Sent < Bytes.size()) {
    const long Count = send(Fd_, Bytes.data() + Sent, Bytes.size() - Sent, MSG_NOSIGNAL);
    if (Count <= 0) return false;
    Sent += static_cast<std::size_t>(Count);
  }
  return true;
}

bool PeerConnection::StartTls(SSL_CTX* Context, int TimeoutMs) {
  if (Context == nullptr || Fd_ < 0) return false;
  Tls_ = SSL_new(Context);
  SSL_set_fd(Tls_, Fd_);
  // Blocking handshake, bounded by a receive time-out on the socket.
  timeval Limit{TimeoutMs / 1000, (TimeoutMs % 1000) * 1000};
  setsockopt(Fd_, SOL_SOCKET, SO_RCVTIMEO, &Limit, sizeof(Limit));
  const bool Ok = SSL_accept(Tls_) == 1;
  ERR_clear_error();
  return Ok;
}

void PeerConnection::SendCloseNotify() {
  if (Tls_ != nullptr) SSL_shutdown(Tls_);
}

std::string PeerConnection::ServerName() const {
  if (Tls_ == nullptr) return "";
  const char* Name = SSL_get_servername(Tls_, TLSEXT_NAMETYPE_host_name);
  return Name != nullptr ? Name : "";
}

void PeerConnection::Close(bool Abortive) {
  if (Tls_ != nullptr) {
    SSL_free(Tls_);
    Tls_ = nullptr;
  }
  if (Fd_ < 0) return;
  if (Abortive) {
    const linger Reset{1, 0};
    setsockopt(Fd_, SOL_SOCKET, SO_LINGER, &Reset, sizeof(Reset));
  }
  close(Fd_);
  Fd_ = -1;
}

ScriptedPeer::ScriptedPeer(Script Body, const std::string& Host, int Connections) {
  Listener_ = OpenListener(Host, Port_);
  if (Listener_ < 0) return;
  Thread_ = std::thread([this, Body = std::move(Body), Connections] { Run(Body, Connections); });
}

ScriptedPeer::~ScriptedPeer() {
  Join();
  if (Listener_ >= 0) close(Listener_);
}

void ScriptedPeer::Run(const Script& Body, int Connections) {
  for (int Index = 0; Index < Connections; ++Index) {
    if (!PollFor(Listener_, POLLIN, kAcceptTimeoutMs)) return;
    const int Fd = accept(Listener_, nullptr, nullptr);
    if (Fd < 0) return;
    PeerConnection Connection(Fd, Transcript_, Lock_);
    Body(Connection, Index);
  }
}

void ScriptedPeer::Join() {
  if (Thread_.joinable()) {
    // Wakes a script still waiting for a connection that will not come.
    if (Listener_ >= 0) shutdown(Listener_, SHUT_RDWR);
    Thread_.join();
  }
}

std::string ScriptedPeer::Received() {
  Join();
  const std::lock_guard<std::mutex> Guard(Lock_);
  return Transcript_;
}

}  // namespace tlsproxypeer

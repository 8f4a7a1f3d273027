#include "support/httpsend_scriptserver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>

namespace testsupport {

namespace {

// Every wait of the peer is bounded so a client that misbehaves cannot
// hang a test.
constexpr int kStepMilliseconds = 10000;

HttpScriptStep MakeStep(HttpScriptStep::TKind Kind) {
  HttpScriptStep Step;
  Step.Kind = Kind;
  return Step;
}

std::int64_t AnnouncedLength(const std::string& Head) {
  std::string Lower = Head;
  std::transform(Lower.begin(), Lower.end(), Lower.begin(),
                 [](unsigned char C) { return static_cast<char>(std::tolower(C)); });
  const std::size_t At = Lower.find("\ncontent-length:");
  if (At == std::string::npos) return 0;
  return std::atoll(Lower.c_str() + At + 16);
}

bool SendAll(int Fd, const std::string& Data) {
  std::size_t Sent = 0;
  while (Sent < Data.size()) {
    const ssize_t N = ::send(Fd, Data.data() + Sent, Data.size() - Sent, MSG_NOSIGNAL);
    if (N <= 0) return false;
    Sent += static_cast<std::size_t>(N);
  }
  return true;
}

}  // namespace

HttpScriptStep ReadHead() { return MakeStep(HttpScriptStep::TKind::ReadHead); }
HttpScriptStep ReadBody() { return MakeStep(HttpScriptStep::TKind::ReadBody); }
HttpScriptStep CloseNow() { return MakeStep(HttpScriptStep::TKind::Close); }
HttpScriptStep WaitClose() { return MakeStep(HttpScriptStep::TKind::WaitClose); }

HttpScriptStep Send(const std::string& Data) {
  HttpScriptStep Step = MakeStep(HttpScriptStep::TKind::Send);
  Step.Data = Data;
  return Step;
}

HttpScriptStep SendRepeat(const std::string& Data, std::int64_t Count) {
  HttpScriptStep Step = MakeStep(HttpScriptStep::TKind::SendRepeat);
  Step.Data = Data;
  Step.Count = Count;
  return Step;
}

HttpScriptStep Quiet(int Milliseconds) {
  HttpScriptStep Step = MakeStep(HttpScriptStep::TKind::Quiet);
  Step.Milliseconds = Milliseconds;
  return Step;
}

HttpScriptServer::HttpScriptServer(std::vector<HttpScript> Scripts) : Scripts_(std::move(Scripts)) {
  ListenFd_ = ::socket(AF_INET, SOCK_STREAM, 0);
  const int One = 1;
  ::setsockopt(ListenFd_, SOL_SOCKET, SO_REUSEADDR, &One, sizeof One);
  sockaddr_in Address{};
  Address.sin_family = AF_INET;
  Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  Address.sin_port = 0;
  ::bind(ListenFd_, reinterpret_cast<sockaddr*>(&Address), sizeof Address);
  ::listen(ListenFd_, 16);
  socklen_t Length = sizeof Address;
  ::getsockname(ListenFd_, reinterpret_cast<sockaddr*>(&Address), &Length);
  Port_ = ntohs(Address.sin_port);
  Received_.resize(Scripts_.size());
  Thread_ = std::thread([this] { Serve(); });
}

HttpScriptServer::~HttpScriptServer() {
  Stop_ = true;
  if (Thread_.joinable()) Thread_.join();
  ::close(ListenFd_);
}

std::string HttpScriptServer::Url(const std::string& Path) const {
  return "http://127.0.0.1:" + std::to_string(Port_) + Path;
}

void HttpScriptServer::Finish() {
  if (Thread_.joinable()) Thread_.join();
}

std::string HttpScriptServer::Received(std::size_t Index) {
  std::lock_guard<std::mutex> Guard(Lock_);
  return Index < Received_.size() ? Received_[Index] : std::string();
}

std::size_t HttpScriptServer::Accepted() {
  return AcceptedCount_;
}

void HttpScriptServer::Serve() {
  for (std::size_t Index = 0; Index < Scripts_.size(); ++Index) {
    pollfd Wait{ListenFd_, POLLIN, 0};
    int Waited = 0;
    while (!Stop_ && Waited < kStepMilliseconds && ::poll(&Wait, 1, 100) == 0) Waited += 100;
    if (Stop_ || !(Wait.revents & POLLIN)) return;
    const int Fd = ::accept(ListenFd_, nullptr, nullptr);
    if (Fd < 0) return;
    ++AcceptedCount_;
    Play(Fd, Scripts_[Index], Index);
    ::close(Fd);
  }
}

// Reads what arrives within Milliseconds into Buffer and the record; false
// when the client closed or nothing came.
bool HttpScriptServer::ReadMore(int Fd, std::size_t Index, std::string& Buffer, int Milliseconds) {
  const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(Milliseconds);
  while (!Stop_ && std::chrono::steady_clock::now() < Deadline) {
    pollfd Wait{Fd, POLLIN, 0};
    if (::poll(&Wait, 1, 50) <= 0) continue;
    char Chunk[65536];
    const ssize_t N = ::recv(Fd, Chunk, sizeof Chunk, 0);
    if (N <= 0) return false;
    Buffer.append(Chunk, static_cast<std::size_t>(N));
    std::lock_guard<std::mutex> Guard(Lock_);
    Received_[Index].append(Chunk, static_cast<std::size_t>(N));
    return true;
  }
  return false;
}

void HttpScriptServer::Play(int Fd, const HttpScript& Script, std::size_t Index) {
  std::string Buffer;  // received, not yet consumed by a step
  std::int64_t BodyLength = 0;
  for (const HttpScriptStep& Step : Script) {
    switch (Step.Kind) {
      case HttpScriptStep::TKind::ReadHead: {
        std::size_t End;
        while ((End = Buffer.find("\r\n\r\n")) == std::string::npos)
          if (!ReadMore(Fd, Index, Buffer, kStepMilliseconds)) return;
        BodyLength = AnnouncedLength(Buffer.substr(0, End + 2));
        Buffer.erase(0, End + 4);
        break;
      }
      case HttpScriptStep::TKind::ReadBody:
        while (static_cast<std::int64_t>(Buffer.size()) < BodyLength)
          if (!ReadMore(Fd, Index, Buffer, kStepMilliseconds)) return;
        Buffer.erase(0, static_cast<std::size_t>(BodyLength));
        break;
      case HttpScriptStep::TKind::Send:
        SendAll(Fd, Step.Data);
        break;
      case HttpScriptStep::TKind::SendRepeat:
        for (std::int64_t I = 0; I < Step.Count && !Stop_; ++I)
          if (!SendAll(Fd, Step.Data)) break;
        break;
      case HttpScriptStep::TKind::Close:
        return;
      case HttpScriptStep::TKind::WaitClose:
        while (ReadMore(Fd, Index, Buffer, kStepMilliseconds)) {
        }
        break;
      case HttpScriptStep::TKind::Quiet: {
        const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(Step.Milliseconds);
        while (std::chrono::steady_clock::now() < Deadline) {
          const auto Left = std::chrono::duration_cast<std::chrono::milliseconds>(
              Deadline - std::chrono::steady_clock::now());
          if (!ReadMore(Fd, Index, Buffer, static_cast<int>(std::max<std::int64_t>(1, Left.count())))) break;
        }
        break;
      }
    }
  }
}

}  // namespace testsupport

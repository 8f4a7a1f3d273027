#include "support/httpjobsserver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>

namespace testsupport::httpjobs {

namespace {

constexpr int ReadLimitMs = 20000;

// Content-Length of a request head, 0 when absent.
std::size_t ContentLengthOf(const std::string& Head) {
  std::string Lower;
  for (const char C : Head) Lower += static_cast<char>(C >= 'A' && C <= 'Z' ? C + 32 : C);
  const std::size_t At = Lower.find("\r\ncontent-length:");
  if (At == std::string::npos) return 0;
  return static_cast<std::size_t>(std::strtoull(Head.c_str() + At + 17, nullptr, 10));
}

// One read with a bounded wait; empty on close, time-out or error.
std::string ReadSome(int Fd, int WaitMs) {
  pollfd Poll{Fd, POLLIN, 0};
  if (poll(&Poll, 1, WaitMs) <= 0) return "";
  char Buffer[65536];
  const ssize_t Got = recv(Fd, Buffer, sizeof(Buffer), 0);
  return Got > 0 ? std::string(Buffer, static_cast<std::size_t>(Got)) : "";
}

}  // namespace

THttpStep ReadHead() { return {THttpStep::TKind::ReadHead, "", 0}; }
THttpStep ReadBody() { return {THttpStep::TKind::ReadBody, "", 0}; }
THttpStep ReadUntilClose() { return {THttpStep::TKind::ReadUntilClose, "", 0}; }
THttpStep Send(const std::string& Bytes) { return {THttpStep::TKind::Send, Bytes, 0}; }
THttpStep Pause(int Milliseconds) { return {THttpStep::TKind::Pause, "", Milliseconds}; }
THttpStep Close() { return {THttpStep::TKind::Close, "", 0}; }

THttpScript Answer(const std::string& Response) { return {ReadHead(), ReadBody(), Send(Response)}; }

TScriptedHttpServer::TScriptedHttpServer(std::vector<THttpScript> Scripts) : Scripts_(std::move(Scripts)) {
  ListenFd_ = socket(AF_INET, SOCK_STREAM, 0);
  const int On = 1;
  setsockopt(ListenFd_, SOL_SOCKET, SO_REUSEADDR, &On, sizeof(On));
  sockaddr_in Address{};
  Address.sin_family = AF_INET;
  Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(ListenFd_, reinterpret_cast<sockaddr*>(&Address), sizeof(Address));
  socklen_t Length = sizeof(Address);
  getsockname(ListenFd_, reinterpret_cast<sockaddr*>(&Address), &Length);
  Port_ = ntohs(Address.sin_port);
  listen(ListenFd_, 16);
  Thread_ = std::thread([this] { Serve(); });
}

TScriptedHttpServer::~TScriptedHttpServer() {
  Stop_ = true;
  if (Thread_.joinable()) Thread_.join();
  close(ListenFd_);
}

std::string TScriptedHttpServer::Url(const std::string& Path) const {
  return "http://127.0.0.1:" + std::to_string(Port_) + Path;
}

std::vector<std::string> TScriptedHttpServer::Received() {
  std::lock_guard<std::mutex> Lock(Mutex_);
  return Received_;
}

std::string TScriptedHttpServer::AllReceived() {
  std::string All;
  for (const std::string& Bytes : Received()) All += Bytes;
  return All;
}

void TScriptedHttpServer::Record(std::size_t Index, const std::string& Bytes) {
  std::lock_guard<std::mutex> Lock(Mutex_);
  if (Received_.size() <= Index) Received_.resize(Index + 1);
  Received_[Index] += Bytes;
}

void TScriptedHttpServer::Serve() {
  std::size_t Index = 0;
  while (!Stop_) {
    pollfd Poll{ListenFd_, POLLIN, 0};
    if (poll(&Poll, 1, 100) <= 0) continue;
    const int Fd = accept(ListenFd_, nullptr, nullptr);
    if (Fd < 0) continue;
    Record(Index, "");
    if (Index < Scripts_.size()) Play(Fd, Scripts_[Index], Index);
    close(Fd);
    ++Index;
  }
}

void TScriptedHttpServer::Play(int Fd, const THttpScript& Script, std::size_t Index) {
  std::string Pending;  // read past the current step, kept for the next
  std::size_t BodyLength = 0;
  for (const THttpStep& Step : Script) {
    if (Stop_) return;
    using K = THttpStep::TKind;
    const auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ReadLimitMs);
    const auto TimeLeft = [&] {
      return static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(Deadline - std::chrono::steady_clock::now()).count());
    };
    if (Step.Kind == K::ReadHead) {
      while (Pending.find("\r\n\r\n") == std::string::npos && TimeLeft() > 0) {
        const std::string Got = ReadSome(Fd, TimeLeft());
        if (Got.empty()) break;
        Record(Index, Got);
        Pending += Got;
      }
      const std::size_t End = Pending.find("\r\n\r\n");
      const std::string Head = Pending.substr(0, End == std::string::npos ? Pending.size() : End + 4);
      BodyLength = ContentLengthOf(Head);
      Pending.erase(0, Head.size());
    } else if (Step.Kind == K::ReadBody) {
      while (Pending.size() < BodyLength && TimeLeft() > 0) {
        const std::string Got = ReadSome(Fd, TimeLeft());
        if (Got.empty()) break;
        Record(Index, Got);
        Pending += Got;
      }
      Pending.erase(0, std::min(BodyLength, Pending.size()));
    } else if (Step.Kind == K::ReadUntilClose) {
      while (TimeLeft() > 0) {
        const std::string Got = ReadSome(Fd, TimeLeft());
        if (Got.empty()) break;
        Record(Index, Got);
      }
    } else if (Step.Kind == K::Send) {
      send(Fd, Step.Bytes.data(), Step.Bytes.size(), MSG_NOSIGNAL);
    } else if (Step.Kind == K::Pause) {
      poll(nullptr, 0, Step.Milliseconds);
    } else {
      return;
    }
  }
}

}  // namespace testsupport::httpjobs

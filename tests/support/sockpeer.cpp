#include "support/sockpeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

namespace testsupport {

TPeerStep PeerSend(const std::string& Data) { return TPeerStep{TPeerStep::Send, Data, 0, 0}; }
TPeerStep PeerPause(int Milliseconds) { return TPeerStep{TPeerStep::Pause, "", Milliseconds, 0}; }
TPeerStep PeerReadSome(std::int64_t Count) { return TPeerStep{TPeerStep::ReadSome, "", 0, Count}; }
TPeerStep PeerReadAll() { return TPeerStep{TPeerStep::ReadAll, "", 0, 0}; }
TPeerStep PeerClose() { return TPeerStep{TPeerStep::Close, "", 0, 0}; }
TPeerStep PeerReset() { return TPeerStep{TPeerStep::Reset, "", 0, 0}; }
TPeerStep PeerSendMany(std::int64_t Count) { return TPeerStep{TPeerStep::SendForever, "", 0, Count}; }

namespace {

// Every wait of the peer is bounded so that a failing test cannot hang.
constexpr int PeerWaitLimit = 20000;

bool WaitFd(int Fd, short Events) {
  pollfd Entry{Fd, Events, 0};
  return ::poll(&Entry, 1, PeerWaitLimit) > 0;
}

}  // namespace

TScriptedPeer::TScriptedPeer(std::vector<TPeerStep> Script, const std::string& Host) : Script_(std::move(Script)) {
  const bool IPv6 = Host.find(':') != std::string::npos;
  Listener_ = ::socket(IPv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (IPv6) {
    sockaddr_in6 Address{};
    Address.sin6_family = AF_INET6;
    ::inet_pton(AF_INET6, Host.c_str(), &Address.sin6_addr);
    ::bind(Listener_, reinterpret_cast<sockaddr*>(&Address), sizeof(Address));
  } else {
    sockaddr_in Address{};
    Address.sin_family = AF_INET;
    ::inet_pton(AF_INET, Host.c_str(), &Address.sin_addr);
    ::bind(Listener_, reinterpret_cast<sockaddr*>(&Address), sizeof(Address));
  }
  ::listen(Listener_, 4);
  sockaddr_in6 Bound{};
  socklen_t Length = sizeof(Bound);
  ::getsockname(Listener_, reinterpret_cast<sockaddr*>(&Bound), &Length);
  Port_ = ntohs(Bound.sin6_port);  // same place in both families
  Thread_ = std::thread([this] { Run(); });
}

TScriptedPeer::~TScriptedPeer() {
  if (Thread_.joinable()) Thread_.join();
  if (Listener_ >= 0) ::close(Listener_);
}

std::string TScriptedPeer::Received() {
  if (Thread_.joinable()) Thread_.join();
  const std::lock_guard<std::mutex> Guard(Lock_);
  return Received_;
}

void TScriptedPeer::Run() {
  if (!WaitFd(Listener_, POLLIN)) return;
  int Fd = ::accept(Listener_, nullptr, nullptr);
  if (Fd < 0) return;
  char Buffer[65536];
  for (const TPeerStep& Step : Script_) {
    if (Step.What == TPeerStep::Send) {
      std::size_t Sent = 0;
      while (Sent < Step.Data.size()) {
        const ssize_t N = ::send(Fd, Step.Data.data() + Sent, Step.Data.size() - Sent, MSG_NOSIGNAL);
        if (N <= 0) break;
        Sent += static_cast<std::size_t>(N);
      }
    } else if (Step.What == TPeerStep::Pause) {
      std::this_thread::sleep_for(std::chrono::milliseconds(Step.Milliseconds));
    } else if (Step.What == TPeerStep::ReadSome || Step.What == TPeerStep::ReadAll) {
      std::int64_t Left = Step.What == TPeerStep::ReadAll ? INT64_MAX : Step.Count;
      while (Left > 0 && WaitFd(Fd, POLLIN)) {
        const ssize_t N = ::recv(Fd, Buffer, static_cast<std::size_t>(std::min<std::int64_t>(Left, sizeof(Buffer))), 0);
        if (N <= 0) break;
        const std::lock_guard<std::mutex> Guard(Lock_);
        Received_.append(Buffer, static_cast<std::size_t>(N));
        Left -= N;
      }
    } else if (Step.What == TPeerStep::SendForever) {
      std::memset(Buffer, 'x', sizeof(Buffer));
      std::int64_t Left = Step.Count;
      while (Left > 0 && WaitFd(Fd, POLLOUT)) {
        const ssize_t N =
            ::send(Fd, Buffer, static_cast<std::size_t>(std::min<std::int64_t>(Left, sizeof(Buffer))), MSG_NOSIGNAL);
        if (N <= 0) break;
        Left -= N;
      }
    } else if (Step.What == TPeerStep::Close) {
      ::close(Fd);
      Fd = -1;
      break;
    } else if (Step.What == TPeerStep::Reset) {
      linger Value{1, 0};
      ::setsockopt(Fd, SOL_SOCKET, SO_LINGER, &Value, sizeof(Value));
      ::close(Fd);
      Fd = -1;
      break;
    }
  }
  if (Fd >= 0) ::close(Fd);
  Done_ = true;
}

}  // namespace testsupport

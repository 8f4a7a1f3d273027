#include "bench/support/cutrelay.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace {

sockaddr_in Loopback(int Port) {
  sockaddr_in Address{};
  Address.sin_family = AF_INET;
  Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  Address.sin_port = htons(static_cast<std::uint16_t>(Port));
  return Address;
}

bool SendAll(int Fd, const char* Data, std::int64_t Count) {
  while (Count > 0) {
    const ssize_t Put = send(Fd, Data, static_cast<std::size_t>(Count), MSG_NOSIGNAL);
    if (Put <= 0) return false;
    Data += Put;
    Count -= Put;
  }
  return true;
}

}  // namespace

TCutRelay::TCutRelay(int TargetPort, std::int64_t CutAt) : TargetPort_(TargetPort), CutAt_(CutAt) {
  ListenFd_ = socket(AF_INET, SOCK_STREAM, 0);
  const int On = 1;
  setsockopt(ListenFd_, SOL_SOCKET, SO_REUSEADDR, &On, sizeof(On));
  sockaddr_in Address = Loopback(0);
  bind(ListenFd_, reinterpret_cast<sockaddr*>(&Address), sizeof(Address));
  socklen_t Length = sizeof(Address);
  getsockname(ListenFd_, reinterpret_cast<sockaddr*>(&Address), &Length);
  Port_ = ntohs(Address.sin_port);
  listen(ListenFd_, 8);
  Thread_ = std::thread([this] { Serve(); });
}

TCutRelay::~TCutRelay() {
  Stop_ = true;
  Thread_.join();
  close(ListenFd_);
}

void TCutRelay::Rearm() {
  Downstream_ = 0;
  Connections_ = 0;
  Armed_ = true;
}

void TCutRelay::Serve() {
  while (!Stop_) {
    pollfd Poll{ListenFd_, POLLIN, 0};
    if (poll(&Poll, 1, 100) <= 0) continue;
    const int Client = accept(ListenFd_, nullptr, nullptr);
    if (Client < 0) continue;
    ++Connections_;
    const int Server = socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in Target = Loopback(TargetPort_);
    if (connect(Server, reinterpret_cast<const sockaddr*>(&Target), sizeof(Target)) == 0) Relay(Client, Server);
    close(Server);
    close(Client);
  }
}

// Both directions until either side ends; the answer's bytes stop at the
// cut while it is armed.
void TCutRelay::Relay(int Client, int Server) {
  std::vector<char> Buffer(1 << 20);
  std::int64_t Sent = 0;
  const bool Cut = Armed_.exchange(false);
  while (!Stop_) {
    pollfd Polls[2] = {{Client, POLLIN, 0}, {Server, POLLIN, 0}};
    if (poll(Polls, 2, 100) <= 0) continue;
    if (Polls[0].revents != 0) {
      const ssize_t Got = recv(Client, Buffer.data(), Buffer.size(), 0);
      if (Got <= 0 || !SendAll(Server, Buffer.data(), Got)) return;
    }
    if (Polls[1].revents != 0) {
      std::int64_t Want = static_cast<std::int64_t>(Buffer.size());
      if (Cut) Want = std::min(Want, CutAt_ - Sent);
      const ssize_t Got = Want > 0 ? recv(Server, Buffer.data(), static_cast<std::size_t>(Want), 0) : 0;
      if (Got <= 0 || !SendAll(Client, Buffer.data(), Got)) return;
      Sent += Got;
      Downstream_ += Got;
    }
  }
}

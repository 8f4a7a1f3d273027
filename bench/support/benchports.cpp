#include "bench/support/benchports.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <thread>

namespace {

sockaddr_in LoopbackAddress(int Port) {
  sockaddr_in Address{};
  Address.sin_family = AF_INET;
  Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  Address.sin_port = htons(static_cast<std::uint16_t>(Port));
  return Address;
}

}  // namespace

int FreePort() {
  const int Fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in Address = LoopbackAddress(0);
  bind(Fd, reinterpret_cast<sockaddr*>(&Address), sizeof(Address));
  socklen_t Length = sizeof(Address);
  getsockname(Fd, reinterpret_cast<sockaddr*>(&Address), &Length);
  close(Fd);
  return ntohs(Address.sin_port);
}

bool PortOpen(int Port) {
  const int Fd = socket(AF_INET, SOCK_STREAM, 0);
  const sockaddr_in Address = LoopbackAddress(Port);
  const bool Open = connect(Fd, reinterpret_cast<const sockaddr*>(&Address), sizeof(Address)) == 0;
  close(Fd);
  return Open;
}

bool WaitForPort(int Port) {
  for (int Attempt = 0; Attempt < 200; ++Attempt) {
    if (PortOpen(Port)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

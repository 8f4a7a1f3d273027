// A TCP relay on loopback for the resume benchmarks: it forwards each
// accepted connection, one at a time, to a port of the same host, counts the
// bytes that go back to the clients, and drops the first connection once
// CutAt of them have gone through, as a broken link would.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

class TCutRelay {
 public:
  TCutRelay(int TargetPort, std::int64_t CutAt);
  TCutRelay(const TCutRelay&) = delete;
  TCutRelay& operator=(const TCutRelay&) = delete;
  ~TCutRelay();

  int Port() const { return Port_; }
  // Bytes sent back to clients since the last Rearm, all connections.
  std::int64_t Downstream() const { return Downstream_; }
  // Connections accepted since the last Rearm.
  int Connections() const { return Connections_; }
  // Counts from zero again, and cuts the next connection again.
  void Rearm();

 private:
  void Serve();
  void Relay(int Client, int Server);

  int TargetPort_;
  std::int64_t CutAt_;
  int ListenFd_ = -1;
  int Port_ = 0;
  std::atomic<bool> Stop_{false};
  std::atomic<bool> Armed_{true};
  std::atomic<std::int64_t> Downstream_{0};
  std::atomic<int> Connections_{0};
  std::thread Thread_;
};

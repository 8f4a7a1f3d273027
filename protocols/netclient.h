// Base of the protocol clients: where to connect, from which local address,
// how long to wait and whom to log on as.
#pragma once

#include <cstdint>
#include <string>

class TNetClient {
public:
  TNetClient() = default;
  virtual ~TNetClient() = default;
  TNetClient(const TNetClient&) = delete;
  TNetClient& operator=(const TNetClient&) = delete;

  std::string TargetHost = "127.0.0.1";
  std::string TargetPort = "0";        // a number or a service name
  std::string IPInterface = "0.0.0.0"; // local address to bind; any interface
  int32_t Timeout = 5000;              // milliseconds
  std::string UserName;
  std::string Password;
};

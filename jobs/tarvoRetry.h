// What every job shares about trying again after a connection-level failure:
// which failures count, how long to wait, and the line that tells the
// operator. What is continued after the wait is each job's own business.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

// The most attempts a job file may ask for, and the longest single wait.
inline constexpr std::int32_t MaxRetries = 100;
inline constexpr std::int64_t MaxRetryDelay = 600000;

// True for a socket error that says the connection could not be made, timed
// out, was reset or closed by the peer, or lost its TLS session: trying
// again may succeed. A refused certificate, a name that does not resolve or
// a local fault is not among them.
bool IsConnectionFailure(std::int32_t SocketError);

// FTP replies that report a broken connection rather than a refusal: 421
// (the server closes the session), 425 (no data connection) and 426 (the
// data connection was lost).
bool IsConnectionFailureReply(std::int32_t ReplyCode);

// The wait before attempt Attempt (1 for the first retry): RetryDelay,
// doubled for each further attempt, at most MaxRetryDelay.
std::int64_t RetryDelayBefore(std::int32_t Attempt, std::int32_t RetryDelay);

// The retries one job has left. Each job builds one from its Retries and
// RetryDelay and asks it before reconnecting.
class TRetryBudget {
 public:
  TRetryBudget(std::int32_t Retries, std::int32_t RetryDelay);

  // False when no retry is left. Otherwise logs "Retry <n> of <Retries> in
  // <delay> ms: <Reason>", waits that long and returns true.
  bool RetryAfter(const std::string& Reason);

  // Retries used so far.
  std::int32_t Used() const { return Used_; }

  // How the wait is made; tests may replace it.
  std::function<void(std::int64_t Milliseconds)> Wait;

 private:
  std::int32_t Retries_;
  std::int32_t RetryDelay_;
  std::int32_t Used_ = 0;
};

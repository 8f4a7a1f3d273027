#include "jobs/tarvoRetry.h"

#include <chrono>
#include <thread>

#include "app/tarvoCommon.h"
#include "net/sockerrors.h"

bool IsConnectionFailure(std::int32_t SocketError) {
  switch (SocketError) {
    case WSAENETDOWN:
    case WSAENETUNREACH:
    case WSAENETRESET:
    case WSAECONNABORTED:
    case WSAECONNRESET:
    case WSAENOTCONN:
    case WSAESHUTDOWN:
    case WSAETIMEDOUT:
    case WSAECONNREFUSED:
    case WSAEHOSTDOWN:
    case WSAEHOSTUNREACH:
    case WSASYSNOTREADY:  // the TLS session failed or ended without its close
    case WSAEDISCON:
    case WSATRY_AGAIN:  // the name server did not answer in time
      return true;
    default:
      return false;
  }
}

bool IsConnectionFailureReply(std::int32_t ReplyCode) {
  return ReplyCode == 421 || ReplyCode == 425 || ReplyCode == 426;
}

std::int64_t RetryDelayBefore(std::int32_t Attempt, std::int32_t RetryDelay) {
  std::int64_t Delay = RetryDelay < 0 ? 0 : RetryDelay;
  for (std::int32_t Step = 1; Step < Attempt && Delay < MaxRetryDelay; ++Step) Delay *= 2;
  return Delay < MaxRetryDelay ? Delay : MaxRetryDelay;
}

TRetryBudget::TRetryBudget(std::int32_t Retries, std::int32_t RetryDelay)
    : Wait([](std::int64_t Milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(Milliseconds)); }),
      Retries_(Retries),
      RetryDelay_(RetryDelay) {}

bool TRetryBudget::RetryAfter(const std::string& Reason) {
  if (Used_ >= Retries_) return false;
  ++Used_;
  const std::int64_t Delay = RetryDelayBefore(Used_, RetryDelay_);
  WriteLog("Retry " + std::to_string(Used_) + " of " + std::to_string(Retries_) + " in " + std::to_string(Delay) +
               " ms: " + Reason,
           0);
  if (Delay > 0) Wait(Delay);
  return true;
}

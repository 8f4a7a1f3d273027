// The server's end of a socketpair for the network-facing fuzz targets: the
// bytes the client is to read are written into it beforehand, and the
// client's socket takes the other end at its next Connect (AdoptOnConnect).
// No TCP connection, no thread: thousands of inputs a second.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "net/blocksock.h"

class TFuzzPeer {
 public:
  TFuzzPeer();
  ~TFuzzPeer();
  TFuzzPeer(const TFuzzPeer&) = delete;
  TFuzzPeer& operator=(const TFuzzPeer&) = delete;

  // Hands the client's end to Socket's next Connect.
  void Arm(TBlockSocket& Socket);
  // Queues Bytes for the client; what the pair cannot buffer is dropped, so
  // a write never blocks.
  void Send(std::string_view Bytes);
  // The server closes its sending side: the client reads to the end, then
  // sees the connection closed instead of waiting.
  void Finish();

 private:
  int Server_ = -1;
  int Client_ = -1;  // until a socket adopts it
};

// Reads the fuzz input front to back: small settings first, then texts.
class TFuzzInput {
 public:
  TFuzzInput(const std::uint8_t* Data, std::size_t Size)
      : Text_(reinterpret_cast<const char*>(Data), Size) {}
  // The next byte, 0 once the input is used up.
  std::uint8_t Byte();
  // Up to the next Separator (dropped) or the end.
  std::string_view Part(std::string_view Separator);
  std::string_view Rest() const { return Text_; }

 private:
  std::string_view Text_;
};

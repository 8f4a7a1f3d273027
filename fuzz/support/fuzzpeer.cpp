#include "fuzz/support/fuzzpeer.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>

TFuzzPeer::TFuzzPeer() {
  int Ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, Ends) != 0) std::abort();
  Server_ = Ends[0];
  Client_ = Ends[1];
  ::fcntl(Server_, F_SETFL, O_NONBLOCK);
}

TFuzzPeer::~TFuzzPeer() {
  ::close(Server_);
  if (Client_ >= 0) ::close(Client_);
}

void TFuzzPeer::Arm(TBlockSocket& Socket) {
  if (Socket.AdoptOnConnect != INVALID_SOCKET) ::close(Socket.AdoptOnConnect);
  Socket.AdoptOnConnect = Client_;
  Client_ = -1;
}

void TFuzzPeer::Send(std::string_view Bytes) {
  while (!Bytes.empty()) {
    const ssize_t Sent = ::send(Server_, Bytes.data(), Bytes.size(), MSG_NOSIGNAL);
    if (Sent <= 0) return;
    Bytes.remove_prefix(static_cast<std::size_t>(Sent));
  }
}

void TFuzzPeer::Finish() { ::shutdown(Server_, SHUT_WR); }

std::uint8_t TFuzzInput::Byte() {
  if (Text_.empty()) return 0;
  const auto Value = static_cast<std::uint8_t>(Text_.front());
  Text_.remove_prefix(1);
  return Value;
}

std::string_view TFuzzInput::Part(std::string_view Separator) {
  const std::size_t At = Text_.find(Separator);
  const std::string_view Piece = Text_.substr(0, At);
  Text_.remove_prefix(At == std::string_view::npos ? Text_.size() : At + Separator.size());
  return Piece;
}

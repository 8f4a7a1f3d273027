// Loopback throughput of the block socket against plain POSIX sockets and
// against socat as the sending peer, all in one run.
//
//   bench_sockets [MiB] [rounds]   (defaults 2048 and 3)
//
// The cases run in turn, round after round, and each reports its best
// round, so that a busy machine disturbs all of them alike.
// Cases: (1) plain send/recv with 64 KiB buffers; (2) TTCPBlockSocket
// SendBuffer to ReceiveToStream into a discarding stream; (3) the same
// sender to a ReceiveBuffer loop of 64 KiB; (4) socat sending, plain recv;
// (5) socat sending, ReceiveToStream. Prints MB/s and the ratios to (1)
// and (4).
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "net/blocksock.h"
#include "util/streams.h"

namespace {

constexpr std::size_t Piece = 64 * 1024;

// Counts what is written and keeps nothing.
class TDiscardStream : public TStream {
 public:
  std::int64_t Read(void*, std::int64_t) override { return 0; }
  std::int64_t Write(const void*, std::int64_t Count) override {
    Total += Count;
    return Count;
  }
  std::int64_t Seek(std::int64_t, TSeekOrigin) override { return Total; }
  std::int64_t Size() override { return Total; }
  bool SetSize(std::int64_t) override { return true; }
  std::int64_t Total = 0;
};

int PlainListener(int& Port) {
  const int Fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in Address{};
  Address.sin_family = AF_INET;
  Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(Fd, reinterpret_cast<sockaddr*>(&Address), sizeof(Address));
  ::listen(Fd, 4);
  socklen_t Length = sizeof(Address);
  ::getsockname(Fd, reinterpret_cast<sockaddr*>(&Address), &Length);
  Port = ntohs(Address.sin_port);
  return Fd;
}

int PlainConnect(int Port) {
  const int Fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in Address{};
  Address.sin_family = AF_INET;
  Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  Address.sin_port = htons(static_cast<std::uint16_t>(Port));
  if (::connect(Fd, reinterpret_cast<sockaddr*>(&Address), sizeof(Address)) != 0) std::exit(2);
  return Fd;
}

void PlainSend(int Port, std::int64_t Bytes) {
  const int Fd = PlainConnect(Port);
  const std::string Data(Piece, 's');
  std::int64_t Left = Bytes;
  while (Left > 0) {
    const ssize_t N = ::send(Fd, Data.data(), static_cast<std::size_t>(std::min<std::int64_t>(Left, Piece)), MSG_NOSIGNAL);
    if (N <= 0) break;
    Left -= N;
  }
  ::close(Fd);
}

void BlockSend(int Port, std::int64_t Bytes) {
  TTCPBlockSocket Socket;
  Socket.Connect("127.0.0.1", std::to_string(Port));
  const std::string Data(1024 * 1024, 'b');
  std::int64_t Left = Bytes;
  while (Left > 0 && Socket.LastErrorCode == 0) {
    Left -= Socket.SendBuffer(Data.data(), std::min<std::int64_t>(Left, static_cast<std::int64_t>(Data.size())));
  }
  Socket.CloseSocket();
}

void SocatSend(int Port, std::int64_t Bytes) {
  const std::string Command = "head -c " + std::to_string(Bytes) + " /dev/zero | socat -u -b 65536 - TCP:127.0.0.1:" +
                              std::to_string(Port);
  if (std::system(Command.c_str()) != 0) std::fprintf(stderr, "socat failed\n");
}

std::int64_t PlainReceive(int Listener) {
  const int Fd = ::accept(Listener, nullptr, nullptr);
  std::vector<char> Buffer(Piece);
  std::int64_t Total = 0;
  while (true) {
    const ssize_t N = ::recv(Fd, Buffer.data(), Buffer.size(), 0);
    if (N <= 0) break;
    Total += N;
  }
  ::close(Fd);
  return Total;
}


std::int64_t StreamReceive(int Listener) {
  TTCPBlockSocket Socket;
  Socket.AdoptSocket(::accept(Listener, nullptr, nullptr));
  TDiscardStream Sink;
  Socket.ReceiveToStream(Sink, 60000);
  return Sink.Total;
}

std::int64_t BufferReceive(int Listener) {
  TTCPBlockSocket Socket;
  Socket.AdoptSocket(::accept(Listener, nullptr, nullptr));
  std::vector<char> Buffer(Piece);
  std::int64_t Total = 0;
  while (true) {
    Total += Socket.ReceiveBuffer(Buffer.data(), static_cast<std::int64_t>(Buffer.size()), 60000);
    if (Socket.LastErrorCode != 0) break;
  }
  return Total;
}

double RunOnce(const char* Name, const std::function<void(int, std::int64_t)>& Sender,
           const std::function<std::int64_t(int)>& Receiver, std::int64_t Bytes) {
  int Port = 0;
  const int Listener = PlainListener(Port);
  const auto Start = std::chrono::steady_clock::now();
  std::thread Send([&] { Sender(Port, Bytes); });
  const std::int64_t Got = Receiver(Listener);
  Send.join();
  const double Seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - Start).count();
  ::close(Listener);
  const double Rate = static_cast<double>(Got) / 1e6 / Seconds;
  if (Got != Bytes) std::printf("%s: INCOMPLETE, %lld bytes\n", Name, static_cast<long long>(Got));
  return Rate;
}

struct TCase {
  const char* Name;
  std::function<void(int, std::int64_t)> Sender;
  std::function<std::int64_t(int)> Receiver;
  double Best = 0;
};

}  // namespace

int main(int argc, char** argv) {
  const std::int64_t MiB = argc > 1 ? std::atoll(argv[1]) : 2048;
  const int Rounds = argc > 2 ? std::atoi(argv[2]) : 3;
  const std::int64_t Bytes = MiB * 1024 * 1024;
  const TSocketInterfaceGuard Interface;
  std::vector<TCase> Cases = {
      {"plain send/recv, 64 KiB", PlainSend, PlainReceive},
      {"SendBuffer -> ReceiveToStream", BlockSend, StreamReceive},
      {"SendBuffer -> ReceiveBuffer 64 KiB", BlockSend, BufferReceive},
      {"socat -> plain recv, 64 KiB", SocatSend, PlainReceive},
      {"socat -> ReceiveToStream", SocatSend, StreamReceive},
  };
  std::printf("loopback, %lld MiB per case, best of %d rounds\n", static_cast<long long>(MiB), Rounds);
  for (int Round = 0; Round < Rounds; ++Round) {
    for (TCase& Case : Cases) Case.Best = std::max(Case.Best, RunOnce(Case.Name, Case.Sender, Case.Receiver, Bytes));
  }
  for (const TCase& Case : Cases) std::printf("%-40s %8.1f MB/s\n", Case.Name, Case.Best);
  std::printf("ratio ReceiveToStream / plain:        %.2f\n", Cases[1].Best / Cases[0].Best);
  std::printf("ratio ReceiveBuffer / plain:          %.2f\n", Cases[2].Best / Cases[0].Best);
  std::printf("ratio (socat sender) stream / plain:  %.2f\n", Cases[4].Best / Cases[3].Best);
  return 0;
}

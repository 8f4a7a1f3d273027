// The block socket against loopback peers: a scripted peer thread that
// misbehaves on demand (slow, silent, endless, resetting), a listener of
// the socket's own, and socat for an echo. Covers connect and its status
// reports, the error codes of the common failures, line reading in every
// line-end form, time-outs that keep what arrived, throttling and the
// deferred options.
#include "net/blocksock.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/systime.h"
#include "support/sockpeer.h"
#include "support/testsupport.h"
#include "util/streams.h"

namespace {

using testsupport::PeerClose;
using testsupport::PeerPause;
using testsupport::PeerReadAll;
using testsupport::PeerReadSome;
using testsupport::PeerReset;
using testsupport::PeerSend;
using testsupport::PeerSendMany;
using testsupport::TScriptedPeer;

// Long enough never to expire on a slow CI machine where data is expected.
constexpr std::int32_t Patient = 10000;

struct TStatusLog {
  std::vector<std::string> Lines;
  void Attach(TBlockSocket& Socket) {
    Socket.OnStatus = [this](TBlockSocket*, THookSocketReason Reason, const std::string& Value) {
      if (Reason == HS_BytesRead || Reason == HS_BytesWritten || Reason == HS_Readable) return;
      Lines.push_back(std::to_string(static_cast<int>(Reason)) + " " + Value);
    };
  }
};

void ConnectTo(TTCPBlockSocket& Socket, const TScriptedPeer& Peer, const std::string& Host = "127.0.0.1") {
  Socket.Connect(Host, Peer.PortText());
  ASSERT_EQ(Socket.LastErrorCode, 0) << Socket.LastErrorText;
}

// --- Connecting and its failures ---------------------------------------------

TEST(BlockSockConnect, StatusSequenceOfAConnectAndOfAFailedOne) {
  TScriptedPeer Peer({PeerClose()});
  TStatusLog Log;  // outlives the socket, which reports its close
  TTCPBlockSocket Socket;
  Log.Attach(Socket);
  Socket.Bind("0.0.0.0", "0");  // defers creation: nothing reported
  Socket.Connect("127.0.0.1", Peer.PortText());
  const std::string Where = "127.0.0.1:" + Peer.PortText();
  EXPECT_EQ(Log.Lines, (std::vector<std::string>{"0 " + Where, "1 " + Where, "2 IPv4", "5 " + Where}));
  EXPECT_EQ(Socket.RemotePort(), Peer.Port());
  EXPECT_EQ(Socket.RemoteAddress(), "127.0.0.1");
  EXPECT_EQ(Socket.LocalAddress(), "127.0.0.1");
  EXPECT_NE(Socket.LocalPort(), 0);
  Socket.CloseSocket();

  Log.Lines.clear();
  TTCPBlockSocket Failing;  // destroyed before Log
  Log.Attach(Failing);
  Failing.Connect("no-such-host.invalid", "80");
  EXPECT_EQ(Failing.LastErrorCode, 11001);
  EXPECT_EQ(Failing.SocketHandle, INVALID_SOCKET);
  EXPECT_EQ(Log.Lines, (std::vector<std::string>{"0 no-such-host.invalid:80", "1 no-such-host.invalid:80",
                                                 "13 11001,Host not found", "5 no-such-host.invalid:80"}));
}

TEST(BlockSockConnect, ClosedPortIsRefused) {
  TTCPBlockSocket Socket;
  Socket.Connect("127.0.0.1", std::to_string(testsupport::FreePort()));
  EXPECT_EQ(Socket.LastErrorCode, 10061);
  EXPECT_EQ(Socket.LastErrorText, "Connection refused");
}

TEST(BlockSockConnect, PeerDroppingTheSynsTimesOutWithinConnectTimeout) {
  // A listener whose accept queue is full: the system drops further SYNs.
  TTCPBlockSocket Listener, Filler;
  Listener.Bind("127.0.0.1", "0");
  ASSERT_EQ(::listen(Listener.SocketHandle, 0), 0);
  const std::string Port = std::to_string(Listener.LocalPort());
  Filler.Connect("127.0.0.1", Port);
  for (const bool Tunnel : {false, true}) {
    TTCPBlockSocket Socket;
    Socket.ConnectTimeout = 300;
    Socket.HTTPTunnelIP = Tunnel ? "127.0.0.1" : "";
    Socket.HTTPTunnelPort = Port;
    const auto Start = std::chrono::steady_clock::now();
    Socket.Connect(Tunnel ? "elsewhere" : "127.0.0.1", Port);
    EXPECT_EQ(Socket.LastErrorCode, 10060) << Tunnel;
    EXPECT_LT(std::chrono::steady_clock::now() - Start, std::chrono::seconds(5));
  }
}

TEST(BlockSockConnect, PortBeyond16BitsIsRejectedBeforeConnecting) {
  TScriptedPeer Peer({PeerClose()});
  TTCPBlockSocket Socket;
  // The port plus 65536 would reach the peer if it were cut to 16 bits.
  Socket.Connect("127.0.0.1", std::to_string(Peer.Port() + 65536));
  EXPECT_NE(Socket.LastErrorCode, 0);
  EXPECT_EQ(Socket.SocketHandle, INVALID_SOCKET);
  Socket.Connect("127.0.0.1", Peer.PortText());  // let the peer finish
}

TEST(BlockSockConnect, IPv6OnLoopback) {
  TScriptedPeer Peer({PeerSend("six\r\n"), PeerClose()}, "::1");
  TStatusLog Log;  // outlives the socket, which reports its close
  TTCPBlockSocket Socket;
  Log.Attach(Socket);
  ConnectTo(Socket, Peer, "::1");
  EXPECT_TRUE(Socket.UsesIPv6);
  EXPECT_EQ(Log.Lines.at(2), "2 IPv6");
  EXPECT_EQ(Socket.RemoteAddress(), "::1");
  EXPECT_EQ(Socket.ReceiveLine(Patient), "six");
}

TEST(BlockSockConnect, RaiseExceptRaisesTheFormattedError) {
  TTCPBlockSocket Socket;
  Socket.RaiseExcept = true;
  try {
    Socket.Connect("127.0.0.1", std::to_string(testsupport::FreePort()));
    FAIL() << "no exception";
  } catch (const ESocketError& Error) {
    EXPECT_EQ(Error.ErrorCode, 10061);
    EXPECT_EQ(Error.ErrorMessage, "Connection refused");
    EXPECT_STREQ(Error.what(), "TCP/IP Socket error 10061: Connection refused");
  }
  // Would-block never counts as a failure.
  Socket.LastErrorCode = 10035;
  EXPECT_NO_THROW(Socket.CheckError());
}

// --- Listening, accepting, adopting --------------------------------------------

TEST(BlockSockListen, ListenAcceptAdoptAndTalk) {
  TTCPBlockSocket Listener;
  Listener.Bind("127.0.0.1", "0");
  ASSERT_EQ(Listener.LastErrorCode, 0);
  Listener.SetLinger(true, 10);
  Listener.Listen();
  ASSERT_EQ(Listener.LastErrorCode, 0);
  const int Port = Listener.LocalPort();
  ASSERT_GT(Port, 0);
  std::thread Client([Port] {
    TTCPBlockSocket Socket;
    Socket.Connect("127.0.0.1", std::to_string(Port));
    Socket.SendText("hello\r\n");
    Socket.CloseSocket();
  });
  ASSERT_TRUE(Listener.WaitReadable(Patient));
  const TSocket Accepted = Listener.Accept();
  ASSERT_NE(Accepted, INVALID_SOCKET);
  Listener.CloseSocket();
  TTCPBlockSocket Data;
  EXPECT_FALSE(Data.AdoptSocket(Accepted));
  EXPECT_EQ(Data.ReceiveLine(Patient), "hello");
  Data.ReceivePacket(Patient);
  EXPECT_EQ(Data.LastErrorCode, 10054);
  Client.join();
}

TEST(BlockSockListen, LingerKeepsUnsentDataOnClose) {
  // Linger on at 0 seconds resets on close; the close must still deliver
  // everything sent before it.
  TScriptedPeer Peer({PeerPause(300), PeerReadAll()});
  TTCPBlockSocket Socket;
  Socket.SetLinger(true, 10);
  ConnectTo(Socket, Peer);
  const std::string Data(8 * 1024 * 1024, 'd');
  std::thread Sender([&] { Socket.SendText(Data); });
  Sender.join();
  Socket.CloseSocket();
  EXPECT_EQ(Peer.Received().size(), Data.size());
}

// --- Receiving lines ----------------------------------------------------------

TEST(BlockSockLines, SeveralLinesInOnePacketAreServedFromTheBuffer) {
  TScriptedPeer Peer({PeerSend("abc\r\ndef\r\n"), PeerPause(200), PeerClose()});
  TTCPBlockSocket Socket;
  ConnectTo(Socket, Peer);
  // Wait until both lines are there, so that one read takes both.
  ASSERT_TRUE(Socket.WaitReadable(Patient));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(Socket.ReceiveLine(Patient), "abc");
  EXPECT_EQ(Socket.PendingInput, "def\r\n");
  static int Reads = 0;
  Socket.OnStatus = [](TBlockSocket*, THookSocketReason Reason, const std::string&) {
    if (Reason == HS_BytesRead) ++Reads;
  };
  EXPECT_EQ(Socket.ReceiveLine(Patient), "def");
  EXPECT_EQ(Reads, 0);
}

TEST(BlockSockLines, LineSplitAcrossPackets) {
  TScriptedPeer Peer({PeerSend("ab"), PeerPause(50), PeerSend("c\r"), PeerPause(50), PeerSend("\nnext\r\n"),
                      PeerClose()});
  TTCPBlockSocket Socket;
  ConnectTo(Socket, Peer);
  EXPECT_EQ(Socket.ReceiveLine(Patient), "abc");
  EXPECT_EQ(Socket.ReceiveLine(Patient), "next");
  EXPECT_EQ(Socket.ReceiveLine(Patient), "");
  EXPECT_EQ(Socket.LastErrorCode, 10054);
}

TEST(BlockSockLines, ConvertLineEndAcceptsEveryForm) {
  TScriptedPeer Peer({PeerSend("one\ntwo\rthree\n\rfour\r\nfive\r"), PeerPause(100), PeerSend("\nsix\n"),
                      PeerClose()});
  TTCPBlockSocket Socket;
  Socket.ConvertLineEnd = true;
  ConnectTo(Socket, Peer);
  std::vector<std::string> Lines;
  for (int i = 0; i < 6; ++i) Lines.push_back(Socket.ReceiveLine(Patient));
  EXPECT_EQ(Lines, (std::vector<std::string>{"one", "two", "three", "four", "five", "six"}));
  EXPECT_EQ(Socket.LastErrorCode, 0);
}

TEST(BlockSockLines, CarriedCrDropsTheLeadingLfOfTheNextRead) {
  TScriptedPeer Peer({PeerSend("abc\r"), PeerPause(300), PeerSend("\ndef\r\n"), PeerClose()});
  TTCPBlockSocket Socket;
  Socket.ConvertLineEnd = true;
  ConnectTo(Socket, Peer);
  EXPECT_EQ(Socket.ReceiveLine(Patient), "abc");
  EXPECT_TRUE(Socket.EndedOnCR);
  EXPECT_EQ(Socket.ReceiveLine(Patient), "def");  // not an empty line
}

TEST(BlockSockLines, CarriedLfDropsTheLeadingCrOfTheNextRead) {
  TScriptedPeer Peer({PeerSend("abc\n"), PeerPause(300), PeerSend("\rdef\n"), PeerClose()});
  TTCPBlockSocket Socket;
  Socket.ConvertLineEnd = true;
  ConnectTo(Socket, Peer);
  EXPECT_EQ(Socket.ReceiveLine(Patient), "abc");
  EXPECT_TRUE(Socket.EndedOnLF);
  EXPECT_EQ(Socket.ReceiveLine(Patient), "def");
}

TEST(BlockSockLines, WithoutConversionLfAloneTimesOutAndKeepsTheData) {
  TScriptedPeer Peer({PeerSend("abc\n"), PeerPause(1500), PeerSend("def\r\n"), PeerClose()});
  TTCPBlockSocket Socket;
  ConnectTo(Socket, Peer);
  EXPECT_EQ(Socket.ReceiveLine(300), "");
  EXPECT_EQ(Socket.LastErrorCode, 10060);
  EXPECT_EQ(Socket.PendingInput, "abc\n");
  // Nothing received is lost: the rest joins what was kept.
  EXPECT_EQ(Socket.ReceiveLine(Patient), "abc\ndef");
}

TEST(BlockSockLines, PeerClosingMidLineGives10054) {
  TScriptedPeer Peer({PeerSend("abc"), PeerClose()});
  TTCPBlockSocket Socket;
  ConnectTo(Socket, Peer);
  EXPECT_EQ(Socket.ReceiveLine(Patient), "");
  EXPECT_EQ(Socket.LastErrorCode, 10054);
  EXPECT_EQ(Socket.PendingInput, "abc");
}

TEST(BlockSockLines, CustomTerminatorAcrossPackets) {
  TScriptedPeer Peer({PeerSend("key=va"), PeerPause(50), PeerSend("lue;;rest"), PeerClose()});
  TTCPBlockSocket Socket;
  ConnectTo(Socket, Peer);
  EXPECT_EQ(Socket.ReceiveUntil(Patient, ";;"), "key=value");
  EXPECT_EQ(Socket.PendingInput, "rest");
  EXPECT_EQ(Socket.ReceiveUntil(Patient, ""), "");
  EXPECT_EQ(Socket.PendingInput, "rest");
}

TEST(BlockSockLines, ManyBufferedLinesComeOutInOrder) {
  std::string Text;
  for (int i = 0; i < 50000; ++i) Text += "line " + std::to_string(i) + "\r\n";
  TScriptedPeer Peer({PeerSend(Text), PeerClose()});
  TTCPBlockSocket Socket;
  ConnectTo(Socket, Peer);
  for (int i = 0; i < 50000; ++i) {
    const std::string Line = Socket.ReceiveLine(Patient);
    ASSERT_EQ(Line, "line " + std::to_string(i)) << Socket.LastErrorCode;
  }
  Socket.ReceiveLine(Patient);
  EXPECT_EQ(Socket.LastErrorCode, 10054);
}

TEST(BlockSockLines, MaxLineLengthGives10055AndKeepsTheData) {
  TScriptedPeer Peer({PeerSend("short\r\n0123456789abcdef"), PeerPause(200), PeerClose()});
  TTCPBlockSocket Socket;
  Socket.MaxLineLength = 10;
  ConnectTo(Socket, Peer);
  ASSERT_TRUE(Socket.WaitReadable(Patient));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  // A short line is not failed for what is buffered behind it.
  EXPECT_EQ(Socket.ReceiveLine(Patient), "short");
  EXPECT_EQ(Socket.ReceiveLine(Patient), "");
  EXPECT_EQ(Socket.LastErrorCode, 10055);
  EXPECT_EQ(Socket.LastErrorText, "No Buffer space available");
  EXPECT_EQ(Socket.PendingInput, "0123456789abcdef");
}

TEST(BlockSockLines, EndlessLineStopsAtTheLimit) {
  TScriptedPeer Peer({PeerSendMany(100LL * 1024 * 1024)});
  TTCPBlockSocket Socket;
  Socket.MaxLineLength = 1024 * 1024;
  ConnectTo(Socket, Peer);
  EXPECT_EQ(Socket.ReceiveLine(Patient), "");
  EXPECT_EQ(Socket.LastErrorCode, 10055);
  EXPECT_LT(Socket.PendingInput.size(), 64u * 1024 * 1024);
  Socket.CloseSocket();
}

TEST(BlockSockLines, EndlessLineStopsEvenWithoutALimitSet) {
  TScriptedPeer Peer({PeerSendMany(100LL * 1024 * 1024)});
  TTCPBlockSocket Socket;
  ConnectTo(Socket, Peer);
  EXPECT_EQ(Socket.ReceiveLine(Patient), "");
  EXPECT_EQ(Socket.LastErrorCode, 10055);
  EXPECT_LT(Socket.PendingInput.size(), 64u * 1024 * 1024);
  Socket.CloseSocket();
}

// --- Packets, buffers, time-outs -------------------------------------------------

TEST(BlockSockReceive, SilenceGives10060WithinTheTimeout) {
  TScriptedPeer Peer({PeerPause(1500), PeerClose()});
  TTCPBlockSocket Socket;
  ConnectTo(Socket, Peer);
  EXPECT_EQ(Socket.ReceivePacket(200), "");
  EXPECT_EQ(Socket.LastErrorCode, 10060);
  EXPECT_FALSE(Socket.WaitReadable(10));
  EXPECT_EQ(Socket.LastErrorCode, 0);  // a plain wait that ends is no error
}

TEST(BlockSockReceive, PeerResetGives10054) {
  TScriptedPeer Peer({PeerReset()});
  TTCPBlockSocket Socket;
  ConnectTo(Socket, Peer);
  EXPECT_EQ(Socket.ReceivePacket(Patient), "");
  EXPECT_EQ(Socket.LastErrorCode, 10054);
}

TEST(BlockSockReceive, ReceiveBufferCollectsAndKeepsTheRest) {
  TScriptedPeer Peer({PeerSend("0123"), PeerPause(50), PeerSend("456789"), PeerClose()});
  TTCPBlockSocket Socket;
  ConnectTo(Socket, Peer);
  char Buffer[7] = {};
  EXPECT_EQ(Socket.ReceiveBuffer(Buffer, 7, Patient), 7);
  EXPECT_EQ(std::string(Buffer, 7), "0123456");
  EXPECT_EQ(Socket.ReceiveExact(3, Patient), "789");
  EXPECT_EQ(Socket.ReceiveExact(0, Patient), "");
  EXPECT_EQ(Socket.ReceiveExact(1, Patient), "");
  EXPECT_EQ(Socket.LastErrorCode, 10054);
}

TEST(BlockSockReceive, WholeOperationBudgetWithoutInterPacketTimeout) {
  // A slow but steady sender: each wait succeeds, the whole takes longer.
  TScriptedPeer Peer({PeerSend("a"), PeerPause(300), PeerSend("b"), PeerPause(300), PeerSend("c"),
                      PeerPause(300), PeerSend("d"), PeerPause(1000), PeerClose()});
  TTCPBlockSocket Socket;
  Socket.InterPacketTimeout = false;
  ConnectTo(Socket, Peer);
  char Buffer[8] = {};
  const std::int64_t Stored = Socket.ReceiveBuffer(Buffer, 8, 500);
  EXPECT_EQ(Socket.LastErrorCode, 10060);
  EXPECT_GE(Stored, 1);
  EXPECT_LT(Stored, 4);
}

TEST(BlockSockReceive, IntegersBlocksAndBytes) {
  TScriptedPeer Peer({PeerSend(std::string("\x03\x00\x00\x00xyz\xFF\xFF\xFF\x7F\x00\x00\x00\x02", 15)),
                      PeerSend("Q"), PeerClose()});
  TTCPBlockSocket Socket;
  ConnectTo(Socket, Peer);
  EXPECT_EQ(Socket.ReceiveBlock(Patient), "xyz");
  EXPECT_EQ(Socket.ReceiveBlock(Patient), "");  // 2 GiB announced: refused
  EXPECT_EQ(Socket.LastErrorCode, 10055);
  TMemoryStream Stream;
  Socket.ReceiveSizedStreamNetOrder(Stream, Patient);
  EXPECT_EQ(Stream.Size(), 0);
  EXPECT_EQ(Socket.LastErrorCode, 10054);  // announced 2, only 1 came
}

TEST(BlockSockReceive, StopFlagAbortsTheNextRawReadWith10053) {
  TScriptedPeer Peer({PeerSend("data"), PeerPause(200), PeerClose()});
  TTCPBlockSocket Socket;
  ConnectTo(Socket, Peer);
  Socket.StopFlag = true;
  EXPECT_EQ(Socket.ReceivePacket(Patient), "");
  EXPECT_EQ(Socket.LastErrorCode, 10053);
  EXPECT_FALSE(Socket.StopFlag);
  EXPECT_EQ(Socket.ReceivePacket(Patient), "data");
  Socket.StopFlag = true;
  EXPECT_EQ(Socket.SendBuffer("x", 1), 0);
  EXPECT_EQ(Socket.LastErrorCode, 10053);
}

TEST(BlockSockReceive, ReadFilterMayShortenButNeverLengthen) {
  TScriptedPeer Peer({PeerSend("abcdef\r\n"), PeerClose()});
  TTCPBlockSocket Socket;
  Socket.OnReadFilter = [](TBlockSocket*, std::string& Value) { Value = "XY" + Value + "ZZZZ"; };
  ConnectTo(Socket, Peer);
  EXPECT_EQ(Socket.ReceivePacket(Patient), "XYabcdef");
}

// --- Streams -------------------------------------------------------------------

TEST(BlockSockStreams, SizedReceiveInPiecesAndTheRestKept) {
  std::string Body(100000, '\0');
  for (std::size_t i = 0; i < Body.size(); ++i) Body[i] = static_cast<char>(i * 7);
  TScriptedPeer Peer({PeerSend(Body + "tail"), PeerClose()});
  TTCPBlockSocket Socket;
  ConnectTo(Socket, Peer);
  std::vector<std::int64_t> Pieces;
  TMemoryStream Stream;
  Socket.ReceiveToStream(Stream, Patient, 100000);
  EXPECT_EQ(Socket.LastErrorCode, 0);
  EXPECT_EQ(Stream.Data(), Body);
  EXPECT_EQ(Socket.ReceivePacket(Patient), "tail");
}

TEST(BlockSockStreams, SizedReceiveStopsAtTheFirstFailedPiece) {
  TScriptedPeer Peer({PeerSend(std::string(70000, 'a')), PeerClose()});
  TTCPBlockSocket Socket;
  ConnectTo(Socket, Peer);
  TMemoryStream Stream;
  Socket.ReceiveToStream(Stream, Patient, 100000);
  EXPECT_EQ(Socket.LastErrorCode, 10054);
  EXPECT_EQ(Stream.Size(), 65535);  // the failed piece is not written
}

TEST(BlockSockStreams, RoundTripThroughSocatEcho) {
  if (!testsupport::HaveProgram("socat")) GTEST_SKIP() << "socat missing";
  const int Port = testsupport::FreePort();
  testsupport::BackgroundProcess Echo;
  ASSERT_TRUE(Echo.Start({"socat", "TCP-LISTEN:" + std::to_string(Port) + ",bind=127.0.0.1,reuseaddr,fork", "PIPE"}));
  ASSERT_TRUE(testsupport::WaitForPort(Port));
  std::string Data(3 * 1024 * 1024 + 17, '\0');
  for (std::size_t i = 0; i < Data.size(); ++i) Data[i] = static_cast<char>((i * 31) ^ (i >> 9));
  TTCPBlockSocket Socket;
  Socket.SendMaxChunk = 10000;
  Socket.Connect("127.0.0.1", std::to_string(Port));
  ASSERT_EQ(Socket.LastErrorCode, 0);
  TMemoryStream Source;
  Source.Data() = Data;
  TMemoryStream Echoed;
  std::thread Sender([&] {
    Socket.SendStream(Source);
    ::shutdown(Socket.SocketHandle, SHUT_WR);
  });
  Socket.ReceiveToStream(Echoed, Patient);
  Sender.join();
  EXPECT_EQ(Socket.LastErrorCode, 10054);
  EXPECT_EQ(Echoed.Data().size(), Data.size());
  EXPECT_TRUE(Echoed.Data() == Data);
}

TEST(BlockSockStreams, HttpBodyFromNginxBySize) {
  if (!testsupport::HaveProgram("nginx")) GTEST_SKIP() << "nginx missing";
  testsupport::TempDir Dir;
  const int Port = testsupport::FreePort();
  std::string Body(1234567, '\0');
  for (std::size_t i = 0; i < Body.size(); ++i) Body[i] = static_cast<char>(i % 251);
  testsupport::WriteFile(Dir / "body.bin", Body);
  testsupport::WriteFile(Dir / "nginx.conf",
                         "daemon off; pid " + (Dir / "nginx.pid") + "; error_log " + (Dir / "error.log") +
                             ";\nevents {}\nhttp { access_log off; client_body_temp_path " + Dir.Path() +
                             "; proxy_temp_path " + Dir.Path() + "; fastcgi_temp_path " + Dir.Path() +
                             "; uwsgi_temp_path " + Dir.Path() + "; scgi_temp_path " + Dir.Path() +
                             ";\n server { listen 127.0.0.1:" + std::to_string(Port) + "; root " + Dir.Path() +
                             "; } }\n");
  testsupport::BackgroundProcess Server;
  ASSERT_TRUE(Server.Start({"nginx", "-c", Dir / "nginx.conf", "-p", Dir.Path()}));
  ASSERT_TRUE(testsupport::WaitForPort(Port));
  TTCPBlockSocket Socket;
  Socket.ConvertLineEnd = true;
  Socket.Connect("127.0.0.1", std::to_string(Port));
  ASSERT_EQ(Socket.LastErrorCode, 0);
  Socket.SendText("GET /body.bin HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
  std::int64_t Length = -1;
  for (std::string Line = Socket.ReceiveLine(Patient); !Line.empty(); Line = Socket.ReceiveLine(Patient)) {
    if (Line.rfind("Content-Length: ", 0) == 0) Length = std::stoll(Line.substr(16));
  }
  ASSERT_EQ(Length, static_cast<std::int64_t>(Body.size()));
  TMemoryStream Stream;
  Socket.ReceiveToStream(Stream, Patient, Length);
  EXPECT_EQ(Socket.LastErrorCode, 0);
  EXPECT_TRUE(Stream.Data() == Body);
}

// --- Sending -------------------------------------------------------------------

TEST(BlockSockSend, ChunksWriteFilterAndTheIntegerForms) {
  TScriptedPeer Peer({PeerReadAll()});
  TTCPBlockSocket Socket;
  Socket.SendMaxChunk = 3;
  ConnectTo(Socket, Peer);
  static std::vector<std::string> Written;
  Socket.OnStatus = [](TBlockSocket*, THookSocketReason Reason, const std::string& Value) {
    if (Reason == HS_BytesWritten) Written.push_back(Value);
  };
  EXPECT_EQ(Socket.SendBuffer("abcdefg", 7), 7);
  EXPECT_EQ(Written, (std::vector<std::string>{"3", "3", "1"}));
  Socket.SendInteger(0x01020304);
  Socket.SendBlock("hi");
  Socket.SendByte('!');
  Socket.OnWriteFilter = [](TBlockSocket*, std::string& Value) { Value = Value.substr(0, 2) + "longer"; };
  EXPECT_EQ(Socket.SendBuffer("UVWXYZ", 6), 6);
  Socket.OnWriteFilter = nullptr;
  TMemoryStream Stream;
  Stream.Data() = "0123456789";
  Stream.SetPosition(6);
  Socket.SendSizedStream(Stream);
  Socket.CloseSocket();
  EXPECT_EQ(Peer.Received(), std::string("abcdefg\x04\x03\x02\x01\x02\x00\x00\x00hi!UVlong\x04\x00\x00\x00" "6789", 32));
}

TEST(BlockSockSend, SendAfterOwnShutdownGives10058) {
  TScriptedPeer Peer({PeerReadAll()});
  TTCPBlockSocket Socket;
  ConnectTo(Socket, Peer);
  ::shutdown(Socket.SocketHandle, SHUT_WR);
  Socket.SendText("late");
  EXPECT_EQ(Socket.LastErrorCode, 10058);
}

TEST(BlockSockSend, SendToAResetPeerFailsWithoutKillingTheProcess) {
  TScriptedPeer Peer({PeerReset()});
  TTCPBlockSocket Socket;
  ConnectTo(Socket, Peer);
  Peer.Received();  // the peer has reset
  const std::string Data(1024 * 1024, 'z');
  std::int32_t Code = 0;
  for (int i = 0; i < 20 && Code == 0; ++i) {
    Socket.SendText(Data);
    Code = Socket.LastErrorCode;
  }
  EXPECT_TRUE(Code == 10054 || Code == 10058) << Code;
}

TEST(BlockSockSend, ThrottleSpacesTheSendsByTheLimit) {
  TScriptedPeer Peer({PeerReadAll()});
  TTCPBlockSocket Socket;
  ConnectTo(Socket, Peer);
  Socket.MaxSendBandwidth = 10000;  // 2000 bytes take 200 ms
  static std::vector<std::string> Throttled;
  Socket.OnStatus = [](TBlockSocket*, THookSocketReason Reason, const std::string& Value) {
    if (Reason == HS_Throttled) Throttled.push_back(Value);
  };
  const std::string Piece(2000, 'p');
  const auto Start = std::chrono::steady_clock::now();
  for (int i = 0; i < 4; ++i) Socket.SendText(Piece);
  const auto Elapsed =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - Start).count();
  // Three waits of up to 200 ms each; loose bounds by ratio to the ideal 600.
  EXPECT_EQ(Throttled.size(), 3u);
  EXPECT_GE(Elapsed, 600 / 2);
  EXPECT_LE(Elapsed, 600 * 10);
}

TEST(BlockSockSend, StaleOrWrappedLimiterStateDoesNotStall) {
  TScriptedPeer Peer({PeerReadAll()});
  TTCPBlockSocket Socket;
  ConnectTo(Socket, Peer);
  Socket.MaxSendBandwidth = 1000000;
  // A reservation far beyond anything one piece can make (as after the
  // tick wrapped under an old value) is not waited for.
  Socket.NextSendTime = GetTick() + 0x7FFF0000u;
  const auto Start = std::chrono::steady_clock::now();
  Socket.SendText("quick");
  EXPECT_LT(std::chrono::steady_clock::now() - Start, std::chrono::seconds(5));
  EXPECT_EQ(Socket.LastErrorCode, 0);
}

// --- Ticks, options, family ------------------------------------------------------

TEST(BlockSockTicks, ElapsedAcrossTheWrap) {
  EXPECT_EQ(ElapsedTicks(100, 100), 0u);
  EXPECT_EQ(ElapsedTicks(100, 350), 250u);
  EXPECT_EQ(ElapsedTicks(4294967040u, 256), 512u);
  EXPECT_EQ(ElapsedTicks(0xFFFFFFFFu, 0), 1u);
  EXPECT_EQ(ElapsedTicks(0x80000000u, 0), 0x80000000u);
  // A small step back is taken as its size.
  EXPECT_EQ(ElapsedTicks(1000, 900), 100u);
}

TEST(BlockSockOptions, DeferredOptionsGoToTheFirstSocketOnly) {
  TScriptedPeer First({PeerClose()});
  TScriptedPeer Second({PeerClose()});
  TTCPBlockSocket Socket;
  Socket.SetReceiveBufferSize(4096);
  Socket.SetLinger(true, 1999);
  EXPECT_EQ(Socket.DeferredOptions.size(), 2u);
  ConnectTo(Socket, First);
  EXPECT_TRUE(Socket.DeferredOptions.empty());
  int Size = 0;
  socklen_t Length = sizeof(Size);
  ::getsockopt(Socket.SocketHandle, SOL_SOCKET, SO_RCVBUF, &Size, &Length);
  const int Applied = Size;
  linger Value{};
  Length = sizeof(Value);
  ::getsockopt(Socket.SocketHandle, SOL_SOCKET, SO_LINGER, &Value, &Length);
  EXPECT_EQ(Value.l_onoff, 1);
  EXPECT_EQ(Value.l_linger, 1);  // 1999 ms round down to 1 s
  Socket.CloseSocket();
  ConnectTo(Socket, Second);
  Length = sizeof(Size);
  ::getsockopt(Socket.SocketHandle, SOL_SOCKET, SO_RCVBUF, &Size, &Length);
  EXPECT_NE(Size, Applied);
  Length = sizeof(Value);
  ::getsockopt(Socket.SocketHandle, SOL_SOCKET, SO_LINGER, &Value, &Length);
  EXPECT_EQ(Value.l_onoff, 0);
}

TEST(BlockSockOptions, OptionsOnAnOpenSocketApplyAtOnceAndAbortDiscards) {
  TScriptedPeer Peer({PeerClose()});
  TTCPBlockSocket Socket;
  ConnectTo(Socket, Peer);
  Socket.SetLinger(true, 999);
  EXPECT_TRUE(Socket.DeferredOptions.empty());
  linger Value{};
  socklen_t Length = sizeof(Value);
  ::getsockopt(Socket.SocketHandle, SOL_SOCKET, SO_LINGER, &Value, &Length);
  EXPECT_EQ(Value.l_onoff, 1);
  EXPECT_EQ(Value.l_linger, 0);
  Socket.CloseSocket();
  Socket.SetSendBufferSize(8192);
  Socket.AbortSocket();
  EXPECT_TRUE(Socket.DeferredOptions.empty());
}

TEST(BlockSockOptions, FamilyReturnsToTheWrittenValueAtClose) {
  TScriptedPeer Peer({PeerClose()});
  TTCPBlockSocket Socket;
  Socket.SetFamily(SF_IP4);
  Socket.Family = SF_IP6;  // a temporary choice for one connection
  Socket.CloseSocket();
  EXPECT_EQ(Socket.Family, SF_IP4);
  Socket.SetMaxBandwidth(77);
  EXPECT_EQ(Socket.MaxSendBandwidth, 77);
  EXPECT_EQ(Socket.MaxRecvBandwidth, 77);
  ConnectTo(Socket, Peer);
}

TEST(BlockSockOptions, FamilyRulesOfCreation) {
  TScriptedPeer Four({PeerClose()});
  TScriptedPeer Six({PeerClose()}, "::1");
  TTCPBlockSocket Socket;
  Socket.SetFamily(SF_IP6);
  // The IPv4 loopback text means "loopback" of the wanted family.
  Socket.Connect("127.0.0.1", Six.PortText());
  EXPECT_EQ(Socket.LastErrorCode, 0);
  EXPECT_TRUE(Socket.UsesIPv6);
  Socket.CloseSocket();
  Socket.SetFamily(SF_Any);
  Socket.Connect("127.0.0.1", Four.PortText());
  EXPECT_EQ(Socket.LastErrorCode, 0);
  EXPECT_FALSE(Socket.UsesIPv6);
}

TEST(BlockSockOptions, BindResolvesAndReportsEvenWhenItFails) {
  TStatusLog Log;  // outlives the socket, which reports its close
  TTCPBlockSocket Socket;
  Log.Attach(Socket);
  Socket.Bind("no-such-host.invalid", "0");
  EXPECT_EQ(Socket.LastErrorCode, 11001);
  EXPECT_EQ(Log.Lines.back(), "4 no-such-host.invalid:0");
  Socket.Bind("127.0.0.1", "0");
  EXPECT_EQ(Socket.LastErrorCode, 0);
  EXPECT_NE(Socket.LocalPort(), 0);
  EXPECT_EQ(Socket.LocalAddress(), "127.0.0.1");
}

// --- A peer that stops reading, a stream that stops taking -------------------

// A connected pair on loopback with small buffers: Sender talks to Silent,
// which never reads unless the test says so.
struct TStalledPair {
  TTCPBlockSocket Sender;
  TTCPBlockSocket Silent;
  void Open() {
    TTCPBlockSocket Listener;
    Listener.SetReceiveBufferSize(4096);  // inherited by the accepted socket
    Listener.Bind("127.0.0.1", "0");
    Listener.Listen();
    ASSERT_EQ(Listener.LastErrorCode, 0);
    Sender.SetSendBufferSize(4096);
    Sender.Connect("127.0.0.1", std::to_string(Listener.LocalPort()));
    ASSERT_EQ(Sender.LastErrorCode, 0);
    ASSERT_TRUE(Listener.WaitReadable(Patient));
    const TSocket Accepted = Listener.Accept();
    ASSERT_NE(Accepted, INVALID_SOCKET);
    Silent.AdoptSocket(Accepted);
  }
};

// Far more than the loopback buffers of both ends can hold.
const std::string& Flood() {
  static const std::string Data(16 * 1024 * 1024, 'f');
  return Data;
}

TEST(BlockSockSendTimeout, PeerThatStopsReadingEndsTheSendWith10060) {
  TStatusLog Log;  // outlives the sockets, which report on closing
  TStalledPair Pair;
  ASSERT_NO_FATAL_FAILURE(Pair.Open());
  Log.Attach(Pair.Sender);
  Pair.Sender.SendTimeout = 200;
  const std::int64_t Sent = Pair.Sender.SendBuffer(Flood().data(), static_cast<std::int64_t>(Flood().size()));
  EXPECT_EQ(Pair.Sender.LastErrorCode, 10060);
  EXPECT_GT(Sent, 0);
  EXPECT_LT(Sent, static_cast<std::int64_t>(Flood().size()));
  ASSERT_FALSE(Log.Lines.empty());
  EXPECT_EQ(Log.Lines.back(), "13 10060,Connection timed out");

  // The stream form stops at the same wall and leaves the rest unread.
  TMemoryStream Source;
  Source.Data() = Flood();
  Pair.Sender.SendStream(Source);
  EXPECT_EQ(Pair.Sender.LastErrorCode, 10060);
  EXPECT_LT(Source.Position(), Source.Size());

  Pair.Sender.SendTimeout = 0;  // no wait at all, as ReceivePacket(0)
  Pair.Sender.SendText("more");
  EXPECT_EQ(Pair.Sender.LastErrorCode, 10060);
}

TEST(BlockSockSendTimeout, SmallBuffersStillDeliverEveryByteInOrder) {
  std::string Data(3 * 1024 * 1024, '\0');
  for (std::size_t i = 0; i < Data.size(); ++i) Data[i] = static_cast<char>(i * 131 + i / 7);
  TScriptedPeer Peer({PeerReadAll()});
  TTCPBlockSocket Socket;
  Socket.SetSendBufferSize(4096);
  ConnectTo(Socket, Peer);
  EXPECT_EQ(Socket.SendBuffer(Data.data(), static_cast<std::int64_t>(Data.size())),
            static_cast<std::int64_t>(Data.size()));
  EXPECT_EQ(Socket.LastErrorCode, 0);
  Socket.CloseSocket();
  EXPECT_TRUE(Peer.Received() == Data);
}

// Takes Room bytes, then writes short: a disk that fills up.
class TFillingStream : public TMemoryStream {
 public:
  explicit TFillingStream(std::int64_t Room) : Room_(Room) {}
  std::int64_t Write(const void* Buffer, std::int64_t Count) override {
    const std::int64_t Taken = std::min(Count, Room_);
    Room_ -= Taken;
    return Taken <= 0 ? 0 : TMemoryStream::Write(Buffer, Taken);
  }

 private:
  std::int64_t Room_;
};

TEST(BlockSockStreamFull, ShortWriteEndsTheTransferWith10069NotTheNormalEnd) {
  TScriptedPeer Peer({PeerSend(std::string(200000, 'd')), PeerClose()});
  TStatusLog Log;
  TTCPBlockSocket Socket;
  ConnectTo(Socket, Peer);
  Log.Attach(Socket);
  TFillingStream Stream(1000);
  Socket.ReceiveToStream(Stream, Patient);
  EXPECT_EQ(Socket.LastErrorCode, 10069);
  EXPECT_EQ(Stream.Size(), 1000);
  ASSERT_FALSE(Log.Lines.empty());
  EXPECT_EQ(Log.Lines.back(), "13 10069,Disk quota exceeded");
}

TEST(BlockSockStreamFull, ShortWriteOfBufferedBytesAndOfSizedPieces) {
  {
    TScriptedPeer Peer({PeerSend("head\r\n" + std::string(5000, 'b')), PeerPause(50), PeerClose()});
    TTCPBlockSocket Socket;
    ConnectTo(Socket, Peer);
    ASSERT_EQ(Socket.ReceiveLine(Patient), "head");
    TFillingStream Stream(10);
    Socket.ReceiveToStream(Stream, Patient);
    EXPECT_EQ(Socket.LastErrorCode, 10069);
    EXPECT_EQ(Stream.Size(), 10);
  }
  {
    TScriptedPeer Peer({PeerSend(std::string(100000, 's')), PeerClose()});
    TTCPBlockSocket Socket;
    ConnectTo(Socket, Peer);
    TFillingStream Stream(70000);
    Socket.ReceiveToStream(Stream, Patient, 100000);
    EXPECT_EQ(Socket.LastErrorCode, 10069);
    EXPECT_EQ(Stream.Size(), 70000);
  }
}

}  // namespace

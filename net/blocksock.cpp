#include "net/blocksock.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <exception>

#include "platform/systime.h"
#include "util/textutil.h"

namespace {

// A line may not grow past this when MaxLineLength is 0, so that a peer
// sending one endless line cannot exhaust memory.
constexpr std::int64_t LineCeiling = 16 * 1024 * 1024;
// Bounds the reading of leftovers at close: a peer that never stops
// sending must not keep the close going.
constexpr int DrainPacketLimit = 256;
// How long a close with linger at 0 seconds waits for the peer to take the
// unsent data.
constexpr std::int32_t FlushWaitLimit = 10000;

std::string HostPort(const std::string& Host, const std::string& Port) { return Host + ":" + Port; }

std::int32_t LittleEndianInteger(const std::string& Bytes) {
  std::uint32_t Value = 0;
  for (int i = 3; i >= 0; --i) Value = (Value << 8) | static_cast<std::uint8_t>(Bytes[static_cast<std::size_t>(i)]);
  return static_cast<std::int32_t>(Value);
}

std::string LittleEndianBytes(std::int32_t Data) {
  const auto Value = static_cast<std::uint32_t>(Data);
  std::string Bytes(4, '\0');
  for (int i = 0; i < 4; ++i) Bytes[static_cast<std::size_t>(i)] = static_cast<char>((Value >> (8 * i)) & 0xFF);
  return Bytes;
}

// The value with its byte order swapped, so that writing it little-endian
// puts it on the wire in network order.
std::int32_t SwapBytes(std::int32_t Data) {
  return static_cast<std::int32_t>(__builtin_bswap32(static_cast<std::uint32_t>(Data)));
}

}  // namespace

// ---------------------------------------------------------------------------
// Exception and tick arithmetic

ESocketError::ESocketError(std::int32_t Code, const std::string& Text)
    : std::runtime_error("TCP/IP Socket error " + std::to_string(Code) + ": " + Text),
      ErrorCode(Code),
      ErrorMessage(Text) {}

ESocketError::ESocketError(std::int32_t Code, const std::string& Message, const std::string& Text)
    : std::runtime_error(Message), ErrorCode(Code), ErrorMessage(Text) {}

std::uint32_t ElapsedTicks(std::uint32_t OldTick, std::uint32_t NewTick) {
  if (OldTick == NewTick) return 0;
  if (OldTick < NewTick) return NewTick - OldTick;
  // Far apart backwards means the counter wrapped: the forward distance.
  if (OldTick - NewTick >= 0x80000000u) return NewTick - OldTick;
  return OldTick - NewTick;
}

// ---------------------------------------------------------------------------
// Life cycle

TBlockSocket::TBlockSocket() = default;

TBlockSocket::~TBlockSocket() {
  if (SocketHandle != INVALID_SOCKET) TBlockSocket::CloseSocket();
  if (AdoptOnConnect != INVALID_SOCKET) CloseSocketHandle(AdoptOnConnect);
  DeferredOptions.clear();
}

void TBlockSocket::SetMaxBandwidth(std::int32_t Value) {
  MaxSendBandwidth = Value;
  MaxRecvBandwidth = Value;
}

void TBlockSocket::SetFamily(TSocketFamily Value) {
  Family = Value;
  SavedFamily = Value;
}

bool TBlockSocket::AdoptSocket(TSocket Handle) {
  SocketHandle = Handle;
  UpdateEndpoints();
  UsesIPv6 = RemoteEndpoint.Family() == AF_INET6;
  return UsesIPv6;
}

void TBlockSocket::CloseSocket() { AbortSocket(); }

void TBlockSocket::AbortSocket() {
  if (SocketHandle != INVALID_SOCKET) CloseSocketHandle(SocketHandle);
  SocketHandle = INVALID_SOCKET;
  DeferredOptions.clear();
  Family = SavedFamily;
  LastErrorCode = 0;
  LastErrorText.clear();
  DoStatus(HS_Closed, "");
}

// ---------------------------------------------------------------------------
// Error state and status

void TBlockSocket::RecordResult(long long Result) {
  LastErrorText.clear();
  if (Result != -1) {
    LastErrorCode = 0;
    return;
  }
  LastErrorCode = LastSocketError();
  LastErrorText = GetErrorDesc(LastErrorCode);
}

void TBlockSocket::CheckError() {
  LastErrorText = GetErrorDesc(LastErrorCode);
  // Would-block and in-progress are not failures of a blocking socket.
  if (LastErrorCode == 0 || LastErrorCode == WSAEWOULDBLOCK || LastErrorCode == WSAEINPROGRESS) return;
  DoStatus(HS_Error, std::to_string(LastErrorCode) + "," + LastErrorText);
  if (RaiseExcept) throw ESocketError(LastErrorCode, LastErrorText);
}

bool TBlockSocket::CheckStopRequest() {
  if (!StopFlag) return false;
  StopFlag = false;
  LastErrorCode = WSAECONNABORTED;
  LastErrorText = GetErrorDesc(LastErrorCode);
  CheckError();
  return true;
}

void TBlockSocket::DoStatus(THookSocketReason Reason, const std::string& Value) {
  if (OnStatus) OnStatus(this, Reason, Value);
}

std::string TBlockSocket::GetErrorDesc(std::int32_t ErrorCode) { return ::GetErrorDesc(ErrorCode); }

// ---------------------------------------------------------------------------
// Resolution, creation, bind, connect

TResolveSettings TBlockSocket::ResolveSettings() {
  TResolveSettings Settings;
  Settings.Family = Family;
  Settings.PreferIP4 = PreferIP4;
  Settings.UsesIPv6 = UsesIPv6;
  Settings.HandleValid = SocketHandle != INVALID_SOCKET;
  Settings.SocketType = SocketType();
  Settings.SocketProtocol = SocketProtocol();
  return Settings;
}

void TBlockSocket::ResolveEndpoint(const std::string& Host, const std::string& Port, TSocketAddress& Address) {
  DoStatus(HS_ResolveStart, HostPort(Host, Port));
  LastErrorCode = 0;
  LastErrorCode = ::ResolveEndpoint(Host, Port, ResolveSettings(), Address);
  DoStatus(HS_ResolveEnd, HostPort(Host, Port));
}

void TBlockSocket::CreateSocketFor(const TSocketAddress& Address) {
  StopFlag = false;
  LastErrorCode = 0;
  if (SocketHandle != INVALID_SOCKET) return;
  PendingInput.clear();
  UsesIPv6 = Address.Family() == AF_INET6;
  SocketHandle = OpenSocketHandle(Address.Family(), SocketType(), SocketProtocol());
  if (SocketHandle == INVALID_SOCKET) LastErrorCode = LastSocketError();
  CheckError();
  DoStatus(HS_Created, UsesIPv6 ? "IPv6" : "IPv4");
  ApplyDeferredOptions();
  if (OnCreateSocket) OnCreateSocket(this);
}

void TBlockSocket::Bind(const std::string& Host, const std::string& Port) {
  LastErrorCode = 0;
  // The any-address on any port says nothing about the family: leave the
  // socket to be created by Connect for the destination's family.
  if (SocketHandle == INVALID_SOCKET && Family == SF_Any && Host == "0.0.0.0" && Port == "0") return;
  TSocketAddress Address;
  ResolveEndpoint(Host, Port, Address);
  if (LastErrorCode == 0) {
    if (SocketHandle == INVALID_SOCKET) CreateSocketFor(Address);
    if (LastErrorCode == 0) RecordResult(::bind(SocketHandle, &Address.Any, Address.Length()));
    LocalEndpoint.Clear();
    socklen_t Length = sizeof(LocalEndpoint);
    if (::getsockname(SocketHandle, &LocalEndpoint.Any, &Length) != 0) LocalEndpoint.Clear();
    PendingInput.clear();
  }
  CheckError();
  DoStatus(HS_Bound, HostPort(Host, Port));
}

void TBlockSocket::Connect(const std::string& Host, const std::string& Port) {
  if (AdoptOnConnect != INVALID_SOCKET) return ConnectAdopted(Host, Port);
  TSocketAddress Address;
  ResolveEndpoint(Host, Port, Address);
  if (LastErrorCode == 0) {
    if (SocketHandle == INVALID_SOCKET) CreateSocketFor(Address);
    if (LastErrorCode == 0) {
      const int Result = ConnectWithin(Address);
      RecordResult(Result);
      if (LastErrorCode == 0) UpdateEndpoints();
    }
  }
  PendingInput.clear();
  EndedOnCR = false;
  EndedOnLF = false;
  CheckError();
  DoStatus(HS_Connected, HostPort(Host, Port));
}

int TBlockSocket::ConnectWithin(const TSocketAddress& Address) {
  return ConnectSocketWithin(SocketHandle, Address, ConnectTimeout);
}

void TBlockSocket::ConnectAdopted(const std::string& Host, const std::string& Port) {
  if (SocketHandle != INVALID_SOCKET) CloseSocketHandle(SocketHandle);
  const TSocket Handle = AdoptOnConnect;
  AdoptOnConnect = INVALID_SOCKET;
  StopFlag = false;
  AdoptSocket(Handle);
  RecordResult(0);
  PendingInput.clear();
  EndedOnCR = false;
  EndedOnLF = false;
  DoStatus(HS_Connected, HostPort(Host, Port));
}

void TBlockSocket::UpdateEndpoints() {
  LocalEndpoint.Clear();
  RemoteEndpoint.Clear();
  socklen_t Length = sizeof(LocalEndpoint);
  if (::getsockname(SocketHandle, &LocalEndpoint.Any, &Length) != 0) LocalEndpoint.Clear();
  Length = sizeof(RemoteEndpoint);
  if (::getpeername(SocketHandle, &RemoteEndpoint.Any, &Length) != 0) RemoteEndpoint.Clear();
}

std::string TBlockSocket::LocalAddress() { return AddressText(LocalEndpoint); }
std::string TBlockSocket::RemoteAddress() { return AddressText(RemoteEndpoint); }
int TBlockSocket::LocalPort() { return AddressPort(LocalEndpoint); }
int TBlockSocket::RemotePort() { return AddressPort(RemoteEndpoint); }
int TBlockSocket::SocketType() { return 0; }
int TBlockSocket::SocketProtocol() { return 0; }

std::string TBlockSocket::LocalHostName() { return ::LocalHostName(); }

void TBlockSocket::ResolveNames(const std::string& Host, TStringList& Names) {
  ::ResolveNames(Host, Names, ResolveSettings());
}

std::string TBlockSocket::ResolveName(const std::string& Host) { return ::ResolveName(Host, ResolveSettings()); }

std::uint16_t TBlockSocket::ResolvePort(const std::string& Port) { return ::ResolvePort(Port, ResolveSettings()); }

// ---------------------------------------------------------------------------
// Deferred options

void TBlockSocket::SetLinger(bool Enabled, std::int32_t Milliseconds) {
  DeferOrApply(TSocketOption{SOT_Linger, Enabled, Milliseconds});
}

void TBlockSocket::SetReceiveBufferSize(std::int32_t Size) { DeferOrApply(TSocketOption{SOT_RecvBuff, true, Size}); }

void TBlockSocket::SetSendBufferSize(std::int32_t Size) { DeferOrApply(TSocketOption{SOT_SendBuff, true, Size}); }

void TBlockSocket::DeferOrApply(const TSocketOption& Option) {
  if (SocketHandle == INVALID_SOCKET) {
    DeferredOptions.push_back(Option);
    return;
  }
  ApplyOption(Option);
}

void TBlockSocket::ApplyDeferredOptions() {
  // Consumed by this socket only: a later socket starts without them.
  const std::vector<TSocketOption> Options = std::move(DeferredOptions);
  DeferredOptions.clear();
  for (const TSocketOption& Option : Options) ApplyOption(Option);
}

void TBlockSocket::ApplyOption(const TSocketOption& Option) {
  // The results are not examined: an option the system refuses is no
  // reason to fail the connection.
  if (Option.Kind == SOT_Linger) {
    SetSocketLinger(SocketHandle, Option.Enabled, std::max(0, Option.Value / 1000));
    return;
  }
  SetSocketBufferSize(SocketHandle, Option.Kind == SOT_RecvBuff, Option.Value);
}

// ---------------------------------------------------------------------------
// Throttling and filters

void TBlockSocket::ThrottleTransfer(std::int64_t Length, std::int32_t MaxBandwidth, std::uint32_t& Next) {
  if (MaxBandwidth <= 0) return;
  const double Reserve = static_cast<double>(Length) / MaxBandwidth * 1000.0;
  // The longest wait any one earlier transfer can have reserved; a Next
  // further away is stale state (or the tick wrapped under it), not a
  // reason to sleep for days.
  const double Ceiling = static_cast<double>(std::max<std::int64_t>(Length, SendMaxChunk)) / MaxBandwidth * 1000.0;
  const std::uint32_t Now = GetTick();
  const std::uint32_t Ahead = Next - Now;  // modulo 2^32
  if (Ahead != 0 && Ahead < 0x80000000u && static_cast<double>(Ahead) <= Ceiling + 1.0) {
    DoStatus(HS_Throttled, std::to_string(Ahead));
    SleepMilliseconds(static_cast<int>(Ahead));
  }
  const double Capped = std::min(Reserve, static_cast<double>(0x7FFFFFFF));
  Next = GetTick() + static_cast<std::uint32_t>(static_cast<std::int64_t>(Capped));
}

std::int64_t TBlockSocket::FilterReceived(void* Buffer, std::int64_t Count) {
  if (!OnReadFilter || Count <= 0) return Count;
  std::string Data(static_cast<const char*>(Buffer), static_cast<std::size_t>(Count));
  OnReadFilter(this, Data);
  // A filter may shorten the data, never lengthen it past the buffer.
  if (Data.size() > static_cast<std::size_t>(Count)) Data.resize(static_cast<std::size_t>(Count));
  std::memcpy(Buffer, Data.data(), Data.size());
  return static_cast<std::int64_t>(Data.size());
}

void TBlockSocket::FilterOutgoing(const void*& Buffer, std::int64_t& Length, std::string& Holder) {
  if (!OnWriteFilter || Length <= 0) return;
  Holder.assign(static_cast<const char*>(Buffer), static_cast<std::size_t>(Length));
  OnWriteFilter(this, Holder);
  if (Holder.size() > static_cast<std::size_t>(Length)) Holder.resize(static_cast<std::size_t>(Length));
  Buffer = Holder.data();
  Length = static_cast<std::int64_t>(Holder.size());
}

// ---------------------------------------------------------------------------
// Waiting

bool TBlockSocket::WaitFor(short Events, std::int32_t Timeout) {
  if (SocketHandle == INVALID_SOCKET) {
    LastErrorCode = WSAENOTSOCK;
    return false;
  }
  short Ready = 0;
  const int Result = PollSocket(SocketHandle, Events, Timeout, Ready);
  RecordResult(Result < 0 ? -1 : 0);
  if (LastErrorCode != 0 || Result <= 0) return false;
  if ((Ready & POLLNVAL) != 0) {
    LastErrorCode = WSAENOTSOCK;
    return false;
  }
  // Errors and hang-ups count as ready: the read that follows reports them.
  return true;
}

bool TBlockSocket::WaitReadable(std::int32_t Timeout) {
  const bool Ready = WaitFor(POLLIN, Timeout);
  CheckError();
  if (Ready) DoStatus(HS_Readable, "");
  return Ready;
}

bool TBlockSocket::WaitWritable(std::int32_t Timeout) {
  const bool Ready = WaitFor(POLLOUT, Timeout);
  CheckError();
  if (Ready) DoStatus(HS_Writable, "");
  return Ready;
}

bool TBlockSocket::WaitInput(std::int32_t Timeout) {
  if (!PendingInput.empty()) return true;
  return WaitReadable(Timeout);
}

std::int64_t TBlockSocket::BytesPending() { return SocketBytesReceived(SocketHandle); }

// ---------------------------------------------------------------------------
// Receiving

std::int64_t TBlockSocket::ReceiveRaw(void* Buffer, std::int64_t Length) {
  if (CheckStopRequest()) return 0;
  ThrottleTransfer(Length, MaxRecvBandwidth, NextReceiveTime);
  const std::int64_t Result = ReceiveFromSocket(SocketHandle, Buffer, Length);
  if (Result == 0) {
    LastErrorCode = WSAECONNRESET;  // the peer closed
  } else {
    RecordResult(Result);
  }
  CheckError();
  DoStatus(HS_BytesRead, std::to_string(Result));
  if (Result > 0) return FilterReceived(Buffer, Result);
  return Result;
}

std::string_view TBlockSocket::ReceiveSocketView(std::int32_t Timeout) {
  std::int64_t Count = BytesPending();
  if (Count <= 0) {
    if (!WaitReadable(Timeout)) {
      if (LastErrorCode == 0) LastErrorCode = WSAETIMEDOUT;
      return {};
    }
    Count = BytesPending();
    // Readable with nothing to read: the peer has closed.
    if (Count <= 0) {
      LastErrorCode = WSAECONNRESET;
      return {};
    }
  }
  ReceiveScratch_.Reserve(static_cast<std::size_t>(Count));
  const std::int64_t Received = ReceiveRaw(ReceiveScratch_.Data(), Count);
  if (LastErrorCode != 0 || Received <= 0) return {};
  return std::string_view(ReceiveScratch_.Data(), static_cast<std::size_t>(Received));
}

std::string TBlockSocket::ReceiveSocketPacket(std::int32_t Timeout) { return std::string(ReceiveSocketView(Timeout)); }

std::string TBlockSocket::ReceivePacket(std::int32_t Timeout) {
  LastErrorCode = 0;
  if (!PendingInput.empty()) return PendingInput.TakeAll();
  std::string Packet = ReceiveSocketPacket(Timeout);
  CheckError();
  return Packet;
}

std::int64_t TBlockSocket::ReceiveBuffer(void* Buffer, std::int64_t Length, std::int32_t Timeout) {
  LastErrorCode = 0;
  std::int64_t Stored = 0;
  if (Length <= 0) return 0;
  auto* Target = static_cast<char*>(Buffer);
  while (true) {
    const std::uint32_t Start = GetTick();
    // Bytes are taken straight off the pending bytes or the fresh packet,
    // so that the rest of a large packet is never copied again.
    std::string_view Packet = PendingInput.View();
    const bool Fresh = Packet.empty();
    if (Fresh) {
      Packet = ReceiveSocketView(Timeout);
      CheckError();
    }
    const auto Take = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(Packet.size()), Length - Stored));
    if (Take > 0) std::memcpy(Target + Stored, Packet.data(), Take);
    Stored += static_cast<std::int64_t>(Take);
    if (Fresh) {
      PendingInput = std::string(Packet.substr(Take));
    } else {
      PendingInput.Drop(Take);
    }
    if (LastErrorCode != 0 || Stored == Length) break;
    if (InterPacketTimeout) continue;
    Timeout -= static_cast<std::int32_t>(ElapsedTicks(Start, GetTick()));
    if (Timeout <= 0) {
      LastErrorCode = WSAETIMEDOUT;
      CheckError();
      break;
    }
  }
  return Stored;
}

std::string TBlockSocket::ReceiveExact(std::int64_t Count, std::int32_t Timeout) {
  if (Count < 1) return {};
  std::string Result(static_cast<std::size_t>(Count), '\0');
  const std::int64_t Stored = ReceiveBuffer(Result.data(), Count, Timeout);
  if (LastErrorCode != 0) return {};
  Result.resize(static_cast<std::size_t>(Stored));
  return Result;
}

namespace {

// Where the first line end lies in Data at or after From: its index and
// length (CR LF and LF CR count as one), or npos.
std::size_t FindAnyLineEnd(std::string_view Data, std::size_t From, std::size_t& Length) {
  const std::size_t At = Data.find_first_of("\r\n", From);
  if (At == std::string_view::npos) return At;
  Length = 1;
  if (At + 1 < Data.size() && (Data[At + 1] == '\r' || Data[At + 1] == '\n') && Data[At + 1] != Data[At]) Length = 2;
  return At;
}

}  // namespace

std::string TBlockSocket::ReceiveUntil(std::int32_t Timeout, const std::string& Terminator) {
  LastErrorCode = 0;
  if (Terminator.empty()) return {};
  const bool Convert = ConvertLineEnd && Terminator == "\r\n";
  const std::int64_t Limit = MaxLineLength > 0 ? MaxLineLength : LineCeiling;
  // The line is searched for in PendingInput itself; Scanned marks how far
  // it is known to hold no line end, so each byte is searched once.
  std::size_t Scanned = 0;
  bool FlagsChecked = false;
  std::size_t Found = std::string::npos;
  std::size_t EndLength = 0;
  bool First = true;
  while (true) {
    const std::uint32_t Start = GetTick();
    if (!First || PendingInput.empty()) {
      PendingInput += ReceiveSocketView(Timeout);
      if (LastErrorCode != 0) break;
    }
    First = false;
    if (Convert && !FlagsChecked && !PendingInput.empty()) {
      // A line end split across two reads: CR then LF (or LF then CR) is
      // still one line end, not an empty line.
      if (EndedOnCR && PendingInput.View().front() == '\n') PendingInput.Drop(1);
      if (EndedOnLF && !PendingInput.empty() && PendingInput.View().front() == '\r') PendingInput.Drop(1);
      EndedOnCR = false;
      EndedOnLF = false;
      FlagsChecked = true;
    }
    const std::string_view Data = PendingInput.View();
    if (Convert) {
      Found = FindAnyLineEnd(Data, Scanned, EndLength);
      if (Found != std::string::npos && EndLength == 1) {
        EndedOnCR = Data[Found] == '\r';
        EndedOnLF = Data[Found] == '\n';
      }
    } else {
      Found = Data.find(Terminator, Scanned);
      EndLength = Terminator.size();
    }
    const std::size_t LineLength = Found == std::string::npos ? Data.size() : Found;
    if (static_cast<std::int64_t>(LineLength) > Limit) {
      EndedOnCR = false;
      EndedOnLF = false;
      Found = std::string::npos;
      LastErrorCode = WSAENOBUFS;
      break;
    }
    if (Found != std::string::npos) break;
    Scanned = Data.size() >= Terminator.size() ? Data.size() - (Convert ? 0 : Terminator.size() - 1) : 0;
    if (InterPacketTimeout) continue;
    Timeout -= static_cast<std::int32_t>(ElapsedTicks(Start, GetTick()));
    if (Timeout <= 0) {
      LastErrorCode = WSAETIMEDOUT;
      break;
    }
  }
  std::string Line;
  if (Found != std::string::npos) {
    Line = PendingInput.Take(Found);
    PendingInput.Drop(EndLength);
  }
  CheckError();
  return Line;
}

std::string TBlockSocket::ReceiveLine(std::int32_t Timeout) {
  std::string Line = ReceiveUntil(Timeout, "\r\n");
  if (LastErrorCode != 0) return {};
  return Line;
}

std::uint8_t TBlockSocket::ReceiveByte(std::int32_t Timeout) {
  LastErrorCode = 0;
  if (PendingInput.empty()) PendingInput = ReceivePacket(Timeout);
  std::uint8_t Result = 0;
  if (LastErrorCode == 0 && !PendingInput.empty()) {
    Result = static_cast<std::uint8_t>(PendingInput.View().front());
    PendingInput.Drop(1);
  }
  CheckError();
  return Result;
}

std::int32_t TBlockSocket::ReceiveInteger(std::int32_t Timeout) {
  const std::string Bytes = ReceiveExact(4, Timeout);
  if (LastErrorCode != 0 || Bytes.size() < 4) return 0;
  return LittleEndianInteger(Bytes);
}

std::string TBlockSocket::ReceiveBlock(std::int32_t Timeout) {
  const std::int32_t Length = ReceiveInteger(Timeout);
  if (LastErrorCode != 0) return {};
  // The length is the peer's word: refuse one past the cap before any
  // memory is set aside for it.
  if (Length > MaxBlockLength) {
    LastErrorCode = WSAENOBUFS;
    CheckError();
    return {};
  }
  return ReceiveExact(Length, Timeout);
}

void TBlockSocket::ReceiveToStream(TStream& Stream, std::int32_t Timeout) {
  LastErrorCode = 0;
  if (!PendingInput.empty()) {
    const std::string Pending = PendingInput.TakeAll();
    if (!StoreInStream(Stream, Pending.data(), static_cast<std::int64_t>(Pending.size()))) return;
  }
  // Straight from the socket's own buffer to the stream: bulk data is
  // neither allocated nor copied per packet.
  while (true) {
    const std::string_view Packet = ReceiveSocketView(Timeout);
    CheckError();
    if (LastErrorCode != 0) return;
    if (!StoreInStream(Stream, Packet.data(), static_cast<std::int64_t>(Packet.size()))) return;
  }
}

void TBlockSocket::ReceiveToStream(TStream& Stream, std::int32_t Timeout, std::int64_t Size) {
  const std::int64_t Piece = std::max<std::int32_t>(SendMaxChunk, 1);
  std::int64_t Remaining = std::max<std::int64_t>(Size, 0);
  while (Remaining > 0) {
    const std::string Data = ReceiveExact(std::min(Piece, Remaining), Timeout);
    if (LastErrorCode != 0) return;
    if (!StoreInStream(Stream, Data.data(), static_cast<std::int64_t>(Data.size()))) return;
    Remaining -= static_cast<std::int64_t>(Data.size());
  }
}

bool TBlockSocket::StoreInStream(TStream& Stream, const void* Buffer, std::int64_t Count) {
  if (Count <= 0 || Stream.Write(Buffer, Count) == Count) return true;
  // The stream keeps no error of its own; a short write is a full disk as
  // far as the transfer can tell, and must never read as the normal end.
  LastErrorCode = WSAEDQUOT;
  CheckError();
  return false;
}

void TBlockSocket::ReceiveSizedStream(TStream& Stream, std::int32_t Timeout) {
  const std::int32_t Size = ReceiveInteger(Timeout);
  if (LastErrorCode != 0) return;
  ReceiveToStream(Stream, Timeout, Size);
}

void TBlockSocket::ReceiveSizedStreamNetOrder(TStream& Stream, std::int32_t Timeout) {
  const std::int32_t Size = ReceiveInteger(Timeout);
  if (LastErrorCode != 0) return;
  ReceiveToStream(Stream, Timeout, SwapBytes(Size));
}

std::int64_t TBlockSocket::PeekBuffer(void* Buffer, std::int64_t Length) {
  const std::int64_t Result = ReceiveFromSocket(SocketHandle, Buffer, Length, true);
  RecordResult(Result);
  CheckError();
  return Result;
}

std::uint8_t TBlockSocket::PeekByte(std::int32_t Timeout) {
  if (!WaitReadable(Timeout)) {
    LastErrorCode = WSAETIMEDOUT;
    CheckError();
    return 0;
  }
  std::uint8_t Byte = 0;
  if (PeekBuffer(&Byte, 1) <= 0) return 0;
  return Byte;
}

std::int64_t TBlockSocket::ReceiveDatagram(void* Buffer, std::int64_t Length) {
  if (CheckStopRequest()) return 0;
  ThrottleTransfer(Length, MaxRecvBandwidth, NextReceiveTime);
  const std::int64_t Result = ReceiveDatagramFrom(SocketHandle, Buffer, Length, RemoteEndpoint);
  RecordResult(Result);
  CheckError();
  DoStatus(HS_BytesRead, std::to_string(Result));
  return Result;
}

void TBlockSocket::DrainInput() {
  try {
    for (int i = 0; i < DrainPacketLimit; ++i) {
      ReceivePacket(0);
      if (LastErrorCode != 0) break;
    }
  } catch (const std::exception&) {
    // RaiseExcept: the error that ends the draining is expected.
  }
  LastErrorCode = 0;
}

// ---------------------------------------------------------------------------
// Sending

std::int64_t TBlockSocket::SendBuffer(const void* Buffer, std::int64_t Length) {
  if (CheckStopRequest()) return 0;
  std::string Filtered;
  FilterOutgoing(Buffer, Length, Filtered);
  if (Length <= 0) return 0;
  const auto* Data = static_cast<const char*>(Buffer);
  std::int64_t Sent = 0;
  while (Sent < Length) {
    const std::int64_t Piece = std::min<std::int64_t>(Length - Sent, SendMaxChunk);
    if (Piece <= 0) break;
    ThrottleTransfer(Piece, MaxSendBandwidth, NextSendTime);
    // Not blocking: the send is tried at once (a bulk sender mostly finds
    // room, and a wait per piece is a system call per piece), and waited
    // for only when the socket is full; poll() promises room for some
    // bytes, not for the whole piece, so the rest goes in the next pass.
    bool WouldBlock = false;
    std::int64_t Result = SendToSocketNow(SocketHandle, Data + Sent, Piece, WouldBlock);
    while (WouldBlock && WaitSendRoom()) Result = SendToSocketNow(SocketHandle, Data + Sent, Piece, WouldBlock);
    if (LastErrorCode != 0) break;  // no room within SendTimeout
    RecordResult(Result);
    if (LastErrorCode != 0) break;
    Sent += Result;
    DoStatus(HS_BytesWritten, std::to_string(Result));
  }
  CheckError();
  return Sent;
}

bool TBlockSocket::WaitSendRoom() {
  if (WaitFor(POLLOUT, SendTimeout)) return true;
  if (LastErrorCode == 0) LastErrorCode = WSAETIMEDOUT;
  return false;
}

void TBlockSocket::SendByte(std::uint8_t Data) { SendBuffer(&Data, 1); }

void TBlockSocket::SendText(const std::string& Data) {
  SendBuffer(Data.data(), static_cast<std::int64_t>(Data.size()));
}

void TBlockSocket::SendInteger(std::int32_t Data) { SendText(LittleEndianBytes(Data)); }

void TBlockSocket::SendBlock(const std::string& Data) {
  SendInteger(static_cast<std::int32_t>(Data.size()));
  SendText(Data);
}

void TBlockSocket::SendStream(TStream& Stream) {
  std::int64_t Remaining = Stream.Size() - Stream.Position();
  const std::int64_t Piece = std::max<std::int32_t>(SendMaxChunk, 1);
  TPageBuffer Buffer(static_cast<std::size_t>(std::min(Piece, std::max<std::int64_t>(Remaining, 1))));
  while (Remaining > 0) {
    const std::int64_t Read = Stream.Read(Buffer.Data(), std::min(Piece, Remaining));
    if (Read <= 0) return;
    SendBuffer(Buffer.Data(), Read);
    if (LastErrorCode != 0) return;
    Remaining -= Read;
  }
}

void TBlockSocket::SendSizedStream(TStream& Stream) {
  SendInteger(static_cast<std::int32_t>(Stream.Size() - Stream.Position()));
  SendStream(Stream);
}

void TBlockSocket::SendSizedStreamNetOrder(TStream& Stream) {
  SendInteger(SwapBytes(static_cast<std::int32_t>(Stream.Size() - Stream.Position())));
  SendStream(Stream);
}

std::int64_t TBlockSocket::SendDatagram(const void* Buffer, std::int64_t Length) {
  if (CheckStopRequest()) return 0;
  ThrottleTransfer(Length, MaxSendBandwidth, NextSendTime);
  if (!WaitSendRoom()) {
    CheckError();
    return 0;
  }
  const std::int64_t Result = SendDatagramNow(SocketHandle, Buffer, Length, RemoteEndpoint);
  RecordResult(Result);
  CheckError();
  DoStatus(HS_BytesWritten, std::to_string(Result));
  return Result;
}

// ---------------------------------------------------------------------------
// The stream socket

TTCPBlockSocket::TTCPBlockSocket() = default;

TTCPBlockSocket::~TTCPBlockSocket() {
  try {
    CloseSocket();
  } catch (const std::exception&) {
    // A destructor must not raise, even with RaiseExcept.
  }
}

int TTCPBlockSocket::SocketType() { return SOCK_STREAM; }
int TTCPBlockSocket::SocketProtocol() { return IPPROTO_TCP; }

void TTCPBlockSocket::CloseSocket() {
  if (TlsEnabled) CloseTls();
  if (SocketHandle != INVALID_SOCKET) {
    ShutdownSocketSending(SocketHandle);
    FlushBeforeClose();
    DrainInput();
  }
  AbortSocket();
}

void TTCPBlockSocket::FlushBeforeClose() {
  if (!SocketLingersZero(SocketHandle)) return;
  const std::uint32_t Start = GetTick();
  while (ElapsedTicks(Start, GetTick()) < static_cast<std::uint32_t>(FlushWaitLimit)) {
    if (SocketBytesUnsent(SocketHandle) <= 0) return;
    SleepMilliseconds(5);
  }
}

void TTCPBlockSocket::Connect(const std::string& Host, const std::string& Port) {
  TlsPeerName = Host;
  if (!SocksIP.empty()) {
    ConnectViaSocks(Host, Port);
  } else if (!HTTPTunnelIP.empty()) {
    OpenHttpTunnel(Host, Port);
  } else {
    TBlockSocket::Connect(Host, Port);
  }
  if (!TlsEnabled) return;
  if (LastErrorCode != 0) {
    const std::int32_t Code = LastErrorCode;
    SetTlsEnabled(false);
    LastErrorCode = Code;
    LastErrorText = GetErrorDesc(Code);
    return;
  }
  StartTls();
}

void TTCPBlockSocket::Listen() {
  if (!SocksIP.empty()) {
    SocksListen();
  } else {
    RecordResult(::listen(SocketHandle, INT_MAX));
    UpdateEndpoints();
  }
  CheckError();
  DoStatus(HS_Listening, "");
}

TSocket TTCPBlockSocket::Accept() {
  TSocket Result = INVALID_SOCKET;
  if (!SocksIP.empty()) {
    Result = SocksAccept();
  } else {
    Result = AcceptSocketHandle(SocketHandle, RemoteEndpoint);
  }
  CheckError();
  DoStatus(HS_Accepted, "");
  return Result;
}

// ---------------------------------------------------------------------------
// Process start and end

TSocketInterfaceGuard::TSocketInterfaceGuard() {
  if (!LoadSocketInterface("")) {
    const std::string Text = "Error loading Socket interface (ws2_32.dll)!";
    throw ESocketError(0, Text, Text);
  }
}

TSocketInterfaceGuard::~TSocketInterfaceGuard() {
  UnloadSocketInterface();
  UnloadTlsLibrary();
}

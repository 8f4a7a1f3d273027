#include "protocols/ftpsend.h"

#include <algorithm>
#include <charconv>
#include <string_view>

#include "net/blocksock.h"
#include "net/sockapi.h"
#include "platform/filesys.h"
#include "platform/systime.h"
#include "protocols/ftplist.h"
#include "util/textutil.h"

namespace {

// A reply larger than this cannot be a real server's answer; reading it
// would let a hostile server grow our memory or keep us reading forever.
constexpr std::int32_t MaxReplyBytes = 65536;
constexpr std::size_t MaxReplyLines = 1000;
// Preliminary (1xx) greetings accepted before the real one.
constexpr int MaxPreliminaryGreetings = 64;
// A custom logon table can loop; no real logon needs more steps.
constexpr int MaxLogonSteps = 64;

constexpr std::uint8_t LogonComplete = 255;
constexpr std::uint8_t LogonFailed = 254;

// The built-in logon sequences of the firewall modes 0 to 8.
constexpr LogonStepTable LogonTables[9] = {
    {0x00, 0xFF, 0x03, 0x01, 0xFF, 0x06, 0x02, 0xFF, 0xFE},
    {0x03, 0x06, 0x03, 0x04, 0x06, 0xFE, 0x05, 0xFE, 0x09, 0x00, 0xFF, 0x0C, 0x01, 0xFF, 0x0F, 0x02, 0xFF, 0xFE},
    {0x03, 0x06, 0x03, 0x04, 0x06, 0xFE, 0x06, 0xFF, 0x09, 0x01, 0xFF, 0x0C, 0x02, 0xFF, 0xFE},
    {0x03, 0x06, 0x03, 0x04, 0x06, 0xFE, 0x00, 0xFF, 0x09, 0x01, 0xFF, 0x0C, 0x02, 0xFF, 0xFE},
    {0x07, 0x03, 0x03, 0x00, 0xFF, 0x06, 0x01, 0xFF, 0x09, 0x02, 0xFF, 0xFE},
    {0x06, 0xFF, 0x03, 0x01, 0xFF, 0x06, 0x02, 0xFF, 0xFE},
    {0x08, 0x06, 0x03, 0x04, 0x06, 0xFE, 0x00, 0xFF, 0x09, 0x01, 0xFF, 0x0C, 0x02, 0xFF, 0xFE},
    {0x09, 0xFE, 0x03, 0x01, 0xFF, 0x06, 0x02, 0xFF, 0xFE},
    {0x0A, 0xFF, 0x03, 0x0B, 0xFF, 0x06, 0x02, 0xFF, 0xFE},
};

std::int32_t ReplyClass(std::int32_t Code) { return Code / 100; }

bool IsPreliminary(std::int32_t Code) { return ReplyClass(Code) == 1; }
bool IsCompletion(std::int32_t Code) { return ReplyClass(Code) == 2; }
bool IsIntermediate(std::int32_t Code) { return ReplyClass(Code) == 3; }

// A whole text of decimal digits (no sign) as a number; false when it is
// anything else or too large.
bool ParseDecimal(const std::string& Text, std::int64_t& Value) {
  if (Text.empty()) return false;
  const char* End = Text.data() + Text.size();
  const auto [Stop, Error] = std::from_chars(Text.data(), End, Value);
  return Error == std::errc() && Stop == End && Text[0] != '-';
}

bool FileExists(const std::string& FileName) {
  // A plain file: what has a size and is no directory.
  return EntrySize(FileName) >= 0 && !DirectoryExists(FileName);
}

// Takes a listing as it arrives straight into its lines, so that it is held
// once: CR LF, lone CR and lone LF end a line, a zero byte ends the listing.
// Writes beyond the limit are refused, which fails the transfer.
class TListingLines : public TStream {
 public:
  TListingLines(TStringList& Lines, std::int64_t Limit) : Lines_(Lines), Limit_(Limit) {}

  std::int64_t Write(const void* Buffer, std::int64_t Count) override {
    if (Count <= 0) return 0;
    if (Total_ + Count > Limit_) {
      Refused_ = true;
      return 0;
    }
    Total_ += Count;
    std::string_view Text(static_cast<const char*>(Buffer), static_cast<std::size_t>(Count));
    while (!Ended_ && !Text.empty()) {
      if (AfterCR_ && Text.front() == '\n') Text.remove_prefix(1);
      AfterCR_ = false;
      const std::size_t End = Text.find_first_of(std::string_view("\r\n\0", 3));
      Partial_.append(Text.substr(0, End));
      if (End == std::string_view::npos) break;
      Ended_ = Text[End] == '\0';
      if (Ended_) break;
      Lines_.push_back(std::move(Partial_));
      Partial_.clear();
      AfterCR_ = Text[End] == '\r';
      Text.remove_prefix(End + 1);
    }
    return Count;
  }
  // The last line, when it has no line end.
  void Finish() {
    if (!Partial_.empty()) Lines_.push_back(std::move(Partial_));
    Partial_.clear();
  }
  bool Refused() const { return Refused_; }
  std::int64_t Read(void*, std::int64_t) override { return 0; }
  std::int64_t Seek(std::int64_t, TSeekOrigin) override { return Total_; }
  std::int64_t Size() override { return Total_; }
  bool SetSize(std::int64_t) override { return false; }

 private:
  TStringList& Lines_;
  std::int64_t Limit_;
  std::string Partial_;
  std::int64_t Total_ = 0;
  bool AfterCR_ = false;
  bool Ended_ = false;
  bool Refused_ = false;
};

// Forwards to a stream and remembers whether every write went through, so
// that a full disk fails the download instead of truncating it silently.
class TCheckedWriteStream : public TStream {
 public:
  explicit TCheckedWriteStream(TStream& Target) : Target_(Target) {}
  std::int64_t Read(void* Buffer, std::int64_t Count) override { return Target_.Read(Buffer, Count); }
  std::int64_t Write(const void* Buffer, std::int64_t Count) override {
    const std::int64_t Written = Target_.Write(Buffer, Count);
    if (Written != Count) Failed_ = true;
    return Written;
  }
  std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override { return Target_.Seek(Offset, Origin); }
  std::int64_t Size() override { return Target_.Size(); }
  bool SetSize(std::int64_t NewSize) override { return Target_.SetSize(NewSize); }
  bool Failed() const { return Failed_; }

 private:
  TStream& Target_;
  bool Failed_ = false;
};

// Closes the data connection when a transfer operation returns, whichever
// way it returns.
class TDataConnectionGuard {
 public:
  explicit TDataConnectionGuard(TTCPBlockSocket& Socket) : Socket_(Socket) {}
  ~TDataConnectionGuard() { Socket_.CloseSocket(); }
  TDataConnectionGuard(const TDataConnectionGuard&) = delete;
  TDataConnectionGuard& operator=(const TDataConnectionGuard&) = delete;

 private:
  TTCPBlockSocket& Socket_;
};

}  // namespace

struct TFTPSendDetail {
  // A failure found on our side: no reply was read, so the reply state says
  // what went wrong for the caller's log.
  static void FailLocally(TFTPSend& Self, const std::string& Reason) {
    Self.ResultCode_ = 0;
    Self.ResultString_ = Reason;
    Self.FullResult_.assign(1, Reason);
    Self.SocketError_ = 0;
  }

  // Drops a control connection that can no longer be read in step.
  static void DropControl(TFTPSend& Self, const std::string& Reason) {
    Self.Sock_->AbortSocket();
    FailLocally(Self, Reason);
  }

  // A control connection that failed to connect or to start TLS is closed
  // before anything (QUIT included) could go out in the clear; the
  // socket's error text says why, and its error state stays for the caller.
  static bool FailConnection(TFTPSend& Self) {
    const std::int32_t Code = Self.Sock_->LastErrorCode;
    const std::string Reason = Self.Sock_->LastErrorText;
    DropControl(Self, Reason);
    Self.Sock_->LastErrorCode = Code;
    Self.Sock_->LastErrorText = Reason;
    Self.SocketError_ = Code;
    return false;
  }

  // The data connections check certificates as the control connection does.
  static void ShareTlsSettings(TFTPSend& Self) {
    Self.DSock_->SSLverifyCert = Self.Sock_->SSLverifyCert;
    Self.DSock_->SSLCertCAFile = Self.Sock_->SSLCertCAFile;
  }

  static std::string HostText(const TFTPSend& Self) {
    if (Self.TargetPort == "ftp" || Self.TargetPort == "21") return Self.TargetHost;
    return Self.TargetHost + ":" + Self.TargetPort;
  }

  // The line a logon step sends; empty for a code without a line.
  static std::string LogonLine(const TFTPSend& Self, std::uint8_t CommandCode) {
    const std::string Host = HostText(Self);
    switch (CommandCode) {
      case 0: return "USER " + Self.UserName;
      case 1: return "PASS " + Self.Password;
      case 2: return "ACCT " + Self.Account;
      case 3: return "USER " + Self.FWUsername;
      case 4: return "PASS " + Self.FWPassword;
      case 5: return "SITE " + Host;
      case 6: return "USER " + Self.UserName + "@" + Host;
      case 7: return "OPEN " + Host;
      case 8: return "USER " + Self.FWUsername + "@" + Host;
      case 9: return "USER " + Self.UserName + "@" + Host + " " + Self.FWUsername;
      case 10: return "USER " + Self.UserName + "@" + Self.FWUsername + "@" + Host;
      case 11: return "PASS " + Self.Password + "@" + Self.FWPassword;
      default: return "";
    }
  }

  static std::int32_t EffectiveLogonMode(const TFTPSend& Self, std::int32_t Mode) {
    if (Self.FWHost.empty()) return 0;
    if (Mode == -1) return -1;
    return (Mode >= 0 && Mode <= 8) ? Mode : 0;
  }

  static bool CustomTableEmpty(const TFTPSend& Self) {
    for (const std::uint8_t Byte : Self.CustomLogonTable)
      if (Byte != 0) return false;
    return true;
  }

  static bool ValidStepOffset(std::uint8_t Offset) { return Offset % 3 == 0 && Offset <= 15; }

  // Reads the greeting: any number of 1xx replies (bounded), then a 2xx.
  static bool ReadGreeting(TFTPSend& Self) {
    for (int Count = 0; Count <= MaxPreliminaryGreetings; ++Count) {
      const std::int32_t Code = Self.ReadReply();
      if (!IsPreliminary(Code)) return IsCompletion(Code);
    }
    DropControl(Self, "Too many preliminary greetings");
    return false;
  }

  static bool NegotiateTls(TFTPSend& Self) {
    if (!Self.AutoTLS || Self.IsTLS_) return true;
    if (!IsCompletion(Self.SendCommand("AUTH TLS"))) {
      if (!Self.TLSRequired) return true;
      // The refusal stays in the reply state; the user name must not follow
      // in the clear.
      Self.Sock_->AbortSocket();
      return false;
    }
    Self.Sock_->StartTls();
    Self.IsTLS_ = Self.Sock_->LastErrorCode == 0;
    Self.DSock_->SSLCertificateFile = Self.Sock_->SSLCertificateFile;
    Self.DSock_->SSLPrivateKeyFile = Self.Sock_->SSLPrivateKeyFile;
    Self.DSock_->SSLCertCAFile = Self.Sock_->SSLCertCAFile;
    return Self.IsTLS_ || FailConnection(Self);
  }

  // False only when TLS is required and the server refuses PROT P: the
  // files must not cross in the clear.
  static bool ProtectData(TFTPSend& Self) {
    if (!Self.IsTLS_) return true;
    Self.SendCommand("PBSZ 0");
    if (Self.TLSonData) Self.IsDataTLS_ = IsCompletion(Self.SendCommand("PROT P"));
    if (Self.IsDataTLS_) return true;
    if (Self.TLSRequired && Self.TLSonData) return false;
    Self.SendCommand("PROT C");
    return true;
  }

  static void ProbeRestart(TFTPSend& Self) {
    if (Self.SendCommand("REST 0") != 350) return;
    if (Self.SendCommand("REST 1") != 350) return;
    Self.SendCommand("REST 0");
    Self.CanResume_ = true;
  }

  static bool ValidPort(const std::string& Port) {
    std::int64_t Value = 0;
    return ParseDecimal(Port, Value) && Value >= 1 && Value <= 65535;
  }

  static bool ConnectPassive(TFTPSend& Self) {
    const bool OverIPv6 = Self.Sock_->UsesIPv6;
    bool Extended = false;
    if (!Self.ForceOldPort && IsCompletion(Self.SendCommand(std::string("EPSV ") + (OverIPv6 ? "2" : "1")))) {
      Self.ParseExtendedPassiveReply(Self.ResultString_);
      Extended = true;
    } else {
      if (OverIPv6) return false;
      if (!IsCompletion(Self.SendCommand("PASV"))) return false;
      Self.ParsePassiveReply(Self.ResultString_);
    }
    if (!ValidPort(Self.DataPort_)) {
      FailLocally(Self, "Invalid data port in the passive reply: " + Self.DataPort_);
      return false;
    }
    // Neither a 227 reply nor a second resolution of the target name may
    // send us elsewhere: the data connection goes to the address the control
    // connection already talks to (the firewall host, when there is one).
    const std::string Host = Self.Sock_->RemoteAddress();
    if (Extended) Self.DataIP_ = Host;
    Self.DSock_->CloseSocket();
    Self.DSock_->Bind(Self.IPInterface, "0");
    Self.DSock_->Connect(Host, Self.DataPort_);
    // The reply state keeps the passive reply, as callers log it.
    Self.SocketError_ = Self.DSock_->LastErrorCode;
    return Self.DSock_->LastErrorCode == 0;
  }

  static bool ListenActive(TFTPSend& Self) {
    TTCPBlockSocket& Data = *Self.DSock_;
    Data.CloseSocket();
    Data.Bind(Self.Sock_->LocalAddress(), Self.ForceDefaultPort ? "ftp-data" : "0");
    if (Data.LastErrorCode != 0) return false;
    Data.SetLinger(true, 10);
    Data.Listen();
    if (Data.LastErrorCode != 0) return false;
    Data.UpdateEndpoints();
    Self.DataIP_ = Data.ResolveName(Data.LocalAddress());
    const int Port = Data.LocalPort();
    Self.DataPort_ = std::to_string(Port);
    if (!Self.ForceOldPort) {
      const std::string Digit = IsIPv6Literal(Self.DataIP_) ? "2" : "1";
      if (IsCompletion(Self.SendCommand("EPRT |" + Digit + "|" + Self.DataIP_ + "|" + Self.DataPort_ + "|")))
        return true;
    }
    if (!IsIPv4Literal(Self.DataIP_)) return false;
    const std::string Line = "PORT " + ReplaceAll(Self.DataIP_, ".", ",") + "," + std::to_string(Port / 256) + "," +
                             std::to_string(Port % 256);
    return IsCompletion(Self.SendCommand(Line));
  }

  // Waits within Timeout for the server's data connection and continues
  // DSock on it. Anyone else who finds the port first is turned away: only
  // the control connection's peer may supply or take the data.
  static bool AcceptFromServer(TFTPSend& Self) {
    TTCPBlockSocket& Data = *Self.DSock_;
    const std::string Server = Self.Sock_->RemoteAddress();
    const std::uint32_t Start = GetTick();
    while (true) {
      const auto Waited = static_cast<std::int32_t>(ElapsedTicks(Start, GetTick()));
      if (Waited >= Self.Timeout || !Data.WaitReadable(Self.Timeout - Waited)) {
        if (Data.LastErrorCode == 0) Data.LastErrorCode = WSAETIMEDOUT;
        Data.LastErrorText = TBlockSocket::GetErrorDesc(Data.LastErrorCode);
        return false;
      }
      const TSocket Handle = Data.Accept();
      if (Handle == INVALID_SOCKET) return false;
      // Through SOCKS the proxy's own connection carries the data.
      if (Data.ViaSocks || AddressText(Data.RemoteEndpoint) == Server) {
        if (!Data.ViaSocks) Data.CloseSocket();
        Data.AdoptSocket(Handle);
        return true;
      }
      TBlockSocket Stranger;
      Stranger.AdoptSocket(Handle);
      Stranger.AbortSocket();
    }
  }

  // A failure of the socket itself: its error text is the reason to log,
  // not a reply left over from an earlier command.
  static bool FailOnSocket(TFTPSend& Self, TTCPBlockSocket& Socket) {
    if (Socket.LastErrorCode == 0) return false;
    Self.ResultCode_ = 0;
    Self.ResultString_ = TBlockSocket::GetErrorDesc(Socket.LastErrorCode);
    Self.SocketError_ = Socket.LastErrorCode;
    return false;
  }

  // A step that read no reply at all (the connection broke or fell silent)
  // reports the control connection's error instead of an empty line.
  static bool FailWithoutReply(TFTPSend& Self) {
    if (Self.ResultString_.empty()) return FailOnSocket(Self, *Self.Sock_);
    return false;
  }

  static bool OpenDownloadFile(TFTPSend& Self, TFileStream& File, bool Resume) {
    const bool Opened = (Resume && FileExists(Self.DirectFileName))
                            ? File.Open(Self.DirectFileName, TFileMode::OpenReadWrite)
                            : File.Open(Self.DirectFileName, TFileMode::Create);
    if (!Opened) FailLocally(Self, "Cannot open local file " + Self.DirectFileName);
    return Opened;
  }

  static bool Retrieve(TFTPSend& Self, const std::string& FileName, TStream& Target, bool Resume) {
    Self.SendCommand(Self.BinaryMode ? "TYPE I" : "TYPE A");
    if (Resume && Self.CanResume_) {
      const std::int64_t Offset = Target.Seek(0, TSeekOrigin::End);
      // REST 0 would restart nothing, and some servers refuse REST in text
      // mode; a fresh download needs no REST.
      if (Offset > 0 && !IsIntermediate(Self.SendCommand("REST " + std::to_string(Offset)))) return false;
    }
    if (!IsPreliminary(Self.SendCommand("RETR " + FileName))) return false;
    TCheckedWriteStream Checked(Target);
    const bool Received = Self.ReceiveDataChannel(Checked);
    if (!Checked.Failed()) return Received;
    FailLocally(Self, "Cannot write local file " + Self.DirectFileName);
    return false;
  }

  static bool Store(TFTPSend& Self, TStream& Source, const std::string& Command, std::int64_t Offset) {
    Self.UploadAccepted_ = false;
    if (!Self.OpenDataChannel()) return false;
    TDataConnectionGuard Guard(*Self.DSock_);
    Self.SendCommand(Self.BinaryMode ? "TYPE I" : "TYPE A");
    const std::int64_t Size = Source.Size();
    if (!Self.CanResume_) Offset = 0;
    if (Size > 0 && Size == Offset) return true;
    if (Size < Offset || Offset < 0) Offset = 0;
    Self.SendCommand("ALLO " + std::to_string(Size - Offset));
    // Only a real restart needs REST: "REST 0" is refused by some servers
    // (in text mode) and would fail an upload that needs no restart.
    if (Offset > 0 && !IsIntermediate(Self.SendCommand("REST " + std::to_string(Offset)))) return false;
    Source.SetPosition(Offset);
    if (!IsPreliminary(Self.SendCommand(Command))) return false;
    Self.UploadAccepted_ = true;
    return Self.SendDataChannel(Source);
  }
};

TFTPSend::TFTPSend()
    : FtpList_(std::make_unique<TFTPList>()),
      Sock_(std::make_unique<TTCPBlockSocket>()),
      DSock_(std::make_unique<TTCPBlockSocket>()) {
  TargetPort = "ftp";
  Timeout = 300000;
  UserName = "anonymous";
  Password = "anonymous@" + Sock_->LocalHostName();
  Sock_->ConvertLineEnd = true;
  // A longer line ends the read with an error instead of filling memory.
  Sock_->MaxLineLength = MaxReplyBytes;
}

TFTPSend::~TFTPSend() = default;

// ---- Control connection ----

void TFTPSend::NotifyStatus(bool Response, const std::string& Value) {
  if (OnStatus) OnStatus(*this, Response, Value);
}

std::int32_t TFTPSend::ReadReply() {
  FullResult_.clear();
  std::string Code;
  std::size_t Bytes = 0;
  bool Complete = false;
  while (true) {
    const std::string Line = Sock_->ReceiveLine(Timeout);
    if (Code.empty() && Line.size() > 3 && (Line[3] == ' ' || Line[3] == '-')) Code = Line.substr(0, 3);
    ResultString_ = Line;
    FullResult_.push_back(Line);
    NotifyStatus(true, Line);
    if (Sock_->LastErrorCode == 10055) {
      TFTPSendDetail::DropControl(*this, "Reply line too long; connection closed");
      break;
    }
    if (Sock_->LastErrorCode != 0) break;
    if (!Code.empty() && Line.size() > 3 && Line.compare(0, 4, Code + " ") == 0) {
      Complete = true;
      break;
    }
    Bytes += Line.size() + 2;
    if (FullResult_.size() >= MaxReplyLines || Bytes > static_cast<std::size_t>(MaxReplyBytes)) {
      TFTPSendDetail::DropControl(*this, "Reply too long; connection closed");
      break;
    }
  }
  // An unfinished reply (time-out, lost connection) is no answer at all,
  // whatever its first line promised.
  std::int64_t Value = 0;
  ResultCode_ = (Complete && ParseDecimal(Code, Value)) ? static_cast<std::int32_t>(Value) : 0;
  SocketError_ = ResultCode_ != 0 ? 0 : Sock_->LastErrorCode;
  return ResultCode_;
}

std::int32_t TFTPSend::SendCommand(const std::string& Command) {
  // A line break would let a file name smuggle a second command in.
  if (Command.find_first_of("\r\n") != std::string::npos) {
    TFTPSendDetail::FailLocally(*this, "Command not sent: line break in argument");
    return 0;
  }
  Sock_->SendText(Command + "\r\n");
  NotifyStatus(false, Command);
  return ReadReply();
}

bool TFTPSend::ConnectControl() {
  // Sends and TLS handshakes wait no longer than reads do, so a server that
  // stops reading cannot hang an unattended run.
  for (TTCPBlockSocket* Socket : {Sock_.get(), DSock_.get()}) {
    Socket->SendTimeout = Timeout;
    Socket->TlsTimeout = Timeout;
    Socket->ConnectTimeout = Timeout;
  }
  TFTPSendDetail::ShareTlsSettings(*this);
  Sock_->CloseSocket();
  Sock_->Bind(IPInterface, "0");
  if (FullSSL) Sock_->SetTlsEnabled(true);
  if (Sock_->LastErrorCode == 0) {
    if (!FWHost.empty())
      Sock_->Connect(FWHost, FWPort);
    else
      Sock_->Connect(TargetHost, TargetPort);
  }
  return Sock_->LastErrorCode == 0;
}

bool TFTPSend::LogOn() {
  CanResume_ = false;
  if (TFTPSendDetail::EffectiveLogonMode(*this, FWMode) == -1 && TFTPSendDetail::CustomTableEmpty(*this)) {
    TFTPSendDetail::FailLocally(*this, "Custom logon table is empty");
    return false;
  }
  if (!ConnectControl()) return TFTPSendDetail::FailConnection(*this);
  IsTLS_ = FullSSL;
  IsDataTLS_ = false;
  if (!TFTPSendDetail::ReadGreeting(*this)) return TFTPSendDetail::FailWithoutReply(*this);
  if (!TFTPSendDetail::NegotiateTls(*this)) return TFTPSendDetail::FailWithoutReply(*this);
  if (!RunLogonSteps(FWMode)) return TFTPSendDetail::FailWithoutReply(*this);
  if (!TFTPSendDetail::ProtectData(*this)) return false;
  SendCommand("TYPE I");
  SendCommand("STRU F");
  SendCommand("MODE S");
  TFTPSendDetail::ProbeRestart(*this);
  return true;
}

bool TFTPSend::RunLogonSteps(std::int32_t Mode) {
  const std::int32_t Effective = TFTPSendDetail::EffectiveLogonMode(*this, Mode);
  const LogonStepTable& Table = Effective == -1 ? CustomLogonTable : LogonTables[Effective];
  if (Effective == -1 && TFTPSendDetail::CustomTableEmpty(*this)) {
    TFTPSendDetail::FailLocally(*this, "Custom logon table is empty");
    return false;
  }
  std::uint8_t Offset = 0;
  for (int Step = 0; Step < MaxLogonSteps; ++Step) {
    const std::string Line = TFTPSendDetail::LogonLine(*this, Table[Offset]);
    if (Line.empty()) {
      TFTPSendDetail::FailLocally(*this, "Invalid logon step");
      return false;
    }
    const std::int32_t Code = SendCommand(Line);
    if (!IsCompletion(Code) && !IsIntermediate(Code)) return false;
    const std::uint8_t Next = Table[Offset + (IsCompletion(Code) ? 1 : 2)];
    if (Next == LogonFailed) return false;
    if (Next == LogonComplete) return true;
    if (!TFTPSendDetail::ValidStepOffset(Next)) {
      TFTPSendDetail::FailLocally(*this, "Invalid logon step");
      return false;
    }
    Offset = Next;
  }
  TFTPSendDetail::FailLocally(*this, "Logon did not finish within 64 steps");
  return false;
}

bool TFTPSend::LogOff() {
  // A logon that failed to connect, or stopped before sending anything
  // in the clear, left no connection to end.
  if (Sock_->SocketHandle == INVALID_SOCKET) return false;
  const std::int32_t Code = SendCommand("QUIT");
  Sock_->CloseSocket();
  return IsCompletion(Code);
}

void TFTPSend::AbortTransfer() { DSock_->StopFlag = true; }

// ---- Data connection and transfers ----

bool TFTPSend::OpenDataChannel() {
  return PassiveMode ? TFTPSendDetail::ConnectPassive(*this) : TFTPSendDetail::ListenActive(*this);
}

bool TFTPSend::AcceptDataChannel() {
  if (!PassiveMode && !TFTPSendDetail::AcceptFromServer(*this)) {
    TFTPSendDetail::FailOnSocket(*this, *DSock_);
    return false;
  }
  if (!IsDataTLS_) return true;
  // The server ties the data connection to the logged-on session by the
  // resumed TLS session; the certificate must name the host the control
  // connection was checked against, not the address data goes to.
  DSock_->TlsPeerName = Sock_->TlsPeerName;
  DSock_->TlsReuseSession = Sock_->TlsSessionForReuse();
  DSock_->StartTls();
  if (DSock_->LastErrorCode == 0) return true;
  TFTPSendDetail::FailLocally(*this, DSock_->LastErrorText);
  SocketError_ = DSock_->LastErrorCode;
  return false;
}

void TFTPSend::ParsePassiveReply(const std::string& Reply) {
  const std::string Text = TrimControls(Reply);
  std::string Fields;
  const std::size_t Open = Text.find('(');
  const std::size_t Close = Text.find(')');
  if (Open != std::string::npos && Close != std::string::npos)
    Fields = Close > Open ? Text.substr(Open + 1, Close - Open - 1) : "";
  else
    Fields = Text.substr(LastPosition(" ", Text));
  std::string Part[6];
  for (std::string& Field : Part) Field = CutToken(Fields, ",");
  DataIP_ = Part[0] + "." + Part[1] + "." + Part[2] + "." + Part[3];
  // Each port field is one byte; anything else makes the reply invalid
  // (port "0"), and no product of huge fields can overflow.
  std::int64_t High = 0;
  std::int64_t Low = 0;
  const bool Valid = ParseDecimal(Part[4], High) && ParseDecimal(Part[5], Low) && High <= 255 && Low <= 255;
  DataPort_ = Valid ? std::to_string(High * 256 + Low) : "0";
}

void TFTPSend::ParseExtendedPassiveReply(const std::string& Reply) {
  std::string Text = TrimControls(TextBefore(TextAfter(Reply, "("), ")"));
  if (!Text.empty()) Text.pop_back();
  std::size_t Digits = Text.size();
  while (Digits > 0 && Text[Digits - 1] >= '0' && Text[Digits - 1] <= '9') --Digits;
  DataPort_ = Text.substr(Digits);
  DataIP_ = TargetHost;
}

bool TFTPSend::ReceiveDataChannel(TStream& Stream) {
  TDataConnectionGuard Guard(*DSock_);
  if (!AcceptDataChannel()) return false;
  DSock_->ReceiveToStream(Stream, Timeout);
  // A bare close of a TLS data connection may have cut the data anywhere.
  const bool Whole = DSock_->TlsEndedCleanly();
  std::string Ending = DSock_->TlsFailureReason();
  if (Ending.empty()) Ending = DSock_->LastErrorText;
  DSock_->CloseSocket();
  if (!IsCompletion(ReadReply())) return TFTPSendDetail::FailWithoutReply(*this);
  if (Whole) return true;
  TFTPSendDetail::FailLocally(*this, "Data connection ended without TLS close_notify (" + Ending + ")");
  // Cut short like a broken connection: what arrived can be continued.
  SocketError_ = WSASYSNOTREADY;
  return false;
}

bool TFTPSend::SendDataChannel(TStream& Stream) {
  TDataConnectionGuard Guard(*DSock_);
  if (!AcceptDataChannel()) return false;
  DSock_->SendStream(Stream);
  if (DSock_->LastErrorCode != 0) return TFTPSendDetail::FailOnSocket(*this, *DSock_);
  // The end of our sending tells the server the data is complete; the
  // connection is closed once the server has confirmed it.
  DSock_->EndSending();
  const bool Stored = IsCompletion(ReadReply());
  DSock_->CloseSocket();
  return Stored || TFTPSendDetail::FailWithoutReply(*this);
}

bool TFTPSend::ListDirectory(const std::string& Directory, bool NamesOnly) {
  DataStream_.Clear();
  FtpList_->Clear();
  const std::string Argument = Directory.empty() ? "" : " " + Directory;
  SendCommand("TYPE A");
  if (!OpenDataChannel()) return false;
  TDataConnectionGuard Guard(*DSock_);
  if (!IsPreliminary(SendCommand((NamesOnly ? "NLST" : "LIST") + Argument))) return false;
  ListingTooLarge_ = false;
  if (NamesOnly) {
    const bool Received = ReceiveDataChannel(DataStream_);
    DataStream_.SetPosition(0);
    return Received;
  }
  TListingLines Lines(FtpList_->RawLines, MaxListingBytes);
  const bool Received = ReceiveDataChannel(Lines);
  ListingTooLarge_ = Lines.Refused();
  if (!Received || ListingTooLarge_) {
    FtpList_->Clear();
    return false;
  }
  Lines.Finish();
  FtpList_->ParseListing();
  return true;
}

bool TFTPSend::Download(const std::string& FileName, bool Resume) {
  if (FileName.empty()) return false;
  if (!OpenDataChannel()) return false;
  TDataConnectionGuard Guard(*DSock_);
  Resume = Resume && CanResume_;
  if (!DirectFile) {
    if (!Resume) DataStream_.Clear();
    const bool Received = TFTPSendDetail::Retrieve(*this, FileName, DataStream_, Resume);
    DataStream_.SetPosition(0);
    return Received;
  }
  TFileStream File;
  if (!TFTPSendDetail::OpenDownloadFile(*this, File, Resume)) return false;
  return TFTPSendDetail::Retrieve(*this, FileName, File, Resume);
}

bool TFTPSend::DownloadToStream(const std::string& FileName, TStream& Target, bool Resume) {
  if (FileName.empty()) return false;
  if (!OpenDataChannel()) return false;
  TDataConnectionGuard Guard(*DSock_);
  return TFTPSendDetail::Retrieve(*this, FileName, Target, Resume);
}

bool TFTPSend::UploadFromStream(const std::string& FileName, TStream& Source, std::int64_t Offset) {
  if (FileName.empty()) return false;
  return TFTPSendDetail::Store(*this, Source, "STOR " + FileName, Offset);
}

bool TFTPSend::Upload(const std::string& FileName, bool Resume) {
  if (FileName.empty()) return false;
  std::int64_t Offset = 0;
  if (Resume && CanResume_) Offset = std::max<std::int64_t>(QueryFileSize(FileName), 0);
  return UploadWithCommand("STOR " + FileName, Offset);
}

bool TFTPSend::UploadUnique() { return UploadWithCommand("STOU", 0); }

bool TFTPSend::AppendUpload(const std::string& FileName) {
  if (FileName.empty()) return false;
  return UploadWithCommand("APPE " + FileName, 0);
}

bool TFTPSend::UploadWithCommand(const std::string& Command, std::int64_t Offset) {
  if (!DirectFile) return TFTPSendDetail::Store(*this, DataStream_, Command, Offset);
  TFileStream File;
  if (!FileExists(DirectFileName) || !File.Open(DirectFileName, TFileMode::OpenRead)) {
    TFTPSendDetail::FailLocally(*this, "Cannot open local file " + DirectFileName);
    return false;
  }
  return TFTPSendDetail::Store(*this, File, Command, Offset);
}

// ---- Simple commands ----

bool TFTPSend::RenameRemote(const std::string& OldName, const std::string& NewName) {
  if (!IsIntermediate(SendCommand("RNFR " + OldName))) return false;
  return IsCompletion(SendCommand("RNTO " + NewName));
}

bool TFTPSend::DeleteRemote(const std::string& FileName) { return IsCompletion(SendCommand("DELE " + FileName)); }

std::int64_t TFTPSend::QueryFileSize(const std::string& FileName) {
  if (!IsCompletion(SendCommand("SIZE " + FileName))) return -1;
  const std::string Rest = TrimControls(TextAfter(ResultString_, " "));
  std::int64_t Size = 0;
  if (!ParseDecimal(TrimControls(TextBefore(Rest, " ")), Size)) return -1;
  return Size;
}

bool TFTPSend::KeepAliveNoop() { return IsCompletion(SendCommand("NOOP")); }

bool TFTPSend::ChangeDirectory(const std::string& Directory) {
  return IsCompletion(SendCommand("CWD " + Directory));
}

bool TFTPSend::ChangeToParent() { return IsCompletion(SendCommand("CDUP")); }

bool TFTPSend::RemoveDirectory(const std::string& Directory) {
  return IsCompletion(SendCommand("RMD " + Directory));
}

bool TFTPSend::MakeDirectory(const std::string& Directory) {
  return IsCompletion(SendCommand("MKD " + Directory));
}

std::string TFTPSend::QueryCurrentDirectory() {
  if (!IsCompletion(SendCommand("PWD"))) return "";
  return TrimControls(TextBefore(TextAfter(ResultString_, "\""), "\""));
}

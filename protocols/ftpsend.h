// The FTP client: one TFTPSend drives one session at a time over a control
// connection (Sock) and a data connection (DSock) opened anew for every
// transfer. It logs on (with the firewall logon variants), sends the simple
// commands, opens passive or active data connections and moves listings and
// files between the server and a memory buffer or a local file.
//
// Every operation blocks until the server's whole reply has arrived or the
// Timeout ends a wait; results are booleans, numbers or texts, never
// exceptions. The last reply stays in ResultCode, ResultString and
// FullResult for the caller to log.
//
// Sizes and offsets are 64-bit. Safety limits the caller can rely on: a
// reply longer than 64 KiB or 1000 lines fails (and drops the connection,
// which can no longer be read in step); a command whose text holds CR or LF
// is refused without sending anything; a passive data connection always goes
// to the control connection's peer address, whatever address a 227 reply
// names, and an active one is accepted only from that address; a custom
// logon table never runs more than 64 steps.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "protocols/netclient.h"
#include "util/streams.h"

class TTCPBlockSocket;
class TFTPList;
class TFTPSend;

// Status event: Response is false for a command line just sent, true for a
// reply line just received; Value is the line without its line end.
using TFTPStatus = std::function<void(TFTPSend& Sender, bool Response, const std::string& Value)>;

// A logon sequence: six steps of three bytes, step k at offset 3k. Byte 0 of
// a step is the command code (0 "USER " + UserName, 1 "PASS " + Password,
// 2 "ACCT " + Account, 3 "USER " + FWUsername, 4 "PASS " + FWPassword,
// 5 "SITE " + host, 6 "USER " + UserName@host, 7 "OPEN " + host,
// 8 "USER " + FWUsername@host, 9 "USER " + UserName@host FWUsername,
// 10 "USER " + UserName@FWUsername@host, 11 "PASS " + Password@FWPassword);
// byte 1 is the next step's offset after a 2xx reply, byte 2 after a 3xx
// reply; 254 means the logon failed, 255 that it is complete.
using LogonStepTable = std::array<std::uint8_t, 18>;

class TFTPSend : public TNetClient {
 public:
  // Defaults: TargetPort "ftp", Timeout 300000, UserName "anonymous",
  // Password "anonymous@" + the local host name.
  TFTPSend();
  ~TFTPSend() override;

  // ---- Read-only state ----

  // Code of the last reply (0 when none could be read).
  std::int32_t ResultCode() const { return ResultCode_; }
  // The last line of the last reply.
  const std::string& ResultString() const { return ResultString_; }
  // Every line of the last reply, in arrival order.
  const TStringList& FullResult() const { return FullResult_; }
  // The control connection (line ends converted, reply lines limited).
  TTCPBlockSocket& Sock() { return *Sock_; }
  // The data connection, opened for each transfer.
  TTCPBlockSocket& DSock() { return *DSock_; }
  // Transfer buffer used when DirectFile is false; after a download or a
  // listing it holds the data rewound to its start.
  TMemoryStream& DataStream() { return DataStream_; }
  // Data address and port of the last preparation: the server's (passive)
  // or our listener's (active).
  const std::string& DataIP() const { return DataIP_; }
  const std::string& DataPort() const { return DataPort_; }
  // The server accepted the REST probe during LogOn.
  bool CanResume() const { return CanResume_; }
  // The Windows Sockets number behind the last failure when a connection,
  // not a reply, decided it: the control or data connection could not be
  // made, broke, timed out or lost its TLS session. 0 after a reply or a
  // check of our own; the reply state is not changed by it.
  std::int32_t SocketError() const { return SocketError_; }
  // Listing parser filled by ListDirectory.
  TFTPList& FtpList() { return *FtpList_; }
  // The control connection, respectively the data connections, run under TLS.
  bool IsTLS() const { return IsTLS_; }
  bool IsDataTLS() const { return IsDataTLS_; }

  // ---- Settings ----

  std::string Account;     // argument of ACCT
  std::string FWHost;      // firewall/proxy; when set the control connection goes there
  std::string FWPort = "ftp";
  std::string FWUsername;
  std::string FWPassword;
  std::int32_t FWMode = 0;  // logon variant 0..8, -1 for CustomLogonTable
  bool DirectFile = false;  // transfer straight to or from DirectFileName
  std::string DirectFileName;
  // A full listing beyond this many bytes is not read (ListDirectory fails).
  std::int64_t MaxListingBytes = 256 * 1024 * 1024;
  bool PassiveMode = true;
  bool ForceDefaultPort = false;  // active mode: listen on the "ftp-data" port
  bool ForceOldPort = false;      // never use EPSV or EPRT
  TFTPStatus OnStatus;
  bool BinaryMode = true;   // TYPE I (true) or TYPE A for file transfers
  bool AutoTLS = false;     // try AUTH TLS after the greeting
  bool FullSSL = false;     // TLS from the first byte of the control connection
  bool TLSonData = true;    // ask for protected data connections under TLS
  // With AutoTLS or FullSSL: a refused AUTH TLS or PROT P fails the logon
  // and nothing more is sent in the clear (no falling back).
  bool TLSRequired = false;
  // Used only when FWMode is -1 and FWHost is set; an all-zero table is
  // refused by LogOn before it connects.
  LogonStepTable CustomLogonTable{};

  // ---- Control connection ----

  // Runs the logon table of Mode (0 when FWHost is empty; tables 0..8,
  // -1 = CustomLogonTable, anything else = 0). True when a step led to
  // "complete"; false on a reply other than 2xx/3xx, a "failed" step, an
  // invalid custom step or more than 64 steps.
  virtual bool RunLogonSteps(std::int32_t Mode);
  // Drops any previous control connection, binds IPInterface and connects
  // to FWHost:FWPort, or TargetHost:TargetPort without a firewall. True when
  // the socket reports no error.
  virtual bool ConnectControl();
  // Calls OnStatus when it is set.
  virtual void NotifyStatus(bool Response, const std::string& Value);
  // Reads one whole reply (multi-line replies included) into ResultCode,
  // ResultString and FullResult and returns its code; 0 on time-out, lost
  // connection or a reply over the size limits (the connection is dropped).
  virtual std::int32_t ReadReply();
  // Sends Command + CR LF and returns the code of the reply. A command
  // holding CR or LF is not sent: the result is 0 and ResultString says why.
  virtual std::int32_t SendCommand(const std::string& Command);
  // Connects, reads the greeting (1xx lines, then a 2xx), optionally runs
  // AUTH TLS, logs on, sends PBSZ/PROT under TLS, TYPE I, STRU F, MODE S and
  // probes REST 0 / REST 1 to set CanResume. False at the first failure.
  // A failed connection or TLS handshake leaves the socket's error text
  // (with the certificate check's reason) in ResultString and the control
  // connection closed, as does a refused AUTH TLS under TLSRequired (its
  // reply stays in ResultString); a step that got no reply leaves the
  // socket's error text there too.
  virtual bool LogOn();
  // Sends QUIT and closes the control connection whatever the reply; true
  // on a 2xx reply.
  virtual bool LogOff();
  // Asks the data transfer in progress to stop (sets DSock's StopFlag);
  // nothing is sent.
  virtual void AbortTransfer();

  // ---- Data connection and transfers ----

  // Prepares the data connection. Passive: "EPSV 1" (or "EPSV 2" over
  // IPv6), else "PASV" (never over IPv6), then connects to the control
  // connection's peer address (DataIP after EPSV). Active: listens on
  // the control connection's local address and sends EPRT, else PORT.
  // False when the server refuses or the socket fails.
  virtual bool OpenDataChannel();
  // Completes the data connection after the 1xx reply: accepts the server's
  // connection in active mode (within Timeout; connections from any other
  // address are closed at once) and runs the data TLS handshake when
  // IsDataTLS, resuming the control connection's session and checking the
  // certificate against the control connection's host. False when either
  // fails; ResultString then holds the socket's error text or the failed
  // handshake's reason.
  virtual bool AcceptDataChannel();
  // Reads a 227 reply's "(h1,h2,h3,h4,p1,p2)" into DataIP and DataPort.
  virtual void ParsePassiveReply(const std::string& Reply);
  // Reads a 229 reply's port into DataPort; DataIP becomes TargetHost (the
  // connection itself goes to the control connection's peer address).
  virtual void ParseExtendedPassiveReply(const std::string& Reply);
  // Receives until the server closes the data connection, then reads the
  // final reply. True on a 2xx final reply, and under data TLS only when
  // the server ended the session with close_notify.
  virtual bool ReceiveDataChannel(TStream& Stream);
  // Sends Stream from its position to its end, ends the sending direction
  // (close_notify under TLS, then the half-close), reads the final reply
  // and closes the data connection. True on a 2xx final reply; when sending
  // fails ResultString holds the data connection's error text.
  virtual bool SendDataChannel(TStream& Stream);
  // "TYPE A", then "LIST" or (NamesOnly) "NLST", with " " + Directory when
  // Directory is not empty. A full listing is taken line by line into
  // FtpList and parsed; NLST's bytes stay in DataStream. False on any
  // refusal or data failure, and for a full listing beyond MaxListingBytes
  // (ListingTooLarge then tells).
  virtual bool ListDirectory(const std::string& Directory, bool NamesOnly);
  bool ListingTooLarge() const { return ListingTooLarge_; }
  // "RETR " + FileName into DataStream or, with DirectFile, DirectFileName
  // (created anew, or appended to when resuming with "REST " + its size and
  // the server can resume). False on an empty name, a refusal, a local file
  // that cannot be opened or written, or a final reply other than 2xx.
  virtual bool Download(const std::string& FileName, bool Resume);
  // "RETR " + FileName into Target, which the caller created and owns; DirectFile and DataStream
  // are not used. With Resume and CanResume, "REST " + Target's size goes first and the data is
  // appended to Target; otherwise it is written from Target's position. False on an empty name,
  // a refusal, a final reply other than 2xx, or a write to Target that fell short (the transfer
  // stops there; Target knows why).
  virtual bool DownloadToStream(const std::string& FileName, TStream& Target, bool Resume = false);
  // "STOR " + FileName from Source, which the caller opened and owns, from Offset to its end;
  // with Offset above 0 and CanResume, "REST " + Offset goes first (else the whole file is sent).
  virtual bool UploadFromStream(const std::string& FileName, TStream& Source, std::int64_t Offset = 0);
  // True when the server accepted the last upload command (a 1xx reply), so
  // the remote file now holds what that upload sent rather than whatever
  // was there before.
  bool UploadAccepted() const { return UploadAccepted_; }
  // "STOR " + FileName from DataStream or DirectFileName; when resuming,
  // continues after the size the server reports for the file.
  virtual bool Upload(const std::string& FileName, bool Resume);
  // "STOU" (the server picks the name).
  virtual bool UploadUnique();
  // "APPE " + FileName; false for an empty name without any traffic.
  virtual bool AppendUpload(const std::string& FileName);
  // Sends TYPE, "ALLO " + the byte count, "REST " + Offset when Offset is
  // above 0, then Command, and transfers the source from Offset on. A
  // remote file already as long as the source is complete: true at once.
  virtual bool UploadWithCommand(const std::string& Command, std::int64_t Offset);

  // ---- Simple commands ----

  // "RNFR " + OldName then "RNTO " + NewName; true on 3xx then 2xx.
  virtual bool RenameRemote(const std::string& OldName, const std::string& NewName);
  // "DELE " + FileName; true on 2xx.
  virtual bool DeleteRemote(const std::string& FileName);
  // "SIZE " + FileName; the size from a 2xx reply, -1 otherwise.
  virtual std::int64_t QueryFileSize(const std::string& FileName);
  // "NOOP"; true on 2xx.
  virtual bool KeepAliveNoop();
  // "CWD " + Directory; true on 2xx.
  virtual bool ChangeDirectory(const std::string& Directory);
  // "CDUP"; true on 2xx.
  virtual bool ChangeToParent();
  // "RMD " + Directory; true on 2xx.
  virtual bool RemoveDirectory(const std::string& Directory);
  // "MKD " + Directory; true on 2xx.
  virtual bool MakeDirectory(const std::string& Directory);
  // "PWD"; the quoted directory of a 2xx reply, empty otherwise.
  virtual std::string QueryCurrentDirectory();

 private:
  // Helpers of the .cpp that need the private state.
  friend struct TFTPSendDetail;

  // Declared in reverse order of release.
  TStringList FullResult_;
  TMemoryStream DataStream_;
  std::unique_ptr<TFTPList> FtpList_;
  std::unique_ptr<TTCPBlockSocket> Sock_;
  std::unique_ptr<TTCPBlockSocket> DSock_;

  std::int32_t ResultCode_ = 0;
  std::string ResultString_;
  std::string DataIP_;
  std::string DataPort_;
  std::int32_t SocketError_ = 0;
  bool CanResume_ = false;
  bool UploadAccepted_ = false;
  bool IsTLS_ = false;
  bool IsDataTLS_ = false;
  bool ListingTooLarge_ = false;
};

// The blocking socket object the protocol clients own: bind, connect,
// listen, accept and close with the resolved address family; an error state
// (LastErrorCode, a Windows Sockets number) set by every operation instead
// of a returned status; a status hook; deferred socket options; buffered,
// time-out driven receiving (packets, exact blocks, lines, streams) and
// chunked, optionally throttled sending; HTTP CONNECT and SOCKS tunnels;
// and a TLS client session on top.
//
// Nothing here raises unless RaiseExcept is set; callers test LastErrorCode
// after each call. Received bytes that a caller has not taken yet stay in
// PendingInput for the next read. A socket object outlives its connections:
// it is closed and reconnected, never replaced.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "net/inputbuffer.h"
#include "net/sockapi.h"
#include "net/sockerrors.h"
#include "net/tlslib.h"
#include "util/pagebuffer.h"
#include "util/streams.h"

// What a status report is about; the value text of each is in the comment.
enum THookSocketReason : std::uint8_t {
  HS_ResolveStart = 0,   // host ":" port
  HS_ResolveEnd = 1,     // host ":" port
  HS_Created = 2,        // "IPv6" or "IPv4"
  HS_Closed = 3,         // empty
  HS_Bound = 4,          // local host ":" port
  HS_Connected = 5,      // host ":" port
  HS_Readable = 6,       // empty
  HS_Writable = 7,       // empty
  HS_Listening = 8,      // empty
  HS_Accepted = 9,       // empty
  HS_BytesRead = 10,     // decimal count of one receive call
  HS_BytesWritten = 11,  // decimal count of one send chunk
  HS_Throttled = 12,     // decimal milliseconds about to be slept
  HS_Error = 13,         // decimal code "," text
};

class TBlockSocket;

using THookSocketStatus = std::function<void(TBlockSocket* Sender, THookSocketReason Reason, const std::string& Value)>;
// May rewrite (and shorten, never lengthen) the bytes passing through.
using THookDataFilter = std::function<void(TBlockSocket* Sender, std::string& Value)>;
using THookCreateSocket = std::function<void(TBlockSocket* Sender)>;

// Kinds of deferred socket options.
inline constexpr std::uint8_t SOT_Linger = 0;
inline constexpr std::uint8_t SOT_RecvBuff = 1;
inline constexpr std::uint8_t SOT_SendBuff = 2;

// A socket option requested while no socket existed.
struct TSocketOption {
  std::uint8_t Kind = SOT_Linger;
  bool Enabled = false;
  std::int32_t Value = 0;
};

// The socket layer's exception, raised only when RaiseExcept is set (and by
// the start-up guard when the sockets interface cannot be loaded).
class ESocketError : public std::runtime_error {
 public:
  // Message "TCP/IP Socket error <code>: <text>".
  ESocketError(std::int32_t Code, const std::string& Text);
  // A message of its own.
  ESocketError(std::int32_t Code, const std::string& Message, const std::string& Text);

  std::int32_t ErrorCode = 0;
  std::string ErrorMessage;  // the bare error text
};

// Elapsed milliseconds between two readings of the wrapping 32-bit tick:
// a small forward distance across a wrap counts forward, a step back counts
// as its size.
std::uint32_t ElapsedTicks(std::uint32_t OldTick, std::uint32_t NewTick);

class TBlockSocket {
 public:
  TBlockSocket();
  virtual ~TBlockSocket();
  TBlockSocket(const TBlockSocket&) = delete;
  TBlockSocket& operator=(const TBlockSocket&) = delete;

  // --- Settings and state ---------------------------------------------
  THookSocketStatus OnStatus;
  THookDataFilter OnReadFilter;
  THookDataFilter OnWriteFilter;
  THookCreateSocket OnCreateSocket;
  TSocketAddress LocalEndpoint;   // refreshed by UpdateEndpoints
  TSocketAddress RemoteEndpoint;  // refreshed by UpdateEndpoints; SendDatagram target
  std::int32_t Tag = 0;
  TInputBuffer PendingInput;  // received, not yet handed to a caller
  bool RaiseExcept = false;
  std::int32_t MaxLineLength = 0;     // 0 = no limit; longer lines give 10055
  std::int32_t MaxSendBandwidth = 0;  // bytes per second, <= 0 unlimited
  std::uint32_t NextSendTime = 0;
  std::int32_t MaxRecvBandwidth = 0;  // bytes per second, <= 0 unlimited
  std::uint32_t NextReceiveTime = 0;
  bool ConvertLineEnd = false;  // CR, LF, CR LF and LF CR all end a line
  bool EndedOnCR = false;
  bool EndedOnLF = false;
  TSocketFamily Family = SF_Any;  // write through SetFamily
  TSocketFamily SavedFamily = SF_Any;
  bool UsesIPv6 = false;
  bool PreferIP4 = true;
  std::vector<TSocketOption> DeferredOptions;  // in the order requested
  bool InterPacketTimeout = true;  // time-out per wait, not per operation
  std::int32_t SendMaxChunk = 65535;
  bool StopFlag = false;  // makes the next raw read or write fail with 10053
  TSocket SocketHandle = INVALID_SOCKET;
  std::int32_t LastErrorCode = 0;
  std::string LastErrorText;
  // Longest wait in ms for room to send, per wait as InterPacketTimeout has
  // it for receives; -1 waits without limit, 0 not at all. Expiry gives
  // 10060, so a peer that stops reading cannot hang a send.
  std::int32_t SendTimeout = 60000;
  // Longest wait in ms for a connection to be established; -1 waits as long
  // as the system does. Expiry gives 10060, so a peer that drops the SYNs
  // costs no more than the clients' Timeout.
  std::int32_t ConnectTimeout = 60000;
  // Largest block length ReceiveBlock accepts from a peer.
  std::int32_t MaxBlockLength = 16 * 1024 * 1024;
  // A connected descriptor the next Connect takes over instead of dialling
  // (once; it is then reset). The socket owns it: one never used is closed
  // with the socket. The fuzz targets play the peer on the other end of a
  // socketpair this way, without a TCP connection per input.
  TSocket AdoptOnConnect = INVALID_SOCKET;

  // Sets both MaxSendBandwidth and MaxRecvBandwidth.
  void SetMaxBandwidth(std::int32_t Value);

  // --- Virtual operations ---------------------------------------------
  // Sets Family and SavedFamily (the value Family returns to at close).
  virtual void SetFamily(TSocketFamily Value);
  // Takes over Handle (for example from Accept); returns UsesIPv6.
  virtual bool AdoptSocket(TSocket Handle);
  virtual void CloseSocket();
  // Closes at once, discards deferred options, LastErrorCode := 0.
  virtual void AbortSocket();
  // Resolves, creates the socket when needed and connects within
  // ConnectTimeout. 10061 refused, 10060 timed out, 11001 unknown host, ...
  virtual void Connect(const std::string& Host, const std::string& Port);
  // Sends Length bytes in pieces of SendMaxChunk; returns the bytes sent.
  virtual std::int64_t SendBuffer(const void* Buffer, std::int64_t Length);
  virtual void SendByte(std::uint8_t Data);
  virtual void SendText(const std::string& Data);
  // The 4 bytes of Data, little-endian.
  virtual void SendInteger(std::int32_t Data);
  // SendInteger of the length, then the bytes.
  virtual void SendBlock(const std::string& Data);
  // From the stream's position to its end.
  virtual void SendStream(TStream& Stream);
  virtual void SendSizedStream(TStream& Stream);
  virtual void SendSizedStreamNetOrder(TStream& Stream);
  // One receive call, no waiting of its own; the count or -1.
  virtual std::int64_t ReceiveRaw(void* Buffer, std::int64_t Length);
  // Exactly Length bytes unless an error or time-out ends it; the count.
  virtual std::int64_t ReceiveBuffer(void* Buffer, std::int64_t Length, std::int32_t Timeout);
  // Count bytes, or empty on any error.
  virtual std::string ReceiveExact(std::int64_t Count, std::int32_t Timeout);
  virtual std::uint8_t ReceiveByte(std::int32_t Timeout);
  virtual std::int32_t ReceiveInteger(std::int32_t Timeout);
  // A line without its end (CR LF; any line end with ConvertLineEnd);
  // empty on any error, the partial line kept in PendingInput.
  virtual std::string ReceiveLine(std::int32_t Timeout);
  // The data before Terminator; with ConvertLineEnd any line end.
  virtual std::string ReceiveUntil(std::int32_t Timeout, const std::string& Terminator);
  // Buffered data first, else what arrives within Timeout (one wait).
  virtual std::string ReceivePacket(std::int32_t Timeout);
  // A block as SendBlock sends it; a length above MaxBlockLength gives
  // 10055 without reading further.
  virtual std::string ReceiveBlock(std::int32_t Timeout);
  // Appends packets to Stream until an error ends the connection (normally
  // 10054 when the peer closed, 10060 on silence); the code is left set.
  virtual void ReceiveToStream(TStream& Stream, std::int32_t Timeout);
  // Appends exactly Size bytes in pieces of SendMaxChunk.
  virtual void ReceiveToStream(TStream& Stream, std::int32_t Timeout, std::int64_t Size);
  virtual void ReceiveSizedStream(TStream& Stream, std::int32_t Timeout);
  virtual void ReceiveSizedStreamNetOrder(TStream& Stream, std::int32_t Timeout);
  virtual std::int64_t PeekBuffer(void* Buffer, std::int64_t Length);
  virtual std::uint8_t PeekByte(std::int32_t Timeout);
  // Bytes the system holds for reading; 0 when it cannot tell.
  virtual std::int64_t BytesPending();
  virtual std::string LocalAddress();
  virtual std::string RemoteAddress();
  virtual int LocalPort();
  virtual int RemotePort();
  // Readiness wait; -1 waits without limit. A plain time-out is no error.
  virtual bool WaitReadable(std::int32_t Timeout);
  // True at once when PendingInput holds data.
  virtual bool WaitInput(std::int32_t Timeout);
  virtual bool WaitWritable(std::int32_t Timeout);
  virtual std::int64_t SendDatagram(const void* Buffer, std::int64_t Length);
  virtual std::int64_t ReceiveDatagram(void* Buffer, std::int64_t Length);
  virtual int SocketType();
  virtual int SocketProtocol();

  // --- Non-virtual operations -----------------------------------------
  // Binds to a local address; "0.0.0.0":"0" on a fresh SF_Any socket only
  // defers creation to Connect.
  void Bind(const std::string& Host, const std::string& Port);
  // Deferred until the next socket is created when none exists.
  void SetLinger(bool Enabled, std::int32_t Milliseconds);
  void SetReceiveBufferSize(std::int32_t Size);
  void SetSendBufferSize(std::int32_t Size);
  void UpdateEndpoints();
  std::string LocalHostName();
  void ResolveNames(const std::string& Host, TStringList& Names);
  std::string ResolveName(const std::string& Host);
  std::uint16_t ResolvePort(const std::string& Port);
  // Reads and discards what is queued until the first error; then 0.
  void DrainInput();
  static std::string GetErrorDesc(std::int32_t ErrorCode);

  // --- Error state and internal steps ---------------------------------
  // From a system call result: -1 records the mapped errno, else 0.
  void RecordResult(long long Result);
  // Sets LastErrorText; reports HS_Error and raises when asked, except for
  // 0, 10035 and 10036.
  void CheckError();
  // When StopFlag is set: clears it, records 10053 and answers true.
  bool CheckStopRequest();
  void DoStatus(THookSocketReason Reason, const std::string& Value);
  // The settings that steer this socket's resolutions.
  TResolveSettings ResolveSettings();
  // Resolves Host:Port into Address with HS_ResolveStart/End around it.
  void ResolveEndpoint(const std::string& Host, const std::string& Port, TSocketAddress& Address);
  // Creates the socket for the family of Address unless one exists.
  void CreateSocketFor(const TSocketAddress& Address);
  // Connect's way with AdoptOnConnect.
  void ConnectAdopted(const std::string& Host, const std::string& Port);
  void ApplyDeferredOptions();
  void ApplyOption(const TSocketOption& Option);
  void DeferOrApply(const TSocketOption& Option);
  // Waits until Next when a limit is set, then reserves the time Length
  // bytes take at MaxBandwidth bytes per second.
  void ThrottleTransfer(std::int64_t Length, std::int32_t MaxBandwidth, std::uint32_t& Next);
  // Runs OnReadFilter over Count received bytes; returns the new count.
  std::int64_t FilterReceived(void* Buffer, std::int64_t Count);
  // Runs OnWriteFilter over the caller's data: afterwards Buffer and Length
  // describe the bytes to send (held in Holder when the filter ran).
  void FilterOutgoing(const void*& Buffer, std::int64_t& Length, std::string& Holder);
  // ReceivePacket's system side: what the system holds, or what arrives
  // within Timeout, ignoring PendingInput. Sets LastErrorCode, no CheckError.
  std::string ReceiveSocketPacket(std::int32_t Timeout);
  // One poll() for Events on the handle; true when ready.
  bool WaitFor(short Events, std::int32_t Timeout);
  // Waits up to SendTimeout for room to send; false with LastErrorCode set.
  bool WaitSendRoom();
  // The system connect of Connect, not blocking longer than ConnectTimeout:
  // 0, or -1 with errno set (ETIMEDOUT on expiry).
  int ConnectWithin(const TSocketAddress& Address);
  // Writes Count bytes to Stream; a short or failed write (full disk)
  // records 10069 and answers false.
  bool StoreInStream(TStream& Stream, const void* Buffer, std::int64_t Count);
  // As ReceiveSocketPacket, the bytes left in a buffer of the socket's own
  // (valid until the next receive), so bulk reads allocate nothing.
  std::string_view ReceiveSocketView(std::int32_t Timeout);

 private:
  TPageBuffer ReceiveScratch_;
};

// Version of the SOCKS protocol spoken to the proxy.
enum TSocksType : std::uint8_t { ST_Socks5 = 0, ST_Socks4 = 1 };

// A block socket that can reach its peer through a SOCKS 4, 4a or 5 proxy.
class TSocksBlockSocket : public TBlockSocket {
 public:
  std::string SocksIP;  // non-empty switches SOCKS on
  std::string SocksPort = "1080";
  std::int32_t SocksTimeout = 60000;
  std::string SocksUsername;
  std::string SocksPassword;
  bool ViaSocks = false;
  bool SocksResolver = true;  // let the proxy resolve host names
  std::int32_t SocksReplyCode = 0;
  std::string SocksBoundAddress;
  std::string SocksBoundPort;
  std::string ProxiedLocalAddress;
  std::string ProxiedLocalPort;
  std::string ProxiedRemoteAddress;
  std::string ProxiedRemotePort;
  bool RawMode = false;  // set during negotiations: bypass TLS
  TSocksType SocksType = ST_Socks5;

  // Connects to Host:Port through the proxy at SocksIP:SocksPort (10091
  // when the proxy refuses).
  void ConnectViaSocks(const std::string& Host, const std::string& Port);
  bool SocksGreeting();
  // Command 1 = CONNECT, 2 = BIND.
  bool SocksSendRequest(std::uint8_t Command, const std::string& Host, const std::string& Port);
  bool SocksReadReply();
  std::string SocksEncodeAddress(const std::string& Host, const std::string& Port);
  void SocksDecodeAddress(const std::string& Reply);
  // Listen and Accept through the proxy (BIND); 11003 when refused. The
  // error check and status report stay with Listen and Accept.
  void SocksListen();
  TSocket SocksAccept();
};

// The stream (TCP) socket the clients use, with the HTTP CONNECT tunnel and
// the TLS client session.
class TTCPBlockSocket : public TSocksBlockSocket {
 public:
  TTCPBlockSocket();
  ~TTCPBlockSocket() override;

  // --- TLS ------------------------------------------------------------
  bool TlsEnabled = false;  // write through SetTlsEnabled
  bool SSLBypass = false;   // reads and writes go past TLS in the clear
  SSL* TlsSession = nullptr;
  SSL_CTX* TlsContext = nullptr;
  std::string SSLPassword;  // for an encrypted private key file
  std::string SSLCiphers = "DEFAULT";
  std::string SSLCertificateFile;
  std::string SSLPrivateKeyFile;
  std::string SSLCertCAFile;
  std::int32_t TlsLastError = 0;
  std::string TlsLastErrorText;
  bool SSLverifyCert = false;
  TSSLType SSLType = LT_all;
  // Bounds the handshake and every wait inside a TLS write (ms); TLS reads
  // never wait on their own.
  std::int32_t TlsTimeout = 60000;
  // The host Connect was last asked for: sent as the server name in the
  // handshake and checked against the certificate when verifying.
  std::string TlsPeerName;
  // Offered for resumption by the next handshake: an FTP data connection
  // resumes its control connection's session, which most FTPS servers
  // demand. Null: a full handshake.
  std::shared_ptr<SSL_SESSION> TlsReuseSession;

  // --- HTTP CONNECT tunnel ---------------------------------------------
  std::string HTTPTunnelIP;  // non-empty (without SocksIP) selects the tunnel
  std::string HTTPTunnelPort;
  bool ViaHttpTunnel = false;
  std::string TunnelRemoteAddress;
  std::string TunnelRemotePort;
  std::string HTTPTunnelUser;
  std::string HTTPTunnelPass;
  std::int32_t HTTPTunnelTimeout = 30000;

  // --- Overrides -------------------------------------------------------
  // Ends TLS, shuts the sending side down, drains, then aborts.
  void CloseSocket() override;
  // Direct, through SOCKS or through the HTTP tunnel; then the TLS
  // handshake when TlsEnabled.
  void Connect(const std::string& Host, const std::string& Port) override;
  std::int64_t SendBuffer(const void* Buffer, std::int64_t Length) override;
  std::int64_t ReceiveRaw(void* Buffer, std::int64_t Length) override;
  // Under TLS also 1 for a connection the peer has ended without the
  // session's own end, so that the read which follows reports it.
  std::int64_t BytesPending() override;
  std::string LocalAddress() override;
  std::string RemoteAddress() override;
  int LocalPort() override;
  int RemotePort() override;
  int SocketType() override;
  int SocketProtocol() override;
  // Decrypted bytes the session already holds, and the end of a session
  // the peer has closed, count as readable.
  bool WaitReadable(std::int32_t Timeout) override;
  // Listens with the system's largest backlog (or at the SOCKS proxy).
  virtual void Listen();
  // The accepted connection's handle (INVALID_SOCKET on failure); the
  // socket's own handle through SOCKS.
  TSocket Accept();

  // --- TLS steps --------------------------------------------------------
  // Switches TLS on (context and session made, 10043 when impossible,
  // 10022 for a rejected key file) or off (both freed).
  void SetTlsEnabled(bool Value);
  // The handshake on the connected socket: 10091 failed, 10013 rejected
  // certificate; TLS is switched off again on failure, and LastErrorText
  // ends with ": " + TlsFailureReason.
  void StartTls();
  // SSL_shutdown of the session (if any), then TLS off.
  void CloseTls();
  // Ends our direction only: close_notify under TLS, then the half-close.
  // The peer reads to that end while its replies can still arrive: closing
  // at once could meet them with a reset that drops what we sent last.
  // CloseSocket follows.
  void EndSending();
  // The established session, for another socket's TlsReuseSession; null
  // without one.
  std::shared_ptr<SSL_SESSION> TlsSessionForReuse() const;
  // Whether a stream that ran until the connection's end ended properly:
  // under TLS only when the peer sent close_notify, since a bare TCP close
  // (which anyone on the path can forge) may cut the data anywhere. Reads
  // report such a close as 10091 (TlsFailureReason "unexpected eof while
  // reading"), not as 10054. True without TLS. Ask before CloseSocket.
  bool TlsEndedCleanly() const;
  // Why the handshake or a read or write of the session failed, in words
  // for the log: the certificate check ("certificate verify failed:
  // self-signed certificate", "host name mismatch") or the library's reason
  // ("unexpected eof while reading"); empty when there is none.
  std::string TlsFailureReason() const;
  // Cipher list, verification mode, password callback and key files of a
  // new context, then the session; 10022 or 10043 when refused.
  void SetUpTlsContext();
  // Frees session and context; TLS is off afterwards.
  void FreeTls();
  // SSL_connect on the connected socket within TlsTimeout: 10060 when it
  // runs out, 10091 when it fails, 10013 for a rejected certificate.
  void Handshake();
  bool LoadTlsKeys();
  // Takes the library's first queued error into TlsLastError(Text); true
  // when there was none.
  bool CollectTlsError();
  // True when a read or write must be repeated; sets 10091 on failure and
  // Count to 0 on a cleanly closed session.
  bool CheckTlsResult(int Result, std::int64_t& Count);
  // True when reads and writes go through the TLS session.
  bool TlsActive() const;
  std::int64_t TlsReceiveRaw(void* Buffer, std::int64_t Length);
  std::int64_t TlsSendBuffer(const void* Buffer, std::int64_t Length);
  // With linger on at 0 seconds the close would reset the connection and
  // drop unsent data: wait (bounded) until the peer has it all.
  void FlushBeforeClose();
  // Password callback of the context (user data = the socket).
  static int SupplyKeyPassword(char* Buffer, int Size, int RWFlag, void* UserData);

  // --- Tunnel steps -----------------------------------------------------
  // CONNECT through the proxy at HTTPTunnelIP:HTTPTunnelPort; 10091 when
  // the proxy refuses.
  void OpenHttpTunnel(const std::string& Host, const std::string& Port);
  // Reads the proxy's reply up to its empty line (bounded in lines and
  // bytes); sets ViaHttpTunnel from the status line.
  void ReadTunnelReply();
};

// Makes the sockets interface available for the life of main and releases
// it (and the TLS library) at the end. Raises ESocketError when the
// interface cannot be loaded.
class TSocketInterfaceGuard {
 public:
  TSocketInterfaceGuard();
  ~TSocketInterfaceGuard();
  TSocketInterfaceGuard(const TSocketInterfaceGuard&) = delete;
  TSocketInterfaceGuard& operator=(const TSocketInterfaceGuard&) = delete;
};

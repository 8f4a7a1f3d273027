// The TLS client session of the stream socket.
#include "net/blocksock.h"

void TTCPBlockSocket::SetTlsEnabled(bool Value) {
  LastErrorCode = 0;
  if (Value == TlsEnabled) return;
  PendingInput.clear();
  if (Value) LastErrorCode = WSAEPROTONOSUPPORT;
  TlsEnabled = false;
  CheckError();
}

void TTCPBlockSocket::StartTls() {
  LastErrorCode = WSAEPROTONOSUPPORT;
  TlsEnabled = false;
  CheckError();
}

void TTCPBlockSocket::CloseTls() { TlsEnabled = false; }

bool TTCPBlockSocket::LoadTlsKeys() { return false; }

bool TTCPBlockSocket::CollectTlsError() { return true; }

bool TTCPBlockSocket::CheckTlsResult(int, std::int64_t&) { return false; }

bool TTCPBlockSocket::TlsActive() const { return TlsEnabled && !SSLBypass && !RawMode; }

std::int64_t TTCPBlockSocket::TlsReceiveRaw(void* Buffer, std::int64_t Length) {
  return TBlockSocket::ReceiveRaw(Buffer, Length);
}

std::int64_t TTCPBlockSocket::TlsSendBuffer(const void* Buffer, std::int64_t Length) {
  return TBlockSocket::SendBuffer(Buffer, Length);
}

int TTCPBlockSocket::SupplyKeyPassword(char*, int, int, void*) { return 0; }

std::int64_t TTCPBlockSocket::SendBuffer(const void* Buffer, std::int64_t Length) {
  if (TlsActive()) return TlsSendBuffer(Buffer, Length);
  return TBlockSocket::SendBuffer(Buffer, Length);
}

std::int64_t TTCPBlockSocket::ReceiveRaw(void* Buffer, std::int64_t Length) {
  if (TlsActive()) return TlsReceiveRaw(Buffer, Length);
  return TBlockSocket::ReceiveRaw(Buffer, Length);
}

std::int64_t TTCPBlockSocket::BytesPending() { return TBlockSocket::BytesPending(); }

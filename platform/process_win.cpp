#include "platform/process.h"

#include "platform/widetext_win.h"

std::string ExecutablePath() {
  // Paths past MAX_PATH are possible; grow until the whole name fits.
  std::wstring Buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD Length = GetModuleFileNameW(nullptr, Buffer.data(), static_cast<DWORD>(Buffer.size()));
    if (Length == 0) return "tarvo";
    if (Length < Buffer.size()) return Utf8FromWide(Buffer.data(), static_cast<int>(Length));
    if (Buffer.size() >= 32768) return "tarvo";
    Buffer.resize(Buffer.size() * 2);
  }
}

// Windows sends no signal for a write to a closed connection: the send
// fails with WSAECONNRESET or WSAECONNABORTED instead.
void IgnoreBrokenPipes() {}

#include "platform/console.h"

#include <algorithm>
#include <cstdio>

#include "platform/widetext_win.h"

void WriteConsoleLine(const std::string& Line) {
  std::fflush(stdout);
  const HANDLE Output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (Output == nullptr || Output == INVALID_HANDLE_VALUE) return;
  // A console window shows bytes in its own code page, so names outside
  // ASCII would be garbled there; it is given the text itself instead.
  // Pipes and files still get the UTF-8 bytes.
  DWORD Mode = 0;
  if (GetConsoleMode(Output, &Mode)) {
    const std::wstring Wide = WideFromUtf8(Line);
    // Consoles take a limited amount per call: pieces of 8192 characters.
    for (std::size_t Done = 0; Done < Wide.size();) {
      DWORD Written = 0;
      const auto Piece = static_cast<DWORD>(std::min<std::size_t>(Wide.size() - Done, 8192));
      if (!WriteConsoleW(Output, Wide.data() + Done, Piece, &Written, nullptr) || Written == 0) break;
      Done += Written;
    }
    return;
  }
  // WriteFile passes the bytes as they are (no LF to CR LF) and buffers
  // nothing, whether the handle is a pipe or a file.
  const char* Data = Line.data();
  std::size_t Left = Line.size();
  while (Left > 0) {
    DWORD Written = 0;
    if (!WriteFile(Output, Data, static_cast<DWORD>(Left), &Written, nullptr) || Written == 0) break;
    Data += Written;
    Left -= Written;
  }
}

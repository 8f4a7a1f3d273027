#include "platform/console.h"

#include <cstdio>

#include "platform/widetext_win.h"

void WriteConsoleLine(const std::string& Line) {
  std::fflush(stdout);
  // WriteFile passes the bytes as they are (no LF to CR LF) and buffers
  // nothing, whether the handle is a console, a pipe or a file.
  const HANDLE Output = GetStdHandle(STD_OUTPUT_HANDLE);
  if (Output == nullptr || Output == INVALID_HANDLE_VALUE) return;
  const char* Data = Line.data();
  std::size_t Left = Line.size();
  while (Left > 0) {
    DWORD Written = 0;
    if (!WriteFile(Output, Data, static_cast<DWORD>(Left), &Written, nullptr) || Written == 0) break;
    Data += Written;
    Left -= Written;
  }
}

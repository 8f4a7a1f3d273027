// Windows only: the program's strings are UTF-8, the Win32 "W" functions
// take UTF-16; these are the conversions between them and the system's
// reason texts.
#pragma once

#include <windows.h>

#include <string>

// UTF-16 of a UTF-8 text (invalid sequences become U+FFFD).
inline std::wstring WideFromUtf8(const std::string& Text) {
  if (Text.empty()) return {};
  const int Length = MultiByteToWideChar(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), nullptr, 0);
  std::wstring Wide(static_cast<std::size_t>(Length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, Text.data(), static_cast<int>(Text.size()), Wide.data(), Length);
  return Wide;
}

// UTF-8 of a UTF-16 text.
inline std::string Utf8FromWide(const wchar_t* Text, int Length = -1) {
  if (Length < 0) Length = static_cast<int>(wcslen(Text));
  if (Length == 0) return {};
  const int Size = WideCharToMultiByte(CP_UTF8, 0, Text, Length, nullptr, 0, nullptr, nullptr);
  std::string Utf8(static_cast<std::size_t>(Size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, Text, Length, Utf8.data(), Size, nullptr, nullptr);
  return Utf8;
}

// A path for the W functions: UTF-16, every "/" turned into "\", which all
// of them accept.
inline std::wstring WidePath(const std::string& Path) {
  std::wstring Wide = WideFromUtf8(Path);
  for (wchar_t& C : Wide)
    if (C == L'/') C = L'\\';
  return Wide;
}

// The system's text for an error code, without the trailing line end.
inline std::string SystemErrorText(DWORD Code) {
  wchar_t* Buffer = nullptr;
  const DWORD Length =
      FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                     nullptr, Code, 0, reinterpret_cast<wchar_t*>(&Buffer), 0, nullptr);
  std::string Text = Length > 0 ? Utf8FromWide(Buffer, static_cast<int>(Length)) : std::string();
  if (Buffer != nullptr) LocalFree(Buffer);
  while (!Text.empty() && (Text.back() == '\n' || Text.back() == '\r' || Text.back() == ' ' || Text.back() == '.'))
    Text.pop_back();
  if (Text.empty()) Text = "Windows error " + std::to_string(Code);
  return Text;
}

// A FILETIME (100 ns steps from 1601-01-01 UTC) of Unix seconds; false
// before 1601.
inline bool FileTimeFromUnix(long long UnixSeconds, FILETIME& Time) {
  constexpr long long SecondsFrom1601To1970 = 11644473600LL;
  if (UnixSeconds < -SecondsFrom1601To1970) return false;
  const auto Ticks = static_cast<unsigned long long>(UnixSeconds + SecondsFrom1601To1970) * 10000000ULL;
  Time.dwLowDateTime = static_cast<DWORD>(Ticks & 0xFFFFFFFFu);
  Time.dwHighDateTime = static_cast<DWORD>(Ticks >> 32);
  return true;
}

// The URL, percent and base64 helpers: SplitUrl never fails and gives its
// documented defaults, PercentEncodeUrl leaves no unsafe byte and decodes
// back, Base64Encode decodes back through a small reference decoder.
#include <cstdlib>
#include <string>

#include "util/codec.h"
#include "util/textutil.h"

namespace {

int HexValue(char C) {
  if (C >= '0' && C <= '9') return C - '0';
  if (C >= 'A' && C <= 'F') return C - 'A' + 10;
  return -1;
}

std::string PercentDecode(const std::string& Text) {
  std::string Out;
  for (std::size_t I = 0; I < Text.size(); ++I) {
    if (UrlUnsafeChars.test(static_cast<unsigned char>(Text[I])) && Text[I] != '%') std::abort();
    if (Text[I] != '%') {
      Out += Text[I];
      continue;
    }
    if (I + 2 >= Text.size()) std::abort();
    const int High = HexValue(Text[I + 1]);
    const int Low = HexValue(Text[I + 2]);
    if (High < 0 || Low < 0) std::abort();
    Out += static_cast<char>(High * 16 + Low);
    I += 2;
  }
  return Out;
}

std::string Base64Decode(const std::string& Text) {
  static const std::string Alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  if (Text.size() % 4 != 0) std::abort();
  std::string Out;
  unsigned Bits = 0;
  int Count = 0;
  for (const char C : Text) {
    if (C == '=') break;
    const std::size_t Value = Alphabet.find(C);
    if (Value == std::string::npos) std::abort();
    Bits = (Bits << 6) | static_cast<unsigned>(Value);
    Count += 6;
    if (Count >= 8) {
      Count -= 8;
      Out += static_cast<char>((Bits >> Count) & 0xFF);
    }
  }
  return Out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  const std::string Text(reinterpret_cast<const char*>(Data), Size);
  const TUrlParts Parts = SplitUrl(Text);
  if (Parts.Host.empty() || Parts.Path.empty() || Parts.Path[0] != '/' || Parts.Uri.empty() ||
      Parts.Uri[0] != '/') {
    std::abort();
  }
  if (PercentDecode(PercentEncodeUrl(Text)) != Text) std::abort();
  if (Base64Decode(Base64Encode(Text)) != Text) std::abort();
  IsIPv6Literal(Text);
  IPv4ToBytes(Text);
  FindLineEnd(Text);
  return 0;
}

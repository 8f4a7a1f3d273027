// URL percent-encoding and base64; see codec.h.
#include "util/codec.h"

#include <cstddef>

namespace {

// The rule behind UrlUnsafeChars, usable before static initialisation ends.
constexpr bool IsUrlUnsafe(unsigned char Byte) {
  return Byte <= 0x20 || Byte == 0x22 || Byte == 0x25 || Byte == 0x3C || Byte == 0x3E ||
         (Byte >= 0x5B && Byte <= 0x60) || Byte >= 0x7B;
}

std::bitset<256> MakeUrlUnsafeChars() {
  std::bitset<256> unsafe;
  for (unsigned b = 0; b < 256; ++b) unsafe.set(b, IsUrlUnsafe(static_cast<unsigned char>(b)));
  return unsafe;
}

constexpr char kUpperHexDigits[] = "0123456789ABCDEF";
constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

}  // namespace

const std::bitset<256> UrlUnsafeChars = MakeUrlUnsafeChars();

std::string PercentEncodeUrl(const std::string& Text) {
  std::string encoded;
  encoded.reserve(Text.size());
  for (const char c : Text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (!IsUrlUnsafe(byte)) {
      encoded += c;
      continue;
    }
    encoded += '%';
    encoded += kUpperHexDigits[byte >> 4];
    encoded += kUpperHexDigits[byte & 0x0F];
  }
  return encoded;
}

std::string Base64Encode(const std::string& Bytes) {
  std::string encoded;
  encoded.reserve((Bytes.size() + 2) / 3 * 4);
  const auto byteAt = [&Bytes](std::size_t i) -> unsigned {
    return static_cast<unsigned char>(Bytes[i]);
  };
  std::size_t i = 0;
  for (; i + 3 <= Bytes.size(); i += 3) {
    const unsigned group = byteAt(i) << 16 | byteAt(i + 1) << 8 | byteAt(i + 2);
    encoded += kBase64Alphabet[group >> 18 & 0x3F];
    encoded += kBase64Alphabet[group >> 12 & 0x3F];
    encoded += kBase64Alphabet[group >> 6 & 0x3F];
    encoded += kBase64Alphabet[group & 0x3F];
  }
  const std::size_t left = Bytes.size() - i;
  if (left == 0) return encoded;
  const unsigned group = byteAt(i) << 16 | (left == 2 ? byteAt(i + 1) << 8 : 0);
  encoded += kBase64Alphabet[group >> 18 & 0x3F];
  encoded += kBase64Alphabet[group >> 12 & 0x3F];
  encoded += left == 2 ? kBase64Alphabet[group >> 6 & 0x3F] : '=';
  encoded += '=';
  return encoded;
}

// Byte-string and URL helpers; see textutil.h.
#include "util/textutil.h"

#include <algorithm>
#include <cstdint>

#include "util/streams.h"

namespace {

constexpr char kSpace = ' ';

// 0-based index of the first occurrence, npos when absent or Delimiter empty.
std::size_t FindDelimiter(const std::string& Text, const std::string& Delimiter) {
  if (Delimiter.empty()) return std::string::npos;
  return Text.find(Delimiter);
}

std::string UpperAscii(std::string Text) {
  for (char& c : Text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return Text;
}

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A non-empty run of hexadecimal digits whose value is at most FFFF
// (leading zeros allowed).
bool IsHexWord(const std::string& Text) {
  if (Text.empty()) return false;
  std::uint32_t value = 0;
  for (const char c : Text) {
    const int digit = HexDigitValue(c);
    if (digit < 0) return false;
    value = value * 16 + static_cast<std::uint32_t>(digit);
    if (value > 0xFFFF) return false;
  }
  return true;
}

// A decimal integer with an optional sign, as a 32-bit value; 0 when the
// text is not such a number (the fallback the address fields rely on).
std::int32_t DecimalOrZero(const std::string& Text) {
  std::size_t i = 0;
  bool negative = false;
  if (i < Text.size() && (Text[i] == '-' || Text[i] == '+')) {
    negative = Text[i] == '-';
    ++i;
  }
  if (i == Text.size()) return 0;
  std::int64_t value = 0;
  for (; i < Text.size(); ++i) {
    const char c = Text[i];
    if (c < '0' || c > '9') return 0;
    value = value * 10 + (c - '0');
    if (value > 0x80000000LL) return 0;
  }
  if (negative) value = -value;
  if (value > INT32_MAX || value < INT32_MIN) return 0;
  return static_cast<std::int32_t>(value);
}

}  // namespace

std::string TextBefore(const std::string& Text, const std::string& Delimiter) {
  const std::size_t at = FindDelimiter(Text, Delimiter);
  if (at == std::string::npos) return Text;
  return Text.substr(0, at);
}

std::string TextAfter(const std::string& Text, const std::string& Delimiter) {
  const std::size_t at = FindDelimiter(Text, Delimiter);
  if (at == std::string::npos) return Text;
  return Text.substr(at + Delimiter.size());
}

std::string CutTokenRaw(std::string& Text, const std::string& Delimiter) {
  const std::size_t at = FindDelimiter(Text, Delimiter);
  if (at == std::string::npos) {
    std::string token = std::move(Text);
    Text.clear();
    return token;
  }
  std::string token = Text.substr(0, at);
  Text.erase(0, at + Delimiter.size());
  return token;
}

std::string CutToken(std::string& Text, const std::string& Delimiter) {
  const std::string token = CutTokenRaw(Text, Delimiter);
  Text = TrimSpaces(Text);
  return TrimSpaces(token);
}

std::string TrimLeadingSpaces(const std::string& Text) {
  const std::size_t first = Text.find_first_not_of(kSpace);
  if (first == std::string::npos) return std::string();
  return Text.substr(first);
}

std::string TrimTrailingSpaces(const std::string& Text) {
  const std::size_t last = Text.find_last_not_of(kSpace);
  if (last == std::string::npos) return std::string();
  return Text.substr(0, last + 1);
}

std::string TrimSpaces(const std::string& Text) {
  return TrimTrailingSpaces(TrimLeadingSpaces(Text));
}

std::string TrimControls(const std::string& Text) {
  std::size_t First = 0;
  std::size_t Last = Text.size();
  while (First < Last && static_cast<unsigned char>(Text[First]) <= 0x20) ++First;
  while (Last > First && static_cast<unsigned char>(Text[Last - 1]) <= 0x20) --Last;
  return Text.substr(First, Last - First);
}

std::size_t LastPosition(const std::string& Sub, const std::string& Text) {
  const std::size_t at = Text.rfind(Sub);
  if (at == std::string::npos) return 0;
  return at + 1;
}

std::string ReplaceAll(const std::string& Text, const std::string& Search,
                       const std::string& Replacement) {
  if (Text.empty() || Search.empty()) return Text;
  std::string result;
  std::size_t from = 0;
  for (;;) {
    const std::size_t at = Text.find(Search, from);
    if (at == std::string::npos) break;
    result.append(Text, from, at - from);
    result += Replacement;
    from = at + Search.size();
  }
  result.append(Text, from, std::string::npos);
  return result;
}

TLineEnd FindLineEnd(const std::string& Text) {
  // Two-byte terminators first, so that one starting at the same position
  // as a lone CR or LF keeps the choice.
  static const char* const kTerminators[] = {"\r\n", "\n\r", "\r", "\n"};
  TLineEnd found;
  for (const char* terminator : kTerminators) {
    const std::size_t at = Text.find(terminator);
    if (at == std::string::npos) continue;
    if (found.Position == 0 || at + 1 < found.Position) {
      found.Position = at + 1;
      found.Terminator = terminator;
    }
  }
  return found;
}

void WriteTextToStream(TStream& Stream, const std::string& Text) {
  if (Text.empty()) return;
  Stream.Write(Text.data(), static_cast<std::int64_t>(Text.size()));
}

std::string IPv4ToBytes(const std::string& Text) {
  std::string rest = Text;
  std::string bytes(4, '\0');
  for (int i = 0; i < 3; ++i) {
    bytes[i] = static_cast<char>(DecimalOrZero(CutToken(rest, ".")) & 0xFF);
  }
  bytes[3] = static_cast<char>(DecimalOrZero(rest) & 0xFF);
  return bytes;
}

bool IsIPv6Literal(const std::string& Host) {
  // Every IPv6 address has a ":"; without this test short host names made
  // of hexadecimal digits ("db1", "cafe") would be bracketed in Host and
  // CONNECT lines and resolved as IPv6 only.
  if (Host.find(':') == std::string::npos) return false;
  // The text's last field must not be empty: "1::" and "1:" are not
  // addresses, nor is a text of spaces.
  const std::size_t lastColon = Host.rfind(':');
  const std::size_t lastFieldStart = lastColon == std::string::npos ? 0 : lastColon + 1;
  if (TrimSpaces(Host.substr(lastFieldStart)).empty()) return false;
  std::string rest = Host;
  int fields = 0;
  int innerEmptyFields = 0;
  while (!rest.empty()) {
    std::string field = CutToken(rest, ":");
    ++fields;
    const bool isLast = rest.empty();
    if (field.empty()) {
      // Only one "::" may appear; the leading ":" of a "::" at the very
      // start gives the first, uncounted empty field.
      if (fields > 1 && ++innerEmptyFields > 1) return false;
      continue;
    }
    if (isLast && field.find('%') != std::string::npos) {
      if (!IsHexWord(TextAfter(field, "%"))) return false;
      field = TextBefore(field, "%");
      if (field.empty()) continue;
    }
    if (fields > 8 || !IsHexWord(field)) return false;
  }
  return true;
}

TUrlParts SplitUrl(const std::string& Url) {
  TUrlParts parts;
  std::string rest = Url;
  // A "://" inside the path or query ("host/go?to=http://other/") is not a
  // scheme: taking it as one would send the request to the wrong host.
  const std::size_t schemeEnd = Url.find("://");
  if (schemeEnd != std::string::npos && Url.find_first_of("/?#") >= schemeEnd) {
    parts.Prot = Url.substr(0, schemeEnd);
    rest = Url.substr(schemeEnd + 3);
  }
  const std::string scheme = UpperAscii(parts.Prot);
  if (scheme == "HTTPS") parts.Port = "443";
  if (scheme == "FTP") parts.Port = "21";

  // User information ends at an "@" that stands before the first "/".
  const std::size_t at = rest.find('@');
  const std::size_t slash = rest.find('/');
  if (at != std::string::npos && (slash == std::string::npos || slash > at)) {
    const std::string userInfo = rest.substr(0, at);
    rest.erase(0, at + 1);
    parts.User = TextBefore(userInfo, ":");
    if (userInfo.find(':') != std::string::npos) parts.Pass = TextAfter(userInfo, ":");
  }

  std::string hostPort = rest;
  std::string tail;
  const std::size_t pathStart = rest.find('/');
  if (pathStart != std::string::npos) {
    hostPort = rest.substr(0, pathStart);
    tail = rest.substr(pathStart + 1);
  }

  if (!hostPort.empty() && hostPort[0] == '[') {
    const std::size_t close = hostPort.find(']');
    parts.Host = hostPort.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    // Without the closing bracket nothing follows the address.
    if (close != std::string::npos && close + 1 < hostPort.size() && hostPort[close + 1] == ':') {
      parts.Port = hostPort.substr(close + 2);
    }
  } else if (hostPort.find(':') != std::string::npos) {
    parts.Host = TextBefore(hostPort, ":");
    parts.Port = TextAfter(hostPort, ":");
  } else {
    parts.Host = hostPort;
  }

  parts.Uri = "/" + tail;
  const std::size_t query = tail.find('?');
  if (query != std::string::npos) {
    parts.Path = "/" + tail.substr(0, query);
    parts.Para = tail.substr(query + 1);
  } else {
    parts.Path = "/" + tail;
  }
  if (parts.Host.empty()) parts.Host = "localhost";
  return parts;
}

std::string MaskUrlPassword(const std::string& Url) {
  const std::size_t SchemeEnd = Url.find("://");
  const std::size_t Start = SchemeEnd != std::string::npos && Url.find_first_of("/?#") >= SchemeEnd ? SchemeEnd + 3 : 0;
  const std::size_t AuthorityEnd = std::min(Url.find('/', Start), Url.size());
  const std::size_t At = Url.rfind('@', AuthorityEnd == 0 ? 0 : AuthorityEnd - 1);
  if (At == std::string::npos || At < Start) return Url;
  const std::size_t Colon = Url.find(':', Start);
  if (Colon == std::string::npos || Colon > At) return Url;
  return Url.substr(0, Colon + 1) + "***" + Url.substr(At);
}

// Byte encodings used on the wire: percent-encoding of URLs (HTTP upload
// targets) and base64 (basic authentication for HTTP and proxies).
#pragma once

#include <bitset>
#include <string>

// The bytes PercentEncodeUrl escapes: 0x00-0x20, '"', '%', '<', '>',
// 0x5B-0x60 ("[\]^_`") and 0x7B-0xFF ("{|}~", DEL and every byte from 0x80).
// URL punctuation such as ":/?#&=+;@,-.()" and all letters and digits pass.
extern const std::bitset<256> UrlUnsafeChars;

// Text with every byte of UrlUnsafeChars written as "%" and two upper-case
// hexadecimal digits; other bytes unchanged. Meant for a whole URL, scheme
// and host included; a "%" already present becomes "%25". Never fails.
std::string PercentEncodeUrl(const std::string& Text);

// Standard base64 (RFC 4648 alphabet, "=" padding, no line breaks) of any
// bytes: 4 * ceil(n / 3) characters, empty for empty input. Never fails.
std::string Base64Encode(const std::string& Bytes);

// Percent-encoding and base64: the fixed cases, then random bytes checked
// against independent encoders (Python's urllib for URLs, OpenSSL for
// base64).
#include "util/codec.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdio>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "support/testsupport.h"

using namespace testsupport;

namespace {

// Every byte that travels unescaped: letters, digits and URL punctuation.
const std::string kPassingBytes =
    "!#$&'()*+,-./0123456789:;=?@ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

std::string ReferencePercentEncode(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (kPassingBytes.find(c) != std::string::npos) {
      out += c;
      continue;
    }
    char escaped[4];
    std::snprintf(escaped, sizeof escaped, "%%%02X", static_cast<unsigned char>(c));
    out += escaped;
  }
  return out;
}

std::vector<std::string> RandomByteStrings(unsigned seed, int count, int maxLength) {
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> length(0, maxLength);
  std::uniform_int_distribution<int> byte(0, 255);
  std::vector<std::string> texts;
  for (int i = 0; i < count; ++i) {
    std::string text(static_cast<std::size_t>(length(random)), '\0');
    for (char& c : text) c = static_cast<char>(byte(random));
    texts.push_back(text);
  }
  return texts;
}

std::string ToHex(const std::string& bytes) {
  std::string hex;
  char pair[3];
  for (const char c : bytes) {
    std::snprintf(pair, sizeof pair, "%02x", static_cast<unsigned char>(c));
    hex += pair;
  }
  return hex;
}

std::string OpenSslBase64(const std::string& bytes) {
  std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int written = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                      reinterpret_cast<const unsigned char*>(bytes.data()),
                                      static_cast<int>(bytes.size()));
  out.resize(static_cast<std::size_t>(written));
  return out;
}

TEST(PercentEncode, EscapesUnsafeBytesAndKeepsUrlPunctuation) {
  EXPECT_EQ(PercentEncodeUrl(" "), "%20");
  EXPECT_EQ(PercentEncodeUrl("_"), "%5F");
  EXPECT_EQ(PercentEncodeUrl("~"), "%7E");
  EXPECT_EQ(PercentEncodeUrl("http://host:8080/up load/a_b.txt?x=1&y=%41"),
            "http://host:8080/up%20load/a%5Fb.txt?x=1&y=%2541");
  EXPECT_EQ(PercentEncodeUrl(std::string("\0\x7F\x80\xFF", 4)), "%00%7F%80%FF");
  EXPECT_EQ(PercentEncodeUrl("\"<>[\\]^`{|}"), "%22%3C%3E%5B%5C%5D%5E%60%7B%7C%7D");
  EXPECT_EQ(PercentEncodeUrl("#;@,+()-.!$'*"), "#;@,+()-.!$'*");
  EXPECT_EQ(PercentEncodeUrl(""), "");
}

TEST(PercentEncode, UnsafeSetIsExactlyTheComplementOfThePassingBytes) {
  for (int b = 0; b < 256; ++b) {
    const bool passes = kPassingBytes.find(static_cast<char>(b)) != std::string::npos;
    EXPECT_EQ(UrlUnsafeChars.test(static_cast<std::size_t>(b)), !passes) << b;
    const std::string encoded = PercentEncodeUrl(std::string(1, static_cast<char>(b)));
    EXPECT_EQ(encoded.size(), passes ? 1u : 3u) << b;
  }
}

TEST(PercentEncode, RandomBytesAgreeWithPythonAndAPlainReference) {
  const std::string python = "/usr/bin/python3";
  if (!HaveProgram(python)) GTEST_SKIP() << "no " << python;
  const std::vector<std::string> texts = RandomByteStrings(20061, 2000, 64);

  TempDir dir;
  std::string input;
  for (const std::string& text : texts) input += ToHex(text) + "\n";
  WriteFile(dir / "input.hex", input);
  // quote() never escapes "_" and "~", which we do; nothing else it emits
  // contains them, so replacing them afterwards is exact.
  WriteFile(dir / "quote.py",
            "import sys, urllib.parse\n"
            "for line in open(sys.argv[1]):\n"
            "    q = urllib.parse.quote(bytes.fromhex(line.strip()), safe=\"!#$&'()*+,/:;=?@\")\n"
            "    print(q.replace('_', '%5F').replace('~', '%7E'))\n");
  const RunResult run = RunProcess({python, dir / "quote.py", dir / "input.hex"}, "", {}, 60);
  ASSERT_EQ(run.ExitCode, 0) << run.ErrorText;

  std::istringstream expected(run.Output);
  std::string line;
  std::size_t checked = 0;
  for (const std::string& text : texts) {
    ASSERT_TRUE(std::getline(expected, line)) << "python stopped after " << checked;
    const std::string encoded = PercentEncodeUrl(text);
    ASSERT_EQ(encoded, line) << ToHex(text);
    ASSERT_EQ(encoded, ReferencePercentEncode(text)) << ToHex(text);
    ++checked;
  }
  EXPECT_EQ(checked, texts.size());
}

TEST(Base64, PaddingOfTheFinalGroup) {
  EXPECT_EQ(Base64Encode("abc"), "YWJj");
  EXPECT_EQ(Base64Encode("ab"), "YWI=");
  EXPECT_EQ(Base64Encode("a"), "YQ==");
  EXPECT_EQ(Base64Encode(""), "");
  EXPECT_EQ(Base64Encode("user:secret"), "dXNlcjpzZWNyZXQ=");
  EXPECT_EQ(Base64Encode(std::string("\xFB\xFF\xBF", 3)), "+/+/");
  EXPECT_EQ(Base64Encode(std::string(3, '\0')), "AAAA");
}

TEST(Base64, RandomBytesAgreeWithOpenSsl) {
  const std::vector<std::string> texts = RandomByteStrings(4648, 5000, 200);
  for (const std::string& text : texts) {
    const std::string encoded = Base64Encode(text);
    ASSERT_EQ(encoded.size(), 4 * ((text.size() + 2) / 3));
    ASSERT_EQ(encoded, OpenSslBase64(text)) << ToHex(text);

    // And back: OpenSSL decodes whole groups, padding included as zeros.
    std::string decoded(encoded.size() / 4 * 3, '\0');
    const int length = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(decoded.data()),
                                       reinterpret_cast<const unsigned char*>(encoded.data()),
                                       static_cast<int>(encoded.size()));
    ASSERT_EQ(length, static_cast<int>(decoded.size()));
    ASSERT_EQ(decoded.substr(0, text.size()), text);
  }
}

}  // namespace

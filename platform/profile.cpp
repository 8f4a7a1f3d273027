#include "platform/profile.h"

#include <cstdint>
#include <string_view>

#include "platform/filesys.h"

namespace {

bool IsBlank(char C) { return C == ' ' || C == '\t'; }

std::string_view TrimBlanks(std::string_view Text) {
  while (!Text.empty() && IsBlank(Text.front())) Text.remove_prefix(1);
  while (!Text.empty() && IsBlank(Text.back())) Text.remove_suffix(1);
  return Text;
}

char AsciiLower(char C) { return C >= 'A' && C <= 'Z' ? static_cast<char>(C - 'A' + 'a') : C; }

bool SameTextAscii(std::string_view A, std::string_view B) {
  if (A.size() != B.size()) return false;
  for (std::size_t I = 0; I < A.size(); ++I)
    if (AsciiLower(A[I]) != AsciiLower(B[I])) return false;
  return true;
}

std::string_view Unquoted(std::string_view Value) {
  if (Value.size() < 2 || Value.front() != Value.back()) return Value;
  if (Value.front() != '"' && Value.front() != '\'') return Value;
  return Value.substr(1, Value.size() - 2);
}

void AppendUtf8(std::string& Out, std::uint32_t CodePoint) {
  if (CodePoint < 0x80) {
    Out += static_cast<char>(CodePoint);
  } else if (CodePoint < 0x800) {
    Out += static_cast<char>(0xC0 | (CodePoint >> 6));
    Out += static_cast<char>(0x80 | (CodePoint & 0x3F));
  } else if (CodePoint < 0x10000) {
    Out += static_cast<char>(0xE0 | (CodePoint >> 12));
    Out += static_cast<char>(0x80 | ((CodePoint >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (CodePoint & 0x3F));
  } else {
    Out += static_cast<char>(0xF0 | (CodePoint >> 18));
    Out += static_cast<char>(0x80 | ((CodePoint >> 12) & 0x3F));
    Out += static_cast<char>(0x80 | ((CodePoint >> 6) & 0x3F));
    Out += static_cast<char>(0x80 | (CodePoint & 0x3F));
  }
}

// Editors on Windows save "Unicode" text as UTF-16 with a byte order mark;
// read byte-wise, such a file would silently yield no sections at all.
std::string Utf16ToUtf8(std::string_view Bytes, bool BigEndian) {
  std::string Out;
  Out.reserve(Bytes.size() / 2);
  auto UnitAt = [&](std::size_t I) -> std::uint32_t {
    const auto First = static_cast<unsigned char>(Bytes[I]);
    const auto Second = static_cast<unsigned char>(Bytes[I + 1]);
    return BigEndian ? (First << 8 | Second) : (Second << 8 | First);
  };
  const std::size_t Units = Bytes.size() / 2;
  for (std::size_t U = 0; U < Units; ++U) {
    std::uint32_t CodePoint = UnitAt(U * 2);
    if (CodePoint >= 0xD800 && CodePoint <= 0xDBFF && U + 1 < Units) {
      const std::uint32_t Low = UnitAt((U + 1) * 2);
      if (Low >= 0xDC00 && Low <= 0xDFFF) {
        CodePoint = 0x10000 + ((CodePoint - 0xD800) << 10) + (Low - 0xDC00);
        ++U;
      }
    }
    if (CodePoint >= 0xD800 && CodePoint <= 0xDFFF) CodePoint = 0xFFFD;
    AppendUtf8(Out, CodePoint);
  }
  return Out;
}

bool StartsWith(std::string_view Text, std::string_view Prefix) { return Text.substr(0, Prefix.size()) == Prefix; }

}  // namespace

bool TProfile::LoadFromFile(const std::string& FileName, std::string& ErrorText) {
  std::string Text;
  if (!ReadWholeFile(FileName, Text, ErrorText)) return false;
  LoadFromText(Text);
  return true;
}

void TProfile::LoadFromText(const std::string& RawText) {
  Sections_.clear();
  std::string Converted;
  std::string_view Text = RawText;
  if (StartsWith(Text, "\xEF\xBB\xBF")) {
    Text.remove_prefix(3);
  } else if (StartsWith(Text, "\xFF\xFE") || StartsWith(Text, "\xFE\xFF")) {
    Converted = Utf16ToUtf8(Text.substr(2), Text[0] == '\xFE');
    Text = Converted;
  }

  while (!Text.empty()) {
    const std::size_t End = Text.find_first_of("\r\n");
    const std::string_view Line = TrimBlanks(Text.substr(0, End));
    if (End == std::string_view::npos) {
      Text = {};
    } else {
      const bool CrLf = Text[End] == '\r' && End + 1 < Text.size() && Text[End + 1] == '\n';
      Text.remove_prefix(End + (CrLf ? 2 : 1));
    }
    if (Line.empty() || Line.front() == ';' || Line.front() == '#') continue;

    if (Line.front() == '[') {
      // A header missing its "]" still starts a section: otherwise its keys
      // would fill the gaps of the job above it.
      const std::size_t Close = Line.rfind(']');
      const std::string_view Name = Close == std::string_view::npos ? Line.substr(1) : Line.substr(1, Close - 1);
      Sections_.push_back({std::string(TrimBlanks(Name)), {}});
      continue;
    }

    const std::size_t Equal = Line.find('=');
    if (Equal == std::string_view::npos || Sections_.empty()) continue;
    const std::string_view Key = TrimBlanks(Line.substr(0, Equal));
    if (Key.empty()) continue;
    const std::string_view Value = Unquoted(TrimBlanks(Line.substr(Equal + 1))).substr(0, ProfileValueLimit);
    Sections_.back().Keys.emplace_back(std::string(Key), std::string(Value));
  }
}

std::string TProfile::ReadString(std::size_t Index, const std::string& Key, const std::string& Default) const {
  if (Index >= Sections_.size()) return Default;
  for (const auto& [Name, Value] : Sections_[Index].Keys)
    if (SameTextAscii(Name, Key)) return Value;
  return Default;
}

std::vector<std::string> TProfile::KeyNames(std::size_t Index) const {
  std::vector<std::string> Names;
  if (Index >= Sections_.size()) return Names;
  for (const auto& Entry : Sections_[Index].Keys) Names.push_back(Entry.first);
  return Names;
}

bool TProfile::HasKey(std::size_t Index, const std::string& Key) const {
  if (Index >= Sections_.size()) return false;
  for (const auto& Entry : Sections_[Index].Keys)
    if (SameTextAscii(Entry.first, Key)) return true;
  return false;
}

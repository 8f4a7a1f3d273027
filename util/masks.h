// Wildcard file masks, as the FTP GET job uses them to pick remote files:
// "*" (any run, possibly empty), "?" (one character), "[abc]", "[a-z]" and
// "[!a-z]" (one character in or not in a set). Matching covers the whole
// name and ignores the case of ASCII letters; an ill-formed mask is an error
// (EMaskException), never a silent non-match.
//
// A "?" directly after "*" (or after such "?") is dropped, so "*?" matches
// like "*" and "a?*?b" like "a?*b"; existing job files rely on that.
// This platform has no double-byte code page: every byte is one character.
#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// Raised for an invalid mask: an empty set, a set not closed by "]", a "-"
// with no character before it, a range whose end lies below its start, or
// more than 30 "*" runs. The message names the whole mask and the 1-based
// position of the offending byte (one past the end for a set left open).
class EMaskException : public std::runtime_error {
 public:
  EMaskException(const std::string& Mask, std::size_t Position);

  const std::string& Mask() const { return Mask_; }
  std::size_t Position() const { return Position_; }

 private:
  std::string Mask_;
  std::size_t Position_;
};

// A mask compiled once and tested against any number of names.
class TMask {
 public:
  // Compiles MaskText; raises EMaskException when it is invalid.
  explicit TMask(const std::string& MaskText);

  // True when the whole of Name matches. Never fails and never allocates;
  // any name, the empty one and names holding zero bytes included, gives
  // true or false in time proportional to its length times the mask's.
  bool IsMatch(std::string_view Name) const;

 private:
  enum class TElementKind : std::uint8_t { Literal, AnyChar, Set, EndOfName };

  // One character position of the mask. Literals and set members are kept
  // upper-cased; EndOfName closes every mask so that matches are whole-name.
  struct TMaskElement {
    bool Skip = false;  // a "*" run comes before this element
    TElementKind Kind = TElementKind::Literal;
    unsigned char Character = 0;
    bool Negated = false;
    std::bitset<256> Members;
  };

  static bool Accepts(const TMaskElement& Element, std::string_view Name, std::size_t Position);
  static std::size_t ReadSet(const std::string& MaskText, std::size_t Start, TMaskElement& Element);

  std::vector<TMaskElement> Elements_;
};

// Compiles Mask, tests Name against it and releases it. The mask error
// (EMaskException) passes through to the caller.
bool MatchFileMask(const std::string& Name, const std::string& Mask);

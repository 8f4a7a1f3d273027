// Wildcard file masks; see masks.h.
#include "util/masks.h"

namespace {

// More "*" runs than this make a mask invalid.
constexpr int kMaxSkipRuns = 30;

unsigned char UpperAscii(unsigned char Byte) {
  if (Byte >= 'a' && Byte <= 'z') return static_cast<unsigned char>(Byte - 'a' + 'A');
  return Byte;
}

}  // namespace

EMaskException::EMaskException(const std::string& Mask, std::size_t Position)
    : std::runtime_error(std::to_string(Position) + " 番目の文字（'" + Mask + "'）は正しくないマスク文字です"),
      Mask_(Mask),
      Position_(Position) {}

// Reads the set that starts after the "[" at index Start - 1 into Element
// and returns the index just past its "]".
std::size_t TMask::ReadSet(const std::string& MaskText, std::size_t Start, TMaskElement& Element) {
  const std::size_t length = MaskText.size();
  std::size_t i = Start;
  Element.Kind = TElementKind::Set;
  if (i < length && MaskText[i] == '!') {
    Element.Negated = true;
    ++i;
  }
  bool haveRangeStart = false;
  unsigned char rangeStart = 0;
  while (i < length && MaskText[i] != ']') {
    const unsigned char byte = static_cast<unsigned char>(MaskText[i]);
    if (byte != '-') {
      rangeStart = UpperAscii(byte);
      haveRangeStart = true;
      Element.Members.set(rangeStart);
      ++i;
      continue;
    }
    if (!haveRangeStart) throw EMaskException(MaskText, i + 1);
    if (i + 1 == length) throw EMaskException(MaskText, length + 1);
    // Any byte, "]" included, ends a range.
    const unsigned char rangeEnd = UpperAscii(static_cast<unsigned char>(MaskText[i + 1]));
    // A reversed range is a typing error that would otherwise pass silently.
    if (rangeEnd < rangeStart) throw EMaskException(MaskText, i + 2);
    for (unsigned member = rangeStart; member <= rangeEnd; ++member) Element.Members.set(member);
    i += 2;
  }
  if (i == length) throw EMaskException(MaskText, length + 1);
  if (Element.Members.none()) throw EMaskException(MaskText, i + 1);
  return i + 1;
}

TMask::TMask(const std::string& MaskText) {
  // No mask needs more elements than it has bytes, plus the end element.
  Elements_.reserve(MaskText.size() + 1);
  bool skip = false;
  int skipRuns = 0;
  std::size_t i = 0;
  while (i < MaskText.size()) {
    const unsigned char byte = static_cast<unsigned char>(MaskText[i]);
    if (byte == '*') {
      if (!skip && ++skipRuns > kMaxSkipRuns) throw EMaskException(MaskText, i + 1);
      skip = true;
      ++i;
      continue;
    }
    if (byte == '?' && skip) {
      ++i;
      continue;
    }
    TMaskElement element;
    element.Skip = skip;
    if (byte == '?') {
      element.Kind = TElementKind::AnyChar;
      ++i;
    } else if (byte == '[') {
      i = ReadSet(MaskText, i + 1, element);
    } else {
      element.Kind = TElementKind::Literal;
      element.Character = UpperAscii(byte);
      ++i;
    }
    Elements_.push_back(element);
    skip = false;
  }
  TMaskElement end;
  end.Skip = skip;
  end.Kind = TElementKind::EndOfName;
  Elements_.push_back(end);
}

bool TMask::Accepts(const TMaskElement& Element, std::string_view Name, std::size_t Position) {
  if (Element.Kind == TElementKind::EndOfName) return Position == Name.size();
  // Every other element needs a character; the end of the name is none.
  if (Position >= Name.size()) return false;
  const unsigned char character = UpperAscii(static_cast<unsigned char>(Name[Position]));
  switch (Element.Kind) {
    case TElementKind::Literal:
      return character == Element.Character;
    case TElementKind::Set:
      return Element.Members.test(character) != Element.Negated;
    case TElementKind::AnyChar:
    case TElementKind::EndOfName:
      break;
  }
  return true;
}

bool TMask::IsMatch(std::string_view Name) const {
  // Every element but "*" consumes exactly one character, so when a match
  // fails only the latest "*" needs to take one more character: earlier
  // runs cannot help. That keeps the work bounded by name times mask
  // length, however many "*" a hostile mask holds.
  std::size_t position = 0;
  std::size_t element = 0;
  bool canResume = false;
  std::size_t resumePosition = 0;
  std::size_t resumeElement = 0;
  for (;;) {
    const TMaskElement& current = Elements_[element];
    // A trailing "*" takes whatever is left of the name.
    if (current.Skip && current.Kind == TElementKind::EndOfName) return true;
    if (current.Skip) {
      while (position < Name.size() && !Accepts(current, Name, position)) ++position;
      canResume = position < Name.size();
      resumePosition = position + 1;
      resumeElement = element;
    }
    if (Accepts(current, Name, position)) {
      if (current.Kind == TElementKind::EndOfName) return true;
      ++position;
      ++element;
      continue;
    }
    if (!canResume) return false;
    position = resumePosition;
    element = resumeElement;
  }
}

bool MatchFileMask(const std::string& Name, const std::string& Mask) {
  const TMask mask(Mask);
  return mask.IsMatch(Name);
}

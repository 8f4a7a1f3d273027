// The FTP directory listing parser; see ftplist.h.
#include "protocols/ftplist.h"

#include <array>
#include <string_view>

#include "platform/systime.h"
#include "util/datetime.h"
#include "util/textutil.h"

namespace {

// The line masks, tried in this order. Letters capture into the fields
// named in ftplist.h, "*" repeats the previous letter over a run, "!" skips
// a word and the blanks after it, "$" skips blanks and tabs, "." and "x"
// check the character, "=" takes a parameter from the mask, a backslash
// continues on the next line; any other character skips one.
const char* const kLineMasks[] = {
    "pppppppppp $!!!S*$TTT$DD$hh mm ss$YYYY$n*",
    "pppppppppp $!!!S*$DD$TTT$hh mm ss$YYYY$n*",
    "pppppppppp $!!!S*$TTT$DD$UUUUU$n*",
    "pppppppppp $!!!S*$DD$TTT$UUUUU$n*",
    "pppppppppp $!!S*$TTT$DD$UUUUU$n*",
    "pppppppppp $!S*$TTT$DD$UUUUU$n*",
    "d            $!S*$TTT$DD$UUUUU$n*",
    "MM DD YY  hh mmH !S* n*",
    "MM DD YY  hh mmH $ d!n*",
    "MM DD YYYY  hh mmH !S* n*",
    "MM DD YYYY  hh mmH $ d!n*",
    "DD MM YYYY  hh mmH !S* n*",
    "DD MM YYYY  hh mmH $ d!n*",
    "v*$  DD TTT YYYY hh mm",
    "v*$!DD TTT YYYY hh mm",
    "!S*$MM DD YY hh mm ss !n*",
    "!S*$DD MM YY hh mm ss !n*",
    "n*!S*$MM DD YY hh mm ss d",
    "n*!S*$DD MM YY hh mm ss d",
    "$S*    TTT DD YYYY  hh mm ss $n* $ d",
    "$S*    TTT DD YYYY  hh mm ss $n*",
    "d    $S*$TTT DD YYYY  hh mm$n*",
    "d    $S*$TTT DD$hh mm$n*",
    "nnnnnnnn.nnn  dSSSSSSSSSSS MM DD YY  hh mmH",
    "-   SSSSS            YY MM DD hh mm ss  n*",
    "- d=  SSSSS  YY MM DD hh mm ss  n*",
    "nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn               SSSSSSSSS MM DD YYYY hh mm",
    "n*\\x                                               SSSSSSSSS MM DD YYYY hh mm",
    "-     SSSSSSSSSSSS           d   MM DD YYYY   hh mm  n*",
    "-         YY MM DD hhmm d                        SSSSSSSSS n*",
    "nnnnnnnn                   SSSSSSS DD TTT YY hh mm ss",
    "-             YYYY MM DD                     SSSSS   d=O  n*",
    "             $S* MM DD YY hh mm ss  !n*",
    "d            $S* MM DD YY           !n*",
    "                                         TTT DD  YYYY n*",
    "  d                                                   n*",
};

// A listing without a year shows a date of the past twelve months; a date
// up to this many days ahead still counts as this year, since the server's
// clock and zone may run ahead of ours.
constexpr double kFutureToleranceDays = 2.0;

bool IsBlank(char c) { return c == ' '; }
bool IsBlankOrTab(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Digits only, fitting 63 bits; false for anything else (the empty text
// included), so that a size too long to hold is "not a number", not a wrap.
bool ParseDecimal(std::string_view Text, std::int64_t& Value) {
  if (Text.empty()) return false;
  constexpr std::int64_t kLimit = INT64_MAX / 10;
  std::int64_t result = 0;
  for (const char c : Text) {
    if (!IsDigit(c)) return false;
    const int digit = c - '0';
    if (result > kLimit || (result == kLimit && digit > INT64_MAX % 10)) return false;
    result = result * 10 + digit;
  }
  Value = result;
  return true;
}

// The decimal value of Text, or Fallback when it is not a number or does
// not fit an int.
int IntegerOr(std::string_view Text, int Fallback) {
  std::int64_t value = 0;
  if (!ParseDecimal(Text, value) || value > INT32_MAX) return Fallback;
  return static_cast<int>(value);
}

void TrimInPlace(std::string& Text) {
  const std::size_t last = Text.find_last_not_of(' ');
  if (last == std::string::npos) {
    Text.clear();
    return;
  }
  Text.erase(last + 1);
  const std::size_t first = Text.find_first_not_of(' ');
  if (first > 0) Text.erase(0, first);
}

// Trims Field and checks that it is an integer from Low to High; an empty
// field passes.
bool TrimmedInRange(std::string& Field, int Low, int High) {
  if (Field.empty()) return true;
  TrimInPlace(Field);
  const int value = IntegerOr(Field, -1);
  return value >= Low && value <= High;
}

char UpperAsciiChar(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 0x20) : c; }

bool IsPermissionChar(char c) {
  static constexpr std::string_view kAllowed = "-abcdhlprswxy";
  return kAllowed.find(c) != std::string_view::npos;
}

// The mode column of ls: a file type and nine permission letters, upper
// case included (set-id bits without execute show as "S" and "T").
bool LooksLikeModeColumn(std::string_view Text) {
  static constexpr std::string_view kTypes = "-bcdlps";
  static constexpr std::string_view kModes = "-rwxsStT";
  if (Text.size() < 10 || kTypes.find(Text[0]) == std::string_view::npos) return false;
  for (std::size_t i = 1; i < 10; ++i) {
    if (kModes.find(Text[i]) == std::string_view::npos) return false;
  }
  return true;
}

bool IsPermissionText(const std::string& Text) {
  if (Text.size() != 10) return false;
  for (std::size_t i = 0; i < Text.size(); ++i) {
    const char c = Text[i];
    // Set-id without execute ("S") in the owner and group places, sticky
    // ("t", "T") in the last: "drwxrwxrwt" is /tmp.
    const bool SetId = c == 'S' && (i == 3 || i == 6);
    const bool Sticky = (c == 't' || c == 'T') && i == 9;
    if (!IsPermissionChar(c) && !SetId && !Sticky) return false;
  }
  return true;
}

// A mask can carry twelve 3-character month names for the servers that
// print their own; they replace the locale's names from then on.
void TakeMaskMonthNames(const std::string& MonthNamesText) {
  if (MonthNamesText.size() != 36) return;
  for (std::size_t i = 0; i < 12; ++i) SystemMonthNames[i] = MonthNamesText.substr(i * 3, 3);
}

// A VMS file name standing alone on its line ("NAME.EXT;1"): the server
// wrapped the rest of the entry onto the next line.
bool IsLoneVmsName(const std::string& Line, const std::string& NextLine) {
  if (Line.empty() || NextLine.empty() || !IsBlankOrTab(NextLine[0])) return false;
  return Line.find(';') != std::string::npos && Line.find_first_of(" \t") == std::string::npos;
}

}  // namespace

void TFTPListRec::AssignEntry(const TFTPListRec& Other) {
  Name = Other.Name;
  IsDir = Other.IsDir;
  IsReadable = Other.IsReadable;
  Size = Other.Size;
  ModifiedTime = Other.ModifiedTime;
  SourceLine = Other.SourceLine;
  MatchedMask = Other.MatchedMask;
  Permissions = Other.Permissions;
}

TFTPList::TFTPList() { LineMasks.assign(std::begin(kLineMasks), std::end(kLineMasks)); }

TFTPList::~TFTPList() { Clear(); }

TFTPListRec* TFTPList::EntryAt(int Index) const {
  if (Index < 0 || Index >= Count()) return nullptr;
  return Entries[static_cast<std::size_t>(Index)].get();
}

bool TFTPList::ParseEplfLine(const std::string& Line) {
  if (Line.empty() || Line[0] != '+') return false;
  auto entry = std::make_unique<TFTPListRec>();
  // One walk over the line: a server can send megabytes of facts, and
  // copying the rest of the line for every comma would take minutes.
  std::size_t start = 0;
  while (start < Line.size()) {
    std::size_t end = Line.find(',', start);
    if (end == std::string::npos) end = Line.size();
    std::size_t first = start;
    while (first < end && IsBlank(Line[first])) ++first;
    std::size_t last = end;
    while (last > first && IsBlank(Line[last - 1])) --last;
    const std::string_view piece(Line.data() + first, last - first);
    start = end + 1;
    if (piece.empty()) break;
    if (piece[0] == '\t') {
      // The name is the last fact and may itself hold commas: it runs from
      // the tab to the end of the line.
      entry->Name = Line.substr(first + 1);
      break;
    }
    if (piece == "/") {
      entry->IsDir = true;
    } else if (piece == "r") {
      entry->IsReadable = true;
    } else if (piece[0] == 'm') {
      std::int64_t seconds = 0;
      if (!ParseDecimal(piece.substr(1), seconds)) seconds = 0;
      entry->ModifiedTime = static_cast<double>(seconds) / 86400.0 + UnixEpochDays;
    } else if (piece[0] == 's') {
      std::int64_t size = 0;
      if (!ParseDecimal(piece.substr(1), size)) size = 0;
      entry->Size = size;
    }
  }
  if (entry->Name.find_first_not_of(" \t") == std::string::npos) return false;
  if (entry->IsDir && (entry->Name == "." || entry->Name == "..")) return false;
  entry->SourceLine = Line;
  entry->MatchedMask = "EPLF";
  Entries.push_back(std::move(entry));
  return true;
}

void TFTPList::ResetFields() {
  for (std::string* field : {&MonthNamesText, &BlockFactorText, &DirMarker, &NameText, &VmsNameText, &DayText,
                             &MonthText, &MonthNameText, &YearOrTimeText, &YearText, &HourText, &HourSuffixText,
                             &MinuteText, &SecondText, &SizeText, &PermText, &DirFlagText}) {
    field->clear();
  }
}

// The capture field a mask letter appends to, or nullptr for other
// characters. A table, since this runs for every character of every mask
// attempt.
std::string* TFTPList::CaptureField(char MaskChar) {
  using Field = std::string TFTPList::*;
  static constexpr std::string_view kLetters = "pnvDMTUYhHmsSd";
  static constexpr Field kFields[] = {
      &TFTPList::PermText,   &TFTPList::NameText,   &TFTPList::VmsNameText,    &TFTPList::DayText,
      &TFTPList::MonthText,  &TFTPList::MonthNameText, &TFTPList::YearOrTimeText, &TFTPList::YearText,
      &TFTPList::HourText,   &TFTPList::HourSuffixText, &TFTPList::MinuteText,  &TFTPList::SecondText,
      &TFTPList::SizeText,   &TFTPList::DirFlagText};
  // Index + 1 of each letter's field, 0 for characters that capture nothing.
  static const std::array<unsigned char, 256> kSlots = [] {
    std::array<unsigned char, 256> slots{};
    for (std::size_t i = 0; i < kLetters.size(); ++i) {
      slots[static_cast<unsigned char>(kLetters[i])] = static_cast<unsigned char>(i + 1);
    }
    return slots;
  }();
  const unsigned char slot = kSlots[static_cast<unsigned char>(MaskChar)];
  return slot == 0 ? nullptr : &(this->*kFields[slot - 1]);
}

int TFTPList::MatchMask(const std::string& Line, const std::string& NextLine, const std::string& Mask) {
  ResetFields();
  if (Line.empty() || Mask.empty()) return 0;
  int result = 1;
  const std::string* line = &Line;
  std::size_t lp = 0;
  char previous = ' ';
  for (std::size_t mp = 0; mp < Mask.size(); ++mp) {
    const char c = Mask[mp];
    // A backslash needs no character of the current line: the name of a
    // two-line entry usually fills its line to the end.
    if (c != '*' && c != '\\' && lp >= line->size()) return 0;
    // A run at the end of the line is empty; the rest of the mask must
    // still fit, or "total 8" would pass for a file named "total".
    if (lp >= line->size() && c == '*') {
      previous = c;
      continue;
    }
    if (std::string* field = CaptureField(c)) {
      field->push_back((*line)[lp++]);
    } else if (c == '*') {
      const bool isName = previous == 'n' || previous == 'v';
      if (isName) {
        std::string& name = previous == 'n' ? NameText : VmsNameText;
        std::size_t end = line->size();
        if (mp + 1 < Mask.size()) {
          end = line->find(' ', lp);
          if (end == std::string::npos) end = line->size();
        }
        name.append(*line, lp, end - lp);
        lp = end;
      } else {
        const std::size_t start = lp;
        while (lp < line->size() && IsDigit((*line)[lp])) ++lp;
        if (previous == 'S') SizeText.append(*line, start, lp - start);
      }
    } else if (c == '!') {
      while (lp < line->size() && !IsBlank((*line)[lp])) ++lp;
      while (lp < line->size() && IsBlank((*line)[lp])) ++lp;
    } else if (c == '$') {
      while (lp < line->size() && IsBlankOrTab((*line)[lp])) ++lp;
    } else if (c == '.') {
      if ((*line)[lp] != ' ' && (*line)[lp] != '.') return 0;
      TrimInPlace(NameText);
      NameText.push_back('.');
      ++lp;
    } else if (c == 'x') {
      if ((*line)[lp] != ' ') return 0;
      ++lp;
    } else if (c == '=') {
      ++lp;
      mp = TakeMaskParameter(Mask, mp, previous);
    } else if (c == '\\') {
      line = &NextLine;
      lp = 0;
      result = 2;
    } else {
      ++lp;
    }
    previous = c;
  }
  return result;
}

// Reads the parameter that follows "=" at EqualsAt in Mask and returns the
// index of its last character.
std::size_t TFTPList::TakeMaskParameter(const std::string& Mask, std::size_t EqualsAt, char Previous) {
  std::size_t mp = EqualsAt;
  if (Previous == 'd' && mp + 1 < Mask.size()) {
    DirMarker = Mask.substr(++mp, 1);
  } else if (Previous == 'S') {
    while (mp + 1 < Mask.size() && IsDigit(Mask[mp + 1])) BlockFactorText.push_back(Mask[++mp]);
  } else if (Previous == 'T' && mp + 36 < Mask.size()) {
    MonthNamesText = Mask.substr(mp + 1, 36);
    mp += 36;
  }
  return mp;
}

bool TFTPList::ValidateFields() {
  if (!VmsNameText.empty() && VmsNameText.find(';') == std::string::npos) return false;
  if (NameText.empty() && VmsNameText.empty()) return false;
  if (!PermText.empty() && !IsPermissionText(PermText)) return false;
  if (!TrimmedInRange(DayText, 1, 31)) return false;
  if (!TrimmedInRange(MonthText, 1, 12)) return false;
  if (!TrimmedInRange(HourText, 0, 24)) return false;
  if (!HourSuffixText.empty() && std::string_view("AaPp").find(HourSuffixText[0]) == std::string_view::npos) {
    return false;
  }
  if (!TrimmedInRange(MinuteText, 0, 59)) return false;
  if (!TrimmedInRange(SecondText, 0, 59)) return false;
  if (!SizeText.empty()) {
    TrimInPlace(SizeText);
    for (const char c : SizeText) {
      if (!IsDigit(c)) return false;
    }
  }
  TakeMaskMonthNames(MonthNamesText);
  if (!MonthNameText.empty() && MonthFromName(MonthNameText) == 0) return false;
  return YearOrTimeValid() && YearValid();
}

bool TFTPList::YearOrTimeValid() {
  if (YearOrTimeText.empty()) return true;
  for (char& c : YearOrTimeText) {
    if (c == '-') c = ':';
  }
  if (YearOrTimeText.find(':') != std::string::npos) return DecodeTimeOfDay(YearOrTimeText) != -1;
  return TrimmedInRange(YearOrTimeText, 1900, 2100);
}

bool TFTPList::YearValid() {
  if (YearText.empty()) return true;
  TrimInPlace(YearText);
  const int year = IntegerOr(YearText, -1);
  if (year < 0) return false;
  switch (YearText.size()) {
    case 4: return year > 1900 && year < 2100;
    case 2: return year <= 99;
    case 3: return year >= 100 && year <= 110;
    default: return false;
  }
}

// Size in bytes: the size field times the block factor; 0 when the size is
// not a number or the product does not fit.
std::int64_t TFTPList::SizeFromFields() const {
  std::int64_t size = 0;
  if (!ParseDecimal(SizeText, size)) return 0;
  std::int64_t factor = 1;
  if (!BlockFactorText.empty() && !ParseDecimal(BlockFactorText, factor)) factor = 1;
  std::int64_t bytes = 0;
  if (__builtin_mul_overflow(size, factor, &bytes)) return 0;
  return bytes;
}

// The year of a year field: two digits 51..99 mean 19xx and 0..50 mean
// 20xx; three digits count from 1900, as servers print struct tm's year.
int TFTPList::YearFromField() const {
  int year = IntegerOr(YearText, 0);
  if (YearText.size() == 3) return year + 1900;
  if (year >= 51 && year <= 99) year += 1900;
  if (year <= 50) year += 2000;
  return year;
}

// The directory flag equals the marker ("D" unless the mask names one),
// without regard to case.
bool TFTPList::IsDirFlag() const {
  const std::string_view marker = DirMarker.empty() ? std::string_view("D") : std::string_view(DirMarker);
  if (DirFlagText.empty() || DirFlagText.size() != marker.size()) return false;
  for (std::size_t i = 0; i < marker.size(); ++i) {
    if (UpperAsciiChar(DirFlagText[i]) != UpperAsciiChar(marker[i])) return false;
  }
  return true;
}

bool TFTPList::BuildEntry(TFTPListRec& Entry) {
  const double now = Now_ != 0 ? Now_ : NowLocal();
  Entry.IsDir = IsDirFlag();
  if (!NameText.empty()) Entry.Name.assign(NameText, 0, NameText.find(" -> "));
  if (!VmsNameText.empty()) {
    Entry.Name = VmsNameText;
    Entry.IsDir = VmsNameText.find(".DIR;") != std::string::npos;
  }
  Entry.Name.erase(Entry.Name.find_last_not_of(' ') + 1);
  Entry.IsReadable = !Entry.IsDir;
  Entry.Size = SizeFromFields();

  int year = 0, month = 0, day = 0;
  DecodeDate(now, year, month, day);
  int hours = 0, minutes = 0, seconds = 0;
  if (!DayText.empty()) day = IntegerOr(DayText, 1);
  if (!MonthText.empty()) month = IntegerOr(MonthText, 1);
  TakeMaskMonthNames(MonthNamesText);
  if (!MonthNameText.empty()) month = MonthFromName(MonthNameText);
  if (!YearText.empty()) year = YearFromField();
  if (!YearOrTimeText.empty() && !TakeYearOrTime(now, year, month, day, hours, minutes)) return false;
  if (!MinuteText.empty()) minutes = IntegerOr(MinuteText, 0);
  if (!SecondText.empty()) seconds = IntegerOr(SecondText, 0);
  if (!HourText.empty()) hours = IntegerOr(HourText, 0);
  if (!HourSuffixText.empty()) {
    // A 12-hour clock: 12 AM is midnight, 12 PM noon; 13 PM is no time.
    if (hours > 12) return false;
    hours = hours % 12 + (UpperAsciiChar(HourSuffixText[0]) == 'P' ? 12 : 0);
  }
  double date = 0, time = 0;
  if (!TryEncodeDate(year, month, day, date) || !TryEncodeTime(hours, minutes, seconds, 0, time)) return false;
  Entry.ModifiedTime = date + time;

  if (!PermText.empty()) {
    Entry.Permissions = PermText;
    Entry.IsReadable = UpperAsciiChar(PermText[1]) == 'R';
    const char kind = UpperAsciiChar(PermText[0]);
    if (kind == 'D') {
      Entry.IsDir = true;
      Entry.IsReadable = false;
    } else if (kind == 'L') {
      Entry.IsDir = true;
    }
  }
  return true;
}

// Applies a field that is either a year or a time of day. A time means the
// year was left out: the latest year that puts the date not after now
// (give or take the tolerance). False when no such date exists.
bool TFTPList::TakeYearOrTime(double Now, int& Year, int Month, int Day, int& Hours, int& Minutes) const {
  if (YearOrTimeText.find(':') == std::string::npos) {
    Year = IntegerOr(TrimSpaces(YearOrTimeText), 0);
    return true;
  }
  Hours = IntegerOr(TrimSpaces(TextBefore(YearOrTimeText, ":")), 0);
  Minutes = IntegerOr(TrimSpaces(TextAfter(YearOrTimeText, ":")), 0);
  double date = 0, time = 0;
  if (!TryEncodeTime(Hours, Minutes, 0, 0, time)) return false;
  // 29 February without a year belongs to the last leap year.
  if (!TryEncodeDate(Year, Month, Day, date) || date + time > Now + kFutureToleranceDays) --Year;
  return TryEncodeDate(Year, Month, Day, date);
}

void TFTPList::Clear() {
  Entries.clear();
  RawLines.clear();
  RejectedLines.clear();
}

int TFTPList::Count() const { return static_cast<int>(Entries.size()); }

void TFTPList::CopyFrom(const TFTPList& Other) {
  if (&Other == this) return;
  Clear();
  for (const auto& entry : Other.Entries) {
    auto copy = std::make_unique<TFTPListRec>();
    copy->AssignEntry(*entry);
    Entries.push_back(std::move(copy));
  }
  RawLines = Other.RawLines;
  LineMasks = Other.LineMasks;
  RejectedLines = Other.RejectedLines;
}

// Tries the masks in order on Line (and NextLine, for a two-line mask).
// Returns the number of lines the winning mask used, its negative when the
// line fits but names a date or time that does not exist, 0 when no mask
// fits. With VmsOnly only a mask that captured a VMS name may win.
int TFTPList::ParseMaskedLine(const std::string& Line, const std::string& NextLine, bool VmsOnly) {
  // A line that opens with ten permission characters is ls output; when no
  // permission mask reads it (a device's "4,   0" in place of the size), a
  // fixed-column mask would cut a bogus name out of its middle.
  const bool isUnixLine = LooksLikeModeColumn(Line);
  for (const std::string& mask : LineMasks) {
    if (isUnixLine && mask.find('p') == std::string::npos) continue;
    const int used = MatchMask(Line, NextLine, mask);
    if (used == 0 || !ValidateFields()) continue;
    if (VmsOnly && VmsNameText.empty()) continue;
    auto entry = std::make_unique<TFTPListRec>();
    if (!BuildEntry(*entry)) return -used;
    // A name of blanks alone passes the field checks but names no file.
    if (entry->Name.empty()) continue;
    entry->SourceLine = Line;
    entry->MatchedMask = mask;
    if (entry->IsDir && (entry->Name == "." || entry->Name == "..")) return used;
    Entries.push_back(std::move(entry));
    return used;
  }
  return 0;
}

void TFTPList::ParseListing() {
  Now_ = NowLocal();
  static const std::string kNoLine;
  std::size_t i = 0;
  while (i < RawLines.size()) {
    const std::string& line = RawLines[i];
    const std::string& next = i + 1 < RawLines.size() ? RawLines[i + 1] : kNoLine;
    int used = ParseEplfLine(line) ? 1 : ParseMaskedLine(line, next, false);
    if (used == 0 && IsLoneVmsName(line, next)) {
      const int joined = ParseMaskedLine(line + " " + next, kNoLine, true);
      used = joined > 0 ? 2 : (joined < 0 ? -2 : 0);
    }
    if (used > 0) {
      i += static_cast<std::size_t>(used);
      continue;
    }
    const std::size_t rejected = used < 0 ? static_cast<std::size_t>(-used) : 1;
    for (std::size_t k = 0; k < rejected && i < RawLines.size(); ++k) RejectedLines.push_back(RawLines[i++]);
  }
  Now_ = 0;
}

// Random and mutated listing lines, date texts and masks (fixed seed):
// nothing crashes, hangs or reads out of bounds (the sanitizer build runs
// the same cases), every line is accounted for, no entry has an empty name
// or a negative size, dates decode or raise the conversion error, and every
// mask compiles or raises EMaskException.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "protocols/ftplist.h"
#include "util/datetime.h"
#include "util/masks.h"

namespace {

constexpr int kLineCount = 300000;
constexpr int kDateCount = 200000;
constexpr int kMaskCount = 20000;

const char* const kSeedLines[] = {
    "drwxr-xr-x   2 owner    group        4096 Jan 10 12:34 src",
    "-rw-r--r--   1 owner    group        1234 Jan 10 12:34:56 2005 full",
    "lrwxrwxrwx   1 owner    group          11 Jan 10  2005 latest -> src",
    "-rw-r--r--   1 owner        1234 10 Jan  2005 no-group",
    "01-10-05  10:30PM       <DIR>          aspnet_client",
    "01-10-2005  12:05AM                 1234 default.htm",
    "CII-MANUAL.TEX;1  213/216  29-JAN-1996 03:33:12  [ANONYMOU,ANONYMOUS]   (RWED,RWED,,)",
    "A_VERY_LONG_FILE_NAME.TXT;12",
    "                  12/16    03-MAR-2005 08:15:00  [ANONYMOU,ANONYMOUS]   (RWED,RWED,RE,)",
    "+i8388621.29609,m824255902,/,\tdev",
    "+r,s5,\tfile, with, commas.txt",
    "README   TXT          1234 01-10-05  12:34p",
    "-    00512  95-01-20 12:34:56  docs",
    "       0    Jan 10 2005  12:34:56  docs <DIR>",
    "total 12",
};

const char* const kSeedDates[] = {
    "Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT", "Sun Nov  6 08:49:37 1994",
    "06 Nov 1994 08:49:37 +0900",    "EST DST 12:00:00",               "08:49:37.250",
    "-0000 1 Jan 2000",
};

const char kAlphabet[] = " \t-:;,.+/<>0123456789APMapmDIRJanFebDecdrwxls*!$=\\\xE4\xC9\xFF";

class Mutator {
 public:
  explicit Mutator(unsigned seed) : random_(seed) {}

  std::string Mutate(std::string text) {
    const int edits = Pick(4);
    for (int i = 0; i < edits; ++i) {
      const std::size_t at = text.empty() ? 0 : static_cast<std::size_t>(Pick(static_cast<int>(text.size()) - 1));
      switch (Pick(4)) {
        case 0: if (!text.empty()) text[at] = Char(); break;
        case 1: text.insert(at, 1, Char()); break;
        case 2: if (!text.empty()) text.erase(at, static_cast<std::size_t>(Pick(5))); break;
        case 3: text.resize(at); break;
        default: text += std::string(static_cast<std::size_t>(Pick(80)), Char()); break;
      }
    }
    return text;
  }

  std::string RandomText(int maxLength) {
    std::string text(static_cast<std::size_t>(Pick(maxLength)), ' ');
    for (char& c : text) c = Char();
    return text;
  }

  // 0..High inclusive.
  int Pick(int High) { return std::uniform_int_distribution<int>(0, High < 0 ? 0 : High)(random_); }

 private:
  char Char() {
    if (Pick(9) == 0) return static_cast<char>(Pick(255));
    return kAlphabet[Pick(static_cast<int>(sizeof(kAlphabet)) - 2)];
  }

  std::mt19937 random_;
};

TEST(ListingRandom, MutatedListingsAreParsedOrRejected) {
  Mutator mutator(4711);
  TFTPList list;
  const int seeds = static_cast<int>(std::size(kSeedLines));
  for (int done = 0; done < kLineCount;) {
    TStringList lines;
    for (int i = 0; i < 500; ++i, ++done) {
      lines.push_back(mutator.Pick(9) == 0 ? mutator.RandomText(120)
                                             : mutator.Mutate(kSeedLines[mutator.Pick(seeds - 1)]));
    }
    list.Clear();
    list.RawLines = lines;
    ASSERT_NO_THROW(list.ParseListing());
    ASSERT_LE(static_cast<std::size_t>(list.Count()) + list.RejectedLines.size(), lines.size());
    for (int i = 0; i < list.Count(); ++i) {
      const TFTPListRec& entry = *list.EntryAt(i);
      ASSERT_FALSE(entry.Name.empty()) << entry.SourceLine;
      ASSERT_GE(entry.Size, 0) << entry.SourceLine;
      ASSERT_TRUE(entry.ModifiedTime >= -693593 && entry.ModifiedTime < 2958466) << entry.SourceLine;
    }
  }
}

TEST(ListingRandom, DateTextsDecodeOrRaiseTheConversionError) {
  Mutator mutator(815);
  const int seeds = static_cast<int>(std::size(kSeedDates));
  for (int i = 0; i < kDateCount; ++i) {
    const std::string text =
        mutator.Pick(4) == 0 ? mutator.RandomText(40) : mutator.Mutate(kSeedDates[mutator.Pick(seeds - 1)]);
    try {
      DecodeHttpDate(text);
    } catch (const EConvertError&) {
    }
    const double time = DecodeTimeOfDay(text);
    ASSERT_TRUE(time == -1 || (time >= 0 && time < 1)) << text;
    const int month = MonthFromName(text);
    ASSERT_TRUE(month >= 0 && month <= 12) << text;
  }
}

TEST(ListingRandom, MasksCompileOrRaiseAndMatchWithoutFailing) {
  Mutator mutator(99);
  const char* const seeds[] = {"*.*", "*.TXT", "[a-c]*.log", "[!x]?*", "data_[0-9][0-9]*.csv"};
  for (int i = 0; i < kMaskCount; ++i) {
    const std::string text = mutator.Mutate(seeds[mutator.Pick(4)]);
    try {
      const TMask mask(text);
      for (int n = 0; n < 5; ++n) mask.IsMatch(mutator.RandomText(30));
    } catch (const EMaskException& error) {
      ASSERT_EQ(error.Mask(), text);
      ASSERT_GE(error.Position(), 1u);
      ASSERT_LE(error.Position(), text.size() + 1);
    }
  }
}

}  // namespace

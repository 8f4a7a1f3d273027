// Wildcard file masks: whole-name matching, case rules, sets, ranges and
// negation, and the error raised for each kind of invalid mask.
#include "util/masks.h"

#include <gtest/gtest.h>

#include <string>

namespace {

// The position an invalid mask reports, or 0 when it compiles.
std::size_t ErrorPosition(const std::string& mask) {
  try {
    TMask compiled(mask);
  } catch (const EMaskException& error) {
    EXPECT_EQ(error.Mask(), mask);
    return error.Position();
  }
  return 0;
}

std::string SkipRuns(int count) {
  std::string mask;
  for (int i = 0; i < count; ++i) mask += "*a";
  return mask;
}

TEST(Masks, StarsCoverAnyRunAndMatchesAreWholeName) {
  EXPECT_TRUE(MatchFileMask("readme.txt", "*.*"));
  EXPECT_TRUE(MatchFileMask(".profile", "*.*"));
  EXPECT_FALSE(MatchFileMask("README", "*.*"));
  for (const char* name : {"", "a", "a.b.c", "*", "[x]"}) EXPECT_TRUE(MatchFileMask(name, "*")) << name;
  EXPECT_TRUE(MatchFileMask("data.csv", "data.csv"));
  EXPECT_FALSE(MatchFileMask("data.csv.bak", "data.csv"));
  EXPECT_FALSE(MatchFileMask("old.data.csv", "data.csv"));
  EXPECT_TRUE(MatchFileMask("a.tar.gz", "*.gz"));
  EXPECT_FALSE(MatchFileMask("a.gz.tar", "*.gz"));
  EXPECT_TRUE(MatchFileMask("abcabd", "*ab?"));
  EXPECT_TRUE(MatchFileMask("aXbXcXd", "a*b*c*d"));
  EXPECT_FALSE(MatchFileMask("aXbXdXc", "a*b*c*d"));
  EXPECT_TRUE(MatchFileMask("mississippi", "*sip*"));
  EXPECT_TRUE(MatchFileMask("mississippi", "m*iss*ppi"));
  EXPECT_FALSE(MatchFileMask("mississippi", "m*iss*ppx"));
}

TEST(Masks, EmptyMaskMatchesOnlyTheEmptyName) {
  EXPECT_TRUE(MatchFileMask("", ""));
  EXPECT_FALSE(MatchFileMask("a", ""));
  EXPECT_FALSE(MatchFileMask(std::string(1, '\0'), ""));
}

TEST(Masks, AsciiLettersMatchInEitherCaseOtherBytesExactly) {
  EXPECT_TRUE(MatchFileMask("a.txt", "*.TXT"));
  EXPECT_TRUE(MatchFileMask("A.TxT", "*.TXT"));
  EXPECT_TRUE(MatchFileMask("A.TXT", "*.txt"));
  EXPECT_FALSE(MatchFileMask("a.txr", "*.TXT"));
  // Only a-z fold: bytes above 0x7F and punctuation must be equal.
  EXPECT_TRUE(MatchFileMask("\xE4.dat", "\xE4.dat"));
  EXPECT_FALSE(MatchFileMask("\xC4.dat", "\xE4.dat"));
  EXPECT_FALSE(MatchFileMask("{", "[[]"));
  EXPECT_TRUE(MatchFileMask("[", "[[]"));
  EXPECT_FALSE(MatchFileMask("@", "`"));
}

TEST(Masks, QuestionMarkIsExactlyOneCharacter) {
  EXPECT_TRUE(MatchFileMask("abe", "a?e"));
  EXPECT_FALSE(MatchFileMask("ae", "a?e"));
  EXPECT_FALSE(MatchFileMask("abed", "a?e"));
  EXPECT_FALSE(MatchFileMask("abe", "abe?"));
  EXPECT_TRUE(MatchFileMask("abe!", "abe?"));
  EXPECT_TRUE(MatchFileMask(std::string("a\0e", 3), "a?e"));
}

TEST(Masks, QuestionMarkAfterStarIsDropped) {
  EXPECT_TRUE(MatchFileMask("", "*?"));
  EXPECT_TRUE(MatchFileMask("", "*??*?"));
  EXPECT_TRUE(MatchFileMask("axb", "a?*?b"));
  EXPECT_FALSE(MatchFileMask("ab", "a?*?b"));
  EXPECT_TRUE(MatchFileMask(".txt", "*?.txt"));
}

TEST(Masks, SetsRangesAndNegation) {
  EXPECT_TRUE(MatchFileMask("Delta", "[b-d]*"));
  EXPECT_TRUE(MatchFileMask("bravo", "[b-d]*"));
  EXPECT_FALSE(MatchFileMask("echo", "[b-d]*"));
  EXPECT_FALSE(MatchFileMask("alpha", "[b-d]*"));
  EXPECT_TRUE(MatchFileMask("echo", "[!b-d]*"));
  EXPECT_FALSE(MatchFileMask("Charlie", "[!b-d]*"));
  EXPECT_TRUE(MatchFileMask("log7.txt", "log[0-9].txt"));
  EXPECT_FALSE(MatchFileMask("logx.txt", "log[0-9].txt"));
  EXPECT_TRUE(MatchFileMask("B", "[abc]"));
  EXPECT_TRUE(MatchFileMask("-", "[+--]"));
  EXPECT_FALSE(MatchFileMask("-", "[x-]]"));
  // A set stands for exactly one character: never the end of the name.
  EXPECT_FALSE(MatchFileMask("log", "log[!0-9]"));
  EXPECT_FALSE(MatchFileMask("", "[!a]"));
  EXPECT_FALSE(MatchFileMask("log", "log*[!0-9]"));
  EXPECT_TRUE(MatchFileMask("log_", "log*[!0-9]"));
}

TEST(Masks, SetRangeDetails) {
  // A range after a range starts again from the last single character.
  EXPECT_TRUE(MatchFileMask("e", "[a-c-e]"));
  // "]" right after "-" ends the range; the set is then closed later.
  EXPECT_TRUE(MatchFileMask("\\", "[Z-]]"));
  EXPECT_TRUE(MatchFileMask("z", "[Z-]]"));
  EXPECT_FALSE(MatchFileMask("^", "[Z-]]"));
  // Members are stored upper-cased, so mixed-case ranges fold too.
  EXPECT_TRUE(MatchFileMask("q", "[a-Z]"));
  EXPECT_FALSE(MatchFileMask("!", "[!!]"));
  EXPECT_TRUE(MatchFileMask("x", "[!!]"));
  EXPECT_TRUE(MatchFileMask("*", "[*?]"));
  EXPECT_FALSE(MatchFileMask("a", "[*?]"));
}

TEST(Masks, InvalidMasksReportTheOffendingPosition) {
  EXPECT_EQ(ErrorPosition("[abc"), 5u);
  EXPECT_EQ(ErrorPosition("[-a]"), 2u);
  EXPECT_EQ(ErrorPosition("x[!-a]"), 4u);
  EXPECT_EQ(ErrorPosition("[]"), 2u);
  EXPECT_EQ(ErrorPosition("a[!]b"), 4u);
  EXPECT_EQ(ErrorPosition("["), 2u);
  EXPECT_EQ(ErrorPosition("*.[!"), 5u);
  EXPECT_EQ(ErrorPosition("[a-"), 4u);
  EXPECT_EQ(ErrorPosition("[a-]"), 5u);
  EXPECT_EQ(ErrorPosition("[z-a]"), 4u);
  EXPECT_EQ(ErrorPosition("[abz-a]"), 6u);
  EXPECT_EQ(ErrorPosition("[a-c]]"), 0u);
  EXPECT_EQ(ErrorPosition("]"), 0u);
  EXPECT_EQ(ErrorPosition("a-b"), 0u);
}

TEST(Masks, AtMostThirtyStarRuns) {
  EXPECT_EQ(ErrorPosition(SkipRuns(30)), 0u);
  EXPECT_EQ(ErrorPosition(SkipRuns(30) + "*"), 61u);
  EXPECT_EQ(ErrorPosition(SkipRuns(31)), 61u);
  // A run of stars, with dropped "?" inside, counts once.
  EXPECT_EQ(ErrorPosition("****" + SkipRuns(29) + "*?*"), 0u);

  const TMask thirty(SkipRuns(30));
  EXPECT_TRUE(thirty.IsMatch(std::string(30, 'a')));
  std::string spread;
  for (int i = 0; i < 30; ++i) spread += "xya";
  EXPECT_TRUE(thirty.IsMatch(spread));
  EXPECT_FALSE(thirty.IsMatch(std::string(29, 'a')));
  EXPECT_FALSE(thirty.IsMatch(std::string(30, 'a') + "b"));
}

TEST(Masks, ErrorMessageTextAndPassThrough) {
  try {
    MatchFileMask("abc", "[abc");
    FAIL() << "no exception";
  } catch (const std::exception& error) {
    EXPECT_STREQ(error.what(), "5 番目の文字（'[abc'）は正しくないマスク文字です");
  }
  try {
    TMask mask("*.[-x]");
    FAIL() << "no exception";
  } catch (const EMaskException& error) {
    EXPECT_STREQ(error.what(), "4 番目の文字（'*.[-x]'）は正しくないマスク文字です");
  }
}

TEST(Masks, HostileMaskFinishesQuickly) {
  // Thirty runs that all keep almost matching: exhaustive backtracking over
  // every "*" would not finish; the name-times-mask bound does at once.
  const TMask mask(SkipRuns(30) + "b");
  EXPECT_FALSE(mask.IsMatch(std::string(5000, 'a')));
  EXPECT_TRUE(mask.IsMatch(std::string(5000, 'a') + "b"));
}

TEST(Masks, CompiledMaskIsReusable) {
  const TMask mask("*.[ct]sv");
  EXPECT_TRUE(mask.IsMatch("a.csv"));
  EXPECT_TRUE(mask.IsMatch("B.TSV"));
  EXPECT_FALSE(mask.IsMatch("a.xsv"));
  EXPECT_TRUE(mask.IsMatch("a.csv"));
}

}  // namespace

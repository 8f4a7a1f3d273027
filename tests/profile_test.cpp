// The profile file syntax: sections in file order, comments, blanks, quotes,
// line ends, byte order marks, repeated keys and headers.
#include <gtest/gtest.h>

#include "platform/profile.h"
#include "support/testsupport.h"

using namespace testsupport;

namespace {

std::vector<std::string> SectionNames(const TProfile& Profile) {
  std::vector<std::string> Names;
  for (std::size_t I = 0; I < Profile.SectionCount(); ++I) Names.push_back(Profile.SectionName(I));
  return Names;
}

TProfile Parse(const std::string& Text) {
  TProfile Profile;
  Profile.LoadFromText(Text);
  return Profile;
}

}  // namespace

TEST(Profile, NamesAndValuesLoseSurroundingBlanksAndKeysIgnoreCase) {
  const TProfile Profile = Parse("  [ my job ]  \n\t Target \t=\t host name \t\nMODE=ftpput\n");
  ASSERT_EQ(SectionNames(Profile), std::vector<std::string>{"my job"});
  EXPECT_EQ(Profile.ReadString(0, "target", "?"), "host name");
  EXPECT_EQ(Profile.ReadString(0, "Mode", "?"), "ftpput");
  EXPECT_EQ(Profile.ReadString(0, "Absent", "fallback"), "fallback");
  EXPECT_EQ(Profile.ReadString(1, "Mode", "no such section"), "no such section");
}

TEST(Profile, CommentsBlankLinesAndLinesWithoutEqualsAreSkipped) {
  const TProfile Profile = Parse(
      "Orphan=before any section\n; [commented]\n# [also]\n[a]\n  ; Target=x\n\t# Target=y\n"
      "just words\n\nTarget=z ; not a comment\nUser=#kept\n=no key\n");
  ASSERT_EQ(SectionNames(Profile), std::vector<std::string>{"a"});
  EXPECT_EQ(Profile.ReadString(0, "Target", "?"), "z ; not a comment");
  EXPECT_EQ(Profile.ReadString(0, "User", "?"), "#kept");
  EXPECT_EQ(Profile.ReadString(0, "Orphan", "none"), "none");
  EXPECT_EQ(Profile.ReadString(0, "", "none"), "none");
}

TEST(Profile, MatchingQuotesAroundAWholeValueAreRemoved) {
  const TProfile Profile = Parse(
      "[q]\nA=\"double\"\nB='single'\nC=\"mixed'\nD=\"\"\nE=\"\nF=say \"hi\"\nG=\" keep blanks \"\n"
      "H=\"a\" and \"b\"\n");
  EXPECT_EQ(Profile.ReadString(0, "A", "?"), "double");
  EXPECT_EQ(Profile.ReadString(0, "B", "?"), "single");
  EXPECT_EQ(Profile.ReadString(0, "C", "?"), "\"mixed'");
  EXPECT_EQ(Profile.ReadString(0, "D", "?"), "");
  EXPECT_EQ(Profile.ReadString(0, "E", "?"), "\"");
  EXPECT_EQ(Profile.ReadString(0, "F", "?"), "say \"hi\"");
  EXPECT_EQ(Profile.ReadString(0, "G", "?"), " keep blanks ");
  EXPECT_EQ(Profile.ReadString(0, "H", "?"), "a\" and \"b");
}

TEST(Profile, EveryHeaderStartsItsOwnSectionAndTheFirstKeyWins) {
  const TProfile Profile = Parse("[x]\nK=1\nk=2\n[X]\nK=3\n[x]\n[]\nK=4\n[y] ; trailing\n[a]b]\n[open\nK=5\n");
  EXPECT_EQ(SectionNames(Profile), (std::vector<std::string>{"x", "X", "x", "", "y", "a]b", "open"}));
  EXPECT_EQ(Profile.ReadString(0, "K", "?"), "1");
  EXPECT_EQ(Profile.ReadString(1, "K", "?"), "3");
  EXPECT_EQ(Profile.ReadString(2, "K", "?"), "?");
  EXPECT_EQ(Profile.ReadString(3, "K", "?"), "4");
  // A header missing its "]" still keeps its keys away from the job above.
  EXPECT_EQ(Profile.ReadString(5, "K", "?"), "?");
  EXPECT_EQ(Profile.ReadString(6, "K", "?"), "5");
}

TEST(Profile, AnyLineEndAndAByteOrderMarkAreAccepted) {
  for (const std::string End : {"\n", "\r\n", "\r"}) {
    const TProfile Profile = Parse("\xEF\xBB\xBF[a]" + End + "K=v" + End + End + "[b]" + End + "K=w");
    EXPECT_EQ(SectionNames(Profile), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(Profile.ReadString(0, "K", "?"), "v");
    EXPECT_EQ(Profile.ReadString(1, "K", "?"), "w");
  }
}

TEST(Profile, UnicodeTextFromWindowsEditorsIsReadAsUtf8) {
  const std::u16string Text = u"[caf\u00e9]\r\nTarget=h\u00f6st\U0001F600\r\n";
  std::string Little = "\xFF\xFE", Big = "\xFE\xFF";
  for (const char16_t Unit : Text) {
    Little += static_cast<char>(Unit & 0xFF);
    Little += static_cast<char>(Unit >> 8);
    Big += static_cast<char>(Unit >> 8);
    Big += static_cast<char>(Unit & 0xFF);
  }
  for (const std::string& Encoded : {Little, Big}) {
    const TProfile Profile = Parse(Encoded);
    EXPECT_EQ(SectionNames(Profile), std::vector<std::string>{"caf\xC3\xA9"});
    EXPECT_EQ(Profile.ReadString(0, "TARGET", "?"), "h\xC3\xB6st\xF0\x9F\x98\x80");
  }
}

TEST(Profile, ValuesAreCutTo2047Bytes) {
  const std::string Long(5000, 'x');
  const TProfile Profile = Parse("[a]\nK=" + Long + "\nQ=\"" + Long + "\"\nE=" + std::string(2047, 'e') + "\n");
  EXPECT_EQ(Profile.ReadString(0, "K", ""), std::string(2047, 'x'));
  EXPECT_EQ(Profile.ReadString(0, "Q", ""), std::string(2047, 'x'));
  EXPECT_EQ(Profile.ReadString(0, "E", ""), std::string(2047, 'e'));
}

TEST(Profile, FileIsReadWholeOrReportedUnreadable) {
  TempDir Dir;
  WriteFile(Dir / "a.ini", "[a]\nK=v\n");
  TProfile Profile;
  std::string Reason;
  ASSERT_TRUE(Profile.LoadFromFile(Dir / "a.ini", Reason));
  EXPECT_EQ(Profile.ReadString(0, "K", "?"), "v");
  EXPECT_FALSE(Profile.LoadFromFile(Dir / "absent.ini", Reason));
  EXPECT_EQ(Reason, "No such file or directory");
}

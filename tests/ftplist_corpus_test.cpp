// Runs the listing corpus in tests/data/listings: real-world listing styles
// (ls -l, IIS, VMS, EPLF) and one line for each of the 36 line masks, each
// case with the entries and rejected lines it must give, the winning mask
// included.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "platform/systime.h"
#include "protocols/ftplist.h"
#include "support/testsupport.h"

namespace {

struct ListingCase {
  std::string file;
  std::string title;
  std::vector<std::string> lines;
  std::vector<std::string> expected;  // "E ..." and "R ..." rows, in order
};

std::vector<ListingCase> LoadCorpus() {
  std::vector<ListingCase> cases;
  const std::filesystem::path folder = std::filesystem::path(TARVO_SOURCE_DIR) / "tests/data/listings";
  for (const auto& item : std::filesystem::directory_iterator(folder)) {
    if (item.path().extension() != ".txt") continue;
    std::istringstream text(testsupport::ReadFile(item.path().string()));
    ListingCase current;
    std::string row;
    while (std::getline(text, row)) {
      if (row.rfind("case ", 0) == 0) {
        current = ListingCase{item.path().filename().string(), row.substr(5), {}, {}};
      } else if (row.rfind("L ", 0) == 0) {
        current.lines.push_back(row.substr(2));
      } else if (row.rfind("E ", 0) == 0 || row.rfind("R ", 0) == 0) {
        current.expected.push_back(row);
      } else if (row == "end") {
        cases.push_back(current);
      }
    }
  }
  return cases;
}

std::string FormatTime(double value) {
  int year, month, day, hour, minute, second, millisecond;
  DecodeDate(value, year, month, day);
  DecodeTime(value, hour, minute, second, millisecond);
  char text[32];
  std::snprintf(text, sizeof(text), "%04d-%02d-%02d %02d:%02d:%02d", year, month, day, hour, minute, second);
  return text;
}

std::string MaskNumber(const TFTPList& list, const std::string& mask) {
  for (std::size_t i = 0; i < list.LineMasks.size(); ++i) {
    if (list.LineMasks[i] == mask) return std::to_string(i + 1);
  }
  return mask;
}

// The rows a parsed listing gives, in the corpus notation.
std::vector<std::string> Describe(const TFTPList& list) {
  std::vector<std::string> rows;
  for (int i = 0; i < list.Count(); ++i) {
    const TFTPListRec& entry = *list.EntryAt(i);
    rows.push_back("E " + MaskNumber(list, entry.MatchedMask) + "|" + entry.Name + "|" + (entry.IsDir ? "d" : "f") +
                   (entry.IsReadable ? "r" : "-") + "|" + std::to_string(entry.Size) + "|" +
                   FormatTime(entry.ModifiedTime) + "|" + entry.Permissions);
  }
  for (const std::string& line : list.RejectedLines) rows.push_back("R " + line);
  return rows;
}

std::string Today() { return FormatTime(NowLocal()).substr(0, 10); }

std::string Expand(std::string row) {
  const std::string today = Today();
  for (std::size_t at; (at = row.find("@D")) != std::string::npos;) row.replace(at, 2, today);
  for (std::size_t at; (at = row.find("@Y")) != std::string::npos;) row.replace(at, 2, today.substr(0, 4));
  return row;
}

TEST(FtpListCorpus, EveryCaseGivesItsEntriesAndRejectedLines) {
  const std::vector<ListingCase> cases = LoadCorpus();
  ASSERT_GE(cases.size(), 45u);
  for (const ListingCase& listing : cases) {
    TFTPList list;
    list.RawLines = listing.lines;
    list.ParseListing();
    std::vector<std::string> expected;
    for (const std::string& row : listing.expected) expected.push_back(Expand(row));
    EXPECT_EQ(Describe(list), expected) << listing.file << ": " << listing.title;
  }
}

TEST(FtpListCorpus, EachOfTheThirtySixMasksWinsOneCase) {
  std::vector<bool> won(37, false);
  for (const ListingCase& listing : LoadCorpus()) {
    TFTPList list;
    list.RawLines = listing.lines;
    list.ParseListing();
    for (int i = 0; i < list.Count(); ++i) {
      const std::string number = MaskNumber(list, list.EntryAt(i)->MatchedMask);
      if (number != "EPLF") won[std::stoul(number)] = true;
    }
  }
  for (int mask = 1; mask <= 36; ++mask) EXPECT_TRUE(won[mask]) << "mask " << mask;
}

}  // namespace

// The parts of the file system interface that are the same on every system:
// separators and the wildcard rules of directory searches.
#include "platform/filesys.h"

#include <algorithm>
#include <string_view>

namespace {

char AsciiLower(char C) { return C >= 'A' && C <= 'Z' ? static_cast<char>(C - 'A' + 'a') : C; }

// "*" and "?" against the whole name; on a mismatch the last "*" takes one
// more character, which keeps the cost at names times pattern length.
bool MatchesWildcards(std::string_view Name, std::string_view Pattern) {
  std::size_t N = 0, P = 0;
  std::size_t StarP = std::string_view::npos, StarN = 0;
  while (N < Name.size()) {
    if (P < Pattern.size() && Pattern[P] == '*') {
      StarP = P++;
      StarN = N;
    } else if (P < Pattern.size() && (Pattern[P] == '?' || AsciiLower(Pattern[P]) == AsciiLower(Name[N]))) {
      ++P;
      ++N;
    } else if (StarP != std::string_view::npos) {
      P = StarP + 1;
      N = ++StarN;
    } else {
      return false;
    }
  }
  while (P < Pattern.size() && Pattern[P] == '*') ++P;
  return P == Pattern.size();
}

}  // namespace

std::string NativePath(const std::string& Path) {
  std::string Result = Path;
  std::replace(Result.begin(), Result.end(), '\\', '/');
  return Result;
}

bool HasWildcards(const std::string& Name) { return Name.find_first_of("*?") != std::string::npos; }

bool MatchesSearchPattern(const std::string& Name, const std::string& Pattern) {
  const std::string_view P = Pattern;
  if (MatchesWildcards(Name, P)) return true;
  if (P.size() >= 2 && P.substr(P.size() - 2) == ".*") return MatchesWildcards(Name, P.substr(0, P.size() - 2));
  if (P.size() >= 2 && P.back() == '.' && Name.find('.') == std::string::npos)
    return MatchesWildcards(Name, P.substr(0, P.size() - 1));
  return false;
}

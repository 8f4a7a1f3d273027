// Random masks and names (fixed seed): every mask either compiles or raises
// EMaskException, agreeing with an independent reading of the mask rules on
// which and where, and every match agrees with a table-driven reference
// matcher. Runs under the sanitizers with fewer cases.
#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "util/masks.h"

namespace {

#ifdef TARVO_SANITIZE
constexpr int kMaskCount = 20000;
#else
constexpr int kMaskCount = 300000;
#endif
constexpr int kNamesPerMask = 3;

// One step of a reference pattern: either a star or a one-character test.
struct Step {
  bool star = false;
  std::array<bool, 256> accepts{};
};

char Fold(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

// The reference compiler: the pattern steps, or the 1-based error position.
struct Compiled {
  std::vector<Step> steps;
  std::size_t error = 0;
};

Compiled ReferenceCompile(const std::string& mask) {
  Compiled out;
  int runs = 0;
  const std::size_t n = mask.size();
  for (std::size_t i = 0; i < n;) {
    const char c = mask[i];
    const bool afterStar = !out.steps.empty() && out.steps.back().star;
    if (c == '*' || (c == '?' && afterStar)) {
      if (c == '*' && !afterStar) {
        if (++runs > 30) return {{}, i + 1};
        out.steps.push_back(Step{true, {}});
      }
      ++i;
      continue;
    }
    Step one;
    if (c == '?') {
      one.accepts.fill(true);
      ++i;
    } else if (c != '[') {
      one.accepts[static_cast<unsigned char>(c)] = true;
      one.accepts[static_cast<unsigned char>(Fold(c))] = true;
      if (c >= 'A' && c <= 'Z') one.accepts[static_cast<unsigned char>(c + 32)] = true;
      ++i;
    } else {
      std::size_t j = i + 1;
      const bool negated = j < n && mask[j] == '!';
      if (negated) ++j;
      std::array<bool, 256> members{};
      int last = -1;
      bool any = false;
      for (;; ++j) {
        if (j >= n) return {{}, n + 1};
        if (mask[j] == ']') break;
        if (mask[j] != '-') {
          last = static_cast<unsigned char>(Fold(mask[j]));
          members[last] = any = true;
          continue;
        }
        if (last < 0) return {{}, j + 1};
        if (j + 1 >= n) return {{}, n + 1};
        const int end = static_cast<unsigned char>(Fold(mask[j + 1]));
        if (end < last) return {{}, j + 2};
        for (int m = last; m <= end; ++m) members[m] = any = true;
        ++j;
      }
      if (!any) return {{}, j + 1};
      for (int b = 0; b < 256; ++b) {
        one.accepts[b] = members[static_cast<unsigned char>(Fold(static_cast<char>(b)))] != negated;
      }
      i = j + 1;
    }
    out.steps.push_back(one);
  }
  return out;
}

// Classic dynamic programme: can steps[s..] consume name[p..] entirely?
bool ReferenceMatch(const std::vector<Step>& steps, const std::string& name) {
  const std::size_t rows = steps.size() + 1;
  const std::size_t cols = name.size() + 1;
  std::vector<char> table(rows * cols, 0);
  const auto at = [&](std::size_t s, std::size_t p) -> char& { return table[s * cols + p]; };
  at(steps.size(), name.size()) = 1;
  for (std::size_t s = steps.size(); s-- > 0;) {
    for (std::size_t p = name.size() + 1; p-- > 0;) {
      if (steps[s].star) {
        at(s, p) = at(s + 1, p) || (p < name.size() && at(s, p + 1));
      } else {
        at(s, p) = p < name.size() && steps[s].accepts[static_cast<unsigned char>(name[p])] && at(s + 1, p + 1);
      }
    }
  }
  return at(0, 0);
}

std::string RandomText(std::mt19937& random, const std::string& alphabet, int maxLength) {
  std::uniform_int_distribution<int> length(0, maxLength);
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size());
  std::uniform_int_distribution<int> anyByte(0, 255);
  std::string text(static_cast<std::size_t>(length(random)), '\0');
  for (char& c : text) {
    const std::size_t k = pick(random);
    // One slot in the alphabet's size stands for an arbitrary byte.
    c = k < alphabet.size() ? alphabet[k] : static_cast<char>(anyByte(random));
  }
  return text;
}

TEST(MasksRandom, CompileOrRaiseAndMatchAgreeWithReference) {
  const std::string maskAlphabet = std::string("aAbBzZ.-!*?*?[[]]-!_^`{", 23) + std::string(1, '\0') + "\xE4\xC4";
  const std::string nameAlphabet = std::string("aAbBzZ.-!*?[]_^`{", 17) + std::string(1, '\0') + "\xE4\xC4";
  std::mt19937 random(61);
  int compiled = 0;
  int matched = 0;
  for (int i = 0; i < kMaskCount; ++i) {
    const std::string maskText = RandomText(random, maskAlphabet, 16);
    const Compiled reference = ReferenceCompile(maskText);
    std::optional<TMask> mask;
    try {
      mask.emplace(maskText);
    } catch (const EMaskException& error) {
      ASSERT_EQ(error.Position(), reference.error) << testing::PrintToString(maskText);
      continue;
    }
    ASSERT_EQ(reference.error, 0u) << testing::PrintToString(maskText);
    ++compiled;
    for (int k = 0; k < kNamesPerMask; ++k) {
      const std::string name = RandomText(random, nameAlphabet, 14);
      const bool expected = ReferenceMatch(reference.steps, name);
      ASSERT_EQ(mask->IsMatch(name), expected)
          << "mask " << testing::PrintToString(maskText) << " name " << testing::PrintToString(name);
      matched += expected;
    }
  }
  // The generator must exercise both outcomes on both sides.
  EXPECT_GT(compiled, kMaskCount / 10);
  EXPECT_LT(compiled, kMaskCount);
  EXPECT_GT(matched, kMaskCount / 100);
}

TEST(MasksRandom, ArbitraryBytesNeverCrash) {
  std::mt19937 random(6302);
  const std::string noAlphabet;
  int count = kMaskCount / 2;
  for (int i = 0; i < count; ++i) {
    const std::string maskText = RandomText(random, noAlphabet, 40);
    try {
      const TMask mask(maskText);
      mask.IsMatch(RandomText(random, noAlphabet, 40));
      mask.IsMatch("");
    } catch (const EMaskException& error) {
      ASSERT_GE(error.Position(), 1u);
      ASSERT_LE(error.Position(), maskText.size() + 1);
    }
  }
}

}  // namespace

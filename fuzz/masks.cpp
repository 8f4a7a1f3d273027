// Wildcard masks: every mask compiles or raises EMaskException, and every
// match agrees with a small dynamic-programming matcher written from the
// rules in masks.h. Input: mask length byte, mask, name.
#include <array>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/support/fuzzpeer.h"
#include "util/masks.h"

namespace {

unsigned char Fold(unsigned char C) { return C >= 'a' && C <= 'z' ? C - 32 : C; }

// One position of the mask: a "*" run or a test for one character.
struct TStep {
  bool Star = false;
  std::array<bool, 256> Accepts{};
};

// Only called for masks TMask accepted, so sets are well formed.
std::vector<TStep> Steps(const std::string& Mask) {
  std::vector<TStep> Out;
  for (std::size_t I = 0; I < Mask.size();) {
    const auto C = static_cast<unsigned char>(Mask[I]);
    const bool AfterStar = !Out.empty() && Out.back().Star;
    if (C == '*' || (C == '?' && AfterStar)) {
      if (!AfterStar) Out.push_back({true, {}});
      ++I;
      continue;
    }
    TStep Step;
    if (C == '?') {
      Step.Accepts.fill(true);
      ++I;
    } else if (C == '[') {
      ++I;
      const bool Negated = Mask[I] == '!';
      if (Negated) ++I;
      std::array<bool, 256> Set{};
      unsigned char Last = 0;
      while (Mask[I] != ']') {
        if (Mask[I] == '-') {
          for (unsigned M = Last; M <= Fold(static_cast<unsigned char>(Mask[I + 1])); ++M) Set[M] = true;
          I += 2;
        } else {
          Last = Fold(static_cast<unsigned char>(Mask[I++]));
          Set[Last] = true;
        }
      }
      ++I;
      for (unsigned B = 0; B < 256; ++B) Step.Accepts[B] = Set[Fold(static_cast<unsigned char>(B))] != Negated;
    } else {
      for (unsigned B = 0; B < 256; ++B) Step.Accepts[B] = Fold(static_cast<unsigned char>(B)) == Fold(C);
      ++I;
    }
    Out.push_back(Step);
  }
  return Out;
}

bool ReferenceMatch(const std::vector<TStep>& Mask, std::string_view Name) {
  // Reach[j]: the first j characters of the name are matched so far.
  std::vector<char> Reach(Name.size() + 1, 0);
  Reach[0] = 1;
  for (const TStep& Step : Mask) {
    std::vector<char> Next(Name.size() + 1, 0);
    for (std::size_t J = 0; J <= Name.size(); ++J) {
      if (!Reach[J]) continue;
      if (Step.Star) {
        for (std::size_t K = J; K <= Name.size(); ++K) Next[K] = 1;
        break;
      }
      if (J < Name.size() && Step.Accepts[static_cast<unsigned char>(Name[J])]) Next[J + 1] = 1;
    }
    Reach.swap(Next);
  }
  return Reach[Name.size()] != 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size) {
  TFuzzInput Input(Data, Size);
  const std::size_t MaskLength = Input.Byte();
  const std::string Mask(Input.Rest().substr(0, MaskLength));
  const std::string_view Name = Input.Rest().substr(Mask.size());
  if (Name.size() > 512) return 0;  // the reference matcher is quadratic
  try {
    const TMask Compiled(Mask);
    if (Compiled.IsMatch(Name) != ReferenceMatch(Steps(Mask), Name)) std::abort();
  } catch (const EMaskException& Error) {
    if (Error.Position() == 0 || Error.Position() > Mask.size() + 1) std::abort();
  }
  return 0;
}

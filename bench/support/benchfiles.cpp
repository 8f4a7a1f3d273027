#include "bench/support/benchfiles.h"

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <vector>

void WriteRandomFile(const std::string& Path, long long Size, std::mt19937_64& Random) {
  std::ofstream Out(Path, std::ios::binary);
  std::vector<std::uint64_t> Block(1 << 17);
  while (Size > 0) {
    for (auto& Word : Block) Word = Random();
    const long long Piece = std::min<long long>(Size, static_cast<long long>(Block.size() * 8));
    Out.write(reinterpret_cast<const char*>(Block.data()), Piece);
    Size -= Piece;
  }
}

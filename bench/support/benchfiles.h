// Input files for the benchmarks.
#pragma once

#include <random>
#include <string>

// Writes Size bytes drawn from Random to Path: data that no transfer can
// compress or take a short cut through.
void WriteRandomFile(const std::string& Path, long long Size, std::mt19937_64& Random);

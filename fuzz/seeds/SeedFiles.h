// Shared by the two seed programs: where seeds go and how one is saved.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using SeedBytes = std::vector<uint8_t>;

// Writes OUTDIR/<target>/<name>; the program stops when it cannot.
void SaveSeed(const std::string& outDir, const std::string& target, const std::string& name,
              const SeedBytes& bytes);

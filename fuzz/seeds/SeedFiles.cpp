// Saving seeds.
#include "SeedFiles.h"

#include <sys/stat.h>

#include <cstdio>

#include "host/CFuzzScratch.h"

void SaveSeed(const std::string& outDir, const std::string& target, const std::string& name,
              const SeedBytes& bytes)
{
    mkdir(outDir.c_str(), 0755);
    std::string dir = outDir + "/" + target;
    mkdir(dir.c_str(), 0755);
    FILE* f = fopen((dir + "/" + name).c_str(), "wb");
    if (!f || fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) FuzzFault("cannot write a seed", name);
    fclose(f);
}

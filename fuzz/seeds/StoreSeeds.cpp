// fuzz_store_seeds OUTDIR: writes the seed inputs of the store fuzz targets
// into OUTDIR/<target>/: data files and whole directories written through
// the store's own Write.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "SeedFiles.h"
#include "chronik/chronik.h"
#include "host/CFuzzScratch.h"

namespace {

using Bytes = SeedBytes;

std::string g_out;

void Save(const std::string& target, const std::string& name, const Bytes& bytes)
{
    SaveSeed(g_out, target, name, bytes);
}

// Event codes of both kinds, cleared and not, and the two notices.
uint32_t StationEvent(uint32_t card, uint32_t kind, uint32_t flags)
{
    return card << 16 | kind << 9 | flags << 1 | 1;
}

uint32_t ModuleEvent(uint32_t station, uint32_t cage, uint32_t slot, uint32_t flags)
{
    return station << 21 | cage << 17 | slot << 9 | flags << 1;
}

// Writes a store through the store's own Write: events of nodes 2 and 3,
// or with overflow blocks when many.
std::string WriteStore(const std::string& dir, bool many)
{
    mkdir(dir.c_str(), 0755);
    const uint32_t t0 = 1704067200;  // 2024-01-01 00:00:00 UTC
    uint32_t codes[] = {StationEvent(2, 0, 0),     StationEvent(3, 1, 0x20), StationEvent(2, 4, 0x10),
                        ModuleEvent(2, 1, 5, 0x10), ModuleEvent(4, 2, 7, 0xFF), StationEvent(2, 15, 0x05),
                        0u,                         0xFFFFFFFFu};
    Write(2, t0, 4, codes, dir.c_str());
    Write(3, t0 + 10, 4, codes + 4, dir.c_str());
    uint32_t clear = codes[3] | 0x80000000u;
    Write(2, t0 + 60, 1, &clear, dir.c_str());
    for (uint32_t i = 0; many && i < 300; ++i) Write(2, t0 + 100 + i, 3, codes + i % 5, dir.c_str());
    return dir;
}

// The store's files as seeds: the data file (cut after the blocks of nodes 2
// and 3 unless many), and the directory input with the index renamed to the
// data file name the target uses.
void StoreSeeds(const std::string& name, bool many)
{
    std::string dir = WriteStore(CFuzzScratch::Get().Path("store-" + name), many);
    Bytes index = FuzzReadFile(dir + "/Index.API");
    const size_t kHeader = 43, kEntry = 32, kName = 24;
    if (index.size() < kHeader + kEntry) FuzzFault("the store wrote no index entry");
    std::string dataName(reinterpret_cast<const char*>(&index[kHeader + 8]), kName);
    Bytes file = FuzzReadFile(dir + "/" + dataName);
    const size_t kTwoNodes = 1124 + 2072 * 2;
    if (!many && file.size() > kTwoNodes) file.resize(kTwoNodes);
    memcpy(&index[kHeader + 8], "KORVAL20240101000000.API", kName);
    Save("chronik_file", name + ".API", file);
    Bytes input = {static_cast<uint8_t>(index.size()), static_cast<uint8_t>(index.size() >> 8)};
    input.insert(input.end(), index.begin(), index.end());
    input.insert(input.end(), file.begin(), file.end());
    Save("chronik_dir", name + ".store", input);
    remove((dir + "/Index.API").c_str());
    remove((dir + "/" + dataName).c_str());
    rmdir(dir.c_str());
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: fuzz_store_seeds OUTDIR\n");
        return 2;
    }
    g_out = argv[1];
    FuzzQuietMessages();
    setenv("TZ", "UTC", 1);
    tzset();
    SetConfigData(30, 86400);
    StoreSeeds("two-nodes", false);
    StoreSeeds("overflow", true);
    CFuzzScratch::Get().EndInput();
    return 0;
}

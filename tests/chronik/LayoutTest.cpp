// The layout classes of the store's files: every field lands at its offset
// in the files' byte order and comes back unchanged, and any six stored
// words come back as they were.
#include <gtest/gtest.h>

#include <random>

#include "chronik/BlockHeader.h"
#include "chronik/ChronikTestDir.h"
#include "chronik/DataFileHeader.h"
#include "chronik/DirectoryEntry.h"
#include "chronik/IndexEntry.h"
#include "chronik/IndexHeader.h"

namespace {

std::vector<uint8_t> Encoded(const BlockHeader& h)
{
    std::vector<uint8_t> bytes(BlockHeader::kSize, 0xAA);
    h.Encode(bytes.data());
    return bytes;
}

TEST(LayoutTest, BlockHeaderRoundTripsEveryField)
{
    struct Row {
        BlockHeader h;
        uint32_t usedWord, leadingWord;
    };
    const Row rows[] = {
        {{}, 0, 0},
        {{1700000000, 1700000001, 1148, 512, true, 266340, 0, false}, 1025, 0},
        {{1, 2, 266364, 190, false, 0, 190, true}, 380, 381},
        {{7, 8, 9, 6, false, 10, 6, false}, 12, 12},
        {{0xFFFFFFFF, 0xFFFFFFFE, 0xFFFFFFFD, 0x7FFFFFFF, true, 0xFFFFFFFC, 0x7FFFFFFF, true}, 0xFFFFFFFF,
         0xFFFFFFFF},
        {{0x01020304, 0x05060708, 0x090A0B0C, 0x0D0E0F10 >> 1, false, 0x11121314, 0x15161718 >> 1, false},
         0x0D0E0F10, 0x15161718},
    };
    for (const Row& r : rows) {
        auto bytes = Encoded(r.h);
        EXPECT_EQ(WordAt(bytes, 0), r.h.firstTime);
        EXPECT_EQ(WordAt(bytes, 4), r.h.lastTime);
        EXPECT_EQ(WordAt(bytes, 8), r.h.payloadStart);
        EXPECT_EQ(WordAt(bytes, 12), r.usedWord);
        EXPECT_EQ(WordAt(bytes, 16), r.h.next);
        EXPECT_EQ(WordAt(bytes, 20), r.leadingWord);
        BlockHeader back = BlockHeader::Decode(bytes.data());
        EXPECT_EQ(back.firstTime, r.h.firstTime);
        EXPECT_EQ(back.lastTime, r.h.lastTime);
        EXPECT_EQ(back.payloadStart, r.h.payloadStart);
        EXPECT_EQ(back.used, r.h.used);
        EXPECT_EQ(back.continued, r.h.continued);
        EXPECT_EQ(back.next, r.h.next);
        EXPECT_EQ(back.leading, r.h.leading);
        EXPECT_EQ(back.allCodes, r.h.allCodes);
    }
    // Whatever six words a file holds, they are written back as they were.
    std::mt19937 rng(21);
    for (int i = 0; i < 200; ++i) {
        std::vector<uint8_t> bytes(BlockHeader::kSize);
        for (auto& b : bytes) b = static_cast<uint8_t>(rng());
        EXPECT_EQ(Encoded(BlockHeader::Decode(bytes.data())), bytes);
    }
    EXPECT_EQ(BlockHeader::BlockOffset(128), 266340u);
    EXPECT_EQ(BlockHeader::kBlockSize, 2072u);
    EXPECT_EQ(BlockHeader::kFullUsedWord, 1025u);
}

TEST(LayoutTest, HeadersAndEntriesAtTheirOffsets)
{
    std::vector<uint8_t> file(DataFileHeader::kSize, 0xAA);
    DataFileHeader{86400, 11, 12, 512, 130}.Encode(file.data());
    EXPECT_EQ(std::string(file.begin(), file.begin() + 30), "KORVAL DIAGNOSE DATABASE V1.00");
    EXPECT_EQ(WordAt(file, 30), 86400u);
    EXPECT_EQ(WordAt(file, 34), 11u);
    EXPECT_EQ(WordAt(file, 38), 12u);
    EXPECT_EQ(WordAt(file, 42), 512u);
    EXPECT_EQ(WordAt(file, 46), 130u);
    for (size_t i = 50; i < 100; ++i) EXPECT_EQ(file[i], 0) << i;
    DataFileHeader d = DataFileHeader::Decode(file.data());
    EXPECT_TRUE(DataFileHeader::HasMagic(file.data()));
    EXPECT_EQ((std::vector<uint32_t>{d.secondsPerFile, d.creationTime, d.lastEventTime, d.wordsPerBlock,
                                     d.nextFreeBlock}),
              (std::vector<uint32_t>{86400, 11, 12, 512, 130}));

    std::vector<uint8_t> directory(DirectoryEntry::kDirectorySize, 0);
    DirectoryEntry{129, 264268}.Encode(directory.data(), 127);
    EXPECT_EQ(WordAt(directory, 1016), 129u);
    EXPECT_EQ(WordAt(directory, 1020), 264268u);
    DirectoryEntry e = DirectoryEntry::Decode(directory.data(), 127);
    EXPECT_EQ(e.address, 129u);
    EXPECT_EQ(e.blockOffset, 264268u);

    std::vector<uint8_t> index(IndexHeader::kSize, 0xAA);
    IndexHeader{3600, 2, 107}.Encode(index.data());
    EXPECT_EQ(std::string(index.begin(), index.begin() + 31), "KORVAL DIAGNOSE FILEINDEX V1.00");
    EXPECT_EQ(WordAt(index, 31), 3600u);
    EXPECT_EQ(WordAt(index, 35), 2u);
    EXPECT_EQ(WordAt(index, 39), 107u);
    IndexHeader ih = IndexHeader::Decode(index.data());
    EXPECT_EQ((std::vector<uint32_t>{ih.secondsPerFile, ih.count, ih.length}), (std::vector<uint32_t>{3600, 2, 107}));

    for (const char* name : {"KORVAL20240301000000.API", "short", "KORVAL20240301000000.APIandmore"}) {
        std::vector<uint8_t> entry(IndexEntry::kSize, 0xAA);
        IndexEntry{5, 6, name}.Encode(entry.data());
        EXPECT_EQ(WordAt(entry, 0), 5u);
        EXPECT_EQ(WordAt(entry, 4), 6u);
        IndexEntry back = IndexEntry::Decode(entry.data());
        EXPECT_EQ(back.name, std::string(name).substr(0, 24));
        EXPECT_EQ(back.start, 5u);
        EXPECT_EQ(back.end, 6u);
        EXPECT_EQ(entry.back(), std::string(name).size() >= 24 ? name[23] : 0);
    }
    EXPECT_EQ(IndexEntry::Position(2), 107u);
}

}  // namespace

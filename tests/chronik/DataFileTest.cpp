// Data file: the fresh layout byte for byte, appending with overflow blocks
// and leading-word words, chain reading, and damaged chains.
#include <gtest/gtest.h>

#include <cstring>
#include <numeric>

#include "chronik/CDataFileReader.h"
#include "chronik/CDataFileWriter.h"
#include "chronik/ChronikTestDir.h"
#include "platform/CFile.h"

namespace {

constexpr uint32_t kT = 1700000000;

class DataFileTest : public ChronikTest {
protected:
    std::string MakeFile(uint32_t time = kT)
    {
        std::string path = m_dir.File("KORVAL20240101000000.API");
        EXPECT_TRUE(CDataFileWriter::CreateDataFile(path, 86400, time));
        return path;
    }
    CDataFileWriter::AppendResult Append(const std::string& path, uint32_t node, uint32_t time,
                                   const std::vector<uint32_t>& codes)
    {
        CFile f;
        EXPECT_TRUE(f.Open(path.c_str(), CFile::modeReadWrite | CFile::shareExclusive));
        auto r = CDataFileWriter::Append(f, node, time, codes.data(), static_cast<uint32_t>(codes.size()));
        f.Close();
        return r;
    }
    std::vector<RawEvent> Chain(const std::string& path, uint32_t block, uint32_t start = 0,
                                uint32_t end = 0xFFFFFFFF)
    {
        CFile f;
        EXPECT_TRUE(f.Open(path.c_str(), CFile::modeRead));
        std::vector<RawEvent> out;
        CDataFileReader::ReadBlockChain(f, block, start, end, out);
        return out;
    }
    static std::vector<uint32_t> Sequence(uint32_t n, uint32_t first = 1)
    {
        std::vector<uint32_t> v(n);
        std::iota(v.begin(), v.end(), first);
        return v;
    }
};

TEST_F(DataFileTest, FreshFileLayout)
{
    auto bytes = ReadAll(MakeFile());
    ASSERT_EQ(bytes.size(), 264292u);
    EXPECT_EQ(memcmp(bytes.data(), "KORVAL DIAGNOSE DATABASE V1.00", 30), 0);
    EXPECT_EQ(WordAt(bytes, 30), 86400u);
    EXPECT_EQ(WordAt(bytes, 34), kT);
    EXPECT_EQ(WordAt(bytes, 38), kT);
    EXPECT_EQ(WordAt(bytes, 42), 512u);
    EXPECT_EQ(WordAt(bytes, 46), 128u);
    for (size_t i = 50; i < 100; ++i) EXPECT_EQ(bytes[i], 0) << i;
    for (uint32_t i = 0; i < 128; ++i) {
        uint32_t block = 1124 + 2072 * i;
        EXPECT_EQ(WordAt(bytes, 100 + 8 * i), i + 2);
        EXPECT_EQ(WordAt(bytes, 104 + 8 * i), block);
        EXPECT_EQ(WordAt(bytes, block), kT);
        EXPECT_EQ(WordAt(bytes, block + 4), kT);
        EXPECT_EQ(WordAt(bytes, block + 8), block + 24);
        EXPECT_EQ(WordAt(bytes, block + 12), 0u);
        EXPECT_EQ(WordAt(bytes, block + 16), 0u);
        EXPECT_EQ(WordAt(bytes, block + 20), 0u);
    }
}

TEST_F(DataFileTest, NameFromLocalClock)
{
    SYSTEMTIME t{2024, 3, 2, 5, 7, 8, 9, 0};
    EXPECT_EQ(CDataFileWriter::MakeDataFileName(t), "KORVAL20240305070809.API");
    std::string now = CDataFileWriter::MakeDataFileName();
    EXPECT_EQ(now.size(), 24u);
    EXPECT_EQ(now.substr(0, 6), "KORVAL");
    EXPECT_EQ(now.substr(20), ".API");
}

TEST_F(DataFileTest, RecordOf510CodesFillsBlockThenOverflowStartsClean)
{
    std::string path = MakeFile();
    ASSERT_EQ(Append(path, 2, kT + 1, Sequence(510)), CDataFileWriter::Stored);
    auto bytes = ReadAll(path);
    EXPECT_EQ(WordAt(bytes, 1124 + 12), 1024u);  // 512 words, not continued
    EXPECT_EQ(WordAt(bytes, 1124 + 4), kT + 1);
    EXPECT_EQ(WordAt(bytes, 1124 + 24), kT + 1);
    EXPECT_EQ(WordAt(bytes, 1124 + 28), 510u);
    EXPECT_EQ(WordAt(bytes, 38), kT + 1);
    EXPECT_EQ(WordAt(bytes, 46), 128u);

    ASSERT_EQ(Append(path, 2, kT + 2, {7}), CDataFileWriter::Stored);
    bytes = ReadAll(path);
    EXPECT_EQ(WordAt(bytes, 46), 129u);
    EXPECT_EQ(WordAt(bytes, 1124 + 12), 1025u);
    EXPECT_EQ(WordAt(bytes, 1124 + 16), 266340u);
    EXPECT_EQ(WordAt(bytes, 1124 + 4), kT + 2);
    EXPECT_EQ(WordAt(bytes, 266340), kT + 2);
    EXPECT_EQ(WordAt(bytes, 266340 + 4), kT + 2);
    EXPECT_EQ(WordAt(bytes, 266340 + 8), 266364u);
    EXPECT_EQ(WordAt(bytes, 266340 + 12), 6u);
    EXPECT_EQ(WordAt(bytes, 266340 + 16), 0u);
    EXPECT_EQ(WordAt(bytes, 266340 + 20), 0u);
    EXPECT_EQ(WordAt(bytes, 266364), kT + 2);
    EXPECT_EQ(WordAt(bytes, 266368), 1u);
    EXPECT_EQ(WordAt(bytes, 266372), 7u);
    EXPECT_EQ(bytes.size(), 266340u + 24 + 12);

    auto events = Chain(path, 1124);
    ASSERT_EQ(events.size(), 511u);
    EXPECT_EQ(events[509].code, 510u);
    EXPECT_EQ(events[510].code, 7u);
    EXPECT_EQ(events[510].time, kT + 2);
}

TEST_F(DataFileTest, LeadingWordWordsWhereRecordsBreak)
{
    // After 511 used words only the time fits: the count leads the next block.
    std::string path = MakeFile();
    ASSERT_EQ(Append(path, 3, kT + 1, Sequence(509, 1000)), CDataFileWriter::Stored);  // 511 words
    ASSERT_EQ(Append(path, 3, kT + 2, Sequence(5, 1)), CDataFileWriter::Stored);
    auto bytes = ReadAll(path);
    uint32_t block1 = 1124 + 2072;
    EXPECT_EQ(WordAt(bytes, block1 + 12), 1025u);
    EXPECT_EQ(WordAt(bytes, 266340 + 20), 6u * 2);  // count + 5 codes, count first
    EXPECT_EQ(WordAt(bytes, 266340 + 12), 6u * 2);
    // A record broken after its count and first code: the rest are all codes.
    ASSERT_EQ(Append(path, 4, kT + 1, Sequence(507, 1000)), CDataFileWriter::Stored);  // 509 words
    ASSERT_EQ(Append(path, 4, kT + 3, Sequence(5, 1)), CDataFileWriter::Stored);
    bytes = ReadAll(path);
    EXPECT_EQ(WordAt(bytes, 266340 + 2072 + 20), 4u * 2 + 1);
    EXPECT_EQ(WordAt(bytes, 46), 130u);

    for (uint32_t block : {block1, block1 + 2072}) {
        auto events = Chain(path, block);
        ASSERT_GE(events.size(), 5u);
        for (size_t i = 0; i < 5; ++i) {
            const RawEvent& e = events[events.size() - 5 + i];
            EXPECT_EQ(e.code, i + 1);
            EXPECT_EQ(e.time, block == block1 ? kT + 2 : kT + 3);
        }
    }
}

TEST_F(DataFileTest, RecordOf1024CodesSpansThreeBlocks)
{
    std::string path = MakeFile();
    ASSERT_EQ(Append(path, 2, kT, Sequence(1024)), CDataFileWriter::Stored);
    auto bytes = ReadAll(path);
    EXPECT_EQ(WordAt(bytes, 46), 130u);
    EXPECT_EQ(WordAt(bytes, 1124 + 12), 1025u);
    EXPECT_EQ(WordAt(bytes, 1124 + 16), 266340u);
    EXPECT_EQ(WordAt(bytes, 266340 + 12), 1025u);
    EXPECT_EQ(WordAt(bytes, 266340 + 16), 268412u);
    EXPECT_EQ(WordAt(bytes, 266340 + 20), 512u * 2 + 1);
    EXPECT_EQ(WordAt(bytes, 268412 + 12), 4u);
    EXPECT_EQ(WordAt(bytes, 268412 + 20), 2u * 2 + 1);
    auto events = Chain(path, 1124);
    ASSERT_EQ(events.size(), 1024u);
    for (uint32_t i = 0; i < 1024; ++i) ASSERT_EQ(events[i].code, i + 1);
}

TEST_F(DataFileTest, MoreThan1024CodesBecomeSeveralRecords)
{
    std::string path = MakeFile();
    ASSERT_EQ(Append(path, 2, kT + 5, Sequence(2500)), CDataFileWriter::Stored);
    auto bytes = ReadAll(path);
    EXPECT_EQ(WordAt(bytes, 1124 + 28), 1024u);  // count of the first record
    auto events = Chain(path, 1124);
    ASSERT_EQ(events.size(), 2500u);
    for (uint32_t i = 0; i < 2500; ++i) {
        ASSERT_EQ(events[i].code, i + 1);
        ASSERT_EQ(events[i].time, kT + 5);
    }
}

TEST_F(DataFileTest, ChainReadingHonoursTheRange)
{
    std::string path = MakeFile();
    Append(path, 2, kT + 10, {1});
    Append(path, 2, kT + 20, Sequence(600, 100));
    Append(path, 2, kT + 30, {3});
    auto events = Chain(path, 1124, kT + 15, kT + 25);
    ASSERT_EQ(events.size(), 601u);
    EXPECT_EQ(events[0].beforeRange, 1);
    EXPECT_EQ(events[1].beforeRange, 0);
    EXPECT_EQ(events.back().code, 699u);
    // Ending before the block's first time reads nothing, overflow or not.
    EXPECT_TRUE(Chain(path, 1124, 0, kT - 1).empty());
}

TEST_F(DataFileTest, UnknownNodeStoresNothing)
{
    std::string path = MakeFile();
    auto before = ReadAll(path);
    EXPECT_EQ(Append(path, 130, kT, {1}), CDataFileWriter::NotStored);
    EXPECT_EQ(Append(path, 1, kT, {1}), CDataFileWriter::NotStored);
    EXPECT_EQ(ReadAll(path), before);
}

TEST_F(DataFileTest, DamagedChainsNeitherHangNorLoop)
{
    std::string path = MakeFile();
    Append(path, 2, kT, Sequence(700));
    auto good = ReadAll(path);
    struct Damage {
        size_t offset;
        uint32_t value;
        bool chainDamaged;  // the writer must leave the file for a new one
    };
    const Damage damages[] = {
        {266340 + 16, 0, false},          {266340 + 12, 1025, true},   {266340 + 12, 1025 + 2, true},
        {1124 + 16, 1124, true},          {1124 + 16, 5, true},        {1124 + 16, 0xFFFFFFF0, true},
        {104, 0xFFFFFFFF, true},          {104, 7, true},              {1124 + 12, 0xFFFFFFFE, true},
        {266340 + 20, 0xFFFFFFFF, false}, {1124 + 28, 0xFFFFFFFF, false}, {46, 5, true},
    };
    for (const Damage& d : damages) {
        auto bad = good;
        SetWordAt(bad, d.offset, d.value);
        if (d.offset == 266340 + 12 && d.value == 1025) SetWordAt(bad, 266340 + 16, 266340);  // self loop
        WriteAll(path, bad);
        auto events = Chain(path, WordAt(bad, 104));
        EXPECT_LE(events.size(), 1400u) << d.offset;
        EXPECT_EQ(Append(path, 2, kT + 1, {1, 2, 3}),
                  d.chainDamaged ? CDataFileWriter::ChainDamaged : CDataFileWriter::Stored)
            << d.offset;
    }
    // Cut short anywhere: readers keep what they could read.
    for (size_t len : {size_t(0), size_t(29), size_t(1124), size_t(1124 + 30), size_t(266340 + 40)}) {
        auto cut = good;
        cut.resize(len);
        WriteAll(path, cut);
        auto events = Chain(path, 1124);
        EXPECT_LE(events.size(), 700u);
    }
}

}  // namespace

namespace {

// Why a chain read stops, what a single-file read then says, and whether the
// writer stays in the file: a chain of node 2 whose first block is full
// (a record of 700 codes) and whose overflow block holds the rest of it and
// a record of 3 codes.
TEST_F(DataFileTest, ChainStopsSayWhy)
{
    constexpr uint32_t kOverflow = 266340, kSecondRecord = kOverflow + 24 + 190 * 4;
    std::vector<uint32_t> codes;
    for (uint32_t i = 0; i < 703; ++i) codes.push_back(ModuleCode(4, (i >> 8) & 15, i & 255, 32));
    std::string path = MakeFile();
    ASSERT_EQ(Append(path, 2, kT, std::vector<uint32_t>(codes.begin(), codes.begin() + 700)), CDataFileWriter::Stored);
    ASSERT_EQ(Append(path, 2, kT + 1, std::vector<uint32_t>(codes.begin() + 700, codes.end())),
              CDataFileWriter::Stored);
    const auto good = ReadAll(path);
    struct Case {
        size_t offset;
        uint32_t value;
        ChainStop stop;
        size_t events;
        CDataFileWriter::AppendResult write;
    };
    const Case cases[] = {
        {34, kT, ChainStop::End, 703, CDataFileWriter::Stored},  // as written
        {1124 + 16, 5, ChainStop::DamagedLink, 510, CDataFileWriter::ChainDamaged},
        {1124 + 16, 1124, ChainStop::DamagedLink, 510, CDataFileWriter::ChainDamaged},
        {1124 + 16, 1124 + 2072 * 1000, ChainStop::DamagedLink, 510, CDataFileWriter::ChainDamaged},
        {kOverflow + 8, 0, ChainStop::DamagedLink, 703, CDataFileWriter::ChainDamaged},
        {kSecondRecord, 0, ChainStop::DamagedRecord, 700, CDataFileWriter::Stored},
        {1124 + 28, 0xFFFFFFFF, ChainStop::DamagedRecord, 0, CDataFileWriter::Stored},
        {kOverflow + 20, 7, ChainStop::DamagedRecord, 510, CDataFileWriter::Stored},
    };
    for (const Case& c : cases) {
        auto bad = good;
        SetWordAt(bad, c.offset, c.value);
        WriteAll(path, bad);
        std::vector<RawEvent> events;
        CFile f;
        ASSERT_TRUE(f.Open(path.c_str(), CFile::modeRead));
        EXPECT_EQ(CDataFileReader::ReadBlockChain(f, 1124, 0, 0xFFFFFFFF, events), c.stop) << c.offset;
        f.Close();
        EXPECT_EQ(events.size(), c.events) << c.offset;
        // A range that ends before the chain begins reads nothing, and that is an end.
        events.clear();
        ASSERT_TRUE(f.Open(path.c_str(), CFile::modeRead));
        EXPECT_EQ(CDataFileReader::ReadBlockChain(f, 1124, 0, kT - 1, events), ChainStop::End);
        f.Close();

        s_messages.clear();
        EXPECT_EQ(Records(ReadSingleFile(path.c_str(), 2)).size(), c.events) << c.offset;
        std::vector<std::string> said;
        if (c.stop != ChainStop::End) said.push_back(path + "文件版本不匹配或已损坏");
        EXPECT_EQ(s_messages, said) << c.offset;
        EXPECT_EQ(Append(path, 2, kT + 2, {1}), c.write) << c.offset;
    }
    // Cut short inside the overflow block: the codes up to the cut.
    auto cut = good;
    cut.resize(kOverflow + 24 + 25 * 4);
    WriteAll(path, cut);
    std::vector<RawEvent> events;
    CFile f;
    ASSERT_TRUE(f.Open(path.c_str(), CFile::modeRead));
    EXPECT_EQ(CDataFileReader::ReadBlockChain(f, 1124, 0, 0xFFFFFFFF, events), ChainStop::DamagedRecord);
    EXPECT_EQ(events.size(), 535u);
}

}  // namespace

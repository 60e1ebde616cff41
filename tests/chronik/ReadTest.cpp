// Reading: pairing of occurrences with clears across files and ranges, the
// order of results, the station filter, the limit, notices, null results and
// messages, and hostile files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <random>
#include <set>

#include "chronik/CDataFileWriter.h"
#include "chronik/ChronikTestDir.h"

namespace {

constexpr uint32_t kT = 1700000000;

class ReadTest : public ChronikTest {
protected:
    void Put(uint32_t time, std::vector<uint32_t> codes, uint32_t node = 2)
    {
        Write(node, time, static_cast<uint32_t>(codes.size()), codes.data(), m_dir.Path().c_str());
    }
    std::vector<DiagRecord> ReadRange(uint32_t from, uint32_t to, uint32_t station = 0, int first = 0)
    {
        return Records(Read(from, to, m_dir.Path().c_str(), station, first));
    }
    std::string OnlyFile() { return m_dir.File(m_dir.DataFiles().at(0)); }

    const uint32_t kBus = StationCode(2, 9, 1);
    const uint32_t kBusClear = StationCode(2, 9, 1, true);
    const uint32_t kCard = ModuleCode(4, 1, 3, 32);
    const uint32_t kCardClear = ModuleCode(4, 1, 3, 32, true);
};

TEST_F(ReadTest, OccurrencesCarryTheirClearNewestFirst)
{
    Put(kT, {kBus});
    Put(kT + 10, {kCard});
    Put(kT + 20, {kBusClear});
    Put(kT + 30, {kBus});
    auto r = ReadRange(kT, kT + 100);
    ASSERT_EQ(r.size(), 3u);
    EXPECT_EQ(r[0].time, kT + 30);
    EXPECT_EQ(r[0].categoryText, "系统");
    EXPECT_TRUE(r[0].clearTimeText.empty());
    EXPECT_EQ(r[1].code, kCard);
    EXPECT_EQ(r[2].time, kT);
    EXPECT_EQ(r[2].categoryText, "已清除");
    EXPECT_EQ(r[2].timeText, "2023-11-14 22:13:20");
    EXPECT_EQ(r[2].clearTimeText, "2023-11-14 22:13:40");
    EXPECT_EQ(r[2].messageText, "02#主控制卡总线0故障");
}

TEST_F(ReadTest, PairingAcrossFilesAndRangeStart)
{
    SetConfigData(30, 100);
    Put(kT, {kBus, kCard});              // file 1, before the range
    Put(kT + 50, {kCardClear});          // file 1, before the range: card is over
    Put(kT + 150, {StationCode(6, 14, 1)});  // file 2, before the range, never cleared
    Put(kT + 300, {kBusClear});          // file 3, in the range
    ASSERT_EQ(m_dir.DataFiles().size(), 3u);
    auto r = ReadRange(kT + 200, kT + 400, 0, 1);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].messageText, "06#主控制卡网络地址拨号出错");
    EXPECT_EQ(r[0].beforeRange, 1);
    EXPECT_EQ(r[1].code, kBus);
    EXPECT_EQ(r[1].beforeRange, 1);
    EXPECT_EQ(r[1].categoryText, "已清除");
    EXPECT_EQ(r[1].clearTimeText, "2023-11-14 22:18:20");
    // Files that begin after the range are not read.
    auto early = ReadRange(kT, kT + 60);
    ASSERT_EQ(early.size(), 2u);
    EXPECT_EQ(early[0].code, kCard);
    EXPECT_EQ(early[0].categoryText, "已清除");
    EXPECT_EQ(early[1].code, kBus);
    EXPECT_TRUE(early[1].clearTimeText.empty());
}

TEST_F(ReadTest, ReadingStartsAtLastFileEndedBeforeRange)
{
    SetConfigData(30, 100);
    Put(kT, {kBus});
    Put(kT + 150, {kCard});
    Put(kT + 300, {StationCode(4, 9, 2)});
    RebuildIndex(m_dir.Path().c_str());  // end times from the files' last events
    auto r = ReadRange(kT + 290, kT + 400);
    ASSERT_EQ(r.size(), 2u);  // the first file ended before the second: not read
    EXPECT_EQ(r[1].code, kCard);
    EXPECT_EQ(ReadRange(kT + 290, kT + 400, 0, 1).size(), 3u);
}

TEST_F(ReadTest, StationFilterTakesTheTwoControllersOfOneStation)
{
    for (uint32_t node = 2; node <= 9; ++node) Put(kT, {ModuleCode(node, 0, 0, 16)}, node);
    auto r = ReadRange(kT, kT, 4);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].code, ModuleCode(5, 0, 0, 16));  // higher node first
    EXPECT_EQ(r[1].code, ModuleCode(4, 0, 0, 16));
    EXPECT_EQ(Records(ReadSingleFile(OnlyFile().c_str(), 4)).size(), 2u);
    EXPECT_EQ(ReadRange(kT, kT, 0).size(), 8u);
}

TEST_F(ReadTest, LimitAppliesToRangeReadsOnly)
{
    std::vector<uint32_t> codes(10050, kCard);
    Put(kT, codes);
    auto r = ReadRange(kT, kT);
    EXPECT_EQ(r.size(), 10000u);
    EXPECT_EQ(Records(ReadSingleFile(OnlyFile().c_str(), 0)).size(), 10050u);
}

TEST_F(ReadTest, NoticesOnlyInSingleFileReads)
{
    Put(kT, {StationCode(3, 0, 0), StationCode(3, 3, 255), 0, 0xFFFFFFFF, StationCode(3, 5, 1)});
    auto r = ReadRange(kT, kT);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_EQ(r[0].messageText, "诊断服务器退出");
    EXPECT_EQ(r[1].messageText, "诊断服务器启动");
    auto all = Records(ReadSingleFile(OnlyFile().c_str(), 0));
    ASSERT_EQ(all.size(), 4u);
    EXPECT_EQ(all[3].messageText, "检测到03#控制卡当前为备用状态");
    EXPECT_EQ(all[3].categoryText, "提示");
}

TEST_F(ReadTest, NullResultsAndThePlaceholder)
{
    Put(kT, {kBus});
    Put(kT + 10, {kBus});
    EXPECT_EQ(Read(0, kT - 1, m_dir.Path().c_str(), 0, 0), nullptr);  // ends before the first file
    const DiagRecordList* empty = Read(kT + 1, kT + 5, m_dir.Path().c_str(), 8, 0);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->size(), 1u);  // the placeholder alone: nothing found
    const DiagRecordList* full = Read(kT, kT + 10, m_dir.Path().c_str(), 0, 0);
    EXPECT_EQ(full, empty);  // the same library-owned list, refilled
    EXPECT_EQ(full->size(), 3u);

    ChronikTestDir other;
    EXPECT_EQ(Read(0, 0xFFFFFFFF, other.Path().c_str(), 0, 0), nullptr);  // no entries
    EXPECT_TRUE(FileExists(other.File("Index.API").c_str()));  // rebuilt first
    EXPECT_EQ(ReadSingleFile(other.File("nothing.API").c_str(), 0), nullptr);
}

TEST_F(ReadTest, MissingIndexIsRebuiltBeforeReading)
{
    Put(kT, {kBus});
    unlink(m_dir.File("Index.API").c_str());
    EXPECT_EQ(ReadRange(kT, kT).size(), 1u);
}

TEST_F(ReadTest, WrongMagicShowsOneMessage)
{
    SetConfigData(30, 100);
    Put(kT, {kBus});
    Put(kT + 150, {kCard});
    auto files = m_dir.DataFiles();
    auto bytes = ReadAll(m_dir.File(files[0]));
    bytes[3] ^= 1;
    WriteAll(m_dir.File(files[0]), bytes);
    auto r = ReadRange(kT, kT + 200);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].code, kCard);
    ASSERT_EQ(s_messages.size(), 1u);
    EXPECT_EQ(s_messages[0], m_dir.File(files[0]) + "文件版本不匹配或已损坏");
    s_messages.clear();
    EXPECT_EQ(ReadSingleFile(m_dir.File(files[0]).c_str(), 0), nullptr);
    ASSERT_EQ(s_messages.size(), 1u);

    s_messages.clear();
    auto index = ReadAll(m_dir.File("Index.API"));
    index[0] = 'X';
    WriteAll(m_dir.File("Index.API"), index);
    EXPECT_EQ(Read(kT, kT + 200, m_dir.Path().c_str(), 0, 0), nullptr);
    ASSERT_EQ(s_messages.size(), 1u);
    EXPECT_EQ(s_messages[0], m_dir.File("Index.API") + "文件版本不匹配或已损坏");
}

TEST_F(ReadTest, ListedButDeletedFileIsSkipped)
{
    SetConfigData(30, 100);
    Put(kT, {kBus});
    Put(kT + 150, {kCard});
    unlink(m_dir.File(m_dir.DataFiles()[0]).c_str());
    auto r = ReadRange(kT, kT + 200);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0].code, kCard);
}

// Bit flips and cuts anywhere in the files: every call returns cleanly.
TEST_F(ReadTest, HostileFilesNeverCrash)
{
    SetConfigData(30, 100);
    std::vector<uint32_t> codes;
    for (uint32_t i = 0; i < 700; ++i) codes.push_back(ModuleCode(2, i % 16, i % 256, 32));
    Put(kT, codes);
    Put(kT + 1, codes, 3);
    Put(kT + 150, {kBus, kCard});
    auto files = m_dir.DataFiles();
    const std::string data = m_dir.File(files[0]);
    const std::string index = m_dir.File("Index.API");
    const auto goodData = ReadAll(data);
    const auto goodIndex = ReadAll(index);
    std::mt19937 rng(1234);
    for (int round = 0; round < 60; ++round) {
        auto d = goodData;
        auto x = goodIndex;
        if (round % 3 == 0) {
            d.resize(rng() % d.size());
        } else {
            for (int k = 0; k < 20; ++k) {
                // Flip bits where they matter most: headers, directory, block headers.
                size_t at = (k % 2) ? rng() % 1124 : 1124 + 2072 * (rng() % 130) + rng() % 24;
                if (at < d.size()) d[at] ^= static_cast<uint8_t>(1u << (rng() % 8));
            }
        }
        if (round % 4 == 1) x.resize(rng() % x.size());
        if (round % 4 == 2) x[rng() % x.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
        WriteAll(data, d);
        WriteAll(index, x);
        const DiagRecordList* list = Read(0, 0xFFFFFFFF, m_dir.Path().c_str(), 0, 1);
        if (list) {
            EXPECT_LE(list->size(), 10001u);
        }
        list = ReadSingleFile(data.c_str(), 0);
        if (list) {
            EXPECT_FALSE(list->empty());
        }
        Put(kT + 2, {kCard});
    }
}

}  // namespace

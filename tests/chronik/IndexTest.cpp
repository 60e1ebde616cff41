// Index: the layout, the first write into a directory, roll-over, compaction
// at the file limit, entries whose files are gone, rebuilds, and the current
// directory for an empty directory string.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>

#include "chronik/CDataFileWriter.h"
#include "chronik/CIndexFile.h"
#include "chronik/ChronikTestDir.h"

namespace {

constexpr uint32_t kT = 1700000000;

class IndexTest : public ChronikTest {
protected:
    void WriteOne(uint32_t time, uint32_t code, uint32_t node = 2)
    {
        Write(node, time, 1, &code, m_dir.Path().c_str());
    }
    std::vector<uint8_t> Index() { return ReadAll(m_dir.File("Index.API")); }
    static std::string EntryName(const std::vector<uint8_t>& index, size_t i)
    {
        return std::string(reinterpret_cast<const char*>(&index[43 + 32 * i + 8]), 24);
    }
    // The codes a full read finds, in storage order.
    std::vector<uint32_t> StoredCodes()
    {
        auto records = Records(Read(0, 0xFFFFFFFF, m_dir.Path().c_str(), 0, 1));
        std::vector<uint32_t> codes;
        for (auto it = records.rbegin(); it != records.rend(); ++it) codes.push_back(it->code);
        return codes;
    }
    static uint32_t Code(uint32_t i) { return ModuleCode(4, 1, i, 32); }
};

TEST_F(IndexTest, FirstWriteMakesIndexAndStoresItsEvent)
{
    WriteOne(kT, Code(1));
    auto index = Index();
    ASSERT_EQ(index.size(), 43u + 32);
    EXPECT_EQ(memcmp(index.data(), "KORVAL DIAGNOSE FILEINDEX V1.00", 31), 0);
    EXPECT_EQ(WordAt(index, 31), 86400u);
    EXPECT_EQ(WordAt(index, 35), 1u);
    EXPECT_EQ(WordAt(index, 39), 75u);
    EXPECT_EQ(WordAt(index, 43), kT);
    EXPECT_GE(WordAt(index, 47), kT);  // end time: the clock of the write
    ASSERT_EQ(m_dir.DataFiles().size(), 1u);
    EXPECT_EQ(EntryName(index, 0), m_dir.DataFiles()[0]);
    EXPECT_EQ(StoredCodes(), std::vector<uint32_t>{Code(1)});
}

TEST_F(IndexTest, RollOverAfterTheSpan)
{
    WriteOne(kT, Code(1));
    WriteOne(kT + 86400, Code(2));  // exactly at start + span: same file
    EXPECT_EQ(m_dir.DataFiles().size(), 1u);
    WriteOne(kT + 86401, Code(3));  // one second later: a new file
    WriteOne(kT + 86402, Code(4));
    auto index = Index();
    ASSERT_EQ(WordAt(index, 35), 2u);
    EXPECT_EQ(index.size(), 43u + 64);
    EXPECT_EQ(WordAt(index, 43), kT);
    EXPECT_EQ(WordAt(index, 43 + 32), kT + 86401);
    EXPECT_NE(EntryName(index, 0), EntryName(index, 1));  // made in the same second, still two files
    EXPECT_EQ(m_dir.DataFiles().size(), 2u);
    auto second = ReadAll(m_dir.File(EntryName(index, 1)));
    EXPECT_EQ(WordAt(second, 34), kT + 86401);
    EXPECT_EQ(WordAt(second, 30), 86400u);
    EXPECT_EQ(StoredCodes(), (std::vector<uint32_t>{Code(1), Code(2), Code(3), Code(4)}));
}

TEST_F(IndexTest, CompactionAtTheFileLimit)
{
    SetConfigData(3, 100);
    for (uint32_t i = 0; i < 3; ++i) WriteOne(kT + 101 * i, Code(i));
    auto index = Index();
    ASSERT_EQ(WordAt(index, 35), 3u);
    std::string oldest = EntryName(index, 0);
    WriteOne(kT + 303, Code(3));
    index = Index();
    ASSERT_EQ(WordAt(index, 35), 3u);
    EXPECT_EQ(WordAt(index, 39), 43u + 96);
    EXPECT_EQ(index.size(), 43u + 96);
    EXPECT_EQ(WordAt(index, 43), kT + 101);
    EXPECT_EQ(WordAt(index, 43 + 32), kT + 202);
    EXPECT_EQ(WordAt(index, 43 + 64), kT + 303);
    // The oldest file is gone (its name may have been taken again by the new one).
    EXPECT_EQ(m_dir.DataFiles().size(), 3u);
    for (const std::string& name : m_dir.DataFiles()) EXPECT_NE(WordAt(ReadAll(m_dir.File(name)), 34), kT);
    EXPECT_EQ(EntryName(index, 2) == oldest, FileExists(m_dir.File(oldest).c_str()));
    EXPECT_EQ(StoredCodes(), (std::vector<uint32_t>{Code(1), Code(2), Code(3)}));
}

TEST_F(IndexTest, LimitBelowOneActsAsOne)
{
    SetConfigData(0, 100);
    WriteOne(kT, Code(1));
    WriteOne(kT + 101, Code(2));
    WriteOne(kT + 202, Code(3));
    EXPECT_EQ(m_dir.DataFiles().size(), 1u);
    EXPECT_EQ(WordAt(Index(), 35), 1u);
    EXPECT_EQ(StoredCodes(), std::vector<uint32_t>{Code(3)});
}

TEST_F(IndexTest, EntriesOfDeletedFilesAreDroppedBeforeAppending)
{
    SetConfigData(30, 100);
    for (uint32_t i = 0; i < 4; ++i) WriteOne(kT + 101 * i, Code(i));
    auto index = Index();
    unlink(m_dir.File(EntryName(index, 1)).c_str());
    unlink(m_dir.File(EntryName(index, 2)).c_str());
    WriteOne(kT + 404, Code(4));
    index = Index();
    ASSERT_EQ(WordAt(index, 35), 3u);
    EXPECT_EQ(index.size(), 43u + 96);
    for (size_t i = 0; i < 3; ++i) EXPECT_TRUE(FileExists(m_dir.File(EntryName(index, i)).c_str()));
    EXPECT_EQ(WordAt(index, 43 + 64), kT + 404);
    EXPECT_EQ(StoredCodes(), (std::vector<uint32_t>{Code(0), Code(3), Code(4)}));
}

TEST_F(IndexTest, RebuildSortsTrimsAndDeletesForeignFiles)
{
    // 35 data files whose names do not follow their start times, two with
    // equal start times, and one file with a wrong magic.
    for (uint32_t i = 0; i < 35; ++i) {
        char name[32];
        snprintf(name, sizeof name, "KORVAL2024010100%04u.API", 3400 - i * 100);
        uint32_t start = i == 34 ? kT + 33 * 1000 : kT + i * 1000;
        ASSERT_TRUE(CDataFileWriter::CreateDataFile(m_dir.File(name), 86400, start));
    }
    WriteAll(m_dir.File("KORVAL20230101000000.API"), std::vector<uint8_t>(300, 'x'));
    WriteAll(m_dir.File("Index.API"), {1, 2, 3});
    RebuildIndex(m_dir.Path().c_str());

    EXPECT_FALSE(FileExists(m_dir.File("KORVAL20230101000000.API").c_str()));
    EXPECT_EQ(m_dir.DataFiles().size(), 30u);
    auto index = Index();
    ASSERT_EQ(index.size(), 43u + 30 * 32);
    EXPECT_EQ(memcmp(index.data(), "KORVAL DIAGNOSE FILEINDEX V1.00", 31), 0);
    EXPECT_EQ(WordAt(index, 35), 30u);
    EXPECT_EQ(WordAt(index, 39), 43u + 30 * 32);
    for (uint32_t i = 0; i < 29; ++i) {
        EXPECT_EQ(WordAt(index, 43 + 32 * i), kT + (i + 5) * 1000);
        EXPECT_EQ(WordAt(index, 43 + 32 * i + 4), kT + (i + 5) * 1000);
    }
    // Equal start times keep the order the scan found them in (by name).
    EXPECT_EQ(EntryName(index, 28), "KORVAL20240101000000.API");
    EXPECT_EQ(EntryName(index, 29), "KORVAL20240101000100.API");
    EXPECT_FALSE(FileExists(m_dir.File("KORVAL20240101003400.API").c_str()));
}

TEST_F(IndexTest, DamagedIndexIsRebuiltByTheNextWrite)
{
    WriteOne(kT, Code(1));
    for (size_t len : {size_t(0), size_t(20), size_t(42)}) {
        auto index = Index();
        index.resize(len);
        WriteAll(m_dir.File("Index.API"), index);
        WriteOne(kT + 1 + len, Code(2 + len));
        EXPECT_EQ(WordAt(Index(), 35), 1u);
    }
    EXPECT_EQ(StoredCodes(), (std::vector<uint32_t>{Code(1), Code(2), Code(22), Code(44)}));
    // An index that lists far more entries than it holds.
    auto index = Index();
    SetWordAt(index, 35, 0x7FFFFFFF);
    WriteAll(m_dir.File("Index.API"), index);
    WriteOne(kT + 50, Code(50));
    EXPECT_EQ(WordAt(Index(), 35), 1u);
    EXPECT_EQ(StoredCodes().back(), Code(50));
}

TEST_F(IndexTest, DamagedCurrentFileMakesTheWriterMoveOn)
{
    WriteOne(kT, Code(1));
    const std::string first = m_dir.File(m_dir.DataFiles()[0]);
    auto bytes = ReadAll(first);
    SetWordAt(bytes, 1124 + 12, 1025);  // the chain of node 2 loops on itself
    SetWordAt(bytes, 1124 + 16, 1124);
    WriteAll(first, bytes);
    WriteOne(kT + 1, Code(2));
    ASSERT_EQ(WordAt(Index(), 35), 2u);
    EXPECT_EQ(WordAt(Index(), 43 + 32), kT + 1);

    bytes.resize(600);  // cut short before its blocks
    WriteAll(first, bytes);
    WriteOne(kT + 2, Code(3), 5);
    std::string second = m_dir.File(EntryName(Index(), 1));
    WriteAll(second, std::vector<uint8_t>(100, 0));  // no magic
    WriteOne(kT + 3, Code(4));
    EXPECT_EQ(WordAt(Index(), 35), 3u);
    EXPECT_EQ(StoredCodes(), std::vector<uint32_t>{Code(4)});
}

TEST_F(IndexTest, HostileEntryNamesNeverLeaveTheDirectory)
{
    WriteOne(kT, Code(1));
    auto index = Index();
    memcpy(&index[43 + 8], "../../../../tmp/x.API\0\0\0", 24);
    WriteAll(m_dir.File("Index.API"), index);
    EXPECT_TRUE(Records(Read(0, 0xFFFFFFFF, m_dir.Path().c_str(), 0, 1)).empty());
    WriteOne(kT + 1, Code(2));
    index = Index();
    EXPECT_EQ(WordAt(index, 35), 1u);
    EXPECT_EQ(EntryName(index, 0).substr(0, 6), "KORVAL");
}

TEST_F(IndexTest, EmptyDirectoryStringMeansCurrentDirectory)
{
    char cwd[4096];
    ASSERT_TRUE(getcwd(cwd, sizeof cwd));
    ASSERT_EQ(chdir(m_dir.Path().c_str()), 0);
    uint32_t code = Code(7);
    Write(2, kT, 1, &code, "");
    Write(2, kT + 1, 1, &code, nullptr);
    bool indexed = FileExists("Index.API");
    auto records = Records(Read(0, 0xFFFFFFFF, "", 0, 1));
    RebuildIndex("");
    auto again = Records(Read(0, 0xFFFFFFFF, "", 0, 1));
    ASSERT_EQ(chdir(cwd), 0);
    EXPECT_TRUE(indexed);
    EXPECT_EQ(m_dir.DataFiles().size(), 1u);
    EXPECT_EQ(records.size(), 2u);
    EXPECT_EQ(again.size(), 2u);
}

}  // namespace

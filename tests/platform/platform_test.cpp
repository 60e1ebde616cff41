// Tests of the platform stand-ins: buffered files with exact positions,
// locks for the share modes, error causes, directory scans, the key queue,
// the message sink, temporary names and large memory blocks.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/CFile.h"
#include "platform/CFileFind.h"
#include "platform/KeyQueue.h"
#include "platform/LargeBlock.h"
#include "platform/MessageSink.h"
#include "platform/Win32.h"

namespace {

class PlatformTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const char* base = getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/platformXXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        ASSERT_NE(mkdtemp(buf.data()), nullptr);
        dir = buf.data();
    }
    void TearDown() override { std::system(("rm -rf '" + dir + "'").c_str()); }
    std::string Path(const std::string& name) const { return dir + "/" + name; }
    std::string Contents(const std::string& name) const
    {
        std::ifstream in(Path(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::string dir;
};

constexpr unsigned kCreateWrite = CFile::modeCreate | CFile::modeWrite | CFile::typeBinary;
constexpr unsigned kReadWrite = CFile::modeReadWrite | CFile::typeBinary;

TEST_F(PlatformTest, BufferedWritesKeepExactPositionsAndLength)
{
    CFile f;
    ASSERT_TRUE(f.Open(Path("a").c_str(), CFile::modeCreate | kReadWrite));
    f.Write("hello world", 11);
    EXPECT_EQ(f.GetPosition(), 11u);
    EXPECT_EQ(f.GetLength(), 11u);
    f.Seek(6, CFile::begin);
    f.Write("WORLD", 5);
    f.Seek(-5, CFile::current);
    char buf[16] = {};
    EXPECT_EQ(f.Read(buf, 16), 5u);
    EXPECT_STREQ(buf, "WORLD");
    EXPECT_EQ(f.Seek(0, CFile::end), 11u);
    f.Seek(20, CFile::begin);
    f.Write("!", 1);
    EXPECT_EQ(f.GetLength(), 21u);
    f.SetLength(5);
    EXPECT_EQ(f.GetLength(), 5u);
    f.Close();
    EXPECT_EQ(Contents("a"), "hello");
}

TEST_F(PlatformTest, LargeReadsAndWritesBypassTheBufferConsistently)
{
    std::vector<uint8_t> data(300000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
    CFile f;
    ASSERT_TRUE(f.Open(Path("big").c_str(), CFile::modeCreate | kReadWrite));
    f.Write(data.data(), 10);
    f.Write(data.data() + 10, static_cast<uint32_t>(data.size() - 10));
    f.SeekToBegin();
    std::vector<uint8_t> back(data.size() + 100);
    EXPECT_EQ(f.Read(back.data(), 3), 3u);
    EXPECT_EQ(f.Read(back.data() + 3, static_cast<uint32_t>(back.size() - 3)), data.size() - 3);
    back.resize(data.size());
    EXPECT_EQ(back, data);
    EXPECT_EQ(f.Read(back.data(), 1), 0u);
}

TEST_F(PlatformTest, ErrorsCarryTheirCauses)
{
    CFile f;
    CFileException e;
    EXPECT_FALSE(f.Open(Path("missing").c_str(), CFile::modeRead, &e));
    EXPECT_EQ(e.m_cause, CFileException::fileNotFound);
    EXPECT_FALSE(f.Open(dir.c_str(), CFile::modeRead, &e));
    EXPECT_EQ(e.m_cause, CFileException::accessDenied);

    ASSERT_TRUE(f.Open(Path("r").c_str(), kCreateWrite));
    f.Close();
    ASSERT_TRUE(f.Open(Path("r").c_str(), CFile::modeRead));
    try {
        f.Write("x", 1);
        FAIL() << "write to a read-only file succeeded";
    } catch (const CFileException& ex) {
        EXPECT_EQ(ex.m_cause, CFileException::accessDenied);
    }
    try {
        f.Seek(-1, CFile::begin);
        FAIL() << "seek before the start succeeded";
    } catch (const CFileException& ex) {
        EXPECT_EQ(ex.m_cause, CFileException::badSeek);
    }
}

TEST_F(PlatformTest, FullDiskIsReportedAsDiskFull)
{
    CFile f;
    if (!f.Open("/dev/full", CFile::modeWrite)) GTEST_SKIP() << "/dev/full is not available";
    f.Write("abc", 3);  // buffered: the failure shows at the flush
    try {
        f.Flush();
        FAIL() << "flush to a full device succeeded";
    } catch (const CFileException& ex) {
        EXPECT_EQ(ex.m_cause, CFileException::diskFull);
        EXPECT_EQ(ex.m_cause, 13);
    }
    std::vector<char> big(200000, 'x');
    try {
        f.Write(big.data(), static_cast<uint32_t>(big.size()));
        FAIL() << "large write to a full device succeeded";
    } catch (const CFileException& ex) {
        EXPECT_EQ(ex.m_cause, CFileException::diskFull);
    }
}

TEST_F(PlatformTest, ShareModesAreLocks)
{
    CFile a, b, c;
    ASSERT_TRUE(a.Open(Path("l").c_str(), CFile::modeCreate | kReadWrite | CFile::shareExclusive));
    a.Write("keep", 4);
    a.Flush();
    CFileException e;
    EXPECT_FALSE(b.Open(Path("l").c_str(), CFile::modeRead | CFile::shareExclusive, &e));
    EXPECT_EQ(e.m_cause, CFileException::sharingViolation);
    // A refused create does not truncate the file the holder is using.
    EXPECT_FALSE(b.Open(Path("l").c_str(), CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive));
    EXPECT_EQ(Contents("l"), "keep");
    a.Close();

    ASSERT_TRUE(a.Open(Path("l").c_str(), CFile::modeRead | CFile::shareDenyWrite));
    EXPECT_TRUE(b.Open(Path("l").c_str(), CFile::modeRead | CFile::shareDenyWrite));
    EXPECT_FALSE(c.Open(Path("l").c_str(), kReadWrite | CFile::shareExclusive));
    EXPECT_TRUE(c.Open(Path("l").c_str(), CFile::modeRead | CFile::shareDenyNone));
}

TEST_F(PlatformTest, DescriptorWritesInterleaveWithBufferedWrites)
{
    CFile f;
    ASSERT_TRUE(f.Open(Path("d").c_str(), kCreateWrite));
    f.Write("abc", 3);
    int fd = f.GetDescriptor();
    ASSERT_GE(fd, 0);
    EXPECT_EQ(_lwrite(fd, "def", 3), 3u);
    f.Write("ghi", 3);
    EXPECT_EQ(f.GetPosition(), 9u);
    f.Close();
    EXPECT_EQ(Contents("d"), "abcdefghi");
}

TEST_F(PlatformTest, FindFileMatchesWildcardsIgnoringCase)
{
    for (const char* n : {"KORVAL1.API", "korval2.api", "Index.API", "other.txt"}) {
        CFile f;
        ASSERT_TRUE(f.Open(Path(n).c_str(), kCreateWrite));
    }
    CFileFind find;
    std::vector<std::string> names;
    bool more = find.FindFile((dir + "/KORVAL*.API").c_str());
    while (more) {
        more = find.FindNextFile();
        names.push_back(find.GetFileName());
        EXPECT_EQ(find.GetFilePath(), dir + "/" + find.GetFileName());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"KORVAL1.API", "korval2.api"}));
    EXPECT_TRUE(find.FindFile((dir + "/index.api").c_str()));
    EXPECT_FALSE(find.FindFile((dir + "/nothing*").c_str()));
}

TEST(PlatformKeys, QueueIsPerThreadAndKeepsOrder)
{
    int key = 0;
    while (TakeKeyDown(&key)) {
    }
    PostKeyDown('A');
    PostKeyDown(VK_ESCAPE);
    bool otherSaw = true;
    std::thread([&] { otherSaw = TakeKeyDown(&key); }).join();
    EXPECT_FALSE(otherSaw);
    ASSERT_TRUE(TakeKeyDown(&key));
    EXPECT_EQ(key, 'A');
    ASSERT_TRUE(TakeKeyDown(&key));
    EXPECT_EQ(key, VK_ESCAPE);
    EXPECT_FALSE(TakeKeyDown(&key));
}

TEST(PlatformMessages, SinkReceivesIdAndText)
{
    struct Seen {
        int id = -1;
        std::string text;
    } seen;
    SetMessageSink(
        [](int id, const char* text, void* user) {
            auto* s = static_cast<Seen*>(user);
            s->id = id;
            s->text = text;
        },
        &seen);
    ShowMessage(27601, "text");
    EXPECT_EQ(seen.id, 27601);
    EXPECT_EQ(seen.text, "text");
    AfxMessageBox("plain");
    EXPECT_EQ(seen.id, 0);
    SetMessageSink(nullptr, nullptr);
}

TEST_F(PlatformTest, TempNamesAreUniqueFilesInTheDirectory)
{
    std::string a = MakeTempFileName(dir.c_str(), "tmp");
    std::string b = MakeTempFileName(dir.c_str(), "tmp");
    ASSERT_FALSE(a.empty());
    EXPECT_NE(a, b);
    EXPECT_EQ(a.rfind(dir + "/tmp", 0), 0u);
    EXPECT_TRUE(FileExists(a.c_str()));
    EXPECT_TRUE(DeleteFile(a.c_str()));
    EXPECT_FALSE(FileExists(a.c_str()));
    EXPECT_TRUE(MakeTempFileName((dir + "/no/such").c_str(), "tmp").empty());
}

TEST(PlatformClock, TickCountIsMonotonic)
{
    uint32_t a = GetTickCount();
    Sleep(20);
    uint32_t b = GetTickCount();
    EXPECT_GE(b - a, 15u);
    SYSTEMTIME t;
    GetLocalTime(&t);
    EXPECT_GE(t.wYear, 2000);
    EXPECT_GE(t.wMonth, 1);
    EXPECT_LE(t.wMonth, 12);
}

// Blocks below and above the size that asks for large pages: zeroed when
// asked, writable to their last byte, and released with free().
TEST(PlatformMemory, LargeBlocksOfEverySizeAreZeroedAndFreedWithFree)
{
    for (size_t bytes : {size_t{0}, size_t{1}, size_t{4096}, (size_t{1} << 20) - 1, (size_t{1} << 20) + 7,
                         size_t{3} << 20, (size_t{9} << 20) + 3}) {
        auto* block = static_cast<uint8_t*>(AllocLargeBlock(bytes, true));
        ASSERT_NE(block, nullptr) << bytes;
        EXPECT_EQ(std::count(block, block + bytes, 0), static_cast<long>(bytes)) << bytes;
        memset(block, 0xA5, bytes ? bytes : 1);
        free(block);
        block = static_cast<uint8_t*>(AllocLargeBlock(bytes, false));
        ASSERT_NE(block, nullptr) << bytes;
        memset(block, 0x5A, bytes ? bytes : 1);
        free(block);
    }
}

// A vector on large blocks keeps its contents as it grows past the size
// that asks for large pages.
TEST(PlatformMemory, LargeVectorKeepsItsBytesAcrossLargePageGrowth)
{
    LargeVector<uint32_t> v;
    for (uint32_t i = 0; i < (3u << 20) / 4; ++i) v.push_back(i * 2654435761u);
    for (uint32_t i = 0; i < v.size(); i += 4099) ASSERT_EQ(v[i], i * 2654435761u) << i;
}

}  // namespace

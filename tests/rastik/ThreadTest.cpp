// Threads and the codecs: eight threads converting at once, every readable
// format into every writable one, each output the same bytes as the
// single-threaded conversion; the same for any thread count inside one
// conversion, planes spilled or not; Esc while rows are made and written
// during the read; and the promises of the worker pool and of a loop following a read.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "PictFixture.h"
#include "TestUtil.h"
#include "platform/KeyQueue.h"
#include "platform/Win32.h"
#include "rastik/rastik.h"
#include "rastik/core/CFollowingRows.h"
#include "rastik/core/CRowProgress.h"
#include "rastik/support/CPoolScope.h"
#include "rastik/support/CWorkerPool.h"

namespace {

using testutil::ReadBytes;

constexpr int kFilesPerFormat = 8;
constexpr int kConvertingThreads = 8;

// Keeps the library's thread setting for the test and puts it back.
class ThreadSetting {
public:
    explicit ThreadSetting(uint32_t threads) : m_before(GetRastikThreads()) { SetRastikThreads(threads); }
    ~ThreadSetting() { SetRastikThreads(m_before); }

private:
    uint32_t m_before;
};

// An RGB picture with edges, gradients and noise, so that every coder has
// work (runs and literals, many colours, non-zero coefficients).
testutil::BmpFixture Picture(int32_t width, int32_t height, uint32_t seed)
{
    testutil::BmpFixture f;
    f.width = width;
    f.height = height;
    f.bitCount = 24;
    uint32_t noise = seed * 2654435761u + 1;
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            noise = noise * 1103515245u + 12345u;
            const bool block = ((x / 9) + (y / 7)) % 3 == 0;
            f.pixels.push_back(static_cast<uint8_t>(block ? 200 : x * 255 / width));
            f.pixels.push_back(static_cast<uint8_t>(y * 255 / height ^ (noise >> 28)));
            f.pixels.push_back(static_cast<uint8_t>((x + y + seed * 40) & 0xFF));
        }
    }
    return f;
}

// An 8-bit picture with a colour table of 256 entries.
std::vector<uint8_t> Pict(uint32_t width, uint32_t height, uint32_t seed)
{
    pictfix::PictFixture f;
    f.width = width;
    f.height = height;
    for (uint16_t i = 0; i < 256; ++i)
        f.table.push_back({i, static_cast<uint16_t>(i * 257), static_cast<uint16_t>((255 - i) * 257),
                           static_cast<uint16_t>((i * 7 & 0xFF) * 257)});
    f.packType = 0;
    const uint16_t rowBytes = pictfix::RowBytesOf(f);
    for (uint32_t y = 0; y < height; ++y) {
        std::vector<uint8_t> row(rowBytes);
        for (uint32_t x = 0; x < width; ++x) row[x] = static_cast<uint8_t>((x * 3 + y * 5 + seed * 11) % 251);
        f.rows.push_back(row);
    }
    return pictfix::MakePict(f);
}

// One conversion: a source and what it becomes.
struct Job {
    std::string source;
    const char* suffix;  // of the target, which names its format
    int mode;
    int sizeMode;
    unsigned width;
    unsigned options;
};

// Targets: every writer, some with a resize or a mode change on the way.
struct TargetKind {
    const char* suffix;
    int mode;
    bool half;
    unsigned options;
};
constexpr TargetKind kTargets[] = {
    {"bmp", kModeRgb, false, 0},
    {"h.bmp", kModeRgb, true, 0},
    {"gif", kModeIndexed, false, 0},
    {"jpg", kModeRgb, true, 0},
    {"s.jpg", kModeRgb, false, 0},
    {"q.jpg", kModeGrey, false, 0},
    {"tif", kModeRgb, false, kImgProcCompressionLzw},
    {"c.tif", kModeCmyk, true, kImgProcCompressionPackBits},
    {"p.tif", kModeRgb, false, kImgProcCompressionPackBits},  // the large picture's strips packed in parts
    {"d.tif", kModeRgb, false, kImgProcCompressionDeflate},
    {"j.tif", kModeRgb, true, kImgProcCompressionJpeg},
    {"png", kModeIndexed, true, 0},
    {"raw", kModeBlackWhite, false, 0},
};

int RunJob(const Job& job, const std::string& target)
{
    int w = 0, h = 0;
    return ImgProcEx(job.source.c_str(), target.c_str(), job.mode, job.sizeMode, 72, job.width, 0, &w, &h, 1, 70,
                     kImgProcTargetFormat | job.options);
}

class ThreadTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_dir = new testutil::TempDir();
        ThreadSetting one(1);
        // Enough pixels that the colour quantizer sorts them on the workers,
        // and wide enough that a JPEG writer following the read codes each
        // band on the workers.
        s_large = s_dir->File("large.bmp");
        ASSERT_TRUE(testutil::WriteBytes(s_large, testutil::MakeBmp(Picture(660, 170, 99))));
        for (int i = 0; i < kFilesPerFormat; ++i) {
            // Wide enough that a band of two MCU rows is coded on the workers.
            const int32_t width = 264 + 9 * i, height = 40 + 5 * i;
            const std::string base = s_dir->File("src" + std::to_string(i));
            ASSERT_TRUE(testutil::WriteBytes(base + ".bmp", testutil::MakeBmp(Picture(width, height, i))));
            ASSERT_TRUE(testutil::WriteBytes(base + ".pct", Pict(width, height, i)));
            s_sources.push_back(base + ".bmp");
            s_sources.push_back(base + ".pct");
            const std::pair<const char*, int> made[] = {
                {".gif", kModeIndexed}, {".jpg", kModeRgb}, {".tif", kModeRgb}, {".png", kModeRgb}};
            for (const auto& [suffix, mode] : made) {
                int w = 0, h = 0;
                ASSERT_EQ(ImgProcEx((base + ".bmp").c_str(), (base + suffix).c_str(), mode, 0, 72, 0, 0, &w, &h, 1,
                                    85, kImgProcTargetFormat | kImgProcCompressionLzw),
                          1)
                    << suffix;
                s_sources.push_back(base + suffix);
            }
        }
    }
    static void TearDownTestSuite()
    {
        delete s_dir;
        s_dir = nullptr;
        s_sources.clear();
    }

    static std::vector<Job> Jobs()
    {
        std::vector<Job> jobs;
        for (const std::string& source : s_sources)
            for (const TargetKind& t : kTargets)
                jobs.push_back({source, t.suffix, t.mode, t.half ? 1 : 0, t.half ? 70u : 0u, t.options});
        return jobs;
    }
    static std::string Target(const std::string& tag, size_t index, const Job& job)
    {
        return s_dir->File(tag + std::to_string(index) + "." + job.suffix);
    }

    // Every job once on this thread with one thread per conversion.
    static std::vector<std::vector<uint8_t>> Expected(const std::vector<Job>& jobs)
    {
        ThreadSetting one(1);
        std::vector<std::vector<uint8_t>> expected;
        for (size_t i = 0; i < jobs.size(); ++i) {
            const std::string target = Target("ref", i, jobs[i]);
            EXPECT_EQ(RunJob(jobs[i], target), 1) << jobs[i].source << " -> " << jobs[i].suffix;
            expected.push_back(ReadBytes(target));
        }
        return expected;
    }

    static testutil::TempDir* s_dir;
    static std::vector<std::string> s_sources;
    static std::string s_large;
};

testutil::TempDir* ThreadTest::s_dir = nullptr;
std::vector<std::string> ThreadTest::s_sources;
std::string ThreadTest::s_large;

TEST_F(ThreadTest, EightThreadsConvertingAtOnceWriteWhatOneThreadWrites)
{
    const std::vector<Job> jobs = Jobs();
    const std::vector<std::vector<uint8_t>> expected = Expected(jobs);
    ThreadSetting two(2);  // and each conversion hands work to a worker of its own
    std::atomic<size_t> next{0};
    std::vector<int> results(jobs.size(), -1);
    std::vector<std::thread> threads;
    for (int t = 0; t < kConvertingThreads; ++t) {
        threads.emplace_back([&] {
            for (size_t i; (i = next++) < jobs.size();) results[i] = RunJob(jobs[i], Target("out", i, jobs[i]));
        });
    }
    for (std::thread& t : threads) t.join();
    for (size_t i = 0; i < jobs.size(); ++i) {
        SCOPED_TRACE(jobs[i].source + " -> " + jobs[i].suffix);
        EXPECT_EQ(results[i], 1);
        EXPECT_FALSE(expected[i].empty());
        EXPECT_TRUE(ReadBytes(Target("out", i, jobs[i])) == expected[i]);
    }
}

TEST_F(ThreadTest, EveryThreadCountWritesTheSameBytesFromHeapAndSpilledPlanes)
{
    std::vector<Job> jobs;
    // BMP, PICT, JPEG, TIFF, PNG: the last three top-down, so a resize follows their reads.
    for (const std::string& source : {s_sources[0], s_sources[1], s_sources[3], s_sources[4], s_sources[5], s_large})
        for (const TargetKind& t : kTargets)
            jobs.push_back({source, t.suffix, t.mode, t.half ? 1 : 0, t.half ? 70u : 0u, t.options});
    for (bool spill : {false, true}) {
        // Spilled planes may be written in other strips, so each has its own reference.
        testutil::MemorySettings memory(spill, spill ? 4096 : 0);
        const std::vector<std::vector<uint8_t>> expected = Expected(jobs);
        for (uint32_t threads : {2u, 3u, 8u}) {
            ThreadSetting setting(threads);
            for (size_t i = 0; i < jobs.size(); ++i) {
                SCOPED_TRACE(jobs[i].source + " -> " + jobs[i].suffix + " threads " + std::to_string(threads) +
                             (spill ? " spilled" : ""));
                const std::string target = Target("n", i, jobs[i]);
                ASSERT_EQ(RunJob(jobs[i], target), 1);
                EXPECT_TRUE(ReadBytes(target) == expected[i]);
            }
        }
    }
}

TEST_F(ThreadTest, ADamagedSourceReadsAlikeWhateverTheThreads)
{
    // Strips decoded ahead on the workers meet the damage as one thread
    // does, and a bitmap short of rows (read through the planes, not from
    // its stored rows) is written as one thread writes it.
    const std::string tif = s_dir->File("damaged.tif");
    const std::string bmp = s_dir->File("short.bmp");
    {
        ThreadSetting one(1);
        ASSERT_EQ(RunJob({s_large, "tif", kModeRgb, 0, 0u, kImgProcCompressionLzw}, tif), 1);
    }
    std::vector<uint8_t> bytes = ReadBytes(tif);
    for (size_t i = bytes.size() * 2 / 5; i < bytes.size() / 2; ++i) bytes[i] = 0xFF;
    ASSERT_TRUE(testutil::WriteBytes(tif, bytes));
    bytes = ReadBytes(s_large);
    bytes.resize(bytes.size() * 3 / 4);
    ASSERT_TRUE(testutil::WriteBytes(bmp, bytes));
    for (const auto& [source, suffix] : {std::pair{tif, "bmp"}, std::pair{bmp, "jpg"}}) {
        int oneResult = -1;
        std::vector<uint8_t> oneBytes;
        for (uint32_t threads : {1u, 2u, 8u}) {
            SCOPED_TRACE(source + " threads " + std::to_string(threads));
            ThreadSetting setting(threads);
            const std::string out = s_dir->File("damaged" + std::to_string(threads) + "." + suffix);
            const int result = RunJob({source, suffix, kModeRgb, 0, 0u, 0}, out);
            const std::vector<uint8_t> written = result ? ReadBytes(out) : std::vector<uint8_t>{};
            EXPECT_EQ(FileExists(out.c_str()), result == 1);
            if (threads == 1) {
                oneResult = result;
                oneBytes = written;
            }
            EXPECT_EQ(result, oneResult);
            EXPECT_TRUE(written == oneBytes);
        }
    }
}

TEST_F(ThreadTest, EscDuringAFollowedReadStopsTheConversionWithoutATarget)
{
    ThreadSetting two(2);
    // Esc while the read (the first part of the range) runs.
    SetProgressCallback(
        [](int32_t position, int32_t start, int32_t, void*) {
            if (start == 0 && position > 0) PostKeyDown(VK_ESCAPE);
        },
        nullptr);
    // Resized (the writer follows the resampling) and at the same size (it
    // follows the read); a target already there stays as it was.
    const std::vector<uint8_t> before = {'o', 'l', 'd'};
    for (const std::string& source : {s_sources[0], s_sources[3], s_sources[4], s_sources[5], s_large}) {
        for (const char* suffix : {"jpg", "bmp"}) {
            for (int sizeMode : {1, 0}) {
                for (bool existing : {false, true}) {
                    const Job job{source, suffix, kModeRgb, sizeMode, 70u, 0};
                    const std::string target = s_dir->File(std::string("stopped.") + suffix);
                    SCOPED_TRACE(source + " -> " + suffix + " size mode " + std::to_string(sizeMode) +
                                 (existing ? " over a file" : ""));
                    ASSERT_TRUE(!existing || testutil::WriteBytes(target, before));
                    EXPECT_EQ(RunJob(job, target), 0);
                    EXPECT_EQ(FileExists(target.c_str()), existing);
                    EXPECT_TRUE(!existing || ReadBytes(target) == before);
                    EXPECT_TRUE(testutil::ListFiles(s_dir->Path(), ".", "").empty());
                    DeleteFile(target.c_str());
                }
            }
        }
    }
    SetProgressCallback(nullptr, nullptr);
    for (int key = 0; TakeKeyDown(&key);) {
    }
}

TEST_F(ThreadTest, AnExistingTargetIsReplacedWholeAndKeepsItsPermissions)
{
    // The writers that follow the read, resized and not, over a file of
    // other permissions (a stopped one leaves it as it was: above).
    for (const char* suffix : {"jpg", "bmp"}) {
        for (int sizeMode : {1, 0}) {
            const Job job{s_large, suffix, kModeRgb, sizeMode, 70u, 0};
            SCOPED_TRACE(std::string(suffix) + " size mode " + std::to_string(sizeMode));
            const std::vector<std::vector<uint8_t>> expected = Expected({job});
            const std::string target = s_dir->File(std::string("replaced.") + suffix);
            ASSERT_TRUE(testutil::WriteBytes(target, {'o', 'l', 'd'}));
            ASSERT_EQ(chmod(target.c_str(), 0640), 0);
            ThreadSetting two(2);
            ASSERT_EQ(RunJob(job, target), 1);
            EXPECT_TRUE(ReadBytes(target) == expected[0]);
            struct stat st {};
            ASSERT_EQ(stat(target.c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 07777, 0640u);
            EXPECT_TRUE(testutil::ListFiles(s_dir->Path(), ".", "").empty());
            DeleteFile(target.c_str());
        }
    }
}

TEST_F(ThreadTest, APictureTallerThanThePlanesHoldWritesTheJpegOfOneThread)
{
    // Taller than the window of rows its planes hold while the JPEG writer
    // follows the read, stored from the bottom and from the top; and the
    // write over the file it replaces, with the same window.
    for (bool topDown : {false, true}) {
        testutil::BmpFixture picture = Picture(2048, 1100, 5);
        picture.topDown = topDown;
        const std::string source = s_dir->File("tall.bmp");
        ASSERT_TRUE(testutil::WriteBytes(source, testutil::MakeBmp(picture)));
        const Job job{source, "jpg", kModeRgb, 0, 0u, 0};
        const std::vector<uint8_t> expected = Expected({job})[0];
        for (uint32_t threads : {2u, 8u, 2u}) {
            SCOPED_TRACE(std::string(topDown ? "top-down" : "bottom-up") + " threads " + std::to_string(threads));
            ThreadSetting setting(threads);
            const std::string target = s_dir->File("tall.jpg");
            ASSERT_EQ(RunJob(job, target), 1);
            EXPECT_TRUE(ReadBytes(target) == expected);
        }
    }
}

TEST(FollowingRows, EachRowIsMadeOnceAfterTheRowsItNeedsAndAFailedReadWaitsForWhatWasHandedOut)
{
    constexpr uint32_t kRows = 300;
    for (uint32_t threads : {2u, 3u}) {
        for (bool readSucceeds : {true, false}) {
            CWorkerPool pool(threads);
            std::atomic<uint32_t> final{0};
            std::atomic<int> early{0};
            std::vector<std::atomic<int>> made(kRows);
            {
                // Row j needs the source rows up to 2j / 3 + 2, of 202.
                auto needs = [](uint32_t j) { return std::min<uint32_t>(j * 2 / 3 + 2, 202); };
                CFollowingRows rows(pool, kRows, needs, [&](uint32_t j) {
                    if (needs(j) > final.load()) ++early;
                    ++made[j];
                });
                for (uint32_t r = 1; r <= 150; ++r) {
                    final = r;
                    rows.RowsFinal(r);
                }
                if (readSucceeds) final = 202;
                CRowProgress progress(kRows * 2);
                EXPECT_EQ(rows.Finish(readSucceeds, progress, 2), readSucceeds);
            }
            EXPECT_EQ(early.load(), 0);
            // Every row once when the read completed; after a failed one,
            // at most once, the first ones (handed out during the read) made.
            for (uint32_t j = 0; j < kRows; ++j) {
                EXPECT_EQ(made[j].load(), readSucceeds || j < 32 ? 1 : made[j].load()) << j;
                EXPECT_LE(made[j].load(), 1) << j;
            }
            EXPECT_EQ(made[kRows - 1].load(), readSucceeds ? 1 : 0);
        }
    }
}

TEST(WorkerPool, RunsEveryItemOnceWhateverTheThreadsAndNesting)
{
    for (uint32_t threads : {1u, 2u, 5u}) {
        CWorkerPool pool(threads);
        EXPECT_EQ(pool.Threads(), threads);
        for (uint32_t count : {0u, 1u, 7u, 300u}) {
            std::vector<std::atomic<int>> runs(count);
            EXPECT_TRUE(pool.Run(count, [&](uint32_t item) {
                // Work handed out from a worker stays on that worker.
                CPoolScope inner;
                EXPECT_EQ(inner.Pool() != nullptr, !CWorkerPool::OnWorker());
                ++runs[item];
            }));
            for (uint32_t i = 0; i < count; ++i) EXPECT_EQ(runs[i].load(), 1) << threads << " " << count << " " << i;
        }
        // Items waited for one by one are done, in order, when the wait returns.
        std::vector<std::atomic<int>> done(50);
        auto job = pool.Start(50, [&](uint32_t item) { done[item] = 1; });
        for (uint32_t i = 0; i < 50; ++i) {
            pool.WaitFor(*job, i);
            EXPECT_EQ(done[i].load(), 1);
        }
        pool.Wait(*job);
        EXPECT_FALSE(pool.Run(3, [](uint32_t item) {
            if (item == 1) throw std::runtime_error("item failed");
        }));
    }
}

TEST(WorkerPool, ThreadSettingAndScopes)
{
    ThreadSetting setting(0);
    EXPECT_EQ(GetRastikThreads(), 0u);
    EXPECT_GE(RastikThreads(), 1u);
    SetRastikThreads(1);
    {
        CPoolScope scope;
        EXPECT_EQ(scope.Pool(), nullptr);  // one thread: no pool, today's path
    }
    SetRastikThreads(3);
    EXPECT_EQ(CPoolScope::Lent(), nullptr);
    {
        CPoolScope outer;
        ASSERT_NE(outer.Pool(), nullptr);
        EXPECT_EQ(outer.Pool()->Threads(), 3u);
        CPoolScope inner;
        EXPECT_EQ(inner.Pool(), outer.Pool());  // one pool for the whole conversion
        EXPECT_EQ(CPoolScope::Lent(), outer.Pool());
    }
    EXPECT_EQ(CPoolScope::Lent(), nullptr);
}

}  // namespace

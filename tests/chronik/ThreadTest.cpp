// Threads of one process on one directory: writers, readers and rebuilds at
// the same time lose no event and list none twice, a thread's result list
// stays as it was while other threads read, and each thread's list is its
// own until the thread ends.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <set>
#include <thread>
#include <utility>

#include "chronik/CChronikApp.h"
#include "chronik/ChronikTestDir.h"

namespace {

constexpr uint32_t kT = 1700000000;
constexpr uint32_t kBatches = 300;

class ThreadTest : public ChronikTest {
protected:
    static std::vector<std::pair<uint32_t, uint32_t>> Events(const DiagRecordList* list)
    {
        std::vector<std::pair<uint32_t, uint32_t>> events;
        for (auto it = std::next(list->begin()); it != list->end(); ++it) events.emplace_back(it->code, it->time);
        return events;
    }
};

TEST_F(ThreadTest, WritesReadsAndRebuildsLoseNoEvent)
{
    SetConfigData(30, 100);  // a new data file every 100 s of event time
    const std::string dir = m_dir.Path();
    std::atomic<int> writing{2};
    auto writer = [&](uint32_t w) {
        for (uint32_t i = 0; i < kBatches; ++i) {
            uint32_t codes[2] = {WriterCode(w, 2 * i), WriterCode(w, 2 * i + 1)};
            EXPECT_EQ(Write(2 + w, kT + 3 * i + w, 2, codes, dir.c_str()), 1) << w << " " << i;
        }
        --writing;
    };
    auto reader = [&](bool rebuild) {
        const DiagRecordList* mine = nullptr;
        size_t seen = 0;
        for (int round = 0; writing > 0 || round < 30; ++round) {
            if (rebuild) {
                EXPECT_EQ(RebuildIndex(dir.c_str()), 1);
            }
            const DiagRecordList* list = Read(0, 0xFFFFFFFF, dir.c_str(), 0, 1);
            if (!list) continue;  // nothing stored yet
            if (mine) {
                EXPECT_EQ(list, mine);
            }
            mine = list;
            auto before = Events(list);
            std::set<std::pair<uint32_t, uint32_t>> distinct(before.begin(), before.end());
            EXPECT_EQ(distinct.size(), before.size()) << "an event listed twice";
            EXPECT_GE(distinct.size(), seen) << "an event went missing";
            seen = distinct.size();
            // The other threads read and write meanwhile; this list stays.
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            EXPECT_EQ(Events(list), before);
        }
    };
    std::thread threads[] = {std::thread(writer, 0), std::thread(writer, 1), std::thread(reader, false),
                             std::thread(reader, true)};
    for (std::thread& t : threads) t.join();

    std::multiset<uint32_t> expected, listed;
    for (uint32_t w = 0; w < 2; ++w)
        for (uint32_t i = 0; i < 2 * kBatches; ++i) expected.insert(WriterCode(w, i));
    for (const DiagRecord& r : Records(Read(0, 0xFFFFFFFF, dir.c_str(), 0, 1))) listed.insert(r.code);
    EXPECT_EQ(listed, expected);
    EXPECT_GE(m_dir.DataFiles().size(), 3u);  // roll-overs while the others read
}

TEST_F(ThreadTest, EachThreadHasItsOwnListUntilItEnds)
{
    uint32_t code = WriterCode(0, 1);
    ASSERT_EQ(Write(2, kT, 1, &code, m_dir.Path().c_str()), 1);
    const DiagRecordList* main = Read(kT, kT, m_dir.Path().c_str(), 0, 0);
    ASSERT_NE(main, nullptr);
    size_t lists = CChronikApp::Get().ThreadListCount();
    const DiagRecordList* other = nullptr;
    size_t during = 0;
    std::thread([&] {
        other = Read(kT + 1, kT + 2, m_dir.Path().c_str(), 0, 0);
        during = CChronikApp::Get().ThreadListCount();
    }).join();
    ASSERT_NE(other, nullptr);
    EXPECT_NE(other, main);
    EXPECT_EQ(during, lists + 1);
    EXPECT_EQ(CChronikApp::Get().ThreadListCount(), lists);  // released with its thread
    EXPECT_EQ(Events(main), (std::vector<std::pair<uint32_t, uint32_t>>{{code, kT}}));
    EXPECT_EQ(Read(kT, kT, m_dir.Path().c_str(), 0, 0), main);  // one list per thread, every time
}

}  // namespace

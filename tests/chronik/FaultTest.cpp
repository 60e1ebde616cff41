// The store under faults. One sequence of batches (appends, overflow blocks,
// roll-overs and, with two files kept, compactions) is run against a disk
// that fails each of its writes in turn, and against power losses after each
// of its file operations, with and without durability. A reference run of the
// same sequence tells what a reader must find after each batch.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <random>
#include <set>

#include "chronik/CDataFileWriter.h"
#include "chronik/CIndexFile.h"
#include "chronik/ChronikTestDir.h"
#include "platform/CFileFaults.h"

namespace {

constexpr uint32_t kT = 1700000000;
typedef std::multiset<std::pair<uint32_t, uint32_t>> Events;  // (time, code)

struct Batch {
    uint32_t node;
    uint32_t time;
    std::vector<uint32_t> codes;
};

class FaultTest : public ChronikTest {
protected:
    void SetUp() override
    {
        ChronikTest::SetUp();
        SetConfigData(2, 100);
        // node, time offset, number of codes: spills into overflow blocks, rolls
        // over at +150, +300 and +450 and then drops the oldest file.
        const uint32_t plan[][3] = {{2, 0, 3},   {3, 10, 5},   {2, 20, 600}, {2, 30, 4},   {4, 150, 2},
                                    {2, 160, 520}, {3, 300, 3}, {129, 310, 10}, {2, 450, 2}, {5, 460, 1}};
        uint32_t next = 0;
        for (const auto& p : plan) {
            Batch b{p[0], kT + p[1], {}};
            for (uint32_t i = 0; i < p[2]; ++i, ++next)
                b.codes.push_back(ModuleCode(2 + (next >> 12), (next >> 8) & 0xF, next & 0xFF, 32));
            m_batches.push_back(b);
        }
        // What a reader finds after each batch when nothing fails.
        ChronikTestDir reference;
        m_after.push_back(Events());
        for (const Batch& b : m_batches) {
            ASSERT_EQ(Put(b, reference.Path()), 1);
            m_after.push_back(ReadEvents(reference.Path()));
        }
    }

    static int32_t Put(const Batch& b, const std::string& dir)
    {
        return Write(b.node, b.time, static_cast<uint32_t>(b.codes.size()), b.codes.data(), dir.c_str());
    }
    static Events ReadEvents(const std::string& dir)
    {
        Events events;
        for (const DiagRecord& r : Records(Read(0, 0xFFFFFFFF, dir.c_str(), 0, 1))) events.insert({r.time, r.code});
        return events;
    }
    static Events Union(Events a, const Events& b)
    {
        a.insert(b.begin(), b.end());
        return a;
    }
    Events EventsOf(size_t k) const
    {
        Events events;
        for (uint32_t c : m_batches[k].codes) events.insert({m_batches[k].time, c});
        return events;
    }
    // With batch k in progress (or about to start), a reader must find what
    // was stored before it and is still kept after it, and may find no more
    // than what was stored before it plus batch k.
    void ExpectBetween(const Events& found, size_t k, const std::string& what) const
    {
        const Events& before = m_after[k];
        const Events& after = m_after[std::min(k + 1, m_batches.size())];
        Events must, may = k < m_batches.size() ? Union(before, EventsOf(k)) : before;
        std::set_intersection(before.begin(), before.end(), after.begin(), after.end(),
                              std::inserter(must, must.end()));
        EXPECT_TRUE(std::includes(found.begin(), found.end(), must.begin(), must.end())) << what << ": events lost";
        EXPECT_TRUE(std::includes(may.begin(), may.end(), found.begin(), found.end())) << what << ": events invented";
    }
    // The directory takes a further batch (not synced: that is tested by the
    // sequence) and reads it back.
    void ExpectTakesWrites(const std::string& dir, const std::string& what) const
    {
        Batch extra{6, m_batches.back().time + 1, {ModuleCode(300, 1, 1, 16)}};
        SetDurability(0);
        int32_t stored = Put(extra, dir);
        SetDurability(m_durable ? 1 : 0);
        ASSERT_EQ(stored, 1) << what << ": " << strerror(errno);
        EXPECT_EQ(ReadEvents(dir).count({extra.time, extra.codes[0]}), 1u) << what;
    }

    std::vector<Batch> m_batches;
    std::vector<Events> m_after;
    bool m_durable = false;  // m_after[k]: found after the first k batches
};

TEST_F(FaultTest, DiskFullOrIoErrorAtEveryWrite)
{
    uint64_t total = 0;
    {
        ChronikTestDir dir;
        CFileFaults faults;
        for (const Batch& b : m_batches) Put(b, dir.Path());
        total = faults.Writes();
    }
    ASSERT_GT(total, 40u);
    for (int error : {ENOSPC, EIO}) {
        for (uint64_t n = 1; n <= total; ++n) {
            std::string what = std::string(strerror(error)) + " at write " + std::to_string(n);
            ChronikTestDir dir;
            size_t k = 0;
            int32_t stored = 0;
            {
                CFileFaults faults;
                faults.FailWrite(n, error);
                for (; k < m_batches.size(); ++k) {
                    errno = 0;
                    stored = Put(m_batches[k], dir.Path());
                    if (faults.Writes() >= n) break;
                    ASSERT_EQ(stored, 1) << what;
                }
            }
            ASSERT_LT(k, m_batches.size()) << what;
            // Not stored: exactly what was there before. Stored (the failure
            // came while dropping the oldest file): the batch is there too.
            Events found = ReadEvents(dir.Path());
            if (!stored) {
                EXPECT_EQ(errno == error || errno == 0, true) << what;
                EXPECT_EQ(found, m_after[k]) << what;
            } else {
                ExpectBetween(found, k, what);
                EXPECT_EQ(found.count({m_batches[k].time, m_batches[k].codes[0]}), 1u) << what;
            }
            ExpectTakesWrites(dir.Path(), what);
        }
    }
}

class PowerLossTest : public FaultTest, public ::testing::WithParamInterface<bool> {};

// A power loss after each operation, with all unsynced pieces on the disk
// (as after a killed process), none of them, and random subsets.
TEST_P(PowerLossTest, EveryPointOfTheSequence)
{
    const bool durable = m_durable = GetParam();
    SetDurability(durable ? 1 : 0);
    CFileFaults faults;
    faults.Record(m_dir.Path());
    std::vector<size_t> done;  // operations made when each batch had returned
    for (const Batch& b : m_batches) {
        ASSERT_EQ(Put(b, m_dir.Path()), 1);
        done.push_back(faults.Operations());
    }
    Events written;
    for (size_t k = 0; k < m_batches.size(); ++k) written = Union(written, EventsOf(k));

    std::mt19937 rng(durable ? 11 : 12);
    for (size_t point = 0; point <= faults.Operations(); ++point) {
        size_t k = std::upper_bound(done.begin(), done.end(), point) - done.begin();
        size_t pieces = faults.UnsyncedPieces(point);
        for (int variant = 0; variant < 4; ++variant) {
            std::vector<bool> keep(pieces, variant == 0);
            if (variant >= 2)
                for (size_t i = 0; i < pieces; ++i) keep[i] = rng() & 1;
            std::string what = (durable ? "durable" : "not durable") + std::string(", loss after operation ") +
                               std::to_string(point) + ", variant " + std::to_string(variant);
            ChronikTestDir disk;
            faults.LayOut(point, keep, disk.Path());
            s_messages.clear();
            Events found = ReadEvents(disk.Path());
            if (durable || variant == 0) {
                ExpectBetween(found, k, what);
                if (durable) {
                    EXPECT_TRUE(s_messages.empty()) << what << ": " << s_messages.front();
                }
            } else {
                // Words a link covers that never reached the disk read as zeros:
                // at worst the server-start notice (code 0) at a stored time.
                for (const auto& [time, code] : found) {
                    auto at = written.lower_bound({time, 0});
                    EXPECT_TRUE(at != written.end() && at->first == time) << what << ": time " << time;
                    EXPECT_TRUE(code == 0 || written.count({time, code})) << what << ": code " << code;
                }
            }
            ExpectTakesWrites(disk.Path(), what);
            if (HasFailure()) return;
        }
    }
}

// An index whose entries span two sectors drops its two oldest entries and a
// vanished one and gains a new one; a power loss anywhere in that durable
// update leaves every entry both lists hold listed whole.
TEST_F(FaultTest, DurableIndexUpdateKeepsCommonEntries)
{
    std::vector<IndexEntry> before, after;
    for (uint16_t i = 0; i < 20; ++i) {
        SYSTEMTIME t{2024, 1, 0, 1, 0, i, i, 0};
        before.push_back({kT + 100u * i, kT + 100u * i + 50, CDataFileWriter::MakeDataFileName(t)});
    }
    after.assign(before.begin() + 2, before.end());
    after.erase(after.begin() + 7);
    after.push_back({kT + 5000, kT + 5000, "KORVAL20250101000000.API"});
    const std::string path = m_dir.File("Index.API");
    std::vector<uint8_t> header(43, 0);
    memcpy(header.data(), "KORVAL DIAGNOSE FILEINDEX V1.00", 31);
    WriteAll(path, header);
    CFile index;
    ASSERT_TRUE(index.Open(path.c_str(), CFile::modeReadWrite));
    ASSERT_EQ(CIndexFile::StoreEntries(index, before, false), 0);

    CFileFaults faults;
    faults.Record(m_dir.Path());
    ASSERT_EQ(CIndexFile::StoreEntries(index, after, true), 0);
    index.Close();
    std::mt19937 rng(5);
    for (size_t point = 0; point <= faults.Operations(); ++point) {
        for (int variant = 0; variant < 8; ++variant) {
            std::vector<bool> keep(faults.UnsyncedPieces(point));
            for (size_t i = 0; i < keep.size(); ++i) keep[i] = rng() & 1;
            ChronikTestDir disk;
            faults.LayOut(point, keep, disk.Path());
            CFile copy;
            ASSERT_TRUE(copy.Open(disk.File("Index.API").c_str(), CFile::modeRead));
            std::vector<IndexEntry> listed = CIndexFile::Load(copy).entries;
            for (const IndexEntry& e : after) {
                bool common = std::any_of(before.begin(), before.end(), [&](auto& b) { return b.name == e.name; });
                bool whole = std::any_of(listed.begin(), listed.end(), [&](auto& l) {
                    return l.name == e.name && l.start == e.start && l.end == e.end;
                });
                EXPECT_TRUE(!common || whole) << e.name << " lost after operation " << point;
            }
        }
    }
    EXPECT_GT(faults.Operations(), 4u);
}

INSTANTIATE_TEST_SUITE_P(Durability, PowerLossTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& p) { return p.param ? "On" : "Off"; });

}  // namespace

// Hostile input for the DCT decoder: truncated copies and random byte
// changes of every corpus JPEG and of the encoder's output end with a
// refused header, a failed band or a complete image, never with a crash, an
// access out of bounds or a decoder that keeps going without end.
#include <gtest/gtest.h>

#include <random>

#include "TestUtil.h"
#include "dct_decode_support.h"

using namespace dcttest;

namespace {

struct Source {
    std::string name;
    std::vector<uint8_t> bytes;
};

// The corpus JPEGs (hostile ones included) and the encoder's streams of
// every kind.
std::vector<Source> Sources(const TempDir& dir)
{
    std::vector<Source> sources;
    for (const char* sub : {"jpeg", "jpeg-hostile"}) {
        std::string corpus = testutil::CorpusDir(sub);
        if (corpus.empty()) continue;
        for (const std::string& path : testutil::ListFiles(corpus, "", ".jpg")) sources.push_back({path, ReadAll(path)});
    }
    struct Kind {
        uint32_t components, transform;
        bool large;
    } kinds[] = {{1, 0, false}, {3, 1, false}, {3, 1, true}, {4, 1, true}, {4, 0, false}};
    for (const Kind& k : kinds)
        sources.push_back({"encoder " + std::to_string(k.components) + (k.large ? " 16x16" : " 8x8"),
                           Encode(PhotoImage(35, 21, k.components), dir, k.transform, k.large)});
    return sources;
}

void ExpectCleanEnd(const std::vector<uint8_t>& bytes, const TempDir& dir, bool planar)
{
    OwnDecoded own = DecodeOwn(bytes, dir, planar);
    EXPECT_TRUE(own.progressed);
    EXPECT_TRUE(own.last == 0 || own.last == kFailed) << own.last;
}

}  // namespace

TEST(DctDecodeHostile, TruncatedStreamsEndCleanly)
{
    TempDir dir;
    std::vector<Source> sources = Sources(dir);
    if (testutil::CorpusDir("jpeg").empty()) std::printf("../shared/corpus is absent: encoder streams only\n");
    for (const Source& s : sources) {
        SCOPED_TRACE(s.name);
        size_t step = std::max<size_t>(1, s.bytes.size() / 40);
        for (size_t length = 0; length < s.bytes.size(); length += step) {
            SCOPED_TRACE(length);
            ExpectCleanEnd(std::vector<uint8_t>(s.bytes.begin(), s.bytes.begin() + long(length)), dir,
                           length % 2 == 1);
        }
    }
}

TEST(DctDecodeHostile, RandomlyChangedStreamsEndCleanly)
{
    // A fixed seed and a modest count; RASTIK_MUTATIONS raises it for a
    // longer run by hand.
    const char* more = std::getenv("RASTIK_MUTATIONS");
    int perSource = more ? std::max(1, std::atoi(more)) : 120;
    TempDir dir;
    std::mt19937 random(20240612);
    for (const Source& s : Sources(dir)) {
        if (s.bytes.size() > 40000 && !more) continue;  // the larger files get truncations only
        SCOPED_TRACE(s.name);
        for (int trial = 0; trial < perSource; ++trial) {
            std::vector<uint8_t> bytes = s.bytes;
            int changes = 1 + int(random() % 4);
            for (int i = 0; i < changes; ++i) {
                size_t at = random() % bytes.size();
                // Header bytes are changed more often than scan bytes.
                if (random() % 2) at %= std::min<size_t>(bytes.size(), 700);
                bytes[at] = random() % 3 ? uint8_t(random()) : uint8_t(bytes[at] ^ (1u << (random() % 8)));
            }
            SCOPED_TRACE(trial);
            ExpectCleanEnd(bytes, dir, trial % 2 == 1);
        }
    }
}

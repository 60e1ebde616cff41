// Tests of the colour quantizer: exact palettes, palettes made by splitting
// the colour tree, nearest-colour fallback and error diffusion along rows.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include <gtest/gtest.h>

#include "rastik/Exports.h"
#include "rastik/core/CColorQuantizer.h"
#include "rastik/support/CPoolScope.h"

namespace {

struct Rgb {
    int r, g, b;
};

// Planar RGB image of width x height with a stride a little wider than the row.
struct Planes {
    Planes(int w, int h) : width(w), height(h), stride(w + 3)
    {
        for (auto* p : {&r, &g, &b}) p->assign(static_cast<size_t>(stride) * h, 0);
    }
    void Set(int x, int y, Rgb c)
    {
        size_t at = static_cast<size_t>(y) * stride + x;
        r[at] = static_cast<uint8_t>(c.r);
        g[at] = static_cast<uint8_t>(c.g);
        b[at] = static_cast<uint8_t>(c.b);
    }
    Rgb Get(int x, int y) const
    {
        size_t at = static_cast<size_t>(y) * stride + x;
        return {r[at], g[at], b[at]};
    }
    int width, height, stride;
    std::vector<uint8_t> r, g, b;
};

// Image of the colours in order, one pixel each, in rows of width pixels;
// the remaining pixels repeat the last colour.
Planes ImageOf(const std::vector<Rgb>& colours, int width)
{
    int height = static_cast<int>((colours.size() + width - 1) / width);
    Planes p(width, height);
    for (int i = 0; i < width * height; ++i) {
        size_t c = static_cast<size_t>(i) < colours.size() ? i : colours.size() - 1;
        p.Set(i % width, i / width, colours[c]);
    }
    return p;
}

// Enters the image row by row and builds the palette, as whole-file conversion does.
void Build(CColorQuantizer& q, const Planes& p)
{
    ASSERT_EQ(q.SetImage(p.width, p.height, p.stride), 1);
    for (int y = 0; y < p.height; ++y) {
        size_t at = static_cast<size_t>(y) * p.stride;
        ASSERT_EQ(q.AddPlanes(p.r.data() + at, p.g.data() + at, p.b.data() + at, 1), 1);
    }
    ASSERT_EQ(q.BuildPalette(), 1);
}

// Maps every row with one call per row; indexes in rows of width bytes.
std::vector<uint8_t> MapByRows(CColorQuantizer& q, const Planes& p)
{
    std::vector<uint8_t> out(static_cast<size_t>(p.width) * p.height, 0xEE);
    for (int y = 0; y < p.height; ++y) {
        size_t at = static_cast<size_t>(y) * p.stride;
        EXPECT_EQ(q.MapPlanes(out.data() + static_cast<size_t>(y) * p.width, p.r.data() + at,
                              p.g.data() + at, p.b.data() + at, 1, p.width),
                  1);
    }
    return out;
}

Rgb PaletteColour(CColorQuantizer& q, int index)
{
    int32_t count = 0;
    const uint8_t* pal = q.GetPalette(&count);
    EXPECT_LT(index, count);
    return {pal[4 * index + 2], pal[4 * index + 1], pal[4 * index]};
}

bool Same(Rgb a, Rgb b)
{
    return a.r == b.r && a.g == b.g && a.b == b.b;
}

bool PaletteHas(CColorQuantizer& q, Rgb c)
{
    int32_t count = 0;
    q.GetPalette(&count);
    for (int i = 0; i < count; ++i)
        if (Same(PaletteColour(q, i), c)) return true;
    return false;
}

TEST(QuantizerExact, ThreeColoursGiveTheirOwnPaletteAndMapExactly)
{
    Planes p(5, 4);
    const Rgb red{255, 0, 0}, green{0, 255, 0}, blue{0, 0, 255};
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x) p.Set(x, y, (x + y) % 3 == 0 ? red : ((x + y) % 3 == 1 ? green : blue));
    CColorQuantizer q;
    Build(q, p);
    int32_t count = 0;
    const uint8_t* pal = q.GetPalette(&count);
    ASSERT_EQ(count, 3);
    EXPECT_EQ(q.DistinctColors, 3);
    // Depth-first order of the tree: the red bit is child 1, green 2, blue 4.
    EXPECT_TRUE(Same(PaletteColour(q, 0), red));
    EXPECT_TRUE(Same(PaletteColour(q, 1), green));
    EXPECT_TRUE(Same(PaletteColour(q, 2), blue));
    EXPECT_EQ(pal[3], 0);

    // With error diffusion on, exact colours leave no error to spread.
    std::vector<uint8_t> idx = MapByRows(q, p);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x) EXPECT_TRUE(Same(PaletteColour(q, idx[y * 5 + x]), p.Get(x, y)));
}

TEST(QuantizerExact, TwoHundredFiftySixColoursAreAllKept)
{
    std::vector<Rgb> colours;
    for (int i = 0; i < 256; ++i) colours.push_back({i, 255 - i, (i * 37) & 255});
    Planes p = ImageOf(colours, 16);
    CColorQuantizer q;
    Build(q, p);
    int32_t count = 0;
    q.GetPalette(&count);
    ASSERT_EQ(count, 256);
    std::vector<uint8_t> idx = MapByRows(q, p);
    for (int i = 0; i < 256; ++i) EXPECT_TRUE(Same(PaletteColour(q, idx[i]), colours[i])) << i;
}

TEST(QuantizerSplit, TwoHundredFiftySevenColoursAreReducedToNearColours)
{
    std::vector<Rgb> colours;
    for (int i = 0; i < 256; ++i) colours.push_back({i, i, i});
    colours.push_back({0, 0, 255});
    Planes p = ImageOf(colours, 17);
    CColorQuantizer q;
    q.Dither = 0;
    Build(q, p);
    EXPECT_EQ(q.DistinctColors, 257);
    int32_t count = 0;
    q.GetPalette(&count);
    ASSERT_EQ(count, 256);
    std::vector<uint8_t> idx = MapByRows(q, p);
    for (size_t i = 0; i < colours.size(); ++i) {
        Rgb got = PaletteColour(q, idx[i]);
        EXPECT_LE(std::abs(got.r - colours[i].r), 1) << i;
        EXPECT_LE(std::abs(got.g - colours[i].g), 1) << i;
        EXPECT_LE(std::abs(got.b - colours[i].b), 1) << i;
    }
    EXPECT_TRUE(PaletteHas(q, {0, 0, 255}));
}

// 129 groups of two colours that differ only in their lowest bits. The 127
// most populous groups are split into their two colours; the two least
// populous stay whole and get the pixel-weighted mean, rounded down.
TEST(QuantizerSplit, UnsplitEntriesTakeTheWeightedMeanOfTheirColours)
{
    std::vector<Rgb> colours, expected;
    auto group = [](int i) { return i < 128 ? Rgb{2 * i, 0, 0} : Rgb{0, 2, 0}; };
    const int mergedA = 5, mergedB = 77;
    for (int i = 0; i < 129; ++i) {
        Rgb a = group(i), b{a.r + 1, a.g + 1, 1};
        bool merged = i == mergedA || i == mergedB;
        // Mean of one a and three b: a + 3/4 per component, rounded down to a.
        for (int k = 0; k < (merged ? 1 : 2); ++k) {
            colours.push_back(a);
            expected.push_back(a);
        }
        for (int k = 0; k < 3; ++k) {
            colours.push_back(b);
            expected.push_back(merged ? a : b);
        }
    }
    Planes p = ImageOf(colours, 32);
    CColorQuantizer q;
    q.Dither = 0;
    Build(q, p);
    EXPECT_EQ(q.DistinctColors, 258);
    int32_t count = 0;
    q.GetPalette(&count);
    ASSERT_EQ(count, 256);
    for (int i = 0; i < 129; ++i) {
        Rgb a = group(i), b{a.r + 1, a.g + 1, 1};
        EXPECT_TRUE(PaletteHas(q, a)) << i;
        bool merged = i == mergedA || i == mergedB;
        EXPECT_EQ(PaletteHas(q, b), !merged) << i;
    }
    // Both colours of a whole group map to its one entry.
    std::vector<uint8_t> idx = MapByRows(q, p);
    for (size_t i = 0; i < colours.size(); ++i) EXPECT_TRUE(Same(PaletteColour(q, idx[i]), expected[i])) << i;
}

// Random colours make a tree of well over 100,000 nodes. The image claims one
// row but gets 256, so the nodes outgrow the short first block sized for one
// row and fill several whole ones; every colour is still counted once.
TEST(QuantizerSplit, ManyColoursOutgrowTheNodeBlocks)
{
    Planes p(256, 256);
    std::vector<uint32_t> values;
    uint32_t seed = 12345;
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            seed = seed * 1103515245u + 12345u;
            const uint32_t v = seed >> 8 & 0xFFFFFF;
            p.Set(x, y, {static_cast<int>(v & 255), static_cast<int>(v >> 8 & 255), static_cast<int>(v >> 16)});
            values.push_back(v);
        }
    std::sort(values.begin(), values.end());
    const auto distinct = std::unique(values.begin(), values.end()) - values.begin();

    CColorQuantizer q;
    ASSERT_EQ(q.SetImage(p.width, 1, p.stride), 1);
    ASSERT_EQ(q.AddPlanes(p.r.data(), p.g.data(), p.b.data(), p.height), 1);
    ASSERT_EQ(q.BuildPalette(), 1);
    EXPECT_EQ(q.DistinctColors, distinct);
    EXPECT_EQ(q.PaletteCount, 256);
    MapByRows(q, p);  // walks deep into the large tree
}

// An image of more pixels than a batch, with worker threads: each batch is
// sorted on a worker while the one before enters the tree in pieces on all
// threads, and the colour count, palette and rows are those of one thread.
TEST(QuantizerSplit, BatchesSortedAheadOnWorkersGiveTheSamePaletteAndRows)
{
    Planes p(1500, 1500);
    uint32_t seed = 777;
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x) {
            seed = seed * 1103515245u + 12345u;
            p.Set(x, y, {x * 255 / p.width, y * 255 / p.height, static_cast<int>(seed >> 24)});
        }
    std::vector<uint8_t> first;
    int32_t distinct = 0;
    const uint32_t before = GetRastikThreads();
    for (uint32_t threads : {1u, 2u, 3u, 8u}) {
        SetRastikThreads(threads);
        CPoolScope scope;
        CColorQuantizer q;
        ASSERT_EQ(q.SetImage(p.width, p.height, p.stride), 1);
        for (int y = 0; y < p.height; y += 100) {
            const size_t at = static_cast<size_t>(y) * p.stride;
            ASSERT_EQ(q.AddPlanes(p.r.data() + at, p.g.data() + at, p.b.data() + at, 100), 1);
        }
        ASSERT_EQ(q.BuildPalette(), 1);
        int32_t count = 0;
        const uint8_t* palette = q.GetPalette(&count);
        std::vector<uint8_t> result(palette, palette + 4 * count);
        const std::vector<uint8_t> rows = MapByRows(q, p);
        result.insert(result.end(), rows.begin(), rows.end());
        if (threads == 1) {
            first = result;
            distinct = q.DistinctColors;
        } else {
            EXPECT_TRUE(result == first) << threads << " threads";
            EXPECT_EQ(q.DistinctColors, distinct) << threads << " threads";
        }
    }
    SetRastikThreads(before);
}

TEST(QuantizerNearest, ColoursOffTheTreeTakeTheNearestEntryFirstOfEqualDistances)
{
    Planes p(2, 1);
    p.Set(0, 0, {0, 0, 0});
    p.Set(1, 0, {200, 0, 0});
    CColorQuantizer q;
    q.Dither = 0;
    Build(q, p);
    ASSERT_EQ(q.PaletteCount, 2);

    Planes probe(4, 1);
    probe.Set(0, 0, {100, 0, 0});  // equally far from both: the first entry
    probe.Set(1, 0, {101, 0, 0});
    probe.Set(2, 0, {250, 10, 40});
    probe.Set(3, 0, {200, 0, 0});  // on the tree
    q.SetImage(4, 1, probe.stride);
    std::vector<uint8_t> idx(4, 0xEE);
    ASSERT_EQ(q.MapPlanes(idx.data(), probe.r.data(), probe.g.data(), probe.b.data(), 1, 4), 1);
    EXPECT_EQ(idx[0], 0);
    EXPECT_EQ(idx[1], 1);
    EXPECT_EQ(idx[2], 1);
    EXPECT_EQ(idx[3], 1);
}

TEST(QuantizerNearest, NearestOnlyMapsEveryPixelToItsNearestEntry)
{
    std::vector<Rgb> colours;
    for (int i = 0; i < 300; ++i) colours.push_back({(i * 53) & 255, (i * 97) & 255, i < 256 ? (i * 29) & 255 : 128});
    Planes p = ImageOf(colours, 20);
    CColorQuantizer q;
    q.Dither = 0;
    q.NearestOnly = 1;
    Build(q, p);
    ASSERT_GT(q.DistinctColors, 256);
    std::vector<uint8_t> idx = MapByRows(q, p);
    for (size_t i = 0; i < colours.size(); ++i) {
        int best = -1, bestDistance = 1 << 30;
        for (int k = 0; k < q.PaletteCount; ++k) {
            Rgb c = PaletteColour(q, k);
            int d = (c.r - colours[i].r) * (c.r - colours[i].r) + (c.g - colours[i].g) * (c.g - colours[i].g) +
                    (c.b - colours[i].b) * (c.b - colours[i].b);
            if (d < bestDistance) {
                bestDistance = d;
                best = k;
            }
        }
        EXPECT_EQ(idx[i], best) << i;
    }
}

// Index of the first palette entry of smallest squared distance.
int NearestByScan(CColorQuantizer& q, Rgb c)
{
    int best = 0, bestDistance = 1 << 30;
    for (int k = 0; k < q.PaletteCount; ++k) {
        Rgb p = PaletteColour(q, k);
        int d = (p.r - c.r) * (p.r - c.r) + (p.g - c.g) * (p.g - c.g) + (p.b - c.b) * (p.b - c.b);
        if (d < bestDistance) {
            bestDistance = d;
            best = k;
        }
    }
    return best;
}

TEST(QuantizerNearest, SearchFollowsPaletteAndFlagChangesBetweenCalls)
{
    std::vector<Rgb> colours;
    for (int i = 0; i < 300; ++i) colours.push_back({(i * 53) & 255, (i * 97) & 255, i < 256 ? (i * 29) & 255 : 128});
    Planes image = ImageOf(colours, 20);
    CColorQuantizer q;
    q.Dither = 0;
    q.NearestOnly = 1;
    Build(q, image);
    ASSERT_GT(q.DistinctColors, 256);

    Planes probe(64, 64);
    uint32_t seed = 7;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            seed = seed * 1103515245u + 12345u;
            probe.Set(x, y, {static_cast<int>(seed >> 24), static_cast<int>((seed >> 16) & 255),
                             static_cast<int>((seed >> 8) & 255)});
        }
    q.SetImage(64, 64, probe.stride);
    std::vector<uint8_t> idx = MapByRows(q, probe);
    for (int i = 0; i < 64 * 64; ++i) ASSERT_EQ(idx[i], NearestByScan(q, probe.Get(i % 64, i / 64))) << i;

    // A palette changed through GetPalette is searched as it now is.
    int32_t count = 0;
    uint8_t* pal = q.GetPalette(&count);
    const Rgb moved = probe.Get(5, 3);
    pal[0] = static_cast<uint8_t>(moved.b);
    pal[1] = static_cast<uint8_t>(moved.g);
    pal[2] = static_cast<uint8_t>(moved.r);
    idx = MapByRows(q, probe);
    EXPECT_EQ(idx[3 * 64 + 5], 0);
    for (int i = 0; i < 64 * 64; ++i) ASSERT_EQ(idx[i], NearestByScan(q, probe.Get(i % 64, i / 64))) << i;

    // Back to the tree: the same as a quantizer that used it from the start.
    CColorQuantizer fresh;
    fresh.Dither = 0;
    Build(fresh, image);
    fresh.GetPalette(&count)[0] = pal[0];
    fresh.GetPalette(&count)[1] = pal[1];
    fresh.GetPalette(&count)[2] = pal[2];
    q.NearestOnly = 0;
    q.SetImage(image.width, image.height, image.stride);
    fresh.SetImage(image.width, image.height, image.stride);
    EXPECT_EQ(MapByRows(q, image), MapByRows(fresh, image));
    q.SetImage(64, 64, probe.stride);
    fresh.SetImage(64, 64, probe.stride);
    EXPECT_EQ(MapByRows(q, probe), MapByRows(fresh, probe));
}

// A palette of black (index 0) and white (index 1).
void BuildBlackAndWhite(CColorQuantizer& q)
{
    Planes p(2, 1);
    p.Set(0, 0, {0, 0, 0});
    p.Set(1, 0, {255, 255, 255});
    Build(q, p);
    ASSERT_EQ(q.PaletteCount, 2);
    ASSERT_TRUE(Same(PaletteColour(q, 0), {0, 0, 0}));
}

TEST(QuantizerDither, FlatGreyBecomesAMixAndEveryRowStartsWithoutError)
{
    CColorQuantizer q;
    BuildBlackAndWhite(q);
    Planes grey(16, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 16; ++x) grey.Set(x, y, {128, 128, 128});
    q.SetImage(16, 4, grey.stride);

    std::vector<uint8_t> idx = MapByRows(q, grey);
    // 128 is nearer white; its error -127 pushes the next pixel to black, and so on.
    const uint8_t firstRow[16] = {1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0};
    for (int x = 0; x < 16; ++x) EXPECT_EQ(idx[x], firstRow[x]) << x;
    for (int y = 1; y < 4; ++y)
        for (int x = 0; x < 16; ++x) EXPECT_EQ(idx[y * 16 + x], idx[x]) << y << "," << x;

    // All rows in one call: errors handed down change the second row.
    std::vector<uint8_t> once(64, 0xEE);
    ASSERT_EQ(q.MapPlanes(once.data(), grey.r.data(), grey.g.data(), grey.b.data(), 4, 16), 1);
    EXPECT_TRUE(std::equal(once.begin(), once.begin() + 16, idx.begin()));
    EXPECT_FALSE(std::equal(once.begin() + 16, once.begin() + 32, idx.begin()));

    // Without diffusion every pixel takes the nearest entry.
    q.Dither = 0;
    std::vector<uint8_t> plain = MapByRows(q, grey);
    for (uint8_t v : plain) EXPECT_EQ(v, 1);
}

TEST(QuantizerDither, NegativeErrorsShiftArithmetically)
{
    CColorQuantizer q;
    BuildBlackAndWhite(q);
    // 128 maps to white with error -127; (7 x -127) >> 4 is -56, so the
    // next pixel's 183 becomes 127 and maps to black (-55 would give 128, white).
    Planes row(2, 1);
    row.Set(0, 0, {128, 128, 128});
    row.Set(1, 0, {183, 183, 183});
    q.SetImage(2, 1, row.stride);
    std::vector<uint8_t> idx = MapByRows(q, row);
    EXPECT_EQ(idx[0], 1);
    EXPECT_EQ(idx[1], 0);
}

TEST(QuantizerLifecycle, EmptyAndMisusedQuantizersFailCleanly)
{
    CColorQuantizer q;
    uint8_t px[4] = {1, 2, 3, 4};
    EXPECT_EQ(q.AddPlanes(px, px, px, 1), 0);  // no image yet
    ASSERT_EQ(q.SetImage(4, 1, 4), 1);
    ASSERT_EQ(q.BuildPalette(), 1);
    int32_t count = -1;
    EXPECT_NE(q.GetPalette(&count), nullptr);
    EXPECT_EQ(count, 0);
    uint8_t out[4] = {9, 9, 9, 9};
    EXPECT_EQ(q.MapPlanes(out, px, px, px, 1, 4), 1);
    for (uint8_t v : out) EXPECT_EQ(v, 0);
    EXPECT_EQ(q.MapPlanes(nullptr, px, px, px, 1, 4), 0);
    EXPECT_EQ(q.AddPlanes(px, px, px, 1), 0);  // the tree is fixed once the palette is built
}

}  // namespace

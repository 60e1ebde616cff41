// Helpers of the tests of the TIFF strip decoders and sample conversions:
// the first directory of a TIFF file with every field type, its strips (or
// tiles) as stored, bit strings for hand-made streams, and the first
// difference of two byte arrays for messages.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace testutil {

struct StripFile {
    std::string path;
    bool little = true;
    // Each field's items, in the file's byte order, as stored.
    struct Field {
        uint16_t type = 0;
        uint32_t count = 0;
        std::vector<uint8_t> bytes;
    };
    std::map<uint16_t, Field> fields;
    // The stored bytes of each strip (or tile), cut at the file's end.
    std::vector<std::vector<uint8_t>> strips;
    std::vector<uint32_t> offsets, counts;

    bool Has(uint16_t tag) const { return fields.count(tag) != 0; }
    // Item i of an integer or floating field (RATIONAL: the quotient);
    // otherwise when there is no such item.
    double Number(uint16_t tag, uint32_t i = 0, double otherwise = 0) const;
    uint32_t Unsigned(uint16_t tag, uint32_t otherwise = 0) const
    {
        return static_cast<uint32_t>(Number(tag, 0, otherwise));
    }
    std::vector<uint32_t> Items(uint16_t tag) const;

    uint32_t Width() const { return Unsigned(256); }
    uint32_t Height() const { return Unsigned(257); }
    // RowsPerStrip, at most the height.
    uint32_t RowsPerStrip() const;
};

// Reads the first directory and the strips (the tiles when the file has
// TileOffsets); false for what is not a TIFF file.
bool LoadStripFile(const std::string& path, StripFile* file);

// The decoded bytes of strip s (uncompressed, LZW, Deflate or PackBits),
// rowBytes x rows of them at most; empty for other compressions.
std::vector<uint8_t> DecodedStrip(const StripFile& file, size_t s, size_t rowBytes, uint32_t rows);

struct RgbImage;
// ImageMagick's decoding as it writes a BMP file (read back by PIL); false
// when either refuses.
bool DecodeWithConvertBmp(const std::string& path, RgbImage* image);

class TempDir;

// Files libtiff wrote, shared by a suite's tests: each source made by
// ImageMagick (its arguments, then convertTail) uncompressed, then copied by
// tiffcp with each coding's options. Nothing is made without the tools.
struct MadeFile {
    std::string path, plain, what;
};
class MadeFiles {
public:
    MadeFiles();
    ~MadeFiles();
    void Make(const std::vector<std::string>& sources, const std::string& convertTail,
              const std::vector<std::string>& codings);
    std::string NewPath();

    std::vector<std::string> plains;  // the uncompressed sources
    std::vector<MadeFile> files;

private:
    std::unique_ptr<TempDir> m_dir;
    int m_count = 0;
};

// A suite whose tests share the files Suite::MakeFiles makes once; its
// tests skip when none could be made.
template <class Suite>
class MadeFilesTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_made = new MadeFiles;
        Suite::MakeFiles(*s_made);
    }
    static void TearDownTestSuite()
    {
        delete s_made;
        s_made = nullptr;
    }
    void SetUp() override
    {
        if (s_made->files.empty()) GTEST_SKIP() << "libtiff tools or ImageMagick missing";
    }

    static inline MadeFiles* s_made = nullptr;
};

// A bit string ("0111 10", other characters ignored) packed most
// significant bit first.
std::vector<uint8_t> Bits(const std::string& bits);

// "" when a and b are equal, else the size difference or the first unit
// (of unit bytes: a row, a pixel) that differs.
std::string FirstDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, size_t unit);

}  // namespace testutil

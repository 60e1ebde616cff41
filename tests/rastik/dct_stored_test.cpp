// Coding from stored rows on worker threads: the file is the one band-by-band
// coding writes, for both MCU sizes, with and without the colour transform,
// at widths and heights that cut the last MCUs; a row the file does not give
// fails the image.
#include <gtest/gtest.h>

#include "dct_support.h"
#include "rastik/CStoredRows.h"
#include "rastik/support/CPoolScope.h"

namespace {

// The rows of a planar test image, taken as a file's would be; Take fails
// from row failFrom on.
class ImageRows final : public CStoredRows {
public:
    ImageRows(const dcttest::Image& image, uint32_t failFrom) : m_image(image), m_failFrom(failFrom) {}
    size_t ScratchBytes(uint32_t) const override { return 0; }
    bool Take(uint32_t first, uint32_t rows, uint8_t* const* planes, size_t stride, uint8_t*) const override
    {
        if (first + rows > m_failFrom) {
            NoteFailure();
            return false;
        }
        for (uint32_t c = 0; c < 3; ++c)
            for (uint32_t y = 0; y < rows; ++y)
                for (uint32_t x = 0; x < m_image.width; ++x) planes[c][y * stride + x] = m_image.At(c, x, first + y);
        return true;
    }

private:
    const dcttest::Image& m_image;
    const uint32_t m_failFrom;
};

struct StoredCase {
    uint32_t width, height;
    uint8_t sampling;  // of the first component: 1 for 8 x 8 MCUs, 2 for 16 x 16
    uint32_t transform;
    uint32_t threads;
};

class DctStored : public ::testing::TestWithParam<StoredCase> {
protected:
    void SetUp() override { m_before = GetRastikThreads(); }
    void TearDown() override { SetRastikThreads(m_before); }

    DCTINFO Info(const dcttest::Image& image) const
    {
        DCTINFO info = dcttest::Params(0.3, GetParam().transform);
        info.dwWidth = image.width;
        info.dwHeight = image.height;
        info.dwComponents = 3;
        info.pHSampling = m_sampling;
        info.pVSampling = m_sampling;
        return info;
    }
    // The file of coding from rows with threads threads; the results of
    // EncoderStored and Encode_EOD.
    std::vector<uint8_t> EncodeStored(const dcttest::Image& image, const CStoredRows& rows, uint32_t threads,
                                      uint32_t* coded, uint32_t* ended)
    {
        SetRastikThreads(threads);
        CPoolScope pool;
        CDCTFilter filter;
        const DCTINFO info = Info(image);
        const std::string path = m_dir.File("stored.jpg");
        CFile file;
        EXPECT_TRUE(file.Open(path.c_str(), CFile::modeCreate | CFile::modeWrite | CFile::typeBinary));
        g_pEncodedDataFile = &file;
        EXPECT_NE(filter.Encode_Header(1, &info), CDCTFilter::kFailure);
        uint32_t told = 0;
        *coded = filter.EncoderStored(rows, [&told](uint32_t n) {
            told += n;
            return true;
        });
        if (*coded == 0) {
            EXPECT_EQ(told, image.height);
        }
        *ended = filter.Encode_EOD();
        g_pEncodedDataFile = nullptr;
        file.Close();
        return dcttest::ReadAll(path);
    }

    dcttest::TempDir m_dir;
    uint8_t m_sampling[4] = {GetParam().sampling, 1, 1, 1};
    uint32_t m_before = 1;
};

TEST_P(DctStored, WritesTheFileOfBands)
{
    const StoredCase& c = GetParam();
    const dcttest::Image image = dcttest::PhotoImage(c.width, c.height, 3, c.width);
    CDCTFilter reference;
    const dcttest::Encoded expected = dcttest::EncodeToFile(reference, Info(image), image, m_dir.File("bands.jpg"));
    ASSERT_EQ(expected.end, 0u);
    const ImageRows rows(image, c.height);
    uint32_t coded = 0, ended = 0;
    const std::vector<uint8_t> bytes = EncodeStored(image, rows, c.threads, &coded, &ended);
    EXPECT_EQ(coded, 0u);
    EXPECT_EQ(ended, 0u);
    EXPECT_TRUE(bytes == expected.bytes);
    EXPECT_FALSE(rows.Failed());
}

TEST_P(DctStored, ARowTheFileDoesNotGiveFailsTheImage)
{
    const StoredCase& c = GetParam();
    const dcttest::Image image = dcttest::PhotoImage(c.width, c.height, 3);
    const ImageRows rows(image, c.height - 1);
    uint32_t coded = 0, ended = 0;
    EncodeStored(image, rows, c.threads, &coded, &ended);
    EXPECT_EQ(coded, CDCTFilter::kFailure);
    EXPECT_EQ(ended, CDCTFilter::kFailure);
    EXPECT_TRUE(rows.Failed());
}

// Widths cut the last MCU of a row; heights the last MCU row; the tall
// ones take several items and bands.
INSTANTIATE_TEST_SUITE_P(Layouts, DctStored,
                         ::testing::Values(StoredCase{13, 9, 1, 1, 2}, StoredCase{1001, 333, 1, 1, 2},
                                           StoredCase{1001, 333, 2, 1, 3}, StoredCase{517, 701, 2, 0, 8},
                                           StoredCase{2050, 130, 1, 0, 2}, StoredCase{4, 2000, 1, 1, 2}));

}  // namespace

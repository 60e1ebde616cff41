// Round trips of the DCT encoder through libjpeg: grey, RGB and CMYK images
// in both MCU layouts at the qualities a host uses decode without warnings
// and come back within the stated PSNR; djpeg reads them without a word.
#include <gtest/gtest.h>

#include "dct_support.h"

using namespace dcttest;

namespace {

// Quality (0..100) as the JPEG file codec turns it into a scale.
double ScaleOf(int quality) { return 1.0 - quality / 100.0; }

struct RoundTrip {
    uint32_t components;
    uint32_t transform;
    bool large;      // 16 x 16 MCU
    bool inverted;   // libjpeg hands back 255 - sample
    J_COLOR_SPACE storedAs = JCS_UNKNOWN;
};

// Lowest PSNR (dB) per component on the photo-like test image (which
// carries +-5 levels of noise), by quality. Measured values lie 0.7 to 1.5 dB
// above these. Components rebuilt from chroma averaged over 2 x 2 samples
// (R, G, B of the 16 x 16 layout with transform; components 1 and 2 of the
// 16 x 16 layout without) get the lower row.
double Threshold(int quality, const RoundTrip& k, uint32_t component)
{
    bool averaged = k.large && k.components >= 3 && (k.transform ? component < 3 : (component == 1 || component == 2));
    switch (quality) {
    case 0: return averaged ? 27.5 : 30.0;
    case 50: return averaged ? 30.0 : 32.5;
    case 100: return averaged ? 34.5 : 45.0;
    default: return averaged ? 31.5 : 34.0;  // 70, 75, 76
    }
}

void Check(const RoundTrip& k, uint32_t width, uint32_t height)
{
    TempDir dir;
    Image img = PhotoImage(width, height, k.components, k.components * 10 + k.transform);
    const uint8_t sampling[4] = {2, 1, 1, 2};
    for (int quality : {0, 50, 70, 75, 76, 100}) {
        SCOPED_TRACE("components " + std::to_string(k.components) + " transform " + std::to_string(k.transform) +
                     (k.large ? " 16x16" : " 8x8") + " quality " + std::to_string(quality));
        CDCTFilter filter;
        DCTINFO info = Params(ScaleOf(quality), k.transform);
        if (k.large) info.pHSampling = sampling;
        Encoded e = EncodeToFile(filter, info, img, dir.File("rt.jpg"));
        ASSERT_EQ(e.end, 0u);
        EXPECT_EQ(filter.GetMcuWidth(), k.large && k.components >= 2 ? 16u : 8u);
        Decoded d = DecodeJpeg(e.bytes, k.storedAs);
        ASSERT_TRUE(d.ok) << d.message;
        EXPECT_EQ(d.warnings, 0) << d.message;
        ASSERT_EQ(d.width, width);
        ASSERT_EQ(d.height, height);
        ASSERT_EQ(d.components, k.components);
        for (uint32_t c = 0; c < k.components; ++c) {
            double psnr = Psnr(img, d, c, k.inverted);
            EXPECT_GE(psnr, Threshold(quality, k, c)) << "component " << c;
        }
    }
}

}  // namespace

TEST(DctRoundTrip, Grey)
{
    Check({1, 0, false, false}, 203, 157);
    Check({1, 1, true, false}, 64, 40);  // transform and sampling have no effect on one component
}

TEST(DctRoundTrip, RgbWithTransform)
{
    Check({3, 1, false, false}, 203, 157);
    Check({3, 1, true, false}, 203, 157);
}

TEST(DctRoundTrip, RgbWithoutTransform)
{
    // The file carries both a JFIF segment and an Adobe segment with
    // transform 0. libjpeg lets the JFIF segment win and would convert the
    // components from YCbCr; told that they are stored as R, G, B, it
    // returns them unchanged.
    Check({3, 0, false, false, JCS_RGB}, 97, 61);
    Check({3, 0, true, false, JCS_RGB}, 97, 61);
}

// Four components. With transform the file is Adobe YCCK (transform byte 2)
// and the encoder stores the K plane inverted; libjpeg's YCCK to CMYK
// conversion then delivers every channel as 255 - sample, the inverted CMYK
// of Adobe applications. Without transform there is no Adobe segment and
// libjpeg returns the components as stored: unchanged in the 8 x 8 layout,
// inverted (the 16 x 16 routine stores 127 - v) in the 16 x 16 layout.
TEST(DctRoundTrip, CmykWithTransformComesBackInverted)
{
    Check({4, 1, false, true}, 99, 45);
    Check({4, 1, true, true}, 99, 45);
}

TEST(DctRoundTrip, CmykWithoutTransform)
{
    Check({4, 0, false, false}, 99, 45);
    Check({4, 0, true, true}, 99, 45);
}

TEST(DctRoundTrip, ColourSpacesAsLibjpegSeesThem)
{
    TempDir dir;
    struct Case {
        uint32_t components, transform;
        J_COLOR_SPACE space;
        int adobe;
    } cases[] = {{1, 0, JCS_GRAYSCALE, -1}, {3, 1, JCS_YCbCr, -1}, {3, 0, JCS_YCbCr, 0}, {4, 1, JCS_YCCK, 2},
                 {4, 0, JCS_CMYK, -1}};
    for (const Case& k : cases) {
        CDCTFilter filter;
        Encoded e = EncodeToFile(filter, Params(0.3, k.transform), PhotoImage(16, 16, k.components), dir.File("cs.jpg"));
        Decoded d = DecodeJpeg(e.bytes);
        ASSERT_TRUE(d.ok) << d.message;
        EXPECT_EQ(d.colorSpace, k.space) << k.components << " " << k.transform;
        EXPECT_EQ(d.adobeTransform, k.adobe) << k.components << " " << k.transform;
    }
}

TEST(DctRoundTrip, PhotoAtQuality70)
{
    // A photo-sized strip: many buffer flushes, long runs of bands.
    TempDir dir;
    Image img = PhotoImage(1600, 360, 3, 5);
    CDCTFilter filter;
    Encoded e = EncodeToFile(filter, Params(0.3, 1), img, dir.File("photo.jpg"));
    ASSERT_EQ(e.end, 0u);
    EXPECT_GT(e.bytes.size(), 3 * CCodecFilter::kOutBufferSize);
    Decoded d = DecodeJpeg(e.bytes);
    ASSERT_TRUE(d.ok) << d.message;
    EXPECT_EQ(d.warnings, 0) << d.message;
    for (uint32_t c = 0; c < 3; ++c) EXPECT_GE(Psnr(img, d, c), 32.0) << c;
    // Every 0xFF in the scan is stuffed: the only marker after SOS is EOI.
    size_t scan = 0;
    ASSERT_FALSE(HeaderSegments(e.bytes, &scan).empty());
    for (size_t i = scan; i + 1 < e.bytes.size() - 2; ++i) {
        if (e.bytes[i] == 0xFF) {
            ASSERT_EQ(e.bytes[i + 1], 0x00) << i;
        }
    }
}

TEST(DctRoundTrip, DjpegReadsWithoutWarnings)
{
    if (access("/usr/bin/djpeg", X_OK) != 0) GTEST_SKIP() << "/usr/bin/djpeg is not installed";
    TempDir dir;
    struct Case {
        uint32_t components, transform;
        bool large;
    } cases[] = {{1, 0, false}, {3, 1, false}, {3, 1, true}, {3, 0, false}, {4, 1, true}, {4, 0, false}};
    const uint8_t sampling[4] = {2, 1, 1, 2};
    int n = 0;
    for (const Case& k : cases) {
        for (int quality : {0, 70, 100}) {
            CDCTFilter filter;
            DCTINFO info = Params(ScaleOf(quality), k.transform);
            if (k.large) info.pHSampling = sampling;
            std::string path = dir.File("d" + std::to_string(n++) + ".jpg");
            Encoded e = EncodeToFile(filter, info, PhotoImage(77, 53, k.components), path);
            ASSERT_EQ(e.end, 0u);
            std::string err = path + ".err";
            int status = std::system(("/usr/bin/djpeg -outfile /dev/null '" + path + "' 2>'" + err + "'").c_str());
            EXPECT_EQ(status, 0) << path;
            EXPECT_TRUE(ReadAll(err).empty()) << std::string(ReadAll(err).begin(), ReadAll(err).end());
        }
    }
}

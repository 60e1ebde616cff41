// Tests of the codec base class, the support services, previews sizing,
// the factory, the plain exports and the message table.
#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TestUtil.h"

#include "platform/Win32.h"
#include "rastik/rastik.h"

namespace {

class CoreTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        SetPlaneHeapCap(0);
        SetLargeBufferCap(0);
    }
    std::string Path(const std::string& name) const { return dir + "/" + name; }
    void WriteBytes(const std::string& name, const std::vector<uint8_t>& bytes) const
    {
        std::ofstream out(Path(name), std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    std::vector<uint8_t> ReadBytes(const std::string& name) const
    {
        std::ifstream in(Path(name), std::ios::binary);
        return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
    }
    testutil::TempDir tmp;
    std::string dir = tmp.Path();
};

TEST(CoreModel, DefaultsAndModes)
{
    CRastik r;
    EXPECT_EQ(r.MaxPrevSize, 96);
    EXPECT_EQ(r.JpegQuality, 70u);
    EXPECT_EQ(r.TransparentIndex, -1);
    EXPECT_FLOAT_EQ(r.XResolution, 72.0f);
    EXPECT_EQ(r.WithQorHeader, 1);
    EXPECT_NE(r.TempFileObject, nullptr);
    EXPECT_EQ(r.ReadImageHead(), 0);  // the base protocol does nothing
    EXPECT_EQ(r.WriteFile(), 0);

    r.SetMaxPrevSize(0);
    EXPECT_EQ(r.MaxPrevSize, 96);
    r.SetMaxPrevSize(40);
    EXPECT_EQ(r.MaxPrevSize, 40);

    r.SetMode(3u);
    EXPECT_EQ(r.ChannelCount, 1u);
    EXPECT_EQ(r.PaletteSize, 256u);
    r.SetMode(7u);
    EXPECT_EQ(r.ColorMode, 7u);
    EXPECT_EQ(r.ChannelCount, 1u);
    EXPECT_EQ(r.PaletteSize, 256u);  // only the mode changed
    r.SetMode(5u);
    EXPECT_EQ(r.ChannelCount, 4u);
    EXPECT_EQ(r.ColorChannels, 4u);
    EXPECT_EQ(r.PaletteSize, 0u);
    EXPECT_EQ(r.Palette, nullptr);
    EXPECT_EQ(r.SetWarningMsg(1), 1);
    EXPECT_EQ(r.ShowMessages, 1);
}

TEST(CoreModel, SetSizeAndSetModeCopyFromASource)
{
    CRastik src;
    src.Width = 10;
    src.Height = 20;
    src.XResolution = 300;
    src.ResolutionUnit = 1;
    src.BytesPerLine = 12;
    src.JpegQuality = 90;
    src.SetMode(6u);
    uint8_t pal[8] = {1, 2, 3, 0, 4, 5, 6, 0};
    src.SetPalette(pal, 2);
    src.PaletteSize = 2;
    CRastik dst;
    dst.SetSize(&src);
    dst.SetMode(&src);
    EXPECT_EQ(dst.Width, 10u);
    EXPECT_EQ(dst.BytesPerLine, 12u);
    EXPECT_FLOAT_EQ(dst.XResolution, 300.0f);
    EXPECT_EQ(dst.JpegQuality, 90u);
    EXPECT_EQ(dst.ColorMode, 6u);
    ASSERT_NE(dst.Palette, nullptr);
    EXPECT_NE(dst.Palette, src.Palette);
    EXPECT_EQ(memcmp(dst.Palette, pal, 8), 0);
}

TEST(CoreModel, ChannelSpaceOnHeapAndSpilled)
{
    for (uint64_t cap : {uint64_t{0}, uint64_t{1}}) {
        SetPlaneHeapCap(cap);
        uint64_t before = GetPlaneHeapInUse();
        {
            CRastik r;
            r.Width = 5;
            r.Height = 3;
            r.SetMode(5u);
            r.BytesPerLine = BytesPerRow(r.Width * 8);
            EXPECT_EQ(r.BytesPerLine, 8u);
            ASSERT_EQ(r.AllocChannelSpace(), 1);
            for (int i = 0; i < 4; ++i) EXPECT_EQ(r.ChannelKind[i], cap ? kChannelTemp : kChannelHeap);
            EXPECT_EQ(r.ChannelKind[4], kChannelNone);
            if (cap) {
                EXPECT_EQ(r.ChannelOffset[1], 24);  // planes follow one another in the file
                EXPECT_EQ(GetPlaneHeapInUse(), before);
            } else {
                EXPECT_EQ(GetPlaneHeapInUse(), before + 4 * 24);
            }
            for (uint32_t c = 0; c < 4; ++c)
                for (uint32_t y = 0; y < 3; ++y) {
                    uint8_t row[8];
                    memset(row, static_cast<int>(c * 16 + y), sizeof row);
                    ASSERT_EQ(r.WritePlaneRow(c, y, row), 1);
                }
            uint8_t rows[16];
            ASSERT_EQ(r.ReadPlaneRows(2, 1, 2, rows), 1);
            EXPECT_EQ(rows[0], 33);
            EXPECT_EQ(rows[15], 34);
            EXPECT_EQ(r.ReadPlaneRows(2, 2, 2, rows), 0);  // past the last row
        }
        EXPECT_EQ(GetPlaneHeapInUse(), before);
    }
    SetPlaneHeapCap(0);
}

TEST(CoreModel, ChannelSpaceRefusesEmptyAndOversizedImages)
{
    CRastik r;
    r.SetMode(4u);
    r.Width = 0;
    r.Height = 10;
    r.BytesPerLine = 4;
    EXPECT_EQ(r.AllocChannelSpace(), 0);
    r.Width = 70000;
    r.Height = 70000;
    r.BytesPerLine = BytesPerRow(r.Width * 8);
    EXPECT_EQ(r.PlaneBytes(), 0u);  // beyond 32 bits
    EXPECT_EQ(r.PlaneBytes64(), 70000ull * 70000ull);
    // Planes of any size may spill; they are refused when they fit neither
    // under the heap cap nor in a temporary file.
    SetPlaneHeapCap(1);
    setenv("TMPDIR", "/nonexistent/dir", 1);
    EXPECT_EQ(r.AllocChannelSpace(), 0);
    unsetenv("TMPDIR");
    SetPlaneHeapCap(0);
    r.Width = 10;
    r.Height = 2;
    r.BytesPerLine = 4;  // shorter than a row
    EXPECT_EQ(r.AllocChannelSpace(), 0);
}

TEST_F(CoreTest, BigEndianFieldsAndBitCodes)
{
    CRastik r;
    ASSERT_TRUE(r.File.Open(Path("be").c_str(), CFile::modeCreate | CFile::modeReadWrite | CFile::typeBinary));
    EXPECT_EQ(r.Write2ByteInt(258), 1);
    EXPECT_EQ(r.Write4ByteInt(0x01020304u), 1);
    r.File.SeekToBegin();
    uint16_t s = 0;
    uint32_t l = 0;
    EXPECT_EQ(r.Read2ByteInt(s), 1);
    EXPECT_EQ(r.Read4ByteInt(l), 1);
    EXPECT_EQ(s, 258);
    EXPECT_EQ(l, 0x01020304u);
    EXPECT_EQ(r.Read2ByteInt(s), 0);  // end of file
    r.File.Close();
    EXPECT_EQ(ReadBytes("be"), (std::vector<uint8_t>{1, 2, 1, 2, 3, 4}));

    const uint8_t data[] = {0xA0, 0xFF, 0x01, 0x00};
    int pos = 5;
    EXPECT_EQ(r.ReadCode(data, &pos, 9, 511), 509);
    EXPECT_EQ(pos, 14);
    pos = 0;
    EXPECT_EQ(r.ReadCode(data, &pos, 4, 15), 0);
    EXPECT_EQ(r.ReadCode(data, &pos, 4, 15), 0xA);
}

TEST(CoreModel, PathList)
{
    CRastik r;
    EXPECT_EQ(r.AllocPathSpace(0), 0);
    ASSERT_EQ(r.AllocPathSpace(1), 1);
    EXPECT_EQ(r.AddPath(nullptr), 0);
    auto* a = static_cast<uint32_t*>(malloc(8));
    auto* b = static_cast<uint32_t*>(malloc(8));
    EXPECT_EQ(r.AddPath(a), 1);
    EXPECT_EQ(r.AddPath(b), 0);
    EXPECT_EQ(r.PathCount, 1);
    EXPECT_EQ(r.Paths[0], a);
    free(b);
}

TEST(CorePreview, SizesFollowThirtyTwoBitFloats)
{
    struct Case { uint32_t w, h; uint16_t pw, ph; };
    const Case cases[] = {{1000, 500, 95, 47}, {960, 480, 96, 48}, {50, 40, 50, 40},
                          {10000, 10, 96, 1}, {96, 96, 96, 96}, {97, 10, 96, 9}};
    for (const Case& c : cases) {
        CRastik r;
        r.Width = c.w;
        r.Height = c.h;
        r.GetPrevDataSize();
        EXPECT_EQ(r.PrevWidth, c.pw) << c.w << "x" << c.h;
        EXPECT_EQ(r.PrevHeight, c.ph) << c.w << "x" << c.h;
    }
}

TEST(CorePreview, ReducedRowsSampleColumnsAndBuildBottomUpRows)
{
    CRastik r;
    r.Width = 10;
    r.Height = 2;
    r.SetMode(3u);
    r.PrevWidth = 5;
    r.PrevHeight = 2;
    std::vector<uint8_t> plane(BytesPerRow(5 * 8) * 2, 0xEE);
    uint8_t* planes[1] = {plane.data()};
    uint8_t row0[10], row1[10];
    for (int i = 0; i < 10; ++i) {
        row0[i] = static_cast<uint8_t>(i);
        row1[i] = static_cast<uint8_t>(100 + i);
    }
    r.AddToReduceData(0, row0, planes);
    r.AddToReduceData(1, row1, planes);
    EXPECT_EQ(std::vector<uint8_t>(plane.begin(), plane.begin() + 5), (std::vector<uint8_t>{0, 2, 4, 6, 8}));
    EXPECT_EQ(plane[8], 100);

    // A preview five pixels wide has rows of 16 bytes, bottom row first.
    std::vector<uint8_t> preview(2 * 16, 0);
    r.ReducedDataForPrev(planes, preview.data());
    EXPECT_EQ(preview[0], 100);
    EXPECT_EQ(preview[2], 100);
    EXPECT_EQ(preview[16 + 3], 2);

    // Packed 1-bit and 4-bit rows are unpacked on the way.
    r.BitsPerChannel = 1;
    uint8_t bits[2] = {0xA0, 0x00};
    r.AddToReduceData(0, bits, planes);
    EXPECT_EQ(std::vector<uint8_t>(plane.begin(), plane.begin() + 5), (std::vector<uint8_t>{1, 1, 0, 0, 0}));
    r.BitsPerChannel = 4;
    uint8_t nibbles[5] = {0x12, 0x34, 0x56, 0x78, 0x9A};
    r.AddToReduceData(0, nibbles, planes);
    EXPECT_EQ(std::vector<uint8_t>(plane.begin(), plane.begin() + 5), (std::vector<uint8_t>{1, 3, 5, 7, 9}));
}

TEST(CoreSupport, GeometryAndBuffers)
{
    EXPECT_EQ(BytesPerRow(8), 4u);
    EXPECT_EQ(BytesPerRow(33), 8u);
    EXPECT_EQ(BytesPerRow(40), 8u);
    EXPECT_EQ(GetRowAlignment(), 4u);

    void* p = AllocBuffer(10, 0, 0);
    ASSERT_NE(p, nullptr);
    FreeBuffer(&p);
    EXPECT_EQ(p, nullptr);

    SetLargeBufferCap(1000);
    uint32_t granted = 0;
    void* big = AllocLargeBuffer(100000, 300, &granted, 0);
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(granted, 900u);  // whole units within the cap
    FreeBuffer(&big);
    big = AllocLargeBuffer(100000, 5000, &granted, 0);
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(granted, 5000u);  // at least one unit
    FreeBuffer(&big);
    big = AllocLargeBuffer(600, 300, &granted, 0);
    EXPECT_EQ(granted, 600u);  // never more than asked
    FreeBuffer(&big);
    SetLargeBufferCap(0);
    EXPECT_EQ(AllocLargeBuffer(10, 0, &granted, 0), nullptr);
}

TEST(CoreSupport, ColourConversionsRoundTrip)
{
    std::vector<uint8_t> r, g, b;
    for (int i = 0; i < 256; i += 5)
        for (int j = 0; j < 256; j += 17)
            for (int k = 0; k < 256; k += 51) {
                r.push_back(static_cast<uint8_t>(i));
                g.push_back(static_cast<uint8_t>(j));
                b.push_back(static_cast<uint8_t>(k));
            }
    uint32_t n = static_cast<uint32_t>(r.size());
    std::vector<uint8_t> c(n), m(n), y(n), k(n), r2(n), g2(n), b2(n);
    RgbToCmyk(r.data(), g.data(), b.data(), c.data(), m.data(), y.data(), k.data(), n, n, n, 1);
    CmykToRgb(c.data(), m.data(), y.data(), k.data(), r2.data(), g2.data(), b2.data(), n, n, n, 1, 0);
    for (uint32_t i = 0; i < n; ++i) {
        ASSERT_LE(std::abs(r[i] - r2[i]), 1) << i;
        ASSERT_LE(std::abs(g[i] - g2[i]), 1) << i;
        ASSERT_LE(std::abs(b[i] - b2[i]), 1) << i;
        uint8_t src[4] = {c[i], m[i], y[i], k[i]};
        uint8_t dst[3];
        ConvertPixelParams params{src, dst, {1, 1, 1, 1}};
        uint32_t scratch;
        ConvertPixel(3, &params, &scratch);
        ASSERT_EQ(dst[0], r2[i]);
        ASSERT_EQ(dst[2], b2[i]);
    }
    uint8_t white[3] = {255, 255, 255}, cmyk[4];
    RgbToCmyk(white, white + 1, white + 2, cmyk, cmyk + 1, cmyk + 2, cmyk + 3, 1, 1, 1, 1);
    EXPECT_EQ(cmyk[3], 0);
    uint8_t black[3] = {0, 0, 0};
    RgbToCmyk(black, black + 1, black + 2, cmyk, cmyk + 1, cmyk + 2, cmyk + 3, 1, 1, 1, 1);
    EXPECT_EQ(cmyk[3], 255);
    EXPECT_EQ(cmyk[0], 0);
}

TEST_F(CoreTest, DetectFileTypeBySignatureThenExtension)
{
    WriteBytes("a.dat", {'B', 'M', 0, 0});
    WriteBytes("b.dat", {'G', 'I', 'F', '8', '9', 'a'});
    WriteBytes("c.dat", {0xFF, 0xD8, 0xFF, 0xE0});
    WriteBytes("d.dat", {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A});
    WriteBytes("e.dat", {'I', 'I', 42, 0});
    WriteBytes("f.dat", {'M', 'M', 0, 42});
    WriteBytes("g.dat", {'D', 'a', 'n', 'M', 104, 0, 10, 0});
    WriteBytes("h.dat", {0x04, 0xC0, 0, 0, 8, 0, 8, 0});
    std::vector<uint8_t> pict(600, 0);
    pict[522] = 0x00;
    pict[523] = 0x11;
    pict[524] = 0x02;
    pict[525] = 0xFF;
    WriteBytes("i.dat", pict);
    WriteBytes("j.dat", {'x', 'y', 'z'});
    WriteBytes("k.jpg", {'x', 'y', 'z'});
    EXPECT_EQ(DetectFileType(Path("a.dat").c_str()), 1);
    EXPECT_EQ(DetectFileType(Path("b.dat").c_str()), 3);
    EXPECT_EQ(DetectFileType(Path("c.dat").c_str()), 4);
    EXPECT_EQ(DetectFileType(Path("d.dat").c_str()), 14);
    EXPECT_EQ(DetectFileType(Path("e.dat").c_str()), 12);
    EXPECT_EQ(DetectFileType(Path("f.dat").c_str()), 12);
    EXPECT_EQ(DetectFileType(Path("g.dat").c_str()), 7);
    EXPECT_EQ(DetectFileType(Path("h.dat").c_str()), 7);
    EXPECT_EQ(DetectFileType(Path("i.dat").c_str()), 7);
    EXPECT_EQ(DetectFileType(Path("j.dat").c_str()), 0);
    EXPECT_EQ(DetectFileType(Path("k.jpg").c_str()), 4);  // unrecognised content: by extension
    EXPECT_EQ(DetectFileType(Path("new.BMP").c_str()), 1);
    EXPECT_EQ(DetectFileType(Path("new.tiff").c_str()), 12);
    EXPECT_EQ(DetectFileType(Path("new.jpeg").c_str()), 4);
    EXPECT_EQ(DetectFileType(Path("new.pict").c_str()), 7);
    EXPECT_EQ(DetectFileType(Path("new.png").c_str()), 14);
    EXPECT_EQ(DetectFileType(Path("new.gif").c_str()), 3);
    EXPECT_EQ(DetectFileType(Path("new.txt").c_str()), 0);
    EXPECT_EQ(DetectFileType(""), 0);
}

TEST_F(CoreTest, TempFileIsMadeOnFirstUseAndRemoved)
{
    setenv("TMPDIR", dir.c_str(), 1);
    std::string name;
    {
        CGTempFile t;
        EXPECT_TRUE(t.FileName.empty());
        EXPECT_EQ(t.GetFreeOffset(100), 0);
        EXPECT_EQ(t.GetFreeOffset(50), 100);
        name = t.FileName;
        EXPECT_EQ(name.rfind(dir + "/", 0), 0u);
        EXPECT_TRUE(FileExists(name.c_str()));
        EXPECT_LT(t.GetFreeOffset(0x7FFFFFFFu), 0);  // past 2 GiB
        EXPECT_EQ(t.GetFreeOffset(10), 150);
    }
    EXPECT_FALSE(FileExists(name.c_str()));
    unsetenv("TMPDIR");
}

TEST(CoreExports, FactoryAndPlainFunctions)
{
    for (unsigned code : {0u, 2u, 11u, 99u}) EXPECT_EQ(NewRastikInstance(code, "x"), nullptr) << code;
    CRastik* bmp = NewRastikInstance(1, "x.bmp");
    ASSERT_NE(bmp, nullptr);
    EXPECT_NE(dynamic_cast<CBmpIO*>(bmp), nullptr);
    EXPECT_STREQ(bmp->Path, "x.bmp");
    delete bmp;

    void* first = SetRastikResourceHandle();
    void* second = SetRastikResourceHandle();
    EXPECT_NE(second, nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(SetRastikResourceHandle(), second);

    PostKeyDown('A');
    EXPECT_EQ(GetEscapeKB(), 0);
    int key;
    EXPECT_FALSE(TakeKeyDown(&key));  // the key was consumed
    PostKeyDown(VK_ESCAPE);
    EXPECT_EQ(GetEscapeKB(), 1);
    EXPECT_EQ(GetEscapeKB(), 0);
}

TEST(CoreExports, ReverseSwapBytes)
{
    uint8_t four[4] = {1, 2, 3, 4};
    ReverseSwapBytes(four, 4);
    EXPECT_EQ(std::vector<uint8_t>(four, four + 4), (std::vector<uint8_t>{4, 3, 2, 1}));
    ReverseSwapBytes(four, 2);
    EXPECT_EQ(std::vector<uint8_t>(four, four + 4), (std::vector<uint8_t>{3, 4, 2, 1}));
    ReverseSwapBytes(four, 7);
    EXPECT_EQ(std::vector<uint8_t>(four, four + 4), (std::vector<uint8_t>{3, 4, 2, 1}));

    // Directory entry in host order: tag 0x0100, type 3 (SHORT), count 1, value bytes AA BB CC DD.
    uint8_t entry[12] = {0x00, 0x01, 3, 0, 1, 0, 0, 0, 0xAA, 0xBB, 0xCC, 0xDD};
    ReverseSwapBytes(entry, 12);
    EXPECT_EQ(std::vector<uint8_t>(entry, entry + 12),
              (std::vector<uint8_t>{0x01, 0x00, 0, 3, 0, 0, 0, 1, 0xBB, 0xAA, 0xCC, 0xDD}));
    uint8_t longEntry[12] = {0x00, 0x01, 4, 0, 1, 0, 0, 0, 0xAA, 0xBB, 0xCC, 0xDD};
    ReverseSwapBytes(longEntry, 12);
    EXPECT_EQ(std::vector<uint8_t>(longEntry + 8, longEntry + 12), (std::vector<uint8_t>{0xDD, 0xCC, 0xBB, 0xAA}));
}

TEST_F(CoreTest, EncodedDataStream)
{
    EXPECT_EQ(WriteEncodedData(0, "abc", 3), 3);
    char buf[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(ReadEncodedData(0, buf, 4), 4);
    EXPECT_EQ(buf[0], 'x');

    CFile f;
    ASSERT_TRUE(f.Open(Path("enc").c_str(), CFile::modeCreate | CFile::modeReadWrite | CFile::typeBinary));
    f.Write("H", 1);
    g_pEncodedDataFile = &f;
    EXPECT_EQ(WriteEncodedData(1, "abc", 3), 3);
    f.Write("Z", 1);
    f.SeekToBegin();
    EXPECT_EQ(ReadEncodedData(1, buf, 4), 4);
    EXPECT_EQ(std::string(buf, 4), std::string("Habc"));
    g_pEncodedDataFile = nullptr;
    f.Close();
    EXPECT_EQ(ReadBytes("enc"), (std::vector<uint8_t>{'H', 'a', 'b', 'c', 'Z'}));
}

TEST(CoreMessages, TableHoldsTheTexts)
{
    EXPECT_STREQ(GetRastikMessageText(27601), "文件头数据有错或本系统暂时不支持该文件格式，不能读取。");
    EXPECT_STREQ(GetRastikMessageText(27605), "本系统不支持压缩格式的BMP文件！");
    EXPECT_STREQ(GetRastikMessageText(27607), "不能以灰度，CMYK或多个通道方式存BMP文件!");
    EXPECT_STREQ(GetRastikMessageText(27608), "分辨率类型不对，不能以其方式存文件!");
    EXPECT_STREQ(GetRastikMessageText(27609), "分配缓冲区失败!");
    EXPECT_STREQ(GetRastikMessageText(27610), "文件数据格式不对，不能打开该文件！");
    EXPECT_STREQ(GetRastikMessageText(27614), "不能创建此文件!");
    EXPECT_STREQ(GetRastikMessageText(27615), "图象类型不符合，不能保存该文件！");
    EXPECT_STREQ(GetRastikMessageText(27707), "目前只支持位数为8的图象");
    EXPECT_STREQ(GetRastikMessageText(27708), "磁盘空间已满,无法保存!");
    EXPECT_STREQ(GetRastikMessageText(27709), "不支持这种文件格式！");
    EXPECT_EQ(GetRastikMessageText(12345), nullptr);

    int seen = 0;
    SetMessageSink([](int id, const char*, void* user) { *static_cast<int*>(user) = id; }, &seen);
    ShowRastikMessage(27708);
    SetMessageSink(nullptr, nullptr);
    EXPECT_EQ(seen, 27708);
}

}  // namespace

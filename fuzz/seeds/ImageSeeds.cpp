// fuzz_image_seeds OUTDIR: writes the seed inputs of the image-reader fuzz
// targets into OUTDIR/<target>/, made by the library's own writers: small
// images of every mode each writer has (the JPEGs also for the DCT
// decoder), JPEGs carrying thumbnail resources of both kinds; and TIFF files
// (beyond what the writer makes), bitmaps of the encodings the writer does
// not make, and pictures built byte by byte.
#include <cstdio>
#include <string>
#include <vector>

#include "BmpSeeds.h"
#include "PictSeeds.h"
#include "SeedFiles.h"
#include "TiffSeeds.h"
#include "host/CFuzzScratch.h"
#include "host/SampleImages.h"
#include "rastik/rastik.h"

namespace {

using Bytes = SeedBytes;

std::string g_out;

void Save(const std::string& target, const std::string& name, const Bytes& bytes)
{
    SaveSeed(g_out, target, name, bytes);
}

// An image by the writer of the type, as bytes; empty when the writer refuses.
Bytes Image(unsigned type, uint32_t mode, uint32_t width, uint32_t height)
{
    std::string path = CFuzzScratch::Get().Path("seed.img");
    Bytes bytes = WriteSampleImage(type, mode, width, height, path) ? FuzzReadFile(path) : Bytes();
    remove(path.c_str());
    return bytes;
}

void PutBE16(Bytes& b, uint32_t v)
{
    b.push_back(static_cast<uint8_t>(v >> 8));
    b.push_back(static_cast<uint8_t>(v));
}

void PutBE32(Bytes& b, uint32_t v)
{
    PutBE16(b, v >> 16);
    PutBE16(b, v & 0xFFFF);
}

// A resource block: a filler resource (id 1005, three bytes and a pad) and
// a thumbnail of the given kind (1036, or the older 1033).
Bytes ResourceBlock(uint32_t width, uint32_t height, uint16_t kind)
{
    Bytes block = {'8', 'B', 'I', 'M'};
    PutBE16(block, 1005);
    block.insert(block.end(), {0, 0});
    PutBE32(block, 3);
    block.insert(block.end(), {1, 2, 3, 0});
    Bytes thumb = MakeThumbnailResource(width, height, CFuzzScratch::Get().Path("thumb.res"));
    if (thumb.size() < 6) return {};
    thumb[4] = static_cast<uint8_t>(kind >> 8);
    thumb[5] = static_cast<uint8_t>(kind);
    block.insert(block.end(), thumb.begin(), thumb.end());
    return block;
}

// A JPEG with the resource block in an APP13 segment after its start marker.
Bytes WithResources(const Bytes& jpeg, const Bytes& block)
{
    if (jpeg.size() < 2) return {};
    static const char kId[] = "Photoshop 3.0";
    Bytes out(jpeg.begin(), jpeg.begin() + 2);
    out.insert(out.end(), {0xFF, 0xED});
    PutBE16(out, static_cast<uint32_t>(2 + sizeof kId + block.size()));
    out.insert(out.end(), kId, kId + sizeof kId);
    out.insert(out.end(), block.begin(), block.end());
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}

void ImageSeeds()
{
    struct Sample {
        unsigned type;
        uint32_t mode;
        uint32_t width, height;
        const char* name;
    };
    const Sample samples[] = {
        {kTypeBmp, kModeBitmap, 13, 5, "bitmap-13x5.bmp"},  {kTypeBmp, kModeGrey, 9, 7, "grey-9x7.bmp"},
        {kTypeBmp, kModeIndexed, 17, 3, "indexed-17x3.bmp"}, {kTypeBmp, kModeRgb, 7, 6, "rgb-7x6.bmp"},
        {kTypeBmp, kModeRgb, 1, 1, "rgb-1x1.bmp"},          {kTypeJpeg, kModeGrey, 8, 8, "grey-8x8.jpg"},
        {kTypeJpeg, kModeRgb, 17, 9, "rgb-17x9.jpg"},       {kTypeJpeg, kModeCmyk, 16, 16, "cmyk-16x16.jpg"},
        {kTypeJpeg, kModeRgb, 1, 1, "rgb-1x1.jpg"},         {kTypeGif, kModeIndexed, 11, 6, "indexed-11x6.gif"},
        {kTypeGif, kModeBitmap, 17, 4, "bitmap-17x4.gif"},  {kTypeGif, kModeIndexed, 70, 3, "indexed-70x3.gif"},
        {kTypePng, kModeGrey, 9, 5, "grey-9x5.png"},        {kTypePng, kModeRgb, 6, 7, "rgb-6x7.png"},
        {kTypePng, kModeIndexed, 10, 4, "indexed-10x4.png"}, {kTypeTiff, kModeGrey, 9, 5, "grey-9x5.tif"},
        {kTypeTiff, kModeRgb, 7, 6, "rgb-7x6.tif"},         {kTypeTiff, kModeCmyk, 5, 4, "cmyk-5x4.tif"},
        {kTypeTiff, kModeIndexed, 11, 3, "indexed-11x3.tif"}, {kTypeTiff, kModeBitmap, 19, 4, "bitmap-19x4.tif"},
    };
    for (const Sample& s : samples) {
        Bytes bytes = Image(s.type, s.mode, s.width, s.height);
        if (bytes.empty()) FuzzFault("a writer refused a seed image", s.name);
        const char* target = s.type == kTypeBmp    ? "bmp"
                             : s.type == kTypeGif  ? "gif"
                             : s.type == kTypePng  ? "png"
                             : s.type == kTypeTiff ? "tiff"
                                                   : "jpeg";
        Save(target, s.name, bytes);
        if (s.type == kTypeJpeg) Save("dct", s.name, bytes);
        Save("imgproc", s.name, bytes);
    }
    for (unsigned type : {kTypeJpeg, kTypePng}) {
        Bytes inner = Image(type, kModeRgb, 9, 5);
        if (inner.empty()) FuzzFault("a writer refused a seed image", "embedded");
        Bytes bmp = EmbeddingBmp(inner, type == kTypeJpeg ? 4 : 5, 9, 5);
        const char* name = type == kTypeJpeg ? "embedded-jpeg.bmp" : "embedded-png.bmp";
        Save("bmp", name, bmp);
        Save("imgproc", name, bmp);
    }
    Bytes frame = Image(kTypeJpeg, kModeRgb, 40, 30);
    for (uint16_t kind : {1036, 1033}) {
        Bytes block = ResourceBlock(20, 15, kind);
        if (block.empty()) FuzzFault("cannot make a thumbnail resource");
        std::string name = "thumb-" + std::to_string(kind);
        Save("jpeg_thumbnail", name + ".8bim", block);
        Save("jpeg", name + ".jpg", WithResources(frame, block));
        Save("imgproc", name + ".jpg", WithResources(frame, block));
    }
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        fprintf(stderr, "usage: fuzz_image_seeds OUTDIR\n");
        return 2;
    }
    g_out = argv[1];
    FuzzQuietMessages();
    ImageSeeds();
    SaveBmpSeeds(g_out);
    SavePictSeeds(g_out);
    SaveTiffSeeds(g_out);
    CFuzzScratch::Get().EndInput();
    return 0;
}

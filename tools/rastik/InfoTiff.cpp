// TIFF fields of `rastik info`: compression, byte order, strip count,
// photometric sense, the number of clip paths, BigTIFF or not, and the pages
// with the size and compression of each.
#include <string>

#include "rastik/InfoFields.h"
#include "rastik/ToolSupport.h"

namespace {

std::string CompressionName(int32_t code)
{
    switch (code) {
    case 1: return "none";
    case 2: return "ccitt-mh";
    case 5: return "lzw";
    case 7: return "jpeg";
    case 8: return "deflate";
    case 32773: return "packbits";
    default: return "unsupported-" + std::to_string(code);
    }
}

const char* SenseName(int32_t sense)
{
    switch (sense) {
    case 0: return "white-is-zero";
    case 1: return "black-is-zero";
    default: return "none";
    }
}

// Pages whose sizes are listed: each is found from the first directory on.
constexpr uint32_t kListedPages = 256;

// The page count, and each page's size and compression (of the first
// kListedPages): a JSON array of objects, in text one line of
// "N: W x H compression" per page.
void PageFields(CTiffIO& tiff, std::vector<InfoField>& fields)
{
    uint32_t pages = tiff.GetPageCount();
    fields.push_back({"pageCount", "pages", std::to_string(pages), true});
    std::string json = "[", text;
    for (uint32_t p = 0; p < pages && p < kListedPages; ++p) {
        uint32_t width = 0, height = 0, compression = 0;
        if (!tiff.GetPageSize(p, width, height, compression)) break;
        std::string name = CompressionName(static_cast<int32_t>(compression));
        json += std::string(p ? ", " : "") + "{\"width\": " + std::to_string(width) + ", \"height\": " +
                std::to_string(height) + ", \"compression\": \"" + name + "\"}";
        text += std::string(p ? "\n                 " : "") + std::to_string(p) + ": " + std::to_string(width) +
                " x " + std::to_string(height) + " " + name;
    }
    fields.push_back({"pages", "page sizes", json + "]", true, text});
}

void TiffFields(CRastik& codec, unsigned type, std::vector<InfoField>& fields)
{
    auto* tiff = dynamic_cast<CTiffIO*>(&codec);
    if (type != kTypeTiff || !tiff) return;
    // The clip paths are read from the resource block the header points to.
    int paths = tiff->ReadPath() ? tiff->PathCount : 0;
    fields.push_back({"compression", "compression", CompressionName(tiff->Compression), false});
    fields.push_back({"byteOrder", "byte order", tiff->IntelByteOrder ? "II" : "MM", false});
    fields.push_back({"stripCount", "strips", std::to_string(tiff->StripTotal), true});
    fields.push_back({"photometricSense", "photometric", SenseName(tiff->PhotometricSense), false});
    fields.push_back({"clipPaths", "clip paths", std::to_string(paths), true});
    fields.push_back({"bigTiff", "BigTIFF", tiff->BigTiff ? "yes" : "no", false});
    PageFields(*tiff, fields);
}

const RegisterInfoFields kTiffFields(TiffFields);

}  // namespace

// TIFF fields of `rastik info`: compression, byte order, strip count,
// photometric sense and the number of clip paths.
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
}

const RegisterInfoFields kTiffFields(TiffFields);

}  // namespace

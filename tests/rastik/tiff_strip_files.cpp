// Helpers of the TIFF strip decoder tests (see tiff_strip_files.h).
#include "tiff_strip_files.h"

#include <algorithm>
#include <cstring>

#include <zlib.h>

#include "TestUtil.h"
#include "tiff_util.h"
#include "platform/CFile.h"
#include "rastik/support/PackBits.h"
#include "rastik/tiff/CTiffLzwDecoder.h"
#include "rastik/tiff/CTiffStripBytes.h"

namespace testutil {

namespace {

uint32_t TypeSize(uint16_t type)
{
    switch (type) {
    case 1: case 2: case 6: case 7: return 1;
    case 3: case 8: return 2;
    case 4: case 9: case 11: return 4;
    case 5: case 10: case 12: return 8;
    default: return 0;
    }
}

uint64_t Load(const uint8_t* p, uint32_t size, bool little)
{
    uint64_t v = 0;
    for (uint32_t i = 0; i < size; ++i) v |= uint64_t(p[i]) << (8 * (little ? i : size - 1 - i));
    return v;
}

}  // namespace

double StripFile::Number(uint16_t tag, uint32_t i, double otherwise) const
{
    auto it = fields.find(tag);
    if (it == fields.end() || i >= it->second.count) return otherwise;
    const Field& f = it->second;
    uint32_t size = TypeSize(f.type);
    const uint8_t* p = f.bytes.data() + size_t(i) * size;
    switch (f.type) {
    case 5: case 10: {
        uint32_t den = uint32_t(Load(p + 4, 4, little));
        double num = f.type == 10 ? double(int32_t(Load(p, 4, little))) : double(uint32_t(Load(p, 4, little)));
        return den ? num / den : otherwise;
    }
    case 6: return int8_t(*p);
    case 8: return int16_t(Load(p, 2, little));
    case 9: return int32_t(Load(p, 4, little));
    case 11: {
        uint32_t bits = uint32_t(Load(p, 4, little));
        float v;
        memcpy(&v, &bits, 4);
        return v;
    }
    case 12: {
        uint64_t bits = Load(p, 8, little);
        double v;
        memcpy(&v, &bits, 8);
        return v;
    }
    default: return double(Load(p, size, little));
    }
}

std::vector<uint32_t> StripFile::Items(uint16_t tag) const
{
    std::vector<uint32_t> out;
    auto it = fields.find(tag);
    if (it == fields.end()) return out;
    for (uint32_t i = 0; i < it->second.count; ++i) out.push_back(static_cast<uint32_t>(Number(tag, i)));
    return out;
}

uint32_t StripFile::RowsPerStrip() const
{
    return std::min(Unsigned(278, Height()), Height());
}

bool LoadStripFile(const std::string& path, StripFile* file)
{
    std::vector<uint8_t> b = ReadBytes(path);
    if (b.size() < 8 || b[0] != b[1] || (b[0] != 'I' && b[0] != 'M')) return false;
    bool little = b[0] == 'I';
    file->path = path;
    file->little = little;
    uint64_t at = Load(&b[4], 4, little);
    if (Load(&b[2], 2, little) != 42 || at + 2 > b.size()) return false;
    uint32_t entries = uint32_t(Load(&b[at], 2, little));
    if (at + 2 + 12ull * entries > b.size()) return false;
    for (uint32_t e = 0; e < entries; ++e) {
        const uint8_t* p = &b[at + 2 + 12 * e];
        StripFile::Field f;
        f.type = uint16_t(Load(p + 2, 2, little));
        f.count = uint32_t(Load(p + 4, 4, little));
        uint64_t size = uint64_t(TypeSize(f.type)) * f.count;
        uint64_t from = size <= 4 ? uint64_t(p + 8 - b.data()) : Load(p + 8, 4, little);
        if (from + size > b.size()) continue;
        f.bytes.assign(b.begin() + from, b.begin() + from + size);
        file->fields[uint16_t(Load(p, 2, little))] = f;
    }
    bool tiled = file->Has(324);
    file->offsets = file->Items(tiled ? 324 : 273);
    file->counts = file->Items(tiled ? 325 : 279);
    for (size_t s = 0; s < file->offsets.size() && s < file->counts.size(); ++s) {
        size_t from = std::min<size_t>(file->offsets[s], b.size());
        size_t to = std::min<size_t>(size_t(file->offsets[s]) + file->counts[s], b.size());
        file->strips.emplace_back(b.begin() + from, b.begin() + to);
    }
    return true;
}

std::vector<uint8_t> DecodedStrip(const StripFile& file, size_t s, size_t rowBytes, uint32_t rows)
{
    if (s >= file.strips.size()) return {};
    const std::vector<uint8_t>& stored = file.strips[s];
    std::vector<uint8_t> out(rowBytes * rows);
    switch (file.Unsigned(259, 1)) {
    case 1: out.assign(stored.begin(), stored.begin() + std::min(stored.size(), out.size())); return out;
    case 8:
    case 32946: {
        uLongf length = out.size();
        int status = uncompress(out.data(), &length, stored.data(), stored.size());
        if (status != Z_OK && status != Z_BUF_ERROR) return {};
        out.resize(length);
        return out;
    }
    case 32773: out.resize(rastik::UnpackBits(stored.data(), stored.size(), out.data(), out.size())); return out;
    case 5: {
        CFile f;
        if (!f.Open(file.path.c_str(), CFile::modeRead | CFile::typeBinary)) return {};
        CTiffStripBytes bytes(f, f.GetLength(), false);
        if (!bytes.Reserve(stored.size())) return {};
        bytes.Start(file.offsets[s], file.counts[s]);
        CTiffLzwDecoder lzw(TiffRowShape{static_cast<uint32_t>(rowBytes), 8, 1});
        if (!lzw.Start(bytes)) return {};
        for (uint32_t r = 0; r < rows; ++r) lzw.ReadLZWTiff(out.data() + r * rowBytes, static_cast<uint32_t>(rowBytes));
        return out;
    }
    default: return {};
    }
}

bool DecodeWithConvertBmp(const std::string& path, RgbImage* image)
{
    TempDir dir;
    std::string bmp = dir.File("im.bmp");
    if (RunCommand(std::string(kConvert) + " " + Quote(path) + " " + Quote("bmp:" + bmp) + " 2>/dev/null", nullptr) != 0)
        return false;
    return DecodeWithPil(bmp, image, "BMP");
}

MadeFiles::MadeFiles() : m_dir(std::make_unique<TempDir>()) {}
MadeFiles::~MadeFiles() = default;

std::string MadeFiles::NewPath()
{
    return m_dir->File("made" + std::to_string(m_count++) + ".tif");
}

void MadeFiles::Make(const std::vector<std::string>& sources, const std::string& convertTail,
                     const std::vector<std::string>& codings)
{
    if (!HasTiffTools() || !HasConvert()) return;
    for (const std::string& source : sources) {
        std::string plain = NewPath();
        if (RunCommand(std::string(kConvert) + " " + source + " " + convertTail + " -compress none " + Quote(plain),
                       nullptr) != 0)
            continue;
        plains.push_back(plain);
        for (const std::string& coding : codings) {
            std::string made = NewPath();
            if (RunCommand("/usr/bin/tiffcp " + coding + " " + Quote(plain) + " " + Quote(made) + " 2>/dev/null",
                           nullptr) == 0)
                files.push_back({made, plain, source + " " + coding});
        }
    }
}

std::vector<uint8_t> Bits(const std::string& bits)
{
    std::vector<uint8_t> out;
    int n = 0;
    for (char c : bits) {
        if (c != '0' && c != '1') continue;
        if (n % 8 == 0) out.push_back(0);
        if (c == '1') out.back() |= static_cast<uint8_t>(0x80 >> (n % 8));
        ++n;
    }
    return out;
}

std::string FirstDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b, size_t unit)
{
    if (a.size() != b.size()) return "sizes " + std::to_string(a.size()) + " and " + std::to_string(b.size());
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i])
            return "unit " + std::to_string(i / unit) + " byte " + std::to_string(i % unit) + ": " +
                   std::to_string(a[i]) + " for " + std::to_string(b[i]);
    return "";
}

}  // namespace testutil

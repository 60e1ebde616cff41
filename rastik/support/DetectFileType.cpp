// File-type detection: by the signature of an existing file, by the extension
// of a path whose file does not exist yet (or is not recognised).
#include <strings.h>

#include <cstring>
#include <string>

#include "platform/CFile.h"
#include "rastik/Exports.h"
#include "rastik/General.h"
#include "rastik/support/ByteOrder.h"

namespace {

using rastik::GetLE16;

// The two headed 1-bit formats read by the picture reader: "DanM" with a
// width that is a multiple of 8, or the first word 0xC004 with a zero second word.
bool IsOneBitFormat(const uint8_t* h, uint32_t n)
{
    if (n < 8) return false;
    if (memcmp(h, "DanM", 4) == 0 && static_cast<int16_t>(GetLE16(h + 4)) % 8 == 0) return true;
    return GetLE16(h) == 0xC004 && GetLE16(h + 2) == 0;
}

// A picture: a 512-byte preamble, the 2-byte picture size and the 8-byte frame,
// then after any zero bytes the Version opcode 0x11 followed by 1 (version 1)
// or by 2 and 0xFF (version 2).
bool IsPict(CFile& f)
{
    uint8_t buf[64];
    f.Seek(522, CFile::begin);
    uint32_t n = f.Read(buf, sizeof buf);
    uint32_t i = 0;
    while (i < n && buf[i] == 0) ++i;
    if (i + 1 >= n || buf[i] != 0x11) return false;
    if (buf[i + 1] == 1) return true;
    return buf[i + 1] == 2 && i + 2 < n && buf[i + 2] == 0xFF;
}

uint16_t ByContent(const char* path)
{
    CFile f;
    if (!f.Open(path, CFile::modeRead | CFile::shareDenyNone | CFile::typeBinary)) return 0;
    uint8_t h[32] = {};
    uint32_t n = f.Read(h, sizeof h);
    static const uint8_t kPng[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
    if (n >= 2 && h[0] == 'B' && h[1] == 'M') return kTypeBmp;
    if (n >= 6 && (strncasecmp(reinterpret_cast<const char*>(h), "GIF87a", 6) == 0 ||
                   strncasecmp(reinterpret_cast<const char*>(h), "GIF89a", 6) == 0))
        return kTypeGif;
    if (n >= 3 && h[0] == 0xFF && h[1] == 0xD8 && h[2] == 0xFF) return kTypeJpeg;
    if (n >= 8 && memcmp(h, kPng, 8) == 0) return kTypePng;
    if (n >= 4 && (memcmp(h, "II*\0", 4) == 0 || memcmp(h, "MM\0*", 4) == 0)) return kTypeTiff;
    if (IsOneBitFormat(h, n)) return kTypePict;
    if (f.GetLength() > 524 && IsPict(f)) return kTypePict;
    return 0;
}

uint16_t ByExtension(const char* path)
{
    const char* slash = strrchr(path, '/');
    const char* dot = strrchr(slash ? slash : path, '.');
    if (!dot) return 0;
    struct Ext { const char* ext; uint16_t type; };
    static const Ext kExts[] = {
        {".bmp", kTypeBmp},   {".gif", kTypeGif},   {".jpg", kTypeJpeg}, {".jpeg", kTypeJpeg},
        {".pct", kTypePict},  {".pict", kTypePict}, {".tif", kTypeTiff}, {".tiff", kTypeTiff},
        {".png", kTypePng},
    };
    for (const Ext& e : kExts)
        if (strcasecmp(dot, e.ext) == 0) return e.type;
    return 0;
}

}  // namespace

extern "C" uint16_t DetectFileType(const char* path)
{
    if (!path || !*path) return 0;
    uint16_t type = 0;
    try {
        type = ByContent(path);
    } catch (const CFileException&) {
        type = 0;
    }
    return type ? type : ByExtension(path);
}

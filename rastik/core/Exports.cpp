// Plain exports: the format factory, the resource handle, the Esc poll and
// byte swapping.
#include "rastik/Exports.h"

#include <atomic>
#include <new>

#include "platform/KeyQueue.h"
#include "rastik/CBmpIO.h"
#include "rastik/CGifIO.h"
#include "rastik/CJpgIO.h"
#include "rastik/CPicIO.h"
#include "rastik/CPngIO.h"
#include "rastik/CTiffIO.h"
#include "rastik/CWandBIO.h"
#include "rastik/tiff/TiffEntry.h"

namespace {
// The one resource module of this library: its message table.
int g_resourceModule = 0;
std::atomic<void*> g_currentResourceHandle{nullptr};

void Swap2(uint8_t* p)
{
    uint8_t t = p[0];
    p[0] = p[1];
    p[1] = t;
}

void Swap4(uint8_t* p)
{
    uint8_t t0 = p[0], t1 = p[1];
    p[0] = p[3];
    p[1] = p[2];
    p[2] = t1;
    p[3] = t0;
}
}  // namespace

extern "C" CRastik* NewRastikInstance(unsigned typeCode, const char* path)
{
    switch (typeCode) {
    case kTypeBmp: return new (std::nothrow) CBmpIO(path);
    case kTypeGif: return new (std::nothrow) CGifIO(path);
    case kTypeJpeg: return new (std::nothrow) CJpgIO(path);
    case kTypePict: return new (std::nothrow) CPicIO(path);
    case kTypeTiff: return new (std::nothrow) CTiffIO(path);
    case kTypePng: return new (std::nothrow) CPngIO(path);
    case kTypeBlackWhite: return new (std::nothrow) CWandBIO(path);
    default: return nullptr;
    }
}

extern "C" void* SetRastikResourceHandle()
{
    return g_currentResourceHandle.exchange(&g_resourceModule);
}

extern "C" int GetEscapeKB()
{
    int key = 0;
    if (!TakeKeyDown(&key)) return 0;
    return key == VK_ESCAPE ? 1 : 0;
}

extern "C" void ReverseSwapBytes(void* data, uint16_t kind)
{
    if (!data) return;
    auto* p = static_cast<uint8_t*>(data);
    if (kind == 2) {
        Swap2(p);
    } else if (kind == 4) {
        Swap4(p);
    } else if (kind == 12) {
        // A TIFF directory entry in host order.
        tiff::SwapEntry(p, true);
    }
}

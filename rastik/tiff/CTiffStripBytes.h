// The stored bytes of one TIFF strip as a window over the file: a strip is
// read whole when it fits into the window, else a window at a time, and the
// decoders ask for more as they reach its end. Bytes of a file whose bits run
// from the least significant (FillOrder 2) are turned round as they are read.
#pragma once

#include <cstdint>
#include <vector>

#include "platform/CFile.h"
#include "rastik/support/ByteOrder.h"

class CTiffStripBytes {
public:
    CTiffStripBytes(CFile& file, uint64_t fileLength, bool reverseBits);
    ~CTiffStripBytes();
    CTiffStripBytes(const CTiffStripBytes&) = delete;
    CTiffStripBytes& operator=(const CTiffStripBytes&) = delete;

    // Takes a window for strips of up to largest bytes (capped), of at
    // least least bytes; false when no buffer can be had.
    bool Reserve(uint64_t largest, uint64_t least = 0);
    uint32_t Capacity() const { return m_capacity; }
    // Starts on the bytes [offset, offset + count) of the file, cut at its
    // end, and reads the first window. File errors throw CFileException.
    void Start(uint64_t offset, uint64_t count);
    // Reads [offset, offset + count), cut at the file's end, into out (bits
    // turned round as Start would); returns the bytes read. File errors throw.
    uint32_t Fetch(uint64_t offset, uint64_t count, uint8_t* out);
    // Starts on count bytes read ahead with Fetch, held in memory with room
    // for kHeldSlack bytes behind them; the file is not read again, so a
    // decoder on another thread may use this window. The memory stays the
    // caller's (the window may move the bytes about inside it).
    void StartHeld(uint8_t* bytes, uint32_t count);
    static constexpr uint32_t kHeldSlack = 4096;

    const uint8_t* Begin() const { return m_buffer; }
    const uint8_t* End() const { return m_buffer + m_have; }
    // Whether the strip has bytes beyond the window.
    bool HasMore() const { return m_next < m_stop; }
    // Keeps the bytes from keep on, moves them to the front of the window
    // and reads more behind them; keep then points at the front. False when
    // the strip has no more bytes.
    bool Refill(const uint8_t*& keep);

    // The n bytes from at on (n at most Capacity()), together in the
    // window: read on when they reach past it; what the strip does not hold
    // reads as 0. at moves past them (to the end of the strip's data at the
    // most).
    uint8_t* Take(const uint8_t*& at, uint32_t n);
    // Passes over n bytes from at on; when they reach past the window, the
    // window starts again behind them.
    void Skip(const uint8_t*& at, uint64_t n);

    // The whole strip from the window on, gathered into whole (for
    // decoders that read a strip from memory); the strip lies within the
    // file, so the file bounds it. Throws std::bad_alloc.
    void Gather(std::vector<uint8_t>& whole);

    // For a bit reader over [Begin(), End()) that ran short: moves the
    // bytes it still holds to the front, reads more, and makes the reader
    // go on from the same bit. False when the strip has no more bytes.
    template <class Reader>
    bool Refill(Reader& reader)
    {
        uint64_t inWindow = static_cast<uint64_t>(End() - reader.Position());
        uint64_t inHand = reader.BitsLeft() - 8 * inWindow;
        uint64_t back = (inHand + 7) / 8;
        const uint8_t* keep = reader.Position() - back;
        if (!Refill(keep)) return false;
        reader = Reader(keep, End());
        reader.Skip(static_cast<unsigned>(back * 8 - inHand));
        return true;
    }

private:
    // Moves the bytes from keep on to the front and reads more behind them.
    void Compact(const uint8_t*& keep);
    void ReadMore();

    CFile& m_file;
    uint64_t m_fileLength;
    bool m_reverse;
    uint8_t* m_buffer = nullptr;  // the window: m_own, or bytes held by the caller
    uint32_t m_capacity = 0;
    uint8_t* m_own = nullptr;
    uint32_t m_ownCapacity = 0;
    uint32_t m_have = 0;
    uint64_t m_next = 0;  // file position of the first byte not yet read
    uint64_t m_stop = 0;  // end of the strip in the file
};

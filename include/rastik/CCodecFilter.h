// Abstract base of the DCT codec: the stream selector, the buffer in which
// encoded bytes collect (while decoding it holds the bytes read ahead), and
// the flush that hands the buffer to the encoded-data stream (selector 1 is
// the current encoded-data file, any other selector a stream that swallows
// everything and reads as zeros).
#pragma once

#include <cstdint>

#include "rastik/DCTINFO.h"
#include "rastik/RastikApi.h"

class RASTIK_API CCodecFilter {
public:
    static constexpr uint32_t kOutBufferSize = 16384;

    CCodecFilter();
    CCodecFilter(const CCodecFilter& other);
    CCodecFilter& operator=(const CCodecFilter& other);
    virtual ~CCodecFilter();

    // Decoding protocol: the header once, then bands until no rows remain.
    // Results are unsigned; 0xFFFFFFFF means failure.
    virtual uint32_t Decode_Header(int stream, DCTINFO* info) = 0;
    virtual uint32_t Decoder(uint8_t* buffer, int& nBytes) = 0;
    // Encoding protocol: the header once, bands until no rows remain, the end
    // of the image. Results are unsigned; 0xFFFFFFFF means failure.
    virtual uint32_t Encode_Header(int stream, const DCTINFO* info) = 0;
    virtual uint32_t Encoder(const uint8_t* band, int count) = 0;
    virtual uint32_t Encode_EOD() = 0;
    // Writes the buffered bytes to the stream: 0, or 0xFFFFFFFF when fewer
    // bytes than asked were written (the bytes then stay in the buffer).
    virtual uint32_t FlushEncodeData();

    int32_t GetStream() const { return m_nStream; }
    // Bytes that stood in the buffer when the encoder's header was complete.
    uint32_t GetHeaderLength() const { return m_dwHeaderLength; }
    // 0 after the header, -1 after a buffer flush, 1 after the final flush.
    int32_t GetFlushState() const { return m_nFlushState; }

protected:
    // Where flushed bytes go: the encoded-data stream of the selector. A
    // coder that keeps its output elsewhere overrides it; the count written.
    virtual int WriteOut(const uint8_t* bytes, int count);

    uint32_t BufferedBytes() const { return static_cast<uint32_t>(m_pWritePos - m_pOutBuffer); }
    uint32_t BufferRoom() const { return static_cast<uint32_t>(m_pBufferLimit - m_pWritePos); }

    int32_t m_nStream = 0;               // stream selector
    uint8_t* m_pOutBuffer = nullptr;     // kOutBufferSize bytes, owned; null when allocation failed
    uint8_t* m_pWritePos = nullptr;      // next free byte of the output buffer
    uint8_t* m_pBufferLimit = nullptr;   // m_pOutBuffer + kOutBufferSize
    uint32_t m_dwHeaderLength = 0;
    int32_t m_nFlushState = 0;
};

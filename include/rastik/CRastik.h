// Base class of every image-file codec: the image description, the channel
// planes (on the heap or spilled to the temporary file), the open file, and
// the virtual read/write protocol that hosts and whole-file conversion drive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "platform/CFile.h"
#include "platform/CObject.h"
#include "rastik/CGTempFile.h"
#include "rastik/CStoredRows.h"
#include "rastik/RastikApi.h"

// Colour-mode codes of ColorMode.
enum RastikColorMode : uint32_t {
    kModeBitmap = 2,
    kModeGrey = 3,
    kModeRgb = 4,
    kModeCmyk = 5,
    kModeIndexed = 6,
    kModeOther = 7,
    kModeBlackWhite = 10  // requested target of whole-file conversion only
};

class CRowSource;
class CStatus;
class COperation;
class CReadFollower;
class CRowFeed;
class CPlaneWindow;

// Storage of a channel plane (ChannelKind).
enum RastikChannelKind : int32_t { kChannelNone = 0, kChannelHeap = 1, kChannelTemp = 2 };

constexpr int kMaxChannels = 32;

class RASTIK_API CRastik : public CObject {
public:
    CRastik();
    ~CRastik() override;
    CRastik(const CRastik&) = delete;
    CRastik& operator=(const CRastik&) = delete;

    // --- virtual protocol ---
    // The reads are run by the base class from the codec's header read
    // (ReadHead) and row source (OpenRowSource): a codec without them reads
    // nothing and gets 0. ReadReducedData fills one plane per colour channel
    // (BytesPerRow(width x 8) stride), ReadPrevImageData hands out the
    // 24-bit preview buffer (released with FreeBuffer).
    virtual int ReadImageHead();
    virtual int ReadImageData();
    // The base does nothing and returns 0 (the JPEG codec reads into the
    // planes the host describes).
    virtual int GetImageData(int32_t* kinds, CFile* tempFile, uint8_t** planes, int64_t* offsets);
    virtual int ReadImageDataForPage();
    virtual int ReadPrevImageData(uint32_t& width, uint32_t& height, uint8_t*& buffer);
    virtual int ReadReducedData(uint32_t width, uint32_t height, uint8_t** planes);
    // The rest do nothing and return 0 in the base.
    virtual int WriteFile();
    virtual int WriteImageHead();
    virtual int WriteHeader();
    virtual int WriteImageData();
    virtual int WriteBlockData(uint8_t* rows, uint32_t channel, uint32_t rowCount);
    virtual int WriteRgbDataImage(uint8_t* r, uint8_t* g, uint8_t* b, uint32_t rowCount);
    virtual int WriteKDataImage(uint8_t* rows, uint32_t rowCount);
    virtual int WriteTail();
    virtual int IsPSorIMAGEmaked();
    virtual int GetPhotoshopOrignClipPath();
    // Whether a whole read of the image as described hands every row over
    // once, from the top, a row at a time, so that its planes may hold a
    // window of their rows (WindowPlanes). The base says no.
    virtual bool WholeReadFromTop();
    // The image's rows straight from its file, for a writer that takes them
    // on its worker threads instead of the planes: 8-bit red, green and blue
    // samples kept uncompressed, every row in the file. Null when the file
    // does not keep them so (the base). Valid while the file stays open.
    virtual std::unique_ptr<CStoredRows> OpenStoredRows();

    // --- image description ---
    // Copies size, resolution, stride, MaxPrevSize and JpegQuality.
    int SetSize(const CRastik* source);
    // Copies mode, bit counts, channels and palette.
    int SetMode(const CRastik* source);
    // Sets a colour-mode code with its channels (3, 4, 5, 6); other codes only set ColorMode.
    int SetMode(uint32_t mode);
    // Makes ChannelCount planes of Height x BytesPerLine bytes, on the heap
    // while the plane heap cap allows, else in the temporary file. 0 when a
    // plane fits nowhere or the image is empty. A spilled plane may be of
    // any size.
    int AllocChannelSpace();
    // Replaces Palette by a copy of entries x 4 bytes (null or 0: none).
    int SetPalette(const uint8_t* entries, uint32_t count);

    // Row access to planes wherever they live; row r of plane c, BytesPerLine bytes.
    int ReadPlaneRow(uint32_t channel, uint32_t row, uint8_t* out);
    int WritePlaneRow(uint32_t channel, uint32_t row, const uint8_t* in);
    // Several consecutive rows at once (rows x BytesPerLine bytes).
    int ReadPlaneRows(uint32_t channel, uint32_t row, uint32_t rows, uint8_t* out);
    int WritePlaneRows(uint32_t channel, uint32_t row, uint32_t rows, const uint8_t* in);
    // Planes of AllocChannelSpace that hold a window of their rows, for a
    // read that a writer follows (CPlaneWindow), instead of whole planes
    // (null, the default). Set before AllocChannelSpace; when the window
    // cannot be had on the heap, or holds every row, the planes are whole
    // and PlaneWindow() is null again. Rows of windowed planes are reached
    // only through the plane-row stream, from the top.
    void WindowPlanes(std::shared_ptr<CPlaneWindow> window) { m_planeWindow = std::move(window); }
    const std::shared_ptr<CPlaneWindow>& PlaneWindow() const { return m_planeWindow; }
    // A writer that follows the read is done with the planes' rows above row.
    void ReleasePlaneRows(uint32_t row);
    // Bytes of one plane (Height x BytesPerLine), 0 when it passes 32 bits.
    uint32_t PlaneBytes() const;
    // The same in 64 bits, for planes of any size.
    uint64_t PlaneBytes64() const;

    // --- big-endian field I/O on File ---
    int Read2ByteInt(uint16_t& value);
    int Read4ByteInt(uint32_t& value);
    int Write2ByteInt(uint16_t value);
    int Write4ByteInt(uint32_t value);
    // Code of codeLength bits (at most 24), least significant first, at
    // *bitPos of data; reads up to three bytes from data + *bitPos / 8, so
    // the caller keeps three bytes readable past the code.
    int ReadCode(const uint8_t* data, int* bitPos, int codeLength, int mask);
    // The same within dataBytes bytes of data: bytes past the end read as 0,
    // and a code that does not end within them returns -1 (the position
    // still advances).
    int ReadCode(const uint8_t* data, int* bitPos, int codeLength, int mask, size_t dataBytes);

    // --- clip-path list ---
    int AllocPathSpace(int count);
    int AddPath(uint32_t* record);

    int SetMaxPrevSize(uint16_t size);
    int IsPressedEscKey();
    int SetWarningMsg(int flag);
    // Why the last operation failed: the id of its message (text through
    // GetRastikMessageText), 0 when it succeeded, was stopped by Esc, or
    // failed without a message of the table. Whether the message was also
    // shown follows one rule for every codec: a write's always, a read's
    // when ShowMessages is set.
    int GetLastMessage() const { return m_lastMessage; }
    // Rows the last whole read handed over before it ended (all of them
    // when it succeeded): where the data of a short file ended. Height when
    // unknown (a codec that reads without the base class's whole read).
    uint32_t RowsRead() const { return m_rowsRead < Height ? m_rowsRead : Height; }
    // The figures a message of this codec names (RastikMessageText): 27710
    // the pixel limit, 27715 the pages of the file and the page asked for.
    virtual void GetMessageFigures(int id, uint64_t* first, uint64_t* second) const;
    // The whole reads that follow tell follower, on the reading thread, how
    // many rows from the top are final while a top-down read fills heap
    // planes (null: no one). The caller keeps it alive meanwhile.
    void FollowRead(CReadFollower* follower) { m_follower = follower; }
    // The next WriteFile of a writer that can follow its rows runs feed,
    // which makes the planes' rows from the top, and writes each band as its
    // rows become final; other writers leave it unset (null: the planes are
    // complete). The caller keeps it alive meanwhile.
    void WriteFollowing(CRowFeed* feed) { m_feed = feed; }
    CRowFeed* Feed() const { return m_feed; }
    // The next WriteFile of a writer that can take stored rows codes the
    // image from rows rather than from its planes (null: the planes). The
    // caller keeps it alive meanwhile.
    void WriteStored(const CStoredRows* rows) { m_stored = rows; }
    const CStoredRows* Stored() const { return m_stored; }

    // --- previews ---
    int GetPrevDataSize();
    int AddToReduceData(uint16_t outRow, const uint8_t* sourceRow, uint8_t** planes);
    int ReducedDataForPrev(uint8_t** planes, uint8_t* buffer);
    // Embedded preview resource ("8BIM" thumbnail of TIFF and JPEG files).
    int CreatePrevJpegFile(const char* path);
    int32_t WritePrevFile();
    int32_t GetPosOfPrevData();
    int ReadPrevJpegFile(int32_t position, uint8_t*& buffer);

    // --- description fields ---
    uint32_t Width = 0;
    uint32_t Height = 0;
    float XResolution = 72.0f;
    float YResolution = 72.0f;
    uint32_t ResolutionUnit = 0;
    uint32_t FileBitCount = 0;
    uint32_t ColorMode = 0;
    uint32_t BitsPerChannel = 8;
    uint32_t BytesPerLine = 0;
    uint32_t ChannelCount = 0;
    uint32_t ColorChannels = 0;
    uint32_t PaletteSize = 0;
    uint8_t* Palette = nullptr;
    int32_t ResourcePos = 0;
    int32_t PlanarRows = 1;
    const char* Path = nullptr;
    CFile File;
    CGTempFile* TempFile = nullptr;
    int32_t ChannelKind[kMaxChannels] = {};
    uint8_t* ChannelData[kMaxChannels] = {};
    int64_t ChannelOffset[kMaxChannels] = {};
    uint32_t RowsWritten[kMaxChannels] = {};
    CFile* TempFileObject = nullptr;
    uint8_t* FormatBuffers[3] = {};
    int32_t FormatCount = 0;
    int32_t PathCapacity = 0;
    int32_t PathCount = 0;
    uint32_t** Paths = nullptr;
    int32_t UseColorChannels = 0;
    int32_t WritePreview = 1;
    int32_t IntelByteOrder = 1;
    int32_t EscPressed = 0;
    int32_t ShowMessages = 0;
    int32_t PrevIsBgr = 0;
    int32_t MaxPrevSize = 96;
    uint16_t PrevWidth = 0;
    uint16_t PrevHeight = 0;
    int32_t Compression = 1;
    int32_t StripCount = 0;
    int32_t TransparentIndex = -1;
    uint32_t JpegQuality = 70;
    int32_t WithQorHeader = 1;
    // The image of a file of several (a TIFF directory) that the header read
    // takes: 0 the first. Set before ReadImageHead; a page the file does not
    // hold fails the header read with 27715.
    uint32_t Page = 0;
    // TIFF: set by the header read of a BigTIFF file (64-bit offsets); for
    // writing, 1 writes BigTIFF whatever the size, 0 only when the file would
    // pass the 4 GiB a classic file can address.
    int32_t BigTiff = 0;

protected:
    // --- what a codec supplies for the base class to read it ---
    enum RowPurpose { kWholeImage, kReducedImage };
    // The header read proper: fills the description; a failure names its
    // message. The base has none.
    virtual CStatus ReadHead();
    // The message of a header read that a file error ends (the header
    // cannot be read); 0 for none.
    virtual int HeadReadError() const;
    // Whether the header read takes Page itself (a format of several
    // images); a codec of one image refuses every page but 0 with 27715.
    virtual bool ReadsPages() const { return false; }
    // The message refusing the data of the file whose header was read (a
    // compression or depth the rows cannot be read in), 0 when they can.
    virtual int ReadRefusal() const;
    // A source of the image's rows for one read: the whole image into the
    // planes, or a reduced image (also the preview's). Null when there is
    // none for the image as described (the read then fails without a message).
    virtual std::unique_ptr<CRowSource> OpenRowSource(RowPurpose purpose);
    // The refusal of an image larger than the pixel limit (SetMaxPixels),
    // which every header read ends with.
    CStatus WithinPixelLimit() const;
    // Another codec's row source, for an image embedded in this one's file.
    static std::unique_ptr<CRowSource> RowSourceOf(CRastik& codec, RowPurpose purpose);
    // Reads the whole image from the row source into planes described as
    // GetImageData's arguments describe them.
    int ReadPlanesFromSource(int32_t* kinds, CFile* tempFile, uint8_t** planes, int64_t* offsets);
    // Colour planes a reduced read fills: ColorChannels for RGB and CMYK, else 1.
    uint32_t ReducedPlaneCount() const;

    void FreeChannelSpace();
    // The preview of a codec without an embedded one: GetPrevDataSize, the
    // codec's ReadReducedData into work planes, ReducedDataForPrev; Palette
    // is released afterwards.
    int PreviewFromReducedData(uint32_t& width, uint32_t& height, uint8_t*& buffer);
    // The preview from the embedded thumbnail (GetPosOfPrevData,
    // ReadPrevJpegFile): 1 when read, 0 when there is none or it cannot be
    // decoded, -1 when Esc stopped it.
    int PreviewFromThumbnail(uint32_t& width, uint32_t& height, uint8_t*& buffer);
    // Rows handed to AddToReduceData with interleaved samples hold blue,
    // green, red (bitmaps), and the reducer reverses them.
    bool BgrSamples = false;

private:
    friend class COperation;
    CStatus ReadWhole(int32_t* kinds, CFile* tempFile, uint8_t** planes, int64_t* offsets);
    CStatus ReadReduced(uint32_t width, uint32_t height, uint8_t** planes);
    CStatus ReadPreview(uint32_t& width, uint32_t& height, uint8_t*& buffer);
    // The last operation's message, and how deep operations are nested.
    int32_t m_lastMessage = 0;
    int32_t m_operationDepth = 0;
    uint32_t m_rowsRead = UINT32_MAX;
    CReadFollower* m_follower = nullptr;
    CRowFeed* m_feed = nullptr;
    const CStoredRows* m_stored = nullptr;

    // Byte range of rows of a plane; false when they lie outside it.
    bool PlaneRowRange(uint32_t channel, uint32_t row, uint32_t rows, size_t* at, size_t* len) const;
    void SeekSpilledPlane(uint32_t channel, size_t at);
    // Source column of every target column of AddToReduceData, made for
    // the width pair it was made for.
    const std::vector<uint32_t>& ReduceColumns();
    std::vector<uint32_t> m_reduceColumns;
    uint32_t m_reduceColumnsFor[2] = {};
    // Heap bytes of each plane this object allocated, for the plane heap cap.
    uint64_t m_heapPlaneBytes[kMaxChannels] = {};
    std::shared_ptr<CPlaneWindow> m_planeWindow;
    // Makes windowed planes on the heap; false (and no planes) when they
    // cannot be had there.
    bool AllocWindowedPlanes(uint32_t rows);
    // Plane channel of bytes bytes on the heap, within the plane heap cap,
    // listed in fresh for zeroing; false when it cannot be had there.
    bool AllocHeapPlane(uint32_t channel, uint64_t bytes, std::vector<std::pair<void*, size_t>>& fresh);
};

// Codec for TIFF files, classic or BigTIFF, file-type code 12. Reading: the
// image file directory of Page (the first by default), strips or tiles of
// every compression on the decoder table (TiffDecoderTable.h), with their
// predictors, samples interleaved or one plane per sample, 1, 4, 8 and 16
// bits; the whole image, reduced, or as a preview (the embedded thumbnail
// first). Writing: 8-bit samples interleaved, uncompressed, LZW or Deflate
// (with horizontal differencing), PackBits or JPEG (RGB as YCbCr 2 x 2),
// bilevel images as 1-bit big-endian uncompressed rows, in either byte
// order, BigTIFF when asked or when the file would pass 4 GiB; from the
// planes, or from RGB and CMYK rows a block at a time. Clip paths and the
// thumbnail travel in the Photoshop resource block the directory points to.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "rastik/CRastik.h"
#include "rastik/RastikApi.h"

struct TiffStripPlan;
struct TiffTilePlan;
class CTiffPlaneRows;
class CTiffBlockStrips;
class CTiffStripEncoder;
class CPlaneRowStream;
class CWorkerPool;
namespace tiff {
struct TiffColourFields;
struct TiffEntry;
}

class RASTIK_API CTiffIO : public CRastik {
public:
    explicit CTiffIO(const char* path);
    ~CTiffIO() override;

    // The embedded thumbnail when it can be decoded, else the base class's
    // preview of the image itself.
    int ReadPrevImageData(uint32_t& width, uint32_t& height, uint8_t*& buffer) override;

    // One byte per sample for Width x ChannelCount samples of a file row of
    // 1, 4 or 16 bits: 1- and 4-bit values as they are (0..1, 0..15), the
    // high-order byte of 16-bit samples. Always 1.
    int TurnTo8BitsLineData(const uint8_t* src, uint8_t* dst);
    // Packs Width x ChannelCount bytes into bits, most significant first;
    // every non-zero byte becomes a 1 bit. Always 1.
    int TurnTo1BitsLineData(const uint8_t* src, uint8_t* dst);
    // Offset of the first strip: where the pixel data begins (0 past 4 GiB).
    uint32_t GetChOffset() const;

    // Pages of the file: the directories of its chain, directories that
    // belong to a page (SubIFDs) not counted; a chain that loops ends at the
    // directory seen before. 0 when the header cannot be read. Needs File
    // open; leaves the file position anywhere.
    uint32_t GetPageCount();
    // Size and compression of page page as its directory gives them (size 0
    // and compression 1 when it does not give them); false when the file has no such page.
    bool GetPageSize(uint32_t page, uint32_t& width, uint32_t& height, uint32_t& compression);
    void GetMessageFigures(int id, uint64_t* first, uint64_t* second) const override;

    // Byte order of "MM" files: kind 2 exchanges two bytes, 4 reverses four,
    // 12 turns a directory entry as read into one whose tag, type, count and
    // value read little-endian (the value as 16 bits for one SHORT, else as
    // 32 bits); other kinds do nothing.
    static void SwapBytes(uint8_t* p, uint16_t kind);
    // Reverses each of count 4-byte items / exchanges the bytes of each of
    // count 2-byte items.
    static void vSwapWord(uint8_t* p, uint16_t count);
    static void vSwapByte(uint8_t* p, uint16_t count);
    // The value of a little-endian entry: 16 bits for one SHORT, else the
    // whole 32-bit value field.
    static void SetTIFInfoField(uint32_t* out, const uint8_t* entry);

    // Fills the path list from every path resource of the Photoshop block
    // (ids 2000 to 2998), in pixel coordinates. 1, also when there are none;
    // 0 when a path resource is malformed.
    int ReadPath();

    // --- writing ---
    // Header ("II" or "MM" by IntelByteOrder, version, directory offset 0)
    // and, for indexed and bilevel images, the colour map at offset 8.
    int WriteHeader() override;
    // The whole image from the planes: Compression 1, 5, 7, 8 or 32773;
    // bilevel images always big-endian and uncompressed; JPEG for grey, RGB
    // (as YCbCr) and CMYK images without extra samples, others as Deflate. 0 on failure, and a file
    // the write began is removed.
    int WriteFile() override;
    // Streamed writing after WriteHeader, blocks of rows from the top: RGB
    // images in one pass; CMYK images in two, cyan, magenta and yellow rows
    // first (kept in a temporary file), then all black rows. The call that
    // completes the image writes the tail. Every block but the last has the
    // rows of the first. Compression 8 and 7 store Deflate and JPEG strips,
    // any other uncompressed strips of a block each.
    int WriteRgbDataImage(uint8_t* r, uint8_t* g, uint8_t* b, uint32_t rowCount) override;
    int WriteKDataImage(uint8_t* k, uint32_t rowCount) override;
    // Everything after the pixel data: value arrays, the Photoshop resource
    // block, the directory, and the directory offset in the header. 0 when
    // a write failed (the file is then removed).
    int WriteTail() override;
    // The path list as one path resource at the file position; the bytes
    // written (0 without paths).
    uint32_t WritePath();

    // Rows the block writers have received of the current pass.
    uint32_t RowsReceived = 0;

    // A point of a clip path in pixels: horizontal, vertical.
    struct _float_point_ {
        double x, y;
    };

    // --- directory fields ---
    uint32_t StripTotal = 0;              // strips of the image (all planes)
    std::vector<uint64_t> StripOffsets;   // StripTotal file offsets
    std::vector<uint64_t> StripByteCounts;
    uint32_t RowsPerStrip = 0;
    uint32_t Predictor = 1;
    // 0 white is zero, 1 black is zero, 2 neither given.
    int32_t PhotometricSense = 2;
    // PhotometricInterpretation as the file gives it; 0xFFFFFFFF when absent.
    uint32_t Photometric = 0xFFFFFFFFu;
    // The tables of every JPEG strip (JPEGTables), empty when none.
    std::vector<uint8_t> JpegTables;
    uint16_t ExtraSampleCount = 0;
    // The first extra sample is alpha that the colour samples are
    // multiplied by (ExtraSamples 1); they are divided by it on reading.
    bool AssociatedAlpha = false;
    // 2 when the bits of each byte run from the least significant.
    uint32_t FillOrder = 1;
    // Group 3 fax coding: bit 0 two-dimensional rows, bit 2 byte-aligned
    // end-of-line codes.
    uint32_t T4Options = 0;
    // 1 unsigned integers; 2 signed, 3 floating point (not read).
    uint32_t SampleFormat = 1;
    bool Tiled = false;
    // Tiles instead of strips: TileWidth x TileLength pixels each, left to
    // right and top down (plane after plane when planar).
    uint32_t TileWidth = 0;
    uint32_t TileLength = 0;
    std::vector<uint64_t> TileOffsets;
    std::vector<uint64_t> TileByteCounts;
    // Byte length of the Photoshop resource block at ResourcePos.
    uint32_t ResourceLength = 0;

protected:
    // The image file directory of Page; refusals of a bad header or
    // directory carry 27610, a page past the last 27715.
    CStatus ReadHead() override;
    int HeadReadError() const override;
    bool ReadsPages() const override { return true; }
    // Whether the row source reads this file: 27707 for the depth, 27709
    // for the rest.
    int ReadRefusal() const override;
    std::unique_ptr<CRowSource> OpenRowSource(RowPurpose purpose) override;

private:
    class RowSource;

    // --- writing ---
    // Whether the image can be written; a refusal carries the message to
    // show, if any.
    CStatus WriteRefusal() const;
    CStatus WriteHeaderBytes();
    CStatus WritePlainFile();
    CStatus WriteLzwTifFile();
    CStatus WriteBmpFile();
    // Deflate and JPEG strips; images JPEG cannot hold as Deflate.
    CStatus WriteCodedTifFile();
    bool JpegWritable(uint32_t samples) const;
    // The coder of Compression's strips of samples samples a pixel; for
    // JPEG its tables in JpegTables.
    std::unique_ptr<CTiffStripEncoder> MakeStripEncoder(uint32_t samples);
    uint32_t CodedStripRows(const CTiffStripEncoder& coder, uint64_t rowBytes) const;
    // The strip tables of a block write: contiguous uncompressed strips of
    // rows rows, or strips coded as they complete (Deflate, JPEG).
    CStatus PlanBlockStrips(uint32_t rows, uint32_t samples);
    // Takes the row of the image just put into the coded strips; writes the
    // strip it completes.
    CStatus AddBlockRow(uint32_t row);
    // Whether the strips hold RGB as YCbCr (JPEG).
    bool WritesYCbCr() const;
    // The status of the int result of a write operation called inside
    // another: a failure carries the message it kept.
    CStatus Nested(int result) const;
    // Interleaves the planes into strips of stripRows rows and writes each
    // as encode turns it into bytes; fills the strip tables.
    template <class Encoder>
    CStatus WriteStrips(uint32_t stripRows, Encoder& encoder);
    // The same for compressing encoders inside a conversion with worker
    // threads: the rows of a batch of strips are joined here while the
    // batch before is coded on the pool (by twins of model); the strips
    // are written here in order.
    template <class Encoder>
    CStatus WriteStripsOnPool(CWorkerPool& pool, uint32_t stripRows, const Encoder& model, CPlaneRowStream& rows);
    // Records strip s of bytes bytes at the file position; a failure
    // (27709) when a classic file would pass the 4 GiB it can address.
    CStatus RecordStrip(uint32_t s, uint32_t bytes);
    // The failure of a plane-row stream that stopped or failed.
    static CStatus StreamFailure(const CPlaneRowStream& rows);
    // Strip tables of strips of rows rows of rowBytes bytes stored one after
    // the other from the file position.
    bool PlanContiguousStrips(uint32_t rows, uint64_t rowBytes);
    // PhotometricInterpretation of the image as written, and the entries of
    // its colour map (0 without one).
    uint32_t WrittenPhotometric() const;
    uint32_t ColorMapEntries() const;
    // Closes and removes the file being written.
    void DeleteOutput();
    void DropCmykFile();
    // Ends a failed block call: both files removed, the object spent.
    void FailBlocks();
    // Runs a block call as one write operation; a call that began writing
    // (set begun) and fails ends with FailBlocks.
    int WriteBlock(const std::function<CStatus(bool& begun)>& write);
    CStatus WriteColourRows(const uint8_t* r, const uint8_t* g, const uint8_t* b, uint32_t rowCount);
    CStatus WriteBlackRows(const uint8_t* k, uint32_t rowCount);
    uint32_t WriteResourceBlock();
    std::vector<tiff::TiffEntry> WriteTailValues();
    tiff::TiffEntry ValuesEntry(uint16_t tag, uint16_t type, const std::vector<uint64_t>& items);
    void AddImageEntries(std::vector<tiff::TiffEntry>& entries) const;
    CStatus WriteTailParts();
    CStatus WriteDirectory(std::vector<tiff::TiffEntry>& entries);
    void WriteNode(const _float_point_& point);
    void Write2Byte(uint16_t value);
    void Write3Byte(uint32_t value);
    void Write4Byte(uint32_t value);

    // A bound on the bytes of the file the writer is to make: the strips
    // at their compression's worst, the colour map, value arrays, the
    // resource block and the directory.
    uint64_t OutputBound() const;
    // BigTIFF layout of the file being written: asked for (BigTiff), or a
    // classic file could not address the output by its bound.
    bool m_writeBig = false;
    // What the writer stored, for the directory.
    uint32_t m_writtenCompression = 1;
    uint32_t m_writtenSamples = 0;
    uint32_t m_writtenBits = 8;
    bool m_headerWritten = false;
    bool m_tailWritten = false;
    // CMYK block writing: 0 not begun, 1 first pass, 2 second pass.
    int m_cmykPass = 0;
    // The CMYK block writer's file of cyan, magenta and yellow rows.
    std::unique_ptr<CFile> m_cmykFile;
    std::string m_cmykPath;
    // The coded strips of a block write (none for uncompressed ones).
    std::unique_ptr<CTiffBlockStrips> m_blockStrips;

    // Directory reading; a failure carries the message to show, if any.
    CStatus ReadEntry(const tiff::TiffEntry& entry, uint64_t fileLength);
    CStatus ReadColorMap(const tiff::TiffEntry& entry, uint64_t fileLength);
    CStatus ReadResolution(const tiff::TiffEntry& entry, uint64_t fileLength, float& resolution);
    void ReadResourceEntry(const tiff::TiffEntry& entry, uint64_t fileLength);
    // Pages the chain held when the header read found no directory Page.
    uint32_t m_pagesFound = 0;
    CStatus CompleteDirectory(uint64_t fileLength);
    static void DeriveByteCounts(const std::vector<uint64_t>& offsets, uint32_t total, uint64_t fileLength,
                                 std::vector<uint64_t>& counts);
    void SizeStoredStrips();
    CStatus CheckStripData(uint64_t fileLength) const;
    // Colour beyond the basic photometric interpretations: YCbCr, the
    // L*a*b* encodings, LogLuv and LogL, old-style JPEG data
    // (CTiffIOColour.cpp).
    CStatus ReadColourEntry(const tiff::TiffEntry& entry, uint64_t fileLength);
    bool TakeColourPhotometric(uint32_t photometric);
    void CompleteColour();
    int ColourRefusal() const;
    bool IsLab() const;
    // Bytes rows rows of rowBytes decoded bytes take uncompressed (YCbCr
    // in data units).
    uint64_t StoredBytes(uint32_t rows, uint64_t rowBytes) const;
    // The whole image's old-style JPEG stream from its pieces; false when
    // the pieces cannot be read or put together.
    bool BuildOldJpegStream();
    bool BuildOldJpegStrips(uint64_t most);
    bool AppendFileBytes(uint64_t at, uint64_t count, uint64_t most, std::vector<uint8_t>& store);
    // L*a*b* pixels of a decoded row to RGB over the first three samples
    // of each pixel of the row's own copy.
    void LabToRgbRow(const uint8_t* row, uint8_t* own, uint32_t samples) const;
    std::unique_ptr<tiff::TiffColourFields> m_colour;
    // The tile tables sized and checked against the image and the file.
    CStatus CompleteTiles(uint64_t fileLength);
    // Whether the tile fields describe tiles the row source reads.
    bool TilesReadable() const;

    bool IsPlanar() const { return PlanarRows == 1 && ChannelCount > 1; }
    // Strips, depth and decoding of plane p (of the interleaved rows: 0).
    TiffStripPlan PlanOf(uint32_t plane) const;
    // The decoding of strips (or tiles) width pixels wide and rows rows high.
    void PlanDecoding(TiffStripPlan& plan, uint32_t width, uint32_t rows) const;
    TiffTilePlan TilePlanOf(uint32_t plane) const;
    // The reader of plane p's rows (of the interleaved rows: 0), from
    // strips or tiles.
    std::unique_ptr<CTiffPlaneRows> PlaneRows(uint32_t plane);
    // Bytes of one decoded row of plane p's strips.
    uint64_t StripRowBytes() const;

    // Grey values of the first sample of each of width pixels of step
    // samples, as read: 4-bit values spread over 0..255, white-is-zero
    // values turned over.
    void MapGrey(uint8_t* row, uint32_t width, uint32_t step) const;
    void MakeGreyMap();
    // Colour samples divided by the alpha after them: its place in the
    // pixel (its plane in a file of a plane per sample), 0 when none are.
    uint32_t AlphaToDivide() const;
    bool m_greyMapped = false;
    uint8_t m_greyMap[256] = {};

    // Clip-path resources: the points of the knots read (fractions of the
    // width and height, three per knot) and the subpaths they form.
    struct PathPoint {
        double x, y;
    };
    struct Subpath {
        bool closed;
        size_t first;  // first point in m_pathPoints
        uint32_t knots;
    };
    void ReadBezier3Point();
    int Read2Byte(uint16_t& value);
    int Read3Byte(uint32_t& value);
    int Read4Byte(uint32_t& value);
    int ReadPathResource(uint64_t at, uint32_t size);
    int StorePaths();
    std::vector<PathPoint> m_pathPoints;
    std::vector<Subpath> m_subpaths;
};

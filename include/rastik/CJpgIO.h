// Codec for JPEG files, file-type code 4: reads grey, RGB and CMYK files
// through libjpeg (whole image into the channel planes, reduced, preview) and
// writes them with the library's own baseline encoder, either from the
// channel planes in one call or from rows streamed in by the host.
#pragma once

#include <cstdint>
#include <string>

#include "rastik/CDCTFilter.h"
#include "rastik/CRastik.h"
#include "rastik/DCTINFO.h"
#include "rastik/RastikApi.h"

struct JpegHead;
class JpegRowSink;

class RASTIK_API CJpgIO : public CRastik {
public:
    explicit CJpgIO(const char* path);
    ~CJpgIO() override;

    // Reading is the base class's, from the header read and the row source
    // of libjpeg's scanlines: the whole read sets InvertCmyk and reads into
    // the planes GetImageData describes; the preview takes the embedded
    // thumbnail when there is one. Failures show no message of the table
    // (libjpeg's own go to the sink when ShowMessages is set).
    int ReadImageData() override;
    int GetImageData(int32_t* kinds, CFile* tempFile, uint8_t** planes, int64_t* offsets) override;
    int ReadPrevImageData(uint32_t& width, uint32_t& height, uint8_t*& buffer) override;
    int WriteFile() override;
    int WriteHeader() override;
    // Not used by the library; does nothing and returns 0.
    int WriteBlockData(uint8_t* rows, uint32_t channel, uint32_t rowCount) override;
    // Next rowCount rows of channels 0, 1 and 2, each row Width bytes.
    int WriteRgbDataImage(uint8_t* r, uint8_t* g, uint8_t* b, uint32_t rowCount) override;
    // Next rowCount rows of channel 3 (black) of a CMYK image, each row Width bytes.
    int WriteKDataImage(uint8_t* rows, uint32_t rowCount) override;
    int WriteTail() override;

    // Reads the JPEG held in length bytes of another open file from start on
    // (an embedded thumbnail) instead of File.
    void SetSource(CFile& file, uint64_t start, uint64_t length);

    // Encodes the planar temporary file of streamed writing into File.
    int WriteToFile(CFile* tempFile);
    int WriteQorHeader();
    // Most rows of an image of width x channels samples that a write
    // following its read (WriteFollowing) holds at once: two of its bands.
    // It releases the planes' rows above the band it starts (ReleasePlaneRows).
    static uint32_t FollowingRowsHeld(uint32_t width, uint32_t channels);

    DCTINFO* Info = nullptr;           // encoder parameters, owned
    CDCTFilter* Filter = nullptr;      // the encoder, owned
    CFile* StreamFile = nullptr;       // planar temporary file of streamed writing, owned
    std::string StreamFilePath;        // its path
    int32_t InvertCmyk = 0;            // CMYK samples are inverted on reading

protected:
    CStatus ReadHead() override;
    std::unique_ptr<CRowSource> OpenRowSource(RowPurpose purpose) override;

private:
    class RowSource;
    class EncodedOutput;
    class StreamStep;

    void GetResourcePos();
    // One libjpeg run over File or the source range.
    int Run(JpegHead* head, JpegRowSink* sink);
    // Fills Info for an encoding of the image with the given quantisation scale.
    void FillInfo(double quantScale, bool withPreviewSize);
    // Quantisation scale of JpegQuality: 1 - quality / 100.
    double QuantScale() const;
    // Deletes the output after a failed encoding.
    void DeleteOutput();
    // The bodies of WriteFile and WriteToFile.
    CStatus EncodePlanes();
    // The bands of the planes as feed makes their rows final (mcuRowBytes:
    // the encoder's band of one MCU row).
    CStatus EncodeFollowing(CRowFeed& feed, uint32_t mcuRowBytes);
    // The image from stored rows on the worker threads, with progress and Esc.
    CStatus EncodeStored(const CStoredRows& stored);
    CStatus EncodeStreamFile(CFile* tempFile);
    // Streamed writing: makes the planar temporary file, or reopens it for the black rows.
    CStatus OpenStreamFile(bool reopen);
    // Writes rowCount rows of planes first .. first + count - 1 at the rows received so far.
    CStatus StreamRows(uint32_t first, uint8_t* const* rows, uint32_t count, uint32_t rowCount);
    CStatus StreamRgbRows(COperation& op, uint8_t* r, uint8_t* g, uint8_t* b, uint32_t rowCount);
    // Encodes the finished temporary file and removes it.
    CStatus FinishStream(COperation& op);
    void DropStreamFile();
    // Drops a streamed write under way (after Esc or a file error).
    void AbandonStream();

    // Streamed writing: 0 idle, 1 collecting channels 0-2, 2 collecting channel 3.
    int32_t m_streamPhase = 0;
    // The file a read runs over, when not File.
    CFile* m_source = nullptr;
    uint64_t m_sourceStart = 0;
    uint64_t m_sourceLength = UINT64_MAX;
};

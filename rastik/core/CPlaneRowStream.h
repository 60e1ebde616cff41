// The row pipeline of every codec: a stream over the channel planes of an
// image that a reader fills or a writer drains row by row, in the order of
// the file. Rows of heap planes are handed out in place; rows of spilled
// planes go through one staging grant (AllocLargeBuffer) shared by those
// planes and move to and from the temporary file a chunk at a time. Every
// row counts on the progress bar and polls Esc; a press marks the image's
// EscPressed. A failure keeps its message (Status); the stream shows it
// itself unless its caller reports the status.
//
//   CPlaneRowStream rows(*this, CPlaneRowStream::kFill, CPlaneRowStream::kBottomUp, 3);
//   if (!rows.Open()) return 0;
//   for (uint32_t n = 0; n < Height; ++n) {
//       decode file row n into rows.Row(0), rows.Row(1), rows.Row(2);
//       if (!rows.Advance()) return 0;        // Esc or a failed flush
//   }
//   return rows.Finish() == CPlaneRowStream::kDone;
#pragma once

#include <cstdint>

#include "rastik/CRastik.h"
#include "rastik/core/CReadFollower.h"
#include "rastik/core/CRowProgress.h"
#include "rastik/core/CStatus.h"
#include "rastik/support/NonCopyable.h"

class CPlaneWindow;

class CPlaneRowStream : private NonCopyable {
public:
    // Fill: the codec writes rows into the planes (reading a file).
    // Drain: the codec takes rows out of the planes (writing a file).
    enum Access { kFill, kDrain };
    // The order rows pass: from row 0 down, from the last row up, or any
    // order (interlaced or tiled files: each row is written straight through).
    enum Direction { kTopDown, kBottomUp, kAnyOrder };
    enum Outcome { kRunning, kDone, kStopped, kFailed };

    // Where the planes live when they are not the image's own: the kinds,
    // heap blocks and temporary-file offsets a host hands to GetImageData.
    struct PlaneSet {
        const int32_t* kinds;
        uint8_t* const* data;
        const int64_t* offsets;
        CFile* tempFile;
    };

    // Over planes 0 .. planes - 1 of the image. group: the rows a codec
    // handles at once (1, an MCU row, a strip); chunks of spilled rows hold
    // whole groups.
    CPlaneRowStream(CRastik& image, Access access, Direction direction, uint32_t planes, uint32_t group = 1);
    CPlaneRowStream(CRastik& image, const PlaneSet& set, Access access, Direction direction, uint32_t planes,
                    uint32_t group = 1);
    ~CPlaneRowStream();

    // Checks the planes and takes the staging grant when some are spilled;
    // false when a plane is missing or no grant can be had (27609 shown by
    // writers always, by readers when ShowMessages is set).
    bool Open();
    // Progress counts total rows from done on; by default the image height
    // from 0.
    void SetProgress(uint32_t total, uint32_t done = 0);
    // Rows pass without progress or Esc poll: a step the stream follows
    // shows both.
    void WithoutProgress() { m_quiet = true; }

    // Image row of the i-th row of the current group.
    uint32_t RowIndex(uint32_t i = 0) const;
    // Rows still to pass.
    uint32_t RowsLeft() const { return m_height - m_pos; }
    // The i-th row of the current group in plane p: BytesPerLine bytes to fill
    // or read; the rows of a group follow each other BytesPerLine apart. Null
    // after a failure or for a row past the end.
    uint8_t* Row(uint32_t plane, uint32_t i = 0);
    // Moves past rows rows (by default one group): progress and Esc after
    // each, spilled rows written out or read in as chunks complete. False
    // once the stream stopped (Esc) or failed.
    bool Advance(uint32_t rows = 0);
    // Ends the stream: staged rows of a fill are written out. The outcome:
    // done (also when the codec ended early on its own), stopped or failed.
    Outcome Finish();
    Outcome Result() const { return m_outcome; }
    // The outcome as a status: a failure carries its message (27609 no
    // staging grant, 27708 a full disk).
    CStatus Status() const;
    // Leaves showing the failure's message to the caller, who reports the
    // status (the base class's drivers); by default the stream shows it
    // itself.
    void LeaveMessagesToStatus() { m_showsOwnMessages = false; }
    // A top-down fill of heap planes tells follower, after every advance,
    // how many rows from the top are final; other streams tell it nothing.
    void FollowedBy(CReadFollower* follower) { m_follower = follower; }

    // Any order: row r of plane p, in place for heap planes, else a row buffer
    // of the plane; Commit(r) writes the row through and counts it. A fill
    // may visit a row again (interlaced passes add pixels to it): with
    // revisit the row buffer of a spilled plane holds what was committed.
    uint8_t* RowAt(uint32_t plane, uint32_t row, bool revisit = false);
    bool Commit(uint32_t row);

    // Marks the stream failed; a file exception shows its message.
    void Fail();
    void Fail(const CFileException& error);
    // A failure with a message of the table.
    void Fail(int message);

private:
    bool Spilled(uint32_t plane) const { return m_kinds[plane] == kChannelTemp; }
    // Image row row of a heap plane; null (and failed) outside its window.
    uint8_t* HeapRow(uint32_t plane, uint32_t row);
    uint8_t* StagedRow(uint32_t plane, uint32_t row) const;
    // Image rows of the chunk that starts at stream position pos.
    void ChunkAt(uint32_t pos);
    bool FlushChunk();
    bool LoadChunk();
    bool MoveRows(uint32_t plane, uint32_t row, uint32_t rows, uint8_t* at, bool toFile);
    bool ShowsMessages() const;

    CRastik& m_image;
    Access m_access;
    Direction m_direction;
    uint32_t m_planes;
    uint32_t m_group;
    uint32_t m_height;
    uint32_t m_stride;
    int32_t m_kinds[kMaxChannels] = {};
    uint8_t* m_data[kMaxChannels] = {};
    int64_t m_offsets[kMaxChannels] = {};
    CFile* m_tempFile = nullptr;

    // The staging grant: a slot of m_chunkRows rows for each spilled plane.
    uint8_t* m_stage = nullptr;
    uint32_t m_slot[kMaxChannels] = {};
    uint32_t m_spilled = 0, m_chunkRows = 0;
    // The chunk in the stage: stream positions [m_chunkPos, m_chunkPos +
    // m_chunkCount), image rows [m_chunkLow, m_chunkLow + m_chunkCount).
    uint32_t m_chunkPos = 0, m_chunkCount = 0, m_chunkLow = 0;
    bool m_chunkLoaded = false;

    uint32_t m_pos = 0;
    CRowProgress m_progress;
    Outcome m_outcome = kRunning;
    int m_message = 0;
    bool m_showsOwnMessages = true;
    CReadFollower* m_follower = nullptr;
    // The window the image's planes hold, if they hold one (CPlaneWindow).
    const CPlaneWindow* m_window = nullptr;
    bool m_quiet = false;
};

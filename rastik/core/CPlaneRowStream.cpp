// The plane-row stream of the codecs' row loops.
#include "rastik/core/CPlaneRowStream.h"

#include <algorithm>

#include "rastik/General.h"
#include "rastik/Messages.h"
#include "rastik/core/CPlaneWindow.h"

CPlaneRowStream::CPlaneRowStream(CRastik& image, Access access, Direction direction, uint32_t planes,
                                 uint32_t group)
    : CPlaneRowStream(image, PlaneSet{image.ChannelKind, image.ChannelData, image.ChannelOffset, image.TempFileObject},
                      access, direction, planes, group)
{
}

CPlaneRowStream::CPlaneRowStream(CRastik& image, const PlaneSet& set, Access access, Direction direction,
                                 uint32_t planes, uint32_t group)
    : m_image(image), m_access(access), m_direction(direction),
      m_planes(std::min<uint32_t>(planes, kMaxChannels)), m_group(group ? group : 1), m_height(image.Height),
      m_stride(image.BytesPerLine), m_tempFile(set.tempFile), m_progress(image.Height, 0, &image.EscPressed)
{
    for (uint32_t p = 0; p < m_planes; ++p) {
        m_kinds[p] = set.kinds ? set.kinds[p] : kChannelNone;
        m_data[p] = set.data ? set.data[p] : nullptr;
        m_offsets[p] = set.offsets ? set.offsets[p] : 0;
    }
    // The image's own planes may hold a window of their rows; planes a host
    // hands over are whole.
    const bool own = set.data >= image.ChannelData && set.data < image.ChannelData + kMaxChannels;
    if (own) m_window = image.PlaneWindow().get();
}

CPlaneRowStream::~CPlaneRowStream()
{
    FreeBuffer(&m_stage);
}

bool CPlaneRowStream::ShowsMessages() const
{
    // Writers tell the user why a file could not be saved; readers only when
    // the host asked for messages.
    return m_access == kDrain || m_image.ShowMessages;
}

void CPlaneRowStream::Fail()
{
    m_outcome = kFailed;
}

void CPlaneRowStream::Fail(const CFileException& error)
{
    Fail(CStatus::FileFailure(error).Message());
}

void CPlaneRowStream::Fail(int message)
{
    m_outcome = kFailed;
    m_message = message;
    if (m_showsOwnMessages && message && ShowsMessages()) ShowRastikMessage(message);
}

CStatus CPlaneRowStream::Status() const
{
    switch (m_outcome) {
    case kRunning:
    case kDone: return CStatus::Ok();
    case kStopped: return CStatus::Stopped();
    default: return CStatus::Failed(m_message);
    }
}

void CPlaneRowStream::SetProgress(uint32_t total, uint32_t done)
{
    m_progress = CRowProgress(total, done, &m_image.EscPressed);
}

bool CPlaneRowStream::Open()
{
    if (m_height == 0 || m_image.Width == 0 || m_stride < m_image.Width || m_planes == 0) return false;
    m_spilled = 0;
    for (uint32_t p = 0; p < m_planes; ++p) {
        if (m_kinds[p] == kChannelHeap && m_data[p]) continue;
        if (m_kinds[p] != kChannelTemp || !m_tempFile) return false;
        m_slot[p] = m_spilled++;
    }
    if (m_spilled == 0) return true;
    // One grant for the spilled planes: whole groups of rows of each.
    uint32_t group = m_direction == kAnyOrder ? 1 : std::min(m_group, m_height);
    uint64_t unit = static_cast<uint64_t>(m_spilled) * m_stride * group;
    if (unit > 0xFFFFFFFFull) return false;
    uint64_t want = static_cast<uint64_t>(m_spilled) * m_stride * m_height;
    want = std::max(want, unit);
    want = std::min<uint64_t>(want, 0xFFFFFFFFull / unit * unit);
    uint32_t granted = 0;
    m_stage = static_cast<uint8_t*>(
        AllocLargeBuffer(static_cast<uint32_t>(want), static_cast<uint32_t>(unit), &granted, 0));
    if (!m_stage || granted < unit) {
        FreeBuffer(&m_stage);
        Fail(kMsgNoBuffer);
        return false;
    }
    m_chunkRows = static_cast<uint32_t>(granted / unit) * group;
    return true;
}

uint32_t CPlaneRowStream::RowIndex(uint32_t i) const
{
    uint32_t pos = m_pos + i;
    return m_direction == kBottomUp ? m_height - 1 - pos : pos;
}

uint8_t* CPlaneRowStream::StagedRow(uint32_t plane, uint32_t row) const
{
    return m_stage + (static_cast<size_t>(m_slot[plane]) * m_chunkRows + (row - m_chunkLow)) * m_stride;
}

void CPlaneRowStream::ChunkAt(uint32_t pos)
{
    m_chunkPos = pos;
    m_chunkCount = std::min(m_chunkRows, m_height - pos);
    m_chunkLow = m_direction == kBottomUp ? m_height - pos - m_chunkCount : pos;
    m_chunkLoaded = false;
}

bool CPlaneRowStream::MoveRows(uint32_t plane, uint32_t row, uint32_t rows, uint8_t* at, bool toFile)
{
    if (rows == 0) return true;
    try {
        int64_t where = m_offsets[plane] + static_cast<int64_t>(row) * m_stride;
        uint32_t bytes = rows * m_stride;
        m_tempFile->Seek(where, CFile::begin);
        if (toFile) {
            m_tempFile->Write(at, bytes);
        } else if (m_tempFile->Read(at, bytes) != bytes) {
            Fail();
            return false;
        }
    } catch (const CFileException& e) {
        Fail(e);
        return false;
    }
    return true;
}

// Writes the rows of the chunk that were filled: those passed since it began.
bool CPlaneRowStream::FlushChunk()
{
    if (m_chunkCount == 0 || m_pos <= m_chunkPos) return true;
    uint32_t filled = std::min(m_pos - m_chunkPos, m_chunkCount);
    uint32_t low = m_direction == kBottomUp ? m_chunkLow + m_chunkCount - filled : m_chunkLow;
    for (uint32_t p = 0; p < m_planes; ++p)
        if (Spilled(p) && !MoveRows(p, low, filled, StagedRow(p, low), true)) return false;
    m_chunkCount = 0;
    return true;
}

bool CPlaneRowStream::LoadChunk()
{
    for (uint32_t p = 0; p < m_planes; ++p)
        if (Spilled(p) && !MoveRows(p, m_chunkLow, m_chunkCount, StagedRow(p, m_chunkLow), false)) return false;
    m_chunkLoaded = true;
    return true;
}

uint8_t* CPlaneRowStream::HeapRow(uint32_t plane, uint32_t row)
{
    if (!m_window) return m_data[plane] + static_cast<size_t>(row) * m_stride;
    // A row outside the window would lie over rows still to be written.
    if (!m_window->MayFill(row)) {
        Fail();
        return nullptr;
    }
    return m_data[plane] + static_cast<size_t>(m_window->Slot(row)) * m_stride;
}

uint8_t* CPlaneRowStream::Row(uint32_t plane, uint32_t i)
{
    if (m_outcome != kRunning || plane >= m_planes || m_direction == kAnyOrder) return nullptr;
    if (m_pos + i >= m_height) return nullptr;
    uint32_t row = RowIndex(i);
    if (!Spilled(plane)) return HeapRow(plane, row);
    if (!m_stage) return nullptr;
    uint32_t pos = m_pos + i;
    if (m_chunkCount == 0 || pos < m_chunkPos || pos >= m_chunkPos + m_chunkCount) {
        if (m_access == kFill && !FlushChunk()) return nullptr;
        ChunkAt(pos - (pos - m_pos) % m_group);
    }
    if (m_access == kDrain && !m_chunkLoaded && !LoadChunk()) return nullptr;
    return StagedRow(plane, row);
}

bool CPlaneRowStream::Advance(uint32_t rows)
{
    if (m_outcome != kRunning) return false;
    if (rows == 0) rows = m_group;
    rows = std::min(rows, m_height - m_pos);
    for (uint32_t i = 0; i < rows; ++i) {
        ++m_pos;
        if (m_access == kFill && m_chunkCount && m_pos == m_chunkPos + m_chunkCount && !FlushChunk()) return false;
        if (!m_quiet && !m_progress.Step()) {
            m_outcome = kStopped;
            return false;
        }
    }
    if (m_follower && m_access == kFill && m_direction == kTopDown && m_spilled == 0) m_follower->RowsFinal(m_pos);
    return true;
}

CPlaneRowStream::Outcome CPlaneRowStream::Finish()
{
    if (m_outcome != kRunning) return m_outcome;
    if (m_access == kFill && m_direction != kAnyOrder && m_stage && !FlushChunk()) return m_outcome;
    m_outcome = kDone;
    return m_outcome;
}

uint8_t* CPlaneRowStream::RowAt(uint32_t plane, uint32_t row, bool revisit)
{
    if (m_outcome != kRunning || plane >= m_planes || row >= m_height || m_direction != kAnyOrder) return nullptr;
    if (m_window) {
        Fail();
        return nullptr;
    }
    if (!Spilled(plane)) return m_data[plane] + static_cast<size_t>(row) * m_stride;
    if (!m_stage) return nullptr;
    uint8_t* at = m_stage + static_cast<size_t>(m_slot[plane]) * m_chunkRows * m_stride;
    if ((m_access == kDrain || revisit) && !MoveRows(plane, row, 1, at, false)) return nullptr;
    return at;
}

bool CPlaneRowStream::Commit(uint32_t row)
{
    if (m_outcome != kRunning || row >= m_height || m_direction != kAnyOrder) return false;
    if (m_access == kFill) {
        for (uint32_t p = 0; p < m_planes; ++p) {
            if (!Spilled(p)) continue;
            uint8_t* at = m_stage + static_cast<size_t>(m_slot[p]) * m_chunkRows * m_stride;
            if (!MoveRows(p, row, 1, at, true)) return false;
        }
    }
    ++m_pos;
    if (m_progress.Step()) return true;
    m_outcome = kStopped;
    return false;
}

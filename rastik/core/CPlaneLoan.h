// Lends the channel planes of one image to another for a write: the
// borrower takes the lender's plane kinds, heap blocks, temporary-file
// offsets, row counters, temporary-file object and plane window, and gets
// its own back when the loan ends, so each image still releases only what
// it owns.
#pragma once

#include <cstdint>
#include <memory>

#include "rastik/CRastik.h"
#include "rastik/support/NonCopyable.h"

class CPlaneLoan : private NonCopyable {
public:
    CPlaneLoan(CRastik& lender, CRastik& borrower);
    ~CPlaneLoan();

private:
    CRastik& m_borrower;
    int32_t m_kind[kMaxChannels];
    uint8_t* m_data[kMaxChannels];
    int64_t m_offset[kMaxChannels];
    uint32_t m_rowsWritten[kMaxChannels];
    CFile* m_tempFileObject;
    std::shared_ptr<CPlaneWindow> m_window;
};

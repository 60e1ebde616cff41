// Lending channel planes from one image to another.
#include "rastik/core/CPlaneLoan.h"

#include <cstring>
#include <utility>

CPlaneLoan::CPlaneLoan(CRastik& lender, CRastik& borrower)
    : m_borrower(borrower), m_tempFileObject(borrower.TempFileObject)
{
    memcpy(m_kind, borrower.ChannelKind, sizeof m_kind);
    memcpy(m_data, borrower.ChannelData, sizeof m_data);
    memcpy(m_offset, borrower.ChannelOffset, sizeof m_offset);
    memcpy(m_rowsWritten, borrower.RowsWritten, sizeof m_rowsWritten);
    memcpy(borrower.ChannelKind, lender.ChannelKind, sizeof m_kind);
    memcpy(borrower.ChannelData, lender.ChannelData, sizeof m_data);
    memcpy(borrower.ChannelOffset, lender.ChannelOffset, sizeof m_offset);
    memcpy(borrower.RowsWritten, lender.RowsWritten, sizeof m_rowsWritten);
    borrower.TempFileObject = lender.TempFileObject;
    m_window = borrower.PlaneWindow();
    borrower.WindowPlanes(lender.PlaneWindow());
}

CPlaneLoan::~CPlaneLoan()
{
    memcpy(m_borrower.ChannelKind, m_kind, sizeof m_kind);
    memcpy(m_borrower.ChannelData, m_data, sizeof m_data);
    memcpy(m_borrower.ChannelOffset, m_offset, sizeof m_offset);
    memcpy(m_borrower.RowsWritten, m_rowsWritten, sizeof m_rowsWritten);
    m_borrower.TempFileObject = m_tempFileObject;
    m_borrower.WindowPlanes(std::move(m_window));
}

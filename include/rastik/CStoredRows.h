// A source image's rows taken straight from its file by position, from any
// thread at once: 8-bit red, green and blue samples split into planes, rows
// counted from the top of the image whatever order the file keeps them in.
// A writer that codes rows independently reads them this way on its worker
// threads, without the source's planes.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

class CStoredRows {
public:
    virtual ~CStoredRows() = default;

    // Bytes of scratch that Take needs for rows rows.
    virtual size_t ScratchBytes(uint32_t rows) const = 0;
    // Rows first .. first + rows - 1 into planes[0..2] (red, green, blue),
    // stride bytes from one row to the next; scratch holds ScratchBytes(rows)
    // bytes. False when the file does not give them.
    virtual bool Take(uint32_t first, uint32_t rows, uint8_t* const* planes, size_t stride,
                      uint8_t* scratch) const = 0;
    // Whether a Take failed: the file did not give the rows it should.
    bool Failed() const { return m_failed.load(); }

protected:
    void NoteFailure() const { m_failed = true; }

private:
    mutable std::atomic<bool> m_failed{false};
};

// A coder of TIFF strips chosen when the file is written: one object codes
// one strip at a time from rows of interleaved 8-bit samples, its bytes
// depending on those rows alone, so that twins can code strips on worker
// threads.
#pragma once

#include <cstdint>
#include <memory>

class CTiffStripEncoder {
public:
    virtual ~CTiffStripEncoder() = default;

    // A coder of the same kind and settings.
    virtual std::unique_ptr<CTiffStripEncoder> Twin() const = 0;
    // Rows a strip other than the last must be a multiple of.
    virtual uint32_t RowUnit() const { return 1; }
    // Sizes the work memory for strips of up to rows rows; false when it
    // cannot be had.
    virtual bool Reserve(uint32_t rows) = 0;
    // Codes rowCount rows as one strip; false when that fails.
    virtual bool Encode(const uint8_t* rows, uint32_t rowCount) = 0;
    // The last strip's bytes.
    virtual const uint8_t* Data() const = 0;
    virtual uint32_t Length() const = 0;
};

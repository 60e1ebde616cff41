// TIFF samples of every depth and SampleFormat to one byte per sample, and
// the predictors undone on a decoded row.
//
// Each conversion takes count samples of a row as stored, multi-byte samples
// in the file's byte order, samples of 2 and 12 bits packed most significant
// bit first whatever the byte order; dst receives one byte per sample and
// may be src itself, except for 2- and 12-bit samples. The mappings are those ImageMagick shows
// (its BMP output) except for 16-bit unsigned samples, which keep the
// reader's rule of the high-order byte:
// - 2 bits: 0..3, or for grey 0, 85, 170, 255;
// - 12 bits: v x 255 / 4095 rounded;
// - 32 bits unsigned: v / 65537 truncated to a 16-bit quantum q, then q /
//   257 rounded (as every quantum below);
// - signed 8 bits: the stored byte; signed 16 bits: v + 32768 as the
//   quantum; signed 32 bits: as unsigned;
// - floating point (16-bit half, 24-bit with a 7-bit exponent of bias 63
//   and a 16-bit fraction, 32 and 64 bits): 0..1 scaled to the quantum
//   0..65535 (in single precision but for 64-bit samples), rounded half
//   up; below 0 and NaN give 0, from 1 up 255.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tiff {

// SampleFormat values.
enum SampleFormat : uint32_t { kUnsignedInteger = 1, kSignedInteger = 2, kFloatingPoint = 3, kUndefinedFormat = 4 };

// A 16-bit quantum to a byte, rounded (q / 257).
inline uint8_t QuantumToByte(uint32_t q)
{
    return static_cast<uint8_t>(((q + 128) - ((q + 128) >> 8)) >> 8);
}

void Samples2ToBytes(const uint8_t* src, uint8_t* dst, size_t count, bool grey);
void Samples12ToBytes(const uint8_t* src, uint8_t* dst, size_t count);
void Samples16ToBytes(const uint8_t* src, uint8_t* dst, size_t count, bool little);
void Samples32ToBytes(const uint8_t* src, uint8_t* dst, size_t count, bool little);
void SignedSamples8ToBytes(const uint8_t* src, uint8_t* dst, size_t count);
void SignedSamples16ToBytes(const uint8_t* src, uint8_t* dst, size_t count, bool little);
void FloatSamples16ToBytes(const uint8_t* src, uint8_t* dst, size_t count, bool little);
void FloatSamples24ToBytes(const uint8_t* src, uint8_t* dst, size_t count, bool little);
void FloatSamples32ToBytes(const uint8_t* src, uint8_t* dst, size_t count, bool little);
void FloatSamples64ToBytes(const uint8_t* src, uint8_t* dst, size_t count, bool little);

// Whether samples of bits and format convert here (8-bit unsigned samples
// and 1- and 4-bit ones are the reader's own); the conversion by those.
// format 4 (undefined) counts as unsigned.
bool ConvertsSamples(uint32_t bits, uint32_t format);
bool SamplesToBytes(const uint8_t* src, uint8_t* dst, size_t count, uint32_t bits, uint32_t format, bool little,
                    bool grey);

// Predictor 2 (horizontal differencing) undone on a row of samples of
// bytesPerSample bytes (1, 2, 4 or 8) in the file's byte order: every
// sample but those of the first pixel adds the same sample of the pixel
// before, modulo its width.
void UndoHorizontalDifferencing(uint8_t* row, uint32_t width, uint32_t samplesPerPixel, uint32_t bytesPerSample,
                                bool little);

// Predictor 3 (floating point) undone on a row of width x samplesPerPixel
// floating-point samples of bytesPerSample bytes (2, 3, 4 or 8): the row
// was stored as the differences, byte by byte with a step of samples per
// pixel, of the samples' bytes regrouped by significance (all the most
// significant bytes first, the least significant last). The row is left
// with its samples in the file's byte order. scratch holds the row's bytes.
void UndoFloatPredictor(uint8_t* row, uint8_t* scratch, uint32_t width, uint32_t samplesPerPixel,
                        uint32_t bytesPerSample, bool little);

}  // namespace tiff

// Identifiers of the user-visible messages and their lookup.
#pragma once

#include <cstdint>
#include <string>

#include "rastik/RastikApi.h"

enum RastikMessageId {
    kMsgBadHeader = 27601,        // bad or unsupported header
    kMsgCompressedBmp = 27605,    // compressed bitmap
    kMsgBmpChannels = 27607,      // grey, CMYK or many channels cannot be a bitmap
    kMsgResolutionUnit = 27608,   // resolution unit that cannot be written
    kMsgNoBuffer = 27609,         // buffer allocation failed
    kMsgBadFileData = 27610,      // malformed file
    kMsgCannotCreate = 27614,     // output cannot be created
    kMsgImageType = 27615,        // colour mode the writer refuses
    kMsgOnly8Bit = 27707,         // only 8 bits per sample
    kMsgDiskFull = 27708,         // disk full
    kMsgUnsupported = 27709,      // format variant not supported
    kMsgTooManyPixels = 27710,    // more pixels than the limit of SetMaxPixels
    kMsgNoTempSpace = 27711,      // the temporary directory cannot hold the spilled planes
    kMsgDataEnded = 27712,        // a conversion's source data ended before its last row
    kMsgNoPlaneSpace = 27713,     // a conversion's planes fit neither the heap cap nor the disk
    kMsgNoTargetSpace = 27714,    // the target's directory cannot hold the largest file the writer may make
    kMsgNoSuchPage = 27715        // the file holds fewer pages than the one asked for
};

extern "C" {
// The UTF-8 text of a message id, or null for an unknown id.
RASTIK_API const char* GetRastikMessageText(int id);
}

class CFileException;

// Shows a message of the table through the message sink; returns 1. A
// message that names figures shows them: 27710 the pixel limit.
RASTIK_API int ShowRastikMessage(int id);
// The text of a message with the figures it names, in order (27710: the
// limit; 27711: the bytes needed, the bytes free; 27712: the row, the
// rows; 27713: the heap cap, the bytes free; 27714: the bytes needed, the
// bytes free; 27715: the pages, the page asked for); the table's text for the
// others.
RASTIK_API std::string RastikMessageText(int id, uint64_t first, uint64_t second);
RASTIK_API int ShowRastikMessage(int id, uint64_t first, uint64_t second);
// Shows what a failed file write means to the user: 27708 when the disk is
// full, nothing for other causes. Returns 0, the result of the failed write.
int ShowFileError(const CFileException& error);

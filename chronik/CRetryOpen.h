// Opening a store file for exclusive (or shared) use, retried while another
// process holds it. The lock taken by the open lasts until the file is closed,
// so processes sharing a directory take turns.
#pragma once

#include <string>

#include "platform/CFile.h"

class CRetryOpen {
public:
    // Tries the open up to attempts times, 10 ms apart (another process may
    // hold the file); a missing file, a bad path or a refused permission end
    // the attempts at once, since waiting cannot cure them. osError, when
    // given, receives the system error of the last failure (EWOULDBLOCK when
    // the file stayed locked).
    static bool Open(CFile& file, const std::string& path, unsigned flags, int attempts, int* osError = nullptr);

    static constexpr uint32_t kRetryMilliseconds = 10;
};

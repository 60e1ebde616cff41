// Numbers and times as the chronik tool takes them on its command line and
// the event server takes them in its queries.
#pragma once

#include <cstdint>
#include <string>

class CToolArgs {
public:
    // Decimal, or hexadecimal after "0x"; 0 to 4294967295, no sign.
    static bool ParseNumber(const std::string& text, uint32_t& value);
    // Seconds since 1970, or "YYYY-MM-DD HH:MM:SS" in local time.
    static bool ParseTime(const std::string& text, uint32_t& value);
};

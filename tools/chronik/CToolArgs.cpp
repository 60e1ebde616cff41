// Parsing of the chronik tool's numbers and times.
#include "CToolArgs.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

bool CToolArgs::ParseNumber(const std::string& text, uint32_t& value)
{
    const char* s = text.c_str();
    int base = 10;
    if (text.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
        base = 16;
        s += 2;
    }
    if (!*s || *s == '-' || *s == '+' || *s == ' ') return false;
    errno = 0;
    char* end = nullptr;
    unsigned long long v = strtoull(s, &end, base);
    if (errno || *end || v > 0xFFFFFFFFull) return false;
    value = static_cast<uint32_t>(v);
    return true;
}

bool CToolArgs::ParseTime(const std::string& text, uint32_t& value)
{
    if (ParseNumber(text, value)) return true;
    struct tm t;
    memset(&t, 0, sizeof t);
    const char* end = strptime(text.c_str(), "%Y-%m-%d %H:%M:%S", &t);
    if (!end || *end) return false;
    t.tm_isdst = -1;
    time_t secs = mktime(&t);
    if (secs < 0 || static_cast<long long>(secs) > 0xFFFFFFFFll) return false;
    value = static_cast<uint32_t>(secs);
    return true;
}

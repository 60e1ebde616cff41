// GBK (code page 936) forms of the texts of a DiagRecord.
#include "chronik/chronik.h"

#include <iconv.h>

#include <cerrno>
#include <vector>

std::string DiagRecord::ToGbk(const std::string& utf8)
{
    bool plain = true;
    for (unsigned char c : utf8) plain = plain && c < 0x80;
    if (plain) return utf8;

    iconv_t cd = iconv_open("GBK", "UTF-8");
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::string();
    std::string out;
    std::vector<char> buffer(utf8.size() * 2 + 16);
    char* in = const_cast<char*>(utf8.data());
    size_t inLeft = utf8.size();
    while (inLeft > 0) {
        char* dst = buffer.data();
        size_t dstLeft = buffer.size();
        size_t rc = iconv(cd, &in, &inLeft, &dst, &dstLeft);
        out.append(buffer.data(), static_cast<size_t>(dst - buffer.data()));
        if (rc == static_cast<size_t>(-1) && errno != E2BIG) {
            // A character GBK lacks, or a broken sequence: one '?', then go on
            // at the next character.
            out.push_back('?');
            ++in;
            --inLeft;
            while (inLeft > 0 && (static_cast<unsigned char>(*in) & 0xC0) == 0x80) {
                ++in;
                --inLeft;
            }
        }
    }
    iconv_close(cd);
    return out;
}

std::string DiagRecord::TimeTextGbk() const { return ToGbk(timeText); }
std::string DiagRecord::ClearTimeTextGbk() const { return ToGbk(clearTimeText); }
std::string DiagRecord::MessageTextGbk() const { return ToGbk(messageText); }
std::string DiagRecord::CategoryTextGbk() const { return ToGbk(categoryText); }

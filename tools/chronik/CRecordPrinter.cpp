// Table and JSON output of the chronik tool.
#include "CRecordPrinter.h"

#include <cinttypes>

size_t CRecordPrinter::DisplayWidth(const std::string& text)
{
    size_t width = 0;
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        size_t len = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        width += len >= 3 ? 2 : 1;
        i += len;
    }
    return width;
}

std::string CRecordPrinter::Pad(const std::string& text, size_t width)
{
    size_t w = DisplayWidth(text);
    return w >= width ? text : text + std::string(width - w, ' ');
}

size_t CRecordPrinter::PrintTable(const DiagRecordList& records, FILE* out)
{
    if (records.size() < 2) return 0;
    fprintf(out, "%s  %s  %s  %s\n", Pad("TIME", 19).c_str(), Pad("CLEAR TIME", 19).c_str(),
            Pad("CATEGORY", 8).c_str(), "MESSAGE");
    size_t n = 0;
    for (auto it = std::next(records.begin()); it != records.end(); ++it, ++n) {
        fprintf(out, "%s  %s  %s  %s\n", Pad(it->timeText, 19).c_str(), Pad(it->clearTimeText, 19).c_str(),
                Pad(it->categoryText, 8).c_str(), it->messageText.c_str());
    }
    return n;
}

std::string CRecordPrinter::JsonString(const std::string& text)
{
    std::string s = "\"";
    for (unsigned char c : text) {
        switch (c) {
        case '"': s += "\\\""; break;
        case '\\': s += "\\\\"; break;
        case '\n': s += "\\n"; break;
        case '\r': s += "\\r"; break;
        case '\t': s += "\\t"; break;
        default:
            if (c < 0x20) {
                char esc[8];
                snprintf(esc, sizeof esc, "\\u%04x", c);
                s += esc;
            } else {
                s += static_cast<char>(c);
            }
        }
    }
    return s + "\"";
}

std::string CRecordPrinter::JsonObject(const DiagRecord& r)
{
    char numbers[160];
    snprintf(numbers, sizeof numbers,
             "{\"cleared\": %" PRId32 ", \"isStationEvent\": %" PRId32 ", \"beforeRange\": %" PRId32, r.cleared,
             r.isStationEvent, r.beforeRange);
    char tail[80];
    snprintf(tail, sizeof tail, ", \"code\": %" PRIu32 ", \"time\": %" PRIu32 "}", r.code, r.time);
    return numbers + (", \"timeText\": " + JsonString(r.timeText)) + ", \"clearTimeText\": " +
           JsonString(r.clearTimeText) + ", \"messageText\": " + JsonString(r.messageText) +
           ", \"categoryText\": " + JsonString(r.categoryText) + tail;
}

size_t CRecordPrinter::PrintJson(const DiagRecordList& records, FILE* out)
{
    if (records.size() < 2) return 0;
    size_t n = 0;
    fputs("[\n", out);
    for (auto it = std::next(records.begin()); it != records.end(); ++it, ++n)
        fprintf(out, "%s  %s", n ? ",\n" : "", JsonObject(*it).c_str());
    fputs("\n]\n", out);
    return n;
}

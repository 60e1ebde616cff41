// Prints the records of a read as a table (time, clear time, category,
// message) or as a JSON array of objects with the record's field names.
#pragma once

#include <cstdio>
#include <string>

#include "chronik/chronik.h"

class CRecordPrinter {
public:
    // Prints every record after the placeholder; returns how many.
    static size_t PrintTable(const DiagRecordList& records, FILE* out);
    static size_t PrintJson(const DiagRecordList& records, FILE* out);

    // Columns a UTF-8 text takes on a terminal (CJK characters take two).
    static size_t DisplayWidth(const std::string& text);
    static std::string JsonString(const std::string& text);
    // One record as the JSON object --json prints: the nine record fields.
    static std::string JsonObject(const DiagRecord& record);

private:
    static std::string Pad(const std::string& text, size_t width);
};

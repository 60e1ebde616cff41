// Test support for the store: a temporary directory per test, whole-file
// reads and little-endian words of a file, and a fixture that puts the
// process-wide settings back to their defaults.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "chronik/chronik.h"

class ChronikTestDir {
public:
    ChronikTestDir();
    ~ChronikTestDir();
    ChronikTestDir(const ChronikTestDir&) = delete;
    ChronikTestDir& operator=(const ChronikTestDir&) = delete;

    const std::string& Path() const { return m_path; }
    std::string File(const std::string& name) const { return m_path + "/" + name; }
    // Names of the data files (KORVAL*.API), sorted.
    std::vector<std::string> DataFiles() const;

private:
    std::string m_path;
};

std::vector<uint8_t> ReadAll(const std::string& path);
void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes);
uint32_t WordAt(const std::vector<uint8_t>& bytes, size_t offset);
void SetWordAt(std::vector<uint8_t>& bytes, size_t offset, uint32_t value);

// Records after the placeholder; an empty vector for a null result.
std::vector<DiagRecord> Records(const DiagRecordList* list);

// Station event code from card address, kind and flag byte; module event code
// from station, cage, slot and flag byte.
uint32_t StationCode(uint32_t a, uint32_t k, uint32_t f, bool cleared = false);
uint32_t ModuleCode(uint32_t a, uint32_t r, uint32_t s, uint32_t f, bool cleared = false);
// A listed code, distinct for every writer (0 to 63) and number i (below 4096).
uint32_t WriterCode(uint32_t writer, uint32_t i);

// Defaults restored, pacing off, UTC, messages caught.
class ChronikTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    ChronikTestDir m_dir;
    static std::vector<std::string> s_messages;
};

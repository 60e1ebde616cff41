// Why the calling thread's last conversion failed: the id of a message of
// the table and the figures its text names. Each thread keeps its own, so
// conversions on several threads do not mix their causes; a conversion
// clears it when it starts.
#pragma once

#include <cstdint>
#include <string>

class CConversionFailure {
public:
    // The calling thread's record.
    static CConversionFailure& OfThread();

    void Clear() { Set(0); }
    // Keeps the first cause a conversion meets; later ones (the failures
    // that follow from it) do not replace it.
    void Set(int message, uint64_t first = 0, uint64_t second = 0);
    int Message() const { return m_message; }
    // The message's text with its figures ("" for none).
    const std::string& Text() const { return m_text; }

private:
    int m_message = 0;
    std::string m_text;
};

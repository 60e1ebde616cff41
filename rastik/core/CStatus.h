// The outcome of work inside the library, as one value: done, stopped by
// the Esc key, or failed, with the id of the message-table text that
// explains the failure (0 when the table has none for it). Codecs return it
// from their operations; the base class's drivers (COperation) keep it as
// the codec's last status, which hosts read with GetLastMessage, and turn it
// into the documented int result and, by one rule, a shown message.
#pragma once

#include <cstdint>

class CFileException;

class [[nodiscard]] CStatus {
public:
    constexpr CStatus() = default;
    static constexpr CStatus Ok() { return CStatus(); }
    static constexpr CStatus Stopped() { return CStatus(kStopped, 0); }
    static constexpr CStatus Failed(int message = 0) { return CStatus(kFailed, message); }
    // A file operation that threw: 27708 when the disk is full, else a
    // failure without a message.
    static CStatus FileFailure(const CFileException& error);

    constexpr bool IsOk() const { return m_code == kOk; }
    constexpr bool IsStopped() const { return m_code == kStopped; }
    constexpr explicit operator bool() const { return IsOk(); }
    // The message id of a failure; 0 for a success, a stop, or a failure
    // without a message.
    constexpr int Message() const { return m_message; }
    // The documented int result: 1 for a success, 0 otherwise.
    constexpr int Result() const { return IsOk() ? 1 : 0; }

private:
    enum Code : uint8_t { kOk, kStopped, kFailed };
    constexpr CStatus(Code code, int message) : m_code(code), m_message(message) {}

    Code m_code = kOk;
    int m_message = 0;
};

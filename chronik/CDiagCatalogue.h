// The diagnostic message catalogue: turns a stored event code into the texts a
// control-room display shows (message, category, time), decides whether the
// event is listed at all, and derives the key that pairs an occurrence with
// its later clear event.
//
// Code layout. 0 is the notice that the diagnostic server started,
// 0xFFFFFFFF that it stopped. Otherwise bit 31 is the cleared flag and bit 0
// tells the kind of event:
//   station event (bit 0 = 1): bits 16-24 card address A (A with bit 0 cleared
//     is its station), bits 9-15 event kind K, bits 1-8 flag byte F;
//   module event (bit 0 = 0): bits 21-29 station address A, bits 17-20 cage
//     R, bits 9-16 slot S, bits 1-8 flag byte F.
#pragma once

#include <cstdint>
#include <string>

#include "chronik/chronik.h"

class CDiagCatalogue {
public:
    // Fills cleared, isStationEvent, timeText or clearTimeText, messageText and
    // categoryText from record.code and record.time and replaces code by the
    // pairing key. Returns false when the event is not listed (no matching
    // text, or a notice while suppressNotices is set).
    static bool FormatRecord(DiagRecord& record, bool suppressNotices);
    // The same with the texts left to the caller: the message only when
    // message is set, the time text as given (none when null).
    static bool Describe(DiagRecord& record, bool suppressNotices, bool message, const std::string* timeText);

    // "YYYY-MM-DD hh:mm:ss" in local time.
    static std::string FormatTime(uint32_t time);

    static constexpr uint32_t kServerStarted = 0;
    static constexpr uint32_t kServerStopped = 0xFFFFFFFFu;

private:
    // Each decides whether the event is listed and its key; the message goes
    // to message when it is not null.
    static bool FormatModuleEvent(DiagRecord& record, std::string* message);
    static bool FormatStationEvent(DiagRecord& record, std::string* message, bool& notice);
    static bool FormatForwardingCards(std::string* message, uint32_t a, uint32_t k, uint32_t f);
};

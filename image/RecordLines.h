#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "image/HexReader.h"
#include "image/ImageSpan.h"

// The reading loop that the line-oriented image formats (Intel HEX, Motorola S-record)
// share: one record a line, blank lines skipped, an end record required, and the line and
// reason of the first refusal kept for the diagnosis.

// What a record asks of the reading loop, besides a HexResult (HexOk ends the text).
inline constexpr int kRecordGoOn = 1;

inline constexpr const char* kReasonEmptyText = "the file is empty";

constexpr bool IsRecordBlank(std::uint8_t c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Reads `text` record by record into `image`: `readRecord(text, size, cursor, state,
// reason)` takes the record at cursor.lineStart, moves the cursor past its line and
// returns kRecordGoOn, HexOk at the end record, or the failure with its reason. `State` is
// an ImageSpan with what the format's records set besides. A template, so each reader's
// record handling is inlined into the loop.
template <class State, class ReadRecord>
HexResult ReadRecordLines(const std::uint8_t* text, std::size_t size, FirmwareImage& image,
                          HexDiagnosis& diagnosis, const char* noEndReason,
                          ReadRecord&& readRecord) {
    image.imageStart = 0;
    image.imageLength = 0;
    diagnosis = HexDiagnosis{};
    if (size == 0) {
        diagnosis.reason = kReasonEmptyText;
        return HexBadFormat;
    }
    std::memset(image.imageBuffer, 0xFF, image.imageCapacity);

    State state{{image}};
    LineCursor cursor;
    std::size_t lineNumber = 0;
    while (cursor.lineStart < size) {
        ++lineNumber;
        const char* reason = "";
        const int outcome = readRecord(text, size, cursor, state, reason);
        if (outcome == kRecordGoOn) continue;
        if (outcome != HexOk) {
            diagnosis.lineNumber = lineNumber;
            diagnosis.reason = reason;
            if (outcome == HexTooLarge) {
                diagnosis.spanFirst = state.refusedFirst;
                diagnosis.spanEnd = state.refusedEnd;
            }
        }
        return static_cast<HexResult>(outcome);
    }
    diagnosis.lineNumber = lineNumber;
    diagnosis.reason = noEndReason;
    return HexBadFormat;
}

#include "image/SrecReader.h"

#include <cstring>
#include <string_view>

#include "image/ImageSpan.h"
#include "image/RecordLines.h"

namespace {

constexpr const char* kReasonNoS = "the record does not begin with 'S'";
constexpr const char* kReasonType = "the record type is none of S0-S3, S5-S9";
constexpr const char* kReasonDigits =
    "the record holds a character that is not a hexadecimal digit";
constexpr const char* kReasonLength = "the record's length does not match its byte count";
constexpr const char* kReasonShortCount = "the byte count is too small for the record's address";
constexpr const char* kReasonChecksum = "the record's checksum does not match";
constexpr const char* kReasonRecordCount =
    "the record count does not match the number of data records before it";
constexpr const char* kReasonNoEnd =
    "the text ends without an end record (S7, S8 or S9) or a count of its data records (S5, S6)";
constexpr const char* kReasonDataAfterEnd =
    "a data record (S1, S2 or S3) follows the end record; its data would be left out of the image";

constexpr auto IsBlank = IsRecordBlank;

// Bytes of the address field of each record type; 0 for the types that do not exist.
constexpr std::uint32_t kAddressBytes[10] = {2, 2, 3, 4, 0, 2, 3, 4, 3, 2};

constexpr int kGoOn = kRecordGoOn;

struct ReadState : ImageSpan {
    std::uint64_t dataRecords = 0;
    // The last record so far was a count record that counted every data record before it.
    bool allCounted = false;
    // The end record has been met and the image finished.
    bool ended = false;
};

// After the end record nothing is read, as the HEX reader reads nothing after its
// end-of-file record, but a data record there is refused: its bytes would be lost without
// a word. A line that begins with S1, S2 or S3 is one, whatever else it holds.
int AfterEnd(const std::uint8_t* p, std::size_t n, const char*& reason) {
    std::size_t lead = 0;
    while (lead < n && IsBlank(p[lead])) ++lead;
    if (n - lead >= 2 && p[lead] == 'S' && p[lead + 1] >= '1' && p[lead + 1] <= '3') {
        reason = kReasonDataAfterEnd;
        return HexBadFormat;
    }
    return kGoOn;
}

bool OnlyBlanksFrom(const std::uint8_t* text, std::size_t size, std::size_t from) {
    for (std::size_t i = from; i < size; ++i) {
        if (!IsBlank(text[i])) return false;
    }
    return true;
}

// One record, `n` characters at `p` with no line end. Returns kGoOn, HexOk at the end
// record, or the failure.
int Record(const std::uint8_t* p, std::size_t n, const std::uint16_t* pairs, ReadState& state,
           const char*& reason) {
    while (n > 0 && IsBlank(p[n - 1])) --n;
    std::size_t lead = 0;
    while (lead < n && IsBlank(p[lead])) ++lead;
    if (lead == n) return kGoOn;  // a blank line
    p += lead;
    n -= lead;
    if (p[0] != 'S') {
        reason = kReasonNoS;
        return HexBadFormat;
    }
    if (n < 4 || p[1] < '0' || p[1] > '9' || kAddressBytes[p[1] - '0'] == 0) {
        reason = n < 4 ? kReasonLength : kReasonType;
        return HexBadFormat;
    }
    const std::uint32_t type = p[1] - '0';
    const std::uint32_t count = pairs[p[2] | (p[3] << 8)];
    if (count & kNotHexPair) {
        reason = kReasonDigits;
        return HexBadFormat;
    }
    if (n != 4 + 2 * std::size_t{count}) {
        reason = kReasonLength;
        return HexBadFormat;
    }
    const std::uint32_t addressBytes = kAddressBytes[type];
    if (count < addressBytes + 1) {
        reason = kReasonShortCount;
        return HexBadFormat;
    }
    const std::uint8_t* q = p + 4;
    std::uint32_t seen = 0;
    std::uint32_t sum = count;
    auto next = [&]() {
        const std::uint32_t entry = pairs[q[0] | (q[1] << 8)];
        q += 2;
        seen |= entry;
        sum += entry;
        return entry;
    };
    std::uint32_t address = 0;
    for (std::uint32_t i = 0; i < addressBytes; ++i) address = (address << 8) | (next() & 0xFF);
    if (seen & kNotHexPair) {
        reason = kReasonDigits;
        return HexBadFormat;
    }
    const std::uint32_t dataCount = count - addressBytes - 1;
    const bool data = type >= 1 && type <= 3;
    if (data) {
        if (const char* refusal = PlaceSpan(state, address, dataCount)) {
            // The checksum first: a damaged record is damaged, whatever its address says.
            for (std::uint32_t k = 0; k <= dataCount; ++k) next();
            if (!(seen & kNotHexPair) && (sum & 0xFF) == 0xFF) {
                reason = refusal;
                return HexTooLarge;
            }
        } else {
            // Stored before the checksum is known: a failure leaves the image undefined.
            std::uint8_t* out = state.image.imageBuffer + state.writePosition;
            for (std::uint32_t k = 0; k < dataCount; ++k)
                out[k] = static_cast<std::uint8_t>(next());
            next();
        }
    } else {
        for (std::uint32_t k = 0; k <= dataCount; ++k) next();
    }
    if (seen & kNotHexPair) {
        reason = kReasonDigits;
        return HexBadFormat;
    }
    // Count, address, data and checksum sum to 0xFF: the checksum is the complement.
    if ((sum & 0xFF) != 0xFF) {
        reason = kReasonChecksum;
        return HexBadChecksum;
    }
    switch (type) {
        case 1:
        case 2:
        case 3:
            ++state.dataRecords;
            state.allCounted = false;
            return kGoOn;
        case 5:
        case 6:
            if (address != state.dataRecords) {
                reason = kReasonRecordCount;
                return HexBadFormat;
            }
            state.allCounted = true;
            return kGoOn;
        case 7:
        case 8:
        case 9:
            if (const char* refusal = FinishSpan(state)) {
                reason = refusal;
                return HexTooLarge;
            }
            return HexOk;
        default:  // the S0 header
            return kGoOn;
    }
}

}  // namespace

HexResult ReadSrecText(const std::uint8_t* text, std::size_t size, FirmwareImage& image,
                       HexDiagnosis& diagnosis) {
    const std::uint16_t* const pairs = HexPairTable();
    return ReadRecordLines<ReadState>(
        text, size, image, diagnosis, kReasonNoEnd,
        [pairs](const std::uint8_t* text, std::size_t size, LineCursor& cursor, ReadState& state,
                const char*& reason) {
            // A well-formed record tells its length by its byte count: when a line end
            // follows there, no search for it is needed.
            const std::size_t start = cursor.lineStart;
            const std::uint8_t* record = nullptr;
            std::size_t length = 0;
            if (size - start >= 4 && text[start] == 'S') {
                const std::uint32_t count = pairs[text[start + 2] | (text[start + 3] << 8)];
                const std::size_t end = start + 4 + 2 * std::size_t{count & 0xFF};
                if (!(count & kNotHexPair) && end < size && !IsBlank(text[end - 1]) &&
                    (text[end] == '\n' || text[end] == '\r')) {
                    record = text + start;
                    length = end - start;
                    cursor.lineEnd = end;
                    cursor.lineStart = text[end] == '\r' && end + 1 < size && text[end + 1] == '\n'
                                           ? end + 2
                                           : end + 1;
                }
            }
            if (record == nullptr) {
                std::string_view line;
                NextLine(text, size, cursor, line);
                record = reinterpret_cast<const std::uint8_t*>(line.data());
                length = line.size();
            }
            if (state.ended) {
                const int outcome = AfterEnd(record, length, reason);
                return outcome == kGoOn && cursor.lineStart >= size ? int{HexOk} : outcome;
            }
            const int outcome = Record(record, length, pairs, state, reason);
            if (outcome == HexOk) {  // the end record, the image finished
                state.ended = true;
                return cursor.lineStart >= size ? int{HexOk} : kGoOn;
            }
            // srec_cat ends a text without a start address with its count record and no
            // end record. A count of every data record, last in the text, shows as surely
            // as an end record that nothing was cut off.
            if (outcome == kGoOn && state.allCounted &&
                OnlyBlanksFrom(text, size, cursor.lineStart)) {
                if (const char* refusal = FinishSpan(state)) {
                    reason = refusal;
                    return int{HexTooLarge};
                }
                return int{HexOk};
            }
            return outcome;
        });
}

HexResult ReadSrecFile(const std::filesystem::path& path, FirmwareImage& image,
                       std::string& detail) {
    return ReadImageFile(path, image, detail, ReadSrecText, "Srec", "line");
}

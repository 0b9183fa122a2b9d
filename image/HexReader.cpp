#include "image/HexReader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string_view>

#include "common/FileReading.h"
#include "common/NumberText.h"
#include "common/TextFormat.h"
#include "image/ImageSpan.h"
#include "image/RecordLines.h"

namespace {

constexpr const char* kReasonNoColon = "the record does not begin with ':'";
constexpr const char* kReasonShort = "the record is shorter than 11 characters";
constexpr const char* kReasonChecksum = "the record's checksum does not match";
constexpr const char* kReasonBeyondLine = "the record needs characters beyond the end of its line";
constexpr const char* kReasonAddressCount = "the address record's byte count is not 2";
constexpr const char* kReasonNoEnd = "the text ends without an end-of-file record";

constexpr int kGoOn = kRecordGoOn;
// A record that the fast path leaves to the exact field conversion.
constexpr int kTakeExactPath = 2;
static_assert(kTakeExactPath != kGoOn);

constexpr auto IsBlank = IsRecordBlank;

// The image under construction, and the address bases the records set.
struct ReadState : ImageSpan {
    std::uint32_t segmentBase = 0;
    std::uint32_t linearBase = 0;
};

// Places a data record of `count` bytes at 16-bit `address`: sets the write position, or
// returns why the record is refused. Changes nothing when it refuses, and running it twice
// for the same record gives the same state, which lets the exact path redo a record the
// fast path left.
inline const char* PlaceData(ReadState& state, std::uint32_t address, std::uint32_t count) {
    return PlaceSpan(state, std::uint64_t{state.linearBase} + state.segmentBase + address, count);
}

// A field of a record: the characters from `index` on, at most `width` of them, read as C's
// unsigned conversion reads them (blanks, a sign, a 0X prefix; no digit reads as 0). The
// field may reach to the end of the line, its missing characters cut off, but no further.
bool Field(std::string_view line, std::size_t index, std::size_t width, std::uint32_t& value) {
    if (index + width - 1 > line.size()) return false;
    value = ParseHexNumber(line.substr(index, width));
    return true;
}

// Any record, with the field conversion exactly as defined. Count, type and data bytes
// keep the low 8 bits of their field, the address and the base values the low 16.
int ExactRecord(std::string_view line, ReadState& state, const char*& reason) {
    // The line travelled as a zero-terminated string: it ends at its first NUL.
    const std::size_t nul = line.find('\0');
    if (nul != std::string_view::npos) line = line.substr(0, nul);
    while (!line.empty() && IsBlank(static_cast<std::uint8_t>(line.back()))) line.remove_suffix(1);
    while (!line.empty() && IsBlank(static_cast<std::uint8_t>(line.front()))) line.remove_prefix(1);
    if (line.empty()) return kGoOn;
    if (line[0] != ':') {
        reason = kReasonNoColon;
        return HexBadFormat;
    }
    if (line.size() < 11) {
        reason = kReasonShort;
        return HexBadFormat;
    }

    std::uint32_t sum = 0;
    for (std::size_t i = 1; i < line.size() - 3; i += 2) sum += ParseHexNumber(line.substr(i, 2));
    const std::uint32_t checksum = ParseHexNumber(line.substr(line.size() - 2)) & 0xFF;
    if (((0x100 - sum) & 0xFF) != checksum) {
        reason = kReasonChecksum;
        return HexBadChecksum;
    }

    const std::uint32_t type = ParseHexNumber(line.substr(7, 2)) & 0xFF;
    const std::uint32_t count = ParseHexNumber(line.substr(1, 2)) & 0xFF;
    const std::uint32_t address = ParseHexNumber(line.substr(3, 4)) & 0xFFFF;
    switch (type) {
        case 0: {
            if (const char* refusal = PlaceData(state, address, count)) {
                reason = refusal;
                return HexTooLarge;
            }
            if (8 + 2 * std::size_t{count} > line.size()) {
                reason = kReasonBeyondLine;
                return HexBadFormat;
            }
            std::uint8_t* out = state.image.imageBuffer + state.writePosition;
            for (std::uint32_t k = 0; k < count; ++k) {
                std::uint32_t value = 0;
                Field(line, 9 + 2 * k, 2, value);
                out[k] = static_cast<std::uint8_t>(value);
            }
            return kGoOn;
        }
        case 1:
            if (const char* refusal = FinishSpan(state)) {
                reason = refusal;
                return HexTooLarge;
            }
            return HexOk;
        case 2:
        case 4: {
            if (count != 2) {
                reason = kReasonAddressCount;
                return HexBadFormat;
            }
            std::uint32_t value = 0;
            if (!Field(line, 9, 4, value)) {
                reason = kReasonBeyondLine;
                return HexBadFormat;
            }
            value &= 0xFFFF;
            if (type == 2)
                state.segmentBase = value << 4;
            else
                state.linearBase = value << 16;
            return kGoOn;
        }
        default:  // start addresses (3, 5) and unknown types change nothing
            return kGoOn;
    }
}

// A plain record: ':' and an odd number of hexadecimal digits, perhaps followed by blanks.
// For such a line every field is two digits read as they stand, which is what the exact
// conversion gives too; anything else goes back to the exact path.
int PlainRecord(const std::uint8_t* p, std::size_t n, const std::uint16_t* pairs, ReadState& state,
                const char*& reason) {
    while (n > 0 && IsBlank(p[n - 1])) --n;
    if (n < 11 || (n & 1) == 0 || p[0] != ':') return kTakeExactPath;

    const std::uint8_t* q = p + 1;
    const std::uint8_t* const end = p + n;
    std::uint32_t seen = 0;  // every entry OR-ed: tells whether a non-digit came by
    std::uint32_t sum = 0;   // low 8 bits: the byte sum, checksum included
    auto next = [&]() {
        const std::uint32_t entry = pairs[q[0] | (q[1] << 8)];
        q += 2;
        seen |= entry;
        sum += entry;
        return entry;
    };
    const std::uint32_t count = next() & 0xFF;
    const std::uint32_t addressHigh = next() & 0xFF;
    const std::uint32_t addressLow = next() & 0xFF;
    const std::uint32_t type = next() & 0xFF;
    // A garbled header could place the data anywhere: decide before storing a byte.
    if (seen & kNotHexPair) return kTakeExactPath;

    int failure = HexOk;
    if (type == 0) {
        const std::size_t pairCount = (n - 1) / 2;  // the checksum included
        if (const char* refusal = PlaceData(state, (addressHigh << 8) | addressLow, count)) {
            failure = HexTooLarge;
            reason = refusal;
        } else if (count > pairCount - 4) {
            failure = HexBadFormat;
            reason = kReasonBeyondLine;
        } else {
            // Stored before the digits are checked: a line that turns out not to be plain
            // is redone by the exact path, which writes the same bytes or fails the read.
            std::uint8_t* out = state.image.imageBuffer + state.writePosition;
            for (std::uint32_t k = 0; k < count; ++k) out[k] = static_cast<std::uint8_t>(next());
        }
    }
    while (q < end) next();
    if (seen & kNotHexPair) return kTakeExactPath;
    if (sum & 0xFF) {
        reason = kReasonChecksum;
        return HexBadChecksum;
    }
    if (failure != HexOk) return failure;

    switch (type) {
        case 0:
            return kGoOn;
        case 1:
            if (const char* refusal = FinishSpan(state)) {
                reason = refusal;
                return HexTooLarge;
            }
            return HexOk;
        case 2:
        case 4: {
            if (count != 2) {
                reason = kReasonAddressCount;
                return HexBadFormat;
            }
            if (n < 12) {
                reason = kReasonBeyondLine;
                return HexBadFormat;
            }
            const std::uint32_t value = (std::uint32_t{kHexDigit[p[9]]} << 12) |
                                        (std::uint32_t{kHexDigit[p[10]]} << 8) |
                                        (std::uint32_t{kHexDigit[p[11]]} << 4) | kHexDigit[p[12]];
            if (type == 2)
                state.segmentBase = value << 4;
            else
                state.linearBase = value << 16;
            return kGoOn;
        }
        default:
            return kGoOn;
    }
}

// Where the line at `start` ends if it is a well-formed record whose byte count tells its
// length, followed directly by a line end (LF, CR LF or CR alone); 0 otherwise. Such a
// line needs no search for its line end: a digit-only record cannot hold one.
std::size_t PredictedLineLength(const std::uint8_t* text, std::size_t size, std::size_t start,
                                const std::uint16_t* pairs, std::size_t& next) {
    if (size - start < 12 || text[start] != ':') return 0;
    const std::uint32_t count = pairs[text[start + 1] | (text[start + 2] << 8)];
    if (count & kNotHexPair) return 0;
    const std::size_t length = 11 + 2 * std::size_t{count};
    const std::size_t end = start + length;
    if (end > size || IsBlank(text[end - 1])) return 0;  // blanks inside: the splitter decides
    if (end < size && text[end] == '\n') {
        next = end + 1;
        return length;
    }
    if (end < size && text[end] == '\r') {
        next = end + 1 < size && text[end + 1] == '\n' ? end + 2 : end + 1;
        return length;
    }
    return 0;
}

template <bool kFastPath>
HexResult ReadLines(const std::uint8_t* text, std::size_t size, FirmwareImage& image,
                    HexDiagnosis& diagnosis) {
    const std::uint16_t* const pairs = HexPairTable();
    return ReadRecordLines<ReadState>(
        text, size, image, diagnosis, kReasonNoEnd,
        [=](const std::uint8_t* text, std::size_t size, LineCursor& cursor, ReadState& state,
            const char*& reason) {
            int outcome = kTakeExactPath;
            if constexpr (kFastPath) {
                std::size_t next = 0;
                const std::size_t length =
                    PredictedLineLength(text, size, cursor.lineStart, pairs, next);
                if (length != 0) {
                    outcome = PlainRecord(text + cursor.lineStart, length, pairs, state, reason);
                    if (outcome != kTakeExactPath) {
                        cursor.lineEnd = next - 1;
                        cursor.lineStart = next;
                    }
                }
            }
            if (outcome == kTakeExactPath) {
                std::string_view line;
                NextLine(text, size, cursor, line);
                if constexpr (kFastPath) {
                    outcome = PlainRecord(reinterpret_cast<const std::uint8_t*>(line.data()),
                                          line.size(), pairs, state, reason);
                }
                if (outcome == kTakeExactPath) outcome = ExactRecord(line, state, reason);
            }
            return outcome;
        });
}

}  // namespace

const char* HexResultName(HexResult result) {
    switch (result) {
        case HexOk:
            return "HexOk";
        case HexTooLarge:
            return "HexTooLarge";
        case HexBadFormat:
            return "HexBadFormat";
        case HexBadChecksum:
            return "HexBadChecksum";
        case HexOpenFailed:
            return "HexOpenFailed";
    }
    return "HexUnknownResult";
}

bool NextLine(const std::uint8_t* text, std::size_t size, LineCursor& cursor,
              std::string_view& line) {
    if (cursor.lineStart >= size) return false;
    const std::size_t start = cursor.lineStart;
    const void* feedFound = std::memchr(text + start, '\n', size - start);
    const std::size_t feed =
        feedFound ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(feedFound) - text)
                  : size;
    // A carriage return ends the line too, unless a line feed follows it.
    const void* returnFound = std::memchr(text + start, '\r', feed - start);
    const std::size_t carriageReturn =
        returnFound ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(returnFound) - text)
                    : size;
    const bool alone = carriageReturn + 1 < feed || (carriageReturn + 1 == size && !feedFound);
    const std::size_t end = alone ? carriageReturn : feed;
    line = std::string_view(reinterpret_cast<const char*>(text) + start, end - start);
    cursor.lineEnd = end;
    cursor.lineStart = end < size ? end + 1 : size;
    return true;
}

HexResult ReadHexText(const std::uint8_t* text, std::size_t size, FirmwareImage& image,
                      HexDiagnosis& diagnosis) {
    return ReadLines<true>(text, size, image, diagnosis);
}

HexResult ReadHexText(const std::uint8_t* text, std::size_t size, FirmwareImage& image) {
    HexDiagnosis diagnosis;
    return ReadLines<true>(text, size, image, diagnosis);
}

HexResult ReadHexTextExact(const std::uint8_t* text, std::size_t size, FirmwareImage& image) {
    HexDiagnosis diagnosis;
    return ReadLines<false>(text, size, image, diagnosis);
}

std::string FormatResultName(const char* format, HexResult result) {
    // Every name begins with "Hex".
    return std::string(format) + (HexResultName(result) + 3);
}

std::string DiagnosisDetail(const std::string& pathText, const char* place,
                            const HexDiagnosis& diagnosis, HexResult result, const char* format) {
    std::string detail = diagnosis.lineNumber == 0
                             ? Format("'%s': %s", pathText.c_str(), diagnosis.reason)
                             : Format("'%s' %s %zu: %s", pathText.c_str(),
                                      diagnosis.place != nullptr ? diagnosis.place : place,
                                      diagnosis.lineNumber, diagnosis.reason);
    if (result == HexTooLarge && diagnosis.spanEnd > diagnosis.spanFirst) {
        detail += Format(": 0x%08llX-0x%08llX, %llu bytes",
                         static_cast<unsigned long long>(diagnosis.spanFirst),
                         static_cast<unsigned long long>(diagnosis.spanEnd - 1),
                         static_cast<unsigned long long>(diagnosis.spanEnd - diagnosis.spanFirst));
    }
    detail += Format(" (%s)", FormatResultName(format, result).c_str());
    return detail;
}

HexResult ReadImageFile(const std::filesystem::path& path, FirmwareImage& image,
                        std::string& detail, ImageReader reader, const char* format,
                        const char* places) {
    image.imageStart = 0;
    image.imageLength = 0;
    const std::string pathText = Utf8OfPath(path);
    InputFile file;
    if (file.Open(path, detail) != FileReadStatus::Ok) return HexOpenFailed;
    if (file.Size() > kMaxHexTextSize) {
        detail = Format(
            "'%s': the file is %llu bytes, more than the %llu that a file of an "
            "image within the capacity is taken to have (%s)",
            pathText.c_str(), static_cast<unsigned long long>(file.Size()),
            static_cast<unsigned long long>(kMaxHexTextSize),
            FormatResultName(format, HexTooLarge).c_str());
        return HexTooLarge;
    }
    FileText text;
    if (file.ReadInto(text, detail) != FileReadStatus::Ok) return HexOpenFailed;
    HexDiagnosis diagnosis;
    const HexResult result = reader(text.data(), text.size(), image, diagnosis);
    if (result == HexOk) {
        detail.clear();
        return result;
    }
    detail = DiagnosisDetail(pathText, places, diagnosis, result, format);
    return result;
}

HexResult ReadHexFile(const std::filesystem::path& path, FirmwareImage& image,
                      std::string& detail) {
    return ReadImageFile(path, image, detail, ReadHexText, "Hex", "line");
}

HexResult ReadHexFile(const std::filesystem::path& path, FirmwareImage& image) {
    std::string detail;
    return ReadHexFile(path, image, detail);
}

#include "image/HexReader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>
#include <string_view>

#include "common/FileReading.h"
#include "common/NumberText.h"
#include "common/TextFormat.h"

namespace {

constexpr const char* kReasonEmpty = "the file is empty";
constexpr const char* kReasonNoColon = "the record does not begin with ':'";
constexpr const char* kReasonShort = "the record is shorter than 11 characters";
constexpr const char* kReasonChecksum = "the record's checksum does not match";
constexpr const char* kReasonBeyondCapacity = "the image would span more than its capacity";
constexpr const char* kReasonBeyondAddressSpace =
    "the data record ends beyond the 32-bit address space";
constexpr const char* kReasonPaddedBeyondAddressSpace =
    "the image, padded to whole words, ends beyond the 32-bit address space";
constexpr const char* kReasonBeyondLine = "the record needs characters beyond the end of its line";
constexpr const char* kReasonAddressCount = "the address record's byte count is not 2";
constexpr const char* kReasonNoEnd = "the text ends without an end-of-file record";

// What a record asks of the reading loop, besides a HexResult (HexOk ends the text).
constexpr int kGoOn = 1;
constexpr int kTakeExactPath = 2;

constexpr bool IsBlank(std::uint8_t c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

// Value of each byte as a hexadecimal digit; kNotHex marks every other byte, so OR-ing
// the entries of a line tells whether it held anything but digits.
constexpr std::uint8_t kNotHex = 0x10;
constexpr std::array<std::uint8_t, 256> MakeDigitTable() {
    std::array<std::uint8_t, 256> table{};
    for (int c = 0; c < 256; ++c) {
        if (c >= '0' && c <= '9') table[c] = static_cast<std::uint8_t>(c - '0');
        else if (c >= 'A' && c <= 'F') table[c] = static_cast<std::uint8_t>(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f') table[c] = static_cast<std::uint8_t>(c - 'a' + 10);
        else table[c] = kNotHex;
    }
    return table;
}
constexpr std::array<std::uint8_t, 256> kDigit = MakeDigitTable();

// The byte that two characters stand for, indexed by the first character plus 256 times
// the second; kNotHexPair is added when either is not a hexadecimal digit. One look-up
// per byte is what keeps the fast path at memory speed.
constexpr std::uint32_t kNotHexPair = 0x100;
const std::uint16_t* PairTable() {
    static const std::unique_ptr<std::uint16_t[]> table = [] {
        std::unique_ptr<std::uint16_t[]> built(new std::uint16_t[65536]);
        for (std::uint32_t first = 0; first < 256; ++first) {
            for (std::uint32_t second = 0; second < 256; ++second) {
                const std::uint32_t high = kDigit[first];
                const std::uint32_t low = kDigit[second];
                const bool hex = ((high | low) & kNotHex) == 0;
                built[first | (second << 8)] =
                    static_cast<std::uint16_t>(hex ? (high << 4) | low : kNotHexPair);
            }
        }
        return built;
    }();
    return table.get();
}

struct ReadState {
    FirmwareImage& image;
    std::uint32_t segmentBase = 0;
    std::uint32_t linearBase = 0;
    // The byte of address `origin` lies at the start of the storage. The first stored byte
    // sets it, so ascending records land where the image ends up.
    std::uint64_t origin = 0;
    // The addresses the stored bytes span: the first, and one past the last. Until a byte
    // is stored, no address is at or above `lowest`.
    std::uint64_t lowest = UINT64_MAX;
    std::uint64_t highest = 0;
    // The end of the capacity from `lowest`, or of the address space if that comes first.
    std::uint64_t limit = 0;
    bool stored = false;
    std::uint32_t writePosition = 0;  // offset in the storage of the current record's bytes
    // The span a refused record would have made, for the diagnosis.
    std::uint64_t refusedFirst = 0;
    std::uint64_t refusedEnd = 0;
};

const char* Refuse(ReadState& state, std::uint64_t first, std::uint64_t end, const char* reason) {
    state.refusedFirst = first;
    state.refusedEnd = end;
    return reason;
}

// A record below the origin. From now on the image can only span addresses from
// highest - capacity to lowest + capacity, a window of at most twice the capacity, which
// the storage holds: the origin moves down to its start (not below address 0) and the
// bytes stored so far move up with it, once. Later records fit the window or fail the
// capacity check before they get here.
void MoveOriginBelow(ReadState& state, std::uint64_t highest) {
    const std::uint64_t capacity = state.image.imageCapacity;
    const std::uint64_t origin = highest > capacity ? highest - capacity : 0;
    const std::size_t shift = static_cast<std::size_t>(state.origin - origin);
    const std::size_t used = static_cast<std::size_t>(state.highest - state.origin);
    // shift + used = highest - origin, at most the capacity.
    std::uint8_t* const storage = state.image.imageBuffer;
    std::memmove(storage + shift, storage, used);
    std::memset(storage, 0xFF, shift);
    std::memset(storage + shift + used, 0xFF, static_cast<std::size_t>(2 * capacity) - shift - used);
    state.origin = origin;
}

// PlaceData for any record that does not simply land within the span begun so far.
[[gnu::cold]] [[gnu::noinline]] const char* PlaceAnyData(ReadState& state, std::uint64_t first,
                                                         std::uint64_t end) {
    if (end > kAddressSpaceEnd) return Refuse(state, first, end, kReasonBeyondAddressSpace);
    const std::uint64_t lowest = state.stored ? std::min(state.lowest, first) : first;
    const std::uint64_t highest = state.stored ? std::max(state.highest, end) : end;
    if (highest - lowest > state.image.imageCapacity)
        return Refuse(state, lowest, highest, kReasonBeyondCapacity);
    if (!state.stored) {
        state.origin = first;
        state.stored = true;
    } else if (first < state.origin) {
        MoveOriginBelow(state, highest);
    }
    state.lowest = lowest;
    state.highest = highest;
    state.limit = std::min(lowest + state.image.imageCapacity, kAddressSpaceEnd);
    state.writePosition = static_cast<std::uint32_t>(first - state.origin);
    return nullptr;
}

// Places a data record of `count` bytes at 16-bit `address`: sets the write position, or
// returns why the record is refused. Changes nothing when it refuses, and running it twice
// for the same record gives the same state, which lets the exact path redo a record the
// fast path left.
inline const char* PlaceData(ReadState& state, std::uint32_t address, std::uint32_t count) {
    if (count == 0) return nullptr;  // stores nothing, so it takes no part in the span
    const std::uint64_t first = std::uint64_t{state.linearBase} + state.segmentBase + address;
    const std::uint64_t end = first + count;
    // What nearly every record of a file does: lands at or above the lowest byte stored,
    // within the capacity from it and within the address space.
    if (first >= state.lowest && end <= state.limit) {
        state.highest = std::max(state.highest, end);
        state.writePosition = static_cast<std::uint32_t>(first - state.origin);
        return nullptr;
    }
    return PlaceAnyData(state, first, end);
}

// At the end-of-file record: the image becomes the span of the stored bytes, moved to the
// start of the storage, with the rest of the capacity erased.
const char* FinishImage(ReadState& state) {
    FirmwareImage& image = state.image;
    if (!state.stored) return nullptr;  // imageStart and imageLength stay 0
    const std::uint32_t length = static_cast<std::uint32_t>(state.highest - state.lowest);
    const std::uint32_t start = static_cast<std::uint32_t>(state.lowest);
    if (!EndsWithinAddressSpace(start, length)) {
        return Refuse(state, state.lowest, PaddedImageEnd(start, length),
                      kReasonPaddedBeyondAddressSpace);
    }
    const std::size_t offset = static_cast<std::size_t>(state.lowest - state.origin);
    if (offset != 0) {
        std::memmove(image.imageBuffer, image.imageBuffer + offset, length);
        std::memset(image.imageBuffer + length, 0xFF, image.imageCapacity - length);
    }
    image.imageStart = start;
    image.imageLength = length;
    return nullptr;
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
            if (const char* refusal = FinishImage(state)) {
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
            if (type == 2) state.segmentBase = value << 4;
            else state.linearBase = value << 16;
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
            if (const char* refusal = FinishImage(state)) {
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
            const std::uint32_t value = (std::uint32_t{kDigit[p[9]]} << 12) |
                                        (std::uint32_t{kDigit[p[10]]} << 8) |
                                        (std::uint32_t{kDigit[p[11]]} << 4) | kDigit[p[12]];
            if (type == 2) state.segmentBase = value << 4;
            else state.linearBase = value << 16;
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
    image.imageStart = 0;
    image.imageLength = 0;
    diagnosis = HexDiagnosis{};
    if (size == 0) {
        diagnosis.reason = kReasonEmpty;
        return HexBadFormat;
    }
    std::memset(image.imageBuffer, 0xFF, image.imageCapacity);

    const std::uint16_t* const pairs = PairTable();
    ReadState state{image};
    LineCursor cursor;
    std::string_view line;
    std::size_t lineNumber = 0;
    while (cursor.lineStart < size) {
        ++lineNumber;
        const char* reason = "";
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
            NextLine(text, size, cursor, line);
            if constexpr (kFastPath) {
                outcome = PlainRecord(reinterpret_cast<const std::uint8_t*>(line.data()),
                                      line.size(), pairs, state, reason);
            }
            if (outcome == kTakeExactPath) outcome = ExactRecord(line, state, reason);
        }
        if (outcome == kGoOn) continue;
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
    diagnosis.reason = kReasonNoEnd;
    return HexBadFormat;
}

}  // namespace

const char* HexResultName(HexResult result) {
    switch (result) {
        case HexOk: return "HexOk";
        case HexTooLarge: return "HexTooLarge";
        case HexBadFormat: return "HexBadFormat";
        case HexBadChecksum: return "HexBadChecksum";
        case HexOpenFailed: return "HexOpenFailed";
    }
    return "HexUnknownResult";
}

bool NextLine(const std::uint8_t* text, std::size_t size, LineCursor& cursor,
              std::string_view& line) {
    if (cursor.lineStart >= size) return false;
    const std::size_t start = cursor.lineStart;
    const void* feedFound = std::memchr(text + start, '\n', size - start);
    const std::size_t feed =
        feedFound ? static_cast<std::size_t>(static_cast<const std::uint8_t*>(feedFound) - text) : size;
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

HexResult ReadHexFile(const std::filesystem::path& path, FirmwareImage& image,
                      std::string& detail) {
    image.imageStart = 0;
    image.imageLength = 0;
    const std::string pathText = Utf8OfPath(path);
    InputFile file;
    if (file.Open(path, detail) != FileReadStatus::Ok) return HexOpenFailed;
    if (file.Size() > kMaxHexTextSize) {
        detail = Format("'%s': the file is %llu bytes, more than the %llu that the HEX text of "
                        "an image within the capacity can take (HexTooLarge)",
                        pathText.c_str(), static_cast<unsigned long long>(file.Size()),
                        static_cast<unsigned long long>(kMaxHexTextSize));
        return HexTooLarge;
    }
    FileText text;
    if (file.ReadInto(text, detail) != FileReadStatus::Ok) return HexOpenFailed;
    HexDiagnosis diagnosis;
    const HexResult result = ReadHexText(text.data(), text.size(), image, diagnosis);
    if (result == HexOk) {
        detail.clear();
        return result;
    }
    detail = diagnosis.lineNumber == 0
                 ? Format("'%s': %s", pathText.c_str(), diagnosis.reason)
                 : Format("'%s' line %zu: %s", pathText.c_str(), diagnosis.lineNumber,
                          diagnosis.reason);
    if (result == HexTooLarge) {
        detail += Format(": 0x%08llX-0x%08llX, %llu bytes",
                         static_cast<unsigned long long>(diagnosis.spanFirst),
                         static_cast<unsigned long long>(diagnosis.spanEnd - 1),
                         static_cast<unsigned long long>(diagnosis.spanEnd - diagnosis.spanFirst));
    }
    detail += Format(" (%s)", HexResultName(result));
    return result;
}

HexResult ReadHexFile(const std::filesystem::path& path, FirmwareImage& image) {
    std::string detail;
    return ReadHexFile(path, image, detail);
}

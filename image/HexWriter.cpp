#include "image/HexWriter.h"

#include <algorithm>

namespace {

constexpr char kDigits[] = "0123456789ABCDEF";

constexpr std::uint8_t kDataRecord = 0x00;
constexpr std::uint8_t kEndRecord = 0x01;
constexpr std::uint8_t kLinearAddressRecord = 0x04;

// Two digits of each byte, summed as the record's checksum takes them.
struct RecordBytes {
    std::string& text;
    std::uint8_t sum = 0;
    void put(std::uint8_t byte) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
        sum = static_cast<std::uint8_t>(sum + byte);
    }
    // The checksum that the format makes of the sum, and the line end.
    void finish(std::uint8_t checksum, const char* lineEnd) {
        put(checksum);
        text += lineEnd;
    }
};

}  // namespace

void AppendHexRecord(std::string& text, std::uint8_t type, std::uint16_t address,
                     const std::uint8_t* data, std::size_t count, const char* lineEnd) {
    RecordBytes record{text};
    text += ':';
    record.put(static_cast<std::uint8_t>(count));
    record.put(static_cast<std::uint8_t>(address >> 8));
    record.put(static_cast<std::uint8_t>(address));
    record.put(type);
    for (std::size_t i = 0; i < count; ++i) record.put(data[i]);
    record.finish(static_cast<std::uint8_t>(0x100 - record.sum), lineEnd);
}

std::string HexTextOf(const std::uint8_t* bytes, std::size_t length, std::uint32_t start) {
    std::string text;
    // A full data record takes 43 characters; an address record every 64 KiB adds little.
    text.reserve((length / kHexRecordBytes + 2) * 44 + 32);
    std::uint64_t address = start;
    const std::uint64_t end = address + length;
    std::uint32_t upper = 0;  // the upper bits in force; 0 until a record says otherwise
    bool upperSaid = false;
    while (address < end) {
        const auto high = static_cast<std::uint32_t>(address >> 16);
        if (!upperSaid || high != upper) {
            const std::uint8_t value[2] = {static_cast<std::uint8_t>(high >> 8),
                                           static_cast<std::uint8_t>(high)};
            AppendHexRecord(text, kLinearAddressRecord, 0, value, 2);
            upper = high;
            upperSaid = true;
        }
        // A record never reaches across a 64 KiB boundary: its address field would wrap.
        const std::uint64_t boundary = (address | 0xFFFF) + 1;
        const auto count = static_cast<std::size_t>(
            std::min<std::uint64_t>({kHexRecordBytes, end - address, boundary - address}));
        AppendHexRecord(text, kDataRecord, static_cast<std::uint16_t>(address & 0xFFFF),
                        bytes + (address - start), count);
        address += count;
    }
    AppendHexRecord(text, kEndRecord, 0, nullptr, 0);
    return text;
}

void AppendSrecRecord(std::string& text, char type, std::uint32_t address, std::size_t addressBytes,
                      const std::uint8_t* data, std::size_t count) {
    RecordBytes record{text};
    text += 'S';
    text += type;
    record.put(static_cast<std::uint8_t>(addressBytes + count + 1));
    for (std::size_t i = addressBytes; i-- > 0;)
        record.put(static_cast<std::uint8_t>(address >> (8 * i)));
    for (std::size_t i = 0; i < count; ++i) record.put(data[i]);
    record.finish(static_cast<std::uint8_t>(~record.sum), "\r\n");
}

std::string SrecTextOf(const std::uint8_t* bytes, std::size_t length, std::uint32_t start) {
    std::string text;
    // A full S3 record takes 48 characters.
    text.reserve((length / kHexRecordBytes + 3) * 48);
    AppendSrecRecord(text, '0', 0, 2, nullptr, 0);
    for (std::size_t offset = 0; offset < length; offset += kHexRecordBytes) {
        const std::size_t count = std::min(kHexRecordBytes, length - offset);
        AppendSrecRecord(text, '3', static_cast<std::uint32_t>(start + offset), 4, bytes + offset,
                         count);
    }
    AppendSrecRecord(text, '7', start, 4, nullptr, 0);
    return text;
}

#include "common/WordCrc32.h"

#include <array>

#include "common/LittleEndian.h"

namespace {

constexpr std::uint32_t kPolynomial = 0x04C11DB7u;
constexpr int kSlices = 16;

using CrcTables = std::array<std::array<std::uint32_t, 256>, kSlices>;

// tables[k][b]: the checksum contribution of byte b followed by k zero bytes, so that
// sixteen bytes (four words) are folded in with sixteen independent look-ups.
constexpr CrcTables MakeTables() {
    CrcTables tables{};
    for (std::uint32_t b = 0; b < 256; ++b) {
        std::uint32_t crc = b << 24;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 0x80000000u) ? (crc << 1) ^ kPolynomial : crc << 1;
        }
        tables[0][b] = crc;
    }
    for (int k = 1; k < kSlices; ++k) {
        for (std::uint32_t b = 0; b < 256; ++b) {
            const std::uint32_t prev = tables[k - 1][b];
            tables[k][b] = (prev << 8) ^ tables[0][prev >> 24];
        }
    }
    return tables;
}

constexpr CrcTables kTables = MakeTables();

// The contribution of four bytes that are followed by `slice` zero bytes; the word's
// bytes are taken from the most significant one down, its bit 31..0 order.
inline std::uint32_t Contribution(std::uint32_t word, int slice) {
    return kTables[slice + 3][word >> 24] ^ kTables[slice + 2][(word >> 16) & 0xFF] ^
           kTables[slice + 1][(word >> 8) & 0xFF] ^ kTables[slice][word & 0xFF];
}

}  // namespace

std::uint32_t WordCrc32Update(std::uint32_t crc, const std::uint8_t* data, std::size_t wordCount) {
    while (wordCount >= 4) {
        const std::uint32_t w0 = ReadLe32(data);
        const std::uint32_t w1 = ReadLe32(data + 4);
        const std::uint32_t w2 = ReadLe32(data + 8);
        const std::uint32_t w3 = ReadLe32(data + 12);
        crc = Contribution(crc ^ w0, 12) ^ Contribution(w1, 8) ^ Contribution(w2, 4) ^
              Contribution(w3, 0);
        data += 16;
        wordCount -= 4;
    }
    while (wordCount > 0) {
        crc = Contribution(crc ^ ReadLe32(data), 0);
        data += 4;
        --wordCount;
    }
    return crc;
}

std::uint32_t WordCrc32(const std::uint8_t* data, std::size_t wordCount) {
    return WordCrc32Update(0xFFFFFFFFu, data, wordCount);
}

#include "common/WordCrc32.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

// The definition, bit by bit: each little-endian word fed from bit 31 down to bit 0.
std::uint32_t BitwiseWordCrc32(const std::uint8_t* data, std::size_t words) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t w = 0; w < words; ++w) {
        const std::uint32_t word = data[4 * w] | (data[4 * w + 1] << 8) | (data[4 * w + 2] << 16) |
                                   (static_cast<std::uint32_t>(data[4 * w + 3]) << 24);
        for (int bit = 31; bit >= 0; --bit) {
            const bool dataBit = (word >> bit) & 1u;
            const bool outBit = (crc >> 31) & 1u;
            crc <<= 1;
            if (dataBit != outBit) crc ^= 0x04C11DB7u;
        }
    }
    return crc;
}

TEST(WordCrc32, CheckValues) {
    const std::uint8_t zero[4] = {0, 0, 0, 0};
    const std::uint8_t word[4] = {0x78, 0x56, 0x34, 0x12};
    EXPECT_EQ(WordCrc32(zero, 1), 0xC704DD7Bu);
    EXPECT_EQ(WordCrc32(word, 1), 0xDF8A8A2Bu);
    EXPECT_EQ(WordCrc32(word, 0), 0xFFFFFFFFu);
}

TEST(WordCrc32, AgreesWithBitwiseDefinitionOnRandomData) {
    std::mt19937 random(12345);
    std::vector<std::uint8_t> data(4 * 1031 + 3);
    for (auto& b : data) b = static_cast<std::uint8_t>(random());
    // Every count from 0 to 40 words (tail and block paths), at odd alignments, and long.
    for (std::size_t offset = 0; offset < 4; ++offset) {
        for (std::size_t words = 0; words <= 40; ++words) {
            ASSERT_EQ(WordCrc32(data.data() + offset, words),
                      BitwiseWordCrc32(data.data() + offset, words))
                << "offset " << offset << " words " << words;
        }
    }
    EXPECT_EQ(WordCrc32(data.data(), 1031), BitwiseWordCrc32(data.data(), 1031));
}

TEST(WordCrc32, LongRunsAgreeWithTheBitwiseDefinition) {
    // Long enough for the wide path: every count around its group size and threshold, at
    // every alignment, then the whole storage.
    std::mt19937 random(777);
    std::vector<std::uint8_t> data(2 * 1024 * 1024 + 4);
    for (auto& b : data) b = static_cast<std::uint8_t>(random());
    for (std::size_t offset = 0; offset < 4; ++offset) {
        for (std::size_t words = 48; words <= 200; ++words) {
            ASSERT_EQ(WordCrc32(data.data() + offset, words),
                      BitwiseWordCrc32(data.data() + offset, words))
                << "offset " << offset << " words " << words;
        }
    }
    const std::size_t all = (data.size() - 4) / 4;
    EXPECT_EQ(WordCrc32(data.data() + 1, all), BitwiseWordCrc32(data.data() + 1, all));
    // Erased flash and zeros: the running state must enter the first group, not vanish.
    std::vector<std::uint8_t> erased(4096, 0xFF);
    std::vector<std::uint8_t> zeros(4096, 0x00);
    EXPECT_EQ(WordCrc32(erased.data(), 1024), BitwiseWordCrc32(erased.data(), 1024));
    EXPECT_EQ(WordCrc32(zeros.data(), 1024), BitwiseWordCrc32(zeros.data(), 1024));
}

TEST(WordCrc32, UpdateContinuesARunningChecksum) {
    std::vector<std::uint8_t> data(4 * 100);
    for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<std::uint8_t>(i * 7);
    const std::uint32_t first = WordCrc32(data.data(), 37);
    EXPECT_EQ(WordCrc32Update(first, data.data() + 4 * 37, 63), WordCrc32(data.data(), 100));
    // Across the wide path too, split at a point that is not a group boundary.
    std::vector<std::uint8_t> large(4 * 5000);
    for (std::size_t i = 0; i < large.size(); ++i) large[i] = static_cast<std::uint8_t>(i * 13 + 5);
    const std::uint32_t head = WordCrc32(large.data(), 1234);
    EXPECT_EQ(WordCrc32Update(head, large.data() + 4 * 1234, 5000 - 1234),
              BitwiseWordCrc32(large.data(), 5000));
}

}  // namespace

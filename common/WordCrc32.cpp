#include "common/WordCrc32.h"

#include <array>

#include "common/LittleEndian.h"

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#include <immintrin.h>
#define MARRO_CRC_FOLDING 1
#endif

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

std::uint32_t TableUpdate(std::uint32_t crc, const std::uint8_t* data, std::size_t wordCount) {
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

#ifdef MARRO_CRC_FOLDING

// x^n mod P: the factor that moves a bit n places further along the message.
constexpr std::uint64_t PowerModP(unsigned n) {
    std::uint64_t r = 1;
    for (unsigned i = 0; i < n; ++i) {
        r <<= 1;
        if (r & (std::uint64_t{1} << 32)) r ^= (std::uint64_t{1} << 32) | kPolynomial;
    }
    return r;
}

// Each 128-bit register holds four words with the earliest one in its top lane, so that a
// bit's place in the register is its degree in the message polynomial; multiplying by
// x^n mod P then moves a register n bits on without changing the remainder.
constexpr std::size_t kFoldWords = 16;  // four registers of four words
constexpr std::uint64_t kX128 = PowerModP(128);
constexpr std::uint64_t kX192 = PowerModP(128 + 64);
constexpr std::uint64_t kX512 = PowerModP(512);
constexpr std::uint64_t kX576 = PowerModP(512 + 64);

__attribute__((target("pclmul,sse2"))) inline __m128i LoadWords(const std::uint8_t* p) {
    return _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)), 0x1B);
}

// a * x^(64 + n) + b * x^n for a register holding a * x^64 + b, with k = {x^n, x^(64+n)}
// modulo P (both under 33 bits, so every product fits 128 bits).
__attribute__((target("pclmul,sse2"))) inline __m128i Fold(__m128i value, __m128i k) {
    return _mm_xor_si128(_mm_clmulepi64_si128(value, k, 0x11),
                         _mm_clmulepi64_si128(value, k, 0x00));
}

// Whole groups of 16 words; returns the checksum after them. `groups` >= 1.
__attribute__((target("pclmul,sse2"))) std::uint32_t FoldUpdate(std::uint32_t crc,
                                                                const std::uint8_t* data,
                                                                std::size_t groups) {
    const __m128i by512 =
        _mm_set_epi64x(static_cast<long long>(kX576), static_cast<long long>(kX512));
    const __m128i by128 =
        _mm_set_epi64x(static_cast<long long>(kX192), static_cast<long long>(kX128));
    // The running checksum enters as the first 32 message bits, as the bitwise rule has it.
    __m128i x0 = _mm_xor_si128(LoadWords(data), _mm_set_epi32(static_cast<int>(crc), 0, 0, 0));
    __m128i x1 = LoadWords(data + 16);
    __m128i x2 = LoadWords(data + 32);
    __m128i x3 = LoadWords(data + 48);
    for (std::size_t g = 1; g < groups; ++g) {
        data += 64;
        x0 = _mm_xor_si128(Fold(x0, by512), LoadWords(data));
        x1 = _mm_xor_si128(Fold(x1, by512), LoadWords(data + 16));
        x2 = _mm_xor_si128(Fold(x2, by512), LoadWords(data + 32));
        x3 = _mm_xor_si128(Fold(x3, by512), LoadWords(data + 48));
    }
    __m128i rest = _mm_xor_si128(Fold(x0, by128), x1);
    rest = _mm_xor_si128(Fold(rest, by128), x2);
    rest = _mm_xor_si128(Fold(rest, by128), x3);
    // What remains is four words whose remainder (times x^32) is the checksum: exactly
    // what the table computes for them from a state of 0.
    alignas(16) std::uint8_t words[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(words), _mm_shuffle_epi32(rest, 0x1B));
    return TableUpdate(0, words, 4);
}

bool HasCarrylessMultiply() {
    static const bool has = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse2");
    return has;
}

#endif

}  // namespace

std::uint32_t WordCrc32Update(std::uint32_t crc, const std::uint8_t* data, std::size_t wordCount) {
#ifdef MARRO_CRC_FOLDING
    // Below a few groups the set-up costs more than the table.
    if (wordCount >= 4 * kFoldWords && HasCarrylessMultiply()) {
        const std::size_t groups = wordCount / kFoldWords;
        crc = FoldUpdate(crc, data, groups);
        data += groups * kFoldWords * 4;
        wordCount -= groups * kFoldWords;
    }
#endif
    return TableUpdate(crc, data, wordCount);
}

std::uint32_t WordCrc32(const std::uint8_t* data, std::size_t wordCount) {
    return WordCrc32Update(0xFFFFFFFFu, data, wordCount);
}

std::uint32_t WordCrc32Padded(const std::uint8_t* data, std::size_t length) {
    const std::size_t whole = length / 4;
    std::uint32_t crc = WordCrc32Update(0xFFFFFFFFu, data, whole);
    const std::size_t rest = length % 4;
    if (rest == 0) return crc;
    std::uint8_t tail[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    for (std::size_t i = 0; i < rest; ++i) tail[i] = data[whole * 4 + i];
    return WordCrc32Update(crc, tail, 1);
}

#pragma once
#include <cstddef>
#include <cstdint>

// CRC-32 over 32-bit little-endian words, each fed from bit 31 down to bit 0:
// polynomial 0x04C11DB7, initial value 0xFFFFFFFF, no reflection, no final XOR.
// The programmer computes the same value over its storage and firmware area.
// A count of 0 gives 0xFFFFFFFF. Never fails.
std::uint32_t WordCrc32(const std::uint8_t* data, std::size_t wordCount);

// Continues a running checksum over further words (WordCrc32 is this with 0xFFFFFFFF).
std::uint32_t WordCrc32Update(std::uint32_t crc, const std::uint8_t* data, std::size_t wordCount);

// The checksum of `length` bytes padded with 0xFF to whole words, as an upload stores
// them; the bytes themselves are left as they are.
std::uint32_t WordCrc32Padded(const std::uint8_t* data, std::size_t length);

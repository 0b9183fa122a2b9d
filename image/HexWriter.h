#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// Data records carry this many bytes, as most toolchains write them.
inline constexpr std::size_t kHexRecordBytes = 16;

// Appends one record: byte count, address, type, `count` data bytes and the checksum that
// makes all of its bytes sum to zero, then `lineEnd`.
void AppendHexRecord(std::string& text, std::uint8_t type, std::uint16_t address,
                     const std::uint8_t* data, std::size_t count, const char* lineEnd = "\r\n");

// Intel HEX text of `length` bytes placed at `start`: every byte in data records of up to
// 16 bytes (0xFF included, so that the text reads back to the same span and checksum),
// an extended linear address record wherever the upper 16 address bits change, and the
// end-of-file record; CR LF line ends. The bytes must end within the 32-bit address
// space. Never throws but for lack of memory.
std::string HexTextOf(const std::uint8_t* bytes, std::size_t length, std::uint32_t start);

// Appends one Motorola S-record: 'S', `type`, the byte count, the address in
// `addressBytes` bytes, the data and the checksum (the complement of the byte sum); CR LF.
void AppendSrecRecord(std::string& text, char type, std::uint32_t address, std::size_t addressBytes,
                      const std::uint8_t* data, std::size_t count);

// Motorola S-record text of `length` bytes placed at `start`: an empty S0 header, S3 data
// records of up to 16 bytes (0xFF included, as HexTextOf writes them), and an S7 end
// record with `start` as the start address. The bytes must end within the 32-bit address
// space. Never throws but for lack of memory.
std::string SrecTextOf(const std::uint8_t* bytes, std::size_t length, std::uint32_t start);

#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A 32-bit little-endian ARM ELF executable that holds `length` bytes at `start`: one
// PT_LOAD segment (physical and virtual address `start`, the entry point too) over one
// section .data, and the section name table. objcopy -O binary and ReadElfBytes give the
// bytes back. Returns false and says why in `detail` when the image cannot be such a file
// (a 32-bit file cannot hold it). Never throws but for lack of memory.
bool ElfFileOf(const std::uint8_t* bytes, std::size_t length, std::uint32_t start,
               std::vector<std::uint8_t>& file, std::string& detail);

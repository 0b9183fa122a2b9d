#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

inline constexpr const char* kNoElfWriting = "this build does not write ELF files";

// A 32-bit little-endian ARM ELF executable, made with libelf, that holds `length` bytes
// at `start`: one PT_LOAD segment (physical and virtual address `start`, the entry point
// too) over one section .data, and the section name table. objcopy -O binary and
// ReadElfBytes give the bytes back. Returns false and says why in `detail`. Only in the
// builds that read ELF files (MARRO_READ_ELF). Never throws but for lack of memory.
bool ElfFileOf(const std::uint8_t* bytes, std::size_t length, std::uint32_t start,
               std::vector<std::uint8_t>& file, std::string& detail);

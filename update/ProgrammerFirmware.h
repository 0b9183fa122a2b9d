#pragma once
#include <cstdint>
#include <span>

// Where the programmer runs its firmware, and where that firmware keeps its version word.
inline constexpr std::uint32_t kProgrammerFirmwareAddress = 0x08004000;
inline constexpr std::size_t kFirmwareVersionWordOffset = 0xEC;

// The programmer firmware the tool carries in its read-only data: a whole number of
// 32-bit words, linked for kProgrammerFirmwareAddress, vector table first.
std::span<const std::uint8_t> ProgrammerFirmwareImage();

// Its version word (little-endian at offset 0xEC), as identification reads it back.
std::uint32_t ProgrammerFirmwareVersionWord();

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

// Whether the carried firmware is the build's placeholder: an image of the right form
// whose code does nothing, made for the simulated programmer. A real programmer given it
// would be unusable until flashed again over SWD. A build given the real image
// (MARRO_PROGRAMMER_FIRMWARE) carries no placeholder.
bool ProgrammerFirmwareIsPlaceholder();

// A firmware the update installs: the carried one or one the user chose. The bytes stay
// with their owner for the whole update.
struct ProgrammerFirmware {
    std::span<const std::uint8_t> image;
    bool placeholder = false;

    // The word at 0xEC; 0 for an image too short to hold it.
    std::uint32_t VersionWord() const;
};

ProgrammerFirmware CarriedProgrammerFirmware();

#include "update/ProgrammerFirmware.h"

#include <cstddef>

#include "common/LittleEndian.h"

// Made at build time from the carried firmware file by update/EmbedFirmware.cmake.
extern const std::uint8_t kCarriedFirmwareBytes[];
extern const std::size_t kCarriedFirmwareSize;
extern const bool kCarriedFirmwareIsPlaceholder;

std::span<const std::uint8_t> ProgrammerFirmwareImage() {
    return {kCarriedFirmwareBytes, kCarriedFirmwareSize};
}

std::uint32_t ProgrammerFirmwareVersionWord() { return CarriedProgrammerFirmware().VersionWord(); }

bool ProgrammerFirmwareIsPlaceholder() { return kCarriedFirmwareIsPlaceholder; }

std::uint32_t ProgrammerFirmware::VersionWord() const {
    if (image.size() < kFirmwareVersionWordOffset + 4) return 0;
    return ReadLe32(image.data() + kFirmwareVersionWordOffset);
}

ProgrammerFirmware CarriedProgrammerFirmware() {
    return ProgrammerFirmware{ProgrammerFirmwareImage(), kCarriedFirmwareIsPlaceholder};
}

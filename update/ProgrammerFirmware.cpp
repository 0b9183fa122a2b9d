#include "update/ProgrammerFirmware.h"

#include <cstddef>

#include "common/LittleEndian.h"

// Made at build time from update/firmware/programmer-firmware.bin.
extern const std::uint8_t kCarriedFirmwareBytes[];
extern const std::size_t kCarriedFirmwareSize;

std::span<const std::uint8_t> ProgrammerFirmwareImage() {
    return {kCarriedFirmwareBytes, kCarriedFirmwareSize};
}

std::uint32_t ProgrammerFirmwareVersionWord() {
    const auto image = ProgrammerFirmwareImage();
    if (image.size() < kFirmwareVersionWordOffset + 4) return 0;
    return ReadLe32(image.data() + kFirmwareVersionWordOffset);
}

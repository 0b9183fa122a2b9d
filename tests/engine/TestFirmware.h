#pragma once
// A programmer firmware image of the right form that is not the carried one, for the
// tests of choosing a firmware file. Test use only.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/LittleEndian.h"

inline std::vector<std::uint8_t> MakeFirmwareImage(std::size_t size, std::uint32_t version) {
    std::vector<std::uint8_t> image(size);
    for (std::size_t i = 0; i < size; ++i) image[i] = static_cast<std::uint8_t>(i * 7 + 3);
    WriteLe32(&image[0], 0x20008000);  // initial stack pointer, in SRAM
    WriteLe32(&image[4], 0x08004101);  // reset handler at 0x100, Thumb
    WriteLe32(&image[0xEC], version);
    return image;
}

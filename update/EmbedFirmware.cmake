# Turns the carried programmer firmware into a C++ source with a const array, so the
# image lies in the program's read-only data. Run as: cmake -DINPUT=... -DOUTPUT=... -P
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
math(EXPR tail "${size} % 4")
if(size EQUAL 0 OR NOT tail EQUAL 0)
  message(FATAL_ERROR "${INPUT}: ${size} bytes; the firmware must be a whole number of 32-bit words")
endif()
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REPEAT "0x..," 16 row)
string(REGEX REPLACE "(${row})" "\\1\n    " bytes "${bytes}")
file(WRITE "${OUTPUT}"
"// Made from update/firmware/programmer-firmware.bin by update/EmbedFirmware.cmake.
#include <cstddef>
#include <cstdint>

extern const std::uint8_t kCarriedFirmwareBytes[];
extern const std::size_t kCarriedFirmwareSize;

alignas(4) const std::uint8_t kCarriedFirmwareBytes[] = {
    ${bytes}
};
const std::size_t kCarriedFirmwareSize = ${size};
")

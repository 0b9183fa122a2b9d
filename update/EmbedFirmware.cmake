# Turns the carried programmer firmware into a C++ source with a const array, so the
# image lies in the program's read-only data. Run as:
#   cmake -DINPUT=... -DOUTPUT=... -DPLACEHOLDER=ON|OFF -P EmbedFirmware.cmake
# Its form is checked before, by marrowdyne-firmware-check (update/CMakeLists.txt).
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" digits)
math(EXPR size "${digits} / 2")
if(PLACEHOLDER)
  set(placeholder true)
else()
  set(placeholder false)
endif()
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
string(REPEAT "0x..," 16 row)
string(REGEX REPLACE "(${row})" "\\1\n    " bytes "${bytes}")
file(WRITE "${OUTPUT}"
"// Made from ${INPUT} by update/EmbedFirmware.cmake.
#include <cstddef>
#include <cstdint>

extern const std::uint8_t kCarriedFirmwareBytes[];
extern const std::size_t kCarriedFirmwareSize;
extern const bool kCarriedFirmwareIsPlaceholder;

alignas(4) const std::uint8_t kCarriedFirmwareBytes[] = {
    ${bytes}
};
const std::size_t kCarriedFirmwareSize = ${size};
const bool kCarriedFirmwareIsPlaceholder = ${placeholder};
")

#pragma once
#include <cstdint>
#include <string_view>

// Number fields typed by the user, read the way the dialogs always read them: leading
// blanks skipped, an optional sign, digits up to the first other character, no digits
// giving 0. Out-of-range values saturate as the 32-bit C conversion does.
std::int32_t ParseSignedDecimal(std::string_view text);

// Hexadecimal: as above, with an optional 0x or 0X prefix and digits of either case. A
// leading minus negates the value modulo 2^32, as the C conversion does.
std::uint32_t ParseHexNumber(std::string_view text);

#pragma once
#include <cstdint>
#include <optional>
#include <string_view>

// The value of 1..maxDigits hexadecimal digits (either case, nothing else); nullopt for
// anything else, so that a typo never becomes an address.
std::optional<std::uint32_t> ParseHexDigits(std::string_view text, std::size_t maxDigits = 8);

// A start address of a raw binary file: up to eight hexadecimal digits, else the
// address-range message and the usage exit code (throws CliFailure).
std::uint32_t ParseStartAddress(std::string_view text);

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

// A device ID as 'info' shows it and the device-ID dialog takes it: exactly eight
// hexadecimal digits, else the dialog's message and the usage exit code (throws
// CliFailure). `option` names the option in the detail.
std::uint32_t ParseDeviceId(std::string_view text, std::string_view option);

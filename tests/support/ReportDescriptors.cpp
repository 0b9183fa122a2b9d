#include "tests/support/ReportDescriptors.h"

std::vector<std::uint8_t> VendorReportDescriptor(std::size_t inputBytes, std::size_t outputBytes) {
    const auto low = [](std::size_t n) { return static_cast<std::uint8_t>(n & 0xFF); };
    const auto high = [](std::size_t n) { return static_cast<std::uint8_t>((n >> 8) & 0xFF); };
    return {
        0x06,
        0x00,
        0xFF,  // Usage Page (vendor)
        0x09,
        0x01,  // Usage
        0xA1,
        0x01,  // Collection (application)
        0x15,
        0x00,  //   Logical Minimum 0
        0x26,
        0xFF,
        0x00,  //   Logical Maximum 255
        0x75,
        0x08,  //   Report Size 8
        0x96,
        low(inputBytes),
        high(inputBytes),  // Report Count
        0x09,
        0x01,
        0x81,
        0x02,  // Input
        0x96,
        low(outputBytes),
        high(outputBytes),  // Report Count
        0x09,
        0x01,
        0x91,
        0x02,  // Output
        0xC0,  // End Collection
    };
}

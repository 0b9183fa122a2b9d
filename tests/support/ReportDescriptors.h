#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

// The report descriptor of a vendor-defined interface with one input and one output report
// of these byte counts and no report IDs; the programmer's has 64 and 64.
std::vector<std::uint8_t> VendorReportDescriptor(std::size_t inputBytes, std::size_t outputBytes);

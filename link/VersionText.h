#pragma once
#include <cstdint>
#include <string>

#include "common/TextFormat.h"

// How the version words are shown: the major number in as many hexadecimal digits as it
// needs, the minor number in two. The device information, the firmware update dialog and
// the command line all show them so.
inline constexpr const char* kProgrammerVersionFormat = "Version:%x.%02x";
inline constexpr const char* kFirmwareVersionFormat = "Frimware:%x.%02x";

// "Version:10.02" for 0x1002, "Version:0.00" with no programmer.
inline std::string ProgrammerVersionText(std::uint32_t programmerVersion) {
    return Format(kProgrammerVersionFormat, programmerVersion >> 8, programmerVersion & 0xFF);
}

// "Frimware:2.20" for 0x0220.
inline std::string FirmwareVersionText(std::uint32_t firmwareVersion) {
    return Format(kFirmwareVersionFormat, firmwareVersion >> 8, firmwareVersion & 0xFF);
}

#pragma once
#include <cstdint>
#include <string>

#include "common/TextFormat.h"

// What the device information dialog and list 1000 show of a programmer, whatever window
// draws them.

// Eight upper-case hexadecimal digits; empty when no programmer is open (code 0).
inline std::string DeviceIdOf(std::uint32_t connectionCode) {
    if (connectionCode == 0) return std::string();
    return Format("%08X", connectionCode);
}

// One programmer among several: its USB serial number, where it names one, and its path
// ("0002  /dev/hidraw1"). The device ID is no identity: programmers opened within the same
// second get the same one.
inline std::string ProgrammerIdentityOf(const std::string& path, const std::string& serial) {
    if (serial.empty()) return path;
    return serial + "  " + path;
}

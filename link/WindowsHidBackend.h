#pragma once
#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "link/HidBackend.h"

// The transport on Windows: the HID class and device setup calls and file operations on
// the interface path. Windows names a device's ids only once it is open, so a search
// opens every present interface in turn (idsKnown is false).
class WindowsHidBackend : public HidBackend {
public:
    // The present HID device interfaces in SetupDi's order. An interface whose flags are
    // not exactly "active" is listed inactive. A failed detail query of an active
    // interface ends the list there, as it ends the programmer search. Never throws.
    std::vector<HidDeviceInfo> Enumerate() override;

    // Opens the interface path for reading and writing, shared, and reads its
    // capabilities. Returns nullptr and sets `error` ("CreateFileW('PATH'): REASON").
    std::unique_ptr<HidDevice> Open(const std::string& path, HidOpenError& error) override;
};

// A device write that the device never takes ends after this long.
inline constexpr int kWindowsWriteTimeoutMs = 5000;

// "CALL: the system's message for `code`", the message without its line end.
std::string SystemCallError(const char* call, unsigned long code);

#pragma once
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "link/HidBackend.h"

// The transport on Linux (hidraw) and macOS, through hidapi. hidapi names every device's
// ids when enumerating, so a search opens the programmer only.
class HidapiBackend : public HidBackend {
public:
    // Initialises hidapi once per process; a failure shows in Open's reason.
    HidapiBackend();

    // hidapi's enumeration (all vendors), with ids and product strings. Never throws.
    std::vector<HidDeviceInfo> Enumerate() override;

    // hid_open_path, after the node has been opened, locked (flock, exclusive, for as
    // long as the device lives) and asked once as hidapi does. On failure names the
    // system call that failed and its errno ("open('PATH'): Permission denied",
    // "flock('PATH'): Resource temporarily unavailable", "ioctl('PATH', HIDIOCGRDESCSIZE):
    // No such device"); accessDenied only when the node's access rights refused this
    // user, inUse only when another opening holds the lock.
    std::unique_ptr<HidDevice> Open(const std::string& path, HidOpenError& error) override;
};

// The output report length, report ID byte included, that a HID report descriptor
// declares: the longest output report. nullopt when it declares none or is cut short.
std::optional<std::size_t> OutputReportLengthFromDescriptor(const std::uint8_t* data,
                                                            std::size_t size);

// hidraw does not tell the report length directly; Linux shows the descriptor of
// "/dev/hidrawN" at "/sys/class/hidraw/hidrawN/device/report_descriptor". Empty for a
// path of any other form.
std::filesystem::path ReportDescriptorPath(const std::string& devicePath);

// The output report length from a descriptor file; the usual 65 when the file cannot be
// read or declares no output report.
std::size_t OutputReportLengthFromFile(const std::filesystem::path& descriptorFile);

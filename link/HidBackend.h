#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// One HID device interface present on the system.
struct HidDeviceInfo {
    std::string path;
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    bool idsKnown = false;  // false where ids are known only after opening (Windows)
    bool active = true;     // an interface that is present but not active is skipped
    std::string product;    // product string, when the platform gives it
    std::string serial;     // USB serial number, when the device names one
};

enum class HidReadStatus { Ok, Failed, TimedOut };

// An open HID device. Destroying it closes it. Each call states its error contract; the
// reason of the last failure is kept and names the failing system call.
class HidDevice {
public:
    virtual ~HidDevice() = default;

    // Vendor and product id of the opened device. Returns false and keeps the reason.
    virtual bool Attributes(std::uint16_t& vendorId, std::uint16_t& productId) = 0;

    // The output report length, report ID included; the transfer length of every exchange.
    virtual std::size_t OutputReportLength() const = 0;

    // Writes `length` bytes starting with the report ID. Returns false and keeps the reason.
    virtual bool Write(const std::uint8_t* report, std::size_t length) = 0;

    // Reads one input report into `report`, byte 0 being the report ID (0) and byte 1 the
    // first answer byte, waiting at most timeoutMs. Never waits longer.
    virtual HidReadStatus Read(std::uint8_t* report, std::size_t length, int timeoutMs) = 0;

    virtual const std::string& LastError() const = 0;

    // True only for the simulated programmer. Whatever does not say so is taken for
    // hardware, which must never get a firmware made only for the simulator.
    virtual bool IsSimulated() const { return false; }
};

// Why an interface could not be opened.
struct HidOpenError {
    std::string reason;         // names the failing call: "open('/dev/hidraw3'): Permission denied"
    bool accessDenied = false;  // the system refused this user the device (its access rights)
    // Another program has the programmer open: it is one (its ids were seen), and it is
    // free again when that program ends.
    bool inUse = false;
};

// The only thing that touches a platform HID API.
class HidBackend {
public:
    virtual ~HidBackend() = default;

    // The present HID interfaces in the platform's enumeration order. Never throws.
    virtual std::vector<HidDeviceInfo> Enumerate() = 0;

    // Opens a path for reading and writing. The platforms' backends open it for this
    // program alone as long as the device lives: one programmer serves one program, so
    // another program's opening is refused with `inUse` before anything is sent (the
    // simulator holds its --sim-state instead). Returns nullptr and sets `error` on failure.
    virtual std::unique_ptr<HidDevice> Open(const std::string& path, HidOpenError& error) = 0;
};

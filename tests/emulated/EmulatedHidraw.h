#pragma once
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "link/HidReport.h"

class SimulatedProgrammer;
struct _GSource;
struct _UMockdevTestbed;

// What sysfs shows of one USB HID device.
struct HidrawDeviceTraits {
    std::uint16_t vendorId = kProgrammerVendorId;
    std::uint16_t productId = kProgrammerProductId;
    std::string manufacturer = "Marrowdyne";
    std::string product = "Offline programmer (emulated)";
    std::string serial = "0001";
    std::size_t inputBytes = 64;
    std::size_t outputBytes = 64;
};

// Linux's USB HID devices as hidapi-hidraw and libudev see them, emulated with umockdev in
// this process: each device's sysfs entries (USB device, interface, HID device with its
// report_descriptor, hidraw node), its /dev/hidrawN node, uevents on plugging and
// unplugging, and the kernel's hidraw rules for the node's ioctls, writes, reads and
// poll. A simulated programmer answers the reports, in its own time (its latency and
// work rates). This process and every child that is to see the devices run under
// umockdev's preload library.
class EmulatedHidraw {
public:
    // Throws std::runtime_error when this process does not run under the preload.
    EmulatedHidraw();
    ~EmulatedHidraw();
    EmulatedHidraw(const EmulatedHidraw&) = delete;
    EmulatedHidraw& operator=(const EmulatedHidraw&) = delete;

    // Plugs a device in and announces it with an "add" uevent. `brain` (kept by the
    // caller for this object's life) answers the reports; without one the device takes
    // reports and never answers, as a keyboard would. Returns the node path.
    std::string Plug(const HidrawDeviceTraits& traits, SimulatedProgrammer* brain);

    // A "remove" uevent, then the node and the sysfs entries are gone; handles still open
    // fail from now on, and a read waiting for an answer ends.
    void Unplug(const std::string& node);
    bool IsPlugged(const std::string& node) const;

    // Faults of the node rather than of the programmer: access rights 000, so only a
    // process that may override them opens it; or the query hidapi makes of every node
    // it opens (HIDIOCGRDESCSIZE) fails with `error`, as when the device vanishes while
    // being opened.
    void DenyAccess(const std::string& node);
    void FailOpeningQuery(const std::string& node, int error);

    // A request the programmer never answers (a hang) is answered this long after, with
    // a report of zeros; by default never.
    void SetLateAnswer(std::chrono::milliseconds delay);

    // How many times the node has been opened, and how many input reports wait in it.
    int Openings(const std::string& node) const;
    std::size_t ReportsWaiting(const std::string& node) const;

    struct Node;  // one plugged device

private:
    Node* Find(const std::string& node) const;  // mutex_ held
    void UnplugHeld(Node& node);                // mutex_ held

    _UMockdevTestbed* testbed_ = nullptr;
    std::string root_;
    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<Node>> nodes_;  // kept after unplugging: handles may live on
    std::chrono::milliseconds lateAnswer_{-1};
    std::vector<_GSource*> timers_;  // late answers still to come
};

#pragma once
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "link/DeviceEvents.h"
#include "link/HidBackend.h"
#include "link/SimulatedProgrammer.h"

// A HidBackend over simulated devices: programmers and, for search tests, other HID
// devices. Their owner plugs and unplugs them; each plug and unplug is reported to the
// event sink as a watcher would report it.
class SimulatedBackend : public HidBackend {
public:
    SimulatedBackend();
    ~SimulatedBackend() override;

    // Adds a programmer, plugged in. The backend keeps it for its whole life.
    SimulatedProgrammer& AddProgrammer(const SimulatorConfig& config = {});
    // Adds a device of another kind (or an inactive interface), plugged in.
    void AddOtherDevice(const std::string& path, std::uint16_t vendorId, std::uint16_t productId,
                        bool active = true);

    void Plug(const std::string& path);
    void Unplug(const std::string& path);
    bool IsPlugged(const std::string& path) const;

    // Receives every plug and unplug, and the addition of a device while a sink is set.
    // An unplug fault calls it from the thread that wrote the request.
    void SetEventSink(std::function<void(const DeviceEvent&)> sink);

    // How many handles of `path` are open now, and were ever opened.
    int OpenHandles(const std::string& path) const;
    int OpenCount(const std::string& path) const;
    // Requests the programmer at `path` has received so far; safe while workers run.
    std::size_t RequestCount(const std::string& path) const;

    // Makes Open fail for `path` with this reason (as missing permissions would).
    void DenyOpen(const std::string& path, const std::string& reason);

    std::vector<HidDeviceInfo> Enumerate() override;
    std::unique_ptr<HidDevice> Open(const std::string& path, HidOpenError& error) override;

    struct Entry;  // one simulated device

private:
    friend class SimulatedDevice;  // the handles Open gives; they must not outlive the backend
    std::shared_ptr<Entry> FindEntry(const std::string& path) const;  // mutex_ held
    void AddEntry(std::shared_ptr<Entry> entry);

    mutable std::mutex mutex_;
    std::condition_variable unplugged_;  // wakes reads waiting for an answer
    std::vector<std::shared_ptr<Entry>> entries_;
    std::function<void(const DeviceEvent&)> sink_;
};

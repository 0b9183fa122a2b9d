#pragma once
#include <optional>
#include <string>
#include <vector>

#include "link/DeviceEvents.h"

struct udev;
struct udev_monitor;

// Arrival and removal of hidraw nodes, from udev's monitor. The face polls Fd() (a
// socket notifier in the GUI) and hands what ReadEvents returns to the link.
class UdevWatcher {
public:
    UdevWatcher() = default;
    ~UdevWatcher();
    UdevWatcher(const UdevWatcher&) = delete;
    UdevWatcher& operator=(const UdevWatcher&) = delete;

    // Connects to udev's event source. Returns false and sets `error` naming the failed
    // call; then arrival and removal are not noticed, and nothing else changes.
    bool Start(std::string& error);

    // The descriptor that becomes readable when events wait; -1 before a good Start.
    int Fd() const;

    // Every event waiting now, in order; never blocks. Events of other kinds
    // ("change", "bind") are dropped.
    std::vector<DeviceEvent> ReadEvents();

private:
    struct udev* udev_ = nullptr;
    struct udev_monitor* monitor_ = nullptr;
};

// One udev event as the link sees it: "add" is an arrival and "remove" a removal of the
// node `devnode` (for example /dev/hidraw3, the path hidapi enumerates). nullopt for any
// other action or an event without a node.
std::optional<DeviceEvent> DeviceEventFromUdev(const char* action, const char* devnode);

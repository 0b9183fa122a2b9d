#include "link/UdevWatcher.h"

#include <libudev.h>
#include <poll.h>

#include <cerrno>
#include <cstring>

UdevWatcher::~UdevWatcher() {
    if (monitor_ != nullptr) udev_monitor_unref(monitor_);
    if (udev_ != nullptr) udev_unref(udev_);
}

bool UdevWatcher::Start(std::string& error) {
    if (monitor_ != nullptr) return true;
    if (udev_ == nullptr) udev_ = udev_new();
    if (udev_ == nullptr) {
        error = std::string("udev_new: ") + std::strerror(errno);
        return false;
    }
    udev_monitor* monitor = udev_monitor_new_from_netlink(udev_, "udev");
    if (monitor == nullptr) {
        error = std::string("udev_monitor_new_from_netlink('udev'): ") + std::strerror(errno);
        return false;
    }
    int rc = udev_monitor_filter_add_match_subsystem_devtype(monitor, "hidraw", nullptr);
    if (rc >= 0) rc = udev_monitor_enable_receiving(monitor);
    if (rc < 0) {
        error = std::string("udev_monitor_enable_receiving: ") + std::strerror(-rc);
        udev_monitor_unref(monitor);
        return false;
    }
    monitor_ = monitor;
    return true;
}

int UdevWatcher::Fd() const { return monitor_ != nullptr ? udev_monitor_get_fd(monitor_) : -1; }

std::vector<DeviceEvent> UdevWatcher::ReadEvents() {
    std::vector<DeviceEvent> events;
    if (monitor_ == nullptr) return events;
    for (;;) {
        pollfd ready{udev_monitor_get_fd(monitor_), POLLIN, 0};
        if (::poll(&ready, 1, 0) <= 0 || (ready.revents & POLLIN) == 0) break;
        udev_device* device = udev_monitor_receive_device(monitor_);
        if (device == nullptr) break;
        if (auto event = DeviceEventFromUdev(udev_device_get_action(device),
                                             udev_device_get_devnode(device))) {
            events.push_back(std::move(*event));
        }
        udev_device_unref(device);
    }
    return events;
}

std::optional<DeviceEvent> DeviceEventFromUdev(const char* action, const char* devnode) {
    if (action == nullptr || devnode == nullptr || *devnode == '\0') return std::nullopt;
    if (std::strcmp(action, "add") == 0) return DeviceEvent{DeviceEvent::Kind::Arrival, devnode};
    if (std::strcmp(action, "remove") == 0) return DeviceEvent{DeviceEvent::Kind::Removal, devnode};
    return std::nullopt;
}

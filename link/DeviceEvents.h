#pragma once
#include <string>

// Arrival or removal of a HID interface, from whichever watcher (udev, Windows device
// notifications, the simulator's plug and unplug). The faces hand these to
// ProgrammerLink::OnArrival and OnRemoval.
struct DeviceEvent {
    enum class Kind { Arrival, Removal };
    Kind kind = Kind::Arrival;
    std::string path;
};

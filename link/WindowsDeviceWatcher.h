#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "link/DeviceEvents.h"

// Arrival and removal of HID interfaces on Windows: WM_DEVICECHANGE messages to the main
// window. The window registers once it exists and unregisters when it closes; its native
// event handler turns each message into a DeviceEvent for ProgrammerLink.

inline constexpr unsigned kDeviceChangeMessage = 0x0219;         // WM_DEVICECHANGE
inline constexpr std::uintptr_t kDeviceArrival = 0x8000;         // DBT_DEVICEARRIVAL
inline constexpr std::uintptr_t kDeviceRemoveComplete = 0x8004;  // DBT_DEVICEREMOVECOMPLETE
inline constexpr std::uint32_t kDeviceInterfaceRecord = 5;       // DBT_DEVTYP_DEVICEINTERFACE

// Registers `window` (an HWND) for notifications of the HID interface class. Returns
// false and sets `error` naming the failed call; arrival and removal then go unnoticed
// and nothing else changes. A new registration replaces the one before.
bool RegisterHidNotifications(void* window, std::string& error);

// Ends the registration; does nothing when there is none, also after a failed one.
void UnregisterHidNotifications();

// WM_DEVICECHANGE of device arrival or removal complete with a device-interface record:
// the event, with the interface path from the record in UTF-8. nullopt for any other
// message, event or record, and for a record too short to hold its own header.
std::optional<DeviceEvent> DeviceEventFromMessage(unsigned message, std::uintptr_t wParam,
                                                  std::intptr_t lParam);

#include "link/WindowsDeviceWatcher.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// windows.h first: dbt.h and hidsdi.h build on its types.
#include <dbt.h>
extern "C" {
#include <hidsdi.h>
}

#include <cstddef>
#include <cwchar>
#include <mutex>
#include <string_view>

#include "common/WideText.h"
#include "link/WindowsHidBackend.h"

static_assert(kDeviceChangeMessage == WM_DEVICECHANGE);
static_assert(kDeviceArrival == DBT_DEVICEARRIVAL);
static_assert(kDeviceRemoveComplete == DBT_DEVICEREMOVECOMPLETE);
static_assert(kDeviceInterfaceRecord == DBT_DEVTYP_DEVICEINTERFACE);

namespace {

std::mutex registrationMutex;
HDEVNOTIFY registration = nullptr;  // the window's one registration, as the dialog keeps it

}  // namespace

bool RegisterHidNotifications(void* window, std::string& error) {
    DEV_BROADCAST_DEVICEINTERFACE_W filter{};
    filter.dbcc_size = sizeof(filter);
    filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
    HidD_GetHidGuid(&filter.dbcc_classguid);
    HDEVNOTIFY made = RegisterDeviceNotificationW(static_cast<HANDLE>(window), &filter,
                                                  DEVICE_NOTIFY_WINDOW_HANDLE);
    if (made == nullptr) {
        error = SystemCallError("RegisterDeviceNotificationW", GetLastError());
        return false;
    }
    std::lock_guard lock(registrationMutex);
    if (registration != nullptr) UnregisterDeviceNotification(registration);
    registration = made;
    return true;
}

void UnregisterHidNotifications() {
    std::lock_guard lock(registrationMutex);
    if (registration == nullptr) return;
    UnregisterDeviceNotification(registration);
    registration = nullptr;
}

std::optional<DeviceEvent> DeviceEventFromMessage(unsigned message, std::uintptr_t wParam,
                                                  std::intptr_t lParam) {
    if (message != WM_DEVICECHANGE) return std::nullopt;
    DeviceEvent event;
    if (wParam == DBT_DEVICEARRIVAL) {
        event.kind = DeviceEvent::Kind::Arrival;
    } else if (wParam == DBT_DEVICEREMOVECOMPLETE) {
        event.kind = DeviceEvent::Kind::Removal;
    } else {
        return std::nullopt;
    }
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
    if (header == nullptr || header->dbch_size < sizeof(DEV_BROADCAST_HDR) ||
        header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) {
        return std::nullopt;
    }
    // The name runs to its terminator, but never past the size the record gives itself.
    constexpr std::size_t nameOffset = offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name);
    if (header->dbch_size > nameOffset) {
        const auto* record = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(header);
        const std::size_t room = (header->dbch_size - nameOffset) / sizeof(wchar_t);
        event.path =
            Utf8FromWide(std::wstring_view(record->dbcc_name, wcsnlen(record->dbcc_name, room)));
    }
    return event;
}

#pragma once
#include <string>

#include "common/Translation.h"
#include "session/MainDialogView.h"

// The main dialog's fixed texts that its window shows beside its templates' own, the same
// bytes in every window (UTF-8).
inline constexpr const char* kTextApplicationTitle = "Marrowdyne";
// The single entry of list 1000 while one programmer is attached.
inline constexpr const char* kTextDeviceEntry = "Marrowdyne";
inline constexpr const char* kTextNotificationFailed = "RegisterDeviceNotification   failed";
inline constexpr const char* kTextJobColumnItem = N_("项目");
inline constexpr const char* kTextJobColumnValue = "\u2000\u2000";
// The demonstration's menu of a simulated programmer.
inline constexpr const char* kTextMenuDemo = N_("Демо");
inline constexpr const char* kTextMenuPlugProgrammer = N_("Подключить программатор");
inline constexpr const char* kTextMenuUnplugProgrammer = N_("Отключить программатор");
// The caption of every message box of the system: two EN QUADs.
inline constexpr const char* kTextSystemCaption = "\u2000\u2000";

// One of the session's texts as a window shows it: translated, its "%1" replaced by the
// argument, the detail on a line below.
inline std::string ShownText(const SessionText& text) {
    std::string shown = Tr(std::string_view(text.msgid));
    for (std::size_t at = shown.find("%1"); at != std::string::npos;
         at = shown.find("%1", at + text.argument.size())) {
        shown.replace(at, 2, text.argument);
    }
    if (text.detail) shown += "\n" + *text.detail;
    return shown;
}

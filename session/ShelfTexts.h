#pragma once
#include <string>

#include "common/Translation.h"
#include "session/ShelfView.h"

// The shelf of programmers' fixed texts, the same bytes in every window (UTF-8 msgids):
// its menu items, buttons, counters and log pane.
inline constexpr const char* kTextMenuShelf = N_("Полка программаторов");
inline constexpr const char* kTextMenuLogFile = N_("Журнал в файл...");
inline constexpr const char* kTextShelfGroup = N_("Программаторы");
inline constexpr const char* kTextStoreAll = N_("Записать во все");
inline constexpr const char* kTextVerifyAll = N_("Проверить все");
inline constexpr const char* kTextBackUp = N_("Сохранить задание");
// The formats a back-up is written in, as the save dialog offers them.
inline constexpr const char* kBackUpPatterns = "*.hex *.srec *.bin *.elf *.qvz";
inline constexpr const char* kTextShelfCounters = N_("Записано: %1   Ошибок: %2   Проверено: %3");
inline constexpr const char* kTextLogGroup = N_("Журнал работы");
inline constexpr const char* kTextLogColumnTime = N_("Время");
inline constexpr const char* kTextLogColumnSerial = N_("Серийный номер");
inline constexpr const char* kTextLogColumnResult = N_("Результат");
inline constexpr const char* kTextLogColumnMessage = N_("Сообщение");
// What a window that lists the programmers in rows heads its other columns with; the job's
// own facts are headed as the job list's rows are.
inline constexpr const char* kTextTileColumnPath = N_("Путь");
inline constexpr const char* kTextTileColumnCrc = "CRC";
inline constexpr const char* kTextTileColumnState = N_("Состояние");

// The counters' line, translated, with the session's counts.
inline std::string ShelfCountersText(const ShelfCounters& counters) {
    std::string text = Tr(kTextShelfCounters);
    const std::size_t counts[] = {counters.stored, counters.failed, counters.verified};
    for (std::size_t k = 0; k < 3; ++k) {
        const std::string mark = "%" + std::to_string(k + 1);
        if (const std::size_t at = text.find(mark); at != std::string::npos)
            text.replace(at, mark.size(), std::to_string(counts[k]));
    }
    return text;
}

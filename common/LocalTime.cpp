#include "common/LocalTime.h"

LocalTimeFields LocalTimeOf(std::time_t when) {
    std::tm parts{};
#ifdef _WIN32
    if (localtime_s(&parts, &when) != 0) return {};
#else
    if (localtime_r(&when, &parts) == nullptr) return {};
#endif
    LocalTimeFields fields;
    fields.year = parts.tm_year + 1900;
    fields.month = parts.tm_mon + 1;
    fields.day = parts.tm_mday;
    fields.hour = parts.tm_hour;
    fields.minute = parts.tm_min;
    fields.second = parts.tm_sec;
    return fields;
}

LocalTimeFields LocalTimeNow() { return LocalTimeOf(std::time(nullptr)); }

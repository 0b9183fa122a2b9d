#include "common/ProgramLocation.h"

#ifdef _WIN32
#include <windows.h>
#endif

#include <system_error>

std::filesystem::path ProgramDirectory() {
#ifdef _WIN32
    wchar_t buffer[MAX_PATH + 1] = {};
    const DWORD length = GetModuleFileNameW(nullptr, buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return {};
    return std::filesystem::path(std::wstring(buffer, length)).parent_path();
#else
    std::error_code error;
    const auto executable = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return {};
    return executable.parent_path();
#endif
}

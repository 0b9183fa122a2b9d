#include "common/StreamText.h"

#include <cerrno>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <io.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "common/WideText.h"

namespace {

// The console behind the stream, or nullptr for a file, a pipe or no handle at all.
HANDLE ConsoleOf(std::FILE* stream) {
    if (stream == nullptr) return nullptr;
    const int fd = _fileno(stream);
    if (fd < 0) return nullptr;
    const std::intptr_t os = _get_osfhandle(fd);
    if (os == -1 || os == -2) return nullptr;
    const HANDLE handle = reinterpret_cast<HANDLE>(os);
    DWORD mode = 0;
    return GetConsoleMode(handle, &mode) ? handle : nullptr;
}

}  // namespace

bool IsConsoleStream(std::FILE* stream) { return ConsoleOf(stream) != nullptr; }

bool WriteStreamText(std::FILE* stream, std::string_view utf8) {
    const HANDLE console = ConsoleOf(stream);
    if (console == nullptr) {
        return std::fwrite(utf8.data(), 1, utf8.size(), stream) == utf8.size();
    }
    // What the C runtime still holds comes first.
    if (std::fflush(stream) != 0) return false;
    const std::wstring wide = WideFromUtf8(utf8);
    // Large writes fail on older consoles; a pair of surrogates is never split.
    constexpr std::size_t kChunk = 8192;
    std::size_t done = 0;
    while (done < wide.size()) {
        std::size_t chunk = std::min(kChunk, wide.size() - done);
        if (done + chunk < wide.size() && IS_HIGH_SURROGATE(wide[done + chunk - 1])) --chunk;
        DWORD written = 0;
        if (!WriteConsoleW(console, wide.data() + done, static_cast<DWORD>(chunk), &written,
                           nullptr) ||
            written == 0) {
            errno = EIO;
            return false;
        }
        done += written;
    }
    return true;
}

#else

bool IsConsoleStream(std::FILE*) { return false; }

bool WriteStreamText(std::FILE* stream, std::string_view utf8) {
    return std::fwrite(utf8.data(), 1, utf8.size(), stream) == utf8.size();
}

#endif

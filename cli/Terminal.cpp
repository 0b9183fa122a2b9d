#include "cli/Terminal.h"

#include <iostream>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <io.h>
#include <shellapi.h>

#include "link/WindowsHidBackend.h"
#define MARRO_ISATTY _isatty
#define MARRO_FILENO _fileno
#else
#include <unistd.h>
#define MARRO_ISATTY isatty
#define MARRO_FILENO fileno
#endif

bool IsTerminal(std::FILE* stream) { return MARRO_ISATTY(MARRO_FILENO(stream)) != 0; }

void PrepareConsole() {
#ifdef _WIN32
    SetConsoleOutputCP(CP_UTF8);
    SetConsoleCP(CP_UTF8);
#endif
}

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
    std::vector<std::string> arguments;
#ifdef _WIN32
    // main's arguments are in the ANSI code page; file names need not fit it.
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide != nullptr) {
        for (int i = 0; i < count; ++i) arguments.push_back(Utf8FromWide(wide[i]));
        LocalFree(wide);
        return arguments;
    }
#endif
    for (int i = 0; i < argc; ++i) arguments.emplace_back(argv[i]);
    return arguments;
}

std::filesystem::path PathFromArgument(const std::string& utf8) {
    return std::filesystem::path(
        std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

std::FILE* OpenForWriting(const std::filesystem::path& path) {
#ifdef _WIN32
    return _wfopen(path.c_str(), L"wb");
#else
    return std::fopen(path.c_str(), "wb");
#endif
}

bool ReadAnswerLine(std::string& line) { return static_cast<bool>(std::getline(std::cin, line)); }

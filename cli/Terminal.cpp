#include "cli/Terminal.h"

#include <iostream>

#include "common/PathText.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <io.h>
#include <shellapi.h>

#include <cstdlib>

#include "common/WideText.h"
#define MARRO_ISATTY _isatty
#define MARRO_FILENO _fileno
#else
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#define MARRO_ISATTY isatty
#define MARRO_FILENO fileno
#endif

bool IsTerminal(std::FILE* stream) { return MARRO_ISATTY(MARRO_FILENO(stream)) != 0; }

#ifdef _WIN32
namespace {

// The console's code pages as the tool found them; 0 until they are changed.
UINT gOutputPage = 0;
UINT gInputPage = 0;

}  // namespace
#endif

void RestoreConsole() {
#ifdef _WIN32
    // The console outlives the tool: the next program must find the pages it left there.
    if (gOutputPage != 0) SetConsoleOutputCP(gOutputPage);
    if (gInputPage != 0) SetConsoleCP(gInputPage);
#endif
}

void PrepareConsole() {
#ifdef _WIN32
    // The results go to a console as UTF-16 (WriteStreamText); UTF-8 pages are for what
    // still reaches it as bytes, and for the answers typed.
    gOutputPage = GetConsoleOutputCP();
    gInputPage = GetConsoleCP();
    if (gOutputPage != 0 || gInputPage != 0) std::atexit(RestoreConsole);
    if (gOutputPage != 0) SetConsoleOutputCP(CP_UTF8);
    if (gInputPage != 0) SetConsoleCP(CP_UTF8);
#else
    // A standard stream that was closed keeps its number taken, by /dev/null opened for
    // reading only: a file this run creates must not take its place and receive the
    // results, and writing the results fails as it should.
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            const int reserved = open("/dev/null", O_RDONLY);
            if (reserved >= 0 && reserved != fd) close(reserved);
        }
    }
    // A file-size limit then fails the write like a full disk does, which is reported and
    // cleaned up, instead of ending the process midway.
    signal(SIGXFSZ, SIG_IGN);
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

std::filesystem::path PathFromArgument(const std::string& utf8) { return PathFromUtf8(utf8); }

bool ReadAnswerLine(std::string& line) { return static_cast<bool>(std::getline(std::cin, line)); }

#include "cli/Terminal.h"

#include <iostream>

#ifdef _WIN32
#define NOMINMAX
#include <windows.h>
#include <io.h>
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

bool ReadAnswerLine(std::string& line) { return static_cast<bool>(std::getline(std::cin, line)); }

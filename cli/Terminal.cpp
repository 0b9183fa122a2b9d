#include "cli/Terminal.h"

#include <iostream>

#ifdef _WIN32
#include <io.h>
#define MARRO_ISATTY _isatty
#define MARRO_FILENO _fileno
#else
#include <unistd.h>
#define MARRO_ISATTY isatty
#define MARRO_FILENO fileno
#endif

bool IsTerminal(std::FILE* stream) { return MARRO_ISATTY(MARRO_FILENO(stream)) != 0; }

bool ReadAnswerLine(std::string& line) { return static_cast<bool>(std::getline(std::cin, line)); }

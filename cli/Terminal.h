#pragma once
#include <cstdio>
#include <string>

// Whether a standard stream is a terminal (progress bars and questions need one).
bool IsTerminal(std::FILE* stream);

// Lets the console show the system's texts: they are UTF-8 on every platform.
void PrepareConsole();

// Reads one line from standard input; false at end of input.
bool ReadAnswerLine(std::string& line);

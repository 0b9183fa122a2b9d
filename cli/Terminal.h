#pragma once
#include <cstdio>
#include <string>

// Whether a standard stream is a terminal (progress bars and questions need one).
bool IsTerminal(std::FILE* stream);

// Reads one line from standard input; false at end of input.
bool ReadAnswerLine(std::string& line);

#pragma once
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

// Whether a standard stream is a terminal (progress bars and questions need one).
bool IsTerminal(std::FILE* stream);

// Lets the console show the system's texts: they are UTF-8 on every platform. On
// Windows the console's code pages are changed until the tool exits (RestoreConsole runs
// at exit).
void PrepareConsole();

// Gives the console back the code pages PrepareConsole found; nothing elsewhere.
void RestoreConsole();

// The command line as UTF-8, whatever the platform hands to main.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// A path given on the command line (UTF-8).
std::filesystem::path PathFromArgument(const std::string& utf8);

// Reads one line from standard input; false at end of input.
bool ReadAnswerLine(std::string& line);

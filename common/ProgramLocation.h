#pragma once
#include <filesystem>

// The directory of the running executable (GetModuleFileNameW on Windows,
// /proc/self/exe elsewhere); empty when it cannot be had.
std::filesystem::path ProgramDirectory();

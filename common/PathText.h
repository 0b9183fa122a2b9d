#pragma once
#include <filesystem>
#include <string>
#include <string_view>

// Paths as UTF-8 text: how file names come from the command line and go into messages,
// on every platform.
std::filesystem::path PathFromUtf8(std::string_view utf8);
std::string Utf8OfPath(const std::filesystem::path& path);

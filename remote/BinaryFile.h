#pragma once
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "common/PathText.h"

// Whole-file reads of remote job files. Each call returns false (or a failure
// status) and puts the failing call with its reason into `detail`; none throws.

enum class FileReadStatus { Ok, OpenFailed, TooLarge, ReadFailed };

// The file's size as the file system reports it, without reading it.
FileReadStatus FileSizeOf(const std::filesystem::path& path, std::size_t& size,
                          std::string& detail);

// Reads the whole file into `buffer` when it holds at most `limit` bytes (nothing is
// written to the buffer otherwise). A file that cannot be read whole is ReadFailed.
FileReadStatus ReadFileInto(const std::filesystem::path& path, std::uint8_t* buffer,
                            std::size_t limit, std::size_t& size, std::string& detail);

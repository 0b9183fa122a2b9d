#pragma once
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

// Whole-file reads and writes of remote job files. Each call returns false (or a failure
// status) and puts the failing call with its reason into `detail`; none throws.

std::filesystem::path PathFromUtf8(std::string_view utf8);
std::string Utf8OfPath(const std::filesystem::path& path);

enum class FileReadStatus { Ok, OpenFailed, TooLarge, ReadFailed };

// The file's size as the file system reports it, without reading it.
FileReadStatus FileSizeOf(const std::filesystem::path& path, std::size_t& size,
                          std::string& detail);

// Reads the whole file into `buffer` when it holds at most `limit` bytes (nothing is
// written to the buffer otherwise). A file that cannot be read whole is ReadFailed.
FileReadStatus ReadFileInto(const std::filesystem::path& path, std::uint8_t* buffer,
                            std::size_t limit, std::size_t& size, std::string& detail);

// A file opened for writing: created, or truncated when it exists. Closes on destruction.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    bool Create(const std::filesystem::path& path, std::string& detail);
    // Writes all `size` bytes; a short write is a failure.
    bool Write(const std::uint8_t* data, std::size_t size, std::string& detail);
    // Flushes and closes; a failing flush is a failure.
    bool Close(std::string& detail);

private:
    void* file_ = nullptr;  // std::FILE*
    std::filesystem::path path_;
};

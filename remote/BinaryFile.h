#pragma once
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

// Writing remote job files. Each call returns false and puts the failing call with its
// reason into `detail`; none throws. They are read with common/FileReading.h.

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

#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include "common/PathText.h"

// Whole-file reads of the files the user gives: firmware files, remote job files. Each
// call returns a status and puts the failing call with its reason into `detail`; none
// throws.

// NotRegularFile: a folder, a FIFO, a device; refused without being opened.
enum class FileReadStatus { Ok, NotRegularFile, OpenFailed, TooLarge, ReadFailed };

// Why a file of `type` is refused: "'PATH' is a FIFO, not a regular file".
std::string NotRegularFileDetail(const std::filesystem::path& path,
                                 std::filesystem::file_type type);

// The whole contents of a file, in memory of their own size. Large texts go into huge
// pages where the system offers them: a fresh buffer of some megabytes otherwise costs
// more in page faults than the HEX reader takes to parse it.
class FileText {
public:
    FileText() = default;
    ~FileText() { Release(); }
    FileText(const FileText&) = delete;
    FileText& operator=(const FileText&) = delete;

    const std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }
    // Room for `size` bytes in place of what was held; nullptr when no memory is left.
    std::uint8_t* Allocate(std::size_t size);

private:
    void Release();
    std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    void* mapping_ = nullptr;  // when the bytes lie in a mapping of their own
    std::size_t mappingSize_ = 0;
};

// A regular file opened for reading, its size known before a byte of it is read, so that
// callers can refuse it by its size first. Closes on destruction.
class InputFile {
public:
    InputFile() = default;
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // Anything but a regular file (a folder, a FIFO, a device) is refused as NotRegularFile
    // before it is opened: opening a FIFO waits for a writer, and a device may act on
    // being opened.
    FileReadStatus Open(const std::filesystem::path& path, std::string& detail);
    std::uint64_t Size() const { return size_; }
    // Exactly Size() bytes; ReadFailed when the file ends early or a read fails.
    FileReadStatus ReadInto(std::uint8_t* buffer, std::string& detail);
    // The same into `text`, sized to the file; ReadFailed also when no memory is left.
    FileReadStatus ReadInto(FileText& text, std::string& detail);

private:
    std::FILE* file_ = nullptr;
    std::filesystem::path path_;
    std::uint64_t size_ = 0;
};

// Reads a whole file of at most `limit` bytes into `buffer`; TooLarge, before a byte is
// written, for a longer one.
FileReadStatus ReadFileInto(const std::filesystem::path& path, std::uint8_t* buffer,
                            std::size_t limit, std::size_t& size, std::string& detail);

#pragma once
#include <cstddef>
#include <filesystem>
#include <string>

// A file that is written whole or not at all. The bytes go to a temporary file beside
// the target, which is synced and renamed over the target only by Commit, so a failed or
// abandoned write leaves the target as it was: the earlier file, or none. A target that
// exists and is not a regular file (a device, a pipe) is written directly instead.
// Every call returns false and puts the failing call with its reason into `detail`;
// none throws. Messages name the target, never the temporary file.
class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();  // discards what was not committed
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    bool Create(const std::filesystem::path& target, std::string& detail);
    // Writes all `size` bytes.
    bool Write(const void* data, std::size_t size, std::string& detail);
    // Syncs and closes: the bytes are then whole in WrittenPath(), not yet in the target's
    // place.
    bool Close(std::string& detail);
    // Closes when still open and puts the written file in the target's place.
    bool Commit(std::string& detail);
    // Closes and removes what was written; the target stays as it was.
    void Discard();

    // Where the bytes are until Commit (the target itself when it is written directly).
    const std::filesystem::path& WrittenPath() const { return written_; }

private:
    std::string Failed(const char* call, int error) const;

    int fd_ = -1;
    bool direct_ = false;
    bool temporary_ = false;  // written_ is a temporary file that is not committed yet
    std::filesystem::path target_;
    std::filesystem::path written_;
};

// Create, Write and Commit of one buffer.
bool WriteWholeFile(const std::filesystem::path& target, const void* data, std::size_t size,
                    std::string& detail);

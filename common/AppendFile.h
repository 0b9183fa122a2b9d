#pragma once
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>

// A file that whole lines are appended to, from several threads and processes at once:
// opened for appending (every write lands at the end as it stands then), each line
// written while the file is locked against the other processes, synced to the disk
// before Append returns. So lines never interleave, a line that was reported written
// survives a crash or a killed process, and a line that could not be written whole (a
// full disk) is cut off again. Only a regular file is taken. Every call returns false and
// puts the failing call with its reason into `detail`; none throws.
class AppendFile {
public:
    AppendFile() = default;
    ~AppendFile();
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    // Opens `path`, creating it when missing; what it holds stays. Anything but a regular
    // file (a FIFO, a device, a folder) is refused without being opened.
    bool Open(const std::filesystem::path& path, std::string& detail);
    // Appends `line` and a line end; the file holds the whole line afterwards or, having
    // returned false, nothing of it. When the file ends inside a line, that line is
    // ended first.
    bool Append(std::string_view line, std::string& detail);

private:
    bool AppendLocked(std::string_view line, std::string& detail);

    std::mutex mutex_;
    int fd_ = -1;
    std::string name_;  // the path as messages name it
};

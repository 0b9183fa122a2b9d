#pragma once
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>

// A file that whole lines are appended to, from several threads and processes at once:
// opened for appending (every write lands at the end as it stands then), each line in one
// write, synced to the disk before Append returns. So lines never interleave, and a line
// that was reported written survives a crash or a killed process. Every call returns
// false and puts the failing call with its reason into `detail`; none throws.
class AppendFile {
public:
    AppendFile() = default;
    ~AppendFile();
    AppendFile(const AppendFile&) = delete;
    AppendFile& operator=(const AppendFile&) = delete;

    // Opens `path`, creating it when missing; what it holds stays.
    bool Open(const std::filesystem::path& path, std::string& detail);
    // Appends `line` and a line end.
    bool Append(std::string_view line, std::string& detail);

private:
    std::mutex mutex_;
    int fd_ = -1;
    std::string name_;  // the path as messages name it
};

#pragma once
#include <filesystem>
#include <string>

// A file held by one program: while it is held, another program (or another hold in this
// one) that asks for the same file is refused at once instead of being made to wait. The
// file itself stays free to be read and to be replaced by a rename (as OutputFile saves),
// and it need not exist yet. On POSIX systems an exclusive flock of "FILE.lock" beside it,
// removed again on release (a killed holder leaves only an empty, unheld one); on Windows
// a named mutex made from the file's full path. Destroying the lock releases it. None of
// the calls throws.
class FileLock {
public:
    enum class Result { Taken, InUse, Failed };

    FileLock() = default;
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

    // Takes `file`, releasing what was held before. `detail` names the failing call
    // ("flock('FILE.lock'): Resource temporarily unavailable").
    Result Take(const std::filesystem::path& file, std::string& detail);
    void Release();
    bool Held() const;

private:
#ifdef _WIN32
    void* mutex_ = nullptr;
#else
    int fd_ = -1;
    std::filesystem::path lockFile_;
#endif
};

#include "common/FileLock.h"

#include <cstdint>
#include <system_error>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <cwctype>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

#include "common/PathText.h"
#include "common/TextFormat.h"

namespace fs = std::filesystem;

FileLock::~FileLock() { Release(); }

#ifdef _WIN32

// A mutex excludes the other programs as a lock file would, and vanishes with its last
// holder, however that ends.
FileLock::Result FileLock::Take(const fs::path& file, std::string& detail) {
    Release();
    std::error_code ec;
    fs::path full = fs::weakly_canonical(fs::absolute(file, ec), ec);
    if (ec) full = file;
    // One name for one file however it is spelled: Windows paths ignore letter case, and a
    // mutex name takes no backslash, so the name carries the path's FNV-1a hash.
    std::uint64_t hash = 14695981039346656037ull;
    for (wchar_t c : full.wstring()) {
        hash = (hash ^ static_cast<std::uint64_t>(std::towlower(c))) * 1099511628211ull;
    }
    const std::wstring name = L"marrowdyne-file-" + std::to_wstring(hash);
    HANDLE mutex = CreateMutexW(nullptr, FALSE, name.c_str());
    if (mutex == nullptr) {
        detail = Format("CreateMutexW('%s'): error %lu", Utf8OfPath(file).c_str(), GetLastError());
        return Result::Failed;
    }
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        detail = "CreateMutexW('" + Utf8OfPath(file) + "'): held by another program";
        return Result::InUse;
    }
    mutex_ = mutex;
    return Result::Taken;
}

void FileLock::Release() {
    if (mutex_ != nullptr) CloseHandle(static_cast<HANDLE>(mutex_));
    mutex_ = nullptr;
}

bool FileLock::Held() const { return mutex_ != nullptr; }

#else

FileLock::Result FileLock::Take(const fs::path& file, std::string& detail) {
    Release();
    fs::path lockFile = file;
    lockFile += ".lock";
    const auto failed = [&](const char* call, int error) {
        detail = Format("%s('%s'): %s", call, Utf8OfPath(lockFile).c_str(), std::strerror(error));
    };
    // A holder removes the lock file as it lets go: a lock taken on the file it removed
    // holds nothing, so the name is opened again.
    for (int attempt = 0; attempt < 16; ++attempt) {
        const int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd < 0) {
            failed("open", errno);
            return Result::Failed;
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int cause = errno;
            ::close(fd);
            failed("flock", cause);
            return cause == EWOULDBLOCK ? Result::InUse : Result::Failed;
        }
        struct stat held {};
        struct stat named {};
        if (::fstat(fd, &held) == 0 && ::stat(lockFile.c_str(), &named) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
            fd_ = fd;
            lockFile_ = std::move(lockFile);
            return Result::Taken;
        }
        ::close(fd);
    }
    detail = "flock('" + Utf8OfPath(lockFile) + "'): the lock file keeps being replaced";
    return Result::Failed;
}

void FileLock::Release() {
    if (fd_ < 0) return;
    // Removed while still held, so that nobody takes the name in between.
    ::unlink(lockFile_.c_str());
    ::close(fd_);
    fd_ = -1;
}

bool FileLock::Held() const { return fd_ >= 0; }

#endif

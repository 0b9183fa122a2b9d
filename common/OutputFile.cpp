#include "common/OutputFile.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#include <process.h>
#else
#include <unistd.h>
#endif

#include "common/PathText.h"
#include "common/TextFormat.h"

namespace {

namespace fs = std::filesystem;

#ifdef _WIN32
int OpenNew(const fs::path& path) {
    return _wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                  _S_IREAD | _S_IWRITE);
}
int OpenExisting(const fs::path& path) {
    return _wopen(path.c_str(), _O_WRONLY | _O_BINARY | _O_NOINHERIT);
}
long WriteSome(int fd, const char* data, std::size_t size) {
    return _write(fd, data, static_cast<unsigned>(std::min<std::size_t>(size, 1u << 30)));
}
int SyncFile(int fd) { return _commit(fd); }
int CloseFile(int fd) { return _close(fd); }
unsigned ProcessId() { return static_cast<unsigned>(_getpid()); }
#else
int OpenNew(const fs::path& path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
}
int OpenExisting(const fs::path& path) {
    return ::open(path.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
}
long WriteSome(int fd, const char* data, std::size_t size) {
    return static_cast<long>(::write(fd, data, size));
}
int SyncFile(int fd) { return ::fsync(fd); }
int CloseFile(int fd) { return ::close(fd); }
unsigned ProcessId() { return static_cast<unsigned>(::getpid()); }
#endif

// A name beside the target that no other writer uses: the target's own name (so a left
// temporary file says whose it is), this process and a counter.
fs::path TemporaryBeside(const fs::path& target, unsigned attempt) {
    static std::atomic<unsigned> counter{0};
    const auto clock =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    const std::uint64_t tag = clock ^ (std::uint64_t{ProcessId()} << 32) ^
                              (std::uint64_t{++counter + attempt} * 0x9E3779B97F4A7C15u);
    fs::path name = target.filename();
    name += Format(".%016llx.tmp", static_cast<unsigned long long>(tag));
    return target.parent_path() / name;
}

}  // namespace

OutputFile::~OutputFile() { Discard(); }

std::string OutputFile::Failed(const char* call, int error) const {
    return Format("%s('%s'): %s", call, Utf8OfPath(target_).c_str(), std::strerror(error));
}

bool OutputFile::Create(const fs::path& target, std::string& detail) {
    Discard();
    target_ = target;
    direct_ = false;
    std::error_code error;
    const fs::file_status status = fs::status(target, error);
    if (error && status.type() != fs::file_type::not_found) {
        detail = Format("stat('%s'): %s", Utf8OfPath(target).c_str(), error.message().c_str());
        return false;
    }
    if (fs::is_directory(status)) {
        detail = Format("'%s' is a directory", Utf8OfPath(target).c_str());
        return false;
    }
    if (fs::exists(status) && !fs::is_regular_file(status)) {
        // A device or a pipe cannot be replaced by a file, and must not be.
        fd_ = OpenExisting(target);
        if (fd_ < 0) {
            detail = Failed("open", errno);
            return false;
        }
        direct_ = true;
        written_ = target;
        return true;
    }
    if (fs::is_symlink(fs::symlink_status(target, error))) {
        // Replace the file the link names, and keep the link.
        const fs::path resolved = fs::canonical(target, error);
        if (!error) target_ = resolved;
    }
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        written_ = TemporaryBeside(target_, attempt);
        fd_ = OpenNew(written_);
        if (fd_ >= 0 || errno != EEXIST) break;
    }
    if (fd_ < 0) {
        detail = Failed("create", errno);
        return false;
    }
    temporary_ = true;
#ifndef _WIN32
    // The replacement keeps the access rights of the file it replaces.
    struct stat old {};
    if (::stat(target_.c_str(), &old) == 0) (void)::fchmod(fd_, old.st_mode & 07777);
#endif
    return true;
}

bool OutputFile::Write(const void* data, std::size_t size, std::string& detail) {
    if (fd_ < 0) {
        detail = Format("write('%s'): the file is not open", Utf8OfPath(target_).c_str());
        return false;
    }
    const char* bytes = static_cast<const char*>(data);
    std::size_t done = 0;
    while (done < size) {
        const long put = WriteSome(fd_, bytes + done, size - done);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) {
            // A write that takes nothing and says nothing is a full medium.
            detail = Format("write('%s'): %zu of %zu bytes: %s", Utf8OfPath(target_).c_str(), done,
                            size, std::strerror(put < 0 ? errno : ENOSPC));
            return false;
        }
        done += static_cast<std::size_t>(put);
    }
    return true;
}

bool OutputFile::Close(std::string& detail) {
    if (fd_ < 0) return true;
    const int fd = fd_;
    fd_ = -1;
    // Only a file's bytes can be synced; a device or a pipe has none to keep.
    if (!direct_ && SyncFile(fd) != 0) {
        const int error = errno;
        CloseFile(fd);
        detail = Failed("fsync", error);
        return false;
    }
    if (CloseFile(fd) != 0) {
        detail = Failed("close", errno);
        return false;
    }
    return true;
}

bool OutputFile::Commit(std::string& detail) {
    if (!Close(detail)) return false;
    if (!temporary_) return true;
    std::error_code error;
    fs::rename(written_, target_, error);
    if (error) {
        detail = Format("rename('%s'): %s", Utf8OfPath(target_).c_str(), error.message().c_str());
        return false;
    }
    temporary_ = false;
    written_ = target_;
    return true;
}

void OutputFile::Discard() {
    if (fd_ >= 0) CloseFile(fd_);
    fd_ = -1;
    if (temporary_) {
        std::error_code ignored;
        fs::remove(written_, ignored);
        temporary_ = false;
    }
}

bool WriteWholeFile(const fs::path& target, const void* data, std::size_t size,
                    std::string& detail) {
    OutputFile file;
    return file.Create(target, detail) && file.Write(data, size, detail) && file.Commit(detail);
}

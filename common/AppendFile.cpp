#include "common/AppendFile.h"

#include <cerrno>
#include <cstring>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <sys/file.h>
#include <unistd.h>
#endif

#include "common/FileReading.h"
#include "common/PathText.h"

namespace {

#ifdef _WIN32
int OpenForAppending(const std::filesystem::path& path) {
    return _wopen(path.c_str(), _O_RDWR | _O_CREAT | _O_APPEND | _O_BINARY | _O_NOINHERIT,
                  _S_IREAD | _S_IWRITE);
}
bool IsRegular(int fd) {
    struct _stat64 status;
    return _fstat64(fd, &status) == 0 && (status.st_mode & _S_IFMT) == _S_IFREG;
}
long long EndOf(int fd) { return _lseeki64(fd, 0, SEEK_END); }
bool ReadByteAt(int fd, long long offset, char& byte) {
    return _lseeki64(fd, offset, SEEK_SET) == offset && _read(fd, &byte, 1) == 1;
}
long WriteOnce(int fd, const char* data, std::size_t size) {
    return _write(fd, data, static_cast<unsigned>(size));
}
int TruncateTo(int fd, long long length) { return _chsize_s(fd, length) == 0 ? 0 : -1; }
int SyncFile(int fd) { return _commit(fd); }
int CloseFile(int fd) { return _close(fd); }
// Only this process's threads are kept apart (by the mutex) on Windows.
void LockForAppending(int) {}
void UnlockAfterAppending(int) {}
#else
int OpenForAppending(const std::filesystem::path& path) {
    // Without waiting, should a FIFO have taken the log's place since it was looked at;
    // the check after it refuses that. O_NONBLOCK does nothing to a regular file.
    return ::open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK, 0666);
}
bool IsRegular(int fd) {
    struct stat status;
    return ::fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
}
long long EndOf(int fd) { return static_cast<long long>(::lseek(fd, 0, SEEK_END)); }
bool ReadByteAt(int fd, long long offset, char& byte) {
    return ::pread(fd, &byte, 1, static_cast<off_t>(offset)) == 1;
}
long WriteOnce(int fd, const char* data, std::size_t size) {
    return static_cast<long>(::write(fd, data, size));
}
int TruncateTo(int fd, long long length) { return ::ftruncate(fd, static_cast<off_t>(length)); }
int SyncFile(int fd) { return ::fsync(fd); }
int CloseFile(int fd) { return ::close(fd); }
// Other processes appending to the same log wait, so that the end read before a line is
// where it lands, and a failed line is cut off without touching another's. Where the
// lock is not to be had (ENOLCK), appending still works as before.
void LockForAppending(int fd) {
    while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {}
}
void UnlockAfterAppending(int fd) { ::flock(fd, LOCK_UN); }
#endif

}  // namespace

AppendFile::~AppendFile() {
    if (fd_ >= 0) CloseFile(fd_);
}

bool AppendFile::Open(const std::filesystem::path& path, std::string& detail) {
    name_ = Utf8OfPath(path);
    // Refused unopened: opening a FIFO waits for a reader, a device may act on it.
    std::error_code error;
    const std::filesystem::file_type type = std::filesystem::status(path, error).type();
    if (type != std::filesystem::file_type::not_found &&
        type != std::filesystem::file_type::regular && type != std::filesystem::file_type::none) {
        detail = NotRegularFileDetail(path, type);
        return false;
    }
    fd_ = OpenForAppending(path);
    if (fd_ < 0) {
        detail = "open('" + name_ + "'): " + std::strerror(errno);
        return false;
    }
    if (!IsRegular(fd_)) {
        CloseFile(fd_);
        fd_ = -1;
        detail = "'" + name_ + "' is not a regular file";
        return false;
    }
    return true;
}

bool AppendFile::Append(std::string_view line, std::string& detail) {
    std::lock_guard lock(mutex_);
    if (fd_ < 0) {
        detail = "'" + name_ + "' is not open";
        return false;
    }
    LockForAppending(fd_);
    const bool appended = AppendLocked(line, detail);
    UnlockAfterAppending(fd_);
    return appended;
}

bool AppendFile::AppendLocked(std::string_view line, std::string& detail) {
    const long long end = EndOf(fd_);
    if (end < 0) {
        detail = "lseek('" + name_ + "'): " + std::strerror(errno);
        return false;
    }
    std::string whole;
    whole.reserve(line.size() + 2);
    // A last line left unterminated (a crash, or an older tool on a full disk) is ended
    // first, so that this record is a line of its own and the broken one stays alone.
    char last = '\n';
    if (end > 0 && ReadByteAt(fd_, end - 1, last) && last != '\n') whole += '\n';
    whole += line;
    whole += '\n';

    // With appending, another writer's line goes before or after it, never into it. A
    // regular file takes it whole unless it runs out of room; then what was written of it
    // is cut off again, so that the log holds whole lines only.
    std::size_t done = 0;
    long written = 0;
    errno = 0;
    while (done < whole.size() &&
           (written = WriteOnce(fd_, whole.data() + done, whole.size() - done)) > 0) {
        done += static_cast<std::size_t>(written);
    }
    const char* failedCall = nullptr;
    int error = 0;
    if (done < whole.size()) {
        failedCall = "write";
        error = errno != 0 ? errno : EIO;
    } else if (SyncFile(fd_) != 0) {
        // Not known to be on the disk: it must not stay as a line reported lost.
        failedCall = "fsync";
        error = errno;
    }
    if (failedCall == nullptr) return true;
    detail = std::string(failedCall) + "('" + name_ + "'): " + std::strerror(error);
    if (TruncateTo(fd_, end) != 0) {
        detail += "; the part written could not be cut off: " + std::string(std::strerror(errno));
    }
    return false;
}

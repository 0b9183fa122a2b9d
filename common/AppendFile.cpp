#include "common/AppendFile.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "common/PathText.h"

namespace {

#ifdef _WIN32
int OpenForAppending(const std::filesystem::path& path) {
    return _wopen(path.c_str(), _O_WRONLY | _O_CREAT | _O_APPEND | _O_BINARY | _O_NOINHERIT,
                  _S_IREAD | _S_IWRITE);
}
long WriteOnce(int fd, const char* data, std::size_t size) {
    return _write(fd, data, static_cast<unsigned>(size));
}
int SyncFile(int fd) { return _commit(fd); }
int CloseFile(int fd) { return _close(fd); }
#else
int OpenForAppending(const std::filesystem::path& path) {
    return ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
}
long WriteOnce(int fd, const char* data, std::size_t size) {
    return static_cast<long>(::write(fd, data, size));
}
int SyncFile(int fd) { return ::fsync(fd); }
int CloseFile(int fd) { return ::close(fd); }
#endif

}  // namespace

AppendFile::~AppendFile() {
    if (fd_ >= 0) CloseFile(fd_);
}

bool AppendFile::Open(const std::filesystem::path& path, std::string& detail) {
    name_ = Utf8OfPath(path);
    fd_ = OpenForAppending(path);
    if (fd_ >= 0) return true;
    detail = "open('" + name_ + "'): " + std::strerror(errno);
    return false;
}

bool AppendFile::Append(std::string_view line, std::string& detail) {
    std::string whole(line);
    whole += '\n';
    std::lock_guard lock(mutex_);
    if (fd_ < 0) {
        detail = "'" + name_ + "' is not open";
        return false;
    }
    // One write: with appending, another writer's line goes before or after it, never
    // into it. A regular file takes a line of this size whole or fails.
    errno = 0;
    const long written = WriteOnce(fd_, whole.data(), whole.size());
    if (written != static_cast<long>(whole.size())) {
        detail = "write('" + name_ + "'): " +
                 (written < 0 ? std::strerror(errno) : "only part of the line was written");
        return false;
    }
    if (SyncFile(fd_) != 0) {
        detail = "fsync('" + name_ + "'): " + std::strerror(errno);
        return false;
    }
    return true;
}

#include "common/FileReading.h"

#include <sys/stat.h>
#if !defined(_WIN32)
#include <fcntl.h>
#include <unistd.h>
#endif
#if defined(__linux__)
#include <sys/mman.h>
#endif

#include <cerrno>
#include <cstring>
#include <new>
#include <system_error>

#include "common/TextFormat.h"

namespace {

std::string CallFailed(const char* call, const std::filesystem::path& path, int error) {
    return Format("%s('%s'): %s", call, Utf8OfPath(path).c_str(), std::strerror(error));
}

const char* KindOfNonRegular(std::filesystem::file_type type) {
    switch (type) {
        case std::filesystem::file_type::directory:
            return "a folder";
        case std::filesystem::file_type::fifo:
            return "a FIFO";
        case std::filesystem::file_type::character:
            return "a character device";
        case std::filesystem::file_type::block:
            return "a block device";
        case std::filesystem::file_type::socket:
            return "a socket";
        default:
            return "something else";
    }
}

std::FILE* OpenWithoutWaiting(const std::filesystem::path& path) {
#ifdef _WIN32
    return _wfopen(path.c_str(), L"rb");
#else
    // Should a FIFO have taken the file's place since it was looked at, the open must not
    // wait for a writer; the check after it refuses the FIFO.
    const int descriptor = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) return nullptr;
    std::FILE* file = ::fdopen(descriptor, "rb");
    if (!file) {
        const int error = errno;
        ::close(descriptor);
        errno = error;
    }
    return file;
#endif
}

}  // namespace

std::string NotRegularFileDetail(const std::filesystem::path& path,
                                 std::filesystem::file_type type) {
    return Format("'%s' is %s, not a regular file", Utf8OfPath(path).c_str(),
                  KindOfNonRegular(type));
}

std::uint8_t* FileText::Allocate(std::size_t size) {
    Release();
#if defined(__linux__)
    constexpr std::size_t kHugePage = std::size_t{2} << 20;
    if (size >= kHugePage && size <= SIZE_MAX - 2 * kHugePage) {
        const std::size_t length = (size + kHugePage - 1) / kHugePage * kHugePage;
        // One huge page more, so that the bytes can start on a huge page boundary.
        void* mapping = mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE,
                             MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapping != MAP_FAILED) {
            mapping_ = mapping;
            mappingSize_ = length + kHugePage;
            const std::uintptr_t start =
                (reinterpret_cast<std::uintptr_t>(mapping) + kHugePage - 1) &
                ~std::uintptr_t{kHugePage - 1};
            data_ = reinterpret_cast<std::uint8_t*>(start);
            madvise(data_, length, MADV_HUGEPAGE);  // only a hint: small pages work as well
            size_ = size;
            return data_;
        }
    }
#endif
    data_ = new (std::nothrow) std::uint8_t[size > 0 ? size : 1];
    if (data_) size_ = size;
    return data_;
}

void FileText::Release() {
#if defined(__linux__)
    if (mapping_) {
        munmap(mapping_, mappingSize_);
        mapping_ = nullptr;
        data_ = nullptr;
    }
#endif
    delete[] data_;
    data_ = nullptr;
    size_ = 0;
}

InputFile::~InputFile() {
    if (file_) std::fclose(file_);
}

FileReadStatus InputFile::Open(const std::filesystem::path& path, std::string& detail) {
    if (file_) std::fclose(file_);
    file_ = nullptr;
    path_ = path;
    size_ = 0;

    std::error_code error;
    const std::filesystem::file_type type = std::filesystem::status(path, error).type();
    if (error) {
        detail = Format("stat('%s'): %s", Utf8OfPath(path).c_str(), error.message().c_str());
        return FileReadStatus::OpenFailed;
    }
    if (type != std::filesystem::file_type::regular) {
        detail = NotRegularFileDetail(path, type);
        return FileReadStatus::NotRegularFile;
    }

    file_ = OpenWithoutWaiting(path);
    if (!file_) {
        detail = CallFailed("open", path, errno);
        return FileReadStatus::OpenFailed;
    }
#ifdef _WIN32
    struct _stat64 status;
    const bool known = _fstat64(_fileno(file_), &status) == 0;
    const bool regular = known && (status.st_mode & _S_IFMT) == _S_IFREG;
#else
    struct stat status;
    const bool known = fstat(fileno(file_), &status) == 0;
    const bool regular = known && S_ISREG(status.st_mode);
#endif
    if (!known) {
        detail = CallFailed("fstat", path, errno);
        return FileReadStatus::ReadFailed;
    }
    if (!regular) {
        detail = Format("'%s' is no longer a regular file", Utf8OfPath(path).c_str());
        return FileReadStatus::NotRegularFile;
    }
    size_ = static_cast<std::uint64_t>(status.st_size);
    return FileReadStatus::Ok;
}

FileReadStatus InputFile::ReadInto(std::uint8_t* buffer, std::string& detail) {
    if (!file_) {
        detail = "read: no file is open";
        return FileReadStatus::ReadFailed;
    }
    const std::size_t size = static_cast<std::size_t>(size_);
    std::size_t done = 0;
    while (done < size) {
        const std::size_t got = std::fread(buffer + done, 1, size - done, file_);
        if (got == 0) break;
        done += got;
    }
    if (done == size) return FileReadStatus::Ok;
    if (std::ferror(file_))
        detail = CallFailed("read", path_, errno);
    else
        detail = Format("read('%s'): the file ended after %zu of %zu bytes",
                        Utf8OfPath(path_).c_str(), done, size);
    return FileReadStatus::ReadFailed;
}

FileReadStatus InputFile::ReadInto(FileText& text, std::string& detail) {
    if (size_ > SIZE_MAX - 1) {
        detail = Format("'%s' is %llu bytes, more than this system can hold",
                        Utf8OfPath(path_).c_str(), static_cast<unsigned long long>(size_));
        return FileReadStatus::ReadFailed;
    }
    const std::size_t bytes = static_cast<std::size_t>(size_);
    std::uint8_t* buffer = text.Allocate(bytes);
    if (!buffer) {
        detail = Format("no memory for the %zu bytes of '%s'", bytes, Utf8OfPath(path_).c_str());
        return FileReadStatus::ReadFailed;
    }
    const FileReadStatus read = ReadInto(buffer, detail);
    if (read != FileReadStatus::Ok) text.Allocate(0);
    return read;
}

FileReadStatus ReadFileInto(const std::filesystem::path& path, std::uint8_t* buffer,
                            std::size_t limit, std::size_t& size, std::string& detail) {
    InputFile file;
    const FileReadStatus opened = file.Open(path, detail);
    if (opened != FileReadStatus::Ok) return opened;
    if (file.Size() > limit) {
        detail = Format("'%s' is %llu bytes; the buffer holds %zu", Utf8OfPath(path).c_str(),
                        static_cast<unsigned long long>(file.Size()), limit);
        return FileReadStatus::TooLarge;
    }
    const FileReadStatus read = file.ReadInto(buffer, detail);
    if (read == FileReadStatus::Ok) size = static_cast<std::size_t>(file.Size());
    return read;
}

#include "remote/BinaryFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "common/TextFormat.h"

namespace {

std::FILE* OpenFile(const std::filesystem::path& path, bool forWriting) {
#ifdef _WIN32
    return _wfopen(path.c_str(), forWriting ? L"wb" : L"rb");
#else
    return std::fopen(path.c_str(), forWriting ? "wb" : "rb");
#endif
}

std::string CallFailed(const char* call, const std::filesystem::path& path, int error) {
    return Format("%s('%s'): %s", call, Utf8OfPath(path).c_str(), std::strerror(error));
}

}  // namespace

FileReadStatus FileSizeOf(const std::filesystem::path& path, std::size_t& size,
                          std::string& detail) {
    std::error_code error;
    const std::uintmax_t length = std::filesystem::file_size(path, error);
    if (error) {
        detail = Format("stat('%s'): %s", Utf8OfPath(path).c_str(), error.message().c_str());
        return FileReadStatus::OpenFailed;
    }
    if (length > static_cast<std::uintmax_t>(SIZE_MAX)) {
        detail = Format("'%s' is too large", Utf8OfPath(path).c_str());
        return FileReadStatus::TooLarge;
    }
    size = static_cast<std::size_t>(length);
    return FileReadStatus::Ok;
}

FileReadStatus ReadFileInto(const std::filesystem::path& path, std::uint8_t* buffer,
                            std::size_t limit, std::size_t& size, std::string& detail) {
    std::FILE* file = OpenFile(path, false);
    if (file == nullptr) {
        detail = CallFailed("open", path, errno);
        return FileReadStatus::OpenFailed;
    }
    std::size_t length = 0;
    FileReadStatus status = FileSizeOf(path, length, detail);
    if (status == FileReadStatus::OpenFailed) status = FileReadStatus::ReadFailed;
    if (status == FileReadStatus::Ok && length > limit) {
        detail = Format("'%s' has %zu bytes, more than the %zu the buffer holds",
                        Utf8OfPath(path).c_str(), length, limit);
        status = FileReadStatus::TooLarge;
    }
    if (status == FileReadStatus::Ok) {
        const std::size_t got = length > 0 ? std::fread(buffer, 1, length, file) : 0;
        if (got != length) {
            detail = std::ferror(file) != 0
                         ? CallFailed("read", path, errno)
                         : Format("read('%s'): %zu of %zu bytes", Utf8OfPath(path).c_str(), got,
                                  length);
            status = FileReadStatus::ReadFailed;
        }
    }
    std::fclose(file);
    size = length;
    return status;
}

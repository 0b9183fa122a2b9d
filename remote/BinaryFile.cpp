#include "remote/BinaryFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/FileReading.h"
#include "common/TextFormat.h"

namespace {

std::FILE* OpenForWriting(const std::filesystem::path& path) {
#ifdef _WIN32
    return _wfopen(path.c_str(), L"wb");
#else
    return std::fopen(path.c_str(), "wb");
#endif
}

std::string CallFailed(const char* call, const std::filesystem::path& path, int error) {
    return Format("%s('%s'): %s", call, Utf8OfPath(path).c_str(), std::strerror(error));
}

}  // namespace

OutputFile::~OutputFile() {
    if (file_ != nullptr) std::fclose(static_cast<std::FILE*>(file_));
}

bool OutputFile::Create(const std::filesystem::path& path, std::string& detail) {
    if (file_ != nullptr) std::fclose(static_cast<std::FILE*>(file_));
    path_ = path;
    file_ = OpenForWriting(path);
    if (file_ == nullptr) {
        detail = CallFailed("create", path, errno);
        return false;
    }
    return true;
}

bool OutputFile::Write(const std::uint8_t* data, std::size_t size, std::string& detail) {
    if (file_ == nullptr) {
        detail = "write: no file is open";
        return false;
    }
    const std::size_t put = size > 0 ? std::fwrite(data, 1, size, static_cast<std::FILE*>(file_)) : 0;
    if (put != size) {
        detail = Format("write('%s'): %zu of %zu bytes: %s", Utf8OfPath(path_).c_str(), put, size,
                        std::strerror(errno));
        return false;
    }
    return true;
}

bool OutputFile::Close(std::string& detail) {
    if (file_ == nullptr) return true;
    std::FILE* file = static_cast<std::FILE*>(file_);
    file_ = nullptr;
    if (std::fclose(file) != 0) {
        detail = CallFailed("close", path_, errno);
        return false;
    }
    return true;
}

#include "image/FileLoading.h"

#include <sys/stat.h>
#if defined(__linux__)
#include <sys/mman.h>
#endif

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <new>
#include <utility>

#include "common/TextFormat.h"
#include "remote/RemoteJobFile.h"

namespace {

std::string PathText(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::string CallFailed(const char* call, const std::filesystem::path& path, int error) {
    return Format("%s('%s'): %s", call, PathText(path).c_str(), std::strerror(error));
}

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) c = AsciiLower(c);
    return lower;
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// Opens a regular file for reading and tells its size.
LoadStatus OpenForReading(const std::filesystem::path& path, FileHandle& file,
                          std::uint64_t& size, std::string& detail) {
#ifdef _WIN32
    file.reset(_wfopen(path.c_str(), L"rb"));
#else
    file.reset(std::fopen(path.c_str(), "rb"));
#endif
    if (!file) {
        detail = CallFailed("open", path, errno);
        return LoadStatus::OpenFailed;
    }
#ifdef _WIN32
    struct _stat64 status;
    const bool known = _fstat64(_fileno(file.get()), &status) == 0;
    const bool regular = known && (status.st_mode & _S_IFMT) == _S_IFREG;
#else
    struct stat status;
    const bool known = fstat(fileno(file.get()), &status) == 0;
    const bool regular = known && S_ISREG(status.st_mode);
#endif
    if (!known) {
        detail = CallFailed("fstat", path, errno);
        return LoadStatus::ReadFailed;
    }
    if (!regular) {
        detail = Format("'%s' is not a regular file", PathText(path).c_str());
        return LoadStatus::OpenFailed;
    }
    size = static_cast<std::uint64_t>(status.st_size);
    return LoadStatus::Loaded;
}

LoadStatus ReadOpened(std::FILE* file, const std::filesystem::path& path, std::uint8_t* buffer,
                      std::size_t size, std::string& detail) {
    std::size_t done = 0;
    while (done < size) {
        const std::size_t got = std::fread(buffer + done, 1, size - done, file);
        if (got == 0) break;
        done += got;
    }
    if (done == size) return LoadStatus::Loaded;
    if (std::ferror(file)) detail = CallFailed("read", path, errno);
    else detail = Format("read('%s'): the file ended after %zu of %zu bytes",
                         PathText(path).c_str(), done, size);
    return LoadStatus::ReadFailed;
}

LoadOutcome Refusal(LoadOutcome outcome, LoadStatus status, const char* message) {
    outcome.status = status;
    outcome.message = message;
    return outcome;
}

LoadOutcome BusyRefusal(LoadOutcome outcome) {
    outcome.detail = "a worker is reading the loaded image";
    return Refusal(std::move(outcome), LoadStatus::Busy, kMsgImageBusy);
}

// Out of memory, or the face's address question threw: the load fails, nothing changes.
LoadOutcome Unexpected(const LoadRequest& request, const char* what) {
    LoadOutcome failed;
    failed.kind = FileKindOf(request.extension);
    failed.detail = what;
    return Refusal(std::move(failed), LoadStatus::ReadFailed, kMsgLoadFailed);
}

LoadOutcome RemoteJobLoad(ImageWorkspace& workspace, const std::filesystem::path& path,
                          LoadOutcome outcome) {
    switch (LoadRemoteJobFile(path, workspace, outcome.detail)) {
        case RemoteLoadResult::Loaded:
            outcome.status = LoadStatus::Loaded;
            return outcome;
        case RemoteLoadResult::CannotOpen:
            return Refusal(std::move(outcome), LoadStatus::OpenFailed, kMsgLoadFailed);
        case RemoteLoadResult::Damaged:
            return Refusal(std::move(outcome), LoadStatus::Damaged, kMsgFileDamaged);
        case RemoteLoadResult::TooShort:
        case RemoteLoadResult::BadLength:
            return Refusal(std::move(outcome), LoadStatus::BadRecord, kMsgFileDamaged);
        case RemoteLoadResult::TooLarge:
            return Refusal(std::move(outcome), LoadStatus::TooLarge, kMsgLoadFailed);
        case RemoteLoadResult::ReadFailed:
            break;
    }
    return Refusal(std::move(outcome), LoadStatus::ReadFailed, kMsgLoadFailed);
}

LoadOutcome LoadIntoStaging(ImageWorkspace& workspace, const LoadRequest& request,
                            LoadOutcome outcome) {
    switch (outcome.kind) {
        case FileKind::Hex:
            outcome.hexResult = ReadHexFile(request.path, workspace.Staging(), outcome.detail);
            if (outcome.hexResult != HexOk)
                return Refusal(std::move(outcome), LoadStatus::HexFailed, kMsgLoadFailed);
            outcome.status = LoadStatus::Loaded;
            return outcome;
        case FileKind::RawBinary: {
            // A request that cannot ask has nobody to answer: the same as a cancel.
            const std::optional<std::uint32_t> start =
                request.askStartAddress ? request.askStartAddress() : std::nullopt;
            if (!start) {
                outcome.status = LoadStatus::Cancelled;
                return outcome;
            }
            return RawBinaryLoad(workspace, request.path, *start);
        }
        case FileKind::RemoteJob:
            return RemoteJobLoad(workspace, request.path, std::move(outcome));
        case FileKind::Unsupported:
            break;
    }
    outcome.detail = Format("the extension '%s' is none of hex, bin, qvz", request.extension.c_str());
    return Refusal(std::move(outcome), LoadStatus::Unsupported, kMsgUnsupportedType);
}

}  // namespace

std::string FileNameOfPath(std::string_view path) {
    std::size_t cut = path.rfind('\\');
    if (cut == std::string_view::npos) cut = path.rfind('/');
    return std::string(cut == std::string_view::npos ? path : path.substr(cut + 1));
}

std::string ExtensionOfChosenFile(std::string_view fileName) {
    const std::size_t dot = fileName.rfind('.');
    return dot == std::string_view::npos ? std::string() : Lower(fileName.substr(dot + 1));
}

std::string ExtensionOfName(std::string_view fileName) {
    const std::size_t dot = fileName.rfind('.');
    return Lower(dot == std::string_view::npos ? fileName : fileName.substr(dot + 1));
}

FileKind FileKindOf(std::string_view extension) {
    if (extension == "hex") return FileKind::Hex;
    if (extension == "bin") return FileKind::RawBinary;
    if (extension == "qvz") return FileKind::RemoteJob;
    return FileKind::Unsupported;
}

LoadStatus ReadWholeFile(const std::filesystem::path& path, std::uint8_t* buffer,
                         std::size_t limit, std::size_t& size, std::string& detail) {
    FileHandle file;
    std::uint64_t length = 0;
    const LoadStatus opened = OpenForReading(path, file, length, detail);
    if (opened != LoadStatus::Loaded) return opened;
    if (length > limit) {
        detail = Format("'%s' is %llu bytes; the buffer holds %zu", PathText(path).c_str(),
                        static_cast<unsigned long long>(length), limit);
        return LoadStatus::TooLarge;
    }
    const LoadStatus read = ReadOpened(file.get(), path, buffer, static_cast<std::size_t>(length), detail);
    if (read == LoadStatus::Loaded) size = static_cast<std::size_t>(length);
    return read;
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
                (reinterpret_cast<std::uintptr_t>(mapping) + kHugePage - 1) & ~std::uintptr_t{kHugePage - 1};
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

LoadStatus ReadWholeFile(const std::filesystem::path& path, FileText& text, std::string& detail) {
    FileHandle file;
    std::uint64_t length = 0;
    const LoadStatus opened = OpenForReading(path, file, length, detail);
    if (opened != LoadStatus::Loaded) return opened;
    if (length > SIZE_MAX - 1) {
        detail = Format("'%s' is %llu bytes, more than this system can hold",
                        PathText(path).c_str(), static_cast<unsigned long long>(length));
        return LoadStatus::ReadFailed;
    }
    const std::size_t bytes = static_cast<std::size_t>(length);
    std::uint8_t* buffer = text.Allocate(bytes);
    if (!buffer) {
        detail = Format("no memory for the %zu bytes of '%s'", bytes, PathText(path).c_str());
        return LoadStatus::ReadFailed;
    }
    const LoadStatus read = ReadOpened(file.get(), path, buffer, bytes, detail);
    if (read != LoadStatus::Loaded) text.Allocate(0);
    return read;
}

LoadOutcome RawBinaryLoad(ImageWorkspace& workspace, const std::filesystem::path& path,
                          std::uint32_t startAddress) {
    LoadOutcome outcome;
    outcome.kind = FileKind::RawBinary;
    if (workspace.InUse()) return BusyRefusal(std::move(outcome));
    FirmwareImage& staging = workspace.Staging();
    std::size_t size = 0;
    const LoadStatus read =
        ReadWholeFile(path, staging.imageBuffer, kImageStorageSize, size, outcome.detail);
    if (read != LoadStatus::Loaded) return Refusal(std::move(outcome), read, kMsgLoadFailed);
    staging.imageStart = startAddress;
    staging.imageLength = static_cast<std::uint32_t>(size);
    outcome.status = LoadStatus::Loaded;
    return outcome;
}

LoadOutcome LoadFirmwareFile(ImageWorkspace& workspace, const LoadRequest& request) {
    LoadOutcome outcome;
    outcome.kind = FileKindOf(request.extension);
    if (workspace.InUse()) return BusyRefusal(std::move(outcome));
    try {
        outcome = LoadIntoStaging(workspace, request, std::move(outcome));
        if (outcome.status != LoadStatus::Loaded) return outcome;
        // The copies are made before the swap, so running out of memory here changes nothing.
        std::filesystem::path path = request.path;
        std::string name = request.fileName;
        workspace.CommitStaging(std::move(path), std::move(name));
        return outcome;
    } catch (const std::exception& error) {
        return Unexpected(request, error.what());
    } catch (...) {  // the face's question may throw anything
        return Unexpected(request, "the load was ended by an unknown exception");
    }
}

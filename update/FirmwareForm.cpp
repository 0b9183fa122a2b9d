#include "update/FirmwareForm.h"

#include <sys/stat.h>
#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <system_error>

#include "common/LittleEndian.h"
#include "common/TextFormat.h"
#include "link/HidReport.h"

namespace {

constexpr std::uint32_t kVersionWordOffset = kFirmwareVersionAddress - kFirmwareAreaAddress;
// The vector table fills everything before the version word, so code starts after it.
constexpr std::uint32_t kCodeOffset = kVersionWordOffset + 4;

FirmwareCheck Fault(FirmwareFault fault, std::string problem) {
    return FirmwareCheck{fault, std::move(problem)};
}

std::string PathText(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// The same check, its problem said of the file.
FirmwareCheck OfFile(const std::filesystem::path& path, FirmwareCheck check) {
    check.problem = PathText(path) + ": " + check.problem;
    return check;
}

FirmwareCheck CallFailed(FirmwareFault fault, const char* call, const std::filesystem::path& path,
                         const std::string& reason) {
    return Fault(fault, Format("%s('%s'): %s", call, PathText(path).c_str(), reason.c_str()));
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// Opens without waiting: should the path have become a FIFO since it was looked at, the
// open must not block until a writer comes.
FileHandle OpenWithoutWaiting(const std::filesystem::path& path) {
#ifdef _WIN32
    return FileHandle(_wfopen(path.c_str(), L"rb"));
#else
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    std::FILE* file = ::fdopen(fd, "rb");
    if (file == nullptr) {
        const int error = errno;
        ::close(fd);
        errno = error;
    }
    return FileHandle(file);
#endif
}

// Whether the opened file is still the regular file of `size` bytes that was checked.
bool StillTheCheckedFile(std::FILE* file, std::uint64_t size) {
#ifdef _WIN32
    struct _stat64 status;
    return _fstat64(_fileno(file), &status) == 0 && (status.st_mode & _S_IFMT) == _S_IFREG &&
           static_cast<std::uint64_t>(status.st_size) == size;
#else
    struct stat status;
    return fstat(fileno(file), &status) == 0 && S_ISREG(status.st_mode) &&
           static_cast<std::uint64_t>(status.st_size) == size;
#endif
}

}  // namespace

FirmwareCheck CheckFirmwareSize(std::uint64_t size) {
    if (size == 0) return Fault(FirmwareFault::Empty, "the image is empty");
    if (size > kFirmwareAreaSize) {
        return Fault(FirmwareFault::TooLarge,
                     Format("%llu bytes, more than the %u (0x%X) of the programmer's firmware area",
                            static_cast<unsigned long long>(size), kFirmwareAreaSize,
                            kFirmwareAreaSize));
    }
    if (size % 4 != 0) {
        return Fault(FirmwareFault::NotWholeWords,
                     Format("%llu bytes, not a whole number of 32-bit words",
                            static_cast<unsigned long long>(size)));
    }
    if (size < kCodeOffset) {
        return Fault(FirmwareFault::TooShort,
                     Format("%llu bytes, too short to hold the vector table and the version "
                            "word at 0x%X",
                            static_cast<unsigned long long>(size), kVersionWordOffset));
    }
    return {};
}

FirmwareCheck CheckFirmwareForm(std::span<const std::uint8_t> image) {
    if (FirmwareCheck size = CheckFirmwareSize(image.size()); !size.ok()) return size;
    const auto end = kFirmwareAreaAddress + static_cast<std::uint32_t>(image.size());

    // The stack grows down from the initial stack pointer: at least one word of it must
    // lie in SRAM.
    const std::uint32_t stack = ReadLe32(image.data());
    if (stack <= kProgrammerSramAddress || stack > kProgrammerSramAddress + kProgrammerSramSize) {
        return Fault(FirmwareFault::StackOutsideSram,
                     Format("initial stack pointer 0x%08X lies outside the programmer's SRAM "
                            "0x%08X..0x%08X: not an image for this programmer",
                            stack, kProgrammerSramAddress,
                            kProgrammerSramAddress + kProgrammerSramSize));
    }
    const std::uint32_t reset = ReadLe32(image.data() + 4);
    const std::uint32_t entry = reset & ~1u;
    if ((reset & 1u) == 0 || entry < kFirmwareAreaAddress + kCodeOffset || entry >= end) {
        return Fault(FirmwareFault::ResetOutsideImage,
                     Format("reset vector 0x%08X is not a Thumb address (odd) in the image's code "
                            "0x%08X..0x%08X: not an image linked for 0x%08X",
                            reset, kFirmwareAreaAddress + kCodeOffset, end - 1,
                            kFirmwareAreaAddress));
    }
    const std::uint32_t version = ReadLe32(image.data() + kVersionWordOffset);
    const bool vector = version >= kFirmwareAreaAddress && version < kFirmwareAreaAddress + kFirmwareAreaSize;
    if (version == 0 || version == 0xFFFFFFFF || vector) {
        return Fault(FirmwareFault::BadVersionWord,
                     Format("the word at 0x%X is 0x%08X, %s", kVersionWordOffset, version,
                            vector ? "an interrupt vector, not a version word: the image's vector "
                                     "table is not the programmer firmware's"
                                   : "not a version word"));
    }
    return {};
}

FirmwareCheck ReadProgrammerFirmwareFile(const std::filesystem::path& path,
                                         std::vector<std::uint8_t>& image) {
    image.clear();
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (error) return CallFailed(FirmwareFault::OpenFailed, "stat", path, error.message());
    if (!std::filesystem::is_regular_file(status)) {
        return Fault(FirmwareFault::NotRegularFile,
                     Format("'%s' is not a regular file", PathText(path).c_str()));
    }
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (error) return CallFailed(FirmwareFault::OpenFailed, "stat", path, error.message());
    if (FirmwareCheck bounds = CheckFirmwareSize(size); !bounds.ok()) return OfFile(path, bounds);

    const FileHandle file = OpenWithoutWaiting(path);
    if (!file) return CallFailed(FirmwareFault::OpenFailed, "open", path, std::strerror(errno));
    if (!StillTheCheckedFile(file.get(), size)) {
        return Fault(FirmwareFault::ReadFailed,
                     Format("'%s' changed while it was being read", PathText(path).c_str()));
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const std::size_t got = std::fread(bytes.data() + done, 1, bytes.size() - done, file.get());
        if (got == 0) break;
        done += got;
    }
    if (std::ferror(file.get()) != 0) {
        return CallFailed(FirmwareFault::ReadFailed, "read", path, std::strerror(errno));
    }
    if (done != bytes.size() || std::fgetc(file.get()) != EOF) {
        return Fault(FirmwareFault::ReadFailed,
                     Format("'%s' changed while it was being read", PathText(path).c_str()));
    }
    if (FirmwareCheck form = CheckFirmwareForm(bytes); !form.ok()) return OfFile(path, form);
    image = std::move(bytes);
    return {};
}

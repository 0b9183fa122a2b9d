#include "update/FirmwareForm.h"

#include "common/FileReading.h"
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

// The same check, its problem said of the file.
FirmwareCheck OfFile(const std::filesystem::path& path, FirmwareCheck check) {
    check.problem = Utf8OfPath(path) + ": " + check.problem;
    return check;
}

}  // namespace

FirmwareCheck CheckFirmwareSize(std::uint64_t size) {
    if (size == 0) return Fault(FirmwareFault::Empty, "the image is empty");
    if (size > kFirmwareAreaSize) {
        return Fault(
            FirmwareFault::TooLarge,
            Format("%llu bytes, more than the %u (0x%X) of the programmer's firmware area",
                   static_cast<unsigned long long>(size), kFirmwareAreaSize, kFirmwareAreaSize));
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
        return Fault(
            FirmwareFault::StackOutsideSram,
            Format("initial stack pointer 0x%08X lies outside the programmer's SRAM "
                   "0x%08X..0x%08X: not an image for this programmer",
                   stack, kProgrammerSramAddress, kProgrammerSramAddress + kProgrammerSramSize));
    }
    const std::uint32_t reset = ReadLe32(image.data() + 4);
    const std::uint32_t entry = reset & ~1u;
    if ((reset & 1u) == 0 || entry < kFirmwareAreaAddress + kCodeOffset || entry >= end) {
        return Fault(
            FirmwareFault::ResetOutsideImage,
            Format("reset vector 0x%08X is not a Thumb address (odd) in the image's code "
                   "0x%08X..0x%08X: not an image linked for 0x%08X",
                   reset, kFirmwareAreaAddress + kCodeOffset, end - 1, kFirmwareAreaAddress));
    }
    const std::uint32_t version = ReadLe32(image.data() + kVersionWordOffset);
    const bool vector =
        version >= kFirmwareAreaAddress && version < kFirmwareAreaAddress + kFirmwareAreaSize;
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
    InputFile file;
    std::string detail;
    switch (file.Open(path, detail)) {
        case FileReadStatus::Ok:
            break;
        case FileReadStatus::NotRegularFile:
            return Fault(FirmwareFault::NotRegularFile, detail);
        case FileReadStatus::OpenFailed:
        case FileReadStatus::TooLarge:
            return Fault(FirmwareFault::OpenFailed, detail);
        case FileReadStatus::ReadFailed:
            return Fault(FirmwareFault::ReadFailed, detail);
    }
    // Judged by its size first: a file far too large is never read.
    if (FirmwareCheck bounds = CheckFirmwareSize(file.Size()); !bounds.ok())
        return OfFile(path, bounds);
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(file.Size()));
    if (file.ReadInto(bytes.data(), detail) != FileReadStatus::Ok) {
        return Fault(FirmwareFault::ReadFailed, detail);
    }
    if (FirmwareCheck form = CheckFirmwareForm(bytes); !form.ok()) return OfFile(path, form);
    image = std::move(bytes);
    return {};
}

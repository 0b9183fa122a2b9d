#include "remote/RemoteJobFile.h"

#include <algorithm>
#include <cstring>

#include "common/FileReading.h"
#include "common/LittleEndian.h"
#include "common/TextFormat.h"
#include "common/WordCrc32.h"
#include "remote/RemoteScramble.h"

void WriteRemoteRecordPrefix(std::uint8_t* prefix, std::uint32_t targetCode,
                             const JobHeader& header) {
    const auto bytes = header.Encode();
    std::memset(prefix, 0, kRemotePrefixSize);
    WriteLe32(prefix + kRemoteTargetCodeOffset, targetCode);
    std::memcpy(prefix + kRemoteHeaderOffset, bytes.data() + kRemoteHeaderFirstByte,
                kRemoteHeaderBytes);
}

std::size_t SealRemoteJobFile(std::uint8_t* file, std::size_t recordLength) {
    ScrambleRemoteRecord(file, recordLength);
    WriteLe32(file + recordLength, WordCrc32(file, recordLength / 4));
    return recordLength + kRemoteChecksumSize;
}

std::array<std::uint8_t, kJobHeaderSize> JobHeaderBytesOfRecord(const std::uint8_t* record) {
    std::array<std::uint8_t, kJobHeaderSize> header{};
    header[0] = kJobMarker;
    std::memcpy(header.data() + kRemoteHeaderFirstByte, record + kRemoteHeaderOffset,
                kRemoteHeaderBytes);
    return header;
}

std::string RemoteJobFileName(std::string_view fileName) {
    const std::size_t dot = fileName.rfind('.');
    std::string name(dot == std::string_view::npos ? fileName : fileName.substr(0, dot));
    name += ".qvz";
    return name;
}

namespace {

// Loaded when the size can be a remote job file, else the refusal.
RemoteLoadResult JudgeSize(std::uint64_t size, std::string& detail) {
    if (size < kMinRemoteFileSize) {
        detail = Format("%llu bytes; a remote job file has at least %zu",
                        static_cast<unsigned long long>(size), kMinRemoteFileSize);
        return RemoteLoadResult::TooShort;
    }
    if (size > kMaxRemoteFileSize) {
        detail = Format("%llu bytes; a remote job file has at most %zu",
                        static_cast<unsigned long long>(size), kMaxRemoteFileSize);
        return RemoteLoadResult::TooLarge;
    }
    return RemoteLoadResult::Loaded;
}

}  // namespace

RemoteLoadResult LoadRemoteJobBytes(const std::uint8_t* data, std::size_t size,
                                    ImageWorkspace& workspace, std::string& detail) {
    if (const RemoteLoadResult refusal = JudgeSize(size, detail);
        refusal != RemoteLoadResult::Loaded) {
        return refusal;
    }
    const std::size_t checked = size - kRemoteChecksumSize;
    const std::uint32_t computed = WordCrc32(data, checked / 4);
    const std::uint32_t stored = ReadLe32(data + checked);
    if (computed != stored) {
        detail = Format("checksum 0x%08x, the file says 0x%08x", computed, stored);
        return RemoteLoadResult::Damaged;
    }

    // The image length is judged before anything is descrambled into the staging image,
    // so that a refusal leaves every buffer alone.
    const std::uint8_t key = DescrambleByte(data[kRemoteTargetCodeOffset], 0, 0);
    const auto plainWord = [&](std::size_t offset) {
        std::uint8_t bytes[4];
        for (std::size_t i = 0; i < 4; ++i)
            bytes[i] = DescrambleByte(data[offset + i], offset + i, key);
        return ReadLe32(bytes);
    };
    const std::uint32_t stated = plainWord(kRemoteLengthOffset);
    const std::size_t carried = size - kRemoteFileOverhead;
    if (stated != carried) {
        detail = Format("the record states an image of %u bytes but carries %zu", stated, carried);
        return RemoteLoadResult::BadLength;
    }
    // A tail shorter than a word lies outside the checksum; the generator never writes one.
    if (carried % 4 != 0) {
        detail = Format("image of %zu bytes is not a whole number of words", carried);
        return RemoteLoadResult::BadLength;
    }
    const std::uint32_t jobStart = plainWord(kRemoteJobStartOffset);
    if (!EndsWithinAddressSpace(jobStart, carried)) {
        detail = Format(
            "the record places its image of %zu bytes at 0x%08X, beyond the 32-bit "
            "address space",
            carried, jobStart);
        return RemoteLoadResult::BadLength;
    }
    if (carried > kMaxRemoteImageLength) {
        detail = Format("image of %zu bytes exceeds the job storage's %zu", carried,
                        kMaxRemoteImageLength);
        return RemoteLoadResult::TooLarge;
    }

    FirmwareImage& staging = workspace.Staging();
    DescrambleRemoteRecord(data, staging.imageBuffer, checked);
    // The four former checksum bytes follow the record, as in the file.
    std::memmove(staging.imageBuffer + checked, data + checked, kRemoteChecksumSize);
    staging.imageLength = static_cast<std::uint32_t>(checked);
    staging.imageStart = workspace.image.imageStart;
    detail.clear();
    return RemoteLoadResult::Loaded;
}

RemoteLoadResult LoadRemoteJobFile(const std::filesystem::path& path, ImageWorkspace& workspace,
                                   std::string& detail) {
    InputFile file;
    switch (file.Open(path, detail)) {
        case FileReadStatus::Ok:
            break;
        case FileReadStatus::ReadFailed:
            return RemoteLoadResult::ReadFailed;
        default:
            return RemoteLoadResult::CannotOpen;
    }
    // Sizes are judged before the file is read, so no buffer is touched for them.
    if (const RemoteLoadResult refusal = JudgeSize(file.Size(), detail);
        refusal != RemoteLoadResult::Loaded) {
        return refusal;
    }
    std::uint8_t* raw = workspace.scrambleBuffer();
    if (file.ReadInto(raw, detail) != FileReadStatus::Ok) return RemoteLoadResult::ReadFailed;
    return LoadRemoteJobBytes(raw, static_cast<std::size_t>(file.Size()), workspace, detail);
}

#include "remote/GenerateRemoteJobFile.h"

#include <cstring>

#include "common/FileReading.h"
#include "common/LittleEndian.h"
#include "common/NumberText.h"
#include "common/TextLength.h"
#include "common/OutputFile.h"
#include "common/TextFormat.h"
#include "common/WordCrc32.h"
#include "remote/RemoteJobFile.h"
#include "remote/RemoteScramble.h"

namespace {

WorkerOutcome Fail(RemoteGenerationPort& port, OutcomeKind kind, int code, const char* msgid,
                   std::string detail) {
    const char* message = Tr(msgid);
    port.ShowMessage(MessageIcon::Error, message);
    return WorkerOutcome{kind, code, message, std::move(detail)};
}

}  // namespace

WorkerOutcome GenerateRemoteJobFile(RemoteGenerationPort& port) {
    return GenerateRemoteJobFile(port, [] { return LocalTimeNow(); });
}

WorkerOutcome GenerateRemoteJobFile(RemoteGenerationPort& port,
                                    const std::function<LocalTimeFields()>& clock) {
    ImageWorkspace& workspace = port.Workspace();
    const ImageWorkspace::ImageUse use(workspace);
    FirmwareImage& image = workspace.image;

    // Judged before the image is padded, so a refusal changes nothing.
    const std::size_t padded = (static_cast<std::size_t>(image.imageLength) + 3) & ~std::size_t{3};
    if (padded > kMaxRemoteImageLength) {
        return Fail(port, OutcomeKind::InputRefused, 0, kMsgRemoteImageTooLarge,
                    Format("image of %u bytes; a remote job file holds at most %zu",
                           image.imageLength, kMaxRemoteImageLength));
    }
    std::memset(image.imageBuffer + image.imageLength, 0xFF, padded - image.imageLength);
    image.imageLength = static_cast<std::uint32_t>(padded);
    const std::uint32_t n = image.imageLength;

    const std::uint32_t targetCode = port.RemoteCode();
    const JobSettings settings = port.CurrentJobSettings();
    const JobHeader header = BuildJobHeader(settings, image.imageStart, n, 0, clock());

    std::uint8_t* record = workspace.remoteRecordBuffer();
    WriteRemoteRecordPrefix(record, targetCode, header);
    std::memcpy(record + kRemotePrefixSize, image.imageBuffer, n);

    const std::size_t recordLength = kRemotePrefixSize + n;
    std::uint8_t* file = workspace.scrambleBuffer();
    std::memcpy(file, record, recordLength);
    const std::size_t fileLength = SealRemoteJobFile(file, recordLength);

    const std::string name = RemoteJobFileName(workspace.fileName);
    const std::filesystem::path namePath = PathFromUtf8(name);
    std::filesystem::path target;
    OutputFile output;
    std::string detail = "no directory to write into";
    for (const std::filesystem::path& directory : port.OutputDirectories()) {
        const std::filesystem::path candidate = directory / namePath;
        std::string reason;
        if (output.Create(candidate, reason)) {
            target = candidate;
            break;
        }
        detail = std::move(reason);
    }
    if (target.empty()) {
        return Fail(port, OutcomeKind::FileFailed, 1, kMsgGenerateFailed01, detail);
    }
    // Until the check below has passed, an earlier file of that name stays in place: a
    // failed or damaged write replaces nothing.
    if (!output.Write(file, fileLength, detail) || !output.Close(detail)) {
        return Fail(port, OutcomeKind::FileFailed, 1, kMsgGenerateFailed01, detail);
    }
    port.ShowJobDescription({});

    // The read-back checks what the file system kept, not what was meant to be written.
    std::size_t readLength = 0;
    switch (ReadFileInto(output.WrittenPath(), record, kImageStorageSize, readLength, detail)) {
        case FileReadStatus::Ok:
            break;
        default:
            return Fail(port, OutcomeKind::FileFailed, 2, kMsgGenerateFailed02, detail);
    }
    if (readLength != fileLength) {
        return Fail(port, OutcomeKind::FileFailed, 3, kMsgGenerateFailed03,
                    Format("read back %zu bytes of the %zu written", readLength, fileLength));
    }
    const std::uint32_t computed = WordCrc32(record, recordLength / 4);
    const std::uint32_t stored = ReadLe32(record + recordLength);
    if (computed != stored) {
        return Fail(port, OutcomeKind::FileFailed, 3, kMsgGenerateFailed03,
                    Format("checksum 0x%08x read back, the file says 0x%08x", computed, stored));
    }
    if (!output.Commit(detail)) {
        return Fail(port, OutcomeKind::FileFailed, 1, kMsgGenerateFailed01, detail);
    }
    DescrambleRemoteRecord(record, recordLength);

    const auto headerBytes = JobHeaderBytesOfRecord(record);
    port.ShowJobDescription(DescribeJob(name, headerBytes.data(), port.ProgrammerVersion()));
    const std::string fullPath = Utf8OfPath(target);
    const std::string message = Format(Tr(kMsgRemoteGenerated), fullPath.c_str());
    port.ShowMessage(MessageIcon::Exclamation, message);
    return WorkerOutcome{OutcomeKind::Success, 0, message, fullPath};
}

std::optional<std::uint32_t> RemoteCodeOfEntry(std::string_view text) {
    if (Utf8Length(text) != 8) return std::nullopt;
    return ParseHexNumber(text);
}

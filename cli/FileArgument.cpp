#include "cli/FileArgument.h"

#include "cli/Arguments.h"

#include <algorithm>
#include <array>

#include "cli/ExitCodes.h"
#include "cli/Terminal.h"
#include "common/LittleEndian.h"
#include "common/WordCrc32.h"
#include "remote/RemoteJobFile.h"

namespace {

const char* StatusName(LoadStatus status) {
    switch (status) {
        case LoadStatus::Loaded:
            return "Ok";
        case LoadStatus::Cancelled:
            return "Cancelled";
        case LoadStatus::HexFailed:
            return "Failed";
        case LoadStatus::OpenFailed:
            return "OpenFailed";
        case LoadStatus::ReadFailed:
            return "ReadFailed";
        case LoadStatus::TooLarge:
            return "TooLarge";
        case LoadStatus::Damaged:
            return "Damaged";
        case LoadStatus::BadRecord:
            return "BadRecord";
        case LoadStatus::Unsupported:
            return "UnsupportedType";
        case LoadStatus::Busy:
            return "Busy";
    }
    return "Failed";
}

}  // namespace

std::string LoadResultName(const LoadOutcome& outcome) {
    switch (outcome.kind) {
        case FileKind::Hex:
        case FileKind::Srec:
        case FileKind::Elf: {
            const char* format = outcome.kind == FileKind::Hex    ? "Hex"
                                 : outcome.kind == FileKind::Srec ? "Srec"
                                                                  : "Elf";
            if (outcome.status == LoadStatus::Loaded || outcome.status == LoadStatus::HexFailed) {
                return FormatResultName(format, outcome.hexResult);
            }
            return format + std::string(StatusName(outcome.status));
        }
        case FileKind::RawBinary:
            return std::string("Bin") + StatusName(outcome.status);
        case FileKind::RemoteJob:
            return std::string("Qvz") + StatusName(outcome.status);
        case FileKind::Unsupported:
            break;
    }
    return "UnsupportedType";
}

FileKind LoadFileArgument(ConsoleOutput& output, ImageWorkspace& workspace, const std::string& file,
                          std::uint32_t startAddress) {
    LoadRequest request;
    request.path = PathFromArgument(file);
    request.fileName = FileNameOfPath(file);
    // As the Open dialog decides: a file named just "bin" has no extension.
    request.extension = ExtensionOfChosenFile(request.fileName);
    request.askStartAddress = [startAddress]() -> std::optional<std::uint32_t> {
        return startAddress;
    };
    const LoadOutcome outcome = LoadFirmwareFile(workspace, request);
    const std::string result = LoadResultName(outcome);
    output.JsonField("result", result);
    if (outcome.status == LoadStatus::Loaded) return outcome.kind;

    output.Message(MessageIcon::Error,
                   outcome.message.empty() ? Tr(kMsgLoadFailed) : outcome.message);
    output.JsonField("detail", outcome.detail);
    const std::string detail = outcome.detail.empty() ? result : result + ": " + outcome.detail;
    throw CliFailure(ExitCode::FileRefused, outcome.message, detail, true);
}

JobFacts LoadedJobFacts(const ImageWorkspace& workspace, FileKind kind) {
    const FirmwareImage& image = workspace.image;
    JobFacts job;
    job.name = workspace.fileName;
    const std::uint8_t* bytes = image.imageBuffer;
    std::uint32_t length = image.imageLength;
    job.start = image.imageStart;
    if (kind == FileKind::RemoteJob) {
        // A remote job file holds a record: the job's start and length are its own, and
        // the image follows the 64-byte prefix (the loader checked the length).
        job.start = ReadLe32(bytes + kRemoteJobStartOffset);
        length = ReadLe32(bytes + kRemoteLengthOffset);
        bytes += kRemotePrefixSize;
    }
    job.wordCrc32 = WordCrc32Padded(bytes, length);
    job.length = (length + 3) & ~3u;
    return job;
}

void FileOperand::Register(CLI::App& command, const char* what) {
    command.add_option("FILE", file_, what)->required();
    command
        .add_option("--address", address_,
                    "Start address of a raw .bin file, hexadecimal (default 08000000)")
        ->type_name("HEX");
}

std::uint32_t FileOperand::RawStart() const {
    return address_ ? ParseStartAddress(*address_) : kDefaultRawStartAddress;
}

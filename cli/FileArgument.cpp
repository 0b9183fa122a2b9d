#include "cli/FileArgument.h"

#include "cli/Arguments.h"

#include <algorithm>
#include <array>

#include "cli/ExitCodes.h"
#include "cli/Terminal.h"

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

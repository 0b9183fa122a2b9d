#include <array>
#include <optional>

#include "cli/Arguments.h"
#include "cli/CliCommand.h"
#include "cli/ExitCodes.h"
#include "cli/FileArgument.h"
#include "cli/Terminal.h"
#include "common/LittleEndian.h"
#include "common/OutputFile.h"
#include "common/TextFormat.h"
#include "common/WordCrc32.h"
#include "job/JobDescription.h"
#include "remote/RemoteJobFile.h"

namespace {

class InspectCommand final : public CliCommand {
public:
    CLI::App* Register(CLI::App& app) override {
        CLI::App* command = app.add_subcommand(
            "inspect",
            "Load a firmware file (.hex, .srec, .elf, .bin, .qvz) as Program would, and show the "
            "image: start address, length and checksum");
        file_.Register(*command);
        command->add_option("--dump", dump_, "Write the image bytes to OUT")->type_name("OUT");
        return command;
    }

    void Execute(Environment& environment) override {
        ConsoleOutput& output = environment.Output();
        const std::uint32_t start = file_.RawStart();
        ImageWorkspace workspace;
        const FileKind kind = LoadFileArgument(output, workspace, file_.File(), start);
        const FirmwareImage& image = workspace.image;

        const JobFacts job = LoadedJobFacts(workspace, kind);
        const std::uint32_t imageStart = job.start;
        const std::uint32_t crc = *job.wordCrc32;
        // The image as loaded, not padded: a record's follows its prefix.
        const std::uint8_t* bytes = image.imageBuffer;
        std::uint32_t length = image.imageLength;
        if (kind == FileKind::RemoteJob) {
            length = ReadLe32(bytes + kRemoteLengthOffset);
            bytes += kRemotePrefixSize;
        }
        output.Field("start", imageStart, Format("0x%08x", imageStart));
        output.Field("length", length, Format("%u", length));
        output.Field("crc", crc, Format("0x%08x", crc));

        if (kind == FileKind::RemoteJob) {
            std::array<std::uint8_t, kJobHeaderSize> header{};
            header[0] = kJobMarker;
            header[1] = MakeJobName(workspace.fileName).nameSize;
            std::copy(image.imageBuffer + kRemoteHeaderOffset,
                      image.imageBuffer + kRemoteHeaderOffset + kRemoteHeaderBytes,
                      header.begin() + kRemoteHeaderFirstByte);
            output.JsonField("targetCode", ReadLe32(image.imageBuffer + kRemoteTargetCodeOffset));
            // No programmer is known here, so no code-shift row.
            output.Description(DescribeJob(workspace.fileName, header.data(), 0));
        }

        if (!dump_.empty()) {
            // Written whole or not at all: a failed dump leaves an earlier file as it was.
            std::string error;
            if (!WriteWholeFile(PathFromArgument(dump_), bytes, length, error)) {
                throw CliFailure(ExitCode::FileRefused, "Cannot write the image to " + dump_,
                                 error);
            }
            output.JsonField("dump", dump_);
        }
    }

private:
    FileOperand file_;
    std::string dump_;
};

}  // namespace

std::unique_ptr<CliCommand> MakeInspectCommand() { return std::make_unique<InspectCommand>(); }

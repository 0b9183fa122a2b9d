#include <optional>

#include "cli/Arguments.h"
#include "cli/CliCommand.h"
#include "cli/DeviceSession.h"
#include "cli/ExitCodes.h"
#include "cli/FileArgument.h"
#include "cli/Terminal.h"
#include "common/OutputFile.h"
#include "common/TextFormat.h"
#include "job/StoredJob.h"
#include "remote/JobFileWriter.h"

namespace {

// Each kind's extensions are one whole literal of the table, so their view ends in NUL.
const char* Extensions(FileKind kind) { return ExtensionsOf(kind).data(); }

class ReadJobCommand final : public CliCommand {
public:
    CLI::App* Register(CLI::App& app) override {
        CLI::App* command = app.add_subcommand(
            "read-job",
            Format("Read the job stored in the programmer back into OUT: Intel HEX at the "
                   "stored start address (%s), Motorola S3 records there (%s), an ELF file "
                   "with the image as its one segment (%s), the raw image (%s), or a remote "
                   "job file with the stored settings for the programmer with device ID "
                   "--code (%s)",
                   Extensions(FileKind::Hex), Extensions(FileKind::Srec), Extensions(FileKind::Elf),
                   Extensions(FileKind::RawBinary), Extensions(FileKind::RemoteJob)));
        command->add_option("OUT", out_, "The file to write (.hex, .srec, .elf, .bin or .qvz)")
            ->required();
        command
            ->add_option("--code", code_,
                         "Device ID of the programmer a .qvz is for: eight hexadecimal digits, "
                         "as 'info' shows it")
            ->type_name("XXXXXXXX");
        return command;
    }

    void Execute(Environment& environment) override {
        ConsoleOutput& output = environment.Output();
        // Everything about OUT is settled before the programmer is opened.
        const FileKind kind = FileKindOf(ExtensionOfChosenFile(FileNameOfPath(out_)));
        if (kind == FileKind::Unsupported) {
            // Every format that is read is also written.
            throw CliFailure(ExitCode::Usage,
                             std::string("OUT must end in a format's extension (") +
                                 AcceptedFormatsNote() + "): " + out_);
        }
        std::uint32_t code = 0;
        if (kind == FileKind::RemoteJob) {
            if (!code_) {
                throw CliFailure(ExitCode::Usage,
                                 "A remote job file is for one programmer: give its device ID "
                                 "with --code.");
            }
            code = ParseDeviceId(*code_, "--code");
            if (code == 0) {
                throw CliFailure(ExitCode::NothingMade,
                                 "Device ID 00000000 addresses no programmer: no remote job file "
                                 "is made.");
            }
        } else if (code_) {
            throw CliFailure(ExitCode::Usage, "--code is for a .qvz OUT only.");
        }
        OutputFile file;
        std::string error;
        if (!file.Create(PathFromArgument(out_), error)) {
            throw CliFailure(ExitCode::FileRefused, "Cannot write the job to " + out_, error);
        }

        ImageWorkspace workspace;
        ConsolePort port(output, workspace);
        // The job read back is printed, not the one identification saw first.
        port.SetEchoDescriptions(false);
        DeviceSession session(environment, port);
        session.Identify();
        session.Record().job = StoredJobFacts(session.Link());
        port.SetEchoDescriptions(true);
        ThrowIfFailed(output, ReadStoredJob(port));
        // The job as read back and checked, its checksum included.
        session.Record().job = LoadedJobFacts(workspace, FileKind::RemoteJob);

        const JobImageFacts job = JobImageOfRecord(workspace.image.imageBuffer);
        output.Field("start", job.start, Format("0x%08x", job.start));
        output.Field("length", job.length, Format("%u", job.length));
        output.Field("crc", job.crc, Format("0x%08x", job.crc));
        // Only an image that matched the programmer's checksum reaches the file.
        if (!WriteJobFile(workspace, kind, code, file, error)) {
            throw CliFailure(ExitCode::FileRefused, "Cannot write the job to " + out_, error);
        }
        output.Field("file", out_, out_);
    }

private:
    std::string out_;
    std::optional<std::string> code_;
};

}  // namespace

std::unique_ptr<CliCommand> MakeReadJobCommand() { return std::make_unique<ReadJobCommand>(); }

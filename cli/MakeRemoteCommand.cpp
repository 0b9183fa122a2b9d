#include <filesystem>
#include <optional>

#include "cli/Arguments.h"
#include "cli/CliCommand.h"
#include "cli/ConsolePort.h"
#include "link/VersionText.h"
#include "cli/DeviceSession.h"
#include "cli/ExitCodes.h"
#include "cli/FileArgument.h"
#include "cli/JobOptions.h"
#include "cli/SerialLeases.h"
#include "cli/Terminal.h"
#include "common/ProgramLocation.h"
#include "common/TextFormat.h"
#include "remote/GenerateRemoteJobFile.h"

namespace {

class MakeRemoteCommand final : public CliCommand {
public:
    CLI::App* Register(CLI::App& app) override {
        CLI::App* command = app.add_subcommand(
            "make-remote",
            "Pack the image of FILE (.hex, .srec, .elf or .bin) and the job settings into a "
            "remote job file (.qvz) for the programmer with device ID --code");
        file_.Register(*command, "The firmware file (.hex, .srec, .elf or .bin)");
        command
            ->add_option("--code", code_,
                         "Device ID of the target programmer: eight hexadecimal digits, as "
                         "'info' shows it")
            ->required()
            ->type_name("XXXXXXXX");
        command
            ->add_option("--output-dir", outputDir_,
                         "Write the file here (default: the program's directory, else the "
                         "firmware file's directory)")
            ->type_name("DIR");
        job_.Register(*command);
        leases_.Register(*command);
        return command;
    }

    void Execute(Environment& environment) override {
        ConsoleOutput& output = environment.Output();
        const std::uint32_t code = ParseDeviceId(code_, "--code");
        JobSettings settings = job_.Build();
        const std::uint32_t start = file_.RawStart();
        if (code == 0) {
            // As the device-ID dialog closing with 00000000: nothing is generated.
            throw CliFailure(
                ExitCode::NothingMade,
                "Device ID 00000000 addresses no programmer: no remote job file is made.");
        }
        if (FileKindOf(ExtensionOfChosenFile(FileNameOfPath(file_.File()))) ==
            FileKind::RemoteJob) {
            throw CliFailure(ExitCode::FileRefused,
                             "A remote job file cannot be made from a remote job file: give the "
                             ".hex, .srec, .elf or .bin file it came from.");
        }

        leases_.CheckAgainst(job_);
        ImageWorkspace workspace;
        const FileKind kind = LoadFileArgument(output, workspace, file_.File(), start);

        // The block is leased for the remote programmer, before the file is made.
        std::optional<SerialLease> lease;
        if (leases_.Given()) {
            const SerialProduct product =
                ProductToLease(environment, leases_.Product(), job_.GivenCodeShift());
            OperationRecord remote;
            LeaseHolder holder = HolderOf(remote, LoadedJobFacts(workspace, kind));
            holder.remoteDeviceId = Format("%08X", code);
            lease = TakeSerialLease(environment, product, leases_.Serials(), holder);
            ApplyLease(settings, product, *lease);
            ShowLease(output, FactsOf(*lease), product.shiftStep, false);
        }

        ConsolePort port(output, workspace);
        port.SetRemoteCode(code);
        // Generation needs no programmer; none is known, so no code-shift row.
        port.SetProgrammerVersion(0);
        port.SetJobSettings(settings);
        port.SetOutputDirectories(OutputDirectories(workspace.filePath));
        const WorkerOutcome outcome = GenerateRemoteJobFile(port);
        if (lease) SettleLease(environment, output, *lease, outcome.ok());
        ThrowIfFailed(output, outcome);
    }

private:
    std::vector<std::filesystem::path> OutputDirectories(
        const std::filesystem::path& loaded) const {
        std::error_code error;
        // The success message names the full path of the file, as the window's does.
        if (!outputDir_.empty()) {
            const std::filesystem::path given = PathFromArgument(outputDir_);
            const std::filesystem::path absolute = std::filesystem::absolute(given, error);
            return {error ? given : absolute};
        }
        std::vector<std::filesystem::path> directories;
        const std::filesystem::path own = ProgramDirectory();
        if (!own.empty()) directories.push_back(own);
        const std::filesystem::path absolute = std::filesystem::absolute(loaded, error);
        directories.push_back(error ? loaded.parent_path() : absolute.parent_path());
        return directories;
    }

    FileOperand file_;
    std::string code_;
    std::string outputDir_;
    JobOptions job_;
    LeaseOptions leases_;
};

}  // namespace

std::unique_ptr<CliCommand> MakeMakeRemoteCommand() {
    return std::make_unique<MakeRemoteCommand>();
}

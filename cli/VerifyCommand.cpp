#include <optional>

#include "cli/Arguments.h"
#include "cli/CliCommand.h"
#include "cli/DeviceSession.h"
#include "cli/FileArgument.h"
#include "cli/GangCommand.h"
#include "job/StoredJob.h"

namespace {

class VerifyCommand final : public CliCommand {
public:
    CLI::App* Register(CLI::App& app) override {
        CLI::App* command = app.add_subcommand(
            "verify",
            "Say whether the programmer holds the job of FILE (.hex, .srec, .elf, .bin, .qvz), "
            "writing nothing: the stored start address, length and checksum");
        file_.Register(*command);
        RegisterAll(*command, all_);
        return command;
    }

    void Execute(Environment& environment) override {
        ConsoleOutput& output = environment.Output();
        const std::uint32_t start = file_.RawStart();
        ImageWorkspace workspace;
        const FileKind kind = LoadFileArgument(output, workspace, file_.File(), start);
        const JobFacts job = LoadedJobFacts(workspace, kind);

        if (GangChosen(environment, all_)) {
            RunOnGang(environment, all_, [&](Station& station) {
                station.Workspace().CopyLoaded(workspace);
                station.Record().job = job;
                station.Port().SetEchoDescriptions(false);
                ThrowIfFailed(station.Output(), VerifyJob(station.Port()));
            });
            return;
        }
        ConsolePort port(output, workspace);
        // The comparison says what is stored; the stored job's rows are for 'info'.
        port.SetEchoDescriptions(false);
        DeviceSession session(environment, port);
        session.Record().job = job;
        session.Identify();
        ThrowIfFailed(output, VerifyJob(port));
    }

private:
    FileOperand file_;
    bool all_ = false;
};

}  // namespace

std::unique_ptr<CliCommand> MakeVerifyCommand() { return std::make_unique<VerifyCommand>(); }

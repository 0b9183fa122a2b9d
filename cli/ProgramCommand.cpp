#include <optional>

#include "cli/Arguments.h"
#include "cli/CliCommand.h"
#include "cli/DeviceSession.h"
#include "link/VersionText.h"
#include "cli/ExitCodes.h"
#include "cli/FileArgument.h"
#include "cli/JobOptions.h"
#include "job/UploadJob.h"

namespace {

std::string SeriesName(int index) {
    return index >= 0 && index < kSeriesCount ? kSeriesNames[index] : "no series of the list";
}

class ProgramCommand final : public CliCommand {
public:
    CLI::App* Register(CLI::App& app) override {
        CLI::App* command = app.add_subcommand(
            "program", "Store a job in the programmer: the image of FILE (.hex, .bin, or a "
                       "remote job file .qvz) with the job settings, verified by checksum");
        command->add_option("FILE", file_, "The firmware file")->required();
        command->add_option("--address", address_,
                            "Start address of a raw .bin file, hexadecimal (default 08000000)")
            ->type_name("HEX");
        job_.Register(*command);
        return command;
    }

    void Execute(Environment& environment) override {
        ConsoleOutput& output = environment.Output();
        // Every bad option is refused before anything is loaded or written.
        JobSettings settings = job_.Build();
        const std::uint32_t start =
            address_ ? ParseStartAddress(*address_) : kDefaultRawStartAddress;

        ImageWorkspace workspace;
        const FileKind kind = LoadFileArgument(output, workspace, file_, start);
        if (kind == FileKind::RemoteJob && job_.AnyGiven()) {
            throw CliFailure(ExitCode::Usage,
                             "A remote job file brings its own job settings; give none.");
        }

        ConsolePort port(output, workspace);
        port.SetEchoDescriptions(false);
        DeviceSession session(environment, port);
        session.Identify();

        // A programmer of the older kind serves one series: the identification fixed
        // it, as it fixes the window's series list.
        if (const std::optional<int> fixed = session.FixedSeries()) {
            const std::optional<int> asked = job_.ExplicitSeries();
            if (asked && *asked != *fixed) {
                throw CliFailure(
                    ExitCode::SeriesMismatch,
                    "This programmer (" + ProgrammerVersionText(session.Link().programmerVersion()) +
                        ") serves " + SeriesName(*fixed) + " only, not " + SeriesName(*asked) +
                        ". Nothing was written.");
            }
            settings.seriesIndex = *fixed;
        }
        port.SetJobSettings(settings);
        port.SetEchoDescriptions(true);

        const WorkerOutcome outcome = UploadKindOf(workspace.fileName) == UploadKind::RemoteJob
                                          ? UploadRemoteJob(port)
                                          : UploadJob(port);
        ThrowIfFailed(output, outcome);
    }

private:
    std::string file_;
    std::optional<std::string> address_;
    JobOptions job_;
};

}  // namespace

std::unique_ptr<CliCommand> MakeProgramCommand() { return std::make_unique<ProgramCommand>(); }

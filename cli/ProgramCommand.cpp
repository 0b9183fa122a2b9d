#include <optional>

#include "cli/Arguments.h"
#include "cli/CliCommand.h"
#include "cli/DeviceSession.h"
#include "cli/ExitCodes.h"
#include "cli/FileArgument.h"
#include "cli/GangCommand.h"
#include "cli/JobOptions.h"
#include "cli/SerialLeases.h"
#include "job/UploadJob.h"
#include "link/VersionText.h"

namespace {

std::string SeriesName(int index) {
    return index >= 0 && index < kSeriesCount ? kSeriesNames[index] : "no series of the list";
}

class ProgramCommand final : public CliCommand {
public:
    CLI::App* Register(CLI::App& app) override {
        CLI::App* command = app.add_subcommand(
            "program",
            "Store a job in the programmer: the image of FILE (.hex, .srec, .elf, .bin, or a "
            "remote job file .qvz) with the job settings, verified by checksum");
        file_.Register(*command);
        job_.Register(*command);
        leases_.Register(*command);
        RegisterAll(*command, all_);
        return command;
    }

    void Execute(Environment& environment) override {
        ConsoleOutput& output = environment.Output();
        // Every bad option is refused before anything is loaded or written.
        const JobSettings settings = job_.Build();
        const std::uint32_t start = file_.RawStart();

        // The file is loaded once, whatever the number of programmers.
        ImageWorkspace workspace;
        const FileKind kind = LoadFileArgument(output, workspace, file_.File(), start);
        if (kind == FileKind::RemoteJob && job_.AnyGiven()) {
            throw CliFailure(ExitCode::Usage,
                             "A remote job file brings its own job settings; give none.");
        }
        const JobFacts job = LoadedJobFacts(workspace, kind);
        std::optional<SerialProduct> product;
        if (leases_.Given()) {
            leases_.CheckAgainst(job_);
            // A .qvz brings its own header: its product must exist.
            product = ProductToLease(environment, leases_.Product(),
                                     kind == FileKind::RemoteJob
                                         ? std::nullopt
                                         : std::optional<GivenShift>(job_.GivenCodeShift()));
        }

        if (GangChosen(environment, all_)) {
            // A .qvz brings its own code shift, a backup its counters too; a product gives
            // each programmer a block of its own instead.
            if (product) {
                // Each programmer leases its block as it is served.
            } else if (kind == FileKind::RemoteJob) {
                RefuseSharedSerials((HeaderOfRecord(workspace).shiftEnabled & 1) != 0,
                                    "This remote job file has code shift on: storing it");
            } else {
                RefuseSharedSerials((settings.shift.shiftEnabled & 1) != 0, "--shift");
            }
            RunOnGang(environment, all_, [&](Station& station) {
                // Each programmer pads and sends an image of its own.
                station.Workspace().CopyLoaded(workspace);
                station.Record().job = job;
                Store(environment, station.Session(), station.Port(), settings, kind, product);
            });
            return;
        }
        ConsolePort port(output, workspace);
        port.SetEchoDescriptions(false);
        DeviceSession session(environment, port);
        session.Record().job = job;
        session.Identify();
        port.SetEchoDescriptions(true);
        Store(environment, session, port, settings, kind, product);
    }

private:
    // Stores the loaded job in the identified programmer of `session`, with a block of
    // `product` of its own; throws CliFailure when the series or the block cannot be had
    // or the upload fails.
    void Store(Environment& environment, DeviceSession& session, ConsolePort& port,
               JobSettings settings, FileKind kind,
               const std::optional<SerialProduct>& product) const {
        // A remote job file brings its own series.
        if (kind != FileKind::RemoteJob) settings.seriesIndex = SeriesFor(session);
        OperationRecord& record = session.Record();
        // The log names the block this job carries, not the one it replaces.
        record.lease.reset();
        std::optional<SerialLease> lease;
        if (product) {
            // Recorded before anything is written: values that may reach a part are never
            // handed out again.
            lease = LeaseForProgrammer(environment, port.Output(), *product, leases_.Serials(),
                                       record, record.job.value_or(JobFacts{}));
            if (kind == FileKind::RemoteJob) {
                ApplyLease(port.Workspace(), *product, *lease);
            } else {
                ApplyLease(settings, *product, *lease);
            }
        }
        port.SetJobSettings(settings);
        const WorkerOutcome outcome =
            UploadKindOf(port.Workspace().fileName) == UploadKind::RemoteJob ? UploadRemoteJob(port)
                                                                             : UploadJob(port);
        if (lease) SettleLease(environment, port.Output(), *lease, outcome.ok());
        ThrowIfFailed(port.Output(), outcome);
    }

    // The series of the job: a programmer of the older kind serves one series, which the
    // identification fixed (as it fixes the window's series list); for the newer kind
    // --series, or else the series of the job it holds, as the window keeps it.
    int SeriesFor(DeviceSession& session) const {
        const std::optional<int> asked = job_.ExplicitSeries();
        if (const std::optional<int> fixed = session.FixedSeries()) {
            if (asked && *asked != *fixed) {
                throw CliFailure(ExitCode::SeriesMismatch,
                                 "This programmer (" +
                                     ProgrammerVersionText(session.Link().programmerVersion()) +
                                     ") serves " + SeriesName(*fixed) + " only, not " +
                                     SeriesName(*asked) + ". Nothing was written.");
            }
            return *fixed;
        }
        if (asked) return *asked;
        const StoredJob stored = session.Link().storedJob();
        if (stored.header.size() != kJobHeaderSize || stored.header[0] != kJobMarker) {
            throw CliFailure(ExitCode::Usage,
                             "This programmer holds no job (it is erased), so there is no series "
                             "to keep: give --series. Nothing was written.");
        }
        const int series = stored.header[2];
        if (series >= kSeriesCount) {
            throw CliFailure(ExitCode::Usage,
                             "The job stored in this programmer names no known series (" +
                                 std::to_string(series) + "): give --series. Nothing was written.");
        }
        return series;
    }

    FileOperand file_;
    JobOptions job_;
    LeaseOptions leases_;
    bool all_ = false;
};

}  // namespace

std::unique_ptr<CliCommand> MakeProgramCommand() { return std::make_unique<ProgramCommand>(); }

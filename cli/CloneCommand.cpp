#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/CliCommand.h"
#include "cli/DeviceSession.h"
#include "cli/ExitCodes.h"
#include "cli/FileArgument.h"
#include "cli/Interruption.h"
#include "cli/SerialLeases.h"
#include "job/StoredJob.h"
#include "job/UploadJob.h"

namespace {

class CloneCommand final : public CliCommand {
public:
    CLI::App* Register(CLI::App& app) override {
        CLI::App* command = app.add_subcommand(
            "clone",
            "Read the job stored in the programmer at --from and store it, with its "
            "name and settings, in the programmers at --to, one after another");
        command
            ->add_option("--from", from_, "Interface path of the programmer to read (see 'list')")
            ->required()
            ->type_name("PATH");
        command
            ->add_option("--to", to_,
                         "Interface path of a programmer to store the job in "
                         "(repeatable)")
            ->required()
            ->type_name("PATH");
        CLI::Option* same = command->add_flag(
            "--same-serials", sameSerials_,
            "Copy the source's code-shift counters on purpose: the targets go on "
            "with the same serial numbers (a replacement for a retired programmer)");
        leases_.Register(*command);
        same->excludes("--product");
        return command;
    }

    void Execute(Environment& environment) override {
        ConsoleOutput& output = environment.Output();
        if (!environment.options().devices.empty()) {
            throw CliFailure(ExitCode::Usage,
                             "clone names its programmers with --from and --to, not --device.");
        }
        // Every target leases a block of its own from an existing product.
        std::optional<SerialProduct> product;
        if (leases_.Given()) product = ProductToLease(environment, leases_.Product(), std::nullopt);
        environment.OpenLog();
        // Nothing of a programmer is reported before the log has it.
        if (environment.Logging()) output.DeferUntilFinish();
        ImageWorkspace workspace;
        {
            ConsolePort port(output, workspace);
            port.SetEchoDescriptions(false);
            OperationRecord record = RecordOf("clone-from", from_);
            Logged(environment, record, [&] {
                DeviceSession source(environment, port, from_, record);
                source.Identify();
                // A clone goes on with its source's serial numbers: only on purpose.
                const std::optional<JobHeader> stored = StoredHeader(source.Link());
                if (stored && (stored->shiftEnabled & 1) != 0 && !sameSerials_ && !product) {
                    throw CliFailure(
                        ExitCode::Usage,
                        "The job of " + from_ +
                            " has code shift on: its clones would write the same serial numbers "
                            "as it. Give --product NAME --serials N for a block of each target's "
                            "own from the serial ledger, or --same-serials when a target replaces "
                            "a programmer that is retired. Nothing was written.");
                }
                record.job = StoredJobFacts(source.Link());
                port.SetEchoDescriptions(true);
                // Nothing is stored anywhere unless the job read back matched its checksum.
                ThrowIfFailed(output, ReadStoredJob(port));
                record.job = LoadedJobFacts(workspace, FileKind::RemoteJob);
            });
        }
        const JobFacts job = LoadedJobFacts(workspace, FileKind::RemoteJob);

        // A failed programmer never keeps the others from their job; the first failure in
        // the order given decides the exit code.
        nlohmann::json targets = nlohmann::json::array();
        std::optional<ExitCode> firstFailure;
        std::string failed;
        for (const std::string& path : to_) {
            output.Line("to\t" + path);
            ExitCode code = ExitCode::Success;
            std::string message;
            OperationRecord record = RecordOf("clone-to", path);
            record.job = job;
            try {
                Logged(environment, record, [&] {
                    ConsolePort port(output, workspace);
                    port.SetEchoDescriptions(false);
                    DeviceSession target(environment, port, path, record);
                    target.Identify();
                    record.lease.reset();
                    std::optional<SerialLease> lease;
                    if (product) {
                        lease = LeaseForProgrammer(environment, output, *product, leases_.Serials(),
                                                   record, job);
                        ApplyLease(workspace, *product, *lease);
                    }
                    // The workspace holds the job as a remote record, whatever its name says.
                    const WorkerOutcome outcome = UploadRemoteJob(port);
                    if (lease) SettleLease(environment, output, *lease, outcome.ok());
                    message = outcome.message;
                    ThrowIfFailed(output, outcome);
                });
            } catch (const CliFailure& failure) {
                if (!failure.shown()) output.Message(MessageIcon::Error, failure.what());
                if (!failure.detail().empty()) output.Note(failure.detail());
                code = failure.code();
                message = failure.what();
            }
            targets.push_back({{"path", path}, {"message", message}, {"exitCode", ToInt(code)}});
            if (code != ExitCode::Success) {
                if (!firstFailure) firstFailure = code;
                failed += (failed.empty() ? "" : ", ") + path;
            }
        }
        output.JsonField("targets", targets);
        if (firstFailure) {
            throw CliFailure(*firstFailure, "The job was not stored in: " + failed);
        }
    }

private:
    static OperationRecord RecordOf(const char* operation, const std::string& path) {
        OperationRecord record;
        record.operation = operation;
        record.path = path;  // also when it cannot be opened
        return record;
    }

    // Runs `work` on the programmer of `record` and logs how it ended; a failure goes on
    // to the caller. A stop counts as the end of whatever it cut short.
    static void Logged(Environment& environment, OperationRecord& record,
                       const std::function<void()>& work) {
        ConsoleOutput& output = environment.Output();
        try {
            work();
        } catch (const CliFailure& failure) {
            const bool stopped = InterruptionCode() != ExitCode::Success;
            const std::optional<WorkerOutcome>& outcome = output.LastOutcome();
            std::string detail = failure.detail();
            // A worker's failure has its reason in the outcome; an earlier target's
            // outcome is no reason of this one.
            if (detail.empty() && failure.shown() && outcome && !outcome->ok())
                detail = outcome->detail;
            environment.Log(record, stopped ? InterruptionCode() : failure.code(),
                            stopped ? InterruptionText() : failure.what(), detail);
            throw;
        }
        const std::optional<WorkerOutcome>& outcome = output.LastOutcome();
        environment.Log(record, ExitCode::Success, output.LastMessage(),
                        outcome ? outcome->detail : std::string());
    }

    std::string from_;
    std::vector<std::string> to_;
    bool sameSerials_ = false;
    LeaseOptions leases_;
};

}  // namespace

std::unique_ptr<CliCommand> MakeCloneCommand() { return std::make_unique<CloneCommand>(); }

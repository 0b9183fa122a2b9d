#include "cli/CliCommand.h"
#include "cli/DeviceSession.h"
#include "cli/GangCommand.h"
#include "cli/SerialLeases.h"
#include "common/TextFormat.h"
#include "link/HidReport.h"
#include "link/VersionText.h"

namespace {

class InfoCommand final : public CliCommand {
public:
    CLI::App* Register(CLI::App& app) override {
        CLI::App* command = app.add_subcommand(
            "info",
            "Identify the programmer: its version words, its device ID (the code that "
            "remote job files are addressed to) and the job stored in it");
        RegisterAll(*command, all_);
        return command;
    }

    void Execute(Environment& environment) override {
        if (GangChosen(environment, all_)) {
            RunOnGang(environment, all_, [](Station& station) {
                Describe(station.Output(), station.Session(), station.Port());
                station.SetSummary(Summary(station.Session()));
            });
            return;
        }
        ConsoleOutput& output = environment.Output();
        ImageWorkspace workspace;
        ConsolePort port(output, workspace);
        // The stored job is printed after the version lines, not as it is read.
        port.SetEchoDescriptions(false);
        DeviceSession session(environment, port);
        session.Identify();
        Describe(output, session, port);
    }

private:
    // What an identified programmer is and holds, as lines or fields.
    static void Describe(ConsoleOutput& output, DeviceSession& session, ConsolePort& port) {
        ProgrammerLink& link = session.Link();
        session.Record().job = StoredJobFacts(link);
        const std::uint32_t version = link.programmerVersion();
        output.LineField("programmerVersion", version, ProgrammerVersionText(version));
        if (IsNewerKind(version)) {
            const std::uint32_t firmware = link.firmwareVersion();
            output.LineField("firmwareVersion", firmware, FirmwareVersionText(firmware));
        }
        const std::uint32_t code = link.connectionCode();
        output.JsonField("connectionCode", code);
        output.LineField("deviceId", Format("%08X", code), Format("SN:%08X", code));
        output.Description(port.LastDescription());
        // The block the stored job counts in, as the serial ledger has it.
        const std::optional<JobHeader> header = StoredHeader(link);
        if (session.Record().lease && header) {
            ShowLease(output, *session.Record().lease, header->shiftStep, true);
        }
    }

    // A gang's line for one programmer: its version words and the name of its job.
    static std::string Summary(DeviceSession& session) {
        ProgrammerLink& link = session.Link();
        std::string text = ProgrammerVersionText(link.programmerVersion());
        if (IsNewerKind(link.programmerVersion()))
            text += ' ' + FirmwareVersionText(link.firmwareVersion());
        const std::optional<JobFacts> job = session.Record().job;
        text += job ? " " + job->name : " (no job stored)";
        return text;
    }

    bool all_ = false;
};

}  // namespace

std::unique_ptr<CliCommand> MakeInfoCommand() { return std::make_unique<InfoCommand>(); }

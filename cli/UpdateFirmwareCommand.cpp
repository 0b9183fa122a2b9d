#include "cli/CliCommand.h"
#include "cli/DeviceSession.h"
#include "link/VersionText.h"
#include "cli/ExitCodes.h"
#include "cli/Terminal.h"
#include "link/HidReport.h"
#include "job/IdentifyProgrammer.h"
#include "update/FirmwareForm.h"
#include "update/ProgrammerFirmware.h"
#include "update/UpdateProgrammerFirmware.h"

namespace {

class UpdateFirmwareCommand final : public CliCommand {
public:
    CLI::App* Register(CLI::App& app) override {
        CLI::App* command = app.add_subcommand(
            "update-firmware",
            "Install the programmer firmware this tool carries (" +
                FirmwareVersionText(ProgrammerFirmwareVersionWord()) +
                (ProgrammerFirmwareIsPlaceholder() ? ", a placeholder only the simulated "
                                                     "programmer takes"
                                                   : "") +
                "), or the one in --file, into the programmer (newer kind only)");
        command
            ->add_option("--file", file_,
                         "Install this programmer firmware image (raw, linked for 0x08004000) "
                         "instead of the carried one; it is checked before anything is sent")
            ->type_name("FW.bin");
        command->add_flag("--yes", yes_,
                          "Answer yes when asked whether to install a version that is already "
                          "installed. Without it, and without a terminal to ask on, such an "
                          "update is refused");
        return command;
    }

    void Execute(Environment& environment) override {
        ConsoleOutput& output = environment.Output();
        // A file is judged before the programmer is even opened.
        std::vector<std::uint8_t> chosen;
        ProgrammerFirmware firmware = CarriedProgrammerFirmware();
        if (!file_.empty()) {
            const FirmwareCheck check = ReadProgrammerFirmwareFile(PathFromArgument(file_), chosen);
            if (!check.ok()) throw CliFailure(ExitCode::FileRefused, check.problem);
            firmware = ProgrammerFirmware{chosen, false};
        }
        ImageWorkspace workspace;
        ConsolePort port(output, workspace);
        port.SetEchoDescriptions(false);
        port.SetAssumeYes(yes_);
        DeviceSession session(environment, port);
        session.Identify();

        const ProgrammerLink& link = session.Link();
        const std::uint32_t version = link.programmerVersion();
        if (!IsNewerKind(version)) {
            throw CliFailure(ExitCode::NotSupported,
                             "This programmer (" + ProgrammerVersionText(version) +
                                 ") is of the older kind and takes no firmware update.");
        }
        output.LineField("installedFirmwareVersion", link.firmwareVersion(),
                         FirmwareVersionText(link.firmwareVersion()));

        const WorkerOutcome outcome = UpdateProgrammerFirmware(port, firmware);
        if (outcome.kind == OutcomeKind::Declined && port.QuestionRefused()) {
            output.Outcome(outcome);
            throw CliFailure(ExitCode::Declined,
                             "Not updated: the installed firmware is already this version or "
                             "newer, and without a terminal the question cannot be asked.",
                             "Give --yes to update anyway.");
        }
        ThrowIfFailed(output, outcome);
    }

private:
    std::string file_;
    bool yes_ = false;
};

}  // namespace

std::unique_ptr<CliCommand> MakeUpdateFirmwareCommand() {
    return std::make_unique<UpdateFirmwareCommand>();
}

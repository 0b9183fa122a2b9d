#include "cli/CliCommand.h"
#include "cli/DeviceSession.h"
#include "link/VersionText.h"
#include "common/TextFormat.h"

namespace {

class InfoCommand final : public CliCommand {
public:
    CLI::App* Register(CLI::App& app) override {
        return app.add_subcommand(
            "info", "Identify the programmer: its version words, its device ID (the code that "
                    "remote job files are addressed to) and the job stored in it");
    }

    void Execute(Environment& environment) override {
        ConsoleOutput& output = environment.Output();
        ImageWorkspace workspace;
        ConsolePort port(output, workspace);
        // The stored job is printed after the version lines, not as it is read.
        port.SetEchoDescriptions(false);
        DeviceSession session(environment, port);
        session.Identify();

        ProgrammerLink& link = session.Link();
        const std::uint32_t version = link.programmerVersion();
        output.JsonField("path", link.DevicePath());
        output.LineField("programmerVersion", version, ProgrammerVersionText(version));
        if (version >= 0x1000) {
            const std::uint32_t firmware = link.firmwareVersion();
            output.LineField("firmwareVersion", firmware, FirmwareVersionText(firmware));
        }
        const std::uint32_t code = link.connectionCode();
        output.JsonField("connectionCode", code);
        output.LineField("deviceId", Format("%08X", code), Format("SN:%08X", code));
        output.Description(port.LastDescription());
    }
};

}  // namespace

std::unique_ptr<CliCommand> MakeInfoCommand() { return std::make_unique<InfoCommand>(); }

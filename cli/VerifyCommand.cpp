#include <optional>

#include "cli/Arguments.h"
#include "cli/CliCommand.h"
#include "cli/DeviceSession.h"
#include "cli/FileArgument.h"
#include "job/StoredJob.h"

namespace {

class VerifyCommand final : public CliCommand {
public:
    CLI::App* Register(CLI::App& app) override {
        CLI::App* command = app.add_subcommand(
            "verify", "Say whether the programmer holds the job of FILE (.hex, .bin, .qvz), "
                      "writing nothing: the stored start address, length and checksum");
        command->add_option("FILE", file_, "The firmware file")->required();
        command->add_option("--address", address_,
                            "Start address of a raw .bin file, hexadecimal (default 08000000)")
            ->type_name("HEX");
        return command;
    }

    void Execute(Environment& environment) override {
        ConsoleOutput& output = environment.Output();
        const std::uint32_t start =
            address_ ? ParseStartAddress(*address_) : kDefaultRawStartAddress;
        ImageWorkspace workspace;
        LoadFileArgument(output, workspace, file_, start);

        ConsolePort port(output, workspace);
        // The comparison says what is stored; the stored job's rows are for 'info'.
        port.SetEchoDescriptions(false);
        DeviceSession session(environment, port);
        session.Identify();
        ThrowIfFailed(output, VerifyJob(port));
    }

private:
    std::string file_;
    std::optional<std::string> address_;
};

}  // namespace

std::unique_ptr<CliCommand> MakeVerifyCommand() { return std::make_unique<VerifyCommand>(); }

#include "cli/CliCommand.h"
#include "cli/ExitCodes.h"
#include "link/ProgrammerLink.h"

namespace {

class ListCommand final : public CliCommand {
public:
    CLI::App* Register(CLI::App& app) override {
        return app.add_subcommand("list", "List every attached programmer with its path");
    }

    void Execute(Environment& environment) override {
        ConsoleOutput& output = environment.Output();
        nlohmann::json found = nlohmann::json::array();
        for (const HidDeviceInfo& info : AttachedProgrammers(environment.Backend())) {
            found.push_back(
                {{"path", info.path}, {"product", info.product}, {"serial", info.serial}});
            std::string line = info.path;
            if (!info.product.empty() || !info.serial.empty()) line += '\t' + info.product;
            if (!info.serial.empty()) line += '\t' + info.serial;
            output.Line(line);
        }
        output.JsonField("programmers", found);
        if (found.empty()) {
            throw CliFailure(ExitCode::NoProgrammer, "No programmer found (USB HID 0484:1001).");
        }
    }
};

}  // namespace

std::unique_ptr<CliCommand> MakeListCommand() { return std::make_unique<ListCommand>(); }

#include "cli/CliCommand.h"
#include "cli/ExitCodes.h"
#include "link/HidReport.h"

namespace {

// Whether an interface is a programmer. Where the platform names the ids only after
// opening, the device is opened to ask; one that cannot be opened is not listed.
bool IsProgrammer(HidBackend& backend, const HidDeviceInfo& info) {
    if (info.idsKnown) {
        return info.vendorId == kProgrammerVendorId && info.productId == kProgrammerProductId;
    }
    HidOpenError error;
    std::unique_ptr<HidDevice> device = backend.Open(info.path, error);
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    return device && device->Attributes(vendorId, productId) && vendorId == kProgrammerVendorId &&
           productId == kProgrammerProductId;
}

class ListCommand final : public CliCommand {
public:
    CLI::App* Register(CLI::App& app) override {
        return app.add_subcommand("list", "List every attached programmer with its path");
    }

    void Execute(Environment& environment) override {
        ConsoleOutput& output = environment.Output();
        HidBackend& backend = environment.Backend();
        nlohmann::json found = nlohmann::json::array();
        for (const HidDeviceInfo& info : backend.Enumerate()) {
            if (!info.active || !IsProgrammer(backend, info)) continue;
            found.push_back({{"path", info.path}, {"product", info.product}});
            output.Line(info.product.empty() ? info.path : info.path + '\t' + info.product);
        }
        output.JsonField("programmers", found);
        if (found.empty()) {
            throw CliFailure(ExitCode::NoProgrammer, "No programmer found (USB HID 0484:1001).");
        }
    }
};

}  // namespace

std::unique_ptr<CliCommand> MakeListCommand() { return std::make_unique<ListCommand>(); }

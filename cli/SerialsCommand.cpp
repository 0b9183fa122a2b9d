#include <string>
#include <vector>

#include "cli/CliCommand.h"
#include "cli/ExitCodes.h"
#include "cli/SerialLeases.h"
#include "common/TextFormat.h"
#include "ledger/LeaseRules.h"
#include "ledger/SerialLedger.h"

namespace {

// A list of the ledger, or the refusal of a ledger that cannot be read.
template <class T>
T Listed(std::optional<T> list, const std::string& error, SerialLedger& ledger) {
    if (!list) throw CliFailure(ExitCode::LedgerFailed, "Cannot read " + ledger.Where(), error);
    return std::move(*list);
}

std::string Number(std::int64_t value) { return std::to_string(value); }

std::string OrderName(std::uint8_t format) { return (format & 4) != 0 ? "high" : "low"; }

// A CSV field: quoted when it holds a comma, a quote or a line end.
std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
    return quoted + '"';
}

class SerialsCommand final : public CliCommand {
public:
    CLI::App* Register(CLI::App& app) override {
        CLI::App* command = app.add_subcommand(
            "serials",
            "What the serial ledger (--ledger, else the default file) holds: "
            "'serials products' lists its products, 'serials report [--product NAME] "
            "[--csv]' every block of serial values leased and each product's totals");
        command->require_subcommand(1);
        report_ = command->add_subcommand(
            "report",
            "Every lease with its state and use, and per product the values handed "
            "out, used, left and void, and the conflicts found");
        report_->add_option("--product", product_, "Only this product")->type_name("NAME");
        report_->add_flag("--csv", csv_, "The leases as CSV, one line each after a header line");
        products_ = command->add_subcommand("products", "The products of the serial ledger");
        return command;
    }

    void Execute(Environment& environment) override {
        ConsoleOutput& output = environment.Output();
        if (csv_ && output.json()) throw CliFailure(ExitCode::Usage, "--csv or --json, not both.");
        SerialLedger& ledger = environment.RequireLedger(!csv_);
        std::string error;
        if (products_->parsed()) {
            const std::vector<SerialProduct> products =
                Listed(ledger.ListProducts(error), error, ledger);
            nlohmann::json listed = nlohmann::json::array();
            for (const SerialProduct& p : products) {
                const int width = (p.shiftFormat & 3) + 1;
                listed.push_back({{"name", p.name},
                                  {"shiftAddress", p.shiftAddress},
                                  {"width", width},
                                  {"order", OrderName(p.shiftFormat)},
                                  {"step", p.shiftStep},
                                  {"firstValue", p.firstValue},
                                  {"lastValue", p.lastValue}});
                output.Line(Format(
                    "product\t%s\taddress 0x%08X\twidth %d\torder %s\tstep %lld\tvalues %lld to "
                    "%lld",
                    p.name.c_str(), p.shiftAddress, width, OrderName(p.shiftFormat).c_str(),
                    static_cast<long long>(p.shiftStep), static_cast<long long>(p.firstValue),
                    static_cast<long long>(p.lastValue)));
            }
            output.JsonField("products", listed);
            return;
        }
        const std::vector<SerialLease> leases =
            Listed(ledger.ListLeases(product_, error), error, ledger);
        const std::vector<ProductTotals> totals =
            Listed(ledger.Totals(product_, error), error, ledger);
        const std::vector<LedgerConflict> conflicts =
            Listed(ledger.ListConflicts(product_, error), error, ledger);
        if (csv_) {
            output.Line(
                "id,product,firstValue,count,state,used,programmedCount,takenAt,station,path,"
                "usbSerial,remoteDeviceId,jobName,imageChecksum,seenAt");
            for (const SerialLease& l : leases) {
                const std::vector<std::string> fields = {Number(l.id),
                                                         l.product,
                                                         Number(l.firstValue),
                                                         Number(l.count),
                                                         NameOf(l.state),
                                                         Number(l.used),
                                                         Number(l.programmedCount),
                                                         Number(l.takenAt),
                                                         l.holder.station,
                                                         l.holder.programmerPath,
                                                         l.holder.usbSerial,
                                                         l.holder.remoteDeviceId,
                                                         l.holder.jobName,
                                                         Format("0x%08x", l.holder.imageChecksum),
                                                         Number(l.seenAt)};
                std::string line;
                for (const std::string& field : fields)
                    line += (line.empty() ? "" : ",") + CsvField(field);
                output.Line(line);
            }
            return;
        }
        nlohmann::json products = nlohmann::json::array();
        for (const ProductTotals& t : totals) {
            products.push_back({{"product", t.product},
                                {"handedOut", t.handedOut},
                                {"used", t.used},
                                {"left", t.left},
                                {"void", t.voided},
                                {"leases", t.leases},
                                {"conflicts", t.conflicts}});
            output.Line(
                Format("product\t%s\thanded out %lld\tused %lld\tleft %lld\tvoid %lld\tleases "
                       "%lld\tconflicts %lld",
                       t.product.c_str(), static_cast<long long>(t.handedOut),
                       static_cast<long long>(t.used), static_cast<long long>(t.left),
                       static_cast<long long>(t.voided), static_cast<long long>(t.leases),
                       static_cast<long long>(t.conflicts)));
        }
        nlohmann::json listed = nlohmann::json::array();
        for (const SerialLease& l : leases) {
            const std::string holder = l.holder.programmerPath.empty()
                                           ? "remote " + l.holder.remoteDeviceId
                                           : l.holder.programmerPath;
            listed.push_back({{"id", l.id},
                              {"product", l.product},
                              {"firstValue", l.firstValue},
                              {"count", l.count},
                              {"state", NameOf(l.state)},
                              {"used", l.used},
                              {"programmedCount", l.programmedCount},
                              {"takenAt", l.takenAt},
                              {"station", l.holder.station},
                              {"path", l.holder.programmerPath},
                              {"usbSerial", l.holder.usbSerial},
                              {"remoteDeviceId", l.holder.remoteDeviceId},
                              {"jobName", l.holder.jobName},
                              {"imageChecksum", l.holder.imageChecksum},
                              {"seenAt", l.seenAt}});
            output.Line(Format("lease\t%lld\t%s\tfirst %lld\tcount %lld\t%s\tused %lld\t%s\t%s\t%s",
                               static_cast<long long>(l.id), l.product.c_str(),
                               static_cast<long long>(l.firstValue),
                               static_cast<long long>(l.count), NameOf(l.state),
                               static_cast<long long>(l.used), l.holder.station.c_str(),
                               holder.c_str(), l.holder.jobName.c_str()));
        }
        nlohmann::json found = nlohmann::json::array();
        for (const LedgerConflict& c : conflicts) {
            found.push_back({{"kind", NameOf(c.kind)},
                             {"product", c.product},
                             {"leaseId", c.leaseId},
                             {"path", c.programmer.path},
                             {"usbSerial", c.programmer.usbSerial},
                             {"shiftStart", c.shiftStart},
                             {"shiftValue", c.shiftValue},
                             {"seenAt", c.seenAt},
                             {"detail", c.detail}});
            output.Line(Format("conflict\t%s\t%s\t%s\t%s", NameOf(c.kind), c.product.c_str(),
                               c.programmer.path.c_str(), c.detail.c_str()));
        }
        output.JsonField("products", products);
        output.JsonField("leases", listed);
        output.JsonField("conflicts", found);
    }

private:
    CLI::App* report_ = nullptr;
    CLI::App* products_ = nullptr;
    std::string product_;
    bool csv_ = false;
};

}  // namespace

std::unique_ptr<CliCommand> MakeSerialsCommand() { return std::make_unique<SerialsCommand>(); }

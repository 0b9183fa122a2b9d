#include "cli/Environment.h"

#include <algorithm>
#include <optional>
#include <system_error>

#include "cli/Arguments.h"
#include "cli/Interruption.h"
#include "cli/PlatformBackend.h"
#include "cli/Terminal.h"
#include "common/PathText.h"
#include "common/TextFormat.h"
#include "common/Translation.h"
#include "link/DevicePaths.h"
#include "link/ProgrammerLink.h"
#include "link/SimulatedBackend.h"
#include "link/SimulatorSetup.h"
#include "ledger/SerialLedger.h"

namespace {

// The default ledger as the help names it.
std::string LedgerPathText() {
    return "$XDG_DATA_HOME/marrowdyne/serials.sqlite (else under ~/.local/share)";
}

}  // namespace

void RegisterGlobalOptions(CLI::App& app, GlobalOptions& options) {
    app.add_option("--device", options.devices,
                   "Use only the programmer at this HID interface path (see 'list'); given "
                   "more than once, 'program' and 'info' work on all of them at once")
        ->type_name("PATH");
    CLI::Option* simulate =
        app.add_option("--simulate,--sim-count", options.simulate,
                       "Use N embedded simulated programmers (version 1002, firmware 0210) "
                       "instead of hardware; N is 1 when not given")
            ->type_name("[N]")
            ->expected(0, 1)
            ->default_str("1")
            ->check(CLI::Range(1, 64));
    app.add_option(
           "--sim-version", options.simVersion,
           "Version word of the simulated programmers, hexadecimal (below 1000: older kind)")
        ->type_name("HEX")
        ->needs(simulate);
    app.add_option("--sim-firmware-version", options.simFirmwareVersion,
                   "Firmware word of the simulated programmers, hexadecimal")
        ->type_name("HEX")
        ->needs(simulate);
    app.add_option("--sim-state", options.simState,
                   "Keep the simulated programmer's memory in FILE between runs (with several, "
                   "a folder holding one file each)")
        ->type_name("FILE|DIR")
        ->needs(simulate);
    app.add_option("--sim-fault", options.simFaults,
                   "Inject a fault: [K:]COMMAND:KIND[@N], KIND one of status, write, read, crc, "
                   "hang, unplug; N counts that command from 1; K aims it at sim:programmer-K "
                   "alone (repeatable)")
        ->type_name("FAULT")
        ->needs(simulate);
    app.add_option("--sim-latency-us", options.simLatencyUs,
                   "Every exchange with a simulated programmer takes U microseconds (1000: "
                   "full-speed USB), and erases and checksums take time by their length")
        ->type_name("U")
        ->check(CLI::Range(0, 1000000))
        ->needs(simulate);
    // For tests of a programmer that never answers: without it a hang takes seconds.
    app.add_option("--sim-timeout-ms", options.simTimeoutMs)
        ->needs(simulate)
        ->check(CLI::Range(1, 600000))
        ->group("");
    // For tests of a programmer that is present but may not be opened.
    app.add_option("--sim-deny-open", options.simDenyOpen)->needs(simulate)->group("");
    app.add_option("--trace", options.trace,
                   "Write every report written ('> ') and read ('< ') to FILE, one line each")
        ->type_name("FILE");
    app.add_option("--log", options.log,
                   "Append one JSON line per programmer and operation to FILE (production log)")
        ->type_name("FILE");
    app.add_option("--ledger", options.ledger,
                   "Serial ledger that leases code-shift values (--product): a SQLite FILE or "
                   "postgresql://...; default " +
                       LedgerPathText())
        ->type_name("FILE|URI");
    app.add_flag("--json", options.json, "Print one JSON object on standard output");
    app.add_option("--lang", options.lang,
                   "Language of the messages: en (English) or original (Russian and Chinese); "
                   "default: English when the locale (LC_ALL, LC_MESSAGES, LANG) is English")
        ->check(CLI::IsMember({"en", "original"}))
        ->type_name("LANG");
}

Environment::Environment(const GlobalOptions& options) : options_(options), output_(options.json) {}

Environment::~Environment() = default;

namespace {

std::uint32_t SimulatorWord(const std::string& text, std::uint32_t fallback, const char* option) {
    if (text.empty()) return fallback;
    const std::optional<std::uint32_t> value = ParseHexDigits(text);
    if (!value) {
        throw CliFailure(
            ExitCode::Usage,
            std::string(option) + " takes 1 to 8 hexadecimal digits, got '" + text + "'");
    }
    return *value;
}

}  // namespace

SimulatorRequest Environment::SimulatorRequestOfOptions() const {
    SimulatorRequest request;
    request.count = static_cast<std::size_t>(options_.simulate);
    if (!options_.simVersion.empty())
        request.programmerVersion = SimulatorWord(options_.simVersion, 0, "--sim-version");
    if (!options_.simFirmwareVersion.empty()) {
        request.firmwareVersion =
            SimulatorWord(options_.simFirmwareVersion, 0, "--sim-firmware-version");
    }
    request.latencyUs = static_cast<std::uint32_t>(std::max(options_.simLatencyUs, 0));
    request.state =
        options_.simState.empty() ? std::filesystem::path() : PathFromArgument(options_.simState);
    for (const std::string& text : options_.simFaults) {
        std::string error;
        const std::optional<AimedFault> aimed = ParseAimedFault(text, request.count, error);
        if (!aimed) throw CliFailure(ExitCode::Usage, "--sim-fault " + text + ": " + error);
        request.faults.push_back(*aimed);
    }
    return request;
}

void Environment::AddSimulatedProgrammers() {
    simulatorRequest_ = SimulatorRequestOfOptions();
    SimulatorSetupError error;
    std::optional<SimulatedShelf> shelf = SetUpSimulator(simulatorRequest_, error);
    if (!shelf) {
        // The state is a programmer: held by another run, it is in use.
        if (error.inUse) throw CliFailure(ExitCode::InUse, Tr(kProgrammerInUseText), error.message);
        throw CliFailure(ExitCode::Usage, error.message);
    }
    for (const std::string& note : shelf->notes) output_.Note(note);
    if (!options_.simDenyOpen.empty()) {
        shelf->backend->DenyOpen(shelf->programmers.front()->config().path, options_.simDenyOpen);
    }
    simulated_ = std::move(*shelf);
}

HidBackend& Environment::Backend() {
    if (filter_) return *filter_;
    if (simulated_.backend) return *simulated_.backend;
    if (platform_) return *platform_;

    HidBackend* backend = nullptr;
    if (options_.simulate > 0) {
        AddSimulatedProgrammers();
        backend = simulated_.backend.get();
    } else {
        platform_ = MakePlatformBackend();
        backend = platform_.get();
    }
    if (!options_.devices.empty()) {
        filter_ = OnlyDevicePaths(*backend, options_.devices);
        backend = filter_.get();
    }
    return *backend;
}

void Environment::ConfigureLink(ProgrammerLink& link) {
    if (options_.simTimeoutMs > 0) {
        // The allowance of erases and checksums per KiB stays: only the answer's own
        // bound is shortened.
        LinkTimeouts timeouts;
        timeouts.answerMs = options_.simTimeoutMs;
        link.SetTimeouts(timeouts);
    }
    link.SetStopFlag(&StopRequested());
    OpenLog();
    if (!options_.trace.empty()) {
        {
            std::lock_guard lock(traceMutex_);
            if (!trace_) {
                auto trace = std::make_unique<OutputFile>();
                std::string error;
                if (!trace->Create(PathFromArgument(options_.trace), error)) {
                    throw CliFailure(ExitCode::Usage, "--trace " + options_.trace + ": " + error);
                }
                trace_ = std::move(trace);
            }
        }
        link.SetTrace([this, path = link.DevicePath()](char direction, const std::uint8_t* bytes,
                                                       std::size_t size) {
            WriteTrace(path, direction, bytes, size);
        });
    }
}

void Environment::OpenLog() {
    if (options_.log.empty() || log_) return;
    auto log = std::make_unique<ProductionLogFile>();
    std::string error;
    if (!log->Open(PathFromArgument(options_.log), error)) {
        throw CliFailure(ExitCode::Usage, "--log " + options_.log + ": " + error);
    }
    log_ = std::move(log);
}

SerialLedger& Environment::RequireLedger(bool named) {
    std::lock_guard lock(ledgerMutex_);
    if (ledger_) return *ledger_;
    const std::string where = options_.ledger.empty() ? DefaultLedgerPath() : options_.ledger;
    if (where.empty()) {
        throw CliFailure(
            ExitCode::LedgerFailed,
            "No serial ledger: neither XDG_DATA_HOME nor HOME is set. Give --ledger FILE.");
    }
    std::string error;
    std::unique_ptr<SerialLedger> ledger = OpenSerialLedger(where, error);
    ledgerTried_ = true;
    if (!ledger) {
        throw CliFailure(ExitCode::LedgerFailed, "The serial ledger " + where + " cannot be used",
                         error);
    }
    ledger_ = std::move(ledger);
    // Named in the output, the default file too: the station's serials are kept there.
    const std::string shown = IsPostgresLocation(where) ? ledger_->Where() : where;
    if (named) output_.Field("ledger", shown, shown);
    return *ledger_;
}

bool Environment::WithLedger(const std::function<void(SerialLedger&)>& use) {
    std::lock_guard lock(ledgerMutex_);
    if (!ledger_ && !ledgerTried_) {
        ledgerTried_ = true;
        std::error_code missing;
        const std::string where = options_.ledger.empty() ? DefaultLedgerPath() : options_.ledger;
        // Without --ledger, only a station that leases serials has a ledger to keep.
        if (!where.empty() && (!options_.ledger.empty() ||
                               std::filesystem::exists(PathFromArgument(where), missing))) {
            std::string error;
            ledger_ = OpenSerialLedger(where, error);
            if (!ledger_) output_.Note("The serial ledger " + where + " cannot be used: " + error);
        }
    }
    if (!ledger_) return false;
    use(*ledger_);
    return true;
}

void Environment::WriteTrace(const std::string& path, char direction, const std::uint8_t* bytes,
                             std::size_t size) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string line;
    line.reserve(path.size() + 3 + size * 3);
    if (tracePaths_) line += path + ' ';
    line += direction;
    for (std::size_t i = 0; i < size; ++i) {
        line += ' ';
        line += kDigits[bytes[i] >> 4];
        line += kDigits[bytes[i] & 0x0F];
    }
    line += '\n';
    std::lock_guard lock(traceMutex_);
    if (!traceError_.empty()) return;  // the trace is lost already
    // Written at once: a run killed while it waits for an answer still leaves what was
    // traced, in the temporary file beside the trace.
    if (!trace_->Write(line.data(), line.size(), traceError_)) trace_->Discard();
}

void Environment::Log(const OperationRecord& record, ExitCode code, std::string_view message,
                      std::string_view detail) {
    if (!log_ || record.path.empty()) return;
    log_->Append(ProductionLogLine(record, code, message, detail), record.path);
}

bool Environment::FinishTrace(std::string& error) {
    if (!trace_) return true;
    if (traceError_.empty() && trace_->Commit(traceError_)) return true;
    trace_->Discard();
    error = "--trace " + options_.trace + ": the trace is lost: " + traceError_;
    return false;
}

bool Environment::FinishLog(std::string& error) {
    const std::string lost = log_ ? log_->Lost() : std::string();
    if (lost.empty()) return true;
    error = "--log " + options_.log + ": " + lost;
    return false;
}

bool Environment::SaveSimulatorState(std::string& error) {
    return !simulated_.backend || ::SaveSimulatorState(simulated_, simulatorRequest_, error);
}
